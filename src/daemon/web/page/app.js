// SPDX-License-Identifier: MIT
// The web remote page: one WebSocket to the daemon, the whole show on connect and
// each change after; every control sends one small JSON command.
'use strict';

const $ = (id) => document.getElementById(id);
const show = { setlist: [], pool: [], index: null, position: null, sections: null, stopAfter: [], stopLocator: [] };
let socket = null;
let retryMs = 500;
let watchdog = null;
// The daemon says "alive" every 2 s: three missed mean it froze or the network went,
// which TCP alone would take minutes to tell.
const SILENCE_MS = 6500;
let dragging = null; // { row, from, pointerId }

// ---- connection ---------------------------------------------------------------

function setLamp(state) {
  const text = { connecting: 'Connecting…', up: 'Live up', down: 'Live down',
    unreachable: 'Daemon unreachable' }[state];
  $('lamp').dataset.state = state;
  $('status').textContent = text;
}

function connect() {
  socket = new WebSocket(`ws://${location.host}/ws`);
  socket.onopen = () => { retryMs = 500; };
  socket.onmessage = (event) => { heard(); receive(JSON.parse(event.data)); };
  socket.onclose = lost;
  heard(); // a connection attempt that hangs counts as silence too
}

function heard() {
  clearTimeout(watchdog);
  watchdog = setTimeout(() => {
    if (!socket) return;
    const silent = socket;
    silent.onclose = null;
    silent.onmessage = null;
    silent.close();
    lost();
  }, SILENCE_MS);
}

function lost() {
  clearTimeout(watchdog);
  setLamp('unreachable');
  socket = null;
  // The daemon may be restarting: keep trying, never reload.
  setTimeout(connect, retryMs);
  retryMs = Math.min(retryMs * 2, 4000);
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

function receive(message) {
  if (message.type === 'pin') { askPin(message.wrong === true); return; }
  if (message.type !== 'state' && message.type !== 'update') return;
  $('pinDialog').hidden = true;
  delete message.type;
  Object.assign(show, message);
  render(message);
}

// ---- PIN, asked once per device --------------------------------------------------

function askPin(wrong) {
  const stored = localStorage.getItem('marquellPin');
  if (stored && !wrong) { send({ type: 'auth', pin: stored }); return; }
  if (wrong) localStorage.removeItem('marquellPin');
  $('pinWrong').hidden = !wrong;
  $('pinDialog').hidden = false;
  $('pinInput').focus();
}

$('pinForm').addEventListener('submit', (event) => {
  event.preventDefault();
  const pin = $('pinInput').value.trim();
  localStorage.setItem('marquellPin', pin);
  send({ type: 'auth', pin });
});

// ---- rendering ------------------------------------------------------------------

function formatTempo(bpm) {
  return bpm === null || bpm === undefined ? '–' : String(Math.round(bpm * 100) / 100);
}

function render(changed) {
  if ('live' in changed) setLamp(show.live === 'up' ? 'up' : 'down');
  if ('tempo' in changed) $('tempo').textContent = formatTempo(show.tempo);
  if ('setTimeLeft' in changed) $('timeLeft').textContent = show.setTimeLeft;
  if ('playing' in changed) {
    $('playing').dataset.playing = String(show.playing);
    $('playing').textContent = show.playing ? '▶ Playing' : 'Stopped';
    $('play').classList.toggle('on', show.playing);
  }
  if ('cueMode' in changed) {
    $('cue1').classList.toggle('on', show.cueMode === 1);
    $('cue2').classList.toggle('on', show.cueMode === 2);
  }
  if (('setlist' in changed) && !dragging) renderSetlist();
  else if ('index' in changed) markCurrent();
  if ('pool' in changed) renderPool();
  if (('stopAfter' in changed || 'stopLocator' in changed) && !dragging) markStops();
  if ('sections' in changed) renderSections();
  if ('position' in changed) takePosition();
  else if ('sections' in changed) markSections();
}

function songRow(song, position) {
  const row = document.createElement('li');
  row.dataset.id = song.id;
  const pos = document.createElement('span');
  pos.className = 'pos';
  pos.textContent = position === null ? '' : String(position + 1);
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = song.name;
  const len = document.createElement('span');
  len.className = 'len';
  len.textContent = song.length;
  row.append(pos, name, len);
  return row;
}

function renderSetlist() {
  const list = $('setlist');
  list.replaceChildren(...show.setlist.map((song, i) => {
    const row = songRow(song, i);
    const handle = document.createElement('span');
    handle.className = 'handle';
    handle.setAttribute('aria-label', 'Drag to reorder');
    handle.textContent = '≡';
    const stop = document.createElement('button');
    stop.className = 'stopafter';
    stop.setAttribute('aria-label', `Stop after ${song.name}`);
    stop.innerHTML = '<svg viewBox="0 0 64 64"><rect x="10" y="10" width="44" height="44" rx="4"/></svg>';
    row.append(stop, handle);
    return row;
  }));
  $('emptySetlist').hidden = show.setlist.length > 0;
  markCurrent();
  markStops();
}

// A song marked "stop after" (or ending at a STOP locator) gets a red line below its row.
function markStops() {
  for (const row of $('setlist').children) {
    const marked = show.stopAfter.includes(row.dataset.id);
    const stop = row.querySelector('.stopafter');
    stop.classList.toggle('on', marked);
    stop.setAttribute('aria-pressed', String(marked));
    if (marked) row.dataset.stop = 'mark';
    else if (show.stopLocator.includes(row.dataset.id)) row.dataset.stop = 'locator';
    else delete row.dataset.stop;
  }
}

function markCurrent() {
  const rows = $('setlist').children;
  for (let i = 0; i < rows.length; i++) {
    const current = i === show.index;
    rows[i].classList.toggle('current', current);
    if (current && !dragging) rows[i].scrollIntoView({ block: 'nearest' });
  }
}

function renderPool() {
  const filter = $('search').value.trim().toLowerCase();
  const songs = show.pool.filter((song) => song.name.toLowerCase().includes(filter));
  $('pool').replaceChildren(...songs.map((song) => {
    const row = songRow(song, null);
    const add = document.createElement('button');
    add.className = 'add';
    add.setAttribute('aria-label', `Add ${song.name}`);
    add.textContent = '+';
    row.append(add);
    return row;
  }));
}

// ---- inside the song ---------------------------------------------------------------
// Live reports the position about ten times a second; in between the page runs its own
// clock, and a report a little behind it (network and timer jitter) never moves the bar
// back: only a change of song or a step back of more than JUMP_MS is a real jump.

const JUMP_MS = 1000;
const TAP_WAIT_MS = 2000; // a tapped section counts as pending until Live shows it, at most this long
let clock = null; // { song, elapsed, length, playing, at, floor }: the position shown
let ticking = false;
let tapped = null; // { song, index, at }: a section tap Live has not shown yet

function shownAt(now) {
  if (!clock) return 0;
  const run = clock.playing ? clock.elapsed + (now - clock.at) : clock.elapsed;
  return Math.min(clock.length, Math.max(clock.floor, run));
}

function takePosition() {
  const p = show.position;
  $('song').hidden = !p; // a Remote Script that never reports keeps today's page
  if (!p) { clock = null; return; }
  const now = performance.now();
  const shown = shownAt(now);
  const jumped = !clock || clock.song !== p.song || p.elapsed < shown - JUMP_MS;
  clock = { song: p.song, elapsed: p.elapsed, length: p.length, playing: p.playing, at: now, floor: jumped ? 0 : shown };
  if (tapped && (tapped.song !== p.song || p.pending === tapped.index || p.section === tapped.index
      || now - tapped.at > TAP_WAIT_MS)) tapped = null;
  $('stopsAfter').hidden = !(p.stopsAfter && p.playing);
  drawPosition();
  markSections();
  if (p.playing && !ticking) { ticking = true; requestAnimationFrame(tick); }
}

function tick() {
  ticking = Boolean(clock && clock.playing);
  if (!ticking) return;
  drawPosition();
  requestAnimationFrame(tick);
}

const clockText = (seconds) => `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;

function setText(id, text) {
  const element = $(id);
  if (element.textContent !== text) element.textContent = text;
}

function drawPosition() {
  const ms = shownAt(performance.now());
  const length = clock.length;
  $('progress').style.transform = `scaleX(${length > 0 ? ms / length : 0})`;
  const none = clock.song === '0';
  setText('songLeft', none ? '–' : clockText(Math.ceil((length - ms) / 1000)));
  setText('songElapsed', none ? '' : `${clockText(Math.floor(ms / 1000))} / ${clockText(Math.round(length / 1000))}`);
}

function renderSections() {
  const sections = show.sections;
  const list = sections && sections.song !== '0' ? sections.list : [];
  $('sections').replaceChildren(...list.map((section, i) => {
    const button = document.createElement('button');
    button.dataset.index = String(i);
    button.textContent = section.name;
    return button;
  }));
  $('sections').hidden = list.length === 0;
}

function markSections() {
  const p = show.position;
  const here = p && show.sections && p.song === show.sections.song;
  [...$('sections').children].forEach((button, i) => {
    button.classList.toggle('playing', Boolean(here && p.section === i));
    const pending = here && (p.pending === i || (tapped !== null && tapped.index === i));
    button.classList.toggle('pending', Boolean(pending));
  });
}

// ---- commands -------------------------------------------------------------------

for (const command of ['prev', 'play', 'stop', 'next']) {
  // Pressing, not releasing, is the moment on stage.
  $(command).addEventListener('pointerdown', (event) => {
    event.preventDefault();
    send({ type: 'transport', command: command === 'prev' ? 'previous' : command });
  });
}

for (const id of ['cue1', 'cue2']) {
  $(id).addEventListener('click', () => send({ type: 'cueMode', mode: Number($(id).dataset.mode) }));
}

$('sections').addEventListener('click', (event) => {
  const button = event.target.closest('button');
  if (!button || !show.sections) return;
  const index = Number(button.dataset.index);
  tapped = { song: show.sections.song, index, at: performance.now() };
  send({ type: 'section', song: show.sections.song, index });
  markSections();
});

$('setlist').addEventListener('click', (event) => {
  const row = event.target.closest('li');
  if (!row || event.target.closest('.handle')) return;
  if (event.target.closest('.stopafter')) {
    send({ type: 'stopAfter', song: row.dataset.id, on: !show.stopAfter.includes(row.dataset.id) });
    return;
  }
  send({ type: 'select', index: Array.prototype.indexOf.call(row.parentNode.children, row) });
});

$('pool').addEventListener('click', (event) => {
  const add = event.target.closest('.add');
  if (!add) return;
  const ids = show.setlist.map((song) => song.id);
  ids.push(add.closest('li').dataset.id);
  send({ type: 'setlist', ids });
});

$('search').addEventListener('input', renderPool);
$('openPool').addEventListener('click', () => {
  document.body.classList.add('pool-open');
  $('search').focus();
});
$('closePool').addEventListener('click', () => document.body.classList.remove('pool-open'));

// ---- reordering by dragging the handle (touch and mouse alike) -------------------

$('setlist').addEventListener('pointerdown', (event) => {
  const handle = event.target.closest('.handle');
  if (!handle || dragging) return;
  event.preventDefault();
  const row = handle.closest('li');
  handle.setPointerCapture(event.pointerId);
  dragging = { row, from: Array.prototype.indexOf.call(row.parentNode.children, row), pointerId: event.pointerId };
  row.classList.add('dragging');
});

$('setlist').addEventListener('pointermove', (event) => {
  if (!dragging || event.pointerId !== dragging.pointerId) return;
  const list = $('setlist');
  const others = [...list.children].filter((row) => row !== dragging.row);
  // The row goes before the first other row whose middle lies below the pointer.
  const before = others.find((row) => {
    const box = row.getBoundingClientRect();
    return event.clientY < box.top + box.height / 2;
  });
  if (before !== dragging.row.nextSibling) list.insertBefore(dragging.row, before || null);
  const box = list.getBoundingClientRect();
  if (event.clientY < box.top + 40) list.scrollTop -= 12;
  else if (event.clientY > box.bottom - 40) list.scrollTop += 12;
});

function endDrag(event) {
  if (!dragging || event.pointerId !== dragging.pointerId) return;
  const { row, from } = dragging;
  row.classList.remove('dragging');
  dragging = null;
  const rows = [...$('setlist').children];
  if (rows.indexOf(row) !== from) send({ type: 'setlist', ids: rows.map((r) => r.dataset.id) });
  renderSetlist(); // back to Live's order until Live answers
}
$('setlist').addEventListener('pointerup', endDrag);
$('setlist').addEventListener('pointercancel', endDrag);

connect();

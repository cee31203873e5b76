// SPDX-License-Identifier: MIT
// The web remote in Debian's Chromium against the real daemon and the Live
// simulator playing the demo set.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { demoSet, launchBrowser, liveSetlist, removeHome, startDaemon, startSimulator, stop, tempHome, waitFor }
  from './harness.mjs';

const env = tempHome();
let sim, daemon, browser, page;

// The demo set's songs: its locators in time order, without END, STOP and sections ('>').
const demoSongs = JSON.parse(readFileSync(demoSet)).locators
  .filter((l) => !['END', 'STOP'].includes(l.name.toUpperCase()) && !l.name.startsWith('>'))
  .sort((a, b) => a.beats - b.beats).map((l) => l.name);

const rowNames = () => page.locator('#setlist li .name').allTextContents();
const currentRow = () => page.evaluate(() => [...document.querySelectorAll('#setlist li')]
  .findIndex((row) => row.classList.contains('current')));
const simPosition = () => Number((/position (\d+) of/.exec(
  sim.lines.filter((l) => l.startsWith('status: ')).pop()) || [])[1]) - 1;

const seconds = (text) => text.split(':').reduce((total, piece) => total * 60 + Number(piece), 0);
before(async () => {
  sim = startSimulator(env);
  await waitFor(() => sim.lines.some((l) => l.startsWith('livesim: ')), 'the simulator');
  daemon = await startDaemon(env);
  browser = await launchBrowser();
  const phone = await browser.newContext({ viewport: { width: 360, height: 740 }, hasTouch: true, isMobile: true });
  page = await phone.newPage();
  await page.goto(`http://127.0.0.1:${daemon.port}/`);
});

after(async () => {
  await browser?.close();
  await Promise.all([stop(daemon), stop(sim)]).then(() => removeHome(env));
});

test('shows the demo setlist and the time left from the current song', async () => {
  await page.locator('#lamp[data-state="up"]').waitFor();
  await waitFor(async () => (await rowNames()).length === demoSongs.length, 'the setlist');
  assert.deepEqual(await rowNames(), demoSongs);
  const lengths = await page.locator('#setlist li .len').allTextContents();
  const from = Math.max(0, await currentRow());
  const expected = lengths.slice(from).reduce((total, length) => total + seconds(length), 0);
  assert.equal(seconds(await page.locator('#timeLeft').textContent()), expected);
  assert.ok(expected > 0);
});

test('tapping next moves Live and the page follows', async () => {
  const before = await waitFor(() => simPosition() >= 0 && simPosition() + 1, 'a position') - 1;
  await page.tap('#next');
  await waitFor(() => simPosition() === before + 1, 'the simulator to move');
  await waitFor(async () => (await currentRow()) === before + 1, 'the page to follow');
});

test('dragging a song reorders Live\'s setlist', async () => {
  const handle = (row) => page.locator('#setlist li').nth(row).locator('.handle');
  const from = await handle(2).boundingBox();
  const to = await handle(0).boundingBox();
  await page.mouse.move(from.x + from.width / 2, from.y + from.height / 2);
  await page.mouse.down();
  await page.mouse.move(to.x + to.width / 2, to.y + 4, { steps: 8 });
  await page.mouse.up();
  const expected = [demoSongs[2], demoSongs[0], demoSongs[1], ...demoSongs.slice(3)];
  await waitFor(async () => JSON.stringify(await liveSetlist(env.HOME)) === JSON.stringify(expected), 'Live\'s setlist');
  await waitFor(async () => JSON.stringify(await rowNames()) === JSON.stringify(expected), 'the page');
});

test('Live going away shows "Live down"; its return recovers without a reload', async () => {
  await page.evaluate(() => { window.sameDocument = true; });
  await stop(sim);
  await page.locator('#lamp[data-state="down"]').waitFor();
  assert.equal(await page.locator('#status').textContent(), 'Live down');
  sim = startSimulator(env);
  await page.locator('#lamp[data-state="up"]').waitFor({ timeout: 15000 });
  assert.equal(await page.locator('#status').textContent(), 'Live up');
  assert.equal(await page.evaluate(() => window.sameDocument), true);
  await waitFor(async () => (await rowNames()).length > 0, 'the setlist again');
});

// A browser's or phone's list of local web pages finds the daemon's page by DNS-SD.
test('the page is advertised as a web service', { skip: process.env.MARQUELL_AVAHI !== '1' && 'no private Avahi' },
  async () => {
    const browsed = () => execFileSync('avahi-browse', ['-rpt', '_http._tcp'], { encoding: 'utf8', timeout: 10000 })
      .split('\n').map((line) => line.split(';')).filter((f) => f[0] === '=' && f.length >= 10);
    const found = await waitFor(() => browsed().find((f) => Number(f[8]) === daemon.port), 'the advertisement', 15000);
    assert.equal(found[3], 'Marquell');
  });

// The README's picture: a phone mid-show (MARQUELL_WEB_SCREENSHOT names the file).
test('playing in Live shows on the phone', async () => {
  sim.stdin.write('play\n');
  await page.locator('#playing[data-playing="true"]').waitFor();
  assert.equal(await page.locator('#playing').textContent(), '▶ Playing');
  const path = process.env.MARQUELL_WEB_SCREENSHOT || join(env.HOME, 'phone.png');
  const png = await page.screenshot({ path });
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [360, 740]);
});

test('a new page says "Connecting…" until its first attempt has failed', async () => {
  const fresh = await browser.newPage();
  let held = null; // the page's first WebSocket, neither answered nor refused
  await fresh.routeWebSocket(/\/ws$/, (ws) => { held = ws; });
  await fresh.goto(`http://127.0.0.1:${daemon.port}/`);
  await waitFor(() => held, 'the first attempt');
  assert.equal(await fresh.locator('#status').textContent(), 'Connecting…');
  assert.equal(await fresh.locator('#lamp').getAttribute('data-state'), 'connecting');
  await held.close();
  await fresh.locator('#lamp[data-state="unreachable"]').waitFor();
  assert.equal(await fresh.locator('#status').textContent(), 'Daemon unreachable');
  await fresh.close();
});

test('a frozen daemon shows "Daemon unreachable"; the page recovers when it runs again', async () => {
  await page.evaluate(() => {
    window.sameDocument = true;
    window.lampChanges = [];
    new MutationObserver(() => window.lampChanges.push(document.getElementById('lamp').dataset.state))
      .observe(document.getElementById('lamp'), { attributes: true });
  });
  // Longer than the page's silence limit: the daemon's heartbeat alone keeps the lamp up.
  await new Promise((resolve) => setTimeout(resolve, 8000));
  assert.deepEqual(await page.evaluate(() => window.lampChanges), []);
  process.kill(daemon.pid, 'SIGSTOP');
  try {
    await page.locator('#lamp[data-state="unreachable"]').waitFor({ timeout: 12000 });
  } finally {
    process.kill(daemon.pid, 'SIGCONT');
  }
  await page.locator('#lamp[data-state="up"]').waitFor({ timeout: 15000 });
  assert.equal(await page.evaluate(() => window.sameDocument), true);
});

test('the daemon going away shows "Daemon unreachable"', async () => {
  await stop(daemon);
  await page.locator('#lamp[data-state="unreachable"]').waitFor();
  assert.equal(await page.locator('#status').textContent(), 'Daemon unreachable');
});

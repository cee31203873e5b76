// SPDX-License-Identifier: MIT
// Inside the song on the web remote, in Debian's Chromium: the real daemon against a
// scripted Live server, so every byte the page makes the daemon send can be checked.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { frame, launchBrowser, publishLivePort, removeHome, scriptedLive, startDaemon, stop, tempHome, waitFor }
  from './harness.mjs';

const env = tempHome();
let live, daemon, browser, page;

const u32 = (value) => { const out = Buffer.alloc(4); out.writeUInt32BE(value); return out; };
const u64 = (value) => { const out = Buffer.alloc(8); out.writeBigUInt64BE(BigInt(value)); return out; };
const text = (s) => Buffer.concat([Buffer.from([Buffer.byteLength(s)]), Buffer.from(s)]);
const songs = Buffer.concat([u64(1), text('Intro'), text('3:05'), u64(2), text('Outro'), text('4:00')]);
const sections = Buffer.concat([Buffer.from([11]), u64(1), Buffer.from([2]),
  u32(0), u32(30000), text('Verse'), u32(30000), u32(20000), text('Chorus')]);
const marks = (entries) => Buffer.from([12, 0, entries.length, ...entries]);
// Intro (3:05) at elapsed ms; state bit 0 playing, bit 1 stops after it, bit 2 a jump pending.
const position = (elapsed, { section = 0, state = 1, pending = 255 } = {}) =>
  Buffer.concat([Buffer.from([10]), u64(1), u32(elapsed), u32(185000), Buffer.from([section, state, pending])]);
const tell = (...payloads) => live.write(Buffer.concat(payloads.map(frame)));

// Exactly these bytes (hex) reached Live since the last check, nothing else.
async function liveGot(hex) {
  await waitFor(() => live.received.length * 2 >= hex.length, `${hex} at Live`);
  const got = live.received.toString('hex');
  live.received = Buffer.alloc(0);
  assert.equal(got, hex);
}

// The position the bar shows, in ms of Intro.
const shown = () => page.evaluate(() =>
  Number(/scaleX\(([^)]+)\)/.exec(document.getElementById('progress').style.transform)[1]) * 185000);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

before(async () => {
  live = await scriptedLive();
  publishLivePort(env, live.port);
  daemon = await startDaemon(env);
  browser = await launchBrowser();
  const phone = await browser.newContext({ viewport: { width: 360, height: 740 }, hasTouch: true, isMobile: true });
  page = await phone.newPage();
  await page.goto(`http://127.0.0.1:${daemon.port}/`);
  await liveGot(Buffer.from('MARQUELL_CLIENT').toString('hex') + '0a01'); // the daemon subscribes
  tell(Buffer.concat([Buffer.from([3]), songs, Buffer.from([4]), songs]), Buffer.from([5, 0]), sections,
    marks([0, 0]), position(10000));
  await page.locator('#sections button').nth(1).waitFor();
});

after(async () => {
  await browser?.close();
  await stop(daemon);
  live?.server.close();
  removeHome(env);
});

test('the song\'s position runs on between reports and steps back only on a jump', async () => {
  const first = await shown();
  await sleep(500);
  assert.ok(await shown() >= first + 300, 'the bar runs while Live plays');
  const moves = [
    // [what Live reports, from the position shown, and how the shown position must be after it]
    ['a report a little behind', (at) => position(at - 400), (was, now) => now >= was],
    ['a jump back', () => position(2000), (was, now) => now < 3000],
    ['a jump forward', () => position(120000), (was, now) => now >= 120000],
  ];
  for (const [what, report, holds] of moves) {
    const was = await shown();
    tell(report(was));
    await sleep(100);
    const now = await shown();
    assert.ok(holds(was, now), `${what}: ${was} -> ${now}`);
  }
  tell(position(65000, { state: 0 })); // stopped: exactly what Live says
  await waitFor(async () => await page.locator('#songLeft').textContent() === '2:00', 'the time left in the song');
  assert.equal(await page.locator('#songElapsed').textContent(), '1:05 / 3:05');
});

test('a section tap jumps in the playing song; the button is pending until the jump lands', async () => {
  const button = (i) => page.locator('#sections button').nth(i);
  assert.deepEqual(await page.locator('#sections button').allTextContents(), ['Verse', 'Chorus']);
  await button(1).tap();
  await liveGot('0b' + u64(1).toString('hex') + '01');
  const states = async () => [await button(0).getAttribute('class'), await button(1).getAttribute('class')];
  const steps = [
    // [what Live reports, the two buttons' classes]
    [position(70000, { state: 5, pending: 1 }), ['playing', 'pending']],
    [position(30000, { section: 1 }), ['', 'playing']],
  ];
  assert.deepEqual(await states(), ['playing', 'pending']); // before Live said anything
  for (const [report, classes] of steps) {
    tell(report);
    await waitFor(async () => JSON.stringify(await states()) === JSON.stringify(classes), classes.join(' '));
  }
});

test('"stop after" toggles on the row, round trip through Live', async () => {
  const toggle = page.locator('#setlist li').nth(1).locator('.stopafter');
  const toggles = [
    // [Live's marks after the tap, the bytes the tap sends, the row marked]
    [[0, 1], '0c' + u64(2).toString('hex') + '01', 'mark'],
    [[0, 0], '0c' + u64(2).toString('hex') + '00', null],
  ];
  for (const [after, bytes, stop] of toggles) {
    await toggle.tap();
    await liveGot(bytes); // and no "select" of the row the toggle sits on
    tell(marks(after));
    await waitFor(async () => await page.locator('#setlist li').nth(1).getAttribute('data-stop') === stop, 'the mark');
    assert.equal(await toggle.getAttribute('aria-pressed'), String(stop !== null));
  }
  for (const [state, visible] of [[3, true], [1, false]]) {
    tell(position(40000, { section: 1, state }));
    await page.locator('#stopsAfter').waitFor({ state: visible ? 'visible' : 'hidden' });
  }
});

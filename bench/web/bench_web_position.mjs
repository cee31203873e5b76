// SPDX-License-Identifier: MIT
// The song position from Live to one web remote page, in Debian's Chromium against
// the real daemon and a scripted Live server on loopback (all started and ended here).
//
//   node bench/web/bench_web_position.mjs [reports, default 1000] [ms between them, default 20]
//
// Each report is a type 10 frame of a playing song one second further on than the
// last: a jump ahead of the page's own clock, so the page's "time left in song" text
// changes to a value only that report gives while the page's clock runs as on stage.
// The latency is from the write to the text's change (a MutationObserver's time stamp).
// Both sides read the system clock (Date.now(), 1 ms steps); figures are whole ms.
import { availableParallelism, loadavg } from 'node:os';
import { frame, launchBrowser, publishLivePort, removeHome, scriptedLive, startDaemon, stop, tempHome, waitFor }
  from '../../tests/web/harness.mjs';

const reports = Number(process.argv[2] || 1000);
const spacing = Number(process.argv[3] || 20);
const lengthMs = (reports + 10) * 1000;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function positionFrame(elapsedMs) {
  const payload = Buffer.alloc(20);
  payload[0] = 10;
  payload.writeBigUInt64BE(1n, 1);
  payload.writeUInt32BE(elapsedMs, 9);
  payload.writeUInt32BE(lengthMs, 13);
  payload[17] = 255; // no section
  payload[18] = 1; // playing
  payload[19] = 255; // no pending jump
  return frame(payload);
}

const clockText = (seconds) => `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
const percentile = (sorted, p) => sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];

const env = tempHome();
const live = await scriptedLive();
publishLivePort(env, live.port);
const daemon = await startDaemon(env);
await waitFor(live.ready, 'the daemon to validate Live');
const browser = await launchBrowser();
try {
  console.log(`web remote position benchmark: ${reports} reports ${spacing} ms apart, one page, loopback,`
    + ` Debian Chromium headless, load average ${loadavg()[0].toFixed(1)} on ${availableParallelism()} cores`);
  const page = await (await browser.newContext({ viewport: { width: 360, height: 740 } })).newPage();
  await page.goto(`http://127.0.0.1:${daemon.port}/`);
  await page.locator('#lamp[data-state="up"]').waitFor();
  live.write(positionFrame(0));
  await page.locator('#song').waitFor();
  await page.evaluate(() => {
    window.seen = [];
    const left = document.getElementById('songLeft');
    new MutationObserver(() => window.seen.push([Date.now(), left.textContent]))
      .observe(left, { childList: true, characterData: true, subtree: true });
  });
  const sentAt = new Map();
  for (let i = 1; i <= reports; i++) {
    sentAt.set(clockText((lengthMs - i * 1000) / 1000), Date.now());
    live.write(positionFrame(i * 1000));
    await sleep(spacing);
  }
  const last = clockText((lengthMs - reports * 1000) / 1000);
  await waitFor(async () => await page.locator('#songLeft').textContent() === last, 'the last report', 30000);
  const seen = new Map((await page.evaluate(() => window.seen)).map(([at, text]) => [text, at]));
  const latencies = [];
  let missed = 0;
  for (const [text, sent] of sentAt) {
    if (seen.has(text)) latencies.push(seen.get(text) - sent);
    else missed++;
  }
  latencies.sort((a, b) => a - b);
  const [p50, p99] = [percentile(latencies, 50), percentile(latencies, 99)];
  console.log(`position -> page: ${latencies.length} reports, ${missed} missed | p50 ${p50} ms | p99 ${p99} ms`
    + ` | max ${latencies[latencies.length - 1]} ms`);
  console.log(`BENCH web_position_page_1_p50 ${p50} ms - -`);
  console.log(`BENCH web_position_page_1_p99 ${p99} ms - <=30`);
  console.log(`BENCH web_position_page_1_missed ${missed} reports - =0`);
} finally {
  await browser.close();
  await stop(daemon);
  live.server.close();
  removeHome(env);
}

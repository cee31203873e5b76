// SPDX-License-Identifier: MIT
// The web remote's latency and idle cost, in Debian's Chromium against the real
// daemon and a scripted Live server on loopback (all started and ended here).
//
//   node bench/web/bench_web.mjs [changes, default 1000] [idle seconds, default 30]
//
// Latency: a tempo frame written by the scripted server -> the tempo element's text
// changed in the page (a MutationObserver's time stamp), for 1 and for 20 pages.
// Both sides read the system clock (Date.now(), 1 ms steps), so no clock alignment
// is needed; figures are whole milliseconds.
import { mkdirSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { availableParallelism, loadavg } from 'node:os';
import { join } from 'node:path';
import net from 'node:net';
import { launchBrowser, removeHome, startDaemon, stop, tempHome, waitFor } from '../../tests/web/harness.mjs';

const changes = Number(process.argv[2] || 1000);
const idleSeconds = Number(process.argv[3] || 30);
const now = () => Date.now();
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function frame(bytes) {
  const out = Buffer.alloc(4 + bytes.length);
  out.writeUInt32BE(bytes.length, 0);
  Buffer.from(bytes).copy(out, 4);
  return out;
}

function tempoFrame(hundredths) {
  const payload = Buffer.alloc(5);
  payload[0] = 8;
  payload.writeUInt32BE(hundredths, 1);
  return frame(payload);
}

// A Live link server that validates the daemon and then writes what it is told.
function scriptedLive() {
  let client = null;
  const server = net.createServer((socket) => {
    socket.setNoDelay(true);
    socket.write(frame(Buffer.from('MARQUELL_SERVER')));
    socket.once('data', () => { client = socket; });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    server, port: server.address().port, ready: () => client !== null, write: (bytes) => client.write(bytes),
  })));
}

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
}

async function openPages(browser, port, count) {
  const pages = [];
  for (let i = 0; i < count; i++) {
    const page = await (await browser.newContext({ viewport: { width: 360, height: 740 } })).newPage();
    await page.goto(`http://127.0.0.1:${port}/`);
    await page.locator('#lamp[data-state="up"]').waitFor();
    await page.evaluate(() => {
      window.seen = [];
      new MutationObserver(() => {
        window.seen.push([Date.now(), document.getElementById('tempo').textContent]);
      }).observe(document.getElementById('tempo'), { childList: true, characterData: true, subtree: true });
    });
    pages.push(page);
  }
  return pages;
}

async function measure(live, pages, base, spacingMs) {
  const sentAt = new Map();
  for (let i = 0; i < changes; i++) {
    const hundredths = base + i;
    sentAt.set(String(Math.round(hundredths) / 100), now());
    live.write(tempoFrame(hundredths));
    await sleep(spacingMs);
  }
  const last = String((base + changes - 1) / 100);
  const latencies = [];
  let missing = 0;
  for (const page of pages) {
    await waitFor(async () => (await page.evaluate(() => document.getElementById('tempo').textContent)) === last,
      'the last change', 30000);
    const seen = new Map((await page.evaluate(() => window.seen)).map(([t, text]) => [text, t]));
    for (const [text, sent] of sentAt) {
      if (seen.has(text)) latencies.push(seen.get(text) - sent);
      else missing++;
    }
  }
  latencies.sort((a, b) => a - b);
  return { latencies, missing };
}

function report(label, { latencies, missing }, extra) {
  const f = (ms) => String(ms).padStart(5);
  console.log(`${label}: ${latencies.length} updates, ${missing} missed | p50 ${f(percentile(latencies, 50))} ms`
    + ` | p99 ${f(percentile(latencies, 99))} ms | max ${f(latencies[latencies.length - 1])} ms | ${extra}`);
}

// Run time of every thread of the process, in seconds.
function cpuSeconds(pid) {
  return readdirSync(`/proc/${pid}/task`).reduce((total, task) =>
    total + Number(readFileSync(`/proc/${pid}/task/${task}/schedstat`, 'utf8').split(' ')[0]) / 1e9, 0);
}

const env = tempHome();
const live = await scriptedLive();
const support = join(env.HOME, 'Library/Application Support/Marquell');
mkdirSync(support, { recursive: true });
writeFileSync(join(support, 'server.json'), JSON.stringify({ port: live.port }));
const daemon = await startDaemon(env);
await waitFor(live.ready, 'the daemon to validate Live');
const browser = await launchBrowser();
try {
  console.log(`web remote benchmark: ${changes} tempo changes per run, loopback, Debian Chromium headless,`
    + ` load average ${loadavg()[0].toFixed(1)} on ${availableParallelism()} cores`);
  const one = await openPages(browser, daemon.port, 1);
  let cpu = cpuSeconds(daemon.pid);
  const daemonCpu = () => { const used = cpuSeconds(daemon.pid) - cpu; cpu += used; return `daemon CPU ${used.toFixed(2)} s`; };
  report(' 1 browser ', await measure(live, one, 6000, 10), daemonCpu());
  const more = [...one, ...await openPages(browser, daemon.port, 19)];
  report('20 browsers', await measure(live, more, 16000, 25), daemonCpu());

  await sleep(2000); // let the pages settle
  const before = cpuSeconds(daemon.pid);
  const started = now();
  await sleep(idleSeconds * 1000);
  const used = cpuSeconds(daemon.pid) - before;
  const percent = (100 * used) / ((now() - started) / 1000);
  console.log(`daemon CPU, 20 idle browsers, ${idleSeconds} s: ${percent.toFixed(3)} % of one core`
    + ` (${cpuSeconds(daemon.pid).toFixed(2)} s in all since it started)`);
} finally {
  await browser.close();
  await stop(daemon);
  live.server.close();
  removeHome(env);
}

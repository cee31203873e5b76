// SPDX-License-Identifier: MIT
// The web remote's latency and idle cost, in Debian's Chromium against the real
// daemon and a scripted Live server on loopback (all started and ended here).
//
//   node bench/web/bench_web.mjs [changes, default 1000] [idle seconds, default 30]
//                                [ms between changes with 20 pages, default 100]
//
// Latency: a tempo frame written by the scripted server -> the tempo element's text
// changed in the page (a MutationObserver's time stamp), for 1 and for 20 pages.
// Twenty headless renderers share this machine's cores, which twenty phones would
// not, so the daemon's own share is measured too: the same frame -> the update
// read by each of 20 bare WebSocket clients. That fan-out and the daemon's idle CPU
// are the targets; twenty pages' DOM latency is information. The daemon runs without
// a MIDI system (no JACK server under the name it is given), so its idle cost is the
// web remote's own. Both sides read the system clock (Date.now(), 1 ms steps), so no
// clock alignment is needed; figures are whole ms.
import { readdirSync, readFileSync } from 'node:fs';
import { availableParallelism, loadavg } from 'node:os';
import net from 'node:net';
import { frame, launchBrowser, publishLivePort, removeHome, scriptedLive, startDaemon, stop, tempHome, waitFor }
  from '../../tests/web/harness.mjs';

const changes = Number(process.argv[2] || 1000);
const idleSeconds = Number(process.argv[3] || 30);
const spacing20 = Number(process.argv[4] || 100);
const now = () => Date.now();
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function tempoFrame(hundredths) {
  const payload = Buffer.alloc(5);
  payload[0] = 8;
  payload.writeUInt32BE(hundredths, 1);
  return frame(payload);
}

// A bare WebSocket client (the page's origin, text frames only) that stamps each
// tempo it reads; the daemon's frames to a client are never masked.
function wireClient(port) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1');
    const seen = [];
    let buffer = Buffer.alloc(0);
    let open = false;
    socket.setNoDelay(true);
    socket.on('error', reject);
    socket.on('connect', () => socket.write(`GET /ws HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\n`
      + `Origin: http://127.0.0.1:${port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n`
      + 'Sec-WebSocket-Key: bWFycXVlbGwtYmVuY2gtMQ==\r\nSec-WebSocket-Version: 13\r\n\r\n'));
    socket.on('data', (chunk) => {
      const at = now();
      buffer = Buffer.concat([buffer, chunk]);
      if (!open) {
        const end = buffer.indexOf('\r\n\r\n');
        if (end < 0) return;
        open = true;
        buffer = buffer.subarray(end + 4);
        resolve({ socket, seen });
      }
      for (;;) {
        if (buffer.length < 2) return;
        const opcode = buffer[0] & 0x0f;
        let length = buffer[1] & 0x7f;
        let start = 2;
        if (length === 126) { if (buffer.length < 4) return; length = buffer.readUInt16BE(2); start = 4; }
        else if (length === 127) { if (buffer.length < 10) return; length = Number(buffer.readBigUInt64BE(2)); start = 10; }
        if (buffer.length < start + length) return;
        const text = buffer.subarray(start, start + length).toString();
        buffer = buffer.subarray(start + length);
        if (opcode !== 1) continue;
        const tempo = JSON.parse(text).tempo;
        if (tempo !== undefined && tempo !== null) seen.push([at, String(tempo)]);
      }
    });
  });
}

// Share of the machine's time spent busy, from /proc/stat, between two calls.
function busyMeter() {
  const read = () => readFileSync('/proc/stat', 'utf8').split('\n')[0].split(/\s+/).slice(1).map(Number);
  let last = read();
  return () => {
    const current = read();
    const delta = current.map((v, i) => v - last[i]);
    last = current;
    const total = delta.reduce((a, b) => a + b, 0);
    return total ? (100 * (total - delta[3] - delta[4])) / total : 0;
  };
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

// What a page has seen, in the same shape as a wire client's record.
const pageObserver = (page) => ({
  last: () => page.evaluate(() => document.getElementById('tempo').textContent),
  seen: () => page.evaluate(() => window.seen),
});
const wireObserver = (client) => ({
  last: async () => (client.seen.length ? client.seen[client.seen.length - 1][1] : null),
  seen: async () => client.seen,
});

async function measure(live, observers, base, spacingMs) {
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
  for (const observer of observers) {
    await waitFor(async () => (await observer.last()) === last, 'the last change', 30000);
    const seen = new Map((await observer.seen()).map(([t, text]) => [text, t]));
    for (const [text, sent] of sentAt) {
      if (seen.has(text)) latencies.push(seen.get(text) - sent);
      else missing++;
    }
  }
  latencies.sort((a, b) => a - b);
  return { latencies, missing };
}

function report(label, key, target, { latencies, missing }, extra) {
  const f = (ms) => String(ms).padStart(5);
  const p50 = percentile(latencies, 50);
  const p99 = percentile(latencies, 99);
  console.log(`${label}: ${latencies.length} updates, ${missing} missed | p50 ${f(p50)} ms`
    + ` | p99 ${f(p99)} ms | max ${f(latencies[latencies.length - 1])} ms | ${extra}`);
  console.log(`BENCH web_${key}_p50 ${p50} ms - -`);
  console.log(`BENCH web_${key}_p99 ${p99} ms - ${target}`);
  console.log(`BENCH web_${key}_missed ${missing} updates - =0`);
}

// Run time of every thread of the process, in seconds.
function cpuSeconds(pid) {
  return readdirSync(`/proc/${pid}/task`).reduce((total, task) =>
    total + Number(readFileSync(`/proc/${pid}/task/${task}/schedstat`, 'utf8').split(' ')[0]) / 1e9, 0);
}

const env = tempHome();
const live = await scriptedLive();
publishLivePort(env, live.port);
const daemon = await startDaemon({ ...env, JACK_DEFAULT_SERVER: `marquell-bench-no-jack-${process.pid}` });
await waitFor(live.ready, 'the daemon to validate Live');
const browser = await launchBrowser();
try {
  console.log(`web remote benchmark: ${changes} tempo changes per run, loopback, Debian Chromium headless,`
    + ` load average ${loadavg()[0].toFixed(1)} on ${availableParallelism()} cores`);
  const one = await openPages(browser, daemon.port, 1);
  let cpu = cpuSeconds(daemon.pid);
  const busy = busyMeter();
  const figures = () => {
    const used = cpuSeconds(daemon.pid) - cpu;
    cpu += used;
    return `daemon CPU ${used.toFixed(2)} s, machine ${busy().toFixed(0)} % busy`;
  };
  report(' 1 browser ', 'page_1', '<=30', await measure(live, one.map(pageObserver), 6000, 10), figures());
  const wire = await Promise.all(Array.from({ length: 20 }, () => wireClient(daemon.port)));
  busy();
  report('20 sockets ', 'socket_20', '<=10', await measure(live, wire.map(wireObserver), 11000, spacing20), figures());
  for (const client of wire) client.socket.destroy();
  const more = [...one, ...await openPages(browser, daemon.port, 19)];
  busy();
  report('20 browsers', 'page_20', '-', await measure(live, more.map(pageObserver), 16000, spacing20), figures());

  await sleep(2000); // let the pages settle
  const before = cpuSeconds(daemon.pid);
  const started = now();
  await sleep(idleSeconds * 1000);
  const used = cpuSeconds(daemon.pid) - before;
  const percent = (100 * used) / ((now() - started) / 1000);
  console.log(`daemon CPU, 20 idle browsers, no JACK, ${idleSeconds} s: ${percent.toFixed(3)} % of one core`
    + ` (${cpuSeconds(daemon.pid).toFixed(2)} s in all since it started)`);
  console.log(`BENCH web_idle_cpu_20 ${percent.toFixed(3)} % - <=0.1`);
} finally {
  await browser.close();
  await stop(daemon);
  live.server.close();
  removeHome(env);
}

// SPDX-License-Identifier: MIT
// Starts what the browser tests and benchmarks need, each as a child process of
// this run in a temporary home, and ends exactly those: the daemon, the Live
// simulator and one headless Chromium.
import { spawn } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import net from 'node:net';
import { createInterface } from 'node:readline';
import { chromium } from 'playwright-core';

export const sourceDir = process.env.MARQUELL_SOURCE_DIR || new URL('../..', import.meta.url).pathname;
export const daemonBinary = process.env.MARQUELL_DAEMON_BINARY || join(sourceDir, 'build/bin/MarquellDaemon');
export const demoSet = join(sourceDir, 'tools/livesim/sets/demo.json');

export function tempHome() {
  const home = mkdtempSync(join(tmpdir(), 'marquell-web-'));
  mkdirSync(join(home, 'run'), { mode: 0o700 });
  return { HOME: home, XDG_RUNTIME_DIR: join(home, 'run'), XDG_CONFIG_HOME: join(home, '.config') };
}

export const removeHome = (env) => rmSync(env.HOME, { recursive: true, force: true });

// A child whose standard output is kept line by line, to wait on.
export function start(command, args, env) {
  const child = spawn(command, args, { env: { ...process.env, ...env }, stdio: ['pipe', 'pipe', 'inherit'] });
  child.lines = [];
  createInterface({ input: child.stdout }).on('line', (line) => child.lines.push(line));
  child.exited = new Promise((resolve) => child.on('exit', resolve));
  return child;
}

export async function waitFor(check, what, timeoutMs = 10000) {
  for (const deadline = Date.now() + timeoutMs; ; await new Promise((r) => setTimeout(r, 20))) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
  }
}

export async function stop(child) {
  if (child && child.exitCode === null && child.signalCode === null && child.kill('SIGTERM')) await child.exited;
}

// One Live link frame: a 4-byte length, then the payload.
export function frame(bytes) {
  const out = Buffer.alloc(4 + bytes.length);
  out.writeUInt32BE(bytes.length, 0);
  Buffer.from(bytes).copy(out, 4);
  return out;
}

// A Live link server that validates the daemon, writes what it is told and keeps
// what the daemon writes after its identity.
export function scriptedLive() {
  let client = null;
  const live = { received: Buffer.alloc(0), ready: () => client !== null, write: (bytes) => client.write(bytes) };
  live.server = net.createServer((socket) => {
    socket.setNoDelay(true);
    socket.write(frame(Buffer.from('MARQUELL_SERVER')));
    socket.on('data', (chunk) => {
      client = socket;
      live.received = Buffer.concat([live.received, chunk]);
    });
  });
  return new Promise((resolve) => live.server.listen(0, '127.0.0.1', () => {
    live.port = live.server.address().port;
    resolve(live);
  }));
}

// Points the daemon of this home at a Live link port.
export function publishLivePort(env, port) {
  const support = join(env.HOME, 'Library/Application Support/Marquell');
  mkdirSync(support, { recursive: true });
  writeFileSync(join(support, 'server.json'), JSON.stringify({ port }));
}

export function startSimulator(env) {
  return start('python3', [join(sourceDir, 'tools/livesim/livesim.py'), '--set', demoSet, '--quiet'], env);
}

// The daemon, and the web remote's port from its log line.
export async function startDaemon(env) {
  const daemon = start(daemonBinary, [], env);
  const line = await waitFor(() => daemon.lines.find((l) => l.startsWith('🌐 Web remote at ')), 'the web remote');
  daemon.port = Number(/:(\d+)\/\)$/.exec(line)[1]);
  return daemon;
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.MARQUELL_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-renderer-backgrounding',
      '--disable-background-timer-throttling', '--disable-backgrounding-occluded-windows'],
  });
}

// Live's setlist as any Live link client reads it: handshake, then the song pool
// message; each record is an 8-byte id and two texts with a length byte in front.
export function liveSetlist(home) {
  const { port } = JSON.parse(readFileSync(join(home, 'Library/Application Support/Marquell/server.json')));
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1').on('error', reject);
    let buffer = Buffer.alloc(0);
    socket.on('data', (chunk) => {
      buffer = Buffer.concat([buffer, chunk]);
      while (buffer.length >= 4 && buffer.length >= 4 + buffer.readUInt32BE(0)) {
        const payload = buffer.subarray(4, 4 + buffer.readUInt32BE(0));
        buffer = buffer.subarray(4 + payload.length);
        if (payload.toString().trim() === 'MARQUELL_SERVER') socket.write('MARQUELL_CLIENT');
        if (payload[0] !== 3) continue;
        socket.destroy();
        const names = [];
        for (let at = 1, setlist = false; at < payload.length;) {
          if (!setlist && payload[at] === 4) { setlist = ++at > 0; continue; }
          const name = payload.subarray(at + 9, at + 9 + payload[at + 8]).toString();
          at += 9 + payload[at + 8];
          at += 1 + payload[at];
          if (setlist) names.push(name);
        }
        resolve(names);
      }
    });
  });
}

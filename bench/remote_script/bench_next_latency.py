#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Latency from a client writing "next" to that client receiving the new position (type 5).

Runs the simulator in real time (10 ms timer) with the demo set in a private home folder,
on a port the system picks, and prints p50/p90/p99/max in milliseconds.

    python3 bench/remote_script/bench_next_latency.py [--count 500] [--playing]
"""
import argparse
import contextlib
import json
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LIVESIM = os.path.join(ROOT, "tools", "livesim", "livesim.py")
DEMO = os.path.join(ROOT, "tools", "livesim", "sets", "demo.json")


class Client(object):
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = b""

    def frame(self):
        while True:
            if len(self.buf) >= 4:
                n = struct.unpack(">I", self.buf[:4])[0]
                if len(self.buf) >= 4 + n:
                    payload, self.buf = self.buf[4:4 + n], self.buf[4 + n:]
                    return payload
            data = self.sock.recv(65536)
            if not data:
                raise EOFError("server closed the connection")
            self.buf += data

    def until(self, kind):
        while True:
            payload = self.frame()
            if payload[0] == kind:
                return payload


def wait_for_port(path, proc, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("simulator exited with %s" % proc.returncode)
        try:
            with open(path) as f:
                return json.load(f)["port"]
        except (IOError, OSError, ValueError, KeyError):
            time.sleep(0.05)
    raise RuntimeError("no server.json after %.0f s" % seconds)


@contextlib.contextmanager
def demo_simulator():
    """The simulator on the demo set in a private home folder; yields it and a validated client."""
    home = tempfile.mkdtemp(prefix="marquell-bench-home-")
    env = dict(os.environ, HOME=home, PYTHONDONTWRITEBYTECODE="1")
    proc = subprocess.Popen([sys.executable, LIVESIM, "--set", DEMO, "--port", "0", "--quiet"], env=env,
                            stdout=subprocess.DEVNULL)
    try:
        port = wait_for_port(os.path.join(home, "Library", "Application Support", "Marquell", "server.json"), proc)
        client = Client(port)
        assert client.frame().strip() == b"MARQUELL_SERVER"
        client.sock.sendall(b"MARQUELL_CLIENT")
        client.until(6)
        yield proc, client
        client.sock.close()
    finally:
        proc.send_signal(signal.SIGINT)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        shutil.rmtree(home, ignore_errors=True)


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--count", type=int, default=500)
    parser.add_argument("--playing", action="store_true", help="measure while the transport runs")
    args = parser.parse_args()

    with demo_simulator() as (proc, client):
        if args.playing:
            client.sock.sendall(b"\x01\x01")
            client.until(1)
        rng = random.Random(4)
        samples = []
        for _ in range(args.count):
            # Spread the writes over the timer's phase.
            time.sleep(rng.uniform(0.0, 0.02))
            start = time.perf_counter()
            client.sock.sendall(b"\x01\x04")
            client.until(5)
            samples.append((time.perf_counter() - start) * 1000.0)
            client.sock.sendall(b"\x01\x03")  # back again, not measured
            client.until(5)
    code = proc.returncode

    print("next -> type 5 latency, %d samples, simulator in real time with a 10 ms timer%s" % (
        len(samples), ", transport playing" if args.playing else ""))
    print("p50 %.2f ms  p90 %.2f ms  p99 %.2f ms  max %.2f ms  mean %.2f ms" % (
        percentile(samples, 50), percentile(samples, 90), percentile(samples, 99), max(samples),
        sum(samples) / len(samples)))
    print("target p99 <= 15 ms: %s; simulator exit code %d" % ("met" if percentile(samples, 99) <= 15 else "missed", code))
    print("BENCH remote_script_next_p99 %.2f ms - <=15" % percentile(samples, 99))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Random tester of the Remote Script's client-input parser (MessageReader).

Two kinds of input, alternating:
- a stream of well-formed client messages cut into random chunks: what comes out
  (after a final idle poll) must be exactly the messages that went in;
- random bytes in random chunks: the reader never raises, never holds more than its
  limit, and an idle poll after the end leaves no whole message behind.

Prints the number of inputs and the rate; exits 1 on the first failure with a seed
that reproduces it.
"""
import argparse
import os
import random
import struct
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "resources", "remote_script"))

import socket_manager as sm  # noqa: E402


def random_message(rng):
    kind = rng.choice(sorted(sm.FIXED_SIZES) + [sm.SETLIST_TYPE] * 3)
    if kind != sm.SETLIST_TYPE:
        body = rng.randbytes(sm.FIXED_SIZES[kind] - 1)
        return bytes([kind]) + body, (kind, body)
    records, wire = [], bytearray([kind])
    for _ in range(rng.randrange(6)):
        song_id = rng.randrange(sm.RECORD_MARK << 56, 1 << 64)
        name = "".join(rng.choice("abcXYZ éü♪") for _ in range(rng.randrange(40)))
        data = name.encode("utf-8")[:255]
        name = data.decode("utf-8", "replace")
        wire += struct.pack(">QB", song_id, len(data)) + data
        records.append((song_id, name))
    return bytes(wire), (kind, records)


def chunks(rng, data):
    pos = 0
    while pos < len(data):
        size = rng.randrange(1, 64) if rng.random() < 0.8 else rng.randrange(1, 1 << 17)
        yield data[pos:pos + size]
        pos += size


def run_stream(rng):
    wire, expected = bytearray(), []
    for _ in range(rng.randrange(1, 12)):
        data, message = random_message(rng)
        wire += data
        expected.append(message)
    reader = sm.MessageReader(lambda text: None)
    got = []
    for piece in chunks(rng, bytes(wire)):
        got += reader.feed(piece)
    got += reader.idle()
    if got != expected:
        return "stream parsed as %r, sent %r" % (got[:3], expected[:3])
    if reader.pending():
        return "%d bytes left after a whole stream" % reader.pending()
    return None


def run_noise(rng):
    # Mostly short; now and then past the reader's limit.
    size = rng.randrange(0, 512) if rng.random() < 0.999 else rng.randrange(2 * sm.MAX_PENDING_INPUT)
    data = rng.randbytes(size)
    reader = sm.MessageReader(lambda text: None)
    for piece in chunks(rng, data):
        for kind, _ in reader.feed(piece):
            if kind not in sm.FIXED_SIZES and kind != sm.SETLIST_TYPE:
                return "unknown type %d came out" % kind
        if reader.pending() > sm.MAX_PENDING_INPUT:
            return "holds %d bytes" % reader.pending()
    reader.idle()
    # What stays is one unfinished message: a fixed one cut short, or a setlist whose
    # last record is cut (it waits for the rest).
    rest = bytes(reader._buf)
    if rest and not (rest[0] == sm.SETLIST_TYPE or
                     (rest[0] in sm.FIXED_SIZES and len(rest) < sm.FIXED_SIZES[rest[0]])):
        return "%d bytes stay after idle, starting %r" % (len(rest), rest[:12])
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=10000000)
    parser.add_argument("--seconds", type=float, default=0, help="stop after this long (0: no limit)")
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 32)
    start = time.monotonic()
    runs = 0
    while runs < args.runs:
        rng = random.Random(seed + runs)
        problem = (run_stream if runs % 2 == 0 else run_noise)(rng)
        if problem:
            print("FAIL at seed %d: %s" % (seed + runs, problem))
            return 1
        runs += 1
        if args.seconds and runs % 256 == 0 and time.monotonic() - start > args.seconds:
            break
    elapsed = time.monotonic() - start
    print("remote script reader: %d inputs in %.1f s (%.0f/s), seed %d, no failure"
          % (runs, elapsed, runs / max(elapsed, 1e-9), seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())

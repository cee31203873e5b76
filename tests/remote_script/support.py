# SPDX-License-Identifier: MIT
"""Shared fixtures: a private home folder, the simulator on a virtual clock, Live link clients."""
import contextlib
import json
import os
import select
import socket
import struct
import sys
import tempfile
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "livesim"))

import simcore  # noqa: E402
import Live  # noqa: E402

TICK = 0.01


def parse_pool(payload):
    """(pool, setlist) of a type 3 payload, each a list of (id, name, length); raises on a cut record."""
    assert payload[0] == 3
    lists, offset = [[]], 1
    while offset < len(payload):
        if payload[offset] == 4:  # ids start at 0x80: this is the setlist's mark
            assert len(lists) == 1, "a second setlist"
            lists.append([])
            offset += 1
            continue
        song_id, n = struct.unpack(">QB", payload[offset:offset + 9])
        name, offset = payload[offset + 9:offset + 9 + n], offset + 9 + n
        length, offset = payload[offset + 1:offset + 1 + payload[offset]], offset + 1 + payload[offset]
        assert offset <= len(payload), "a record runs past the payload"
        lists[-1].append((song_id, name.decode("utf-8"), length.decode("utf-8")))
    return lists[0], lists[1] if len(lists) > 1 else []


def setlist_message(ids, names=None):
    names = [n.encode("utf-8", "surrogateescape") for n in names] if names else [b"x"] * len(ids)
    return b"\x04" + b"".join(struct.pack(">QB", i, len(n)) + n for i, n in zip(ids, names))


def simple_set(tempo=120.0, quantization=4, locators=None, end=96.0):
    """A 0..32, B 32..48, C 48..96 (beats), END at 96, unless locators says otherwise."""
    locators = locators or [{"name": "B", "beats": 32}, {"name": "A", "beats": 0}, {"name": "C", "beats": 48},
                            {"name": "END", "beats": 96}]
    return {"tempo": tempo, "signature": [4, 4], "launch_quantization": quantization, "end": end, "locators": locators}


class LinkClient(object):
    """A Live link client reading frames without blocking the virtual clock."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=2)
        # Each write must reach the server before the next virtual tick, as a real client's does.
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf, self.frames, self.closed, self.send = bytearray(), [], False, self.sock.sendall

    def read(self, wait=0.0):
        while select.select([self.sock], [], [], wait)[0] and not self.closed:
            data = b""
            with contextlib.suppress(ConnectionError):
                data = self.sock.recv(65536)
            self.closed = not data
            self.buf += data
            wait = 0.0
        while len(self.buf) >= 4:
            n = struct.unpack(">I", bytes(self.buf[:4]))[0]
            assert 1 <= n <= 4096, "frame of %d bytes" % n
            if len(self.buf) < 4 + n:
                break
            self.frames.append(bytes(self.buf[4:4 + n]))
            del self.buf[:4 + n]

    def take(self):
        frames, self.frames = self.frames, []
        return frames

    def types(self):
        return [f[0] for f in self.frames]

    def last(self, kind):
        return next((f for f in reversed(self.frames) if f[0] == kind), None)


class SimTestCase(unittest.TestCase):
    def setUp(self):
        self.home = self.enterContext(tempfile.TemporaryDirectory(prefix="marquell-test-home-"))
        # Tests never touch port 6000: the system picks a free port unless a test says otherwise.
        self.enterContext(mock.patch.dict(os.environ, {"HOME": self.home, "MARQUELL_LIVE_PORT": "0"}))
        os.environ.pop("APPDATA", None)
        self.sim, self.clients = None, []
        self.addCleanup(lambda: self.sim is not None and self.sim.shutdown())

    def support_path(self, name):
        return os.path.join(self.home, "Library", "Application Support", "Marquell", name)

    def read_json(self, name):
        with open(self.support_path(name)) as f:
            return json.load(f)

    def start(self, description):
        self.sim = simcore.Simulation(description)
        self.sim.create()
        self.sim.advance(TICK)

    @property
    def script(self):
        return self.sim.instance

    def connect(self, handshake=True):
        client = LinkClient(self.script.port)
        self.clients.append(client)
        self.addCleanup(client.sock.close)
        if handshake:
            self.pump(lambda: client.frames, clients=[client])
            self.assertEqual(client.take(), [b"MARQUELL_SERVER"])
            client.send(b"MARQUELL_CLIENT")
            self.pump(lambda: 6 in client.types(), clients=[client])
        return client

    def serve(self, **set_args):
        """simple_set(**set_args) served to one client past its state; self.ids maps names to song ids."""
        self.start(simple_set(**set_args))
        client = self.connect()
        self.ids = dict((n, i) for i, n, _ in parse_pool(client.last(3))[0])
        client.take()
        return client

    def pump(self, until, seconds=2.0, clients=None):
        """Advances the virtual clock tick by tick, reading every client, until until() holds."""
        clients = self.clients if clients is None else clients
        for _ in range(int(round(seconds / TICK))):
            self.sim.advance(TICK)
            for client in clients:
                client.read()
            if until():
                return
        for client in clients:
            client.read(0.05)
        if not until():
            self.fail("condition not reached within %.2f s of virtual time" % seconds)

    def send(self, client, data, until):
        client.send(data)
        self.pump(until)

    def run_for(self, seconds):
        self.sim.advance(seconds)
        for client in self.clients:
            client.read()

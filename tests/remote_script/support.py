# SPDX-License-Identifier: MIT
"""Shared fixtures: a private home folder, the simulator on a virtual clock, Live link clients."""
import json
import os
import select
import shutil
import socket
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "livesim"))

import simcore  # noqa: E402
import Live  # noqa: E402

TICK = 0.01


def song_records(payload, offset):
    """Parses song records until the end or a 0x04; returns (records, offset after)."""
    records = []
    while offset < len(payload) and payload[offset] != 4:
        song_id = struct.unpack(">Q", payload[offset:offset + 8])[0]
        n = payload[offset + 8]
        name = payload[offset + 9:offset + 9 + n].decode("utf-8")
        offset += 9 + n
        m = payload[offset]
        length = payload[offset + 1:offset + 1 + m].decode("utf-8")
        offset += 1 + m
        if offset > len(payload):
            raise ValueError("record runs past the payload")
        records.append((song_id, name, length))
    return records, offset


def parse_pool(payload):
    """(pool, setlist) of a type 3 payload, each a list of (id, name, length)."""
    assert payload[0] == 3
    pool, offset = song_records(payload, 1)
    setlist = []
    if offset < len(payload):
        assert payload[offset] == 4
        setlist, offset = song_records(payload, offset + 1)
    assert offset == len(payload)
    return pool, setlist


def setlist_message(ids, names=None):
    out = bytearray([4])
    for i, song_id in enumerate(ids):
        name = (names[i] if names else "x").encode("utf-8")
        out += struct.pack(">QB", song_id, len(name)) + name
    return bytes(out)


class LinkClient(object):
    """A Live link client reading frames without blocking the virtual clock."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=2)
        # Each write must reach the server before the next virtual tick, as a real client's does.
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock.setblocking(False)
        self.buf = bytearray()
        self.frames = []
        self.closed = False

    def send(self, data):
        self.sock.setblocking(True)
        self.sock.sendall(data)
        self.sock.setblocking(False)

    def read(self, wait=0.0):
        ready = select.select([self.sock], [], [], wait)[0]
        while ready:
            try:
                data = self.sock.recv(65536)
            except BlockingIOError:
                break
            except ConnectionError:
                data = b""
            if not data:
                self.closed = True
                break
            self.buf += data
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
        for payload in reversed(self.frames):
            if payload[0] == kind:
                return payload
        return None

    def close(self):
        self.sock.close()


class SimTestCase(unittest.TestCase):
    """Each test gets its own home folder and a simulator on a virtual clock."""

    def setUp(self):
        self._saved_env = dict((k, os.environ.get(k)) for k in ("HOME", "MARQUELL_LIVE_PORT", "APPDATA"))
        self.home = tempfile.mkdtemp(prefix="marquell-test-home-")
        os.environ["HOME"] = self.home
        os.environ.pop("APPDATA", None)
        # Tests never touch port 6000: the system picks a free port unless a test says otherwise.
        os.environ["MARQUELL_LIVE_PORT"] = "0"
        self.sim = None
        self.clients = []

    def tearDown(self):
        for client in self.clients:
            client.close()
        if self.sim is not None:
            self.sim.shutdown()
        for key, value in self._saved_env.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value
        shutil.rmtree(self.home, ignore_errors=True)

    def support_path(self, name):
        return os.path.join(self.home, "Library", "Application Support", "Marquell", name)

    def read_json(self, name):
        with open(self.support_path(name)) as f:
            return json.load(f)

    def start(self, description):
        self.sim = simcore.Simulation(description)
        self.sim.create()
        self.sim.advance(TICK)
        return self.sim

    @property
    def script(self):
        return self.sim.instance

    def connect(self, handshake=True):
        client = LinkClient(self.script.port)
        self.clients.append(client)
        if handshake:
            self.pump(lambda: client.frames, clients=[client])
            self.assertEqual(client.take(), [b"MARQUELL_SERVER"])
            client.send(b"MARQUELL_CLIENT")
            self.pump(lambda: 6 in client.types(), clients=[client])
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

    def pool_ids(self, client, setlist=False):
        """The ids of the pool (or the setlist) in the client's last song message."""
        return [i for i, _, _ in parse_pool(client.last(3))[1 if setlist else 0]]

    def send_and_wait(self, client, data, until):
        client.send(data)
        self.pump(until)

    def run_for(self, seconds):
        """Advances the virtual clock in one go, then reads what the clients got."""
        self.sim.advance(seconds)
        for client in self.clients:
            client.read()


def simple_set(tempo=120.0, quantization=4, locators=None, end=96.0):
    return {
        "tempo": tempo,
        "signature": [4, 4],
        "launch_quantization": quantization,
        "end": end,
        "locators": locators if locators is not None else [
            {"name": "B", "beats": 32}, {"name": "A", "beats": 0}, {"name": "C", "beats": 48},
            {"name": "END", "beats": 96}],
    }

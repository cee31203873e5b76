# SPDX-License-Identifier: MIT
"""The Live link as clients see it: handshake, state, input chunking, frames, ports."""
import errno
import os
import socket
import struct
import unittest
from unittest import mock

from support import TICK, SimTestCase, parse_pool, setlist_message, simcore, simple_set

socket_manager = simcore.load_script_package("MarquellLinkUnderTest").socket_manager
PING = b"\x06\x01\x02\x03\x04\x05\x06\x07\x08"


class Serving(SimTestCase):
    def test_state_follows_the_handshake_in_order(self):
        self.start(simple_set())
        frames = self.connect().take()
        pool, setlist = parse_pool(frames[0])
        self.assertEqual([(n, l) for _, n, l in pool], [("A", "0:16"), ("B", "0:08"), ("C", "0:24")])
        self.assertEqual(setlist, pool)  # a set without a stored setlist starts with every song
        self.assertEqual(frames[1:], [b"\x05\x00", b"\x07\x01", struct.pack(">BI", 8, 12000), b"\x01\x02",
                                      b"\x00", b"\x06" + b"\x00" * 8])

    def test_only_clients_past_the_handshake_are_served_and_a_ping_only_to_its_sender(self):
        self.start(simple_set())
        good = self.connect()
        wrong, silent, eager = [self.connect(handshake=False) for _ in range(3)]
        self.pump(lambda: eager.frames)
        good.take()
        wrong.send(b"MARQUELL_CLIENX")
        eager.send(b"MARQUELL_CLIENT" + PING + b"\x01\x04")  # the handshake and more in one write
        self.pump(lambda: wrong.closed and b"\x05\x01" in eager.frames and good.frames)
        self.assertEqual((eager.frames[-2:], good.take()), ([PING, b"\x05\x01"], [b"\x05\x01"]))
        self.run_for(4.0)
        self.assertFalse(silent.closed)
        self.pump(lambda: silent.closed, seconds=1.5)
        self.assertEqual(silent.take(), [b"MARQUELL_SERVER"])  # no state without the handshake
        self.send(eager, b"\x01\x03", lambda: b"\x05\x00" in good.frames)

    def test_taken_port_falls_back_and_is_published(self):
        blocker = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(blocker.close)
        os.environ["MARQUELL_LIVE_PORT"] = str(blocker.getsockname()[1])
        self.start(simple_set())
        self.assertNotEqual(self.script.port, blocker.getsockname()[1])
        self.assertEqual(self.read_json("server.json"), {"port": self.script.port})
        self.assertTrue(any(str(self.script.port) in m for m in self.sim.status_messages))
        self.connect()


class ClientInput(SimTestCase):
    def test_messages_whatever_the_chunking(self):
        cases = [  # (writes, each followed by a tick, from sl(names); setlist then; position; last frames by type)
            (lambda sl: [sl("CA") + b"\x03\x00"], "CA", 0, {}),
            (lambda sl: [bytes([b]) for b in sl("BCA") + b"\x07\x02\x03\x02\x00\x03\x01\x00\x40\x04"], "BCA", 2,
             {7: b"\x07\x02", 0: b"\x00\x04next\x01\x03\x00\x40"}),
            (lambda sl: [sl("C"), sl("A")[1:]], "CA", 1, {}),  # a setlist that ends a read may go on
            (lambda sl: [b"\x04"], "", None, {}),
            (lambda sl: [sl("\udcffB")], "B", 0, {}),  # a song of no set, named in bad UTF-8
            (lambda sl: [b"\x42\x01\x04"], "ABC", 0, {}),  # an unknown type drops the rest of its read
            (lambda sl: [b"\x07\x03"], "ABC", 0, {7: None})]  # no such cue jump mode
        for writes, setlist, position, frames in cases:
            with self.subTest(setlist=setlist, position=position):
                client = self.serve()
                for data in writes(lambda names: setlist_message([self.ids.get(n, 1 << 63 | 1) for n in names], names)):
                    client.send(data)
                    self.run_for(TICK)
                self.send(client, PING, lambda: 6 in client.types())
                model = self.script.setlist
                self.assertEqual((model.setlist, model.position), ([self.ids[n] for n in setlist], position))
                self.assertEqual(dict((k, client.last(k)) for k in frames), frames)
            self.doCleanups()
            self.setUp()


class Frames(SimTestCase):
    def pool_of(self, name, count, chosen=0):  # chosen: a setlist of the first songs is sent first
        self.start(simple_set(locators=[{"name": name % i, "beats": 8 * i} for i in range(count)], end=8 * count))
        client = self.connect()
        if chosen:
            ids = [i for i, _, _ in parse_pool(client.take()[0])[0][:chosen]]
            self.send(client, setlist_message(ids), lambda: 3 in client.types())
        self.assertLessEqual(len(client.last(3)), 4096)
        return parse_pool(client.last(3))  # raises on a cut record or a cut character

    def test_a_huge_pool_never_exceeds_one_frame_nor_cuts_a_record_nor_the_setlist(self):
        pool, setlist = self.pool_of("Song number %d with a rather long title to fill the frame", 400)
        self.assertTrue(pool and setlist and set(setlist) <= set(pool))
        self.doCleanups()
        self.setUp()
        pool, setlist = self.pool_of("Song number %d with a rather long title to fill the frame", 400, chosen=10)
        self.assertEqual((setlist, len(pool) > 10), (pool[:10], True))  # songs outside the setlist go first

    def test_a_pool_just_too_large_keeps_every_song_with_shorter_names(self):
        pool, setlist = self.pool_of("N%03d " + "é" * 30, 30)
        self.assertEqual((len(pool), len(setlist)), (30, 30))
        self.assertTrue(all(n.startswith("N%03d é" % i) for i, (_, n, _) in enumerate(pool)))


def trickle(per_call, received):
    def send(data):
        if not per_call:
            raise BlockingIOError(errno.EAGAIN, "would block")
        received.extend(data[:per_call])
        return min(per_call, len(data))
    return mock.Mock(send=send)


class Output(unittest.TestCase):
    def server_with(self, *sockets):
        server = socket_manager.SocketServer(lambda text: None, None, None)
        for sock in sockets:
            server.clients.append(socket_manager.Client(sock, ("127.0.0.1", 1), 0.0, lambda text: None))
            server.clients[-1].validated = True
        return server, list(server.clients)

    def test_frames_survive_partial_sends_in_order(self):
        received = bytearray()
        server, _ = self.server_with(trickle(3, received))
        payloads = [bytes([5, i]) for i in range(50)] + [b"\x03" + b"x" * 4095]
        for payload in payloads:
            server.broadcast(payload)
        for _ in range(2000):
            server.flush()
        self.assertEqual(bytes(received), b"".join(struct.pack(">I", len(p)) + p for p in payloads))
        with self.assertRaises(ValueError):
            socket_manager.frame(b"x" * 4097)

    def test_a_client_that_never_reads_is_dropped_not_the_others(self):
        received = bytearray()
        server, (stuck, fine) = self.server_with(trickle(0, None), trickle(1 << 20, received))
        for count in range(300):
            # A full socket buffer is waited out until the backlog passes its bound.
            self.assertEqual(stuck.closed, count * 4005 > 1 << 20)
            server.broadcast(b"\x03" + b"x" * 4000)
            server.flush()
        self.assertEqual((stuck.closed, fine.closed, len(received)), (True, False, 300 * 4005))

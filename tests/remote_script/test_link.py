# SPDX-License-Identifier: MIT
"""The Live link as clients see it: handshake, state, input chunking, ports."""
import errno
import json
import os
import socket
import struct
import time
import unittest

from support import SimTestCase, parse_pool, setlist_message, simcore, simple_set

socket_manager = simcore.load_script_package("MarquellLinkUnderTest").socket_manager


class HandshakeAndState(SimTestCase):
    def test_state_follows_the_handshake_in_order(self):
        self.start(simple_set())
        frames = self.connect().take()
        self.assertEqual([f[0] for f in frames], [3, 5, 7, 8, 1, 0, 6])
        pool, setlist = parse_pool(frames[0])
        self.assertEqual([(n, l) for _, n, l in pool], [("A", "0:16"), ("B", "0:08"), ("C", "0:24")])
        self.assertEqual(setlist, pool)  # a set without a stored setlist starts with every song
        self.assertEqual(frames[1:], [b"\x05\x00", b"\x07\x01", struct.pack(">BI", 8, 12000), b"\x01\x02",
                                      b"\x00", b"\x06" + b"\x00" * 8])

    def test_two_clients_served_and_a_ping_echoed_to_its_sender_only(self):
        self.start(simple_set())
        first, second = self.connect(), self.connect()
        first.take(), second.take()
        first.send(b"\x06\x01\x02\x03\x04\x05\x06\x07\x08")
        self.send_and_wait(first, b"\x01\x04", lambda: len(first.frames) == 2 and second.frames)
        self.assertEqual(first.take(), [b"\x06\x01\x02\x03\x04\x05\x06\x07\x08", b"\x05\x01"])
        self.assertEqual(second.take(), [b"\x05\x01"])

    def test_wrong_or_missing_handshake_drops_only_that_client(self):
        self.start(simple_set())
        good = self.connect()
        wrong = self.connect(handshake=False)
        silent = self.connect(handshake=False)
        wrong.send(b"MARQUELL_CLIENX")
        self.pump(lambda: wrong.closed)
        self.run_for(4.0)
        self.assertFalse(silent.closed)
        self.pump(lambda: silent.closed, seconds=1.5)
        self.assertEqual(silent.take(), [b"MARQUELL_SERVER"])  # no state without the handshake
        good.take()
        self.send_and_wait(good, b"\x01\x04", lambda: good.frames)
        self.assertEqual(good.take(), [b"\x05\x01"])

    def test_handshake_and_first_message_in_one_write(self):
        self.start(simple_set())
        client = self.connect(handshake=False)
        self.pump(lambda: client.frames)
        self.send_and_wait(client, b"MARQUELL_CLIENT\x01\x04", lambda: b"\x05\x01" in client.frames)


class ClientInput(SimTestCase):
    def test_setlist_then_select_index_in_one_write(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.pool_ids(client)
        client.take()
        self.send_and_wait(client, setlist_message([c, a], ["C", "A"]) + b"\x03\x01",
                           lambda: 3 in client.types() and b"\x05\x01" in client.frames)
        self.assertEqual(self.pool_ids(client, setlist=True), [c, a])
        self.assertEqual(self.script.setlist.position, 1)

    def test_input_one_byte_at_a_time(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.pool_ids(client)
        client.take()
        data = (setlist_message([b, c, a], ["B", "C", "A"]) + b"\x07\x02" + b"\x03\x02"
                + b"\x00\x03\x01\x00\x40\x04" + b"\x06abcdefgh")
        for i in range(len(data)):
            client.send(data[i:i + 1])
            self.run_for(0.01)
        self.pump(lambda: 6 in client.types())
        self.assertEqual(self.pool_ids(client, setlist=True), [b, c, a])
        self.assertEqual(self.script.setlist.position, 2)
        self.assertEqual([client.last(k) for k in (7, 0, 6)],
                         [b"\x07\x02", b"\x00\x04next\x01\x03\x00\x40", b"\x06abcdefgh"])

    def test_setlist_at_the_end_of_a_read_waits_for_a_quiet_poll(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.pool_ids(client)
        client.take()
        # The first half of the setlist must not be taken as a whole one.
        client.send(setlist_message([c], ["C"]))
        client.send(setlist_message([a], ["A"])[1:])
        time.sleep(0.02)  # both halves are in before the next poll
        self.pump(lambda: 3 in client.types())
        self.assertEqual(self.pool_ids(client, setlist=True), [c, a])
        client.take()
        self.send_and_wait(client, b"\x04", lambda: 3 in client.types())  # empty, on its own
        self.assertEqual(self.pool_ids(client, setlist=True), [])
        self.assertIsNone(self.script.setlist.position)

    def test_unknown_ids_and_types_are_dropped_and_the_client_stays(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.pool_ids(client)
        client.take()
        self.send_and_wait(client, setlist_message([0x8000000000000001, b], ["ghost", "B"]),
                           lambda: 3 in client.types())
        self.assertEqual(self.pool_ids(client, setlist=True), [b])
        client.send(b"\x42\x01\x04")  # unknown type: the rest of this read goes too
        self.run_for(0.05)
        self.send_and_wait(client, b"\x07\x02", lambda: b"\x07\x02" in client.frames)
        self.assertFalse(client.closed)


class Frames(SimTestCase):
    def test_a_huge_pool_never_exceeds_one_frame_nor_cuts_a_record(self):
        locators = [{"name": "Song number %d with a rather long title to fill the frame" % i, "beats": 8 * i}
                    for i in range(400)]
        self.start(simple_set(locators=locators, end=3200))
        payload = self.connect().last(3)
        self.assertLessEqual(len(payload), 4096)
        pool, setlist = parse_pool(payload)
        self.assertTrue(pool and setlist)
        self.assertTrue(set(i for i, _, _ in setlist) <= set(i for i, _, _ in pool))

    def test_a_pool_just_too_large_keeps_every_song_with_shorter_names(self):
        locators = [{"name": "N%03d " % i + "x" * 60, "beats": 4 * i} for i in range(30)]
        self.start(simple_set(locators=locators, end=200))
        pool, setlist = parse_pool(self.connect().last(3))
        self.assertEqual((len(pool), len(setlist)), (30, 30))
        self.assertTrue(all(n.startswith("N%03d" % i) for i, (_, n, _) in enumerate(pool)))


class Output(unittest.TestCase):
    """Partial sends, with a socket that takes a few bytes at a time or none."""

    class TrickleSocket(object):
        def __init__(self, per_call):
            self.per_call = per_call
            self.received = bytearray()

        def send(self, data):
            if not self.per_call:
                raise BlockingIOError(errno.EAGAIN, "would block")
            self.received += bytes(data[:self.per_call])
            return min(self.per_call, len(data))

        def close(self):
            pass

    def server_with(self, *sockets):
        logs = []
        server = socket_manager.SocketServer(logs.append, None, None)
        for sock in sockets:
            client = socket_manager.Client(sock, ("127.0.0.1", 1), 0.0, logs.append)
            client.validated = True
            server.clients.append(client)
        return server, server.clients, logs

    def test_frames_survive_partial_sends_in_order(self):
        trickle = self.TrickleSocket(3)
        server, _, _ = self.server_with(trickle)
        payloads = [bytes([5, i]) for i in range(50)] + [b"\x03" + b"x" * 4095]
        for payload in payloads:
            server.broadcast(payload)
        for _ in range(2000):
            server.flush()
        expected = b"".join(struct.pack(">I", len(p)) + p for p in payloads)
        self.assertEqual(bytes(trickle.received), expected)

    def test_a_client_that_never_reads_is_dropped_not_the_others(self):
        stuck, fine = self.TrickleSocket(0), self.TrickleSocket(1 << 20)
        server, (stuck_client, fine_client), logs = self.server_with(stuck, fine)
        for _ in range(300):
            server.broadcast(b"\x03" + b"x" * 4000)
            server.flush()
        self.assertEqual((stuck_client.closed, fine_client.closed), (True, False))
        self.assertEqual(len(fine.received), 300 * 4005)
        with self.assertRaises(ValueError):
            socket_manager.frame(b"x" * 4097)


class Ports(SimTestCase):
    def test_taken_port_falls_back_and_is_published(self):
        blocker = socket.socket()
        blocker.bind(("127.0.0.1", 0))
        blocker.listen(1)
        taken = blocker.getsockname()[1]
        try:
            os.environ["MARQUELL_LIVE_PORT"] = str(taken)
            self.start(simple_set())
            self.assertNotEqual(self.script.port, taken)
            self.assertEqual(self.read_json("server.json"), {"port": self.script.port})
            self.assertTrue(any(str(self.script.port) in m for m in self.sim.status_messages))
            self.connect()
        finally:
            blocker.close()

    def test_disconnect_removes_only_its_own_port_file(self):
        self.start(simple_set())
        port = self.script.port
        self.sim.disconnect()
        self.assertFalse(os.path.exists(self.support_path("server.json")))
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
        # Another server took over the file: ours must not delete it.
        self.sim.create()
        with open(self.support_path("server.json"), "w") as f:
            json.dump({"port": 1}, f)
        self.sim.disconnect()
        self.assertEqual(self.read_json("server.json"), {"port": 1})


if __name__ == "__main__":
    unittest.main()

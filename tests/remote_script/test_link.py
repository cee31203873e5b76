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
        client = self.connect()
        frames = client.take()
        self.assertEqual([f[0] for f in frames], [3, 5, 7, 8, 1, 0, 6])
        pool, setlist = parse_pool(frames[0])
        self.assertEqual([(n, l) for _, n, l in pool], [("A", "0:16"), ("B", "0:08"), ("C", "0:24")])
        self.assertEqual(setlist, pool)  # a set without a stored setlist starts with every song
        self.assertEqual(frames[1:6], [b"\x05\x00", b"\x07\x01", struct.pack(">BI", 8, 12000), b"\x01\x02", b"\x00"])
        self.assertEqual(frames[6], b"\x06" + b"\x00" * 8)

    def test_two_clients_are_served_at_once(self):
        self.start(simple_set())
        first, second = self.connect(), self.connect()
        first.take(), second.take()
        first.send(b"\x01\x04")
        self.pump(lambda: first.frames and second.frames)
        self.assertEqual(first.take(), [b"\x05\x01"])
        self.assertEqual(second.take(), [b"\x05\x01"])

    def test_ping_is_echoed_to_its_sender_only(self):
        self.start(simple_set())
        daemon, app = self.connect(), self.connect()
        daemon.take(), app.take()
        daemon.send(b"\x06\x01\x02\x03\x04\x05\x06\x07\x08")
        self.pump(lambda: daemon.frames)
        self.run_for(0.05)
        self.assertEqual(daemon.take(), [b"\x06\x01\x02\x03\x04\x05\x06\x07\x08"])
        self.assertEqual(app.take(), [])

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
        # Neither got any state: only the identity frame.
        self.assertEqual(silent.take(), [b"MARQUELL_SERVER"])
        good.take()
        good.send(b"\x01\x04")
        self.pump(lambda: good.frames)
        self.assertEqual(good.take(), [b"\x05\x01"])

    def test_handshake_and_first_message_in_one_write(self):
        self.start(simple_set())
        client = self.connect(handshake=False)
        self.pump(lambda: client.frames)
        client.take()
        client.send(b"MARQUELL_CLIENT\x01\x04")
        self.pump(lambda: b"\x05\x01" in client.frames)


class ClientInput(SimTestCase):
    def ids(self, client):
        pool, _ = parse_pool(client.last(3))
        return [i for i, _, _ in pool]

    def test_setlist_then_select_index_in_one_write(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.ids(client)
        client.take()
        client.send(setlist_message([c, a], ["C", "A"]) + b"\x03\x01")
        self.pump(lambda: 3 in client.types() and b"\x05\x01" in client.frames)
        _, setlist = parse_pool(client.last(3))
        self.assertEqual([i for i, _, _ in setlist], [c, a])
        self.assertEqual(self.script.setlist.position, 1)

    def test_input_one_byte_at_a_time(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.ids(client)
        client.take()
        data = (setlist_message([b, c, a], ["B", "C", "A"]) + b"\x07\x02" + b"\x03\x02"
                + b"\x00\x03\x01\x00\x40\x04" + b"\x06abcdefgh")
        for i in range(len(data)):
            client.send(data[i:i + 1])
            self.run_for(0.01)
        self.pump(lambda: 6 in client.types())
        self.assertEqual([i for i, _, _ in parse_pool(client.last(3))[1]], [b, c, a])
        self.assertEqual(client.last(7), b"\x07\x02")
        self.assertEqual(self.script.setlist.position, 2)
        self.assertEqual(client.last(0), b"\x00\x04next\x01\x03\x00\x40")
        self.assertEqual(client.last(6), b"\x06abcdefgh")

    def test_setlist_at_the_end_of_a_read_waits_for_a_quiet_poll(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.ids(client)
        client.take()
        # The first half of the setlist must not be taken as a whole one.
        first, rest = setlist_message([c], ["C"]), setlist_message([a], ["A"])[1:]
        client.send(first)
        client.send(rest)
        time.sleep(0.02)  # both halves are in before the next poll
        self.pump(lambda: 3 in client.types())
        self.assertEqual([i for i, _, _ in parse_pool(client.last(3))[1]], [c, a])
        # An empty setlist on its own is taken too.
        client.take()
        client.send(b"\x04")
        self.pump(lambda: 3 in client.types())
        self.assertEqual(parse_pool(client.last(3))[1], [])
        self.assertIsNone(self.script.setlist.position)

    def test_unknown_ids_and_types_are_dropped_and_the_client_stays(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = self.ids(client)
        client.take()
        client.send(setlist_message([0x8000000000000001, b], ["ghost", "B"]))
        self.pump(lambda: 3 in client.types())
        self.assertEqual([i for i, _, _ in parse_pool(client.last(3))[1]], [b])
        client.send(b"\x42\x01\x04")  # unknown type: the rest of this read goes too
        self.run_for(0.05)
        client.send(b"\x07\x02")
        self.pump(lambda: b"\x07\x02" in client.frames)
        self.assertFalse(client.closed)
        self.assertTrue(any("unknown message type 66" in line for line in self.sim.log_lines))


class Frames(SimTestCase):
    def test_a_huge_pool_never_exceeds_one_frame_nor_cuts_a_record(self):
        locators = [{"name": "Song number %d with a rather long title to fill the frame" % i, "beats": 8 * i}
                    for i in range(400)]
        self.start(simple_set(locators=locators, end=3200))
        client = self.connect()
        payload = client.last(3)
        self.assertLessEqual(len(payload), 4096)
        pool, setlist = parse_pool(payload)
        self.assertTrue(pool and setlist)
        self.assertTrue(set(i for i, _, _ in setlist) <= set(i for i, _, _ in pool))
        self.assertTrue(any("too large" in line for line in self.sim.log_lines))

    def test_a_pool_just_too_large_keeps_every_song_with_shorter_names(self):
        locators = [{"name": "N%03d " % i + "x" * 60, "beats": 4 * i} for i in range(30)]
        self.start(simple_set(locators=locators, end=200))
        pool, setlist = parse_pool(self.connect().last(3))
        self.assertEqual(len(pool), 30)
        self.assertEqual(len(setlist), 30)
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
        clients = []
        for sock in sockets:
            client = socket_manager.Client(sock, ("127.0.0.1", 1), 0.0, logs.append)
            client.validated = True
            server.clients.append(client)
            clients.append(client)
        return server, clients, logs

    def test_frames_survive_partial_sends_in_order(self):
        trickle = self.TrickleSocket(3)
        server, _, _ = self.server_with(trickle)
        payloads = [bytes([5, i]) for i in range(50)] + [b"\x03" + b"x" * 4095]
        for payload in payloads:
            server.broadcast(payload)
        for _ in range(2000):
            server.flush()
        out, offset = bytes(trickle.received), 0
        for payload in payloads:
            n = struct.unpack(">I", out[offset:offset + 4])[0]
            self.assertEqual(out[offset + 4:offset + 4 + n], payload)
            offset += 4 + n
        self.assertEqual(offset, len(out))

    def test_a_client_that_never_reads_is_dropped_not_the_others(self):
        stuck, fine = self.TrickleSocket(0), self.TrickleSocket(1 << 20)
        server, (stuck_client, fine_client), logs = self.server_with(stuck, fine)
        for _ in range(300):
            server.broadcast(b"\x03" + b"x" * 4000)
            server.flush()
        self.assertTrue(stuck_client.closed)
        self.assertFalse(fine_client.closed)
        self.assertEqual(len(fine.received), 300 * 4005)
        self.assertTrue(any("does not read" in line for line in logs))
        with self.assertRaises(ValueError):
            socket_manager.frame(b"x" * 4097)


class Ports(SimTestCase):
    def read_port_file(self):
        return self.read_json("server.json")

    def test_taken_port_falls_back_and_is_published(self):
        blocker = socket.socket()
        blocker.bind(("127.0.0.1", 0))
        blocker.listen(1)
        taken = blocker.getsockname()[1]
        try:
            os.environ["MARQUELL_LIVE_PORT"] = str(taken)
            self.start(simple_set())
            self.assertNotEqual(self.script.port, taken)
            self.assertEqual(self.read_port_file(), {"port": self.script.port})
            self.assertTrue(any(str(self.script.port) in m for m in self.sim.status_messages))
            self.connect()
        finally:
            blocker.close()

    def test_disconnect_removes_only_its_own_port_file(self):
        self.start(simple_set())
        port = self.script.port
        self.assertEqual(self.read_port_file(), {"port": port})
        self.sim.disconnect()
        self.assertFalse(os.path.exists(self.support_path("server.json")))
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
        # Another server took over the file: ours must not delete it.
        self.sim.create()
        with open(self.support_path("server.json"), "w") as f:
            json.dump({"port": 1}, f)
        self.sim.disconnect()
        self.assertEqual(self.read_port_file(), {"port": 1})


if __name__ == "__main__":
    unittest.main()

# SPDX-License-Identifier: MIT
"""MIDI mappings, the surface's life cycle inside Live, and the rules Live imposes."""
import ast
import functools
import glob
import json
import os
import socket
import struct
import unittest
from unittest import mock

from support import HERE, ROOT, TICK, Live, SimTestCase, parse_pool, setlist_message, simple_set

NEXT_ON_NOTE = bytes([0, 2, 0, 0, 60, 4])  # channel 2, Note On, note 60 -> next
PLAY_ON_CC = bytes([0, 0, 1, 0, 64, 1])  # channel 1, Control Change 64 -> play


class Mappings(SimTestCase):
    def test_mapped_controls_run_commands_on_press_not_release_until_cleared(self):
        client = self.serve()
        self.send(client, NEXT_ON_NOTE + PLAY_ON_CC, lambda: client.types().count(0) == 2)
        self.assertEqual(client.last(0), b"\x00\x04play\x01\x00\x00\x40\x04next\x00\x02\x00\x3c")
        self.run_for(TICK)
        self.assertEqual(self.sim.midi_map, set([("note", 2, 60), ("cc", 0, 64)]))
        cases = [  # (MIDI in, forwarded by Live, frames out); Note On at velocity 0 is a release
            ((0x92, 60, 100), True, [b"\x05\x01"]), ((0x92, 60, 0), True, []), ((0x82, 60, 64), True, []),
            ((0xB0, 64, 0), True, []), ((0x90, 60, 100), False, []), ((0xB0, 64, 127), True, [b"\x01\x01"])]
        for midi, forwarded, frames in cases:
            with self.subTest(midi=midi):
                client.take()
                self.assertEqual(self.sim.send_midi(midi), forwarded)
                self.run_for(2 * TICK)
                self.assertEqual(client.take(), frames)
        self.send(client, b"\x02\x04", lambda: client.last(0) == b"\x00\x04play\x01\x00\x00\x40")
        client.send(bytes([0, 16, 0, 0, 60, 2]) + bytes([0, 0, 0, 0, 60, 9]) + b"\x06abcdefgh")  # channel 16, tag 9
        self.pump(lambda: 6 in client.types())
        self.assertEqual(self.read_json("mappings.json")["mappings"], {"1": [1, 0, 64]})  # both refused
        self.send(client, b"\x09", lambda: client.last(0) == b"\x00")
        self.run_for(TICK)
        self.assertEqual(self.sim.midi_map, set())
        self.assertEqual(self.read_json("mappings.json")["mappings"], {})

    def test_a_corrupt_mappings_file_is_kept_aside(self):
        os.makedirs(os.path.dirname(self.support_path("mappings.json")))
        with open(self.support_path("mappings.json"), "w") as f:
            f.write('{"mappings": {"4": [0, 2')
        self.start(simple_set())
        client = self.connect()
        self.assertEqual(client.last(0), b"\x00")
        aside = glob.glob(self.support_path("mappings.json.corrupt-*"))
        with open(aside[0]) as f:
            self.assertEqual((len(aside), f.read()), (1, '{"mappings": {"4": [0, 2'))
        self.send(client, NEXT_ON_NOTE, lambda: client.last(0) != b"\x00")
        self.assertEqual(self.read_json("mappings.json")["mappings"], {"4": [0, 2, 60]})
        self.assertTrue(os.path.exists(aside[0]))


class LifeCycle(SimTestCase):
    def test_reloads_keep_everything_and_double_nothing_another_set_gets_the_notice_first(self):
        old, song, writes = self.serve(), self.sim.song, []
        setlist = [self.ids["C"], self.ids["B"], self.ids["C"]]
        self.send(old, NEXT_ON_NOTE + b"\x07\x02" + setlist_message(setlist), lambda: 3 in old.types())
        song.add_data_listener(lambda: writes.append(1))
        for _ in range(3):
            self.sim.reload()
        self.pump(lambda: old.closed, clients=[old])
        self.assertEqual(writes, [], "an unchanged set was written, so Live would ask to save it")
        self.assertEqual(len([t for t in self.sim.timers if t.running]), 1)

        def restored():
            client = self.connect()
            self.assertEqual([i for i, _, _ in parse_pool(client.last(3))[1]], setlist)
            self.assertEqual([client.last(k) for k in (0, 7, 2)], [b"\x00\x04next\x00\x02\x00\x3c", b"\x07\x02", None])
            client.take()
            return client

        client = restored()
        song.tempo = 100
        song._add_cue("D", 80)
        self.run_for(1.5)
        self.assertEqual(sorted(client.types()), [3, 8])
        client.take()
        client.send(b"\x01\x04")
        self.run_for(0.2)
        self.assertEqual((client.take(), len(song._listeners_tempo)), ([b"\x05\x01"], 1))
        self.assertIn(("note", 2, 60), self.sim.midi_map)
        self.sim.open_set(dict(simple_set(), data=dict(song._data)))
        restored()
        # Unreadable stored data starts afresh from the locators.
        self.sim.open_set(dict(simple_set(locators=[{"name": "Other", "beats": 0}]), data={"marquell": "{not json"}))
        client = self.connect()
        self.assertEqual(client.types()[:2], [2, 3])
        self.assertEqual([n for _, n, _ in parse_pool(client.last(3))[0]], ["Other"])

    def test_a_disconnect_leaves_nothing_running_nor_its_port_file(self):
        client, song, port = self.serve(), self.sim.song, self.script.port
        self.sim.disconnect()
        self.pump(lambda: client.closed, clients=[client])
        self.assertEqual([t for t in self.sim.timers if t.running], [])
        self.assertFalse(os.path.exists(self.support_path("server.json")))
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
        for subject, name in [(song, n) for n in ("tempo", "is_playing", "cue_points", "song_length")] + [
                (cue, "name") for cue in song.cue_points]:
            self.assertEqual(subject.__dict__.get("_listeners_" + name, []), [], name)
        self.sim.create()  # another server took over the file: ours must not delete it
        with open(self.support_path("server.json"), "w") as f:
            json.dump({"port": 1}, f)
        self.sim.disconnect()
        self.assertEqual(self.read_json("server.json"), {"port": 1})


class LiveRules(SimTestCase):
    def test_the_script_never_writes_from_a_listener(self):
        client, song = self.serve(), self.sim.song
        # The fake refuses such writes as Live does, so a violation cannot go unseen.
        with self.assertRaisesRegex(RuntimeError, "Changes cannot be triggered by notifications"):
            Live.Base._notify_all([song.stop_playing])
        Live.Base._violations[:] = []
        client.send(NEXT_ON_NOTE + b"\x01\x01")
        self.run_for(1.0)
        song.tempo = 140
        song._add_cue("D", 72)
        song._rename_cue(song.cue_points[0], "B2")
        song._move_cue(song.cue_points[0], 36)
        song.stop_playing()
        song.start_playing()
        self.sim.send_midi((0x92, 60, 127))
        self.sim.reload()
        song._set_end(120)
        self.run_for(30.0)
        self.assertEqual((Live.Base._violations, self.sim.errors), ([], []))

    def test_without_the_fast_timer_garbage_abrupt_clients_and_a_failing_step_do_not_stop_the_server(self):
        with mock.patch.object(Live.Base, "Timer", side_effect=RuntimeError("no timer here")):
            rude = self.serve()  # Live's slow tick serves
        rude.send(os.urandom(2000))
        rude.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))  # closed with a reset
        rude.sock.close()
        self.clients.remove(rude)
        self.run_for(0.1)
        client = self.connect()
        with mock.patch.object(self.script.playback, "tick", side_effect=ValueError("broken follow")):
            self.send(client, b"\x06abcdefgh", lambda: b"\x06abcdefgh" in client.frames)
        self.assertTrue(any("broken follow" in line for line in self.sim.log_lines))
        self.assertEqual(self.sim.errors, [])


class ScriptAndFake(unittest.TestCase):
    def test_the_fake_offers_only_names_live_11_has(self):
        with open(os.path.join(HERE, "live11_members.json")) as f:
            members = json.load(f)  # else the script could pass here and fail in Live
        members["Live.Base"] += [k.split(".")[2] for k in members if k.startswith("Live.Base.")]
        for name, names in members.items():
            fake = functools.reduce(getattr, name.split(".")[1:], Live)
            self.assertEqual(set(n for n in dir(fake) if not n.startswith("_")) - set(names), set(), name)

    def test_the_six_files_are_python_37_with_the_standard_library_only(self):
        allowed = set(["errno", "json", "math", "os", "random", "socket", "struct", "sys", "time", "__future__",
                       "Live", "_Framework.ControlSurface"])
        folder = os.path.join(ROOT, "resources", "remote_script")
        names = sorted(n for n in os.listdir(folder) if n != "__pycache__")
        self.assertEqual(names, ["__init__.py", "ableton_socket_server.py", "mapping_manager.py",
                                 "playback_controller.py", "setlist_manager.py", "socket_manager.py"])
        for name in names:
            with open(os.path.join(folder, name)) as f:
                tree = ast.parse(f.read(), name, feature_version=(3, 7))
            modules = [a.name for n in ast.walk(tree) if isinstance(n, ast.Import) for a in n.names]
            modules += [n.module for n in ast.walk(tree) if isinstance(n, ast.ImportFrom) and not n.level]
            self.assertLessEqual(set(modules), allowed, name)


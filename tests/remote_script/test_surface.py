# SPDX-License-Identifier: MIT
"""MIDI mappings, the surface's life cycle inside Live, and the rules Live imposes."""
import ast
import glob
import json
import os
import socket
import struct
import unittest

from support import ROOT, TICK, Live, SimTestCase, parse_pool, setlist_message, simple_set

NEXT_ON_NOTE = bytes([0, 2, 0, 0, 60, 4])  # channel 2, Note On, note 60 -> next
PLAY_ON_CC = bytes([0, 0, 1, 0, 64, 1])  # channel 1, Control Change 64 -> play


class Mappings(SimTestCase):
    def test_mapped_controls_run_commands_on_press_not_release(self):
        self.start(simple_set())
        client = self.connect()
        client.take()
        client.send(NEXT_ON_NOTE + PLAY_ON_CC)
        self.pump(lambda: client.types().count(0) == 2)
        self.assertEqual(client.last(0), b"\x00\x04play\x01\x00\x00\x40\x04next\x00\x02\x00\x3c")
        self.run_for(TICK)
        self.assertEqual(self.sim.midi_map, set([("note", 2, 60), ("cc", 0, 64)]))
        client.take()
        self.assertTrue(self.sim.send_midi((0x92, 60, 100)))
        self.run_for(2 * TICK)
        self.assertEqual(client.take(), [b"\x05\x01"])
        self.sim.send_midi((0x92, 60, 0))  # Note On with velocity 0 is a release
        self.sim.send_midi((0x82, 60, 64))
        self.sim.send_midi((0xB0, 64, 0))
        self.run_for(2 * TICK)
        self.assertEqual(client.take(), [])
        self.assertFalse(self.sim.send_midi((0x90, 60, 100)), "another channel is not forwarded")
        self.sim.send_midi((0xB0, 64, 127))
        self.run_for(2 * TICK)
        self.assertTrue(self.sim.song.is_playing)

    def test_clearing_and_refusing_mappings(self):
        self.start(simple_set())
        client = self.connect()
        client.send(NEXT_ON_NOTE + PLAY_ON_CC + b"\x02\x04")
        self.pump(lambda: client.types().count(0) == 4)
        self.assertEqual(client.last(0), b"\x00\x04play\x01\x00\x00\x40")
        client.send(bytes([0, 16, 0, 0, 60, 2]) + bytes([0, 0, 0, 0, 60, 9]))  # channel 16, tag 9
        client.send(b"\x09")
        self.pump(lambda: client.last(0) == b"\x00")
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
        self.assertEqual(len(aside), 1)
        with open(aside[0]) as f:
            self.assertEqual(f.read(), '{"mappings": {"4": [0, 2')
        client.send(NEXT_ON_NOTE)
        self.pump(lambda: client.last(0) != b"\x00")
        self.assertEqual(self.read_json("mappings.json")["mappings"], {"4": [0, 2, 60]})
        self.assertTrue(os.path.exists(aside[0]))


class LifeCycle(SimTestCase):
    def prepare(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = [i for i, _, _ in parse_pool(client.last(3))[0]]
        client.send(NEXT_ON_NOTE + setlist_message([c, b]) + b"\x07\x02")
        self.pump(lambda: b"\x07\x02" in client.frames)
        return client, [c, b]

    def check_restored(self, setlist):
        client = self.connect()
        self.assertEqual([i for i, _, _ in parse_pool(client.last(3))[1]], setlist)
        self.assertEqual(client.last(0), b"\x00\x04next\x00\x02\x00\x3c")
        self.assertEqual(client.last(7), b"\x07\x02")
        return client

    def test_mappings_and_setlist_survive_a_reload(self):
        old, setlist = self.prepare()
        writes = []
        self.sim.song.add_data_listener(lambda: writes.append(1))
        self.sim.reload()
        self.pump(lambda: old.closed, clients=[old])
        self.check_restored(setlist)
        self.assertEqual(writes, [], "an unchanged set was written, so Live would ask to save it")
        self.run_for(TICK)
        self.assertIn(("note", 2, 60), self.sim.midi_map)

    def test_a_saved_set_keeps_its_setlist_a_different_one_sends_the_notice_first(self):
        old, setlist = self.prepare()
        self.sim.open_set(dict(simple_set(), data=dict(self.sim.song._data)))
        self.assertNotIn(2, self.check_restored(setlist).types())
        self.sim.open_set(simple_set(locators=[{"name": "Other", "beats": 0}]))
        client = self.connect()
        self.assertEqual(client.types()[:2], [2, 3])
        self.assertEqual([n for _, n, _ in parse_pool(client.last(3))[0]], ["Other"])

    def test_no_doubled_events_after_reloads(self):
        self.start(simple_set())
        for _ in range(3):
            self.sim.reload()
        self.assertEqual(len([t for t in self.sim.timers if t.running]), 1)
        client = self.connect()
        client.take()
        self.sim.song.tempo = 100
        self.sim.song._add_cue("D", 80)
        self.run_for(1.5)
        self.assertEqual(sorted(client.types()), [3, 8])
        client.take()
        client.send(b"\x01\x04")
        self.run_for(0.2)
        self.assertEqual(client.take(), [b"\x05\x01"])
        self.assertEqual(len(self.sim.song._listeners_tempo), 1)

    def test_disconnect_leaves_nothing_running(self):
        self.start(simple_set())
        client = self.connect()
        song = self.sim.song
        self.sim.disconnect()
        self.pump(lambda: client.closed, clients=[client])
        self.assertEqual([t for t in self.sim.timers if t.running], [])
        for name in ("tempo", "is_playing", "cue_points", "song_length"):
            self.assertEqual(song.__dict__.get("_listeners_" + name, []), [], name)
        for cue in song.cue_points:
            self.assertEqual(cue.__dict__.get("_listeners_name", []), [])

    def test_without_the_fast_timer_the_slow_tick_serves(self):
        real_timer = Live.Base.Timer

        def broken(*args, **kwargs):
            raise RuntimeError("no timer here")
        Live.Base.Timer = broken
        try:
            self.start(simple_set())
        finally:
            Live.Base.Timer = real_timer
        client = self.connect()
        client.take()
        client.send(b"\x01\x04")
        self.pump(lambda: client.frames, seconds=0.5)
        self.assertEqual(client.take(), [b"\x05\x01"])


class LiveRules(SimTestCase):
    def test_the_script_never_writes_from_a_listener(self):
        self.start(simple_set())
        client = self.connect()
        song = self.sim.song
        # The fake refuses such writes as Live does, so a violation cannot go unseen.
        refusing = lambda: song.stop_playing()
        song.add_tempo_listener(refusing)
        with self.assertRaisesRegex(RuntimeError, "Changes cannot be triggered by notifications"):
            song.tempo = 99
        song.remove_tempo_listener(refusing)
        Live.Base._violations[:] = []
        client.send(NEXT_ON_NOTE + b"\x01\x01")
        self.run_for(1.0)
        song.tempo = 140
        cue = song._add_cue("D", 72)
        song._rename_cue(cue, "D2")
        song._move_cue(cue, 76)
        song.stop_playing()
        song.start_playing()
        self.sim.send_midi((0x92, 60, 127))
        self.sim.reload()
        song._set_end(120)
        self.run_for(30.0)
        self.assertEqual(Live.Base._violations, [])
        self.assertEqual(self.sim.errors, [])

    def test_a_failing_step_does_not_stop_the_server(self):
        self.start(simple_set())
        client = self.connect()
        client.take()

        def broken():
            raise ValueError("broken follow")
        self.script.playback.tick = broken
        client.send(b"\x06abcdefgh")
        self.pump(lambda: client.frames)
        self.assertEqual(client.take(), [b"\x06abcdefgh"])
        self.assertTrue(any("broken follow" in line for line in self.sim.log_lines))

    def test_garbage_and_abrupt_clients_do_not_stop_the_server(self):
        self.start(simple_set())
        rude = self.connect()
        rude.send(os.urandom(2000))
        rude.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))  # reset
        rude.close()
        self.clients.remove(rude)
        self.run_for(0.1)
        client = self.connect()
        client.take()
        client.send(b"\x01\x04")
        self.pump(lambda: client.frames)
        self.assertEqual(self.sim.errors, [])


class FakeLiveOffersOnlyLive11Names(unittest.TestCase):
    """A name the fake offers but Live 11 lacks would let the script pass here and fail in Live."""

    def test_public_names_exist_in_live_11(self):
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "live11_members.json")) as f:
            members = json.load(f)
        fakes = {
            "Live.Song.Song": Live.Song.Song, "Live.Song.CuePoint": Live.Song.CuePoint,
            "Live.Song.Quantization": Live.Song.Quantization, "Live.Base.Timer": Live.Base.Timer,
            "Live.MidiMap": Live.MidiMap,
        }
        for name, fake in fakes.items():
            offered = set(n for n in dir(fake) if not n.startswith("_"))
            self.assertEqual(offered - set(members[name]), set(), name)
        base = set(members["Live.Base"]) | set(k.split(".")[2] for k in members if k.startswith("Live.Base."))
        offered = set(n for n in dir(Live.Base) if not n.startswith("_"))
        self.assertEqual(offered - base, set(), "Live.Base")


class ScriptSource(unittest.TestCase):
    ALLOWED = set(["errno", "json", "math", "os", "random", "socket", "struct", "sys", "time", "__future__",
                   "Live", "_Framework.ControlSurface"])

    def test_files_are_the_six_and_python_37_with_the_standard_library_only(self):
        folder = os.path.join(ROOT, "resources", "remote_script")
        names = sorted(os.listdir(folder))
        names = [n for n in names if n != "__pycache__"]
        self.assertEqual(names, sorted(["__init__.py", "ableton_socket_server.py", "socket_manager.py",
                                        "setlist_manager.py", "playback_controller.py", "mapping_manager.py"]))
        for name in names:
            with open(os.path.join(folder, name)) as f:
                tree = ast.parse(f.read(), name, feature_version=(3, 7))
            for node in ast.walk(tree):
                if isinstance(node, ast.Import):
                    modules = [a.name for a in node.names]
                elif isinstance(node, ast.ImportFrom) and not node.level:
                    modules = [node.module]
                else:
                    continue
                for module in modules:
                    self.assertIn(module, self.ALLOWED, "%s imports %s" % (name, module))


if __name__ == "__main__":
    unittest.main()

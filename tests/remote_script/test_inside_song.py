# SPDX-License-Identifier: MIT
"""Inside the song: position reports, sections and their jumps, STOP locators and "stop after" marks."""
import json
import struct

from support import TICK, SimTestCase, parse_pool, setlist_message, simcore, simple_set

# A 0..32 with sections Verse 8..16 and Chorus 16..32; B 32..48 ends at a STOP; C 64..96.
LOCATORS = [{"name": "A", "beats": 0}, {"name": "> Verse", "beats": 8}, {"name": ">Chorus", "beats": 16},
            {"name": "B", "beats": 32}, {"name": "Stop", "beats": 48}, {"name": "C", "beats": 64},
            {"name": "END", "beats": 96}]
SUBSCRIBE = b"\x0a\x01"
setlist_manager = simcore.load_script_package("MarquellPositionUnderTest").setlist_manager


def position(frame):
    """(song id, elapsed ms, length ms, section, state, pending) of a type 10."""
    return struct.unpack(">QIIBBB", frame[1:])


def sections(frame):
    count, offset, out = frame[9], 10, []
    for _ in range(count):
        start, length, n = struct.unpack(">IIB", frame[offset:offset + 9])
        out.append((frame[offset + 9:offset + 9 + n].decode("utf-8"), start, length))
        offset += 9 + n
    assert offset == len(frame), "bytes after the last section"
    return out


class InsideTheSong(SimTestCase):
    def setup_set(self, mode=1, description=None, **set_args):
        if description is None:
            self.client = self.serve(locators=LOCATORS, **set_args)
        else:
            self.start(description)
            self.client = self.connect()
        self.send(self.client, bytes([7, mode]) + SUBSCRIBE, lambda: 10 in self.client.types())
        return self.sim.song

    def reports(self):
        return [position(f) for f in self.client.frames if f[0] == 10]

    def marks(self):
        return list(self.client.last(12)[3:])

    def mark(self, name, value=1):
        self.send(self.client, b"\x0c" + struct.pack(">QB", self.ids[name], value), lambda: True)
        self.run_for(0.05)

    def test_an_old_client_gets_what_it_got_before_and_a_subscriber_gets_more(self):
        song = self.setup_set()
        old = self.connect()
        old.take()
        self.client.take()
        a, b, c = self.ids["A"], self.ids["B"], self.ids["C"]
        for data in [b"\x01\x01", b"\x0b" + struct.pack(">QB", a, 1), setlist_message([c, a, b]),
                     b"\x0c" + struct.pack(">QB", a, 1), b"\x07\x02", b"\x01\x04", b"\x01\x02"]:
            old.send(data)
            self.run_for(0.3)
        song.tempo = 100
        self.run_for(1.0)
        self.assertFalse(set(old.types()) & {10, 11, 12})
        self.assertEqual([f for f in self.client.frames if f[0] < 10], old.frames)
        self.assertEqual(self.marks(), [0, 1, 2])
        self.assertGreater(self.client.types().count(10), 10)

    def test_reports_follow_the_clock_with_the_sections_of_the_song(self):
        for tempo in (120.0, 97.3):
            with self.subTest(tempo=tempo):
                song = self.setup_set(tempo=tempo)
                ms = 60000.0 / tempo
                self.assertEqual(sections(self.client.last(11)),
                                 [("Verse", int(8 * ms), int(8 * ms)), ("Chorus", int(16 * ms), int(16 * ms))])
                self.assertEqual(self.marks(), [0, 2, 0])
                self.client.take()
                self.client.send(b"\x01\x01")
                times, errors = [], []
                for _ in range(300):
                    self.run_for(TICK)
                    for report in self.reports():
                        times.append(self.sim.clock.now())
                        errors.append(abs(report[1] - song.current_song_time * ms))
                    self.client.take()
                gaps = [b - a for a, b in zip(times, times[1:])]
                self.assertLessEqual(max(errors), 1.0)
                self.assertLessEqual(max(gaps), 0.1 + 1e-6)
            self.doCleanups()
            self.setUp()

    def test_section_jumps_land_on_the_grid_or_where_the_playing_section_ends(self):
        # (cue mode, tempo, quantization, ask at beat, section, lands at beat)
        for mode, tempo, quantization, ask, section, lands in [
                (1, 120.0, 4, 9.0, 1, 12.0), (1, 90.0, 7, 9.5, 1, 10.0), (1, 174.0, 0, 9.0, 1, 9.0),
                (1, 120.0, 3, 2.0, 1, 8.0), (2, 120.0, 4, 9.0, 0, 16.0), (2, 140.0, 7, 17.0, 0, 32.0),
                (2, 128.0, 0, 3.0, 1, 8.0), (2, 120.0, 4, 20.0, 1, 32.0)]:
            with self.subTest(mode=mode, tempo=tempo, quantization=quantization, ask=ask, section=section):
                song = self.setup_set(mode, tempo=tempo, quantization=quantization)
                self.client.send(b"\x01\x01")
                self.pump(lambda: song.current_song_time >= ask, seconds=20)
                self.client.take()
                self.client.send(b"\x0b" + struct.pack(">QB", self.ids["A"], section))
                step, times = TICK * tempo / 60.0, [song.current_song_time]
                for _ in range(3000):  # until the play position leaps
                    self.run_for(TICK)
                    times.append(song.current_song_time)
                    if abs(times[-1] - times[-2] - step) > 1e-6:
                        break
                target = LOCATORS[1 + section]["beats"]
                self.assertAlmostEqual(times[-2] + step - (times[-1] - target), lands, delta=3 * step)
                self.run_for(0.2)
                waiting = [r for r in self.reports() if r[4] & 4]
                self.assertEqual(bool(waiting), quantization > 0 or mode == 2)  # no quantization: at once
                self.assertTrue(all(r[5] == section for r in waiting))
                self.assertEqual(self.reports()[-1][3:6:2], (section, 255))
            self.doCleanups()
            self.setUp()

    def test_playback_stops_after_a_stop_locator_or_a_marked_song_and_the_next_waits(self):
        # (song marked, cue mode, play from position, stops at beat, next position)
        for marked, mode, start, stops_at, following in [
                (None, 1, 1, 48, 2), (None, 2, 1, 48, 2), ("A", 1, 0, 32, 1), ("A", 2, 0, 32, 1)]:
            with self.subTest(marked=marked, mode=mode):
                song = self.setup_set(mode)
                if marked:
                    self.mark(marked)
                self.send(self.client, bytes([3, start, 1, 1]), lambda: song.is_playing)
                times = []
                self.pump(lambda: times.append(song.current_song_time) or not song.is_playing, seconds=30)
                self.assertTrue(stops_at - 0.05 < times[-2] < stops_at, times[-2])  # the last tick before the end
                start_of_next = {1: 32.0, 2: 64.0}[following]
                self.assertEqual((self.script.setlist.position, song.current_song_time), (following, start_of_next))
                self.assertTrue(any(r[4] & 2 for r in self.reports()))
                self.run_for(0.1)
                last = self.reports()[-1]
                self.assertEqual((last[0], last[1], last[4] & 1), (self.script.setlist.current_id(), 0, 0))
                self.send(self.client, b"\x01\x01", lambda: song.current_song_time > start_of_next)
            self.doCleanups()
            self.setUp()

    def test_marks_survive_a_reorder_and_a_live_restart_and_old_sets_open_as_before(self):
        self.setup_set(mode=2)
        a, b, c = self.ids["A"], self.ids["B"], self.ids["C"]
        self.mark("A")
        self.send(self.client, setlist_message([c, a, b]), lambda: True)
        self.run_for(0.3)
        self.assertEqual(self.marks(), [0, 1, 2])
        saved = self.sim.song.get_data("marquell", None)
        self.assertEqual(json.loads(saved)["stop_after"], [a])
        before = json.dumps(dict((k, v) for k, v in json.loads(saved).items() if k != "stop_after"))
        for data, marks in [(saved, [0, 1, 2]), (before, [0, 0, 2])]:
            with self.subTest(marks=marks):
                self.sim.open_set(dict(simple_set(locators=LOCATORS), data={"marquell": data}))
                self.sim.advance(TICK)
                self.client = self.connect()
                self.send(self.client, SUBSCRIBE, lambda: 12 in self.client.types())
                pool, setlist = parse_pool(self.client.last(3))
                self.assertEqual(([i for i, _, _ in setlist], self.client.last(7)[1], self.marks()), ([c, a, b], 2, marks))
        # A setlist that drops the song drops its mark; one that keeps it keeps it.
        self.mark("A")
        for order, marks in [([a, b], [1, 2]), ([c, b], [0, 2]), ([c, a, b], [0, 0, 2])]:
            self.send(self.client, setlist_message(order), lambda: True)
            self.run_for(0.3)
            self.assertEqual(self.marks(), marks)

    def test_requests_that_do_not_fit_are_logged_and_change_nothing(self):
        self.setup_set()
        self.send(self.client, setlist_message([self.ids["A"], self.ids["B"]]), lambda: True)
        self.run_for(0.3)
        for data, logged in [(b"\x0b" + struct.pack(">QB", self.ids["B"], 0), "plays now"),
                             (b"\x0b" + struct.pack(">QB", self.ids["A"], 2), "does not exist"),
                             (b"\x0c" + struct.pack(">QB", self.ids["C"], 1), "not in the setlist"),
                             (b"\x0c" + struct.pack(">QB", self.ids["A"], 2), "refused")]:
            with self.subTest(logged=logged):
                self.client.take()
                self.send(self.client, data, lambda: any(logged in line for line in self.sim.log_lines))
                self.run_for(0.1)
                self.assertEqual((self.script.setlist.stop_after, self.sim.song.current_song_time), (set(), 0.0))
                self.assertFalse(self.client.frames)

    def test_a_song_with_many_long_section_names_still_fits_one_frame(self):
        manager = setlist_manager.SetlistManager(lambda t: None)
        manager.load(None)
        manager.rebuild([("Long", 0)] + [("> " + "é" * 200, 1 + i) for i in range(300)], 400)
        frame = setlist_manager.sections_message(manager.songs[0], 120.0)
        self.assertLessEqual(len(frame), 4096)
        self.assertEqual((len(sections(frame)) > 100, len(manager.songs[0].sections)), (True, 255))

# SPDX-License-Identifier: MIT
"""Transport, cue jump modes and following the setlist, against the simulated transport."""
import unittest

from support import TICK, SimTestCase, parse_pool, setlist_message, simple_set

# simple_set: A 0..32, B 32..48, C 48..96, END at 96 (beats).
A, B, C = 0, 32, 48


class TransportBase(SimTestCase):
    def setup_set(self, tempo=120.0, quantization=4, order=None, mode=1):
        self.start(simple_set(tempo=tempo, quantization=quantization))
        self.client = self.connect()
        self.ids = dict((n, i) for i, n, _ in parse_pool(self.client.last(3))[0])
        if order:
            self.client.take()
            self.client.send(setlist_message([self.ids[n] for n in order]))
            self.pump(lambda: 3 in self.client.types())
        if mode != 1:
            self.client.send(bytes([7, mode]))
            self.pump(lambda: bytes([7, mode]) in self.client.frames)
        self.client.take()
        return self.sim.song

    def command(self, *data):
        self.client.send(bytes(data))
        self.run_for(2 * TICK)

    def positions(self):
        return [f[1] for f in self.client.frames if f[0] == 5]

    def beats(self, seconds):
        return seconds * self.sim.song.tempo / 60.0


class StoppedTransport(TransportBase):
    def test_next_and_previous_clamp_at_both_ends_and_move_the_start(self):
        song = self.setup_set()
        self.command(1, 3)
        self.assertEqual(self.positions(), [])
        for _ in range(4):
            self.command(1, 4)
        self.assertEqual(self.positions(), [1, 2])
        self.assertEqual(song.current_song_time, C)
        self.assertFalse(song.is_playing)
        self.client.take()
        self.command(1, 3)
        self.assertEqual(self.positions(), [1])
        self.assertEqual(song.current_song_time, B)

    def test_play_starts_at_the_current_songs_locator(self):
        song = self.setup_set()
        self.command(3, 1)
        song.current_song_time = 40.0  # the user clicks elsewhere in the arrangement
        self.command(1, 1)
        self.assertTrue(song.is_playing)
        self.assertLess(song.current_song_time - B, self.beats(3 * TICK))
        self.pump(lambda: b"\x01\x01" in self.client.frames)
        self.command(1, 2)
        self.assertFalse(song.is_playing)
        self.pump(lambda: b"\x01\x02" in self.client.frames)

    def test_select_index_out_of_range_is_ignored(self):
        song = self.setup_set()
        self.command(3, 7)
        self.assertEqual(self.script.setlist.position, 0)
        self.assertEqual(song.current_song_time, 0)


class FollowingTheSetlist(TransportBase):
    def test_reordered_setlist_is_followed_at_several_tempos_and_quantizations(self):
        for tempo in (60.0, 128.0, 174.5):
            for quantization in (0, 2, 4, 7, 11):
                with self.subTest(tempo=tempo, quantization=quantization):
                    self.follow(tempo, quantization)
                self.tearDown()
                self.setUp()

    def follow(self, tempo, quantization):
        song = self.setup_set(tempo, quantization, order=["C", "A", "B"])
        self.assertEqual(self.script.setlist.position, 1)  # the position stays with its song, A
        self.command(3, 0)
        self.command(1, 1)
        self.assertTrue(song.is_playing)
        start_clock, start_beats = self.sim.clock.now(), song.current_song_time
        self.assertLess(start_beats - C, self.beats(3 * TICK))

        def played():
            return start_beats - C + self.beats(self.sim.clock.now() - start_clock)

        # Jumps quantized by Live land exactly on the song's end; an unquantized
        # jump happens on the first tick past it.
        slack = 1e-6 if quantization else self.beats(TICK) + 1e-6
        self.run_for((48 + 8) * 60.0 / tempo - (self.sim.clock.now() - start_clock))
        self.assertEqual(self.script.setlist.position, 1)
        expected = A + played() - 48
        self.assertLessEqual(song.current_song_time, expected + 1e-6)
        self.assertGreaterEqual(song.current_song_time, expected - slack)
        # A runs straight into B: no jump, only the position moves.
        self.run_for(30 * 60.0 / tempo)
        self.assertEqual(self.script.setlist.position, 2)
        self.assertTrue(B <= song.current_song_time < B + 16)
        # B is the last song of the setlist: playback stops at its end.
        self.run_for(16 * 60.0 / tempo)
        self.assertFalse(song.is_playing)
        self.assertLess(song.current_song_time - 48, self.beats(TICK) + 1e-6)
        self.assertEqual(self.positions(), [0, 1, 2])
        self.assertEqual([f for f in self.client.frames if f[0] == 1], [b"\x01\x01", b"\x01\x02"])

    def test_the_user_relocating_across_a_song_end_is_not_a_song_end(self):
        song = self.setup_set(order=["A", "B"], quantization=0)
        self.command(1, 1)
        self.run_for(1.0)
        song.current_song_time = C + 4  # the user clicks into C, which is not in the setlist
        self.run_for(1.0)
        self.assertTrue(song.is_playing)
        self.assertTrue(C + 4 <= song.current_song_time < C + 7)
        self.assertEqual(self.script.setlist.position, 0)

    def test_an_end_off_the_grid_lands_late_and_warns(self):
        self.start(simple_set(locators=[{"name": "A", "beats": 0}, {"name": "B", "beats": 30},
                                        {"name": "C", "beats": 64}], end=96))
        self.client = self.connect()
        ids = [i for i, _, _ in parse_pool(self.client.last(3))[0]]
        self.client.send(setlist_message([ids[0], ids[2]]))
        self.pump(lambda: 3 in self.client.types())
        self.command(1, 1)
        self.run_for(33 * 0.5)  # A ends at 30, off the 1-bar grid: C starts at the bar, beat 32
        self.assertEqual(self.script.setlist.position, 1)
        self.assertTrue(64 <= self.sim.song.current_song_time < 64 + 1.1)
        self.assertTrue(any("off the launch quantization grid" in line for line in self.sim.log_lines))


class CueJumpModes(TransportBase):
    def test_jump_now_moves_at_the_next_quantization_step(self):
        song = self.setup_set(quantization=4)
        self.command(1, 1)
        self.run_for(5.0)  # 10 beats into A
        self.command(1, 4)
        self.assertEqual(self.positions(), [1])  # announced at once
        self.assertLess(song.current_song_time, 12)
        self.run_for(1.5)  # the 1-bar step at beat 12 has passed
        self.assertTrue(B <= song.current_song_time < B + 2)
        self.assertEqual(self.script.setlist.position, 1)

    def test_end_of_song_waits_for_the_playing_song_to_end(self):
        song = self.setup_set(mode=2)
        self.command(1, 1)
        self.run_for(2.0)
        self.command(1, 4)
        self.command(1, 4)  # C is chosen; B is skipped
        self.assertEqual(self.positions(), [1, 2])
        self.run_for(10.0)  # A ends at beat 32, after 16 s
        self.assertTrue(song.current_song_time < A + 32)
        self.run_for(8.0)  # 8 beats past A's end
        self.assertTrue(C + 7.9 <= song.current_song_time < C + 8.2, song.current_song_time)
        self.assertEqual(self.script.setlist.position, 2)
        self.run_for(24.0)  # C was the last song
        self.assertFalse(song.is_playing)

    def test_end_of_song_choosing_the_playing_song_cancels_the_change(self):
        song = self.setup_set(mode=2, order=["A", "C"])
        self.command(1, 1)
        self.command(1, 4)
        self.command(1, 3)
        self.run_for(17.0)
        self.assertEqual(self.script.setlist.position, 1)
        self.assertTrue(C <= song.current_song_time < C + 4, song.current_song_time)

    def test_playing_a_pool_song(self):
        song = self.setup_set(order=["A", "C"])
        self.client.send(bytes([5]) + self.ids["C"].to_bytes(8, "big"))
        self.run_for(3 * TICK)
        self.assertTrue(song.is_playing)
        self.assertEqual(self.script.setlist.position, 1)
        self.assertTrue(C <= song.current_song_time < C + 1)
        # A song outside the setlist plays now and stops at its end.
        self.client.send(bytes([5]) + self.ids["B"].to_bytes(8, "big"))
        self.run_for(2.0)
        self.assertTrue(B <= song.current_song_time < B + 4)
        self.assertEqual(self.script.setlist.position, 1)
        self.run_for(8.0)
        self.assertFalse(song.is_playing)


if __name__ == "__main__":
    unittest.main()

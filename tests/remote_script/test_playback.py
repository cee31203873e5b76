# SPDX-License-Identifier: MIT
"""Transport, cue jump modes and following the setlist, against the simulated transport."""
from unittest import mock

from support import TICK, SimTestCase, setlist_message

A, B, C = 0, 32, 48


class TransportBase(SimTestCase):
    def setup_set(self, order=None, mode=None, **set_args):
        self.client = self.serve(**set_args)
        data = (setlist_message([self.ids[n] for n in order]) if order else b"") + bytes([7, mode] if mode else [])
        self.send(self.client, data + b"\x06abcdefgh", lambda: 6 in self.client.types())
        self.client.take()
        return self.sim.song

    def command(self, *data, wait=2 * TICK):
        self.client.send(bytes(data))
        self.run_for(wait)

    def positions(self):
        return [f[1] for f in self.client.frames if f[0] == 5]

    def beats(self, seconds):
        return seconds * self.sim.song.tempo / 60.0

    def expect(self, lo, hi, position, playing=True):
        self.assertTrue(lo <= self.sim.song.current_song_time < hi, self.sim.song.current_song_time)
        self.assertEqual((self.script.setlist.position, self.sim.song.is_playing), (position, playing))


class StoppedTransport(TransportBase):
    def test_next_and_previous_clamp_at_both_ends_and_move_the_start_where_play_begins(self):
        song = self.setup_set()
        # (commands, positions sent, start after them); (3, 7) selects past the end
        for commands, positions, start in [([(1, 3), (3, 7)], [], A), ([(1, 4)] * 4, [1, 2], C), ([(1, 3)], [1], B)]:
            self.client.take()
            for command in commands:
                self.command(*command)
            self.assertEqual((self.positions(), song.current_song_time, song.is_playing), (positions, start, False))
        song.current_song_time = 40.0  # the user clicks elsewhere in the arrangement
        self.command(1, 1)
        self.expect(B, B + self.beats(3 * TICK), 1)  # play starts at the current song's locator
        self.pump(lambda: b"\x01\x01" in self.client.frames)
        self.command(1, 2)
        self.assertFalse(song.is_playing)
        self.pump(lambda: b"\x01\x02" in self.client.frames)


class FollowingTheSetlist(TransportBase):
    def test_reordered_setlist_is_followed_at_several_tempos_and_quantizations(self):
        for tempo in (60.0, 128.0, 174.5):
            for quantization in (0, 2, 4, 7, 11):
                with self.subTest(tempo=tempo, quantization=quantization):
                    self.follow(tempo, quantization)
                self.doCleanups()
                self.setUp()

    def follow(self, tempo, quantization):
        song = self.setup_set(["C", "A", "B"], tempo=tempo, quantization=quantization)
        self.assertEqual(self.script.setlist.position, 1)  # the position stays with its song, A
        self.command(3, 0)
        self.command(1, 1)
        self.expect(C, C + self.beats(3 * TICK), 0)
        start_clock, start_beats = self.sim.clock.now(), song.current_song_time
        # Live lands a quantized jump exactly on the song's end, an unquantized one on the first tick past it.
        slack = 1e-6 if quantization else self.beats(TICK) + 1e-6
        self.run_for((48 + 8) * 60.0 / tempo - (self.sim.clock.now() - start_clock))
        landed = A + start_beats - C + self.beats(self.sim.clock.now() - start_clock) - 48
        self.expect(landed - slack, landed + 1e-6, 1)
        # A runs straight into B: no jump, only the position moves.
        self.run_for(30 * 60.0 / tempo)
        self.expect(B, B + 16, 2)
        # B is the last song of the setlist: playback stops at its end.
        self.run_for(16 * 60.0 / tempo)
        self.expect(48 - 1e-6, 48 + self.beats(TICK) + 1e-6, 2, playing=False)
        self.assertEqual(self.positions(), [0, 1, 2])
        self.assertEqual([f for f in self.client.frames if f[0] == 1], [b"\x01\x01", b"\x01\x02"])

    def test_the_user_relocating_across_a_song_end_is_not_a_song_end(self):
        song = self.setup_set(["A", "B"], quantization=0)
        self.command(1, 1, wait=1.0)
        song.current_song_time = C + 4  # the user clicks into C, which is not in the setlist
        self.run_for(1.0)
        self.expect(C + 4, C + 7, 0)

    def test_an_end_off_the_grid_lands_late_and_warns(self):
        self.setup_set(["A", "C"], locators=[{"name": "A", "beats": 0}, {"name": "B", "beats": 30},
                                             {"name": "C", "beats": 64}])
        self.command(1, 1, wait=33 * 0.5)  # A ends at 30, off the 1-bar grid: C starts at the bar, beat 32
        self.expect(64, 64 + 1.1, 1)
        self.assertTrue(any("off the launch quantization grid" in line for line in self.sim.log_lines))


class CueJumpModes(TransportBase):
    def test_jump_now_moves_at_the_next_quantization_step(self):
        song = self.setup_set(quantization=4)
        self.command(1, 1, wait=5.0)  # 10 beats into A
        self.command(1, 4)
        self.assertEqual(self.positions(), [1])  # announced at once
        self.assertLess(song.current_song_time, 12)
        self.run_for(1.5)  # the 1-bar step at beat 12 has passed
        self.expect(B, B + 2, 1)

    def test_end_of_song_waits_for_the_playing_song_to_end(self):
        song = self.setup_set(mode=2)
        self.command(1, 1, wait=2.0)
        self.command(1, 4)
        self.command(1, 4)  # C is chosen; B is skipped
        self.assertEqual(self.positions(), [1, 2])
        self.run_for(10.0)  # A ends at beat 32, after 16 s
        self.expect(A, A + 32, 2)
        self.run_for(8.0)  # 8 beats past A's end
        self.expect(C + 7.9, C + 8.2, 2)
        self.run_for(24.0)  # C was the last song
        self.assertFalse(song.is_playing)

    def test_end_of_song_choosing_the_playing_song_cancels_the_change(self):
        self.setup_set(["A", "C"], mode=2)
        self.command(1, 1)
        self.command(1, 4)
        self.command(1, 3, wait=17.0)
        self.expect(C, C + 4, 1)

    def test_a_jump_live_dropped_does_not_stop_the_following(self):
        song = self.setup_set(["A", "C"])
        self.command(1, 1)
        with mock.patch.object(type(song.cue_points[0]), "jump"):  # Live drops the jump to C
            self.run_for(26.0)  # B, not in the setlist, ends at beat 48
        self.assertFalse(song.is_playing)

    def test_playing_a_pool_song(self):
        song = self.setup_set(["A", "C"])
        self.command(5, *self.ids["C"].to_bytes(8, "big"))
        self.expect(C, C + 1, 1)
        # A song outside the setlist plays now and stops at its end.
        self.command(5, *self.ids["B"].to_bytes(8, "big"), wait=2.0)
        self.expect(B, B + 4, 1)
        self.run_for(8.0)
        self.assertFalse(song.is_playing)


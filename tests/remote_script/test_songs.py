# SPDX-License-Identifier: MIT
"""Songs from locators: order, END, lengths, stable ids, the position, and the pool sent as they change."""
import struct
import unittest

from support import SimTestCase, parse_pool, simcore

setlist_manager = simcore.load_script_package("MarquellSongsUnderTest").setlist_manager


def manager(cues, end):
    m = setlist_manager.SetlistManager(lambda text: None)
    m.load(None)
    m.rebuild(cues, end)
    return m


class SongsFromLocators(unittest.TestCase):
    def test_songs_run_from_locator_to_locator_in_time_order(self):
        cases = [  # (locators, arrangement end, [(name, start, end)])
            ([("Two", 64), (" End", 96), ("One", 0), ("Three", 128), ("After", 160)], 200,
             [("One", 0, 64), ("Two", 64, 96), ("Three", 128, 160), ("After", 160, 200)]),
            ([("b", 8), ("a", 8), ("c", 16)], 24, [("b", 8, 8), ("a", 8, 16), ("c", 16, 24)])]
        for cues, end, expected in cases:
            with self.subTest(cues=cues):
                self.assertEqual([(s.name, s.start, s.end) for s in manager(cues, end).songs], expected)

    def test_lengths_at_a_constant_tempo(self):
        for beats, bpm, text in [(7200, 120, "1:00:00"), (361, 120, "3:01"), (7200, 90, "1:20:00"), (119, 60, "1:59")]:
            with self.subTest(beats=beats, bpm=bpm):
                self.assertEqual(setlist_manager.length_text(beats, bpm), text)  # half a second rounds up

    def test_the_position_follows_its_song_and_ids_never_repeat(self):
        m = manager([("A", 0), ("B", 32), ("C", 48)], 64)
        a, b, c = [s.id for s in m.songs]
        m.position = 1
        m.replace_setlist([(c, ""), (a, ""), (b, "")])
        self.assertEqual(m.position, 2)
        m.replace_setlist([(c, "")])
        self.assertEqual(m.position, 0)
        m.rebuild([("A", 0), ("B", 32)], 64)  # C's locator deleted
        self.assertEqual((m.setlist, m.position), ([], None))
        m.rebuild([("A", 0), ("B", 32), ("New", 48)], 64)
        self.assertNotIn(m.songs[-1].id, (a, b, c))
        self.assertTrue(all(struct.pack(">Q", s.id)[0] >= 0x80 for s in m.songs))


class SongsInTheSimulator(SimTestCase):
    def test_locators_tempo_and_the_arrangement_end_send_a_new_pool(self):
        client, song = self.serve(), self.sim.song

        def after(change, kinds=(3,)):
            client.take()
            change()
            self.pump(lambda: all(k in client.types() for k in kinds))
            pool = parse_pool(client.last(3))[0]
            return [i for i, _, _ in pool], [(n, l) for _, n, l in pool]

        ids, songs = after(lambda: song._add_cue("D", 64))
        self.assertEqual(songs, [("A", "0:16"), ("B", "0:08"), ("C", "0:08"), ("D", "0:16")])
        self.assertEqual(after(lambda: song._rename_cue(song.cue_points[4], "D!")), (ids, songs[:3] + [("D!", "0:16")]))
        # A moved locator keeps its id; a renamed END becomes a song.
        moved_ids, songs = after(lambda: (song._move_cue(song.cue_points[0], 40),
                                          song._rename_cue(song.cue_points[3], "Coda")))
        self.assertEqual(moved_ids[:4], ids)
        self.assertEqual(songs, [("A", "0:20"), ("B", "0:04"), ("C", "0:08"), ("D!", "0:16"), ("Coda", "0:00")])
        # Live tells nothing when the arrangement's end moves: it is looked at now and then.
        self.assertEqual(after(lambda: setattr(song, "_end", 128.0))[1][-1], ("Coda", "0:16"))
        self.assertEqual(after(lambda: setattr(song, "tempo", 128.14), (3, 8))[1][0], ("A", "0:19"))
        self.assertEqual(client.last(8), struct.pack(">BI", 8, 12814))  # 12813.99... rounded

    def test_tempo_automation_is_debounced(self):
        client = self.serve()
        for step in range(200):  # a ramp of two seconds, a change every tick
            self.sim.song.tempo = 120 + step * 0.1
            self.run_for(0.01)
        self.run_for(0.5)
        self.assertIn(client.types().count(8), (2, 3))  # during the ramp too, not only at its end
        self.assertLessEqual(client.types().count(3), 3)
        self.assertEqual(client.last(8), struct.pack(">BI", 8, 13990))


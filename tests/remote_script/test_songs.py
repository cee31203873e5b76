# SPDX-License-Identifier: MIT
"""Songs from locators: order, END, lengths, stable ids, the stored setlist."""
import json
import random
import struct
import unittest

from support import SimTestCase, parse_pool, setlist_message, simple_set, simcore

setlist_manager = simcore.load_script_package("MarquellSongsUnderTest").setlist_manager


def manager(cues, end, seed=1):
    m = setlist_manager.SetlistManager(lambda text: None, rng=random.Random(seed))
    m.load(None)
    m.rebuild(cues, end)
    return m


class SongsFromLocators(unittest.TestCase):
    def test_songs_run_from_locator_to_locator_in_time_order(self):
        cases = [  # (locators, arrangement end, [(name, start, end)])
            ([("Two", 64), ("End", 96), ("One", 0), ("Three", 128), ("After", 160)], 200,
             [("One", 0, 64), ("Two", 64, 96), ("Three", 128, 160), ("After", 160, 200)]),
            ([("b", 8), ("a", 8), ("c", 16)], 24, [("b", 8, 8), ("a", 8, 16), ("c", 16, 24)]),
        ]
        for cues, end, expected in cases:
            with self.subTest(cues=cues):
                self.assertEqual([(s.name, s.start, s.end) for s in manager(cues, end).songs], expected)

    def test_lengths_follow_the_tempo(self):
        m = manager([("Long", 0), ("Short", 7200)], 7200 + 361)
        self.assertEqual(parse_pool(m.pool_message(120.0))[0][0][2], "1:00:00")
        self.assertEqual(parse_pool(m.pool_message(120.0))[0][1][2], "3:01")  # 180.5 s rounds up
        self.assertEqual(parse_pool(m.pool_message(90.0))[0][0][2], "1:20:00")
        self.assertEqual(setlist_manager.length_text(119, 60), "1:59")

    def test_ids_survive_rename_and_move_and_never_repeat(self):
        m = manager([("A", 0), ("B", 32), ("C", 64)], 96)
        a, b, c = [s.id for s in m.songs]
        m.rebuild([("A2", 0), ("B", 48), ("C", 64)], 96)  # A renamed, B moved
        self.assertEqual([s.id for s in m.songs], [a, b, c])
        m.rebuild([("A2", 0), ("C", 64)], 96)  # B deleted
        m.rebuild([("A2", 0), ("C", 64), ("New", 80)], 96)
        new = m.songs[-1].id
        self.assertNotIn(new, (a, b, c))
        for song in m.songs:
            self.assertGreaterEqual(struct.pack(">Q", song.id)[0], 0x80)

    def test_ids_and_setlist_survive_a_save_and_load(self):
        m = manager([("A", 0), ("B", 32)], 64)
        a, b = [s.id for s in m.songs]
        m.replace_setlist([(b, "B"), (a, "A"), (b, "B")])
        again = setlist_manager.SetlistManager(lambda text: None)
        again.load(m.save())
        again.rebuild([("A", 0), ("B", 32), ("C", 40)], 64)
        self.assertEqual(again.setlist, [b, a, b])
        self.assertEqual([s.id for s in again.songs][:2], [a, b])

    def test_a_default_setlist_follows_the_locators_an_explicit_one_does_not(self):
        m = manager([("A", 0)], 64)
        m.rebuild([("A", 0), ("B", 32)], 64)
        self.assertEqual(len(m.setlist), 2)
        m.replace_setlist([(m.songs[1].id, "B")])
        m.rebuild([("A", 0), ("B", 32), ("C", 48)], 64)
        self.assertEqual(m.setlist, [m.songs[1].id])

    def test_position_follows_its_song_when_the_setlist_changes(self):
        m = manager([("A", 0), ("B", 32), ("C", 48)], 64)
        a, b, c = [s.id for s in m.songs]
        m.position = 1
        m.replace_setlist([(c, ""), (a, ""), (b, "")])
        self.assertEqual(m.position, 2)
        m.replace_setlist([(c, "")])
        self.assertEqual(m.position, 0)
        m.rebuild([("A", 0), ("B", 32)], 64)  # C's locator deleted
        self.assertEqual((m.setlist, m.position), ([], None))

    def test_corrupt_set_data_starts_afresh(self):
        m = setlist_manager.SetlistManager(lambda text: None)
        self.assertFalse(m.load("{not json"))
        m.rebuild([("A", 0)], 8)
        self.assertEqual(len(m.setlist), 1)


class SongsInTheSimulator(SimTestCase):
    def test_locator_changes_and_tempo_send_a_new_pool(self):
        self.start(simple_set())
        client = self.connect()
        client.take()
        song = self.sim.song
        self.assertEqual([c.name for c in song.cue_points], ["B", "A", "C", "END"])
        added = song._add_cue("D", 64)
        self.pump(lambda: 3 in client.types())
        pool, _ = parse_pool(client.last(3))
        self.assertEqual([(n, l) for _, n, l in pool], [("A", "0:16"), ("B", "0:08"), ("C", "0:08"), ("D", "0:16")])
        ids = [i for i, _, _ in pool]
        client.take()
        song._rename_cue(added, "D!")
        song._move_cue(song.cue_points[0], 40)  # B moves
        self.pump(lambda: 3 in client.types())
        pool, _ = parse_pool(client.last(3))
        self.assertEqual([i for i, _, _ in pool], ids)
        self.assertEqual([n for _, n, _ in pool], ["A", "B", "C", "D!"])
        client.take()
        song.tempo = 60
        self.pump(lambda: 3 in client.types() and 8 in client.types())
        self.assertEqual(client.last(8), struct.pack(">BI", 8, 6000))
        self.assertEqual(parse_pool(client.last(3))[0][0][2], "0:40")

    def test_tempo_automation_is_debounced(self):
        self.start(simple_set())
        client = self.connect()
        client.take()
        for step in range(100):  # a ramp of one second, a change every tick
            self.sim.song.tempo = 120 + step * 0.2
            self.run_for(0.01)
        self.run_for(0.5)
        kinds = client.types()
        self.assertLessEqual(kinds.count(8), 3)
        self.assertLessEqual(kinds.count(3), 3)
        self.assertEqual(client.last(8), struct.pack(">BI", 8, 13980))

    def test_setlist_is_kept_in_the_set(self):
        self.start(simple_set())
        client = self.connect()
        a, b, c = [i for i, _, _ in parse_pool(client.last(3))[0]]
        client.take()
        client.send(setlist_message([c, a]))
        self.pump(lambda: 3 in client.types())
        stored = json.loads(self.sim.song.get_data("marquell", None))
        self.assertEqual(stored["setlist"], [c, a])


if __name__ == "__main__":
    unittest.main()

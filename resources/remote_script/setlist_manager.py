# SPDX-License-Identifier: MIT
"""Songs from the arrangement's locators, their stable ids, the setlist and its position."""
from __future__ import absolute_import

import json
import math
import random
import struct

DATA_KEY = "marquell"
END_NAME = "end"
# A STOP locator ends the song before it, as END does, and playback stops there.
STOP_NAME = "stop"
# A locator named "> Chorus" marks a section inside the song it lies in.
SECTION_MARK = ">"
MAX_SECTIONS = 255
MAX_FRAME = 4096
# Ids carry this top bit, so their first byte is never a message type nor the pool's 0x04.
ID_MARK = 1 << 63
ID_COUNTER_BITS = 24
TIME_EPSILON = 1e-6
# Names are shortened in steps before any song is left out of an oversized pool message.
NAME_LIMITS = (255, 48, 24, 12)


class Section(object):
    """name is the locator's own, to find it again; title is what clients show."""
    __slots__ = ("name", "title", "start", "end")

    def __init__(self, name, title, start, end):
        self.name = name
        self.title = title
        self.start = start
        self.end = end

    def key(self):
        return (self.name, self.start, self.end)


class Song(object):
    __slots__ = ("id", "name", "start", "end", "sections", "ends_at_stop")

    def __init__(self, song_id, name, start, end, ends_at_stop=False):
        self.id = song_id
        self.name = name
        self.start = start
        self.end = end
        self.sections = []
        self.ends_at_stop = ends_at_stop

    def key(self):
        return (self.id, self.name, self.start, self.end, self.ends_at_stop, [s.key() for s in self.sections])

    def section_at(self, beats):
        """Index of the section playing at beats, or None before the first one."""
        for index in range(len(self.sections) - 1, -1, -1):
            if self.sections[index].start - TIME_EPSILON <= beats:
                return index if beats < self.sections[index].end - TIME_EPSILON else None
        return None

    def contains(self, beats):
        return self.start - TIME_EPSILON <= beats < self.end - TIME_EPSILON

    def __repr__(self):
        return "Song(%x, %r, %s..%s)" % (self.id, self.name, self.start, self.end)


def length_text(beats, tempo):
    """'m:ss', or 'h:mm:ss' from one hour, at a constant tempo."""
    # Half a second rounds up; round() would round half to even.
    seconds = int(math.floor(max(0.0, beats) * 60.0 / tempo + 0.5)) if tempo > 0 else 0
    hours, rest = divmod(seconds, 3600)
    minutes, secs = divmod(rest, 60)
    if hours:
        return "%d:%02d:%02d" % (hours, minutes, secs)
    return "%d:%02d" % (minutes, secs)


def is_section_name(name):
    return (name or "").lstrip().startswith(SECTION_MARK)


def section_title(name, number):
    """The locator's name without its mark; an unnamed section is numbered."""
    title = (name or "").lstrip()[len(SECTION_MARK):].strip()
    return title or "Section %d" % number


def _cut_utf8(data, limit):
    if len(data) <= limit:
        return data
    return data[:limit].decode("utf-8", "ignore").encode("utf-8")


def _record(song, tempo, name_limit):
    name = _cut_utf8(song.name.encode("utf-8"), name_limit)
    length = length_text(song.end - song.start, tempo).encode("utf-8")
    return struct.pack(">QB", song.id, len(name)) + name + struct.pack("B", len(length)) + length


class SetlistManager(object):
    def __init__(self, log, rng=None):
        self._log = log
        self._rng = rng or random.Random()
        self.songs = []  # pool, sorted by time
        self.by_id = {}
        self.setlist = []  # song ids
        self.explicit_setlist = False
        self.position = None
        self.cue_mode = 1
        self.stop_after = set()  # song ids the user marked "stop after"
        self.sent_setlist = []  # the setlist songs the last type 3 held
        self._set_tag = None
        self._next_id = 1
        self.set_tag_loaded = None

    # --- persistence in the Live Set ----------------------------------------

    def load(self, raw):
        """Reads what save() stored; anything unreadable starts afresh (returns False)."""
        ok = True
        data = None
        if raw:
            try:
                data = json.loads(raw)
                if not isinstance(data, dict):
                    raise ValueError("not an object")
            except (TypeError, ValueError) as e:
                self._log("stored set data unreadable (%s); starting from the locators" % e)
                data = None
                ok = False
        data = data or {}
        try:
            self._set_tag = int(data.get("set_tag")) & ((1 << (63 - ID_COUNTER_BITS)) - 1)
            self._next_id = max(1, int(data.get("next_id", 1)))
        except (TypeError, ValueError):
            self._set_tag = None
        if not self._set_tag:
            self._set_tag = self._rng.getrandbits(63 - ID_COUNTER_BITS) or 1
        self.set_tag_loaded = self._set_tag
        self.songs = []
        for item in data.get("songs", []) if isinstance(data.get("songs"), list) else []:
            try:
                self.songs.append(Song(int(item["id"]), str(item["name"]), float(item["time"]), float(item["time"])))
            except (KeyError, TypeError, ValueError):
                ok = False
        self.by_id = dict((s.id, s) for s in self.songs)
        setlist = data.get("setlist")
        self.explicit_setlist = isinstance(setlist, list)
        self.setlist = [i for i in setlist if isinstance(i, int)] if self.explicit_setlist else []
        mode = data.get("cue_mode", 1)
        self.cue_mode = mode if mode in (1, 2) else 1
        marks = data.get("stop_after")
        self.stop_after = set(i for i in marks if isinstance(i, int)) if isinstance(marks, list) else set()
        return ok

    def save(self):
        return json.dumps({
            "version": 1,
            "set_tag": self._set_tag,
            "next_id": self._next_id,
            "songs": [{"id": s.id, "name": s.name, "time": s.start} for s in self.songs],
            "setlist": list(self.setlist) if self.explicit_setlist else None,
            "cue_mode": self.cue_mode,
            "stop_after": sorted(self.stop_after),
        }, sort_keys=True)

    # --- the pool -----------------------------------------------------------

    def _new_id(self):
        song_id = ID_MARK | (self._set_tag << ID_COUNTER_BITS) | (self._next_id & ((1 << ID_COUNTER_BITS) - 1))
        self._next_id += 1
        return song_id

    def rebuild(self, cues, arrangement_end):
        """cues: (name, beats) in any order. Returns True when the pool changed."""
        ordered = sorted(enumerate(cues), key=lambda item: (item[1][1], item[0]))
        bounds, marks = [], []
        for _, (name, beats) in ordered:
            if is_section_name(name):
                marks.append((name, float(beats)))
            else:
                bounds.append((name, float(beats), (name or "").strip().lower()))
        fresh = []
        for index, (name, beats, plain) in enumerate(bounds):
            if plain in (END_NAME, STOP_NAME):
                continue
            following = bounds[index + 1] if index + 1 < len(bounds) else None
            end = following[1] if following else max(float(arrangement_end), beats)
            fresh.append(Song(None, name, beats, end, following is not None and following[2] == STOP_NAME))
        self._add_sections(fresh, marks)
        self._assign_ids(fresh)
        changed = [s.key() for s in fresh] != [s.key() for s in self.songs]
        old_current, old_position = self.current_id(), self.position
        self.songs = fresh
        self.by_id = dict((s.id, s) for s in fresh)
        if self.explicit_setlist:
            kept = [i for i in self.setlist if i in self.by_id]
            if len(kept) != len(self.setlist):
                self._log("%d setlist entries left with their deleted locators" % (len(self.setlist) - len(kept)))
            self.setlist = kept
        else:
            self.setlist = [s.id for s in fresh]
        self.stop_after &= set(self.setlist)
        self._restore_position(old_current, old_position)
        return changed

    def _add_sections(self, songs, marks):
        for name, beats in marks:
            song = next((s for s in songs if s.contains(beats)), None)
            if song is None:
                self._log("section locator %r at beat %s lies in no song; ignored" % (name, beats))
            elif len(song.sections) < MAX_SECTIONS:
                song.sections.append(Section(name, section_title(name, len(song.sections) + 1), beats, song.end))
        for song in songs:
            for this, following in zip(song.sections, song.sections[1:]):
                this.end = following.start

    def _assign_ids(self, fresh):
        """A locator keeps its id when renamed (same time) or moved (same name)."""
        old = list(self.songs)
        used = set()
        for song in fresh:
            candidates = [o for o in old if o.id not in used and abs(o.start - song.start) < TIME_EPSILON]
            if candidates:
                named = [o for o in candidates if o.name == song.name]
                song.id = (named or candidates)[0].id
                used.add(song.id)
        for song in fresh:
            if song.id is not None:
                continue
            candidates = [o for o in old if o.id not in used and o.name == song.name]
            if candidates:
                candidates.sort(key=lambda o: abs(o.start - song.start))
                song.id = candidates[0].id
                used.add(song.id)
        for song in fresh:
            if song.id is None:
                song.id = self._new_id()

    # --- setlist and position -----------------------------------------------

    def setlist_songs(self):
        return [self.by_id[i] for i in self.setlist if i in self.by_id]

    def current_id(self):
        if self.position is None or not 0 <= self.position < len(self.setlist):
            return None
        return self.setlist[self.position]

    def current_song(self):
        return self.by_id.get(self.current_id())

    def _restore_position(self, old_id, old_position):
        """The position follows its song; without it, it stays in range."""
        if not self.setlist:
            self.position = None
            return
        if old_id is not None:
            index = self.index_of(old_id, old_position)
            if index is not None:
                self.position = index
                return
        self.position = 0 if old_position is None else min(old_position, len(self.setlist) - 1)

    def replace_setlist(self, records):
        """records: (id, name) from a client; unknown ids are dropped."""
        old_current, old_position = self.current_id(), self.position
        ids = []
        for song_id, name in records:
            if song_id in self.by_id:
                ids.append(song_id)
            else:
                self._log("setlist song %x (%r) is not in this set; left out" % (song_id, name))
        self.setlist = ids
        self.explicit_setlist = True
        # A mark stays with a song the new setlist keeps.
        self.stop_after &= set(ids)
        self._restore_position(old_current, old_position)
        return ids

    def set_stop_after(self, song_id, value):
        """Marks a setlist song; False when the song is not in the setlist."""
        if song_id not in self.setlist:
            return False
        if value:
            self.stop_after.add(song_id)
        else:
            self.stop_after.discard(song_id)
        return True

    def stops_after(self, song):
        return song is not None and (song.ends_at_stop or song.id in self.stop_after)

    def index_of(self, song_id, prefer=None):
        if prefer is not None and 0 <= prefer < len(self.setlist) and self.setlist[prefer] == song_id:
            return prefer
        try:
            return self.setlist.index(song_id)
        except ValueError:
            return None

    def song_at(self, beats):
        for song in self.songs:
            if song.contains(beats):
                return song
        return None

    # --- the type 3 message -------------------------------------------------

    def pool_message(self, tempo):
        """Pool and setlist in one frame of at most 4096 bytes, never cutting a record."""
        pool = list(self.songs)
        setlist = self.setlist_songs()
        for limit in NAME_LIMITS:
            payload = self._encode(pool, setlist, tempo, limit)
            self.sent_setlist = setlist
            if len(payload) <= MAX_FRAME:
                if limit != NAME_LIMITS[0]:
                    self._log("song pool too large for one message; names shortened to %d bytes" % limit)
                return payload
        limit = NAME_LIMITS[-1]
        in_setlist = set(s.id for s in setlist)
        while len(payload) > MAX_FRAME and any(s.id not in in_setlist for s in pool):
            for i in range(len(pool) - 1, -1, -1):
                if pool[i].id not in in_setlist:
                    del pool[i]
                    break
            payload = self._encode(pool, setlist, tempo, limit)
        while len(payload) > MAX_FRAME and setlist:
            setlist.pop()
            kept = set(s.id for s in setlist)
            pool = [s for s in pool if s.id in kept]
            payload = self._encode(pool, setlist, tempo, limit)
        self.sent_setlist = setlist
        self._log("song pool too large for one message; sent %d of %d songs and %d of %d setlist entries"
                  % (len(pool), len(self.songs), len(setlist), len(self.setlist)))
        return payload

    @staticmethod
    def _encode(pool, setlist, tempo, limit):
        parts = [b"\x03"]
        parts.extend(_record(s, tempo, limit) for s in pool)
        parts.append(b"\x04")
        parts.extend(_record(s, tempo, limit) for s in setlist)
        return b"".join(parts)


# --- messages for the clients that subscribed to the position -----------------

POSITION, SECTIONS, MARKS = 10, 11, 12
NO_SECTION = 255
PLAYING, STOPS_AFTER, SECTION_PENDING = 1, 2, 4
MARK_USER, MARK_STOP_LOCATOR = 1, 2
MAX_U32 = 0xFFFFFFFF


def ms_at(beats, tempo):
    return int(min(MAX_U32, max(0.0, beats) * 60000.0 / tempo)) if tempo > 0 else 0


def sections_message(song, tempo, log=None):
    """Type 11 for song (None: no song) in one frame; names are shortened before sections go."""
    if song is None:
        return struct.pack(">BQB", SECTIONS, 0, 0)
    sections = list(song.sections)
    while True:
        for limit in NAME_LIMITS:
            parts = [struct.pack(">BQB", SECTIONS, song.id, len(sections))]
            for section in sections:
                name = _cut_utf8(section.title.encode("utf-8"), limit)
                parts.append(struct.pack(">IIB", ms_at(section.start - song.start, tempo),
                                         ms_at(section.end - section.start, tempo), len(name)) + name)
            payload = b"".join(parts)
            if len(payload) <= MAX_FRAME:
                if len(sections) < len(song.sections) and log is not None:
                    log("%r has too many sections for one message; sent %d of %d"
                        % (song.name, len(sections), len(song.sections)))
                return payload
        sections.pop()


def marks_message(setlist):
    """Type 12: one byte per entry of the setlist the last type 3 carried."""
    marks = bytearray()
    for song in setlist.sent_setlist:
        marks.append((MARK_USER if song.id in setlist.stop_after else 0)
                     | (MARK_STOP_LOCATOR if song.ends_at_stop else 0))
    return struct.pack(">BH", MARKS, len(marks)) + bytes(marks)

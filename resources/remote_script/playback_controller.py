# SPDX-License-Identifier: MIT
"""Transport, jumps between songs, and following the setlist across song ends."""
from __future__ import absolute_import

import math
import struct

from .setlist_manager import (NO_SECTION, PLAYING, POSITION, SECTION_PENDING, STOPS_AFTER, marks_message, ms_at,
                              sections_message)

PLAY, STOP, PREVIOUS, NEXT = 1, 2, 3, 4
JUMP_NOW, END_OF_SONG = 1, 2
EPS = 1e-6
REPORT_INTERVAL = 0.1  # seconds between position reports while playing
# A position further than this from where the last report predicts is a jump: report it at once.
JUMP_MS = 30
MAX_TICK_GAP = 0.5  # seconds; far above a 10 ms timer's or a 100 ms fallback tick's jitter
# Launch quantization values: whole bars, then fixed note values in beats.
_BARS = {1: 8, 2: 4, 3: 2, 4: 1}
_BEATS = {5: 2.0, 6: 4.0 / 3, 7: 1.0, 8: 2.0 / 3, 9: 0.5, 10: 1.0 / 3, 11: 0.25, 12: 1.0 / 6, 13: 0.125}


def quantum_beats(quantization, numerator, denominator):
    """Length of one launch-quantization step in beats; 0 when jumps are immediate."""
    if quantization in _BARS:
        return _BARS[quantization] * numerator * 4.0 / denominator
    return _BEATS.get(quantization, 0.0)


def next_boundary(beats, quantum):
    """First quantization step strictly after beats, as a quantized jump lands."""
    return (math.floor(beats / quantum + 1e-9) + 1) * quantum


class PlaybackController(object):
    def __init__(self, song, setlist, cue_for, on_position, log):
        self._song = song
        self._setlist = setlist
        self._cue_for = cue_for
        self._on_position = on_position
        self._log = log
        self._last_time = None
        self._pending = None  # (song id, setlist index or None, beats waited)
        self._queued = False  # End of Song: the position's song starts when the playing one ends
        # A section jump: [song id, section index, jumped yet, beats waited since the jump]
        self._section = None
        self._cued = None  # while stopped: the beat a section jump put the start at
        self._warned_offgrid = set()

    # --- commands -------------------------------------------------------------

    def command(self, tag):
        if tag == PLAY:
            self.play()
        elif tag == STOP:
            self.stop()
        elif tag == PREVIOUS:
            self.step(-1)
        elif tag == NEXT:
            self.step(1)
        else:
            self._log("unknown transport command %d" % tag)

    def play(self):
        if self._song.is_playing:
            return
        song = self._setlist.current_song()
        self._pending = None
        self._queued = False
        self._section = None
        cued, self._cued = self._cued, None
        at_section = cued is not None and abs(self._song.current_song_time - cued) < EPS
        if song is not None and not (at_section and song.contains(cued)):
            self._jump(song)
        self._song.continue_playing()

    def stop(self):
        self._pending = None
        self._queued = False
        self._section = None
        self._song.stop_playing()

    def step(self, delta):
        position = self._setlist.position
        if position is None:
            return
        index = max(0, min(len(self._setlist.setlist) - 1, position + delta))
        if index != position:
            self.go_to(index)

    def select(self, index):
        if not 0 <= index < len(self._setlist.setlist):
            self._log("setlist index %d out of range (%d songs)" % (index, len(self._setlist.setlist)))
            return
        self.go_to(index)

    def go_to(self, index):
        self._section = self._cued = None
        self._set_position(index)
        song = self._setlist.current_song()
        if song is None:
            return
        if not self._song.is_playing:
            self._pending = None
            self._queued = False
            self._jump(song)
            return
        playing = self._setlist.song_at(self._song.current_song_time)
        if self._setlist.cue_mode == END_OF_SONG and playing is not None:
            # Choosing the song that plays already cancels the queued change.
            self._queued = playing.id != song.id
            return
        self._queued = False
        self._start_jump(song, index)

    def play_pool_song(self, song_id):
        song = self._setlist.by_id.get(song_id)
        if song is None:
            self._log("play request for unknown song %x" % song_id)
            return
        index = self._setlist.index_of(song_id, self._setlist.position)
        if index is not None:
            self._set_position(index)
        self._queued = False
        self._section = self._cued = None
        if self._song.is_playing:
            self._start_jump(song, index)
        else:
            self._pending = None
            self._jump(song)
            self._song.continue_playing()

    def jump_to_section(self, song_id, index):
        """Jump Now: at Live's next quantization step; End of Song: when the playing section ends."""
        song = self.position_song()
        if song is None or song.id != song_id:
            self._log("section jump for song %x dropped: %s plays now" % (song_id, "%r" % song.name if song else "no song"))
            return
        if not 0 <= index < len(song.sections):
            self._log("section %d of %r does not exist (%d sections)" % (index, song.name, len(song.sections)))
            return
        section = song.sections[index]
        if not self._song.is_playing:
            self._section = None
            self._jump(section)
            self._cued = section.start
            return
        self._section = [song_id, index, False, 0.0]
        if self._setlist.cue_mode == JUMP_NOW:
            self._section_jump()

    def position_song(self):
        """The song at the play position; while stopped, the setlist's current song."""
        if self._song.is_playing:
            return self._setlist.song_at(self._song.current_song_time)
        return self._setlist.current_song()

    def cued_beat(self, song):
        """While stopped: where the next play starts inside song."""
        cued = self._cued
        if cued is not None and song.contains(cued) and abs(self._song.current_song_time - cued) < EPS:
            return cued
        return song.start

    def pending_section(self):
        return self._section[1] if self._section is not None else None

    # --- following the play position -----------------------------------------

    def tick(self):
        if not self._song.is_playing:
            self._last_time = None
            self._pending = None
            self._queued = False
            self._section = None
            return
        now = self._song.current_song_time
        prev = self._last_time
        self._last_time = now
        if prev is None:
            return
        if self._pending is not None:
            self._wait_for_landing(prev, now)
            return
        playing = self._setlist.song_at(prev)
        if playing is None:
            return
        if self._section is not None and self._follow_section(playing, prev, now):
            return
        end = playing.end
        if prev < end - EPS and now >= end - EPS:
            # A leap further than playback moves between ticks is the user relocating.
            if now - prev <= self._song.tempo / 60.0 * MAX_TICK_GAP:
                self._song_ends(playing, True)
            return
        quantum = self._quantum()
        if quantum > 0 and now < end - EPS and next_boundary(now, quantum) >= end - EPS:
            self._song_ends(playing, False)

    def _wait_for_landing(self, prev, now):
        song_id, index, waited = self._pending
        target = self._setlist.by_id.get(song_id)
        if target is None:
            self._pending = None
            return
        if target.contains(now) and (now < prev - EPS or not target.contains(prev)):
            self._pending = None
            if index is not None:
                self._set_position(index)
            return
        waited += max(0.0, now - prev)
        # A jump that Live dropped must not stop the setlist from being followed.
        if waited > self._quantum() + 8.0:
            self._log("jump to %r did not happen; following the play position again" % target.name)
            self._pending = None
            return
        self._pending = (song_id, index, waited)

    def _follow_section(self, playing, prev, now):
        """Drives a section jump; True while it holds back the song's own end."""
        song_id, index, jumped, waited = self._section
        if playing.id != song_id or index >= len(playing.sections):
            self._section = None  # the user relocated to another song
            return False
        target = playing.sections[index]
        # Landing is entering the section, or a leap back into it when it was playing already.
        entered = playing.section_at(now) == index and playing.section_at(prev) != index
        if entered or (jumped and now < prev - EPS and playing.section_at(now) == index):
            self._section = None
            return False
        if jumped:
            self._section[3] = waited + max(0.0, now - prev)
            if self._section[3] > self._quantum() + 8.0:
                self._log("jump to section %r did not happen" % target.title)
                self._section = None
            return True
        end = self._section_end(playing, prev)
        if abs(end - target.start) < EPS:
            return True  # the section follows on its own
        quantum = self._quantum()
        if now >= end - EPS or (quantum > 0 and next_boundary(now, quantum) >= end - EPS):
            self._section_jump()
        return True

    @staticmethod
    def _section_end(song, beats):
        current = song.section_at(beats)
        if current is not None:
            return song.sections[current].end
        following = [s.start for s in song.sections if s.start > beats + EPS]
        return following[0] if following else song.end

    def _section_jump(self):
        song = self._setlist.by_id.get(self._section[0])
        self._jump(song.sections[self._section[1]])
        self._section[2] = True

    def _song_ends(self, playing, at_end):
        """at_end: the end was crossed; otherwise it is one quantization step away."""
        setlist = self._setlist
        if setlist.stops_after(playing):
            if at_end:
                self._stop_after(playing)
            return
        if self._queued:
            index = setlist.position
        else:
            current = setlist.index_of(playing.id, setlist.position)
            if current is None or current + 1 >= len(setlist.setlist):
                if at_end:
                    self._log("end of %r: %s; stopping" % (playing.name, "last song of the setlist" if current is not None else "not in the setlist"))
                    self.stop()
                return
            index = current + 1
        target = setlist.by_id.get(setlist.setlist[index]) if index is not None and index < len(setlist.setlist) else None
        if target is None:
            self._queued = False
            return
        if abs(target.start - playing.end) < EPS:
            if at_end:
                self._queued = False
                self._set_position(index)
            return
        if not at_end:
            self._warn_offgrid(playing)
        self._queued = False
        self._start_jump(target, index)

    def _stop_after(self, playing):
        """Stops at the end, and the next song waits, selected, for the next play."""
        setlist = self._setlist
        if self._queued:
            index = setlist.position
        else:
            current = setlist.index_of(playing.id, setlist.position)
            index = current + 1 if current is not None and current + 1 < len(setlist.setlist) else None
        self._log("end of %r: stopping after this song" % playing.name)
        self.stop()
        if index is None:
            return
        self._set_position(index)
        following = setlist.current_song()
        if following is not None:
            self._jump(following)

    def _warn_offgrid(self, playing):
        quantum = self._quantum()
        if quantum <= 0 or playing.id in self._warned_offgrid:
            return
        steps = playing.end / quantum
        if abs(steps - round(steps)) > 1e-6:
            self._warned_offgrid.add(playing.id)
            self._log("end of %r is off the launch quantization grid; the next song starts late" % playing.name)

    # --- helpers --------------------------------------------------------------

    def _quantum(self):
        song = self._song
        return quantum_beats(song.clip_trigger_quantization, song.signature_numerator, song.signature_denominator)

    def _start_jump(self, song, index):
        self._jump(song)
        self._pending = (song.id, index, 0.0)

    def _jump(self, song):
        cue = self._cue_for(song)
        if cue is not None:
            cue.jump()
        else:
            self._song.current_song_time = song.start

    def _set_position(self, index):
        if index != self._setlist.position:
            self._setlist.position = index
            self._on_position(index)


class PositionReporter(object):
    """Decides when subscribers hear of the position and the sections."""

    def __init__(self, song, setlist, playback, clock, send, log):
        self._log = log
        self._song = song
        self._setlist = setlist
        self._playback = playback
        self._clock = clock
        self._send = send  # payload -> every subscriber
        self._state = None
        self._sent_at = None
        self._elapsed_sent = 0
        self._sections = None
        self._sections_stale = True

    def sections_changed(self):
        """Locators or the tempo moved: the sections' times need sending again."""
        self._sections_stale = True

    def greeting(self):
        """What a client gets when it subscribes, in order."""
        song = self._playback.position_song()
        return [sections_message(song, self._song.tempo), marks_message(self._setlist), self.position(song)[0]]

    def position(self, song):
        """For song, the one at the play position: (type 10 payload, what makes a change
        worth a report at once, elapsed ms)."""
        playing = bool(self._song.is_playing)
        tempo = self._song.tempo
        pending = self._playback.pending_section()
        state = (PLAYING if playing else 0) | (SECTION_PENDING if pending is not None else 0)
        if song is None:
            elapsed = length = 0
            section = NO_SECTION
        else:
            beats = self._song.current_song_time if playing else self._playback.cued_beat(song)
            elapsed = ms_at(beats - song.start, tempo)
            length = ms_at(song.end - song.start, tempo)
            elapsed = min(elapsed, length)
            index = song.section_at(beats)
            section = NO_SECTION if index is None else index
            if self._setlist.stops_after(song):
                state |= STOPS_AFTER
        pending = NO_SECTION if pending is None else pending
        song_id = song.id if song is not None else 0
        payload = struct.pack(">BQIIBBB", POSITION, song_id, elapsed, length, section, state, pending)
        return payload, (song_id, length, section, state, pending), elapsed

    def tick(self):
        song = self._playback.position_song()
        song_id = song.id if song is not None else 0
        if self._sections_stale or self._sections is None or self._sections[0] != song_id:
            payload = sections_message(song, self._song.tempo, self._log)
            if self._sections is None or payload != self._sections[1]:
                self._send(payload)
            self._sections = (song_id, payload)
            self._sections_stale = False
        payload, state, elapsed = self.position(song)
        now = self._clock()
        playing = state[3] & PLAYING
        due = playing and (self._sent_at is None or now - self._sent_at >= REPORT_INTERVAL - 0.005)
        predicted = self._elapsed_sent + ((now - self._sent_at) * 1000.0 if playing and self._sent_at else 0)
        if state != self._state or due or abs(elapsed - predicted) > JUMP_MS:
            self._send(payload)
            self._state, self._sent_at, self._elapsed_sent = state, now, elapsed

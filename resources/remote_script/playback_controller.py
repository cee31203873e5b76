# SPDX-License-Identifier: MIT
"""Transport, jumps between songs, and following the setlist across song ends."""
from __future__ import absolute_import

import math

PLAY, STOP, PREVIOUS, NEXT = 1, 2, 3, 4
JUMP_NOW, END_OF_SONG = 1, 2
EPS = 1e-6
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
        if song is not None:
            self._jump(song)
        self._song.continue_playing()

    def stop(self):
        self._pending = None
        self._queued = False
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
        if self._song.is_playing:
            self._start_jump(song, index)
        else:
            self._pending = None
            self._jump(song)
            self._song.continue_playing()

    # --- following the play position -----------------------------------------

    def tick(self):
        if not self._song.is_playing:
            self._last_time = None
            self._pending = None
            self._queued = False
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

    def _song_ends(self, playing, at_end):
        """at_end: the end was crossed; otherwise it is one quantization step away."""
        setlist = self._setlist
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

# SPDX-License-Identifier: MIT
"""Song and CuePoint as a control surface sees them; times are in beats."""
import math

from . import Base


class Quantization(object):
    q_no_q = 0
    q_8_bars = 1
    q_4_bars = 2
    q_2_bars = 3
    q_bar = 4
    q_half = 5
    q_half_triplet = 6
    q_quarter = 7
    q_quarter_triplet = 8
    q_eight = 9
    q_eight_triplet = 10
    q_sixtenth = 11
    q_sixtenth_triplet = 12
    q_thirtytwoth = 13


_BARS = {1: 8, 2: 4, 3: 2, 4: 1}
_NOTES = {5: 2.0, 6: 4.0 / 3, 7: 1.0, 8: 2.0 / 3, 9: 0.5, 10: 1.0 / 3, 11: 0.25, 12: 1.0 / 6, 13: 0.125}


@Base._listenable("name", "time")
class CuePoint(object):
    def __init__(self, song, name, time):
        self._song = song
        self._name = name
        self._time = float(time)

    @property
    def name(self):
        return self._name

    @property
    def time(self):
        return self._time

    def jump(self):
        """While playing: at the next launch-quantization step; while stopped: moves the start."""
        Base._check_write("CuePoint.jump")
        self._song._jump_to(self._time)


@Base._listenable("tempo", "is_playing", "current_song_time", "cue_points", "clip_trigger_quantization",
                 "signature_numerator", "signature_denominator", "song_length", "data")
class Song(object):
    def __init__(self, tempo=120.0, numerator=4, denominator=4, quantization=4, end=0.0, data=None):
        self._tempo = float(tempo)
        self._numerator = numerator
        self._denominator = denominator
        self._quantization = quantization
        self._end = float(end)
        self._playing = False
        self._time = 0.0
        self._start_marker = 0.0
        self._pending_jump = None  # (boundary beat, target beat)
        self._cues = []
        self._data = dict(data or {})

    # --- properties -------------------------------------------------------------

    @property
    def tempo(self):
        return self._tempo

    @tempo.setter
    def tempo(self, value):
        Base._check_write("Song.tempo")
        self._tempo = min(999.0, max(20.0, float(value)))
        self._notify_tempo()

    @property
    def is_playing(self):
        return self._playing

    @is_playing.setter
    def is_playing(self, value):
        if value:
            self.start_playing()
        else:
            self.stop_playing()

    @property
    def current_song_time(self):
        return self._time

    @current_song_time.setter
    def current_song_time(self, value):
        Base._check_write("Song.current_song_time")
        self._time = max(0.0, float(value))
        if not self._playing:
            self._start_marker = self._time
        self._pending_jump = None
        self._notify_current_song_time()

    @property
    def cue_points(self):
        return tuple(self._cues)  # creation order, as Live returns them

    @property
    def clip_trigger_quantization(self):
        return self._quantization

    @clip_trigger_quantization.setter
    def clip_trigger_quantization(self, value):
        Base._check_write("Song.clip_trigger_quantization")
        self._quantization = int(value)
        self._notify_clip_trigger_quantization()

    @property
    def signature_numerator(self):
        return self._numerator

    @property
    def signature_denominator(self):
        return self._denominator

    @property
    def song_length(self):
        return self._end

    @property
    def last_event_time(self):
        return self._end

    # --- transport --------------------------------------------------------------

    def start_playing(self):
        Base._check_write("Song.start_playing")
        self._time = self._start_marker
        self._set_playing(True)

    def continue_playing(self):
        Base._check_write("Song.continue_playing")
        self._set_playing(True)

    def stop_playing(self):
        Base._check_write("Song.stop_playing")
        self._pending_jump = None
        self._set_playing(False)

    def _set_playing(self, playing):
        if playing != self._playing:
            self._playing = playing
            self._notify_is_playing()

    # --- data stored in the set ---------------------------------------------------

    def get_data(self, key, default_value):
        return self._data.get(key, default_value)

    def set_data(self, key, value):
        Base._check_write("Song.set_data")
        self._data[key] = value
        self._notify_data()

    # --- simulation only: the clock, and what a user does with the mouse ---------

    def _quantum(self):
        if self._quantization in _BARS:
            return _BARS[self._quantization] * self._numerator * 4.0 / self._denominator
        return _NOTES.get(self._quantization, 0.0)

    def _jump_to(self, beats):
        quantum = self._quantum()
        if not self._playing:
            self._time = self._start_marker = beats
            self._notify_current_song_time()
        elif quantum <= 0:
            self._time = beats
            self._pending_jump = None
            self._notify_current_song_time()
        else:
            boundary = (math.floor(self._time / quantum + 1e-9) + 1) * quantum
            self._pending_jump = (boundary, beats)

    def _advance(self, seconds):
        if not self._playing or seconds <= 0:
            return
        new = self._time + seconds * self._tempo / 60.0
        if self._pending_jump is not None and new >= self._pending_jump[0]:
            boundary, target = self._pending_jump
            self._pending_jump = None
            new = target + (new - boundary)
        self._time = new
        self._notify_current_song_time()

    def _add_cue(self, name, beats):
        cue = CuePoint(self, name, beats)
        self._cues.append(cue)
        self._notify_cue_points()
        return cue

    def _remove_cue(self, cue):
        self._cues.remove(cue)
        self._notify_cue_points()

    def _rename_cue(self, cue, name):
        cue._name = name
        cue._notify_name()

    def _move_cue(self, cue, beats):
        cue._time = float(beats)
        cue._notify_time()

    def _set_end(self, beats):
        self._end = float(beats)
        self._notify_song_length()

# SPDX-License-Identifier: MIT
"""The control surface: wires Live, the song model, the transport and the Live link server."""
from __future__ import absolute_import

import os
import struct
import time

import Live
from _Framework.ControlSurface import ControlSurface

from .mapping_manager import CONTROL_CHANGE, NOTE_ON, MappingManager
from .playback_controller import PlaybackController, PositionReporter
from .setlist_manager import DATA_KEY, SetlistManager, marks_message
from .socket_manager import DEFAULT_PORT, SocketServer, remove_port_file, write_port_file

POSITION_FEATURE = 1

TIMER_MS = 10
# Live's slow tick takes over only when the fast timer has gone quiet.
FALLBACK_AFTER = 0.25
DEBOUNCE_QUIET = 0.2
DEBOUNCE_MAX = 1.0
NOTICE_WINDOW = 15.0
PORT_ENV = "MARQUELL_LIVE_PORT"

# The set served by the previous instance in this interpreter, to notice a set change.
_last_set_tag = [None]


def _preferred_port():
    try:
        return int(os.environ.get(PORT_ENV, DEFAULT_PORT))
    except ValueError:
        return DEFAULT_PORT


class AbletonSocketServer(ControlSurface):
    def __init__(self, c_instance):
        ControlSurface.__init__(self, c_instance)
        self._alive = True
        self._clock = time.monotonic
        self._created = self._clock()
        self._song_listeners = []
        self._cue_listeners = []
        self._actions = []
        self._dirty = {}  # reason -> (first, last) change times
        self._pool_payload = None
        self._tempo_sent = None
        self._playing_sent = None
        self._arrangement_end = None
        self._last_fast_tick = None
        self._last_end_check = 0.0
        self.server = None
        self.port = None
        self._timer = None
        self._stored = None

        song = self.song()
        self.setlist = SetlistManager(self._log)
        self.setlist.load(self._read_set_data())
        self.mappings = MappingManager(self._log)
        self.playback = PlaybackController(song, self.setlist, self._cue_for, self._position_changed, self._log)
        self.reporter = PositionReporter(song, self.setlist, self.playback, self._clock, self._to_subscribers, self._log)
        self._rebuild_pool()
        self._save_set_data()
        self._pool_payload = self.setlist.pool_message(song.tempo)
        self._tempo_sent = self._tempo_value()
        self._playing_sent = bool(song.is_playing)

        tag = self.setlist.set_tag_loaded
        self._set_changed = _last_set_tag[0] is not None and _last_set_tag[0] != tag
        _last_set_tag[0] = tag

        self._attach_listeners()
        self._start_server()
        self._start_timer()
        self.request_rebuild_midi_map()

    # --- life cycle -----------------------------------------------------------

    def _start_server(self):
        self.server = SocketServer(self._log, self._client_validated, self._client_message,
                                   clock=self._clock, preferred_port=_preferred_port())
        try:
            fallback = self.server.start()
        except Exception as e:
            self._log("could not open any port: %r" % (e,))
            self.show_message("Marquell: could not open a network port; see Log.txt")
            self.server = None
            return
        self.port = self.server.port
        try:
            write_port_file(self.port)
        except (IOError, OSError) as e:
            self._log("could not write server.json: %s" % e)
        if fallback:
            self.show_message("Marquell: port %d is taken; serving on port %d" % (_preferred_port(), self.port))
        self._log("serving on 127.0.0.1:%d" % self.port)

    def _start_timer(self):
        try:
            self._timer = Live.Base.Timer(callback=self._on_timer, interval=TIMER_MS, repeat=True)
            self._timer.start()
        except Exception as e:
            self._log("no fast timer (%r); polling at Live's slow tick" % (e,))
            self._timer = None
        self._schedule_fallback()

    def _schedule_fallback(self):
        try:
            self.schedule_message(1, self._on_fallback)
        except AssertionError:
            pass  # Live is shutting down

    def disconnect(self):
        self._alive = False
        if self._timer is not None:
            try:
                self._timer.stop()
            except Exception:
                pass
            self._timer = None
        self._detach_listeners()
        if self.server is not None:
            self.server.flush()
            self.server.close()
            self.server = None
        if self.port is not None and remove_port_file(self.port):
            self._log("removed server.json")
        self._log("disconnected")
        ControlSurface.disconnect(self)

    # --- ticks ----------------------------------------------------------------

    def _on_timer(self):
        self._last_fast_tick = self._clock()
        self._tick()

    def _on_fallback(self):
        if not self._alive:
            return
        if self._last_fast_tick is None or self._clock() - self._last_fast_tick > FALLBACK_AFTER:
            self._tick()
        self._schedule_fallback()

    def _tick(self):
        if not self._alive:
            return
        # Each step stands alone, so one failing step cannot stop the server from answering.
        if self.server is not None:
            self._guarded(self.server.poll)
        actions, self._actions = self._actions, []
        for action in actions:
            self._guarded(action)
        self._guarded(self._apply_changes)
        self._guarded(self.playback.tick)
        self._guarded(self._send_playing)
        self._guarded(self.reporter.tick)
        if self.server is not None:
            self._guarded(self.server.flush)

    def _guarded(self, step):
        try:
            step()
        except Exception as e:
            self._log("%s failed: %r" % (getattr(step, "__name__", "step"), e))

    def _later(self, action):
        self._actions.append(action)

    # --- listeners: they only note what changed --------------------------------

    def _attach_listeners(self):
        song = self.song()
        # The playing state needs no listener: every tick compares it with what was sent.
        for name, callback in (("cue_points", self._on_cue_points), ("tempo", self._on_tempo),
                               ("song_length", self._on_pool_change)):
            self._add_listener(song, name, callback, self._song_listeners)
        self._attach_cue_listeners()

    def _attach_cue_listeners(self):
        self._remove_listeners(self._cue_listeners)
        for cue in self.song().cue_points:
            self._add_listener(cue, "name", self._on_pool_change, self._cue_listeners)
            self._add_listener(cue, "time", self._on_pool_change, self._cue_listeners)

    def _add_listener(self, subject, name, callback, into):
        try:
            getattr(subject, "add_%s_listener" % name)(callback)
            into.append((subject, name, callback))
        except (AttributeError, RuntimeError) as e:
            self._log("cannot listen to %s: %r" % (name, e))

    def _remove_listeners(self, listeners):
        for subject, name, callback in listeners:
            try:
                if getattr(subject, "%s_has_listener" % name)(callback):
                    getattr(subject, "remove_%s_listener" % name)(callback)
            except (AttributeError, RuntimeError):
                pass  # the object is gone already
        del listeners[:]

    def _detach_listeners(self):
        self._remove_listeners(self._cue_listeners)
        self._remove_listeners(self._song_listeners)

    def _on_cue_points(self):
        self._mark("cues")
        self._later(self._attach_cue_listeners)

    def _on_pool_change(self):
        self._mark("pool")

    def _on_tempo(self):
        self._mark("tempo")

    def _mark(self, reason):
        now = self._clock()
        first = self._dirty.get(reason, (now, now))[0]
        self._dirty[reason] = (first, now)

    def _apply_changes(self):
        now = self._clock()
        if now - self._last_end_check > 1.0:
            # The arrangement's end cannot be listened to.
            self._last_end_check = now
            if self._arrangement_end != self._read_arrangement_end():
                self._mark("pool")
        ready = [r for r, (first, last) in self._dirty.items()
                 if now - last >= DEBOUNCE_QUIET or now - first >= DEBOUNCE_MAX]
        if not ready:
            return
        for reason in ready:
            del self._dirty[reason]
        if "cues" in ready or "pool" in ready:
            old_position = self.setlist.position
            self._rebuild_pool()
            self._save_set_data()
            if self.setlist.position != old_position:
                self._position_changed(self.setlist.position)
        self.reporter.sections_changed()
        self._send_tempo()
        self._send_pool()

    # --- the model --------------------------------------------------------------

    def _read_set_data(self):
        try:
            self._stored = self.song().get_data(DATA_KEY, None)
        except Exception as e:
            self._log("could not read set data: %r" % (e,))
            self._stored = None
        return self._stored

    def _save_set_data(self):
        data = self.setlist.save()
        if data == self._stored:
            return  # an unchanged set must not ask to be saved
        try:
            self.song().set_data(DATA_KEY, data)
            self._stored = data
        except Exception as e:
            self._log("could not store set data: %r" % (e,))

    def _read_arrangement_end(self):
        song = self.song()
        end = float(song.last_event_time)
        return end if end > 0 else float(song.song_length)

    def _rebuild_pool(self):
        self._arrangement_end = self._read_arrangement_end()
        cues = [(cue.name, cue.time) for cue in self.song().cue_points]
        return self.setlist.rebuild(cues, self._arrangement_end)

    def _cue_for(self, place):
        """The locator of a song or a section."""
        for cue in self.song().cue_points:
            if abs(cue.time - place.start) < 1e-6 and cue.name == place.name:
                return cue
        return None

    def _tempo_value(self):
        return int(round(self.song().tempo * 100))

    # --- sending ------------------------------------------------------------------

    def _broadcast(self, payload):
        if self.server is not None:
            self.server.broadcast(payload)

    def _to_subscribers(self, payload):
        if self.server is not None:
            self.server.broadcast(payload, POSITION_FEATURE)

    def _send_pool(self, force=False):
        payload = self.setlist.pool_message(self.song().tempo)
        if force or payload != self._pool_payload:
            self._pool_payload = payload
            self._broadcast(payload)
            self._to_subscribers(marks_message(self.setlist))

    def _send_tempo(self):
        value = self._tempo_value()
        if value != self._tempo_sent:
            self._tempo_sent = value
            self._broadcast(struct.pack(">BI", 8, value))

    def _send_playing(self):
        playing = bool(self.song().is_playing)
        if playing != self._playing_sent:
            self._playing_sent = playing
            self._broadcast(bytes(bytearray([1, 1 if playing else 2])))

    def _position_message(self):
        position = self.setlist.position
        if position is None:
            return None
        if position > 255:
            self._log("setlist position %d cannot be sent" % position)
            return None
        return bytes(bytearray([5, position]))

    def _position_changed(self, _index):
        message = self._position_message()
        if message is not None:
            self._broadcast(message)

    def _client_validated(self, client):
        send = lambda payload: self.server.send(client, payload)
        if self._set_changed and self._clock() - self._created < NOTICE_WINDOW:
            send(b"\x02")
        send(self.setlist.pool_message(self.song().tempo))
        position = self._position_message()
        if position is not None:
            send(position)
        send(bytes(bytearray([7, self.setlist.cue_mode])))
        send(struct.pack(">BI", 8, self._tempo_value()))
        send(bytes(bytearray([1, 1 if self.song().is_playing else 2])))
        send(self.mappings.message())
        send(b"\x06" + b"\x00" * 8)

    # --- client messages --------------------------------------------------------

    def _client_message(self, client, kind, body):
        if kind == 0:
            channel, msg_type, identifier, tag = struct.unpack(">BBHB", body)
            if self.mappings.set(channel, msg_type, identifier, tag):
                self._mappings_changed()
        elif kind == 1:
            self.playback.command(body[0])
        elif kind == 2:
            self.mappings.clear(body[0])
            self._mappings_changed()
        elif kind == 3:
            self.playback.select(body[0])
        elif kind == 4:
            self.setlist.replace_setlist(body)
            self._save_set_data()
            self._send_pool(force=True)
            self._position_changed(self.setlist.position)
        elif kind == 5:
            self.playback.play_pool_song(struct.unpack(">Q", body)[0])
        elif kind == 6:
            self.server.send(client, b"\x06" + body)
        elif kind == 7:
            mode = body[0]
            if mode not in (1, 2):
                self._log("cue jump mode %d refused" % mode)
                return
            self.setlist.cue_mode = mode
            self._save_set_data()
            self._broadcast(bytes(bytearray([7, mode])))
        elif kind == 9:
            self.mappings.clear_all()
            self._mappings_changed()
        elif kind == 10:
            self._subscribe(client, body[0])
        elif kind == 11:
            song_id, index = struct.unpack(">QB", body)
            self.playback.jump_to_section(song_id, index)
        elif kind == 12:
            self._set_stop_after(*struct.unpack(">QB", body))

    def _subscribe(self, client, features):
        client.features = features & POSITION_FEATURE
        if client.features:
            for payload in self.reporter.greeting():
                self.server.send(client, payload)

    def _set_stop_after(self, song_id, value):
        if value not in (0, 1):
            self._log("stop-after value %d refused" % value)
        elif not self.setlist.set_stop_after(song_id, value):
            self._log("stop-after mark for song %x dropped: it is not in the setlist" % song_id)
        else:
            self._save_set_data()
            self._to_subscribers(marks_message(self.setlist))

    def _mappings_changed(self):
        self._broadcast(self.mappings.message())
        self.request_rebuild_midi_map()

    # --- MIDI -------------------------------------------------------------------

    def build_midi_map(self, midi_map_handle):
        handle = self._c_instance.handle()
        for kind, channel, number in self.mappings.forwards():
            try:
                if kind == NOTE_ON:
                    Live.MidiMap.forward_midi_note(handle, midi_map_handle, channel, number)
                elif kind == CONTROL_CHANGE:
                    Live.MidiMap.forward_midi_cc(handle, midi_map_handle, channel, number)
            except Exception as e:
                self._log("could not forward MIDI %d/%d/%d: %r" % (kind, channel, number, e))

    def receive_midi(self, midi_bytes):
        try:
            tag = self.mappings.command_for(tuple(midi_bytes))
        except Exception as e:
            self._log("bad MIDI %r: %r" % (midi_bytes, e))
            return
        if tag is not None:
            self._later(lambda: self.playback.command(tag))

    # --- messages to the user --------------------------------------------------

    def _log(self, text):
        self.log_message("Marquell: " + text)

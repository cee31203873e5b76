# SPDX-License-Identifier: MIT
"""Runs the Remote Script against the stand-in Live, on a virtual or a real clock."""
import importlib.util
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCRIPT_DIR = os.path.join(ROOT, "resources", "remote_script")
if HERE not in sys.path:
    sys.path.insert(0, HERE)

import Live  # noqa: E402  (the stand-in above)

DISPLAY_INTERVAL = 0.1
QUANTIZATION_NAMES = {
    "none": 0, "8 bars": 1, "4 bars": 2, "2 bars": 3, "1 bar": 4, "1/2": 5, "1/2t": 6, "1/4": 7,
    "1/4t": 8, "1/8": 9, "1/8t": 10, "1/16": 11, "1/16t": 12, "1/32": 13,
}


class Clock(object):
    """Virtual time that only moves when told, or real monotonic time."""

    def __init__(self, realtime=False):
        self.realtime = realtime
        self._now = 0.0
        self._origin = time.monotonic()

    def now(self):
        if self.realtime:
            return time.monotonic() - self._origin
        return self._now

    def set(self, value):
        self._now = value

    def monotonic(self):
        return self.now()

    def time(self):
        return time.time()

    def sleep(self, seconds):
        time.sleep(seconds)


class CInstance(object):
    """What Live hands to create_instance."""

    def __init__(self, sim):
        self._sim = sim

    def song(self):
        return self._sim.song

    def handle(self):
        return id(self)

    def log_message(self, text):
        self._sim.log(text)

    def show_message(self, text):
        self._sim.status_messages.append(text)
        self._sim.log("status bar: %s" % text)

    def request_rebuild_midi_map(self):
        self._sim.midi_map_dirty = True

    def send_midi(self, midi_bytes):
        pass

    def shutting_down(self):
        return self._sim.shutting_down


def load_set(path):
    with open(path, "rb") as f:
        return json.loads(f.read().decode("utf-8"))


def make_song(description):
    quantization = description.get("launch_quantization", 4)
    if not isinstance(quantization, int):
        quantization = QUANTIZATION_NAMES[str(quantization).lower()]
    signature = description.get("signature", [4, 4])
    song = Live.Song.Song(tempo=description.get("tempo", 120.0), numerator=signature[0],
                          denominator=signature[1], quantization=quantization,
                          end=description.get("end", 0.0), data=description.get("data"))
    for locator in description.get("locators", []):
        song._add_cue(locator["name"], locator["beats"])
    return song


def load_script_package(name="Marquell"):
    """Imports resources/remote_script afresh under the folder name Live would use."""
    for key in list(sys.modules):
        if key == name or key.startswith(name + "."):
            del sys.modules[key]
    spec = importlib.util.spec_from_file_location(
        name, os.path.join(SCRIPT_DIR, "__init__.py"), submodule_search_locations=[SCRIPT_DIR])
    module = importlib.util.module_from_spec(spec)
    sys.modules[name] = module
    spec.loader.exec_module(module)
    return module


class Simulation(object):
    def __init__(self, description, realtime=False, log=None):
        self.clock = Clock(realtime)
        self.log_lines = []
        self.status_messages = []
        self.errors = []
        self._echo = log
        self.timers = []
        self.midi_map = set()
        self.midi_map_dirty = False
        self.shutting_down = False
        self.instance = None
        self._next_display = DISPLAY_INTERVAL
        self._last_move = 0.0
        Live.Base._engine = self
        del Live.Base._violations[:]
        self.package = load_script_package()
        # The script reads the clock through its time module; here it is the simulation's.
        self.package.ableton_socket_server.time = self.clock
        self.song = make_song(description)

    # --- what Live does ------------------------------------------------------------

    def log(self, text):
        self.log_lines.append(text)
        if self._echo is not None:
            self._echo(text)

    def add_timer(self, timer):
        if timer not in self.timers:
            self.timers.append(timer)

    def remove_timer(self, timer):
        if timer in self.timers:
            self.timers.remove(timer)

    def create(self):
        self.instance = self._call(self.package.create_instance, CInstance(self))
        self.midi_map_dirty = True
        return self.instance

    def disconnect(self):
        if self.instance is not None:
            self._call(self.instance.disconnect)
            self.instance = None

    def reload(self):
        """The user picks None and then Marquell again as control surface."""
        self.disconnect()
        return self.create()

    def open_set(self, description):
        """Another Live Set is opened; the old set's data goes with it."""
        self.disconnect()
        self.song = make_song(description)
        return self.create()

    def shutdown(self):
        self.disconnect()
        self.shutting_down = True

    def send_midi(self, midi_bytes):
        """MIDI arriving at the surface's input port; only forwarded messages reach it."""
        status = midi_bytes[0]
        kind = {0x90: "note", 0x80: "note", 0xB0: "cc"}.get(status & 0xF0)
        if kind is None or (kind, status & 0x0F, midi_bytes[1]) not in self.midi_map:
            return False
        if self.instance is not None:
            self._call(self.instance.receive_midi, tuple(midi_bytes))
        return True

    def _call(self, fn, *args):
        try:
            return fn(*args)
        except Exception as e:  # Live logs a surface's exception and goes on
            self.errors.append(e)
            self.log("exception from the script: %r" % (e,))
            if fn.__name__ == "create_instance":
                raise
            return None

    # --- the clock -----------------------------------------------------------------

    def _next_event(self):
        due = [t._due for t in self.timers if t.running]
        due.append(self._next_display)
        return min(due)

    def _move_to(self, when):
        if not self.clock.realtime:
            self.clock.set(when)
        self.song._advance(when - self._last_move)
        self._last_move = when

    def _fire_due(self):
        now = self.clock.now()
        for timer in list(self.timers):
            if timer.running and timer._due <= now + 1e-9:
                self._call(timer._fire)
        if self._next_display <= now + 1e-9:
            self._next_display += DISPLAY_INTERVAL
            if self.instance is not None:
                self._call(self.instance.update_display)
        if self.midi_map_dirty and self.instance is not None:
            self.midi_map_dirty = False
            self.midi_map = set()
            self._call(self.instance.build_midi_map, self.midi_map)

    def advance(self, seconds):
        """Virtual clock: runs every timer and display tick due within the next seconds."""
        target = self.clock._now + seconds
        while True:
            when = min(self._next_event(), target)
            self._move_to(when)
            self._fire_due()
            if when >= target - 1e-12:
                break

    def run_realtime(self, keep_running, on_step=None):
        """Real clock: sleeps until the next tick, until keep_running() turns false."""
        self._last_move = self.clock.now()
        self._next_display = self.clock.now() + DISPLAY_INTERVAL
        while keep_running():
            wait = self._next_event() - self.clock.now()
            if wait > 0:
                time.sleep(min(wait, 0.05))
            self._move_to(self.clock.now())
            self._fire_due()
            if on_step is not None:
                on_step()

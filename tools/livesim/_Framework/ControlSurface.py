# SPDX-License-Identifier: MIT
"""The base class Live's framework gives control surfaces, reduced to what a surface calls."""


class ControlSurface(object):
    def __init__(self, c_instance):
        self._c_instance = c_instance
        self._scheduled = []  # [ticks left, callback, parameter]

    def song(self):
        return self._c_instance.song()

    def log_message(self, *message):
        self._c_instance.log_message(" ".join(str(m) for m in message))

    def show_message(self, message):
        self._c_instance.show_message(message)

    def schedule_message(self, delay_in_ticks, callback, parameter=None):
        """Runs callback after delay_in_ticks calls of update_display (about 100 ms each)."""
        if self._c_instance.shutting_down():
            raise AssertionError("Live is shutting down")
        self._scheduled.append([max(1, int(delay_in_ticks)), callback, parameter])

    def update_display(self):
        due = []
        for item in self._scheduled:
            item[0] -= 1
            if item[0] <= 0:
                due.append(item)
        for item in due:
            self._scheduled.remove(item)
            if item[2] is None:
                item[1]()
            else:
                item[1](item[2])

    def request_rebuild_midi_map(self):
        self._c_instance.request_rebuild_midi_map()

    def build_midi_map(self, midi_map_handle):
        pass

    def receive_midi(self, midi_bytes):
        pass

    def refresh_state(self):
        pass

    def connect_script_instances(self, instances):
        pass

    def can_lock_to_devices(self):
        return False

    def disconnect(self):
        self._scheduled = []

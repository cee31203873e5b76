# SPDX-License-Identifier: MIT
"""MIDI mappings of the four transport controls, kept per user on disk."""
from __future__ import absolute_import

import json
import os
import struct
import time

from .socket_manager import atomic_write, support_dir

NOTE_ON = 0
CONTROL_CHANGE = 1
SYSTEM = 2
NAMES = {1: "play", 2: "stop", 3: "previous", 4: "next"}


def mappings_path():
    return os.path.join(support_dir(), "mappings.json")


class MappingManager(object):
    def __init__(self, log, path=None):
        self._log = log
        self._path = path or mappings_path()
        self.mappings = {}  # tag -> (msg_type, channel, identifier)
        self.load()

    def load(self):
        try:
            with open(self._path, "rb") as f:
                raw = f.read()
        except (IOError, OSError):
            return
        try:
            data = json.loads(raw.decode("utf-8"))
            mappings = {}
            for tag, value in data["mappings"].items():
                tag = int(tag)
                msg_type, channel, identifier = [int(v) for v in value]
                if tag in NAMES and self._valid(msg_type, channel, identifier):
                    mappings[tag] = (msg_type, channel, identifier)
            self.mappings = mappings
        except (ValueError, KeyError, TypeError, AttributeError) as e:
            aside = "%s.corrupt-%d" % (self._path, int(time.time()))
            try:
                os.replace(self._path, aside)
                self._log("mappings.json unreadable (%r); kept aside as %s" % (e, aside))
            except OSError as move_error:
                self._log("mappings.json unreadable (%r) and could not be kept aside: %s" % (e, move_error))

    def save(self):
        data = {"version": 1, "mappings": dict((str(t), list(m)) for t, m in sorted(self.mappings.items()))}
        try:
            atomic_write(self._path, json.dumps(data, indent=2, sort_keys=True).encode("utf-8"))
        except (IOError, OSError) as e:
            self._log("could not save mappings: %s" % e)

    @staticmethod
    def _valid(msg_type, channel, identifier):
        return msg_type in (NOTE_ON, CONTROL_CHANGE, SYSTEM) and 0 <= channel <= 15 and 0 <= identifier <= 127

    def set(self, channel, msg_type, identifier, tag):
        if tag not in NAMES or not self._valid(msg_type, channel, identifier):
            self._log("mapping refused: tag %d, type %d, channel %d, number %d" % (tag, msg_type, channel, identifier))
            return False
        self.mappings[tag] = (msg_type, channel, identifier)
        self.save()
        return True

    def clear(self, tag):
        if tag in self.mappings:
            del self.mappings[tag]
            self.save()
        return True

    def clear_all(self):
        self.mappings = {}
        self.save()
        return True

    def message(self):
        parts = [b"\x00"]
        for tag in sorted(self.mappings):
            msg_type, channel, identifier = self.mappings[tag]
            name = NAMES[tag].encode("ascii")
            parts.append(struct.pack(">B", len(name)) + name + struct.pack(">BBH", msg_type, channel, identifier))
        return b"".join(parts)

    def forwards(self):
        """(kind, channel, number) that Live must pass to the surface."""
        return [(m[0], m[1], m[2]) for m in self.mappings.values() if m[0] in (NOTE_ON, CONTROL_CHANGE)]

    def command_for(self, midi_bytes):
        """The transport tag a press runs; a release (velocity or value 0) runs nothing."""
        if len(midi_bytes) < 3:
            return None
        status, number, value = midi_bytes[0], midi_bytes[1], midi_bytes[2]
        kind = status & 0xF0
        if kind == 0x90:
            msg_type = NOTE_ON
        elif kind == 0xB0:
            msg_type = CONTROL_CHANGE
        else:
            return None
        if value <= 0:
            return None
        wanted = (msg_type, status & 0x0F, number)
        for tag, mapping in sorted(self.mappings.items()):
            if mapping == wanted:
                return tag
        return None

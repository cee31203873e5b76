# SPDX-License-Identifier: MIT
"""Records what a surface asks Live to forward to it; the handle is a set of (kind, channel, number)."""


def forward_midi_note(script_handle, midi_map_handle, channel, note):
    midi_map_handle.add(("note", channel, note))
    return True


def forward_midi_cc(script_handle, midi_map_handle, channel, cc):
    midi_map_handle.add(("cc", channel, cc))
    return True

# SPDX-License-Identifier: MIT
"""A stand-in for Live's Python module, for running control surfaces outside Live."""
from . import Base, MidiMap, Song  # noqa: F401

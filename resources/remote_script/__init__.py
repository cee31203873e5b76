# SPDX-License-Identifier: MIT
"""Marquell control surface: serves the Live link to the Marquell programs."""
from __future__ import absolute_import

try:
    from .ableton_socket_server import AbletonSocketServer
    _import_error = None
except ImportError as error:
    # Outside Live (tests, tools) the pure modules stay importable.
    AbletonSocketServer = None
    _import_error = error


def create_instance(c_instance):
    if AbletonSocketServer is None:
        raise ImportError("Marquell needs Live's Python modules: %s" % (_import_error,))
    return AbletonSocketServer(c_instance)

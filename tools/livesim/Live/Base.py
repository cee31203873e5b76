# SPDX-License-Identifier: MIT
"""Timers, listeners and the notification rule of the stand-in Live module."""

_NOTIFICATION_ERROR = "Changes cannot be triggered by notifications. You will need to defer your response."

# Names of this module that Live lacks start with an underscore.
# The simulation that owns timers and the clock; set by simcore.Simulation.
_engine = None
_notifying = [0]
# Every write attempted from inside a listener, kept for tests to inspect.
_violations = []


def log(text):
    if _engine is not None:
        _engine.log("Live: %s" % text)


def _check_write(what):
    """Live refuses changes made while it is notifying listeners."""
    if _notifying[0]:
        _violations.append(what)
        raise RuntimeError(_NOTIFICATION_ERROR)


def _notify_all(listeners):
    _notifying[0] += 1
    try:
        for callback in list(listeners):
            callback()
    finally:
        _notifying[0] -= 1


def _listenable(*names):
    """Class decorator adding Live's add_/remove_/*_has_listener trio for each name."""
    def decorate(cls):
        for name in names:
            def make(name):
                key = "_listeners_" + name

                def lst(self):
                    if key not in self.__dict__:
                        self.__dict__[key] = []
                    return self.__dict__[key]

                def add(self, callback):
                    if callback in lst(self):
                        raise RuntimeError("Listener already connected")
                    lst(self).append(callback)

                def remove(self, callback):
                    if callback not in lst(self):
                        raise RuntimeError("Listener not connected")
                    lst(self).remove(callback)

                def has(self, callback):
                    return callback in lst(self)

                def fire(self):
                    _notify_all(lst(self))

                setattr(cls, "add_%s_listener" % name, add)
                setattr(cls, "remove_%s_listener" % name, remove)
                setattr(cls, "%s_has_listener" % name, has)
                setattr(cls, "_notify_" + name, fire)
            make(name)
        return cls
    return decorate


class Timer(object):
    """Calls back every interval milliseconds while running, driven by the simulation."""

    def __init__(self, callback=None, interval=100, repeat=False, start=False):
        self._callback = callback
        self._interval = max(1, int(interval)) / 1000.0
        self._repeat = repeat
        self._running = False
        self._due = None
        if start:
            self.start()

    @property
    def running(self):
        return self._running

    def start(self):
        self._running = True
        self._due = _engine.clock.now() + self._interval
        _engine.add_timer(self)

    def restart(self):
        self.stop()
        self.start()

    def stop(self):
        self._running = False
        _engine.remove_timer(self)

    def _fire(self):
        if self._repeat:
            self._due += self._interval
        else:
            self.stop()
        self._callback()

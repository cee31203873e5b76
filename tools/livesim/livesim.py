#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the Marquell Remote Script outside Live, in real time, on a set described in JSON.

    python3 tools/livesim/livesim.py --set tools/livesim/sets/demo.json

Prints one status line per change of song, setlist position, playing state or tempo.
SIGINT or SIGTERM disconnects the script (removing server.json) and exits 0.

Lines on standard input act as the user in Live (see COMMANDS, also in --help).
"""
import argparse
import os
import select
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import simcore  # noqa: E402

COMMANDS = """commands on standard input, one per line, as the user in Live:
  play                 start playback
  stop                 stop playback
  tempo 128            set the tempo (BPM, decimals allowed)
  midi 90 3c 7f        three hex bytes at the control surface's MIDI input
  locator NAME BEATS   add a locator NAME at BEATS
  reload               switch the control surface off and on again
  quit                 disconnect the script and exit
"""


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0], epilog=COMMANDS,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--set", required=True, help="set description (JSON)")
    parser.add_argument("--port", type=int, default=None,
                        help="port to try first (default 6000); a free one is used when it is taken")
    parser.add_argument("--quiet", action="store_true", help="print status lines only, not the script's log")
    args = parser.parse_args(argv)

    try:
        description = simcore.load_set(args.set)
    except (IOError, OSError, ValueError) as e:
        print("livesim: cannot read set %s: %s" % (args.set, e), file=sys.stderr)
        return 2
    if args.port is not None:
        os.environ["MARQUELL_LIVE_PORT"] = str(args.port)

    def echo(text):
        if not args.quiet:
            print("log: %s" % text, flush=True)

    sim = simcore.Simulation(description, realtime=True, log=echo)
    stop = []
    signal.signal(signal.SIGINT, lambda *_: stop.append(True))
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))

    sim.create()
    instance = sim.instance
    print("livesim: %s, %d songs, serving on 127.0.0.1:%s, port published in %s" % (
        description.get("name", args.set), len(instance.setlist.songs), instance.port,
        sim.package.socket_manager.port_file_path()), flush=True)

    last = [None]

    def status():
        current = sim.instance
        if current is None:
            return
        song = sim.song
        playing_song = current.setlist.song_at(song.current_song_time)
        setlist = current.setlist
        section = playing_song.section_at(song.current_song_time) if playing_song else None
        state = (playing_song.name if playing_song else None, setlist.position, len(setlist.setlist),
                 song.is_playing, round(song.tempo, 2), setlist.cue_mode,
                 playing_song.sections[section].title if section is not None else None,
                 setlist.stops_after(playing_song))
        if state != last[0]:
            last[0] = state
            print("status: song %s | position %s of %d | %s | %.2f BPM | cue mode %s%s%s" % (
                '"%s"' % state[0] if state[0] else "-", "-" if state[1] is None else state[1] + 1, state[2],
                "playing" if state[3] else "stopped", state[4], "jump now" if state[5] == 1 else "end of song",
                ' | section "%s"' % state[6] if state[6] else "", " | stops after this song" if state[7] else ""),
                flush=True)

    stdin_open = [True]

    def commands():
        if not stdin_open[0]:
            return
        try:
            if not select.select([sys.stdin], [], [], 0)[0]:
                return
        except (OSError, ValueError):
            stdin_open[0] = False
            return
        line = sys.stdin.readline()
        if not line:
            stdin_open[0] = False  # no more input; keep serving until a signal
            return
        try:
            user_command(sim, line.split(), stop)
        except (ValueError, IndexError) as e:
            print("livesim: cannot do %r: %s" % (line.strip(), e), flush=True)

    def step():
        commands()
        status()

    sim.run_realtime(lambda: not stop, on_step=step)
    sim.shutdown()
    print("livesim: stopped", flush=True)
    return 0


def user_command(sim, words, stop):
    if not words:
        return
    song, verb = sim.song, words[0].lower()
    if verb == "play":
        song.start_playing()
    elif verb == "stop":
        song.stop_playing()
    elif verb == "tempo":
        song.tempo = float(words[1])
    elif verb == "midi":
        forwarded = sim.send_midi(tuple(int(w, 16) for w in words[1:4]))
        print("livesim: MIDI %s" % ("forwarded to the script" if forwarded else "not mapped; Live drops it"), flush=True)
    elif verb == "locator":
        song._add_cue(" ".join(words[1:-1]), float(words[-1]))
    elif verb == "reload":
        sim.reload()
    elif verb == "quit":
        stop.append(True)
    else:
        raise ValueError("unknown command")


if __name__ == "__main__":
    sys.exit(main())

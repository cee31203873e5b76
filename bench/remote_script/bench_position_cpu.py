#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""CPU of the Remote Script's position reporting: the simulator playing the demo set in real
time, with one subscribed client against none, in a private home folder.

    python3 bench/remote_script/bench_position_cpu.py [--seconds 10]
"""
import argparse
import os
import sys
import time

from bench_next_latency import demo_simulator

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / float(TICKS)


def measure(seconds, subscribe):
    """(CPU % of the simulator while playing, type 10 reports received)."""
    with demo_simulator() as (proc, client):
        if subscribe:
            client.sock.sendall(b"\x0a\x01")
            client.until(10)
        client.sock.sendall(b"\x01\x01")
        client.until(1)
        client.sock.settimeout(seconds + 5)
        start_cpu, start, reports = cpu_seconds(proc.pid), time.monotonic(), 0
        while time.monotonic() - start < seconds:
            if subscribe:
                reports += client.frame()[0] == 10
            else:
                time.sleep(0.05)
        used = cpu_seconds(proc.pid) - start_cpu
        return 100.0 * used / (time.monotonic() - start), reports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=10.0)
    args = parser.parse_args()
    bare, _ = measure(args.seconds, False)
    with_reports, reports = measure(args.seconds, True)
    print("simulator playing the demo set for %.0f s: %.2f %% CPU without a subscriber, %.2f %% with one "
          "(%d position reports, %.1f per second)" % (args.seconds, bare, with_reports, reports,
                                                     reports / args.seconds))
    print("BENCH remote_script_position_cpu %.2f %% %.2f -" % (with_reports, bare))
    print("BENCH remote_script_position_rate %.1f /s - >=4" % (reports / args.seconds))
    return 0


if __name__ == "__main__":
    sys.exit(main())

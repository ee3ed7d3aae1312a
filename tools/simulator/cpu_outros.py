#!/usr/bin/env python3
"""Watches the machine for --duracao seconds and prints how much of its CPU went to processes
that do not descend from --pid (the run's own script, which starts the service and every client):
someone else's build or test on a shared machine, which takes cores from the service and the
clients alike and makes the latencies of two runs compare badly. Reads /proc/stat and
/proc/PID/stat every --intervalo seconds; user and system time only (interrupts and soft
interrupts are not charged to any process).

Prints "cpu_outros_pct=P" and "cpu_nossos_pct=Q", each a share of all the cores. Linux only.
"""
import argparse
import os
import time


def machine_ticks():
    with open("/proc/stat") as f:
        fields = f.readline().split()
    return int(fields[1]) + int(fields[2]) + int(fields[3])   # user, nice, system


def processes():
    """pid -> (parent pid, CPU ticks so far)."""
    out = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                raw = f.read()
        except OSError:
            continue
        fields = raw[raw.rindex(")") + 2:].split()
        out[int(name)] = (int(fields[1]), int(fields[11]) + int(fields[12]))
    return out


def descends(pid, root, table):
    seen = 0
    while pid > 1 and seen < 64:
        if pid == root:
            return True
        pid = table.get(pid, (0, 0))[0]
        seen += 1
    return pid == root


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--pid", type=int, required=True)
    p.add_argument("--duracao", type=float, required=True)
    p.add_argument("--intervalo", type=float, default=0.5)
    args = p.parse_args()
    start_machine = machine_ticks()
    start = time.monotonic()
    last = processes()
    ours = 0
    end = start + args.duracao
    while time.monotonic() < end:
        time.sleep(min(args.intervalo, max(0.0, end - time.monotonic())))
        now = processes()
        for pid, (_, ticks) in now.items():
            if descends(pid, args.pid, now):
                ours += ticks - (last[pid][1] if pid in last else 0)   # a new one: all of it
        last = now
    used = machine_ticks() - start_machine
    capacity = (time.monotonic() - start) * os.sysconf("SC_CLK_TCK") * os.cpu_count()
    print("cpu_outros_pct=%.0f" % (100.0 * max(0, used - ours) / capacity))
    print("cpu_nossos_pct=%.0f" % (100.0 * ours / capacity))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Watches the threads of a process until it ends (or --duracao passes) and prints the most CPU
time one thread (of those whose name starts with --prefixo) used without a break, that is without
an interval in which it ran (almost) nothing: for the service's dispatch threads ("orv-despacho"),
each of which serves one request at a time and waits between them, an upper bound for the CPU
time of any single request (requests served back to back also count as one stretch). Reads
/proc/PID/task/*/stat every --intervalo seconds.

Prints "cpu_thread_max_s=S" and the thread's name. Linux only.
"""
import argparse
import os
import time

# A thread counts as busy in an interval when it ran at least this long in it; a dispatch thread
# that waits for work runs nothing at all. (A share of the interval would miss a thread that
# shares its core with others.)
BUSY_SECONDS = 0.004


def cpu_seconds(pid):
    ticks = os.sysconf("SC_CLK_TCK")
    out = {}
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return None
    for tid in tasks:
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                raw = f.read()
        except OSError:
            continue
        name = raw[raw.index("(") + 1:raw.rindex(")")]
        fields = raw[raw.rindex(")") + 2:].split()
        out[tid] = (name, (int(fields[11]) + int(fields[12])) / ticks)
    return out


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--pid", type=int, required=True)
    p.add_argument("--intervalo", type=float, default=0.25)
    p.add_argument("--duracao", type=float, default=3600)
    p.add_argument("--prefixo", default="", help="only threads whose name starts with this")
    args = p.parse_args()
    last = cpu_seconds(args.pid) or {}
    streak = {}
    best, best_name = 0.0, "-"
    end = time.monotonic() + args.duracao
    while time.monotonic() < end:
        time.sleep(args.intervalo)
        now = cpu_seconds(args.pid)
        if now is None:
            break
        for tid, (name, cpu) in now.items():
            if not name.startswith(args.prefixo):
                continue
            used = cpu - last.get(tid, (name, cpu))[1]
            if used >= BUSY_SECONDS:
                streak[tid] = streak.get(tid, 0.0) + used
                if streak[tid] > best:
                    best, best_name = streak[tid], name
            else:
                streak[tid] = 0.0
        last = now
    print("cpu_thread_max_s=%.2f" % best)
    print("cpu_thread_max_nome=%s" % best_name)


if __name__ == "__main__":
    main()

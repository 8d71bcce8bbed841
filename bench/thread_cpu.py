#!/usr/bin/python3
"""Processor time of one process's threads over a stretch of time, by name.

    thread_cpu.py PID OUT [--from-zero]

Every 10 ms it reads each thread's time on a processor (nanoseconds, from
/proc/PID/task/TID/schedstat) and its name; when it is stopped (SIGTERM or
SIGINT) it writes to OUT one line per thread name, "NAME MS" with the
milliseconds the threads of that name ran, then "all MS" for the whole
process. Threads there at the start count from then on (with --from-zero,
for a process just started, from their birth); OUT.started appears once
the first look is taken. The program names each agent's thread after its
job (Indexer, Server, FolderMon, ...), so a step's own cost can be told
from the rest of the program's. A thread that ends loses what it ran after
the last look (at most 10 ms of its time); a thread that comes and goes
between two looks is missed.
"""

import os
import signal
import sys
import time


def look(pid, seen):
    task = f"/proc/{pid}/task"
    try:
        tids = os.listdir(task)
    except OSError:
        return False
    for tid in tids:
        try:
            with open(f"{task}/{tid}/schedstat") as f:
                ns = int(f.read().split()[0])
            with open(f"{task}/{tid}/comm") as f:
                name = f.read().strip()
        except (OSError, ValueError, IndexError):
            continue
        first, _, _ = seen.get(tid, (None, 0, name))
        seen[tid] = (ns if first is None else first, ns, name)
    return True


def main():
    pid, out = sys.argv[1], sys.argv[2]
    seen = {}
    look(pid, seen)
    start = set() if "--from-zero" in sys.argv[3:] else set(seen)
    open(out + ".started", "w").close()
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(1))
    while not stopping and look(pid, seen):
        time.sleep(0.01)
    look(pid, seen)
    by_name = {}
    for tid, (first, last, name) in seen.items():
        ran = last - (first if tid in start else 0)
        by_name[name] = by_name.get(name, 0) + ran
    with open(out + ".tmp", "w") as f:
        for name, ns in sorted(by_name.items()):
            f.write(f"{name} {ns / 1e6:.1f}\n")
        f.write(f"all {sum(by_name.values()) / 1e6:.1f}\n")
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()

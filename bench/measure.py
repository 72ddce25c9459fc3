#!/usr/bin/python3
"""Runs one print job and watches it from outside, as a user's system monitor would.

    measure.py [--spool DIR]... [--beside TARGET] [--interval SECONDS] -- COMMAND...
    measure.py --time-only -- COMMAND...

Prints one line of JSON: "wall" (seconds), "cpu" (user + system of the command and every
process it waited for), "peak_mb" (the most memory the job's processes held at once:
the sum of their proportional set sizes, so that pages they share are counted once, plus
the memory files they hold open, each counted once by what it has allocated), "spool_mb"
(the most the spool ever held: the memory files above and the files below each --spool
folder, by their allocated blocks) and "beside_mb" (the most the files next to TARGET,
other than TARGET itself, held at once: output written beside the target before it is
renamed over it).

With --time-only nothing is sampled, and the line holds "wall" and "cpu" alone, to the
microsecond.

Memory is sampled every --interval seconds (0.005 by default), so a peak shorter than that
may be missed; the times come from a run of their own in the bench scripts, not from this
one, as the sampling costs the machine some processor time.
"""
import argparse
import json
import os
import subprocess
import sys
import time


def children_of(root):
    """Every process below `root`, found through the parent of each process."""
    parents = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat", "rb") as stat:
                fields = stat.read().rsplit(b")", 1)[1].split()
            parents.setdefault(int(fields[1]), []).append(int(name))
        except (OSError, IndexError, ValueError):
            continue
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(parents.get(pid, []))
    return found


def process_memory(pid, memory_files):
    """The proportional set size of `pid` in bytes, less its shared memory mappings (the
    memory files are counted by what they hold instead), and the memory files it has open."""
    total = 0
    try:
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            for line in rollup:
                key, _, value = line.partition(":")
                if key in ("Pss_Anon", "Pss_File"):
                    total += int(value.split()[0]) * 1024
        for fd in os.listdir(f"/proc/{pid}/fd"):
            path = f"/proc/{pid}/fd/{fd}"
            try:
                if not os.readlink(path).startswith("/memfd:"):
                    continue
                info = os.stat(path)
            except OSError:
                continue
            memory_files[(info.st_dev, info.st_ino)] = info.st_blocks * 512
    except OSError:
        pass
    return total


def folder_bytes(folder, leave_out=None):
    total = 0
    for top, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(top, name)
            if path == leave_out:
                continue
            try:
                total += os.lstat(path).st_blocks * 512
            except OSError:
                pass
    return total


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--spool", action="append", default=[])
    parser.add_argument("--beside")
    parser.add_argument("--interval", type=float, default=0.005)
    parser.add_argument("--time-only", action="store_true")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command to run")

    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    if args.time_only:
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            sys.exit(f"measure.py: {command[0]} ended with {code}")
        print(json.dumps({"wall": round(wall, 6),
                          "cpu": round(usage.ru_utime + usage.ru_stime, 6)}))
        return
    peak = spool = beside = 0
    status = None
    while status is None:
        memory_files = {}
        held = sum(process_memory(pid, memory_files) for pid in children_of(child.pid))
        files = sum(memory_files.values())
        peak = max(peak, held + files)
        spool = max(spool, files + sum(folder_bytes(folder) for folder in args.spool))
        if args.beside:
            beside = max(beside, folder_bytes(os.path.dirname(os.path.abspath(args.beside)),
                                              os.path.abspath(args.beside)))
        time.sleep(args.interval)
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid == 0:
            status = None
    wall = time.monotonic() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"measure.py: {command[0]} ended with {code}")
    print(json.dumps({
        "wall": round(wall, 4),
        "cpu": round(usage.ru_utime + usage.ru_stime, 4),
        "peak_mb": round(peak / 1e6, 1),
        "spool_mb": round(spool / 1e6, 1),
        "beside_mb": round(beside / 1e6, 1),
    }))


if __name__ == "__main__":
    main()

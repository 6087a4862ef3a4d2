#!/usr/bin/env python3
"""Whole-run benchmark: the program repairing a generated messy file of
2 MB (a long film's) and one of 50 MB, and 1,000 files of 60 KB in one
call, each against the I/O floor
(bench/io_floor: one read, one write and sync, the backup as a second name
of the file, the renames and folder syncs, no processing). Runs alternate,
each on a fresh copy; prints medians with min/max, peak memory and the
program/floor ratio.

usage: run.py BUILD_DIR [--large] [--also PROGRAM] [--block]
  --large         also a 500 MB file (takes minutes, writes 1.5 GB)
  --also PROGRAM  times another build of zelvar in the same runs
  --block         also times the floor writing from a second block
                  (io_floor --block): what a repair built in memory adds
                  to the floor before any processing"""
import os
import shutil
import statistics
import subprocess
import sys
import time

MB = 1 << 20


def timed(argv, report):
    """Wall time and peak resident memory (bytes) of one child. The peak
    comes from /usr/bin/time, whose own small process starts the child, so
    that none of this interpreter's memory is counted."""
    start = time.perf_counter()
    status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + argv,
                            stdout=subprocess.DEVNULL).returncode
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{argv[0]} failed with exit code {status}")
    with open(report) as lines:
        peak_kib = int(lines.read().split()[-1])
    return elapsed, peak_kib * 1024


def fresh(folder, source, names):
    """The folder anew, holding a copy of source under each name, on disk."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in names:
        shutil.copyfile(source, os.path.join(folder, name))
    os.sync()


def alternate(commands, prepare, runs, report):
    """Each command once a round, in a rotated order, on fresh input."""
    names = list(commands)
    times = {name: [] for name in names}
    peaks = {name: 0 for name in names}
    for run in range(runs):
        for name in names[run % len(names):] + names[:run % len(names)]:
            prepare()
            elapsed, peak = timed(commands[name], report)
            times[name].append(elapsed)
            peaks[name] = max(peaks[name], peak)
    return times, peaks


def summary(title, times, peaks):
    print(title)
    for name, t in times.items():
        print(f"  {name:<11} median {statistics.median(t):7.3f} s"
              f"  (min {min(t):.3f}, max {max(t):.3f})"
              f"  peak {peaks[name] / MB:6.1f} MiB")
    floor = statistics.median(times["floor"])
    for name, t in times.items():
        if name != "floor":
            low, high = min(t) / floor, max(t) / floor
            print(f"  {name} / floor = {statistics.median(t) / floor:.2f}"
                  f"  (runs {low:.2f} to {high:.2f} of the floor's median)")


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        sys.exit(__doc__)
    build, args = args[0], args[1:]
    large = "--large" in args
    block = "--block" in args
    programs = {"zelvar": os.path.join(build, "zelvar")}
    if "--also" in args:
        programs["other"] = os.path.abspath(args[args.index("--also") + 1])
    floor = os.path.join(build, "bench", "io_floor")
    make = os.path.join(build, "bench", "make_messy")
    work = os.path.abspath(os.path.join(build, "bench-files"))
    report = os.path.join(work, "time.txt")
    os.makedirs(work, exist_ok=True)
    folder = os.path.join(work, "runs")
    for size, runs in [(2, 21), (50, 21)] + ([(500, 5)] if large else []):
        source = os.path.join(work, f"messy-{size}.srt")
        subprocess.run([make, str(size * MB), source], check=True)
        target = os.path.join(folder, "movie.srt")
        commands = {name: [path, target] for name, path in programs.items()}
        commands["floor"] = [floor, target]
        if block:
            commands["floor+block"] = [floor, "--block", target]
        times, peaks = alternate(
            commands, lambda: fresh(folder, source, ["movie.srt"]), runs,
            report)
        summary(f"{size} MB file ({os.path.getsize(source)} bytes), "
                f"{runs} runs each:", times, peaks)
        os.remove(source)
    source = os.path.join(work, "one.srt")
    subprocess.run([make, str(60 << 10), source], check=True)
    names = ["f%04d.srt" % i for i in range(1000)]
    paths = [os.path.join(folder, name) for name in names]
    commands = {name: [path] + paths for name, path in programs.items()}
    commands["floor"] = [floor] + paths
    if block:
        commands["floor+block"] = [floor, "--block"] + paths
    runs = 11
    times, peaks = alternate(commands, lambda: fresh(folder, source, names),
                             runs, report)
    summary(f"1,000 files of 60 KB in one call, {runs} runs each:", times,
            peaks)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()

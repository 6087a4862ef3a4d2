#!/usr/bin/env python3
"""Whole-run benchmark: the program repairing generated messy files of 1, 50
and 500 MB, against the I/O floor (the same file passes with the same syncs
and renames, no processing), the same passes unsynced (what they cost
before the repair was made safe) and cp. Runs alternate, each on a fresh
copy; prints medians, min/max, peak memory and the program/floor ratio.

Then the many-files run: 1,000 files of 60 KB repaired by one zelvar call,
by one call per file, and passed over by one io_floor call.

usage: run.py BUILD_DIR [SIZE_MB ...]"""
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


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sizes = [int(s) for s in sys.argv[2:]] or [1, 50, 500]
    program = os.path.join(build, "zelvar")
    floor = os.path.join(build, "bench", "io_floor")
    make = os.path.join(build, "bench", "make_messy")
    work = os.path.join(build, "bench-files")
    os.makedirs(work, exist_ok=True)
    runs_for = {1: 9, 50: 7, 500: 5}
    rows = []
    for size in sizes:
        source = os.path.join(work, f"messy-{size}.srt")
        subprocess.run([make, str(size * MB), source], check=True)
        length = os.path.getsize(source)
        target = os.path.join(work, "movie.srt")
        copied = os.path.join(work, "copy.srt")
        commands = {
            "zelvar": [program, target],
            "floor": [floor, target],
            "unsynced": [floor, "--unsynced", target],
            "cp": ["cp", source, copied],
        }
        times = {name: [] for name in commands}
        peaks = {name: 0 for name in commands}
        runs = runs_for.get(size, 3)
        names = list(commands)
        for run in range(runs):
            for name in names[run % len(names):] + names[:run % len(names)]:
                for stale in ("movie.srt", "movie.old", "copy.srt"):
                    path = os.path.join(work, stale)
                    if os.path.exists(path):
                        os.remove(path)
                shutil.copyfile(source, target)
                os.sync()
                elapsed, peak = timed(commands[name],
                                      os.path.join(work, "time.txt"))
                times[name].append(elapsed)
                peaks[name] = max(peaks[name], peak)
                if name == "zelvar":
                    repaired = os.path.getsize(target)
        # Each holds one buffer of the file's size at a time; zelvar and
        # the floor pass over the rewritten file a block at a time.
        largest = {"zelvar": length, "floor": length, "unsynced": length,
                   "cp": 0}
        for name in names:
            t = times[name]
            rows.append((size, name, statistics.median(t), min(t), max(t),
                         peaks[name], largest[name]))
        print(f"{size} MB: input {length} bytes, repaired {repaired} bytes, "
              f"{runs} runs each", flush=True)
    print()
    print(f"{'size':>6} {'run':>7} {'median s':>9} {'min s':>7} {'max s':>7}"
          f" {'peak MiB':>9} {'peak - buffers':>15}")
    for size, name, median, low, high, peak, length in rows:
        print(f"{size:>4}MB {name:>7} {median:9.3f} {low:7.3f} {high:7.3f}"
              f" {peak / MB:9.1f} {(peak - length) / MB:13.1f}Mi")
    print()
    medians = {(size, name): median for size, name, median, *_ in rows}
    for size in sizes:
        ratio = medians[(size, "zelvar")] / medians[(size, "floor")]
        syncs = medians[(size, "floor")] - medians[(size, "unsynced")]
        print(f"{size:>4} MB: zelvar / floor = {ratio:.2f}; the syncs and "
              f"rename add {syncs:.3f} s to the unsynced passes")
    if 50 in sizes and 500 in sizes:
        growth = medians[(500, "zelvar")] / medians[(50, "zelvar")]
        print(f"500 MB / 50 MB time for zelvar = {growth:.1f}")
    many_files(program, floor, make, work)
    shutil.rmtree(work)


def many_files(program, floor, make, work, count=1000, size=60 << 10, runs=5):
    """A library's worth of files: one call for them all, one call per
    file, and the I/O floor over them all; each on fresh copies."""
    source = os.path.join(work, "one.srt")
    subprocess.run([make, str(size), source], check=True)
    folder = os.path.join(work, "many")
    names = [os.path.join(folder, "f%04d.srt" % i) for i in range(count)]

    def one_call():
        subprocess.run([program] + names, check=True)

    def call_each():
        for name in names:
            subprocess.run([program, name], check=True)

    def floor_call():
        subprocess.run([floor] + names, check=True)

    ways = {"one zelvar call": one_call, "a zelvar call per file": call_each,
            "io_floor, one call": floor_call}
    times = {way: [] for way in ways}
    for run in range(runs):
        for way, call in ways.items():
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            for name in names:
                shutil.copyfile(source, name)
            os.sync()
            start = time.perf_counter()
            call()
            times[way].append(time.perf_counter() - start)
    print()
    print(f"{count} files of {size >> 10} KB, median of {runs} runs:")
    for way, t in times.items():
        print(f"  {way:<24} {statistics.median(t):7.2f} s"
              f"  (min {min(t):.2f}, max {max(t):.2f})")


if __name__ == "__main__":
    main()

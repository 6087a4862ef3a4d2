#!/usr/bin/env python3
"""Whole runs of zelvar with system calls made to fail, or the process
killed, one call at a time, under strace's fault injection.

usage: faults.py PROGRAM injection|order|changed

injection  every call of the run that reads, writes, opens, closes, syncs,
           truncates or renames is made to fail in turn with a fitting
           error, and separately the process is killed at every call. After
           a failure: exit 1 with exactly one message, or exit 0 with the
           exact repair and backup; the target holds the file as read or the
           exact repair; no temporary file is left; a plain retry repairs it
           and leaves the file as read in the backup. After a kill: the file
           as read is in the target or in the backup.
order      the backup is synced, renamed into place and its folder synced
           before the target is emptied, and the target is synced after its
           last write.
changed    a file changed by another program while the backup is written
           is refused, and the change is kept.

Exits 77 (skipped) when strace is missing or cannot trace here, except on CI
(CI=true), where that is a failure.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

T1 = b"00:00:01,000 --> 00:00:02,500"
T2 = b"00:00:03,000 --> 00:00:04,000"
MESSAGES = {
    b"Zelvar: Error: Couldnt open the .srt file.\n",
    b"Zelvar: Error: Couldnt create a backup file.\n",
    b"Zelvar: Error: Couldnt replace the original .srt file.\n",
    b"Zelvar: Error: Couldnt rebuild the .srt file.\n",
    b"Zelvar: Error: Couldnt open the .srt file for re-replacement.\n",
}
# What each kind of call is made to fail with.
ERRORS = {
    "openat": ["EACCES"],
    "read": ["EIO"],
    "write": ["ENOSPC", "EIO"],
    "close": ["EIO"],
    "fsync": ["EIO"],
    "fdatasync": ["EIO"],
    "rename": ["EIO"],
    "renameat": ["EIO"],
    "renameat2": ["EIO"],
    "ftruncate": ["EIO"],
    "lseek": ["EIO"],
    "newfstatat": ["EIO"],
    "fstat": ["EIO"],
    "fchmod": ["EIO"],
    "fchown": ["EIO"],
}
OLDER_BACKUP = b"an older backup, to be replaced only by a whole new one\n"


def small_file():
    return (b"\xef\xbb\xbf12\n" + T1 + b"\n\n<i>Hello</i>\nthere\n\n\n\n44\r\n" + T2
            + b"\r\n<b>a > b</b>\r\n")


def large_file():
    parts = []
    size = 0
    number = 1
    while size < 3 << 20:
        part = (b"%d\n" % (number * 3) + T1 + b"\n\n<i>Line %d</i>\nsecond line\n\n\n"
                % number)
        parts.append(part)
        size += len(part)
        number += 1
    return b"".join(parts)


class Failures:
    def __init__(self):
        self.items = []

    def check(self, holds, what):
        if not holds:
            self.items.append(what)


def run(program, folder, strace_args=(), timeout=60):
    command = list(strace_args) + [program, "movie.srt"]
    done = subprocess.run(command, cwd=folder, capture_output=True, timeout=timeout)
    return done.returncode, done.stderr


def fresh_folder(root, name, content, older=True):
    folder = os.path.join(root, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    write(os.path.join(folder, "movie.srt"), content)
    if older:
        write(os.path.join(folder, "movie.old"), OLDER_BACKUP)
    return folder


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def repaired(program, root, content):
    folder = fresh_folder(root, "reference", content)
    code, err = run(program, folder)
    if code != 0:
        sys.exit("the reference run failed: %r" % err)
    return read(os.path.join(folder, "movie.srt"))


def traced_calls(program, root, content):
    """The run's calls after the program's own start, in order, as
    (name, its number among the calls of that name)."""
    folder = fresh_folder(root, "trace", content)
    trace = os.path.join(root, "trace.txt")
    code, _ = run(program, folder, ["strace", "-f", "-o", trace])
    if code != 0:
        sys.exit("the traced run failed")
    seen = {}
    calls = []
    started = False
    with open(trace, errors="replace") as f:
        for line in f:
            match = re.match(r"\d+\s+(\w+)\(", line)
            if not match:
                continue
            name = match.group(1)
            seen[name] = seen.get(name, 0) + 1
            # The dynamic loader's calls come before the program asks for
            # its own path; failing those only stops the program loading.
            if name == "readlink" and "/proc/self/exe" in line:
                started = True
            if started and name not in ("exit_group", "exit"):
                calls.append((name, seen[name]))
    return calls


def check_after_error(program, root, content, expected, what, failures):
    folder = os.path.join(root, "case")
    target = read(os.path.join(folder, "movie.srt"))
    backup = read(os.path.join(folder, "movie.old"))
    listing = sorted(os.listdir(folder))
    failures.check(listing == ["movie.old", "movie.srt"],
                   "%s: folder holds %s" % (what, listing))
    failures.check(target in (content, expected),
                   "%s: the target is neither the file as read nor the repair" % what)
    return target, backup


def injection(program, root):
    failures = Failures()
    counts = {"runs": 0, "failed": 0, "succeeded": 0, "kills": 0,
              "kills leaving the target cut or masked": 0}
    for label, content in (("small", small_file()), ("3 MB", large_file())):
        expected = repaired(program, root, content)
        calls = traced_calls(program, root, content)
        for name, number in calls:
            for error in ERRORS.get(name, []):
                what = "%s file, %s #%d fails with %s" % (label, name, number, error)
                folder = fresh_folder(root, "case", content)
                code, err = run(program, folder, [
                    "strace", "-f", "-o", "/dev/null", "-e",
                    "inject=%s:error=%s:when=%d" % (name, error, number)])
                counts["runs"] += 1
                target, backup = check_after_error(
                    program, root, content, expected, what, failures)
                if code == 0:
                    counts["succeeded"] += 1
                    failures.check(err == b"", "%s: exit 0 with %r" % (what, err))
                    failures.check(target == expected, "%s: exit 0, not repaired" % what)
                    failures.check(backup == content, "%s: exit 0, backup differs" % what)
                    continue
                counts["failed"] += 1
                failures.check(code == 1, "%s: exit code %d" % (what, code))
                failures.check(err in MESSAGES, "%s: said %r" % (what, err))
                failures.check(backup in (OLDER_BACKUP, content),
                               "%s: the backup is damaged" % what)
                code, err = run(program, folder)
                failures.check(code == 0, "%s: the retry failed: %r" % (what, err))
                failures.check(read(os.path.join(folder, "movie.srt")) == expected,
                               "%s: the retry did not repair it" % what)
                failures.check(read(os.path.join(folder, "movie.old")) == content,
                               "%s: after the retry the backup differs" % what)
            what = "%s file, killed at %s #%d" % (label, name, number)
            folder = fresh_folder(root, "case", content)
            code, _ = run(program, folder, [
                "strace", "-f", "-o", "/dev/null", "-e",
                "inject=%s:signal=SIGKILL:when=%d" % (name, number)])
            counts["runs"] += 1
            counts["kills"] += 1
            target = read(os.path.join(folder, "movie.srt"))
            backup = read(os.path.join(folder, "movie.old"))
            failures.check(target == content or backup == content,
                           "%s: the file as read is gone" % what)
            failures.check(backup in (OLDER_BACKUP, content),
                           "%s: the backup is damaged" % what)
            if target not in (content, expected):
                counts["kills leaving the target cut or masked"] += 1
    for key, value in counts.items():
        print("%s: %d" % (key, value))
    return failures


def order(program, root):
    failures = Failures()
    content = small_file()
    folder = fresh_folder(root, "order", content)
    trace = os.path.join(root, "order.txt")
    code, _ = run(program, folder, ["strace", "-f", "-y", "-o", trace])
    failures.check(code == 0, "the traced run failed")
    events = []
    with open(trace, errors="replace") as f:
        for line in f:
            match = re.match(r"\d+\s+(\w+)\((\d+)?<?([^>,]*)>?", line)
            if match:
                events.append((match.group(1), match.group(3), line.strip()))

    def first(test):
        return next((i for i, e in enumerate(events) if test(e)), None)

    def last(test):
        found = [i for i, e in enumerate(events) if test(e)]
        return found[-1] if found else None

    target = os.path.realpath(os.path.join(folder, "movie.srt"))
    backup_synced = first(lambda e: e[0] == "fsync" and "/.zelvar-" in e[1])
    renamed = first(lambda e: e[0].startswith("rename") and "movie.old" in e[2])
    folder_synced = first(lambda e: e[0] == "fsync" and e[1] == os.path.realpath(folder))
    emptied = first(lambda e: e[1] == target and e[0] in ("ftruncate", "write"))
    last_write = last(lambda e: e[1] == target and e[0] == "write")
    target_synced = last(lambda e: e[1] == target and e[0] == "fsync")
    steps = [("backup synced", backup_synced), ("backup renamed", renamed),
             ("folder synced", folder_synced), ("target emptied", emptied),
             ("target's last write", last_write), ("target synced", target_synced)]
    for step, at in steps:
        failures.check(at is not None, "no %s in the trace" % step)
    if all(at is not None for _, at in steps):
        for (a, at), (b, bt) in zip(steps, steps[1:]):
            failures.check(at < bt, "%s (call %d) not before %s (call %d)" % (a, at, b, bt))
        for step, at in steps:
            print("%-20s %s" % (step, events[at][2]))
    return failures


def changed(program, root):
    failures = Failures()
    content = large_file()
    folder = fresh_folder(root, "changed", content, older=False)
    target = os.path.join(folder, "movie.srt")
    # The backup's rename waits a second; while its new file stands in the
    # folder (the file was read by then), another program appends.
    def edit():
        deadline = time.time() + 30
        while time.time() < deadline and not any(
                name.startswith(".zelvar-") for name in os.listdir(folder)):
            time.sleep(0.005)
        with open(target, "ab") as f:
            f.write(b"\n99\n" + T2 + b"\nadded by another program\n")
    editor = threading.Thread(target=edit)
    editor.start()
    code, err = run(program, folder, ["strace", "-f", "-o", "/dev/null", "-e",
                                      "inject=rename:delay_enter=2000000"])
    editor.join()
    failures.check(code == 1, "exit code %d" % code)
    failures.check(err == b"Zelvar: Error: Couldnt replace the original .srt file.\n",
                   "said %r" % err)
    failures.check(read(target) == content + b"\n99\n" + T2
                   + b"\nadded by another program\n", "the change was lost")
    failures.check(read(os.path.join(folder, "movie.old")) == content,
                   "the backup is not the file as read")
    return failures


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("injection", "order", "changed"):
        sys.exit(__doc__)
    program = os.path.abspath(sys.argv[1])
    on_ci = os.environ.get("CI") == "true"
    usable = shutil.which("strace") is not None and subprocess.run(
        ["strace", "-o", "/dev/null", "true"], capture_output=True).returncode == 0
    if not usable:
        print("strace is missing or cannot trace here: fault injection not run")
        sys.exit(1 if on_ci else 77)
    root = tempfile.mkdtemp(prefix="zelvar-faults-")
    try:
        failures = globals()[sys.argv[2]](program, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for item in failures.items:
        print("FAIL: " + item)
    print("violations: %d" % len(failures.items))
    sys.exit(1 if failures.items else 0)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Whole runs of zelvar with system calls made to fail, or the process
killed, one call at a time, under strace's fault injection.

usage: faults.py PROGRAM injection|order|changed

injection  every call of the run that reads, writes, opens, closes, syncs,
           truncates or renames is made to fail in turn with a fitting
           error, and separately the process is killed at every call. After
           a failure: exit 1 with exactly one message, or exit 0 with the
           exact repair and backup; no new file is left. After a failure or
           a kill: the target holds the file as read or the exact repair,
           never anything between; an older backup is whole or replaced by
           the file as read, and is never another name of the target. Then a plain retry repairs it, keeps the file
           as read in the backup and leaves nothing else in the folder.
order      the repair's new file is synced before it takes the target's
           name. A file with one name: the file as read is synced, the two
           exchange names, the file as read is renamed onto the backup's
           name, the folder is synced. A file with a second name: a copy
           is synced, renamed onto the backup's name and its folder synced
           before the exchange, the folder after it. No link is ever made
           (the backup is never a name of the target); the target itself
           is never truncated or written.
changed    a file changed by another program while the run works is kept
           with the change, and the run fails.

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
# One line for a failed run: the file, the message, why in brackets.
MESSAGE = re.compile(rb"zelvar: movie\.srt: Error: Couldnt (open the \.srt file"
                     rb"|create a backup file|replace the original \.srt file"
                     rb"|rebuild the \.srt file|open the \.srt file for "
                     rb"re-replacement)\.( \([^\n]*\))?\n")
# What each kind of call is made to fail with.
ERRORS = {
    "openat": ["EACCES"],
    "read": ["EIO"],
    "write": ["ENOSPC", "EIO"],
    "close": ["EIO"],
    "fsync": ["EIO"],
    "fdatasync": ["EIO"],
    "rename": ["EIO"],
    "link": ["EIO", "EPERM"],
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


# When set, each file gets a second name outside its folder, so that its
# backup is a copy instead of one more name of the file.
TWO_NAMES = False


def fresh_folder(root, name, content, older=True):
    folder = os.path.join(root, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    write(os.path.join(folder, "movie.srt"), content)
    if older:
        write(os.path.join(folder, "movie.old"), OLDER_BACKUP)
    second = os.path.join(root, name + "-second-name")
    if os.path.exists(second):
        os.remove(second)
    if TWO_NAMES:
        os.link(os.path.join(folder, "movie.srt"), second)
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
    """The run's calls after the program's own start, in order, as (name,
    number, path, label). strace counts the calls of each thread apart. A
    call on a file in the folder is numbered among its thread's calls of
    its name on that file, and path (the file's name) narrows the injection
    to those, so that it never fails a write of a message; any other call
    is numbered among all its thread's calls of its name."""
    folder = fresh_folder(root, "trace", content)
    trace = os.path.join(root, "trace.txt")
    code, _ = run(program, folder, ["strace", "-f", "-y", "-o", trace])
    if code != 0:
        sys.exit("the traced run failed")
    seen = {}
    calls = []
    started = False
    first = None
    with open(trace, errors="replace") as f:
        for line in f:
            match = re.match(r"(\d+)\s+(\w+)\(", line)
            if not match:
                continue
            pid, name = match.group(1), match.group(2)
            first = first or pid
            touched = re.search(r'\(\d+<([^>]*)>|"([^"]*)"', line)
            touched = touched and (touched.group(1) or touched.group(2))
            path = None
            if touched and os.path.dirname(touched) in (
                    "", folder, os.path.realpath(folder)) and os.path.basename(
                        touched) not in ("", ".", ".."):
                path = os.path.basename(touched)
            key = (pid, name, path)
            seen[key] = seen.get(key, 0) + 1
            every = (pid, name)
            seen[every] = seen.get(every, 0) + 1
            number = seen[key] if path else seen[every]
            # The dynamic loader's calls come before the program's first
            # look at its standard descriptors; failing those only stops
            # the program loading.
            if name == "fcntl" and "F_GETFD" in line:
                started = True
            if started and name not in ("exit_group", "exit"):
                label = "%s #%d" % (name, number)
                if path:
                    label += " on " + path
                if pid != first:
                    label += " of a second thread"
                calls.append((name, number, path, label))
    return calls


def inject(folder, name, number, path, action):
    """strace's arguments that inject action at the call."""
    narrow = ["-P", os.path.join(folder, path)] if path else []
    return ["strace", "-f", "-o", "/dev/null"] + narrow + [
        "-e", "inject=%s:%s:when=%d" % (name, action, number)]


def check_state(root, content, expected, what, failures):
    """The target is the file as read or its repair, and an older backup
    whole or replaced by the file as read, and never another name of the
    target; returns the target's bytes."""
    folder = os.path.join(root, "case")
    target = read(os.path.join(folder, "movie.srt"))
    backup = read(os.path.join(folder, "movie.old"))
    try:
        one = os.path.samefile(os.path.join(folder, "movie.srt"),
                               os.path.join(folder, "movie.old"))
    except FileNotFoundError:
        one = False
    failures.check(not one, "%s: the backup is another name of the target" % what)
    failures.check(target in (content, expected),
                   "%s: the target is neither the file as read nor the repair" % what)
    failures.check(backup in (OLDER_BACKUP, content), "%s: the backup is damaged" % what)
    return target


def retry(program, root, content, expected, what, failures, counts):
    """A plain retry repairs the file, keeps the file as read in the
    backup and leaves nothing else."""
    folder = os.path.join(root, "case")
    code, err = run(program, folder)
    failures.check(code == 0, "%s: the retry failed: %r" % (what, err))
    failures.check(read(os.path.join(folder, "movie.srt")) == expected,
                   "%s: the retry did not repair it" % what)
    if read(os.path.join(folder, "movie.old")) != content:
        counts["retries that lost the file as read"] += 1
        failures.check(False, "%s: after the retry the backup differs" % what)
    listing = sorted(os.listdir(folder))
    if listing != ["movie.old", "movie.srt"]:
        counts["retries leaving other files"] += 1
        failures.check(False, "%s: after the retry the folder holds %s" % (what, listing))


def injection(program, root):
    failures = Failures()
    counts = {"runs": 0, "failed": 0, "succeeded": 0, "kills": 0,
              "kills leaving the target cut or masked": 0,
              "kills leaving a new file": 0,
              "retries that lost the file as read": 0,
              "retries leaving other files": 0}
    global TWO_NAMES
    for label, content, TWO_NAMES in (
            ("small", small_file(), False), ("3 MB", large_file(), False),
            ("small, with a second name,", small_file(), True)):
        expected = repaired(program, root, content)
        calls = traced_calls(program, root, content)
        for name, number, path, call in calls:
            for error in ERRORS.get(name, []):
                what = "%s file, %s fails with %s" % (label, call, error)
                folder = fresh_folder(root, "case", content)
                code, err = run(program, folder, inject(
                    folder, name, number, path, "error=" + error))
                counts["runs"] += 1
                target = check_state(root, content, expected, what, failures)
                listing = sorted(os.listdir(folder))
                failures.check(listing == ["movie.old", "movie.srt"],
                               "%s: folder holds %s" % (what, listing))
                if code == 0:
                    counts["succeeded"] += 1
                    failures.check(err == b"", "%s: exit 0 with %r" % (what, err))
                    failures.check(target == expected, "%s: exit 0, not repaired" % what)
                    failures.check(read(os.path.join(folder, "movie.old")) == content,
                                   "%s: exit 0, backup differs" % what)
                    continue
                counts["failed"] += 1
                failures.check(code == 1, "%s: exit code %d" % (what, code))
                failures.check(MESSAGE.fullmatch(err) is not None,
                               "%s: said %r" % (what, err))
                retry(program, root, content, expected, what, failures, counts)
            what = "%s file, killed at %s" % (label, call)
            folder = fresh_folder(root, "case", content)
            run(program, folder, inject(folder, name, number, path,
                                        "signal=SIGKILL"))
            counts["runs"] += 1
            counts["kills"] += 1
            if check_state(root, content, expected, what, failures) not in (
                    content, expected):
                counts["kills leaving the target cut or masked"] += 1
            if len(os.listdir(folder)) > 2:
                counts["kills leaving a new file"] += 1
            retry(program, root, content, expected, what, failures, counts)
    for key, value in counts.items():
        print("%s: %d" % (key, value))
    return failures


def order(program, root):
    """The syncs and renames of a run, in order: with the backup made as a
    second name of the file, and as a copy (the file has a second name)."""
    global TWO_NAMES
    failures = Failures()
    content = small_file()

    def fsync(tail):  # the sync of the file whose path ends with tail
        return r"fsync\(\d+<[^>]*%s>\)" % re.escape(tail)

    def renamed(name):  # a rename onto name that succeeded
        return r'rename\w*\(.*"([^"]*/)?%s"(, RENAME_\w+)?\) = 0' % re.escape(name)

    exchange = ("repair exchanged with the target",
                r'renameat2\(.*-repair", .*"([^"]*/)?movie\.srt", RENAME_EXCHANGE\) = 0')
    moved = [("file as read synced", fsync("/movie.srt")), exchange,
             ("file as read renamed to the backup",
              r'rename\w*\(.*-repair", .*"([^"]*/)?movie\.old"(, 0)?\) = 0'),
             ("the folder synced", None)]
    copied = [("backup synced", fsync("-backup")),
              ("backup renamed", renamed("movie.old")),
              ("its folder synced", None), exchange,
              ("the folder synced", None)]
    for TWO_NAMES, backup in ((False, moved), (True, copied)):
        print("the backup %s:" % ("copied" if TWO_NAMES else "moved"))
        folder = fresh_folder(root, "order", content)
        trace = os.path.join(root, "order.txt")
        code, _ = run(program, folder, ["strace", "-f", "-y", "-o", trace])
        failures.check(code == 0, "the traced run failed")
        with open(trace, errors="replace") as f:
            lines = [line.strip() for line in f]
        real_folder = os.path.realpath(folder)
        steps = [("repair synced", fsync("-repair"))] + [
            (step, pattern or fsync(real_folder)) for step, pattern in backup]
        at = -1
        for step, pattern in steps:
            at = next((i for i in range(at + 1, len(lines))
                       if re.match(r"\d+\s+" + pattern, lines[i])), None)
            if at is None:
                failures.check(False, "no %s after the step before it" % step)
                break
            print("  %-32s %s" % (step, lines[at]))
        target = os.path.realpath(os.path.join(folder, "movie.srt"))
        touched = [l for l in lines if ("<%s>" % target in l and re.match(
            r"\d+\s+(write|pwrite64|ftruncate|fallocate)\(", l)) or (
            "movie.srt" in l and "O_TRUNC" in l)]
        failures.check(touched == [], "the target was written: %s" % touched)
        links = [l for l in lines if re.match(r"\d+\s+link\w*\(", l)]
        failures.check(links == [], "a link was made: %s" % links)
    TWO_NAMES = False
    return failures


def changed(program, root):
    """Another program changes the file while a run holds at a call: at
    the sync of its repair (the change shows before the last check), or at
    the exchange that replaces the file (the change shows in what the
    exchange took out, and the exchange is undone). Either way the change
    is kept at the file's name, and a backup, if one was made, holds the
    file as read. A save that a run cut off right after the exchange leaves
    aside is kept by the next run under a visible name."""
    global TWO_NAMES
    failures = Failures()
    content = large_file()
    added = b"\n99\n" + T2 + b"\nadded by another program\n"
    # held call, what shows the run is on its way there and how long it
    # takes at most to get there, how the file changes, whether the file
    # has a second name (its backup is then a copy), whether the run is
    # killed right after the exchange
    rows = [
        ("fsync", ".zelvar-", 1.0, "append", False, False),
        ("renameat2", ".zelvar-", 0.5, "append", False, False),
        ("renameat2", ".zelvar-", 0.5, "save by rename", False, False),
        ("renameat2", "movie.old", 0, "save by rename", True, False),
        ("renameat2", ".zelvar-", 0.5, "save by rename", False, True),
    ]
    for held, sign, way, how, TWO_NAMES, killed in rows:
        folder = fresh_folder(root, "changed", content, older=False)
        target = os.path.join(folder, "movie.srt")
        repair = repaired(program, root, content)

        def edit():
            deadline = time.time() + 30
            while time.time() < deadline and not any(
                    name.startswith(sign) for name in os.listdir(folder)):
                time.sleep(0.005)
            time.sleep(way)
            if how == "append":
                with open(target, "ab") as f:
                    f.write(added)
            else:
                with open(target + ".new", "wb") as f:
                    f.write(content + added)
                os.rename(target + ".new", target)
        editor = threading.Thread(target=edit)
        editor.start()
        hold = "inject=%s:delay_enter=2000000" % held
        if killed:
            hold = "inject=%s:delay_enter=1000000:delay_exit=3000000:when=1" % held
        tracer = subprocess.Popen(
            ["strace", "-f", "-o", "/dev/null", "-e", hold, program, "movie.srt"],
            cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if killed:
            # Killed while it waits on its way out of the exchange.
            time.sleep(0.2)
            editor.join()
            time.sleep(1.2)
            children = "/proc/%d/task/%d/children" % (tracer.pid, tracer.pid)
            with open(children) as f:
                for pid in f.read().split():
                    os.kill(int(pid), 9)
        _, err = tracer.communicate(timeout=60)
        code = tracer.returncode
        editor.join()
        row = "%s held, %s%s%s: " % (held, how, ", a second name" if TWO_NAMES
                                     else "", ", killed" if killed else "")
        if killed:
            code, err = run(program, folder)
            failures.check(code == 0, row + "the retry's exit code %d" % code)
            failures.check(err == b"zelvar: movie.srt: kept movie.srt.kept: a run"
                           b" cut off had left it beside the file, holding bytes"
                           b" found nowhere else\n", row + "said %r" % err)
            failures.check(read(target) == repair, row + "the file is not the repair")
            failures.check(read(target + ".kept") == content + added,
                           row + "the save is not kept")
            listing = sorted(os.listdir(folder))
            failures.check(listing == ["movie.srt", "movie.srt.kept"],
                           row + "the folder holds %s" % listing)
            continue
        failures.check(code == 1, row + "exit code %d" % code)
        failures.check(err == b"zelvar: movie.srt: Error: Couldnt replace the original"
                       b" .srt file. (the file changed while it was repaired)\n",
                       row + "said %r" % err)
        listing = sorted(os.listdir(folder))
        failures.check(listing in (["movie.srt"], ["movie.old", "movie.srt"]),
                       row + "the folder holds %s" % listing)
        failures.check(read(target) == content + added, row + "the change was lost")
        failures.check(read(os.path.join(folder, "movie.old")) in (None, content),
                       row + "the backup is not the file as read")
    TWO_NAMES = False
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

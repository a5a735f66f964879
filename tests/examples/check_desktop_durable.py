"""The examples flush every desktop file and folder to disk before the
handheld's database is written back with its deleted records purged and its
change flags reset: traced with strace, every file and folder below the
desktop folder has its fsync before the handheld's database is last renamed
into place, or a syncfs of the desktop's file system is. (A two-way example
writes the handheld back twice: first its edits, which must be on the
handheld before the desktop says they were made, then the purge and reset.) Exits 77 (skipped)
where strace cannot trace.

    check_desktop_durable.py BIN_DIR HANDHELD_DIR"""
import os
import re
import shutil
import subprocess
import sys

from example_check import Scratch, expect

CALLS = "trace=fsync,fdatasync,syncfs,rename,renameat,renameat2"


def check(s, conduit):
    trace = os.path.join(s.root, "trace")
    out = subprocess.run(["strace", "-f", "-y", "-qq", "-e", CALLS, "-o", trace,
                          os.path.join(s.bin, "fernwick-hotsync"), "--handheld", s.handheld,
                          "--desktop", s.desktop, "--sync-type", "slow", "sync", conduit],
                         cwd=s.bin, capture_output=True)
    if out.returncode != 0 and b"ptrace" in out.stderr.lower():
        print("skipped: strace cannot trace here: " + out.stderr.decode("utf-8", "replace"))
        sys.exit(77)
    log = out.stdout.decode("utf-8", "replace")
    expect(out.returncode == 0 and "OK " in log, log + out.stderr.decode("utf-8", "replace"))
    with open(trace) as f:
        lines = f.read().splitlines()
    write_backs = [i for i, line in enumerate(lines) if line.split()[1].startswith("rename")
                   and re.findall(r'"([^"]*)"', line)[-1].startswith(s.handheld)]
    write_back = write_backs[-1] if write_backs else None
    expect(write_back is not None, "{}: no write-back of the handheld in\n{}".format(
        conduit, "\n".join(lines)))
    flushed = set()
    for line in lines[:write_back]:
        m = re.match(r"\d+ +(f(?:data)?sync|syncfs)\(\d+<([^>]*)>\) = 0", line)
        if not m:
            continue
        if m.group(1) != "syncfs":
            flushed.add(m.group(2))
        elif os.stat(m.group(2)).st_dev == os.stat(s.desktop).st_dev:
            return  # all of the desktop's file system
    missing = []
    for folder, _, files in os.walk(s.desktop):
        if os.path.realpath(folder) not in flushed:
            missing.append(folder + "/")
        missing += [os.path.join(folder, name) for name in files
                    if os.path.realpath(os.path.join(folder, name)) not in flushed]
    expect(not missing, "{}: not flushed before the handheld's write-back: {}".format(
        conduit, ", ".join(sorted(missing))))


def main(bin_dir, handheld):
    if shutil.which("strace") is None:
        print("skipped: no strace")
        sys.exit(77)
    for conduit in ("memo_conduit.dll", "todo_conduit.dll", "datebook_conduit.dll"):
        with Scratch(bin_dir, handheld) as s:
            s.desktop = os.path.realpath(s.desktop)
            s.handheld = os.path.realpath(s.handheld)
            check(s, conduit)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

#!/usr/bin/python3
"""Under Wine: korvex hands its results to the system in large blocks whatever
stdout is (a file, /dev/null, a pipe), not a line at a time. Counted with
WINEDEBUG=trace+file, which logs every NtWriteFile.

    wine_write_count_check.py WINE_RUN KORVEX_EXE DLL

Exits 1 naming the target whose writes were not batched."""
import os
import subprocess
import sys
import tempfile

# Nearly a thousand lines of imports are well under two blocks of output.
MOST_WRITES = 4


def count_writes(command, target):
    env = dict(os.environ, WINEDEBUG="trace+file")
    with tempfile.TemporaryFile() as err, tempfile.TemporaryFile() as out:
        if target == "pipe":
            run = subprocess.run(command, stdout=subprocess.PIPE, stderr=err, stdin=subprocess.DEVNULL,
                                 env=env, timeout=120, check=False)
            lines = run.stdout.count(b"\n")
        else:
            sink = out if target == "file" else open(os.devnull, "wb")
            run = subprocess.run(command, stdout=sink, stderr=err, stdin=subprocess.DEVNULL,
                                 env=env, timeout=120, check=False)
            out.seek(0)
            lines = out.read().count(b"\n") if target == "file" else None
        err.seek(0)
        writes = err.read().count(b":trace:file:NtWriteFile (")
    return run.returncode, lines, writes


def main():
    wine_run, korvex, dll = sys.argv[1:4]
    command = [wine_run, korvex, "inspect", "--imports", dll]
    failures = []
    for target in ("file", "null", "pipe"):
        status, lines, writes = count_writes(command, target)
        print(f"{target}: exit {status}, {lines} lines, {writes} writes")
        if status != 0 or (lines is not None and lines < 100) or writes > MOST_WRITES:
            failures.append(target)
    if failures:
        print("output not written in blocks into: " + ", ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Under Wine: korvex hands its results to the system in large blocks whatever
stdout is (a file, /dev/null, a pipe), not a line at a time, and its error
lines likewise (a run over many files that are not executables). Counted with
WINEDEBUG=trace+file, which logs every NtWriteFile. And a reader that goes
away (`korvex inspect ... | head -1`) ends korvex quietly, with the status its
work earned.

    wine_write_count_check.py WINE_RUN KORVEX_EXE DLL

Exits 1 naming the target whose writes were not batched."""
import os
import subprocess
import sys
import tempfile

# Nearly a thousand lines of imports are well under two blocks of output.
MOST_WRITES = 4


def count_writes(command, target, marker):
    # +pid puts the process id before each trace line: only korvex's writes
    # count, not those of Wine's own services, which may inherit the trace
    # channel when the run starts them. korvex is the process whose trace
    # names `marker` (a file only it opens).
    env = dict(os.environ, WINEDEBUG="+pid,trace+file")
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
        trace = err.read().splitlines()
        own = next((line.split(b":", 1)[0] for line in trace if marker in line), None)
        writes = sum(1 for line in trace if b":trace:file:NtWriteFile (" in line and
                     (own is None or line.split(b":", 1)[0] == own))
    return run.returncode, lines, writes


def traced(path):
    """A Windows path as Wine's traces spell it, backslashes doubled."""
    return path.replace("\\", "\\\\").encode()


# Error lines of files that are not executables: one each, on stderr.
NOT_EXECUTABLES = 60


def count_error_writes(wine_run, korvex):
    with tempfile.TemporaryDirectory() as folder:
        for i in range(NOT_EXECUTABLES):
            with open(os.path.join(folder, f"note{i}.txt"), "w") as note:
                note.write("not a program\n")
        command = [wine_run, korvex, "inspect", "Z:" + folder.replace("/", "\\") + "\\*.txt"]
        status, _, writes = count_writes(command, "null", b"note0.txt")
    return status, writes


def quiet_when_the_reader_goes(command):
    run = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, env=dict(os.environ, WINEDEBUG="-all"))
    first = run.stdout.readline()
    run.stdout.close()
    err = run.stderr.read()
    status = run.wait(timeout=120)
    print(f"reader gone after one line: exit {status}, stderr {err!r}")
    return bool(first) and status == 0 and b"korvex:" not in err


def main():
    wine_run, korvex, dll = sys.argv[1:4]
    command = [wine_run, korvex, "inspect", "--imports", dll]
    failures = []
    for target in ("file", "null", "pipe"):
        status, lines, writes = count_writes(command, target, traced(dll))
        print(f"{target}: exit {status}, {lines} lines, {writes} writes")
        if status != 0 or (lines is not None and lines < 100) or writes > MOST_WRITES:
            failures.append(target)
    # Every output mode, each more than a pipe holds; a write the pipe took
    # only part of before its reader went failed with a stale cause.
    for mode in (["--imports"], ["--json"], ["--json-lines"], ["--csv", "exports"]):
        for _ in range(3):
            if not quiet_when_the_reader_goes([wine_run, korvex, "inspect", *mode] + [dll] * 8):
                failures.append("a closed pipe: " + " ".join(mode))
    status, writes = count_error_writes(wine_run, korvex)
    print(f"error lines: exit {status}, {NOT_EXECUTABLES} lines, {writes} writes")
    # A write at most every quarter of a second, whatever the run's pace:
    # far fewer than a write per line.
    if status != 1 or writes > NOT_EXECUTABLES // 4:
        failures.append("stderr")
    if failures:
        print("output not written in blocks into: " + ", ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

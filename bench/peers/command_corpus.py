#!/usr/bin/python3
"""Command-line peers over an inspection corpus, timed from outside:

    command_corpus.py objdump FOLDER ROUNDS   binutils `objdump -p`, every file in one process
    command_corpus.py readpe FOLDER ROUNDS    pev's `readpe -i -e`, one process per file

Output goes to /dev/null. Prints the median time of the rounds as
"result inspect.peer.TOOL MS"."""
import os
import statistics
import subprocess
import sys
import time


def run_objdump(files, null):
    subprocess.run(["objdump", "-p", *files], stdout=null, stderr=null, check=False)


def run_readpe(files, null):
    for path in files:
        subprocess.run(["readpe", "-i", "-e", path], stdout=null, stderr=null, check=False)


TOOLS = {"objdump": run_objdump, "readpe": run_readpe}


def main():
    tool, folder, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    files = sorted(
        os.path.join(folder, name)
        for name in os.listdir(folder)
        if os.path.isfile(os.path.join(folder, name))
    )
    times = []
    with open(os.devnull, "wb") as null:
        for _ in range(rounds):
            start = time.perf_counter()
            TOOLS[tool](files, null)
            times.append((time.perf_counter() - start) * 1000)
    print(f"{tool}: {len(files)} files, rounds (ms): " + " ".join(f"{t:.0f}" for t in times))
    print(f"result inspect.peer.{tool} {statistics.median(times):.3f}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""python3-pefile over an inspection corpus, in one process: for every file a
fast load, then the import and export directories parsed and every name
touched, as a viewer listing modules, functions and exports would.

    pefile_corpus.py FOLDER ROUNDS

Prints the median time of the rounds as "result inspect.peer.pefile MS"."""
import os
import statistics
import sys
import time

import pefile

DIRECTORIES = [
    pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
    pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"],
]


def inspect(path):
    listed = 0
    try:
        pe = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError:
        return 0
    pe.parse_data_directories(directories=DIRECTORIES)
    for module in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        listed += len(module.dll)
        for function in module.imports:
            listed += len(function.name) if function.name else 5
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if exports is not None:
        for symbol in exports.symbols:
            listed += len(symbol.name) if symbol.name else 0
    pe.close()
    return listed


def main():
    folder, rounds = sys.argv[1], int(sys.argv[2])
    files = sorted(
        os.path.join(folder, name)
        for name in os.listdir(folder)
        if os.path.isfile(os.path.join(folder, name))
    )
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        for path in files:
            inspect(path)
        times.append((time.perf_counter() - start) * 1000)
    print(f"pefile {pefile.__version__}: {len(files)} files, rounds (ms): "
          + " ".join(f"{t:.0f}" for t in times))
    print(f"result inspect.peer.pefile {statistics.median(times):.3f}")


if __name__ == "__main__":
    main()

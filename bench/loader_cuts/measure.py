#!/usr/bin/env python3
"""korvex's cut-file rule against Wine's loader.

For each DLL given, files cut at lengths near the end of its last section
(around the end of its raw data, its virtual size and the last sectors) are
judged twice: by `korvex inspect` (damaged or not) and by Wine's loader
through load_probe.exe (LoadLibraryExA with DONT_RESOLVE_DLL_REFERENCES).
A file whose whole copy Wine does not load is left out. Prints the counts,
the cuts where the two disagree, and one "result" line.

Usage: measure.py KORVEX LOAD_PROBE_EXE DLL...   (WINEPREFIX set)
"""
import os
import struct
import subprocess
import sys
import tempfile


def sections(data):
    lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, lfanew + 6)[0]
    optional = struct.unpack_from("<H", data, lfanew + 20)[0]
    table = lfanew + 24 + optional
    out = []
    for i in range(count):
        vsize, _va, raw, pointer = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        out.append((pointer, raw, vsize))
    return out


def cut_lengths(data):
    """Lengths near the end of the section whose raw data ends last."""
    placed = [s for s in sections(data) if s[0] and s[1]]
    if not placed:
        return []
    pointer, raw, vsize = max(placed, key=lambda s: s[0] + s[1])
    end = pointer + raw
    marks = {end, end - 1, end - 256, end - 511, end - 512, end - 513, end - 1024,
             end - 4096, pointer, pointer + 1, pointer + raw // 2, len(data) - 1}
    if vsize:
        for at in (pointer + vsize, (pointer + vsize + 511) // 512 * 512):
            marks.update({at - 1, at, at + 1})
        marks.add(pointer + (vsize + 4095) // 4096 * 4096 - 511)
        marks.add(pointer + (vsize + 4095) // 4096 * 4096 - 512)
    return sorted(m for m in marks if pointer <= m < len(data))


def old_rule_healthy(data):
    """The rule korvex kept before: each section read up to its VirtualSize."""
    for pointer, raw, vsize in sections(data):
        read = raw if vsize == 0 else min(raw, vsize)
        if read and pointer + read > len(data):
            return False
    return True


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    korvex, probe, dlls = sys.argv[1], sys.argv[2], sys.argv[3:]
    work = tempfile.mkdtemp(prefix="korvex-cuts-")
    plan = []  # (dll, length); length None: the whole file
    for dll in dlls:
        with open(dll, "rb") as f:
            data = f.read()
        # 16-bit and other files that are not PE images are not measured.
        if len(data) < 0x40 or data[:2] != b"MZ":
            continue
        lfanew = struct.unpack_from("<I", data, 0x3C)[0]
        if data[lfanew:lfanew + 4] != b"PE\0\0":
            continue
        plan.append((dll, len(data)))
        plan += [(dll, n) for n in cut_lengths(data)]
    listing = os.path.join(work, "list.txt")
    with open(listing, "w") as f:
        for dll, length in plan:
            f.write(f"{wine_path(dll)}\t{length}\n")
    env = dict(os.environ, WINEDEBUG="-all")
    wine = subprocess.run(["wine", probe, wine_path(listing), wine_path(work)], env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=3000)
    answers = [line.split("\t", 1)[1] for line in wine.stdout.splitlines() if "\t" in line]
    if len(answers) != len(plan):
        sys.exit(f"load_probe answered {len(answers)} of {len(plan)} cuts")

    agree = disagree = healthy_refused = whole_refused = refused = 0
    old_agree = old_healthy_refused = 0
    total = 0
    by_dll = {}
    for (dll, length), answer in zip(plan, answers):
        by_dll.setdefault(dll, []).append((length, answer))
    for dll, cuts in by_dll.items():
        whole_length, whole_answer = cuts[0]
        if whole_answer != "ok":
            whole_refused += 1
            continue
        with open(dll, "rb") as f:
            data = f.read()
        paths = []
        for i, (length, _) in enumerate(cuts[1:]):
            path = os.path.join(work, f"c{i}.dll")
            with open(path, "wb") as out:
                out.write(data[:length])
            paths.append(path)
        run = subprocess.run([korvex, "inspect"] + paths, capture_output=True, text=True)
        if f"{len(paths)} file" not in run.stdout:
            sys.exit(f"korvex inspect did not run: {run.stderr[:400]}")
        damaged = {p for p in paths if f"{p} is damaged" in run.stderr}
        for path, (length, answer) in zip(paths, cuts[1:]):
            wine_loads = answer == "ok"
            korvex_healthy = path not in damaged
            total += 1
            refused += not wine_loads
            old = old_rule_healthy(data[:length])
            old_agree += old == wine_loads
            old_healthy_refused += old and not wine_loads
            if wine_loads == korvex_healthy:
                agree += 1
            else:
                disagree += 1
                if korvex_healthy:
                    healthy_refused += 1
                print(f"disagree: {dll} cut at {length} of {len(data)}: wine "
                      f"{answer}, korvex {'healthy' if korvex_healthy else 'damaged'}")
            os.unlink(path)
    os.unlink(listing)
    os.rmdir(work)
    print(f"files: {len(by_dll)} ({whole_refused} not loaded whole, left out)")
    print(f"cuts: {total}, refused by Wine {refused}, agree {agree} ({100.0 * agree / max(total, 1):.1f} %), "
          f"disagree {disagree}, called healthy but refused by Wine {healthy_refused}")
    print(f"the rule before (VirtualSize): agree {old_agree} "
          f"({100.0 * old_agree / max(total, 1):.1f} %), called healthy but refused "
          f"{old_healthy_refused}")
    print(f"result loader_cuts agree_percent {100.0 * agree / max(total, 1):.2f} "
          f"healthy_refused {healthy_refused}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""The closure of every file of a DLL folder as a root, three ways, in one run:

    deps_bench.py KORVEX FOLDER ROUNDS SUMMARY.md [EARLIER_KORVEX]

- korvex:  `korvex deps --json FOLDER/*`, one process for all the roots
           (ROUNDS rounds, the median counts); with EARLIER_KORVEX (another
           build, its library beside it) the two take turns round by round,
           and the ratio is printed;
- ntldd:   Debian's `ntldd -R FILE` under Wine, one process per root, as it
           is used (given many files at once it shows each DLL only under the
           first file that loads it); one round;
- objdump: the walk bundling scripts do: `objdump -p` on the root, then on
           every DLL its "DLL Name:" lines name that exists in the root's
           folder under exactly that name, each file once per root; one round.

Then korvex once more under strace, counting how often each file of FOLDER is
opened (every file should be opened once, whatever number of roots need it).

Prints the times and "result deps.TOOL MS" lines, and writes SUMMARY.md: what
each tool finds missing, side by side. ntldd runs in a Wine prefix of its own
under build/bench (created on the first run); only that prefix's wineserver
is started and stopped."""
import collections
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX = os.path.join(ROOT, "build", "bench", "wineprefix")


def timed(action):
    start = time.perf_counter()
    value = action()
    return (time.perf_counter() - start) * 1000, value


def korvex_run(korvex, files):
    done = subprocess.run([korvex, "deps", "--json", *files], capture_output=True, check=False)
    return json.loads(done.stdout)


def opens_per_file(korvex, folder, files):
    """How many times `korvex deps` opens each file of `folder`, from strace."""
    log = os.path.join(ROOT, "build", "bench", "deps-opens.strace")
    os.makedirs(os.path.dirname(log), exist_ok=True)
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=open,openat,openat2", "-o", log,
                    korvex, "deps", "--json", *files], capture_output=True, check=False)
    opened = collections.Counter()
    prefix = os.path.join(os.path.realpath(folder), "")
    with open(log, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            found = re.search(r'open(?:at2?)?\((?:[^,]+, )?"([^"]*)".*\) = (\d+)', line)
            if found and os.path.realpath(found.group(1)).startswith(prefix):
                opened[os.path.realpath(found.group(1))] += 1
    return opened


def korvex_missing(document):
    missing = {}
    for root in document["roots"]:
        name = os.path.basename(root["file"])
        if "error" in root:
            missing[name] = {"(not a PE image)"}
            continue
        found = {m["module"].lower() for m in root["missing_modules"] if not m["delay"]}
        found |= {f"{f['module']}!{f['function']}" for f in root["missing_functions"] if not f["delay"]}
        missing[name] = found
    return missing


def ntldd_run(folder, files):
    env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    missing = {}
    for path in files:
        name = os.path.basename(path)
        done = subprocess.run(["ntldd", "-R", name], cwd=folder, env=env, capture_output=True,
                              stdin=subprocess.DEVNULL, check=False)
        text = done.stdout.decode("utf-8", "replace")
        missing[name] = {line.split("=>")[0].strip().lower()
                         for line in text.splitlines() if "not found" in line and "=>" in line}
    return missing


def objdump_names(path):
    done = subprocess.run(["objdump", "-p", path], capture_output=True, check=False)
    return re.findall(r"^\s*DLL Name: (\S+)", done.stdout.decode("utf-8", "replace"), re.M)


def objdump_run(folder, files):
    missing = {}
    for path in files:
        seen, queue, lost = {path}, [path], set()
        while queue:
            for dll in objdump_names(queue.pop()):
                candidate = os.path.join(folder, dll)
                if not os.path.isfile(candidate):
                    lost.add(dll)
                elif candidate not in seen:
                    seen.add(candidate)
                    queue.append(candidate)
        missing[os.path.basename(path)] = lost
    return missing


def prepare_prefix():
    env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    with open(os.devnull, "wb") as null:
        subprocess.run(["wineserver", "-p"], env=env, check=False)
        subprocess.run(["wine", "wineboot", "--init"], env=env, stdout=null, stderr=null,
                       stdin=subprocess.DEVNULL, check=False)


def stop_prefix():
    env = dict(os.environ, WINEPREFIX=PREFIX)
    subprocess.run(["wineserver", "-k"], env=env, check=False)


def summary(files, results):
    """Markdown: per tool, the roots with something missing and the names most often missing."""
    lines = [f"What each finds missing over the {len(files)} roots (static imports; korvex "
             "also names missing functions as `module!function`):", "",
             "| tool | roots with something missing | missing modules (root, name) | missing functions | most often missing |",
             "|---|---:|---:|---:|---|"]
    for tool, missing in results.items():
        modules = collections.Counter(n for names in missing.values() for n in names if "!" not in n)
        functions = sum(1 for names in missing.values() for n in names if "!" in n)
        roots = sum(1 for names in missing.values() if names)
        top = ", ".join(f"`{n}` ({c})" for n, c in modules.most_common(6)) or "-"
        lines.append(f"| {tool} | {roots} | {sum(modules.values())} | {functions} | {top} |")
    return "\n".join(lines) + "\n"


def main():
    korvex, folder, rounds, summary_path = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    earlier = sys.argv[5] if len(sys.argv) > 5 else None
    files = sorted(os.path.join(folder, n) for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n)))

    korvex_times, earlier_times = [], []
    for _ in range(rounds):
        elapsed, document = timed(lambda: korvex_run(korvex, files))
        korvex_times.append(elapsed)
        if earlier:
            earlier_times.append(timed(lambda: korvex_run(earlier, files))[0])
    opened = opens_per_file(korvex, folder, files) if shutil.which("strace") else None
    objdump_ms, objdump_missing = timed(lambda: objdump_run(folder, files))
    prepare_prefix()
    try:
        ntldd_ms, ntldd_missing = timed(lambda: ntldd_run(folder, files))
    finally:
        stop_prefix()

    korvex_ms = statistics.median(korvex_times)
    print(f"closure of {len(files)} roots in {folder}")
    print(f"  korvex deps, one process: {korvex_ms:,.0f} ms (rounds: " + " ".join(f"{t:.0f}" for t in korvex_times) + ")")
    if earlier:
        earlier_ms = statistics.median(earlier_times)
        print(f"  earlier korvex ({earlier}): {earlier_ms:,.0f} ms (rounds: "
              + " ".join(f"{t:.0f}" for t in earlier_times) + f"); now {korvex_ms / earlier_ms:.2f}x that")
        print(f"result deps.korvex_earlier {earlier_ms:.3f}")
    if opened is not None:
        many = sum(1 for count in opened.values() if count > 1)
        print(f"  strace: {len(opened)} files of the folder opened, {sum(opened.values())} opens, "
              f"{many} files opened more than once (most: {max(opened.values(), default=0)})")
        print(f"result deps.files_opened_twice {many}")
    print(f"  ntldd -R, one process per root: {ntldd_ms:,.0f} ms ({ntldd_ms / korvex_ms:,.0f}x korvex)")
    print(f"  objdump -p walk: {objdump_ms:,.0f} ms ({objdump_ms / korvex_ms:,.0f}x korvex)")
    text = summary(files, {"korvex deps": korvex_missing(document), "ntldd -R": ntldd_missing,
                           "objdump -p walk": objdump_missing})
    print(text)
    with open(summary_path, "w", encoding="utf-8") as out:
        out.write(text)
    print(f"result deps.roots {len(files)}")
    print(f"result deps.korvex {korvex_ms:.3f}")
    print(f"result deps.ntldd {ntldd_ms:.3f}")
    print(f"result deps.objdump {objdump_ms:.3f}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Turns the outputs of bench/run into one table of times and ratios, prints
it, and writes the performance page and its bar chart.

    report.py RESULTS_DIR PAGE.md CHART.png

Every benchmark program ends its output with "result KEY VALUE" lines; the
machine's facts are in machine.txt as "key: value" lines. A figure that is
missing (a benchmark that was not run) is left out of the page."""
import os
import re
import subprocess
import sys


def read_machine(folder):
    facts = []
    path = os.path.join(folder, "machine.txt")
    if os.path.exists(path):
        with open(path, encoding="utf-8") as text:
            for line in text:
                key, _, value = line.rstrip("\n").partition(": ")
                facts.append((key, value))
    return facts


def read_text(folder, name):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as text:
        return text.read()


def ms(value):
    return f"{value:,.1f}" if value < 100 else f"{value:,.0f}"


def ratio(value):
    return f"{value:.2f}"


class Table:
    def __init__(self, title, columns):
        self.title = title
        self.columns = columns
        self.rows = []

    def add(self, *cells):
        self.rows.append([str(c) for c in cells])

    def markdown(self):
        lines = [f"### {self.title}", ""]
        lines.append("| " + " | ".join(self.columns) + " |")
        lines.append("|" + "|".join("---" if i == 0 else "---:" for i in range(len(self.columns))) + "|")
        for row in self.rows:
            lines.append("| " + " | ".join(row) + " |")
        return "\n".join(lines)

    def plain(self):
        widths = [max(len(self.columns[i]), *(len(r[i]) for r in self.rows)) for i in range(len(self.columns))]
        out = [self.title]
        out.append("  " + "  ".join(c.ljust(widths[i]) if i == 0 else c.rjust(widths[i])
                                   for i, c in enumerate(self.columns)))
        for row in self.rows:
            out.append("  " + "  ".join(c.ljust(widths[i]) if i == 0 else c.rjust(widths[i])
                                       for i, c in enumerate(row)))
        return "\n".join(out)


CORPORA = (("pe32", "Wine's PE32 DLLs (i386-windows)"), ("pe32plus", "Wine's PE32+ DLLs (x86_64-windows)"))


def spread(r, key):
    """The median of a figure and its range over the rounds: "m (low to high)"."""
    low, high = r.get(key + ".low"), r.get(key + ".high")
    if low is None or high is None:
        return ms(r[key])
    return f"{ms(r[key])} ({ms(low)} to {ms(high)})"


def ratio_spread(r, key):
    low, high = r.get(key + ".low"), r.get(key + ".high")
    if low is None or high is None:
        return ratio(r[key])
    return f"{ratio(r[key])} ({ratio(low)} to {ratio(high)})"


def inspection_tables(r, chart_rows):
    """One table per corpus: both floors, the library natively (and under
    Wine for the PE32 corpus), the peers; every row against both floors."""
    tables = []
    for corpus, title in CORPORA:
        base = f"inspect.{corpus}.native"
        if f"{base}.floor" not in r:
            continue
        files = int(r.get(f"{base}.files", 0))
        t = Table(f"Inspection of {title}: {files} files, {int(r.get(base + '.rounds', 0))} interleaved rounds",
                  ["what", "ms: median (range)", "x map floor", "x read floor", "files/s"])
        map_floor, read_floor = r[f"{base}.floor"], r[f"{base}.read_floor"]
        t.add("map floor: open, fstat, mmap, touch the header page and the pages of the sections "
              "holding the import and export directories, munmap, close",
              spread(r, f"{base}.floor"), ratio(1), ratio(map_floor / read_floor),
              f"{files / map_floor * 1000:,.0f}")
        t.add(f"read floor: open, fstat, one pread for each run of the blocks a full listing reads "
              f"({int(r.get(base + '.reads', 0)):,} reads of {int(r.get(base + '.blocks', 0)):,} "
              f"blocks of 4 KiB a pass), close",
              spread(r, f"{base}.read_floor"), ratio(read_floor / map_floor), ratio(1),
              f"{files / read_floor * 1000:,.0f}")
        k = r[f"{base}.korvex"]
        t.add("**korvex32**, linked in (MapFile, module list, every module's functions, exports, "
              "UnmapFile; size query then fill)", spread(r, f"{base}.korvex"),
              ratio_spread(r, f"{base}.ratio_map"), ratio_spread(r, f"{base}.ratio_read"),
              f"{files / k * 1000:,.0f}")
        if corpus == "pe32":
            chart_rows.append(("korvex32 (native)", files / k * 1000))
            for label, key, short in (
                    ("python3-pefile: fast load, imports and exports parsed, in one process",
                     "inspect.peer.pefile", "pefile"),
                    ("binutils `objdump -p`: every file in one process", "inspect.peer.objdump",
                     "objdump -p"),
                    ("pev `readpe -i -e`: one process per file (for reference)",
                     "inspect.peer.readpe", "readpe")):
                if key in r:
                    t.add(label, ms(r[key]), ratio(r[key] / map_floor), ratio(r[key] / read_floor),
                          f"{files / r[key] * 1000:,.0f}")
                    chart_rows.append((short + " (native)", files / r[key] * 1000))
        tables.append(t)
    base = "inspect.pe32.wine"
    if f"{base}.floor" in r and f"{base}.korvex" in r:
        files = int(r.get(f"{base}.files", 0))
        t = Table(f"Inspection of {CORPORA[0][1]} under Wine: {files} files, "
                  f"{int(r.get(base + '.rounds', 0))} interleaved rounds",
                  ["what", "ms: median (range)", "x map floor", "x read floor", "files/s"])
        map_floor, read_floor = r[f"{base}.floor"], r[f"{base}.read_floor"]
        t.add("map floor: CreateFileA, CreateFileMappingA, MapViewOfFile, touch the same pages, "
              "UnmapViewOfFile, CloseHandle", spread(r, f"{base}.floor"), ratio(1),
              ratio(map_floor / read_floor), f"{files / map_floor * 1000:,.0f}")
        t.add("read floor: CreateFileA, GetFileSizeEx, ReadFile of the same blocks as natively, "
              "CloseHandle", spread(r, f"{base}.read_floor"), ratio(read_floor / map_floor),
              ratio(1), f"{files / read_floor * 1000:,.0f}")
        k = r[f"{base}.korvex"]
        t.add("**korvex32.dll**, LoadLibrary + GetProcAddress by ordinal, the same work as natively "
              "(the blocks a list reads, copied into its own memory)", spread(r, f"{base}.korvex"),
              ratio_spread(r, f"{base}.ratio_map"), ratio_spread(r, f"{base}.ratio_read"),
              f"{files / k * 1000:,.0f}")
        chart_rows.append(("floor (Wine)", files / map_floor * 1000))
        chart_rows.append(("korvex32.dll (Wine)", files / k * 1000))
        tables.append(t)
    return tables


def slowest_table(folder, r):
    """The five slowest files of the edge corpus and the images made to be
    large in one dimension, each listed alone."""
    text = read_text(folder, "slowest.txt")
    rows = re.findall(r"^\s+([0-9.]+) ms  (\S+)$", text, re.M)
    if not rows:
        return None
    t = Table(f"Slowest files listed alone, natively: {int(r.get('slowest.files', 0))} files of "
              "pe-edge, the fuzz seeds and the shapes of bench/edge_shapes.cpp (best of 3 each)",
              ["file", "ms"])
    for value, name in rows:
        t.add(f"`{name}`", ms(float(value)))
    return t


def deps_table(r):
    ours = r.get("deps.korvex")
    if not ours:
        return None
    roots = int(r.get("deps.roots", 0))
    t = Table(f"Dependency closure natively: each of {roots} files as a root", ["what", "ms", "x korvex deps"])
    t.add("**korvex deps --json**, every root in one process (static and delay imports, entry points)",
          ms(ours), ratio(1))
    for label, key in (("Debian's `ntldd -R` under Wine, one process per root", "deps.ntldd"),
                       ("`objdump -p` walk as bundling scripts do it, each file once per root", "deps.objdump")):
        if key in r:
            t.add(label, ms(r[key]), ratio(r[key] / ours))
    return t


def capture_table(r, where):
    walk = r.get(f"capture.{where}.walk")
    if not walk:
        return None
    processes = int(r.get(f"capture.{where}.processes", 0))
    modules = int(r.get(f"capture.{where}.modules", 0))
    helpers = "with 30 helper processes of ten DLLs each" if where != "native" else "the machine's own processes"
    place = {"wine": "under Wine", "wine64": "under Wine, the 64-bit build against the bare 64-bit walk",
             "native": "natively"}[where]
    t = Table(f"Capture {place}: {processes} processes, "
              f"{modules} modules ({helpers})", ["what", "ms", "x bare walk"])
    rows = [
        ("bare walk: Tool Help (natively /proc) without file facts", "walk"),
        ("the library's walk through its process source, no file facts", "source"),
        ("walk + file facts of every module, looked up anew", "facts"),
        ("CaptureSnapShot: facts once per file, appends, sorts", "capture"),
        ("**TakeSnapShot**: entry, capture, work file", "take"),
    ]
    for label, key in rows:
        value = r.get(f"capture.{where}.{key}")
        if value is not None:
            t.add(label, ms(value), ratio(value / walk))
    return t


def workfile_table(r, where):
    one_write = r.get(f"workfile.{where}.write.plain")
    one_read = r.get(f"workfile.{where}.read.plain")
    if not one_write or not one_read:
        return None
    t = Table(f"Work file {'under Wine' if where == 'wine' else 'natively'}: 100,000 ModuleRecords "
              "(33.2 MB)", ["what", "ms", "x plain, one call", "x plain, same runs"])
    t.add("plain fwrite, one call", ms(one_write), ratio(1), "")
    t.add("plain fread, one call, into fresh memory", ms(one_read), ratio(1), "")
    for rows in ("1", "1000"):
        for kind, one, verb in (("write", one_write, "fwrite"), ("read", one_read, "fread")):
            plain_runs = r.get(f"workfile.{where}.{kind}.plain_runs.{rows}")
            ours = r.get(f"workfile.{where}.{kind}.korvex.{rows}")
            if plain_runs:
                t.add(f"plain {verb}, runs of {rows}, default buffer", ms(plain_runs),
                      ratio(plain_runs / one), "1.00")
            if ours:
                t.add(f"**{'writer' if kind == 'write' else 'reader'}**, rows-per-call {rows}",
                      ms(ours), ratio(ours / one), ratio(ours / plain_runs) if plain_runs else "")
    return t


def goals(r):
    out = []

    def goal(text, value, limit, shown):
        if value is None:
            out.append((text, "not measured", "-"))
        else:
            out.append((text, shown(value), "met" if value <= limit else "**not met**"))

    for corpus, title in CORPORA:
        base = f"inspect.{corpus}.native"
        goal(f"inspection of {title} natively <= 1.3x the read floor",
             r.get(f"{base}.ratio_read"), 1.3,
             lambda v, b=base: f"{v:.2f}x (rounds {r[b + '.ratio_read.low']:.2f} to "
                               f"{r[b + '.ratio_read.high']:.2f}; {r[b + '.ratio_map']:.2f}x the map floor)")
    goal("inspection under Wine through the DLL <= 1.05x its map floor",
         r.get("inspect.pe32.wine.ratio_map"), 1.05,
         lambda v: f"{v:.2f}x (rounds {r['inspect.pe32.wine.ratio_map.low']:.2f} to "
                   f"{r['inspect.pe32.wine.ratio_map.high']:.2f})")
    goal("no file of the edge corpus or the made shapes over 50 ms natively",
         r.get("slowest.ms"), 50, lambda v: f"slowest {v:.1f} ms")
    outputs = [r.get(f"cli-output-{target}-seconds") for target in ("file", "null", "pipe")]
    goal("korvex inspect under Wine into a file, /dev/null and a pipe: slowest <= 1.5x fastest",
         max(outputs) / min(outputs) if all(outputs) else None, 1.5,
         lambda v: f"{v:.2f}x (" + ", ".join(f"{t} {x:.2f} s" for t, x in zip(("file", "null", "pipe"), outputs)) + ")")
    w = r.get("capture.wine.walk")
    goal("TakeSnapShot under Wine <= 2x the bare walk",
         r["capture.wine.take"] / w if w and "capture.wine.take" in r else None, 2.0,
         lambda v: f"{v:.2f}x")
    w = r.get("capture.wine64.walk")
    goal("TakeSnapShot of the 64-bit build under Wine <= 1.5x the bare 64-bit walk",
         r["capture.wine64.take"] / w if w and "capture.wine64.take" in r else None, 1.5,
         lambda v: f"{v:.2f}x")
    ours = r.get("deps.korvex")
    for peer, name in (("deps.ntldd", "`ntldd -R`"), ("deps.objdump", "an `objdump -p` walk")):
        if ours and peer in r:
            out.append((f"deps closure natively: korvex >= 10x faster than {name}", f"{r[peer] / ours:,.0f}x",
                        "met" if r[peer] / ours >= 10 else "**not met**"))
    for where, place in (("native", "natively"), ("wine", "under Wine")):
        for kind, verb in (("write", "writer"), ("read", "reader")):
            for rows in ("1", "1000"):
                one = r.get(f"workfile.{where}.{kind}.plain")
                runs = r.get(f"workfile.{where}.{kind}.plain_runs.{rows}")
                ours = r.get(f"workfile.{where}.{kind}.korvex.{rows}")
                if not (ours and one):
                    continue
                # >= 0.9x the plain throughput is <= 1/0.9 of its time.
                out.append((f"{verb} {place}, rows-per-call {rows}: >= 0.9x plain throughput",
                            f"{one / ours:.2f}x one call, {runs / ours:.2f}x same runs" if runs
                            else f"{one / ours:.2f}x one call",
                            ("met" if one / ours >= 0.9 else
                             "met against the same runs" if runs and runs / ours >= 0.9
                             else "**not met**")))
    return out


def chart(rows, path):
    if not rows:
        return False
    data = path + ".dat"
    with open(data, "w", encoding="utf-8") as out:
        for i, (label, value) in enumerate(rows):
            out.write(f'{i} "{label}" {value:.1f}\n')
    script = f"""
set terminal pngcairo size 900,480 font "DejaVu Sans,10"
set output "{path}"
set title "Inspection of Wine's 754 PE32 images: files per second (higher is better)"
set style fill solid 0.8 border -1
set boxwidth 0.6
set logscale y
set yrange [10:*]
set grid ytics
set ylabel "files per second (log scale)"
set xtics rotate by -25 left nomirror
set key off
set lmargin 12
set bmargin 7
plot "{data}" using 1:3:xtic(2) with boxes lc rgb "#3b6ea8", \\
     "" using 1:3:(sprintf("%.0f", $3)) with labels offset 0,0.8
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.remove(data)
    return True


def main():
    folder, page, png = sys.argv[1], sys.argv[2], sys.argv[3]
    r = read_results_by_place(folder)
    chart_rows = []
    tables = inspection_tables(r, chart_rows)
    slow = slowest_table(folder, r)
    if slow:
        tables.append(slow)
    for where in ("wine", "wine64", "native"):
        for t in (capture_table(r, where), workfile_table(r, where)):
            if t:
                tables.append(t)
    deps = deps_table(r)
    if deps:
        tables.append(deps)
    goal_rows = goals(r)

    for t in tables:
        print(t.plain())
        print()
    print("goals")
    for text, value, state in goal_rows:
        print(f"  {text}: {value} ({state.strip('*')})")

    have_chart = chart(chart_rows, png)
    machine = read_machine(folder)
    micro = read_text(folder, "micro.txt")
    lines = [
        "# Performance",
        "",
        "Figures from `bench/run` (see the README's Benchmarks section). Every figure is the "
        "median of several rounds; rounds of the figures compared with one another are "
        "interleaved or run back to back in one process. The machine is shared, so absolute "
        "times move from run to run: the ratios within one run are the figures that count.",
        "",
        "## Goals",
        "",
        "| goal | this run | |",
        "|---|---:|---|",
    ]
    lines += [f"| {text} | {value} | {state} |" for text, value, state in goal_rows]
    lines += ["", "## Figures", ""]
    for t in tables:
        lines += [t.markdown(), ""]
    if have_chart:
        lines += [f"![files per second per tool]({os.path.basename(png)})", ""]
    missing = read_text(folder, "deps-missing.md")
    if missing:
        lines += ["### Dependency closure: what each tool finds missing", "", missing.strip(), ""]
    parses = read_text(folder, "header-parses.txt")
    if parses:
        lines += ["### How often korvex works out a file's headers", "",
                  "A gdb breakpoint on the one parse (`PeImage::parse`, `bench/header_parses`):", "",
                  "```", parses.strip(), "```", ""]
    lines += [
        "Notes:",
        "",
        "- Inspection: the work of a viewer that opens file after file, over Wine's 754 PE32 "
        "images in `/usr/lib/i386-linux-gnu/wine/i386-windows` and its 694 PE32+ images in "
        "`/usr/lib/x86_64-linux-gnu/wine/x86_64-windows`, warm page cache: MapFile, the module "
        "list (size query, fill), every listed module's function list (query, fill), the export "
        "list (query, fill), UnmapFile. Rounds interleave the two floors and the library, each "
        "starting the round in turn; a ratio is taken within each round, and the table gives its "
        "median and range.",
        "- The read floor is the fair one natively, where MapFile copies the 4 KiB blocks a list "
        "reads with pread: it reads exactly the blocks a full listing reads (planned before the "
        "rounds from each file's bytes, by the library's rules), with one pread for each run of "
        "adjacent blocks, into one area kept from pass to pass at the blocks' file positions, and "
        "parses nothing. The library reads the same blocks, but cannot know a run before it has "
        "parsed its way there, so it makes more reads. The map floor maps each file and touches "
        "the header page and every page of the sections holding the two directories: it is "
        "the floor of the goal for the DLL under Wine, which since reads the blocks a list needs "
        "into its own memory with ReadFile, as natively.",
        "- The peers do more or less than that work each in their own way (objdump prints every "
        "header; readpe starts a process per file); they are there to place the figures.",
        "- Work files: \"plain, one call\" moves the whole file with one `fwrite` or `fread`; "
        "\"plain, same runs\" makes the same stream calls as the library (one per run) with the "
        "runtime's default buffer. Every read lands in memory released and obtained again for "
        "that round, as the reader's table is. \">= 0.9x plain\" means at least 0.9 times the "
        "plain throughput, so at most 1.11 times its time. A run is one stream call, so at "
        "rows-per-call 1 every record passes through the stream's buffer: each byte is copied "
        "once more than by a single whole-file call, and that extra pass over 33 MB is the gap "
        "to \"one call\" wherever there is one. \"Same runs\" is the comparison the run rule "
        "leaves open.",
        "- Dependency closure: every file of the same Wine folder as a root, warm page cache. "
        "`korvex deps` resolves each root's imports through the program folder, the system "
        "folder (here the same Wine folder) and PATH, checks every imported function against "
        "the export tables and follows forwarders; ntldd lets Wine's loader load each root; the "
        "objdump walk only follows `DLL Name:` lines to files of exactly that name in the folder, so "
        "on Linux an import written `KERNEL32.dll` does not find `kernel32.dll`. ntldd and the "
        "objdump walk check no imported function.",
        "",
        "## Machine",
        "",
        "| | |",
        "|---|---|",
    ]
    lines += [f"| {k} | {v} |" for k, v in machine]
    if micro:
        lines += ["", "## Micro-benchmarks (Google Benchmark, natively)", "",
                  "Counters per page come from the library's own calls: `allocations/page` counts "
                  "malloc, calloc and realloc, `block_copies/page` the memcpy calls.", "",
                  "```", micro.strip(), "```"]
    with open(page, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    print(f"\nwrote {page}" + (f" and {png}" if have_chart else ""))


def read_results_by_place(folder):
    """Results with the place they ran (native or wine) put into the key for
    the benchmarks that run in both places."""
    values = {}
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".txt"):
            continue
        place = ("wine64" if name.endswith("-wine64.txt") else
                 "wine" if name.endswith("-wine.txt") else "native")
        with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as text:
            for line in text:
                match = re.match(r"^result (\S+) ([-0-9.]+)\s*$", line)
                if not match:
                    continue
                key, value = match.group(1), float(match.group(2))
                for shared in ("capture.", "workfile."):
                    if key.startswith(shared):
                        key = shared + place + "." + key[len(shared):]
                values[key] = value
    return values


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Under Wine: every DLL in the static closure that `korvex deps` reports for
Wine's own programs is one that Wine's loader really loads when it starts
them (WINEDEBUG=+loaddll).

    wine_loaddll_check.py WINE_RUN KORVEX_EXE

WINE_RUN runs a Windows program under the build's Wine prefix. Exits 1 and
names the modules when one is reported but not loaded."""
import json
import os
import re
import subprocess
import sys
import tempfile

# ntdll.dll is in every process before the loader traces anything.
ALWAYS_LOADED = {"ntdll.dll"}
# Each program with arguments that make it start, do a little and end.
PROGRAMS = [
    ("reg.exe", ["query", "HKCU\\Software\\korvex-none"]),
    ("cmd.exe", ["/c", "exit"]),
    ("regedit.exe", ["/E", "nul", "HKEY_CURRENT_USER\\Software\\korvex-none"]),
    ("xcopy.exe", ["/?"]),
    ("expand.exe", ["/?"]),
]


def run(command, debug):
    # Output to files, not pipes: a Wine service started on the way would
    # inherit a pipe and keep it open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        env = dict(os.environ, WINEDEBUG=debug)
        subprocess.run(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env, timeout=120, check=False)
        out.seek(0)
        err.seek(0)
        return out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def main():
    wine_run, korvex = sys.argv[1], sys.argv[2]
    # The 32-bit programs: SysWOW64 in a 64-bit prefix, System32 in a 32-bit one.
    prefix = os.environ.get("WINEPREFIX", os.path.join(os.getcwd(), "wineprefix"))
    wow64 = os.path.isdir(os.path.join(prefix, "drive_c", "windows", "syswow64"))
    folder = "C:\\windows\\syswow64\\" if wow64 else "C:\\windows\\system32\\"
    failures = 0
    for name, arguments in PROGRAMS:
        program = folder + name
        report, _ = run([wine_run, korvex, "deps", "--json", program], "-all")
        root = json.loads(report)["roots"][0]
        if root.get("missing_modules") or root.get("missing_functions") or "error" in root:
            print(f"{name}: korvex deps reports something missing: {root}")
            failures += 1
            continue
        modules = root["modules"]
        closure = {m["path"].split("\\")[-1].lower() for m in modules
                   if m["path"] and not m["delay"] and "host" not in m}
        _, trace = run([wine_run, program, *arguments], "+loaddll")
        loaded = {path.split("\\\\")[-1].lower() for path in re.findall(r'Loaded L"([^"]+)"', trace)}
        loaded |= ALWAYS_LOADED
        missing = sorted(closure - loaded)
        print(f"{name}: {len(closure)} modules in the static closure, {len(loaded)} loaded by Wine"
              + (f"; not loaded: {' '.join(missing)}" if missing else ""))
        if not closure or not loaded or missing:
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Under Wine: for programs whose manifests ask for side-by-side assemblies
(Common Controls 6, the VC90 runtime, a private assembly; 32-bit and 64-bit),
`korvex deps` names the same file for every module of the static closure as
Wine's loader loads (WINEDEBUG=+loaddll), and marks the assemblies' DLLs
side-by-side.

    wine_sxs_check.py WINE_RUN WINE64_RUN PREFIX APPS KORVEX...

KORVEX is the command that runs korvex: the native program (then --windows
names PREFIX's Windows folder), or WINE_RUN and korvex.exe. APPS is the
folder with x86/ and x64/. Exits 1 and names each module that differs."""
import json
import os
import re
import subprocess
import sys
import tempfile

PROGRAMS = [("cc6.exe", "comctl32.dll"), ("vc90.exe", "msvcr90.dll"),
            ("priv/priv.exe", "privdll.dll")]


def run(command, debug="-all", prefix=None):
    # Output to files, not pipes: a Wine service started on the way would
    # inherit a pipe and keep it open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        env = dict(os.environ, WINEDEBUG=debug)
        if prefix:
            env["WINEPREFIX"] = prefix
        subprocess.run(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env,
                       timeout=180, check=False)
        out.seek(0)
        err.seek(0)
        return out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def host_path(path, prefix, bits):
    """A path as Wine or korvex names it, as the file it is on this machine."""
    drive_c = os.path.join(prefix, "drive_c")
    text = path.replace("\\\\", "\\")
    if re.match(r"^[A-Za-z]:\\", text):
        drive, rest = text[0].lower(), text[3:].replace("\\", "/")
        text = os.path.join(drive_c if drive == "c" else "/", rest)
    lower = os.path.normpath(text).lower()
    windows = os.path.join(drive_c, "windows").lower()
    # A 32-bit process sees SysWOW64 as System32; Sysnative is System32.
    if bits == 32 and lower.startswith(windows + "/system32/"):
        lower = windows + "/syswow64/" + lower[len(windows) + 10:]
    if lower.startswith(windows + "/sysnative/"):
        lower = windows + "/system32/" + lower[len(windows) + 11:]
    return lower


def main():
    wine_run, wine64_run, prefix, apps, korvex = (sys.argv[1], sys.argv[2], sys.argv[3],
                                                  sys.argv[4], sys.argv[5:])
    run([wine_run, "wineboot", "--init"], prefix=prefix)
    native = len(korvex) == 1
    failures = 0
    for folder, bits, loader in (("x86", 32, wine_run), ("x64", 64, wine64_run)):
        for program, assembly_dll in PROGRAMS:
            path = os.path.join(apps, folder, program)
            if not os.path.exists(path):
                continue
            given = path if native else "Z:" + path.replace("/", "\\")
            extra = ["--windows", os.path.join(prefix, "drive_c", "windows")] if native else []
            report, _ = run(korvex + ["deps", "--json", *extra, given], prefix=prefix)
            root = json.loads(report)["roots"][0]
            name = f"{folder}/{program}"
            if root.get("missing_modules") or root.get("missing_assemblies") or "error" in root:
                print(f"{name}: korvex deps reports something missing: {root}")
                failures += 1
                continue
            closure = {host_path(m["path"], prefix, bits): m for m in root["modules"]
                       if m["path"] and not m["delay"] and "host" not in m}
            _, trace = run([loader, path], "+loaddll", prefix)
            own = re.findall(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"([^"]+)"', trace, re.M)
            process = next((pid for pid, loaded in own if loaded.lower().endswith(
                program.split("/")[-1])), None)
            loaded = {host_path(p, prefix, bits) for pid, p in own if pid == process}
            differ = sorted(p for p in closure if p not in loaded and
                            not p.endswith("/ntdll.dll"))
            marked = [m for m in closure.values()
                      if m["name"].lower() == assembly_dll and m.get("side_by_side")]
            print(f"{name}: {len(closure)} modules in the static closure, {len(loaded)} loaded"
                  f" by Wine; {assembly_dll} side-by-side: {bool(marked)}"
                  + (f"; not loaded: {' '.join(differ)}" if differ else ""))
            if not loaded or differ or not marked:
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Under Wine: for programs whose manifests ask for side-by-side assemblies
(Common Controls 6, the VC90 runtime, a private assembly; 32-bit and 64-bit),
`korvex deps` names the file Wine's loader loads (WINEDEBUG=+loaddll) for
every module of the static closure, and marks the assembly's DLL.

    wine_sxs_check.py WINE_RUN WINE64_RUN PREFIX APPS KORVEX...

KORVEX runs korvex: the native program (given --windows PREFIX's Windows
folder) or WINE_RUN and korvex.exe. APPS holds x86/ and x64/."""
import json
import os
import re
import subprocess
import sys
import tempfile

PROGRAMS = [("cc6.exe", "comctl32.dll"), ("vc90.exe", "msvcr90.dll"), ("priv/priv.exe", "privdll.dll")]

def run(command, prefix, debug="-all"):
    # Output to files, not pipes: a Wine service started on the way would keep a pipe open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        subprocess.run(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL, timeout=180, check=False,
                       env=dict(os.environ, WINEDEBUG=debug, WINEPREFIX=prefix))
        return [f.seek(0) or f.read().decode("utf-8", "replace") for f in (out, err)]


def host_path(path, prefix, bits):
    """A path as Wine or korvex names it, as the file it is here: a 32-bit
    process sees SysWOW64 as System32, and Sysnative is System32."""
    text = path.replace("\\\\", "\\")
    if re.match(r"^[A-Za-z]:\\", text):
        root = os.path.join(prefix, "drive_c") if text[0] in "cC" else "/"
        text = os.path.join(root, text[3:].replace("\\", "/"))
    lower = os.path.normpath(text).lower()
    windows = os.path.join(prefix, "drive_c", "windows").lower()
    if bits == 32:
        lower = lower.replace(windows + "/system32/", windows + "/syswow64/")
    return lower.replace(windows + "/sysnative/", windows + "/system32/")


def main():
    wine_run, wine64_run, prefix, apps, korvex = sys.argv[1:5] + [sys.argv[5:]]
    run([wine_run, "wineboot", "--init"], prefix)
    failures = 0
    for folder, bits, loader in (("x86", 32, wine_run), ("x64", 64, wine64_run)):
        for program, assembly_dll in PROGRAMS:
            path = os.path.join(apps, folder, program)
            given = [path, "--windows", os.path.join(prefix, "drive_c", "windows")] if len(korvex) == 1 \
                else ["Z:" + path.replace("/", "\\")]
            root = json.loads(run(korvex + ["deps", "--json", *given], prefix)[0])["roots"][0]
            closure = {host_path(m["path"], prefix, bits): m for m in root.get("modules", [])
                       if m["path"] and not m["delay"] and "host" not in m}
            trace = run([loader, path], prefix, "+loaddll")[1]
            own = re.findall(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"([^"]+)"', trace, re.M)
            process = next((pid for pid, p in own if p.lower().endswith(os.path.basename(program))), None)
            loaded = {host_path(p, prefix, bits) for pid, p in own if pid == process}
            differ = sorted(p for p in closure if p not in loaded and not p.endswith("/ntdll.dll"))
            marked = any(m["name"].lower() == assembly_dll and m["side_by_side"] for m in closure.values())
            print(f"{folder}/{program}: {len(closure)} modules, {len(loaded)} loaded by Wine; "
                  f"{assembly_dll} side-by-side: {marked}; missing: {root.get('missing_modules')} "
                  f"{root.get('missing_assemblies')}" + (f"; not loaded: {' '.join(differ)}" if differ else ""))
            failures += bool(not loaded or differ or not marked or root.get("missing_modules")
                             or root.get("missing_assemblies"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env bash
# cmake/wine-run makes its Wine prefix in a build folder or nowhere: it is run
# here with a stand-in `wine` on PATH that only tells the prefix it was given.
#   wine_run_check.sh PATH/TO/wine-run
set -euo pipefail
wine_run=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin" "$scratch/build/sub" "$scratch/elsewhere"
printf '#!/bin/sh\necho "prefix=$WINEPREFIX"\n' >"$scratch/bin/wine"
chmod +x "$scratch/bin/wine"
touch "$scratch/build/CMakeCache.txt"
export PATH=$scratch/bin:$PATH
unset WINEPREFIX KORVEX_WINE_BUILD_DIR
failures=0

# expect NAME FOLDER WANTED_OUTPUT ARGUMENT... (run in FOLDER; with
# WANTED_OUTPUT empty, a refusal with status 125 and a reason)
expect() {
  local name=$1 folder=$2 wanted=$3 status=0 out
  shift 3
  out=$(cd "$folder" && "$wine_run" "$@" 2>&1) || status=$?
  if [ -z "$wanted" ]; then
    if [ "$status" != 125 ] || [[ $out != *"KORVEX_WINE_BUILD_DIR"* ]] || [[ $out == prefix=* ]]; then
      echo "FAIL $name: wanted a refusal, got status $status: $out"
      failures=$((failures + 1))
    fi
  elif [ "$status" != 0 ] || [ "$out" != "$wanted" ]; then
    echo "FAIL $name: wanted '$wanted', got status $status: $out"
    failures=$((failures + 1))
  fi
}

expect "outside every build folder" "$scratch/elsewhere" "" "$scratch/elsewhere/x.exe"
expect "no program either" "$scratch/elsewhere" ""
expect "the program's build folder" "$scratch/elsewhere" "prefix=$scratch/build/wineprefix" \
  "$scratch/build/sub/x.exe"
expect "the current build folder" "$scratch/build/sub" "prefix=$scratch/build/wineprefix" x.exe
KORVEX_WINE_BUILD_DIR=$scratch/elsewhere expect "a named folder that is no build folder" \
  "$scratch/build" "" x.exe
KORVEX_WINE_BUILD_DIR=$scratch/build expect "a named build folder" "$scratch/elsewhere" \
  "prefix=$scratch/build/wineprefix" x.exe
WINEPREFIX=$scratch/mine expect "the caller's own prefix" "$scratch/elsewhere" \
  "prefix=$scratch/mine" x.exe
if [ -e "$scratch/elsewhere/wineprefix" ] || [ -e "$scratch/wineprefix" ]; then
  echo "FAIL: a prefix was made outside the build folder"
  failures=$((failures + 1))
fi
[ "$failures" = 0 ] && echo "wine-run: every case as expected"
exit "$failures"

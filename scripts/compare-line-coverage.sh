#!/usr/bin/env bash
# Compares the panel's source lines reached natively (the guards build) with
# those reached in the shipped DLL, from two lcov tracefiles that validate
# wrote (--coverage-out FILE.info):
#   compare-line-coverage.sh NATIVE.info DLL.info
# Every line reached natively must be reached in the DLL too, unless the DLL
# has no code of its own for it: its optimiser merged the line into another's
# code (docs/coverage.md). A line the DLL has code for but never ran is a gap,
# and fails the check.
set -euo pipefail
if [ $# -ne 2 ] || [ ! -f "$1" ] || [ ! -f "$2" ]; then
  echo "usage: compare-line-coverage.sh NATIVE.info DLL.info (both files must exist)" >&2
  exit 2
fi
awk '
  FNR == 1 { side++ }
  /^SF:/ { file = substr($0, 4) }
  /^DA:/ {
    split(substr($0, 4), field, ",")
    key = file ":" field[1]
    if (side == 1) { if (field[2] > 0) native[key] = 1 }
    else { inDll[key] = 1; if (field[2] > 0) reachedInDll[key] = 1 }
  }
  END {
    for (key in native) {
      nativeCount++
      if (key in reachedInDll) continue
      if (key in inDll) { gaps++; print "lines: reached natively, never in the DLL: " key }
      else { merged++; print "lines: reached natively, no code of its own in the DLL: " key }
    }
    for (key in reachedInDll) dllCount++
    printf "lines: %d reached natively, %d in the DLL; %d natively only because the DLL merged them, %d gaps\n",
      nativeCount, dllCount, merged + 0, gaps + 0
    exit gaps > 0 ? 1 : 0
  }' "$1" "$2"

#!/usr/bin/env bash
# Every test: the native suite, then the 32-bit Windows DLL's checks under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n=== %s\n' "$*"; }

step "setup: Debian packages"
scripts/setup-debian.sh

step "native: configure, build, test"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "win32: configure, build, test under Wine"
cmake --preset win32 >/dev/null
cmake --build --preset win32
ctest --preset win32

step "win32-host: panel-host for Windows; every example on PELDAN.dll under Wine, transcripts compared"
cmake --preset win32-host >/dev/null
cmake --build --preset win32-host
ctest --preset win32-host

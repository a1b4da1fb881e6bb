#!/usr/bin/env bash
# Every test: the native suite, then the 32-bit Windows DLL's checks under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

steps=0
# Each step runs only if every earlier one passed (set -e), so the count is of passed steps.
step() { steps=$((steps + 1)); printf '\n=== %s\n' "$*"; }

step "setup: Debian packages"
scripts/setup-debian.sh

step "native: configure, build, test"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "browser: the panel in headless Chromium (screenshot in build/browser/panel.png)"
(cd tests/browser && node --test panel.test.mjs)

step "win32: configure, build, test under Wine"
cmake --preset win32 >/dev/null
cmake --build --preset win32
ctest --preset win32

step "win32-host: panel-host for Windows; every example on PELDAN.dll under Wine, transcripts compared"
cmake --preset win32-host >/dev/null
cmake --build --preset win32-host
ctest --preset win32-host

step "asan: whole native suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

step "memcheck: native tests and examples under valgrind"
scripts/memcheck.sh

step "coverage: DLL code line coverage, at least 95%"
scripts/coverage.sh 95

step "fuzz: each libFuzzer target for ${FUZZ_SECONDS:-60}s"
scripts/fuzz.sh "${FUZZ_SECONDS:-60}"

printf '\ntest-all: %d passed, 0 failed\n' "$steps"

#!/usr/bin/env bash
# Every test: the native suite, the reproducible DLL build, the packages, the
# browser panel, the real 32-bit DLLs on the emulated route, under Wine where
# this machine can run it, sanitizers, valgrind, coverage and fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."

passed=0
skipped=0
# Each step runs only if every earlier one passed (set -e), so the count is of passed steps.
step() { passed=$((passed + 1)); printf '\n=== %s\n' "$*"; }
skip() { skipped=$((skipped + 1)); printf '\n=== %s\n' "$*"; }

step "setup: Debian packages"
scripts/setup-debian.sh tests

wine_ok=1
why_no_wine=$(scripts/runs-32bit-programs.sh) || wine_ok=0
if [ $wine_ok = 1 ] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  wine_ok=0
  why_no_wine="Wine's 32-bit package is not installed (setup could not get it)"
fi
wine_tests=$([ $wine_ok = 1 ] && echo ON || echo OFF)

step "native: configure, build, test"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "win32: build PELDAN.dll and the test DLLs; static checks (export, signature, vtable slots)$([ $wine_ok = 1 ] && echo '; checks under Wine')"
cmake --preset win32 -DPELDAN_WINE_TESTS=$wine_tests >/dev/null
cmake --build --preset win32
ctest --preset win32

step "reproducible: two clean win32 builds in different folders give byte-identical DLLs"
scripts/check-reproducible.sh

step "package: the workbench's .deb installed and run; the DLL's release ZIP unpacked and its sums checked"
scripts/check-packages.sh

step "emulated: PELDAN.dll and the test DLLs on panel-host's CPU-emulated route; example transcripts equal to the native ones"
ctest --preset emulated

if [ $wine_ok = 1 ]; then
  step "win32-host: panel-host for Windows; every example on PELDAN.dll under Wine, transcripts equal to native and emulated"
  cmake --preset win32-host >/dev/null
  cmake --build --preset win32-host
  ctest --preset win32-host
else
  skip "win32-host: skipped, $why_no_wine (the emulated step ran the same DLL)"
fi

step "browser: the panel in headless Chromium (screenshot in build/browser/panel.png)"
(cd tests/browser && node --test panel.test.mjs)

step "asan: whole native suite, emulated route included, under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

step "memcheck: native tests and examples under valgrind"
scripts/memcheck.sh

step "coverage: DLL code line coverage, at least 95%; every line of panels/ from validate's default run alone"
scripts/coverage.sh 95

step "guards: the panels built with coverage guards (clang, the guards preset); validate counts the guards natively; the panel's source lines reached natively and in PELDAN.dll (its PDB), compared line by line, as lcov pages"
cmake --preset guards >/dev/null
cmake --build --preset guards
build/guards/panel_host/panel-host validate build/guards/panels/Studio_A/PELDAN/PELDAN.so --seed 1 \
  --out build/guards/validate-failures --json build/guards/validate.json \
  --coverage-out build/guards/lines-native.info | tee build/guards/validate.log
grep -q "PELDAN.so \[guards\] code reached: [1-9][0-9]* of [1-9][0-9]* guards" build/guards/validate.log
build/native/panel_host/panel-host validate build/win32/bin/PELDAN.dll --seed 1 \
  --out build/guards/validate-failures-dll --json build/guards/validate-dll.json \
  --coverage-out build/guards/lines-dll.info | tee build/guards/validate-dll.log
grep -q "panel source lines reached in PELDAN.dll: [1-9][0-9]* of" build/guards/validate-dll.log
scripts/compare-line-coverage.sh build/guards/lines-native.info build/guards/lines-dll.info
genhtml -q -o build/guards/lines-dll build/guards/lines-dll.info
genhtml -q -o build/guards/lines-native build/guards/lines-native.info
echo "guards: lcov pages in build/guards/lines-dll/index.html and build/guards/lines-native/index.html"

step "fuzz: each libFuzzer target for ${FUZZ_SECONDS:-60}s"
scripts/fuzz.sh "${FUZZ_SECONDS:-60}"

printf '\ntest-all: %d passed, 0 failed, %d skipped\n' "$passed" "$skipped"

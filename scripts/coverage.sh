#!/usr/bin/env bash
# Line coverage of the DLL code (script_helper/, panels/, vesk_string/) from
# the native test suite; fails below the floor given (default 95%). Then the
# panels' code from validate's default run alone, which must reach every line.
set -euo pipefail
cd "$(dirname "$0")/.."
floor=${1:-95}
cmake --preset coverage >/dev/null
cmake --build --preset coverage >/dev/null
find build/coverage -name '*.gcda' -delete
ctest --preset coverage >/dev/null
gcovr --root . --object-directory build/coverage \
  --filter 'script_helper/' --filter 'panels/' --filter 'vesk_string/' \
  --exclude-unreachable-branches --print-summary --fail-under-line "$floor" \
  --txt build/coverage/coverage.txt
cat build/coverage/coverage.txt

# validate's default run alone, on each panel: every line of the panels' own
# code must be reached by its sessions.
find build/coverage -name '*.gcda' -delete
for library in build/coverage/panels/*/*/*.so; do
  echo "coverage: panel-host validate $library (the default run)"
  build/coverage/panel_host/panel-host validate "$library" --out build/coverage/validate-failures \
    >build/coverage/validate-$(basename "$library" .so).log
done
gcovr --root . --object-directory build/coverage --filter 'panels/' \
  --exclude-unreachable-branches --print-summary --fail-under-line 100 \
  --txt build/coverage/validate-coverage.txt
cat build/coverage/validate-coverage.txt

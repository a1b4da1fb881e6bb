#!/usr/bin/env bash
# Line coverage of the DLL code (script_helper/, panels/, vesk_string/) from
# the native test suite; fails below the floor given (default 95%).
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

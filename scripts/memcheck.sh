#!/usr/bin/env bash
# The native tests and the example scenarios under valgrind memcheck: any
# error or leak fails. (The soak runs in the plain suite; here it would take minutes.)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/native
vg=(valgrind --quiet --error-exitcode=1 --suppressions=tests/valgrind-unicorn.supp --leak-check=full --show-leak-kinds=definite,indirect,possible
    --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes)
runs=0
run() { echo "memcheck: $*"; "${vg[@]}" "$@" >/dev/null; runs=$((runs + 1)); }
run $build/tests/script/peldan_tests --gtest_filter=-Soak.*
run $build/tests/studio/studio_tests
run $build/tests/host/host_tests
run $build/tests/route/route_tests
for scenario in examples/*.scenario; do
  run $build/panel_host/panel-host run $build/panels/Studio_A/PELDAN/PELDAN.so "$scenario"
done
echo "memcheck: $runs runs, 0 errors, 0 leaks"

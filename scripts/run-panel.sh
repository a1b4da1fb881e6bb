#!/usr/bin/env bash
# The main job: build the panel as the 32-bit Windows DLL it ships as, and run
# that DLL in panel-host (on its CPU-emulated route) on every example
# scenario, showing what the script sent and what the studio did, with a
# JUnit report a scenario for a CI server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh main
echo "run-panel: building panel-host (native) and PELDAN.dll (win32)"
cmake --preset native >/dev/null
cmake --build --preset native --target panel-host >/dev/null
cmake --preset win32 -DPELDAN_WINE_TESTS=OFF >/dev/null
cmake --build --preset win32 --target PELDAN PELDAN_layout >/dev/null
status=0
mkdir -p build/reports
for scenario in examples/*.scenario; do
  printf '\n===== %s\n' "$scenario"
  name=$(basename "$scenario" .scenario)
  build/native/panel_host/panel-host run build/win32/bin/PELDAN.dll "$scenario" \
    --junit "build/reports/$name.xml" || status=1
done
echo "run-panel: JUnit reports for CI in build/reports/"
exit $status

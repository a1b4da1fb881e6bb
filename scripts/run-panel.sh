#!/usr/bin/env bash
# The main job: build the panel and run it in panel-host on every example
# scenario, showing what the script sent and what the studio did.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake --preset native >/dev/null
cmake --build --preset native --target PELDAN PELDAN_layout panel-host >/dev/null
status=0
for scenario in examples/*.scenario; do
  printf '\n===== %s\n' "$scenario"
  build/native/emulator/panel-host run build/native/panels/Studio_A/PELDAN/PELDAN.so "$scenario" || status=1
done
exit $status

#!/usr/bin/env bash
# validate's default run (no options but the seed) on each fault planted
# behind a comparison, on the DLL and natively, for seeds 1 to N (8 unless
# given): whether it was found within 60 s, the run's seconds (search and
# shrinking), the shrunk scenario's steps, and whether that scenario replays
# to a failure. Needs the native and win32 builds. Prints a Markdown table and
# a closing count; exits 1 when any run missed.
#   scripts/measure-input-to-state.sh [SEEDS]
set -uo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-8}
host=build/native/panel_host/panel-host
fixtures=(page_word label_prefix source_number param_number instance_word)
for needed in "$host" build/win32/bin/planted_page_word_dll.dll; do
  [ -e "$needed" ] || { echo "measure-input-to-state: $needed is missing: build the native and win32 presets" >&2; exit 2; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
found=0 missed=0
echo "| fault | route | seed | found | seconds | shrunk steps | replays |"
echo "|---|---|---|---|---|---|---|"
for fixture in "${fixtures[@]}"; do
  for route in dll native; do
    if [ $route = dll ]; then library=build/win32/bin/planted_${fixture}_dll.dll
    else library=build/native/tests/fixtures/planted_${fixture}.so; fi
    for seed in $(seq 1 "$seeds"); do
      run=$out/$fixture-$route-$seed
      timeout 120 "$host" validate "$library" --seed "$seed" --out "$run" --json "$run.json" >/dev/null 2>&1
      read -r seconds steps scenario < <(python3 -c '
import json, sys
try:
    r = json.load(open(sys.argv[1]))
    f = r["failures"][0] if r["failures"] else None
    print("%.1f" % r["seconds"], f["shrunkSteps"] if f else "-", f["scenario"] if f else "-")
except Exception:
    print("- - -")' "$run.json")
      replays=no
      if [ "$scenario" != - ] && ! "$host" run "$library" "$scenario" >/dev/null 2>&1; then replays=yes; fi
      if [ "$scenario" != - ] && [ "$steps" -le 6 ] && [ $replays = yes ] &&
         awk -v s="$seconds" 'BEGIN { exit !(s <= 60) }'; then
        found=$((found + 1)); verdict=yes
      else
        missed=$((missed + 1)); verdict=no
      fi
      echo "| $fixture | $route | $seed | $verdict | $seconds | $steps | $replays |"
    done
  done
done
echo
echo "found: $found passed, $missed failed"
[ $missed = 0 ]

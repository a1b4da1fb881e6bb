#!/usr/bin/env bash
# A library folder that stays relative: from a working folder deeper than
# PATH_MAX the folder "S" cannot be made absolute, and the texts panel-host
# shows must still name it once as $SCRIPT_DIR, never loop on it.
# Usage: relative_folder.sh PANEL_HOST LIBRARY_FOLDER SCENARIO WORK
set -euo pipefail
panel_host=$1 library_folder=$2 scenario=$3 work=$4
rm -rf "$work" && mkdir -p "$work" && cd "$work"
name=$(printf 'd%.0s' {1..200})
for _ in $(seq 1 25); do mkdir "$name" && cd "$name"; done # about 5,000 bytes deep
mkdir S
cp "$library_folder/PELDAN.so" "$library_folder/PELDAN.vesk_ui" S/
cp "$scenario" take.scenario
status=0
timeout 20 "$panel_host" run S/PELDAN.so take.scenario >out.txt 2>&1 || status=$?
grep -nE "FAILED|SCRIPT_DIR|expected" out.txt | head -20
[ "$status" -eq 0 ] || { echo "relative_folder: panel-host run exited $status"; exit 1; }
grep -q 'load_vesk_client_script(host, \$SCRIPT_DIR)' out.txt

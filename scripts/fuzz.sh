#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time (seconds, default 60) from the
# seed corpus; any finding fails, and its input is kept in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
mkdir -p build/fuzz/findings
mkdir -p build/fuzz/corpus/pe
# The DLL reader starts from the DLLs the win32 build made, when there are any.
cp -n build/win32/bin/*.dll build/fuzz/corpus/pe/ 2>/dev/null || true
mkdir -p build/fuzz/corpus/pdb
# The PDB reader starts from the PDBs beside them.
cp -n build/win32/bin/*.pdb build/fuzz/corpus/pdb/ 2>/dev/null || true
for target in parse decode script pe pdb reports frames; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  cp -n fuzz/corpus/$target/* "$corpus"/ 2>/dev/null || true
  echo "fuzz: fuzz_$target for ${seconds}s"
  build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/findings/$target- "$corpus" 2>build/fuzz/$target.log ||
    { tail -40 build/fuzz/$target.log; echo "fuzz: fuzz_$target found a fault"; exit 1; }
  grep -E 'stat::number_of_executed_units' build/fuzz/$target.log | sed "s/^/fuzz: $target /"
done

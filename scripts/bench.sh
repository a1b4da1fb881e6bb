#!/usr/bin/env bash
# Builds the benchmarks in Release and prints each path beside its baseline.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
build/bench/bench/peldan_bench --benchmark_counters_tabular=true "$@"

#!/usr/bin/env bash
# Draws panel-host's target graph from the build itself: CMake's --graphviz
# writes the targets and their links, Graphviz's dot renders them into
# docs/targets.svg and prints the edges (docs/architecture.md shows both).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v dot >/dev/null || { echo "architecture-graph: needs Graphviz's dot (apt-get install graphviz)" >&2; exit 2; }
build=build/graph
mkdir -p $build
# Only panel-host's own targets: the script library's and external ones are left out.
cat > $build/CMakeGraphVizOptions.cmake <<'OPTIONS'
set(GRAPHVIZ_GRAPH_NAME "panel-host")
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS "^(.*_code|.*_layout|PELDAN|ALARMS|script_helper|vesk_string|dll_code_flags)$")
OPTIONS
echo "architecture-graph: cmake --graphviz=$build/targets.dot"
cmake -S . -B $build -DPELDAN_TESTS=OFF --graphviz=$build/targets.dot >/dev/null
echo "architecture-graph: dot -Tsvg -o docs/targets.svg"
dot -Tsvg -o docs/targets.svg $build/targets.dot
# The edges, by target name (CMake writes each as a comment beside it).
grep -o '"node[0-9]*" -> .*// .*' $build/targets.dot | sed 's#.*// ##' | sort

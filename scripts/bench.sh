#!/usr/bin/env bash
# Runs every benchmark binary of a build folder.
set -euo pipefail
dir=${1:-build/release}
for binary in "$dir"/bench/bench_*; do
    [[ -f "$binary" && -x "$binary" ]] || continue
    echo "== $(basename "$binary")"
    "$binary" --benchmark_counters_tabular=true
done
# The status-line bridge runs as its own python3 process, timed the way Claude Code starts it.
echo "== ClaudeBridgeBench"
"$(dirname "$0")/../bench/ClaudeBridgeBench.py"

#!/usr/bin/env bash
# Runs every benchmark program of a bench build folder; each prints its ratios.
set -euo pipefail
build=$1
found=0
for program in "$build"/bin/*_bench; do
  [ -x "$program" ] || continue
  found=1
  echo "=== $(basename "$program")"
  (cd "$build/bin" && "$program" --benchmark_min_time=0.2)
done
[ "$found" -eq 1 ] || echo "no benchmarks built"

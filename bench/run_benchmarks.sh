#!/usr/bin/env bash
# Runs every benchmark program of a bench build folder; each prints its ratios.
# The programs find the stand-in client XA library through the library search
# path, pointed at the folder that holds only the first candidate. Then the
# bank on private database servers (bank_bench.sh).
set -euo pipefail
build=$1
found=0
for program in "$build"/bin/*_bench; do
  [ -x "$program" ] || continue
  found=1
  echo "=== $(basename "$program")"
  (cd "$build/bin" && LD_LIBRARY_PATH="$build/clients/xa80${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    "$program" --benchmark_min_time="${ZP_BENCH_MIN_TIME:-0.2}")
done
[ "$found" -eq 1 ] || echo "no benchmarks built"
echo "=== bank_bench"
"$(dirname "$0")/bank_bench.sh" "$build"

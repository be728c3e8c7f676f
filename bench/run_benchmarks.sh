#!/usr/bin/env bash
# Runs every benchmark program of a bench build folder; each prints its ratios.
# The programs find the stand-in client XA library through the library search
# path, pointed at the folder that holds only the first candidate. Then the
# hand-off once more with the semaphores' spin off (a blocking ping-pong),
# the memory per open rmid, and the bank on private database servers
# (bank_bench.sh).
set -euo pipefail
build=$1
found=0
clients="$build/clients/xa80${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
for program in "$build"/bin/*_bench; do
  [ -x "$program" ] || continue
  found=1
  echo "=== $(basename "$program")"
  (cd "$build/bin" && LD_LIBRARY_PATH=$clients "$program" --benchmark_min_time="${ZP_BENCH_MIN_TIME:-0.2}")
done
[ "$found" -eq 1 ] || echo "no benchmarks built"
if [ -x "$build/bin/dtc_bench" ]; then
  echo "=== dtc_bench, spin off"
  (cd "$build/bin" && ZP_SEMAPHORE_SPIN=0 ZP_BENCH_IDLE_SECONDS=0 LD_LIBRARY_PATH=$clients \
    ./dtc_bench --benchmark_min_time="${ZP_BENCH_MIN_TIME:-0.2}" \
    --benchmark_filter='BM_BarePingPong|BM_SwitchRoundTrip/1/|BM_DirectClientCall')
fi
echo "=== dtc_probe"
(cd "$build/bin" && ZP_BENCH_IDLE_SECONDS=0 LD_LIBRARY_PATH=$clients ./dtc_probe)
echo "=== bank_bench"
"$(dirname "$0")/bank_bench.sh" "$build"

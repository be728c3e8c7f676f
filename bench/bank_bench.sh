#!/usr/bin/env bash
# Transactions per second of the bank (xabank bank: transfers between
# PostgreSQL and MariaDB, two-phase commit) through the client's own switch
# (direct), MQStart (mq) and GetXaSwitch (dtc), at 1, 4 and 16
# transaction-manager threads, on private servers started non-durable and
# then durable. Every round runs each switch once per thread count, in an
# order that rotates from round to round, so that the ratios to direct are
# taken side by side; the table shows the median of the rounds.
#   bank_bench.sh BUILD_DIR
# ZP_BENCH_BANK_TRANSFERS (default 400) transfers per run,
# ZP_BENCH_BANK_ROUNDS (default ZP_BENCH_ROUNDS, else 3) rounds,
# ZP_BENCH_BANK_MODES (default "non-durable durable"). A second table gives
# the processor time the whole machine used per transfer (driver and servers).
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
servers=$here/../tools/servers/dbservers.sh
transfers=${ZP_BENCH_BANK_TRANSFERS:-400}
rounds=${ZP_BENCH_BANK_ROUNDS:-${ZP_BENCH_ROUNDS:-3}}
driver=$build/bin/xabank

# Inside dbservers.sh run: the rounds on the servers it started.
if [ "${2:-}" = --rounds ]; then
  mode=$3 work=$4
  # The transaction manager's log is as durable as the servers.
  log=$work/tm.log
  [ "$mode" = non-durable ] && [ -d /dev/shm ] && log=$(mktemp -p /dev/shm zp-bank-bench.XXXXXX)
  export LD_LIBRARY_PATH=$build/sqlxa
  drive() { timeout 300 "$driver" --log "$log" "$@"; }
  drive --tm direct bank --setup --transfers 4 >"$work/setup.out" 2>&1 || {
    cat "$work/setup.out"
    exit 1
  }
  # The whole machine's busy processor time in clock ticks (the servers'
  # share as well as the driver's): user, nice, system, irq and softirq.
  busy() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8; exit }' /proc/stat; }
  hz=$(getconf CLK_TCK)
  # dtc-spin0: GetXaSwitch with the semaphores' spin off, every hand-off
  # blocking, for what the spin gains and costs on real work.
  tms=(direct mq dtc dtc-spin0)
  for ((round = 0; round < rounds; round++)); do
    for threads in 1 4 16; do
      for ((k = 0; k < ${#tms[@]}; k++)); do
        tm=${tms[$(((k + round) % ${#tms[@]}))]}
        out=$work/$mode-$tm-$threads-$round.out
        spin=()
        [ "$tm" = dtc-spin0 ] && spin=(ZP_SEMAPHORE_SPIN=0)
        # A run that fails (a broken invariant among them) is reported and
        # left out of the table; the others go on.
        before=$(busy)
        if env "${spin[@]}" timeout 300 "$driver" --log "$log" --tm "${tm%-spin0}" \
          --threads "$threads" bank --transfers "$transfers" >"$out" 2>&1; then
          after=$(busy)
          tps=$(sed -n 's/^bank: .* \([0-9.]*\) transactions\/s$/\1/p' "$out")
          cpu=$(awk -v t=$((after - before)) -v hz="$hz" -v n="$transfers" 'BEGIN { printf "%.0f", t * 1e6 / hz / n }')
          echo "$mode $threads $tm $round $tps $cpu"
        else
          echo "bank_bench: FAILED: $mode, $threads thread(s), $tm, round $round: $out" >&2
          grep -E 'DEVIATION|xadriver:|xabank:' "$out" | head -3 >&2
        fi
      done
    done
  done
  [ "$log" = "$work/tm.log" ] || rm -f "$log"
  exit 0
fi

[ -x "$driver" ] && [ -d "$build/sqlxa" ] || {
  echo "bank_bench: no xabank with the SQL client XA library in $build: skipped"
  exit 0
}
work=$build/bank-bench
rm -rf "$work"
mkdir -p "$work"
results=$work/results
: >"$results"
for mode in ${ZP_BENCH_BANK_MODES:-non-durable durable}; do
  durable=0
  [ "$mode" = durable ] && durable=1
  ZP_DB_DURABLE=$durable "$servers" run "$work/servers" -- "$0" "$build" --rounds "$mode" "$work" \
    >>"$results" 2>"$work/$mode.err" || {
    cat "$work/$mode.err"
    exit 1
  }
done
echo "bank: $transfers transfers per run, median of $rounds rounds (transactions/s, ratio to direct)"
"$here/txn_table.sh" <"$results"
if grep -q FAILED "$work"/*.err; then
  cat "$work"/*.err
  exit 1
fi

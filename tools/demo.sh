#!/usr/bin/env bash
# A short session with the module on the native target, against the reference
# resource manager and the reference trace library: a two-phase commit through
# each switch (traced on the MQ switch), a crash between prepare and commit
# recovered by a new process, and several rmids at once on the DTC switch.
# Then the bank on real databases (private PostgreSQL and MariaDB servers,
# started by tools/servers/dbservers.sh and stopped on exit): transfers through
# both switches, a crash at each crash point recovered by a new process, and
# the invariant checked after each. Builds what is missing first. Exits non-zero when anything did not behave as
# shown.
#   tools/demo.sh BUILD_DIR
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/demo}

say() { printf '%s\n' "$*"; }
step() { printf '\n== %s\n' "$*"; }

# Configure once; the build step is quick when nothing changed.
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
mkdir -p "$BUILD"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  say "configuring a native build in $BUILD ..."
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZP_TESTS=OFF "${launcher[@]}" >"$BUILD/demo-build.log" 2>&1 || {
    tail -30 "$BUILD/demo-build.log"
    say "demo: configuring the build failed (log: $BUILD/demo-build.log)"
    exit 1
  }
fi
say "building the module, the driver and the reference libraries (log: $BUILD/demo-build.log) ..."
if ! cmake --build "$BUILD" -j "${ZP_JOBS:-2}" --target xadriver xabank zpor8dtc23 zp_refrm zptrace zp_sqlxa >>"$BUILD/demo-build.log" 2>&1; then
  tail -30 "$BUILD/demo-build.log"
  say "demo: the build failed (log: $BUILD/demo-build.log)"
  exit 1
fi

RUN=$BUILD/demo-run
rm -rf "$RUN"
mkdir -p "$RUN"
DRIVER=$BUILD/bin/xadriver
TRACE_LOG=trace.log
# The module finds the reference resource manager, and the trace library, by
# the ordinary library search; the journal and the trace log go to the folder
# of this run.
export LD_LIBRARY_PATH=$BUILD/refrm:$BUILD/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export ZP_REFRM_JOURNAL_DIR=$RUN/journal
cd "$RUN" || exit 1
OPEN='ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=rm{rmid}+SqlNet=zpdemo'

passed=0
failed=0
# check NAME OUTPUT_FILE STATUS WANTED_STATUS REGEX...: every regex must match.
check() {
  local name=$1 file=$2 status=$3 wanted=$4
  shift 4
  local ok=1 pattern
  [ "$status" -eq "$wanted" ] || ok=0
  # A call and its result are two lines of the driver's output: match them as one.
  local joined
  joined=$(sed '/^xa_\|^work\|^\[rmid [0-9]*\] xa_/{N;s/\n\(\[rmid [0-9]*\]\)\? */  /}' "$file")
  for pattern in "$@"; do grep -Eq -- "$pattern" <<<"$joined" || { ok=0; say "   missing: $pattern"; }; done
  if [ $ok -eq 1 ]; then
    passed=$((passed + 1))
    say "   -> $name: as expected"
  else
    failed=$((failed + 1))
    say "   -> $name: NOT as expected (exit status $status; full output in $file)"
  fi
}
# Shows the call lines of a driver run, each call on one line.
calls() { sed -n '/^xa_\|^work/{N;s/\n */  /;p}' "$1" | sed 's/^/   /'; }

# two_phase TM OUTPUT THREAD_LINE OPEN: a two-phase commit through one switch.
two_phase() {
  local tm=$1 out=$2 thread_line=$3 open=$4
  "$DRIVER" --tm "$tm" --open "$open" run two-phase >"$out" 2>&1
  local status=$?
  calls "$out"
  grep -E '^rmid' "$out" | sed 's/^/   /'
  check "two-phase commit through the $tm switch" "$out" $status 0 'xa_prepare.*= XA_OK' 'xa_commit.*= XA_OK' \
    "$thread_line"
}

step "1. Two-phase commit through the DTC switch (GetXaSwitch)"
two_phase dtc "$RUN/dtc.out" 'every client call ran on worker thread' "$OPEN"

step "2. Two-phase commit through the MQ switch (MQStart), traced"
two_phase mq "$RUN/mq.out" "every client call ran on the caller's thread" \
  "$OPEN+Trace=2+TraceDll64=libzptrace.so+TraceFile=$TRACE_LOG"

step "3. A crash between prepare and commit, recovered by a new process"
"$DRIVER" --tm dtc --rmid 7 --open "$OPEN" run crash >"$RUN/crash.out" 2>&1
status=$?
calls "$RUN/crash.out" | tail -2
grep -E '^-- the process ends' "$RUN/crash.out" | sed 's/^/   /'
say "   journal: $(head -1 "$ZP_REFRM_JOURNAL_DIR"/zpdemo.journal 2>/dev/null | cut -c1-60) ..."
check "crash after prepare" "$RUN/crash.out" $status 0 'xa_prepare.*= XA_OK' 'simulated crash'
"$DRIVER" --tm dtc --rmid 7 --open "$OPEN" run recover >"$RUN/recover.out" 2>&1
status=$?
sed -n '/^xa_recover/,/^xa_close/p' "$RUN/recover.out" | sed -n '/^xa_/{N;s/\n */  /;p};/in doubt/p' | sed 's/^/   /'
check "recovery in a new process" "$RUN/recover.out" $status 0 'xa_recover.*= 1 \(1\)' 'in doubt: 0x5a50:crash-7' \
  'xa_commit.*= XA_OK'

step "4. Four rmids at once on the DTC switch, one thread each"
"$DRIVER" --tm dtc --threads 4 --rmid 1 --open "$OPEN" run threads >"$RUN/threads.out" 2>&1
status=$?
grep -E '^rmid [0-9]+:' "$RUN/threads.out" | sed 's/^/   /'
say "   ($(grep -c '^\[rmid [0-9]*\] xa_' "$RUN/threads.out") calls in all; full output in $RUN/threads.out)"
check "four rmids at once" "$RUN/threads.out" $status 0 \
  'rmid 1: every client call ran on worker thread' 'rmid 2: every client call ran on worker thread' \
  'rmid 3: every client call ran on worker thread' 'rmid 4: every client call ran on worker thread'

step "5. The trace log of step 2 (excerpt)"
{
  sed -n '/ENTRY or8_mq_xa_open/,/EXIT  or8_mq_xa_start/p' "$TRACE_LOG"
  grep -E 'EXIT  or8_mq_xa_(prepare|commit)' "$TRACE_LOG"
} 2>/dev/null | cut -c1-140 | sed 's/^/   /'
say "   ... ($(wc -l <"$TRACE_LOG" 2>/dev/null || echo 0) lines in $RUN/$TRACE_LOG)"
# The password of the open string must not reach the log.
tracing_status=0
! grep -q 'tiger' "$TRACE_LOG" 2>/dev/null || tracing_status=1
check "trace records" "$TRACE_LOG" $tracing_status 0 'ENTRY or8_mq_xa_open xa_info: ORACLE_XA\+Acc=P/scott/\*\*\*\*' \
  'DATA  or8_mq_xa_start xid->gtrid: 32 70 63 2d 31' 'EXIT  or8_mq_xa_commit rc = 0'

# ---------------------------------------------------------------------------
# The bank: two real databases, one global transaction per transfer.
SERVERS=$RUN/servers
BANK_LOG=$RUN/bank-tm.log
DBSERVERS=$ROOT/tools/servers/dbservers.sh
servers_up=0
stop_servers() { [ $servers_up -eq 1 ] && "$DBSERVERS" stop "$SERVERS" >/dev/null 2>&1; servers_up=0; }
trap stop_servers EXIT
trap 'exit 130' INT TERM
# bank ARGS...: xabank, the bank's program, on the bank's databases, bounded.
bank() { LD_LIBRARY_PATH=$BUILD/sqlxa timeout 120 "$BUILD/bin/xabank" --log "$BANK_LOG" "$@"; }
bank_transfers=0
bank_crashes=0
bank_in_doubt=0
bank_resolved=0
# verify_bank NAME: the invariant, shown in one line.
verify_bank() {
  bank verify >"$RUN/$1-verify.out" 2>&1
  local status=$?
  sed -n 's/^verify: transfers: /   verify: transfers /p;s/^verify: \(the invariant.*\)/   verify: \1/p' "$RUN/$1-verify.out"
  check "$2" "$RUN/$1-verify.out" $status 0 'in doubt: bank_a 0 .*bank_b 0 .*OK' 'the invariant holds'
}

step "6. The bank: transfers between PostgreSQL (bank_a) and MariaDB (bank_b), one global transaction each"
if "$DBSERVERS" start "$SERVERS" >"$RUN/servers.out" 2>&1; then
  servers_up=1
  export ZPSQLXA_CONNECTIONS=$SERVERS/connections
  sed 's/^dbservers: /   servers: /' "$RUN/servers.out" | tail -1
  bank --tm direct bank --setup --transfers 1 >"$RUN/bank-setup.out" 2>&1
  check "bank tables set up" "$RUN/bank-setup.out" $? 0 'set up bank_a' 'set up bank_b'
  bank_transfers=$((bank_transfers + 1))
  for tm in dtc mq; do
    bank --tm "$tm" --threads 2 bank --transfers 200 >"$RUN/bank-$tm.out" 2>&1
    status=$?
    sed -n '1p;/^totals/p;/^bank:/p' "$RUN/bank-$tm.out" | sed 's/^/   /'
    check "200 transfers through the $tm switch" "$RUN/bank-$tm.out" $status 0 \
      '200 committed, 0 rolled back, 0 left for recovery' 'totals after: +bank_a [0-9]+ \+ bank_b [0-9]+ = 200000'
    bank_transfers=$((bank_transfers + 200))
    verify_bank "bank-$tm" "the invariant after the $tm transfers"
  done
  # A transaction manager with a connection per thread: every thread opens
  # the same two rmids through GetXaSwitch.
  bank --tm dtc --threads 8 --open-per-thread bank --transfers 160 >"$RUN/bank-per-thread.out" 2>&1
  status=$?
  sed -n '1p;/^bank:/p' "$RUN/bank-per-thread.out" | sed 's/^/   /'
  check "160 transfers, 8 threads each opening rmids 1 and 2" "$RUN/bank-per-thread.out" $status 0 \
    '160 committed, 0 rolled back, 0 left for recovery' 'each on a connection of its own, every open closed'
  bank_transfers=$((bank_transfers + 160))
  verify_bank bank-per-thread "the invariant after the per-thread transfers"
else
  cat "$RUN/servers.out"
  failed=$((failed + 1))
  say "   -> the private database servers: did NOT start (the bank steps are skipped)"
fi

if [ $servers_up -eq 1 ]; then
  step "7. A crash at each crash point of transfer 3, recovered by a new process"
  bank --tm dtc bank --transfers 5 --crash-at after-decision --crash-transfer 3 >"$RUN/crash-example.out" 2>&1
  status=$?
  sed -n '/transfer 3: xa_prepare/,$p' "$RUN/crash-example.out" | cut -c1-150 | sed 's/^/   /'
  check "a crash after the decision" "$RUN/crash-example.out" $status 3 '^-- crash after-decision of transfer 3'
  bank --tm dtc bank-recover >"$RUN/crash-example-recover.out" 2>&1
  status=$?
  sed 's/^/   /' "$RUN/crash-example-recover.out" | cut -c1-150
  check "its recovery in a new process" "$RUN/crash-example-recover.out" $status 0 \
    'bank-recover: 2 branch\(es\) in doubt: 2 committed, 0 rolled back, 0 failed'
  bank_transfers=$((bank_transfers + 5 - 2))
  bank_crashes=$((bank_crashes + 1))
  bank_in_doubt=$((bank_in_doubt + 2))
  bank_resolved=$((bank_resolved + 2))
  verify_bank crash-example "the invariant after that recovery"
  say ""
  while read -r tm point doubt committed rolled; do
    name=crash-$tm-$point
    bank --tm "$tm" bank --transfers 5 --crash-at "$point" --crash-transfer 3 >"$RUN/$name.out" 2>&1
    crash_status=$?
    bank --tm "$tm" bank-recover >"$RUN/$name-recover.out" 2>&1
    recover_status=$?
    bank verify >"$RUN/$name-verify.out" 2>&1
    verify_status=$?
    say "   $tm $point: $(sed -n 's/^bank-recover: //p' "$RUN/$name-recover.out"); $(sed -n 's/^verify: the //p' "$RUN/$name-verify.out")"
    cat "$RUN/$name-recover.out" "$RUN/$name-verify.out" >"$RUN/$name-all.out"
    ok=0
    [ $crash_status -eq 3 ] && [ $recover_status -eq 0 ] && grep -q "^-- crash $point of transfer 3" "$RUN/$name.out" && ok=1
    check "crash $point through $tm, recovered" "$RUN/$name-all.out" $((1 - ok + verify_status)) 0 \
      "bank-recover: $doubt branch\\(es\\) in doubt: $committed committed, $rolled rolled back, 0 failed" 'the invariant holds'
    bank_crashes=$((bank_crashes + 1))
    bank_in_doubt=$((bank_in_doubt + doubt))
    bank_resolved=$((bank_resolved + committed + rolled))
    bank_transfers=$((bank_transfers + 2 + (committed > 0 ? 1 : 0)))
  done <<'MATRIX'
dtc after-first-prepare 1 0 1
dtc after-prepare 2 0 2
dtc after-decision 2 2 0
dtc after-first-commit 1 1 0
mq after-first-prepare 1 0 1
mq after-prepare 2 0 2
mq after-decision 2 2 0
mq after-first-commit 1 1 0
MATRIX

  step "8. The totals at the end"
  bank verify >"$RUN/bank-final.out" 2>&1
  status=$?
  sed 's/^/   /' "$RUN/bank-final.out"
  check "the invariant at the end" "$RUN/bank-final.out" $status 0 "verify: transfers: $bank_transfers in both databases, 0 in one only" \
    'the invariant holds'
  say "   the bank: $bank_transfers transfers committed, $bank_crashes crashes injected and recovered, $bank_in_doubt branches found in doubt, $bank_resolved resolved"
  stop_servers
fi

# Commands to try by hand, each run here first, from the folder ./run demo was
# started in, exactly as printed: the reference resource manager must be on
# the library search path, which the driver does not arrange by itself.
step "Try it yourself, from the project folder (each command ran just now as printed)"
rel=${BUILD#"$ROOT"/}
try_commands=(
  "LD_LIBRARY_PATH=$rel/refrm $rel/bin/xadriver run two-phase"
  "LD_LIBRARY_PATH=$rel/refrm $rel/bin/xadriver --tm mq run all"
  "LD_LIBRARY_PATH=$rel/refrm $rel/bin/xadriver check --open 'ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=rm1+SqlNet=zpdemo'"
)
for command in "${try_commands[@]}"; do
  say "   $command"
  (cd "$ROOT" && env -u LD_LIBRARY_PATH ZP_REFRM_JOURNAL_DIR="$RUN/journal" bash -c "$command") \
    >"$RUN/try.out" 2>&1
  check "ran as printed" "$RUN/try.out" $? 0
done
say "   (without LD_LIBRARY_PATH every xa_open answers XAER_RMERR: no client XA library is found;"
say "   $rel/bin/xadriver check names the candidates it looked for)"

say ""
if [ $failed -eq 0 ]; then
  say "demo: all $passed checks passed: both switches, crash and recovery, four rmids on their own workers, tracing, the bank on two real databases with every crash point recovered"
  exit 0
fi
say "demo: $failed of $((passed + failed)) checks did NOT behave as shown (work files in $RUN)"
exit 1

#!/usr/bin/env bash
# A short session with the module on the native target, against the reference
# resource manager and the reference trace library: a two-phase commit through
# each switch (traced on the MQ switch), a crash between prepare and commit
# recovered by a new process, and several rmids at once on the DTC switch.
# Builds what is missing first. Exits non-zero when anything did not behave as
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
if ! cmake --build "$BUILD" -j "${ZP_JOBS:-2}" --target xadriver zpor8dtc23 zp_refrm zptrace >>"$BUILD/demo-build.log" 2>&1; then
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

say ""
if [ $failed -eq 0 ]; then
  say "demo: all $passed checks passed: both switches, crash and recovery, four rmids on their own workers, tracing"
  exit 0
fi
say "demo: $failed of $((passed + failed)) checks did NOT behave as shown (work files in $RUN)"
exit 1

#!/usr/bin/env bash
# A transaction manager with a connection per thread (run under
# dbservers.sh): eight threads and the main one each open the same two rmids
# through GetXaSwitch and run transfers. Every transfer must commit, each
# thread on a connection of its own (the driver compares the service
# contexts), and the diagnostic log must show every open met by a close on
# the same worker thread, one worker per open.
#   open_per_thread.sh DRIVER WORK_DIR
set -uo pipefail
DRIVER=$1
WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

timeout 60 "$DRIVER" --log "$WORK/tm.log" --tm direct bank --setup --transfers 1 >setup.out 2>&1 ||
  fail "set-up: $(cat setup.out)"
ZPXA_LOG=$WORK/diag.log timeout 120 "$DRIVER" --log "$WORK/tm.log" --tm dtc --threads 8 \
  --open-per-thread bank --transfers 240 >run.out 2>&1
status=$?
sed 's/^/   /' run.out
[ "$status" -eq 0 ] || fail "bank exited $status"
grep -q "240 committed, 0 rolled back, 0 left for recovery" run.out || fail "not every transfer committed"
grep -q "each on a connection of its own, every open closed" run.out || fail "connections shared"

# The log's open and close lines of rmids 1 and 2: 9 opens each, every one
# XA_OK on a worker thread of its own, and the same worker threads closed.
opens=$(grep -E "open dtc rmid [12] .* result XA_OK thread [0-9]+" diag.log | sed 's/.*rmid \([12]\) .*thread \([0-9]*\).*/\1 \2/' | sort)
closes=$(grep -E "close dtc rmid [12] .* result XA_OK thread [0-9]+" diag.log | sed 's/.*rmid \([12]\) .*thread \([0-9]*\).*/\1 \2/' | sort)
echo "   diagnostic log: $(echo "$opens" | grep -c .) opens, $(echo "$closes" | grep -c .) closes answered XA_OK, $(echo "$opens" | awk '{print $2}' | sort -u | grep -c .) workers"
[ "$(echo "$opens" | grep -c .)" -eq 18 ] || fail "wanted 18 opens"
[ "$(echo "$opens" | awk '{print $2}' | sort -u | grep -c .)" -eq 18 ] || fail "wanted 18 workers"
[ "$opens" = "$closes" ] || fail "the opens and the closes differ"

timeout 60 "$DRIVER" --log "$WORK/tm.log" verify >verify.out 2>&1 || fail "verify: $(cat verify.out)"
grep -q "the invariant holds" verify.out || fail "the invariant does not hold"
[ "$failures" -eq 0 ] && echo "open per thread: every transfer committed, one connection and worker per open"
exit $((failures != 0))

#!/usr/bin/env bash
# The bank against the private servers (run under dbservers.sh, which sets
# ZPSQLXA_CONNECTIONS): transfers through every switch, then on each module
# switch a crash at each crash point, recovery in a new process, and the
# invariant after each. The transfers found in both databases are counted
# too, so that a recovery that rolls back what the log decided (which keeps
# the balances' sum) is caught.
#   bank_matrix.sh XABANK WORK_DIR
set -uo pipefail
DRIVER=$1
WORK=$2
# The operator's recover command is xadriver's, beside xabank.
XADRIVER=$(dirname "$DRIVER")/xadriver
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
LOG=$WORK/tm.log
failures=0

# drive NAME STATUS ARGS...: runs the driver (at most 60 s) into NAME.out and
# checks its exit status.
drive() {
  local name=$1 wanted=$2
  shift 2
  timeout 60 "$DRIVER" --log "$LOG" "$@" >"$name.out" 2>&1
  local status=$?
  if [ "$status" -ne "$wanted" ]; then
    echo "FAIL $name: exit status $status, wanted $wanted"
    sed 's/^/     /' "$name.out"
    failures=$((failures + 1))
    return 1
  fi
}

# expect NAME REGEX...: each regex matches a line of NAME.out.
expect() {
  local name=$1 pattern
  shift
  for pattern in "$@"; do
    grep -Eq -- "$pattern" "$name.out" && continue
    echo "FAIL $name: no line matches: $pattern"
    sed 's/^/     /' "$name.out"
    failures=$((failures + 1))
  done
}

transfers=0
# verify NAME: the invariant holds with $transfers transfers in both databases
# (any number when transfers is "[0-9]+").
verify() {
  drive "$1-verify" 0 verify &&
    expect "$1-verify" "verify: transfers: $transfers in both databases, 0 in one only" \
      "branches in doubt: bank_a 0 \(pg_prepared_xacts\), bank_b 0 \(XA RECOVER\)  OK" \
      "the invariant holds"
}

drive setup 0 --tm direct bank --setup --transfers 4 &&
  expect setup "set up bank_a: 100 accounts" "set up bank_b: 100 accounts" \
    "totals before: bank_a 100000 \+ bank_b 100000 = 200000" "4 committed, 0 rolled back"
transfers=4
verify setup
for tm in direct dtc mq; do
  drive "$tm-threads" 0 --tm "$tm" --threads 3 bank --transfers 30 &&
    expect "$tm-threads" "30 committed, 0 rolled back, 0 left for recovery; [0-9.]+ transactions/s" \
      "totals after: +bank_a [0-9]+ \+ bank_b [0-9]+ = 200000"
  transfers=$((transfers + 30))
  verify "$tm-threads"
done

# Many threads on few accounts: lock waits, and commits right behind prepares.
drive dtc-16-threads 0 --tm dtc --threads 16 bank --transfers 320 &&
  expect dtc-16-threads "320 committed, 0 rolled back, 0 left for recovery"
transfers=$((transfers + 320))
verify dtc-16-threads

# crash point, branches in doubt after it, committed by recovery, rolled back
matrix="after-first-prepare 1 0 1
after-prepare 2 0 2
after-decision 2 2 0
after-first-commit 1 1 0"
for tm in dtc mq; do
  while read -r point doubt committed rolled; do
    name=$tm-$point
    drive "$name" 3 --tm "$tm" bank --transfers 4 --crash-at "$point" --crash-transfer 3 &&
      expect "$name" "^-- crash $point of transfer 3: the process ends here"
    # Before recovery: verify sees the branches in doubt, and no set-up may
    # throw them away.
    drive "$name-in-doubt" 1 verify &&
      expect "$name-in-doubt" "branches in doubt: bank_a [0-9]+ .*bank_b [0-9]+ .*  DEVIATION" \
        "the invariant does NOT hold"
    if [ "$point" = after-prepare ]; then
      drive "$name-setup" 1 --tm direct bank --setup &&
        expect "$name-setup" "branch\(es\) in doubt; run bank-recover before a set-up"
    fi
    drive "$name-recover" 0 --tm "$tm" bank-recover &&
      expect "$name-recover" \
        "bank-recover: $doubt branch\(es\) in doubt: $committed committed, $rolled rolled back, 0 failed"
    # Transfers 1 and 2 committed before the crash; 3 commits once decided.
    transfers=$((transfers + 2))
    [ "$committed" -gt 0 ] && transfers=$((transfers + 1))
    verify "$name"
    echo "$tm $point: $doubt in doubt, $committed committed, $rolled rolled back"
  done <<<"$matrix"
done

# An operator settles what a crash left in doubt by hand: each branch listed
# in hex by recover --list and pasted back to recover --rollback (the log
# decided nothing for it).
drive ops-crash 3 --tm dtc bank --transfers 4 --crash-at after-prepare --crash-transfer 3 &&
  expect ops-crash "^-- crash after-prepare of transfer 3"
for db in bank_a bank_b; do
  open="ORACLE_XA+Acc=P//+SqlNet=$db+DB=ops+SesTm=5"
  timeout 60 "$XADRIVER" --rmid 90 --open "$open" recover --list >"ops-$db-list.out" 2>&1
  status=$?
  expect "ops-$db-list" "^1 branch in doubt for rmid 90"
  xid=$(sed -n 's/^  \([0-9a-f]*:[0-9a-f]*:[0-9a-f]*\) .*/\1/p' "ops-$db-list.out" | head -1)
  timeout 60 "$XADRIVER" --rmid 90 --open "$open" recover --rollback "$xid" >"ops-$db-rollback.out" 2>&1
  status=$((status + $?))
  expect "ops-$db-rollback" "^xa_rollback\(xid=.*\) = XA_OK"
  if [ "$status" -ne 0 ]; then
    echo "FAIL ops-$db: recover --list / --rollback exited non-zero"
    failures=$((failures + 1))
  fi
done
transfers=$((transfers + 2))
verify ops

# A log that cannot be trusted is refused (exit 2, one line naming the log
# and the reason) before any database is touched: recovery never reads it as
# "no decisions", and nothing waits on a FIFO or reads a device without end.
mkdir -p "$WORK/a-folder"
mkfifo "$WORK/a-fifo"
printf 'commit zpbank-1-1\n' >"$WORK/older.log"
while read -r command log reason; do
  name=refuse-$command-$(basename "$log")
  LOG=$log drive "$name" 2 --tm dtc "$command" &&
    expect "$name" "^xabank: the log $log:? $reason"
done <<END
bank-recover $WORK/missing.log does not exist
bank-recover $WORK/a-folder is not a regular file
bank-recover $WORK/a-fifo is not a regular file
bank-recover /dev/zero is not a regular file
bank-recover $WORK/older.log a damaged record at byte 0
verify $WORK/missing.log does not exist
bank $WORK/a-fifo is not a regular file
bank /dev/full is not a regular file
END

# One log, one process: recovery started while a bank holds the log refuses
# at once, naming the bank's process. A session that holds bank_a's accounts
# table keeps the bank's transfers waiting meanwhile (it notices within 0.1 s
# that its client is gone, and lets go).
pg_uri=$(sed -n 's/^bank_a = //p' "$ZPSQLXA_CONNECTIONS")
psql -X -q "$pg_uri" -c "SET client_connection_check_interval = 100; BEGIN;
  LOCK TABLE accounts IN EXCLUSIVE MODE; SELECT pg_sleep(60)" >/dev/null 2>&1 &
holder=$!
for _ in $(seq 300); do
  [ "$(psql -X -qAt "$pg_uri" -c "SELECT count(*) FROM pg_locks l JOIN pg_class c ON
    c.oid = l.relation WHERE c.relname = 'accounts' AND l.mode = 'ExclusiveLock' AND l.granted")" \
    = 1 ] && break
  sleep 0.1
done
"$DRIVER" --log "$LOG" --tm dtc --threads 2 bank --transfers 4 >held-bank.out 2>&1 &
bank=$!
for _ in $(seq 600); do
  grep -q "^totals before" held-bank.out && break
  sleep 0.1
done
drive held-recover 2 --tm dtc bank-recover &&
  expect held-recover "^xabank: the log $LOG is in use by process $bank$"
kill "$holder"
wait "$holder"
for _ in $(seq 600); do
  kill -0 "$bank" 2>/dev/null || break
  sleep 0.1
done
kill -KILL "$bank" 2>/dev/null
if ! wait "$bank"; then
  echo "FAIL held-bank: the bank failed"
  sed 's/^/     /' held-bank.out
  failures=$((failures + 1))
fi
transfers=$((transfers + $(sed -n 's/^bank: .*: \([0-9]*\) committed,.*/\1/p' held-bank.out)))
verify held

# Two deployments on the same servers, each with its own log and databases
# (the second names test_pg and test_my bank_a and bank_b). MariaDB's XA
# RECOVER lists the whole server's branches: the first deployment's recovery
# must leave the second's decided branch alone; the second's commits it.
sed -n 's/^test_pg = /bank_a = /p; s/^test_my = /bank_b = /p' "$ZPSQLXA_CONNECTIONS" \
  >"$WORK/connections-two"
two() {
  LOG=$WORK/two.log ZPSQLXA_CONNECTIONS=$WORK/connections-two drive "$@"
}
two two-setup 0 --tm direct bank --setup --transfers 2
two two-crash 3 --tm dtc bank --transfers 2 --crash-at after-decision --crash-transfer 2 &&
  expect two-crash "^-- crash after-decision of transfer 2"
DRIVER=$XADRIVER drive two-first-list 0 --rmid 90 --open "ORACLE_XA+Acc=P//+SqlNet=bank_b+DB=ops+SesTm=5" \
  recover --list &&
  expect two-first-list "NOT OURS: another transaction manager's" \
    "^1 branch is not of the log $LOG"
# By hand, with the second deployment's log: its decided branch is not rolled
# back.
xid=$(sed -n 's/^  \([0-9a-f]*:[0-9a-f]*:[0-9a-f]*\) .*NOT OURS.*/\1/p' two-first-list.out | head -1)
DRIVER=$XADRIVER two two-by-hand 2 --rmid 90 --open "ORACLE_XA+Acc=P//+SqlNet=bank_b+DB=ops+SesTm=5" \
  recover --rollback "$xid" &&
  expect two-by-hand "^xadriver: the log $WORK/two.log decided to commit this branch: --rollback refused"
drive two-first-recover 0 --tm dtc bank-recover &&
  expect two-first-recover "not ours: left alone" \
    "bank-recover: 0 branch\(es\) in doubt: 0 committed, 0 rolled back, 0 failed; [12] not ours"
verify two-first
two two-second-recover 0 --tm mq bank-recover &&
  expect two-second-recover \
    "bank-recover: 2 branch\(es\) in doubt: 2 committed, 0 rolled back, 0 failed"
two two-second-verify 0 verify &&
  expect two-second-verify "verify: transfers: 4 in both databases, 0 in one only" \
    "the invariant holds"

# A crash while other threads are in the middle of theirs: whatever each had
# reached, recovery settles it.
drive threads-crash 3 --tm dtc --threads 3 bank --transfers 60 --crash-at after-decision --crash-transfer 40 &&
  expect threads-crash "^-- crash after-decision of transfer 40"
drive threads-crash-recover 0 --tm mq bank-recover &&
  expect threads-crash-recover "bank-recover: [1-9][0-9]* branch\(es\) in doubt: [0-9]+ committed, [0-9]+ rolled back, 0 failed"
transfers="[0-9]+"
verify threads-crash

if [ "$failures" -ne 0 ]; then
  echo "bank matrix: $failures check(s) failed (work files in $WORK)"
  exit 1
fi
echo "bank matrix: every crash point recovered on both switches; the invariant held throughout"

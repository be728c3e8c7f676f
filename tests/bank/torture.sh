#!/usr/bin/env bash
# Recovery under random crashes: two bank deployments on the same private
# servers (run under dbservers.sh, which sets ZPSQLXA_CONNECTIONS and
# ZP_DB_DIR), each with its own log and databases, run transfers on several
# threads while a SIGKILL ends one process at a random moment: a bank, a
# recovery in progress, or a database server. After each round each
# deployment recovers and verify must hold for both: the sum of balances,
# none of its own branches in doubt, every transfer in both databases or
# neither. Rounds alternate the two module switches.
#   torture.sh DRIVER WORK_DIR [ROUNDS] [SEED]
set -uo pipefail
DRIVER=$1
WORK=$2
ROUNDS=${3:-6}
SEED=${4:-$$}
SERVERS=$(cd "$(dirname "$0")/../../tools/servers" && pwd)/dbservers.sh
RANDOM=$SEED
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
cp "$ZPSQLXA_CONNECTIONS" connections-a
sed -n 's/^test_pg = /bank_a = /p; s/^test_my = /bank_b = /p' "$ZPSQLXA_CONNECTIONS" >connections-b
failures=0
checks=0
declare -A kills=([bank]=0 [recovery]=0 [pg]=0 [my]=0)
recovered=0

fail() {
  echo "FAIL round $round: $*"
  failures=$((failures + 1))
}

# xa DEPLOYMENT ARGS...: the driver for deployment a or b, in the foreground,
# at most 120 s.
xa() {
  local dep=$1
  shift
  ZPSQLXA_CONNECTIONS=$WORK/connections-$dep timeout 120 "$DRIVER" --log "$WORK/$dep.log" "$@"
}

# start DEPLOYMENT OUT ARGS...: the driver in the background; its pid in $!.
start() {
  local dep=$1 out=$2
  shift 2
  ZPSQLXA_CONNECTIONS=$WORK/connections-$dep "$DRIVER" --log "$WORK/$dep.log" "$@" >"$out" 2>&1 &
}

# finish PID: waits at most 120 s for PID to end, then kills it; its exit
# status, 124 when it had to be killed.
finish() {
  local pid=$1
  [ "$pid" = none ] && return 0
  for _ in $(seq 1200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    return 124
  fi
  wait "$pid" 2>/dev/null
}

# A random pause of 0.2 to 1.9 s: where in the run (some 2 s) the kill lands.
pause() { sleep "$((RANDOM % 2)).$((2 + RANDOM % 8))"; }

for dep in a b; do
  round=setup
  xa "$dep" --tm direct bank --setup --transfers 2 >"setup-$dep.out" 2>&1 ||
    fail "set-up of $dep: $(tail -3 "setup-$dep.out")"
done

for round in $(seq "$ROUNDS"); do
  tm=dtc
  [ $((round % 2)) -eq 0 ] && tm=mq
  start a "r$round-bank-a.out" --tm "$tm" --threads 3 bank --transfers 1000
  pid_a=$!
  start b "r$round-bank-b.out" --tm "$tm" --threads 3 bank --transfers 1000
  pid_b=$!
  pause
  victim=$((RANDOM % 4))
  touched=b  # the deployment whose bank (or servers) the kill touches
  case $victim in
    0 | 1)
      if [ $victim -eq 0 ]; then
        victim_pid=$pid_a touched=a
      else
        victim_pid=$pid_b touched=b
      fi
      kill -KILL "$victim_pid" 2>/dev/null
      kills[bank]=$((kills[bank] + 1))
      what="bank $touched"
      ;;
    2)
      server=pg
      [ $((RANDOM % 2)) -eq 0 ] && server=my
      "$SERVERS" kill "$server" "$ZP_DB_DIR" >/dev/null 2>&1 || fail "cannot kill $server"
      kills[$server]=$((kills[$server] + 1))
      touched=both
      what="server $server"
      ;;
    3)
      # A bank ends, its recovery starts and is killed in the middle.
      kill -KILL "$pid_a" 2>/dev/null
      finish "$pid_a"
      pid_a=none
      start a "r$round-killed-recovery.out" --tm "$tm" bank-recover
      recovery=$!
      # Once it has read the log and opens the databases: within its scans
      # and its commits and rollbacks.
      for _ in $(seq 300); do
        grep -q "^-- bank-recover" "r$round-killed-recovery.out" && break
        kill -0 "$recovery" 2>/dev/null || break
        sleep 0.01
      done
      sleep "0.0$((RANDOM % 10))"
      kill -KILL "$recovery" 2>/dev/null
      finish "$recovery"
      kills[recovery]=$((kills[recovery] + 1))
      touched=a
      what="bank a, then its recovery"
      ;;
  esac
  finish "$pid_a"
  status_a=$?
  finish "$pid_b"
  status_b=$?
  [ "$status_a" -eq 124 ] && fail "bank a did not end"
  [ "$status_b" -eq 124 ] && fail "bank b did not end"
  # The deployment nothing touched ran its transfers undisturbed.
  if [ "$touched" = a ] && [ "$status_b" -ne 0 ]; then
    fail "bank b (untouched) exited $status_b: $(tail -3 "r$round-bank-b.out")"
  fi
  if [ "$touched" = b ] && [ "$status_a" -ne 0 ]; then
    fail "bank a (untouched) exited $status_a: $(tail -3 "r$round-bank-a.out")"
  fi
  if [ "$victim" -eq 2 ]; then
    "$SERVERS" up "$server" "$ZP_DB_DIR" >/dev/null 2>&1 || fail "cannot start $server again"
  fi
  for dep in a b; do
    out=r$round-recover-$dep.out
    xa "$dep" --tm "$tm" bank-recover >"$out" 2>&1 || fail "bank-recover of $dep: $(tail -3 "$out")"
    found=$(sed -n 's/^bank-recover: \([0-9]*\) branch(es) in doubt.*/\1/p' "$out")
    recovered=$((recovered + ${found:-0}))
    out=r$round-verify-$dep.out
    checks=$((checks + 1))
    xa "$dep" verify >"$out" 2>&1 || fail "verify of $dep after killing $what: $(grep -E 'DEVIATION|xabank:' "$out" | head -3)"
  done
  echo "round $round ($tm): killed $what; recovered $(grep -h '^bank-recover:' "r$round-recover-a.out" "r$round-recover-b.out" | sed 's/^bank-recover: //' | paste -sd '|')"
done

echo "torture: $ROUNDS round(s), seed $SEED: kills: ${kills[bank]} bank, ${kills[recovery]} recovery," \
  "${kills[pg]} PostgreSQL, ${kills[my]} MariaDB; $recovered branch(es) recovered;" \
  "$checks verify check(s), $failures failure(s)"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# paste_hints.sh DRIVER CLIENTS NO_CLIENTS [WINE]
#
# Pastes each command the driver prints into the shell it is printed for and
# checks that it does what the text before it says: sh natively; with a
# Wine loader WINE, cmd.exe under Wine (the line as a one-line batch file,
# DRIVER a Windows program). CLIENTS is the reference resource manager's folder,
# NO_CLIENTS one without a client library. Open strings with blanks, & and
# a password test the quoting.
#   1. the check command printed after a failed open: runs the check of that
#      open string;
#   2. recover --list's line, with --open (no password) and with
#      --open-file (a password): commits the branch a crash left in doubt.
set -uo pipefail
driver=$1 clients=$(cd "$2" && pwd) none=$(cd "$3" && pwd) wine=${4:-}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# drive FOLDER args...: the driver run from FOLDER (where Windows finds the
# client library, and the reference resource manager keeps its journal).
drive() {
  local folder=$1
  shift
  if [ -n "$wine" ]; then
    (cd "$folder" && timeout 60 "$wine" "$driver" "$@" 2>&1 | tr -d '\r')
  else
    (cd "$folder" && LD_LIBRARY_PATH=$folder timeout 60 "$driver" "$@" 2>&1)
  fi
}
# paste FOLDER LINE: the line in its shell, run from FOLDER.
paste() {
  local folder=$1 line=$2
  if [ -n "$wine" ]; then
    printf '@%s\r\n' "$line" >"$folder/hint.bat"
    (cd "$folder" && timeout 60 "$wine" cmd /c hint.bat 2>&1 | tr -d '\r')
    rm -f "$folder/hint.bat"
  else
    (cd "$folder" && LD_LIBRARY_PATH=$folder timeout 60 sh -c "$line" 2>&1)
  fi
}
# hint TEXT MARK: the line after the first line holding MARK, without its
# leading blanks.
hint() { printf '%s\n' "$1" | sed -n "/$2/{n;s/^ *//;p;q}"; }

export ZP_REFRM_JOURNAL_DIR=journal-paste-hints
rm -rf "$clients/$ZP_REFRM_JOURNAL_DIR" "$none/$ZP_REFRM_JOURNAL_DIR"

# 1. After a failed open.
open='ORACLE_XA+Acc=P/scott/tiger+SesTm=60+DB=rm{rmid}+SqlNet=a&b c'
out=$(drive "$none" --open "$open" run two-phase)
line=$(hint "$out" 'Run this to see')
if [ -z "$line" ]; then
  fail "no check command after the failed open:"
  printf '%s\n' "$out" | sed 's/^/     /'
else
  out=$(paste "$clients" "$line")
  case "$out" in
    *'DTC switch: the client receives "ORACLE_XA+Acc=P/scott/****+SesTm=60+DB=rm1+SqlNet=a&b c"'*)
      echo "OK   the check command after a failed open: $line" ;;
    *)
      fail "the check command after a failed open ($line) did not check that open string:"
      printf '%s\n' "$out" | sed 's/^/     /' ;;
  esac
fi

# 2. recover --list's line, after a crash left a branch in doubt.
printf 'ORACLE_XA+Acc=P/scott/tiger+DB=rm{rmid}+SqlNet=zp file\n' >"$clients/open file.txt"
for how in open open-file; do
  if [ "$how" = open ]; then
    given=(--open 'ORACLE_XA+SesTm=60+DB=rm{rmid}+SqlNet=zp & demo')
  else
    given=(--open-file 'open file.txt')
  fi
  drive "$clients" --rmid 7 "${given[@]}" run crash >/dev/null
  out=$(drive "$clients" --rmid 7 "${given[@]}" recover --list)
  line=$(hint "$out" 'resolve one with')
  if [ -z "$line" ]; then
    fail "recover --list ($how) printed no line to resolve a branch:"
    printf '%s\n' "$out" | sed 's/^/     /'
    continue
  fi
  case "$line" in *tiger*) fail "recover --list ($how) shows the password: $line" ;; esac
  out=$(paste "$clients" "$line")
  if printf '%s\n' "$out" | grep -q 'xa_commit(xid=[0-9a-f:]*, rmid=7) = XA_OK (0)' &&
    drive "$clients" --rmid 7 "${given[@]}" recover --list | grep -q '^0 branches in doubt for rmid 7'; then
    echo "OK   recover --list's line ($how) commits the branch: $line"
  else
    fail "recover --list's line ($how) did not commit the branch ($line):"
    printf '%s\n' "$out" | sed 's/^/     /'
  fi
done
rm -f "$clients/open file.txt"
rm -rf "$clients/$ZP_REFRM_JOURNAL_DIR" "$none/$ZP_REFRM_JOURNAL_DIR"

if [ "$failures" -ne 0 ]; then
  echo "$failures pasted hints failed"
  exit 1
fi
echo "every pasted hint did what it said"

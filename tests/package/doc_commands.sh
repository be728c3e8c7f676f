#!/usr/bin/env bash
# doc_commands.sh FILE HEADING WORK_DIR
#
# Runs, as printed, every command of one section of a Markdown file: the
# indented lines "    $ COMMAND" from the heading line HEADING to the next
# heading of the same or a higher level, in order, in one bash session (an
# export holds for the commands after it), from WORK_DIR. Each must exit with
# status 0, but for a simulated crash (a line with --crash-at), whose status
# is the crash's; what follows it (recovery, verify) checks what it left.
# Prints one line per command with its status, and each failing command's
# output; exits 1 when any failed or the section holds no command.
# A machine without sudo that runs this as root runs "sudo COMMAND" as
# COMMAND.
set -uo pipefail
file=$1 heading=$2 work=$3
level=$(printf '%s' "$heading" | sed 's/^\(#*\).*/\1/')
commands=$(awk -v heading="$heading" -v level="$level" '
  $0 == heading { on = 1; next }
  on && /^#+ / { split($0, h, " "); if (length(h[1]) <= length(level)) exit }
  on && /^    \$ / { sub(/^    \$ /, ""); print }' "$file")
if [ -z "$commands" ]; then
  echo "FAIL $(basename "$file"): no command under \"$heading\""
  exit 1
fi

mkdir -p "$work"
script=$work/commands.sh
{
  echo 'cd "$1" || exit 1'
  if ! command -v sudo >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ]; then
    echo 'sudo() { "$@"; }'
  fi
  n=0
  while IFS= read -r command; do
    n=$((n + 1))
    printf 'printf "\\n@@begin %d\\n"\n' "$n"
    printf '%s\n' "$command"
    printf 'printf "\\n@@end %d %%d\\n" $?\n' "$n"
  done <<<"$commands"
} >"$script"
timeout 600 bash "$script" "$work" >"$work/commands.out" 2>&1 </dev/null

failures=0
n=0
while IFS= read -r command; do
  n=$((n + 1))
  status=$(sed -n "s/^@@end $n \\([0-9]*\\)$/\\1/p" "$work/commands.out")
  wanted=0
  case "$command" in *--crash-at*) wanted=any ;; esac
  if [ -z "$status" ]; then
    result="FAIL (did not finish)"
  elif [ "$wanted" = any ] || [ "$status" -eq 0 ]; then
    result="OK   exit $status"
  else
    result="FAIL exit $status"
  fi
  printf '%s  $ %s\n' "$result" "$command"
  if [ "${result#OK}" = "$result" ]; then
    failures=$((failures + 1))
    sed -n "/^@@begin $n\$/,/^@@end $n /p" "$work/commands.out" | sed '1d;$d;s/^/       /'
  fi
done <<<"$commands"
[ "$failures" -eq 0 ]

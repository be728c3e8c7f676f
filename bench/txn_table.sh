#!/usr/bin/env bash
# Reads lines "SETTING THREADS SWITCH ROUND TPS [CPU]" and prints, per setting
# and thread count, the median transactions per second of each switch and the
# median over the rounds of its ratio to direct in the same round; with CPU
# (processor microseconds per transaction), a second table of its medians.
set -euo pipefail
awk '
function median(list,   n, a, i, j, t) {
  n = split(list, a, " ")
  for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; j--) {
    t = a[j]; a[j] = a[j - 1]; a[j - 1] = t
  }
  return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
NF >= 5 {
  key = $1 SUBSEP $2
  if (!(key in seen)) { seen[key] = 1; order[++keys] = key }
  tps[key, $3] = tps[key, $3] " " $5
  run[key, $3, $4] = $5
  if ($4 + 1 > rounds) rounds = $4 + 1
  if (NF >= 6) { cpu[key, $3] = cpu[key, $3] " " $6; withCpu = 1 }
}
END {
  printf "%-12s %7s %12s %12s %7s %12s %7s\n", "setting", "threads", "direct", "mq", "ratio", "dtc", "ratio"
  for (k = 1; k <= keys; k++) {
    key = order[k]
    split(key, part, SUBSEP)
    line = sprintf("%-12s %7s %12.1f", part[1], part[2], median(tps[key, "direct"]))
    split("mq dtc", tms, " ")
    for (t = 1; t <= 2; t++) {
      ratios = ""
      for (r = 0; r < rounds; r++)
        if (run[key, "direct", r] > 0 && (key, tms[t], r) in run)
          ratios = ratios " " run[key, tms[t], r] / run[key, "direct", r]
      line = line sprintf(" %12.1f %7.3f", median(tps[key, tms[t]]), ratios == "" ? 0 : median(ratios))
    }
    print line
  }
  if (!withCpu) exit
  printf "\nprocessor time per transaction, whole machine (us, median)\n"
  printf "%-12s %7s %12s %12s %12s\n", "setting", "threads", "direct", "mq", "dtc"
  for (k = 1; k <= keys; k++) {
    key = order[k]
    split(key, part, SUBSEP)
    printf "%-12s %7s %12.0f %12.0f %12.0f\n", part[1], part[2], median(cpu[key, "direct"]),
      median(cpu[key, "mq"]), median(cpu[key, "dtc"])
  }
}'

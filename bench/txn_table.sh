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
  # The switches after direct: mq and dtc, and dtc-spin0 when the runs have it.
  split("mq dtc", tms, " ")
  n = 2
  for (key in seen) if ((key, "dtc-spin0") in tps) n = 3
  if (n == 3) tms[3] = "dtc-spin0"
  header = sprintf("%-12s %7s %12s", "setting", "threads", "direct")
  for (t = 1; t <= n; t++) header = header sprintf(" %12s %7s", tms[t], "ratio")
  print header
  for (k = 1; k <= keys; k++) {
    key = order[k]
    split(key, part, SUBSEP)
    line = sprintf("%-12s %7s %12.1f", part[1], part[2], median(tps[key, "direct"]))
    for (t = 1; t <= n; t++) {
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
  header = sprintf("%-12s %7s %12s", "setting", "threads", "direct")
  for (t = 1; t <= n; t++) header = header sprintf(" %12s", tms[t])
  print header
  for (k = 1; k <= keys; k++) {
    key = order[k]
    split(key, part, SUBSEP)
    line = sprintf("%-12s %7s %12.0f", part[1], part[2], median(cpu[key, "direct"]))
    for (t = 1; t <= n; t++) line = line sprintf(" %12.0f", median(cpu[key, tms[t]]))
    print line
  }
}'

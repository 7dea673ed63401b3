#!/usr/bin/env bash
# What a headless run costs beside the least a client can do, on loopback in
# a private network against the bundled Time server: kronsec --headless (a
# cycle with three calibrations, report-only), a bare C client making the
# same four queries (bare_query.c) and rdate -p, which makes one query.
# For each, the median of RUNS runs (run_cost.c, the three by turns) of: the time from process
# start to its first line (kronsec and the bare client print after their
# fourth answer, rdate after its one), the whole run to its exit, the CPU
# (user + system) and the peak resident memory; for kronsec also how often
# the run opens its orv.ini (strace). Then the ratios the run is held to:
# CPU against the bare client's, and start to the fourth answer against
# four rdate runs. Run by hand: figures move with the machine's load, so
# compare rows measured together.
# Usage: [KRONSEC=BINARY] tools/bench/query_overhead.sh [RUNS]
# (BINARY: build/native/kronsec by default; rdate and strace for their rows)
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/netns.sh
runs=${1:-200}
work=$(mktemp -d /tmp/kronsec-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/bare_query" tools/bench/bare_query.c
cc -O2 -o "$work/run_cost" tools/bench/run_cost.c
mkdir -p "$work/kronsec"
printf '[kronsec]\nhost=127.0.0.1\nTZ=xST0\nuseTZ=0\nattempts=3\nreportOnly=1\n' > "$work/kronsec/orv.ini"

in_private_network bash -c '
  work=$1 runs=$2
  export XDG_CONFIG_HOME=$work
  build/native/timeserver --port 37 --quiet &
  server=$!
  sleep 0.3
  kronsec=("${KRONSEC:-build/native/kronsec}" --headless)
  "${kronsec[@]}" </dev/null >/dev/null  # the first run fills orv.ini in
  labels=(bare_query kronsec)
  commands=("$work/bare_query" -- "${kronsec[@]}")
  if command -v rdate >/dev/null; then labels+=(rdate); commands+=(-- rdate -p 127.0.0.1)
  else echo "rdate: not installed (apt-get install rdate)"; fi
  "$work/run_cost" "$runs" "${commands[@]}" > "$work/costs"
  printf "%-12s %9s %9s %9s %9s   (median of %s runs)\n" "" "answer ms" "whole ms" "CPU ms" "RSS KiB" "$runs"
  i=0
  while read -r first whole cpu rss; do
    printf "%-12s %9s %9s %9s %9s\n" "${labels[i]}" "$first" "$whole" "$cpu" "$rss"
    echo "$first $cpu" > "$work/row.${labels[i]}"
    i=$((i + 1))
  done < "$work/costs"
  if command -v strace >/dev/null; then
    strace -f -e trace=openat,open -o "$work/opens" "${kronsec[@]}" </dev/null >/dev/null
    echo "kronsec opens orv.ini $(grep -c "/orv\.ini\"" "$work/opens") times"
  else echo "orv.ini opens: strace is not installed"; fi
  kill $server
  ratio() { awk -v a="$1" -v b="$2" -v k="${3:-1}" "BEGIN { printf \"%.2f\", a / (b * k) }"; }
  read -r _ bare_cpu < "$work/row.bare_query"
  read -r kron_first kron_cpu < "$work/row.kronsec"
  echo "kronsec CPU / bare client CPU: $(ratio "$kron_cpu" "$bare_cpu")"
  if [ -f "$work/row.rdate" ]; then
    read -r rdate_first _ < "$work/row.rdate"
    echo "kronsec start to 4th answer / (4 x rdate -p): $(ratio "$kron_first" "$rdate_first" 4)"
  fi
' bench "$work" "$runs"

#!/usr/bin/env bash
# Measures, on loopback in a private network, the time from process start to
# the final answer of a cycle with three calibrations, for kronsec and for a
# bare C client making the same four queries, and kronsec's whole headless run
# to its exit (well under a second: it ends with its dialog, without the
# 5-second caption display of a screen). Prints the median of N runs.
# Usage: tools/bench/query_overhead.sh [RUNS]   (needs build/native built)
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/netns.sh
runs=${1:-20}
work=$(mktemp -d /tmp/kronsec-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/bare_query" tools/bench/bare_query.c
mkdir -p "$work/kronsec"
printf '[kronsec]\nhost=127.0.0.1\nTZ=xST0\nuseTZ=0\nattempts=3\nreportOnly=1\n' > "$work/kronsec/orv.ini"

in_private_network bash -c '
  work=$1 runs=$2
  build/native/timeserver --port 37 --quiet &
  server=$!
  sleep 0.3
  # Milliseconds from start until the program prints its first line: the
  # bare client prints after its fourth answer, kronsec its result lines.
  first_line_ms() {
    local start end pid
    rm -f "$work/fifo"; mkfifo "$work/fifo"
    start=$(date +%s%N)
    "$@" >"$work/fifo" &
    pid=$!
    { read -r _; end=$(date +%s%N); kill -TERM $pid 2>/dev/null || true; cat >/dev/null; } <"$work/fifo"
    wait $pid 2>/dev/null || true
    echo $(( (end - start) / 1000000 ))
  }
  median() { sort -n | awk "{a[NR]=\$1} END {print a[int((NR+1)/2)]}"; }
  for i in $(seq "$runs"); do first_line_ms "$work/bare_query"; done | median > "$work/bare"
  for i in $(seq "$runs"); do XDG_CONFIG_HOME=$work first_line_ms build/native/kronsec </dev/null; done | median > "$work/kronsec.ms"
  whole_run_ms() {
    local start
    start=$(date +%s%N)
    XDG_CONFIG_HOME=$work build/native/kronsec --headless </dev/null >/dev/null
    echo $(( ($(date +%s%N) - start) / 1000000 ))
  }
  for i in $(seq "$runs"); do whole_run_ms; done | median > "$work/whole.ms"
  kill $server
  echo "bare C client, 4 queries:      $(cat "$work/bare") ms (median of $runs)"
  echo "kronsec, start to final answer: $(cat "$work/kronsec.ms") ms (median of $runs)"
  echo "kronsec --headless, whole run:  $(cat "$work/whole.ms") ms (median of $runs)"
' bench "$work" "$runs"

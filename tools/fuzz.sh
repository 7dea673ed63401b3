#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for SECONDS (default
# 30) on a copy of its seed corpus, tests/fuzz/corpus/TARGET, so the seeds
# stay as committed. Prints one line per target; fails when any target
# crashes or breaks an invariant, keeping the input and the log in
# build/fuzz/findings.
#
#   tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
case $seconds in
  '' | *[!0-9]* | 0) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac

# The settings targets save orv.ini at every run: in memory that costs no
# disk syncs.
base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/kronsec-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT

if ! { cmake --preset fuzz && cmake --build --preset fuzz; } >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi
findings=build/fuzz/findings
mkdir -p "$findings"

# The last value libFuzzer printed for a "name: value" pair in its log.
logged() { grep -o "$1: *[0-9]*" "$2" | tail -n 1 | grep -o '[0-9]*$' || echo "?"; }

failed=0
for seeds in tests/fuzz/corpus/*/; do
  target=$(basename "$seeds")_fuzz
  corpus=$work/$target
  log=$work/$target.log
  cp -r "$seeds" "$corpus"
  start=$SECONDS
  if TMPDIR=$work "build/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings/$target-" "$corpus" >"$log" 2>&1; then
    echo "$target: ok, $(logged number_of_executed_units "$log") runs in $((SECONDS - start)) s" \
      "($(logged average_exec_per_sec "$log")/s), cov $(logged cov "$log"), ft $(logged ft "$log")," \
      "corpus $(find "$corpus" -type f | wc -l) inputs"
  else
    failed=1
    cp "$log" "$findings/$target.log"
    why=$(grep -m 1 -E 'invariant broken|ERROR: ' "$log" || echo "no sanitizer report")
    echo "$target: FAILED after $((SECONDS - start)) s: $why (see $findings/)"
  fi
done
exit "$failed"

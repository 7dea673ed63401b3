#!/usr/bin/env bash
# The timings the unit tests record but do not bound (on a loaded machine a
# near bound only makes them flaky; their asserted limits are ten times these
# figures or none): each test below RUNS times, then the median and the
# largest of each step, in milliseconds.
# Usage: tools/bench/test_timings.sh [BUILD_DIR [RUNS]]   (default build/native, 5)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/native}
runs=${2:-5}
tests=$build/kronsec_tests
[ -x "$tests" ] || { echo "no $tests: cmake --preset native && cmake --build --preset native" >&2; exit 1; }
work=$(mktemp -d /tmp/kronsec-timings-XXXXXX)
trap 'rm -rf "$work"' EXIT

# test | its recorded step | what the step does
rows=$(cat <<'ROWS'
IniFileTest.TenMegabyteFile|read_ms|two reads from a 10 MB orv.ini, one in its last section
IniFileTest.TenMegabyteFile|replace_ms|a key of its last section replaced
IniFileTest.TenMegabyteFile|add_ms|a key added to an early section
IniFileTest.TenMegabyteFile|remove_and_restore_ms|that key removed, the first one put back
TimeServer.RealOffsetAndDelayedValues|delayed_answer_ms|connect to answer, the answer delayed 300 ms
TimeServer.SilentConnectionDoesNotBlockTheNext|answer_beside_waiting_ms|connect to answer beside a silent and a delayed connection
TimeServer.StopIsPromptWithOpenConnections|stop_ms|stop() with two connections open
ROWS
)

filter=$(cut -d '|' -f 1 <<<"$rows" | sort -u | paste -sd :)
for run in $(seq "$runs"); do
  "$tests" --gtest_filter="$filter" --gtest_output="xml:$work/run$run.xml" >"$work/run.log" 2>&1 ||
    { echo "run $run of the tests failed:" >&2; cat "$work/run.log" >&2; exit 1; }
done

# One line "TEST STEP MS" per recorded step of every run.
awk '
  /<testcase / {
    match($0, / name="[^"]*"/); name = substr($0, RSTART + 7, RLENGTH - 8)
    match($0, / classname="[^"]*"/); suite = substr($0, RSTART + 12, RLENGTH - 13)
  }
  /<property / {
    match($0, / name="[^"]*"/); step = substr($0, RSTART + 7, RLENGTH - 8)
    match($0, / value="[^"]*"/); print suite "." name, step, substr($0, RSTART + 8, RLENGTH - 9)
  }' "$work"/run*.xml >"$work/steps"

echo "median and largest of $runs runs of $tests, in ms"
while IFS='|' read -r test step what; do
  awk -v t="$test" -v s="$step" '$1 == t && $2 == s { print $3 }' "$work/steps" | sort -n |
    awk -v what="$what" '{ v[NR] = $1 } END {
      if (NR == 0) { printf "%-64s not recorded\n", what; exit 1 }
      printf "%-64s %6d %6d\n", what, v[int((NR + 1) / 2)], v[NR] }'
done <<<"$rows"

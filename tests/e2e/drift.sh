#!/usr/bin/env bash
# drift=1 end to end, a day between runs in an afternoon: libfaketime moves
# the time both kronsec and the bundled server see, and strace makes every
# clock call succeed without running it, in a private network whose right to
# set the clock is dropped (checked), so this machine's clock never moves.
# Two precise runs a day apart, the clock 2.592 s slow at the second: the
# kernel is told a frequency correction of +30 ppm (within 2). Two report-
# only runs a day apart, the clock 600 s off at the second: the history
# resets and no frequency is told.
# Usage: drift.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
source tools/netns.sh
preload=$(ls /usr/lib/*/faketime/libfaketimeMT.so.1 2>/dev/null | head -n 1)
[ -n "$preload" ] && command -v strace >/dev/null || { echo "faketime or strace missing: skipped"; exit 77; }
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }

work=$(mktemp -d /tmp/kronsec-drift-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# run CASE SHIFT OFFSET REPORTONLY: one precise run SHIFT (faketime's +1d)
# later, against a server OFFSET seconds ahead; leaves out and calls (the
# clock calls strace saw) in $work/CASE.SHIFT.
run() {
  local dir=$work/$1
  mkdir -p "$dir"
  printf '[kronsec]\nhost=127.0.0.1\nTZ=xST0\nuseTZ=0\nattempts=0\nprecise=1\ndrift=1\nreportOnly=%s\n' "$4" >"$dir/orv.ini"
  in_private_network bash -c '
    dir=$1 build=$2 shift=$3 offset=$4 preload=$5 name=$6
    source tools/netns.sh
    clock_right_dropped || { echo "the right to set the clock is held" >"$dir/notrun"; exit 0; }
    # A sanitized build loads its runtime first of all; libfaketime goes before it.
    export LD_PRELOAD=$preload FAKETIME=$shift ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    $build/timeserver --port 37 --serve "offset:$offset" 2>"$dir/server" & server=$!
    timeserver_listening "$dir/server" $server || exit 1
    XDG_STATE_HOME=$dir/state strace -f -qq -o "$dir/calls.$name" -e trace=clock_settime,clock_adjtime,adjtimex \
      -e inject=clock_settime,clock_adjtime,adjtimex:retval=0 \
      $build/kronsec --headless --no-save -c "$dir" </dev/null >"$dir/out.$name" 2>&1 || true
    kill $server; wait $server 2>/dev/null || true
  ' run "$dir" "$build" "$2" "$3" "$preload" "${2#+}" || fail "$1: the server did not start"
  [ ! -e "$dir/notrun" ] || fail "$1: not run: $(cat "$dir/notrun")"
}

# The frequencies (ppm) the kernel was told in a run's calls.
told() { sed -n 's/.*modes=ADJ_FREQUENCY, offset=0, freq=\(-\{0,1\}[0-9]*\).*/\1/p' "$1" | awk '{ printf "%.3f\n", $1 / 65536 }'; }

run learn +0 0 0
run learn +1d 2.592 0
ppm=$(told "$work/learn/calls.1d")
awk -v p="$ppm" 'BEGIN { exit !(p != "" && p >= 28 && p <= 32) }' ||
  fail "learn: told '$ppm' ppm, not 30 within 2: $(cat "$work/learn/out.1d")"
grep -q '^Drift: *-[0-9.]* ppm (2 runs), kernel told$' "$work/learn/out.1d" || fail "learn: $(cat "$work/learn/out.1d")"
[ -z "$(told "$work/learn/calls.0")" ] || fail "learn: a frequency told at the first run"

run moved +0 0 1
run moved +1d 600 1
grep -q '^Drift: *reset: the clock was moved between runs$' "$work/moved/out.1d" ||
  fail "moved: $(cat "$work/moved/out.1d")"
[ -z "$(told "$work/moved/calls.1d")" ] || fail "moved: a frequency was told: $(told "$work/moved/calls.1d")"

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "drift: all cases passed (told $ppm ppm)"

#!/usr/bin/env bash
# The real Linux binary, headless and report-only, against files that are not
# what they seem: a settings file that cannot be read, a log path that is a
# FIFO, a TZ text that holds a line break. Each case runs in a private network
# namespace of its own with the bundled Time server on 127.0.0.1:37, the right
# to set the clock dropped and checked gone.
# Usage: linux_files.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
source tools/netns.sh
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }
command -v strace >/dev/null || { echo "FAIL: strace is needed to count a run's reads of orv.ini" >&2; exit 1; }

work=$(mktemp -d /tmp/kronsec-files-XXXXXX)
holders=()  # the lock holders this script started, ended by their PIDs
trap 'for h in "${holders[@]}"; do kill "$h" 2>/dev/null || true; done; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# run_case DIR PREFIX [TZ]: in a private network, checks that the right to
# set the clock is gone, starts the server, runs kronsec headless and
# report-only (after the words of PREFIX, if any; with the options in
# $options too, and stopped after $limit s, 20 unless set) with its settings
# in DIR/cfg and the environment's TZ set to
# TZ (unset when there is none), and leaves out, err, status, ms (its wall
# time) and server in DIR.
run_case() {
  in_private_network bash -c '
    dir=$1 build=$2 prefix=$3 options=$4
    for set in CapEff CapPrm CapBnd CapAmb; do
      mask=$(awk -v k="$set:" "\$1 == k { print \$2 }" /proc/self/status)
      if (( (16#$mask >> 25) & 1 )); then echo "clock right held ($set=$mask)" >"$dir/notrun"; exit 0; fi
    done
    zone=(-u TZ); [ $# -lt 5 ] || zone=("TZ=$5")
    $build/timeserver --port 37 2>"$dir/server" &
    server=$!
    source tools/netns.sh
    why=$(timeserver_listening "$dir/server" $server 2>&1) || { echo "$why" >"$dir/notrun"; kill $server 2>/dev/null; exit 0; }
    start=$(date +%s%N)
    status=0
    timeout ${limit:-20} $prefix env "${zone[@]}" $build/kronsec --headless -p -c "$dir/cfg" $options \
      </dev/null >"$dir/out" 2>"$dir/err" || status=$?
    echo $(( ($(date +%s%N) - start) / 1000000 )) >"$dir/ms"
    echo $status >"$dir/status"
    { kill -TERM $server; wait $server; } 2>/dev/null || true
  ' run "$1" "$build" "$2" "${options:-}" "${@:3}"
}

# hold_lock DIR: another process takes the lock on DIR/cfg and keeps it
# (flock without a fork of its own, so its PID is the holder's); its PID in
# DIR/holder once the lock is held.
hold_lock() {
  flock -F "$1/cfg" sleep 300 &
  local holder=$!
  holders+=("$holder")
  while flock -n "$1/cfg" true; do sleep 0.05; done
  echo $holder >"$1/holder"
}

connections() { grep -c ' from 127.0.0.1:' "$1/server" || true; }

# What a run must leave alone in the settings folder: every entry, its kind,
# permissions, size and times.
snapshot() { (cd "$1/cfg" && find . -printf '%p %y %m %s %T@ %l\n' | sort); }

valid=(host=127.0.0.1 TZ=xST0 useTZ=0 attempts=0)
writeSettings() { mkdir -p "$1"; { echo "[kronsec]"; printf '%s\n' "${@:2}"; } >"$1/orv.ini"; }

# Without the right to bypass file permissions, root too is refused a file
# that grants nobody reading.
nodac=(setpriv --bounding-set -dac_override,-dac_read_search)
"${nodac[@]}" true 2>/dev/null || nodac=()

# name | file | what is put there | the stderr line (a pattern; @ is the
# settings folder)
table=$(cat <<'ROWS'
folder|orv.ini|mkdir @/orv.ini|kronsec: @/orv.ini: is a directory, not a file
fifo|orv.ini|mkfifo @/orv.ini|kronsec: @/orv.ini: is a FIFO, not a file
device|orv.ini|ln -s /dev/zero @/orv.ini|kronsec: @/orv.ini: is a device, not a file
denied|orv.ini|printf '[kronsec]\nreportOnly=1\n' >@/orv.ini; chmod 000 @/orv.ini|kronsec: @/orv.ini: cannot be read: Permission denied
ioerror|orv.ini|ln -s /proc/self/mem @/orv.ini|kronsec: @/orv.ini: cannot be read: Input/output error
system|win.ini|mkfifo @/win.ini|kronsec: @/win.ini: is a FIFO, not a file
ROWS
)

echo "== every case at once, each in its own private network"
while IFS='|' read -r name file make expected; do
  dir=$work/$name
  mkdir -p "$dir/cfg"
  [ "$file" = orv.ini ] || writeSettings "$dir/cfg" "${valid[@]}"
  eval "${make//@/\$dir/cfg}"
  snapshot "$dir" >"$dir/before"
  prefix=; [ "$name" != denied ] || prefix="${nodac[*]}"
  if [ "$name" = denied ] && [ -z "$prefix" ]; then
    echo "denied: skipped, setpriv cannot drop the right to bypass file permissions"
    touch "$dir/skipped"
    continue
  fi
  run_case "$dir" "$prefix" &
done <<<"$table"

logs=$work/logfifo
writeSettings "$logs/cfg" logOpts=1 "logPath=$logs/cfg/k.log" "${valid[@]}"
mkfifo "$logs/cfg/k.log"
run_case "$logs" "" &

# A settings file its owner made read-only.
readonly=$work/readonly
writeSettings "$readonly/cfg" "${valid[@]}"
chmod 444 "$readonly/cfg/orv.ini"
cp "$readonly/cfg/orv.ini" "$readonly/orv.before"
run_case "$readonly" "" &

# --no-save: a settings file that would change, a killed save's leftover
# and a dangling link to win.ini, all left exactly as they were; it takes
# no lock, so another process's lock does not hold it up.
nosave=$work/nosave
writeSettings "$nosave/cfg" "${valid[@]}"
touch "$nosave/cfg/.orv.ini.a1B2c3"
ln -s elsewhere.ini "$nosave/cfg/win.ini"
hold_lock "$nosave"
snapshot "$nosave" >"$nosave/before"
options=--no-save run_case "$nosave" "" &

# Another process holds the settings folder's lock: the run waits 10 s for
# it, then says so and saves nothing; SIGTERM during the wait ends the run
# within a second. Each settings folder has something a save would change
# (win.ini is missing, orv.ini lacks most keys).
locked=$work/locked
writeSettings "$locked/cfg" "${valid[@]}"
hold_lock "$locked"
snapshot "$locked" >"$locked/before"
limit=100 run_case "$locked" "" &
lockterm=$work/lockterm
writeSettings "$lockterm/cfg" "${valid[@]}"
hold_lock "$lockterm"
snapshot "$lockterm" >"$lockterm/before"
run_case "$lockterm" "timeout -s TERM --preserve-status 3" &

# Three runs in a row with a line break in the inherited TZ.
zone=$work/zone
writeSettings "$zone/cfg" host=127.0.0.1 useTZ=1 attempts=0
(for run in 1 2 3; do
   run_case "$zone" "" $'EST5EDT\nuseDST=0'
   cp "$zone/status" "$zone/status.$run"
   wc -l <"$zone/cfg/orv.ini" >"$zone/lines.$run"
 done) &
# Every run, but not the lock holders, which keep their locks until the end.
for job in $(jobs -p); do
  [[ " ${holders[*]} " == *" $job "* ]] || wait "$job" || true
done

# A run with a mistake in its settings, its opens of files traced (after the
# others, whose times it would slow): the warning still comes first, and
# orv.ini is read once to load (the check shares that read) and once under
# the lock to save. LeakSanitizer cannot run under a tracer.
reads=$work/reads
writeSettings "$reads/cfg" report_only=1 "${valid[@]}"
run_case "$reads" "strace -f -e trace=openat,open -o $reads/opens env ASAN_OPTIONS=detect_leaks=0"

echo "== an unusable settings file stops the run before it asks or writes"
while IFS='|' read -r name file make expected; do
  dir=$work/$name
  [ ! -e "$dir/skipped" ] || continue
  if [ -e "$dir/notrun" ]; then fail "$name: not run, $(cat "$dir/notrun")"; continue; fi
  expected=${expected//@/$dir/cfg}
  [ "$(cat "$dir/status")" = 1 ] || fail "$name: exit status $(cat "$dir/status"), expected 1"
  [ "$(cat "$dir/err")" = "$expected" ] || fail "$name: stderr '$(cat "$dir/err")', expected '$expected'"
  [ ! -s "$dir/out" ] || fail "$name: printed: $(cat "$dir/out")"
  [ "$(connections "$dir")" = 0 ] || fail "$name: the server was asked: $(cat "$dir/server")"
  snapshot "$dir" | diff "$dir/before" - >/dev/null || fail "$name: the settings folder changed"
done <<<"$table"

echo "== a FIFO as the log path fails the line at once"
expected="kronsec: Log Error: Error writing to log file $logs/cfg/k.log"
[ "$(cat "$logs/status")" = 5 ] || fail "logfifo: exit status $(cat "$logs/status"), expected 5"
[ "$(head -n 1 "$logs/err")" = "$expected" ] || fail "logfifo: stderr '$(cat "$logs/err")'"
# A FIFO with no reader would hold the run for good; a run takes about 0.1 s,
# several times that under a sanitizer beside the other cases.
[ "$(cat "$logs/ms")" -lt 5000 ] || fail "logfifo: the run took $(cat "$logs/ms") ms"
[ -p "$logs/cfg/k.log" ] || fail "logfifo: the FIFO was replaced"
grep -q '^useCustom=0' "$logs/cfg/orv.ini" || fail "logfifo: settings not saved"

echo "== a read-only settings file stays as it was, and the lost save is told"
expected="kronsec: could not save $readonly/cfg/orv.ini: the file is read-only"
[ "$(cat "$readonly/status")" = 0 ] || fail "readonly: exit status $(cat "$readonly/status")"
[ "$(cat "$readonly/err")" = "$expected" ] || fail "readonly: stderr '$(cat "$readonly/err")'"
cmp -s "$readonly/orv.before" "$readonly/cfg/orv.ini" || fail "readonly: orv.ini changed"

echo "== --no-save answers and leaves every settings file as it was"
[ "$(cat "$nosave/status")" = 0 ] || fail "nosave: exit status $(cat "$nosave/status"): $(cat "$nosave/err")"
[ ! -s "$nosave/err" ] || fail "nosave: stderr: $(cat "$nosave/err")"
grep -q '^Date: ' "$nosave/out" || fail "nosave: no result printed"
snapshot "$nosave" | diff "$nosave/before" - >&2 || fail "nosave: the settings folder changed"
[ "$(cat "$nosave/ms")" -lt 5000 ] || fail "nosave: waited $(cat "$nosave/ms") ms, for the lock?"

echo "== a lock another process keeps: 10 s, one line, status 1, nothing saved"
echo "   (stopped during the wait: the result told, its status, settings not saved)"
for dir in "$locked" "$lockterm"; do
  holder=$(cat "$dir/holder")
  kill "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  expected="kronsec: another process (PID $holder) holds the lock on $dir/cfg: nothing was saved"
  want=1; [ "$dir" = "$lockterm" ] && want=0
  [ "$(cat "$dir/status")" = $want ] || fail "$(basename "$dir"): exit status $(cat "$dir/status"): $(cat "$dir/err")"
  grep -q '^Date: ' "$dir/out" || fail "$(basename "$dir"): no result printed: $(cat "$dir/out")"
  grep -qxF "$expected" "$dir/err" || fail "$(basename "$dir"): stderr '$(cat "$dir/err")', expected '$expected'"
  snapshot "$dir" | diff "$dir/before" - >&2 || fail "$(basename "$dir"): the settings folder changed"
done
echo "locked: the run took $(cat "$locked/ms") ms; stopped during the wait: $(cat "$lockterm/ms") ms after start, SIGTERM at 3000"
[ "$(grep -c . "$locked/err")" = 1 ] || fail "locked: more than the one line: $(cat "$locked/err")"
# The wait is the full 10 s (the process's own limit, never less) ...
[ "$(cat "$locked/ms")" -ge 10000 ] || fail "locked: gave up after $(cat "$locked/ms") ms"
# ... and SIGTERM at 3 s ends it in well under a second.
[ "$(cat "$lockterm/ms")" -lt 4000 ] || fail "lockterm: SIGTERM at 3 s, the run ended after $(cat "$lockterm/ms") ms"
grep -qx 'kronsec: stopped by SIGTERM; settings not saved' "$lockterm/err" || fail "lockterm: stderr '$(cat "$lockterm/err")'"

echo "== a run reads orv.ini twice: to load it, and under the lock to save it"
[ "$(cat "$reads/status")" = 0 ] || fail "reads: exit status $(cat "$reads/status"): $(cat "$reads/err")"
head -n 1 "$reads/err" | grep -q "orv.ini:2: report_only is not a key kronsec reads" ||
  fail "reads: stderr begins '$(head -n 1 "$reads/err")'"
[ "$(grep -c '/orv\.ini"' "$reads/opens")" = 2 ] || fail "reads: orv.ini opened: $(grep '/orv\.ini"' "$reads/opens")"

echo "== a line break in TZ never reaches the settings file"
for run in 1 2 3; do
  [ "$(cat "$zone/status.$run")" = 0 ] || fail "zone: run $run exit status $(cat "$zone/status.$run")"
done
[ "$(cat "$zone/lines.1")" = "$(cat "$zone/lines.3")" ] && [ "$(cat "$zone/lines.2")" = "$(cat "$zone/lines.3")" ] ||
  fail "zone: orv.ini grew: $(cat "$zone"/lines.*) lines"
! grep -qx 'useDST=0' "$zone/cfg/orv.ini" || fail "zone: a line was injected: $(cat "$zone/cfg/orv.ini")"
! grep -qx 'useDST=0' "$zone/out" || fail "zone: the result printed a line of its own: $(cat "$zone/out")"
grep -qx 'TZ=EST5EDT' "$zone/cfg/orv.ini" || fail "zone: TZ written as: $(grep -i '^tz=' "$zone/cfg/orv.ini")"

[ $failures = 0 ] || { echo "linux_files: $failures failed" >&2; exit 1; }
echo "linux_files: all passed"

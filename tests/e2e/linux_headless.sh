#!/usr/bin/env bash
# The real Linux binaries end to end, headless (as from cron), each case in a
# private network namespace of its own with the bundled Time server on
# 127.0.0.1:37. Inside, the right to set the clock is dropped, and every case
# checks that it really is gone before kronsec runs: the rows that run with
# report-only off cannot move this machine's clock.
# Usage: linux_headless.sh BUILD_DIR
set -euo pipefail
shopt -s extglob
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
source tools/netns.sh
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }
command -v nft >/dev/null || { echo "FAIL: nft (nftables) is needed for the black-hole cases" >&2; exit 1; }

work=$(mktemp -d /tmp/kronsec-e2e-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# settings NAME KEY=VALUE...: a fresh settings folder with these keys; of a
# key given more than once the first stays (a run would warn of the others).
settings() {
  local dir=$work/$1; shift
  mkdir -p "$dir"
  { echo "[kronsec]"; printf '%s\n' "$@" | awk -F= '!seen[tolower($1)]++'; } > "$dir/orv.ini"
  echo "$dir"
}

# run_case DIR SERVER_ARGS KRONSEC_ARGS [SIGNAL]: in a private network,
# checks that the right to set the clock is gone, starts the server (unless
# SERVER_ARGS is "none"; "blackhole" drops every connection request to port 37
# instead), runs kronsec headless with its settings in DIR (sending it SIGTERM
# once it is connecting when SIGNAL is set) and leaves out, err, status, ms
# (its wall time) and server there; or, when it cannot run the case as asked,
# the reason in notrun.
run_case() {
  in_private_network bash -c '
    dir=$1 build=$2 serverArgs=$3 kronsecArgs=$4 signal=$5 journal=$6
    source tools/netns.sh
    # stderr as the journal hands it over: JOURNAL_STREAM names the stream.
    : >"$dir/err"
    [ -z "$journal" ] || export JOURNAL_STREAM=$(stat -c %d:%i "$dir/err")
    for set in CapEff CapPrm CapBnd CapAmb; do
      mask=$(awk -v k="$set:" "\$1 == k { print \$2 }" /proc/self/status)
      if (( (16#$mask >> 25) & 1 )); then echo "clock right held ($set=$mask)" >"$dir/notrun"; exit 0; fi
    done
    if [ "$serverArgs" = blackhole ]; then
      nft add table inet hole
      nft add chain inet hole out "{ type filter hook output priority 0; }"
      nft add rule inet hole out tcp dport 37 tcp flags syn drop
    elif [ "$serverArgs" != none ]; then
      $build/timeserver --port 37 $serverArgs 2>"$dir/server" &
      server=$!
      why=$(timeserver_listening "$dir/server" $server 2>&1) || { echo "$why" >"$dir/notrun"; kill $server 2>/dev/null; exit 0; }
    fi
    start=$(date +%s%N)
    timeout 60 env -u TZ $build/kronsec --headless -c "$dir" $kronsecArgs </dev/null >"$dir/out" 2>>"$dir/err" &
    client=$!
    if [ -n "$signal" ]; then
      # Its SYN is dropped, so once it is sent kronsec waits in the connect.
      deadline=$((SECONDS + 10))
      until [ -n "$(ss -Htn state syn-sent "( dport = :37 )")" ]; do
        [ $SECONDS -lt $deadline ] || { echo "kronsec was not connecting 10 s after its start" >"$dir/notrun"; break; }
        sleep 0.05
      done
      kill -TERM $client
    fi
    status=0; wait $client || status=$?
    echo $(( ($(date +%s%N) - start) / 1000000 )) >"$dir/ms"
    echo $status >"$dir/status"
    [ -z "${server:-}" ] || { kill -TERM $server; wait $server; } 2>/dev/null || true
  ' run "$1" "$build" "$2" "$3" "${4:-}" "${5:-}"
}

base=(host=127.0.0.1 TZ=xST0 useTZ=0 attempts=0)
# name | status | server | kronsec options | settings over the base ("@" is the
# case's folder) | first stderr line (a pattern; "" = none at all)
table=$(cat <<'ROWS'
real|0|--serve real|-p|attempts=3 logOpts=2 logPath=@/k.log|
refused|1|none|-p||kronsec: Winsock Error: could not connect to host 127.0.0.1 (10061) The attempt to connect was refused
journal|1|none|-p||<3>kronsec: Winsock Error: could not connect to host 127.0.0.1 (10061) The attempt to connect was refused
unknown|1|none|-p -H nosuch.invalid||kronsec: Winsock Error: nosuch.invalid: unknown host (1100[12]) unknown error
silent|1|--serve silent|-p||kronsec: Winsock Error: no answer from host 127.0.0.1 (10060) Attempt to connect timed out
short|1|--serve short:2|-p||kronsec: Winsock Error: no answer from host 127.0.0.1 (%SHORT%)
reset|1|--serve reset|-p||kronsec: Winsock Error: no answer from host 127.0.0.1 (10054) The virtual circuit was reset by the remote side
held|4|--serve offset:100||maxAdjust=60 adjOpt=1 reportOnly=0|kronsec: 127.0.0.1 is 100 s ahead, over maxAdjust=60: clock left alone
heldjson|4|--serve offset:3600|--json|maxAdjust=60 adjOpt=1 reportOnly=0|kronsec: 127.0.0.1 is 3600 s ahead, over maxAdjust=60: clock left alone
cancel|4|--serve offset:-100||maxAdjust=60 adjOpt=0 reportOnly=0|kronsec: 127.0.0.1 is 100 s behind, over maxAdjust=60: clock left alone (the question was answered Cancel)
notz|1|none|-p|TZ= |kronsec: @/orv.ini: the file has no TZ text, and the environment has no TZ: *
ipv6|1|none|-p|host=[::1]|kronsec: Winsock Error: could not connect to host \[::1\] (10061) The attempt to connect was refused
family|1|none|-p -6|host=127.0.0.1|kronsec: kronsec Error: 127.0.0.1 is an IPv4 address, and family=6 (-6) limits this run to IPv6. The clock was not changed.
nolog|5|--serve real|-p|logOpts=1 logPath=@/missing/k.log|kronsec: Log Error: Error writing to log file @/missing/k.log
noright|3|--serve offset:100||reportOnly=0 logOpts=1 logPath=@/k.log|kronsec: kronsec Error: Error setting system time
noanswer|1|blackhole|-p||kronsec: Winsock Error: could not connect to host 127.0.0.1 (10060) Attempt to connect timed out
term|1|blackhole|-p||kronsec: stopped by SIGTERM
words|0|--serve offset:5||reportOnly=true logOpts=1 logPath=@/k.log|kronsec: @/orv.ini:2: reportOnly=true is not a number: kronsec reads it as 1 (on: the clock is never set)
misspelt|3|--serve offset:100||report_only=1|kronsec: @/orv.ini:2: report_only is not a key kronsec reads: did you mean reportOnly?
runonly|0|--serve real|-p -H 127.0.0.1|host=127.0.0.9 reportOnly=0 logOpts=1 logPath=@/k.log|
ROWS
)

echo "== every case at once, each in its own private network"
while IFS='|' read -r name status server options keys expected; do
  dir=$work/$name
  # shellcheck disable=SC2086
  settings "$name" ${keys//@/$dir} "${base[@]}" >/dev/null  # the first of a key wins
  signal=; [ "$name" = term ] && signal=1
  journal=; [ "$name" = journal ] && journal=1
  run_case "$dir" "$server" "$options" "$signal" "$journal" &
done <<<"$table"
wait

while IFS='|' read -r name status server options keys expected; do
  dir=$work/$name
  expected=${expected//@/$dir}
  # The server writes its two bytes and closes: kronsec reads on to the close.
  expected=${expected//%SHORT%/the server closed the connection after 2 bytes}
  if [ -e "$dir/notrun" ]; then fail "$name: not run, $(cat "$dir/notrun")"; continue; fi
  got=$(cat "$dir/status")
  [ "$got" = "$status" ] || fail "$name: exit status $got, expected $status; stderr: $(cat "$dir/err")"
  first=$(head -n 1 "$dir/err")
  if [ -z "$expected" ]; then
    [ ! -s "$dir/err" ] || fail "$name: unexpected stderr: $(cat "$dir/err")"
  else
    # shellcheck disable=SC2053
    [[ "$first" == $expected ]] || fail "$name: stderr line: '$first', expected '$expected'"
  fi
  # A result is printed only when there is one.
  if [[ $options == *--json* ]]; then
    grep -q "^{\"status\":$status," "$dir/out" || fail "$name: not one JSON object: $(cat "$dir/out")"
  elif [ "$status" = 0 ] || [ "$status" -ge 3 ]; then
    grep -q '^Date: ' "$dir/out" || fail "$name: no result printed: $(cat "$dir/out")"
  else
    [ ! -s "$dir/out" ] || fail "$name: a result printed without an answer: $(cat "$dir/out")"
  fi
  grep -q '^useCustom=0' "$dir/orv.ini" || fail "$name: settings not saved"
done <<<"$table"

echo "== what was done with the clock, in the summary"
while IFS='|' read -r name action; do
  grep -qxF "Action:   $action" "$work/$name/out" || fail "$name: no 'Action:   $action' in: $(cat "$work/$name/out")"
done <<'ROWS'
real|report
held|held back (over maxAdjust=60; Ignore)
cancel|not set (the question was answered Cancel)
noright|not set (setting the clock failed)
words|report
misspelt|not set (setting the clock failed)
ROWS
grep -qxF 'kronsec: Operation not permitted: setting the clock needs root or CAP_SYS_TIME' "$work/noright/err" ||
  fail "noright: the reason is not said: $(cat "$work/noright/err")"
! grep -q 'Winsock\|10004' "$work/term/err" || fail "term: a Winsock line: $(cat "$work/term/err")"
! grep -q 'Big Change' "$work/cancel/err" || fail "cancel: the whole question was printed: $(cat "$work/cancel/err")"
[[ "$(cat "$work/words/k.log")" == *$'\t'report$'\r' ]] || fail "words: log line: $(cat "$work/words/k.log")"

echo "== the cases' own details"
d=$work/real
[ "$(grep -c ' from 127.0.0.1:' "$d/server")" = 4 ] || fail "real: expected 4 connections: $(cat "$d/server")"
line=$(cat "$d/k.log")
[ "$(printf '%s' "$line" | tr -cd '\t' | wc -c)" = 10 ] || fail "real: verbose line needs 10 TABs: $line"
[[ "$line" == 127.0.0.1$'\t'*$'\t'xST0$'\t'*$'\t'report$'\r' ]] || fail "real: log line: $line"
# It ends with its dialog, not after the 5-second caption display of a
# screen; how fast it is lives in tools/bench/query_overhead.sh.
[ "$(cat "$d/ms")" -lt 3000 ] || fail "real: a headless run took $(cat "$d/ms") ms (did it linger?)"
d=$work/notz
# After the settings' warning, one line of advice.
advice="kronsec: no TZ text is known, so no query was made: put TZ=xST"
[ "$(wc -l <"$d/err")" = 2 ] && [[ "$(tail -n 1 "$d/err")" == "$advice"*" and useTZ=0 under [kronsec] in $d/orv.ini ("* ]] ||
  fail "notz: not the warning and one line of advice: $(cat "$d/err")"
# Beside the boxes' table texts, a line that says what happened.
[ "$(sed -n 2p "$work/silent/err")" = "kronsec: 127.0.0.1 took the connection but its answer did not come in time (30 s)" ] ||
  fail "silent: no line says the answer did not come in time: $(cat "$work/silent/err")"
if grep -q '(11002)' "$work/unknown/err"; then
  [[ "$(sed -n 2p "$work/unknown/err")" == "kronsec: the name server could not be reached to look up nosuch.invalid: "* ]] ||
    fail "unknown: no line says the name server could not be reached: $(cat "$work/unknown/err")"
fi
# The run read the file as Windows does: report-only stayed off.
[ "$(wc -l <"$work/misspelt/err")" -ge 2 ] || fail "misspelt: only the warning on stderr: $(cat "$work/misspelt/err")"
d=$work/term
# Signalled during its connect, which would take 21 s if it ignored the signal.
[ "$(cat "$d/ms")" -lt 10000 ] || fail "term: SIGTERM during a connect took $(cat "$d/ms") ms to end"
d=$work/noanswer
# Never before Windows' 21 s; the stderr line tells it from the 30-second
# answer time-out, so the upper bound only catches a hang.
ms=$(cat "$d/ms"); [ "$ms" -ge 20000 ] && [ "$ms" -lt 50000 ] || fail "noanswer: gave up after $ms ms"
d=$work/runonly
[[ "$(cat "$d/k.log")" == *$'\t'report$'\r' ]] || fail "runonly: log line: $(cat "$d/k.log")"
grep -q ' from 127.0.0.1:' "$d/server" || fail "runonly: the given host was not asked"
grep -q '^reportOnly=0$' "$d/orv.ini" && grep -q '^host=127.0.0.9$' "$d/orv.ini" ||
  fail "runonly: run-only values were saved: $(cat "$d/orv.ini")"

echo "== a machine whose clock keeps Madrid's time, place Madrid: Diff 0"
# The place's TZ text says two hours east where Madrid keeps one (or two in
# summer): the clock judged is the kernel's UTC, so a correct clock still
# compares equal.
if [ -f /usr/share/zoneinfo/Europe/Madrid ]; then
  d=$work/madrid
  settings madrid "TZindex=98" "TZ=xST-2xDT" "${base[@]}" >/dev/null
  in_private_network unshare -m --propagation private bash -c '
    mount --bind /usr/share/zoneinfo/Europe/Madrid /etc/localtime || exit 1
    date +%Z >"$2/zone"
    source tools/netns.sh
    $1/timeserver --port 37 --serve real 2>"$2/server" & server=$!
    timeserver_listening "$2/server" $server || { kill $server 2>/dev/null; exit 1; }
    env -u TZ $1/kronsec --headless -p -c "$2" </dev/null >"$2/out" 2>"$2/err"; echo $? >"$2/status"
    kill -TERM $server; wait $server 2>/dev/null' run "$build" "$d" || true
  grep -qE '^CES?T$' "$d/zone" 2>/dev/null || fail "madrid: /etc/localtime was not Madrid's: $(cat "$d/zone" 2>&1)"
  [ "$(cat "$d/status" 2>/dev/null)" = 0 ] || fail "madrid: status $(cat "$d/status" 2>&1): $(cat "$d/err" 2>&1)"
  grep -qx 'Diff:     0 secs' "$d/out" || fail "madrid: $(cat "$d/out" 2>&1)"
else
  fail "madrid: no /usr/share/zoneinfo/Europe/Madrid (the tzdata package)"
fi

echo "== precise mode finds a server's fraction of a second"
# The truth is the server's offset; the bound here is generous (a loaded
# machine may widen the probes' windows), tools/bench/precision.sh measures.
for offset in 0.437 -2.250; do
  d=$work/precise$offset
  settings "precise$offset" "${base[@]}" >/dev/null
  in_private_network bash -c '
    source tools/netns.sh
    $1/timeserver --port 37 --serve offset:$3 2>"$2/server" & server=$!
    timeserver_listening "$2/server" $server || { kill $server 2>/dev/null; exit 1; }
    env -u TZ $1/kronsec --headless -p --precise -c "$2" </dev/null >"$2/out" 2>"$2/err"; echo $? >"$2/status"
    kill -TERM $server; wait $server 2>/dev/null' run "$build" "$d" "$offset" || true
  diff=$(sed -n 's/^Diff: *\(-\{0,1\}[0-9.]*\) secs$/\1/p' "$d/out")
  [ "$(cat "$d/status" 2>/dev/null)" = 0 ] && [ -n "$diff" ] || fail "precise $offset: $(cat "$d/out" "$d/err" 2>&1)"
  # The bound stands on the Net Lag line, where the dialog has room for it.
  grep -qE '^Net Lag: +±[0-9]+\.[0-9] ms$' "$d/out" || fail "precise $offset: no bound on the Net Lag line: $(cat "$d/out")"
  # Diff is local minus server: the negated offset.
  awk -v d="$diff" -v o="$offset" 'BEGIN { e = d + o; if (e < 0) e = -e; exit !(e < 0.050) }' ||
    fail "precise $offset: Diff $diff is more than 50 ms from the truth"
  ! grep -q '^precise=' "$d/orv.ini" || fail "precise $offset: --precise was saved"
done

echo "== what scripts read: the measured difference of a held change, the log's failed, the journal's priorities"
grep -q '"diff":-3600.0,.*"clock":"held"' "$work/heldjson/out" || fail "heldjson: $(cat "$work/heldjson/out")"
grep -q '^Diff: *-100 secs$' "$work/held/out" || fail "held: the Diff line: $(cat "$work/held/out")"
grep -q $'\tfailed\r$' "$work/noright/k.log" || fail "noright: the log line: $(cat -A "$work/noright/k.log")"
! grep -qv '^<[346]>' "$work/journal/err" || fail "journal: a line without its priority: $(cat "$work/journal/err")"
! grep -q '^<' "$work/refused/err" || fail "refused: a priority without the journal: $(cat "$work/refused/err")"

echo "== hostile host names reach neither the log nor stderr raw"
n=0
for host in $'127.0.0.1\tx' $'127.0.0.1 \e[2J' $'no\e[31mx'; do
  n=$((n + 1))
  d=$work/hostile$n
  settings "hostile$n" "logOpts=2" "logPath=$d/k.log" "${base[@]}" >/dev/null
  in_private_network bash -c '
    source tools/netns.sh
    $1/timeserver --port 37 2>"$2/server" & server=$!
    timeserver_listening "$2/server" $server || { kill $server 2>/dev/null; exit 1; }
    env -u TZ $1/kronsec --headless -p -c "$2" -H "$3" </dev/null >"$2/out" 2>"$2/err"
    kill -TERM $server; wait $server 2>/dev/null' run "$build" "$d" "$host" || true
  if [ -e "$d/k.log" ]; then
    [ "$(tr -cd '\t' <"$d/k.log" | wc -c)" = 10 ] || fail "hostile$n: log line has not 11 fields: $(cat -A "$d/k.log")"
    ! grep -q '[[:cntrl:]]' <<<"$(tr -d '\t\r\n' <"$d/k.log")" || fail "hostile$n: a control byte in the log: $(cat -A "$d/k.log")"
  fi
  ! grep -q $'\e' "$d/err" "$d/out" || fail "hostile$n: an escape reached the terminal: $(cat -A "$d/err")"
done
[ -e "$work/hostile1/k.log" ] || fail "hostile: the answered host wrote no log line"
# Two items, one no host: refused before any query, and said without the escape.
grep -q 'is neither a host name nor an address' "$work/hostile2/err" && [ ! -e "$work/hostile2/k.log" ] ||
  fail "hostile2: not refused: $(cat -A "$work/hostile2/err")"

echo "== --help, --version, a mistyped option and --terminal without one touch nothing"
for args in --help --version -V "--hlep" "-p now" "--terminal"; do
  d=$(mktemp -d "$work/flags-XXXXXX")
  rmdir "$d"
  in_private_network bash -c '
    source tools/netns.sh
    $1/timeserver --port 37 2>"$3.server" & server=$!
    timeserver_listening "$3.server" $server || { kill $server 2>/dev/null; exit 1; }
    start=$(date +%s%N)
    TERM=xterm timeout 10 $1/kronsec -c "$3" $2 </dev/null >"$3.out" 2>"$3.err"; echo $? >"$3.status"
    echo $(( ($(date +%s%N) - start) / 1000000 )) >"$3.ms"
    kill %1; wait' run "$build" "$args" "$d"
  want=0; case $args in --hlep|-p*|--terminal) want=2 ;; esac
  [ "$(cat "$d.status")" = $want ] || fail "$args: exit status $(cat "$d.status")"
  [ ! -e "$d" ] || fail "$args: the settings folder was made"
  ! grep -q ' from ' "$d.server" || fail "$args: the server was asked"
  if [ $want = 2 ]; then
    [ "$(head -n 1 "$d.err")" = "kronsec: unknown option '--hlep'" ] ||
      [ "$(head -n 1 "$d.err")" = "kronsec: unexpected argument 'now'" ] ||
      [ "$(cat "$d.err")" = "kronsec: --terminal: standard input is not a terminal" ] ||
      fail "$args: $(cat "$d.err")"
  fi
  # It refuses at once (a run that waited for keys would meet the 10 s timeout).
  [ "$(cat "$d.ms")" -lt 1000 ] || fail "$args: took $(cat "$d.ms") ms"
done
grep -q '^kronsec [0-9]' "$work"/flags-*.out || fail "--version printed no version"

echo "== --check: a line per mistake and a status, the file as it was; a --config folder that is not there"
d=$(settings check "report_only=1" "${base[@]}")
cp "$d/orv.ini" "$d.before"
status=0; $build/kronsec --check -c "$d" >"$d.out" 2>"$d.err" || status=$?
[ "$status" = 1 ] || fail "check: status $status"
[ "$(cat "$d.out")" = "$d/orv.ini:2: report_only is not a key kronsec reads: did you mean reportOnly?" ] ||
  fail "check: printed $(cat "$d.out" "$d.err")"
cmp -s "$d.before" "$d/orv.ini" && [ "$(ls -A "$d")" = orv.ini ] || fail "check: the settings folder changed: $(ls -A "$d")"
sed -i 's/^report_only=/reportOnly=/' "$d/orv.ini"
status=0; $build/kronsec --check --config="$d" >"$d.out" 2>"$d.err" || status=$?
[ "$status" = 0 ] && [ "$(cat "$d.out")" = "$d/orv.ini: no problems found" ] || fail "check, fixed: status $status: $(cat "$d.out" "$d.err")"
for args in "--check -c $work/kronsek" "--headless -p -c $work/kronsek"; do
  status=0; $build/kronsec $args </dev/null >"$work/kronsek.out" 2>"$work/kronsek.err" || status=$?
  [ "$status" = 1 ] && [ "$(cat "$work/kronsek.err")" = "kronsec: $work/kronsek: no such folder (given with --config)" ] ||
    fail "$args: status $status: $(cat "$work/kronsek.err")"
  [ ! -e "$work/kronsek" ] || fail "$args: the folder was made"
done

[ $failures = 0 ] || { echo "linux_headless: $failures failed" >&2; exit 1; }
echo "linux_headless: all passed"

#!/usr/bin/env bash
# The real Linux binaries end to end, headless (as from cron), in a private
# network namespace with the bundled Time server on 127.0.0.1:37. kronsec runs
# report-only throughout: this machine's clock is never set.
# Usage: linux_headless.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
source tools/netns.sh
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }

work=$(mktemp -d /tmp/kronsec-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# settings NAME KEY=VALUE...: a fresh configuration folder with these keys.
settings() {
  local dir=$work/$1; shift
  mkdir -p "$dir/kronsec"
  { echo "[kronsec]"; printf '%s\n' "$@"; } > "$dir/kronsec/orv.ini"
  echo "$dir"
}

# run_case CONFIG SERVER_ARGS [SIGNAL_AFTER_SECONDS]: runs the server (unless
# SERVER_ARGS is "none") and kronsec in one private network; kronsec's stdout,
# stderr and status land in CONFIG/{out,err,status}, the server's log in
# CONFIG/server.
run_case() {
  in_private_network bash -c '
    config=$1 build=$2 serverArgs=$3 signalAfter=$4
    if [ "$serverArgs" != none ]; then
      $build/timeserver --port 37 $serverArgs 2>"$config/server" &
      server=$!
      sleep 0.3
    fi
    XDG_CONFIG_HOME=$config timeout 60 $build/kronsec </dev/null >"$config/out" 2>"$config/err" &
    client=$!
    if [ -n "$signalAfter" ]; then sleep "$signalAfter"; kill -TERM $client; fi
    status=0; wait $client || status=$?
    echo $status >"$config/status"
    [ -z "${server:-}" ] || { kill -TERM $server 2>/dev/null; wait $server 2>/dev/null; } || true
  ' run "$1" "$build" "$2" "${3:-}"
}

echo "== a report-only cycle with three calibrations and a verbose log"
c=$(settings cycle host=127.0.0.1 TZ=xST0 useTZ=0 attempts=3 reportOnly=1 logOpts=2 "logPath=$work/k.log")
run_case "$c" "--count 4 --serve real"
[ "$(cat "$c/status")" = 0 ] || fail "exit status $(cat "$c/status"): $(cat "$c/err")"
[ ! -s "$c/err" ] || fail "unexpected messages: $(cat "$c/err")"
[ "$(grep -c ' from 127.0.0.1:' "$c/server")" = 4 ] || fail "expected 4 connections: $(cat "$c/server")"
grep -q '^Date: ' "$c/out" || fail "no result shown: $(cat "$c/out")"
[ "$(wc -l < "$work/k.log")" = 1 ] || fail "expected one log line"
line=$(cat "$work/k.log")
[ "$(printf '%s' "$line" | tr -cd '\t' | wc -c)" = 10 ] || fail "verbose line needs 10 TABs: $line"
[[ "$line" == 127.0.0.1$'\t'*$'\t'xST0$'\t'*$'\t'report$'\r' ]] || fail "log line: $line"
for key in host=127.0.0.1 attempts=3 reportOnly=1 logOpts=2 useCustom=0 TZ=xST0 "months=Jan:"; do
  grep -q "^$key" "$c/kronsec/orv.ini" || fail "orv.ini lacks $key"
done

echo "== SIGTERM while the server stays silent ends through the ordered exit"
c=$(settings term host=127.0.0.1 TZ=xST0 useTZ=0 attempts=0 reportOnly=1)
run_case "$c" "--serve silent" 1
[ "$(cat "$c/status")" = 0 ] || fail "exit status $(cat "$c/status") after SIGTERM"
grep -q '^useDST=' "$c/kronsec/orv.ini" || fail "settings not saved on SIGTERM"
grep -q 'client closed' "$c/server" || fail "the query's socket was not closed: $(cat "$c/server")"

echo "== a refused connection is reported on stderr"
c=$(settings refused host=127.0.0.1 TZ=xST0 useTZ=0 attempts=3 reportOnly=1)
run_case "$c" none
[ "$(cat "$c/status")" = 0 ] || fail "exit status $(cat "$c/status")"
grep -q '^Winsock Error: kronsec: could not connect to host 127.0.0.1$' "$c/err" || fail "$(cat "$c/err")"
grep -q '^ (10061)$' "$c/err" || fail "no error code: $(cat "$c/err")"
grep -q '^The attempt to connect was refused$' "$c/err" || fail "$(cat "$c/err")"

echo "== no TZ text known: nothing to do, said on stderr, settings saved"
c=$(settings notz host=127.0.0.1 useTZ=0)
run_case "$c" none
[ "$(cat "$c/status")" = 0 ] || fail "exit status $(cat "$c/status")"
grep -q 'nothing left to wait for' "$c/err" || fail "no reason given: $(cat "$c/err")"
grep -q '^useDST=1' "$c/kronsec/orv.ini" || fail "settings not saved"

echo "linux_headless: 4 passed, 0 failed"

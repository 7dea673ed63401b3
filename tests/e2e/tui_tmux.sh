#!/usr/bin/env bash
# The terminal front end as a person uses it: kronsec in a tmux pane of 80x24,
# against the bundled Time server in a private network namespace, report-only.
# Keys go in with send-keys; what the pane shows comes back with capture-pane.
# Usage: tui_tmux.sh BUILD_DIR [SCREENSHOT_DIR]
set -euo pipefail
build=$(cd "$1" && pwd)
shots=${2:-}
cd "$(dirname "$0")/../.."
source tools/netns.sh
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }
command -v tmux >/dev/null || { echo "tmux is missing: skipped"; exit 77; }

work=$(mktemp -d /tmp/kronsec-tui-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Everything below runs inside one private network.
in_private_network bash -s "$build" "$work" "$shots" <<'INSIDE'
set -euo pipefail
build=$1 work=$2 shots=$3
tmux_() { tmux -S "$work/tmux.socket" -f /dev/null "$@"; }
fail() { echo "FAIL: $*" >&2; echo "--- pane:" >&2; tmux_ capture-pane -p >&2 || true; exit 1; }
server=
cleanup() { stop_tmux; stop_server; sleep 0.5; }
# stop_server: the Time server started last is gone when this returns.
stop_server() {
  [ -n "$server" ] || return 0
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=
}
trap cleanup EXIT

pane() { tmux_ capture-pane -p; }
# wait_for PATTERN [SECONDS]: until the pane shows a line matching PATTERN.
wait_for() {
  local deadline=$((SECONDS + ${2:-10}))
  until pane | grep -qE "$1"; do
    [ $SECONDS -lt $deadline ] || fail "the pane never showed /$1/"
    sleep 0.2
  done
}
keys() { tmux_ send-keys -t kronsec "$@"; sleep 0.3; }
shot() { [ -z "$shots" ] || pane > "$shots/$1.txt"; }

# A killed tmux server goes away in the background; a client that reaches it
# while it is still shutting down gets "server exited unexpectedly". Wait until
# it is gone, and give a new session a few tries for the same reason.
stop_tmux() {
  tmux_ kill-server 2>/dev/null || true
  local tries=50
  while tmux_ list-sessions >/dev/null 2>&1 && [ $tries -gt 0 ]; do
    sleep 0.1; tries=$((tries - 1))
  done
}
start_kronsec() {
  local try
  for try in 1 2 3; do
    tmux_ new-session -d -s kronsec -x 80 -y 24 \
      "XDG_CONFIG_HOME=$work LANG=C.UTF-8 $build/kronsec; echo EXITED \$?; sleep 30" && return 0
    stop_tmux; sleep 0.5
  done
  fail "tmux would not start a session"
}

mkdir -p "$work/kronsec" && [ -z "$shots" ] || mkdir -p "$shots"
cat > "$work/kronsec/orv.ini" <<INI
[kronsec]
host=127.0.0.1
TZ=xST0
useTZ=0
attempts=3
reportOnly=1
INI

echo "== the result lines after a cycle"
$build/timeserver --port 37 --quiet --serve real &
server=$!
sleep 0.3
start_kronsec
wait_for 'Date: +[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]+, 20[0-9]{2}'
pane | grep -qE 'Time: +[0-9]{2}:[0-9]{2}:[0-9]{2}' || fail "no time line"
pane | grep -qE 'Diff: +-?[0-9]+ secs' || fail "no difference"
pane | grep -qE 'Net Lag: +[0-9]+ ms' || fail "no net lag"
pane | grep -q ' - Horavex - ' || fail "no result caption"
shot main-after-result

echo "== a place from the list: its TZ text after TZ:"
# The focus is back on Get time after the query: Close, the host, the list.
keys Tab Tab Tab
keys Space
wait_for 'St\. John'"'"'s'
keys Down Down Down Down Down Down Down Enter
wait_for 'TZ: +PST8PDT'

echo "== Advanced by its mnemonic: Max adjust changed and kept"
keys M-v
wait_for 'Advanced Options'
wait_for 'Max adjust \(secs\):'
shot advanced
keys End 6 0
keys Enter
wait_for ' - Horavex - '
pane | grep -q 'Advanced Options' && fail "Advanced did not close"

echo "== help at the Advanced topic, the log-file chooser, a resize"
keys M-v
wait_for 'Advanced Options'
keys F1
wait_for 'Advanced options'
keys q
keys M-l
wait_for 'Select Log File'
shot chooser
keys Escape
wait_for 'Advanced Options'
keys Escape
tmux_ resize-window -t kronsec -x 100 -y 30
sleep 0.5
pane | grep -q 'Advanced Options' && fail "Advanced did not close"
wait_for 'Net Lag: +[0-9]+ ms'
tmux_ resize-window -t kronsec -x 80 -y 24

echo "== Ctrl-C ends the program in order"
keys C-c
wait_for 'EXITED 0' 15
grep -q '^maxAdjust=60' "$work/kronsec/orv.ini" || fail "maxAdjust not saved: $(cat "$work/kronsec/orv.ini")"
grep -q '^TZindex=6' "$work/kronsec/orv.ini" || fail "TZindex not saved"
stop_tmux
# The refusal below needs the server gone, not just told to go.
stop_server

echo "== a refused connection: the Winsock Error box, closed with Enter"
start_kronsec
wait_for 'Winsock Error'
pane | grep -q 'The attempt to connect was refused' || fail "no error text"
pane | grep -q '(10061)' || fail "no error code"
line=$(pane | grep -n 'Winsock Error' | head -1 | cut -d: -f1)
[ "$line" -gt 4 ] && [ "$line" -lt 16 ] || fail "the box is not centred (caption on line $line)"
shot winsock-error
keys Enter
sleep 0.5
pane | grep -q 'Winsock Error' && fail "Enter did not close the box"
keys Escape
wait_for 'EXITED 1' 15  # the run's last query got no answer
stop_tmux

echo "== minimised, the end of the query ends the dialog; the host shows the result"
sed -i 's/^attempts=3/attempts=0/' "$work/kronsec/orv.ini"
$build/timeserver --port 37 --quiet --serve delay:2000:real &
server=$!
sleep 0.3
start_kronsec
wait_for 'Calibrating Net Lag'
keys F9
wait_for '^ *\(o\) +Kronsec' 5
wait_for '^ *\(o\) +- Horavex - [0-9]{2}:[0-9]{2}:[0-9]{2}' 10
wait_for 'EXITED 0' 15
stop_server
stop_tmux
sleep 0.3

echo "== a crash still gives the terminal back"
start_kronsec
wait_for 'Kronsec|Horavex|Winsock Error'
pkill -SEGV -x kronsec
wait_for 'EXITED 139' 10
pane | grep -q 'Host:' && fail "the dialog is still on the screen after the crash"
echo "tui_tmux: 8 passed, 0 failed"
INSIDE

#!/usr/bin/env bash
# The terminal front end as a person uses it: kronsec in tmux panes of 80x24,
# 100x30 and 60x20, against the bundled Time server in a private network
# namespace, report-only. Keys go in with send-keys; what the pane shows comes
# back with capture-pane (-e: with its colours and attributes).
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
source tools/netns.sh
# Columns below count characters, as the pane shows them.
export LC_ALL=C.UTF-8
rows=0 skipped=0
row() { echo "== $*"; rows=$((rows + 1)); }
skip() { echo "skipped: $*"; skipped=$((skipped + 1)); }
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
pane_e() { tmux_ capture-pane -p -e; }
# column TEXT LINE: the cell where TEXT starts in LINE (characters, not bytes).
column() { local before=${2%%"$1"*}; echo ${#before}; }
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
# start_kronsec [COLS ROWS [VAR=VALUE...] [-- ARGS...]]: kronsec with ARGS in
# a session of that size (80x24), its input from $input when that is set. A
# small wrapper writes its own PID to kronsec.pid and execs kronsec, so the
# test knows the one process it started.
start_kronsec() {
  local try cols=${1:-80} lines=${2:-24} vars=() args=()
  shift $(($# < 2 ? $# : 2))
  while [ $# -gt 0 ] && [ "$1" != -- ]; do vars+=("$1"); shift; done
  [ $# -eq 0 ] || { shift; args=("$@"); }
  rm -f "$work/kronsec.pid"
  local run="XDG_CONFIG_HOME=$work LANG=C.UTF-8 ${vars[*]} sh -c 'echo \$\$ > $work/kronsec.pid; exec \"\$0\" \"\$@\"' $build/kronsec ${args[*]}${input:+ <$input}"
  for try in 1 2 3; do
    tmux_ new-session -d -s kronsec -x "$cols" -y "$lines" "$run; echo EXITED \$?; sleep 30" && return 0
    stop_tmux; sleep 0.5
  done
  fail "tmux would not start a session"
}
input=
# kronsec_pid: the PID of the kronsec started last, once it runs as kronsec.
kronsec_pid() {
  local pid tries=50
  until pid=$(cat "$work/kronsec.pid" 2>/dev/null) && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = kronsec ]; do
    [ $tries -gt 0 ] || return 1
    sleep 0.1; tries=$((tries - 1))
  done
  echo "$pid"
}
# click COL ROW: a press and release of the left button at that cell (0-based),
# as an xterm sends them (X10 encoding).
click() {
  local x y
  x=$(printf '\\%03o' $(($1 + 33))) y=$(printf '\\%03o' $(($2 + 33)))
  tmux_ send-keys -t kronsec -l "$(printf '\e[M %b%b\e[M#%b%b' "$x" "$y" "$x" "$y")"
  sleep 0.3
}
# words_of_box TOP BOTTOM: the words on the pane's lines (numbered from 1)
# between a box's caption (TOP) and its buttons (BOTTOM), within the box's
# edges, the warning mark left out, on one line.
words_of_box() {
  local edge left right r line part words=()
  edge=$(pane | sed -n "$(($2 + 1))p")  # the bottom edge, └ to ┘
  left=$(column └ "$edge") right=$(column ┘ "$edge")
  for ((r = $1 + 1; r < $2; r++)); do
    line=$(pane | sed -n "${r}p")
    line=${line:left+1:right-left-1}
    read -ra part <<<"${line//'/!\'/}"
    words+=("${part[@]}")
  done
  echo "${words[*]}"
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

row "the result lines after a cycle"
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

row "a place from the list: its TZ text after TZ:"
# The focus is back on Get time after the query: Close, the host, the list.
keys Tab Tab Tab
keys Space
wait_for 'St\. John'"'"'s'
keys Down Down Down Down Down Down Down Enter
wait_for 'TZ: +PST8PDT'

row "Advanced by its mnemonic: Max adjust changed and kept"
keys M-v
wait_for 'Advanced Options'
wait_for 'Max adjust \(secs\):'
shot advanced
keys End 6 0
keys Enter
wait_for ' - Horavex - '
pane | grep -q 'Advanced Options' && fail "Advanced did not close"

row "help at the Advanced topic, the log-file chooser, a resize"
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

row "Ctrl-C ends the program in order"
keys C-c
wait_for 'EXITED 0' 15
grep -q '^maxAdjust=60' "$work/kronsec/orv.ini" || fail "maxAdjust not saved: $(cat "$work/kronsec/orv.ini")"
grep -q '^TZindex=6' "$work/kronsec/orv.ini" || fail "TZindex not saved"
stop_tmux
# The refusal below needs the server gone, not just told to go.
stop_server

row "a refused connection: the Winsock Error box, closed with Enter"
start_kronsec
wait_for 'Winsock Error'
pane | grep -q 'The attempt to connect was refused' || fail "no error text"
pane | grep -q '(10061)' || fail "no error code"
line=$(pane | grep -n 'Winsock Error' | head -1 | cut -d: -f1)
[ "$line" -gt 4 ] && [ "$line" -lt 16 ] || fail "the box is not centred (caption on line $line)"
ok=$(pane | grep -F '[ OK ]')
edge=$(pane | grep -A1 -F '[ OK ]' | tail -1)  # the box's bottom edge, └ to ┘
left=$(column └ "$edge") right=$(column ┘ "$edge") at=$(column '[ OK ]' "$ok")
off=$((2 * at + 5 - left - right))  # twice the distance of the two middles
[ ${off#-} -le 1 ] || fail "[ OK ] is not centred between columns $left and $right (starts at $at)"
shot winsock-error
keys Enter
sleep 0.5
pane | grep -q 'Winsock Error' && fail "Enter did not close the box"
keys Escape
wait_for 'EXITED 1' 15  # the run's last query got no answer
stop_tmux

row "minimised, the end of the query ends the dialog; the host shows the result"
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

# ini ATTEMPTS: a fresh orv.ini with a log path longer than its field.
ini() {
  cat > "$work/kronsec/orv.ini" <<INI
[kronsec]
host=127.0.0.1
TZ=xST0
useTZ=0
attempts=$1
reportOnly=1
logPath=/var/tmp/kronsec-logs/one/very/long/folder/name/for/every/day/kronsec.log
INI
}

# What people met in the pane, at two sizes: each check names the fault.
for size in "80 24" "100 30"; do
  row "at ${size/ /x}: every text whole, what is typed is what is stored"
  ini 12
  $build/timeserver --port 37 --quiet --serve offset:978400 &
  server=$!
  sleep 0.3
  start_kronsec $size
  wait_for 'Net Lag: +[0-9]+ ms'
  pane | grep -qE 'Diff: +-97840[0-9] secs +Net Lag' || fail "the difference runs into Net Lag"
  pane | grep -q 'Report only│' && fail "Report only touches the frame"
  pane | grep -qE '^ *└─+┘ *$' || fail "the dialog's bottom edge is cut"
  pane_e | grep -qE $'\e\\[([0-9]+;)*44m' || fail "no colours"
  keys Tab Tab Tab r  # Get time, Close, Host, the list
  pane | grep -qE 'Local TZ: +Rangoon' || fail "r in the list did not pick the first place with R"
  pane | grep -q '☒ Report only' || fail "r in the list unticked Report only"
  keys a c
  pane | grep -q 'About Kronsec' && fail "a in the list opened About"
  pane | grep -q 'EXITED' && fail "c in the list closed the program"
  keys r Space
  wait_for '┌─+↑─┐'
  pane | grep -qE '│ Rangoon +▒' || fail "the open list has no frame or no scroll mark"
  pane | grep -qE '└─+↓─┘' || fail "the open list does not say more rows lie below"
  keys Escape BTab
  keys t i m e
  pane | grep -qE 'Host: time +│' || fail "Tab into Host and typing did not replace the text"
  keys Home x End y Left BSpace
  pane | grep -qE 'Host: xtimy +│' || fail "Home, End, Left or Backspace did not edit the host"
  keys C-u
  pane | grep -qE 'Host: +│' || fail "Ctrl-U did not clear the host"
  keys M-v
  wait_for 'Advanced Options'
  pane | grep -qE '\[Log file \.\.\.\] +/var/tmp/kronsec-logs/' || fail "the log path does not show its start"
  pane | grep -qE 'Calibration attempts: 12 ' || fail "attempts=12 does not show 12"
  # A refused key changes nothing: "-" leaves the 12 selected, so 3 replaces
  # it; "x" leaves the caret after the 3.
  keys Tab Tab Tab Tab Tab Tab
  keys -- - 3 x 5
  line=$(pane | grep -n 'Calibration attempts: 35 ') || fail "typing -3x5 over the attempts does not show 35"
  row=$((${line%%:*} - 1)) col=$(($(column 35 "${line#*:}") + 2))
  [ "$(tmux_ display -p -t kronsec '#{cursor_y} #{cursor_x}')" = "$row $col" ] ||
    fail "the caret is not after 35 (row $row, column $col)"
  keys Enter
  keys M-a
  wait_for 'About Kronsec'
  keys Space
  pane | grep -q 'About Kronsec' && fail "Space did not press About's Ok"
  keys Escape
  wait_for 'EXITED 0' 15
  grep -q '^attempts=35$' "$work/kronsec/orv.ini" || fail "attempts not saved as shown: $(grep attempts "$work/kronsec/orv.ini")"
  stop_tmux
  stop_server
done

row "at 60x20: the size needed, then the dialog once the terminal grows; NO_COLOR"
ini 3
$build/timeserver --port 37 --quiet --serve real &
server=$!
sleep 0.3
start_kronsec 60 20 NO_COLOR=
wait_for 'kronsec needs a terminal of at least 57x24;'
pane | grep -q 'this one is 60x20' || fail "the notice does not say the size"
tmux_ resize-window -t kronsec -x 80 -y 24
wait_for 'Host: '
pane | grep -qE '^ *└─+┘ *$' || fail "after the resize the dialog's bottom edge is cut"
pane_e | grep -qE $'\e\\[([0-9]+;)*[34][0-7]m' && fail "colours despite NO_COLOR"
pane_e | grep 'et time' | grep -qE $'\e\\[([0-9]+;)*7m<' || fail "the focused Get time is not in reverse video"
keys Escape
wait_for 'EXITED 0' 15
stop_tmux
stop_server

# settings KEY=VALUE...: a fresh orv.ini for the local server, with these.
settings() {
  printf '%s\n' '[kronsec]' host=127.0.0.1 TZ=xST0 useTZ=0 "$@" > "$work/kronsec/orv.ini"
}
# zone: the place the closed list of places shows.
zone() { pane | grep -oE 'Local TZ: +[^▼]*' | sed -E 's/Local TZ: +//; s/ +$//'; }

row "the list of places: letters typed quickly make a prefix, one after a pause starts again"
settings attempts=0 reportOnly=1
$build/timeserver --port 37 --quiet --serve real &
server=$!
sleep 0.3
start_kronsec
wait_for 'Net Lag: +[0-9]+ ms'
keys Tab Tab Tab  # Get time, Close, Host, the list
tmux_ send-keys -t kronsec -l 'GMT+1'
sleep 0.3
[ "$(zone)" = GMT+12 ] || fail "GMT+1 typed at once chose '$(zone)', not GMT+12"
tmux_ send-keys -t kronsec -l t
sleep 1.5
tmux_ send-keys -t kronsec -l o
sleep 0.3
[ "$(zone)" = "Oklahoma City" ] || fail "t, a pause, then o chose '$(zone)', not Oklahoma City"
sleep 1.5
tmux_ send-keys -t kronsec -l to
sleep 0.3
[ "$(zone)" = Toronto ] || fail "to typed at once chose '$(zone)', not Toronto"
shot type-ahead
keys Escape
wait_for 'EXITED 0' 15
stop_tmux
stop_server

# Report-only off: only where this namespace holds no right to set the clock.
# clock_right_dropped (tools/netns.sh) reads CapBnd, CapEff, CapPrm and CapAmb
# of this process: CAP_SYS_TIME must be in none of them.
if clock_right_dropped; then
  row "at 80x24: the Big Change question keeps its words whole"
  settings attempts=0 reportOnly=0 maxAdjust=60 adjOpt=0
  $build/timeserver --port 37 --quiet --serve offset:3600 &
  server=$!
  sleep 0.3
  start_kronsec
  wait_for 'Big Change'
  wait_for '\[ Cancel \]'
  shot big-change
  top=$(pane | grep -n 'Big Change' | head -1 | cut -d: -f1)
  bottom=$(pane | grep -n '\[ Yes \]' | head -1 | cut -d: -f1)
  [ $((bottom - top)) -ge 4 ] || fail "the question is not wrapped over lines"
  words=$(words_of_box "$top" "$bottom")
  [[ $words =~ ^"The difference between the time returned and the current local time ("-?[0-9]+" secs) is greater than the specified maximum adjustment (60 secs). Do you want to override this maximum?"$ ]] ||
    fail "a word of the question is broken: $words"
  keys Escape  # Cancel: the clock is left alone
  wait_for 'Diff: +0 secs'
  keys Escape
  wait_for 'EXITED' 15
  stop_tmux
  stop_server

  row "-p: Report only ticked and disabled; r, Alt+R and a click leave it; Get time logs report"
  settings attempts=0 reportOnly=0 logOpts=1 "logPath=$work/kronsec.log"
  rm -f "$work/kronsec.log"
  $build/timeserver --port 37 --quiet --serve real &
  server=$!
  sleep 0.3
  start_kronsec 80 24 -- -p
  wait_for 'Net Lag: +[0-9]+ ms'
  pane_e | grep -qE $'\e\\[(90|34)m☒ Report only' || fail "Report only is not shown ticked and disabled"
  line=$(pane | grep -n 'Report only' | head -1)
  keys r
  keys M-r
  click "$(column 'Report only' "${line#*:}")" "$((${line%%:*} - 1))"
  pane | grep -q '☒ Report only' || fail "r, Alt+R or a click unticked Report only"
  keys M-g
  wait_for 'Net Lag: +[0-9]+ ms'
  for try in 1 2 3 4 5 6 7 8 9 10; do
    [ "$(wc -l < "$work/kronsec.log")" -lt 2 ] || break
    sleep 0.3
  done
  [ "$(awk -F '\t' '{ print $NF }' "$work/kronsec.log" | tr -d '\r' | sort -u)" = report ] ||
    fail "the runs did not log report: $(cat "$work/kronsec.log")"
  [ "$(wc -l < "$work/kronsec.log")" -eq 2 ] || fail "Get time logged no second line"
  keys Escape
  wait_for 'EXITED 0' 15
  grep -q '^reportOnly=0' "$work/kronsec/orv.ini" || fail "-p was saved into the settings"
  stop_tmux
  stop_server
else
  skip "the Big Change row: this namespace may still set the clock"
  skip "the -p row: this namespace may still set the clock"
fi

row "input closed mid-dialog: kronsec ends at once with status 1"
# Its input is the terminal of a second window, raw as kronsec's own; closing
# that window hangs it up while kronsec's screen stays.
settings attempts=0 reportOnly=1
$build/timeserver --port 37 --quiet --serve real &
server=$!
sleep 0.3
tmux_ new-session -d -s holder -x 80 -y 24 "stty raw -echo; exec sleep 300"
input=$(tmux_ display -p -t holder '#{pane_tty}')
start_kronsec
input=
wait_for 'Net Lag: +[0-9]+ ms'
tmux_ send-keys -t holder M-v
wait_for 'Advanced Options'
tmux_ send-keys -t holder M-l
wait_for 'Select Log File'
started=$(date +%s%N)
tmux_ kill-session -t holder
wait_for 'EXITED 1' 10
echo "ended $((($(date +%s%N) - started) / 1000000)) ms after its input closed"
stop_tmux
stop_server

row "a crash still gives the terminal back"
start_kronsec
wait_for 'Kronsec|Horavex|Winsock Error'
pid=$(kronsec_pid) || fail "no kronsec of this test runs"
kill -SEGV "$pid"
wait_for 'EXITED 139' 10
pane | grep -q 'Host:' && fail "the dialog is still on the screen after the crash"
echo "tui_tmux: $rows passed, 0 failed, $skipped skipped"
INSIDE

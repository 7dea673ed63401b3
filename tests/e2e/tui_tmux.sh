#!/usr/bin/env bash
# The terminal front end as a person uses it: kronsec in tmux panes of 80x24,
# 100x30 and 60x20, against the bundled Time server in a private network
# namespace, report-only. Keys go in with send-keys; what the pane shows comes
# back with capture-pane (-e: with its colours and attributes). Nothing waits
# a fixed time for a key to be taken: every check polls the pane for what it
# expects and fails, showing the pane, when that has not come within $limit
# seconds.
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
# Seconds any one wait below may take: generous, for a loaded machine.
limit=20
# poll WHY COMMAND...: returns once COMMAND succeeds; fails with WHY when it
# has not within $limit seconds.
poll() {
  local why=$1 deadline=$((SECONDS + limit))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "$why (waited $limit s)"
    sleep 0.1
  done
}
server=
cleanup() { stop_tmux; stop_server; }
# start_server SERVE: the bundled Time server on 127.0.0.1:37 serving SERVE,
# listening when this returns.
start_server() {
  "$build/timeserver" --port 37 --serve "$1" 2>"$work/server.log" &
  server=$!
  timeserver_listening "$work/server.log" "$server" || fail "no Time server"
}
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
shows() { grep -qE "$1" <<<"$(pane)"; }
shows_e() { grep -qE "$1" <<<"$(pane_e)"; }
lacks() { ! grep -qE "$1" <<<"$(pane)"; }
# column TEXT LINE: the cell where TEXT starts in LINE (characters, not bytes).
column() { local before=${2%%"$1"*}; echo ${#before}; }
# where TEXT: "LINE COLUMN" where the pane shows TEXT first.
where() {
  local line
  line=$(pane | grep -n -m 1 -F "$1") || return 1
  echo "${line%%:*} $(column "$1" "${line#*:}")"
}
# moved TEXT PLACE: whether TEXT is shown, and elsewhere than at PLACE.
moved() { local now; now=$(where "$1") && [ "$now" != "$2" ]; }
# wait_for PATTERN: until the pane shows a line matching PATTERN.
wait_for() { poll "the pane never showed /$1/" shows "$1"; }
# expect PATTERN WHY: as wait_for, failing with WHY.
expect() { poll "$2" shows "$1"; }
# expect_gone PATTERN WHY: until no line of the pane matches PATTERN.
expect_gone() { poll "$2" lacks "$1"; }
# keys KEY...: sends the keys; what they do is for the checks after to wait for.
keys() { tmux_ send-keys -t kronsec "$@"; }
shot() { [ -z "$shots" ] || pane > "$shots/$1.txt"; }
# get_time_reversed: whether the Get time button begins in reverse video.
get_time_reversed() { grep 'et time' <<<"$(pane_e)" | grep -qE $'\e\\[([0-9]+;)*7m<'; }
# caret_at "ROW COLUMN": whether kronsec's pane has its cursor there.
caret_at() { [ "$(tmux_ display -p -t kronsec '#{cursor_y} #{cursor_x}')" = "$1" ]; }

# ended PID: whether the process PID (none when empty) has ended, or is a
# zombie.
ended() { [ -z "$1" ] || [ ! -e "/proc/$1" ] || grep -q '^State:.*zombie' "/proc/$1/status" 2>/dev/null; }
# A killed tmux server goes away in the background; a client that reaches it
# while it is still shutting down gets "server exited unexpectedly". Wait
# until the server and the kronsec started last are gone; a new session
# still gets a few tries, for the same reason.
stop_tmux() {
  local tmux_pid kronsec_pid
  tmux_pid=$(tmux_ list-sessions -F '#{pid}' 2>/dev/null | head -n 1) || true
  kronsec_pid=$(cat "$work/kronsec.pid" 2>/dev/null) || true
  tmux_ kill-server 2>/dev/null || true
  poll "the tmux server $tmux_pid did not end" ended "$tmux_pid"
  [ "$(cat "/proc/$kronsec_pid/comm" 2>/dev/null)" = kronsec ] || return 0
  poll "kronsec ($kronsec_pid) did not end with its tmux session" ended "$kronsec_pid"
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
    stop_tmux
  done
  fail "tmux would not start a session"
}
input=
# kronsec_pid: the PID of the kronsec started last, once it runs as kronsec.
kronsec_pid() {
  local pid deadline=$((SECONDS + limit))
  until pid=$(cat "$work/kronsec.pid" 2>/dev/null) && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = kronsec ]; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
  echo "$pid"
}
# click COL ROW: a press and release of the left button at that cell (0-based),
# as an xterm sends them (X10 encoding).
click() {
  local x y
  x=$(printf '\\%03o' $(($1 + 33))) y=$(printf '\\%03o' $(($2 + 33)))
  tmux_ send-keys -t kronsec -l "$(printf '\e[M %b%b\e[M#%b%b' "$x" "$y" "$x" "$y")"
}
# logged N: whether kronsec's log file has N lines or more.
logged() { [ "$(wc -l <"$work/kronsec.log" 2>/dev/null || echo 0)" -ge "$1" ]; }
# holder_ready: whether the second window's terminal is raw (its stty done).
holder_ready() { [ "$(tmux_ display -p -t holder '#{pane_current_command}')" = sleep ]; }
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
start_server real
start_kronsec
wait_for 'Date: +[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]+, 20[0-9]{2}'
expect 'Time: +[0-9]{2}:[0-9]{2}:[0-9]{2}' "no time line"
expect 'Diff: +-?[0-9]+ secs' "no difference"
expect 'Net Lag: +[0-9]+ ms' "no net lag"
expect ' - Horavex - ' "no result caption"
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
expect_gone 'Advanced Options' "Advanced did not close"
wait_for ' - Horavex - '

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
expect_gone 'Select Log File' "Escape did not close the chooser"
wait_for 'Advanced Options'
keys Escape
expect_gone 'Advanced Options' "Advanced did not close"
at=$(where 'Host:') || fail "no host field"
tmux_ resize-window -t kronsec -x 100 -y 30
poll "the dialog was not drawn again, centred in 100x30 (Host: still at $at)" moved 'Host:' "$at"
wait_for 'Net Lag: +[0-9]+ ms'
tmux_ resize-window -t kronsec -x 80 -y 24

row "Ctrl-C ends the program in order"
keys C-c
wait_for 'EXITED 0'
grep -q '^maxAdjust=60' "$work/kronsec/orv.ini" || fail "maxAdjust not saved: $(cat "$work/kronsec/orv.ini")"
grep -q '^TZindex=6' "$work/kronsec/orv.ini" || fail "TZindex not saved"
stop_tmux
# The refusal below needs the server gone, not just told to go.
stop_server

row "a refused connection: the Winsock Error box, closed with Enter"
start_kronsec
wait_for 'Winsock Error'
grep -q 'The attempt to connect was refused' <<<"$(pane)" || fail "no error text"
grep -q '(10061)' <<<"$(pane)" || fail "no error code"
line=$(pane | grep -n 'Winsock Error' | head -1 | cut -d: -f1)
[ "$line" -gt 4 ] && [ "$line" -lt 16 ] || fail "the box is not centred (caption on line $line)"
ok=$(pane | grep -F '[ OK ]')
edge=$(pane | grep -A1 -F '[ OK ]' | tail -1)  # the box's bottom edge, └ to ┘
left=$(column └ "$edge") right=$(column ┘ "$edge") at=$(column '[ OK ]' "$ok")
off=$((2 * at + 5 - left - right))  # twice the distance of the two middles
[ ${off#-} -le 1 ] || fail "[ OK ] is not centred between columns $left and $right (starts at $at)"
shot winsock-error
keys Enter
expect_gone 'Winsock Error' "Enter did not close the box"
keys Escape
wait_for 'EXITED 1'  # the run's last query got no answer
stop_tmux

row "minimised, the end of the query ends the dialog; the host shows the result"
sed -i 's/^attempts=3/attempts=0/' "$work/kronsec/orv.ini"
start_server delay:2000:real
start_kronsec
wait_for 'Calibrating Net Lag'
keys F9
wait_for '^ *\(o\) +Kronsec'
wait_for '^ *\(o\) +- Horavex - [0-9]{2}:[0-9]{2}:[0-9]{2}'
wait_for 'EXITED 0'
stop_server
stop_tmux

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
  start_server offset:978400
  start_kronsec $size
  wait_for 'Net Lag: +[0-9]+ ms'
  expect 'Diff: +-97840[0-9] secs +Net Lag' "the difference runs into Net Lag"
  expect '^ *└─+┘ *$' "the dialog's bottom edge is cut"
  grep -q 'Report only│' <<<"$(pane)" && fail "Report only touches the frame"
  poll "no colours" shows_e $'\e\\[([0-9]+;)*44m'
  # Get time, Close, Host, the list; there r, a and c come within the list's
  # type-ahead gap: "ra" and "rac" start no place, so r's place stays. The
  # list opened by Space shows that they have all been taken.
  keys Tab Tab Tab r a c
  keys Space
  expect '┌─+↑─┐' "Space did not open the list (did a or c act outside it?)"
  expect '│ Rangoon +▒' "the open list has no frame or no scroll mark"
  expect '└─+↓─┘' "the open list does not say more rows lie below"
  keys Escape
  expect_gone '┌─+↑─┐' "Escape did not close the list"
  grep -qE 'Local TZ: +Rangoon' <<<"$(pane)" || fail "r in the list did not pick the first place with R"
  grep -q '☒ Report only' <<<"$(pane)" || fail "r in the list unticked Report only"
  grep -q 'About Kronsec' <<<"$(pane)" && fail "a in the list opened About"
  grep -q 'EXITED' <<<"$(pane)" && fail "c in the list closed the program"
  keys BTab
  keys t i m e
  expect 'Host: time +│' "Tab into Host and typing did not replace the text"
  keys Home x End y Left BSpace
  expect 'Host: xtimy +│' "Home, End, Left or Backspace did not edit the host"
  keys C-u
  expect 'Host: +│' "Ctrl-U did not clear the host"
  keys M-v
  wait_for 'Advanced Options'
  expect '\[Log file \.\.\.\] +/var/tmp/kronsec-logs/' "the log path does not show its start"
  expect 'Calibration attempts: 12 ' "attempts=12 does not show 12"
  # A refused key changes nothing: "-" leaves the 12 selected, so 3 replaces
  # it; "x" leaves the caret after the 3.
  keys Tab Tab Tab Tab Tab Tab
  keys -- - 3 x 5
  expect 'Calibration attempts: 35 ' "typing -3x5 over the attempts does not show 35"
  line=$(pane | grep -n 'Calibration attempts: 35 ')
  row=$((${line%%:*} - 1)) col=$(($(column 35 "${line#*:}") + 2))
  poll "the caret is not after 35 (row $row, column $col)" caret_at "$row $col"
  keys Enter
  keys M-a
  wait_for 'About Kronsec'
  keys Space
  expect_gone 'About Kronsec' "Space did not press About's Ok"
  keys Escape
  wait_for 'EXITED 0'
  grep -q '^attempts=35$' "$work/kronsec/orv.ini" || fail "attempts not saved as shown: $(grep attempts "$work/kronsec/orv.ini")"
  stop_tmux
  stop_server
done

row "at 60x20: the size needed, then the dialog once the terminal grows; NO_COLOR"
ini 3
start_server real
start_kronsec 60 20 NO_COLOR=
wait_for 'kronsec needs a terminal of at least 57x24;'
expect 'this one is 60x20' "the notice does not say the size"
tmux_ resize-window -t kronsec -x 80 -y 24
wait_for 'Host: '
expect '^ *└─+┘ *$' "after the resize the dialog's bottom edge is cut"
poll "the focused Get time is not in reverse video" get_time_reversed
grep -qE $'\e\\[([0-9]+;)*[34][0-7]m' <<<"$(pane_e)" && fail "colours despite NO_COLOR"
keys Escape
wait_for 'EXITED 0'
stop_tmux
stop_server

# settings KEY=VALUE...: a fresh orv.ini for the local server, with these.
settings() {
  printf '%s\n' '[kronsec]' host=127.0.0.1 TZ=xST0 useTZ=0 "$@" > "$work/kronsec/orv.ini"
}
# zone: the place the closed list of places shows.
zone() { pane | grep -oE 'Local TZ: +[^▼]*' | sed -E 's/Local TZ: +//; s/ +$//'; }
zone_is() { [ "$(zone)" = "$1" ]; }
# type_text TEXT: the letters of TEXT at once, as one write.
type_text() { tmux_ send-keys -t kronsec -l "$1"; }
# Longer than the list's 1 s type-ahead gap. Each pause starts once the place
# chosen by the letters before it shows, so it is a pause for kronsec too.
pause=1.5

row "the list of places: letters typed quickly make a prefix, one after a pause starts again"
settings attempts=0 reportOnly=1
start_server real
start_kronsec
wait_for 'Net Lag: +[0-9]+ ms'
keys Tab Tab Tab  # Get time, Close, Host, the list
type_text GMT+1
poll "GMT+1 typed at once did not choose GMT+12" zone_is GMT+12
sleep $pause
type_text t
poll "t after a pause did not choose Toronto, the next place with T" zone_is Toronto
sleep $pause
type_text o
poll "t, a pause, then o did not choose Oklahoma City" zone_is "Oklahoma City"
sleep $pause
type_text to
poll "to typed at once did not choose Toronto" zone_is Toronto
shot type-ahead
keys Escape
wait_for 'EXITED 0'
stop_tmux
stop_server

# Report-only off: only where this namespace holds no right to set the clock.
# clock_right_dropped (tools/netns.sh) reads CapBnd, CapEff, CapPrm and CapAmb
# of this process: CAP_SYS_TIME must be in none of them.
if clock_right_dropped; then
  row "at 80x24: the Big Change question keeps its words whole"
  settings attempts=0 reportOnly=0 maxAdjust=60 adjOpt=0
  start_server offset:3600
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
  wait_for 'EXITED'
  stop_tmux
  stop_server

  row "-p: Report only ticked and disabled; r, Alt+R and a click leave it; Get time logs report"
  settings attempts=0 reportOnly=0 logOpts=1 "logPath=$work/kronsec.log"
  rm -f "$work/kronsec.log"
  start_server real
  start_kronsec 80 24 -- -p
  wait_for 'Net Lag: +[0-9]+ ms'
  poll "Report only is not shown ticked and disabled" shows_e $'\e\\[(90|34)m☒ Report only'
  line=$(pane | grep -n 'Report only' | head -1)
  keys r
  keys M-r
  click "$(column 'Report only' "${line#*:}")" "$((${line%%:*} - 1))"
  keys M-g
  # Get time's log line comes after r, Alt+R and the click have been taken.
  poll "Get time logged no second line" logged 2
  [ "$(awk -F '\t' '{ print $NF }' "$work/kronsec.log" | tr -d '\r' | sort -u)" = report ] ||
    fail "the runs did not log report: $(cat "$work/kronsec.log")"
  [ "$(wc -l < "$work/kronsec.log")" -eq 2 ] || fail "more than two runs logged: $(cat "$work/kronsec.log")"
  grep -q '☒ Report only' <<<"$(pane)" || fail "r, Alt+R or a click unticked Report only"
  keys Escape
  wait_for 'EXITED 0'
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
start_server real
tmux_ new-session -d -s holder -x 80 -y 24 "stty raw -echo; exec sleep 300"
poll "the second window did not make its terminal raw" holder_ready
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
wait_for 'EXITED 1'
echo "ended $((($(date +%s%N) - started) / 1000000)) ms after its input closed"
stop_tmux
stop_server

row "a crash still gives the terminal back"
start_kronsec
wait_for 'Kronsec|Horavex|Winsock Error'
pid=$(kronsec_pid) || fail "no kronsec of this test runs"
kill -SEGV "$pid"
wait_for 'EXITED 139'
grep -q 'Host:' <<<"$(pane)" && fail "the dialog is still on the screen after the crash"
echo "tui_tmux: $rows passed, 0 failed, $skipped skipped"
INSIDE

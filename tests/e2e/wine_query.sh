#!/usr/bin/env bash
# kronsec.exe end to end under wine (32-bit wine for the shipped 32-bit build,
# wine64 for win64): real query cycles against the bundled Time server, on a
# private Xvfb display, all inside one private network namespace (only
# loopback), so 127.0.0.1:37 is our server:
#
#   tests/e2e/wine_query.sh BUILD_DIR [TIMESERVER]
#
# BUILD_DIR holds kronsec.exe (cmake --preset win32 && cmake --build --preset
# win32); TIMESERVER (default build/native/timeserver) is the Linux build's Time
# server (cmake --preset native && cmake --build --preset native --target
# timeserver). Without it, or without a private network namespace, the test is
# skipped (exit 77).
#
# a) Report-only, started normally: three calibration queries and the final
#    one (4 connections); the result caption with the server's time; one
#    verbose log line ending in "report"; no message box; closed, it exits with
#    0 and saves its settings.
# b) Report-only off, the server an hour ahead: the clock change is refused
#    (wine never sets the host clock), so "Error setting system time" shows in
#    a box captioned "kronsec Error"; once it is dismissed with Return, a plain
#    log line ending in "failed" and the result caption; closed, it exits with
#    3. The host clock is compared before and after: a jump fails the test
#    loudly.
# c) Report-only, started minimised, against a server whose answers take
#    100 ms and then 1500 ms: the cycle's end ends the dialog and the program
#    exits by itself with status 0 within the cycle + 5 s + 10 s. No retry.
#    The same again at the end, in wine's virtual desktop (f).
# d) No server listening: the connect is refused and "Winsock Error" says so;
#    once it is dismissed with Return, "&Get time" has the keyboard focus
#    again, so Return on the main dialog starts the cycle anew, this time
#    against a server.
# e) A silent server: after 30 s "no answer from host" in a "Winsock Error"
#    box; once it is dismissed with Return, Return on the main dialog asks
#    again (a second connection) and the answer arrives.
# f) c) in wine's virtual desktop, which minimises and activates windows as
#    Windows does.
# g) Precise mode, report-only, against a server 0.437 s ahead: eight probes,
#    Diff about -0.437 secs (within 20 ms), its bound on the Net Lag line and
#    the log line written.
# h) Started minimised against a silent server, nobody at the screen: the
#    answer time-out's "Winsock Error" box closes itself 30 s later with OK,
#    and the program ends by itself within the time-out, the box's 30 s, the
#    5-second caption display and a margin, with status 1 (no answer). No key
#    is sent, and no retry.
# i) Started minimised, report-only off, a change over maxAdjust with Prompt:
#    the "Big Change" question closes itself 30 s later with Cancel; the
#    clock call is not made (no "kronsec Error" box, whose refusal would show
#    it), the log line ends in "ignore", and the program ends by itself with
#    status 4 (the change held back).
# j) A silent server: Escape stops the query under way, with no box, and
#    Return asks again.
# k) An IPv6 address in the Host field: the Windows program speaks IPv4
#    only, and says so in a box of its own rather than as a name not found;
#    Return dismisses it, and the run ends with 1 (no answer).
#
# No process of the test may set the clock: CAP_SYS_TIME is dropped from the
# bounding set where setpriv can. Pictures of the result dialogs and of the
# error box stay in BUILD_DIR/wine_query/ to look at. The helpers (Xvfb,
# prefix, Time server, waits with time limits, clean-up) come from
# tests/e2e/screenshots.sh.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
gui_name=wine_query  # the helpers' messages start with it
# shellcheck source-path=SCRIPTDIR source=screenshots.sh
source "$repo/tests/e2e/screenshots.sh"

budget=450  # seconds for the whole test, below ctest's 480
answer_timeout=30   # the query's wait for an answer (timeclient/query.h)
unattended_box=30   # a minimised run's box waits this long (ui/boxes.h)
closing_display=5   # the minimised caption shown before the program ends
exit_margin=15      # start-up and the query under wine, before a box shows
# A run that must end by itself is given this much more: what the test tells
# apart is ending and waiting for a person forever (the unit tests pin the
# 30 s on a virtual clock).
end_margin=45
exe=""      # kronsec.exe
shots=""    # pictures kept to look at
log_file="" # kronsec's log file in the prefix (logPath=C:\kronsec.log)
host_offset=0  # seconds east of UTC of this machine's local clock

fail() {
  gui_die "FAILED: $*"
}

skip() {
  echo "$gui_name: SKIPPED: $*" >&2
  exit 77
}

check_budget() {
  ((SECONDS < budget)) || fail "over the time budget of $budget s before $1"
}

# --- the host clock --------------------------------------------------------

clock_wall=0
clock_uptime=0
clock_during=""  # what clock_mark started, until clock_check

uptime_seconds() {
  local up
  read -r up _ </proc/uptime
  echo "${up%.*}"
}

# clock_mark WHAT: notes the wall clock (date +%s) and the monotonic one.
clock_mark() {
  clock_during=$1
  clock_wall=$(date +%s)
  clock_uptime=$(uptime_seconds)
}

# clock_steady: true when the wall clock has moved as the monotonic one did
# since clock_mark, give or take 3 s; otherwise says so loudly.
clock_steady() {
  local during=$clock_during wall uptime jump
  clock_during=""
  wall=$(date +%s)
  uptime=$(uptime_seconds)
  jump=$(((wall - clock_wall) - (uptime - clock_uptime)))
  if ((jump > 3 || jump < -3)); then
    {
      echo "$gui_name: !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!"
      echo "$gui_name: !!! THIS MACHINE'S CLOCK JUMPED BY $jump s DURING $during."
      echo "$gui_name: !!! kronsec.exe under wine may have set the host clock. Check the"
      echo "$gui_name: !!! time now ($(date -u '+%F %T UTC')) and correct it."
      echo "$gui_name: !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!"
    } >&2
    return 1
  fi
  gui_note "host clock steady during $during (off by ${jump} s from the monotonic clock)"
}

clock_check() {
  clock_steady || fail "the host clock jumped during the run with report-only off"
}

# The exit trap: a run that ends early between clock_mark and clock_check
# still has the clock checked; then the helpers' clean-up.
on_exit() {
  local status=$?
  set +e
  if [[ -n $clock_during ]] && ! clock_steady; then
    status=1
  fi
  (exit "$status")
  gui_cleanup
}

# --- checks ------------------------------------------------------------------

# check_connections N: the Time server ended by itself after N connections.
check_connections() {
  gui_wait_server 20
  local seen
  seen=$(gui_server_connections)
  [[ $gui_server_status -eq 0 ]] ||
    fail "the Time server ended with status $gui_server_status after $seen connections"
  [[ $seen -eq $1 ]] || fail "the Time server saw $seen connections; expected $1"
  gui_note "the Time server served $seen connections"
}

# check_caption WINDOW OFFSET: the caption " - Horavex - hh:mm:ss" carries the
# server's time, UTC (TZ=xST0) plus OFFSET seconds, give or take 5 s.
check_caption() {
  local window=$1 offset=$2 title
  title=$(xdotool getwindowname "$window" 2>>"$gui_work/xdotool.log") ||
    fail "cannot read the caption of window $window"
  [[ $title =~ ^\ -\ Horavex\ -\ ([0-9]{2}):([0-9]{2}):([0-9]{2})$ ]] ||
    fail "the caption is \"$title\"; expected \" - Horavex - hh:mm:ss\""
  local shown=$((10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}))
  local expected=$((($(date +%s) + offset) % 86400))
  local apart=$((((shown - expected) % 86400 + 86400 + 43200) % 86400 - 43200))
  ((apart >= -5 && apart <= 5)) ||
    fail "the caption \"$title\" is $apart s away from the server's time $(date -u -d "@$(($(date +%s) + offset))" +%T)"
  gui_note "caption \"$title\""
}

# check_log TABS ACTION DIFF: the log file holds exactly one line: CR LF at
# its end, TABS TAB characters, "127.0.0.1" first, the zone xST0, a difference
# (server minus local) within 2 s of DIFF and ACTION last.
check_log() {
  local tabs=$1 action=$2 diff=$3
  [[ -s $log_file ]] || fail "no log file $log_file"
  local lines crs got_tabs
  lines=$(wc -l <"$log_file")
  crs=$(tr -cd '\r' <"$log_file" | wc -c)
  got_tabs=$(tr -cd '\t' <"$log_file" | wc -c)
  local text
  text=$(od -c "$log_file" | head -n 12)
  [[ $lines -eq 1 && $crs -eq 1 ]] ||
    fail "the log holds $lines line ends and $crs CRs; expected one line: $text"
  cmp -s <(tail -c 2 "$log_file") <(printf '\r\n') || fail "the log line does not end in CR LF: $text"
  [[ $got_tabs -eq $tabs ]] || fail "the log line has $got_tabs TABs; expected $tabs: $text"
  cmp -s <(head -c 10 "$log_file") <(printf '127.0.0.1\t') ||
    fail "the log line does not start with \"127.0.0.1<TAB>\": $text"
  cmp -s <(tail -c $((${#action} + 3)) "$log_file") <(printf '\t%s\r\n' "$action") ||
    fail "the log line does not end with \"<TAB>$action<CR><LF>\": $text"
  local line zone got_diff
  line=$(tr -d '\r\n' <"$log_file")
  zone=$(cut -f 3 <<<"$line")
  [[ $zone == xST0 ]] || fail "the log line's zone is \"$zone\"; expected xST0: $line"
  # The difference: field 6 of the plain line, field 8 of the verbose one.
  got_diff=$(cut -f $((tabs == 7 ? 6 : 8)) <<<"$line")
  if ! [[ $got_diff =~ ^-?[0-9]+$ ]] || ((got_diff < diff - 2 || got_diff > diff + 2)); then
    fail "the log line's difference is \"$got_diff\"; expected $diff: $line"
  fi
  gui_note "log line: ${line//$'\t'/ | }"
}

# boxes_since MARK: the texts of the message boxes kronsec.exe opened since
# wine.log was MARK bytes long (wine's "msgbox" trace, WINEDEBUG=+msgbox).
boxes_since() {
  tail -c +$(($1 + 1)) "$gui_work/wine.log" | grep -a 'trace:msgbox:MSGBOX_OnInit' |
    sed 's/.*MSGBOX_OnInit //' || true
}

# check_boxes MARK PATTERN WHAT: the boxes wine traced since MARK hold PATTERN
# (a glob); a trace with no box text passes, the picture shows it instead.
check_boxes() {
  local boxes
  boxes=$(boxes_since "$1")
  [[ -z $boxes || $boxes == *$2* ]] || fail "the box shows $boxes; expected $3"
}

wine_log_size() {
  stat -c %s "$gui_work/wine.log"
}

check_no_boxes() {
  local boxes
  boxes=$(boxes_since "$1")
  [[ -z $boxes ]] || fail "unexpected message boxes: $boxes"
}

# check_settings KEY=VALUE...: lines of the prefix's orv.ini, which kronsec
# rewrites as it exits.
check_settings() {
  local ini=$WINEPREFIX/drive_c/windows/orv.ini line
  for line in "$@"; do
    grep -qxF "$line" <<<"$(tr -d '\r' <"$ini")" ||
      fail "orv.ini lacks the line \"$line\"; it holds: $(tr -d '\r' <"$ini" | tr '\n' ' ')"
  done
  gui_note "orv.ini holds $*"
}

# check_picture PNG WHAT: a picture of some size with something drawn in it.
check_picture() {
  local info width height colours
  info=$(identify -format '%w %h %k' "$1") || fail "$1 is not a readable picture"
  read -r width height colours <<<"$info"
  ((width >= 80 && height >= 50 && colours >= 3)) ||
    fail "$(basename "$1") ($2) is ${width}x${height} with $colours colours: nothing drawn?"
  gui_note "saved $1 ($2, ${width}x${height})"
}

# window_list: the X windows with a title, as "TITLE (WIDTHxHEIGHT)"; for the
# failure messages.
window_list() {
  local window name size
  for window in $(xdotool search --name . 2>>"$gui_work/xdotool.log"); do
    name=$(xdotool getwindowname "$window" 2>>"$gui_work/xdotool.log") || continue
    [[ $name == 'Default IME' ]] && continue
    size=$(gui_window_size "$window" 2>/dev/null) || size="?"
    printf '"%s" (%s); ' "$name" "${size/ /x}"
  done
}

# close_and_expect_exit WINDOW WHAT [STATUS]: closes the result dialog;
# kronsec.exe must end with STATUS (default 0), how its last query went.
close_and_expect_exit() {
  local want=${3:-0}
  gui_close_result "$1"
  gui_wait_exit 30
  [[ $gui_status -eq $want ]] || fail "kronsec.exe ended with status $gui_status after $2, not $want"
  gui_note "kronsec.exe closed with status $want"
}

# --- the three runs ----------------------------------------------------------

# Everything a run needs in orv.ini but reportOnly and logOpts.
base_settings=(host=127.0.0.1 TZ=xST0 useTZ=0 attempts=3 autoClose=0 'logPath=C:\kronsec.log')

report_only_run() {
  gui_note "a) report-only, started normally"
  check_budget "run a"
  gui_write_settings "${base_settings[@]}" reportOnly=1 logOpts=2
  rm -f "$log_file"
  gui_start_server real 4
  local mark
  mark=$(wine_log_size)
  WINEDEBUG=-all,+msgbox gui_start "$exe"
  gui_wait_window "$gui_result_title"
  local main=$gui_window
  check_caption "$main" 0
  check_connections 4
  check_log 10 report $((-host_offset))
  check_no_boxes "$mark"
  gui_capture "$main" "$shots/report-only-result.png"
  check_picture "$shots/report-only-result.png" "the result, report-only"
  close_and_expect_exit "$main" "the report-only result"
  # Keys that kronsec writes itself show that it saved the file.
  check_settings host=127.0.0.1 reportOnly=1 attempts=3 logOpts=2 maxAdjust=0 useCustom=0
}

reset_run() {
  gui_note "b) report-only off, the server an hour ahead"
  check_budget "run b"
  # The change wine is asked for is the served offset; kronsec's difference
  # is that offset minus this machine's own offset from UTC. Both must be far
  # from 0 for the clock-setting path to run and be refused.
  local offset=3600
  ((host_offset != offset)) || offset=7200
  # Wine refuses to set the clock, but this run must not depend on it: the
  # right to set the clock has to be gone from this namespace.
  clock_right_dropped ||
    fail "run b needs CAP_SYS_TIME dropped (setpriv --bounding-set -sys_time); not run"
  gui_write_settings "${base_settings[@]}" reportOnly=0 logOpts=1
  rm -f "$log_file"
  gui_start_server "offset:$offset" 4
  clock_mark "the run with report-only off"
  local mark
  mark=$(wine_log_size)
  WINEDEBUG=-all,+msgbox gui_start "$exe"
  gui_wait_window '^kronsec Error$'
  local box=$gui_window
  gui_capture "$box" "$shots/error-box.png"
  check_picture "$shots/error-box.png" "the \"kronsec Error\" box"
  check_connections 4
  local boxes
  boxes=$(boxes_since "$mark")
  if [[ -z $boxes ]]; then
    gui_note "note: wine's msgbox trace shows no box text; see $shots/error-box.png"
  else
    [[ $boxes == 'L"Error setting system time"' ]] ||
      fail "the box shows $boxes; expected L\"Error setting system time\" only"
    gui_note "the box says \"Error setting system time\""
  fi
  # The log line follows the box.
  [[ ! -e $log_file ]] || fail "the log line was written while the error box was still open"
  xdotool key --window "$box" Return 2>>"$gui_work/xdotool.log" ||
    fail "could not send Return to the error box"
  gui_wait_gone '^kronsec Error$' 10
  gui_wait_window "$gui_result_title"
  local main=$gui_window
  check_caption "$main" "$offset"
  check_log 7 failed $((offset - host_offset))
  gui_capture "$main" "$shots/reset-result.png"
  check_picture "$shots/reset-result.png" "the result after the refused change"
  close_and_expect_exit "$main" "the refused change" 3
  check_settings reportOnly=0 logOpts=1
  clock_check
}

# minimised_run MS WHERE: started minimised (start /wait /min) against a
# server whose every answer takes MS ms, report-only: the program ends by
# itself with status 0 within the cycle (four answers), the 5-second caption
# display and 10 s more, having made its four connections and logged one line,
# with no box. Wine's dialog manager shows the dialog normally the first time
# its queue runs empty, which with answers this slow comes long before the
# cycle's end: kronsec must keep itself minimised. WHERE names the desktop.
minimised_run() {
  local ms=$1 where=$2
  gui_note "c) report-only, started minimised, every answer after $ms ms ($where)"
  check_budget "the minimised run with $ms ms answers ($where)"
  gui_write_settings "${base_settings[@]}" reportOnly=1 logOpts=2
  rm -f "$log_file"
  gui_start_server "delay:$ms:real" 4
  local mark started=$SECONDS limit=$(((4 * ms + 999) / 1000 + 5 + 10))
  mark=$(wine_log_size)
  # start /min hands kronsec.exe a minimised show command; /wait passes on
  # its exit status.
  WINEDEBUG=-all,+msgbox gui_start start /wait /min /unix "$exe"
  while kill -0 "$gui_pid" 2>/dev/null && ((SECONDS - started <= limit)); do
    sleep 0.2
  done
  kill -0 "$gui_pid" 2>/dev/null &&
    fail "kronsec.exe started minimised ($where, $ms ms answers) was still running $limit s later ($(gui_server_connections) connections served); its windows: $(window_list)"
  gui_wait_exit 5
  [[ $gui_status -eq 0 ]] || fail "kronsec.exe started minimised ended with status $gui_status"
  gui_note "kronsec.exe started minimised ended by itself with status 0 after about $((SECONDS - started)) s (at most $limit s)"
  check_connections 4
  check_log 10 report $((-host_offset))
  check_no_boxes "$mark"
}

# use_virtual_desktop: from now on wine runs its programs in a virtual
# desktop, which places, minimises and activates windows itself as Windows
# does, instead of handing them to the X server.
use_virtual_desktop() {
  "$gui_wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
    >>"$gui_work/wine.log" 2>&1 || fail "could not ask for a virtual desktop"
  "$gui_wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
    >>"$gui_work/wine.log" 2>&1 || fail "could not size the virtual desktop"
  # The desktop is chosen when wine's explorer starts: let this one end.
  timeout 30 "$gui_wineserver" -w || fail "the wine server did not end within 30 s"
}

refused_run() {
  gui_note "d) the connect refused, then Return on the main dialog"
  check_budget "run d"
  gui_write_settings "${base_settings[@]}" reportOnly=1 logOpts=0
  local mark
  mark=$(wine_log_size)
  WINEDEBUG=-all,+msgbox gui_start "$exe"
  gui_wait_window '^Winsock Error$'
  local box=$gui_window
  check_boxes "$mark" 'could not connect to host 127.0.0.1*refused' "the refused connect"
  xdotool key --window "$box" Return 2>>"$gui_work/xdotool.log" ||
    fail "could not send Return to the Winsock Error box"
  gui_wait_gone '^Winsock Error$' 10
  gui_start_server real 4
  gui_wait_window '^Kronsec$'
  xdotool key --window "$gui_window" Return 2>>"$gui_work/xdotool.log" ||
    fail "could not send Return to the main dialog"
  gui_note "Return sent to the main dialog; it must start the cycle"
  gui_wait_window "$gui_result_title"
  local main=$gui_window
  check_connections 4
  close_and_expect_exit "$main" "the cycle after the refused connect"
}

# A server that takes the connection and never answers: the 30-second answer
# time-out shows "no answer from host" in a Winsock Error box; once it is
# dismissed with Return, "&Get time" has the keyboard focus, so Return on the
# main dialog asks again (the server logs a second connection) and the
# answer arrives.
timeout_run() {
  gui_note "e) a silent server: the answer time-out, then Return on the main dialog"
  check_budget "run e"
  gui_write_settings attempts=0 "${base_settings[@]}" reportOnly=1 logOpts=0
  gui_start_server silent,real 2
  local mark
  mark=$(wine_log_size)
  WINEDEBUG=-all,+msgbox gui_start "$exe"
  gui_wait_window '^Kronsec$'
  local main=$gui_window
  gui_wait_window '^Winsock Error$' 50
  local box=$gui_window
  check_boxes "$mark" 'no answer from host 127.0.0.1*timed out' "the answer time-out"
  ((SECONDS < budget)) || fail "over the time budget while waiting for the time-out"
  gui_capture "$box" "$shots/time-out-box.png"
  check_picture "$shots/time-out-box.png" "the time-out's Winsock Error box"
  xdotool key --window "$box" Return 2>>"$gui_work/xdotool.log" ||
    fail "could not send Return to the Winsock Error box"
  gui_wait_gone '^Winsock Error$' 10
  [[ $(gui_server_connections) -eq 1 ]] || fail "the server saw $(gui_server_connections) connections before Return"
  xdotool key --window "$main" Return 2>>"$gui_work/xdotool.log" ||
    fail "could not send Return to the main dialog"
  gui_note "Return sent to the main dialog after the time-out; it must ask again"
  gui_wait_window "$gui_result_title"
  main=$gui_window
  check_connections 2
  close_and_expect_exit "$main" "the query after the time-out"
}

# j) A silent server again: Escape on the main dialog while the query waits
#    stops it at once, with no box; Return then asks again (a second
#    connection) and the answer arrives, well within the 30-s time-out that
#    a query Escape did not stop would wait for.
escape_run() {
  gui_note "j) a silent server: Escape stops the query, then Return asks again"
  check_budget "run j"
  gui_write_settings attempts=0 "${base_settings[@]}" reportOnly=1 logOpts=0
  gui_start_server silent,real 2
  gui_start "$exe"
  gui_wait_window '^Kronsec$'
  local main=$gui_window deadline=$((SECONDS + 20))
  until (($(gui_server_connections) >= 1)); do
    ((SECONDS < deadline)) || fail "the query did not connect within 20 s"
    sleep 0.1
  done
  xdotool key --window "$main" Escape 2>>"$gui_work/xdotool.log" || fail "could not send Escape"
  sleep 1
  xdotool key --window "$main" Return 2>>"$gui_work/xdotool.log" || fail "could not send Return"
  gui_wait_window "$gui_result_title" 20
  main=$gui_window
  check_connections 2
  close_and_expect_exit "$main" "the query after Escape"
}

# k) An IPv6 host: the IPv4-only box.
ipv6_run() {
  gui_note "k) host=::1: the IPv4-only box"
  check_budget "run k"
  gui_write_settings host=::1 TZ=xST0 useTZ=0 attempts=0 autoClose=0 reportOnly=1 logOpts=0
  local mark
  mark=$(wine_log_size)
  WINEDEBUG=-all,+msgbox gui_start "$exe"
  gui_wait_window '^kronsec Error$'
  local box=$gui_window
  check_boxes "$mark" '::1 is an IPv6 address; kronsec on Windows speaks IPv4 only' "the IPv4-only box"
  gui_capture "$box" "$shots/ipv6-box.png"
  check_picture "$shots/ipv6-box.png" "the IPv4-only box"
  xdotool key --window "$box" Return 2>>"$gui_work/xdotool.log" ||
    fail "could not send Return to the kronsec Error box"
  gui_wait_gone '^kronsec Error$' 10
  gui_wait_window '^Kronsec$'
  close_and_expect_exit "$gui_window" "the IPv6 host" 1
}

# g) Precise mode, report-only, against a server 0.437 s ahead: eight probes,
#    the Diff field shows about -0.437 secs (read from wine's relay trace of
#    SetDlgItemTextA: the field's text cannot be read from outside), and the
#    log line is written with its whole seconds.
precise_run() {
  gui_note "g) precise mode, report-only, the server 0.437 s ahead"
  check_budget "run g"
  gui_write_settings "${base_settings[@]}" reportOnly=1 logOpts=1 precise=1
  rm -f "$log_file"
  # Probes go on until the bound is below a millisecond, at most 12, then
  # four confirm it, started over twice at most; a contradiction starts
  # over once: at most 40.
  gui_start_server offset:0.437 40
  "$gui_wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.SetDlgItemTextA /f \
    >>"$gui_work/wine.log" 2>&1 || fail "cannot limit wine's relay trace to SetDlgItemTextA"
  local mark
  mark=$(wine_log_size)
  WINEDEBUG=-all,+relay gui_start "$exe"
  gui_wait_window "$gui_result_title" 90
  local main=$gui_window
  local probes
  probes=$(gui_server_connections)
  ((probes >= 6 && probes <= 40)) || fail "precise mode made $probes probes; expected 6 to 40"
  gui_note "the Time server served $probes probes"
  # The server was started by this test and waits for connections no
  # longer due: it is stopped by its PID.
  kill "$gui_server_pid" 2>/dev/null || true
  wait "$gui_server_pid" 2>/dev/null || true
  gui_server_pid=""
  local shown
  shown=$(tail -c +$((mark + 1)) "$gui_work/wine.log" | grep -a 'SetDlgItemTextA' |
    grep -ao '"-\{0,1\}[0-9]*\.[0-9]\{3\} secs' | tail -n 1 | tr -d '"')
  gui_note "Diff: $shown"
  awk -v d="${shown% secs}" 'BEGIN { e = d + 0.437; if (e < 0) e = -e; exit !(d != "" && e < 0.020) }' ||
    fail "precise mode's Diff \"$shown\" is not within 20 ms of -0.437 secs"
  local bound
  bound=$(tail -c +$((mark + 1)) "$gui_work/wine.log" | grep -a 'SetDlgItemTextA([0-9a-f]*,0000006b,' |
    grep -ao '"\\xb1[0-9]*\.[0-9] ms"' | tail -n 1 | tr -d '"')
  [[ -n $bound ]] || fail "precise mode's Net Lag line shows no bound (a plus-or-minus sign, then N.N ms)"
  gui_note "Net Lag: $bound"
  gui_capture "$main" "$shots/precise-result.png"
  check_picture "$shots/precise-result.png" "the precise result with its bound"
  check_log 7 report $((-host_offset))
  close_and_expect_exit "$main" "the precise result"
  "$gui_wine" reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >>"$gui_work/wine.log" 2>&1 || true
}

# wait_for_own_end STARTED LIMIT WHAT [STATUS]: kronsec.exe, started
# minimised at STARTED (SECONDS), must end by itself with STATUS (default 0)
# within LIMIT s; no key is sent to it.
wait_for_own_end() {
  local started=$1 limit=$2 what=$3 want=${4:-0}
  while kill -0 "$gui_pid" 2>/dev/null && ((SECONDS - started <= limit)); do
    sleep 0.2
  done
  kill -0 "$gui_pid" 2>/dev/null &&
    fail "kronsec.exe ($what) was still running $limit s after it started; its windows: $(window_list)"
  gui_wait_exit 5
  [[ $gui_status -eq $want ]] || fail "kronsec.exe ($what) ended with status $gui_status, not $want"
  gui_note "kronsec.exe ($what) ended by itself with status $want after about $((SECONDS - started)) s (at most $limit s)"
}

unattended_timeout_run() {
  gui_note "h) started minimised against a silent server: the box closes itself, the run ends"
  check_budget "run h"
  gui_write_settings attempts=0 "${base_settings[@]}" reportOnly=1 logOpts=0
  gui_start_server silent 1
  local mark started=$SECONDS
  local limit=$((answer_timeout + unattended_box + closing_display + end_margin))
  mark=$(wine_log_size)
  WINEDEBUG=-all,+msgbox gui_start start /wait /min /unix "$exe"
  gui_wait_window '^Winsock Error$' $((answer_timeout + exit_margin))
  gui_note "the time-out's box is up after about $((SECONDS - started)) s"
  gui_capture "$gui_window" "$shots/unattended-box.png"
  check_picture "$shots/unattended-box.png" "the box that closes itself"
  wait_for_own_end "$started" "$limit" "a silent server, nobody at the screen" 1
  check_boxes "$mark" 'no answer from host 127.0.0.1*timed out' "the answer time-out"
  check_connections 1
}

unattended_question_run() {
  gui_note "i) started minimised, a change over the limit with Prompt: the question closes itself with Cancel"
  check_budget "run i"
  local offset=3600
  ((host_offset != offset)) || offset=7200
  clock_right_dropped ||
    fail "run i needs CAP_SYS_TIME dropped (setpriv --bounding-set -sys_time); not run"
  gui_write_settings attempts=0 "${base_settings[@]}" reportOnly=0 logOpts=1 maxAdjust=60 adjOpt=0
  rm -f "$log_file"
  gui_start_server "offset:$offset" 1
  clock_mark "the unattended run with the Big Change question"
  local mark started=$SECONDS limit=$((unattended_box + closing_display + end_margin))
  mark=$(wine_log_size)
  WINEDEBUG=-all,+msgbox gui_start start /wait /min /unix "$exe"
  gui_wait_window '^Big Change$' "$exit_margin"
  gui_capture "$gui_window" "$shots/unattended-question.png"
  check_picture "$shots/unattended-question.png" "the question that closes itself"
  wait_for_own_end "$started" "$limit" "the Big Change question, nobody at the screen" 4
  local boxes
  boxes=$(boxes_since "$mark")
  [[ -z $boxes || $boxes == *'Do you want to override this maximum?'* ]] ||
    fail "the boxes shown were $boxes; expected the Big Change question"
  [[ $boxes != *'Error setting system time'* ]] ||
    fail "the clock call was made after the question closed itself: $boxes"
  check_log 7 ignore 0
  check_connections 1
  clock_check
}

main() {
  local build=${1:-}
  [[ -n $build ]] || gui_die "usage: tests/e2e/wine_query.sh BUILD_DIR [TIMESERVER]"
  local server=${2:-$repo/build/native/timeserver}
  [[ -f $build/kronsec.exe ]] ||
    gui_die "$build/kronsec.exe is missing; build first: cmake --preset win64 && cmake --build --preset win64"
  [[ -x $server ]] ||
    skip "no Time server at $server; build it: cmake --preset native && cmake --build --preset native --target timeserver"
  build=$(cd "$build" && pwd)
  server=$(cd "$(dirname "$server")" && pwd)/$(basename "$server")
  gui_enter_private_network "$repo/tests/e2e/wine_query.sh" "$build" "$server" ||
    skip "cannot make a private network namespace (unshare -n) here"
  exe=$build/kronsec.exe
  gui_timeserver=$server
  shots=$build/wine_query
  rm -rf "$shots"
  mkdir -p "$shots" || gui_die "cannot create $shots"
  gui_setup "$exe"
  trap on_exit EXIT
  ((gui_private_network)) || fail "internal: not in the private network namespace"
  log_file=$WINEPREFIX/drive_c/kronsec.log
  # Taken after gui_setup, which unsets TZ as for the wine programs.
  local zone
  zone=$(date +%z)
  host_offset=$((${zone:0:1}1 * (10#${zone:1:2} * 3600 + 10#${zone:3:2} * 60)))
  report_only_run
  precise_run
  reset_run
  minimised_run 100 "X11 desktop"
  minimised_run 1500 "X11 desktop"
  refused_run
  timeout_run
  escape_run
  ipv6_run
  unattended_timeout_run
  unattended_question_run
  use_virtual_desktop
  minimised_run 100 "wine's virtual desktop"
  minimised_run 1500 "wine's virtual desktop"
  ((gui_escape_ignored == 0)) ||
    gui_note "note: after a query cycle Escape did not reach the main dialog; Alt+C closed it"
  gui_note "PASSED (pictures in $shots)"
}

main "$@"

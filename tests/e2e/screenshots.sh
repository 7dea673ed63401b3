#!/usr/bin/env bash
# Photographs the dialog templates of ui/res/kronsec.rc as a Windows build shows
# them under wine (32-bit wine for the shipped 32-bit build) on a private Xvfb
# display:
#
#   tests/e2e/screenshots.sh [OUT_DIR [BUILD_DIR [TIMESERVER]]]
#
# OUT_DIR (default build/screenshots) receives
#   template-101.png, template-102.png, template-103.png  from dlgpreview.exe,
#                                                          nothing filled in;
#   kronsec-101.png                                        from kronsec.exe itself,
#                                                          before any query;
#   kronsec-103-refused.png                                its Advanced dialog just
#                                                          after "-" was typed into
#                                                          Max adjust and refused;
#   kronsec-101-result.png                                 kronsec.exe after a
#                                                          report-only query cycle;
#   kronsec-102.png, kronsec-103.png                       its About and Advanced
#                                                          dialogs, opened from it.
# BUILD_DIR (default build/win32, the build that ships) must hold both programs, built with
# "cmake --preset win32 && cmake --build --preset win32". TIMESERVER (default
# build/native/timeserver, from "cmake --preset native && cmake --build --preset
# native --target timeserver") answers the query cycle; without it, or without
# a private network namespace, the last three pictures are left out with a note.
#
# Every run makes its own Xvfb and throw-away wine prefix and removes both at
# the end; every wait has a time limit. Everything runs inside one private
# network namespace (only loopback, up) where this machine allows it, with
# CAP_SYS_TIME dropped from the bounding set where setpriv can. The only
# queries go to the Time server on 127.0.0.1:37 of that namespace, and kronsec
# runs them report-only: it never sets a clock. The first five pictures are
# taken without TZ, so kronsec starts no query by itself; only Escape closes
# the programs (Enter would start one).
#
# Sourced, the script only defines the gui_* helpers (wine_gui.sh,
# wine_query.sh and wine_help.sh beside it).
set -euo pipefail

gui_wine=/usr/lib/wine/wine64  # set from the program by gui_setup
gui_wineserver=/usr/lib/wine/wineserver
gui_name=${gui_name:-screenshots}
gui_work=""       # temporary folder: prefix, display number, logs
gui_xvfb_pid=""
gui_pid=""        # the Windows program now running
gui_window=""     # X window id found by gui_wait_window
gui_status=""     # exit status found by gui_wait_exit
gui_isolate=()    # prefix of each program command: no network
gui_private_network=0  # 1: this whole script runs in a private network namespace
gui_timeserver=""      # the Linux build's Time server, for gui_start_server
gui_server_pid=""      # the Time server now running
gui_server_status=""   # its exit status, found by gui_wait_server
gui_escape_ignored=0   # 1: gui_close_result had to fall back on Alt+C
# The caption of both windows once a result is shown.
gui_result_title='^ - Horavex - [0-9]{2}:[0-9]{2}:[0-9]{2}$'

gui_die() {
  echo "$gui_name: error: $*" >&2
  exit 1
}

gui_note() {
  echo "$gui_name: [${SECONDS}s] $*" >&2
}

gui_require_tools() {
  local tool
  for tool in Xvfb xdotool import identify timeout "$gui_wine" "$gui_wineserver"; do
    command -v "$tool" >/dev/null ||
      gui_die "$tool not found; install the packages of tools/install-deps.sh"
  done
}

# Ends everything this script started, whatever state it got to; on failure it
# shows the end of the logs first.
gui_cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  if [[ -n $gui_pid ]]; then
    kill "$gui_pid" 2>/dev/null
    wait "$gui_pid" 2>/dev/null
  fi
  if [[ -n $gui_server_pid ]]; then
    kill "$gui_server_pid" 2>/dev/null
    wait "$gui_server_pid" 2>/dev/null
  fi
  # The prefix is always our own, so this stops only our wine processes.
  if [[ -n $gui_work && ${WINEPREFIX:-} == "$gui_work/prefix" && -d $WINEPREFIX ]]; then
    timeout 20 "$gui_wineserver" -k 2>/dev/null
    timeout 20 "$gui_wineserver" -w 2>/dev/null
  fi
  if [[ -n $gui_xvfb_pid ]]; then
    kill "$gui_xvfb_pid" 2>/dev/null
    wait "$gui_xvfb_pid" 2>/dev/null
  fi
  if [[ $status -ne 0 && -n $gui_work ]]; then
    local log
    for log in "$gui_work"/*.log; do
      [[ -s $log ]] || continue
      echo "--- last lines of $(basename "$log") ---" >&2
      tail -n 20 "$log" >&2
    done
  fi
  [[ -n $gui_work ]] && rm -rf "$gui_work"
  exit "$status"
}

# Xvfb picks a free display itself and writes its number to fd 3 once ready.
gui_start_xvfb() {
  local number_file=$gui_work/display
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$number_file" >"$gui_work/xvfb.log" 2>&1 &
  gui_xvfb_pid=$!
  local deadline=$((SECONDS + 20))
  until grep -qx '[0-9][0-9]*' "$number_file" 2>/dev/null; do
    kill -0 "$gui_xvfb_pid" 2>/dev/null || gui_die "Xvfb did not start"
    ((SECONDS < deadline)) || gui_die "Xvfb gave no display number within 20 s"
    sleep 0.1
  done
  DISPLAY=":$(<"$number_file")"
  export DISPLAY
}

# A new prefix takes a while to set up; doing it before the first program runs
# keeps that out of the programs' time limits.
gui_make_prefix() {
  export WINEPREFIX=$gui_work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  timeout 120 "$gui_wine" wineboot -i >>"$gui_work/wine.log" 2>&1 ||
    gui_die "wineboot could not set up the wine prefix within 120 s"
  # Without a window manager wine draws caption and frame itself only when
  # told that nothing else decorates its windows; then the photographs show
  # the whole window as Windows does.
  timeout 60 "$gui_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
    >>"$gui_work/wine.log" 2>&1 ||
    gui_die "could not set the wine prefix's window decoration"
}

# True when this process's network namespace holds nothing but loopback, up.
gui_only_loopback() {
  local links
  links=$(ip -o link show 2>/dev/null) || return 1
  [[ $links != *$'\n'* && $links == *': lo: <'*UP* ]]
}

# gui_enter_private_network SCRIPT [ARGS...]: runs SCRIPT again, in place of
# this process, inside a new private network namespace with loopback up and,
# where setpriv can drop it, without CAP_SYS_TIME, so that no process started
# from there can set this machine's clock. Returns at once (status 0) when it
# is already running there; returns 1 when no namespace can be made.
gui_enter_private_network() {
  if [[ ${KRONSEC_GUI_PRIVATE_NETWORK:-} == 1 ]]; then
    gui_only_loopback ||
      gui_die "KRONSEC_GUI_PRIVATE_NETWORK is set, but this network namespace has more than loopback up: $(ip -o link show 2>&1 | cut -d' ' -f2 | tr '\n' ' ')"
    return 0
  fi
  command -v unshare >/dev/null && command -v ip >/dev/null || return 1
  local ns=(unshare -n)
  ((EUID == 0)) || ns=(unshare -rn)  # a user namespace makes us root inside
  "${ns[@]}" true 2>/dev/null || return 1
  local no_clock=()
  if command -v setpriv >/dev/null && setpriv --bounding-set -sys_time true 2>/dev/null; then
    no_clock=(setpriv --bounding-set -sys_time)
  fi
  KRONSEC_GUI_PRIVATE_NETWORK=1 exec "${ns[@]}" bash -c 'ip link set lo up && exec "$@"' \
    private-network "${no_clock[@]}" bash "$@"
}

# clock_right_dropped: whether this process may not set the clock;
# timeserver_listening: the wait for the Time server's first line.
# shellcheck source=../../tools/netns.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/netns.sh"

# Uses a private network namespace when this machine lets us make one: the
# one this whole script runs in (gui_enter_private_network), else one for each
# program.
gui_choose_isolation() {
  if [[ ${KRONSEC_GUI_PRIVATE_NETWORK:-} == 1 ]] && gui_only_loopback; then
    gui_isolate=()
    gui_private_network=1
    if clock_right_dropped; then
      gui_note "one private network namespace for everything; CAP_SYS_TIME dropped"
    else
      gui_note "one private network namespace for everything (CAP_SYS_TIME could not be dropped)"
    fi
  elif command -v unshare >/dev/null && unshare -n true 2>/dev/null; then
    gui_isolate=(unshare -n)
  else
    gui_isolate=()
    gui_note "note: cannot make a network namespace; running with the machine's network"
  fi
}

# Prepares display, prefix and clean-up; called once per script.
# gui_pick_wine EXE: the wine that runs EXE, from the machine field of its PE
# header: 32-bit wine in a 32-bit prefix for i386 (0x14c), wine64 otherwise.
gui_pick_wine() {
  local pe machine
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ') || gui_die "cannot read $1"
  machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' ')
  if [[ $machine == 014c ]]; then
    gui_wine=/usr/lib/wine/wine
    export WINEARCH=win32
  else
    gui_wine=/usr/lib/wine/wine64
    unset WINEARCH
  fi
  gui_note "running $1 ($(stat -c %s "$1") bytes) under $gui_wine"
}

# gui_setup EXE: a display and a fresh prefix for the wine that runs EXE.
gui_setup() {
  gui_pick_wine "$1"
  gui_require_tools
  # With a TZ text known and a host set, kronsec starts a query as its dialog
  # opens; without TZ it only shows itself.
  unset TZ
  gui_work=$(mktemp -d /tmp/kronsec-gui-XXXXXX)
  trap gui_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  gui_start_xvfb
  gui_note "Xvfb on display $DISPLAY; setting up a wine prefix"
  gui_make_prefix
  gui_choose_isolation
  gui_note "wine prefix ready"
}

# gui_start EXE [ARGS...]: runs a Windows program in the background; the
# outer time limit ends it even if no one closes it.
gui_start() {
  [[ -z $gui_pid ]] || gui_die "internal: a program is still running"
  timeout --kill-after=5 120 "${gui_isolate[@]}" "$gui_wine" "$@" \
    >>"$gui_work/wine.log" 2>&1 &
  gui_pid=$!
}

# gui_wait_window TITLE_REGEX [SECONDS]: sets gui_window to the visible window
# whose title matches, waiting at most SECONDS (default 30).
gui_wait_window() {
  local ids limit=${2:-30}
  ids=$(timeout "$limit" xdotool search --sync --onlyvisible --name "$1" 2>>"$gui_work/xdotool.log") ||
    gui_die "no visible window titled \"$1\" appeared within $limit s"
  gui_window=${ids%%$'\n'*}
}

# gui_window_size WINDOW: prints "WIDTH HEIGHT" of the window.
gui_window_size() {
  local WIDTH="" HEIGHT=""
  eval "$(xdotool getwindowgeometry --shell "$1" 2>>"$gui_work/xdotool.log" |
    grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
  [[ -n $WIDTH && -n $HEIGHT ]] || gui_die "cannot read the geometry of window $1"
  echo "$WIDTH $HEIGHT"
}

# gui_capture WINDOW PNG: photographs the window once its picture is steady.
# A picture seen before counts as steady: a blinking caret only alternates
# between two pictures.
gui_capture() {
  local window=$1 png=$2 shot=$gui_work/shot.png
  local -A seen=()
  local attempt signature
  for attempt in $(seq 20); do
    sleep 0.3
    import -window "$window" "$shot" 2>>"$gui_work/import.log" ||
      gui_die "could not capture window $window"
    signature=$(identify -format '%#' "$shot")
    if [[ -n ${seen[$signature]:-} ]]; then
      mv "$shot" "$png"
      return 0
    fi
    seen[$signature]=$attempt
  done
  gui_die "window $window did not settle within 20 captures"
}

# gui_close WINDOW: Escape arrives at the dialog as command 2 (Close / Cancel).
gui_close() {
  xdotool key --window "$1" Escape 2>>"$gui_work/xdotool.log" ||
    gui_die "could not send Escape to window $1"
}

# gui_wait_gone TITLE_REGEX SECONDS: waits until no visible window's title
# matches.
gui_wait_gone() {
  local deadline=$((SECONDS + $2))
  while xdotool search --onlyvisible --name "$1" >/dev/null 2>>"$gui_work/xdotool.log"; do
    ((SECONDS < deadline)) || gui_die "the window titled \"$1\" was still open $2 s later"
    sleep 0.2
  done
}

# gui_close_result WINDOW: closes the main dialog after a query cycle. Escape
# first; when the program is still running 4 s later, Alt+C ("&Close"), with a
# note: while a query runs, the focused "&Get time" button is disabled, which
# leaves no control with the keyboard focus, and then the dialog never sees
# Escape. Sets gui_escape_ignored to 1 in that case.
gui_close_result() {
  gui_close "$1"
  local deadline=$((SECONDS + 4))
  while kill -0 "$gui_pid" 2>/dev/null && ((SECONDS < deadline)); do
    sleep 0.2
  done
  kill -0 "$gui_pid" 2>/dev/null || return 0
  # shellcheck disable=SC2034  # read by tests/e2e/wine_query.sh
  gui_escape_ignored=1
  gui_note "note: Escape did not close the dialog after the query cycle (no control has the keyboard focus); closing it with Alt+C"
  xdotool key --window "$1" alt+c 2>>"$gui_work/xdotool.log" ||
    gui_die "could not send Alt+C to window $1"
}

# gui_write_settings KEY=VALUE...: the prefix's orv.ini with just these keys
# in [kronsec], CR LF as Windows writes it.
gui_write_settings() {
  { printf '[kronsec]\r\n'; printf '%s\r\n' "$@"; } >"$WINEPREFIX/drive_c/windows/orv.ini" ||
    gui_die "cannot write $WINEPREFIX/drive_c/windows/orv.ini"
}

# gui_start_server SERVE COUNT: the Time server (gui_timeserver) on
# 127.0.0.1:37 of the private network, serving the behaviours SERVE for COUNT
# connections and then ending; it logs to timeserver.log. Returns once it
# listens.
gui_start_server() {
  ((gui_private_network)) || gui_die "internal: a Time server on port 37 needs the private network"
  [[ -z $gui_server_pid ]] || gui_die "internal: a Time server is still running"
  [[ -x $gui_timeserver ]] || gui_die "no Time server at \"$gui_timeserver\""
  local log=$gui_work/timeserver.log
  : >"$log"
  timeout --kill-after=5 120 "$gui_timeserver" --port 37 --serve "$1" --count "$2" 2>"$log" &
  gui_server_pid=$!
  timeserver_listening "$log" "$gui_server_pid" || gui_die "no Time server on 127.0.0.1:37"
}

# gui_wait_server SECONDS: waits for the Time server to end after its COUNT
# connections; its exit status goes to gui_server_status.
gui_wait_server() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$gui_server_pid" 2>/dev/null; do
    ((SECONDS < deadline)) ||
      gui_die "the Time server had not served all its connections $1 s later; it saw $(gui_server_connections)"
    sleep 0.1
  done
  gui_server_status=0
  wait "$gui_server_pid" || gui_server_status=$?
  gui_server_pid=""
}

# gui_server_connections: how many connections the Time server has logged.
gui_server_connections() {
  grep -c '^[^ ]* #[0-9]* from 127\.0\.0\.1:' "$gui_work/timeserver.log" || true
}

# gui_wait_exit SECONDS: waits for the running program to end; its exit status
# goes to gui_status.
gui_wait_exit() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$gui_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || gui_die "the program was still running $1 s after it was closed"
    sleep 0.2
  done
  gui_status=0
  wait "$gui_pid" || gui_status=$?
  gui_pid=""
}

# shoot PNG TITLE_REGEX EXE [ARGS...]: one photograph of one program run.
shoot() {
  local png=$1 title=$2
  shift 2
  gui_start "$@"
  gui_wait_window "$title"
  gui_capture "$gui_window" "$png"
  gui_close "$gui_window"
  gui_wait_exit 30
  [[ $gui_status -eq 0 ]] || gui_die "$(basename "$1") $2 ended with status $gui_status"
  gui_note "wrote $png ($(identify -format '%wx%h' "$png"))"
}

# shoot_dialog MAIN KEY TITLE_REGEX PNG [KEYS...]: opens a dialog from the
# main dialog MAIN with the mnemonic KEY, types KEYS into it, photographs it
# and closes it with Escape.
shoot_dialog() {
  local main=$1 key=$2 title=$3 png=$4
  shift 4
  xdotool key --window "$main" "$key" 2>>"$gui_work/xdotool.log" ||
    gui_die "could not send $key to window $main"
  gui_wait_window "$title"
  if (($#)); then
    xdotool key --window "$gui_window" "$@" 2>>"$gui_work/xdotool.log" ||
      gui_die "could not send $* to window $gui_window"
  fi
  gui_capture "$gui_window" "$png"
  gui_close "$gui_window"
  gui_wait_gone "$title" 10
  gui_note "wrote $png ($(identify -format '%wx%h' "$png"))"
}

# shoot_refused_number PNG EXE: kronsec.exe's Advanced dialog after a "-"
# typed over the selected Max adjust: refused with a beep, the stored 0 back
# and the caret after it.
shoot_refused_number() {
  local png=$1 main
  gui_start "$2"
  gui_wait_window '^Kronsec$'
  main=$gui_window
  shoot_dialog "$main" alt+v '^Advanced Options$' "$png" minus
  gui_close "$main"
  gui_wait_exit 30
  [[ $gui_status -eq 0 ]] || gui_die "kronsec.exe ended with status $gui_status after Advanced"
}

# shoot_result OUT_DIR EXE: kronsec.exe runs a report-only cycle (three
# calibration queries and the final one) against the Time server; its result,
# then its About and Advanced dialogs.
shoot_result() {
  local out=$1 exe=$2 main connections
  gui_write_settings host=127.0.0.1 TZ=xST0 useTZ=0 attempts=3 reportOnly=1 \
    logOpts=2 'logPath=C:\kronsec.log'
  gui_start_server real 4
  gui_start "$exe"
  gui_wait_window "$gui_result_title"
  main=$gui_window
  gui_wait_server 20
  connections=$(gui_server_connections)
  [[ $gui_server_status -eq 0 && $connections -eq 4 ]] ||
    gui_die "the Time server saw $connections connections (status $gui_server_status); expected 4"
  gui_capture "$main" "$out/kronsec-101-result.png"
  gui_note "wrote $out/kronsec-101-result.png ($(identify -format '%wx%h' "$out/kronsec-101-result.png"))"
  shoot_dialog "$main" alt+a '^About Kronsec$' "$out/kronsec-102.png"
  shoot_dialog "$main" alt+v '^Advanced Options$' "$out/kronsec-103.png"
  gui_close_result "$main"
  gui_wait_exit 30
  [[ $gui_status -eq 0 ]] || gui_die "kronsec.exe ended with status $gui_status after its result"
}

main() {
  local repo
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  # The pictures show the file that ships: the 32-bit build.
  local out=${1:-$repo/build/screenshots} build=${2:-$repo/build/win32}
  local server=${3:-$repo/build/native/timeserver}
  local exe
  for exe in dlgpreview.exe kronsec.exe; do
    [[ -f $build/$exe ]] ||
      gui_die "$build/$exe is missing; build it: cmake --preset win32 && cmake --build --preset win32"
  done
  mkdir -p "$out" || gui_die "cannot create $out"
  out=$(cd "$out" && pwd)
  build=$(cd "$build" && pwd)
  [[ $server == /* ]] || server=$PWD/$server
  gui_enter_private_network "$repo/tests/e2e/screenshots.sh" "$out" "$build" "$server" || true
  gui_setup "$build/kronsec.exe"
  shoot "$out/template-101.png" '^Kronsec$' "$build/dlgpreview.exe" 101
  shoot "$out/template-102.png" '^About Kronsec$' "$build/dlgpreview.exe" 102
  shoot "$out/template-103.png" '^Advanced Options$' "$build/dlgpreview.exe" 103
  shoot "$out/kronsec-101.png" '^Kronsec$' "$build/kronsec.exe"
  shoot_refused_number "$out/kronsec-103-refused.png" "$build/kronsec.exe"
  if ((gui_private_network)) && [[ -x $server ]]; then
    gui_timeserver=$server
    shoot_result "$out" "$build/kronsec.exe"
    gui_note "done: eight screenshots in $out"
  else
    local why="no private network namespace"
    if ((gui_private_network)); then
      why="no Time server at $server (cmake --preset native && cmake --build --preset native --target timeserver)"
    fi
    gui_note "note: kronsec-101-result.png, kronsec-102.png and kronsec-103.png left out: $why"
    gui_note "done: five screenshots in $out"
  fi
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  main "$@"
fi

#!/usr/bin/env bash
# Photographs the dialog templates of ui/res/kronsec.rc as the win64 build shows
# them under wine64 on a private Xvfb display:
#
#   tools/screenshots.sh [OUT_DIR [BUILD_DIR]]
#
# OUT_DIR (default build/screenshots) receives
#   template-101.png, template-102.png, template-103.png  from dlgpreview.exe,
#                                                          nothing filled in;
#   kronsec-101.png                                        from kronsec.exe itself.
# BUILD_DIR (default build/win64) must hold both programs, built with
# "cmake --preset win64 && cmake --build --preset win64".
#
# Every run makes its own Xvfb and throw-away wine prefix and removes both at
# the end; every wait has a time limit. No query may ever start: the programs
# run without TZ (so kronsec starts none by itself), without a network (a
# private network namespace) where this machine allows it, and only Escape
# closes them (Enter would start one).
#
# Sourced, the script only defines the gui_* helpers (tests/e2e/wine_gui.sh).
set -euo pipefail

gui_wine64=/usr/lib/wine/wine64
gui_wineserver=/usr/lib/wine/wineserver
gui_name=${gui_name:-screenshots}
gui_work=""       # temporary folder: prefix, display number, logs
gui_xvfb_pid=""
gui_pid=""        # the Windows program now running
gui_window=""     # X window id found by gui_wait_window
gui_status=""     # exit status found by gui_wait_exit
gui_isolate=()    # prefix of each program command: no network

gui_die() {
  echo "$gui_name: error: $*" >&2
  exit 1
}

gui_note() {
  echo "$gui_name: [${SECONDS}s] $*" >&2
}

gui_require_tools() {
  local tool
  for tool in Xvfb xdotool import identify timeout "$gui_wine64" "$gui_wineserver"; do
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
  timeout 120 "$gui_wine64" wineboot -i >>"$gui_work/wine.log" 2>&1 ||
    gui_die "wineboot could not set up the wine prefix within 120 s"
  # Without a window manager wine draws caption and frame itself only when
  # told that nothing else decorates its windows; then the photographs show
  # the whole window as Windows does.
  timeout 60 "$gui_wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
    >>"$gui_work/wine.log" 2>&1 ||
    gui_die "could not set the wine prefix's window decoration"
}

# Uses a private network namespace when this machine lets us make one.
gui_choose_isolation() {
  if command -v unshare >/dev/null && unshare -n true 2>/dev/null; then
    gui_isolate=(unshare -n)
  else
    gui_isolate=()
    gui_note "note: cannot make a network namespace; running with the machine's network"
  fi
}

# Prepares display, prefix and clean-up; called once per script.
gui_setup() {
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
  timeout --kill-after=5 120 "${gui_isolate[@]}" "$gui_wine64" "$@" \
    >>"$gui_work/wine.log" 2>&1 &
  gui_pid=$!
}

# gui_wait_window TITLE_REGEX: sets gui_window to the visible window whose
# title matches, waiting at most 30 s.
gui_wait_window() {
  local ids
  ids=$(timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>>"$gui_work/xdotool.log") ||
    gui_die "no visible window titled \"$1\" appeared within 30 s"
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

main() {
  local repo
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  local out=${1:-$repo/build/screenshots} build=${2:-$repo/build/win64}
  local exe
  for exe in dlgpreview.exe kronsec.exe; do
    [[ -f $build/$exe ]] ||
      gui_die "$build/$exe is missing; build it: cmake --preset win64 && cmake --build --preset win64"
  done
  mkdir -p "$out" || gui_die "cannot create $out"
  out=$(cd "$out" && pwd)
  gui_setup
  shoot "$out/template-101.png" '^Kronsec$' "$build/dlgpreview.exe" 101
  shoot "$out/template-102.png" '^About Kronsec$' "$build/dlgpreview.exe" 102
  shoot "$out/template-103.png" '^Advanced Options$' "$build/dlgpreview.exe" 103
  shoot "$out/kronsec-101.png" '^Kronsec$' "$build/kronsec.exe"
  gui_note "done: four screenshots in $out"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  main "$@"
fi

#!/usr/bin/env bash
# The record size kronsec.exe hands the log-file chooser: Windows 95, 98 and
# NT 4 refuse GetOpenFileNameA (CDERR_STRUCTSIZE) unless lStructSize is 76,
# the size of the record they know; wine accepts larger ones too, so the
# size is read where it is passed. Under 32-bit wine, on a private Xvfb
# display, each program runs from a folder of its own beside a stand-in
# COMDLG32.DLL (tests/e2e/chooser/comdlg32_probe.c, loaded in place of
# wine's by a DLL override) that writes the size it receives into
# ofnsize.txt and cancels.
#
#   tests/e2e/wine_chooser.sh BUILD_DIR        (the win32 build)
#
# Rows:
# 1. kronsec.exe: Alt+V opens Advanced Options, Alt+L its "&Log file ..."
#    button: the chooser must be handed 76.
# 2. full_size_caller.exe, the fault planted: it passes the headers' full
#    size (88), and the check must say so.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
gui_name=wine_chooser  # the helpers' messages start with it
# shellcheck source-path=SCRIPTDIR source=../../tests/e2e/screenshots.sh
source "$repo/tests/e2e/screenshots.sh"

accepted_size=76  # OPENFILENAME_SIZE_VERSION_400: what every Windows accepts
# Wine loads the stand-in from the program's folder instead of its own.
probe_overrides="comdlg32=n,b;mscoree,mshtml="

fail() {
  gui_die "FAILED: $*"
}

# size_passed FOLDER: the size the stand-in wrote there, waiting up to 30 s.
size_passed() {
  local file=$1/ofnsize.txt deadline=$((SECONDS + 30))
  until [[ -s $file ]]; do
    ((SECONDS < deadline)) || fail "no chooser call was recorded in $file within 30 s"
    sleep 0.2
  done
  tr -d '\r\n' <"$file"
}

# check_size SIZE: whether it is the one every Windows accepts.
check_size() {
  [[ $1 == "$accepted_size" ]]
}

# folder_with PROGRAM: a folder holding the program and the stand-in.
folder_with() {
  local folder=$gui_work/$(basename "$1" .exe)
  mkdir -p "$folder"
  cp "$1" "$chooser/comdlg32.dll" "$folder/"
  echo "$folder"
}

# start_in FOLDER EXE: runs EXE with FOLDER as its current folder, where
# the stand-in writes, and with the stand-in in place of wine's COMDLG32.
start_in() {
  cd "$1"
  WINEDLLOVERRIDES=$probe_overrides gui_start "$2"
  cd "$gui_work"
}

# kronsec_size: kronsec.exe opens its chooser from Advanced Options.
kronsec_size() {
  local folder
  folder=$(folder_with "$build/kronsec.exe")
  start_in "$folder" "$folder/kronsec.exe"
  gui_wait_window '^Kronsec$'
  local main=$gui_window
  xdotool key --window "$main" alt+v 2>>"$gui_work/xdotool.log" || fail "could not press Advanced"
  gui_wait_window '^Advanced Options$'
  local advanced=$gui_window
  xdotool key --window "$advanced" alt+l 2>>"$gui_work/xdotool.log" || fail "could not press Log file"
  size=$(size_passed "$folder")
  gui_close "$advanced"
  gui_wait_gone '^Advanced Options$' 10
  gui_close "$main"
  gui_wait_exit 30
}

# planted_size: the planted caller passes its size and ends.
planted_size() {
  local folder
  folder=$(folder_with "$chooser/full_size_caller.exe")
  start_in "$folder" "$folder/full_size_caller.exe"
  size=$(size_passed "$folder")
  gui_wait_exit 30
}

main() {
  build=${1:?usage: tests/e2e/wine_chooser.sh BUILD_DIR}
  build=$(cd "$build" && pwd)
  chooser=$build/chooser
  local file
  for file in kronsec.exe chooser/comdlg32.dll chooser/full_size_caller.exe; do
    [[ -f $build/$file ]] || gui_die "$build/$file is missing; build first: cmake --build --preset win32"
  done
  gui_enter_private_network "$repo/tests/e2e/wine_chooser.sh" "$build" ||
    gui_note "note: no private network namespace; the programs make no connection here anyway"
  gui_setup "$build/kronsec.exe"
  local size=""
  kronsec_size
  check_size "$size" || fail "kronsec.exe hands the chooser a record of $size bytes; Windows 95 and NT 4 accept only $accepted_size"
  gui_note "kronsec.exe hands the chooser $size bytes"
  planted_size
  ! check_size "$size" || fail "the planted caller's $size bytes were not caught"
  gui_note "the planted caller's $size bytes are caught"
  gui_note "PASSED"
}

main "$@"

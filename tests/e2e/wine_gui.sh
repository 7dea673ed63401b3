#!/usr/bin/env bash
# GUI smoke test of a Windows build under wine (32-bit wine for the shipped
# 32-bit build) on a private Xvfb display:
#
#   tests/e2e/wine_gui.sh [BUILD_DIR]      (default build/win64; builds nothing)
#
# 1. Runs kronsec.exe in a fresh wine prefix, waits for its "Kronsec" dialog,
#    checks that it is visible, on the screen and of a plausible size, types
#    "7x2" into Max adjust and "-120" into Calibration attempts of its
#    Advanced dialog, each over the selected number (a refused key changes
#    nothing: 72 and 120) and presses OK, closes it with Escape and expects
#    exit status 0 and the saved settings ([kronsec] with the default host,
#    useCustom=0, maxAdjust=72 and attempts=120) in the prefix's orv.ini.
# 2. Runs the unit tests that open real dialogs (AdvancedNumbers.*, skipped
#    by ctest's wine run, which has no display) on this display.
# 3. Runs tests/e2e/screenshots.sh into a temporary folder and checks its
#    pictures.
#
# The helpers (Xvfb, prefix, waits with time limits, clean-up) come from
# tests/e2e/screenshots.sh. The whole run stays within ctest's 240 s.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
gui_name=wine_gui  # the helpers' messages start with it
# shellcheck source-path=SCRIPTDIR source=screenshots.sh
source "$repo/tests/e2e/screenshots.sh"

budget=225  # seconds for the whole test, below ctest's limit
screen_width=1024
screen_height=768

fail() {
  gui_die "FAILED: $*"
}

# check_size WHAT WIDTH HEIGHT DLU_WIDTH DLU_HEIGHT: pixels per dialog unit
# lie between 1.25 (a narrow font) and 2.2 (a wide one); the frame and the
# caption add up to 20 and 60 pixels.
check_size() {
  local what=$1 width=$2 height=$3 dlu_width=$4 dlu_height=$5
  local min_w=$((dlu_width * 5 / 4)) max_w=$((dlu_width * 22 / 10 + 20))
  local min_h=$((dlu_height * 5 / 4)) max_h=$((dlu_height * 22 / 10 + 60))
  ((width >= min_w && width <= max_w && height >= min_h && height <= max_h)) ||
    fail "$what is ${width}x${height} pixels; expected ${min_w}-${max_w} x ${min_h}-${max_h}"
}

check_main_window() {
  local size X="" Y=""
  size=$(gui_window_size "$gui_window")
  local width=${size% *} height=${size#* }
  check_size "the main dialog" "$width" "$height" 165 184
  eval "$(xdotool getwindowgeometry --shell "$gui_window" | grep -E '^[XY]=-?[0-9]+$')"
  [[ -n $X && -n $Y ]] || fail "cannot read the position of the main dialog"
  local x=$X y=$Y
  ((x >= 0 && y >= 0 && x + width <= screen_width && y + height <= screen_height)) ||
    fail "the main dialog at ${x},${y} size ${width}x${height} is not wholly on the ${screen_width}x${screen_height} screen"
  gui_note "main dialog visible at ${x},${y}, ${width}x${height} pixels"
}

check_settings_file() {
  local ini=$WINEPREFIX/drive_c/windows/orv.ini line
  [[ -s $ini ]] || fail "no settings file $ini after Close"
  for line in '[kronsec]' 'host=time.nist.gov' 'useCustom=0' 'maxAdjust=72' 'attempts=120'; do
    grep -qxF "$line" <<<"$(tr -d '\r' <"$ini")" ||
      fail "$ini lacks the line \"$line\"; it holds: $(tr -d '\r' <"$ini" | tr '\n' ' ')"
  done
  gui_note "orv.ini holds [kronsec], host=time.nist.gov, useCustom=0, maxAdjust=72 and attempts=120"
}

# type_numbers MAIN: the Advanced dialog opens with Max adjust's 0 selected.
# "7" replaces it; "x" is refused with a beep and changes nothing, so "2"
# makes 72. Six Tabs reach Calibration attempts, whose 3 the Tab selects;
# "-" is refused and leaves the 3 selected, so "120" replaces it. Return is
# OK. A restored field with the caret after it would have made 312 (or 3120).
type_numbers() {
  xdotool key --window "$1" alt+v 2>>"$gui_work/xdotool.log" || fail "could not send Alt+V"
  gui_wait_window '^Advanced Options$'
  xdotool key --window "$gui_window" 7 x 2 Tab Tab Tab Tab Tab Tab minus 1 2 0 Return \
    2>>"$gui_work/xdotool.log" || fail "could not type into the Advanced dialog"
  gui_wait_gone '^Advanced Options$' 10
  gui_note "typed 7 x 2 into Max adjust and - 1 2 0 into Calibration attempts, and pressed OK"
}

smoke_test() {
  local build=$1
  gui_start "$build/kronsec.exe"
  gui_wait_window '^Kronsec$'
  check_main_window
  local main=$gui_window
  type_numbers "$main"
  gui_close "$main"
  gui_wait_exit 30
  [[ $gui_status -eq 0 ]] || fail "kronsec.exe ended with status $gui_status after Escape"
  gui_note "kronsec.exe closed with status 0"
  check_settings_file
}

# dialog_unit_tests BUILD: kronsec_tests.exe's AdvancedNumbers rows on this
# display; every one must run, none may be skipped.
dialog_unit_tests() {
  local out=$gui_work/dialog_tests.txt
  [[ -f $1/kronsec_tests.exe ]] || fail "$1/kronsec_tests.exe is missing"
  timeout 120 "$gui_wine" "$1/kronsec_tests.exe" --gtest_filter='AdvancedNumbers.*' >"$out" 2>&1 ||
    fail "the AdvancedNumbers tests failed: $(grep -E 'Failure|FAILED|Which is' "$out" | head -n 12 | tr '\n' ' ')"
  if grep -q 'SKIPPED' "$out"; then
    fail "the AdvancedNumbers tests were skipped: $(grep SKIPPED "$out" | tr '\n' ' ')"
  fi
  gui_note "kronsec_tests.exe AdvancedNumbers: $(grep -E '^\[  PASSED  \]' "$out")"
}

# check_png FILE DLU_WIDTH DLU_HEIGHT
check_png() {
  local png=$1 info
  [[ -s $png ]] || fail "screenshot $png is missing or empty"
  info=$(identify -format '%w %h %k' "$png") || fail "$png is not a readable picture"
  local width height colours
  read -r width height colours <<<"$info"
  check_size "$(basename "$png")" "$width" "$height" "$2" "$3"
  # A blank or half-painted window has only a few colours.
  ((colours >= 6)) || fail "$(basename "$png") has only $colours colours: nothing drawn?"
}

screenshots_test() {
  local build=$1 shots=$gui_work/shots
  local remaining=$((budget - SECONDS))
  ((remaining > 30)) || fail "no time left for the screenshots ($SECONDS s used)"
  timeout --kill-after=10 "$remaining" bash "$repo/tests/e2e/screenshots.sh" "$shots" "$build" ||
    fail "tests/e2e/screenshots.sh failed (status $?)"
  check_png "$shots/template-101.png" 165 184
  check_png "$shots/template-102.png" 161 157
  check_png "$shots/template-103.png" 185 138
  check_png "$shots/kronsec-101.png" 165 184
  check_png "$shots/kronsec-103-refused.png" 185 138
  gui_note "screenshots present and of the expected sizes"
}

main() {
  local build=${1:-$repo/build/win64}
  local exe
  for exe in kronsec.exe dlgpreview.exe; do
    [[ -f $build/$exe ]] ||
      gui_die "$build/$exe is missing; build first: cmake --preset win32 && cmake --build --preset win32"
  done
  build=$(cd "$build" && pwd)
  gui_setup "$build/kronsec.exe"
  smoke_test "$build"
  dialog_unit_tests "$build"
  # Our prefix is done with; stopping it now spares the screenshots' prefix.
  timeout 20 "$gui_wineserver" -k 2>/dev/null || true
  screenshots_test "$build"
  gui_note "PASSED"
}

main "$@"

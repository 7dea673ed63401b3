#!/usr/bin/env bash
# kronsec.hlp as a Windows user meets it: kronsec.exe and kronsec.hlp copied
# into a folder of their own and started from another current folder, under
# wine (32-bit wine for the shipped 32-bit build) on a private Xvfb display,
# in a throw-away prefix and a private network namespace, with no TZ (so no
# query starts).
#
#   tests/e2e/wine_help.sh [BUILD_DIR [SCREENSHOT_DIR]]   (default build/win32)
#
# 1. The main dialog's Help opens kronsec.hlp in wine's help viewer at its
#    contents (HELP_CONTENTS);
#    Its first entry opens the main dialog's topic, whose first
#    cross-reference jumps to Time zones;
# 2. Advanced Options' Help opens it at the Advanced options topic
#    (HELP_CONTEXT 1000, through the map tools/gen/helpgen puts into the file);
# 3. the viewer's Index button lists the keywords of the file's index;
# 4. F1 opens what Help opens: the contents in the main dialog, the
#    Advanced options topic in Advanced Options.
# Each time the viewer's window must be up (titled "kronsec Help" or "Wine
# Help") and the viewer
# must have laid out that topic's own text; wine's winhelp trace shows which
# text it laid out. SCREENSHOT_DIR, when given, receives help-contents.png,
# help-jump.png, help-index.png and help-advanced.png, the whole screen at
# each step, and help-f1-main.png and help-f1-advanced.png.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
gui_name=wine_help  # the helpers' messages start with it
# shellcheck source-path=SCRIPTDIR source=screenshots.sh
source "$repo/tests/e2e/screenshots.sh"

# The viewer names its window after the help file's title, or after itself
# when it was started to serve WinHelp calls.
viewer_title='^(kronsec|Wine) Help'
# Plain words found in one topic only (doc/kronsec.but); the viewer lays out
# each run of text between format changes as one piece.
contents_text="kronsec sets this computer's clock from a Time server"
advanced_text='opens the Advanced Options dialog'
main_text='kronsec works in one dialog'
zones_text='kronsec describes the zone with a TZ text'
# Where wine's viewer draws its Index button, in the viewer's window.
index_button_x=115
index_button_y=52

fail() {
  gui_die "FAILED: $*"
}

# trace_since LINE: the viewer's trace from that line of wine.log on.
trace_since() {
  tail -n "+$1" "$gui_work/wine.log"
}

# laid_out: the runs of text the viewer put on its page, from the trace.
laid_out() {
  grep -F 'Got text: "' || true
}

log_lines() {
  wc -l <"$gui_work/wine.log"
}

# expect_topic FROM_LINE WANTED UNWANTED WHAT: the viewer laid out WANTED
# (and not UNWANTED) since FROM_LINE of the log.
expect_topic() {
  local from=$1 wanted=$2 unwanted=$3 what=$4 deadline=$((SECONDS + 30))
  until grep -qF "$wanted" <<<"$(trace_since "$from" | laid_out)"; do
    ((SECONDS < deadline)) || fail "the help viewer did not show $what (no \"$wanted\" laid out)"
    sleep 0.3
  done
  ! grep -qF "$unwanted" <<<"$(trace_since "$from" | laid_out)" ||
    fail "the help viewer laid out \"$unwanted\" when it should show only $what"
  gui_note "the help viewer shows $what"
}

# shoot_screen NAME: the whole screen, once the viewer has drawn it (once
# its picture is steady).
shoot_screen() {
  [[ -n $shots ]] || return 0
  gui_capture root "$shots/$1"
  gui_note "wrote $shots/$1"
}

# follow_first_link TEXT WHAT: clicks the first link on the viewer's page
# (links are drawn in green) and expects the topic with TEXT to be laid out.
follow_first_link() {
  local text=$1 what=$2 shot=$gui_work/viewer.png pixels=$gui_work/viewer.txt from
  import -window "$gui_window" "$shot" 2>>"$gui_work/import.log" || fail "could not photograph the viewer"
  convert "$shot" txt:"$pixels" || fail "could not read the viewer's picture"
  local pixel
  pixel=$(grep -m1 '#008000' "$pixels") || fail "no link on the viewer's page (for $what)"
  local at=${pixel%%:*}
  from=$(log_lines)
  xdotool mousemove --window "$gui_window" $((${at%,*} + 4)) $((${at#*,} + 2)) click 1 \
    2>>"$gui_work/xdotool.log" || fail "could not click the link"
  expect_topic "$from" "$text" "$contents_text" "$what"
}

# open_index: the viewer's Index button (in its button bar, left of About)
# opens the list of keywords.
open_index() {
  xdotool mousemove --window "$gui_window" "$index_button_x" "$index_button_y" click 1 \
    2>>"$gui_work/xdotool.log" || fail "could not press the viewer's Index button"
  gui_wait_window '^Help topics'
  gui_note "the Index opened: \"$(xdotool getwindowname "$gui_window")\""
  shoot_screen help-index.png
  xdotool key --window "$gui_window" Escape 2>>"$gui_work/xdotool.log" || fail "could not close the Index"
  gui_wait_gone '^Help topics' 10
  # Without a window manager the keyboard goes where the pointer is: away
  # from the dialogs, keys sent to a window reach it again.
  xdotool mousemove 0 0 2>>"$gui_work/xdotool.log" || fail "could not move the pointer away"
}

# press_f1 WINDOW WANTED UNWANTED WHAT: F1 in kronsec's dialog opens the
# viewer at the topic with WANTED.
press_f1() {
  local from
  from=$(log_lines)
  xdotool key --window "$1" F1 2>>"$gui_work/xdotool.log" || fail "could not press F1"
  gui_wait_window "$viewer_title"
  expect_topic "$from" "$2" "$3" "$4"
}

# close_viewer: closed, the viewer gives the keyboard back to kronsec's
# dialog under it.
close_viewer() {
  xdotool key --window "$gui_window" alt+F4 2>>"$gui_work/xdotool.log" || fail "could not close the help viewer"
  gui_wait_gone "$viewer_title" 10
}

main() {
  local build=${1:-$repo/build/win32}
  shots=${2:-}
  local file
  for file in kronsec.exe kronsec.hlp; do
    [[ -f $build/$file ]] ||
      gui_die "$build/$file is missing; build first: cmake --preset win32 && cmake --build --preset win32"
  done
  build=$(cd "$build" && pwd)
  if [[ -n $shots ]]; then
    mkdir -p "$shots" && shots=$(cd "$shots" && pwd)
  fi
  gui_enter_private_network "$repo/tests/e2e/wine_help.sh" "$build" "$shots" ||
    gui_note "note: no private network namespace; the program makes no connection here anyway"
  gui_setup "$build/kronsec.exe"
  # The viewer's trace names the text it lays out; nothing else is traced.
  export WINEDEBUG=-all,+winhelp
  # As a user keeps them: kronsec.exe and kronsec.hlp in a folder of their
  # own, started from another current folder (as a shortcut, the Run box or
  # a scheduler may), where no kronsec.hlp lies.
  local folder=$gui_work/kronsec elsewhere=$gui_work/elsewhere
  mkdir -p "$folder" "$elsewhere"
  cp "$build/kronsec.exe" "$build/kronsec.hlp" "$folder/"
  cd "$elsewhere"
  gui_start "$folder/kronsec.exe"
  gui_wait_window '^Kronsec$'
  local main=$gui_window from

  from=$(log_lines)
  xdotool key --window "$main" alt+h 2>>"$gui_work/xdotool.log" || fail "could not press Help"
  gui_wait_window "$viewer_title"
  gui_note "the help viewer opened: \"$(xdotool getwindowname "$gui_window")\""
  expect_topic "$from" "$contents_text" "$advanced_text" "the contents"
  shoot_screen help-contents.png
  local viewer=$gui_window
  # The contents' first entry, then the first cross-reference of that
  # topic (Local TZ's "See" Time zones): jumps, both.
  follow_first_link "$main_text" "the main dialog's topic"
  follow_first_link "$zones_text" "the Time zones topic, by the cross-reference"
  shoot_screen help-jump.png
  gui_window=$viewer
  close_viewer

  # F1 asks the main dialog for help: the same contents as its Help button.
  press_f1 "$main" "$contents_text" "$advanced_text" "the contents, by F1 in the main dialog"
  shoot_screen help-f1-main.png
  close_viewer

  xdotool key --window "$main" alt+v 2>>"$gui_work/xdotool.log" || fail "could not press Advanced"
  gui_wait_window '^Advanced Options$'
  local advanced=$gui_window
  from=$(log_lines)
  xdotool key --window "$advanced" alt+h 2>>"$gui_work/xdotool.log" || fail "could not press Help in Advanced Options"
  gui_wait_window "$viewer_title"
  expect_topic "$from" "$advanced_text" "$contents_text" "the Advanced options topic"
  shoot_screen help-advanced.png
  close_viewer
  press_f1 "$advanced" "$advanced_text" "$contents_text" "the Advanced options topic, by F1 in Advanced Options"
  shoot_screen help-f1-advanced.png
  close_viewer

  gui_close "$advanced"
  gui_wait_gone '^Advanced Options$' 10

  # The Index last: once it has been open, keys sent to kronsec's dialog get
  # lost under wine until a click on its caption activates it again.
  xdotool key --window "$main" alt+h 2>>"$gui_work/xdotool.log" || fail "could not press Help"
  gui_wait_window "$viewer_title"
  viewer=$gui_window
  open_index
  gui_window=$viewer
  close_viewer
  xdotool mousemove --window "$main" 40 8 click 1 2>>"$gui_work/xdotool.log" ||
    fail "could not click the main dialog's caption"
  gui_close "$main"
  gui_wait_exit 30
  [[ $gui_status -eq 0 ]] || fail "kronsec.exe ended with status $gui_status"
  gui_note "PASSED"
}

main "$@"

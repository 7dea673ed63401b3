#!/usr/bin/env bash
# Saves killed at random moments: kronsec runs headless again and again from
# the same settings, which its save rewrites (every value below is read and
# written back in its plain form), and is killed with SIGKILL at a random
# moment of its run. After every kill orv.ini must hold the old values or the
# new ones, all of them; a save's temporary file may be left by a kill, and
# the next save removes it. One clean run at the end leaves none.
# Usage: settings_kill.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-200}
cd "$(dirname "$0")/../.."
source tools/netns.sh
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }

work=$(mktemp -d /tmp/kronsec-kill-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Old and new forms of the same settings; the padding makes a save take long
# enough to be killed in the middle of it.
old_keys=(useDST=7 add30=5 autoClose=9 attempts=+0 maxAdjust=0x10 TZindex=-0001 adjOpt=00 logOpts=000)
new_keys=(useDST=1 add30=1 autoClose=1 attempts=0 maxAdjust=16 TZindex=-1 adjOpt=0 logOpts=0)
{
  echo "[padding]"
  for i in $(seq 40000); do echo "line$i=some text to make the file about two megabytes long"; done
  echo "[kronsec]"
  echo "host=127.0.0.1"
  echo "TZ=xST0"
  echo "useTZ=0"
  echo "reportOnly=1"
  printf '%s\n' "${old_keys[@]}"
} > "$work/old.ini"

in_private_network bash -c '
  build=$1 work=$2 runs=$3
  shift 3
  old=$(echo "$1"); new=$(echo "$2")
  count() { grep -c -x -F -f <(tr " " "\n" <<<"$1") "$work/orv.ini" || true; }
  olds=0 news=0 torn=0 leftovers=0
  # Kill moments spread over a whole run, as long as one takes here and now.
  cp "$work/old.ini" "$work/orv.ini"
  start=$(date +%s%N)
  $build/kronsec --headless -c "$work" </dev/null >/dev/null 2>&1 || true
  span=$(( ($(date +%s%N) - start) / 1000000 * 12 / 10 + 1 ))
  for i in $(seq "$runs"); do
    cp "$work/old.ini" "$work/orv.ini"
    $build/kronsec --headless -c "$work" </dev/null >/dev/null 2>&1 &
    pid=$!
    ms=$(( RANDOM % span ))
    sleep "$(printf "%d.%03d" $((ms / 1000)) $((ms % 1000)))"
    kill -KILL $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    o=$(count "$old"); n=$(count "$new"); [ -n "${DEBUG_KILL:-}" ] && echo "run $i: old $o new $n" >&2
    if [ "$o" = 8 ]; then olds=$((olds + 1)); elif [ "$n" = 8 ]; then news=$((news + 1))
    else torn=$((torn + 1)); echo "run $i: $o old and $n new values" >&2; fi
    left=$(find "$work" -name ".orv.ini.*" | wc -l)
    [ "$left" -gt "$leftovers" ] && leftovers=$left
  done
  $build/kronsec --headless -c "$work" </dev/null >/dev/null 2>&1 || true
  echo "$olds $news $torn $leftovers $(find "$work" -name ".orv.ini.*" -o -name ".win.ini.*" | wc -l)"
' run "$build" "$work" "$runs" "${old_keys[*]}" "${new_keys[*]}" >"$work/result"

read -r olds news torn most remaining <"$work/result"
echo "settings_kill: $runs runs killed: $olds left the old settings, $news the new, $torn torn;" \
  "at most $most temporary file(s) at a time, $remaining after a clean run"
[ "$torn" = 0 ] || { echo "FAIL: $torn saves were torn" >&2; exit 1; }
[ "$remaining" = 0 ] || { echo "FAIL: $remaining temporary files remain" >&2; exit 1; }
[ "$news" -gt 0 ] || { echo "FAIL: no killed run got as far as its save" >&2; exit 1; }
echo "settings_kill: passed"

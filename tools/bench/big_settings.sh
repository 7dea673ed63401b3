#!/usr/bin/env bash
# How kronsec copes with a big orv.ini: one headless report-only run against
# the bundled Time server in a private network, with MB megabytes of other
# sections in the file. Prints the time from start to the answer, from the
# answer to the exit, the peak memory and how many times the file was
# replaced (strace).
# Usage: big_settings.sh BUILD_DIR [MB]
set -euo pipefail
build=$(cd "$1" && pwd)
mb=${2:-10}
cd "$(dirname "$0")/../.."
source tools/netns.sh
work=$(mktemp -d /tmp/kronsec-big-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
{
  echo "[padding]"
  yes "line=some text, sixty-four bytes long with its line end....." | head -c $((mb * 1048576)) || true
  printf '\n[kronsec]\nhost=127.0.0.1\nTZ=xST0\nuseTZ=0\nattempts=0\nreportOnly=1\nuseDST=7\n'
} > "$work/orv.ini"
in_private_network bash -c '
  build=$1 work=$2
  $build/timeserver --port 37 --quiet & server=$!
  sleep 0.3
  /usr/bin/time -f "%M" -o "$work/rss" strace -f -ttt -e trace=execve,recvfrom,rename,exit_group \
    -o "$work/trace" $build/kronsec --headless -c "$work" </dev/null >/dev/null 2>"$work/err" || true
  kill $server
' run "$build" "$work"
awk -v rss="$(tail -n 1 "$work/rss")" '
  /execve\(/ && !start { start = $2 }
  /recvfrom\(.* = 4$/ { answer = $2 }
  /exit_group\(/ { done = $2 }
  /rename\(/ { renames++ }
  END { printf "start to answer %.0f ms, answer to exit %.0f ms, peak RSS %.1f MiB, file replaces %d\n",
               (answer - start) * 1000, (done - answer) * 1000, rss / 1024, renames }' "$work/trace"

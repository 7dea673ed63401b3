#!/usr/bin/env bash
# How kronsec copes with a big orv.ini: one headless report-only run against
# the bundled Time server in a private network, with MB megabytes of other
# sections in the file. Prints the time from start to the answer, from the
# answer to the exit, the peak memory, also as a multiple of the file's size
# (a save reads the file afresh and writes it from pieces, so the file is
# held once, with its line records: 80 MiB, 1.6x, for 50 MB measured when
# that came in; 2.5x is the most we accept), and how many times the file was
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
bytes=$(stat -c %s "$work/orv.ini")
in_private_network bash -c '
  build=$1 work=$2
  $build/timeserver --port 37 --quiet & server=$!
  sleep 0.3
  /usr/bin/time -f "%M" -o "$work/rss" strace -f -ttt -e trace=execve,recvfrom,rename,exit_group \
    -o "$work/trace" $build/kronsec --headless -c "$work" </dev/null >/dev/null 2>"$work/err" || true
  kill $server
' run "$build" "$work"
awk -v rss="$(tail -n 1 "$work/rss")" -v bytes="$bytes" '
  /execve\(/ && !start { start = $2 }
  /recvfrom\(.* = 4$/ { answer = $2 }
  /exit_group\(/ { done = $2 }
  /rename\(/ { renames++ }
  END { printf "start to answer %.0f ms, answer to exit %.0f ms, peak RSS %.1f MiB (%.2f x the %.1f MiB file), file replaces %d\n",
               (answer - start) * 1000, (done - answer) * 1000, rss / 1024, rss * 1024 / bytes,
               bytes / 1048576, renames }' "$work/trace"

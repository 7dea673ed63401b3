#!/usr/bin/env bash
# What a big orv.ini costs kronsec: for each shape of file, one headless
# report-only run against the bundled Time server in a private network, with
# MB megabytes of that shape in the file (the settings the run needs come
# first, in [kronsec]). The run reads the file, checks it, asks the server
# and saves its settings back into it. Prints one row per shape: its size,
# the run's peak memory (RSS) and that as a multiple of the file's size, the
# bound (twice the file's size plus 8 MiB) and whether the run kept to it,
# and how long the run took. Ends with status 1 when a run went over its
# bound (the test settings_memory runs it so on smaller files), 77 when no
# private network can be made.
# Usage: big_settings.sh BUILD_DIR [MB]
set -euo pipefail
build=$(cd "$1" && pwd)
mb=${2:-50}
cd "$(dirname "$0")/../.."
source tools/netns.sh
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }
work=$(mktemp -d /tmp/kronsec-big-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
bytes=$((mb * 1048576))

# The MB megabytes of one shape, on stdout.
shape_bytes() {
  case $1 in
    empty-lines) head -c "$bytes" /dev/zero | tr '\0' '\n' ;;
    keys-in-kronsec) seq -f 'key%.0f=some value' 1 1000000000 | head -c "$bytes" ;;
    comment-lines) yes '; a comment line of a hand-edited file' | head -c "$bytes" ;;
    short-sections) seq -f '[s%.0f]' 1 1000000000 | head -c "$bytes" ;;
    one-long-line) printf 'long='; head -c "$bytes" /dev/zero | tr '\0' 'x' ;;
  esac
}

over=0
printf '%-16s %10s %12s %7s %12s %5s %8s\n' shape size 'peak RSS' ratio bound kept time
for shape in empty-lines keys-in-kronsec comment-lines short-sections one-long-line; do
  {
    printf '[kronsec]\nhost=127.0.0.1\nTZ=xST0\nuseTZ=0\nattempts=0\nreportOnly=1\n'
    shape_bytes "$shape" || true
    echo
  } >"$work/orv.ini"
  size=$(stat -c %s "$work/orv.ini")
  in_private_network bash -c '
    build=$1 work=$2
    $build/timeserver --port 37 --quiet & server=$!
    sleep 0.3
    /usr/bin/time -f "%M %e" -o "$work/usage" $build/kronsec --headless -c "$work" \
      </dev/null >"$work/out" 2>"$work/err" || true
    kill $server
  ' run "$build" "$work"
  grep -q '^Action: *report' "$work/out" || { echo "$shape: the run did not report:" >&2; cat "$work/err" >&2; exit 1; }
  read -r rss seconds <"$work/usage"
  awk -v shape="$shape" -v size="$size" -v rss="$rss" -v seconds="$seconds" 'BEGIN {
    bound = 2 * size + 8 * 1048576
    printf "%-16s %6.1f MiB %8.1f MiB %6.2fx %8.1f MiB %5s %7.2fs\n", shape, size / 1048576,
           rss / 1024, rss * 1024 / size, bound / 1048576, rss * 1024 <= bound ? "yes" : "NO", seconds
    exit rss * 1024 > bound
  }' || over=1
done
exit $over

#!/usr/bin/env bash
# Several Time servers asked side by side, headless and report-only, in a
# private network namespace with the bundled server on 127.0.0.1, .2 and .3,
# each with its own offset. Checks what the majority says, that the odd one
# is named, and that without a majority nothing is claimed. One case reaches
# the three through one name, in a mount namespace whose /etc/hosts gives it
# the three addresses.
# Usage: several_servers.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
source tools/netns.sh
in_private_network true 2>/dev/null || { echo "no private network namespace here: skipped"; exit 77; }

work=$(mktemp -d /tmp/kronsec-several-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# run_case NAME HOST "OFFSET1 OFFSET2 OFFSET3" KRONSEC_ARGS...: the three
# servers and one report-only kronsec run; leaves out, err and status in
# $work/NAME.
run_case() {
  local name=$1 host=$2 offsets=$3; shift 3
  local dir=$work/$name
  mkdir -p "$dir"
  printf '[kronsec]\nhost=%s\nTZ=xST0\nuseTZ=0\nattempts=1\nreportOnly=1\n' "$host" >"$dir/orv.ini"
  printf '127.0.0.1 trio.test\n127.0.0.2 trio.test\n127.0.0.3 trio.test\n' >"$dir/hosts"
  in_private_network unshare -m bash -c '
    dir=$1 build=$2 offsets=$3; shift 3
    source tools/netns.sh
    mount --bind "$dir/hosts" /etc/hosts
    n=0 servers=()
    trap "kill \${servers[*]} 2>/dev/null; wait" EXIT
    for offset in $offsets; do
      n=$((n + 1))
      $build/timeserver --bind 127.0.0.$n --port 37 --serve "offset:$offset" 2>"$dir/server$n" &
      servers+=($!)
      timeserver_listening "$dir/server$n" $! || exit 1
    done
    status=0
    timeout 120 env -u TZ $build/kronsec --headless -c "$dir" "$@" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
    echo $status >"$dir/status"
  ' case "$dir" "$build" "$offsets" "$@" || fail "$name: the servers did not start"
}

expect() {  # expect NAME FILE PATTERN: the file holds a line matching PATTERN
  grep -qE -- "$3" "$work/$1/$2" || fail "$1: no line matching '$3' in $2: $(cat "$work/$1/$2")"
}
expect_status() { [ "$(cat "$work/$1/status" 2>/dev/null)" = "$2" ] || fail "$1: status $(cat "$work/$1/status" 2>/dev/null), not $2"; }

run_case majority "127.0.0.1 127.0.0.2 127.0.0.3" "10 10 -50"
expect majority out '^Diff: +-10 secs$'
expect majority err '^kronsec: 127\.0\.0\.3 disagrees with the others by 60 s; not used$'
expect_status majority 0

run_case one_name "trio.test" "10 10 -50"
expect one_name out '^Diff: +-10 secs$'
expect one_name err '^kronsec: 127\.0\.0\.3 disagrees with the others by 60 s; not used$'
expect_status one_name 0

run_case command_line "127.0.0.9" "0 5 10" -H "127.0.0.1,127.0.0.2, 127.0.0.3"
expect command_line err 'do not agree: 127\.0\.0\.1 \+0 s, 127\.0\.0\.2 \+5 s, 127\.0\.0\.3 \+10 s\. The clock was not changed\.'
grep -q '^Diff:' "$work/command_line/out" && fail "command_line: a difference was claimed: $(cat "$work/command_line/out")"
expect_status command_line 1

run_case precise "127.0.0.1 127.0.0.2 127.0.0.3" "0.437 0.437 3.0" --precise
diff=$(sed -n 's/^Diff: *\(-\{0,1\}[0-9.]*\) secs.*/\1/p' "$work/precise/out")
awk -v d="$diff" 'BEGIN { e = d + 0.437; exit !(d != "" && e <= 0.003 && e >= -0.003) }' ||
  fail "precise: Diff '$diff' is not within 3 ms of -0.437: $(cat "$work/precise/out" "$work/precise/err")"
expect precise err '^kronsec: 127\.0\.0\.3 disagrees with the others by 25[0-9][0-9] ms; not used$'
expect_status precise 0

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "several servers: all cases passed"

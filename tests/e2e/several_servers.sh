#!/usr/bin/env bash
# Several Time servers asked side by side, headless and report-only, in a
# private network namespace with the bundled server on 127.0.0.1, .2 and .3,
# each with its own offset. Checks what the majority says, that the odd one
# is named, and that without a majority nothing is claimed; that a server
# written twice votes once, attempts has a ceiling, answers that cannot be
# right are refused and a silent third is not waited for. One case reaches
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
# $work/NAME. The servers listen on 127.0.0.1, .2 and .3, or on the
# addresses ADDRESSES lists (IPv6 ones among them: fd00:: addresses are
# added to the loopback). /etc/hosts gives trio.test the three IPv4
# addresses and dual.test 127.0.0.1 and ::1.
run_case() {
  local name=$1 host=$2 offsets=$3; shift 3
  local dir=$work/$name
  mkdir -p "$dir"
  printf '[kronsec]\nhost=%s\nTZ=xST0\nuseTZ=0\nattempts=%s\nreportOnly=1\n' "$host" "${ATTEMPTS:-1}" >"$dir/orv.ini"
  printf '127.0.0.1 trio.test\n127.0.0.2 trio.test\n127.0.0.3 trio.test\n127.0.0.1 dual.test\n::1 dual.test\n' >"$dir/hosts"
  in_private_network unshare -m bash -c '
    dir=$1 build=$2 offsets=$3 addresses=$4; shift 4
    source tools/netns.sh
    mount --bind "$dir/hosts" /etc/hosts
    for a in $addresses; do [[ $a != fd00:* ]] || ip -6 addr add "$a/128" dev lo nodad; done
    read -ra bind <<<"$addresses"
    n=0 servers=()
    trap "kill \${servers[*]} 2>/dev/null; wait" EXIT
    for offset in $offsets; do
      n=$((n + 1))
      case $offset in *[a-z]*) serve=$offset ;; *) serve=offset:$offset ;; esac
      $build/timeserver --bind "${bind[n - 1]:-127.0.0.$n}" --port 37 --serve "$serve" 2>"$dir/server$n" &
      servers+=($!)
      timeserver_listening "$dir/server$n" $! || exit 1
    done
    status=0 started=$SECONDS
    timeout 120 env -u TZ $build/kronsec --headless -c "$dir" "$@" </dev/null >"$dir/out" 2>"$dir/err" || status=$?
    echo $status >"$dir/status"
    echo $((SECONDS - started)) >"$dir/seconds"
  ' case "$dir" "$build" "$offsets" "${ADDRESSES:-}" "$@" || fail "$name: the servers did not start"
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

# Each distinct address votes once, however often it is written.
run_case twice "127.0.0.2 127.0.0.2 127.0.0.1" "0 60 0"
expect twice err '^kronsec: 127\.0\.0\.2 is listed twice; asked once$'
expect_status twice 1
# A huge attempts makes 10 calibration queries and the final one; answers
# that cannot be right are refused; a silent third is not waited for.
ATTEMPTS=1000000 run_case ceiling "127.0.0.1" "0"
[ "$(grep -c ' from ' "$work/ceiling/server1")" = 11 ] || fail "ceiling: $(grep -c ' from ' "$work/ceiling/server1") connections, not 11"
expect_status ceiling 0
run_case zero "127.0.0.1" "fixed:0"
expect zero err 'refused: it was 0, which a server sends when it does not know the time\. The clock was not changed\.$'
expect_status zero 1
run_case late "127.0.0.1" "real,delay:12000:real"
expect late err 'refused: it took 12\.[0-9] s, over the 10 s kronsec accepts'
expect_status late 1
run_case silent_third "127.0.0.1 127.0.0.2 127.0.0.3" "0 0 silent"
expect silent_third err '^kronsec: 127\.0\.0\.3 was not waited for: the others had settled the result; not used$'
expect_status silent_third 0
[ "$(cat "$work/silent_third/seconds")" -lt 15 ] || fail "silent_third: took $(cat "$work/silent_third/seconds") s"

# The run's record for machines: one JSON object, its status the exit
# status, and metrics in node_exporter's text format.
run_case json "127.0.0.1 127.0.0.2 127.0.0.3" "10 10 -50" --json --metrics "$work/json/k.prom"
jq -e --argjson status "$(cat "$work/json/status")" '.status == $status and .diff == -10 and
  (.servers | length) == 3 and ([.servers[] | select(.used | not)] | length) == 1' "$work/json/out" >/dev/null ||
  fail "json: $(cat "$work/json/out")"
[ "$(wc -l <"$work/json/out")" = 1 ] || fail "json: more than one line: $(cat "$work/json/out")"
grep -qvE '^(# (HELP|TYPE) kronsec_[a-z_]+ .+|kronsec_[a-z_]+(\{server="[^"]*"\})? -?[0-9.e+]+)$' "$work/json/k.prom" &&
  fail "json: not Prometheus text: $(cat "$work/json/k.prom")"
grep -qx 'kronsec_diff_seconds -10.000000' "$work/json/k.prom" || fail "json: metrics: $(cat "$work/json/k.prom")"

# IPv6: an address, three servers of one family, a name that stands for one
# machine of both families (asked once, over the family it prefers, or the
# one -4 or -6 picks), and precise mode.
ADDRESSES="::1" run_case v6 "::1" "5"
expect v6 out '^Diff: +-5 secs$'
ADDRESSES="fd00::1 fd00::2 fd00::3" run_case v6three "fd00::1 [fd00::2] fd00::3" "10 10 -50"
expect v6three out '^Diff: +-10 secs$'
expect v6three err '^kronsec: fd00::3 disagrees with the others by 60 s; not used$'
for family in "" -4 -6; do
  ADDRESSES="127.0.0.1 ::1" run_case "dual$family" dual.test "0 60" $family
  ! grep -q 'disagrees\|did not answer' "$work/dual$family/err" || fail "dual$family: two servers: $(cat "$work/dual$family/err")"
  [ "$(cat "$work/dual$family"/server? | grep -c ' from ')" = 2 ] || fail "dual$family: not one server asked"
done
expect dual-4 out '^Diff: +0 secs$'
expect dual-6 out '^Diff: +-60 secs$'
ADDRESSES="::1" run_case v6precise "[::1]" "0.437" --precise
diff=$(sed -n 's/^Diff: *\(-\{0,1\}[0-9.]*\) secs.*/\1/p' "$work/v6precise/out")
awk -v d="$diff" 'BEGIN { e = d + 0.437; exit !(d != "" && e <= 0.003 && e >= -0.003) }' ||
  fail "v6precise: Diff '$diff' is not within 3 ms of -0.437: $(cat "$work/v6precise/out" "$work/v6precise/err")"

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "several servers: all cases passed"

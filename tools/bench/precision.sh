#!/usr/bin/env bash
# How close precise mode comes to a server's true offset, against rdate on
# the same servers. In a private network the bundled server runs with a
# known offset (spread over [-3 s, +3 s] with random fractions), once
# answering at once and once after a jittered 20-80 ms delay, and three
# servers at once on 127.0.0.1, .2 and .3 with the same offset; kronsec
# --precise -p and rdate -p each ask it. Prints, for each, the median and
# largest error, how often the truth lay inside kronsec's printed bound, the
# probes used and the wall time (three servers against one: the median
# times' ratio). Run by hand (needs build/native and rdate):
#   tools/bench/precision.sh [RUNS] [ATTEMPTS]
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/netns.sh
runs=${1:-20}
attempts=${2:-12}
command -v rdate >/dev/null || { echo "rdate is not installed (apt-get install rdate)" >&2; exit 1; }
work=$(mktemp -d /tmp/kronsec-precision-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/kronsec"
printf '[kronsec]\nhost=127.0.0.1\nTZ=xST0\nuseTZ=0\nattempts=%s\n' "$attempts" >"$work/kronsec/orv.ini"

# One row per run: kind offset kronsec_error_ms bound_ms inside probes seconds rdate_error_ms
one_run() {
  local kind=$1 offset=$2 delay=$3
  in_private_network bash -c '
    work=$1 offset=$2 delay=$3 kind=$4
    source tools/netns.sh
    serve="offset:$offset"; [ -n "$delay" ] && serve="delay:$delay:$serve"
    hosts=127.0.0.1 servers=()
    [ "$kind" = three ] && hosts="127.0.0.1 127.0.0.2 127.0.0.3"
    n=0
    for host in $hosts; do
      n=$((n + 1))
      log=$work/server; [ $n -gt 1 ] && log=$work/server$n
      build/native/timeserver --bind $host --port 37 --serve "$serve" 2>"$log" & servers+=($!)
      timeserver_listening "$log" $! || exit 1
    done
    start=$(date +%s%N)
    XDG_CONFIG_HOME=$work build/native/kronsec --headless -p --precise -H "$hosts" </dev/null >"$work/out" 2>&1 || true
    seconds=$(( ($(date +%s%N) - start) / 1000000 ))
    probes=$(grep -c " from 127.0.0.1:" "$work/server" || true)
    # rdate at a random moment: right after kronsec the server'"'"'s second
    # has just turned (kronsec'"'"'s last probe was timed so), which would flatter it.
    sleep "0.$(printf %03d $((RANDOM % 1000)))"
    line=$(TZ=UTC rdate -p -o 37 127.0.0.1 2>&1); after=$(date +%s%N)
    kill -TERM "${servers[@]}"; wait "${servers[@]}" 2>/dev/null || true
    stamp=$(date -u -d "${line#*]}" +%s 2>/dev/null || echo 0)
    # Diff, and its bound on the Net Lag line.
    diff="$(sed -n "s/^Diff: *\(-\{0,1\}[0-9.]*\) secs$/\1/p" "$work/out") $(sed -n "s/^Net Lag: *[^0-9]*\([0-9.]*\) ms$/\1/p" "$work/out")"
    awk -v k="$kind" -v o="$offset" -v d="${diff% *}" -v b="${diff#* }" -v p="$probes" \
        -v ms="$seconds" -v s="$stamp" -v a="$after" "BEGIN {
      e = (-d - o) * 1000; if (e < 0) e = -e
      r = (s - a / 1e9 - o) * 1000; if (r < 0) r = -r
      printf \"%s %.3f %.3f %.3f %d %d %.1f %.1f\n\", k, o, e, b, (e <= b + 0.0005), p, ms / 1000, r
    }"
  ' run "$work" "$offset" "$delay" "$kind"
}

for kind in loopback jitter three; do
  delay=; [ $kind = jitter ] && delay=20-80
  for i in $(seq "$runs"); do
    offset=$(awk -v seed="$RANDOM$i" 'BEGIN { srand(seed); printf "%.3f", rand() * 6 - 3 }')
    one_run $kind "$offset" "$delay"
  done
done >"$work/rows"

cat "$work/rows" | awk '{ printf "  %-8s offset %7s s  kronsec error %7.3f ms (bound %6.3f, inside %d)  probes %2d  %4.1f s  rdate error %6.1f ms\n", $1, $2, $3, $4, $5, $6, $7, $8 }'
med() { sort -n | awk '{a[NR]=$1} END {print (NR % 2 ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2)}'; }
for kind in loopback jitter three; do
  awk -v k=$kind '$1 == k' "$work/rows" >"$work/$kind"
  n=$(wc -l <"$work/$kind")
  printf '\n%s (%d runs, attempts=%s)\n' "$kind" "$n" "$attempts"
  printf '  kronsec --precise: median |error| %.3f ms, max %.3f ms, truth inside bound %d of %d, probes max %d, wall time max %.1f s\n' \
    "$(cut -d' ' -f3 "$work/$kind" | med)" "$(cut -d' ' -f3 "$work/$kind" | sort -n | tail -1)" \
    "$(awk '{s += $5} END {print s}' "$work/$kind")" "$n" \
    "$(cut -d' ' -f6 "$work/$kind" | sort -n | tail -1)" "$(cut -d' ' -f7 "$work/$kind" | sort -n | tail -1)"
  printf '  rdate -p:          median |error| %.1f ms, max %.1f ms\n' \
    "$(cut -d' ' -f8 "$work/$kind" | med)" "$(cut -d' ' -f8 "$work/$kind" | sort -n | tail -1)"
done
printf '\nthree servers against one: median wall time %.1f s against %.1f s, %.2f times\n' \
  "$(cut -d' ' -f7 "$work/three" | med)" "$(cut -d' ' -f7 "$work/loopback" | med)" \
  "$(awk -v t="$(cut -d' ' -f7 "$work/three" | med)" -v o="$(cut -d' ' -f7 "$work/loopback" | med)" 'BEGIN { print t / o }')"

#!/usr/bin/env bash
# The demo: builds the Linux kronsec and the bundled Time server, then runs one
# query cycle against the server on 127.0.0.1:37 inside a private network
# namespace. kronsec runs report-only, so this machine's clock is never set.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
source tools/netns.sh

cmake --preset native >/dev/null
cmake --build --preset native --target kronsec timeserver

demo=$(mktemp -d /tmp/kronsec-demo-XXXXXX)
trap 'rm -rf "$demo"' EXIT
mkdir -p "$demo/kronsec"
cat > "$demo/kronsec/orv.ini" <<INI
[kronsec]
host=127.0.0.1
TZ=$(machine_tz_text)
useTZ=0
attempts=3
reportOnly=1
logOpts=2
logPath=$demo/kronsec.log
INI

echo "kronsec demo: Time server on 127.0.0.1:37 (private network), settings in $demo/kronsec/orv.ini"
if [ -t 0 ] && [ -t 1 ]; then
  echo "kronsec opens in this terminal. Tab moves, Space ticks, Enter is Get time, F1 is help;"
  echo "Esc closes it. Press Enter to start."
  read -r _
  input=/dev/stdin
else
  input=/dev/null  # no terminal: kronsec runs headless and prints its result
fi
in_private_network bash -c '
  build/native/timeserver --port 37 --quiet &
  server=$!
  sleep 0.3
  XDG_CONFIG_HOME="$1" build/native/kronsec <"$2"
  status=$?
  kill "$server"; wait "$server" 2>/dev/null
  exit $status' demo "$demo" "$input"

echo "kronsec exited with status 0. The log lines it wrote (TABs shown as |):"
if [ -f "$demo/kronsec.log" ]; then tr '\t' '|' < "$demo/kronsec.log"; else echo "(none)"; fi
echo "settings after the run:"
cat "$demo/kronsec/orv.ini"

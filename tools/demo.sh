#!/usr/bin/env bash
# The demo: builds the Linux kronsec, its man page and the bundled Time server, then runs one
# query cycle against the server on 127.0.0.1:37 inside a private network
# namespace. kronsec runs report-only, so this machine's clock is never set.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh demo
source tools/netns.sh

cmake --preset native >/dev/null
cmake --build --preset native --target kronsec timeserver manpage

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
  echo "kronsec opens in this terminal and asks the server at once. Enter (Get time) asks"
  echo "again, Esc closes it; Tab moves, Space ticks, F1 is help. Press Enter to open it."
  read -r _
  input=/dev/stdin
else
  input=/dev/null  # no terminal: kronsec runs headless and prints its result
fi
# kronsec's status goes through a file: the namespace's own failures would
# otherwise pass for it.
in_private_network bash -c '
  build/native/timeserver --port 37 --quiet &
  server=$!
  sleep 0.3
  XDG_CONFIG_HOME="$1" build/native/kronsec <"$2"
  echo $? >"$1/status"
  kill "$server"; wait "$server" 2>/dev/null
  exit 0' demo "$demo" "$input" || true
if [ ! -f "$demo/status" ]; then
  echo "kronsec demo: the private network could not be set up; kronsec did not run" >&2
  exit 1
fi
status=$(cat "$demo/status")

echo "kronsec exited with status $status. The log lines it wrote (TABs shown as |):"
if [ -f "$demo/kronsec.log" ]; then tr '\t' '|' < "$demo/kronsec.log"; else echo "(none)"; fi
echo "settings after the run:"
cat "$demo/kronsec/orv.ini"
echo "the manual: man -l build/native/doc/kronsec.1"
exit "$status"

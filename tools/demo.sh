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
in_private_network bash -c '
  build/native/timeserver --port 37 --count 4 --quiet &
  server=$!
  sleep 0.3
  XDG_CONFIG_HOME="$1" build/native/kronsec </dev/null
  status=$?
  wait "$server"
  exit $status' demo "$demo"

echo "kronsec exited with status 0. The log line it wrote (TABs shown as |):"
tr '\t' '|' < "$demo/kronsec.log"
echo "settings after the run:"
cat "$demo/kronsec/orv.ini"

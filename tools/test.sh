#!/usr/bin/env bash
# Builds all four presets and runs every test: natively, under AddressSanitizer
# and UndefinedBehaviorSanitizer, and the win64 build under wine64; then the
# fuzz targets (tools/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

for preset in native asan win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset native
ctest --preset asan

# A throw-away Windows prefix: the tests write orv.ini into its Windows folder.
WINEPREFIX=$(mktemp -d /tmp/kronsec-wine-XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
ctest --preset win64

tools/fuzz.sh

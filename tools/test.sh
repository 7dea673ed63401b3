#!/usr/bin/env bash
# Builds all four presets and runs every test: natively, under AddressSanitizer
# and UndefinedBehaviorSanitizer, the shipped 32-bit build under 32-bit wine
# (where this kernel can run 32-bit code) followed by the release packages
# made from it, the win64 build under wine64; then the fuzz targets
# (tools/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

for preset in native asan win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset native
ctest --preset asan

# Each Windows build runs in a throw-away prefix of its own: the tests write
# orv.ini into its Windows folder, and a 32-bit prefix must be made by 32-bit
# wine.
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do
    WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$p"
  done
}
trap cleanup EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A 32-bit ELF of 96 bytes that only exits with status 42: whether this kernel
# runs 32-bit x86 code at all, asked of the kernel rather than guessed.
runs_32bit_code() {
  local probe
  probe=$(mktemp /tmp/kronsec-probe32-XXXXXX)
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  local status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" = 42 ]
}

if runs_32bit_code && [ -x /usr/lib/wine/wine ]; then
  exe=build/win32/kronsec.exe
  echo "32-bit Windows tests on the shipped $exe ($(stat -c %s "$exe") bytes) under 32-bit wine"
  prefix32=$(mktemp -d /tmp/kronsec-wine32-XXXXXX)
  prefixes+=("$prefix32")
  # Booted on a display: a 32-bit prefix made without one has no X driver.
  WINEPREFIX=$prefix32 WINEARCH=win32 xvfb-run -a sh -c \
    '/usr/lib/wine/wine wineboot -i >/dev/null 2>&1; /usr/lib/wine/wineserver -w'
  WINEPREFIX=$prefix32 WINEARCH=win32 ctest --preset win32
  # The release packages, from the very files just tested.
  tools/package.sh
elif runs_32bit_code; then
  echo "32-bit Windows tests NOT run: 32-bit wine (wine32:i386) is not installed"
else
  echo "32-bit Windows tests NOT run: this kernel cannot execute 32-bit code"
fi

WINEPREFIX=$(mktemp -d /tmp/kronsec-wine-XXXXXX)
prefixes+=("$WINEPREFIX")
export WINEPREFIX
ctest --preset win64

tools/fuzz.sh

#!/usr/bin/env bash
# Installs the Debian 12 packages kronsec needs to build, test and run its
# demo. Does nothing when they are all present; needs root otherwise.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev            # GoogleTest sources, built per preset
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine64                             # runs the win64 tests and GUI
  xvfb xauth imagemagick xdotool     # Windows screenshots and GUI test
  libncurses-dev tmux                # terminal front end and its tests
  iproute2 util-linux procps                # private network namespace for the demo
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "kronsec needs these Debian packages: ${missing[*]}" >&2
  echo "run as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"

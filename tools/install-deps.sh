#!/usr/bin/env bash
# Installs the Debian 12 packages kronsec needs. Does nothing when they are all
# present; needs root otherwise.
#
#   tools/install-deps.sh          everything: build, all tests, Windows builds
#   tools/install-deps.sh demo     only what tools/demo.sh needs
set -euo pipefail

# The demo builds just the native kronsec, its man page and timeserver, but it configures
# the same native preset as the tests, whose configure step reads the
# GoogleTest sources; googletest is therefore in the small set, while its
# (unbuilt) library stays out of the demo's build.
demo=(
  cmake ninja-build g++ pkg-config
  googletest                         # GoogleTest sources, built per preset
  libncurses-dev                     # terminal front end
  nlohmann-json3-dev                 # the run's record as JSON (--json)
  iproute2 util-linux                # private network namespace
  halibut                            # the man page the demo builds
)
rest=(
  libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine64                             # runs the win64 tests and GUI
  xvfb xauth imagemagick xdotool     # Windows screenshots and GUI test
  tmux procps                        # the terminal front end's test
  strace                             # counts a run's reads of orv.ini (linux_files)
  jq                                 # reads the --json record in the end-to-end tests
  faketime strace                    # drift=1's days in an afternoon; clock calls seen, not made
  nftables                           # black-hole connects in the headless test
  tzdata mount                       # a machine in another zone, in the headless test
  clang-14 libclang-rt-14-dev        # the fuzz preset (libFuzzer)
  wine32:i386                        # runs the shipped 32-bit build's tests
  lintian systemd dpkg-dev fakeroot  # the .deb: its checks, systemd-analyze, shlibdeps
  zip unzip                          # the Windows zip
  groff-base mandoc                  # the man page's lint (the test man_lint)
)

case "${1:-all}" in
  demo) packages=("${demo[@]}") ;;
  all) packages=("${demo[@]}" "${rest[@]}") ;;
  *) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac

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
# 32-bit wine comes from the i386 side of the archive.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"

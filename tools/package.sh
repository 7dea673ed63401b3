#!/usr/bin/env bash
# Makes the release files in build/package/ from the builds as they stand:
#
#   kronsec-VERSION-win32.zip   kronsec.exe, kronsec.hlp, README.txt, orv.ini
#   kronsec_VERSION_ARCH.deb    the Linux program, man page, systemd units,
#                               /etc/kronsec/orv.ini (a conffile) and the
#                               maintainer scripts (packaging/postinst, ...)
#
#   tools/package.sh [zip] [deb]       both when neither is named
#
# Before it makes anything it checks every input of the packages asked for,
# and names each one that is missing with the command that makes it.
# It builds nothing: the zip must hold the very kronsec.exe that the 32-bit
# tests ran, so a build that is out of date, or a win32 exe linked after its
# last test run or failing it, stops it. KRONSEC_UNTESTED_EXE=1 only warns
# about the tests instead (for checks of the packaging itself).
# KRONSEC_NATIVE_BUILD and KRONSEC_WIN32_BUILD name other build folders.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath -m "${KRONSEC_NATIVE_BUILD:-$root/build/native}")
win32=$(realpath -m "${KRONSEC_WIN32_BUILD:-$root/build/win32}")
out=$root/build/package
maintainer="kronsec maintainers <maintainers@users.noreply.c-seed-78d3b081.example>"

die() { echo "package.sh: $*" >&2; exit 1; }
missing=()
lacks() { missing+=("$*"); }

want_zip=0 want_deb=0
[ $# -gt 0 ] || set -- zip deb
for what in "$@"; do
  case $what in
    zip) want_zip=1 ;;
    deb) want_deb=1 ;;
    *) die "usage: tools/package.sh [zip] [deb]" ;;
  esac
done

# lacks_build BUILD_DIR PRESET FILE...: the build is configured, up to date and
# holds FILE...; each lack is told with the commands that mend it.
lacks_build() {
  local dir=$1 preset=$2 file
  shift 2
  if [ ! -f "$dir/build.ninja" ]; then
    lacks "no $preset build in $dir: cmake --preset $preset && cmake --build --preset $preset"
    return
  fi
  for file in "$@"; do
    [ -f "$dir/$file" ] || lacks "no $dir/$file: cmake --build --preset $preset"
  done
  ninja -C "$dir" -n 2>&1 | grep -q 'no work to do' ||
    lacks "$dir is out of date: cmake --build --preset $preset, then its tests"
}

# lacks_tool COMMAND PACKAGE: the command is installed.
lacks_tool() {
  command -v "$1" >/dev/null || lacks "$1 is not installed: apt-get install $2 (or tools/install-deps.sh)"
}

builds=()
if [ $want_zip = 1 ]; then
  builds+=("$win32")
  lacks_build "$win32" win32 kronsec.exe
  if [ -f "$win32/build.ninja" ] && [ ! -f "$win32/kronsec.hlp" ]; then
    lacks "no $win32/kronsec.hlp: halibut is not installed (tools/install-deps.sh), then cmake --preset win32 && cmake --build --preset win32"
  fi
  lacks_tool zip zip
fi
if [ $want_deb = 1 ]; then
  builds+=("$native")
  lacks_build "$native" native kronsec
  if [ -f "$native/build.ninja" ] && [ ! -f "$native/doc/kronsec.1" ]; then
    lacks "no man page $native/doc/kronsec.1: halibut is not installed (tools/install-deps.sh), then cmake --preset native && cmake --build --preset native"
  fi
  lacks_tool dpkg-deb dpkg
  lacks_tool dpkg-shlibdeps dpkg-dev
fi
if [ ${#missing[@]} -gt 0 ]; then
  printf 'package.sh: %s\n' "${missing[@]}" >&2
  exit 1
fi

version=$(for b in "${builds[@]}"; do sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$b/CMakeCache.txt"; done | sort -u)
[ -n "$version" ] || die "the builds name no version in their CMakeCache.txt: cmake --preset native"
[ "$(wc -l <<<"$version")" = 1 ] || die "the builds disagree on the version: $(echo $version)"
# The same moment for every file, so the same build gives the same packages.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
mkdir -p "$out"
stage=$(mktemp -d /tmp/kronsec-package-XXXXXX)
trap 'rm -rf "$stage"' EXIT
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }

if [ $want_zip = 1 ]; then
  exe=$win32/kronsec.exe
  # ctest rewrites this log on every run; it names each test and its outcome.
  log=$win32/Testing/Temporary/LastTest.log
  if [ ! "$log" -nt "$exe" ] || ! grep -q '^[0-9]*/[0-9]* Test: wine_gui$' "$log" || grep -q '^Test Failed' "$log"; then
    why="the 32-bit tests have not all passed on this kronsec.exe since it was linked (tools/test.sh runs them under 32-bit wine)"
    [ "${KRONSEC_UNTESTED_EXE:-}" = 1 ] || die "$why"
    echo "package.sh: warning: $why" >&2
  fi
  zipdir=$stage/zip
  mkdir "$zipdir"
  cp "$exe" "$win32/kronsec.hlp" "$zipdir/"
  crlf "$root/packaging/windows/README.txt" "$zipdir/README.txt"
  crlf "$root/packaging/windows/orv.ini" "$zipdir/orv.ini"
  touch -d "@$SOURCE_DATE_EPOCH" "$zipdir"/*
  zip="$out/kronsec-$version-win32.zip"
  rm -f "$zip"
  # zip keeps local times: UTC makes them the same everywhere.
  (cd "$zipdir" && TZ=UTC zip -q -X -9 "$zip" kronsec.exe kronsec.hlp README.txt orv.ini)
  echo "$zip: $(stat -c %s "$zip") bytes; kronsec.exe $(stat -c %s "$exe") bytes, sha256 $(sha256sum "$exe" | cut -d' ' -f1)"
fi

if [ $want_deb = 1 ]; then
  arch=$(dpkg --print-architecture)
  tree=$stage/deb
  DESTDIR=$tree cmake --install "$native" --prefix /usr >/dev/null
  # As Debian's own packages are stripped.
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$tree/usr/bin/kronsec"
  doc=$tree/usr/share/doc/kronsec
  mkdir -p "$doc"
  install -m 644 "$root/packaging/copyright" "$doc/copyright"
  gzip -9n -c "$root/packaging/changelog" >"$doc/changelog.gz"
  gzip -9n "$tree/usr/share/man/man1/kronsec.1"

  # dpkg-shlibdeps reads the package list from a debian/control beside it.
  mkdir -p "$stage/src/debian"
  printf 'Source: kronsec\n\nPackage: kronsec\nArchitecture: any\n' >"$stage/src/debian/control"
  depends=$(cd "$stage/src" && dpkg-shlibdeps -O -e"$tree/usr/bin/kronsec" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
  [ -n "$depends" ] || die "dpkg-shlibdeps found no dependencies of kronsec"
  # The terminal front end loads libncursesw.so.6, and libtinfo.so.6 with it,
  # when it starts (linux/tui/cursestable.h), out of dpkg-shlibdeps' sight:
  # their packages, at the versions it named while the program linked them.
  depends="$depends, libncursesw6 (>= 6), libtinfo6 (>= 6)"

  # Installed-Size as dpkg counts it: KiB per file, rounded up, and 1 for
  # every other entry.
  size=$(find "$tree" -mindepth 1 -printf '%y %s\n' | awk '{ n += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print n }')
  mkdir -p "$tree/DEBIAN"
  # Every file under /etc is the administrator's once installed: dpkg keeps
  # their edits across upgrades and removes the file only on purge.
  (cd "$tree" && find etc -type f | sort | sed 's|^|/|') >"$tree/DEBIAN/conffiles"
  cp "$root/packaging/postinst" "$root/packaging/prerm" "$root/packaging/postrm" "$tree/DEBIAN/"
  cat >"$tree/DEBIAN/control" <<EOF
Package: kronsec
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $size
Depends: $depends
Section: net
Priority: optional
Description: set the clock from an RFC 868 Time server
 kronsec asks a Time server (RFC 868, TCP port 37) for the time, measures
 the network lag with a few calibration queries and sets the system clock,
 or only reports the difference. It limits how far one change may move
 the clock and can log one line per result.
 .
 In a terminal it shows its dialog there; from cron or the included
 systemd timer (installed, not enabled) it runs one query and exits with
 a status that says what happened. The timer's settings are in
 /etc/kronsec/orv.ini.
EOF
  # mktemp's folders are private; the package's must not be.
  find "$tree" -type d -exec chmod 755 {} +
  find "$tree" -type f -exec chmod 644 {} +
  chmod 755 "$tree/usr/bin/kronsec" "$tree/DEBIAN/postinst" "$tree/DEBIAN/prerm" "$tree/DEBIAN/postrm"
  # dpkg keeps the conffiles' sums itself.
  (cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$tree/DEBIAN/md5sums"
  chmod 644 "$tree/DEBIAN/md5sums"
  find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  deb="$out/kronsec_${version}_$arch.deb"
  dpkg-deb --root-owner-group -Zxz --build "$tree" "$deb" >/dev/null
  echo "$deb: $(stat -c %s "$deb") bytes; Depends: $depends"
fi

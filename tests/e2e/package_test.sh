#!/usr/bin/env bash
# The release packages as a user gets them: tools/package.sh builds the .deb
# (and the Windows zip, when the win32 build is there and up to date); the
# .deb is installed into a throw-away root with dpkg --root, its files,
# modes and units checked, the installed kronsec asked for its version and,
# report-only in a private network, run on the example settings; lintian
# must find no error. Nothing is installed on this machine, and nothing sets
# its clock.
# Usage: package_test.sh NATIVE_BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/../.."
src=$PWD
win32=$src/build/win32
work=$(mktemp -d /tmp/kronsec-package-test-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
command -v lintian >/dev/null || { echo "FAIL: lintian is not installed (tools/install-deps.sh)" >&2; exit 1; }

# The win32 tests usually run after this one (tools/test.sh), so the gate on
# them is not this test's business: KRONSEC_UNTESTED_EXE only warns.
zip_checked=0
what=(deb)
if [ -f "$win32/kronsec.exe" ] && ninja -C "$win32" -n 2>&1 | grep -q 'no work to do'; then
  what+=(zip)
  zip_checked=1
fi
KRONSEC_NATIVE_BUILD=$build KRONSEC_UNTESTED_EXE=1 tools/package.sh "${what[@]}" 2>&1 | sed 's/^/  /'
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$src/build/package/kronsec_${version}_$(dpkg --print-architecture).deb
zip=$src/build/package/kronsec-$version-win32.zip

# --- the .deb's contents: every path, owner and mode ---
listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }')
man=./usr/share/man/man1/kronsec.1.gz
if ! grep -q " $man$" <<<"$listing"; then
  echo "NOTE: the .deb has no man page: the build installs none (the help section's install rule)"
  man=
fi
expected=$(printf '%s\n' ./ ./usr/ ./usr/bin/ ./usr/bin/kronsec ./usr/lib/ ./usr/lib/systemd/ \
  ./usr/lib/systemd/system/ ./usr/lib/systemd/system/kronsec.service \
  ./usr/lib/systemd/system/kronsec.timer ./usr/share/ ./usr/share/doc/ ./usr/share/doc/kronsec/ \
  ./usr/share/doc/kronsec/changelog.gz ./usr/share/doc/kronsec/copyright \
  ./usr/share/doc/kronsec/orv.ini.example \
  ${man:+./usr/share/man/ ./usr/share/man/man1/ $man} | sort)
[ "$(awk '{ print $3 }' <<<"$listing" | sort)" = "$expected" ] ||
  fail "the .deb holds other files than expected:"$'\n'"$(diff <(echo "$expected") <(awk '{ print $3 }' <<<"$listing" | sort))"
while read -r mode owner path; do
  case $path in
    */) want=drwxr-xr-x ;;
    ./usr/bin/kronsec) want=-rwxr-xr-x ;;
    *) want=-rw-r--r-- ;;
  esac
  [ "$mode $owner" = "$want root/root" ] || fail "$path is $mode $owner, not $want root/root"
done <<<"$listing"
# Shipped disabled: no maintainer scripts that could enable or start a unit.
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sort | tr '\n' ' ')
[ "$control" = "./ ./control ./md5sums " ] || fail "control members: $control"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libncursesw6 libtinfo6; do
  grep -q "\\b$dep (>=" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
# Every dependency is met by this Debian, whose libraries the build linked.
while read -r name op min; do
  have=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) && dpkg --compare-versions "$have" "${op:-ge}" "${min:-0}" ||
    fail "dependency $name ${op:+($op $min)} is not met here (${have:-not installed})"
done < <(tr ',' '\n' <<<"$depends" | sed 's/[()]//g; s/>=/ge/' | awk '{ print $1, $2, $3 }')

# --- installed into a throw-away root ---
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
asroot=()
[ "$(id -u)" -eq 0 ] || asroot=(fakeroot)
"${asroot[@]}" dpkg --root="$root" --force-not-root --force-depends -i "$deb" >"$work/dpkg.log" 2>&1 ||
  fail "dpkg --root -i: $(cat "$work/dpkg.log")"
"${asroot[@]}" dpkg --root="$root" --verify kronsec || fail "dpkg --verify found changed files"
for unit in kronsec.service kronsec.timer; do
  cmp -s "packaging/$unit" "$root/usr/lib/systemd/system/$unit" || fail "$unit is not packaging/$unit"
done
[ ! -e "$root/etc" ] || fail "the package put something in /etc: $(find "$root/etc")"
[ "$(stat -c %a "$root/usr/bin/kronsec")" = 755 ] || fail "usr/bin/kronsec is not mode 755"
grep -qx 'reportOnly=1' "$root/usr/share/doc/kronsec/orv.ini.example" || fail "the example settings do not keep reportOnly=1"
# gzip -9n: no name, no time stamp, best compression.
for gz in usr/share/doc/kronsec/changelog.gz ${man:+${man#./}}; do
  [ "$(od -An -tx1 -N10 "$root/$gz" | tr -d ' \n')" = 1f8b0800000000000203 ] || fail "$gz is not gzip -9n"
done
out=$("$root/usr/bin/kronsec" --version 2>&1) && [ "$out" = "kronsec $version" ] ||
  fail "the installed kronsec --version said: $out"

# The example settings as the installed program reads them: report-only, in a
# private network without the right to set the clock, against the bundled
# server; no complaint, and every line of the example kept.
source tools/netns.sh
if in_private_network true 2>/dev/null; then
  mkdir "$work/config"
  cp "$root/usr/share/doc/kronsec/orv.ini.example" "$work/config/orv.ini"
  status=0
  in_private_network bash -c '
    "$1/timeserver" --port 37 --quiet </dev/null >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 50); do (: </dev/tcp/127.0.0.1/37) 2>/dev/null && break; sleep 0.05; done
    status=0
    timeout 60 env -u TZ "$2/usr/bin/kronsec" --headless -p -H 127.0.0.1 -c "$3" </dev/null >"$3/out" 2>"$3/err" || status=$?
    kill $server; wait $server 2>/dev/null
    exit $status
  ' run "$build" "$root" "$work/config" || status=$?
  [ "$status" = 0 ] && [ ! -s "$work/config/err" ] && grep -q '^Diff:' "$work/config/out" ||
    fail "the installed kronsec on the example settings: status $status, $(cat "$work/config/err")"
  [ -z "$(grep -vxFf "$work/config/orv.ini" "$root/usr/share/doc/kronsec/orv.ini.example")" ] ||
    fail "a save lost lines of the example settings"
else
  echo "NOTE: no private network namespace here: the example settings were not run"
fi

# --- the units as systemd reads them, in the throw-away root ---
if command -v systemd-analyze >/dev/null; then
  # Only the targets the units name come from this machine's systemd.
  cp -P /lib/systemd/system/*.target "$root/usr/lib/systemd/system/"
  nomanpage=()
  [ -n "$man" ] || nomanpage=(--man=no)
  said=$(MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" "${nomanpage[@]}" \
    kronsec.service kronsec.timer 2>&1) || fail "systemd-analyze verify failed"
  [ -z "$said" ] && echo "systemd-analyze verify: no findings" || fail "systemd-analyze verify says:"$'\n'"$said"
else
  echo "NOTE: systemd-analyze is not installed (package systemd): the units were not verified"
fi

# --- lintian: no errors; warnings and notes are shown ---
said=$(lintian --tag-display-limit 0 -I "$deb" 2>/dev/null) || true
if [ -n "$said" ]; then echo "lintian:"; sed 's/^/  /' <<<"$said"; else echo "lintian: nothing to say"; fi
! grep -q '^E:' <<<"$said" || fail "lintian reports errors"

# --- the Windows zip ---
if [ $zip_checked = 1 ]; then
  members=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
  [ "$members" = "README.txt kronsec.exe kronsec.hlp orv.ini " ] || fail "the zip holds: $members"
  unzip -p "$zip" kronsec.exe | cmp -s - "$win32/kronsec.exe" || fail "the zip's kronsec.exe is not build/win32/kronsec.exe"
  unzip -p "$zip" kronsec.hlp | cmp -s - "$win32/kronsec.hlp" || fail "the zip's kronsec.hlp is not build/win32/kronsec.hlp"
  for text in README.txt orv.ini; do
    ! unzip -p "$zip" "$text" | grep -qv $'\r$' || fail "$text has lines without CR LF"
  done
  unzip -p "$zip" orv.ini | grep -qx $'reportOnly=1\r' || fail "the zip's orv.ini does not keep reportOnly=1"
fi

echo "sizes: kronsec.exe $(stat -c %s "$win32/kronsec.exe" 2>/dev/null || echo -) bytes," \
  "$(basename "$deb") $(stat -c %s "$deb") bytes," \
  "$(basename "$zip") $([ $zip_checked = 1 ] && stat -c %s "$zip" || echo -) bytes"
[ $failures = 0 ] || { echo "package_test: $failures failures" >&2; exit 1; }
if [ $zip_checked = 0 ]; then
  echo "package_test: the .deb passed; the zip was not checked: build/win32 is missing or out of date"
  exit 77
fi
echo "package_test: the .deb and the zip passed"

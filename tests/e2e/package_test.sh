#!/usr/bin/env bash
# The release packages as a user gets them: tools/package.sh builds the .deb
# (and the Windows zip, when the win32 build is there and up to date). The
# .deb's files, modes, conffiles and units are checked; then, in a
# throw-away root with dpkg --root (its maintainer scripts run outside a
# chroot, on that root through DPKG_ROOT), it is installed, run as its
# service runs it (first on the settings as shipped, then report-only in a
# private network on settings an administrator edited, which stay byte for
# byte as they were), upgraded over itself, removed and purged, after which
# no kronsec file or folder is left; lintian must find no error or warning.
# Nothing is installed on this machine, and nothing sets its clock.
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
expected=$(printf '%s\n' ./ ./etc/ ./etc/kronsec/ ./etc/kronsec/orv.ini ./usr/ ./usr/bin/ \
  ./usr/bin/kronsec ./usr/lib/ ./usr/lib/systemd/ \
  ./usr/lib/systemd/system/ ./usr/lib/systemd/system/kronsec.service \
  ./usr/lib/systemd/system/kronsec.timer ./usr/share/ ./usr/share/doc/ ./usr/share/doc/kronsec/ \
  ./usr/share/doc/kronsec/changelog.gz ./usr/share/doc/kronsec/copyright \
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
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tv | awk '{ print $1, $6 }' | sort -k 2 | tr '\n' ' ')
[ "$control" = "drwxr-xr-x ./ -rw-r--r-- ./conffiles -rw-r--r-- ./control -rw-r--r-- ./md5sums -rwxr-xr-x ./postinst -rwxr-xr-x ./postrm -rwxr-xr-x ./prerm " ] ||
  fail "control members: $control"
for script in postinst prerm postrm; do
  dpkg-deb -I "$deb" "$script" | cmp -s - "packaging/$script" || fail "the .deb's $script is not packaging/$script"
done
# The administrator's settings: a conffile, which dpkg keeps across upgrades.
conffiles=$(dpkg-deb -I "$deb" conffiles)
[ "$conffiles" = /etc/kronsec/orv.ini ] || fail "dpkg-deb -I lists as conffiles: $conffiles"
service=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/kronsec.service)
service_start=$(grep '^ExecStart=' <<<"$service")
[ "$service_start" = "ExecStart=/usr/bin/kronsec --headless --config /etc/kronsec --no-save" ] ||
  fail "kronsec.service starts: $service_start"
# A oneshot without a time-out could stay "activating" for good. The unit is
# read whole first: grep -q quitting early would break tar's pipe under pipefail.
grep -qx 'TimeoutStartSec=5min' <<<"$service" || fail "kronsec.service has no TimeoutStartSec=5min"
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
# dpkg WHAT ARGS...: dpkg on the throw-away root, its output kept in dpkg.log.
dpkg_root() {
  "${asroot[@]}" dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless \
    "$@" >"$work/dpkg.log" 2>&1 || fail "dpkg $*: $(cat "$work/dpkg.log")"
}
# Whether kronsec's units are enabled (or masked) in the root.
unit_links() { find "$root/etc/systemd" \( -name 'kronsec.*' -o -lname '*kronsec*' \) 2>/dev/null | sort; }

dpkg_root -i "$deb"
"${asroot[@]}" dpkg --root="$root" --verify kronsec || fail "dpkg --verify found changed files"
for unit in kronsec.service kronsec.timer; do
  cmp -s "packaging/$unit" "$root/usr/lib/systemd/system/$unit" || fail "$unit is not packaging/$unit"
done
cmp -s packaging/orv.ini "$root/etc/kronsec/orv.ini" || fail "/etc/kronsec/orv.ini is not packaging/orv.ini"
[ -z "$(unit_links)" ] || fail "the install enabled a unit: $(unit_links)"
[ "$(stat -c %a "$root/usr/bin/kronsec")" = 755 ] || fail "usr/bin/kronsec is not mode 755"
grep -qx 'reportOnly=1' "$root/etc/kronsec/orv.ini" || fail "the shipped settings do not keep reportOnly=1"
# gzip -9n: no name, no time stamp, best compression.
for gz in usr/share/doc/kronsec/changelog.gz ${man:+${man#./}}; do
  [ "$(od -An -tx1 -N10 "$root/$gz" | tr -d ' \n')" = 1f8b0800000000000203 ] || fail "$gz is not gzip -9n"
done
out=$("$root/usr/bin/kronsec" --version 2>&1) && [ "$out" = "kronsec $version" ] ||
  fail "the installed kronsec --version said: $out"

# The service's own command line, pointed at the throw-away root.
command=$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/system/kronsec.service")
command=${command//\/usr\/bin\/kronsec/$root/usr/bin/kronsec}
command=${command//\/etc\/kronsec/$root/etc/kronsec}
settings=$root/etc/kronsec/orv.ini
stamp() { stat -c '%s %Y %i' "$settings"; }

# The check the README's steps run after each edit finds nothing in the
# settings as shipped, with their TZ text: a run on them starts.
out=$(env -u TZ "$root/usr/bin/kronsec" --check -c "$root/etc/kronsec" 2>&1) &&
  [ "$out" = "$settings: no problems found" ] || fail "kronsec --check of the settings as shipped said: $out"
# Without the TZ line the check names TZ, and the service ends at once with
# status 1 and, last, a line that names the file to edit.
notz=$work/notz
mkdir "$notz" && grep -v '^TZ=' "$settings" >"$notz/orv.ini"
status=0
out=$(env -u TZ "$root/usr/bin/kronsec" --check -c "$notz" 2>&1) || status=$?
[ "$status" = 1 ] && grep -q 'no TZ text' <<<"$out" || fail "the check without TZ: status $status, $out"
status=0
# shellcheck disable=SC2086
env -u TZ ${command//$root\/etc\/kronsec/$notz} </dev/null >"$work/fresh.out" 2>"$work/fresh.err" || status=$?
[ "$status" = 1 ] && tail -n 1 "$work/fresh.err" | grep -q "in $notz/orv.ini (" ||
  fail "the service run without TZ: status $status, $(cat "$work/fresh.err")"

# An administrator's edit (the host), then the service's command,
# report-only against the bundled server in a private network: an answer,
# and the file byte for byte as the administrator left it.
sed -i 's/^host=.*/host=127.0.0.1/' "$settings"
cp -p "$settings" "$work/edited.ini"
before=$(stamp)
source tools/netns.sh
if in_private_network true 2>/dev/null; then
  status=0
  in_private_network bash -c '
    source tools/netns.sh
    "$1/timeserver" --port 37 </dev/null >/dev/null 2>"$3/server" &
    server=$!
    timeserver_listening "$3/server" $server || { kill $server 2>/dev/null; exit 1; }
    status=0
    timeout 60 env -u TZ $2 -p </dev/null >"$3/edited.out" 2>"$3/edited.err" || status=$?
    kill $server; wait $server 2>/dev/null
    exit $status
  ' run "$build" "$command" "$work" || status=$?
  [ "$status" = 0 ] && [ ! -s "$work/edited.err" ] && grep -q '^Diff:' "$work/edited.out" ||
    fail "the service's command on the edited settings: status $status, $(cat "$work/edited.err")"
else
  echo "NOTE: no private network namespace here: the edited settings were not run"
fi
cmp -s "$work/edited.ini" "$settings" && [ "$(stamp)" = "$before" ] ||
  fail "a report-only run changed $settings"

# The administrator enables the timer; what a host that used the package
# leaves besides: the state folder of the package's earlier service (a
# DynamicUser's private folder and its link), an empty log folder.
if command -v systemctl >/dev/null; then
  systemctl --root="$root" enable kronsec.timer >/dev/null 2>&1 || fail "systemctl --root enable kronsec.timer"
else
  echo "NOTE: systemctl is not installed (package systemd): no enabled timer was shown to upgrade and purge"
fi
enabled=$(unit_links)
[ -n "$enabled" ] || ! command -v systemctl >/dev/null || fail "systemctl --root enabled nothing in the root"

# An upgrade over itself keeps the administrator's settings and the units
# as they were.
dpkg_root -i "$deb"
cmp -s "$work/edited.ini" "$settings" || fail "the upgrade did not keep the edited $settings"
[ "$(unit_links)" = "$enabled" ] || fail "the upgrade changed the enabled units: $(unit_links)"

for kept in lib log; do
  mkdir -p "$root/var/$kept/private/kronsec"
  ln -s private/kronsec "$root/var/$kept/kronsec"
done
touch "$root/var/lib/private/kronsec/orv.ini"
# The timer ran once: systemd keeps the time of its last run in a stamp file.
stamp=$root/var/lib/systemd/timers/stamp-kronsec.timer
mkdir -p "$(dirname "$stamp")"
touch "$stamp"

dpkg_root -r kronsec
[ ! -e "$root/usr/bin/kronsec" ] || fail "remove left /usr/bin/kronsec"
cmp -s "$work/edited.ini" "$settings" || fail "remove did not keep the conffile $settings"
[ -e "$stamp" ] || fail "remove took the timer's stamp file, which only a purge removes"
dpkg_root -P kronsec
[ ! -e "$stamp" ] || fail "purge left the timer's stamp file ${stamp#"$root"}"
left=$(find "$root" -name '*kronsec*' | sed "s|^$root||")
[ -z "$left" ] || fail "purge left:"$'\n'"$left"

# Purge keeps a log folder that still holds logs.
logs=$work/logs
mkdir -p "$logs/var/log/private/kronsec"
ln -s private/kronsec "$logs/var/log/kronsec"
echo line >"$logs/var/log/private/kronsec/kronsec.log"
DPKG_ROOT=$logs DPKG_MAINTSCRIPT_PACKAGE=kronsec DPKG_MAINTSCRIPT_NAME=postrm sh packaging/postrm purge || fail "postrm purge failed"
[ -f "$logs/var/log/kronsec/kronsec.log" ] || fail "purge removed a log folder that held a log"

# --- the units as systemd reads them, in a throw-away root ---
if command -v systemd-analyze >/dev/null; then
  root=$work/units
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status"
  dpkg_root -i "$deb"
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

# --- lintian: no errors or warnings; notes are shown ---
said=$(lintian --tag-display-limit 0 -I "$deb" 2>/dev/null) || true
if [ -n "$said" ]; then echo "lintian:"; sed 's/^/  /' <<<"$said"; else echo "lintian: nothing to say"; fi
! grep -q '^[EW]:' <<<"$said" || fail "lintian reports errors or warnings"

# --- the Windows zip ---
if [ $zip_checked = 1 ]; then
  members=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
  [ "$members" = "README.txt kronsec.exe kronsec.hlp orv.ini " ] || fail "the zip holds: $members"
  unzip -p "$zip" kronsec.exe | cmp -s - "$win32/kronsec.exe" || fail "the zip's kronsec.exe is not build/win32/kronsec.exe"
  unzip -p "$zip" kronsec.hlp | cmp -s - "$win32/kronsec.hlp" || fail "the zip's kronsec.hlp is not build/win32/kronsec.hlp"
  for text in README.txt orv.ini; do
    ! grep -qv $'\r$' <<<"$(unzip -p "$zip" "$text")" || fail "$text has lines without CR LF"
  done
  grep -qx $'reportOnly=1\r' <<<"$(unzip -p "$zip" orv.ini)" || fail "the zip's orv.ini does not keep reportOnly=1"
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

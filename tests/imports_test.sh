#!/usr/bin/env bash
# tests/check_imports.sh on the shipped kronsec.exe, and on planted faults
# it must catch: rows of (what, how the exe or the lists are changed,
# expected outcome, a text the failure must name).
#
#   tests/imports_test.sh OBJDUMP EXE
set -euo pipefail

objdump=${1:?usage: imports_test.sh OBJDUMP EXE}
exe=${2:?usage: imports_test.sh OBJDUMP EXE}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d /tmp/kronsec-imports-XXXXXX)
trap 'rm -rf "$work"' EXIT

# The PE header's MajorSubsystemVersion: 48 bytes into the optional header,
# which starts 24 bytes after the "PE\0\0" signature.
subsystem_major_offset() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  echo $((pe + 24 + 48))
}

# plant HOW: a copy of the exe in $work/kronsec.exe and of the lists in
# $work/win95, changed as HOW says.
plant() {
  rm -rf "$work/win95" && cp -r "$here/win95" "$work/win95" && cp "$exe" "$work/kronsec.exe"
  case $1 in
    none) ;;
    drop-function)  # an import the lists do not know, as a new one would be
      sed -i '/^GetTickCount /d' "$work/win95/kernel32.txt" ;;
    drop-dll)  # a DLL Windows 95 would not carry
      rm "$work/win95/winmm.txt" ;;
    runtime-dll)  # a DLL looked up while the program runs that nobody vetted
      LC_ALL=C sed -i 's/ctl3d32\.dll/ctl3d33.dll/' "$work/kronsec.exe" ;;
    subsystem-5)  # a header asking for Windows 2000
      printf '\x05' | dd of="$work/kronsec.exe" bs=1 seek="$(subsystem_major_offset "$exe")" \
        conv=notrunc status=none ;;
    *) echo "unknown plant $1" >&2; exit 2 ;;
  esac
}

rows=(
  # what | plant | expected status | text the output must hold
  "the shipped exe|none|0|each one Windows 95 exports"
  "an import missing from its list|drop-function|1|KERNEL32.DLL!GetTickCount, which is not in"
  "a DLL with no list|drop-dll|1|sndPlaySoundA from WINMM.DLL, which Windows 95 does not carry"
  "a header asking for Windows 5.0|subsystem-5|1|asks for SubsystemVersion 5.0"
  "a DLL looked up at run time, unexplained|runtime-dll|1|names CTL3D33.DLL, which it does not import"
)
failed=0
for row in "${rows[@]}"; do
  IFS='|' read -r what how expected text <<<"$row"
  plant "$how"
  status=0
  output=$(bash "$here/check_imports.sh" "$objdump" "$work/kronsec.exe" "$work/win95" 2>&1) || status=$?
  if [[ $status -ne $expected || $output != *"$text"* ]]; then
    echo "FAILED: $what: status $status (expected $expected), output:" >&2
    echo "$output" >&2
    failed=1
  else
    echo "ok: $what: ${output%%$'\n'*}"
  fi
done
exit "$failed"

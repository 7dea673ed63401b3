#!/usr/bin/env bash
# The shipped 32-bit kronsec.exe must start on a bare Windows 95: every
# function it imports must be one that its DLL exports on Windows 95
# (4.00.950), and its PE header must ask for Windows 4.0. Reads the exe's
# import table and header and fails on any function missing from the list
# of its DLL in LIST_DIR (tests/win95: one file per DLL, see its README), on
# a DLL without a list, on an import by ordinal, on a subsystem or
# operating-system version other than 4.0, and on the name of a DLL in the
# exe's data that it neither imports nor explains in runtime-dlls.txt (a DLL
# looked up while it runs).
#
#   tests/check_imports.sh OBJDUMP EXE [LIST_DIR]
#
# OBJDUMP is the tool chain's objdump (i686-w64-mingw32-objdump).
set -euo pipefail

objdump=${1:?usage: check_imports.sh OBJDUMP EXE [LIST_DIR]}
exe=${2:?usage: check_imports.sh OBJDUMP EXE [LIST_DIR]}
lists=${3:-$(dirname "${BASH_SOURCE[0]}")/win95}
wanted_version=4.0

table=$("$objdump" -p "$exe") || { echo "FAIL: $objdump cannot read $exe" >&2; exit 1; }
status=0

# header_version FIELD: "MAJOR.MINOR" of a version pair of the PE header.
header_version() {
  local major minor
  major=$(awk -v f="Major$1" '$1 == f { print $2 }' <<<"$table")
  minor=$(awk -v f="Minor$1" '$1 == f { print $2 }' <<<"$table")
  echo "${major:-?}.${minor:-?}"
}

for field in SubsystemVersion OSystemVersion; do
  got=$(header_version "$field")
  if [[ $got != "$wanted_version" ]]; then
    echo "FAIL: $exe asks for $field $got; Windows 95 needs $wanted_version" >&2
    status=1
  fi
done

# The import table as "DLL FUNCTION" lines (DLL in upper case); an import by
# ordinal shows as a number with no name.
imports=$(awk '
  /^\tDLL Name:/ { dll = toupper($3); next }
  /^[^\t]/ { dll = ""; next }
  dll == "" { next }
  /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $3; next }
  /^\t[0-9a-f]+\t +[0-9]+$/ { print dll, "#" $2 }' <<<"$table")
[[ -n $imports ]] || { echo "FAIL: no import table found in $exe" >&2; exit 1; }

count=0
while read -r dll function; do
  count=$((count + 1))
  list=$lists/$(tr '[:upper:]' '[:lower:]' <<<"${dll%.DLL}").txt
  if [[ ! -f $list ]]; then
    echo "FAIL: $exe imports $function from $dll, which Windows 95 does not carry (no $list)" >&2
    status=1
  elif [[ $function == \#* ]]; then
    echo "FAIL: $exe imports ordinal ${function#\#} of $dll: only names can be checked" >&2
    status=1
  elif ! grep -v '^#' "$list" | awk '{ print $1 }' | grep -qxF "$function"; then
    echo "FAIL: $exe imports $dll!$function, which is not in $list" >&2
    status=1
  fi
done <<<"$imports"

# Names of DLLs in the exe's bytes that it does not import: looked up while
# it runs, or text. Each must be one the list explains.
named=$(LC_ALL=C grep -aoiE '[A-Za-z0-9_.-]+\.dll' "$exe" | tr '[:lower:]' '[:upper:]' | sort -u)
explained=$(grep -v '^#' "$lists/runtime-dlls.txt" | awk '{ print $1 }')
for dll in $named; do
  grep -qxF "$dll" <<<"$(awk '{ print $1 }' <<<"$imports")" && continue
  if ! grep -qxF "$dll" <<<"$explained"; then
    echo "FAIL: $exe names $dll, which it does not import; $lists/runtime-dlls.txt does not say why" >&2
    status=1
  fi
done

if ((status == 0)); then
  echo "$exe: $count imported functions from $(awk '{ print $1 }' <<<"$imports" | sort -u | tr '\n' ' ')- each one Windows 95 exports; subsystem and OS version $wanted_version"
fi
exit "$status"

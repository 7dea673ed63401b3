#!/usr/bin/env bash
# The shipped 32-bit kronsec.exe must start on a bare Windows 95: it may import
# only DLLs that Windows 95 itself carries. Reads the exe's import table and
# fails on any other DLL (MSVCRT.DLL above all, which came later).
#
#   tests/check_imports.sh OBJDUMP EXE
#
# OBJDUMP is the tool chain's objdump (i686-w64-mingw32-objdump).
set -euo pipefail

objdump=${1:?usage: check_imports.sh OBJDUMP EXE}
exe=${2:?usage: check_imports.sh OBJDUMP EXE}
allowed=(KERNEL32.DLL USER32.DLL GDI32.DLL COMDLG32.DLL WINMM.DLL WSOCK32.DLL CRTDLL.DLL)

table=$("$objdump" -p "$exe") || { echo "FAIL: $objdump cannot read $exe" >&2; exit 1; }
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$table" | tr '[:lower:]' '[:upper:]')
((${#dlls[@]} > 0)) || { echo "FAIL: no import table found in $exe" >&2; exit 1; }

echo "$exe imports: ${dlls[*]}"
status=0
for dll in "${dlls[@]}"; do
  ok=0
  for a in "${allowed[@]}"; do [[ $dll == "$a" ]] && ok=1; done
  if ((ok == 0)); then
    echo "FAIL: $exe imports $dll, which Windows 95 does not carry" >&2
    status=1
  fi
done
((status == 0)) && echo "every DLL is one Windows 95 carries: ${allowed[*]}"
exit "$status"

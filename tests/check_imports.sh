#!/bin/bash
# semilist.exe must run on a bare Windows: it may import system DLLs only.
set -euo pipefail
exe=${1:?usage: check_imports.sh semilist.exe}
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
echo "imports: $(echo $imports)"
[[ -n $imports ]] || { echo "no import table found" >&2; exit 1; }
status=0
for dll in $imports; do
  case $dll in
    KERNEL32.DLL | ADVAPI32.DLL | USER32.DLL | MSVCRT.DLL) ;;
    *) echo "not a system DLL: $dll" >&2; status=1 ;;
  esac
done
exit $status

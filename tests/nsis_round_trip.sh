#!/bin/bash
# A real NSIS installer puts its bin folder on the system PATH with semilist,
# once however often it runs, and its uninstaller puts PATH back exactly.
set -euo pipefail
exe=$(realpath "${1:?usage: nsis_round_trip.sh semilist.exe SCRIPT WORKDIR}")
script=$(realpath "${2:?}")
work=${3:?}
wine=/usr/lib/wine/wine64
mkdir -p "$work"
installer=$work/semilist-example-setup.exe
instdir='C:\Program Files\semilist example'  # the script's default
machine_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'

makensis -V2 -DSEMILIST_EXE="$exe" -DOUTFILE="$installer" "$script"

machine_path() {
  "$wine" reg query "$machine_key" /v PATH 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *PATH *REG_EXPAND_SZ *//p'
}
export_key() { "$wine" reg export "$machine_key" "$(winepath "$1")" /y >/dev/null; }
winepath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# The prefix's own PATH is put back at the end, for the tests that follow.
export_key "$work/prefix.reg"
trap '"$wine" reg import "$(winepath "$work/prefix.reg")" >/dev/null 2>&1' EXIT
# Start from a normalised PATH, since every edit rewrites it normalised.
original='%SystemRoot%\system32;%SystemRoot%;C:\Tools'
"$wine" reg add "$machine_key" /v PATH /t REG_EXPAND_SZ /d "$original" /f >/dev/null
export_key "$work/before.reg"

expected="$original;$instdir\\bin"
for round in first second; do
  "$wine" "$installer" /S
  actual=$(machine_path)
  if [[ $actual != "$expected" ]]; then
    echo "after the $round install, PATH is '$actual', not '$expected'" >&2
    exit 1
  fi
done
echo "installed twice: PATH gained '$instdir\\bin' once, at the end"

# The uninstaller copies itself to a temporary folder, starts the copy and
# returns at once. (_?= would keep it in place, but only unquoted, and the
# folder's name has a blank.) Waiting for the prefix's server to go idle
# waits for the copy.
"$wine" "$instdir\\uninstall.exe" /S
/usr/lib/wine/wineserver -w
export_key "$work/after.reg"
if ! cmp -s "$work/before.reg" "$work/after.reg"; then
  echo "after uninstalling, the machine's Environment key differs:" >&2
  diff <(iconv -f UTF-16LE -t UTF-8 "$work/before.reg") \
    <(iconv -f UTF-16LE -t UTF-8 "$work/after.reg") >&2 || true
  exit 1
fi
if [[ -e "$WINEPREFIX/drive_c/Program Files/semilist example/semilist.exe" ]]; then
  echo "the uninstaller left semilist.exe behind" >&2
  exit 1
fi
echo "uninstalled: the machine's Environment key is back, byte for byte"

# A failing semilist stops the installer with a non-zero status, and PATH is
# left as it was.
"$wine" reg add "$machine_key" /v PATH /t REG_DWORD /d 7 /f >/dev/null
if "$wine" "$installer" /S 2>/dev/null; then
  echo "the installer succeeded although semilist could not read PATH" >&2
  exit 1
fi
[[ $("$wine" reg query "$machine_key" /v PATH | tr -d '\r' | grep -c 'REG_DWORD *0x7') == 1 ]] || {
  echo "the failed install changed PATH" >&2
  exit 1
}
echo "a failing semilist made the installer fail and left PATH alone"
# NSIS has no rollback: the failed install left its files, which go now.
rm -rf "$WINEPREFIX/drive_c/Program Files/semilist example"

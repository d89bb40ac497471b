#!/bin/bash
# A real NSIS installer puts its bin folder on the system PATH with semilist,
# once however often it runs, and its uninstaller puts PATH back exactly.
# TARGET is makensis's: amd64-unicode, or x86-unicode for the 32-bit
# installer that most NSIS scripts build, which must still install into the
# 64-bit Program Files and start the 64-bit semilist.exe.
set -euo pipefail
usage='usage: nsis_round_trip.sh semilist.exe SCRIPT WORKDIR TARGET'
exe=$(realpath "${1:?$usage}")
script=$(realpath "${2:?$usage}")
work=${3:?$usage}
target=${4:?$usage}
source "$(dirname "$0")/wine_helpers.sh"
mkdir -p "$work"
installer=$work/semilist-example-setup.exe
instdir='C:\Program Files\semilist example'  # the script's default
installed="$WINEPREFIX/drive_c/Program Files/semilist example"

makensis -V2 -DSEMILIST_EXE="$exe" -DOUTFILE="$installer" -DTARGET="$target" \
  "$script"
format=$(pe_format "$installer")
[[ $format == "$([[ $target == x86-* ]] && echo pei-i386 || echo pei-x86-64)" ]] ||
  fail "a $target installer came out as $format"
require_runnable "$installer"

start_from_known_path "$work"
expected="REG_EXPAND_SZ $original_path;$instdir\\bin"
for round in first second; do
  "$wine" "$installer" /S
  actual=$(machine_path)
  [[ $actual == "$expected" ]] ||
    fail "after the $round install, PATH is '$actual', not '$expected'"
done
echo "installed twice: PATH gained '$instdir\\bin' once, at the end"

# The uninstaller copies itself to a temporary folder, starts the copy and
# returns at once. (_?= would keep it in place, but only unquoted, and the
# folder's name has a blank.) Waiting for the prefix's server to go idle
# waits for the copy.
"$wine" "$instdir\\uninstall.exe" /S
/usr/lib/wine/wineserver -w
expect_key_as_before "uninstalling"
[[ ! -e $installed/semilist.exe ]] || fail "the uninstaller left semilist.exe behind"
expect_no_claim "uninstalling"
echo "uninstalled: the machine's Environment key is back, byte for byte"

# An entry that was on PATH before the install stays after the uninstall.
start_with_entry "$instdir\\bin"
"$wine" "$installer" /S
"$wine" "$instdir\\uninstall.exe" /S
/usr/lib/wine/wineserver -w
expect_key_as_before "uninstalling, with the entry on PATH before the install"
echo "an entry that was on PATH before the install is still there after the uninstall"
set_path REG_EXPAND_SZ "$original_path"

# A failing semilist stops the installer with a non-zero status, and PATH is
# left as it was.
set_path REG_DWORD 7
if "$wine" "$installer" /S 2>/dev/null; then
  fail "the installer succeeded although semilist could not read PATH"
fi
[[ $(machine_path) == 'REG_DWORD 0x7' ]] || fail "the failed install changed PATH"
echo "a failing semilist made the installer fail and left PATH alone"
# NSIS has no rollback: the failed install left its files, which go now.
rm -rf "$installed"

#!/bin/bash
# A real Inno Setup installer, built from the example with ISCC, puts its bin
# folder on the system PATH with semilist, once however often it runs; its
# uninstaller puts the machine's key back exactly; and a failing semilist
# makes Setup end with a non-zero exit code instead of 0. SEMILIST is the
# semilist.exe that Setup starts, or the x86 semilist.dll that it calls.
set -euo pipefail
semilist=$(realpath "${1:?usage: inno_round_trip.sh SEMILIST BUILD_SETUP WORKDIR}")
file=$(basename "$semilist")
build_setup=$(realpath "${2:?}")
work=${3:?}
source "$(dirname "$0")/wine_helpers.sh"
require_runnable "$("$(dirname "$0")/../scripts/fetch-innosetup")"
mkdir -p "$work"
setup=$work/semilist-example-setup.exe
instdir='C:\Program Files\semilist Inno Setup example'  # the script's {app}
installed="$WINEPREFIX/drive_c/Program Files/semilist Inno Setup example"
"$build_setup" "$semilist" "$setup"

install() {
  "$wine" "$setup" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /SP- \
    "/LOG=$(winepath "$work/setup.log")"
}
# The uninstaller starts a copy of itself and returns at once; waiting for
# the prefix's server to go idle waits for the copy.
uninstall() {
  "$wine" "$instdir\\unins000.exe" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART
  /usr/lib/wine/wineserver -w
}

start_from_known_path "$work"
expected="REG_EXPAND_SZ $original_path;$instdir\\bin"
for round in first second; do
  install || fail "the $round install failed with exit code $?"
  actual=$(machine_path)
  [[ $actual == "$expected" ]] ||
    fail "after the $round install, PATH is '$actual', not '$expected'"
done
[[ -f $installed/$file && -f $installed/bin/hello.cmd ]] ||
  fail "the install did not put its files in place"
echo "installed twice: PATH gained '$instdir\\bin' once, at the end"

uninstall
expect_key_as_before "uninstalling"
[[ ! -e $installed/$file ]] || fail "the uninstaller left $file behind"
echo "uninstalled: the machine's Environment key is back, byte for byte"

# semilist ends with 2 on a PATH that is not text; Setup must say so.
set_path REG_DWORD 7
status=0
install || status=$?
[[ $status -eq 102 ]] || fail "with a failing semilist, Setup ended with $status, not 102"
[[ $(machine_path) == 'REG_DWORD 0x7' ]] || fail "the failed install changed PATH"
grep -qE 'semilist /append( .*)? ended with status 2' "$work/setup.log" ||
  fail "Setup's log does not tell semilist's status"
echo "a failing semilist made Setup end with 102, logged, and PATH was left alone"
# The files stay, as Setup has no rollback after the install; the uninstall
# finds nothing to remove from the restored PATH.
set_path REG_EXPAND_SZ "$original_path"
uninstall
[[ ! -e $installed/$file ]] || fail "the uninstaller left $file behind"

# An entry that was on PATH before the install stays after the uninstall.
start_with_entry "$instdir\\bin"
install
uninstall
expect_key_as_before "uninstalling, with the entry on PATH before the install"
echo "an entry that was on PATH before the install is still there after the uninstall"
set_path REG_EXPAND_SZ "$original_path"
export_key "$machine_key" "$work/before.reg"
[[ $file == semilist.dll ]] || exit 0

# semilist.iss: a removal that fails warns, and the uninstall goes on.
install
set_path REG_DWORD 7
uninstall
[[ ! -e $installed/$file ]] || fail "an uninstall whose removal failed stopped"
"$wine" reg delete 'HKLM\SOFTWARE\semilist\Owners' /v PATH /f >/dev/null
set_path REG_EXPAND_SZ "$original_path"
echo "a removal that failed warned, and the uninstall went on"

# A second entry, put first, in a script that includes the example; with a
# PATH too long to take either, Setup warns, goes on and ends with 0.
cat >"$work/two-entries.iss" <<'ISS'
#include "semilist-dll-example.iss"
#emit SemilistPath("{app}\tools", "True", "", "PATH", 1)
ISS
"$build_setup" "$semilist" "$setup" "$work/two-entries.iss"
install
[[ $(machine_path) == "REG_EXPAND_SZ $instdir\\tools;$original_path;$instdir\\bin" ]] ||
  fail "two entries through semilist.iss left PATH as $(machine_path)"
uninstall
expect_key_as_before "two entries' uninstall"
expect_no_claim "two entries' uninstall"
echo "semilist.iss put two entries on PATH, one first and one last, and took both out"
start_with_long_path
install || fail "with a PATH too long, Setup ended with $?"
grep -qE 'semilist /append( .*)? ended with status 6' "$work/setup.log" ||
  fail "Setup's log does not tell of the PATH too long"
expect_key_as_before "an install whose PATH was too long"
expect_no_claim "an install whose PATH was too long"
uninstall
echo "a PATH too long for semilist.iss's entries: Setup warned, went on and ended with 0"

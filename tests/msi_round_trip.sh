#!/bin/bash
# A real MSI, built from the WiX example, puts its bin folder on the system
# PATH with semilist and takes it off on uninstall, unless it was there
# before the install. An install that fails,
# in semilist or in a later action, leaves PATH and Program Files as they
# were.
set -euo pipefail
exe=$(realpath "${1:?usage: msi_round_trip.sh semilist.exe BUILD_MSI WORKDIR}")
build_msi=$(realpath "${2:?}")
work=${3:?}
source "$(dirname "$0")/wine_helpers.sh"
mkdir -p "$work"
instdir='C:\Program Files\semilist MSI example'  # the example's INSTALLDIR
installed="$WINEPREFIX/drive_c/Program Files/semilist MSI example"

msi=$work/semilist-example.msi
"$build_msi" "$exe" "$msi"
# A copy whose install fails after the PATH edit, at a deferred action that
# gives semilist a usage error. The example itself has no such switch.
failing=$work/fails-after-path.msi
cp "$msi" "$failing"
msibuild "$failing" -q "INSERT INTO CustomAction (Action, Type, Source, Target) \
VALUES ('FailAfterPath', 3090, 'SemilistExe', '/usage-error')"
msibuild "$failing" -q "INSERT INTO InstallExecuteSequence (Action, Condition, \
Sequence) VALUES ('FailAfterPath', 'NOT Installed', 4003)"

msiexec() { "$wine" msiexec "$1" "$(winepath "$2")" /qn; }
expect_as_before() {
  expect_key_as_before "$1"
  [[ ! -e $installed ]] || fail "$1 left files in Program Files"
}

start_from_known_path "$work"
msiexec /i "$msi"
expected="REG_EXPAND_SZ $original_path;$instdir\\bin"
[[ $(machine_path) == "$expected" ]] ||
  fail "after the install, PATH is: $(machine_path)"
[[ -f $installed/semilist.exe && -f $installed/bin/hello.cmd ]] ||
  fail "the install did not put its files in place"
echo "installed: PATH gained '$instdir\\bin' at the end, as REG_EXPAND_SZ"
msiexec /x "$msi"
expect_as_before "the uninstall"
expect_no_claim "the uninstall"
echo "uninstalled: the machine's Environment key is back, byte for byte"

# The same entry, already on PATH before the install, is not the install's
# to take away.
start_with_entry "$instdir\\bin"
msiexec /i "$msi"
msiexec /x "$msi"
expect_as_before "an uninstall, with the entry on PATH before the install"
expect_no_claim "the uninstall"
echo "an entry that was on PATH before the install is still there after the uninstall"
set_path REG_EXPAND_SZ "$original_path"
export_key "$machine_key" "$work/before.reg"

set_path REG_DWORD 7
if msiexec /i "$msi"; then fail "the install succeeded although semilist failed"; fi
actual=$(machine_path)
[[ $actual == 'REG_DWORD 0x7' ]] || fail "the failed install changed PATH to '$actual'"
[[ ! -e $installed ]] || fail "the failed install left files in Program Files"
echo "a failing semilist failed the install, left PATH alone and its files went"
set_path REG_EXPAND_SZ "$original_path"

if msiexec /i "$failing"; then fail "the install succeeded although it failed"; fi
expect_as_before "an install that failed after the PATH edit"
expect_no_claim "an install that failed after the PATH edit"
echo "an install that failed after the PATH edit rolled the edit back"

#!/bin/bash
# A real MSI, built from the WiX example, puts its bin folder on the system
# PATH with semilist and takes it off on uninstall, unless it was there
# before the install. An install that fails,
# in semilist or in a later action, leaves PATH and Program Files as they
# were. Given semilist.dll, the MSI includes semilist.wxi and has one line
# for its entry, which its component's repair, feature removal, major
# upgrades and a second product's uninstall must each keep right; semilist
# leaves its lines in the MSI log.
set -euo pipefail
semilist=$(realpath "${1:?usage: msi_round_trip.sh SEMILIST BUILD_MSI WORKDIR}")
build_msi=$(realpath "${2:?}")
work=${3:?}
source "$(dirname "$0")/wine_helpers.sh"
require_runnable "$semilist"
mkdir -p "$work"
# The example's INSTALLDIR: an x86 MSI installs into the 32-bit folder.
program_files='Program Files'
[[ $(pe_format "$semilist") != pei-i386 ]] || program_files='Program Files (x86)'
instdir='C:\'"$program_files"'\semilist MSI example'
installed="$WINEPREFIX/drive_c/$program_files/semilist MSI example"

msi=$work/semilist-example.msi
"$build_msi" "$semilist" "$msi"
# A copy whose install fails after the PATH edit, at a deferred action that
# gives semilist a usage error: the exe an unknown switch, the DLL no
# CustomActionData at all. The example itself has no such action.
failing=$work/fails-after-path.msi
cp "$msi" "$failing"
if [[ $semilist == *.dll ]]; then
  failing_action="3073, 'SemilistDll', 'SemilistScheduledEdit'"
else
  failing_action="3090, 'SemilistExe', '/usage-error'"
fi
msibuild "$failing" -q "INSERT INTO CustomAction (Action, Type, Source, Target) \
VALUES ('FailAfterPath', $failing_action)"
msibuild "$failing" -q "INSERT INTO InstallExecuteSequence (Action, Condition, \
Sequence) VALUES ('FailAfterPath', 'NOT Installed', 5220)"

log=$work/msi.log
msiexec() {
  local action=$1 package
  package=$(winepath "$2")
  shift 2
  rm -f "$log"
  "$wine" msiexec "$action" "$package" "$@" /qn /l*v "$(winepath "$log")"
}
# Fails unless the MSI log holds LINE; the DLL's actions log one per call.
# The log is read whole first: piped into grep -q, which stops at the first
# match, its writer could die of SIGPIPE, and pipefail would call that a miss.
expect_logged() {
  [[ $semilist == *.dll ]] || return 0
  local logged
  logged=$(tr -d '\r\0' <"$log")
  [[ $logged == *"$1"* ]] || fail "the MSI log lacks '$1'"
}
expect_as_before() {
  expect_key_as_before "$1"
  [[ ! -e $installed ]] || fail "$1 left files in Program Files"
}

start_from_known_path "$work"
msiexec /i "$msi"
expected="REG_EXPAND_SZ $original_path;$instdir\\bin"
[[ $(machine_path) == "$expected" ]] ||
  fail "after the install, PATH is: $(machine_path)"
[[ -f $installed/bin/hello.cmd ]] || fail "the install did not put its files in place"
expect_logged "semilist: /append /system PATH \"$instdir\\bin\" /owner:{"
expect_logged ": done (status 0)"
echo "installed: PATH gained '$instdir\\bin' at the end, as REG_EXPAND_SZ"
msiexec /x "$msi"
expect_logged "semilist: /remove /system PATH \"$instdir\\bin\" /owner:{"
expect_as_before "the uninstall"
expect_no_claim "the uninstall"
echo "uninstalled: the machine's Environment key is back, byte for byte"
[[ $semilist != *.dll ]] || echo "the MSI log holds a semilist line for each call"

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
expect_logged "the list or the owners' record could not be read"

actual=$(machine_path)
[[ $actual == 'REG_DWORD 0x7' ]] || fail "the failed install changed PATH to '$actual'"
[[ ! -e $installed ]] || fail "the failed install left files in Program Files"
echo "a failing semilist failed the install, left PATH alone and its files went"
set_path REG_EXPAND_SZ "$original_path"

if msiexec /i "$failing"; then fail "the install succeeded although it failed"; fi
expect_logged "semilist: : usage error"

expect_as_before "an install that failed after the PATH edit"
expect_no_claim "an install that failed after the PATH edit"
echo "an install that failed after the PATH edit rolled the edit back"

[[ $semilist == *.dll ]] || exit 0
# The DLL's action refuses to run immediate, before the script and without
# rollback, and says why in the log.
immediate=$work/immediate.msi
cp "$msi" "$immediate"
msibuild "$immediate" -q "UPDATE CustomAction SET Type = 1 WHERE Action = 'SemilistEditSystem'"
if msiexec /i "$immediate"; then fail "an immediate semilist action did not fail the install"; fi
expect_logged "SemilistScheduledEdit must be a deferred, rollback or commit action"
expect_as_before "an install with an immediate semilist action"
echo "an immediate semilist action failed the install, logged why, and changed nothing"

# A PATH too long to take the folder: cmd.exe would drop the whole of it.
# The action warns, and the install completes with PATH as it was.
start_with_long_path
msiexec /i "$msi" || fail "a PATH too long to take the folder failed the install"
expect_logged "PATH \"$instdir\\bin\" /owner:"
expect_logged "Shorten it, or add the folder by hand (status 6)"
expect_key_as_before "an install whose PATH was too long"
expect_no_claim "an install whose PATH was too long"
[[ -f $installed/bin/hello.cmd ]] || fail "the install with a long PATH did not complete"
msiexec /x "$msi"
echo "a PATH too long to take the folder: the install warned, completed, and left PATH as it was"
set_path REG_EXPAND_SZ "$original_path"
export_key "$machine_key" "$work/before.reg"

# The lifecycle that one line per entry keeps right. Each step leaves PATH
# as the product's state needs it, and the last uninstall as it was.
expect_path() {
  [[ $(machine_path) == "REG_EXPAND_SZ $1" ]] || fail "after $2, PATH is: $(machine_path)"
}
entry="$instdir\bin"
with_entry="$original_path;$entry"
msiexec /i "$msi"
expect_logged "semilist: SemilistPath.Bin: component Bin absent -> local: installed, scheduled /append"
expect_logged ", rolled back by /remove /system PATH \"$entry\" /owner:{"
expect_logged "semilist: /broadcast: done (status 0)"
# Wine's msiexec /fa takes no product code and no package; this is the
# repair that it asks for.
set_path REG_EXPAND_SZ "$original_path"
msiexec /i "$msi" REINSTALL=ALL REINSTALLMODE=omus
expect_logged "component Bin local -> local: reinstalled, scheduled /append"
expect_path "$with_entry" "a repair, with the entry taken out by hand"
echo "a repair put back the entry that had been taken out"
msiexec /i "$msi" REMOVE=Tools
expect_logged "component Bin local -> absent: removed, scheduled /remove"
expect_path "$original_path" "the Tools feature's removal"
[[ -d $installed && ! -e $installed/bin/hello.cmd ]] ||
  fail "the feature's removal did not leave the product without its bin folder"
msiexec /i "$msi" ADDLOCAL=Tools
expect_path "$with_entry" "the Tools feature's return"
msiexec /x "$msi"
expect_as_before "the uninstall after a repair and a modify"
expect_no_claim "the uninstall after a repair and a modify"
echo "removing the feature took the entry out and kept the product; adding it back put the entry back"

# A removal that fails warns, and the uninstall goes on, leaving the claim
# for a later uninstall to finish.
msiexec /i "$msi"
set_path REG_DWORD 7
msiexec /x "$msi" || fail "an uninstall whose removal failed did not go on"
expect_logged "the uninstall goes on and leaves the entry"
[[ ! -e $installed ]] || fail "an uninstall whose removal failed left its files"
"$wine" reg delete 'HKLM\SOFTWARE\semilist\Owners' /v PATH /f >/dev/null
set_path REG_EXPAND_SZ "$original_path"
echo "a removal that failed warned, and the uninstall went on"

# Two products that need the same folder, each with a code of its own: the
# first to go leaves the entry to the other. The .NET 9 and 10 case.
other=$work/other-product.msi
cp "$msi" "$other"
msibuild "$other" -q "UPDATE Property SET Value = '{3C9E1B57-2D4F-4A6B-8C0E-1F3A5B7D9E21}' WHERE Property = 'ProductCode'"
msibuild "$other" -q "UPDATE Property SET Value = '{7A1C3E5F-9B2D-4F6A-8E0C-2D4F6A8C0E13}' WHERE Property = 'UpgradeCode'"
msiexec /i "$msi"
msiexec /i "$other"
msiexec /x "$msi"
expect_path "$with_entry" "the first product's uninstall, with the other still installed"
msiexec /x "$other"
expect_as_before "both products' uninstalls"
expect_no_claim "both products' uninstalls"
echo "two products with one entry: the first uninstall kept it, the second took it out"

# A major upgrade, with RemoveExistingProducts early (as wixl sequences
# MajorUpgrade) and late, after InstallFinalize: the entry stays through it,
# and the new version's uninstall takes it out.
upgrade=$work/upgrade.msi
late=$work/upgrade-late.msi
"$build_msi" "$semilist" "$upgrade" 0.2.0
cp "$upgrade" "$late"
msibuild "$late" -q "UPDATE InstallExecuteSequence SET Sequence = 6610 WHERE Action = 'RemoveExistingProducts'"
for new in "$upgrade" "$late"; do
  msiexec /i "$msi"
  msiexec /i "$new"
  expect_path "$with_entry" "a major upgrade to $(basename "$new")"
  msiexec /x "$new"
  expect_as_before "the upgraded product's uninstall ($(basename "$new"))"
  expect_no_claim "the upgraded product's uninstall ($(basename "$new"))"
done
echo "a major upgrade, early and late, kept the entry, and its uninstall took it out"

# A /user row edits the installing user's PATH, even in a per-machine
# install.
user_row=$work/user-row.msi
cp "$msi" "$user_row"
msibuild "$user_row" -q "UPDATE Property SET Value = '/prepend /user PATH \"[INSTALLDIR]bin\"' WHERE Property = 'SemilistPath.Bin'"
user_value() { { "$wine" reg query 'HKCU\Environment' /v PATH 2>/dev/null || true; } | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]* *//p'; }
user_before=$(user_value)
msiexec /i "$user_row"
[[ $(user_value) == "$entry"* ]] || fail "a /user row left HKCU's PATH as: $(user_value)"
expect_key_as_before "a /user row's install"
msiexec /x "$user_row"
[[ $(user_value) == "$user_before" ]] || fail "a /user row's uninstall left HKCU's PATH as: $(user_value)"
echo "a /user row put the entry first on the installing user's PATH, and its uninstall took it out"

# A row that semilist would refuse, or that names no component, fails the
# install before anything is scheduled, and says which row.
bad=$work/bad-row.msi
cp "$msi" "$bad"
msibuild "$bad" -q "INSERT INTO Property (Property, Value) VALUES ('SemilistPath.Nothing', '/append /system PATH C:\\x')"
if msiexec /i "$bad"; then fail "an install with a row of no component succeeded"; fi
expect_logged "semilist: SemilistPath.Nothing: the MSI has no component Nothing"
expect_as_before "an install with a row of no component"
cp "$msi" "$bad"
msibuild "$bad" -q "UPDATE Property SET Value = '/append /system PATH \"[NOSUCHFOLDER]\"' WHERE Property = 'SemilistPath.Bin'"
if msiexec /i "$bad"; then fail "an install with a row of an empty item succeeded"; fi
# Wine formats the log line's brackets too, so the value is not looked for.
expect_logged "semilist: SemilistPath.Bin: '/append /system PATH "
expect_logged "' is not an edit semilist makes: its item is empty"
expect_as_before "an install with a row of an empty item"
expect_no_claim "an install with a bad row"
echo "a bad row failed the install, named itself in the log, and changed nothing"

# A no-impersonate action runs as LocalSystem, where /user would edit
# LocalSystem's own environment rather than the installing user's: the DLL
# refuses, and says why. The test build that believes it runs in session 0
# believes it runs as LocalSystem too; here a tool has lost the /user
# action's impersonation.
as_system=$work/user-as-localsystem.msi
"$build_msi" "$(dirname "$semilist")/semilist-session0.dll" "$as_system"
msibuild "$as_system" -q "UPDATE Property SET Value = \
'/append /user PATH C:\\semilist-as-system' WHERE Property = 'SemilistPath.Bin'"
msibuild "$as_system" -q "UPDATE CustomAction SET Type = 3073 WHERE Action = 'SemilistEditUser'"
# Its answer only: what reg says of a missing value varies from run to run.
user_path() { { "$wine" reg query 'HKCU\Environment' /v PATH 2>/dev/null || true; } | tr -d '\r'; }
user_before=$(user_path)
if msiexec /i "$as_system"; then fail "a /user action as LocalSystem did not fail the install"; fi
expect_logged "semilist: /append /user PATH C:\\semilist-as-system /owner:{"
expect_logged "}: usage error"
expect_logged "Make the action impersonated"
[[ $(user_path) == "$user_before" ]] || fail "a /user action as LocalSystem changed HKCU: $(user_path)"
expect_as_before "an install with a /user action as LocalSystem"
echo "a /user action as LocalSystem failed the install, logged why, and left HKCU alone"

#!/bin/bash
# A real MSI, built from the WiX example, puts its bin folder on the system
# PATH with semilist and takes it off on uninstall, unless it was there
# before the install. An install that fails,
# in semilist or in a later action, leaves PATH and Program Files as they
# were. Given semilist.dll, the MSI calls it as a DLL custom action, which
# also leaves its lines in the MSI log.
set -euo pipefail
semilist=$(realpath "${1:?usage: msi_round_trip.sh SEMILIST BUILD_MSI WORKDIR}")
build_msi=$(realpath "${2:?}")
work=${3:?}
source "$(dirname "$0")/wine_helpers.sh"
mkdir -p "$work"
instdir='C:\Program Files\semilist MSI example'  # the example's INSTALLDIR
installed="$WINEPREFIX/drive_c/Program Files/semilist MSI example"

msi=$work/semilist-example.msi
"$build_msi" "$semilist" "$msi"
# A copy whose install fails after the PATH edit, at a deferred action that
# gives semilist a usage error: the exe an unknown switch, the DLL no
# CustomActionData at all. The example itself has no such action.
failing=$work/fails-after-path.msi
cp "$msi" "$failing"
if [[ $semilist == *.dll ]]; then
  failing_action="3073, 'SemilistDll', 'SemilistCustomAction'"
else
  failing_action="3090, 'SemilistExe', '/usage-error'"
fi
msibuild "$failing" -q "INSERT INTO CustomAction (Action, Type, Source, Target) \
VALUES ('FailAfterPath', $failing_action)"
msibuild "$failing" -q "INSERT INTO InstallExecuteSequence (Action, Condition, \
Sequence) VALUES ('FailAfterPath', 'NOT Installed', 4010)"

log=$work/msi.log
msiexec() { rm -f "$log"; "$wine" msiexec "$1" "$(winepath "$2")" /qn /l*v "$(winepath "$log")"; }
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
msibuild "$immediate" -q "UPDATE CustomAction SET Type = 1 WHERE Action = 'AddToPath'"
if msiexec /i "$immediate"; then fail "an immediate semilist action did not fail the install"; fi
expect_logged "SemilistCustomAction must be a deferred, rollback or commit action"
expect_as_before "an install with an immediate semilist action"
echo "an immediate semilist action failed the install, logged why, and changed nothing"

# A PATH too long to take the folder: cmd.exe would drop the whole of it.
# The action warns, and the install completes with PATH as it was.
# REG_SZ, so that it counts as stored: 8,160 characters. Wine finds its own
# programs, such as winepath, on it.
set_path REG_SZ "C:\\windows\\system32;C:\\windows;C:\\$(head -c 8126 </dev/zero | tr '\0' a)"
export_key "$machine_key" "$work/before.reg"
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

# A no-impersonate action runs as LocalSystem, where /user would edit
# LocalSystem's own environment rather than the installing user's: the DLL
# refuses, and says why. The test build that believes it runs in session 0
# believes it runs as LocalSystem too.
as_system=$work/user-as-localsystem.msi
"$build_msi" "$(dirname "$semilist")/semilist-session0.dll" "$as_system"
msibuild "$as_system" -q "UPDATE CustomAction SET Target = \
'/append /user PATH C:\\semilist-as-system' WHERE Action = 'SetAddToPath'"
# Its answer only: what reg says of a missing value varies from run to run.
user_path() { { "$wine" reg query 'HKCU\Environment' /v PATH 2>/dev/null || true; } | tr -d '\r'; }
user_before=$(user_path)
if msiexec /i "$as_system"; then fail "a /user action as LocalSystem did not fail the install"; fi
expect_logged "semilist: /append /user PATH C:\\semilist-as-system: usage error"
expect_logged "Make the action impersonated"
[[ $(user_path) == "$user_before" ]] || fail "a /user action as LocalSystem changed HKCU: $(user_path)"
expect_as_before "an install with a /user action as LocalSystem"
echo "a /user action as LocalSystem failed the install, logged why, and left HKCU alone"

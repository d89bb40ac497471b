#!/bin/bash
# A real NSIS installer puts its bin folder on the system PATH with semilist,
# once however often it runs, and its uninstaller puts PATH back exactly.
# TARGET is makensis's: amd64-unicode, or x86-unicode for the 32-bit
# installer that most NSIS scripts build, which must still install into the
# 64-bit Program Files. SEMILIST is the semilist.exe that the installer
# starts, or the semilist.dll that it calls as a plugin.
set -euo pipefail
usage='usage: nsis_round_trip.sh SEMILIST SCRIPT WORKDIR TARGET'
semilist=$(realpath "${1:?$usage}")
script=$(realpath "${2:?$usage}")
work=${3:?$usage}
target=${4:?$usage}
source "$(dirname "$0")/wine_helpers.sh"
mkdir -p "$work"
installer=$work/semilist-example-setup.exe
instdir='C:\Program Files\semilist example'  # the script's default
installed="$WINEPREFIX/drive_c/Program Files/semilist example"

if [[ $semilist == *.dll ]]; then
  given=-DSEMILIST_INCLUDE=$(dirname "$semilist")
else
  given=-DSEMILIST_EXE=$semilist
fi
makensis -V2 "$given" -DOUTFILE="$installer" -DTARGET="$target" "$script"
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
[[ $semilist == *.dll ]] || exit 0

# The plugin called with nothing on the stack leaves 1 there, a usage
# error, for the script to Pop; it does not take the caller's own values.
cat >"$work/empty-stack.nsi" <<NSI
Unicode true
Target $target
!addplugindir /$target "$(dirname "$semilist")"
OutFile "$work/empty-stack.exe"
RequestExecutionLevel admin
Section
  semilist::Run
  Pop \$0
  Pop \$1
  IfErrors 0 +2
    StrCpy \$1 "nothing"
  SetErrorLevel \$0
  StrCmp \$1 "nothing" +2
    SetErrorLevel 99
SectionEnd
NSI
makensis -V2 "$work/empty-stack.nsi"
status=0
"$wine" "$work/empty-stack.exe" /S || status=$?
[[ $status -eq 1 ]] || fail "semilist::Run with an empty stack left '$status', not 1 alone"
echo "semilist::Run with nothing on the stack left 1, and only that"

# Two entries through semilist.nsh, in an installer of the test's own: one
# appended, one put first, both taken out again; with a PATH too long to
# take them, each warns, sets the error flag, and the install goes on.
cat >"$work/two-entries.nsi" <<NSI
Unicode true
Target \${TARGET}
!define SEMILIST_OWNER two-entries
!include "$(dirname "$semilist")/semilist.nsh"
OutFile "$work/two-entries-\${ACTION}.exe"
RequestExecutionLevel admin
Section
  SetShellVarContext all
  !if \${ACTION} == add
    \${SemilistAddToPath} "C:\\semilist two\\bin"
    \${SemilistPrependToPath} "C:\\semilist two\\tools"
  !else
    \${SemilistRemoveFromPath} "C:\\semilist two\\tools"
    \${SemilistRemoveFromPath} "C:\\semilist two\\bin"
  !endif
  \${If} \${Errors}
    SetErrorLevel 66
  \${EndIf}
SectionEnd
NSI
for action in add remove; do
  makensis -V2 -DACTION=$action -DTARGET=$target "$work/two-entries.nsi"
done
set_path REG_EXPAND_SZ "$original_path"
export_key "$machine_key" "$work/before.reg"
"$wine" "$work/two-entries-add.exe" /S
[[ $(machine_path) == "REG_EXPAND_SZ C:\\semilist two\\tools;$original_path;C:\\semilist two\\bin" ]] ||
  fail "two entries through semilist.nsh left PATH as $(machine_path)"
"$wine" "$work/two-entries-remove.exe" /S
expect_key_as_before "two entries' removal"
expect_no_claim "two entries' removal"
echo "semilist.nsh put two entries on PATH, one first and one last, and took both out"
start_with_long_path
status=0
"$wine" "$work/two-entries-add.exe" /S || status=$?
[[ $status -eq 66 ]] || fail "with a PATH too long, the installer ended with $status, not 66"
expect_key_as_before "an install whose PATH was too long"
expect_no_claim "an install whose PATH was too long"
echo "a PATH too long for semilist.nsh's entries: each warned, set the error flag, and the install went on"

# An installer of the other target must not load this DLL: makensis stops.
other=$([[ $target == x86-unicode ]] && echo amd64-unicode || echo x86-unicode)
if refusal=$(makensis -V1 -DACTION=add -DTARGET=$other "$work/two-entries.nsi" 2>&1); then
  fail "an $other installer built with an $target semilist.nsh"
fi
[[ $refusal == *"serve $target installers only"* ]] || fail "makensis said: $refusal"
echo "an $other installer with this semilist.nsh is refused at build time"

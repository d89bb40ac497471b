#!/bin/bash
# A real MSI, built from the WiX example, puts its bin folder on the system
# PATH with semilist and takes it off on uninstall. An install that fails,
# in semilist or in a later action, leaves PATH and Program Files as they
# were.
set -euo pipefail
exe=$(realpath "${1:?usage: msi_round_trip.sh semilist.exe BUILD_MSI WORKDIR}")
build_msi=$(realpath "${2:?}")
work=${3:?}
wine=/usr/lib/wine/wine64
mkdir -p "$work"
machine_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
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

winepath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
msiexec() { "$wine" msiexec "$1" "$(winepath "$2")" /qn; }
reg_path() { "$wine" reg query "$machine_key" /v PATH | tr -d '\r'; }
export_key() { "$wine" reg export "$machine_key" "$(winepath "$1")" /y >/dev/null; }
set_path() {
  "$wine" reg add "$machine_key" /v PATH /t "$1" /d "$2" /f >/dev/null
}
fail() { echo "$*" >&2; exit 1; }
expect_as_before() {
  export_key "$work/after.reg"
  if ! cmp -s "$work/before.reg" "$work/after.reg"; then
    diff <(iconv -f UTF-16LE -t UTF-8 "$work/before.reg") \
      <(iconv -f UTF-16LE -t UTF-8 "$work/after.reg") >&2 || true
    fail "after $1, the machine's Environment key differs"
  fi
  [[ ! -e $installed ]] || fail "$1 left files in Program Files"
}

# The prefix's own PATH is put back at the end, for the tests that follow.
export_key "$work/prefix.reg"
trap '"$wine" reg import "$(winepath "$work/prefix.reg")" >/dev/null 2>&1' EXIT
# Start from a normalised PATH, since every edit rewrites it normalised.
original='%SystemRoot%\system32;%SystemRoot%;C:\Tools'
set_path REG_EXPAND_SZ "$original"
export_key "$work/before.reg"

msiexec /i "$msi"
expected="PATH    REG_EXPAND_SZ    $original;$instdir\\bin"
[[ $(reg_path) == *"$expected" ]] ||
  fail "after the install, PATH is: $(reg_path)"
[[ -f $installed/semilist.exe && -f $installed/bin/hello.cmd ]] ||
  fail "the install did not put its files in place"
echo "installed: PATH gained '$instdir\\bin' at the end, as REG_EXPAND_SZ"
msiexec /x "$msi"
expect_as_before "the uninstall"
echo "uninstalled: the machine's Environment key is back, byte for byte"

set_path REG_DWORD 7
if msiexec /i "$msi"; then fail "the install succeeded although semilist failed"; fi
[[ $(reg_path) == *'PATH    REG_DWORD    0x7' ]] || fail "the failed install changed PATH"
[[ ! -e $installed ]] || fail "the failed install left files in Program Files"
echo "a failing semilist failed the install, left PATH alone and its files went"
set_path REG_EXPAND_SZ "$original"

if msiexec /i "$failing"; then fail "the install succeeded although it failed"; fi
expect_as_before "an install that failed after the PATH edit"
echo "an install that failed after the PATH edit rolled the edit back"

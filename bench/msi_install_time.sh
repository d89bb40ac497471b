#!/bin/bash
# The example MSI's install, timed under Wine's msiexec: with semilist.wxi
# and its one line (A), and the same product with an Environment table row
# that appends the folder to PATH instead (B). C, the scheduler with no row
# to schedule, is what any DLL custom action costs: the installer starts a
# process to host it. Each install is undone before the next, and they take
# turns. Prints each median of RUNS (5).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}
scripts/install-deps
cmake --preset windows >/dev/null
cmake --build --preset windows --target semilist_dll >/dev/null
work=build/bench-msi
rm -rf "$work"
mkdir -p "$work"
prefix=$PWD/build/bench-msi-prefix
scripts/wine-prefix fresh "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
trap 'scripts/wine-prefix stop "$prefix"' EXIT
source tests/wine_helpers.sh

with_semilist=$work/semilist.msi
with_table=$work/environment-table.msi
examples/wix/build-msi build/windows/semilist.dll "$with_semilist"
cp "$with_semilist" "$with_table"
# The same product, its PATH entry made by Windows Installer: "=-*PATH" sets
# on install, removes on uninstall, in the machine's environment; "[~];"
# appends.
msibuild "$with_table" -q "DELETE FROM Property WHERE Property = 'SemilistPath.Bin'"
msibuild "$with_table" -q "DELETE FROM InstallExecuteSequence WHERE Action = 'SemilistSchedule'"
printf '%s\r\n' 'Environment	Name	Value	Component_' 's72	l255	L255	s72' \
  'Environment	Environment' 'PathEntry	=-*PATH	[~];[INSTALLDIR]bin	Bin' \
  >"$work/Environment.idt"
msibuild "$with_table" -i "$work/Environment.idt"
msibuild "$with_table" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)"
msibuild "$with_table" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
no_rows=$work/no-rows.msi
cp "$with_semilist" "$no_rows"
msibuild "$no_rows" -q "DELETE FROM Property WHERE Property = 'SemilistPath.Bin'"

# Milliseconds of one install; the uninstall that follows is not counted.
time_install() {
  local package start end
  package=$(winepath "$1")
  start=$(date +%s%N)
  "$wine" msiexec /i "$package" /qn
  end=$(date +%s%N)
  "$wine" msiexec /x "$package" /qn
  echo $(((end - start) / 1000000))
}
median() { sort -n | sed -n "$(((runs + 1) / 2))p"; }
# Both must put the folder on PATH, or the comparison means nothing.
for package in "$with_semilist" "$with_table"; do
  "$wine" msiexec /i "$(winepath "$package")" /qn
  [[ $(machine_path) == *'semilist MSI example\bin' ]] ||
    fail "$(basename "$package") did not put its folder on PATH: $(machine_path)"
  "$wine" msiexec /x "$(winepath "$package")" /qn
done
a=() b=() c=()
for ((i = 0; i < runs; i++)); do
  a+=("$(time_install "$with_semilist")")
  b+=("$(time_install "$with_table")")
  c+=("$(time_install "$no_rows")")
done
a_median=$(printf '%s\n' "${a[@]}" | median)
b_median=$(printf '%s\n' "${b[@]}" | median)
c_median=$(printf '%s\n' "${c[@]}" | median)
echo "A: semilist.wxi and one line: ${a[*]} ms, median $a_median ms"
echo "B: an Environment table row:  ${b[*]} ms, median $b_median ms"
echo "C: the scheduler, no row:     ${c[*]} ms, median $c_median ms"
echo "A/B: $(awk -v a="$a_median" -v b="$b_median" 'BEGIN { printf "%.2f", a / b }')"
echo "stripped semilist.dll: $(stat -c %s build/windows/semilist.dll) bytes"

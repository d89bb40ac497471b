#!/bin/bash
# The x64 and x86 programs keep owned edits' claims in one record, in the
# 64-bit registry view, so that either undoes what the other claimed: a
# 32-bit installer's uninstall of an entry that a 64-bit one still needs
# keeps it.
#   shared_claims.sh X64_SEMILIST X86_SEMILIST WORK_DIR
# Exits with 77 where 32-bit code cannot run.
set -euo pipefail
usage='usage: shared_claims.sh X64_SEMILIST X86_SEMILIST WORK_DIR'
root=$(cd "$(dirname "$0")/.." && pwd)
x64=$(realpath "${1:?$usage}")
x86=$(realpath "${2:?$usage}")
work=$(realpath -m "${3:?$usage}")
source "$root/tests/wine_helpers.sh"
require_runnable "$x86"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all
"$root/scripts/wine-prefix" fresh "$WINEPREFIX"
trap '"$root/scripts/wine-prefix" stop "$WINEPREFIX"' EXIT

name=SEMILIST_SHARED
run() {
  local status=0
  "$wine" "$@" || status=$?
  [[ $status == 0 ]] || fail "$(basename "$(dirname "$1")") ${*:2} ended with status $status"
}
query() { "$wine" reg query "$@" 2>/dev/null | tr -d '\r' || true; }
exists() { "$wine" reg query "$@" >/dev/null 2>&1; }
value() { query "$machine_key" /v "$name" | sed -n "s/^ *$name *REG_[A-Z_]* *//p"; }

run "$x64" /append /system "$name" 'C:\shared' /owner:x64
run "$x86" /append /system "$name" 'C:\shared' /owner:x86
claims=$(query 'HKLM\SOFTWARE\semilist\Owners' /v "$name" /reg:64)
[[ $claims == *x64*x86* ]] || fail "the 64-bit record holds: $claims"
! exists 'HKLM\SOFTWARE\WOW6432Node\semilist' ||
  fail "the x86 program kept a record of its own in the 32-bit view"
run "$x64" /remove /system "$name" 'C:\shared' /owner:x64
[[ $(value) == 'C:\shared' ]] || fail "the x64 uninstall left '$(value)'"
run "$x86" /remove /system "$name" 'C:\shared' /owner:x86
[[ -z $(value) ]] || fail "after both uninstalls, $name is '$(value)'"
! exists 'HKLM\SOFTWARE\semilist\Owners' /v "$name" /reg:64 ||
  fail "after both uninstalls, a claim is left"
echo "shared claims: x64 and x86 share one record, and the entry went with its last owner"

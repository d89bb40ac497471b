# Sourced by the script tests: registry helpers for the test's Wine prefix,
# and the machine's PATH set to a known value for a test and put back after.
wine=/usr/lib/wine/wine64
machine_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
# Normalised, since every edit rewrites PATH normalised.
original_path='%SystemRoot%\system32;%SystemRoot%;C:\Tools'

fail() { echo "$*" >&2; exit 1; }
# Under set -e a failing command ends the script without a word where its
# output was discarded, so the first failure outside a command substitution
# says where it was.
report_failure() {
  [[ $BASH_SUBSHELL != 0 ]] || echo "${0##*/}: line $2: $3 failed with status $1" >&2
}
set -E
trap 'report_failure $? "$LINENO" "$BASH_COMMAND"' ERR
# pei-x86-64 or pei-i386.
pe_format() { x86_64-w64-mingw32-objdump -f "$1" | sed -n 's/.*file format //p'; }
# Why this machine cannot run 32-bit Windows programs, or nothing where it can.
# They run only in Wine's 32-bit half (wine32:i386), whose loader is a 32-bit
# Linux program.
x86_unavailable_reason() {
  local loader=/usr/lib/wine/wine
  if [[ ! -x $loader ]]; then
    echo "32-bit Wine is not installed"
  elif ! "$loader" --version >/dev/null 2>&1; then
    echo "this machine cannot run 32-bit code ($loader: $("$loader" --version 2>&1 | tail -1))"
  fi
}
# Where PROGRAM is 32-bit and cannot run here, the test is skipped (ctest's
# SKIP_RETURN_CODE) rather than failed.
require_runnable() {
  [[ $(pe_format "$1") == pei-i386 ]] || return 0
  local reason
  reason=$(x86_unavailable_reason)
  [[ -n $reason ]] || return 0
  echo "skipped: $(basename "$1") is a 32-bit program, and $reason" >&2
  exit 77
}
winepath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
# Runs a Wine command that can run again, showing its output only where it
# fails (reg, for one, says why on stdout). Rarely a process dies in Wine's
# own start-up, so a failure is tried twice more before it counts.
wine_quietly() {
  local said status attempt
  for attempt in 1 2 3; do
    status=0
    said=$("$@" 2>&1) || status=$?
    [[ $status != 0 ]] || return 0
    echo "$* failed with status $status in ${WINEPREFIX:-} (try $attempt of 3): $(tr -d '\r' <<<"$said")" >&2
  done
  return "$status"
}
export_key() { wine_quietly "$wine" reg export "$1" "$(winepath "$2")" /y; }
set_path() {
  "$wine" reg add "$machine_key" /v PATH /t "$1" /d "$2" /f >/dev/null
}
# The machine's PATH, or the variable NAME, as "TYPE DATA".
machine_value() {
  "$wine" reg query "$machine_key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p"
}
machine_path() { machine_value PATH; }

# Sets the machine's PATH to original_path and exports the key to
# WORK/before.reg. The prefix's own PATH is put back when the script exits,
# for the tests that follow.
start_from_known_path() {
  path_work=$1
  export_key "$machine_key" "$path_work/prefix.reg"
  trap '"$wine" reg import "$(winepath "$path_work/prefix.reg")" >/dev/null 2>&1' EXIT
  set_path REG_EXPAND_SZ "$original_path"
  export_key "$machine_key" "$path_work/before.reg"
}

# Fails, naming WHAT, unless the machine's key is byte for byte as it was.
expect_key_as_before() {
  export_key "$machine_key" "$path_work/after.reg"
  if ! cmp -s "$path_work/before.reg" "$path_work/after.reg"; then
    diff <(iconv -f UTF-16LE -t UTF-8 "$path_work/before.reg") \
      <(iconv -f UTF-16LE -t UTF-8 "$path_work/after.reg") >&2 || true
    fail "after $1, the machine's Environment key differs"
  fi
}

# Fails, naming WHAT, if an owned edit's claim on the machine's PATH is left.
expect_no_claim() {
  if "$wine" reg query 'HKLM\SOFTWARE\semilist\Owners' /v PATH >/dev/null 2>&1; then
    fail "after $1, a claim on PATH is left"
  fi
}

# A machine PATH of 8,174 characters, which no installer's folder fits
# under cmd.exe's 8,191: REG_SZ, so that it counts as stored, and led by
# the folders where Wine finds its own programs.
long_path="C:\\windows\\system32;C:\\windows;C:\\$(head -c 8140 </dev/zero | tr '\0' a)"
# Sets it, and takes the key as it then is for expect_key_as_before.
start_with_long_path() {
  set_path REG_SZ "$long_path"
  export_key "$machine_key" "$path_work/before.reg"
}

# Puts an entry on the machine's PATH before an install, as a user might
# have, and takes the key as it then is for expect_key_as_before.
start_with_entry() {
  set_path REG_EXPAND_SZ "$original_path;$1"
  export_key "$machine_key" "$path_work/before.reg"
}

#!/bin/bash
# A CMake project takes semilist in from its release zip, and its CPack
# NSIS installer puts the program's folder on a long system PATH and takes
# it off again, byte for byte. First the package is found as a user finds
# it: by CMAKE_PREFIX_PATH with a version and an architecture that fit or
# do not, by FetchContent, and by semilist_DIR for a cross build that
# compiles a caller of semilist.h. TARGET is the installer's makensis target:
# x86-unicode, CPack's own, needs the x86 build; amd64-unicode the x64 one,
# built through a CPACK_NSIS_EXECUTABLE that sets the target.
set -euo pipefail
usage='usage: cpack_round_trip.sh BUILD_DIR WORKDIR TARGET'
build=$(realpath "${1:?$usage}")
work=$(realpath -m "${2:?$usage}")
target=${3:?$usage}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/wine_helpers.sh"
rm -rf "$work"
mkdir -p "$work/prefix"

mapfile -t zips < <("$root/scripts/package" "$build" "$work")
(cd "$work/prefix" && cmake -E tar xf "${zips[0]}")
# CPack's default install folder: NSIS reads /D= only where it is not
# quoted, and Wine quotes an argument with a blank.
if [[ $target == x86-* ]]; then
  arch=x86 other=x64 format=pei-i386 toolchain=i686
  instdir='C:\Program Files (x86)\hello'
else
  arch=x64 other=x86 format=pei-x86-64 toolchain=x86_64
  instdir='C:\Program Files\hello'
fi

# Configures a project that finds the package, with ARGS; REFUSAL, where
# given, is what its configure must fail with.
consumer() {
  local refusal=$1 log=$work/consumer.log
  shift
  rm -rf "$work/consumer"
  if cmake -S "$root/tests/cmake_package" -B "$work/consumer" "$@" >"$log" 2>&1 &&
    cmake --build "$work/consumer" >>"$log" 2>&1; then
    [[ -z $refusal ]] || fail "configuring with $* succeeded"
  elif [[ -z $refusal ]] || ! tr -s ' \n' '  ' <"$log" | grep -qF "$refusal"; then
    cat "$log" >&2
    fail "configuring with $* failed, not with '$refusal'"
  fi
}
found=-DCMAKE_PREFIX_PATH=$work/prefix
consumer '' "$found" -DWANT_COMPONENTS=$arch
consumer 'compatible with requested version "0.2"' "$found" -DWANT_VERSION=0.2
consumer "not the component '$other'" "$found" -DWANT_COMPONENTS=$other
consumer "Turn CPACK_NSIS_MODIFY_PATH off" "$found" -DMODIFY_PATH=before
consumer "Turn CPACK_NSIS_MODIFY_PATH off" "$found" -DMODIFY_PATH=after
consumer '' -DFETCH_URL="file://${zips[0]}" \
  -DFETCH_SHA256="$(sha256sum "${zips[0]}" | cut -d' ' -f1)"
consumer '' -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain-w64-mingw32.cmake" \
  -DCALLER=ON -Dsemilist_DIR="$work/prefix/lib/cmake/semilist"
echo "found by prefix, version and architecture, and by FetchContent; refused the wrong ones"

# The example, with the project's own commands in all three hooks, which
# must run as well. CPACK_VERBATIM_VARIABLES on or off gives the same script.
# NSIS takes no / for \ in a path, and CMake reads \ as an escape without
# CPACK_VERBATIM_VARIABLES: the commands write the user's registry instead.
own='HKCU semilist-cpack-example'
own_values() {
  "$wine" reg query 'HKCU\semilist-cpack-example' 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *\([a-z]*\) *REG_SZ *ran$/\1/p' | xargs
}
makensis=$(command -v makensis)
if [[ $target != x86-unicode ]]; then
  makensis=$work/makensis-$target
  printf '#!/bin/sh\n[ "$1" = -VERSION ] || set -- "-XTarget %s" "$@"\nexec makensis "$@"\n' \
    "$target" >"$makensis"
  chmod +x "$makensis"
fi
for verbatim in OFF ON; do
  example=$work/example-$verbatim
  cmake -S "$root/examples/cpack" -B "$example" -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DHELLO_SEMILIST_ARCHITECTURE=$arch -DCPACK_NSIS_EXECUTABLE="$makensis" \
    -DCPACK_VERBATIM_VARIABLES=$verbatim \
    -DCPACK_NSIS_EXTRA_PREINSTALL_COMMANDS="WriteRegStr $own preinstall ran" \
    -DCPACK_NSIS_EXTRA_INSTALL_COMMANDS="WriteRegStr $own install ran" \
    -DCPACK_NSIS_EXTRA_UNINSTALL_COMMANDS="DeleteRegKey $own" \
    >/dev/null
  cmake --build "$example" >/dev/null
  (cd "$example" && cpack -G NSIS >/dev/null) || {
    cat "$example"/_CPack_Packages/*/NSIS/NSISOutput.log >&2
    fail "cpack failed with CPACK_VERBATIM_VARIABLES $verbatim"
  }
done
scripts=("$work"/example-{OFF,ON}/_CPack_Packages/*/NSIS/project.nsi)
diff "${scripts[0]}" <(sed 's/example-ON/example-OFF/g' "${scripts[1]}") >&2 ||
  fail "CPACK_VERBATIM_VARIABLES changed the installer's script"
installer=$(echo "$work"/example-OFF/hello-*.exe)
[[ $(pe_format "$installer") == "$format" ]] ||
  fail "a $target installer came out as $(pe_format "$installer")"
require_runnable "$installer"

# A PATH of 3,000 characters, with references, past what CPack's own
# editor can read.
original_path='%SystemRoot%\system32;%SystemRoot%'
for i in $(seq 100 199); do original_path+=";%ProgramFiles%\\Tool $i\\bin"; done
original_path+=";C:\\$(printf 'x%.0s' $(seq $((3000 - 4 - ${#original_path}))))"
installed=$WINEPREFIX/drive_c/${instdir:3}
installed=${installed//\\//}
start_from_known_path "$work"
install() { "$wine" "$installer" /S; }
uninstall() {
  "$wine" "$instdir\\Uninstall.exe" /S
  /usr/lib/wine/wineserver -w
}
prefix_path() { machine_value CMAKE_PREFIX_PATH; }
for round in first second; do
  install
  [[ $(machine_path) == "REG_EXPAND_SZ $original_path;$instdir\\bin" ]] ||
    fail "after the $round install, PATH is '$(machine_path)'"
  [[ $(prefix_path) == "REG_EXPAND_SZ $instdir" ]] ||
    fail "after the $round install, CMAKE_PREFIX_PATH is '$(prefix_path)'"
done
[[ $(own_values) == "install preinstall" ]] ||
  fail "the project's own install commands did not run: $(own_values)"
echo "installed twice: a PATH of ${#original_path} characters gained '$instdir\\bin' once, and CMAKE_PREFIX_PATH the folder"
uninstall
expect_key_as_before "uninstalling"
[[ ! -e $installed && -z $(own_values) ]] ||
  fail "the uninstall left $installed or its own commands did not run"
echo "uninstalled: the machine's Environment key is back, byte for byte"

start_with_entry "$instdir\\bin"
install
uninstall
expect_key_as_before "uninstalling, with the entry on PATH before the install"
echo "an entry that was on PATH before the install is still there after the uninstall"

# CMake's NSIS template takes $INSTDIR\bin off the user's PATH on every
# uninstall, through a test of a variable that it never sets; the user's
# own entry stays, byte for byte.
user_path() {
  { "$wine" reg query 'HKCU\Environment' /v PATH 2>/dev/null || true; } | tr -d '\r' |
    sed -n 's/^ *PATH *REG_[A-Z_]* *//p'
}
own_entries="C:\\mine;$instdir\\bin"
"$wine" reg add 'HKCU\Environment' /v PATH /t REG_EXPAND_SZ /d "$own_entries" /f >/dev/null
install
uninstall
[[ $(user_path) == "$own_entries" ]] ||
  fail "the uninstall changed the user's own PATH to '$(user_path)'"
"$wine" reg delete 'HKCU\Environment' /v PATH /f >/dev/null
echo "the user's own '$instdir\\bin' stayed on the user's PATH through CMake's template"

# A PATH too long to take the folder warns, and the install goes on to the
# next folder.
start_with_long_path
install || fail "a PATH too long to take the folder failed the install"
[[ $(machine_path) == "REG_SZ $long_path" && $(prefix_path) == "REG_EXPAND_SZ $instdir" ]] ||
  fail "with a PATH too long, the install left PATH or CMAKE_PREFIX_PATH wrong"
uninstall
set_path REG_EXPAND_SZ "$original_path"
echo "a PATH too long to take the folder: the install warned and went on"

# A failed edit stops the install; a failed removal is reported, and the
# uninstall goes on with the next folder and the files.
set_path REG_DWORD 7
! install 2>/dev/null || fail "the install succeeded although semilist could not read PATH"
[[ -z $(prefix_path) ]] || fail "the failed install went on to CMAKE_PREFIX_PATH"
set_path REG_EXPAND_SZ "$original_path"
install
set_path REG_DWORD 7
uninstall
[[ -z $(prefix_path) && ! -e $installed ]] ||
  fail "the uninstall stopped at the failed removal from PATH"
# The failed removal kept its claim, which no later test may find.
"$wine" reg delete 'HKLM\SOFTWARE\semilist\Owners' /v PATH /f >/dev/null 2>&1 || true
echo "a failed append stopped the install; a failed removal did not stop the uninstall"

#!/bin/bash
# Packs a tested Windows build as a release would, then:
#   - runs the test kit from its unpacked zip as a Windows user would, through
#     Wine's cmd, and checks that it passes and leaves both Environment keys
#     as they were;
#   - checks that the kit fails when semilist.exe does nothing;
#   - signs semilist.exe with a throwaway certificate, and checks that the
#     signature verifies, that the signed program runs, and that removing the
#     signature gives back the tested bytes.
#     check_kit.sh BUILD_DIR WORK_DIR
# Exits with 77 for a 32-bit build where 32-bit code cannot run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:?usage: check_kit.sh BUILD_DIR WORK_DIR}")
work=$(realpath -m "${2:?usage: check_kit.sh BUILD_DIR WORK_DIR}")
rm -rf "$work"
mkdir -p "$work"
source "$root/tests/wine_helpers.sh"
require_runnable "$build/semilist.exe"
export WINEPREFIX=$work/prefix WINEDEBUG=-all
"$root/scripts/wine-prefix" fresh "$WINEPREFIX"
trap '"$root/scripts/wine-prefix" stop "$WINEPREFIX"' EXIT

kit_zip=$("$root/scripts/package" "$build" "$work/release" | tail -1)
keys=('HKCU\Environment' "$machine_key")
export_keys() {
  for i in 0 1; do export_key "${keys[$i]}" "$1.$i.reg"; done
}
run_kit() {
  rm -rf "$work/kit"
  mkdir "$work/kit"
  (cd "$work/kit" && cmake -E tar xf "$kit_zip")
  [[ -z ${1:-} ]] || cp "$1" "$work/kit/semilist.exe"
  (cd "$work/kit" && "$wine" cmd /c run-tests.cmd) | tr -d '\r'
}

export_keys "$work/before"
run_kit | tee "$work/kit.out" || fail "the test kit failed under Wine"
grep -qx '4 passed, 0 failed' "$work/kit.out" || fail "the kit did not report 4 passed"
for xml in path_list registry end_to_end fault; do
  grep -q '<testsuites' "$work/kit/results/${xml}_tests.xml" ||
    fail "no JUnit XML from ${xml}_tests"
done
export_keys "$work/after"
for i in 0 1; do
  cmp -s "$work/before.$i.reg" "$work/after.$i.reg" ||
    fail "the kit left ${keys[$i]} changed"
done
echo "kit: passed under Wine's cmd, and left both Environment keys as they were"

if run_kit "$build/does_nothing.exe" >"$work/broken.out"; then
  fail "the kit passed with a semilist.exe that does nothing"
fi
grep -q '^FAILED  end_to_end_tests' "$work/broken.out" ||
  fail "the kit did not name end_to_end_tests as failing"
echo "kit: fails when semilist.exe does nothing ($(tail -1 "$work/broken.out"))"

# A throwaway self-signed certificate for code signing.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -keyout "$work/key.pem" \
  -out "$work/cert.pem" -subj "/CN=semilist throwaway test signer" \
  -addext extendedKeyUsage=codeSigning 2>/dev/null
SEMILIST_SIGN_CERT=$work/cert.pem SEMILIST_SIGN_KEY=$work/key.pem \
  "$root/scripts/sign" "$build/semilist.exe" "$work/signed.exe"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >/dev/null ||
  fail "the signed semilist.exe does not verify"
osslsigncode remove-signature -in "$work/signed.exe" -out "$work/unsigned.exe" >/dev/null
cmp -s "$work/unsigned.exe" "$build/semilist.exe" ||
  fail "without its signature, the signed semilist.exe is not the tested one"
"$wine" "$work/signed.exe" /append /user SEMILIST_SIGNED_TEST x ||
  fail "the signed semilist.exe failed to append"
"$wine" "$work/signed.exe" /remove /user SEMILIST_SIGNED_TEST x ||
  fail "the signed semilist.exe failed to remove"
echo "signing: verifies, runs, and is the tested file once its signature is removed"

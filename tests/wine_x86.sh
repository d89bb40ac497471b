#!/bin/bash
# Runs a Windows program under Wine, as the x86 build's ctest emulator;
# exits with 77, which ctest counts as skipped, where the program is 32-bit
# and the machine cannot run 32-bit code.
set -euo pipefail
source "$(dirname "$0")/wine_helpers.sh"
require_runnable "${1:?usage: wine_x86.sh PROGRAM [ARGUMENT...]}"
exec "$wine" "$@"

#!/bin/bash
# An item appended to the user's PATH shows, expanded, in the PATH of a
# process started after the prefix's server has restarted.
set -euo pipefail
exe=$(realpath "${1:?usage: new_process_path.sh semilist.exe}")
source "$(dirname "$0")/wine_helpers.sh"
require_runnable "$exe"
wineserver=/usr/lib/wine/wineserver
item='%USERPROFILE%\semilist-new-process-test'

new_path() {
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  "$wine" cmd /c echo '%PATH%' | tr -d '\r'
}

"$wine" "$exe" /append /user PATH "$item"
trap '"$wine" "$exe" /remove /user PATH "$item" || true' EXIT
profile=$("$wine" cmd /c echo '%USERPROFILE%' | tr -d '\r')
path=$(new_path)
echo "PATH seen by a new process: $path"
case ";$path;" in
  *";$profile\\semilist-new-process-test;"*) ;;
  *) echo "expanded item $profile\\semilist-new-process-test is missing" >&2; exit 1 ;;
esac

"$wine" "$exe" /remove /user PATH "$item"
trap - EXIT
path=$(new_path)
case ";$path;" in
  *semilist-new-process-test*) echo "item still there after removal" >&2; exit 1 ;;
esac
echo "appended and removed item seen by new processes"

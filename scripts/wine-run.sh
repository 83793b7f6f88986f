#!/usr/bin/env bash
# Runs one Windows program under Wine for ctest and the interop checks, and exits with its code.
# The wineserver and Wine's services keep the standard output pipe open after the program ends, so
# a caller reading that pipe would wait for them: the program writes to a file, printed afterwards.
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-${PELLAX_WINE_PREFIX:-$here/../build-windows/wine-prefix}}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver="$(command -v wineserver)"

# A fresh prefix (about 10 s) is made once, quietly, so its messages stay out of the program's output.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1 </dev/null
fi
# A persistent server for this prefix, detached and with its output closed, so no pipe waits on it.
# (When one runs already, the new one leaves at once.)
setsid "$wineserver" -p60 </dev/null >/dev/null 2>&1 &

output="$(mktemp "${TMPDIR:-/tmp}/pellax-wine.XXXXXX")"
trap 'rm -f "$output"' EXIT
"$wine" "$@" >"$output" 2>&1 </dev/null
code=$?
cat "$output"
exit "$code"

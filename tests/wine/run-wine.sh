#!/usr/bin/env bash
# run-wine.sh <wine prefix> <program.exe> [args...]
# Runs a Windows program under Wine in a prefix of the tests' own, creating
# the prefix first when it is not there yet.  The exit code is the program's.
# KELB_PLUGIN_DIR: run in that folder, where the host finds the plug-in it is
# named, instead of the build's (the release stage: the unpacked archive's).
set -euo pipefail
export WINEPREFIX=$1; shift
if [ -n "${KELB_PLUGIN_DIR:-}" ]; then
  cd "$KELB_PLUGIN_DIR"
fi
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their install prompts would hang.
export WINEDLLOVERRIDES="mscoree=;mshtml="

# The 64-bit loader runs 64-bit programs; 32-bit ones need the 32-bit loader,
# which needs a kernel that runs 32-bit Linux programs.
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
export WINELOADER=$wine64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi

program=${1:-}
if [ "$program" != "${program%.exe}" ] && objdump -f "$program" 2>/dev/null | grep -q 'pei-i386'; then
  if ! "$wine32" --version >/dev/null 2>&1; then
    echo "SKIP: this machine cannot run 32-bit programs ($wine32 does not start)"
    exit 77
  fi
  export WINELOADER=$wine32
  exec "$wine32" "$@"
fi
exec "$wine64" "$@"

#!/usr/bin/env bash
# driver-prefix.sh <template> <kelbcyusb.sys> <kelbcyusb.inf> <kelbcyusb-install.exe> <host.exe>
# Makes a 64-bit Wine prefix with the stand-in CyUSB driver installed, once
# per test run; each scenario runs in a copy of it (run-scenario.sh).  Skips
# (77) when the host is a 32-bit program that this machine cannot run.
set -euo pipefail
template=$1 sys=$2 inf=$3 installer=$4 host=$5
if objdump -f "$host" 2>/dev/null | grep -q 'pei-i386' && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "SKIP: this machine cannot run 32-bit programs"
  exit 77
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
export WINELOADER=$wine64

rm -rf "$template"
mkdir -p "$template"
export WINEPREFIX=$template
"$wine64" wineboot --init >/dev/null 2>&1 </dev/null || true
# Installing in the session wineboot started fails: its services hold the
# service database.
wineserver -w
stage="$template/drive_c/kelbcyusb"
mkdir -p "$stage"
cp "$sys" "$stage/kelbcyusb.sys"
cp "$inf" "$stage/kelbcyusb.inf"
cp "$installer" "$stage/kelbcyusb-install.exe"
rc=0
timeout 120 "$wine64" 'C:\kelbcyusb\kelbcyusb-install.exe' install 'C:\kelbcyusb' </dev/null || rc=$?
wineserver -k || true
wineserver -w || true
[ "$rc" -eq 0 ] || { echo "driver install failed ($rc)"; rm -rf "$template"; exit 1; }

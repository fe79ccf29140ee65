#!/usr/bin/env bash
# run-scenario.sh <driver prefix> <program.exe> [args...]
# Runs a Windows program in a fresh copy of the prefix that driver-prefix.sh
# made, in a Wine session of its own, and removes the copy afterwards.  The
# exit code is the program's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
template=$1; shift
if [ "$1" != "${1%.exe}" ] && objdump -f "$1" 2>/dev/null | grep -q 'pei-i386' &&
   ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "SKIP: this machine cannot run 32-bit programs"
  exit 77
fi
[ -f "$template/system.reg" ] || { echo "no driver prefix at $template"; exit 1; }
prefix=$(mktemp -d "$template.XXXXXX")
finish() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  WINEPREFIX=$prefix wineserver -w 2>/dev/null
  rm -rf "$prefix"
}
trap finish EXIT
# The Windows folder is linked, not copied (it is 1.3 GB and a session only
# adds files there); the registry files, which a session rewrites, are copied.
cp -al "$template/." "$prefix/"
for f in "$template"/*.reg "$template"/.update-timestamp; do
  [ -f "$f" ] && cp --remove-destination "$f" "$prefix/"
done
bash "$here/run-wine.sh" "$prefix" "$@" </dev/null

#!/usr/bin/env bash
# The Windows builds: kelbio.mexw64 and kelbio.mexw32 cross-built with
# MinGW-w64, each checked with objdump and run under Wine by its tests.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
mkdir -p "$out"
# One Wine prefix serves the 64-bit and the 32-bit programs.
prefix="$out/wineprefix"

rc=0
for arch in x86_64 i686; do
  dir="$out/windows-$arch"
  echo "--- $arch"
  if bash "$top/scripts/build.sh" "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-$arch.cmake" \
       -DKELBIO_OCTAVE=OFF -DKELB_WINEPREFIX="$prefix"; then
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" || rc=1
  else
    rc=1
  fi
done

# Leave no wineserver behind.
if [ -d "$prefix" ]; then WINEPREFIX="$prefix" wineserver -w; fi
exit $rc

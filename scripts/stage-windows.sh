#!/usr/bin/env bash
# The Windows builds: kelbio.mexw64 and kelbio.mexw32 cross-built with
# MinGW-w64, each checked with objdump and run under Wine by its tests.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
mkdir -p "$out"
# One Wine prefix serves the 64-bit and the 32-bit programs.
prefix="$out/wineprefix"

# The Linux build's transcript of the traffic that the Wine runs compare with.
native="$out/native"
traffic="$out/linux-traffic.txt"
rm -f "$traffic"
if [ -f "$native/CMakeCache.txt" ] || cmake -S "$top" -B "$native" >"$native.configure.log" 2>&1; then
  cmake --build "$native" -j "$(nproc)" --target kelbio_traffic &&
    LD_LIBRARY_PATH="$native/matlab-stubs" "$native/tests/wine/kelbio_traffic" >"$traffic" || rm -f "$traffic"
fi

rc=0
for arch in x86_64 i686; do
  dir="$out/windows-$arch"
  echo "--- $arch"
  if bash "$top/scripts/build.sh" "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-$arch.cmake" \
       -DKELBIO_OCTAVE=OFF -DKELB_WINEPREFIX="$prefix" -DKELB_LINUX_TRAFFIC="$traffic"; then
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" || rc=1
  else
    rc=1
  fi
done

# Leave no wineserver behind.
if [ -d "$prefix" ]; then WINEPREFIX="$prefix" wineserver -w; fi
exit $rc

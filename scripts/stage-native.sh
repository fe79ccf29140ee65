#!/usr/bin/env bash
# The 64-bit Linux build: kelbio.mexa64, kelbio.mex, and every test that runs natively.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
mkdir -p "$out"
# Built with Debian's own compiler and linker flags (hardening, _FORTIFY_SOURCE=2,
# -O2, no build type of CMake's), as a distribution's package would be.
dist() { echo "$(dpkg-buildflags --get "$1") $(dpkg-buildflags --get CPPFLAGS)"; }
ldflags=$(dpkg-buildflags --get LDFLAGS)
bash "$top/scripts/build.sh" "$out/native" -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_C_FLAGS="$(dist CFLAGS)" -DCMAKE_CXX_FLAGS="$(dist CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
source "$top/scripts/left-out.sh"
kelb_exclude_labels "$out/native" octave=octave libusb=real_libusb package=packaging
ctest --test-dir "$out/native" --output-on-failure -j "$(nproc)" "${kelb_ctest_exclude[@]}"

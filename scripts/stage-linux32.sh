#!/usr/bin/env bash
# The 32-bit Linux build: kelbio.mexglx made with g++ -m32 against the i386
# libusb, and the unit tests built the same way.  Where the kernel cannot run
# 32-bit programs, they run under qemu-i386.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
dir="$out/linux32"
mkdir -p "$out"
export PKG_CONFIG_LIBDIR=/usr/lib/i386-linux-gnu/pkgconfig

emulator=()
probe="$out/linux32-probe"
echo 'int main(void) { return 0; }' | gcc -m32 -x c - -o "$probe"
if ! "$probe" 2>/dev/null; then
  if ! command -v qemu-i386 >/dev/null; then
    echo "This kernel runs no 32-bit programs and qemu-i386 is missing (apt-get install qemu-user)."
    exit 1
  fi
  emulator=(-DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v qemu-i386)")
fi
rm -f "$probe"

bash "$top/scripts/build.sh" "$dir" -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DKELBIO_OCTAVE=OFF \
  "${emulator[@]}"
objdump -f "$dir/kelbio.mexglx" | grep -q 'elf32-i386' || { echo "kelbio.mexglx is not a 32-bit library"; exit 1; }
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" -L unit

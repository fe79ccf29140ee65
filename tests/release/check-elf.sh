#!/usr/bin/env bash
# check-elf.sh <file>...
# A shipped Linux binary takes from the user's system only what every system
# has: no C++ runtime or libgcc symbol versions (MATLAB loads its own, older
# libstdc++ first), and only the C library, libusb-1.0 and MATLAB's libmx and
# libmex as libraries.  Prints the newest glibc each one needs.
set -uo pipefail
allowed='libc\.so\.6|libm\.so\.6|libdl\.so\.2|libpthread\.so\.0|ld-linux(-x86-64)?\.so\.2|libusb-1\.0\.so\.0|libmx\.so|libmex\.so'
fail=0
for f in "$@"; do
  name=$(basename "$f")
  symbols=$(objdump -T "$f") || { echo "FAIL: objdump cannot read $f"; fail=1; continue; }
  runtime=$(grep -oE '(GLIBCXX|CXXABI|GCC)_[0-9.]+' <<<"$symbols" | sort -u | tr '\n' ' ')
  [ -z "$runtime" ] || { echo "FAIL: $name needs the compiler's runtime: $runtime"; fail=1; }
  needed=$(objdump -p "$f" | awk '$1 == "NEEDED" { print $2 }')
  others=$(grep -vxE "$allowed" <<<"$needed" | tr '\n' ' ')
  [ -z "${others// }" ] || { echo "FAIL: $name needs $others"; fail=1; }
  glibc=$(grep -oE 'GLIBC_[0-9.]+' <<<"$symbols" | sort -uV | tail -1)
  echo "$name: needs $(echo $needed), at least ${glibc:-no GLIBC version}"
done
exit $fail

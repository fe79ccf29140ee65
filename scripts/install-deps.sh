#!/usr/bin/env bash
# Installs what building and testing kelbio needs on Debian 12.  Safe to run again.
#
#   bash scripts/install-deps.sh        everything scripts/test.sh needs
#   bash scripts/install-deps.sh demo   what scripts/demo.sh needs: the native build and Octave
#
# When every package is there it changes nothing and needs no root, so a user
# who has the packages can build and test without root.  Otherwise it installs
# as root or through sudo; with neither, it names the missing packages and
# stops.  KELBIO_NO_INSTALL=1 skips all of it.
set -euo pipefail
[ "${KELBIO_NO_INSTALL:-0}" = 1 ] && exit 0

# The packages, by purpose.  Add a package to the list it serves; a new purpose
# gets its own list and a place in the sets below.
native=(cmake make g++ pkg-config binutils libusb-1.0-0-dev)
unit_tests=(libgtest-dev googletest libbenchmark-dev udev)
# dpkg-buildflags: the native stage builds with Debian's compiler flags.
distro_flags=(dpkg-dev)
# Octave runs the plug-in and draws the demo's plot; its text renderer loads
# FreeSans, which octave-common only recommends.
octave=(octave octave-dev gnuplot-nox ghostscript fonts-dejavu-core fonts-freefont-otf)
# The 32-bit Linux build; qemu-user runs its tests where the kernel runs no 32-bit programs.
linux32=(gcc-multilib g++-multilib libusb-1.0-0-dev:i386 qemu-user)
# The same virtual boards served to the real libusb-1.0 (sim/umock).
real_libusb=(umockdev libumockdev-dev)
# The Octave package is made from the repository with git archive; the
# benchmarks count instructions with callgrind.
packaging=(git)
bench=(valgrind)
# The fuzzers: clang with libFuzzer and the sanitizers' runtimes.
fuzz=(clang libclang-rt-14-dev)
# The Windows cross builds and Wine, which runs their tests.
windows=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine wine32:i386)

case "${1:-all}" in
  demo) wanted=("${native[@]}" "${unit_tests[@]}" "${octave[@]}") ;;
  all) wanted=("${native[@]}" "${unit_tests[@]}" "${octave[@]}" "${distro_flags[@]}" "${real_libusb[@]}"
            "${packaging[@]}" "${bench[@]}" "${fuzz[@]}" "${linux32[@]}" "${windows[@]}") ;;
  *) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${db:Status-Abbrev}' "$pkg" 2>/dev/null | grep -q '^ii' || missing+=("$pkg")
done
[ ${#missing[@]} -gt 0 ] || exit 0

# Packages of the 32-bit architecture need it added first; only the full set has such.
add_i386=no
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  add_i386=yes
fi

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null; then
  SUDO=(sudo)
else
  echo "kelbio needs these packages, which are not installed: ${missing[*]}" >&2
  first=""
  [ "$add_i386" = no ] || first="dpkg --add-architecture i386 && "
  echo "Install them as root: ${first}apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"

[ "$add_i386" = no ] || "${SUDO[@]}" dpkg --add-architecture i386
apt=("${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600)
"${apt[@]}" update
"${apt[@]}" install --no-install-recommends "${missing[@]}"

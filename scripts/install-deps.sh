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
#
# Package mirrors are not always whole (an index caught mid-sync, an i386
# package whose amd64 twin moved on), so the packages go in purpose by
# purpose.  A package that apt does not know at all stops the run: that is our
# mistake.  A known package that cannot be installed right now leaves its
# purpose out; the purposes left out are written one a line ("purpose: reason")
# to $KELB_LEFT_OUT (default build/left-out.txt), where scripts/test.sh reads
# them and counts the stages that need them as skipped.  For `demo` every
# purpose is needed, so one left out ends the run.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
left_out_file=${KELB_LEFT_OUT:-${KELB_OUT:-$top/build}/left-out.txt}
mkdir -p "$(dirname "$left_out_file")"
: >"$left_out_file"
[ "${KELBIO_NO_INSTALL:-0}" = 1 ] && exit 0

# The packages, by purpose.  Add a package to the list it serves; a new purpose
# gets its own list, a place in the sets below, and (scripts/test.sh) the
# stages that need it.
# dpkg-buildflags (dpkg-dev): the native stage builds with Debian's compiler flags.
native=(cmake make g++ pkg-config binutils libusb-1.0-0-dev dpkg-dev)
unit_tests=(libgtest-dev googletest udev)
# Octave runs the plug-in and draws the demo's plot; its text renderer loads
# FreeSans, which octave-common only recommends.  The live view's test draws
# on an Xvfb display.
octave=(octave octave-dev gnuplot-nox ghostscript fonts-dejavu-core fonts-freefont-otf xvfb xauth)
# The 32-bit Linux build; qemu-user runs its tests where the kernel runs no 32-bit programs.
linux32=(gcc-multilib g++-multilib libusb-1.0-0-dev:i386 qemu-user)
# The same virtual boards served to the real libusb-1.0 (sim/umock).
real_libusb=(umockdev libumockdev-dev)
# The Octave package is made from the repository with git archive.
packaging=(git)
# The Debian packages: debhelper with dh-octave (dh_octave_check comes in
# dh-octave-autopkgtest), checked by lintian.
debian=(build-essential debhelper dh-octave dh-octave-autopkgtest lintian)
# The benchmarks count instructions with callgrind.
bench=(valgrind python3)
# The fuzzers: clang with libFuzzer and the sanitizers' runtimes.
fuzz=(clang libclang-rt-14-dev)
# The Windows cross builds, and Wine for 64-bit and for 32-bit programs.
windows=(g++-mingw-w64-x86-64 g++-mingw-w64-i686)
wine64=(wine64 wine)
wine32=(wine32:i386)
# The real kernel's USB stack: Debian's kernel (downloaded by the stage, not
# installed) booted in QEMU with a busybox initramfs; udevd comes from udev.
kernel=(qemu-system-x86 busybox-static cpio)

case "${1:-all}" in
  demo) purposes=(native unit_tests octave) ;;
  all) purposes=(native unit_tests octave real_libusb packaging debian bench fuzz linux32 windows wine64 wine32 kernel) ;;
  *) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }
missing_of() {  # the packages of purpose $1 that are not installed
  local -n list=$1
  local pkg
  for pkg in "${list[@]}"; do installed "$pkg" || echo "$pkg"; done
}

missing=()
for p in "${purposes[@]}"; do
  mapfile -t -O "${#missing[@]}" missing < <(missing_of "$p")
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

# An index caught mid-sync is usually whole again within a minute; after the
# last try, go on with the lists that did load.
lists_whole=no
for wait in 10 30 0; do
  if "${apt[@]}" update; then lists_whole=yes; break; fi
  [ "$wait" -eq 0 ] || { echo "install-deps: apt-get update reported errors; trying again in $wait s"; sleep "$wait"; }
done
[ "$lists_whole" = yes ] ||
  echo "install-deps: some package lists could not be loaded; installing from those that did"

# A name apt has never heard of is a fault of this script, not of the mirror,
# unless a list failed to load, in which case it may be in that list.
unknown=()
for pkg in "${missing[@]}"; do
  apt-cache show --no-all-versions "$pkg" >/dev/null 2>&1 || unknown+=("$pkg")
done
if [ ${#unknown[@]} -gt 0 ] && [ "$lists_whole" = yes ]; then
  echo "install-deps: apt knows no package named: ${unknown[*]}" >&2
  exit 1
fi

# All at once first (one dependency solution, the quick way); purpose by
# purpose only when that fails.
if "${apt[@]}" install --no-install-recommends "${missing[@]}"; then exit 0; fi
echo "install-deps: not everything could be installed at once; installing purpose by purpose"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
gone=()
for p in "${purposes[@]}"; do
  mapfile -t want < <(missing_of "$p")
  [ ${#want[@]} -gt 0 ] || continue
  if "${apt[@]}" install --no-install-recommends "${want[@]}" >"$log" 2>&1; then
    tail -n 1 "$log"
    continue
  fi
  cat "$log"
  why=$(grep -E '^E: ' "$log" | head -n 1 | sed 's/^E: //')
  for pkg in "${want[@]}"; do
    case " ${unknown[*]} " in *" $pkg "*) why="$pkg is in no package list that could be loaded" ;; esac
  done
  echo "$p: ${want[*]} could not be installed (${why:-apt-get failed})" >>"$left_out_file"
  gone+=("$p")
done

if [ ${#gone[@]} -gt 0 ]; then
  echo "install-deps: left out, for now:"
  sed 's/^/  /' "$left_out_file"
  if [ "${1:-all}" = demo ]; then
    echo "The demo needs every one of these; try again when the package mirror is whole." >&2
    exit 1
  fi
fi
exit 0

#!/usr/bin/env bash
# Installs what building and testing kelbio needs on Debian 12 (run as root,
# or with sudo available).  Safe to run again.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
APT="$SUDO apt-get -y -q -o DPkg::Lock::Timeout=600"

what=${1:-all}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get -q -o DPkg::Lock::Timeout=600 update

# Native build, tests and benchmarks; GNU Octave as the MEX host.
$APT install --no-install-recommends cmake make g++ pkg-config libusb-1.0-0-dev \
  libgtest-dev googletest libbenchmark-dev binutils octave octave-dev gnuplot-nox \
  fonts-dejavu-core ghostscript udev
if [ "$what" = demo ]; then exit 0; fi

# 32-bit Linux build, Windows cross builds and Wine.
$APT install --no-install-recommends gcc-multilib g++-multilib libusb-1.0-0-dev:i386 \
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine
# Runs the 32-bit tests where the kernel has no 32-bit support.
$APT install --no-install-recommends qemu-user
$APT install wine32:i386

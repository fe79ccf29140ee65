#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the release archives from the build trees that scripts/test.sh makes:
#
#   bash packaging/release/make-archives.sh <build-root> [output-folder] [windows] [linux] [octave]
#
#   kelbio-<version>-windows.zip   kelbio.mexw64 and kelbio.mexw32, the pacing
#                                  call kelbio_pace.mexw64 and .mexw32, the
#                                  toolbox (board object, record, live view),
#                                  kelbio_boards with the 64-bit kelbio-scan.exe
#                                  beside it and the 32-bit one in win32/ (for
#                                  32-bit MATLAB), the help files and examples:
#                                  unzip, addpath, done
#   kelbio-<version>-linux.tar.gz  kelbio.mexa64, kelbio.mexglx and Octave's
#                                  kelbio.mex, the same three of kelbio_pace,
#                                  the toolbox, kelbio-scan, the virtual boards
#                                  (kelbio-sim), the udev rules and
#                                  kelbio-setup-udev (kelbio_setup_udev from
#                                  MATLAB); runs where it is unpacked
#   kelbio-<version>.tar.gz        the Octave package (packaging/octave)
#
# <build-root> holds native/, linux32/, windows-x86_64/ and windows-i686/
# (scripts/stage-native.sh, stage-linux32.sh and stage-windows.sh build
# them); nothing is rebuilt here.  The output folder defaults to
# <build-root>/release; naming archives makes only those.  The version is the
# one of project() in CMakeLists.txt.  Prints the archives' paths.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 <build-root> [output-folder] [windows] [linux] [octave]" >&2; exit 2; }
root=$(cd "$1" && pwd)
out=${2:-$root/release}
shift $(( $# >= 2 ? 2 : 1 ))
kinds=${*:-windows linux octave}
version=$(sed -nE 's/^project\(kelbio VERSION ([0-9.]+).*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || { echo "no version in $top/CMakeLists.txt" >&2; exit 1; }
name=kelbio-$version
mkdir -p "$out"
out=$(cd "$out" && pwd)
# The archives' time stamps: the last commit's, so the same sources give the
# same archives.
stamp=$(TZ=UTC git -C "$top" log -1 --format=%cd --date=format-local:"%Y-%m-%d %H:%M:%S UTC" 2>/dev/null || date -u "+%Y-%m-%d %H:%M:%S UTC")

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# need <file>...: every built file is there, or the trees must be built first.
need() {
  local f missing=0
  for f in "$@"; do
    [ -f "$f" ] || { echo "missing $f: build it first (scripts/stage-*.sh)" >&2; missing=1; }
  done
  return $missing
}

# The toolbox files for every platform; kelbio_setup_udev runs a Linux script
# and goes into the Linux archive only.
toolbox="kelbio.m kelbio_pace.m kelbio_board.m kelbio_record.m kelbio_liveview.m kelbio_boards.m"

# common <folder>: what every archive holds beside the plug-ins.
common() {
  local dir=$1 f
  mkdir -p "$dir/examples"
  for f in $toolbox; do cp "$top/toolbox/$f" "$dir/"; done
  sed "s/@PROJECT_VERSION@/$version/" "$top/toolbox/Contents.m.in" >"$dir/Contents.m"
  cp "$top"/examples/*.m "$dir/examples/"
  cp "$top/README.md" "$top/COPYING" "$top/NEWS" "$dir/"
}

# ship <strip> <from> <to>: a built file without its debugging sections.
ship() {
  "$1" --strip-debug -o "$3" "$2"
}

for kind in $kinds; do
  case $kind in
    windows)
      w64=$root/windows-x86_64 w32=$root/windows-i686
      need "$w64/kelbio.mexw64" "$w32/kelbio.mexw32" \
           "$w64/tools/pace/kelbio_pace.mexw64" "$w32/tools/pace/kelbio_pace.mexw32" \
           "$w64/kelbio-scan.exe" "$w32/kelbio-scan.exe"
      dir=$stage/windows/$name
      common "$dir"
      mkdir -p "$dir/win32"
      ship x86_64-w64-mingw32-strip "$w64/kelbio.mexw64" "$dir/kelbio.mexw64"
      ship i686-w64-mingw32-strip "$w32/kelbio.mexw32" "$dir/kelbio.mexw32"
      ship x86_64-w64-mingw32-strip "$w64/tools/pace/kelbio_pace.mexw64" "$dir/kelbio_pace.mexw64"
      ship i686-w64-mingw32-strip "$w32/tools/pace/kelbio_pace.mexw32" "$dir/kelbio_pace.mexw32"
      # Both scans are kelbio-scan.exe; kelbio_boards takes the one of the
      # running MATLAB's width.
      ship x86_64-w64-mingw32-strip "$w64/kelbio-scan.exe" "$dir/kelbio-scan.exe"
      ship i686-w64-mingw32-strip "$w32/kelbio-scan.exe" "$dir/win32/kelbio-scan.exe"
      archive=$out/$name-windows.zip
      rm -f "$archive"
      find "$stage/windows" -exec touch -h -d "$stamp" {} +
      (cd "$stage/windows" && find "$name" -type f | LC_ALL=C sort >"$stage/windows.list" &&
       cmake -E tar cf "$archive" --format=zip --mtime="$stamp" --files-from="$stage/windows.list")
      echo "$archive"
      ;;
    linux)
      native=$root/native linux32=$root/linux32
      need "$native/kelbio.mexa64" "$linux32/kelbio.mexglx" "$native/octave/kelbio.mex" \
           "$native/tools/pace/kelbio_pace.mexa64" "$linux32/tools/pace/kelbio_pace.mexglx" \
           "$native/octave/kelbio_pace.mex" "$native/octave/kelbio-scan" "$native/kelbsim/libusb-1.0.so.0"
      dir=$stage/linux/$name
      common "$dir"
      mkdir -p "$dir/sim" "$dir/udev" "$dir/examples/firmware"
      ship strip "$native/kelbio.mexa64" "$dir/kelbio.mexa64"
      ship strip "$linux32/kelbio.mexglx" "$dir/kelbio.mexglx"
      ship strip "$native/tools/pace/kelbio_pace.mexa64" "$dir/kelbio_pace.mexa64"
      ship strip "$linux32/tools/pace/kelbio_pace.mexglx" "$dir/kelbio_pace.mexglx"
      # Octave on Linux loads kelbio.mex and kelbio_pace.mex from the same folder.
      ship strip "$native/octave/kelbio.mex" "$dir/kelbio.mex"
      ship strip "$native/octave/kelbio_pace.mex" "$dir/kelbio_pace.mex"
      ship strip "$native/octave/kelbio-scan" "$dir/kelbio-scan"
      ship strip "$(readlink -f "$native/kelbsim/libusb-1.0.so.0")" "$dir/sim/libusb-1.0.so.0"
      cp "$top/toolbox/kelbio_setup_udev.m" "$dir/"
      # kelbio-sim finds the virtual bus relative to itself.
      sed 's|@KELB_SIM_DIR@|sim|' "$top/packaging/kelbio-sim.in" >"$dir/kelbio-sim"
      cp "$top/packaging/udev/kelbio-setup-udev" "$dir/"
      chmod 755 "$dir/kelbio-sim" "$dir/kelbio-setup-udev" "$dir/kelbio-scan"
      cp "$top/packaging/udev/60-kelbio.rules" "$dir/udev/"
      # The firmware image the virtual FX2 takes (kelbio-sim FX2).
      cp "$top"/examples/firmware/* "$dir/examples/firmware/"
      archive=$out/$name-linux.tar.gz
      tar -C "$stage/linux" --owner=0 --group=0 --numeric-owner --sort=name --mtime="$stamp" \
        -czf "$archive" "$name"
      echo "$archive"
      ;;
    octave)
      bash "$top/packaging/octave/make-package.sh" "$out"
      ;;
    *)
      echo "unknown archive $kind: windows, linux or octave" >&2
      exit 2
      ;;
  esac
done

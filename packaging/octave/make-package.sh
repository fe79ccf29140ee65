#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Octave package kelbio-<version>.tar.gz from the repository:
#   bash packaging/octave/make-package.sh [output-folder]
# In a git repository it takes the tracked files as they are in the work tree
# (committed or not), through git archive; elsewhere the tree's files.  It
# prints the tarball's path.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$PWD}
version=$(sed -nE 's/^project\(kelbio VERSION ([0-9.]+).*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || { echo "no version in $top/CMakeLists.txt" >&2; exit 1; }
name=kelbio-$version
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
parts=(gateway models usb/linux include tools/pace tools/scan packaging toolbox examples COPYING NEWS)
# A tree exported into a folder of some other repository (a Debian build
# under a build folder) is not that repository's work tree.
if [ "$(git -C "$top" rev-parse --show-toplevel 2>/dev/null)" = "$top" ]; then
  # A commit of the work tree's tracked files that touches neither the index
  # nor any branch; HEAD itself when nothing is changed.
  tree=$(git -C "$top" stash create)
  tree=${tree:-HEAD}
  date=$(git -C "$top" log -1 --format=%cs "$tree")
  git -C "$top" archive "$tree" "${parts[@]}" | tar -x -C "$stage"
else
  # An exported tree (a release or Debian source package): its files as they
  # are, dated by SOURCE_DATE_EPOCH where the build sets it.
  date=$(date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" +%F)
  tar -C "$top" -c "${parts[@]}" | tar -x -C "$stage"
fi
pkg=$stage/$name
mkdir -p "$pkg/inst/examples" "$pkg/src"
cp "$stage/COPYING" "$stage/NEWS" "$stage/packaging/octave/INDEX" "$stage/packaging/octave/post_install.m" "$pkg/"
sed -e "s/@PROJECT_VERSION@/$version/" -e "s/@KELB_DATE@/$date/" \
  "$stage/packaging/octave/DESCRIPTION.in" >"$pkg/DESCRIPTION"
# The toolbox; kelbio_setup_udev runs kelbio-setup-udev from its own folder,
# which finds the rules beside itself.
for f in kelbio.m kelbio_pace.m kelbio_board.m kelbio_record.m kelbio_liveview.m kelbio_boards.m \
         kelbio_setup_udev.m; do
  cp "$stage/toolbox/$f" "$pkg/inst/"
done
install -m 755 "$stage/packaging/udev/kelbio-setup-udev" "$pkg/inst/"
install -m 644 "$stage/packaging/udev/60-kelbio.rules" "$pkg/inst/"
sed -e "s/@PROJECT_VERSION@/$version/" "$stage/toolbox/Contents.m.in" >"$pkg/inst/Contents.m"
# pkg puts every folder of the package on the path while it indexes the help,
# where demo.m would shadow Octave's own demo: the examples carry our prefix.
for f in "$stage"/examples/*.m; do
  b=$(basename "$f")
  cp "$f" "$pkg/inst/examples/kelbio_${b#kelbio_}"
done
cp "$stage/packaging/octave/Makefile" "$stage/packaging/octave/FILES" "$pkg/src/"
cp -r "$stage/gateway" "$stage/models" "$stage/include" "$pkg/src/"
mkdir -p "$pkg/src/usb" "$pkg/src/tools/pace"
cp -r "$stage/usb/linux" "$pkg/src/usb/"
# The Linux scan: the Windows one (cyusbscan.cpp) needs the CyUSB transport.
mkdir -p "$pkg/src/tools/scan"
cp "$stage"/tools/scan/{main,report,json,scan,sysfs,libusberrors}.cpp "$stage"/tools/scan/scan.h "$pkg/src/tools/scan/"
# The pacing call's Linux clock only: the package is built where Octave runs.
cp "$stage"/tools/pace/{pacemex.cpp,schedule.cpp,schedule.h,clock.h,clock_linux.cpp} "$pkg/src/tools/pace/"

mkdir -p "$out"
tarball=$(cd "$out" && pwd)/$name.tar.gz
tar -C "$stage" --owner=0 --group=0 --sort=name -czf "$tarball" "$name"
echo "$tarball"

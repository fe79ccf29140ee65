#!/usr/bin/env bash
# The release archives, made from the build trees the native, linux32 and
# windows stages left (nothing is rebuilt), unpacked, and checked as users
# get them: each holds exactly its list of files (tests/release), the
# binaries take from the user's system only what it has, the unpacked
# Windows DLLs pass the Wine scenarios, the unpacked Linux folder runs the
# demo in Octave through its own kelbio-sim, and its kelbio.mexa64,
# kelbio.mexglx and the two kelbio_pace files work in the stand-in MATLAB
# host.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
release=$out/release
source "$top/scripts/left-out.sh"

# The Octave package is made with git; its test is left out below without it.
kinds="windows linux"
kelb_left_out packaging >/dev/null || kinds="$kinds octave"
rm -rf "$release"
# shellcheck disable=SC2086
bash "$top/packaging/release/make-archives.sh" "$out" "$release" $kinds || exit 1
version=$(sed -nE 's/^project\(kelbio VERSION ([0-9.]+).*/\1/p' "$top/CMakeLists.txt")
mkdir -p "$release/linux" "$release/windows"
tar -C "$release/linux" -xzf "$release/kelbio-$version-linux.tar.gz" || exit 1
(cd "$release/windows" && cmake -E tar xf "../kelbio-$version-windows.zip") || exit 1

rc=0
tests=$release/tests
if cmake -S "$top/tests/release" -B "$tests" -DKELB_OUT="$out" -DKELB_RELEASE="$release" \
     >"$tests.configure.log" 2>&1; then
  kelb_exclude_labels "$tests" octave=octave packaging=packaging
  ctest --test-dir "$tests" --output-on-failure -j "$(nproc)" "${kelb_ctest_exclude[@]}" || rc=1
else
  cat "$tests.configure.log"; rc=1
fi

# The Wine scenarios of the windows stage, run on the unpacked DLLs, the
# pacing call's among them (run-wine.sh runs the host where KELB_PLUGIN_DIR
# says).
scenarios='^wine_(gateway_|driver_|pace$)'
if why=$(kelb_left_out wine64); then
  for arch in x86_64 i686; do
    n=$(ctest --test-dir "$out/windows-$arch" -N -R "$scenarios" | sed -n 's/^Total Tests: //p')
    echo "kelbio-skipped: ${n:-1} Wine tests of the unpacked $arch DLL: $why"
  done
else
  # The Linux build's transcript the traffic scenario compares with.
  traffic=$out/linux-traffic.txt
  [ -s "$traffic" ] || LD_LIBRARY_PATH="$out/native/matlab-stubs" "$out/native/tests/wine/kelbio_traffic" >"$traffic"
  for arch in x86_64 i686; do
    echo "--- Wine scenarios, $arch, on the unpacked DLL"
    KELB_PLUGIN_DIR="$release/windows/kelbio-$version" \
      ctest --test-dir "$out/windows-$arch" --output-on-failure -j "$(nproc)" -R "$scenarios" || rc=1
  done
  # The unpacked scans on a machine with no CyUSB device: status 1 and the
  # advice on binding a board to the driver.
  for exe in kelbio-scan.exe win32/kelbio-scan.exe; do
    text=$(bash "$top/tests/wine/run-wine.sh" "$out/wineprefix" "$release/windows/kelbio-$version/$exe" 2>&1)
    status=$?
    if [ $status -eq 77 ]; then
      echo "kelbio-skipped: 1 Wine run of the unpacked $exe: this machine runs no 32-bit Windows programs"
    elif [ $status -eq 1 ] && grep -q 'No device is bound to the CyUSB driver' <<<"$text"; then
      echo "unpacked $exe under Wine with no CyUSB device: status 1 and the driver advice: ok"
    else
      echo "FAIL: unpacked $exe under Wine with no CyUSB device: status $status, expected 1 and the driver advice:"
      echo "$text"
      rc=1
    fi
  done
  if [ -d "$out/wineprefix" ]; then WINEPREFIX="$out/wineprefix" wineserver -w; fi
fi
exit $rc

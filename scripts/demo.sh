#!/usr/bin/env bash
# Sets up, builds, and runs the demo (examples/demo.m): closed-loop position
# control of a TIRK setup in GNU Octave through kelbio.mex.
#
#   bash scripts/demo.sh          against a virtual TIRK board on the virtual USB bus
#   bash scripts/demo.sh --real   against the real libusb and a board on this computer
#
# The library has no simulation mode: the virtual board is put in place by
# loading the virtual bus instead of libusb-1.0.  The table goes to the
# terminal, the plot to $KELB_OUT/demo/kelbio_demo.png, the record of every
# cycle to kelbio_demo.mat and kelbio_demo.csv beside it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
real=no
case "${1:-}" in
  --real) real=yes ;;
  "") ;;
  *) echo "usage: $0 [--real]" >&2; exit 2 ;;
esac

bash "$top/scripts/install-deps.sh" demo

mkdir -p "$out/demo"
build="$out/native"
cmake -S "$top" -B "$build" >"$out/demo/configure.log" 2>&1 || { cat "$out/demo/configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target kelbio_octave kelbio_pace_octave kelbsim_libusb
[ -f "$build/octave/kelbio.mex" ] || { echo "kelbio.mex was not built (is octave-dev installed?)" >&2; exit 1; }

png="$out/demo/kelbio_demo.png"
rm -f "$png"
if [ "$real" = yes ]; then
  echo "Running the demo on a real TIRK board (port TIRK1)."
  env=()
else
  echo "Running the demo on a virtual TIRK board."
  # The virtual board runs on this computer's clock, as a real one does.
  env=(LD_LIBRARY_PATH="$build/kelbsim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" KELBSIM_BOARDS=TIRK KELBSIM_CLOCK=wall)
fi
cd "$out/demo"
env -u DISPLAY "${env[@]}" octave-cli -q -f -H -W -p "$build/octave" \
  --eval "demo_png = '$png'; demo_record = '$out/demo/kelbio_demo.mat'; run('$top/examples/demo.m');" </dev/null
[ -s "$png" ] || { echo "The demo wrote no plot." >&2; exit 1; }

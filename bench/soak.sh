#!/usr/bin/env bash
# Soak run, by hand (not part of the test command): builds soak_usb in the
# native tree and runs 10,000 Open/Close and 1,000,000 Write/Read cycles
# under LeakSanitizer.  bench/soak.sh [open-close-cycles [write-read-cycles]]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${KELB_OUT:-$top/build}/native
[ -f "$dir/CMakeCache.txt" ] || cmake -S "$top" -B "$dir" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target soak_usb >/dev/null
# The loaded plug-in still names MATLAB's libraries; the link stubs stand in.
LD_LIBRARY_PATH="$dir/matlab-stubs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
LSAN_OPTIONS=${LSAN_OPTIONS:-exitcode=0:report_objects=1} \
  /usr/bin/time -f 'elapsed %e s, peak rss %M kB' "$dir/bench/soak_usb" "$@"

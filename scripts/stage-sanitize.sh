#!/usr/bin/env bash
# The unit tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
mkdir -p "$out"
bash "$top/scripts/build.sh" "$out/sanitize" -DKELBIO_SANITIZE=ON -DKELBIO_OCTAVE=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$out/sanitize" --output-on-failure -j "$(nproc)" -L unit

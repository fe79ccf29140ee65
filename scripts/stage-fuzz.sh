#!/usr/bin/env bash
# The libFuzzer targets of tests/fuzz, built with clang and the sanitizers in
# their own tree, each run for KELB_FUZZ_SECONDS (default 60) over its corpus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
mkdir -p "$out"
cc=$(command -v clang-14 || command -v clang || true)
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cc" ] || [ -z "$cxx" ]; then
  echo "stage-fuzz: clang is not installed (apt-get install clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
dir=$out/fuzz
flags="-fsanitize=fuzzer-no-link -fsanitize-coverage-allowlist=$top/tests/fuzz/coverage.txt"
cmake -S "$top" -B "$dir" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELBIO_SANITIZE=ON -DKELBIO_OCTAVE=OFF -DKELBIO_WERROR="${KELBIO_WERROR:-OFF}" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DKELB_FUZZ_SECONDS="${KELB_FUZZ_SECONDS:-60}" >"$dir.configure.log" 2>&1 ||
  { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j "$(nproc)" --target kelb_fuzzers
# One at a time: each takes a core, and the times are fixed.
ctest --test-dir "$dir" --output-on-failure -L fuzz

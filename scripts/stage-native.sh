#!/usr/bin/env bash
# The 64-bit Linux build: kelbio.mexa64, kelbio.mex, and every test that runs natively.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
mkdir -p "$out"
bash "$top/scripts/build.sh" "$out/native"
ctest --test-dir "$out/native" --output-on-failure -j "$(nproc)"

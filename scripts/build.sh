#!/usr/bin/env bash
# Configures and builds one tree: scripts/build.sh <build-dir> [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
# KELBIO_WERROR=ON in the environment (scripts/test.sh sets it) makes warnings fail the build.
cmake -S "$top" -B "$dir" -DKELBIO_WERROR="${KELBIO_WERROR:-OFF}" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j "$(nproc)"

#!/usr/bin/env bash
# Sets up, builds, and runs the demo against a virtual board.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh" demo
echo "The demo is not built yet."
exit 1

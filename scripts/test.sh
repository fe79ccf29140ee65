#!/usr/bin/env bash
# Installs the prerequisites, builds every deliverable and runs every test suite.
# Exits non-zero when anything fails.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export KELB_OUT=${KELB_OUT:-$top/build}
mkdir -p "$KELB_OUT"
# Every build here fails on a warning in our own sources.
export KELBIO_WERROR=${KELBIO_WERROR:-ON}

bash "$top/scripts/install-deps.sh" || exit 1

passed=0; failed=0; skipped=0; broken=""
for stage in native sanitize fuzz linux32 windows; do
  script="$top/scripts/stage-$stage.sh"
  [ -f "$script" ] || continue
  echo "=== $stage"
  log="$KELB_OUT/$stage.log"
  bash "$script" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  # Sum what ctest reported; a stage that failed before testing counts as one failure.
  read -r p f < <(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" |
                  sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2 \1/' |
                  awk '{t+=$1; f+=$2} END {print t-f, f}')
  passed=$((passed + ${p:-0})); failed=$((failed + ${f:-0}))
  # ctest counts a skipped test as passed; report it apart.
  s=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")
  passed=$((passed - s)); skipped=$((skipped + s))
  if [ "$rc" -ne 0 ]; then
    broken="$broken $stage"
    [ "${f:-0}" -gt 0 ] || failed=$((failed + 1))
  fi
done

[ -z "$broken" ] || echo "failed stages:$broken"
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ -z "$broken" ]

#!/usr/bin/env bash
# Installs the prerequisites, builds every deliverable and runs every test suite.
# Exits non-zero when anything fails.  A stage whose packages could not be
# installed right now (scripts/install-deps.sh) is counted as skipped, never
# as passed, and the last lines say what was skipped and why.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export KELB_OUT=${KELB_OUT:-$top/build}
export KELB_LEFT_OUT=$KELB_OUT/left-out.txt
mkdir -p "$KELB_OUT"
# Every build here fails on a warning in our own sources.
export KELBIO_WERROR=${KELBIO_WERROR:-ON}

bash "$top/scripts/install-deps.sh" || exit 1
source "$top/scripts/left-out.sh"

# Each stage, the script that runs it, and the install purposes it cannot do
# without (tests that need a further purpose are left out inside the stage).
# The release stage packs what the native, linux32 and windows stages built,
# so it needs what they need.
stages=(
  "native   scripts/stage-native.sh    native unit_tests"
  "sanitize scripts/stage-sanitize.sh  native unit_tests"
  "fuzz     scripts/stage-fuzz.sh      native fuzz"
  "linux32  scripts/stage-linux32.sh   native unit_tests linux32"
  "windows  scripts/stage-windows.sh   native unit_tests windows wine64"
  "release  scripts/stage-release.sh   native unit_tests octave linux32 windows wine64"
  "kernel   scripts/stage-kernel.sh    native unit_tests kernel"
  "bench    bench/run.sh               native bench"
  "debian   scripts/stage-debian.sh    native octave packaging debian"
)

passed=0; failed=0; skipped=0; broken=""; reasons=()
for row in "${stages[@]}"; do
  read -r stage script needs <<<"$row"
  why=""
  for purpose in $needs; do
    why=$(kelb_left_out "$purpose") && break
  done
  if [ -n "$why" ]; then
    echo "=== $stage: skipped, $why"
    skipped=$((skipped + 1)); reasons+=("stage $stage ($why)")
    continue
  fi
  echo "=== $stage"
  log="$KELB_OUT/$stage.log"
  args=()
  # The benchmarks' goals are instruction counts of the build a user's cmake
  # makes by default (not the native stage's distribution flags, whose
  # hardening costs a few instructions per call); the pacing tables are only
  # shown, so a short run of them does here.
  [ "$stage" != bench ] || args=("$KELB_OUT/bench" --check)
  KELB_PACE_PERIODS=${KELB_PACE_PERIODS:-500} bash "$top/$script" "${args[@]}" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  # Sum what ctest reported; a stage that reports no ctest summary (the
  # benchmarks' goals) counts as one test, and so does a stage that failed
  # before testing.
  if grep -qE 'tests passed, [0-9]+ tests? failed out of' "$log"; then
    read -r p f < <(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" |
                    sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2 \1/' |
                    awk '{t+=$1; f+=$2} END {print t-f, f}')
  elif [ "$rc" -eq 0 ]; then p=1; f=0
  else p=0; f=0
  fi
  passed=$((passed + p)); failed=$((failed + f))
  # ctest counts a skipped test as passed; report it apart.
  s=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")
  passed=$((passed - s)); skipped=$((skipped + s))
  [ "$s" -eq 0 ] || reasons+=("$s $stage tests skipped by ctest (see $log)")
  # Tests the stage left out because their packages could not be installed.
  while read -r n what; do
    skipped=$((skipped + n)); reasons+=("$n $what")
  done < <(sed -n 's/^kelbio-skipped: //p' "$log")
  if [ "$rc" -ne 0 ]; then
    broken="$broken $stage"
    [ "$f" -gt 0 ] || failed=$((failed + 1))
  fi
done

[ -z "$broken" ] || echo "failed stages:$broken"
# What the install step had to leave out is why most skips above happened.
while IFS= read -r line; do
  reasons=("not installed now, $line" "${reasons[@]}")
done < <(cat "$KELB_LEFT_OUT" 2>/dev/null)
if [ ${#reasons[@]} -gt 0 ]; then
  echo "skipped: $(IFS=';'; echo "${reasons[*]}" | sed 's/;/; /g')"
fi
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ -z "$broken" ]

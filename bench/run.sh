#!/usr/bin/env bash
# Runs every benchmark against one build tree and writes <build>/bench/report.md.
#     bash bench/run.sh [<build-dir>] [--check]
# <build-dir> defaults to build/native (configured and built if need be).
# --check: exit 1 when an instruction goal below is missed.
# Needs valgrind; the Octave rounds need octave-cli and are left out without it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/native
check=0
for a in "$@"; do
  case $a in
    --check) check=1 ;;
    *) mkdir -p "$a" && build=$(cd "$a" && pwd) ;;
  esac
done
cmake -S "$top" -B "$build" >/dev/null  # picks up new targets in an older tree
targets="bench_calls kelbio_mex kelbsim_firmware"
grep -q '^KELB_MKOCTFILE:FILEPATH=/' "$build/CMakeCache.txt" && targets="$targets bench_kelbnull kelbio_octave kelbio_pace_octave kelbsim_libusb"
cmake --build "$build" -j 2 --target $targets >/dev/null

out=$build/bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
calls=$out/bench_calls
export LD_LIBRARY_PATH=$build/matlab-stubs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

# Instructions per call, split by who executes them.
"$calls" calls  # natively first: every case must work
valgrind --tool=callgrind --collect-atstart=no --dump-instr=no \
  --callgrind-out-file="$work/cg.%p" "$calls" calls 2>"$work/valgrind.log" ||
  { cat "$work/valgrind.log"; exit 1; }
python3 "$top/bench/cgsplit.py" kelbio.mexa64 "$work"/cg.*.* >"$work/split.tsv"

# Firmware download and the HEX reader on a 16 KB image.
"$calls" image "$work/fw16k.hex"
fw_ms=$("$calls" firmware "$work/fw16k.hex")
read -r hex_bytes hex_mbs < <("$calls" hex "$work/fw16k.hex")

# kelbio against the yardstick MEX in one Octave.
octave="not run (no octave-cli or no Octave build)"
if command -v octave-cli >/dev/null && [ -f "$out/octave/kelbnull.mex" ]; then
  read -r ratio us_k us_n < <(LD_LIBRARY_PATH=$build/kelbsim KELBSIM_BOARDS=TIRK \
    octave-cli -q -f -H -W -p "$build/octave" -p "$out/octave" -p "$top/bench" \
    --eval 'cycle (41, 1000)' </dev/null)
  octave="median ratio **$ratio** (kelbio $us_k us, kelbnull $us_n us per Write+Read cycle)"
fi

# Loop pacing: kelbio_pace, pause(T - toc) and a busy wait, in one Octave.
pacing=""
if command -v octave-cli >/dev/null && [ -f "$build/octave/kelbio_pace.mex" ]; then
  pacing=$(octave-cli -q -f -H -W -p "$build/octave" -p "$top/bench" --eval "pace (${KELB_PACE_PERIODS:-5000})" </dev/null)
fi

value() { awk -F'\t' -v c="$1" -v k="$2" '$1 == c { print $k }' "$work/split.tsv"; }
goal_failed=0
goal() {  # goal <text> <value> <limit>
  if [ "$2" -le "$3" ]; then echo "- $1: $2 <= $3, met"; else echo "- $1: $2 > $3, **missed**"; goal_failed=1; fi
}
tw=$(value "TIRK1 Write" 3); tr=$(value "TIRK1 Read" 3); fw=$(value "FELDAR1 Write" 3)
tw8=$(value "TIRK1 Write, 8th port" 3); tr8=$(value "TIRK1 Read, 8th port" 3)
{
  echo "# kelbio benchmarks"
  echo
  echo "Source $(git -C "$top" describe --always --dirty 2>/dev/null || echo unknown), $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) CPUs."
  echo
  echo "## Instructions per call through mexFunction"
  echo
  echo "Callgrind, inputs built once, the stand-in host calling mexFunction directly. *library*: the"
  echo "plug-in's own code and the C library it calls; *host*: the stand-in's mx/mex calls; *bus*: the"
  echo "virtual bus's libusb calls and the plant behind the board (a real board costs wire time instead)."
  echo
  echo "| call | library | host | bus |"
  echo "|---|---:|---:|---:|"
  awk -F'\t' '{ printf "| %s | %s | %s | %s |\n", $1, $3, $4, $5 }' "$work/split.tsv"
  echo
  echo "Open+Close counts one Open and one Close, on the virtual bus (libusb context, list, open, claim)."
  echo
  echo "## Goals for the library's own instructions"
  echo
  goal "TIRK Write" "$tw" 1000
  goal "TIRK Read" "$tr" 1000
  goal "FELDAR Write of 8 set-points" "$fw" 1100
  goal "TIRK Write on the 8th port" "$tw8" $(( tw * 110 / 100 ))
  goal "TIRK Read on the 8th port" "$tr8" $(( tr * 110 / 100 ))
  echo
  echo "## GNU Octave, Write+Read on a virtual TIRK board"
  echo
  echo "kelbio against kelbnull (bench/nullmex.cpp), a MEX that reads the command and the object's Port"
  echo "field and returns outputs of the same shapes; 41 alternating rounds of 1000 cycles, Octave's CPU time: $octave."
  echo "The virtual bus's cost is inside kelbio's figure."
  echo
  echo "## Loop pacing in GNU Octave"
  echo
  if [ -n "$pacing" ]; then
    echo "${KELB_PACE_PERIODS:-5000} periods per run, one Octave (bench/pace.m). Lateness against each method's own"
    echo "target: the absolute deadline t0 + k*T for kelbio_pace and the busy wait, the previous wake-up + T for"
    echo "pause(T - toc). Drift: end of the last period minus t0 + N*T. CPU: the process's CPU time over the run."
    echo "kelbio_pace in catch-up mode, so every method runs every period. Goal on an idle machine: no drift,"
    echo "p99 at most 100 us at 1 kHz, CPU well below the busy wait."
    echo
    echo "| method | rate | mean period (ms) | drift (ms) | lateness p50 (us) | p99 (us) | max (us) | CPU (%) |"
    echo "|---|---|---:|---:|---:|---:|---:|---:|"
    awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6, $7, $8 }' <<<"$pacing"
    echo
    echo "Load average when the runs ended: $(cut -d' ' -f1-3 /proc/loadavg)."
  else
    echo "Not run (no octave-cli or no Octave build)."
  fi
  echo
  echo "## Firmware"
  echo
  echo "- Download of a 16 KB image into a blank FX2 and open of the board it becomes (the 3 s pause"
  echo "  skipped): $fw_ms ms CPU (median of 15)."
  echo "- HEX reader alone: $hex_bytes data bytes at $hex_mbs MB/s (median of 50)."
  echo
  echo "## The USB floor"
  echo
  echo "On a real board a Write is one bulk OUT transfer and a Read two bulk IN transfers. At high speed"
  echo "each synchronous transfer takes at least one 125 us microframe, so a Write+Read cycle takes at least"
  echo "about 375 us on the wire. The library's own $(( tw + tr )) instructions per TIRK cycle take about"
  echo "$(awk -v n=$(( tw + tr )) 'BEGIN { printf "%.1f us even at one instruction per ns, %.2f%%", n / 1000, n / 3750 }') of that floor."
} >"$out/report.md"
cat "$out/report.md"
[ "$check" = 0 ] || [ "$goal_failed" = 0 ]

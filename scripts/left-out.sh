# Sourced by the stage scripts: which purposes scripts/install-deps.sh could
# not install this run, and the ctest arguments that leave out the tests
# needing them.  Every test left out is announced on a line of its own,
#   kelbio-skipped: <count> <what>: <why>
# which scripts/test.sh adds to the skipped count.
kelb_left_out_file=${KELB_LEFT_OUT:-${KELB_OUT:-$top/build}/left-out.txt}

# kelb_left_out <purpose>: prints why the purpose was left out; fails when it was not.
kelb_left_out() {
  [ -f "$kelb_left_out_file" ] && grep -m1 "^$1: " "$kelb_left_out_file"
}

# kelb_exclude_labels <build-dir> <label>=<purpose>...: fills kelb_ctest_exclude
# with -LE for every label whose purpose was left out, and announces them.
kelb_exclude_labels() {
  local dir=$1 pair label purpose why n labels=()
  shift
  for pair in "$@"; do
    label=${pair%%=*}; purpose=${pair#*=}
    why=$(kelb_left_out "$purpose") || continue
    # Tests of a purpose that was never installed may not even be defined: count at least one.
    n=$(ctest --test-dir "$dir" -N -L "^$label\$" 2>/dev/null | sed -n 's/^Total Tests: //p')
    echo "kelbio-skipped: $(( ${n:-0} > 0 ? n : 1 )) $label tests: $why"
    labels+=("$label")
  done
  kelb_ctest_exclude=()
  [ ${#labels[@]} -eq 0 ] || kelb_ctest_exclude=(-LE "^($(IFS='|'; echo "${labels[*]}"))\$")
}

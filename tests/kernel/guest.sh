#!/bin/bash
# Runs inside the QEMU guest of scripts/stage-kernel.sh, on the host's root
# shared read-only: udevd, then each scenario of kelbio-scenarios on the
# boards it expects, served by kelbsim-usbip through vhci_hcd.
#   guest.sh <build-dir> <cycles> [<scenario>...]
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
cycles=$2
shift 2
only=" $* "
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
export LD_LIBRARY_PATH=$build/matlab-stubs
echo "guest kernel: $(uname -r)"

# Debian's libusb learns of devices only through udev.
/lib/systemd/systemd-udevd --daemon >/dev/null 2>&1
for _ in $(seq 100); do [ -e /run/udev/control ] && break; sleep 0.05; done
[ -e /run/udev/control ] || echo "guest: udevd did not start"

# Every vhci port free again: the boards of the last scenario have left.
ports_free() {
  for _ in $(seq 100); do
    awk '$1 == "hs" && $3 != "004" { busy = 1 } END { exit busy }' \
      /sys/devices/platform/vhci_hcd.0/status && return
    sleep 0.05
  done
}

# run <name> <boards> <faults> <command> [<argument>...]
run() {
  local name=$1 boards=$2 faults=$3 start
  shift 3
  [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || return 255
  ports_free
  start=$(date +%s%N)
  KELBSIM_BOARDS=$boards KELBSIM_FAULTS=$faults "$build/kelbsim/kelbsim-usbip" \
    sh -c 'udevadm settle -t 10; exec "$0" "$@"' "$@" 2>&1
  local status=$?
  echo "scenario time: $name $(( ($(date +%s%N) - start) / 1000000 )) ms"
  return $status
}

# scenario <name> <boards> <faults> [<argument>...]: one of kelbio-scenarios.
scenario() {
  local name=$1 boards=$2 faults=$3
  shift 3
  run "$name" "$boards" "$faults" "$build/tests/kernel/kelbio-scenarios" "$name" "$@"
  case $? in
    0|1|255) ;;  # it said so itself, or it was not chosen
    *) echo "$name: FAILED (ended by a signal)" ;;
  esac
}

# octave <test file of tests/octave> <boards>: GNU Octave with kelbio.mex.
octave() {
  local name=octave-$1
  [ -x /usr/bin/octave-cli ] && [ -f "$build/octave/kelbio.mex" ] || return 0
  run "$name" "$2" '' octave-cli -q -f -H -W -p "$build/octave" -p "$top/tests/octave" \
    --eval "exit (! test ('$1', 'quiet', stdout))"
  case $? in
    0) echo "$name: ok" ;;
    255) ;;  # not chosen
    *) echo "$name: FAILED" ;;
  esac
}

KELBSIM_LOG=/tmp/firmware.log ZARVUSB_HEX_FILE=$build/firmware/tirk.hex scenario firmware 'FX2;FELDAR;FX2' ''
scenario models 'TIRK=Rig A (0.0);FELDAR;TIRK=Rig B (0.0)' ''
scenario cycles TIRK '' "$cycles"
scenario silent TIRK 'BulkOut:1:LIBUSB_ERROR_PIPE:1:1;BulkIn:1:LIBUSB_ERROR_TIMEOUT:0:1'
scenario unplug TIRK 'BulkIn:1:LIBUSB_ERROR_NO_DEVICE:0:1:0:unplug'
scenario hotplug TIRK ''
KELB_TEST_HEX=$build/firmware/tirk.hex octave kelbio_firmware 'FX2;FX2'
echo "guest: done"

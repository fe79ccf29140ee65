#!/bin/bash
# Runs inside the QEMU guest of scripts/stage-kernel.sh, on the host's root
# shared read-only: udevd, then each scenario of kelbio-scenarios on the
# boards it expects, served by kelbsim-usbip through vhci_hcd.
#   guest.sh <build-dir> <cycles> [<scenario>...]
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

# scenario <name> <boards> <faults> [<argument>...]
scenario() {
  local name=$1 boards=$2 faults=$3 start
  shift 3
  [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || return 0
  ports_free
  start=$(date +%s%N)
  KELBSIM_BOARDS=$boards KELBSIM_FAULTS=$faults "$build/kelbsim/kelbsim-usbip" \
    sh -c 'udevadm settle -t 10; exec "$0" "$@"' "$build/tests/kernel/kelbio-scenarios" "$name" "$@" 2>&1 ||
    echo "$name: FAILED (status $?)"
  echo "scenario time: $name $(( ($(date +%s%N) - start) / 1000000 )) ms"
}

KELBSIM_LOG=/tmp/firmware.log ZARVUSB_HEX_FILE=$build/firmware/tirk.hex scenario firmware 'FX2;FELDAR;FX2' ''
scenario models 'TIRK=Rig A (0.0);FELDAR;TIRK=Rig B (0.0)' ''
scenario cycles TIRK '' "$cycles"
scenario silent TIRK 'BulkOut:1:LIBUSB_ERROR_PIPE:1:1;BulkIn:1:LIBUSB_ERROR_TIMEOUT:0:1'
scenario unplug TIRK 'BulkIn:1:LIBUSB_ERROR_NO_DEVICE:0:1:0:unplug'
scenario hotplug TIRK ''
echo "guest: done"

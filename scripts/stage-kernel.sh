#!/usr/bin/env bash
# The real kernel's USB stack: Debian's kernel booted in QEMU (TCG, one CPU),
# the host's root shared read-only as the guest's, udevd, the virtual boards
# on vhci_hcd (sim/usbip), and the built kelbio.mexa64 driven by the stand-in
# MATLAB host through the scenarios of tests/kernel.  One guest for all of
# them.  The Write/Read cycle is timed here on the virtual bus and on
# umockdev too, for a table of the three within one run.
#
# Where QEMU or the kernel package cannot be had, the scenarios are announced
# as skipped (kelbio-skipped: lines, scripts/left-out.sh) and the stage ends 0.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}
build=$out/native
cache=$out/kernel
scenarios=7
cycles=${KELB_KERNEL_CYCLES:-2000}
# A developer may run some of them: KELB_KERNEL_SCENARIOS='firmware unplug'.
only=${KELB_KERNEL_SCENARIOS:-}
[ -z "$only" ] || scenarios=$(wc -w <<<"$only")
mkdir -p "$cache"
began=$(date +%s)

# The summary in ctest's words, which scripts/test.sh adds up.
skip() {
  echo "kelbio-skipped: $scenarios kernel tests: $1"
  echo "kernel scenarios: 0 tests passed, 0 tests failed out of 0 ($scenarios skipped)"
  exit 0
}
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"

# Debian's own kernel, downloaded once and unpacked, never installed.
image=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
[ -n "$image" ] || image=$(ls "$cache"/linux-image-*.deb 2>/dev/null | sed -n 's|.*/\(linux-image-[^_]*\)_.*|\1|p' | head -n 1)
[ -n "$image" ] || skip "apt knows no linux-image-amd64"
deb=$(ls "$cache"/"$image"_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  (cd "$cache" && apt-get download "$image" >/dev/null 2>&1)
  deb=$(ls "$cache"/"$image"_*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || skip "$image could not be downloaded"
fi
version=${image#linux-image-}
tree=$cache/$version
modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci
         9pnet 9pnet_virtio netfs fscache 9p usb-common usbcore usbip-core vhci-hcd)
if [ ! -f "$tree/vmlinuz" ]; then
  rm -rf "$tree" && mkdir -p "$tree/unpacked" "$tree/modules"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tree/unpacked" --wildcards './boot/vmlinuz-*' './lib/modules/*.ko' ||
    skip "$deb could not be unpacked"
  for m in "${modules[@]}"; do
    f=$(find "$tree/unpacked" -name "$m.ko" | head -n 1)
    [ -n "$f" ] || skip "$image has no module $m"
    cp "$f" "$tree/modules/"
  done
  cp "$tree"/unpacked/boot/vmlinuz-* "$tree/vmlinuz"
  rm -rf "$tree/unpacked"
fi
echo "kernel package: $image ($(basename "$deb"))"

# The programs the guest runs, from the native tree.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -DKELBIO_WERROR="${KELBIO_WERROR:-OFF}" >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
fi
targets=(kelbio_mex kelbio_scenarios kelbsim_usbip kelbsim_libusb kelbsim_firmware)
grep -q '^UMOCKDEV_FOUND:INTERNAL=1' "$build/CMakeCache.txt" && targets+=(kelbsim_umock)
# GNU Octave runs one test file of tests/octave in the guest, where it is installed.
if grep -q '^KELB_MKOCTFILE:FILEPATH=/' "$build/CMakeCache.txt" && command -v octave-cli >/dev/null; then
  targets+=(kelbio_octave)
else
  scenarios=$((scenarios - 1))
  echo "kelbio-skipped: 1 kernel tests: GNU Octave or its build of kelbio.mex is not there"
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >"$out/kernel-build.log" 2>&1 ||
  { tail -n 40 "$out/kernel-build.log"; echo "kernel: the programs did not build"; exit 1; }
run=$build/tests/kernel/kelbio-scenarios

# The same cycle on the virtual bus and on umockdev (fewer: each usbfs call
# is a round trip through umockdev).
declare -A each
cycle_time() { sed -n 's/^cycles: .*, \([0-9.]*\) us each$/\1/p'; }
each[bus]=$(LD_LIBRARY_PATH=$build/kelbsim:$build/matlab-stubs KELBSIM_BOARDS=TIRK "$run" cycles "$cycles" | cycle_time)
if [ -x "$build/kelbsim/kelbsim-umock" ]; then
  each[umock]=$(LD_LIBRARY_PATH=$build/matlab-stubs KELBSIM_BOARDS=TIRK \
                "$build/kelbsim/kelbsim-umock" "$run" cycles 300 | cycle_time)
fi

# A busybox initramfs that loads the modules, mounts the host's root over 9p
# and runs the scenarios in it.
busybox=$(command -v busybox) || skip "busybox is not installed"
initrd=$cache/initrd-$version
rm -rf "$initrd" && mkdir -p "$initrd"/{bin,mod,host,proc,sys,dev}
cp "$busybox" "$initrd/bin/busybox"
cp "$tree"/modules/*.ko "$initrd/mod/"
cat >"$initrd/init" <<EOF
#!/bin/busybox sh
b=/bin/busybox
\$b mount -t proc proc /proc
\$b mount -t devtmpfs dev /dev
for m in ${modules[*]}; do \$b insmod /mod/\$m.ko || echo "guest: insmod \$m failed"; done
if \$b mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 hostroot /host; then
  \$b mount -t proc proc /host/proc
  \$b mount -t sysfs sys /host/sys
  \$b mount -t devtmpfs dev /host/dev
  \$b mount -t tmpfs run /host/run
  \$b mount -t tmpfs tmp /host/tmp
  \$b chroot /host /bin/bash $top/tests/kernel/guest.sh $build $cycles $only
else
  echo "guest: the host's root could not be mounted"
fi
\$b poweroff -f
EOF
chmod +x "$initrd/init"
(cd "$initrd" && find . | cpio -o -H newc 2>/dev/null | gzip -1) >"$initrd.gz"

log=$out/kernel-guest.log
boot=$(date +%s%N)
timeout 600 qemu-system-x86_64 -machine accel=tcg -smp 1 -m 512 -nographic -no-reboot \
  -kernel "$tree/vmlinuz" -initrd "$initrd.gz" -append "console=ttyS0 quiet loglevel=3 panic=-1" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  </dev/null 2>&1 | tr -d '\r' | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' | tee "$log" | grep -E '^(guest|  |scenario time|firmware|cycles|silent|unplug|models|hotplug|octave|kelbsim)'
guest_ms=$(( ($(date +%s%N) - boot) / 1000000 ))

echo
echo "Write+Read cycle (one TIRK board; figures of one run, for comparison):"
printf '  %-34s %12s\n' "virtual bus (libusb stand-in)" "${each[bus]:-?} us"
printf '  %-34s %12s\n' "real libusb on umockdev" "${each[umock]:-not built} us"
printf '  %-34s %12s\n' "real libusb, kernel in QEMU TCG" "$(cycle_time <"$log" | head -n 1) us"
sed -n 's/^kelbsim-usbip: chip \([0-9]*\) loaded in \([0-9]*\) ms$/firmware download in the guest: chip \1, \2 ms from the first 0xA0 request to CPUCS = 0/p' "$log"
echo "guest: ${guest_ms} ms from QEMU's start to power-off; stage: $(( $(date +%s) - began )) s"

ok=$(grep -cE '^(firmware|models|cycles|silent|unplug|hotplug|octave-[a-z_]*): ok$' "$log")
failed=$((scenarios - ok))
echo "kernel scenarios: $ok tests passed, $failed tests failed out of $scenarios (guest kernel $version)"
[ "$failed" -eq 0 ]

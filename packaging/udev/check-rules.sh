#!/usr/bin/env bash
# Has this machine's udev parse a rules file and report what it rejects:
# `udevadm verify` where udev has it (systemd 253 on), else `udevadm test`
# with only this file in the rules folder, inside a private mount namespace
# so the machine's own rules stay untouched.  Exit 77 when neither can run.
set -uo pipefail
rules=$1
name=$(basename "$rules")
command -v udevadm >/dev/null || exit 77
if udevadm verify --help >/dev/null 2>&1; then
  exec udevadm verify "$rules"
fi
[ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && [ -e /sys/class/mem/null ] || exit 77
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$rules" "$dir/"
out=$(unshare -m sh -c 'mount --bind "$1" /etc/udev/rules.d && udevadm test --action=add /sys/class/mem/null' \
      sh "$dir" 2>&1)
echo "$out" | grep -qF "Reading rules file: /etc/udev/rules.d/$name" || { echo "$out" | tail -5; exit 77; }
# udev names the file and line of every rule it does not accept.
if echo "$out" | grep -F "$name:"; then
  exit 1
fi
echo "udev parsed $name without complaint"

#!/usr/bin/env bash
# kelbio-setup-udev as a user runs it, from the source tree and from the
# archive's layout (rules in udev/ beside it), into scratch roots: what it
# writes, and what it says about udev and the plugdev group.  Nothing of
# this machine is changed: --root and --dry-run only.
#   setup-udev.sh <source-dir>
set -uo pipefail
top=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
rules=$top/packaging/udev/60-kelbio.rules
# says <output> <text>...: every text is in the output
says() { local out=$1 t; shift; for t in "$@"; do grep -qF -- "$t" <<<"$out" || fail "no \"$t\" in: $out"; done; }

# The archive's layout.
mkdir -p "$work/kelbio/udev" "$work/root/etc"
cp "$top/packaging/udev/kelbio-setup-udev" "$work/kelbio/"
cp "$rules" "$work/kelbio/udev/"
echo 'plugdev:x:46:bob' >"$work/root/etc/group"
dest=$work/root/etc/udev/rules.d/60-kelbio.rules

for script in "$top/packaging/udev/kelbio-setup-udev" "$work/kelbio/kelbio-setup-udev"; do
  rm -rf "$work/root/etc/udev"
  out=$("$script" --root "$work/root" --add-to-plugdev alice --dry-run) || fail "dry run: $out"
  [ ! -e "$dest" ] || fail "a dry run wrote $dest"
  says "$out" "install -D -m 644 " "$dest" "usermod --root $work/root -aG plugdev alice" \
       "alice must log out and log in again"

  out=$("$script" --root "$work/root") || fail "install: $out"
  cmp -s "$rules" "$dest" || fail "$dest is not the rules"
  [ "$(stat -c %a "$dest")" = 644 ] || fail "$dest is not readable by udev"
  says "$out" "Installing the udev rules" "udev is not reloaded" "is not in the plugdev group" "--add-to-plugdev"

  out=$("$script" --root "$work/root" --add-to-plugdev bob) || fail "again: $out"
  says "$out" "already these; nothing to change" "bob is in the plugdev group"
  grep -q usermod <<<"$out" && fail "adds a member again: $out"

  echo '# an older version' >"$dest"
  out=$("$script" --root "$work/root") || fail "update: $out"
  cmp -s "$rules" "$dest" || fail "older rules were kept"
done

# On this system: what it would run, with sudo for a user who is not root.
out=$("$top/packaging/udev/kelbio-setup-udev" --dry-run) || fail "dry run on /: $out"
if ! cmp -s "$rules" /etc/udev/rules.d/60-kelbio.rules; then
  says "$out" "/etc/udev/rules.d/60-kelbio.rules" "udevadm control --reload" "udevadm trigger"
fi
"$top/packaging/udev/kelbio-setup-udev" --bogus >/dev/null 2>&1 && fail "an unknown option was taken"
echo "kelbio-setup-udev installs the rules, reloads udev and reports the plugdev group"

#!/usr/bin/env bash
# `cmake --install` under DESTDIR into a /usr/local-like and a /usr-like
# prefix must lay out exactly the files the table in doc/developers.md lists (the block
# that starts with "--prefix /usr/local   --prefix /usr"), every copy must
# carry the build's version, and the installed kelbio-sim must run the
# installed kelbio.mex, board object and pacing call on its own virtual bus.
#   install-prefixes.sh <build-dir> <developers.md> <version>
set -euo pipefail
build=$1 readme=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

readme_column() {
  awk -v col="$1" '/^```/ && on { exit } on && NF { print $col } /^--prefix \/usr\/local +--prefix \/usr$/ { on = 1 }' \
    "$readme" | sort
}
[ -n "$(readme_column 1)" ] || fail "no install table in $readme"

column=1
for prefix in /usr/local /usr; do
  dest=$work/dest$column
  DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >"$work/install$column.log" ||
    { cat "$work/install$column.log"; fail "cmake --install --prefix $prefix"; }
  outside=$(find "$dest" \( -type f -o -type l \) ! -path "$dest$prefix/*")
  [ -z "$outside" ] || fail "--prefix $prefix put files outside it: $outside"
  (cd "$dest$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$work/got"
  readme_column $column >"$work/want"
  diff -u "$work/want" "$work/got" || fail "--prefix $prefix installs other files than doc/developers.md says"
  column=$((column + 1))
done

root=$work/dest1/usr/local
for mex in "$root"/lib/kelbio/kelbio.mex*; do
  strings "$mex" | grep -x "kelbio version $version" >/dev/null || fail "no version string in $mex"
done
grep -qx "% Version $version" "$root/lib/kelbio/Contents.m" || fail "Contents.m version"
[ "$(head -1 "$root/share/doc/kelbio/NEWS")" = "kelbio $version" ] || fail "NEWS does not begin with this version"

# A typo among the boards: the bus says which words it knows, the others are there.
"$root/bin/kelbio-sim" TIRKK FELDAR -- octave-cli -q -f -H -W -p "$root/lib/kelbio" --eval "
  assert (which ('kelbio'), '$root/lib/kelbio/kelbio.mex');
  p = kelbio ('Open', 'FELDAR1');
  assert (kelbio ('Close', p), 0);
  # The installed toolbox: the board object, the pacing call, and the udev
  # set-up that takes the rules installed beside it.
  b = kelbio_board ('FELDAR1');
  assert (b.IsOpen);
  clear b
  assert (kelbio ('Close', kelbio ('Open', 'FELDAR1')), 0);
  assert (which ('kelbio_pace'), '$root/lib/kelbio/kelbio_pace.mex');
  kelbio_pace ('start', 1e-3);
  [late, k] = kelbio_pace ();
  assert (k, 1);
  [s, t] = kelbio_setup_udev ('--dry-run', '--root', tempname ());
  assert (s, 0, t);
  assert (! isempty (strfind (t, 'install -D -m 644 $root/lib/kelbio/udev/60-kelbio.rules ')), t);
  try
    kelbio ('Open', 'TIRK1');
    exit (3);
  catch err
    assert (err.message, 'kelbio: No matching device found!');
  end" </dev/null 2>"$work/stderr" || { cat "$work/stderr"; fail "the installed kelbio-sim"; }
grep -qF 'kelbsim: unknown board "TIRKK" in KELBSIM_BOARDS; the boards are TIRK, SORVANDEL, FELDAR, MORSIVAN, GASPILODEN and FX2' \
  "$work/stderr" || { cat "$work/stderr"; fail "no list of boards for a typo"; }
echo "cmake --install into /usr/local and /usr as doc/developers.md says; the installed kelbio-sim works"

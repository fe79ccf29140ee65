#!/usr/bin/env bash
# The Octave package from the repository: made, installed by `pkg install`
# into a scratch package prefix (it builds kelbio.mex, kelbio_pace.mex and
# kelbio-scan there), then loaded and used on a virtual TIRK board through
# kelbio-sim: the commands, the board object, the pacing call and the list of
# boards.
#   octave-pkg.sh <source-dir> <build-dir> <version>
set -euo pipefail
top=$1 build=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

tarball=$(bash "$top/packaging/octave/make-package.sh" "$work")
[ "$(basename "$tarball")" = "kelbio-$version.tar.gz" ] || fail "tarball is $tarball"
list=$(tar -tzf "$tarball")
for f in DESCRIPTION COPYING INDEX NEWS inst/kelbio.m inst/Contents.m inst/kelbio_pace.m inst/kelbio_board.m \
         inst/kelbio_record.m inst/kelbio_liveview.m inst/kelbio_boards.m inst/kelbio_setup_udev.m \
         inst/kelbio-setup-udev inst/60-kelbio.rules src/Makefile src/FILES src/gateway/kelbio.cpp \
         src/tools/pace/pacemex.cpp src/tools/scan/main.cpp; do
  grep -qx "kelbio-$version/$f" <<<"$list" || fail "the package has no $f"
done
# pkg builds on Linux: the Windows scan, which needs the CyUSB transport, stays out.
! grep -q "/cyusbscan.cpp$" <<<"$list" || fail "the package carries the Windows scan's source"
tar -xOzf "$tarball" "kelbio-$version/DESCRIPTION" | grep -x "Version: $version" >/dev/null || fail "DESCRIPTION version"
# The package carries every toolbox file; Contents.m names each one once.
contents=$(tar -xOzf "$tarball" "kelbio-$version/inst/Contents.m")
for f in "$top"/toolbox/*.m; do
  f=$(basename "$f" .m)
  grep -qx "kelbio-$version/inst/$f.m" <<<"$list" || fail "the package has no $f.m"
  [ "$(grep -cE "^%   $f +- " <<<"$contents")" = 1 ] || fail "Contents.m does not list $f once"
done

# pkg keeps its lists in the home folder, and as root in Octave's own folder,
# unless told otherwise: both go to the scratch folder, or a run as root
# would leave an entry naming a removed folder in the computer's list.
export HOME=$work
prefix=$work/octave
mkdir -p "$prefix"
lists="pkg('local_list', '$prefix/list'); pkg('global_list', '$prefix/global_list');"
octave-cli -q -f -H -W --eval "pkg('prefix', '$prefix', '$prefix'); $lists
                               pkg('install', '$tarball');" </dev/null >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "pkg install"; }
mex=$(find "$prefix" -name kelbio.mex)
strings "$mex" | grep -x "kelbio version $version" >/dev/null || fail "no version string in $mex"
pace=$(find "$prefix" -name kelbio_pace.mex)
[ -n "$pace" ] || fail "kelbio_pace.mex was not installed"

"$build/kelbio-sim" TIRK -- octave-cli -q -f -H -W --eval "
  $lists
  pkg load kelbio
  assert (which ('kelbio'), '$mex');
  p = kelbio ('Open', 'TIRK1');
  assert (p.Port, 'TIRK1');
  [d, s] = kelbio ('Read', p);
  assert (s, 0);
  assert (size (d), [9 1]);
  assert (kelbio ('Close', p), 0);
  assert (! isempty (strfind (evalc ('help kelbio'), 'kelbio.mex')));
  # The toolbox: the board object over the same commands, closed when cleared.
  b = kelbio_board ('TIRK1');
  assert (size (read (b)), [9 1]);
  clear b
  p = kelbio ('Open', 'TIRK1');
  assert (kelbio ('Close', p), 0);
  assert (which ('kelbio_pace'), '$pace');
  assert (! isempty (strfind (evalc ('help kelbio_pace'), 't0 + k*T')));
  kelbio_pace ('start', 1e-3);
  for k = 1:20, kelbio_pace (); end
  s = kelbio_pace ('stats');
  assert (s.Periods, 20);
  bs = kelbio_board.list ();
  assert ({bs.port}, {'TIRK1'});
  v = ver ('kelbio');
  assert (v.Version, '$version');" </dev/null || fail "the installed package on a virtual board"
echo "pkg install of $(basename "$tarball"), and a virtual TIRK board through its commands, board object and kelbio_boards: ok"

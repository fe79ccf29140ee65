#!/usr/bin/env bash
# The Octave package from the repository: made, installed by `pkg install`
# into a scratch package prefix (it builds kelbio.mex there), then loaded and
# used on a virtual TIRK board through kelbio-sim.
#   octave-pkg.sh <source-dir> <build-dir> <version>
set -euo pipefail
top=$1 build=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

tarball=$(bash "$top/packaging/octave/make-package.sh" "$work")
[ "$(basename "$tarball")" = "kelbio-$version.tar.gz" ] || fail "tarball is $tarball"
list=$(tar -tzf "$tarball")
for f in DESCRIPTION COPYING INDEX NEWS inst/kelbio.m inst/Contents.m src/Makefile src/gateway/kelbio.cpp; do
  grep -qx "kelbio-$version/$f" <<<"$list" || fail "the package has no $f"
done
tar -xOzf "$tarball" "kelbio-$version/DESCRIPTION" | grep -x "Version: $version" >/dev/null || fail "DESCRIPTION version"

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
  v = ver ('kelbio');
  assert (v.Version, '$version');" </dev/null || fail "the installed package on a virtual board"
echo "pkg install of $(basename "$tarball") and a virtual TIRK board through it: ok"

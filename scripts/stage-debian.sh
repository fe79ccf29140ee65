#!/usr/bin/env bash
# The Debian packages kelbio and octave-kelbio: built by dpkg-buildpackage from
# an export of the tracked files (no build folders), checked by lintian (an
# error fails) and against the file lists below, then unpacked, not installed,
# into a scratch root, where Octave loads the package from there and drives a
# virtual TIRK board through the unpacked kelbio-sim.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${KELB_OUT:-$top/build}/debian
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out/src"
# The tracked files as they are in the work tree: HEAD when nothing is changed.
tree=$(git -C "$top" stash create)
git -C "$top" archive "${tree:-HEAD}" | tar -x -C "$out/src"

version=$(grep -m1 -oE '^project.kelbio VERSION [0-9.]+' "$top/CMakeLists.txt" | cut -d' ' -f3)
debversion=$(dpkg-parsechangelog -l "$out/src/debian/changelog" -S Version)
[ "${debversion%-*}" = "$version" ] ||
  fail "debian/changelog is at $debversion, the project at $version: add a debian/changelog entry"
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
octarch=$(mkoctfile -p CANONICAL_HOST_TYPE)-$(mkoctfile -p API_VERSION)

echo "--- dpkg-buildpackage"
(cd "$out/src" && DEB_BUILD_OPTIONS="parallel=2 ${DEB_BUILD_OPTIONS:-}" \
  dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1 ||
  { tail -n 40 "$out/build.log"; fail "dpkg-buildpackage (log: $out/build.log)"; }
grep -E '^Summary: [0-9]+ tests' "$out/build.log" || fail "dh_octave_check ran no tests"
changes=$out/kelbio_${debversion}_$arch.changes
deb=$out/kelbio_${debversion}_$arch.deb
octdeb=$out/octave-kelbio_${debversion}_$arch.deb

echo "--- lintian"
lintian --fail-on error "$changes" | tee "$out/lintian.log" ||
  fail "lintian reports errors"
echo "lintian: $(grep -c '^E: ' "$out/lintian.log") errors, $(grep -c '^W: ' "$out/lintian.log") warnings"

# What each package holds: files, and links with their targets.
expected() {
  sed -e "s/@VERSION@/$version/g" -e "s/@MULTIARCH@/$multiarch/g" -e "s/@OCTARCH@/$octarch/g" <<'EOF'
kelbio usr/bin/kelbio-sim
kelbio usr/lib/kelbio/Contents.m
kelbio usr/lib/kelbio/kelbio-scan
kelbio usr/lib/kelbio/kelbio.m
kelbio usr/lib/kelbio/kelbio.mexa64
kelbio usr/lib/kelbio/kelbio_board.m
kelbio usr/lib/kelbio/kelbio_boards.m
kelbio usr/lib/kelbio/kelbio_liveview.m
kelbio usr/lib/kelbio/kelbio_pace.m
kelbio usr/lib/kelbio/kelbio_pace.mexa64
kelbio usr/lib/kelbio/kelbio_record.m
kelbio usr/lib/kelbio/sim/libusb-1.0.so.0
kelbio usr/lib/udev/rules.d/60-kelbio.rules
kelbio usr/share/doc/kelbio/README.Debian
kelbio usr/share/doc/kelbio/README.md.gz
kelbio usr/share/doc/kelbio/changelog.Debian.gz
kelbio usr/share/doc/kelbio/changelog.gz
kelbio usr/share/doc/kelbio/copyright
kelbio usr/share/doc/kelbio/examples -> ../../kelbio/examples
kelbio usr/share/kelbio/examples/demo.m
kelbio usr/share/man/man1/kelbio-sim.1.gz
octave-kelbio usr/lib/@MULTIARCH@/octave/packages/kelbio-@VERSION@/@OCTARCH@/kelbio-scan
octave-kelbio usr/lib/@MULTIARCH@/octave/packages/kelbio-@VERSION@/@OCTARCH@/kelbio.m
octave-kelbio usr/lib/@MULTIARCH@/octave/packages/kelbio-@VERSION@/@OCTARCH@/kelbio.mex
octave-kelbio usr/lib/@MULTIARCH@/octave/packages/kelbio-@VERSION@/@OCTARCH@/kelbio_boards.m
octave-kelbio usr/lib/@MULTIARCH@/octave/packages/kelbio-@VERSION@/@OCTARCH@/kelbio_pace.m
octave-kelbio usr/lib/@MULTIARCH@/octave/packages/kelbio-@VERSION@/@OCTARCH@/kelbio_pace.mex
octave-kelbio usr/share/doc/octave-kelbio/NEWS -> ../../octave/packages/kelbio-@VERSION@/packinfo/NEWS
octave-kelbio usr/share/doc/octave-kelbio/changelog.Debian.gz
octave-kelbio usr/share/doc/octave-kelbio/copyright
octave-kelbio usr/share/doc/octave-kelbio/examples -> ../../octave/packages/kelbio-@VERSION@/examples
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/Contents.m
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/doc-cache
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/examples/doc-cache
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/examples/kelbio_demo.m
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/kelbio_board.m
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/kelbio_liveview.m
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/kelbio_record.m
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/packinfo/DESCRIPTION
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/packinfo/INDEX
octave-kelbio usr/share/octave/packages/kelbio-@VERSION@/packinfo/NEWS
EOF
}
echo "--- file lists"
for f in "$deb" "$octdeb"; do
  p=$(dpkg-deb -f "$f" Package)
  dpkg-deb -c "$f" | awk -v p="$p" '$1 !~ /^d/ { sub(/^[^.]*\.\//, ""); print p " " $0 }'
done | sort >"$out/files.txt"
if ! diff -u <(expected | sort) "$out/files.txt"; then
  fail "the packages do not hold the files expected (- expected, + found)"
fi
echo "file lists: $(wc -l <"$out/files.txt") files as expected"

echo "--- the unpacked packages on a virtual TIRK board"
root=$out/root
for f in "$deb" "$octdeb"; do dpkg-deb -x "$f" "$root"; done
# pkg reads the package from the unpacked tree as from /usr, with its lists
# kept in the scratch folder (as is its fntests.log).
cd "$out"
ok=yes
HOME=$out "$root/usr/bin/kelbio-sim" TIRK -- octave-cli -q -f -H -W --eval "
  pkg ('prefix', '$root/usr/share/octave/packages', '$root/usr/lib/$multiarch/octave/packages');
  pkg ('local_list', '$out/local_list');
  pkg ('global_list', '$out/global_list');
  pkg rebuild
  pkg load kelbio
  assert (which ('kelbio'), '$root/usr/lib/$multiarch/octave/packages/kelbio-$version/$octarch/kelbio.mex');
  p = kelbio ('Open', 'TIRK1');
  assert (kelbio ('Write', p, 0, 0, 2.5), 0);
  [d, s] = kelbio ('Read', p);
  assert (s, 0);
  assert (size (d), [9 1]);
  assert (kelbio ('Close', p), 0);
  assert (! isempty (strfind (evalc ('help kelbio'), 'Drive the USB I/O boards')));
  v = ver ('kelbio');
  assert (v.Version, '$version');
  # kelbio_boards runs the kelbio-scan beside it in the architecture folder.
  assert (which ('kelbio_boards'), '$root/usr/lib/$multiarch/octave/packages/kelbio-$version/$octarch/kelbio_boards.m');
  b = kelbio_boards ();
  assert ({b.port}, {'TIRK1'});
  pkg test kelbio
  printf ('open, write, read, close, help kelbio, ver, kelbio_boards: ok\n');" \
  </dev/null >"$out/session.log" 2>&1 || ok=no
cat "$out/session.log"
[ "$ok" = yes ] || fail "the unpacked packages on a virtual board"
grep -qE '^ +PASS +[1-9]' "$out/session.log" && grep -qE '^ +FAIL +0$' "$out/session.log" ||
  fail "pkg test kelbio did not pass"
echo "debian: packages built, lintian clean of errors, file lists and a virtual-board session: ok"

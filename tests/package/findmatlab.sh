#!/usr/bin/env bash
# With a MATLAB installed, CMake builds kelbio.mexa64 through FindMatlab's
# matlab_add_mex against that MATLAB's headers and libraries.  Here the
# MATLAB is a folder laid out like one (version file, mexext, headers,
# libmx/libmex, the export map) holding the stand-in's files: the build must
# take it instead of the stand-in and still give MATLAB's 32-bit-dimension
# plug-in.
#   findmatlab.sh <source-dir> <build-dir-with-the-stand-in-libraries>
set -euo pipefail
top=$1 stubs=$2/matlab-stubs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

root=$work/MATLAB
mkdir -p "$root/bin/glnxa64" "$root/extern/include" "$root/extern/lib/glnxa64"
echo '<version>9.0.0.341360</version>' >"$root/VersionInfo.xml"
printf '#!/bin/sh\necho mexa64\n' >"$root/bin/mexext"
chmod +x "$root/bin/mexext"
cp "$top"/platform/matlab/{mex.h,matrix.h} "$root/extern/include/"
cp "$top/platform/matlab/mexFunction.map" "$root/extern/lib/glnxa64/"
cp "$stubs"/libmx.so "$stubs"/libmex.so "$root/bin/glnxa64/"

cmake -S "$top" -B "$work/build" -DMatlab_ROOT_DIR="$root" -DKELBIO_TESTS=OFF -DKELBIO_OCTAVE=OFF \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
grep -qF "kelbio.mexa64 is built with the MATLAB in $root" "$work/configure.log" || fail "FindMatlab's MATLAB not used"
cmake --build "$work/build" --target kelbio_mex -j2 >"$work/build.log" 2>&1 ||
  { tail -30 "$work/build.log"; fail "build"; }
mex=$work/build/kelbio.mexa64
grep -q "platform/matlab" "$work/build/CMakeFiles/kelbio_mex.dir/flags.make" && fail "built against the stand-in headers"
[ "$(nm -D --defined-only "$mex" | awk '$2 != "A" {print $3}')" = "mexFunction@@MEX" ] || fail "exports more than mexFunction"
[ "$(nm -D --undefined-only "$mex" | grep -c '_700$')" -eq 6 ] || fail "not the 32-bit-dimension API"
ldd "$mex" | grep -F "$root/bin/glnxa64/libmx.so" >/dev/null || { ldd "$mex"; fail "libmx not the MATLAB's"; }
# MATLAB's own, older libstdc++ is loaded first: the runtime must be inside.
grep -q -- '-static-libstdc++ -static-libgcc' "$work/build/CMakeFiles/kelbio_mex.dir/link.txt" ||
  fail "the C++ runtime is not linked in"
bad=$(objdump -p -T "$mex" | grep -oE '(GLIBCXX|CXXABI|GCC)_[0-9.]+|NEEDED +lib(stdc\+\+|gcc_s)\S*' | sort -u || true)
[ -z "$bad" ] || fail "takes from the system: $(echo $bad)"
echo "kelbio.mexa64 built with FindMatlab's MATLAB"

#!/usr/bin/env bash
# Soak run, not a test: Write/Read cycles on a virtual TIRK board in GNU Octave,
# with the virtual bus (<build>/kelbsim/libusb-1.0.so.0) in place of libusb.
# Prints the resident memory after the first 1,000 cycles and at the end; a
# long session on a virtual board should not grow by more than 5 MB.
#   bench/soak-octave.sh [build-dir] [cycles]     (defaults: build/native 100000)
# Exit status 1 when the growth is above 5 MB.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/native}" && pwd)
cycles=${2:-100000}
mex=$(find "$build" -name kelbio.mex -print -quit)
[ -n "$mex" ] && [ -e "$build/kelbsim/libusb-1.0.so.0" ] || {
    echo "no kelbio.mex or kelbsim/libusb-1.0.so.0 under $build" >&2
    exit 2
}
LD_LIBRARY_PATH=$build/kelbsim KELBSIM_BOARDS=TIRK KELBSIM_FAULTS= KELBSIM_LOG= \
octave-cli -q -f -H -W -p "$(dirname "$mex")" --eval "
  cycles = $cycles;
  rss = @() str2double (regexp (fileread ('/proc/self/status'), 'VmRSS:\s*(\d+)', 'tokens', 'once'){1});
  p = kelbio ('Open', 'TIRK1');
  first = NaN;
  tic;
  for k = 1:cycles
    s = kelbio ('Write', p, 0, 0, 1.5);
    [d, r] = kelbio ('Read', p);
    if (s || r)
      error ('cycle %d: Write status %d, Read status %d', k, s, r);
    end
    if (k == min (1000, cycles))
      first = rss ();
    end
  end
  last = rss ();
  kelbio ('Close', p);
  printf ('resident after %d cycles: %d kB\n', min (1000, cycles), first);
  printf ('resident after %d cycles: %d kB (%+d kB, %.1f s)\n', cycles, last, last - first, toc);
  exit (last - first > 5 * 1024);
"

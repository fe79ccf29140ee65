// SPDX-License-Identifier: MIT
// The version of this build as text in the binary, so `strings kelbio.mexa64`
// tells which release a computer has.  The number comes from the build
// (project() in CMakeLists.txt, or make.m and the Octave package, which read
// it from there).
#ifndef KELBIO_VERSION
#error "KELBIO_VERSION is set by the build, e.g. -DKELBIO_VERSION=0.10.0"
#endif

#define KELB_TEXT(x) #x
#define KELB_TEXT_OF(x) KELB_TEXT(x)

#if defined(__GNUC__)
__attribute__((used))
#endif
extern const char KELBversion[] = "kelbio version " KELB_TEXT_OF(KELBIO_VERSION);

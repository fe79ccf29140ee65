// How a fuzzer reports a broken invariant.
#ifndef KELB_FUZZCHECK_H
#define KELB_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

// Stops the run with a message; libFuzzer saves the input that did it.
[[noreturn]] inline void FuzzFailure(const char *what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
#define FUZZ_CHECK(condition) \
    do {                      \
        if (!(condition)) FuzzFailure(#condition); \
    } while (0)

#endif

// SPDX-License-Identifier: MIT
// Names that MATLAB code supplies are compared without regard to letter case;
// text fields are fixed arrays filled by bounded copies.
#ifndef KELB_TEXT_H
#define KELB_TEXT_H

#include <cstddef>

constexpr char KELBlower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal as whole zero-terminated texts, letter case ignored.  Characters
// are compared as they are first; letter case is only looked at where they
// differ, which names that MATLAB code passes back to us seldom do.
inline bool KELBsameText(const char *a, const char *b) {
    for (;; ++a, ++b) {
        if (*a != *b && KELBlower(*a) != KELBlower(*b)) return false;
        if (*a == '\0') return true;
    }
}

// What follows prefix in text, letter case ignored, or null when text does
// not begin with prefix.  Only strlen(prefix) characters are compared and a
// shorter text never matches.
inline const char *KELBafterPrefix(const char *text, const char *prefix) {
    for (; *prefix; ++text, ++prefix)
        if (*text != *prefix && KELBlower(*text) != KELBlower(*prefix)) return nullptr;
    return text;
}

inline bool KELBbeginsWith(const char *text, const char *prefix) {
    return KELBafterPrefix(text, prefix) != nullptr;
}

// Bounded copy that always leaves a terminator.
template <std::size_t N>
void KELBcopyText(char (&dst)[N], const char *src) {
    std::size_t i = 0;
    for (; i + 1 < N && src[i]; ++i) dst[i] = src[i];
    dst[i] = '\0';
}

#endif

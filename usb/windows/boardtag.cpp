// SPDX-License-Identifier: MIT
// The product string of a CyUSB device as text, and the tag rule.
#include "boardtag.h"

#include <cctype>
#include <cstring>

namespace {

bool EqualNoCase(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

}  // namespace

void ProductText(const CCyDevice &device, char (&text)[PRODUCTLEN]) {
    std::memset(text, 0, sizeof text);
    // A string that does not convert whole keeps what did convert; the
    // buffer was zeroed, so the text is terminated either way.
    oslayer::wcstombs(text, device.Product, PRODUCTLEN - 1);
    text[PRODUCTLEN - 1] = '\0';
}

bool TextHasTag(const char *text, const char *tag) {
    const char *paren = std::strrchr(text, '(');
    return paren && EqualNoCase(paren, tag);
}

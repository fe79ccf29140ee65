// SPDX-License-Identifier: MIT
// Allocations that give null when memory runs out.  The Windows transport
// raises no C++ exception at all: one thrown inside a 32-bit plug-in finds
// no handler when the host has loaded another copy of the compiler's
// unwinder, so every allocation there is checked by value instead.
#ifndef KELB_NEW_H
#define KELB_NEW_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

template <class T, class... Args>
T *KELBnew(Args &&...args) {
    return new (std::nothrow) T(std::forward<Args>(args)...);
}

// n bytes, all zero, or null.
inline uint8_t *KELBnewBytes(std::size_t n) { return new (std::nothrow) uint8_t[n](); }

#endif

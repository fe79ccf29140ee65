// Shared by the CyUSB class tests: a clean simulated driver per test, and
// readers of the request records the driver received.
#ifndef KELBTEST_CYUSBTEST_H
#define KELBTEST_CYUSBTEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cydevice.h"
#include "sim/cyusb/cyusbsim.h"

class CyUsbTest : public ::testing::Test {
protected:
    void SetUp() override { cyusbsim::Reset(); }
    void TearDown() override { cyusbsim::Reset(); }
};

inline uint32_t Le32(const std::vector<uint8_t> &b, size_t at) {
    return static_cast<uint32_t>(b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16) |
           static_cast<uint32_t>(b.at(at + 3)) << 24;
}
inline uint16_t Le16(const std::vector<uint8_t> &b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

// Requests with the given code, in the order the driver got them.
inline std::vector<cyusbsim::Request> RequestsWith(DWORD code) {
    std::vector<cyusbsim::Request> found;
    for (const auto &r : cyusbsim::Log())
        if (r.Code == code) found.push_back(r);
    return found;
}

inline std::vector<uint8_t> Counting(size_t n, uint8_t first = 1) {
    std::vector<uint8_t> block(n);
    for (size_t i = 0; i < n; i++) block[i] = static_cast<uint8_t>(first + i);
    return block;
}

#endif

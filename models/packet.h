// SPDX-License-Identifier: MIT
// Field helpers shared by every model codec: MATLAB values into packet
// bytes, input-block bytes into measurements.  Every formula keeps the order
// of operations of the board's documentation, in double precision, so the
// results agree to the last bit with what users have always been given.
#ifndef KELB_PACKET_H
#define KELB_PACKET_H

#include <climits>
#include <cstdint>

constexpr int KELBMOTORPACKETLEN = 8;
constexpr int KELBFELDARPACKETLEN = 16;
constexpr int KELBGASPILODENPACKETLEN = 13;
constexpr int KELBINPUTBLOCKLEN = 32;

// Offsets within the 32-byte input block; bytes 0 to 15 carry nothing we use.
enum : int {
    KELB_IN_ELAPSED = 16,   // unsigned 16-bit, microseconds
    KELB_IN_POSITION1 = 18, // signed 24-bit counts
    KELB_IN_POSITION2 = 21, // signed 24-bit counts; TIRK: speed period
    KELB_IN_DIGITAL = 24,
    KELB_IN_ANALOGA = 25,
    KELB_IN_ANALOGB = 27,
    KELB_IN_ANALOGC = 29,
    KELB_IN_STATUS = 31,    // bits 0-6 status, bit 7 TIRK direction
};

constexpr double KELBTWOPI = 6.283185307179586;
constexpr int KELBCOUNTSPERTURN = 2000;

// The small helpers are inline: a write of eight set-points runs them dozens
// of times per call.

// Truncation toward zero; NaN and anything outside int32 give INT32_MIN, so
// such values clamp to 0 whatever their sign.
inline int32_t ToInteger(double value)
{
    // Written as a range test so that NaN fails it too; every double strictly
    // inside these bounds truncates into int32.
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(value);
}

inline uint8_t ByteClamp(int32_t value)
{
    if (value < 0) return 0;
    if (value > 255) return 255;
    return static_cast<uint8_t>(value);
}

inline uint16_t WordClamp(int32_t value)
{
    if (value < 0) return 0;
    if (value > 65535) return 65535;
    return static_cast<uint16_t>(value);
}

inline uint8_t ByteField(double value) { return ByteClamp(ToInteger(value)); }
inline uint16_t WordField(double value) { return WordClamp(ToInteger(value)); }

// -10..+10 V onto 0..65535, rounded to the nearest step.
uint16_t DacCode(double volts);
// Watchdog time in steps of 0.25 ms.
uint16_t WatchdogCode(double seconds);

inline void PutWord(uint8_t *at, uint16_t word)
{
    at[0] = static_cast<uint8_t>(word & 0xFF);
    at[1] = static_cast<uint8_t>(word >> 8);
}

inline uint16_t GetWord(const uint8_t *at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t GetUnsigned24(const uint8_t *at);
int32_t GetSigned24(const uint8_t *at);

// Status byte without the direction bit.
double BlockStatus(const uint8_t block[KELBINPUTBLOCKLEN]);
double BlockElapsed(const uint8_t block[KELBINPUTBLOCKLEN]);
double CountToRadians(int32_t count);
// Speed since the previous read in rad/s, the divisor being S x 2 ms with S the
// whole status byte; stores the new count in *previous.
double AverageSpeed(int32_t count, int32_t *previous, uint8_t statusByte);

#endif

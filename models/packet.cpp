// SPDX-License-Identifier: MIT
// Field helpers shared by the model codecs.
#include "models/packet.h"

uint16_t DacCode(double volts)
{
    double code = (volts + 10) * 65535 / 20 + 0.5;
    return WordField(code);
}

uint16_t WatchdogCode(double seconds)
{
    double code = seconds / 0.00025;
    return WordField(code);
}

uint32_t GetUnsigned24(const uint8_t *at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16;
}

int32_t GetSigned24(const uint8_t *at)
{
    int32_t value = static_cast<int32_t>(GetUnsigned24(at));
    if (at[2] >= 128) value -= 16777216;
    return value;
}

double BlockStatus(const uint8_t block[KELBINPUTBLOCKLEN])
{
    return block[KELB_IN_STATUS] & 0x7F;
}

double BlockElapsed(const uint8_t block[KELBINPUTBLOCKLEN])
{
    return GetWord(block + KELB_IN_ELAPSED) * 1e-6;
}

double CountToRadians(int32_t count)
{
    return count * KELBTWOPI / KELBCOUNTSPERTURN;
}

double AverageSpeed(int32_t count, int32_t *previous, uint8_t statusByte)
{
    // Wrapping difference: the remembered count is only ever 0 or a 24-bit
    // count, but a signed overflow must not be possible at all.
    int32_t delta = static_cast<int32_t>(static_cast<uint32_t>(count) -
                                         static_cast<uint32_t>(*previous));
    *previous = count;
    int32_t ticks = statusByte * 2000;
    return (delta * KELBTWOPI) / (ticks * 1e-6);
}

// SPDX-License-Identifier: MIT
// GASPILODEN: long periods drive hobby servos, short ones motors.
#include "sim/plant/pulses.h"

#include <algorithm>
#include <cmath>

namespace kelbsim {

namespace {

constexpr double kClock = 3200000;     // ticks per second
constexpr uint16_t kServoPeriod = 6400; // 500 Hz and slower
constexpr double kServoCentre = 4800;  // 1.5 ms
constexpr double kServoSpan = 1920;    // 0.6 ms for full travel
constexpr double kServoTravel = 1000;  // counts at full travel
constexpr double kServoRate = 5000;    // counts per second
constexpr double kMotorRate = 20000;   // counts per second at full duty

uint16_t Word(const uint8_t *at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

uint32_t Counter(double value)
{
    return static_cast<uint32_t>(static_cast<int64_t>(std::floor(value))) & 0xFFFFF;
}

}  // namespace

void PulsesReceive(PulseOutputs *outputs, const uint8_t packet[kPulsePacket])
{
    outputs->control = packet[0];
    for (int k = 0; k < 3; k++) {
        outputs->period[k] = Word(packet + 1 + 4 * k);
        outputs->pulse[k] = Word(packet + 3 + 4 * k);
    }
    if (outputs->control & 1) outputs->position[0] = 0;
}

void PulsesStep(PulseOutputs *outputs, double dt)
{
    for (int k = 0; k < 3; k++) {
        const double period = outputs->period[k];
        const double pulse = outputs->pulse[k];
        if (period == 0) continue;
        outputs->pulses[k] += kClock / period * dt;
        double &position = outputs->position[k];
        if (period >= kServoPeriod) {
            // A servo ignores widths it cannot take for a command and holds.
            if (pulse < kServoCentre - 1.5 * kServoSpan || pulse > kServoCentre + 1.5 * kServoSpan)
                continue;
            const double target = (pulse - kServoCentre) / kServoSpan * kServoTravel;
            const double reach = kServoRate * dt;
            position += std::clamp(target - position, -reach, reach);
        } else {
            const double duty = std::min(pulse / period, 1.0);
            const bool reverse = outputs->control & (0x10 << k);
            position += (reverse ? -1 : 1) * kMotorRate * duty * dt;
        }
    }
}

void PulsesBlock(const PulseOutputs *outputs, uint8_t block[32])
{
    uint32_t counter[6];
    for (int k = 0; k < 3; k++) {
        counter[k] = Counter(outputs->position[k]);
        counter[k + 3] = Counter(outputs->pulses[k]);
    }
    for (int pair = 0; pair < 3; pair++) {
        const uint32_t low = counter[2 * pair];
        const uint32_t high = counter[2 * pair + 1];
        uint8_t *b = block + 16 + 5 * pair;
        b[0] = static_cast<uint8_t>(low);
        b[1] = static_cast<uint8_t>(low >> 8);
        b[2] = static_cast<uint8_t>((low >> 16 & 0x0F) | (high & 0x0F) << 4);
        b[3] = static_cast<uint8_t>(high >> 4);
        b[4] = static_cast<uint8_t>(high >> 12);
    }
}

}  // namespace kelbsim

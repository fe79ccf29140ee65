// SPDX-License-Identifier: MIT
// GASPILODEN's three pulse outputs and the six counters they move.
#ifndef KELBSIM_PULSES_H
#define KELBSIM_PULSES_H

#include <cstdint>

namespace kelbsim {

constexpr int kPulsePacket = 13;

struct PulseOutputs {
    uint8_t control;       // bits 0-3 command, bits 4-6 directions
    uint16_t period[3];    // 3.2 MHz ticks, 0 = off
    uint16_t pulse[3];
    double position[3];    // counters 1-3
    double pulses[3];      // counters 4-6
};

void PulsesReceive(PulseOutputs *outputs, const uint8_t packet[kPulsePacket]);
void PulsesStep(PulseOutputs *outputs, double dt);
// Counters packed into bytes 16 to 30, 20 bits each, low bits first.
void PulsesBlock(const PulseOutputs *outputs, uint8_t block[32]);

}  // namespace kelbsim

#endif

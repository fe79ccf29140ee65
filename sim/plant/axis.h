// SPDX-License-Identifier: MIT
// A permanent-magnet DC motor with an encoder of 2000 counts a turn, the
// axis behind the motor boards.  Armature inductance is left out: the
// current follows the voltage at once, the speed with the mechanical time
// constant.
#ifndef KELBSIM_AXIS_H
#define KELBSIM_AXIS_H

#include <cstdint>

namespace kelbsim {

struct MotorAxis {
    double angle = 0;    // rad
    double speed = 0;    // rad/s
    double current = 0;  // A
    double volts = 0;    // armature voltage of the last step
};

// Advances the axis by dt seconds under a constant armature voltage.
void AxisStep(MotorAxis *axis, double volts, double dt);
// Encoder count, rounded toward minus infinity, before any wrap.
int64_t AxisCount(const MotorAxis *axis);
// Sets the encoder to zero without moving the shaft.
void AxisZero(MotorAxis *axis);

}  // namespace kelbsim

#endif

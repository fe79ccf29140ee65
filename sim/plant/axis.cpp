// SPDX-License-Identifier: MIT
// DC motor: J dw/dt = Kt i - b w, i = (V - Ke w) / R.  The step is the exact
// solution of that linear equation, so any time step is stable.
#include "sim/plant/axis.h"

#include <cmath>

namespace kelbsim {

namespace {

constexpr double kResistance = 4.0;    // ohm: 2.5 A at 10 V stalled
constexpr double kTorqueConst = 0.05;  // N m / A, also V s / rad
constexpr double kInertia = 1e-4;      // kg m^2
constexpr double kDamping = 1e-5;      // N m s / rad
constexpr double kCountsPerTurn = 2000;
constexpr double kTwoPi = 6.283185307179586;

// w' = kPole w + kGain V, with kPole < 0: time constant about 0.16 s,
// about 197 rad/s at 10 V.
constexpr double kPole = -(kTorqueConst * kTorqueConst / kResistance + kDamping) / kInertia;
constexpr double kGain = kTorqueConst / (kResistance * kInertia);

}  // namespace

void AxisStep(MotorAxis *axis, double volts, double dt)
{
    const double settled = -kGain * volts / kPole;
    const double decay = std::exp(kPole * dt);
    const double start = axis->speed;
    axis->speed = settled + (start - settled) * decay;
    axis->angle += settled * dt + (start - settled) * (decay - 1) / kPole;
    axis->current = (volts - kTorqueConst * axis->speed) / kResistance;
    axis->volts = volts;
}

int64_t AxisCount(const MotorAxis *axis)
{
    return static_cast<int64_t>(std::floor(axis->angle * kCountsPerTurn / kTwoPi));
}

void AxisZero(MotorAxis *axis)
{
    axis->angle = 0;
}

}  // namespace kelbsim

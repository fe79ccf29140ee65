// SPDX-License-Identifier: MIT
// The board behind each model: packets in, one sample of the plant per
// input block out.
#include "sim/plant/plant.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/plant/axis.h"
#include "sim/plant/pulses.h"

namespace kelbsim {

namespace {

enum Model { kTirk = 0, kSorvandel, kFeldar, kMorsivan, kGaspiloden };

constexpr int kMotorPacket = 8;
constexpr int kFeldarPacket = 16;
constexpr uint8_t kSampleUs = 100;
constexpr uint8_t kReversed = 0x80;  // TIRK: the speed in this block is negative

uint16_t Word(const uint8_t *at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

void PutWord(uint8_t *at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put24(uint8_t *at, uint32_t value)
{
    PutWord(at, value);
    at[2] = static_cast<uint8_t>(value >> 16);
}

// An analogue input: x on a converter spanning low..high over 0..65535.
uint16_t Analogue(double x, double low, double high)
{
    double code = std::round((x - low) / (high - low) * 65535);
    if (!(code > 0)) return 0;
    if (code > 65535) return 65535;
    return static_cast<uint16_t>(code);
}

double DacVolts(uint16_t code) { return code * 20.0 / 65535 - 10; }

}  // namespace

struct Plant {
    int model;
    double time;        // s
    double lastPacket;  // plant time of the last packet
    bool driven;        // a packet has come since power-up
    uint8_t command;
    uint8_t digital;
    uint16_t dac[2];
    uint16_t watchdog;  // 0.25 ms steps, 0 = off
    uint16_t setpoints[64];
    MotorAxis axis[2];
    PulseOutputs pulses;
};

Plant *PlantCreate(int model)
{
    Plant *plant = new Plant{};
    plant->model = model;
    return plant;
}

void PlantDestroy(Plant *plant) { delete plant; }

void PlantReceive(Plant *plant, const uint8_t *packet, int length)
{
    if (plant->model == kGaspiloden) {
        if (length == kPulsePacket) PulsesReceive(&plant->pulses, packet);
        return;
    }
    const int expected = plant->model == kFeldar ? kFeldarPacket : kMotorPacket;
    if (length != expected) return;

    plant->command = packet[0];
    plant->dac[0] = Word(packet + 1);
    plant->dac[1] = Word(packet + 3);
    plant->digital = packet[5];
    plant->watchdog = Word(packet + 6);
    plant->driven = true;
    plant->lastPacket = plant->time;
    if (plant->command & 1) AxisZero(&plant->axis[0]);
    if (plant->model == kFeldar) {
        for (int slot = 0; slot < 4; slot++) {
            const uint16_t word = Word(packet + 8 + 2 * slot);
            if (word != 0) plant->setpoints[word >> 10] = word;  // 0 marks an empty slot
        }
    }
}

namespace {

bool WatchdogExpired(const Plant *plant)
{
    return plant->watchdog != 0 && plant->time - plant->lastPacket > plant->watchdog * 0.00025;
}

// seconds < 0: one sample, as long as the status byte says.
void MotorBlock(Plant *plant, uint8_t block[kInputBlockSize], double seconds)
{
    MotorAxis *axis = plant->axis;
    uint8_t statusByte = kSampleUs;
    if (plant->model == kTirk && axis[0].speed < 0) statusByte |= kReversed;
    const double dt = seconds < 0 ? statusByte * 1e-6 : seconds;

    const bool drive = plant->driven && !WatchdogExpired(plant);
    for (int k = 0; k < 2; k++) AxisStep(&axis[k], drive ? DacVolts(plant->dac[k]) : 0.0, dt);
    plant->time += dt;

    PutWord(block + 16, seconds < 0 ? statusByte : static_cast<uint32_t>(std::min(65535.0, std::round(dt * 1e6))));
    Put24(block + 18, static_cast<uint32_t>(AxisCount(&axis[0])));
    Put24(block + 21, static_cast<uint32_t>(AxisCount(&axis[1])));
    block[24] = plant->digital;  // the digital outputs are looped back
    block[31] = statusByte;

    switch (plant->model) {
    case kTirk: {
        // 48 MHz ticks for four encoder counts; all ones when slower than the
        // counter can time.
        const double ticks = std::round(603185.7894892403 / std::fabs(axis[0].speed));
        Put24(block + 21, ticks < 16777215 ? static_cast<uint32_t>(ticks) : 16777215u);
        PutWord(block + 25, Analogue(axis[0].current, -3, 3));
        PutWord(block + 27, Analogue(axis[0].volts, -12.5, 12.5));
        break;
    }
    case kSorvandel:
        PutWord(block + 25, Analogue(2.5 + axis[0].current, 0, 5));
        PutWord(block + 27, Analogue(2.5 + axis[1].current, 0, 5));
        block[29] = 232;  // 3.0 V sensor supply
        block[30] = 128;  // 1.65 V reference
        break;
    case kFeldar:
        PutWord(block + 25, Analogue(axis[0].current, -5.1, 5.1));
        PutWord(block + 27, Analogue((axis[0].volts + 10) / 4, 0, 5));
        PutWord(block + 29, Analogue((axis[1].volts + 10) / 4, 0, 5));
        break;
    default:  // MORSIVAN: axis 2 tilts the beam
        PutWord(block + 25, Analogue(axis[0].current, -5.1, 5.1));
        PutWord(block + 27, Analogue(2.5 + 2.5 * std::sin(axis[1].angle), 0, 5));
        PutWord(block + 29, Analogue(2.5 + 2.5 * std::sin(axis[0].angle), 0, 5));
        break;
    }
}

}  // namespace

void PlantBlock(Plant *plant, uint8_t block[kInputBlockSize]) { PlantBlockAfter(plant, block, -1); }

void PlantBlockAfter(Plant *plant, uint8_t block[kInputBlockSize], double seconds)
{
    std::memset(block, 0, kInputBlockSize);
    if (plant->model == kGaspiloden) {
        const double dt = seconds < 0 ? kSampleUs * 1e-6 : seconds;
        PulsesStep(&plant->pulses, dt);
        plant->time += dt;
        PulsesBlock(&plant->pulses, block);
        block[31] = kSampleUs;
        return;
    }
    MotorBlock(plant, block, seconds);
}

double PlantTime(const Plant *plant) { return plant->time; }

double PlantAngle(const Plant *plant, int axis) { return plant->axis[axis - 1].angle; }

double PlantSpeed(const Plant *plant, int axis) { return plant->axis[axis - 1].speed; }

uint16_t PlantSetpoint(const Plant *plant, int address)
{
    return address >= 0 && address < 64 ? plant->setpoints[address] : 0;
}

}  // namespace kelbsim

// SPDX-License-Identifier: MIT
// The laboratory setup behind a virtual board: it takes the output packets
// the host sends and makes the 32-byte input blocks the host reads.  Both the
// virtual libusb bus (sim/usb) and the simulated CyUSB driver (sim/cyusb)
// serve their boards from these models, so the same bytes cross both.
//
// Time is the plant's own and moves only when a block is made: each block
// covers one sample, whose length in microseconds is the block's whole status
// byte (also written to the elapsed-time field).  With 2000 encoder counts a
// turn, the host's average speed, counts x 2 pi / (S x 2000 us), is then the
// true mean speed over the sample.  The sample is 100 us; on TIRK, whose
// status bit 7 flags a reversed speed, a reversed sample is 228 us.
//
// What the boards do with the packets:
//  - motor boards (TIRK, SORVANDEL, MORSIVAN) and FELDAR: DAC 1 and DAC 2
//    drive the armature of axis 1 and axis 2 (-10..+10 V); command bit 0 sets
//    encoder 1 to zero; the digital outputs come back as digital inputs; when
//    the watchdog code is not 0 and no packet came within it, both drives
//    drop to 0 V until the next packet.  Before the first packet they are 0 V.
//    FELDAR keeps the set-point words by address.
//  - GASPILODEN: outputs with a period of 6400 ticks or more drive hobby
//    servos (counter k follows the pulse width, +-1000 counts at +-0.6 ms);
//    shorter periods drive motors whose counter k runs at 20000 counts/s x
//    duty in the direction bit's sense; counters 4 to 6 count the pulses of
//    outputs 1 to 3.  Command bit 0 sets counter 1 to zero.
#ifndef KELBSIM_PLANT_H
#define KELBSIM_PLANT_H

#include <cstdint>

namespace kelbsim {

constexpr int kInputBlockSize = 32;

// Model rows as the library's model table numbers them: 0 TIRK, 1 SORVANDEL,
// 2 FELDAR, 3 MORSIVAN, 4 GASPILODEN.
struct Plant;

Plant *PlantCreate(int model);
void PlantDestroy(Plant *plant);
// One output packet as it arrived on the board's OUT endpoint.  A packet of
// another length than the model's is ignored, as the firmware does.
void PlantReceive(Plant *plant, const uint8_t *packet, int length);
// The next input block; the plant's time moves on by one sample.
void PlantBlock(Plant *plant, uint8_t block[kInputBlockSize]);
// The same for a board read on a real clock: the plant's time moves on by
// `seconds` (the time since the previous block), which the elapsed-time field
// then reports (in us, at most 65535).  The status byte and the speed
// divisor stay those of one sample.
void PlantBlockAfter(Plant *plant, uint8_t block[kInputBlockSize], double seconds);

// For tests and demos: seconds of plant time so far, and the state of axis
// 1 or 2 (angle in rad, speed in rad/s) of the motor models.
double PlantTime(const Plant *plant);
double PlantAngle(const Plant *plant, int axis);
double PlantSpeed(const Plant *plant, int axis);
// The set-point word FELDAR last received for an address (0 when none).
uint16_t PlantSetpoint(const Plant *plant, int address);

}  // namespace kelbsim

#endif

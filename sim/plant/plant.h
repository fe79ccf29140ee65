// The laboratory setup behind a virtual board: it takes the output packets
// the host sends and makes the 32-byte input blocks the host reads.  Both the
// virtual libusb bus (sim/usb) and the simulated CyUSB driver (sim/cyusb)
// serve their boards from these models, so the same bytes cross both.
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
// One output packet as it arrived on the board's OUT endpoint.
void PlantReceive(Plant *plant, const uint8_t *packet, int length);
// The next input block; the plant's time moves on by one sample.
void PlantBlock(Plant *plant, uint8_t block[kInputBlockSize]);

}  // namespace kelbsim

#endif

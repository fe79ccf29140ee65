// Placeholder until the plant models land: a board whose block only carries a
// status byte.
#include "sim/plant/plant.h"

#include <cstring>

namespace kelbsim {

struct Plant {
    int model;
};

Plant *PlantCreate(int model) { return new Plant{model}; }
void PlantDestroy(Plant *plant) { delete plant; }
void PlantReceive(Plant *, const uint8_t *, int) {}
void PlantBlock(Plant *, uint8_t block[kInputBlockSize]) {
    std::memset(block, 0, kInputBlockSize);
    block[31] = 1;
}

}  // namespace kelbsim

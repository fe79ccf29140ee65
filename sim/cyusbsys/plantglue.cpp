// The plant models of the other rigs, compiled into the kernel driver: C
// entry points for the driver, and the C++ allocation they need, taken from
// the driver's pool.
#include <stddef.h>

#include "sim/plant/plant.h"

extern "C" {
void *KelbPoolAlloc(size_t size);
void KelbPoolFree(void *block);

void *KelbPlantCreate(int model) { return kelbsim::PlantCreate(model); }
void KelbPlantDestroy(void *plant) { kelbsim::PlantDestroy(static_cast<kelbsim::Plant *>(plant)); }
void KelbPlantReceive(void *plant, const unsigned char *packet, int length)
{
    kelbsim::PlantReceive(static_cast<kelbsim::Plant *>(plant), packet, length);
}
void KelbPlantBlock(void *plant, unsigned char *block)
{
    kelbsim::PlantBlock(static_cast<kelbsim::Plant *>(plant), block);
}
}

void *operator new(size_t size) { return KelbPoolAlloc(size); }
void operator delete(void *block) noexcept { KelbPoolFree(block); }
void operator delete(void *block, size_t) noexcept { KelbPoolFree(block); }

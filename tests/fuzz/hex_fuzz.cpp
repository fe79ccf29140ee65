// The firmware file reader and FX2Download on a virtual FX2: the input is the
// file.  No write may reach outside the chip's 64 KB, the chip's memory must
// hold exactly what the accepted requests wrote, a download that succeeds
// begins and ends with CPUCS, and the chip's handle is given back either way.
#include <libusb.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzbus.h"
#include "usb/linux/fx2load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FreshBus();
    int fx2 = kelbsim::AddFX2();
    // What the chip's memory must hold: as it came, plus each accepted write.
    static std::array<uint8_t, kelbsim::kFX2MemorySize> image;
    image = kelbsim::FindDevice(fx2)->memory;

    libusb_context *context = nullptr;
    FUZZ_CHECK(libusb_init(&context) == 0);
    libusb_device **list = nullptr;
    FUZZ_CHECK(libusb_get_device_list(context, &list) == 1);
    libusb_device_handle *handle = nullptr;
    FUZZ_CHECK(libusb_open(list[0], &handle) == 0);
    libusb_free_device_list(list, 1);
    FUZZ_CHECK(libusb_claim_interface(handle, 0) == 0);

    // A copy of exactly `size` bytes, so a read past the file's end shows.
    std::vector<uint8_t> text(data, data + size);
    FILE *stream = size > 0 ? fmemopen(text.data(), size, "rb") : std::fopen("/dev/null", "rb");
    FUZZ_CHECK(stream != nullptr);
    int lastType = 0;
    bool programmed = FX2Download(handle, stream, &lastType);
    std::fclose(stream);

    kelbsim::Counts alive = kelbsim::Alive();
    FUZZ_CHECK(alive.handles == 0 && alive.claims == 0);
    FUZZ_CHECK(alive.misuse == 0);

    std::vector<kelbsim::Call> writes = kelbsim::Calls("libusb_control_transfer");
    for (const kelbsim::Call &c : writes) {
        FUZZ_CHECK(c.requestType == 0x40 && c.request == 0xA0);
        // Every address a record can carry fits in wValue.
        FUZZ_CHECK(c.index == 0);
        FUZZ_CHECK(c.length > 0);
        if (c.result != c.length) continue;
        FUZZ_CHECK(c.value + c.length <= 0x10000);
        std::memcpy(&image[static_cast<size_t>(c.value)], c.data.data(), static_cast<size_t>(c.length));
    }
    FUZZ_CHECK(image == kelbsim::FindDevice(fx2)->memory);

    auto isCpucs = [](const kelbsim::Call &c, uint8_t value) {
        return c.value == 0xE600 && c.length == 1 && c.data.size() == 1 && c.data[0] == value;
    };
    if (programmed) {
        // A file in which no record can even begin is no firmware.
        FUZZ_CHECK(std::memchr(data, ':', size) != nullptr);
        FUZZ_CHECK(writes.size() >= 2 && isCpucs(writes.front(), 1) && isCpucs(writes.back(), 0));
    }
    libusb_exit(context);
    return 0;
}

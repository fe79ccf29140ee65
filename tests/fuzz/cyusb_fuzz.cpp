// The descriptor model and CCyDevice on the simulated CyUSB driver: the input
// gives a raw descriptor set, then up to three devices with arbitrary
// descriptors and strings, descriptors that stall, short answers and queries
// that fail.  Nothing may be read outside what the driver returned, nothing
// may wait forever, and the model holds at most 8 interface objects of at
// most 15 endpoints each.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "fuzzcheck.h"
#include "sim/cyusb/cyusbsim.h"
#include "usb/windows/cydevice.h"
#include "usb/windows/cyusbdriver.h"

namespace {

// Endpoint objects an interface holds; the walk may leave gaps.
int EndpointCount(const CCyInterface &alt) {
    FUZZ_CHECK(alt.EndPoints[0] == nullptr || alt.EndPoints[0]->Address == 0);
    int n = 0;
    for (int i = 1; i < MAX_ENDPOINTS; i++) n += alt.EndPoints[i] != nullptr;
    return n;
}

void CheckConfiguration(const CCyConfiguration &config) {
    FUZZ_CHECK(config.AltInterfaces <= MAX_INTERFACES);
    for (int i = 0; i < MAX_INTERFACES; i++) {
        const CCyInterface *alt = config.Interfaces[i];
        FUZZ_CHECK((alt != nullptr) == (i < config.AltInterfaces));
        if (!alt) continue;
        FUZZ_CHECK(alt->AltSettingCount >= 1 && alt->AltSettingCount <= config.AltInterfaces);
        int endpoints = EndpointCount(*alt);
        FUZZ_CHECK(endpoints <= MAX_ENDPOINTS - 1 && endpoints <= alt->bNumEndpoints);
    }
}

bool TextEnds(const WCHAR *text) {
    for (int i = 0; i < CYNAMELEN; i++)
        if (text[i] == 0) return true;
    return false;
}

// The bound endpoints come from the current alternate setting's table.
void CheckDevice(const CCyDevice &dev) {
    for (const CCyConfiguration *config : dev.Configurations)
        if (config) CheckConfiguration(*config);
    FUZZ_CHECK(TextEnds(dev.Manufacturer) && TextEnds(dev.Product) && TextEnds(dev.SerialNumber));
    FUZZ_CHECK(dev.DeviceName[CYNAMELEN - 1] == 0 && dev.FriendlyName[CYNAMELEN - 1] == 0);
    if (!dev.Endpoints) return;
    FUZZ_CHECK(dev.ConfigIndex < MAX_CONFIGS && dev.Configurations[dev.ConfigIndex]);
    const CCyConfiguration &config = *dev.Configurations[dev.ConfigIndex];
    FUZZ_CHECK(dev.InterfaceIndex < config.AltInterfaces);
    FUZZ_CHECK(dev.Endpoints == config.Interfaces[dev.InterfaceIndex]->EndPoints);
    const CCyUSBEndPoint *bound[] = {dev.BulkInEndpoint,     dev.BulkOutEndpoint,      dev.IsocInEndpoint,
                                     dev.IsocOutEndpoint,    dev.InterruptInEndpoint, dev.InterruptOutEndpoint};
    for (const CCyUSBEndPoint *ep : bound) {
        if (!ep) continue;
        bool listed = false;
        for (int i = 1; i < MAX_ENDPOINTS; i++) listed = listed || dev.Endpoints[i] == ep;
        FUZZ_CHECK(listed);
    }
}

std::vector<uint8_t> Bytes(FuzzedDataProvider &in, size_t most) {
    return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, most));
}

// A board's descriptors with some parts replaced by the input's bytes.
cyusbsim::Device MakeDevice(FuzzedDataProvider &in, int n) {
    cyusbsim::Device d = cyusbsim::Board(n == 0 ? "KELBIO TIRK board (0.0)" : "Board", -1);
    uint8_t parts = in.ConsumeIntegral<uint8_t>();
    if (parts & 1) d.DeviceDescriptor = Bytes(in, 24);
    if (parts & 2) {
        d.Configs.clear();
        for (int k = in.ConsumeIntegralInRange(0, 3); k > 0; k--) d.Configs.push_back(Bytes(in, 400));
    }
    if (parts & 4) {
        for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; k--)
            d.Strings[in.ConsumeIntegralInRange<uint8_t>(0, 4)] = Bytes(in, 300);
    }
    if (parts & 8) {
        static constexpr uint16_t kValues[] = {0x0100, 0x0200, 0x0201, 0x0300, 0x0301, 0x0302, 0x0303};
        for (int k = in.ConsumeIntegralInRange(0, 3); k > 0; k--)
            d.FailingDescriptors.insert(in.PickValueInArray(kValues));
    }
    if (parts & 16) {
        static constexpr DWORD kCodes[] = {CYIOCTL_DRIVER_VERSION, CYIOCTL_USBDI_VERSION, CYIOCTL_GET_ALT_SETTING,
                                           CYIOCTL_GET_ADDRESS,    CYIOCTL_DEVICE_NAME,   CYIOCTL_FRIENDLY_NAME,
                                           CYIOCTL_BUS_SPEED};
        for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; k--) {
            DWORD code = in.PickValueInArray(kCodes);
            (in.ConsumeBool() ? d.FailingCodes : d.EmptyCodes).insert(code);
        }
    }
    if (parts & 32) {
        d.DriverVersion = in.ConsumeIntegral<uint32_t>();
        d.AltSetting = in.ConsumeIntegral<uint8_t>();
        d.DeviceName = in.ConsumeRandomLengthString(300);
    }
    if (parts & 64) d.FailCreateFile = true;
    return d;
}

// Control transfers that end late or short; the driver's own time limit
// ends every one, so none is scripted to stay pending.
void ScriptControl(FuzzedDataProvider &in, int index) {
    for (int k = in.ConsumeIntegralInRange(0, 3); k > 0; k--) {
        cyusbsim::Outcome o;
        o.When = in.ConsumeBool() ? cyusbsim::Completion::Now : cyusbsim::Completion::Later;
        o.DelayMs = in.ConsumeIntegralInRange<uint32_t>(0, 6000);
        o.Bytes = in.ConsumeIntegralInRange<int32_t>(-1, 300);
        if (in.ConsumeBool()) o.Error = in.ConsumeIntegralInRange<DWORD>(1, 1200);
        cyusbsim::Script(index, 0, o);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    cyusbsim::Reset();

    // A descriptor set on its own, in a buffer of exactly its size.
    std::vector<uint8_t> set = Bytes(in, 512);
    {
        CCyConfiguration config(set.empty() ? nullptr : set.data(), set.size(), INVALID_HANDLE_VALUE);
        CheckConfiguration(config);
    }

    int devices = in.ConsumeIntegralInRange(1, 3);
    for (int n = 0; n < devices; n++) {
        cyusbsim::AddDevice(MakeDevice(in, n));
        ScriptControl(in, n);
    }
    if (in.ConsumeBool()) cyusbsim::Faults().CloseHandle = true;

    {
        CCyDevice dev(nullptr, CYUSB_INTERFACE_GUID, false);
        int count = dev.CountDevices();
        FUZZ_CHECK(count == devices);
        if (in.ConsumeBool()) cyusbsim::Unplug(in.ConsumeIntegralInRange(0, devices - 1));
        for (int i = 0; i <= count; i++) {
            // A close that fails leaves the handle as it was; the next open tries again.
            const char *closeFailure = nullptr;
            dev.OpenDevice(static_cast<uint8_t>(i), &closeFailure);
            CheckDevice(dev);
            if (closeFailure == nullptr && dev.IsOpen()) {
                dev.SelectAltSetting(in.ConsumeIntegral<uint8_t>());
                CheckDevice(dev);
                dev.SelectConfig(in.ConsumeIntegral<uint8_t>());
                CheckDevice(dev);
            }
            dev.CloseDevice();
            CheckDevice(dev);
        }
        dev.CloseDevice();
    }
    const cyusbsim::Counters &stats = cyusbsim::Stats();
    FUZZ_CHECK(stats.Hangs == 0);
    FUZZ_CHECK(stats.PendingRequests == 0);
    FUZZ_CHECK(stats.OpenDevInfo == 0);
    if (!cyusbsim::Faults().CloseHandle) FUZZ_CHECK(stats.OpenFiles == 0);
    return 0;
}

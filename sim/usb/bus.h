// SPDX-License-Identifier: MIT
// Inside the virtual bus: the devices, the objects libusb hands out, the log.
#ifndef KELBSIM_BUS_H
#define KELBSIM_BUS_H

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/plant/plant.h"
#include "sim/usb/kelbsim.h"

// The objects libusb hands out.  They live until Reset, marked dead when the
// product lets go of them, so a stale pointer is caught rather than reused.
struct libusb_context {
    bool alive = true;
    uint64_t bornMs = 0;  // bus time of libusb_init
    int firstNewId = 0;   // devices from this bus id on came while it lived
};
struct libusb_device {
    int id = 0;
    int refs = 0;
};
struct libusb_device_handle {
    int device = 0;
    bool open = true;
    std::vector<int> claimed;
};

namespace kelbsim {

constexpr int kFX2MemorySize = 0x10000;
// The log and each board's received packets keep at least this many of their
// most recent entries and at most twice as many, so that hours of traffic on
// the run-time library take no more memory than the first minute.
constexpr size_t kRecentKept = 4096;

template <typename T>
void KeepRecent(std::vector<T> *records, T entry) {
    if (records->size() >= 2 * kRecentKept) {
        records->erase(records->begin(), records->end() - static_cast<std::ptrdiff_t>(kRecentKept));
    }
    records->push_back(std::move(entry));
}
constexpr unsigned int kCPUCS = 0xE600;

// What a device shows on the bus: its descriptors, reduced to what is used.
struct Identity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint8_t iManufacturer = 0;
    uint8_t iProduct = 0;
    std::vector<std::string> strings;         // by index; [0] is the language list
    std::vector<int> interfaces;               // interface numbers
    std::vector<unsigned char> endpoints;      // endpoint addresses
};

struct Device {
    int id = 0;
    Identity identity;
    bool fx2 = false;                // an un-programmed chip with its loader
    std::array<uint8_t, kFX2MemorySize> memory{};
    bool cpuReset = true;
    bool present = true;
    uint64_t appearsAt = 0;          // bus time (ms) from which lists show it
    int model = kNoModel;
    bool silent = false;
    std::unique_ptr<Plant, void (*)(Plant *)> plant{nullptr, PlantDestroy};
    std::deque<uint8_t> input;       // bulk IN stream: blocks a test queued
    std::array<uint8_t, kInputBlockSize> block{};  // then the plant's, in place
    int blockAt = 0, blockEnd = 0;
    double lastBlockAt = -1;         // s on the steady clock; KELBSIM_CLOCK=wall only
    std::vector<std::vector<uint8_t>> received;
    libusb_device usb;               // the object lists hand out
};

struct DeviceList {
    std::vector<libusb_device *> entries;  // null-terminated
    bool alive = true;
};

struct Bus {
    std::vector<std::unique_ptr<Device>> devices;  // bus order, gone ones included
    std::vector<Call> log;
    std::vector<Fault> faults;
    std::vector<unsigned int> sleeps;
    uint64_t virtualMs = 0;
    unsigned int reenumDelayMs = 1000;
    int nextId = 1;
    int misuse = 0;
    bool wallClock = false;          // plants follow the host's clock (KELBSIM_CLOCK=wall)
    std::vector<std::unique_ptr<libusb_context>> contexts;
    std::vector<std::unique_ptr<libusb_device_handle>> handles;
    std::vector<std::unique_ptr<DeviceList>> lists;
};

Bus &TheBus();
Device *FindDevice(int id);
uint64_t NowMs();

// Appends to the log while one is kept (KeepLog), and to KELBSIM_LOG when it
// is set.  Logging() says whether either is wanted, so that a call nobody
// reads back builds no entry.
void Record(const Call &call);
bool Logging();

// The fault that fires for this call, if one does: its code is returned
// through *fault.  Unplugs the device when the fault says so.
bool FaultFires(Op op, int device, Fault *fault);
// A fault that fires with a nonzero code, which the call returns.  One with
// code 0 still fires (and unplugs), and the call then does what it would do.
bool FaultFails(Op op, int device, int *code);

// A programmed board described by its identity, placed at `position` in the
// bus order (or at the end).
Device *AddDevice(Identity identity, int model, bool silent, size_t position);

// FX2 loader: an 0xA0 write or read of FX2 memory.  Returns bytes moved or a
// libusb error.
int FX2Load(Device *dev, bool toDevice, unsigned int address, unsigned char *data, int length);

// The board's side of transfers, whatever API carries them.
// BoardBulk: the bytes a bulk transfer of `length` bytes moves, with the
// fault that fires for it or null: OUT packets go to the board, IN packets
// come from its stream (a short one loses its tail); a silent board gives
// nothing.  The caller says what the transfer returns.
// BoardControl: a control request (the FX2 loader's 0xA0, or a stall);
// returns bytes moved or a libusb error.
int BoardBulk(Device *dev, bool in, uint8_t *data, int length, const Fault *fault);
int BoardControl(Device *dev, uint8_t requestType, uint8_t request, uint16_t value,
                 uint16_t index, unsigned char *data, uint16_t length);

// What a front end that carries setup packets (sim/umock, sim/usbip) answers
// for the standard requests: the device descriptor; configuration 1 with
// every endpoint on the first interface (bulk, 512 bytes); string descriptor
// `index`, 0 being the language list (found false when the device has none).
std::vector<uint8_t> DeviceDescriptor(const Identity &id);
std::vector<uint8_t> ConfigDescriptor(const Identity &id);
std::vector<uint8_t> StringOfIndex(const Identity &id, int index, bool *found);
// The status the kernel gives a URB that libusb then reports as `code`.
int UrbStatus(int code);

// Reads the descriptors that firmware in `memory` would present; false when
// there is no device descriptor.
bool ImageIdentity(const std::array<uint8_t, kFX2MemorySize> &memory, Identity *identity);

// A string descriptor for text of ASCII characters (at most 126 are kept).
std::vector<uint8_t> StringDescriptor(const std::string &text);

// The model N of a product string that ends in "(0.N)", or kNoModel.
int ModelOfProduct(const std::string &product);

// Adds the boards and scripts the faults that KELBSIM_BOARDS and
// KELBSIM_FAULTS would name (kelbsim.h); false when an entry is not
// understood (the others still apply); `problems` gets one line of text for
// each such entry, naming the words that are understood.
bool Configure(const char *boards, const char *faults, std::string *problems = nullptr);
// Configure from the environment, once per process.
void ConfigureFromEnvironment();

}  // namespace kelbsim

#endif

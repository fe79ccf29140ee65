// SPDX-License-Identifier: MIT
// The virtual USB bus: a stand-in for libusb-1.0 with virtual boards on it.
//
// It exports the libusb-1.0 calls the Linux transport makes (libusb_init,
// libusb_exit, libusb_get_device_list, libusb_free_device_list,
// libusb_get_device_descriptor, libusb_open, libusb_close,
// libusb_claim_interface, libusb_release_interface,
// libusb_get_string_descriptor_ascii, libusb_control_transfer,
// libusb_bulk_transfer, libusb_error_name, and a few neighbours), with the
// signatures of the real <libusb.h>.  It comes in two builds:
//
// * kelbsim_usb, a static library for test executables.  Link it with
//   kelbsim_usb_link(<target>) (sim/usb/CMakeLists.txt): that pulls in every
//   libusb symbol and exports them from the executable, so a kelbio module
//   loaded with dlopen binds its libusb calls to this bus, not the real
//   library.  It also links a sleep() of the test's own that records the
//   pause and moves the bus clock on instead of waiting.  Tests drive the bus
//   through the functions below.
//
// * libusb-1.0.so.0 (target kelbsim_libusb, in <build>/kelbsim/), which
//   replaces the real library at run time:
//       LD_LIBRARY_PATH=<build>/kelbsim octave-cli ...
//   It takes its boards from the environment when the first context is made:
//     KELBSIM_BOARDS  entries separated by ';', in bus order.  Each entry is a
//                     model name (TIRK, SORVANDEL, FELDAR, MORSIVAN,
//                     GASPILODEN; any case) for a programmed board of that
//                     model, optionally followed by '=' and its product string
//                     (default "KELBIO <MODEL> board (0.N)"); or FX2 for an
//                     un-programmed chip (04B4:8613), which the product
//                     programs from ZARVUSB_HEX_FILE.
//                     Example: KELBSIM_BOARDS='FX2;FELDAR;TIRK=Lab rig 2 (0.0)'
//     KELBSIM_FAULTS  faults separated by ';', each
//                       <op>:<device>:<code>[:<skip>[:<times>[:<transferred>[:unplug]]]]
//                     with the fields of Fault below: op by its name in Op
//                     (any case); device by its place in KELBSIM_BOARDS
//                     counting from 1 (0: any), and a chip that comes back
//                     programmed counts on from the last (the first such is
//                     n + 1 for n boards); code a number or a libusb error
//                     name.
//                     Example: KELBSIM_FAULTS='BulkIn:2:LIBUSB_ERROR_TIMEOUT:0:-1'
//                     (every read of the second board times out).
//     KELBSIM_CLOCK   wall: each board's plant runs on the host's clock, so
//                     a block covers the time since the board's previous
//                     block and its elapsed-time field says how long (a paced
//                     loop then sees real board time).  Unset: every block is
//                     one 100 us sample, however fast the host reads.
//     KELBSIM_LOG     a file to which every call is appended as one line of
//                     text (see Describe), so scripts can check the wire.
//   Entries that cannot be used are reported once on stderr.
//   Boards and their state last as long as the process; the log and the
//   packets each board took are kept for the most recent 4096 entries at
//   least, so memory stays flat however long the process drives the boards.
//
// The boards.  A programmed board has interface 0 with bulk OUT 0x02 and bulk
// IN 0x86.  Packets written to 0x02 go to the board's plant model
// (sim/plant); a bulk IN transfer of n bytes takes the next n bytes of the
// board's input stream, which holds the blocks a test queued and, when those
// run out, the plant's next 32-byte block.  An un-programmed FX2 takes vendor
// request 0xA0 writes (and reads) into its 64 KB memory; CPUCS (0xE600) bit 0
// holds its CPU in reset.  When the CPU is released and the memory holds a
// USB device descriptor followed by its configuration and string
// descriptors, the chip leaves the bus at once and, one second later on the
// bus clock (SetReenumDelay), a new device with those descriptors takes its
// place in the list; its plant model follows from the tag "(0.N)" that ends
// its product string.  FirmwareHex makes such an image.
//
// Time.  The bus clock is the process's monotonic clock plus every Sleep.
// A read from a board that never answers moves the clock on by its time
// limit and fails with LIBUSB_ERROR_TIMEOUT at once.
#ifndef KELBSIM_H
#define KELBSIM_H

#include <libusb.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelbsim {

constexpr int kNoModel = -1;

struct BoardSetup {
    int model = 0;            // plant model: 0 TIRK .. 4 GASPILODEN; kNoModel for none
    std::string product;      // empty: "KELBIO <MODEL> board (0.N)"
    bool hasProduct = true;   // false: iProduct is 0, so the board has no product string
    uint16_t vendorId = 0x1209;
    uint16_t productId = 0x0001;
    bool silent = false;      // never answers on bulk IN
};

// Each call adds a device at the end of the bus and returns its id (ids start
// at 1 and are never reused).
int AddBoard(const BoardSetup &setup);
int AddBoard(int model);
int AddFX2();

// The device leaves the bus: lists no longer show it, and every call on a
// handle to it fails with LIBUSB_ERROR_NO_DEVICE.
void Unplug(int device);

// Ids of the devices a device list would show now, in list order.
std::vector<int> Devices();
bool Present(int device);
std::string Product(int device);  // "" when it has none
int Model(int device);
uint16_t VendorId(int device);
uint16_t ProductId(int device);

// An FX2's memory and whether its CPU is held in reset.
std::vector<uint8_t> Memory(int device);
bool CpuInReset(int device);

// Bytes for the device's bulk IN stream, ahead of the plant's blocks.
void QueueInput(int device, const std::vector<uint8_t> &bytes);
// The packets the board took on bulk OUT, in order (the most recent ones; see
// Log).
std::vector<std::vector<uint8_t>> Received(int device);

// Scripted faults.  A fault matches calls of one kind, on one device (0: any
// device), lets `skip` matching calls pass, then fires on the next `times`
// (-1: every one after).  Firing, the call returns `code`; for transfers,
// `transferred` bytes still move (part of a packet before a time-out, or a
// short transfer with code 0).  Any other call given code 0 does what it would
// have done (a list: one without devices).  With `unplug` the device leaves
// the bus first.
enum class Op {
    Init,        // libusb_init
    List,        // libusb_get_device_list (code is the negative count)
    Descriptor,  // libusb_get_device_descriptor
    Open,        // libusb_open (LIBUSB_ERROR_ACCESS: as for missing permissions)
    Claim,       // libusb_claim_interface
    Release,     // libusb_release_interface
    String,      // libusb_get_string_descriptor_ascii
    Control,     // libusb_control_transfer
    BulkOut,     // libusb_bulk_transfer to an OUT endpoint
    BulkIn,      // libusb_bulk_transfer from an IN endpoint
};

struct Fault {
    Op op = Op::BulkIn;
    int device = 0;
    int code = LIBUSB_ERROR_IO;
    int skip = 0;
    int times = 1;
    int transferred = 0;
    bool unplug = false;
};

void Script(const Fault &fault);

// One logged call.  Fields a call does not have stay 0 or empty.
struct Call {
    std::string fn;            // "libusb_bulk_transfer", ..., or "sleep"
    int device = 0;            // bus id of the device concerned
    int iface = 0;             // claim, release
    int endpoint = 0;          // bulk
    int requestType = 0;       // control: the setup packet
    int request = 0;
    int value = 0;
    int index = 0;             // control wIndex; string descriptor index
    int length = 0;            // asked length; seconds for sleep
    unsigned int timeout = 0;  // ms
    std::vector<uint8_t> data; // bytes that crossed, either way
    std::string text;          // string descriptor read
    int result = 0;            // what the call returned
    int transferred = 0;       // bulk: the count handed back
    bool forever = false;      // bulk IN with no time limit on a silent board
};

// The calls since Reset or ClearLog: at least the most recent 4096, at most
// twice as many.
const std::vector<Call> &Log();
// Whether the log above and each board's received packets are kept: on in
// the library tests link (kelbsim_usb), off in the run-time libusb-1.0.so.0
// and the other front ends, where nothing reads them in-process (KELBSIM_LOG
// still gets every line).  Reset does not change it.
void KeepLog(bool on);
std::vector<Call> Calls(const std::string &fn);  // the log entries of one function
void ClearLog();
std::string Describe(const Call &call);          // one line of text

// Objects the product holds.  `misuse` counts calls on closed handles,
// exited contexts or freed lists, and a second free or close.
struct Counts {
    int contexts = 0;
    int handles = 0;
    int lists = 0;
    int deviceRefs = 0;  // references held through lists not yet unreferenced
    int claims = 0;      // interfaces claimed on open handles
    int misuse = 0;
};
Counts Alive();

void Sleep(unsigned int seconds);        // the bus clock moves on; logged as "sleep"
std::vector<unsigned int> SleepCalls();  // every Sleep since Reset, in order
void SetReenumDelay(unsigned int ms);

// Removes every device, fault, log entry and count; the clock goes on.
// Objects the product still holds die: calls on them count as misuse.
void Reset();

// Firmware for the virtual FX2, as Intel HEX text: a code stub at 0x0000 and,
// at 0x0100, a device descriptor with these ids, a configuration with
// interface 0 and bulk endpoints 0x02 and 0x86, and the string descriptors
// (manufacturer, product).  Data records of 16 bytes, then an end record.
std::string FirmwareHex(const std::string &product, uint16_t vendorId = 0x1209,
                        uint16_t productId = 0x0001);
// The default product string of a model: "KELBIO FELDAR board (0.2)".
std::string DefaultProduct(int model);

}  // namespace kelbsim

#endif

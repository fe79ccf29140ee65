// The virtual boards of sim/usb served to the real libusb-1.0 through
// umockdev: kelbsim-umock builds an emulated sysfs and usbfs from the same
// KELBSIM_BOARDS and KELBSIM_FAULTS words as the stand-in (sim/usb/kelbsim.h)
// and runs a program under umockdev's preload, so that program's own libusb
// finds the boards:
//     kelbsim-umock octave-cli -q -f -H -W --eval '...'
// It exits with the program's status (128 + n when signal n ended it).
//
// The real libusb reaches the boards only through the kernel's interface, so
// the words mean what the kernel can show: Claim and Release faults fail the
// ioctl; Control, String, BulkOut and BulkIn faults end the URB with the
// status that libusb turns into the code.  A time-out fault leaves the URB
// pending until libusb gives up on it (its own time limit, with the fault's
// `transferred` bytes moved); a bulk fault with `unplug` holds the URB for
// kUnplugHoldMs and then the board leaves the bus with the URB still pending.
// Init, List, Descriptor and Open happen in libusb or sysfs and cannot fail
// here.  A board that is `silent` never completes a bulk IN URB.
//
// Devices are bus 1, device number = the bus id; an FX2 released from reset
// leaves the bus (a "remove" uevent) and its board comes back under the next
// number after the bus's re-enumeration delay.  SIGUSR1 to kelbsim-umock
// plugs in one more TIRK board (an "add" uevent), so a test can cause a USB
// event at a moment of its choice.  KELBSIM_LOG gets one line per URB or
// claim (usbfs_bulk, usbfs_control, usbfs_claim, usbfs_release).
#ifndef KELBSIM_UMOCK_H
#define KELBSIM_UMOCK_H

#include <umockdev.h>

#include <mutex>

namespace kelbsim {

constexpr unsigned int kUnplugHoldMs = 300;

// Guards the bus: the ioctl handlers run on umockdev's worker thread.
std::mutex &BusLock();

// Makes `handler` answer the usbfs ioctls of bus device `device`.
void ServeUsbfs(UMockdevIoctlBase *handler, int device);

// Asks the main loop to bring the emulated sysfs in line with the bus
// (boards that left or arrived).  Safe from any thread.
void RequestSync();

}  // namespace kelbsim

#endif

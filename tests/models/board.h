// A MATLAB session with virtual boards on the bus: the built plug-in loaded
// into the stand-in host, its libusb calls served by the virtual bus.
#ifndef KELB_TESTS_BOARD_H
#define KELB_TESTS_BOARD_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mexhost.h"
#include "sim/usb/kelbsim.h"

namespace kelbtest {

using Bytes = std::vector<uint8_t>;

enum Model { TIRK = 0, SORVANDEL, FELDAR, MORSIVAN, GASPILODEN };

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Puts a board of the model on the bus, opens "<MODEL>1" on it and
    // returns the port object; the bus log starts empty after it.
    const mxArray *Open(Model model);
    // Changes a parameter of the port through SetParams.
    void SetParam(const char *field, mxArray *value);

    // kelbio('Write', port, values...) with one output; the status, or -1
    // when the call raised an error (then error() holds the message).
    double Write(std::vector<const mxArray *> values);
    // [data, status] = kelbio('Read', port); data is empty when unassigned.
    double Read(std::vector<double> *data);
    // Queues a 32-byte input block for the next read.
    void Queue(const Bytes &block);

    // Payloads of the bulk OUT transfers since the port was opened (or since
    // the last call of this), in order.
    std::vector<Bytes> Sent();
    int BulkInCalls();
    const std::string &error() const { return error_; }

    std::unique_ptr<kelbhost::Module> mex_;
    const mxArray *port_ = nullptr;
    int device_ = 0;
    std::string error_;
};

// An input block with the given bytes from offset 16 on; byte 31 last.
Bytes Block(std::initializer_list<uint8_t> from16);

}  // namespace kelbtest

#endif

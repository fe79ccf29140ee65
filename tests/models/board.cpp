#include "board.h"

#include <cmath>

namespace kelbtest {

namespace {

const char *kPortNames[] = {"TIRK1", "SORVANDEL1", "FELDAR1", "MORSIVAN1", "GASPILODEN1"};

}  // namespace

void BoardTest::SetUp()
{
    kelbhost::Reset();
    kelbsim::Reset();
    mex_ = std::make_unique<kelbhost::Module>();
    ASSERT_TRUE(mex_->Load()) << mex_->LastError();
}

void BoardTest::TearDown()
{
    mex_.reset();  // MATLAB quits: the exit function closes the ports
    EXPECT_EQ(kelbsim::Alive().misuse, 0);
    kelbsim::Reset();
    kelbhost::Reset();
}

const mxArray *BoardTest::Open(Model model)
{
    device_ = kelbsim::AddBoard(model);
    auto r = mex_->Call(1, {kelbhost::Char("Open"), kelbhost::Char(kPortNames[model])});
    EXPECT_FALSE(r.failed) << r.error;
    port_ = r.out[0];
    kelbsim::ClearLog();
    return port_;
}

void BoardTest::SetParam(const char *field, mxArray *value)
{
    kelbhost::SetField(const_cast<mxArray *>(port_), field, value);
    auto r = mex_->Call(1, {kelbhost::Char("SetParams"), port_});
    ASSERT_FALSE(r.failed) << r.error;
    port_ = r.out[0];
    kelbsim::ClearLog();
}

double BoardTest::Write(std::vector<const mxArray *> values)
{
    values.insert(values.begin(), {kelbhost::Char("Write"), port_});
    auto r = mex_->Call(1, values);
    error_ = r.error;
    if (r.failed) return -1;
    EXPECT_NE(r.out[0], nullptr);
    return r.out[0] ? mxGetScalar(r.out[0]) : -1;
}

double BoardTest::Read(std::vector<double> *data)
{
    auto r = mex_->Call(2, {kelbhost::Char("Read"), port_});
    error_ = r.error;
    data->clear();
    if (r.failed) return -1;
    if (r.out[0]) {
        EXPECT_EQ(mxGetN(r.out[0]), 1u);
        const double *pr = mxGetPr(r.out[0]);
        data->assign(pr, pr + mxGetM(r.out[0]));
    }
    return r.out[1] ? mxGetScalar(r.out[1]) : -1;
}

void BoardTest::Queue(const Bytes &block)
{
    kelbsim::QueueInput(device_, block);
}

std::vector<Bytes> BoardTest::Sent()
{
    std::vector<Bytes> out;
    for (const auto &call : kelbsim::Calls("libusb_bulk_transfer"))
        if (call.endpoint == 0x02) out.push_back(call.data);
    return out;
}

int BoardTest::BulkInCalls()
{
    int n = 0;
    for (const auto &call : kelbsim::Calls("libusb_bulk_transfer"))
        if (call.endpoint == 0x86) n++;
    return n;
}

Bytes Block(std::initializer_list<uint8_t> from16)
{
    EXPECT_EQ(from16.size(), 16u) << "a block is given from byte 16 to byte 31";
    Bytes block(32, 0xEE);  // bytes 0 to 15: no model reads them
    size_t at = 16;
    for (uint8_t byte : from16)
        if (at < block.size()) block[at++] = byte;
    return block;
}

}  // namespace kelbtest

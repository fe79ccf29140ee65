// Every model through mexFunction on both transports: the Windows plug-in on
// the simulated CyUSB driver and the Linux plug-in on the virtual libusb bus
// must put the same packets on the wire and return the same columns for the
// same input blocks.
#include <cstdlib>
#include <cstring>
#include <functional>

#include "sim/usb/kelbsim.h"
#include "winport.h"

namespace {

using kelbhost::Char;
using kelbhost::Double;
using kelbhost::Doubles;

struct ModelCase {
    const char *model;
    int row;
    // The inputs after the port of each Write.
    std::function<std::vector<std::vector<const mxArray *>>()> writes;
};

void PrintTo(const ModelCase &c, std::ostream *os) { *os << c.model; }

const ModelCase Cases[] = {
    {"TIRK", 0, [] { return std::vector<std::vector<const mxArray *>>{
                         {Double(0x11), Double(6), Doubles(1, 2, {2.5, -1.25})},
                         {Double(0x02), Double(0), Double(-9.5)}}; }},
    {"SORVANDEL", 1, [] { return std::vector<std::vector<const mxArray *>>{
                              {Double(3), Double(1), Double(-4.0), Double(2.0)}}; }},
    {"FELDAR", 2, [] { return std::vector<std::vector<const mxArray *>>{
                           {Double(5), Double(3), Doubles(1, 2, {1, -1}),
                            Doubles(3, 2, {1, 2, 3, 100, -200, 300})},
                           {Double(4), Double(0), Double(0.25), Doubles(1, 6, {1, 2, 3, 4, 5, 6})}}; }},
    {"MORSIVAN", 3, [] { return std::vector<std::vector<const mxArray *>>{
                             {Double(2), Double(0), Doubles(1, 2, {0.5, 4.5})}}; }},
    {"GASPILODEN", 4, [] { return std::vector<std::vector<const mxArray *>>{
                               {Double(1), Double(1000), Double(0.5), Double(-0.25), Double(0.75)},
                               {Double(0), Double(200), Double(-1), Double(0), Double(1)}}; }},
};

// Two input blocks that move every field of every model's reading.
std::vector<uint8_t> Block(int seed)
{
    std::vector<uint8_t> b(32);
    for (int i = 0; i < 32; ++i) b[i] = static_cast<uint8_t>(seed * 37 + i * 11 + (i * i) % 7);
    return b;
}

struct Session {
    std::vector<double> writeStatus;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<double> readStatus;
    std::vector<std::vector<double>> columns;
};

// Opens the model's first port in a fresh load of the plug-in, writes, then
// reads the two blocks.  sent() gives the packets the board took.
Session Run(const std::string &modulePath, const ModelCase &c,
            const std::function<std::vector<std::vector<uint8_t>>()> &sent)
{
    Session s;
    kelbhost::Module mex(modulePath);
    EXPECT_TRUE(mex.Load()) << mex.LastError();
    if (!mex.Loaded()) return s;
    const std::string name = std::string(c.model) + "1";
    kelbhost::CallResult r = mex.Call(2, {Char("Open"), Char(name)});
    EXPECT_EQ(r.error, "") << modulePath;
    const mxArray *port = r.out[0];
    for (std::vector<const mxArray *> in : c.writes()) {
        in.insert(in.begin(), {Char("Write"), port});
        r = mex.Call(0, in);
        EXPECT_EQ(r.error, "");
        s.writeStatus.push_back(winport::Scalar(r.out[0]));
    }
    for (int i = 0; i < 2; ++i) {
        r = mex.Call(2, {Char("Read"), port});
        EXPECT_EQ(r.error, "");
        s.readStatus.push_back(winport::Scalar(r.out[1]));
        s.columns.push_back(winport::Column(r.out[0]));
    }
    s.packets = sent();
    return s;
}

Session OnWindows(const ModelCase &c, uint32_t driverVersion)
{
    cyusbsim::Reset();
    cyusbsim::Device board = cyusbsim::Board(winport::Product(c.model, c.row), c.row);
    board.DriverVersion = driverVersion;
    int device = cyusbsim::AddDevice(board);
    cyusbsim::QueueInput(device, Block(1));
    cyusbsim::QueueInput(device, Block(2));
    return Run(kelbhost::DefaultModulePath(), c, [device] { return winport::Sent(device); });
}

Session OnLinux(const ModelCase &c)
{
    kelbsim::Reset();
    int device = kelbsim::AddBoard(c.row);
    std::vector<uint8_t> input = Block(1);
    std::vector<uint8_t> second = Block(2);
    input.insert(input.end(), second.begin(), second.end());
    kelbsim::QueueInput(device, input);
    return Run(KELB_LINUX_MODULE, c, [device] { return kelbsim::Received(device); });
}

// Columns compared bit for bit, so NaN equals NaN.
bool SameBits(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

class Transports : public ::testing::TestWithParam<ModelCase> {
protected:
    void SetUp() override
    {
        unsetenv("ZARVUSB_HEX_FILE");
        kelbhost::Reset();
    }
    void TearDown() override { cyusbsim::Reset(); }
};

TEST_P(Transports, SamePacketsAndColumnsAsOnLinux)
{
    const ModelCase &c = GetParam();
    Session linux = OnLinux(c);
    ASSERT_FALSE(linux.packets.empty());
    ASSERT_EQ(linux.columns.size(), 2u);
    ASSERT_FALSE(linux.columns[0].empty());

    // Direct transfers of a current driver, and the buffered ones of an old driver.
    for (uint32_t driverVersion : {0x01060300u, 0x01050400u}) {
        SCOPED_TRACE(driverVersion);
        Session windows = OnWindows(c, driverVersion);
        EXPECT_EQ(windows.writeStatus, linux.writeStatus);
        EXPECT_EQ(windows.packets, linux.packets);
        EXPECT_EQ(windows.readStatus, linux.readStatus);
        ASSERT_EQ(windows.columns.size(), 2u);
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(SameBits(windows.columns[i], linux.columns[i]))
                << "read " << i << ": " << testing::PrintToString(windows.columns[i]) << " vs "
                << testing::PrintToString(linux.columns[i]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, Transports, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<ModelCase> &info) { return std::string(info.param.model); });

}  // namespace

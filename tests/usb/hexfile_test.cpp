// The HEX reader on files alone: what reaches the write function, and how
// the reading ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "usb/linux/hexfile.h"

namespace {

struct Written {
    int address;
    std::vector<unsigned char> data;
    bool operator==(const Written &o) const { return address == o.address && data == o.data; }
};

struct Sink {
    std::vector<Written> records;
    int refuseAt = -1;  // index of the record to refuse
};

int Take(void *target, const HexRecord *record) {
    auto *sink = static_cast<Sink *>(target);
    if (static_cast<int>(sink->records.size()) == sink->refuseAt) return 16;
    sink->records.push_back({record->Address, {record->Data, record->Data + record->ByteCount}});
    return 0;
}

struct Result {
    HexOutcome outcome;
    int lastType;
    std::vector<Written> records;
};

Result Load(const std::string &text, int lastType = 0, int refuseAt = -1) {
    FILE *stream = fmemopen(const_cast<char *>(text.data()), text.size(), "rb");
    if (text.empty()) stream = std::fopen("/dev/null", "rb");
    EXPECT_NE(stream, nullptr);
    Sink sink;
    sink.refuseAt = refuseAt;
    HexOutcome outcome = HexLoad(stream, &lastType, Take, &sink);
    std::fclose(stream);
    return {outcome, lastType, sink.records};
}

const char kTwo[] = ":03010000AABBCC76\n:02E60000010116\n:00000001FF\n";
const std::vector<Written> kTwoRecords = {{0x0100, {0xAA, 0xBB, 0xCC}}, {0xE600, {0x01, 0x01}}};

TEST(HexFile, DataRecordsInFileOrderUntilTheEndRecord) {
    Result r = Load(kTwo);
    EXPECT_EQ(r.outcome, HEX_COMPLETE);
    EXPECT_EQ(r.lastType, 1);
    EXPECT_EQ(r.records, kTwoRecords);
    // Lower-case digits and text after the end record change nothing.
    Result lower = Load(":03010000aabbcc76\n:02e60000010116\n:00000001ff\n:0100000055AA\n");
    EXPECT_EQ(lower.records, kTwoRecords);
}

TEST(HexFile, BlanksBeforeAndBetweenRecordsLoseNothing) {
    for (std::string lead : {"\n", " ", "\r\n\r\n", "\t \n  "}) {
        Result r = Load(lead + kTwo);
        EXPECT_EQ(r.outcome, HEX_COMPLETE) << "lead " << lead.size();
        EXPECT_EQ(r.records, kTwoRecords) << "lead " << lead.size();
    }
    Result between = Load(":03010000AABBCC76\r\n\r\n\n:02E60000010116\r\n:00000001FF\r\n");
    EXPECT_EQ(between.records, kTwoRecords);
}

TEST(HexFile, WordsThatAreNoRecordsAreDropped) {
    Result r = Load("firmware v1.2 built today\n:03010000AABBCC76\n# note\n:00000001FF\n");
    EXPECT_EQ(r.outcome, HEX_COMPLETE);
    EXPECT_EQ(r.records, (std::vector<Written>{{0x0100, {0xAA, 0xBB, 0xCC}}}));
}

TEST(HexFile, AnyNonDataRecordEnds) {
    for (int type = 1; type <= 5; type++) {
        char line[32];
        std::snprintf(line, sizeof line, ":020000%02X000000\n", type);
        Result r = Load(std::string(":0100000011EE\n") + line + ":0100100022CD\n");
        EXPECT_EQ(r.outcome, HEX_COMPLETE) << type;
        EXPECT_EQ(r.lastType, type);
        EXPECT_EQ(r.records.size(), 1u) << type;
    }
}

TEST(HexFile, StopsAfterDataAreIncomplete) {
    EXPECT_EQ(Load("").outcome, HEX_INCOMPLETE);
    EXPECT_EQ(Load(":03010000AABBCC76\n").outcome, HEX_INCOMPLETE);  // no end record
    EXPECT_EQ(Load(":03010000AABB").outcome, HEX_INCOMPLETE);        // cut in the data
    EXPECT_EQ(Load(":03010000AABBCC").outcome, HEX_INCOMPLETE);      // no checksum
    EXPECT_EQ(Load(":0301").outcome, HEX_INCOMPLETE);                // cut in the header
    // 17 data bytes: the rest of the file is not read.
    Result big = Load(":11000000" + std::string(34, '0') + "EF\n:00000001FF\n");
    EXPECT_EQ(big.outcome, HEX_INCOMPLETE);
    EXPECT_TRUE(big.records.empty());
    // A signed count is no count, and a signed address no address.
    for (const char *line : {":-1000000FF\n", ":1-10000410\n"}) {
        Result neg = Load(std::string(line) + ":00000001FF\n");
        EXPECT_EQ(neg.outcome, HEX_INCOMPLETE) << line;
        EXPECT_TRUE(neg.records.empty()) << line;
    }
}

TEST(HexFile, OversizedRecordOfAnotherTypeStillEndsAsComplete) {
    // Its type was read before the count was refused.
    Result r = Load(":11000001" + std::string(34, '0') + "EE\n");
    EXPECT_EQ(r.outcome, HEX_COMPLETE);
}

TEST(HexFile, LastTypeCarriesOverFromAnEarlierFile) {
    EXPECT_EQ(Load("", 1).outcome, HEX_COMPLETE);
    EXPECT_EQ(Load("", 0).outcome, HEX_INCOMPLETE);
}

TEST(HexFile, RefusedWriteStopsAtOnce) {
    Result r = Load(kTwo, 0, 1);
    EXPECT_EQ(r.outcome, HEX_WRITE_FAILED);
    EXPECT_EQ(r.records.size(), 1u);
}

TEST(HexFile, ZeroLengthDataRecordIsHandedOn) {
    Result r = Load(":00012300DC\n:00000001FF\n");
    EXPECT_EQ(r.records, (std::vector<Written>{{0x0123, {}}}));
}

TEST(FirmwareStream, NamedByTheEnvironment) {
    unsetenv("ZARVUSB_HEX_FILE");
    EXPECT_EQ(FirmwareOpen(), nullptr);
    setenv("ZARVUSB_HEX_FILE", (::testing::TempDir() + "kelb-no-such.hex").c_str(), 1);
    EXPECT_EQ(FirmwareOpen(), nullptr);
    std::string path = ::testing::TempDir() + "kelb-stream-" + std::to_string(getpid()) + ".hex";
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(kTwo, f);
    std::fclose(f);
    setenv("ZARVUSB_HEX_FILE", path.c_str(), 1);
    FILE *stream = FirmwareOpen();
    ASSERT_NE(stream, nullptr);
    int lastType = 0;
    Sink sink;
    EXPECT_EQ(HexLoad(stream, &lastType, Take, &sink), HEX_COMPLETE);
    EXPECT_EQ(sink.records, kTwoRecords);
    std::fclose(stream);
    std::remove(path.c_str());
    unsetenv("ZARVUSB_HEX_FILE");
}

}  // namespace

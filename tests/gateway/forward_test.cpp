// Read, Write and Help on records the model table cannot produce: a port
// without routines.  The forwarding source runs here without the module.
#include <gtest/gtest.h>

#include <cstring>

#include "handlers.h"
#include "mexhost.h"

namespace {

KELBstruct Record(const char *name) {
    KELBstruct port;
    std::memset(&port, 0, sizeof port);
    std::strcpy(port.Name, name);
    port.Handle = KELBnotOpen();
    return port;
}

int32_t Answer42(KELBstruct *, int nlhs, mxArray *plhs[], int, const mxArray *[]) {
    if (nlhs > 0) plhs[0] = kelbhost::Double(7);
    return 42;
}

TEST(Forward, HelpWithoutARoutineIsAnError) {
    kelbhost::Reset();
    KELBstruct port = Record("tirk7");
    try {
        Help(&port, 0, nullptr, 0, nullptr);
        FAIL() << "Help returned";
    } catch (const kelbhost::MexError &e) {
        EXPECT_STREQ(e.what(), "No help available for tirk7");
    }
}

TEST(Forward, ReadAndWriteRunTheRoutineOnlyOnAnOpenPort) {
    kelbhost::Reset();
    KELBstruct port = Record("tirk7");
    mxArray *out[1] = {nullptr};
    EXPECT_EQ(Read(&port, 1, out, 0, nullptr), 1);
    EXPECT_EQ(Write(&port, 1, out, 0, nullptr), 1);

    port.ReadFcn = Answer42;
    port.WriteFcn = Answer42;
    port.HelpFcn = Answer42;
    EXPECT_EQ(Read(&port, 1, out, 0, nullptr), 1);  // routines set, port closed
    EXPECT_EQ(out[0], nullptr);
    EXPECT_EQ(Help(&port, 1, out, 0, nullptr), 42);  // help does not care

    int board = 0;
    port.Handle = reinterpret_cast<KELBhandle>(&board);
    out[0] = nullptr;
    EXPECT_EQ(Read(&port, 1, out, 0, nullptr), 42);
    EXPECT_NE(out[0], nullptr);
    EXPECT_EQ(Write(&port, 1, out, 0, nullptr), 42);
    port.ReadFcn = nullptr;
    port.WriteFcn = nullptr;
    EXPECT_EQ(Read(&port, 1, out, 0, nullptr), 1);
    EXPECT_EQ(Write(&port, 1, out, 0, nullptr), 1);
}

}  // namespace

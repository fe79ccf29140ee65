// Help texts, shown as warnings exactly as the models word them.
#include <numeric>

#include "gateway_test.h"

using namespace gwtest;

namespace {

std::string Lines(const std::vector<std::string> &lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
    return text;
}

using Help = Gateway;

TEST_F(Help, EachModelShowsItsTextAsOneWarning) {
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"tirk1",
         Lines({"TIRK help:", "    Write: command, digitalout, [dac1( dac2)]",
                "    Read:  [status elapsedtime position speed motorcurrent motorvoltage externvoltage digitalin "
                "averagespeed]"})},
        {"Feldar2",
         Lines({"Feldar help:",
                "    Write: command, digitalout, [dac1(, dac2)], [a1 s1; a2 s2; a3 s3; ... a8 s8] or",
                "           command, digitalout, [dac1(, dac2)], [s1 s2 s3 s4 ... s8]",
                "    Read:  [status elapsedtime position1 position2 motorcurrent motorvoltage externalvoltage "
                "digitalin averagespeed1 averagespeed2]"})},
        {"MORSIVAN3",
         Lines({"Morsivan help:", "    Write: command digitalout dac1(, dac2)",
                "    Read:  [status elapsedtime position1 position2 motorcurrent beamvoltage morsivanvoltage "
                "digitalin]"})},
        {"gaspiloden1",
         Lines({"Korvu Statue help:", "    Write: command",
                "    Read:  [status position1 position2 position3 position4 position5 position6]"})},
    };
    for (const auto &[name, text] : texts) {
        kelbhost::CallResult r = Call(0, {Char("Help"), Char(name)});
        ASSERT_FALSE(r.failed) << r.error;
        EXPECT_EQ(r.warnings, std::vector<std::string>{text}) << name;
        EXPECT_EQ(r.printed, "");
        EXPECT_EQ(r.out[0], nullptr);
    }
}

TEST_F(Help, SorvandelShowsNothingAndHelpOpensNoBoard) {
    kelbhost::CallResult r = Call(0, {Char("Help"), Char("sorvandel1")});
    ASSERT_FALSE(r.failed) << r.error;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(kelbhost::LockCount(), 0);
    EXPECT_EQ(Slot(Call(2, {Char("GetParams"), Char("SORVANDEL1")}), 2), 1);  // registered, not open

    // By object as well as by name.
    kelbhost::CallResult byObject = Call(0, {Char("Help"), Object("TIRK2")});
    ASSERT_FALSE(byObject.failed) << byObject.error;
    ASSERT_EQ(byObject.warnings.size(), 1u);
    EXPECT_EQ(byObject.warnings[0].substr(0, 11), "TIRK help:\n");
}

}  // namespace

#include <gtest/gtest.h>

#include "config/configuration_files.h"
#include "support/test_support.h"
#include "shared/key_info.h"

namespace kel {
namespace {

constexpr const char* kRelkey =
    "title Options\n"
    "owner SEROP\n"
    "grp1 \"Axes\"\n"
    "grp1 1,1 \"A1\" void\n"
    "grp1 1,1 \"A2\" a2.dat &Sub1\n"
    "grp1 1,1 \"A3\" void\n"
    "grp1 1,1 \"A4\" void\n"
    "\n"
    "grp2 0,n \"M1\" void\n"
    "grp2 0,n \"M2\" void &Sub2\n"
    "grp2 0,n \"M3\" void\n"
    "grp2 0,n \"M4 %\" void\n"
    "\n"
    "grp3 1,1 \"L1\" void\n"
    "grp3 1,1 \"L2\" void\n"
    "\n"
    "end\n"
    "&Sub1\n"
    "grp4 0,n \"S1a\" void\n"
    "grp4 0,n \"S1b\" void &Sub3\n"
    "\n"
    "&Sub2\n"
    "grp5 1,1 \"S2a\" void\n"
    "grp5 1,1 \"S2b\" void\n"
    "\n"
    "&Sub3\n"
    "grp6 0,1 \"S3a\" void\n"
    "grp6 0,1 \"S3b\" void\n"
    "\n";

class OptionString : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::WriteAll(dir_ / u"relkey.opt", kRelkey)); }

    std::string Make(std::deque<WString> selections, uint16_t driveModule = 0) {
        CKeyInfo key;
        key.SetDriveModuleNr(driveModule);
        WString out = u"unset";
        EXPECT_EQ(files_.MakeOptionString(dir_ / u"relkey.opt", key, selections, out), 0);
        EXPECT_TRUE(selections.empty());
        return test::N(out);
    }

    test::TempDir dir_;
    CConfigurationFiles files_;
};

TEST_F(OptionString, GroupKindsAndHiddenSelections) {
    // Node order: grp1 and the sub group its choice opens, then grp2 and Sub2.
    EXPECT_EQ(Make({u"A3"}), "001");
    EXPECT_EQ(Make({u";A3"}), "002");
    EXPECT_EQ(Make({u"M2"}), "0000" "0100" "00");
    EXPECT_EQ(Make({u"M2", u";M4 0"}), "0000" "0102" "00");
    EXPECT_EQ(Make({}), "");
    // The same object builds again from scratch.
    EXPECT_EQ(Make({u"A1"}), "1");
}

TEST_F(OptionString, SubGroupSelections) {
    EXPECT_EQ(Make({u"A2"}), "01" "00");
    EXPECT_EQ(Make({u"A2", u"Sub1:S1b", u"Sub3:;S3b", u"M2", u"Sub2:S2b", u"M3"}),
              "01" "01" "02" "0110" "01");
    // A sub group's selections must follow the option that opens it.
    EXPECT_EQ(Make({u"M2", u"M3", u"Sub2:S2b"}), "0000" "0110" "00" "00");
    // A sub group selection after an option that opens none matches nothing.
    EXPECT_EQ(Make({u"A1", u"Sub1:S1a", u"L1"}), "1" "0000" "1");
    // Sub group selections that name a deeper sub group keep the run going.
    EXPECT_EQ(Make({u"A2", u"Sub1:S1a", u"Sub1:S1b", u"Sub3:S3a", u"L2"}), "01" "11" "10" "0000" "01");
}

TEST_F(OptionString, SearchOnlyMovesForward) {
    // L1 lies behind M1's group; A1 lies before it and is dropped.
    EXPECT_EQ(Make({u"M1", u"A1", u"L1"}), "0000" "1000" "1");
    // An unknown text walks to the last main group, which the next text can still reach.
    EXPECT_EQ(Make({u"Nope", u"L2"}), "0000" "0000" "01");
    EXPECT_EQ(Make({u"Nope", u"A1"}), "0000" "0000" "00");
    // The drive module number is substituted before matching.
    EXPECT_EQ(Make({u"M4 3"}, 3), "0000" "0001");
}

TEST_F(OptionString, Failures) {
    CKeyInfo key;
    std::deque<WString> selections = {u"A1"};
    WString out;
    test::TraceCapture traces;
    EXPECT_EQ(files_.MakeOptionString(dir_ / u"missing.opt", key, selections, out), -1);
    EXPECT_TRUE(traces.Has("CConfigurationFiles::MakeOptionString, Unable to get first group from RelkeyParser\n"));

    // A sub group that the file does not define cannot be built.
    ASSERT_TRUE(test::WriteAll(dir_ / u"dangling.opt", "t\no\ngrp1 1,1 \"A\" void &Gone\n\n"));
    traces.Clear();
    selections = {u"A"};
    EXPECT_EQ(files_.MakeOptionString(dir_ / u"dangling.opt", key, selections, out), -1);
    EXPECT_TRUE(traces.Has("CConfigurationFiles::MakeOptionString, Unable to get group from RelkeyParser\n"));

    ASSERT_TRUE(test::WriteAll(dir_ / u"relkey.xml", "<R><Group><SubTitle/><Label/></Group></R>"));
    traces.Clear();
    selections = {u"A"};
    EXPECT_EQ(files_.MakeOptionString(dir_ / u"relkey.xml", key, selections, out), -1);
    EXPECT_TRUE(traces.Has(
        "CConfigurationFiles::MakeOptionString, Unable to read label from relkey parser, cannot continue\n"));
    for (const auto& record : traces.records()) EXPECT_EQ(record.module, "ConfigurationFiles");
}

}  // namespace
}  // namespace kel

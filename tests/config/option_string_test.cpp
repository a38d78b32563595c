#include <gtest/gtest.h>

#include "config/configuration_files.h"
#include "support/test_support.h"
#include "shared/key_info.h"

namespace kel {
namespace {

const WString kRelkey = test::SourceDir() + u"\\samples\\releases\\zendara-6.0\\syskey\\relkey.007";

// Main groups: lang 1,1 (3 options), robot 1,1,f (3), bus 0,n (3), motion 0,n,f (3), safety 0,1 (2),
// drive 1,1 (2); sub groups: ZR20Mount 1,1, PbusCfg 1,1 opening PbusDiag 0,n, ConvSetup 0,1 (2 each).
TEST(OptionString, FollowsTheGroupsOfTheFile) {
    struct Case {
        std::deque<WString> selections;
        uint16_t driveModule;
        std::string expected;
    };
    const Case cases[] = {
        // The main key of the sample keys: every group kind, sub groups two levels deep.
        {{u"English", u"ZR-20 1.65 m reach", u"ZR20Mount:Wall mounted", u"Profibus slave", u"PbusCfg:Addresses 64 to 126",
          u"PbusDiag:Extended diagnosis", u"EtherNet-IP adapter", u"Collision detection", u"Conveyor tracking",
          u"ConvSetup:Dual conveyor", u"Drive 0 standard"}, 0, "10101011011010101001"},
        // A single-choice group ends at its choice; ";" writes a choice hidden.
        {{u"German"}, 0, "01"},
        {{u";Profibus slave", u"PbusCfg:;Addresses 64 to 126", u"PbusDiag:;Bus monitor"}, 0, "000" "000" "020" "02" "02"},
        // A sub group choice that opens a further one brings it in, unchosen.
        {{u"Profibus slave", u"PbusCfg:Addresses 64 to 126"}, 0, "000" "000" "010" "01" "00"},
        {{}, 0, ""},
        // A sub group's selections must follow the option that opens it...
        {{u"Profibus slave", u"EtherNet-IP adapter", u"PbusCfg:Addresses 64 to 126"}, 0, "000" "000" "011" "00" "000" "00" "00"},
        // ...and after an option that opens none they match nothing.
        {{u"German", u"ZR20Mount:Floor mounted", u"Drive 0 high power"}, 0, "01" "000" "000" "000" "00" "01"},
        // The search only moves forward: English lies behind Path offset's group and is dropped...
        {{u"Path offset", u"English", u"Drive 0 standard"}, 0, "000" "000" "000" "010" "00" "1"},
        // ...and an unknown text walks to the last main group, which the next text can still reach.
        {{u"Nope", u"Drive 0 high power"}, 0, "000" "000" "000" "000" "00" "01"},
        // The drive module number is substituted before matching.
        {{u"Drive 2 high power"}, 2, "000" "000" "000" "000" "00" "01"},
    };
    CConfigurationFiles files;
    for (const Case& c : cases) {
        CKeyInfo key;
        key.SetDriveModuleNr(c.driveModule);
        std::deque<WStringView> selections(c.selections.begin(), c.selections.end());
        WString out = u"unset";
        EXPECT_EQ(files.MakeOptionString(kRelkey, key, selections, out), 0) << c.expected;
        EXPECT_TRUE(selections.empty());
        EXPECT_EQ(test::N(out), c.expected);
    }
    // The XML form: each group of the list is looked up on its own.
    std::deque<WStringView> selections = {u"Dispensing", u"DispenseSetup:Two components", u"World zones"};
    WString out;
    ASSERT_EQ(files.MakeOptionString(test::SourceDir() + u"\\samples\\releases\\zendara-6.0\\syskey\\relkey.xml",
                                     CKeyInfo(), selections, out),
              0);
    EXPECT_EQ(test::N(out), "01" "01" "01");

    // Groups that share a label are one: a choice in the second counts
    // against the options of the first, once.
    test::TempDir dir;
    ASSERT_TRUE(test::WriteAll(dir / u"twice.opt", "title T\n"
                                                   "grp_g \"G\"\ngrp_g 1,1 \"A1\" void\ngrp_g 1,1 \"A2\" void\n\n"
                                                   "grp_h \"H\"\ngrp_h 1,1 \"H1\" void\n\n"
                                                   "grp_g \"G again\"\ngrp_g 1,1 \"B1\" void\ngrp_g 1,1 \"A2\" void\n\n"));
    for (const auto& [chosen, expected] : {std::pair{std::deque<WStringView>{u"B1"}, "000"},
                                          std::pair{std::deque<WStringView>{u"H1", u"A2"}, "011"}}) {
        selections = chosen;
        ASSERT_EQ(files.MakeOptionString(dir / u"twice.opt", CKeyInfo(), selections, out), 0);
        EXPECT_EQ(test::N(out), expected) << test::N(chosen.front());
    }
}

TEST(OptionString, Failures) {
    test::TempDir dir;
    CConfigurationFiles files;
    CKeyInfo key;
    std::deque<WStringView> selections = {u"A1"};
    WString out;
    test::TraceCapture traces;
    EXPECT_EQ(files.MakeOptionString(dir / u"missing.opt", key, selections, out), -1);
    EXPECT_TRUE(traces.Has("CConfigurationFiles::MakeOptionString, Unable to get first group from RelkeyParser\n"));

    // A sub group that the file does not define cannot be built, whether an
    // option names it or a selection does (one kept from an older release).
    ASSERT_TRUE(test::WriteAll(dir / u"dangling.opt", "t\no\ngrp1 1,1 \"A\" void &Gone\n\n"));
    for (auto [path, chosen] : {std::pair{dir / u"dangling.opt", std::deque<WStringView>{u"A"}},
                                std::pair{kRelkey, std::deque<WStringView>{u"Profibus slave", u"Gone:Bus monitor"}}}) {
        traces.Clear();
        out = u"unset";
        EXPECT_EQ(files.MakeOptionString(path, key, chosen, out), -1) << test::N(path);
        EXPECT_EQ(out, u"unset");
        EXPECT_TRUE(traces.Has("CConfigurationFiles::MakeOptionString, Unable to get group from RelkeyParser\n"));
    }

    ASSERT_TRUE(test::WriteAll(dir / u"relkey.xml", "<R><Group><SubTitle/><Label/></Group></R>"));
    traces.Clear();
    selections = {u"A"};
    EXPECT_EQ(files.MakeOptionString(dir / u"relkey.xml", key, selections, out), -1);
    EXPECT_TRUE(traces.Has(
        "CConfigurationFiles::MakeOptionString, Unable to read label from relkey parser, cannot continue\n"));
    for (const auto& record : traces.records()) EXPECT_EQ(record.module, "ConfigurationFiles");
}

}  // namespace
}  // namespace kel

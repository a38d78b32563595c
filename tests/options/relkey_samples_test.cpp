// Every option definition file of the sample releases loads, and its default
// selection is exactly what its groups consume.
#include <gtest/gtest.h>

#include "options/relkey_parser.h"
#include "options/selection_group.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

// Consumes a program's digits the way option building does: a group, then
// depth first the sub groups of its options; a chosen option's sub group takes
// digits, an unchosen one's does not.
void Convert(CSystem& system, CRelkeyParser& parser, const CRelkeyGroup& relkey, WString& digits, bool consume,
             int& groups) {
    CSelectionGroup selection;
    ASSERT_EQ(system.ConfigGroup(digits, consume ? 1 : 0, relkey, selection), 0);
    ++groups;
    ASSERT_LT(groups, 1000) << "sub groups open each other";
    for (const CSelectionOption& option : selection.Options()) {
        if (option.GetRefSubLabel().empty()) continue;
        CRelkeyGroup sub;
        ASSERT_EQ(parser.GetGroupBySubTitle(option.GetRefSubLabel(), sub), 0) << test::N(option.GetRefSubLabel());
        sub.SetSubGUID(option.GetRefSubGUID());
        const int selected = option.GetSelected();
        Convert(system, parser, sub, digits, consume && selected != 0 && selected != 4, groups);
    }
}

TEST(RelkeySamples, LoadAndConvert) {
    for (const char16_t* file : {u"zendara-6.0\\syskey\\relkey.007", u"zendara-6.0\\syskey\\relkey.xml",
                                 u"zendara-5.11\\syskey\\relkey.007", u"arcwelding-1.2\\syskey\\relkey.opt",
                                 u"pickmaster-2.0\\syskey\\relkey.opt"}) {
        SCOPED_TRACE(test::N(file));
        test::TraceCapture traces;
        CRelkeyParser parser;
        ASSERT_EQ(parser.Load(test::SourceDir() + u"\\samples\\releases\\" + file, 1), 0);

        CSystem system;
        WString defaults;
        std::vector<CRelkeyGroup> mainGroups;
        CRelkeyGroup group;
        for (int r = parser.GetFirstGroup(group); r == 0; r = parser.GetNextGroup(group)) {
            EXPECT_FALSE(group.GetLabel().empty());
            EXPECT_GT(group.GetOptionCount(), 0);
            ASSERT_EQ(system.MakeDefaultSelection(group, parser, defaults), 1);
            mainGroups.push_back(group);
        }
        ASSERT_FALSE(mainGroups.empty());

        // The default digits are exactly what the groups consume.
        WString digits = defaults;
        int groups = 0;
        for (const CRelkeyGroup& main : mainGroups) Convert(system, parser, main, digits, true, groups);
        EXPECT_EQ(digits, u"") << test::N(defaults);
        EXPECT_TRUE(traces.records().empty());
    }
}

}  // namespace
}  // namespace kel

// Every option definition file of the sample releases loads, and its groups
// come through selection groups unchanged.
#include <gtest/gtest.h>

#include "options/relkey_parser.h"
#include "options/selection_group.h"
#include "platform/os.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

bool IsRelkeyName(WStringView name) {
    if (name.size() <= 4 || name[name.size() - 4] != u'.') return false;
    const WStringView ext = name.substr(name.size() - 3);
    const auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    return ext == u"opt" || ext == u"xml" || (digit(ext[0]) && digit(ext[1]) && digit(ext[2]));
}

void ExpectMirrors(const CRelkeyGroup& relkey, const CSelectionGroup& selection) {
    EXPECT_EQ(selection.GetLabel(), relkey.GetLabel());
    EXPECT_EQ(selection.GetTitle(), relkey.GetTitle());
    EXPECT_EQ(selection.GetCode(), relkey.GetCode());
    EXPECT_EQ(selection.GetCategory(), relkey.GetCategory());
    EXPECT_EQ(selection.GetSubTitle(), relkey.GetSubTitle());
    EXPECT_EQ(selection.GetSubGUID(), relkey.GetSubGUID());
    ASSERT_EQ(selection.GetOptionCount(), relkey.GetOptionCount());
    for (int i = 0; i < relkey.GetOptionCount(); ++i) {
        const CRelkeyOption& from = relkey.Options()[static_cast<std::size_t>(i)];
        const CSelectionOption& to = selection.Options()[static_cast<std::size_t>(i)];
        EXPECT_EQ(to.GetLineSelectionDescription(), from.GetLineSelectionDescription());
        EXPECT_EQ(to.GetDatFile(), from.GetDatFile());
        EXPECT_EQ(to.GetRefSubLabel(), from.GetRefSubLabel());
        EXPECT_EQ(to.GetRefSubGUID().empty(), from.GetRefSubLabel().empty());
    }
}

// Consumes a program's digits the way option building does: a group, then
// depth first the sub groups of its options; a chosen option's sub group takes
// digits, an unchosen one's does not.
void Convert(CSystem& system, CRelkeyParser& parser, const CRelkeyGroup& relkey, WString& digits, bool consume,
             int& groups) {
    CSelectionGroup selection;
    ASSERT_EQ(system.ConfigGroup(digits, consume ? 1 : 0, relkey, selection), 0);
    ExpectMirrors(relkey, selection);
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
    const WString releases = test::SourceDir() + u"\\samples\\releases";
    std::vector<os::DirEntry> entries;
    ASSERT_TRUE(os::ListDirectory(releases, entries));
    int files = 0;
    for (const os::DirEntry& release : entries) {
        const WString syskey = releases + u"\\" + release.name + u"\\syskey";
        std::vector<os::DirEntry> names;
        if (!os::ListDirectory(syskey, names)) continue;
        for (const os::DirEntry& name : names) {
            if (!IsRelkeyName(name.name)) continue;
            SCOPED_TRACE(test::N(release.name + u"\\" + name.name));
            ++files;
            test::TraceCapture traces;
            CRelkeyParser parser;
            ASSERT_EQ(parser.Load(syskey + u"\\" + name.name, 1), 0);

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
    EXPECT_GE(files, 5);
}

}  // namespace
}  // namespace kel

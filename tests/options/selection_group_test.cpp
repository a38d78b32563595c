#include "options/selection_group.h"

#include <gtest/gtest.h>

#include "options/relkey_group.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

CRelkeyGroup MakeGroup(WStringView code, std::initializer_list<const char16_t*> subLabels) {
    CRelkeyGroup group;
    group.SetCode(code);
    group.SetLabel(u"grpL");
    group.SetTitle(u"Title");
    group.SetCategory(u"Cat");
    group.SetSubTitle(u"Sub");
    group.SetSubGUID(u"{G}");
    int i = 0;
    for (const char16_t* subLabel : subLabels) {
        CRelkeyOption option;
        option.SetLineSelectionDescription(Format(u"Option %d", i));
        option.SetDatFile(Format(u"o%d.dat", i++));
        option.SetRefSubLabel(subLabel);
        option.SetRefSubGUID(u"{ignored}");
        group.AddOption(option);
    }
    return group;
}

std::string Selected(const CSelectionGroup& group) {
    std::string out;
    for (const auto& option : group.Options()) out += static_cast<char>('0' + option.GetSelected());
    return out;
}

TEST(SelectionGroup, ConsumesDigitsByGroupKind) {
    CSystem system;
    CSelectionGroup group;
    struct Case {
        const char16_t* code;
        int options;
        const char16_t* selection;
        int consume;
        const char* selected;
        const char16_t* left;
    };
    const Case cases[] = {
        {u"0,n", 3, u"10110", 1, "101", u"10"},
        {u"0,n,f", 3, u"1", 1, "100", u""},
        {u"1,1", 4, u"0010110", 1, "0010", u"0110"},
        {u"1,1", 3, u"000000", 1, "400", u"000"},
        {u"1,1,f", 3, u"0201", 1, "020", u"01"},
        {u"1,1", 2, u"", 1, "40", u""},
        {u"0,1", 3, u"", 1, "000", u""},
        {u"0,1,f", 2, u"11", 0, "00", u"11"},
        {u"1,1", 2, u"01", 0, "40", u"01"},
        {u"1,1", 2, u"x1", 1, "01", u""},   // a non-digit counts as 0
        {u"weird", 2, u"00", 1, "40", u""}, // unknown codes are single-choice
    };
    for (const Case& c : cases) {
        CRelkeyGroup relkey = MakeGroup(c.code, {});
        for (int i = 0; i < c.options; ++i) relkey.AddOption(CRelkeyOption());
        WStringView selection = c.selection;
        ASSERT_EQ(system.ConfigGroup(selection, c.consume, relkey, group), 0);
        EXPECT_EQ(Selected(group), c.selected) << test::N(c.code) << " " << test::N(c.selection);
        EXPECT_EQ(selection, c.left) << test::N(c.code) << " " << test::N(c.selection);
    }
}

TEST(SelectionGroup, CopiesFieldsAndMakesNewInstances) {
    CSystem system;
    const CRelkeyGroup relkey = MakeGroup(u"0,n", {u"Tools", u""});
    CSelectionGroup a, b;
    ASSERT_EQ(system.RelkeyGroupToSelectionGroup(u"1", relkey, a), 1);
    ASSERT_EQ(system.RelkeyGroupToSelectionGroup(u"1", relkey, b), 1);
    EXPECT_EQ(test::Line(a), "grpL|Title|0,n|Cat|Sub|{G} / 1:Option 0|o0.dat|Tools / 0:Option 1|o1.dat|");
    // Only an option that opens a sub group gets an instance, a new one each time.
    EXPECT_NE(a.Options()[0].GetRefSubGUID(), u"");
    EXPECT_NE(a.Options()[0].GetRefSubGUID(), b.Options()[0].GetRefSubGUID());
    EXPECT_EQ(a.Options()[1].GetRefSubGUID(), u"");

    // A reused group is cleared first.
    const CRelkeyGroup other = MakeGroup(u"0,1", {});
    ASSERT_EQ(system.RelkeyGroupToSelectionGroup(u"", other, a), 1);
    EXPECT_EQ(a.GetOptionCount(), 0);
    EXPECT_EQ(a.GetCode(), u"0,1");
}

}  // namespace
}  // namespace kel

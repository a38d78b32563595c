#include "options/relkey_parser.h"

#include <gtest/gtest.h>


#include "options/selection_group.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

// Main groups, then sub groups two levels deep.
const std::string kText = test::ReadAll(test::SourceDir() + u"\\samples\\releases\\zendara-6.0\\syskey\\relkey.007");
const std::vector<WString> kTextWalk = {u"grp_lang", u"grp_robot", u"grp_bus", u"grp_motion", u"grp_safety", u"grp_drive"};

// Sub groups before, between and after main groups; groups at any depth;
// fields laid out over lines, as an editor writes them.
constexpr const char* kXml = R"(<?xml version="1.0"?>
<Release><Any>
  <Group><SubTitle>S0</SubTitle><Label>s0</Label><Code>0,n</Code></Group>
  <Group><SubTitle/><Title>A</Title><Label>a</Label><Code>1,1</Code><Category>C</Category>
    <GroupItem><LineSelectionDescription>A1</LineSelectionDescription><DatFile>a1.dat</DatFile>
      <RefSubLabel>S</RefSubLabel><RefSubGUID>{x}</RefSubGUID><Remark>r</Remark></GroupItem>
    <GroupItem/>
  </Group>
  <Group><Label>
    b </Label><Code>0,n</Code></Group>
  <Group><SubTitle>
    S
  </SubTitle><Label>s</Label><Code>0,n</Code>
    <GroupItem><LineSelectionDescription>S1</LineSelectionDescription></GroupItem></Group>
</Any>
  <Group><SubTitle/><Label>c</Label><Title>C first</Title></Group>
  <Group><SubTitle/><Label>c</Label><Title>C second</Title></Group>
</Release>)";

std::vector<WString> WalkLabels(CRelkeyParser& parser) {
    std::vector<WString> labels;
    CRelkeyGroup scratch;
    for (const CRelkeyGroup* group = parser.FirstGroup(scratch); group; group = parser.NextGroup(scratch)) {
        labels.push_back(group->GetLabel());
    }
    return labels;
}

TEST(RelkeyParser, FormFollowsTheName) {
    test::TempDir dir;
    for (const char16_t* name : {u"relkey.007", u"relkey.opt", u"relkey.Opt", u"a.xm", u"x", u"relkey.XML", u"r.0a7"}) {
        ASSERT_TRUE(test::WriteAll(dir / name, kText));
    }
    ASSERT_TRUE(test::WriteAll(dir / u"relkey.xml", kXml));
    ASSERT_TRUE(test::WriteAll(dir / u"copy.opt.xml", kXml));

    struct Case {
        const char16_t* name;
        std::vector<WString> walk;
    };
    const Case cases[] = {
        {u"relkey.007", kTextWalk}, {u"relkey.opt", kTextWalk}, {u"relkey.xml", {u"a", u"b"}},
        {u"copy.opt.xml", {u"a", u"b"}},     {u"relkey.Opt", {}},                  {u"a.xm", {}},
        {u"x", {}},                          {u"relkey.XML", {}},                  {u"r.0a7", {}},
    };
    for (const Case& c : cases) {
        CRelkeyParser parser;
        EXPECT_EQ(parser.Load(dir / c.name, 0), 0) << test::N(c.name);
        EXPECT_EQ(WalkLabels(parser), c.walk) << test::N(c.name);
    }
    CRelkeyParser shortPath;
    EXPECT_EQ(shortPath.Load(u".opt", 0), 0);
    CRelkeyGroup scratch;
    EXPECT_EQ(shortPath.FirstGroup(scratch), nullptr);
}

TEST(RelkeyParser, WalkAndLookups) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteAll(dir / u"relkey.xml", kXml));
    CRelkeyParser parser;
    ASSERT_EQ(parser.Load(dir / u"relkey.xml", 0), 0);

    // The walk skips the leading sub group and stops at the next one: c is never walked.
    CRelkeyGroup scratch;
    const CRelkeyGroup* walked = parser.FirstGroup(scratch);
    ASSERT_TRUE(walked);
    EXPECT_EQ(test::Line(*walked), "a|A|1,1|C|| / A1|a1.dat|S|r / |||");
    EXPECT_EQ(walked->Options()[0].GetRefSubGUID(), u"{x}");
    walked = parser.NextGroup(scratch);
    ASSERT_TRUE(walked);
    EXPECT_EQ(test::Line(*walked), "b||0,n|||");
    EXPECT_EQ(parser.NextGroup(scratch), nullptr);
    EXPECT_EQ(scratch, CRelkeyGroup());
    EXPECT_EQ(parser.NextGroup(scratch), nullptr);

    // Lookups leave the walk alone and take the first match in document order.
    ASSERT_TRUE(parser.FirstGroup(scratch));
    CRelkeyGroup group;
    ASSERT_EQ(parser.GetGroupByLabel(u"c", group), 0);
    EXPECT_EQ(group.GetTitle(), u"C first");
    ASSERT_EQ(parser.GetGroupBySubTitle(u"S", group), 0);
    EXPECT_EQ(group.GetLabel(), u"s");
    EXPECT_EQ(group.GetSubGUID(), u"");
    ASSERT_EQ(parser.GetGroup(u"Code", u"0,n", &group), 0);
    EXPECT_EQ(group.GetLabel(), u"s0");
    ASSERT_EQ(parser.GetGroup(u"LineSelectionDescription", u"S1", &group), 0);
    EXPECT_EQ(group.GetLabel(), u"");  // the parent of the element is a GroupItem
    walked = parser.NextGroup(scratch);
    ASSERT_TRUE(walked);
    EXPECT_EQ(walked->GetLabel(), u"b");

    EXPECT_EQ(parser.GetGroupByLabel(u"C", group), -1);
    EXPECT_EQ(group, CRelkeyGroup());
    EXPECT_EQ(parser.GetGroup(u"Nothing", u"", &group), -1);
    EXPECT_EQ(parser.GetGroup(u"Label", u"a", nullptr), -1);
    test::TraceCapture traces;
    EXPECT_EQ(parser.GetGroup(u"", u"a", &group), -1);
    ASSERT_EQ(traces.records().size(), 1u);
    EXPECT_EQ(traces.records()[0].module, "RelkeyParser");
    EXPECT_EQ(traces.records()[0].message, "CRelkeyParser::GetGroup: No group specified!");
}

TEST(RelkeyParser, TextConversion) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteAll(dir / u"relkey.003", kText));
    CRelkeyParser one, two;
    ASSERT_EQ(one.Load(dir / u"relkey.003", 4), 0);
    ASSERT_EQ(two.Load(dir / u"relkey.003", 4), 0);

    // Sub labels lose their "&", remarks their "//"; every load gives each
    // option that opens a sub group a new instance.
    CRelkeyGroup a, b;
    ASSERT_TRUE(one.FirstGroup(a) && two.FirstGroup(b));
    a = *one.NextGroup(a);
    b = *two.NextGroup(b);
    EXPECT_EQ(a.Options()[1].GetRefSubLabel(), u"ZR20Mount");
    EXPECT_EQ(a.Options()[0].GetRefSubGUID(), u"");
    EXPECT_EQ(a.Options()[1].GetRefSubGUID().size(), 38u);
    EXPECT_NE(a.Options()[1].GetRefSubGUID(), b.Options()[1].GetRefSubGUID());
    ASSERT_EQ(one.GetGroupBySubTitle(u"PbusCfg", a), 0);
    EXPECT_EQ(one.GetGroupBySubTitle(u"&PbusCfg", b), -1);
    EXPECT_EQ(test::Line(a), "grp_pbus|Profibus slave configuration|1,1|Communication|PbusCfg| / Addresses 1 to 63||| / "
                             "Addresses 64 to 126||PbusDiag|");
    ASSERT_EQ(one.GetGroupByLabel(u"grp_bus", a), 0);
    EXPECT_EQ(a.Options()[1].GetRemark(), u"needs a slave address");
    EXPECT_EQ(WalkLabels(one), kTextWalk);

    // What XML cannot hold goes as a text is set, in any field, the others kept whole.
    CRelkeyOption option;
    option.SetTexts(u"clean", u"d\x0B" u"a.dat", u"", u"\xFFFE{G}", u"ok");
    EXPECT_EQ(test::N(option.GetLineSelectionDescription() + u"|" + option.GetDatFile() + u"|" +
                      option.GetRefSubLabel() + u"|" + option.GetRefSubGUID() + u"|" + option.GetRemark()),
              "clean|da.dat||{G}|ok");
}

TEST(RelkeyParser, LoadFailures) {
    test::TempDir dir;
    test::TraceCapture traces;
    ASSERT_TRUE(test::WriteAll(dir / u"bad.xml", "<Group><Label>x</Group>"));
    CRelkeyParser xml;
    EXPECT_EQ(xml.Load(dir / u"bad.xml", 0), -1);
    EXPECT_TRUE(traces.Has("CRelkeyParser::Load, failed loading XML.\n"));
    CRelkeyParser missing;
    EXPECT_EQ(missing.Load(dir / u"none.xml", 0), -1);

    // A malformed line in the first group fails the load; a later one ends the groups.
    traces.Clear();
    ASSERT_TRUE(test::WriteAll(dir / u"relkey.001", "t\no\ngrp1 1,1 \"A\" void /not/a/remark\n\n"));
    CRelkeyParser text;
    EXPECT_EQ(text.Load(dir / u"relkey.001", 0), -1);
    EXPECT_TRUE(traces.Has("CRelkeyParser::Load, failed reading a relkey group.\n"));
    CRelkeyGroup group;
    EXPECT_EQ(text.FirstGroup(group), nullptr);

    traces.Clear();
    ASSERT_TRUE(test::WriteAll(dir / u"relkey.002", kText + "&Bad\ngrp9 9,9 \"x\" void\n\n"));
    CRelkeyParser later;
    EXPECT_EQ(later.Load(dir / u"relkey.002", 0), 0);
    EXPECT_TRUE(traces.records().empty());
    EXPECT_EQ(WalkLabels(later), kTextWalk);
    EXPECT_EQ(later.GetGroupBySubTitle(u"ConvSetup", group), 0);
}

TEST(RelkeyParser, DefaultSelections) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteAll(dir / u"relkey.opt",
                               "title t\nowner SEROP\ngrp1 1,1 \"A\" void &Sub\ngrp1 1,1 \"B\" void\n\n"
                               "grp2 0,n \"M1\" void &Sub\ngrp2 0,n \"M2\" void\n\ngrp3 1,1,f \"L\" void\n\nend\n"
                               "&Sub\ngrp4 1,1 \"S1\" void &Deep\n\n&Deep\ngrp5 0,n \"D1\" void\ngrp5 0,n \"D2\" void\n\n"
                               "&Loop\ngrp6 1,1 \"Again\" void &Loop\n\n"));
    CRelkeyParser parser;
    ASSERT_EQ(parser.Load(dir / u"relkey.opt", 0), 0);
    CSystem system;
    WString selection;
    CRelkeyGroup group;
    for (const CRelkeyGroup* walked = parser.FirstGroup(group); walked; walked = parser.NextGroup(group)) {
        ASSERT_EQ(system.MakeDefaultSelection(*walked, parser, selection), 1);
    }
    // 1 for A, then Sub's 1 and Deep's 00; the multi-choice group opens nothing.
    EXPECT_EQ(selection, u"110000" u"1");

    test::TraceCapture traces;
    selection.clear();
    ASSERT_EQ(parser.GetGroupBySubTitle(u"Loop", group), 0);
    EXPECT_EQ(system.MakeDefaultSelection(group, parser, selection), 0);
    EXPECT_TRUE(traces.Has("CSystem::MakeDefaultSelection: Cannot make default selections on subgroup "));

    traces.Clear();
    CRelkeyGroup empty;
    empty.SetCode(u"1,1");
    empty.SetTitle(u"Nothing");
    EXPECT_EQ(system.MakeDefaultSelection(empty, parser, selection), 0);
    EXPECT_EQ(test::N(system.LastMessage()), "CSystem::MakeDefaultSelection: Unable to retrieve option in group Nothing\n");
    CRelkeyOption dangling;
    dangling.SetRefSubLabel(u"Gone");
    empty.AddOption(dangling);
    EXPECT_EQ(system.MakeDefaultSelection(empty, parser, selection), 0);
    EXPECT_EQ(test::N(system.LastMessage()), "CSystem::MakeDefaultSelection: Unable to retrieve group with sublabel Gone\n");
    for (const auto& record : traces.records()) EXPECT_EQ(record.module, "System");
}

}  // namespace
}  // namespace kel

#include "description/system_xml.h"

#include <gtest/gtest.h>

#include "platform/os.h"
#include "shared/key_info.h"
#include "support/test_support.h"

namespace kel {
namespace {

using test::N;

constexpr const char16_t* kSelection =
    u"<OptionSelection><ZD><ProgramNr>Zendara</ProgramNr><MainGroups>"
    u"<Group><Category/><GroupItem><Selected>1</Selected><LineSelectionDescription>Plain</LineSelectionDescription>"
    u"<RefSubGUID/></GroupItem><GroupItem><Selected>1</Selected><LineSelectionDescription/>"
    u"<RefSubGUID>{E}</RefSubGUID></GroupItem></Group>"
    u"<Group><Category>Cat</Category><Code>0,n</Code><GroupItem><Selected>1</Selected><LineSelectionDescription>A</LineSelectionDescription>"
    u"<RefSubGUID>{G}</RefSubGUID></GroupItem><GroupItem><Selected>true</Selected>"
    u"<LineSelectionDescription>B</LineSelectionDescription></GroupItem><GroupItem><Selected>0</Selected>"
    u"<LineSelectionDescription>C</LineSelectionDescription><RefSubGUID>{U}</RefSubGUID></GroupItem>"
    u"<GroupItem><Selected>4</Selected><LineSelectionDescription>D</LineSelectionDescription><RefSubGUID/></GroupItem>"
    u"</Group><Group><Category>Cat2</Category><GroupItem><Selected>4</Selected><LineSelectionDescription>F"
    u"</LineSelectionDescription></GroupItem><GroupItem><Selected>1</Selected><LineSelectionDescription>G"
    u"</LineSelectionDescription></GroupItem><GroupItem/><GroupItem><Selected>1</Selected>"
    u"<LineSelectionDescription>H</LineSelectionDescription></GroupItem>"
    u"</Group></MainGroups><SubGroups>"
    u"<Group><SubGUID>{G}</SubGUID><Category/><GroupItem><Selected>1</Selected>"
    u"<LineSelectionDescription>A1</LineSelectionDescription></GroupItem></Group>"
    u"<Group><SubGUID>{U}</SubGUID><Category>Cat</Category><GroupItem><Selected>4</Selected>"
    u"<LineSelectionDescription>U1</LineSelectionDescription><RefSubGUID/></GroupItem></Group>"
    u"<Group><SubGUID>{E}</SubGUID><Category/><Code>0,n</Code><GroupItem><Selected>1</Selected><LineSelectionDescription>E1"
    u"</LineSelectionDescription><RefSubGUID/></GroupItem><GroupItem><Selected>2</Selected>"
    u"<LineSelectionDescription>E2</LineSelectionDescription><RefSubGUID/></GroupItem></Group></SubGroups></ZD>"
    u"<EXT Instance=\"DriveModule7\"><ProgramNr>DriveModule7</ProgramNr><MainGroups/></EXT>"
    u"<EXT><ProgramNr>ArcWelding</ProgramNr></EXT></OptionSelection>";

// Element names with their text or descr, depth first, one string.
std::string Shape(const xml::Element& element) {
    std::string text = N(element.Name());
    const auto descr = element.Attribute(u"descr");
    if (descr) text += "[" + N(*descr) + "]";
    bool leaf = true;
    for (const char16_t* name : {u"Name", u"Key", u"SignatureNr", u"Category", u"Option", u"SubOption"}) {
        for (const xml::Element& child : element.Children(name)) {
            text += (leaf ? "(" : " ") + Shape(child);
            leaf = false;
        }
    }
    if (leaf && !element.Text().empty()) text += "=" + N(element.Text());
    return leaf ? text : text + ")";
}

TEST(SystemXml, DescribesEveryProgramOfTheSelection) {
    test::TempDir dir;
    ASSERT_TRUE(os::MakeDirectory(dir / u"INTERNAL"));
    const WString release = test::SampleRelease(u"arcwelding-1.2");
    ASSERT_TRUE(test::WriteAll(dir / u"INTERNAL\\program.id",
                               "#Setup program(s) in X:\r\n" + N(release) + "\r\n" + N(dir / u"none") + "\r\n"));
    // A program without options (a boot server) has no entry: each entry still gets its own key.
    CKeyList keys;
    for (const CKeyInfo& key : {test::Key(test::kMainKey, u"", 1), test::Key(u"opaque", u"", 8),
                                test::Key(test::kArcKey, u"", 2), test::Key(test::kDriveKey, u"", 1, 7)}) {
        keys.Append(key);
    }

    test::TraceCapture traces;
    ASSERT_TRUE(CSystemXml().CreateSystemXml(u"NoBackslash", dir.path(), keys, 42, u"LONGER-SERIAL", kSelection));
    xml::Document doc = xml::Document::Create();
    ASSERT_TRUE(doc.Load(dir / u"system.xml"));
    const xml::Element root = doc.Root();
    EXPECT_EQ(root.FirstChild(u"SystemName").Text(), u"NoBackslash");
    EXPECT_EQ(root.FirstChild(u"SerialNo").Text(), u"LONGER-SERIAL");
    const std::vector<xml::Element> media = root.FirstChild(u"UsedMedia").Children(u"Media").List();
    ASSERT_EQ(media.size(), 2u);
    EXPECT_EQ(media[0].Attribute(u"version"), u"1.02.0088.00");
    EXPECT_EQ(media[1].Attributes().size(), 1u);  // a folder that is no release: only its path
    // Defaults count as chosen, but not under an option that is not, nor
    // beside a choice in a single-choice group; the sub options of an item
    // without a text stand in its place; an item without Selected ends the
    // options, not the categories.
    EXPECT_EQ(Shape(root.FirstChild(u"ControlModule")),
              "ControlModule(Key=" + N(test::kMainKey) +
                  " SignatureNr=7 Category[Cat]=A Category[Cat]=D Category[Cat2]=G Category[Cat2]=H Option[Plain]"
                  " Option[E1] Option[E2] Option[A](SubOption[A1]) Option[D] Option[G])");
    EXPECT_EQ(Shape(root.FirstChild(u"DriveModule")),
              "DriveModule(Name=DriveModule7 Key=" + N(test::kDriveKey) + " SignatureNr=7)");
    EXPECT_EQ(Shape(root.FirstChild(u"AdditionalOption")),
              "AdditionalOption(Name=ArcWelding Key=" + N(test::kArcKey) + " SignatureNr=1001)");
    EXPECT_TRUE(traces.Has("CSystemXml::IsDriveModule, unable to get any instances.\n"));

    // A shorter serial text leaves the formatted number; a new media list replaces the old one.
    ASSERT_TRUE(CSystemXml().CreateSystemXml(u"C:\\pool\\Sys", dir.path(), keys, 42, u"SHORT", kSelection));
    ASSERT_TRUE(test::WriteAll(dir / u"INTERNAL\\program.id", "#Setup program(s) in X:\r\n" + N(dir / u"other") + "\r\n"));
    EXPECT_EQ(CSystemXml().ChangeMediaInSystemXml(dir.path()), S_OK);
    ASSERT_TRUE(doc.Load(dir / u"system.xml"));
    EXPECT_EQ(doc.Root().FirstChild(u"SerialNo").Text(), u"00-00042");
    EXPECT_EQ(doc.Root().FirstChild(u"SystemName").Text(), u"Sys");
    EXPECT_EQ(doc.Root().FirstChild(u"UsedMedia").FirstChild(u"Media").Attribute(u"path"), dir / u"other");

    // Failures save nothing.
    ASSERT_TRUE(os::RemoveFile(dir / u"system.xml") && os::MakeDirectory(dir / u"system.xml"));
    EXPECT_FALSE(CSystemXml().CreateSystemXml(u"S", dir.path(), keys, 42, u"", kSelection));
    EXPECT_TRUE(traces.Has("CSystemXml::CreateSystemXML, Unable to save system.xml document.\n"));
    EXPECT_FALSE(CSystemXml().CreateSystemXml(u"S", dir.path(), CKeyList(), 42, u"", kSelection));
    EXPECT_FALSE(CSystemXml().CreateSystemXml(u"S", dir.path(), keys, 42, u"", u"<broken"));
    EXPECT_TRUE(traces.Has("CSystemXml::CreateSystemXML, Unable to load system options.\n"));
}

}  // namespace
}  // namespace kel

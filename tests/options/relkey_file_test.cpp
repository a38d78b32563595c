#include "options/relkey_file.h"

#include <gtest/gtest.h>

#include "platform/sealed_file.h"
#include "support/test_support.h"

namespace kel {
namespace {

using test::U;

// Commands on the first two lines, then the group section.
constexpr const char* kAxes =
    "title Robot axes % \n"
    "owner NOFAC\n"
    "# header comment\n"
    "type multiple\n"
    "grp1 \"Axes %\" Category=\"Motion\" extra\n"
    "grp1 1,1 \"Axis 1\" axis1.dat &AxSub //first  remark\n"
    "grp1\t1,1   \"Axis 2\" void\n"
    "\n"
    "grp2 0,n \"Drive %\" drv%.dat\n"
    "grp2 0,n \"Brake\" void &Tools\n"
    "end\n"
    "grp9 0,n \"ignored after end\" void\n"
    "\n"
    "&AxSub\n"
    "grp3 \"Axis options\"\n"
    "grp3 0,1 \"Fast\" void\n"
    "\n"
    "&Tools\n"
    "   grp4 1,1 \"Gripper\" grip.dat\n"
    "grp4 1,1 \"Welder\" void\n"
    "\n";

struct GroupReader {
    CRelkeyFile file;
    std::vector<CRelkeyGroup> groups;
    int last = 0;

    void ReadAll(const WString& path) {
        CRelkeyGroup group;
        for (last = file.GetFirstGroup(path, group); last == 0; last = file.GetNextGroup(group)) {
            groups.push_back(group);
            group.Clear();
        }
    }
};

TEST(RelkeyFile, GroupsOptionsAndSubGroups) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteAll(dir / u"relkey.007", kAxes));
    GroupReader reader;
    reader.file.SetSubstitutionNumber(2);
    reader.ReadAll(dir / u"relkey.007");
    EXPECT_EQ(reader.last, -1);
    EXPECT_EQ(reader.file.GetLastType(), 1);
    ASSERT_EQ(reader.groups.size(), 4u);

    const CRelkeyGroup& axes = reader.groups[0];
    EXPECT_EQ(axes.GetLabel(), u"grp1");
    EXPECT_EQ(axes.GetTitle(), u"Axes 2");
    EXPECT_EQ(axes.GetCategory(), u"Motion");
    EXPECT_EQ(axes.GetCode(), u"1,1");
    EXPECT_EQ(axes.GetSubTitle(), u"");
    ASSERT_EQ(axes.GetOptionCount(), 2);
    CRelkeyOption first, second;
    ASSERT_EQ(axes.GetOption(0, first), 0);
    ASSERT_EQ(axes.GetOption(1, second), 0);
    EXPECT_EQ(first.GetLineSelectionDescription(), u"Axis 1");
    EXPECT_EQ(first.GetDatFile(), u"axis1.dat");
    EXPECT_EQ(first.GetRefSubLabel(), u"&AxSub");
    EXPECT_EQ(first.GetRemark(), u"//first  remark");
    EXPECT_EQ(second.GetLineSelectionDescription(), u"Axis 2");
    EXPECT_EQ(second.GetDatFile(), u"");
    EXPECT_EQ(second.GetRefSubLabel(), u"");
    EXPECT_EQ(axes.GetOption(2, first), -1);
    EXPECT_EQ(first.GetLineSelectionDescription(), u"Axis 1");

    // Only the first "%" of a text is replaced.
    const CRelkeyGroup& drives = reader.groups[1];
    EXPECT_EQ(drives.GetTitle(), u"");
    EXPECT_EQ(drives.GetCode(), u"0,n");
    ASSERT_EQ(drives.GetOptionCount(), 2);
    EXPECT_EQ(drives.Options()[0].GetLineSelectionDescription(), u"Drive 2");
    EXPECT_EQ(drives.Options()[0].GetDatFile(), u"drv2.dat");
    EXPECT_EQ(drives.Options()[1].GetRefSubLabel(), u"&Tools");

    // After "end" only "&" lines start groups: grp9 is skipped.
    EXPECT_EQ(reader.groups[2].GetSubTitle(), u"&AxSub");
    EXPECT_EQ(reader.groups[2].GetLabel(), u"grp3");
    EXPECT_EQ(reader.groups[2].GetTitle(), u"Axis options");
    EXPECT_EQ(reader.groups[2].GetOptionCount(), 1);
    EXPECT_EQ(reader.groups[3].GetSubTitle(), u"&Tools");
    EXPECT_EQ(reader.groups[3].GetOptionCount(), 2);
    EXPECT_EQ(reader.groups[3].Options()[0].GetDatFile(), u"grip.dat");
}

TEST(RelkeyFile, SectionBoundaries) {
    test::TempDir dir;
    // The first two lines never belong to a group; a group that is not ended
    // before the end of the text is not returned, nor is text after the last line feed.
    ASSERT_TRUE(test::WriteAll(dir / u"a.opt",
                               "grp1 1,1 \"One\" void\n"
                               "grp1 1,1 \"Two\" void\n"
                               "grp1 1,1 \"Three\" void\n"
                               "\n"
                               "grp2 0,1 \"Open\" void\n"));
    GroupReader a;
    a.ReadAll(dir / u"a.opt");
    EXPECT_EQ(a.last, -1);
    ASSERT_EQ(a.groups.size(), 1u);
    ASSERT_EQ(a.groups[0].GetOptionCount(), 1);
    EXPECT_EQ(a.groups[0].Options()[0].GetLineSelectionDescription(), u"Three");

    ASSERT_TRUE(test::WriteAll(dir / u"b.opt", "x\r\ny\r\ngrp1 1,1 \"One\" void\r\n\r\ngrp2 1,1 \"Two\" void\r\n\r"));
    GroupReader b;
    b.ReadAll(dir / u"b.opt");
    ASSERT_EQ(b.groups.size(), 1u);
    EXPECT_EQ(b.groups[0].GetLabel(), u"grp1");

    GroupReader missing;
    test::TraceCapture traces;
    CRelkeyGroup group;
    EXPECT_EQ(missing.file.GetFirstGroup(dir / u"none.opt", group), -2);
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetType, Failure open" + test::N(dir / u"none.opt") + "\n"));
}

TEST(RelkeyFile, MalformedLinesFailTheGroup) {
    const char* const bad[] = {
        "grp1 1,1 \"Axis 1\" axis1.txt\n",        // data file neither *.dat nor void
        "grp1 1,1 \"Axis 1\" axis1.DAT\n",        // case-sensitive
        "grp1 1,2 \"Axis 1\" void\n",             // unknown code
        "grp1 1,1 Axis void\n",                   // description not quoted
        "grp1 1,1 \"Axis 1\"\n",                  // no data file
        "grp1 1,1 \"Axis 1\" void Tools\n",       // neither sub group nor remark
        "grp1 1,1 \"Axis 1\" void &T x\n",        // junk after the sub group
        "grp1\n",                                 // no second token
        "grp1 \"Head\"\nopt 1,1 \"A\" void\n",    // continuation not a group line
    };
    test::TempDir dir;
    for (const char* body : bad) {
        ASSERT_TRUE(test::WriteAll(dir / u"r.opt", std::string("t\no\n") + body + "\n"));
        CRelkeyFile file;
        CRelkeyGroup group;
        EXPECT_EQ(file.GetFirstGroup(dir / u"r.opt", group), -2) << body;
    }
}

TEST(RelkeyFile, Commands) {
    test::TempDir dir;
    const WString path = dir / u"relkey.opt";
    CRelkeyFile file;
    WString title = u"unchanged";
    int owner = 7, type = 7;

    ASSERT_TRUE(test::WriteAll(path, "titleless\nowner   \ntype\t\nowner \tnofac \t\r\ntype Multiple\ntitle later\n"));
    EXPECT_EQ(file.GetTitle(path, title), S_OK);
    EXPECT_EQ(title, u"less");
    EXPECT_EQ(file.GetOwner(path, owner), S_OK);
    EXPECT_EQ(owner, 1);
    EXPECT_EQ(file.GetType(path, type), S_OK);
    EXPECT_EQ(type, 1);

    // Trailing blanks stay in a title; an empty title is a title.
    ASSERT_TRUE(test::WriteAll(path, "title \t Arc\xE9 %  \nx\n"));
    EXPECT_EQ(file.GetTitle(path, title), S_OK);
    EXPECT_EQ(title, U("Arcé %  "));
    ASSERT_TRUE(test::WriteAll(path, "title\n"));
    EXPECT_EQ(file.GetTitle(path, title), S_OK);
    EXPECT_EQ(title, u"");
    EXPECT_EQ(file.GetOwner(path, owner), S_OK);
    EXPECT_EQ(owner, 0);

    test::TraceCapture traces;
    ASSERT_TRUE(test::WriteAll(path, "owner NOFACX\ntype double\n"));
    title = u"unchanged";
    EXPECT_EQ(file.GetTitle(path, title), E_FAIL);
    EXPECT_EQ(title, u"unchanged");
    owner = 7;
    EXPECT_EQ(file.GetOwner(path, owner), E_UNEXPECTED);
    EXPECT_EQ(owner, 0);
    EXPECT_EQ(file.GetType(path, type), E_UNEXPECTED);
    const std::string p = test::N(path);
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetTitle, Missing command 'title' in " + p + "\n"));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetOwner: Unkown owner detected in file " + p));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetOwner: Unkown type double detected in file " + p));
    EXPECT_EQ(test::N(file.LastMessage()), "CRelkeyFile::GetOwner: Unkown type double detected in file " + p);
    for (const auto& record : traces.records()) EXPECT_EQ(record.module, "RelkeyFile");

    // Sealed files read like plain ones.
    {
        SealedFile sealed;
        ASSERT_TRUE(sealed.OpenForWrite(path, 1, 0));
        sealed.WriteText("title Sealed\nowner SEROP\ngrp1 1,1 \"A\" void\n\n");
        ASSERT_TRUE(sealed.Close());
    }
    EXPECT_EQ(file.GetTitle(path, title), S_OK);
    EXPECT_EQ(title, u"Sealed");
    CRelkeyGroup group;
    EXPECT_EQ(file.GetFirstGroup(path, group), 0);
    EXPECT_EQ(group.GetOptionCount(), 1);

    traces.Clear();
    const WString missing = dir / u"missing.opt";
    EXPECT_EQ(file.GetTitle(missing, title), E_FAIL);
    EXPECT_EQ(file.GetOwner(missing, owner), E_FAIL);
    EXPECT_EQ(file.GetType(missing, type), E_FAIL);
    const std::string m = test::N(missing);
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetTitle, Failure open" + m + "\n"));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetOwner, Failure open" + m + "\n"));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetType, Failure open" + m + "\n"));
}

TEST(RelkeyFile, NamesFromSignatures) {
    CRelkeyFile file;
    WString name, path;
    EXPECT_EQ(file.GetRelkeyName(7, name), 1);
    EXPECT_EQ(name, u"relkey.007");
    EXPECT_EQ(file.GetRelkeyName(999, name), 1);
    EXPECT_EQ(name, u"relkey.999");
    EXPECT_EQ(file.GetRelkeyName(1002, name), 1);
    EXPECT_EQ(name, u"relkey.txt");
    EXPECT_EQ(file.GetRelkeyFilePath(u"C:\\rel", 42, path), 0);
    EXPECT_EQ(path, u"C:\\rel\\syskey\\relkey.042");
    EXPECT_EQ(file.GetRelkeyFilePath(u"C:\\rel", 1001, path), 0);
    EXPECT_EQ(path, u"C:\\rel\\syskey\\relkey.opt");

    test::TraceCapture traces;
    for (int32_t bad : {0, 1000, 1003, -7}) {
        name = path = u"kept";
        EXPECT_EQ(file.GetRelkeyName(bad, name), 0) << bad;
        EXPECT_EQ(file.GetRelkeyFilePath(u"C:\\rel", bad, path), -1) << bad;
        EXPECT_EQ(name, u"kept");
        EXPECT_EQ(path, u"kept");
    }
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetRelkeyName, Error signature nr 1000\n"));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetRelkeyFilePath, Error signature nr -7\n"));

    // Paths are held to 259 characters.
    EXPECT_EQ(file.GetRelkeyFilePath(WString(300, u'x'), 1, path), 0);
    EXPECT_EQ(path.size(), 259u);
}

}  // namespace
}  // namespace kel

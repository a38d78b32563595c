#include "options/relkey_file.h"
#include "options/relkey_parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "support/test_support.h"

namespace kel {
namespace {

struct GroupReader {
    CRelkeyFile file;
    std::vector<std::string> groups;
    int last = 0;

    void ReadAll(const WString& path) {
        CRelkeyGroup group;
        for (last = file.GetFirstGroup(path, group); last == 0; last = file.GetNextGroup(group)) {
            groups.push_back(test::Line(group));
            group.Clear();
        }
    }
};

TEST(RelkeyFile, GroupsOptionsAndSubGroups) {
    GroupReader reader;
    reader.file.SetSubstitutionNumber(2);
    reader.ReadAll(test::SourceDir() + u"\\samples\\releases\\zendara-6.0\\syskey\\relkey.007");
    EXPECT_EQ(reader.last, -1);
    EXPECT_EQ(reader.file.GetLastType(), 1);
    // The number replaces the first "%" of a title, option text or data file name.
    const std::vector<std::string> expected = {
        "grp_lang|Controller language|1,1|System|| / English|||//factory default / German|lang_de.dat|| / Spanish|lang_es.dat||",
        "grp_robot|Manipulator|1,1,f|Manipulator|| / ZR-6 0.6 m reach||| / ZR-20 1.65 m reach|zr20.dat|&ZR20Mount| / ZR-120 2.5 m reach|zr120.dat||",
        "grp_bus|Fieldbus interfaces|0,n|Communication|| / DeviceNet master||| / Profibus slave|pbus.dat|&PbusCfg|//needs a slave address / EtherNet-IP adapter|||",
        "grp_motion|Motion functions|0,n,f|Motion|| / Collision detection|coll.dat|| / Path offset||| / Conveyor tracking|conv.dat|&ConvSetup|//one or two conveyors",
        "grp_safety|Safety controller|0,1|Safety|| / SafeZone basic|safe.dat|| / SafeZone extended|safe.dat||//same file, wider limits",
        "grp_drive|Drive unit 2|1,1|Drive system|| / Drive 2 standard|drive2.dat|| / Drive 2 high power|||",
        "grp_zr20|ZR-20 mounting|1,1|Manipulator|&ZR20Mount| / Floor mounted||| / Wall mounted|zr20wall.dat||",
        "grp_pbus|Profibus slave configuration|1,1|Communication|&PbusCfg| / Addresses 1 to 63||| / Addresses 64 to 126||&PbusDiag|",
        "grp_pbdiag|Profibus diagnostics|0,n|Communication|&PbusDiag| / Extended diagnosis|pbdiag.dat|| / Bus monitor|||",
        "grp_conv|Conveyor setup|0,1|Motion|&ConvSetup| / Single conveyor||| / Dual conveyor|conv2.dat||",
    };
    EXPECT_EQ(reader.groups, expected);
}

TEST(RelkeyFile, SectionBoundaries) {
    test::TempDir dir;
    // The first two lines never belong to a group; after "end" only "&" lines
    // start groups; a group that is not ended before the end of the text is not returned.
    ASSERT_TRUE(test::WriteAll(dir / u"a.opt",
                               "grp1 1,1 \"One\" void\n"
                               "grp1 1,1 \"Two\" void\n"
                               "grp1 \"Axes %\" Category=\"Motion\" extra\n"
                               "grp1\t1,1   \"Axis %\" void //two  blanks\n"
                               "\n"
                               "end\n"
                               "grp9 0,n \"After end\" void\n"
                               "\n"
                               "&Tools\n"
                               "   grp4 1,1 \"Gripper\" grip%.dat\n"
                               "\n"
                               "&Open\n"
                               "grp5 0,1 \"Open\" void\n"));
    GroupReader a;
    a.file.SetSubstitutionNumber(3);
    a.ReadAll(dir / u"a.opt");
    EXPECT_EQ(a.last, -1);
    EXPECT_EQ(a.groups, (std::vector<std::string>{"grp1|Axes 3|1,1|Motion|| / Axis 3|||//two  blanks",
                                                  "grp4||1,1||&Tools| / Gripper|grip3.dat||"}));

    // CR LF reads as LF; text after the last line feed ends no group.
    ASSERT_TRUE(test::WriteAll(dir / u"b.opt", "x\r\ny\r\ngrp1 1,1 \"One\" void\r\n\r\ngrp2 1,1 \"Two\" void\r\n\r"));
    GroupReader b;
    b.ReadAll(dir / u"b.opt");
    EXPECT_EQ(b.groups, (std::vector<std::string>{"grp1||1,1||| / One|||"}));

    GroupReader missing;
    test::TraceCapture traces;
    missing.ReadAll(dir / u"none.opt");
    EXPECT_EQ(missing.last, -2);
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetType, Failure open" + test::N(dir / u"none.opt") + "\n"));
}

TEST(RelkeyFile, MalformedLinesFailTheGroup) {
    // A line is read up to 140 characters and its line feed; the rest of a
    // longer one reads as the next line.
    const auto remarked = [](std::size_t length) {
        return "grp1 1,1 \"A\" void //" + std::string(length - 20, 'r') + "\ngrp1 1,1 \"B\" void\n";
    };
    const std::pair<std::string, int> cases[] = {
        {"grp1 1,1 \"Axis 1\" axis1.txt\n", -2},      // data file neither *.dat nor void
        {"grp1 1,1 \"Axis 1\" axis1.DAT\n", -2},      // case-sensitive
        {"grp1 1,2 \"Axis 1\" void\n", -2},           // unknown code
        {"grp1 1,1 Axis void\n", -2},                 // description not quoted
        {"grp1 1,1 \"Axis 1\"\n", -2},                // no data file
        {"grp1 1,1 \"Axis 1\" void Tools\n", -2},     // neither sub group nor remark
        {"grp1 1,1 \"Axis 1\" void &T x\n", -2},      // junk after the sub group
        {"grp1\n", -2},                               // no second token
        {"grp1 \"Head\"\nopt 1,1 \"A\" void\n", -2},  // continuation not a group line
        {remarked(140), 0},
        {remarked(142), -2},
    };
    test::TempDir dir;
    for (const auto& [body, result] : cases) {
        ASSERT_TRUE(test::WriteAll(dir / u"r.opt", "t\no\n" + body + "\n"));
        CRelkeyFile file;
        CRelkeyGroup group;
        EXPECT_EQ(file.GetFirstGroup(dir / u"r.opt", group), result) << body;
        if (result == 0) {
            EXPECT_EQ(group.GetOptionCount(), 2);
        }
    }
}

// A large file read by two readers, split after the first group, gives the
// groups one reader gives, also with the quirks that could misplace the split:
// long lines read in pieces, blank lines longer than a piece, comments, a
// malformed line on either side, an early "end" in a piece of a line.
TEST(RelkeyFile, ASplitFileReadsAsOneReaderReadsIt) {
    const auto text = [](int groups, int malformedAt, int endAt) {
        std::string body = "title Big\ntype single\n";
        for (int g = 0; g < groups; ++g) {
            if (g == endAt) body += std::string(141, 'x') + "end, as the second piece of a line\n";
            // Blank lines longer than a piece all around the middle, where the split falls.
            const bool middle = g > groups * 2 / 5 && g < groups * 3 / 5;
            const std::string label = "grp" + std::to_string(g);
            body += label + " \"Group " + std::to_string(g) + "\" Category=\"C\"\n";
            for (int o = 0; o < 3; ++o) {
                body += label + " 1,1 \"Option " + std::to_string(o) + "\" opt" + std::to_string(o) + ".dat";
                // Read as two lines, the second blank: it ends the group.
                if (g % 7 == 3 && o == 2 && !middle) body += std::string(150, ' ');
                body += "\n";
            }
            if (g == malformedAt) body += label + " 1,2 \"Bad\" void\n";
            body += middle || g % 13 == 6 ? std::string(200, ' ') + "\n" : g % 5 == 2 ? " \t\n" : "\n";
            // Between groups; a long one goes on in a line of its own, which is passed over too.
            if (g % 11 == 5) body += "# a comment" + std::string(g % 2 * 200, 'c') + "\n";
        }
        return body + "end\n\n&S\ngrpsub \"Sub\" Category=\"C\"\ngrpsub 0,n \"One\" void\n\n";
    };
    test::TempDir dir;
    const WString path = dir / u"r.opt";
    const auto split = [&](bool& didSplit) {
        std::vector<std::string> groups;
        CRelkeyFile file;
        CRelkeyFile rest;
        CRelkeyGroup group;
        int last = file.GetFirstGroup(path, group);
        didSplit = last == 0 && file.SplitOff(rest);
        for (; last == 0; last = file.GetNextGroup(group)) {
            groups.push_back(test::Line(group));
            group.Clear();
        }
        for (; didSplit && last == -1 && rest.GetNextGroup(group) == 0; group.Clear()) {
            groups.push_back(test::Line(group));
        }
        return groups;
    };
    const struct {
        int groups, malformedAt, endAt;
        bool splits;
        std::size_t read;
    } cases[] = {{3000, -1, -1, true, 3001}, {3000, 600, -1, true, 600}, {3000, 2500, -1, true, 2500},
                 {3000, -1, 300, false, 301}, {100, -1, -1, false, 101}};
    for (const auto& c : cases) {
        ASSERT_TRUE(test::WriteAll(path, text(c.groups, c.malformedAt, c.endAt)));
        GroupReader one;
        one.ReadAll(path);
        ASSERT_EQ(one.groups.size(), c.read);
        bool didSplit = false;
        EXPECT_EQ(split(didSplit), one.groups) << c.groups << " " << c.malformedAt << " " << c.endAt;
        EXPECT_EQ(didSplit, c.splits) << c.groups << " " << c.malformedAt << " " << c.endAt;
        // The parser keeps the same main groups, so also none past a malformed line.
        std::vector<WString> mainLabels;
        for (const std::string& line : one.groups) {
            if (!line.starts_with("grpsub|")) mainLabels.push_back(FromUtf8(line.substr(0, line.find('|')).c_str()));
        }
        CRelkeyParser parser;
        ASSERT_EQ(parser.Load(path, 0), 0);
        std::vector<WString> walked;
        CRelkeyGroup scratch;
        for (const CRelkeyGroup* g = parser.FirstGroup(scratch); g; g = parser.NextGroup(scratch)) {
            walked.push_back(g->GetLabel());
        }
        EXPECT_EQ(walked, mainLabels) << c.groups << " " << c.malformedAt << " " << c.endAt;
    }
}

TEST(RelkeyFile, Commands) {
    test::TempDir dir;
    const WString path = dir / u"relkey.opt";
    // Title, owner and type with their statuses; an object reads its file
    // once, so each content gets a new reader.
    std::optional<CRelkeyFile> file;
    const auto commands = [&](const WString& from) {
        WString title = u"unchanged";
        int owner = 7, type = 7;
        file.emplace();
        const HRESULT titleHr = file->GetTitle(from, title);
        const HRESULT ownerHr = file->GetOwner(from, owner);
        const HRESULT typeHr = file->GetType(from, type);
        return std::tuple{titleHr, title, ownerHr, owner, typeHr, type};
    };
    test::TraceCapture traces;
    const std::pair<std::string, std::tuple<HRESULT, WString, HRESULT, int, HRESULT, int>> cases[] = {
        {"titleless\nowner   \ntype\t\nowner \tnofac \t\r\ntype Multiple\ntitle later\n",
         {S_OK, u"less", S_OK, 1, S_OK, 1}},
        // Trailing blanks stay in a title; an empty title is a title, a missing owner or type is 0.
        {"title \t Arc\xE9 %  \nx\n", {S_OK, test::U("Arc\xC3\xA9 %  "), S_OK, 0, S_OK, 0}},
        {"title\n", {S_OK, u"", S_OK, 0, S_OK, 0}},
        // Commands, too, are read in pieces of at most 141 bytes.
        {"title " + std::string(150, 'T') + "\n", {S_OK, WString(135, u'T'), S_OK, 0, S_OK, 0}},
        {"owner NOFACX\ntype double\n", {E_FAIL, u"unchanged", E_UNEXPECTED, 0, E_UNEXPECTED, 0}},
    };
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(test::WriteAll(path, text));
        EXPECT_EQ(commands(path), expected) << text;
    }
    const std::string p = test::N(path);
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetTitle, Missing command 'title' in " + p + "\n"));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetOwner: Unkown owner detected in file " + p));
    EXPECT_EQ(test::N(file->LastMessage()), "CRelkeyFile::GetOwner: Unkown type double detected in file " + p);

    traces.Clear();
    const WString missing = dir / u"missing.opt";
    EXPECT_EQ(commands(missing), std::tuple(E_FAIL, WString(u"unchanged"), E_FAIL, 0, E_FAIL, 0));
    const std::string m = test::N(missing);
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetTitle, Failure open" + m + "\n"));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetOwner, Failure open" + m + "\n"));
}

TEST(RelkeyFile, NamesFromSignatures) {
    const std::tuple<int32_t, const char16_t*, const char16_t*> good[] = {
        {7, u"relkey.007", u"relkey.007"}, {999, u"relkey.999", u"relkey.999"}, {42, u"relkey.042", u"relkey.042"},
        {1001, u"relkey.txt", u"relkey.opt"}, {1002, u"relkey.txt", u"relkey.opt"}};
    CRelkeyFile file;
    for (const auto& [signature, name, fileName] : good) {
        WString n, path;
        EXPECT_EQ(file.GetRelkeyName(signature, n), 1) << signature;
        EXPECT_EQ(n, name);
        EXPECT_EQ(file.GetRelkeyFilePath(u"C:\\rel", signature, path), 0) << signature;
        EXPECT_EQ(path, u"C:\\rel\\syskey\\" + WString(fileName));
    }
    test::TraceCapture traces;
    for (int32_t bad : {0, 1000, 1003, -7}) {
        WString name = u"kept", path = u"kept";
        EXPECT_EQ(file.GetRelkeyName(bad, name), 0) << bad;
        EXPECT_EQ(file.GetRelkeyFilePath(u"C:\\rel", bad, path), -1) << bad;
        EXPECT_EQ(name + path, u"keptkept");
    }
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetRelkeyName, Error signature nr 1000\n"));
    EXPECT_TRUE(traces.Has("CRelkeyFile::GetRelkeyFilePath, Error signature nr -7\n"));
    // Paths are held to 259 characters.
    WString path;
    EXPECT_EQ(file.GetRelkeyFilePath(WString(300, u'x'), 1, path), 0);
    EXPECT_EQ(path.size(), 259u);
}

}  // namespace
// The texts of an option share one string: changing one must leave its
// neighbours as they were, and equality must still tell fields apart.
TEST(RelkeyFile, OptionTextsStayApart) {
    CRelkeyOption option;
    option.SetLineSelectionDescription(u"Desc");
    option.SetDatFile(u"a.dat");
    option.SetRefSubLabel(u"&Sub");
    option.SetDatFile(u"longer_name.dat");
    option.SetRefSubLabel(u"");
    EXPECT_EQ(option.GetLineSelectionDescription() + u"|" + option.GetDatFile() + u"|" + option.GetRefSubLabel(),
              u"Desc|longer_name.dat|");
    CRelkeyOption joined;
    joined.SetLineSelectionDescription(u"ab");
    CRelkeyOption split;
    split.SetLineSelectionDescription(u"a");
    split.SetDatFile(u"b");
    EXPECT_FALSE(joined == split);
}

}  // namespace kel

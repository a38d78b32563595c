// The sample releases and keys are fixtures for other tests and the demo; a
// slip in them would show up far away, so their shape is checked here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "component/keystring.h"
#include "platform/os.h"
#include "support/test_support.h"

namespace {

using namespace kel;
using kel::test::N;
using kel::test::ReadAll;
using kel::test::U;

struct Release {
    std::string dir;
    std::string name;
    int type;
    bool inSysPack;
    std::string major, minor;
};

const Release kReleases[] = {
    {"zendara-6.0", "Zendara", 1, true, "6", "0"},
    {"zendara-5.11", "Zendara", 1, false, "5", "11"},
    {"arcwelding-1.2", "ArcWelding", 2, false, "1", "2"},
    {"pickmaster-2.0", "PickMaster", 4, true, "2", "0"},
};

WString ReleasesDir() { return test::SourceDir() + u"\\samples\\releases"; }
WString SyskeyDir(const Release& r) { return ReleasesDir() + u"\\" + U(r.dir) + u"\\syskey"; }

// Lines as a text-mode reader sees them: CR LF counts as LF; a last line
// without LF is returned with a trailing "\x01" so that checks can spot it.
std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (bytes[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(bytes[i]);
        }
    }
    if (!line.empty()) lines.push_back(line + "\x01");
    return lines;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-'; }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Text between <tag> and </tag>, for every occurrence in order.
std::vector<std::string> ElementTexts(const std::string& xml, const std::string& tag) {
    std::vector<std::string> out;
    const std::string open = "<" + tag + ">", close = "</" + tag + ">", empty = "<" + tag + "/>";
    for (std::size_t pos = 0;;) {
        const std::size_t a = xml.find(open, pos), e = xml.find(empty, pos);
        if (a == std::string::npos && e == std::string::npos) break;
        if (e < a) {
            out.emplace_back();
            pos = e + empty.size();
            continue;
        }
        const std::size_t b = xml.find(close, a);
        if (b == std::string::npos) break;
        out.push_back(xml.substr(a + open.size(), b - a - open.size()));
        pos = b + close.size();
    }
    return out;
}

TEST(Samples, EveryReleaseHasAWellFormedMediaIdAndVersion) {
    std::vector<os::DirEntry> entries;
    ASSERT_TRUE(os::ListDirectory(ReleasesDir(), entries));
    EXPECT_EQ(entries.size(), std::size(kReleases)) << "a sample release missing from this table";
    for (const auto& r : kReleases) {
        SCOPED_TRACE(r.dir);
        const WString base = ReleasesDir() + u"\\" + U(r.dir) + (r.inSysPack ? u"\\sys_pack" : u"");
        EXPECT_EQ(test::Exists(ReleasesDir() + u"\\" + U(r.dir) + u"\\media.id"), !r.inSysPack);
        const std::string text = ReadAll(base + u"\\media.id");
        ASSERT_FALSE(text.empty());
        std::map<std::string, std::string> values;
        for (const std::string& line : Lines(text)) {
            if (line.starts_with("#")) continue;
            const std::size_t eq = line.find('=');
            ASSERT_NE(eq, std::string::npos) << line;
            EXPECT_TRUE(values.emplace(Lower(line.substr(0, eq)), line.substr(eq + 1)).second) << line;
        }
        const std::string name = values["name"];
        EXPECT_TRUE(!name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), IsNameChar));
        EXPECT_EQ(name, r.name);
        EXPECT_EQ(values["type"], std::to_string(r.type));
        EXPECT_EQ(values.size(), 2u);

        const std::string version = ReadAll(base + u"\\version.xml");
        EXPECT_EQ(ElementTexts(version, "Title"), std::vector<std::string>{r.name});
        EXPECT_EQ(ElementTexts(version, "Major"), std::vector<std::string>{r.major});
        EXPECT_EQ(ElementTexts(version, "Minor"), std::vector<std::string>{r.minor});
        EXPECT_EQ(ElementTexts(version, "Build").size(), 1u);
        EXPECT_EQ(ElementTexts(version, "Revision").size(), 1u);
    }
}

TEST(Samples, EveryKeyDescribesARelkeyFileOfASampleRelease) {
    std::set<std::string> kinds;
    int keys = 0;
    for (const std::string& line : Lines(ReadAll(test::SourceDir() + u"\\samples\\keys.txt"))) {
        if (line.empty() || line.starts_with("#")) continue;
        SCOPED_TRACE(line);
        ++keys;
        KeyDescription key;
        ASSERT_TRUE(DescribeKey(U(line), key));
        WString encoded;
        ASSERT_TRUE(MakeKeystring(key, encoded));
        EXPECT_EQ(N(encoded), line);
        kinds.insert(key.kind == KeyKind::AdditionalOptionKey ? "A" : key.virtualController ? "V" : "R");

        const int sig = key.signatureNumber;
        std::string relkey = sig >= 1001 && sig <= 1002 ? "relkey.opt" : "";
        if (sig >= 1 && sig <= 999) {
            relkey = std::to_string(1000 + sig);
            relkey = "relkey." + relkey.substr(1);
        }
        ASSERT_FALSE(relkey.empty());
        bool found = false;
        for (const auto& r : kReleases) {
            if (Lower(r.name) != Lower(N(key.programName))) continue;
            EXPECT_EQ(r.type == 1, key.kind == KeyKind::ReleaseKey) << r.dir;
            found = found || test::Exists(SyskeyDir(r) + u"\\" + U(relkey));
        }
        EXPECT_TRUE(found) << relkey;
    }
    EXPECT_GE(keys, 5);
    EXPECT_EQ(kinds, (std::set<std::string>{"A", "R", "V"}));
}

// Splits at blanks outside quotes; "//" starts a remark that runs to the end.
std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> out;
    std::string token;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (!quoted && c == '/' && i + 1 < line.size() && line[i + 1] == '/') {
            if (!token.empty()) out.push_back(token);
            out.push_back(line.substr(i));
            return out;
        }
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == ' ' || c == '\t')) {
            if (!token.empty()) out.push_back(token);
            token.clear();
        } else {
            token.push_back(c);
        }
    }
    if (!token.empty()) out.push_back(token);
    return out;
}

bool Quoted(const std::string& t) { return t.size() >= 2 && t.front() == '"' && t.back() == '"'; }

void CheckDatFile(const Release& r, std::string file) {
    const std::size_t percent = file.find('%');
    for (char n = '0'; n <= (percent == std::string::npos ? '0' : '2'); ++n) {
        if (percent != std::string::npos) file[percent] = n;
        EXPECT_TRUE(test::Exists(SyskeyDir(r) + u"\\" + U(file))) << file;
    }
}

TEST(Samples, TextRelkeyFilesFollowTheLineFormat) {
    const std::set<std::string> codes = {"1,1", "0,1", "0,n", "0,1,f", "1,1,f", "0,n,f"};
    int files = 0;
    for (const auto& r : kReleases) {
        std::vector<os::DirEntry> entries;
        ASSERT_TRUE(os::ListDirectory(SyskeyDir(r), entries));
        for (const auto& entry : entries) {
            const std::string name = N(entry.name);
            const std::string ext = name.size() > 4 ? name.substr(name.size() - 4) : "";
            const bool numbered = ext.size() == 4 && ext[0] == '.' &&
                                  std::all_of(ext.begin() + 1, ext.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (ext != ".opt" && !numbered) continue;
            SCOPED_TRACE(r.dir + "/" + name);
            ++files;
            const std::vector<std::string> lines = Lines(ReadAll(SyskeyDir(r) + u"\\" + entry.name));
            ASSERT_GE(lines.size(), 4u);
            EXPECT_TRUE(lines[0].starts_with("title ")) << lines[0];
            std::set<std::string> commands;
            std::set<std::string> subGroups, references, labels;
            std::string label;  // of the open group; empty between groups
            bool afterEnd = false, header = false;
            int options = 0, mainGroups = 0;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const std::string& line = lines[i];
                ASSERT_LE(line.size(), 140u) << "line " << i + 1 << " is read in pieces";
                ASSERT_EQ(line.find('\x01'), std::string::npos) << "the last line has no line feed";
                const std::vector<std::string> t = Tokens(line);
                if (line.starts_with("title") && t.size() >= 2) commands.insert("title");
                const std::string value = t.size() == 2 ? t[1] : "";
                if (line.starts_with("owner")) commands.insert(value == "NOFAC" || value == "SEROP" ? "owner" : line);
                if (line.starts_with("type")) commands.insert(value == "single" || value == "multiple" ? "type" : line);
                if (i < 2 || line.starts_with("#")) continue;
                if (t.empty() || t[0] == "end") {  // closes a group
                    EXPECT_TRUE(label.empty() || (header && options > 0)) << "group " << label;
                    label.clear();
                    afterEnd = afterEnd || !t.empty();
                    continue;
                }
                if (t[0].starts_with("&")) {
                    EXPECT_TRUE(afterEnd && label.empty()) << line;
                    EXPECT_TRUE(subGroups.insert(t[0].substr(1)).second) << line;
                    label = "&";
                    header = false;
                    options = 0;
                    continue;
                }
                if (!t[0].starts_with("grp")) {
                    EXPECT_TRUE(label.empty() && !afterEnd && t[0] == "type") << line;
                    continue;
                }
                ASSERT_GE(t.size(), 2u) << line;
                if (label.empty() || label == "&") {
                    EXPECT_FALSE(afterEnd && label.empty()) << "sub group without its & line: " << line;
                    if (label.empty()) {
                        ++mainGroups;
                        header = false;
                        options = 0;
                    }
                    label = t[0];
                    EXPECT_TRUE(labels.insert(label).second) << "label used twice: " << line;
                }
                EXPECT_EQ(t[0], label) << line;
                if (Quoted(t[1])) {
                    EXPECT_TRUE(options == 0 && !header) << line;
                    header = true;
                    EXPECT_TRUE(t.size() == 3 && t[2].starts_with("Category=\"") && Quoted(t[2].substr(9))) << line;
                    continue;
                }
                ++options;
                EXPECT_TRUE(codes.count(t[1])) << line;
                ASSERT_GE(t.size(), 4u) << line;
                EXPECT_TRUE(Quoted(t[2]) && t[2].find(':') == std::string::npos) << line;
                if (t[3] != "void") {
                    EXPECT_TRUE(t[3].ends_with(".dat")) << line;
                    CheckDatFile(r, t[3]);
                }
                std::size_t k = 4;
                if (k < t.size() && t[k].starts_with("&")) references.insert(t[k++].substr(1));
                if (k < t.size() && t[k].starts_with("//")) ++k;
                EXPECT_EQ(k, t.size()) << line;
            }
            EXPECT_TRUE(label.empty()) << "the last group is never closed";
            EXPECT_EQ(commands, (std::set<std::string>{"owner", "title", "type"}));
            EXPECT_GE(mainGroups, 1);
            EXPECT_EQ(references, subGroups);
        }
    }
    EXPECT_EQ(files, 4);
}

TEST(Samples, XmlRelkeyFilesNameExistingFilesAndSubGroups) {
    const Release& r = kReleases[0];
    const std::string xml = ReadAll(SyskeyDir(r) + u"\\relkey.xml");
    const auto subTitles = ElementTexts(xml, "SubTitle");
    ASSERT_EQ(subTitles.size(), ElementTexts(xml, "Group").size());
    ASSERT_FALSE(subTitles.empty());
    EXPECT_EQ(subTitles[0], "");  // the walk over main groups starts here
    for (const auto& label : ElementTexts(xml, "Label")) EXPECT_TRUE(label.starts_with("grp")) << label;
    for (const auto& file : ElementTexts(xml, "DatFile")) {
        if (!file.empty()) CheckDatFile(r, file);
    }
    int references = 0;
    for (const auto& ref : ElementTexts(xml, "RefSubLabel")) {
        if (ref.empty()) continue;
        ++references;
        EXPECT_NE(std::find(subTitles.begin(), subTitles.end(), ref), subTitles.end()) << ref;
    }
    EXPECT_GE(references, 1);
}

}  // namespace

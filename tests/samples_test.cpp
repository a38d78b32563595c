// The sample keys are fixtures for other tests and the demo: each must belong
// to a sample release and name an option definition file that release has.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "shared/keystring.h"
#include "support/test_support.h"

namespace {

using namespace kel;
using kel::test::N;
using kel::test::U;

struct Release {
    const char* dir;
    const char* name;
    int type;
};

const Release kReleases[] = {
    {"zendara-6.0", "Zendara", 1},
    {"zendara-5.11", "Zendara", 1},
    {"arcwelding-1.2", "ArcWelding", 2},
    {"pickmaster-2.0", "PickMaster", 4},
};

TEST(Samples, EveryKeyDescribesARelkeyFileOfASampleRelease) {
    std::set<char> kinds;
    int keys = 0;
    std::istringstream text(test::ReadAll(test::SourceDir() + u"\\samples\\keys.txt"));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.starts_with("#")) continue;
        SCOPED_TRACE(line);
        ++keys;
        KeyDescription key;
        ASSERT_TRUE(DescribeKey(U(line), key));
        WString encoded;
        ASSERT_TRUE(MakeKeystring(key, encoded));
        EXPECT_EQ(N(encoded), line);
        kinds.insert(key.kind == KeyKind::AdditionalOptionKey ? 'A' : key.virtualController ? 'V' : 'R');

        const int sig = key.signatureNumber;
        std::string relkey = "relkey.opt";
        if (sig >= 1 && sig <= 999) relkey = "relkey." + std::to_string(1000 + sig).substr(1);
        ASSERT_TRUE((sig >= 1 && sig <= 999) || sig == 1001 || sig == 1002);
        bool found = false;
        for (const auto& r : kReleases) {
            if (N(key.programName) != r.name) continue;
            EXPECT_EQ(r.type == 1, key.kind == KeyKind::ReleaseKey) << r.dir;
            found = found || test::Exists(test::SourceDir() + u"\\samples\\releases\\" + U(r.dir) + u"\\syskey\\" + U(relkey));
        }
        EXPECT_TRUE(found) << relkey;
    }
    EXPECT_GE(keys, 5);
    EXPECT_EQ(kinds, (std::set<char>{'A', 'R', 'V'}));
}

}  // namespace

// The sample keys are fixtures for other tests and the demo: each must belong
// to a sample release and name an option definition file that release has.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "options/relkey_file.h"
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
    int keys = 0;
    std::istringstream text(test::ReadAll(test::SourceDir() + u"\\samples\\keys.txt"));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.starts_with("#")) continue;
        SCOPED_TRACE(line);
        ++keys;
        KeyDescription key;
        ASSERT_TRUE(DescribeKey(U(line), key));
        bool found = false;
        for (const auto& r : kReleases) {
            if (N(key.programName) != r.name) continue;
            EXPECT_EQ(r.type == 1, key.kind == KeyKind::ReleaseKey) << r.dir;
            WString path;
            ASSERT_EQ(CRelkeyFile().GetRelkeyFilePath(test::SourceDir() + u"\\samples\\releases\\" + U(r.dir),
                                                       key.signatureNumber, path), 0);
            found = found || test::Exists(path);
        }
        EXPECT_TRUE(found);
    }
    EXPECT_GE(keys, 5);
}

}  // namespace

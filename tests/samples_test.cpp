// The sample keys are fixtures for other tests and the demo: each must belong
// to a sample release and name an option definition file that release has.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>

#include "options/relkey_file.h"
#include "shared/keystring.h"
#include "support/test_support.h"

namespace {

using namespace kel;
using kel::test::N;
using kel::test::U;

// Folder, program name, and whether it is a main release (only those take release keys).
const std::tuple<const char*, const char*, bool> kReleases[] = {
    {"zendara-6.0", "Zendara", true}, {"zendara-5.11", "Zendara", true},
    {"arcwelding-1.2", "ArcWelding", false}, {"pickmaster-2.0", "PickMaster", false}};

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
        for (const auto& [dir, name, main] : kReleases) {
            if (N(key.programName) != name) continue;
            EXPECT_EQ(main, key.kind == KeyKind::ReleaseKey) << dir;
            WString path;
            ASSERT_EQ(CRelkeyFile().GetRelkeyFilePath(test::SourceDir() + u"\\samples\\releases\\" + U(dir),
                                                       key.signatureNumber, path), 0);
            found = found || test::Exists(path);
        }
        EXPECT_TRUE(found);
    }
    EXPECT_GE(keys, 5);
}

}  // namespace

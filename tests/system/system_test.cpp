#include "system/system.h"

#include <gtest/gtest.h>

#include "shared/outside_factory.h"
#include "support/test_support.h"

namespace kel {
namespace {

TEST(System, BackupDirectoryOnlyUpTo5_12_1) {
    struct Case {
        ReleaseVersion version;
        bool backup;
    };
    const Case cases[] = {{{5, 11, 0, 0}, true},  {{5, 12, 1, 0}, true},  {{5, 0, 9, 9}, true},
                          {{5, 12, 2, 0}, false}, {{5, 13, 0, 0}, false}, {{6, 0, 0, 0}, false},
                          {{4, 5, 0, 0}, false},  {{4, 12, 1, 0}, false}};
    for (const Case& c : cases) {
        test::TempDir dir;
        CSystem system;
        ASSERT_EQ(system.CreateSystemSubDirectories(dir.path(), c.version), S_OK);
        EXPECT_EQ(test::IsDirectory(dir / u"BACKUP"), c.backup)
            << c.version.major << "." << c.version.minor << "." << c.version.third;
    }
}

TEST(System, HoldsAMediaComponentOrTracesWhyNot) {
    EXPECT_NE(CSystem().Media(), nullptr);
    SetOutsideCreationFailure(CLSID_KelInstallMedia, E_OUTOFMEMORY);
    test::TraceCapture traces;
    CSystem system;
    ClearOutsideCreationFailures();
    EXPECT_EQ(system.Media(), nullptr);
    ASSERT_EQ(traces.records().size(), 1u);
    EXPECT_EQ(traces.records()[0].message, "CSystem::CSystem, Could not initialize IKelInstallMedia, returned: 8007000e\n");
}

}  // namespace
}  // namespace kel

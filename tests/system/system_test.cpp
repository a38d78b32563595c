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
        for (const char16_t* sub : {u"SYSPAR", u"HOME", u"INTERNAL\\OPTIONS", u"INTERNAL\\RAPID", u"INTERNAL\\REPORTS"}) {
            EXPECT_TRUE(test::IsDirectory(dir / sub)) << test::N(sub);
        }
    }
}

TEST(System, DirectoryCreationRefusesWhatExists) {
    test::TempDir dir;
    CSystem system;
    test::TraceCapture traces;
    EXPECT_EQ(system.CreateRobotSystemDirectory(dir / u"Sys"), S_OK);
    ASSERT_TRUE(test::WriteAll(dir / u"Sys\\keep.txt", "k"));
    EXPECT_EQ(system.CreateRobotSystemDirectory(dir / u"Sys"), KELINSTALL_E_EXISTS);
    EXPECT_EQ(test::ReadAll(dir / u"Sys\\keep.txt"), "k");
    ASSERT_TRUE(test::WriteAll(dir / u"plain", "p"));
    EXPECT_EQ(system.CreateRobotSystemDirectory(dir / u"plain"), KELINSTALL_E_EXISTS);
    EXPECT_EQ(system.CreateRobotSystemDirectory(dir / u"no\\parent"), KELINSTALL_E_CREATE_DIRECTORY);
    EXPECT_EQ(system.LastMessage(),
              u"CSystem::CreateRobotSystemDirectory: Could not create system directory in " + (dir / u"no\\parent") + u"\n");
    EXPECT_EQ(traces.records().size(), 3u);
    EXPECT_EQ(traces.records()[0].module, "System");

    // The tree is only made inside a fresh directory: anything already there fails.
    EXPECT_EQ(system.CreateSystemSubDirectories(dir / u"Sys", {6, 0, 0, 0}), S_OK);
    EXPECT_EQ(system.CreateSystemSubDirectories(dir / u"Sys", {6, 0, 0, 0}), KELINSTALL_E_CREATE_DIRECTORY);
    EXPECT_EQ(system.LastMessage(), u"CSystem::CreateSystemSubDirectories, Could not create directory " + (dir / u"Sys\\SYSPAR") + u"\n");
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

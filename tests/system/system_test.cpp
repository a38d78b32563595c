#include "system/system.h"

#include <gtest/gtest.h>

#include "platform/os.h"
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

// The file calls neither write nor delete anything but files directly in HOME and SYSPAR.
TEST(System, FileCallsStayInTheirFolder) {
    test::TempDir pool;
    const WString path = pool / u"Sys";
    const WString source = pool / u"src";
    CSystem system;
    ASSERT_EQ(system.CreateSystem(path, test::kMainKey, test::SampleRelease(u"zendara-6.0")), S_OK);
    ASSERT_EQ(system.InitSystem(path), S_OK);
    ASSERT_TRUE(os::MakeDirectory(source) && os::MakeDirectory(source + u"\\sub") &&
                test::WriteAll(source + u"\\sub\\a.mod", "a") && test::WriteAll(path + u"\\HOME\\h.mod", "h") &&
                test::WriteAll(path + u"\\SYSPAR\\p.cfg", "p"));
    const auto before = test::Snapshot(pool.path());
    enum Call { AddHome, AddParameter, RemoveHome, RemoveParameter };
    const char* const names[] = {"AddHomeFile", "AddSystemParameterFile", "RemoveHomeFile", "RemoveSystemParameterFile"};
    struct Case {
        Call call;
        WString argument;
    };
    const Case cases[] = {
        {AddHome, source + u"\\sub\\.."}, {AddHome, source + u"\\."},      {AddHome, source + u"\\sub/.."},
        {AddHome, source + u"\\sub"},     {AddParameter, source + u"\\sub\\"}, {AddHome, source + u"\\*"},
        {AddParameter, source + u"\\*.*"}, {AddHome, source + u"\\none.mod"}, {RemoveHome, u"*"},
        {RemoveHome, u"*.*"},             {RemoveParameter, u"*"},             {RemoveParameter, u"*.*"},
    };
    const auto run = [&](const Case& c) {
        switch (c.call) {
        case AddHome: return system.AddHomeFile(c.argument, true);
        case AddParameter: return system.AddSystemParameterFile(c.argument, true);
        case RemoveHome: return system.RemoveHomeFile(c.argument);
        case RemoveParameter: return system.RemoveSystemParameterFile(c.argument);
        }
        return true;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::N(c.argument));
        test::TraceCapture traces;
        EXPECT_FALSE(run(c));
        ASSERT_FALSE(traces.records().empty());
        EXPECT_EQ(traces.records().back().message,
                  std::string("CSystem::") + names[c.call] + ", " + test::N(c.argument) +
                      (c.call == AddHome || c.call == AddParameter ? " is not a file to add to the system\n"
                                                                   : " is not a file name of the system\n"));
        EXPECT_EQ(test::Snapshot(pool.path()), before);
    }
}

}  // namespace
}  // namespace kel

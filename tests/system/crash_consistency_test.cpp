// A process killed at any file-system call of a change leaves a system that
// opens and verifies, with its files all as before or all as after.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/fault_injection.h"
#include "shared/file_operation.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

using test::N;

struct Change {
    const char* name;
    std::function<HRESULT(CSystem&, const WString& pool)> run;
};

const std::vector<Change>& Changes() {
    static const std::vector<Change> changes = {
        {"AddAdditionalOption",
         [](CSystem& s, const WString&) { return s.AddAdditionalOption(test::kPickKey, test::SampleRelease(u"pickmaster-2.0")); }},
        {"RemoveAdditionalOption", [](CSystem& s, const WString&) { return s.RemoveAdditionalOption(u"ArcWelding"); }},
        {"AddDriveModule", [](CSystem& s, const WString&) { return s.AddDriveModule(test::kDriveKey, 2); }},
        {"RemoveDriveModule", [](CSystem& s, const WString&) { return s.RemoveDriveModule(1); }},
        {"ReplaceKeystring", [](CSystem& s, const WString&) { return s.ReplaceKeystring(test::kMainKey, test::kVirtualKey); }},
        {"SetSystemOptions",
         [](CSystem& s, const WString&) {
             // The system's own selection with its first chosen option dropped.
             WString document;
             if (FAILED(s.GetSystemOptions(document))) return E_FAIL;
             const std::size_t chosen = document.find(u"<Selected>1</Selected>");
             if (chosen == WString::npos) return E_FAIL;
             return s.AddKeystring(document.replace(chosen, 22, u"<Selected>0</Selected>"));
         }},
        {"SetProgramPath", [](CSystem& s, const WString& pool) { return s.SetProgramPath(Zendara, u"", false, pool + u"\\release"); }},
        {"ResetSystem", [](CSystem& s, const WString&) { return s.ResetSystem(); }},
    };
    return changes;
}

// Every file of the system; key.id unsealed, since each sealing is salted anew.
std::map<WString, std::string> State(const WString& system) {
    auto files = test::Snapshot(system);
    files[u"INTERNAL\\key.id"] = test::Unsealed(system + u"\\INTERNAL\\key.id");
    return files;
}

// Run by the harness in a child process, which the request kills.
TEST(CrashChild, Run) {
    const char* request = std::getenv("KEL_CRASH_REQUEST");
    if (!request || !*request) GTEST_SKIP() << "only as a child of the crash harness";
    std::size_t change = 0;
    int call = 0;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(request, "%zu %d %n", &change, &call, &consumed), 2);
    const WString pool = test::U(request + consumed);
    CSystem system;
    ASSERT_EQ(system.InitSystem(pool + u"\\Sys"), S_OK);
    os::CrashAtNthCall(os::Primitive::Any, call);
    Changes().at(change).run(system, pool);
    std::_Exit(0);
}

TEST(CrashConsistency, AKillAtAnyFileSystemCallLeavesAllOldOrAllNew) {
    test::TempDir pool;
    const WString system = pool / u"Sys";
    const WString copy = pool / u"Copy";
    CFileOperation files;
    // A second release to move the system to.
    ASSERT_TRUE(files.Copy(test::SampleRelease(u"zendara-6.0"), pool / u"release", kShellSilentFlags));
    {
        CSystem made;
        ASSERT_EQ(made.CreateSystem(system, test::kMainKey, test::SampleRelease(u"zendara-6.0")), S_OK);
        ASSERT_EQ(made.AddDriveModule(test::kDriveKey, 1), S_OK);
        ASSERT_EQ(made.AddAdditionalOption(test::kArcKey, test::SampleRelease(u"arcwelding-1.2")), S_OK);
        ASSERT_TRUE(test::WriteAll(system + u"\\HOME\\a.mod", "a") && test::WriteAll(system + u"\\HOME\\b.mod", "b") &&
                    test::WriteAll(system + u"\\SYSPAR\\moc.cfg", "c"));
        ASSERT_TRUE(files.Copy(system, copy, kShellSilentFlags));
    }
    const auto restart = [&] {
        RemoveDirectoryTree(system);
        ASSERT_TRUE(files.Copy(copy, system, kShellSilentFlags));
    };
    for (std::size_t change = 0; change < Changes().size(); ++change) {
        const char* const name = Changes()[change].name;
        restart();
        const auto before = State(system);
        int calls = 0;
        {
            CSystem changed;
            ASSERT_EQ(changed.InitSystem(system), S_OK);
            os::ClearFault();
            ASSERT_EQ(Changes()[change].run(changed, pool.path()), S_OK) << name;
            calls = os::PrimitiveCalls();
        }
        const auto after = State(system);
        ASSERT_NE(before, after) << name;
        for (int call = 1; call <= calls; ++call) {
            SCOPED_TRACE(std::string(name) + " killed at call " + std::to_string(call));
            test::SetEnvironment("KEL_CRASH_REQUEST", std::to_string(change) + " " + std::to_string(call) + " " + N(pool.path()));
            restart();
            const test::CommandResult child = test::RunProgram("kel_tests", {"--gtest_filter=CrashChild.Run"});
            ASSERT_EQ(child.code, os::kCrashExitCode) << child.out;
            CSystem reopened;
            ASSERT_EQ(reopened.InitSystem(system), S_OK);
            const auto now = State(system);
            EXPECT_TRUE(now == before || now == after);
            EXPECT_EQ(test::Verify(system), "clean\n");
        }
        test::SetEnvironment("KEL_CRASH_REQUEST", "");
        std::printf("%s: %d kill points, each left all old or all new\n", name, calls);
    }
}

}  // namespace
}  // namespace kel

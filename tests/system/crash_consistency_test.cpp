// A process killed at any file-system call of a change leaves a system that
// opens and verifies, with its files all as before or all as after.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/fault_injection.h"
#include "shared/commit_journal.h"
#include "shared/file_operation.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

using test::N;

struct Change {
    const char* name;
    std::function<HRESULT(CSystem&, const WString& pool)> run;
    HRESULT status = S_OK;
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
             UniqueBstr text;
             if (FAILED(s.GetSystemOptions(text))) return E_FAIL;
             WString document(text.View());
             if (!test::SelectGerman(document)) return E_FAIL;
             return s.AddKeystring(document);
         }},
        {"SetProgramPath", [](CSystem& s, const WString& pool) { return s.SetProgramPath(Zendara, u"", false, pool + u"\\release"); }},
        {"ResetSystem", [](CSystem& s, const WString&) { return s.ResetSystem(); }},
        // Blocked for good at making the new HOME: everything is turned back.
        {"ResetSystem turned back",
         [](CSystem& s, const WString&) {
             os::FailNthCall(os::Primitive::MakeDirectory, 3, 3);
             return s.ResetSystem();
         },
         KELINSTALL_E_RESET},
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
    // Past the changes: killed while an open finishes an interrupted change.
    if (change == Changes().size()) os::CrashAtNthCall(call);
    ASSERT_EQ(system.InitSystem(pool + u"\\Sys"), S_OK);
    if (change == Changes().size()) std::_Exit(0);
    os::CrashAtNthCall(call);
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
    // A reset killed before it turns back is decided and finished by the next open.
    std::map<WString, std::string> reset;
    for (std::size_t change = 0; change < Changes().size(); ++change) {
        const char* const name = Changes()[change].name;
        restart();
        const auto before = State(system);
        int calls = 0;
        {
            CSystem changed;
            ASSERT_EQ(changed.InitSystem(system), S_OK);
            os::ClearFault();
            ASSERT_EQ(Changes()[change].run(changed, pool.path()), Changes()[change].status) << name;
            calls = os::PrimitiveCalls();
            os::ClearFault();
        }
        const auto after = State(system);
        if (std::string(name) == "ResetSystem") reset = after;
        ASSERT_EQ(before == after, Changes()[change].status != S_OK) << name;
        for (int call = 1; call <= calls; ++call) {
            SCOPED_TRACE(std::string(name) + " killed at call " + std::to_string(call));
            const auto child = [&](std::size_t what, int at) {
                test::SetEnvironment("KEL_CRASH_REQUEST", std::to_string(what) + " " + std::to_string(at) + " " + N(pool.path()));
                return test::RunProgram("kel_tests", {"--gtest_filter=CrashChild.Run"});
            };
            restart();
            const test::CommandResult killed = child(change, call);
            ASSERT_EQ(killed.code, os::kCrashExitCode) << killed.out;
            // Killed again while the next open finishes the change (or the open ends before that call).
            if (call % 3 == 0 && CCommitJournal::IsPending(system)) {
                const test::CommandResult again = child(Changes().size(), 1 + call % 5);
                ASSERT_TRUE(again.code == os::kCrashExitCode || again.code == 0) << again.out;
            }
            CSystem reopened;
            ASSERT_EQ(reopened.InitSystem(system), S_OK);
            const auto now = State(system);
            EXPECT_TRUE(now == before || now == after || (Changes()[change].status != S_OK && now == reset));
            EXPECT_EQ(test::Verify(system), "clean\n");
        }
        test::SetEnvironment("KEL_CRASH_REQUEST", "");
        std::printf("%s: %d kill points, each left all old or all new\n", name, calls);
    }
}

// A writer or reader of the shared-system test, run as a child process; any
// status but success or busy fails it.
TEST(SharedSystemChild, Run) {
    const char* request = std::getenv("KEL_SHARED_REQUEST");
    if (!request || !*request) GTEST_SKIP() << "only as a child of the shared-system test";
    int first = 0;
    int rounds = 0;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(request, "%d %d %n", &first, &rounds, &consumed), 2);
    const WString path = test::U(request + consumed);
    test::TraceCapture traces;
    for (int done = 0; done < rounds;) {
        CSystem system;
        HRESULT hr = system.InitSystem(path);
        if (hr == S_OK) {
            WString info;
            // A writer adds and removes its own drive module by turns; a reader reads.
            const auto module = static_cast<uint16_t>(first);
            hr = !first       ? system.GetSystemInfo(info)
                 : done % 2 ? system.RemoveDriveModule(module)
                            : system.AddDriveModule(test::kDriveKey, module);
        }
        ASSERT_TRUE(hr == S_OK || hr == KELINSTALL_E_BUSY) << std::hex << hr << " " << [&] { std::string all; for (auto& r : traces.records()) all += r.message; return all; }();
        if (hr == S_OK) std::printf("%d done\n", done++);
    }
}

TEST(SharedSystem, TwoWritersAndAReaderNeitherMixNorLoseChanges) {
    test::TempDir pool;
    const WString system = pool / u"Sys";
    {
        CSystem made;
        ASSERT_EQ(made.CreateSystem(system, test::kMainKey, test::SampleRelease(u"zendara-6.0")), S_OK);
    }
    constexpr int kRounds = 7;  // odd: each writer ends with its module added
    // Started one after the other, each with its own request, then run together.
    std::vector<std::FILE*> pipes;
    for (int child = 0; child < 3; ++child) {
        test::SetEnvironment("KEL_SHARED_REQUEST", std::to_string(child) + " " +
                                                       std::to_string(kRounds * (child ? 1 : 3)) + " " + N(system));
        const std::string command = test::BuiltProgram("kel_tests") + " --gtest_filter=SharedSystemChild.Run 2>&1";
        pipes.push_back(popen(command.c_str(), "r"));  // _popen on Windows, by mingw's stdio.h
        ASSERT_NE(pipes.back(), nullptr);
    }
    test::SetEnvironment("KEL_SHARED_REQUEST", "");
    std::vector<test::CommandResult> results;
    for (std::FILE* pipe : pipes) {
        test::CommandResult& result = results.emplace_back();
        char buffer[4096];
        while (std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe)) result.out.append(buffer, read);
        result.code = pclose(pipe);
    }
    for (const test::CommandResult& result : results) EXPECT_EQ(result.code, 0) << result.out;
    CSystem reopened;
    ASSERT_EQ(reopened.InitSystem(system), S_OK);
    WString keys;
    uint32_t count = 0;
    EXPECT_EQ(reopened.GetDriveModuleKeys(keys, count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(test::Verify(system), "clean\n");
}

}  // namespace
}  // namespace kel

// kelsys as a user runs it: every system and backup command, its output and exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>

#if !defined(_WIN32)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>
#endif

#include "kelsys/interrupt.h"
#include "platform/os.h"
#include "support/test_support.h"

namespace kel {
namespace {

using test::N;

using Result = test::CommandResult;

Result Kelsys(const std::string& arguments) { return test::RunCommand(test::BuiltProgram("kelsys") + " " + arguments); }

std::string Arg(WStringView path) { return test::ShellPath(path); }

TEST(Kelsys, DrivesASystemAndABackup) {
    test::TempDir pool;
    const std::string system = Arg(pool / u"Cell1");
    const std::string release = Arg(test::SampleRelease(u"zendara-6.0"));
    const std::string arc = Arg(test::SampleRelease(u"arcwelding-1.2"));
    const std::string key = N(test::kMainKey);
    ASSERT_EQ(Kelsys("create " + system + " --release " + release + " --key " + key).code, 0);
    const Result again = Kelsys("create " + system + " --release " + release + " --key " + key);
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.out.find("0xC004051B system exists"), std::string::npos) << again.out;
    EXPECT_EQ(Kelsys("create " + system).code, 2);

    ASSERT_EQ(Kelsys("addopt " + system + " add " + N(test::kArcKey) + " --release " + arc).code, 0);
    ASSERT_EQ(Kelsys("drive " + system + " add " + N(test::kDriveKey) + " --number 1").code, 0);
    ASSERT_EQ(Kelsys("tag " + system + " \"Cell one\"").code, 0);
    EXPECT_EQ(Kelsys("tag " + system).out, "Cell one\n");
    ASSERT_TRUE(test::WriteAll(pool / u"robot.mod", "MODULE x"));
    ASSERT_EQ(Kelsys("home " + system + " add " + Arg(pool / u"robot.mod")).code, 0);
    ASSERT_EQ(Kelsys("syspar " + system + " add " + Arg(pool / u"robot.mod")).code, 0);
    EXPECT_EQ(Kelsys("syspar " + system + " rm robot.mod").code, 0);
    EXPECT_EQ(Kelsys("syspar " + system + " list").out, "");
    EXPECT_EQ(nlohmann::json::parse(Kelsys("home " + system + " list --json").out), nlohmann::json::array({"robot.mod"}));

    const nlohmann::json info = nlohmann::json::parse(Kelsys("info " + system + " --json").out);
    EXPECT_EQ(info["controller"], "real");
    EXPECT_EQ(info["additionalOptions"][0]["name"], "ArcWelding");
    EXPECT_EQ(info["driveModules"][0]["number"], 1);
    EXPECT_EQ(info["options"][0]["options"][0], "English");

    // The option document goes out and back in unchanged.
    const Result options = Kelsys("options " + system);
    ASSERT_EQ(options.code, 0);
    ASSERT_TRUE(test::WriteAll(pool / u"options.xml", options.out));
    EXPECT_EQ(Kelsys("options " + system + " --set " + Arg(pool / u"options.xml")).code, 0);
    EXPECT_NE(Kelsys("xml " + system).out.find("<SystemName>Cell1</SystemName>"), std::string::npos);
    // Program paths come back as program.id keeps them: upper case.
    EXPECT_NE(Kelsys("program-path " + system + " --name ArcWelding").out.find("ARCWELDING-1.2"), std::string::npos);
    EXPECT_EQ(Kelsys("program-path " + system + " --set " + release).code, 0);
    EXPECT_EQ(Kelsys("key replace " + system + " " + key + " " + N(test::kVirtualKey)).code, 0);
    EXPECT_EQ(Kelsys("drive " + system + " rm 1").code, 0);
    EXPECT_EQ(Kelsys("addopt " + system + " rm ArcWelding").code, 0);
    EXPECT_EQ(Kelsys("reset " + system).code, 0);
    EXPECT_EQ(Kelsys("verify " + system).out, "clean\n");
    ASSERT_TRUE(test::WriteAll(pool / u"Cell1\\INTERNAL\\key.id", "#CKeyId zdkey plain\n"));
    const Result damaged = Kelsys("verify " + system);
    EXPECT_EQ(damaged.code, 1);
    EXPECT_EQ(damaged.out, "key.id is missing, not sealed, or fails its check value\n");
    EXPECT_EQ(nlohmann::json::parse(Kelsys("info " + system + " --json").out)["mainKey"], N(test::kVirtualKey));

    const std::string backup = Arg(test::SourceDir() + u"\\samples\\backups\\cell1");
    const Result check = Kelsys("backup check " + backup + " --json");
    EXPECT_EQ(check.code, 0);
    EXPECT_EQ(nlohmann::json::parse(check.out)["keys"][2], N(test::kDriveKey));
    EXPECT_EQ(Kelsys("backup check " + Arg(test::SourceDir() + u"\\samples\\backups\\no-backinfo")).code, 1);
    ASSERT_EQ(Kelsys("backup restore " + backup + " --to " + Arg(pool / u"Restored") + " --release " + release +
                     " --extra " + arc).code, 0);
    EXPECT_EQ(nlohmann::json::parse(Kelsys("info " + Arg(pool / u"Restored") + " --json").out)["name"], "Restored");
}

// The handler's side: a request waits for the outermost call, and the first
// request chooses the exit code when it ends.
TEST(Kelsys, InterruptionWaitsForTheRunningCall) {
    struct Case {
        const char* script;  // [ a call begins, ] it ends, i or t: Ctrl-C or termination
        const char* outcome;  // per end its exit code, per request whether it waits
    };
    const Case cases[] = {{"i", "free"},         {"[]", "0"},           {"[i]", "wait 130"},  {"[t]", "wait 143"},
                          {"[ti]", "wait wait 143"}, {"[[i]]", "wait 0 130"}, {"[]i", "0 free"}};
    for (const Case& c : cases) {
        kelsys::Interruption interruption;
        std::string outcome;
        for (const char* step = c.script; *step; ++step) {
            if (*step == '[') {
                interruption.Begin();
                continue;
            }
            if (!outcome.empty()) outcome += ' ';
            if (*step == ']') {
                outcome += std::to_string(interruption.End());
            } else {
                outcome += interruption.Defer(*step == 'i' ? kelsys::kInterrupted : kelsys::kTerminated) ? "wait" : "free";
            }
        }
        EXPECT_EQ(outcome, c.outcome) << c.script;
    }
}

#if !defined(_WIN32)
// Ctrl-C during a reset: the reset ends, then the tool, and leaves no work directory.
TEST(Kelsys, SigintDuringAChangeEndsTheToolAfterIt) {
    test::TempDir pool;
    test::TempDir temp;
    const WString system = pool / u"Cell1";
    ASSERT_EQ(Kelsys("create " + Arg(system) + " --release " + Arg(test::SampleRelease(u"zendara-6.0")) + " --key " +
                     N(test::kMainKey)).code, 0);
    // Enough home files that the reset's copy of the system takes a moment.
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(test::WriteAll(system + u"\\HOME\\m" + test::U(std::to_string(i)), "x"));
    const auto workEntries = [&] {
        std::vector<os::DirEntry> entries;
        os::ListDirectory(temp.path(), entries);
        return std::count_if(entries.begin(), entries.end(), [](const os::DirEntry& e) { return e.name.starts_with(u"cct"); });
    };
    const std::string command = "TMPDIR=" + Arg(temp.path()) + " exec " + test::BuiltProgram("kelsys") + " reset " + Arg(system);
    const char* const argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
    // The signal goes once the work directory is there, so while the reset runs.
    int status = 0;
    bool ended = false;
    bool sent = false;
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !ended && !sent && std::chrono::steady_clock::now() < deadline;) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended && workEntries() > 0) sent = kill(child, SIGINT) == 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!ended) {
        ASSERT_EQ(waitpid(child, &status, 0), child);
    }
    EXPECT_TRUE(sent);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_TRUE(WEXITSTATUS(status) == kelsys::kInterrupted || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    EXPECT_EQ(workEntries(), 0);
    EXPECT_EQ(test::Verify(system), "clean\n");
}
#endif

}  // namespace
}  // namespace kel

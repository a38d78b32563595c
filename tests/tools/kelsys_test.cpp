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

test::CommandResult Kelsys(const std::vector<std::string>& arguments) { return test::RunProgram("kelsys", arguments); }

std::string Arg(WStringView path) { return test::NativePath(path); }

// Each command's arguments reach the component: its exit code and a piece of what it prints.
// What the commands do to a system is the component's tests' to check.
TEST(Kelsys, CommandsExitCodesAndOutput) {
    test::TempDir pool;
    const std::string system = Arg(pool / u"Cell1"), robot = Arg(pool / u"robot.mod");
    const std::string release = Arg(test::SampleRelease(u"zendara-6.0"));
    const std::string arc = Arg(test::SampleRelease(u"arcwelding-1.2"));
    const std::string backup = Arg(test::SourceDir() + u"\\samples\\backups\\cell1");
    const std::string main = N(test::kMainKey), drive = N(test::kDriveKey);
    ASSERT_TRUE(test::WriteAll(pool / u"robot.mod", "MODULE x"));
    struct Step {
        std::vector<std::string> arguments;
        int code;
        std::string out;  // a piece of the output; empty: it prints nothing
    };
    const auto run = [](const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            const auto result = Kelsys(step.arguments);
            EXPECT_EQ(result.code, step.code) << step.arguments[0] << " " << step.arguments[1] << ": " << result.out;
            EXPECT_TRUE(step.out.empty() ? result.out.empty() : result.out.find(step.out) != std::string::npos) << result.out;
        }
    };
    run({{{"create", system, "--release", release, "--key", main}, 0, ""},
         {{"create", system, "--release", release, "--key", main}, 1, "0xC004051B system exists"},
         {{"create", system}, 2, "--release is required"},
         {{"addopt", system, "add", N(test::kArcKey), "--release", arc}, 0, ""},
         {{"drive", system, "add", drive, "--number", "1"}, 0, ""},
         {{"tag", system, "Cell one"}, 0, ""},
         {{"tag", system}, 0, "Cell one\n"},
         {{"home", system, "add", robot}, 0, ""},
         {{"syspar", system, "add", robot}, 0, ""},
         {{"syspar", system, "rm", "robot.mod"}, 0, ""},
         {{"home", system, "list", "--json"}, 0, "[\"robot.mod\"]\n"},
         {{"xml", system}, 0, "<SystemName>Cell1</SystemName>"},
         // Program paths come back as program.id keeps them: upper case.
         {{"program-path", system, "--name", "ArcWelding"}, 0, "ARCWELDING-1.2"}});
    const nlohmann::json info = nlohmann::json::parse(Kelsys({"info", system, "--json"}).out);
    EXPECT_EQ(info["controller"], "real");
    EXPECT_EQ(info["additionalOptions"][0]["name"], "ArcWelding");
    EXPECT_EQ(info["driveModules"][0]["number"], 1);
    // The option document goes out and back in.
    ASSERT_TRUE(test::WriteAll(pool / u"options.xml", Kelsys({"options", system, "--xml"}).out));
    run({{{"options", system, "--set", Arg(pool / u"options.xml")}, 0, ""},
         {{"program-path", system, "--set", release}, 0, ""},
         {{"key", "replace", system, main, N(test::kVirtualKey)}, 0, ""},
         {{"drive", system, "rm", "1"}, 0, ""},
         {{"addopt", system, "rm", "ArcWelding"}, 0, ""},
         {{"reset", system}, 0, ""},
         {{"backup", "check", backup, "--json"}, 0, "{\"keys\": [\"" + main + "\","},
         {{"backup", "check", Arg(test::SourceDir() + u"\\samples\\backups\\no-backinfo")}, 1, "not a backup"}});
    ASSERT_TRUE(test::WriteAll(pool / u"Cell1\\INTERNAL\\key.id", "#CKeyId zdkey plain\n"));
    run({{{"verify", system}, 1, "key.id is missing, not sealed, or fails its check value\n"}});
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
    ASSERT_EQ(Kelsys({"create", Arg(system), "--release", Arg(test::SampleRelease(u"zendara-6.0")), "--key", N(test::kMainKey)}).code, 0);
    // Enough home files that the reset's copy of the system takes a moment.
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(test::WriteAll(system + u"\\HOME\\m" + test::U(std::to_string(i)), "x"));
    const auto workEntries = [&] {
        std::vector<os::DirEntry> entries;
        os::ListDirectory(temp.path(), entries);
        return std::count_if(entries.begin(), entries.end(), [](const os::DirEntry& e) { return e.name.starts_with(u"cct"); });
    };
    const std::string command = "TMPDIR=" + test::ShellPath(temp.path()) + " exec " + test::BuiltProgram("kelsys") + " reset " + test::ShellPath(system);
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

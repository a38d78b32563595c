// kelsys as a user runs it: every system and backup command, its output and exit code.
#include <gtest/gtest.h>

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
    // Folders and a tag the ANSI code page cannot carry, as kelsys.exe must take them.
    const WString folder = pool / u"\u0141\u00f3d\u017a";
    ASSERT_TRUE(os::MakeDirectory(folder));
    const std::string system = Arg(folder + u"\\Cell1"), robot = Arg(folder + u"\\robot.mod");
    const std::string release = Arg(test::SampleRelease(u"zendara-6.0"));
    const std::string arc = Arg(test::SampleRelease(u"arcwelding-1.2"));
    const std::string backup = Arg(test::SourceDir() + u"\\samples\\backups\\cell1");
    const std::string main = N(test::kMainKey), drive = N(test::kDriveKey);
    ASSERT_TRUE(test::WriteAll(folder + u"\\robot.mod", "MODULE x"));
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
         // A refusal names its cause in the component's words, then the status.
         {{"create", system, "--release", release, "--key", main}, 1,
          "already exists at the specified systempool (0xC004051B system exists)"},
         {{"create", system}, 2, "--release is required"},
         {{"addopt", system, "add", N(test::kArcKey), "--release", arc}, 0, ""},
         {{"drive", system, "add", drive, "--number", "1"}, 0, ""},
         {{"tag", system, N(u"Cell \u00e9t\u00e9 one")}, 0, ""},
         {{"home", system, "add", robot}, 0, ""},
         {{"home", system, "add", robot}, 1, "exists; Filecopy failed (0x80004005 failed)"},
         {{"syspar", system, "add", robot}, 0, ""},
         {{"syspar", system, "rm", "robot.mod"}, 0, ""},
         {{"home", system, "list", "--json"}, 0, "[\"robot.mod\"]\n"},
         {{"xml", system}, 0, "<SystemName>Cell1</SystemName>"},
         // Program paths come back as program.id keeps them: upper case.
         {{"program-path", system, "--name", "ArcWelding"}, 0, "ARCWELDING-1.2"}});
    const nlohmann::json info = nlohmann::json::parse(Kelsys({"info", system, "--json"}).out);
    EXPECT_EQ(info["tag"], "Cell \u00e9t\u00e9 one");
    EXPECT_EQ(info["controller"], "real");
    EXPECT_EQ(info["additionalOptions"][0]["name"], "ArcWelding");
    EXPECT_EQ(info["driveModules"][0]["number"], 1);
    // The option document goes out and back in.
    ASSERT_TRUE(test::WriteAll(folder + u"\\options.xml", Kelsys({"options", system, "--xml"}).out));
    run({{{"options", system, "--set", Arg(folder + u"\\options.xml")}, 0, ""},
         {{"program-path", system, "--set", release}, 0, ""},
         {{"key", "replace", system, main, N(test::kVirtualKey)}, 0, ""},
         {{"drive", system, "rm", "1"}, 0, ""},
         {{"addopt", system, "rm", "ArcWelding"}, 0, ""},
         {{"reset", system}, 0, ""},
         {{"backup", "check", backup, "--json"}, 0, "{\"keys\": [\"" + main + "\","},
         {{"backup", "check", Arg(test::SourceDir() + u"\\samples\\backups\\no-backinfo")}, 1, "not a backup"}});
    // A restore takes its folders from --to, --release and --extra; info shows what it brought along.
    const std::string restored = Arg(folder + u"\\Restored");
    run({{{"backup", "restore", backup, "--to", restored, "--release", release, "--extra", arc}, 0, ""}});
    EXPECT_EQ(nlohmann::json::parse(Kelsys({"info", restored, "--json"}).out)["backupFiles"],
              nlohmann::json({"BACKINFO\\", "HOME\\", "SYSPAR\\", "system.xml"}));
    ASSERT_TRUE(test::WriteAll(folder + u"\\Cell1\\INTERNAL\\key.id", "#CKeyId zdkey plain\n"));
    run({{{"verify", system}, 1, "key.id is missing, not sealed, or fails its check value\n"}});
}

// Choices by name, one call after another on one system: what each prints,
// its exit code and whether it changed the system.
TEST(Kelsys, OptionsSelectByName) {
    test::TempDir pool;
    const std::string system = Arg(pool / u"Cell1");
    ASSERT_EQ(Kelsys({"create", system, "--release", Arg(test::SampleRelease(u"zendara-6.0")), "--key", N(test::kMainKey)}).code, 0);
    ASSERT_EQ(Kelsys({"addopt", system, "add", N(test::kArcKey), "--release", Arg(test::SampleRelease(u"arcwelding-1.2"))}).code, 0);
    ASSERT_EQ(Kelsys({"drive", system, "add", N(test::kDriveKey), "--number", "1"}).code, 0);
    struct Step {
        std::vector<std::string> arguments;  // after "options SYSTEM"
        int code;
        std::vector<std::string> out;  // pieces of the output, in order
        bool written;
    };
    const Step steps[] = {
        {{"select", "controller lang", "german", "--dry-run"}, 0, {"- Controller language: English\n+ Controller language: German\n", "dry run"}, false},
        {{"select", "controller language", "german", "lang", "german"}, 2, {"no group \"lang\"; closest: \"Controller language\""}, false},
        {{"select", "safety", "safezone"}, 2, {"ambiguous", "\"SafeZone basic\", \"SafeZone extended\""}, false},
        {{"unselect", "Controller Language", "English"}, 1, {"takes one choice"}, false},
        // The first pair would close the sub group the second chooses in.
        {{"select", "manip", "zr-6", "ZR-20 mounting", "floor"}, 1, {"choose \"ZR-20 1.65 m reach\" of Manipulator first"}, false},
        {{"select", "manip", "zr-6"}, 0, {"+ Manipulator: ZR-6", "- Manipulator: ZR-20", "- ZR-20 mounting: Wall mounted"}, true},
        {{"select", "manip", "zr-20", "zr-20 mounting", "floor", "safety", "safezone b", "safety", "safezone e"}, 0,
         {"+ ZR-20 mounting: Floor mounted", "+ Safety controller: SafeZone basic", "+ Safety controller: SafeZone extended"}, true},
        {{"unselect", "fieldbus", "profibus"}, 0, {"- Fieldbus interfaces: Profibus slave", "- Profibus diagnostics: Extended diagnosis"}, true},
        {{"select", "--program", "arc", "welding process", "mig"}, 0, {"+ Welding process: MIG-MAG welding"}, true},
        {{"select", "fieldbus", "ethernet"}, 0, {"nothing to change"}, false},
        {{"select", "manip"}, 2, {"in pairs"}, false},
        {{"select", "--program", "Pick", "a", "b"}, 2, {"no program \"Pick\"; closest: "}, false},
        {{"--xml", "--json"}, 2, {"excludes"}, false},
    };
    for (const Step& step : steps) {
        std::vector<std::string> arguments{"options", system};
        arguments.insert(arguments.end(), step.arguments.begin(), step.arguments.end());
        const auto before = test::Snapshot(pool / u"Cell1");
        const auto result = Kelsys(arguments);
        std::string what;
        for (const std::string& argument : step.arguments) what += argument + " ";
        what += ": " + result.out;
        EXPECT_EQ(result.code, step.code) << what;
        std::size_t at = 0;
        for (const std::string& piece : step.out) {
            at = result.out.find(piece, at);
            EXPECT_NE(at, std::string::npos) << piece << " in " << what;
        }
        EXPECT_EQ(test::Snapshot(pool / u"Cell1") != before, step.written) << what;
    }
    // The tree as JSON, after the changes above.
    const nlohmann::json programs = nlohmann::json::parse(Kelsys({"options", system, "--json"}).out);
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs[1]["kind"], "additional");
    EXPECT_EQ(programs[2]["kind"], "drive");
    // A default stays one, but counts as chosen only while its opener is.
    const nlohmann::json& floor = programs[2]["groups"][1]["options"][1]["groups"][0]["options"][0];
    EXPECT_EQ(floor["text"], "Floor mounted");
    EXPECT_EQ(floor["default"], true);
    EXPECT_EQ(floor["chosen"], false);
    const nlohmann::json& manipulator = programs[0]["groups"][1];
    EXPECT_EQ(manipulator["title"], "Manipulator");
    EXPECT_EQ(manipulator["choice"], "one");
    const nlohmann::json& mounting = manipulator["options"][1]["groups"][0];
    EXPECT_EQ(mounting["title"], "ZR-20 mounting");
    EXPECT_EQ(mounting["options"][0]["chosen"], true);
    const nlohmann::json& diagnostics = programs[0]["groups"][2]["options"][1]["groups"][0]["options"][1]["groups"][0];
    EXPECT_EQ(diagnostics["choice"], "several");
    EXPECT_EQ(diagnostics["options"][0]["chosen"], false);  // its opener's opener is not chosen
}

// Keys made from option names must be the sample keys, whose selections were
// made by hand; names that do not pick one option, or break a group's rule, make none.
TEST(Kelsys, KeyFromOptionNamesAndReleaseOptionTree) {
    const std::string zendara = Arg(test::SampleRelease(u"zendara-6.0"));
    const std::vector<std::string> mainKey{"key", "make", "--serial", "1234567", "--signature", "7", "--program", "Zendara", "--release", zendara};
    const auto with = [](std::vector<std::string> arguments, const std::vector<std::string>& names) {
        for (const std::string& name : names) arguments.insert(arguments.end(), {"--choose", name});
        return arguments;
    };
    struct Case {
        std::vector<std::string> arguments;
        int code;
        std::string out;  // the whole output when code is 0, else a piece of it
    };
    const Case cases[] = {
        // Every one-choice group takes its first option, main groups after the last choice too.
        {mainKey, 0, N(test::kDriveKey) + "\n"},
        {with({"key", "make", "--kind", "A", "--serial", "1234567", "--signature", "1001", "--program", "ArcWelding", "--release",
               Arg(test::SampleRelease(u"arcwelding-1.2"))},
              {"tig", "hot", "seam t", "weave", "power source"}),
         0, N(test::kArcKey) + "\n"},
        {with(mainKey, {"profibas"}), 2, "no option \"profibas\"; closest: \"Profibus slave\""},
        {with(mainKey, {"zr"}), 2, "ambiguous in the release: \"ZR-6 0.6 m reach\", \"ZR-20 1.65 m reach\", \"ZR-120 2.5 m reach\""},
        {with(mainKey, {"german", "spanish"}), 2, "Controller language takes one choice"},
        // Chosen through an opener that is itself in a closed sub group.
        {with(mainKey, {"extended"}), 2, "\"Extended diagnosis\" needs \"Profibus slave\""},
        {with(mainKey, {"wall", "zr-6"}), 2, "\"Wall mounted\" needs \"ZR-20 1.65 m reach\""},
    };
    for (const Case& c : cases) {
        const auto result = Kelsys(c.arguments);
        EXPECT_EQ(result.code, c.code) << c.arguments.back() << ": " << result.out;
        if (c.code == 0) {
            EXPECT_EQ(result.out, c.out);
        } else {
            EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
            EXPECT_EQ(result.out.find("KEL1:"), std::string::npos) << result.out;
        }
    }

    // The first levels of the tree are docs/cli.md's example; two levels down and the XML file are not.
    const std::string all = Kelsys({"release", zendara, "--options"}).out;
    EXPECT_NE(all.find("        Addresses 64 to 126\n          Profibus diagnostics (Communication; several: one digit per option)\n"),
              std::string::npos);
    EXPECT_NE(all.find("\nrelkey.xml\n  Application package"), std::string::npos);
    const auto one = Kelsys({"release", zendara, "--options", "--signature", "7"});
    EXPECT_EQ(one.code, 0);
    EXPECT_NE(one.out.find("relkey.007: Zendara 6.0 Controller Options\n"), std::string::npos);
    EXPECT_EQ(one.out.find("relkey.xml"), std::string::npos);
    EXPECT_EQ(Kelsys({"release", zendara, "--options", "--signature", "9"}).code, 2);
}

// list reads the pool without opening its systems: an interrupted change stays
// as it was, and a lock held elsewhere shows as busy.
TEST(Kelsys, ListPool) {
    test::TempDir pool;
    const std::string release = Arg(test::SampleRelease(u"zendara-6.0"));
    ASSERT_EQ(Kelsys({"create", Arg(pool / u"Cell1"), "--release", release, "--key", N(test::kMainKey)}).code, 0);
    ASSERT_EQ(Kelsys({"drive", Arg(pool / u"Cell1"), "add", N(test::kDriveKey), "--number", "1"}).code, 0);
    ASSERT_EQ(Kelsys({"tag", Arg(pool / u"Cell1"), "Line A"}).code, 0);
    ASSERT_EQ(Kelsys({"create", Arg(pool / u"Cell2"), "--release", release, "--key", N(test::kVirtualKey)}).code, 0);
    ASSERT_TRUE(test::WriteAll(pool / u"Cell2\\INTERNAL\\commit.done", ""));
    ASSERT_TRUE(os::MakeDirectory(pool / u"junk"));
    ASSERT_TRUE(os::MakeDirectory(pool / u"~Cell3"));
    ASSERT_TRUE(test::WriteAll(pool / u"notes.txt", "a file"));
    os::FileLock lock;
    ASSERT_EQ(lock.Lock(pool / u"Cell1\\INTERNAL\\kel.lock", os::FileLock::Mode::Exclusive, 0), os::FileLock::Result::Locked);
    const auto before = test::Snapshot(pool.path());
    const auto result = Kelsys({"list", Arg(pool.path()), "--json"});
    EXPECT_EQ(test::Snapshot(pool.path()), before);
    ASSERT_EQ(result.code, 0) << result.out;
    const nlohmann::json entries = nlohmann::json::parse(result.out);
    ASSERT_EQ(entries.size(), 4u) << result.out;
    EXPECT_EQ(entries[0], nlohmann::json::parse(R"({"folder": "Cell1", "system": true, "name": "Cell1", "serial": "12-34567",
        "controller": "real", "release": {"name": "Zendara", "version": "6.00.1211.01"}, "additionalOptions": 0,
        "driveModules": 1, "tag": "Line A", "interrupted": false, "busy": true})"));
    EXPECT_EQ(entries[1]["controller"], "virtual");
    EXPECT_EQ(entries[1]["interrupted"], true);
    EXPECT_EQ(entries[1]["busy"], false);
    EXPECT_EQ(entries[2], nlohmann::json::parse(R"({"folder": "junk", "system": false, "reason": "no system.xml"})"));
    EXPECT_EQ(entries[3]["reason"], "staging");
    EXPECT_NE(Kelsys({"list", Arg(pool.path())}).out.find("~Cell3  not a system (staging)\n"), std::string::npos);
    EXPECT_EQ(Kelsys({"list", Arg(pool / u"none")}).code, 2);
}

TEST(Kelsys, DiffTwoSystems) {
    test::TempDir pool;
    const std::string a = Arg(pool / u"A"), b = Arg(pool / u"B");
    for (const std::string& system : {a, b}) {
        ASSERT_EQ(Kelsys({"create", system, "--release", Arg(test::SampleRelease(u"zendara-6.0")), "--key", N(test::kMainKey)}).code, 0);
    }
    EXPECT_EQ(Kelsys({"diff", a, b}).out, "no differences\n");
    ASSERT_TRUE(test::WriteAll(pool / u"main.mod", "MODULE a"));
    ASSERT_EQ(Kelsys({"home", a, "add", Arg(pool / u"main.mod")}).code, 0);
    ASSERT_EQ(Kelsys({"syspar", a, "add", Arg(pool / u"main.mod")}).code, 0);
    ASSERT_TRUE(test::WriteAll(pool / u"main.mod", "MODULE b"));
    ASSERT_EQ(Kelsys({"home", b, "add", Arg(pool / u"main.mod")}).code, 0);
    ASSERT_EQ(Kelsys({"drive", b, "add", N(test::kDriveKey), "--number", "1"}).code, 0);
    ASSERT_EQ(Kelsys({"options", b, "select", "controller language", "german"}).code, 0);
    const auto result = Kelsys({"diff", a, b, "--json"});
    ASSERT_EQ(result.code, 0) << result.out;
    EXPECT_EQ(nlohmann::json::parse(result.out), nlohmann::json::parse(R"({"releases": [], "mainKey": [], "additionalOptions": [],
        "driveModules": [{"name": "1", "a": null, "b": ")" + N(test::kDriveKey) + R"("}],
        "homeFiles": [{"name": "main.mod", "a": true, "b": true}], "parameterFiles": [{"name": "main.mod", "a": true, "b": false}],
        "options": [{"program": "Zendara", "group": "Controller language", "option": "English", "a": true, "b": false},
                    {"program": "Zendara", "group": "Controller language", "option": "German", "a": false, "b": true}]})"));
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
        if (!ended && !test::WorkDirectories(temp.path()).empty()) sent = kill(child, SIGINT) == 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!ended) {
        ASSERT_EQ(waitpid(child, &status, 0), child);
    }
    EXPECT_TRUE(sent);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_TRUE(WEXITSTATUS(status) == kelsys::kInterrupted || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    EXPECT_EQ(test::WorkDirectories(temp.path()).size(), 0u);
    EXPECT_EQ(test::Verify(system), "clean\n");
}
#endif

}  // namespace
}  // namespace kel

// kelsys as a user runs it: every system and backup command, its output and exit code.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

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

}  // namespace
}  // namespace kel

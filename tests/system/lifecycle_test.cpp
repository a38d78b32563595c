#include <gtest/gtest.h>

#include <set>

#include "platform/fault_injection.h"
#include "platform/os.h"
#include "shared/keystring.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

using test::N;

class Lifecycle : public ::testing::Test {
protected:
    WString Path(WStringView name) const { return pool_ / name; }
    std::string Internal(WStringView name, WStringView file) const {
        return test::ReadAll(Path(name) + u"\\INTERNAL\\" + WString(file));
    }

    test::TempDir pool_;
    std::set<WString> work_ = test::WorkDirectories();
};

TEST_F(Lifecycle, CreateOpenAndReset) {
    const WString release = test::SampleRelease(u"zendara-6.0");
    CSystem created;
    ASSERT_EQ(created.CreateSystem(Path(u"Sys1"), test::kMainKey, release), S_OK);
    const std::string systemGuid = Internal(u"Sys1", u"system.guid");
    EXPECT_NE(systemGuid, Internal(u"Sys1", u"template.guid"));

    // A system with a drive module and an additional program opens with every release found.
    // Names match whatever their case.
    const WString arcKey = test::Rekey(test::kArcKey, [](KeyDescription& key) { key.programName = u"ARCWELDING"; });
    ASSERT_TRUE(test::WriteAll(Path(u"Sys1\\INTERNAL\\keystr.txt"), "#Loaded keys in X:\r\n" + N(test::kMainKey) +
                                                                         "\r\n" + N(test::kDriveKey) + "\t1\r\n" + N(arcKey) + "\r\n"));
    ASSERT_TRUE(test::WriteAll(Path(u"Sys1\\INTERNAL\\program.id"),
                               "#Setup program(s) in X:\r\n" + N(test::SampleRelease(u"arcwelding-1.2")) + "\r\n" +
                                   N(release) + "\r\n"));
    ASSERT_TRUE(test::WriteAll(Path(u"Sys1\\HOME\\a.mod"), "x") && test::WriteAll(Path(u"Sys1\\SYSPAR\\b.cfg"), "y"));
    CSystem opened;
    ASSERT_EQ(opened.InitSystem(Path(u"Sys1")), S_OK);
    std::string keys;
    for (const CKeyInfo& key : opened.KeyList()) {
        keys += N(key.GetProgramPath().substr(key.GetProgramPath().rfind(u'\\') + 1)) + ":" +
                std::to_string(key.GetProgramType()) + ":" + std::to_string(key.GetDriveModuleNr()) + " ";
    }
    EXPECT_EQ(keys, "zendara-6.0:1:0 arcwelding-1.2:2:0 zendara-6.0:1:1 ");
    EXPECT_EQ(opened.Version().major, 6);
    EXPECT_EQ(opened.SerialText(), u"12-34567");

    // Reset keeps the main key and system.guid; everything else is made anew.
    ASSERT_EQ(opened.ResetSystem(), S_OK);
    EXPECT_EQ(Internal(u"Sys1", u"system.guid"), systemGuid);
    EXPECT_FALSE(test::Exists(Path(u"Sys1\\INTERNAL\\template.guid")));
    EXPECT_FALSE(test::Exists(Path(u"Sys1\\SYSPAR\\b.cfg")));

    // Links in HOME go, removed by name or by a reset; what they lead to stays.
    const WString home = Path(u"Sys1\\HOME\\");
    ASSERT_TRUE(os::MakeDirectory(Path(u"outside")) && test::WriteAll(Path(u"outside\\in.mod"), "in"));
    for (const char16_t* name : {u"dir", u"dir2"}) {
        if (!test::MakeLink(home + name, Path(u"outside"))) GTEST_SKIP() << test::kNoLinks;
    }
    ASSERT_TRUE(test::MakeLink(home + u"file", Path(u"outside\\in.mod")));
    EXPECT_TRUE(opened.RemoveHomeFile(u"dir"));
    ASSERT_EQ(opened.ResetSystem(), S_OK);
    for (const char16_t* name : {u"dir", u"dir2", u"file"}) EXPECT_FALSE(os::IsLink(home + name)) << N(name);
    EXPECT_EQ(test::ReadAll(Path(u"outside\\in.mod")), "in");
}

// system.xml built on a second thread beside key.id is the one built after
// it, and key.id, written while that thread reads the same document, the same.
TEST_F(Lifecycle, SystemXmlIsTheSameBuiltBesideKeyId) {
    const WString release = test::SampleRelease(u"zendara-6.0");
    ASSERT_EQ(CSystem().CreateSystem(Path(u"Cell"), test::kMainKey, release), S_OK);
    test::TempDir other;
    const std::size_t from = os::BesideFromNodes();
    os::SetBesideFromNodes(0);
    const HRESULT beside = CSystem().CreateSystem(other / u"Cell", test::kMainKey, release);
    os::SetBesideFromNodes(from);
    ASSERT_EQ(beside, S_OK);
    EXPECT_EQ(test::ReadAll(other / u"Cell\\system.xml"), test::ReadAll(Path(u"Cell\\system.xml")));
    EXPECT_EQ(test::Unsealed(other / u"Cell\\INTERNAL\\key.id"), test::Unsealed(Path(u"Cell\\INTERNAL\\key.id")));
}

TEST_F(Lifecycle, FailuresLeaveNothingBehind) {
    test::TraceCapture traces;
    const WString release = test::SampleRelease(u"zendara-6.0");
    CSystem system;
    ASSERT_TRUE(test::WriteAll(Path(u"File"), "x") && os::MakeDirectory(Path(u"Dir")));
    EXPECT_EQ(system.CreateSystem(Path(u"File"), test::kMainKey, release), KELINSTALL_E_EXISTS);
    EXPECT_TRUE(traces.Has("CSystem::CreateSystem, A file with the specified name already exists at the specified systempool\n"));
    EXPECT_EQ(system.CreateSystem(Path(u"Dir"), test::kMainKey, release), KELINSTALL_E_EXISTS);
    EXPECT_TRUE(traces.Has("CSystem::CreateSystem, A system with the specified name already exists at the specified systempool\n"));
    EXPECT_EQ(system.CreateSystem(Path(u"S"), u"KEL1:bad", release), KELINSTALL_E_BAD_KEY);
    EXPECT_EQ(system.CreateSystem(Path(u"S"), test::kMainKey, pool_ / u"none"), KELINSTALL_E_NO_RELEASE);
    EXPECT_EQ(system.CreateSystem(Path(u"S"), test::kMainKey, test::SampleRelease(u"arcwelding-1.2")),
              KELINSTALL_E_BAD_PROGRAM_PATH);
    const WString key8 = test::Rekey(test::kMainKey, [](KeyDescription& key) { key.signatureNumber = 8; });
    EXPECT_EQ(system.CreateSystem(Path(u"S"), key8, release), KELINSTALL_E_NO_RELKEY);
    EXPECT_TRUE(traces.Has("CSystem::CreateSystem, Unable to create a new system. The relkeyfile " + N(release) +
                           "\\syskey\\relkey.008 don't exist\n"));
    EXPECT_FALSE(test::Exists(Path(u"S")));
    EXPECT_EQ(test::WorkDirectories(), work_);

    // Opening needs every release the walk reaches.
    ASSERT_EQ(system.CreateSystem(Path(u"Old"), test::kVirtualKey, test::SampleRelease(u"zendara-5.11")), S_OK);
    CSystem opened;
    ASSERT_TRUE(test::WriteAll(Path(u"Old\\INTERNAL\\program.id"),
                               "#Setup program(s) in X:\r\n" + N(pool_ / u"vanished") + "\r\n"));
    EXPECT_EQ(opened.InitSystem(Path(u"Old")), KELINSTALL_E_NO_RELEASE);
    EXPECT_TRUE(traces.Has("CSystem::InitSystem, Program: " + N(pool_ / u"vanished") + " does not exist\n"));

    // A reset that cannot rebuild puts the system back as it was.
    CSystem broken;
    ASSERT_EQ(broken.CreateSystem(Path(u"Broken"), test::kMainKey, release), S_OK);
    const std::string keystr = Internal(u"Broken", u"keystr.txt");
    broken.KeyList().At(0).SetKeystring(u"KEL1:bad");
    EXPECT_EQ(broken.ResetSystem(), E_FAIL);
    EXPECT_EQ(Internal(u"Broken", u"keystr.txt"), keystr);
    EXPECT_TRUE(test::Exists(Path(u"Broken\\INTERNAL\\template.guid")));
    EXPECT_EQ(test::WorkDirectories(), work_);
}

}  // namespace
}  // namespace kel

#include <gtest/gtest.h>

#include "platform/os.h"
#include "platform/shell_file_op.h"
#include "shared/keystring.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

using test::N;

class SystemChanges : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(system_.CreateSystem(path_, test::kMainKey, release_), S_OK);
    }
    std::string Internal(WStringView file) const { return test::ReadAll(path_ + u"\\INTERNAL\\" + WString(file)); }
    std::string KeyId() const { return test::Unseal(Internal(u"key.id")); }

    test::TempDir pool_;
    WString path_ = pool_ / u"Sys";
    WString release_ = test::SampleRelease(u"zendara-6.0");
    CSystem system_;
};

TEST_F(SystemChanges, FilesAndTag) {
    test::TraceCapture traces;
    ASSERT_TRUE(test::WriteAll(pool_ / u"a.cfg", "1") && test::WriteAll(pool_ / u"b.cfg", "2"));
    EXPECT_TRUE(system_.AddHomeFile(pool_ / u"a.cfg", false));
    ASSERT_TRUE(test::WriteAll(pool_ / u"a.cfg", "new"));
    EXPECT_FALSE(system_.AddHomeFile(pool_ / u"a.cfg", false));
    EXPECT_TRUE(traces.Has("CSystem::AddHomeFile, File " + N(path_) + "\\HOME\\a.cfg allready exists\n"));
    EXPECT_EQ(test::ReadAll(path_ + u"\\HOME\\a.cfg"), "1");
    EXPECT_TRUE(system_.AddHomeFile(pool_ / u"a.cfg", true));
    EXPECT_EQ(test::ReadAll(path_ + u"\\HOME\\a.cfg"), "new");
    EXPECT_TRUE(system_.AddHomeFile(pool_ / u"b.cfg", false));
    ASSERT_TRUE(os::MakeDirectory(path_ + u"\\HOME\\d"));
    WString list;
    uint32_t count = 0;
    ASSERT_TRUE(system_.GetHomeFileList(list, count));
    EXPECT_TRUE(list == u"a.cfg,b.cfg" || list == u"b.cfg,a.cfg") << N(list);
    EXPECT_EQ(count, 2u);
    ASSERT_TRUE(system_.GetSystemParameterFileList(list, count));
    EXPECT_EQ(list, u"");
    EXPECT_EQ(count, 0u);

    // Names that would reach outside HOME or SYSPAR delete nothing.
    for (const char16_t* name : {u"..\\INTERNAL\\key.id", u"..", u".", u"sub/x", u"missing"}) {
        EXPECT_FALSE(system_.RemoveHomeFile(name)) << N(name);
        EXPECT_FALSE(system_.RemoveSystemParameterFile(name)) << N(name);
    }
    EXPECT_TRUE(test::Exists(path_ + u"\\INTERNAL\\key.id"));

    WString tag = u"unchanged";
    ASSERT_TRUE(system_.GetSystemTag(tag));
    EXPECT_EQ(tag, u"");
    ASSERT_TRUE(system_.SetSystemTag(u"line one\nline two"));
    ASSERT_TRUE(system_.GetSystemTag(tag));
    EXPECT_EQ(tag, u"line one\nline two");

}

TEST_F(SystemChanges, KeysAndProgramPaths) {
    const std::set<WString> work = test::WorkDirectories();
    const WString arc = test::SampleRelease(u"arcwelding-1.2");
    ASSERT_EQ(system_.AddAdditionalOption(test::kArcKey, arc), S_OK);
    ASSERT_EQ(system_.AddAdditionalOption(test::kPickKey, test::SampleRelease(u"pickmaster-2.0")), S_OK);
    ASSERT_EQ(system_.AddDriveModule(test::kDriveKey, 2), S_OK);

    // Duplicates are refused whatever the letter case, and change nothing.
    KeyDescription shouting;
    ASSERT_TRUE(DescribeKey(test::kArcKey, shouting));
    shouting.programName = u"ARCWELDING";
    WString shoutingKey;
    ASSERT_TRUE(MakeKeystring(shouting, shoutingKey));
    EXPECT_EQ(system_.AddAdditionalOption(shoutingKey, arc), KELINSTALL_E_ALREADY_LOADED);
    EXPECT_EQ(system_.AddDriveModule(test::kDriveKey, 2), KELINSTALL_E_ALREADY_LOADED);
    EXPECT_EQ(system_.RemoveDriveModule(7), static_cast<HRESULT>(0x00040540));
    shouting.programName = u"Other";
    ASSERT_TRUE(MakeKeystring(shouting, shoutingKey));
    EXPECT_EQ(system_.AddAdditionalOption(shoutingKey, pool_ / u"none"), KELINSTALL_E_BAD_PROGRAM_PATH);
    EXPECT_EQ(system_.KeyList().Size(), 4u);
    WString keys;
    uint32_t count = 0;
    ASSERT_EQ(system_.GetUsedKeystring(Zendara, keys, count), S_OK);
    EXPECT_EQ(keys, test::kMainKey);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(system_.GetUsedKeystring(External, keys, count), S_OK);
    EXPECT_EQ(keys, WString(test::kArcKey) + u"," + test::kPickKey);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(system_.GetDriveModuleKeys(keys, count), S_OK);
    EXPECT_EQ(keys, test::kDriveKey);

    // Program paths: names match exactly; a new main release path reaches the drive modules too.
    WString path;
    ASSERT_EQ(system_.GetProgramPath(ExternalWithOptions, u"ArcWelding", true, path), S_OK);
    EXPECT_EQ(path, arc);
    EXPECT_EQ(system_.GetProgramPath(ExternalWithOptions, u"arcwelding", true, path), E_INVALIDARG);
    EXPECT_EQ(system_.SetProgramPath(Zendara, u"", false, pool_ / u"none"), KELINSTALL_E_BAD_PROGRAM_PATH);
    const WString old = pool_ / u"copy";
    ASSERT_EQ(ShellFileOperation(ShellOperation::Copy, release_, old, kShellSilentFlags), 0);
    ASSERT_EQ(system_.SetProgramPath(Zendara, u"", false, old), S_OK);
    EXPECT_EQ(system_.KeyList().At(3).GetProgramPath(), old);
    EXPECT_EQ(Internal(u"program.id"), "#Setup program(s) in " + N(path_) + "\\INTERNAL\\program.id:\r\n" +
                                           N(ToUpper(old)) + "\r\n" + N(ToUpper(arc)) + "\r\n" +
                                           N(ToUpper(test::SampleRelease(u"pickmaster-2.0"))) + "\r\n");

    // Replacing keeps the position; removals go through the same commit.
    EXPECT_EQ(system_.ReplaceKeystring(WString(test::kArcKey).replace(5, 1, u"a"), test::kMainKey), E_INVALIDARG);
    KeyDescription arcDescription;
    ASSERT_TRUE(DescribeKey(test::kArcKey, arcDescription));
    arcDescription.selectionText = u"10";
    WString newArc;
    ASSERT_TRUE(MakeKeystring(arcDescription, newArc));
    ASSERT_EQ(system_.ReplaceKeystring(test::kArcKey, newArc), S_OK);
    EXPECT_EQ(system_.KeyList().At(1).GetKeystring(), newArc);
    ASSERT_EQ(system_.RemoveAdditionalOption(u"pickmaster"), S_OK);
    ASSERT_EQ(system_.RemoveDriveModule(2), S_OK);
    EXPECT_EQ(Internal(u"keystr.txt"), "#Loaded keys in " + N(path_) + "\\INTERNAL\\keystr.txt:\r\n" +
                                            N(test::kMainKey) + "\r\n" + N(newArc) + "\r\n");
    EXPECT_EQ(system_.RemoveAdditionalOption(u"pickmaster"), E_INVALIDARG);

    // A given option document is stored as it is, keys unchanged.
    WString options;
    ASSERT_EQ(system_.GetSystemOptions(options), S_OK);
    const std::size_t english = options.find(u"<Selected>1</Selected><LineSelectionDescription>English");
    ASSERT_NE(english, WString::npos);
    EXPECT_NE(KeyId().find("seldesc English\n"), std::string::npos);
    options.replace(english + 10, 1, u"0");
    ASSERT_EQ(system_.AddKeystring(options), S_OK);
    EXPECT_EQ(KeyId().find("seldesc English\n"), std::string::npos);

    EXPECT_EQ(test::WorkDirectories(), work);
}

}  // namespace
}  // namespace kel

// keystr.txt, program.id and key.id as written for a system built from the samples.
#include <gtest/gtest.h>

#include <array>

#include "config/configuration_files.h"
#include "platform/os.h"
#include "platform/path_combine.h"
#include "platform/sealed_file.h"
#include "platform/shell_file_op.h"
#include "shared/keystring.h"
#include "shared/outside_factory.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

using test::N;

WString WithSelection(WStringView keystring, WStringView selection) {
    return test::Rekey(keystring, [&](KeyDescription& key) { key.selectionText = selection; });
}

class ConfigurationWriters : public ::testing::Test {
protected:
    // The main release is a copy, so that its selection files can change.
    ConfigurationWriters() {
        os::MakeDirectory(dir_ / u"INTERNAL");
        system_.SetSystemPath(dir_.path());
        EXPECT_EQ(ShellFileOperation(ShellOperation::Copy, Release(u"zendara-6.0"), releases_ / u"zendara-6.0",
                                     kShellSilentFlags), 0);
    }
    ~ConfigurationWriters() override { ClearOutsideCreationFailures(); }

    void Add(WStringView keystring, WStringView release, uint32_t type, uint16_t module = 0) {
        system_.KeyList().Append(test::Key(keystring, Release(release), type, module));
    }
    WString Release(WStringView name) const {
        if (name == u"zendara-6.0" && test::IsDirectory(releases_ / name)) return releases_ / name;
        return test::SampleRelease(name);
    }
    // Builds the options and writes the three files; SaveConfiguration's result.
    int Save() {
        EXPECT_EQ(system_.BuildSystemOptions(system_.SystemPath()), S_OK);
        return CConfigurationFiles().SaveConfiguration(dir_.path(), u"D:\\Pool\\R1", system_.KeyList(),
                                                       system_.BuiltOptions());
    }
    std::string KeyId() const { return test::Unsealed(dir_ / u"INTERNAL\\key.id"); }

    test::TempDir dir_;
    test::TempDir releases_;
    CSystem system_;
    // German chosen hidden; the two keys after it carry more digits than their programs have options.
    const WString main_ = WithSelection(test::kVirtualKey, u"0210");
    const WString arc_ = WithSelection(test::kArcKey, u"0101110100000");
    const WString drive_ = WithSelection(test::kDriveKey, u"110000000010000");
};

TEST_F(ConfigurationWriters, FilesOfAMainKeyADriveModuleAndTwoAdditionalPrograms) {
    // Selection files arrive as LF from a CR LF file and unsealed from a sealed one.
    ASSERT_TRUE(test::WriteAll(releases_ / u"zendara-6.0\\syskey\\drive1.dat", "unit 1\r\nstandard\r\n"));
    SealedFile sealed;
    ASSERT_TRUE(sealed.OpenForWrite(releases_ / u"zendara-6.0\\syskey\\drive0.dat", 1, 1));
    sealed.WriteText("unit 0 sealed\n");
    ASSERT_TRUE(sealed.Close());
    Add(main_, u"zendara-6.0", Zendara);
    Add(arc_, u"arcwelding-1.2", ExternalWithOptions);
    Add(drive_, u"zendara-6.0", Zendara, 1);
    Add(test::kPickKey, u"pickmaster-2.0", ExternalWithoutOptions);
    ASSERT_EQ(Save(), 0);

    // Drive-module sections come first, whatever the order of the keys.
    EXPECT_EQ(KeyId(), "#CKeyId zdkey " + N(main_) + "\n"
                       "#CKeyId info Serial no VIRTUAL_USE\n"
                       "#CKeyId info Zendara 6.00.1211.01\n"
                       "#CKeyId info Selection(s) setup from zendara-6.0\n"
                       "#CKeyId option Zendara021000000001\n"
                       "#CKeyId seldesc ZR-6 0.6 m reach\n"
                       "#CKeyId seldesc Drive 0 standard\n"
                       "-id System -key \"-id \"\"VIRTUAL_USE\"\" \"\n\n"
                       "-id Product -key \"-id \"\"Zendara\"\" -descr \"\"Zendara 6.00.1211.01\"\" \"\n\n"
                       "unit 0 sealed\n\n\n"
                       "#CKeyId info Included Drive Module(s):\n"
                       "\n#CKeyId dmkey " + N(drive_) + "\n"
                       "#CKeyId info Serial no 12-34567  Program no Zendara\n"
                       "#CKeyId option DriveModule111000000001\n"
                       "#CKeyId info Zendara 6.0 Controller Options\n"
                       "#CKeyId dminfo Selection(s) setup from zendara-6.0\n"
                       "#CKeyId dmseldesc English\n"
                       "#CKeyId dmseldesc ZR-6 0.6 m reach\n"
                       "#CKeyId dmseldesc Drive 1 standard\n"
                       "unit 1\nstandard\n\n"
                       "#CKeyId info Included Addition option program(s):\n"
                       "\n#CKeyId extkey " + N(arc_) + "\n"
                       "#CKeyId info Serial no 12-34567  Program no ArcWelding\n"
                       "#CKeyId option ArcWelding0101110100000\n"
                       "#CKeyId info ArcWelding 1.2\n"
                       "#CKeyId extinfo \n"
                       "#CKeyId extpno ArcWelding\n"
                       "#CKeyId extinfo ArcWelding 1.2\n"
                       "#CKeyId extinfo Selection(s) setup from arcwelding-1.2\n"
                       "#CKeyId extseldesc TIG welding\n"
                       "#CKeyId extseldesc Hot wire\n"
                       "#CKeyId extseldesc Seam tracking\n"
                       "#CKeyId extseldesc Weave patterns\n"
                       "#CKeyId extseldesc Power source\n"
                       "-id ExtOpt -key \"-id \"\"ArcWelding 1.2\"\" -descr \"\"ArcWelding\"\" \"\n"
                       "-id ArcProcess -key \"-id \"\"TIG\"\" \"\n\n"
                       "-id ArcProcess -key \"-id \"\"HotWire\"\" \"\n\n"
                       "-id ArcSeam -key \"-id \"\"Tracking\"\" -sensor \"\"laser\"\" \"\n\n"
                       "-id ArcEquipment -key \"-id \"\"PowerSource\"\" \"\n\n"
                       "\n#CKeyId extkey " + N(test::kPickKey) + "\n"
                       "#CKeyId info Serial no 12-34567  Program no PickMaster\n"
                       "-id ExtOpt -key \"-id \"\"\"\" -descr \"\"PickMaster\"\" \"\n");
}

TEST_F(ConfigurationWriters, SectionsThatCannotBeWritten) {
    Add(test::kVirtualKey, u"zendara-6.0", Zendara);
    ASSERT_EQ(Save(), 0);
    EXPECT_EQ(KeyId().find("Included"), std::string::npos);  // one key: no headings

    // Without the options component every section is left out, and that is no failure.
    Add(test::kDriveKey, u"zendara-6.0", Zendara, 1);
    ASSERT_EQ(system_.BuildSystemOptions(system_.SystemPath()), S_OK);
    SetOutsideCreationFailure(CLSID_KelInstallSystemOptions, E_OUTOFMEMORY);
    EXPECT_EQ(CConfigurationFiles().SaveConfiguration(dir_.path(), dir_.path(), system_.KeyList(),
                                                      system_.BuiltOptions()), 0);
    EXPECT_EQ(KeyId(), "#CKeyId info Included Drive Module(s):\n#CKeyId info Included Addition option program(s):\n");
    ClearOutsideCreationFailures();

    // A missing selection file: -2 in a drive-module section, -1 in the main one.
    test::TraceCapture traces;
    const WString drive1 = releases_ / u"zendara-6.0\\syskey\\drive1.dat";
    ASSERT_TRUE(os::RemoveFile(drive1));
    EXPECT_EQ(Save(), -3);
    EXPECT_TRUE(traces.Has("CConfigurationFiles::WriteDMKeyId, Failure open" + N(drive1) + "\n"));
    EXPECT_TRUE(traces.Has("CConfigurationFiles::WriteKeyId, Failure writing Drive module information to key.id\n"));
    const WString drive0 = releases_ / u"zendara-6.0\\syskey\\drive0.dat";
    ASSERT_TRUE(os::RemoveFile(drive0));
    EXPECT_EQ(Save(), -3);
    EXPECT_TRUE(traces.Has("CConfigurationFiles::WriteKelKeyId, InsertSelfile failure -1 " + N(drive0) + "\n"));
    EXPECT_TRUE(traces.Has("CConfigurationFiles::SaveConfiguration, Failure writing to key.id\n"));
}

TEST_F(ConfigurationWriters, KeyAndProgramListsWriteAndReadBack) {
    CConfigurationFiles files;
    CKeyList keys;
    EXPECT_EQ(files.ReadKeystrTxt(dir_.path(), keys), -1);
    // Program paths in upper case and ANSI; drive modules share the main release's line.
    const WString zendara = u"c:\\Rel\\zendara-\u00e4";
    for (const CKeyInfo& key : {test::Key(u"K1", zendara, Zendara), test::Key(u"K2", zendara, Zendara, 3),
                                test::Key(u"K3", u"c:\\Rel\\arc", ExternalWithOptions)}) {
        keys.Append(key);
    }
    // Lines of any length: a 255-character key with module 100 and a 300-character path come back whole.
    {
        CKeyList longKeys = keys;
        const WString key(255, u'k');
        const WString path = u"c:\\" + WString(300, u'p');
        longKeys.Append(test::Key(key, zendara, Zendara, 100));
        longKeys.Append(test::Key(u"K4", path, ExternalWithOptions));
        ASSERT_EQ(files.WriteKeystrTxt(dir_.path(), u"D:\\S", longKeys) + files.WriteProgramId(dir_.path(), u"D:\\S", longKeys), 0);
        CKeyList read;
        std::vector<WString> programs;
        ASSERT_EQ(files.ReadKeystrTxt(dir_.path(), read) + files.ReadProgramId(dir_.path(), programs), 0);
        ASSERT_EQ(read.Size(), 5u);
        EXPECT_EQ(read.At(3).GetKeystring(), u"K2");
        EXPECT_EQ(read.At(4).GetKeystring(), key);
        EXPECT_EQ(read.At(4).GetDriveModuleNr(), 100);
        ASSERT_EQ(programs.size(), 3u);
        EXPECT_EQ(programs[2], ToUpper(path));
    }
    ASSERT_EQ(files.WriteKeystrTxt(dir_.path(), u"D:\\S", keys) + files.WriteProgramId(dir_.path(), u"D:\\S", keys), 0);
    EXPECT_EQ(test::ReadAll(dir_ / u"INTERNAL\\keystr.txt"), "#Loaded keys in D:\\S\\INTERNAL\\keystr.txt:\r\nK1\r\nK2\t3\r\nK3\r\n");
    EXPECT_EQ(test::ReadAll(dir_ / u"INTERNAL\\program.id"),
              "#Setup program(s) in D:\\S\\INTERNAL\\program.id:\r\nC:\\REL\\ZENDARA-\xC4\r\nC:\\REL\\ARC\r\n");

    for (const char* empty : {"", "Loaded keys\n"}) {
        ASSERT_TRUE(test::WriteAll(dir_ / u"INTERNAL\\keystr.txt", empty));
        EXPECT_EQ(files.ReadKeystrTxt(dir_.path(), keys), -2);
        ASSERT_TRUE(test::WriteAll(dir_ / u"INTERNAL\\program.id", empty));
        std::vector<WString> programs;
        EXPECT_EQ(files.ReadProgramId(dir_.path(), programs), -2);
    }
    // Numbered keys go last, by number; equal numbers keep their order.
    ASSERT_TRUE(test::WriteAll(dir_ / u"INTERNAL\\keystr.txt",
                               "#Loaded keys in X:\r\nA\t2\r\nB\r\n\r\n   \r\nC\t1\r\nD\t0\r\nE\t2\r\nX -5\r\n#F\r\n"));
    ASSERT_EQ(files.ReadKeystrTxt(dir_.path(), keys), 0);
    std::string read;
    for (const CKeyInfo& key : keys) read += N(key.GetKeystring()) + std::to_string(key.GetDriveModuleNr()) + " ";
    EXPECT_EQ(read, "B0 D0 X0 #F0 C1 A2 E2 ");

    ASSERT_TRUE(test::WriteAll(dir_ / u"INTERNAL\\program.id",
                               "#Setup program(s) in X:\r\nC:\\MEDIA\\REL1\r\n#skipped\r\n\r\n.\\..\\REL2\r\n"));
    std::vector<WString> programs = {u"kept"};
    ASSERT_EQ(files.ReadProgramId(dir_.path(), programs), 0);
    WString parent;
    ASSERT_TRUE(PathCombine(dir_.path(), u"..\\REL2", parent));
    EXPECT_EQ(programs, (std::vector<WString>{u"kept", u"C:\\MEDIA\\REL1", parent}));

}

TEST(PathCombine, ResolvesDotSegmentsLikeTheShell) {
    const std::vector<std::array<const char16_t*, 3>> cases = {
        {u"D:\\Pool\\R1", u"..\\..\\MEDIA\\REL1", u"D:\\MEDIA\\REL1"},
        {u"D:\\Pool\\R1", u".\\a\\.\\b\\", u"D:\\Pool\\R1\\a\\b\\"},
        {u"D:\\Pool", u"..\\..\\..", u"D:\\"},
        {u"D:\\Pool\\R1", u"C:\\MEDIA\\REL1", u"C:\\MEDIA\\REL1"},
        {u"D:\\Pool\\R1", u"\\MEDIA", u"D:\\MEDIA"},
        {u"\\\\srv\\share\\a", u"..\\..\\b", u"\\\\srv\\share\\b"},
    };
    for (const auto& [directory, path, expected] : cases) {
        WString out;
        EXPECT_TRUE(PathCombine(directory, path, out));
        EXPECT_EQ(out, expected) << N(directory) << " + " << N(path);
    }
    WString out = u"untouched";
    EXPECT_FALSE(PathCombine(u"D:\\", WString(260, u'a'), out));
    EXPECT_EQ(out, u"untouched");
}

}  // namespace
}  // namespace kel

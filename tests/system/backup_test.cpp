#include <gtest/gtest.h>

#include "description/backup_support.h"
#include "platform/fault_injection.h"
#include "platform/os.h"
#include "platform/xml.h"
#include "support/test_support.h"
#include "system/system.h"

namespace kel {
namespace {

using test::N;

WString Backup(WStringView name) { return test::SourceDir() + u"\\samples\\backups\\" + WString(name); }

TEST(Backup, CheckAndDescribe) {
    test::TraceCapture traces;
    WString message;
    CBackupSupport support(message);
    WString keys;
    uint32_t count = 0;
    ASSERT_EQ(support.CheckBackup(Backup(u"cell1"), keys, count), S_OK);
    EXPECT_EQ(keys, WString(test::kMainKey) + u";" + test::kArcKey + u";" + test::kDriveKey);
    EXPECT_EQ(count, 3u);

    // The first missing file ends the check and is named in full.
    EXPECT_EQ(support.CheckBackup(Backup(u"no-backinfo"), keys, count), E_INVALIDARG);
    EXPECT_EQ(N(message), "CBackupSupport::FindBackInfoFile: Backup is missing " + N(Backup(u"no-backinfo")) +
                              "\\BACKINFO\\backinfo.txt");
    EXPECT_EQ(traces.records().size(), 1u);
    EXPECT_EQ(support.CheckBackup(Backup(u"broken-xml"), keys, count), E_UNEXPECTED);
    WString text;
    EXPECT_EQ(support.GetBackupInfo(Backup(u"broken-xml"), text), E_UNEXPECTED);
    EXPECT_EQ(N(message), "CBackupSupport::GetBackupInfo: Not an correct backup.\n");
}

TEST(Backup, ConvertsIntoANewSystem) {
    test::TempDir pool;
    const WString release = test::SampleRelease(u"zendara-6.0");
    const WString arc = test::SampleRelease(u"arcwelding-1.2");
    const WString path = pool / u"Restored";
    CSystem system;
    // The count asks for more programs than the text names: refused before anything is made.
    EXPECT_EQ(system.InitBackup(Backup(u"cell1"), path, release, arc, 2), E_UNEXPECTED);
    EXPECT_FALSE(test::Exists(path));
    ASSERT_EQ(system.InitBackup(Backup(u"cell1"), path, release, arc + u";;" + arc, 1), S_OK);
    // The header names the file where it was written, in the work directory.
    const std::string programs = test::ReadAll(path + u"\\INTERNAL\\program.id");
    EXPECT_EQ(programs.rfind("#Setup program(s) in ", 0), 0u);
    EXPECT_EQ(programs.substr(programs.find('\n') + 1), N(release) + "\r\n" + N(arc) + "\r\n" + N(arc) + "\r\n");
    EXPECT_EQ(test::ReadAll(path + u"\\INTERNAL\\keystr.txt"), test::ReadAll(Backup(u"cell1\\BACKINFO\\keystr.txt")));
    EXPECT_EQ(test::ReadAll(path + u"\\BACKUP\\HOME\\main.mod"), test::ReadAll(Backup(u"cell1\\HOME\\main.mod")));
    EXPECT_EQ(test::Verify(path), "clean\n");  // its folders, GUIDs, name and keys
    xml::Document description = xml::Document::Create();
    ASSERT_TRUE(description.Load(path + u"\\system.xml"));
    EXPECT_EQ(description.Root().FirstChild(u"ControlModule").Children(u"Category").size(), 11u);
    EXPECT_EQ(description.Root().FirstChild(u"UsedMedia").Children(u"Media").size(), 3u);
    EXPECT_EQ(description.Root().FirstChild(u"UsedMedia").FirstChild(u"Media").Attribute(u"path"), release);

    // An existing target is left alone.
    const auto before = test::Snapshot(path);
    EXPECT_EQ(system.InitBackup(Backup(u"cell1"), path, release, u"", 0), KELINSTALL_E_EXISTS);
    EXPECT_EQ(test::Snapshot(path), before);
    EXPECT_EQ(system.InitBackup(Backup(u"no-backinfo"), pool / u"Other", release, u"", 0), KELINSTALL_E_BAD_PROGRAM_PATH);
    EXPECT_EQ(system.InitBackup(Backup(u"cell1"), pool / u"Other", arc, u"", 0), KELINSTALL_E_BAD_PROGRAM_PATH);
}

TEST(Backup, FailedConversionsLeaveNothingBehind) {
    test::TempDir pool;
    const WString target = pool / u"New";
    WString message;
    for (const test::Fault& fault : {
             test::Fault{os::Primitive::MakeDirectory, 1, E_UNEXPECTED, "CBackupSupport::CheckBackup: Couldn't create temporary folder"},
             test::Fault{os::Primitive::MakeDirectory, 3, KELINSTALL_E_CREATE_DIRECTORY, nullptr},
             test::Fault{os::Primitive::CopyOneFile, 1, KELINSTALL_E_WORK_AREA, "CBackupSupport::CheckBackup: Failure copying backup"},
             test::Fault{os::Primitive::OpenForWrite, 2, KELINSTALL_E_GUID_FILE, "CBackupSupport::ConvertBackup2System: Couldn't generate new system GUID!"},
             test::Fault{os::Primitive::OpenForWrite, 3, E_UNEXPECTED, "CBackupSupport::MakeProgramId: Couldn't create file!"},
             test::Fault{os::Primitive::Write, 1, KELINSTALL_E_WORK_AREA, "CBackupSupport::CheckBackup: Failure copying system XML"},
         }) {
        test::ExpectFault(
            fault,
            [&] {
                return CBackupSupport(message).ConvertBackup2System(Backup(u"cell1"), target,
                                                                    test::SampleRelease(u"zendara-6.0"), u"", 0);
            },
            [&] { EXPECT_FALSE(test::Exists(target)); });
    }
    test::TraceCapture traces;
    EXPECT_EQ(CBackupSupport(message).ConvertBackup2System(Backup(u"cell1"), u"NoBackslash", u"R", u"", 0),
              E_UNEXPECTED);
    EXPECT_TRUE(traces.Has("CBackupSupport::ModifySystemXml, Corrupt system path detected!"));
}

}  // namespace
}  // namespace kel

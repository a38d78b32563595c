#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/test_support.h"
#include "shared/file_operation.h"
#include "shared/temp_file_handler.h"

namespace kel {
namespace {

using test::Exists;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

void MakeSystem(const WString& root, bool withBackup) {
    for (const char16_t* sub : {u"", u"\\HOME", u"\\SYSPAR", u"\\INTERNAL", u"\\INTERNAL\\SUB"}) {
        ASSERT_TRUE(os::MakeDirectory(root + sub));
    }
    if (withBackup) {
        ASSERT_TRUE(os::MakeDirectory(root + u"\\BACKUP"));
        ASSERT_TRUE(WriteAll(root + u"\\BACKUP\\b.cfg", "backup"));
    }
    for (const char16_t* file : {u"keystr.txt", u"program.id", u"key.id", u"system.guid", u"template.guid"}) {
        ASSERT_TRUE(WriteAll(root + u"\\INTERNAL\\" + file, "old"));
    }
    ASSERT_TRUE(WriteAll(root + u"\\HOME\\shared.prg", "old"));
    ASSERT_TRUE(WriteAll(root + u"\\HOME\\only-in-system.prg", "mine"));
    ASSERT_TRUE(WriteAll(root + u"\\SYSPAR\\moc.cfg", "old"));
    ASSERT_TRUE(WriteAll(root + u"\\system.xml", "old"));
    ASSERT_TRUE(WriteAll(root + u"\\info.txt", "tag"));
}

class WorkArea : public ::testing::TestWithParam<bool> {};

TEST_P(WorkArea, CopyToTempAndBackCarriesWhatItShould) {
    const bool withBackup = GetParam();
    TempDir dir;
    const WString system = dir / u"Sys";
    MakeSystem(system, withBackup);

    CTempFileHandler handler;
    WString work;
    ASSERT_TRUE(handler.CopyToTemp(system, work));
    EXPECT_EQ(ReadAll(work + u"\\HOME\\only-in-system.prg"), "mine");
    EXPECT_EQ(ReadAll(work + u"\\INTERNAL\\system.guid"), "old");
    EXPECT_EQ(Exists(work + u"\\BACKUP\\b.cfg"), withBackup);
    EXPECT_FALSE(Exists(work + u"\\INTERNAL\\template.guid"));
    EXPECT_FALSE(Exists(work + u"\\INTERNAL\\SUB"));
    EXPECT_FALSE(Exists(work + u"\\info.txt"));

    // The work copy is what comes back; a file only the system has survives.
    ASSERT_TRUE(os::RemoveFile(work + u"\\HOME\\only-in-system.prg"));
    ASSERT_TRUE(WriteAll(work + u"\\HOME\\shared.prg", "new"));
    ASSERT_TRUE(WriteAll(work + u"\\HOME\\added.prg", "added"));
    ASSERT_TRUE(WriteAll(work + u"\\INTERNAL\\key.id", "new"));
    ASSERT_TRUE(WriteAll(work + u"\\system.xml", "new"));
    ASSERT_TRUE(handler.MoveFromTemp(work, system));

    EXPECT_FALSE(Exists(work));
    EXPECT_EQ(ReadAll(system + u"\\HOME\\shared.prg"), "new");
    EXPECT_EQ(ReadAll(system + u"\\HOME\\added.prg"), "added");
    EXPECT_EQ(ReadAll(system + u"\\HOME\\only-in-system.prg"), "mine");
    EXPECT_EQ(ReadAll(system + u"\\INTERNAL\\key.id"), "new");
    EXPECT_EQ(ReadAll(system + u"\\INTERNAL\\template.guid"), "old");
    EXPECT_EQ(ReadAll(system + u"\\system.xml"), "new");
    EXPECT_EQ(ReadAll(system + u"\\BACKUP\\b.cfg"), withBackup ? "backup" : "");
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutBackup, WorkArea, ::testing::Bool());

TEST(WorkAreaFailures, AFailedMoveBackStopsAndKeepsTheWorkDirectory) {
    TempDir dir;
    const WString system = dir / u"Sys";
    MakeSystem(system, false);
    CTempFileHandler handler;
    WString work;
    ASSERT_EQ(handler.GetTempDirectory(work), 0);
    ASSERT_TRUE(os::MakeDirectory(work + u"\\HOME"));
    EXPECT_FALSE(handler.MoveFromTemp(work, system));
    EXPECT_TRUE(Exists(work));
    EXPECT_EQ(test::N(handler.LastError()), "CTempFileHandler::MoveFile, Unable to move directory " + test::N(work) + "\\SYSPAR.\n");
    RemoveDirectoryTree(work);
    EXPECT_FALSE(Exists(work));
}

TEST(FileOperation, RootedPathsAndDirectoryCreation) {
    EXPECT_TRUE(CFileOperation::IsRootedPath(u"\\\\server\\share"));
    EXPECT_FALSE(CFileOperation::IsRootedPath(u"C:dir"));
    EXPECT_FALSE(CFileOperation::IsRootedPath(u"\\single"));

    TempDir dir;
    CFileOperation files;
    const WString deep = dir / u"a\\b\\c";
    EXPECT_FALSE(files.CreateDirectory(deep, false));
    EXPECT_TRUE(files.CreateDirectory(deep, true));
    EXPECT_TRUE(test::IsDirectory(deep));
    EXPECT_FALSE(files.CreateDirectory(deep, true));
    EXPECT_FALSE(files.CreateDirectory(u"rel\\dir", true));
}

TEST(FileOperation, PathsBeyondTheShellBufferAreRefused) {
    TempDir dir;
    ASSERT_TRUE(WriteAll(dir / u"f.txt", "x"));
    CFileOperation files;
    WString longTarget = dir.path() + u"\\";
    longTarget.append(260 - longTarget.size(), u'n');
    EXPECT_FALSE(files.Copy(dir / u"f.txt", longTarget, kShellSilentFlags));
    EXPECT_NE(files.LastResult(), 0);
    longTarget.pop_back();
    EXPECT_TRUE(files.Copy(dir / u"f.txt", longTarget, kShellSilentFlags));
    EXPECT_EQ(files.LastResult(), 0);
}

}  // namespace
}  // namespace kel

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/test_support.h"
#include "shared/file_operation.h"
#include "shared/commit_journal.h"
#include "shared/temp_file_handler.h"

namespace kel {
namespace {

using test::Exists;
using test::TempDir;
using test::WriteAll;

// Recovery at every point of a change is the kill harness's; here, the journals
// that must not be carried out.
TEST(CommitJournal, AJournalCutShortOrReachingOutsideIsRefused) {
    TempDir dir;
    const WString system = dir / u"Sys";
    ASSERT_TRUE(os::MakeDirectory(system) && os::MakeDirectory(system + u"\\INTERNAL") &&
                os::MakeDirectory(system + u"\\HOME"));
    // A name like a staged one that no journal names may be the user's: it stays.
    ASSERT_TRUE(WriteAll(dir / u"keep.txt", "x") && WriteAll(system + u"\\system.xml.kel-new", "mine"));
    EXPECT_TRUE(CCommitJournal::Recover(system));
    EXPECT_TRUE(Exists(system + u"\\system.xml.kel-new"));
    for (const char* journal : {"kel-commit 1\nreplace\tsystem.xml\n", "kel-commit 1\nempty\tHOME\\..\\..\t\nend\n",
                                "kel-commit 1\nempty-files\tC:\\\t\nend\n", "kel-commit 2\nreplace\tsystem.xml\t..\\..\\keep.txt\nend\n"}) {
        ASSERT_TRUE(WriteAll(system + u"\\INTERNAL\\commit.journal", journal));
        EXPECT_FALSE(CCommitJournal::Recover(system)) << journal;
        EXPECT_TRUE(Exists(system + u"\\INTERNAL\\commit.journal"));
    }
    // An undecided change that reaches outside, or was cut short, names nothing to delete.
    ASSERT_TRUE(os::RemoveFile(system + u"\\INTERNAL\\commit.journal"));
    for (const char* staging : {"kel-commit 2\nreplace\tsystem.xml\t..\\..\\keep.txt\nend\n", "kel-commit 2\nrepl"}) {
        ASSERT_TRUE(WriteAll(system + u"\\INTERNAL\\commit.staging", staging));
        EXPECT_TRUE(CCommitJournal::Recover(system)) << staging;
        EXPECT_FALSE(Exists(system + u"\\INTERNAL\\commit.staging"));
    }
    EXPECT_TRUE(Exists(dir / u"keep.txt"));
}

// Only marked work folders whose maker is gone are removed.
TEST(WorkArea, AbandonedWorkFoldersGoOthersStay) {
    TempDir dir;
    os::FileLock alive;
    for (const char16_t* folder : {u"cct0001.tmp", u"cct0002.tmp", u"cct0003.tmp", u"ccx0004.tmp"}) {
        ASSERT_TRUE(os::MakeDirectory(dir / folder) && os::MakeDirectory(dir / folder + u"\\INTERNAL"));
        if (folder != WStringView(u"cct0003.tmp")) {
            ASSERT_TRUE(WriteAll(dir / folder + u"\\" + kLockFile, ""));
        }
    }
    ASSERT_EQ(alive.Lock(dir / u"cct0002.tmp\\" + kLockFile, os::FileLock::Mode::Shared, 0), os::FileLock::Result::Locked);
    RemoveAbandonedWorkFolders(dir.path());
    EXPECT_FALSE(Exists(dir / u"cct0001.tmp"));
    EXPECT_TRUE(Exists(dir / u"cct0002.tmp"));  // its maker lives
    EXPECT_TRUE(Exists(dir / u"cct0003.tmp"));  // no marker: not ours
    EXPECT_TRUE(Exists(dir / u"ccx0004.tmp"));  // not a work folder's name
    // A work folder in use is never taken for an abandoned one.
    CTempFileHandler work;
    WString path;
    ASSERT_TRUE(work.GetWorkDirectory(path));
    EXPECT_FALSE(IsAbandonedWorkFolder(path));
    work.Remove();
    EXPECT_FALSE(Exists(path));
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

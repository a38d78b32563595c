#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/test_support.h"
#include "shared/file_operation.h"
#include "shared/commit_journal.h"

namespace kel {
namespace {

using test::Exists;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// A system with old configuration files and new ones in a work directory.
void MakeSystem(const WString& system, const WString& work) {
    for (const WString& directory : {system, system + u"\\HOME", system + u"\\HOME\\SUB", system + u"\\INTERNAL",
                                     system + u"\\INTERNAL\\SUB"}) {
        ASSERT_TRUE(os::MakeDirectory(directory));
    }
    ASSERT_TRUE(test::IsDirectory(work) || os::MakeDirectory(work));
    for (const char16_t* file : {u"INTERNAL\\key.id", u"INTERNAL\\system.guid", u"INTERNAL\\template.guid",
                                 u"HOME\\a.prg", u"HOME\\SUB\\b.prg", u"system.xml"}) {
        ASSERT_TRUE(WriteAll(system + u"\\" + file, "old"));
    }
    ASSERT_TRUE(WriteAll(work + u"\\key.id", "new") && WriteAll(work + u"\\system.xml", "new"));
}

void Plan(CCommitJournal& journal, const WString& work) {
    journal.Empty(u"HOME");
    journal.Empty(u"INTERNAL", true, u"system.guid");
    journal.Replace(u"INTERNAL\\key.id", work + u"\\key.id");
    journal.Replace(u"system.xml", work + u"\\system.xml");
}

void ExpectNew(const WString& system) {
    EXPECT_EQ(ReadAll(system + u"\\INTERNAL\\key.id"), "new");
    EXPECT_EQ(ReadAll(system + u"\\system.xml"), "new");
    EXPECT_EQ(ReadAll(system + u"\\INTERNAL\\system.guid"), "old");
    EXPECT_FALSE(Exists(system + u"\\INTERNAL\\template.guid"));
    EXPECT_TRUE(test::IsDirectory(system + u"\\INTERNAL\\SUB"));
    std::vector<os::DirEntry> home;
    ASSERT_TRUE(os::ListDirectory(system + u"\\HOME", home));
    EXPECT_TRUE(home.empty());
    EXPECT_FALSE(Exists(system + u"\\INTERNAL\\commit.journal"));
    EXPECT_FALSE(Exists(system + u"\\system.xml.kel-new"));
}

TEST(CommitJournal, ADecidedChangeIsFinishedByWhoeverComesFirst) {
    TempDir dir;
    WString system = dir / u"Sys";
    const WString work = dir / u"work";
    MakeSystem(system, work);
    {
        CCommitJournal journal(system);
        Plan(journal, work);
        ASSERT_TRUE(journal.Stage());
        EXPECT_EQ(ReadAll(system + u"\\system.xml"), "old");
        ASSERT_TRUE(journal.Apply());
        ExpectNew(system);
    }
    // Stopped after staging: the next open finishes it, also a second time.
    MakeSystem(system = dir / u"Sys2", work);
    CCommitJournal stopped(system);
    Plan(stopped, work);
    ASSERT_TRUE(stopped.Stage());
    ASSERT_TRUE(os::Rename(system + u"\\INTERNAL\\key.id.kel-new", system + u"\\INTERNAL\\key.id", true) ==
                os::RenameResult::Ok);
    EXPECT_TRUE(CCommitJournal::Recover(system));
    ExpectNew(system);
    EXPECT_TRUE(CCommitJournal::Recover(system));
    ExpectNew(system);
}

TEST(CommitJournal, StagedFilesWithoutAJournalAreDropped) {
    TempDir dir;
    WString system = dir / u"Sys";
    const WString work = dir / u"work";
    MakeSystem(system, work);
    ASSERT_TRUE(WriteAll(system + u"\\system.xml.kel-new", "half"));
    ASSERT_TRUE(WriteAll(system + u"\\INTERNAL\\key.id.kel-new", "half"));
    EXPECT_TRUE(CCommitJournal::Recover(system));
    EXPECT_FALSE(Exists(system + u"\\system.xml.kel-new"));
    EXPECT_FALSE(Exists(system + u"\\INTERNAL\\key.id.kel-new"));
    EXPECT_EQ(ReadAll(system + u"\\system.xml"), "old");

    // A journal that is cut short or reaches outside the system is left for a person to look at.
    for (const char* journal : {"kel-commit 1\nreplace\tsystem.xml\n", "kel-commit 1\nempty\t..\\Other\t\nend\n",
                                "kel-commit 1\nempty\tHOME\\..\\..\t\nend\n"}) {
        ASSERT_TRUE(WriteAll(system + u"\\INTERNAL\\commit.journal", journal));
        EXPECT_FALSE(CCommitJournal::Recover(system)) << journal;
        EXPECT_TRUE(Exists(system + u"\\INTERNAL\\commit.journal"));
    }
    EXPECT_TRUE(Exists(system + u"\\HOME\\a.prg"));

    // A source that cannot be staged leaves the system as it was.
    CCommitJournal journal(system = dir / u"Sys2");
    MakeSystem(system, work);
    journal.Replace(u"system.xml", work + u"\\system.xml");
    journal.Replace(u"INTERNAL\\key.id", work + u"\\missing");
    EXPECT_FALSE(journal.Stage());
    EXPECT_EQ(ReadAll(system + u"\\system.xml"), "old");
    EXPECT_FALSE(Exists(system + u"\\system.xml.kel-new"));
    EXPECT_FALSE(Exists(system + u"\\INTERNAL\\commit.journal"));
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

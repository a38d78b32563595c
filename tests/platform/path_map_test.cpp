#ifndef _WIN32
#include "platform/posix/path_map.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/os.h"
#include "support/test_support.h"

namespace kel::os::posix {
namespace {

TEST(PathMap, DriveRootedAndRelativeForms) {
    EXPECT_EQ(MapPath(u"Z:\\no-such-dir-kel\\b"), "/no-such-dir-kel/b");
    EXPECT_EQ(MapPath(u"Z:\\"), "/");
    EXPECT_EQ(MapPath(u"C:\\Pool\\Sys"), "/mnt/c/Pool/Sys");
    EXPECT_EQ(MapPath(u"\\no-such-dir-kel\\b"), "/no-such-dir-kel/b");
    EXPECT_EQ(MapPath(u"no-such-dir-kel\\b"), "no-such-dir-kel/b");
    // Runs of separators are one; one at the end is none.
    EXPECT_EQ(MapPath(u"Z:\\\\no-such-dir-kel\\\\\\b\\"), "/no-such-dir-kel/b");
    EXPECT_EQ(MapPath(u"C:\\x\\"), "/mnt/c/x");
    EXPECT_EQ(MapPath(u"no-such-dir-kel\\\\M\xFCller\\"), "no-such-dir-kel/M\xC3\xBCller");
    EXPECT_EQ(MapPath(u"\\\\server\\share\\x"), std::nullopt);
    EXPECT_EQ(MapPath(u"Z:\\a/b"), std::nullopt);
    EXPECT_EQ(MapPath(WStringView(u"Z:\\a\0b", 6)), std::nullopt);
    EXPECT_EQ(MapPath(u""), std::nullopt);
    EXPECT_EQ(UnmapPath("/tmp/x"), u"Z:\\tmp\\x");
    EXPECT_EQ(UnmapPath("/"), u"Z:\\");
    EXPECT_EQ(UnmapPath("rel/x"), u"rel\\x");
}

TEST(PathMap, ExistingComponentsResolveIgnoringCase) {
    test::TempDir dir;
    ASSERT_TRUE(MakeDirectory(dir / u"Pool"));
    ASSERT_TRUE(MakeDirectory(dir / u"Pool\\M\u00fcller"));
    ASSERT_TRUE(test::WriteAll(dir / u"Pool\\M\u00fcller\\program.id", "x"));
    const std::string native = *MapPath(dir.path());

    // program.id holds upper-cased paths: they must still find the files.
    const WString upper = ToUpper(dir.path().substr(2)) + u"\\POOL\\M\u00dcLLER\\PROGRAM.ID";
    EXPECT_EQ(MapPath(u"Z:" + upper), native + "/Pool/M\xC3\xBCller/program.id");
    // The first missing component keeps its case; so does everything after it.
    EXPECT_EQ(MapPath(dir / u"POOL\\NewSys\\HOME"), native + "/Pool/NewSys/HOME");

    // A remembered match that is gone is searched for again.
    std::filesystem::rename(native + "/Pool", native + "/pOOL");
    EXPECT_EQ(MapPath(u"Z:" + upper), native + "/pOOL/M\xC3\xBCller/program.id");

    // What acts on an existing entry tries the path as written first, then
    // finds it the same way.
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(u"Z:" + upper, bytes));
    EXPECT_EQ(bytes, "x");
    const WString moved = dir / u"POOL\\M\u00dcLLER\\moved.id";
    EXPECT_EQ(Rename(u"Z:" + upper, moved), RenameResult::Ok);
    EXPECT_EQ(Rename(u"Z:" + upper, moved), RenameResult::Failed);
    EXPECT_FALSE(RemoveEmptyDirectory(dir / u"POOL\\M\u00dcLLER"));
    EXPECT_TRUE(RemoveFile(dir / u"pool\\m\u00fcller\\MOVED.ID"));
    EXPECT_FALSE(RemoveFile(dir / u"pool\\m\u00fcller\\MOVED.ID"));
    EXPECT_TRUE(RemoveEmptyDirectory(dir / u"POOL\\M\u00dcLLER"));
    EXPECT_FALSE(Exists(dir / u"pOOL\\M\u00fcller"));
}

TEST(PathMap, NewNamesInAnOwnFolderAreTakenAsWritten) {
    test::TempDir dir;
    for (const char16_t* folder : {u"own", u"own\\sub", u"owner"}) {
        ASSERT_TRUE(MakeDirectory(dir / folder));
        ASSERT_TRUE(test::WriteAll(dir / folder + u"\\KEY.ID", "x"));
    }
    const std::string native = *MapPath(dir.path());
    os::MarkOwnFolder(dir / u"own", true);
    EXPECT_EQ(MapPath(dir / u"own\\key.id"), native + "/own/key.id");
    EXPECT_EQ(MapPath(dir / u"own\\sub\\key.id"), native + "/own/sub/key.id");
    // Only that folder and what lies inside it.
    EXPECT_EQ(MapPath(dir / u"owner\\key.id"), native + "/owner/KEY.ID");
    os::MarkOwnFolder(dir / u"own", false);
    EXPECT_EQ(MapPath(dir / u"own\\key.id"), native + "/own/KEY.ID");
}

TEST(PathMap, AMissInAFolderThatStoodStillIsSearchedAgainOnceItChanges) {
    test::TempDir dir;
    ASSERT_TRUE(MakeDirectory(dir / u"rel"));
    const std::string native = *MapPath(dir / u"rel");
    // Only a folder unchanged for two seconds keeps its misses.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(MapPath(dir / u"rel\\media.id"), native + "/media.id");
    EXPECT_EQ(MapPath(dir / u"rel\\media.id"), native + "/media.id");
    ASSERT_TRUE(test::WriteAll(dir / u"rel\\MEDIA.ID", "x"));
    EXPECT_EQ(MapPath(dir / u"rel\\media.id"), native + "/MEDIA.ID");
}

TEST(PathMap, ClearedNamesAreMadeAsWritten) {
    test::TempDir dir;
    const std::string native = *MapPath(dir.path());
    ASSERT_TRUE(test::WriteAll(dir / u"KEY.ID", "old"));
    ASSERT_TRUE(test::WriteAll(dir / u"~+", "new"));
    ASSERT_TRUE(test::WriteAll(dir / u"~+1", "newer"));
    // Searched, a new name lands on the entry that differs only in case.
    EXPECT_EQ(Rename(dir / u"~+", dir / u"Key.Id", true), RenameResult::Ok);
    EXPECT_FALSE(std::filesystem::exists(native + "/Key.Id"));
    // Cleared, it is made as written.
    EXPECT_EQ(Rename(dir / u"~+1", dir / u"key.id", true, NewName::Cleared), RenameResult::Ok);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir / u"KEY.ID", bytes));
    EXPECT_EQ(bytes, "new");
    EXPECT_TRUE(ReadWholeFile(dir / u"key.id", bytes));
    EXPECT_EQ(bytes, "newer");

    ASSERT_TRUE(MakeDirectory(dir / u"home"));
    EXPECT_FALSE(MakeDirectory(dir / u"HOME"));
    EXPECT_TRUE(MakeDirectory(dir / u"HOME", NewName::Cleared));
    EXPECT_TRUE(std::filesystem::is_directory(native + "/HOME"));
}

}  // namespace
}  // namespace kel::os::posix
#endif

#include <gtest/gtest.h>

#include <fstream>

#include "platform/os.h"
#include "platform/shell_file_op.h"
#if !defined(_WIN32)
#include "platform/posix/path_map.h"
#endif
#include "support/test_support.h"

namespace kel {
namespace {

using test::Exists;
using test::N;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;

int Op(ShellOperation op, const WString& from, const WString& to = {}) {
    return ShellFileOperation(op, from, to, kShellSilentFlags);
}

// a.txt, sub\b.txt, sub\deep\c.txt
void MakeTree(const WString& root) {
    ASSERT_TRUE(os::MakeDirectory(root) && os::MakeDirectory(root + u"\\sub") &&
                os::MakeDirectory(root + u"\\sub\\deep"));
    ASSERT_TRUE(WriteAll(root + u"\\a.txt", "a") && WriteAll(root + u"\\sub\\b.txt", "b") &&
                WriteAll(root + u"\\sub\\deep\\c.txt", "c"));
}

TEST(ShellFileOperation, WildcardCopyMergesIntoAnExistingTreeAndOverwrites) {
    TempDir dir;
    MakeTree(dir / u"src");
    ASSERT_TRUE(os::MakeDirectory(dir / u"dst"));
    ASSERT_TRUE(os::MakeDirectory(dir / u"dst\\sub"));
    ASSERT_TRUE(WriteAll(dir / u"dst\\sub\\b.txt", "old"));
    ASSERT_TRUE(WriteAll(dir / u"dst\\sub\\keep.txt", "keep"));

    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"src\\*", dir / u"dst"), 0);
    EXPECT_EQ(ReadAll(dir / u"dst\\a.txt"), "a");
    EXPECT_EQ(ReadAll(dir / u"dst\\sub\\b.txt"), "b");
    EXPECT_EQ(ReadAll(dir / u"dst\\sub\\keep.txt"), "keep");
    EXPECT_EQ(ReadAll(dir / u"dst\\sub\\deep\\c.txt"), "c");
    EXPECT_EQ(ReadAll(dir / u"src\\a.txt"), "a");

    // "*.*" means the same; a missing destination folder is created.
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"src\\sub\\*.*", dir / u"new\\folder"), 0);
    EXPECT_EQ(ReadAll(dir / u"new\\folder\\deep\\c.txt"), "c");
    EXPECT_NE(Op(ShellOperation::Copy, dir / u"missing\\*", dir / u"x"), 0);
}

TEST(ShellFileOperation, SingleSourceLandsAsOrInsideTheDestination) {
    TempDir dir;
    MakeTree(dir / u"src");
    // Missing destination: the source becomes it.
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"src", dir / u"copy"), 0);
    EXPECT_EQ(ReadAll(dir / u"copy\\sub\\deep\\c.txt"), "c");
    // Existing directory: the source goes inside it, merging with what is there.
    ASSERT_TRUE(os::MakeDirectory(dir / u"into"));
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"src", dir / u"into"), 0);
    EXPECT_EQ(ReadAll(dir / u"into\\src\\sub\\b.txt"), "b");
    ASSERT_TRUE(WriteAll(dir / u"src\\sub\\b.txt", "b2"));
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"src", dir / u"into"), 0);
    EXPECT_EQ(ReadAll(dir / u"into\\src\\sub\\b.txt"), "b2");
    // File onto file overwrites; file onto a directory of the same name fails.
    ASSERT_TRUE(WriteAll(dir / u"one.txt", "new"));
    ASSERT_TRUE(WriteAll(dir / u"two.txt", "old"));
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"one.txt", dir / u"two.txt"), 0);
    EXPECT_EQ(ReadAll(dir / u"two.txt"), "new");
    ASSERT_TRUE(os::MakeDirectory(dir / u"clash"));
    ASSERT_TRUE(os::MakeDirectory(dir / u"clash\\one.txt"));
    EXPECT_NE(Op(ShellOperation::Copy, dir / u"one.txt", dir / u"clash"), 0);
    // Into its own subtree never finishes, so it is refused.
    EXPECT_NE(Op(ShellOperation::Copy, dir / u"src", dir / u"src\\sub"), 0);
    EXPECT_NE(Op(ShellOperation::Copy, dir / u"nothing", dir / u"x"), 0);
    // A whole tree goes at once; what is gone cannot go again.
    EXPECT_EQ(Op(ShellOperation::Delete, dir / u"into"), 0);
    EXPECT_FALSE(Exists(dir / u"into"));
    EXPECT_NE(Op(ShellOperation::Delete, dir / u"into"), 0);
}

// An overwriting copy stages the new file under a name of its own: files of
// the user's named like a stage stay, and a failed rename leaves no stage.
TEST(ShellFileOperation, OverwritingCopyTouchesNoFileNamedLikeItsStage) {
    TempDir dir;
    ASSERT_TRUE(WriteAll(dir / u"x", "new") && os::MakeDirectory(dir / u"to"));
    std::map<WString, std::string> files;
    for (const char16_t* name : {u"x", u"x.kel-new", u"~kel0"}) {
        ASSERT_TRUE(WriteAll(dir / u"to\\" + name, "user"));
        files[name] = "user";
    }
    os::FailNthCall(os::Primitive::Rename, 1);
    EXPECT_NE(Op(ShellOperation::Copy, dir / u"x", dir / u"to"), 0);
    os::ClearFault();
    EXPECT_EQ(test::Snapshot(dir / u"to"), files);
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"x", dir / u"to"), 0);
    files[u"x"] = "new";
    EXPECT_EQ(test::Snapshot(dir / u"to"), files);
}

// A link goes itself, whichever way it is deleted or moved; the folder and
// the file it leads to stay whole. A copy takes what the link leads to.
TEST(ShellFileOperation, LinksGoThemselvesNeverWhatTheyLeadTo) {
    TempDir dir;
    ASSERT_TRUE(os::MakeDirectory(dir / u"outside") && WriteAll(dir / u"outside\\in.txt", "in") &&
                WriteAll(dir / u"out.txt", "out"));
    const auto tree = [&](WStringView name, bool dangling = true) {
        const WString root = dir / name;
        return os::MakeDirectory(root) && test::MakeLink(root + u"\\dir", dir / u"outside") &&
               test::MakeLink(root + u"\\file", dir / u"out.txt") &&
               (!dangling || test::MakeLink(root + u"\\none", dir / u"gone"));
    };
    if (!tree(u"t0", false)) GTEST_SKIP() << test::kNoLinks;
    ASSERT_TRUE(tree(u"t1") && tree(u"t2") && tree(u"t3") && tree(u"t4") && os::MakeDirectory(dir / u"into") &&
                os::MakeDirectory(dir / u"into\\moved"));
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"t0", dir / u"copy"), 0);
    EXPECT_FALSE(os::IsLink(dir / u"copy\\dir") || os::IsLink(dir / u"copy\\file"));
    EXPECT_EQ(ReadAll(dir / u"copy\\dir\\in.txt") + ReadAll(dir / u"copy\\file"), "inout");

    const struct {
        ShellOperation op;
        WString from, to;
        std::vector<WString> gone;
    } cases[] = {
        {ShellOperation::Delete, dir / u"t1", {}, {dir / u"t1"}},
        {ShellOperation::Delete, dir / u"t2\\*", {}, {dir / u"t2\\dir", dir / u"t2\\file", dir / u"t2\\none"}},
        {ShellOperation::Delete, dir / u"t3\\dir", {}, {dir / u"t3\\dir"}},
        {ShellOperation::Delete, dir / u"t3\\file", {}, {dir / u"t3\\file"}},
        {ShellOperation::Delete, dir / u"t3\\none", {}, {dir / u"t3\\none"}},
        // Renamed, the link itself moves; onto a folder, what it leads to is copied in.
        {ShellOperation::Move, dir / u"t4\\dir", dir / u"moved", {dir / u"t4\\dir"}},
        {ShellOperation::Move, dir / u"moved", dir / u"into", {dir / u"moved"}},
        {ShellOperation::Move, dir / u"t4\\*", dir / u"copy", {dir / u"t4\\file", dir / u"t4\\none"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(N(c.from) + " -> " + N(c.to));
        EXPECT_EQ(Op(c.op, c.from, c.to), 0);
        for (const WString& path : c.gone) EXPECT_FALSE(Exists(path) || os::IsLink(path)) << N(path);
        EXPECT_EQ(ReadAll(dir / u"outside\\in.txt") + ReadAll(dir / u"out.txt"), "inout");
    }
    EXPECT_FALSE(os::IsLink(dir / u"into\\moved"));
    EXPECT_EQ(ReadAll(dir / u"into\\moved\\in.txt"), "in");
    EXPECT_TRUE(os::IsLink(dir / u"copy\\none"));
}

#if !defined(_WIN32)
// A copy into a folder it makes skips the case-blind look-ups, except where
// two source names differ only in case: those still land on one file.
TEST(ShellFileOperation, CopyIntoANewFolderKeepsCaseBlindNames) {
    TempDir dir;
    ASSERT_TRUE(os::MakeDirectory(dir / u"src"));
    ASSERT_TRUE(WriteAll(dir / u"src\\Case.txt", "x"));
    // Beside it under its own name: the component's paths would find Case.txt.
    const std::optional<std::string> source = os::posix::MapPath(dir / u"src");
    ASSERT_TRUE(source);
    ASSERT_TRUE(std::ofstream(*source + "/CASE.TXT", std::ios::binary) << 'x');
    ASSERT_TRUE(os::MakeDirectory(dir / u"src\\Sub"));
    ASSERT_TRUE(WriteAll(dir / u"src\\Sub\\Mixed.Mod", "m"));
    EXPECT_EQ(Op(ShellOperation::Copy, dir / u"src", dir / u"copy"), 0);
    std::vector<os::DirEntry> entries;
    ASSERT_TRUE(os::ListDirectory(dir / u"copy", entries));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(ReadAll(dir / u"copy\\case.txt"), "x");
    EXPECT_EQ(ReadAll(dir / u"COPY\\SUB\\mixed.mod"), "m");
    entries.clear();
    ASSERT_TRUE(os::ListDirectory(dir / u"copy\\Sub", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, u"Mixed.Mod");
}
#endif

TEST(ShellFileOperation, MoveAcrossFileSystemsCopiesThenDeletes) {
    if (!test::IsDirectory(u"Z:\\dev\\shm")) GTEST_SKIP() << "no second file system";
    WString shmRoot;
    ASSERT_TRUE(os::CreateUniqueTempFile(u"Z:\\dev\\shm", u"kx", shmRoot));
    ASSERT_TRUE(os::RemoveFile(shmRoot));
    MakeTree(shmRoot);
    const WString target = test::BinaryDir() + u"\\xfs-" + shmRoot.substr(shmRoot.rfind(u'\\') + 1);

    EXPECT_EQ(Op(ShellOperation::Move, shmRoot, target), 0);
    EXPECT_FALSE(Exists(shmRoot));
    EXPECT_EQ(ReadAll(target + u"\\sub\\deep\\c.txt"), "c");
    EXPECT_EQ(Op(ShellOperation::Move, target + u"\\a.txt", u"Z:\\dev\\shm\\kel-a.txt"), 0);
    EXPECT_EQ(ReadAll(u"Z:\\dev\\shm\\kel-a.txt"), "a");
    EXPECT_FALSE(Exists(target + u"\\a.txt"));
    EXPECT_EQ(Op(ShellOperation::Delete, target), 0);
    EXPECT_EQ(Op(ShellOperation::Delete, u"Z:\\dev\\shm\\kel-a.txt"), 0);
}

}  // namespace
}  // namespace kel

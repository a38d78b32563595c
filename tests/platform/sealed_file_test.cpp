#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/sealed_file.h"
#include "support/test_support.h"

namespace kel {
namespace {

using namespace std::string_literals;

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string ReadWholeText(const WString& path) {
    SealedFile file;
    if (!file.OpenForRead(path)) return "<no open>";
    std::string out;
    char line[64];
    while (file.ReadLine(line, sizeof line)) out += line;
    return out;
}

TEST(SealedFile, ReproducesTheSealedVectorsAndReadsThemBack) {
    test::TempDir dir;
    {
        SealedFile file;
        ASSERT_TRUE(file.OpenForWrite(dir / u"key.id", 1, 0, 0x12345678u));
        EXPECT_EQ(file.WriteFormatted("#CKeyId %s X\n", "zdkey"), 16);
        ASSERT_TRUE(file.Close());
    }
    EXPECT_EQ(Hex(test::ReadAll(dir / u"key.id")), "fe4b534631785634129fdeb548ee33a9b6e4cd7d290a09263c97ffc997");
    EXPECT_EQ(ReadWholeText(dir / u"key.id"), "#CKeyId zdkey X\n");
    {
        SealedFile file;
        ASSERT_TRUE(file.OpenForWrite(dir / u"empty", 1, 1, 0));
    }
    EXPECT_EQ(Hex(test::ReadAll(dir / u"empty")), "fd4b5346310000000000000000");
    SealedFile empty;
    ASSERT_TRUE(empty.OpenForRead(dir / u"empty"));
    EXPECT_TRUE(empty.IsSealed());
    char buffer[8];
    EXPECT_EQ(empty.ReadLine(buffer, sizeof buffer), nullptr);
    EXPECT_TRUE(empty.AtEnd());

    // Small writes are written in blocks: the bytes must not depend on how
    // the text was cut, for either form.
    std::string text;
    for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\n";
    for (const int sealed : {0, 1}) {
        SealedFile whole;
        ASSERT_TRUE(whole.OpenForWrite(dir / u"whole", sealed, 0, 7));
        ASSERT_EQ(whole.WriteBytes(text.data(), 1, text.size()), text.size());
        ASSERT_TRUE(whole.Close());
        SealedFile pieces;
        ASSERT_TRUE(pieces.OpenForWrite(dir / u"pieces", sealed, 0, 7));
        for (std::size_t at = 0; at < text.size(); at += 37) {
            ASSERT_EQ(pieces.WriteBytes(text.data() + at, std::min<std::size_t>(37, text.size() - at), 1), 1u);
        }
        ASSERT_TRUE(pieces.Close());
        ASSERT_EQ(test::ReadAll(dir / u"pieces"), test::ReadAll(dir / u"whole")) << sealed;
        EXPECT_EQ(ReadWholeText(dir / u"pieces"), text) << sealed;
    }
    // A long text's key is made in stretches side by side, a short one's
    // byte after byte: where both reach, they are the same key.
    std::string keys[2];
    for (const std::size_t length : {4095, 4096}) {
        SealedFile file;
        ASSERT_TRUE(file.OpenForWrite(dir / u"prefix", 1, 0, 7));
        ASSERT_EQ(file.WriteBytes(text.data(), 1, length), length);
        ASSERT_TRUE(file.Close());
        keys[length % 2] = test::ReadAll(dir / u"prefix").substr(9, 4095);
    }
    EXPECT_EQ(keys[0], keys[1]);

    SealedFile bad;
    EXPECT_FALSE(bad.OpenForWrite(dir / u"x", 1, 2));
    EXPECT_FALSE(bad.OpenForWrite(dir / u"x", 2, 0));
}

TEST(SealedFile, ADamagedSealedFileDoesNotOpen) {
    test::TempDir dir;
    {
        SealedFile file;
        ASSERT_TRUE(file.OpenForWrite(dir / u"key.id", 1, 0));
        file.WriteText("#CKeyId zdkey X\nline two\n");
    }
    const std::string good = test::ReadAll(dir / u"key.id");
    for (std::size_t i = 1; i < good.size(); ++i) {
        std::string damaged = good;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x01);
        ASSERT_TRUE(test::WriteAll(dir / u"bad", damaged));
        SealedFile file;
        EXPECT_FALSE(file.OpenForRead(dir / u"bad")) << "byte " << i;
    }
    ASSERT_TRUE(test::WriteAll(dir / u"short", good.substr(0, 12)));
    SealedFile file;
    EXPECT_FALSE(file.OpenForRead(dir / u"short"));
}

TEST(SealedFile, PlainTextIsCrLfOnDiskAndLfWhenRead) {
    test::TempDir dir;
    {
        SealedFile file;
        ASSERT_TRUE(file.OpenForWrite(dir / u"keystr.txt", 0, 0));
        EXPECT_GE(file.WriteText("one\ntwo"), 0);
        EXPECT_EQ(file.WriteChar('\n'), '\n');
        EXPECT_EQ(file.WriteBytes("3\n", 1, 2), 2u);
    }
    EXPECT_EQ(test::ReadAll(dir / u"keystr.txt"), "one\r\ntwo\r\n3\r\n");
    EXPECT_EQ(ReadWholeText(dir / u"keystr.txt"), "one\ntwo\n3\n");

    SealedFile file;
    ASSERT_TRUE(file.OpenForRead(dir / u"keystr.txt"));
    std::string line;
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(line, "one");
    char part[3];
    ASSERT_NE(file.ReadLine(part, sizeof part), nullptr);  // fgets limit: size-1 bytes
    EXPECT_STREQ(part, "tw");
    char rest[4];
    EXPECT_EQ(file.ReadBytes(rest, 1, 4), 4u);
    EXPECT_EQ(std::string(rest, 4), "o\n3\n");
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_TRUE(file.AtEnd());

    // A plain file that happens to start with 0xFE is taken as sealed, and fails.
    ASSERT_TRUE(test::WriteAll(dir / u"odd.txt", "\xFE plain text\r\n"));
    EXPECT_FALSE(file.OpenForRead(dir / u"odd.txt"));
    ASSERT_TRUE(test::WriteAll(dir / u"empty.txt", ""));
    ASSERT_TRUE(file.OpenForRead(dir / u"empty.txt"));
    EXPECT_FALSE(file.IsSealed());
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_FALSE(file.OpenForRead(dir / u"missing.txt"));
}

// Taking a file's pieces in runs gives what reading them one by one gives:
// lines longer than a piece, pieces that are dropped (one starting a long
// line's second part among them), a last line without its end, and the CR
// and NUL bytes that send the reader back to piece by piece.
TEST(SealedFile, PiecesTakenInRunsAreThePiecesReadOneByOne) {
    const auto dropped = [](std::string_view piece) { return !piece.empty() && piece.front() == '#'; };
    const std::string lines = "a\n#b\n" + std::string(9, 'c') + "#" + std::string(12, 'd') + "\n\n#\ne\nf";
    for (const std::string& text : {lines, lines + "\n", "x\r\n" + lines, lines + "\ny\r\n", "#\n" + lines + "\0z\n"s}) {
        const auto read = [&](bool inRuns) {
            SealedFile file;
            if (!file.OpenBytes(text)) return std::string("<no open>");
            char first[4];
            if (!file.ReadLine(first, sizeof first)) return std::string("<empty>");
            std::string out = first;
            if (inRuns) {
                file.AppendPieces(10, out, [&](std::string_view piece) { return !dropped(piece); });
            } else {
                for (char piece[10]; file.ReadLine(piece, sizeof piece);) {
                    if (!dropped(piece)) out += piece;
                }
            }
            return out + (file.AtEnd() ? "<end>" : "<not at end>");
        };
        EXPECT_EQ(read(true), read(false)) << text;
    }
}

TEST(SealedFile, AStagedFileTakesItsTargetsPlaceOnlyWhenClosed) {
    for (const bool close : {true, false}) {
        test::TempDir dir;
        ASSERT_TRUE(test::WriteAll(dir / u"key.id", "old"));
        {
            SealedFile file;
            ASSERT_TRUE(file.OpenStagedForWrite(dir / u"key.id", 1, 0));
            EXPECT_GE(file.WriteText("new\n"), 0);
            EXPECT_EQ(test::ReadAll(dir / u"key.id"), "old");
            if (close) {
                EXPECT_TRUE(file.Close());
            }
        }
        EXPECT_EQ(test::Snapshot(dir.path()).size(), 1u);
        EXPECT_EQ(close ? ReadWholeText(dir / u"key.id") : test::ReadAll(dir / u"key.id"), close ? "new\n" : "old");
    }
}

}  // namespace
}  // namespace kel

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/os.h"
#include "platform/text.h"

namespace kel {
namespace {

TEST(Format, SubstitutesTextNumbersAndHexUpToTheMessageBuffer) {
    EXPECT_EQ(Format(u"Path cannot exceed %d\n", 260), u"Path cannot exceed 260\n");
    EXPECT_EQ(Format(u"%s=%x (%d%%)", u"code", 0xC0040538u, -5), u"code=c0040538 (-5%)");
    // A missing argument prints nothing rather than reading garbage.
    EXPECT_EQ(Format(u"a%sb%dc"), u"abc");
    const WString out = Format(u"<%s>", WString(3000, u'x'));
    EXPECT_EQ(out, u"<" + WString(kMessageCapacity - 2, u'x'));
}

TEST(Text, Utf8RoundTripsOutsideTheBasicPlane) {
    const std::string utf8 = "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80";
    const WString wide = FromUtf8(utf8);
    EXPECT_EQ(wide.size(), 11u);  // the emoji is a surrogate pair
    EXPECT_EQ(ToUtf8(wide), utf8);
    EXPECT_EQ(FromUtf8("\xFF" "a"), u"\uFFFD" u"a");
    // ASCII is converted sixteen characters at a time: a character beyond it
    // at any place of a block or of the tail must stop the block there.
    const std::string run = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    for (std::size_t at = 0; at <= run.size(); ++at) {
        const std::string mixed = run.substr(0, at) + "\xC3\xBC" + run.substr(at);
        const WString wide = FromUtf8(mixed);
        ASSERT_EQ(wide, FromAscii(run.substr(0, at)) + u"\u00fc" + FromAscii(run.substr(at))) << at;
        ASSERT_EQ(ToUtf8(wide), mixed) << at;
        ASSERT_EQ(FromAnsi(run.substr(0, at) + "\xFC" + run.substr(at)), wide) << at;
    }
}

TEST(Text, LengthStopsAtTheFirstNulWhereverTheTextStarts) {
    // A NUL at every place from every start within a block, and one beside
    // a NUL that lies before the start.
    std::u16string buffer(64, u'x');
    for (std::size_t start = 0; start < 16; ++start) {
        for (std::size_t nul = start; nul < 48; ++nul) {
            std::fill(buffer.begin(), buffer.end(), u'x');
            buffer[nul] = 0;
            if (start > 0) buffer[start - 1] = 0;
            ASSERT_EQ(Length(buffer.data() + start), nul - start) << start << " " << nul;
        }
    }
}

TEST(Text, ExactLookUpsSeeEveryCharacterOfEveryLength) {
    // SameText compares by words whose loads overlap: a difference at any
    // place of any length, from an odd start, must show.
    const WString base = u"0123456789abcdefghijklmnopqrstuvwxyzABCD";
    for (std::size_t length = 0; length + 1 < base.size(); ++length) {
        const WStringView a = WStringView(base).substr(1, length);
        WString copy(a);
        ASSERT_TRUE(SameText(a, copy)) << length;
        for (std::size_t at = 0; at < length; ++at) {
            copy[at] ^= 0x100;
            ASSERT_FALSE(SameText(a, copy)) << length << " " << at;
            copy[at] ^= 0x100;
        }
        ASSERT_FALSE(SameText(a, WStringView(base).substr(0, length + 1)));
    }
    // The index keeps the first place given for a text, finds every text
    // after it grows, and tells apart texts of one length and hash start.
    std::vector<WString> texts;
    for (int i = 0; i < 3000; ++i) texts.push_back(Format(u"Group%d", i % 1500));
    texts.push_back(u"");
    TextIndex index;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(index.Add(texts[i], i), i < 1500 || i == 3000 ? i : i - 1500) << i;
    }
    EXPECT_EQ(index.size(), 1501u);
    for (std::size_t i = 0; i < 1500; ++i) ASSERT_EQ(index.Find(texts[i + 1500]), i);
    EXPECT_EQ(index.Find(u""), 3000u);
    EXPECT_EQ(index.Find(u"Group1500"), TextIndex::npos);
    index.Clear();
    EXPECT_EQ(index.Find(u"Group1"), TextIndex::npos);
}

TEST(Text, AnsiIsWindows1252) {
    const WString wide = u"\u00C4\u20AC\u00FF";
    EXPECT_EQ(ToAnsi(wide), std::string("\xC4\x80\xFF"));
    EXPECT_EQ(FromAnsi(std::string("\xC4\x80\xFF")), wide);
    // No look-alike letter either: "\u0141odz" written as "Lodz" could name another folder.
    EXPECT_EQ(ToAnsi(u"\u4E2D \u0141\u0100"), "? ??");
}

TEST(Text, UpperCaseAndNoCaseComparisonCoverLatin1) {
    EXPECT_EQ(ToUpper(u"m\u00fcller-system_1.0"), u"M\u00dcLLER-SYSTEM_1.0");
    EXPECT_TRUE(EqualsNoCase(u"Z:\\Pool\\\u00e4bc", u"z:\\POOL\\\u00c4BC"));
    EXPECT_FALSE(EqualsNoCase(u"abc", u"abd"));
    EXPECT_LT(CompareNoCase(u"ABC", u"abd"), 0);
}

TEST(Text, LocaleEqualityIsCaseSensitiveButSeesCanonicalEquivalents) {
    const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
        {u"Gripper 2", u"Gripper 2", true}, {u"", u"", true}, {u"Gripper", u"gripper", false},
        {u"K\u00e4fig", u"K\u00c4fig", false}, {u"Gripper", u"Grippers", false}, {u"K\u00e4fig", u"Kafig", false},
        // Precomposed or not, and marks in either order.
        {u"K\u00e4fig", u"Ka\u0308fig", true}, {u"\u00c5ngstr\u00f6m", u"\u212bngstro\u0308m", true},
        {u"\u1e69", u"s\u0307\u0323", true}, {u"q\u0307\u0323", u"q\u0323\u0307", true},
        {u"e\u0301\u0301", u"\u00e9", false}, {u"Gripper", u"Gripper\u0308", false},
    };
    for (const auto& [a, b, equal] : cases) EXPECT_EQ(os::LocaleEquals(a, b), equal) << ToUtf8(a) << " ~ " << ToUtf8(b);
}

TEST(Text, CharactersXmlCannotHoldAreDropped) {
    const WString kept = u"a\tb\nc\rd \u00e4\U0001F600\uFFFD";
    EXPECT_EQ(WithoutNonXmlCharacters(kept), kept);
    const char16_t dropped[] = {u'x', 0x0B, 0x01, 0xFFFE, 0xFFFF, 0xD800, u'y', 0xDC00, u'z', 0xD83D};
    EXPECT_EQ(WithoutNonXmlCharacters(WStringView(dropped, std::size(dropped))), u"xyz");

    // Texts are checked eight characters at a time: one character of each
    // kind at every place of a text longer than two blocks.
    struct Kind {
        char16_t c;
        bool plain;
        bool allowed;
    };
    for (const Kind kind : {Kind{0xD7FF, true, true}, Kind{0x1F, false, false}, Kind{u'\t', false, true},
                            Kind{0xD800, false, false}, Kind{0xDFFF, false, false}, Kind{0xE000, false, true},
                            Kind{0xFFFE, false, false}, Kind{0, false, false}}) {
        for (std::size_t at = 0; at < 19; ++at) {
            WString text(19, u'a');
            text[at] = kind.c;
            EXPECT_EQ(PlainXmlPrefix(text), kind.plain ? text.size() : at) << int(kind.c) << " at " << at;
            EXPECT_EQ(HasOnlyXmlCharacters(text), kind.allowed) << int(kind.c) << " at " << at;
            text[(at + 1) % text.size()] = 0x1F;  // right after it, or at the start
            EXPECT_FALSE(HasOnlyXmlCharacters(text)) << int(kind.c) << " at " << at;
        }
    }
}

}  // namespace
}  // namespace kel

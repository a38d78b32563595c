#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <string>

#include "shared/keystring.h"
#include "support/test_support.h"

namespace {

using kel::DescribeKey;
using kel::KeyDescription;
using kel::KeyKind;
using kel::MakeKeystring;
using kel::test::U;

const char* const kVectors[] = {
    "KEL1:R:1234567:7:Zendara:1011000::F67E8053",
    "KEL1:V:16777001:1002:Zendara::VC-LAB-07:26C26CBC",
    "KEL1:A:42:1001:ArcWelding:::197F4870",
};

// Appends ":" and the check computed here, independently of the library.
std::u16string Signed(const std::string& body) {
    const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    char check[16];
    std::snprintf(check, sizeof check, ":%08lX", static_cast<unsigned long>(crc));
    return U(body + check);
}

bool Describes(const std::string& body) {
    KeyDescription key;
    return DescribeKey(Signed(body), key);
}

KeyDescription Describe(const std::string& body) {
    KeyDescription key;
    EXPECT_TRUE(DescribeKey(Signed(body), key)) << body;
    return key;
}

TEST(Keystring, VectorsDescribeTheirFields) {
    const KeyDescription expected[] = {
        {1234567, 7, u"Zendara", u"1011000", u"12-34567", KeyKind::ReleaseKey, false},
        {16777001, 1002, u"Zendara", u"", u"VC-LAB-07", KeyKind::ReleaseKey, true},
        {42, 1001, u"ArcWelding", u"", u"00-00042", KeyKind::AdditionalOptionKey, false},
    };
    for (int i = 0; i < 3; ++i) {
        KeyDescription key;
        ASSERT_TRUE(DescribeKey(U(kVectors[i]), key)) << kVectors[i];
        EXPECT_EQ(key, expected[i]) << kVectors[i];

        std::u16string encoded;
        ASSERT_TRUE(MakeKeystring(expected[i], encoded));
        EXPECT_EQ(encoded, U(kVectors[i]));
    }
    // The printed serial may also be left out by the caller of the encoder.
    std::u16string encoded;
    ASSERT_TRUE(MakeKeystring({1234567, 7, u"Zendara", u"1011000", u"", KeyKind::ReleaseKey, false}, encoded));
    EXPECT_EQ(encoded, U(kVectors[0]));
}

TEST(Keystring, EverySingleCharacterChangeIsRejected) {
    const std::string replacements = "0179AFaf:-_. \t";
    for (const char* vector : kVectors) {
        const std::string key = vector;
        for (std::size_t pos = 0; pos < key.size(); ++pos) {
            for (char r : replacements) {
                if (r == key[pos]) continue;
                std::string changed = key;
                changed[pos] = r;
                KeyDescription out;
                EXPECT_FALSE(DescribeKey(U(changed), out)) << changed;
            }
            KeyDescription out;
            EXPECT_FALSE(DescribeKey(U(key.substr(0, pos) + key.substr(pos + 1)), out)) << "without " << pos;
        }
    }
}

TEST(Keystring, FailureLeavesTheDescriptionAlone) {
    KeyDescription key{5, 6, u"P", u"1", u"T", KeyKind::AdditionalOptionKey, false};
    const KeyDescription before = key;
    EXPECT_FALSE(DescribeKey(u"KEL1:R:1234567:7:Zendara:1011000::F67E8054", key));
    EXPECT_EQ(key, before);
}

TEST(Keystring, SerialRangeAndMarkers) {
    EXPECT_EQ(Describe("KEL1:R:9999999:7:Z::").serialText, u"99-99999");
    EXPECT_EQ(Describe("KEL1:R:0:7:Z::").serialText, u"00-00000");
    EXPECT_EQ(Describe("KEL1:R:00000042:7:Z::").serialNumber, 42u);
    EXPECT_EQ(Describe("KEL1:R:16777215:7:Z::").serialText, u"XX-XXXXX");
    EXPECT_EQ(Describe("KEL1:R:16777000:7:Z::").serialText, u"INTERNAL_USE");
    EXPECT_EQ(Describe("KEL1:V:16777001:7:Z::").serialText, u"VIRTUAL_USE");
    EXPECT_EQ(Describe("KEL1:R:16777001:7:Z::LAB").serialText, u"LAB");
    EXPECT_FALSE(Describes("KEL1:R:10000000:7:Z::"));
    EXPECT_FALSE(Describes("KEL1:R:16777002:7:Z::"));
    EXPECT_FALSE(Describes("KEL1:R:16776999:7:Z::"));
    EXPECT_FALSE(Describes("KEL1:R:000000042:7:Z::"));  // nine digits
    EXPECT_FALSE(Describes("KEL1:R::7:Z::"));
    EXPECT_FALSE(Describes("KEL1:R:+42:7:Z::"));
}

TEST(Keystring, SignatureRange) {
    EXPECT_EQ(Describe("KEL1:R:1:2147483647:Z::").signatureNumber, 2147483647);
    EXPECT_EQ(Describe("KEL1:R:1:0:Z::").signatureNumber, 0);
    EXPECT_FALSE(Describes("KEL1:R:1:2147483648:Z::"));
    EXPECT_FALSE(Describes("KEL1:R:1:4294967303:Z::"));  // 7 after 32-bit wrap
    EXPECT_FALSE(Describes("KEL1:R:1:00000000007:Z::"));
    EXPECT_FALSE(Describes("KEL1:R:1:-7:Z::"));
    EXPECT_FALSE(Describes("KEL1:R:1::Z::"));
}

TEST(Keystring, FieldLengthsAndCharacters) {
    const std::string p64(64, 'p');
    const std::string s200(200, '1');
    const std::string t32(32, 't');
    EXPECT_EQ(Describe("KEL1:R:1:7:" + p64 + "::").programName.size(), 64u);
    EXPECT_FALSE(Describes("KEL1:R:1:7:" + p64 + "q::"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:::"));
    EXPECT_EQ(Describe("KEL1:R:1:7:a-Z_0.9:" + s200 + ":").selectionText.size(), 200u);
    EXPECT_FALSE(Describes("KEL1:R:1:7:P:" + s200 + "0:"));
    EXPECT_EQ(Describe("KEL1:R:1:7:P::" + t32).serialText.size(), 32u);
    EXPECT_FALSE(Describes("KEL1:R:1:7:P::" + t32 + "u"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:Arc/Welding::"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:P:10a1:"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:P::12 34567"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:Zen dara::"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:Zen\tdara::"));
    EXPECT_FALSE(Describes(" KEL1:R:1:7:P::"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:P:\xC3\xA9:"));

    KeyDescription key;
    EXPECT_FALSE(DescribeKey(U(std::string(kVectors[0]) + " "), key));
    EXPECT_FALSE(DescribeKey(U(std::string(kVectors[0]) + "\n"), key));
    EXPECT_FALSE(DescribeKey(u"KEL1:R:1234567:7:Zendara:1011000::f67e8053", key));
    EXPECT_FALSE(DescribeKey(u"KEL1:R:1234567:7:Zendara:1011000::F67E805", key));
    EXPECT_FALSE(DescribeKey(u"", key));
}

TEST(Keystring, LiteralKindAndFieldCount) {
    EXPECT_TRUE(Describes("KEL1:R:1:7:P::"));
    EXPECT_FALSE(Describes("KEL2:R:1:7:P::"));
    EXPECT_FALSE(Describes("kel1:R:1:7:P::"));
    EXPECT_FALSE(Describes("KEL1:r:1:7:P::"));
    EXPECT_FALSE(Describes("KEL1:X:1:7:P::"));
    EXPECT_FALSE(Describes("KEL1:RV:1:7:P::"));
    EXPECT_FALSE(Describes("KEL1::1:7:P::"));
    EXPECT_FALSE(Describes("KEL1:R:1:7:P:"));    // seven fields
    EXPECT_FALSE(Describes("KEL1:R:1:7:P:::"));  // nine fields
}

TEST(Keystring, TokenOfAtMost255Bytes) {
    // 22 fixed bytes plus program, selection and serial text.
    const std::string head = "KEL1:R:1:7:" + std::string(64, 'p') + ":";
    const std::string tail = ":" + std::string(32, 't');
    KeyDescription key;
    ASSERT_TRUE(DescribeKey(Signed(head + std::string(137, '0') + tail), key));
    EXPECT_EQ(Signed(head + std::string(137, '0') + tail).size(), 255u);
    EXPECT_FALSE(DescribeKey(Signed(head + std::string(138, '0') + tail), key));

    std::u16string encoded;
    key.selectionText += u'0';
    EXPECT_FALSE(MakeKeystring(key, encoded));
    EXPECT_TRUE(encoded.empty());
}

TEST(Keystring, EncoderRoundTripsAndRejectsWhatCannotBeDescribed) {
    const KeyDescription keys[] = {
        {16777000, 2147483647, u"PickMaster", u"", u"INTERNAL_USE", KeyKind::AdditionalOptionKey, false},
        {7, 1, u"a.b-c_D", u"0123401234", u"12-34567", KeyKind::ReleaseKey, false},  // text of another serial
        {9999999, 0, u"Zendara", u"4", u"X", KeyKind::ReleaseKey, true},
    };
    for (const auto& key : keys) {
        std::u16string encoded;
        ASSERT_TRUE(MakeKeystring(key, encoded));
        KeyDescription described;
        ASSERT_TRUE(DescribeKey(encoded, described)) << kel::test::N(encoded);
        EXPECT_EQ(described, key);
    }

    const KeyDescription bad[] = {
        {1, 7, u"P", u"", u"", KeyKind::AdditionalOptionKey, true},
        {10000000, 7, u"P", u"", u"", KeyKind::ReleaseKey, false},
        {1, -1, u"P", u"", u"", KeyKind::ReleaseKey, false},
        {1, 7, u"", u"", u"", KeyKind::ReleaseKey, false},
        {1, 7, u"P:Q", u"", u"", KeyKind::ReleaseKey, false},
        {1, 7, u"P", u"12x", u"", KeyKind::ReleaseKey, false},
        {1, 7, u"P", u"", u"a b", KeyKind::ReleaseKey, false},
    };
    for (const auto& key : bad) {
        std::u16string encoded = u"unchanged";
        EXPECT_FALSE(MakeKeystring(key, encoded)) << kel::test::N(key.programName);
        EXPECT_EQ(encoded, u"unchanged");
    }
}

}  // namespace

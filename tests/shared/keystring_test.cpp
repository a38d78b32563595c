#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <string>

#include "shared/keystring.h"
#include "shared/serial_text.h"
#include "support/test_support.h"

namespace kel {
namespace {

using test::U;

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

TEST(Keystring, VectorsDescribeTheirFieldsAndEncodeBack) {
    const std::pair<std::u16string, KeyDescription> cases[] = {
        {U(kVectors[0]), {1234567, 7, u"Zendara", u"1011000", u"12-34567", KeyKind::ReleaseKey, false}},
        {U(kVectors[1]), {16777001, 1002, u"Zendara", u"", u"VC-LAB-07", KeyKind::ReleaseKey, true}},
        {U(kVectors[2]), {42, 1001, u"ArcWelding", u"", u"00-00042", KeyKind::AdditionalOptionKey, false}},
        {Signed("KEL1:A:16777000:2147483647:PickMaster::"),
         {16777000, 2147483647, u"PickMaster", u"", u"INTERNAL_USE", KeyKind::AdditionalOptionKey, false}},
        // The printed form of another serial is kept as text.
        {Signed("KEL1:R:7:1:a.b-c_D:0123401234:12-34567"),
         {7, 1, u"a.b-c_D", u"0123401234", u"12-34567", KeyKind::ReleaseKey, false}},
        {Signed("KEL1:V:9999999:0:Zendara:4:X"), {9999999, 0, u"Zendara", u"4", u"X", KeyKind::ReleaseKey, true}},
    };
    for (const auto& [keystring, fields] : cases) {
        KeyDescription key;
        ASSERT_TRUE(DescribeKey(keystring, key)) << test::N(keystring);
        EXPECT_EQ(key, fields) << test::N(keystring);
        std::u16string encoded;
        ASSERT_TRUE(MakeKeystring(fields, encoded));
        EXPECT_EQ(encoded, keystring);
    }
    // The printed serial may also be left out by the caller of the encoder.
    std::u16string encoded;
    ASSERT_TRUE(MakeKeystring({1234567, 7, u"Zendara", u"1011000", u"", KeyKind::ReleaseKey, false}, encoded));
    EXPECT_EQ(encoded, U(kVectors[0]));
}

// Correctly signed bodies: only the field rules decide.
TEST(Keystring, FieldBoundaries) {
    const std::string p64(64, 'p'), s200(200, '1'), t32(32, 't');
    // 22 fixed bytes plus program, selection and serial text make the token: 255 at the most.
    const std::string head = "KEL1:R:1:7:" + p64 + ":", tail = ":" + t32;
    const std::pair<std::string, bool> cases[] = {
        {"KEL1:R:9999999:7:Z::", true}, {"KEL1:R:10000000:7:Z::", false},
        {"KEL1:R:16777000:7:Z::", true}, {"KEL1:R:16776999:7:Z::", false},
        {"KEL1:V:16777001:7:Z::", true}, {"KEL1:R:16777002:7:Z::", false},
        {"KEL1:R:16777215:7:Z::", true}, {"KEL1:R:0:7:Z::", true},
        {"KEL1:R:00000042:7:Z::", true}, {"KEL1:R:000000042:7:Z::", false},
        {"KEL1:R::7:Z::", false}, {"KEL1:R:+42:7:Z::", false},
        {"KEL1:R:1:2147483647:Z::", true}, {"KEL1:R:1:2147483648:Z::", false},
        {"KEL1:R:1:0:Z::", true}, {"KEL1:R:1:4294967303:Z::", false},  // 7 after a 32-bit wrap
        {"KEL1:R:1:00000000007:Z::", false}, {"KEL1:R:1:-7:Z::", false}, {"KEL1:R:1::Z::", false},
        {"KEL1:R:1:7:" + p64 + "::", true}, {"KEL1:R:1:7:" + p64 + "q::", false}, {"KEL1:R:1:7:::", false},
        {"KEL1:R:1:7:a-Z_0.9:" + s200 + ":", true}, {"KEL1:R:1:7:P:" + s200 + "0:", false},
        {"KEL1:R:1:7:P::" + t32, true}, {"KEL1:R:1:7:P::" + t32 + "u", false},
        {head + std::string(137, '0') + tail, true}, {head + std::string(138, '0') + tail, false},
        {"KEL1:R:1:7:Arc/Welding::", false}, {"KEL1:R:1:7:Zen dara::", false}, {"KEL1:R:1:7:P:10a1:", false},
        {"KEL1:R:1:7:P::12 34567", false}, {" KEL1:R:1:7:P::", false}, {"KEL1:R:1:7:P:\xC3\xA9:", false},
        {"KEL2:R:1:7:P::", false}, {"KEL1:X:1:7:P::", false}, {"KEL1:RV:1:7:P::", false},
        {"KEL1:R:1:7:P:", false}, {"KEL1:R:1:7:P:::", false},  // seven and nine fields
    };
    for (const auto& [body, accepted] : cases) {
        KeyDescription key{5, 6, u"P", u"1", u"T", KeyKind::AdditionalOptionKey, false};
        const KeyDescription before = key;
        EXPECT_EQ(DescribeKey(Signed(body), key), accepted) << body;
        if (!accepted) {
            EXPECT_EQ(key, before) << body;
        }
    }
    // The check catches a changed body character, a changed check digit and a dropped character.
    std::string body = kVectors[0], check = kVectors[0], dropped = kVectors[0];
    body[7] = '2';
    check.back() = '4';
    dropped.erase(20, 1);
    KeyDescription key;
    for (const std::string& bad : {body, check, dropped, std::string(kVectors[0]) + " ", std::string(kVectors[0]) + "\n", std::string()}) {
        EXPECT_FALSE(DescribeKey(U(bad), key)) << bad;
    }
}

TEST(Keystring, EncoderRefusesKeysThatCannotExist) {
    const KeyDescription bad[] = {
        {1, 7, u"P", u"", u"", KeyKind::AdditionalOptionKey, true},  // an option key is never virtual
        {1, -1, u"P", u"", u"", KeyKind::ReleaseKey, false},
        {1, 7, std::u16string(64, u'p'), std::u16string(138, u'0'), std::u16string(32, u't'), KeyKind::ReleaseKey, false},
    };
    for (const auto& key : bad) {
        std::u16string encoded = u"unchanged";
        EXPECT_FALSE(MakeKeystring(key, encoded)) << key.signatureNumber;
        EXPECT_EQ(encoded, u"unchanged");
    }
}

// The edges of each printed form; 12-34567, 00-00042, INTERNAL_USE and VIRTUAL_USE
// come with the vectors above and with key.id.
TEST(SerialText, EdgesOfThePrintedFormsAndMarkers) {
    EXPECT_EQ(SerialNrToText(0), u"00-00000");
    EXPECT_EQ(SerialNrToText(9999999), u"99-99999");
    EXPECT_EQ(SerialNrToText(16777215), u"XX-XXXXX");
    for (const uint32_t outside : {10000000u, 16776999u, 16777002u, 0xFFFFFFFFu}) {
        EXPECT_EQ(SerialNrToText(outside), u"") << outside;
    }
}

}  // namespace
}  // namespace kel

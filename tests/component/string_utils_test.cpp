#include <gtest/gtest.h>

#include <string>

#include "component/string_utils.h"

namespace {

TEST(StringUtils, CaseMapsLeaveTheOddLatin1BytesAlone) {
    EXPECT_EQ(os_toupper(0xFF), 0xFF);
    EXPECT_EQ(os_toupper(0xDF), 0xDF);
    EXPECT_EQ(os_toupper(0xF7), 0xF7);
    EXPECT_EQ(os_toupper(0xE4), 0xC4);
    EXPECT_EQ(os_tolower(0xD7), 0xD7);
    EXPECT_EQ(os_tolower(0xDE), 0xFE);
    EXPECT_EQ(os_tolower('Q'), 'q');
    for (int c = 0; c < 256; ++c) {
        if (os_toupper(c) != c) {
            EXPECT_EQ(os_tolower(os_toupper(c)), c) << c;
        }
    }
}

TEST(StringUtils, CaseInsensitiveComparison) {
    EXPECT_LT(os_stricmp("ABC", "abd"), 0);
    EXPECT_EQ(os_stricmp("\xC4", "\xE4"), 0);
    EXPECT_GT(os_stricmp("abc", "AB"), 0);
    EXPECT_LT(os_stricmp("ab", "ABc"), 0);
    EXPECT_EQ(os_stricmp("\xFF", "\xFF"), 0);
    EXPECT_GT(os_stricmp("\xE9", "e"), 0);  // bytes compare unsigned
    EXPECT_EQ(os_strnicmp("HELLOx", "helloY", 5), 0);
    EXPECT_NE(os_strnicmp("HELLOx", "helloY", 6), 0);
    EXPECT_EQ(os_strnicmp(nullptr, nullptr, 0), 0);
}

TEST(StringUtils, IdentifierValidation) {
    const std::string longest(32, 'a');
    const std::string tooLong(33, 'a');
    for (const char* valid : {"ab_1", "x", "\xC4rger", longest.c_str()}) EXPECT_EQ(os_validate_identifier(valid), 0) << valid;
    for (const char* invalid : {tooLong.c_str(), "1abc", "_abc", "a-b", "a\xD7" "b", ""}) {
        EXPECT_EQ(os_validate_identifier(invalid), -1) << invalid;
    }
    EXPECT_EQ(os_validate_identifier(nullptr), -1);
}

TEST(StringUtils, TokenizerSkipsDelimiterRunsAndClearsTheSavedPosition) {
    char text[] = ",,a,,b";
    char* save = nullptr;
    EXPECT_STREQ(os_strtok_r(text, ",", &save), "a");
    EXPECT_STREQ(os_strtok_r(nullptr, ",", &save), "b");
    EXPECT_EQ(save, nullptr);
    EXPECT_EQ(os_strtok_r(nullptr, ",", &save), nullptr);

    char trailing[] = "x;y;;";
    save = nullptr;
    EXPECT_STREQ(os_strtok_r(trailing, ";", &save), "x");
    EXPECT_STREQ(os_strtok_r(nullptr, ";", &save), "y");
    EXPECT_EQ(os_strtok_r(nullptr, ";", &save), nullptr);
    EXPECT_EQ(save, nullptr);
}

}  // namespace

#include <gtest/gtest.h>

#include "config/configuration_files.h"
#include "platform/os.h"
#include "support/test_support.h"

namespace kel {
namespace {

TEST(ProductName, SerialTexts) {
    CConfigurationFiles files;
    const std::pair<int32_t, const char16_t*> good[] = {{42, u"00-00042"}, {9999999, u"99-99999"}, {0xFFFFFF, u"XX-XXXXX"}};
    WString text;
    for (const auto& [serial, expected] : good) {
        EXPECT_EQ(files.SerialNr_LongToStr(serial, text), 0) << serial;
        EXPECT_EQ(text, expected);
    }
    test::TraceCapture traces;
    for (int32_t bad : {10000000, -1, INT32_MIN, 16777002}) {
        text = u"old";
        EXPECT_EQ(files.SerialNr_LongToStr(bad, text), -1) << bad;
        EXPECT_EQ(text, u"");
    }
    EXPECT_EQ(traces.records().size(), 4u);
    EXPECT_TRUE(traces.Has("CConfigurationFiles::SerialNr_LongToStr, Serial number outside valid interval\n"));
}

class ProductNameRelease : public ::testing::Test {
protected:
    void Write(WStringView name, std::string_view text) { ASSERT_TRUE(test::WriteAll(dir_ / name, text)); }

    test::TempDir dir_;
    CConfigurationFiles files_;
};

TEST_F(ProductNameRelease, MediaFolder) {
    WString folder = dir_.path();
    EXPECT_EQ(files_.FindMediaIdFolder(folder), 0);
    EXPECT_EQ(folder, dir_.path());
    ASSERT_TRUE(os::MakeDirectory(dir_ / u"sys_pack"));
    Write(u"sys_pack\\media.id", "Name=X\nType=1\n");
    EXPECT_EQ(files_.FindMediaIdFolder(folder), 1);
    EXPECT_EQ(folder, dir_ / u"sys_pack");
    // One directly in the release wins.
    folder = dir_.path();
    Write(u"media.id", "Name=X\nType=1\n");
    EXPECT_EQ(files_.FindMediaIdFolder(folder), 1);
    EXPECT_EQ(folder, dir_.path());
}

}  // namespace
}  // namespace kel

// key.id read once for an option build: sections and recorded choices.
#include <gtest/gtest.h>

#include "config/configuration_files.h"
#include "platform/os.h"
#include "platform/sealed_file.h"
#include "shared/keystring.h"
#include "support/test_support.h"

namespace kel {
namespace {

using test::N;

class KeyIdRecord : public ::testing::Test {
protected:
    KeyIdRecord() { os::MakeDirectory(dir_ / u"INTERNAL"); }
    void Write(const std::string& keyId, const std::string& keystr = "#Loaded keys\r\n") {
        SealedFile file;
        ASSERT_TRUE(file.OpenForWrite(dir_ / u"INTERNAL\\key.id", 1, 0));
        ASSERT_GE(file.WriteText(keyId.c_str()), 0);
        ASSERT_TRUE(file.Close());
        ASSERT_TRUE(test::WriteAll(dir_ / u"INTERNAL\\keystr.txt", keystr));
    }
    test::TempDir dir_;
};

TEST_F(KeyIdRecord, EachProgramSeesOnlyItsOwnSection) {
    const WString arc = test::Rekey(test::kArcKey, [](KeyDescription& d) { d.programName = u"Arc"; });
    // Drive module sections go by their place in keystr.txt, not by number.
    Write("#CKeyId zdkey " + N(test::kMainKey) + "\n#CKeyId option Zendara1\n" +
              "#CKeyId dmkey " + N(test::kDriveKey) + "\n#CKeyId option DriveModule10ten\n" +
              "#CKeyId dmkey " + N(test::kDriveKey) + "\n#CKeyId option DriveModule1one\n" +
              "#CKeyId extkey " + N(test::kArcKey) + "\n#CKeyId option ArcWelding01\n" +
              "#CKeyId extseldesc TIG\n#CKeyId extseldesc MIG-MAG welding\n" +
              "#CKeyId extkey " + N(arc) + "\n#CKeyId option Arc10\n#CKeyId extseldesc Multi layer\n",
          "#Loaded keys\r\nKEY\t10\r\nKEY\t1\r\n");
    const CKeyIdRecord record(dir_.path());
    ASSERT_TRUE(record.Readable());
    CConfigurationFiles files;
    const std::pair<const char16_t*, const char16_t*> options[] = {
        {u"Zendara", u"1"}, {u"DriveModule10", u"ten"}, {u"DriveModule1", u"one"}, {u"ArcWelding", u"01"}, {u"Arc", u"10"}};
    for (const auto& [program, expected] : options) {
        WString value;
        EXPECT_EQ(files.GetMediaKey(record, program, value), 0) << N(program);
        EXPECT_EQ(value, expected) << N(program);
    }
    WString value;
    EXPECT_EQ(files.GetMediaKey(record, u"DriveModule2", value), -1);
    EXPECT_TRUE(record.SectionOf(u"Welding").empty());

    // A recorded text counts when the selection starts with it, whatever the lengths of the others.
    EXPECT_TRUE(record.HasExtSelection(u"ArcWelding", u"TIG welding"));
    EXPECT_TRUE(record.HasExtSelection(u"ArcWelding", u"MIG-MAG welding"));
    EXPECT_FALSE(record.HasExtSelection(u"ArcWelding", u"MIG"));
    EXPECT_FALSE(record.HasExtSelection(u"ArcWelding", u"Multi layer"));
    EXPECT_TRUE(record.HasExtSelection(u"Arc", u"Multi layer"));
    EXPECT_FALSE(record.HasExtSelection(u"Arc", u"TIG"));
}

TEST_F(KeyIdRecord, AnUnreadableKeyIdChangesNothing) {
    test::TraceCapture traces;
    const CKeyIdRecord record(dir_.path());
    EXPECT_FALSE(record.Readable());
    EXPECT_TRUE(record.HasExtSelection(u"ArcWelding", u"anything"));
    WString value;
    EXPECT_EQ(CConfigurationFiles().GetMediaKey(record, u"ArcWelding", value), -1);
    EXPECT_TRUE(traces.Has("CConfigurationFiles::GetMediaKey, Failure open " + N(record.Path()) + "\n"));
}

}  // namespace
}  // namespace kel

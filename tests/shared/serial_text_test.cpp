#include <gtest/gtest.h>

#include "shared/serial_text.h"

namespace {

TEST(SerialText, PrintedFormsAndMarkers) {
    EXPECT_EQ(kel::SerialNrToText(1234567), u"12-34567");
    EXPECT_EQ(kel::SerialNrToText(42), u"00-00042");
    EXPECT_EQ(kel::SerialNrToText(0), u"00-00000");
    EXPECT_EQ(kel::SerialNrToText(9999999), u"99-99999");
    EXPECT_EQ(kel::SerialNrToText(16777215), u"XX-XXXXX");
    EXPECT_EQ(kel::SerialNrToText(16777000), u"INTERNAL_USE");
    EXPECT_EQ(kel::SerialNrToText(16777001), u"VIRTUAL_USE");
}

TEST(SerialText, ValuesOutsideTheRangeGiveNoText) {
    EXPECT_EQ(kel::SerialNrToText(10000000), u"");
    EXPECT_EQ(kel::SerialNrToText(16777002), u"");
    EXPECT_EQ(kel::SerialNrToText(16776999), u"");
    EXPECT_EQ(kel::SerialNrToText(0xFFFFFFFFu), u"");  // -1 as a signed serial
}

}  // namespace

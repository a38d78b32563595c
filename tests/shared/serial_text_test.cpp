#include <gtest/gtest.h>

#include "shared/serial_text.h"

namespace {

// The edges of each form; 12-34567, 00-00042, INTERNAL_USE and VIRTUAL_USE
// come with the keystring vectors and key.id.
TEST(SerialText, EdgesOfThePrintedFormsAndMarkers) {
    EXPECT_EQ(kel::SerialNrToText(0), u"00-00000");
    EXPECT_EQ(kel::SerialNrToText(9999999), u"99-99999");
    EXPECT_EQ(kel::SerialNrToText(16777215), u"XX-XXXXX");
    for (const uint32_t outside : {10000000u, 16776999u, 16777002u, 0xFFFFFFFFu}) {
        EXPECT_EQ(kel::SerialNrToText(outside), u"") << outside;
    }
}

}  // namespace

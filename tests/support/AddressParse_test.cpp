#include "support/AddressParse.h"

#include <gtest/gtest.h>

namespace {

// Every text is checked against a reference by the ParseIPv4, ParseMac, ParseNumberInRange
// and MaskToPrefix fuzz targets over their seeds. Here what no seed gives: missing pointers.
TEST(AddressParseTest, MissingTextsAndBuffersAreRefused) {
  uint8_t bytes[6] = {};
  EXPECT_EQ(ParseMac(nullptr, bytes), -1);
  EXPECT_EQ(ParseMac("00:11:22:33:44:55", nullptr), -1);
  EXPECT_EQ(ParseIPv4(nullptr, bytes), 0);
  EXPECT_EQ(ParseIPv4("1.2.3.4", nullptr), 0);
  EXPECT_EQ(ParseNumberInRange(nullptr, 1, 65535), 0);
  EXPECT_EQ(MaskToPrefix(nullptr), -1);
}

}  // namespace

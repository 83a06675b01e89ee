#include "support/DigitParse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Parsing stops at the limit, a non-digit or the terminator, and cuts the value to the
// width without an overflow check; anything unusable gives 0.
TEST(DigitParseTest, Decimal) {
  EXPECT_EQ(ParseDecimal32("8080"), 8080u);
  EXPECT_EQ(ParseDecimal32("80a1"), 80u);
  EXPECT_EQ(ParseDecimal32("12345", 3), 123u);
  EXPECT_EQ(ParseDecimal32("12345", 0), 0u);
  EXPECT_EQ(ParseDecimal32("00080"), 80u);
  EXPECT_EQ(ParseDecimal64("12\0" "34", 5), 12u);
  EXPECT_EQ(ParseDecimal16("65537"), 1u);
  EXPECT_EQ(ParseDecimal32("4294967296"), 0u);
  EXPECT_EQ(ParseDecimal64("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(ParseDecimal64("18446744073709551617"), 1u);
  EXPECT_EQ(ParseDecimal64(std::string(100 * 1024, '9').c_str()), UINT64_MAX);  // all nines wrap to all ones
  for (const char* text : {"-5", "", "\xB9\xB2"}) EXPECT_EQ(ParseDecimal32(text), 0u) << text;
  EXPECT_EQ(ParseDecimal16(nullptr), 0u);
  EXPECT_EQ(ParseDecimal64(nullptr, 10), 0u);
}

TEST(DigitParseTest, Hex) {
  EXPECT_EQ(ParseHex8("aB", 2), 0xABu);
  EXPECT_EQ(ParseHex8("1ff"), 0xFFu);
  EXPECT_EQ(ParseHex16("fFfF"), 0xFFFFu);
  EXPECT_EQ(ParseHex32("1a2B\r\n"), 0x1A2Bu);
  EXPECT_EQ(ParseHex32("9G"), 9u);
  EXPECT_EQ(ParseHex64("DEADbeef01234567"), 0xDEADBEEF01234567u);
  EXPECT_EQ(ParseHex64("123456789", 4), 0x1234u);
  EXPECT_EQ(ParseHex32(std::string(100 * 1024, 'f').c_str()), UINT32_MAX);
  for (const char* text : {"0x10", "", "\xC1" "1"}) EXPECT_EQ(ParseHex32(text), 0u) << text;
  EXPECT_EQ(ParseHex8(nullptr), 0u);
}

}  // namespace

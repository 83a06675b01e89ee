#include "support/DigitParse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DigitParseTest, DecimalStopsAtLimitOrNonDigit) {
  EXPECT_EQ(ParseDecimal32("8080"), 8080u);
  EXPECT_EQ(ParseDecimal32("80a1"), 80u);
  EXPECT_EQ(ParseDecimal32("12345", 3), 123u);
  EXPECT_EQ(ParseDecimal32("12345", 0), 0u);
  EXPECT_EQ(ParseDecimal32("-5"), 0u);
  EXPECT_EQ(ParseDecimal32("00080"), 80u);
  EXPECT_EQ(ParseDecimal64("12\0" "34", 5), 12u);  // the terminator ends the text
}

TEST(DigitParseTest, DecimalCutsToWidthWithoutOverflowCheck) {
  EXPECT_EQ(ParseDecimal16("65537"), 1u);
  EXPECT_EQ(ParseDecimal32("4294967296"), 0u);
  EXPECT_EQ(ParseDecimal64("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(ParseDecimal64("18446744073709551617"), 1u);
}

TEST(DigitParseTest, Hex) {
  EXPECT_EQ(ParseHex8("aB", 2), 0xABu);
  EXPECT_EQ(ParseHex8("1ff"), 0xFFu);
  EXPECT_EQ(ParseHex16("fFfF"), 0xFFFFu);
  EXPECT_EQ(ParseHex32("1a2B\r\n"), 0x1A2Bu);
  EXPECT_EQ(ParseHex32("9G"), 9u);
  EXPECT_EQ(ParseHex32("0x10"), 0u);
  EXPECT_EQ(ParseHex64("DEADbeef01234567"), 0xDEADBEEF01234567u);
  EXPECT_EQ(ParseHex64("123456789", 4), 0x1234u);
}

TEST(DigitParseTest, BadInputGivesZero) {
  EXPECT_EQ(ParseDecimal16(nullptr), 0u);
  EXPECT_EQ(ParseDecimal64(nullptr, 10), 0u);
  EXPECT_EQ(ParseHex8(nullptr), 0u);
  EXPECT_EQ(ParseHex64(""), 0u);
  EXPECT_EQ(ParseDecimal32("\xB9\xB2"), 0u);
  EXPECT_EQ(ParseHex32("\xC1" "1"), 0u);
  const std::string huge(100 * 1024, '9');
  EXPECT_EQ(ParseDecimal64(huge.c_str()), UINT64_MAX);  // all nines wrap to all ones
  EXPECT_EQ(ParseHex32(std::string(100 * 1024, 'f').c_str()), UINT32_MAX);
}

}  // namespace

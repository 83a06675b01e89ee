#include "support/DigitParse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Widths, limits and wrapping are checked against a reference by the DigitParse fuzz target
// over its seeds. Here what no seed gives: missing texts, a terminator inside the limit, and
// runs of a hundred thousand digits, which wrap without an overflow check.
TEST(DigitParseTest, MissingTextsTerminatorsAndEndlessRuns) {
  EXPECT_EQ(ParseDecimal16(nullptr), 0u);
  EXPECT_EQ(ParseDecimal64(nullptr, 10), 0u);
  EXPECT_EQ(ParseHex8(nullptr), 0u);
  EXPECT_EQ(ParseDecimal64("12\0" "34", 5), 12u);
  EXPECT_EQ(ParseDecimal64(std::string(100 * 1024, '9').c_str()), UINT64_MAX);  // all nines wrap to all ones
  EXPECT_EQ(ParseHex32(std::string(100 * 1024, 'f').c_str()), UINT32_MAX);
}

}  // namespace

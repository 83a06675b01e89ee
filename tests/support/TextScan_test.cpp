#include "support/TextScan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Splits a copy of line until NextToken gives none. That each token lies in the buffer and
// the cursor advances is checked by the NextToken fuzz target.
std::vector<std::string> Tokens(const std::string& line, const char* skip,
                                const char* delimiters = kCsvDelimiterSet) {
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  std::vector<std::string> tokens;
  char* token = nullptr;
  for (char* cursor = buffer.data();
       (cursor = NextToken(cursor, skip, delimiters, &token)) != nullptr;) {
    tokens.emplace_back(token);
    if (tokens.size() > buffer.size()) {
      ADD_FAILURE() << "NextToken does not advance";
      break;
    }
  }
  return tokens;
}

using Strings = std::vector<std::string>;

TEST(TextScanTest, CaseFolding) {
  char text[] = "MiXeD-\xC9\x80 9Z";
  EXPECT_EQ(StrToLower(text), text);
  EXPECT_STREQ(text, "mixed-\xC9\x80 9z");
  EXPECT_EQ(StrToLower(nullptr), nullptr);

  EXPECT_EQ(StrNCaseCmp("Content-LENGTH", "content-length", 14), 0);
  EXPECT_EQ(StrNCaseCmp("abcX", "ABCy", 3), 0);
  EXPECT_LT(StrNCaseCmp("abc", "ABD", 3), 0);
  EXPECT_GT(StrNCaseCmp("abcd", "ABC", 10), 0);
  EXPECT_GT(StrNCaseCmp("\xE9", "z", 1), 0);  // bytes compare unsigned
  EXPECT_EQ(StrNCaseCmp(nullptr, "a", 1), -1);
  EXPECT_EQ(StrNCaseCmp("a", nullptr, 1), -1);

  const char* header = "Transfer-Encoding: CHUNKED\r\n";
  EXPECT_EQ(StrCaseStr(header, "chunked"), header + 19);
  EXPECT_EQ(StrCaseStr("", "chunked"), nullptr);
  EXPECT_EQ(StrCaseStr("Transfer-Encoding: chunke", "chunked"), nullptr);
  EXPECT_EQ(StrCaseStr(nullptr, "x"), nullptr);
  EXPECT_EQ(StrCaseStr(std::string(100 * 1024, 'Q').c_str(), "qqqx"), nullptr);
}

TEST(TextScanTest, ScanningPrimitives) {
  const char* text = "  \tword";
  EXPECT_EQ(SpanChars(text, " \t"), text + 3);
  EXPECT_EQ(SpanChars("   ", " "), nullptr);
  EXPECT_EQ(SpanChars("", " "), nullptr);
  EXPECT_EQ(FindFirstOf(text, "rd"), text + 5);
  EXPECT_EQ(FindFirstOf(text, ","), nullptr);

  char line[] = "key=value=more";
  char* rest = CutAtDelimiter(line, "=");
  EXPECT_STREQ(line, "key");
  EXPECT_STREQ(rest, "value=more");
  EXPECT_EQ(CutAtDelimiter(rest, ","), nullptr);
  EXPECT_STREQ(rest, "value=more");

  char padded[] = "\" a b \"\r\n";
  EXPECT_EQ(TrimRight(padded, kCsvSkipSet), padded);
  EXPECT_STREQ(padded, "\" a b");
  char blanks[] = " \t\" ";
  EXPECT_STREQ(TrimRight(blanks, kCsvSkipSet), "");
  EXPECT_EQ(TrimRight(nullptr, " "), nullptr);
  EXPECT_EQ(TrimRight(padded, nullptr), nullptr);
  const char* missing = nullptr;
  EXPECT_EQ(SpanChars(missing, " "), nullptr);
  EXPECT_EQ(FindFirstOf(missing, " "), nullptr);
  EXPECT_EQ(CutAtDelimiter(nullptr, ","), nullptr);
}

TEST(TextScanTest, NextToken) {
  const struct {
    std::string line;
    const char* skip;
    Strings tokens;
  } cases[] = {
      {"\"a\",\"\",,\"b\"\r\n", kCsvSkipSet, {"a", "", "", "b"}},
      {"", kCsvSkipSet, {}},
      {"  ,x", kCsvSkipSet, {"", "x"}},
      {"a,b,", kCsvSkipSet, {"a", "b"}},
      {"a,\"\"", kCsvSkipSet, {"a"}},
      {"\"x,y\",z", kCsvSkipSet, {"x", "y", "z"}},
      {" in ner ", kCsvSkipSet, {"in ner"}},
      {"\xFF\x80,\xC3\xA9", kCsvSkipSet, {"\xFF\x80", "\xC3\xA9"}},
      {std::string(100 * 1024, 'Q'), kCsvSkipSet, {std::string(100 * 1024, 'Q')}},
      {"a,,b", nullptr, {"a", "", "b"}},
      {" a ,b,", nullptr, {" a ", "b"}},
      {"", nullptr, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.line, c.skip), c.tokens) << c.line.substr(0, 20);

  char line[] = "a,b";
  char* token = nullptr;
  EXPECT_EQ(NextToken(nullptr, kCsvSkipSet, kCsvDelimiterSet, &token), nullptr);
  EXPECT_EQ(NextToken(line, kCsvSkipSet, nullptr, &token), nullptr);
  EXPECT_EQ(NextToken(line, kCsvSkipSet, kCsvDelimiterSet, nullptr), nullptr);
  EXPECT_EQ(token, nullptr);
  EXPECT_STREQ(line, "a,b");
}

// The registry loads' splitter: NextToken with the CSV sets, down to the bytes it writes.
TEST(TextScanTest, NextCsvTokenIsNextTokenWithTheCsvSets) {
  const std::string lines[] = {"\"a\",\"\",,\"b\"\r\n", "", "  ,x", "a,b,", "a,\"\"", "\"x,y\",z", " in ner ",
                               "\"02:00:00:00:00:01\" , \"10.0.0.1\"\t,\"\",\"\"", "\t\"\r\n", ",,,", "\xFF\x80,\xC3\xA9"};
  for (const std::string& line : lines) {
    std::vector<char> general(line.begin(), line.end());
    general.push_back('\0');
    std::vector<char> csv = general;
    char* generalCursor = general.data();
    char* csvCursor = csv.data();
    for (;;) {
      char* generalToken = nullptr;
      char* csvToken = nullptr;
      generalCursor = NextToken(generalCursor, kCsvSkipSet, kCsvDelimiterSet, &generalToken);
      csvCursor = NextCsvToken(csvCursor, &csvToken);
      ASSERT_EQ(generalCursor == nullptr, csvCursor == nullptr) << line;
      if (generalCursor == nullptr) break;
      EXPECT_EQ(generalCursor - general.data(), csvCursor - csv.data()) << line;
      EXPECT_EQ(generalToken - general.data(), csvToken - csv.data()) << line;
    }
    EXPECT_EQ(general, csv) << line;
  }
  char* token = nullptr;
  EXPECT_EQ(NextCsvToken(nullptr, &token), nullptr);
  EXPECT_EQ(token, nullptr);
}

}  // namespace

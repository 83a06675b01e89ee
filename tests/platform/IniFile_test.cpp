#include "platform/IniFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>

#include "tests/common/TempDir.h"

namespace {

using platform::ReadIniString;
using platform::WriteIniString;

class ProfileTest : public ::testing::Test {
 protected:
  static std::string Get(const std::string& section, const std::string& key,
                         const std::string& file = "t.ini", std::size_t size = 256) {
    return ReadIniString(section, key, "DEF", size, file);
  }
  testing_support::TempDir dir_;
};

TEST_F(ProfileTest, ReadsNamesWithoutCaseOrBlanksAndValuesWithoutQuotes) {
  for (const char* end : {"\n", "\r\n"}) {
    const std::string text =
        "[  Syslog\t]|  Destination  =  10.0.0.1  |dq=\"  spaced  \"|sq=' single '|mixed=\"open'|"
        "inner=a\"b\"c|empty=\"\"|blank=|[other]|destination=elsewhere|last=no line end";
    std::string withEnds;
    for (char c : text) withEnds += c == '|' ? std::string(end) : std::string(1, c);
    dir_.Write("t.ini", withEnds);
    const struct {
      const char *section, *key, *value;
    } rows[] = {{"SYSLOG", "DESTINATION", "10.0.0.1"},
                {"  syslog ", " destination ", "10.0.0.1"},
                {"syslog", "dq", "  spaced  "},
                {"syslog", "sq", " single "},
                {"syslog", "mixed", "\"open'"},
                {"syslog", "inner", "a\"b\"c"},
                {"OTHER", "Destination", "elsewhere"},
                {"other", "last", "no line end"},
                {"syslog", "destinatio", "DEF"},
                {"syslo", "destination", "DEF"},
                {"syslog", "empty", ""},
                {"syslog", "blank", ""},
                {"syslog", "nokey", "DEF"},
                {"nosection", "k", "DEF"}};
    for (const auto& row : rows) {
      EXPECT_EQ(Get(row.section, row.key), row.value)
          << row.section << "/" << row.key << (end[1] ? " CRLF" : " LF");
    }
  }
  EXPECT_EQ(Get("syslog", "destination", "absent.ini"), "DEF");
  ASSERT_TRUE(std::filesystem::create_directory("dir.ini"));
  EXPECT_EQ(Get("syslog", "destination", "dir.ini"), "DEF");
}

TEST_F(ProfileTest, ResultAndDefaultAreCutToSizeLessOne) {
  dir_.Write("t.ini", "[s]\nk=abcdef\n");
  EXPECT_EQ(Get("s", "k", "t.ini", 4), "abc");
  EXPECT_EQ(Get("s", "k", "t.ini", 7), "abcdef");
  EXPECT_EQ(Get("s", "k", "t.ini", 1), "");
  EXPECT_EQ(Get("s", "k", "t.ini", 0), "");
  EXPECT_EQ(ReadIniString("s", "none", "default", 4, "t.ini"), "def");
  EXPECT_EQ(ReadIniString("s", "none", "ab  \t", 10, "t.ini"), "ab");
}

TEST_F(ProfileTest, WriteCreatesFileSectionAndKey) {
  ASSERT_TRUE(WriteIniString("Syslog", "Destination", "10.1.2.3", "new.ini"));
  EXPECT_EQ(dir_.Read("new.ini"), "[Syslog]\r\nDestination=10.1.2.3\r\n");
  ASSERT_TRUE(WriteIniString("syslog", "Priority", "info", "new.ini"));
  ASSERT_TRUE(WriteIniString("Other", "k", "v", "new.ini"));
  EXPECT_EQ(dir_.Read("new.ini"),
            "[Syslog]\r\nDestination=10.1.2.3\r\nPriority=info\r\n[Other]\r\nk=v\r\n");
  EXPECT_FALSE(WriteIniString("s", "k", "v", "nodir/t.ini"));
}

TEST_F(ProfileTest, WriteKeepsOtherLinesByteForByte) {
  dir_.Write("t.ini",
             "; header\n[ A ]   ; trailing\n  x =  1  \n\ny=\"2\"\n; after the keys\n\n[b]\nz=3");
  ASSERT_TRUE(WriteIniString("a", "X", "10", "t.ini"));
  std::string expected =
      "; header\n[ A ]   ; trailing\nX=10\n\ny=\"2\"\n; after the keys\n\n[b]\nz=3";
  EXPECT_EQ(dir_.Read("t.ini"), expected) << "replaced in place";
  ASSERT_TRUE(WriteIniString("a", "w", "new", "t.ini"));
  expected = "; header\n[ A ]   ; trailing\nX=10\n\ny=\"2\"\nw=new\n; after the keys\n\n[b]\nz=3";
  EXPECT_EQ(dir_.Read("t.ini"), expected) << "a new key follows the section's last key";
  ASSERT_TRUE(WriteIniString("b", "q", "4", "t.ini"));
  EXPECT_EQ(dir_.Read("t.ini"), expected + "\nq=4\n") << "the missing last line end is added";
}

TEST_F(ProfileTest, FailedWriteLeavesPreviousFileIntact) {
  const std::string before = "[s]\r\nk=old\r\nother=1\r\n";
  dir_.Write("t.ini", before);
  // A file-size limit stands in for a full disk.
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const rlimit small{4096, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteIniString("s", "k", std::string(100000, 'n'), "t.ini");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(dir_.Read("t.ini"), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator{}), 1);
}

}  // namespace

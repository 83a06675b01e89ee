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
  testing_support::TempDir dir_;
};

// What a file's lines give, and the cut to size - 1, is checked against a reference by the
// IniFile fuzz target over its seeds. Here what no seed gives: no file, or a directory.
TEST_F(ProfileTest, AMissingFileOrADirectoryGivesTheDefault) {
  EXPECT_EQ(ReadIniString("syslog", "destination", "DEF", 256, "absent.ini"), "DEF");
  ASSERT_TRUE(std::filesystem::create_directory("dir.ini"));
  EXPECT_EQ(ReadIniString("syslog", "destination", "DEF", 256, "dir.ini"), "DEF");
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

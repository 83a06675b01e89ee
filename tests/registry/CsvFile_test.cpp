// The registry files' reader and writer: line pieces and whole-file replacement.
#include "registry/CsvFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/TempDir.h"

namespace {

using testing_support::TempDir;

std::vector<std::string> ReadLines(const char* path) {
  CsvLineReader reader(path);
  std::vector<std::string> lines;
  while (const char* line = reader.Next()) lines.emplace_back(line);
  return lines;
}

TEST(CsvFile, LongLinesComeInPiecesAndLineEndsAreCut) {
  TempDir dir;
  dir.Write("a.csv", std::string(5000, 'x') + "\r\n\"b\" \t\r\n" + std::string("last,\0tail", 10));
  const std::vector<std::string> lines = ReadLines("a.csv");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string(4095, 'x'));
  EXPECT_EQ(lines[1], std::string(905, 'x'));
  EXPECT_EQ(lines[2], "\"b\"");
  EXPECT_EQ(lines[3], "last,");  // a NUL ends the line's text; no final line end needed
}

TEST(CsvFile, CommitReplacesTheFileWithTheGivenMode) {
  TempDir dir;
  dir.Write("gw.csv", "old\r\n");
  CsvFileWriter writer("gw.csv", 0600);
  ASSERT_TRUE(writer.Write("new\r\n"));
  EXPECT_EQ(dir.Read("gw.csv"), "old\r\n");  // nothing changes before the commit
  ASSERT_TRUE(writer.Commit());
  EXPECT_EQ(dir.Read("gw.csv"), "new\r\n");
  struct stat info {};
  ASSERT_EQ(stat("gw.csv", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(CsvFile, AFailedSaveKeepsThePreviousFileAndLeavesNoTemporary) {
  TempDir dir;
  dir.Write("pc.csv", "previous\r\n");
  // A file-size limit stands in for a full disk; root passes every permission check.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit small{16, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool committed = true;
  {
    CsvFileWriter writer("pc.csv", 0644);
    committed = writer.Write(std::string(100000, 'y')) && writer.Commit();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(committed);
  EXPECT_EQ(dir.Read("pc.csv"), "previous\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
  EXPECT_FALSE(CsvFileWriter("no-such-dir/pc.csv", 0644).IsOpen());
}

}  // namespace

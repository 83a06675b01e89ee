// The registry files' writer: a save that fails half-way changes nothing. How lines are
// read is pinned by the registries' load tests.
#include "registry/CsvFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "tests/common/TempDir.h"

namespace {

TEST(CsvFile, AFailedSaveKeepsThePreviousFileAndLeavesNoTemporary) {
  testing_support::TempDir dir;
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

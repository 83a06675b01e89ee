#include "platform/Profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::DeletePrivateProfileKey;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

// Each test runs in a fresh directory of its own, entered and removed again.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velnor-profile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    oldDir_ = std::filesystem::current_path();
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    std::filesystem::current_path(oldDir_);
    std::filesystem::remove_all(dir_);
  }

  static void Put(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good());
  }
  static std::string Slurp(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string Get(const std::string& section, const std::string& key,
                         const std::string& file = "t.ini", std::size_t size = 256) {
    return GetPrivateProfileString(section, key, "DEF", size, file);
  }
  // Names in the directory, so a test can tell that no temporary file was left behind.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  std::filesystem::path oldDir_;
};

TEST_F(ProfileTest, NamesMatchWithoutCaseAndBlanks) {
  Put("t.ini",
      "[  Syslog\t]\r\n"
      "  Destination  =  10.0.0.1  \r\n"
      "PriorityMask=debug\r\n"
      "[other]\r\n"
      "destination=elsewhere\r\n");
  EXPECT_EQ(Get("SYSLOG", "DESTINATION"), "10.0.0.1");
  EXPECT_EQ(Get("syslog", "destination"), "10.0.0.1");
  EXPECT_EQ(Get("  syslog ", " PRIORITYMASK "), "debug");
  EXPECT_EQ(Get("OTHER", "Destination"), "elsewhere");
  // Only ASCII letters fold; a different name stays different.
  EXPECT_EQ(Get("syslog", "destinatio"), "DEF");
  EXPECT_EQ(Get("syslo", "destination"), "DEF");
}

TEST_F(ProfileTest, QuotesAroundAValueAreDropped) {
  Put("t.ini",
      "[s]\n"
      "dq=\"  spaced  \"\n"
      "sq=' single '\n"
      "mixed=\"open'\n"
      "lone=\"\n"
      "inner=a\"b\"c\n"
      "empty=\"\"\n"
      "blank=\n");
  EXPECT_EQ(Get("s", "dq"), "  spaced  ");
  EXPECT_EQ(Get("s", "sq"), " single ");
  EXPECT_EQ(Get("s", "mixed"), "\"open'");
  EXPECT_EQ(Get("s", "lone"), "\"");
  EXPECT_EQ(Get("s", "inner"), "a\"b\"c");
  EXPECT_EQ(Get("s", "empty"), "");
  EXPECT_EQ(Get("s", "blank"), "");
}

TEST_F(ProfileTest, ResultIsCutToSizeLessOne) {
  Put("t.ini", "[s]\nk=abcdef\n");
  EXPECT_EQ(Get("s", "k", "t.ini", 4), "abc");
  EXPECT_EQ(Get("s", "k", "t.ini", 7), "abcdef");
  EXPECT_EQ(Get("s", "k", "t.ini", 1), "");
  EXPECT_EQ(Get("s", "k", "t.ini", 0), "");
  // The default is cut the same way, after its trailing blanks are dropped.
  EXPECT_EQ(GetPrivateProfileString("s", "none", "default", 4, "t.ini"), "def");
  EXPECT_EQ(GetPrivateProfileString("s", "none", "ab  \t", 10, "t.ini"), "ab");
  EXPECT_EQ(GetPrivateProfileString("s", "none", "  ab", 10, "t.ini"), "  ab");
  EXPECT_EQ(GetPrivateProfileString("s", "none", "x", 0, "t.ini"), "");
}

TEST_F(ProfileTest, MissingOrUnreadableGivesTheDefault) {
  Put("t.ini", "[s]\nk=v\n");
  EXPECT_EQ(Get("s", "k", "absent.ini"), "DEF");
  EXPECT_EQ(Get("nosection", "k"), "DEF");
  EXPECT_EQ(Get("s", "nokey"), "DEF");
  // A directory under the file's name cannot be read as a file.
  ASSERT_TRUE(std::filesystem::create_directory("dir.ini"));
  EXPECT_EQ(Get("s", "k", "dir.ini"), "DEF");
  EXPECT_EQ(Get("s", "k", "nodir/t.ini"), "DEF");
  // Keys before the first section belong to none.
  Put("t.ini", "k=top\n[s]\nother=1\n");
  EXPECT_EQ(Get("s", "k"), "DEF");
}

TEST_F(ProfileTest, CrLfAndLfFilesReadAlike) {
  const std::string lf = "[a]\nx=1\ny = two \n[b]\nx=3\n";
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  for (const std::string& text : {lf, crlf}) {
    Put("t.ini", text);
    EXPECT_EQ(Get("a", "x"), "1");
    EXPECT_EQ(Get("a", "y"), "two");
    EXPECT_EQ(Get("b", "x"), "3");
  }
  // A last line without any line end still counts.
  Put("t.ini", "[a]\r\nx=last");
  EXPECT_EQ(Get("a", "x"), "last");
}

TEST_F(ProfileTest, FirstOccurrenceAndCommentsAndOddLines) {
  Put("t.ini",
      "[s]\n"
      "; k=commented\n"
      "   ;k=indented comment\n"
      "no equals sign here\n"
      "k=first\n"
      "K=second\n"
      "[S]\n"
      "k=second section\n"
      "late=only in the second\n"
      "[unclosed\n"
      "u=1\n");
  EXPECT_EQ(Get("s", "k"), "first");
  EXPECT_EQ(Get("s", "late"), "DEF");
  EXPECT_EQ(Get("s", "no equals sign here"), "DEF");
  EXPECT_EQ(Get("unclosed", "u"), "1");
  // A value keeps every '=' after the first.
  Put("t.ini", "[s]\nurl=a=b=c\n");
  EXPECT_EQ(Get("s", "url"), "a=b=c");
}

TEST_F(ProfileTest, NulAndBinaryBytesEndTheLineText) {
  std::string text = "[s]\nk=ab";
  text += '\0';
  text += "cd\nnext=1\n\xff\xfe\x01[s2\x80]\n";
  text += std::string("z=\0=9\n", 6);
  Put("t.ini", text);
  EXPECT_EQ(Get("s", "k"), "ab");
  EXPECT_EQ(Get("s", "next"), "1");
  EXPECT_EQ(Get("s", "z"), "");
}

TEST_F(ProfileTest, LongLinesAreReadWhole) {
  const std::string big(200000, 'x');
  Put("t.ini", "[s]\nk=" + big + "\r\nafter=ok\r\n");
  EXPECT_EQ(Get("s", "k", "t.ini", big.size() + 1), big);
  EXPECT_EQ(Get("s", "after"), "ok");
}

TEST_F(ProfileTest, WriteCreatesFileSectionAndKey) {
  ASSERT_TRUE(WritePrivateProfileString("Syslog", "Destination", "10.1.2.3", "new.ini"));
  EXPECT_EQ(Slurp("new.ini"), "[Syslog]\r\nDestination=10.1.2.3\r\n");
  struct stat info {};
  ASSERT_EQ(stat("new.ini", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);

  ASSERT_TRUE(WritePrivateProfileString("syslog", "Priority", "info", "new.ini"));
  ASSERT_TRUE(WritePrivateProfileString("Other", "k", "v", "new.ini"));
  EXPECT_EQ(Slurp("new.ini"),
            "[Syslog]\r\nDestination=10.1.2.3\r\nPriority=info\r\n[Other]\r\nk=v\r\n");
  EXPECT_EQ(Get("SYSLOG", "priority", "new.ini"), "info");
  EXPECT_EQ(Entries(), std::vector<std::string>{"new.ini"});
}

TEST_F(ProfileTest, WriteKeepsOtherLinesByteForByte) {
  const std::string before =
      "; header comment\n"
      "[ A ]   ; trailing text\n"
      "  x =  1  \n"
      "\n"
      "y=\"2\"\n"
      "; after the keys\n"
      "\n"
      "[b]\n"
      "z=3";
  Put("t.ini", before);

  // Replaced in place: only that line changes, its line end stays.
  ASSERT_TRUE(WritePrivateProfileString("a", "X", "10", "t.ini"));
  std::string expected =
      "; header comment\n[ A ]   ; trailing text\nX=10\n\ny=\"2\"\n; after the keys\n\n[b]\nz=3";
  EXPECT_EQ(Slurp("t.ini"), expected);

  // A new key follows the section's last key line, with the file's LF line end.
  ASSERT_TRUE(WritePrivateProfileString("a", "w", "new", "t.ini"));
  expected =
      "; header comment\n[ A ]   ; trailing text\nX=10\n\ny=\"2\"\nw=new\n; after the keys\n\n"
      "[b]\nz=3";
  EXPECT_EQ(Slurp("t.ini"), expected);

  // The last line had no line end: one is added before anything follows it.
  ASSERT_TRUE(WritePrivateProfileString("b", "q", "4", "t.ini"));
  expected += "\nq=4\n";
  EXPECT_EQ(Slurp("t.ini"), expected);
  ASSERT_TRUE(WritePrivateProfileString("c", "r", "5", "t.ini"));
  expected += "[c]\nr=5\n";
  EXPECT_EQ(Slurp("t.ini"), expected);

  // A section without keys takes the new key right after its header.
  Put("t.ini", "[empty]\r\n; note\r\n[next]\r\nn=1\r\n");
  ASSERT_TRUE(WritePrivateProfileString("empty", "k", "v", "t.ini"));
  EXPECT_EQ(Slurp("t.ini"), "[empty]\r\nk=v\r\n; note\r\n[next]\r\nn=1\r\n");
}

TEST_F(ProfileTest, WrittenValuesReadBackUnchanged) {
  const std::vector<std::string> values = {
      "plain", "", "  lead and trail  ", "\"quoted\"", "'single'", "\"", "a=b", "; not a comment",
      "tab\tinside", "\xc3\xa9t\xc3\xa9"};
  for (const std::string& value : values) {
    ASSERT_TRUE(WritePrivateProfileString("s", "k", value, "t.ini")) << value;
    EXPECT_EQ(GetPrivateProfileString("s", "k", "DEF", 1024, "t.ini"), value);
  }
  // Replacing over and over keeps exactly one line of the key.
  EXPECT_EQ(Slurp("t.ini"), "[s]\r\nk=\xc3\xa9t\xc3\xa9\r\n");
}

TEST_F(ProfileTest, WriteRefusesEntriesThatWouldNotReadBack) {
  Put("t.ini", "[s]\nk=v\n");
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "two\nlines", "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "cr\rinside", "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("s", "k", std::string("nul\0x", 5), "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("s", "a=b", "v", "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("s", "   ", "v", "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("s", ";k", "v", "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("s", "[k", "v", "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("a]b", "k", "v", "t.ini"));
  EXPECT_FALSE(WritePrivateProfileString("a\nb", "k", "v", "t.ini"));
  EXPECT_EQ(Slurp("t.ini"), "[s]\nk=v\n");
}

TEST_F(ProfileTest, WriteThatCannotHappenReturnsFalse) {
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", "nodir/t.ini"));
  EXPECT_FALSE(std::filesystem::exists("nodir"));

  ASSERT_TRUE(std::filesystem::create_directory("dir.ini"));
  Put("dir.ini/inside", "keep");
  EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", "dir.ini"));
  EXPECT_TRUE(std::filesystem::is_directory("dir.ini"));
  EXPECT_EQ(Slurp("dir.ini/inside"), "keep");
  EXPECT_FALSE(DeletePrivateProfileKey("s", "k", "dir.ini"));
  EXPECT_EQ(Entries(), std::vector<std::string>{"dir.ini"});
}

// A write that fails half way (the file size limit stops the temporary file, which root
// cannot override) must leave the old file whole and no temporary file behind.
TEST_F(ProfileTest, FailedWriteLeavesPreviousFileIntact) {
  const std::string before = "[s]\r\nk=old\r\nother=1\r\n";
  Put("t.ini", before);

  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit oldLimit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WritePrivateProfileString("s", "k", std::string(100000, 'n'), "t.ini");
  setrlimit(RLIMIT_FSIZE, &oldLimit);
  sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_FALSE(written);
  EXPECT_EQ(Slurp("t.ini"), before);
  EXPECT_EQ(Entries(), std::vector<std::string>{"t.ini"});
}

TEST_F(ProfileTest, WriteKeepsModeAndGoesThroughSymlinks) {
  Put("real.ini", "[s]\nk=1\n");
  ASSERT_EQ(chmod("real.ini", 0600), 0);
  ASSERT_EQ(symlink("real.ini", "link.ini"), 0);
  ASSERT_TRUE(WritePrivateProfileString("s", "k", "2", "link.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink("link.ini"));
  EXPECT_EQ(Slurp("real.ini"), "[s]\nk=2\n");
  struct stat info {};
  ASSERT_EQ(stat("real.ini", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(ProfileTest, DeleteRemovesOnlyTheKeyLines) {
  Put("t.ini", "[s]\r\nk=1\r\n; note\r\nK = 2\r\nkeep=3\r\n[t]\r\nk=4\r\n");
  ASSERT_TRUE(DeletePrivateProfileKey("S", "k", "t.ini"));
  EXPECT_EQ(Slurp("t.ini"), "[s]\r\n; note\r\nkeep=3\r\n[t]\r\nk=4\r\n");
  EXPECT_EQ(Get("s", "k"), "DEF");
  EXPECT_EQ(Get("t", "k"), "4");

  // Nothing to remove: success, file untouched.
  ASSERT_TRUE(DeletePrivateProfileKey("s", "k", "t.ini"));
  ASSERT_TRUE(DeletePrivateProfileKey("nosection", "k", "t.ini"));
  EXPECT_EQ(Slurp("t.ini"), "[s]\r\n; note\r\nkeep=3\r\n[t]\r\nk=4\r\n");
  EXPECT_TRUE(DeletePrivateProfileKey("s", "k", "absent.ini"));
  EXPECT_FALSE(std::filesystem::exists("absent.ini"));
}

TEST_F(ProfileTest, ConcurrentWritersLoseNoKey) {
  constexpr int kThreads = 8;
  constexpr int kKeys = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "k" + std::to_string(t) + "_" + std::to_string(k);
        WritePrivateProfileString("s", key, std::to_string(t * 1000 + k), "t.ini");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      const std::string key = "k" + std::to_string(t) + "_" + std::to_string(k);
      EXPECT_EQ(Get("s", key), std::to_string(t * 1000 + k)) << key;
    }
  }
}

}  // namespace

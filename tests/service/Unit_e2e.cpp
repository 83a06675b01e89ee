// The unit that velnor -Service writes: systemd takes it as it is and rates its exposure 2.0
// or lower, whichever account it runs as, and a directory of root's is given to the velnor
// user only when it holds nothing but the service's own files.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "tests/common/ServiceFixture.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

constexpr uid_t kVelnorUid = 64999;

// The value of a unit line "key=value", or "<none>".
std::string Setting(const std::string& unit, const std::string& key) {
  const std::size_t at = unit.find("\n" + key + "=");
  if (at == std::string::npos) return "<none>";
  const std::size_t begin = at + key.size() + 2;
  return unit.substr(begin, unit.find('\n', begin) - begin);
}

class UnitTest : public ServiceFixture {
 protected:
  UnitTest() { fs::create_directories(instance_); }

  // velnor with the switch in the instance directory. With the test's passwd and group files,
  // it sees them instead of the system's, in a mount namespace of its own.
  Outcome Velnor(const std::string& option, bool withVelnorUser = false) {
    const std::string run = "cd instance && VELNOR_UNIT_DIR=\"" + units_ + "\" exec \"" VELNOR_BINARY "\" " + option;
    if (!withVelnorUser) return Shell(run);
    return Shell("unshare -m sh -c 'mount --bind passwd /etc/passwd && mount --bind group /etc/group && " + run + "'");
  }

  std::string instance_ = dir_.File("instance");
};

// Registered in a directory of root's and then again in the same directory given to another
// user: the second registration replaces the first, and each unit passes.
TEST_F(UnitTest, UnitIsValidAndScoresTwoOrLessForEveryAccount) {
  if (Shell("command -v systemd-analyze").status != 0) GTEST_SKIP() << "systemd-analyze is not installed";
  dir_.Write("instance/notes.txt", "not one of the service's files, so the directory stays root's\n");
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const struct {
    uid_t owner;
    std::string user;
  } cases[] = {{0, "<none>"}, {nobody->pw_uid, nobody->pw_name}};
  for (const auto& c : cases) {
    SCOPED_TRACE("directory of uid " + std::to_string(c.owner));
    ASSERT_EQ(::chown(instance_.c_str(), c.owner, 0), 0);
    const Outcome registered = Velnor("-Service");
    ASSERT_EQ(registered.status, 0) << registered.output;
    const std::string unit = Slurp(unit_);
    const std::string directory = fs::canonical(instance_).string();
    EXPECT_EQ(Setting(unit, "User"), c.user);
    EXPECT_EQ(Setting(unit, "ExecStart"), "\"" + fs::canonical(VELNOR_BINARY).string() + "\"");
    EXPECT_EQ(Setting(unit, "WorkingDirectory"), directory);
    EXPECT_EQ(Setting(unit, "ReadWritePaths"), "\"" + directory + "\"");
    EXPECT_EQ(Setting(unit, "CapabilityBoundingSet"), "CAP_NET_RAW");
    EXPECT_EQ(Setting(unit, "RestartPreventExitStatus"), "1 78");
    EXPECT_EQ(Setting(unit, "Type"), "notify");

    // The man page that Documentation= names comes with the package, not with this build.
    const Outcome verify = Shell("systemd-analyze verify --man=no '" + unit_ + "'");
    EXPECT_EQ(verify.status, 0) << verify.output << unit;
    const Outcome security = Shell("systemd-analyze security --offline=true '" + unit_ + "'");
    std::smatch level;
    ASSERT_TRUE(std::regex_search(security.output, level, std::regex("Overall exposure level for velnor.service: ([0-9.]+)")))
        << security.output;
    EXPECT_LE(std::stod(level[1]), 2.0) << security.output;
  }
}

// With a velnor user (seen through a passwd file of the test's), a directory of root's that
// holds the service's files alone is handed over, files and all; one holding a link (here one
// named like a registry file) is left to root, and the link's target is never touched.
TEST_F(UnitTest, RootDirectoryOfItsOwnIsGivenToVelnor) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
  dir_.Write("passwd", Slurp("/etc/passwd") + "velnor:x:64999:64999::/nonexistent:/usr/sbin/nologin\n");
  dir_.Write("group", Slurp("/etc/group") + "velnor:x:64999:\n");
  dir_.Write("instance/gw.csv", "\"172.16.0.1\",\"880\",\"admin\",\"tovin\"\n");
  dir_.Write("instance/pc.csv.bak.1", "");
  const std::string target = dir_.File("elsewhere");
  dir_.Write("elsewhere", "");

  for (const bool withLink : {false, true}) {
    SCOPED_TRACE(withLink ? "with a link" : "the service's files alone");
    if (withLink) fs::create_symlink(target, instance_ + "/quarantine.csv");
    const Outcome registered = Velnor("-Service", true);
    ASSERT_EQ(registered.status, 0) << registered.output;
    const std::string unit = Slurp(unit_);
    EXPECT_EQ(Setting(unit, "User"), withLink ? "<none>" : "velnor");
    EXPECT_EQ(registered.output.find("chown -R velnor:velnor") != std::string::npos, withLink) << registered.output;
    for (const std::string& path : {instance_, instance_ + "/Velnor.reg", instance_ + "/gw.csv", instance_ + "/pc.csv.bak.1"}) {
      struct stat info {};
      ASSERT_EQ(::lstat(path.c_str(), &info), 0) << path;
      EXPECT_EQ(info.st_uid, withLink ? 0u : kVelnorUid) << path;
    }
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    // Back to root for the second round.
    ASSERT_EQ(Shell("chown -hR 0:0 '" + instance_ + "'").status, 0);
  }
}

}  // namespace

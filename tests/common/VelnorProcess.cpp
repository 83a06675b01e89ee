#include "tests/common/VelnorProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

std::string Slurp(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

VelnorProcess::VelnorProcess(const std::vector<std::string>& args, const std::string& unitDir,
                             const std::string& notify) {
  pid_ = ::fork();
  if (pid_ != 0) return;
  ::dup2(::open("/dev/null", O_RDONLY), 0);
  ::dup2(::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
  ::dup2(::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
  ::unsetenv("NOTIFY_SOCKET");
  if (!notify.empty()) ::setenv("NOTIFY_SOCKET", notify.c_str(), 1);
  ::setenv("VELNOR_UNIT_DIR", unitDir.c_str(), 1);
  std::vector<std::string> all{VELNOR_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

VelnorProcess::~VelnorProcess() {
  if (status_) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

void VelnorProcess::Signal(int signal) const { ::kill(pid_, signal); }

bool VelnorProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
  for (const auto deadline = Clock::now() + timeout; Out().find(text) == std::string::npos;) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::optional<int> VelnorProcess::Wait(std::chrono::milliseconds timeout) {
  for (const auto deadline = Clock::now() + timeout; !status_ && Clock::now() < deadline;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return status_;
}

}  // namespace testing_support

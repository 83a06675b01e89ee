#include "tests/common/PeerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/common/VelnorProcess.h"

extern char** environ;

namespace testing_support {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& args, const std::string& outPath,
                         const std::string& errPath, const std::vector<std::string>& environment) {
  if (args.empty()) throw std::runtime_error("PeerProcess: no program");
  const std::string program = args[0].find('/') == std::string::npos ? FindProgram(args[0]) : args[0];
  if (program.empty()) throw std::runtime_error(args[0] + " is not installed");
  // Everything the child needs is made before the fork: after it, in a process of many
  // threads, the child may only make system calls.
  std::vector<std::string> owned(args);
  owned[0] = program;
  std::vector<char*> argv;
  for (std::string& arg : owned) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> settings(environment);
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string name = std::string(*entry, std::strcspn(*entry, "=")) + "=";
    const auto same = [&](const std::string& setting) { return setting.starts_with(name); };
    // A peer must not take the test's service manager for its own.
    if (name != "NOTIFY_SOCKET=" && std::none_of(settings.begin(), settings.end(), same)) envp.push_back(*entry);
  }
  for (std::string& setting : settings) envp.push_back(setting.data());
  envp.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("PeerProcess: fork failed");
  if (pid_ != 0) return;
  const int in = ::open("/dev/null", O_RDONLY);
  const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int errFd = errPath == outPath ? outFd : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || outFd < 0 || errFd < 0) ::_exit(126);
  ::dup2(in, 0);
  ::dup2(outFd, 1);
  ::dup2(errFd, 2);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
  ::execve(argv[0], argv.data(), envp.data());
  ::_exit(127);
}

std::optional<int> PeerProcess::Wait(std::chrono::milliseconds timeout) {
  for (const auto deadline = Clock::now() + timeout; !status_;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    } else if (Clock::now() >= deadline) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return status_;
}

std::optional<int> PeerProcess::Stop(int signal, std::chrono::milliseconds timeout) {
  if (status_) return status_;
  ::kill(pid_, signal);
  if (Wait(timeout)) return status_;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  status_ = -SIGKILL;
  return std::nullopt;
}

std::string PeerProcess::FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(std::string(path != nullptr ? path : "") + ":/usr/sbin:/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

::testing::AssertionResult Installed(const std::string& program, const std::string& package) {
  if (!PeerProcess::FindProgram(program).empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << program << " is missing: tools/test.sh installs the Debian package "
                                       << package;
}

bool WaitForFileText(const std::string& path, const std::string& text, std::chrono::milliseconds timeout) {
  for (const auto deadline = Clock::now() + timeout; Slurp(path).find(text) == std::string::npos;) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool WaitForBoundSocket(const std::string& protocol, const std::string& address, std::uint16_t port,
                        std::chrono::milliseconds timeout) {
  in_addr value{};
  if (::inet_pton(AF_INET, address.c_str(), &value) != 1) return false;
  // /proc/net/{udp,tcp} print the address as the 32-bit word in memory, in hexadecimal.
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "%08X:%04X", value.s_addr, port);
  for (const auto deadline = Clock::now() + timeout;;) {
    std::ifstream table("/proc/net/" + protocol);
    for (std::string line; std::getline(table, line);) {
      // Columns: slot, local address, remote address, state, ...
      std::istringstream columns(line);
      std::string slot, local, remote, state;
      columns >> slot >> local >> remote >> state;
      // A receiver's socket is connected to no one; a sender's connected one may hold the
      // same local address.
      if (local == wanted && remote == "00000000:0000" && (protocol != "tcp" || state == "0A")) return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace testing_support

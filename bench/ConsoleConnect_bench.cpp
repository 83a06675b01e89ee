// How soon a whole velnor process lets an operator in: the time from connect to prompt
// (median of 30 connections, one after another) and how long the console stays out of
// reach after a burst of 300 connections that close at once (from the burst's last close
// until a new connection has its prompt). The binary to measure is the argument, so one
// build of this benchmark measures any build of velnor. It runs the instance in a fresh
// directory under /tmp on a free loopback port; velnor logs to 127.0.0.1:514 as usual.
//
//   bench_ConsoleConnect_bench /path/to/velnor

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/Loopback.h"
#include "platform/UniqueFd.h"

namespace {

using bench::FreePort;
using bench::Loopback;

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;
using namespace std::chrono_literals;

constexpr int kConnections = 30;
constexpr int kBurst = 300;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "bench: %s\n", why.c_str());
  std::exit(1);
}

platform::UniqueFd Connect(std::uint16_t port) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in to = Loopback(port);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) fd.Reset();
  return fd;
}

// Reads until the text received ends with the prompt; false on close or after timeout.
bool AwaitPrompt(int fd, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::string received;
  while (received.size() < 2 || received.compare(received.size() - 2, 2, "$ ") != 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd readable{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[256];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// A velnor instance in a directory of its own, stopped and removed at the end.
class Instance {
 public:
  Instance(const std::string& binary, std::uint16_t port) : binary_(binary) {
    char pattern[] = "/tmp/velnor-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) Fail("no temporary directory");
    dir_ = pattern;
    std::ofstream(dir_ + "/Velnor.ini") << "[SERVICE]\r\nPORT=" << port << "\r\n";
    int status = 0;
    if (::waitpid(Spawn({"-RegServer"}), &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      Fail(binary_ + " -RegServer failed; see " + dir_);
    }
    pid_ = Spawn({});
  }
  ~Instance() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

 private:
  pid_t Spawn(const std::vector<std::string>& args) const {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    ::setenv("VELNOR_UNIT_DIR", dir_.c_str(), 1);
    ::unsetenv("NOTIFY_SOCKET");
    std::vector<std::string> all{binary_};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }

  std::string binary_;
  std::string dir_;
  pid_t pid_ = -1;
};

void AwaitConsole(std::uint16_t port) {
  for (const auto deadline = Clock::now() + 20s; Clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
    platform::UniqueFd fd = Connect(port);
    if (fd && AwaitPrompt(fd.Get(), 5s)) return;
  }
  Fail("no console on port " + std::to_string(port));
}

double MedianConnectToPromptMs(std::uint16_t port) {
  std::vector<double> times;
  for (int i = 0; i < kConnections; ++i) {
    const auto start = Clock::now();
    platform::UniqueFd fd = Connect(port);
    if (!fd || !AwaitPrompt(fd.Get(), 30s)) Fail("no prompt");
    times.push_back(Millis(Clock::now() - start).count());
    // Its session ends before the next connection, as one operator after another.
    std::this_thread::sleep_for(20ms);
  }
  std::sort(times.begin(), times.end());
  return (times[kConnections / 2 - 1] + times[kConnections / 2]) / 2;
}

double UnreachableAfterBurstMs(std::uint16_t port) {
  {
    std::vector<platform::UniqueFd> burst;
    for (int i = 0; i < kBurst; ++i) {
      burst.push_back(Connect(port));
      if (!burst.back()) Fail("a connection of the burst failed");
    }
  }
  const auto end = Clock::now();
  platform::UniqueFd fd = Connect(port);
  if (!fd || !AwaitPrompt(fd.Get(), 300s)) Fail("no prompt after the burst");
  return Millis(Clock::now() - end).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s /path/to/velnor\n", argv[0]);
    return 2;
  }
  const std::string binary = std::filesystem::absolute(argv[1]).string();
  const std::uint16_t port = FreePort();
  Instance velnor(binary, port);
  AwaitConsole(port);
  const double median = MedianConnectToPromptMs(port);
  std::this_thread::sleep_for(200ms);
  const double unreachable = UnreachableAfterBurstMs(port);
  std::printf("%s\n", binary.c_str());
  std::printf("%-52s %10.1f ms\n", "connect to prompt, median of 30", median);
  std::printf("%-52s %10.1f ms\n", "console unreachable after a burst of 300 closed at once", unreachable);
  return 0;
}

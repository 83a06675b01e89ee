#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A program that a test runs beside the service (a log collector, a web server), in the
// current directory, with standard input from /dev/null and its output and errors in files.
// It is stopped at the latest by the destructor.
class PeerProcess {
 public:
  // args[0] is the program: a path, or a name looked up as FindProgram does. environment
  // holds NAME=VALUE settings on top of the test's own, whose NOTIFY_SOCKET is never passed
  // on. Throws std::runtime_error when the program cannot be found or the fork fails.
  PeerProcess(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath,
              const std::vector<std::string>& environment = {});
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // The exit code, or minus the signal that ended it; none while still running after the time-out.
  std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Sends signal and waits as Wait does. A program that has not ended by the time-out is
  // killed with SIGKILL and waited for, and none is returned.
  std::optional<int> Stop(int signal = SIGTERM, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // The path of an executable of that name in PATH, /usr/sbin or /sbin (daemons live there,
  // outside the PATH of some environments); empty when there is none.
  static std::string FindProgram(const std::string& name);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Whether a program that tools/test.sh installs is there; when it is missing, the failure
// names the Debian package that brings it.
::testing::AssertionResult Installed(const std::string& program, const std::string& package);

// Whether the file comes to contain text within the time-out.
bool WaitForFileText(const std::string& path, const std::string& text, std::chrono::milliseconds timeout);

// Whether a socket of this process's network namespace comes to wait for peers on
// address:port within the time-out: an unconnected UDP socket ("udp"), or a listening TCP
// socket ("tcp"). For peers that give no other sign that they are ready.
bool WaitForBoundSocket(const std::string& protocol, const std::string& address, std::uint16_t port,
                        std::chrono::milliseconds timeout);

}  // namespace testing_support

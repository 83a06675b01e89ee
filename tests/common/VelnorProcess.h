#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// The whole contents of a file; empty when it cannot be read.
std::string Slurp(const std::string& path);

// One velnor process started in the current directory, its standard output and error in
// out.txt and err.txt there. Killed when still running at destruction.
class VelnorProcess {
 public:
  VelnorProcess(const std::vector<std::string>& args, const std::string& unitDir, const std::string& notify = "");
  ~VelnorProcess();
  VelnorProcess(const VelnorProcess&) = delete;
  VelnorProcess& operator=(const VelnorProcess&) = delete;

  void Signal(int signal) const;
  pid_t Pid() const { return pid_; }
  std::string Out() const { return Slurp("out.txt"); }
  std::string Err() const { return Slurp("err.txt"); }
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
  // The exit code, -1 after a signal, none while still running after the time-out.
  std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace testing_support

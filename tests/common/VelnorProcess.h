#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/PeerProcess.h"

namespace testing_support {

// The whole contents of a file; empty when it cannot be read.
std::string Slurp(const std::string& path);

// One velnor process started in the current directory, its standard output and error in
// out.txt and err.txt there. Killed when still running at destruction.
class VelnorProcess : public PeerProcess {
 public:
  VelnorProcess(const std::vector<std::string>& args, const std::string& unitDir, const std::string& notify = "");
  ~VelnorProcess() { Stop(SIGKILL); }

  void Signal(int signal) const { ::kill(Pid(), signal); }
  std::string Out() const { return Slurp("out.txt"); }
  std::string Err() const { return Slurp("err.txt"); }
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    return WaitForFileText("out.txt", text, timeout);
  }
};

}  // namespace testing_support

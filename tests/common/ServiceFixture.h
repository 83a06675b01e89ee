#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/ConsoleClient.h"
#include "tests/common/TempDir.h"
#include "tests/common/UdpCollector.h"
#include "tests/common/VelnorProcess.h"

namespace testing_support {

struct Outcome {
  int status = -1;
  std::string output;
};

// A command line's exit status and its standard output and error together.
inline Outcome Shell(const std::string& command) {
  Outcome outcome;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, n);
  const int status = ::pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

// The whole velnor in a fresh working directory with a unit directory of its own, its log
// going to a collector of the test's that takes every level.
class ServiceFixture : public ::testing::Test {
 protected:
  ServiceFixture() {
    ::mkdir(units_.c_str(), 0755);
    dir_.Write("syslog.ini", collector_->SyslogIni("debug"));
  }

  // velnor with these switches, run to its end: its exit code.
  int Run(const std::vector<std::string>& args) {
    VelnorProcess child(args, units_);
    const std::optional<int> code = child.Wait();
    EXPECT_TRUE(code.has_value()) << "velnor did not end";
    return code.value_or(-2);
  }
  // velnor in console mode, once it says it has started.
  std::unique_ptr<VelnorProcess> Start(std::chrono::seconds timeout = std::chrono::seconds(30)) {
    auto velnor = std::make_unique<VelnorProcess>(std::vector<std::string>{}, units_);
    EXPECT_TRUE(velnor->WaitForOutput("Service started\n", timeout)) << velnor->Err();
    return velnor;
  }
  // Stopped in order, with nothing on standard error (in a sanitizer build: no report).
  static void Stop(std::unique_ptr<VelnorProcess>& velnor) {
    velnor->Signal(SIGTERM);
    EXPECT_EQ(velnor->Wait(std::chrono::seconds(30)), 0);
    EXPECT_EQ(velnor->Err(), "");
    velnor.reset();
  }
  // An operator on the console at port, with the first prompt read.
  static std::unique_ptr<ConsoleClient> Console(std::uint16_t port = 8000) {
    auto console = std::make_unique<ConsoleClient>(port);
    EXPECT_EQ(console->ReadPrompt(), "$ ");
    return console;
  }

  TempDir dir_;
  std::string units_ = dir_.File("units");
  std::string unit_ = units_ + "/velnor.service";
  std::unique_ptr<UdpCollector> collector_ = UdpCollector::OnFreeAddress();
};

}  // namespace testing_support

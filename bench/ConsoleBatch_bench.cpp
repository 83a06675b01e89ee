// A batch piped into the console of the real service: 100,000 "pc add" lines of distinct
// PCs and then the same lines as "pc del", all through one connection with the replies read
// as they come; then 20,000 add/del cycles of one PC. Prints lines per second and the
// service's resident memory before, at the peak and after. No gateway is registered, so
// the walks make no request.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/Loopback.h"
#include "platform/UniqueFd.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPcs = 100000;
constexpr int kCycles = 20000;
constexpr double kLinesTarget = 50000;
constexpr double kBatchGrowthTargetKb = 8 * 1024;
constexpr double kCycleGrowthTargetKb = 2 * 1024;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/tmp/velnor-batch-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch directory");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// velnor with these arguments in dir, its output in files there.
pid_t Spawn(const std::string& dir, const char* argument) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (dir + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (dir + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const std::string units = "VELNOR_UNIT_DIR=" + dir;
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  env.push_back(const_cast<char*>(units.c_str()));
  env.push_back(nullptr);
  std::vector<char*> argv{const_cast<char*>(VELNOR_BINARY)};
  if (argument != nullptr) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, VELNOR_BINARY, &actions, nullptr, argv.data(), env.data()) != 0) Fail("cannot start velnor");
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The service in console mode in its own directory, stopped with SIGTERM at the end.
class Service {
 public:
  Service(const std::string& dir, std::uint16_t port) {
    std::ofstream(dir + "/Velnor.ini") << "[SERVICE]\r\nPORT=" << port << "\r\n";
    int status = 0;
    if (::waitpid(Spawn(dir, "-RegServer"), &status, 0) < 0 || status != 0) Fail("velnor -RegServer failed");
    pid_ = Spawn(dir, nullptr);
  }
  ~Service() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A figure of /proc/PID/status in kB (VmRSS, VmHWM).
long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
  }
  return -1;
}

platform::UniqueFd Connect(std::uint16_t port) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in to = bench::Loopback(port);
    char prompt[2];
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        ::recv(fd.Get(), prompt, sizeof prompt, MSG_WAITALL) == 2) {
      return fd;
    }
    std::this_thread::sleep_for(20ms);
  }
  Fail("no console");
}

std::string Mac(int i) {
  char text[32];
  std::snprintf(text, sizeof text, "02:00:00:%02x:%02x:%02x", (i >> 16) & 0xff, (i >> 8) & 0xff, i & 0xff);
  return text;
}

struct Run {
  double seconds = 0;
  long peakKb = 0;  // sampled while the batch ran
};

// Sends the whole batch while another thread counts the prompts that come back; done when
// every line has had its prompt.
Run Pipe(int fd, pid_t pid, const std::string& batch, long lines) {
  std::atomic<bool> done{false};
  std::atomic<long> peak{0};
  std::thread sampler([&] {
    while (!done) {
      peak = std::max(peak.load(), StatusKb(pid, "VmRSS"));
      std::this_thread::sleep_for(20ms);
    }
  });
  const auto start = Clock::now();
  std::thread writer([&] {
    for (std::size_t sent = 0; sent < batch.size();) {
      const ssize_t n = ::send(fd, batch.data() + sent, std::min<std::size_t>(65536, batch.size() - sent), MSG_NOSIGNAL);
      if (n <= 0) Fail("the console stopped taking the batch");
      sent += static_cast<std::size_t>(n);
    }
  });
  long prompts = 0;
  char last = 0;
  char buffer[65536];
  while (prompts < lines) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) Fail("the console closed during the batch");
    for (ssize_t i = 0; i < n; ++i) {
      if (last == '$' && buffer[i] == ' ') ++prompts;
      last = buffer[i];
    }
  }
  Run run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  done = true;
  sampler.join();
  run.peakKb = peak;
  return run;
}

// Lets the controller finish its walks before memory is read.
long SettledKb(pid_t pid) {
  long previous = -1;
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(200ms);
    const long now = StatusKb(pid, "VmRSS");
    if (now == previous) return now;
    previous = now;
  }
  return previous;
}

std::string Verdict(bool met, const std::string& target) { return target + (met ? "  met" : "  MISSED"); }

void Row(const std::string& name, const std::string& figure, const std::string& target) {
  std::printf("%-44s %16s  %s\n", name.c_str(), figure.c_str(), target.c_str());
}

std::string Number(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

int main() {
  ScratchDir dir;
  const std::uint16_t port = bench::FreePort();
  Service service(dir.Path(), port);
  const platform::UniqueFd console = Connect(port);
  const pid_t pid = service.Pid();

  std::string batch;
  for (const char* verb : {"add", "del"}) {
    for (int i = 0; i < kPcs; ++i) batch += std::string("pc ") + verb + " source-mac " + Mac(i) + "\n";
  }
  const long beforeKb = SettledKb(pid);
  const Run distinct = Pipe(console.Get(), pid, batch, 2L * kPcs);
  const long afterKb = SettledKb(pid);
  const long hwmKb = StatusKb(pid, "VmHWM");

  std::string cycles;
  for (int i = 0; i < kCycles; ++i) cycles += "pc add source-mac 02:00:00:ff:ff:ff\npc del source-mac 02:00:00:ff:ff:ff\n";
  const Run repeated = Pipe(console.Get(), pid, cycles, 2L * kCycles);
  const long cyclesAfterKb = SettledKb(pid);

  const double linesPerSecond = 2.0 * kPcs / distinct.seconds;
  const double cycleLinesPerSecond = 2.0 * kCycles / repeated.seconds;
  const long batchGrowth = afterKb - beforeKb;
  const long cycleGrowth = cyclesAfterKb - afterKb;
  std::printf("\n== Console batch benchmark summary (one connection, the real service, no gateway) ==\n");
  Row("Figure", "Value", "Target");
  std::printf("%s\n", std::string(90, '-').c_str());
  Row("100k pc add + 100k pc del: lines per second", Number("%.0f", linesPerSecond),
      Verdict(linesPerSecond >= kLinesTarget, ">= " + Number("%.0f", kLinesTarget)));
  Row("  resident memory before", Number("%.1f MB", beforeKb / 1024.0), "");
  Row("  resident memory at the peak (sampled)", Number("%.1f MB", distinct.peakKb / 1024.0), "");
  Row("  resident memory high-water mark (VmHWM)", Number("%.1f MB", hwmKb / 1024.0), "");
  Row("  resident memory after", Number("%.1f MB", afterKb / 1024.0),
      Verdict(batchGrowth < kBatchGrowthTargetKb, "within 8 MB of before"));
  Row("20k add/del cycles of one PC: lines per second", Number("%.0f", cycleLinesPerSecond), "");
  Row("  resident memory at the peak (sampled)", Number("%.1f MB", repeated.peakKb / 1024.0), "");
  Row("  growth over the cycles", Number("%.2f MB", cycleGrowth / 1024.0),
      Verdict(cycleGrowth < kCycleGrowthTargetKb, "< 2 MB"));
  std::fflush(stdout);
  return 0;
}

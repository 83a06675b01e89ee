// A batch piped into the console of the real service: 100,000 "pc add" lines of distinct
// PCs and then the same lines as "pc del", all through one connection with the replies read
// as they come; then 20,000 add/del cycles of one PC. Prints lines per second and the
// service's resident memory before, at the peak and after. No gateway is registered, so
// the walks make no request.
//
// Then AUTOSAVE: 10,000 "pc add" lines piped in with 100,000 PCs registered, without and
// with the setting (the saves counted as renames onto pc.csv); and 20 kill -9 of the
// service at random moments of a piped batch (VELNOR_BENCH_SEED repeats a run), each
// followed by a restart in the same directory that must hold every add whose prompt came
// back.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
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

// The service in console mode in its own directory, stopped with SIGTERM at the end;
// settings are more lines of [SERVICE].
class Service {
 public:
  Service(const std::string& dir, std::uint16_t port, const std::string& settings = "") {
    std::ofstream(dir + "/Velnor.ini") << "[SERVICE]\r\nPORT=" << port << "\r\n" << settings;
    int status = 0;
    if (::waitpid(Spawn(dir, "-RegServer"), &status, 0) < 0 || status != 0) Fail("velnor -RegServer failed");
    pid_ = Spawn(dir, nullptr);
  }
  ~Service() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  pid_t Pid() const { return pid_; }
  void Kill() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

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

constexpr int kRegistered = 100000;
constexpr int kAutoSaveLines = 10000;
constexpr int kAutoSaveRepeats = 3;
constexpr double kAutoSaveRatioTarget = 2.0;
constexpr int kKills = 20;
constexpr int kKillLines = 10000;

std::string AddLines(int from, int count) {
  std::string lines;
  for (int i = from; i < from + count; ++i) lines += "pc add source-mac " + Mac(i) + "\n";
  return lines;
}

// Renames onto pc.csv in dir, from the watch's start to Count: one a save. The moves from
// the temporary names are watched too: the kernel folds an event into an identical one
// before it, and two renames onto pc.csv in a row would count once.
class SaveCounter {
 public:
  explicit SaveCounter(const std::string& dir) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!fd_ || ::inotify_add_watch(fd_.Get(), dir.c_str(), IN_MOVED_FROM | IN_MOVED_TO) < 0) {
      Fail("cannot watch the directory");
    }
  }
  long Count() {
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = ::read(fd_.Get(), buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        const bool onto = (event->mask & IN_MOVED_TO) != 0 && event->len > 0;
        if (onto && std::string(event->name) == "pc.csv") ++saves_;
        at += sizeof(inotify_event) + event->len;
      }
    }
    return saves_;
  }

 private:
  platform::UniqueFd fd_;
  long saves_ = 0;
};

struct Timed {
  double seconds = 0;
  long saves = 0;
};

// kAutoSaveLines adds into a fresh service that holds kRegistered PCs from its pc.csv.
Timed AddsToRegistered(const std::string& settings) {
  ScratchDir dir;
  {
    std::ofstream pcs(dir.Path() + "/pc.csv");
    for (int i = 0; i < kRegistered; ++i) pcs << '"' << Mac(i) << "\",,\"\",\"\"\r\n";
  }
  const std::uint16_t port = bench::FreePort();
  Service service(dir.Path(), port, settings);
  const platform::UniqueFd console = Connect(port);
  SaveCounter saves(dir.Path());
  const Run run = Pipe(console.Get(), service.Pid(), AddLines(kRegistered, kAutoSaveLines), kAutoSaveLines);
  return {run.seconds, saves.Count()};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The PCs the console lists, in their stored (upper-case) form.
std::set<std::string> Listed(int fd) {
  if (::send(fd, "pc show\n", 8, MSG_NOSIGNAL) != 8) Fail("the console took no command");
  std::string listing;
  char buffer[65536];
  while (listing.size() < 2 || listing.compare(listing.size() - 2, 2, "$ ") != 0) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) Fail("the console closed during the listing");
    listing.append(buffer, static_cast<std::size_t>(n));
  }
  std::set<std::string> macs;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) macs.insert(line.substr(0, line.find('\t')));
  return macs;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct Kills {
  long acknowledged = 0;
  long lost = 0;
};

// Each round restarts the service in one directory, checks that every add acknowledged
// before is listed, pipes a batch of new adds and kills the service after a random share
// of the time such a batch takes; the prompts read up to the connection's end are the adds
// owed from then on. A last restart checks the last round.
Kills KillDuringBatches(std::mt19937& random, double batchSeconds) {
  ScratchDir dir;
  std::uniform_real_distribution<double> moment(0.0, batchSeconds);
  Kills kills;
  std::set<std::string> owed;
  std::set<std::string> lost;
  for (int round = 0; round <= kKills; ++round) {
    const std::uint16_t port = bench::FreePort();
    Service service(dir.Path(), port, "AUTOSAVE=enable\r\n");
    const platform::UniqueFd console = Connect(port);
    const std::set<std::string> listed = Listed(console.Get());
    for (const std::string& mac : owed) {
      if (listed.count(mac) == 0) lost.insert(mac);
    }
    if (round == kKills) break;
    const int first = round * kKillLines;
    const std::string batch = AddLines(first, kKillLines);
    std::thread writer([&] {
      for (std::size_t sent = 0; sent < batch.size();) {
        const ssize_t n = ::send(console.Get(), batch.data() + sent, batch.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
      }
    });
    long prompts = 0;
    std::thread reader([&] {
      char buffer[65536];
      char last = 0;
      for (ssize_t n; (n = ::recv(console.Get(), buffer, sizeof buffer, 0)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
          if (last == '$' && buffer[i] == ' ') ++prompts;
          last = buffer[i];
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(moment(random)));
    service.Kill();
    writer.join();
    reader.join();
    for (long i = 0; i < prompts; ++i) owed.insert(Upper(Mac(first + static_cast<int>(i))));
    kills.acknowledged += prompts;
  }
  kills.lost = static_cast<long>(lost.size());
  return kills;
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


// The saves of AUTOSAVE: their cost on a batch, and what a kill -9 leaves.
void AutoSaveFigures() {
  std::vector<double> plain;
  std::vector<double> saved;
  std::vector<double> saves;
  for (int i = 0; i < kAutoSaveRepeats; ++i) {
    plain.push_back(AddsToRegistered("").seconds);
    const Timed timed = AddsToRegistered("AUTOSAVE=enable\r\n");
    saved.push_back(timed.seconds);
    saves.push_back(static_cast<double>(timed.saves));
  }
  const double ratio = Median(saved) / Median(plain);

  std::uint32_t seed = std::random_device{}();
  if (const char* given = std::getenv("VELNOR_BENCH_SEED")) {
    seed = static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10));
  }
  std::mt19937 random(seed);
  const Kills kills = KillDuringBatches(random, Median(saved));

  std::printf("\n== AUTOSAVE: 10k pc add with 100k PCs registered (medians of %d); %d kill -9 during batches ==\n",
              kAutoSaveRepeats, kKills);
  Row("Figure", "Value", "Target");
  std::printf("%s\n", std::string(90, '-').c_str());
  Row("10k adds without AUTOSAVE", Number("%.3f s", Median(plain)), "");
  Row("10k adds with AUTOSAVE", Number("%.3f s", Median(saved)), "");
  Row("  ratio", Number("%.2f", ratio), Verdict(ratio <= kAutoSaveRatioTarget, "<= 2"));
  Row("  saves of pc.csv in the batch", Number("%.0f", Median(saves)), "");
  Row("kill -9 rounds (seed " + std::to_string(seed) + ")", Number("%.0f", kKills), "");
  Row("  adds acknowledged before the kills", Number("%.0f", static_cast<double>(kills.acknowledged)), "");
  Row("  acknowledged adds lost", Number("%.0f", static_cast<double>(kills.lost)), Verdict(kills.lost == 0, "0"));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // "autosave" runs the AUTOSAVE figures alone.
  if (argc > 1 && std::string(argv[1]) == "autosave") {
    AutoSaveFigures();
    return 0;
  }
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
  AutoSaveFigures();
  return 0;
}

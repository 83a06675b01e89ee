// Registry file loads, saves and snapshot copies at the sizes a large site reaches, and the
// memory a stored PC costs. Files are generated in a scratch directory (in memory when
// /dev/shm exists). Every figure is the median of several runs; the table at the end
// gathers them with the targets they are meant to meet.

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/Syslog.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPcSizes[] = {1000, 10000, 100000};
constexpr int kGwSizes[] = {1000, 10000};
constexpr int kRoutesPerGateway = 4;
constexpr int kQuarantineServers = 100;
constexpr int kBigPc = 100000;
constexpr int kBigGw = 10000;

// Targets the figures are read against.
constexpr double kPcLoadTargetMs = 40.0;
constexpr double kScalingTarget = 12.0;
constexpr double kBytesPerPcTarget = 512.0;
constexpr double kHeapPerPcTarget = 250.0;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "Registry_bench: %s\n", what.c_str());
  std::exit(1);
}

// Load timings come in rounds, each with a few runs of every size; the small sizes get
// more runs, where one scheduling hiccup weighs more.
constexpr int kRounds = 9;
int RunsPerRound(int size) { return size <= 1000 ? 5 : size <= 10000 ? 3 : 1; }

// Runs of the 100,000-record operations other than the load.
constexpr int kBigRuns = 9;

// One run: the time on the wall, which the targets are about, and the CPU time of this
// thread, which other work on a shared machine does not inflate (page faults count there).
struct Timing {
  double wallMs = 0;
  double cpuMs = 0;
};

double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

template <class Body>
Timing Time(Body body) {
  const double cpuStart = ThreadCpuMs();
  const auto start = Clock::now();
  body();
  Timing timing;
  timing.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  timing.cpuMs = ThreadCpuMs() - cpuStart;
  return timing;
}

// Medians of wall and CPU time, each taken on its own.
Timing Median(const std::vector<Timing>& runs) {
  std::vector<double> wall;
  std::vector<double> cpu;
  for (const Timing& run : runs) {
    wall.push_back(run.wallMs);
    cpu.push_back(run.cpuMs);
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return Timing{wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

// The median of runs timings of measure, which times one run itself (preparing and
// cleaning up outside the timed part).
Timing MedianOf(int runs, const std::function<Timing()>& measure) {
  std::vector<Timing> timings;
  for (int i = 0; i < runs; ++i) timings.push_back(measure());
  return Median(timings);
}

// ---- scratch directory and generated files ----

class ScratchDir {
 public:
  ScratchDir() {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/velnor-registry-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch directory under " + base);
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class Writer {
 public:
  explicit Writer(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) Fail("cannot write " + path);
  }
  ~Writer() { std::fclose(file_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

// PC i in one of four shapes by i mod 4; every MAC and every masked network is unique, so
// no line stands in the way of another.
void WritePcFile(const std::string& path, int count) {
  Writer out(path);
  for (int i = 0; i < count; ++i) {
    const unsigned n = static_cast<unsigned>(i);
    const unsigned a = (n >> 16) & 0xff;
    const unsigned b = (n >> 8) & 0xff;
    const unsigned c = n & 0xff;
    switch (i % 4) {
      case 0:
        std::fprintf(out.get(), "\"02:00:00:%02X:%02X:%02X\",,\"\",\"\"\r\n", a, b, c);
        break;
      case 1:
        std::fprintf(out.get(), "\"02:00:00:%02X:%02X:%02X\",\"192.%u.%u.%u\",\"\",\"\"\r\n", a, b, c, 168 + a, b,
                     c);
        break;
      case 2:
        std::fprintf(out.get(), "\"02:00:00:%02X:%02X:%02X\",,\"%u.%u.%u.0\",\"255.255.255.0\"\r\n", a, b, c,
                     10 + a, b, c);
        break;
      default:
        std::fprintf(out.get(), "\"\",,\"%u.%u.%u.0\",\"255.255.255.0\"\r\n", 20 + a, b, c);
        break;
    }
  }
}

std::string GatewayAddress(int i) {
  const unsigned n = static_cast<unsigned>(i) + 1;
  char text[24];
  std::snprintf(text, sizeof text, "10.%u.%u.%u", (n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff);
  return text;
}

void WriteGwFile(const std::string& path, int count) {
  Writer out(path);
  for (int i = 0; i < count; ++i) {
    std::fprintf(out.get(), "\"%s\",880,\"admin\",\"secret%d\"\r\n", GatewayAddress(i).c_str(), i % 97);
  }
}

void WriteGwrouteFile(const std::string& path, int gateways) {
  Writer out(path);
  for (int i = 0; i < gateways; ++i) {
    const std::string address = GatewayAddress(i);
    for (int r = 0; r < kRoutesPerGateway; ++r) {
      std::fprintf(out.get(), "\"%s\",\"eth%d\",\"192.168.%d.0\",\"255.255.255.0\"\r\n", address.c_str(), r % 2,
                   r);
    }
  }
}

void WriteQuarantineFile(const std::string& path, int count) {
  Writer out(path);
  for (int i = 0; i < count; ++i) {
    std::fprintf(out.get(), "\"172.17.%d.%d\",\"%s\",\"%d\"\r\n", i / 250, i % 250 + 1, i % 2 ? "udp" : "tcp",
                 4000 + i);
  }
}

// ---- loads with their checks: a figure of a load that failed would mean nothing ----

void LoadPcs(CPcDataList& list, const std::string& path, int expected) {
  if (list.Load(path.c_str()) != 0) Fail("pc.csv load failed: " + path);
  if (list.GetCount(false) != expected) {
    Fail("pc.csv load stored " + std::to_string(list.GetCount(false)) + " of " + std::to_string(expected));
  }
}

void LoadGateways(CGwDataList& list, const std::string& path, int expected) {
  if (list.Load(path.c_str()) != 0 || list.GetCount(false) != expected) Fail("gw.csv load failed: " + path);
}

void LoadRoutes(CGwDataList& list, const std::string& path) {
  if (LoadGwroutes(list, path.c_str()) != GwrouteLoadResult::kLoaded) Fail("gwroute.csv load failed: " + path);
}

int CountRoutes(CGwDataList& list) {
  CNacList::Guard guard(list);
  int routes = 0;
  for (CNacNode* node = list.GetHead(guard); node != nullptr; node = list.GetNext(node, guard)) {
    routes += node->RecordAs<CGwData>()->Routes().GetCount(false);
  }
  return routes;
}

// ---- memory ----

// Resident set in bytes, from the kernel's own count.
long ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10) * 1024;
  }
  Fail("no VmRSS in /proc/self/status");
}

// Heap chunks in use plus the large blocks malloc maps on their own.
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

struct MemoryFigures {
  double residentPerPc = 0;
  double heapPerPc = 0;
};

MemoryFigures MeasurePcMemory(const std::string& path) {
  malloc_trim(0);
  const long residentBefore = ResidentBytes();
  const std::size_t heapBefore = HeapInUse();
  auto list = std::make_unique<CPcDataList>();
  LoadPcs(*list, path, kBigPc);
  const long residentAfter = ResidentBytes();
  const std::size_t heapAfter = HeapInUse();
  MemoryFigures figures;
  figures.residentPerPc = static_cast<double>(residentAfter - residentBefore) / kBigPc;
  figures.heapPerPc = static_cast<double>(heapAfter - heapBefore) / kBigPc;
  return figures;
}

// ---- report ----

struct Row {
  std::string name;
  std::string wall;
  std::string cpu;
  std::string target;
};

std::string Format(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ms(double ms) { return Format("%.2f ms", ms); }
std::string Ratio(double ratio) { return Format("%.2fx", ratio); }
std::string Bytes(double bytes) { return Format("%.0f B", bytes); }

std::string Verdict(bool met, const std::string& target) { return target + (met ? "  met" : "  MISSED"); }

Row TimeRow(const std::string& name, const Timing& timing, const std::string& target = "") {
  return Row{name, Ms(timing.wallMs), Ms(timing.cpuMs), target};
}

// The scaling of ten times the records; the verdict is on the wall-clock ratio.
Row ScalingRow(const std::string& name, const Timing& small, const Timing& large) {
  const double wall = large.wallMs / small.wallMs;
  return Row{name, Ratio(wall), Ratio(large.cpuMs / small.cpuMs),
             Verdict(wall <= kScalingTarget, "<= " + Ratio(kScalingTarget))};
}

void PrintTable(const std::vector<Row>& rows) {
  std::size_t name = 6;
  std::size_t wall = 4;
  std::size_t cpu = 3;
  for (const Row& row : rows) {
    name = std::max(name, row.name.size());
    wall = std::max(wall, row.wall.size());
    cpu = std::max(cpu, row.cpu.size());
  }
  const auto line = [&](const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
    std::printf("%-*s  %*s  %*s  %s\n", static_cast<int>(name), a.c_str(), static_cast<int>(wall), b.c_str(),
                static_cast<int>(cpu), c.c_str(), d.c_str());
  };
  std::printf("\n== Registry benchmark summary (medians; wall clock, and CPU time of the timing thread) ==\n");
  line("Figure", "Wall", "CPU", "Target");
  std::printf("%s\n", std::string(name + wall + cpu + 40, '-').c_str());
  for (const Row& row : rows) line(row.name, row.wall, row.cpu, row.target);
  std::fflush(stdout);
}

}  // namespace

int main() {
  // Nothing here should log; a failure is reported by the checks instead.
  SetLogThreshold(0);
  ScratchDir dir;
  std::printf("Registry benchmark, files in %s\n", dir.Path().c_str());

  for (int size : kPcSizes) WritePcFile(dir.File("pc" + std::to_string(size) + ".csv"), size);
  for (int size : kGwSizes) {
    WriteGwFile(dir.File("gw" + std::to_string(size) + ".csv"), size);
    WriteGwrouteFile(dir.File("gwroute" + std::to_string(size) + ".csv"), size);
  }
  WriteQuarantineFile(dir.File("quarantine.csv"), kQuarantineServers);
  const std::string bigPc = dir.File("pc" + std::to_string(kBigPc) + ".csv");

  // What the service does at start: the four registry files one after the other. Its first
  // run is timed before anything else, in a heap that has not yet grown to hold them.
  const std::string startGw = dir.File("gw" + std::to_string(kBigGw) + ".csv");
  const std::string startRoutes = dir.File("gwroute" + std::to_string(kBigGw) + ".csv");
  const std::string startQuarantine = dir.File("quarantine.csv");
  const auto startLoads = [&] {
    auto gateways = std::make_unique<CGwDataList>();
    auto pcs = std::make_unique<CPcDataList>();
    auto servers = std::make_unique<CQuarantineDataList>();
    return Time([&] {
      LoadGateways(*gateways, startGw, kBigGw);
      LoadRoutes(*gateways, startRoutes);
      LoadPcs(*pcs, bigPc, kBigPc);
      if (servers->Load(startQuarantine.c_str()) != 0 || servers->GetCount(false) != kQuarantineServers) {
        Fail("quarantine.csv load failed");
      }
    });
  };
  const Timing firstStart = startLoads();

  // Then while the heap is still clean.
  std::vector<MemoryFigures> memoryRuns;
  for (int i = 0; i < 3; ++i) memoryRuns.push_back(MeasurePcMemory(bigPc));
  std::sort(memoryRuns.begin(), memoryRuns.end(),
            [](const MemoryFigures& a, const MemoryFigures& b) { return a.residentPerPc < b.residentPerPc; });
  const MemoryFigures memory = memoryRuns[1];
  std::printf("memory per PC: resident %.1f B, heap %.1f B\n", memory.residentPerPc, memory.heapPerPc);

  // The sizes take turns, round by round, so that a busy spell of the machine weighs on
  // all of them alike instead of on whichever size it happened to meet.
  std::vector<std::vector<Timing>> pcRuns(std::size(kPcSizes));
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t s = 0; s < std::size(kPcSizes); ++s) {
      const int size = kPcSizes[s];
      const std::string path = dir.File("pc" + std::to_string(size) + ".csv");
      for (int run = 0; run < RunsPerRound(size); ++run) {
        auto list = std::make_unique<CPcDataList>();
        pcRuns[s].push_back(Time([&] { LoadPcs(*list, path, size); }));
      }
    }
  }
  std::vector<Timing> pcLoad;
  for (std::size_t s = 0; s < std::size(kPcSizes); ++s) {
    pcLoad.push_back(Median(pcRuns[s]));
    std::printf("pc.csv load %6d PCs: %8.2f ms wall, %8.2f ms CPU (%zu runs)\n", kPcSizes[s], pcLoad.back().wallMs,
                pcLoad.back().cpuMs, pcRuns[s].size());
  }

  std::vector<std::vector<Timing>> gwRuns(std::size(kGwSizes));
  std::vector<std::vector<Timing>> routeRuns(std::size(kGwSizes));
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t s = 0; s < std::size(kGwSizes); ++s) {
      const int size = kGwSizes[s];
      const std::string gwPath = dir.File("gw" + std::to_string(size) + ".csv");
      const std::string routePath = dir.File("gwroute" + std::to_string(size) + ".csv");
      for (int run = 0; run < RunsPerRound(size); ++run) {
        auto list = std::make_unique<CGwDataList>();
        gwRuns[s].push_back(Time([&] { LoadGateways(*list, gwPath, size); }));
        routeRuns[s].push_back(Time([&] { LoadRoutes(*list, routePath); }));
        if (CountRoutes(*list) != size * kRoutesPerGateway) Fail("gwroute.csv load stored the wrong number of routes");
      }
    }
  }
  std::vector<Timing> gwLoad;
  std::vector<Timing> routeLoad;
  for (std::size_t s = 0; s < std::size(kGwSizes); ++s) {
    gwLoad.push_back(Median(gwRuns[s]));
    routeLoad.push_back(Median(routeRuns[s]));
    std::printf("gw.csv load %6d gateways: %8.2f ms wall; gwroute.csv load %6d routes: %8.2f ms wall\n",
                kGwSizes[s], gwLoad.back().wallMs, kGwSizes[s] * kRoutesPerGateway, routeLoad.back().wallMs);
  }

  CPcDataList source;
  LoadPcs(source, bigPc, kBigPc);
  const Timing copy = MedianOf(kBigRuns, [&] {
    auto target = std::make_unique<CPcDataList>();
    return Time([&] {
      if (source.CopyAll(target.get()) != kBigPc) Fail("CopyAll copied the wrong number of PCs");
    });
  });
  std::printf("CopyAll %d PCs: %8.2f ms wall\n", kBigPc, copy.wallMs);

  const std::string savePath = dir.File("saved-pc.csv");
  const Timing save = MedianOf(kBigRuns, [&] {
    return Time([&] {
      if (source.Save(savePath.c_str()) != 0) Fail("pc.csv save failed");
    });
  });
  {
    CPcDataList reloaded;
    LoadPcs(reloaded, savePath, kBigPc);
  }
  std::printf("Save %d PCs: %8.2f ms wall\n", kBigPc, save.wallMs);

  const Timing start = MedianOf(kBigRuns, startLoads);
  std::printf("start loads: %8.2f ms wall (first in the process: %.2f ms)\n", start.wallMs, firstStart.wallMs);

  const std::string startName = "Start: gw 10k + routes 40k + pc 100k + quarantine " + std::to_string(kQuarantineServers);
  std::vector<Row> rows;
  rows.push_back(TimeRow("pc.csv Load 1,000 PCs", pcLoad[0]));
  rows.push_back(TimeRow("pc.csv Load 10,000 PCs", pcLoad[1]));
  rows.push_back(TimeRow("pc.csv Load 100,000 PCs", pcLoad[2],
                         Verdict(pcLoad[2].wallMs <= kPcLoadTargetMs, "<= " + Ms(kPcLoadTargetMs))));
  rows.push_back(ScalingRow("pc.csv scaling t(10k)/t(1k)", pcLoad[0], pcLoad[1]));
  rows.push_back(ScalingRow("pc.csv scaling t(100k)/t(10k)", pcLoad[1], pcLoad[2]));
  rows.push_back(TimeRow("gw.csv Load 1,000 gateways", gwLoad[0]));
  rows.push_back(TimeRow("gw.csv Load 10,000 gateways", gwLoad[1]));
  rows.push_back(ScalingRow("gw.csv scaling t(10k)/t(1k)", gwLoad[0], gwLoad[1]));
  rows.push_back(TimeRow("LoadGwroutes 4,000 routes", routeLoad[0]));
  rows.push_back(TimeRow("LoadGwroutes 40,000 routes", routeLoad[1]));
  rows.push_back(ScalingRow("LoadGwroutes scaling t(40k)/t(4k)", routeLoad[0], routeLoad[1]));
  rows.push_back(TimeRow("CopyAll 100,000 PCs", copy));
  rows.push_back(TimeRow("Save 100,000 PCs", save));
  rows.push_back(Row{"Resident growth per stored PC", Bytes(memory.residentPerPc), "",
                     Verdict(memory.residentPerPc <= kBytesPerPcTarget, "<= " + Bytes(kBytesPerPcTarget))});
  rows.push_back(Row{"Heap in use per stored PC", Bytes(memory.heapPerPc), "",
                     Verdict(memory.heapPerPc <= kHeapPerPcTarget, "<= " + Bytes(kHeapPerPcTarget))});
  rows.push_back(TimeRow(startName, start, "(median of later runs)"));
  rows.push_back(TimeRow(startName + ", first", firstStart, "(one run, fresh heap: page faults included)"));
  PrintTable(rows);
  return 0;
}

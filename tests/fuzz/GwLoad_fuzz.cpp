// gw.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back with the same gateways. An empty password comes back as
// the default one, so the second save is the one that must stay stable.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "registry/GwDataList.h"
#include "support/Syslog.h"

namespace {

std::string g_dir;

void RemoveDir() { std::filesystem::remove_all(g_dir); }

// One directory for the whole run, removed when the fuzzer exits; in memory where there
// is such a file system, because every save syncs its file.
const std::string& Dir() {
  static const std::string dir = [] {
    SetLogThreshold(0);  // no log line may leave the machine while fuzzing
    char inMemory[] = "/dev/shm/velnor-gwload-fuzz-XXXXXX";
    char onDisk[] = "/tmp/velnor-gwload-fuzz-XXXXXX";
    const char* made = mkdtemp(inMemory);
    if (made == nullptr) made = mkdtemp(onDisk);
    if (made == nullptr) abort();
    g_dir = made;
    atexit(RemoveDir);
    return g_dir;
  }();
  return dir;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "gw.csv invariant broken: %s\n", what);
    abort();
  }
}

// The reader cuts lines at 4095 bytes, so a longer saved line (long runs of leading zeros
// in an address or port, long user names) cannot come back whole.
bool LinesFitTheReader(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size() - 1;
    if (end - start + 1 > 4095) return false;
    start = end + 1;
  }
  return true;
}

int LiveCount(CGwDataList& list) {
  int live = 0;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const CGwData& gateway = *node->RecordAs<CGwData>();
    Check(gateway.port != 0 && gateway.added == 1, "a stored gateway without port or added flag");
    live += gateway.IsLive() ? 1 : 0;
  }
  return live;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = Dir() + "/input.csv";
  const std::string saved = Dir() + "/saved.csv";
  const std::string again = Dir() + "/again.csv";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  CGwDataList first;
  first.Load(input.c_str());
  const int live = LiveCount(first);
  Check(live == first.GetCount(false), "a fresh registry holds a withdrawn gateway");
  CGwDataList copy;
  Check(first.CopyAll(&copy) == live, "snapshot lost gateways");

  Check(first.Save(saved.c_str()) == 0, "save failed");
  if (!LinesFitTheReader(ReadAll(saved))) return 0;
  CGwDataList second;
  Check(second.Load(saved.c_str()) == 0, "saved file does not load");
  Check(LiveCount(second) == live, "reload changed the number of gateways");
  Check(second.Save(saved.c_str()) == 0, "second save failed");
  const std::string text = ReadAll(saved);
  CGwDataList third;
  Check(third.Load(saved.c_str()) == 0 && LiveCount(third) == live, "second save does not load");
  Check(third.Save(again.c_str()) == 0 && ReadAll(again) == text, "reload saves differently");
  return 0;
}

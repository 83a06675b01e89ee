// pc.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back to the same file, record for record.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "registry/PcDataList.h"

namespace {

std::string g_dir;

void RemoveDir() { std::filesystem::remove_all(g_dir); }

// One directory for the whole run, removed when the fuzzer exits; in memory where there
// is such a file system, because every save syncs its file.
const std::string& Dir() {
  static const std::string dir = [] {
    char inMemory[] = "/dev/shm/velnor-pcload-fuzz-XXXXXX";
    char onDisk[] = "/tmp/velnor-pcload-fuzz-XXXXXX";
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
    std::fprintf(stderr, "pc.csv invariant broken: %s\n", what);
    abort();
  }
}

// The reader cuts lines at 4095 bytes, so a saved line longer than that (long runs of
// leading zeros in an address) cannot come back whole.
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

int LiveCount(CPcDataList& list) {
  int live = 0;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    live += node->RecordAs<CPcData>()->IsLive() ? 1 : 0;
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

  CPcDataList first;
  first.Load(input.c_str());
  const int live = LiveCount(first);
  Check(live == first.GetCount(false), "a fresh registry holds a withdrawn record");
  CPcDataList copy;
  Check(first.CopyAll(&copy) == live, "snapshot lost records");

  Check(first.Save(saved.c_str()) == 0, "save failed");
  const std::string text = ReadAll(saved);
  if (!LinesFitTheReader(text)) return 0;
  CPcDataList second;
  Check(second.Load(saved.c_str()) == 0, "saved file does not load");
  Check(LiveCount(second) == live, "reload changed the number of records");
  Check(second.Save(again.c_str()) == 0 && ReadAll(again) == text, "reload saves differently");
  return 0;
}

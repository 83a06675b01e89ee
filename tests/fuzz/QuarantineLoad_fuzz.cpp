// quarantine.csv loading on arbitrary file contents: no crash, no sanitizer finding, every
// stored record is valid and flagged added, and what was stored saves and loads back as
// the same records.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "registry/QuarantineDataList.h"

namespace {

std::string g_dir;

void RemoveDir() { std::filesystem::remove_all(g_dir); }

// One directory for the whole run, removed when the fuzzer exits. In memory when it can
// be: every save syncs its file, which on a disk would dominate each run.
const std::string& FuzzDir() {
  static const std::string dir = [] {
    const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/velnor-quarantine-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    g_dir = pattern;
    atexit(RemoveDir);
    return g_dir;
  }();
  return dir;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::vector<std::string> LiveRecords(CQuarantineDataList& list) {
  std::vector<std::string> texts;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const auto& server = *node->RecordAs<CQuarantineData>();
    Check(server.IsLive() && server.added == 1);
    Check(server.protocol == "tcp" || server.protocol == "udp");
    Check(server.port != 0 && !server.sourceText.empty());
    texts.push_back(server.sourceText + "," + server.protocol + "," + server.portText);
  }
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = FuzzDir() + "/in.csv";
  const std::string saved = FuzzDir() + "/quarantine.csv";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  CQuarantineDataList list;
  const int loaded = list.Load(input.c_str());
  Check(loaded == 0 || loaded == -1);
  const std::vector<std::string> live = LiveRecords(list);

  Check(list.Save(saved.c_str()) == 0);
  CQuarantineDataList again;
  Check(again.Load(saved.c_str()) == 0);
  Check(LiveRecords(again) == live);

  CQuarantineDataList copy;
  Check(list.CopyAll(&copy) == list.GetCount(false));
  return 0;
}

// quarantine.csv loading on arbitrary file contents: no crash, no sanitizer finding, every
// stored record is valid and flagged added, and what was stored saves and loads back as
// the same records.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registry/QuarantineDataList.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace fuzz_files;

namespace {

// The run's scratch directory (see MakeScratchDir).
const std::string& FuzzDir() {
  static const std::string dir = MakeScratchDir("quarantine");
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
  WriteAll(input, data, size);

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

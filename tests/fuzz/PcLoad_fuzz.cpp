// pc.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back to the same file, record for record.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "registry/PcDataList.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace fuzz_files;

namespace {

// The run's scratch directory (see MakeScratchDir).
const std::string& Dir() {
  static const std::string dir = [] {
    return MakeScratchDir("pcload");
  }();
  return dir;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "pc.csv invariant broken: %s\n", what);
    abort();
  }
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
  WriteAll(input, data, size);

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

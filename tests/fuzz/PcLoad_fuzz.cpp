// pc.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back to the same file, record for record.

#include <cstddef>
#include <cstdint>
#include <string>

#include "registry/PcDataList.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace fuzz_files;

namespace {

const std::string& Dir() {
  static const std::string dir = [] {
    return MakeScratchDir("pcload");
  }();
  return dir;
}

int LiveCount(CPcDataList& list) {
  int live = 0;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const CPcData& record = *node->RecordAs<CPcData>();
    Check(record.added == 1, "a stored PC without its added flag");
    live += record.IsLive() ? 1 : 0;
  }
  return live;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckRoundTrip<CPcDataList>(Dir(), data, size, LiveCount);
  return 0;
}

// gw.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back with the same gateways.

#include <cstddef>
#include <cstdint>
#include <string>

#include "registry/GwDataList.h"
#include "support/Syslog.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace fuzz_files;

namespace {

const std::string& Dir() {
  static const std::string dir = [] {
    SetLogThreshold(0);  // no log line may leave the machine while fuzzing
    return MakeScratchDir("gwload");
  }();
  return dir;
}

int LiveCount(CGwDataList& list) {
  int live = 0;
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    const CGwData& record = *node->RecordAs<CGwData>();
    Check(record.port != 0 && record.added == 1, "a stored gateway without port or added flag");
    live += record.IsLive() ? 1 : 0;
  }
  return live;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckRoundTrip<CGwDataList>(Dir(), data, size, LiveCount);
  return 0;
}

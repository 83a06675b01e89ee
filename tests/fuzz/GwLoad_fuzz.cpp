// gw.csv reader on arbitrary file contents: no crash, no sanitizer finding, and what it
// stored saves and loads back with the same gateways. An empty password comes back as
// the default one, so the second save is the one that must stay stable.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "registry/GwDataList.h"
#include "support/Syslog.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace fuzz_files;

namespace {

// The run's scratch directory (see MakeScratchDir).
const std::string& Dir() {
  static const std::string dir = [] {
    SetLogThreshold(0);  // no log line may leave the machine while fuzzing
    return MakeScratchDir("gwload");
  }();
  return dir;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "gw.csv invariant broken: %s\n", what);
    abort();
  }
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
  WriteAll(input, data, size);

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

// gwroute.csv reader on arbitrary file contents, against a fixed set of gateways (one on
// another port, one on 0.0.0.0 for lines before any address, one withdrawn): no crash, no
// sanitizer finding, routes only on live gateways, and the routes it stored save and load
// back onto the same gateways.

#include <cstdint>
#include <string>
#include <vector>

#include "registry/GwrouteFile.h"
#include "support/AddressParse.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace fuzz_files;

namespace {

const std::string& Dir() { return ScratchDir("gwrouteload"); }

// A withdrawn gateway that shares an address with none, then those of the fixed gw.csv.
void LoadGateways(CGwDataList& gateways) {
  static const bool written = [] {
    const std::string text = "\"10.0.0.1\"\r\n\"10.0.0.2\",8080,\"u\",\"p\"\r\n\"0.0.0.0\"\r\n";
    WriteAll(Dir() + "/gw.csv", text.data(), text.size());
    return true;
  }();
  auto* withdrawn = new CGwData;
  withdrawn->addressText = "10.0.0.3";
  Check(written && ParseIPv4Value("10.0.0.3", withdrawn->address), "fixed address");
  Check(gateways.AddUnique(withdrawn) == 0, "fixed gateway refused");
  Check(gateways.Load((Dir() + "/gw.csv").c_str()) == 0, "fixed gw.csv does not load");
}

// Live routes per gateway, in list order.
std::vector<int> LiveRoutes(CGwDataList& gateways) {
  std::vector<int> counts;
  for (CNacNode* node = gateways.GetHead(false); node != nullptr; node = gateways.GetNext(node, false)) {
    CGwData& gateway = *node->RecordAs<CGwData>();
    int live = 0;
    for (CNacNode* entry = gateway.Routes().GetHead(false); entry != nullptr;
         entry = gateway.Routes().GetNext(entry, false)) {
      const CGwrouteData& route = *entry->RecordAs<CGwrouteData>();
      Check(route.added == 1, "a loaded route without the added flag");
      live += route.IsLive() ? 1 : 0;
    }
    Check(gateway.IsLive() || live == 0, "a route appended to a withdrawn gateway");
    counts.push_back(live);
  }
  return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = Dir() + "/input.csv", saved = Dir() + "/saved.csv", again = Dir() + "/again.csv";
  WriteAll(input, data, size);
  CGwDataList gateways;
  LoadGateways(gateways);
  (void)LoadGwroutes(gateways, input.c_str());  // loaded or refused, what it kept must round-trip
  const std::vector<int> live = LiveRoutes(gateways);
  CGwDataList copy;
  Check(gateways.CopyAll(&copy) == gateways.GetCount(false), "snapshot lost gateways");

  Check(SaveGwroutes(gateways, saved.c_str()) == 0, "save failed");
  const std::string text = ReadAll(saved);
  if (!LinesFitTheReader(text)) return 0;
  CGwDataList fresh;
  LoadGateways(fresh);
  Check(LoadGwroutes(fresh, saved.c_str()) == GwrouteLoadResult::kLoaded, "saved file does not load");
  Check(LiveRoutes(fresh) == live, "reload moved routes");
  // Loading over the registry itself withdraws what it had and gives the same again.
  Check(LoadGwroutes(gateways, saved.c_str()) == GwrouteLoadResult::kLoaded, "reload in place failed");
  Check(LiveRoutes(gateways) == live, "reload in place moved routes");
  Check(SaveGwroutes(fresh, again.c_str()) == 0 && ReadAll(again) == text, "reload saves differently");
  return 0;
}

// The address index must give what a walk from the head gives, whatever sequence of list
// operations kept it up to date. Seeded random sequences; VELNOR_SEED replays one seed.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "registry/GwDataList.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "tests/common/TempDir.h"

namespace {

[[maybe_unused]] const int kQuietLog = SetLogThreshold(0);

constexpr int kAddresses = 6;  // few, so that records collide often
constexpr int kFiles = 8;
const char* const kPorts[] = {"", "880", "8080"};

CGwData Key(int address, const char* port) {
  CGwData key = CGwDataList::AddressKey(static_cast<std::uint32_t>(address));
  key.portText = port;
  key.port = static_cast<std::uint16_t>(std::atoi(port));
  return key;
}

// The plain walk, with the registry's own rules: flag 0 live, 1 added, 2 deleted.
CGwData* Walk(CGwDataList& list, const CGwData& key, int flag, decltype(&CGwDataList::MatchRule) rule) {
  for (CNacNode* node = list.GetHead(false); node != nullptr; node = list.GetNext(node, false)) {
    auto* record = node->RecordAs<CGwData>();
    const bool passes = flag == 0 ? record->IsLive() : flag == 1 ? record->added != 0 : !record->IsLive();
    if (passes && rule(*record, key)) return record;
  }
  return nullptr;
}

class Sequence {
 public:
  explicit Sequence(unsigned seed) : random_(seed) {}

  void Step() {
    CGwDataList& list = *current_;
    CNacNode* node = RandomNode(list);
    switch (Pick(10)) {
      case 0:
      case 1: {
        CGwData* gateway = NewGateway();
        const bool taken = Walk(list, *gateway, 0, &CGwDataList::IdentityRule) != nullptr;
        const int result = list.AddUnique(gateway);
        EXPECT_EQ(result, taken ? -1 : 0) << "AddUnique of " << gateway->addressText;
        if (result != 0) delete gateway;
        break;
      }
      case 2:  // no identity check: live twins, out of append order
        node != nullptr ? list.InsertAfter(node, NewGateway(), false) : list.AddHead(NewGateway(), false);
        break;
      case 3:
        list.MarkDeleted(Key(Pick(kAddresses), kPorts[Pick(3)]));
        break;
      case 4:
        if (Pick(4) == 0) list.MarkAllDeleted(1);
        break;
      case 5:
        list.Load(("gw" + std::to_string(Pick(kFiles)) + ".csv").c_str());
        break;
      case 6:
        if (node != nullptr) list.RemoveData(node->Record(), false);
        break;
      case 7:
        if (node != nullptr) list.UnlinkData(node->Record(), false).reset();
        break;
      case 8:
        current_ = current_ == &first_ ? &second_ : &first_;
        list.CopyAll(current_);
        break;
      default:
        if (Pick(8) == 0) list.RemoveAll(false);
        break;
    }
  }

  void CheckSearches() {
    CGwDataList& list = *current_;
    for (int address = 0; address < kAddresses; ++address) {
      for (const char* port : kPorts) {
        const CGwData key = Key(address, port);
        SCOPED_TRACE(testing::Message() << "key " << address << ":" << port);
        ASSERT_EQ(list.FindLive(key, false), Walk(list, key, 0, &CGwDataList::MatchRule));
        ASSERT_EQ(list.FindAdded(key, false), Walk(list, key, 1, &CGwDataList::MatchRule));
        ASSERT_EQ(list.FindDeleted(key, false), Walk(list, key, 2, &CGwDataList::MatchRule));
      }
    }
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  CGwData* NewGateway() {
    auto* gateway = new CGwData;
    const int address = Pick(kAddresses);
    gateway->addressText = std::to_string(address);
    gateway->address = static_cast<std::uint32_t>(address);
    if (Pick(2) == 0) gateway->port = 8080;
    gateway->added = Pick(2);
    return gateway;
  }

  CNacNode* RandomNode(CGwDataList& list) {
    const int count = list.GetCount(false);
    CNacNode* node = list.GetHead(false);
    for (int skip = count == 0 ? 0 : Pick(count); skip > 0; --skip) node = list.GetNext(node, false);
    return node;
  }

  std::mt19937 random_;
  CGwDataList first_;
  CGwDataList second_;
  CGwDataList* current_ = &first_;
};

TEST(GwIndexTest, SearchesAgreeWithAWalk) {
  testing_support::TempDir dir;
  // Files of a few gateways each, some with duplicates or a bad port that end the load.
  std::mt19937 lines(0);
  for (int file = 0; file < kFiles; ++file) {
    std::string text;
    for (int line = static_cast<int>(lines() % 5); line > 0; --line) {
      const std::uint32_t address = lines() % kAddresses;
      text += "\"" + FormatIPv4(address) + "\"," + (lines() % 8 == 0 ? "0" : "8080") + "\r\n";
    }
    dir.Write("gw" + std::to_string(file) + ".csv", text);
  }
  std::vector<unsigned> seeds;
  if (const char* chosen = std::getenv("VELNOR_SEED")) {
    seeds.push_back(static_cast<unsigned>(std::strtoul(chosen, nullptr, 10)));
  } else {
    for (unsigned seed = 1; seed <= 20; ++seed) seeds.push_back(seed);
  }
  for (unsigned seed : seeds) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " (replay with VELNOR_SEED=" << seed << ")");
    Sequence sequence(seed);
    for (int step = 0; step < 1500 && !HasFailure(); ++step) {
      sequence.Step();
      sequence.CheckSearches();
    }
    if (HasFailure()) return;
  }
}

}  // namespace

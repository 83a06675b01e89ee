#include "registry/GwDataList.h"

#include <cstring>
#include <string>

#include "platform/Clock.h"
#include "registry/NacNodeMap.h"
#include "support/AddressParse.h"
#include "support/Syslog.h"
#include "support/TextScan.h"

namespace {

std::uint32_t AddressOf(const CNacNode& node) { return node.RecordAs<CGwData>()->address; }

// Deleted gateways stay indexed: FindDeleted needs them, and so does a gateway that is
// re-added while its deleted twin waits to be erased.

class CGwAddressIndex final : public CNacRecordIndex<CGwData> {
 public:
  // Moved at every link and unlink, under the list's lock; read without it.
  const std::atomic<std::uint64_t>& Changes() const { return changes_; }

  void NodeLinked(CNacNode& node) override {
    map_.Add(node.RecordAs<CGwData>()->address, &node);
    Changed();
  }
  void NodeUnlinked(CNacNode& node) override {
    map_.Remove(node.RecordAs<CGwData>()->address, &node);
    Changed();
  }
  void AllUnlinked() override {
    map_.Clear();
    Changed();
  }

  // Both rules require equal addresses.
  bool Candidates(Rule /*rule*/, const CGwData& key, CandidateNodes& out) override {
    map_.AppendTo(key.address, out);
    return true;
  }

  void LoadBegins() override { map_.BeginRun(); }
  void LoadProgress(std::uint64_t done, std::uint64_t total) override { map_.ProjectRun(done, total); }
  void LoadEnds() override { map_.EndRun(); }

 private:
  void Changed() { changes_.fetch_add(1, std::memory_order_release); }

  std::atomic<std::uint64_t> changes_{0};
  CNacNodeMap<std::uint32_t, AddressOf> map_;
};

void SaveLine(const CGwData& gateway, std::string& out) {
  out += '"';
  out += gateway.addressText;
  out += "\",";
  out += gateway.portText;
  out += ',';
  if (!gateway.user.empty()) {
    out += '"';
    out += gateway.user;
    out += '"';
  }
  out += ',';
  if (!gateway.password.empty()) {
    out += '"';
    out += gateway.password;
    out += '"';
  }
  out += "\r\n";
}

// Address, then optional port, user and password; an absent column keeps the default.
bool ParseLine(char* line, CGwData& gateway) {
  char* column = nullptr;
  char* cursor = NextCsvToken(line, &column);
  if (cursor == nullptr) return false;
  gateway.addressText = column;
  if (!ParseIPv4Value(column, gateway.address)) return false;

  cursor = NextCsvToken(cursor, &column);
  if (cursor == nullptr) return true;
  gateway.portText = column;
  gateway.port = ParseNumberInRange(column, 1, 65535);
  if (gateway.port == 0) return false;

  cursor = NextCsvToken(cursor, &column);
  if (cursor == nullptr) return true;
  gateway.user = column;

  cursor = NextCsvToken(cursor, &column);
  if (cursor != nullptr) gateway.password = column;
  return true;
}

std::uint32_t AddressValue(const std::uint8_t address[4]) {
  std::uint32_t value = 0;
  std::memcpy(&value, address, sizeof value);
  return value;
}

// The log line of a gateway whose ON/OFF state a probe result changed.
void SendDiagnosis(int priority, const CGwData& gateway, const char* state) {
  SyslogSend(priority, "GW(%s) was diagnosed as %s by a keep alive function.", FormatIPv4(gateway.address).c_str(),
             state);
}

}  // namespace

// The index keeps the change count: it lives as long as the list's nodes, which the base
// empties after this class's own members are gone.
CGwDataList::IndexParts CGwDataList::MakeIndex() {
  auto index = std::make_unique<CGwAddressIndex>();
  const std::atomic<std::uint64_t>* changes = &index->Changes();
  return {std::move(index), changes};
}

CGwDataList::CGwDataList() : CGwDataList(MakeIndex()) {}

CGwDataList::CGwDataList(IndexParts parts)
    : CNacRecordList(&MatchRule, &IdentityRule, std::move(parts.index)), changes_(parts.changes) {}

CGwDataList::~CGwDataList() = default;

int CGwDataList::AddUnique(CGwData* gateway) { return AddUniqueRecord(gateway); }

int CGwDataList::Save(const char* path) { return SaveLines(path, 0600, &SaveLine); }

int CGwDataList::Load(const char* path, const std::atomic<int>* stop) {
  return LoadLines(path, "I failed in making of CGwData.", &ParseLine, stop);
}

int CGwDataList::KeepAliveOn(std::uint32_t address) {
  return KeepAlive(address, [](CGwData& gateway) {
    int changed = 0;
    if (gateway.on == 0) {
      gateway.resetPending = 1;
      SendDiagnosis(6, gateway, "ON");
      gateway.stateSince = platform::CurrentClock().MonotonicMs();
      changed = 1;
    }
    gateway.on = 1;
    gateway.failureCount = 0;
    return changed;
  });
}

int CGwDataList::KeepAliveOn(const std::uint8_t address[4]) { return KeepAliveOn(AddressValue(address)); }

int CGwDataList::KeepAliveOff(std::uint32_t address) {
  return KeepAlive(address, [](CGwData& gateway) {
    // While OFF the count stays where it was: it only measures a run of failures while ON.
    if (gateway.on == 0) return 0;
    const std::uint32_t failures = gateway.failureCount++;
    if (failures < gateway.failureLimit) return 0;
    gateway.on = 0;
    gateway.stateSince = platform::CurrentClock().MonotonicMs();
    SendDiagnosis(4, gateway, "OFF");
    return 1;
  });
}

int CGwDataList::KeepAliveOff(const std::uint8_t address[4]) { return KeepAliveOff(AddressValue(address)); }

int CGwDataList::KeepAlive(std::uint32_t address, int (*change)(CGwData& gateway)) {
  const CGwData key = AddressKey(address);
  Guard guard(*this);
  CGwData* gateway = FindLive(key, guard);
  if (gateway == nullptr) {
    SyslogSend(3, "I failed in a search of GW.");
    return 0;
  }
  gateway->probeOutstanding = 0;
  return change(*gateway);
}

CGwData CGwDataList::AddressKey(std::uint32_t address) {
  CGwData key;
  key.address = address;
  key.portText.clear();
  return key;
}

bool CGwDataList::IdentityRule(const CGwData& gateway, const CGwData& key) {
  return gateway.address == key.address;
}

bool CGwDataList::MatchRule(const CGwData& gateway, const CGwData& key) {
  if (!key.portText.empty() && key.port != gateway.port) return false;
  return gateway.address == key.address;
}

void CGwDataList::CopyDetails(const CGwData& source, CGwData& copy) {
  // CopyAll only reads the source's routes, under their own lock. It gives the copy's
  // count (-1 only without a target) and logs each route it could not copy itself.
  (void)const_cast<CGwData&>(source).Routes().CopyAll(&copy.Routes());
}

CGwDataList& GetGwDataList() {
  static CGwDataList gateways;
  return gateways;
}

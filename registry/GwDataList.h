#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "registry/GwData.h"
#include "registry/NacRecordList.h"

// The gateway registry. The command sessions, the controller, the keep-alive scheduler and
// its probers all use it, each holding its lock for single operations and working on
// CopyAll snapshots otherwise. Lock order: this registry's lock before the lock of any
// gateway's route list.
//
// Gateways are indexed by address, which every rule compares: a registry of thousands of
// gateways is searched, checked for duplicates and loaded without walking it.
class CGwDataList : public CNacRecordList<CGwDataList, CGwData> {
 public:
  static constexpr const char* kRecordName = "CGwData";
  // Its file, and its name in the log lines about that file.
  static constexpr const char* kFileName = "gw.csv";
  static constexpr const char* kDataName = "GW";
  static constexpr const char* kCopyFailureText = "I failed in start of CGwData.";

  CGwDataList();
  ~CGwDataList() override;

  // 0, or -1 when a live gateway has the same address, whatever the ports (the caller
  // keeps the record then).
  [[nodiscard]] int AddUnique(CGwData* gateway);
  [[nodiscard]] int AddUnique(CGwData* gateway, const Guard& held) VELNOR_REQUIRES(this) {
    return AddUniqueRecord(gateway, held);
  }

  // gw.csv: one line per live gateway. The file holds passwords, so only its owner may
  // read it. Both give 0 or -1.
  [[nodiscard]] int Save(const char* path);
  [[nodiscard]] int Load(const char* path, const std::atomic<int>* stop = nullptr);

  // The probed gateway answered (On) or did not (Off): 1 when its ON/OFF state changed,
  // else 0 (also when no live gateway has the address).
  int KeepAliveOn(std::uint32_t address);
  int KeepAliveOn(const std::uint8_t address[4]);
  int KeepAliveOff(std::uint32_t address);
  int KeepAliveOff(const std::uint8_t address[4]);

  // How many times a gateway has entered or left the list (a withdrawal alone does not
  // count). A reader that keeps its own view of the gateways walks the list again only
  // when this has moved. Read without the lock.
  std::uint64_t Changes() const { return changes_->load(std::memory_order_acquire); }

  // A key that finds the gateway with this address whatever its port.
  static CGwData AddressKey(std::uint32_t address);

  // Identity: equal addresses. Liveness is the caller's part.
  static bool IdentityRule(const CGwData& gateway, const CGwData& key);
  // Match: a port text in the key makes the ports count; and equal addresses.
  static bool MatchRule(const CGwData& gateway, const CGwData& key);

 private:
  friend class CNacRecordList<CGwDataList, CGwData>;

  // Under the lock: finds the live gateway with this address (a priority 3 log and 0 when
  // there is none), clears its outstanding probe and gives what change gives for it.
  int KeepAlive(std::uint32_t address, int (*change)(CGwData& gateway));

  // A snapshot's gateway carries a snapshot of the routes too. The caller holds this
  // registry's lock, so the route list's lock is taken second.
  void CopyDetails(const CGwData& source, CGwData& copy);

  struct IndexParts {
    std::unique_ptr<CNacRecordIndex<CGwData>> index;
    const std::atomic<std::uint64_t>* changes;
  };
  static IndexParts MakeIndex();
  explicit CGwDataList(IndexParts parts);

  // Moved by the address index, which sees every link and unlink under the lock.
  const std::atomic<std::uint64_t>* changes_;
};

// The registry of the process.
CGwDataList& GetGwDataList();

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "registry/GwrouteDataList.h"
#include "registry/NacRecord.h"

// One gateway router: where its HTTP interface is, the credentials for it, its keep-alive
// settings and state, and the networks routed behind it. A default record is also the
// search key: the caller sets what it knows and the rest keeps the defaults.
//
// Addresses are four bytes in network order held as one value. A stored gateway's address
// must not change: the registry indexes it.
class CGwData : public CNacRecord {
 public:
  CGwData();
  // Copies every field except the routes; the copy starts with an empty route list (the
  // registry's snapshot copies the routes itself).
  CGwData(const CGwData& other);
  CGwData& operator=(const CGwData& other);
  CGwData& operator=(const CNacRecord& other) override;
  ~CGwData() override;

  CGwrouteDataList& Routes() { return *routes_; }
  const CGwrouteDataList& Routes() const { return *routes_; }

  std::string addressText;
  std::uint32_t address = 0;
  std::string portText = "880";
  std::uint16_t port = 880;
  std::string user = "admin";
  std::string password = "tovin";
  std::string intervalText = "10";
  std::int64_t interval;  // seconds between two probes, from intervalText
  std::string failureLimitText = "3";
  std::uint32_t failureLimit;      // failed probes tolerated while ON, from failureLimitText
  std::int64_t lastProbeTime = 0;  // monotonic milliseconds when its last probe was scheduled; 0: never
  std::uint32_t failureCount = 0;  // consecutive failed probes since the last success
  std::int32_t on = 0;
  std::int64_t stateSince;  // CurrentClock().MonotonicMs() when on last flipped, or when the record was made
  std::int32_t probeOutstanding = 0;
  std::int32_t resetPending = 1;  // the gateway must be sent its whole ACL state

 private:
  void CopyFields(const CGwData& other);

  std::unique_ptr<CGwrouteDataList> routes_;
};

#pragma once

#include "registry/GwrouteData.h"
#include "registry/NacRecordList.h"

// The routes of one gateway. It is reached only through its gateway (CGwData), and its
// lock is taken only while the gateway registry's lock is held, or on a snapshot copy.
//
// No index: a gateway has a handful of routes, so a walk costs less than hashing, and the
// registry holds thousands of gateways (and their key and snapshot copies), each of which
// would carry an index of its own.
class CGwrouteDataList : public CNacRecordList<CGwrouteDataList, CGwrouteData> {
 public:
  static constexpr const char* kRecordName = "CGwrouteData";
  static constexpr const char* kCopyFailureText = "I failed in start of CGwrouteData.";

  CGwrouteDataList();
  ~CGwrouteDataList() override;

  // 0, or -1 when a live route has the identity of route (the caller keeps it then).
  [[nodiscard]] int AddUnique(CGwrouteData* route);

  // Identity: equal devices (both empty counts as equal) and equal masked networks; the
  // netmasks themselves may differ. Liveness is the caller's part.
  static bool IdentityRule(const CGwrouteData& route, const CGwrouteData& key);
  // Match: a device in the key must equal the route's; and equal masked networks.
  static bool MatchRule(const CGwrouteData& route, const CGwrouteData& key);
};

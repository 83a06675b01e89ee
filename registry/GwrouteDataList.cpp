#include "registry/GwrouteDataList.h"

CGwrouteDataList::CGwrouteDataList() : CNacRecordList(&MatchRule, &IdentityRule, nullptr) {}

CGwrouteDataList::~CGwrouteDataList() = default;

int CGwrouteDataList::AddUnique(CGwrouteData* route) { return AddUniqueRecord(route); }

bool CGwrouteDataList::IdentityRule(const CGwrouteData& route, const CGwrouteData& key) {
  return route.device == key.device && route.MaskedNetwork() == key.MaskedNetwork();
}

bool CGwrouteDataList::MatchRule(const CGwrouteData& route, const CGwrouteData& key) {
  if (!key.device.empty() && key.device != route.device) return false;
  return route.MaskedNetwork() == key.MaskedNetwork();
}

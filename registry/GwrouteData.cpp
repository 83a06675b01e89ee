#include "registry/GwrouteData.h"

CGwrouteData& CGwrouteData::operator=(const CGwrouteData& other) {
  if (this == &other) return *this;
  CNacRecord::operator=(other);
  device = other.device;
  networkText = other.networkText;
  network = other.network;
  netmaskText = other.netmaskText;
  netmask = other.netmask;
  return *this;
}

CGwrouteData& CGwrouteData::operator=(const CNacRecord& other) {
  return AssignRecord(*this, other);
}

CGwrouteData::~CGwrouteData() = default;

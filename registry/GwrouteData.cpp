#include "registry/GwrouteData.h"

#include <cstring>

#include "support/AddressParse.h"

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
  if (const auto* route = dynamic_cast<const CGwrouteData*>(&other)) return *this = *route;
  CNacRecord::operator=(other);
  return *this;
}

CGwrouteData::~CGwrouteData() = default;

bool ParseIPv4Value(const char* text, std::uint32_t& value) {
  std::uint8_t bytes[4];
  if (ParseIPv4(text, bytes) != 1) return false;
  std::memcpy(&value, bytes, sizeof value);
  return true;
}

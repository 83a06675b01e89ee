#pragma once

#include <cstdint>
#include <string>

#include "registry/NacRecord.h"

// One network routed behind a gateway, optionally tied to one of its interfaces. The
// network and netmask are four bytes in network order held as one value, so that masking
// is a single AND.
class CGwrouteData : public CNacRecord {
 public:
  CGwrouteData() = default;
  CGwrouteData(const CGwrouteData&) = default;
  CGwrouteData& operator=(const CGwrouteData& other);
  // The full copy, flags included, when the source is a route.
  CGwrouteData& operator=(const CNacRecord& other) override;
  ~CGwrouteData() override;

  std::uint32_t MaskedNetwork() const { return network & netmask; }

  std::string device;  // empty when the route names no interface
  std::string networkText;
  std::uint32_t network = 0;
  std::string netmaskText;  // empty when not given
  std::uint32_t netmask = 0;
};

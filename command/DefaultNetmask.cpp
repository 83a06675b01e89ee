#include "command/DefaultNetmask.h"

const char* DefaultNetmask(std::uint32_t network) {
  const auto first = reinterpret_cast<const unsigned char*>(&network)[0];
  if (first == 0) return "0.0.0.0";
  if (first <= 127) return "255.0.0.0";
  if (first <= 191) return "255.255.0.0";
  if (first <= 223) return "255.255.255.0";
  if (first <= 239) return "240.0.0.0";
  if (first <= 247) return "248.0.0.0";
  return nullptr;
}

#include "registry/NacData.h"

#include <cstring>

#include "support/AddressParse.h"

CNacData::~CNacData() = default;

CNacData& CNacData::operator=(const CNacRecord& other) {
  if (const auto* entry = dynamic_cast<const CNacData*>(&other)) return *this = *entry;
  CNacRecord::operator=(other);
  return *this;
}

bool CNacData::SetMac(const char* text) {
  macText = text;
  mac = {};
  std::array<std::uint8_t, 6> bytes{};
  if (macText.empty()) return true;
  if (ParseMac(macText.c_str(), bytes.data()) != 0) return false;
  mac = bytes;
  return true;
}

bool CNacData::SetSource(const char* text) {
  sourceText = text;
  source = 0;
  if (sourceText.empty()) return true;
  std::uint8_t bytes[4];
  if (ParseIPv4(sourceText.c_str(), bytes) != 1) return false;
  std::memcpy(&source, bytes, sizeof source);
  return true;
}

bool CNacData::HasMac() const {
  for (std::uint8_t byte : mac) {
    if (byte != 0) return true;
  }
  return false;
}

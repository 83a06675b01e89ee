#include "registry/NacData.h"

#include "registry/RecordText.h"

CNacData::~CNacData() = default;

CNacData& CNacData::operator=(const CNacRecord& other) {
  return AssignRecord(*this, other);
}

bool CNacData::SetMac(const char* text) { return SetMacText(macText, mac, text); }

bool CNacData::SetSource(const char* text) { return SetAddressText(sourceText, source, text); }

bool CNacData::HasMac() const {
  for (std::uint8_t byte : mac) {
    if (byte != 0) return true;
  }
  return false;
}

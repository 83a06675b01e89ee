#include "registry/PcData.h"

#include <cstring>

#include "registry/MacText.h"
#include "support/AddressParse.h"

namespace {

// The value of a dotted address as its bytes in memory order; false (value untouched) when
// the text is not one.
bool ParseAddress(const char* text, std::uint32_t& value) {
  std::uint8_t bytes[4];
  if (ParseIPv4(text, bytes) != 1) return false;
  std::memcpy(&value, bytes, sizeof value);
  return true;
}

// Stores text; an empty text is valid and leaves the value zero. The parse reads the stored
// copy, so a text taken from the record itself is safe.
bool SetAddress(const char* text, std::string& stored, std::uint32_t& value) {
  stored = text;
  value = 0;
  return stored.empty() || ParseAddress(stored.c_str(), value);
}

}  // namespace

CPcData::~CPcData() = default;

CPcData& CPcData::operator=(const CNacRecord& other) {
  if (const auto* pc = dynamic_cast<const CPcData*>(&other)) return *this = *pc;
  CNacRecord::operator=(other);
  return *this;
}

bool CPcData::SetMac(const char* text) {
  macText = text;
  mac = {};
  if (macText.empty()) return true;
  std::array<std::uint8_t, 6> bytes{};
  if (ParseMac(macText.c_str(), bytes.data()) != 0) return false;
  mac = bytes;
  return true;
}

bool CPcData::SetSource(const char* text) { return SetAddress(text, sourceText, source); }

bool CPcData::SetNetwork(const char* text) { return SetAddress(text, networkText, network); }

bool CPcData::SetNetmask(const char* text) {
  if (!SetAddress(text, netmaskText, netmask)) return false;
  if (netmaskText.empty() || MaskToPrefix(netmaskText.c_str()) >= 0) return true;
  netmask = 0;
  return false;
}

void CPcData::NormalizeMac() { NormalizeMacText(macText, mac); }

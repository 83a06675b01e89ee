#include "registry/QuarantineData.h"

#include <cstring>

#include "support/AddressParse.h"

CQuarantineData::~CQuarantineData() = default;

CQuarantineData& CQuarantineData::operator=(const CNacRecord& other) {
  if (const auto* server = dynamic_cast<const CQuarantineData*>(&other)) return *this = *server;
  CNacRecord::operator=(other);
  return *this;
}

bool CQuarantineData::SetSource(const char* text) {
  sourceText = text;
  source = 0;
  if (sourceText.empty()) return true;
  std::uint8_t bytes[4];
  if (ParseIPv4(sourceText.c_str(), bytes) != 1) return false;
  std::memcpy(&source, bytes, sizeof source);
  return true;
}

bool CQuarantineData::SetPort(const char* text) {
  portText = text;
  port = 0;
  if (portText.empty()) return true;
  port = ParseNumberInRange(portText.c_str(), 1, 65535);
  return port != 0;
}

#include "registry/QuarantineData.h"

#include "registry/RecordText.h"
#include "support/AddressParse.h"

CQuarantineData::~CQuarantineData() = default;

CQuarantineData& CQuarantineData::operator=(const CNacRecord& other) {
  return AssignRecord(*this, other);
}

bool CQuarantineData::SetSource(const char* text) { return SetAddressText(sourceText, source, text); }

bool CQuarantineData::SetPort(const char* text) {
  portText = text;
  port = 0;
  if (portText.empty()) return true;
  port = ParseNumberInRange(portText.c_str(), 1, 65535);
  return port != 0;
}

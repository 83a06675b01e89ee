#include "registry/GwData.h"

#include "platform/Clock.h"
#include "support/DigitParse.h"

namespace {

// An optional sign and the leading decimal digits; 0 without digits. Accumulated unsigned
// so that an absurd text wraps instead of overflowing.
std::int64_t SignedDecimal(const std::string& text) {
  const char* p = text.c_str();
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint64_t value = 0;
  for (; IsDecimalDigit(*p); ++p) value = value * 10 + static_cast<std::uint64_t>(*p - '0');
  return static_cast<std::int64_t>(negative ? 0 - value : value);
}

}  // namespace

CGwData::CGwData()
    : interval(SignedDecimal(intervalText)),
      failureLimit(static_cast<std::uint32_t>(SignedDecimal(failureLimitText))),
      stateSince(platform::CurrentClock().MonotonicMs()),
      routes_(std::make_unique<CGwrouteDataList>()) {}

CGwData::CGwData(const CGwData& other) : CNacRecord(other), routes_(std::make_unique<CGwrouteDataList>()) {
  CopyFields(other);
}

CGwData& CGwData::operator=(const CGwData& other) {
  if (this == &other) return *this;
  CNacRecord::operator=(other);
  CopyFields(other);
  return *this;
}

CGwData& CGwData::operator=(const CNacRecord& other) {
  return AssignRecord(*this, other);
}

CGwData::~CGwData() = default;

void CGwData::CopyFields(const CGwData& other) {
  addressText = other.addressText;
  address = other.address;
  portText = other.portText;
  port = other.port;
  user = other.user;
  password = other.password;
  intervalText = other.intervalText;
  interval = other.interval;
  failureLimitText = other.failureLimitText;
  failureLimit = other.failureLimit;
  lastProbeTime = other.lastProbeTime;
  failureCount = other.failureCount;
  on = other.on;
  stateSince = other.stateSince;
  probeOutstanding = other.probeOutstanding;
  resetPending = other.resetPending;
}

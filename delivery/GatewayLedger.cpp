#include "delivery/GatewayLedger.h"

#include "platform/Clock.h"
#include "support/ControlBytes.h"

namespace {

constexpr std::size_t kWordSize = 40;

// The answer as a short word for the status line: its first line, cut, with whatever
// control bytes the gateway put in it shown escaped.
std::string Word(int status, const std::string& answer) {
  if (status != 200) return "status " + std::to_string(status);
  return EscapeControlBytes(std::string_view(answer).substr(0, answer.find_first_of("\r\n")), kWordSize);
}

}  // namespace

GatewayLedger::Entry& GatewayLedger::At(std::uint32_t address, std::uint16_t port) {
  Entry& entry = entries_[address];
  entry.port = port;
  return entry;
}

void GatewayLedger::Answered(std::uint32_t address, std::uint16_t port, const std::string& body, int status,
                             const std::string& answer) {
  platform::MutexLock lock(mutex_);
  Entry& entry = At(address, port);
  entry.lastWord = Word(status, answer);
  entry.lastAnswerMs = platform::RealClock().NowMs();
  // Only "ok" says the gateway took the order; any other answer leaves its rules as they were.
  if (status != 200 || answer.rfind("ok", 0) != 0) return;
  ++entry.delivered;
  ApplyRequestBody(entry.rules, body);
}

void GatewayLedger::TryFailed(std::uint32_t address, std::uint16_t port) {
  platform::MutexLock lock(mutex_);
  ++At(address, port).failedTries;
}

void GatewayLedger::Dropped(std::uint32_t address, std::uint16_t port) {
  platform::MutexLock lock(mutex_);
  ++At(address, port).dropped;
}

std::optional<GatewayLedger::Entry> GatewayLedger::Find(std::uint32_t address) const {
  platform::MutexLock lock(mutex_);
  const auto it = entries_.find(address);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

GatewayLedger& GetGatewayLedger() {
  static GatewayLedger ledger;
  return ledger;
}

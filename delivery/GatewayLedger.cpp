#include "delivery/GatewayLedger.h"

#include "platform/Clock.h"
#include "support/ControlBytes.h"

namespace {

constexpr std::size_t kWordSize = 40;
constexpr std::size_t kFailureSize = 160;

// The answer as a short word for the status line: its first line, cut, with whatever
// control bytes the gateway put in it shown escaped.
std::string Word(int status, const std::string& answer) {
  if (status != 200) return "status " + std::to_string(status);
  return EscapeControlBytes(std::string_view(answer).substr(0, answer.find_first_of("\r\n")), kWordSize);
}

}  // namespace

GatewayLedger::Kept& GatewayLedger::At(std::uint32_t address, std::uint16_t port) {
  Kept& kept = entries_[address];
  kept.entry.port = port;
  return kept;
}

void GatewayLedger::Failed(Kept& kept, std::string_view text) {
  kept.entry.lastFailure = EscapeControlBytes(text, kFailureSize);
  kept.entry.lastFailureMs = platform::RealClock().NowMs();
}

void GatewayLedger::Answered(std::uint32_t address, std::uint16_t port, const std::string& body, int status,
                             const std::string& answer) {
  platform::MutexLock lock(mutex_);
  Kept& kept = At(address, port);
  Entry& entry = kept.entry;
  entry.lastWord = Word(status, answer);
  entry.lastAnswerMs = platform::RealClock().NowMs();
  // Only "ok" says the gateway took the order; any other answer leaves its rules as they were.
  if (status != 200 || answer.rfind("ok", 0) != 0) {
    Failed(kept, status != 200 ? "answered with " + entry.lastWord : "answered \"" + entry.lastWord + "\"");
    return;
  }
  ++entry.delivered;
  ApplyRequestBody(kept.rules, body);
}

void GatewayLedger::TryFailed(std::uint32_t address, std::uint16_t port, const std::string& text) {
  platform::MutexLock lock(mutex_);
  Kept& kept = At(address, port);
  ++kept.entry.failedTries;
  Failed(kept, text);
}

void GatewayLedger::Dropped(std::uint32_t address, std::uint16_t port) {
  platform::MutexLock lock(mutex_);
  Kept& kept = At(address, port);
  ++kept.entry.dropped;
  Failed(kept, "a request was dropped after its last try");
}

GatewayLedger::Difference GatewayLedger::Compare(std::uint32_t address, const std::vector<std::string_view>& rules,
                                                 std::uint64_t digest, Entry& entry) const {
  platform::MutexLock lock(mutex_);
  const auto it = entries_.find(address);
  if (it == entries_.end()) {
    entry = Entry();
    return {rules.size(), 0};
  }
  entry = it->second.entry;
  const RuleSet& holds = it->second.rules;
  if (holds.Size() == rules.size() && holds.Digest() == digest) return {};
  std::size_t held = 0;
  for (const std::string_view rule : rules) held += holds.Holds(rule) ? 1 : 0;
  return {rules.size() - held, holds.Size() - held};
}

GatewayLedger& GetGatewayLedger() {
  static GatewayLedger ledger;
  return ledger;
}

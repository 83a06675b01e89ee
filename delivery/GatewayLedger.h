#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/Mutex.h"
#include "request/RuleLedger.h"

// What each gateway has taken: the rules it acknowledged with "ok" since its last reset
// (kept as the gateway keeps them), and how the deliveries to it went. The senders write
// it; the insight commands read it. Callable from any thread.
class GatewayLedger {
 public:
  struct Entry {
    std::uint16_t port = 0;
    std::uint64_t delivered = 0;    // requests answered "ok"
    std::uint64_t failedTries = 0;  // tries that got no whole answer
    std::uint64_t dropped = 0;      // requests given up after the fourth failed try
    std::string lastWord;           // the last answer's result word ("status 500" for another status)
    std::uint32_t lastAnswerMs = 0; // on the monotonic clock; meaningful once lastWord is set
    RuleSet rules;
  };

  // An answer to request (its body), from the gateway at address:port.
  void Answered(std::uint32_t address, std::uint16_t port, const std::string& body, int status,
                const std::string& answer);
  void TryFailed(std::uint32_t address, std::uint16_t port);
  void Dropped(std::uint32_t address, std::uint16_t port);
  std::optional<Entry> Find(std::uint32_t address) const;

 private:
  Entry& At(std::uint32_t address, std::uint16_t port) VELNOR_REQUIRES(mutex_);

  mutable platform::Mutex mutex_;
  std::map<std::uint32_t, Entry> entries_ VELNOR_GUARDED_BY(mutex_);
};

GatewayLedger& GetGatewayLedger();

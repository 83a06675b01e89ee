#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Mutex.h"
#include "request/RuleLedger.h"

// What each gateway has taken: the rules it acknowledged with "ok" since its last reset
// (kept as the gateway keeps them), and how the deliveries to it went. The senders write
// it; the insight commands and the status page read it. Callable from any thread.
class GatewayLedger {
 public:
  struct Entry {
    std::uint16_t port = 0;
    std::uint64_t delivered = 0;    // requests answered "ok"
    std::uint64_t failedTries = 0;  // tries that got no whole answer
    std::uint64_t dropped = 0;      // requests given up after the fourth failed try
    std::string lastWord;           // the last answer's result word ("status 500" for another status)
    std::uint32_t lastAnswerMs = 0; // on the monotonic clock; meaningful once lastWord is set
    // The last failed try (its log line), dropped request or answer other than "ok",
    // escaped and cut short; and when, as lastAnswerMs.
    std::string lastFailure;
    std::uint32_t lastFailureMs = 0;
  };

  // What a gateway lacks of the rules it should hold and holds beyond them.
  struct Difference {
    std::size_t missing = 0;
    std::size_t extra = 0;
  };

  // An answer to request (its body), from the gateway at address:port.
  void Answered(std::uint32_t address, std::uint16_t port, const std::string& body, int status,
                const std::string& answer);
  // A try that failed, with the line its failure was logged with.
  void TryFailed(std::uint32_t address, std::uint16_t port, const std::string& text);
  void Dropped(std::uint32_t address, std::uint16_t port);
  // What the gateway at address has against rules (each once, digest as RuleSet::Digest
  // gives for them), and its entry (a default one before its first delivery). Equal digests
  // and sizes settle it at once; only a gateway out of step has its lines looked up.
  Difference Compare(std::uint32_t address, const std::vector<std::string_view>& rules, std::uint64_t digest,
                     Entry& entry) const;

 private:
  struct Kept {
    Entry entry;
    RuleSet rules;
  };

  Kept& At(std::uint32_t address, std::uint16_t port) VELNOR_REQUIRES(mutex_);
  void Failed(Kept& kept, std::string_view text) VELNOR_REQUIRES(mutex_);

  mutable platform::Mutex mutex_;
  std::unordered_map<std::uint32_t, Kept> entries_ VELNOR_GUARDED_BY(mutex_);
};

GatewayLedger& GetGatewayLedger();

#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

// The probes a prober has out: each under the sequence number it was sent with, until its
// answer comes or its answer window closes. Times are monotonic milliseconds given by the
// caller, never decreasing from one call to the next; nothing here reads a clock.
class ProbeTable {
 public:
  static constexpr std::int64_t kAnswerWindowMs = 1000;

  // A new probe to address, sent at now: its sequence, counting from 0 and wrapping after
  // 65535. A number whose probe is still out is passed over; none when all are out.
  std::optional<std::uint16_t> Start(std::uint32_t address, std::int64_t now);
  // The probe of this sequence is forgotten unanswered (its request never left).
  void Cancel(std::uint16_t sequence);
  // An answer to this sequence: the address of the probe it ends, or none when no probe
  // with that number is out (an answer after the window, a second answer, a stranger's).
  std::optional<std::uint32_t> Answer(std::uint16_t sequence);
  // Ends the probes whose window has closed by now (it closes kAnswerWindowMs after the
  // send) and appends their addresses to out, in the order they were sent.
  void Expire(std::int64_t now, std::vector<std::uint32_t>& out);
  // When the next window closes; none with nothing out.
  std::optional<std::int64_t> NextDeadline();
  // Ends every probe still out, appending their addresses to out.
  void TakeAll(std::vector<std::uint32_t>& out);
  std::size_t Outstanding() const { return slots_.size(); }

 private:
  struct Slot {
    std::uint32_t address;
    std::uint64_t serial;  // which probe under this number
  };
  // Windows are all the same length and sends come in time order, so the deadlines queue
  // up in order; a probe answered early leaves its entry behind, to be passed over.
  struct Deadline {
    std::int64_t at;
    std::uint16_t sequence;
    std::uint64_t serial;
  };

  static constexpr std::size_t kNumbers = 65536;

  bool IsOut(const Deadline& deadline) const;
  void DropAnswered();

  std::unordered_map<std::uint16_t, Slot> slots_;
  std::deque<Deadline> deadlines_;
  std::uint16_t next_ = 0;
  std::uint64_t serial_ = 0;
};

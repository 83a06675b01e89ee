#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <unordered_map>
#include <vector>

// When each gateway is due for its next probe, by address: a heap on the due time, so that
// finding what is due costs in proportion to what is due, not to the fleet. The gateways it
// knows come from walks of the registry; a gateway that leaves between two walks is
// forgotten when its turn comes and the registry no longer has it. Times are monotonic
// milliseconds given by the caller.
class ProbeSchedule {
 public:
  // A walk: BeginWalk, Seen for each live gateway, EndWalk; a gateway not seen is dropped.
  void BeginWalk() { ++walk_; }
  // A live gateway that would be due at due by its own record. One not known yet is put on
  // the schedule at due; one known keeps the earlier of its turn and due, so that a new
  // record at a known address (never probed: due at once) is not held to the old turn.
  void Seen(std::uint32_t address, std::int64_t due);
  void EndWalk();

  // When the first gateway is due; none with none known.
  std::optional<std::int64_t> NextDue();
  // Takes the first gateway off the schedule if it is due by now. The caller puts it back
  // (Put) or drops it (Forget) before anything else is asked of the schedule.
  std::optional<std::uint32_t> PopDue(std::int64_t now);
  void Put(std::uint32_t address, std::int64_t due);
  void Forget(std::uint32_t address) { known_.erase(address); }

  std::size_t Size() const { return known_.size(); }

 private:
  struct Known {
    std::int64_t due;
    std::uint64_t turn;  // the heap entry that stands for this gateway
    std::uint64_t walk;  // the last walk that saw it
  };
  struct Entry {
    std::int64_t due;
    std::uint64_t turn;
    std::uint32_t address;
    bool operator>(const Entry& other) const { return due != other.due ? due > other.due : turn > other.turn; }
  };

  void Push(std::uint32_t address, Known& known, std::int64_t due);
  // Pops heap entries that no longer stand for a known gateway.
  void DropStale();

  std::unordered_map<std::uint32_t, Known> known_;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap_;
  std::uint64_t turns_ = 0;
  std::uint64_t walk_ = 0;
};

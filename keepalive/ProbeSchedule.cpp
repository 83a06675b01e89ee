#include "keepalive/ProbeSchedule.h"

#include <iterator>

void ProbeSchedule::Seen(std::uint32_t address, std::int64_t due) {
  const auto [found, added] = known_.try_emplace(address, Known{due, 0, walk_});
  Known& known = found->second;
  known.walk = walk_;
  if (added || due < known.due) Push(address, known, due);
}

void ProbeSchedule::EndWalk() {
  for (auto it = known_.begin(); it != known_.end();) it = it->second.walk == walk_ ? std::next(it) : known_.erase(it);
}

std::optional<std::int64_t> ProbeSchedule::NextDue() {
  DropStale();
  if (heap_.empty()) return std::nullopt;
  return heap_.top().due;
}

std::optional<std::uint32_t> ProbeSchedule::PopDue(std::int64_t now) {
  DropStale();
  if (heap_.empty() || heap_.top().due > now) return std::nullopt;
  const std::uint32_t address = heap_.top().address;
  heap_.pop();
  return address;
}

void ProbeSchedule::Put(std::uint32_t address, std::int64_t due) {
  const auto found = known_.find(address);
  if (found != known_.end()) Push(address, found->second, due);
}

void ProbeSchedule::Push(std::uint32_t address, Known& known, std::int64_t due) {
  known.due = due;
  known.turn = ++turns_;
  heap_.push(Entry{due, known.turn, address});
}

void ProbeSchedule::DropStale() {
  while (!heap_.empty()) {
    const Entry& top = heap_.top();
    const auto found = known_.find(top.address);
    if (found != known_.end() && found->second.turn == top.turn) return;
    heap_.pop();
  }
}

#include "keepalive/ProbeTable.h"

std::optional<std::uint16_t> ProbeTable::Start(std::uint32_t address, std::int64_t now) {
  if (slots_.size() == kNumbers) return std::nullopt;
  while (slots_.contains(next_)) ++next_;
  const std::uint16_t sequence = next_++;
  slots_.emplace(sequence, Slot{address, ++serial_});
  deadlines_.push_back(Deadline{now + kAnswerWindowMs, sequence, serial_});
  return sequence;
}

void ProbeTable::Cancel(std::uint16_t sequence) { slots_.erase(sequence); }

std::optional<std::uint32_t> ProbeTable::Answer(std::uint16_t sequence) {
  const auto found = slots_.find(sequence);
  if (found == slots_.end()) return std::nullopt;
  const std::uint32_t address = found->second.address;
  slots_.erase(found);
  return address;
}

void ProbeTable::Expire(std::int64_t now, std::vector<std::uint32_t>& out) {
  for (DropAnswered(); !deadlines_.empty() && deadlines_.front().at <= now; DropAnswered()) {
    out.push_back(*Answer(deadlines_.front().sequence));
    deadlines_.pop_front();
  }
}

std::optional<std::int64_t> ProbeTable::NextDeadline() {
  DropAnswered();
  if (deadlines_.empty()) return std::nullopt;
  return deadlines_.front().at;
}

void ProbeTable::TakeAll(std::vector<std::uint32_t>& out) {
  for (const Deadline& deadline : deadlines_) {
    if (IsOut(deadline)) out.push_back(*Answer(deadline.sequence));
  }
  deadlines_.clear();
}

bool ProbeTable::IsOut(const Deadline& deadline) const {
  const auto found = slots_.find(deadline.sequence);
  return found != slots_.end() && found->second.serial == deadline.serial;
}

void ProbeTable::DropAnswered() {
  while (!deadlines_.empty() && !IsOut(deadlines_.front())) deadlines_.pop_front();
}

#include "gwsim/ControlCommands.h"

#include <algorithm>
#include <charconv>
#include <functional>

#include "gwsim/Endpoint.h"
#include "gwsim/GatewaySimulator.h"

namespace gwsim {

namespace {

constexpr std::string_view kEnd = ".\n";
constexpr std::string_view kHelp =
    "rules [ADDR:PORT]\n"
    "stats [ADDR:PORT]\n"
    "set [ADDR:PORT] word TEXT...\n"
    "set [ADDR:PORT] status N\n"
    "set [ADDR:PORT] delay MS\n"
    "set [ADDR:PORT] chunked on|off\n"
    "set [ADDR:PORT] fault none|refuse|close|garbage|silent|trickle|endless\n"
    "set [ADDR:PORT] fault raw BYTES... (escapes \\r \\n \\t \\\\ \\xHH)\n";

// Splits off the first word of text (leading spaces skipped).
std::string_view NextWord(std::string_view& text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const std::size_t end = std::min(text.find(' '), text.size());
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  if (!text.empty()) text.remove_prefix(1);  // one space: a word or raw bytes may begin with more
  return word;
}

std::string Label(const GatewaySimulator& gateway) {
  return Endpoint{gateway.Address(), gateway.Port()}.Text();
}

std::string Error(std::string_view why) { return "error: " + std::string(why) + "\n" + std::string(kEnd); }

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> Unescape(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case 'r': bytes += '\r'; break;
      case 'n': bytes += '\n'; break;
      case 't': bytes += '\t'; break;
      case '\\': bytes += '\\'; break;
      case 'x': {
        unsigned value = 0;
        const std::string_view digits = text.substr(i + 1, 2);
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (digits.size() != 2 || error != std::errc() || end != digits.data() + 2) return std::nullopt;
        bytes += static_cast<char>(value);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return bytes;
}

std::string ControlCommands::RulesText() const {
  std::vector<std::string> lines;
  for (const GatewaySimulator* gateway : gateways_)
    for (const std::string& rule : gateway->Rules()) lines.push_back(Label(*gateway) + " " + rule + "\n");
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

std::string ControlCommands::Run(std::string_view line) const {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  std::string_view rest = line;
  const std::string_view command = NextWord(rest);
  if (command.empty()) return std::string(kEnd);
  if (command == "help") return std::string(kHelp) + std::string(kEnd);
  if (command != "rules" && command != "stats" && command != "set") return Error("unknown command; try help");

  // An ADDR:PORT word names one gateway.
  std::vector<GatewaySimulator*> targets = gateways_;
  std::string_view afterTarget = rest;
  const std::string_view first = NextWord(afterTarget);
  if (const auto endpoint = ParseEndpoint(first)) {
    const auto found = std::find_if(gateways_.begin(), gateways_.end(),
                                    [&](const GatewaySimulator* gateway) { return Label(*gateway) == endpoint->Text(); });
    if (found == gateways_.end()) return Error("no gateway " + std::string(first));
    targets = {*found};
    rest = afterTarget;
  }

  if (command == "set") return Set(targets, rest);
  if (!NextWord(rest).empty()) return Error("usage: " + std::string(command) + " [ADDR:PORT]");
  if (command == "rules") return ControlCommands(targets).RulesText() + std::string(kEnd);
  std::string reply;
  for (const GatewaySimulator* gateway : targets) {
    const Statistics stats = gateway->Stats();
    reply += Label(*gateway) + " connections=" + std::to_string(stats.connections) +
             " requests=" + std::to_string(stats.requests) + " applied=" + std::to_string(stats.applied) +
             " rejected=" + std::to_string(stats.rejected) + " errors=" + std::to_string(stats.errors) +
             " rules=" + std::to_string(gateway->Rules().size()) + "\n";
  }
  return reply + std::string(kEnd);
}

std::string ControlCommands::Set(const std::vector<GatewaySimulator*>& targets, std::string_view what) const {
  const std::string_view setting = NextWord(what);
  // Every gateway gets its own behaviour with this one setting changed.
  std::function<void(Behaviour&)> change;
  if (setting == "word") {
    change = [word = std::string(what)](Behaviour& b) { b.word = word; };
  } else if (setting == "status") {
    const auto status = ParseNumber<int>(what);
    if (!status || *status < 100 || *status > 999) return Error("usage: set [ADDR:PORT] status 100..999");
    change = [status = *status](Behaviour& b) { b.status = status; };
  } else if (setting == "delay") {
    const auto delay = ParseNumber<unsigned>(what);
    if (!delay) return Error("usage: set [ADDR:PORT] delay MS");
    change = [delay = *delay](Behaviour& b) { b.delay = std::chrono::milliseconds(delay); };
  } else if (setting == "chunked") {
    if (what != "on" && what != "off") return Error("usage: set [ADDR:PORT] chunked on|off");
    change = [on = what == "on"](Behaviour& b) { b.chunked = on; };
  } else if (setting == "fault") {
    const std::string_view kind = NextWord(what);
    static const std::pair<std::string_view, Fault> kFaults[] = {
        {"none", Fault::kNone},     {"refuse", Fault::kRefuse}, {"close", Fault::kCloseMidAnswer},
        {"garbage", Fault::kGarbage}, {"silent", Fault::kSilent}, {"raw", Fault::kRaw},
        {"trickle", Fault::kTrickle}, {"endless", Fault::kEndless}};
    const auto found = std::find_if(std::begin(kFaults), std::end(kFaults), [&](const auto& f) { return f.first == kind; });
    if (found == std::end(kFaults))
      return Error("usage: set [ADDR:PORT] fault none|refuse|close|garbage|silent|trickle|endless|raw BYTES");
    std::string raw;
    if (found->second == Fault::kRaw) {
      const auto bytes = Unescape(what);
      if (!bytes || bytes->empty()) return Error("usage: set [ADDR:PORT] fault raw BYTES (escapes \\r \\n \\t \\\\ \\xHH)");
      raw = *bytes;
    } else if (!what.empty()) {
      return Error("usage: set [ADDR:PORT] fault " + std::string(kind));
    }
    change = [fault = found->second, raw](Behaviour& b) { b.fault = fault; b.raw = raw; };
  } else {
    return Error("usage: set [ADDR:PORT] word|status|delay|chunked|fault VALUE");
  }
  for (GatewaySimulator* gateway : targets) {
    Behaviour behaviour = gateway->GetBehaviour();
    change(behaviour);
    gateway->SetBehaviour(behaviour);
  }
  return "ok\n" + std::string(kEnd);
}

}  // namespace gwsim

#include "request/AclData.h"

#include <cstddef>
#include <string_view>

#include "support/DigitParse.h"

namespace {

// A protocol goes on the line by name or by number; anything else a gateway would refuse.
bool KnownProtocol(const std::string& protocol) {
  for (std::string_view name : {"tcp", "udp", "icmp", "esp", "ospf", "gre"}) {
    if (protocol == name) return true;
  }
  // The number at the very start of the text (no blank skipped), 0 when there is none.
  const bool negative = protocol[0] == '-';  // an empty text holds its terminating zero
  std::size_t at = negative || protocol[0] == '+' ? 1 : 0;
  int number = 0;
  for (; at < protocol.size() && IsDecimalDigit(protocol[at]); ++at) {
    number = number * 10 + (protocol[at] - '0');
    if (number > 255) return false;  // no longer in range, however it goes on
  }
  return !negative || number == 0;
}

void AppendElement(std::string& text, std::string_view keyword, const std::string& value) {
  if (value.empty()) return;
  text += ' ';
  text += keyword;
  text += ' ';
  text += value;
}

}  // namespace

std::int32_t CAclData::MakeAcl() {
  text.clear();
  // Room for the whole line at once: a reset makes thousands of them.
  text.reserve(48 + name.size() + in.size() + out.size() + protocol.size() + source.size() + destination.size() +
               sport.size() + dport.size() + sourceMac.size());
  switch (opcode) {
    case kAdd:
      text = "add";
      break;
    case kInsert:
      text = "insert";
      break;
    case kDelete:
      text = "delete";
      break;
    case kModify:
      text = "modify";
      break;
    default:
      return -1;
  }
  if (name.empty()) name = "Velnor";
  text += " access-list ";
  text += name;
  if (action == kAccept) {
    text += " accept";
  } else if (action == kDrop) {
    text += " drop";
  } else {
    return -1;
  }
  AppendElement(text, "in", in);
  AppendElement(text, "out", out);
  if (KnownProtocol(protocol)) AppendElement(text, "protocol", protocol);
  AppendElement(text, "source", source);
  AppendElement(text, "destination", destination);
  AppendElement(text, "sport", sport);
  AppendElement(text, "dport", dport);
  AppendElement(text, "source-mac", sourceMac);
  if (log != 0) text += " log";
  return 0;
}

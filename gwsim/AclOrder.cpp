#include "gwsim/AclOrder.h"

#include <algorithm>
#include <map>

namespace gwsim {

namespace {

// "add|delete access-list NAME REST" into order.
bool ParseAclLine(std::string_view line, AclOrder& order) {
  if (std::any_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
    return false;
  if (line.empty() || line.front() == ' ' || line.back() == ' ' || line.find("  ") != std::string_view::npos)
    return false;
  const std::size_t verbEnd = line.find(' ');
  const std::string_view verb = line.substr(0, verbEnd);
  if (verb == "add") {
    order.kind = AclOrder::kAdd;
  } else if (verb == "delete") {
    order.kind = AclOrder::kDelete;
  } else {
    return false;
  }
  constexpr std::string_view kKeyword = "access-list ";
  line.remove_prefix(std::min(line.size(), verbEnd + 1));
  if (!line.starts_with(kKeyword)) return false;
  line.remove_prefix(kKeyword.size());
  const std::size_t nameEnd = line.find(' ');
  if (nameEnd == std::string_view::npos) return false;
  order.list = line.substr(0, nameEnd);
  order.rule = line.substr(nameEnd + 1);
  const std::string_view action = std::string_view(order.rule).substr(0, order.rule.find(' '));
  return action == "accept" || action == "drop";
}

}  // namespace

std::optional<std::string_view> ListOfClass(std::string_view classWord) {
  if (classWord == "client") return "pc";
  if (classWord == "quarantine") return "nac";
  return std::nullopt;
}

std::optional<AclOrder> ParseAclOrder(std::string_view body) {
  std::map<std::string_view, std::string_view> fields;
  while (!body.empty()) {
    const std::size_t equals = body.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = body.substr(0, equals);
    body.remove_prefix(equals + 1);
    // The ACL line may hold any byte, '&' included: it is the last field.
    const std::size_t end = name == "acl" ? body.size() : std::min(body.find('&'), body.size());
    if (!fields.emplace(name, body.substr(0, end)).second) return std::nullopt;
    body.remove_prefix(end == body.size() ? end : end + 1);
  }
  const auto field = [&fields](std::string_view name) -> std::optional<std::string_view> {
    const auto found = fields.find(name);
    if (found == fields.end()) return std::nullopt;
    return found->second;
  };
  const auto list = ListOfClass(field("class").value_or(""));
  const auto opcode = field("opcode");
  const auto count = field("count");
  const auto acl = field("acl");
  if (field("version") != "1" || !list || !opcode || !count) return std::nullopt;

  AclOrder order;
  if (*opcode == "reset") {
    if (*count != "0" || acl || fields.size() != 4) return std::nullopt;
    order.list = *list;
    return order;
  }
  if (*opcode != "set" || *count != "1" || !acl || fields.size() != 5) return std::nullopt;
  if (!ParseAclLine(*acl, order) || order.list != *list) return std::nullopt;
  return order;
}

}  // namespace gwsim

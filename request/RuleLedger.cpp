#include "request/RuleLedger.h"

#include <string_view>

namespace {

// The value of a form field up to the next '&' (acl runs to the end of the body).
std::string_view Field(std::string_view body, std::string_view name, bool toEnd = false) {
  std::size_t at = 0;
  while (at < body.size()) {
    const std::size_t end = toEnd && body.substr(at).starts_with(name) ? body.size() : body.find('&', at);
    const std::string_view field = body.substr(at, end == std::string_view::npos ? body.npos : end - at);
    if (field.starts_with(name) && field.size() > name.size() && field[name.size()] == '=') {
      return field.substr(name.size() + 1);
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return {};
}

}  // namespace

void ApplyRequestBody(RuleSet& rules, const std::string& body) {
  const std::string_view requestClass = Field(body, "class");
  const std::string_view opcode = Field(body, "opcode");
  if (opcode == "reset") {
    const std::string_view list = requestClass == "client" ? "pc " : requestClass == "quarantine" ? "nac " : "";
    if (!list.empty()) rules.EraseStartingWith(list);
    return;
  }
  if (opcode != "set") return;
  const std::string_view acl = Field(body, "acl", true);
  for (std::string_view verb : {"add access-list ", "delete access-list "}) {
    if (!acl.starts_with(verb)) continue;
    const std::string_view rule = acl.substr(verb.size());
    if (verb[0] == 'a') {
      rules.Insert(std::string(rule));
    } else {
      rules.Erase(rule);
    }
  }
}

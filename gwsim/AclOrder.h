#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace gwsim {

// What one request body asks of a gateway: clear a list, or add or delete one rule in it.
struct AclOrder {
  enum Kind { kReset, kAdd, kDelete } kind = kReset;
  std::string list;
  std::string rule;  // kAdd, kDelete: the line after the list name, "accept protocol tcp ..."

  bool operator==(const AclOrder&) const = default;
};

// The list a request class owns: "client" owns "pc", "quarantine" owns "nac".
std::optional<std::string_view> ListOfClass(std::string_view classWord);

// Reads a form-style body "version=1&class=client&opcode=set&count=1&acl=add access-list pc
// accept ...". The acl value runs to the end of the body and is taken as it is, not
// URL-decoded. None when the body is not understood: a missing, repeated or unknown field,
// a version other than 1, a count that does not fit the opcode, a rule for a list its class
// does not own, or an ACL line that is not "add|delete access-list NAME accept|drop ..."
// with single spaces and no control bytes.
std::optional<AclOrder> ParseAclOrder(std::string_view body);

}  // namespace gwsim

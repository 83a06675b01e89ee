#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "gwsim/AclOrder.h"

namespace gwsim {

// A gateway's access lists: each list a set of rules, so adding a rule twice keeps one and
// deleting one that is not there changes nothing. Not thread-safe; its owner locks.
class RuleStore {
 public:
  void Apply(const AclOrder& order);
  // Every rule as "NAME RULE", sorted.
  std::vector<std::string> Rules() const;
  std::size_t Count() const;

 private:
  std::map<std::string, std::set<std::string>> lists_;
};

}  // namespace gwsim

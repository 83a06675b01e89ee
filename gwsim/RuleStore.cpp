#include "gwsim/RuleStore.h"

#include <algorithm>

namespace gwsim {

void RuleStore::Apply(const AclOrder& order) {
  switch (order.kind) {
    case AclOrder::kReset:
      lists_.erase(order.list);
      break;
    case AclOrder::kAdd:
      lists_[order.list].insert(order.rule);
      break;
    case AclOrder::kDelete: {
      const auto list = lists_.find(order.list);
      if (list == lists_.end()) break;
      list->second.erase(order.rule);
      if (list->second.empty()) lists_.erase(list);
      break;
    }
  }
}

std::vector<std::string> RuleStore::Rules() const {
  std::vector<std::string> rules;
  rules.reserve(Count());
  for (const auto& [name, list] : lists_)
    for (const std::string& rule : list) rules.push_back(name + " " + rule);
  std::sort(rules.begin(), rules.end());
  return rules;
}

std::size_t RuleStore::Count() const {
  std::size_t count = 0;
  for (const auto& entry : lists_) count += entry.second.size();
  return count;
}

}  // namespace gwsim

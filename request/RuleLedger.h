#pragma once

#include <set>
#include <string>

// The rules a gateway holds, as it keeps them: one set of lines ("pc accept ...",
// "nac drop ..."), changed by each request body it takes. A reset empties the list of its
// class (client: "pc", quarantine: "nac"); an add puts its line in the set, a delete takes
// it out. A body that is no such order changes nothing.
using RuleSet = std::set<std::string>;

void ApplyRequestBody(RuleSet& rules, const std::string& body);

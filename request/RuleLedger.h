#pragma once

#include <string>

#include "request/RuleSet.h"

// The rules a gateway holds, changed by each request body it takes. A reset empties the
// list of its class (client: "pc", quarantine: "nac"); an add puts its line in the set, a
// delete takes it out. A body that is no such order changes nothing.

void ApplyRequestBody(RuleSet& rules, const std::string& body);

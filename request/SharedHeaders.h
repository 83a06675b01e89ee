#pragma once

#include <memory>
#include <string>

#include "request/HttpData.h"

// The one copy of these header parts that requests alive now share; made when none is.
// Callable from any thread.
std::shared_ptr<const HeaderParts> SharedHeaderParts(std::string head, std::string tail);

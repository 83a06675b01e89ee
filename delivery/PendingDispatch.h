#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "request/HttpDataList.h"

// One walk of the pending request list: offers a copy of each request, oldest first, to
// place, and removes the request when place took the copy. A gateway takes its requests in
// the order they were made, so once one of its requests stays pending, its later ones stay
// too, even if a sender comes free within the walk (its reset placed after its first rules
// would wipe them). Holds the list's lock for the whole walk; stops when end is set.
void DispatchPending(CHttpDataList& pending, const std::atomic<int>& end,
                     const std::function<bool(std::unique_ptr<CHttpData>&)>& place);

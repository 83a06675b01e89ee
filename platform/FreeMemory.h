#pragma once

namespace platform {

// Hands the heap's free pages back to the system, so that a burst that once needed much
// memory does not keep it for the rest of the run.
void ReturnFreeMemory();

}  // namespace platform

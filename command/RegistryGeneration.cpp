#include "command/RegistryGeneration.h"

#include <atomic>

namespace {

std::atomic<std::uint64_t> generation{0};

}  // namespace

std::uint64_t RegistryGeneration() { return generation.load(std::memory_order_acquire); }

void RegistriesChanged() { generation.fetch_add(1, std::memory_order_acq_rel); }

#pragma once

#include <cstdint>

// A count that moves after every change of a registry: a command's positive result, or the
// loads at start. What is computed from the registries alone may be kept while it stands
// still; read it before reading the registries. Callable from any thread.
std::uint64_t RegistryGeneration();
void RegistriesChanged();

#pragma once

#include <cstdio>
#include <cstdlib>

// The benches build their registries from values that are valid by construction: a refusal
// means the bench itself is wrong, and it stops rather than measure something else.
inline void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "a bench fixture was refused: %s\n", what);
  std::exit(1);
}

// The harnesses' check: a broken invariant stops the run with its name, and
// libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

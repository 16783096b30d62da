#include "support/step_until.h"

#include <gtest/gtest.h>

namespace testsupport {

int stepUntil(const char* what, const std::function<bool()>& done,
              const std::function<void()>& step, int limit) {
  for (int steps = 0; steps < limit; ++steps) {
    if (done()) return steps;
    step();
  }
  if (!done()) ADD_FAILURE() << "still waiting for " << what << " after " << limit << " steps";
  return limit;
}

}  // namespace testsupport

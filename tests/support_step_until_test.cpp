// The bounded wait every frame loop of the tests goes through.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "support/step_until.h"

namespace {

using testsupport::stepUntil;

TEST(StepUntil, CountsTheStepsUntilTheConditionHolds) {
  int n = 0;
  EXPECT_EQ(stepUntil(
                "n to reach 3", [&] { return n == 3; }, [&] { ++n; }),
            3);
  EXPECT_EQ(stepUntil(
                "n to be 3", [&] { return n == 3; }, [&] { ++n; }),
            0);
}

TEST(StepUntil, FailsWithAMessageOnceTheLimitPasses) {
  int n = 0;
  EXPECT_NONFATAL_FAILURE(stepUntil(
                              "a frame that never comes", [] { return false; }, [&] { ++n; }, 5),
                          "still waiting for a frame that never comes after 5 steps");
  EXPECT_EQ(n, 5);
}

TEST(StepUntil, AConditionMetByTheLastStepPasses) {
  int n = 0;
  EXPECT_EQ(stepUntil(
                "n to reach 5", [&] { return n == 5; }, [&] { ++n; }, 5),
            5);
}

}  // namespace

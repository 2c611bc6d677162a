#include <gtest/gtest.h>

#include "vmk_testing.h"

TEST(Smoke, StartsEmpty) {
  vmktest::reset();
  EXPECT_TRUE(vmktest::live().allZero()) << vmktest::live().describe();
}

#include <gtest/gtest.h>

#include "fw_engine.h"

TEST(FwEngine, Builds) {
  adapter::Engine fw(adapter::EngineConfig{});
  EXPECT_TRUE(fw.hasHandler(1, 58));
}

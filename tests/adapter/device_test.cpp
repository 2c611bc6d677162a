#include <gtest/gtest.h>

#include "adapter.h"

TEST(Device, Builds) {
  adapter::Adapter a(adapter::AdapterConfig{});
  EXPECT_EQ(a.functionCount(), 2u);
}

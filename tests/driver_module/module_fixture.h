// Common fixture of the driver module tests: a clean stand-in kernel before,
// nothing left alive after.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tamsil.h"
#include "vmk_testing.h"

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The kernel runs its own threads (interrupts, timers, worlds): death
    // tests re-execute the binary instead of forking a threaded process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    vmktest::reset();
    ASSERT_TRUE(vmktest::live().allZero()) << vmktest::live().describe();
  }
  void TearDown() override {
    vmktest::clearFailures();
    EXPECT_TRUE(vmktest::live().allZero()) << "left alive: " << vmktest::live().describe();
  }
  // Lines whose text contains `needle`.
  static std::vector<vmktest::LogLine> linesWith(const std::string& needle) {
    std::vector<vmktest::LogLine> out;
    for (auto& l : vmktest::logLines())
      if (l.text.find(needle) != std::string::npos) out.push_back(l);
    return out;
  }
};

// A test that needs the module loaded.
class LoadedModuleTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_EQ(0, vmktest::loadModule(init_module, options()));
  }
  void TearDown() override {
    vmktest::unloadModule(cleanup_module);
    KernelTest::TearDown();
  }
  virtual std::string options() { return ""; }
};

// Common fixture of the driver module tests: a clean stand-in kernel before,
// nothing left alive after.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "kernel_fixture.h"
#include "tamsil.h"
#include "vmk_testing.h"

// The stand-in's own fixture (a clean kernel before, nothing alive after),
// with the log look-up the module tests use.
class KernelTest : public StandinTest {
 protected:
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

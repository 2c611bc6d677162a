// Fixture of the stand-in's own tests: a clean kernel before, nothing alive after.
#pragma once

#include <gtest/gtest.h>

#include "vmk_testing.h"

class StandinTest : public ::testing::Test {
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
    vmktest::setClockRate(1);
    EXPECT_TRUE(vmktest::live().allZero()) << "left alive: " << vmktest::live().describe();
    vmktest::DmaFaults f = vmktest::dmaFaults();
    EXPECT_EQ(0u, f.unmappedWrites) << "a device wrote to unmapped bus address 0x" << std::hex << f.firstWriteAddr;
  }
  // A pool and heap most tests need.
  void makePoolAndHeap(vmk_MemPool* pool, vmk_HeapID* heap, vmk_ByteCount max = 1 << 20) {
    vmk_MemPoolProps pp{};
    vmk_NameInitialize(&pp.name, "test");
    pp.memPoolType = VMK_MEM_POOL_LEAF;
    pp.reservation = 16;
    pp.limit = 64;
    ASSERT_EQ(VMK_OK, vmk_MemPoolCreate(&pp, pool));
    vmk_HeapCreateProps hp{};
    hp.type = VMK_HEAP_TYPE_MEMPOOL;
    vmk_NameInitialize(&hp.name, "test");
    hp.initial = max / 2;
    hp.max = max;
    hp.memPool = *pool;
    ASSERT_EQ(VMK_OK, vmk_HeapCreate(&hp, heap));
  }
};

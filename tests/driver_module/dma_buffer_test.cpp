// Memory from the module pool: plain blocks and DMA buffers.
#include <cstring>
#include <ostream>

#include "module_fixture.h"

namespace {

constexpr vmk_IOA k4GB = 0x100000000ull;

class DmaBufferTest : public LoadedModuleTest {
 protected:
  void SetUp() override {
    LoadedModuleTest::SetUp();
    vmk_uint64 got = 0;
    adapter = (Adapter*)tamsil_mpoolAlloc(sizeof(Adapter), &got);
    ASSERT_NE(nullptr, adapter);
    adapterSize = got;
    snprintf(adapter->pci_name, sizeof adapter->pci_name, "0000:005:00.1");
    adapter->debug_mask = TAMSIL_DBG_DRIVER;
    makeEngine(VMK_ADDRESS_MASK_32BIT);
  }
  void TearDown() override {
    if (adapter) {
      if (adapter->dma_engine) {
        EXPECT_EQ(VMK_OK, vmk_DMAEngineDestroy(adapter->dma_engine));
      }
      tamsil_mpoolFree(adapter, adapterSize);
    }
    LoadedModuleTest::TearDown();
  }
  void makeEngine(vmk_IOA mask) {
    if (adapter->dma_engine) {
      ASSERT_EQ(VMK_OK, vmk_DMAEngineDestroy(adapter->dma_engine));
    }
    vmk_DMAConstraints c{};
    c.addressMask = mask;
    vmk_DMAEngineProps p{};
    vmk_NameInitialize(&p.name, "tamsil");
    p.module = tamsilDriver.module_id;
    p.flags = 1;
    p.constraints = &c;
    ASSERT_EQ(VMK_OK, vmk_DMAEngineCreate(&p, &adapter->dma_engine));
  }
  static bool allZero(const void* p, size_t n) {
    auto* b = (const uint8_t*)p;
    for (size_t i = 0; i < n; i++)
      if (b[i]) return false;
    return true;
  }
  Adapter* adapter = nullptr;
  vmk_uint64 adapterSize = 0;
};

TEST_F(DmaBufferTest, PlainBlocksAreZeroedWholePages) {
  EXPECT_EQ(((sizeof(Adapter) + 4095) / 4096) * 4096, adapterSize);
  vmk_uint64 got = 0;
  void* p = tamsil_mpoolAlloc(10000, &got);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(12288u, got);
  EXPECT_TRUE(allZero(p, got)) << "pool memory must be zeroed";
  vmktest::PoolInfo pool;
  ASSERT_TRUE(vmktest::poolInfo("tamsil", &pool));
  EXPECT_EQ(adapterSize / 4096 + 3, pool.pagesInUse);
  tamsil_mpoolFree(p, got);
  ASSERT_TRUE(vmktest::poolInfo("tamsil", &pool));
  EXPECT_EQ(adapterSize / 4096, pool.pagesInUse);
}

TEST_F(DmaBufferTest, FreeWithTheRequestedSizeReturnsEveryPage) {
  // A caller may hand back the size it asked for rather than the rounded one.
  vmk_uint64 got = 0;
  void* p = tamsil_mpoolAlloc(5000, &got);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(8192u, got);
  tamsil_mpoolFree(p, 5000);
  vmktest::PoolInfo pool;
  ASSERT_TRUE(vmktest::poolInfo("tamsil", &pool));
  EXPECT_EQ(adapterSize / 4096, pool.pagesInUse);
  EXPECT_EQ(0u, vmktest::logCount("vmk_MemPoolFree failed"));
}

TEST_F(DmaBufferTest, SizesRoundToWholePages) {
  struct {
    vmk_uint32 asked, size;
  } rows[] = {{1, 4096}, {4096, 4096}, {4097, 8192}, {272, 4096}, {23252, 24576}};
  for (auto r : rows) {
    SCOPED_TRACE(r.asked);
    DmaBuffer buf;
    memset(&buf, 0x5A, sizeof buf);
    void* va = tamsil_mpoolAllocMap(adapter, &buf, r.asked);
    ASSERT_NE(nullptr, va);
    EXPECT_EQ(va, buf.va);
    EXPECT_EQ(r.size, buf.size);
    EXPECT_TRUE(allZero(va, buf.size));
    vmk_IOA bus = tamsil_dmaBusAddr(&buf);
    EXPECT_EQ(r.size, buf.sg_array->elem[0].length);
    EXPECT_LT(bus + r.size - 1, k4GB);
    EXPECT_TRUE(vmktest::dmaMapped(bus, r.size));
    // The device sees the same memory the driver writes.
    memset(va, 0x3C, 16);
    uint8_t seen[16];
    ASSERT_TRUE(vmktest::host()->dmaRead(bus, seen, sizeof seen));
    EXPECT_EQ(0x3C, seen[15]);
    tamsil_mpoolUnmapFree(adapter, &buf);
    EXPECT_EQ(nullptr, buf.va);
    EXPECT_FALSE(vmktest::dmaMapped(bus, 1));
    EXPECT_FALSE(vmktest::host()->dmaRead(bus, seen, 1));
  }
  EXPECT_EQ(0, vmktest::live().dmaMappings);
  EXPECT_EQ(0, vmktest::live().sgArrays);
  EXPECT_EQ(0, vmktest::live().sgHandles);
}

TEST_F(DmaBufferTest, AllocationLogLineWithTheDriverBit) {
  DmaBuffer buf;
  ASSERT_NE(nullptr, tamsil_mpoolAllocMap(adapter, &buf, 1));
  auto lines = linesWith("allocated dma buffer");
  ASSERT_EQ(1u, lines.size());
  char expect[160];
  snprintf(expect, sizeof expect, "[0000:005:00.1] allocated dma buffer %p, size=1, elements=1, MA0=%lx, size0=1000\n",
           buf.va, (unsigned long)tamsil_dmaBusAddr(&buf));
  EXPECT_NE(std::string::npos, lines[0].text.find(expect)) << lines[0].text;
  EXPECT_EQ(3, lines[0].level);
  tamsil_mpoolUnmapFree(adapter, &buf);
}

TEST_F(DmaBufferTest, Below4GBUnlessThe64BitEngineWasAccepted) {
  // 64-bit engine but the feature bit not set: still below 4 GB.
  makeEngine(VMK_ADDRESS_MASK_64BIT);
  DmaBuffer buf;
  ASSERT_NE(nullptr, tamsil_mpoolAllocMap(adapter, &buf, 4096));
  EXPECT_LT(tamsil_dmaBusAddr(&buf), k4GB);
  tamsil_mpoolUnmapFree(adapter, &buf);

  // With the feature bit the pages may lie anywhere (the stand-in puts them high).
  adapter->features |= TAMSIL_FEAT_DMA64;
  ASSERT_NE(nullptr, tamsil_mpoolAllocMap(adapter, &buf, 4096));
  EXPECT_GE(tamsil_dmaBusAddr(&buf), k4GB);
  tamsil_mpoolUnmapFree(adapter, &buf);
}

TEST_F(DmaBufferTest, A32BitEngineRefusesMemoryAbove4GB) {
  // The feature bit claims 64-bit DMA, but the engine is 32-bit: the mapping
  // fails and nothing is left behind.
  adapter->features |= TAMSIL_FEAT_DMA64;
  DmaBuffer buf;
  EXPECT_EQ(nullptr, tamsil_mpoolAllocMap(adapter, &buf, 4096));
  EXPECT_EQ(1u, vmktest::logCount("to IO address, address beyond the engine's address mask.\n"));
}

// A failure at each step of the allocation: the Part's line, the undo of the
// steps before, a clear descriptor.
struct DmaStepCase {
  const char* failing;
  const char* message;
};

const DmaStepCase kDmaSteps[] = {
    {"vmk_MemPoolAlloc", "] vmk_MemPoolAlloc failed: Failure\n"},
    {"vmk_Map", "] vmk_Map failed: Failure\n"},
    {"vmk_SgCreateOpsHandle", "] vmk_SgCreateOpsHandle failed: Failure\n"},
    {"vmk_SgAllocWithInit", "] vmk_SgAllocWithInit failed: Failure\n"},
    {"vmk_DMAMapSg", " size 300 to IO address, injected failure.\n"},
};

void PrintTo(const DmaStepCase& c, std::ostream* os) { *os << c.failing; }

class DmaStepFailure : public DmaBufferTest, public ::testing::WithParamInterface<DmaStepCase> {};

TEST_P(DmaStepFailure, UndoesTheStepsBeforeAndClearsTheDescriptor) {
  vmktest::Live before = vmktest::live();
  vmktest::PoolInfo poolBefore;
  ASSERT_TRUE(vmktest::poolInfo("tamsil", &poolBefore));

  vmktest::failCall(GetParam().failing, 1);
  DmaBuffer buf;
  memset(&buf, 0x5A, sizeof buf);
  EXPECT_EQ(nullptr, tamsil_mpoolAllocMap(adapter, &buf, 300));

  auto err = linesWith(GetParam().message);
  ASSERT_EQ(1u, err.size());
  EXPECT_EQ(0u, err[0].text.find("tamsil: tamsil_mpoolAllocMap:"));
  EXPECT_NE(std::string::npos, err[0].text.find("[0000:005:00.1]"));
  EXPECT_EQ(VMK_LOG_URGENCY_ALERT, err[0].urgency);
  EXPECT_EQ(1u, vmktest::logCount("[0000:005:00.1] Unable to allocate DMA buffer!\n"));

  vmktest::Live after = vmktest::live();
  EXPECT_EQ(before.describe(), after.describe());
  vmktest::PoolInfo poolAfter;
  ASSERT_TRUE(vmktest::poolInfo("tamsil", &poolAfter));
  EXPECT_EQ(poolBefore.pagesInUse, poolAfter.pagesInUse);

  // A failed buffer carries no address to free again.
  EXPECT_EQ(nullptr, buf.va);
  EXPECT_EQ(nullptr, buf.sg_array);
  EXPECT_EQ(0u, buf.size);
  tamsil_mpoolUnmapFree(adapter, &buf);
  EXPECT_EQ(before.describe(), vmktest::live().describe());
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DmaStepFailure, ::testing::ValuesIn(kDmaSteps),
                         [](const ::testing::TestParamInfo<DmaStepCase>& info) { return info.param.failing; });

TEST_F(DmaBufferTest, FailureLineWithoutTheDriverBitStillLogsTheError) {
  adapter->debug_mask = 0;
  vmktest::failCall("vmk_Map", 1);
  DmaBuffer buf;
  EXPECT_EQ(nullptr, tamsil_mpoolAllocMap(adapter, &buf, 1));
  EXPECT_EQ(1u, vmktest::logCount("vmk_Map failed: Failure"));
  EXPECT_EQ(0u, vmktest::logCount("Unable to allocate DMA buffer!"));
}

TEST_F(DmaBufferTest, PlainBlockFailures) {
  vmk_uint64 got = 77;
  vmktest::failCall("vmk_MemPoolAlloc", 1);
  EXPECT_EQ(nullptr, tamsil_mpoolAlloc(100, &got));
  EXPECT_EQ(1u, vmktest::logCount(": vmk_MemPoolAlloc failed: Failure\n"));
  vmktest::failCall("vmk_Map", 1);
  EXPECT_EQ(nullptr, tamsil_mpoolAlloc(100, &got));
  EXPECT_EQ(1u, vmktest::logCount(": vmk_Map failed: Failure\n"));
  EXPECT_EQ(77u, got);
  vmktest::PoolInfo pool;
  ASSERT_TRUE(vmktest::poolInfo("tamsil", &pool));
  EXPECT_EQ(adapterSize / 4096, pool.pagesInUse);
}

TEST_F(DmaBufferTest, FreeOfAnUnknownAddressKeepsThePages) {
  // Without a machine address the block cannot be named: nothing is returned.
  vmk_uint64 got = 0;
  void* p = tamsil_mpoolAlloc(4096, &got);
  ASSERT_NE(nullptr, p);
  vmktest::failCall("vmk_VA2MA", 1);
  tamsil_mpoolFree(p, got);
  EXPECT_EQ(1u, vmktest::logCount(": vmk_VA2MA failed: Failure\n"));
  EXPECT_EQ(0u, vmktest::callCount("vmk_MemPoolFree"));
  tamsil_mpoolFree(p, got);  // the block is still whole and can go back
  EXPECT_EQ(1u, vmktest::callCount("vmk_MemPoolFree"));
}

}  // namespace

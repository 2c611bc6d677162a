// The Adapter test bed other driver tests build on.
#include "adapter_bed.h"

#include "fake_function.h"
#include "module_fixture.h"

namespace {

TEST_F(KernelTest, AdapterBedBuildsAndReturnsEverything) {
  FakeFunction fn(0x1C4E, 0x3b10);
  AdapterBed bed;
  ASSERT_TRUE(bed.setUp(&fn));
  Adapter* a = bed.adapter;
  EXPECT_STREQ("0000:005:00.1", a->pci_name);
  EXPECT_EQ(0x3b10, a->pci_id.device_id);
  EXPECT_EQ(TAMSIL_ASIC_KS3, a->AsicGeneration);
  EXPECT_EQ(0x30u, vmk_BitVectorGetWord(a->flags, 0));
  EXPECT_TRUE(a->features & TAMSIL_FEAT_DMA64);
  ASSERT_NE(nullptr, a->csr_va);
  ASSERT_NE(nullptr, a->pcicfg_va);  // BAR 0 on KS3
  EXPECT_EQ(nullptr, a->db_va);      // the fake offers no BAR 4
  EXPECT_EQ(2, a->csr_bar.bar);
  EXPECT_EQ(0x4u, fn.configRead(4, 2) & 0x4);  // bus mastering

  vmk_MMIOWrite32((vmk_VA)a->csr_va + 0x138, 0xFFFFFFFF);
  auto log = fn.accesses();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ(2u, log[0].bar);
  EXPECT_EQ(0x138u, log[0].offset);

  DmaBuffer buf;
  ASSERT_NE(nullptr, tamsil_mpoolAllocMap(a, &buf, 288));
  uint32_t word = 0x11223344;
  ASSERT_TRUE(fn.host()->dmaWrite(tamsil_dmaBusAddr(&buf) + 256, &word, 4));
  EXPECT_EQ(0x11223344u, *(uint32_t*)((char*)buf.va + 256));
  tamsil_mpoolUnmapFree(a, &buf);

  bed.tearDown();
}

TEST_F(KernelTest, AdapterBedWithThe32BitEngine) {
  FakeFunction fn(0x1E7B, 0x5c20);
  AdapterBed bed;
  ASSERT_TRUE(bed.setUp(&fn, "debugMask=0x10", true));
  EXPECT_EQ(TAMSIL_ASIC_PIVARD, bed.adapter->asic_gen);
  EXPECT_NE(nullptr, bed.adapter->db_va);  // Pivard: doorbells in BAR 0 only
  EXPECT_EQ(nullptr, bed.adapter->csr_va);
  EXPECT_EQ(0x10u, bed.adapter->debug_mask);
  DmaBuffer buf;
  ASSERT_NE(nullptr, tamsil_mpoolAllocMap(bed.adapter, &buf, 4096));
  EXPECT_LT(tamsil_dmaBusAddr(&buf), 0x100000000ull);
  tamsil_mpoolUnmapFree(bed.adapter, &buf);
  bed.tearDown();
}

}  // namespace

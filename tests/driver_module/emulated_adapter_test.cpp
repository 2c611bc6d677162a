// The stand-in kernel with the emulated adapter behind the bus: the Adapter
// test bed on every generation, register reads through the BAR windows, and a
// bootstrap mailbox command whose work request and completion cross the bus
// by DMA.
#include <cstring>

#include "adapter.h"
#include "adapter_bed.h"
#include "module_fixture.h"

namespace {

struct GenCase {
  adapter::Gen gen;
  vmk_uint32 asicGen;
  bool csr;
};

void PrintTo(const GenCase& c, std::ostream* os) { *os << adapter::genName(c.gen); }

class EmulatedAdapter : public KernelTest, public ::testing::WithParamInterface<GenCase> {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    adapter::AdapterConfig cfg;
    cfg.fw.gen = GetParam().gen;
    cfg.mode = adapter::Mode::Sync;   // the tests walk the doorbell protocol step by step
    card = std::make_unique<adapter::Adapter>(cfg);
    ASSERT_TRUE(bed.setUp(card->function(0), "debugMask=0"));
  }
  void TearDown() override {
    bed.tearDown();
    card.reset();
    KernelTest::TearDown();
  }
  std::unique_ptr<adapter::Adapter> card;
  AdapterBed bed;
};

TEST_P(EmulatedAdapter, IdentityAndRegistersThroughTheStandin) {
  Adapter* a = bed.adapter;
  EXPECT_EQ(GetParam().asicGen, a->asic_gen);
  EXPECT_EQ(adapter::defaultDeviceId(GetParam().gen), a->pci_id.device_id);
  EXPECT_STREQ("0000:003:00.0", a->pci_name);
  ASSERT_NE(nullptr, a->db_va);
  EXPECT_EQ(GetParam().csr, a->csr_va != nullptr);
  if (GetParam().csr) {
    EXPECT_EQ(0xC000u, vmk_MMIORead32((vmk_VA)a->csr_va + 0xAC) & 0xFFFF);  // POST done
  } else {
    EXPECT_NE(0u, vmk_MMIORead32((vmk_VA)a->db_va + 0x404) & (1u << 23));   // Pivard ready
  }
  EXPECT_NE(0u, card->configWord(0, 4) & 0x4);  // bus mastering on
}

TEST_P(EmulatedAdapter, MailboxCommandCrossesTheBusByDma) {
  Adapter* a = bed.adapter;
  DmaBuffer mbox;
  ASSERT_NE(nullptr, tamsil_mpoolAllocMap(a, &mbox, TAMSIL_MBOX_ALLOC_SIZE));
  static const uint8_t kFwInit[8] = {0xFF, 0x12, 0x34, 0xFF, 0xFF, 0x56, 0x78, 0xFF};
  memcpy(mbox.va, kFwInit, sizeof kFwInit);
  vmk_IOA addr = tamsil_dmaBusAddr(&mbox);
  vmk_VA db = (vmk_VA)a->db_va + 0x160;
  ASSERT_NE(0u, vmk_MMIORead32(db) & 1);
  vmk_MMIOWrite32(db, (vmk_uint32)(((addr >> 32) & ~3ull) | 2));
  ASSERT_NE(0u, vmk_MMIORead32(db) & 1);
  vmk_MMIOWrite32(db, (vmk_uint32)((addr >> 4) << 2));
  ASSERT_NE(0u, vmk_MMIORead32(db) & 1);
  uint32_t flags = 0;
  memcpy(&flags, (uint8_t*)mbox.va + 256 + 12, 4);
  EXPECT_NE(0u, flags & 0x80000000u) << "the completion reached host memory";
  uint16_t status = 0xFFFF;
  memcpy(&status, (uint8_t*)mbox.va + 256, 2);
  EXPECT_EQ(0, status);
  EXPECT_EQ(1u, card->counters(0).mailbox_commands);
  EXPECT_EQ(0u, card->counters(0).dropped_dma);
  tamsil_mpoolUnmapFree(a, &mbox);
}

INSTANTIATE_TEST_SUITE_P(EveryGeneration, EmulatedAdapter,
                         ::testing::Values(GenCase{adapter::Gen::KS2, TAMSIL_ASIC_KS2, true},
                                           GenCase{adapter::Gen::KS3, TAMSIL_ASIC_KS3, true},
                                           GenCase{adapter::Gen::Pivard, TAMSIL_ASIC_PIVARD, false},
                                           GenCase{adapter::Gen::Veskarn, TAMSIL_ASIC_VESKARN, true}),
                         [](const ::testing::TestParamInfo<GenCase>& info) {
                           return std::string(adapter::genName(info.param.gen));
                         });

}  // namespace

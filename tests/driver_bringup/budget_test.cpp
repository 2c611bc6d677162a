// The queue budget and the RSS decisions, over generation, module
// parameters, host CPUs and what the firmware reports.
#include "bringup_fixture.h"

namespace {

struct BudgetCase {
  const char* name;
  adapter::Gen gen;
  const char* options;
  uint32_t hostQueues;       // queues the kernel exposes per direction
  uint16_t txqs, rxqs, evtqs, rssqs;
  uint32_t capFlags;
  uint8_t functionMode;
  VMK_ReturnStatus attach;
  vmk_int32 rss, drss;       // what the adapter runs with
  vmk_uint32 total;          // NetQueues + RSS + DRSS rings (max_rx_qs)
  const char* message;
};

constexpr uint32_t kCaps = 0x1BB4 | 0x1000000;

const BudgetCase kBudget[] = {
    {"VeskarnDefaults", adapter::Gen::Veskarn, "", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 4, 4, 16, ""},
    {"PivardDefaults", adapter::Gen::Pivard, "", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 4, 4, 16, ""},
    {"Ks3DropsDrss", adapter::Gen::KS3, "", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 4, 0, 12,
     "on KS3, RSS cannot be supported along  with DRSS. Disabling DRSS.!"},
    // NetQueues gave up four rings to RSS and take back what is left, up to 8.
    {"Ks3DrssFirstDropsRss", adapter::Gen::KS3, "DRSS=2", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 0, 2, 10,
     "on KS3, RSS cannot be supported along  with DRSS. Disabling RSS.!"},
    {"MsixOff", adapter::Gen::Veskarn, "msix=0", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 0, 0, 8,
     "RSS cannot be supported when msix is disabled."},
    {"NotEnabledByUser", adapter::Gen::Veskarn, "RSS=0 DRSS=0", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 0, 0, 8,
     "RSS/DRSS is not enabled by user."},
    {"NoRssFlag", adapter::Gen::Veskarn, "", 16, 16, 17, 32, 16, 0x1BB0, 1, VMK_OK, 0, 0, 8,
     "RSS is not supported on this interface."},
    {"FewRssQueues", adapter::Gen::Veskarn, "", 16, 16, 17, 32, 2, kCaps, 1, VMK_OK, 0, 0, 8,
     "RSS is not supported on this interface."},
    {"FewCpus", adapter::Gen::Veskarn, "", 6, 16, 17, 32, 16, kCaps, 1, VMK_OK, 0, 0, 6,
     "RSS cannot be supported as the host does not have minimum required CPUs."},
    {"FewFirmwareQueues", adapter::Gen::Veskarn, "", 16, 6, 17, 32, 16, kCaps, 1, VMK_OK, 0, 0, 6,
     "RSS cannot be supported as sufficient Firmware resources are not available"},
    {"RssOneMeansFour", adapter::Gen::Veskarn, "RSS=1 DRSS=0", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 4, 0, 12, ""},
    // A small budget: the NetQueues keep the four they were granted.
    {"RssSmallBudget", adapter::Gen::Veskarn, "RSS=1 DRSS=0", 8, 16, 17, 32, 16, kCaps, 1, VMK_OK, 4, 0, 8, ""},
    {"RssReduced", adapter::Gen::Veskarn, "RSS=30", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 12, 0, 16,
     "Reducing RSS Queues to 12 due to insufficient availability of resources"},
    {"NoFirmwareQueues", adapter::Gen::Veskarn, "", 16, 0, 17, 32, 16, kCaps, 1, VMK_FAILURE, 0, 0, 0,
     "Firmware specified insufficient number of queues"},
    {"Ks3MultiChannel", adapter::Gen::KS3, "", 16, 16, 17, 32, 16, kCaps, 2, VMK_OK, 4, 0, 8,
     "on KS3, RSS cannot be supported along  with DRSS. Disabling DRSS.!"},
    {"Ks3WithVfs", adapter::Gen::KS3, "max_vfs=4", 16, 16, 17, 32, 16, kCaps, 1, VMK_OK, 0, 0, 1,
     "RSS cannot be supported on this interface as VFs are created"},
    // More than the per-vector arrays hold: the budget stops at 32.
    {"ClampedToArrays", adapter::Gen::Veskarn, "RSS=24 DRSS=24", 64, 64, 64, 64, 64, kCaps, 1, VMK_OK, 24, 4, 32,
     "Reducing DRSS Queues to 4"},
};

class BudgetTest : public BringupTest, public ::testing::WithParamInterface<BudgetCase> {
 protected:
  std::string options() override { return GetParam().options; }
};

TEST_P(BudgetTest, SharesTheBudget) {
  const BudgetCase& c = GetParam();
  vmktest::setHostQueueLimit(c.hostQueues);
  adapter::AdapterConfig cfg;
  cfg.fw.gen = c.gen;
  cfg.fw.txqs = c.txqs;
  cfg.fw.rxqs = c.rxqs;
  cfg.fw.evtqs = c.evtqs;
  cfg.fw.rssqs = c.rssqs;
  cfg.fw.nic_cap_flags = c.capFlags;
  cfg.fw.function_mode = c.functionMode;
  cfg.fw.functions = 1;
  adapter::Adapter& card = newCard(cfg);
  vmk_Device dev = plug(card);
  ASSERT_EQ(c.attach, vmktest::attachDevice(dev)) << c.name;
  if (c.message[0]) { EXPECT_GE(logged(c.message), 1u) << c.name; }
  if (c.attach != VMK_OK) {
    EXPECT_EQ(0u, card.engine().countLive());
    return;
  }
  Adapter* a = adapterOf(dev);
  EXPECT_EQ(c.rss, a->rss) << c.name;
  EXPECT_EQ(c.drss, a->drss) << c.name;
  EXPECT_EQ(c.total, a->res.max_rx_qs) << c.name;
  EXPECT_EQ(c.rss != 0, (a->features & TAMSIL_FEAT_RSS) != 0) << c.name;
  EXPECT_EQ(c.drss != 0, (a->features & TAMSIL_FEAT_DRSS) != 0) << c.name;
  EXPECT_LE(a->nic_vectors, (vmk_uint32)TAMSIL_MAX_VECTORS);
  EXPECT_LE(a->num_vectors, (vmk_uint32)TAMSIL_MAX_VECTORS);
  // The first RSS ring keeps ring 0 a NetQueue ring with its own interface.
  EXPECT_GE((vmk_int64)a->num_vectors - a->res.max_rss_qs - a->res.max_drss_qs, 1);
  EXPECT_TRUE(a->rxo[0].if_created);
  if (c.gen == adapter::Gen::KS2) { EXPECT_EQ(1u, a->res.max_tx_qs); }
}

INSTANTIATE_TEST_SUITE_P(Table, BudgetTest, ::testing::ValuesIn(kBudget),
                         [](const ::testing::TestParamInfo<BudgetCase>& i) { return std::string(i.param.name); });

TEST(QueueCount, GrantsWantedThenWhatIsLeft) {
  struct Row {
    vmk_int32 avail;
    vmk_uint16 wanted, minimum;
    vmk_uint16 grant;
    vmk_int32 left;
  };
  const Row rows[] = {
      {16, 0, 0, 0, 16}, {16, 8, 0, 8, 8}, {8, 8, 2, 8, 0}, {6, 8, 2, 6, 0}, {1, 4, 2, 0, 1}, {0, 4, 0, 0, 0},
  };
  static Adapter a;
  for (const Row& r : rows) {
    vmk_int32 avail = r.avail;
    EXPECT_EQ(r.grant, tamsil_getQCount(&a, &avail, r.wanted, r.minimum, "RSS")) << r.avail << "/" << r.wanted;
    EXPECT_EQ(r.left, avail) << r.avail << "/" << r.wanted;
  }
}

}  // namespace

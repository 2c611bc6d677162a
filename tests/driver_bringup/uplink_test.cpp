// The uplink's answers to the kernel: capability switches, coalescing,
// wake-on-LAN, pause, cable type, and the shared data the kernel reads.
#include <cstring>
#include <string>
#include <vector>

#include "bringup_fixture.h"
#include "tamsil_netq.h"

namespace {

class UplinkTest : public BringupTest {
 protected:
  void attachAndAssociate(adapter::Gen g, const std::string& opts = "") {
    if (!opts.empty()) {
      vmktest::unloadModule(cleanup_module);
      ASSERT_EQ(0, vmktest::loadModule(init_module, opts));
    }
    card_ = &newCard(g);
    dev_ = plug(*card_);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev_));
    ASSERT_EQ(VMK_OK, vmktest::scanDevice(dev_));
    a_ = adapterOf(dev_);
    child_ = vmktest::childDevices(dev_).at(0);
    ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(regDataOf(child_), "vmnic1", &uplink_));
    cookie_.ptr = a_;
  }
  void TearDown() override {
    if (uplink_ != nullptr) {
      vmktest::uplinkDisassociate(regDataOf(child_), uplink_);
      vmktest::removeDevice(child_);
    }
    BringupTest::TearDown();
  }
  adapter::Adapter* card_ = nullptr;
  vmk_Device dev_ = nullptr, child_ = nullptr;
  Adapter* a_ = nullptr;
  vmk_Uplink uplink_ = nullptr;
  vmk_AddrCookie cookie_;
};

TEST_F(UplinkTest, CapabilitySwitches) {
  attachAndAssociate(adapter::Gen::Veskarn);
  const vmk_UplinkRegData* reg = regDataOf(child_);
  struct Row {
    vmk_uint32 cap;
    VMK_ReturnStatus enable, disable;
  };
  const Row fixed[] = {
      {1, VMK_OK, VMK_OK},        {12, VMK_OK, VMK_OK},       {7, VMK_OK, VMK_FAILURE},
      {21, VMK_OK, VMK_FAILURE},  {30, VMK_OK, VMK_FAILURE},  {2, VMK_FAILURE, VMK_OK},
      {32, VMK_FAILURE, VMK_OK},  {0, VMK_FAILURE, VMK_FAILURE}, {33, VMK_FAILURE, VMK_FAILURE},
  };
  for (const Row& r : fixed) {
    EXPECT_EQ(r.enable, reg->ops.uplinkCapEnable(reg->driverData, r.cap)) << r.cap;
    EXPECT_EQ(r.disable, reg->ops.uplinkCapDisable(reg->driverData, r.cap)) << r.cap;
  }
  EXPECT_EQ(2u, logged("Unknown Uplink Capability 0x0"));
  // Wake-on-LAN, SR-IOV and VXLAN follow what the adapter has.
  a_->wol_cap = 0x80;
  EXPECT_EQ(VMK_OK, reg->ops.uplinkCapEnable(reg->driverData, 19));
  EXPECT_EQ(VMK_FAILURE, reg->ops.uplinkCapDisable(reg->driverData, 19));
  a_->wol_cap = 0;
  EXPECT_EQ(VMK_FAILURE, reg->ops.uplinkCapEnable(reg->driverData, 19));
  EXPECT_EQ(VMK_OK, reg->ops.uplinkCapDisable(reg->driverData, 19));
  EXPECT_EQ(a_->num_vfs ? VMK_OK : VMK_FAILURE, reg->ops.uplinkCapEnable(reg->driverData, 24));
  EXPECT_EQ((a_->features & TAMSIL_FEAT_VXLAN_OFFLOAD) ? VMK_OK : VMK_FAILURE,
            reg->ops.uplinkCapEnable(reg->driverData, 25));
  // The reset of an uplink whose I/O never started does nothing (the
  // reset itself: tests/driver_dp/reset_test.cpp).
  EXPECT_EQ(VMK_OK, reg->ops.uplinkReset(reg->driverData));
  EXPECT_EQ(0u, a_->reset_count);
  EXPECT_EQ(VMK_OK, reg->ops.uplinkMTUSet(reg->driverData, 9000));
  EXPECT_EQ(9000u, a_->shared_data.mtu);
  EXPECT_EQ(VMK_OK, reg->ops.uplinkStateSet(reg->driverData, 7));
  EXPECT_EQ(7u, a_->shared_data.state);
}

TEST_F(UplinkTest, CoalescingSetsEveryVector) {
  attachAndAssociate(adapter::Gen::Veskarn);
  auto* ops = static_cast<const vmk_UplinkCoalesceParamsOps*>(vmktest::uplinkCapOps(uplink_, 17));
  ASSERT_NE(nullptr, ops);
  struct Row {
    vmk_uint32 txUsecs;
    vmk_uint8 adaptive;
    vmk_uint32 fixed;
  };
  const Row rows[] = {{0, 1, 0}, {1, 1, 0}, {2, 0, 2}, {96, 0, 96}, {500, 0, 128}};
  for (const Row& r : rows) {
    vmk_UplinkCoalesceParams p = {10, 20, r.txUsecs, 40};
    const auto versionBefore = a_->shared_data.lockedCount;
    ASSERT_EQ(VMK_OK, ops->setParams(cookie_, &p));
    // One write of the shared data: the first counter moves on by one and
    // the second catches up with it.
    EXPECT_EQ(versionBefore + 1, a_->shared_data.lockedCount) << r.txUsecs;
    EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount) << r.txUsecs;
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      EXPECT_EQ(r.adaptive, a_->eq_delay[i].adaptive) << r.txUsecs << " vector " << i;
      EXPECT_EQ(r.fixed, a_->eq_delay[i].static_eqd) << r.txUsecs << " vector " << i;
    }
    vmk_UplinkCoalesceParams copy;
    memcpy(&copy, a_->uplink_qdata[a_->queue_info.maxRxQueues].coalesceParams, sizeof copy);
    EXPECT_EQ(r.txUsecs, copy.txUsecs);
  }
  EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);
  a_->eq_delay[0].cur_eqd = 48;
  vmk_UplinkCoalesceParams got = {1, 2, 3, 4};
  ASSERT_EQ(VMK_OK, ops->getParams(cookie_, &got));
  EXPECT_EQ(48u, got.rxUsecs);
  EXPECT_EQ(48u, got.txUsecs);
  EXPECT_EQ(0u, got.rxMaxFrames);
}

TEST_F(UplinkTest, WakeOnLanAndPause) {
  attachAndAssociate(adapter::Gen::Veskarn);
  vmk_UplinkWolState w;
  a_->wol_cap = 0x80;
  a_->wol_enabled = 0;
  w.enabled = VMK_UPLINK_WOL_MAGIC;
  EXPECT_EQ(VMK_OK, tamsil_linkWOLSet(cookie_, &w));
  EXPECT_EQ(1, a_->wol_enabled);
  ASSERT_EQ(VMK_OK, tamsil_linkWOLGet(cookie_, &w));
  EXPECT_EQ((vmk_uint32)VMK_UPLINK_WOL_MAGIC, w.supported);
  EXPECT_EQ((vmk_uint32)VMK_UPLINK_WOL_MAGIC, w.enabled);
  w.enabled = 0x1;
  EXPECT_EQ(VMK_NOT_SUPPORTED, tamsil_linkWOLSet(cookie_, &w));
  a_->wol_cap = 0;
  w.enabled = VMK_UPLINK_WOL_MAGIC;
  EXPECT_EQ(VMK_NOT_SUPPORTED, tamsil_linkWOLSet(cookie_, &w));
  ASSERT_EQ(VMK_OK, tamsil_linkWOLGet(cookie_, &w));
  EXPECT_EQ(0u, w.supported);

  // Auto-negotiation of pause: off on PHY types 1, 3 and 10, on elsewhere.
  struct Row {
    vmk_uint16 phy;
    vmk_uint8 autoneg;
    VMK_ReturnStatus expect;
  };
  const Row rows[] = {{1, 1, VMK_NOT_SUPPORTED}, {3, 0, VMK_OK},  {10, 1, VMK_NOT_SUPPORTED},
                      {10, 0, VMK_OK},           {7, 0, VMK_NOT_SUPPORTED}, {7, 1, VMK_OK}};
  for (const Row& r : rows) {
    a_->link.phy_if_type = r.phy;
    vmk_UplinkPauseParams p = {r.autoneg, 1, 0};
    EXPECT_EQ(r.expect, tamsil_pauseParamSet(cookie_, p)) << r.phy << "/" << (int)r.autoneg;
  }
  a_->link.phy_if_type = 7;
  vmk_UplinkPauseParams p = {1, 0, 1};
  ASSERT_EQ(VMK_OK, tamsil_pauseParamSet(cookie_, p));
  vmk_UplinkPauseParams got = {9, 9, 9};
  ASSERT_EQ(VMK_OK, tamsil_pauseParamGet(cookie_, &got));
  EXPECT_EQ(1, got.autoneg);
  EXPECT_EQ(0, got.rxPauseEnabled);
  EXPECT_EQ(1, got.txPauseEnabled);
}

TEST_F(UplinkTest, LinkPublication) {
  attachAndAssociate(adapter::Gen::Veskarn);
  struct Row {
    const char* name;
    bool forceDown, fwUp, ioQuiesced, noReport, associated;
    vmk_uint16 fwSpeed;
    vmk_uint32 state, speed, duplex;
    bool reported;   // else left pending for the worker or vector 0
  };
  const Row rows[] = {
      {"Up", false, true, false, false, true, 10000, 1, 10000, 2, true},
      {"UpWhileQuiesced", false, true, true, false, true, 10000, 0, 10000, 2, true},
      {"FirmwareDown", false, false, false, false, true, 0, 0, 0, 1, true},
      {"ForcedDown", true, true, false, false, true, 10000, 0, 0, 1, true},
      {"NoReportAsked", false, true, false, true, true, 1000, 1, 1000, 2, false},
      {"NoUplinkYet", false, true, false, false, false, 1000, 1, 1000, 2, false},
  };
  const vmk_Uplink uplink = a_->uplink;
  for (const Row& r : rows) {
    a_->link.link_up = r.fwUp;
    a_->link.link_speed = r.fwSpeed;
    if (r.ioQuiesced)
      vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_IO_QUIESCED);
    else
      vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_IO_QUIESCED);
    vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_LINK_UPDATE);
    a_->uplink = r.associated ? uplink : nullptr;
    const unsigned reports = vmktest::uplinkLinkReports(uplink);
    const auto version = a_->shared_data.lockedCount;
    tamsil_updateUplinkLinkStatus(a_, r.forceDown, r.noReport);
    a_->uplink = uplink;
    EXPECT_EQ(r.state, a_->shared_data.link.state) << r.name;
    EXPECT_EQ(r.speed, a_->shared_data.link.speed) << r.name;
    EXPECT_EQ(r.duplex, a_->shared_data.link.duplex) << r.name;
    EXPECT_EQ(r.state, a_->link.reported_link) << r.name;
    EXPECT_EQ(r.speed, a_->link.reported_speed) << r.name;
    EXPECT_EQ(version + 1, a_->shared_data.lockedCount) << r.name;
    EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount) << r.name;
    EXPECT_EQ(r.reported ? reports + 1 : reports, vmktest::uplinkLinkReports(uplink)) << r.name;
    EXPECT_EQ(!r.reported, vmk_BitVectorTest(a_->flags, TAMSIL_FLAG_LINK_UPDATE)) << r.name;
    if (r.reported) { EXPECT_EQ(r.state, vmktest::uplinkLinkState(uplink).state) << r.name; }
  }
  vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_IO_QUIESCED);
  vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_LINK_UPDATE);
}

// A recovery re-initialisation rebuilds the uplink data over the NetPolls and
// the writer lock it already has; only the interrupt cookies are refreshed.
TEST_F(UplinkTest, RecoveryKeepsNetPollsAndWriterLock) {
  attachAndAssociate(adapter::Gen::Veskarn);
  const vmk_uint32 n = a_->num_vectors;
  ASSERT_GT(n, 1u);
  vmk_NetPoll before[TAMSIL_MAX_VECTORS];
  for (vmk_uint32 i = 0; i < n; i++) before[i] = a_->netpoll[i].netpoll;
  const vmk_Lock lock = a_->shared_data.lock;
  const long netpolls = vmktest::netLive().netpolls;
  vmk_IntrCookie saved[TAMSIL_MAX_VECTORS];
  for (vmk_uint32 i = 0; i < n; i++) {
    saved[i] = a_->intr_cookie[i];
    a_->intr_cookie[i] = 1000 + i;
  }
  vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_TPE_REINIT);
  EXPECT_EQ(VMK_OK, tamsil_createUplinkData(a_));
  vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_TPE_REINIT);
  EXPECT_EQ(lock, a_->shared_data.lock);
  EXPECT_EQ(netpolls, vmktest::netLive().netpolls);
  for (vmk_uint32 i = 0; i < n; i++) {
    EXPECT_EQ(before[i], a_->netpoll[i].netpoll) << i;
    EXPECT_EQ(1000 + i, a_->netpoll[i].intr_cookie) << i;
    a_->intr_cookie[i] = saved[i];
  }
}

// Supported link modes by PHY interface type and speed capabilities, with
// the auto-negotiation entry when the port's speed code asks for it.
TEST_F(BringupTest, SupportedLinkModes) {
  struct Row {
    const char* name;
    adapter::Gen gen;
    uint16_t phyIfType, caps, caps2, speedCode;
    std::vector<vmk_uint32> speeds;   // 0: the auto-negotiation entry
  };
  const Row rows[] = {
      {"Type10Auto", adapter::Gen::Veskarn, 10, 0x0C, 0x0C, 0, {1000, 10000, 0}},
      {"Type1Fixed", adapter::Gen::Veskarn, 1, 0x04, 0x20, 2, {1000, 40000}},
      {"Type6", adapter::Gen::KS3, 6, 0x0E, 0x00, 1, {1000, 10000, 100}},
      {"Type7AutoCode5", adapter::Gen::Pivard, 7, 0x07, 0x00, 5, {1000, 100, 10, 0}},
      {"Type12Code136", adapter::Gen::Veskarn, 12, 0x00, 0x1C, 136, {1000, 10000, 20000}},
      {"Type0Unconditional", adapter::Gen::Veskarn, 0, 0x00, 0x00, 14, {1000, 10000}},
      {"Type4AutoCode15", adapter::Gen::Veskarn, 4, 0x0C, 0x00, 15, {1000, 10000, 0}},
      {"Ks2KeepsNone", adapter::Gen::KS2, 10, 0x0C, 0x0C, 0, {}},
  };
  for (const Row& r : rows) {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = r.gen;
    cfg.fw.functions = 1;
    cfg.fw.phy_if_type = (uint8_t)r.phyIfType;
    cfg.fw.speed_caps = r.caps;
    cfg.fw.speed_caps2 = r.caps2;
    adapter::Adapter& card = newCard(cfg);
    {
      std::lock_guard<std::mutex> g(card.lock());
      card.engine().port(card.engine().portOfFunction(0)).port_speed_code = r.speedCode;
    }
    vmk_Device dev = plug(card);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev)) << r.name;
    Adapter* a = adapterOf(dev);
    std::vector<vmk_uint32> got;
    for (vmk_uint32 i = 0; i < a->num_supported_modes; i++) {
      got.push_back(a->supported_modes[i].speed);
      EXPECT_EQ(a->supported_modes[i].speed ? 2u : 0xFFFFFFFFu, a->supported_modes[i].duplex) << r.name << " " << i;
    }
    EXPECT_EQ(r.speeds, got) << r.name;
    EXPECT_EQ(a->num_supported_modes, a->shared_data.supportedModesArraySz) << r.name;
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev)) << r.name;
    unplug(dev);
  }
}

TEST(CableType, FollowsPhyTypeAndFlags) {
  struct Row {
    vmk_uint16 type;
    vmk_uint8 flags;
    vmk_uint8 cable;
    vmk_uint8 fixed;
  };
  const Row rows[] = {{1, 0, 3, 1},   {2, 0, 3, 1},    {3, 0x4, 5, 1}, {3, 0, 3, 1},   {6, 0, 0, 1},
                      {9, 0, 0, 1},   {10, 0x8, 5, 1}, {10, 0, 3, 1},  {0, 0, 0xFF, 1}, {4, 0, 0xFF, 0},
                      {5, 0, 0xFF, 0}, {11, 0, 0xFF, 0}, {12, 0, 0xFF, 0}, {13, 0, 0xFF, 1}};
  static Adapter a;
  for (const Row& r : rows) {
    a.link.phy_if_type = r.type;
    a.link.phy_flags = r.flags;
    tamsil_cmdUpdatePhyInfo(&a);
    EXPECT_EQ(r.cable, a.link.cable_type) << r.type;
    EXPECT_EQ(r.fixed, a.link.fixed_link) << r.type;
  }
}

TEST_F(UplinkTest, QueueRecordsAndRssNetPolls) {
  attachAndAssociate(adapter::Gen::Veskarn);
  ASSERT_TRUE(a_->features & TAMSIL_FEAT_RSS);
  const vmk_uint32 R = a_->num_vectors, nRss = a_->res.max_rss_qs, nDrss = a_->res.max_drss_qs;
  const vmk_uint32 M = a_->queue_info.maxRxQueues;
  EXPECT_EQ(R + 1 - nRss - nDrss, M);
  EXPECT_EQ(0u, a_->uplink_qdata[0].supportedFeatures);
  EXPECT_EQ((vmk_uint32)a_->res.uc_mac, a_->uplink_qdata[0].maxFilters);
  EXPECT_EQ(0x4u, a_->uplink_qdata[M - 1].supportedFeatures & 0x4u);   // the leading RSS ring
  EXPECT_EQ(0u, a_->uplink_qdata[1].supportedFeatures & 0x4u);
  EXPECT_EQ(2u, a_->uplink_qdata[M].type);
  EXPECT_EQ(0u, a_->uplink_qdata[M].supportedFeatures);
  EXPECT_EQ(0x2u, a_->uplink_qdata[M + 1].supportedFeatures);
  // Every ring finds its record: receive ring i record i, transmit queue q
  // record M + q.
  for (vmk_uint32 i = 0; i < M; i++) EXPECT_EQ(&a_->uplink_qdata[i], a_->rxo[i].qdata) << i;
  for (vmk_uint32 q = 0; q < a_->queue_info.maxTxQueues; q++)
    EXPECT_EQ(&a_->uplink_qdata[M + q], a_->txo[q].qdata) << q;
  // DRSS rings, then the secondary RSS rings, are registered with the uplink.
  auto names = vmktest::uplinkNetPollNames(uplink_);
  EXPECT_EQ(nDrss + nRss - 1, names.size());
  EXPECT_EQ("-" + std::to_string(R - nDrss), names.front());
  EXPECT_EQ("-" + std::to_string(M + nRss - 2), names.back());
  EXPECT_EQ((long)R, vmktest::netLive().netpolls);
}

/* ------------------------------------------------------------------------ */
/* Capabilities registered at associate                                      */
/* ------------------------------------------------------------------------ */

struct CapCase {
  const char* name;
  adapter::Gen gen;
  const char* options;
  bool msix, wol, sriov, vxlan;   // what the adapter came up with
};

const CapCase kCaps[] = {
    {"VeskarnVxlan", adapter::Gen::Veskarn, "", true, true, false, true},
    {"VeskarnIntx", adapter::Gen::Veskarn, "msix=0", false, true, false, false},
    {"VeskarnVfs", adapter::Gen::Veskarn, "max_vfs=4", true, true, true, false},
    {"Ks3", adapter::Gen::KS3, "", true, true, false, false},
};

class CapOrderTest : public UplinkTest, public ::testing::WithParamInterface<CapCase> {};

TEST_P(CapOrderTest, RegisteredInOrderWithTheirConditions) {
  const CapCase& c = GetParam();
  attachAndAssociate(c.gen, c.options);
  ASSERT_EQ(c.msix, a_->msix_enabled != 0) << c.name;
  ASSERT_EQ(c.wol, (a_->wol_cap & 0x80) != 0) << c.name;
  ASSERT_EQ(c.sriov, a_->num_vfs != 0) << c.name;
  ASSERT_EQ(c.vxlan, (a_->features & TAMSIL_FEAT_VXLAN_OFFLOAD) != 0) << c.name;
  std::vector<uint32_t> want = {1, 3, 4, 9, 5, 10, 8, 7, 17};
  if (c.msix) want.push_back(21);
  want.insert(want.end(), {14, 15});
  if (c.wol) want.push_back(19);
  want.push_back(20);
  if (c.sriov) want.push_back(24);
  if (c.vxlan) want.push_back(25);
  want.insert(want.end(), {12, 30});
  EXPECT_EQ(want, vmktest::uplinkCapabilities(uplink_)) << c.name;
  EXPECT_EQ(c.msix ? 0u : 1u,
            logged("Skipping register of VMK_UPLINK_CAP_MULTI_QUEUE as device does not have msix enabled"))
      << c.name;
  // The multi-queue table is the driver's own (its operations are tested in
  // tests/driver_dp/netq_*; netdump (20) in tx_test.cpp; private statistics
  // (14) in stats_test.cpp).
  EXPECT_EQ(c.msix ? static_cast<const void*>(&tamsilQueueOps) : nullptr, vmktest::uplinkCapOps(uplink_, 21));
}

INSTANTIATE_TEST_SUITE_P(Table, CapOrderTest, ::testing::ValuesIn(kCaps),
                         [](const ::testing::TestParamInfo<CapCase>& i) { return std::string(i.param.name); });

}  // namespace

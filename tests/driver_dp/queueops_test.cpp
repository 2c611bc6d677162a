// The driver's own queue operations: default queues, allocation limits, the
// bulk transmit start and stop, RSS and DRSS tables, VLAN promiscuous mode,
// the Pivard interface filters and the MAC filter table.
#include <cstring>

#include "dp_fixture.h"
#include "tamsil_cmds.h"

namespace {

constexpr uint8_t kRxfFilter = 34, kPmacAdd = 59;

TEST_F(DpTest, DefaultQueuesAreAllocatedAtSetUp) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    associate(g);
    const vmk_uint32 M = a_->queue_info.maxRxQueues, T = a_->queue_info.maxTxQueues;
    ASSERT_GT(M, 0u);
    ASSERT_GT(T, 0u);
    EXPECT_EQ(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, 0), a_->queue_info.defaultRxQueueID);
    EXPECT_EQ(TAMSIL_QDATA_ALLOCATED | TAMSIL_QDATA_DEFAULT, a_->uplink_qdata[0].flags);
    EXPECT_EQ(a_->queue_info.defaultRxQueueID, a_->uplink_qdata[0].qid);
    EXPECT_EQ(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_TX, M), a_->queue_info.defaultTxQueueID);
    EXPECT_EQ(TAMSIL_QDATA_ALLOCATED | TAMSIL_QDATA_DEFAULT, a_->uplink_qdata[M].flags);
    // Every record write went through the writer protocol.
    EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);

    // Transmit queues are handed out lowest first until none is left.
    for (vmk_uint32 j = M + 1; j < M + T; j++) {
      vmk_uint64 id = 0;
      ASSERT_EQ(VMK_OK, tamsil_allocTxQueue(a_, &id));
      EXPECT_EQ(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_TX, j), id);
      EXPECT_EQ(TAMSIL_QDATA_ALLOCATED, a_->uplink_qdata[j].flags);
    }
    const size_t before = logged("No free tx queues");
    vmk_uint64 id = 0;
    EXPECT_EQ(VMK_FAILURE, tamsil_allocTxQueue(a_, &id));
    EXPECT_EQ(before + 1, logged("No free tx queues"));

    // Receive queues: 1 .. L-1 besides the default one, never past M.
    const vmk_uint32 L = tamsil_rssLeadingRing(a_);
    const vmk_uint32 n = L < M ? L : M;
    for (vmk_uint32 i = 1; i < n; i++) {
      vmk_NetPoll np = nullptr;
      ASSERT_EQ(VMK_OK, tamsil_allocRxQueue(a_, 0, &id, &np));
      EXPECT_EQ(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, i), id);
      EXPECT_EQ(a_->uplink_qdata[i].netpoll, np);
    }
    EXPECT_EQ(VMK_FAILURE, tamsil_allocRxQueue(a_, 0, &id, nullptr));
    TearDown();
    SetUp();
  }
}

TEST_F(DpTest, RssLeadingQueueIsAllocatedOnce) {
  associate(adapter::Gen::Veskarn);
  ASSERT_TRUE(a_->features & TAMSIL_FEAT_RSS);
  const vmk_uint32 L = tamsil_rssLeadingRing(a_);
  vmk_uint64 id = 0;
  ASSERT_EQ(VMK_OK, tamsil_allocRxQueue(a_, 0x4, &id, nullptr));
  EXPECT_EQ(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, L), id);
  EXPECT_EQ(TAMSIL_QDATA_ALLOCATED, a_->uplink_qdata[L].flags);
  EXPECT_EQ(VMK_FAILURE, tamsil_allocRxQueue(a_, 0x20, &id, nullptr));
  EXPECT_EQ(1u, logged("RSS leading queue already allocated"));
}

TEST_F(DpTest, BulkTransmitStartSkipsNearlyFullQueues) {
  associate(adapter::Gen::KS3);
  const vmk_uint32 M = a_->queue_info.maxRxQueues, T = a_->queue_info.maxTxQueues;
  ASSERT_GE(T, 3u);
  vmk_uint64 id;
  ASSERT_EQ(VMK_OK, tamsil_allocTxQueue(a_, &id));   // M + 1
  ASSERT_EQ(VMK_OK, tamsil_allocTxQueue(a_, &id));   // M + 2
  // Queue M + 2 has 2018 entries in flight: 2018 + 30 >= 2048.
  vmk_AtomicWrite64(&a_->txo[2].q.used, 2018);
  tamsil_startStopTxQueues(a_, 1);
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, M));
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, M + 1));
  EXPECT_EQ(-1, vmktest::uplinkQueueState(uplink_, M + 2));
  EXPECT_EQ(TAMSIL_QDATA_STOPPED, a_->uplink_qdata[M + 2].state);
  EXPECT_EQ(-1, vmktest::uplinkQueueState(uplink_, M + 3));   // not allocated
  // The default receive queue is activated with it.
  EXPECT_EQ(TAMSIL_QDATA_STARTED, a_->uplink_qdata[0].state);
  EXPECT_EQ(1u, a_->queue_info.activeRxQueues);
  // 2017 in flight leaves 31: the queue is started.
  vmk_AtomicWrite64(&a_->txo[2].q.used, 2017);
  tamsil_startStopTxQueues(a_, 1);
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, M + 2));
  EXPECT_EQ(1u, a_->queue_info.activeRxQueues);   // activation is idempotent
  tamsil_startStopTxQueues(a_, 0);
  for (vmk_uint32 j = M; j < M + 3; j++) {
    EXPECT_EQ(0, vmktest::uplinkQueueState(uplink_, j)) << j;
    EXPECT_TRUE(tamsil_isTxQueueStopped(a_, j - M));
  }
  vmk_AtomicWrite64(&a_->txo[2].q.used, 0);
  EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);
}

TEST_F(DpTest, ActivatingRssAndDrssQueuesWakesTheirRings) {
  associate(adapter::Gen::Veskarn);
  ASSERT_TRUE(a_->features & TAMSIL_FEAT_RSS);
  const vmk_uint32 L = tamsil_rssLeadingRing(a_), nRss = a_->res.max_rss_qs;
  for (vmk_uint32 r = 0; r < a_->num_vectors; r++) a_->rxo[r].quiesced = 1;
  ASSERT_EQ(VMK_OK, tamsil_activateRxQueue(a_, tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, L)));
  for (vmk_uint32 r = 0; r < a_->num_vectors; r++)
    EXPECT_EQ(r >= L && r < L + nRss ? 0u : 1u, a_->rxo[r].quiesced) << r;
  for (vmk_uint32 r = 0; r < a_->num_vectors; r++) a_->rxo[r].quiesced = 0;
}

// The table sent for RSS (first ring L) and DRSS (ring 0) holds the RSS ids
// of the rings the Part names, with and without the interface flag 0x80.
TEST_F(DpTest, RssAndDrssTables) {
  for (adapter::Gen g : {adapter::Gen::KS3, adapter::Gen::Veskarn}) {
    SCOPED_TRACE(genText(g));
    associate(g);
    if (!(a_->features & TAMSIL_FEAT_RSS)) {
      TearDown();
      SetUp();
      continue;
    }
    const vmk_uint32 V = a_->num_vectors, L = tamsil_rssLeadingRing(a_), nRss = a_->res.max_rss_qs;
    for (vmk_uint32 r = 0; r < V; r++) a_->rxo[r].rss_id = (vmk_uint8)(100 + r);
    const vmk_uint16 hashFlags = g == adapter::Gen::KS3 ? 15 : 63;
    for (bool ifFlag : {false, true}) {
      SCOPED_TRACE(ifFlag ? "interface flag" : "no interface flag");
      if (ifFlag)
        a_->features |= TAMSIL_FEAT_RSS_IF_FLAG;
      else
        a_->features &= ~TAMSIL_FEAT_RSS_IF_FLAG;
      ASSERT_EQ(VMK_OK, tamsil_configureRss(a_, (vmk_uint16)L));
      const adapter::InterfaceObj* i = card_->engine().interface(a_->rxo[L].if_id);
      ASSERT_NE(nullptr, i);
      ASSERT_EQ(128u, i->rss_table.size());
      const vmk_uint32 n = ifFlag ? nRss : nRss - 1;
      for (vmk_uint32 e = 0; e < 128; e++)
        ASSERT_EQ(100 + L + (ifFlag ? 0 : 1) + e % n, i->rss_table[e]) << e;
      EXPECT_EQ(hashFlags, i->rss_flags);
      EXPECT_EQ(0, memcmp(tamsil_rssKey(), i->rss_key.data(), 40));
    }
    // DRSS on ring 0 over the last nDRSS rings (ring 0 first with the flag).
    const vmk_uint32 features = a_->features;
    const vmk_uint16 drss = a_->res.max_drss_qs;
    a_->features |= TAMSIL_FEAT_DRSS;
    a_->res.max_drss_qs = 2;
    for (bool ifFlag : {false, true}) {
      if (ifFlag)
        a_->features |= TAMSIL_FEAT_RSS_IF_FLAG;
      else
        a_->features &= ~TAMSIL_FEAT_RSS_IF_FLAG;
      ASSERT_EQ(VMK_OK, tamsil_configureRss(a_, 0));
      const adapter::InterfaceObj* i = card_->engine().interface(a_->rxo[0].if_id);
      ASSERT_NE(nullptr, i);
      ASSERT_EQ(128u, i->rss_table.size());
      for (vmk_uint32 e = 0; e < 128; e++) {
        const vmk_uint32 r = ifFlag ? e % 3 : e % 2;
        const vmk_uint32 ring = !ifFlag ? V - 2 + r : (r == 0 ? 0 : V - 3 + r);
        ASSERT_EQ(100 + ring, i->rss_table[e]) << e;
      }
    }
    // Neither configured: refused with the failure line, nothing sent.
    a_->features &= ~(TAMSIL_FEAT_RSS | TAMSIL_FEAT_DRSS);
    const unsigned sent = card_->engine().commandsSeen(3, 1);
    EXPECT_EQ(VMK_FAILURE, tamsil_configureRss(a_, (vmk_uint16)L));
    EXPECT_EQ(sent, card_->engine().commandsSeen(3, 1));
    EXPECT_EQ(1u, logged("Failed to configure RSS with error: 0xbad0001"));
    a_->features = features;
    a_->res.max_drss_qs = drss;
    TearDown();
    SetUp();
  }
}

TEST_F(DpTest, RssWithOneRingAndNoInterfaceFlagIsRefused) {
  associate(adapter::Gen::Veskarn);
  ASSERT_TRUE(a_->features & TAMSIL_FEAT_RSS);
  const vmk_uint16 nRss = a_->res.max_rss_qs;
  const vmk_uint32 features = a_->features;
  a_->features &= ~TAMSIL_FEAT_RSS_IF_FLAG;
  a_->res.max_rss_qs = 1;   // no secondary ring to spread over
  const unsigned sent = card_->engine().commandsSeen(3, 1);
  EXPECT_EQ(VMK_FAILURE, tamsil_configureRss(a_, (vmk_uint16)tamsil_rssLeadingRing(a_)));
  EXPECT_EQ(sent, card_->engine().commandsSeen(3, 1));
  a_->res.max_rss_qs = nRss;
  a_->features = features;
}

TEST_F(DpTest, VlanPromiscuousOnEveryInterface) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    associate(g);
    const vmk_uint32 caps = a_->if_caps;
    ASSERT_EQ(VMK_OK, tamsil_vlanPromiscuousConfig(a_, 1));
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      const adapter::InterfaceObj* itf = card_->engine().interface(a_->rxo[i].if_id);
      ASSERT_NE(nullptr, itf);
      EXPECT_EQ(0x80u, itf->rxf_flags & 0x80u) << i;
    }
    // Pivard keeps the mode in the flags its interface filters carry.
    EXPECT_EQ(g == adapter::Gen::Pivard ? (caps | 0x80u) : caps, a_->if_caps);
    ASSERT_EQ(VMK_OK, tamsil_vlanPromiscuousConfig(a_, 0));
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
      EXPECT_EQ(0u, card_->engine().interface(a_->rxo[i].if_id)->rxf_flags & 0x80u) << i;
    // A refused command stops the walk with its status.
    card_->engine().setFault(1, kRxfFilter, {.status = 3});
    EXPECT_NE(VMK_OK, tamsil_vlanPromiscuousConfig(a_, 1));
    EXPECT_EQ(1u, logged("tamsil_cmdRxfFilterConfig failed with 0x"));
    card_->engine().clearFaults();
    TearDown();
    SetUp();
  }
}

TEST_F(DpTest, PivardInterfaceFilters) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    associate(g);
    const unsigned sent = card_->engine().commandsSeen(1, kRxfFilter);
    const bool pivard = g == adapter::Gen::Pivard;
    EXPECT_EQ(0u, tamsil_applyPivardIfFilters(a_));
    if (!pivard) {
      EXPECT_EQ(0u, tamsil_removePivardIfFilters(a_));
      EXPECT_EQ(sent, card_->engine().commandsSeen(1, kRxfFilter));
    } else {
      const vmk_uint32 flags = a_->if_caps;
      const adapter::InterfaceObj* def = card_->engine().interface(a_->rxo[0].if_id);
      ASSERT_NE(nullptr, def);
      EXPECT_EQ(flags, def->rxf_flags & flags);
      if (a_->features & TAMSIL_FEAT_RSS) {
        const adapter::InterfaceObj* rss = card_->engine().interface(a_->rxo[tamsil_rssLeadingRing(a_)].if_id);
        ASSERT_NE(nullptr, rss);
        EXPECT_EQ(0x10A0u, rss->rxf_flags & 0x10A0u);
      }
      EXPECT_EQ(0u, tamsil_removePivardIfFilters(a_));
      EXPECT_EQ(0u, def->rxf_flags & flags);
      card_->engine().setFault(1, kRxfFilter, {.status = 3, .times = 1});
      EXPECT_NE(0u, tamsil_applyPivardIfFilters(a_));
      EXPECT_EQ(1u, logged("tamsil_driver: Failed to apply filters"));
      card_->engine().clearFaults();
    }
    TearDown();
    SetUp();
  }
}

TEST_F(DpTest, PmacTableRelease) {
  associate(adapter::Gen::KS3);
  struct Row {
    vmk_uint8 nic, rdma;
    vmk_uint32 result;
    vmk_uint8 nicAfter;
  };
  const Row rows[] = {{0, 0, 0, 0}, {0, 3, 0, 0}, {1, 0, 2, 0}, {2, 0, 1, 1}, {1, 1, 1, 0}};
  for (const Row& r : rows) {
    a_->pmac[5].nic_ref = r.nic;
    a_->pmac[5].rdma_ref = r.rdma;
    a_->pmac[5].queue = 3;
    vmk_uint8 nic = 0xEE, rdma = 0xEE;
    vmk_uint32 queue = 0xEE;
    EXPECT_EQ(r.result, tamsil_pmacTableDel(a_, 5, &nic, &rdma, &queue)) << (int)r.nic << "/" << (int)r.rdma;
    EXPECT_EQ(r.nicAfter, a_->pmac[5].nic_ref);
    if (r.result != 0) {
      EXPECT_EQ(r.nicAfter, nic);
      EXPECT_EQ(r.rdma, rdma);
      EXPECT_EQ(3u, queue);
    }
  }
  EXPECT_EQ(0u, tamsil_pmacTableDel(a_, TAMSIL_PMAC_ENTRIES, nullptr, nullptr, nullptr));
  a_->pmac[7].nic_ref = 1;
  a_->pmac[9].rdma_ref = 1;
  tamsil_pmacTableReset(a_);
  for (const tamsil_pmacEntry& e : a_->pmac) EXPECT_EQ(0, e.nic_ref + e.rdma_ref);
}

// At quiesce Pivard takes every NIC MAC filter out of the firmware: the
// RSS queue's through the MAC delete, the others' through the interface
// queue filter delete.
TEST_F(DpTest, PivardForcedFilterRemoval) {
  associate(adapter::Gen::Pivard);
  const vmk_uint32 L = tamsil_rssLeadingRing(a_);
  const vmk_uint8 mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x31};
  vmk_uint32 pmac = 0;
  ASSERT_EQ(0u, tamsil_cmdPmacAdd(a_, mac, a_->rxo[L].if_id, &pmac, 0, 0));
  ASSERT_LT(pmac, (vmk_uint32)TAMSIL_PMAC_ENTRIES);
  a_->pmac[pmac] = {1, 0, {0x02, 0, 0, 0, 0, 0x31}, L};
  a_->uplink_qdata[L].activeFilters = 1;
  const size_t macs = card_->engine().macFilters(0).size();
  EXPECT_EQ(0u, tamsil_forceRemoveRxFilter(a_));
  EXPECT_EQ(0, a_->pmac[pmac].nic_ref);
  EXPECT_EQ(0u, a_->uplink_qdata[L].activeFilters);
  EXPECT_EQ(macs - 1, card_->engine().macFilters(0).size());
  EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);
  (void)kPmacAdd;
}

}  // namespace

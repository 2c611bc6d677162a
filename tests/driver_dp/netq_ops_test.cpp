// The NetQueue operations as the kernel's layer calls them: queue
// allocation with and without attributes, start and quiesce of receive
// (RSS, DRSS) and transmit queues, the filter refusals, queue statistics,
// and the firmware's filter ids that do not fit the MAC filter table.
#include <cstring>
#include <mutex>

#include "netq_fixture.h"

namespace {

using adapter::ObjKind;

bool firmwareHas(adapter::Adapter& card, const netframes::Mac& m) {
  std::lock_guard<std::mutex> g(card.lock());
  for (const adapter::MacFilter& f : card.engine().macFilters(0))
    if (f.mac == m) return true;
  for (const adapter::FilterObj* f : card.engine().filters(ObjKind::QueueFilter, 0))
    if (f->mac == m) return true;
  return false;
}

TEST_F(NetqTest, FilterRefusals) {
  up(adapter::Gen::Veskarn);
  const vmk_UplinkQueueID q0 = a_->queue_info.defaultRxQueueID, q1 = rxQueue(), q2 = rxQueue();
  const netframes::Mac x = mac(1), y = mac(2), inner = mac(0x11), inner2 = mac(0x12), outer = mac(0x20);
  vmk_UplinkQueueFilterID fx = 0, f = 0;
  ASSERT_EQ(VMK_OK, nq_->apply(q1, vmktest::macFilter(x.data()), &fx));
  auto sent = [&] { return card_->engine().commandsSeen(1, 59) + card_->engine().commandsSeen(1, 193); };

  {
    SCOPED_TRACE("the same MAC on a second queue");
    const unsigned before = sent();
    EXPECT_EQ(VMK_FAILURE, nq_->apply(q2, vmktest::macFilter(x.data()), &f));
    EXPECT_EQ(1u, logged("Filter already applied on fidVal " + std::to_string(fx)));
    EXPECT_EQ(before, sent());
    EXPECT_EQ(0u, a_->uplink_qdata[2].activeFilters);
    EXPECT_EQ(0u, a_->uplink_qdata[2].activeFeatures);
    EXPECT_EQ(1, a_->pmac[fx].nic_ref);
    EXPECT_EQ(1u, a_->pmac[fx].queue);
  }
  {
    SCOPED_TRACE("a queue at its filter limit");
    const vmk_uint32 max = a_->uplink_qdata[1].maxFilters;
    a_->uplink_qdata[1].maxFilters = 1;
    EXPECT_EQ(VMK_FAILURE, nq_->apply(q1, vmktest::macFilter(y.data()), &f));
    EXPECT_EQ(1u, logged("Reached max filter count qData[1].activeFilters = 1 (max 1). Filter not applied"));
    EXPECT_FALSE(firmwareHas(*card_, y));
    a_->uplink_qdata[1].maxFilters = max;
  }
  {
    SCOPED_TRACE("the default queue");
    const unsigned before = sent();
    EXPECT_EQ(VMK_OK, nq_->apply(q0, vmktest::macFilter(y.data()), &f));   // not shared: nothing to do
    EXPECT_EQ(before, sent());
    EXPECT_FALSE(firmwareHas(*card_, y));
    const vmk_uint8 mode = a_->function_mode;
    const vmk_uint32 max = a_->uplink_qdata[0].maxFilters;
    a_->uplink_qdata[0].maxFilters = a_->uplink_qdata[0].activeFilters;
    const struct {
      vmk_uint8 mode;
      const char* who;
    } rows[] = {{5, "NPAR PFs"}, {2, "VFs"}, {10, "VFs"}};
    for (const auto& r : rows) {
      a_->function_mode = r.mode;
      EXPECT_EQ(VMK_FAILURE, nq_->apply(q0, vmktest::macFilter(y.data()), &f));
      EXPECT_LE(1u, logged(std::string("Sharing physical port of uplink ") + r.who +
                           " may not be able to communicate with virtual nic with MAC 02:51:00:00:00:02"))
          << (int)r.mode;
    }
    a_->uplink_qdata[0].maxFilters = max;
    // Shared with NPAR functions the default queue takes the MAC.
    a_->function_mode = 5;
    ASSERT_EQ(VMK_OK, nq_->apply(q0, vmktest::macFilter(y.data()), &f));
    EXPECT_TRUE(firmwareHas(*card_, y));
    EXPECT_EQ(0u, a_->pmac[f].queue);
    ASSERT_EQ(VMK_OK, nq_->remove(q0, f));
    EXPECT_FALSE(firmwareHas(*card_, y));
    a_->function_mode = mode;
  }
  {
    SCOPED_TRACE("VXLAN ids out of range");
    const unsigned before = sent();
    for (uint32_t vni : {0u, 0x1000000u}) {
      EXPECT_EQ(VMK_FAILURE, nq_->apply(q1, vmktest::vxlanFilter(inner.data(), outer.data(), vni), &f));
      EXPECT_EQ(1u, logged("Invalid VxlanId: " + std::to_string(vni) + " on Qid: 1 omac: 02:51:00:00:00:20 imac: "
                           "02:51:00:00:00:11"));
    }
    EXPECT_EQ(before, sent());
    EXPECT_EQ(VMK_OK, nq_->apply(q1, vmktest::vxlanFilter(inner.data(), outer.data(), 0xFFFFFF), &f));
    EXPECT_EQ(VMK_OK, nq_->remove(q1, f));
  }
  {
    SCOPED_TRACE("VXLAN on the default queue");
    const unsigned before = sent();
    f = 0;
    EXPECT_EQ(VMK_OK, nq_->apply(q0, vmktest::vxlanFilter(inner.data(), outer.data(), 9), &f));
    EXPECT_EQ(TAMSIL_VXLAN_FILTER_BIT, f);
    EXPECT_EQ(VMK_OK, nq_->remove(q0, TAMSIL_VXLAN_FILTER_BIT));
    EXPECT_EQ(before, sent());
  }
  {
    SCOPED_TRACE("two VXLAN filters share their outer MAC");
    vmk_UplinkQueueFilterID a = 0, b = 0;
    ASSERT_EQ(VMK_OK, nq_->apply(q1, vmktest::vxlanFilter(inner.data(), outer.data(), 5), &a));
    const unsigned macAdds = card_->engine().commandsSeen(1, 59);
    ASSERT_EQ(VMK_OK, nq_->apply(q2, vmktest::vxlanFilter(inner2.data(), outer.data(), 6), &b));
    EXPECT_EQ(macAdds, card_->engine().commandsSeen(1, 59));
    vmk_uint32 idx = 0, queue = 9;
    ASSERT_EQ(TAMSIL_PMAC_NIC_HELD, tamsil_pmacSrcMacLookup(a_, outer.data(), TAMSIL_PMAC_KIND_NIC, &idx, &queue));
    EXPECT_EQ(2, a_->pmac[idx].nic_ref);
    EXPECT_EQ(0u, queue);
    EXPECT_EQ(2u, a_->uplink_qdata[1].activeFilters);   // x and a
    ASSERT_EQ(VMK_OK, nq_->remove(q1, a));
    EXPECT_TRUE(firmwareHas(*card_, outer));
    EXPECT_EQ(1, a_->pmac[idx].nic_ref);
    EXPECT_EQ(TAMSIL_QUEUE_FEAT_PAIR, a_->uplink_qdata[1].activeFeatures);   // x is still there
    ASSERT_EQ(VMK_OK, nq_->remove(q2, b));
    EXPECT_FALSE(firmwareHas(*card_, outer));
    EXPECT_EQ(0, a_->pmac[idx].nic_ref);
    EXPECT_EQ(0u, a_->uplink_qdata[2].activeFeatures);
  }
  {
    SCOPED_TRACE("removals that find nothing");
    EXPECT_EQ(VMK_FAILURE, nq_->remove(q2, fx));
    EXPECT_EQ(1u, logged("qData[2].activeFilters = 0 (max " + std::to_string(a_->uplink_qdata[2].maxFilters) +
                         "), Ignoring"));
    EXPECT_EQ(VMK_FAILURE, nq_->remove(q1, TAMSIL_VXLAN_FILTER_BIT | 77));
    EXPECT_EQ(1u, logged("Unable to remove vxlan filter - vxlan hash table id: 77 lookup failed"));
    EXPECT_EQ(1, a_->pmac[fx].nic_ref);
    vmk_UplinkQueueFilter odd = vmktest::macFilter(y.data());
    odd.filterClass = 3;
    EXPECT_EQ(VMK_FAILURE, nq_->apply(q1, odd, &f));
    EXPECT_EQ(1u, logged("Unsupported netq_filter class: 0x3"));
  }
  EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);
}

TEST_F(NetqTest, QueueAllocation) {
  up(adapter::Gen::Veskarn);
  const vmk_uint32 L = tamsil_rssLeadingRing(a_);
  vmk_UplinkQueueID q = 0;
  vmk_NetPoll np = nullptr;
  EXPECT_EQ(VMK_BAD_PARAM, nq_->alloc(static_cast<vmk_UplinkQueueType>(3), &q));
  vmk_UplinkQueueAttr prio;
  prio.type = VMK_UPLINK_QUEUE_ATTR_PRIOR;
  prio.args.priority = 4;
  EXPECT_EQ(VMK_BAD_PARAM, nq_->allocWithAttr(VMK_UPLINK_QUEUE_TYPE_RX, {prio}, &q));
  EXPECT_EQ(VMK_BAD_PARAM, nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_RX, 0x1, &q));
  EXPECT_EQ(VMK_BAD_PARAM, nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_TX, VMK_UPLINK_QUEUE_FEAT_RSS, &q));
  // Plain receive queues: lowest free first, with their NetPoll.
  ASSERT_EQ(VMK_OK, nq_->allocWithAttr(VMK_UPLINK_QUEUE_TYPE_RX, {}, &q, &np));
  EXPECT_EQ(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, 1), q);
  EXPECT_EQ(a_->netpoll[1].netpoll, np);
  ASSERT_EQ(VMK_OK, nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_RX, VMK_UPLINK_QUEUE_FEAT_PAIR, &q));
  EXPECT_EQ(2u, tamsil_queueIdVal(q));
  ASSERT_EQ(VMK_OK, nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_TX, 0, &q));
  EXPECT_EQ(a_->queue_info.maxRxQueues + 1, tamsil_queueIdVal(q));
  // The RSS queue is the leading ring's, once.
  vmk_UplinkQueueID rss = 0;
  ASSERT_EQ(VMK_OK, nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_RX, VMK_UPLINK_QUEUE_FEAT_RSS, &rss, &np));
  EXPECT_EQ(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, L), rss);
  EXPECT_EQ(VMK_FAILURE, nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_RX, VMK_UPLINK_QUEUE_FEAT_RSS_DYN, &q));
  EXPECT_EQ(1u, logged("RSS leading queue already allocated"));
  ASSERT_EQ(VMK_OK, nq_->free(rss));
  EXPECT_EQ(0u, a_->uplink_qdata[L].flags);
  EXPECT_EQ(VMK_OK, nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_RX, VMK_UPLINK_QUEUE_FEAT_RSS, &q));
  EXPECT_EQ(VMK_BAD_PARAM, nq_->free(tamsil_mkQueueId(3, 1)));
  EXPECT_EQ(VMK_BAD_PARAM, nq_->free(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, a_->queue_info.maxRxQueues)));
  EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);
}

// A transmit queue is started only with room for a packet of the most
// entries (31); quiesce stops it with the kernel.
TEST_F(NetqTest, TransmitQueueStartAndQuiesce) {
  up(adapter::Gen::KS3);
  const vmk_uint32 M = a_->queue_info.maxRxQueues;
  vmk_UplinkQueueID t1 = 0, t2 = 0;
  ASSERT_EQ(VMK_OK, nq_->alloc(VMK_UPLINK_QUEUE_TYPE_TX, &t1));
  ASSERT_EQ(VMK_OK, nq_->alloc(VMK_UPLINK_QUEUE_TYPE_TX, &t2));
  ASSERT_EQ(M + 1, tamsil_queueIdVal(t1));
  const vmk_uint32 active = a_->queue_info.activeTxQueues;
  vmk_AtomicWrite64(&a_->txo[1].q.used, 2018);   // 30 free entries
  EXPECT_EQ(VMK_OK, nq_->start(t1));
  EXPECT_EQ(TAMSIL_QDATA_STOPPED, a_->uplink_qdata[M + 1].state);
  EXPECT_EQ(-1, vmktest::uplinkQueueState(uplink_, M + 1));
  EXPECT_EQ(active, a_->queue_info.activeTxQueues);
  vmk_AtomicWrite64(&a_->txo[1].q.used, 2017);   // 31
  EXPECT_EQ(VMK_OK, nq_->start(t1));
  EXPECT_EQ(TAMSIL_QDATA_STARTED, a_->uplink_qdata[M + 1].state);
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, M + 1));
  EXPECT_EQ(active + 1, a_->queue_info.activeTxQueues);
  EXPECT_EQ(VMK_OK, nq_->start(t1));   // started already: no second count
  EXPECT_EQ(active + 1, a_->queue_info.activeTxQueues);
  vmk_AtomicWrite64(&a_->txo[1].q.used, 0);
  ASSERT_EQ(VMK_OK, nq_->start(t2));

  EXPECT_EQ(VMK_OK, nq_->quiesce(t1));
  EXPECT_EQ(0, vmktest::uplinkQueueState(uplink_, M + 1));
  EXPECT_EQ(TAMSIL_QDATA_STOPPED, a_->uplink_qdata[M + 1].state);
  EXPECT_EQ(active + 1, a_->queue_info.activeTxQueues);
  const unsigned stops = vmktest::uplinkQueueStops(uplink_, M + 1);
  EXPECT_EQ(VMK_OK, nq_->quiesce(t1));   // stopped already
  EXPECT_EQ(stops, vmktest::uplinkQueueStops(uplink_, M + 1));
  // A queue that is not allocated while others run is an error.
  ASSERT_EQ(VMK_OK, nq_->free(t1));
  EXPECT_EQ(VMK_FAILURE, nq_->quiesce(t1));
  EXPECT_EQ(1u, logged("TX queue " + std::to_string(M + 1) + " not allocated"));
  EXPECT_EQ(VMK_BAD_PARAM, nq_->start(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_TX, M + a_->queue_info.maxTxQueues)));
  EXPECT_EQ(VMK_BAD_PARAM, nq_->quiesce(tamsil_mkQueueId(0, 1)));
}

// Quiescing the RSS queue quiesces every RSS ring; quiescing the default
// queue with DRSS every DRSS ring; starting them wakes the same rings.
TEST_F(NetqTest, QuiescingRssAndDrssQueues) {
  struct Row {
    adapter::Gen gen;
    bool rss;   // the RSS queue, else the default queue with DRSS
  };
  for (const Row& row : {Row{adapter::Gen::Veskarn, true}, Row{adapter::Gen::Pivard, false}}) {
    SCOPED_TRACE(row.rss ? "RSS" : "DRSS");
    up(row.gen);
    const vmk_uint32 V = a_->num_vectors, L = tamsil_rssLeadingRing(a_);
    ASSERT_TRUE(a_->features & (row.rss ? TAMSIL_FEAT_RSS : TAMSIL_FEAT_DRSS));
    const vmk_uint32 nDrss = a_->res.max_drss_qs;
    auto follows = [&](vmk_uint32 r) {
      return row.rss ? (r >= L && r < L + a_->res.max_rss_qs) : (r == 0 || r >= V - nDrss);
    };
    const vmk_UplinkQueueID q = row.rss ? rxQueue(VMK_UPLINK_QUEUE_FEAT_RSS) : a_->queue_info.defaultRxQueueID;
    const vmk_uint32 v = tamsil_queueIdVal(q);
    ASSERT_EQ(TAMSIL_QDATA_STARTED, a_->uplink_qdata[v].state);
    const vmk_uint32 active = a_->queue_info.activeRxQueues;
    ASSERT_EQ(VMK_OK, nq_->quiesce(q));
    for (vmk_uint32 r = 0; r < V; r++) EXPECT_EQ(follows(r) ? 1u : 0u, a_->rxo[r].quiesced) << "ring " << r;
    EXPECT_EQ(TAMSIL_QDATA_STOPPED, a_->uplink_qdata[v].state);
    EXPECT_EQ(active - 1, a_->queue_info.activeRxQueues);
    EXPECT_EQ(VMK_OK, nq_->quiesce(q));
    EXPECT_EQ(1u, logged("RX queue " + std::to_string(v) + " already stopped"));
    EXPECT_EQ(active - 1, a_->queue_info.activeRxQueues);
    ASSERT_EQ(VMK_OK, nq_->start(q));
    for (vmk_uint32 r = 0; r < V; r++) EXPECT_EQ(0u, a_->rxo[r].quiesced) << "ring " << r;
    EXPECT_EQ(active, a_->queue_info.activeRxQueues);
    // Traffic flows again.
    EXPECT_TRUE(defaultRing(ringOf(frameTo(ownMac()))));
    EXPECT_EQ(VMK_FAILURE, nq_->quiesce(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, L - 1)));
    EXPECT_EQ(1u, logged("RX queue " + std::to_string(L - 1) + " not allocated"));
    TearDown();
    SetUp();
  }
}

TEST_F(NetqTest, QueueStatisticsAndTheIgnoredOperations) {
  up(adapter::Gen::KS3);
  const vmk_uint32 M = a_->queue_info.maxRxQueues, T = a_->queue_info.maxTxQueues;
  tamsil_rxo& r = a_->rxo[1];
  r.rx_pkts = 11;
  r.rx_bytes = 1100;
  r.rx_compl_err = 2;
  r.rx_post_fail = 3;
  r.rx_multi_frag_drops = 4;
  r.rx_mcast_pkts = 5;
  tamsil_txo& t = a_->txo[1];
  t.tx_pkts = 21;
  t.tx_bytes = 2100;
  t.ipv6_ext_hdr_tx_drop = 1;
  t.tso_ip_frag_off_drop_count = 2;
  t.tx_tso_mss_zero_gr_9k_drop = 3;
  t.tx_gr_9k_non_tso_drop = 4;
  t.tx_ipv6_extn_drops = 5;
  t.tx_pad_fail_drops = 6;
  t.tx_os2bmc_drops = 100;   // not a queue drop
  vmk_UplinkQueueStats s;
  auto expect = [&](std::initializer_list<std::pair<int, vmk_uint64>> want) {
    for (int i = 0; i < VMK_UPLINK_QUEUE_STATS_SLOTS; i++) {
      vmk_uint64 v = 0;
      for (auto [slot, value] : want) v = slot == i ? value : v;
      EXPECT_EQ(v, s.slot[i]) << "slot " << i;
    }
  };
  memset(&s, 0xEE, sizeof s);
  ASSERT_EQ(VMK_OK, nq_->stats(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, 1), &s));
  expect({{0, 11}, {2, 1100}, {4, 5}, {6, 4}, {8, 5}});
  memset(&s, 0xEE, sizeof s);
  ASSERT_EQ(VMK_OK, nq_->stats(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_TX, M + 1), &s));
  expect({{1, 21}, {3, 2100}, {7, 21}});
  memset(&s, 0xEE, sizeof s);
  ASSERT_EQ(VMK_OK, nq_->stats(tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_TX, M + T), &s));
  expect({});

  __atomic_fetch_or(&a_->debug_mask, TAMSIL_DBG_QUEUE, __ATOMIC_RELAXED);
  const vmk_UplinkQueueID q1 = tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, 1);
  EXPECT_EQ(VMK_OK, nq_->ops().queueToggleFeature(cookie_, q1, VMK_UPLINK_QUEUE_FEAT_PAIR, true));
  EXPECT_EQ(VMK_OK, nq_->ops().queueSetPriority(cookie_, q1, 3));
  vmk_UplinkCoalesceParams p{5, 6, 7, 8};
  EXPECT_EQ(VMK_OK, nq_->ops().queueSetCoalesceParams(cookie_, q1, &p));
  EXPECT_EQ(3u, logged("QueueIDVal:1"));
  EXPECT_EQ(1u, logged("QueueIDVal:1, rxUsecs: 5, rxMaxFr:6, txUsecs:7, txMaxFr:8"));
  EXPECT_EQ(nullptr, nq_->ops().reserved);
  EXPECT_EQ(0, memcmp(a_->uplink_qdata[1].coalesceParams, a_->uplink_qdata[2].coalesceParams, 16));
}

// Filter ids the firmware answers beyond the 128-entry MAC table are
// refused: the filter goes out of the firmware again and nothing is counted.
TEST_F(NetqTest, FirmwareFilterIdsBeyondTheTableAreRefused) {
  struct Row {
    adapter::Gen gen;
    ObjKind kind;
    uint32_t floor;
    bool vxlan;
    const char* what;
  };
  const Row rows[] = {
      {adapter::Gen::KS3, ObjKind::MacFilter, 128, false, "PMAC id 128"},
      {adapter::Gen::Pivard, ObjKind::QueueFilter, 300, false, "interface filter id 300"},
      {adapter::Gen::Veskarn, ObjKind::MacFilter, 128, true, "outer MAC PMAC id 128"},
      {adapter::Gen::Veskarn, ObjKind::TunnelFilter, 0x8000, true, "tunnel filter id 0x8000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    up(row.gen);
    const vmk_UplinkQueueID q1 = rxQueue();
    const netframes::Mac x = mac(0x71), inner = mac(0x72);
    {
      std::lock_guard<std::mutex> g(card_->lock());
      card_->engine().setIdFloor(row.kind, row.floor);
    }
    const vmk_UplinkQueueFilter f =
        row.vxlan ? vmktest::vxlanFilter(inner.data(), x.data(), 5) : vmktest::macFilter(x.data());
    vmk_UplinkQueueFilterID fid = 0;
    const size_t refusals = logged("filter removed");
    EXPECT_EQ(VMK_FAILURE, nq_->apply(q1, f, &fid));
    EXPECT_EQ(refusals + 1, logged("filter removed"));
    EXPECT_EQ(0u, a_->uplink_qdata[1].activeFilters);
    EXPECT_EQ(0u, a_->uplink_qdata[1].activeFeatures);
    {
      std::lock_guard<std::mutex> g(card_->lock());
      EXPECT_TRUE(card_->engine().filters(ObjKind::TunnelFilter).empty());
      EXPECT_TRUE(card_->engine().filters(ObjKind::QueueFilter).empty());
    }
    if (row.kind == ObjKind::TunnelFilter) {
      // The outer MAC taken before the tunnel filter stays counted.
      EXPECT_EQ(TAMSIL_PMAC_NIC_HELD, tamsil_pmacSrcMacLookup(a_, x.data(), TAMSIL_PMAC_KIND_NIC, nullptr, nullptr));
      EXPECT_TRUE(firmwareHas(*card_, x));
    } else {
      EXPECT_EQ(TAMSIL_PMAC_NOT_FOUND, tamsil_pmacSrcMacLookup(a_, x.data(), TAMSIL_PMAC_KIND_NIC, nullptr, nullptr));
      EXPECT_FALSE(firmwareHas(*card_, x));
      // The last id that fits is taken.
      if (row.floor == 128) {
        {
          std::lock_guard<std::mutex> g(card_->lock());
          card_->engine().setIdFloor(row.kind, 127);
        }
        ASSERT_EQ(VMK_OK, nq_->apply(q1, f, &fid));
        if (!row.vxlan) {
          EXPECT_EQ(127u, fid);
        }
        EXPECT_EQ(VMK_OK, nq_->remove(q1, fid));
      }
    }
    TearDown();
    SetUp();
  }
}

}  // namespace

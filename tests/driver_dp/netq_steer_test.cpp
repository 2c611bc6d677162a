// Receive steering end to end: the kernel's NetQueue layer applies filters
// through the driver's queue operations, a peer sends frames over the cable,
// and each frame must come up on the ring the filters name.
#include <cstring>

#include "netq_fixture.h"

namespace {

TEST_F(NetqTest, AMacFilterSteersItsFramesToItsQueueOnly) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    up(g);
    if (tamsil_rssLeadingRing(a_) < 3) {   // no NetQueue rings besides the default one
      TearDown();
      SetUp();
      continue;
    }
    const vmk_uint32 M = a_->queue_info.maxRxQueues;
    const vmk_UplinkQueueID q1 = rxQueue(), q2 = rxQueue();
    ASSERT_EQ(1u, tamsil_queueIdVal(q1));
    ASSERT_EQ(2u, tamsil_queueIdVal(q2));
    vmk_UplinkQueueFilterID f1 = 0, f2 = 0;
    uint32_t pair = 0;
    ASSERT_EQ(VMK_OK, nq_->apply(q1, vmktest::macFilter(mac(1).data()), &f1, &pair));
    EXPECT_EQ(M + 1, pair);
    ASSERT_EQ(VMK_OK, nq_->apply(q2, vmktest::macFilter(mac(2).data()), &f2, &pair));
    EXPECT_EQ(M + 2, pair);
    EXPECT_LT(f1, 128u);
    EXPECT_NE(f1, f2);
    EXPECT_EQ(1u, a_->uplink_qdata[1].activeFilters);
    EXPECT_EQ(TAMSIL_QUEUE_FEAT_PAIR, a_->uplink_qdata[1].activeFeatures & TAMSIL_QUEUE_FEAT_PAIR);
    EXPECT_EQ(TAMSIL_QUEUE_FEAT_PAIR, a_->uplink_qdata[M + 1].activeFeatures & TAMSIL_QUEUE_FEAT_PAIR);
    EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);

    // Frames of several flows to each MAC, and to the uplink's own MAC.
    std::vector<Bytes> frames;
    for (uint16_t s = 0; s < 4; ++s) {
      frames.push_back(frameTo(mac(1), 41000 + s));
      frames.push_back(frameTo(mac(2), 42000 + s));
      frames.push_back(frameTo(ownMac(), 43000 + s));
    }
    auto got = exchange(frames);
    size_t n = 0;
    for (const auto& [ring, fs] : got) {
      for (const Bytes& f : fs) {
        ++n;
        if (std::equal(f.begin(), f.begin() + 6, mac(1).begin()))
          EXPECT_EQ(1u, ring);
        else if (std::equal(f.begin(), f.begin() + 6, mac(2).begin()))
          EXPECT_EQ(2u, ring);
        else
          EXPECT_TRUE(defaultRing((int)ring)) << ring;
      }
    }
    EXPECT_EQ(frames.size(), n);

    // Without its filter the MAC's frames go back to the default ring.
    ASSERT_EQ(VMK_OK, nq_->remove(q1, f1));
    EXPECT_EQ(0u, a_->uplink_qdata[1].activeFilters);
    EXPECT_EQ(0u, a_->uplink_qdata[1].activeFeatures & TAMSIL_QUEUE_FEAT_PAIR);
    EXPECT_EQ(0u, a_->uplink_qdata[M + 1].activeFeatures & TAMSIL_QUEUE_FEAT_PAIR);
    EXPECT_EQ(0, a_->pmac[f1].nic_ref);
    EXPECT_TRUE(defaultRing(ringOf(frameTo(mac(1)))));
    EXPECT_EQ(2, ringOf(frameTo(mac(2))));
    TearDown();
    SetUp();
  }
}

// A VXLAN filter sends frames whose outer MAC the default (tunnel) interface
// holds and whose inner MAC and VNI match to its queue's ring.
TEST_F(NetqTest, VxlanInnerMacSteeringOnVeskarn) {
  vmktest::setKernelVxlanPort(netframes::kVxlanPort);
  up(adapter::Gen::Veskarn);
  ASSERT_TRUE(a_->features & TAMSIL_FEAT_VXLAN_OFFLOAD);
  const vmk_UplinkQueueID q1 = rxQueue();
  const netframes::Mac inner{0x02, 0xAA, 0, 0, 0, 2};   // the inner destination of netframes' VXLAN frames
  const netframes::Mac outer = mac(0x40);
  vmk_UplinkQueueFilterID fid = 0;
  uint32_t pair = 0;
  const unsigned tunnelCmds = card_->engine().commandsSeen(1, 193);
  ASSERT_EQ(VMK_OK, nq_->apply(q1, vmktest::vxlanFilter(inner.data(), outer.data(), 42), &fid, &pair));
  EXPECT_EQ(tunnelCmds + 1, card_->engine().commandsSeen(1, 193));
  EXPECT_EQ(TAMSIL_VXLAN_FILTER_BIT, fid & TAMSIL_VXLAN_FILTER_BIT);
  EXPECT_EQ(a_->queue_info.maxRxQueues + 1, pair);
  EXPECT_EQ(2u, a_->rxo[1].tunnel_mode);
  const adapter::FilterObj* tf = card_->engine().filter(fid & 0x7FFF);
  ASSERT_NE(nullptr, tf);
  EXPECT_EQ(a_->rxo[0].if_id, tf->if_id);
  EXPECT_EQ(a_->rxo[1].if_id, tf->tenant_if);
  EXPECT_EQ(42u, tf->vni);

  EXPECT_EQ(1, ringOf(frameTo(outer, 40000, true, 42)));
  EXPECT_TRUE(defaultRing(ringOf(frameTo(outer, 40000, true, 43))));   // another VNI stays on the tunnel interface
  EXPECT_TRUE(defaultRing(ringOf(frameTo(outer))));                    // not encapsulated

  ASSERT_EQ(VMK_OK, nq_->remove(q1, fid));
  EXPECT_EQ(nullptr, card_->engine().filter(fid & 0x7FFF));
  EXPECT_EQ(0u, a_->uplink_qdata[1].activeFilters);
  EXPECT_TRUE(defaultRing(ringOf(frameTo(outer, 40000, true, 42))));
  // A filter left applied goes with the adapter (the fixture checks that
  // no node outlives it).
  ASSERT_EQ(VMK_OK, nq_->apply(q1, vmktest::vxlanFilter(inner.data(), outer.data(), 7), &fid, &pair));
}

// A MAC the sibling RDMA function still uses stays in the firmware when the
// NIC's filter goes: on the default interface, and it moves to the queue of
// the next filter that names it.
TEST_F(NetqTest, AMacHeldByTheRdmaSiblingMigrates) {
  up(adapter::Gen::KS3);
  vmktest::RdmaSibling rdma([&](const uint8_t* m, uint32_t kind, uint32_t* index, uint32_t* queue) {
    return tamsil_pmacSrcMacLookup(a_, m, kind, index, queue);
  });
  vmk_ModuleID id;
  EXPECT_EQ(VMK_OK, vmk_ModuleGetID("pondrel", &id));
  const vmk_UplinkQueueID q1 = rxQueue(), q2 = rxQueue();
  const netframes::Mac x = mac(9);
  uint32_t index = 0, queue = 0;
  EXPECT_EQ(TAMSIL_PMAC_NOT_FOUND, rdma.hold(x.data()));   // nothing to hold yet
  vmk_UplinkQueueFilterID f1 = 0, f2 = 0;
  ASSERT_EQ(VMK_OK, nq_->apply(q1, vmktest::macFilter(x.data()), &f1));
  EXPECT_EQ(TAMSIL_PMAC_NIC_HELD, rdma.hold(x.data(), &index, &queue));
  EXPECT_EQ(f1, index);
  EXPECT_EQ(1u, queue);
  EXPECT_EQ(1, a_->pmac[f1].rdma_ref);
  EXPECT_EQ(1, ringOf(frameTo(x)));

  // Last NIC filter removed: the MAC moves to the default interface.
  const unsigned migrates = card_->engine().commandsSeen(1, 206);
  ASSERT_EQ(VMK_OK, nq_->remove(q1, f1));
  EXPECT_EQ(migrates + 1, card_->engine().commandsSeen(1, 206));
  EXPECT_EQ(0, a_->pmac[f1].nic_ref);
  EXPECT_EQ(0u, a_->pmac[f1].queue);
  EXPECT_EQ(0u, a_->uplink_qdata[1].activeFilters);
  EXPECT_TRUE(defaultRing(ringOf(frameTo(x))));
  EXPECT_EQ(TAMSIL_PMAC_RDMA_HELD, tamsil_pmacSrcMacLookup(a_, x.data(), TAMSIL_PMAC_KIND_NIC, nullptr, nullptr));

  // A new NIC filter takes it over where it is.
  ASSERT_EQ(VMK_OK, nq_->apply(q2, vmktest::macFilter(x.data()), &f2));
  EXPECT_EQ(f1, f2);
  EXPECT_EQ(migrates + 2, card_->engine().commandsSeen(1, 206));
  EXPECT_EQ(1u, logged("Successfully migrated mac filter from qidVal: 0 to qidVal:2"));
  EXPECT_EQ(1, a_->pmac[f2].nic_ref);
  EXPECT_EQ(2, ringOf(frameTo(x)));
  EXPECT_EQ(TAMSIL_PMAC_RDMA_HELD, rdma.hold(x.data()));
  EXPECT_EQ(2, a_->pmac[f2].rdma_ref);
  EXPECT_EQ(2u, rdma.held());

  // A failing migration keeps the filter where it was.
  card_->engine().setFault(1, 206, {.status = 3, .times = 1});
  EXPECT_EQ(VMK_FAILURE, nq_->remove(q2, f2));
  EXPECT_EQ(2, ringOf(frameTo(x)));
}

// A MAC held by an interface of another endpoint (a VF's, created by the PF
// for its domain) reaches none of the PF's rings: the adapter hands it to
// that endpoint.
TEST_F(NetqTest, FramesForAVfInterfaceReachNoRingOfThePf) {
  up(adapter::Gen::KS3);
  const netframes::Mac vf = mac(0x61);
  vmk_uint32 ifId = 0, pmac = 0;
  ASSERT_EQ(0u, tamsil_cmdIfCreate(a_, 0x1BB4, 0x14, vf.data(), false, &ifId, &pmac, 1));
  const auto before = card_->portCounters(0);
  auto got = exchange({frameTo(vf), frameTo(vf, 40001), frameTo(ownMac())});
  size_t n = 0;
  for (const auto& [ring, fs] : got) n += fs.size();
  EXPECT_EQ(1u, n);
  EXPECT_EQ(before.rx_to_endpoint + 2, card_->portCounters(0).rx_to_endpoint);
  const adapter::Adapter::EndpointFrames ep = card_->endpointFrames(ifId);
  EXPECT_EQ(2u, ep.count);
  ASSERT_EQ(2u, ep.last.size());
  EXPECT_EQ(frameTo(vf, 40001), ep.last[1]);
  EXPECT_EQ(0u, card_->endpointFrames(a_->rxo[0].if_id).count);
  EXPECT_EQ(0u, tamsil_cmdIfDestroy(a_, ifId, 1));
}

// RSS: a MAC on the RSS queue spreads its flows over the RSS rings by the
// Toeplitz hash of the driver's key, through the 128-entry table.
uint32_t toeplitz(const uint8_t* key, const std::vector<uint8_t>& in) {
  uint32_t h = 0;
  for (size_t bit = 0; bit < in.size() * 8; ++bit) {
    if (!(in[bit / 8] & (0x80 >> (bit % 8)))) continue;
    uint32_t w = 0;   // key bits bit .. bit+31
    for (size_t k = 0; k < 32; ++k)
      w = (w << 1) | ((key[(bit + k) / 8] >> (7 - (bit + k) % 8)) & 1);
    h ^= w;
  }
  return h;
}

TEST_F(NetqTest, RssSpreadsFlowsByTheToeplitzHashOverTheRssRings) {
  up(adapter::Gen::Veskarn);
  ASSERT_TRUE(a_->features & TAMSIL_FEAT_RSS);
  const vmk_uint32 L = tamsil_rssLeadingRing(a_), nRss = a_->res.max_rss_qs;
  ASSERT_GE(nRss, 3u);
  const vmk_UplinkQueueID rss = rxQueue(VMK_UPLINK_QUEUE_FEAT_RSS);
  ASSERT_EQ(L, tamsil_queueIdVal(rss));
  vmk_UplinkQueueFilterID fid = 0;
  ASSERT_EQ(VMK_OK, nq_->apply(rss, vmktest::macFilter(mac(0x33).data()), &fid));
  for (bool ifFlag : {true, false}) {
    SCOPED_TRACE(ifFlag ? "interface flag: from the leading ring" : "no interface flag: the rings above it");
    if (ifFlag)
      a_->features |= TAMSIL_FEAT_RSS_IF_FLAG;
    else
      a_->features &= ~TAMSIL_FEAT_RSS_IF_FLAG;
    ASSERT_EQ(VMK_OK, tamsil_configureRss(a_, (vmk_uint16)L));
    const vmk_uint32 first = ifFlag ? L : L + 1, n = ifFlag ? nRss : nRss - 1;
    std::vector<Bytes> frames;
    for (uint16_t s = 0; s < 48; ++s) frames.push_back(frameTo(mac(0x33), static_cast<uint16_t>(50000 + 97 * s)));
    auto got = exchange(frames);
    size_t count = 0;
    for (const auto& [ring, fs] : got) {
      for (const Bytes& f : fs) {
        ++count;
        const netframes::Parsed p = netframes::parse(f);
        std::vector<uint8_t> in(f.begin() + static_cast<long>(p.l3 + 12), f.begin() + static_cast<long>(p.l3 + 20));
        in.insert(in.end(), f.begin() + static_cast<long>(p.l4), f.begin() + static_cast<long>(p.l4 + 4));
        const uint32_t entry = toeplitz(tamsil_rssKey(), in) & 127;
        EXPECT_EQ(first + entry % n, ring) << "flow " << netframes::get16(f, p.l4);
      }
    }
    EXPECT_EQ(frames.size(), count);
    EXPECT_EQ(n, got.size()) << "48 flows reach every hashed ring";
  }
}

}  // namespace

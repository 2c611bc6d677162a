// Fixture of the NetQueue tests: the adapter of DpTest with I/O started, the
// kernel's NetQueue layer on its uplink, and a second (driverless) adapter
// whose port 0 is cabled to the card's port 0 and sends frames onto the wire
// as a peer on the network would.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "dp_fixture.h"
#include "frames.h"
#include "tamsil_cmds.h"
#include "tamsil_netq.h"
#include "vmk_netq_testing.h"

class NetqTest : public DpTest {
 protected:
  using Bytes = netframes::Bytes;

  // Associates generation `g`, starts I/O and cables the peer. With
  // `promiscuous` the default interface takes every unicast destination, as
  // the virtual switch runs its uplink.
  void up(adapter::Gen g, bool promiscuous = true) {
    associate(g);
    ASSERT_EQ(VMK_OK, startIO());
    peer_ = &newCard(g);
    adapter::Adapter::connectCable(*peer_, 0, *card_, 0);
    nq_ = std::make_unique<vmktest::NetQueue>(uplink_, cookie_);
    ASSERT_TRUE(nq_->supported());
    if (promiscuous) {
      ASSERT_EQ(0u, tamsil_cmdRxfFilterConfig(a_, a_->rxo[0].if_id, 0x4, 0x4));
    }
    // The device takes the first buffers of every ring on its own thread.
    ASSERT_TRUE(vmktest::waitFor([&] {
      for (vmk_uint32 i = 0; i < a_->num_vectors && i < TAMSIL_MAX_VECTORS; ++i)
        if (a_->rxo[i].rxq.created && card_->rxPosted(0, a_->rxo[i].rxq.id) == 0) return false;
      return true;
    })) << "the device never took the first buffers";
  }

  void TearDown() override {
    nq_.reset();
    DpTest::TearDown();
  }

  // A receive queue from the NetQueue layer, started.
  vmk_UplinkQueueID rxQueue(uint32_t features = 0) {
    vmk_UplinkQueueID qid = 0;
    EXPECT_EQ(VMK_OK, features != 0 ? nq_->allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_RX, features, &qid)
                                    : nq_->alloc(VMK_UPLINK_QUEUE_TYPE_RX, &qid));
    EXPECT_EQ(VMK_OK, nq_->start(qid));
    return qid;
  }

  static netframes::Mac mac(uint8_t last) { return {0x02, 0x51, 0x00, 0x00, 0x00, last}; }
  netframes::Mac ownMac() const {
    netframes::Mac m;
    std::copy(a_->uplink_reg.perm_mac, a_->uplink_reg.perm_mac + 6, m.begin());
    return m;
  }
  // A TCP frame of flow `sport` to `dst`.
  static Bytes frameTo(const netframes::Mac& dst, uint16_t sport = 40000, bool vxlan = false, uint32_t vni = 42) {
    netframes::Spec s;
    s.dst = dst;
    s.src = {0x02, 0x77, 0, 0, 0, 1};
    s.sport = sport;
    s.vxlan = vxlan;
    s.vni = vni;
    s.payload = netframes::pattern(100, static_cast<uint8_t>(sport));
    return netframes::build(s);
  }

  // The peer sends the frames over the cable; returns the frames the card's
  // rings handed to the stack, by ring, once every frame that was put into
  // a buffer has come up (a frame nobody wanted reaches no ring).
  std::map<vmk_uint32, std::vector<Bytes>> exchange(const std::vector<Bytes>& frames) {
    const auto before = card_->portCounters(0);
    for (const Bytes& f : frames) peer_->sendOnWire(0, f);
    const auto after = card_->portCounters(0);
    EXPECT_EQ(before.rx_frames + frames.size(), after.rx_frames);
    const size_t want = after.rx_delivered - before.rx_delivered;
    std::map<vmk_uint32, std::vector<Bytes>> got;
    size_t n = 0;
    EXPECT_TRUE(vmktest::waitFor([&] {
      for (vmk_uint32 v = 0; v < TAMSIL_MAX_VECTORS; ++v) {
        if (a_->netpoll[v].netpoll == nullptr) continue;
        for (vmk_PktHandle* p : vmktest::netPollTakeRx(a_->netpoll[v].netpoll)) {
          got[v].push_back(vmktest::pktBytes(p));
          vmk_PktRelease(p);
          ++n;
        }
      }
      return n >= want;
    })) << n << " of " << want << " frames came up";
    return got;
  }
  // A ring of the default interface: ring 0 or a DRSS ring.
  bool defaultRing(int ring) const { return ring == 0 || (ring > 0 && a_->rxo[ring].ring_type == 2); }
  // The ring one frame arrived on (-1: none, or more than one frame came up).
  int ringOf(const Bytes& f) {
    auto got = exchange({f});
    if (got.size() != 1 || got.begin()->second.size() != 1) return -1;
    return static_cast<int>(got.begin()->first);
  }

  adapter::Adapter* peer_ = nullptr;
  std::unique_ptr<vmktest::NetQueue> nq_;
};

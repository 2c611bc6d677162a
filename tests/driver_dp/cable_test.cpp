// Two emulated ports joined by a cable, each driven by the driver through
// its uplink as the network stack drives it: what one side transmits must
// arrive at the other byte for byte, with every checksum the wire carries
// valid (read by netframes, not by the adapter's own frame code).
#include <algorithm>
#include <chrono>
#include <thread>

#include "dp_fixture.h"
#include "frames.h"

namespace {

using netframes::Bytes;

struct End {
  adapter::Adapter* card = nullptr;
  vmk_Device dev = nullptr, child = nullptr;
  Adapter* a = nullptr;
  vmk_Uplink uplink = nullptr;
  vmk_AddrCookie cookie{};
  const vmk_UplinkOps& ops() const { return regDataOf(child)->ops; }
  netframes::Mac mac() const {
    netframes::Mac m;
    std::copy(a->uplink_reg.perm_mac, a->uplink_reg.perm_mac + 6, m.begin());
    return m;
  }
};

// What the stack asks of one transmitted frame.
struct Send {
  const char* what;
  netframes::Spec spec;
  bool csum = true;            // the device fills the checksums
  uint32_t mss = 0;            // TSO
  int vlan = -1;               // the device inserts this tag
};

class CableTest : public BringupTest {
 protected:
  void join(adapter::Gen g) {
    for (int i = 0; i < 2; ++i) {
      End& e = ends_[i];
      e.card = &newCard(g);
      e.dev = plug(*e.card);
      ASSERT_EQ(VMK_OK, vmktest::attachDevice(e.dev));
      ASSERT_EQ(VMK_OK, vmktest::scanDevice(e.dev));
      e.a = adapterOf(e.dev);
      ASSERT_NE(nullptr, e.a);
      e.child = vmktest::childDevices(e.dev).at(0);
      ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(regDataOf(e.child), i == 0 ? "vmnic1" : "vmnic2", &e.uplink));
      e.cookie.ptr = e.a;
    }
    adapter::Adapter::connectCable(*ends_[0].card, 0, *ends_[1].card, 0);
    startBoth();
  }
  void startBoth() {
    for (End& e : ends_) ASSERT_EQ(VMK_OK, e.ops().uplinkStartIO(e.cookie));
    // Each adapter serves doorbells on its own thread: frames the sender's
    // device puts on the cable before the receiver's device has taken the
    // buffers just posted would be dropped for want of a buffer.
    for (End& e : ends_) ASSERT_TRUE(waitPosted(e, 64, true)) << "the device never took the first buffers";
  }
  // Buffers the device holds posted: on the ring with the fewest (`every`)
  // or the most.
  static unsigned posted(End& e, bool every) {
    unsigned least = ~0u, most = 0;
    for (vmk_uint32 i = 0; i < e.a->num_vectors && i < TAMSIL_MAX_VECTORS; ++i) {
      if (!e.a->rxo[i].rxq.created) continue;
      const unsigned n = e.card->rxPosted(0, e.a->rxo[i].rxq.id);
      least = std::min(least, n);
      most = std::max(most, n);
    }
    return every ? (most == 0 ? 0 : least) : most;
  }
  // Waits (real time, up to 5 s) until posted(e, every) reaches `n`.
  static bool waitPosted(End& e, unsigned n, bool every) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (posted(e, every) < n) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  void quiesceBoth() {
    for (End& e : ends_) ASSERT_EQ(VMK_OK, e.ops().uplinkQuiesceIO(e.cookie));
    vmktest::netPollDrain();
  }
  void TearDown() override {
    for (End& e : ends_) {
      if (e.uplink == nullptr) continue;
      if (!tamsil_flagTest(e.a, TAMSIL_FLAG_IO_QUIESCED)) e.ops().uplinkQuiesceIO(e.cookie);
      vmktest::netPollDrain();
      vmktest::uplinkDisassociate(regDataOf(e.child), e.uplink);
      vmktest::removeDevice(e.child);
      e.uplink = nullptr;
    }
    BringupTest::TearDown();
  }

  // Hands the frames to the sender's default transmit queue.
  void transmit(End& from, const std::vector<Send>& sends, const netframes::Mac& dst) {
    vmk_PktList list;
    vmk_PktListInit(&list);
    for (const Send& s : sends) {
      netframes::Spec spec = s.spec;
      spec.dst = dst;
      spec.src = from.mac();
      Bytes f = netframes::build(spec);
      if (s.csum) zeroChecksums(f);
      vmk_PktHandle* p = vmktest::pktMake(f);
      ASSERT_NE(nullptr, p);
      vmktest::pktSetMustCsum(p, s.csum);
      if (s.mss != 0) {
        ASSERT_EQ(VMK_OK, vmk_PktSetLargeTcpPacket(p, s.mss));
      }
      if (s.vlan >= 0) {
        vmktest::pktSetMustVlanTag(p, true);
        ASSERT_EQ(VMK_OK, vmk_PktVlanIDSet(p, static_cast<vmk_uint16>(s.vlan & 0xFFF)));
        ASSERT_EQ(VMK_OK, vmk_PktPrioritySet(p, static_cast<vmk_uint8>(s.vlan >> 13)));
      }
      vmk_PktQueueIDSet(p, from.a->queue_info.maxRxQueues);   // default transmit queue
      ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&list, p));
    }
    ASSERT_EQ(VMK_OK, from.ops().uplinkTx(from.cookie, &list));
  }

  // Frames the receiver's NetPolls handed to the stack, until `n` arrived
  // or a (real) second passed without a new one.
  std::vector<Bytes> receive(End& at, size_t n, std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    std::vector<Bytes> got;
    auto last = std::chrono::steady_clock::now();
    while (got.size() < n && std::chrono::steady_clock::now() - last < quiet) {
      bool any = false;
      for (vmk_uint32 v = 0; v < TAMSIL_MAX_VECTORS; ++v) {
        if (at.a->netpoll[v].netpoll == nullptr) continue;
        for (vmk_PktHandle* p : vmktest::netPollTakeRx(at.a->netpoll[v].netpoll)) {
          got.push_back(vmktest::pktBytes(p));
          vlans_.push_back(vmk_PktMustVlanTag(p) ? vmk_PktVlanIDGet(p) : -1);
          csum_marked_ += vmk_PktIsCsumVfd(p) ? 1 : 0;
          vmk_PktRelease(p);
          any = true;
        }
      }
      if (any) last = std::chrono::steady_clock::now();
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return got;
  }

  static void zeroChecksums(Bytes& f) {
    const netframes::Parsed p = netframes::parse(f, 0, false);
    if (!p.ok) return;
    if (!p.ipv6) f[p.l3 + 10] = f[p.l3 + 11] = 0;
    const size_t at = p.l4 + (p.proto == 6 ? 16 : 6);
    f[at] = f[at + 1] = 0;
  }

  End ends_[2];
  std::vector<int> vlans_;
  unsigned csum_marked_ = 0;
};

std::vector<Send> mix(adapter::Gen g) {
  std::vector<Send> v;
  auto add = [&](const char* what, size_t payload, bool v6, uint8_t proto, int vlan = -1) {
    Send s{what, {}, true, 0, vlan};
    s.spec.ipv6 = v6;
    s.spec.proto = proto;
    s.spec.payload = netframes::pattern(payload, static_cast<uint8_t>(v.size()));
    s.spec.ip_id = static_cast<uint16_t>(100 + v.size());
    v.push_back(s);
  };
  add("runt UDP", 1, false, 17);
  add("small TCP", 6, false, 6);
  add("mid UDP", 500, false, 17);
  add("full TCP", 1460, false, 6);
  add("full UDP", 1472, false, 17);
  add("IPv6 TCP", 1000, true, 6);
  add("IPv6 UDP", 1200, true, 17);
  add("tagged by the device", 800, false, 6, 0x6000 | 77);
  Send raw{"no offload asked", {}, false, 0, -1};
  raw.spec.payload = netframes::pattern(300, 9);
  v.push_back(raw);
  if (g == adapter::Gen::Veskarn) {
    Send vx{"VXLAN", {}, true, 0, -1};
    vx.spec.vxlan = true;
    vx.spec.payload = netframes::pattern(700, 11);
    v.push_back(vx);
  }
  return v;
}

TEST_F(CableTest, FramesCrossByteIdenticalWithValidChecksumsOnEveryGeneration) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    join(g);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(round == 0 ? "first start" : "after quiesce and start again");
      for (int dir = 0; dir < 2; ++dir) {
        End& from = ends_[dir];
        End& to = ends_[1 - dir];
        const std::vector<Send> sends = mix(g);
        vlans_.clear();
        transmit(from, sends, to.mac());
        std::vector<Bytes> got = receive(to, sends.size());
        ASSERT_EQ(sends.size(), got.size());
        // Flows hash to different rings, whose NetPolls hand over in any
        // order: match what arrived by payload (each frame's is distinct).
        const auto wire = from.card->takeWire(0);
        ASSERT_EQ(sends.size(), wire.size());
        for (size_t i = 0; i < sends.size(); ++i) {
          SCOPED_TRACE(sends[i].what);
          EXPECT_TRUE(netframes::checksumsValid(wire[i]));
          netframes::Spec spec = sends[i].spec;
          spec.dst = to.mac();
          spec.src = from.mac();
          const Bytes want = netframes::payloadOf(netframes::build(spec));
          auto hit = std::find_if(got.begin(), got.end(), [&](const Bytes& f) { return netframes::payloadOf(f) == want; });
          ASSERT_NE(got.end(), hit) << "not received";
          EXPECT_TRUE(netframes::checksumsValid(*hit));
          got.erase(hit);
          if (sends[i].vlan >= 0) {
            const netframes::Parsed on_wire = netframes::parse(wire[i]);
            ASSERT_TRUE(on_wire.vlan_tci.has_value());
            EXPECT_EQ(sends[i].vlan, *on_wire.vlan_tci);
          }
        }
      }
      quiesceBoth();
      startBoth();
    }
    TearDown();
    SetUp();
  }
}

TEST_F(CableTest, A100000ByteTsoSendArrivesAsMssSegmentsThatReassemble) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    join(g);
    // The rings start with a batch of buffers and grow by a batch a poll:
    // grow the TSO flow's ring first, as traffic before it would have (the
    // warm-up frames belong to the same flow, so they reach the same ring).
    const size_t segments = (100000 + 1447) / 1448;
    for (int i = 0; i < 60 && posted(ends_[1], false) < segments + 16; ++i) {
      Send small{"warm-up", {}, true, 0, -1};
      small.spec.payload = netframes::pattern(64, static_cast<uint8_t>(i));
      transmit(ends_[0], std::vector<Send>(32, small), ends_[1].mac());
      receive(ends_[1], 32, std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(waitPosted(ends_[1], static_cast<unsigned>(segments) + 16, false));
    ends_[0].card->takeWire(0);
    Send big{"TSO", {}, true, 1448, -1};
    big.spec.payload = netframes::pattern(100000, 3);
    transmit(ends_[0], {big}, ends_[1].mac());
    const std::vector<Bytes> got = receive(ends_[1], segments);
    ASSERT_EQ(segments, got.size());
    for (const Bytes& s : got) {
      EXPECT_TRUE(netframes::checksumsValid(s));
      EXPECT_LE(netframes::payloadOf(s).size(), 1448u);
    }
    const auto whole = netframes::reassemble(got);
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(big.spec.payload, *whole);
    TearDown();
    SetUp();
  }
}

}  // namespace

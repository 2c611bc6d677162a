// The transmit path end to end: packets handed to the uplink's transmit
// operation, checked as they leave the emulated port (its wire capture) or
// reach its management controller, the completions reaped, and nothing left
// in the kernel stand-in afterwards.
#include <array>
#include <chrono>
#include <functional>
#include <thread>

#include "dp_fixture.h"
#include "dp_frame.h"
#include "tamsil_txvlan.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t be16(const Bytes& f, size_t o) { return static_cast<uint16_t>((f[o] << 8) | f[o + 1]); }
void put16(Bytes& f, size_t o, uint16_t v) {
  f[o] = static_cast<uint8_t>(v >> 8);
  f[o + 1] = static_cast<uint8_t>(v);
}

// ---- frames ----

struct Spec {
  bool v6 = false;
  uint8_t proto = 6;   // 6 TCP, 17 UDP, 58 ICMPv6, 0: none (ARP)
  size_t payload = 100;
  std::array<uint8_t, 6> dst{0x02, 0, 0, 0, 0, 0x99};
  uint16_t dport = 80;
  uint8_t icmpType = 0;
  uint16_t ipTotal = 0;   // IPv4 total length; 0: the real one
};

Bytes frame(const Spec& s) {
  Bytes f(s.dst.begin(), s.dst.end());
  f.insert(f.end(), {0x02, 0x11, 0x22, 0x33, 0x44, 0x55});
  if (s.proto == 0) {   // ARP request
    f.insert(f.end(), {0x08, 0x06, 0, 1, 0x08, 0, 6, 4, 0, 1});
    f.resize(60, 0);
    return f;
  }
  size_t l4len = (s.proto == 6 ? 20 : s.proto == 17 ? 8 : 4) + s.payload;
  if (!s.v6) {
    f.insert(f.end(), {0x08, 0x00, 0x45, 0, 0, 0, 0x12, 0x34, 0x40, 0, 64, s.proto, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2});
    put16(f, 16, s.ipTotal ? s.ipTotal : static_cast<uint16_t>(20 + l4len > 0xFFFF ? 0xFFFF : 20 + l4len));
  } else {
    f.insert(f.end(), {0x86, 0xDD, 0x60, 0, 0, 0, 0, 0, s.proto, 64});
    put16(f, 18, static_cast<uint16_t>(l4len > 0xFFFF ? 0xFFFF : l4len));
    for (int i = 0; i < 32; i++) f.push_back(static_cast<uint8_t>(i == 15 || i == 31 ? 1 : 0xFE));
  }
  if (s.proto == 6) {
    f.insert(f.end(), {0x04, 0xD2, static_cast<uint8_t>(s.dport >> 8), static_cast<uint8_t>(s.dport), 0, 0, 1, 0,
                       0, 0, 0, 0, 0x50, 0x18, 0xFF, 0xFF, 0, 0, 0, 0});
  } else if (s.proto == 17) {
    f.insert(f.end(), {0x04, 0xD2, static_cast<uint8_t>(s.dport >> 8), static_cast<uint8_t>(s.dport), 0, 0, 0, 0});
    put16(f, f.size() - 4, static_cast<uint16_t>(l4len));
  } else {
    f.insert(f.end(), {s.icmpType, 0, 0, 0});
  }
  for (size_t i = 0; i < s.payload; i++) f.push_back(static_cast<uint8_t>(i * 7 + 3));
  return f;
}

// The frame with a tag control word inserted after the addresses.
Bytes tagged(Bytes f, uint16_t tci) {
  f.insert(f.begin() + 12, {0x81, 0x00, static_cast<uint8_t>(tci >> 8), static_cast<uint8_t>(tci)});
  return f;
}

// Checksums of a frame on the wire.
bool checksumsValid(const Bytes& f) {
  adapter::dp::Layout l = adapter::dp::parse(f);
  if (l.ipv4 && !adapter::dp::ipv4ChecksumOk(f, l)) return false;
  return l.l4 == 0 || adapter::dp::l4ChecksumOk(f, l);
}

// The frame as sent, with the checksum fields the adapter filled in taken
// from the frame on the wire (checked valid on their own).
Bytes withWireChecksums(Bytes want, const Bytes& onWire) {
  adapter::dp::Layout l = adapter::dp::parse(onWire);
  auto take = [&](size_t at) {
    if (at + 1 < want.size() && at + 1 < onWire.size()) {
      want[at] = onWire[at];
      want[at + 1] = onWire[at + 1];
    }
  };
  if (l.ipv4) take(l.l3 + 10);
  if (l.l4 != 0) take(l.l4 + (l.proto == 6 ? 16 : 6));
  return want;
}

// ---- the fixture ----

class TxTest : public DpTest {
 protected:
  // A card of generation `g` with its uplink associated and the default
  // transmit queue allocated and started, as I/O start leaves it.
  void open(adapter::Gen g, unsigned functionMode = 0) {
    associate(g);
    if (HasFatalFailure()) return;
    a_->function_mode = static_cast<vmk_uint8>(functionMode);
    txq_ = a_->queue_info.maxRxQueues;
    a_->txo[0].qdata->flags |= TAMSIL_QDATA_DEFAULT;
    a_->queue_info.defaultTxQueueID = tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_TX, txq_);
    tamsil_startTxQueue(a_, 0, 0);
  }
  tamsil_txo& txo() { return a_->txo[0]; }

  vmk_PktHandle* pkt(const Bytes& f, uint32_t headroom = 0) {
    vmk_PktHandle* p = vmktest::pktMake(f, headroom);
    vmk_PktQueueIDSet(p, txq_);
    return p;
  }
  VMK_ReturnStatus send(vmk_PktHandle* p) {
    vmk_PktList l;
    vmk_PktListInit(&l);
    vmk_PktListAppendPkt(&l, p);
    VMK_ReturnStatus st = ops().uplinkTx(cookie_, &l);
    vmk_PktListReleaseAllPkts(&l);
    return st;
  }
  VMK_ReturnStatus send(const Bytes& f, const std::function<void(vmk_PktHandle*)>& marks = {}, uint32_t headroom = 0) {
    vmk_PktHandle* p = pkt(f, headroom);
    if (marks) marks(p);
    return send(p);
  }
  // What left the port, after the device served every doorbell.
  std::vector<Bytes> wire() {
    EXPECT_TRUE(card_->waitIdle());
    return card_->takeWire(0);
  }
  std::vector<adapter::TxFrame> described() {
    EXPECT_TRUE(card_->waitIdle());
    return card_->takeTxFrames(0);
  }
  // Reaps every completion the device wrote; the ring is empty after.
  void reap() {
    ASSERT_TRUE(card_->waitIdle());
    tamsil_pollTx(a_, &txo(), VMK_FALSE, VMK_FALSE);
    EXPECT_EQ(0u, vmk_AtomicRead64(&txo().q.used));
  }
  // Feeds an async event through the firmware channel and waits until the
  // driver has taken it.
  void event(const adapter::AsyncEvent& e, const std::function<bool()>& taken) {
    ASSERT_TRUE(card_->injectAsyncEvent(0, e));
    ASSERT_TRUE(vmktest::waitFor(taken));
  }

  vmk_uint32 txq_ = 0;
};

// ---- queue ids ----

TEST_F(TxTest, OnlyTransmitQueueIdsAreTakenAndABadOneIsDroppedAndCounted) {
  open(adapter::Gen::KS3);
  const vmk_uint32 R = a_->queue_info.maxRxQueues, T = a_->queue_info.maxTxQueues;
  const Bytes f = frame({});
  for (vmk_uint32 q : {0u, R - 1, R + T, 0xFFFFu}) {
    SCOPED_TRACE(q);
    vmk_PktHandle* p = vmktest::pktMake(f);
    vmk_PktQueueIDSet(p, q);
    const vmk_uint64 before = a_->counters.count_invalid_txq_mapping;
    EXPECT_EQ(VMK_OK, send(p));
    EXPECT_EQ(before + 1, a_->counters.count_invalid_txq_mapping);
  }
  EXPECT_TRUE(wire().empty());
  // A bad first packet: the next one names the queue for the rest.
  vmk_PktList l;
  vmk_PktListInit(&l);
  vmk_PktHandle* bad = vmktest::pktMake(f);
  vmk_PktQueueIDSet(bad, 0);
  vmk_PktListAppendPkt(&l, bad);
  vmk_PktListAppendPkt(&l, pkt(f));
  vmk_PktHandle* rest = vmktest::pktMake(f);
  vmk_PktQueueIDSet(rest, 0);   // reuses the queue of the packet before it
  vmk_PktListAppendPkt(&l, rest);
  EXPECT_EQ(VMK_OK, ops().uplinkTx(cookie_, &l));
  EXPECT_EQ(2u, wire().size());
  EXPECT_EQ(5u, a_->counters.count_invalid_txq_mapping);
  reap();
  EXPECT_EQ(2u, txo().tx_pkts);
  EXPECT_EQ(2u, txo().tx_compl);
  EXPECT_EQ(2u, vmktest::netPollCompleted(a_->netpoll[0].netpoll));
}

// ---- trimming and padding ----

TEST_F(TxTest, ShortFramesAreTrimmedOrPaddedAsTheTableSays) {
  struct Case {
    adapter::Gen gen;
    unsigned mode;
    size_t len;        // frame length handed over
    uint16_t ipTotal;  // IPv4 total length (0: not IP)
    bool shared;       // a clone holds the buffer: not writable
    size_t wire;       // length on the wire, 0: dropped
  };
  const Case cases[] = {
      {adapter::Gen::KS3, 2, 60, 40, false, 54},  {adapter::Gen::KS3, 2, 60, 40, true, 54},
      {adapter::Gen::Veskarn, 2, 60, 40, false, 60}, {adapter::Gen::KS3, 0, 60, 40, false, 60},
      {adapter::Gen::Pivard, 0, 60, 40, false, 54},  {adapter::Gen::KS2, 4, 60, 46, false, 60},
      {adapter::Gen::KS3, 2, 60, 50, false, 0},   {adapter::Gen::Veskarn, 0, 30, 0, false, 36},
      {adapter::Gen::Pivard, 0, 32, 0, true, 36},  {adapter::Gen::KS2, 0, 33, 0, false, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << genText(c.gen) << " mode " << c.mode << " len " << c.len << " ip "
                                      << c.ipTotal << (c.shared ? " shared" : ""));
    open(c.gen, c.mode);
    Bytes f;
    if (c.ipTotal != 0) {
      Spec s;
      s.proto = 17;
      s.payload = 0;
      s.ipTotal = c.ipTotal;
      f = frame(s);
    } else {
      f = {0x02, 0, 0, 0, 0, 0x99, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x88, 0xB5};
    }
    for (size_t i = f.size(); i < c.len; i++) f.push_back(static_cast<uint8_t>(0xA0 + i));
    vmk_PktHandle* p = pkt(f);
    // Checksum offload keeps the driver from tagging the frame itself in
    // the multi-channel modes.
    vmktest::pktSetMustCsum(p, c.ipTotal != 0);
    vmk_PktHandle* clone = nullptr;
    if (c.shared) {
      ASSERT_EQ(VMK_OK, vmk_PktClone(p, &clone));
    }
    EXPECT_EQ(VMK_OK, send(p));
    std::vector<Bytes> w = wire();
    if (c.wire == 0) {
      EXPECT_TRUE(w.empty());
      EXPECT_EQ(1u, txo().tx_trim_fail_drops);
    } else {
      ASSERT_EQ(1u, w.size());
      EXPECT_EQ(c.wire, w[0].size());
      Bytes want(f.begin(), f.begin() + std::min(c.wire, f.size()));
      want.resize(c.wire, 0);   // padding is zeros
      if (c.ipTotal != 0) {     // the checksums were filled in
        EXPECT_TRUE(checksumsValid(w[0]));
        want = withWireChecksums(want, w[0]);
      }
      EXPECT_EQ(want, w[0]);
      EXPECT_EQ(c.len < 33 ? 1u : 0u, txo().tx_pkt_less_than_min);
    }
    if (clone != nullptr) {
      EXPECT_EQ(f, vmktest::pktBytes(clone));   // the caller's bytes untouched
      vmk_PktRelease(clone);
    }
    reap();
    TearDown();
    SetUp();
  }
}

// ---- header bits, checked as the adapter acts on them ----

TEST_F(TxTest, OffloadsReachTheWireWithTheHeaderBitsOfEachGeneration) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    open(g);
    const bool piv = g == adapter::Gen::Pivard;
    // UDP and TCP checksum offload.
    for (uint8_t proto : {uint8_t(17), uint8_t(6)}) {
      Spec s;
      s.proto = proto;
      Bytes f = frame(s);
      send(f, [](vmk_PktHandle* p) { vmktest::pktSetMustCsum(p, true); });
      std::vector<adapter::TxFrame> d = described();
      ASSERT_EQ(1u, d.size());
      EXPECT_EQ(proto == 17 ? 1u << 7 : 1u << 8, d[0].hdr[2] & 0x3C0u);
      EXPECT_EQ(0x7u, d[0].hdr[2] & 0x7u);
      EXPECT_EQ(f.size(), d[0].hdr[3] & 0xFFFF);
      std::vector<Bytes> w = card_->takeWire(0);
      ASSERT_EQ(1u, w.size());
      EXPECT_TRUE(checksumsValid(w[0]));
    }
    // IPv4 and IPv6 TSO: MSS-sized segments, Pivard's MSS floor, the IPv6 bit.
    for (bool v6 : {false, true}) {
      Spec s;
      s.v6 = v6;
      s.payload = 3000;
      Bytes f = frame(s);
      const vmk_uint32 mss = 200;
      send(f, [&](vmk_PktHandle* p) { vmk_PktSetLargeTcpPacket(p, mss); });
      std::vector<adapter::TxFrame> d = described();
      ASSERT_EQ(1u, d.size());
      EXPECT_NE(0u, d[0].hdr[2] & (1u << 9));
      EXPECT_EQ(piv ? 256u : mss, d[0].hdr[2] >> 18);
      EXPECT_EQ(v6 && !piv, (d[0].hdr[2] & (1u << 4)) != 0);
      std::vector<Bytes> w = card_->takeWire(0);
      const size_t seg = piv ? 256 : mss;
      EXPECT_EQ((3000 + seg - 1) / seg, w.size());
      Bytes payload;
      for (const Bytes& x : w) {
        EXPECT_TRUE(checksumsValid(x));
        const size_t hl = v6 ? 14 + 40 + 20 : 14 + 20 + 20;
        payload.insert(payload.end(), x.begin() + hl, x.end());
      }
      EXPECT_EQ(Bytes(f.end() - 3000, f.end()), payload);
    }
    EXPECT_EQ(piv ? 2u : 0u, txo().tx_tso_less_than_min_mss);
    // Two fragments: a dummy entry evens the count except on Pivard.
    Bytes f = frame({});
    vmk_PktHandle* p = pkt(f);
    ASSERT_TRUE(vmktest::pktSetSgLayout(p, {50, static_cast<uint32_t>(f.size() - 50)}));
    send(p);
    std::vector<adapter::TxFrame> d = described();
    ASSERT_EQ(1u, d.size());
    EXPECT_EQ(piv ? 3u : 4u, (d[0].hdr[2] >> 13) & 0x1F);
    std::vector<Bytes> w = card_->takeWire(0);
    ASSERT_EQ(1u, w.size());
    EXPECT_EQ(f, w[0]);
    reap();
    TearDown();
    SetUp();
  }
}

TEST_F(TxTest, AFramesOwnVlanPriorityIsKeptOnTheWire) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    open(g);
    EXPECT_EQ(0xFF, tamsil_evtLoad(a_->vlan_prio_bmap));
    __atomic_store_n(&a_->recommended_prio, 5 << 13, __ATOMIC_RELAXED);
    Bytes f = frame({});
    // With checksum offload the adapter inserts the tag; without it the
    // KS and Pivard drivers write it themselves. Either way the same bytes.
    for (bool csum : {true, false}) {
      for (vmk_uint8 prio : {3, 6}) {
        __atomic_store_n(&a_->vlan_prio_bmap, static_cast<vmk_uint8>(0xFF & ~(1u << 6)), __ATOMIC_RELAXED);
        send(f, [&](vmk_PktHandle* p) {
          vmktest::pktSetMustVlanTag(p, true);
          vmk_PktVlanIDSet(p, 42);
          vmk_PktPrioritySet(p, prio);
          vmktest::pktSetMustCsum(p, csum);
        });
        std::vector<Bytes> w = wire();
        ASSERT_EQ(1u, w.size());
        const uint16_t prioOnWire = prio == 6 ? 5 : prio;   // 6 is not allowed: the recommended one
        Bytes want = tagged(f, static_cast<uint16_t>(prioOnWire << 13 | 42));
        if (csum) {
          EXPECT_TRUE(checksumsValid(w[0]));
          want = withWireChecksums(want, w[0]);
        }
        EXPECT_EQ(want, w[0]);
      }
    }
    reap();
    TearDown();
    SetUp();
  }
}

// ---- stop and restart ----

TEST_F(TxTest, QueueStopsAtTheHighMarkAndRestartsBelowHalf) {
  open(adapter::Gen::KS3);
  const Bytes f = frame({});
  // Two entries a packet: the 1009th leaves 2018 in flight and stops it.
  for (int i = 0; i < 1009; i++) ASSERT_EQ(VMK_OK, send(f)) << i;
  EXPECT_EQ(2018u, vmk_AtomicRead64(&txo().q.used));
  EXPECT_TRUE(tamsil_isTxQueueStopped(a_, 0));
  EXPECT_EQ(0, vmktest::uplinkQueueState(uplink_, txq_));
  EXPECT_EQ(1u, vmktest::uplinkQueueStops(uplink_, txq_));
  EXPECT_EQ(1u, txo().tx_stops);
  // A stopped queue hands the packet back.
  vmk_PktList l;
  vmk_PktListInit(&l);
  vmk_PktListAppendPkt(&l, pkt(f));
  EXPECT_EQ(VMK_BUSY, ops().uplinkTx(cookie_, &l));
  EXPECT_EQ(1u, vmk_PktListGetCount(&l));
  vmk_PktListReleaseAllPkts(&l);
  ASSERT_TRUE(card_->waitIdle());
  EXPECT_EQ(1009u, card_->takeWire(0).size());

  // Completions hidden from the 498th on: 497 reaped leave 1024 in flight.
  uint32_t* cq = static_cast<uint32_t*>(txo().cq.mem.va);
  const unsigned base = txo().cq.tail;
  std::vector<uint32_t> saved;
  for (unsigned i = 497; i < 1009; i++) {
    saved.push_back(cq[4 * ((base + i) % 1024) + 3]);
    cq[4 * ((base + i) % 1024) + 3] = 0;
  }
  EXPECT_EQ(497u, tamsil_pollTx(a_, &txo(), VMK_FALSE, VMK_FALSE));
  EXPECT_EQ(1024u, vmk_AtomicRead64(&txo().q.used));
  EXPECT_TRUE(tamsil_isTxQueueStopped(a_, 0));
  cq[4 * ((base + 497) % 1024) + 3] = saved[0];
  EXPECT_EQ(1u, tamsil_pollTx(a_, &txo(), VMK_FALSE, VMK_FALSE));
  EXPECT_EQ(1022u, vmk_AtomicRead64(&txo().q.used));
  EXPECT_FALSE(tamsil_isTxQueueStopped(a_, 0));
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, txq_));
  for (unsigned i = 498; i < 1009; i++) cq[4 * ((base + i) % 1024) + 3] = saved[i - 497];
  reap();
  EXPECT_EQ(1009u, txo().tx_compl);
}

// ---- quiesce ----

TEST_F(TxTest, QuiesceDrainsWhatTheAdapterCompletedThenFreesTheRestItself) {
  for (adapter::Gen g : {adapter::Gen::Veskarn, adapter::Gen::Pivard}) {
    SCOPED_TRACE(genText(g));
    open(g);
    const Bytes f = frame({});
    send(f);
    send(f);
    ASSERT_TRUE(card_->waitIdle());
    // Two more the adapter never hears of (no doorbell under a hardware
    // error), then the error is gone again: the drain waits its whole time.
    __atomic_store_n(&a_->hw_error, 1, __ATOMIC_RELAXED);
    send(f);
    send(f);
    __atomic_store_n(&a_->hw_error, 0, __ATOMIC_RELAXED);
    const unsigned completedBefore = vmktest::netPollCompleted(a_->netpoll[0].netpoll);
    tamsil_txComplClean(a_);
    const int polls = g == adapter::Gen::Pivard ? 3000 : 200;
    EXPECT_EQ(1u, logged("1 TX queues pending completion. timeo: " + std::to_string(polls) + ", hw_error: 0"));
    EXPECT_EQ(1u, logged("4 pending tx-completions on txo[0]"));
    EXPECT_EQ(0u, vmk_AtomicRead64(&txo().q.used));
    EXPECT_EQ(txo().q.head, txo().q.tail);
    // Nothing went to the stack's completion queue: the drain releases.
    EXPECT_EQ(completedBefore, vmktest::netPollCompleted(a_->netpoll[0].netpoll));
    EXPECT_EQ(0, vmktest::live().packets);
    EXPECT_EQ(2u, card_->takeWire(0).size());
    TearDown();
    SetUp();
  }
}

TEST_F(TxTest, QuiesceLeavesAnInconsistentRingAlone) {
  open(adapter::Gen::KS3);
  __atomic_store_n(&a_->hw_error, 1, __ATOMIC_RELAXED);
  send(frame({}));
  vmk_AtomicAdd64(&txo().q.used, 2);   // out of step with the indices
  tamsil_txComplClean(a_);
  EXPECT_EQ(1u, logged("txo[0]: (tail - head) (2) != used (4). Not freeing pending Tx Compls"));
  EXPECT_EQ(1, vmktest::live().packets);
  // Put right and freed.
  vmk_AtomicSub64(&txo().q.used, 2);
  tamsil_txComplClean(a_);
  EXPECT_EQ(0, vmktest::live().packets);
  __atomic_store_n(&a_->hw_error, 0, __ATOMIC_RELAXED);
}

// ---- mapping failure and fragment bounds ----

TEST_F(TxTest, AMappingFailureInTheMiddleOfAFrameUnwindsEveryEntry) {
  open(adapter::Gen::KS3);
  const Bytes f = frame({});
  const vmk_uint16 head = txo().q.head;
  const long mapsBefore = vmktest::live().dmaMappings;
  vmk_PktHandle* p = pkt(f);
  ASSERT_TRUE(vmktest::pktSetSgLayout(p, {20, 20, 20, static_cast<uint32_t>(f.size() - 60)}));
  vmktest::failCall("vmk_DMAMapElem", 3);
  EXPECT_EQ(VMK_OK, send(p));
  EXPECT_EQ(1u, txo().tx_dma_map_fail_drops);
  EXPECT_EQ(head, txo().q.head);
  EXPECT_EQ(0u, vmk_AtomicRead64(&txo().q.used));
  EXPECT_EQ(mapsBefore, vmktest::live().dmaMappings);
  EXPECT_EQ(0, vmktest::live().packets);
  EXPECT_EQ(1u, logged("Failed to map"));
  EXPECT_TRUE(wire().empty());
  // The ring goes on from the same place.
  send(f);
  std::vector<Bytes> w = wire();
  ASSERT_EQ(1u, w.size());
  EXPECT_EQ(f, w[0]);
  reap();
}

TEST_F(TxTest, APacketOfMoreFragmentsThanAnEntryCountHoldsIsSentAsOne) {
  open(adapter::Gen::KS3);
  Spec s;
  s.payload = 1000;
  const Bytes f = frame(s);
  for (unsigned n : {20u, 40u}) {
    SCOPED_TRACE(n);
    vmk_PktHandle* p = pkt(f);
    std::vector<uint32_t> lay(n, static_cast<uint32_t>(f.size() / n));
    lay.back() += static_cast<uint32_t>(f.size() % n);
    ASSERT_TRUE(vmktest::pktSetSgLayout(p, lay));
    send(p);
    std::vector<adapter::TxFrame> d = described();
    ASSERT_EQ(1u, d.size());
    // 20 fragments: header, 20, dummy. 40: copied into one.
    EXPECT_EQ(n == 20 ? 22u : 2u, (d[0].hdr[2] >> 13) & 0x1F);
    std::vector<Bytes> w = card_->takeWire(0);
    ASSERT_EQ(1u, w.size());
    EXPECT_EQ(f, w[0]);
  }
  EXPECT_EQ(1u, txo().tx_linearized_pkts);
  reap();
}

TEST_F(TxTest, AQueueStartedWithTheRingNearlyFullDropsWhatDoesNotFit) {
  open(adapter::Gen::Veskarn);
  const Bytes f = frame({});
  // The queue is started again by others (a link change, a reconfiguration)
  // while entries are still in flight: the ring takes what it has room for.
  unsigned sent = 0;
  while (vmk_AtomicRead64(&txo().q.used) < 2048) {
    tamsil_startTxQueue(a_, 0, 0);
    ASSERT_EQ(VMK_OK, send(f));
    ASSERT_LT(++sent, 1100u);
  }
  EXPECT_EQ(1024u, sent);
  tamsil_startTxQueue(a_, 0, 0);
  send(f);
  EXPECT_EQ(1u, txo().tx_ring_full_drops);
  EXPECT_EQ(0u, txo().tx_linearized_pkts);
  EXPECT_EQ(1024u, wire().size());
  reap();
}

// ---- segmentation of oversize TSO frames ----

TEST_F(TxTest, AHundredThousandByteTsoFrameIsCutIntoPiecesThatReassemble) {
  open(adapter::Gen::Veskarn);
  Spec s;
  s.payload = 100000 - 54;
  const Bytes f = frame(s);
  send(f, [](vmk_PktHandle* p) { vmk_PktSetLargeTcpPacket(p, 1448); });
  std::vector<adapter::TxFrame> d = described();
  ASSERT_EQ(3u, d.size());
  for (const adapter::TxFrame& x : d) {
    EXPECT_EQ(1448u, x.hdr[2] >> 18);
    EXPECT_LE(x.bytes.size() - 54, 49152u);
  }
  std::vector<Bytes> w = card_->takeWire(0);
  Bytes payload;
  for (const Bytes& x : w) {
    EXPECT_LE(x.size() - 54, 1448u);
    EXPECT_TRUE(checksumsValid(x));
    payload.insert(payload.end(), x.begin() + 54, x.end());
  }
  EXPECT_EQ(Bytes(f.begin() + 54, f.end()), payload);
  EXPECT_EQ(1u, a_->counters.tso_gr_than_64k);
  // Without an MSS it is dropped.
  send(f);
  EXPECT_EQ(1u, a_->counters.tso_drop_gr_than_64k);
  reap();
}

// ---- tags the driver writes, and the management controller's copies ----

TEST_F(TxTest, TagsTheDriverWritesFollowTheFunctionModeAndTheFirmwaresEvents) {
  struct Case {
    const char* what;
    unsigned mode;
    uint16_t qnq, pvid;   // fed by the firmware's events (0: none)
    bool mustTag;         // the stack wants VLAN 5, priority 3
    uint32_t headroom;    // room before the frame: tags written in place
    bool refuse;          // no hardware tagging granted by the firmware
    std::vector<uint16_t> tags;   // on the wire, outer first; empty: dropped
  };
  const Case cases[] = {
      {"QnQ outer and own tag", 4, 100, 0, true, 0, false, {100, 3 << 13 | 5}},
      {"QnQ in place", 4, 100, 0, true, 8, false, {100, 3 << 13 | 5}},
      {"PVID mode", 2, 0, 7, false, 0, false, {7}},
      {"QnQ untagged with a PVID: the outer tag alone", 4, 100, 7, false, 0, false, {100}},
      {"PVID mode without a PVID", 2, 0, 0, false, 0, false, {}},
      {"no hardware tagging", 2, 0, 7, false, 0, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    open(adapter::Gen::KS3, c.mode);
    event(adapter::priorityEvent(1u << 3, 6, true), [&] { return tamsil_evtLoad(a_->vlan_prio_bmap) == 1u << 3; });
    if (c.qnq) event(adapter::qnqEvent(true, c.qnq), [&] { return tamsil_evtLoad(a_->qnq_vid) == c.qnq; });
    if (c.pvid) event(adapter::pvidEvent(true, c.pvid), [&] { return tamsil_evtLoad(a_->pvid) == c.pvid; });
    if (c.refuse) __atomic_store_n(&a_->qnq_received, 0, __ATOMIC_RELAXED);
    const Bytes f = frame({});
    send(
        f,
        [&](vmk_PktHandle* p) {
          vmktest::pktSetMustVlanTag(p, c.mustTag);
          vmk_PktVlanIDSet(p, 5);
          vmk_PktPrioritySet(p, 3);
        },
        c.headroom);
    std::vector<Bytes> w = wire();
    if (c.tags.empty()) {
      EXPECT_TRUE(w.empty());
      EXPECT_EQ(1u, txo().tx_vlan_insert_by_drvr_drops);
      EXPECT_EQ(1u, logged(c.refuse ? "HW tagging is not enabled by FW" : "vlanHdrLen = 0 which is Unexpected"));
    } else {
      Bytes want = f;
      for (size_t i = c.tags.size(); i-- > 0;) want = tagged(want, c.tags[i]);
      ASSERT_EQ(1u, w.size());
      EXPECT_EQ(want, w[0]);
      EXPECT_EQ(f.size() + 4 * c.tags.size(), w[0].size());
      EXPECT_EQ(1u, txo().tx_vlan_insert_by_drvr_pkts);
    }
    reap();
    TearDown();
    SetUp();
  }
}

TEST_F(TxTest, TheManagementControllerGetsTheFramesItsFilterSelects) {
  open(adapter::Gen::Veskarn);
  event(adapter::os2bmcEvent(true, 0x8080), [&] { return (tamsil_evtLoad(a_->features) & TAMSIL_FEAT_OS2BMC) != 0; });
  EXPECT_EQ(0x8080, tamsil_evtLoad(a_->os2bmc_filter));
  const std::array<uint8_t, 6> mcast{0x01, 0, 0x5E, 0, 0, 1}, bcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      v6mcast{0x33, 0x33, 0, 1, 0, 2}, ucast{0x02, 0, 0, 0, 0, 0x99};
  auto udp = [](std::array<uint8_t, 6> dst, uint16_t port, bool v6 = false) {
    Spec s;
    s.proto = 17;
    s.dst = dst;
    s.dport = port;
    s.v6 = v6;
    return frame(s);
  };
  auto icmp6 = [&](uint8_t type) {
    Spec s;
    s.v6 = true;
    s.proto = 58;
    s.dst = v6mcast;
    s.icmpType = type;
    return frame(s);
  };
  auto arp = [&] {
    Spec s;
    s.proto = 0;
    s.dst = bcast;
    return frame(s);
  };
  struct Case {
    const char* what;
    uint16_t mask;
    Bytes f;
    bool copied;
  };
  const Case cases[] = {
      {"multicast, all multicast wanted", 0x0000, udp(mcast, 1000), true},
      {"multicast, listed only", 0x8080, udp(mcast, 1000), false},
      {"broadcast, all broadcast wanted", 0x8000, udp(bcast, 1000), true},
      {"broadcast, listed only", 0x8080, udp(bcast, 1000), false},
      {"ARP", 0x8081, arp(), true},
      {"ARP not wanted", 0x8080, arp(), false},
      {"DHCP server port", 0x8084, udp(bcast, 67), true},
      {"DHCP server port not wanted", 0x8080, udp(bcast, 67), false},
      {"DHCP client port", 0x8082, udp(bcast, 68), true},
      {"NetBIOS 137", 0x8088, udp(bcast, 137), true},
      {"NetBIOS 138", 0x8088, udp(mcast, 138), true},
      {"DHCPv6", 0x8480, udp(v6mcast, 547, true), true},
      {"router advertisement", 0x8280, icmp6(134), true},
      {"neighbour advertisement", 0x8180, icmp6(136), true},
      {"router advertisement not wanted", 0x8180, icmp6(134), false},
      {"unicast never", 0x0000, udp(ucast, 67), false},
  };
  unsigned copies = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    __atomic_store_n(&a_->os2bmc_filter, c.mask, __ATOMIC_RELAXED);
    send(c.f);
    std::vector<adapter::TxFrame> d = described();
    ASSERT_EQ(c.copied ? 2u : 1u, d.size());
    if (c.copied) {
      EXPECT_NE(0u, d[1].hdr[2] & (1u << 5));
    }
    EXPECT_EQ(0u, d[0].hdr[2] & (1u << 5));
    std::vector<Bytes> w = card_->takeWire(0), bmc = card_->takeBmcFrames(0);
    ASSERT_EQ(1u, w.size());
    EXPECT_EQ(c.f, w[0]);
    ASSERT_EQ(c.copied ? 1u : 0u, bmc.size());
    if (c.copied) {
      EXPECT_EQ(c.f, bmc[0]);
    }
    copies += c.copied;
  }
  EXPECT_EQ(copies, txo().tx_os2bmc_pkts);
  reap();
}

TEST_F(TxTest, TheManagementControllersCopyCarriesTheTagOfAMultiChannelMode) {
  open(adapter::Gen::KS3, 2);
  event(adapter::pvidEvent(true, 7), [&] { return tamsil_evtLoad(a_->pvid) == 7; });
  event(adapter::os2bmcEvent(true, 0), [&] { return (tamsil_evtLoad(a_->features) & TAMSIL_FEAT_OS2BMC) != 0; });
  Spec s;
  s.proto = 17;
  s.dst = {0x01, 0, 0x5E, 0, 0, 1};
  const Bytes f = frame(s);
  // Checksum offload: the frame would be tagged by the adapter, but the
  // management controller's copy needs the tag in the frame.
  send(f, [](vmk_PktHandle* p) { vmktest::pktSetMustCsum(p, true); });
  std::vector<Bytes> w = wire(), bmc = card_->takeBmcFrames(0);
  ASSERT_EQ(1u, w.size());
  ASSERT_EQ(1u, bmc.size());
  const Bytes want = tagged(f, 7);
  EXPECT_EQ(withWireChecksums(want, w[0]), w[0]);
  EXPECT_EQ(w[0], bmc[0]);
  EXPECT_TRUE(checksumsValid(w[0]));
  reap();
}

// A frame trimmed to its IPv4 length and then tagged by the driver in place
// (a tag the kernel requires, written into the headroom of the same packet)
// reaches the management controller as it left on the wire: 58 bytes, not
// the 54 of the trim. Without headroom the tag goes into a copy; the same.
TEST_F(TxTest, TheManagementControllersCopyOfATrimmedThenTaggedFrameIsTheFrameAsSent) {
  for (adapter::Gen g : {adapter::Gen::KS2, adapter::Gen::KS3}) {
    for (uint32_t headroom : {16u, 0u}) {
      SCOPED_TRACE(::testing::Message() << genText(g) << ", headroom " << headroom);
      open(g);
      event(adapter::os2bmcEvent(true, 0), [&] { return (tamsil_evtLoad(a_->features) & TAMSIL_FEAT_OS2BMC) != 0; });
      Spec s;
      s.proto = 17;
      s.payload = 12;  // 54 bytes of frame, IPv4 total length 40
      s.dst = {0x01, 0, 0x5E, 0, 0, 1};
      Bytes f = frame(s);
      ASSERT_EQ(54u, f.size());
      f.resize(60, 0);  // padded by the stack
      send(
          f,
          [](vmk_PktHandle* p) {
            vmktest::pktSetMustVlanTag(p, true);
            vmk_PktVlanIDSet(p, 5);
            vmk_PktPrioritySet(p, 0);
          },
          headroom);
      std::vector<Bytes> w = wire(), bmc = card_->takeBmcFrames(0);
      ASSERT_EQ(1u, w.size());
      ASSERT_EQ(1u, bmc.size());
      const Bytes want = tagged(Bytes(f.begin(), f.begin() + 54), 5);
      EXPECT_EQ(want, w[0]);
      EXPECT_EQ(w[0], bmc[0]) << "the copy is " << bmc[0].size() << " bytes";
      EXPECT_EQ(1u, txo().tx_os2bmc_pkts);
      EXPECT_EQ(0u, txo().tx_os2bmc_drops);
      reap();
      TearDown();
      SetUp();
    }
  }
}

// ---- netdump ----

TEST_F(TxTest, NetdumpSendsAndReapsOnTheDefaultQueueInThePanicContext) {
  open(adapter::Gen::Veskarn);
  const Bytes f = frame({});
  tamsil_panicInfo info{};
  ASSERT_EQ(VMK_OK, tamsilNetDumpOps.panicInfoGet(cookie_, &info));
  EXPECT_EQ(a_->intr_cookie[0], info.intrCookie);
  EXPECT_EQ(a_, info.clientData.ptr);
  // The kernel's clock stands still while it panics: the driver's own
  // worlds stay asleep, as on a machine whose other CPUs are stopped.
  vmktest::setClockRate(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));   // a world under way goes back to sleep
  vmktest::setPanicContext(true);
  vmk_PktList l;
  vmk_PktListInit(&l);
  for (int i = 0; i < 2; i++) {
    vmk_PktHandle* p = vmktest::pktMake(f);
    vmk_PktQueueIDSet(p, 0);   // the netdump path names the queue itself
    vmk_PktListAppendPkt(&l, p);
  }
  // A frame the driver drops is released as the panic context allows.
  Bytes big(9100, 0x5A);
  vmk_PktListAppendPkt(&l, vmktest::pktMake(big));
  EXPECT_EQ(VMK_OK, tamsilNetDumpOps.panicTx(cookie_, &l));
  EXPECT_EQ(0u, tamsil_evtLoad(a_->features) & TAMSIL_FEAT_NETDUMP_TX);
  EXPECT_EQ(1u, txo().tx_gr_9k_non_tso_drop);
  ASSERT_TRUE(card_->waitIdle());
  vmk_PktList rx;
  vmk_PktListInit(&rx);
  EXPECT_EQ(VMK_OK, tamsilNetDumpOps.panicPoll(cookie_, &rx));
  EXPECT_EQ(0u, vmk_AtomicRead64(&txo().q.used));
  EXPECT_EQ(2u, txo().tx_compl);
  EXPECT_EQ(0, vmktest::live().packets);
  vmktest::setPanicContext(false);
  vmktest::setClockRate(1000.0);
  EXPECT_EQ(0u, vmktest::lockRuleViolations()) << vmktest::lockRuleTexts().at(0);
  EXPECT_EQ(2u, card_->takeWire(0).size());
}

// ---- inconsistent rings stop the machine ----

TEST_F(TxTest, InconsistentPendingRecordsStopTheMachine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (adapter::Gen g : {adapter::Gen::KS3, adapter::Gen::Pivard}) {
    SCOPED_TRACE(genText(g));
    open(g);
    const Bytes f = frame({});
    auto* stale = reinterpret_cast<vmk_PktHandle*>(uintptr_t{0x1000});
    // On Pivard the firmware is asked for a dump before the machine stops.
    const std::string dump = g == adapter::Gen::Pivard ? "Generate Pivard firmware dump.*" : "";
    EXPECT_DEATH(
        {
          vmktest::setLogEcho(true);
          txo().pending[txo().q.head].sent = stale;
          send(f);
        },
        dump + "Unrecoverable error in tamsil attamsil_main:tamsil_queuedPkt - 6522");
    EXPECT_DEATH(
        {
          vmktest::setLogEcho(true);
          txo().pending[txo().q.head].caller = stale;
          send(f);
        },
        dump + "Unrecoverable error in tamsil attamsil_main:tamsil_queuedPkt - 6523");
    // A completion for an entry no packet was recorded at.
    EXPECT_DEATH(
        {
          vmktest::setLogEcho(true);
          tamsil_txComplProcess(a_, &txo(), 0, VMK_FALSE, VMK_FALSE);
        },
        dump + "Unrecoverable error in tamsil attamsil_main:tamsil_txComplProcess - 4732");
    TearDown();
    SetUp();
  }
}

// ---- a failure at each packet service ----

TEST_F(TxTest, AFailureAtEachPacketServiceDropsAndCountsTheFrameAndLeaksNothing) {
  struct Case {
    const char* service;
    unsigned nth;
    adapter::Gen gen;
    unsigned mode;
    std::function<vmk_PktHandle*()> make;
    std::function<vmk_uint64()> counter;
    size_t wire;   // frames still on the wire
  };
  auto shortIp = [this] {
    Spec s;
    s.proto = 17;
    s.payload = 0;
    s.ipTotal = 40;
    Bytes f = frame(s);
    f.resize(60, 0);
    vmk_PktHandle* p = pkt(f);
    vmktest::pktSetMustCsum(p, true);
    return p;
  };
  auto plain = [this] { return pkt(frame({})); };
  auto mustTag = [this] {
    vmk_PktHandle* p = pkt(frame({}));
    vmktest::pktSetMustVlanTag(p, true);
    vmk_PktVlanIDSet(p, 9);
    return p;
  };
  const Case cases[] = {
      {"vmk_PktHeaderL3Find", 1, adapter::Gen::Veskarn, 0, plain,
       [this] { return (vmk_uint64)txo().tx_l3_hdr_parse_fail_drops; }, 0},
      {"vmk_PktFrameLenSet", 1, adapter::Gen::KS3, 2, shortIp,
       [this] { return (vmk_uint64)txo().tx_trim_fail_drops; }, 0},
      {"vmk_PktDupLenWithHeadroomAndTailroom", 1, adapter::Gen::Veskarn, 0,
       [this] { return pkt(Bytes(30, 0x02)); },
       [this] { return (vmk_uint64)txo().tx_pad_fail_drops; }, 0},
      {"vmk_PktPartialCopyWithHeadroom", 1, adapter::Gen::KS3, 0, mustTag,
       [this] { return (vmk_uint64)txo().tx_vlan_insert_by_drvr_drops; }, 0},
      {"vmk_PktPullHeadroom", 2, adapter::Gen::KS3, 0, mustTag,
       [this] { return (vmk_uint64)txo().tx_vlan_insert_by_drvr_drops; }, 0},
      {"vmk_PktSgElemGet", 1, adapter::Gen::Veskarn, 0, plain,
       [this] { return (vmk_uint64)txo().tx_dma_map_fail_drops; }, 0},
      {"vmk_DMAMapElem", 1, adapter::Gen::Pivard, 0, plain,
       [this] { return (vmk_uint64)txo().tx_dma_map_fail_drops; }, 0},
      {"vmk_PktTcpSegmentation", 1, adapter::Gen::Veskarn, 0,
       [this] {
         Spec s;
         s.payload = 70000;
         vmk_PktHandle* p = pkt(frame(s));
         vmk_PktSetLargeTcpPacket(p, 1448);
         return p;
       },
       [this] { return a_->counters.tso_drop_gr_than_64k; }, 0},
      {"vmk_PktClone", 1, adapter::Gen::Veskarn, 0,
       [this] {
         __atomic_fetch_or(&a_->features, (vmk_uint32)TAMSIL_FEAT_OS2BMC, __ATOMIC_RELAXED);
         __atomic_store_n(&a_->os2bmc_filter, 0, __ATOMIC_RELAXED);
         Spec s;
         s.dst = {0x01, 0, 0x5E, 0, 0, 1};
         return pkt(frame(s));
       },
       [this] { return (vmk_uint64)txo().tx_os2bmc_drops; }, 1},
      {"vmk_NetPollQueueCompPkt", 1, adapter::Gen::KS2, 0, plain,
       [this] { return (vmk_uint64)txo().tx_compl; }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service);
    open(c.gen, c.mode);
    vmk_PktHandle* p = c.make();
    vmktest::failCall(c.service, c.nth);
    send(p);
    std::vector<Bytes> w = wire();
    reap();
    EXPECT_EQ(1u, vmktest::injectedCount(c.service));
    EXPECT_EQ(1u, c.counter());
    EXPECT_EQ(c.wire, w.size());
    EXPECT_EQ(0, vmktest::live().packets);
    vmktest::clearFailures();
    TearDown();
    SetUp();
  }
}

TEST_F(TxTest, IPv6ExtensionHeaderRulesOfTheKsGenerations) {
  // TSO behind an extension header is dropped on KS2, KS3 and Pivard.
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    open(g);
    Spec s;
    s.v6 = true;
    s.payload = 2000;
    Bytes f = frame(s);
    f[20] = 0;   // hop-by-hop options, 8 bytes, then TCP
    f.insert(f.begin() + 54, {6, 0, 1, 4, 0, 0, 0, 0});
    put16(f, 18, static_cast<uint16_t>(be16(f, 18) + 8));
    send(f, [](vmk_PktHandle* p) { vmk_PktSetLargeTcpPacket(p, 1000); });
    const bool drops = g != adapter::Gen::Veskarn;
    EXPECT_EQ(drops ? 1u : 0u, txo().tx_ipv6_extn_drops);
    EXPECT_EQ(drops ? 0u : 1u, described().size());
    reap();
    TearDown();
    SetUp();
  }
  // KS3 of revision 1 in a multi-channel mode: a frame whose first extension
  // header's length cannot be read gets its tag from the driver.
  open(adapter::Gen::KS3, 2);
  a_->asic_rev = 1;
  event(adapter::pvidEvent(true, 7), [&] { return tamsil_evtLoad(a_->pvid) == 7; });
  Spec s;
  s.v6 = true;
  s.proto = 60;   // destination options, cut off by the frame end
  s.payload = 0;
  Bytes f = frame(s);
  f.resize(54 + 1);
  send(f, [](vmk_PktHandle* p) { vmktest::pktSetMustCsum(p, true); });
  std::vector<Bytes> w = wire();
  ASSERT_EQ(1u, w.size());
  EXPECT_EQ(tagged(f, 7), w[0]);
  EXPECT_EQ(1u, txo().ipv6_ext_hdr_tx_pkts);
  EXPECT_EQ(1u, txo().tx_vlan_insert_by_drvr_pkts);
  reap();
}

// ---- kernel services on the common path ----

// A single-fragment IPv4 TCP frame with checksum offload, sent in a list and
// reaped: per packet one element get, one map, one doorbell, one unmap and
// one completion hand-over (whose release is the stack's), and nothing
// allocated, copied, cloned or released by the driver. The pure accessors
// (list pop, queue id, frame length, offload marks, L3 look-up, element
// count) are not counted by the stand-in.
TEST_F(TxTest, KernelCallsPerTransmittedPacket) {
  open(adapter::Gen::Veskarn);
  constexpr unsigned N = 64;
  vmk_PktList l;
  vmk_PktListInit(&l);
  for (unsigned i = 0; i < N; i++) {
    vmk_PktHandle* p = pkt(frame({}));
    vmktest::pktSetMustCsum(p, true);
    ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&l, p));
  }
  struct Pin {
    const char* service;
    unsigned perPacket;
  };
  const Pin pins[] = {{"vmk_PktSgElemGet", 1},
                      {"vmk_DMAMapElem", 1},
                      {"vmk_DMAUnmapElem", 1},
                      {"vmk_NetPollQueueCompPkt", 1},
                      {"vmk_PktRelease", 1},   // the stack's, inside the hand-over
                      {"vmk_PktAllocForDMAEngine", 0},
                      {"vmk_HeapAlloc", 0},
                      {"vmk_PktClone", 0},
                      {"vmk_PktPartialCopy", 0},
                      {"vmk_PktPartialCopyWithHeadroom", 0},
                      {"vmk_PktDupLenWithHeadroomAndTailroom", 0},
                      {"vmk_PktFrameLenSet", 0},
                      {"vmk_PktListPrependPkt", 0}};
  std::vector<unsigned> before;
  for (const Pin& p : pins) before.push_back(vmktest::callCount(p.service));
  const unsigned doorbells = card_->counters(0).tx_doorbells;
  ASSERT_EQ(VMK_OK, ops().uplinkTx(cookie_, &l));
  EXPECT_TRUE(vmk_PktListIsEmpty(&l));
  ASSERT_TRUE(card_->waitIdle());
  EXPECT_EQ(N, card_->counters(0).tx_doorbells - doorbells);
  EXPECT_EQ(N, tamsil_pollTx(a_, &txo(), VMK_FALSE, VMK_FALSE));
  for (size_t i = 0; i < std::size(pins); i++)
    EXPECT_EQ(N * pins[i].perPacket, vmktest::callCount(pins[i].service) - before[i]) << pins[i].service;
  EXPECT_EQ(N, vmktest::netPollCompleted(a_->netpoll[0].netpoll));
  EXPECT_EQ(N, wire().size());
}

}  // namespace

// The receive path: rings, posting and refill, completions in both layouts,
// drop rules and their counters, VLAN and checksum marks, the flush drain,
// packet-service failures and the system stops of an inconsistent ring.
// Frames come through the emulated adapter: on its port's wire, or into a
// ring with the completion fields a test asks for; a completion is patched by
// hand only where the adapter never writes such a one.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "dp_fixture.h"
#include "dp_frame.h"
#include "tamsil_gen.h"

namespace {

using Bytes = std::vector<uint8_t>;

class RxTest : public DpTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    DpTest::SetUp();
  }
  void TearDown() override {
    if (up_) ringsDown();
    DpTest::TearDown();
  }

  // The receive side as start I/O leaves it (without interrupts): completion
  // rings where the generation makes them at start, the receive rings, 64
  // buffers on each.
  void ringsUp(bool post = true) {
    if (tamsil_hasTrait(a_, TAMSIL_GT_RXCQ_AT_IO_START)) {
      ASSERT_EQ(0u, tamsil_rxCQueuesCreate(a_));
    }
    ASSERT_EQ(0u, tamsil_rxQueuesCreate(a_));
    up_ = true;
    if (post) {
      for (vmk_uint32 i = 0; i < a_->num_vectors; i++) tamsil_postRxFrags(&a_->rxo[i], 64);
    }
    a_->io_started = 1;
    a_->dev_data_valid = 1;
    ASSERT_TRUE(card_->waitIdle());
  }
  void ringsDown() {
    a_->io_started = 0;
    vmktest::netPollDrain();
    tamsil_rxQueuesDestroy(a_);
    if (tamsil_hasTrait(a_, TAMSIL_GT_RXCQ_AT_IO_START)) tamsil_rxCQueuesDestroy(a_);
    up_ = false;
  }
  void up(adapter::Gen g) {
    associate(g);
    ringsUp();
  }
  void restart() {
    ringsDown();
    ringsUp();
  }

  tamsil_rxo& rx(unsigned i = 0) { return a_->rxo[i]; }
  vmk_uint64 used(unsigned i = 0) { return vmk_AtomicRead64(&a_->rxo[i].rxq.used); }
  Bytes mac() const { return Bytes(a_->uplink_reg.perm_mac, a_->uplink_reg.perm_mac + 6); }

  // A frame to this function of `size` bytes with a counting payload.
  Bytes frame(size_t size, uint16_t type = 0x88B5, Bytes dst = {}) const {
    Bytes f(size);
    if (dst.empty()) dst = mac();
    std::memcpy(f.data(), dst.data(), 6);
    const uint8_t src[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(f.data() + 6, src, 6);
    f[12] = static_cast<uint8_t>(type >> 8);
    f[13] = static_cast<uint8_t>(type);
    for (size_t i = 14; i < size; i++) f[i] = static_cast<uint8_t>(i * 7 + 1);
    return f;
  }

  // Into ring `ring` with the completion fields of `m`; the completion the
  // adapter wrote (not yet consumed) is returned for patching.
  uint32_t* inject(const Bytes& f, const adapter::RxMeta& m = {}, unsigned ring = 0) {
    EXPECT_TRUE(card_->waitIdle());
    EXPECT_TRUE(card_->injectRxFrame(0, rx(ring).rxq.id, f, m));
    return pending(ring, 0);
  }
  // The k-th completion after the consumer index.
  uint32_t* pending(unsigned ring, unsigned k) {
    QueueInfo& cq = rx(ring).cq;
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(cq.mem.va) +
                                       ((cq.tail + k) & (cq.len - 1)) * TAMSIL_RXCQ_ENTRY_SIZE);
  }

  // Runs the NetPoll of every ring as their interrupts would and takes what
  // reached the stack, ring after ring.
  std::vector<vmk_PktHandle*> poll() {
    EXPECT_TRUE(card_->waitIdle());
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      EXPECT_NE(nullptr, a_->netpoll[i].netpoll);
      vmk_NetPollActivate(a_->netpoll[i].netpoll);
    }
    vmktest::netPollDrain();
    std::vector<vmk_PktHandle*> all;
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      std::vector<vmk_PktHandle*> got = vmktest::netPollTakeRx(a_->netpoll[i].netpoll);
      all.insert(all.end(), got.begin(), got.end());
    }
    return all;
  }
  static void releaseAll(std::vector<vmk_PktHandle*>& v) {
    for (vmk_PktHandle* p : v) vmk_PktRelease(p);
    v.clear();
  }

  bool up_ = false;
};

// ---------------------------------------------------------------------------
// Frames from the wire
// ---------------------------------------------------------------------------

Bytes ipv4Udp(Bytes f, size_t payload) {
  f.resize(14 + 20 + 8 + payload);
  f[12] = 0x08;
  f[13] = 0x00;
  uint8_t* ip = f.data() + 14;
  std::memset(ip, 0, 28);
  ip[0] = 0x45;
  ip[2] = static_cast<uint8_t>((20 + 8 + payload) >> 8);
  ip[3] = static_cast<uint8_t>(20 + 8 + payload);
  ip[8] = 64;
  ip[9] = 17;
  const uint8_t addrs[8] = {10, 0, 0, 1, 10, 0, 0, 2};
  std::memcpy(ip + 12, addrs, 8);
  uint8_t* udp = ip + 20;
  udp[0] = 0x30;
  udp[1] = 0x39;
  udp[2] = 0x1F;
  udp[3] = 0x90;
  udp[4] = static_cast<uint8_t>((8 + payload) >> 8);
  udp[5] = static_cast<uint8_t>(8 + payload);
  for (size_t i = 0; i < payload; i++) udp[8 + i] = static_cast<uint8_t>(i ^ 0x5A);
  adapter::dp::Layout l = adapter::dp::parse(f);
  adapter::dp::fillIpv4Checksum(f, l);
  adapter::dp::fillL4Checksum(f, l);
  return f;
}

TEST_F(RxTest, FramesFromTheWireReachTheStackByteIdentical) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    up(g);
    const Bytes bcast(6, 0xFF);
    const Bytes mcast = {0x01, 0x00, 0x5E, 0x00, 0x00, 0x01};
    std::vector<Bytes> sent = {frame(1514), frame(64), frame(300, 0x88B5, bcast), frame(128, 0x88B5, mcast),
                               ipv4Udp(frame(14), 1000)};
    for (const Bytes& f : sent) card_->receiveOnWire(0, f);
    const Bytes runt = frame(42);
    card_->receiveOnWire(0, runt);
    std::vector<vmk_PktHandle*> got = poll();
    ASSERT_EQ(sent.size() + 1, got.size());
    for (size_t i = 0; i < sent.size(); i++) {
      EXPECT_EQ(sent[i], vmktest::pktBytes(got[i])) << "frame " << i;
      EXPECT_EQ(0, vmk_PktVlanIDGet(got[i]));
    }
    // A runt reaches the stack padded with zeros to the shortest frame.
    Bytes padded = runt;
    padded.resize(60, 0);
    EXPECT_EQ(padded, vmktest::pktBytes(got.back()));
    // Only the UDP frame carries checksums the device verified.
    for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(i == 4, vmk_PktIsCsumVfd(got[i]) != 0) << "frame " << i;
    releaseAll(got);
    // The ring the adapter steered them to (the default interface's).
    unsigned r = 0;
    while (r + 1 < a_->num_vectors && rx(r).rx_pkts == 0) r++;
    EXPECT_EQ(6u, rx(r).rx_pkts);
    EXPECT_EQ(6u, rx(r).rx_compl);
    EXPECT_EQ(1514u + 64 + 300 + 128 + 1042 + 42, rx(r).rx_bytes);
    EXPECT_EQ(4u, rx(r).rx_ucast_pkts);
    EXPECT_EQ(1u, rx(r).rx_bcast_pkts);
    EXPECT_EQ(1u, rx(r).rx_mcast_pkts);
    // The poll refilled what it consumed (below the refill mark).
    EXPECT_TRUE(card_->waitIdle());
    EXPECT_EQ(64u + 64 - 6, used(r));
    EXPECT_EQ(used(r), card_->rxPosted(0, rx(r).rxq.id));
    TearDown();
    SetUp();
  }
}

// ---------------------------------------------------------------------------
// Drop rules
// ---------------------------------------------------------------------------

struct Drop {
  const char* name;
  adapter::RxMeta meta;
  size_t size;
  vmk_uint32 tamsil_rxo::*counter;  // the drop counter it moves (nullptr: none)
  bool pivardDelivers;
};

TEST_F(RxTest, DropTableMovesEachCounter) {
  adapter::RxMeta err;
  err.error = true;
  adapter::RxMeta otherPort;
  otherPort.port = 1;
  adapter::RxMeta vlan4095;
  vlan4095.vlan = 0x2FFF;
  vlan4095.vlan_present = true;
  const Drop cases[] = {
      {"error bit", err, 100, &tamsil_rxo::rx_compl_err, false},
      {"other port", otherPort, 100, &tamsil_rxo::rx_replicated_pkts, true},
      {"vlan 4095", vlan4095, 100, nullptr, false},
      {"size 0", {}, 0, nullptr, false},
  };
  for (adapter::Gen g : {adapter::Gen::KS3, adapter::Gen::Pivard}) {
    SCOPED_TRACE(genText(g));
    up(g);
    for (const Drop& d : cases) {
      SCOPED_TRACE(d.name);
      const bool delivered = g == adapter::Gen::Pivard && d.pivardDelivers;
      const vmk_uint32 before = d.counter ? rx().*d.counter : 0;
      const vmk_uint64 pkts = rx().rx_pkts;
      const size_t logged4095 = logged("Invalid vtag 4095, pkt dropped");
      inject(d.size != 0 ? frame(d.size) : Bytes(), d.meta);
      std::vector<vmk_PktHandle*> got = poll();
      EXPECT_EQ(delivered ? 1u : 0u, got.size());
      releaseAll(got);
      if (d.counter) {
        EXPECT_EQ(before + (delivered ? 0 : 1), rx().*d.counter);
      }
      EXPECT_EQ(pkts + 1, rx().rx_pkts);  // every completion counts
      EXPECT_EQ(d.meta.vlan_present ? 1u : 0u, logged("Invalid vtag 4095, pkt dropped") - logged4095);
      ASSERT_TRUE(card_->waitIdle());
      EXPECT_EQ(card_->rxPosted(0, rx().rxq.id), used());  // the buffer went back, the ring was refilled
    }
    // A ring the multi-queue layer quiesced takes frames and drops them.
    rx().quiesced = 1;
    inject(frame(100));
    EXPECT_EQ(0u, poll().size());
    EXPECT_EQ(1u, rx().rx_pkts_on_quiesce);
    rx().quiesced = 0;
    TearDown();
    SetUp();
  }
}

TEST_F(RxTest, MultiBufferAndFlushCompletions) {
  up(adapter::Gen::Veskarn);
  // The adapter never splits a frame over buffers: a completion that says
  // so is written by hand over the one it wrote.
  uint32_t* c = inject(frame(200));
  c[1] = (c[1] & ~(7u << 29)) | (2u << 29);
  EXPECT_EQ(0u, poll().size());
  EXPECT_EQ(1u, rx().rx_multi_frag_drops);
  EXPECT_EQ(64u + 64 - 2, used());  // both buffers were taken back
  restart();
  // A completion with no buffer is the flush completion: counted, no drop,
  // no buffer taken.
  c = inject(frame(200));
  c[1] &= ~(7u << 29);
  const vmk_uint32 compl0 = rx().rx_compl;
  EXPECT_EQ(0u, poll().size());
  EXPECT_EQ(compl0 + 1, rx().rx_compl);
  EXPECT_EQ(0u, rx().rx_compl_err + rx().rx_replicated_pkts + rx().rx_pkt_service_drops);
  EXPECT_EQ(1u, rx().rx_multi_frag_drops);
  EXPECT_EQ(64u + 64, used());  // nothing taken back; the poll refilled
}

// ---------------------------------------------------------------------------
// VLAN
// ---------------------------------------------------------------------------

TEST_F(RxTest, VlanByteOrderPerGeneration) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    up(g);
    adapter::RxMeta m;
    m.vlan = 0x6064;  // priority 3, id 100
    m.vlan_present = true;
    m.vlan_keep = true;  // the tag is the frame's own in every function mode
    uint32_t* c = inject(frame(80), m);
    const uint16_t raw = static_cast<uint16_t>(c[0]);
    EXPECT_EQ(g == adapter::Gen::Pivard ? 0x6064 : 0x6460, raw);
    std::vector<vmk_PktHandle*> got = poll();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(100, vmk_PktVlanIDGet(got[0]));
    EXPECT_EQ(3, vmk_PktPriorityGet(got[0]));
    releaseAll(got);
    TearDown();
    SetUp();
  }
}

TEST_F(RxTest, PortVlanIsStrippedAndModesKeepTheTagOnlyWhenMarked) {
  struct Case {
    vmk_uint8 mode;
    vmk_uint16 pvid;
    bool keep;
    vmk_uint16 vid;
    bool tagged;
  };
  const Case cases[] = {
      {2, 0, false, 7, true},   {2, 7, false, 7, false},  {2, 7, false, 8, true},  {4, 0, false, 7, false},
      {4, 0, true, 7, true},    {3, 0, false, 7, false},  {6, 0, false, 7, false}, {8, 0, false, 7, false},
      {8, 0, true, 7, true},    {1, 0, false, 7, true},   {4, 7, true, 7, false},
  };
  up(adapter::Gen::KS3);
  const vmk_uint8 mode = a_->function_mode;
  const vmk_uint16 pvid = a_->pvid;
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(k.mode) << " pvid " << k.pvid << " keep " << k.keep);
    a_->function_mode = k.mode;
    a_->pvid = k.pvid;
    adapter::RxMeta m;
    m.vlan = static_cast<uint16_t>(0xA000 | k.vid);
    m.vlan_present = true;
    m.vlan_keep = k.keep;
    inject(frame(90), m);
    std::vector<vmk_PktHandle*> got = poll();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(k.tagged ? k.vid : 0, vmk_PktVlanIDGet(got[0]));
    EXPECT_EQ(k.tagged ? 5 : 0, vmk_PktPriorityGet(got[0]));
    releaseAll(got);
  }
  a_->function_mode = mode;
  a_->pvid = pvid;
}

// ---------------------------------------------------------------------------
// Checksum marks
// ---------------------------------------------------------------------------

TEST_F(RxTest, ChecksumMarks) {
  struct Case {
    const char* name;
    bool tcp, udp, ipv6, ip_ok, l4_ok, tunneled, devData;
    bool verified, innerMark;
  };
  const Case cases[] = {
      {"IPv4 TCP", true, false, false, true, true, false, true, true, false},
      {"IPv4 TCP, bad IP checksum", true, false, false, false, true, false, true, false, false},
      {"IPv6 TCP, no IP checksum", true, false, true, false, true, false, true, true, false},
      {"IPv6 UDP", false, true, true, false, true, false, true, true, false},
      {"IPv4 UDP, bad L4 checksum", false, true, false, true, false, false, true, false, false},
      {"neither TCP nor UDP", false, false, false, true, true, false, true, false, false},
      {"tunnelled", false, true, false, false, true, true, true, true, true},
      {"tunnelled, bad inner checksum", false, true, false, true, false, true, true, false, false},
      {"driver information not yet valid", true, false, false, true, true, false, false, false, false},
  };
  up(adapter::Gen::Veskarn);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    adapter::RxMeta m;
    m.tcp = k.tcp;
    m.udp = k.udp;
    m.ipv6 = k.ipv6;
    m.ip_csum_ok = k.ip_ok;
    m.l4_csum_ok = k.l4_ok;
    m.tunneled = k.tunneled;
    a_->dev_data_valid = k.devData;
    const vmk_uint32 vx = rx().vxlan_rx_pkts;
    inject(frame(120), m);
    std::vector<vmk_PktHandle*> got = poll();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(k.verified, vmk_PktIsCsumVfd(got[0]) != 0);
    vmk_uint32 w = 0;
    ASSERT_EQ(VMK_OK, vmk_PktBufDescWordGet(got[0], 3, &w));
    EXPECT_EQ(k.innerMark, (w & VMK_PKT_BUFDESC_TUNNEL_CSUM_VFD) != 0);
    EXPECT_EQ(vx + (k.tunneled ? 1 : 0), rx().vxlan_rx_pkts);
    releaseAll(got);
  }
}

// ---------------------------------------------------------------------------
// Posting, refill and starvation
// ---------------------------------------------------------------------------

TEST_F(RxTest, PostingIsBatchedAndRefillStartsBelowTheMark) {
  up(adapter::Gen::KS2);
  a_->io_started = 0;  // frames polled here are released, not handed over
  const unsigned doorbells = card_->counters(0).rx_doorbells;
  // However many are asked for, a call posts 64 with one doorbell.
  for (int k = 1; k < 16; k++) {
    tamsil_postRxFrags(&rx(), 200);
    EXPECT_EQ(64u * (k + 1), used());
    EXPECT_EQ(64u, card_->counters(0).last_rx_doorbell >> 24);
  }
  EXPECT_EQ(doorbells + 15, card_->counters(0).rx_doorbells);
  tamsil_postRxFrags(&rx(), 64);  // full: nothing posted, no doorbell
  EXPECT_EQ(1024u, used());
  EXPECT_EQ(doorbells + 15, card_->counters(0).rx_doorbells);
  ASSERT_TRUE(card_->waitIdle());
  for (int i = 0; i < 64; i++) inject(frame(64));
  EXPECT_EQ(64u, tamsil_pollRx(a_, &rx(), 64, VMK_FALSE, nullptr));
  EXPECT_EQ(960u, used());  // at the mark: no refill
  inject(frame(64));
  EXPECT_EQ(1u, tamsil_pollRx(a_, &rx(), 64, VMK_FALSE, nullptr));
  EXPECT_EQ(959u + 64, used());
  EXPECT_EQ(0u, tamsil_pollRx(a_, &rx(), 0, VMK_FALSE, nullptr));
}

TEST_F(RxTest, StarvingRingIsMarkedAndTakenUpAgainByTheRetry) {
  associate(adapter::Gen::Pivard);
  ASSERT_GE(a_->num_vectors, 2u);
  vmktest::failCall("vmk_PktAllocForDMAEngine", 1, VMK_NO_MEMORY, true);
  ringsUp();
  EXPECT_EQ(0u, used());
  EXPECT_EQ(1, rx().rx_post_starved);
  EXPECT_EQ(1u, rx().rx_post_fail);
  // Still failing: the worker's retry leaves every ring starving.
  tamsil_rxRetryStarved(a_);
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
    EXPECT_EQ(1, rx(i).rx_post_starved);
    EXPECT_EQ(2u, rx(i).rx_post_fail);
  }
  vmktest::clearFailures();
  // A ring that is not starving is left alone.
  rx(1).rx_post_starved = 0;
  tamsil_rxRetryStarved(a_);
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
    EXPECT_EQ(0, rx(i).rx_post_starved);
    EXPECT_EQ(i == 1 ? 0u : 64u, used(i));
  }
  EXPECT_EQ(64u, used());
  inject(frame(70));
  std::vector<vmk_PktHandle*> got = poll();
  EXPECT_EQ(1u, got.size());
  releaseAll(got);
}

TEST_F(RxTest, ConcurrentRetryAndRefillKeepTheRingConsistent) {
  up(adapter::Gen::KS3);
  std::atomic<bool> stop{false};
  // The worker retrying while the NetPoll refills.
  std::thread worker([&] {
    while (!stop.load()) tamsil_postRxFrags(&rx(), 64);
  });
  size_t received = 0;
  for (int round = 0; round < 40; round++) {
    for (int i = 0; i < 20; i++) card_->receiveOnWire(0, frame(100 + i));
    std::vector<vmk_PktHandle*> got = poll();
    received += got.size();
    releaseAll(got);
  }
  stop = true;
  worker.join();
  ASSERT_TRUE(card_->waitIdle());
  // Whether the posts kept up depends on the threads' pace; what the device
  // took, the stack got, and the driver and the device agree on the ring.
  const adapter::Adapter::PortCounters pc = card_->portCounters(0);
  EXPECT_EQ(800u, pc.rx_delivered + pc.rx_no_buffer);
  EXPECT_GE(received, 64u);
  EXPECT_EQ(pc.rx_delivered, received);
  EXPECT_EQ(received, rx().rx_pkts);
  EXPECT_EQ(0u, card_->counters(0).dropped_dma);
  EXPECT_EQ(card_->rxPosted(0, rx().rxq.id), used());
  // Neither poster was left out for good: the ring takes buffers and frames.
  tamsil_postRxFrags(&rx(), 64);
  ASSERT_GE(used(), 64u);
  ASSERT_TRUE(card_->waitIdle());
  for (int i = 0; i < 20; i++) card_->receiveOnWire(0, frame(100 + i));
  std::vector<vmk_PktHandle*> got = poll();
  ASSERT_EQ(20u, got.size());
  for (int i = 0; i < 20; i++) EXPECT_EQ(frame(100 + i), vmktest::pktBytes(got[i]));
  releaseAll(got);
}

// ---------------------------------------------------------------------------
// Flush drain
// ---------------------------------------------------------------------------

TEST_F(RxTest, FlushDrainWaitsForTheFlushCompletion) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    up(g);
    // Completions not yet polled when the ring goes: their buffers go back
    // with the rest.
    inject(frame(100));
    inject(frame(200));
    const size_t gaveUp = logged("did not receive flush compl");
    ringsDown();
    EXPECT_EQ(gaveUp, logged("did not receive flush compl"));
    EXPECT_EQ(0u, used());
    EXPECT_EQ(nullptr, rx().frag_info_table);
    TearDown();
    SetUp();
  }
}

TEST_F(RxTest, FlushDrainGivesUpAfterItsEmptyPolls) {
  up(adapter::Gen::KS3);
  const size_t n0 = logged("rxcq-0: did not receive flush compl");
  const vmk_uint64 t0 = vmk_GetUptimeMS();
  tamsil_rxCQClean(a_, &rx());  // no flush completion comes: the queue still exists
  EXPECT_EQ(n0 + 1, logged("rxcq-0: did not receive flush compl"));
  EXPECT_GE(vmk_GetUptimeMS() - t0, 51u);  // 51 empty polls 1 ms apart
  restart();
  // Pivard writes none: the drain returns at its first empty poll.
  TearDown();
  SetUp();
  up(adapter::Gen::Pivard);
  const size_t p0 = logged("did not receive flush compl");
  tamsil_rxCQClean(a_, &rx());
  EXPECT_EQ(p0, logged("did not receive flush compl"));
}

// ---------------------------------------------------------------------------
// Packet-service failures
// ---------------------------------------------------------------------------

TEST_F(RxTest, PacketServiceFailureDropsAndCountsTheFrame) {
  const char* services[] = {"vmk_PktFrameLenSet", "vmk_PktVlanIDSet", "vmk_PktPrioritySet", "vmk_NetPollRxPktQueue"};
  up(adapter::Gen::Veskarn);
  adapter::RxMeta m;
  m.vlan = 0x2005;
  m.vlan_present = true;
  vmk_uint32 drops = 0;
  for (const char* s : services) {
    SCOPED_TRACE(s);
    inject(frame(100), m);
    vmktest::failCall(s, 1);
    std::vector<vmk_PktHandle*> got = poll();
    EXPECT_EQ(1u, vmktest::injectedCount(s));
    EXPECT_EQ(0u, got.size());
    EXPECT_EQ(++drops, rx().rx_pkt_service_drops);
    vmktest::clearFailures();
    // The next frame goes through.
    inject(frame(100), m);
    got = poll();
    EXPECT_EQ(1u, got.size());
    releaseAll(got);
  }
  // The inner checksum mark that cannot be written: the frame is delivered,
  // verified, without it.
  for (const char* s : {"vmk_PktBufDescWordGet", "vmk_PktBufDescWordSet"}) {
    SCOPED_TRACE(s);
    adapter::RxMeta t;
    t.udp = true;
    t.tunneled = true;
    inject(frame(100), t);
    vmktest::failCall(s, 1);
    std::vector<vmk_PktHandle*> got = poll();
    vmktest::clearFailures();
    ASSERT_EQ(1u, got.size());
    EXPECT_TRUE(vmk_PktIsCsumVfd(got[0]));
    vmk_uint32 w = 0;
    vmk_PktBufDescWordGet(got[0], 3, &w);
    EXPECT_EQ(0u, w & VMK_PKT_BUFDESC_TUNNEL_CSUM_VFD);
    releaseAll(got);
  }
  EXPECT_EQ(drops, rx().rx_pkt_service_drops);
}

TEST_F(RxTest, PostingFailuresStopThePostAndLeakNothing) {
  const char* services[] = {"vmk_PktAllocForDMAEngine", "vmk_PktSgElemGet", "vmk_DMAMapElem"};
  up(adapter::Gen::KS3);
  for (const char* s : services) {
    SCOPED_TRACE(s);
    const vmk_uint32 fails = rx().rx_post_fail;
    const vmk_uint64 before = used();
    const size_t mapLog = logged("to IO address");
    vmktest::failCall(s, 10);  // the 10th buffer of the batch
    tamsil_postRxFrags(&rx(), 64);
    vmktest::clearFailures();
    EXPECT_EQ(before + 9, used());
    EXPECT_EQ(fails + (std::strcmp(s, "vmk_PktSgElemGet") == 0 ? 0 : 1), rx().rx_post_fail);
    EXPECT_EQ(std::strcmp(s, "vmk_DMAMapElem") == 0 ? 1u : 0u, logged("to IO address") - mapLog);
    ASSERT_TRUE(card_->waitIdle());
    EXPECT_EQ(used(), card_->rxPosted(0, rx().rxq.id));
  }
  // Every buffer posted comes back at tear-down; the fixture checks that no
  // packet, mapping or page is left.
}

// ---------------------------------------------------------------------------
// Ring creation
// ---------------------------------------------------------------------------

TEST_F(RxTest, RingCreationFailureUndoesEveryRing) {
  associate(adapter::Gen::KS3);
  ASSERT_GE(a_->num_vectors, 2u);
  // Each memory allocation of the creation in turn: the ring, then its
  // table, of ring after ring.
  unsigned failed = 0;
  for (unsigned n = 1; n <= 2 * a_->num_vectors; n++) {
    SCOPED_TRACE(n);
    const unsigned injected = vmktest::injectedCount("vmk_MemPoolAlloc");
    vmktest::failCall("vmk_MemPoolAlloc", n);
    const vmk_uint32 st = tamsil_rxQueuesCreate(a_);
    const bool hit = vmktest::injectedCount("vmk_MemPoolAlloc") == injected + 1;
    vmktest::clearFailures();
    EXPECT_EQ(hit ? 0xFFFFFFFFu : 0u, st);
    if (!hit) {
      tamsil_rxQueuesDestroy(a_);
      continue;
    }
    failed++;
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      EXPECT_FALSE(a_->rxo[i].rxq.created);
      EXPECT_EQ(nullptr, a_->rxo[i].rxq.mem.va);
      EXPECT_EQ(nullptr, a_->rxo[i].frag_info_table);
    }
    std::lock_guard<std::mutex> g(card_->lock());
    EXPECT_EQ(0u, card_->engine().countLive(adapter::ObjKind::RxQueue, 0));
  }
  EXPECT_EQ(2 * a_->num_vectors, failed);
  EXPECT_GE(logged("frag_info_table allocation failed for rx 1"), 1u);
  ringsUp();
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++) EXPECT_EQ(64u, used(i));
}

// ---------------------------------------------------------------------------
// System stops
// ---------------------------------------------------------------------------

adapter::Adapter* g_card = nullptr;
// What happened before the stop, told from the dying process.
extern "C" void reportDumps(int) {
  if (g_card != nullptr) fprintf(stderr, "dump requests: %u\n", g_card->counters(0).dump_requests);
  fflush(stderr);
}

class RxStopTest : public RxTest, public testing::WithParamInterface<adapter::Gen> {
 protected:
  std::string dumps() const { return GetParam() == adapter::Gen::Pivard ? "dump requests: 1" : "dump requests: 0"; }
  static void armReport(adapter::Adapter* card) {
    g_card = card;
    signal(SIGABRT, reportDumps);
  }
};

TEST_P(RxStopTest, CompletionForAnEmptySlotStops) {
  up(GetParam());
  uint32_t* c = inject(frame(100));
  const uint32_t d1 = c[1];
  c[1] = (c[1] & ~(0x3FFu << 16)) | (700u << 16);  // a slot nothing was posted to
  EXPECT_DEATH(
      {
        armReport(card_);
        tamsil_pollRx(a_, &rx(), 64, VMK_FALSE, nullptr);
      },
      "tamsil_main:tamsil_getRxPfragInfo - 2682.*" + dumps());
  c[1] = d1;  // this process goes on to tear the ring down
}

TEST_P(RxStopTest, FrameLargerThanItsBufferStops) {
  up(GetParam());
  uint32_t* c = inject(frame(100));
  const uint32_t d0 = c[0];
  c[0] = (c[0] & ~(0x3FFFu << 16)) | ((a_->max_frame + 1) << 16);
  EXPECT_DEATH(
      {
        armReport(card_);
        tamsil_pollRx(a_, &rx(), 64, VMK_FALSE, nullptr);
      },
      "tamsil_main:tamsil_pktFillRxData - 4178.*" + dumps());
  c[0] = d0;
}

TEST_P(RxStopTest, BuffersLeftAfterCleaningStop) {
  up(GetParam());
  for (int k = 1; k < 16; k++) tamsil_postRxFrags(&rx(), 64);
  ASSERT_EQ(1024u, used());
  EXPECT_DEATH(
      {
        armReport(card_);
        vmk_AtomicInc64(&rx().rxq.used);
        tamsil_rxQClean(a_, &rx());
      },
      "tamsil_main:tamsil_rxQClean - 2961.*" + dumps());
}

INSTANTIATE_TEST_SUITE_P(Gens, RxStopTest, testing::Values(adapter::Gen::KS3, adapter::Gen::Pivard),
                         [](const testing::TestParamInfo<adapter::Gen>& i) { return std::string(genText(i.param)); });

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Netdump's poll and the cost of a packet
// ---------------------------------------------------------------------------

TEST_F(RxTest, PanicPollListsFramesAndReleasesOnlyPanicSafe) {
  up(adapter::Gen::KS3);
  adapter::RxMeta bad;
  bad.error = true;
  const Bytes f1 = frame(100), f2 = frame(140);
  inject(f1);
  inject(frame(120), bad);
  inject(f2);
  vmk_PktList list;
  vmk_PktListInit(&list);
  // A normal release or a NetPoll hand-over here breaks a kernel rule. The
  // stand-in's panic context is kernel-wide: the rules other worlds break
  // meanwhile (the MCC world's wait) are not the receive path's.
  std::mutex m;
  std::vector<std::string> broken;
  vmktest::setLockRuleHandler([&](const std::string& t) {
    std::lock_guard<std::mutex> g(m);
    broken.push_back(t);
  });
  vmktest::setPanicContext(true);
  const vmk_uint32 n = tamsil_pollRx(a_, &rx(), 64, VMK_TRUE, &list);
  vmktest::setPanicContext(false);
  vmktest::setLockRuleHandler(nullptr);
  std::lock_guard<std::mutex> g(m);
  for (const std::string& t : broken) EXPECT_NE(std::string::npos, t.find("vmk_WorldWait")) << t;
  EXPECT_EQ(3u, n);
  EXPECT_EQ(1u, rx().rx_compl_err);
  ASSERT_EQ(2u, vmk_PktListGetCount(&list));
  EXPECT_EQ(f1, vmktest::pktBytes(vmk_PktListGetFirstPkt(&list)));
  EXPECT_EQ(f2, vmktest::pktBytes(vmk_PktListGetNextPkt(&list, vmk_PktListGetFirstPkt(&list))));
  vmk_PktListReleaseAllPkts(&list);
}

// The netdump poll refills the rings it took frames from (a long dump
// would run them dry); a buffer it then cannot post goes back with the
// panic-safe release like every packet it lets go, and none is left alive.
TEST_F(RxTest, PanicPollRefillReleasesAnUnpostableBufferPanicSafe) {
  for (adapter::Gen g : {adapter::Gen::KS3, adapter::Gen::Veskarn}) {
    for (const char* service : {"vmk_PktSgElemGet", "vmk_DMAMapElem"}) {
      SCOPED_TRACE(std::string(genText(g)) + ", " + service);
      up(g);
      const Bytes f = frame(100);
      inject(f);
      const vmk_uint64 posted = used();
      vmk_PktList list;
      vmk_PktListInit(&list);
      std::mutex m;
      std::vector<std::string> broken;
      vmktest::setLockRuleHandler([&](const std::string& t) {
        std::lock_guard<std::mutex> lk(m);
        broken.push_back(t);
      });
      vmktest::setPanicContext(true);
      vmktest::failCall(service, 1);  // the refill's first buffer
      EXPECT_EQ(VMK_OK, tamsilNetDumpOps.panicPoll(cookie_, &list));
      const unsigned injected = vmktest::injectedCount(service);
      vmktest::clearFailures();
      vmktest::setPanicContext(false);
      vmktest::setLockRuleHandler(nullptr);
      {
        std::lock_guard<std::mutex> lk(m);
        // The MCC world's wait is the stand-in's kernel-wide panic context,
        // not the receive path.
        for (const std::string& t : broken) EXPECT_NE(std::string::npos, t.find("vmk_WorldWait")) << t;
      }
      EXPECT_EQ(1u, injected);
      ASSERT_EQ(1u, vmk_PktListGetCount(&list));
      EXPECT_EQ(f, vmktest::pktBytes(vmk_PktListGetFirstPkt(&list)));
      vmk_PktListReleaseAllPkts(&list);
      EXPECT_EQ(posted - 1, used()) << "the refill stopped at its first buffer";
      long onRings = 0;
      for (vmk_uint32 i = 0; i < a_->num_vectors; i++) onRings += static_cast<long>(used(i));
      EXPECT_EQ(onRings, vmktest::live().packets) << "a packet neither posted nor released";
      TearDown();
      SetUp();
    }
  }
}

// The kernel services a received packet costs on the common path (a good
// frame handed to the NetPoll, its buffer replaced by the refill), counted
// at the services that keep a count; vmk_PktSetCsumVfd per verified frame
// and one completion-ring and one receive doorbell per 64 frames come on top.
TEST_F(RxTest, KernelCallsPerReceivedPacket) {
  up(adapter::Gen::Veskarn);
  adapter::RxMeta udp;
  udp.udp = true;
  for (int i = 0; i < 64; i++) inject(frame(64), udp);
  const char* services[] = {"vmk_DMAUnmapElem",         "vmk_PktFrameLenSet", "vmk_NetPollRxPktQueue",
                            "vmk_PktAllocForDMAEngine", "vmk_PktSgElemGet",   "vmk_DMAMapElem",
                            "vmk_PktRelease",           "vmk_PktVlanIDSet",   "vmk_PktBufDescWordSet"};
  std::vector<unsigned> before;
  for (const char* s : services) before.push_back(vmktest::callCount(s));
  EXPECT_EQ(64u, tamsil_pollRx(a_, &rx(), 64, VMK_FALSE, nullptr));
  for (size_t i = 0; i < std::size(services); i++)
    EXPECT_EQ(i < 6 ? 64u : 0u, vmktest::callCount(services[i]) - before[i]) << services[i];
  vmk_NetPollFlushRx(a_->netpoll[0].netpoll);
  std::vector<vmk_PktHandle*> got = vmktest::netPollTakeRx(a_->netpoll[0].netpoll);
  EXPECT_EQ(64u, got.size());
  for (vmk_PktHandle* p : got) EXPECT_TRUE(vmk_PktIsCsumVfd(p));
  releaseAll(got);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Completion layouts and ring creation
// ---------------------------------------------------------------------------

TEST_F(RxTest, BothCompletionLayoutsDecode) {
  // Pivard functions run the basic layout, the others the advanced one.
  for (adapter::Gen g : {adapter::Gen::Pivard, adapter::Gen::Veskarn}) {
    SCOPED_TRACE(genText(g));
    up(g);
    const bool advanced = g != adapter::Gen::Pivard;
    EXPECT_EQ(advanced, a_->cap_advanced_rx != 0);
    a_->function_mode = 2;
    a_->pvid = 0;
    adapter::RxMeta m;
    m.vlan = 0xE123;
    m.vlan_present = true;
    m.tcp = true;
    m.ipv6 = true;
    m.ip_csum_ok = false;
    m.cast = 1;
    m.tunneled = true;
    m.rss_hash = 0x89ABCDEF;
    m.port = 1;
    const unsigned frag = rx().rxq.head - 64u;  // the oldest buffer posted
    inject(frame(333), m);
    RxCompletion* c = tamsil_rxComplGet(&rx());
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(0xE123, c->vlan_tag);
    EXPECT_EQ(1, c->vlan_present);
    EXPECT_EQ(333, c->pkt_size);
    EXPECT_EQ(frag, c->frag_index);
    EXPECT_EQ(1, c->num_frags);
    EXPECT_EQ(1, c->port);
    EXPECT_EQ(1, c->tcp);
    EXPECT_EQ(0, c->udp);
    EXPECT_EQ(1, c->ipv6);
    EXPECT_EQ(0, c->ip_csum_ok);
    EXPECT_EQ(1, c->l4_csum_ok);
    EXPECT_EQ(0, c->err);
    EXPECT_EQ(1, c->cast);
    EXPECT_EQ(advanced ? 1 : 0, c->tunneled);  // the basic layout has no such bit
    EXPECT_EQ(0xCDEF, c->rss_hash);            // kept to its low 16 bits
    EXPECT_EQ(nullptr, tamsil_rxComplGet(&rx()));  // consumed: dword 2 cleared
    tamsil_rxComplDiscard(a_, &rx(), c);
    EXPECT_EQ(63u, used());
    TearDown();
    SetUp();
  }
}

TEST_F(RxTest, RssFlagAndRingTypePerConfiguration) {
  struct Case {
    const char* name;
    vmk_uint32 features;
    vmk_int32 drss;
    vmk_uint16 rss, drssRings;
  };
  const Case cases[] = {
      {"RSS", TAMSIL_FEAT_RSS, 0, 4, 0},
      {"DRSS", TAMSIL_FEAT_DRSS, 2, 0, 4},
      {"RSS and DRSS", TAMSIL_FEAT_RSS | TAMSIL_FEAT_DRSS, 2, 3, 2},
      {"interface RSS flag", TAMSIL_FEAT_RSS | TAMSIL_FEAT_RSS_IF_FLAG, 0, 4, 0},
      {"interface RSS flag with DRSS", TAMSIL_FEAT_DRSS | TAMSIL_FEAT_RSS_IF_FLAG, 2, 0, 4},
  };
  associate(adapter::Gen::KS3);
  const vmk_uint32 V = a_->num_vectors;
  ASSERT_GE(V, 6u);
  const vmk_uint32 features = a_->features;
  const vmk_int32 drss = a_->drss;
  const vmk_uint16 rss0 = a_->res.max_rss_qs, drss0 = a_->res.max_drss_qs;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    a_->features = (features & ~0xE0u) | k.features;
    a_->drss = k.drss;
    a_->res.max_rss_qs = k.rss;
    a_->res.max_drss_qs = k.drssRings;
    for (vmk_uint32 i = 0; i < V; i++) a_->rxo[i].ring_type = 0;
    ASSERT_EQ(0u, tamsil_rxQueuesCreate(a_));
    const vmk_uint32 N = V - k.rss - k.drssRings;
    const bool ifFlag = (k.features & TAMSIL_FEAT_RSS_IF_FLAG) != 0;
    const bool rss = (k.features & TAMSIL_FEAT_RSS) != 0;
    for (vmk_uint32 i = 0; i < V; i++) {
      SCOPED_TRACE(i);
      bool flag = ifFlag ? ((i == 0 && k.drss != 0) || i >= N) : (rss ? i > N : i >= N);
      vmk_uint32 sent;
      {
        std::lock_guard<std::mutex> g(card_->lock());
        adapter::QueueObj* q = card_->engine().queue(adapter::ObjKind::RxQueue, a_->rxo[i].rxq.id);
        ASSERT_NE(nullptr, q);
        sent = q->flags;
      }
      EXPECT_EQ(flag, sent != 0);
      EXPECT_EQ(i < N ? 0 : (rss && i < N + k.rss) ? 1 : 2, a_->rxo[i].ring_type);
    }
    tamsil_rxQueuesDestroy(a_);
  }
  a_->features = features;
  a_->drss = drss;
  a_->res.max_rss_qs = rss0;
  a_->res.max_drss_qs = drss0;
}

}  // namespace

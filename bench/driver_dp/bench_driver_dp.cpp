// The driver's data path per packet: receive (completion to hand-off to the
// NetPoll, with the refill), transmit (the stack's packet to entries and
// doorbell, and the reaping of its completion), both together for one 64-byte
// packet, receive spread over the rings of 8 MAC filters and RSS, and frames
// end to end through the emulated adapter and a cable.
//
// Rx, Tx and RxPlusTx measure the driver and the kernel stand-in only: the
// adapter records the data-path doorbells without serving them
// (setRecordOnlyDoorbells) and its interrupts are off, so nothing but the
// benchmark thread touches the rings; the completions the device would have
// written are written ahead of time, outside the timed region, in the
// function's layout (adapter::encodeRxCompletion; for transmit dword 0 = the
// packet's last entry, dword 3 = 1). The stack's side is outside the timed
// region too: making the transmitted packets, and taking and releasing the
// received ones (vmk_NetPollFlushRx + vmktest::netPollTakeRx + release). A
// completed transmit packet is released by the stand-in inside
// vmk_NetPollQueueCompPkt, which stays in (it is the hand-over's cost).
//
// One iteration is one packet (KeepRunningBatch over bursts of 32, testpmd's
// burst): cpu_time per iteration is ns per packet, which
// bench/peer/compare-testpmd reads for RxPlusTx/64.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "adapter.h"
#include "dp_frame.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "tamsil_datapath.h"
#include "tamsil_netq.h"
#include "vmk_pkt_testing.h"
#include "vmk_netq_testing.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace {

constexpr unsigned kBurst = 32;
// Packets prepared per pause of the timer: completions written ahead,
// packets made. A pause costs a few hundred ns, spread over these.
constexpr unsigned kAhead = 512;
constexpr unsigned kBurstsPerPause = kAhead / kBurst;

// One uplink of an emulated adapter, associated and with I/O started.
struct Uplink {
  adapter::Adapter* card = nullptr;
  vmk_Device dev = nullptr, child = nullptr;
  Adapter* a = nullptr;
  vmk_Uplink uplink = nullptr;
  vmk_AddrCookie cookie{};
  const vmk_UplinkOps& ops() const {
    return static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(child).ptr)->ops;
  }
  vmk_uint32 defaultTxQueue() const { return a->queue_info.maxRxQueues; }
};

bool kernelUp() {
  static const bool up = [] {
    vmktest::reset();
    vmktest::netReset();
    vmktest::setClockRate(1.0);
    return vmktest::loadModule(init_module, "") == 0;
  }();
  return up;
}

// Cards live until the process ends (see main).
bool bringUp(Uplink& u, adapter::Gen g, const char* name) {
  adapter::AdapterConfig cfg;
  cfg.fw.gen = g;
  cfg.async_delay_us = 0;
  u.card = new adapter::Adapter(cfg);
  u.dev = vmktest::plugPciFunction(u.card->function(0));
  if (vmktest::attachDevice(u.dev) != VMK_OK || vmktest::scanDevice(u.dev) != VMK_OK ||
      vmktest::startDevice(u.dev) != VMK_OK)
    return false;
  vmk_AddrCookie c;
  c.ptr = nullptr;
  if (vmk_DeviceGetAttachedDriverData(u.dev, &c) != VMK_OK || c.ptr == nullptr) return false;
  u.a = static_cast<Adapter*>(c.ptr);
  std::vector<vmk_Device> kids = vmktest::childDevices(u.dev);
  if (kids.empty()) return false;
  u.child = kids[0];
  const auto* reg = static_cast<const vmk_UplinkRegData*>(vmktest::deviceRegistrationData(u.child).ptr);
  if (vmktest::uplinkAssociate(reg, name, &u.uplink) != VMK_OK) return false;
  u.cookie.ptr = u.a;
  if (u.ops().uplinkStartIO(u.cookie) != VMK_OK) return false;
  return u.card->waitIdle();
}

// An IPv4 TCP frame of `size` bytes, checksums left to the device.
std::vector<uint8_t> tcpFrame(size_t size, const vmk_uint8* dst) {
  std::vector<uint8_t> f(size, 0);
  std::memcpy(f.data(), dst, 6);
  const uint8_t src[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  std::memcpy(f.data() + 6, src, 6);
  f[12] = 0x08;
  const size_t ipLen = size - 14;
  const uint8_t ip[20] = {0x45, 0, uint8_t(ipLen >> 8), uint8_t(ipLen), 0x12, 0x34, 0x40, 0, 64, 6, 0, 0,
                          10,   0, 0,                    1,              10,   0,    0,    2};
  std::memcpy(f.data() + 14, ip, 20);
  const uint8_t tcp[20] = {0x04, 0xD2, 0, 80, 0, 0, 1, 0, 0, 0, 0, 0, 0x50, 0x18, 0xFF, 0xFF, 0, 0, 0, 0};
  std::memcpy(f.data() + 34, tcp, 20);
  for (size_t i = 54; i < size; i++) f[i] = static_cast<uint8_t>(i * 7 + 3);
  return f;
}

// A receive ring driven by hand: the completions the device would write for
// the buffers posted, in ring order, written ahead of the poll.
struct HandRing {
  tamsil_rxo* rxo = nullptr;
  uint16_t cqWrite = 0, fragNext = 0;

  // Starts after whatever the ring holds now.
  void attach(tamsil_rxo* r) {
    rxo = r;
    cqWrite = r->cq.tail;
    fragNext = static_cast<uint16_t>((r->rxq.head + r->rxq.len - vmk_AtomicRead64(&r->rxq.used)) & (r->rxq.len - 1));
  }
  // Completions written and not yet consumed.
  unsigned ahead() const { return (cqWrite - rxo->cq.tail) & (rxo->cq.len - 1); }
  // Writes completions of `size`-byte UDP frames (checksums good), one per
  // posted buffer in ring order, until `n` wait.
  bool topUp(Adapter* a, adapter::Gen g, unsigned n, unsigned size, uint32_t hash = 0) {
    adapter::RxMeta m;
    m.udp = true;
    m.rss_hash = hash;
    while (ahead() < n) {
      if (__atomic_load_n(&rxo->frag_info_table[fragNext].pkt, __ATOMIC_ACQUIRE) == nullptr) return false;
      uint8_t e[16];
      adapter::encodeRxCompletion(g, a->cap_advanced_rx != 0, a->port_num, fragNext, size, m, e);
      auto* w = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(rxo->cq.mem.va) + cqWrite * TAMSIL_RXCQ_ENTRY_SIZE);
      uint32_t d[4];
      std::memcpy(d, e, 16);
      w[0] = d[0];
      w[1] = d[1];
      w[3] = d[3];
      __atomic_store_n(&w[2], d[2], __ATOMIC_RELEASE);
      cqWrite = (cqWrite + 1) & (rxo->cq.len - 1);
      fragNext = (fragNext + 1) & (rxo->rxq.len - 1);
    }
    return true;
  }
  // The stack takes what the ring's NetPoll handed over.
  void take(Adapter* a) {
    vmk_NetPoll np = a->eqo[rxo->idx].netpoll->netpoll;
    vmk_NetPollFlushRx(np);
    for (vmk_PktHandle* p : vmktest::netPollTakeRx(np)) vmk_PktRelease(p);
  }
  // A full receive ring, as a NetPoll keeps it, and nothing pending in it.
  void fill(Adapter* a) {
    for (unsigned i = 0; i < TAMSIL_RXQ_LEN / TAMSIL_RX_POST_MAX; i++) tamsil_postRxFrags(rxo, TAMSIL_RX_POST_MAX);
    while (tamsil_pollRx(a, rxo, 64, VMK_FALSE, nullptr) != 0) {
    }
    take(a);
    attach(rxo);
  }
};

// Nothing but the calling thread may touch the rings from here on: the
// uplink's interrupts are off and the device only records the data-path
// doorbells (and those of `cqs`); the stand-in's per-thread packet cache is
// filled up front, so every buffer in circulation comes from it.
bool handDriven(Uplink& u, const std::vector<uint32_t>& cqs) {
  vmktest::netPollDrain();
  if (tamsil_disableIntrs(u.a) != VMK_OK) return false;
  vmktest::netPollDrain();
  u.card->setRecordOnlyDoorbells(0, true, cqs);
  std::vector<vmk_PktHandle*> primed(3 * TAMSIL_RXQ_LEN);
  for (vmk_PktHandle*& p : primed)
    if (vmk_PktAllocForDMAEngine(u.a->max_frame, u.a->dma_engine, &p) != VMK_OK) return false;
  for (vmk_PktHandle* p : primed) vmk_PktRelease(p);
  return true;
}

// The uplink the per-packet benchmarks drive by hand: ring 0 and transmit
// queue 0, the device recording doorbells only.
class Bench {
 public:
  static Bench* get() {
    static Bench* b = [] {
      auto* x = new Bench;
      if (!x->init()) {
        std::fprintf(stderr, "bench_driver_dp: bring-up failed\n");
        return static_cast<Bench*>(nullptr);
      }
      return x;
    }();
    return b;
  }

  // ---- receive ----
  unsigned rxAhead() const { return ring_.ahead(); }
  bool rxTopUp(unsigned n, unsigned size) { return ring_.topUp(a_, u_.card->gen(), n, size); }
  void rxTake() { ring_.take(a_); }
  vmk_uint32 pollRx(vmk_uint32 budget) { return tamsil_pollRx(a_, rxo_, budget, VMK_FALSE, nullptr); }

  // ---- transmit ----
  // Makes kAhead packets of `size` bytes, in lists of a burst.
  void txMake(size_t size) {
    if (frameSize_ != size) {
      frame_ = tcpFrame(size, dstMac_);
      frameSize_ = size;
    }
    for (unsigned l = 0; l < kBurstsPerPause; l++) {
      vmk_PktListInit(&lists_[l]);
      for (unsigned k = 0; k < kBurst; k++) {
        vmk_PktHandle* p = vmktest::pktMake(frame_);
        vmktest::pktSetMustCsum(p, true);
        vmk_PktQueueIDSet(p, u_.defaultTxQueue());
        vmk_PktListAppendPkt(&lists_[l], p);
      }
    }
    nextList_ = 0;
  }
  bool txListsLeft() const { return nextList_ < kBurstsPerPause; }
  // Releases the packets a previous run left unsent.
  void txReset() {
    for (; nextList_ < kBurstsPerPause; nextList_++) vmk_PktListReleaseAllPkts(&lists_[nextList_]);
  }
  // The device's side of every packet posted since the last call: one
  // completion naming the packet's last entry.
  void txComplete() {
    QueueInfo& q = txo_->q;
    QueueInfo& cq = txo_->cq;
    while (txHdr_ != q.head) {
      const auto* h = reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(q.mem.va) + txHdr_ * 16u);
      const uint32_t entries = (h[2] >> 13) & 0x1F;
      const uint16_t last = static_cast<uint16_t>((txHdr_ + entries - 1) & (q.len - 1));
      auto* w = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(cq.mem.va) + txCqWrite_ * TAMSIL_TXCQ_ENTRY_SIZE);
      w[0] = last;
      w[1] = w[2] = 0;
      __atomic_store_n(&w[3], 1u, __ATOMIC_RELEASE);
      txCqWrite_ = (txCqWrite_ + 1) & (cq.len - 1);
      txHdr_ = static_cast<uint16_t>((last + 1) & (q.len - 1));
    }
  }
  // The uplink's transmit operation on the next list; false when a packet
  // was not taken.
  bool tx() {
    vmk_PktList* l = &lists_[nextList_++];
    return u_.ops().uplinkTx(u_.cookie, l) == VMK_OK && vmk_PktListIsEmpty(l);
  }
  vmk_uint32 pollTx() { return tamsil_pollTx(a_, txo_, VMK_FALSE, VMK_FALSE); }

  adapter::Adapter& card() { return *u_.card; }

 private:
  bool init() {
    if (!kernelUp() || !bringUp(u_, adapter::Gen::Veskarn, "vmnic1")) return false;
    a_ = u_.a;
    rxo_ = &a_->rxo[0];
    txo_ = &a_->txo[u_.defaultTxQueue() - a_->queue_info.maxRxQueues];
    if (!handDriven(u_, {rxo_->cq.id, txo_->cq.id})) return false;
    ring_.attach(rxo_);
    ring_.fill(a_);
    pollTx();
    txHdr_ = txo_->q.head;
    txCqWrite_ = txo_->cq.tail;
    if (vmk_AtomicRead64(&txo_->q.used) != 0) return false;
    std::memcpy(dstMac_, u_.a->uplink_reg.perm_mac, 6);
    dstMac_[0] ^= 0x80;   // another locally administered station
    // Warm up the stand-in's packet caches and the rings, so that even a
    // brief run measures the steady state.
    for (unsigned round = 0; round < 8; round++) {
      rxTake();
      if (!rxTopUp(kAhead, 64)) return false;
      txComplete();
      txMake(64);
      for (unsigned k = 0; k < kBurstsPerPause; k++) {
        if (pollRx(kBurst) != kBurst || !tx()) return false;
        pollTx();
      }
    }
    rxTake();
    return true;
  }

  Uplink u_;
  Adapter* a_ = nullptr;
  tamsil_rxo* rxo_ = nullptr;
  tamsil_txo* txo_ = nullptr;
  HandRing ring_;
  uint16_t txHdr_ = 0, txCqWrite_ = 0;
  vmk_PktList lists_[kBurstsPerPause];
  unsigned nextList_ = kBurstsPerPause;
  std::vector<uint8_t> frame_;
  size_t frameSize_ = 0;
  vmk_uint8 dstMac_[6] = {};
};

// An iteration is a packet: the time per iteration is the time per packet.
void perPacket(benchmark::State& state) { state.SetItemsProcessed(static_cast<int64_t>(state.iterations())); }

// Receive: completions to packets handed to the NetPoll, with the refill
// (a poll refills 64 buffers once fewer than 960 are posted: over a run,
// one buffer per packet).
void Rx(benchmark::State& state) {
  Bench* b = Bench::get();
  if (b == nullptr) {
    state.SkipWithError("bring-up");
    return;
  }
  const auto size = static_cast<unsigned>(state.range(0));
  while (state.KeepRunningBatch(kBurst)) {
    if (b->rxAhead() < kBurst) {
      state.PauseTiming();
      b->rxTake();
      const bool ok = b->rxTopUp(kAhead, size);
      state.ResumeTiming();
      if (!ok) {
        state.SkipWithError("receive ring not posted");
        break;
      }
    }
    if (b->pollRx(kBurst) != kBurst) {
      state.SkipWithError("short poll");
      break;
    }
  }
  b->rxTake();
  perPacket(state);
}
BENCHMARK(Rx)->Arg(64)->Arg(1500);

// Receive with 8 MAC filters and RSS: two MACs on each of the NetQueue
// queues 1-3 and two on the RSS queue, whose flows the RSS rings share by
// the Toeplitz hash of the driver's key. Frames of 64 flows cycle over the
// MACs; each burst's frames are split over the rings they were steered to,
// and each ring is polled for its share, as its own NetPoll would. The
// figure to hold against Rx (one ring) of the same run.
class SteeredBench {
 public:
  static SteeredBench* get() {
    static SteeredBench* b = [] {
      auto* x = new SteeredBench;
      if (!x->init()) {
        std::fprintf(stderr, "bench_driver_dp: steered bring-up failed\n");
        return static_cast<SteeredBench*>(nullptr);
      }
      return x;
    }();
    return b;
  }
  bool burstsLeft() const { return burst_ < kBurstsPerPause; }
  // Every ring's completions for the next kAhead packets.
  bool topUp(unsigned size) {
    for (size_t r = 0; r < rings_.size(); r++) {
      rings_[r].take(a_);
      if (!rings_[r].topUp(a_, u_.card->gen(), need_[r], size)) return false;
    }
    burst_ = 0;
    return true;
  }
  // One burst: each ring polled for what reached it.
  bool poll() {
    const std::vector<unsigned>& share = shares_[burst_++];
    for (size_t r = 0; r < rings_.size(); r++)
      if (share[r] != 0 && tamsil_pollRx(a_, rings_[r].rxo, share[r], VMK_FALSE, nullptr) != share[r]) return false;
    return true;
  }
  void take() {
    for (HandRing& r : rings_) r.take(a_);
  }

 private:
  static constexpr unsigned kMacs = 8, kFlows = 64;

  // The ring a flow of the RSS queue lands on: the driver's table spreads
  // the 128 entries over the RSS rings in order.
  vmk_uint32 rssRing(unsigned flow) const {
    const uint8_t in[12] = {10, 0, 0, 1, 10, 0, 0, 2, uint8_t((1000 + flow) >> 8), uint8_t(1000 + flow), 0, 80};
    const uint32_t h = adapter::dp::toeplitz(tamsil_rssKey(), TAMSIL_RSS_KEY_LEN, in, sizeof in);
    const vmk_uint32 L = tamsil_rssLeadingRing(a_), nRss = a_->res.max_rss_qs;
    const bool flag = (a_->features & TAMSIL_FEAT_RSS_IF_FLAG) != 0;
    return (flag ? L : L + 1) + (h & 127) % (flag ? nRss : nRss - 1);
  }

  bool init() {
    if (!kernelUp() || !bringUp(u_, adapter::Gen::Veskarn, "vmnic4")) return false;
    a_ = u_.a;
    if (!(a_->features & TAMSIL_FEAT_RSS) || tamsil_rssLeadingRing(a_) < 4) return false;
    vmktest::NetQueue nq(u_.uplink, u_.cookie);
    if (!nq.supported()) return false;
    vmk_UplinkQueueID q[4];
    for (int i = 0; i < 4; i++) {
      const VMK_ReturnStatus st = i < 3 ? nq.alloc(VMK_UPLINK_QUEUE_TYPE_RX, &q[i])
                                        : nq.allocWithFeatures(VMK_UPLINK_QUEUE_TYPE_RX, VMK_UPLINK_QUEUE_FEAT_RSS, &q[i]);
      if (st != VMK_OK || nq.start(q[i]) != VMK_OK) return false;
    }
    // The ring of each (MAC, flow): MACs 0-5 on queues 1-3, 6-7 on RSS.
    std::vector<vmk_uint32> ringOf(kFlows);
    for (unsigned m = 0; m < kMacs; m++) {
      const uint8_t mac[6] = {0x02, 0x5B, 0, 0, 0, static_cast<uint8_t>(m)};
      vmk_UplinkQueueFilterID fid;
      if (nq.apply(q[m < 6 ? m / 2 : 3], vmktest::macFilter(mac), &fid) != VMK_OK) return false;
    }
    for (unsigned f = 0; f < kFlows; f++) {
      const unsigned m = f % kMacs;
      ringOf[f] = m < 6 ? tamsil_queueIdVal(q[m / 2]) : rssRing(f);
    }
    std::vector<vmk_uint32> ids;
    std::vector<int> slot(TAMSIL_MAX_VECTORS, -1);
    for (vmk_uint32 r : ringOf) {
      if (slot[r] >= 0) continue;
      slot[r] = static_cast<int>(rings_.size());
      rings_.emplace_back();
      rings_.back().rxo = &a_->rxo[r];
      ids.push_back(a_->rxo[r].cq.id);
    }
    if (ids.size() > 8 || !handDriven(u_, ids)) return false;
    for (HandRing& r : rings_) r.fill(a_);
    need_.assign(rings_.size(), 0);
    shares_.assign(kBurstsPerPause, std::vector<unsigned>(rings_.size(), 0));
    for (unsigned i = 0; i < kAhead; i++) {
      const auto r = static_cast<size_t>(slot[ringOf[i % kFlows]]);
      need_[r]++;
      shares_[i / kBurst][r]++;
    }
    burst_ = kBurstsPerPause;
    for (unsigned round = 0; round < 8; round++) {
      if (!topUp(64)) return false;
      while (burstsLeft())
        if (!poll()) return false;
    }
    take();
    return true;
  }

  Uplink u_;
  Adapter* a_ = nullptr;
  std::vector<HandRing> rings_;
  std::vector<unsigned> need_;
  std::vector<std::vector<unsigned>> shares_;
  unsigned burst_ = 0;
};

void RxSteered(benchmark::State& state) {
  SteeredBench* b = SteeredBench::get();
  if (b == nullptr) {
    state.SkipWithError("bring-up");
    return;
  }
  const auto size = static_cast<unsigned>(state.range(0));
  while (state.KeepRunningBatch(kBurst)) {
    if (!b->burstsLeft()) {
      state.PauseTiming();
      const bool ok = b->topUp(size);
      state.ResumeTiming();
      if (!ok) {
        state.SkipWithError("receive ring not posted");
        break;
      }
    }
    if (!b->poll()) {
      state.SkipWithError("short poll");
      break;
    }
  }
  b->take();
  perPacket(state);
}
BENCHMARK(RxSteered)->Arg(64)->Arg(1500);

// Transmit: the uplink's transmit operation on a burst (entries, fence and
// doorbell per packet), then the reaping of the completions written since
// the last pause (the first poll after a pause reaps the previous chunk's,
// the others find none).
void Tx(benchmark::State& state) {
  Bench* b = Bench::get();
  if (b == nullptr) {
    state.SkipWithError("bring-up");
    return;
  }
  const auto size = static_cast<size_t>(state.range(0));
  b->txReset();
  while (state.KeepRunningBatch(kBurst)) {
    if (!b->txListsLeft()) {
      state.PauseTiming();
      b->txComplete();
      b->txMake(size);
      state.ResumeTiming();
    }
    if (!b->tx()) {
      state.SkipWithError("transmit refused");
      break;
    }
    b->pollTx();
  }
  perPacket(state);
}
BENCHMARK(Tx)->Arg(64)->Arg(1500);

// Receive plus transmit of a 64-byte packet: the figure to hold against the
// 67.2 ns a 64-byte frame takes at 10 Gb/s.
void RxPlusTx(benchmark::State& state) {
  Bench* b = Bench::get();
  if (b == nullptr) {
    state.SkipWithError("bring-up");
    return;
  }
  const auto size = static_cast<unsigned>(state.range(0));
  b->txReset();
  while (state.KeepRunningBatch(kBurst)) {
    if (!b->txListsLeft() || b->rxAhead() < kBurst) {
      state.PauseTiming();
      b->rxTake();
      const bool ok = b->rxTopUp(kAhead, size);
      b->txComplete();
      if (!b->txListsLeft()) b->txMake(size);
      state.ResumeTiming();
      if (!ok) {
        state.SkipWithError("receive ring not posted");
        break;
      }
    }
    if (b->pollRx(kBurst) != kBurst) {
      state.SkipWithError("short poll");
      break;
    }
    if (!b->tx()) {
      state.SkipWithError("transmit refused");
      break;
    }
    b->pollTx();
  }
  b->rxTake();
  perPacket(state);
}
BENCHMARK(RxPlusTx)->Arg(64);

// End to end: bursts sent on one uplink cross the cable and are taken from
// the other's NetPolls (interrupt driven, the adapter serving every doorbell
// on its device thread). Packets per second of real time, everything in.
struct Pair {
  Uplink tx, rx;
  bool ok = false;
};
Pair* pair() {
  static Pair* p = [] {
    auto* x = new Pair;
    x->ok = kernelUp() && bringUp(x->tx, adapter::Gen::Veskarn, "vmnic2") &&
            bringUp(x->rx, adapter::Gen::Veskarn, "vmnic3");
    if (x->ok) adapter::Adapter::connectCable(*x->tx.card, 0, *x->rx.card, 0);
    // Start I/O posts a first batch per ring and each poll adds 64 more:
    // fill the receive rings as a while of traffic leaves them, so that the
    // first bursts do not meet a ring still filling.
    for (vmk_uint32 i = 0; x->ok && i < x->rx.a->num_vectors && i < TAMSIL_MAX_VECTORS; i++)
      for (unsigned k = 0; k < TAMSIL_RXQ_LEN / TAMSIL_RX_POST_MAX; k++)
        tamsil_postRxFrags(&x->rx.a->rxo[i], TAMSIL_RX_POST_MAX);
    return x;
  }();
  return p;
}

unsigned takeAll(Uplink& u) {
  unsigned n = 0;
  for (vmk_uint32 v = 0; v < TAMSIL_MAX_VECTORS; ++v) {
    if (u.a->netpoll[v].netpoll == nullptr) continue;
    for (vmk_PktHandle* p : vmktest::netPollTakeRx(u.a->netpoll[v].netpoll)) {
      vmk_PktRelease(p);
      n++;
    }
  }
  return n;
}

// Where frames that did not arrive were lost.
void lost(Uplink& rx) {
  const adapter::Adapter::PortCounters c = rx.card->portCounters(0);
  std::fprintf(stderr, "receiving port: arrived %llu, delivered %llu, filtered %llu, no buffer %llu\n",
               (unsigned long long)c.rx_frames, (unsigned long long)c.rx_delivered,
               (unsigned long long)c.rx_filtered, (unsigned long long)c.rx_no_buffer);
}

// Waits (real time) until at most `inFlight` of the frames sent have not
// arrived; false when none arrived for two seconds.
bool awaitArrivals(Uplink& rx, uint64_t sent, uint64_t& got, uint64_t inFlight) {
  auto last = std::chrono::steady_clock::now();
  while (sent - got > inFlight) {
    const unsigned n = takeAll(rx);
    got += n;
    if (n != 0) {
      last = std::chrono::steady_clock::now();
    } else {
      if (std::chrono::steady_clock::now() - last > std::chrono::seconds(2)) return false;
      std::this_thread::yield();
    }
  }
  return true;
}

// Bursts are sent back to back while at most kInFlight frames are on their
// way (within both rings), so the figure is the pipeline's rate, not a
// round trip's.
void EndToEnd(benchmark::State& state) {
  constexpr uint64_t kInFlight = 256;
  Pair* p = pair();
  if (!p->ok) {
    state.SkipWithError("bring-up");
    return;
  }
  const std::vector<uint8_t> f = tcpFrame(static_cast<size_t>(state.range(0)), p->rx.a->uplink_reg.perm_mac);
  uint64_t sent = 0, got = 0;
  takeAll(p->rx);
  for (auto _ : state) {
    vmk_PktList l;
    vmk_PktListInit(&l);
    for (unsigned k = 0; k < kBurst; k++) {
      vmk_PktHandle* pk = vmktest::pktMake(f);
      vmktest::pktSetMustCsum(pk, true);
      vmk_PktQueueIDSet(pk, p->tx.defaultTxQueue());
      vmk_PktListAppendPkt(&l, pk);
    }
    // A full ring answers busy: retry once the device has caught up.
    while (p->tx.ops().uplinkTx(p->tx.cookie, &l) == VMK_BUSY) std::this_thread::yield();
    sent += kBurst;
    if (!awaitArrivals(p->rx, sent, got, kInFlight)) {
      lost(p->rx);
      state.SkipWithError("frames lost on the way");
      return;
    }
  }
  if (!awaitArrivals(p->rx, sent, got, 0)) {
    lost(p->rx);
    state.SkipWithError("frames lost on the way");
    return;
  }
  state.SetItemsProcessed(static_cast<int64_t>(got));
  state.counters["pps"] = benchmark::Counter(static_cast<double>(got), benchmark::Counter::kIsRate);
}
BENCHMARK(EndToEnd)->Arg(64)->Arg(1500)->UseRealTime();

}  // namespace

// The kernel stand-in's worlds and the adapters' device threads run until
// the end: the process leaves without tearing them down (the figures are
// all printed by then).
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::fflush(nullptr);
  std::_Exit(0);
}

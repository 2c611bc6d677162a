// The MTU change (with the rebuild of the receive rings a new buffer size
// needs), the link status set capability and adaptive interrupt moderation.
#include <atomic>
#include <thread>

#include "cable_fixture.h"
#include "tamsil_cmds.h"

namespace {

constexpr uint8_t kCommon = 1, kNic = 3;
constexpr uint8_t kRxqCreate = 8, kRxqDestroy = 10, kCqCreate = 12, kModifyEqd = 41, kSetSpeed = 57;

class MtuTest : public DpTest {
 protected:
  void started(adapter::Gen g) {
    associate(g);
    ASSERT_EQ(VMK_OK, startIO());
  }
  VMK_ReturnStatus mtu(vmk_uint32 m) { return ops().uplinkMTUSet(cookie_, m); }
  unsigned rxqCommands() const {
    return card_->engine().commandsSeen(kNic, kRxqCreate) + card_->engine().commandsSeen(kNic, kRxqDestroy);
  }
  vmk_uint32 vectors() const { return a_->num_vectors < TAMSIL_MAX_VECTORS ? a_->num_vectors : TAMSIL_MAX_VECTORS; }
  // What the firmware holds of every receive queue: fragment size (log 2)
  // and largest frame.
  void expectRxqs(unsigned fragLog, unsigned maxFrame) {
    const std::vector<adapter::QueueObj*> qs = card_->engine().queues(adapter::ObjKind::RxQueue);
    ASSERT_EQ(vectors(), qs.size());
    for (const adapter::QueueObj* q : qs) {
      EXPECT_EQ(fragLog, q->ctx[1]);
      EXPECT_EQ(maxFrame, q->ctx[0]);
    }
  }
};

TEST_F(MtuTest, RangeAndBufferSizes) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    started(g);
    const unsigned cmds = rxqCommands();
    EXPECT_EQ(VMK_OK, mtu(1500));  // the MTU in force: nothing is done
    for (vmk_uint32 bad : {63u, 9001u, 0u}) {
      SCOPED_TRACE(bad);
      EXPECT_EQ(VMK_BAD_PARAM, mtu(bad));
    }
    EXPECT_EQ(3u, logged("Invalid MTU requested. Must be between 64 and 9000 bytes"));
    // Same buffer size: stored, the rings stay.
    EXPECT_EQ(VMK_OK, mtu(1900));
    EXPECT_EQ(VMK_OK, mtu(64));
    EXPECT_EQ(cmds, rxqCommands());
    EXPECT_EQ(64u, a_->shared_data.mtu);
    EXPECT_EQ(1932u, a_->max_frame);
    EXPECT_EQ(VMK_OK, mtu(1900));
    // One byte more needs the large buffers: every ring is rebuilt.
    const unsigned creates = card_->engine().commandsSeen(kNic, kRxqCreate);
    EXPECT_EQ(VMK_OK, mtu(1901));
    EXPECT_EQ(creates + vectors(), card_->engine().commandsSeen(kNic, kRxqCreate));
    EXPECT_EQ(vectors(), card_->engine().countLive(adapter::ObjKind::RxQueue));
    EXPECT_EQ(1901u, a_->shared_data.mtu);
    EXPECT_EQ(1901u, a_->mtu);
    EXPECT_EQ(9032u, a_->max_frame);
    EXPECT_EQ(16384u, a_->rx_frag_size);
    expectRxqs(14, 9032);
    EXPECT_TRUE(ioStarted());
    EXPECT_FALSE(tamsil_flagTest(a_, TAMSIL_FLAG_RECONFIG));
    EXPECT_EQ(5000u, vmktest::uplinkWatchdogMs(uplink_));
    EXPECT_EQ(VMK_OK, mtu(9000));
    EXPECT_EQ(creates + vectors(), card_->engine().commandsSeen(kNic, kRxqCreate));
    // While I/O is quiesced only the sizes are kept, for the next start.
    ASSERT_EQ(VMK_OK, quiesceIO());
    const unsigned quiet = rxqCommands();
    EXPECT_EQ(VMK_OK, mtu(1500));
    EXPECT_EQ(quiet, rxqCommands());
    EXPECT_EQ(1932u, a_->max_frame);
    EXPECT_EQ(2048u, a_->rx_frag_size);
    ASSERT_EQ(VMK_OK, startIO());
    expectRxqs(11, 1932);
    TearDown();
    SetUp();
  }
}

TEST_F(MtuTest, RefusedWhileTheAdapterIsInErrorOrBeingRebuilt) {
  started(adapter::Gen::KS3);
  struct Case {
    const char* what;
    std::function<void(Adapter*, bool)> set;
  };
  const Case cases[] = {
      {"hardware error", [](Adapter* a, bool on) { __atomic_store_n(&a->hw_error, on, __ATOMIC_RELAXED); }},
      {"command time-out", [](Adapter* a, bool on) { __atomic_store_n(&a->fw_timeout, on, __ATOMIC_RELAXED); }},
      {"TPE re-initialisation",
       [](Adapter* a, bool on) { __atomic_store_n(&a->tpe_state, (vmk_uint16)(on ? 6 : 1), __ATOMIC_RELAXED); }},
      {"reconfiguration", [](Adapter* a, bool on) {
         on ? vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_RECONFIG) : vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_RECONFIG);
       }},
      {"recovery", [](Adapter* a, bool on) {
         on ? vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_TPE_REINIT) : vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_TPE_REINIT);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const unsigned cmds = rxqCommands();
    c.set(a_, true);
    EXPECT_EQ(VMK_FAILURE, mtu(1901));
    c.set(a_, false);
    EXPECT_EQ(cmds, rxqCommands());
    EXPECT_EQ(1500u, a_->shared_data.mtu);
  }
  EXPECT_EQ(5u, logged("Can not set MTU now (tpe_state:"));
  EXPECT_EQ(VMK_OK, mtu(1901));
}

// The worker refills a starving ring while the MTU flips between the two
// buffer sizes: the refill must never touch a ring being rebuilt (ASan and
// TSan builds see a post into freed memory or the race itself).
TEST_F(MtuTest, RebuildLoopWithAStarvingRingAndTheWorkerRunning) {
  startDevice_ = true;
  started(adapter::Gen::KS3);
  // The worker's own world ticks once a second; a thread that ticks without
  // pause stands in for it so that the loop meets it many times.
  vmk_WorldDestroy(a_->worker_world);
  vmk_WorldWaitForDeath(a_->worker_world);
  a_->worker_world = VMK_INVALID_WORLD_ID;
  std::atomic<bool> stop{false};
  std::atomic<unsigned> ticks{0};
  std::thread worker([&] {
    while (!stop.load()) {
      for (vmk_uint32 i = 0; i < vectors(); i++) __atomic_store_n(&a_->rxo[i].rx_post_starved, 1, __ATOMIC_RELAXED);
      tamsil_workerTick(a_);
      ticks++;
    }
  });
  for (int i = 0; i < 40; i++) {
    const unsigned seen = ticks.load();
    ASSERT_EQ(VMK_OK, mtu(i % 2 == 0 ? 1901 : 1900)) << i;
    ASSERT_TRUE(vmktest::waitFor([&] { return ticks.load() > seen + 1; }));
  }
  stop = true;
  worker.join();
  EXPECT_EQ(1900u, a_->shared_data.mtu);
  EXPECT_EQ(vectors(), card_->engine().countLive(adapter::ObjKind::RxQueue));
  EXPECT_EQ(0u, logged("tamsil_changeRxBufSize failed"));
}

// A failure at any step of the rebuild leaves what a quiesce leaves: no
// receive queue in the firmware, no buffer or ring memory, the old MTU; the
// adapter starts again and takes the change afterwards.
TEST_F(MtuTest, FailureAtEachStepUndoesExactly) {
  struct Case {
    const char* what;
    adapter::Gen gen;
    uint8_t sub = 0, op = 0;     // engine fault (the first command it meets)
    const char* call = nullptr;  // stand-in failure
    unsigned nth = 1;
    const char* message;
    size_t kept = 0;             // receive queues the firmware refused to let go
  };
  const Case cases[] = {
      {"queue destroy refused", adapter::Gen::KS3, kNic, kRxqDestroy, nullptr, 1, "tamsil_cmdRxqDestroy failed.", 1},
      {"queue create refused", adapter::Gen::KS3, kNic, kRxqCreate, nullptr, 1, "tamsil_cmdRxqCreateUseMcc failed."},
      {"queue create refused (Pivard)", adapter::Gen::Pivard, kNic, kRxqCreate, nullptr, 1,
       "tamsil_cmdRxqCreateUseMcc failed."},
      {"completion queue create refused (Pivard)", adapter::Gen::Pivard, kCommon, kCqCreate, nullptr, 1,
       "Failed to create Rx completion queues"},
      {"ring memory", adapter::Gen::Veskarn, 0, 0, "vmk_MemPoolAlloc", 1, "tamsil_cmdRxqCreateUseMcc failed."},
      {"second ring memory", adapter::Gen::Veskarn, 0, 0, "vmk_MemPoolAlloc", 3, "tamsil_cmdRxqCreateUseMcc failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    associate(c.gen);
    const size_t cqs = card_->engine().countLive(adapter::ObjKind::Cq);
    const vmktest::Live before = vmktest::live();
    ASSERT_EQ(VMK_OK, startIO());
    ASSERT_EQ(VMK_OK, mtu(1900));
    const size_t failed = logged("tamsil_changeRxBufSize failed");
    const size_t msg = logged(c.message);
    if (c.call != nullptr) {
      vmktest::failCall(c.call, c.nth);
    } else {
      card_->engine().setFault(c.sub, c.op, {.status = 3, .times = 1});
    }
    EXPECT_EQ(VMK_FAILURE, mtu(1901));
    if (c.call != nullptr) {
      EXPECT_EQ(1u, vmktest::injectedCount(c.call));
    }
    vmktest::clearFailures();
    card_->engine().clearFaults();
    EXPECT_EQ(failed + 1, logged("tamsil_changeRxBufSize failed"));
    EXPECT_LT(msg, logged(c.message));
    EXPECT_TRUE(ioQuiesced());
    EXPECT_FALSE(ioStarted());
    EXPECT_FALSE(tamsil_flagTest(a_, TAMSIL_FLAG_RECONFIG));
    EXPECT_EQ(5000u, vmktest::uplinkWatchdogMs(uplink_));
    EXPECT_EQ(1900u, a_->shared_data.mtu);
    EXPECT_EQ(1932u, a_->max_frame);
    EXPECT_EQ(c.kept, card_->engine().countLive(adapter::ObjKind::RxQueue));
    EXPECT_EQ(cqs, card_->engine().countLive(adapter::ObjKind::Cq));
    vmktest::netPollDrain();
    const vmktest::Live after = vmktest::live();
    EXPECT_EQ(before.heapBlocks, after.heapBlocks);
    EXPECT_EQ(before.poolPages, after.poolPages);
    EXPECT_EQ(before.packets, after.packets);
    EXPECT_EQ(before.dmaMappings, after.dmaMappings);
    EXPECT_EQ(before.intrRegistrations, after.intrRegistrations);
    // Up again, and the change goes through (a firmware that keeps a queue
    // it was told to destroy is left to detach's function reset).
    if (c.kept == 0) {
      ASSERT_EQ(VMK_OK, startIO());
      EXPECT_EQ(VMK_OK, mtu(1901));
      EXPECT_EQ(9032u, a_->max_frame);
    }
    TearDown();  // checks that detach leaves nothing behind
    SetUp();
  }
}
/* ------------------------------------------------------------------------ */
/* Frames of the new size cross the cable                                     */
/* ------------------------------------------------------------------------ */

class MtuCableTest : public cabletest::CableTest {};

TEST_F(MtuCableTest, JumboFramesCrossAfterTheRebuild) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    join(g);
    cabletest::End& rx = ends_[1];
    cabletest::End& tx = ends_[0];
    for (cabletest::End& e : ends_) ASSERT_EQ(VMK_OK, e.ops().uplinkMTUSet(e.cookie, 9000));
    ASSERT_TRUE(waitPosted(rx, 8, true)) << "the device never took the rebuilt rings' buffers";
    cabletest::Send s{"jumbo UDP", {}, true, 0, -1};
    s.spec.proto = 17;
    s.spec.payload = netframes::pattern(8000, 3);
    cabletest::Send small{"small TCP", {}, true, 0, -1};
    small.spec.proto = 6;
    small.spec.payload = netframes::pattern(100, 4);
    transmit(tx, {s, small}, rx.mac());
    std::vector<cabletest::Bytes> got = receive(rx, 2);
    ASSERT_EQ(2u, got.size());
    std::sort(got.begin(), got.end(), [](const auto& x, const auto& y) { return x.size() > y.size(); });
    EXPECT_EQ(14u + 20 + 8 + 8000, got[0].size());
    const netframes::Parsed p = netframes::parse(got[0], 0, false);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(std::equal(s.spec.payload.begin(), s.spec.payload.end(), got[0].begin() + p.l4 + 8));
    TearDown();
    SetUp();
  }
}

/* ------------------------------------------------------------------------ */
/* Link status set                                                           */
/* ------------------------------------------------------------------------ */

using LinkSetFn = VMK_ReturnStatus (*)(vmk_AddrCookie, void*);

class LinkSetTest : public DpTest {
 protected:
  void started(adapter::Gen g, uint8_t ifType, uint16_t caps2 = 0x0C) {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g;
    cfg.fw.phy_if_type = ifType;
    cfg.fw.speed_caps2 = caps2;
    associate(cfg);
    ASSERT_EQ(VMK_OK, startIO());
  }
  VMK_ReturnStatus set(vmk_uint32 state, vmk_uint32 speed, vmk_uint32 duplex) {
    auto fn = reinterpret_cast<LinkSetFn>(const_cast<void*>(vmktest::uplinkCapOps(uplink_, 15)));
    vmk_LinkStatus s{state, speed, duplex};
    return fn(cookie_, &s);
  }
  unsigned sets() const { return card_->engine().commandsSeen(kCommon, kSetSpeed); }
};

constexpr vmk_uint32 kUp = VMK_LINK_STATE_UP, kFull = VMK_LINK_DUPLEX_FULL, kHalf = VMK_LINK_DUPLEX_HALF;
constexpr vmk_uint32 kAuto = 0xFFFFFFFFu;

TEST_F(LinkSetTest, RefusedRequestsSendNothing) {
  struct Case {
    const char* what;
    uint8_t ifType;
    vmk_uint32 speed, duplex;
    const char* message;
  };
  const Case cases[] = {
      {"half duplex", 2, 1000, kHalf, "VMK_LINK_DUPLEX_HALF is not supported (speed: 1000)"},
      {"autoneg on type 3", 3, 0, kAuto, "Autoneg not supported on this phy interface"},
      {"autoneg on type 10", 10, 0, kAuto, "Autoneg not supported on this phy interface"},
      {"autoneg on an unknown type", 13, 0, kAuto, "Unsupported Phy Interface type 13"},
      {"speed not in the modes", 2, 40000, kFull, "Speed 40000 is not supported on this phy interface (0x2)"},
      {"speed without its capability bit", 2, 10000, kFull, "Speed 10000 is not supported on this phy interface"},
      {"unknown duplex", 2, 1000, 7, "Unsupported DUPLEX: 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    started(adapter::Gen::KS3, c.ifType, std::string(c.what) == "speed without its capability bit" ? 0x04 : 0x0C);
    const unsigned before = sets();
    EXPECT_EQ(VMK_NOT_SUPPORTED, set(kUp, c.speed, c.duplex));
    EXPECT_EQ(before, sets());
    EXPECT_EQ(1u, logged(c.message));
    TearDown();
    SetUp();
  }
}

TEST_F(LinkSetTest, ForcedSpeedAutonegAndTheSpeedInForce) {
  started(adapter::Gen::Veskarn, 2);
  const unsigned before = sets();
  EXPECT_EQ(VMK_OK, set(kUp, 1000, kFull));
  ASSERT_EQ(before + 1, sets());
  const std::vector<uint8_t>* r = card_->engine().lastRequest(kCommon, kSetSpeed);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(2u, card_->engine().port(0).port_speed_code);
  // Already in force (and the published duplex is full): nothing is sent.
  EXPECT_EQ(VMK_OK, set(kUp, 1000, kFull));
  EXPECT_EQ(before + 1, sets());
  EXPECT_EQ(VMK_OK, set(kUp, 10000, kFull));
  EXPECT_EQ(1u, card_->engine().port(0).port_speed_code);
  EXPECT_EQ(VMK_OK, set(kUp, 0, kAuto));
  EXPECT_EQ(0u, card_->engine().port(0).port_speed_code);
  EXPECT_EQ(before + 3, sets());
}

TEST_F(LinkSetTest, FirmwareRefusals) {
  struct Case {
    const char* what;
    adapter::Fault fault;
    VMK_ReturnStatus expect;
    const char* message;
  };
  const Case cases[] = {
      {"not privileged", {.status = 11, .additional = 96}, VMK_NOT_SUPPORTED,
       "Device is not privileged to do speed changes"},
      {"other failure", {.status = 3}, VMK_FAILURE, "Setting port speed failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    started(adapter::Gen::KS3, 2);
    card_->engine().setFault(kCommon, kSetSpeed, c.fault);
    EXPECT_EQ(c.expect, set(kUp, 10000, kFull));
    EXPECT_EQ(1u, logged(c.message));
    card_->engine().clearFaults();
    TearDown();
    SetUp();
  }
}

TEST_F(LinkSetTest, AdministrativeDownAndUp) {
  started(adapter::Gen::KS3, 2);
  EXPECT_EQ(VMK_OK, set(VMK_LINK_STATE_DOWN, 0, kFull));
  EXPECT_TRUE(ioQuiesced());
  EXPECT_FALSE(ioStarted());
  EXPECT_EQ(0, a_->internal_quiesce);
  // A speed change while down is refused; up starts I/O again.
  EXPECT_EQ(VMK_IS_ENABLED, set(VMK_LINK_STATE_DOWN, 1000, kFull));
  EXPECT_EQ(1u, logged("Speed change is not supported when adapter is in DOWN state"));
  EXPECT_EQ(VMK_OK, set(kUp, 10000, kFull));
  EXPECT_TRUE(ioStarted());
  EXPECT_EQ(0, a_->internal_quiesce);
}

TEST_F(LinkSetTest, Ks2AcceptsOnlyItsFirstMode) {
  started(adapter::Gen::KS2, 2);
  // This generation learns its modes from link events.
  a_->supported_modes[0] = {10000, VMK_LINK_DUPLEX_FULL};
  a_->num_supported_modes = 1;
  const tamsil_linkMode m = a_->supported_modes[0];
  const unsigned before = sets();
  EXPECT_EQ(VMK_OK, set(kUp, m.speed, m.duplex));
  EXPECT_EQ(VMK_NOT_SUPPORTED, set(kUp, m.speed + 1, m.duplex));
  EXPECT_EQ(before, sets());
}

/* ------------------------------------------------------------------------ */
/* Adaptive interrupt moderation                                             */
/* ------------------------------------------------------------------------ */

// The device is not started, so the worker's tick leaves moderation alone
// and the test runs it by hand with the interrupt counts it sets.
class EqdTest : public DpTest {
 protected:
  vmk_uint32 eqs() const { return a_->num_eq_delay < TAMSIL_MAX_VECTORS ? a_->num_eq_delay : TAMSIL_MAX_VECTORS; }
  // Posted commands run on the device thread with no completion the driver
  // waits for: the test reads the firmware under the device's lock.
  unsigned eqdCommands() {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().commandsSeen(kCommon, kModifyEqd);
  }
  uint32_t fwDelay(vmk_uint32 i) {
    std::lock_guard<std::mutex> g(card_->lock());
    adapter::QueueObj* q = card_->engine().queue(adapter::ObjKind::Eq, a_->eqo[i].q.id);
    return q == nullptr ? ~0u : q->delay_mult;
  }
  // Counts `ips` interrupts on queue i since the last step.
  void interrupts(vmk_uint32 i, vmk_uint32 ips) {
    a_->eqo[i].int_count = (vmk_uint32)(a_->eq_delay[i].prev_int_count + ips);
  }
};

TEST_F(EqdTest, RatesToDelays) {
  associate(adapter::Gen::KS3);
  ASSERT_LE(1u, eqs());
  struct Case {
    const char* what;
    vmk_uint8 adaptive;
    vmk_uint32 cur, min, max, stat, ips;
    vmk_uint32 expect;  // new current delay
  };
  const Case cases[] = {
      {"busy: +10", 1, 0, 0, 128, 0, 16001, 10},
      {"busy: capped at the maximum", 1, 125, 0, 128, 0, 20000, 128},
      {"16000 keeps the delay", 1, 40, 0, 128, 0, 16000, 40},
      {"14000 keeps the delay", 1, 40, 0, 128, 0, 14000, 40},
      {"13999 halves", 1, 40, 0, 128, 0, 13999, 20},
      {"half of 19 is small: 0", 1, 19, 0, 128, 0, 13999, 0},
      {"half of 20 stays", 1, 20, 0, 128, 0, 0, 10},
      {"halved past the maximum", 1, 120, 0, 50, 0, 0, 50},
      {"raised to the minimum", 1, 0, 30, 128, 0, 0, 30},
      {"static", 0, 0, 0, 128, 72, 99999, 72},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EqDelayState& d = a_->eq_delay[0];
    d.adaptive = c.adaptive;
    d.cur_eqd = c.cur;
    d.min_eqd = c.min;
    d.max_eqd = c.max;
    d.static_eqd = c.stat;
    for (vmk_uint32 i = 1; i < eqs(); i++) {
      a_->eq_delay[i].adaptive = 1;
      a_->eq_delay[i].cur_eqd = 0;
      a_->eq_delay[i].min_eqd = 0;
      interrupts(i, 0);
    }
    interrupts(0, c.ips);
    const unsigned cmds = eqdCommands();
    tamsil_eqdUpdate(a_);
    EXPECT_EQ(c.ips, a_->eqo[0].ips);
    EXPECT_EQ(c.expect, d.cur_eqd);
    if (c.expect != c.cur) {
      EXPECT_TRUE(vmktest::waitFor([&] { return eqdCommands() == cmds + 1; }));
      EXPECT_EQ(c.expect * 65 / 100, fwDelay(0));
    } else {
      tamsil_cmdModifyEqd(a_, nullptr, 0);  // a marker behind which nothing else may come
      EXPECT_TRUE(vmktest::waitFor([&] { return eqdCommands() == cmds + 1; }));
      EXPECT_EQ(cmds + 1, eqdCommands());
    }
  }
  // A count that went backwards keeps the previous rate.
  a_->eq_delay[0] = EqDelayState{1, 0, 128, 0, 0, 1000};
  a_->eqo[0].ips = 17000;
  a_->eqo[0].int_count = 10;
  tamsil_eqdUpdate(a_);
  EXPECT_EQ(17000u, a_->eqo[0].ips);
  EXPECT_EQ(10u, a_->eq_delay[0].cur_eqd);
  EXPECT_EQ(1000u, a_->eq_delay[0].prev_int_count);
}

TEST_F(EqdTest, OneCommandPerEightChangedQueues) {
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::Veskarn;
  associate(cfg);
  const vmk_uint32 n = eqs();
  ASSERT_LE(9u, n) << "needs more than one command's worth of event queues";
  for (vmk_uint32 i = 0; i < n; i++) a_->eq_delay[i] = EqDelayState{1, 0, 128, 0, 0, a_->eqo[i].int_count};
  const unsigned before = eqdCommands();
  // Nothing changed: nothing is sent (an empty command marks the point).
  for (vmk_uint32 i = 0; i < n; i++) interrupts(i, 100);
  tamsil_eqdUpdate(a_);
  tamsil_cmdModifyEqd(a_, nullptr, 0);
  ASSERT_TRUE(vmktest::waitFor([&] { return eqdCommands() == before + 1; }));
  for (vmk_uint32 i = 0; i < n; i++) interrupts(i, 20000);
  tamsil_eqdUpdate(a_);
  tamsil_cmdModifyEqd(a_, nullptr, 0);
  const unsigned expect = before + 2 + (n + 7) / 8;
  ASSERT_TRUE(vmktest::waitFor([&] { return eqdCommands() == expect; }));
  EXPECT_EQ(expect, eqdCommands());
  for (vmk_uint32 i = 0; i < n; i++) EXPECT_EQ(6u, fwDelay(i)) << i;
}

}  // namespace

// Tear-down under load: detach with a command still sleeping, detach after
// the command channel died (per generation), the SR-IOV limits given back at
// detach, an attach undo racing firmware events, and an attach whose channel
// died during set-up.
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "bringup_fixture.h"
#include "tamsil_cmds.h"

namespace {

using adapter::Gen;

template <typename F>
bool eventually(F f, int ms = 5000) {
  for (int i = 0; i < ms; i++) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return f();
}

unsigned seen(adapter::Adapter& card, uint8_t sub, uint8_t op) {
  std::lock_guard<std::mutex> g(card.lock());
  return card.engine().commandsSeen(sub, op);
}

size_t liveObjects(adapter::Adapter& card, int fn) {
  std::lock_guard<std::mutex> g(card.lock());
  return card.engine().countLive(fn);
}

void setFault(adapter::Adapter& card, uint8_t sub, uint8_t op, const adapter::Fault& f) {
  std::lock_guard<std::mutex> g(card.lock());
  card.engine().setFault(sub, op, f);
}

class GenTeardownTest : public BringupTest, public ::testing::WithParamInterface<Gen> {};

INSTANTIATE_TEST_SUITE_P(AllGenerations, GenTeardownTest,
                         ::testing::Values(Gen::KS2, Gen::KS3, Gen::Pivard, Gen::Veskarn),
                         [](const ::testing::TestParamInfo<Gen>& i) { return std::string(genText(i.param)); });

// Detach while another thread sleeps on a command the firmware never
// answers: the waiter wakes with "device gone", detach returns only after it
// left the channel, and nothing is left in the kernel or the firmware.
TEST_P(GenTeardownTest, DetachWakesASleepingCommandAndWaitsForIt) {
  adapter::Adapter& card = newCard(GetParam());
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  // Real time: the sleeper's 36 s must not pass before detach comes.
  vmktest::setClockRate(1.0);
  setFault(card, fwop::kCommon, 37, {.no_completion = true});
  std::atomic<bool> returned{false};
  auto waiter = std::async(std::launch::async, [a, &returned] {
    uint32_t tx = 0, rx = 0;
    uint32_t st = tamsil_cmdGetFlowControl(a, &tx, &rx);
    returned = true;
    return st;
  });
  ASSERT_TRUE(eventually([&] { return seen(card, fwop::kCommon, 37) == 1; }));
  EXPECT_FALSE(returned);
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
  ASSERT_EQ(std::future_status::ready, waiter.wait_for(std::chrono::seconds(5)));
  EXPECT_EQ(TAMSIL_CH_GONE, waiter.get());
  EXPECT_EQ(0u, liveObjects(card, -1));
  unplug(dev);
  vmktest::setClockRate(1000.0);
}

// A mailbox time-out, then detach, on a two-function card. When the
// mailbox answers again, detach still destroys, resets and cleans. When it
// stays dead, Pivard resets its port (its own function) and leaves nothing;
// KS and Veskarn, whose chip reset would take the other function down,
// quarantine every ring and buffer the firmware may still write. Either way
// a later device write lands in memory that is mapped and allocated, and
// the other function keeps its objects and its work.
TEST_P(GenTeardownTest, MailboxTimeOutThenDetach) {
  const Gen g = GetParam();
  const bool chipShared = g != Gen::Pivard;
  for (bool recovers : {true, false}) {
    SCOPED_TRACE(recovers ? "mailbox answers again" : "mailbox stays dead");
    vmktest::clearLog();
    adapter::Adapter& card = newCard(g, 2);
    vmk_Device d0 = plug(card, 0), d1 = plug(card, 1);
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(d0));
    ASSERT_EQ(VMK_OK, vmktest::attachDevice(d1));
    Adapter* a0 = adapterOf(d0);
    Adapter* a1 = adapterOf(d1);
    const size_t otherObjects = liveObjects(card, 1);
    ASSERT_GT(liveObjects(card, 0), 0u);

    card.setMailboxReady(0, false);
    EXPECT_EQ(TAMSIL_CH_MBOX_FAIL, tamsil_cmdIntrSet(a0, true));
    ASSERT_EQ(1, a0->fw_timeout);
    if (recovers) card.setMailboxReady(0, true);
    const unsigned droppedBefore = card.counters(0).dropped_dma;
    const vmk_uint32 quarantinedBefore = tamsil_quarantinedBuffers();
    const unsigned portResets = card.counters(0).port_resets;
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(d0));

    const bool quarantine = !recovers && chipShared;
    if (quarantine) {
      EXPECT_GT(liveObjects(card, 0), 0u);
      EXPECT_GT(tamsil_quarantinedBuffers(), quarantinedBefore);
      EXPECT_EQ(1u, logged("quarantined: their firmware objects could not be destroyed"));
    } else {
      EXPECT_EQ(0u, liveObjects(card, 0));
      EXPECT_EQ(quarantinedBefore, tamsil_quarantinedBuffers());
    }
    if (g == Gen::Pivard)
      EXPECT_GT(card.counters(0).port_resets, portResets) << "no port reset";
    else
      EXPECT_EQ(portResets, card.counters(0).port_resets);
    EXPECT_EQ(0u, card.counters(0).soft_resets);
    // The firmware still posts an event for the function: where it has a
    // queue left, the entry lands in quarantined memory.
    EXPECT_EQ(quarantine, card.injectAsyncEvent(0, adapter::qosSpeedEvent(0, 500)));
    EXPECT_EQ(droppedBefore, card.counters(0).dropped_dma) << "a device write hit unmapped memory";

    // The other function: its objects stay and its channel works.
    EXPECT_EQ(otherObjects, liveObjects(card, 1));
    EXPECT_EQ(0u, tamsil_cmdQueryFwCfg(a1));
    char fw[32] = {};
    EXPECT_EQ(0u, tamsil_cmdGetFwVer(a1, fw, nullptr));
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(d1));
    EXPECT_EQ(0u, liveObjects(card, 1));
    if (quarantine) {
      // Whoever resets the card later takes what the function left.
      std::lock_guard<std::mutex> lk(card.lock());
      card.engine().destroyFunctionObjects(0);
    }
    unplug(d0);
    unplug(d1);
  }
}

// The SR-IOV limits attach read from the profile go back whole at detach:
// with the VFs gone, n = 0 and the PF's own counts (not zeros) in the NIC
// descriptor.
TEST_F(BringupTest, SriovLimitsGoBackWholeAtDetach) {
  vmktest::unloadModule(cleanup_module);
  ASSERT_EQ(0, vmktest::loadModule(init_module, "max_vfs=4"));
  adapter::Adapter& card = newCard(Gen::Veskarn, 1);
  const adapter::EngineConfig& cfg = card.engine().config();
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  ASSERT_EQ(4u, a->num_vfs);
  const uint32_t caps2 = a->sriov.profile_limits.cap_flags2;
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));

  std::vector<uint8_t> want(176, 0);
  auto put16 = [&](size_t off, uint16_t v) { memcpy(&want[off], &v, 2); };
  auto put32 = [&](size_t off, uint32_t v) { memcpy(&want[off], &v, 4); };
  // PCIe descriptor: no VFs.
  want[0] = 0x50;
  want[1] = 88;
  want[3] = 0xC0;
  want[13] = want[14] = 0xFF;
  // NIC descriptor: untouched fields all ones, the PF keeps its counts.
  const size_t n = 88;
  want[n + 0] = 0x51;
  want[n + 1] = 88;
  want[n + 3] = 0xC9;   // the firmware lets the capability flags be set
  for (size_t off : {20, 28, 32, 34, 60, 62}) put16(n + off, 0xFFFF);
  want[n + 44] = 0xFF;
  want[n + 47] = 0xF0;
  put32(n + 48, 0xFFFFFFFFu);
  put32(n + 52, 0xFFFFFFFFu);
  want[n + 56] = 0xFF;
  want[n + 57] = 0x0F;
  put32(n + 40, caps2 & ~(0x4u | 0x1000000u));
  put16(n + 22, 1);
  put16(n + 24, 1);
  put16(n + 26, 1);
  put16(n + 30, cfg.cqs);
  put16(n + 8, cfg.ucmacs);
  put16(n + 16, cfg.mccqs);
  put16(n + 18, cfg.vlans);
  put16(n + 38, cfg.ifaces);

  std::lock_guard<std::mutex> lk(card.lock());
  const adapter::Engine::SetProfile& sp = card.engine().lastSetProfile();
  EXPECT_EQ(2u, sp.count);
  EXPECT_EQ(1, sp.version);
  EXPECT_EQ(want, sp.descriptors);
  EXPECT_EQ(2u, sp.times);   // once at attach with the VFs, once at detach
}

// A failed attach undoes its steps while the firmware keeps posting QoS and
// link events: the MCC world, which publishes them under the uplink data's
// writer lock, stops before that lock goes.
TEST_F(BringupTest, AttachUndoRacingFirmwareEvents) {
  for (int run = 0; run < 8; run++) {
    SCOPED_TRACE(run);
    adapter::Adapter& card = newCard(Gen::KS3, 1);
    vmk_Device dev = plug(card);
    std::atomic<bool> stop{false};
    std::thread events([&] {
      uint16_t speed = 100;
      while (!stop) {
        card.injectAsyncEvent(0, adapter::qosSpeedEvent(0, speed++));
        card.injectAsyncEvent(0, adapter::linkStateEvent(0, (speed & 1) != 0, true, 4, 0, 0));
        std::this_thread::sleep_for(std::chrono::microseconds(20));
      }
    });
    vmktest::failCall("vmk_PCIReadConfig", 2);   // the UE mask read, after the uplink data
    EXPECT_NE(VMK_OK, vmktest::attachDevice(dev));
    vmktest::clearFailures();
    stop = true;
    events.join();
    EXPECT_EQ(nullptr, adapterOf(dev));
    EXPECT_EQ(0u, liveObjects(card, -1));
    unplug(dev);
  }
}

// An attach whose command channel died during set-up, with no recovery to
// restart it, fails and undoes everything.
TEST_F(BringupTest, AttachFailsWhenTheChannelDiesDuringSetUp) {
  adapter::Adapter& card = newCard(Gen::Pivard, 1);
  vmk_Device dev = plug(card);
  const vmktest::Live before = vmktest::live();
  setFault(card, fwop::kCommon, fwop::kGetPhyInfo, {.no_completion = true, .times = 1});
  EXPECT_NE(VMK_OK, vmktest::attachDevice(dev));
  EXPECT_EQ(1u, logged("MCC poll timed out!"));
  EXPECT_EQ(1u, logged("Command channel died during set-up and no recovery can restart it"));
  EXPECT_EQ(nullptr, adapterOf(dev));
  EXPECT_EQ(0u, liveObjects(card, -1));
  EXPECT_EQ(before.describe(), vmktest::live().describe());
  // Nothing of it stays in the way of the next attach.
  EXPECT_EQ(VMK_OK, vmktest::attachDevice(dev));
}

// Management requests enter only while the device runs; quiesce waits for
// the one in flight and no longer; detach waits for it too.
TEST_F(BringupTest, ManagementRequestsEnterAndLeaveAroundQuiesceAndDetach) {
  adapter::Adapter& card = newCard(Gen::KS3, 1);
  vmk_Device dev = plug(card);
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(dev));
  Adapter* a = adapterOf(dev);
  EXPECT_EQ(VMK_BUSY, tamsil_mgmtEnter(a)) << "attached but not started";
  EXPECT_EQ(0, vmk_AtomicRead64(&a->mgmt_in_flight));
  ASSERT_EQ(VMK_OK, vmktest::startDevice(dev));
  ASSERT_EQ(VMK_OK, tamsil_mgmtEnter(a));
  EXPECT_EQ(1, vmk_AtomicRead64(&a->mgmt_in_flight));
  auto leaver = std::async(std::launch::async, [a] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    tamsil_mgmtLeave(a);
  });
  const uint64_t t0 = vmktest::nowNs();
  EXPECT_EQ(VMK_OK, vmktest::quiesceDevice(dev));
  leaver.get();
  EXPECT_LT((vmktest::nowNs() - t0) / 1000000ull, 36000u);
  EXPECT_EQ(0u, logged("Some Mgmt operations are still pending"));
  EXPECT_EQ(VMK_BUSY, tamsil_mgmtEnter(a)) << "quiesced";
  // A request that entered before detach keeps the Adapter until it leaves.
  ASSERT_EQ(VMK_OK, vmktest::startDevice(dev));
  ASSERT_EQ(VMK_OK, tamsil_mgmtEnter(a));
  std::atomic<bool> left{false};
  auto late = std::async(std::launch::async, [a, &left] {
    eventually([a] { return __atomic_load_n(&a->mcc_closed, __ATOMIC_ACQUIRE) != 0; });
    uint32_t tx = 0, rx = 0;
    // The channel is closed: the request's command fails at once.
    uint32_t st = tamsil_cmdGetFlowControl(a, &tx, &rx);
    left = true;
    tamsil_mgmtLeave(a);
    return st;
  });
  EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev));
  EXPECT_TRUE(left);
  EXPECT_EQ(TAMSIL_CH_GONE, late.get());
  unplug(dev);
}

}  // namespace

// The full adapter reset: under traffic on every generation, skipped and
// forced, with VFs, with a failure at each of its steps, and the door it
// closes to management requests while it runs.
#include <algorithm>
#include <atomic>
#include <thread>

#include "cable_fixture.h"
#include "netq_fixture.h"
#include "tamsil_cmds_os.h"
#include "vmk_netq_testing.h"

namespace {

using cabletest::Bytes;
using cabletest::CableTest;
using cabletest::End;
using cabletest::Send;

constexpr uint32_t kWatchdogReset = 60000, kWatchdogNormal = 5000;

class ResetTest : public CableTest {
 protected:
  // `n` distinct UDP frames from one end to the other arrive; payloads
  // start at `tag` so that rounds do not mix.
  void crosses(End& from, End& to, uint8_t tag, size_t n = 8) {
    std::vector<Send> sends;
    for (size_t i = 0; i < n; ++i) {
      Send s{"udp", {}, true, 0, -1};
      s.spec.proto = 17;
      s.spec.payload = netframes::pattern(200 + i * 50, static_cast<uint8_t>(tag + i));
      sends.push_back(s);
    }
    transmit(from, sends, to.mac());
    std::vector<Bytes> got = receive(to, n);
    EXPECT_EQ(n, got.size()) << "frames lost";
    from.card->takeWire(0);
  }
  void bothWays(uint8_t tag) {
    crosses(ends_[0], ends_[1], tag);
    crosses(ends_[1], ends_[0], static_cast<uint8_t>(tag + 100));
  }
  // The watchdog values the driver set since the last call.
  std::vector<uint32_t> watchdogSince(End& e) {
    std::vector<uint32_t> all = vmktest::uplinkWatchdogHistory(e.uplink);
    std::vector<uint32_t> fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return fresh;
  }
  VMK_ReturnStatus kernelReset(End& e) { return vmktest::uplinkReset(regDataOf(e.child), e.uplink); }
  size_t seen_ = 0;
};

TEST_F(ResetTest, ResetUnderTrafficOnEveryGenerationBringsTheSameUplinkBack) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    join(g);
    // Started devices (the kernel starts a device before its I/O): their
    // workers tick while the reset rebuilds.
    quiesceBoth();
    for (End& x : ends_) ASSERT_EQ(VMK_OK, vmktest::startDevice(x.dev));
    startBoth();
    End& e = ends_[0];
    bothWays(1);
    // The MTU the kernel set outlives the reset.
    ASSERT_EQ(VMK_OK, e.ops().uplinkMTUSet(e.cookie, 9000));
    watchdogSince(e);
    const unsigned objectsBefore = static_cast<unsigned>(e.card->engine().countLive());
    ASSERT_EQ(VMK_OK, kernelReset(e));
    EXPECT_EQ(1u, e.a->reset_count);
    EXPECT_EQ((std::vector<uint32_t>{kWatchdogReset, kWatchdogNormal}), watchdogSince(e));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_RECONFIG));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_TPE_REINIT));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_IO_QUIESCED));
    EXPECT_EQ(1u, e.a->io_started);
    EXPECT_EQ(9000u, e.a->shared_data.mtu);
    EXPECT_EQ(9032u, e.a->max_frame);
    // The function was built again, not added to.
    EXPECT_EQ(objectsBefore, static_cast<unsigned>(e.card->engine().countLive()));
    ASSERT_TRUE(waitPosted(e, 64, true));
    bothWays(50);
    TearDown();
    SetUp();
    seen_ = 0;
  }
}

// One adapter, driven through its uplink, for the reset's decisions and
// failures.
class ResetOneTest : public DpTest {
 protected:
  void up(adapter::Gen g, unsigned vfs = 0) {
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g;
    cfg.fw.functions = 1;
    // KS2 firmware without a profile reports a channel mode; VFs need one.
    if (vfs > 0 && g == adapter::Gen::KS2) cfg.fw.fw_caps = 0;
    associate(cfg, vfs > 0 ? "max_vfs=" + std::to_string(vfs) : std::string());
  }
  // Commands the function has sent so far (mailbox and MCC).
  unsigned sent() const {
    const adapter::FnCounters c = card_->counters(0);
    return c.mailbox_commands + c.mcc_commands;
  }
  adapter::Engine::VfEndpoint endpoint(uint8_t domain) {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().vfEndpoint(0, domain);
  }
  size_t liveObjects() {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().countLive();
  }
  // What a recovery does before it asks for the forced reset: the card is
  // marked in error and the chip (Pivard: the port) is reset.
  void chipResetInError() {
    __atomic_store_n(&a_->hw_error, 1, __ATOMIC_RELEASE);
    __atomic_store_n(&a_->fw_timeout, 1, __ATOMIC_RELEASE);
    if (a_->asic_gen == TAMSIL_ASIC_PIVARD)
      vmk_MMIOWrite32((vmk_VA)a_->db_va + 0x408, 0x08000000u);
    else
      vmk_MMIOWrite32((vmk_VA)a_->pcicfg_va + 0x5C, 0x80u);
  }
  std::vector<uint32_t> watchdogs() { return vmktest::uplinkWatchdogHistory(uplink_); }
  VMK_ReturnStatus kernelReset() { return vmktest::uplinkReset(regDataOf(child_), uplink_); }
};

// Without force and without a Pivard error recovery the reset leaves a
// quiesced or failed adapter alone; forced, it runs, clears the errors and
// leaves I/O as the kernel had it.
TEST_F(ResetOneTest, SkippedWhileQuiescedOrInErrorUnlessForced) {
  struct Case {
    const char* what;
    bool started;
    uint8_t hwError, fwTimeout;  // set before the reset (no chip reset)
    bool chipReset;              // the recovery's chip reset, errors set
    vmk_uint8 force;
    bool runs;
    bool pivardRecovery = false;   // AdapterFlags bit 7 (Pivard only)
  };
  const Case cases[] = {
      {"started", true, 0, 0, false, 0, true},
      {"quiesced by the kernel", false, 0, 0, false, 0, false},
      {"hardware error", true, 1, 0, false, 0, false},
      {"firmware time-out", true, 0, 1, false, 0, false},
      {"forced after a chip reset, started", true, 0, 0, true, 1, true},
      {"forced after a chip reset, quiesced", false, 0, 0, true, 1, true},
      {"Pivard error recovery after a port reset", true, 0, 0, true, 0, true, true},
  };
  for (adapter::Gen g : allGens()) {
    for (const Case& c : cases) {
      if (c.pivardRecovery && g != adapter::Gen::Pivard) continue;
      SCOPED_TRACE(std::string(genText(g)) + ": " + c.what);
      up(g);
      if (c.pivardRecovery) vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
      if (c.started) {
        ASSERT_EQ(VMK_OK, startIO());
      }
      if (c.chipReset) chipResetInError();
      if (c.hwError) __atomic_store_n(&a_->hw_error, 1, __ATOMIC_RELEASE);
      if (c.fwTimeout) __atomic_store_n(&a_->fw_timeout, 1, __ATOMIC_RELEASE);
      const unsigned before = sent();
      const size_t wd = watchdogs().size();
      EXPECT_EQ(VMK_OK, tamsil_reset(a_, c.force));
      if (!c.runs) {
        EXPECT_EQ(0u, a_->reset_count);
        EXPECT_EQ(before, sent()) << "a skipped reset sent commands";
        EXPECT_EQ(wd, watchdogs().size());
        // What a test set goes for detach: the function was not reset.
        __atomic_store_n(&a_->hw_error, 0, __ATOMIC_RELEASE);
        __atomic_store_n(&a_->fw_timeout, 0, __ATOMIC_RELEASE);
      } else {
        EXPECT_EQ(1u, a_->reset_count);
        EXPECT_EQ(0, a_->hw_error);
        EXPECT_EQ(0, a_->fw_timeout);
        const std::vector<uint32_t> w = watchdogs();
        ASSERT_EQ(wd + 2, w.size());
        EXPECT_EQ(kWatchdogReset, w[wd]);
        EXPECT_EQ(kWatchdogNormal, w[wd + 1]);
        EXPECT_EQ(c.started, ioStarted());
        EXPECT_EQ(!c.started, ioQuiesced());
        EXPECT_FALSE(tamsil_flagTest(a_, TAMSIL_FLAG_RECONFIG));
        EXPECT_FALSE(tamsil_flagTest(a_, TAMSIL_FLAG_TPE_REINIT));
        // The recovery's own flag is the recovery's to clear.
        EXPECT_EQ(c.pivardRecovery, tamsil_flagTest(a_, TAMSIL_FLAG_PIVARD_RECOVERY));
        vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
        // The kernel starts the I/O it had stopped, on the rebuilt function.
        if (!c.started) {
          EXPECT_EQ(VMK_OK, startIO());
        }
      }
      TearDown();
      SetUp();
    }
  }
}

// The kernel's uplink reset leaves a function with VFs alone where the VFs
// are kept apart from the reset (all but Pivard); a reset that does run
// (Pivard's, or any recovery's) gives every VF its interface and MAC back,
// the MAC the kernel chose included, and its port VLAN, which the switch
// forgot with the function.
TEST_F(ResetOneTest, VfsSkipTheKernelsResetAndComeBackAfterAReset) {
  using Mac = std::array<uint8_t, 6>;
  const Mac chosen = {0x02, 0x1C, 0x4E, 0x0F, 0x00, 0x07};
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    up(g, 4);
    ASSERT_EQ(4u, a_->num_vfs);
    ASSERT_EQ(VMK_OK, startIO());
    vmk_NetVFMACParms p{};
    p.vfID = 1;
    memcpy(p.mac, chosen.data(), 6);
    ASSERT_EQ(VMK_OK, vmktest::vfConfigRequest(a_->pci_device, 1, VMK_NETPTOP_VF_SET_MAC, &p));
    vmk_NetVFDefaultVLANParms v{};
    v.vfID = 2;
    v.enable = 1;
    v.vid = 100;
    ASSERT_EQ(VMK_OK, vmktest::vfConfigRequest(a_->pci_device, 2, VMK_NETPTOP_VF_SET_DEFAULT_VLAN, &v));
    const bool pivard = g == adapter::Gen::Pivard;
    const unsigned before = sent();
    EXPECT_EQ(VMK_OK, kernelReset());
    if (!pivard) {
      EXPECT_EQ(0u, a_->reset_count);
      EXPECT_EQ(before, sent()) << "a skipped reset sent commands";
      // A recovery resets the chip under the VFs all the same.
      chipResetInError();
      ASSERT_EQ(VMK_OK, tamsil_reset(a_, 1));
    }
    EXPECT_EQ(1u, a_->reset_count);
    EXPECT_TRUE(ioStarted());
    for (uint8_t vf = 0; vf < 4; ++vf) {
      SCOPED_TRACE("VF " + std::to_string(vf));
      const adapter::Engine::VfEndpoint e = endpoint(static_cast<uint8_t>(vf + 1));
      EXPECT_TRUE(e.present) << "no interface after the reset";
      Mac want;
      memcpy(want.data(), vf == 1 ? chosen.data() : a_->vf_cfg[vf].default_mac, 6);
      EXPECT_EQ(std::vector<Mac>{want}, e.macs);
      // The port VLAN the kernel set is in force again.
      if (vf == 2) {
        EXPECT_EQ(100, e.pvid);
      }
    }
    // The kernel's requests work on the rebuilt function.
    p.vfID = 2;
    p.mac[5] = 0x08;
    EXPECT_EQ(VMK_OK, vmktest::vfConfigRequest(a_->pci_device, 2, VMK_NETPTOP_VF_SET_MAC, &p));
    TearDown();
    SetUp();
  }
}

// A failure at one step of the reset: a firmware command answering an
// error, or a kernel service refusing.
struct Inject {
  const char* what;
  uint8_t sub = 0, op = 0;     // firmware command (sub 0: a bare pattern)
  const char* service = nullptr;
  bool every = false;          // the service fails from then on
  bool pivard = true;          // Pivard takes this step too
};

const Inject kSteps[] = {
    {"control path: semaphore", 0, 0, "vmk_BinarySemaCreate"},
    {"control path: spinlock", 0, 0, "vmk_SpinlockCreate"},
    {"firmware init", adapter::kSubBare, adapter::kOpFwInit},
    {"configuration read", 1, 58},
    {"interrupt vectors", 0, 0, "vmk_PCIAllocIntrCookie", true},
    {"queue set: event queue", 1, 13},
    {"queue set: completion queue", 1, 12},
    {"queue set: interface", 1, 50},
    {"queue set: MCC world", 0, 0, "vmk_WorldCreate"},
    {"error masks", 0, 0, "vmk_PCIReadConfig", true, false},
    {"start I/O: receive queue", 3, 8},
    {"start I/O: interrupt handler", 0, 0, "vmk_IntrRegister", true},
    {"start I/O: link query", 1, 5},
};

class ResetFailTest : public ResetOneTest {
 protected:
  // Injects `in`, resets, and checks the stopped reset's state.
  void stopsAt(adapter::Gen g, const Inject& in) {
    up(g);
    ASSERT_EQ(VMK_OK, startIO());
    const bool pivard = g == adapter::Gen::Pivard;
    if (in.service != nullptr) {
      vmktest::failCall(in.service, 1, VMK_FAILURE, in.every);
    } else {
      adapter::Fault f;
      f.status = 1;
      fwFault(in.sub, in.op, f);
    }
    const size_t wd = watchdogs().size();
    EXPECT_EQ(VMK_FAILURE, tamsil_reset(a_, 0));
    if (in.service != nullptr) {
      EXPECT_LE(1u, vmktest::injectedCount(in.service)) << "the failure never hit";
    }
    vmktest::clearFailures();
    EXPECT_TRUE(tamsil_flagTest(a_, TAMSIL_FLAG_RECONFIG));
    EXPECT_EQ(pivard, tamsil_flagTest(a_, TAMSIL_FLAG_TPE_REINIT));
    EXPECT_EQ(pivard ? 1 : 0, a_->hw_error);
    EXPECT_FALSE(ioStarted());
    const std::vector<uint32_t> w = watchdogs();
    ASSERT_LE(wd + 2, w.size());
    EXPECT_EQ(kWatchdogReset, w[wd]);
    EXPECT_EQ(kWatchdogNormal, w.back());
    // Nothing may use what the reset left half-built.
    EXPECT_EQ(VMK_BUSY, tamsil_mgmtEnter(a_));
    // Detach (TearDown) must find a consistent adapter: nothing leaks, no
    // device write lands where nothing is mapped.
  }
};

TEST_F(ResetFailTest, AFailureAtEachStepStopsTheResetAndDetachIsClean) {
  for (adapter::Gen g : allGens()) {
    for (const Inject& in : kSteps) {
      if (g == adapter::Gen::Pivard && !in.pivard) continue;
      SCOPED_TRACE(std::string(genText(g)) + ": " + in.what);
      stopsAt(g, in);
      TearDown();
      SetUp();
    }
  }
}

// The reset drops the filters (the firmware has none after it); the
// kernel's NetQueue layer allocates its queues and applies its filters
// again, after its own uplink reset and after a reset the driver started
// (it is told). Frames reach their queues' rings again, the uplink's own MAC
// the default ring, and an RSS queue's flows its RSS rings.
TEST_F(NetqTest, QueuesAndFiltersServeAgainAfterAReset) {
  for (adapter::Gen g : allGens()) {
    for (bool kernelAsked : {true, false}) {
      SCOPED_TRACE(std::string(genText(g)) + (kernelAsked ? ": the kernel's reset" : ": a recovery"));
      up(g);
      const vmk_uint32 L = tamsil_rssLeadingRing(a_);
      if (L < 2) {   // no NetQueue ring besides the default one
        TearDown();
        SetUp();
        break;
      }
      const vmk_UplinkQueueID q1 = rxQueue();
      vmk_UplinkQueueFilterID f1 = 0;
      ASSERT_EQ(VMK_OK, nq_->apply(q1, vmktest::macFilter(mac(1).data()), &f1));
      const bool rss = (a_->features & TAMSIL_FEAT_RSS) != 0 && a_->res.max_rss_qs >= 2;
      vmk_UplinkQueueID rq = 0;
      vmk_UplinkQueueFilterID rf = 0;
      if (rss) {
        rq = rxQueue(VMK_UPLINK_QUEUE_FEAT_RSS);
        ASSERT_EQ(VMK_OK, nq_->apply(rq, vmktest::macFilter(mac(0x33).data()), &rf));
      }
      ASSERT_EQ(1, ringOf(frameTo(mac(1))));

      if (kernelAsked) {
        ASSERT_EQ(VMK_OK, vmktest::uplinkReset(regDataOf(child_), uplink_));
      } else {
        ASSERT_EQ(VMK_OK, tamsil_reset(a_, 0));
      }
      ASSERT_EQ(1u, a_->reset_count);
      ASSERT_TRUE(vmktest::waitFor([&] {
        for (vmk_uint32 i = 0; i < a_->num_vectors && i < TAMSIL_MAX_VECTORS; ++i)
          if (a_->rxo[i].rxq.created && card_->rxPosted(0, a_->rxo[i].rxq.id) == 0) return false;
        return true;
      }));
      const int ring1 = static_cast<int>(tamsil_queueIdVal(nq_->current(q1)));
      EXPECT_EQ(ring1, ringOf(frameTo(mac(1))));
      EXPECT_TRUE(defaultRing(ringOf(frameTo(ownMac()))));
      if (rss) {
        std::vector<Bytes> frames;
        for (uint16_t s = 0; s < 32; ++s) frames.push_back(frameTo(mac(0x33), static_cast<uint16_t>(50000 + 97 * s)));
        auto got = exchange(frames);
        size_t n = 0;
        for (const auto& [ring, fs] : got) {
          EXPECT_GE(ring, L);
          EXPECT_LT(ring, L + a_->res.max_rss_qs);
          n += fs.size();
        }
        EXPECT_EQ(frames.size(), n);
        EXPECT_LT(1u, got.size()) << "flows spread over the RSS rings";
      }
      // The ids the layer handed out still name them.
      EXPECT_EQ(VMK_OK, nq_->remove(q1, f1));
      if (rss) {
        EXPECT_EQ(VMK_OK, nq_->remove(rq, rf));
      }
      TearDown();
      SetUp();
    }
  }
}

// For the whole length of a reset management requests are refused, and
// the reset waits for one already inside before it takes the channel down
// (a Pivard error recovery does not quiesce the device: only this wait
// keeps the request safe there).
TEST_F(ResetOneTest, ManagementWaitsOutsideAndARequestInsideFinishesFirst) {
  for (adapter::Gen g : {adapter::Gen::KS3, adapter::Gen::Pivard}) {
    SCOPED_TRACE(genText(g));
    startDevice_ = true;   // management requests are refused before
    up(g);
    ASSERT_EQ(VMK_OK, startIO());
    const bool pivard = g == adapter::Gen::Pivard;
    if (pivard) vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
    auto resets = [&] { return pivard ? card_->counters(0).port_resets : fwSeen(1, 61); };
    const unsigned resetsBefore = resets();
    ASSERT_EQ(VMK_OK, tamsil_mgmtEnter(a_));   // the request inside
    vmktest::setClockRate(0);
    VMK_ReturnStatus rc = VMK_FAILURE;
    std::thread t([&] { rc = tamsil_reset(a_, 0); });
    EXPECT_TRUE(vmktest::waitFor([&] { return __atomic_load_n(&a_->mgmt_gate_closed, __ATOMIC_SEQ_CST) != 0; }));
    EXPECT_EQ(VMK_BUSY, tamsil_mgmtEnter(a_));
    // I/O is down (its handlers are gone); then the reset waits, a second
    // at a time, for the request to leave, and takes nothing else down.
    // (The clock stands still: I/O's own short waits are moved along.)
    for (int i = 0; i < 5000 && vmktest::live().intrRegistrations != 0; ++i) {
      vmktest::advanceMs(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(0, vmktest::live().intrRegistrations);
    EXPECT_TRUE(vmktest::waitFor([] { return vmktest::sleepers() > 0; }));
    vmktest::advanceMs(10000);
    EXPECT_TRUE(vmktest::waitFor([] { return vmktest::sleepers() > 0; }));
    EXPECT_EQ(resetsBefore, resets()) << "the function was reset under the request";
    EXPECT_LT(0, vmktest::live().intrCookies) << "interrupts were cleaned up under the request";
    tamsil_mgmtLeave(a_);
    vmktest::setClockRate(250.0);
    t.join();
    EXPECT_EQ(VMK_OK, rc);
    EXPECT_LT(resetsBefore, resets());
    if (pivard) vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
    // Open again once the reset is over.
    ASSERT_EQ(VMK_OK, tamsil_mgmtEnter(a_));
    tamsil_mgmtLeave(a_);
    TearDown();
    SetUp();
  }
}

}  // namespace

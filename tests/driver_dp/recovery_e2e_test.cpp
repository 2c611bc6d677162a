// Recovery end to end: two adapters joined by a cable, frames flowing, and
// an unrecoverable error injected into one of them while the worker world
// runs. The adapter must come back on its own, on the same uplink, and carry
// traffic again; detach afterwards leaves nothing behind.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "cable_fixture.h"
#include "tamsil_cmds.h"
#include "tamsil_ue.h"

namespace {

using cabletest::Bytes;
using cabletest::CableTest;
using cabletest::End;
using cabletest::Send;

constexpr uint64_t kMin = 60000;   // ms

class RecoveryE2eTest : public CableTest {
 protected:
  void SetUp() override {
    CableTest::SetUp();
    // A recovery takes about 16 s of kernel time; a slower clock keeps a
    // loaded machine's stalls well inside its 35 s limit.
    vmktest::setClockRate(20.0);
  }
  void TearDown() override {
    stopStreams();
    // A chip left in error, or one the driver gave up on, holds objects
    // nobody destroys: power it off and on before the accounting.
    for (End& e : ends_)
      if (e.card != nullptr && (e.card->inUe() || (e.a != nullptr && __atomic_load_n(&e.a->hw_error, __ATOMIC_ACQUIRE))))
        e.card->powerCycle();
    CableTest::TearDown();
    for (End& e : ends_) e = End{};
  }
  // The uplink is past the load-time gate: the worker is held while the
  // clock jumps so that no command of its is waiting on the clock.
  // The recovery's progress lines are asked for meanwhile.
  void pastLoadGate(End& e) {
    holdWorker(e);
    e.a->debug_mask |= TAMSIL_DBG_DRIVER;
    vmktest::advanceMs((uint64_t)e.a->tpe_min_after_load * kMin);
    releaseWorker(e);
  }
  static void holdWorker(End& e) { tamsil_workerStop(e.a); }
  static void releaseWorker(End& e) { ASSERT_EQ(VMK_OK, tamsil_workerStart(e.a)); }
  // Frames with payloads no earlier frame had cross from one end to the
  // other; whatever a stream left behind is passed over.
  void crosses(End& from, End& to, uint8_t tag) {
    std::vector<Send> sends;
    std::vector<Bytes> payloads;
    for (int i = 0; i < 8; ++i) {
      Send s{"udp", {}, true, 0, -1};
      s.spec.proto = 17;
      s.spec.payload = netframes::pattern(700 + i, static_cast<uint8_t>(tag + i));
      payloads.push_back(s.spec.payload);
      sends.push_back(s);
    }
    transmit(from, sends, to.mac());
    EXPECT_EQ(sends.size(), receiveEach(to, payloads)) << "frames lost";
    from.card->takeWire(0);
  }
  void bothWays(uint8_t tag) {
    crosses(ends_[0], ends_[1], tag);
    crosses(ends_[1], ends_[0], static_cast<uint8_t>(tag + 100));
  }
  // Fields the driver's worlds write, read as they publish them.
  template <class T>
  static T ld(const T& field) {
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
  }
  // Recovered: the re-initialisation world publishes the state last.
  bool recovered(End& e, vmk_uint32 n) { return ld(e.a->tpe_recoveries) == n && state(e) == TPE_UE_NONE; }
  vmk_uint16 state(End& e) { return __atomic_load_n(&e.a->tpe_state, __ATOMIC_ACQUIRE); }
  bool hwError(End& e) { return __atomic_load_n(&e.a->hw_error, __ATOMIC_ACQUIRE) != 0; }
};

// A recoverable UE under traffic both ways: detected by the worker, the
// chip soft reset, the re-initialisation world resets the adapter (frames
// still leaving it), and the same uplink carries traffic again.
TEST_F(RecoveryE2eTest, RecoverableUeUnderTrafficComesBackOnTheSameUplink) {
  for (adapter::Gen g : {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Veskarn}) {
    SCOPED_TRACE(genText(g));
    join(g);
    End& e = ends_[0];
    ASSERT_NE(VMK_INVALID_WORLD_ID, e.a->tpe_world);
    pastLoadGate(e);
    bothWays(1);
    const vmk_Uplink uplink = e.a->uplink;
    const unsigned objects = static_cast<unsigned>(e.card->engine().countLive());
    startStream(ends_[1], e);
    startStream(e, ends_[1]);
    e.card->injectUe(0x20, 0, 0xE2A5);   // MPU, recoverable, code 0x2A5
    ASSERT_TRUE(vmktest::waitFor([&] { return recovered(e, 1); }, 20000))
        << "state " << state(e) << " hw_error " << hwError(e);
    stopStreams();
    EXPECT_EQ(1u, logged("UE lo: MPU bit set"));
    EXPECT_EQ(1u, logged("TPE recovery: Reinit Successful"));
    EXPECT_EQ(1u, e.card->counters(0).soft_resets);
    EXPECT_EQ(1u, e.a->reset_count);
    EXPECT_EQ(0x2A5, e.a->last_tpe_code);
    EXPECT_EQ(0u, e.a->tpe_attempts);
    EXPECT_FALSE(hwError(e));
    EXPECT_EQ(0, ld(e.a->fw_timeout));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_TPE_REINIT));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_RECONFIG));
    EXPECT_GE(e.a->last_recovery_ms, e.a->ue_detect_ms + e.a->ue2rp);
    EXPECT_EQ(uplink, e.a->uplink);
    EXPECT_EQ(1u, ld(e.a->io_started));
    EXPECT_EQ(objects, static_cast<unsigned>(e.card->engine().countLive()));
    ASSERT_TRUE(waitPosted(e, 64, true));
    bothWays(50);
    TearDown();
    SetUp();
  }
}

// A UE while a firmware command waits for its completion, polled (holding
// the channel) or asleep: the chip's soft reset drops the command, whose
// caller gets a failure instead of waiting on; the recovery goes ahead
// around it, and the completion held back from before the error never
// reaches the rebuilt adapter.
TEST_F(RecoveryE2eTest, CommandWaitingWhenTheErrorComesFailsAndTheAdapterRecovers) {
  constexpr uint8_t kPmacAdd = 59, kGetFnPrivileges = 170;
  struct Case {
    const char* what;
    uint8_t op;
    uint32_t (*call)(Adapter*);
    uint32_t status;   // the caller's status; 0: some failure
  };
  const Case cases[] = {
      {"polled", kGetFnPrivileges,
       [](Adapter* a) {
         uint32_t priv = 0;
         return tamsil_cmdGetFnPrivileges(a, &priv, 0);
       },
       TAMSIL_CH_IO_ERROR},
      {"sleeping", kPmacAdd,
       [](Adapter* a) {
         const uint8_t mac[6] = {0x02, 0x1C, 0x4E, 0x0E, 0x00, 0x01};
         uint32_t id = 0;
         return tamsil_cmdPmacAdd(a, mac, a->rxo[0].if_id, &id, 0, 1);
       },
       0},
  };
  for (adapter::Gen g : {adapter::Gen::KS3, adapter::Gen::Veskarn}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(genText(g)) + ", " + c.what);
      join(g);
      End& e = ends_[0];
      pastLoadGate(e);
      {
        std::lock_guard<std::mutex> lk(e.card->lock());
        e.card->engine().setFault(fwop::kCommon, c.op, {.late = true, .times = 1});
      }
      std::atomic<uint32_t> status{0};
      std::atomic<bool> returned{false};
      std::thread caller([&] {
        status = c.call(e.a);
        returned = true;
      });
      ASSERT_TRUE(vmktest::waitFor([&] { return e.card->heldCompletions(0) == 1; }));
      startStream(ends_[1], e);
      e.card->injectUe(0x20, 0, 0xE2A5);
      const bool ok = vmktest::waitFor([&] { return recovered(e, 1); }, 20000);
      stopStreams();
      caller.join();
      ASSERT_TRUE(ok) << "state " << state(e) << " hw_error " << hwError(e);
      EXPECT_TRUE(returned);
      EXPECT_NE(0u, status.load()) << "a command the chip never answered reported success";
      if (c.status != 0) {
        EXPECT_EQ(c.status, status.load());
      }
      EXPECT_EQ(0u, e.card->heldCompletions(0));
      e.card->releaseHeldCompletions(0);
      EXPECT_EQ(1u, e.a->reset_count);
      EXPECT_FALSE(hwError(e));
      EXPECT_EQ(0, ld(e.a->fw_timeout));
      // The channel serves the rebuilt adapter.
      EXPECT_EQ(0u, cases[0].call(e.a));
      ASSERT_TRUE(waitPosted(e, 64, true));
      bothWays(60);
      TearDown();
      SetUp();
    }
  }
}

// A second UE with the code the last recovery handled is not recovered: the
// adapter stays failed (until something resets it).
TEST_F(RecoveryE2eTest, SameErrorAgainAfterARecoveryStaysFailed) {
  join(adapter::Gen::KS3);
  End& e = ends_[0];
  pastLoadGate(e);
  e.card->injectUe(0x20, 0, 0xE2A5);
  ASSERT_TRUE(vmktest::waitFor([&] { return recovered(e, 1); }, 20000));
  ASSERT_TRUE(waitPosted(e, 64, true));
  // Past the gate since the last recovery, with the same code.
  holdWorker(e);
  vmktest::advanceMs((uint64_t)e.a->tpe_min_between * kMin);
  releaseWorker(e);
  e.card->injectUe(0x20, 0, 0xE2A5);
  ASSERT_TRUE(vmktest::waitFor([&] { return hwError(e); }, 20000));
  EXPECT_EQ(1u, logged("TPE Code 0x2a5 same as last recovered error. Treating as UE and taking normal UE path"));
  EXPECT_EQ(TPE_UE_TPE, state(e));
  EXPECT_EQ(1u, e.card->counters(0).soft_resets);
  EXPECT_EQ(1u, e.a->tpe_recoveries);
}

// A re-initialisation that fails leaves the adapter failed in state 6: the
// error is marked again, nothing reaches the firmware and later ticks do
// nothing.
TEST_F(RecoveryE2eTest, FailedReinitLeavesTheAdapterFailed) {
  join(adapter::Gen::Veskarn);
  End& e = ends_[0];
  pastLoadGate(e);
  {
    std::lock_guard<std::mutex> g(e.card->lock());
    adapter::Fault f;
    f.status = adapter::kStatusFailed;
    e.card->engine().setFault(fwop::kCommon, fwop::kEqCreate, f);
  }
  e.card->injectUe(0x20, 0, 0xE2A5);
  ASSERT_TRUE(vmktest::waitFor([&] { return logged("TPE recovery: Reinit failed. Adapter in UE state") == 1; }, 20000));
  EXPECT_EQ(TPE_UE_REINIT, state(e));
  EXPECT_TRUE(hwError(e));
  EXPECT_EQ(0u, ld(e.a->tpe_recoveries));
  EXPECT_EQ(1u, logged("Error in setting up ks controller"));
  const adapter::FnCounters before = e.card->counters(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));   // five seconds of ticks
  const adapter::FnCounters after = e.card->counters(0);
  EXPECT_EQ(before.mailbox_commands + before.mcc_commands, after.mailbox_commands + after.mcc_commands);
  EXPECT_EQ(1u, after.soft_resets);
  EXPECT_EQ(TPE_UE_REINIT, state(e));
  EXPECT_EQ(1u, logged("TPE recovery: Reinit Start"));
}

// Pivard: an error with reset-needed is recovered by the full reset under
// the recovery bit; the bit is given back and traffic resumes. A dump asked
// for while the adapter is in error is not requested.
TEST_F(RecoveryE2eTest, PivardErrorIsRecoveredByTheReset) {
  join(adapter::Gen::Pivard);
  End& e = ends_[0];
  bothWays(1);
  const vmk_Uplink uplink = e.a->uplink;
  const unsigned resets = e.card->counters(0).port_resets;
  // The worker is held so that the dump request meets the error marked.
  holdWorker(e);
  startStream(ends_[1], e);
  startStream(e, ends_[1]);
  e.card->injectPivardError(true);
  tamsil_detectDumpUe(e.a);
  stopStreams();
  EXPECT_EQ(1u, logged("sliport status 0x81800000"));
  EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_PIVARD_RECOVERY));
  EXPECT_FALSE(hwError(e));
  // The ready wait resets the port in error; the function reset once more.
  EXPECT_EQ(resets + 2, e.card->counters(0).port_resets);
  EXPECT_EQ(1u, e.a->reset_count);
  EXPECT_EQ(uplink, e.a->uplink);
  releaseWorker(e);
  ASSERT_TRUE(waitPosted(e, 64, true));
  bothWays(50);
  // A dump while the error is marked is not asked for. The error is marked
  // before the chip shows it, and the worker is held: it would start a
  // second recovery of its own.
  holdWorker(e);
  __atomic_store_n(&e.a->hw_error, 1, __ATOMIC_RELEASE);
  e.card->injectPivardError(true);
  tamsil_generatePivardDump(e.a);
  EXPECT_EQ(0u, e.card->counters(0).dump_requests);
}

// Pivard: an error without reset-needed cannot be reset away; the reset
// fails, leaves the recovery bit set and the adapter failed, and later ticks
// try nothing more.
TEST_F(RecoveryE2eTest, PivardFailedResetLeavesTheRecoveryBit) {
  join(adapter::Gen::Pivard);
  End& e = ends_[0];
  holdWorker(e);
  e.card->injectPivardError(false);
  tamsil_detectDumpUe(e.a);
  EXPECT_TRUE(hwError(e));
  EXPECT_TRUE(tamsil_flagTest(e.a, TAMSIL_FLAG_PIVARD_RECOVERY));
  EXPECT_EQ(1u, e.a->reset_count);
  const unsigned resets = e.card->counters(0).port_resets;
  const size_t lines = logged("sliport status");
  for (int i = 0; i < 3; i++) tamsil_workerTick(e.a);
  EXPECT_EQ(resets, e.card->counters(0).port_resets);
  EXPECT_EQ(1u, e.a->reset_count);
  EXPECT_EQ(lines, logged("sliport status"));
  EXPECT_TRUE(tamsil_flagTest(e.a, TAMSIL_FLAG_PIVARD_RECOVERY));
}

}  // namespace

// Unrecoverable errors: the detector and the recovery state machine run
// tick by tick on a standing kernel clock (every elapsed time is the test's
// own), the re-initialisation world's wake-up, Pivard's error path, the
// dump request and UE injection for a post-mortem dump.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "dp_fixture.h"
#include "tamsil_cmds.h"
#include "tamsil_ue.h"

namespace {

constexpr uint64_t kMin = 60000;   // ms

uint64_t nowMs() { return vmktest::nowNs() / 1000000ull; }

adapter::AdapterConfig cardOf(adapter::Gen g, unsigned functions = 1) {
  adapter::AdapterConfig c;
  c.fw.gen = g;
  c.fw.functions = functions;
  return c;
}

const adapter::Gen kTpeGens[] = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Veskarn};

class RecoveryTest : public DpTest {
 protected:
  // Attaches and starts the device, ends the worker world (the test runs the
  // ticks) and stops the kernel clock; the card counts time on it too.
  void arm(const adapter::AdapterConfig& cfg, const std::string& opts = "", unsigned fn = 0) {
    startDevice_ = true;
    associate(cfg, opts, fn);
    if (HasFatalFailure()) return;
    tamsil_workerStop(a_);
    vmktest::setClockRate(0);
    card_->setClock([] { return nowMs(); });
  }
  void arm(adapter::Gen g) { arm(cardOf(g)); }
  // The state machine alone: the re-initialisation world is not woken.
  void withoutReinitWorld() { tamsil_tpeWorldStop(a_); }
  void tick() { tamsil_workerTick(a_); }
  vmk_uint16 state() const { return __atomic_load_n(&a_->tpe_state, __ATOMIC_ACQUIRE); }
  bool hwError() const { return __atomic_load_n(&a_->hw_error, __ATOMIC_ACQUIRE) != 0; }
  bool fwTimeout() const { return __atomic_load_n(&a_->fw_timeout, __ATOMIC_ACQUIRE) != 0; }
  // Moves the clock to `ms` after the UE was seen.
  void at(uint64_t ms) {
    const uint64_t target = a_->ue_detect_ms + ms;
    ASSERT_LE(nowMs(), target);
    vmktest::advanceMs(target - nowMs());
  }
  // Past the load-time gate of the default 1440 minutes.
  void pastLoadGate() { vmktest::advanceMs((uint64_t)a_->tpe_min_after_load * kMin); }
  // A recoverable UE with code `code` seen by a tick.
  void detect(uint16_t port_status = 0xE123, uint32_t lo = 0x10, uint32_t hi = 0) {
    card_->injectUe(lo, hi, port_status);
    tick();
    ASSERT_EQ(TPE_UE_DETECTED, state());
  }
  unsigned fwCommands() const {
    const adapter::FnCounters c = card_->counters(0);
    return c.mailbox_commands + c.mcc_commands;
  }
  void TearDown() override {
    vmktest::setClockRate(250.0);
    __atomic_store_n(&tamsil_tpeReInitRaceHook, nullptr, __ATOMIC_RELEASE);
    // A chip left in error, or one the driver gave up on, holds objects
    // nobody destroys: power it off and on before the accounting.
    for (auto& c : cards_)
      if (c->inUe() || (a_ != nullptr && hwError())) c->powerCycle();
    DpTest::TearDown();
    a_ = nullptr;
    card_ = nullptr;
  }
};

/* ------------------------------------------------------------------------ */
/* Detection                                                                 */
/* ------------------------------------------------------------------------ */

// Bits the mask registers cover are no UE; one more bit is.
TEST_F(RecoveryTest, MaskedBitsAreNoUe) {
  for (adapter::Gen g : kTpeGens) {
    SCOPED_TRACE(genText(g));
    adapter::AdapterConfig c = cardOf(g);
    c.ue_mask_lo = 0x140;
    c.ue_mask_hi = 0x80000001u;
    arm(c);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(0x140u, a_->ue_status_lo_mask);
    EXPECT_EQ(0x80000001u, a_->ue_status_hi_mask);
    card_->injectUe(0x140, 0x80000001u, 0xE123);
    for (int i = 0; i < 3; i++) {
      vmktest::advanceMs(1000);
      tick();
    }
    EXPECT_EQ(TPE_UE_NONE, state());
    EXPECT_FALSE(hwError());
    EXPECT_FALSE(fwTimeout());
    EXPECT_EQ(0u, logged("UE Detected!!"));
    card_->injectUe(0, 0x2, 0xE123);
    tick();
    EXPECT_EQ(TPE_UE_DETECTED, state());
    EXPECT_EQ(1u, logged("UE Detected!!\nue_status_lo=0x0  ue_status_hi=0x2\n"));
    EXPECT_EQ(1u, logged("UE hi: MGMT_MAC bit set"));
    TearDown();
    SetUp();
  }
}

// Each set bit is logged by name, lowest first, low word before high; the
// names keep their trailing blanks, and high bits 24-31 have no name.
TEST_F(RecoveryTest, UeBitsAreLoggedByName) {
  arm(adapter::Gen::KS3);
  ASSERT_FALSE(HasFatalFailure());
  withoutReinitWorld();
  card_->injectUe((1u << 7) | (1u << 31), (1u << 23) | (1u << 31), 0xE123);
  vmktest::clearLog();
  tick();
  std::vector<std::string> bits;
  for (const std::string& t : vmktest::logTexts())
    if (t.find("] UE lo: ") != std::string::npos || t.find("] UE hi: ") != std::string::npos)
      bits.push_back(t.substr(t.find("] ") + 2));
  EXPECT_EQ((std::vector<std::string>{"UE lo: PTC  bit set\n", "UE lo: MPU_INTPEND bit set\n", "UE hi: NETC bit set\n",
                                      "UE hi: Unknown bit set\n"}),
            bits);
}

// Without support on either side the UE takes the normal path at once,
// after the link has been forced down: no more commands, no recovery.
TEST_F(RecoveryTest, UnsupportedRecoveryTakesTheNormalPath) {
  struct Case {
    const char* what;
    const char* opts;
    bool fw_supports;
  };
  const Case cases[] = {{"tpe_recovery off", "tpe_recovery=0", true}, {"firmware refuses", "", false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    adapter::AdapterConfig c = cardOf(adapter::Gen::KS3);
    c.fw.tpe_supported = k.fw_supports;
    arm(c, k.opts);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(VMK_INVALID_WORLD_ID, a_->tpe_world);
    a_->debug_mask |= TAMSIL_DBG_DRIVER;
    pastLoadGate();
    const unsigned reports = vmktest::uplinkLinkReports(uplink_);
    card_->injectUe(0x10, 0, 0xE123);
    tick();
    EXPECT_TRUE(hwError());
    EXPECT_FALSE(fwTimeout());
    EXPECT_EQ(TPE_UE_NONE, state());
    EXPECT_EQ(0, a_->link.link_up);
    EXPECT_EQ(reports + 1, vmktest::uplinkLinkReports(uplink_));
    EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_DOWN, vmktest::uplinkLinkState(uplink_).state);
    EXPECT_EQ(1u, logged("Forcing Link Down as Unrecoverable Error detected in chip/fw"));
    EXPECT_EQ(1u, logged("TPE recovery: Driver and FW do not support TPE recovery. Taking normal UE path"));
    // Nothing reaches the firmware any more, and later ticks look no further.
    const unsigned cmds = fwCommands();
    EXPECT_NE(0u, tamsil_cmdSetUeRecovery(a_));
    for (int i = 0; i < 3; i++) {
      vmktest::advanceMs(10000);
      tick();
    }
    EXPECT_EQ(cmds, fwCommands());
    EXPECT_EQ(TPE_UE_NONE, state());
    EXPECT_EQ(0u, card_->counters(0).soft_resets);
    EXPECT_EQ(1u, logged("UE Detected!!"));
    TearDown();
    SetUp();
  }
}

// A failed read of either UE status word ends the tick with nothing
// changed; the next tick reads again and sees the UE.
TEST_F(RecoveryTest, FailedStatusReadEndsTheTick) {
  const struct {
    unsigned nth;
    const char* line;
  } cases[] = {{1, "Pci Cfg read error 195887105 at offset 160"}, {2, "Pci Cfg read error 195887105 at offset 164"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.line);
    arm(adapter::Gen::Veskarn);
    ASSERT_FALSE(HasFatalFailure());
    card_->injectUe(0x10, 0, 0xE123);
    vmktest::failCall("vmk_PCIReadConfig", k.nth);
    tick();
    EXPECT_EQ(1u, logged(k.line));
    EXPECT_EQ(TPE_UE_NONE, state());
    EXPECT_FALSE(hwError());
    EXPECT_FALSE(fwTimeout());
    EXPECT_EQ(0u, logged("UE Detected!!"));
    tick();
    EXPECT_EQ(TPE_UE_DETECTED, state());
    TearDown();
    SetUp();
  }
}

/* ------------------------------------------------------------------------ */
/* The state machine, edge by edge                                          */
/* ------------------------------------------------------------------------ */

// 999 ms after the UE the machine waits; 1000 ms it asks the firmware:
// 0xE in bits 12-15 is recoverable (code in bits 0-11), anything else not.
TEST_F(RecoveryTest, DetectedStateWaitsASecondThenAsksTheFirmware) {
  struct Case {
    uint16_t port_status;
    bool recoverable;
  };
  const Case cases[] = {{0xE123, true}, {0xD123, false}, {0xF123, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.port_status);
    arm(adapter::Gen::KS3);
    ASSERT_FALSE(HasFatalFailure());
    withoutReinitWorld();
    pastLoadGate();
    detect(k.port_status);
    EXPECT_TRUE(fwTimeout());
    EXPECT_FALSE(hwError());
    at(999);
    tick();
    EXPECT_EQ(TPE_UE_DETECTED, state());
    at(1000);
    tick();
    if (k.recoverable) {
      EXPECT_EQ(TPE_UE_TPE, state());
      EXPECT_FALSE(hwError());
      EXPECT_TRUE(tamsil_flagTest(a_, TAMSIL_FLAG_RECONFIG));
      EXPECT_TRUE(tamsil_flagTest(a_, TAMSIL_FLAG_TPE_REINIT));
      EXPECT_EQ(30000u, vmktest::uplinkWatchdogMs(uplink_));
    } else {
      EXPECT_EQ(TPE_UE_DETECTED, state());
      EXPECT_TRUE(hwError());
      char line[128];
      snprintf(line, sizeof line, "F/W indicated the UE is not recoverable (=0x%x). Taking normal UE path",
               (unsigned)k.port_status);
      EXPECT_EQ(1u, logged(line));
      EXPECT_FALSE(tamsil_flagTest(a_, TAMSIL_FLAG_TPE_REINIT));
    }
    TearDown();
    SetUp();
  }
}

// The load-time gate: a PF 0 UE earlier than tpe_min_after_load minutes
// after attach takes the normal path.
TEST_F(RecoveryTest, LoadTimeGate) {
  struct Case {
    const char* what;
    vmk_uint16 gate;         // minutes
    uint64_t since_load_ms;  // when the UE is seen
    bool proceeds;
  };
  const Case cases[] = {
      {"10 minutes, default gate", 1440, 10 * kMin, false},
      {"a millisecond short of the default gate", 1440, 1440 * kMin - 1, false},
      {"the default gate", 1440, 1440 * kMin, true},
      {"10 minutes, gate set to 10", 10, 10 * kMin, true},
      {"9 minutes, gate set to 10", 10, 9 * kMin + 59999, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    arm(adapter::Gen::Veskarn);
    ASSERT_FALSE(HasFatalFailure());
    withoutReinitWorld();
    EXPECT_EQ(1440, a_->tpe_min_after_load);
    a_->tpe_min_after_load = k.gate;
    vmktest::advanceMs(a_->load_time_ms + k.since_load_ms - nowMs());
    detect();
    EXPECT_EQ(k.since_load_ms, a_->ue_detect_ms - a_->load_time_ms);
    at(1000);
    tick();
    EXPECT_EQ(k.proceeds ? TPE_UE_TPE : TPE_UE_DETECTED, state());
    EXPECT_EQ(!k.proceeds, hwError());
    if (!k.proceeds) {
      char line[160];
      snprintf(line, sizeof line,
               "TPE detected @%d mins after driver load. Minimum required time = %d mins. Taking normal UE path",
               (int)(k.since_load_ms / kMin), (int)k.gate);
      EXPECT_EQ(1u, logged(line));
    }
    TearDown();
    SetUp();
  }
}

// The whole way from the UE to the hand-over, with every edge: ue2sr
// (5000 ms) for the soft reset, ue2rp (15000 ms) for polling, and firmware
// ready before 35000 ms.
TEST_F(RecoveryTest, SoftResetPollingAndTheReadyDeadline) {
  struct Case {
    const char* what;
    uint64_t ready_after_reset;   // ms after the soft reset (at 5000 ms)
    bool reinit;
  };
  const Case cases[] = {{"ready at 34999 ms", 29999, true}, {"not ready at 35000 ms", 30000, false}};
  for (adapter::Gen g : kTpeGens) {
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(genText(g)) + ", " + k.what);
      arm(g);
      ASSERT_FALSE(HasFatalFailure());
      withoutReinitWorld();
      EXPECT_EQ(5000, a_->ue2sr);
      EXPECT_EQ(15000, a_->ue2rp);
      card_->setReadyAfterReset(k.ready_after_reset);
      pastLoadGate();
      detect(0xE123);
      at(1000);
      tick();
      ASSERT_EQ(TPE_UE_TPE, state());
      at(4999);
      tick();
      EXPECT_EQ(TPE_UE_TPE, state());
      EXPECT_EQ(0u, card_->counters(0).soft_resets);
      at(5000);
      tick();
      EXPECT_EQ(TPE_UE_SR, state());
      EXPECT_EQ(1u, card_->counters(0).soft_resets);
      EXPECT_EQ(0x123, a_->last_tpe_code);
      EXPECT_FALSE(card_->inUe());
      EXPECT_EQ(0u, card_->engine().countLive()) << "a soft reset leaves no firmware object";
      at(14999);
      tick();
      EXPECT_EQ(TPE_UE_SR, state());
      at(15000);
      tick();
      EXPECT_EQ(TPE_UE_RP, state());
      at(34998);
      tick();
      EXPECT_EQ(TPE_UE_RP, state());
      at(34999);
      tick();
      if (k.reinit) {
        EXPECT_EQ(TPE_UE_REINIT, state());
        EXPECT_FALSE(hwError());
      } else {
        EXPECT_EQ(TPE_UE_RP, state());
        at(35000);
        tick();
        EXPECT_EQ(TPE_UE_RP, state());
        EXPECT_TRUE(hwError());
        EXPECT_EQ(1u, logged("Timedout waiting for f/w Ready.Time lapsed after UE Detected >= 35s. Taking normal UE path"));
      }
      // From here on the detector leaves the adapter alone.
      vmktest::advanceMs(10000);
      tick();
      EXPECT_EQ(k.reinit ? TPE_UE_REINIT : TPE_UE_RP, state());
      EXPECT_EQ(1u, card_->counters(0).soft_resets);
      TearDown();
      SetUp();
    }
  }
}

// The gates of a later recovery: none for the first; then too soon after
// the last recovery, or the same error code again, is the normal path.
TEST_F(RecoveryTest, LastRecoveryGates) {
  struct Case {
    const char* what;
    vmk_uint32 recoveries;
    vmk_uint16 last_code;
    uint64_t since_last_ms;   // at the soft-reset decision
    const char* refusal;      // nullptr: the chip is reset
  };
  const Case cases[] = {
      {"first recovery, same code, just now", 0, 0x123, 0, nullptr},
      {"second, same code", 1, 0x123, 4320 * kMin, "TPE Code 0x123 same as last recovered error"},
      {"second, other code", 1, 0x124, 4320 * kMin, nullptr},
      {"second, too soon", 1, 0x124, 4320 * kMin - 1, "TPE detected @4319 mins from previous TPE Recovery. Minimum required time (=4320 mins)"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    arm(adapter::Gen::KS3);
    ASSERT_FALSE(HasFatalFailure());
    withoutReinitWorld();
    pastLoadGate();
    vmktest::advanceMs(4320 * kMin);
    detect(0xE123);
    a_->tpe_recoveries = k.recoveries;
    a_->last_tpe_code = k.last_code;
    a_->last_recovery_ms = a_->ue_detect_ms + 5000 - k.since_last_ms;
    at(1000);
    tick();
    ASSERT_EQ(TPE_UE_TPE, state());
    at(5000);
    tick();
    if (k.refusal == nullptr) {
      EXPECT_EQ(TPE_UE_SR, state());
      EXPECT_EQ(1u, card_->counters(0).soft_resets);
      EXPECT_EQ(0x123, a_->last_tpe_code);
      EXPECT_FALSE(hwError());
    } else {
      EXPECT_EQ(TPE_UE_TPE, state());
      EXPECT_EQ(0u, card_->counters(0).soft_resets);
      EXPECT_EQ(k.last_code, a_->last_tpe_code);
      EXPECT_TRUE(hwError());
      EXPECT_EQ(1u, logged(k.refusal));
    }
    TearDown();
    SetUp();
  }
}

// The gates as a management client sets them through the uplink's keys,
// on a recovery that runs to its end: with the defaults a UE 10 minutes
// after load takes the normal path; with TpeTsDrvrLoad at 10 it is
// recovered, and TpeRecoverySummary then shows the count, the code and the
// time since. A second UE (another code) 10 minutes later is refused under
// the default TpeTsLastRecovery and recovered with it at 10.
TEST_F(RecoveryTest, TheKeysMoveTheGatesOfARealRecovery) {
  struct Case {
    const char* what;
    const char* sinceLoad;   // TpeTsDrvrLoad; nullptr: the default
    const char* sinceLast;   // TpeTsLastRecovery
  };
  const Case cases[] = {{"defaults", nullptr, nullptr},
                        {"load gate at 10", "10", nullptr},
                        {"both gates at 10", "10", "10"}};
  auto key = [](const char* name) {
    std::string v;
    EXPECT_EQ(VMK_OK, vmktest::mgmtKeyGet("vmnic1", name, &v)) << name;
    return v;
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    arm(adapter::Gen::KS3);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NE(VMK_INVALID_WORLD_ID, a_->tpe_world);
    for (auto [name, value] : {std::pair{"TpeTsDrvrLoad", k.sinceLoad}, std::pair{"TpeTsLastRecovery", k.sinceLast}})
      if (value != nullptr) {
        ASSERT_EQ(VMK_OK, vmktest::mgmtKeySet("vmnic1", name, value));
      }
    // The clock ran until arm() stopped it: 10 minutes from the load.
    vmktest::advanceMs(a_->load_time_ms + 10 * kMin - nowMs());
    detect(0xE2A5);
    at(1000);
    tick();
    if (k.sinceLoad == nullptr) {
      EXPECT_EQ(TPE_UE_DETECTED, state());
      EXPECT_TRUE(hwError());
      EXPECT_EQ(1u, logged("TPE detected @10 mins after driver load. Minimum required time = 1440 mins. Taking "
                           "normal UE path"));
      TearDown();
      SetUp();
      continue;
    }
    ASSERT_EQ(TPE_UE_TPE, state());
    // Soft reset, polling, and the hand-over once the firmware is ready.
    for (uint64_t t = 5000; t < 35000 && state() != TPE_UE_REINIT; t += 1000) {
      at(t);
      tick();
    }
    ASSERT_EQ(TPE_UE_REINIT, state());
    // The re-initialisation world's reset waits on the clock: let it run.
    vmktest::setClockRate(250.0);
    ASSERT_TRUE(vmktest::waitFor([&] {
      return __atomic_load_n(&a_->tpe_recoveries, __ATOMIC_ACQUIRE) == 1 && state() == TPE_UE_NONE;
    }));
    vmktest::setClockRate(0);
    vmktest::advanceMs(7 * kMin);
    const uint64_t now = nowMs();
    char want[300];
    snprintf(want, sizeof want,
             "\nTime since Driver load = %d mins\nNumber of Successful TPE Recoveries = 1\n"
             "Last Successful Recovery TPE Code = 0x2a5\nTime since Last Successful TPE Recovery = %d mins\n",
             (int)((now - a_->load_time_ms) / kMin), (int)((now - a_->last_recovery_ms) / kMin));
    EXPECT_EQ(want, key("TpeRecoverySummary"));
    EXPECT_LE(7 * kMin, now - a_->last_recovery_ms);

    // A second UE, 10 minutes after the recovery, with another code.
    vmktest::advanceMs(10 * kMin - 7 * kMin);
    detect(0xE2A6);
    at(1000);
    tick();
    ASSERT_EQ(TPE_UE_TPE, state());
    at(5000);
    tick();
    if (k.sinceLast == nullptr) {
      EXPECT_EQ(TPE_UE_TPE, state());
      EXPECT_TRUE(hwError());
      EXPECT_EQ(1u, card_->counters(0).soft_resets);
      EXPECT_EQ(1u, logged("mins from previous TPE Recovery. Minimum required time (=4320 mins). Taking normal UE path"));
    } else {
      EXPECT_EQ(TPE_UE_SR, state());
      EXPECT_FALSE(hwError());
      EXPECT_EQ(2u, card_->counters(0).soft_resets);
      EXPECT_EQ(0x2A6, a_->last_tpe_code);
    }
    TearDown();
    SetUp();
  }
}

// A management client sets both gates and reads the summary over and over
// while the worker's ticks read them through a UE to the normal path: the
// values never change, so the outcome is known; the race detector sees
// whether the two sides share the fields safely.
TEST_F(RecoveryTest, GatesSetWhileTheWorkerTicks) {
  vmktest::setClockRate(250.0);
  startDevice_ = true;
  associate(adapter::Gen::KS3);
  ASSERT_FALSE(HasFatalFailure());
  // Past the load-time gate, one recovery just behind: the second gate
  // decides. The worker is away while the test writes the fields.
  tamsil_workerStop(a_);
  vmktest::advanceMs(1440 * kMin);
  a_->tpe_recoveries = 1;
  a_->last_tpe_code = 0x124;
  a_->last_recovery_ms = nowMs();
  ASSERT_EQ(VMK_OK, tamsil_workerStart(a_));
  std::atomic<bool> stop{false};
  std::atomic<int> refused{0};
  std::thread client([&] {
    while (!stop) {
      std::string v;
      if (vmktest::mgmtKeySet("vmnic1", "TpeTsDrvrLoad", "1440") != VMK_OK) refused++;
      if (vmktest::mgmtKeySet("vmnic1", "TpeTsLastRecovery", "4320") != VMK_OK) refused++;
      if (vmktest::mgmtKeyGet("vmnic1", "TpeRecoverySummary", &v) != VMK_OK) refused++;
    }
  });
  card_->injectUe(0x10, 0, 0xE123);
  EXPECT_TRUE(vmktest::waitFor([&] { return hwError(); }));
  stop = true;
  client.join();
  EXPECT_EQ(0, refused.load());
  EXPECT_EQ(1u, logged("mins from previous TPE Recovery. Minimum required time (=4320 mins). Taking normal UE path"));
  EXPECT_EQ(0u, logged("after driver load. Minimum required time"));
  EXPECT_EQ(0u, card_->counters(0).soft_resets);
}

// A PF other than 0 skips the load-time gate, the recovery gates and the
// soft reset (PF 0 resets the chip) and then polls like PF 0.
TEST_F(RecoveryTest, OtherPfLeavesTheSoftResetToPfZero) {
  arm(cardOf(adapter::Gen::Veskarn, 2), "", 1);
  ASSERT_FALSE(HasFatalFailure());
  withoutReinitWorld();
  ASSERT_EQ(1u, a_->pf_num);
  a_->tpe_recoveries = 1;
  a_->last_tpe_code = 0x123;
  a_->last_recovery_ms = nowMs();
  detect(0xE123);   // at once after load
  at(1000);
  tick();
  EXPECT_EQ(TPE_UE_TPE, state());
  EXPECT_FALSE(hwError());
  tick();
  EXPECT_EQ(TPE_UE_SR, state());
  EXPECT_EQ(0u, card_->counters(1).soft_resets);
  EXPECT_EQ(0u, card_->counters(0).soft_resets);
  EXPECT_EQ(0x123, a_->last_tpe_code);
  // PF 0's driver resets the chip; this one sees the firmware come back.
  card_->powerCycle();
  at(15000);
  tick();
  EXPECT_EQ(TPE_UE_RP, state());
  tick();
  EXPECT_EQ(TPE_UE_REINIT, state());
  EXPECT_FALSE(hwError());
}

// The progress lines at debug mask 0x1, in order, on the way to the
// hand-over; without the mask only the lines that are always logged.
TEST_F(RecoveryTest, ProgressMessagesAtDebugMask) {
  const std::vector<std::string> debugLines = {
      "ue_status_lo=0x10  ue_status_hi=0x0\n",
      "ue_status_lo_mask=0x0  ue_status_hi_mask=0x0\n",
      "ue_status_lo=0x10  ue_status_hi=0x0\n",
      "UE Detected!!\nue_status_lo=0x10  ue_status_hi=0x0\n",
      "UE Detected at ",
      "UE lo: Host bit set\n",
      "Forcing Link Down as Unrecoverable Error detected in chip/fw\n",
      "TPE detected: Driver and FW support TPE recovery. Moving to TPE_UE_DETECTED state\n",
      "TPE detected: Time lapsed after UE Detected = 1000 ms\n",
      "TPE detected: port_status = 0xe123\n",
      "TPE recovery: F/W indicated the UE is recoverable. Moving to TPE_UE_TPE state\n",
      "Time lapsed after UE Detected = 5000 ms,  ue2sr = 5000\n",
      "port_status = 0x8000e123 unique error code = 0x123\n",
      "pci_soft_reset = 0x0\n",
      "writing pci_soft_reset = 0x80\n",
      "Invoked Chip Soft Reset\n",
      "Moving to TPE_UE_SR state\n",
      "TPE recovery: Time lapsed after UE Detected = 12000 ms,  ue2rp = 15000\n",
      "Time for polling. Moving to TPE_UE_RP state\n",
      "TPE recovery: Time lapsed after UE Detected = 16000 ms, port_status = 0xc000\n",
      "TPE recovery: Done with polling. f/w ready. Restart Initialization\n",
  };
  const std::vector<std::string> alwaysLines = {"UE Detected!!\nue_status_lo=0x10  ue_status_hi=0x0\n",
                                                "UE lo: Host bit set\n"};
  for (vmk_uint32 mask : {TAMSIL_DBG_DRIVER, 0u}) {
    SCOPED_TRACE(mask);
    arm(adapter::Gen::KS3);
    ASSERT_FALSE(HasFatalFailure());
    withoutReinitWorld();
    __atomic_store_n(&a_->debug_mask, mask, __ATOMIC_RELAXED);
    pastLoadGate();
    vmktest::clearLog();
    detect(0xE123);
    // Four ticks in TPE_UE_SR, the fifth in TPE_UE_RP: the progress lines come
    // every fourth tick of the two states.
    for (uint64_t t : {1000, 5000, 12000, 13000, 14000, 15000, 16000}) {
      at(t);
      tick();
    }
    ASSERT_EQ(TPE_UE_REINIT, state());
    std::vector<std::string> got;
    for (const vmktest::LogLine& l : vmktest::logLines()) {
      const size_t at = l.text.find("] ");
      if (at != std::string::npos) got.push_back(l.text.substr(at + 2));
    }
    const std::vector<std::string>& want = mask ? debugLines : alwaysLines;
    size_t next = 0;
    for (const std::string& line : got)
      if (next < want.size() && line.compare(0, want[next].size(), want[next]) == 0) next++;
    EXPECT_EQ(want.size(), next) << "missing from the log, in order: " << (next < want.size() ? want[next] : "");
    if (mask == 0) {
      for (const std::string& line : got) EXPECT_EQ(std::string::npos, line.find("TPE")) << line;
    }
    TearDown();
    SetUp();
  }
}

/* ------------------------------------------------------------------------ */
/* The re-initialisation world                                               */
/* ------------------------------------------------------------------------ */

Adapter* raceTarget = nullptr;
std::atomic<int> raceHits{0};

// The detector hands over (state 6 and a wake-up) at the worst moment: after
// the world has looked at the state and before it sleeps. The wake-up must
// not be lost.
TEST_F(RecoveryTest, ReinitWakeBetweenLookAndSleepIsNotLost) {
  vmktest::setClockRate(250.0);
  startDevice_ = true;
  associate(adapter::Gen::KS3);
  ASSERT_FALSE(HasFatalFailure());
  tamsil_workerStop(a_);
  ASSERT_NE(VMK_INVALID_WORLD_ID, a_->tpe_world);
  a_->debug_mask |= TAMSIL_DBG_DRIVER;
  raceTarget = a_;
  raceHits = 0;
  void (*hook)(Adapter*) = [](Adapter* a) {
    if (a != raceTarget || raceHits.fetch_add(1) != 0) return;
    __atomic_store_n(&a->tpe_state, (vmk_uint16)TPE_UE_REINIT, __ATOMIC_RELEASE);
    tamsil_tpeReInitWake(a);
  };
  __atomic_store_n(&tamsil_tpeReInitRaceHook, hook, __ATOMIC_RELEASE);
  // Where the detector hands over: the chip was soft-reset in error.
  __atomic_store_n(&a_->fw_timeout, 1, __ATOMIC_RELEASE);
  vmk_MMIOWrite32((vmk_VA)a_->pcicfg_va + 0x5C, 0x80u);
  ASSERT_EQ(0u, card_->engine().countLive());
  // Bring the world round its loop once, past the hook.
  tamsil_tpeReInitWake(a_);
  EXPECT_TRUE(vmktest::waitFor([] { return raceHits.load() > 0; }));
  EXPECT_TRUE(vmktest::waitFor([] { return logged("TPE recovery: Reinit Start") == 1; }));
  EXPECT_TRUE(vmktest::waitFor([&] { return logged("TPE recovery: Reinit Successful") == 1; }));
  EXPECT_TRUE(vmktest::waitFor([&] { return state() == TPE_UE_NONE; }));
  __atomic_store_n(&tamsil_tpeReInitRaceHook, nullptr, __ATOMIC_RELEASE);
  EXPECT_EQ(1u, a_->tpe_recoveries);
  EXPECT_EQ(0u, a_->tpe_attempts);
  EXPECT_FALSE(hwError());
  EXPECT_EQ(1u, a_->reset_count);
}

/* ------------------------------------------------------------------------ */
/* Pivard                                                                    */
/* ------------------------------------------------------------------------ */

// An error in the port status: hw_error, the error registers logged, the
// recovery bit taken once; a recovery already under way is left alone.
TEST_F(RecoveryTest, PivardErrorTakesTheRecoveryBitOnce) {
  arm(adapter::Gen::Pivard);
  ASSERT_FALSE(HasFatalFailure());
  a_->debug_mask |= TAMSIL_DBG_DRIVER;
  const unsigned resets = card_->counters(0).port_resets;   // attach resets the port
  // No error: nothing.
  tick();
  EXPECT_FALSE(hwError());
  // A recovery under way: the tick marks the error and goes no further.
  vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
  card_->injectPivardError(true);
  tick();
  EXPECT_TRUE(hwError());
  EXPECT_EQ(1u, logged("sliport status 0x81800000"));
  EXPECT_EQ(1u, logged("sliport error1 0xe001"));
  EXPECT_EQ(1u, logged("sliport error2 0x42"));
  EXPECT_EQ(1u, logged("Error recovery already going on, return"));
  EXPECT_EQ(resets, card_->counters(0).port_resets);
  // hw_error set: later ticks do nothing.
  tick();
  EXPECT_EQ(1u, logged("sliport status"));
}

/* ------------------------------------------------------------------------ */
/* Dumps                                                                     */
/* ------------------------------------------------------------------------ */

// The dump request waits while bit 30 is set, watchdog at 30000 ms
// meanwhile; a dump that never ends is given up after 30000 polls.
TEST_F(RecoveryTest, PivardDumpRequest) {
  struct Case {
    const char* what;
    uint64_t busy_ms;
    bool gives_up;
  };
  const Case cases[] = {{"clears after 20 ms", 20, false}, {"never clears", adapter::Adapter::kForever, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    startDevice_ = true;
    associate(adapter::Gen::Pivard);
    ASSERT_FALSE(HasFatalFailure());
    tamsil_workerStop(a_);
    a_->debug_mask |= TAMSIL_DBG_MCC;
    card_->setClock([] { return nowMs(); });
    card_->setDumpBusyTime(k.busy_ms);
    const uint64_t t0 = nowMs();
    tamsil_generatePivardDump(a_);
    const uint64_t took = nowMs() - t0;
    EXPECT_EQ(1u, card_->counters(0).dump_requests);
    EXPECT_TRUE(card_->engine().hasObject("/dbg/dump.bin"));
    EXPECT_EQ(1u, logged("GeneratePivardDump called for "));
    EXPECT_EQ(5000u, vmktest::uplinkWatchdogMs(uplink_));
    if (k.gives_up) {
      EXPECT_EQ(1u, logged("tamsil_generatePivardDump count = 30000"));
      EXPECT_EQ(1u, logged("Firmware dump still in progress after 30000 ms, not waiting longer"));
      EXPECT_GE(took, 30000u);
    } else {
      EXPECT_EQ(0u, logged("Firmware dump still in progress"));
      EXPECT_GE(took, 20u);
      EXPECT_LT(took, 30000u);
    }
    TearDown();
    SetUp();
  }
}

// No dump while the adapter is in error or a recovery rebuilds it.
TEST_F(RecoveryTest, PivardDumpRefusedInErrorOrRecovery) {
  const std::vector<std::pair<const char*, std::function<void(Adapter*)>>> cases = {
      {"hw_error", [](Adapter* a) { __atomic_store_n(&a->hw_error, 1, __ATOMIC_RELEASE); }},
      {"fw_timeout", [](Adapter* a) { __atomic_store_n(&a->fw_timeout, 1, __ATOMIC_RELEASE); }},
      {"recovery", [](Adapter* a) { vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_TPE_REINIT); }},
  };
  startDevice_ = true;
  associate(adapter::Gen::Pivard);
  ASSERT_FALSE(HasFatalFailure());
  tamsil_workerStop(a_);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.first);
    k.second(a_);
    tamsil_generatePivardDump(a_);
    EXPECT_EQ(0u, card_->counters(0).dump_requests);
    __atomic_store_n(&a_->hw_error, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&a_->fw_timeout, 0, __ATOMIC_RELEASE);
    vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_TPE_REINIT);
  }
}

// After a command time-out the driver puts the chip into a UE so that the
// firmware writes a post-mortem dump; Pivard has no such injection.
TEST_F(RecoveryTest, GenerateUeInjectsPerGeneration) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    startDevice_ = true;
    associate(g);
    ASSERT_FALSE(HasFatalFailure());
    tamsil_workerStop(a_);
    tamsil_generateUE(a_);
    const bool injects = g != adapter::Gen::Pivard;
    EXPECT_EQ(1u, logged("Injecting fatal error for post-mortem dump"));
    EXPECT_EQ(injects ? 1u : 0u, card_->counters(0).ue_injections);
    EXPECT_EQ(injects, card_->inUe());
    if (injects) {
      // The detector sees it, and the firmware marks it not recoverable.
      tick();
      EXPECT_EQ(TPE_UE_DETECTED, state());
      EXPECT_EQ(1u, logged("UE lo: Host bit set"));
    }
    TearDown();
    SetUp();
  }
}

}  // namespace

// Start and quiesce of I/O with real rings: what a start brings up, what a
// quiesce takes down, a failure injected at each step of the start undone
// exactly, and the undo of a start made under `reset_lock`.
#include <chrono>
#include <functional>
#include <memory>
#include <future>
#include <thread>

#include "dp_fixture.h"

namespace {

constexpr uint8_t kCommon = 1, kNic = 3;
constexpr uint8_t kLinkQuery = 5, kCqCreate = 12, kRxf = 34, kFlowControl = 36;
constexpr uint8_t kRssConfig = 1, kRxqCreate = 8;

// What the kernel stand-in and the adapter hold, to compare before a start
// and after its undo.
struct Held {
  std::string kernel;
  size_t rxqs, cqs, eqs, txqs, filters;
  bool operator==(const Held&) const = default;
};
Held held(adapter::Adapter& card) {
  auto& e = card.engine();
  return {vmktest::live().describe(),
          e.countLive(adapter::ObjKind::RxQueue),
          e.countLive(adapter::ObjKind::Cq),
          e.countLive(adapter::ObjKind::Eq),
          e.countLive(adapter::ObjKind::TxQueue),
          e.countLive(adapter::ObjKind::MacFilter) + e.countLive(adapter::ObjKind::QueueFilter)};
}
std::ostream& operator<<(std::ostream& o, const Held& h) {
  return o << "{" << h.kernel << " rxq=" << h.rxqs << " cq=" << h.cqs << " eq=" << h.eqs << " txq=" << h.txqs
           << " filters=" << h.filters << "}";
}

class StartIOTest : public DpTest {
 protected:
  // Associates and tells whether this build has receive rings to start
  // (the receive path answers "not supported" until it is built); the
  // probe's start is quiesced again.
  bool associateWithRings(adapter::Gen g, const std::string& opts = "") {
    associate(g, opts);
    if (HasFatalFailure()) return false;
    if (startIO() == VMK_OK) return quiesceIO() == VMK_OK;
    return logged("Receive rings are not supported by this build") == 0;
  }
  // Checks what a started uplink holds.
  void expectStarted() {
    EXPECT_TRUE(ioStarted());
    EXPECT_FALSE(ioQuiesced());
    EXPECT_EQ(a_->num_vectors, card_->engine().countLive(adapter::ObjKind::RxQueue));
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      EXPECT_TRUE(a_->rxo[i].rxq.created) << i;
      EXPECT_EQ(a_->intr_cookie[i] != VMK_INVALID_INTRCOOKIE, a_->rxo[i].intr_enabled != 0) << i;
      EXPECT_EQ(a_->intr_cookie[i] != VMK_INVALID_INTRCOOKIE, a_->netpoll[i].enabled != 0) << i;
    }
    EXPECT_EQ(1, a_->intr_registered);
    EXPECT_EQ(1, a_->async_mcc_enabled);
    // The emulated port's link is up: reported, and the default transmit
    // queue follows it (where the firmware reports the logical link only
    // once the start has set it, through the link event that follows).
    EXPECT_TRUE(vmktest::waitFor(
        [&] { return vmktest::uplinkLinkState(uplink_).state == (vmk_uint32)VMK_LINK_STATE_UP; }));
    EXPECT_TRUE(vmktest::waitFor([&] { return vmktest::uplinkQueueState(uplink_, a_->queue_info.maxRxQueues) == 1; }));
    EXPECT_EQ(TAMSIL_QDATA_STARTED, a_->uplink_qdata[0].state);
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      const adapter::InterfaceObj* itf = card_->engine().interface(a_->rxo[i].if_id);
      ASSERT_NE(nullptr, itf);
      EXPECT_EQ(0x80u, itf->rxf_flags & 0x80u) << "VLAN promiscuous on vector " << i;
    }
    if (a_->features & TAMSIL_FEAT_RSS) {
      const adapter::InterfaceObj* itf = card_->engine().interface(a_->rxo[tamsil_rssLeadingRing(a_)].if_id);
      ASSERT_NE(nullptr, itf);
      EXPECT_EQ(128u, itf->rss_table.size());
    }
  }
  void expectQuiesced() {
    EXPECT_FALSE(ioStarted());
    EXPECT_TRUE(ioQuiesced());
    EXPECT_EQ(0u, card_->engine().countLive(adapter::ObjKind::RxQueue));
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
      EXPECT_FALSE(a_->rxo[i].rxq.created) << i;
      EXPECT_EQ(0, a_->rxo[i].intr_enabled) << i;
      EXPECT_EQ(0, a_->netpoll[i].enabled) << i;
      EXPECT_EQ(nullptr, a_->rxo[i].frag_info_table) << i;
    }
    EXPECT_EQ(0, a_->intr_registered);
    EXPECT_EQ(0, vmktest::live().intrRegistrations);
    EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_DOWN, vmktest::uplinkLinkState(uplink_).state);
    EXPECT_EQ(0, vmktest::uplinkQueueState(uplink_, a_->queue_info.maxRxQueues));
  }
};

TEST_F(StartIOTest, StartQuiesceStartAgainPerGeneration) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    if (!associateWithRings(g)) GTEST_SKIP() << "receive rings are not built";
    const Held before = held(*card_);
    for (int round = 0; round < 2; round++) {
      SCOPED_TRACE(round);
      ASSERT_EQ(VMK_OK, startIO());
      expectStarted();
      ASSERT_EQ(VMK_OK, quiesceIO());
      expectQuiesced();
      EXPECT_EQ(before, held(*card_));
    }
    TearDown();
    SetUp();
  }
}

// One injected failure per step of the start: the start reports failure,
// leaves exactly what it found, and a start without the failure succeeds.
struct StepFault {
  const char* name;
  bool pivardOnly;
  std::function<void(adapter::Adapter&)> inject;
  const char* line;   // logged by the failing step
};

TEST_F(StartIOTest, FailureAtEachStepIsUndoneExactly) {
  const std::vector<StepFault> steps = {
      {"receive completion queues", true,
       [](adapter::Adapter& c) { c.engine().setFault(kCommon, kCqCreate, {.status = 3, .times = 1}); },
       "Failed to create Rx completion queues"},
      {"receive queues", false,
       [](adapter::Adapter& c) { c.engine().setFault(kNic, kRxqCreate, {.status = 3, .times = 1}); },
       "tamsil driver: Failed to create Rx queues"},
      {"interface filters", true,
       [](adapter::Adapter& c) { c.engine().setFault(kCommon, kRxf, {.status = 3, .times = 1}); },
       "Failed to apply filters"},
      {"interrupt registration", false, [](adapter::Adapter&) { vmktest::failCall("vmk_IntrRegister", 2); },
       "Failed to register interrupts"},
      {"NetPoll binding", false, [](adapter::Adapter&) { vmktest::failCall("vmk_NetPollInterruptSet", 1); },
       "Failed to register interrupts"},
      {"interrupt enable", false, [](adapter::Adapter&) { vmktest::failCall("vmk_IntrEnable", 2); },
       "Interrupt Enable failed for vect 1"},
      {"link status query", false,
       [](adapter::Adapter& c) { c.engine().setFault(kCommon, kLinkQuery, {.status = 3, .times = 1}); },
       "Link status query failed"},
  };
  for (adapter::Gen g : allGens()) {
    for (const StepFault& s : steps) {
      if (s.pivardOnly && g != adapter::Gen::Pivard) continue;
      SCOPED_TRACE(std::string(genText(g)) + ": " + s.name);
      if (!associateWithRings(g)) GTEST_SKIP() << "receive rings are not built";
      ASSERT_GT(a_->num_vectors, 1u);
      const Held before = held(*card_);
      const size_t lines = logged(s.line);
      s.inject(*card_);
      EXPECT_EQ(VMK_FAILURE, startIO());
      vmktest::clearFailures();
      card_->engine().clearFaults();
      EXPECT_LT(lines, logged(s.line));
      EXPECT_FALSE(ioStarted());
      EXPECT_TRUE(ioQuiesced());
      vmktest::netPollDrain();
      EXPECT_EQ(before, held(*card_));
      EXPECT_EQ(0, a_->intr_registered);
      for (vmk_uint32 i = 0; i < a_->num_vectors; i++) {
        EXPECT_EQ(0, a_->rxo[i].intr_enabled) << i;
        EXPECT_EQ(0, a_->netpoll[i].enabled) << i;
      }
      EXPECT_EQ(1, a_->msix_enabled);
      ASSERT_EQ(VMK_OK, startIO());
      expectStarted();
      TearDown();
      SetUp();
    }
  }
}

// Failures of the steps whose result the start ignores.
TEST_F(StartIOTest, IgnoredStepFailuresDoNotFailTheStart) {
  if (!associateWithRings(adapter::Gen::Veskarn)) GTEST_SKIP() << "receive rings are not built";
  ASSERT_TRUE(a_->features & TAMSIL_FEAT_RSS);
  const size_t flowLines = logged("Set flow control failed"), rssLines = logged("Failed to configure RSS with error");
  card_->engine().setFault(kCommon, kFlowControl, {.status = 3, .times = 1});
  card_->engine().setFault(kNic, kRssConfig, {.status = 3, .times = 1});
  ASSERT_EQ(VMK_OK, startIO());
  EXPECT_EQ(flowLines + 1, logged("Set flow control failed"));
  EXPECT_EQ(rssLines + 1, logged("Failed to configure RSS with error"));
  ASSERT_EQ(VMK_OK, quiesceIO());
  // Status 68 of the flow-control command is no failure.
  card_->engine().setFault(kCommon, kFlowControl, {.status = 68, .times = 1});
  ASSERT_EQ(VMK_OK, startIO());
  EXPECT_EQ(flowLines + 1, logged("Set flow control failed"));
}

// A start made by a caller that holds `reset_lock` (the full reset) undoes
// itself without taking the lock again.
TEST_F(StartIOTest, UndoUnderResetLockDoesNotTakeItAgain) {
  if (!associateWithRings(adapter::Gen::KS3)) GTEST_SKIP() << "receive rings are not built";
  const Held before = held(*card_);
  card_->engine().setFault(kCommon, kLinkQuery, {.status = 3, .times = 1});
  vmk_SemaLock(&a_->reset_lock);
  // On its own thread, so that a start stuck on the lock fails the test
  // instead of hanging it.
  auto result = std::make_shared<std::promise<VMK_ReturnStatus>>();
  std::future<VMK_ReturnStatus> done = result->get_future();
  Adapter* a = a_;
  std::thread([a, result] { result->set_value(tamsil_startIOResetLocked(a)); }).detach();
  const bool finished = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  ASSERT_TRUE(finished) << "the undo waits for reset_lock its caller holds";
  EXPECT_EQ(VMK_FAILURE, done.get());
  vmk_SemaUnlock(&a_->reset_lock);
  EXPECT_TRUE(ioQuiesced());
  EXPECT_FALSE(ioStarted());
  vmktest::netPollDrain();
  EXPECT_EQ(before, held(*card_));
  // Under the lock, a start that succeeds is an ordinary start.
  vmk_SemaLock(&a_->reset_lock);
  EXPECT_EQ(VMK_OK, tamsil_startIOResetLocked(a_));
  vmk_SemaUnlock(&a_->reset_lock);
  expectStarted();
}

// MSI-X registration failing with several event queues does not fall back
// to one INTx cookie (which would leave every event queue but the first
// unpolled): the start fails, keeps its MSI-X vectors and succeeds later.
TEST_F(StartIOTest, NoSingleCookieFallBackForSeveralEventQueues) {
  if (!associateWithRings(adapter::Gen::Veskarn)) GTEST_SKIP() << "receive rings are not built";
  ASSERT_GT(a_->num_vectors, 1u);
  const size_t lines = logged("no INTx fall-back for");
  const vmk_uint32 cookies = vmktest::live().intrCookies;
  vmktest::failCall("vmk_IntrRegister", 3);
  EXPECT_EQ(VMK_FAILURE, startIO());
  vmktest::clearFailures();
  EXPECT_EQ(lines + 1, logged("no INTx fall-back for"));
  EXPECT_EQ(1, a_->msix_enabled);
  EXPECT_EQ(cookies, (vmk_uint32)vmktest::live().intrCookies);
  for (vmk_uint32 i = 0; i < a_->num_vectors; i++) EXPECT_NE(VMK_INVALID_INTRCOOKIE, a_->intr_cookie[i]) << i;
  ASSERT_EQ(VMK_OK, startIO());
  expectStarted();
}

// With a single vector (MSI-X off) the one INTx cookie serves the one event
// queue.
TEST_F(StartIOTest, SingleVectorStartsOnIntx) {
  if (!associateWithRings(adapter::Gen::KS3, "msix=0")) GTEST_SKIP() << "receive rings are not built";
  ASSERT_EQ(0, a_->msix_enabled);
  ASSERT_EQ(1u, a_->num_vectors);
  ASSERT_EQ(VMK_OK, startIO());
  expectStarted();
  ASSERT_EQ(VMK_OK, quiesceIO());
  expectQuiesced();
}

}  // namespace

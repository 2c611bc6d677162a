// A reset the driver starts itself (a forced reset after a chip error,
// Pivard's port-error recovery) meeting what the kernel is doing on the same
// adapter: its uplink quiesce held inside, a transmit held inside a ring,
// traffic leaving the resetting end. The reset waits for what is inside;
// nothing is torn down or freed under it, nothing leaks, and the adapter
// carries traffic again.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "cable_fixture.h"

namespace {

using cabletest::Bytes;
using cabletest::CableTest;
using cabletest::End;
using cabletest::Send;

// The threads a Hold may stop: marked by the test, each in its own body.
thread_local bool tMarked = false;

// Holds the first marked thread that calls a kernel service inside it until
// released (a test's hook; released at the latest when it goes).
class Hold {
 public:
  explicit Hold(const std::string& service) : service_(service) {
    vmktest::onCall(service_, [this] {
      if (!tMarked) return;
      std::unique_lock<std::mutex> lk(m_);
      if (used_) return;
      used_ = true;
      held_ = true;
      cv_.notify_all();
      cv_.wait(lk, [this] { return released_; });
      held_ = false;
    });
  }
  ~Hold() {
    release();
    vmktest::onCall(service_, {});
  }
  bool waitHeld() {
    return vmktest::waitFor([this] {
      std::lock_guard<std::mutex> g(m_);
      return held_;
    });
  }
  bool held() {
    std::lock_guard<std::mutex> g(m_);
    return held_;
  }
  void release() {
    {
      std::lock_guard<std::mutex> g(m_);
      released_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::string service_;
  std::mutex m_;
  std::condition_variable cv_;
  bool used_ = false, held_ = false, released_ = false;
};

// How the driver comes to reset the adapter.
enum class Start { Forced, PivardRecovery };
struct Way {
  const char* what;
  adapter::Gen gen;
  Start start;
};
const Way kWays[] = {
    {"KS3, forced reset", adapter::Gen::KS3, Start::Forced},
    {"Veskarn, forced reset", adapter::Gen::Veskarn, Start::Forced},
    {"Pivard, error recovery", adapter::Gen::Pivard, Start::PivardRecovery},
};

class ResetRaceTest : public CableTest {
 protected:
  void TearDown() override {
    stopStreams();
    // A chip the driver gave up on holds objects nobody destroys.
    for (End& e : ends_)
      if (e.card != nullptr && e.a != nullptr && __atomic_load_n(&e.a->hw_error, __ATOMIC_ACQUIRE))
        e.card->powerCycle();
    CableTest::TearDown();
    for (End& e : ends_) e = End{};
  }

  // The end that resets; its worker is held so that the test alone decides
  // when an error is looked for.
  End& resetting() {
    End& e = ends_[0];
    tamsil_workerStop(e.a);
    return e;
  }
  // The driver's own reset of `e`, as its recovery runs it: the chip reset
  // in error, then the forced reset; on Pivard the port error the worker
  // finds and recovers. True when the adapter came back.
  static bool driverReset(End& e, Start how) {
    if (how == Start::Forced) {
      __atomic_store_n(&e.a->hw_error, 1, __ATOMIC_RELEASE);
      __atomic_store_n(&e.a->fw_timeout, 1, __ATOMIC_RELEASE);
      vmk_MMIOWrite32((vmk_VA)e.a->pcicfg_va + 0x5C, 0x80u);  // soft reset
      return tamsil_reset(e.a, 1) == VMK_OK;
    }
    e.card->injectPivardError(true);
    tamsil_detectDumpUe(e.a);
    return !tamsil_flagTest(e.a, TAMSIL_FLAG_PIVARD_RECOVERY) && __atomic_load_n(&e.a->hw_error, __ATOMIC_ACQUIRE) == 0;
  }
  static bool ioStarted(End& e) { return __atomic_load_n(&e.a->io_started, __ATOMIC_ACQUIRE) != 0; }

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

  // No transmit ring of `e` owes a packet once the completions are in.
  static void ringsEmpty(End& e) {
    for (vmk_uint32 q = 0; q < e.a->num_tx_queues && q < TAMSIL_MAX_VECTORS; ++q) {
      tamsil_txo& txo = e.a->txo[q];
      if (!txo.q.created) continue;
      SCOPED_TRACE("txo " + std::to_string(q));
      EXPECT_TRUE(vmktest::waitFor([&] { return vmk_AtomicRead64(&txo.q.used) == 0; }));
      size_t records = 0;
      for (const tamsil_txPending& p : txo.pending) records += (p.sent != nullptr || p.caller != nullptr) ? 1 : 0;
      EXPECT_EQ(0u, records) << "pending records on an idle ring";
    }
  }

};

// The kernel's quiesce, held inside (at its transmit-queue stop, or at its
// interrupt sync), when the driver starts a reset: the reset waits for the
// quiesce to finish instead of taking the interrupts and the control path
// away under it, finds I/O down and leaves it so; the kernel starts I/O
// again and traffic flows. Nothing fails, nothing is left alive.
TEST_F(ResetRaceTest, ADriverResetWaitsForTheKernelsQuiesceUnderWay) {
  for (const Way& w : kWays) {
    for (const char* at : {"vmk_UplinkQueueStop", "vmk_IntrSync"}) {
      SCOPED_TRACE(std::string(w.what) + ", quiesce held at " + at);
      join(w.gen);
      End& e = resetting();
      ASSERT_TRUE(e.a->msix_enabled) << "the interrupt sync is the MSI-X path's";
      Hold hold(at);
      std::atomic<VMK_ReturnStatus> quiesced{VMK_FAILURE};
      std::thread kernel([&] {
        tMarked = true;
        quiesced = e.ops().uplinkQuiesceIO(e.cookie);
      });
      ASSERT_TRUE(hold.waitHeld());
      std::atomic<bool> resetDone{false}, resetOk{false};
      std::thread driver([&] {
        resetOk = driverReset(e, w.start);
        resetDone = true;
      });
      // The reset either waits for the quiesce (at reset_lock) or, wrongly,
      // runs to its end under it.
      EXPECT_TRUE(vmktest::waitFor([&] { return resetDone || vmktest::semaWaiters(e.a->reset_lock) > 0; }, 20000));
      EXPECT_FALSE(resetDone) << "the reset ran under the kernel's quiesce";
      hold.release();
      kernel.join();
      driver.join();
      EXPECT_EQ(VMK_OK, quiesced.load());
      EXPECT_TRUE(resetOk) << "the reset failed";
      EXPECT_EQ(1u, e.a->reset_count);
      // The kernel stopped I/O: the reset leaves it stopped.
      EXPECT_TRUE(tamsil_flagTest(e.a, TAMSIL_FLAG_IO_QUIESCED));
      EXPECT_EQ(0u, __atomic_load_n(&e.a->io_started, __ATOMIC_ACQUIRE));
      ASSERT_EQ(VMK_OK, e.ops().uplinkStartIO(e.cookie));
      ASSERT_TRUE(waitPosted(e, 64, true));
      bothWays(10);
      ringsEmpty(e);
      TearDown();
      SetUp();
    }
  }
}

// A transmit the kernel made is inside the ring (its packet's entries half
// written) when the driver starts a reset: the reset does not drain, free or
// rebuild the ring under it. It waits; the transmit ends, the reset goes on,
// and the rebuilt ring owes nothing: frames leave the reset end again in
// every slot.
TEST_F(ResetRaceTest, ADriverResetWaitsForATransmitInsideTheRing) {
  for (const Way& w : kWays) {
    SCOPED_TRACE(w.what);
    join(w.gen);
    End& e = resetting();
    const netframes::Mac src = e.mac(), dst = ends_[1].mac();
    const vmk_uint32 queue = defaultTxQueue(e);
    Hold inRing("vmk_DMAMapElem");
    std::atomic<bool> sent{false};
    std::thread kernel([&] {
      tMarked = true;
      std::vector<Send> sends;
      for (int i = 0; i < 4; ++i) {
        Send s{"udp", {}, true, 0, -1};
        s.spec.proto = 17;
        s.spec.payload = netframes::pattern(400, static_cast<uint8_t>(i));
        sends.push_back(s);
      }
      const VMK_ReturnStatus st = offer(e, queue, src, dst, sends);
      sent = st == VMK_OK || st == VMK_BUSY;
    });
    ASSERT_TRUE(inRing.waitHeld());
    // Past its drain the reset frees the rings: had it gone on, the
    // transmit is let finish there, as it would on a machine.
    std::atomic<bool> passed{false};
    vmktest::onCall("vmk_PCIFreeIntrCookies", [&] {
      if (!inRing.held()) return;
      passed = true;
      inRing.release();
      vmktest::waitFor([&] { return !inRing.held(); });
    });
    std::atomic<bool> resetDone{false}, resetOk{false};
    std::thread driver([&] {
      resetOk = driverReset(e, w.start);
      resetDone = true;
    });
    EXPECT_TRUE(vmktest::waitFor(
        [&] { return resetDone || passed || __atomic_load_n(&e.a->tx_closed, __ATOMIC_SEQ_CST) != 0; }, 20000));
    EXPECT_FALSE(passed) << "the reset went past a transmit inside the ring";
    inRing.release();
    kernel.join();
    driver.join();
    vmktest::onCall("vmk_PCIFreeIntrCookies", {});
    EXPECT_TRUE(sent);
    EXPECT_TRUE(resetOk) << "the reset failed";
    EXPECT_EQ(1u, e.a->reset_count);
    ASSERT_TRUE(ioStarted(e));
    ASSERT_TRUE(waitPosted(ends_[1], 64, true));
    ringsEmpty(e);
    // Every slot of the rebuilt ring takes a packet again (a record left
    // behind stops the machine when its slot comes round).
    for (int round = 0; round < 4; ++round) crosses(e, ends_[1], static_cast<uint8_t>(20 + round));
    crosses(ends_[1], e, 200);
    TearDown();
    SetUp();
  }
}

// Streams in both directions while the driver resets one end three times:
// frames keep leaving the resetting end right up to each reset and after it.
// The rings come back clean each time and nothing leaks.
TEST_F(ResetRaceTest, DriverResetsUnderTrafficLeavingTheResetEnd) {
  for (const Way& w : kWays) {
    SCOPED_TRACE(w.what);
    join(w.gen);
    End& e = resetting();
    bothWays(1);
    startStream(e, ends_[1]);
    startStream(ends_[1], e);
    for (vmk_uint32 n = 1; n <= 3; ++n) {
      SCOPED_TRACE("reset " + std::to_string(n));
      // A stream frame went out before the reset, and after the one before.
      const vmk_uint64 before = __atomic_load_n(&e.a->txo[0].tx_pkts, __ATOMIC_RELAXED);
      ASSERT_TRUE(vmktest::waitFor([&] { return __atomic_load_n(&e.a->txo[0].tx_pkts, __ATOMIC_RELAXED) != before; }));
      ASSERT_TRUE(driverReset(e, w.start));
      EXPECT_EQ(n, e.a->reset_count);
      ASSERT_TRUE(ioStarted(e));
    }
    stopStreams();
    ASSERT_TRUE(waitPosted(e, 64, true));
    bothWays(50);
    TearDown();
    SetUp();
  }
}

}  // namespace

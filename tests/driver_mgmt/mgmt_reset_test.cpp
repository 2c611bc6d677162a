// Management requests that meet an adapter reset: the kernel's uplink reset
// and Pivard's error reset (which leaves the device running, so only the
// reset's own door keeps requests out). Requests that arrive during the
// reset are refused as busy and change nothing; one already inside finishes
// before the reset takes anything down; afterwards requests are served, and
// after a reset that stopped they stay refused until the detach.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mgmt_fixture.h"

namespace {

using adapter::Gen;
using Client = vmktest::MgmtClient;

thread_local bool resetThread = false;

// Both resets on Pivard, whose callback 33 gives a request that can be held
// inside the driver (in a configuration read).
struct ResetKind {
  const char* what;
  bool pivardError;   // AdapterFlags bit 7: Pivard's error reset
};
const ResetKind kResets[] = {{"kernel uplink reset", false}, {"Pivard error reset", true}};

class MgmtResetTest : public MgmtTest {
 protected:
  void up(const ResetKind& k) {
    ASSERT_NE(nullptr, upOne(Gen::Pivard, "tpe_recovery=1"));
    // The kernel's reset leaves an adapter alone whose I/O it stopped.
    ASSERT_EQ(VMK_OK, ops().uplinkStartIO(cookie()));
    if (k.pivardError) vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
  }
  const vmk_UplinkOps& ops() const { return regDataOf(uplinks_[0].child)->ops; }
  vmk_AddrCookie cookie() const {
    vmk_AddrCookie c;
    c.ptr = a_;
    return c;
  }
  VMK_ReturnStatus reset(const ResetKind& k) {
    if (k.pivardError) return tamsil_reset(a_, 0);
    return vmktest::uplinkReset(regDataOf(uplinks_[0].child), uplinks_[0].uplink);
  }
  // Function resets of any kind the card has seen: the command, Pivard's
  // port reset, the chip's soft reset.
  unsigned functionResets() const {
    const adapter::FnCounters c = card_->counters(0);
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().commandsSeen(1, 61) + c.port_resets + c.soft_resets;
  }
  unsigned fwCommands() const {
    const adapter::FnCounters c = card_->counters(0);
    return c.mailbox_commands + c.mcc_commands;
  }
  static VMK_ReturnStatus key(const char* name, std::string* value) { return vmktest::mgmtKeyGet("vmnic1", name, value); }
  static VMK_ReturnStatus setKey(const char* name, const char* value) {
    return vmktest::mgmtKeySet("vmnic1", name, value);
  }

  // Callbacks and keys of both kinds (reads, and writes of Adapter fields)
  // are refused as busy, and neither their buffers, the Adapter nor the
  // firmware see anything of them.
  void expectRefused() {
    const unsigned commands = fwCommands();
    const vmk_uint32 mask = a_->debug_mask;
    const vmk_uint16 load = a_->tpe_min_after_load, between = a_->tpe_min_between;
    struct Call {
      uint64_t id;
      uint32_t op;
      bool cleared;   // the statistics text goes back whole, all zero
    } calls[] = {{TAMSIL_MGMT_PRIV_STATS, 0, true},
                 {TAMSIL_MGMT_DRV_INFO, 0, false},
                 {TAMSIL_MGMT_DRIVER_INFO, 0, false},
                 {TAMSIL_MGMT_DEBUG_MASK, 0, false},
                 {TAMSIL_MGMT_DEBUG_MASK, TAMSIL_MGMT_DEBUG_MASK_SET, false},
                 {TAMSIL_MGMT_STATS, 0, false},
                 {TAMSIL_MGMT_PIVARD_CFG, 0, false}};
    for (const Call& c : calls) {
      SCOPED_TRACE(c.id);
      std::vector<uint8_t> b = param(c.id);
      if (c.id == TAMSIL_MGMT_PIVARD_CFG) {
        Client::put32(b, 0, 0);
        Client::put32(b, 4, 4);
      }
      const std::vector<uint8_t> sent = b;
      const auto r = call(c.id, a_, &b, c.op, static_cast<uint32_t>(b.size()));
      EXPECT_EQ(VMK_BUSY, r.result);
      EXPECT_EQ(0u, r.status) << "the function was found";
      if (c.cleared)
        EXPECT_TRUE(zeroed(b, 0, b.size()));
      else
        EXPECT_TRUE(sent == b) << "the buffer was written";
    }
    for (const char* k : {"Q_IDs", "TpeTsDrvrLoad", "TpeTsLastRecovery", "TpeRecoverySummary"}) {
      SCOPED_TRACE(k);
      std::string v = "untouched";
      EXPECT_EQ(VMK_BUSY, key(k, &v));
      EXPECT_EQ("", v);
    }
    EXPECT_EQ(VMK_BUSY, setKey("TpeTsDrvrLoad", "10"));
    EXPECT_EQ(VMK_BUSY, setKey("TpeTsLastRecovery", "10"));
    EXPECT_EQ(mask, a_->debug_mask);
    EXPECT_EQ(load, a_->tpe_min_after_load);
    EXPECT_EQ(between, a_->tpe_min_between);
    EXPECT_EQ(commands, fwCommands());
  }

  // Both surfaces serve the function, reads and writes.
  void expectServed() {
    std::vector<uint8_t> b = param(TAMSIL_MGMT_DRIVER_INFO);
    ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_DRIVER_INFO, a_, &b).result);
    EXPECT_EQ(std::string(a_->uplink_reg.driver_name), Client::text(b, 0, 32));
    std::vector<uint8_t> m(4);
    Client::put32(m, 0, 0x12);
    ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_DEBUG_MASK, a_, &m, TAMSIL_MGMT_DEBUG_MASK_SET).result);
    EXPECT_EQ(0x12u, a_->debug_mask);
    std::string v;
    EXPECT_EQ(VMK_OK, key("Q_IDs", &v));
    EXPECT_NE("", v);
    EXPECT_EQ(VMK_OK, setKey("TpeTsDrvrLoad", "10"));
    EXPECT_EQ(10, a_->tpe_min_after_load);
    EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));
  }
};

// A request held inside (in a configuration read of callback 33) when the
// reset starts: the reset closes the door, then waits for it; held there,
// it has not reset the function, closed the mailbox or freed the
// interrupts. Requests meanwhile are
// refused. Released, the held request reads its bytes from a live function
// and the reset completes; then requests are served again.
TEST_F(MgmtResetTest, RequestsDuringAResetAreRefusedAndOneInsideFinishesFirst) {
  for (const ResetKind& k : kResets) {
    SCOPED_TRACE(k.what);
    ASSERT_NO_FATAL_FAILURE(up(k));
    const std::string name = a_->pci_name;
    const vmk_uint32 resetsBefore = a_->reset_count;
    std::atomic<bool> resetWaits{false}, left{false};
    // A sleep of the reset behind its closed door, once I/O is down (its
    // interrupt handlers gone), outside any firmware command (whose waits
    // sleep too), with a request inside is its wait for that request: it is
    // held there until the request left, so the test can look at what the
    // reset has done so far.
    Adapter* const a = a_;
    vmktest::onCall("vmk_WorldSleep", [&] {
      if (!resetThread || __atomic_load_n(&a->mgmt_gate_closed, __ATOMIC_SEQ_CST) == 0 ||
          vmk_AtomicRead64(&a->mgmt_in_flight) == 0 || vmk_AtomicRead64(&a->mcc_users) != 0 ||
          vmktest::live().intrRegistrations != 0)
        return;
      resetWaits = true;
      while (!left) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });

    ASSERT_TRUE(holdConfigRead(name));
    const unsigned resets = functionResets();
    const vmktest::Live before = vmktest::live();

    VMK_ReturnStatus resetResult = VMK_FAILURE;
    std::thread resetter([&] {
      resetThread = true;
      resetResult = reset(k);
    });
    EXPECT_TRUE(vmktest::waitFor([&] { return resetWaits.load(); })) << "the reset did not wait";
    EXPECT_NO_FATAL_FAILURE(expectRefused());
    EXPECT_EQ(1u, vmk_AtomicRead64(&a_->mgmt_in_flight));
    EXPECT_EQ(resets, functionResets()) << "the function was reset under the request";
    EXPECT_FALSE(a_->mbox_closed);
    EXPECT_EQ(before.intrCookies, vmktest::live().intrCookies) << "interrupts went under the request";

    EXPECT_EQ(VMK_OK, releaseHeld());
    left = true;
    resetter.join();
    vmktest::onCall("vmk_WorldSleep", nullptr);
    EXPECT_EQ(card_->function(0)->configRead(0, 4), Client::get32(held_, 8));
    EXPECT_EQ(VMK_OK, resetResult);
    EXPECT_EQ(resetsBefore + 1, a_->reset_count);
    EXPECT_LT(resets, functionResets());
    if (k.pivardError) vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
    EXPECT_NO_FATAL_FAILURE(expectServed());
    EXPECT_EQ(VMK_OK, ops().uplinkQuiesceIO(cookie()));
    TearDown();
    SetUp();
  }
}

// A reset that stopped half-way (no interrupt vectors) leaves the door
// shut: what a request would use is not there. The detach still waits for
// nothing, frees everything and takes the function out of the channel.
TEST_F(MgmtResetTest, AfterAStoppedResetRequestsAreRefusedAndDetachIsClean) {
  for (const ResetKind& k : kResets) {
    SCOPED_TRACE(k.what);
    ASSERT_NO_FATAL_FAILURE(up(k));
    const std::string name = a_->pci_name;
    vmktest::failCall("vmk_PCIAllocIntrCookie", 1, VMK_FAILURE, true);
    EXPECT_EQ(VMK_FAILURE, reset(k));
    vmktest::clearFailures();
    EXPECT_NO_FATAL_FAILURE(expectRefused());
    EXPECT_EQ(0u, vmk_AtomicRead64(&a_->mgmt_in_flight));

    const Uplink u = uplinks_[0];
    vmktest::netPollDrain();
    vmktest::uplinkDisassociate(regDataOf(u.child), u.uplink);
    vmktest::removeDevice(u.child);
    forget(u.dev);
    EXPECT_EQ(VMK_OK, vmktest::detachDevice(u.dev));
    std::vector<uint8_t> b = param(TAMSIL_MGMT_DRIVER_INFO);
    const auto r = client_.call(TAMSIL_MGMT_DRIVER_INFO, name, &b);
    EXPECT_EQ(VMK_NOT_FOUND, r.result);
    EXPECT_EQ(uint32_t{VMK_NOT_FOUND}, r.status);
    // TearDown: nothing left alive, no device write to unmapped memory.
    TearDown();
    SetUp();
  }
}

}  // namespace

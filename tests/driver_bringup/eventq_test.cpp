// Event queue drain, interrupt handler, acknowledge callback and the NetPoll
// budget rules, checked on a bare Adapter record against the doorbell
// register of an emulated function.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "adapter.h"
#include "tamsil_bringup.h"
#include "vmk_testing.h"

namespace {

constexpr vmk_uint32 kClear = 1u << 9, kEq = 1u << 10, kArm = 1u << 29;
constexpr vmk_uint16 kEqId = 5;

class EventQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vmktest::reset();
    adapter::AdapterConfig cfg;
    cfg.fw.gen = adapter::Gen::KS3;
    card_ = std::make_unique<adapter::Adapter>(cfg);
    dev_ = vmktest::plugPciFunction(card_->function(0));
    vmk_AddrCookie reg;
    ASSERT_EQ(VMK_OK, vmk_DeviceGetRegistrationData(dev_, &reg));
    pci_ = static_cast<vmk_PCIDevice>(reg.ptr);
    vmk_VA db = 0;
    ASSERT_EQ(VMK_OK, vmk_PCIMapIOResource(0, pci_, 4, nullptr, &db));
    a_ = new Adapter();
    memset(a_, 0, sizeof *a_);
    a_->db_va = (void*)db;
    for (vmk_uint32 i = 0; i < 2; i++) {
      ring_[i].assign(TAMSIL_EQ_LEN, 0);
      QueueInfo& q = a_->eqo[i].q;
      q.mem.va = ring_[i].data();
      q.len = TAMSIL_EQ_LEN;
      q.entry_size = TAMSIL_EQE_SIZE;
      q.id = (vmk_uint16)(kEqId + i);
      q.created = 1;
      a_->rxo[i].adapter = a_;
      a_->rxo[i].idx = i;
      a_->netpoll[i].adapter = a_;
      a_->netpoll[i].rxo = &a_->rxo[i];
    }
    resetDoorbell();
  }
  void TearDown() override {
    vmk_PCIUnmapIOResource(0, pci_, 4);
    vmktest::unplugPciFunction(dev_);
    delete a_;
  }
  // A doorbell word of 0 (completion queue 0, nothing popped, no re-arm) marks
  // "nothing written since".
  void resetDoorbell() {
    const vmk_uint8 err = a_->hw_error;
    a_->hw_error = 0;
    tamsil_cqNotify(a_, 0, false, 0);
    a_->hw_error = err;
    ASSERT_EQ(0u, doorbell());
  }
  vmk_uint32 doorbell() { return card_->counters(0).last_eq_cq_doorbell; }
  void post(vmk_uint32 ring, vmk_uint16 from, unsigned n) {
    for (unsigned k = 0; k < n; k++) ring_[ring][(from + k) % TAMSIL_EQ_LEN] = 0x1000u + k;
  }

  std::unique_ptr<adapter::Adapter> card_;
  vmk_Device dev_ = nullptr;
  vmk_PCIDevice pci_ = nullptr;
  Adapter* a_ = nullptr;
  std::vector<vmk_uint32> ring_[2];
};

TEST_F(EventQueueTest, DrainConsumesZeroesAndTellsTheAdapterOnce) {
  struct Row {
    const char* name;
    vmk_uint16 tail;
    unsigned pending;
    bool arm, hwError;
    vmk_uint16 tailAfter;
    vmk_uint32 events;
    vmk_uint32 word;
  };
  const Row rows[] = {
      {"Empty", 0, 0, false, false, 0, 0, 0},
      {"Three", 0, 3, false, false, 3, 3, kEqId | kClear | kEq | (3u << 16)},
      {"ThreeArmed", 0, 3, true, false, 3, 3, kEqId | kClear | kEq | (3u << 16) | kArm},
      {"WrapsAtTheRingEnd", 1022, 4, false, false, 2, 4, kEqId | kClear | kEq | (4u << 16)},
      {"WholeRingMinusOne", 0, 1023, false, false, 1023, 1023, kEqId | kClear | kEq | (1023u << 16)},
      {"HardwareError", 0, 3, false, true, 0, 0, 0},
  };
  for (const Row& r : rows) {
    std::fill(ring_[0].begin(), ring_[0].end(), 0u);
    a_->eqo[0].q.tail = r.tail;
    a_->eqo[0].event_count = 0;
    a_->hw_error = 0;
    resetDoorbell();
    post(0, r.tail, r.pending);
    a_->hw_error = r.hwError;
    EXPECT_EQ(r.pending != 0, tamsil_eventPeek(&a_->eqo[0].q)) << r.name;
    tamsil_eqClean(a_, &a_->eqo[0], r.arm);
    EXPECT_EQ(r.tailAfter, a_->eqo[0].q.tail) << r.name;
    EXPECT_EQ(r.events, a_->eqo[0].event_count) << r.name;
    EXPECT_EQ(r.word, doorbell()) << r.name;
    size_t left = 0;
    for (vmk_uint32 v : ring_[0]) left += v != 0;
    EXPECT_EQ(r.hwError ? r.pending : 0u, left) << r.name;
  }
}

TEST_F(EventQueueTest, HandlerAndAcknowledgeByInterruptKind) {
  struct Row {
    const char* name;
    vmk_uint8 msix, hwError;
    vmk_uint32 ackWord;   // doorbell after the acknowledge callback
    vmk_uint32 isrWord;   // doorbell after the handler
  };
  const vmk_uint32 clearOnly = kEqId | kClear | kEq;
  const Row rows[] = {
      {"Msix", 1, 0, 0, clearOnly},
      {"Intx", 0, 0, clearOnly, clearOnly},
      {"MsixInError", 1, 1, 0, 0},
      {"IntxInError", 0, 1, 0, 0},
  };
  for (const Row& r : rows) {
    a_->msix_enabled = r.msix;
    a_->hw_error = 0;
    resetDoorbell();
    a_->hw_error = r.hwError;
    a_->eqo[0].int_count = a_->eqo[0].int_ack_count = 0;
    EXPECT_EQ(VMK_OK, tamsil_intAck(&a_->rxo[0], 0)) << r.name;
    EXPECT_EQ(1u, a_->eqo[0].int_ack_count) << r.name;
    EXPECT_EQ(r.ackWord, doorbell()) << r.name;
    a_->hw_error = 0;
    resetDoorbell();
    a_->hw_error = r.hwError;
    tamsil_isr(&a_->rxo[0], 0);
    EXPECT_EQ(1u, a_->eqo[0].int_count) << r.name;
    EXPECT_EQ(r.isrWord, doorbell()) << r.name;
    // Neither re-arms the queue.
    EXPECT_EQ(0u, doorbell() & kArm) << r.name;
  }
}

TEST_F(EventQueueTest, NetPollPollsAgainOnlyAtBudgetWithIoStarted) {
  // Vector 1: no firmware completions are drained there. The receive path
  // processes nothing yet, so a budget of 0 is what "budget used up" means.
  struct Row {
    const char* name;
    vmk_uint32 budget;
    vmk_uint64 ioStarted;
    vmk_uint8 hwError;
    unsigned pending;
    vmk_Bool again;
    vmk_uint32 word;   // last doorbell written
  };
  const vmk_uint16 id = kEqId + 1;
  const Row rows[] = {
      {"BudgetUsedIoStarted", 0, 1, 0, 0, VMK_TRUE, 0},
      {"BudgetUsedIoStartedDrainsTwice", 0, 1, 0, 2, VMK_TRUE, id | kClear | kEq | (2u << 16)},
      {"UnderBudget", 64, 1, 0, 0, VMK_FALSE, id | kEq | kArm},
      {"UnderBudgetAfterEvents", 64, 1, 0, 2, VMK_FALSE, id | kEq | kArm},
      {"IoNotStarted", 0, 0, 0, 0, VMK_FALSE, id | kEq | kArm},
      {"HardwareError", 64, 1, 1, 2, VMK_FALSE, 0},
  };
  for (const Row& r : rows) {
    std::fill(ring_[1].begin(), ring_[1].end(), 0u);
    a_->eqo[1].q.tail = 0;
    a_->eqo[1].event_count = 0;
    a_->hw_error = 0;
    resetDoorbell();
    post(1, 0, r.pending);
    a_->io_started = r.ioStarted;
    a_->hw_error = r.hwError;
    EXPECT_EQ(r.again, tamsil_netPollCB(&a_->netpoll[1], r.budget)) << r.name;
    EXPECT_EQ(r.word, doorbell()) << r.name;
    EXPECT_EQ(r.hwError ? 0u : r.pending, a_->eqo[1].event_count) << r.name;
    EXPECT_EQ(0u, a_->eqo[0].event_count) << r.name;   // only its own queue
  }
}

}  // namespace

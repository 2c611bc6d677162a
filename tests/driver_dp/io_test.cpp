// I/O start and quiesce, the transmit queue state towards the kernel, and
// the wiring of the data path into the uplink's operation tables.
#include "dp_fixture.h"

namespace {

TEST_F(DpTest, NetDumpCapabilityCarriesThePanicOperations) {
  associate(adapter::Gen::KS3);
  EXPECT_EQ(static_cast<const void*>(&tamsilNetDumpOps), vmktest::uplinkCapOps(uplink_, 20));
}

TEST_F(DpTest, TxQueueStopAndStartReachTheKernel) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    associate(g);
    const vmk_uint32 value = a_->queue_info.maxRxQueues;  // first transmit queue
    const vmk_uint32 before = a_->shared_data.lockedCount;
    tamsil_stopTxQueue(a_, 0, 0);
    EXPECT_TRUE(tamsil_isTxQueueStopped(a_, 0));
    EXPECT_EQ(0, vmktest::uplinkQueueState(uplink_, value));
    EXPECT_EQ(1u, vmktest::uplinkQueueStops(uplink_, value));
    EXPECT_EQ(before + 1, a_->shared_data.lockedCount);
    EXPECT_EQ(a_->shared_data.lockedCount, a_->shared_data.unlockedCount);
    // A queue neither allocated nor default is not started.
    const vmk_uint32 flags = a_->txo[0].qdata->flags;
    a_->txo[0].qdata->flags = 0;
    tamsil_startTxQueue(a_, 0, 0);
    EXPECT_TRUE(tamsil_isTxQueueStopped(a_, 0));
    EXPECT_EQ(0, vmktest::uplinkQueueState(uplink_, value));
    a_->txo[0].qdata->flags = flags | TAMSIL_QDATA_ALLOCATED;
    tamsil_startTxQueue(a_, 0, 0);
    EXPECT_FALSE(tamsil_isTxQueueStopped(a_, 0));
    EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, value));
    TearDown();
    SetUp();
  }
}

}  // namespace

namespace {

constexpr uint8_t kNic = 3, kRxqCreate = 8;

// A start that fails creating the receive queues leaves nothing behind; on
// Pivard that includes the receive completion queues it created first.
TEST_F(DpTest, StartFailingAtReceiveQueuesLeavesNothing) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    associate(g);
    const size_t cqs = card_->engine().countLive(adapter::ObjKind::Cq);
    const long heap = vmktest::live().heapBlocks;
    card_->engine().setFault(kNic, kRxqCreate, {.status = 3});
    EXPECT_EQ(VMK_FAILURE, startIO());
    EXPECT_FALSE(ioStarted());
    EXPECT_TRUE(ioQuiesced());
    EXPECT_EQ(cqs, card_->engine().countLive(adapter::ObjKind::Cq));
    EXPECT_EQ(0u, card_->engine().countLive(adapter::ObjKind::RxQueue));
    EXPECT_EQ(heap, vmktest::live().heapBlocks);
    EXPECT_EQ(1u, logged("tamsil driver: Failed to create Rx queues"));
    card_->engine().clearFaults();
    TearDown();
    SetUp();
  }
}

TEST_F(DpTest, QuiesceWhileQuiescedTouchesNothing) {
  associate(adapter::Gen::KS3);
  ASSERT_TRUE(ioQuiesced());
  const size_t lines = logged("IO is already quiesced, Skipping ..");
  const unsigned link = card_->engine().commandsSeen(1, 80);
  EXPECT_EQ(VMK_OK, quiesceIO());
  EXPECT_EQ(link, card_->engine().commandsSeen(1, 80));
  EXPECT_EQ(0u, vmktest::uplinkLinkReports(uplink_));
  EXPECT_EQ(lines + 1, logged("IO is already quiesced, Skipping .."));
}

TEST_F(DpTest, QuiesceRefusedWhileTheRdmaModuleIsLoaded) {
  associate(adapter::Gen::KS3);
  vmktest::setModulePresent("pondrel", true);
  EXPECT_EQ(VMK_FAILURE, quiesceIO());
  EXPECT_EQ(1u, logged("Cannot unload tamsil module when pondrel module is loaded"));
  // The driver's own quiesce is not refused.
  a_->internal_quiesce = 1;
  EXPECT_EQ(VMK_OK, quiesceIO());
  EXPECT_EQ(0, a_->internal_quiesce);
  vmktest::setModulePresent("pondrel", false);
}

}  // namespace

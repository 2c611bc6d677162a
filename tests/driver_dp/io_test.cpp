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

// The worker's tick (starving rings, statistics, the deferred link report,
// the transceiver check) and the transmit queues following the link.
#include <atomic>
#include <chrono>
#include <thread>

#include "dp_fixture.h"

namespace {

class WorkerTest : public DpTest {
 protected:
  // Associates and starts I/O; false when this build has no receive rings
  // yet (the receive path answers "not supported").
  bool started(adapter::Gen g) {
    startDevice_ = true;
    associate(g);
    if (HasFatalFailure()) return false;
    if (startIO() == VMK_OK) return true;
    EXPECT_NE(0u, logged("Receive rings are not supported by this build"));
    return false;
  }
  vmk_uint32 defaultTx() const { return a_->queue_info.maxRxQueues; }
  // Ends the worker world (detach takes no world that is gone), so that the
  // test runs the ticks itself, alone.
  void stopWorker() {
    vmk_WorldDestroy(a_->worker_world);
    vmk_WorldWaitForDeath(a_->worker_world);
    a_->worker_world = VMK_INVALID_WORLD_ID;
  }
  // The first ring's NetPoll also makes the deferred link report after its
  // drain: a late completion must not run it while a test runs ticks by hand.
  void holdPolls() {
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
      if (a_->netpoll[i].netpoll != nullptr) {
        ASSERT_EQ(VMK_OK, vmk_NetPollDisable(a_->netpoll[i].netpoll));
      }
  }
  void releasePolls() {
    for (vmk_uint32 i = 0; i < a_->num_vectors; i++)
      if (a_->netpoll[i].netpoll != nullptr) {
        EXPECT_EQ(VMK_OK, vmk_NetPollEnable(a_->netpoll[i].netpoll));
      }
  }
  void startWorker() {
    vmk_WorldProps wp{};
    wp.moduleID = tamsilDriver.module_id;
    wp.name = "tamsil_workerThread";
    wp.startFunction = tamsil_workerThread;
    wp.data = a_;
    wp.schedClass = VMK_WORLD_SCHED_CLASS_QUICK;
    wp.heapID = tamsilDriver.heap_id;
    ASSERT_EQ(VMK_OK, vmk_WorldCreate(&wp, &a_->worker_world));
  }
};

// A link event arrives in the completion drain; the kernel hears of it and
// the transmit queues stop or start only from the deferred report.
TEST_F(WorkerTest, LinkChangeStopsAndStartsTransmitQueues) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    if (!started(g)) GTEST_SKIP() << "receive rings are not built";
    const vmk_uint32 q = defaultTx();
    // The link the start brought up is reported and the queue started first.
    ASSERT_TRUE(vmktest::waitFor([&] { return vmktest::uplinkQueueState(uplink_, q) == 1; }));
    ASSERT_TRUE(vmktest::waitFor(
        [&] { return __atomic_load_n(&a_->link_tx_pending, __ATOMIC_ACQUIRE) == TAMSIL_LINK_TX_NONE; }));
    const unsigned stops = vmktest::uplinkQueueStops(uplink_, q);
    ASSERT_TRUE(card_->injectAsyncEvent(0, adapter::linkStateEvent(0, false, true, 0, 0, 0)));
    EXPECT_TRUE(vmktest::waitFor([&] { return vmktest::uplinkQueueState(uplink_, q) == 0; }));
    EXPECT_TRUE(vmktest::waitFor(
        [&] { return vmktest::uplinkLinkState(uplink_).state == (vmk_uint32)VMK_LINK_STATE_DOWN; }));
    EXPECT_EQ(stops + 1, vmktest::uplinkQueueStops(uplink_, q));
    EXPECT_TRUE(tamsil_isTxQueueStopped(a_, 0));
    ASSERT_TRUE(card_->injectAsyncEvent(0, adapter::linkStateEvent(0, true, true, 4, 0, 0)));
    EXPECT_TRUE(vmktest::waitFor([&] { return vmktest::uplinkQueueState(uplink_, q) == 1; }));
    EXPECT_TRUE(
        vmktest::waitFor([&] { return vmktest::uplinkLinkState(uplink_).state == (vmk_uint32)VMK_LINK_STATE_UP; }));
    EXPECT_FALSE(tamsil_isTxQueueStopped(a_, 0));
    EXPECT_EQ(TAMSIL_LINK_TX_NONE, __atomic_load_n(&a_->link_tx_pending, __ATOMIC_ACQUIRE));
    TearDown();
    SetUp();
  }
}

TEST_F(WorkerTest, LinkChangeReportWaitsForTheTick) {
  if (!started(adapter::Gen::KS3)) GTEST_SKIP() << "receive rings are not built";
  const vmk_uint32 q = defaultTx();
  // The link the start brought up is reported and the queue started first.
  ASSERT_TRUE(vmktest::waitFor([&] { return vmktest::uplinkQueueState(uplink_, q) == 1; }));
  ASSERT_TRUE(vmktest::waitFor([&] { return __atomic_load_n(&a_->link_tx_pending, __ATOMIC_ACQUIRE) == TAMSIL_LINK_TX_NONE; }));
  const unsigned reports = vmktest::uplinkLinkReports(uplink_);
  stopWorker();
  holdPolls();
  a_->link.link_up = 0;
  tamsil_linkStatusUpdate(a_);
  // Published, nothing told to the kernel yet.
  EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_DOWN, a_->shared_data.link.state);
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, q));
  EXPECT_EQ(reports, vmktest::uplinkLinkReports(uplink_));
  EXPECT_EQ(TAMSIL_LINK_TX_STOP, __atomic_load_n(&a_->link_tx_pending, __ATOMIC_ACQUIRE));
  EXPECT_TRUE(tamsil_flagTest(a_, TAMSIL_FLAG_LINK_UPDATE));
  tamsil_workerTick(a_);
  EXPECT_EQ(0, vmktest::uplinkQueueState(uplink_, q));
  EXPECT_EQ(reports + 1, vmktest::uplinkLinkReports(uplink_));
  EXPECT_EQ((vmk_uint32)VMK_LINK_STATE_DOWN, vmktest::uplinkLinkState(uplink_).state);
  EXPECT_FALSE(tamsil_flagTest(a_, TAMSIL_FLAG_LINK_UPDATE));
  // A speed change while up is reported but moves no queue.
  a_->link.link_up = 1;
  tamsil_linkStatusUpdate(a_);
  tamsil_workerTick(a_);
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, q));
  const unsigned stops = vmktest::uplinkQueueStops(uplink_, q);
  a_->link.link_speed = 1000;
  tamsil_linkStatusUpdate(a_);
  EXPECT_EQ(TAMSIL_LINK_TX_NONE, __atomic_load_n(&a_->link_tx_pending, __ATOMIC_ACQUIRE));
  tamsil_workerTick(a_);
  EXPECT_EQ(1000u, vmktest::uplinkLinkState(uplink_).speed);
  EXPECT_EQ(stops, vmktest::uplinkQueueStops(uplink_, q));
  // A change pending when I/O is quiesced moves no queue.
  a_->link.link_up = 0;
  tamsil_linkStatusUpdate(a_);
  a_->io_started = 0;
  tamsil_workerTick(a_);
  EXPECT_EQ(1, vmktest::uplinkQueueState(uplink_, q));
  a_->io_started = 1;
  releasePolls();
}

TEST_F(WorkerTest, TickSteps) {
  if (!started(adapter::Gen::Pivard)) GTEST_SKIP() << "receive rings are not built";
  stopWorker();
  holdPolls();
  // Statistics: the ring counters are summed.
  a_->rxo[0].rx_pkts = 5;
  a_->rxo[1].rx_pkts = 7;
  a_->txo[0].tx_pkts = 3;
  // A starved ring is retried.
  a_->rxo[1].rx_post_starved = 1;
  vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_SFP_CHECK);
  const size_t starvedLines = logged("tamsil workerThread rx_post_starved:0x1");
  tamsil_workerTick(a_);
  EXPECT_EQ(12u, a_->rx_totals.rx_pkts);
  EXPECT_EQ(3u, a_->tx_totals.tx_pkts);
  EXPECT_EQ(0, a_->rxo[1].rx_post_starved);
  EXPECT_EQ(starvedLines + (debugMask & TAMSIL_DBG_WORKER ? 1 : 0), logged("tamsil workerThread rx_post_starved:0x1"));
  EXPECT_FALSE(tamsil_flagTest(a_, TAMSIL_FLAG_SFP_CHECK));

  // With the device quiesced the tick does nothing but error detection.
  vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_DEV_QUIESCED);
  vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_SFP_CHECK);
  vmk_BitVectorAtomicSet(a_->flags, TAMSIL_FLAG_LINK_UPDATE);
  a_->rxo[1].rx_post_starved = 1;
  a_->rxo[0].rx_pkts = 6;
  const unsigned reports = vmktest::uplinkLinkReports(uplink_);
  tamsil_workerTick(a_);
  EXPECT_EQ(1, a_->rxo[1].rx_post_starved);
  EXPECT_EQ(12u, a_->rx_totals.rx_pkts);
  EXPECT_TRUE(tamsil_flagTest(a_, TAMSIL_FLAG_SFP_CHECK));
  EXPECT_TRUE(tamsil_flagTest(a_, TAMSIL_FLAG_LINK_UPDATE));
  EXPECT_EQ(reports, vmktest::uplinkLinkReports(uplink_));
  vmk_BitVectorAtomicClear(a_->flags, TAMSIL_FLAG_DEV_QUIESCED);
  releasePolls();

  // With I/O quiesced starving rings are left alone; statistics go on.
  ASSERT_EQ(VMK_OK, quiesceIO());
  stopWorker();
  a_->rxo[1].rx_post_starved = 1;
  tamsil_workerTick(a_);
  EXPECT_EQ(1, a_->rxo[1].rx_post_starved);
  EXPECT_EQ(13u, a_->rx_totals.rx_pkts);
  a_->rxo[1].rx_post_starved = 0;
  for (vmk_uint32 i = 0; i < 2; i++) a_->rxo[i].rx_pkts = 0;
  a_->txo[0].tx_pkts = 0;
}

// The worker world runs the tick once a second of kernel time: started
// again over counters it has not summed, it sums them.
TEST_F(WorkerTest, WorldRunsTheTick) {
  if (!started(adapter::Gen::KS3)) GTEST_SKIP() << "receive rings are not built";
  stopWorker();
  a_->rxo[0].rx_pkts = 9;
  // The world waits for its next second after each tick: its first wait
  // (or a later one, should it run before its id is known here) follows a
  // tick, however late a loaded machine schedules it.
  std::atomic<vmk_WorldID> worker{VMK_INVALID_WORLD_ID};
  std::atomic<bool> ticked{false};
  vmktest::onCall("vmk_WorldWait", [&] {
    if (vmk_WorldGetID() == worker.load()) ticked = true;
  });
  startWorker();
  worker = a_->worker_world;
  EXPECT_TRUE(vmktest::waitFor([&] { return ticked.load(); }, 60000));
  vmktest::onCall("vmk_WorldWait", nullptr);
  stopWorker();
  EXPECT_EQ(9u, a_->rx_totals.rx_pkts);
  a_->rxo[0].rx_pkts = 0;
  startWorker();
}

// Quiesce does not destroy the rings while a refill of the worker runs: it
// waits the refill out (which, with I/O marked quiesced, starts no more).
TEST_F(WorkerTest, QuiesceWaitsForARefillUnderWay) {
  if (!started(adapter::Gen::KS3)) GTEST_SKIP() << "receive rings are not built";
  stopWorker();
  __atomic_store_n(&a_->worker_posting, 1u, __ATOMIC_SEQ_CST);   // a refill under way
  std::thread q([this] { EXPECT_EQ(VMK_OK, quiesceIO()); });
  EXPECT_FALSE(vmktest::waitFor(
      [&] { return card_->engine().countLive(adapter::ObjKind::RxQueue) == 0; }, 100));
  EXPECT_EQ(a_->num_vectors, card_->engine().countLive(adapter::ObjKind::RxQueue));
  __atomic_store_n(&a_->worker_posting, 0u, __ATOMIC_SEQ_CST);
  q.join();
  EXPECT_EQ(0u, card_->engine().countLive(adapter::ObjKind::RxQueue));
  startWorker();
}

}  // namespace

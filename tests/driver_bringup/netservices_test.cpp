// The network services of the kernel stand-in: NetPoll scheduling, uplink
// capabilities and link reports, SR-IOV enabling.
#include <gtest/gtest.h>

#include <atomic>

#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace {

struct PollState {
  std::atomic<int> runs{0};
  int again = 0;  // polls that ask to run again
};

vmk_Bool pollCb(void* priv, vmk_uint32 budget) {
  auto* s = static_cast<PollState*>(priv);
  EXPECT_EQ((vmk_uint32)VMK_NETPOLL_BUDGET, budget);
  int n = ++s->runs;
  return n <= s->again;
}

TEST(NetServices, NetPollRunsWhileItAsksAndIsAccounted) {
  vmktest::netReset();
  vmk_ServiceID net = 0;
  ASSERT_EQ(VMK_OK, vmk_ServiceGetID("net", &net));
  EXPECT_EQ(VMK_NOT_FOUND, vmk_ServiceGetID("storage", &net));
  ASSERT_EQ(VMK_OK, vmk_ServiceGetID("net", &net));
  PollState s;
  s.again = 3;
  vmk_NetPollProperties p{pollCb, &s};
  vmk_NetPoll np = nullptr;
  ASSERT_EQ(VMK_OK, vmk_NetPollCreate(&p, net, 0, &np));
  EXPECT_EQ(1, vmktest::netLive().netpolls);
  ASSERT_EQ(VMK_OK, vmk_NetPollActivate(np));
  vmktest::netPollDrain();
  EXPECT_EQ(4, s.runs.load());
  EXPECT_EQ(4u, vmktest::netPollRuns(np));
  // Disabled, an activation waits for the enable.
  ASSERT_EQ(VMK_OK, vmk_NetPollDisable(np));
  ASSERT_EQ(VMK_OK, vmk_NetPollActivate(np));
  vmktest::netPollDrain();
  EXPECT_EQ(4, s.runs.load());
  ASSERT_EQ(VMK_OK, vmk_NetPollFlushRx(np));
  ASSERT_EQ(VMK_OK, vmk_NetPollEnable(np));
  vmktest::netPollDrain();
  EXPECT_EQ(5, s.runs.load());
  ASSERT_EQ(VMK_OK, vmk_NetPollInterruptSet(np, 7));
  EXPECT_EQ(1, vmktest::netLive().netpollBindings);
  ASSERT_EQ(VMK_OK, vmk_NetPollDestroy(np));
  EXPECT_TRUE(vmktest::netLive().allZero()) << vmktest::netLive().describe();

  vmktest::failCall("vmk_NetPollCreate", 1);
  EXPECT_EQ(VMK_FAILURE, vmk_NetPollCreate(&p, net, 0, &np));
  vmktest::clearFailures();
}

TEST(NetServices, QueueSupportFollowsTheHost) {
  vmktest::netReset();
  vmk_uint32 tx = 0, rx = 0;
  ASSERT_EQ(VMK_OK, vmk_UplinkQueueSupportQuery(56, 56, &tx, &rx));
  EXPECT_EQ(16u, rx);
  vmktest::setHostQueueLimit(4);
  ASSERT_EQ(VMK_OK, vmk_UplinkQueueSupportQuery(2, 8, &tx, &rx));
  EXPECT_EQ(2u, tx);
  EXPECT_EQ(4u, rx);
  vmktest::setKernelVxlanPort(4789);
  EXPECT_EQ(0xB512, vmk_UplinkVXLANPortNBOGet());
  vmktest::netReset();
  EXPECT_EQ(0, vmk_UplinkVXLANPortNBOGet());
}

}  // namespace

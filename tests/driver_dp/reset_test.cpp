// The full adapter reset: under traffic on every generation, skipped and
// forced, with VFs, with a failure at each of its steps, and the door it
// closes to management requests while it runs.
#include <algorithm>
#include <atomic>
#include <thread>

#include "cable_fixture.h"
#include "vmk_netq_testing.h"

namespace {

using cabletest::Bytes;
using cabletest::CableTest;
using cabletest::End;
using cabletest::Send;

constexpr uint32_t kWatchdogReset = 60000, kWatchdogNormal = 5000;

class ResetTest : public CableTest {
 protected:
  // `n` distinct UDP frames from one end to the other arrive; payloads
  // start at `tag` so that rounds do not mix.
  void crosses(End& from, End& to, uint8_t tag, size_t n = 8) {
    std::vector<Send> sends;
    for (size_t i = 0; i < n; ++i) {
      Send s{"udp", {}, true, 0, -1};
      s.spec.proto = 17;
      s.spec.payload = netframes::pattern(200 + i * 50, static_cast<uint8_t>(tag + i));
      sends.push_back(s);
    }
    transmit(from, sends, to.mac());
    std::vector<Bytes> got = receive(to, n);
    EXPECT_EQ(n, got.size()) << "frames lost";
    from.card->takeWire(0);
  }
  void bothWays(uint8_t tag) {
    crosses(ends_[0], ends_[1], tag);
    crosses(ends_[1], ends_[0], static_cast<uint8_t>(tag + 100));
  }
  // The watchdog values the driver set since the last call.
  std::vector<uint32_t> watchdogSince(End& e) {
    std::vector<uint32_t> all = vmktest::uplinkWatchdogHistory(e.uplink);
    std::vector<uint32_t> fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return fresh;
  }
  VMK_ReturnStatus kernelReset(End& e) { return vmktest::uplinkReset(regDataOf(e.child), e.uplink); }
  size_t seen_ = 0;
};

TEST_F(ResetTest, ResetUnderTrafficOnEveryGenerationBringsTheSameUplinkBack) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    join(g);
    End& e = ends_[0];
    bothWays(1);
    watchdogSince(e);
    const unsigned objectsBefore = static_cast<unsigned>(e.card->engine().countLive());
    ASSERT_EQ(VMK_OK, kernelReset(e));
    EXPECT_EQ(1u, e.a->reset_count);
    EXPECT_EQ((std::vector<uint32_t>{kWatchdogReset, kWatchdogNormal}), watchdogSince(e));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_RECONFIG));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_TPE_REINIT));
    EXPECT_FALSE(tamsil_flagTest(e.a, TAMSIL_FLAG_IO_QUIESCED));
    EXPECT_EQ(1u, e.a->io_started);
    // The function was built again, not added to.
    EXPECT_EQ(objectsBefore, static_cast<unsigned>(e.card->engine().countLive()));
    ASSERT_TRUE(waitPosted(e, 64, true));
    bothWays(50);
    TearDown();
    SetUp();
    seen_ = 0;
  }
}

}  // namespace

// Firmware readiness at attach on the fast clock: POST on Kalderstone and
// Veskarn, ready and reset-if-needed on Pivard.
#include "bringup_fixture.h"

namespace {

struct PostCase {
  const char* name;
  uint16_t stage;
  bool error;
  unsigned readsUntilReady;  // 0: the stage stays as set
  VMK_ReturnStatus expect;
  const char* message;
};

const PostCase kPost[] = {
    {"Ready", 0xC000, false, 0, VMK_OK, ""},
    {"ReadyAfterSomeSleeps", 0x1234, false, 5, VMK_OK, ""},
    {"Error", 0x0042, true, 0, VMK_FAILURE, "POST error; stage=0x42"},
    {"Timeout", 0x0042, false, 0, VMK_FAILURE, "POST timeout; stage=0x42"},
};

class PostTest : public BringupTest, public ::testing::WithParamInterface<PostCase> {};

TEST_P(PostTest, WaitsForStageC000) {
  const PostCase& c = GetParam();
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::KS3;
  cfg.post_reads_until_ready = c.readsUntilReady;
  adapter::Adapter& card = newCard(cfg);
  if (c.readsUntilReady == 0) card.setPostStage(c.stage, c.error);
  vmk_Device dev = plug(card);
  // An error must fail at once: with the clock standing still any sleep
  // would show (as a hang) rather than pass unnoticed.
  if (c.error) vmktest::setClockRate(0);
  const uint64_t t0 = vmktest::nowNs();
  EXPECT_EQ(c.expect, vmktest::attachDevice(dev)) << c.name;
  const uint64_t waitedMs = (vmktest::nowNs() - t0) / 1000000ull;
  if (c.message[0]) { EXPECT_EQ(1u, logged(c.message)) << c.name; }
  if (std::string(c.name) == "Timeout") { EXPECT_GE(waitedMs, 40000u); }  // 20 sleeps of 2 s
  if (c.error) { EXPECT_EQ(0u, waitedMs); }  // no sleep at all
  vmktest::setClockRate(1000.0);
  if (c.expect == VMK_OK) { EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev)); }
  EXPECT_EQ(0u, card.engine().countLive());
}

INSTANTIATE_TEST_SUITE_P(Post, PostTest, ::testing::ValuesIn(kPost),
                         [](const ::testing::TestParamInfo<PostCase>& i) { return std::string(i.param.name); });

struct PivardCase {
  const char* name;
  uint32_t status;           // port status at attach
  unsigned readsUntilReady;  // reads that see the ready bit clear first
  VMK_ReturnStatus expect;
};

const PivardCase kPivard[] = {
    {"Ready", 0x00800000u, 0, VMK_OK},
    {"ResetNeededWithError", 0x81800000u, 0, VMK_OK},   // the port reset clears it
    {"ErrorOnly", 0x80800000u, 0, VMK_FAILURE},
    {"ResetNeededOnly", 0x01800000u, 0, VMK_FAILURE},
    {"NeverReady", 0x00000000u, 0, VMK_TIMEOUT},
    // Thirty reads one second apart: ready on the last one still counts,
    // and after the thirtieth sleep the wait gives up without a 31st read.
    {"ReadyOnThirtiethRead", 0x00800000u, 29, VMK_OK},
    {"NotReadyInThirtyReads", 0x00800000u, 30, VMK_TIMEOUT},
};

class PivardReadyTest : public BringupTest, public ::testing::WithParamInterface<PivardCase> {};

TEST_P(PivardReadyTest, ReadyAndResetIfNeeded) {
  const PivardCase& c = GetParam();
  adapter::AdapterConfig cfg;
  cfg.fw.gen = adapter::Gen::Pivard;
  cfg.post_reads_until_ready = c.readsUntilReady;
  adapter::Adapter& card = newCard(cfg);
  card.setPivardStatus(c.status);
  vmk_Device dev = plug(card);
  const uint64_t t0 = vmktest::nowNs();
  EXPECT_EQ(c.expect, vmktest::attachDevice(dev)) << c.name;
  const uint64_t waitedMs = (vmktest::nowNs() - t0) / 1000000ull;
  if (c.expect == VMK_TIMEOUT) { EXPECT_GE(waitedMs, 30000u) << c.name; }  // 30 sleeps of 1 s
  if (c.readsUntilReady > 0) { EXPECT_GE(waitedMs, 1000u * c.readsUntilReady) << c.name; }
  if (c.expect != VMK_OK) { EXPECT_GE(logged("Pivard Adapter in non recoverable error"), 1u); }
  if (std::string(c.name) == "ResetNeededWithError") { EXPECT_GE(card.counters(0).port_resets, 1u); }
  if (std::string(c.name) == "ErrorOnly") { EXPECT_EQ(0u, card.counters(0).port_resets); }
  if (c.expect == VMK_OK) { EXPECT_EQ(VMK_OK, vmktest::detachDevice(dev)); }
  EXPECT_EQ(0u, card.engine().countLive());
}

INSTANTIATE_TEST_SUITE_P(Pivard, PivardReadyTest, ::testing::ValuesIn(kPivard),
                         [](const ::testing::TestParamInfo<PivardCase>& i) { return std::string(i.param.name); });

}  // namespace

// Driver log lines: prefixes, debugMask gating, device names, repeat limits.
#include <cstring>

#include "module_fixture.h"

namespace {

class LogTest : public LoadedModuleTest {
 protected:
  void SetUp() override {
    LoadedModuleTest::SetUp();
    vmktest::clearLog();
    memset(&adapter, 0, sizeof adapter);
  }
  Adapter adapter;
};

void emitModuleInfo() { TAMSIL_MOD_DBG(TAMSIL_DBG_MCC, TAMSIL_LOG_LEVEL_INFO2, "module info %d\n", 7); }
void emitDeviceInfo(const Adapter* a) { TAMSIL_DBG(a, TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO, "device info\n"); }
void emitDeviceError(const Adapter* a) { TAMSIL_ERR(a, "device error %s\n", "x"); }
void emitEntry(const Adapter* a) { TAMSIL_ENTRY(a, TAMSIL_DBG_MGMT); }
void emitRepeated(int n) {
  for (int i = 0; i < n; i++) TAMSIL_LOG_RATELIMITED("hot path %s\n", "drop");
}

TEST_F(LogTest, ModuleLinesFollowTheGlobalMask) {
  debugMask = 0;
  emitModuleInfo();
  EXPECT_EQ(0u, vmktest::logLines().size());
  debugMask = TAMSIL_DBG_MCC;
  emitModuleInfo();
  auto lines = vmktest::logLines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("tamsil", lines[0].component);
  EXPECT_EQ(VMK_LOG_URGENCY_NORMAL, lines[0].urgency);
  EXPECT_EQ(2, lines[0].level);
  EXPECT_EQ(0u, lines[0].text.find("tamsil: emitModuleInfo:"));
  EXPECT_NE(std::string::npos, lines[0].text.find(": module info 7\n"));
  EXPECT_EQ(std::string::npos, lines[0].text.find('['));
}

TEST_F(LogTest, DeviceLinesFollowTheAdaptersMaskNotTheGlobalOne) {
  debugMask = 0xFFFFFFFF;
  adapter.debug_mask = 0;
  emitDeviceInfo(&adapter);
  EXPECT_EQ(0u, vmktest::logLines().size());
  debugMask = 0;
  adapter.debug_mask = TAMSIL_DBG_SRIOV;
  snprintf(adapter.pci_name, sizeof adapter.pci_name, "0000:003:00.0");
  emitDeviceInfo(&adapter);
  EXPECT_EQ(1u, vmktest::logCount("[0000:003:00.0] device info\n"));
  // Without an Adapter the global mask decides.
  debugMask = TAMSIL_DBG_SRIOV;
  emitDeviceInfo(nullptr);
  EXPECT_EQ(1u, vmktest::logCount("[unknown] device info\n"));
  debugMask = TAMSIL_DEBUG_MASK_DEFAULT;
}

TEST_F(LogTest, ErrorsAlwaysAppearAtAlertUrgency) {
  adapter.debug_mask = 0;
  debugMask = 0;
  emitDeviceError(&adapter);
  auto lines = vmktest::logLines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(VMK_LOG_URGENCY_ALERT, lines[0].urgency);
  EXPECT_EQ(vmk_LogGetCurrentLogLevel(tamsilDriverLog), lines[0].level);
  EXPECT_NE(std::string::npos, lines[0].text.find("[unknown] device error x\n"));
  debugMask = TAMSIL_DEBUG_MASK_DEFAULT;
}

TEST_F(LogTest, DeviceNameIsUplinkThenPciNameThenUnknown) {
  EXPECT_STREQ("unknown", tamsil_devName(nullptr));
  EXPECT_STREQ("unknown", tamsil_devName(&adapter));
  snprintf(adapter.pci_name, sizeof adapter.pci_name, "0000:003:00.0");
  EXPECT_STREQ("0000:003:00.0", tamsil_devName(&adapter));
  vmk_NameInitialize(&adapter.uplink_name, "vmnic4");
  EXPECT_STREQ("vmnic4", tamsil_devName(&adapter));
  emitDeviceError(&adapter);
  EXPECT_EQ(1u, vmktest::logCount(": [vmnic4] device error x\n"));
}

TEST_F(LogTest, EntryTracingFormat) {
  adapter.debug_mask = TAMSIL_DBG_MGMT;
  emitEntry(&adapter);
  EXPECT_EQ(1u, vmktest::logCount("[unknown] Entry ...     \n"));
  adapter.debug_mask = 0;
  emitEntry(&adapter);
  EXPECT_EQ(1u, vmktest::logLines().size());
}

TEST(RateLimit, WhichCountsPrint) {
  struct {
    vmk_uint32 count;
    bool prints;
  } rows[] = {
      {1, true},        {99, true},        {100, false},      {127, false},    {128, true},
      {256, true},      {12672, true},     {12799, false},    {12800, false},  {13312, true},
      {1023999, false}, {1022976, true},   {1024000, false},  {1048576, true}, {1048577, false},
      {1114112, true},  {0x120000, false}, {0x200000, true},  {0x210000, true},
  };
  for (auto r : rows) EXPECT_EQ(r.prints, tamsil_rateLimitPrints(r.count)) << r.count;
}

TEST_F(LogTest, RepeatedMessageOneHundredTimesPrintsNinetyNineLines) {
  emitRepeated(100);
  auto lines = vmktest::logLines();
  ASSERT_EQ(99u, lines.size());
  EXPECT_EQ("This message has repeated 1 times: hot path drop\n", lines[0].text);
  EXPECT_EQ("This message has repeated 99 times: hot path drop\n", lines[98].text);
  EXPECT_EQ(VMK_LOG_URGENCY_NORMAL, lines[0].urgency);
  EXPECT_EQ(0, lines[0].level);
  vmktest::clearLog();
  emitRepeated(28);  // counts 101 to 128: only the 128th prints
  lines = vmktest::logLines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("This message has repeated 128 times: hot path drop\n", lines[0].text);
}

TEST_F(LogTest, EachCallSiteCountsAlone) {
  for (int i = 0; i < 3; i++) TAMSIL_LOG_RATELIMITED("site a\n");
  for (int i = 0; i < 2; i++) TAMSIL_LOG_RATELIMITED("site b\n");
  EXPECT_EQ(1u, vmktest::logCount("repeated 3 times: site a"));
  EXPECT_EQ(1u, vmktest::logCount("repeated 2 times: site b"));
}

TEST(SystemStop, RingInconsistencyStopsTheMachine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(TAMSIL_SYSTEM_STOP(), "Unrecoverable error in tamsil at.*log_test.cpp:TestBody - [0-9]+");
}

}  // namespace

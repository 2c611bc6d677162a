// The test root's iSCSI target: the daemon starts on its documentation
// address, serves targets, LUNs and CHAP accounts, and stops by its pid.
#include <gtest/gtest.h>
#include <signal.h>

#include "iscsi_target.h"

namespace {

using testroot::IscsiTarget;

TEST(IscsiTargetFixture, StartsServesAndStops) {
  IscsiTarget tgt;
  std::string why;
  ASSERT_TRUE(tgt.start(&why)) << why;
  pid_t pid = tgt.pid();
  ASSERT_GT(pid, 0);
  int tid = tgt.addTarget("iqn.2026-01.emu.tgt:disk1");
  ASSERT_GT(tid, 0);
  ASSERT_TRUE(tgt.addLun(tid, 1, {.blocks = 4096, .pattern = 0x5A, .pattern_blocks = 8, .serial = "EMUSN0001"}));
  ASSERT_TRUE(tgt.addAccount("ini-user", "ini-secret-12"));
  ASSERT_TRUE(tgt.bindAccount(tid, "ini-user"));
  ASSERT_TRUE(tgt.addAccount("tgt-user", "tgt-secret-12"));
  ASSERT_TRUE(tgt.bindAccount(tid, "tgt-user", true));
  std::string shown = tgt.show();
  EXPECT_NE(shown.find("iqn.2026-01.emu.tgt:disk1"), std::string::npos) << shown;
  EXPECT_NE(shown.find("EMUSN0001"), std::string::npos) << shown;
  EXPECT_NE(shown.find("ini-user"), std::string::npos) << shown;
  EXPECT_NE(shown.find("tgt-user (outgoing)"), std::string::npos) << shown;
  // The file: the pattern in the first blocks, a hole after them.
  std::vector<uint8_t> head = tgt.lunBytes(tid, 1, 0, 8 * 512 + 512);
  ASSERT_EQ(head.size(), 9u * 512);
  for (size_t i = 0; i < 8 * 512; ++i) ASSERT_EQ(head[i], 0x5A) << i;
  for (size_t i = 8 * 512; i < head.size(); ++i) ASSERT_EQ(head[i], 0) << i;
  // The daemon listens on the documentation address only.
  std::string out;
  ASSERT_EQ(testroot::runProgram({"ip", "-4", "addr", "show", IscsiTarget::kInterface}, &out), 0);
  EXPECT_NE(out.find("192.0.2.1/24"), std::string::npos) << out;
  tgt.stop();
  EXPECT_FALSE(tgt.running());
  EXPECT_NE(kill(pid, 0), 0);  // reaped: no such process
  // A second start in the same namespace reuses the interface.
  ASSERT_TRUE(tgt.start(&why)) << why;
  EXPECT_GT(tgt.addTarget("iqn.2026-01.emu.tgt:again"), 0);
}

}  // namespace

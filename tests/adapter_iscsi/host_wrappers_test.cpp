// The iSCSI firmware as the management library reaches it: through the
// library's own command wrappers and the emulated host's iSCSI device (the
// 32-bit build of the firmware's initiator), against the real target.
#include <gtest/gtest.h>

#include "backend/orsa_ioctl_wrappers.h"
#include "channel_fixture.h"
#include "iscsi/fw_iscsi.h"
#include "iscsi/fw_iscsi_net.h"
#include "iscsi_target.h"

namespace {

using channel_test::ChannelTest;
using channel_test::kCtrlIscsi;
using testroot::IscsiTarget;

constexpr unsigned kFn = 2;  // iSCSI device 0 of controller 0
const OrsaPort kPort{1, ORSA_PROTO_ISCSI};

TEST_F(ChannelTest, IscsiLoginListSessionAndLogoutThroughTheWrappers) {
  IscsiTarget tgt;
  std::string why;
  ASSERT_TRUE(tgt.start(&why)) << why;
  int tid = tgt.addTarget("iqn.2026-01.emu.tgt:wrapped");
  ASSERT_TRUE(tgt.addLun(tid, 1));
  adapter::Engine& fw = host_->engine(kCtrlIscsi);
  adapter::IscsiAddressEntry addr;
  addr.address = {192, 0, 2, 30};
  adapter::iscsiNet(fw, kFn).addresses = {addr};

  std::vector<uint8_t> rec = adapter::iscsiLoginRecord("iqn.2026-01.emu.tgt:wrapped", {1, {192, 0, 2, 1}, 3260}, 9,
                                                       "iqn.2026-01.emu.host:wrapped");
  ASSERT_EQ(ioctl_login_target(kPort, rec.data(), 0, 0), 0u) << tgt.log();
  uint32_t handle = channel_test::le32(rec, 0);
  EXPECT_EQ(rec[4] & 1, 1);
  EXPECT_EQ(rec[5] & 1, 0);
  // The list: size query, then the read.
  uint8_t q[12] = {0xC0};
  uint16_t needed = 0;
  ASSERT_EQ(ioctl_get_activesessionidbuffersize(kPort, q, 0, 0, &needed), 0u);
  EXPECT_EQ(needed, 12);
  std::vector<uint8_t> list(needed, 0);
  list[0] = 0xC0;
  ASSERT_EQ(ioctl_get_activesessionid(kPort, list.data(), needed, 0, 0), 0u);
  EXPECT_EQ(channel_test::le32(list, 0), 1u);
  EXPECT_EQ(channel_test::le32(list, 8), handle);
  // The session record.
  std::vector<uint8_t> sess(1164, 0);
  memcpy(sess.data(), &handle, 4);
  ASSERT_EQ(ioctl_get_a_session(kPort, sess.data(), 1164, 0, 0), 0u);
  EXPECT_EQ(channel_test::le32(sess, 4), adapter::kSessOpen);
  EXPECT_EQ(sess[13], 9);
  // The same key again: the status map's "session already opened".
  std::vector<uint8_t> again = adapter::iscsiLoginRecord("iqn.2026-01.emu.tgt:wrapped", {1, {192, 0, 2, 1}, 3260}, 9,
                                                         "iqn.2026-01.emu.host:wrapped");
  EXPECT_EQ(ioctl_login_target(kPort, again.data(), 0, 0), 1u);
  EXPECT_EQ(orsa_last_status_code, 27u);
  // An unknown target: 1/46, mapped for the login opcode.
  std::vector<uint8_t> none = adapter::iscsiLoginRecord("iqn.2026-01.emu.tgt:none", {1, {192, 0, 2, 1}, 3260}, 10,
                                                        "iqn.2026-01.emu.host:wrapped");
  EXPECT_EQ(ioctl_login_target(kPort, none.data(), 0, 0), 144u);
  uint8_t logout[4];
  memcpy(logout, &handle, 4);
  EXPECT_EQ(ioctl_logout_target(kPort, logout, 0, 0), 0u);
  EXPECT_TRUE(adapter::iscsiSessions(fw, kFn).empty());
  // A persistent target: the adapter's reboot logs it in by itself.
  std::vector<uint8_t> entry = adapter::iscsiLoginRecord("iqn.2026-01.emu.tgt:wrapped", {1, {192, 0, 2, 1}, 3260}, 11,
                                                         "iqn.2026-01.emu.host:wrapped");
  ASSERT_EQ(ioctl_add_persistent_target(kPort, entry.data(), 0, 0), 0u);
  host_->rebootAdapter(kCtrlIscsi);
  std::vector<adapter::IscsiSessionView> after = adapter::iscsiSessions(fw, kFn);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].state, adapter::kSessOpen);
  EXPECT_EQ(after[0].isid_qualifier, 11);
  EXPECT_EQ(after[0].flags & adapter::kSessFlagNotPersistent, 0u);
}

}  // namespace

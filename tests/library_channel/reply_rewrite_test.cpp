// The emulated host's reply rewrite: what the library reads is what the
// rewrite left, on either device, and without one the firmware's answer
// stands.
#include "backend/orsa_ioctl_wrappers.h"
#include "channel_fixture.h"

namespace channel_test {
namespace {

struct RewriteCase {
  const char* name;
  int32_t protocol;
};

class ReplyRewrite : public ChannelTest, public ::testing::WithParamInterface<RewriteCase> {};

TEST_P(ReplyRewrite, LibraryReadsWhatTheRewriteLeft) {
  const int32_t proto = GetParam().protocol;
  std::vector<uint8_t> fw(156, 0);
  ASSERT_EQ(ioctl_get_fw_config(OrsaPort{1, proto}, fw.data(), 0, 0), 0u);

  size_t seen = 0;
  host_->setReplyRewrite([&](uint8_t* reply, size_t size) {
    seen = size;
    for (size_t i = 16; i < size; ++i) reply[i] = static_cast<uint8_t>(i);
  });
  std::vector<uint8_t> got(156, 0);
  ASSERT_EQ(ioctl_get_fw_config(OrsaPort{1, proto}, got.data(), 0, 0), 0u);
  EXPECT_EQ(seen, 16u + 156u);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<uint8_t>(i + 16)) << i;

  // A failed status laid over a good answer is a failure to the library.
  host_->setReplyRewrite([](uint8_t* reply, size_t) { reply[4] = 2; });
  EXPECT_NE(ioctl_get_fw_config(OrsaPort{1, proto}, got.data(), 0, 0), 0u);

  host_->setReplyRewrite({});
  std::vector<uint8_t> again(156, 0);
  ASSERT_EQ(ioctl_get_fw_config(OrsaPort{1, proto}, again.data(), 0, 0), 0u);
  EXPECT_EQ(again, fw);
}

INSTANTIATE_TEST_SUITE_P(Devices, ReplyRewrite,
                         ::testing::Values(RewriteCase{"Iscsi", ORSA_PROTO_ISCSI}, RewriteCase{"Nic", ORSA_PROTO_NIC}),
                         [](const ::testing::TestParamInfo<RewriteCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace channel_test

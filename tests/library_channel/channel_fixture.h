// A library test on an emulated host: the devices are in place, the host's
// files written, and the library's channel state filled as discovery fills
// it (iSCSI devices opened, NIC functions counted and named).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "backend/orsa_gateway.h"
#include "emulated_host.h"
#include "fw_library.h"
#include "tree/hm_status.h"

namespace channel_test {

// Little-endian fields of a logged block.
inline uint16_t le16(const std::vector<uint8_t>& b, size_t off) { return uint16_t(b.at(off) | b.at(off + 1) << 8); }
inline uint32_t le32(const std::vector<uint8_t>& b, size_t off) {
  return uint32_t(b.at(off)) | uint32_t(b.at(off + 1)) << 8 | uint32_t(b.at(off + 2)) << 16 |
         uint32_t(b.at(off + 3)) << 24;
}

// In the default host: controller 0 (KS3) has NIC functions 1, 2 and iSCSI
// functions 1, 2; controller 1 (Veskarn) has NIC functions 3, 4.
constexpr uint32_t kCtrlIscsi = 0;
constexpr uint32_t kCtrlNic = 1;

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { startHost(chardev::defaultHost()); }

  void startHost(const chardev::HostSpec& spec) {
    stopHost();
    memset(&orsa_glob, 0, sizeof orsa_glob);
    for (uint32_t i = 0; i < ORSA_MAX_FUNCTIONS; ++i) {
      orsa_glob.nic_port_instances[i] = -1;
      orsa_glob.iscsi_port_instances[i] = -1;
    }
    orsa_hierarchy_stale = 0;
    host_ = std::make_unique<chardev::EmulatedHost>(spec);
    ASSERT_TRUE(host_->writeHostFiles()) << "library tests run in the throw-away test root";
    chardev::install(host_.get());
    orsa_glob.iscsi_valid_hba = os_get_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
    orsa_glob.nic_valid_hba = os_get_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
    os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
    orsa_glob.controller_protocol[kCtrlIscsi] = 1 | 2;
    orsa_glob.controller_protocol[kCtrlNic] = 2;
    orsa_reset_last_status();
    host_->clearLog();
  }

  void stopHost() {
    if (!host_) return;
    os_put_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
    os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
    EXPECT_EQ(host_->openDescriptors(), 0u) << "a device descriptor was left open";
    chardev::install(nullptr);
    host_.reset();
  }

  void TearDown() override {
    // The per-call switches never outlive the call that set them.
    EXPECT_EQ(orsa_glob.hdr_version, 0);
    EXPECT_EQ(orsa_glob.pf_number, 0);
    stopHost();
  }

  // Pass-through requests the devices received, in order.
  std::vector<chardev::LoggedIoctl> passthroughs() const {
    std::vector<chardev::LoggedIoctl> out;
    for (const auto& e : host_->log())
      if ((e.dev == chardev::Dev::Nic && e.request == ORSA_NIC_IOCTL_PASSTHRU) ||
          (e.dev == chardev::Dev::Iscsi && e.request == ORSA_ISCSI_IOCTL_PASSTHRU))
        out.push_back(e);
    return out;
  }

  // The Request_Header and payload of a logged pass-through.
  static std::vector<uint8_t> command(const chardev::LoggedIoctl& e) {
    size_t skip = e.dev == chardev::Dev::Nic ? ORSA_NIC_BLOCK_PREFIX - ORSA_HDR_SIZE : 0;
    return std::vector<uint8_t>(e.bytes.begin() + long(skip), e.bytes.end());
  }

  std::unique_ptr<chardev::EmulatedHost> host_;
};

}  // namespace channel_test

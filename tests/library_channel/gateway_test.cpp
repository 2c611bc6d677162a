// The driver channel: device discovery, the raw ioctls, the gateway's two
// pass-through forms, its failures, the status map and the flash commands.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "backend/orsa_ioctl_wrappers.h"
#include "channel_fixture.h"
#include "fw_library_flash.h"
#include "schema/bootstrap.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/orsa_api.h"

namespace channel_test {
namespace {

// ---- discovery -------------------------------------------------------------

TEST_F(ChannelTest, DiscoveryNumbersTheFunctions) {
  EXPECT_EQ(orsa_glob.iscsi_valid_hba, 2u);
  EXPECT_EQ(orsa_glob.nic_valid_hba, 4u);
  struct {
    uint8_t bus, device, function;
    const char* ifname;
  } want[] = {{3, 0, 0, "vmnic0"}, {3, 0, 1, "vmnic1"}, {5, 0, 0, "vmnic2"}, {5, 0, 1, "vmnic3"}};
  for (uint32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(orsa_glob.NicFunctionTable[k + 1].bus, want[k].bus) << k;
    EXPECT_EQ(orsa_glob.NicFunctionTable[k + 1].device, want[k].device) << k;
    EXPECT_EQ(orsa_glob.NicFunctionTable[k + 1].function, want[k].function) << k;
    EXPECT_STREQ(orsa_glob.nic_if_names[k], want[k].ifname) << k;
  }
  EXPECT_EQ(orsa_glob.nic_port_instances[0], -1) << "the NIC device is closed between requests";
  EXPECT_GE(orsa_glob.iscsi_port_instances[1], 0);
  EXPECT_EQ(orsa_glob.iscsi_port_instances[2], -1);
  EXPECT_EQ(get_the_protocol(int32_t(kCtrlIscsi)), ORSA_PROTO_ISCSI);
  EXPECT_EQ(get_the_protocol(int32_t(kCtrlNic)), ORSA_PROTO_NIC);
  EXPECT_EQ(get_the_protocol(5), ORSA_PROTO_NONE);
  EXPECT_EQ(get_the_protocol(-1), ORSA_PROTO_NONE);
  EXPECT_EQ(get_the_protocol(16), ORSA_PROTO_NONE);
}

// Names come from the first line that holds "BBB:DD.F/vmkname"; the file is
// read again by every call, so a renamed function is seen at once.
TEST_F(ChannelTest, InterfaceNamesFromTheFirstLineThatNamesTheFunction) {
  auto write_conf = [](const std::string& text) {
    FILE* fp = fopen("/etc/vmware/esx.conf", "w");
    ASSERT_NE(fp, nullptr);
    fputs(text.c_str(), fp);
    fclose(fp);
  };
  struct Fn {
    uint8_t bus, device, function;
    const char* want;
  } fns[] = {
      {3, 0, 1, "vmnic1"},     // after a decoy for function 10
      {3, 0, 0, "first"},      // two lines: the first wins
      {200, 12, 3, "vmnic1234"},  // cut to 9 characters
      {4, 0, 0, ""},           // its line has no quoted value
      {4, 0, 2, ""},           // its first line has no "=": nothing is taken
      {7, 1, 0, ""},           // no line at all
      {9, 0, 0, "deep"},       // inside a longer path
  };
  const std::string conf =
      "/adv/Misc/HostName = \"emulated\"\n"
      "/device/000:003:00.10/vmkname = \"decoy\"\n"
      "/device/000:003:00.1/vmkname = \"vmnic1\"\n"
      "/device/000:003:00.0/vmkname = \"first\"\n"
      "/device/000:003:00.0/vmkname = \"second\"\n"
      "/device/000:200:12.3/vmkname = \"vmnic12345678\"\n"
      "/device/000:004:00.0/vmkname = vmnic9\n"
      "/device/000:004:00.2/vmkname\n"
      "/device/000:004:00.2/vmkname = \"late\"\n"
      "/system/000:1009:00.0/vmkname = \"deep\"\n";
  write_conf(conf);
  const uint32_t n = sizeof fns / sizeof fns[0];
  for (uint32_t k = 0; k < n; ++k) orsa_glob.NicFunctionTable[k + 1] = {fns[k].bus, fns[k].device, fns[k].function, 0};
  ASSERT_EQ(ORSA_get_interface_names(n, 0), n);
  for (uint32_t k = 0; k < n; ++k) EXPECT_STREQ(orsa_glob.nic_if_names[k], fns[k].want) << k;

  // Renamed between two calls.
  std::string renamed = conf;
  renamed.replace(renamed.find("\"vmnic1\""), 8, "\"uplinkA\"");
  write_conf(renamed);
  ASSERT_EQ(ORSA_get_interface_names(n, 0), n);
  EXPECT_STREQ(orsa_glob.nic_if_names[0], "uplinkA");
  // Without the file no name is known.
  ASSERT_EQ(unlink("/etc/vmware/esx.conf"), 0);
  EXPECT_EQ(ORSA_get_interface_names(n, 0), 0u);
  EXPECT_STREQ(orsa_glob.nic_if_names[0], "");
}

chardev::HostSpec hostWith(std::vector<chardev::FunctionSpec> fns, uint8_t bus = 3) {
  chardev::HostSpec h;
  chardev::AdapterSpec a;
  a.bus = bus;
  a.functions = std::move(fns);
  h.adapters.push_back(a);
  return h;
}

TEST_F(ChannelTest, IscsiDevicesArePackedInDeviceOrder) {
  startHost(hostWith({{.fn = 0, .proto = chardev::Proto::Iscsi, .vmhba = "vmhba40", .iscsi_device = 1},
                      {.fn = 1, .proto = chardev::Proto::Iscsi, .vmhba = "vmhba41", .iscsi_device = 2}}));
  EXPECT_EQ(orsa_glob.iscsi_valid_hba, 2u);
  EXPECT_GE(orsa_glob.iscsi_port_instances[0], 0);
  EXPECT_GE(orsa_glob.iscsi_port_instances[1], 0);
  for (uint32_t i = 2; i < ORSA_MAX_FUNCTIONS; ++i) ASSERT_EQ(orsa_glob.iscsi_port_instances[i], -1) << i;
  char name[32];
  ASSERT_EQ(ioctl_get_vmhba_name(1, name), 0u);
  EXPECT_STREQ(name, "vmhba40") << "function 1 is the first device that opened";
}

TEST_F(ChannelTest, ChipsFillTheFunctionTableInOrder) {
  chardev::HostSpec h;
  chardev::AdapterSpec a;
  a.bus = 7;
  for (uint8_t f = 0; f < 2; ++f) a.functions.push_back({.fn = f, .ifname = "vmnic" + std::to_string(f)});
  chardev::AdapterSpec b;
  b.bus = 9;
  b.device = 1;
  for (uint8_t f = 0; f < 4; ++f) b.functions.push_back({.fn = f, .ifname = "vmnic" + std::to_string(2 + f)});
  h.adapters = {a, b};
  startHost(h);
  EXPECT_EQ(orsa_glob.nic_valid_hba, 6u);
  for (uint32_t k = 1; k <= 6; ++k) {
    EXPECT_EQ(orsa_glob.NicFunctionTable[k].bus, k <= 2 ? 7 : 9) << k;
    EXPECT_EQ(orsa_glob.NicFunctionTable[k].function, k <= 2 ? k - 1 : k - 3) << k;
  }
}

// The driver's counts are clamped to the block and the table that hold them.
TEST_F(ChannelTest, ChipCountsBeyondTheBlockAreClamped) {
  std::vector<uint8_t> block(89, 0);
  block[0] = 200;  // chips: only 8 records fit the block
  for (int c = 0; c < 8; ++c) {
    block[1 + 11 * c] = uint8_t(20 + c);
    block[1 + 11 * c + 2] = 50;  // functions: only 8 numbers fit a record
    for (int f = 0; f < 8; ++f) block[1 + 11 * c + 3 + f] = uint8_t(f);
  }
  host_->setChipInfoOverride(block);
  memset(orsa_glob.NicFunctionTable, 0xAB, sizeof orsa_glob.NicFunctionTable);
  orsa_glob.nic_port_instances[0] = open(ORSA_NIC_DEVICE, O_RDWR);
  ASSERT_GE(orsa_glob.nic_port_instances[0], 0);
  EXPECT_EQ(enumerate_ks_nics(0), 64u);
  EXPECT_EQ(orsa_glob.NicFunctionTable[64].bus, 27);
  EXPECT_EQ(orsa_glob.NicFunctionTable[64].function, 7);
  EXPECT_EQ(orsa_glob.NicFunctionTable[65].bus, 0xAB) << "nothing written past the records";
  // Started near the end of the table, the walk stops at its last entry.
  EXPECT_EQ(enumerate_ks_nics(100), 127u);
  os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
}

TEST_F(ChannelTest, NicDeviceThatDoesNotOpenCountsNothing) {
  host_->failOpen(ORSA_NIC_DEVICE, EACCES);
  EXPECT_EQ(os_get_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS), 0u);
  EXPECT_EQ(orsa_glob.nic_port_instances[0], -1);
}

TEST_F(ChannelTest, MissingEsxConfCountsNothing) {
  ASSERT_EQ(unlink("/etc/vmware/esx.conf"), 0);
  EXPECT_EQ(os_get_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS), 0u);
  EXPECT_EQ(orsa_glob.nic_port_instances[0], -1) << "the device is closed again";
}

// ---- raw ioctls ----------------------------------------------------------------

TEST_F(ChannelTest, RawNicIoctlsReadTheFunction) {
  uint8_t dinfo[ORSA_DINFO_SIZE];
  ASSERT_EQ(ioctl_get_mtu(2, dinfo), 0u);
  EXPECT_EQ(dinfo[8] | dinfo[9] << 8, 9000) << "vmnic1 has MTU 9000";

  uint32_t vfs = 99;
  ASSERT_EQ(ioctl_get_virt_f_info(3, dinfo, &vfs), 0u);
  EXPECT_EQ(vfs, 4u);

  uint32_t dword = 0;
  ASSERT_EQ(ioctl_pivard_read_pci_conf(1, &dword), 0u);
  EXPECT_EQ(dword, host_->card(0).function(0)->configRead(0xa4, 4));

  char text[600];
  ASSERT_EQ(ORSA_get_pivard_pci_data(1, 0, 20, text), 0u);
  uint32_t id = host_->card(0).function(0)->configRead(0, 4);
  char first[16];
  snprintf(first, sizeof first, "%02x %02x ", id & 0xFF, (id >> 8) & 0xFF);
  EXPECT_EQ(std::string(text).substr(0, 6), first);
  EXPECT_EQ(std::string(text).find('\n'), 48u) << "a new line before byte 16";

  // Every raw ioctl reopened and closed the NIC device.
  EXPECT_EQ(orsa_glob.nic_port_instances[0], -1);
  EXPECT_EQ(host_->openDescriptors(), 2u) << "only the iSCSI devices stay open";
}

// A region longer than the block's data area is refused before anything is sent.
TEST_F(ChannelTest, PciRegionLongerThanTheBlockIsRefused) {
  char text[600];
  EXPECT_EQ(ORSA_get_pivard_pci_data(1, 0, 979, text), 0u);
  host_->clearLog();
  EXPECT_EQ(ORSA_get_pivard_pci_data(1, 0, 980, text), 1u);
  EXPECT_EQ(ORSA_get_pivard_pci_data(1, 0, 0xFFFFFFF0u, text), 1u);
  for (const auto& e : host_->log()) EXPECT_NE(e.request, ORSA_NIC_IOCTL_PCI_CONF);
}

TEST_F(ChannelTest, VmhbaNameWithoutTerminatorIsCut) {
  host_->setVmhbaNameRaw(0, std::vector<uint8_t>(32, 'v'));
  char name[64];
  memset(name, 'x', sizeof name);
  ASSERT_EQ(ioctl_get_vmhba_name(1, name), 0u);
  EXPECT_EQ(strlen(name), 31u);
  EXPECT_EQ(name[32], 'x') << "nothing written past the 32 bytes";
  host_->failIoctl(chardev::Dev::Iscsi, ORSA_ISCSI_IOCTL_VMHBA_NAME, EIO);
  EXPECT_EQ(ioctl_get_vmhba_name(2, name), 1u);
}

// ---- the gateway ---------------------------------------------------------------

TEST_F(ChannelTest, NicPassThroughBlock) {
  uint8_t buf[16 + 4] = {};
  memcpy(buf + 16, "\x11\x22\x33\x44", 4);
  ASSERT_EQ(ORSA_IssueIOCTL(-1, 77, 1, 4, buf, 0, 0, ORSA_PROTO_NIC, 4), 0u);
  auto pts = passthroughs();
  ASSERT_EQ(pts.size(), 1u);
  const std::vector<uint8_t>& b = pts[0].bytes;
  ASSERT_EQ(b.size(), 41u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 16), "KESTRIMONDALE CO");
  EXPECT_EQ(b[16], 0x52);
  EXPECT_EQ(b[17], 0x50);
  EXPECT_EQ(b[18], 5) << "bus of NIC function 4";
  EXPECT_EQ(b[19], 0);
  EXPECT_EQ(b[20], 1) << "function";
  EXPECT_EQ(b[21], 77);
  EXPECT_EQ(le32(b, 21 + 8), 4u);
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 37, b.end()), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(orsa_glob.nic_port_instances[0], -1) << "closed after the request";
}

TEST_F(ChannelTest, IscsiPassThroughIsTheBareHeader) {
  uint8_t buf[16 + 4] = {};
  memcpy(buf + 16, "\x11\x22\x33\x44", 4);
  ASSERT_EQ(ORSA_IssueIOCTL(orsa_glob.iscsi_port_instances[1], 44, 1, 4, buf, 3, 2, ORSA_PROTO_ISCSI, 2), 0u);
  auto pts = passthroughs();
  ASSERT_EQ(pts.size(), 1u);
  EXPECT_EQ(pts[0].iscsi_device, 1);
  const std::vector<uint8_t>& b = pts[0].bytes;
  ASSERT_EQ(b.size(), 20u);
  EXPECT_EQ(b[0], 44);
  EXPECT_EQ(b[1], 1);
  EXPECT_EQ(b[2], 2) << "port";
  EXPECT_EQ(b[3], 3) << "domain";
  EXPECT_EQ(le32(b, 4), 120u);
  EXPECT_EQ(buf[0], 44) << "answered in place";
}

TEST_F(ChannelTest, HeaderTimeouts) {
  struct Case {
    uint8_t opcode, subsystem;
    uint32_t protocol, instance;
    uint32_t timeout;
  } cases[] = {
      {18, 2, ORSA_PROTO_ISCSI, 1, 20}, {18, 11, ORSA_PROTO_NIC, 1, 11}, {18, 11, ORSA_PROTO_ISCSI, 1, 11},
      {19, 11, ORSA_PROTO_NIC, 1, 30},  {19, 11, ORSA_PROTO_ISCSI, 1, 120},
  };
  for (const Case& c : cases) {
    host_->clearLog();
    uint8_t payload[8] = {};
    ORSA_prepare_mailbox_cmd(c.instance, c.opcode, c.subsystem, 8, 24, payload, 1, 0, 0, c.protocol);
    auto pts = passthroughs();
    ASSERT_EQ(pts.size(), 1u);
    EXPECT_EQ(le32(command(pts[0]), 4), c.timeout) << int(c.opcode) << "/" << int(c.subsystem);
  }
}

TEST_F(ChannelTest, PfNumberOnlyWhenPositive) {
  struct Case {
    signed char pf;
    uint16_t laid, sent;
  } cases[] = {{3, 0xAC00, 0xAC03}, {0, 0x0C05, 0x0C05}, {-2, 0x0007, 0x0007}, {3, 0x03FF, 0x0003}};
  for (const Case& c : cases) {
    host_->clearLog();
    uint8_t buf[16 + 4] = {};
    buf[14] = uint8_t(c.laid);
    buf[15] = uint8_t(c.laid >> 8);
    orsa_glob.pf_number = c.pf;
    ORSA_IssueIOCTL(orsa_glob.iscsi_port_instances[0], 1, 1, 4, buf, 0, 0, ORSA_PROTO_ISCSI, 1);
    orsa_glob.pf_number = 0;
    EXPECT_EQ(le16(command(passthroughs().at(0)), 14), c.sent) << int(c.pf);
  }
}

// An iSCSI ioctl that fails with EIO is status 295; any other failed ioctl is
// a failed request, never a status read from the unsent buffer.
TEST_F(ChannelTest, FailedIoctls) {
  struct Case {
    chardev::Dev dev;
    int err;
    uint32_t protocol;
    uint32_t result;
  } cases[] = {
      {chardev::Dev::Iscsi, EIO, ORSA_PROTO_ISCSI, 295},
      {chardev::Dev::Iscsi, EINVAL, ORSA_PROTO_ISCSI, 1},
      {chardev::Dev::Nic, EIO, ORSA_PROTO_NIC, 1},
      {chardev::Dev::Nic, ENODEV, ORSA_PROTO_NIC, 1},
  };
  for (const Case& c : cases) {
    host_->clearFaults();
    host_->failIoctl(c.dev, c.dev == chardev::Dev::Nic ? ORSA_NIC_IOCTL_PASSTHRU : ORSA_ISCSI_IOCTL_PASSTHRU, c.err, 1);
    uint8_t buf[16 + 4] = {};
    uint32_t handle = c.protocol == ORSA_PROTO_ISCSI ? orsa_glob.iscsi_port_instances[0] : -1;
    EXPECT_EQ(ORSA_IssueIOCTL(int32_t(handle), 169, 1, 4, buf, 0, 0, int32_t(c.protocol), 1), c.result)
        << c.err;
  }
  // Through a wrapper: a NIC request of opcode 169 whose ioctl fails would
  // read its own Timeout (30) as a status and report 55, "reboot needed".
  host_->clearFaults();
  host_->failIoctl(chardev::Dev::Nic, ORSA_NIC_IOCTL_PASSTHRU, EIO, 1);
  uint8_t word[4] = {9, 9, 9, 9};
  EXPECT_EQ(ioctl_set_factory_profile_config(OrsaPort{1, ORSA_PROTO_NIC}, word, 0, 0), 1u);
  EXPECT_EQ(word[0], 9) << "nothing copied back from a request that was not answered";
  host_->failIoctl(chardev::Dev::Iscsi, ORSA_ISCSI_IOCTL_PASSTHRU, EIO, 1);
  EXPECT_EQ(ioctl_set_factory_profile_config(OrsaPort{1, ORSA_PROTO_ISCSI}, word, 0, 0), 1u)
      << "the builder fails any gateway failure with 1";
}

TEST_F(ChannelTest, UnknownProtocolSendsNothing) {
  uint8_t buf[16 + 4] = {};
  EXPECT_EQ(ORSA_IssueIOCTL(0, 1, 1, 4, buf, 0, 0, 3, 1), 1u);
  uint8_t payload[4] = {};
  EXPECT_EQ(ORSA_prepare_mailbox_cmd(1, 1, 1, 4, 20, payload, 1, 0, 0, 4), 1u);
  EXPECT_TRUE(host_->log().empty());
}

// Instance numbers index the tables only when they name a function found.
TEST_F(ChannelTest, InstanceNumbersAreChecked) {
  uint8_t payload[4] = {};
  struct Case {
    uint32_t instance, protocol;
  } cases[] = {{0, ORSA_PROTO_NIC}, {5, ORSA_PROTO_NIC},   {0xFFFFFFFEu, ORSA_PROTO_NIC},
               {0, ORSA_PROTO_ISCSI}, {3, ORSA_PROTO_ISCSI}, {200, ORSA_PROTO_ISCSI}};
  for (const Case& c : cases) {
    EXPECT_EQ(ORSA_prepare_mailbox_cmd(c.instance, 1, 1, 4, 20, payload, 1, 0, 0, c.protocol), 1u) << c.instance;
    uint16_t needed = 0;
    EXPECT_EQ(ORSA_get_mailbox_cmd_size(c.instance, 1, 1, 4, 20, payload, &needed, 0, 0, c.protocol), 1u);
  }
  uint8_t dinfo[ORSA_DINFO_SIZE];
  uint32_t vfs;
  char name[32];
  char text[600];
  EXPECT_EQ(ioctl_get_mtu(0, dinfo), 1u);
  EXPECT_EQ(ioctl_get_virt_f_info(5, dinfo, &vfs), 1u);
  EXPECT_EQ(ioctl_get_vmhba_name(3, name), 1u);
  EXPECT_EQ(ioctl_get_vmhba_name(0, name), 1u);
  EXPECT_EQ(ORSA_get_pivard_pci_data(0xFFFFFFFFu, 0, 4, text), 1u);
  uint32_t words[6] = {};
  EXPECT_EQ(ioctl_get_flash_component_details(OrsaPort{0xFFFFFFFFu, ORSA_PROTO_ISCSI}, words, 0, 0), 1u);
  EXPECT_TRUE(passthroughs().empty());
}

// Command sizes are computed without 16-bit wrap; what cannot fit is refused.
TEST_F(ChannelTest, OversizedPayloadsAreRefused) {
  // The firmware's plain answer: no session needed for the channel's work.
  host_->engine(0).registerHandler(6, 59, adapter::libraryPlainHandler());
  std::vector<uint8_t> big(70000, 0);
  // A caller-sized wrapper whose length would wrap the 16-bit buffer size.
  EXPECT_EQ(ioctl_scsi_passthru(OrsaPort{1, ORSA_PROTO_ISCSI}, big.data(), 65530, 0, 0), 1u);
  EXPECT_EQ(ioctl_scsi_passthru(OrsaPort{1, ORSA_PROTO_ISCSI}, big.data(), 70000, 0, 0), 1u);
  // The builder given a buffer size that wrapped.
  EXPECT_EQ(ORSA_prepare_mailbox_cmd(1, 24, 11, 65530, uint16_t(65530 + 16), big.data(), 1, 0, 0, 1), 1u);
  EXPECT_EQ(ORSA_prepare_mailbox_cmd(1, 24, 11, 100, 50, big.data(), 1, 0, 0, 1), 1u);
  // The FAT length comes from the request itself.
  uint32_t huge = 0xFFFFFFF0u;
  memcpy(big.data() + 8, &huge, 4);
  EXPECT_EQ(ioctl_retrieve_fat(OrsaPort{1, ORSA_PROTO_ISCSI}, big.data(), 0, 0), 1u);
  EXPECT_TRUE(passthroughs().empty());
  // The largest payload that fits still goes out.
  EXPECT_EQ(ioctl_scsi_passthru(OrsaPort{1, ORSA_PROTO_ISCSI}, big.data(), 65519, 0, 0), 0u);
  EXPECT_EQ(passthroughs().size(), 1u);
}

// The NIC functions are counted again before every NIC request; a changed
// count fails the request and marks the tree stale, without touching it.
TEST_F(ChannelTest, ChangedNicCountFailsTheRequest) {
  uint8_t state[4] = {};
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, state, 0, 0), 0u);
  EXPECT_EQ(orsa_hierarchy_stale, 0);

  host_->setNicFunctionHidden(1, 1, true);
  host_->clearLog();
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, state, 0, 0), 1u);
  EXPECT_EQ(orsa_hierarchy_stale, 1);
  EXPECT_TRUE(passthroughs().empty()) << "nothing sent on a changed set of functions";
  EXPECT_EQ(orsa_glob.nic_port_instances[0], -1);
  EXPECT_EQ(orsa_glob.nic_valid_hba, 4u) << "discovery's count is discovery's to change";

  uint8_t dinfo[ORSA_DINFO_SIZE];
  EXPECT_EQ(ioctl_get_mtu(1, dinfo), 1u) << "raw ioctls fail the same way";
  EXPECT_EQ(refresh_orsa_hierarchy(), 1u);

  // iSCSI requests do not depend on the NIC functions.
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_ISCSI}, state, 0, 0), 0u);
  host_->setNicFunctionHidden(1, 1, false);
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, state, 0, 0), 0u);
  orsa_hierarchy_stale = 0;
}

TEST_F(ChannelTest, SizeQueryCountsStatusFourAsSuccess) {
  // The firmware's plain answer: the length the knob gives, for any target.
  host_->engine(0).registerHandler(6, 32, adapter::libraryPlainHandler());
  adapter::setLibrarySizeAnswer(host_->engine(0), 6, 32, 3000);
  uint8_t req[816] = {};
  uint16_t needed = 0;
  EXPECT_EQ(ioctl_get_a_target_size(OrsaPort{1, ORSA_PROTO_ISCSI}, req, 0, 0, &needed), 0u);
  EXPECT_EQ(needed, 3000);
  // A reply that fits answers status 0 and its length.
  adapter::setLibrarySizeAnswer(host_->engine(0), 6, 32, 500);
  EXPECT_EQ(ioctl_get_a_target_size(OrsaPort{1, ORSA_PROTO_ISCSI}, req, 0, 0, &needed), 0u);
  EXPECT_EQ(needed, 500);
  // Any other status is mapped.
  host_->engine(0).setFault(6, 32, {.status = 1, .additional = 46});
  EXPECT_EQ(ioctl_get_a_target_size(OrsaPort{1, ORSA_PROTO_ISCSI}, req, 0, 0, &needed), 144u);
  EXPECT_EQ(orsa_last_status_code, 144u);
}

TEST_F(ChannelTest, LinkDownStatusIsStillMapped) {
  host_->engine(0).setFault(1, 71, {.status = 2, .additional = 23});
  uint8_t state[4] = {};
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, state, 0, 0), 1u);
  EXPECT_EQ(orsa_last_status_code, 52u);
  EXPECT_STREQ(orsa_last_status_string, "The Link Status is Down. Please check the cable.");
}

// ---- the status map ---------------------------------------------------------------

// The map's messages are the library's one vocabulary: a code never reads one
// way from the map and another from the status table.
TEST(StatusMap, MessagesAreTheVocabularysTexts) {
  size_t with_message = 0;
  for (size_t i = 0; i < orsa_status_map_rows; ++i) {
    const OrsaStatusMapRow& r = orsa_status_map[i];
    if (r.message_code == 0) continue;
    ++with_message;
    EXPECT_STREQ(orsa_status_text(r.message_code), r.message) << "row " << i << ", code " << r.message_code;
  }
  EXPECT_EQ(with_message, 23u);
}

TEST(StatusMap, EveryRow) {
  const char* kLinkDown = "The Link Status is Down. Please check the cable.";
  struct Case {
    uint32_t status, additional;
    uint8_t opcode;
    uint32_t result;
    uint32_t message_code;  // 0: the last status is left alone
    const char* message;
  } cases[] = {
      {67, 0, 1, 1, 0, nullptr},
      {255, 16, 1, 1, 0, nullptr},
      {0, 16, 1, 0, 0, nullptr},
      {1, 163, 1, 5, 0, nullptr},
      {2, 0, 1, 116, 0, nullptr},
      {1, 16, 1, 1, 41,
       "Active session(s) present. Please log out of all sessions before clearing configuration. For systems "
       "booting from an iSCSI target, configuration can only be cleared using the Brennock Utility."},
      {2, 17, 1, 1, 27, "Session already opened."},
      {1, 18, 1, 35, 35, "Failed to get session related info, because session is in closed state."},
      {1, 19, 29, 32, 0, nullptr},
      {2, 19, 30, 32, 32,
       "Destination host not reachable. Please check cable and network connections and make sure IP address is "
       "valid. For more information, see Troubleshooting section in Kalderstone documentation."},
      {1, 21, 1, 1, 23, "TCP Connect Failure. Please make sure that the target is enabled and operational."},
      {1, 22, 1, 245, 0, nullptr},
      {2, 23, 1, 1, 52, kLinkDown},
      {1, 24, 17, 0, 33,
       "An error occurred changing the DHCP setting. Please check the configuration on the network and the DHCP "
       "server."},
      {1, 30, 1, 213, 0, nullptr},
      {1, 43, 1, 1, 24, "Initiator error. Please make sure your initiator is configured and enabled at the target."},
      {1, 44, 23, 25, 0, nullptr},
      {1, 44, 27, 25, 0, nullptr},
      {1, 44, 24, 1, 25,
       "Authentication failure. Please make sure your initiator is properly enabled for authentication at the "
       "target."},
      {1, 45, 1, 1, 26, "Authorization failure. Please make sure you are using the correct CHAP username and secret."},
      {1, 46, 1, 144, 144, "The requested target does not exist at this address."},
      {1, 56, 1, 1, 164, "Login Service not available. Please make sure that the target is operational."},
      {1, 58, 1, 1, 38,
       "Initiator CHAP secret is same as target CHAP secret. Please set a different initiator CHAP secret from the "
       "target CHAP secret."},
      {1, 59, 1, 1, 37,
       "Invalid Secret Length. Please make sure that the secret is over 12 characters and less than 16 characters "
       "in length."},
      {1, 75, 57, 229, 0, nullptr},
      {1, 75, 1, 213, 0, nullptr},
      {1, 75, 2, 327, 0, nullptr},
      {1, 77, 7, 1, 136, "Unable to flash the firmware image as there is a CRC mismatch."},
      {1, 79, 1, 151, 0, nullptr},
      {2, 81, 1, 151, 0, nullptr},
      {1, 83, 1, 153, 153, "This LoopBack type is not supported on this Kalderstone controller."},
      {1, 84, 1, 154, 154,
       "The given port is already in loopback state, only after exiting this loopback mode, a new loopback type "
       "can be applied."},
      {1, 85, 1, 155, 0, nullptr},
      {1, 99, 1, 198, 0, nullptr},
      {1, 100, 1, 243, 0, nullptr},
      {1, 104, 1, 253, 0, nullptr},
      {1, 162, 1, 262, 0, nullptr},
      {1, 105, 1, 213, 0, nullptr},
      {1, 105, 2, 5, 0, nullptr},
      {1, 1, 1, 5, 0, nullptr},
      {2, 50, 1, 5, 0, nullptr},
      {3, 0, 57, 229, 0, nullptr},
      {3, 0, 58, 1, 0, nullptr},
      {4, 0, 1, 31, 0, nullptr},
      {5, 0, 1, 196, 196, "IOCTL is not supported for the VF at all."},
      {5, 96, 1, 195, 195, "IOCTL is not supported with the current privilege level."},
      {5, 97, 1, 5, 0, nullptr},
      {20, 0, 23, 1, 175, "The Target count exceeded the configured maximum limit."},
      {20, 0, 24, 1, 0, nullptr},
      {30, 0, 169, 55, 0, nullptr},
      {30, 0, 168, 5, 0, nullptr},
      {31, 0, 24, 0, 0, nullptr},
      {31, 0, 28, 0, 0, nullptr},
      {31, 0, 29, 28, 0, nullptr},
      {44, 0, 1, 55, 0, nullptr},
      {46, 0, 1, 1, 45,
       "The Kalderstone iSCSI initiator TCP/IP settings are not configured. Please configure the TCP/IP settings "
       "before issuing this command."},
      {46, 3, 1, 5, 0, nullptr},
      {49, 0, 1, 1, 117,
       "The target logout request did not complete because IOs were pending. Please quiesce IO to the device and "
       "re-attempt the logout."},
      {66, 103, 69, 236, 0, nullptr},
      {66, 0, 69, 149, 0, nullptr},
      {66, 0, 73, 149, 0, nullptr},
      {66, 0, 70, 149, 0, nullptr},
      {66, 0, 12, 149, 0, nullptr},
      {66, 0, 8, 149, 0, nullptr},
      {66, 103, 9, 149, 149, "This Operation is not supported."},
      {6, 0, 1, 1, 0, nullptr},
      {45, 0, 1, 1, 0, nullptr},
      {65, 0, 1, 1, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "status " << c.status << " additional " << c.additional << " opcode "
                                      << int(c.opcode));
    orsa_set_last_status(9999, "untouched");
    EXPECT_EQ(OrsaStatusFromIOCTLResponse(c.status, c.additional, c.opcode), c.result);
    if (c.message_code == 0) {
      EXPECT_EQ(orsa_last_status_code, 9999u);
      EXPECT_STREQ(orsa_last_status_string, "untouched");
    } else {
      EXPECT_EQ(orsa_last_status_code, c.message_code);
      EXPECT_STREQ(orsa_last_status_string, c.message);
    }
  }
}

// ---- flash -----------------------------------------------------------------------

std::vector<uint32_t> flashRequest(uint32_t optype, const std::vector<uint8_t>& image, uint32_t start = 0) {
  std::vector<uint32_t> req(4 + (image.size() + 3) / 4 + 1, 0);
  req[0] = 1;
  req[1] = optype;
  req[2] = uint32_t(image.size());
  req[3] = start;
  if (!image.empty()) memcpy(req.data() + 4, image.data(), image.size());
  return req;
}

std::vector<uint8_t> imageOf(size_t n) {
  std::vector<uint8_t> img(n);
  for (size_t i = 0; i < n; ++i) img[i] = uint8_t(i * 7 + i / 251);
  return img;
}

TEST_F(ChannelTest, FlashGoesOutInChunks) {
  struct Case {
    uint32_t protocol;
    uint8_t offset_mode;
  } cases[] = {{ORSA_PROTO_ISCSI, 0}, {ORSA_PROTO_NIC, 1}};
  for (const Case& c : cases) {
    startHost(chardev::defaultHost());
    std::vector<uint8_t> img = imageOf(65537);
    std::vector<uint32_t> req = flashRequest(5, img, 0x1000);
    ASSERT_EQ(ioctl_upgrade_flash(OrsaPort{1, int32_t(c.protocol)}, req.data(), 0, 0, c.offset_mode), 0u);
    const auto& writes = adapter::flashWrites(host_->engine(0));
    ASSERT_EQ(writes.size(), 3u);
    const uint32_t lengths[] = {32768, 32768, 1};
    const uint32_t ops[] = {2, 2, 1};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(writes[i].length, lengths[i]) << i;
      EXPECT_EQ(writes[i].operation, ops[i]) << i;
      EXPECT_EQ(writes[i].optype, 5u);
      EXPECT_EQ(writes[i].request_length, 32788u) << "the whole payload, whatever the chunk";
      EXPECT_EQ(writes[i].offset, c.offset_mode ? 0x1000 + 32768 * i : 0x1000) << i;
    }
    // Placed at its offset when the offset goes along, else appended from the first chunk's.
    EXPECT_EQ(adapter::flashedAt(host_->engine(0), 5, 0x1000, img.size()), img);
    ASSERT_EQ(adapter::flashCommits(host_->engine(0)).size(), 1u);
    EXPECT_EQ(adapter::flashCommits(host_->engine(0))[0].offset, 0x1000u);
    for (const auto& e : passthroughs()) EXPECT_EQ(e.dev, c.protocol == ORSA_PROTO_NIC ? chardev::Dev::Nic : chardev::Dev::Iscsi);
  }
}

TEST_F(ChannelTest, EmptyFlashSendsNothing) {
  std::vector<uint32_t> req = flashRequest(5, {});
  EXPECT_EQ(ioctl_upgrade_flash(OrsaPort{1, ORSA_PROTO_ISCSI}, req.data(), 0, 0, 0), 0u);
  EXPECT_TRUE(passthroughs().empty());
}

TEST_F(ChannelTest, FlashStatuses) {
  struct Case {
    size_t image;     // bytes: one chunk or two
    uint32_t optype;
    uint8_t status, additional;
    uint32_t result;
    size_t commands;  // sent before the loop stopped
  } cases[] = {
      // "Already flashed" is success only when the last chunk reports it ...
      {100, 23, 1, 77, 0, 1},
      // ... never for an image of which chunks are still to come.
      {40000, 23, 1, 77, 1, 1},
      {100, 24, 1, 77, 1, 1},
      {100, 5, 23, 87, 337, 1},
      {100, 5, 23, 86, 336, 1},
      {40000, 5, 3, 0, 3, 1},  // any other status, unmapped
  };
  for (const Case& c : cases) {
    startHost(chardev::defaultHost());
    host_->engine(0).setFault(1, 7, {.status = c.status, .additional = c.additional, .times = 1});
    std::vector<uint32_t> req = flashRequest(c.optype, imageOf(c.image));
    EXPECT_EQ(ioctl_upgrade_flash(OrsaPort{1, ORSA_PROTO_ISCSI}, req.data(), 0, 0, 0), c.result)
        << c.image << " bytes, status " << int(c.status) << "/" << int(c.additional);
    EXPECT_EQ(passthroughs().size(), c.commands);
  }
  // A gateway failure is returned as it is.
  startHost(chardev::defaultHost());
  host_->failIoctl(chardev::Dev::Iscsi, ORSA_ISCSI_IOCTL_PASSTHRU, EIO, 1);
  std::vector<uint32_t> req = flashRequest(5, imageOf(100));
  EXPECT_EQ(ioctl_upgrade_flash(OrsaPort{1, ORSA_PROTO_ISCSI}, req.data(), 0, 0, 0), 295u);
}

TEST_F(ChannelTest, FlashComponentDetails) {
  std::vector<uint8_t> img = imageOf(1000);
  std::vector<uint32_t> req = flashRequest(9, img);
  ASSERT_EQ(ioctl_upgrade_flash(OrsaPort{2, ORSA_PROTO_NIC}, req.data(), 0, 0, 0), 0u);
  uint32_t words[6] = {4, 9, 4, 0x100, 0, 0};
  ASSERT_EQ(ioctl_get_flash_component_details(OrsaPort{2, ORSA_PROTO_NIC}, words, 0, 0), 0u);
  EXPECT_EQ(words[4], uint32_t(img[0x100] | img[0x101] << 8 | img[0x102] << 16 | uint32_t(img[0x103]) << 24))
      << "the word flashed at the offset asked";
  EXPECT_EQ(words[1], 9u);
  auto pts = passthroughs();
  EXPECT_EQ(command(pts.back()).size(), 40u);
  host_->engine(0).setFault(1, 6, {.status = 3});
  uint32_t again[6] = {4, 9, 4, 0x100, 0, 0};
  EXPECT_EQ(ioctl_get_flash_component_details(OrsaPort{2, ORSA_PROTO_NIC}, again, 0, 0), 3u) << "unmapped";
  EXPECT_EQ(again[4], 0u) << "not copied back on failure";
}

// ---- Linux host ---------------------------------------------------------------------

TEST_F(ChannelTest, CheckValidInterfacePassesOnlyPlainNames) {
  const char* refused[] = {"eth0;touch /tmp/injected", "$(touch /tmp/injected)", "a b", "", "eth0`id`",
                           "averyveryverylongname0"};
  for (const char* name : refused) {
    EXPECT_EQ(ORSA_check_valid_interface(name), 1u) << name;
  }
  struct stat sb;
  EXPECT_NE(stat("/tmp/injected", &sb), 0) << "nothing reached a shell";
  EXPECT_EQ(ORSA_check_valid_interface(nullptr), 1u);
  // A plain name is looked up (there is no such interface here).
  EXPECT_EQ(ORSA_check_valid_interface("vmnic0"), 1u);
  EXPECT_NE(stat("/tmp/ifname_vmnic0", &sb), 0) << "the temporary file is removed";
}

}  // namespace
}  // namespace channel_test

namespace channel_test {
namespace {

// A stale tree is rebuilt at the next API entry, not inside the request that
// found the change: nodes a caller holds stay valid until it returns.
TEST_F(ChannelTest, StaleTreeIsRebuiltAtTheNextApiEntry) {
  // Discovery opens the iSCSI devices itself.
  os_put_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
  ASSERT_EQ(ORSA_init(), 0u);
  HmProperty* body = HM_PROPERTY(&ORSAServiceVersion_node);
  const std::string built = body->value;
  orsa_strlcpy(body->value, "held by a caller", sizeof body->value);

  host_->setNicFunctionHidden(1, 0, true);
  uint8_t state[4] = {};
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, state, 0, 0), 1u);
  EXPECT_EQ(orsa_hierarchy_stale, 1);
  EXPECT_EQ(HM_PROPERTY(&ORSAServiceVersion_node), body) << "not torn down under the request";
  EXPECT_STREQ(body->value, "held by a caller");

  u32 parent = 0;
  ORSA_get_parent_tag(0, &parent);
  EXPECT_EQ(orsa_hierarchy_stale, 0);
  EXPECT_EQ(std::string(HM_PROPERTY(&ORSAServiceVersion_node)->value), built) << "the tree was built again";
  EXPECT_EQ(ORSA_exit(), 0u);

  // Without a tree a stale mark is dropped: the next build discovers afresh.
  orsa_hierarchy_stale = 1;
  EXPECT_EQ(orsa_rebuild_stale_hierarchy(), 0u);
  EXPECT_EQ(orsa_hierarchy_stale, 0);
}

}  // namespace
}  // namespace channel_test

namespace channel_test {
namespace {

std::string readFile(const char* path) {
  std::string out;
  FILE* fp = fopen(path, "r");
  if (fp == nullptr) return out;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, fp)) > 0) out.append(buf, n);
  fclose(fp);
  return out;
}

// A command that fails with additional status 23 (link down) is mapped like
// any other but leaves no error lines in the log.
TEST_F(ChannelTest, LinkDownFailureIsNotLogged) {
  ASSERT_EQ(system("mkdir -p " ORSA_LOG_DIR), 0);
  i32 level = orsa_debug_level;
  orsa_debug_level = ORSA_LOG_DEBUG;
  ASSERT_EQ(orsa_log_open(), 0u);
  uint8_t state[4] = {};
  host_->engine(0).setFault(1, 71, {.status = 2, .additional = 23, .times = 1});
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, state, 0, 0), 1u);
  host_->engine(0).setFault(1, 71, {.status = 2, .additional = 46, .times = 1});
  EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, ORSA_PROTO_NIC}, state, 0, 0), 144u);
  orsa_log_close();
  orsa_debug_level = level;
  std::string log = readFile(ORSA_LOG_FILE);
  EXPECT_EQ(log.find("failed with status 0x2\n"), log.rfind("failed with status 0x2\n")) << log;
  EXPECT_NE(log.find("additional status is:0x2e"), std::string::npos) << log;
  EXPECT_EQ(log.find("additional status is:0x17"), std::string::npos) << log;
}

// Allocation failures fail the request before anything is sent.
TEST_F(ChannelTest, AllocationFailuresSendNothing) {
  struct Case {
    const char* what;
    i32 countdown;  // allocations that succeed first
    uint32_t protocol;
  } cases[] = {{"builder buffer", 0, ORSA_PROTO_ISCSI}, {"NIC pass-through block", 1, ORSA_PROTO_NIC}};
  for (const Case& c : cases) {
    uint8_t state[4] = {7, 7, 7, 7};
    orsa_dmalloc_fail_countdown = c.countdown;
    EXPECT_EQ(ioctl_get_port_state(OrsaPort{1, int32_t(c.protocol)}, state, 0, 0), 1u) << c.what;
    orsa_dmalloc_fail_countdown = -1;
    EXPECT_EQ(state[0], 7) << c.what;
  }
  EXPECT_TRUE(passthroughs().empty());
  std::vector<uint32_t> req(4 + 8, 0);
  req[2] = 32;
  orsa_dmalloc_fail_countdown = 0;
  EXPECT_EQ(ioctl_upgrade_flash(OrsaPort{1, ORSA_PROTO_ISCSI}, req.data(), 0, 0, 0), 1u);
  orsa_dmalloc_fail_countdown = -1;
  EXPECT_TRUE(passthroughs().empty());
}

TEST_F(ChannelTest, IscsiDeviceThatDoesNotOpenIsSkipped) {
  host_->failOpen(std::string(ORSA_ISCSI_DEVICE_PREFIX) + "0", EBUSY);
  os_put_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
  EXPECT_EQ(os_get_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS), 1u);
  orsa_glob.iscsi_valid_hba = 1;
  char name[32];
  ASSERT_EQ(ioctl_get_vmhba_name(1, name), 0u);
  EXPECT_STREQ(name, "vmhba34");
}

}  // namespace
}  // namespace channel_test

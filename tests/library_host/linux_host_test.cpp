// The Linux host's functions against a fixed command runner and a file root
// of their own: which commands go out, in which order, and what the answers
// and files make of them. Nothing runs a real tool (and the test root has a
// network namespace of its own besides).
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backend/orsa_gateway.h"
#include "backend/orsa_linuxhost.h"
#include "backend/orsa_openiscsi.h"
#include "tree_fixture.h"

namespace {

const char* const kRoot = "/tmp/linuxroot";

// An answer of the runner: for a command holding `match`, its exit status
// and the text it leaves in the file /tmp/<file> below the root.
struct Answer {
  std::string match;
  int status;
  std::string file;
  std::string text;
};

struct Runner {
  std::vector<std::string> commands;
  std::vector<Answer> answers;
} runner;

int fakeRun(const char* command) {
  runner.commands.push_back(command);
  for (const Answer& a : runner.answers) {
    if (std::string(command).find(a.match) == std::string::npos) continue;
    if (!a.file.empty()) std::ofstream(std::string(kRoot) + "/tmp/" + a.file) << a.text;
    return a.status << 8;  // as system() reports an exit status
  }
  return 127 << 8;  // no such tool
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class LinuxHostTools : public TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    for (const char* d : {"", "/tmp", "/sys", "/sys/class", "/sys/class/net", "/sys/class/net/eth1",
                          "/sys/class/firmware", "/sys/fs", "/sys/fs/selinux", "/lib"})
      mkdir((std::string(kRoot) + d).c_str(), 0755);
    runner = Runner{};
    host_ = OrsaLinuxHost{fakeRun, kRoot};
    orsa_set_linux_host(&host_);
    memset(orsa_glob.nic_if_names, 0, sizeof orsa_glob.nic_if_names);
    snprintf(orsa_glob.nic_if_names[0], sizeof orsa_glob.nic_if_names[0], "eth1");
    snprintf(orsa_glob.nic_if_names[1], sizeof orsa_glob.nic_if_names[1], "eth0;reboot");
    ORSA_NIC_INBOX_DRIVER_LOADED = 0;
  }
  void TearDown() override {
    orsa_set_linux_host(nullptr);
    memset(orsa_glob.nic_if_names, 0, sizeof orsa_glob.nic_if_names);
    memset(orsa_glob.iscsi_pci_addresses, 0, sizeof orsa_glob.iscsi_pci_addresses);
    ORSA_NIC_INBOX_DRIVER_LOADED = 0;
    TreeFixture::TearDown();
  }
  static void hostFile(const char* path, const std::string& text) { std::ofstream(std::string(kRoot) + path) << text; }
  static u32 lastCode() {
    u32 code = 0;
    char text[ORSA_STATUS_TEXT_SIZE];
    ORSA_get_last_status(&code, text);
    return code;
  }
  // The commands sent, each cut to its first two words.
  static std::vector<std::string> verbs() {
    std::vector<std::string> out;
    for (const std::string& c : runner.commands) {
      size_t sp = c.find(' ', c.find(' ') + 1);
      out.push_back(c.substr(0, sp));
    }
    return out;
  }
  OrsaLinuxHost host_{};
};

TEST_F(LinuxHostTools, DistributionFromTheKernelRelease) {
  struct Case {
    const char* release;  // nullptr: uname writes nothing
    i32 code;
  } cases[] = {
      {"4.18.0-305.el8.x86_64", 2},     {"3.10.0-1160.el7.x86_64", 3}, {"5.15.0-91-generic", 11},
      {"6.1.0-13-amd64", 13},           {"5.14.21-150500.55-default", 8}, {"5.4.17-2136.uek.x86_64", 7},
      {"6.6.6-custom", -1},             {nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release ? c.release : "(nothing)");
    runner = Runner{};
    runner.answers = {{"uname -r", 0, c.release ? "kernelname" : "", c.release ? std::string(c.release) + "\n" : ""}};
    unlink((std::string(kRoot) + "/tmp/kernelname").c_str());
    EXPECT_EQ(find_os_distribution(), c.code);
    ASSERT_EQ(runner.commands.size(), 1u);
    EXPECT_NE(runner.commands[0].find("> /tmp/linuxroot/tmp/kernelname"), std::string::npos);
    EXPECT_FALSE(exists(std::string(kRoot) + "/tmp/kernelname")) << "the scratch file is left behind";
  }
}

TEST_F(LinuxHostTools, IscsiFunctionsListedPerVendorAndDevice) {
  runner.answers = {
      {"1c4e:3a22", 0, "orsa_scsi_ids", "0000:03:00.2\n\n0000:03:00.3\n"},
      {"1e7b:3b22", 0, "orsa_scsi_ids", "0000:07:00.4\n0000:08:00.1;rm -rf /\n"},
      {"lspci", 1, "orsa_scsi_ids", ""},
  };
  EXPECT_EQ(ORSA_get_all_iscsi_devices(), 3u);
  EXPECT_STREQ(orsa_glob.iscsi_pci_addresses[0], "0000:03:00.2");
  EXPECT_STREQ(orsa_glob.iscsi_pci_addresses[1], "0000:03:00.3");
  EXPECT_STREQ(orsa_glob.iscsi_pci_addresses[2], "0000:07:00.4");
  EXPECT_STREQ(orsa_glob.iscsi_pci_addresses[3], "") << "an address unfit for a command line is dropped";
  // Two vendors times six iSCSI device ids, in that order, lower-case hex.
  ASSERT_EQ(runner.commands.size(), 12u);
  EXPECT_EQ(runner.commands[0].rfind("lspci -D -d 1c4e:3a12 ", 0), 0u) << runner.commands[0];
  EXPECT_EQ(runner.commands[5].rfind("lspci -D -d 1c4e:3b22 ", 0), 0u) << runner.commands[5];
  EXPECT_EQ(runner.commands[6].rfind("lspci -D -d 1e7b:3a12 ", 0), 0u) << runner.commands[6];
  EXPECT_FALSE(exists(std::string(kRoot) + "/tmp/orsa_scsi_ids"));
}

TEST_F(LinuxHostTools, PciAddressOfANicFunction) {
  struct Case {
    const char* bus_info;
    u32 rc;
    const char *bus, *fn;
    u32 domain;
  } cases[] = {
      {"0000:05:00.1", 0, "0x5", "0x1", 0},
      {"0001:0a:00.3", 0, "0xa", "0x3", 1},
      {"0a:00.2", 0, "0xa", "0x2", 77},  // no domain in the address: left alone
      {"", 1, "-", "-", 77},
      {"05:00", 1, "-", "-", 77},
      {"zz:00.1", 1, "-", "-", 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bus_info);
    runner = Runner{};
    runner.answers = {{"ethtool -i eth1", 0, "IfName", std::string(c.bus_info) + "\n"}};
    char bus[HM_VALUE_SIZE] = "-", fn[HM_VALUE_SIZE] = "-";
    u32 domain = 77;
    EXPECT_EQ(ORSA_backend_client_nic_bdf(1, bus, fn, &domain), c.rc);
    EXPECT_STREQ(bus, c.bus);
    EXPECT_STREQ(fn, c.fn);
    EXPECT_EQ(domain, c.domain);
    EXPECT_FALSE(exists(std::string(kRoot) + "/tmp/IfName"));
  }
  // A function without a usable interface name sends nothing.
  runner = Runner{};
  char bus[HM_VALUE_SIZE], fn[HM_VALUE_SIZE];
  u32 domain = 0;
  for (u32 function : {0u, 2u, 3u, 200u}) EXPECT_EQ(ORSA_backend_client_nic_bdf(function, bus, fn, &domain), 1u);
  EXPECT_TRUE(runner.commands.empty());
}

TEST_F(LinuxHostTools, InboxDriverWhenTheModuleIsNotExternal) {
  struct Case {
    int status;
    u8 flag;
  } cases[] = {{0, 0}, {1, 1}, {2, 0}};
  for (const Case& c : cases) {
    runner = Runner{};
    runner.answers = {{"modinfo sornic", c.status, "", ""}};
    ORSA_NIC_INBOX_DRIVER_LOADED = 0;
    EXPECT_EQ(ORSA_get_nic_driver_type(), 0u);
    EXPECT_EQ(ORSA_NIC_INBOX_DRIVER_LOADED, c.flag) << c.status;
    EXPECT_EQ(runner.commands.size(), 1u);
  }
}

TEST_F(LinuxHostTools, FirmwareThroughEthtool) {
  HmNode* ks = Group(root_, "Kalderstone", 0);
  Prop(ks, "ActiveFirmwareVersion", "11.2.1149.0");
  Prop(ks, "FirmwareVersionOnFlash", "11.2.1149.0");
  const std::string fw = "/tmp/fw.ufi";
  std::ofstream(fw) << "image";
  struct Case {
    const char* what;
    const char* flags;    // of eth1: bit 0 = up
    const char* enforce;  // SELinux
    int status;           // of ethtool -f
    const char* errors;   // its first line
    u32 rc, code;
    std::vector<std::string> verbs;
  } cases[] = {
      {"up, enforcing", "0x1003", "1", 0, "", 0, 55,
       {"ethtool -h", "setenforce 0", "ethtool -f", "setenforce 1"}},
      {"down, permissive", "0x1002", "0", 0, "", 0, 55, {"ifconfig eth1", "ethtool -h", "ethtool -f", "ifconfig eth1"}},
      {"key missing", "0x1003", "0", 255, "Required key not available", 337, 337, {"ethtool -h", "ethtool -f"}},
      {"key rejected", "0x1003", "0", 255, "Key was rejected by service", 336, 336, {"ethtool -h", "ethtool -f"}},
      {"twice", "0x1002", "0", 255, "Resource temporarily unavailable", 318, 318,
       {"ifconfig eth1", "ethtool -h", "ethtool -f", "ifconfig eth1"}},
      {"other 255", "0x1003", "0", 255, "No such device", 1, 166, {"ethtool -h", "ethtool -f"}},
      {"failed", "0x1003", "1", 1, "", 1, 166, {"ethtool -h", "setenforce 0", "ethtool -f", "setenforce 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    runner = Runner{};
    runner.answers = {{"ethtool -h", 0, "", ""}, {"ethtool -f", c.status, "m_flash.txt", c.errors},
                      {"ifconfig", 0, "", ""}, {"setenforce", 0, "", ""}};
    hostFile("/sys/class/net/eth1/flags", std::string(c.flags) + "\n");
    hostFile("/sys/fs/selinux/enforce", c.enforce);
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_firmware_download(ks, 1, 1, fw.c_str()), c.rc);
    EXPECT_EQ(lastCode(), c.code);
    EXPECT_EQ(verbs(), c.verbs);
    for (const std::string& cmd : runner.commands) {
      if (cmd.rfind("ethtool -f", 0) == 0) {
        EXPECT_EQ(cmd, "ethtool -f eth1 /tmp/fw.ufi >/dev/null 2> /tmp/linuxroot/tmp/m_flash.txt");
      }
      if (cmd.rfind("ifconfig", 0) == 0) {
        EXPECT_TRUE(cmd == "ifconfig eth1 up 2> /dev/null" || cmd == "ifconfig eth1 down 2> /dev/null") << cmd;
      }
    }
    if (c.verbs.front() == "ifconfig eth1") {
      EXPECT_NE(runner.commands.front().find(" up "), std::string::npos);
      EXPECT_NE(runner.commands.back().find(" down "), std::string::npos);
    }
    EXPECT_FALSE(exists(std::string(kRoot) + "/tmp/m_flash.txt"));
  }

  // Kind 4: a reboot is asked for only when the flash holds another version.
  struct Versions {
    const char *active, *flashed;
    u32 code;
  } versions[] = {{"11.2.1149.0", "11.2.1149.0", 0}, {"11.2.1149.0", "12.0.1.0", 55}};
  HmNode* active = internal_get_node(ks, "ActiveFirmwareVersion", HM_KIND_PROPERTY);
  HmNode* flashed = internal_get_node(ks, "FirmwareVersionOnFlash", HM_KIND_PROPERTY);
  hostFile("/sys/class/net/eth1/flags", "0x1003\n");
  for (const Versions& v : versions) {
    snprintf(HM_PROPERTY(active)->value, HM_VALUE_SIZE, "%s", v.active);
    snprintf(HM_PROPERTY(flashed)->value, HM_VALUE_SIZE, "%s", v.flashed);
    runner = Runner{};
    runner.answers = {{"ethtool", 0, "", ""}};
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_firmware_download(ks, 1, 4, fw.c_str()), 0u);
    EXPECT_EQ(lastCode(), v.code) << v.flashed;
  }
  HmNode* bare = Group(root_, "Kalderstone", 1);
  runner = Runner{};
  runner.answers = {{"ethtool", 0, "", ""}};
  EXPECT_EQ(ORSA_firmware_download(bare, 1, 4, fw.c_str()), 0u);
  EXPECT_EQ(lastCode(), 264u);
}

TEST_F(LinuxHostTools, FirmwareThroughTheDriversFlashFile) {
  HmNode* ks = Group(root_, "Kalderstone", 0);
  const std::string fw = "/tmp/oc-12.0.ufi";
  std::ofstream(fw) << "image bytes";
  hostFile("/sys/class/net/eth1/flags", "0x1003\n");
  runner.answers = {{"ethtool -h", 1, "", ""}};  // this ethtool cannot flash
  EXPECT_EQ(ORSA_firmware_download(ks, 1, 1, fw.c_str()), 0u);
  EXPECT_EQ(lastCode(), 55u);
  EXPECT_EQ(slurp(std::string(kRoot) + "/lib/firmware/oc-12.0.ufi"), "image bytes");
  struct stat st {};
  ASSERT_EQ(stat((std::string(kRoot) + "/lib/firmware").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(slurp(std::string(kRoot) + "/sys/class/net/eth1/flash_fw"), "oc-12.0.ufi");
  EXPECT_EQ(slurp(std::string(kRoot) + "/sys/class/firmware/timeout"), "360\n");
  EXPECT_EQ(verbs(), std::vector<std::string>{"ethtool -h"});

  // A file that cannot be read is a failed upgrade.
  orsa_reset_last_status();
  EXPECT_EQ(ORSA_firmware_download(ks, 1, 1, "/tmp/missing.ufi"), 1u);
  EXPECT_EQ(lastCode(), 166u);
}

TEST_F(LinuxHostTools, FirmwareRefusedBeforeAnyCommand) {
  HmNode* ks = Group(root_, "Kalderstone", 0);
  struct Case {
    HmNode* node;
    u32 function;
    const char* path;
  } cases[] = {
      {ks, 1, "/tmp/fw.ufi;reboot"}, {ks, 1, "-f.ufi"},     {ks, 1, nullptr},
      {ks, 2, "/tmp/fw.ufi"},        {ks, 0, "/tmp/fw.ufi"}, {nullptr, 1, "/tmp/fw.ufi"},
  };
  for (const Case& c : cases) {
    runner = Runner{};
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_firmware_download(c.node, c.function, 1, c.path), 1u) << (c.path ? c.path : "(null)");
    EXPECT_EQ(lastCode(), 166u);
    EXPECT_TRUE(runner.commands.empty());
  }
}

// A PF of the family: its configuration header carries vendor 0x1C4E, or
// 0x1E7B without the Pivard VF's device id; an unreadable header is refused.
TEST_F(LinuxHostTools, ValidInterfaceByItsConfigurationHeader) {
  struct Case {
    const char* bus_info;
    bool ks, pivard, pivard_vf, unreadable;
    u32 rc;
    size_t lspci;  // header tests run
  } cases[] = {
      {"0000:03:00.0", true, false, false, false, 0, 1},
      {"0000:03:00.0", false, true, false, false, 0, 3},
      {"0000:03:00.0", false, true, true, false, 1, 3},
      {"0000:03:00.0", false, false, false, true, 1, 3},
      {"0000:03:00.0", false, false, false, false, 0, 3},
      {"", true, false, false, false, 1, 0},
      {"03:00.0;reboot", true, false, false, false, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.bus_info) + (c.ks ? " KS" : c.pivard ? " Pivard" : " other"));
    runner = Runner{};
    runner.answers = {{"ethtool -i eth1", 0, "ifname_eth1", std::string(c.bus_info) + "\n"},
                      {"\"4e 1c\"", c.ks ? 0 : 1, "", ""},
                      {"\"7b 1e\"", c.pivard ? 0 : 1, "", ""},
                      {"\"20 5c\"", c.pivard_vf ? 0 : 1, "", ""},
                      {"\"ff ff ff ff\"", c.unreadable ? 0 : 1, "", ""}};
    EXPECT_EQ(ORSA_check_valid_interface("eth1"), c.rc);
    size_t lspci = 0;
    for (const std::string& cmd : runner.commands) {
      if (cmd.rfind("lspci -s 0000:03:00.0 -x", 0) == 0) lspci++;
    }
    EXPECT_EQ(lspci, c.lspci);
    EXPECT_FALSE(exists(std::string(kRoot) + "/tmp/ifname_eth1"));
  }
}

}  // namespace

namespace {

// Whatever a host command of the library might do to an interface, it meets
// only the test root's own loopback device.
TEST(TestRoot, HasANetworkNamespaceOfItsOwn) {
  std::ifstream dev("/proc/self/net/dev");
  ASSERT_TRUE(dev.good());
  std::vector<std::string> interfaces;
  std::string line;
  while (std::getline(dev, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t start = line.find_first_not_of(' ');
    interfaces.push_back(line.substr(start, colon - start));
  }
  EXPECT_EQ(interfaces, std::vector<std::string>{"lo"});
}

}  // namespace

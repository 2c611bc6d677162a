// The settings of SR-IOV virtual functions: read from the NIC driver's VF
// table, changed by the host's "ip link set" (run here by a recorder that
// plays the host's ip on the emulated host), and the NICLogicalHBA groups a
// refresh makes from the table.
#include "boot_vf_fixture.h"
#include "config/cfg_boot_vf.h"
#include "fw_cfg_boot.h"

namespace {

using Argv = std::vector<std::string>;

class VfSettings : public BootVfHost {
protected:
    static HmNode *vf(int n, int function = 0) { return group(nic(kVeskarn, function), "NICLogicalHBA" + std::to_string(n)); }
    static std::string mac_text(const std::array<u8, 6> &m)
    {
        char t[32];
        snprintf(t, sizeof t, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
        return t;
    }
};

TEST_F(VfSettings, ReadFromTheDriversTable)
{
    ASSERT_NE(vf(3), nullptr);
    EXPECT_EQ(vf(4), nullptr);
    EXPECT_EQ(get(vf(2), "MACAddress"), mac_text(adapter::vfParams(fw(kVeskarn), 0, 2).mac));
    EXPECT_EQ(get(vf(2), "VLANID"), "0");
    EXPECT_EQ(get(vf(2), "TxRate"), "10000");
    EXPECT_EQ(get(vf(2), "LinkStatus"), "Up");
    adapter::setVfParams(fw(kVeskarn), 0, 2, {{0x02, 1, 2, 3, 4, 5}, 17, 25, 0});
    EXPECT_EQ(get(vf(2), "MACAddress"), "02:01:02:03:04:05");
    EXPECT_EQ(get(vf(2), "VLANID"), "17");
    EXPECT_EQ(get(vf(2), "TxRate"), "250");
    EXPECT_EQ(get(vf(2), "LinkStatus"), "Down");
    // The table cannot be read.
    host_->failIoctl(chardev::Dev::Nic, ORSA_NIC_IOCTL_VF_TABLE, EIO, 1);
    u32 rc = 0;
    get(vf(2), "VLANID", &rc);
    EXPECT_EQ(rc, 1u);
}

TEST_F(VfSettings, ChangesRunIpLinkAsArgumentVectors)
{
    adapter::setVfParams(fw(kVeskarn), 0, 1, {{0x02, 0, 0, 0, 0, 1}, 33, 100, 1});
    struct Case {
        const char *property, *value;
        Argv argv;
        const char *reads;   // the property afterwards, read from the table
    } cases[] = {
        {"MACAddress", "02-AA-BB-CC-DD-0E", {"ip", "link", "set", "vmnic6", "vf", "1", "mac", "02:aa:bb:cc:dd:0e"},
         "02:aa:bb:cc:dd:0e"},
        {"VLANID", "4094", {"ip", "link", "set", "vmnic6", "vf", "1", "vlan", "4094"}, "4094"},
        {"VLANID", "0", {"ip", "link", "set", "vmnic6", "vf", "1", "vlan", "0"}, "0"},
        {"VLANID", "0x11", {"ip", "link", "set", "vmnic6", "vf", "1", "vlan", "17"}, "17"},
        {"TxRate", "500", {"ip", "link", "set", "vmnic6", "vf", "1", "vlan", "17", "rate", "500"}, "500"},
        // The tree reads "010" as 8; 8 is what is sent, not the text.
        {"TxRate", "010", {"ip", "link", "set", "vmnic6", "vf", "1", "vlan", "17", "rate", "8"}, "0"},
        {"TxRate", " 20", {"ip", "link", "set", "vmnic6", "vf", "1", "vlan", "17", "rate", "20"}, "20"},
    };
    for (const Case &c : cases) {
        commands_.clear();
        ASSERT_EQ(set(vf(1), c.property, c.value), 0u) << c.property << "=" << c.value << ": " << last_text();
        ASSERT_EQ(commands_.size(), 1u) << c.property << "=" << c.value;
        EXPECT_EQ(commands_[0], c.argv) << c.property << "=" << c.value;
        EXPECT_EQ(get(vf(1), c.property), c.reads) << c.property << "=" << c.value;
    }
    // Other VFs and functions are left alone.
    EXPECT_EQ(get(vf(0), "VLANID"), "0");
}

TEST_F(VfSettings, RefusedValuesRunNothing)
{
    struct Case {
        const char *what, *property, *value;
        u32 status;
    } cases[] = {
        {"MAC of no hex digits", "MACAddress", "zz-zz-zz-zz-zz-zz", 17},
        {"MAC with a field of one digit too many", "MACAddress", "02-aa-bb-cc-d-0ee", 17},
        {"VLAN 4095 is the tree's to refuse", "VLANID", "4095", ORSA_STATUS_OUT_OF_RANGE},
        {"a rate of 0", "TxRate", "0", ORSA_STATUS_OUT_OF_RANGE},
    };
    for (const Case &c : cases) {
        commands_.clear();
        EXPECT_EQ(set(vf(1), c.property, c.value), 1u) << c.what;
        EXPECT_EQ(last_code(), c.status) << c.what;
        EXPECT_TRUE(commands_.empty()) << c.what;
    }
    // The handler itself refuses 4095 with 17 (and 4094 runs).
    HmNode *p = internal_get_node(vf(1), "VLANID", HM_KIND_PROPERTY);
    char value[HM_VALUE_SIZE] = "4095";
    commands_.clear();
    EXPECT_EQ(handle_niclogicalhba_vlanid(p, value, HM_MODE_SET), 1u);
    EXPECT_EQ(last_code(), 17u);
    EXPECT_TRUE(commands_.empty());
    snprintf(value, sizeof value, "%s", "4094");
    EXPECT_EQ(handle_niclogicalhba_vlanid(p, value, HM_MODE_SET), 0u);
    EXPECT_EQ(commands_.size(), 1u);
}

// A VF the driver no longer reports reads "N/A"; a rate set on it goes out
// with "vlan 0", and the host's refusal comes back to the client.
TEST_F(VfSettings, AFailingCommandIsReported)
{
    host_->setVfCount(kVeskarn, 0, 3);
    EXPECT_EQ(get(vf(3), "VLANID"), "N/A");
    EXPECT_EQ(get(vf(3), "MACAddress"), "N/A");
    EXPECT_EQ(get(vf(3), "LinkStatus"), "N/A");
    commands_.clear();
    EXPECT_EQ(set(vf(3), "TxRate", "100"), 1u);
    ASSERT_EQ(commands_.size(), 1u);
    EXPECT_EQ(commands_[0], (Argv{"ip", "link", "set", "vmnic6", "vf", "3", "vlan", "0", "rate", "100"}));
    EXPECT_EQ(last_code(), 1u);
    EXPECT_NE(last_text().find("ip link set vmnic6 vf 3 vlan 0 rate 100"), std::string::npos) << last_text();
    EXPECT_NE(last_text().find("status 2"), std::string::npos) << last_text();
    EXPECT_EQ(cached(vf(3), "TxRate"), "100");   // the default: the change did not happen

    // Any failing exit status, for any setting.
    for (const char *property : {"MACAddress", "VLANID", "TxRate"}) {
        forced_status_ = 1;
        const char *value = strcmp(property, "MACAddress") == 0 ? "02-00-00-00-00-09" : "5";
        EXPECT_EQ(set(vf(0), property, value), 1u) << property;
        EXPECT_EQ(last_code(), 1u) << property;
        forced_status_ = -1;
    }
    EXPECT_EQ(get(vf(0), "VLANID"), "0");
}

// The driver's table has room for 60 VFs; a function reporting 64 gets 60
// groups, each reading its own entry. A refresh makes them again.
TEST_F(VfSettings, SixtyOfSixtyFourAndARefreshRebuilds)
{
    EXPECT_EQ(instances(nic(kVeskarn, 1), "NICLogicalHBA"), 60);
    adapter::setVfParams(fw(kVeskarn), 1, 59, {{0x02, 9, 9, 9, 9, 59}, 59, 10, 1});
    EXPECT_EQ(get(vf(59, 1), "MACAddress"), "02:09:09:09:09:3b");
    EXPECT_EQ(get(vf(59, 1), "VLANID"), "59");

    host_->setVfCount(kVeskarn, 1, 2);
    EXPECT_EQ(ORSA_refresh_group(nic(kVeskarn, 1)->tag), 0u);
    EXPECT_EQ(instances(nic(kVeskarn, 1), "NICLogicalHBA"), 2);
    host_->setVfCount(kVeskarn, 1, 0);
    EXPECT_EQ(ORSA_refresh_group(nic(kVeskarn, 1)->tag), 0u);
    EXPECT_EQ(instances(nic(kVeskarn, 1), "NICLogicalHBA"), 0);
    host_->setVfCount(kVeskarn, 1, 5);
    EXPECT_EQ(ORSA_refresh_group(nic(kVeskarn, 1)->tag), 0u);
    EXPECT_EQ(instances(nic(kVeskarn, 1), "NICLogicalHBA"), 5);

    char out[HM_VALUE_SIZE] = "";
    EXPECT_EQ(ORSA_get_vf_params((u32)get_port_number(nic(kVeskarn, 1)), 4, out, "LinkStatus"), 0u);
    EXPECT_STREQ(out, "1");
    EXPECT_EQ(ORSA_get_vf_params((u32)get_port_number(nic(kVeskarn, 1)), 5, out, "TxRate"), 0u);
    EXPECT_STREQ(out, "N/A");
    EXPECT_EQ(ORSA_get_vf_params(999, 0, out, "TxRate"), 1u);
}

// The host's own runner, in the test root's network namespace: the host's
// ip (if there is one) knows no such interface, and the client hears of it.
TEST_F(VfSettings, TheHostsRunnerReportsTheHostsRefusal)
{
    orsa_set_command_runner(nullptr, nullptr);
    EXPECT_EQ(set(vf(1), "VLANID", "10"), 1u);
    EXPECT_EQ(last_code(), 1u);
    EXPECT_NE(last_text().find("ip link set vmnic6 vf 1 vlan 10"), std::string::npos) << last_text();
}

}  // namespace

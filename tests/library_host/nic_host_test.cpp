// NIC-side property fillers that ask the NIC driver and the adapter, against
// the emulated host.
#include <gtest/gtest.h>

#include <memory>

#include "backend/orsa_gateway.h"
#include "backend/orsa_nicprops.h"
#include "emulated_host.h"
#include "tree/hm_status.h"
#include "tree_fixture.h"

namespace {

// Default host: NIC functions 1, 2 are functions 0, 1 of the KS3 at bus 3
// (MTU 1500, 9000; vmnic0, vmnic1); 3, 4 are functions 0, 1 of the Veskarn
// at bus 5 (function 0 with 4 VFs).
class NicHost : public TreeFixture {
protected:
    void SetUp() override
    {
        TreeFixture::SetUp();
        memset(&orsa_glob, 0, sizeof orsa_glob);
        for (u32 i = 0; i < ORSA_MAX_FUNCTIONS; i++) {
            orsa_glob.nic_port_instances[i] = -1;
            orsa_glob.iscsi_port_instances[i] = -1;
        }
        host_ = std::make_unique<chardev::EmulatedHost>(chardev::defaultHost());
        ASSERT_TRUE(host_->writeHostFiles());
        chardev::install(host_.get());
        orsa_glob.iscsi_valid_hba = os_get_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
        orsa_glob.nic_valid_hba = os_get_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
        os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
        ASSERT_EQ(orsa_glob.nic_valid_hba, 4u);
        orsa_glob.controller_protocol[0] = 2;

        ks_ = Group(root_, "Kalderstone", 0);
        nic_ = Group(ks_, "NICPhysicalHBA", 1);
        Prop(nic_, "PortNumber", "1");
        for (const char *p : {"MACAddress", "MTUSize", "PHYLinkDownReason", "IfName"})
            Prop(nic_, p, "unset");
        HM_GROUP(nic_)->nhandle = &instance_;
        orsa_reset_last_status();
    }

    void TearDown() override
    {
        HM_GROUP(nic_)->nhandle = nullptr;
        os_put_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
        os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
        EXPECT_EQ(host_->openDescriptors(), 0u);
        chardev::install(nullptr);
        host_.reset();
        memset(&orsa_glob, 0, sizeof orsa_glob);
        TreeFixture::TearDown();
    }

    u32 Status()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE];
        orsa_get_last_status(&code, text);
        last_text_ = text;
        return code;
    }

    std::unique_ptr<chardev::EmulatedHost> host_;
    u32 instance_ = 2;  // NIC function 2: the KS3's function 1
    HmNode *ks_ = nullptr, *nic_ = nullptr;
    std::string last_text_;
};

TEST_F(NicHost, MacAddressFromTheAdapter)
{
    ASSERT_EQ(ORSA_get_nic_macaddress(nic_), 0u);
    std::array<uint8_t, 6> m = host_->engine(0).permanentMac(1);
    char want[32];
    snprintf(want, sizeof want, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    EXPECT_EQ(Value(nic_, "MACAddress"), want);

    host_->failIoctl(chardev::Dev::Nic, ORSA_NIC_IOCTL_PASSTHRU, EIO);
    EXPECT_EQ(ORSA_get_nic_macaddress(nic_), 1u);
    EXPECT_EQ(Status(), 246u);
    EXPECT_EQ(last_text_, "Failed to get current MACAddress. Please check orsa2d.log file for more information.");
    host_->clearFaults();

    // A node below no port instance sends nothing.
    HmNode *other = Group(ks_, "NICPhysicalHBA", 2);
    Prop(other, "MACAddress", "unset");
    host_->clearLog();
    EXPECT_EQ(ORSA_get_nic_macaddress(other), 1u);
    EXPECT_EQ(Status(), 246u);
    EXPECT_TRUE(host_->log().empty());
    EXPECT_EQ(Value(other, "MACAddress"), "unset");
}

TEST_F(NicHost, MtuAndLinkDownReasonFromTheDriver)
{
    EXPECT_EQ(ORSA_get_nic_mtusize(nic_, 2), 0u);
    EXPECT_EQ(Value(nic_, "MTUSize"), "9000");
    EXPECT_EQ(ORSA_get_nic_mtusize(nic_, 1), 0u);
    EXPECT_EQ(Value(nic_, "MTUSize"), "1500");
    host_->engine(0).port(host_->engine(0).portOfFunction(1)).down_reason = 3;
    EXPECT_EQ(ORSA_get_over_temperature(nic_, 2), 0u);
    EXPECT_EQ(Value(nic_, "PHYLinkDownReason"), "3");

    struct Case {
        u32 port;
    } refused[] = {{0}, {5}, {0xFFFFFFFFu}};
    for (const Case &c : refused) {
        EXPECT_EQ(ORSA_get_nic_mtusize(nic_, c.port), 1u) << c.port;
        EXPECT_EQ(ORSA_get_over_temperature(nic_, c.port), 1u) << c.port;
    }
    host_->failIoctl(chardev::Dev::Nic, ORSA_NIC_IOCTL_DRIVER_INFO, EIO);
    EXPECT_EQ(ORSA_get_nic_mtusize(nic_, 1), 1u);
    host_->clearFaults();
    EXPECT_EQ(ORSA_get_nic_mtusize(ks_, 1), 1u);  // no MTUSize to set
}

TEST_F(NicHost, InterfaceNameOfAFunction)
{
    EXPECT_EQ(ORSA_update_nic_ifname(nic_, 2), 0u);
    EXPECT_EQ(Value(nic_, "IfName"), "vmnic1");
    EXPECT_EQ(ORSA_update_nic_ifname(nic_, 0), 1u);
    EXPECT_EQ(ORSA_update_nic_ifname(nic_, ORSA_MAX_FUNCTIONS + 1), 1u);
    EXPECT_EQ(ORSA_update_nic_ifname(ks_, 1), 1u);
    EXPECT_EQ(Value(nic_, "IfName"), "vmnic1");
}

TEST_F(NicHost, VirtualFunctionsBecomeNicLogicalHbas)
{
    u32 count = 99;
    EXPECT_EQ(ORSA_Get_VF_Info(3, &count, 0, nic_), 0u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(get_first_instance(nic_, "NICLogicalHBA"), nullptr);
    EXPECT_EQ(ORSA_Get_VF_Info(3, &count, 1, nic_), 0u);
    for (int i = 0; i < 4; i++)
        EXPECT_NE(internal_get_node(nic_, ("NICLogicalHBA" + std::to_string(i)).c_str(), HM_KIND_GROUP), nullptr) << i;
    EXPECT_EQ(internal_get_node(nic_, "NICLogicalHBA4", HM_KIND_GROUP), nullptr);
    count = 99;
    EXPECT_EQ(ORSA_Get_VF_Info(1, &count, 1, nic_), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ORSA_Get_VF_Info(9, &count, 1, nic_), 1u);
    host_->failIoctl(chardev::Dev::Nic, ORSA_NIC_IOCTL_VF_TABLE, EIO);
    EXPECT_EQ(ORSA_Get_VF_Info(3, &count, 0, nic_), 1u);
}

TEST_F(NicHost, PciLocationTexts)
{
    u8 attributes[540] = {};
    memcpy(attributes + 192, "SERIAL-0123456789-ABCDEFGHIJKLMN", 32);  // full field, no NUL
    memcpy(attributes + 224, "spill", 5);
    attributes[508] = 0x3;
    attributes[509] = 0x1c;
    attributes[510] = 0x1;
    orsa_glob.NicFunctionTable[2].domain = 0x12;
    char domain[35], bus[256], device[256], fn[256], serial[33];
    ASSERT_EQ(ORSA_get_pci_bdf(2, domain, bus, device, fn, serial, 1, attributes, 0), 0u);
    EXPECT_STREQ(serial, "SERIAL-0123456789-ABCDEFGHIJKLMN");
    EXPECT_STREQ(bus, "0x3");
    EXPECT_STREQ(device, "0x1c");
    EXPECT_STREQ(fn, "0x1");
    EXPECT_STREQ(domain, "0x0012");

    // The attributes could not be read: a NIC function's location comes from
    // the NIC function table.
    ASSERT_EQ(ORSA_get_pci_bdf(4, domain, bus, device, fn, serial, 2, attributes, 1), 0u);
    EXPECT_STREQ(bus, "0x5");
    EXPECT_STREQ(device, "0x0");
    EXPECT_STREQ(fn, "0x1");
    EXPECT_STREQ(serial, "0");
    EXPECT_EQ(ORSA_get_pci_bdf(4, domain, bus, device, fn, serial, 1, attributes, 1), 1u);
    EXPECT_EQ(ORSA_get_pci_bdf(4, domain, bus, device, fn, serial, 2, nullptr, 0), 1u);
    EXPECT_EQ(ORSA_get_pci_bdf(ORSA_MAX_FUNCTIONS, domain, bus, device, fn, serial, 2, attributes, 1), 1u);
}

TEST_F(NicHost, PciExpressLinkFromConfigurationSpace)
{
    uint32_t dword = host_->card(0).function(1)->configRead(0xD0, 4);
    ASSERT_NE(dword >> 16, 0u) << "the emulated function reports no link";
    char want_speed[32], want_width[32];
    snprintf(want_speed, sizeof want_speed, "%.1fGT/s", ((dword >> 16) & 0xF) * 2.5);
    snprintf(want_width, sizeof want_width, "x%u", (dword >> 20) & 0x3F);
    char out[HM_VALUE_SIZE] = {};
    ASSERT_EQ(ORSA_get_pci_express_data(2, 0, 1, 3, nic_, "PCIExpressLinkSpeed", out), 0u);
    EXPECT_STREQ(out, want_speed);
    ASSERT_EQ(ORSA_get_pci_express_data(2, 0, 1, 3, nic_, "PCIExpressBusWidth", out), 0u);
    EXPECT_STREQ(out, want_width);

    // Pivard reads its dword at 0xA4 through the NIC driver's own ioctl.
    host_->clearLog();
    uint32_t pivard = host_->card(1).function(0)->configRead(0xA4, 4);
    char want[32];
    snprintf(want, sizeof want, "x%u", (pivard >> 20) & 0x3F);
    ASSERT_EQ(ORSA_get_pci_express_data(3, 0, 0, 4, nic_, "PCIExpressBusWidth", out), 0u);
    EXPECT_STREQ(out, want);
    bool asked = false;
    for (const chardev::LoggedIoctl &e : host_->log()) {
        if (e.request == ORSA_NIC_IOCTL_PCI_CONF && e.bytes.size() >= 7) {
            uint32_t offset = e.bytes[3] | e.bytes[4] << 8 | e.bytes[5] << 16 | uint32_t(e.bytes[6]) << 24;
            asked = asked || offset == 0xA4;
        }
    }
    EXPECT_TRUE(asked);

    host_->failIoctl(chardev::Dev::Nic, ORSA_NIC_IOCTL_PASSTHRU, EIO);
    EXPECT_EQ(ORSA_get_pci_express_data(2, 0, 1, 3, nic_, "PCIExpressLinkSpeed", out), 1u);
    EXPECT_EQ(Status(), 121u);
    EXPECT_EQ(last_text_, "Cannot dump the config region for the given offset.");
    host_->clearFaults();
    EXPECT_EQ(ORSA_get_pci_express_data(7, 0, 1, 3, nic_, "PCIExpressLinkSpeed", out), 1u);
    EXPECT_EQ(ORSA_get_pci_express_data(2, 0, 1, 3, ks_, "PCIExpressLinkSpeed", out), 1u);
}

}  // namespace

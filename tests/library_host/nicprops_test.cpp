// NIC-side property fillers, the software-initiator entry points, the
// iSCSI walkers, and what the shared library exports of this code.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "backend/orsa_nicprops.h"
#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_status.h"
#include "tree_fixture.h"

namespace {

class NicProps : public TreeFixture {
protected:
    void SetUp() override
    {
        TreeFixture::SetUp();
        ks_ = Group(root_, "Kalderstone", 0);
        nic_ = Group(ks_, "NICPhysicalHBA", 0);
        for (const char *p : {"IPv6GateWay", "Gateway", "SubnetMask", "IPProtocolIfType", "AddressOrigin"})
            Prop(nic_, p, "unset");
        driver_ = Group(nic_, "Driver");
        Prop(driver_, "DriverName", "unset");
        Prop(driver_, "DriverVersion", "unset");
    }
    HmNode *ks_, *nic_, *driver_;
};

TEST_F(NicProps, ValuesThisHostCannotSupply)
{
    EXPECT_EQ(ORSA_get_nic_ipv6gateway(nic_), 0u);
    EXPECT_EQ(ORSA_get_nic_gateway(nic_), 0u);
    EXPECT_EQ(ORSA_get_nic_subnetmask(nic_), 0u);
    EXPECT_EQ(ORSA_get_nic_iftype(nic_), 0u);
    EXPECT_EQ(ORSA_get_address_origin(nic_), 0u);
    for (const char *p : {"IPv6GateWay", "Gateway", "SubnetMask", "IPProtocolIfType", "AddressOrigin"})
        EXPECT_EQ(Value(nic_, p), "N/A") << p;
    char ip[HM_VALUE_SIZE] = "x";
    EXPECT_EQ(ORSA_get_nic_ipaddress(nic_, ip), 0u);
    EXPECT_STREQ(ip, "N/A");

    EXPECT_EQ(ORSA_set_nic_macaddress(), 1u);
    u32 code = 0;
    char text[ORSA_STATUS_TEXT_SIZE] = {};
    orsa_get_last_status(&code, text);
    EXPECT_EQ(code, 70u);
    EXPECT_STREQ(text, "Setting this property is not supported in this OS.");
}

TEST_F(NicProps, DriverNameByProtocol)
{
    struct Case {
        u32 protocol;
        const char *want;
    } cases[] = {{3, "unset"}, {2, "sornic.o"}, {1, "sorblock.o"}, {0, "sorblock.o"}};
    for (const Case &c : cases) {
        EXPECT_EQ(ORSA_get_driver_name(nic_, 0, c.protocol), 0u) << c.protocol;
        EXPECT_EQ(Value(driver_, "DriverName"), c.want) << c.protocol;
    }
    EXPECT_EQ(ORSA_get_driver_name(ks_, 0, 2), 1u);  // no Driver group
}

TEST_F(NicProps, DriverVersionFromTheAttributesBlock)
{
    u8 attributes[540] = {};
    memcpy(attributes + 352, "12.0.1", 6);
    EXPECT_EQ(ORSA_get_driver_version(nic_, 0, 0, attributes, 1), 1u);
    EXPECT_EQ(ORSA_get_driver_version(nic_, 0, 0, nullptr, 0), 1u);
    EXPECT_EQ(Value(driver_, "DriverVersion"), "unset");
    EXPECT_EQ(ORSA_get_driver_version(nic_, 0, 0, attributes, 0), 0u);
    EXPECT_EQ(Value(driver_, "DriverVersion"), "12.0.1");
    // A full 32-character field is not terminated inside the block.
    memset(attributes + 352, 'v', 156);
    EXPECT_EQ(ORSA_get_driver_version(nic_, 0, 0, attributes, 0), 0u);
    EXPECT_EQ(Value(driver_, "DriverVersion"), std::string(32, 'v'));
    EXPECT_EQ(ORSA_get_driver_version(ks_, 0, 0, attributes, 0), 1u);
}

TEST(PcieLinkText, SpeedAndWidth)
{
    struct Case {
        u32 dword;
        const char *property;
        const char *want;
    } cases[] = {
        {0x00830000, "PCIExpressLinkSpeed", "7.5GT/s"},
        {0x00830000, "PCIExpressLinkWidth", "x8"},
        {0x00410000, "PCIExpressLinkSpeed", "2.5GT/s"},
        {0x00420010, "PCIExpressLinkSpeed", "5.0GT/s"},
        {0x00420010, "PCIExpressBusWidth", "x4"},
        {0x03F00000, "PCIExpressBusWidth", "x63"},
    };
    for (const Case &c : cases) {
        char out[HM_VALUE_SIZE];
        orsa_pcie_link_text(c.dword, c.property, out);
        EXPECT_STREQ(out, c.want) << std::hex << c.dword << " " << c.property;
    }
}

TEST_F(NicProps, SoftwareInitiatorEntryPointsDoNothing)
{
    EXPECT_EQ(OPEN_ISCSI_DRIVER_LOADED, 0);
    EXPECT_EQ(ORSA_ISCSI_INBOX_DRIVER_LOADED, 0);
    EXPECT_EQ(ORSA_NIC_INBOX_DRIVER_LOADED, 0);
    EXPECT_EQ(ORSA_add_open_iscsi_target(nic_, "iqn.x", 3260), 0u);
    EXPECT_EQ(ORSA_op_add_sendtaregtportal("10.0.0.1", "3260", nic_), 0u);
    EXPECT_EQ(os_prepare_device_for_removal("VENDOR", "MODEL"), 0u);
    EXPECT_EQ(ORSA_get_all_op_isns(), 0u);
    EXPECT_EQ(ORSA_op_setup_session(nic_), nullptr);
    EXPECT_EQ(ORSA_enumerate_nic_domain(), 0u);
    EXPECT_EQ(ORSA_update_nic_port_number(), 0u);
}

TEST_F(NicProps, IscsiWalkersSucceedOnTheTreeThereIs)
{
    HmNode *phba = Group(ks_, "iSCSIPhysicalHBA", 1);
    HmNode *lhba = Group(phba, "LogicalHBA", 0);
    Group(lhba, "Target", 0);
    EXPECT_EQ(ORSA_refresh_backend_client_iscsi_targets(), 0u);
    EXPECT_EQ(ORSA_refresh_backend_client_iscsi_tgts(), 0u);
    // This physical HBA has no driver port record: the start-up pass stops
    // there and leaves the subtree as it is.
    EXPECT_EQ(ORSA_set_lhba_prop(), 1u);
    EXPECT_NE(internal_get_node(lhba, "Target0", HM_KIND_GROUP), nullptr);
}

TEST(SharedLibrary, ExportsTheStateFileAndLockEntryPoints)
{
    void *so = dlopen(DRELMO_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << dlerror();
    for (const char *name : {"save_node", "restore_hm", "orsa_acquire_lock", "orsa_release_lock",
                             "orsa_init_acquire_lock", "orsa_init_release_lock", "orsa_lock_init",
                             "orsa_lock_free", "OPEN_ISCSI_DRIVER_LOADED"})
        EXPECT_NE(dlsym(so, name), nullptr) << name;
    for (const char *name : {"convert", "swap32_buffer", "backend_split", "ULShr"})
        EXPECT_EQ(dlsym(so, name), nullptr) << name << " is internal";
    dlclose(so);
}

}  // namespace

#include "backend/orsa_linuxhost.h"

namespace {

TEST(LinuxHost, FlashNameIsTheLastComponent)
{
    struct Case {
        const char *path;
        u32 rc;
        const char *want;
    } cases[] = {
        {"/usr/share/fw/oc11-12.0.ufi", 0, "oc11-12.0.ufi"},
        {"fw/a.ufi", 0, "a.ufi"},
        {"/a.ufi", 0, "a.ufi"},
        {"dir/", 0, "dir"},  // a trailing '/' adds no component
        {"a.ufi", 1, ""},    // no '/': no component
        {"///", 1, ""},
        {nullptr, 1, ""},
    };
    for (const Case &c : cases) {
        char out[HM_VALUE_SIZE] = "";
        EXPECT_EQ(get_flash_name(c.path, out), c.rc) << (c.path ? c.path : "(null)");
        EXPECT_STREQ(out, c.want);
    }
}

}  // namespace

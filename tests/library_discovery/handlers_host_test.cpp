// Identity, VPD, boot and extended-log handlers read from the emulated
// adapters as a client reads them; the answers inside a virtual function.
#include <string.h>

#include "backend/orsa_extlog.h"
#include "backend/orsa_propertyutil.h"
#include "backend/orsa_vpd.h"
#include "extfat_image.h"
#include "host_fixture.h"

namespace {

// The default host: controller 0 is a KS3 (NIC functions 0, 1; iSCSI 2, 3),
// controller 1 a Veskarn (NIC functions 0, 1).
class Handlers : public DiscoveryHost {
protected:
    void SetUp() override
    {
        make(chardev::defaultHost());
        ASSERT_EQ(start(), 0u);
        ks3 = ctrl(0);
        vsk = ctrl(1);
        ASSERT_TRUE(ks3 && vsk);
    }
    adapter::Engine &fw3() { return host_->engine(0); }
    adapter::Engine &fwv() { return host_->engine(1); }

public:
    HmNode *ks3 = nullptr, *vsk = nullptr;
};

}  // namespace

TEST_F(Handlers, ControllerValuesComeFromTheAdapter)
{
    u32 rc = 0;
    struct Case {
        HmNode *Handlers::*ks;
        const char *group;
        const char *property;
        std::string value;
    } cases[] = {
        {&Handlers::ks3, "", "FirmwareVersionOnFlash", "11.2.1149.0"},
        {&Handlers::ks3, "", "BIOSVersion", "11.2.10.0"},
        {&Handlers::ks3, "", "KalderstoneOnDieTemperature", "52"},
        {&Handlers::ks3, "", "PHYConfigurationId", "0x0042"},
        {&Handlers::ks3, "", "IPLFileName", std::string(orsa_ipl_file_name(7)) + "1A"},
        {&Handlers::ks3, "", "OneView", "N/A"},
        {&Handlers::ks3, "", "FFVName", "N/A"},
        {&Handlers::ks3, "", "ControllerStatus", "Alive"},
        {&Handlers::ks3, "ProfileManagement", "RebootRequired", "No"},
        {&Handlers::ks3, "NICCIM", "PortControllerName", "Talvor Quorvantix at 0x3:0x0"},
        {&Handlers::ks3, "NICPhysicalHBA0/NetworkBootConfiguration", "NetworkBootMethod", "PXE"},
        {&Handlers::ks3, "NICPhysicalHBA0/NetworkBootConfiguration", "NetworkBootState", "Enabled"},
        {&Handlers::ks3, "iSCSIPhysicalHBA0", "iSCSIBIOSEnable", "Yes"},
        {&Handlers::ks3, "", "PCIExpressLinkSpeed", "7.5GT/s"},
        {&Handlers::ks3, "", "PCIExpressBusWidth", "x8"},
        {&Handlers::vsk, "", "PCIExpressBusWidth", "x8"},
        {&Handlers::vsk, "", "OneView", "Disabled"},
        {&Handlers::vsk, "", "FFVName", "EmuFFV"},
        {&Handlers::vsk, "", "UEFINICVersion", "UEFI-NIC 11.2.1149.0"},
    };
    for (const Case &c : cases) {
        HmNode *base = this->*c.ks;
        HmNode *g = c.group[0] != '\0' ? group(base, c.group) : base;
        EXPECT_EQ(get(g, c.property, &rc), c.value) << c.group << "/" << c.property;
        EXPECT_EQ(rc, 0u) << c.group << "/" << c.property;
    }
    // the first iSCSI function's VPD starts with the identifier string tag
    EXPECT_EQ(cached(group(ks3, "iSCSIPhysicalHBA0/VPD"), "VPDData0").substr(0, 2), "82");
    EXPECT_EQ(cached(group(ks3, "iSCSIPhysicalHBA0/VPD"), "VPDData8").size(), 16u);
    EXPECT_EQ(get(group(ks3, "FRUVPD"), "FRUVPDData0", &rc).size(), 254u);
    EXPECT_EQ(cached(group(ks3, "FRUVPD"), "FRUVPDData10").size(), 255u);
}

TEST_F(Handlers, AdapterChangesShowOnTheNextRead)
{
    adapter::setResetNeeded(fw3(), true);
    adapter::setControllerState(fwv(), 1);
    adapter::setOneView(fwv(), 1);
    std::vector<uint8_t> add = adapter::additionalAttributes(fw3());
    add[4] = 0;
    adapter::setAdditionalAttributes(fw3(), add);
    adapter::setBootConfig(fw3(), 1, {0, 0, 0, 2, 0, 0, 0, 0});
    adapter::setExpansionRomWord(fw3(), 0x1);
    EXPECT_EQ(get(group(ks3, "ProfileManagement"), "RebootRequired"), "Yes");
    fw3().fatLog().clear();
    EXPECT_EQ(get(group(ks3, "FATData"), "FATDataValid"), "No");
    fw3().fatLog().assign(64, 0x5A);
    EXPECT_EQ(get(group(ks3, "FATData"), "FATDataValid"), "Yes");
    EXPECT_EQ(get(vsk, "ControllerStatus"), "Dead");
    EXPECT_EQ(get(vsk, "OneView"), "Enabled");
    EXPECT_EQ(get(ks3, "KalderstoneOnDieTemperature"), "N/A");
    EXPECT_EQ(get(group(ks3, "NICPhysicalHBA1/NetworkBootConfiguration"), "NetworkBootMethod"), "iBFT");
    EXPECT_EQ(get(group(ks3, "NICPhysicalHBA1/NetworkBootConfiguration"), "NetworkBootState"), "N/A");
}

TEST_F(Handlers, UnsupportedQueryReadsNotAvailable)
{
    adapter::setOneView(fwv(), -1);
    u32 rc = 1;
    EXPECT_EQ(get(vsk, "OneView", &rc), "N/A");
    EXPECT_EQ(rc, 0u);
    // On KS generations the query is never sent.
    unsigned before = fw3().commandsSeen(1, 191);
    EXPECT_EQ(get(ks3, "OneView"), "N/A");
    EXPECT_EQ(fw3().commandsSeen(1, 191), before);
}

TEST_F(Handlers, FailedCommandsCarryTheirStatus)
{
    struct Case {
        const char *property;
        uint8_t sub, op;
        u32 status;
    } cases[] = {
        {"KalderstoneOnDieTemperature", 1, 121, 192},
        {"ControllerStatus", 11, 21, 265},
        {"OneView", 1, 191, 340},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.property);
        fwv().setFault(c.sub, c.op, {.status = 1});
        std::string before = cached(vsk, c.property);
        u32 rc = 0;
        get(vsk, c.property, &rc);
        EXPECT_NE(rc, 0u);
        EXPECT_EQ(last_code(), c.status);
        EXPECT_EQ(cached(vsk, c.property), before);
        fwv().clearFaults();
    }
    fw3().setFault(1, 84, {.status = 1});
    u32 rc = 0;
    get(group(ks3, "ProfileManagement"), "RebootRequired", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 279u);
}

TEST_F(Handlers, FlexibleVendorNameRoundTrip)
{
    EXPECT_EQ(set(vsk, "FFVName", "Rack42Port"), 0u);
    EXPECT_EQ(adapter::ffvName(fwv()), "Rack42Port");
    EXPECT_EQ(get(vsk, "FFVName"), "Rack42Port");
    EXPECT_NE(set(ks3, "FFVName", "Rack42Port"), 0u);
    EXPECT_EQ(last_code(), 298u);
}

TEST_F(Handlers, IscsiBiosSwitchWritesOnlyTheEnabledByte)
{
    adapter::setBootConfig(fw3(), 2, {1, 9, 8, 7, 6, 5, 4, 3});
    HmNode *phba = group(ks3, "iSCSIPhysicalHBA0");
    EXPECT_EQ(set(phba, "iSCSIBIOSEnable", "No"), 0u);
    std::array<uint8_t, 8> expect{0, 9, 8, 7, 6, 5, 4, 3};
    EXPECT_EQ(adapter::bootConfig(fw3(), 2), expect);
    EXPECT_EQ(get(phba, "iSCSIBIOSEnable"), "No");
    EXPECT_EQ(set(phba, "iSCSIBIOSEnable", "yes"), 0u);
    expect[0] = 1;
    EXPECT_EQ(adapter::bootConfig(fw3(), 2), expect);
}

TEST_F(Handlers, FactoryMacOfAFunctionOutsideTheReplyIsRefused)
{
    // The MAC query names functions 0-7 only; a tree that names function 9
    // gets status 76, not the bytes after the reply.
    HmNode *nic1 = group(ks3, "NICPhysicalHBA1");
    set_prop_val(group(nic1, "PCI"), "FunctionNumber", "0x9");
    set_prop_val(nic1, "FactoryDefaultMACAddress", "kept");
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_update_fd_mac(2, nic1, ORSA_PROTO_NIC), 1u);
    EXPECT_EQ(orsa_last_status_code, 76u);
    EXPECT_EQ(cached(nic1, "FactoryDefaultMACAddress"), "kept");
    set_prop_val(group(nic1, "PCI"), "FunctionNumber", "0x7");
    EXPECT_EQ(ORSA_update_fd_mac(2, nic1, ORSA_PROTO_NIC), 0u);
    EXPECT_EQ(cached(nic1, "FactoryDefaultMACAddress"), "00-00-00-00-00-00"); // the host has no function 7
}

TEST_F(Handlers, ExtendedLogModeSetPatchesOnlyItsOwnEntry)
{
    std::vector<uint8_t> image =
        extfat_image(3, 3,
                     {{"MGMT", 0x100, 2, {{0, 0x3, 2, 0xFF}, {1, 0x1, 5, 0x3}}},
                      {"ONE", 0x101, 1, {{1, 0x2, 4, 0x1}}},
                      {"LAST", 0x102, 2, {{0, 0x1, 1, 0x1}, {1, 0x1, 1, 0x1}}}},
                     8, 2);
    adapter::setExtFatImage(fwv(), image);
    // re-enumerate this controller's modules from the new image
    HmNode *xd = group(vsk, "ExtFATData");
    while (HmNode *m = get_first_instance(xd, "ExtFATModule"))
        ASSERT_EQ(delete_node(m), 0u);
    ASSERT_EQ(ORSA_extfat_modules(vsk), 0u);
    EXPECT_EQ(instances(xd, "ExtFATModule"), 3);
    EXPECT_EQ(instances(group(xd, "ExtFATModule1"), "ExtFATMode"), 1);
    HmNode *mode = group(xd, "ExtFATModule1/ExtFATMode0");
    EXPECT_EQ(get(mode, "TraceLevel"), "4");
    EXPECT_EQ(get(mode, "PortMask"), "0x2");

    std::vector<uint8_t> padded = image;
    padded.resize(ORSA_EXTFAT_CAPS_SIZE, 0);
    const size_t entry = 20 + 72 + 40;  // module 1, mode 0
    struct Case {
        const char *property;
        const char *value;
        std::vector<std::pair<size_t, uint8_t>> bytes;
    } cases[] = {
        {"PortMask", "0x3", {{entry + 2, 0x03}, {entry + 3, 0x00}}},
        {"TraceLevel", "16", {{entry + 4, 16}, {entry + 5, 0}, {entry + 6, 0}, {entry + 7, 0}}},
        {"PCIFunctionMask", "0xa5", {{entry + 8, 0xA5}, {entry + 9, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.property);
        ASSERT_EQ(set(mode, c.property, c.value), 0u);
        const std::vector<uint8_t> *sent = fwv().lastRequest(1, 126);
        ASSERT_NE(sent, nullptr);
        ASSERT_EQ(sent->size(), 16 + ORSA_EXTFAT_CAPS_SIZE);
        for (const auto &b : c.bytes)
            padded[b.first] = b.second;
        size_t differ = 0;
        for (size_t i = 0; i < padded.size(); ++i)
            differ += (*sent)[16 + i] != padded[i];
        EXPECT_EQ(differ, 0u);
        EXPECT_EQ(get(mode, c.property), c.value);
    }

    // A rejected value sends nothing.
    unsigned sets = fwv().commandsSeen(1, 126);
    EXPECT_NE(set(mode, "PortMask", "0x4"), 0u); // MaxLoggingPorts is 2
    EXPECT_EQ(last_code(), 6u);
    EXPECT_NE(set(mode, "PortMask", "12"), 0u);
    EXPECT_EQ(fwv().commandsSeen(1, 126), sets);
}

TEST_F(Handlers, PivardHasNoExtendedLog)
{
    chardev::HostSpec spec;
    spec.adapters = {adapterSpec(adapter::Gen::Pivard, 7, "PIVEMU000003", {nicFn(0, "vmnic0")})};
    ORSA_exit();
    started_ = false;
    chardev::install(nullptr);
    host_.reset();
    make(spec);
    ASSERT_EQ(start(), 0u);
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_extfat_modules(ctrl(0)), 1u);
    EXPECT_EQ(orsa_last_status_code, 259u);
    EXPECT_EQ(host_->engine(0).commandsSeen(1, 125), 0u);
}

// ---- inside a virtual function ----

namespace {

struct VfCase {
    const char *name;
    adapter::Gen gen;
    uint8_t sub, op;          // the probe the VF refuses
    uint8_t status, additional;
    bool vf;                  // vm_flag afterwards
};

}  // namespace

TEST_F(DiscoveryHost, VirtualFunctionDetection)
{
    const VfCase cases[] = {
        {"ks3 privilege", adapter::Gen::KS3, 1, 72, 5, 96, true},
        {"ks3 other refusal", adapter::Gen::KS3, 1, 72, 2, 0, false},
        {"veskarn vf", adapter::Gen::Veskarn, 11, 21, 5, 0, true},
        {"pivard vf", adapter::Gen::Pivard, 11, 21, 5, 96, true},
        {"ks3 not refused", adapter::Gen::KS3, 1, 5, 0, 0, false},
    };
    for (const VfCase &c : cases) {
        SCOPED_TRACE(c.name);
        chardev::HostSpec spec;
        spec.adapters = {adapterSpec(c.gen, 3, "VFEMU0000001", {nicFn(0, "vmnic0")})};
        make(spec);
        if (c.status != 0)
            host_->engine(0).setFault(c.sub, c.op, {.status = c.status, .additional = c.additional});
        ASSERT_EQ(start(), 0u);
        EXPECT_EQ(vm_flag, c.vf ? 1 : 0);
        EXPECT_EQ(cached(group(ctrl(0), "NICPhysicalHBA0"), "IsVF"), c.vf ? "True" : "False");
        // the detection itself: KS3/Veskarn say 1 on any refusal, Pivard always 0
        HmNode *nic = group(ctrl(0), "NICPhysicalHBA0");
        u32 expect_rc = c.gen == adapter::Gen::Pivard ? 0u : (c.status != 0 ? 1u : 0u);
        EXPECT_EQ(ORSA_check_for_vm(1, nic, ctrl(0)), expect_rc);
        ORSA_exit();
        started_ = false;
        TearDown();
    }
}

TEST_F(DiscoveryHost, VirtualFunctionAnswers)
{
    chardev::HostSpec spec;
    spec.adapters = {adapterSpec(adapter::Gen::Veskarn, 3, "VFEMU0000002", {nicFn(0, "vmnic0")})};
    make(spec);
    host_->engine(0).setFault(11, 21, {.status = 5, .additional = 96});
    ASSERT_EQ(start(), 0u);
    ASSERT_EQ(vm_flag, 1);
    HmNode *ks = ctrl(0);
    struct Case {
        const char *group;
        const char *property;
        const char *value;  // what the caller's buffer holds
    } refusals[] = {
        {"", "ControllerStatus", ""},
        {"FRUVPD", "FRUVPDData0", "N/A"},
        {"ProfileManagement", "RebootRequired", "N/A"},
        {"NICPhysicalHBA0/NetworkBootConfiguration", "NetworkBootMethod", "N/A"},
    };
    for (const Case &c : refusals) {
        SCOPED_TRACE(c.property);
        u32 rc = 0;
        std::string v = get(c.group[0] ? group(ks, c.group) : ks, c.property, &rc);
        EXPECT_NE(rc, 0u);
        EXPECT_EQ(last_code(), 256u);
    }
    EXPECT_EQ(cached(group(ks, "OEM"), "OEMSerialNumber"), "N/A");
    // A set of the vendor name never sends "N/A" (or anything) as the name.
    unsigned before = host_->engine(0).commandsSeen(19, 2);
    std::string name = adapter::ffvName(host_->engine(0));
    EXPECT_NE(set(ks, "FFVName", "NewName"), 0u);
    EXPECT_EQ(last_code(), 256u);
    EXPECT_EQ(host_->engine(0).commandsSeen(19, 2), before);
    EXPECT_EQ(adapter::ffvName(host_->engine(0)), name);
}

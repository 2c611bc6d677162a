// The first ORSA_init over emulated hosts: which controllers, physical and
// logical HBAs discovery builds, and the values it stores.
#include <string.h>

#include <array>

#include "backend/orsa_backend.h"
#include "host_fixture.h"

namespace {

struct Check {
    int controller;
    const char *path;  // group below the controller, "" = the controller
    const char *property;
    std::string value;
};

struct Shape {
    int iscsi, nic, vfs;  // physical HBAs, and NIC logical HBAs of all NIC functions
    int modules;          // ExtFATModule groups
    uint8_t protocol;     // controller_protocol byte: bit 0 iSCSI, bit 1 NIC
    std::array<uint8_t, 4> ports;  // port_bitmap bytes of physical ports 0-3
};

struct HostCase {
    const char *name;
    chardev::HostSpec spec;
    std::vector<Shape> controllers;
    std::vector<Check> checks;
};

std::vector<HostCase> hostCases()
{
    std::vector<HostCase> cases;

    HostCase def{"ks3-and-veskarn", chardev::defaultHost(), {}, {}};
    def.controllers = {{2, 2, 0, 3, 0x1, {0x2, 0x2, 0x1, 0x1}}, {0, 2, 4, 3, 0x2, {0x2, 0x2, 0, 0}}};
    def.checks = {
        {0, "", "Manufacturer", "Talvor Systems"},
        {0, "", "SerialNumber", "KS3EMU000001"},
        {0, "", "ModelNumber", "Kalderstone emulated controller"},
        {0, "", "ActiveFirmwareVersion", "11.2.1149.0"},
        {0, "", "FirmwareStatus", "Working"},
        {0, "", "Capabilities", "TCP offload,Raw Ethernet,Virtual Machines,iSCSI Initiator,FCoE Initiator"},
        {0, "iSCSIPhysicalHBA0/PCI", "DeviceID", "0x3a21"},
        {0, "iSCSIPhysicalHBA0/PCI", "BusNumber", "0x3"},
        {0, "iSCSIPhysicalHBA0/PCI", "FunctionNumber", "0x2"},
        {0, "iSCSIPhysicalHBA0/Network/NICConfiguration", "FactoryDefaultMACAddress", "02-1c-4e-00-01-52"},
        {0, "iSCSIPhysicalHBA1/Network/NICConfiguration", "FactoryDefaultMACAddress", "02-1c-4e-00-01-53"},
        {0, "NICPhysicalHBA0", "FactoryDefaultMACAddress", "02-1c-4e-00-01-50"},
        {0, "NICPhysicalHBA1/PCI", "FunctionNumber", "0x1"},
        {0, "NICPhysicalHBA1", "IfName", "vmnic1"},
        {0, "NICPhysicalHBA0", "IsVF", "False"},
        {0, "OEM", "OEMSerialNumber", "OEMKS3EMU000001"},
        {1, "", "SerialNumber", "VSKEMU000002"},
        {1, "NICPhysicalHBA0/PCI", "DeviceID", "0x3b28"},
        {1, "NICPhysicalHBA0/PCI", "BusNumber", "0x5"},
        {1, "NICPhysicalHBA1", "FactoryDefaultMACAddress", "02-1c-4e-00-02-51"},
        {1, "ExtFATData", "NumberOfModules", "3"},
        {1, "ExtFATData/ExtFATModule1", "ModuleString", "NIC"},
        {1, "", "PHYFirmwareVersion", "PHY 2.0.7"},
        {1, "", "IPLFileName", std::string(orsa_ipl_file_name(260 - 142)) + "C"},
    };
    cases.push_back(def);

    HostCase piv{"pivard-nic-only", {}, {}, {}};
    piv.spec.adapters = {adapterSpec(adapter::Gen::Pivard, 7, "PIVEMU000003",
                                     {nicFn(0, "vmnic0", 2), nicFn(1, "vmnic1"), nicFn(2, "vmnic2")})};
    piv.controllers = {{0, 3, 2, 0, 0x2, {0x2, 0x2, 0x2, 0}}};
    piv.checks = {
        {0, "", "SerialNumber", "PIVEMU000003"},
        {0, "NICPhysicalHBA2/PCI", "FunctionNumber", "0x2"},
        {0, "NICPhysicalHBA0/PCI", "DeviceID", "0x5c20"},
        {0, "", "PHYFirmwareVersion", "N/A"},
        {0, "", "IPLFileName", "pivard_default.ipl"},
        {0, "ExtFATData", "NumberOfModules", "0"},
    };
    cases.push_back(piv);

    HostCase two{"two-ks3-iscsi-first", {}, {}, {}};
    two.spec.adapters = {
        adapterSpec(adapter::Gen::KS3, 3, "KS3EMU0000A1", {iscsiFn(0, "vmhba33", 0), nicFn(1, "vmnic0")}),
        adapterSpec(adapter::Gen::KS3, 4, "KS3EMU0000A2", {iscsiFn(0, "vmhba34", 1), nicFn(1, "vmnic1", 3)}),
    };
    two.controllers = {{1, 1, 0, 3, 0x1, {0x1, 0x2, 0, 0}}, {1, 1, 3, 3, 0x1, {0x1, 0x2, 0, 0}}};
    two.checks = {
        {0, "", "SerialNumber", "KS3EMU0000A1"},
        {1, "", "SerialNumber", "KS3EMU0000A2"},
        {1, "NICPhysicalHBA0/PCI", "BusNumber", "0x4"},
    };
    cases.push_back(two);

    // Six functions on four ports: ports 0 and 1 carry a NIC and an iSCSI
    // function each, and their bytes name only the iSCSI one, which the
    // port look-up finds first.
    HostCase shared{"ks3-shared-ports", {}, {}, {}};
    shared.spec.adapters = {adapterSpec(adapter::Gen::KS3, 6, "KS3EMU0000B1",
                                        {nicFn(0, "vmnic0"), nicFn(1, "vmnic1"), nicFn(2, "vmnic2"),
                                         nicFn(3, "vmnic3"), iscsiFn(4, "vmhba33", 0), iscsiFn(5, "vmhba34", 1)})};
    shared.controllers = {{2, 4, 0, 3, 0x1, {0x1, 0x1, 0x2, 0x2}}};
    shared.checks = {
        {0, "iSCSIPhysicalHBA1", "PortNumber", "1"},
        {0, "NICPhysicalHBA1", "PortNumber", "1"},
    };
    cases.push_back(shared);
    return cases;
}

}  // namespace

TEST_F(DiscoveryHost, InitBuildsOneControllerPerAdapter)
{
    for (const HostCase &c : hostCases()) {
        SCOPED_TRACE(c.name);
        make(c.spec);
        ASSERT_EQ(start(), 0u);
        EXPECT_EQ(last_code(), 0u);
        EXPECT_EQ(instances(&ROOT, "Kalderstone"), (int)c.controllers.size());
        for (size_t k = 0; k < c.controllers.size(); ++k) {
            SCOPED_TRACE(k);
            HmNode *ks = ctrl((int)k);
            ASSERT_NE(ks, nullptr);
            EXPECT_EQ(instances(ks, "iSCSIPhysicalHBA"), c.controllers[k].iscsi);
            EXPECT_EQ(instances(ks, "NICPhysicalHBA"), c.controllers[k].nic);
            int vfs = 0;
            for (int n = 0; n < c.controllers[k].nic; ++n)
                vfs += instances(group(ks, "NICPhysicalHBA" + std::to_string(n)), "NICLogicalHBA");
            EXPECT_EQ(vfs, c.controllers[k].vfs);
            EXPECT_EQ(instances(group(ks, "ExtFATData"), "ExtFATModule"), c.controllers[k].modules);
            EXPECT_EQ(orsa_glob.controller_protocol[k], c.controllers[k].protocol);
            for (int port = 0; port < 4; ++port)
                EXPECT_EQ(orsa_glob.port_bitmap[k * 4 + port], c.controllers[k].ports[port]) << "port " << port;
        }
        for (const Check &ch : c.checks) {
            HmNode *g = ch.path[0] != '\0' ? group(ctrl(ch.controller), ch.path) : ctrl(ch.controller);
            EXPECT_EQ(cached(g, ch.property), ch.value) << ch.controller << "/" << ch.path << "/" << ch.property;
        }
        EXPECT_EQ(cached(&ROOT, "ORSAServiceVersion"), "1.0.99.0");
        EXPECT_EQ(cached(&ROOT, "ORSAHierarchyVersion"), "10.6");
        EXPECT_EQ(ORSA_exit(), 0u);
        started_ = false;
        TearDown();
    }
}

TEST_F(DiscoveryHost, NoAdapterLeavesRootAloneWithStatus313)
{
    make(chardev::HostSpec{});
    ASSERT_EQ(start(), 0u);
    u32 code = 0;
    char text[ORSA_STATUS_TEXT_SIZE] = "";
    ORSA_get_last_status(&code, text);
    EXPECT_EQ(code, 313u);
    EXPECT_STREQ(text, "Quorvantix Adapter Not found. Please make sure Talvor NIC/iSCSI drivers are installed "
                       "properly or Quorvantix adapter inserted on PCIe Slot.");
    EXPECT_EQ(instances(&ROOT, "Kalderstone"), 0);
    EXPECT_EQ(cached(&ROOT, "ORSAServiceVersion"), "0");
}

TEST_F(DiscoveryHost, PivardOemParametersCanHideTheSerialNumber)
{
    chardev::HostSpec spec;
    spec.adapters = {adapterSpec(adapter::Gen::Pivard, 7, "PIVEMU000003", {nicFn(0, "vmnic0")})};
    make(spec);
    std::vector<uint8_t> oem(44, 0);
    oem[0] = 'T';
    oem[12] = 'A'; // byte 13 is 0
    adapter::setOemParams(host_->engine(0), oem);
    ASSERT_EQ(start(), 0u);
    EXPECT_EQ(cached(ctrl(0), "SerialNumber"), "N/A");
    EXPECT_EQ(cached(group(ctrl(0), "OEM"), "OEMSerialNumber"), "N/A");
}

// NIC and iSCSI functions are numbered separately: a Pivard whose NIC
// functions come first and whose iSCSI functions come after a KS3's has NIC
// function 1 but iSCSI functions 3 and 4. Every OEM request must still reach
// the Pivard, and its OEM data decide its serial number.
TEST_F(DiscoveryHost, EachOemRequestReachesItsOwnAdapter)
{
    chardev::HostSpec spec;
    spec.adapters = {
        adapterSpec(adapter::Gen::Pivard, 3, "PIVEMU000010",
                    {nicFn(0, "vmnic0"), nicFn(1, "vmnic1"), iscsiFn(2, "vmhba35", 2), iscsiFn(3, "vmhba36", 3)}),
        adapterSpec(adapter::Gen::KS3, 5, "KS3EMU000011",
                    {nicFn(0, "vmnic2"), nicFn(1, "vmnic3"), iscsiFn(2, "vmhba33", 0), iscsiFn(3, "vmhba34", 1)}),
    };
    make(spec);
    std::vector<uint8_t> oem(44, 0);
    oem[0] = 'T';
    oem[12] = 'A'; // byte 13 is 0: the Pivard's serial number is not shown
    adapter::setOemParams(host_->engine(0), oem);
    ASSERT_EQ(start(), 0u);

    // Which adapter a logged request reached: by the PCI bus in the NIC
    // block, by the device number on the iSCSI side.
    auto adapter_of = [&](const chardev::LoggedIoctl &e) -> int {
        for (size_t a = 0; a < spec.adapters.size(); ++a) {
            if (e.dev == chardev::Dev::Nic && e.bytes.size() > 18 && e.bytes[18] == spec.adapters[a].bus)
                return (int)a;
            for (const chardev::FunctionSpec &f : spec.adapters[a].functions)
                if (e.dev == chardev::Dev::Iscsi && f.proto == chardev::Proto::Iscsi && f.iscsi_device == e.iscsi_device)
                    return (int)a;
        }
        return -1;
    };
    int reached[2] = {0, 0};
    int pivard_over_nic = 0;
    for (const chardev::LoggedIoctl &e : host_->log()) {
        const bool nic = e.dev == chardev::Dev::Nic && e.request == ORSA_NIC_IOCTL_PASSTHRU;
        const bool iscsi = e.dev == chardev::Dev::Iscsi && e.request == ORSA_ISCSI_IOCTL_PASSTHRU;
        const size_t hdr = nic ? ORSA_NIC_BLOCK_PREFIX - ORSA_HDR_SIZE : 0;
        if ((!nic && !iscsi) || e.bytes.size() < hdr + 2 || e.bytes[hdr] != 76 || e.bytes[hdr + 1] != 1)
            continue;
        int a = adapter_of(e);
        ASSERT_GE(a, 0) << "an OEM request reached no adapter of the host";
        reached[a]++;
        pivard_over_nic += a == 0 && nic;
    }
    // The Pivard: once from NIC discovery (through its NIC function), once
    // from the controller's OEM properties and once from its available
    // personalities (both through its first iSCSI function); the KS3: once,
    // for its OEM properties.
    EXPECT_EQ(reached[0], 3);
    EXPECT_EQ(pivard_over_nic, 1);
    EXPECT_EQ(reached[1], 1);

    HmNode *pivard = nullptr, *ks3 = nullptr;
    for (int k = 0; k < 2; ++k) {
        HmNode *ks = ctrl(k);
        ASSERT_NE(ks, nullptr);
        (cached(group(ks, "NICPhysicalHBA0/PCI"), "BusNumber") == "0x3" ? pivard : ks3) = ks;
    }
    ASSERT_NE(pivard, nullptr);
    ASSERT_NE(ks3, nullptr);
    EXPECT_EQ(cached(pivard, "SerialNumber"), "N/A");
    EXPECT_EQ(cached(ks3, "SerialNumber"), "KS3EMU000011");
    EXPECT_EQ(cached(group(ks3, "OEM"), "OEMSerialNumber"), "OEMKS3EMU000011");

    // The Pivard's reads that go through the NIC device (its FAT object, its
    // PCI Express link) reach the Pivard, never the KS3.
    struct Read {
        const char *group, *property;
    } reads[] = {{"FATData", "FATDataValid"}, {"", "PCIExpressLinkSpeed"}, {"", "PCIExpressBusWidth"}};
    for (const Read &r : reads) {
        SCOPED_TRACE(r.property);
        host_->clearLog();
        u32 rc = 1;
        get(r.group[0] != '\0' ? group(pivard, r.group) : pivard, r.property, &rc);
        EXPECT_EQ(rc, 0u);
        int asked = 0;
        for (const chardev::LoggedIoctl &e : host_->log()) {
            if (e.dev == chardev::Dev::Nic && e.request == ORSA_NIC_IOCTL_CHIP_INFO)
                continue;
            // Pass-through blocks carry the bus at byte 18, configuration reads at byte 0.
            uint8_t bus = e.request == ORSA_NIC_IOCTL_PASSTHRU ? e.bytes.at(18) : e.bytes.at(0);
            int a = e.dev == chardev::Dev::Nic ? (bus == 3 ? 0 : bus == 5 ? 1 : -1) : adapter_of(e);
            EXPECT_EQ(a, 0) << "request " << e.request << " went to another adapter";
            asked++;
        }
        EXPECT_GT(asked, 0);
    }
}

TEST_F(DiscoveryHost, ChangedNicFunctionCountRebuildsAtTheNextApiEntry)
{
    make(chardev::defaultHost());
    ASSERT_EQ(start(), 0u);
    ASSERT_EQ(instances(ctrl(1), "NICPhysicalHBA"), 2);
    HmNode *ks1 = ctrl(1);
    host_->setNicFunctionHidden(1, 1, true);
    // A NIC request finds the changed count: it fails, the tree stays as it was.
    u32 rc = 0;
    get(ks1, "ControllerStatus", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(ctrl(1), ks1);
    // The next API entry rebuilds it.
    u32 children[64], count = 0;
    ASSERT_EQ(ORSA_get_child_tags(0, children, &count, ORSA_FILTER_GROUPS), 0u);
    ASSERT_NE(ctrl(1), nullptr);
    EXPECT_EQ(instances(ctrl(1), "NICPhysicalHBA"), 1);
    EXPECT_EQ(instances(ctrl(0), "NICPhysicalHBA"), 2);
    EXPECT_EQ(get(ctrl(1), "ControllerStatus", &rc), "Alive");
    EXPECT_EQ(rc, 0u);
}

TEST_F(DiscoveryHost, ClientInitRevalidatesAndGivesUpOnAHostThatKeepsChanging)
{
    make(chardev::defaultHost());
    ASSERT_EQ(start(), 0u);
    EXPECT_EQ(backend_client_init(2), 0u);
    EXPECT_EQ(backend_client_init(1), 0u);
    EXPECT_EQ(instances(&ROOT, "Kalderstone"), 2);

    // A function hidden since the start: one rebuild, then settled.
    host_->setNicFunctionHidden(0, 1, true);
    EXPECT_EQ(backend_client_init(1), 0u);
    EXPECT_EQ(instances(ctrl(0), "NICPhysicalHBA"), 1);

    // An adapter whose serial number differs at every read never settles:
    // the hook stops after a few rebuilds and says so.
    static unsigned reads;
    static adapter::Handler attrs;
    reads = 0;
    attrs = host_->engine(1).handlerFor(1, 32);
    ASSERT_NE(attrs, nullptr);
    host_->engine(1).registerHandler(1, 32, [](adapter::Engine &fw, adapter::Cmd &c) {
        attrs(fw, c);
        char serial[32];
        snprintf(serial, sizeof serial, "FLAP%08u", ++reads);
        c.wtext(192, serial, 32);
    });
    orsa_reset_last_status();
    EXPECT_EQ(backend_client_init(1), 1u);
    u32 code = 0;
    char text[ORSA_STATUS_TEXT_SIZE] = "";
    orsa_get_last_status(&code, text);
    EXPECT_STREQ(text, "The adapters kept changing while the library started. Please retry.");
    EXPECT_LT(reads, 40u);
    host_->engine(1).registerHandler(1, 32, attrs);
}

TEST_F(DiscoveryHost, LastClientExitClosesTheDevices)
{
    make(chardev::defaultHost());
    ASSERT_EQ(start(), 0u);
    EXPECT_GT(host_->openDescriptors(), 0u); // the iSCSI devices stay open between requests
    backend_client_exit(1);
    EXPECT_GT(host_->openDescriptors(), 0u);
    backend_client_exit(0);
    EXPECT_EQ(host_->openDescriptors(), 0u);
}

TEST_F(DiscoveryHost, Ks2NicVpdSelectorFollowsThePhysicalPort)
{
    chardev::HostSpec spec;
    spec.adapters = {adapterSpec(adapter::Gen::KS2, 3, "KS2EMU000009", {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")})};
    make(spec);
    ASSERT_EQ(start(), 0u);
    EXPECT_EQ(cached(group(ctrl(0), "NICPhysicalHBA1"), "PortNumber"), "1");
    // The last VPD request was the second function's: selector 3 (port 1), NIC device.
    const std::vector<uint8_t> *rq = host_->engine(0).lastRequest(1, 91);
    ASSERT_NE(rq, nullptr);
    ASSERT_GE(rq->size(), 19u);
    EXPECT_EQ((*rq)[16], 3);
    EXPECT_EQ((*rq)[17], 0);
    EXPECT_EQ((*rq)[18], 0);
    EXPECT_EQ(cached(ctrl(0), "PHYFirmwareVersion"), "N/A");
}

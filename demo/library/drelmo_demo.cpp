// libdrelmo on an emulated host: a KS3, a Veskarn and a Pivard adapter sit
// behind the NIC and iSCSI drivers' character devices. The first ORSA_init
// discovers them; the demo prints the tree discovery built and then reads a
// few properties the way a management client does, through the tree API.
//
// Run it inside the throw-away host root (the host files it writes are the
// machine's own paths):  platform/testroot/run-in-testroot build/i386/demo/library/drelmo_demo
// PCI addresses are shown in the host's form, 0000:BBB:DD.F, as the driver's
// part of the demo shows them.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "emulated_host.h"
#include "fw_discovery.h"
#include "iscsi/fw_iscsi_net.h"
#include "iscsi_target.h"
#include "tree/orsa_api.h"

namespace {

chardev::HostSpec demoHost()
{
    chardev::HostSpec spec = chardev::defaultHost(); // KS3 (2 NIC, 2 iSCSI) and Veskarn (2 NIC, 4 VFs)
    chardev::AdapterSpec p;
    p.gen = adapter::Gen::Pivard;
    p.bus = 7;
    p.serial = "PIVEMU000003";
    chardev::FunctionSpec f0;
    f0.fn = 0;
    f0.ifname = "vmnic4";
    f0.vfs = 2;
    chardev::FunctionSpec f1;
    f1.fn = 1;
    f1.ifname = "vmnic5";
    p.functions = {f0, f1};
    spec.adapters.push_back(p);
    return spec;
}

std::string label(u32 tag, u32 kind)
{
    char name[64] = "";
    ORSA_get_node_name(tag, name, kind);
    return name;
}

std::string value(u32 group, const char *property)
{
    u32 tag = 0;
    if (ORSA_get_node_tag(group, property, &tag, HM_KIND_PROPERTY) != 0)
        return "<none>";
    char v[HM_VALUE_SIZE] = "";
    if (ORSA_get_property_val(group, tag, v, sizeof v) != 0) {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&code, text);
        return "<status " + std::to_string(code) + ">";
    }
    return v;
}

u32 child(u32 group, const std::string &name)
{
    u32 tag = 0;
    return ORSA_get_node_tag(group, name.c_str(), &tag, HM_KIND_GROUP) == 0 ? tag : 0xFFFFFFFFu;
}

std::vector<u32> groups(u32 group)
{
    u32 tags[4096];
    u32 n = 0;
    if (ORSA_get_child_tags(group, tags, &n, ORSA_FILTER_GROUPS) != 0)
        return {};
    return std::vector<u32>(tags, tags + n);
}

// Cached values only (no adapter command): the state discovery left.
void printProps(u32 group, int indent, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        u32 tag = 0;
        if (ORSA_get_node_tag(group, n, &tag, HM_KIND_PROPERTY) != 0)
            continue;
        char v[HM_VALUE_SIZE] = "";
        ORSA_get_property_val(group, tag, v, sizeof v);
        printf("%*s%s = %s\n", indent, "", n, v);
    }
}

// The host's form of a PCI address; the library shows each part in hex.
std::string pciAddress(u32 phba)
{
    u32 pci = child(phba, "PCI");
    char out[32];
    snprintf(out, sizeof out, "0000:%03lx:%02lx.%lx", strtoul(value(pci, "BusNumber").c_str(), nullptr, 16),
             strtoul(value(pci, "DeviceNumber").c_str(), nullptr, 16),
             strtoul(value(pci, "FunctionNumber").c_str(), nullptr, 16));
    return out;
}

// Which of the host's adapters a controller group stands for: the one on the
// bus of its functions.
const chardev::AdapterSpec *adapterOf(const chardev::HostSpec &spec, u32 controller)
{
    for (u32 g : groups(controller)) {
        std::string name = label(g, HM_KIND_GROUP);
        if (name.rfind("NICPhysicalHBA", 0) != 0 && name.rfind("iSCSIPhysicalHBA", 0) != 0)
            continue;
        unsigned long bus = strtoul(value(child(g, "PCI"), "BusNumber").c_str(), nullptr, 16);
        for (const chardev::AdapterSpec &a : spec.adapters)
            if (a.bus == bus)
                return &a;
    }
    return nullptr;
}

// Its functions' addresses: 0000:003:00.0-3.
std::string functionsText(const chardev::AdapterSpec &a)
{
    unsigned lo = 7, hi = 0;
    for (const chardev::FunctionSpec &f : a.functions) {
        lo = std::min<unsigned>(lo, f.fn);
        hi = std::max<unsigned>(hi, f.fn);
    }
    char out[48];
    snprintf(out, sizeof out, "0000:%03x:%02x.%u-%u", a.bus, a.device, lo, hi);
    return out;
}

std::string generationText(const chardev::HostSpec &spec, u32 controller)
{
    const chardev::AdapterSpec *a = adapterOf(spec, controller);
    if (a == nullptr)
        return "an adapter of no known generation";
    return std::string("the ") + adapter::genName(a->gen) + " adapter, PCI " + functionsText(*a);
}

void printFunction(u32 phba, int indent, bool nic)
{
    printf("%*s%s\n", indent, "", label(phba, HM_KIND_GROUP).c_str());
    printf("%*sPCI %s  DeviceID %s\n", indent + 2, "", pciAddress(phba).c_str(),
           value(child(phba, "PCI"), "DeviceID").c_str());
    printProps(phba, indent + 2, {"PortNumber", "IfName", "IsVF", "FactoryDefaultMACAddress", "iSCSIVersionMax"});
    if (!nic) {
        u32 nicconf = child(child(phba, "Network"), "NICConfiguration");
        printProps(nicconf, indent + 2, {"FactoryDefaultMACAddress"});
    }
    int vfs = 0;
    for (u32 g : groups(phba))
        vfs += label(g, HM_KIND_GROUP).rfind("NICLogicalHBA", 0) == 0;
    if (vfs > 0)
        printf("%*sNICLogicalHBA0..%d (virtual functions)\n", indent + 2, "", vfs - 1);
    printf("%*sVPDData0 = %.40s...\n", indent + 2, "", value(child(phba, "VPD"), "VPDData0").c_str());
}

u32 action(u32 group, const char *name, std::initializer_list<const char *> params)
{
    u32 tag = 0;
    if (ORSA_get_node_tag(group, name, &tag, HM_KIND_ACTION) != 0)
        return 0xFFFF;
    HmValueSlot slots[HM_MAX_PARAMS];
    memset(slots, ORSA_PARAM_NOT_GIVEN, sizeof slots);
    size_t i = 0;
    for (const char *p : params)
        snprintf(slots[i++], sizeof slots[0], "%s", p);
    return ORSA_do_action(group, tag, slots, nullptr);
}

std::string lastStatus()
{
    u32 code = 0;
    char text[ORSA_STATUS_TEXT_SIZE] = "";
    ORSA_get_last_status(&code, text);
    return std::to_string(code) + (text[0] != '\0' ? std::string(" \"") + text + "\"" : "");
}

// A target served by tgtd in the test root (192.0.2.1:3260, two LUNs): the
// KS3's first iSCSI port gets an address, then a client adds the target,
// which ends with the adapter's persistent login, reads its session and
// LUNs, logs out and deletes it.
void iscsiTarget(chardev::EmulatedHost &host, const chardev::HostSpec &spec, u32 ks3)
{
    const char *iqn = "iqn.2026-01.emu.demo:disk";
    testroot::IscsiTarget tgt;
    std::string why;
    if (!tgt.start(&why)) {
        printf("\n(no iSCSI target: %s)\n", why.c_str());
        return;
    }
    int tid = tgt.addTarget(iqn);
    for (unsigned l = 1; l <= 2; l++) {
        testroot::IscsiTarget::LunSpec lun;
        lun.blocks = 2048 * l;
        lun.vendor = "KDEMO";
        lun.product = "DEMODISK" + std::to_string(l);
        tgt.addLun(tid, l, lun);
    }
    for (const chardev::FunctionSpec &f : spec.adapters[0].functions)
        if (f.proto == chardev::Proto::Iscsi) {
            adapter::IscsiAddressEntry a;
            a.address[0] = 192, a.address[1] = 0, a.address[2] = 2, a.address[3] = 10;
            a.mask[0] = a.mask[1] = a.mask[2] = 255;
            adapter::iscsiNet(host.engine(0), f.fn).addresses.push_back(a);
            break;
        }
    u32 lhba = child(child(ks3, "iSCSIPhysicalHBA0"), "LogicalHBA0");
    printf("\n=== an iSCSI target (tgtd at 192.0.2.1:3260) on %s\n",
           label(child(ks3, "iSCSIPhysicalHBA0"), HM_KIND_GROUP).c_str());
    u32 rc = action(lhba, "AddTarget", {iqn, "192.0.2.1"});
    printf("AddTarget %s 192.0.2.1 -> %u (last status %s)\n", iqn, rc, lastStatus().c_str());
    u32 target = child(lhba, "Target0");
    ORSA_refresh_group(target);
    printf("  Target0 %s, ETO %s, type %s\n", value(target, "TargetISCSIName").c_str(), value(target, "ETO").c_str(),
           value(target, "TargetType").c_str());
    for (u32 g : groups(target)) {
        std::string name = label(g, HM_KIND_GROUP);
        if (name.rfind("Session", 0) == 0) {
            printf("  %s: %s, ISID %s (qualifier %s), TSIH %s, persistent %s, boot %s\n", name.c_str(),
                   value(g, "SessionStatus").c_str(), value(g, "ISID").c_str(), value(g, "ISIDQualifier").c_str(),
                   value(g, "SessionTSIH").c_str(), value(g, "Persistent").c_str(), value(g, "iSCSIBoot").c_str());
            u32 c = child(g, "Connection0");
            printf("    Connection0: %s, %s:%s -> %s:%s\n", value(c, "Status").c_str(),
                   value(c, "SourceIPAddress").c_str(), value(c, "SourcePortNumber").c_str(),
                   value(c, "DestinationIPAddress").c_str(), value(c, "DestinationPortNumber").c_str());
        } else if (name.rfind("LUN", 0) == 0) {
            printf("  %s: number %s, type %s, %s %s, %s (blocks of %s)\n", name.c_str(), value(g, "LUNNumber").c_str(),
                   value(g, "LUNType").c_str(), value(g, "DeviceVendorName").c_str(),
                   value(g, "DeviceModelNumber").c_str(), value(g, "LUNSize").c_str(), value(g, "BlockSize").c_str());
        }
    }
    rc = action(lhba, "DeleteTarget", {"0"});
    printf("DeleteTarget 0 while its session is open -> %u (last status %s)\n", rc, lastStatus().c_str());
    rc = action(target, "Logout", {});
    printf("Logout -> %u; DeleteTarget 0 -> %u\n", rc, action(lhba, "DeleteTarget", {"0"}));
    tgt.stop();
}

} // namespace

int main()
{
    const chardev::HostSpec spec = demoHost();
    chardev::EmulatedHost host(spec);
    if (!host.writeHostFiles()) {
        fprintf(stderr, "drelmo_demo: run me inside platform/testroot/run-in-testroot\n");
        return 2;
    }
    chardev::install(&host);

    printf("=== libdrelmo: ORSA_init discovers the adapters of the emulated host:\n");
    for (const chardev::AdapterSpec &a : spec.adapters)
        printf("    a %s adapter, PCI %s, serial %s\n", adapter::genName(a.gen), functionsText(a).c_str(),
               a.serial.c_str());
    u32 rc = ORSA_init();
    u32 code = 0;
    char text[ORSA_STATUS_TEXT_SIZE] = "";
    ORSA_get_last_status(&code, text);
    printf("ORSA_init -> %u (last status %u)\n\n", rc, code);
    if (rc != 0)
        return 1;

    printf("=== the tree discovery built (every controller group is a Kalderstone<N>, whatever its generation)\n");
    printf("ROOT\n");
    printProps(0, 2, {"ORSAServiceVersion", "ORSAHierarchyVersion", "ORSADebugLevel"});
    std::vector<u32> controllers;
    for (u32 g : groups(0)) {
        std::string name = label(g, HM_KIND_GROUP);
        if (name.rfind("Kalderstone", 0) != 0)
            continue;
        controllers.push_back(g);
        printf("  %s: %s\n", name.c_str(), generationText(spec, g).c_str());
        printProps(g, 4,
                   {"Manufacturer", "ModelNumber", "SerialNumber", "ActiveFirmwareVersion", "BIOSVersion",
                    "FirmwareStatus", "Capabilities", "UEFINICVersion", "PHYFirmwareVersion", "IPLFileName"});
        printProps(child(g, "OEM"), 4, {"TalvorSerialNumber", "OEMSerialNumber"});
        for (u32 f : groups(g)) {
            std::string fn = label(f, HM_KIND_GROUP);
            if (fn.rfind("iSCSIPhysicalHBA", 0) == 0)
                printFunction(f, 4, false);
            else if (fn.rfind("NICPhysicalHBA", 0) == 0)
                printFunction(f, 4, true);
        }
        u32 xd = child(g, "ExtFATData");
        printf("    ExtFATData: %s modules, modes %s, %s logging\n", value(xd, "NumberOfModules").c_str(),
               value(xd, "SupportedModes").c_str(), value(xd, "LoggingType").c_str());
        for (u32 m : groups(xd)) {
            printf("      %s %s (id %s):", label(m, HM_KIND_GROUP).c_str(), value(m, "ModuleString").c_str(),
                   value(m, "ModuleId").c_str());
            for (u32 mode : groups(m))
                printf("  %s level %s ports %s", value(mode, "Mode").c_str(), value(mode, "TraceLevel").c_str(),
                       value(mode, "PortMask").c_str());
            printf("\n");
        }
    }

    printf("\n=== a client's reads (each one asks the adapter)\n");
    const char *reads[][2] = {
        {"", "FirmwareVersionOnFlash"},
        {"", "KalderstoneOnDieTemperature"},
        {"", "OneView"},
        {"", "FFVName"},
        {"", "ControllerStatus"},
        {"ProfileManagement", "RebootRequired"},
        {"FATData", "FATDataValid"},
    };
    for (u32 ks : controllers) {
        printf("%s (%s)\n", label(ks, HM_KIND_GROUP).c_str(), generationText(spec, ks).c_str());
        for (const auto &r : reads) {
            u32 g = r[0][0] != '\0' ? child(ks, r[0]) : ks;
            printf("  %-30s %s\n", r[1], value(g, r[1]).c_str());
        }
        u32 nic0 = child(ks, "NICPhysicalHBA0");
        u32 boot = child(nic0, "NetworkBootConfiguration");
        printf("  %-30s %s / %s (available %s)\n", "NetworkBoot", value(boot, "NetworkBootMethod").c_str(),
               value(boot, "NetworkBootState").c_str(), value(boot, "AvailableNetworkBootMethods").c_str());
    }

    // A setting written back to the adapter and read again.
    u32 veskarn = controllers.size() > 1 ? controllers[1] : 0;
    u32 ffv = 0;
    if (ORSA_get_node_tag(veskarn, "FFVName", &ffv, HM_KIND_PROPERTY) == 0) {
        char name[HM_VALUE_SIZE] = "DemoRack7";
        rc = ORSA_set_property_val(veskarn, ffv, name, sizeof name);
        printf("\nset %s (%s) FFVName = DemoRack7 -> %u; reads back %s\n", label(veskarn, HM_KIND_GROUP).c_str(),
               generationText(spec, veskarn).c_str(), rc, value(veskarn, "FFVName").c_str());
    }

    if (!controllers.empty())
        iscsiTarget(host, spec, controllers[0]);

    ORSA_exit();
    chardev::install(nullptr);
    return 0;
}

// Every port's link handlers reach that port: on a multi-port adapter of
// each generation, every handler of a port group (and of its BaseT10G
// group) is run on every port, and the emulated firmware tells which PCI
// function and physical port each command reached. The ports are made to
// differ (PHY type, interface, speed lists, link, configured speed, NVP,
// counters, link-down reason, DCBX and LLDP state), so a value read from
// another port shows too. The DCBX, LLDP and QCN reads and the start-up
// fillers are in the table as well: they keep addressing their own port.
#include <stdio.h>

#include <functional>
#include <set>
#include <utility>

#include "fw_cfg_dcbx.h"
#include "fw_library_lldp.h"
#include "link_fixture.h"

namespace {

using adapter::Gen;

// A KS2, the KS3 of the shared host (NIC functions on ports 0-1, iSCSI
// functions on ports 2-3 behind sorblock_0 and sorblock_1), a Pivard and a
// Veskarn: function n serves port n on each.
chardev::HostSpec fourGenerations()
{
    chardev::HostSpec spec;
    spec.adapters.push_back(adapterSpec(Gen::KS2, 7, "KS2EMU000001", {nicFn(0, "vmnic10"), nicFn(1, "vmnic11")}));
    spec.adapters.push_back(chardev::defaultHost().adapters.at(0));
    spec.adapters.push_back(adapterSpec(Gen::Pivard, 9, "PIVEMU000001", {nicFn(0, "vmnic12"), nicFn(1, "vmnic13")}));
    spec.adapters.push_back(adapterSpec(Gen::Veskarn, 5, "VSKEMU000002", {nicFn(0, "vmnic14"), nicFn(1, "vmnic15")}));
    return spec;
}

// What port p of adapter a holds (each port of each adapter its own).
const u8 kIfType[] = {10, 3, 6, 4};
const char *const kIfText[] = {"QSFP_TYPE", "SFP_PLUS_10GB_TYPE", "BASET_10GB_TYPE", "KR_10GB_TYPE"};
const u16 kAnMask[] = {0x0C, 0x08, 0x2C, 0x04};
const char *const kAnText[] = {"1Gb,10Gb", "10Gb", "1Gb,10Gb,40Gb", "1Gb"};
const u16 kForcedMask[] = {0x08, 0x0C, 0x04, 0x2C};
const char *const kForcedText[] = {"10Gb", "1Gb,10Gb", "1Gb", "1Gb,10Gb,40Gb"};
const u16 kSpeedCode[] = {6, 14, 3, 13};
const char *const kSpeedText[] = {"10Gb/1Gb", "40Gb", "10Gb", "10Mb"};
const char *const kModeText[] = {"Auto-Negotiate", "Force", "Auto-Negotiate", "Force"};
const u8 kLinkCode[] = {4, 3, 7, 5};  // link of the even ports only
const char *const kLinkText[] = {"10Gb", "1Gb", "40Gb", "20Gb"};
u16 phyType(size_t a, unsigned p) { return (u16)(0x10 * (a + 1) + p); }
u32 temperature(size_t a, unsigned p) { return 20 + 10 * (u32)a + p; }
u32 nvp(size_t a, unsigned p) { return 40 + 10 * (u32)a + p; }
u8 dcbxVersion(size_t a, unsigned p) { return (u8)(10 * (a + 1) + p); }

void shapePorts(adapter::Engine &fw, size_t a)
{
    for (unsigned p = 0; p < fw.ports(); p++) {
        adapter::PhyPort &phy = adapter::phyPort(fw, p);
        phy.type = phyType(a, p);
        phy.if_type = kIfType[p];
        phy.an_mask = kAnMask[p];
        phy.forced_mask = kForcedMask[p];
        phy.counters[1] = temperature(a, p);
        adapter::PortLink &l = fw.profiles().port_links[p];
        l.speed_code = kSpeedCode[p];
        l.dac_length = (u16)(p + 1);
        l.nvp = nvp(a, p);
        adapter::Engine::PortState &s = fw.port(p);
        s.link_up = p % 2 == 0;
        s.speed_code = kLinkCode[p];
        s.qos_speed = 0;
        s.down_reason = (u8)(p + 1);
        adapter::DcbxPort &d = adapter::dcbxPort(fw, p);
        d.mib.operating_version = dcbxVersion(a, p);
        d.admin.cnpv = (u8)(0x10 << p);
        // Port p holds p + 1 application TLVs: start-up makes one group each.
        for (unsigned n = 0; n <= p; n++) {
            d.admin.apps[n].in_use = 1;
            d.admin.apps[n].protocol = (u16)(0x8906 + n);
        }
        d.admin.app_count = (u8)(p + 1);
    }
}

std::string hex(u32 v)
{
    char t[16];
    snprintf(t, sizeof t, "0x%x", (unsigned)v);
    return t;
}

std::string macText(const std::array<uint8_t, 6> &m)
{
    char t[24];
    snprintf(t, sizeof t, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return t;
}

class LinkPorts : public LinkHost {
protected:
    void SetUp() override
    {
        boot(fourGenerations(), [](chardev::EmulatedHost &h) {
            for (size_t a = 0; a < h.adapterCount(); a++)
                shapePorts(h.engine(a), a);
        });
    }
    // The controller group of adapter a (discovery numbers them its own
    // way; the host has one adapter of each generation).
    HmNode *controllerOf(size_t a)
    {
        static const u32 kAsic[] = {ORSA_ASIC_KS2, ORSA_ASIC_KS3, ORSA_ASIC_PIVARD, ORSA_ASIC_VESKARN};
        u32 want = kAsic[(int)host_->spec().adapters.at(a).gen];
        for (int i = 0; i < 4; i++)
            if (ctrl(i) != nullptr && get_ks_type(ctrl(i)) == want)
                return ctrl(i);
        return nullptr;
    }
};

enum class Mode { Cached, Get, Set, Action };

struct Ctx {
    Gen gen;
    size_t a;    // adapter (engine) index
    unsigned p;  // port, also the PCI function that serves it
    adapter::Engine &fw;
    const chardev::EmulatedHost &host;
    HmNode *ks, *pg;
};

struct Want {
    u32 rc;
    std::string value;                   // Cached and Get: the text read
    std::set<std::pair<u8, u8>> sends;   // (subsystem, opcode) that must reach the port; none: nothing is sent
    bool names_port = true;              // a command the firmware answered acted on the port
    // Commands of the whole controller on the way (the profile and
    // multichannel reads): they go to the controller's own function.
    std::set<std::pair<u8, u8>> controller = {};
};

struct Row {
    const char *what;
    const char *group;  // below the port group; "" the port group
    const char *name;   // property or action
    Mode mode;
    std::vector<std::string> args;  // Set: the value; Action: the parameters ("-" not given)
    std::function<Want(const Ctx &)> want;
    std::function<void(const Ctx &)> after = {};
};

bool is(const Ctx &c, Gen g) { return c.gen == g; }
bool ks3Iscsi(const Ctx &c) { return c.gen == Gen::KS3 && c.p >= 2; }
// The controller's own function: its first physical HBA, the KS3's first
// iSCSI function (port 2), else function 0.
unsigned controllerFn(const Ctx &c) { return c.gen == Gen::KS3 ? 2 : 0; }

TEST_F(LinkPorts, EveryPortHandlerReachesItsOwnPort)
{
    // TXThrottle is sent only for an FCoE KS2.
    for (size_t a = 0; a < host_->adapterCount(); a++)
        if (host_->spec().adapters[a].gen == Gen::KS2)
            set_prop_val(group(controllerOf(a), "Personality"), "CurrentPersonality", "FCoE");

    const Row rows[] = {
        {"start-up: interface type", "", "InterfaceType", Mode::Cached, {},
         [](const Ctx &c) { return Want{0, kIfText[c.p], {}}; }},
        {"start-up: speed lists", "", "ANSpeedsSupported", Mode::Cached, {},
         [](const Ctx &c) { return Want{0, is(c, Gen::KS2) ? "N/A" : kAnText[c.p], {}}; },
         [](const Ctx &c) {
             EXPECT_EQ(cached(c.pg, "ForceSpeedsSupported"), is(c, Gen::KS2) ? "N/A" : kForcedText[c.p]);
         }},
        {"start-up: counter clearing", "BaseT10G", "IsClearCountersSupported", Mode::Cached, {},
         [](const Ctx &c) { return Want{0, is(c, Gen::Veskarn) ? "True" : "N/A", {}}; }},
        {"start-up: application TLVs", "DCBX/ApplicationTLVGroups/AdministratorTLVSetting", "", Mode::Cached, {},
         [](const Ctx &) { return Want{0, "", {}}; },
         [](const Ctx &c) {
             EXPECT_EQ(instances(group(c.pg, "DCBX/ApplicationTLVGroups/AdministratorTLVSetting"), "ApplicationTLV"),
                       (int)c.p + 1);
         }},
        {"PHY type", "", "PHYType", Mode::Get, {},
         [](const Ctx &c) { return Want{0, hex(phyType(c.a, c.p)), {{1, 102}}}; }},
        {"physical link", "", "PhysicalLinkStatus", Mode::Get, {},
         [](const Ctx &c) { return Want{0, c.p % 2 == 0 ? "Up" : "Down", {{1, 5}}}; }},
        {"port state", "", "PortState", Mode::Get, {},
         [](const Ctx &) { return Want{0, "Enabled", {{1, 71}}}; }},
        {"port state set", "", "PortState", Mode::Set, {"Disabled"},
         [](const Ctx &) { return Want{0, "", {{1, 71}, {1, 62}}}; },
         [](const Ctx &c) {
             // Only this port went down: every port of the adapter says so.
             for (unsigned q = 0; q < c.fw.ports(); q++) {
                 EXPECT_EQ(adapter::phyPort(c.fw, q).enabled, q != c.p) << "port " << q;
                 EXPECT_EQ(get(port(c.ks, std::to_string(q).c_str()), "PortState"), q == c.p ? "Disabled" : "Enabled")
                     << "port " << q;
             }
             adapter::phyPort(c.fw, c.p).enabled = true;
         }},
        {"configured speed", "", "ConfiguredSpeed", Mode::Get, {},
         [](const Ctx &c) {
             if (is(c, Gen::KS2))
                 return Want{0, "N/A", {}};
             return Want{0, kSpeedText[c.p], {{1, 134}}};
         },
         [](const Ctx &c) {
             EXPECT_EQ(cached(c.pg, "Mode"), is(c, Gen::KS2) ? "N/A" : kModeText[c.p]);
             EXPECT_EQ(cached(c.pg, "DACCableLength"), is(c, Gen::KS2) ? "N/A" : std::to_string(c.p + 1));
         }},
        {"SetPortSpeed", "", "SetPortSpeed", Mode::Action, {"-", "Default", "-"},
         [](const Ctx &c) {
             if (is(c, Gen::KS2))
                 return Want{1, "", {}};
             return Want{0, "", {{1, 57}}};
         },
         [](const Ctx &c) {
             for (unsigned q = 0; q < c.fw.ports(); q++)
                 EXPECT_EQ(c.fw.profiles().port_links[q].speed_code, q == c.p && !is(c, Gen::KS2) ? 0 : kSpeedCode[q])
                     << "port " << q;
             c.fw.profiles().port_links[c.p].speed_code = kSpeedCode[c.p];
         }},
        {"10GBase-T statistics", "BaseT10G", "Temperature", Mode::Get, {},
         [](const Ctx &c) {
             if (is(c, Gen::KS2) || is(c, Gen::Pivard))
                 return Want{0, "N/A", {}};
             return Want{0, std::to_string(temperature(c.a, c.p)), {{18, 8}}};
         }},
        {"ClearCounters", "BaseT10G", "ClearCounters", Mode::Action, {},
         [](const Ctx &c) { return is(c, Gen::Veskarn) ? Want{0, "", {{18, 8}}} : Want{1, "", {}}; },
         [](const Ctx &c) {
             for (unsigned q = 0; q < c.fw.ports(); q++)
                 EXPECT_EQ(adapter::phyPort(c.fw, q).counters[1],
                           q == c.p && is(c, Gen::Veskarn) ? 0u : temperature(c.a, q))
                     << "port " << q;
             adapter::phyPort(c.fw, c.p).counters[1] = temperature(c.a, c.p);
         }},
        {"link-down reason", "BaseT10G", "PHYLinkDownReason", Mode::Get, {},
         [](const Ctx &c) {
             // From the NIC driver: a port without a NIC function keeps its text.
             if (is(c, Gen::KS2))
                 return Want{0, "N/A", {}};
             return Want{0, ks3Iscsi(c) ? "0" : std::to_string(c.p + 1), {}};
         },
         [](const Ctx &c) {
             unsigned asked = 0;
             for (const chardev::LoggedIoctl &l : c.host.log()) {
                 if (l.dev != chardev::Dev::Nic || l.request != ORSA_NIC_IOCTL_DRIVER_INFO || l.bytes.size() < 3)
                     continue;
                 asked++;
                 EXPECT_EQ(l.bytes[0], c.host.spec().adapters[c.a].bus);
                 EXPECT_EQ(l.bytes[2], c.p) << "the port's NIC function";
             }
             EXPECT_EQ(asked, is(c, Gen::KS2) || ks3Iscsi(c) ? 0u : 1u);
         }},
        {"NVP value", "BaseT10G", "NVPValue", Mode::Get, {},
         [](const Ctx &c) {
             if (is(c, Gen::KS2))
                 return Want{0, "N/A", {}};
             if (is(c, Gen::Pivard))  // no 10GBase-T PHY commands: the firmware refuses
                 return Want{0, "N/A", {{18, 12}}, false};
             return Want{0, std::to_string(nvp(c.a, c.p)), {{18, 12}}};
         }},
        {"NVP value set", "BaseT10G", "NVPValue", Mode::Set, {"90"},
         [](const Ctx &c) {
             if (is(c, Gen::KS2))
                 return Want{1, "", {}};
             if (is(c, Gen::Pivard))
                 return Want{1, "", {{18, 10}}, false};
             return Want{0, "", {{18, 10}}};
         },
         [](const Ctx &c) {
             bool taken = is(c, Gen::KS3) || is(c, Gen::Veskarn);
             for (unsigned q = 0; q < c.fw.ports(); q++)
                 EXPECT_EQ(c.fw.profiles().port_links[q].nvp, q == c.p && taken ? 90u : nvp(c.a, q)) << "port " << q;
             c.fw.profiles().port_links[c.p].nvp = nvp(c.a, c.p);
         }},
        {"TX throttle", "", "TXThrottle", Mode::Get, {},
         [](const Ctx &c) { return is(c, Gen::KS2) ? Want{0, "2", {{1, 133}}} : Want{0, "N/A", {}}; }},
        {"TX throttle set", "", "TXThrottle", Mode::Set, {"1"},
         [](const Ctx &c) { return is(c, Gen::KS2) ? Want{0, "", {{1, 132}}} : Want{1, "", {}}; },
         [](const Ctx &c) {
             for (unsigned q = 0; q < c.fw.ports(); q++)
                 EXPECT_EQ(adapter::phyPort(c.fw, q).tx_throttle, q == c.p && is(c, Gen::KS2) ? 1u : 2u)
                     << "port " << q;
             adapter::phyPort(c.fw, c.p).tx_throttle = 2;
         }},
        {"FCoE link speed", "", "FCoELinkSpeed", Mode::Get, {},
         [](const Ctx &c) {
             if (c.p % 2 != 0)
                 return Want{0, "0 (Link Down)", {{1, 121}, {1, 5}}};
             // The share of the FCoE function comes from the controller's
             // profile: a KS3 has none to read, a Veskarn no FCoE function.
             std::set<std::pair<u8, u8>> profile = {{1, 58}, {1, 123}, {1, 164}};
             if (is(c, Gen::KS3))
                 return Want{1, "", {{1, 121}, {1, 5}}, true, profile};
             return Want{0, kLinkText[c.p], {{1, 121}, {1, 5}}, true, profile};
         }},
        {"DCBX (MIB)", "DCBX/DCBXPortVars", "OperatingVersion", Mode::Get, {},
         [](const Ctx &c) { return Want{0, std::to_string(dcbxVersion(c.a, c.p)), {{16, 3}}}; }},
        {"LLDP", "LLDP/LocalConfiguration", "ChassisId", Mode::Get, {},
         [](const Ctx &c) { return Want{0, macText(c.fw.permanentMac(c.p)), {{15, 1}}}; }},
        {"QCN", "DCBX/QCN/AdministratorQCNSetting", "CNPVBitMap", Mode::Get, {},
         [](const Ctx &c) { return is(c, Gen::Veskarn) ? Want{0, hex(0x10u << c.p), {{16, 1}}} : Want{1, "", {}}; }},
    };

    for (size_t a = 0; a < host_->adapterCount(); a++) {
        Gen gen = host_->spec().adapters[a].gen;
        HmNode *ks = controllerOf(a);
        ASSERT_NE(ks, nullptr) << adapter::genName(gen);
        for (unsigned p = 0; p < fw(a).ports(); p++) {
            HmNode *pg = port(ks, std::to_string(p).c_str());
            ASSERT_NE(pg, nullptr) << adapter::genName(gen) << " port " << p;
            Ctx c{gen, a, p, fw(a), *host_, ks, pg};
            for (const Row &r : rows) {
                SCOPED_TRACE(std::string(adapter::genName(gen)) + " port " + std::to_string(p) + ": " + r.what);
                HmNode *g = r.group[0] != '\0' ? group(pg, r.group) : pg;
                ASSERT_NE(g, nullptr);
                for (size_t e = 0; e < host_->adapterCount(); e++)
                    fw(e).clearReached();
                host_->clearLog();
                Want w = r.want(c);
                u32 rc = 0;
                std::string value;
                switch (r.mode) {
                case Mode::Cached:
                    if (r.name[0] != '\0')
                        value = cached(g, r.name);
                    break;
                case Mode::Get:
                    value = get(g, r.name, &rc);
                    break;
                case Mode::Set:
                    rc = set(g, r.name, r.args.at(0).c_str());
                    break;
                case Mode::Action:
                    rc = run(g, r.name, r.args);
                    break;
                }
                EXPECT_EQ(rc, w.rc);
                if (r.mode == Mode::Cached || r.mode == Mode::Get) {
                    EXPECT_EQ(value, w.value);
                }

                // Every command went to this port's function and acted on
                // this port; nothing reached another adapter.
                std::set<std::pair<u8, u8>> seen;
                bool on_port = false;
                for (size_t e = 0; e < host_->adapterCount(); e++) {
                    for (const adapter::Engine::Reached &hit : fw(e).reached()) {
                        EXPECT_EQ(e, a) << "command " << (int)hit.subsystem << "/" << (int)hit.opcode
                                        << " reached another adapter";
                        if (w.controller.count({hit.subsystem, hit.opcode}) != 0) {
                            EXPECT_EQ(hit.fn, controllerFn(c));
                            continue;
                        }
                        EXPECT_EQ(hit.fn, p) << "command " << (int)hit.subsystem << "/" << (int)hit.opcode;
                        EXPECT_TRUE(hit.port == -1 || hit.port == (int)p)
                            << "command " << (int)hit.subsystem << "/" << (int)hit.opcode << " acted on port "
                            << hit.port;
                        seen.insert({hit.subsystem, hit.opcode});
                        on_port |= hit.port == (int)p;
                    }
                }
                for (const auto &cmd : w.sends)
                    EXPECT_TRUE(seen.count(cmd) == 1) << "command " << (int)cmd.first << "/" << (int)cmd.second
                                                      << " was not sent";
                if (w.sends.empty()) {
                    EXPECT_TRUE(seen.empty()) << "nothing is sent";
                } else if (w.names_port) {
                    EXPECT_TRUE(on_port);
                }
                // The KS3's iSCSI ports go through their own iSCSI device
                // (and so do the KS3's controller commands: port 2's).
                for (const chardev::LoggedIoctl &l : host_->log()) {
                    bool nic = l.dev == chardev::Dev::Nic;
                    size_t at = nic ? 21 : 0;
                    if (l.request != (nic ? ORSA_NIC_IOCTL_PASSTHRU : ORSA_ISCSI_IOCTL_PASSTHRU) ||
                        l.bytes.size() < at + 2)
                        continue;
                    bool whole = w.controller.count({l.bytes[at + 1], l.bytes[at]}) != 0;
                    unsigned to = whole ? controllerFn(c) : p;
                    bool iscsi = gen == Gen::KS3 && to >= 2;
                    EXPECT_EQ(nic, !iscsi);
                    if (!nic) {
                        EXPECT_EQ(l.iscsi_device, (int)to - 2);
                    }
                }
                if (r.after)
                    r.after(c);
            }
        }
    }
}

}  // namespace

// The LLDP groups of a port as a client reads and changes them through the
// tree API over the emulated host.
#include <stdio.h>

#include "lldp_fixture.h"

namespace {

using adapter::Fault;

class Lldp : public LldpHost {
protected:
    void SetUp() override { boot(); }
    static HmNode *local(HmNode *pg) { return group(pg, "LLDP/LocalConfiguration"); }
    static HmNode *peer(HmNode *pg) { return group(pg, "LLDP/PeerConfiguration"); }
    static HmNode *stats(HmNode *pg) { return group(pg, "LLDP/LLDPStatistics"); }
    static std::string macText(const std::array<uint8_t, 6> &m)
    {
        char t[24];
        snprintf(t, sizeof t, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
        return t;
    }
};

TEST_F(Lldp, LocalConfigurationComesFromThePortsOwnView)
{
    // A NIC port of the Veskarn and an iSCSI port of the KS3: each reaches
    // its own port through the function of its class.
    struct Case {
        size_t adapter;
        int controller;
        const char *number;
        unsigned fw_port;
    } cases[] = {{1, 1, "1", 1}, {0, 0, "2", 2}, {0, 0, "0", 0}};
    for (const Case &c : cases) {
        HmNode *l = local(port(ctrl(c.controller), c.number));
        ASSERT_NE(l, nullptr) << c.number;
        lldp(c.adapter, c.fw_port).enables[0] = 0x02;  // receive only
        lldp(c.adapter, c.fw_port).enables[3] = 0;
        host_->clearLog();
        u32 rc = 9;
        EXPECT_EQ(get(l, "ChassisId", &rc), macText(fw(c.adapter).permanentMac(c.fw_port))) << c.number;
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(cached(l, "ChassisType"), "MAC Address");
        EXPECT_EQ(cached(l, "PortType"), "MAC Address");
        EXPECT_EQ(cached(l, "PortDescription"), "Port " + std::to_string(c.fw_port));
        EXPECT_EQ(cached(l, "SystemDescription"), fw(c.adapter).config().model_desc);
        EXPECT_EQ(cached(l, "SystemCapabilities"), "Station");
        EXPECT_EQ(cached(l, "TTL"), "120");
        EXPECT_EQ(cached(l, "TxState"), "Disabled");
        EXPECT_EQ(cached(l, "RxState"), "Enabled");
        EXPECT_EQ(cached(l, "SystemDescriptionTLV"), "Disabled");
        EXPECT_EQ(cached(l, "SystemNameTLV"), "Enabled");
        std::vector<std::vector<u8>> reqs = sent(15, 1);
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(reqs[0].size(), ORSA_LLDP_CFG_SIZE);
        EXPECT_EQ(rd32(reqs[0], 0), 0u) << "the local view";
        const auto &log = host_->log();
        bool iscsi = std::string(c.number) == "2";
        EXPECT_EQ(log.back().dev == chardev::Dev::Nic, !iscsi) << c.number;
    }
}

TEST_F(Lldp, PeerConfigurationShowsThePartnerAndOnlyItsDescriptions)
{
    HmNode *pg = port(ctrl(1), "0");
    HmNode *p = peer(pg), *l = local(pg);
    ASSERT_TRUE(p && l);
    // No partner yet: an empty description.
    EXPECT_EQ(get(p, "ChassisId"), "");
    EXPECT_EQ(cached(p, "ChassisType"), "Unknown");
    EXPECT_EQ(cached(p, "SystemCapabilities"), "Unknown");
    EXPECT_EQ(cached(p, "TTL"), "0");
    EXPECT_EQ(rd32(sent(15, 1).back(), 0), 1u) << "the peer view";

    adapter::LldpPort &fp = lldp(1, 0);
    fp.peer_present = true;
    fp.peer.chassis_id = std::string(300, 'c');  // fills its field with no end
    fp.peer.chassis_subtype = 9;
    fp.peer.port_id = "Ethernet1/7";
    fp.peer.port_subtype = 5;
    fp.peer.ttl = 90;
    fp.peer.system_name = "tor-switch-7";
    fp.peer.system_description = "Emulated top-of-rack switch";
    fp.peer.port_description = "uplink to rack 4";
    fp.peer.capabilities = 0x14;
    // The enables change in the adapter; a peer read leaves the local texts.
    fp.enables[0] = 0;
    EXPECT_EQ(get(p, "SystemName"), "tor-switch-7");
    EXPECT_EQ(cached(p, "ChassisId"), std::string(255, 'c'));
    EXPECT_EQ(cached(p, "ChassisType"), "Unknown");
    EXPECT_EQ(cached(p, "PortId"), "Ethernet1/7");
    EXPECT_EQ(cached(p, "PortType"), "Interface Name");
    EXPECT_EQ(cached(p, "TTL"), "90");
    EXPECT_EQ(cached(p, "SystemDescription"), "Emulated top-of-rack switch");
    EXPECT_EQ(cached(p, "PortDescription"), "uplink to rack 4");
    EXPECT_EQ(cached(p, "SystemCapabilities"), "Bridge");
    EXPECT_EQ(cached(l, "TxState"), "Enabled");
    EXPECT_EQ(get(l, "TxState"), "Disabled");
}

TEST_F(Lldp, SubtypeAndCapabilityTexts)
{
    HmNode *p = peer(port(ctrl(1), "0"));
    adapter::LldpPort &fp = lldp(1, 0);
    fp.peer_present = true;
    struct Case {
        u32 subtype, caps;
        const char *chassis, *port, *capability;
    } cases[] = {
        {0, 0, "Unknown", "Unknown", "Unknown"},
        {1, 0x01, "Chassis Component", "Interface Alias", "Other"},
        {2, 0x02, "Interface Alias", "Port Component", "Repeater"},
        {3, 0x08, "Port Component", "MAC Address", "WLAN"},
        {4, 0x10, "MAC Address", "Network Address", "Router"},
        {5, 0x20, "Network Address", "Interface Name", "Telephone"},
        {6, 0x40, "Interface Name", "Agent Circuit Id", "Docsis"},
        {7, 0x80, "Locally Assigned", "Locally Assigned", "Station"},
        {8, 0x100, "Unknown", "Unknown", "Unknown"},
        {0xFFFFFFFF, 0xFFFFFF00, "Unknown", "Unknown", "Unknown"},
    };
    for (const Case &c : cases) {
        fp.peer.chassis_subtype = c.subtype;
        fp.peer.port_subtype = c.subtype;
        fp.peer.capabilities = c.caps;
        EXPECT_EQ(get(p, "ChassisType"), c.chassis) << c.subtype;
        EXPECT_EQ(cached(p, "PortType"), c.port) << c.subtype;
        EXPECT_EQ(cached(p, "SystemCapabilities"), c.capability) << c.caps;
    }
}

TEST_F(Lldp, SettingAnEnableRewritesOnlyItsBit)
{
    HmNode *l = local(port(ctrl(1), "1"));
    ASSERT_NE(l, nullptr);
    adapter::LldpPort &fp = lldp(1, 1);
    u8 start[5] = {0x02, 1, 0, 0, 1};
    memcpy(fp.enables, start, sizeof start);
    struct Case {
        const char *property, *value;
        u8 want[5];
    } cases[] = {
        {"SystemNameTLV", "enabled", {0x02, 1, 1, 0, 1}},
        {"TxState", "Enabled", {0x03, 1, 1, 0, 1}},
        {"RxState", "Disabled", {0x01, 1, 1, 0, 1}},
        {"PortDescriptionTLV", "Disabled", {0x01, 0, 1, 0, 1}},
        {"SystemDescriptionTLV", "Enabled", {0x01, 0, 1, 1, 1}},
        {"SystemCapabilitiesTLV", "Disabled", {0x01, 0, 1, 1, 0}},
    };
    for (const Case &c : cases) {
        host_->clearLog();
        EXPECT_EQ(set(l, c.property, c.value), 0u) << c.property;
        std::vector<std::vector<u8>> writes = sent(15, 2);
        ASSERT_EQ(writes.size(), 1u) << c.property;
        ASSERT_EQ(writes[0].size(), ORSA_LLDP_SET_SIZE);
        for (size_t i = 0; i < 5; i++)
            EXPECT_EQ(writes[0][i], c.want[i]) << c.property << " byte " << i;
        EXPECT_EQ(writes[0][5] | writes[0][6] | writes[0][7], 0);
        EXPECT_EQ(rd32(sent(15, 1).back(), 0), 0u) << "read of the local view first";
        EXPECT_EQ(memcmp(fp.enables, c.want, 5), 0) << c.property;
        EXPECT_EQ(cached(l, c.property), c.value);
    }
}

TEST_F(Lldp, SettingTheCurrentValueSendsNothing)
{
    HmNode *l = local(port(ctrl(1), "0"));
    host_->clearLog();
    EXPECT_EQ(set(l, "TxState", "Enabled"), 0u);
    EXPECT_EQ(set(l, "RxState", "ENABLED"), 0u);
    EXPECT_TRUE(sent(15, 2).empty());
    EXPECT_FALSE(sent(15, 1).empty());
}

TEST_F(Lldp, FailuresKeepTheTextsAndSayWhy)
{
    HmNode *l = local(port(ctrl(1), "0"));
    ASSERT_EQ(get(l, "TxState"), "Enabled");
    fw(1).setFault(15, 2, Fault{.status = 1});
    EXPECT_NE(set(l, "TxState", "Disabled"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_LLDP_SET_FAILED);
    EXPECT_EQ(last_text(), "Cannot set LLDP properites. Application internal error occurred. Please check orsa2d.log "
                           "file for more information.");
    EXPECT_EQ(cached(l, "TxState"), "Enabled");
    EXPECT_EQ(lldp(1, 0).enables[0], 0x03);

    fw(1).setFault(15, 1, Fault{.status = 1});
    u32 rc = 0;
    get(l, "ChassisId", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_LLDP_GET_FAILED);
    EXPECT_NE(set(l, "TxState", "Disabled"), 0u);
    EXPECT_EQ(cached(l, "TxState"), "Enabled");

    fw(1).clearFaults();
    fw(1).setFault(15, 3, Fault{.status = 1});
    get(stats(port(ctrl(1), "0")), "TxPacketCount", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_LLDP_STATS_FAILED);
}

TEST_F(Lldp, StatisticsMoveWithTheFramesThePortCarries)
{
    HmNode *pg = port(ctrl(1), "0");
    HmNode *s = stats(pg);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(get(s, "TxPacketCount"), "0");
    EXPECT_EQ(sent(15, 3).back().size(), ORSA_LLDP_STATS_SIZE);

    adapter::LldpPort &fp = lldp(1, 0);
    fp.peer_present = true;
    fp.peer_unknown_tlvs = 2;
    fp.peer_org_tlvs = 3;
    adapter::lldpTick(fw(1), 0, 4);
    EXPECT_EQ(get(s, "TxPacketCount"), "4");
    EXPECT_EQ(get(s, "RxPacketCount"), "4");
    EXPECT_EQ(get(s, "UnrecognizedTLVs"), "8");
    EXPECT_EQ(get(s, "OrganizationalTLVCount"), "12");
    EXPECT_EQ(get(s, "NumPacketsDropped"), "0");

    // Receive turned off through the tree: the partner's frames are dropped.
    ASSERT_EQ(set(local(pg), "RxState", "Disabled"), 0u);
    adapter::lldpTick(fw(1), 0, 2);
    EXPECT_EQ(get(s, "NumPacketsDropped"), "2");
    EXPECT_EQ(get(s, "RxPacketCount"), "4");
    EXPECT_EQ(get(s, "TxPacketCount"), "6");
    // Another port's counters are its own.
    EXPECT_EQ(get(stats(port(ctrl(1), "1")), "TxPacketCount"), "0");
}

TEST_F(Lldp, VirtualFunctionsSeeNothing)
{
    HmNode *pg = port(ctrl(1), "0");
    host_->clearLog();
    vm_flag = 1;
    u32 rc = 0;
    EXPECT_EQ(get(local(pg), "ChassisId", &rc), "N/A");
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    EXPECT_EQ(get(stats(pg), "RxPacketCount", &rc), "N/A");
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(set(local(pg), "TxState", "Disabled"), 1u);
    vm_flag = 0;
    EXPECT_TRUE(sent(15, 1).empty());
    EXPECT_TRUE(sent(15, 2).empty());
    EXPECT_TRUE(sent(15, 3).empty());
}

TEST_F(Lldp, ReaderRefusesAGroupOutsideAPort)
{
    HmNode *l = local(port(ctrl(1), "0"));
    EXPECT_EQ(get_lldp_props(OrsaPort{1, ORSA_PROTO_NIC}, 0, 0, nullptr), 1u);
    EXPECT_EQ(get_lldp_props(OrsaPort{1, ORSA_PROTO_NIC}, 0, 0, l->parent), 1u);
    EXPECT_EQ(get_lldp_props(OrsaPort{1, ORSA_PROTO_NIC}, 0, 0, ctrl(1)), 1u);
}

}  // namespace

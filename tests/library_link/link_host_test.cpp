// Link, port speed and PHY as a client reads and changes them through the
// tree API over the emulated host.
#include <sys/time.h>

#include "backend/orsa_host.h"
#include "config/cfg_multichannel.h"
#include "link_fixture.h"

namespace {

using adapter::Fault;

chardev::HostSpec ks2Host()
{
    chardev::HostSpec spec;
    spec.adapters.push_back(adapterSpec(adapter::Gen::KS2, 7, "KS2EMU000001", {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")}));
    return spec;
}

class Link : public LinkHost {
protected:
    void SetUp() override { boot(); }
    HmNode *vsk0() { return port(ctrl(1), "0"); }
    // Re-reads the PHY of a port group as start-up does.
    void refreshPhy(HmNode *pg)
    {
        ASSERT_EQ(ORSA_update_interfacetype(orsa_port_of(pg), pg), 0u);
        ASSERT_EQ(ORSA_update_speed_props(orsa_port_of(pg), pg), 0u);
    }
};

TEST_F(Link, StartUpFillsSpeedListsInterfaceAndClearCounters)
{
    HmNode *v = vsk0(), *k = port(ctrl(0), "0");
    ASSERT_TRUE(v && k);
    EXPECT_EQ(cached(v, "ANSpeedsSupported"), "1Gb,10Gb");
    EXPECT_EQ(cached(v, "ForceSpeedsSupported"), "1Gb,10Gb");
    EXPECT_EQ(cached(v, "InterfaceType"), "QSFP_TYPE");
    EXPECT_EQ(cached(k, "ANSpeedsSupported"), "1Gb,10Gb");
    // Counter clearing is a Veskarn matter; one version-1 read tells.
    EXPECT_EQ(cached(baset(v), "IsClearCountersSupported"), "True");
    EXPECT_EQ(cached(baset(k), "IsClearCountersSupported"), "N/A");

    boot(chardev::defaultHost(), [](chardev::EmulatedHost &h) { h.engine(1).setFault(18, 8, Fault{.status = 1}); });
    EXPECT_EQ(cached(baset(port(ctrl(1), "0")), "IsClearCountersSupported"), "False");
    EXPECT_EQ(cached(baset(port(ctrl(0), "0")), "IsClearCountersSupported"), "N/A");
}

TEST_F(Link, SpeedListsFollowThePhyMasksAndMarker)
{
    HmNode *v = vsk0();
    struct Case {
        u16 an, forced;
        bool marker;
        const char *an_text, *forced_text;
    } cases[] = {
        {0x0C, 0x08, true, "1Gb,10Gb", "10Gb"},
        {0, 0x2C, true, "0", "1Gb,10Gb,40Gb"},
        {0x0C, 0x0C, false, "N/A", "N/A"},
        {0x13, 0x20, true, "10Mb,100Mb,20Gb", "40Gb"},
    };
    for (const Case &c : cases) {
        adapter::PhyPort &p = phy(1, 0);
        p.an_mask = c.an;
        p.forced_mask = c.forced;
        p.masks_valid = c.marker;
        refreshPhy(v);
        EXPECT_EQ(cached(v, "ANSpeedsSupported"), c.an_text) << c.an;
        EXPECT_EQ(cached(v, "ForceSpeedsSupported"), c.forced_text) << c.forced;
    }
    fw(1).setFault(1, 102, Fault{.status = 1});
    EXPECT_EQ(ORSA_update_speed_props(orsa_port_of(v), v), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_PHY_DETAILS_FAILED);
}

TEST_F(Link, ConfiguredSpeedModeAndCableLengthReadBack)
{
    HmNode *v = vsk0();
    struct Case {
        u16 code, dac;
        const char *speed, *mode;
    } cases[] = {
        {0, 0, "All Supported Speeds", "Default"},
        {14, 3, "40Gb", "Force"},
        {15, 0, "40Gb", "Auto-Negotiate"},
        {6, 1, "10Gb/1Gb", "Auto-Negotiate"},
        {19, 0, "20Gb", "Force"},
        {30, 2, "20Gb", "Auto-Negotiate"},  // no text of its own: the speed stays
    };
    for (const Case &c : cases) {
        fw(1).profiles().port_links[0].speed_code = c.code;
        fw(1).profiles().port_links[0].dac_length = c.dac;
        u32 rc = 9;
        EXPECT_EQ(get(v, "ConfiguredSpeed", &rc), c.speed) << c.code;
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(cached(v, "Mode"), c.mode) << c.code;
        EXPECT_EQ(cached(v, "DACCableLength"), std::to_string(c.dac)) << c.code;
    }
    EXPECT_EQ(sent(1, 134).back().at(0), 0u);  // the port in byte 0

    // The firmware lacks the command: all three "N/A"; another failure is one.
    fw(1).setFault(1, 134, Fault{.status = 2, .additional = 30});
    EXPECT_EQ(get(v, "Mode"), "N/A");
    EXPECT_EQ(cached(v, "ConfiguredSpeed"), "N/A");
    EXPECT_EQ(cached(v, "DACCableLength"), "N/A");
    fw(1).setFault(1, 134, Fault{.status = 1});
    u32 rc = 0;
    get(v, "Mode", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_LINK_SPEED_FAILED);
}

TEST_F(Link, SetPortSpeedCases)
{
    HmNode *v = vsk0();
    struct Case {
        const char *what;
        u16 an, forced;
        u8 if_type;
        u16 current_code, current_dac;
        std::vector<std::string> params;  // Speed, Mode, DACCableLength
        Fault fault;
        u32 rc, status;
        int code;  // -1: nothing sent
        u16 dac;
        bool vnic = false;
    } cases[] = {
        {"Default sends code 0 whatever the speed", 0x0C, 0x0C, 10, 3, 0, {"10Gb", "Default", "0"}, {}, 0, 0, 0, 0},
        {"nothing to change", 0x0C, 0x0C, 10, 3, 2, {"10Gb", "Auto-Negotiate", "2"}, {}, 0, 240, -1, 0},
        {"Force beyond the forced list", 0x0C, 0x08, 10, 0, 0, {"1Gb", "Force", "1"}, {}, 1, 229, -1, 0},
        {"Force to the third forced speed", 0x0C, 0x2C, 10, 0, 0, {"40Gb", "Force", "1"}, {}, 0, 0, 14, 1},
        {"Force 10Gb", 0x0C, 0x0C, 10, 0, 0, {"10Gb", "Force", "5"}, {}, 0, 0, 1, 5},
        {"AN combination through the table", 0x0C, 0x0C, 10, 0, 0, {"10Gb/1Gb", "Auto-Negotiate", "0"}, {}, 0, 0, 6, 0},
        {"AN combination the PHY does not negotiate", 0x0C, 0x0C, 10, 0, 0, {"40Gb/10Gb", "Auto-Negotiate", "0"}, {}, 1, 229, -1, 0},
        {"AN single speed of the list", 0x0E, 0x0C, 10, 0, 0, {"100Mb", "Auto-Negotiate", "0"}, {}, 0, 0, 5, 0},
        {"AN without a speed", 0x0C, 0x0C, 10, 0, 0, {"-", "Auto-Negotiate", "0"}, {}, 1, 225, -1, 0},
        {"no marker: no list", 0x0C, 0x0C, 10, 0, 0, {"10Gb", "Force", "0"}, {}, 1, 229, -1, 0},
        {"SFP+ Force needs a cable length", 0x0C, 0x0C, 3, 0, 0, {"10Gb", "Force"}, {}, 1, 224, -1, 0},
        {"not a DAC port: length 0", 0x0C, 0x0C, 6, 0, 0, {"10Gb", "Force", "4"}, {}, 0, 0, 1, 0},
        {"adapter refuses the speed", 0x0C, 0x0C, 10, 0, 0, {"1Gb", "Force", "0"}, {.status = 3}, 1, 229, 2, 0},
        {"adapter fails", 0x0C, 0x0C, 10, 0, 0, {"1Gb", "Force", "0"}, {.status = 1}, 1, 222, 2, 0},
        {"vNIC enabled: no 1Gb", 0x0C, 0x0C, 10, 0, 0, {"1Gb", "Force", "0"}, {}, 1, 260, -1, 0, true},
        {"vNIC enabled: 10Gb", 0x0C, 0x08, 10, 0, 0, {"10Gb", "Force", "0"}, {}, 0, 0, 1, 0, true},
    };
    for (const Case &c : cases) {
        adapter::PhyPort &p = phy(1, 0);
        p.an_mask = c.an;
        p.forced_mask = c.forced;
        p.if_type = c.if_type;
        p.masks_valid = strcmp(c.what, "no marker: no list") != 0;
        refreshPhy(v);
        fw(1).profiles().port_links[0] = adapter::PortLink{c.current_code, c.current_dac, 72};
        fw(1).clearFaults();
        fw(1).profiles().vnics[0].enabled = c.vnic;
        if (c.fault.status != 0)
            fw(1).setFault(1, 57, c.fault);
        host_->clearLog();
        EXPECT_EQ(run(v, "SetPortSpeed", c.params), c.rc) << c.what;
        if (c.status != 0) {
            EXPECT_EQ(last_code(), c.status) << c.what;
        }
        std::vector<std::vector<u8>> reqs = sent(1, 57);
        if (c.code < 0) {
            EXPECT_TRUE(reqs.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(reqs.size(), 1u) << c.what;
        EXPECT_EQ(reqs[0].size(), 8u);
        EXPECT_EQ(reqs[0][0], 0u);
        EXPECT_EQ(reqs[0][1], 0u);
        EXPECT_EQ(rd16(reqs[0], 2), (u32)c.code) << c.what;
        EXPECT_EQ(rd16(reqs[0], 4), c.dac) << c.what;
        if (c.rc == 0) {
            EXPECT_EQ(fw(1).profiles().port_links[0].speed_code, c.code) << c.what;
            EXPECT_EQ(get(v, "Mode"), orsa_speed_code_mode((u32)c.code)) << c.what;
        }
    }
}

TEST_F(Link, PortSpeedFromTheLinkStatus)
{
    HmNode *g = nic(ctrl(0), "0");
    ASSERT_NE(g, nullptr);
    struct Case {
        bool up;
        u8 code;
        u16 speed;  // 10 Mb/s units
        const char *want;
    } cases[] = {
        {true, 4, 250, "2.5Gb"}, {true, 4, 1000, "10Gb"}, {true, 4, 50, "500Mb"},
        {true, 4, 0, "10Gb"},    {true, 3, 0, "1Gb"},     {false, 4, 1000, "0 (Link Down)"},
    };
    for (const Case &c : cases) {
        adapter::Engine::PortState &p = fw(0).port(0);
        p.link_up = c.up;
        p.speed_code = c.code;
        p.qos_speed = c.speed;
        u32 rc = 9;
        EXPECT_EQ(get(g, "PortSpeed", &rc), c.want) << c.speed;
        EXPECT_EQ(rc, 0u);
    }
    fw(0).port(0).link_up = true;
    EXPECT_EQ(get(g, "LogicalLinkStatus"), "Up");
    EXPECT_EQ(get(port(ctrl(0), "0"), "PhysicalLinkStatus"), "Up");
    fw(0).port(0).logical = 0;
    EXPECT_EQ(get(g, "LogicalLinkStatus"), "Down");
    fw(0).setFault(1, 5, Fault{.status = 1});
    u32 rc = 0;
    get(g, "LogicalLinkStatus", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_LOGICAL_LINK_FAILED);
}

// A Veskarn function's port speed is its share of the link: "2.5" (units of
// 100 Mb/s) is 250Mb, not 200Mb, and a share of 0 is the whole link.
TEST_F(Link, VeskarnPortSpeedIsTheFunctionsShare)
{
    HmNode *g = nic(ctrl(1), "0");
    ASSERT_NE(g, nullptr);
    fw(1).port(0).speed_code = 3;  // 1 Gb/s
    fw(1).port(0).qos_speed = 0;
    u8 *nic_record = nullptr;
    for (adapter::ProfileRecord &r : fw(1).profiles().active)
        if (r[0] == adapter::kRecNic && adapter::recordPf(r) == 0)
            nic_record = r.data();
    ASSERT_NE(nic_record, nullptr);
    struct Case {
        u8 share;
        const char *softcap, *want;
    } cases[] = {{25, "2.5", "250Mb"}, {0, "0", "1Gb"}, {100, "10", "1Gb"}, {30, "3", "300Mb"}};
    for (const Case &c : cases) {
        nic_record[52] = c.share;
        EXPECT_EQ(get(g, "MaxBitsPerSecond"), c.softcap) << (int)c.share;
        EXPECT_EQ(get(g, "PortSpeed"), c.want) << (int)c.share;
    }
}

int64_t g_now_ms = 1000000;
int fake_clock(struct timeval *now)
{
    now->tv_sec = (time_t)(g_now_ms / 1000);
    now->tv_usec = (suseconds_t)(g_now_ms % 1000) * 1000;
    return 0;
}

class LinkStats : public Link {
protected:
    void SetUp() override
    {
        orsa_host_set_clock(fake_clock);
        Link::SetUp();
    }
    void TearDown() override
    {
        Link::TearDown();
        orsa_host_set_clock(nullptr);
    }
};

// Port 2 of controller 0 and port 0 of controller 1 each keep their own
// clock: one port's read does not hold back the other's.
TEST_F(LinkStats, TwoReadsWithinTenSecondsSendOneCommandPerPort)
{
    HmNode *k2 = baset(port(ctrl(0), "2")), *v0 = baset(port(ctrl(1), "0"));
    ASSERT_TRUE(k2 && v0);
    unsigned k_before = fw(0).commandsSeen(18, 8), v_before = fw(1).commandsSeen(18, 8);
    phy(0, 2).counters[1] = 41;
    phy(1, 0).counters[1] = 52;
    EXPECT_EQ(get(k2, "Temperature"), "41");
    EXPECT_EQ(get(v0, "Temperature"), "52");
    EXPECT_EQ(fw(0).commandsSeen(18, 8), k_before + 1);
    EXPECT_EQ(fw(1).commandsSeen(18, 8), v_before + 1);
    phy(0, 2).counters[1] = 43;
    g_now_ms += 9999;
    EXPECT_EQ(get(k2, "Temperature"), "41");
    EXPECT_EQ(get(v0, "PairASNR"), "0x0");
    EXPECT_EQ(fw(0).commandsSeen(18, 8), k_before + 1);
    EXPECT_EQ(fw(1).commandsSeen(18, 8), v_before + 1);
    g_now_ms += 1;
    EXPECT_EQ(get(k2, "Temperature"), "43");
    EXPECT_EQ(get(v0, "Temperature"), "52");
    EXPECT_EQ(fw(0).commandsSeen(18, 8), k_before + 2);
    EXPECT_EQ(fw(1).commandsSeen(18, 8), v_before + 2);
}

TEST_F(LinkStats, FillsFallBackAndFailures)
{
    HmNode *v0 = baset(port(ctrl(1), "0")), *k0 = baset(port(ctrl(0), "0"));
    adapter::PhyPort &p = phy(1, 0);
    for (u32 w = 0; w < 22; w++)
        p.counters[w] = 100 + w;
    p.counters[0] = 0xABC;
    p.counters[1] = (u32)-3;
    p.counters[19] = 7;
    p.counters[21] = 1;  // frame counter high word
    EXPECT_EQ(get(v0, "10GBaseTDiagStatus"), "0xabc");
    EXPECT_EQ(cached(v0, "Temperature"), "-3");
    EXPECT_EQ(cached(v0, "PairDSNR"), "0x69");
    EXPECT_EQ(cached(v0, "LDPCFrameLow"), "113");
    EXPECT_EQ(cached(v0, "10GEMIEventCounter"), "118");
    EXPECT_EQ(cached(v0, "PHYFrameCounter"), "4294967303");
    std::vector<std::vector<u8>> reqs = sent(18, 8);
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(reqs.back().size(), 112u);
    EXPECT_EQ(rd32(reqs.back(), 4), 0u);  // a read clears nothing

    // The version-1 read unknown to the firmware: the version-0 one fills.
    g_now_ms += 10000;
    fw(1).setFault(18, 8, Fault{.status = 66, .times = 1});
    EXPECT_EQ(get(v0, "PHYFrameCounter"), "7");

    // Both unknown (KS3 has version 0 only): the texts stay, the clock
    // restarts, the read answers 149.
    p.counters[19] = 8;
    g_now_ms += 10000;
    fw(0).setFault(18, 8, Fault{.status = 66});
    set_prop_val(k0, "Temperature", "kept");
    u32 rc = 0;
    get(k0, "Temperature", &rc);
    EXPECT_EQ(rc, 149u);
    EXPECT_EQ(cached(k0, "Temperature"), "kept");
    unsigned seen = fw(0).commandsSeen(18, 8);
    get(k0, "Temperature");
    EXPECT_EQ(fw(0).commandsSeen(18, 8), seen);

    g_now_ms += 10000;
    fw(0).setFault(18, 8, Fault{.status = 1});
    get(k0, "Temperature", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_BASET_STATS_FAILED);
}

TEST_F(Link, ClearCountersOnVeskarnOnly)
{
    HmNode *v0 = baset(vsk0()), *k0 = baset(port(ctrl(0), "0"));
    phy(1, 0).counters[2] = 9;
    host_->clearLog();
    EXPECT_EQ(act(v0, "ClearCounters"), 0u);
    std::vector<std::vector<u8>> reqs = sent(18, 8);
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].size(), 112u);
    EXPECT_EQ(rd32(reqs[0], 0), 0u);
    EXPECT_EQ(rd32(reqs[0], 4), 1u);
    EXPECT_EQ(phy(1, 0).counters[2], 0u);

    host_->clearLog();
    EXPECT_EQ(act(k0, "ClearCounters"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_CLEAR_COUNTERS_UNSUPPORTED);
    EXPECT_TRUE(sent(18, 8).empty());
    set_prop_val(v0, "IsClearCountersSupported", "False");
    EXPECT_EQ(act(v0, "ClearCounters"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_CLEAR_COUNTERS_UNSUPPORTED);
}

TEST_F(Link, NvpValueReadWriteAndItsGates)
{
    HmNode *v0 = baset(vsk0());
    EXPECT_EQ(get(v0, "NVPValue"), "72");
    struct Case {
        const char *value;
        u32 rc, status;
        bool sent;
    } cases[] = {
        {"abc", 1, 6, false}, {"101", 1, 6, false}, {"0", 1, 6, false}, {"-5", 1, 6, false},
        {"80", 0, 0, true},   {"80", 0, 0, false},  // unchanged: nothing to send
    };
    for (const Case &c : cases) {
        host_->clearLog();
        EXPECT_EQ(set(v0, "NVPValue", c.value), c.rc) << c.value;
        if (c.status != 0) {
            EXPECT_EQ(last_code(), c.status) << c.value;
        }
        EXPECT_EQ(sent(18, 10).size(), c.sent ? 1u : 0u) << c.value;
    }
    EXPECT_EQ(fw(1).profiles().port_links[0].nvp, 80u);
    EXPECT_EQ(get(v0, "NVPValue"), "80");

    vm_flag = 1;
    host_->clearLog();
    EXPECT_EQ(set(v0, "NVPValue", "70"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    EXPECT_TRUE(sent(18, 10).empty());
    vm_flag = 0;

    fw(1).setFault(18, 12, Fault{.status = 66});
    EXPECT_EQ(get(v0, "NVPValue"), "N/A");
    fw(1).setFault(18, 10, Fault{.status = 1});
    EXPECT_EQ(set(v0, "NVPValue", "60"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NVP_SET_FAILED);
}

TEST_F(Link, TxThrottleIsRefusedWhereNothingIsSent)
{
    HmNode *v = vsk0();
    host_->clearLog();
    EXPECT_EQ(set(v, "TXThrottle", "1"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_TXTHROTTLE_UNSUPPORTED);
    EXPECT_TRUE(sent(1, 132).empty());
    EXPECT_EQ(get(v, "TXThrottle"), "N/A");

    HmNode *k = port(ctrl(0), "0");
    EXPECT_EQ(set(k, "TXThrottle", "1"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_TXTHROTTLE_UNSUPPORTED);
    EXPECT_EQ(get(k, "TXThrottle"), "N/A");
}

TEST_F(Link, PortStateAndPhyType)
{
    HmNode *v = vsk0();
    EXPECT_EQ(set(v, "PortState", "Enabled"), 0u);
    EXPECT_EQ(get(v, "PortState"), "Enabled");
    EXPECT_EQ(set(v, "PortState", "Disabled"), 0u);
    EXPECT_EQ(get(v, "PortState"), "Disabled");
    std::vector<std::vector<u8>> reqs = sent(1, 62);
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(rd32(reqs.back(), 0), 0u);
    phy(1, 0).type = 0x12;
    EXPECT_EQ(get(v, "PHYType"), "0x12");
    fw(1).setFault(1, 102, Fault{.status = 1});
    u32 rc = 0;
    get(v, "PHYType", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(cached(v, "PHYType"), "N/A");
}

class LinkKs2 : public LinkHost {
protected:
    void SetUp() override { boot(ks2Host()); }
};

TEST_F(LinkKs2, LinkPropertiesAndSetPortSpeed)
{
    HmNode *p = port(ctrl(0), "0");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(cached(p, "ANSpeedsSupported"), "N/A");
    EXPECT_EQ(get(p, "ConfiguredSpeed"), "N/A");
    EXPECT_EQ(cached(p, "Mode"), "N/A");
    EXPECT_EQ(act(p, "SetPortSpeed", {"10Gb", "Force", "1"}), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_PORT_SPEED_KS2);
    EXPECT_EQ(get(baset(p), "Temperature"), "N/A");
    EXPECT_EQ(get(baset(p), "NVPValue"), "N/A");
    EXPECT_EQ(set(baset(p), "NVPValue", "70"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_NOT_SUPPORTED);
}

TEST_F(LinkKs2, TxThrottleOfAnFcoeAdapter)
{
    HmNode *p = port(ctrl(0), "0");
    HmNode *persona = group(ctrl(0), "Personality");
    ASSERT_TRUE(p && persona);
    set_prop_val(persona, "CurrentPersonality", "FCoE");
    struct Case {
        const char *value;
        u32 rc, status;
        bool sent;
    } cases[] = {{"3", 1, 6, false}, {"x", 1, 6, false}, {"1", 0, 0, true}, {"2", 0, 0, true}};
    for (const Case &c : cases) {
        host_->clearLog();
        EXPECT_EQ(set(p, "TXThrottle", c.value), c.rc) << c.value;
        if (c.status != 0) {
            EXPECT_EQ(last_code(), c.status) << c.value;
            EXPECT_EQ(last_text(), "Invalid Value. Valid values are 1 or 2.");
        }
        std::vector<std::vector<u8>> reqs = sent(1, 132);
        ASSERT_EQ(reqs.size(), c.sent ? 1u : 0u) << c.value;
        if (c.sent) {
            EXPECT_EQ(std::to_string(rd32(reqs[0], 0)), c.value);
        }
    }
    EXPECT_EQ(get(p, "TXThrottle"), "2");
    set_prop_val(persona, "CurrentPersonality", "NIC");
    EXPECT_EQ(get(p, "TXThrottle"), "N/A");
    EXPECT_EQ(set(p, "TXThrottle", "1"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_TXTHROTTLE_UNSUPPORTED);
}

}  // namespace

namespace {

// The FCoE function's share of the link: 10Gb at 30% is 3Gb, 40Gb at 33%
// 13.2Gb, 10Gb at 5% 500Mb; no share (or no FCoE function) the whole link.
TEST_F(Link, FcoeLinkSpeedIsTheFcoeFunctionsShare)
{
    HmNode *v = vsk0();
    adapter::ProfileRecord fcoe = adapter::functionRecord(adapter::kRecFcoe, 4, 0, {0x02, 0, 0, 0, 0, 4});
    adapter::ProfileStore &s = fw(1).profiles();
    s.active.push_back(fcoe);
    s.configured.push_back(fcoe);
    struct Case {
        bool up;
        u8 code, share;
        const char *want;
    } cases[] = {
        {true, 4, 30, "3Gb"}, {true, 7, 33, "13.2Gb"}, {true, 4, 5, "500Mb"},
        {true, 4, 0, "10Gb"}, {false, 4, 30, "0 (Link Down)"},
    };
    for (const Case &c : cases) {
        s.active.back()[60] = s.configured.back()[60] = c.share;
        fw(1).port(0).link_up = c.up;
        fw(1).port(0).speed_code = c.code;
        u32 rc = 9;
        EXPECT_EQ(get(v, "FCoELinkSpeed", &rc), c.want) << (int)c.code << " " << (int)c.share;
        EXPECT_EQ(rc, 0u);
    }
}

// The iSCSI function's view of the link: NICConfiguration below its
// physical HBA (KS3 port 2).
TEST_F(Link, IscsiFunctionLinkPropertiesAndActivePort)
{
    HmNode *phba = get_valid_phba(ctrl(0), "2");
    HmNode *n = phba != nullptr ? group(phba, "Network/NICConfiguration") : nullptr;
    ASSERT_NE(n, nullptr);
    adapter::Engine::PortState &p = fw(0).port(2);
    p.link_up = true;
    p.speed_code = 4;
    p.qos_speed = 250;
    p.logical = 1;
    EXPECT_EQ(get(n, "LogicalLinkStatus"), "Up");
    EXPECT_EQ(get(n, "PortSpeed"), "2.5Gb");
    p.logical = 0;
    EXPECT_EQ(get(n, "LogicalLinkStatus"), "Down");
    p.logical = 2;  // neither: the text stays
    EXPECT_EQ(get(n, "LogicalLinkStatus"), "Down");

    int active = 0;
    host_->setReplyRewrite([&active](u8 *reply, size_t size) {
        if (reply[0] == 5 && reply[1] == 1 && size > 16)
            reply[16] = (u8)active;
    });
    struct Case {
        int byte;
        const char *want;
    } cases[] = {{1, "1"}, {0, "0"}, {15, "None"}, {7, "None"}};
    for (const Case &c : cases) {
        active = c.byte;
        EXPECT_EQ(get(n, "ActivePort"), c.want) << c.byte;
    }
    host_->setReplyRewrite(nullptr);
    fw(0).setFault(1, 5, Fault{.status = 1});
    u32 rc = 0;
    get(n, "ActivePort", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_ACTIVE_PORT_FAILED);
}

class LinkPivard : public LinkHost {
protected:
    void SetUp() override
    {
        chardev::HostSpec spec;
        spec.adapters.push_back(
            adapterSpec(adapter::Gen::Pivard, 9, "PIVEMU000001", {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")}));
        boot(spec);
    }
};

TEST_F(LinkPivard, PortStateNamesThePortInByteTwo)
{
    HmNode *p1 = port(ctrl(0), "1");
    ASSERT_NE(p1, nullptr);
    EXPECT_EQ(get(p1, "PortState"), "Enabled");
    host_->clearLog();
    EXPECT_EQ(set(p1, "PortState", "Disabled"), 0u);
    std::vector<std::vector<u8>> gets = sent(1, 71), sets = sent(1, 62);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0][0], 0u);
    EXPECT_EQ(sets[0][2], 1u);
    ASSERT_FALSE(gets.empty());
    EXPECT_EQ(gets[0][2], 1u);
    EXPECT_EQ(get(p1, "PortState"), "Disabled");
    EXPECT_FALSE(phy(0, 1).enabled);
    EXPECT_EQ(get(port(ctrl(0), "0"), "PortState"), "Enabled");
    // Pivard has no 10GBase-T statistics to show.
    EXPECT_EQ(get(baset(p1), "PairBSNR"), "N/A");
    EXPECT_EQ(cached(baset(p1), "IsClearCountersSupported"), "N/A");
}

}  // namespace

// Multichannel from a client down to the emulated adapters' store, nothing
// answered in between: what the library writes is what the adapter keeps.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "fw_profile.h"
#include "iscsi/iscsi_persist.h"
#include "mc_fixture.h"

namespace {

std::string readFile(const char *path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return in ? s.str() : std::string();
}

class McStore : public DiscoveryHost {
protected:
    adapter::ProfileStore &store(size_t i) { return host_->engine(i).profiles(); }
    void TearDown() override
    {
        unlink(ORSA_CONFIG_PROF_FILE);
        DiscoveryHost::TearDown();
    }
    // Veskarn: port 0 of multichannel type mc with NIC functions 0 and 1
    // (LPVID 7, shares 10..50, outer VLAN 0x10 + function).
    void bootVeskarn(u8 mc)
    {
        ASSERT_NO_FATAL_FAILURE(make(chardev::defaultHost()));
        std::vector<adapter::ProfileRecord> records = {adapter::portRecord(0, mc, 8, 0, 8, 0, 0, 0)};
        for (unsigned pf : {0u, 1u}) {
            records.push_back(adapter::pcieRecord(pf, 1, 1, 0x1));
            adapter::ProfileRecord nic = adapter::functionRecord(adapter::kRecNic, pf, 0, {0x02, 0, 0, 0, 0, (uint8_t)pf});
            nic[36] = 7;  // LPVID
            nic[46] = (u8)(0x10 + pf);
            nic[48] = 10;
            nic[52] = 50;
            records.push_back(nic);
        }
        store(1).configured = records;
        store(1).active = records;
        ASSERT_EQ(start(), 0u);
    }
    // KS3 with a firmware that answers profile reads: port p runs NIC
    // function p (LPVID 10 + p, shares 20..60, outer VLAN 0x21) and iSCSI
    // function 2 + p (shares 30..40), both ports of multichannel type mc.
    void bootKs3(u8 mc)
    {
        ASSERT_NO_FATAL_FAILURE(make(chardev::defaultHost()));
        std::vector<adapter::ProfileRecord> records;
        for (unsigned port : {0u, 1u})
            records.push_back(adapter::portRecord(port, mc, 8, 1, 4, 0, 1, 0));
        for (unsigned port : {0u, 1u}) {
            records.push_back(adapter::pcieRecord(port, 1, 1, 0x1));
            adapter::ProfileRecord nic = adapter::functionRecord(adapter::kRecNic, port, port, {0x02, 0, 0, 0, 0, (uint8_t)port});
            nic[36] = (u8)(10 + port);
            nic[46] = 0x21;
            nic[48] = 20;
            nic[52] = 60;
            records.push_back(nic);
            records.push_back(adapter::pcieRecord(2 + port, 1, 2, 0x2));
            adapter::ProfileRecord iscsi =
                adapter::functionRecord(adapter::kRecIscsi, 2 + port, port, {0x02, 0, 0, 0, 0, (uint8_t)(2 + port)});
            iscsi[36] = 30;
            iscsi[40] = 40;
            records.push_back(iscsi);
        }
        store(0).ks3_profile_reads = true;
        store(0).configured = records;
        store(0).active = records;
        ASSERT_EQ(start(), 0u);
    }
    // The multichannel type of every port, configured and running.
    void setMc(size_t i, u8 mc)
    {
        for (std::vector<adapter::ProfileRecord> *rs : {&store(i).configured, &store(i).active})
            for (adapter::ProfileRecord &r : *rs)
                if (r[0] == adapter::kRecPort)
                    r[5] = mc;
    }
    static const adapter::ProfileRecord *record(const std::vector<adapter::ProfileRecord> &rs, u8 type, unsigned pf)
    {
        for (const adapter::ProfileRecord &r : rs)
            if (r[0] == type && adapter::recordPf(r) == pf)
                return &r;
        return nullptr;
    }
    static const adapter::ProfileRecord *nicRecord(const std::vector<adapter::ProfileRecord> &rs, unsigned pf)
    {
        return record(rs, adapter::kRecNic, pf);
    }
    static HmNode *portGroup(HmNode *ks, const char *number)
    {
        for (HmNode *p = get_first_instance(ks, "PortDiscoveryAndConfiguration"); p != nullptr; p = hm_next_instance(p))
            if (cached(p, "PortNumber") == number)
                return p;
        return nullptr;
    }
    static std::vector<u8> portTypes(const std::vector<adapter::ProfileRecord> &rs)
    {
        std::vector<u8> out;
        for (const adapter::ProfileRecord &r : rs)
            if (r[0] == adapter::kRecPort)
                out.push_back(r[5]);
        return out;
    }
    static u32 qos(HmNode *channel, const char *min, const char *max)
    {
        HmValueSlot params[HM_MAX_PARAMS] = {};
        strcpy(params[0], min);
        strcpy(params[1], max);
        return do_ConfigureQoS(channel, nullptr, params);
    }
    static u32 channelManagement(HmNode *cm, const char *state, const char *type)
    {
        HmValueSlot params[HM_MAX_PARAMS] = {};
        strcpy(params[0], state);
        strcpy(params[1], type);
        orsa_reset_last_status();
        return do_ConfigureChannelManagement(cm, nullptr, params);
    }
    static u32 u32At(const adapter::ProfileRecord &r, size_t at) { return r[at] | r[at + 1] << 8 | r[at + 2] << 16 | (u32)r[at + 3] << 24; }
    static std::vector<HmNode *> channelsOf(HmNode *ks, const char *port)
    {
        std::vector<HmNode *> out;
        for (HmNode *p = get_first_instance(ks, "PortDiscoveryAndConfiguration"); p != nullptr; p = hm_next_instance(p)) {
            if (cached(p, "PortNumber") != port)
                continue;
            HmNode *cm = group(p, "ChannelManagement");
            for (HmNode *c = cm != nullptr ? get_first_instance(cm, "Channel") : nullptr; c != nullptr; c = hm_next_instance(c))
                out.push_back(c);
        }
        return out;
    }
};

TEST_F(McStore, VeskarnChannelsAtStartUpTakeQosAndLinkState)
{
    ASSERT_NO_FATAL_FAILURE(bootVeskarn(5));
    HmNode *vsk = ctrl(1);
    std::vector<HmNode *> ch = channelsOf(vsk, "0");
    ASSERT_EQ(ch.size(), 2u) << "start-up built the channels of port 0";
    EXPECT_EQ(cached(ch[1], "FunctionNumber"), "0x1");
    EXPECT_EQ(cached(ch[1], "LPVID"), "7");
    EXPECT_EQ(get(ch[1], "MaxBandWidth"), "50");

    HmValueSlot params[HM_MAX_PARAMS] = {};
    strcpy(params[0], "20");
    strcpy(params[1], "80");
    ASSERT_EQ(do_ConfigureQoS(ch[1], nullptr, params), 0u) << last_code();
    const adapter::ProfileRecord *rec = nicRecord(store(1).configured, 1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(u32At(*rec, 48), 20u);
    EXPECT_EQ(u32At(*rec, 52), 80u);
    EXPECT_EQ((*rec)[36], 7) << "the LPVID stays";
    EXPECT_EQ(u32At(*nicRecord(store(1).configured, 0), 52), 50u) << "the other function is untouched";
    EXPECT_EQ(get(ch[1], "MaxBandWidth"), "80");

    ASSERT_EQ(set(ch[1], "LogicalLinkState", "Disabled"), 0u) << last_code();
    rec = nicRecord(store(1).configured, 1);
    EXPECT_EQ((*rec)[45] & 0x02, 0x02);
    EXPECT_EQ(u32At(*rec, 52), 80u) << "the shares stay";
    EXPECT_EQ(get(ch[1], "LogicalLinkState"), "Disabled");

    ASSERT_EQ(set(ch[0], "LPVID", "300"), 0u) << last_code();
    EXPECT_EQ(nicRecord(store(1).configured, 0)->at(36) | nicRecord(store(1).configured, 0)->at(37) << 8, 300);
}

// A KS3 firmware without profile reads: the channels cannot be rebuilt,
// the write itself still reaches the adapter.
TEST_F(McStore, Ks3MultichannelModeReachesTheAdapter)
{
    ASSERT_NO_FATAL_FAILURE(make(chardev::defaultHost()));
    ASSERT_EQ(start(), 0u);
    HmNode *cm = group(ctrl(0), "ChannelManagement");
    ASSERT_NE(cm, nullptr);
    EXPECT_EQ(get(cm, "SupportedMCTypes"), "UMC,NPAR,vNIC1,UFP");
    HmValueSlot params[HM_MAX_PARAMS] = {};
    strcpy(params[0], "Enabled");
    strcpy(params[1], "HPUMC");
    EXPECT_EQ(do_ConfigureChannelManagement(cm, nullptr, params), 1u);
    EXPECT_EQ(last_code(), 294u);
    EXPECT_FALSE(store(0).reset_needed);
    strcpy(params[1], "NPAR");
    do_ConfigureChannelManagement(cm, nullptr, params);
    EXPECT_TRUE(store(0).reset_needed);
    int ports = 0;
    for (const adapter::ProfileRecord &r : store(0).configured)
        if (r[0] == adapter::kRecPort) {
            ++ports;
            EXPECT_EQ(r[5], 5) << "NPAR";
        }
    EXPECT_GT(ports, 0);
}

TEST_F(McStore, VnicQosAndSoftCapsFromTheStore)
{
    ASSERT_NO_FATAL_FAILURE(make(chardev::defaultHost()));
    ASSERT_EQ(start(), 0u);
    HmNode *ks3 = ctrl(0), *vsk = ctrl(1);
    HmNode *vnic = group(get_first_instance(vsk, "NICPhysicalHBA"), "vNIC");
    ASSERT_NE(vnic, nullptr);
    const adapter::VnicFunction &v = store(1).vnics.at(0);
    EXPECT_EQ(get(vnic, "vNICName"), v.name);
    EXPECT_EQ(get(vnic, "OuterVLANID"), std::to_string(v.outer_vlan));
    EXPECT_EQ(get(vnic, "MaxBandwidth"), std::to_string(v.max_bw));

    HmNode *iscsi = get_first_instance(ks3, "iSCSIPhysicalHBA");
    ASSERT_NE(iscsi, nullptr);
    u32 fn = (u32)strtoul(cached(group(iscsi, "PCI"), "FunctionNumber").c_str(), nullptr, 16);
    HmNode *qos = group(iscsi, "LogicalHBA0/iSCSIQoS");
    ASSERT_EQ(set(qos, "MaxBytesPerSecond", "100"), 0u) << last_code();
    EXPECT_EQ(store(0).qos[fn].max_bytes, 102400u);
    EXPECT_EQ(get(qos, "MaxBytesPerSecond"), "100");
}

// Start-up builds the KS3 channels of every port from the adapter's
// configured profile; the management types come from its port records.
TEST_F(McStore, Ks3ChannelsAtStartUpFromTheAdaptersProfile)
{
    ASSERT_NO_FATAL_FAILURE(bootKs3(2));
    HmNode *ks3 = ctrl(0);
    std::vector<HmNode *> p0 = channelsOf(ks3, "0"), p1 = channelsOf(ks3, "1");
    ASSERT_EQ(p0.size(), 2u);
    ASSERT_EQ(p1.size(), 2u);
    EXPECT_EQ(channelText(p0[0]), "0x0 NIC Enabled 02-00-00-00-00-00 10 20 60");
    EXPECT_EQ(channelText(p0[1]), "0x2 iSCSI Enabled 02-00-00-00-00-02 N/A 30 40");
    EXPECT_EQ(channelText(p1[0]), "0x1 NIC Enabled 02-00-00-00-00-01 11 20 60");
    EXPECT_EQ(channelText(p1[1]), "0x3 iSCSI Enabled 02-00-00-00-00-03 N/A 30 40");

    HmNode *cm = group(ks3, "ChannelManagement");
    ASSERT_NE(cm, nullptr);
    EXPECT_EQ(get(cm, "SupportedMCTypes"), "UMC,NPAR,vNIC1,UFP");
    EXPECT_EQ(get(cm, "CurrentManagementType"), "UMC");
    EXPECT_EQ(get(cm, "ConfiguredManagementType"), "UMC");
    EXPECT_EQ(get(p0[0], "OuterVLANID"), "N/A") << "UMC names no outer VLAN";
    EXPECT_EQ(get(p0[0], "vNICName"), "N/A") << "UMC names no vNIC";
    // Running vNIC1: each channel's name is its function's, as the adapter keeps it.
    setMc(0, 4);
    EXPECT_EQ(get(p0[0], "vNICName"), store(0).vnics.at(0).name);
    EXPECT_EQ(get(p0[1], "vNICName"), store(0).vnics.at(2).name);
    EXPECT_EQ(get(p0[0], "OuterVLANID"), "33") << "vNIC1: the running record's outer VLAN";
    setMc(0, 2);

    // A refresh of one port rebuilds its channels from what the adapter holds now.
    store(0).configured.erase(store(0).configured.begin() + 4, store(0).configured.begin() + 6);  // iSCSI 0x2
    ASSERT_EQ(ORSA_refresh_group(group(portGroup(ks3, "0"), "ChannelManagement")->tag), 0u);
    p0 = channelsOf(ks3, "0");
    ASSERT_EQ(p0.size(), 1u);
    EXPECT_EQ(cached(p0[0], "FunctionNumber"), "0x0");
    EXPECT_EQ(channelsOf(ks3, "1").size(), 2u) << "the other port is left";
}

// Every refusal of a KS3 channel write leaves the adapter as it was.
TEST_F(McStore, Ks3ChannelWritesRefusedSendNothing)
{
    ASSERT_NO_FATAL_FAILURE(bootKs3(2));
    std::vector<HmNode *> ch = channelsOf(ctrl(0), "0");
    ASSERT_EQ(ch.size(), 2u);
    struct Case {
        const char *what;
        u8 mc;
        int channel;                    // 0 NIC, 1 iSCSI
        const char *property, *value;   // nullptr property: ConfigureQoS value/"50"
        u32 rc, status;
    } cases[] = {
        {"LPVID 1 outside vNIC1", 2, 0, "LPVID", "1", 1, 308},
        {"LPVID 0 outside vNIC1", 7, 0, "LPVID", "0", 1, 308},
        {"LPVID of a storage function", 2, 1, "LPVID", "10", 1, 286},
        {"LPVID under UFP", 6, 0, "LPVID", "10", 1, ORSA_FAILURE},
        {"QoS minimum above maximum", 2, 0, nullptr, "60", 1, 287},
        {"QoS under vNIC1", 4, 0, nullptr, "20", 285, 285},
        {"QoS under UFP", 6, 1, nullptr, "20", 285, 285},
        {"LPVID without multichannel", 1, 0, "LPVID", "10", 1, 323},
        {"QoS without multichannel", 1, 0, nullptr, "20", 1, 323},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setMc(0, c.mc);
        store(0).reset_needed = false;
        const std::vector<adapter::ProfileRecord> before = store(0).configured;
        orsa_reset_last_status();
        u32 rc = c.property != nullptr ? set(ch[(size_t)c.channel], c.property, c.value)
                                       : qos(ch[(size_t)c.channel], c.value, "50");
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(last_code(), c.status);
        EXPECT_EQ(store(0).configured, before);
        EXPECT_FALSE(store(0).reset_needed);
    }
}

// What a KS3 channel write changes in the adapter's function record, and
// nothing else.
TEST_F(McStore, Ks3ChannelWritesReachTheAdapter)
{
    ASSERT_NO_FATAL_FAILURE(bootKs3(2));
    std::vector<HmNode *> ch = channelsOf(ctrl(0), "0");
    ASSERT_EQ(ch.size(), 2u);
    const std::vector<adapter::ProfileRecord> start = store(0).configured;
    auto nic0 = [&] { return *record(store(0).configured, adapter::kRecNic, 0); };
    auto iscsi2 = [&] { return *record(store(0).configured, adapter::kRecIscsi, 2); };

    ASSERT_EQ(qos(ch[0], "25", "75"), 0u) << last_code();
    EXPECT_TRUE(store(0).reset_needed);
    adapter::ProfileRecord want = *record(start, adapter::kRecNic, 0);
    want[48] = 25;
    want[52] = 75;
    want[3] = nic0()[3];  // the write's own flags
    want[2] = nic0()[2];
    EXPECT_EQ(nic0(), want) << "only the shares change: LPVID, MAC, outer VLAN and port stay";
    EXPECT_EQ(get(ch[0], "MaxBandWidth"), "75");

    ASSERT_EQ(set(ch[1], "LogicalLinkState", "Disabled"), 0u) << last_code();
    EXPECT_EQ(iscsi2()[33] & 0x02, 0x02);
    EXPECT_EQ(u32At(iscsi2(), 36), 30u);
    EXPECT_EQ(u32At(iscsi2(), 40), 40u);
    EXPECT_EQ(get(ch[1], "LogicalLinkState"), "Disabled");
    ASSERT_EQ(set(ch[1], "LogicalLinkState", "Enabled"), 0u) << last_code();
    EXPECT_EQ(iscsi2()[33] & 0x02, 0);

    ASSERT_EQ(set(ch[0], "LPVID", "300"), 0u) << last_code();
    EXPECT_EQ(nic0()[36] | nic0()[37] << 8, 300);
    EXPECT_EQ(u32At(nic0(), 52), 75u) << "the shares stay";
    EXPECT_EQ(nic0()[45] & 0x02, 0) << "shares not both 0: the link stays up";
    EXPECT_EQ(get(ch[0], "LPVID"), "300");

    // vNIC1 takes any LPVID; it copies the running record.
    setMc(0, 4);
    ASSERT_EQ(set(ch[0], "LPVID", "1"), 0u) << last_code();
    EXPECT_EQ(nic0()[36] | nic0()[37] << 8, 1);

    // The records of port 1 were never touched.
    for (unsigned pf : {1u, 3u}) {
        u8 type = pf == 1 ? adapter::kRecNic : adapter::kRecIscsi;
        EXPECT_EQ(*record(store(0).configured, type, pf), *record(start, type, pf)) << pf;
    }
}

// The KS3 multichannel mode: the adapter's port records, the reboot notice,
// the channels rebuilt, the running type after the adapter's reset.
TEST_F(McStore, Ks3MultichannelModeRebuildsTheChannels)
{
    ASSERT_NO_FATAL_FAILURE(bootKs3(2));
    HmNode *ks3 = ctrl(0);
    HmNode *cm = group(ks3, "ChannelManagement");
    ASSERT_NE(cm, nullptr);
    ASSERT_EQ(channelManagement(cm, "Enabled", "NPAR"), 0u) << last_code();
    EXPECT_EQ(last_code(), 284u);
    EXPECT_EQ(portTypes(store(0).configured), std::vector<u8>({5, 5}));
    EXPECT_EQ(portTypes(store(0).active), std::vector<u8>({2, 2})) << "until the reset";
    EXPECT_EQ(get(cm, "ConfiguredManagementType"), "NPAR");
    EXPECT_EQ(get(cm, "CurrentManagementType"), "UMC");
    std::vector<HmNode *> p0 = channelsOf(ks3, "0");
    ASSERT_EQ(p0.size(), 2u) << "rebuilt";
    EXPECT_EQ(channelText(p0[0]), "0x0 NIC Enabled 02-00-00-00-00-00 10 20 60");
    EXPECT_EQ(channelsOf(ks3, "1").size(), 2u);

    host_->rebootAdapter(0);
    EXPECT_EQ(get(cm, "CurrentManagementType"), "NPAR");

    ASSERT_EQ(channelManagement(cm, "Disabled", ""), 0u) << last_code();
    EXPECT_EQ(portTypes(store(0).configured), std::vector<u8>({1, 1}));
    EXPECT_EQ(get(cm, "ConfiguredManagementType"), "N/A");
    const std::vector<adapter::ProfileRecord> before = store(0).configured;
    EXPECT_EQ(set(channelsOf(ks3, "0").at(0), "LPVID", "20"), 1u);
    EXPECT_EQ(last_code(), 323u) << "no LPVID once multichannel is off";
    EXPECT_EQ(store(0).configured, before);
}

// "UMC" is offered only where the capabilities list it: an adapter that
// offers "HPUMC" alone refuses it, on the KS3 mode and in the Veskarn
// configured profile, and nothing reaches the adapter or config_prof.txt.
TEST_F(McStore, UmcIsRefusedWhereOnlyHpumcIsOffered)
{
    ASSERT_NO_FATAL_FAILURE(make(chardev::defaultHost()));
    store(0).capabilities = 0x200;
    store(1).capabilities = 0x200;
    ASSERT_EQ(start(), 0u);
    HmNode *cm = group(ctrl(0), "ChannelManagement");
    ASSERT_NE(cm, nullptr);
    EXPECT_EQ(get(cm, "SupportedMCTypes"), "HPUMC");
    const std::vector<u8> types = portTypes(store(0).configured);
    struct Case {
        const char *type;
        u32 status;
        u8 written;  // 0: nothing written
    } cases[] = {{"UMC", 294, 0}, {"umc", 294, 0}, {"PUMC", 294, 0}, {"HPUMC", 0, 10}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        store(0).reset_needed = false;
        channelManagement(cm, "Enabled", c.type);
        if (c.written == 0) {
            EXPECT_EQ(last_code(), c.status);
            EXPECT_EQ(portTypes(store(0).configured), types);
            EXPECT_FALSE(store(0).reset_needed);
        } else {
            EXPECT_EQ(portTypes(store(0).configured), std::vector<u8>(types.size(), c.written));
        }
    }

    HmNode *port0 = group(ctrl(1), "ProfileManagement/ConfiguredProfile/Port0");
    ASSERT_NE(port0, nullptr);
    EXPECT_EQ(get(group(ctrl(1), "ChannelManagement"), "SupportedMCTypes"), "HPUMC");
    const std::string file = readFile(ORSA_CONFIG_PROF_FILE);
    ASSERT_NE(file, "");
    EXPECT_EQ(set(port0, "MCType", "UMC"), 1u);
    EXPECT_EQ(last_code(), 294u);
    EXPECT_EQ(readFile(ORSA_CONFIG_PROF_FILE), file) << "nothing staged";
    ASSERT_EQ(set(port0, "MCType", "HPUMC"), 0u) << last_code();
    EXPECT_NE(readFile(ORSA_CONFIG_PROF_FILE).find(",HPUMC,"), std::string::npos);
}

// Veskarn: the port's multichannel type in the adapter's profile decides
// what its channels take.
TEST_F(McStore, VeskarnChannelsFollowTheProfilesType)
{
    ASSERT_NO_FATAL_FAILURE(bootVeskarn(4));
    HmNode *vsk = ctrl(1);
    HmNode *aport = group(vsk, "ProfileManagement/ActiveProfile/Port0");
    ASSERT_NE(aport, nullptr);
    EXPECT_EQ(cached(aport, "MCType"), "vNIC1");
    char active[HM_VALUE_SIZE], configured[HM_VALUE_SIZE], reboot[HM_VALUE_SIZE];
    HmNode *pg = portGroup(vsk, "0");
    ASSERT_NE(pg, nullptr);
    ASSERT_EQ(ORSA_get_vkh_mc_type(vsk, pg, active, configured, reboot), 0u);
    EXPECT_STREQ(active, "vNIC1");
    EXPECT_STREQ(configured, "vNIC1");

    std::vector<HmNode *> ch = channelsOf(vsk, "0");
    ASSERT_EQ(ch.size(), 2u);
    EXPECT_EQ(get(ch[1], "OuterVLANID"), "17") << "vNIC1: the running record's outer VLAN";
    const std::vector<adapter::ProfileRecord> before = store(1).configured;
    orsa_reset_last_status();
    EXPECT_EQ(qos(ch[1], "20", "80"), 285u);
    EXPECT_EQ(store(1).configured, before) << "vNIC1 keeps its shares";
    ASSERT_EQ(set(ch[1], "LPVID", "1"), 0u) << "vNIC1 takes any LPVID";
    EXPECT_EQ(nicRecord(store(1).configured, 1)->at(36), 1);
    EXPECT_EQ(u32At(*nicRecord(store(1).configured, 1), 52), 50u);

    // A port whose interface type was never read shows no running type.
    ASSERT_EQ(set_prop_val(pg, "InterfaceType", "Unknown"), 0u);
    ASSERT_EQ(ORSA_get_vkh_mc_type(vsk, pg, active, configured, reboot), 0u);
    EXPECT_STREQ(active, "");
    EXPECT_STREQ(configured, "vNIC1");
}

}  // namespace

// Multichannel from a client down to the emulated adapters' store, nothing
// answered in between: what the library writes is what the adapter keeps.
#include <unistd.h>

#include "fw_profile.h"
#include "iscsi/iscsi_persist.h"
#include "mc_fixture.h"

namespace {

class McStore : public DiscoveryHost {
protected:
    adapter::ProfileStore &store(size_t i) { return host_->engine(i).profiles(); }
    void TearDown() override
    {
        unlink(ORSA_CONFIG_PROF_FILE);
        DiscoveryHost::TearDown();
    }
    // Veskarn: port 0 runs NPAR with NIC functions 0 and 1 (shares 10..50).
    void bootVeskarnNpar()
    {
        ASSERT_NO_FATAL_FAILURE(make(chardev::defaultHost()));
        std::vector<adapter::ProfileRecord> records = {adapter::portRecord(0, 5, 8, 0, 8, 0, 0, 0)};
        for (unsigned pf : {0u, 1u}) {
            records.push_back(adapter::pcieRecord(pf, 1, 1, 0x1));
            adapter::ProfileRecord nic = adapter::functionRecord(adapter::kRecNic, pf, 0, {0x02, 0, 0, 0, 0, (uint8_t)pf});
            nic[36] = 7;  // LPVID
            nic[48] = 10;
            nic[52] = 50;
            records.push_back(nic);
        }
        store(1).configured = records;
        store(1).active = records;
        ASSERT_EQ(start(), 0u);
    }
    static const adapter::ProfileRecord *nicRecord(const std::vector<adapter::ProfileRecord> &rs, unsigned pf)
    {
        for (const adapter::ProfileRecord &r : rs)
            if (r[0] == adapter::kRecNic && adapter::recordPf(r) == pf)
                return &r;
        return nullptr;
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
    ASSERT_NO_FATAL_FAILURE(bootVeskarnNpar());
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

// The emulated KS3 answers no profile read: the management types read
// back are covered with canned replies; here the write itself.
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

}  // namespace

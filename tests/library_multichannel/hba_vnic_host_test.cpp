// vNIC, RoCE, bandwidth soft caps and iSCSI QoS of the physical and logical
// HBAs, over the default emulated host with the commands answered by hand.
#include "fw_profile.h"
#include "mc_fixture.h"

namespace {

class HbaVnic : public McHost {
protected:
    void SetUp() override
    {
        McHost::SetUp();
        nic = get_first_instance(ks3, "NICPhysicalHBA");
        iscsi = get_first_instance(ks3, "iSCSIPhysicalHBA");
        ASSERT_TRUE(nic && iscsi);
        qos = group(iscsi, "LogicalHBA0/iSCSIQoS");
        ASSERT_NE(qos, nullptr);
        nic_fn = (u32)strtoul(cached(group(nic, "PCI"), "FunctionNumber").c_str(), nullptr, 16);
        iscsi_fn = (u32)strtoul(cached(group(iscsi, "PCI"), "FunctionNumber").c_str(), nullptr, 16);
    }
    // Shares of the NIC and the iSCSI function in the active profile.
    ProfileImage shares(u32 min, u32 max)
    {
        ProfileImage img;
        img.pcie(nic_fn, 1);
        u8 *n = img.function(ORSA_RES_NIC_FUNCTION, nic_fn, 0);
        n[48] = (u8)min;
        n[52] = (u8)max;
        img.pcie(iscsi_fn, 1);
        u8 *i = img.function(ORSA_RES_ISCSI_FUNCTION, iscsi_fn, 0);
        i[36] = (u8)min;
        i[40] = (u8)max;
        return img;
    }
    HmNode *nic = nullptr, *iscsi = nullptr, *qos = nullptr;
    u32 nic_fn = 0, iscsi_fn = 0;
};

TEST_F(HbaVnic, SoftCapsFromPortSpeedAndShares)
{
    struct Case {
        u8 speed_code;
        u32 min, max;
        const char *min_text, *max_text;
    } cases[] = {
        {4, 10, 25, "10", "25"},    // 10 Gbit/s
        {3, 10, 25, "1", "2.5"},    // 1 Gbit/s
        {6, 3, 100, "7.5", "250"},  // 25 Gbit/s
        {8, 0, 100, "0", "1000"},   // 100 Gbit/s
        {2, 10, 25, "0", "0"},      // no speed the caps know
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.speed_code) + " x " + std::to_string(c.max));
        answer(5, std::vector<u8>{0, 0, c.speed_code, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        answer(164, shares(c.min, c.max));
        EXPECT_EQ(get(nic, "MinBitsPerSecond"), c.min_text);
        EXPECT_EQ(get(nic, "MaxBitsPerSecond"), c.max_text);
        EXPECT_EQ(get(qos, "MinBitsPerSecond"), c.min_text);
        EXPECT_EQ(get(qos, "MaxBitsPerSecond"), c.max_text);
    }
    fail(5);
    u32 rc = 0;
    get(nic, "MaxBitsPerSecond", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 93u);
    EXPECT_EQ(get(qos, "MaxBitsPerSecond", &rc), "N/A") << "an iSCSI cap that cannot be read";
    EXPECT_NE(rc, 0u);
}

TEST_F(HbaVnic, IscsiQosSetSendsBytesInKilobytesAndReadsBack)
{
    answer(28, std::vector<u8>{});
    answer(27, u32s({{8, 7}, {12, 102400}}, 32));
    ASSERT_EQ(set(qos, "MaxBytesPerSecond", "100"), 0u);
    std::vector<std::vector<u8>> w = sent(28);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(rd32(w[0], 0), 0x40u);
    EXPECT_EQ(rd32(w[0], 16), 102400u);
    EXPECT_EQ(rd32(w[0], 12), 0u);
    EXPECT_EQ(cached(qos, "MaxBytesPerSecond"), "100");
    EXPECT_EQ(cached(qos, "MaxIosPerSecond"), "7");

    ASSERT_EQ(set(qos, "MaxIosPerSecond", "200"), 0u);
    w = sent(28);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(rd32(w[1], 0), 0x04u);
    EXPECT_EQ(rd32(w[1], 12), 200u);

    fail(28);
    EXPECT_NE(set(qos, "MaxIosPerSecond", "10"), 0u);
    EXPECT_EQ(last_code(), 115u);
    fail(27);
    u32 rc = 0;
    get(qos, "MaxIosPerSecond", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 114u);
}

// The NIC QoS maximum of each NIC function lands in its own group's
// MaxBitsPerSecond; a failed read keeps the text and says why.
TEST_F(HbaVnic, NicPhbaParamsReadTheNicQosMaximum)
{
    struct Case {
        HmNode *ks;
        size_t adapter;
        int port;
        u32 max_bps;
    } cases[] = {{ks3, 0, 0, 2500}, {ks3, 0, 1, 7}, {vsk, 1, 0, 100}, {vsk, 1, 1, 0xFFFFFFFFu}};
    for (const Case &c : cases)
        host_->engine(c.adapter).profiles().qos[(unsigned)c.port].max_bps = c.max_bps;
    for (const Case &c : cases) {
        HmNode *g = nullptr;
        for (HmNode *n = get_first_instance(c.ks, "NICPhysicalHBA"); n != nullptr; n = hm_next_instance(n))
            if (cached(n, "PortNumber") == std::to_string(c.port))
                g = n;
        ASSERT_NE(g, nullptr) << c.port;
        OrsaPort at = orsa_port_of(g);
        ASSERT_EQ(at.protocol, ORSA_PROTO_NIC);
        host_->engine(c.adapter).clearReached();
        host_->clearLog();
        EXPECT_EQ(get_nicphba_params(at.instance, g), 0u) << c.max_bps;
        EXPECT_EQ(cached(g, "MaxBitsPerSecond"), std::to_string(c.max_bps));
        ASSERT_EQ(sent(27).size(), 1u);
        EXPECT_EQ(host_->log().back().dev, chardev::Dev::Nic);
        ASSERT_EQ(host_->engine(c.adapter).reached().size(), 1u);
        EXPECT_EQ(host_->engine(c.adapter).reached().back().fn, (unsigned)c.port) << "the group's own function";
    }

    HmNode *g = nic;
    u32 instance = orsa_port_of(g).instance;
    set_prop_val(g, "MaxBitsPerSecond", "kept");
    fail(27);
    EXPECT_EQ(get_nicphba_params(instance, g), 1u);
    EXPECT_EQ(last_code(), 114u);
    EXPECT_EQ(cached(g, "MaxBitsPerSecond"), "kept");

    host_->clearLog();
    EXPECT_EQ(get_nicphba_params(0, g), 1u);
    EXPECT_EQ(get_nicphba_params(instance, nullptr), 1u);
    EXPECT_TRUE(sent(27).empty());
}

TEST_F(HbaVnic, VnicNameAndStats)
{
    HmNode *vnic = group(nic, "vNIC");
    ASSERT_NE(vnic, nullptr);
    answer(120, u32s({{0, 0}}, 92));
    EXPECT_EQ(get(vnic, "vNICEnabled"), "False");
    EXPECT_EQ(get(vnic, "vNICName"), "");
    EXPECT_EQ(get(vnic, "OuterVLANID"), "") << "a disabled vNIC has no stats";
    EXPECT_EQ(get(vnic, "MaxBandwidth"), "");
    EXPECT_TRUE(sent(64).empty());

    std::vector<u8> named = u32s({{0, 1}}, 92);
    memcpy(named.data() + 4, "vn-a", 4);
    answer(120, named);
    answer(64, u32s({{4, 100}, {12, 10}, {16, 50}}, 24));
    EXPECT_EQ(get(vnic, "vNICEnabled"), "true");
    EXPECT_EQ(get(vnic, "vNICName"), "vn-a");
    EXPECT_EQ(get(vnic, "OuterVLANID"), "100");
    EXPECT_EQ(get(vnic, "MinBandwidth"), "10");
    EXPECT_EQ(get(vnic, "MaxBandwidth"), "50");

    HmNode *ivnic = group(iscsi, "Network/NICConfiguration/vNIC");
    ASSERT_NE(ivnic, nullptr);
    EXPECT_EQ(get(ivnic, "vNICName"), "vn-a");

    fail(64);
    u32 rc = 0;
    get(vnic, "OuterVLANID", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 185u);
    fail(120);
    get(vnic, "vNICName", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 186u);
}

TEST_F(HbaVnic, RoceOnlyOnTheProfileGenerations)
{
    EXPECT_EQ(get(nic, "IsRoCEEnabled"), "N/A") << "KS3";
    HmNode *vnic0 = get_first_instance(vsk, "NICPhysicalHBA");
    ASSERT_NE(vnic0, nullptr);
    u32 fn = (u32)strtoul(cached(group(vnic0, "PCI"), "FunctionNumber").c_str(), nullptr, 16);
    ProfileImage img;
    img.roce(fn + 1);
    answer(164, img);
    EXPECT_EQ(get(vnic0, "IsRoCEEnabled"), "False");
    img.roce(fn);
    answer(164, img);
    EXPECT_EQ(get(vnic0, "IsRoCEEnabled"), "True");
}

class HbaVnicPivard : public McHost {
protected:
    void SetUp() override
    {
        chardev::HostSpec spec;
        spec.adapters = {adapterSpec(adapter::Gen::Pivard, 7, "PIVEMU000003", {nicFn(0, "vmnic0")})};
        make(spec);
        ASSERT_EQ(start(), 0u);
    }
    void TearDown() override { DiscoveryHost::TearDown(); }
};

TEST_F(HbaVnicPivard, VnicAndCapsRefused)
{
    HmNode *nic = get_first_instance(ctrl(0), "NICPhysicalHBA");
    ASSERT_NE(nic, nullptr);
    u32 rc = 0;
    get(group(nic, "vNIC"), "vNICEnabled", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 259u);
    EXPECT_EQ(get(nic, "MinBitsPerSecond"), "N/A");
    get(nic, "MaxBitsPerSecond", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 259u);
}

}  // namespace

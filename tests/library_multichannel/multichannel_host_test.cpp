// Channels of a multichannel port, their properties and QoS, and the
// adapter's multichannel mode, over the default emulated host with the
// profile and capability commands answered by hand.
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "iscsi/iscsi_persist.h"
#include "mc_fixture.h"

namespace {

// mc_type of the port record; LPVID 5, shares 10..60 on NIC function 0.
ProfileImage channel_profile(u8 mc_type)
{
    ProfileImage img;
    img.port(0, mc_type);
    img.pcie(0, 1);
    u8 *nic = img.function(ORSA_RES_NIC_FUNCTION, 0, 0);
    nic[36] = 5;
    nic[48] = 10;
    nic[52] = 60;
    nic[46] = 0x34;
    nic[47] |= 0x01;  // outer VLAN 0x134
    img.pcie(1, 1);
    u8 *iscsi = img.function(ORSA_RES_ISCSI_FUNCTION, 1, 0);
    iscsi[33] |= 0x02;  // logical link disabled
    iscsi[36] = 20;
    iscsi[40] = 40;
    img.roce(0);  // the NIC channel of function 0 also runs RoCE
    img.roce(9);  // no channel of function 9: nothing changes
    img.pcie(2, 1);
    img.function(ORSA_RES_NIC_FUNCTION, 2, 0, true);  // hidden
    img.pcie(3, 1);
    img.function(ORSA_RES_NIC_FUNCTION, 3, 1);  // another link
    img.pcie(4, 0);
    img.function(ORSA_RES_NIC_FUNCTION, 4, 0);  // function not enabled
    img.pcie(5, 1);
    u8 *fcoe = img.function(ORSA_RES_FCOE_FUNCTION, 5, 0);
    fcoe[56] = 30;
    fcoe[60] = 70;
    return img;
}

class Multichannel : public McHost {
protected:
    void SetUp() override
    {
        McHost::SetUp();
        port0 = port_group(ks3, "0");
        kcm = group(ks3, "ChannelManagement");
        ASSERT_TRUE(port0 && kcm);
        answer(165, std::vector<u8>{});
        answer(84, std::vector<u8>{0, 0, 0, 0});
    }
    // The channels of port 0 built from a profile of this multichannel type.
    void build(u8 mc_type)
    {
        answer(164, channel_profile(mc_type));
        ASSERT_EQ(ORSA_refresh_group(group(port0, "ChannelManagement")->tag), 0u);
        ASSERT_EQ(channels(port0).size(), 3u);
    }
    HmNode *port0 = nullptr, *kcm = nullptr;
};

TEST_F(Multichannel, RefreshBuildsOneChannelPerShownFunctionOfThePort)
{
    answer(164, channel_profile(7));
    HmNode *cm = group(port0, "ChannelManagement");
    ASSERT_EQ(ORSA_refresh_group(cm->tag), 0u);
    std::vector<HmNode *> ch = channels(port0);
    ASSERT_EQ(ch.size(), 3u) << "hidden, other-link and disabled functions make no channel";
    EXPECT_EQ(channelText(ch[0]), "0x0 NIC+RoCE Enabled 02-00-00-00-00-00 5 10 60");
    EXPECT_EQ(channelText(ch[1]), "0x1 iSCSI Disabled 02-00-00-00-00-01 N/A 20 40");
    EXPECT_EQ(channelText(ch[2]), "0x5 FCOE Enabled 02-00-00-00-00-05 N/A 30 70");

    // A refresh replaces the channels; a failed read leaves none.
    ASSERT_EQ(ORSA_refresh_group(cm->tag), 0u);
    EXPECT_EQ(channels(port0).size(), 3u);
    fail(164);
    EXPECT_EQ(ORSA_get_multi_channels_info(0, port0), (u32)ORSA_STATUS_PROFILE_CONFIG_FAILED);
    ASSERT_EQ(ORSA_refresh_group(cm->tag), 0u);
    EXPECT_TRUE(channels(port0).empty());
}

TEST_F(Multichannel, SupportedTypesAndManagementTypes)
{
    struct Case {
        u32 bits;
        bool fw_hides;
        u8 mc_type;
        const char *supported, *current;
    } cases[] = {
        {0x21, false, 7, "vNIC2", "vNIC2"},
        {0x1 | 0x8 | 0x200, false, 2, "UMC,NPAR,HPUMC", "UMC"},
        {0x0, false, 7, "N/A", "N/A"},
        {0x21, true, 7, "N/A", "N/A"},  // the firmware runs no multichannel
        {0x10, false, 1, "vNIC1", "N/A"},
        {0x10, false, 3, "vNIC1", "N/A"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.supported);
        capabilities(c.bits, c.fw_hides);
        answer(164, channel_profile(c.mc_type));
        EXPECT_EQ(get(kcm, "SupportedMCTypes"), c.supported);
        EXPECT_EQ(get(kcm, "CurrentManagementType"), c.current);
        EXPECT_EQ(get(kcm, "ConfiguredManagementType"), c.current);
    }
    fail(123);
    answer(58, u32s({}, 156));
    u32 rc = 0;
    get(kcm, "SupportedMCTypes", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 292u);

    // Veskarn shows no management type.
    EXPECT_EQ(get(group(vsk, "ChannelManagement"), "CurrentManagementType"), "N/A");
}

TEST_F(Multichannel, ConfigureChannelManagementWritesOnePortRecord)
{
    struct Case {
        const char *state, *type;
        u32 caps;
        u8 reset;
        u32 rc, status;
        int mc_type;  // -1: nothing sent
    } cases[] = {
        {"Enabled", "", 0x200, 0, 1, 293, -1},
        // Entries are compared whole: "UMC" is no entry of "HPUMC".
        {"Enabled", "UMC", 0x200, 0, 1, 294, -1},
        {"Enabled", "HPUMC", 0x200, 0, 0, 0, 10},
        {"Enabled", "vNIC2", 0x21, 1, 0, 284, 7},
        {"Disabled", "", 0x0, 1, 0, 284, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.state) + " " + c.type);
        capabilities(c.caps);
        answer(164, channel_profile(2));
        answer(84, std::vector<u8>{c.reset, 0, 0, 0});
        size_t before = sent(165).size();
        HmValueSlot params[HM_MAX_PARAMS] = {};
        strcpy(params[0], c.state);
        strcpy(params[1], c.type);
        orsa_reset_last_status();
        EXPECT_EQ(do_ConfigureChannelManagement(kcm, nullptr, params), c.rc);
        EXPECT_EQ(last_code(), c.status);
        std::vector<std::vector<u8>> writes = sent(165);
        if (c.mc_type < 0) {
            EXPECT_EQ(writes.size(), before) << "refused before any command";
            continue;
        }
        ASSERT_EQ(writes.size(), before + 1);
        const std::vector<u8> &w = writes.back();
        ASSERT_GE(w.size(), 184u);
        std::vector<u8> want(184, 0);
        want[4] = 1;
        want[8] = 85;
        want[9] = 88;
        want[13] = (u8)c.mc_type;
        EXPECT_EQ(std::vector<u8>(w.begin(), w.begin() + 184), want);
        EXPECT_EQ(channels(port0).size(), 3u) << "the channels are rebuilt";
    }
    HmValueSlot params[HM_MAX_PARAMS] = {};
    strcpy(params[0], "Enabled");
    strcpy(params[1], "UMC");
    EXPECT_EQ(do_ConfigureChannelManagement(group(vsk, "ChannelManagement"), nullptr, params), 1u);
    EXPECT_EQ(last_code(), 289u);
}

TEST_F(Multichannel, LpvidBelowTwoOnlyUnderVnic1)
{
    struct Case {
        u8 mc_type;
        const char *value;
        u32 status;
        bool written;
    } cases[] = {
        {7, "1", 308, false},
        {7, "0", 308, false},
        {4, "1", 0, true},  // vNIC1 takes any LPVID
        {7, "2", 0, true},
        {1, "100", 323, false},  // multichannel off
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.mc_type) + " LPVID " + c.value);
        capabilities(0x38);
        ASSERT_NO_FATAL_FAILURE(build(c.mc_type));
        HmNode *nic = channels(port0)[0];
        size_t before = sent(165).size();
        orsa_reset_last_status();
        u32 rc = set(nic, "LPVID", c.value);
        EXPECT_EQ(rc == 0, c.written);
        EXPECT_EQ(last_code(), c.status);
        std::vector<std::vector<u8>> writes = sent(165);
        ASSERT_EQ(writes.size(), before + (c.written ? 1 : 0));
        if (!c.written) {
            EXPECT_EQ(cached(nic, "LPVID"), "5");
            continue;
        }
        const std::vector<u8> &w = writes.back();
        EXPECT_EQ(rd32(w, 4), 1u);
        EXPECT_EQ(w[8], ORSA_RES_NIC_FUNCTION);
        EXPECT_EQ(rd16(w, 8 + 36), (u32)atoi(c.value));
        EXPECT_EQ(w[8 + 3] & 0x04, 0x04);
        EXPECT_EQ(w[8 + 2] & 0x80, 0x80);
        EXPECT_EQ(rd32(w, 8 + 48), 0xFFFFFFFFu) << "the shares are left as they are";
        EXPECT_EQ(cached(nic, "LPVID"), c.value);
    }
    // A storage channel takes no LPVID.
    capabilities(0x38);
    ASSERT_NO_FATAL_FAILURE(build(7));
    EXPECT_NE(set(channels(port0)[1], "LPVID", "10"), 0u);
    EXPECT_EQ(last_code(), 286u);
}

TEST_F(Multichannel, ChannelReadsFollowTheManagementType)
{
    capabilities(0x38);
    ASSERT_NO_FATAL_FAILURE(build(7));
    HmNode *nic = channels(port0)[0];
    EXPECT_EQ(get(nic, "OuterVLANID"), "N/A") << "vNIC2";
    EXPECT_EQ(get(nic, "vNICName"), "N/A");
    EXPECT_EQ(get(nic, "MaxBandWidth"), "60");
    EXPECT_EQ(get(nic, "LogicalLinkState"), "Enabled");
    ASSERT_NO_FATAL_FAILURE(build(4));
    nic = channels(port0)[0];
    EXPECT_EQ(get(nic, "OuterVLANID"), "308") << "vNIC1: the outer VLAN of the record";
    EXPECT_EQ(get(channels(port0)[1], "OuterVLANID"), "N/A") << "storage";
    ASSERT_NO_FATAL_FAILURE(build(6));
    EXPECT_EQ(get(channels(port0)[0], "LPVID"), "N/A") << "UFP";
}

TEST_F(Multichannel, ConfigureQosChecksThenWritesTheShares)
{
    capabilities(0x38);
    ASSERT_NO_FATAL_FAILURE(build(7));
    HmNode *nic = channels(port0)[0];
    HmValueSlot params[HM_MAX_PARAMS] = {};
    strcpy(params[0], "60");
    strcpy(params[1], "50");
    size_t before = sent(165).size();
    EXPECT_EQ(do_ConfigureQoS(nic, nullptr, params), 1u);
    EXPECT_EQ(last_code(), 287u);
    EXPECT_EQ(sent(165).size(), before) << "refused before any command";

    strcpy(params[0], "20");
    strcpy(params[1], "80");
    ASSERT_EQ(do_ConfigureQoS(nic, nullptr, params), 0u);
    std::vector<std::vector<u8>> writes = sent(165);
    ASSERT_EQ(writes.size(), before + 1);
    // The record of function 0 as the profile holds it, with the changes.
    std::vector<u8> want(184, 0);
    want[4] = 1;
    const ProfileImage img = channel_profile(7);
    std::copy(img.bytes.begin() + 4 + 88 * 2, img.bytes.begin() + 4 + 88 * 3, want.begin() + 8);
    u8 *r = want.data() + 8;
    r[3] = (u8)((r[3] & ~0x92u) | 0x40u | 0x04u);
    r[47] |= 0xF0;
    r[44] = (u8)((r[44] & 0xC0) | 0);
    for (size_t off : {8, 18, 20, 28, 32, 38, 60, 62})
        r[off] = r[off + 1] = 0xFF;
    r[48] = 20;
    r[52] = 80;
    r[36] = 5;
    EXPECT_EQ(std::vector<u8>(writes.back().begin(), writes.back().begin() + 184), want);
    EXPECT_EQ(cached(nic, "MinBandWidth"), "20");
    EXPECT_EQ(cached(nic, "MaxBandWidth"), "80");

    // A channel the profile does not hold has no record to write back.
    answer(164, channel_profile(7));
    set_prop_val(nic, "FunctionNumber", "0x7");
    before = sent(165).size();
    EXPECT_EQ(do_ConfigureQoS(nic, nullptr, params), 1u);
    EXPECT_EQ(last_code(), 323u);
    EXPECT_EQ(sent(165).size(), before);

    // vNIC1 and UFP keep their shares.
    ASSERT_NO_FATAL_FAILURE(build(4));
    EXPECT_EQ(do_ConfigureQoS(channels(port0)[0], nullptr, params), 285u);
    EXPECT_EQ(last_code(), 285u);
}

TEST_F(Multichannel, InterfaceTypeFromThePhy)
{
    struct Case {
        u16 type;
        u32 rc;
        const char *text;
    } cases[] = {{3, 0, "SFP_PLUS_10GB_TYPE"}, {13, 0, "Not Supported"}, {14, 0, ""}, {15, 1, "N/A"}};
    for (const Case &c : cases) {
        answer(102, std::vector<u8>{0, 0, (u8)c.type, (u8)(c.type >> 8), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(ORSA_update_interfacetype(orsa_port_of(get_valid_phba(ks3, "0")), port0), c.rc);
        EXPECT_EQ(cached(port0, "InterfaceType"), c.text);
    }
    fail(102);
    EXPECT_EQ(ORSA_update_interfacetype(orsa_port_of(get_valid_phba(ks3, "0")), port0), 1u);
    EXPECT_EQ(cached(port0, "InterfaceType"), "N/A");
}

}  // namespace

namespace {

TEST_F(Multichannel, VnicNameOfAChannelComesFromItsFunction)
{
    capabilities(0x38);
    std::vector<u8> named = u32s({{0, 1}}, 92);
    memcpy(named.data() + 4, "vn-x", 4);
    answer(120, named);
    for (u8 mc : {4, 7}) {
        ProfileImage img;
        img.port(0, mc);
        img.pcie(0, 1);
        img.function(ORSA_RES_NIC_FUNCTION, 0, 0);
        img.pcie(2, 1);
        img.function(ORSA_RES_ISCSI_FUNCTION, 2, 0);
        img.pcie(6, 1);
        img.function(ORSA_RES_NIC_FUNCTION, 6, 0);  // no physical HBA of its own
        answer(164, img);
        ASSERT_EQ(ORSA_refresh_group(group(port0, "ChannelManagement")->tag), 0u);
        std::vector<HmNode *> ch = channels(port0);
        ASSERT_EQ(ch.size(), 3u);
        size_t before = sent(120).size();
        if (mc == 7) {
            EXPECT_EQ(get(ch[0], "vNICName"), "N/A") << "vNIC2 names no channel";
            EXPECT_EQ(sent(120).size(), before);
            continue;
        }
        EXPECT_EQ(get(ch[0], "vNICName"), "vn-x");
        EXPECT_EQ(get(ch[1], "vNICName"), "vn-x");
        EXPECT_EQ(sent(120).size(), before + 2);
        EXPECT_EQ(get(ch[2], "vNICName"), "1") << "without its function the default stays";
    }
}

}  // namespace

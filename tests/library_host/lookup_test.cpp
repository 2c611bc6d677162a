// Walks from a node to its adapter address and neighbours, child searches,
// extended-log trace levels, login option defaults and the stopwatch.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "backend/orsa_gateway.h"
#include "backend/orsa_host.h"
#include "tree/hm_lookup.h"
#include "tree_fixture.h"

namespace {

class Lookup : public TreeFixture {
protected:
    void SetUp() override
    {
        TreeFixture::SetUp();
        ks0_ = Group(root_, "Kalderstone", 0);
        ks2_ = Group(root_, "Kalderstone", 2);
        nic0_ = Group(ks2_, "NICPhysicalHBA", 0);
        Prop(nic0_, "PortNumber", "0");
        iscsi1_ = Group(ks2_, "iSCSIPhysicalHBA", 1);
        Prop(iscsi1_, "PortNumber", "1");
        iscsi3_ = Group(ks2_, "iSCSIPhysicalHBA", 3);
        Prop(iscsi3_, "PortNumber", "0");  // an iSCSI port shares port 0 with the NIC
        lhba_ = Group(iscsi1_, "LogicalHBA", 0);
        Prop(lhba_, "InitiatoriSCSIName", "iqn.1990-07.com.example:host");
        target_ = Group(lhba_, "Target", 4);
        Prop(target_, "TargetISCSIName", "iqn.t4");
        HmNode *t5 = Group(lhba_, "Target", 5);
        Prop(t5, "TargetISCSIName", "IQN.T5");
        leaf_ = Prop(target_, "HeaderDigest", "CRC32C");
        handle3_ = 3;
        HM_GROUP(iscsi1_)->nhandle = &handle3_;
    }

    // The records above are the test's own: discovery's teardown frees the
    // records it finds on physical HBAs, so they go before it runs.
    void TearDown() override
    {
        HM_GROUP(iscsi1_)->nhandle = nullptr;
        HM_GROUP(lhba_)->nhandle = nullptr;
        TreeFixture::TearDown();
    }

    u32 handle3_ = 0;
    HmNode *ks0_, *ks2_, *nic0_, *iscsi1_, *iscsi3_, *lhba_, *target_, *leaf_;
};

TEST_F(Lookup, NextInstanceWalksOneKindInOrder)
{
    EXPECT_EQ(get_first_instance(ks2_, "iSCSIPhysicalHBA"), iscsi1_);
    EXPECT_EQ(hm_next_instance(iscsi1_), iscsi3_);
    EXPECT_EQ(hm_next_instance(iscsi3_), nullptr);  // the last one
    EXPECT_EQ(hm_next_instance(ks0_), ks2_);
    EXPECT_EQ(hm_next_instance(ks2_), nullptr);
    EXPECT_EQ(hm_next_instance(nic0_), nullptr);  // the only one of its kind
    EXPECT_EQ(hm_next_instance(root_), nullptr);  // not an instance group
    EXPECT_EQ(hm_next_instance(leaf_), nullptr);  // a property
    EXPECT_EQ(hm_next_instance(nullptr), nullptr);
}

TEST_F(Lookup, AddressingWalks)
{
    EXPECT_EQ(get_port_number(leaf_), 3);
    EXPECT_EQ(get_port_number(target_), 3);
    EXPECT_EQ(get_port_number(iscsi1_), 3);
    EXPECT_EQ(get_port_number(ks2_), -1);
    EXPECT_EQ(get_port_number(root_), -1);
    u32 zero = 0;
    HM_GROUP(lhba_)->nhandle = &zero;  // a zero word does not stop the walk
    EXPECT_EQ(get_port_number(target_), 3);

    EXPECT_EQ(get_domain_id(target_), 0u);
    EXPECT_EQ(get_domain_id(nic0_), 0u);
    EXPECT_EQ(get_domain_id(root_), 0u);
    HmNode *lhba7 = Group(iscsi3_, "LogicalHBA", 7);
    HmNode *t = Group(lhba7, "Target", 0);
    EXPECT_EQ(get_domain_id(t), 7u);

    EXPECT_EQ(get_ks_instance(leaf_), 2u);
    EXPECT_EQ(get_ks_instance(ks0_), 0u);
    EXPECT_EQ(get_ks_instance(root_), 0u);
    EXPECT_EQ(hm_instance_number(target_), 4);
    EXPECT_EQ(hm_instance_number(leaf_), -1);
    EXPECT_EQ(hm_instance_number(root_), -1);
}

TEST_F(Lookup, PortAddressOfANode)
{
    memset(orsa_glob.controller_protocol, 0, sizeof orsa_glob.controller_protocol);
    set_protocol(2, 1);
    PortAddress a{};
    ASSERT_EQ(orsa_get_port_address(leaf_, &a), 0u);
    EXPECT_EQ(a.port_number, 3);
    EXPECT_EQ(a.domain_id, 0u);
    EXPECT_EQ(a.phba_port, 1);
    EXPECT_EQ(a.protocol, 1u);
    // Below no port instance: nothing may be sent for the node.
    EXPECT_EQ(orsa_get_port_address(nic0_, &a), 1u);
    EXPECT_EQ(a.port_number, -1);
    EXPECT_EQ(a.phba_port, 0);
    memset(orsa_glob.controller_protocol, 0, sizeof orsa_glob.controller_protocol);
}

// The controller carries iSCSI functions, yet a node below its NIC function
// is addressed through the NIC device: the function number is the NIC one.
TEST_F(Lookup, PortAddressTakesTheDeviceOfItsPhysicalHba)
{
    memset(orsa_glob.controller_protocol, 0, sizeof orsa_glob.controller_protocol);
    set_protocol(2, 1);
    set_protocol(2, 2);
    u32 nic_handle = 5;
    HM_GROUP(nic0_)->nhandle = &nic_handle;
    HmNode *leaf = Prop(Group(nic0_, "PCI"), "DeviceID", "0x3a21");
    PortAddress a{};
    ASSERT_EQ(orsa_get_port_address(leaf, &a), 0u);
    EXPECT_EQ(a.port_number, 5);
    EXPECT_EQ(a.protocol, 2u);
    ASSERT_EQ(orsa_get_port_address(leaf_, &a), 0u);
    EXPECT_EQ(a.protocol, 1u);
    HM_GROUP(nic0_)->nhandle = nullptr;
    memset(orsa_glob.controller_protocol, 0, sizeof orsa_glob.controller_protocol);
}

TEST_F(Lookup, PortBookkeeping)
{
    memset(orsa_glob.port_bitmap, 0, sizeof orsa_glob.port_bitmap);
    memset(orsa_glob.controller_protocol, 0, sizeof orsa_glob.controller_protocol);
    ASSERT_EQ(set_port_bitmap(), 0u);
    // Controller 2: port 0 has a NIC and an iSCSI physical HBA, port 1 iSCSI.
    EXPECT_EQ(orsa_glob.port_bitmap[2 * 4 + 0], 0x1);  // iSCSI is found first
    EXPECT_EQ(orsa_glob.port_bitmap[2 * 4 + 1], 0x1);
    EXPECT_EQ(orsa_glob.port_bitmap[2 * 4 + 2], 0x0);
    EXPECT_EQ(get_port_bitmap(2, 0), 1u);
    EXPECT_EQ(get_port_bitmap(2, 2), 4u);
    orsa_glob.port_bitmap[2 * 4 + 2] = 0x2 | 0x4;
    EXPECT_EQ(get_port_bitmap(2, 2), 2u);
    orsa_glob.port_bitmap[2 * 4 + 3] = 0x4;
    ASSERT_EQ(set_port_bitmap(), 0u);
    EXPECT_EQ(orsa_glob.port_bitmap[2 * 4 + 2], 0x6);  // bits are only added
    EXPECT_EQ(get_port_bitmap(2, 3), 4u);
    struct Case {
        int32_t controller, port;
    } outside[] = {{-1, 0}, {16, 0}, {0, -1}, {0, 4}};
    for (const Case &c : outside)
        EXPECT_EQ(get_port_bitmap(c.controller, c.port), 4u) << c.controller << "/" << c.port;

    struct ProtoCase {
        uint32_t protocol;
        uint8_t bits;
    } protos[] = {{1, 0x1}, {2, 0x3}, {3, 0x7}, {0, 0x7}, {4, 0x7}};
    for (const ProtoCase &c : protos) {
        set_protocol(5, c.protocol);
        EXPECT_EQ(orsa_glob.controller_protocol[5], c.bits) << c.protocol;
    }
    set_protocol(16, 1);  // no such controller: nothing written
    set_protocol(-1, 1);
    EXPECT_EQ(get_the_protocol(5), 1);
    memset(orsa_glob.port_bitmap, 0, sizeof orsa_glob.port_bitmap);
    memset(orsa_glob.controller_protocol, 0, sizeof orsa_glob.controller_protocol);
}

TEST_F(Lookup, ChildSearches)
{
    // iSCSI physical HBAs first, in instance order, then NIC ones.
    EXPECT_EQ(get_valid_phba(ks2_, "0"), iscsi3_);
    EXPECT_EQ(get_valid_phba(ks2_, "1"), iscsi1_);
    EXPECT_EQ(get_valid_phba(ks2_, "2"), nullptr);
    EXPECT_EQ(get_valid_phba(ks0_, "0"), nullptr);

    EXPECT_EQ(find_target(lhba_, "IQN.t4"), target_);
    EXPECT_NE(find_target(lhba_, "iqn.t5"), nullptr);
    EXPECT_EQ(find_target(lhba_, "iqn.t6"), nullptr);
    EXPECT_EQ(get_matchnode_by_propvalue(ks2_, "NICPhysicalHBA", "PortNumber", "0"), nic0_);
    EXPECT_EQ(get_matchnode_by_propvalue(ks2_, "NICPhysicalHBA", "Missing", "0"), nullptr);

    EXPECT_EQ(get_selected_group_node(iscsi1_, "LogicalHBA", "0"), lhba_);
    EXPECT_EQ(get_selected_group_node(iscsi1_, "LogicalHBA", "1"), nullptr);
    // The prefix is text, never a format.
    EXPECT_EQ(get_selected_group_node(iscsi1_, "%s%s%n", "0"), nullptr);

    char name[256] = {};
    EXPECT_EQ(get_initiator_name(lhba_, name, 0), 0u);
    EXPECT_STREQ(name, "iqn.1990-07.com.example:host");
    EXPECT_EQ(get_initiator_name(lhba_, name, 1), 1u);
}

TEST_F(Lookup, SessionsAndSendTargetPortals)
{
    HmNode *s0 = Group(target_, "Session", 0);
    HmNode *c0 = Group(s0, "Connection", 0);
    Prop(c0, "DestinationIPAddress", "10.0.0.1");
    Prop(c0, "DestinationPortNumber", "3260");
    HmNode *s1 = Group(target_, "Session", 1);
    HmNode *c1 = Group(s1, "Connection", 0);
    Prop(c1, "DestinationIPAddress", "FE80::1");
    Prop(c1, "DestinationPortNumber", "3261");
    EXPECT_EQ(find_session(target_, "10.0.0.1", "3260"), s0);
    EXPECT_EQ(find_session(target_, "fe80::1", "3261"), s1);
    EXPECT_EQ(find_session(target_, "10.0.0.1", "3261"), nullptr);
    // A session without a connection ends the search.
    HmNode *t5 = find_target(lhba_, "iqn.t5");
    Group(t5, "Session", 0);
    HmNode *s = Group(t5, "Session", 1);
    HmNode *c = Group(s, "Connection", 0);
    Prop(c, "DestinationIPAddress", "10.0.0.1");
    Prop(c, "DestinationPortNumber", "3260");
    EXPECT_EQ(find_session(t5, "10.0.0.1", "3260"), nullptr);

    HmNode *disc = Group(lhba_, "Discovery");
    HmNode *p0 = Group(disc, "SendTargetPortal", 0);
    Prop(p0, "IPAddress", "10.1.1.1");
    Prop(p0, "PortNumber", "3260");
    EXPECT_EQ(check_for_stp_in_ORSA(disc, "10.1.1.1", "3260"), 1u);
    EXPECT_EQ(check_for_stp_in_ORSA(disc, "10.1.1.1", "326"), 0u);
    HmNode *p1 = Group(disc, "SendTargetPortal", 1);
    Prop(p1, "IPAddress", "10.1.1.2");  // no PortNumber: the read fails
    EXPECT_EQ(check_for_stp_in_ORSA(disc, "10.1.1.2", "3260"), 0u);
}

TEST_F(Lookup, DigestsFromLoginOptions)
{
    HmNode *opts = Group(lhba_, "InitiatorLoginOptions");
    Prop(opts, "HeaderDigest", "crc32c");
    Prop(opts, "DataDigest", "None");
    login_option_block block{};
    block.header_digest = 7;
    block.data_digest = 7;
    EXPECT_EQ(update_header_digest_details(opts, &block, 1), 1u);  // no Authentication group
    EXPECT_EQ(block.header_digest, 7);
    Group(opts, "Authentication");
    EXPECT_EQ(update_header_digest_details(opts, &block, 1), 0u);
    EXPECT_EQ(block.header_digest, 1);
    EXPECT_EQ(update_data_digest_details(opts, &block, 1), 0u);
    EXPECT_EQ(block.data_digest, 0);
    EXPECT_EQ(update_header_digest_details(opts, &block, 0), 0u);
    EXPECT_EQ(block.header_digest, 0);
}

TEST(LoginOptions, Defaults)
{
    login_option_block *b = get_default_login_options();
    b->flags = 0xF0;
    b->tcp_mss = 1234;
    b->mutual_chap = 1;
    b->target_secret_length = 16;
    b = get_default_login_options();
    const auto *raw = reinterpret_cast<const uint8_t *>(b);
    auto u32at = [&](size_t off) {
        uint32_t v;
        memcpy(&v, raw + off, 4);
        return v;
    };
    auto u16at = [&](size_t off) {
        uint16_t v;
        memcpy(&v, raw + off, 2);
        return v;
    };
    EXPECT_EQ(raw[0], 0xFF);  // bits 0-3 set, bits 4-7 kept
    EXPECT_EQ(raw[1], 0);
    EXPECT_EQ(u32at(4), 8192u);
    EXPECT_EQ(u32at(8), 262144u);
    EXPECT_EQ(u16at(12), 1);
    EXPECT_EQ(u16at(14), 1);
    EXPECT_EQ(u16at(16), 2);
    EXPECT_EQ(u16at(18), 20);
    EXPECT_EQ(raw[20], 0);
    EXPECT_EQ(raw[21], 0);
    EXPECT_EQ(raw[22], 0);
    EXPECT_EQ(u32at(24), 65536u);
    EXPECT_EQ(u32at(28), 65536u);
    EXPECT_EQ(u32at(32), 0u);  // every listed default is assigned
    EXPECT_EQ(u32at(44), 0u);
    EXPECT_EQ(u16at(598), 0);
    EXPECT_EQ(u32at(36), 16000u);
    EXPECT_EQ(raw[40], 0);
    EXPECT_STREQ(reinterpret_cast<const char *>(raw + 48), "");
    EXPECT_STREQ(reinterpret_cast<const char *>(raw + 304), " ");
    EXPECT_STREQ(reinterpret_cast<const char *>(raw + 320), "");
    EXPECT_STREQ(reinterpret_cast<const char *>(raw + 576), " ");
    EXPECT_EQ(offsetof(login_option_block, target_secret_length), 598u);
    // The block is the library's one: leave it as the next case expects.
    b->flags = 0;
    get_default_login_options();
}

// Capabilities image: module records of 40 + 16 * count bytes (56 for 0).
struct Image {
    std::vector<uint8_t> bytes;
    std::vector<size_t> entries;  // offset of every mode entry
    void Module(uint32_t count)
    {
        size_t at = bytes.size();
        bytes.resize(at + (count == 0 ? 56 : 40 + 16 * count), 0);
        memcpy(&bytes[at + 36], &count, 4);
        for (uint32_t i = 0; i < count; i++)
            entries.push_back(at + 40 + 16 * i);
    }
    uint32_t Level(size_t entry) const
    {
        uint32_t v;
        memcpy(&v, &bytes[entry + 4], 4);
        return v;
    }
};

TEST_F(Lookup, TraceLevelsPerMode)
{
    HmNode *data = Group(ks0_, "ExtFATData");
    const char *modes[2][2] = {{"UART", "Ram"}, {"RAM", "UART"}};
    for (int m = 0; m < 2; m++) {
        HmNode *module = Group(data, "ExtFATModule", m);
        for (int k = 0; k < 2; k++) {
            HmNode *mode = Group(module, "ExtFATMode", k);
            Prop(mode, "Mode", modes[m][k]);
        }
    }
    struct Case {
        const char *mode;
        uint32_t rc;
        std::vector<uint32_t> levels;
    } cases[] = {
        {"ALL", 0, {9, 9, 9, 9}},
        {"ram", 0, {0, 9, 9, 0}},
        {"uart", 0, {9, 0, 0, 9}},
        {"FLASH", 1, {0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        Image img;
        img.Module(2);
        img.Module(2);
        EXPECT_EQ(update_trace_level_for_mode(data, c.mode, img.bytes.data(),
                                              static_cast<uint32_t>(img.bytes.size()), 9),
                  c.rc)
            << c.mode;
        for (size_t i = 0; i < 4; i++)
            EXPECT_EQ(img.Level(img.entries[i]), c.levels[i]) << c.mode << " entry " << i;
    }
    // The controller finds its ExtFATData.
    Image img;
    img.Module(2);
    img.Module(2);
    EXPECT_EQ(update_trace_level_for_mode(ks0_, "ALL", img.bytes.data(),
                                          static_cast<uint32_t>(img.bytes.size()), 4),
              0u);
    EXPECT_EQ(img.Level(img.entries[3]), 4u);
    EXPECT_EQ(update_trace_level_for_mode(ks2_, "ALL", img.bytes.data(), 0, 4), 0u);  // no modules
}

TEST_F(Lookup, TraceLevelsStayInsideEachRecordAndTheImage)
{
    HmNode *data = Group(ks0_, "ExtFATData");
    for (int m = 0; m < 2; m++) {
        HmNode *module = Group(data, "ExtFATModule", m);
        for (int k = 0; k < 2; k++)
            Prop(Group(module, "ExtFATMode", k), "Mode", "RAM");
    }
    // The first module reports one mode: its second mode group has no entry
    // and must not write into the second record's name.
    Image img;
    img.Module(1);
    img.Module(2);
    std::vector<uint8_t> before = img.bytes;
    ASSERT_EQ(update_trace_level_for_mode(data, "ALL", img.bytes.data(),
                                          static_cast<uint32_t>(img.bytes.size()), 5),
              0u);
    EXPECT_EQ(img.Level(img.entries[0]), 5u);
    EXPECT_EQ(img.Level(img.entries[1]), 5u);
    EXPECT_EQ(img.Level(img.entries[2]), 5u);
    EXPECT_EQ(memcmp(&img.bytes[56], &before[56], 36), 0) << "second record's name changed";

    // A module count running past the image: only what lies inside is written.
    Image bad;
    bad.Module(2);
    uint32_t huge = 4000000;
    memcpy(&bad.bytes[36], &huge, 4);
    std::vector<uint8_t> heap(bad.bytes);  // exact size: the sanitizer sees any overrun
    EXPECT_EQ(update_trace_level_for_mode(data, "ALL", heap.data(), static_cast<uint32_t>(heap.size()), 6),
              0u);
}

// --- stopwatch on a fake clock ---------------------------------------

struct timeval g_now;
int fake_clock(struct timeval *now)
{
    *now = g_now;
    return 0;
}

TEST_F(Lookup, StopwatchPerInstance)
{
    orsa_host_set_clock(fake_clock);
    g_now = {100, 800000};
    ASSERT_EQ(ORSA_start_clock(target_), 0u);  // slot 4
    g_now = {100, 900000};
    ASSERT_EQ(ORSA_start_clock(iscsi1_), 0u);  // slot 1
    g_now = {102, 300000};
    uint32_t ms = 0;
    EXPECT_EQ(ORSA_stop_clock(target_, &ms), 0u);
    EXPECT_EQ(ms, 1500u);
    EXPECT_EQ(ORSA_stop_clock(iscsi1_, &ms), 0u);
    EXPECT_EQ(ms, 1400u);
    g_now = {100, 901999};
    EXPECT_EQ(ORSA_stop_clock(iscsi1_, &ms), 0u);
    EXPECT_EQ(ms, 1u);  // truncated toward zero
    orsa_host_set_clock(nullptr);
}

TEST_F(Lookup, StopwatchRefusesNodesOutsideItsTable)
{
    orsa_host_set_clock(fake_clock);
    g_now = {5, 0};
    HmNode *beyond = Group(lhba_, "Target", 15);
    HmNode *big = Group(ks0_, "Port", 16);
    uint32_t ms = 77;
    EXPECT_EQ(ORSA_start_clock(beyond), 0u);
    EXPECT_EQ(ORSA_start_clock(nullptr), 1u);
    EXPECT_EQ(ORSA_start_clock(big), 1u);
    EXPECT_EQ(ORSA_start_clock(leaf_), 1u);  // a property
    EXPECT_EQ(ORSA_start_clock(root_), 1u);  // a static group
    EXPECT_EQ(ORSA_stop_clock(big, &ms), 1u);
    EXPECT_EQ(ORSA_stop_clock(nullptr, &ms), 1u);
    EXPECT_EQ(ms, 77u);
    orsa_host_set_clock(nullptr);
}

}  // namespace

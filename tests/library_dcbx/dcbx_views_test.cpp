// The PFC, PG and application-TLV views of a port as a client reads them
// through the tree, from the administrator, peer and operational blocks the
// emulated firmware holds.
#include "dcbx_fixture.h"

#include "schema/builders.h"

namespace {

using adapter::kDcbxAdvertise;
using adapter::kDcbxEnabled;
using adapter::kDcbxError;
using adapter::kDcbxOperNotAvailable;
using adapter::kDcbxSynced;
using adapter::kDcbxWilling;

adapter::DcbxAppEntry entry(uint16_t protocol, uint8_t selector, uint32_t oui, uint8_t members)
{
    adapter::DcbxAppEntry e;
    e.protocol = protocol;
    e.selector = selector;
    e.in_use = 1;
    e.oui = oui;
    for (unsigned k = 0; k < 8; k++)
        e.members[k] = (members >> k) & 1;
    return e;
}

class DcbxViews : public DcbxHost {
protected:
    void SetUp() override
    {
        boot();
        pg = port(ctrl(1), "0");
        ASSERT_NE(pg, nullptr);
        adapter::DcbxPort &d = fwPort(1, 0);
        // Three views that differ in every field the tree shows.
        d.admin.pfc_flags = kDcbxEnabled | kDcbxWilling;
        d.admin.pfc = {0, 1, 0, 1, 0, 0, 0, 0};
        d.admin.pg_flags = kDcbxAdvertise;
        d.admin.num_pg = 4;
        d.admin.pg_id = {0, 1, 15, 1, 2, 15, 0, 0};
        d.admin.bandwidth = {50, 30, 20, 0, 0, 0, 0, 0};
        d.admin.app_flags = kDcbxEnabled | kDcbxAdvertise;
        d.admin.apps[0] = entry(0x8906, 0, 0x1b21, 0x08);
        d.admin.apps[1] = entry(3260, 1, 0x1b21, 0x10);

        d.peer.pfc_flags = kDcbxAdvertise | kDcbxError;
        d.peer.pfc = {1, 1, 1, 0, 0, 0, 0, 0};
        d.peer.pg_flags = kDcbxEnabled | kDcbxWilling | kDcbxError;
        d.peer.num_pg = 8;
        d.peer.pg_id = {15, 15, 15, 15, 3, 3, 3, 3};
        d.peer.bandwidth = {0, 0, 0, 100, 0, 0, 0, 0};
        d.peer.app_flags = kDcbxWilling | kDcbxError;
        d.peer.apps[0] = entry(0x8914, 0, 0x00c0ffee, 0x80);

        d.oper.pfc_flags = kDcbxEnabled | kDcbxSynced;
        d.oper.pfc = {0, 0, 0, 0, 1, 1, 0, 0};
        d.oper.pg_flags = kDcbxEnabled | kDcbxSynced | kDcbxError;
        d.oper.num_pg = 2;
        d.oper.pg_id = {7, 7, 7, 7, 7, 7, 7, 15};
        d.oper.bandwidth = {0, 0, 0, 0, 0, 0, 0, 255};
        d.oper.app_flags = kDcbxSynced;
        d.oper.apps[2] = entry(0x8915, 0, 0x1b21, 0x03);
    }
    struct Read {
        const char *group, *property, *want;
    };
    void expectReads(const std::vector<Read> &reads)
    {
        for (const Read &r : reads) {
            HmNode *g = group(pg, std::string("DCBX/") + r.group);
            u32 rc = 99;
            EXPECT_EQ(get(g, r.property, &rc), r.want) << r.group << " " << r.property;
            EXPECT_EQ(rc, 0u) << r.group << " " << r.property;
        }
    }
    HmNode *pg = nullptr;
};

TEST_F(DcbxViews, PfcPgAndTlvGroupsShowTheirOwnView)
{
    expectReads({
        {"PFC/AdministratorPFCSetting", "Enabled", "Yes"},
        {"PFC/AdministratorPFCSetting", "Advertise", "No"},
        {"PFC/AdministratorPFCSetting", "Willing", "Yes"},
        {"PFC/AdministratorPFCSetting", "PriorityBitMap", "0x0a"},
        {"PFC/PeerPFCSetting", "Enabled", "No"},
        {"PFC/PeerPFCSetting", "Advertise", "Yes"},
        {"PFC/PeerPFCSetting", "Willing", "No"},
        {"PFC/PeerPFCSetting", "Error", "Yes"},
        {"PFC/PeerPFCSetting", "PriorityBitMap", "0x07"},
        {"PFC/OperationalPFCSettings", "OperationalMode", "True"},
        {"PFC/OperationalPFCSettings", "Error", "No"},
        {"PFC/OperationalPFCSettings", "Synced", "Yes"},
        {"PFC/OperationalPFCSettings", "PriorityBitMap", "0x30"},
        {"PriorityGroups/AdministratorPGSetting", "Enabled", "No"},
        {"PriorityGroups/AdministratorPGSetting", "Advertise", "Yes"},
        {"PriorityGroups/AdministratorPGSetting", "Willing", "No"},
        {"PriorityGroups/AdministratorPGSetting", "NumPGSupported", "4"},
        {"PriorityGroups/AdministratorPGSetting", "PG15PriorityMemberShip", "0x24"},
        {"PriorityGroups/PeerPGSetting", "Enabled", "Yes"},
        {"PriorityGroups/PeerPGSetting", "Advertise", "No"},
        {"PriorityGroups/PeerPGSetting", "Willing", "Yes"},
        {"PriorityGroups/PeerPGSetting", "Error", "Yes"},
        {"PriorityGroups/PeerPGSetting", "NumPGSupported", "8"},
        {"PriorityGroups/PeerPGSetting", "PG15PriorityMemberShip", "0x0f"},
        {"PriorityGroups/OperationalPGSettings", "OperationalMode", "True"},
        {"PriorityGroups/OperationalPGSettings", "Error", "Yes"},
        {"PriorityGroups/OperationalPGSettings", "Synced", "Yes"},
        {"PriorityGroups/OperationalPGSettings", "NumPGSupported", "2"},
        {"PriorityGroups/OperationalPGSettings", "PG15PriorityMemberShip", "0x80"},
        {"PriorityGroups/AdministratorPGSetting/PG0", "PriorityMembership", "0xc1"},
        {"PriorityGroups/AdministratorPGSetting/PG0", "Bandwidth", "50"},
        {"PriorityGroups/AdministratorPGSetting/PG1", "PriorityMembership", "0x0a"},
        {"PriorityGroups/AdministratorPGSetting/PG1", "Bandwidth", "30"},
        {"PriorityGroups/AdministratorPGSetting/PG2", "PriorityMembership", "0x10"},
        {"PriorityGroups/PeerPGSetting/PG3", "PriorityMembership", "0xf0"},
        {"PriorityGroups/PeerPGSetting/PG3", "Bandwidth", "100"},
        {"PriorityGroups/OperationalPGSettings/PG7", "PriorityMembership", "0x7f"},
        {"PriorityGroups/OperationalPGSettings/PG7", "Bandwidth", "255"},
        {"ApplicationTLVGroups/AdministratorTLVSetting", "Enabled", "Yes"},
        {"ApplicationTLVGroups/AdministratorTLVSetting", "Advertise", "Yes"},
        {"ApplicationTLVGroups/AdministratorTLVSetting", "Willing", "No"},
        {"ApplicationTLVGroups/PeerTLVSetting", "Enabled", "No"},
        {"ApplicationTLVGroups/PeerTLVSetting", "Willing", "Yes"},
        {"ApplicationTLVGroups/PeerTLVSetting", "Error", "Yes"},
        {"ApplicationTLVGroups/OperationalTLVSettings", "OperationalMode", "False"},
        {"ApplicationTLVGroups/OperationalTLVSettings", "Synced", "Yes"},
        {"ApplicationTLVGroups/OperationalTLVSettings", "Error", "No"},
    });
    // Each read asked for its own view.
    std::vector<std::vector<u8>> reads = sent(16, 1);
    ASSERT_FALSE(reads.empty());
    for (const std::vector<u8> &r : reads) {
        EXPECT_EQ(r.size(), ORSA_DCBX_V0_SIZE);
        EXPECT_LE(r.at(0), 2u);
    }
}

TEST_F(DcbxViews, ApplicationTlvInstancesShowTheEntryOfTheirNumber)
{
    // The instances the start-up would build for the entries in use.
    HmNode *tlvs = group(pg, "DCBX/ApplicationTLVGroups");
    HmNode *admin = group(tlvs, "AdministratorTLVSetting"), *peer = group(tlvs, "PeerTLVSetting"),
           *oper = group(tlvs, "OperationalTLVSettings");
    ASSERT_TRUE(admin && peer && oper);
    for (HmNode *(*build)(HmNode *, HmNode *, HmNode *, HmValueSlot *) :
         {initialize_AdministratorTLVSetting_ApplicationTLV, initialize_AdministratorTLVSetting_ApplicationTLV}) {
        ASSERT_NE(build(admin, nullptr, nullptr, nullptr), nullptr);
    }
    ASSERT_NE(initialize_PeerTLVSetting_ApplicationTLV(peer, nullptr, nullptr, nullptr), nullptr);
    for (int i = 0; i < 3; i++)
        ASSERT_NE(initialize_OperationalTLVSettings_ApplicationTLV(oper, nullptr, nullptr, nullptr), nullptr);

    expectReads({
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV0", "ProtocolSelector", "0"},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV0", "ProtocolID", "0x8906"},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV0", "OUI", "0x1b21"},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV0", "PriorityBitMap", "0x08"},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV1", "ProtocolSelector", "1"},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV1", "ProtocolID", "0xcbc"},
        {"ApplicationTLVGroups/AdministratorTLVSetting/ApplicationTLV1", "PriorityBitMap", "0x10"},
        {"ApplicationTLVGroups/PeerTLVSetting/ApplicationTLV0", "ProtocolID", "0x8914"},
        {"ApplicationTLVGroups/PeerTLVSetting/ApplicationTLV0", "OUI", "0xc0ffee"},
        {"ApplicationTLVGroups/PeerTLVSetting/ApplicationTLV0", "PriorityBitMap", "0x80"},
        {"ApplicationTLVGroups/OperationalTLVSettings/ApplicationTLV0", "ProtocolID", "0x00"},
        {"ApplicationTLVGroups/OperationalTLVSettings/ApplicationTLV2", "ProtocolID", "0x8915"},
        {"ApplicationTLVGroups/OperationalTLVSettings/ApplicationTLV2", "PriorityBitMap", "0x03"},
    });
}

TEST_F(DcbxViews, OperationalPgModeFollowsLinksFlagsAndConfiguredChannelType)
{
    HmNode *oper = group(pg, "DCBX/PriorityGroups/OperationalPGSettings");
    adapter::DcbxPort &d = fwPort(1, 0);
    using L = adapter::OpgLink;
    struct Case {
        const char *what;
        std::vector<L> links;
        u32 flags;
        const char *want;
    } cases[] = {
        {"a link of mode 1", {L{.mode = 1}}, kDcbxEnabled, "True"},
        {"enabled bit clear", {L{.mode = 1}}, 0, "False"},
        {"link mode 0", {L{.mode = 0}}, kDcbxEnabled, "N/A"},
        {"link mode 2", {L{.mode = 2}}, kDcbxEnabled, "N/A"},
        {"the second link of mode 2, 40 bytes on", {L{.mode = 1, .length = 40}, L{.mode = 2}}, kDcbxEnabled, "N/A"},
        {"mode bits above 2 are not the mode", {L{.mode = 7}, L{.mode = 5}}, kDcbxEnabled, "True"},
        {"operational mode not available", {L{.mode = 1}}, kDcbxEnabled | kDcbxOperNotAvailable, "N/A"},
        {"no links", {}, 0, "False"},
    };
    for (const Case &c : cases) {
        d.links = c.links;
        d.oper.pg_flags = c.flags;
        EXPECT_EQ(get(oper, "OperationalMode"), c.want) << c.what;
    }
    std::vector<u8> opg = sent(1, 108).back();
    EXPECT_EQ(opg.size(), 2080u);
    EXPECT_EQ(opg.at(0), 1u);
    EXPECT_EQ(opg.at(4), 0u);  // port 0

    // The walk ends inside the reply: a count far above what fits and
    // descriptors that do not move on end it without reading past the buffer.
    d.links.assign(3, L{.mode = 1, .length = 0});
    d.oper.pg_flags = kDcbxEnabled;
    EXPECT_EQ(get(oper, "OperationalMode"), "True");
    d.links.assign(400, L{.mode = 1, .length = 8});
    d.links.back().mode = 0;  // past the 2080 bytes: never seen
    EXPECT_EQ(get(oper, "OperationalMode"), "True");

    // Unreadable operating parameters: the flags decide.
    d.links = {L{.mode = 0}};
    fw(1).setFault(1, 108, adapter::Fault{.status = 1});
    EXPECT_EQ(get(oper, "OperationalMode"), "True");
    fw(1).clearFault(1, 108);

    // A configured multichannel type on the controller: "N/A" whatever the
    // rest says; a failed read of it fails the group.
    HmNode *cm = group(ctrl(1), "ChannelManagement");
    ASSERT_NE(cm, nullptr);
    HmProperty *configured = HM_PROPERTY(internal_get_node(cm, "ConfiguredManagementType", HM_KIND_PROPERTY));
    HmPropertyHandler real = configured->handler;
    d.links = {L{.mode = 1}};
    configured->handler = [](HmNode *p, char *v, u32) -> u32 {
        set_prop_val(p->parent, p->name, "%s", "UMC");
        orsa_strlcpy(v, "UMC", HM_VALUE_SIZE);
        return 0;
    };
    EXPECT_EQ(get(oper, "OperationalMode"), "N/A");
    configured->handler = [](HmNode *, char *, u32) -> u32 { return 1; };
    u32 rc = 0;
    get(oper, "OperationalMode", &rc);
    EXPECT_EQ(rc, 1u);
    configured->handler = real;
    EXPECT_EQ(get(oper, "OperationalMode"), "True");
}

TEST_F(DcbxViews, Pg15MembershipIsAVeskarnMatter)
{
    HmNode *ks3 = port(ctrl(0), "0");
    ASSERT_NE(ks3, nullptr);
    fwPort(0, 0).admin.pg_id = {15, 15, 0, 0, 0, 0, 0, 0};
    unsigned before = fw(0).commandsSeen(16, 1);
    for (const char *view : {"AdministratorPGSetting", "PeerPGSetting", "OperationalPGSettings"}) {
        u32 rc = 9;
        EXPECT_EQ(get(group(ks3, std::string("DCBX/PriorityGroups/") + view), "PG15PriorityMemberShip", &rc), "N/A");
        EXPECT_EQ(rc, 0u);
    }
    EXPECT_EQ(fw(0).commandsSeen(16, 1), before);
    // Veskarn: from the block (administrator view above: priorities 2 and 5).
    EXPECT_EQ(get(group(pg, "DCBX/PriorityGroups/AdministratorPGSetting"), "PG15PriorityMemberShip"), "0x24");
}

TEST_F(DcbxViews, VirtualFunctionAndFailedReads)
{
    HmNode *admin_pfc = group(pg, "DCBX/PFC/AdministratorPFCSetting");
    HmNode *tlvs = group(pg, "DCBX/ApplicationTLVGroups/AdministratorTLVSetting");
    HmNode *tlv0 = initialize_AdministratorTLVSetting_ApplicationTLV(tlvs, nullptr, nullptr, nullptr);
    ASSERT_NE(tlv0, nullptr);
    HmNode *pg0 = group(pg, "DCBX/PriorityGroups/PeerPGSetting/PG0");

    vm_flag = 1;
    unsigned before = fw(1).commandsSeen(16, 1);
    struct Refused {
        HmNode *g;
        const char *property;
    } refused[] = {{admin_pfc, "Willing"},
                   {group(pg, "DCBX/PriorityGroups/OperationalPGSettings"), "Synced"},
                   {group(pg, "DCBX/PriorityGroups/AdministratorPGSetting"), "PG15PriorityMemberShip"},
                   {group(pg, "DCBX/ApplicationTLVGroups/PeerTLVSetting"), "Error"},
                   {pg0, "Bandwidth"},
                   {group(pg, "DCBX/DCBXPortVars"), "DCBXState"},
                   {group(pg, "DCBX/DCBXPortVars"), "DCBXMode"},
                   {group(pg, "DCBX/DCBXPortVars"), "SequenceNumber"},
                   {group(pg, "DCBX/DCBXStatistics"), "TxPacketCount"}};
    for (const Refused &r : refused) {
        u32 rc = 0;
        EXPECT_EQ(get(r.g, r.property, &rc), "N/A") << r.property;
        EXPECT_EQ(rc, 1u) << r.property;
        EXPECT_EQ(last_code(), 256u) << r.property;
        EXPECT_EQ(last_text(), "Performed operation is not supported on a SR-IOV virtual function.");
    }
    EXPECT_EQ(fw(1).commandsSeen(16, 1), before);
    // An application TLV instance is read all the same; its set is refused.
    EXPECT_EQ(get(tlv0, "ProtocolID"), "0x8906");
    EXPECT_EQ(set(tlv0, "PriorityBitMap", "0x01"), 1u);
    EXPECT_EQ(last_code(), 256u);
    EXPECT_TRUE(writes().empty());
    fw(1).setFault(16, 1, adapter::Fault{.status = 1});
    u32 rc = 0;
    EXPECT_EQ(get(tlv0, "ProtocolID", &rc), "N/A");
    EXPECT_NE(rc, 0u);
    vm_flag = 0;

    // A failed read: status 101, the cached text stays.
    EXPECT_EQ(cached(admin_pfc, "Willing"), "Yes");
    fwPort(1, 0).admin.pfc_flags = 0;
    rc = 0;
    get(admin_pfc, "Willing", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(last_code(), 101u);
    EXPECT_EQ(last_text(),
              "Cannot obtain DCBX properties. Application internal error occurred. Please check orsa2d.log file for "
              "more information.");
    EXPECT_EQ(cached(admin_pfc, "Willing"), "Yes");
    fw(1).clearFault(16, 1);
    EXPECT_EQ(get(admin_pfc, "Willing"), "No");
}

}  // namespace

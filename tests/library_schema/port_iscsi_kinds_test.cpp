// The iSCSI initiator kinds, the port subtree, channels, DCBX entries,
// profile groups, NC-SI and link configurations as built: every child with
// its fields, the capacities, the numbering slices, the texts clients match
// and a whole controller with every kind built and taken down.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "expected_kinds.h"
#include "schema/kind_table.h"
#include "schema_test_util.h"
#include "tree/orsa_api.h"

extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_Beacon_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_SetPortSpeed_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_DumpTransceiverData_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_ErasePortandDiscoveryConfiguration_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_SelfTest_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_RunTDR_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_ClearCounters_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_AddApplicationTLV_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_DeleteApplicationTLV_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement_Channel_ConfigureQoS_action;
extern HmAction ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_PriorityGroups_AdministratorPGSetting_PG_ConfigurePGSettings_action;
extern HmAction ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Discovery_AddSendTargetPortal_action;
extern HmAction ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Target_TargetLoginOptions_Authentication_ConfigureCHAP_action;
extern HmAction ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Discovery_SendTargetPortal_SendTargetPortalLoginOptions_Authentication_ConfigureCHAP_action;
extern HmAction ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Target_LUN_SCSIWrite_action;

namespace {

const char *const kPgViews[] = {"AdministratorPGSetting", "PeerPGSetting", "OperationalPGSettings"};

int subtree_nodes(HmNode *n)
{
    int count = 1;
    if (n->kind == HM_KIND_GROUP)
        for (HmNode *c = HM_GROUP(n)->first_child; c != nullptr && c != n; c = c->next)
            count += subtree_nodes(c);
    return count;
}

class PortIscsiKinds : public TreeTest {
protected:
    static HmNode *ks() { return initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr); }
    static HmNode *lhba(HmNode *ks)
    {
        HmNode *phba = initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr);
        return phba != nullptr ? initialize_LogicalHBA(phba, nullptr, nullptr, nullptr) : nullptr;
    }
    static HmNode *port(HmNode *ks) { return initialize_PortDiscoveryAndConfiguration(ks, nullptr, nullptr, nullptr); }
    static HmNode *tlv_setting(HmNode *port, const char *view)
    {
        return at(port, std::string("DCBX/ApplicationTLVGroups/") + view, HM_KIND_GROUP);
    }
    static HmNode *pg_setting(HmNode *port, const char *view)
    {
        return at(port, std::string("DCBX/PriorityGroups/") + view, HM_KIND_GROUP);
    }
};

TEST_F(PortIscsiKinds, EachKindIsBuiltAsDocumented)
{
    HmNode *controller = ks();
    ASSERT_NE(controller, nullptr);
    HmNode *logical = lhba(controller), *target = nullptr, *session = nullptr, *p = nullptr, *cport = nullptr,
           *aport = nullptr, *profile = nullptr;
    ASSERT_NE(logical, nullptr);
    HmNode *phba = logical->parent;

    struct Case {
        const char *kind;
        std::function<HmNode *()> build;
        const char *expected;
        const char *description;
    } cases[] = {
        {"LogicalHBA", [&] { return logical; }, kExpectedLogicalHBA,
         "This group instance corresponds to a single port of a Quorvantix controller functioning as an iSCSI initiator."},
        {"SendTargetPortal", [&] { return initialize_SendTargetPortal(at(logical, "Discovery"), nullptr, nullptr, nullptr); },
         kExpectedSendTargetPortal, "This group instance corresponds to a SendTarget Portal for discovering targets."},
        {"Target", [&] { return target = initialize_Target(logical, nullptr, nullptr, nullptr); }, kExpectedTarget,
         "This group represents the information about the targets that are available in the network."},
        {"LUN", [&] { return initialize_LUN(target, nullptr, nullptr, nullptr); }, kExpectedLUN,
         "This group instance corresponds to a LUN available behind this target."},
        {"Session", [&] { return session = initialize_Session(target, nullptr, nullptr, nullptr); }, kExpectedSession,
         "This group instance corresponds to an active session with the target."},
        {"Connection", [&] { return initialize_Connection(session, nullptr, nullptr, nullptr); }, kExpectedConnection,
         "This group instance corresponds to a connection for a session. A session can have a maximum of four "
         "connections."},
        {"TargetPortal", [&] { return initialize_TargetPortal(target, nullptr, nullptr, nullptr); },
         kExpectedTargetPortal,
         "This group instance corresponds to a portal of the target identified by its IP address and port number."},
        {"iSNSServer", [&] { return initialize_iSNSServer(at(phba, "iSNS"), nullptr, nullptr, nullptr); },
         kExpectediSNSServer, "This group instance corresponds to an iSNS Server entry."},
        {"ARPTableEntry",
         [&] { return initialize_ARPTableEntry(at(phba, "Network/TCPIPConfiguration/ARPTable"), nullptr, nullptr, nullptr); },
         kExpectedARPTableEntry, nullptr},
        {"RouteTableEntry",
         [&] {
             return initialize_RouteTableEntry(at(phba, "Network/TCPIPConfiguration/RouteTable"), nullptr, nullptr, nullptr);
         },
         kExpectedRouteTableEntry, nullptr},
        {"PortDiscoveryAndConfiguration", [&] { return p = port(controller); }, kExpectedPort,
         "This group allows per-port LLDP, DCBX, ICDSconfiguration and Beaconing."},
        {"Channel", [&] { return initialize_Channel(at(p, "ChannelManagement"), nullptr, nullptr, nullptr); },
         kExpectedChannel, "This group specifies Multi-Channels properties."},
        {"ApplicationTLV",
         [&] {
             return initialize_OperationalTLVSettings_ApplicationTLV(tlv_setting(p, "OperationalTLVSettings"), nullptr,
                                                                     nullptr, nullptr);
         },
         kExpectedApplicationTLV, nullptr},
        {"ApplicationTLV",
         [&] { return initialize_PeerTLVSetting_ApplicationTLV(tlv_setting(p, "PeerTLVSetting"), nullptr, nullptr, nullptr); },
         kExpectedApplicationTLV, nullptr},
        {"ApplicationTLV",
         [&] {
             return initialize_AdministratorTLVSetting_ApplicationTLV(tlv_setting(p, "AdministratorTLVSetting"), nullptr,
                                                                      nullptr, nullptr);
         },
         kExpectedAdministratorApplicationTLV, nullptr},
        {"PG", [&] { return initialize_OperationalPGSettings_PG(pg_setting(p, "OperationalPGSettings"), nullptr, nullptr, nullptr); },
         kExpectedPG, nullptr},
        {"PG", [&] { return initialize_PeerPGSetting_PG(pg_setting(p, "PeerPGSetting"), nullptr, nullptr, nullptr); },
         kExpectedPG, nullptr},
        {"PG",
         [&] { return initialize_AdministratorPGSetting_PG(pg_setting(p, "AdministratorPGSetting"), nullptr, nullptr, nullptr); },
         kExpectedAdministratorPG, nullptr},
        {"Port",
         [&] {
             return cport = initialize_ConfiguredProfile_Port(at(controller, "ProfileManagement/ConfiguredProfile"), nullptr,
                                                              nullptr, nullptr);
         },
         kExpectedConfiguredProfilePort, "This group represents ports for ConfiguredProfile."},
        {"Function", [&] { return initialize_ConfiguredProfile_Port_Function(cport, nullptr, nullptr, nullptr); },
         kExpectedConfiguredProfileFunction, "This group represents available functions for ConfiguredProfile."},
        {"Port",
         [&] {
             return aport = initialize_ActiveProfile_Port(at(controller, "ProfileManagement/ActiveProfile"), nullptr,
                                                          nullptr, nullptr);
         },
         kExpectedActiveProfilePort, "This group represents available ports for ActiveProfile."},
        {"Function", [&] { return initialize_ActiveProfile_Port_Function(aport, nullptr, nullptr, nullptr); },
         kExpectedActiveProfileFunction, "This group represents available functions for ActiveProfile."},
        {"Profile",
         [&] { return profile = initialize_Profile(at(controller, "ProfileManagement"), nullptr, nullptr, nullptr); },
         kExpectedProfile, "This group represents Profiles of the adapter."},
        {"Protocol", [&] { return initialize_Profile_Protocol(profile, nullptr, nullptr, nullptr); },
         kExpectedProfileProtocol, "This group represents available protocols."},
        {"NCSIStaticConfiguration",
         [&] { return initialize_NCSIStaticConfiguration(at(controller, "NCSI"), nullptr, nullptr, nullptr); },
         kExpectedNCSIStaticConfiguration,
         "The data shown here is read-only and updated once, during manufacturing and applicable for an out-of-box "
         "configuration."},
        {"NCSIDynamicConfiguration",
         [&] { return initialize_NCSIDynamicConfiguration(at(controller, "NCSI"), nullptr, nullptr, nullptr); },
         kExpectedNCSIDynamicConfiguration,
         "The out-of-box configuration data in the NCSIStatiConfiguration group may be overridden with the following "
         "user-settable data."},
        {"LinkConfig", [&] { return initialize_LinkConfig(at(controller, "LinkReconfiguration"), nullptr, nullptr, nullptr); },
         kExpectedLinkConfig, "This group represents number of Link Configuration which are enabled on the adapter."},
    };
    for (const Case &c : cases)
        expect_fresh_instance(c.build(), c.kind, c.description, c.expected);
}

HmNode *new_lhba(HmNode *ks)
{
    HmNode *phba = initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr);
    return phba != nullptr ? initialize_LogicalHBA(phba, nullptr, nullptr, nullptr) : nullptr;
}
HmNode *new_target(HmNode *ks) { return initialize_Target(new_lhba(ks), nullptr, nullptr, nullptr); }
HmNode *new_session(HmNode *ks) { return initialize_Session(new_target(ks), nullptr, nullptr, nullptr); }
HmNode *new_port(HmNode *ks) { return initialize_PortDiscoveryAndConfiguration(ks, nullptr, nullptr, nullptr); }
HmNode *new_ks(HmNode *) { return initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr); }
std::function<HmNode *(HmNode *)> below_port(const std::string &path)
{
    return [path](HmNode *ks) { return at(new_port(ks), path, HM_KIND_GROUP); };
}
std::function<HmNode *(HmNode *)> below_ks(const std::string &path)
{
    return [path](HmNode *ks) { return at(ks, path, HM_KIND_GROUP); };
}
std::function<HmNode *(HmNode *)> below_phba(const std::string &path)
{
    return [path](HmNode *ks) {
        HmNode *phba = initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr);
        return path.empty() ? phba : at(phba, path, HM_KIND_GROUP);
    };
}

// The one beyond capacity is refused and leaves nothing: no child, no
// allocation, no bit. Another parent of the same kind numbers from 0.
TEST_F(PortIscsiKinds, CapacityPerParentIsEnforced)
{
    const std::string app = "DCBX/ApplicationTLVGroups/", pgs = "DCBX/PriorityGroups/";
    CapacityCase cases[] = {
        {"LogicalHBA", initialize_LogicalHBA, 1, below_phba(""), below_phba("")},
        {"SendTargetPortal", initialize_SendTargetPortal, 128,
         [](HmNode *ks) { return at(new_lhba(ks), "Discovery"); }, [](HmNode *ks) { return at(new_lhba(ks), "Discovery"); }},
        {"Target", initialize_Target, 256, new_lhba, new_lhba},
        {"LUN", initialize_LUN, 256, new_target, new_target},
        {"Session", initialize_Session, 64, new_target, new_target},
        {"Connection", initialize_Connection, 1, new_session, new_session},
        {"TargetPortal", initialize_TargetPortal, 64, new_target, new_target},
        {"iSNSServer", initialize_iSNSServer, 4, below_phba("iSNS"), below_phba("iSNS")},
        {"ARPTableEntry", initialize_ARPTableEntry, 64, below_phba("Network/TCPIPConfiguration/ARPTable"),
         below_phba("Network/TCPIPConfiguration/ARPTable")},
        {"RouteTableEntry", initialize_RouteTableEntry, 1024, below_phba("Network/TCPIPConfiguration/RouteTable"),
         below_phba("Network/TCPIPConfiguration/RouteTable")},
        {"PortDiscoveryAndConfiguration", initialize_PortDiscoveryAndConfiguration, 4, [](HmNode *ks) { return ks; },
         new_ks},
        // The seventeenth channel of one port while another port starts again at 0.
        {"Channel", initialize_Channel, 16, below_port("ChannelManagement"), below_port("ChannelManagement")},
        {"Administrator ApplicationTLV", initialize_AdministratorTLVSetting_ApplicationTLV, 15,
         below_port(app + "AdministratorTLVSetting"), below_port(app + "AdministratorTLVSetting")},
        {"Peer ApplicationTLV", initialize_PeerTLVSetting_ApplicationTLV, 15, below_port(app + "PeerTLVSetting"),
         below_port(app + "PeerTLVSetting")},
        {"Operational ApplicationTLV", initialize_OperationalTLVSettings_ApplicationTLV, 15,
         below_port(app + "OperationalTLVSettings"), below_port(app + "OperationalTLVSettings")},
        {"Administrator PG", initialize_AdministratorPGSetting_PG, 8, below_port(pgs + "AdministratorPGSetting"),
         below_port(pgs + "AdministratorPGSetting")},
        {"Peer PG", initialize_PeerPGSetting_PG, 8, below_port(pgs + "PeerPGSetting"), below_port(pgs + "PeerPGSetting")},
        {"Operational PG", initialize_OperationalPGSettings_PG, 8, below_port(pgs + "OperationalPGSettings"),
         below_port(pgs + "OperationalPGSettings")},
        {"LinkConfig", initialize_LinkConfig, 32, below_ks("LinkReconfiguration"),
         [](HmNode *) { return at(new_ks(nullptr), "LinkReconfiguration"); }},
        {"NCSIStaticConfiguration", initialize_NCSIStaticConfiguration, 1, below_ks("NCSI"),
         [](HmNode *) { return at(new_ks(nullptr), "NCSI"); }},
        {"NCSIDynamicConfiguration", initialize_NCSIDynamicConfiguration, 1, below_ks("NCSI"),
         [](HmNode *) { return at(new_ks(nullptr), "NCSI"); }},
        {"Configured Port", initialize_ConfiguredProfile_Port, 4, below_ks("ProfileManagement/ConfiguredProfile"),
         [](HmNode *) { return at(new_ks(nullptr), "ProfileManagement/ConfiguredProfile"); }},
        {"Configured Function", initialize_ConfiguredProfile_Port_Function, 64,
         [](HmNode *ks) {
             return initialize_ConfiguredProfile_Port(at(ks, "ProfileManagement/ConfiguredProfile"), nullptr, nullptr, nullptr);
         },
         [](HmNode *ks) {
             return initialize_ConfiguredProfile_Port(at(ks, "ProfileManagement/ConfiguredProfile"), nullptr, nullptr, nullptr);
         }},
        {"Active Port", initialize_ActiveProfile_Port, 4, below_ks("ProfileManagement/ActiveProfile"),
         [](HmNode *) { return at(new_ks(nullptr), "ProfileManagement/ActiveProfile"); }},
        {"Active Function", initialize_ActiveProfile_Port_Function, 64,
         [](HmNode *ks) {
             return initialize_ActiveProfile_Port(at(ks, "ProfileManagement/ActiveProfile"), nullptr, nullptr, nullptr);
         },
         [](HmNode *ks) {
             return initialize_ActiveProfile_Port(at(ks, "ProfileManagement/ActiveProfile"), nullptr, nullptr, nullptr);
         }},
        {"Profile", initialize_Profile, 100, below_ks("ProfileManagement"),
         [](HmNode *) { return at(new_ks(nullptr), "ProfileManagement"); }},
        {"Protocol", initialize_Profile_Protocol, 8,
         [](HmNode *ks) { return initialize_Profile(at(ks, "ProfileManagement"), nullptr, nullptr, nullptr); },
         [](HmNode *ks) { return initialize_Profile(at(ks, "ProfileManagement"), nullptr, nullptr, nullptr); }},
    };
    for (const CapacityCase &c : cases)
        check_capacity(c);
}

TEST_F(PortIscsiKinds, PortSubtreeHasItsChildrenInOrder)
{
    HmNode *controller = ks();
    HmNode *p = port(controller);
    ASSERT_NE(p, nullptr);
    const char *const children[] = {
        "PortNumber", "PortName", "PortState", "PhysicalLinkStatus", "PHYType", "InterfaceType", "BeaconState",
        "TXThrottle", "ChannelManagement", "BaseT10G", "FCoEWWPN", "Mode", "ConfiguredSpeed", "DACCableLength",
        "ANSpeedsSupported", "ForceSpeedsSupported", "TxFlowControl", "RxFlowControl", "FCoELinkSpeed", "Beacon",
        "SetPortSpeed", "DumpTransceiverData", "ErasePortandDiscoveryConfiguration", "LLDP", "DCBX",
    };
    std::vector<std::string> built;
    for (HmNode *c = HM_GROUP(p)->first_child; c != p; c = c->next)
        built.emplace_back(c->name);
    ASSERT_EQ(built.size(), 25u);
    for (size_t i = 0; i < built.size(); i++)
        EXPECT_EQ(built[i], children[i]) << "child " << i;
    EXPECT_EQ(subtree_nodes(p), 183);

    // The groups below which other code hangs instances refresh them by name;
    // no other static group of the port has a refresh handler row.
    EXPECT_EQ(kind_PortDiscoveryAndConfiguration.refresh_handler, nullptr);
    int named = 0;
    for (u32 i = 0; i < kind_PortDiscoveryAndConfiguration.row_count; i++) {
        const schema::SchemaRow &r = kind_PortDiscoveryAndConfiguration.rows[i];
        if (r.row == schema::Row::Group && r.handler != nullptr) {
            named++;
            EXPECT_EQ(std::string(r.handler), std::string(strcmp(r.name, "ChannelManagement") == 0
                                                              ? "group_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement"
                                                              : std::string("group_") + r.name))
                << r.name;
        }
    }
    EXPECT_EQ(named, 4);
    struct KindRefresh {
        const schema::SchemaKind &kind;
        const char *handler;
    } refresh[] = {{kind_Target, "group_Target"}, {kind_LUN, "group_LUN"}, {kind_Session, "group_Session"},
                   {kind_LogicalHBA, nullptr}, {kind_Connection, nullptr}, {kind_Channel, nullptr}};
    for (const KindRefresh &k : refresh) {
        if (k.handler == nullptr)
            EXPECT_EQ(k.kind.refresh_handler, nullptr) << k.kind.builder;
        else
            EXPECT_STREQ(k.kind.refresh_handler, k.handler) << k.kind.builder;
    }
}

// Like-named properties of the Local/Peer, Administrator/Peer/Operational
// groups are distinct nodes with their own fields, found per group.
TEST_F(PortIscsiKinds, LikeNamedPropertiesResolvePerGroup)
{
    HmNode *p = port(ks());
    ASSERT_NE(p, nullptr);
    struct Case {
        const char *path;
        const char *value;
        u32 access;
        const char *description_start;
        bool cached;
    } cases[] = {
        {"LLDP/LocalConfiguration/ChassisId", "Unknown", HM_PROP_READONLY, "This property provides the LLDP chassis ID for local", false},
        {"LLDP/PeerConfiguration/ChassisId", "Unknown", HM_PROP_READONLY, "This property provides the LLDP chassis ID for peer", false},
        {"LLDP/LocalConfiguration/TTL", "0", HM_PROP_READONLY, "This property indicates the LLDP TTL for local", false},
        {"LLDP/PeerConfiguration/TTL", "0", HM_PROP_READONLY, " This property indicates the LLDP TTL for peer", false},
        {"LLDP/LLDPStatistics/UnrecognizedTLVs", "0", HM_PROP_READONLY, "This property specifies the number of unrecognized LLDP", false},
        {"DCBX/DCBXStatistics/UnrecognizedTLVs", "0", HM_PROP_READONLY, "This property specifies the number of unrecognized DCBX", true},
        {"DCBX/PFC/AdministratorPFCSetting/Enabled", "No", HM_PROP_WRITABLE, "This property specifies that the PFC feature should", false},
        {"DCBX/PFC/PeerPFCSetting/Enabled", "Yes", HM_PROP_READONLY, "The property specifies that the PFC feature is enabled on the peer", false},
        {"DCBX/PFC/OperationalPFCSettings/OperationalMode", "True", HM_PROP_READONLY, "This property specifies that the PFC", false},
        {"DCBX/QCN/OperationalQCNSettings/OperationalMode", "N/A", HM_PROP_READONLY, "This property specifies that the QCN", false},
        {"DCBX/QCN/AdministratorQCNSetting/CNPVBitMap", "0", HM_PROP_READONLY, "This property specifies the Congestion", false},
        {"DCBX/QCN/AdministratorQCNSetting/Willing", "Yes", HM_PROP_WRITABLE, " This property specifies that the HBA is willing to accept QCN", false},
        {"DCBX/QCN/PeerQCNSetting/Willing", "Yes", HM_PROP_READONLY, " This property specifies that the peer is willing to accept QCN", false},
        {"DCBX/PriorityGroups/AdministratorPGSetting/Willing", "Yes", HM_PROP_WRITABLE, " This HBA is willing to accept Priority Group", false},
        {"DCBX/PriorityGroups/PeerPGSetting/Willing", "Yes", HM_PROP_READONLY, " This peer is willing", false},
        {"DCBX/PriorityGroups/PeerPGSetting/Error", "Yes", HM_PROP_READONLY, "This property indicates that an error", false},
        {"DCBX/PriorityGroups/OperationalPGSettings/Error", "Yes", HM_PROP_READONLY, " This property indicates an error", false},
        {"DCBX/ApplicationTLVGroups/AdministratorTLVSetting/Enabled", "Yes", HM_PROP_WRITABLE, " This application TLV is enabled", false},
        {"DCBX/ApplicationTLVGroups/PeerTLVSetting/Enabled", "Yes", HM_PROP_READONLY, " This application TLV is enabled", false},
        {"DCBX/ApplicationTLVGroups/OperationalTLVSettings/Error", "Yes", HM_PROP_READONLY, "This property indicates an error", false},
    };
    std::vector<HmNode *> seen;
    for (const Case &c : cases) {
        HmNode *n = at(p, c.path, HM_KIND_PROPERTY);
        ASSERT_NE(n, nullptr) << c.path;
        for (HmNode *s : seen)
            EXPECT_NE(s, n) << c.path;
        seen.push_back(n);
        const HmProperty *prop = HM_PROPERTY(n);
        EXPECT_STREQ(prop->value, c.value) << c.path;
        EXPECT_EQ(prop->flags, c.access) << c.path;
        EXPECT_EQ(std::string(n->description).rfind(c.description_start, 0), 0u) << c.path << ": " << n->description;
        EXPECT_EQ(prop->handler == handle_internal_property, c.cached) << c.path;
    }
}

// Instance bitmaps as the documented slices: functions by controller x 4 +
// port, protocols by controller x 100 + profile; the active and configured
// ports are numbered apart.
TEST_F(PortIscsiKinds, ProfileSlicesAndIndependentPortNumbering)
{
    HmNode *ks0 = ks(), *ks1 = ks();
    ASSERT_TRUE(ks0 && ks1);
    HmNode *configured = at(ks1, "ProfileManagement/ConfiguredProfile", HM_KIND_GROUP);
    HmNode *active = at(ks1, "ProfileManagement/ActiveProfile", HM_KIND_GROUP);
    HmNode *cport0 = initialize_ConfiguredProfile_Port(configured, nullptr, nullptr, nullptr);
    HmNode *cport1 = initialize_ConfiguredProfile_Port(configured, nullptr, nullptr, nullptr);
    HmNode *aport0 = initialize_ActiveProfile_Port(active, nullptr, nullptr, nullptr);
    ASSERT_TRUE(cport0 && cport1 && aport0);
    EXPECT_EQ(instance_number(aport0), 0) << "active ports number apart from the configured ones";
    EXPECT_EQ(kind_ConfiguredProfile_Port.bitmap[1], 0x3);
    EXPECT_EQ(kind_ActiveProfile_Port.bitmap[1], 0x1);
    EXPECT_EQ(kind_ConfiguredProfile_Port.bitmap[0], 0);

    struct SliceCase {
        const char *what;
        std::function<HmNode *()> build;
        const schema::SchemaKind &kind;
        u32 slice;
    } cases[] = {
        {"configured function of controller 1 port 1",
         [&] { return initialize_ConfiguredProfile_Port_Function(cport1, nullptr, nullptr, nullptr); },
         kind_ConfiguredProfile_Port_Function, 1 * 4 + 1},
        {"active function of controller 1 port 0",
         [&] { return initialize_ActiveProfile_Port_Function(aport0, nullptr, nullptr, nullptr); },
         kind_ActiveProfile_Port_Function, 1 * 4 + 0},
        {"protocol of controller 1 profile 2",
         [&] {
             HmNode *pm = at(ks1, "ProfileManagement", HM_KIND_GROUP);
             HmNode *profile = nullptr;
             for (int i = 0; i < 3; i++)
                 profile = initialize_Profile(pm, nullptr, nullptr, nullptr);
             return initialize_Profile_Protocol(profile, nullptr, nullptr, nullptr);
         },
         kind_Profile_Protocol, 1 * 100 + 2},
        {"channel of controller 1 port 2",
         [&] {
             HmNode *p = nullptr;
             for (int i = 0; i < 3; i++)
                 p = port(ks1);
             return initialize_Channel(at(p, "ChannelManagement"), nullptr, nullptr, nullptr);
         },
         kind_Channel, 1 * 4 + 2},
    };
    for (const SliceCase &c : cases) {
        HmNode *g = c.build();
        ASSERT_NE(g, nullptr) << c.what;
        const u32 bytes = schema::slice_bytes(c.kind.capacity);
        EXPECT_EQ(hm_instance_info(g)->bitmap, c.kind.bitmap + c.slice * bytes) << c.what;
        EXPECT_EQ(c.kind.bitmap[c.slice * bytes], 0x1) << c.what;
        u32 set = 0;
        for (u32 i = 0; i < c.kind.bitmap_bytes; i++)
            set += c.kind.bitmap[i] != 0;
        EXPECT_EQ(set, 1u) << c.what << ": no other slice touched";
    }
}

TEST_F(PortIscsiKinds, ActionNodesShareThePublishedDescriptors)
{
    HmNode *ks0 = ks(), *ks1 = ks();
    ASSERT_TRUE(ks0 && ks1);
    HmNode *p0 = port(ks0), *p1 = port(ks0), *q0 = port(ks1);
    HmNode *logical = lhba(ks0);
    ASSERT_TRUE(p0 && p1 && q0 && logical);
    HmNode *target = initialize_Target(logical, nullptr, nullptr, nullptr);
    HmNode *stp = initialize_SendTargetPortal(at(logical, "Discovery"), nullptr, nullptr, nullptr);
    HmNode *lun = initialize_LUN(target, nullptr, nullptr, nullptr);
    HmNode *channel = initialize_Channel(at(q0, "ChannelManagement"), nullptr, nullptr, nullptr);
    HmNode *pg = initialize_AdministratorPGSetting_PG(pg_setting(p1, "AdministratorPGSetting"), nullptr, nullptr, nullptr);
    ASSERT_TRUE(target && stp && lun && channel && pg);
    const std::string tlv = "DCBX/ApplicationTLVGroups/AdministratorTLVSetting/";
    struct Case {
        const char *action;
        HmAction *descriptor;
        u32 params;
        std::vector<HmNode *> bases;
    } cases[] = {
        {"Beacon", &ROOT_Kalderstone_PortDiscoveryAndConfiguration_Beacon_action, 3, {p0, p1, q0}},
        {"SetPortSpeed", &ROOT_Kalderstone_PortDiscoveryAndConfiguration_SetPortSpeed_action, 3, {p0, q0}},
        {"DumpTransceiverData", &ROOT_Kalderstone_PortDiscoveryAndConfiguration_DumpTransceiverData_action, 1, {p0, q0}},
        {"ErasePortandDiscoveryConfiguration",
         &ROOT_Kalderstone_PortDiscoveryAndConfiguration_ErasePortandDiscoveryConfiguration_action, 0, {p1, q0}},
        {"BaseT10G/SelfTest", &ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_SelfTest_action, 3, {p0, q0}},
        {"BaseT10G/RunTDR", &ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_RunTDR_action, 0, {p0, q0}},
        {"BaseT10G/ClearCounters", &ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_ClearCounters_action, 0, {p1}},
        {"DCBX/ApplicationTLVGroups/AdministratorTLVSetting/AddApplicationTLV",
         &ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_AddApplicationTLV_action,
         4, {p0, q0}},
        {"DCBX/ApplicationTLVGroups/AdministratorTLVSetting/DeleteApplicationTLV",
         &ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_DeleteApplicationTLV_action,
         1, {p1, q0}},
        {"ConfigureQoS", &ROOT_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement_Channel_ConfigureQoS_action, 2,
         {channel}},
        {"ConfigurePGSettings",
         &ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_PriorityGroups_AdministratorPGSetting_PG_ConfigurePGSettings_action,
         2, {pg}},
        {"Discovery/AddSendTargetPortal", &ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Discovery_AddSendTargetPortal_action, 2,
         {logical}},
        {"TargetLoginOptions/Authentication/ConfigureCHAP",
         &ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Target_TargetLoginOptions_Authentication_ConfigureCHAP_action, 6,
         {target}},
        {"SendTargetPortalLoginOptions/Authentication/ConfigureCHAP",
         &ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Discovery_SendTargetPortal_SendTargetPortalLoginOptions_Authentication_ConfigureCHAP_action,
         6, {stp}},
        {"SCSIWrite", &ROOT_Kalderstone_iSCSIPhysicalHBA_LogicalHBA_Target_LUN_SCSIWrite_action, 2, {lun}},
    };
    for (const Case &c : cases) {
        for (HmNode *base : c.bases) {
            HmNode *n = at(base, c.action, HM_KIND_ACTION);
            ASSERT_NE(n, nullptr) << c.action;
            EXPECT_EQ(n->body, c.descriptor) << c.action;
        }
        EXPECT_EQ(c.descriptor->param_count, c.params) << c.action;
        EXPECT_EQ(c.descriptor->global, 0u) << c.action;
        EXPECT_NE(c.descriptor->handler, nullptr) << c.action;
    }
    // Deleting a port leaves the descriptor every other port still uses.
    ASSERT_EQ(delete_node(p0), 0u);
    EXPECT_EQ(ROOT_Kalderstone_PortDiscoveryAndConfiguration_Beacon_action.param_count, 3u);
    EXPECT_STREQ(ROOT_Kalderstone_PortDiscoveryAndConfiguration_Beacon_action.params[2].name, "BeaconState");
}

// Texts that clients may match are kept as they stand, odd spellings and
// blanks included.
TEST_F(PortIscsiKinds, QuotedTextsAreKeptAsTheyStand)
{
    HmNode *controller = ks();
    HmNode *p = port(controller);
    HmNode *logical = lhba(controller);
    ASSERT_TRUE(p && logical);
    HmNode *stp = initialize_SendTargetPortal(at(logical, "Discovery"), nullptr, nullptr, nullptr);
    HmNode *channel = initialize_Channel(at(p, "ChannelManagement"), nullptr, nullptr, nullptr);
    HmNode *link = initialize_LinkConfig(at(controller, "LinkReconfiguration"), nullptr, nullptr, nullptr);
    HmNode *session = initialize_Session(initialize_Target(logical, nullptr, nullptr, nullptr), nullptr, nullptr, nullptr);
    HmNode *conn = initialize_Connection(session, nullptr, nullptr, nullptr);
    HmNode *aport = initialize_ActiveProfile_Port(at(controller, "ProfileManagement/ActiveProfile"), nullptr, nullptr, nullptr);
    ASSERT_TRUE(stp && channel && link && session && conn && aport);
    struct Case {
        HmNode *base;
        const char *path;
        const char *text;
    } cases[] = {
        {p, "LLDP",
         "This group describes the Link Layer Discovery Protocol that allows a network device to advertise it's identity "
         "and capabilities on the local network. To enable LLDP for DCBX, both the Tx and Rx state should be 'enabled'."},
        {p, "LLDP/PeerConfiguration/TTL", " This property indicates the LLDP TTL for peer configuration."},
        {p, "BaseT10G/NVPUsed", "This property specifies the NVPUsed at the time when RunTDR test exectued."},
        {p, "BaseT10G/SelfTestResult",
         "This property specifies the SelfTest result. The possible result values are 0 - Test Successful, 1 - Test "
         "Initialization Failed, 4 - Test Failed. "},
        {p, "BaseT10G/ClearCounters", "This command resets the counter to 0"},
        {p, "RxFlowControl", "This property indicates whether the response to flow control messages is enabled"},
        {p, "FCoELinkSpeed", "This property specifies the link speed for the FCoE function"},
        {p, "DumpTransceiverData", "Dump Transceiver register value."},
        {p, "DCBX/DCBXPortVars/DCBXMode",
         "This property specifies the DCBX exchange between the Quorvantix and a DCBX-enabled switch. The possible modes "
         "are Cisco/Inte/Nuovo(CIN) spec, CEE author's spec, Auto-CEE spec or Auto-IEEE spec. The Auto-IEEE spec is "
         "assumed by default."},
        {p, "DCBX/PFC/PeerPFCSetting/Enabled",
         "The property specifies that the PFC feature is enabled on the peer when set to \"yes\". "},
        {p, "DCBX/PriorityGroups/AdministratorPGSetting/NumPGSupported",
         " This propery specifies the number of PG supported."},
        {p, "DCBX/PriorityGroups/PeerPGSetting/Enabled",
         " This PG feature is enabled on the peer when set to \"yes\" and disabled when  \"no\"."},
        {p, "DCBX/PriorityGroups/AdministratorPGSetting",
         "This group corresponds to parameters set by the administrator. The setting applied may be depend on values "
         "negotiated with the peer based on the settings of the willing, advertise and enabled flags."},
        {p, "DCBX/ApplicationTLVGroups/AdministratorTLVSetting",
         "This group corresponds to parameters set by the administrator. The setting applied may depend on values "
         "negotiated with the peer based on the settings of the willing, advertise and enabled lags."},
        {p, "DCBX/ApplicationTLVGroups/OperationalTLVSettings", "Operational state of the Priority Group Settings."},
        {p, "DCBX/QCN/AdministratorQCNSetting/CNPVBitMap", nullptr},
        {channel, "ConfigureQoS",
         "This command is used to configure the QoS for given channel. All the ORSA clients should taken care of Min and "
         "Max Bandwidths calculations."},
        {link, "LinkConfigDescription",
         "This property contains a 32-byte ascii string describing the attributes of the Link Configuration e.g. 4 x 10 "
         "Gbps SFP+. The string will be null terminated.  Thus the maximum ascii string is 31 characters plus the null "
         "terminator."},
        {stp, "DiscoverTargets", nullptr},
        {conn, "ConnectionNegotiatedLoginOptions/MaxSendDataSegmentLength",
         "This parameter reports the maximum data segment length in bytes a target can receive in an iSCSI PDU."},
        {aport, "MCType", "This property specifies to MCtype per port."},
        {aport, "MaxNICPFCount", "This property specifies Max NIC PF's supported per port."},
        {logical, "iSCSIStatistics/PortalTag",
         "This property indicates the portals aggregation tag when the portal is used as an initiator."},
    };
    for (const Case &c : cases) {
        HmNode *n = at(c.base, c.path);
        ASSERT_NE(n, nullptr) << c.path;
        if (c.text != nullptr) {
            EXPECT_STREQ(n->description, c.text) << c.path;
        }
    }
    EXPECT_NE(std::string(at(p, "DCBX/QCN/AdministratorQCNSetting/CNPVBitMap")->description)
                  .find("The value of CNPVBitMap should same as RocEPriority."),
              std::string::npos);
    EXPECT_STREQ(HM_ACTION(at(stp, "DiscoverTargets"))->params[0].description,
                 "This parameter used to discover the address of this named target.");
    EXPECT_STREQ(HM_PROPERTY(at(p, "LLDP/LocalConfiguration/ChassisType"))->list,
                 "Chasis Component,Interface Alias,Port Component,MAC Address,Network Address,Interface Name,Locally "
                 "Assigned,Unknown");
}

// Administrator ApplicationTLV groups made with their creating action carry
// the keys and the next persistency priority; the others stay unkeyed.
TEST_F(PortIscsiKinds, KeyedApplicationTlvIsPersistent)
{
    HmNode *p = port(ks());
    ASSERT_NE(p, nullptr);
    HmNode *admin = tlv_setting(p, "AdministratorTLVSetting");
    HmNode *add = at(admin, "AddApplicationTLV", HM_KIND_ACTION);
    ASSERT_TRUE(admin && add);
    HmValueSlot keys[HM_MAX_PARAMS] = {"1", "3260", "0x10", "6945", "", ""};
    const u32 priority = persistency_priority;
    HmNode *keyed = initialize_AdministratorTLVSetting_ApplicationTLV(admin, admin, add, keys);
    HmNode *plain = initialize_AdministratorTLVSetting_ApplicationTLV(admin, nullptr, nullptr, nullptr);
    ASSERT_TRUE(keyed && plain);
    EXPECT_EQ(HM_GROUP(keyed)->persistency_priority, priority);
    EXPECT_EQ(HM_GROUP(keyed)->key_a, admin);
    EXPECT_EQ(HM_GROUP(keyed)->key_b, add);
    EXPECT_STREQ(HM_GROUP(keyed)->keys[1], "3260");
    EXPECT_EQ(HM_GROUP(plain)->persistency_priority, 0u);
    EXPECT_EQ(instance_number(plain), 1);
}

// A controller with one of every kind below it, as start-up and the
// handlers make them.
bool build_everything(HmNode *controller)
{
    bool ok = true;
    auto need = [&ok](HmNode *n) {
        ok = ok && n != nullptr;
        return n;
    };
    HmNode *phba = need(initialize_iSCSIPhysicalHBA(controller, nullptr, nullptr, nullptr));
    if (!ok)
        return false;
    HmNode *logical = need(initialize_LogicalHBA(phba, nullptr, nullptr, nullptr));
    if (!ok)
        return false;
    need(initialize_SendTargetPortal(at(logical, "Discovery"), nullptr, nullptr, nullptr));
    HmNode *target = need(initialize_Target(logical, nullptr, nullptr, nullptr));
    if (!ok)
        return false;
    need(initialize_LUN(target, nullptr, nullptr, nullptr));
    need(initialize_TargetPortal(target, nullptr, nullptr, nullptr));
    HmNode *session = need(initialize_Session(target, nullptr, nullptr, nullptr));
    if (ok)
        need(initialize_Connection(session, nullptr, nullptr, nullptr));
    need(initialize_iSNSServer(at(phba, "iSNS"), nullptr, nullptr, nullptr));
    need(initialize_ARPTableEntry(at(phba, "Network/TCPIPConfiguration/ARPTable"), nullptr, nullptr, nullptr));
    need(initialize_RouteTableEntry(at(phba, "Network/TCPIPConfiguration/RouteTable"), nullptr, nullptr, nullptr));
    HmNode *nic = need(initialize_NICPhysicalHBA(controller, nullptr, nullptr, nullptr));
    if (ok)
        need(initialize_NICLogicalHBA(nic, nullptr, nullptr, nullptr));
    HmNode *p = need(initialize_PortDiscoveryAndConfiguration(controller, nullptr, nullptr, nullptr));
    if (!ok)
        return false;
    need(initialize_Channel(at(p, "ChannelManagement"), nullptr, nullptr, nullptr));
    need(initialize_AdministratorTLVSetting_ApplicationTLV(at(p, "DCBX/ApplicationTLVGroups/AdministratorTLVSetting"),
                                                           nullptr, nullptr, nullptr));
    need(initialize_PeerTLVSetting_ApplicationTLV(at(p, "DCBX/ApplicationTLVGroups/PeerTLVSetting"), nullptr, nullptr,
                                                  nullptr));
    need(initialize_OperationalTLVSettings_ApplicationTLV(at(p, "DCBX/ApplicationTLVGroups/OperationalTLVSettings"),
                                                          nullptr, nullptr, nullptr));
    need(initialize_AdministratorPGSetting_PG(at(p, "DCBX/PriorityGroups/AdministratorPGSetting"), nullptr, nullptr, nullptr));
    need(initialize_PeerPGSetting_PG(at(p, "DCBX/PriorityGroups/PeerPGSetting"), nullptr, nullptr, nullptr));
    need(initialize_OperationalPGSettings_PG(at(p, "DCBX/PriorityGroups/OperationalPGSettings"), nullptr, nullptr, nullptr));
    HmNode *cport = need(initialize_ConfiguredProfile_Port(at(controller, "ProfileManagement/ConfiguredProfile"), nullptr,
                                                           nullptr, nullptr));
    if (ok)
        need(initialize_ConfiguredProfile_Port_Function(cport, nullptr, nullptr, nullptr));
    HmNode *aport = need(initialize_ActiveProfile_Port(at(controller, "ProfileManagement/ActiveProfile"), nullptr, nullptr,
                                                       nullptr));
    if (ok)
        need(initialize_ActiveProfile_Port_Function(aport, nullptr, nullptr, nullptr));
    HmNode *profile = need(initialize_Profile(at(controller, "ProfileManagement"), nullptr, nullptr, nullptr));
    if (ok)
        need(initialize_Profile_Protocol(profile, nullptr, nullptr, nullptr));
    need(initialize_NCSIStaticConfiguration(at(controller, "NCSI"), nullptr, nullptr, nullptr));
    need(initialize_NCSIDynamicConfiguration(at(controller, "NCSI"), nullptr, nullptr, nullptr));
    need(initialize_LinkConfig(at(controller, "LinkReconfiguration"), nullptr, nullptr, nullptr));
    need(initialize_EventLogEntry(at(controller, "EventLog"), nullptr, nullptr, nullptr));
    HmNode *module = need(initialize_ExtFATModule(at(controller, "ExtFATData"), nullptr, nullptr, nullptr));
    if (ok)
        need(initialize_ExtFATMode(module, nullptr, nullptr, nullptr));
    return ok;
}

TEST_F(PortIscsiKinds, WholeControllerWithEveryKindTearsDownCleanly)
{
    const i32 live = orsa_counter;
    HmNode *controller = ks();
    ASSERT_NE(controller, nullptr);
    ASSERT_TRUE(build_everything(controller));
    // One instance of every kind of the library stands.
    for (size_t k = 0; k < schema::schema_all_kind_count; k++) {
        const schema::SchemaKind *kind = schema::schema_all_kinds[k];
        u32 bits = 0;
        for (u32 i = 0; i < kind->bitmap_bytes; i++)
            bits += __builtin_popcount(kind->bitmap[i]);
        EXPECT_EQ(bits, 1u) << kind->builder;
    }
    ASSERT_EQ(delete_node(controller), 0u);
    EXPECT_EQ(orsa_counter, live);
    EXPECT_EQ(child_count(&ROOT), 3);
    EXPECT_TRUE(all_bitmaps_clear());
}

TEST_F(PortIscsiKinds, FailedAllocationAnywhereInAWholeControllerLeavesNothing)
{
    const i32 live = orsa_counter;
    int failures = 0;
    for (i32 k = 0;; k += 61) {
        HmNode *controller = ks();
        ASSERT_NE(controller, nullptr);
        orsa_dmalloc_fail_countdown = k;
        const bool complete = build_everything(controller);
        const bool injected = orsa_dmalloc_fail_countdown < 0;
        orsa_dmalloc_fail_countdown = -1;
        ASSERT_EQ(delete_node(controller), 0u) << "allocation " << k;
        ASSERT_EQ(orsa_counter, live) << "allocation " << k;
        ASSERT_EQ(child_count(&ROOT), 3) << "allocation " << k;
        ASSERT_TRUE(all_bitmaps_clear()) << "allocation " << k;
        if (!injected) {
            EXPECT_TRUE(complete);
            break;
        }
        EXPECT_FALSE(complete) << "allocation " << k;
        failures++;
        ASSERT_LT(k, 100000);
    }
    EXPECT_GT(failures, 30);
}

// Through the client API: the tree checks a set against the schema before a
// handler runs; unbound handlers then answer not supported.
class PortIscsiApi : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ORSA_init(), 0u); }
    void TearDown() override { EXPECT_EQ(ORSA_exit(), 0u); }
};

TEST_F(PortIscsiApi, SetsAreCheckedAgainstTheSchemaFirst)
{
    HmNode *controller = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    ASSERT_NE(controller, nullptr);
    HmNode *dynamic = initialize_NCSIDynamicConfiguration(at(controller, "NCSI"), nullptr, nullptr, nullptr);
    HmNode *fixed = initialize_NCSIStaticConfiguration(at(controller, "NCSI"), nullptr, nullptr, nullptr);
    HmNode *p = initialize_PortDiscoveryAndConfiguration(controller, nullptr, nullptr, nullptr);
    ASSERT_TRUE(dynamic && fixed && p);
    HmNode *channel = initialize_Channel(at(p, "ChannelManagement"), nullptr, nullptr, nullptr);
    HmNode *session = nullptr;
    {
        HmNode *phba = initialize_iSCSIPhysicalHBA(controller, nullptr, nullptr, nullptr);
        HmNode *logical = initialize_LogicalHBA(phba, nullptr, nullptr, nullptr);
        session = initialize_Session(initialize_Target(logical, nullptr, nullptr, nullptr), nullptr, nullptr, nullptr);
    }
    ASSERT_TRUE(channel && session);
    struct Case {
        HmNode *group;
        const char *property;
        const char *value;
        u32 status;
    } cases[] = {
        {dynamic, "MgmtVLANId", "4096", ORSA_STATUS_OUT_OF_RANGE},
        // 4095 passes the tree and reaches the handler, which refuses while
        // the controller shows NC-SI as not supported.
        {dynamic, "MgmtVLANId", "4095", 145},
        {fixed, "MgmtVLANId", "1", ORSA_STATUS_READ_ONLY},
        {channel, "LPVID", "4095", ORSA_STATUS_OUT_OF_RANGE},
        // A channel of a controller without multichannel refuses the write.
        {channel, "LPVID", "4094", 323},
        {channel, "LogicalLinkState", "enabled", 323},
        {channel, "LogicalLinkState", "On", ORSA_STATUS_INVALID_VALUE},
        {channel, "MinBandWidth", "10", ORSA_STATUS_READ_ONLY},
        // Passes the tree; the boot-session handler then refuses a session
        // of a controller without an adapter behind it.
        {session, "iSCSIBoot", "True", 1},
        {session, "ISID", "1", ORSA_STATUS_READ_ONLY},
        {p, "TXThrottle", "123", ORSA_STATUS_BAD_LENGTH},
    };
    for (const Case &c : cases) {
        HmNode *prop = at(c.group, c.property, HM_KIND_PROPERTY);
        ASSERT_NE(prop, nullptr) << c.property;
        const std::string before = HM_PROPERTY(prop)->value;
        char value[HM_VALUE_SIZE];
        strcpy(value, c.value);
        EXPECT_NE(ORSA_set_property_val(c.group->tag, prop->tag, value, sizeof value), 0u) << c.property;
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE];
        ORSA_get_last_status(&code, text);
        EXPECT_EQ(code, c.status) << c.property << "=" << c.value;
        EXPECT_EQ(before, HM_PROPERTY(prop)->value) << c.property << " keeps its value";
    }
}

}  // namespace

namespace {

// Every builder of the tree with its capacity and the number of parent
// slices its bitmap reserves: the product of the capacities of the instance
// groups above its parent.
TEST(SchemaKindList, EveryBuilderWithItsCapacityAndSlices)
{
    struct Case {
        const char *builder;
        u32 capacity;
        u32 slices;
    } cases[] = {
        {"initialize_Kalderstone", 16, 1},
        {"initialize_iSCSIPhysicalHBA", 8, 16},
        {"initialize_LogicalHBA", 1, 16 * 8},
        {"initialize_SendTargetPortal", 128, 16 * 8},
        {"initialize_Target", 256, 16 * 8},
        {"initialize_LUN", 256, 16 * 8 * 256},
        {"initialize_Session", 64, 16 * 8 * 256},
        {"initialize_Connection", 1, 16 * 8 * 256 * 64},
        {"initialize_TargetPortal", 64, 16 * 8 * 256},
        {"initialize_iSNSServer", 4, 16 * 8},
        {"initialize_ARPTableEntry", 64, 16 * 8},
        {"initialize_RouteTableEntry", 1024, 16 * 8},
        {"initialize_NICPhysicalHBA", 32, 16},
        {"initialize_NICLogicalHBA", 64, 16 * 32},
        {"initialize_PortDiscoveryAndConfiguration", 4, 16},
        {"initialize_OperationalTLVSettings_ApplicationTLV", 15, 16 * 4},
        {"initialize_PeerTLVSetting_ApplicationTLV", 15, 16 * 4},
        {"initialize_AdministratorTLVSetting_ApplicationTLV", 15, 16 * 4},
        {"initialize_OperationalPGSettings_PG", 8, 16 * 4},
        {"initialize_PeerPGSetting_PG", 8, 16 * 4},
        {"initialize_AdministratorPGSetting_PG", 8, 16 * 4},
        {"initialize_Channel", 16, 16 * 4},
        {"initialize_EventLogEntry", 1024, 16},
        {"initialize_ExtFATModule", 64, 16},
        {"initialize_ExtFATMode", 2, 16 * 64},
        {"initialize_NCSIDynamicConfiguration", 1, 16},
        {"initialize_NCSIStaticConfiguration", 1, 16},
        {"initialize_ConfiguredProfile_Port", 4, 16},
        {"initialize_ConfiguredProfile_Port_Function", 64, 16 * 4},
        {"initialize_ActiveProfile_Port", 4, 16},
        {"initialize_ActiveProfile_Port_Function", 64, 16 * 4},
        {"initialize_Profile", 100, 16},
        {"initialize_Profile_Protocol", 8, 16 * 100},
        {"initialize_LinkConfig", 32, 16},
    };
    ASSERT_EQ(schema::schema_all_kind_count, sizeof(cases) / sizeof(cases[0]));
    for (const Case &c : cases) {
        const schema::SchemaKind *found = nullptr;
        for (size_t k = 0; k < schema::schema_all_kind_count; k++)
            if (strcmp(schema::schema_all_kinds[k]->builder, c.builder) == 0) {
                EXPECT_EQ(found, nullptr) << c.builder << " listed twice";
                found = schema::schema_all_kinds[k];
            }
        ASSERT_NE(found, nullptr) << c.builder;
        EXPECT_EQ(found->capacity, c.capacity) << c.builder;
        EXPECT_EQ(found->bitmap_bytes, c.slices * schema::slice_bytes(c.capacity)) << c.builder;
    }
}

}  // namespace

// The controller, physical/logical HBA and log kinds as built: every child
// with its fields against the documented schema, the capacities, texts that
// clients may depend on, and a whole controller built and taken down.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "expected_kinds.h"
#include "schema/kind_table.h"
#include "schema_test_util.h"

extern HmAction ROOT_Kalderstone_Diagnostics_NetworkLoopBackTest_action;
extern HmAction ROOT_Kalderstone_UpgradeFlashROM_action;
extern HmAction ROOT_Kalderstone_ProfileManagement_ConfiguredProfile_SetMaxFunctionNumber_action;
extern HmAction ROOT_Kalderstone_iSCSIPhysicalHBA_Network_TCPIPConfiguration_RouteTable_AddRouteTableEntry_action;
extern HmAction ROOT_Kalderstone_NICPhysicalHBA_NetworkBootConfiguration_SetNetworkBoot_action;
extern HmAction ROOT_Kalderstone_NICPhysicalHBA_ResetMACAddress_action;

namespace {

class SchemaKinds : public TreeTest {
protected:
    HmNode *controller()
    {
        HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
        EXPECT_NE(ks, nullptr);
        return ks;
    }
};

TEST_F(SchemaKinds, EachKindIsBuiltAsDocumented)
{
    HmNode *ks = controller();
    ASSERT_NE(ks, nullptr);
    // Made after the controller was compared, which has no instances yet.
    HmNode *nic = nullptr, *module = nullptr;

    struct Case {
        const char *kind;
        std::function<HmNode *()> build;
        const char *expected;
        const char *description;
    } cases[] = {
        {"Kalderstone", [&] { return ks; }, kExpectedKalderstone,
         "This group instance corresponds to a single Quorvantix controller in this host."},
        {"iSCSIPhysicalHBA", [&] { return initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr); },
         kExpectediSCSIPhysicalHBA,
         "This group represents properties of the Quorvantix controller instance under this domain."},
        {"NICPhysicalHBA", [&] { return nic = initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr); },
         kExpectedNICPhysicalHBA,
         "This group represents the Physical HBA group that contains the properties of the NIC interface for "
         "this domain of the Quorvantix controller."},
        {"NICLogicalHBA", [&] { return initialize_NICLogicalHBA(nic, nullptr, nullptr, nullptr); },
         kExpectedNICLogicalHBA,
         "This group specifies virtual functions of respective NICPhysicalHBA. This group and its properties are "
         "applicable only on hypervisors which support SR-IOV."},
        {"EventLogEntry", [&] { return initialize_EventLogEntry(at(ks, "EventLog"), nullptr, nullptr, nullptr); },
         kExpectedEventLogEntry, nullptr},
        {"ExtFATModule", [&] { return module = initialize_ExtFATModule(at(ks, "ExtFATData"), nullptr, nullptr, nullptr); },
         kExpectedExtFATModule,
         "This group contains the Quorvantix ARM fimrware FAT modules entries."},
        {"ExtFATMode", [&] { return initialize_ExtFATMode(module, nullptr, nullptr, nullptr); }, kExpectedExtFATMode,
         "This group contains the Quorvantix ARM fimrware FAT mode entries."},
    };
    for (const Case &c : cases)
        expect_fresh_instance(c.build(), c.kind, c.description, c.expected);
}

// Texts quoted by the schema that clients may match on, odd spellings and
// blanks included.
TEST_F(SchemaKinds, QuotedTextsAreKeptAsTheyStand)
{
    HmNode *ks = controller();
    HmNode *iscsi = initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr);
    HmNode *nic = initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr);
    ASSERT_TRUE(ks && iscsi && nic);
    struct Case {
        HmNode *base;
        const char *path;
        const char *text;
    } cases[] = {
        {ks, "FRUVPD", "This group contains the FRU Vital Product Data (VPD). Because of ORSA size limitations, this "
                       "data is separated into segments designated by FRUVPDdata0 - FRUVPDdata8 properties."},
        {ks, "NICCIM/ControllerType", "This property specifies the  type or model of the port controller."},
        {ks, "NCSI", "NCSI Group."},
        {ks, "PHYConfigurationId", "This property specifies the PHYCRC of the Quorvantix controller."},
        {ks, "ProfileManagement/ConfiguredProfile/SettableMaxFunctionNumber",
         "This property represents MaxFunctionNumber can be changed."},
        {ks, "ExtFATData/SetDefaultLoggingConfiguration",
         "This command set the current configuration to defaults configuration."},
        {ks, "EventLog/RefreshEventLog", "This command retrieves the current event log entries from the Quorvantix firmware."},
        {ks, "Diagnostics", "This group represents all the actions required to perform diagnostics on this HBA."},
        {iscsi, "Network/TCPIPConfiguration/DHCPDisable", "This command will diasble the DHCP configuration."},
        {iscsi, "Network/TCPIPConfiguration/ConfigureVLAN", " This command is used to enable VLAN."},
        {iscsi, "Network/TCPIPConfiguration/VLANDisable", " This command is used to disable VLAN."},
        {iscsi, "Network/TCPIPConfiguration/IPv6Configuration/ConfigureIPv6Address",
         " This command is used to configure IPv6 Address. "},
        {iscsi, "Network/TCPIPConfiguration/DefaultGateway",
         "The Default Gateway must be in the same subnet as the IPaddress of this initiator port."},
        {iscsi, "Network/NICConfiguration/MACAddress", "This property displays the current MAC Address of the iSCSI  port."},
        {iscsi, "Driver", "This group contains information about the host operating system's Quorvantix iSCSI initiator driver."},
        {iscsi, "iSNS", "This group stores the iSNS discovery parameters."},
        {nic, "PermanentMACAddress", "This property specifies the Permanent Orverride MAC address for this NIC interface."},
        {nic, "NetworkBootConfiguration/ConfigureVLAN", " This command is used to enable VLAN."},
        {nic, "CIM/EnabledCapabilities",
         "This property specifies which capabilities are enabled from the list of all supported Capabilities"},
        {nic, "Driver", "This group corresponds to information about the iSCSI initiator driver."},
    };
    for (const Case &c : cases) {
        HmNode *n = at(c.base, c.path);
        ASSERT_NE(n, nullptr) << c.path;
        EXPECT_STREQ(n->description, c.text) << c.path;
    }
}

TEST_F(SchemaKinds, ActionNodesShareTheirNamedDescriptors)
{
    HmNode *ks = controller();
    HmNode *iscsi = initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr);
    HmNode *nic = initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr);
    HmNode *ks1 = controller();
    ASSERT_TRUE(ks && iscsi && nic && ks1);
    struct Case {
        HmNode *base;
        const char *path;
        HmAction *descriptor;
    } cases[] = {
        {ks, "Diagnostics/NetworkLoopBackTest", &ROOT_Kalderstone_Diagnostics_NetworkLoopBackTest_action},
        {ks1, "Diagnostics/NetworkLoopBackTest", &ROOT_Kalderstone_Diagnostics_NetworkLoopBackTest_action},
        {ks, "UpgradeFlashROM", &ROOT_Kalderstone_UpgradeFlashROM_action},
        {ks, "ProfileManagement/ConfiguredProfile/SetMaxFunctionNumber",
         &ROOT_Kalderstone_ProfileManagement_ConfiguredProfile_SetMaxFunctionNumber_action},
        {iscsi, "Network/TCPIPConfiguration/RouteTable/AddRouteTableEntry",
         &ROOT_Kalderstone_iSCSIPhysicalHBA_Network_TCPIPConfiguration_RouteTable_AddRouteTableEntry_action},
        {nic, "NetworkBootConfiguration/SetNetworkBoot",
         &ROOT_Kalderstone_NICPhysicalHBA_NetworkBootConfiguration_SetNetworkBoot_action},
        {nic, "ResetMACAddress", &ROOT_Kalderstone_NICPhysicalHBA_ResetMACAddress_action},
    };
    for (const Case &c : cases) {
        HmNode *n = at(c.base, c.path, HM_KIND_ACTION);
        ASSERT_NE(n, nullptr) << c.path;
        EXPECT_EQ(n->body, c.descriptor) << c.path;
        EXPECT_EQ(c.descriptor->global, 0u) << c.path;
    }
}

// Group refresh handlers named for these kinds (group_NICPhysicalHBA,
// group_iSNS) belong to later subsystems; until they land the groups have
// none, and the static subgroups of the controller never have one.
TEST_F(SchemaKinds, RefreshHandlersOnlyWhereNamed)
{
    HmNode *ks = controller();
    ASSERT_NE(ks, nullptr);
    EXPECT_EQ(HM_GROUP(ks)->refresh_handler, nullptr);
    for (const char *g : {"LinkReconfiguration", "FRUVPD", "ChannelManagement", "ProfileManagement", "NICCIM",
                          "Personality", "OEM", "NCSI", "ExtFATData", "EventLog", "FATData", "Diagnostics"}) {
        HmNode *n = at(ks, g, HM_KIND_GROUP);
        ASSERT_NE(n, nullptr) << g;
        EXPECT_EQ(HM_GROUP(n)->refresh_handler, nullptr) << g;
        EXPECT_EQ(hm_instance_info(n), nullptr) << g;
    }
}

TEST_F(SchemaKinds, CapacityPerParentIsEnforced)
{
    CapacityCase cases[] = {
        {"iSCSIPhysicalHBA", initialize_iSCSIPhysicalHBA, 8, [](HmNode *ks) { return ks; },
         [](HmNode *) { return initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr); }},
        {"NICPhysicalHBA", initialize_NICPhysicalHBA, 32, [](HmNode *ks) { return ks; },
         [](HmNode *) { return initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr); }},
        {"NICLogicalHBA", initialize_NICLogicalHBA, 64,
         [](HmNode *ks) { return initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr); },
         [](HmNode *ks) { return initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr); }},
        {"EventLogEntry", initialize_EventLogEntry, 1024, [](HmNode *ks) { return at(ks, "EventLog"); },
         [](HmNode *) { return at(initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr), "EventLog"); }},
        {"ExtFATModule", initialize_ExtFATModule, 64, [](HmNode *ks) { return at(ks, "ExtFATData"); },
         [](HmNode *) { return at(initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr), "ExtFATData"); }},
        {"ExtFATMode", initialize_ExtFATMode, 2,
         [](HmNode *ks) { return initialize_ExtFATModule(at(ks, "ExtFATData"), nullptr, nullptr, nullptr); },
         [](HmNode *ks) { return initialize_ExtFATModule(at(ks, "ExtFATData"), nullptr, nullptr, nullptr); }},
    };
    for (const CapacityCase &c : cases)
        check_capacity(c);
}

TEST_F(SchemaKinds, SeventeenthControllerIsRefused)
{
    for (int i = 0; i < 16; i++) {
        HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
        ASSERT_NE(ks, nullptr) << i;
        EXPECT_EQ(instance_number(ks), i);
    }
    const int children = child_count(&ROOT);
    const i32 live = orsa_counter;
    EXPECT_EQ(initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(child_count(&ROOT), children);
    EXPECT_EQ(orsa_counter, live);
    EXPECT_NE(at(&ROOT, "Kalderstone15", HM_KIND_GROUP), nullptr);
    EXPECT_EQ(at(&ROOT, "Kalderstone16", HM_KIND_GROUP), nullptr);
}

// A controller as discovery makes it: two iSCSI and two NIC functions, two
// VFs on each NIC function, extended-log modules with their modes and some
// event entries. Taking it down returns every allocation and every bit.
TEST_F(SchemaKinds, WholeControllerBuildsAndTearsDownCleanly)
{
    const i32 live = orsa_counter;
    HmNode *ks = controller();
    ASSERT_NE(ks, nullptr);
    for (int i = 0; i < 2; i++)
        ASSERT_NE(initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr), nullptr);
    for (int i = 0; i < 2; i++) {
        HmNode *nic = initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr);
        ASSERT_NE(nic, nullptr);
        for (int v = 0; v < 2; v++)
            ASSERT_NE(initialize_NICLogicalHBA(nic, nullptr, nullptr, nullptr), nullptr);
    }
    for (int m = 0; m < 3; m++) {
        HmNode *module = initialize_ExtFATModule(at(ks, "ExtFATData"), nullptr, nullptr, nullptr);
        ASSERT_NE(module, nullptr);
        ASSERT_NE(initialize_ExtFATMode(module, nullptr, nullptr, nullptr), nullptr);
        ASSERT_NE(initialize_ExtFATMode(module, nullptr, nullptr, nullptr), nullptr);
    }
    for (int e = 0; e < 5; e++)
        ASSERT_NE(initialize_EventLogEntry(at(ks, "EventLog"), nullptr, nullptr, nullptr), nullptr);

    EXPECT_NE(at(ks, "NICPhysicalHBA1/NICLogicalHBA1/TxRate", HM_KIND_PROPERTY), nullptr);
    EXPECT_NE(at(ks, "iSCSIPhysicalHBA1/Network/TCPIPConfiguration/IPv6Configuration", HM_KIND_GROUP), nullptr);
    EXPECT_NE(at(ks, "ExtFATData/ExtFATModule2/ExtFATMode1/TraceLevel", HM_KIND_PROPERTY), nullptr);
    // Logical HBAs are numbered per physical HBA: NICPhysicalHBA1's slice is
    // the second of controller 0.
    EXPECT_EQ(kind_NICLogicalHBA.bitmap[0], 0x3);
    EXPECT_EQ(kind_NICLogicalHBA.bitmap[8], 0x3);
    EXPECT_GT(orsa_counter - live, 300);

    const u32 tag = ks->tag;
    ASSERT_EQ(delete_node(ks), 0u);
    EXPECT_EQ(orsa_counter, live);
    EXPECT_EQ(child_count(&ROOT), 3) << "only the three built-in properties remain";
    for (size_t k = 0; k < schema::schema_all_kind_count; k++) {
        const schema::SchemaKind *kind = schema::schema_all_kinds[k];
        for (u32 i = 0; i < kind->bitmap_bytes; i++)
            ASSERT_EQ(kind->bitmap[i], 0) << kind->group_name << " byte " << i;
    }
    // The tags come free again: the next controller gets the same tag and number 0.
    HmNode *again = controller();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->tag, tag);
    EXPECT_EQ(instance_number(again), 0);
}

// Any allocation of a controller build may fail: none may leak or leave a bit.
TEST_F(SchemaKinds, ControllerBuildFailureAtAnyAllocationLeavesNothing)
{
    HmNode *ks0 = controller();
    ASSERT_NE(ks0, nullptr);
    int failures = 0;
    for (i32 k = 0;; k += 7) {
        const u8 bits0 = kind_Kalderstone.bitmap[0], bits1 = kind_Kalderstone.bitmap[1];
        const int children = child_count(&ROOT);
        const i32 live = orsa_counter;
        orsa_dmalloc_fail_countdown = k;
        HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
        orsa_dmalloc_fail_countdown = -1;
        if (ks != nullptr)
            break;
        failures++;
        ASSERT_EQ(kind_Kalderstone.bitmap[0], bits0) << "allocation " << k;
        ASSERT_EQ(kind_Kalderstone.bitmap[1], bits1) << "allocation " << k;
        ASSERT_EQ(child_count(&ROOT), children) << "allocation " << k;
        ASSERT_EQ(orsa_counter, live) << "allocation " << k;
        ASSERT_LT(k, 5000);
    }
    EXPECT_GT(failures, 50);
}

// Every text of every table fits the field the tree stores it in, every
// property is exactly read-only or writable, nesting is balanced.
// Read-only properties whose stored minimum lies above their maximum.
bool kept_inverted_bounds(const char *kind, const char *name)
{
    static const char *const counters[] = {
        "SessionDigestErrors", "SessionConnectionTimeout", "SessionFormatErrors", "LoginFailures",
        "LoginAcceptRsps", "LoginOtherFailRsps", "LoginRedirectRsps", "LoginAuthFailRsps",
        "LoginAuthFails", "LoginNegoFails", "LogoutNormals", "LogoutOthers",
    };
    if (strcmp(kind, "LogicalHBA") == 0)
        for (const char *c : counters)
            if (strcmp(name, c) == 0)
                return true;
    return strcmp(kind, "Session") == 0 && strcmp(name, "MaxOutstandingR2T") == 0;
}

TEST(SchemaKindTables, TextsFitTheirFieldsAndRowsAreWellFormed)
{
    int inverted = 0;
    for (size_t k = 0; k < schema::schema_all_kind_count; k++) {
        schema::SchemaKind *kind = schema::schema_all_kinds[k];
        int depth = 0;
        for (u32 i = 0; i < kind->row_count; i++) {
            const schema::SchemaRow &r = kind->rows[i];
            const std::string where = std::string(kind->group_name) + " row " + std::to_string(i);
            if (r.row == schema::Row::End) {
                EXPECT_GT(depth--, 0) << where;
                continue;
            }
            ASSERT_NE(r.name, nullptr) << where;
            EXPECT_LT(strlen(r.name), (size_t)HM_NAME_SIZE) << where;
            ASSERT_NE(r.description, nullptr) << where;
            EXPECT_LT(strlen(r.description), (size_t)HM_DESCRIPTION_SIZE) << where;
            if (r.row == schema::Row::Group)
                depth++;
            if (r.row == schema::Row::Property) {
                EXPECT_TRUE(r.access == HM_PROP_READONLY || r.access == HM_PROP_WRITABLE) << where;
                EXPECT_LT(strlen(r.def), (size_t)HM_VALUE_SIZE) << where;
                EXPECT_LT(strlen(r.allowed), (size_t)HM_LIST_SIZE) << where;
                EXPECT_NE(r.handler, nullptr) << where << ": every property names its handler";
                if (r.min > r.max) {
                    // Kept as clients have always read them; a set never
                    // meets them because the property is read-only.
                    EXPECT_TRUE(kept_inverted_bounds(kind->group_name, r.name)) << where << " " << r.name;
                    EXPECT_EQ(r.access, (u32)HM_PROP_READONLY) << where << " " << r.name;
                    inverted++;
                }
            }
            if (r.row == schema::Row::Action) {
                const schema::SchemaActionSpec *a = r.action;
                EXPECT_LE(a->param_count, (u32)HM_MAX_PARAMS) << where;
                EXPECT_NE(a->handler, nullptr) << where;
                for (u32 p = 0; p < a->param_count; p++) {
                    EXPECT_LT(strlen(a->params[p].name), (size_t)HM_NAME_SIZE) << where;
                    EXPECT_LT(strlen(a->params[p].description), (size_t)HM_DESCRIPTION_SIZE) << where;
                    EXPECT_GT(strlen(a->params[p].description), 0u) << where;
                    EXPECT_LT(strlen(a->params[p].allowed), (size_t)HM_LIST_SIZE) << where;
                }
            }
        }
        EXPECT_EQ(depth, 0) << kind->group_name;
        EXPECT_LE(kind->capacity, 1024) << kind->group_name;
    }
    EXPECT_EQ(inverted, 13) << "every kept pair of inverted bounds, and no other";
}

}  // namespace

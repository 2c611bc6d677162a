// The built groups as a client sees them through the ORSA_ API: defaults,
// parameter descriptors, the tree's checks against the schema's bounds and
// lists, and the answer of handlers that have not landed yet.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "schema/kind_table.h"
#include "schema_test_util.h"
#include "tree/orsa_api.h"

namespace {

// A crate whose Fill action makes Count items below it, as the actions of
// later subsystems make their groups for a client.
SCHEMA_DESCRIPTOR(TEST_Crate_Fill, "do_TestFill", 1,
                  SCHEMA_PARAM(1, "Count", T_INTEGER, 1, 9, "", "How many items to make."));
schema::SchemaRow crate_rows[] = {
    SCHEMA_ACTION("Fill", "Fills the crate.", TEST_Crate_Fill_spec),
};
SCHEMA_KIND(kind_Crate, "initialize_Crate", "Crate", "A crate.", 1, 1, nullptr, crate_rows);
schema::SchemaRow item_rows[] = {
    SCHEMA_PROP("Label", RO, T_STRING, 0, 8, "none", "", "handle_internal_property", "Label."),
};
SCHEMA_KIND(kind_Item, "initialize_Item", "Item", "An item.", 4, 1, nullptr, item_rows);

u32 do_TestFill(HmNode *group, HmNode *action, HmValueSlot *params)
{
    for (int i = 0; i < atoi(params[0]); i++)
        if (schema::schema_build_instance(&kind_Item, group, group, action, params) == nullptr)
            return orsa_set_status(ORSA_STATUS_NO_MEMORY);
    return 0;
}

class SchemaApi : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ORSA_init(), 0u);
        ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
        ASSERT_NE(ks, nullptr);
        iscsi = initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr);
        nic = initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr);
        ASSERT_TRUE(iscsi && nic);
        vf = initialize_NICLogicalHBA(nic, nullptr, nullptr, nullptr);
        entry = initialize_EventLogEntry(at(ks, "EventLog"), nullptr, nullptr, nullptr);
        mode = initialize_ExtFATMode(initialize_ExtFATModule(at(ks, "ExtFATData"), nullptr, nullptr, nullptr),
                                     nullptr, nullptr, nullptr);
        ASSERT_TRUE(vf && entry && mode);
    }
    void TearDown() override { EXPECT_EQ(ORSA_exit(), 0u); }

    // Tag of a node found by walking labels with ORSA_get_node_tag.
    /* What a read answers: 259 from a stand-in of a handler that has not
     * landed, else 0. */
    static u32 read_answer(u32 property_tag)
    {
        HmNode *p = get_node((i32)property_tag);
        bool standin = p != nullptr && HM_PROPERTY(p)->handler == schema::schema_unbound_property;
        return standin ? (u32)ORSA_STATUS_NOT_SUPPORTED : 0u;
    }
    u32 tag_of(HmNode *base, const std::string &path, u32 kind)
    {
        u32 t = base->tag;
        size_t start = 0;
        for (;;) {
            size_t slash = path.find('/', start);
            std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            bool last = slash == std::string::npos;
            u32 next = 0;
            EXPECT_EQ(ORSA_get_node_tag(t, part.c_str(), &next, last ? kind : (u32)HM_KIND_GROUP), 0u) << path;
            t = next;
            if (last)
                return t;
            start = slash + 1;
        }
    }

    u32 last_code()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE];
        ORSA_get_last_status(&code, text);
        return code;
    }

public:
    HmNode *ks = nullptr, *iscsi = nullptr, *nic = nullptr, *vf = nullptr, *entry = nullptr, *mode = nullptr;
};

TEST_F(SchemaApi, FreshGroupsReadTheirDefaults)
{
    struct Case {
        HmNode *SchemaApi::*base;
        const char *group; // "" = the instance group itself
        const char *property;
        const char *value;
        // The handler asks the adapter, which this tree has not: only the
        // stored default is looked at.
        bool needs_adapter = false;
    } cases[] = {
        {&SchemaApi::ks, "", "ModelNumber", "1"},
        {&SchemaApi::ks, "", "FirmwareStatus", "Unknown"},
        {&SchemaApi::ks, "", "FCoEx86BIOSVersion", ""},
        {&SchemaApi::ks, "NCSI", "NCSISupport", "Not Supported", true},
        {&SchemaApi::ks, "ChannelManagement", "SupportedMCTypes", "N/A"},
        {&SchemaApi::ks, "ChannelManagement", "CurrentManagementType", "N/A"},
        {&SchemaApi::ks, "ChannelManagement", "ConfiguredManagementType", "N/A"},
        {&SchemaApi::ks, "", "AdvancedMode", "Enabled", true},
        {&SchemaApi::ks, "Diagnostics", "IsLoopbackSupported", "True"},
        {&SchemaApi::ks, "ProfileManagement/ActiveProfile", "ProfileId", "0"},
        {&SchemaApi::iscsi, "Network/NICConfiguration", "PortSpeed", "0 (Link Down)"},
        {&SchemaApi::iscsi, "Network/TCPIPConfiguration/IPv6Configuration", "IPv6State", "N/A", true},
        {&SchemaApi::iscsi, "Network/NICConfiguration", "MACAddress", "00:00:00:00:00:00", true},
        {&SchemaApi::iscsi, "Driver", "DriverName", "SORBLOCK"},
        {&SchemaApi::iscsi, "VPD", "VPDData8", ""},
        {&SchemaApi::nic, "", "LogicalLinkStatus", "Unknown"},
        {&SchemaApi::nic, "", "PortSpeed", "0 (Link Down)"},
        {&SchemaApi::nic, "", "IsVF", "False"},
        {&SchemaApi::nic, "Driver", "DriverName", "SORNIC"},
        {&SchemaApi::nic, "PCI", "DomainNumber", "0000"},
        {&SchemaApi::nic, "vNIC", "vNICEnabled", "False"},
        {&SchemaApi::vf, "", "TxRate", "100", true},
        {&SchemaApi::entry, "", "Severity", "Unknown"},
        {&SchemaApi::entry, "", "Description", "0"},
        {&SchemaApi::mode, "", "Mode", "UART"},
    };
    for (const Case &c : cases) {
        HmNode *base = this->*c.base;
        u32 group = c.group[0] != '\0' ? tag_of(base, c.group, HM_KIND_GROUP) : base->tag;
        u32 prop = 0;
        ASSERT_EQ(ORSA_get_node_tag(group, c.property, &prop, HM_KIND_PROPERTY), 0u) << c.property;
        if (c.needs_adapter) {
            EXPECT_STREQ(HM_PROPERTY(get_node((i32)prop))->value, c.value) << c.group << "/" << c.property;
            continue;
        }
        char value[HM_VALUE_SIZE] = "garbage";
        /* a property whose handler has not landed says so, and shows its default */
        u32 want = read_answer(prop);
        EXPECT_EQ(ORSA_get_property_val(group, prop, value, sizeof value), want) << c.group << "/" << c.property;
        EXPECT_EQ(last_code(), want) << c.group << "/" << c.property;
        EXPECT_STREQ(value, c.value) << c.group << "/" << c.property;
    }
}

TEST_F(SchemaApi, ParameterInfoComesFromTheSharedDescriptor)
{
    HmParamInfo info;
    memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(ORSA_get_param_info(tag_of(ks, "Diagnostics/NetworkLoopBackTest", HM_KIND_ACTION), &info), 0u);
    ASSERT_EQ(info.param_count, 6u);
    const char *names[] = {"Pattern", "ByteCount", "LoopCount", "SourcePortNumber", "DestinationPortNumber",
                           "LoopbackType"};
    for (int i = 0; i < 6; i++) {
        EXPECT_STREQ(info.params[i].name, names[i]);
        EXPECT_EQ(info.params[i].required, 1);
        EXPECT_GT(strlen(info.params[i].description), 0u);
    }
    EXPECT_EQ(info.params[1].type, HM_TYPE_INTEGER);
    EXPECT_EQ(info.params[1].min, 1500);
    EXPECT_EQ(info.params[1].max, 8192);
    EXPECT_EQ(info.params[5].type, HM_TYPE_LIST);
    EXPECT_STREQ(info.params[5].list, "MacLoopBack,PhyLoopBack,OnePortLoopBack,TwoPortLoopBack");

    ASSERT_EQ(ORSA_get_param_info(tag_of(iscsi, "iSNS/ConfigureiSNSServer", HM_KIND_ACTION), &info), 0u);
    ASSERT_EQ(info.param_count, 2u);
    EXPECT_EQ(info.params[0].type, HM_TYPE_IPADDR);
    EXPECT_EQ(info.params[1].required, 0);
    EXPECT_EQ(info.params[1].min, 1024);
    EXPECT_EQ(info.params[1].max, 65535);
}

// The tree checks values against the schema's bounds and lists before any
// handler runs; what passes reaches a handler that has not landed yet and
// answers "not supported", leaving the stored value alone.
TEST_F(SchemaApi, TreeChecksUseTheSchemaAndUnboundHandlersSayNotSupported)
{
    struct ActionCase {
        const char *what;
        HmNode *SchemaApi::*base;
        const char *path;
        std::vector<const char *> params; // nullptr = not given
        u32 rc;
        u32 status;
    } actions[] = {
        {"ByteCount below 1500", &SchemaApi::ks, "Diagnostics/NetworkLoopBackTest",
         {"a5a5a5a5", "1499", "1", "0", "0", "MacLoopBack"}, 1, ORSA_STATUS_OUT_OF_RANGE},
        {"DMA ByteCount below 64", &SchemaApi::ks, "Diagnostics/HostToDDRDMATest", {"a5a5a5a5", "63", "1"}, 1,
         ORSA_STATUS_OUT_OF_RANGE},
        {"TraceLevel not in the list", &SchemaApi::ks, "ExtFATData/EnableLoggingOnAllModules",
         {"2", nullptr, nullptr}, 1, ORSA_STATUS_INVALID_VALUE},
        {"ProfileId 0", &SchemaApi::ks, "ProfileManagement/SetProfileId", {"0"}, 1, ORSA_STATUS_OUT_OF_RANGE},
        {"missing required", &SchemaApi::ks, "UpgradeFlashROM", {nullptr}, 1, ORSA_STATUS_PARAM_MISSING},
        {"valid parameters", &SchemaApi::iscsi, "Network/TCPIPConfiguration/RouteTable/AddRouteTableEntry",
         {"192.0.2.0", "255.255.255.0", "192.0.2.1"}, ORSA_STATUS_NOT_SUPPORTED, ORSA_STATUS_NOT_SUPPORTED},
        // Passes the tree's checks and reaches its handler, which refuses a
        // change while SettableMaxFunctionNumber still reads "No".
        {"optional not given", &SchemaApi::ks, "ProfileManagement/ConfiguredProfile/SetMaxFunctionNumber",
         {nullptr}, 1, 316},
        {"no parameters", &SchemaApi::iscsi, "Network/TCPIPConfiguration/RouteTable/RefreshRouteTableEntry", {},
         ORSA_STATUS_NOT_SUPPORTED, ORSA_STATUS_NOT_SUPPORTED},
        {"NIC action, required not given", &SchemaApi::nic, "NetworkBootConfiguration/SetNetworkBoot", {nullptr, "PXE"},
         1, ORSA_STATUS_PARAM_MISSING},
    };
    for (const ActionCase &c : actions) {
        HmNode *base = this->*c.base;
        u32 action = tag_of(base, c.path, HM_KIND_ACTION);
        u32 parent = 0;
        ASSERT_EQ(ORSA_get_parent_tag(action, &parent), 0u) << c.what;
        HmValueSlot params[HM_MAX_PARAMS];
        memset(params, 0, sizeof params);
        for (size_t i = 0; i < HM_MAX_PARAMS; i++) {
            if (i < c.params.size() && c.params[i] != nullptr)
                strcpy(params[i], c.params[i]);
            else
                params[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
        }
        u32 new_tags[HM_MAX_NEW_TAGS];
        EXPECT_EQ(ORSA_do_action(parent, action, params, new_tags), c.rc) << c.what;
        EXPECT_EQ(last_code(), c.status) << c.what;
    }

    struct SetCase {
        const char *what;
        HmNode *SchemaApi::*base;
        const char *group;
        const char *property;
        const char *value;
        u32 status;
        const char *after;
    } sets[] = {
        {"read-only", &SchemaApi::ks, "ProfileManagement/ActiveProfile", "ProfileId", "1", ORSA_STATUS_READ_ONLY,
         "0"},
        {"out of range", &SchemaApi::ks, "ProfileManagement/ConfiguredProfile", "ProfileId", "40",
         ORSA_STATUS_OUT_OF_RANGE, "0"},
        {"too short", &SchemaApi::iscsi, "Network/TCPIPConfiguration/IPv6Configuration", "DefaultIPv6Gateway", "",
         ORSA_STATUS_BAD_LENGTH, "fe80::0"},
        {"valid, unbound", &SchemaApi::iscsi, "iSNS", "iSNSEnabled", "Yes", ORSA_STATUS_NOT_SUPPORTED, "No"},
        {"VF rate out of range", &SchemaApi::vf, "", "TxRate", "0", ORSA_STATUS_OUT_OF_RANGE, "100"},
        {"not in list", &SchemaApi::nic, "", "SRIOVState", "On", ORSA_STATUS_INVALID_VALUE, "Disabled"},
    };
    for (const SetCase &c : sets) {
        HmNode *base = this->*c.base;
        u32 group = c.group[0] != '\0' ? tag_of(base, c.group, HM_KIND_GROUP) : base->tag;
        u32 prop = 0;
        ASSERT_EQ(ORSA_get_node_tag(group, c.property, &prop, HM_KIND_PROPERTY), 0u) << c.what;
        char value[HM_VALUE_SIZE];
        strcpy(value, c.value);
        EXPECT_NE(ORSA_set_property_val(group, prop, value, sizeof value), 0u) << c.what;
        EXPECT_EQ(last_code(), c.status) << c.what;
        // The stored value stays. A stand-in also answers it on a read; a
        // bound handler needs an adapter behind the tree to answer.
        if (read_answer(prop) == ORSA_STATUS_NOT_SUPPORTED) {
            char now[HM_VALUE_SIZE] = "";
            EXPECT_EQ(ORSA_get_property_val(group, prop, now, sizeof now), read_answer(prop)) << c.what;
            EXPECT_STREQ(now, c.after) << c.what;
        }
        EXPECT_STREQ(HM_PROPERTY(get_node((i32)prop))->value, c.after) << c.what;
    }
}

TEST(SchemaApiActions, GroupsMadeByAnActionAreReportedAndPersistent)
{
    ASSERT_EQ(ORSA_init(), 0u);
    HmNode *crate = schema::schema_build_instance(&kind_Crate, &ROOT, nullptr, nullptr, nullptr);
    ASSERT_NE(crate, nullptr);
    TEST_Crate_Fill_action.handler = do_TestFill;
    u32 fill = 0;
    ASSERT_EQ(ORSA_get_node_tag(crate->tag, "Fill", &fill, HM_KIND_ACTION), 0u);

    HmValueSlot params[HM_MAX_PARAMS];
    memset(params, 0, sizeof params);
    strcpy(params[0], "3");
    for (int i = 1; i < HM_MAX_PARAMS; i++)
        params[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
    std::vector<u32> tags(HM_MAX_NEW_TAGS, 0);
    const u32 first_priority = persistency_priority;
    ASSERT_EQ(ORSA_do_action(crate->tag, fill, params, tags.data()), 0u);
    EXPECT_EQ(orsa_internal_new_tags, nullptr) << "the list is detached after the action";
    for (int i = 0; i < 3; i++) {
        HmNode *item = get_node((i32)tags[i]);
        ASSERT_NE(item, nullptr) << i;
        EXPECT_STREQ(item->name, "Item");
        EXPECT_EQ(instance_number(item), i);
        EXPECT_EQ(HM_GROUP(item)->persistency_priority, first_priority + i);
        HmPersistenceInfo info;
        ASSERT_EQ(ORSA_get_persistence_info(tags[i], &info), 0u);
        EXPECT_EQ(info.key_a_tag, crate->tag);
        EXPECT_EQ(info.key_b_tag, fill);
        EXPECT_STREQ(info.keys[0], "3");
    }

    // The fourth item fits, the fifth does not: the handler's failure comes back.
    strcpy(params[0], "2");
    EXPECT_EQ(ORSA_do_action(crate->tag, fill, params, tags.data()), (u32)ORSA_STATUS_NO_MEMORY);
    EXPECT_EQ(child_count(crate), 1 + 4);
    TEST_Crate_Fill_action.handler = nullptr;
    EXPECT_EQ(ORSA_exit(), 0u);
    EXPECT_EQ(kind_Item.bitmap[0], 0) << "taking the tree down frees every number";
}

// Both ProfileId properties below ProfileManagement are told apart by their group.
TEST_F(SchemaApi, SameNamedPropertiesAreKeptApartByGroup)
{
    u32 active = tag_of(ks, "ProfileManagement/ActiveProfile/ProfileId", HM_KIND_PROPERTY);
    u32 configured = tag_of(ks, "ProfileManagement/ConfiguredProfile/ProfileId", HM_KIND_PROPERTY);
    EXPECT_NE(active, configured);
    HmNodeDescription d;
    ASSERT_EQ(ORSA_get_node_description(active, &d), 0u);
    EXPECT_STREQ(d.description, "This property specifies ProfileId of ActiveProfile.");
    ASSERT_EQ(ORSA_get_node_description(configured, &d), 0u);
    EXPECT_STREQ(d.description, "This property specifies ProfileId of ConfiguredProfile.");
    EXPECT_EQ(d.min, 0);
    EXPECT_EQ(d.max, 32);
}

}  // namespace

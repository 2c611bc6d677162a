// The DCBX entries of a port: one ApplicationTLV<n> per application TLV and
// one PG<n> per priority group, below the administrator, peer and
// operational setting groups. Each setting group has a builder (and an
// instance bitmap) of its own.
#include "schema/builders.h"
#include "schema/kind_table.h"

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_PriorityGroups_AdministratorPGSetting_PG_ConfigurePGSettings,
                  "do_ConfigurePGSettings", 2,
    SCHEMA_PARAM(1, "PriorityMembership", T_STRING, 0, 7, "",
                 "This parameter specifies the bit map of the priorities 0 to 7 that belong to this priority group, bit k for priority k."),
    SCHEMA_PARAM(1, "Bandwidth", T_INTEGER, 0, 255, "",
                 "This parameter specifies the percentage of bandwidth for this priority group; 255 designates a group with no bandwidth limit."));

#define APP_TLV(name, acc, type, mn, mx, def, desc) \
    SCHEMA_PROP(name, acc, type, mn, mx, def, "", "handle_apptlv_feature_vars", desc)
#define OUI_TEXT "This property specifies the OUI used in the DCBX protocol. The value used is 0x001b21."
#define SELECTOR_TEXT \
    "This property specifies the protocol type: SF=0 Ethernet (FCoE), SF=1 TCP (iSCSI)."
#define PROTOCOL_ID_TEXT                                                                                   \
    "This property specifies the two-byte protocol identifier: for SF=1 (iSCSI) the iSCSI TCP port number; for SF=0 the Ethernet type, 8906 or 80914 for FCoE."

static schema::SchemaRow operational_app_tlv_rows[] = {
    APP_TLV("OUI", RO, T_STRING, 1, 8, "0x001b21", OUI_TEXT),
    APP_TLV("PriorityBitMap", RO, T_STRING, 1, 4, "0",
            "This property specifies the bit map of the priorities that match this protocol id."),
    APP_TLV("ProtocolID", RO, T_INTEGER, 0, 99999, "0", PROTOCOL_ID_TEXT),
    APP_TLV("ProtocolSelector", RO, T_INTEGER, 0, 1, "0", SELECTOR_TEXT),
};

static schema::SchemaRow peer_app_tlv_rows[] = {
    APP_TLV("OUI", RO, T_STRING, 1, 8, "0x001b21", OUI_TEXT),
    APP_TLV("PriorityBitMap", RO, T_STRING, 1, 4, "0",
            "This property indicates the bit map of the priorities that match this protocol id."),
    APP_TLV("ProtocolID", RO, T_INTEGER, 0, 99999, "0", PROTOCOL_ID_TEXT),
    APP_TLV("ProtocolSelector", RO, T_INTEGER, 0, 1, "0", SELECTOR_TEXT),
};

static schema::SchemaRow administrator_app_tlv_rows[] = {
    APP_TLV("OUI", RO, T_STRING, 1, 8, "0x001b21", OUI_TEXT),
    APP_TLV("PriorityBitMap", RW, T_STRING, 1, 4, "0",
            "This property specifies the bit map of the priorities that match this protocol id."),
    APP_TLV("ProtocolID", RO, T_INTEGER, 0, 99999, "0",
            "This property specifies the two-byte protocol identifier: for SF=1 (iSCSI) the iSCSI TCP port number; for SF=0 the Ethernet type, 0x8906 or 0x8914 for FCoE and 0x8915 for RoCE."),
    APP_TLV("ProtocolSelector", RO, T_INTEGER, 0, 1, "0",
            "This property specifies the protocol type: SF=0 Ethernet (FCoE or RoCE), SF=1 TCP (iSCSI)."),
};

#define MEMBERSHIP_TEXT                                                                                    \
    "This property specifies the bit map of the priorities 0 to 7 in this group, bit k for priority k (0xFF when all 8 are enabled). Membership must be unique across the 8 priority groups; an unused group has 0."
#define BANDWIDTH_TEXT                                                                                     \
    "This property specifies the percentage of bandwidth for the priorities of PriorityMembership. The allocation across all priority groups must total 100 percent."

static schema::SchemaRow pg_rows[] = {
    SCHEMA_PROP("Bandwidth", RO, T_INTEGER, 0, 100, "0", "", "handle_bwg_props", BANDWIDTH_TEXT),
    SCHEMA_PROP("PriorityMembership", RO, T_STRING, 0, 7, "0", "", "handle_bwg_props", MEMBERSHIP_TEXT),
};

static schema::SchemaRow administrator_pg_rows[] = {
    SCHEMA_PROP("Bandwidth", RO, T_INTEGER, 0, 255, "0", "", "handle_bwg_props",
                BANDWIDTH_TEXT " The value 255 designates a group with no bandwidth limit; normal values lie between 0 and 100."),
    SCHEMA_PROP("PriorityMembership", RO, T_STRING, 0, 7, "0", "", "handle_bwg_props", MEMBERSHIP_TEXT),
    SCHEMA_ACTION("ConfigurePGSettings", "This command configures the priority group settings.",
                  ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_PriorityGroups_AdministratorPGSetting_PG_ConfigurePGSettings_spec),
};

#define APP_TLV_DESCRIPTION                                                                                \
    "This group represents one application TLV, by which a DCB node announces an upper layer protocol (L2, L3 or L4) and its priority map over the DCB link. One Application Protocol TLV may advertise several such protocols."
#define PG_DESCRIPTION                                                                                     \
    "This group represents one priority group. Priority groups provide configuration tables and a scheduling algorithm that manage bandwidth for the traffic classes of a converged link. Bandwidth is given in percent and totals 100 percent. DCBX supports up to 8 priority groups; the number in use depends on the traffic classes supported."

// Every kind: one slice per port of every controller (16 x 4).
SCHEMA_KIND(kind_OperationalTLVSettings_ApplicationTLV, "initialize_OperationalTLVSettings_ApplicationTLV",
            "ApplicationTLV", APP_TLV_DESCRIPTION, 15, 16 * 4, nullptr, operational_app_tlv_rows);
SCHEMA_KIND(kind_PeerTLVSetting_ApplicationTLV, "initialize_PeerTLVSetting_ApplicationTLV", "ApplicationTLV",
            APP_TLV_DESCRIPTION, 15, 16 * 4, nullptr, peer_app_tlv_rows);
SCHEMA_KIND(kind_AdministratorTLVSetting_ApplicationTLV, "initialize_AdministratorTLVSetting_ApplicationTLV",
            "ApplicationTLV", APP_TLV_DESCRIPTION, 15, 16 * 4, nullptr, administrator_app_tlv_rows);
SCHEMA_KIND(kind_OperationalPGSettings_PG, "initialize_OperationalPGSettings_PG", "PG", PG_DESCRIPTION, 8, 16 * 4,
            nullptr, pg_rows);
SCHEMA_KIND(kind_PeerPGSetting_PG, "initialize_PeerPGSetting_PG", "PG", PG_DESCRIPTION, 8, 16 * 4, nullptr, pg_rows);
SCHEMA_KIND(kind_AdministratorPGSetting_PG, "initialize_AdministratorPGSetting_PG", "PG", PG_DESCRIPTION, 8, 16 * 4,
            nullptr, administrator_pg_rows);

HmNode *initialize_OperationalTLVSettings_ApplicationTLV(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_OperationalTLVSettings_ApplicationTLV, parent, key_a, key_b, keys);
}

HmNode *initialize_PeerTLVSetting_ApplicationTLV(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_PeerTLVSetting_ApplicationTLV, parent, key_a, key_b, keys);
}

HmNode *initialize_AdministratorTLVSetting_ApplicationTLV(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_AdministratorTLVSetting_ApplicationTLV, parent, key_a, key_b, keys);
}

HmNode *initialize_OperationalPGSettings_PG(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_OperationalPGSettings_PG, parent, key_a, key_b, keys);
}

HmNode *initialize_PeerPGSetting_PG(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_PeerPGSetting_PG, parent, key_a, key_b, keys);
}

HmNode *initialize_AdministratorPGSetting_PG(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_AdministratorPGSetting_PG, parent, key_a, key_b, keys);
}

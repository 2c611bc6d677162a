// The profile groups of a controller's ProfileManagement: the ports and
// functions of the active and of the configured profile, the profiles the
// adapter offers and the protocols of each. The profile walk makes them.
#include "schema/builders.h"
#include "schema/kind_table.h"

#define CACHED(name, type, mn, mx, def, allowed, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, allowed, "handle_internal_property", desc)

// The two port kinds list the same types in different orders; clients see
// each list as it stands.
static schema::SchemaRow configured_port_rows[] = {
    SCHEMA_PROP("MCType", RW, T_LIST, 3, 7, "None", "UMC,vNIC1,vNIC2,UFP,NPAR,HPUMC,HPFlex,HPFlexQBG,None",
                "handle_ConfiguredProfile_Port_MCType", "This property is used to configure MCtype per port."),
};

static schema::SchemaRow configured_function_rows[] = {
    SCHEMA_PROP("Protocol", RW, T_STRING, 0, 8, "NIC", "", "handle_ConfiguredProfile_Port_Function_Protocol",
                "This property specifies Protocol of ConfiguredProfile."),
    CACHED("State", T_LIST, 0, 8, "Disabled", "Enabled,Disabled", "This property specifies state of function protocol."),
    CACHED("FunctionNumber", T_INTEGER, 0, 64, "0", "", "This property specifies function number of Protocol."),
    SCHEMA_PROP("MACAddress", RO, T_STRING, 17, 17, "00:00:00:00:00:00", "",
                "handle_ProfileManagement_ConfiguredProfile_Port_Function_MACAddress",
                "This property specifies MACAddress for Protocol."),
    SCHEMA_PROP("SRIOVState", RW, T_LIST, 7, 8, "Disabled", "Enabled,Disabled", "handle_CProf_SRIOVState",
                "This property is used to configure SRIOVState and valid value are Enabled or Disabled."),
    SCHEMA_PROP("AvailableProtocols", RO, T_LIST, 3, 5, "NIC", "NIC,RoCE,FCoE,iSCSI,None", "handle_AvailableProtocols",
                "This property specifies AvailableProtocols on respective function."),
};

static schema::SchemaRow active_port_rows[] = {
    CACHED("MCType", T_LIST, 3, 7, "None", "UMC,vNIC1,vNIC2,UFP,NPAR,HPFlex,HPUMC,HPFlexQBG,None",
           "This property specifies to MCtype per port."),
    CACHED("MaxStoragePFCount", T_INTEGER, 0, 8, "0", "", "This property specifies Max Storage PF's supported per port."),
    CACHED("MaxNICPFCount", T_INTEGER, 1, 64, "1", "", "This property specifies Max NIC PF's supported per port."),
    CACHED("MaxRoCEPFCount", T_INTEGER, 0, 64, "0", "", "This property specifies Max RoCE PF's supported per port."),
    CACHED("MaxiSCSIPFCount", T_INTEGER, 0, 64, "0", "", "This property specifies Max iSCSI PF's supported per port."),
    CACHED("MaxFCoEPFCount", T_INTEGER, 0, 64, "0", "", "This property specifies Max FCoE PF's supported per port."),
};

static schema::SchemaRow active_function_rows[] = {
    CACHED("Protocol", T_STRING, 0, 8, "NIC", "", "This property specifies Protocol of ActiveProfile."),
    CACHED("FunctionNumber", T_INTEGER, 0, 64, "0", "", "This property specifies function number of Protocol."),
    CACHED("MACAddress", T_STRING, 17, 17, "00:00:00:00:00:00", "", "This property specifies MACAddress for Protocol."),
    SCHEMA_PROP("SRIOVState", RO, T_LIST, 7, 8, "Disabled", "Enabled,Disabled", "handle_AProf_SRIOVState",
                "This property specifies whether SRIOV is enabled, disabled or N/A for this interface."),
};

static schema::SchemaRow profile_rows[] = {
    CACHED("ProfileId", T_INTEGER, 0, 256, "0", "", "This property defines the profile Id."),
    CACHED("ProfileDescription", T_STRING, 1, 128, "", "", "This property defines the profile description."),
};

static schema::SchemaRow profile_protocol_rows[] = {
    CACHED("ProtocolName", T_STRING, 0, 8, "NIC", "", "This property defines the name of the protocol."),
    CACHED("FunctionCount", T_INTEGER, 1, 64, "", "", "This property defines the function count available for protocol."),
};

// Ports and profiles: one slice per controller. Functions: one per port of
// every controller (controller x 4 + port). Protocols: one per profile of
// every controller (controller x 100 + profile).
SCHEMA_KIND(kind_ConfiguredProfile_Port, "initialize_ConfiguredProfile_Port", "Port",
            "This group represents ports for ConfiguredProfile.", 4, 16, nullptr, configured_port_rows);
SCHEMA_KIND(kind_ConfiguredProfile_Port_Function, "initialize_ConfiguredProfile_Port_Function", "Function",
            "This group represents available functions for ConfiguredProfile.", 64, 16 * 4, nullptr,
            configured_function_rows);
SCHEMA_KIND(kind_ActiveProfile_Port, "initialize_ActiveProfile_Port", "Port",
            "This group represents available ports for ActiveProfile.", 4, 16, nullptr, active_port_rows);
SCHEMA_KIND(kind_ActiveProfile_Port_Function, "initialize_ActiveProfile_Port_Function", "Function",
            "This group represents available functions for ActiveProfile.", 64, 16 * 4, nullptr, active_function_rows);
SCHEMA_KIND(kind_Profile, "initialize_Profile", "Profile", "This group represents Profiles of the adapter.", 100, 16,
            nullptr, profile_rows);
SCHEMA_KIND(kind_Profile_Protocol, "initialize_Profile_Protocol", "Protocol", "This group represents available protocols.",
            8, 16 * 100, nullptr, profile_protocol_rows);

HmNode *initialize_ConfiguredProfile_Port(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_ConfiguredProfile_Port, parent, key_a, key_b, keys);
}

HmNode *initialize_ConfiguredProfile_Port_Function(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_ConfiguredProfile_Port_Function, parent, key_a, key_b, keys);
}

HmNode *initialize_ActiveProfile_Port(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_ActiveProfile_Port, parent, key_a, key_b, keys);
}

HmNode *initialize_ActiveProfile_Port_Function(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_ActiveProfile_Port_Function, parent, key_a, key_b, keys);
}

HmNode *initialize_Profile(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_Profile, parent, key_a, key_b, keys);
}

HmNode *initialize_Profile_Protocol(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_Profile_Protocol, parent, key_a, key_b, keys);
}

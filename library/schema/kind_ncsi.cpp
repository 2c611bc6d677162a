// The NC-SI factory and user data of a controller (below its NCSI group)
// and one LinkConfig<n> per link configuration the adapter offers (below
// its LinkReconfiguration group).
#include "schema/builders.h"
#include "schema/kind_table.h"

#define STATIC_NCSI(name, type, mn, mx, def, allowed, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, allowed, "handle_ncsi_static_configuration", desc)
#define DYNAMIC_NCSI(name, type, mn, mx, def, allowed, desc) \
    SCHEMA_PROP(name, RW, type, mn, mx, def, allowed, "handle_ncsi_dynamic_configuration", desc)

#define WOL_TEXT(port) "This property indicates if wake on LAN is enabled for Port " #port " of the Quorvantix controller."
#define MAGIC_TEXT(port) \
    "This property displays the MAC address used as magic packet by Quorvantix port " #port " for wake on LAN."
#define VLAN_TEXT "This property displays the VLAN ID used by the NC-SI protocol."

static schema::SchemaRow ncsi_static_rows[] = {
    STATIC_NCSI("PortSwap", T_LIST, 2, 3, "No", "Yes,No",
                "This property displays the state of the port swap feature of the Quorvantix controller, for diagnostics."),
    STATIC_NCSI("EnableWOLPort0", T_LIST, 2, 3, "No", "Yes,No", WOL_TEXT(0)),
    STATIC_NCSI("Port0MAC", T_STRING, 17, 17, "00:00:00:00:00:00", "", MAGIC_TEXT(0)),
    STATIC_NCSI("EnableWOLPort1", T_LIST, 2, 3, "No", "Yes,No", WOL_TEXT(1)),
    STATIC_NCSI("Port1MAC", T_STRING, 17, 17, "00:00:00:00:00:00", "", MAGIC_TEXT(1)),
    STATIC_NCSI("MgmtVLANId", T_INTEGER, 0, 4095, "0", "", VLAN_TEXT),
};

static schema::SchemaRow ncsi_dynamic_rows[] = {
    DYNAMIC_NCSI("EnableWOLPort0", T_LIST, 2, 3, "No", "Yes,No", WOL_TEXT(0)),
    DYNAMIC_NCSI("Port0MAC", T_STRING, 17, 17, "00:00:00:00:00:00", "", MAGIC_TEXT(0)),
    DYNAMIC_NCSI("EnableWOLPort1", T_LIST, 2, 3, "No", "Yes,No", WOL_TEXT(1)),
    DYNAMIC_NCSI("Port1MAC", T_STRING, 17, 17, "00:00:00:00:00:00", "", MAGIC_TEXT(1)),
    DYNAMIC_NCSI("MgmtVLANId", T_INTEGER, 0, 4095, "0", "", VLAN_TEXT),
};

static schema::SchemaRow link_config_rows[] = {
    SCHEMA_PROP("LinkConfigID", RO, T_INTEGER, 0, 32, "0", "", "handle_internal_property",
                "This property contains the value that uniquely identifies this Link Configuration."),
    SCHEMA_PROP("LinkConfigDescription", RO, T_STRING, 1, 32, "", "", "handle_internal_property",
                "This property contains a 32-byte ascii string describing the attributes of the Link Configuration e.g. 4 x 10 Gbps SFP+. The string will be null terminated.  Thus the maximum ascii string is 31 characters plus the null terminator."),
};

// One slice per controller.
SCHEMA_KIND(kind_NCSIStaticConfiguration, "initialize_NCSIStaticConfiguration", "NCSIStaticConfiguration",
            "The data shown here is read-only and updated once, during manufacturing and applicable for an out-of-box configuration.",
            1, 16, nullptr, ncsi_static_rows);
SCHEMA_KIND(kind_NCSIDynamicConfiguration, "initialize_NCSIDynamicConfiguration", "NCSIDynamicConfiguration",
            "The out-of-box configuration data in the NCSIStatiConfiguration group may be overridden with the following user-settable data.",
            1, 16, nullptr, ncsi_dynamic_rows);
SCHEMA_KIND(kind_LinkConfig, "initialize_LinkConfig", "LinkConfig",
            "This group represents number of Link Configuration which are enabled on the adapter.", 32, 16, nullptr,
            link_config_rows);

HmNode *initialize_NCSIStaticConfiguration(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_NCSIStaticConfiguration, parent, key_a, key_b, keys);
}

HmNode *initialize_NCSIDynamicConfiguration(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_NCSIDynamicConfiguration, parent, key_a, key_b, keys);
}

HmNode *initialize_LinkConfig(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_LinkConfig, parent, key_a, key_b, keys);
}

// Small cached records of the iSCSI side: TargetPortal<n> of a target,
// iSNSServer<n> of a port, and the entries of a port's ARP and route tables.
// Their creators write the values; every property is read-only.
#include "schema/builders.h"
#include "schema/kind_table.h"

#define CACHED(name, type, mn, mx, def, desc) \
    SCHEMA_PROP(name, RO, type, mn, mx, def, "", "handle_internal_property", desc)

static schema::SchemaRow target_portal_rows[] = {
    CACHED("TargetIPAddress", T_IPV4, 0, 0, "0.0.0.0", "This property specifies the IP address of the target portal."),
    CACHED("TargetPortNumber", T_INTEGER, 1, 65535, "1036", "This property specifies the port number of the target portal."),
    CACHED("PortalGroupTag", T_INTEGER, 0, 255, "0", "This property indicates the tag associated with the Portal Group."),
};

static schema::SchemaRow isns_server_rows[] = {
    CACHED("IPAddress", T_IPV4, 0, 0, "0.0.0.0", "This property indicates the IP address of the iSNS Server."),
    CACHED("PortNumber", T_INTEGER, 1024, 65535, "3205", "This property indicates the port number of the iSNS Server."),
};

static schema::SchemaRow arp_table_entry_rows[] = {
    CACHED("IPAddress", T_IPV4, 0, 16, "0.0.0.0", "This property specifies the IP address of the ARP table entry."),
    CACHED("MACAddress", T_STRING, 17, 17, "00:00:00:00:00:00", "This property specifies the MAC address of the ARP table entry."),
};

static schema::SchemaRow route_table_entry_rows[] = {
    CACHED("Destination", T_IPV4, 0, 16, "0.0.0.0", "This property specifies the destination IP address of the route table entry."),
    CACHED("SubnetMask", T_MASK, 0, 255, "255.255.255.0", "This property specifies the Subnet mask of the route table entry."),
    CACHED("Gateway", T_IPV4, 1, 64, "0.0.0.0", "This property indicates the Gateway specified in the route table entry."),
};

// Portals: one slice per target of every logical HBA. The others: one
// slice per iSCSI physical HBA (16 controllers x 8).
SCHEMA_KIND(kind_TargetPortal, "initialize_TargetPortal", "TargetPortal",
            "This group instance corresponds to a portal of the target identified by its IP address and port number.",
            64, 16 * 8 * 256, nullptr, target_portal_rows);
SCHEMA_KIND(kind_iSNSServer, "initialize_iSNSServer", "iSNSServer",
            "This group instance corresponds to an iSNS Server entry.", 4, 16 * 8, nullptr, isns_server_rows);
SCHEMA_KIND(kind_ARPTableEntry, "initialize_ARPTableEntry", "ARPTableEntry",
            "This group instance corresponds to a ARP Table Entry for the Quorvantix iSCSI initiator firmware. This entry is obtained by ORSA during initialization and cached in ORSA. OEMKDRefreshARPTableEntry command, available in ARPTable group, has to be run to refresh the entries.",
            64, 16 * 8, nullptr, arp_table_entry_rows);
SCHEMA_KIND(kind_RouteTableEntry, "initialize_RouteTableEntry", "RouteTableEntry",
            "This group represents a route table entry in the Quorvantix iSCSI initiator firmware. This entry is obtained by ORSA during initialization and cached in ORSA. The OEMKDRefreshRouteTableEntry command available in RouteTable group, has to be run to refresh the entries.",
            1024, 16 * 8, nullptr, route_table_entry_rows);

HmNode *initialize_TargetPortal(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_TargetPortal, parent, key_a, key_b, keys);
}

HmNode *initialize_iSNSServer(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_iSNSServer, parent, key_a, key_b, keys);
}

HmNode *initialize_ARPTableEntry(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_ARPTableEntry, parent, key_a, key_b, keys);
}

HmNode *initialize_RouteTableEntry(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_RouteTableEntry, parent, key_a, key_b, keys);
}

// The network of an iSCSI physical HBA: the handlers of its Network groups
// (TCPIPConfiguration with IPv6Configuration, NICConfiguration) and of the
// initiator name and alias of its LogicalHBA.
//
// Every command goes to the port's iSCSI device. The actions of
// TCPIPConfiguration (Ping excepted) take the port number and the interface
// handle from the group's interface record, which the TCP/IP refresh makes;
// an action that finds none makes it first (the interface list, as the
// refresh does).
//
// Counts in adapter replies (the interface list's interface count, the
// interface information's address count) are bounded by the reply: a count
// the reply cannot hold makes the reply malformed (status 98 or 99), it is
// never read past.
#pragma once

#include "tree/hm_types.h"

// Wire sizes of the requests (payload bytes).
#define ORSA_IF_LIST_SIZE 132
#define ORSA_IF_INFO_SIZE 1296
#define ORSA_IF_INFO_RECORDS_AT 16
#define ORSA_IF_INFO_RECORD_SIZE 40
#define ORSA_IP_ENTRY_SIZE 56
#define ORSA_GATEWAY_SIZE 28
#define ORSA_GATEWAY_QUERY_SIZE 24
#define ORSA_DHCP_SIZE 16
#define ORSA_DHCP_RELEASE_SIZE 8
#define ORSA_VLAN_SIZE 8
#define ORSA_PING_SIZE 24
#define ORSA_NIC_PARAMS_SIZE 52
#define ORSA_ISCSI_MAC_QUERY_SIZE 72u
#define ORSA_NAME_BLOCK_SIZE 260
#define ORSA_NAME_FIELD 4
#define ORSA_ALIAS_FIELD 228
#define ORSA_ALIAS_SIZE 32

// Address kinds.
#define ORSA_ADDR_IPV4 1u
#define ORSA_ADDR_IPV6 16u
#define ORSA_ADDR_ROUTABLE 48u
#define ORSA_ADDR_LINK_LOCAL 80u

// DHCP request kinds.
#define ORSA_DHCP_IPV4 5u
#define ORSA_DHCP_IPV6_AUTO 144u

// No VLAN in the interface information.
#define ORSA_VLAN_NONE 65535u

// Statuses of the network handlers.
#define ORSA_STATUS_BAD_VALUE 17
#define ORSA_STATUS_DHCP_ON 43
#define ORSA_STATUS_BOOT_SESSION 44
#define ORSA_STATUS_GATEWAY_DHCP_ON 49
#define ORSA_STATUS_PING_FAILED 53
#define ORSA_STATUS_IP_UNCHANGED 56
#define ORSA_STATUS_DHCP_UNCHANGED 57
#define ORSA_STATUS_DUPLICATE_IP 69
#define ORSA_STATUS_NIC_PARAMS 93
#define ORSA_STATUS_IF_LIST 98
#define ORSA_STATUS_IF_INFO 99
#define ORSA_STATUS_NAME_GET 110
#define ORSA_STATUS_NAME_SET 111
#define ORSA_STATUS_IP_ENTRY 122
#define ORSA_STATUS_DHCP_RELEASE 123
#define ORSA_STATUS_VLAN 124
#define ORSA_STATUS_GATEWAY_SET 132
#define ORSA_STATUS_GATEWAY_GET 133
#define ORSA_STATUS_DHCP_FAILED 135
#define ORSA_STATUS_NO_IPV6 291
#define ORSA_STATUS_IPV6_UNSUPPORTED 327

// The interface record a TCPIPConfiguration group carries (its nhandle).
struct OrsaInterfaceRecord {
    u32 port;    // driver instance of the port's iSCSI function
    u32 handle;  // the adapter's interface handle
    u32 reserved[2];
};
static_assert(sizeof(OrsaInterfaceRecord) == 16, "interface record is 16 bytes");

// ---- IPv4 (TCPIPConfiguration), NIC configuration, initiator name ----

u32 handle_tcpip_properties(HmNode *property, char *value, u32 mode);
u32 handle_DefaultGateway(HmNode *property, char *value, u32 mode);
u32 handle_NICprop(HmNode *property, char *value, u32 mode);
u32 handle_iSCSIPhysicalHBA_Network_NICConfiguration_MACAddress(HmNode *property, char *value, u32 mode);
u32 handle_name_params(HmNode *property, char *value, u32 mode);

u32 do_ConfigureIPAddress(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_DHCPEnable(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_DHCPDisable(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_DeleteDefaultGateway(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_ConfigureVLAN(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_VLANDisable(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_Ping(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_RefreshNICConfig(HmNode *group, HmNode *action, HmValueSlot *params);

// Fetches the interface list and hangs a new interface record {port, first
// handle} on the TCPIPConfiguration group. 0, or 1 with status 98 (also
// for a list that names no interface or more than its reply holds).
u32 get_all_interfaces(u32 port, u8 phba_port, u8 domain, HmNode *tcpip);
// Fetches the IPv4 interface information and sets InitiatorIPAddress,
// InitiatorSubnetMask, DHCPEnabled, VLANEnabled, VLANId and Priority of the
// group. 0, or 1 (status 99 when the command failed or the reply was
// malformed; none when a property write failed).
u32 get_if_info_params(u32 port, u32 handle, HmNode *tcpip, u8 domain, u8 phba_port);
// Deletes an IPv4 address entry (action 2, kind 1). 0, or the command's
// status with status 122.
u32 ORSA_delete_ip_from_firmware(u32 port, u32 handle, HmNode *group, u8 domain, u8 phba_port, const u8 address[4],
                                 const u8 mask[4]);
// Reads the NIC parameters into MaxMTUSize and PortMaxSpeed of the
// NICConfiguration group. 0, or 1 with status 93 (or a failed write).
u32 ORSA_get_iscsi_ntwk_params(u32 port, u8 domain, u8 phba_port, HmNode *nic);
// Stores the port's permanent MAC address ("%02x-" x 6) in property. 0, or 1
// (no status) when the query fails.
u32 ORSA_get_iscsi_ntwk_mac(u32 port, u8 domain, u8 phba_port, HmNode *nic, HmNode *property);
// Reads the initiator name block into InitiatoriSCSIName and InitiatorAlias
// of property's group. 0, or the command's status with status 110.
u32 get_name_params(u32 port, u8 domain, u8 phba_port, HmNode *property);
// Writes a new initiator name (checked, lower-cased) or alias. 0, or a status.
u32 ORSA_set_initatorIQN_alias(HmNode *property, const char *text);

// Boot sessions stand in the way of address changes: 1 with status 44 when
// a session of any logical HBA of the physical HBA reads iSCSIBoot "True"
// (sessions whose property cannot be read are passed over), else 0.
u32 check_for_boot_session(HmNode *phba);

// A copy of the group's interface record (a later refresh replaces the
// group's own); when there is none yet, it is made from the interface list
// first. false when that fails.
bool orsa_interface_record(HmNode *tcpip, OrsaInterfaceRecord *out);

// ---- IPv6 (IPv6Configuration) ----

u32 handle_IPv6State(HmNode *property, char *value, u32 mode);
u32 handle_InitiatorLinkLocalAddress(HmNode *property, char *value, u32 mode);
u32 handle_InitiatorRoutableAddress(HmNode *property, char *value, u32 mode);
u32 handle_DefaultIPv6Gateway(HmNode *property, char *value, u32 mode);

u32 do_DeleteDefaultIPv6Gateway(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_AutoAssignEnable(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_AutoAssignDisable(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_ConfigureIPv6Address(HmNode *group, HmNode *action, HmValueSlot *params);

// The which-th (1 or 2) IPv6 address of a kind (80 link-local, 48 routable)
// as the full form in out (40 bytes); the all-zero full form when the port
// has none. 0, or a status (98, 99 set).
u32 ORSA_get_IPv6configuration_properties(u32 port, u8 domain, u8 phba_port, u32 kind, char *out, u32 which);
// Deletes the port's IPv6 default gateway, if it has one. 0, or 1 (132 set).
u32 ORSA_delete_IPv6Gateway(u32 port, u8 domain, u8 phba_port, HmNode *ipv6);
// Deletes the IPv6 address a property of the group shows. 0 when there is
// none (or the shown text is no address: status 6 is left); else the
// command's result (122 set on failure).
u32 ORSA_delete_ipv6_address(HmNode *group, const char *property, u32 kind, u32 port, u8 domain, u8 phba_port,
                             u32 handle);

// ---- shared by the two ----

// Where a node's commands go: the port's iSCSI function (driver instance),
// the domain and the physical-HBA port. false when the node lies below no
// iSCSI function.
struct OrsaNetWhere {
    u32 port = 0;
    u8 domain = 0;
    u8 phba = 0;
};
bool orsa_net_where(HmNode *node, OrsaNetWhere *w);

// The nearest enclosing group named kind (the node itself included).
HmNode *orsa_enclosing_group(HmNode *node, const char *kind);
// The interface information (1296 bytes) of a kind into info; header
// version 1 when v1. 0; the command's status (no status of its own: the
// caller says what a failure means); 1 with status 99 for a reply whose
// address count it cannot hold.
u32 orsa_fetch_if_info(u32 port, u32 handle, u32 kind, bool v1, u8 domain, u8 phba_port, u8 *info);
// The first interface handle of the port's interface list. 0, or 1 with 98.
u32 orsa_first_interface(u32 port, u8 domain, u8 phba_port, u32 *handle);
// Sends a gateway change (28 bytes): action 1 add, 2 delete. 0, or 1 with 132.
u32 orsa_change_gateway(u32 port, u8 domain, u8 phba_port, u32 action, u32 kind, const u8 *address, u32 length);
// Sends an address entry change; *entry_status receives the adapter's entry
// status. 0, or the command's status.
u32 orsa_modify_ip_entry(u32 port, u32 handle, u8 domain, u8 phba_port, u32 action, u32 kind, const u8 *address,
                         u32 length, const u8 *mask, u32 *entry_status);
// Sends the DHCP request (kind 5 or 144). 0, or the command's status.
u32 orsa_config_dhcp(u32 port, u32 handle, u8 domain, u8 phba_port, u32 kind);
u32 orsa_release_dhcp(u32 port, u32 handle, u8 domain, u8 phba_port, u32 kind);

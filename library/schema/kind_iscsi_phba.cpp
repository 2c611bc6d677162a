// The iSCSI physical HBA group iSCSIPhysicalHBA<n>: one per iSCSI function,
// below its controller group.
#include "schema/builders.h"
#include "schema/kind_table.h"

#define PATH(x) ROOT_Kalderstone_iSCSIPhysicalHBA_##x

SCHEMA_DESCRIPTOR(PATH(EraseConfiguration), "do_EraseConfiguration", 1,
    SCHEMA_PARAM(0, "LogicalHBAInstanceNumber", T_INTEGER, 0, 0, "",
                 "This parameter specifies the domain id of the logical HBA whose configuration is erased."));

// Network/TCPIPConfiguration/RouteTable
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_RouteTable_AddRouteTableEntry), "do_AddRouteTableEntry", 3,
    SCHEMA_PARAM(1, "Destination", T_IPV4, 0, 16, "",
                 "This parameter specifies the IP address of the entry to be entered in the route table."),
    SCHEMA_PARAM(1, "SubnetMask", T_MASK, 0, 255, "",
                 "This parameter specifies the subnet mask of the entry to be entered in the route table."),
    SCHEMA_PARAM(1, "Gateway", T_IPV4, 1, 64, "",
                 "This parameter specifies the gateway address of the entry to be entered in the route table."));
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_RouteTable_DeleteRouteTableEntry), "do_DeleteRouteTableEntry", 1,
    SCHEMA_PARAM(1, "InstanceNumber", T_INTEGER, 0, 1023, "",
                 "This parameter specifies the number of the route table entry to be deleted."));
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_RouteTable_RefreshRouteTableEntry), "do_RefreshRouteTableEntry", 0);

// Network/TCPIPConfiguration/ARPTable
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_ARPTable_AddARPTableEntry), "do_AddARPTableEntry", 2,
    SCHEMA_PARAM(1, "IPAddress", T_IPV4, 0, 16, "",
                 "This parameter specifies the IP address of the entry to be added."),
    SCHEMA_PARAM(1, "MACAddress", T_STRING, 17, 17, "",
                 "This parameter specifies the MAC address of the entry to be added."));
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_ARPTable_DeleteARPTableEntry), "do_DeleteARPTableEntry", 1,
    SCHEMA_PARAM(1, "InstanceNumber", T_INTEGER, 0, 63, "",
                 "This parameter specifies the number of the ARP table entry to be deleted."));
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_ARPTable_RefreshARPTableEntry), "do_RefreshARPTableEntry", 0);

// Network/TCPIPConfiguration
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_DeleteDefaultGateway), "do_DeleteDefaultGateway", 0);
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_DHCPEnable), "do_DHCPEnable", 0);
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_DHCPDisable), "do_DHCPDisable", 0);
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_ConfigureIPAddress), "do_ConfigureIPAddress", 2,
    SCHEMA_PARAM(1, "IPAddress", T_STRING, 0, 16, "",
                 "This parameter specifies the IP address to configure for the port."),
    SCHEMA_PARAM(1, "SubnetMask", T_STRING, 0, 16, "",
                 "This parameter specifies the subnet mask to configure for the port."));
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_ConfigureVLAN), "do_ConfigureVLAN", 2,
    SCHEMA_PARAM(1, "VLANId", T_INTEGER, 0, 4094, "",
                 "This parameter specifies the VLAN ID. Use 0 to 4094 to enable VLAN."),
    SCHEMA_PARAM(0, "Priority", T_INTEGER, 0, 7, "",
                 "This parameter specifies the VLAN priority of the interface."));
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_VLANDisable), "do_VLANDisable", 0);
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_Ping), "do_Ping", 1,
    SCHEMA_PARAM(1, "IPAddress", T_IPV4, 0, 0, "",
                 "This parameter specifies the IPv4 address to which the ICMP echo request is sent."));

// Network/TCPIPConfiguration/IPv6Configuration
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_IPv6Configuration_DeleteDefaultIPv6Gateway),
                  "do_DeleteDefaultIPv6Gateway", 0);
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_IPv6Configuration_AutoAssignEnable), "do_AutoAssignEnable", 1,
    SCHEMA_PARAM(1, "Type", T_LIST, 1, 4, "Auto,DHCP",
                 "This parameter specifies the kind of automatic IPv6 assignment: Auto or DHCP."));
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_IPv6Configuration_AutoAssignDisable), "do_AutoAssignDisable", 0);
SCHEMA_DESCRIPTOR(PATH(Network_TCPIPConfiguration_IPv6Configuration_ConfigureIPv6Address),
                  "do_ConfigureIPv6Address", 2,
    SCHEMA_PARAM(1, "AddressType", T_LIST, 1, 1, "0,1,2",
                 "This parameter selects the address to configure: 0 the link-local address, 1 routable address 1, 2 routable address 2."),
    SCHEMA_PARAM(1, "IPAddress", T_STRING, 1, 50, "",
                 "This parameter specifies the IPv6 address."));

// Network/NICConfiguration
SCHEMA_DESCRIPTOR(PATH(Network_NICConfiguration_ResetMACAddress),
                  "do_iSCSIPhysicalHBA_Network_NICConfiguration_ResetMACAddress", 0);
SCHEMA_DESCRIPTOR(PATH(Network_NICConfiguration_RefreshNICConfig), "do_RefreshNICConfig", 0);

// PCI
SCHEMA_DESCRIPTOR(PATH(PCI_DumpiSCSIPCIConfigRegion), "do_DumpiSCSIPCIConfigRegion", 2,
    SCHEMA_PARAM(1, "RegisterOffset", T_INTEGER, 0, 252, "",
                 "This parameter specifies the PCI register to start at."),
    SCHEMA_PARAM(1, "Count", T_INTEGER, 1, 64, "",
                 "This parameter specifies the number of configuration space registers to read."));

// iSNS
SCHEMA_DESCRIPTOR(PATH(iSNS_DiscoveryiSNSThruDHCP), "do_DiscoveryiSNSThruDHCP", 0);
SCHEMA_DESCRIPTOR(PATH(iSNS_ConfigureiSNSServer), "do_ConfigureiSNSServer", 2,
    SCHEMA_PARAM(1, "IPAddress", T_IPV4, 0, 0, "",
                 "This parameter specifies the IP address of the iSNS server, entered in the iSNS server table that the firmware uses to discover targets."),
    SCHEMA_PARAM(0, "PortNum", T_INTEGER, 1024, 65535, "",
                 "This parameter specifies the port of the iSNS server."));
SCHEMA_DESCRIPTOR(PATH(iSNS_DeleteiSNSServer), "do_DeleteiSNSServer", 1,
    SCHEMA_PARAM(1, "InstanceNumber", T_INTEGER, 0, 3, "",
                 "This parameter specifies the number of the iSNS server entry to be deleted."));

#define VPD(n)                                                                                  \
    SCHEMA_PROP("VPDData" #n, RO, T_STRING, 0, 256, "", "", "handle_internal_property",        \
                "This property is a hex dump of the segment of VPD data retrieved from a Quorvantix controller by ORSA.")

static schema::SchemaRow iscsi_phba_rows[] = {
    SCHEMA_PROP("iSCSIBIOSEnable", RW, T_LIST, 2, 3, "Yes", "Yes,No", "handle_iSCSIBIOSEnable",
                "Use this property to Enable or Disable iSCSI BIOS boot for this function. The valid values are Yes and No."),
    SCHEMA_PROP("PortNumber", RO, T_INTEGER, 0, 3, "0", "", "handle_internal_property",
                "This property indicates the port number assigned to this PCI function."),
    SCHEMA_PROP("iSCSIVersionMin", RO, T_STRING, 1, 3, "1", "", "handle_internal_property",
                "This property corresponds to the iSCSI RFC 3720 field iSCSIVersionMin. 1 means support for RFC 3720."),
    SCHEMA_PROP("iSCSIVersionMax", RO, T_STRING, 1, 3, "1", "", "handle_internal_property",
                "This property corresponds to the iSCSI RFC 3720 field iSCSIVersionMax. 1 means support for RFC 3720."),
    SCHEMA_PROP("MaxCDBLength", RO, T_INTEGER, 6, 16, "16", "", "handle_internal_property",
                "This property indicates the maximum CDB length supported by this Quorvantix controller."),
    SCHEMA_PROP("LDTO", RO, T_INTEGER, 0, 3600, "20", "", "handle_internal_property",
                "This property corresponds to the Link Down Time Out (LDTO) of this Quorvantix controller: the number of seconds for which the iSCSI drivers delay reporting an error to the operating system."),
    SCHEMA_PROP("DefaultETO", RO, T_INTEGER, 0, 3600, "30", "", "handle_internal_property",
                "This property corresponds to the Default Extended Time Out (ETO) value for this Quorvantix controller."),

    SCHEMA_GROUP("Driver", "This group contains information about the host operating system's Quorvantix iSCSI initiator driver.", nullptr),
        SCHEMA_PROP("DriverName", RO, T_STRING, 2, 10, "SORBLOCK", "", "handle_internal_property",
                    "This property displays the name of the iSCSI driver in the host operating system."),
        SCHEMA_PROP("DriverVersion", RO, T_STRING, 2, 6, "2", "", "handle_internal_property",
                    "This property displays the version number of the iSCSI driver currently active in the host operating system."),
    SCHEMA_END(),

    SCHEMA_GROUP("Network", "This group consists of the TCP/NIC configuration of the Network port.", nullptr),
        SCHEMA_GROUP("TCPIPConfiguration", "This group consists of the TCP configuration of the Network port.", nullptr),
            SCHEMA_GROUP("RouteTable", "This group contains the route table entries of the Quorvantix iSCSI initiator firmware, obtained by ORSA at initialization and cached in ORSA. At most 16 static routes can be added for all physical HBAs of one controller; any attempt to add more fails. Run the command OEMKDRefreshRouteTableEntry of this group to refresh the entries.", nullptr),
                SCHEMA_ACTION("AddRouteTableEntry",
                              "This command adds a user route. At most 16 static routes can be added for all physical HBAs of the controller; more fail. Destination, SubnetMask and Gateway are required. Example: OEMKDAddRouteTableEntry -OEMKDparams Destination=\"10.12.0.1\",SubnetMask=\"255.255.255.0\",Gateway=\"10.12.2.62\". Duplicate entries across the physical HBAs of the controller fail. The destination and gateway of a static route must differ from those of every other entry. A destination equal to that of an existing route of the same physical HBA is added with that entry's subnet mask and is a misconfiguration; the same destination on another physical HBA is allowed. Static routes persist across reboots until deleted. The physical HBA's kernel device is used to add the entry to the network kernel.",
                              PATH(Network_TCPIPConfiguration_RouteTable_AddRouteTableEntry_spec)),
                SCHEMA_ACTION("DeleteRouteTableEntry",
                              "This command deletes the route table entry with the given number. Example: OEMKDDeleteRouteTableEntry -OEMKDparams InstanceNumber=\"5\". Static routes persist across reboots until deleted.",
                              PATH(Network_TCPIPConfiguration_RouteTable_DeleteRouteTableEntry_spec)),
                SCHEMA_ACTION("RefreshRouteTableEntry",
                              "This command will refresh the current route table entries from the Quorvantix firmware.",
                              PATH(Network_TCPIPConfiguration_RouteTable_RefreshRouteTableEntry_spec)),
            SCHEMA_END(),
            SCHEMA_GROUP("ARPTable", "This group contains the ARP table entries of the Quorvantix iSCSI initiator firmware, obtained by ORSA at initialization and cached in ORSA. Run the command OEMKDRefreshARPTableEntry of this group to refresh the entries.", nullptr),
                SCHEMA_ACTION("AddARPTableEntry",
                              "This command will add an entry into the ARP table of the Quorvantix iSCSI initiator.",
                              PATH(Network_TCPIPConfiguration_ARPTable_AddARPTableEntry_spec)),
                SCHEMA_ACTION("DeleteARPTableEntry", "This command will delete the given ARP table entry.",
                              PATH(Network_TCPIPConfiguration_ARPTable_DeleteARPTableEntry_spec)),
                SCHEMA_ACTION("RefreshARPTableEntry",
                              "This command will refresh the current ARP table entries from the Quorvantix firmware.",
                              PATH(Network_TCPIPConfiguration_ARPTable_RefreshARPTableEntry_spec)),
            SCHEMA_END(),
            SCHEMA_PROP("VLANId", RO, T_INTEGER, 0, 4094, "0", "", "handle_internal_property",
                        "This property indicates the VLAN ID of the interface. An empty string for this property indicates VLAN is disabled."),
            SCHEMA_PROP("Priority", RO, T_INTEGER, 0, 7, "0", "", "handle_internal_property",
                        "This property indicates the VLAN priority of the interface. An empty string for this property indicates VLAN is disabled."),
            SCHEMA_PROP("VLANEnabled", RO, T_LIST, 4, 5, "False", "True,False", "handle_internal_property",
                        "This property indicates whether VLAN is enabled. True means enabled, False means disabled."),
            SCHEMA_PROP("InitiatorIPAddress", RO, T_IPV4, 0, 16, "0.0.0.0", "", "handle_tcpip_properties",
                        "This property specifies the IP address assigned to the port."),
            SCHEMA_PROP("InitiatorSubnetMask", RO, T_IPV4, 0, 255, "0.0.0.0", "", "handle_tcpip_properties",
                        "This property specifies the Subnet mask for the port."),
            SCHEMA_PROP("DefaultGateway", RW, T_IPV4, 1, 64, "0.0.0.0", "", "handle_DefaultGateway",
                        "The Default Gateway must be in the same subnet as the IPaddress of this initiator port."),
            SCHEMA_PROP("DHCPEnabled", RO, T_LIST, 4, 5, "False", "True,False", "handle_tcpip_properties",
                        "This property specifies the current DHCP setting. True means enabled, False means disabled."),
            SCHEMA_ACTION("DeleteDefaultGateway",
                          "This command resets a manually set default gateway. It fails while DHCP is enabled; then OEMKDDHCPDisable resets the gateway.",
                          PATH(Network_TCPIPConfiguration_DeleteDefaultGateway_spec)),
            SCHEMA_ACTION("DHCPEnable",
                          "This command enables DHCP. The manually assigned IPv4 address of the interface is to be deleted, by the user or by ORSA, before DHCP is enabled.",
                          PATH(Network_TCPIPConfiguration_DHCPEnable_spec)),
            SCHEMA_ACTION("DHCPDisable", "This command will diasble the DHCP configuration.",
                          PATH(Network_TCPIPConfiguration_DHCPDisable_spec)),
            SCHEMA_ACTION("ConfigureIPAddress",
                          "This command sets the IP address and subnet mask of the port by hand; both are mandatory. Example: OEMKDConfigureIPAddress -OEMKDparams IPAddress=\"172.20.14.1\",SubnetMask=\"255.255.255.0\". It fails while DHCP is enabled; disable DHCP with OEMKDDHCPDisable first.",
                          PATH(Network_TCPIPConfiguration_ConfigureIPAddress_spec)),
            SCHEMA_ACTION("ConfigureVLAN", " This command is used to enable VLAN.",
                          PATH(Network_TCPIPConfiguration_ConfigureVLAN_spec)),
            SCHEMA_ACTION("VLANDisable", " This command is used to disable VLAN.",
                          PATH(Network_TCPIPConfiguration_VLANDisable_spec)),
            SCHEMA_ACTION("Ping", "This command will send an ICMP ping request to the specified IPv4 address.",
                          PATH(Network_TCPIPConfiguration_Ping_spec)),
            SCHEMA_GROUP("IPv6Configuration", "This group consists of the IPv6 configuration of the Network port.", nullptr),
                SCHEMA_PROP("IPv6State", RO, T_LIST, 3, 10, "N/A", "N/A,AutoAssign,Static", "handle_IPv6State",
                            "This property specifies the IPv6 state. N/A: not supported by the firmware; AutoAssign: automatic address assignment; Static: static assignment."),
                SCHEMA_PROP("InitiatorLinkLocalAddress", RO, T_STRING, 1, 50, "fe80::0", "",
                            "handle_InitiatorLinkLocalAddress",
                            "This property specifies the initiator Link local address."),
                SCHEMA_PROP("InitiatorRoutableAddress1", RO, T_STRING, 1, 50, "fe80::0", "",
                            "handle_InitiatorRoutableAddress",
                            "This property specifies the initiator routable address1."),
                SCHEMA_PROP("InitiatorRoutableAddress2", RO, T_STRING, 1, 50, "fe80::0", "",
                            "handle_InitiatorRoutableAddress",
                            "This property specifies the initiator routable address2."),
                SCHEMA_PROP("DefaultIPv6Gateway", RW, T_STRING, 1, 50, "fe80::0", "", "handle_DefaultIPv6Gateway",
                            "This property specifies the IPv6 Default Gateway Address for the Port."),
                SCHEMA_ACTION("DeleteDefaultIPv6Gateway", "This command resets a manually set IPv6 default gateway.",
                              PATH(Network_TCPIPConfiguration_IPv6Configuration_DeleteDefaultIPv6Gateway_spec)),
                SCHEMA_ACTION("AutoAssignEnable",
                              "This command enables automatic IPv6 address assignment. All manually assigned IPv6 addresses must be deleted first. Valid values of Type are Auto and DHCP.",
                              PATH(Network_TCPIPConfiguration_IPv6Configuration_AutoAssignEnable_spec)),
                SCHEMA_ACTION("AutoAssignDisable",
                              "This command disables automatic IPv6 address assignment. All manually assigned IPv6 addresses must be deleted before automatic assignment is disabled.",
                              PATH(Network_TCPIPConfiguration_IPv6Configuration_AutoAssignDisable_spec)),
                SCHEMA_ACTION("ConfigureIPv6Address", " This command is used to configure IPv6 Address. ",
                              PATH(Network_TCPIPConfiguration_IPv6Configuration_ConfigureIPv6Address_spec)),
            SCHEMA_END(),
        SCHEMA_END(),
        SCHEMA_GROUP("NICConfiguration", "This group consists of the NIC configuration of the Network port.", nullptr),
            SCHEMA_GROUP("vNIC", "This group contains the properties of this vNIC.", nullptr),
                SCHEMA_PROP("vNICEnabled", RO, T_LIST, 4, 5, "False", "True,False", "handle_iscsi_vnic_name_props",
                            "This property specifies whether this vNIC is enabled. True means enabled, False means disabled."),
                SCHEMA_PROP("vNICName", RO, T_STRING, 1, 32, "1", "", "handle_iscsi_vnic_name_props",
                            "This property specifies the name of this vNIC."),
                SCHEMA_PROP("OuterVLANID", RO, T_INTEGER, 0, 4094, "0", "", "handle_iscsi_vnic_stats",
                            "This property indicates the outer VLAN ID of this vNIC."),
                SCHEMA_PROP("MinBandwidth", RO, T_INTEGER, 0, 1000, "0", "", "handle_iscsi_vnic_stats",
                            "This property specifies the minimum bandwidth of this vNIC in units of 10 Mbps (100 means 1,000 Mbps)."),
                SCHEMA_PROP("MaxBandwidth", RO, T_INTEGER, 10, 1000, "0", "", "handle_iscsi_vnic_stats",
                            "This property specifies the maximum bandwidth of this vNIC in units of 10 Mbps (100 means 1,000 Mbps)."),
            SCHEMA_END(),
            SCHEMA_PROP("PortSpeed", RO, T_LIST, 3, 13, "0 (Link Down)",
                        "0 (Link Down),less than 1Mb,less than 1Gb,1Gb,10Gb,20Gb,25Gb,40Gb,100Gb", "handle_portspeed",
                        "This property specifies the port speed settings. Possible values are 0 (Link Down), less than 1Mb, less than 1Gb, 1Gb, 10Gb."),
            SCHEMA_PROP("PortMaxSpeed", RO, T_LIST, 3, 13, "Unknown", "Unknown,less than 1Mb,less than 1Gb,1Gb,10Gb",
                        "handle_NICprop",
                        "This property specifies the maximum port speed. Possible values are Unknown, less than 1Mb, less than 1Gb, 1Gb, 10Gb."),
            SCHEMA_PROP("MaxMTUSize", RO, T_INTEGER, 64, 9200, "8342", "", "handle_NICprop",
                        "This property specifies the maximum MTU for iSCSI traffic of this Quorvantix controller."),
            SCHEMA_PROP("LogicalLinkStatus", RO, T_LIST, 2, 7, "Unknown", "Up,Down,Unknown", "handle_logical_link_status",
                        "This property indicates whether the link is up or down."),
            SCHEMA_PROP("ActivePort", RO, T_LIST, 0, 26, "Port 0", "Port 0,Port 1,None", "handle_activeport",
                        "This property indicates the active port on the Quorvantix controller."),
            SCHEMA_PROP("MACAddress", RO, T_STRING, 17, 17, "00:00:00:00:00:00", "",
                        "handle_iSCSIPhysicalHBA_Network_NICConfiguration_MACAddress",
                        "This property displays the current MAC Address of the iSCSI  port."),
            SCHEMA_PROP("PermanentMACAddress", RW, T_STRING, 17, 17, "00:00:00:00:00:00", "",
                        "handle_iSCSIPhysicalHBA_Network_NICConfiguration_PermanentMACAddress",
                        "This property displays the Permanent Override MAC Address of the iSCSI port."),
            SCHEMA_PROP("FactoryDefaultMACAddress", RO, T_STRING, 17, 17, "00:00:00:00:00:00", "",
                        "handle_internal_property",
                        "This property specifies the factory-set MAC address of the iSCSI port."),
            SCHEMA_ACTION("ResetMACAddress",
                          "This command will reinitialize the MAC address of the given function to the controller default MAC address for that function.",
                          PATH(Network_NICConfiguration_ResetMACAddress_spec)),
            SCHEMA_ACTION("RefreshNICConfig", "This command displays the current NIC configuration properties.",
                          PATH(Network_NICConfiguration_RefreshNICConfig_spec)),
        SCHEMA_END(),
    SCHEMA_END(),

    SCHEMA_GROUP("VPD", "This group contains the Vital Product Data (VPD) of the Quorvantix controller, such as model number, serial number, release level, installed features and other standard or vendor-specific details, retrieved by ORSA from the controller and shown by the QV Manager. Because of ORSA size limitations, this data is separated into segments designated by VPDData0 - VPDData8 properties.", nullptr),
        VPD(0), VPD(1), VPD(2), VPD(3), VPD(4), VPD(5), VPD(6), VPD(7), VPD(8),
    SCHEMA_END(),

    SCHEMA_GROUP("PCI", "This group contains the PCI properties for the Quorvantix controller.", nullptr),
        SCHEMA_PROP("VendorID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI vendor ID of the Quorvantix controller's iSCSI function."),
        SCHEMA_PROP("DeviceID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI device ID of the Quorvantix controller's iSCSI function."),
        SCHEMA_PROP("SubsysDeviceID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI subsystem device ID of the Quorvantix controller's iSCSI function."),
        SCHEMA_PROP("SubsysVendorID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI subsystem vendor ID of the Quorvantix controller's iSCSI function."),
        SCHEMA_PROP("DomainNumber", RO, T_INTEGER, 0, 255, "0000", "", "handle_DomainNumber",
                    "This property displays the PCI Domain Number."),
        SCHEMA_PROP("BusNumber", RO, T_INTEGER, 0, 255, "0", "", "handle_internal_property",
                    "This property displays the PCI bus number of the Quorvantix controller's iSCSI function."),
        SCHEMA_PROP("DeviceNumber", RO, T_INTEGER, 0, 32, "0", "", "handle_internal_property",
                    "This property displays the PCI device number of the Quorvantix controller's iSCSI function."),
        SCHEMA_PROP("FunctionNumber", RO, T_INTEGER, 0, 8, "0", "", "handle_internal_property",
                    "This property displays the PCI function number of the Quorvantix controller's iSCSI function."),
        SCHEMA_ACTION("DumpiSCSIPCIConfigRegion",
                      "This command dumps the PCI configuration space as hexadecimal values. The first 256 bytes can be read; because SMCLP limits a text to 256 bytes, RegisterOffset and Count fetch it in chunks.",
                      PATH(PCI_DumpiSCSIPCIConfigRegion_spec)),
    SCHEMA_END(),

    SCHEMA_GROUP("iSNS", "This group stores the iSNS discovery parameters.", "group_iSNS"),
        SCHEMA_PROP("iSNSEnabled", RW, T_LIST, 1, 3, "No", "Yes,No", "handle_discoveryparams",
                    "This property enables or disables iSNS with the set command. The valid values are Yes and No. The default is No."),
        SCHEMA_ACTION("DiscoveryiSNSThruDHCP",
                      " This command discovers iSNS servers through DHCP and adds the iSNS entries found.",
                      PATH(iSNS_DiscoveryiSNSThruDHCP_spec)),
        SCHEMA_ACTION("ConfigureiSNSServer",
                      "This command configures the given iSNS server: the IP address of the server first, the port second; port 3205 is used when none is given. It reports success once communication with the server completes. Example: OEMKDConfigureiSNSServer -OEMKDparams IPAddress=\"172.40.2.1\",PortNum=\"3205\"",
                      PATH(iSNS_ConfigureiSNSServer_spec)),
        SCHEMA_ACTION("DeleteiSNSServer",
                      "This command deletes the iSNS server entry with the given number. Example: OEMKDDeleteiSNSServer -OEMKDparams InstanceNumber=\"1\"",
                      PATH(iSNS_DeleteiSNSServer_spec)),
    SCHEMA_END(),

    SCHEMA_ACTION("EraseConfiguration",
                  "This command resets the iSCSI configuration of the Quorvantix controller to factory defaults. All user iSCSI settings on both ports of the controller are lost. A reboot is needed for the change to take effect.",
                  PATH(EraseConfiguration_spec)),
};

// One slice per controller instance.
SCHEMA_KIND(kind_iSCSIPhysicalHBA, "initialize_iSCSIPhysicalHBA", "iSCSIPhysicalHBA",
            "This group represents properties of the Quorvantix controller instance under this domain.",
            8, 16, nullptr, iscsi_phba_rows);

HmNode *initialize_iSCSIPhysicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_iSCSIPhysicalHBA, parent, key_a, key_b, keys);
}

// The NIC physical HBA group NICPhysicalHBA<n> (one per NIC function, below
// its controller group) and the NIC logical HBA group NICLogicalHBA<n> (one
// per SR-IOV virtual function, below its physical HBA).
#include "schema/builders.h"
#include "schema/kind_table.h"

#define PATH(x) ROOT_Kalderstone_NICPhysicalHBA_##x

SCHEMA_DESCRIPTOR(PATH(NetworkBootConfiguration_SetNetworkBoot), "do_SetNetworkBoot", 2,
    SCHEMA_PARAM(1, "NetworkBootState", T_LIST, 7, 8, "Enabled,Disabled",
                 "This parameter specifies the network boot state. Valid values are Enabled and Disabled."),
    SCHEMA_PARAM(0, "NetworkBootMethod", T_LIST, 3, 4, "PXE,iBFT",
                 "This parameter specifies the network boot method, needed only when the state is Enabled. On Pivard controllers PXE and iBFT are valid, on the others only PXE."));
SCHEMA_DESCRIPTOR(PATH(NetworkBootConfiguration_ConfigureVLAN),
                  "do_NICPhysicalHBA_NetworkBootConfiguration_ConfigureVLAN", 2,
    SCHEMA_PARAM(1, "VLANId", T_INTEGER, 0, 4095, "",
                 "This parameter specifies the VLAN ID of the interface."),
    SCHEMA_PARAM(0, "Priority", T_INTEGER, 0, 7, "",
                 "This parameter specifies the VLAN priority of the interface."));
SCHEMA_DESCRIPTOR(PATH(ResetMACAddress), "do_NICPhysicalHBA_ResetMACAddress", 0);
SCHEMA_DESCRIPTOR(PATH(EraseNICConfiguration), "do_EraseNICConfiguration", 0);
SCHEMA_DESCRIPTOR(PATH(PCI_DumpNICPCIConfigRegion), "do_DumpNICPCIConfigRegion", 2,
    SCHEMA_PARAM(1, "RegisterOffset", T_INTEGER, 0, 252, "",
                 "This parameter specifies the PCI register to start at."),
    SCHEMA_PARAM(1, "Count", T_INTEGER, 1, 64, "",
                 "This parameter specifies the number of configuration space registers to read."));

#define VPD(n)                                                                                  \
    SCHEMA_PROP("VPDData" #n, RO, T_STRING, 0, 256, "", "", "handle_internal_property",        \
                "This property is a hex dump of the segment of VPD data retrieved from a Quorvantix controller by ORSA.")

static schema::SchemaRow nic_phba_rows[] = {
    SCHEMA_GROUP("VPD", "This group contains the Vital Product Data (VPD) of the Quorvantix controller, such as model number, serial number, release level and installed features, retrieved by ORSA from the controller and shown by the QV Manager. Because of ORSA size limitations, this data is separated into segments designated by VPDData0 - VPDData8 properties.", nullptr),
        VPD(0), VPD(1), VPD(2), VPD(3), VPD(4), VPD(5), VPD(6), VPD(7), VPD(8),
    SCHEMA_END(),

    SCHEMA_GROUP("vNIC", "This group contains the properties of this vNIC.", nullptr),
        // "Flase" is the allowed-list text clients have always seen; kept as is.
        SCHEMA_PROP("vNICEnabled", RO, T_LIST, 4, 5, "False", "True,Flase", "handle_nic_vnic_name_props",
                    "This property specifies whether this vNIC is enabled. True means enabled, False means disabled."),
        SCHEMA_PROP("vNICName", RO, T_STRING, 1, 32, "1", "", "handle_nic_vnic_name_props",
                    "This property specifies the name of this vNIC."),
        SCHEMA_PROP("OuterVLANID", RO, T_INTEGER, 0, 4094, "0", "", "handle_nic_vnic_stats",
                    "This property indicates the outer VLAN ID of this vNIC."),
        SCHEMA_PROP("MinBandwidth", RO, T_INTEGER, 0, 1000, "0", "", "handle_nic_vnic_stats",
                    "This property specifies the minimum bandwidth of this vNIC: the value n times 10 Mbit/s (100 means 1,000 Mbit/s)."),
        SCHEMA_PROP("MaxBandwidth", RO, T_INTEGER, 10, 1000, "0", "", "handle_nic_vnic_stats",
                    "This property specifies the maximum bandwidth of this vNIC: the value n times 10 Mbit/s (100 means 1,000 Mbit/s)."),
    SCHEMA_END(),

    SCHEMA_GROUP("NetworkBootConfiguration", "This group contains the properties of Network Boot options.", nullptr),
        SCHEMA_PROP("AvailableNetworkBootMethods", RO, T_LIST, 3, 4, "PXE", "PXE,iBFT", "handle_AvailableNetworkBootMethods",
                    "This property specifies the available Network boot methods. The valid values are PXE and iBFT."),
        SCHEMA_PROP("NetworkBootMethod", RO, T_LIST, 3, 4, "PXE", "PXE,iBFT", "handle_networkboot_config",
                    "This property specifies the configured NetworkBoot method. The valid values are PXE and iBFT."),
        SCHEMA_PROP("NetworkBootState", RO, T_LIST, 2, 3, "Enabled", "Enabled,Disabled", "handle_networkboot_config",
                    "This property specifies the configured NetworkBoot state. The valid values are Enabled and Disabled."),
        SCHEMA_PROP("VolatileMACAddress", RW, T_STRING, 17, 17, "00:00:00:00:00:00", "", "handle_VolatileMACAddress",
                    "This property specifies the semi-volatile MAC address of this NIC interface. It survives a function reset, a firmware reset and a PCI hot or fundamental reset, but not a power cycle."),
        SCHEMA_PROP("VLANId", RO, T_INTEGER, 0, 4095, "0", "", "handle_vlan_properties",
                    "This property indicates the VLAN ID of the interface. Value of Zero indicates VLAN is disabled."),
        SCHEMA_PROP("VLANPriority", RO, T_INTEGER, 0, 7, "0", "", "handle_vlan_properties",
                    "This property indicates the VLAN priority of the interface."),
        SCHEMA_ACTION("SetNetworkBoot", "This command is used to configure the network BIOS.",
                      PATH(NetworkBootConfiguration_SetNetworkBoot_spec)),
        SCHEMA_ACTION("ConfigureVLAN", " This command is used to enable VLAN.",
                      PATH(NetworkBootConfiguration_ConfigureVLAN_spec)),
    SCHEMA_END(),

    SCHEMA_PROP("IsRoCEEnabled", RO, T_LIST, 4, 5, "False", "True,False", "handle_IsRoCEEnabled",
                "This property specifies whether RoCE runs on this NIC function: True when it does, else False. It applies only to Veskarn adapters."),
    SCHEMA_PROP("IsVF", RO, T_LIST, 4, 5, "False", "True,False", "handle_internal_property",
                "This property specifies whether ORSA runs in a guest operating system on a virtual function: True when it does, else False."),
    SCHEMA_PROP("PortNumber", RO, T_INTEGER, 0, 3, "0", "", "handle_internal_property",
                "This property specifies the port number assigned to this PCI function."),
    SCHEMA_PROP("MTUSize", RO, T_INTEGER, 64, 9000, "1500", "", "handle_nic_MTUSize",
                "This property specifies the current MTU for NIC/TOE traffic of the Quorvantix controller."),
    SCHEMA_PROP("MaxMTUSize", RO, T_INTEGER, 64, 9000, "9000", "", "handle_internal_property",
                "This property specifies the maximum MTU for NIC/TOE traffic of the Quorvantix controller."),
    SCHEMA_PROP("LogicalLinkStatus", RO, T_LIST, 2, 7, "Unknown", "Up,Down,Unknown", "handle_nic_logical_link_status",
                "This property indicates whether the link is up or down."),
    SCHEMA_PROP("IfName", RO, T_STRING, 1, 32, "1", "", "handle_internal_property",
                "This property displays the Interface name string for this NIC interface."),
    SCHEMA_PROP("MACAddress", RW, T_STRING, 17, 17, "00:00:00:00:00:00", "", "handle_NICPhysicalHBA_MACAddress",
                "This property specifies the current MAC address for this NIC interface."),
    SCHEMA_PROP("PermanentMACAddress", RW, T_STRING, 17, 17, "00:00:00:00:00:00", "",
                "handle_NICPhysicalHBA_PermanentMACAddress",
                "This property specifies the Permanent Orverride MAC address for this NIC interface."),
    SCHEMA_PROP("FactoryDefaultMACAddress", RO, T_STRING, 17, 17, "00:00:00:00:00:00", "", "handle_internal_property",
                "This property specifies the factory-set MAC address for this NIC interface."),
    SCHEMA_PROP("MinBitsPerSecond", RO, T_INTEGER, 0, 1000, "0", "", "handle_nic_bandwidth_softcap",
                "This property specifies the minimum bandwidth: n means n x 100 Mbit/s; 0 means that the whole bandwidth belongs to this interface. Valid values are 0 and 10 to 100."),
    SCHEMA_PROP("MaxBitsPerSecond", RO, T_INTEGER, 0, 1000, "0", "", "handle_nic_bandwidth_softcap",
                "This property specifies the maximum bandwidth: n means n x 10 Mbit/s; 0 means the whole bandwidth. With one NIC PCI function per port the value is 0 and cannot be set. Valid values are 0 and 10 to 100."),
    SCHEMA_PROP("PortSpeed", RO, T_LIST, 3, 13, "0 (Link Down)",
                "0 (Link Down),less than 1Mb,less than 1Gb,1Gb,10Gb,20Gb,25Gb,40Gb,100Gb", "handle_portspeed",
                "This property specifies the port speed settings. Possible values are 0 (Link Down), less than 1Mb, less than 1Gb, 1Gb, 10Gb."),
    SCHEMA_PROP("SRIOVState", RW, T_LIST, 7, 8, "Disabled", "Enabled,Disabled", "handle_NICPhysicalHBA_SRIOVState",
                "This property specifies whether SRIOV is enabled, disabled or N/A for this interface."),
    SCHEMA_PROP("VEPAState", RW, T_LIST, 7, 8, "Disabled", "Enabled,Disabled", "handle_VEPAState",
                "This property specifies whether VEPA is enabled, disabled or N/A for this interface."),

    SCHEMA_ACTION("ResetMACAddress",
                  "This command will reinitialize the MAC address of the given function to the controller default MAC address for that function.",
                  PATH(ResetMACAddress_spec)),
    SCHEMA_ACTION("EraseNICConfiguration",
                  "This command resets the Quorvantix NIC (PXE and PXE set-up) configuration of the port to factory defaults. All user PXE settings of that port of the controller are lost. A reboot is needed for the change to take effect.",
                  PATH(EraseNICConfiguration_spec)),

    SCHEMA_GROUP("CIM", "This group contains the properties of this interface.", nullptr),
        SCHEMA_PROP("ProtocolIfType", RO, T_STRING, 1, 32, "1", "", "handle_ProtocolIfType",
                    "ProtocolIFType's enumeration is limited to Layer 2-related and reserved values for this subclass of ProtocolEndpoint."),
        SCHEMA_PROP("LinkTechnology", RO, T_STRING, 1, 32, "1", "", "handle_LinkTechnology",
                    "This property represents the enumeration of the types of links."),
        SCHEMA_PROP("Capabilities", RO, T_STRING, 1, 64, "1", "", "handle_Kalderstone_NICPhysicalHBA_CIM_Capabilities",
                    "Capabilities of the EthernetPort."),
        SCHEMA_PROP("EnabledCapabilities", RO, T_STRING, 1, 64, "1", "", "handle_EnabledCapabilities",
                    "This property specifies which capabilities are enabled from the list of all supported Capabilities"),
    SCHEMA_END(),

    SCHEMA_GROUP("PCI", "This group contains the PCI properties of the Quorvantix controller.", nullptr),
        SCHEMA_PROP("VendorID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI Vendor ID."),
        SCHEMA_PROP("DeviceID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI Device ID."),
        SCHEMA_PROP("SubsysDeviceID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI Subsystem Device ID."),
        SCHEMA_PROP("SubsysVendorID", RO, T_INTEGER, 0, 65535, "0", "", "handle_internal_property",
                    "This property displays the PCI Subsystem Vendor ID."),
        SCHEMA_PROP("DomainNumber", RO, T_INTEGER, 0, 255, "0000", "", "handle_internal_property",
                    "This property displays the PCI Domain Number."),
        SCHEMA_PROP("BusNumber", RO, T_INTEGER, 0, 255, "0", "", "handle_internal_property",
                    "This property displays the PCI Bus Number."),
        SCHEMA_PROP("DeviceNumber", RO, T_INTEGER, 0, 32, "0", "", "handle_internal_property",
                    "This property displays the PCI Device Number."),
        SCHEMA_PROP("FunctionNumber", RO, T_INTEGER, 0, 8, "0", "", "handle_internal_property",
                    "This property displays the PCI Function number for the NIC function."),
        SCHEMA_ACTION("DumpNICPCIConfigRegion",
                      "This command dumps the first 256 bytes of the PCI configuration space as hex values. Because SM-CLP limits a text to 256 ASCII bytes, RegisterOffset and Count fetch it in chunks.",
                      PATH(PCI_DumpNICPCIConfigRegion_spec)),
    SCHEMA_END(),

    SCHEMA_GROUP("Driver", "This group corresponds to information about the iSCSI initiator driver.", nullptr),
        SCHEMA_PROP("DriverName", RO, T_STRING, 2, 10, "SORNIC", "", "handle_internal_property",
                    "This property displays the name of the driver."),
        SCHEMA_PROP("DriverVersion", RO, T_STRING, 2, 6, "2", "", "handle_internal_property",
                    "This property displays the current version of the driver."),
    SCHEMA_END(),
};

static schema::SchemaRow nic_lhba_rows[] = {
    SCHEMA_PROP("MACAddress", RW, T_STRING, 17, 17, "00:00:00:00:00:00", "", "handle_niclogicalhba_macaddress",
                "This property specifies the current MAC address of NICLogicalHBA."),
    SCHEMA_PROP("VLANID", RW, T_INTEGER, 0, 4094, "0", "", "handle_niclogicalhba_vlanid",
                "This property indicates the VLANID of NICLogicalHBA."),
    SCHEMA_PROP("LinkStatus", RO, T_LIST, 2, 7, "Up", "Up,Down", "handle_LinkStatus",
                "This property indicates whether NICLogicalHBA link is up or down."),
    SCHEMA_PROP("TxRate", RW, T_INTEGER, 1, 10000, "100", "", "handle_niclogicalhba_txrate",
                "This property specifies the NICLogicalHBA TxRate in units of Mb/s."),
};

// Physical HBAs: one slice per controller. Logical HBAs: one slice per
// (controller, physical HBA) pair, 16 x 32 of them.
SCHEMA_KIND(kind_NICPhysicalHBA, "initialize_NICPhysicalHBA", "NICPhysicalHBA",
            "This group represents the Physical HBA group that contains the properties of the NIC interface for this domain of the Quorvantix controller.",
            32, 16, "group_NICPhysicalHBA", nic_phba_rows);
SCHEMA_KIND(kind_NICLogicalHBA, "initialize_NICLogicalHBA", "NICLogicalHBA",
            "This group specifies virtual functions of respective NICPhysicalHBA. This group and its properties are applicable only on hypervisors which support SR-IOV.",
            64, 16 * 32, nullptr, nic_lhba_rows);

HmNode *initialize_NICPhysicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_NICPhysicalHBA, parent, key_a, key_b, keys);
}

HmNode *initialize_NICLogicalHBA(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_NICLogicalHBA, parent, key_a, key_b, keys);
}

// One channel (PCI function) of a multichannel port: Channel<n> below the
// port's ChannelManagement group, made by the multichannel code.
#include "schema/builders.h"
#include "schema/kind_table.h"

SCHEMA_DESCRIPTOR(ROOT_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement_Channel_ConfigureQoS,
                  "do_ConfigureQoS", 2,
    SCHEMA_PARAM(1, "MinBandwidth", T_INTEGER, 0, 100, "",
                 "This parameter specifies the minimum bandwidth of the channel in percent."),
    SCHEMA_PARAM(1, "MaxBandwidth", T_INTEGER, 0, 100, "",
                 "This parameter specifies the maximum bandwidth of the channel in percent."));

static schema::SchemaRow channel_rows[] = {
    SCHEMA_PROP("FunctionNumber", RO, T_INTEGER, 0, 8, "0", "", "handle_internal_property",
                "This property specifies function number of respective channel."),
    SCHEMA_PROP("Type", RO, T_STRING, 3, 5, "NIC", "", "handle_internal_property",
                "This property specifies function type i.e. NIC,iSCSI or FCoE."),
    SCHEMA_PROP("vNICName", RO, T_STRING, 1, 32, "1", "", "handle_channel_vnic_name",
                "This property specifies the name of this vNIC. This property is valid only when vNIC1 is enabled."),
    SCHEMA_PROP("LogicalLinkState", RW, T_LIST, 7, 8, "Disabled", "Enabled,Disabled", "handle_LogicalLinkState",
                "This property specifies the LogicalLinkState i.e. True or False. LogicalLinkState is applicable only for vNIC2/UMC environment."),
    SCHEMA_PROP("MACAddress", RO, T_STRING, 17, 17, "00:00:00:00:00:00", "", "handle_internal_property",
                "This property specifies MACAddress of respective channel."),
    SCHEMA_PROP("LPVID", RW, T_INTEGER, 0, 4094, "2", "", "handle_LPVID",
                "This property specifies the LPVID of respective channel."),
    SCHEMA_PROP("OuterVLANID", RO, T_INTEGER, 0, 4094, "0", "", "handle_channel_outer_vlan",
                "This property specifies the outer VLANID of respective channel. This property is valid only when vNIC1 is enabled."),
    SCHEMA_PROP("MinBandWidth", RO, T_INTEGER, 0, 100, "0", "", "handle_MinBandWidth",
                "This property specifies the MinBandWidth and the units will be in percentage."),
    SCHEMA_PROP("MaxBandWidth", RO, T_INTEGER, 0, 100, "0", "", "handle_MaxBandWidth",
                "This property specifies the MaxBandWidth and the units will be in percentage."),
    SCHEMA_ACTION("ConfigureQoS",
                  "This command is used to configure the QoS for given channel. All the ORSA clients should taken care of Min and Max Bandwidths calculations.",
                  ROOT_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement_Channel_ConfigureQoS_spec),
};

// One slice per port of every controller (16 x 4).
SCHEMA_KIND(kind_Channel, "initialize_Channel", "Channel", "This group specifies Multi-Channels properties.", 16, 16 * 4,
            nullptr, channel_rows);

HmNode *initialize_Channel(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_Channel, parent, key_a, key_b, keys);
}

// Handlers by name. The kind tables name every handler; this registry maps
// the names to the functions that exist in the library. A subsystem that
// lands its handlers adds its lines here, and the next tree build binds them.
// Names missing here are bound to the stand-ins at the end of this file,
// which answer "not supported"; schema_standin_names lists them.
#include <string.h>

#include "backend/orsa_extlog.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "backend/orsa_vpd.h"
#include "config/cfg_boot_vf.h"
#include "config/cfg_dcbx.h"
#include "config/cfg_dcbx_tree.h"
#include "config/cfg_link.h"
#include "config/cfg_lldp.h"
#include "config/cfg_mac.h"
#include "config/cfg_multichannel.h"
#include "config/cfg_ncsi.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_props.h"
#include "config/cfg_profile_save.h"
#include "config/cfg_sriov.h"
#include "iscsi/iscsi_net.h"
#include "iscsi/iscsi_loginopts.h"
#include "iscsi/iscsi_targets.h"
#include "maintenance/maint_dump.h"
#include "maintenance/maint_diag.h"
#include "maintenance/maint_flash.h"
#include "schema/builders.h"
#include "schema/kind_table.h"

namespace schema {

namespace {

struct PropertyEntry {
    const char *name;
    HmPropertyHandler fn;
};
struct ActionEntry {
    const char *name;
    HmActionHandler fn;
};
struct GroupEntry {
    const char *name;
    HmGroupRefreshHandler fn;
};

const PropertyEntry property_handlers[] = {
    {"handle_internal_property", handle_internal_property},
    {"handle_ORSADebugLevel", handle_ORSADebugLevel},
    // adapter identity and function data
    {"handle_PortControllerName", handle_PortControllerName},
    {"handle_ControllerType", handle_ControllerType},
    {"handle_ProtocolSupported", handle_ProtocolSupported},
    {"handle_MaxSupportedController", handle_MaxSupportedController},
    {"handle_AvailableNetworkBootMethods", handle_AvailableNetworkBootMethods},
    {"handle_DomainNumber", handle_DomainNumber},
    {"handle_EnabledCapabilities", handle_EnabledCapabilities},
    {"handle_Kalderstone_NICPhysicalHBA_CIM_Capabilities", handle_Kalderstone_NICPhysicalHBA_CIM_Capabilities},
    {"handle_LinkTechnology", handle_LinkTechnology},
    {"handle_ProtocolIfType", handle_ProtocolIfType},
    {"handle_ks_controller_properties", handle_ks_controller_properties},
    {"handle_ks_controller_additional_properties", handle_ks_controller_additional_properties},
    {"handle_ks_temperature", handle_ks_temperature},
    {"handle_ControllerStatus", handle_ControllerStatus},
    {"handle_OneView", handle_OneView},
    {"handle_FFVName", handle_FFVName},
    {"handle_PCIExpressLinkSpeed", handle_PCIExpressLinkSpeed},
    {"handle_PCIExpressBusWidth", handle_PCIExpressBusWidth},
    {"handle_RebootRequired", handle_RebootRequired},
    {"handle_fru_vpd_data", handle_fru_vpd_data},
    {"handle_networkboot_config", handle_networkboot_config},
    {"handle_iSCSIBIOSEnable", handle_iSCSIBIOSEnable},
    {"handle_FCoEWWPN", handle_FCoEWWPN},
    {"handle_current_mode_properties", handle_current_mode_properties},
    {"handle_FATDataValid", handle_FATDataValid},
    // multichannel, channels and staged profile choices
    {"handle_SupportedMCTypes", handle_SupportedMCTypes},
    {"handle_ChannelManagement_details", handle_ChannelManagement_details},
    {"handle_MaxFunctionsPerPort", handle_MaxFunctionsPerPort},
    {"handle_ConfiguredProfile_ProfileId", handle_ConfiguredProfile_ProfileId},
    {"handle_ConfiguredProfile_Port_MCType", handle_ConfiguredProfile_Port_MCType},
    {"handle_ConfiguredProfile_Port_Function_Protocol", handle_ConfiguredProfile_Port_Function_Protocol},
    {"handle_channel_vnic_name", handle_channel_vnic_name},
    {"handle_LogicalLinkState", handle_LogicalLinkState},
    {"handle_LPVID", handle_LPVID},
    {"handle_channel_outer_vlan", handle_channel_outer_vlan},
    {"handle_MinBandWidth", handle_MinBandWidth},
    {"handle_MaxBandWidth", handle_MaxBandWidth},
    // vNIC, RoCE, bandwidth and iSCSI QoS of the HBAs
    {"handle_IsRoCEEnabled", handle_IsRoCEEnabled},
    {"handle_nic_vnic_name_props", handle_nic_vnic_name_props},
    {"handle_iscsi_vnic_name_props", handle_iscsi_vnic_name_props},
    {"handle_nic_vnic_stats", handle_nic_vnic_stats},
    {"handle_iscsi_vnic_stats", handle_iscsi_vnic_stats},
    {"handle_nic_bandwidth_softcap", handle_nic_bandwidth_softcap},
    {"handle_iscsi_bandwidth_softcap", handle_iscsi_bandwidth_softcap},
    {"handle_MaxIosPerSecond", handle_MaxIosPerSecond},
    {"handle_MaxBytesPerSecond", handle_MaxBytesPerSecond},
    // personality and protocols
    {"handle_ConfiguredPersonality", handle_ConfiguredPersonality},
    {"handle_AvailableProtocols", handle_AvailableProtocols},
    // SR-IOV and VEPA state
    {"handle_NICPhysicalHBA_SRIOVState", handle_NICPhysicalHBA_SRIOVState},
    {"handle_CProf_SRIOVState", handle_CProf_SRIOVState},
    {"handle_AProf_SRIOVState", handle_AProf_SRIOVState},
    {"handle_VEPAState", handle_VEPAState},
    // MAC addresses of the functions
    {"handle_NICPhysicalHBA_PermanentMACAddress", handle_NICPhysicalHBA_PermanentMACAddress},
    {"handle_iSCSIPhysicalHBA_Network_NICConfiguration_PermanentMACAddress",
     handle_iSCSIPhysicalHBA_Network_NICConfiguration_PermanentMACAddress},
    {"handle_ProfileManagement_ConfiguredProfile_Port_Function_MACAddress",
     handle_ProfileManagement_ConfiguredProfile_Port_Function_MACAddress},
    {"handle_NICPhysicalHBA_MACAddress", handle_NICPhysicalHBA_MACAddress},
    {"handle_nic_MTUSize", handle_nic_MTUSize},
    // profile management: ARI and link configuration
    {"handle_IPLMaxFunctionNumber", handle_IPLMaxFunctionNumber},
    {"handle_SettableMaxFunctionNumber", handle_SettableMaxFunctionNumber},
    {"handle_MaxFunctionNumber", handle_MaxFunctionNumber},
    {"handle_ConfiguredLinkConfigID", handle_ConfiguredLinkConfigID},
    // link, port speed and PHY
    {"handle_portspeed", handle_portspeed},
    {"handle_get_link_speed_properties", handle_get_link_speed_properties},
    {"handle_FCoELinkSpeed", handle_FCoELinkSpeed},
    {"handle_activeport", handle_activeport},
    {"handle_PortState", handle_PortState},
    {"handle_PhysicalLinkStatus", handle_PhysicalLinkStatus},
    {"handle_PHYType", handle_PHYType},
    {"handle_TXThrottle", handle_TXThrottle},
    {"handle_logical_link_status", handle_logical_link_status},
    {"handle_nic_logical_link_status", handle_nic_logical_link_status},
    {"handle_10GbaseT_properties", handle_10GbaseT_properties},
    {"handle_over_temperature", handle_over_temperature},
    {"handle_10baseT_nvpvalue", handle_10baseT_nvpvalue},
    // NC-SI, network boot and VF settings
    {"handle_ncsi_static_configuration", handle_ncsi_static_configuration},
    {"handle_ncsi_dynamic_configuration", handle_ncsi_dynamic_configuration},
    {"handle_get_ncsi_version", handle_get_ncsi_version},
    {"handle_VolatileMACAddress", handle_VolatileMACAddress},
    {"handle_vlan_properties", handle_vlan_properties},
    {"handle_AdvancedMode", handle_AdvancedMode},
    {"handle_niclogicalhba_macaddress", handle_niclogicalhba_macaddress},
    {"handle_niclogicalhba_vlanid", handle_niclogicalhba_vlanid},
    {"handle_niclogicalhba_txrate", handle_niclogicalhba_txrate},
    {"handle_LinkStatus", handle_LinkStatus},
    // LLDP, QCN and flow control of a port
    {"handle_LLDP_properties", handle_LLDP_properties},
    {"handle_lldp_stats_props", handle_lldp_stats_props},
    {"handle_update_qcn_props", handle_update_qcn_props},
    {"handle_flow_control_properties", handle_flow_control_properties},
    // DCBX state, mode, MIB and the PFC, PG and application-TLV views
    {"handle_DCBXState", handle_DCBXState},
    {"handle_DCBXMode", handle_DCBXMode},
    {"handle_dcbx_port_vars", handle_dcbx_port_vars},
    {"handle_dcbx_stats_props", handle_dcbx_stats_props},
    {"handle_pfc_feature_vars", handle_pfc_feature_vars},
    {"handle_pg_feature_vars", handle_pg_feature_vars},
    {"handle_pg15_membership", handle_pg15_membership},
    {"handle_app_feature_vars", handle_app_feature_vars},
    {"handle_bwg_props", handle_bwg_props},
    {"handle_apptlv_feature_vars", handle_apptlv_feature_vars},
    // iSCSI port network: IPv4, IPv6, NIC configuration, initiator name
    {"handle_tcpip_properties", handle_tcpip_properties},
    {"handle_DefaultGateway", handle_DefaultGateway},
    {"handle_NICprop", handle_NICprop},
    {"handle_iSCSIPhysicalHBA_Network_NICConfiguration_MACAddress",
     handle_iSCSIPhysicalHBA_Network_NICConfiguration_MACAddress},
    {"handle_name_params", handle_name_params},
    {"handle_IPv6State", handle_IPv6State},
    {"handle_InitiatorLinkLocalAddress", handle_InitiatorLinkLocalAddress},
    {"handle_InitiatorRoutableAddress", handle_InitiatorRoutableAddress},
    {"handle_DefaultIPv6Gateway", handle_DefaultIPv6Gateway},
    // iSCSI login options of the initiator, send-target portals and targets
    {"handle_initiator_loginoptions", handle_initiator_loginoptions},
    {"handle_authentication_initiator_loginoptions", handle_authentication_initiator_loginoptions},
    {"handle_stploginoptions", handle_stploginoptions},
    {"handle_authentication_stploginoptions", handle_authentication_stploginoptions},
    {"handle_target_loginoptions", handle_target_loginoptions},
    {"handle_authentication_target_loginopts", handle_authentication_target_loginopts},
    {"handle_target_type", handle_target_type},
    // targets, sessions, connections, LUNs and boot sessions
    {"handle_Target_ETO", handle_Target_ETO},
    {"handle_TargetAlias", handle_TargetAlias},
    {"handle_session_properties", handle_session_properties},
    {"handle_connection_properties", handle_connection_properties},
    {"handle_boot_session", handle_boot_session},
    {"handle_LUNNumber", handle_LUNNumber},
    {"handle_LUNName", handle_LUNName},
    {"handle_lun_block_size", handle_lun_block_size},
    {"handle_StdInquiry_properties", handle_StdInquiry_properties},
    {"handle_iSCSIPhysicalHBA_LogicalHBA_Enabled", handle_iSCSIPhysicalHBA_LogicalHBA_Enabled},
    // beacon of a port
    {"handle_BeaconState", handle_BeaconState},
};

const ActionEntry action_handlers[] = {
    // personality, erase and reset
    {"do_SetPersonality", do_SetPersonality},
    {"do_ResetFactoryDefaults", do_ResetFactoryDefaults},
    {"do_EraseNICConfiguration", do_EraseNICConfiguration},
    {"do_ErasePortandDiscoveryConfiguration", do_ErasePortandDiscoveryConfiguration},
    // multichannel
    {"do_ConfigureChannelManagement", do_ConfigureChannelManagement},
    {"do_ConfigureQoS", do_ConfigureQoS},
    // MAC addresses of the functions
    {"do_NICPhysicalHBA_ResetMACAddress", do_NICPhysicalHBA_ResetMACAddress},
    {"do_iSCSIPhysicalHBA_Network_NICConfiguration_ResetMACAddress",
     do_iSCSIPhysicalHBA_Network_NICConfiguration_ResetMACAddress},
    // profile management
    {"do_SetMaxFunctionNumber", do_SetMaxFunctionNumber},
    {"do_SetProfileId", do_SetProfileId},
    {"do_SetFactoryDefaults", do_SetFactoryDefaults},
    {"do_SetLinkConfigID", do_SetLinkConfigID},
    {"do_SaveProfile", do_SaveProfile},
    {"do_SetLinkConfigFactoryDefaults", do_SetLinkConfigFactoryDefaults},
    // link, port speed and PHY
    {"do_SetPortSpeed", do_SetPortSpeed},
    {"do_ClearCounters", do_ClearCounters},
    // network boot
    {"do_NICPhysicalHBA_NetworkBootConfiguration_ConfigureVLAN", do_NICPhysicalHBA_NetworkBootConfiguration_ConfigureVLAN},
    {"do_SetNetworkBoot", do_SetNetworkBoot},
    // DCBX application TLVs and priority groups
    {"do_AddApplicationTLV", do_AddApplicationTLV},
    {"do_DeleteApplicationTLV", do_DeleteApplicationTLV},
    {"do_ConfigurePGSettings", do_ConfigurePGSettings},
    // iSCSI port network: IPv4, IPv6, NIC configuration
    {"do_ConfigureIPAddress", do_ConfigureIPAddress},
    {"do_DHCPEnable", do_DHCPEnable},
    {"do_DHCPDisable", do_DHCPDisable},
    {"do_DeleteDefaultGateway", do_DeleteDefaultGateway},
    {"do_ConfigureVLAN", do_ConfigureVLAN},
    {"do_VLANDisable", do_VLANDisable},
    {"do_Ping", do_Ping},
    {"do_RefreshNICConfig", do_RefreshNICConfig},
    {"do_DeleteDefaultIPv6Gateway", do_DeleteDefaultIPv6Gateway},
    {"do_AutoAssignEnable", do_AutoAssignEnable},
    {"do_AutoAssignDisable", do_AutoAssignDisable},
    {"do_ConfigureIPv6Address", do_ConfigureIPv6Address},
    // targets, portals, login, logout and LUNs
    {"do_AddTarget", do_AddTarget},
    {"do_AddTargetPortal", do_AddTargetPortal},
    {"do_DeleteTarget", do_DeleteTarget},
    {"do_DeleteTargetPortal", do_DeleteTargetPortal},
    {"do_Login", do_Login},
    {"do_Logout", do_Logout},
    {"do_ReScanLUNS", do_ReScanLUNS},
    {"do_StdInquiry", do_StdInquiry},
    {"do_SCSIWrite", do_SCSIWrite},
    // core dumps, firmware logs, extended log configuration, register dumps
    {"do_RetrieveQuorvantixCoreDump", do_RetrieveQuorvantixCoreDump},
    {"do_RetrieveFATData", do_RetrieveFATData},
    {"do_ClearFATData", do_ClearFATData},
    {"do_RetrieveFwCliData", do_RetrieveFwCliData},
    {"do_RetrieveARMLog", do_RetrieveARMLog},
    {"do_EnableLoggingOnAllModules", do_EnableLoggingOnAllModules},
    {"do_DisableLoggingOnAllModules", do_DisableLoggingOnAllModules},
    {"do_SetDefaultLoggingConfiguration", do_SetDefaultLoggingConfiguration},
    {"do_DumpNICPCIConfigRegion", do_DumpNICPCIConfigRegion},
    {"do_DumpiSCSIPCIConfigRegion", do_DumpiSCSIPCIConfigRegion},
    {"do_DumpTransceiverData", do_DumpTransceiverData},
    // firmware update, tests, beacon and event log
    {"do_UpgradeFlashROM", do_UpgradeFlashROM},
    {"do_HostToDDRDMATest", do_HostToDDRDMATest},
    {"do_EnterLoopBackMode", do_EnterLoopBackMode},
    {"do_ExitLoopBackMode", do_ExitLoopBackMode},
    {"do_NetworkLoopBackTest", do_NetworkLoopBackTest},
    {"do_Beacon", do_Beacon},
    {"do_SelfTest", do_SelfTest},
    {"do_RunTDR", do_RunTDR},
    {"do_RefreshEventLog", do_RefreshEventLog},
    {"do_ClearEventLog", do_ClearEventLog},
};

const GroupEntry group_handlers[] = {
    {nullptr, nullptr},
    {"group_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement",
     group_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement},
    {"group_NICPhysicalHBA", group_NICPhysicalHBA},
    // targets, sessions and LUNs
    {"group_Target", group_Target},
    {"group_Session", group_Session},
    {"group_LUN", group_LUN},
    // DCBX application-TLV views
    {"group_AdministratorTLVSetting", group_AdministratorTLVSetting},
    {"group_PeerTLVSetting", group_PeerTLVSetting},
    {"group_OperationalTLVSettings", group_OperationalTLVSettings},
};

template <typename Entry, size_t N>
auto find(const Entry (&table)[N], const char *name) -> decltype(table[0].fn)
{
    if (name == nullptr)
        return nullptr;
    for (const Entry &e : table)
        if (e.name != nullptr && strcmp(e.name, name) == 0)
            return e.fn;
    return nullptr;
}

}  // namespace

HmPropertyHandler schema_find_property_handler(const char *name) { return find(property_handlers, name); }
HmActionHandler schema_find_action_handler(const char *name) { return find(action_handlers, name); }
HmGroupRefreshHandler schema_find_group_handler(const char *name) { return find(group_handlers, name); }

// Stand-ins for named handlers that have not landed. They never pass for
// the real thing: a read, a write, an action or a group refresh answers 259
// "not supported" (a read leaves the property's default text in the buffer,
// so a client that prints it anyway shows no garbage).
uint32_t schema_unbound_property(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->body == nullptr || value == nullptr)
        return ORSA_FAILURE;
    if (mode == HM_MODE_GET)
        orsa_strlcpy(value, HM_PROPERTY(property)->value, HM_VALUE_SIZE);
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

uint32_t schema_unbound_action(HmNode *, HmNode *, HmValueSlot *)
{
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

uint32_t schema_unbound_group(HmNode *)
{
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}

std::vector<const char *> schema_standin_names(void)
{
    std::vector<const char *> names;
    auto note = [&names](const char *name) {
        for (const char *n : names)
            if (strcmp(n, name) == 0)
                return;
        names.push_back(name);
    };
    for (size_t k = 0; k < schema_all_kind_count; k++) {
        SchemaKind *kind = schema_all_kinds[k];
        schema_bind_kind(kind);
        if (kind->refresh == schema_unbound_group)
            note(kind->refresh_handler);
        for (uint32_t i = 0; i < kind->row_count; i++) {
            const SchemaRow &r = kind->rows[i];
            if (r.row == Row::Property && r.property_handler == schema_unbound_property)
                note(r.handler);
            else if (r.row == Row::Group && r.group_handler == schema_unbound_group)
                note(r.handler);
            else if (r.row == Row::Action && r.action->descriptor->handler == schema_unbound_action)
                note(r.action->handler);
        }
    }
    return names;
}

SchemaKind *const schema_all_kinds[] = {
    &::kind_Kalderstone,   &::kind_iSCSIPhysicalHBA, &::kind_NICPhysicalHBA, &::kind_NICLogicalHBA,
    &::kind_EventLogEntry, &::kind_ExtFATModule,     &::kind_ExtFATMode,
    &::kind_LogicalHBA, &::kind_SendTargetPortal, &::kind_Target, &::kind_LUN, &::kind_Session, &::kind_Connection,
    &::kind_TargetPortal, &::kind_iSNSServer, &::kind_ARPTableEntry, &::kind_RouteTableEntry,
    &::kind_PortDiscoveryAndConfiguration, &::kind_Channel, &::kind_OperationalTLVSettings_ApplicationTLV,
    &::kind_PeerTLVSetting_ApplicationTLV, &::kind_AdministratorTLVSetting_ApplicationTLV,
    &::kind_OperationalPGSettings_PG, &::kind_PeerPGSetting_PG, &::kind_AdministratorPGSetting_PG,
    &::kind_ConfiguredProfile_Port, &::kind_ConfiguredProfile_Port_Function, &::kind_ActiveProfile_Port,
    &::kind_ActiveProfile_Port_Function, &::kind_Profile, &::kind_Profile_Protocol,
    &::kind_NCSIStaticConfiguration, &::kind_NCSIDynamicConfiguration, &::kind_LinkConfig,
};
const size_t schema_all_kind_count = sizeof(schema_all_kinds) / sizeof(schema_all_kinds[0]);
}  // namespace schema

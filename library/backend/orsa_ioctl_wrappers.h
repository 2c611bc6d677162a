// One wrapper per adapter firmware command. Each fixes the command's opcode,
// subsystem, payload length, direction, protocol and header version and hands
// the caller's payload (no header in front) to the command builder.
//
// Arguments, in order: the function the command goes to (an OrsaPort:
// instance number and device together); the payload; the payload length where
// the caller chooses it; the domain and the physical-HBA port of the request;
// for size queries, where the reply length the adapter needs goes.
// The result is the builder's library status (0 success).
//
// Which function to name:
//   - a command of one function: that function's port (orsa_port_of(node));
//   - a controller-wide command: the controller's port
//     (orsa_controller_port(controller), its first physical HBA), so that a
//     controller with iSCSI functions is reached through an iSCSI device;
//   - a command that only one driver carries: a port of that driver; a port of
//     the other driver is refused (1) and nothing is sent.
#pragma once

#include "backend/orsa_gateway.h"
#include "tree/hm_types.h"

// Directions: the reply fills the payload, the payload is a request only, both.
enum { ORSA_DIR_REPLY = 1, ORSA_DIR_REQUEST = 2, ORSA_DIR_BOTH = 3 };

// The command table. Row kinds:
//   W_FP fixed length, one driver only   (at, payload, domain, port)
//   W_FC fixed length, the function's    (at, payload, domain, port)
//   W_FK fixed length, controller-wide   (at, payload, domain, port)
//   W_VP caller length, one driver only  (at, payload, length, domain, port)
//   W_VC caller length, the function's   (at, payload, length, domain, port)
//   W_VK caller length, controller-wide  (at, payload, length, domain, port)
//   Q_P  size query, one driver only     (at, payload, domain, port, needed)
//   Q_K  size query, controller-wide     (at, payload, domain, port, needed)
// W_F*: (name, opcode, subsystem, length, direction, [protocol,] version)
// W_V*: (name, opcode, subsystem, direction, [protocol,] version)
// Q_*:  (name, opcode, subsystem, length, [protocol])
#define ORSA_COMMAND_TABLE(W_FP, W_FC, W_FK, W_VP, W_VC, W_VK, Q_P, Q_K) \
  Q_K(ioctl_get_eventlogbuffersize, 63, 2, 72) \
  Q_P(ioctl_get_plogintgtidbuffersize, 60, 6, 40, 1) \
  Q_P(ioctl_get_activesessionidbuffersize, 29, 6, 12, 1) \
  Q_P(ioctl_get_a_target_size, 32, 6, 816, 1) \
  Q_P(ioctl_get_all_tgt_id_buffer_size, 30, 6, 12, 1) \
  Q_P(ioctl_get_sessionconfig_size, 16, 6, 276, 1) \
  Q_P(ioctl_get_sendtargetsresponsesize, 33, 6, 264, 1) \
  Q_P(ioctl_get_a_session_size, 14, 6, 1164, 1) \
  Q_P(ioctl_get_SsnAttr_params_size, 48, 6, 1284, 1) \
  W_FK(ioctl_set_features, 191, 1, 16, 1, 0) \
  W_FK(ioctl_set_link_reconfig, 202, 1, 4, 2, 0) \
  W_VK(ioctl_get_link_reconfig, 201, 1, 1, 0) \
  W_FP(ioctl_set_oem_exec_cfg, 4, 21, 48, 2, 2, 0) \
  W_FP(ioctl_get_oem_exec_cfg, 4, 21, 48, 1, 2, 0) \
  W_FC(ioctl_set_ari_settings, 95, 1, 4, 2, 0) \
  W_FC(ioctl_get_ari_settings, 94, 1, 4, 1, 0) \
  W_FK(ioctl_set_switch_type, 124, 1, 8, 2, 0) \
  W_FK(ioctl_get_capabilities, 123, 1, 12, 1, 0) \
  W_FK(ioctl_ffv_params, 2, 19, 36, 1, 0) \
  W_FC(ioctl_get_fw_config, 58, 1, 156, 1, 0) \
  W_FP(ioctl_set_hsw_config, 153, 1, 20, 2, 2, 0) \
  W_FP(ioctl_get_hsw_config, 152, 1, 16, 1, 2, 0) \
  W_VC(ioctl_set_profile_config, 165, 1, 2, 1) \
  W_VC(ioctl_get_profile_config, 164, 1, 1, 1) \
  W_FK(ioctl_set_active_profile, 168, 1, 4, 2, 0) \
  W_FK(ioctl_get_active_profile, 167, 1, 4, 1, 0) \
  W_VK(ioctl_get_profile_cap, 161, 1, 1, 1) \
  W_VK(ioctl_get_profile_list, 166, 1, 1, 0) \
  W_FP(ioctl_get_domain, 44, 1, 4, 1, 1, 0) \
  W_FP(ioctl_enable_disable_domains, 43, 1, 4, 2, 1, 0) \
  W_FP(ioctl_set_boot_target_params, 53, 6, 528, 2, 1, 0) \
  W_FP(ioctl_get_boot_target_params, 52, 6, 8, 1, 1, 0) \
  W_VC(ioctl_get_coredump_seg, 24, 11, 1, 0) \
  W_FC(ioctl_get_coredump_seg_props, 23, 11, 16, 1, 0) \
  W_FC(ioctl_get_coredump_comp_props, 22, 11, 8, 1, 0) \
  W_FC(ioctl_get_coredump_props, 21, 11, 20, 1, 0) \
  W_FC(ioctl_get_cnt_additional_attribs, 121, 1, 612, 1, 0) \
  W_VK(ioctl_get_eventlog_entries, 63, 2, 1, 0) \
  W_VP(ioctl_scsi_passthru, 59, 6, 1, 1, 0) \
  W_FP(ioctl_get_discoveryparams, 28, 2, 888, 3, 1, 0) \
  W_FP(ioctl_set_discoveryparams, 29, 2, 888, 3, 1, 0) \
  W_FP(ioctl_del_persistent_target, 28, 6, 480, 3, 1, 0) \
  W_FP(ioctl_add_persistent_target, 27, 6, 1420, 3, 1, 0) \
  W_VP(ioctl_sendtargets_info, 34, 6, 3, 1, 0) \
  W_VP(ioctl_sendtargets, 33, 6, 3, 1, 0) \
  W_VP(ioctl_get_plogintgtid, 60, 6, 1, 1, 0) \
  W_FP(ioctl_get_persistentlogins, 25, 6, 900, 1, 1, 0) \
  W_VP(ioctl_get_activesessionid, 29, 6, 3, 1, 0) \
  W_VP(ioctl_get_a_target, 32, 6, 1, 1, 0) \
  W_VP(ioctl_get_all_tgt_id, 30, 6, 3, 1, 0) \
  W_FP(ioctl_ping, 6, 2, 24, 1, 1, 0) \
  W_FC(ioctl_get_dcbx_mode, 4, 16, 4, 1, 0) \
  W_FC(ioctl_set_dcbx_mode, 5, 16, 4, 2, 0) \
  W_FC(ioctl_set_dcbx_cfg_params_v1, 2, 16, 368, 2, 1) \
  W_FC(ioctl_get_dcbx_cfg_params_v1, 1, 16, 368, 1, 1) \
  W_FC(ioctl_set_dcbx_cfg_params, 2, 16, 312, 2, 0) \
  W_VC(ioctl_get_opg_params, 108, 1, 1, 0) \
  W_FC(ioctl_get_dcbx_cfg_params, 1, 16, 312, 1, 0) \
  W_FC(ioctl_pivard_get_dcbx_mib_params, 3, 16, 60, 1, 0) \
  W_FC(ioctl_get_dcbx_mib_params, 3, 16, 108, 1, 0) \
  W_FC(ioctl_get_lldp_stats, 3, 15, 48, 1, 0) \
  W_FC(ioctl_set_lldp_params, 2, 15, 8, 2, 0) \
  W_FC(ioctl_get_lldp_params, 1, 15, 1576, 1, 0) \
  W_FK(ioctl_ddr_dma_test, 17, 11, 8208, 3, 0) \
  W_FC(ioctl_loop_back_test, 18, 11, 28, 3, 0) \
  W_FC(ioctl_set_loopbackmode, 19, 11, 4, 2, 0) \
  W_FC(ioctl_get_loopbackmode, 20, 11, 4, 1, 0) \
  W_FC(ioctl_pivard_read_trans_recv, 73, 1, 264, 1, 0) \
  W_FC(ioctl_read_trans_recv, 73, 1, 264, 1, 0) \
  W_FC(ioctl_get_port_name_v1, 77, 1, 4, 1, 1) \
  W_FC(ioctl_get_port_name, 77, 1, 4, 1, 0) \
  W_FC(ioctl_run_selftest, 9, 18, 555, 2, 0) \
  W_FC(ioctl_run_tdr_test, 11, 18, 24, 2, 0) \
  W_FC(ioctl_get_baseT_stats_v1, 8, 18, 112, 1, 1) \
  W_FC(ioctl_get_baseT_stats, 8, 18, 84, 1, 0) \
  W_FK(ioctl_get_oem_params, 76, 1, 44, 1, 0) \
  W_FC(ioctl_set_port_state, 62, 1, 4, 2, 0) \
  W_FC(ioctl_pivard_set_port_state, 62, 1, 4, 2, 1) \
  W_FC(ioctl_pivard_get_port_state, 71, 1, 4, 1, 1) \
  W_FC(ioctl_get_port_state, 71, 1, 4, 1, 0) \
  W_FC(ioctl_set_nvp_value, 10, 18, 8, 2, 0) \
  W_FC(ioctl_get_nvp_value, 12, 18, 4, 1, 0) \
  W_FC(ioctl_set_tx_throttel, 132, 1, 4, 2, 0) \
  W_FC(ioctl_get_tx_throttel, 133, 1, 4, 1, 0) \
  W_FC(ioctl_set_beacon_state, 69, 1, 4, 2, 0) \
  W_FC(ioctl_set_port_speed, 57, 1, 8, 2, 1) \
  W_FC(ioctl_get_beacon_state, 70, 1, 4, 1, 0) \
  W_FK(ioctl_set_ncsi_attributes, 87, 1, 32, 2, 0) \
  W_FK(ioctl_get_ncsi_attributes, 86, 1, 72, 1, 0) \
  W_VK(ioctl_set_ks_conf, 82, 1, 2, 0) \
  W_VC(ioctl_set_ks_conf_V1, 82, 1, 2, 1) \
  W_VC(ioctl_get_ks_conf_V1, 81, 1, 1, 1) \
  W_VK(ioctl_set_common_profile_config, 165, 1, 2, 0) \
  W_VK(ioctl_get_common_profile_config, 164, 1, 1, 0) \
  W_VK(ioctl_get_ks_conf, 81, 1, 1, 0) \
  W_VC(ioctl_get_pivard_vpd_data, 91, 1, 1, 1) \
  W_VC(ioctl_get_vpd_data, 91, 1, 1, 0) \
  W_VC(ioctl_read_fruvpd_data, 3, 19, 1, 0) \
  W_FC(ioctl_get_vnic_function_name, 120, 1, 92, 1, 0) \
  W_FC(ioctl_get_vnic_function_stats, 64, 1, 24, 1, 0) \
  W_FK(ioctl_get_adapterid, 110, 1, 24, 1, 0) \
  W_FC(ioctl_get_mac_list, 147, 1, 532, 1, 0) \
  W_FC(ioctl_get_mac_query, 1, 1, 72, 1, 0) \
  W_VC(ioctl_get_mac, 1, 1, 1, 0) \
  W_FP(ioctl_set_mac, 2, 1, 12, 2, 2, 0) \
  W_FC(ioctl_get_boot_config, 66, 1, 8, 1, 0) \
  W_FC(ioctl_get_pci_func_mapping, 83, 1, 68, 1, 0) \
  W_FC(ioctl_set_boot_config, 67, 1, 8, 2, 0) \
  W_FC(ioctl_read_pci_conf, 72, 1, 264, 1, 0) \
  W_FK(ioctl_get_reset_needed, 84, 1, 4, 1, 0) \
  W_FK(ioctl_clear_fat, 68, 1, 20, 2, 0) \
  W_FC(ioctl_fetch_controller_attribs, 32, 1, 540, 1, 0) \
  W_FP(ioctl_fetch_initiator_name_params, 6, 6, 260, 1, 1, 0) \
  W_FP(ioctl_fetch_initiator_name_params_v1, 6, 6, 260, 1, 1, 1) \
  W_FP(ioctl_save_initiator_name_params, 7, 6, 260, 2, 1, 0) \
  W_FP(ioctl_save_initiator_name_params_v1, 7, 6, 260, 2, 1, 1) \
  W_FP(ioctl_get_pcie_info, 62, 6, 4, 1, 1, 0) \
  W_FP(ioctl_set_session_conf, 17, 6, 280, 2, 1, 0) \
  W_VP(ioctl_get_session_conf, 16, 6, 1, 1, 0) \
  W_VP(ioctl_get_a_session, 14, 6, 1, 1, 0) \
  W_FP(ioctl_Save_Route_Table, 11, 2, 72, 2, 1, 0) \
  W_FP(ioctl_Save_Arp_Table, 9, 2, 48, 2, 1, 0) \
  W_VP(ioctl_Fetch_Route_Table, 10, 2, 1, 1, 0) \
  W_VK(ioctl_read_extfat_string_table, 130, 1, 1, 0) \
  W_VK(ioctl_retrieve_extfat_snapshot, 128, 1, 1, 0) \
  W_FK(ioctl_configure_extfat_snapshot, 127, 1, 4, 2, 0) \
  W_VK(ioctl_get_extfat_capabilites, 125, 1, 1, 0) \
  W_VK(ioctl_set_extfat_capabilites, 126, 1, 2, 0) \
  W_VP(ioctl_Fetch_ARP_Table, 8, 2, 1, 1, 0) \
  W_FP(ioctl_login_target, 23, 6, 1420, 3, 1, 0) \
  W_FP(ioctl_logout_target, 24, 6, 4, 3, 1, 0) \
  W_FP(ioctl_get_intr_inst_params, 46, 6, 264, 1, 1, 0) \
  W_FP(ioctl_get_login_params, 47, 6, 520, 1, 1, 0) \
  W_FC(ioctl_erase_ROM, 7, 1, 20, 2, 0) \
  W_FC(ioctl_set_factory_profile_config_v1, 169, 1, 4, 2, 1) \
  W_FC(ioctl_set_factory_profile_config, 169, 1, 4, 2, 0) \
  W_FP(ioctl_set_vlan_params, 14, 2, 8, 2, 1, 0) \
  W_VP(ioctl_get_all_if_id, 24, 2, 1, 1, 0) \
  W_VP(ioctl_get_if_info_params, 25, 2, 1, 1, 0) \
  W_VP(ioctl_get_if_info_params_v1, 25, 2, 1, 1, 1) \
  W_VP(ioctl_modify_ip_entry, 21, 2, 3, 1, 0) \
  W_VP(ioctl_fetch_ip_entry, 21, 2, 1, 1, 0) \
  W_FP(ioctl_release_dhcp, 18, 2, 8, 2, 1, 0) \
  W_FP(ioctl_config_dhcp, 17, 2, 16, 2, 1, 0) \
  W_FP(ioctl_set_default_gateway, 23, 2, 28, 2, 1, 0) \
  W_FC(ioctl_get_phy_details, 102, 1, 24, 1, 0) \
  W_FP(ioctl_get_default_gateway, 22, 2, 24, 1, 1, 0) \
  W_FC(ioctl_get_link_speed, 134, 1, 4, 1, 0) \
  W_FC(ioctl_get_NIC_link_params, 5, 1, 12, 1, 0) \
  W_FC(ioctl_get_link_status_v1, 5, 1, 12, 1, 1) \
  W_VP(ioctl_get_NIC_params, 7, 2, 1, 1, 0) \
  W_VP(ioctl_get_SsnAttr_params, 48, 6, 1, 1, 0) \
  W_FP(ioctl_get_node_params, 30, 2, 760, 1, 1, 0) \
  W_VC(ioctl_common_write_object_version1, 172, 1, 2, 1) \
  W_VC(ioctl_common_read_object_version1, 171, 1, 1, 1) \
  W_VC(ioctl_common_read_object_v1, 171, 1, 1, 1) \
  W_VC(ioctl_common_write_object_v1, 172, 1, 2, 1) \
  W_FC(ioctl_qos_set, 28, 1, 36, 2, 0) \
  W_FC(ioctl_qos_get, 27, 1, 32, 2, 0)

#define ORSA_DECL_W_F(name, ...) u32 name(OrsaPort at, void* payload, u8 domain, u8 port);
#define ORSA_DECL_W_V(name, ...) u32 name(OrsaPort at, void* payload, u32 length, u8 domain, u8 port);
#define ORSA_DECL_Q(name, ...) u32 name(OrsaPort at, void* payload, u8 domain, u8 port, u16* needed);

ORSA_COMMAND_TABLE(ORSA_DECL_W_F, ORSA_DECL_W_F, ORSA_DECL_W_F, ORSA_DECL_W_V, ORSA_DECL_W_V, ORSA_DECL_W_V,
                   ORSA_DECL_Q, ORSA_DECL_Q)

// Commands that do more than a table row.

// buffer: 16 bytes of header space, then the 8-byte payload (NIC device only).
u32 ioctl_mgmt_flow_control(OrsaPort at, void* buffer, u8 domain, u8 port);
// buffer: 16 bytes of header space, then the 4-byte payload.
u32 ioctl_common_get_flow_control(OrsaPort at, void* buffer, u8 domain, u8 port);
// Controller-wide; sends 16 zero bytes: the command carries no data of the caller's.
u32 ioctl_clear_event_log(OrsaPort at, u8 domain, u8 port);
// Controller-wide; payload length: the request's third u32 word plus the 20
// bytes of command fields.
u32 ioctl_retrieve_fat(OrsaPort at, void* payload, u8 domain, u8 port);
// Sends an empty payload: the payload argument is not read.
u32 ioctl_start_management_service(OrsaPort at, void* payload, u8 domain, u8 port);
// The request names PF pf_index (sent as pfnumber pf_index + 1).
u32 ioctl_get_macaddress_list(OrsaPort at, void* payload, u8 domain, u8 port, u32 pf_index);
// Configuration signature: only iSCSI controllers keep one. `at` is the
// controller's port: on a NIC port nothing is sent and 0 returned; a port of
// neither driver is refused (1).
u32 ioctl_set_config_sign(OrsaPort at, void* payload, u8 domain, u8 port);
u32 ioctl_get_config_sign(OrsaPort at, void* payload, u8 domain, u8 port);
// These two take the whole command buffer: 16 bytes of header space, then the payload.
u32 ioctl_get_configured_personality(OrsaPort at, u8* buffer, u32 length, u8 domain, u8 port);
u32 ioctl_get_available_personalities(OrsaPort at, u8* buffer, u8 domain, u8 port);

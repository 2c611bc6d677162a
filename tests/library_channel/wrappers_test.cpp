// Every command wrapper, as one table: what the emulated firmware receives
// (opcode, subsystem, header fields, payload, device) and what the wrapper
// gives back from the response.
#include <set>
#include <string>

#include "backend/orsa_ioctl_wrappers.h"
#include "channel_fixture.h"

namespace channel_test {
namespace {

enum Proto { kIscsi, kNic, kCaller, kController };
constexpr int kCallerLen = -1;  // the caller chooses: the test sends kCallerBytes
constexpr int kFatLen = -2;     // the request's third word + 20
constexpr uint32_t kCallerBytes = 40;
constexpr uint32_t kFatWord = 12;

struct Call {
  OrsaPort at;
  uint8_t* payload;  // 16 bytes of room lie before it
  uint32_t length;
  uint8_t domain, port;
  uint16_t* needed;
};
using CallFn = uint32_t (*)(const Call&);

#define CALL_F(f) [](const Call& c) { return f(c.at, c.payload, c.domain, c.port); }
#define CALL_FP(f) CALL_F(f)
#define CALL_FC(f) CALL_F(f)
#define CALL_FK(f) CALL_F(f)
#define CALL_V(f) [](const Call& c) { return f(c.at, c.payload, c.length, c.domain, c.port); }
#define CALL_VP(f) CALL_V(f)
#define CALL_VC(f) CALL_V(f)
#define CALL_VK(f) CALL_V(f)
#define CALL_Q(f) [](const Call& c) { return f(c.at, c.payload, c.domain, c.port, c.needed); }
#define CALL_QP(f) CALL_Q(f)
#define CALL_QK(f) CALL_Q(f)
#define CALL_FLOW_NIC(f) [](const Call& c) { return f(c.at, c.payload - 16, c.domain, c.port); }
#define CALL_FLOW(f) CALL_FLOW_NIC(f)
#define CALL_NODATA_K(f) [](const Call& c) { return f(c.at, c.domain, c.port); }
#define CALL_MACLIST(f) [](const Call& c) { return f(c.at, c.payload, c.domain, c.port, 0); }

struct Row {
  const char* name;
  uint8_t opcode, subsystem;
  int length;       // payload bytes, or kCallerLen / kFatLen
  int direction;    // 0 for a size query
  bool size_query;
  Proto proto;
  uint8_t version;
  CallFn call;
};

// The command table as the wrappers must send it.
const Row kRows[] = {
    {"ioctl_get_eventlogbuffersize", 63, 2, 72, 0, true, kController, 0, CALL_QK(ioctl_get_eventlogbuffersize)},
    {"ioctl_get_plogintgtidbuffersize", 60, 6, 40, 0, true, kIscsi, 0, CALL_QP(ioctl_get_plogintgtidbuffersize)},
    {"ioctl_get_activesessionidbuffersize", 29, 6, 12, 0, true, kIscsi, 0, CALL_QP(ioctl_get_activesessionidbuffersize)},
    {"ioctl_get_a_target_size", 32, 6, 816, 0, true, kIscsi, 0, CALL_QP(ioctl_get_a_target_size)},
    {"ioctl_get_all_tgt_id_buffer_size", 30, 6, 12, 0, true, kIscsi, 0, CALL_QP(ioctl_get_all_tgt_id_buffer_size)},
    {"ioctl_get_sessionconfig_size", 16, 6, 276, 0, true, kIscsi, 0, CALL_QP(ioctl_get_sessionconfig_size)},
    {"ioctl_get_sendtargetsresponsesize", 33, 6, 264, 0, true, kIscsi, 0, CALL_QP(ioctl_get_sendtargetsresponsesize)},
    {"ioctl_get_a_session_size", 14, 6, 1164, 0, true, kIscsi, 0, CALL_QP(ioctl_get_a_session_size)},
    {"ioctl_get_SsnAttr_params_size", 48, 6, 1284, 0, true, kIscsi, 0, CALL_QP(ioctl_get_SsnAttr_params_size)},
    {"ioctl_set_features", 191, 1, 16, 1, false, kController, 0, CALL_FK(ioctl_set_features)},
    {"ioctl_set_link_reconfig", 202, 1, 4, 2, false, kController, 0, CALL_FK(ioctl_set_link_reconfig)},
    {"ioctl_get_link_reconfig", 201, 1, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_get_link_reconfig)},
    {"ioctl_set_oem_exec_cfg", 4, 21, 48, 2, false, kNic, 0, CALL_FP(ioctl_set_oem_exec_cfg)},
    {"ioctl_get_oem_exec_cfg", 4, 21, 48, 1, false, kNic, 0, CALL_FP(ioctl_get_oem_exec_cfg)},
    {"ioctl_mgmt_flow_control", 205, 1, 8, 1, false, kNic, 0, CALL_FLOW_NIC(ioctl_mgmt_flow_control)},
    {"ioctl_common_get_flow_control", 37, 1, 4, 1, false, kCaller, 0, CALL_FLOW(ioctl_common_get_flow_control)},
    {"ioctl_set_ari_settings", 95, 1, 4, 2, false, kCaller, 0, CALL_FC(ioctl_set_ari_settings)},
    {"ioctl_get_ari_settings", 94, 1, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_ari_settings)},
    {"ioctl_set_switch_type", 124, 1, 8, 2, false, kController, 0, CALL_FK(ioctl_set_switch_type)},
    {"ioctl_get_capabilities", 123, 1, 12, 1, false, kController, 0, CALL_FK(ioctl_get_capabilities)},
    {"ioctl_ffv_params", 2, 19, 36, 1, false, kController, 0, CALL_FK(ioctl_ffv_params)},
    {"ioctl_get_fw_config", 58, 1, 156, 1, false, kCaller, 0, CALL_FC(ioctl_get_fw_config)},
    {"ioctl_set_hsw_config", 153, 1, 20, 2, false, kNic, 0, CALL_FP(ioctl_set_hsw_config)},
    {"ioctl_get_hsw_config", 152, 1, 16, 1, false, kNic, 0, CALL_FP(ioctl_get_hsw_config)},
    {"ioctl_set_profile_config", 165, 1, kCallerLen, 2, false, kCaller, 1, CALL_VC(ioctl_set_profile_config)},
    {"ioctl_get_profile_config", 164, 1, kCallerLen, 1, false, kCaller, 1, CALL_VC(ioctl_get_profile_config)},
    {"ioctl_set_active_profile", 168, 1, 4, 2, false, kController, 0, CALL_FK(ioctl_set_active_profile)},
    {"ioctl_get_active_profile", 167, 1, 4, 1, false, kController, 0, CALL_FK(ioctl_get_active_profile)},
    {"ioctl_get_profile_cap", 161, 1, kCallerLen, 1, false, kController, 1, CALL_VK(ioctl_get_profile_cap)},
    {"ioctl_get_profile_list", 166, 1, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_get_profile_list)},
    {"ioctl_get_domain", 44, 1, 4, 1, false, kIscsi, 0, CALL_FP(ioctl_get_domain)},
    {"ioctl_enable_disable_domains", 43, 1, 4, 2, false, kIscsi, 0, CALL_FP(ioctl_enable_disable_domains)},
    {"ioctl_set_boot_target_params", 53, 6, 528, 2, false, kIscsi, 0, CALL_FP(ioctl_set_boot_target_params)},
    {"ioctl_get_boot_target_params", 52, 6, 8, 1, false, kIscsi, 0, CALL_FP(ioctl_get_boot_target_params)},
    {"ioctl_get_coredump_seg", 24, 11, kCallerLen, 1, false, kCaller, 0, CALL_VC(ioctl_get_coredump_seg)},
    {"ioctl_get_coredump_seg_props", 23, 11, 16, 1, false, kCaller, 0, CALL_FC(ioctl_get_coredump_seg_props)},
    {"ioctl_get_coredump_comp_props", 22, 11, 8, 1, false, kCaller, 0, CALL_FC(ioctl_get_coredump_comp_props)},
    {"ioctl_get_coredump_props", 21, 11, 20, 1, false, kCaller, 0, CALL_FC(ioctl_get_coredump_props)},
    {"ioctl_get_cnt_additional_attribs", 121, 1, 612, 1, false, kCaller, 0, CALL_FC(ioctl_get_cnt_additional_attribs)},
    {"ioctl_clear_event_log", 62, 2, 16, 2, false, kController, 0, CALL_NODATA_K(ioctl_clear_event_log)},
    {"ioctl_get_eventlog_entries", 63, 2, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_get_eventlog_entries)},
    {"ioctl_scsi_passthru", 59, 6, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_scsi_passthru)},
    {"ioctl_get_discoveryparams", 28, 2, 888, 3, false, kIscsi, 0, CALL_FP(ioctl_get_discoveryparams)},
    {"ioctl_set_discoveryparams", 29, 2, 888, 3, false, kIscsi, 0, CALL_FP(ioctl_set_discoveryparams)},
    {"ioctl_del_persistent_target", 28, 6, 480, 3, false, kIscsi, 0, CALL_FP(ioctl_del_persistent_target)},
    {"ioctl_add_persistent_target", 27, 6, 1420, 3, false, kIscsi, 0, CALL_FP(ioctl_add_persistent_target)},
    {"ioctl_sendtargets_info", 34, 6, kCallerLen, 3, false, kIscsi, 0, CALL_VP(ioctl_sendtargets_info)},
    {"ioctl_sendtargets", 33, 6, kCallerLen, 3, false, kIscsi, 0, CALL_VP(ioctl_sendtargets)},
    {"ioctl_get_plogintgtid", 60, 6, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_plogintgtid)},
    {"ioctl_get_persistentlogins", 25, 6, 900, 1, false, kIscsi, 0, CALL_FP(ioctl_get_persistentlogins)},
    {"ioctl_get_activesessionid", 29, 6, kCallerLen, 3, false, kIscsi, 0, CALL_VP(ioctl_get_activesessionid)},
    {"ioctl_get_a_target", 32, 6, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_a_target)},
    {"ioctl_get_all_tgt_id", 30, 6, kCallerLen, 3, false, kIscsi, 0, CALL_VP(ioctl_get_all_tgt_id)},
    {"ioctl_ping", 6, 2, 24, 1, false, kIscsi, 0, CALL_FP(ioctl_ping)},
    {"ioctl_get_dcbx_mode", 4, 16, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_dcbx_mode)},
    {"ioctl_set_dcbx_mode", 5, 16, 4, 2, false, kCaller, 0, CALL_FC(ioctl_set_dcbx_mode)},
    {"ioctl_set_dcbx_cfg_params_v1", 2, 16, 368, 2, false, kCaller, 1, CALL_FC(ioctl_set_dcbx_cfg_params_v1)},
    {"ioctl_get_dcbx_cfg_params_v1", 1, 16, 368, 1, false, kCaller, 1, CALL_FC(ioctl_get_dcbx_cfg_params_v1)},
    {"ioctl_set_dcbx_cfg_params", 2, 16, 312, 2, false, kCaller, 0, CALL_FC(ioctl_set_dcbx_cfg_params)},
    {"ioctl_get_opg_params", 108, 1, kCallerLen, 1, false, kCaller, 0, CALL_VC(ioctl_get_opg_params)},
    {"ioctl_get_dcbx_cfg_params", 1, 16, 312, 1, false, kCaller, 0, CALL_FC(ioctl_get_dcbx_cfg_params)},
    {"ioctl_pivard_get_dcbx_mib_params", 3, 16, 60, 1, false, kCaller, 0, CALL_FC(ioctl_pivard_get_dcbx_mib_params)},
    {"ioctl_get_dcbx_mib_params", 3, 16, 108, 1, false, kCaller, 0, CALL_FC(ioctl_get_dcbx_mib_params)},
    {"ioctl_get_lldp_stats", 3, 15, 48, 1, false, kCaller, 0, CALL_FC(ioctl_get_lldp_stats)},
    {"ioctl_set_lldp_params", 2, 15, 8, 2, false, kCaller, 0, CALL_FC(ioctl_set_lldp_params)},
    {"ioctl_get_lldp_params", 1, 15, 1576, 1, false, kCaller, 0, CALL_FC(ioctl_get_lldp_params)},
    {"ioctl_ddr_dma_test", 17, 11, 8208, 3, false, kController, 0, CALL_FK(ioctl_ddr_dma_test)},
    {"ioctl_loop_back_test", 18, 11, 28, 3, false, kCaller, 0, CALL_FC(ioctl_loop_back_test)},
    {"ioctl_set_loopbackmode", 19, 11, 4, 2, false, kCaller, 0, CALL_FC(ioctl_set_loopbackmode)},
    {"ioctl_get_loopbackmode", 20, 11, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_loopbackmode)},
    {"ioctl_pivard_read_trans_recv", 73, 1, 264, 1, false, kCaller, 0, CALL_FC(ioctl_pivard_read_trans_recv)},
    {"ioctl_read_trans_recv", 73, 1, 264, 1, false, kCaller, 0, CALL_FC(ioctl_read_trans_recv)},
    {"ioctl_get_port_name_v1", 77, 1, 4, 1, false, kCaller, 1, CALL_FC(ioctl_get_port_name_v1)},
    {"ioctl_get_port_name", 77, 1, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_port_name)},
    {"ioctl_run_selftest", 9, 18, 555, 2, false, kCaller, 0, CALL_FC(ioctl_run_selftest)},
    {"ioctl_run_tdr_test", 11, 18, 24, 2, false, kCaller, 0, CALL_FC(ioctl_run_tdr_test)},
    {"ioctl_get_baseT_stats_v1", 8, 18, 112, 1, false, kCaller, 1, CALL_FC(ioctl_get_baseT_stats_v1)},
    {"ioctl_get_baseT_stats", 8, 18, 84, 1, false, kCaller, 0, CALL_FC(ioctl_get_baseT_stats)},
    {"ioctl_get_oem_params", 76, 1, 44, 1, false, kController, 0, CALL_FK(ioctl_get_oem_params)},
    {"ioctl_set_port_state", 62, 1, 4, 2, false, kCaller, 0, CALL_FC(ioctl_set_port_state)},
    {"ioctl_pivard_set_port_state", 62, 1, 4, 2, false, kCaller, 1, CALL_FC(ioctl_pivard_set_port_state)},
    {"ioctl_pivard_get_port_state", 71, 1, 4, 1, false, kCaller, 1, CALL_FC(ioctl_pivard_get_port_state)},
    {"ioctl_get_port_state", 71, 1, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_port_state)},
    {"ioctl_set_nvp_value", 10, 18, 8, 2, false, kCaller, 0, CALL_FC(ioctl_set_nvp_value)},
    {"ioctl_get_nvp_value", 12, 18, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_nvp_value)},
    {"ioctl_set_tx_throttel", 132, 1, 4, 2, false, kCaller, 0, CALL_FC(ioctl_set_tx_throttel)},
    {"ioctl_get_tx_throttel", 133, 1, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_tx_throttel)},
    {"ioctl_set_beacon_state", 69, 1, 4, 2, false, kCaller, 0, CALL_FC(ioctl_set_beacon_state)},
    {"ioctl_set_port_speed", 57, 1, 8, 2, false, kCaller, 1, CALL_FC(ioctl_set_port_speed)},
    {"ioctl_get_beacon_state", 70, 1, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_beacon_state)},
    {"ioctl_set_ncsi_attributes", 87, 1, 32, 2, false, kController, 0, CALL_FK(ioctl_set_ncsi_attributes)},
    {"ioctl_get_ncsi_attributes", 86, 1, 72, 1, false, kController, 0, CALL_FK(ioctl_get_ncsi_attributes)},
    {"ioctl_set_ks_conf", 82, 1, kCallerLen, 2, false, kController, 0, CALL_VK(ioctl_set_ks_conf)},
    {"ioctl_set_ks_conf_V1", 82, 1, kCallerLen, 2, false, kCaller, 1, CALL_VC(ioctl_set_ks_conf_V1)},
    {"ioctl_get_ks_conf_V1", 81, 1, kCallerLen, 1, false, kCaller, 1, CALL_VC(ioctl_get_ks_conf_V1)},
    {"ioctl_set_common_profile_config", 165, 1, kCallerLen, 2, false, kController, 0, CALL_VK(ioctl_set_common_profile_config)},
    {"ioctl_get_common_profile_config", 164, 1, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_get_common_profile_config)},
    {"ioctl_get_ks_conf", 81, 1, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_get_ks_conf)},
    {"ioctl_get_pivard_vpd_data", 91, 1, kCallerLen, 1, false, kCaller, 1, CALL_VC(ioctl_get_pivard_vpd_data)},
    {"ioctl_get_vpd_data", 91, 1, kCallerLen, 1, false, kCaller, 0, CALL_VC(ioctl_get_vpd_data)},
    {"ioctl_read_fruvpd_data", 3, 19, kCallerLen, 1, false, kCaller, 0, CALL_VC(ioctl_read_fruvpd_data)},
    {"ioctl_get_vnic_function_name", 120, 1, 92, 1, false, kCaller, 0, CALL_FC(ioctl_get_vnic_function_name)},
    {"ioctl_get_vnic_function_stats", 64, 1, 24, 1, false, kCaller, 0, CALL_FC(ioctl_get_vnic_function_stats)},
    {"ioctl_get_adapterid", 110, 1, 24, 1, false, kController, 0, CALL_FK(ioctl_get_adapterid)},
    {"ioctl_get_mac_list", 147, 1, 532, 1, false, kCaller, 0, CALL_FC(ioctl_get_mac_list)},
    {"ioctl_get_macaddress_list", 147, 1, 532, 1, false, kCaller, 0, CALL_MACLIST(ioctl_get_macaddress_list)},
    {"ioctl_get_mac_query", 1, 1, 72, 1, false, kCaller, 0, CALL_FC(ioctl_get_mac_query)},
    {"ioctl_get_mac", 1, 1, kCallerLen, 1, false, kCaller, 0, CALL_VC(ioctl_get_mac)},
    {"ioctl_set_mac", 2, 1, 12, 2, false, kNic, 0, CALL_FP(ioctl_set_mac)},
    {"ioctl_get_boot_config", 66, 1, 8, 1, false, kCaller, 0, CALL_FC(ioctl_get_boot_config)},
    {"ioctl_get_pci_func_mapping", 83, 1, 68, 1, false, kCaller, 0, CALL_FC(ioctl_get_pci_func_mapping)},
    {"ioctl_set_boot_config", 67, 1, 8, 2, false, kCaller, 0, CALL_FC(ioctl_set_boot_config)},
    {"ioctl_read_pci_conf", 72, 1, 264, 1, false, kCaller, 0, CALL_FC(ioctl_read_pci_conf)},
    {"ioctl_get_reset_needed", 84, 1, 4, 1, false, kController, 0, CALL_FK(ioctl_get_reset_needed)},
    {"ioctl_clear_fat", 68, 1, 20, 2, false, kController, 0, CALL_FK(ioctl_clear_fat)},
    {"ioctl_retrieve_fat", 68, 1, kFatLen, 1, false, kController, 0, CALL_FK(ioctl_retrieve_fat)},
    {"ioctl_start_management_service", 88, 1, 0, 1, false, kCaller, 0, CALL_FC(ioctl_start_management_service)},
    {"ioctl_fetch_controller_attribs", 32, 1, 540, 1, false, kCaller, 0, CALL_FC(ioctl_fetch_controller_attribs)},
    {"ioctl_fetch_initiator_name_params", 6, 6, 260, 1, false, kIscsi, 0, CALL_FP(ioctl_fetch_initiator_name_params)},
    {"ioctl_fetch_initiator_name_params_v1", 6, 6, 260, 1, false, kIscsi, 1, CALL_FP(ioctl_fetch_initiator_name_params_v1)},
    {"ioctl_save_initiator_name_params", 7, 6, 260, 2, false, kIscsi, 0, CALL_FP(ioctl_save_initiator_name_params)},
    {"ioctl_save_initiator_name_params_v1", 7, 6, 260, 2, false, kIscsi, 1, CALL_FP(ioctl_save_initiator_name_params_v1)},
    {"ioctl_get_pcie_info", 62, 6, 4, 1, false, kIscsi, 0, CALL_FP(ioctl_get_pcie_info)},
    {"ioctl_set_session_conf", 17, 6, 280, 2, false, kIscsi, 0, CALL_FP(ioctl_set_session_conf)},
    {"ioctl_get_session_conf", 16, 6, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_session_conf)},
    {"ioctl_get_a_session", 14, 6, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_a_session)},
    {"ioctl_Save_Route_Table", 11, 2, 72, 2, false, kIscsi, 0, CALL_FP(ioctl_Save_Route_Table)},
    {"ioctl_Save_Arp_Table", 9, 2, 48, 2, false, kIscsi, 0, CALL_FP(ioctl_Save_Arp_Table)},
    {"ioctl_Fetch_Route_Table", 10, 2, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_Fetch_Route_Table)},
    {"ioctl_read_extfat_string_table", 130, 1, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_read_extfat_string_table)},
    {"ioctl_retrieve_extfat_snapshot", 128, 1, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_retrieve_extfat_snapshot)},
    {"ioctl_configure_extfat_snapshot", 127, 1, 4, 2, false, kController, 0, CALL_FK(ioctl_configure_extfat_snapshot)},
    {"ioctl_get_extfat_capabilites", 125, 1, kCallerLen, 1, false, kController, 0, CALL_VK(ioctl_get_extfat_capabilites)},
    {"ioctl_set_extfat_capabilites", 126, 1, kCallerLen, 2, false, kController, 0, CALL_VK(ioctl_set_extfat_capabilites)},
    {"ioctl_Fetch_ARP_Table", 8, 2, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_Fetch_ARP_Table)},
    {"ioctl_login_target", 23, 6, 1420, 3, false, kIscsi, 0, CALL_FP(ioctl_login_target)},
    {"ioctl_logout_target", 24, 6, 4, 3, false, kIscsi, 0, CALL_FP(ioctl_logout_target)},
    {"ioctl_get_intr_inst_params", 46, 6, 264, 1, false, kIscsi, 0, CALL_FP(ioctl_get_intr_inst_params)},
    {"ioctl_get_login_params", 47, 6, 520, 1, false, kIscsi, 0, CALL_FP(ioctl_get_login_params)},
    {"ioctl_erase_ROM", 7, 1, 20, 2, false, kCaller, 0, CALL_FC(ioctl_erase_ROM)},
    {"ioctl_set_factory_profile_config_v1", 169, 1, 4, 2, false, kCaller, 1, CALL_FC(ioctl_set_factory_profile_config_v1)},
    {"ioctl_set_factory_profile_config", 169, 1, 4, 2, false, kCaller, 0, CALL_FC(ioctl_set_factory_profile_config)},
    {"ioctl_set_vlan_params", 14, 2, 8, 2, false, kIscsi, 0, CALL_FP(ioctl_set_vlan_params)},
    {"ioctl_get_all_if_id", 24, 2, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_all_if_id)},
    {"ioctl_get_if_info_params", 25, 2, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_if_info_params)},
    {"ioctl_get_if_info_params_v1", 25, 2, kCallerLen, 1, false, kIscsi, 1, CALL_VP(ioctl_get_if_info_params_v1)},
    {"ioctl_modify_ip_entry", 21, 2, kCallerLen, 3, false, kIscsi, 0, CALL_VP(ioctl_modify_ip_entry)},
    {"ioctl_fetch_ip_entry", 21, 2, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_fetch_ip_entry)},
    {"ioctl_release_dhcp", 18, 2, 8, 2, false, kIscsi, 0, CALL_FP(ioctl_release_dhcp)},
    {"ioctl_config_dhcp", 17, 2, 16, 2, false, kIscsi, 0, CALL_FP(ioctl_config_dhcp)},
    {"ioctl_set_default_gateway", 23, 2, 28, 2, false, kIscsi, 0, CALL_FP(ioctl_set_default_gateway)},
    {"ioctl_get_phy_details", 102, 1, 24, 1, false, kCaller, 0, CALL_FC(ioctl_get_phy_details)},
    {"ioctl_get_default_gateway", 22, 2, 24, 1, false, kIscsi, 0, CALL_FP(ioctl_get_default_gateway)},
    {"ioctl_get_link_speed", 134, 1, 4, 1, false, kCaller, 0, CALL_FC(ioctl_get_link_speed)},
    {"ioctl_get_NIC_link_params", 5, 1, 12, 1, false, kCaller, 0, CALL_FC(ioctl_get_NIC_link_params)},
    {"ioctl_get_link_status_v1", 5, 1, 12, 1, false, kCaller, 1, CALL_FC(ioctl_get_link_status_v1)},
    {"ioctl_get_NIC_params", 7, 2, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_NIC_params)},
    {"ioctl_get_SsnAttr_params", 48, 6, kCallerLen, 1, false, kIscsi, 0, CALL_VP(ioctl_get_SsnAttr_params)},
    {"ioctl_get_node_params", 30, 2, 760, 1, false, kIscsi, 0, CALL_FP(ioctl_get_node_params)},
    {"ioctl_set_config_sign", 79, 1, 132, 2, false, kIscsi, 0, CALL_FK(ioctl_set_config_sign)},
    {"ioctl_get_config_sign", 78, 1, 132, 1, false, kIscsi, 0, CALL_FK(ioctl_get_config_sign)},
    {"ioctl_common_write_object_version1", 172, 1, kCallerLen, 2, false, kCaller, 1, CALL_VC(ioctl_common_write_object_version1)},
    {"ioctl_common_read_object_version1", 171, 1, kCallerLen, 1, false, kCaller, 1, CALL_VC(ioctl_common_read_object_version1)},
    {"ioctl_common_read_object_v1", 171, 1, kCallerLen, 1, false, kCaller, 1, CALL_VC(ioctl_common_read_object_v1)},
    {"ioctl_common_write_object_v1", 172, 1, kCallerLen, 2, false, kCaller, 1, CALL_VC(ioctl_common_write_object_v1)},
    {"ioctl_qos_set", 28, 1, 36, 2, false, kCaller, 0, CALL_FC(ioctl_qos_set)},
    {"ioctl_qos_get", 27, 1, 32, 2, false, kCaller, 0, CALL_FC(ioctl_qos_get)},
};

uint8_t sentByte(size_t i) { return uint8_t(i * 13 + 1); }
uint8_t replyByte(size_t i) { return uint8_t((i * 29 + 7) ^ 0xA5); }

// Answers every command with a recognisable reply as long as its request.
void echoHandler(adapter::Engine&, adapter::Cmd& c) {
  for (size_t i = 0; i < c.req_len && i < c.pcap; ++i) c.p[i] = replyByte(i);
  c.resp_len = c.req_len;
}

// One way to reach a wrapper's command: which function and device.
struct Variant {
  OrsaPort at;
  chardev::Dev dev;
  size_t adapter;
};

std::vector<Variant> variantsFor(Proto p) {
  // NIC function 2 = adapter 0 fn 1; NIC function 3 = adapter 1 fn 0; iSCSI function 2 = adapter 0 fn 3.
  switch (p) {
    case kIscsi: return {{orsa_iscsi_port(1), chardev::Dev::Iscsi, 0}};
    case kNic: return {{orsa_nic_port(2), chardev::Dev::Nic, 0}};
    case kCaller:
      return {{orsa_nic_port(2), chardev::Dev::Nic, 0}, {orsa_iscsi_port(2), chardev::Dev::Iscsi, 0}};
    case kController:
      // The controller's port: KS3's first iSCSI function, the Veskarn's first NIC function.
      return {{orsa_iscsi_port(2), chardev::Dev::Iscsi, 0}, {orsa_nic_port(3), chardev::Dev::Nic, 1}};
  }
  return {};
}

class WrapperTable : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    for (size_t a = 0; a < host_->adapterCount(); ++a)
      for (const Row& r : kRows) host_->engine(a).registerHandler(r.subsystem, r.opcode, echoHandler);
  }
};

TEST_F(WrapperTable, EveryWrapperSendsItsCommandAndReturnsTheReply) {
  std::set<std::string> names;
  for (const Row& r : kRows) {
    ASSERT_TRUE(names.insert(r.name).second) << r.name << " twice in the table";
    const bool maclist = std::string(r.name) == "ioctl_get_macaddress_list";
    const bool no_payload = std::string(r.name) == "ioctl_clear_event_log";
    uint32_t len = r.length == kCallerLen ? kCallerBytes : r.length == kFatLen ? kFatWord + 20 : uint32_t(r.length);
    for (const Variant& v : variantsFor(r.proto)) {
      SCOPED_TRACE(std::string(r.name) + (v.dev == chardev::Dev::Nic ? " on the NIC device" : " on iSCSI"));
      host_->clearLog();
      std::vector<uint8_t> room(16 + len + 16, 0xEE);
      uint8_t* payload = room.data() + 16;
      for (size_t i = 0; i < len; ++i) payload[i] = sentByte(i);
      if (r.length == kFatLen) {
        uint32_t w = kFatWord;
        memcpy(payload + 8, &w, 4);
      }
      std::vector<uint8_t> sent(payload, payload + len);
      uint16_t needed = 0xFFFF;
      Call call{v.at, payload, len, 0x2A, 1, &needed};
      ASSERT_EQ(r.call(call), 0u);

      auto pts = passthroughs();
      ASSERT_EQ(pts.size(), 1u);
      const chardev::LoggedIoctl& e = pts[0];
      EXPECT_EQ(e.dev, v.dev);
      std::vector<uint8_t> cmd = command(e);
      ASSERT_EQ(cmd.size(), 16u + len);
      EXPECT_EQ(cmd[0], r.opcode);
      EXPECT_EQ(cmd[1], r.subsystem);
      EXPECT_EQ(cmd[2], 1) << "port_number";
      EXPECT_EQ(cmd[3], 0x2A) << "domain";
      uint32_t timeout = r.opcode == 18 ? (r.subsystem == 2 ? 20 : 11) : v.dev == chardev::Dev::Nic ? 30 : 120;
      EXPECT_EQ(le32(cmd, 4), timeout);
      EXPECT_EQ(le32(cmd, 8), len) << "request_length";
      EXPECT_EQ(cmd[12], r.version);
      EXPECT_EQ(cmd[13], 0) << "vfnumber";
      EXPECT_EQ(le16(cmd, 14), maclist ? 1 : 0) << "pfnumber/vhnumber";
      std::vector<uint8_t> wire(cmd.begin() + 16, cmd.end());
      EXPECT_EQ(wire, no_payload ? std::vector<uint8_t>(len, 0) : sent) << "payload as sent";

      // The firmware decoded the same bytes.
      const std::vector<uint8_t>* fw = host_->engine(v.adapter).lastRequest(r.subsystem, r.opcode);
      ASSERT_NE(fw, nullptr);
      EXPECT_EQ(std::vector<uint8_t>(fw->begin(), fw->begin() + 16), std::vector<uint8_t>(cmd.begin(), cmd.begin() + 16));

      // The reply fills the caller's payload (every direction copies back).
      // (The NIC driver writes its own PCI location and version text into
      // the controller attributes it passes through, and the interface word
      // of its registers into the dump properties: a KS3 has no asic id
      // there.)
      auto driver_patched = [&](size_t i) {
        if (v.dev != chardev::Dev::Nic) return false;
        if (r.opcode == 21 && r.subsystem == 11) return i >= 4 && i < 8;
        return r.opcode == 32 && r.subsystem == 1 && ((i >= 352 && i < 384) || i == 508 || i == 509);
      };
      if (!no_payload) {
        for (size_t i = 0; i < len; ++i) {
          if (driver_patched(i)) continue;
          ASSERT_EQ(payload[i], replyByte(i)) << "reply byte " << i;
        }
      }
      for (size_t i = 0; i < 16; ++i) ASSERT_EQ(room[i], 0xEE) << "byte before the payload written";
      for (size_t i = 0; i < 16; ++i) ASSERT_EQ(payload[len + i], 0xEE) << "byte after the payload written";
      if (r.size_query) {
        EXPECT_EQ(needed, len) << "reply length reported";
      }
    }
    // A command only one driver carries never reaches the other driver's
    // device with that driver's function number.
    const bool sign = std::string(r.name).find("config_sign") != std::string::npos;
    if ((r.proto == kIscsi || r.proto == kNic) && !sign) {
      SCOPED_TRACE(std::string(r.name) + " to the other driver");
      host_->clearLog();
      std::vector<uint8_t> payload(len + 16, 0);
      uint16_t needed = 0;
      Call call{r.proto == kIscsi ? orsa_nic_port(1) : orsa_iscsi_port(1), payload.data() + 16, len, 0, 0, &needed};
      EXPECT_EQ(r.call(call), 1u);
      EXPECT_TRUE(passthroughs().empty());
    }
  }
  EXPECT_EQ(names.size(), 167u);
}

// A failing version-1 command still puts the header version back.
TEST_F(ChannelTest, VersionOneWrapperResetsVersionAfterFailure) {
  host_->engine(0).setFault(18, 8, {.status = 66});
  uint8_t stats[112] = {};
  EXPECT_EQ(ioctl_get_baseT_stats_v1(OrsaPort{1, ORSA_PROTO_NIC}, stats, 0, 0), 149u);
  EXPECT_EQ(orsa_glob.hdr_version, 0);
  auto pts = passthroughs();
  ASSERT_EQ(pts.size(), 1u);
  EXPECT_EQ(command(pts[0])[12], 1) << "sent as version 1";
}

// The configuration signature lives on iSCSI controllers only.
TEST_F(ChannelTest, ConfigSignOnNicControllerSendsNothing) {
  std::vector<uint8_t> sign(132, 0x5C);
  EXPECT_EQ(ioctl_get_config_sign(OrsaPort{3, ORSA_PROTO_NIC}, sign.data(), 0, 0), 0u);
  EXPECT_EQ(sign, std::vector<uint8_t>(132, 0x5C));
  EXPECT_EQ(ioctl_set_config_sign(OrsaPort{3, ORSA_PROTO_NIC}, sign.data(), 0, 0), 0u);
  EXPECT_TRUE(passthroughs().empty());
  // A controller of neither protocol is refused.
  EXPECT_EQ(ioctl_set_config_sign(OrsaPort{1, 7}, sign.data(), 0, 0), 1u);
  EXPECT_TRUE(passthroughs().empty());
}

TEST_F(ChannelTest, MacAddressListNamesThePf) {
  struct Case {
    uint32_t pf_index;
    uint16_t pfnumber;
  } cases[] = {{0, 1}, {3, 4}};
  for (const Case& c : cases) {
    host_->clearLog();
    std::vector<uint8_t> list(532, 0);
    list[0] = 9;
    EXPECT_EQ(ioctl_get_macaddress_list(OrsaPort{1, ORSA_PROTO_NIC}, list.data(), 0, 0, c.pf_index), 0u);
    auto pts = passthroughs();
    ASSERT_EQ(pts.size(), 1u);
    EXPECT_EQ(le16(command(pts[0]), 14) & 0x3FF, c.pfnumber);
    EXPECT_EQ(orsa_glob.pf_number, 0);
  }
  // Without the PF the same command leaves pfnumber alone.
  host_->clearLog();
  std::vector<uint8_t> list(532, 0);
  EXPECT_EQ(ioctl_get_mac_list(OrsaPort{1, ORSA_PROTO_NIC}, list.data(), 0, 0), 0u);
  EXPECT_EQ(le16(command(passthroughs().at(0)), 14), 0);
}

TEST_F(ChannelTest, FwConfigOnTheNicDevice) {
  std::vector<uint8_t> cfg(156, 0);
  EXPECT_EQ(ioctl_get_fw_config(OrsaPort{1, ORSA_PROTO_NIC}, cfg.data(), 0, 0), 0u);
  auto pts = passthroughs();
  ASSERT_EQ(pts.size(), 1u);
  EXPECT_EQ(pts[0].bytes.size(), 172u + 21u);
  EXPECT_EQ(cfg[4], host_->engine(0).config().asic_rev) << "ASIC revision copied back";
}

// The personality commands take the caller's whole command buffer.
TEST_F(ChannelTest, PersonalitiesUseTheCallersBuffer) {
  std::vector<uint8_t> buf(16 + 512, 0);
  EXPECT_EQ(ioctl_get_available_personalities(OrsaPort{1, ORSA_PROTO_ISCSI}, buf.data(), 0, 0), 0u);
  EXPECT_STREQ(reinterpret_cast<char*>(buf.data() + 16), "NIC,iSCSI,FCoE");
  EXPECT_EQ(buf[0], 113);
  std::vector<uint8_t> conf(16 + 8, 0);
  EXPECT_EQ(ioctl_get_configured_personality(OrsaPort{1, ORSA_PROTO_NIC}, conf.data(), 8, 0, 0), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(conf.data() + 16), 5), "iSCSI");
  host_->engine(0).setFault(1, 114, {.status = 66});
  EXPECT_EQ(ioctl_get_configured_personality(OrsaPort{1, ORSA_PROTO_NIC}, conf.data(), 8, 0, 0), 149u);
  EXPECT_EQ(ioctl_get_configured_personality(OrsaPort{1, 3}, conf.data(), 8, 0, 0), 1u);
}

}  // namespace
}  // namespace channel_test

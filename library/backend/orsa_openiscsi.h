// Entry points of the optional software iSCSI initiator back end. This host
// has none: every entry point does nothing and succeeds, and nothing sets
// OPEN_ISCSI_DRIVER_LOADED, so the iSCSI handlers only reach them on the few
// paths that call them unconditionally. Their callers differ in what they
// pass, and nothing here looks at it, hence the open argument lists.
#pragma once

#include "tree/hm_types.h"

#define ORSA_FLAG_EXPORT extern "C" __attribute__((visibility("default")))

// Driver flags, 0 at load. Nothing sets OPEN_ISCSI_DRIVER_LOADED (exported,
// drelmo.h) or the iSCSI inbox flag; the NIC inbox flag is set only by
// ORSA_get_nic_driver_type, which nothing calls on this host.
ORSA_FLAG_EXPORT u8 ORSA_ISCSI_INBOX_DRIVER_LOADED;
ORSA_FLAG_EXPORT u8 ORSA_NIC_INBOX_DRIVER_LOADED;

u32 ORSA_add_open_iscsi_target(...);
u32 ORSA_delete_open_iscsi_target(...);
u32 ORSA_convert_mac(...);
u32 ORSA_get_iscsi_iface(...);
u32 ORSA_delete_open_iscsi_tpg(...);
u32 ORSA_op_iscsi_login(...);
u32 ORSA_discover_op_targets(...);
u32 ORSA_list_op_iscsi_targets(...);
u32 ORSA_list_op_sessions_luns(...);
u32 ORSA_op_setup_connection(...);
void *ORSA_op_setup_session(...);
u32 ORSA_op_iscsi_logout(...);
u32 ORSA_op_get_all_luns(...);
u32 ORSA_op_configure_chap(...);
u32 ORSA_op_delete_chap(...);
u32 ORSA_get_BlockSize(...);
u32 ORSA_get_LUNSize(...);
u32 delete_op_iscsi_STP(...);
u32 ORSA_op_add_sendtaregtportal(...);
u32 ORSA_op_get_lun_props(...);
u32 ORSA_discover_isns_targets(...);
u32 delete_op_iscsi_isns(...);
u32 ORSA_op_add_isns(...);
u32 ORSA_get_all_op_isns(...);
u32 ORSA_op_iscsi_check_session(...);
u32 ORSA_op_get_session_attribs(...);
u32 ORSA_op_get_session_details(...);
u32 ORSA_op_set_session_connection_login_options(...);
u32 ORSA_op_set_intr_name(...);
u32 ORSA_op_refresh_session_attribs(...);
u32 os_prepare_device_for_removal(...);

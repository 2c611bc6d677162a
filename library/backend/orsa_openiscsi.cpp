#include "backend/orsa_openiscsi.h"

u8 OPEN_ISCSI_DRIVER_LOADED;
u8 ORSA_ISCSI_INBOX_DRIVER_LOADED;
u8 ORSA_NIC_INBOX_DRIVER_LOADED;

u32 ORSA_add_open_iscsi_target(...)
{
    return 0;
}

u32 ORSA_delete_open_iscsi_target(...)
{
    return 0;
}

u32 ORSA_convert_mac(...)
{
    return 0;
}

u32 ORSA_get_iscsi_iface(...)
{
    return 0;
}

u32 ORSA_delete_open_iscsi_tpg(...)
{
    return 0;
}

u32 ORSA_op_iscsi_login(...)
{
    return 0;
}

u32 ORSA_discover_op_targets(...)
{
    return 0;
}

u32 ORSA_list_op_iscsi_targets(...)
{
    return 0;
}

u32 ORSA_list_op_sessions_luns(...)
{
    return 0;
}

u32 ORSA_op_setup_connection(...)
{
    return 0;
}

u32 ORSA_op_iscsi_logout(...)
{
    return 0;
}

u32 ORSA_op_get_all_luns(...)
{
    return 0;
}

u32 ORSA_op_configure_chap(...)
{
    return 0;
}

u32 ORSA_op_delete_chap(...)
{
    return 0;
}

u32 ORSA_get_BlockSize(...)
{
    return 0;
}

u32 ORSA_get_LUNSize(...)
{
    return 0;
}

u32 delete_op_iscsi_STP(...)
{
    return 0;
}

u32 ORSA_op_add_sendtaregtportal(...)
{
    return 0;
}

u32 ORSA_op_get_lun_props(...)
{
    return 0;
}

u32 ORSA_discover_isns_targets(...)
{
    return 0;
}

u32 delete_op_iscsi_isns(...)
{
    return 0;
}

u32 ORSA_op_add_isns(...)
{
    return 0;
}

u32 ORSA_get_all_op_isns(...)
{
    return 0;
}

u32 ORSA_op_iscsi_check_session(...)
{
    return 0;
}

u32 ORSA_op_get_session_attribs(...)
{
    return 0;
}

u32 ORSA_op_get_session_details(...)
{
    return 0;
}

u32 ORSA_op_set_session_connection_login_options(...)
{
    return 0;
}

u32 ORSA_op_set_intr_name(...)
{
    return 0;
}

u32 ORSA_op_refresh_session_attribs(...)
{
    return 0;
}

u32 os_prepare_device_for_removal(...)
{
    return 0;
}

void *ORSA_op_setup_session(...)
{
    return nullptr;
}

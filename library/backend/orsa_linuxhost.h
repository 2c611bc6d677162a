// Code for a Linux host. Nothing in the library calls it on ESXi, and this
// build carries no Linux back end: the entry points that would drive Linux
// tools answer "not supported".
#pragma once

#include "tree/hm_types.h"

// The last '/'-separated component of path; 1 for a missing path or no
// component, else 0.
u32 get_flash_name(const char *path, char out[HM_VALUE_SIZE]);

// The distribution code of the running Linux kernel; -1 (unknown) here.
i32 find_os_distribution(void);
// Not supported here: last status 259 and its result.
u32 ORSA_get_all_iscsi_devices(void);
u32 ORSA_firmware_download(HmNode *node, u32 function, u32 kind, const char *path);
u32 ORSA_backend_client_nic_bdf(u32 function, char bus[HM_VALUE_SIZE], char fn[HM_VALUE_SIZE], u32 *domain);
u32 ORSA_get_nic_driver_type(void);

/*
 * cfg_profile_save.h - the SaveProfile action of a controller's profile
 * management: the staged ConfiguredProfile tree (multichannel type per port,
 * protocol and SR-IOV state per function, the profile id) written to the
 * adapter in one set-profile request, the ConfiguredProfile groups rebuilt
 * from what the adapter then holds, and each port's flow control and
 * channel settings carried over. The new profile runs after the adapter's
 * next reset (status 304 tells the client).
 */
#ifndef DRELMO_CONFIG_CFG_PROFILE_SAVE_H
#define DRELMO_CONFIG_CFG_PROFILE_SAVE_H

#include "tree/hm_types.h"

#define ORSA_STATUS_SAVE_UNSUPPORTED 303
#define ORSA_STATUS_SAVE_REBOOT 304
#define ORSA_STATUS_SAVE_INVALID 305

/* 0 or 1; the erase command's status when a switch to no multichannel
 * clears the adapter's configuration after a successful write. */
u32 do_SaveProfile(HmNode *group, HmNode *action, HmValueSlot *params);

/* The function type code of a staged Protocol text: "NIC" 1, "iSCSI" 2,
 * "FCoE" 4, "NIC+RoCE" and "RoCE" 8, anything else 15 (written disabled). */
u32 orsa_protocol_code(const char *text);

#endif

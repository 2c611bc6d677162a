/*
 * cfg_lldp.h - the LLDP agent of a port (local and peer descriptions, the
 * enables of the local configuration, statistics), QCN of the port's DCBX
 * group (administrator, peer and operational views of the version 1 DCBX
 * block) and link-level flow control of the port group, with the resend of
 * flow control after a profile change.
 *
 * Handlers follow the tree's contracts (property: node, 256-byte buffer,
 * mode 0 get / 1 set). Where a function takes an OrsaPort, it is the port's
 * function of the port's class (its iSCSI physical HBA when it has one, else
 * its NIC one); {0, ...} when the port has neither: nothing is sent.
 */
#ifndef DRELMO_CONFIG_CFG_LLDP_H
#define DRELMO_CONFIG_CFG_LLDP_H

#include "backend/orsa_gateway.h"
#include "config/cfg_dcbx.h"
#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table; 101 and 102 of the
 * DCBX block are cfg_dcbx.h's). */
#define ORSA_STATUS_LLDP_GET_FAILED 105
#define ORSA_STATUS_LLDP_SET_FAILED 106
#define ORSA_STATUS_LLDP_STATS_FAILED 107
#define ORSA_STATUS_FLOW_SET_UNSUPPORTED 291
#define ORSA_STATUS_QCN_UNSUPPORTED 326
/* What the firmware answers when the operational QCN view is not there. */
#define ORSA_STATUS_QCN_NO_OPERATIONAL 327

/* Payload sizes. */
#define ORSA_LLDP_CFG_SIZE 1576u
#define ORSA_LLDP_SET_SIZE 8u
#define ORSA_LLDP_STATS_SIZE 48u

/* ---- property handlers ---- */

u32 handle_LLDP_properties(HmNode *property, char *value, u32 mode);
u32 handle_lldp_stats_props(HmNode *property, char *value, u32 mode);
u32 handle_update_qcn_props(HmNode *property, char *value, u32 mode);
u32 handle_flow_control_properties(HmNode *property, char *value, u32 mode);

/* ---- readers and writers ---- */

/* Reads the LLDP block of the port (LocalConfiguration: its own view, any
 * other group: the peer's) and stores the group's values. 0, 1 for a group
 * without its parent, port group and controller, or the command's status
 * (last status 105). */
u32 get_lldp_props(OrsaPort at, u8 phba_port, u8 domain, HmNode *group);
/* Reads the QCN view of group (AdministratorQCNSetting, PeerQCNSetting,
 * OperationalQCNSettings) and stores its values; 0, 1 without a group, or
 * the command's status (last status 101). */
u32 ORSA_get_QCN_props(OrsaPort at, u8 phba_port, u8 domain, HmNode *group, u32 controller);
/* Changes one administrator QCN setting (Willing, Advertise, Enabled,
 * CNPVBitMap) by a read-modify-write of the version 1 block; 0, 1, or the
 * command's status (last status 101 or 102). */
u32 ORSA_set_QCN_props(OrsaPort at, u8 phba_port, u8 domain, HmNode *property, const char *value, u32 controller);
/* What a QCN property's read answers when ORSA_get_QCN_props failed with
 * status: for OperationalQCNSettings and ORSA_STATUS_QCN_NO_OPERATIONAL,
 * OperationalMode "N/A" and the property's value (the store's result);
 * otherwise status. The status map never yields 327 for the block read, so
 * handle_update_qcn_props reaches the first branch only from a firmware
 * whose statuses map otherwise. */
u32 orsa_qcn_read_failed(HmNode *property, char *value, u32 status);
/* Stores TxFlowControl and RxFlowControl of a port group: "Enabled" for 1,
 * "Disabled" for anything else. 0; 1 without a group or for a failed store. */
u32 ORSA_update_flow_control_props(HmNode *port_group, u16 transmit, u16 receive);
/* Sends the port group's flow-control texts again with the request flags of
 * the multichannel type mc_type ("NPAR" or another); 1 when either is
 * missing, else the command's status. */
u32 ORSA_reset_flow_control_properties(HmNode *port_group, const char *mc_type);

#endif

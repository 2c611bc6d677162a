/*
 * cfg_dcbx_tree.h - the DCBX instance groups of a port: the PG groups of
 * the three priority-group views and the ApplicationTLV groups of the three
 * application-TLV views, made at start-up and by the TLV groups' refresh,
 * and the actions that add and delete an application TLV and configure a
 * priority group.
 *
 * An ApplicationTLV group always carries the number of the adapter's entry
 * it shows (ApplicationTLV3 is entry 3), also when the entries in use have
 * gaps: the readers of its values and DeleteApplicationTLV take the number
 * for the entry.
 *
 * Handlers follow the tree's contracts (action: group, action node,
 * parameters; refresh: the group).
 */
#ifndef DRELMO_CONFIG_CFG_DCBX_TREE_H
#define DRELMO_CONFIG_CFG_DCBX_TREE_H

#include "tree/hm_types.h"

/* Start-up, per port group: the 8 PG groups of each PG view and one
 * ApplicationTLV group per entry in use of each application-TLV view (the
 * administrator's keyed to AddApplicationTLV). 0, or 1 when the port has no
 * DCBX group or a view could not be read (logged; the views after it get
 * no groups). */
u32 ORSA_build_port_dcbx(HmNode *port_group, u32 port);

/* Group refresh of the three application-TLV setting groups: rebuilds their
 * ApplicationTLV groups from the adapter's entries in use. */
u32 group_AdministratorTLVSetting(HmNode *group);
u32 group_PeerTLVSetting(HmNode *group);
u32 group_OperationalTLVSettings(HmNode *group);

/* Actions of AdministratorTLVSetting and of an administrator PG group. */
u32 do_AddApplicationTLV(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_DeleteApplicationTLV(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_ConfigurePGSettings(HmNode *pg, HmNode *action, HmValueSlot *params);

/* The 312-byte form of AddApplicationTLV (add 1: the entry of selector,
 * protocol, bitmap and OUI) and DeleteApplicationTLV (add 0: the entry of
 * the ApplicationTLV group app_tlv), for a firmware that does not know the
 * 368-byte form. 0, or a status (set as the last status). */
u32 ORSA_get_dcbx_cfg_v0(HmNode *group, HmNode *action, HmValueSlot *params, HmNode *app_tlv, u32 priority_bitmap,
                         u32 oui, u32 protocol, u32 add);

#endif

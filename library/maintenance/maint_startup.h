/*
 * maint_startup.h - what start-up and the client hooks need of firmware
 * update and diagnostics: the event log and diagnostics fillers, the beacon
 * and loopback-exit actions, and the write of one extended-log setting.
 *
 * The fillers and the two actions answer "not supported" until the
 * diagnostics code is built; set_extfat_data is complete.
 */
#ifndef DRELMO_MAINTENANCE_MAINT_STARTUP_H
#define DRELMO_MAINTENANCE_MAINT_STARTUP_H

#include "tree/hm_types.h"

#define ORSA_STATUS_NO_PHBA_FOR_PORT 231

u32 ORSA_get_all_eventlog(HmNode *controller);
u32 ORSA_update_diagnostics_prop(HmNode *controller);
u32 do_Beacon(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_ExitLoopBackMode(HmNode *group, HmNode *action, HmValueSlot *params);

/* Validates value and writes property_name (TraceLevel, PortMask or
 * PCIFunctionMask) of one mode to the adapter; only that mode's own entry
 * of the capability image changes. */
u32 set_extfat_data(HmNode *extfat_data, HmNode *mode_group, const char *property_name, const char *value);

/* The mask check alone: 0, or status 6 with its text in the last status. */
u32 orsa_extfat_check_mask(const char *value, u32 width_bits, bool port_mask, u64 *mask);

#endif

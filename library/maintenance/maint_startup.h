/*
 * maint_startup.h - what start-up and the client hooks need of firmware
 * update and diagnostics: the event log and diagnostics fillers, the beacon
 * and loopback-exit actions, and the write of one extended-log setting.
 *
 * The fillers and the two actions live with the rest of the diagnostics
 * (maint_diag.h).
 */
#ifndef DRELMO_MAINTENANCE_MAINT_STARTUP_H
#define DRELMO_MAINTENANCE_MAINT_STARTUP_H

#include "tree/hm_types.h"

#define ORSA_STATUS_NO_PHBA_FOR_PORT 231

/* The adapter's event log into its EventLog group; a failed read is logged
 * and start-up goes on (0). Pivard keeps no log here (0, nothing read). */
u32 ORSA_get_all_eventlog(HmNode *controller);
/* IsLoopBackSupported of the Diagnostics group from its first port's
 * loopback mode; 1, the property unchanged, when the query fails. */
u32 ORSA_update_diagnostics_prop(HmNode *controller);
/* A port group's beacon on or off (parameters: beacon and status duration,
 * BeaconState). */
u32 do_Beacon(HmNode *port, HmNode *action, HmValueSlot *params);
/* Ends the loopback of a port pair (parameters: source, destination). */
u32 do_ExitLoopBackMode(HmNode *diagnostics, HmNode *action, HmValueSlot *params);

/* Validates value and writes property_name (TraceLevel, PortMask or
 * PCIFunctionMask) of one mode to the adapter; only that mode's own entry
 * of the capability image changes. */
u32 set_extfat_data(HmNode *extfat_data, HmNode *mode_group, const char *property_name, const char *value);

/* The mask check alone: 0, or status 6 with its text in the last status. */
u32 orsa_extfat_check_mask(const char *value, u32 width_bits, bool port_mask, u64 *mask);

#endif

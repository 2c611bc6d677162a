/*
 * maint_diag.h - an adapter's tests, its ports' beacons and its event log:
 * the actions and property of the Diagnostics, EventLog, port and BaseT10G
 * groups, and the fillers start-up runs (maint_startup.h).
 *
 * Usage (clients run the actions on the groups):
 *     OEMKDEnterLoopBackMode -OEMKDparams SourcePortNumber="0",DestinationPortNumber="0",LoopbackType="MacLoopBack"
 *     OEMKDNetworkLoopBackTest ...  OEMKDExitLoopBackMode ...
 *     OEMKDHostToDDRDMATest -OEMKDparams Pattern="0102030405060708",ByteCount="4096",LoopCount="16"
 *     OEMKDBeacon -OEMKDparams BeaconDuration="10",StatusDuration="10",BeaconState="Enabled"
 *     OEMKDRefreshEventLog / OEMKDClearEventLog
 * The results land in the groups' cached properties (TotalTestCycles ...,
 * SelfTestResult, PairAResult ..., EventLogEntry<n>).
 * The adapter's reply is trusted no further than its buffer: an event count
 * above what the 65480-byte reply holds shows the entries it holds, and an
 * entry's own text ends within its 48 bytes.
 */
#ifndef DRELMO_MAINTENANCE_MAINT_DIAG_H
#define DRELMO_MAINTENANCE_MAINT_DIAG_H

#include "backend/orsa_gateway.h"
#include "maintenance/maint_startup.h"
#include "tree/hm_types.h"

#define ORSA_EVENTLOG_REPLY 65480u
#define ORSA_EVENTLOG_ENTRY 64u
#define ORSA_EVENTLOG_TEXT 48u
#define ORSA_EVENT_FORMATS 95u

/* Actions. */
u32 do_HostToDDRDMATest(HmNode *diagnostics, HmNode *action, HmValueSlot *params);
u32 do_EnterLoopBackMode(HmNode *diagnostics, HmNode *action, HmValueSlot *params);
u32 do_NetworkLoopBackTest(HmNode *diagnostics, HmNode *action, HmValueSlot *params);
u32 do_SelfTest(HmNode *baset, HmNode *action, HmValueSlot *params);
u32 do_RunTDR(HmNode *baset, HmNode *action, HmValueSlot *params);
u32 do_RefreshEventLog(HmNode *event_log, HmNode *action, HmValueSlot *params);
u32 do_ClearEventLog(HmNode *event_log, HmNode *action, HmValueSlot *params);
/* do_Beacon, do_ExitLoopBackMode: maint_startup.h. */

/* Property handler of a port group's BeaconState (get only). */
u32 handle_BeaconState(HmNode *property, char *value, u32 mode);

/* The test status of a loopback reply: 0 passed, else 1 with its status set
 * (248-251, 52, 62). */
u32 ORSA_check_loop_back_status(u32 test_status);

/* Reads the adapter's event log into the controller's EventLog group (its
 * EventLogEntry instances made afresh); 0, or 1 with a status. */
u32 get_eventlog_entries(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller);
/* One EventLogEntry per entry of a reply of reply_size bytes. */
u32 Fill_EventLog_Entries(const u8 *reply, u32 reply_size, HmNode *event_log);

/* The texts of the event log. */
extern const char *const ks_event_desc[ORSA_EVENT_FORMATS];
const char *event_severity_to_str(u32 severity);

#endif

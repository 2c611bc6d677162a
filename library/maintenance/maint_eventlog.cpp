/* The adapter's event log: read into EventLogEntry groups at start-up and
 * on request, and cleared. */
#include <stdio.h>
#include <string.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "maintenance/maint_diag.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"

/* One format per event code; each takes the entry's five parameters. */
const char *const ks_event_desc[ORSA_EVENT_FORMATS] = {
    /*  0 */ "Management firmware load successful",
    /*  1 */ "Management firmware out of pre allocated resources",
    /*  2 */ "Management firmware out of dynamic memory",
    /*  3 */ "Invalid IRB:%x",
    /*  4 */ "Invalid CIB:%x",
    /*  5 */ "Ioctl with page code:%x timed out, IRB:%x",
    /*  6 */ "Session with session_id:%x is in recovery",
    /*  7 */ "Ioctl failed: page code:%x, subsystem:%x, IRB:%x, status:%x, addnl status:%x",
    /*  8 */ "CRC mismatch stored:%x, calc:%x",
    /*  9 */ "Configuration area in flash erased",
    /* 10 */ "Multiple spare sector",
    /* 11 */ "Missing spare sector",
    /* 12 */ "Invalid Sector #:%x",
    /* 13 */ "Invalid State #:%x",
    /* 14 */ "Invalid Entry",
    /* 15 */ "Session count mismatch Error stored:%x, calculated:%x",
    /* 16 */ "Config Data Initialized",
    /* 17 */ "ISNS initialization error",
    /* 18 */ "ISNS resume failed",
    /* 19 */ "ISNS terminate failed",
    /* 20 */ "Server add failed ip address:%x",
    /* 21 */ "Initialization Success",
    /* 22 */ "Target redirected to new portal ip Address:%x, port:%x",
    /* 23 */ "Initiator Error in Login Response Status Class:%x, Status Detail:%x",
    /* 24 */ "Target Error in Login Response Status Class:%x, Status Detail:%x",
    /* 25 */ "Check Condition received from target for SCSI CMD opcode:%x",
    /* 26 */ "CHAP Negotiation Failed for Target Ip Address:%x, port:%x",
    /* 27 */ "ISCSI PDU Format Error for session id:%x",
    /* 28 */ "Connection closed unexpectedly for session id:%x",
    /* 29 */ "iSCSI Protocol Error, Connection Reset",
    /* 30 */ "No reference to this command:%x",
    /* 31 */ "Invalid URL in SLP request",
    /* 32 */ "SLP Registration failed, error code:%x",
    /* 33 */ "SLP DeRegistration failed, error code:%x",
    /* 34 */ "SLP FindAttr command failed, error code:%x",
    /* 35 */ "SLP FindSrvs command failed, error code:%x",
    /* 36 */ "Nucleus failed to create Task",
    /* 37 */ "Nucleus failed to create Queue",
    /* 38 */ "Send message to queue failed",
    /* 39 */ "Receive message from queue failed",
    /* 40 */ "Ethernet link is down on Port :%d",
    /* 41 */ "Ethernet link is up on Port :%d",
    /* 42 */ "No more NET Buffer",
    /* 43 */ "DHCP Renew request was NAK'd; But, continue to use current IP",
    /* 44 */ "DHCP IP Lease expired; But, continue to use current IP",
    /* 45 */ "Port failover to %d success",
    /* 46 */ "Port failover to %d failed",
    /* 47 */ "Port failover info: 0x%x %d %d %d",
    /* 48 */ "Tessguard: XML Loaded: %d bytes",
    /* 49 */ "Tessguard: Policy rules loaded",
    /* 50 */ "Tessguard: Reconfiguration failed",
    /* 51 */ "Tessguard: XML: Could not query EK providers",
    /* 52 */ "Tessguard: XML: Unknown IKE algorithm",
    /* 53 */ "Tessguard: XML: Unsupported transform option",
    /* 54 */ "Tessguard: XML: Unknown transform flag",
    /* 55 */ "Tessguard: XML: Could not create tunnel object",
    /* 56 */ "Tessguard: XML: Could not allocate tunnel object",
    /* 57 */ "Tessguard: XML: Unknown algorithm",
    /* 58 */ "Tessguard: XML: Could not set algorithm properties",
    /* 59 */ "Tessguard: XML: Could not create policy rule",
    /* 60 */ "Tessguard: XML: Invalid IKE group specified",
    /* 61 */ "Tessguard: Diffie-Hellman group %u (%u bits)",
    /* 62 */ "Tessguard: Lifetime: %u seconds",
    /* 63 */ "Tessguard: IKE SA Destroyed",
    /* 64 */ "Tessguard: IPSec SA destroyed:",
    /* 65 */ "Tessguard: AH inbound [%08x] | outbound [%08x]",
    /* 66 */ "Tessguard: ESP inbound [%08x] | outbound [%08x]",
    /* 67 */ "Tessguard: Rule selection failure, mask[%04x]",
    /* 68 */ "Tessguard: SA selection failure, mask[%04x]",
    /* 69 */ "Tessguard: CMI selection failure, mask[%04x]",
    /* 70 */ "Tessguard: The maximum number of active Phase-1 SAs reached",
    /* 71 */ "Tessguard: The maximum number of active Phase-1 negotiations reached",
    /* 72 */ "Tessguard: Maximum QMode negotiations reached, rekey not done",
    /* 73 */ "Tessguard: Maximum QMode negotiations reached, incoming rejected",
    /* 74 */ "Tessguard: IPSec SA negotiations: %u done, %u successful, %u failed",
    /* 75 */ "Tessguard: Rule commit fail",
    /* 76 */ "Tessguard: Removing unused rules failed",
    /* 77 */ "Tessguard: Overlapping policy block",
    /* 78 */ "Tessguard: Too large policy block: size=%u, available size=%u",
    /* 79 */ "Tessguard: Could not create service object",
    /* 80 */ "Tessguard: Could not allocate service object",
    /* 81 */ "Tessguard: Unknown CA flag",
    /* 82 */ "Tessguard: Could not store certificate name",
    /* 83 */ "Tessguard: Get certificate failed",
    /* 84 */ "Tessguard: Get certificate o.k.",
    /* 85 */ "Tessguard: Error adding certificate",
    /* 86 */ "Tessguard: Error adding CRL",
    /* 87 */ "Tessguard: Could not set certificate for tunnel",
    /* 88 */ "Tessguard: Could not add aggressive mode secret",
    /* 89 */ "Tessguard: Too many active aggressive mode negotiations",
    /* 90 */ "Tessguard: Could not store certificate request result",
    /* 91 */ "Tessguard: No more authentication keys available",
    /* 92 */ "Tessguard: Out of memory while allocating local Phase-1 responder ID",
    /* 93 */ "Tessguard: Aborting negotiation",
    /* 94 */ "Tessguard: Could not start certificate request operation",
};

const char *event_severity_to_str(u32 severity)
{
    static const char *const kSeverities[] = {"Informational", "Warning", "Error", "Fatal"};
    return severity < 4 ? kSeverities[severity] : nullptr;
}

namespace {

#define LOG(level, ...) pdebug(ORSA_LOG_CAT_OTHER, level, __VA_ARGS__)

constexpr u32 kCountAt = 4, kEntriesAt = 8, kTextAt = 16;

u32 fail(u32 code, const char *text)
{
    orsa_set_last_status(code, text);
    return 1;
}

/* The description of an entry: its code's format over its parameters, or
 * for a code without one its own text, which ends within its 48 bytes. */
void describe(const u8 *entry, u32 code, char out[HM_VALUE_SIZE])
{
    if (code < ORSA_EVENT_FORMATS) {
        const u8 *p = entry + kTextAt;
        snprintf(out, HM_VALUE_SIZE, ks_event_desc[code], orsa_rd32(p), orsa_rd32(p + 4), orsa_rd32(p + 8),
                 orsa_rd32(p + 12), orsa_rd32(p + 16));
        return;
    }
    const char *text = (const char *)entry + kTextAt;
    size_t n = strnlen(text, ORSA_EVENTLOG_TEXT);
    memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

u32 Fill_EventLog_Entries(const u8 *reply, u32 reply_size, HmNode *event_log)
{
    if (reply == nullptr || event_log == nullptr || reply_size < kEntriesAt)
        return 1;
    u32 count = orsa_rd32(reply + kCountAt);
    const u32 room = (reply_size - kEntriesAt) / ORSA_EVENTLOG_ENTRY;
    if (count > room) {
        /* More than the reply holds: the entries it holds are all there is. */
        LOG(ORSA_LOG_WARNING, "%s:event count %u, the reply holds %u\n", __func__, (unsigned)count, (unsigned)room);
        count = room;
    }
    u32 rc = 0;
    for (u32 i = 0; i < count; ++i) {
        const u8 *e = reply + kEntriesAt + ORSA_EVENTLOG_ENTRY * i;
        HmNode *entry = initialize_EventLogEntry(event_log, nullptr, nullptr, nullptr);
        if (entry == nullptr) {
            LOG(ORSA_LOG_ERROR, "%s:initialize_EventLogEntry failed\n", __func__);
            return 1;
        }
        u32 code = orsa_rd16(e);
        u32 severity = orsa_rd16(e + 12);
        rc |= set_prop_val(entry, "ErrorCode", "%d", (int)code);
        rc |= set_prop_val(entry, "SequenceNumber", "%d", (int)orsa_rd32(e + 8));
        rc |= set_prop_val(entry, "TimeStamp", "%d", (int)orsa_rd32(e + 4));
        const char *severity_text = event_severity_to_str(severity);
        if (severity_text == nullptr) {
            rc |= set_prop_val(entry, "Severity", "%s", "INVALID SEVERITY LEVEL!");
            rc |= set_prop_val(entry, "Description", "%s", "INVALID Description!!");
            continue;
        }
        rc |= set_prop_val(entry, "Severity", "%s", severity_text);
        char description[HM_VALUE_SIZE];
        describe(e, code, description);
        rc |= set_prop_val(entry, "Description", "%s", description);
    }
    return rc != 0 ? 1 : 0;
}

u32 get_eventlog_entries(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller)
{
    HmNode *event_log = controller != nullptr ? internal_get_node(controller, "EventLog", HM_KIND_GROUP) : nullptr;
    if (event_log == nullptr)
        return 1;
    purge_nodes_within(event_log, "EventLogEntry");
    u8 *reply = (u8 *)orsa_dzalloc(ORSA_EVENTLOG_REPLY);
    if (reply == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    /* A log larger than the buffer answers 31 with what fits. */
    u32 rc = ioctl_get_eventlog_entries(at, reply, ORSA_EVENTLOG_REPLY, domain, phba_port);
    if (rc != 0 && rc != 31) {
        orsa_dfree(reply);
        return fail(112, "Failed to retrieve event log entries. Application internal error occurred. Please check "
                         "orsa2d.log file for more information.");
    }
    rc = Fill_EventLog_Entries(reply, ORSA_EVENTLOG_REPLY, event_log);
    orsa_dfree(reply);
    return rc;
}

namespace {

/* The controller's read: through its first physical HBA, domain 0, port 0. */
u32 read_log(HmNode *ks)
{
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    return get_eventlog_entries(at, 0, 0, ks);
}

}  // namespace

u32 ORSA_get_all_eventlog(HmNode *controller)
{
    if (controller == nullptr)
        return 1;
    u32 asic = get_ks_type(controller);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_PIVARD)
        return 0;
    if (orsa_controller_port(controller).instance == 0)
        return 1;
    /* Start-up goes on without the log. */
    if (read_log(controller) != 0)
        LOG(ORSA_LOG_ERROR, "Eventlog failure\n");
    return 0;
}

u32 do_RefreshEventLog(HmNode *event_log, HmNode *, HmValueSlot *)
{
    if (vm_flag)
        return fail(ORSA_STATUS_VF_REFUSED, "Performed operation is not supported on a SR-IOV virtual function.");
    HmNode *ks = orsa_controller_of(event_log);
    if (ks == nullptr)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_PIVARD)
        return fail(ORSA_STATUS_NOT_SUPPORTED, "This operation is not supported on this controller.");
    return read_log(ks);
}

u32 do_ClearEventLog(HmNode *event_log, HmNode *, HmValueSlot *)
{
    HmNode *ks = orsa_controller_of(event_log);
    if (ks == nullptr)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_PIVARD)
        return fail(ORSA_STATUS_NOT_SUPPORTED, "This operation is not supported on this controller.");
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    u32 rc = ioctl_clear_event_log(at, 0, 0);
    if (rc != 0) {
        orsa_set_last_status(113, "Failed to clear event log entries. Application internal error occurred. Please "
                                  "check orsa2d.log file for more information.");
        return rc;
    }
    return read_log(ks);
}

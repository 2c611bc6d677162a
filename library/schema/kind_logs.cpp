// Cached adapter logs below the maintenance groups of a controller: one
// EventLogEntry<n> per firmware event, one ExtFATModule<n> per extended-log
// module, two ExtFATMode<n> per module.
#include "schema/builders.h"
#include "schema/kind_table.h"

static schema::SchemaRow event_log_entry_rows[] = {
    SCHEMA_PROP("SequenceNumber", RO, T_INTEGER, 1, 255, "1", "", "handle_internal_property",
                "This property displays a Sequence number of the event log entry."),
    SCHEMA_PROP("TimeStamp", RO, T_INTEGER, 1, 255, "1", "", "handle_internal_property",
                "This property displays the Time stamp in seconds since ARM boot, of the event log entry."),
    SCHEMA_PROP("Severity", RO, T_LIST, 1, 255, "Unknown", "Fatal,Error,Warning,Informational,Unknown",
                "handle_internal_property",
                "This property displays the severity of the event log entry. Fatal: the most severe; it must be attended to at once to restore normal operation. Error: less severe than Fatal but serious enough to affect important features; all Fatal and Error events are to be cleared for normal operation. Warning: less critical, a potential problem. Informational: logged when some important operations complete."),
    SCHEMA_PROP("Description", RO, T_STRING, 1, 255, "0", "", "handle_internal_property",
                "This property gives a text description of the event log entry."),
    SCHEMA_PROP("ErrorCode", RO, T_INTEGER, 1, 255, "1", "", "handle_internal_property",
                "This property specifies the numeric error code associated with the event log entry."),
};

static schema::SchemaRow ext_fat_module_rows[] = {
    SCHEMA_PROP("ModuleString", RO, T_STRING, 1, 32, "N/A", "", "handle_internal_property",
                "This property displays the name of the module (for example iSNS, FIP, Flash)."),
    SCHEMA_PROP("ModuleId", RO, T_INTEGER, 1, 32, "1", "", "handle_internal_property",
                "This property displays a module id associated to identify the module name once the trace record is retrieved."),
};

static schema::SchemaRow ext_fat_mode_rows[] = {
    SCHEMA_PROP("Mode", RO, T_LIST, 7, 8, "UART", "UART,RAM", "handle_internal_property",
                "This property displays a logging mode of FAT module."),
    SCHEMA_PROP("PortMask", RW, T_STRING, 3, 4, "0xFF", "", "handle_current_mode_properties",
                "This property specifies the bit mask of the ports to log, in hexadecimal with the 0x prefix (ports 3 and 2: 0xC). The usable bits are limited by the MaxLoggingPorts property of ExtFATData, and the default covers that many bits."),
    SCHEMA_PROP("PCIFunctionMask", RW, T_STRING, 3, 18, "0xFFFFFFFFFFFFFFFF", "", "handle_current_mode_properties",
                "This property specifies the bit mask of the PCI functions to log, in hexadecimal with the 0x prefix (functions 6 and 1: 0x42). The usable bits are limited by the MaxLoggingFunctions property of ExtFATData, and the default covers that many bits."),
    SCHEMA_PROP("TraceLevel", RW, T_LIST, 0, 255, "0", "0,1,4,5,8,16,32,48,64,128,255", "handle_current_mode_properties",
                "This property specifies the trace level of the module: 0 TRACE_LEVEL_ALL, 1 TRACE_LEVEL_ENTER_FUNCTION, 4 TRACE_LEVEL_VERBOSE, 5 TRACE_LEVEL_INFO, 8 TRACE_LEVEL_TEST, 16 TRACE_LEVEL_SHOW, 32 TRACE_LEVEL_WARNING, 48 TRACE_LEVEL_ERROR, 64 TRACE_LEVEL_FATAL, 128 TRACE_LEVEL_ALWAYS, 255 TRACE_LEVEL_DISABLED."),
};

// Event entries and modules: one slice per controller. Modes: one slice per
// (controller, module) pair.
SCHEMA_KIND(kind_EventLogEntry, "initialize_EventLogEntry", "EventLogEntry",
            "This group represents one entry of the Quorvantix firmware event log, read by ORSA at initialization and cached in ORSA. Run the command OEMKDRefreshEventLog of the EventLog group to refresh the entries.",
            1024, 16, nullptr, event_log_entry_rows);
SCHEMA_KIND(kind_ExtFATModule, "initialize_ExtFATModule", "ExtFATModule",
            "This group contains the Quorvantix ARM fimrware FAT modules entries.",
            64, 16, nullptr, ext_fat_module_rows);
SCHEMA_KIND(kind_ExtFATMode, "initialize_ExtFATMode", "ExtFATMode",
            "This group contains the Quorvantix ARM fimrware FAT mode entries.",
            2, 16 * 64, nullptr, ext_fat_mode_rows);

HmNode *initialize_EventLogEntry(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_EventLogEntry, parent, key_a, key_b, keys);
}

HmNode *initialize_ExtFATModule(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_ExtFATModule, parent, key_a, key_b, keys);
}

HmNode *initialize_ExtFATMode(HmNode *parent, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    return schema::schema_build_instance(&kind_ExtFATMode, parent, key_a, key_b, keys);
}

/* The extended firmware log's configuration actions: a trace level for every
 * module's modes, and the adapter's default configuration mirrored into the
 * tree. (One mode's setting is written by set_extfat_data.) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_extlog.h"
#include "backend/orsa_handler_util.h"
#include "maintenance/maint_dump.h"

namespace {

const u32 kDisableLevel = 255;

void param_text(const HmValueSlot &slot, char *out)
{
    if ((u8)slot[0] == ORSA_PARAM_NOT_GIVEN)
        out[0] = '\0';
    else
        orsa_strlcpy(out, slot, HM_VALUE_SIZE);
}

u32 write_caps(HmNode *ks, u8 *caps)
{
    OrsaWhere w;
    if (!orsa_controller_where(ks, &w))
        return 1;
    u32 rc = ioctl_set_extfat_capabilites(w.at, caps, ORSA_EXTFAT_CAPS_SIZE, w.domain, w.phba_port);
    if (rc != 0)
        orsa_set_status(ORSA_STATUS_EXTFAT_SET_FAILED);
    return rc;
}

const char *mode_text(u8 type)
{
    switch (type) {
    case 0: return "UART";
    case 1: return "RAM";
    case 2: return "NVRAM";
    case 3: return "TFTP";
    default: return nullptr;
    }
}

/* Mirrors an image into ExtFATData and its module and mode groups, walking
 * groups and records in step until either ends; 0 when every store did. */
u32 mirror(HmNode *xd, const u8 *caps, u32 size)
{
    u32 rc = 0;
    rc |= set_prop_val(xd, "MaxLogEntries", "%u", orsa_rd32(caps));
    rc |= set_prop_val(xd, "LogEntrySize", "%u", orsa_rd32(caps + 4));
    rc |= set_prop_val(xd, "LoggingType", "%s",
                       caps[8] == 0 ? "synchronous" : caps[8] == 1 ? "asynchronous" : "Unknown");
    rc |= set_prop_val(xd, "MaxLoggingFunctions", "%u", caps[9]);
    rc |= set_prop_val(xd, "MaxLoggingPorts", "%u", caps[10]);
    u32 modes = orsa_rd32(caps + 12);
    rc |= set_prop_val(xd, "SupportedModes", "%s",
                       (modes & 3) == 3 ? "UART,RAM" : (modes & 1) ? "UART" : (modes & 2) ? "RAM" : "Unknown");
    i32 records = (i32)orsa_rd32(caps + 16);
    u64 at = ORSA_EXTFAT_HEADER;
    i32 index = 0;
    for (HmNode *m = get_first_instance(xd, "ExtFATModule"); m != nullptr && index < records;
         m = hm_next_instance(m), index++) {
        if (at + ORSA_EXTFAT_RECORD > size)
            break;
        const u8 *rec = caps + at;
        rc |= set_prop_val(m, "ModuleString", "%.32s", (const char *)rec);
        rc |= set_prop_val(m, "ModuleId", "%u", orsa_rd32(rec + 32));
        u32 count = orsa_rd32(rec + 36);
        u32 j = 0;
        for (HmNode *g = get_first_instance(m, "ExtFATMode"); g != nullptr && j < count; g = hm_next_instance(g), j++) {
            u64 entry = at + ORSA_EXTFAT_RECORD + (u64)ORSA_EXTFAT_MODE_ENTRY * j;
            if (entry + ORSA_EXTFAT_MODE_ENTRY > size)
                break;
            const u8 *e = caps + entry;
            const char *name = mode_text(e[0]);
            if (name != nullptr)
                rc |= set_prop_val(g, "Mode", "%s", name);
            rc |= set_prop_val(g, "TraceLevel", "%u", orsa_rd32(e + 4));
            rc |= set_prop_val(g, "PortMask", "%x", orsa_rd16(e + 2));
            u64 mask = (u64)orsa_rd32(e + 8) | ((u64)orsa_rd32(e + 12) << 32);
            rc |= set_prop_val(g, "PCIFunctionMask", "%llx", (unsigned long long)mask);
        }
        at += count == 0 ? 56 : ORSA_EXTFAT_RECORD + (u64)ORSA_EXTFAT_MODE_ENTRY * count;
    }
    return rc;
}

}  // namespace

u32 set_extfat_modes(HmNode *xd, HmValueSlot *params, u32 mode)
{
    HmNode *ks = xd != nullptr ? xd->parent : nullptr;
    if (ks == nullptr || params == nullptr)
        return 1;
    char level_text[HM_VALUE_SIZE] = "", uart[HM_VALUE_SIZE], ram[HM_VALUE_SIZE];
    u32 level = kDisableLevel;
    if (mode == 1) {
        param_text(params[0], level_text);
        level = (u32)strtoul(level_text, nullptr, 10);
        param_text(params[1], uart);
        param_text(params[2], ram);
    } else {
        param_text(params[0], uart);
        param_text(params[1], ram);
    }
    if (uart[0] != '\0' && ram[0] != '\0' && strcasecmp(uart, "No") == 0 && strcasecmp(ram, "No") == 0)
        return 0;

    u8 *caps = nullptr;
    u32 rc = orsa_read_extfat_caps(ks, 1, &caps);
    if (rc != 0)
        return rc;
    bool uart_yes = strcasecmp(uart, "Yes") == 0, ram_yes = strcasecmp(ram, "Yes") == 0;
    const char *which = nullptr;
    if ((uart[0] == '\0' && ram[0] == '\0') || (uart_yes && ram_yes))
        which = "ALL";
    else if (uart_yes)
        which = "UART";
    else if (ram_yes)
        which = "RAM";
    if (which != nullptr &&
        update_trace_level_for_mode(xd, which, caps + ORSA_EXTFAT_HEADER, ORSA_EXTFAT_CAPS_SIZE - ORSA_EXTFAT_HEADER,
                                    level) != 0) {
        orsa_dfree(caps);
        return 1;
    }
    rc = write_caps(ks, caps);
    orsa_dfree(caps);
    return rc;
}

u32 do_EnableLoggingOnAllModules(HmNode *xd, HmNode *, HmValueSlot *params)
{
    if (set_extfat_modes(xd, params, 1) != 0) {
        orsa_set_status(ORSA_STATUS_ENABLE_LOGGING_FAILED);
        return 1;
    }
    return 0;
}

u32 do_DisableLoggingOnAllModules(HmNode *xd, HmNode *, HmValueSlot *params)
{
    if (set_extfat_modes(xd, params, 0) != 0) {
        orsa_set_status(ORSA_STATUS_DISABLE_LOGGING_FAILED);
        return 1;
    }
    return 0;
}

u32 do_SetDefaultLoggingConfiguration(HmNode *group, HmNode *, HmValueSlot *)
{
    HmNode *ks = group != nullptr ? group->parent : nullptr;
    HmNode *xd = ks != nullptr ? internal_get_node(ks, "ExtFATData", HM_KIND_GROUP) : nullptr;
    if (xd == nullptr)
        return 1;
    u8 *caps = nullptr;
    u32 rc = orsa_read_extfat_caps(ks, 0, &caps);
    if (rc != 0)
        return rc;
    rc = write_caps(ks, caps);
    if (rc == 0)
        rc = mirror(xd, caps, ORSA_EXTFAT_CAPS_SIZE);
    orsa_dfree(caps);
    return rc;
}

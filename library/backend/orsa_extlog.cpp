/* Extended firmware log image: module and mode groups from the adapter's
 * capability report. */
#include "backend/orsa_extlog.h"

#include <stdio.h>
#include <string.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_propertyutil.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"

namespace {

u64 rd64(const u8 *p) { return (u64)orsa_rd32(p) | ((u64)orsa_rd32(p + 4) << 32); }

const char *mode_name(u8 type)
{
    switch (type) {
    case 0: return "UART";
    case 1: return "RAM";
    case 2: return "NVRAM";
    case 3: return "TFTP";
    default: return nullptr;
    }
}

u32 store_mode_settings(HmNode *mode_group, const u8 *entry)
{
    u32 rc = set_prop_val(mode_group, "TraceLevel", "%d", (int)orsa_rd32(entry + 4));
    set_prop_val(mode_group, "PortMask", "0x%x", orsa_rd16(entry + 2));
    set_prop_val(mode_group, "PCIFunctionMask", "0x%llx", (unsigned long long)rd64(entry + 8));
    return rc;
}

}  // namespace

i32 orsa_extfat_mode_entry(const u8 *caps, u32 size, i32 module, i32 mode)
{
    if (caps == nullptr || size < ORSA_EXTFAT_HEADER || module < 0 || mode < 0)
        return -1;
    i32 modules = (i32)orsa_rd32(caps + 16);
    u32 at = ORSA_EXTFAT_HEADER;
    for (i32 i = 0; i < modules; ++i) {
        if (at + ORSA_EXTFAT_RECORD > size)
            return -1;
        u32 count = orsa_rd32(caps + at + 36);
        if (i == module) {
            if ((u32)mode >= count || count > ORSA_EXTFAT_MAX_MODES)
                return -1;
            u32 entry = at + ORSA_EXTFAT_RECORD + ORSA_EXTFAT_MODE_ENTRY * (u32)mode;
            return entry + ORSA_EXTFAT_MODE_ENTRY <= size ? (i32)entry : -1;
        }
        if (count > ORSA_EXTFAT_MAX_MODES)
            return -1;
        at += count == 0 ? 56u : ORSA_EXTFAT_RECORD + ORSA_EXTFAT_MODE_ENTRY * count;
    }
    return -1;
}

u32 orsa_extfat_fill(HmNode *xd, const u8 *caps, u32 size)
{
    if (xd == nullptr || caps == nullptr || size < ORSA_EXTFAT_HEADER)
        return 1;
    set_prop_val(xd, "MaxLogEntries", "%d", (int)orsa_rd32(caps + 0));
    set_prop_val(xd, "LogEntrySize", "%d", (int)orsa_rd32(caps + 4));
    set_prop_val(xd, "LoggingType", "%s", caps[8] == 0 ? "synchronous" : caps[8] == 1 ? "asynchronous" : "Unknown");
    set_prop_val(xd, "MaxLoggingFunctions", "%d", caps[9]);
    u32 rc = set_prop_val(xd, "MaxLoggingPorts", "%d", caps[10]);
    u32 modes = orsa_rd32(caps + 12);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:supported_modes = %d\n", __func__, (int)modes);
    const char *supported = (modes & 3) == 3 ? "UART,RAM" : (modes & 1) ? "UART" : (modes & 2) ? "RAM" : "Unknown";
    rc |= set_prop_val(xd, "SupportedModes", "%s", supported);
    i32 modules = (i32)orsa_rd32(caps + 16);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:num_modules = %d\n", __func__, (int)modules);
    rc |= set_prop_val(xd, "NumberOfModules", "%d", (int)modules);
    if (modules < 1)
        return rc;

    u32 at = ORSA_EXTFAT_HEADER;
    for (i32 i = 0; i < modules; ++i) {
        /* The adapter's counts are not trusted past the image it sent. */
        if (at + ORSA_EXTFAT_RECORD > size)
            break;
        const u8 *rec = caps + at;
        HmNode *module = initialize_ExtFATModule(xd, nullptr, nullptr, nullptr);
        if (module == nullptr) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:initialize EXTFATModule failed\n", __func__);
            return 1;
        }
        u32 id = orsa_rd32(rec + 32);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:module_str = %.32s and module_id = %d\n", __func__,
               (const char *)rec, (int)id);
        set_prop_val(module, "ModuleString", "%.32s", (const char *)rec);
        set_prop_val(module, "ModuleId", "%d", (int)id);
        u32 count = orsa_rd32(rec + 36);
        if (count > ORSA_EXTFAT_MAX_MODES) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:mode_count = %d\n", __func__, (int)count);
            return rc;
        }
        u32 groups = count < ORSA_EXTFAT_MODE_GROUPS ? count : ORSA_EXTFAT_MODE_GROUPS;
        for (u32 j = 0; j < groups; ++j) {
            const u8 *entry = rec + ORSA_EXTFAT_RECORD + ORSA_EXTFAT_MODE_ENTRY * j;
            if (at + ORSA_EXTFAT_RECORD + ORSA_EXTFAT_MODE_ENTRY * (j + 1) > size)
                break;
            HmNode *mode = initialize_ExtFATMode(module, nullptr, nullptr, nullptr);
            if (mode == nullptr) {
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:initialize_ExtFATMode failed\n", __func__);
                return 1;
            }
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:pdebug_mode->mode = %d and j = %d\n", __func__, entry[0],
                   (int)j);
            const char *name = mode_name(entry[0]);
            if (name != nullptr)
                set_prop_val(mode, "Mode", "%s", name);
            rc = store_mode_settings(mode, entry);
        }
        if (count == 0)
            break;
        at += ORSA_EXTFAT_RECORD + ORSA_EXTFAT_MODE_ENTRY * count;
    }
    return rc;
}

u32 orsa_extfat_store_mode(HmNode *mode_group, const u8 *caps, u32 size)
{
    if (mode_group == nullptr || mode_group->parent == nullptr || size < ORSA_EXTFAT_HEADER)
        return 1;
    if ((i32)orsa_rd32(caps + 16) < 1)
        return 0;
    HmInstanceInfo *mi = hm_instance_info(mode_group->parent);
    HmInstanceInfo *oi = hm_instance_info(mode_group);
    if (mi == nullptr || oi == nullptr)
        return 1;
    i32 at = orsa_extfat_mode_entry(caps, size, mi->number, oi->number);
    if (at < 0)
        return 0;
    return store_mode_settings(mode_group, caps + at);
}

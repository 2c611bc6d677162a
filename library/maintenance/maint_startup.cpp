/* The write of one extended-log setting. The start-up fillers and the
 * client-exit actions are in maint_diag.cpp and maint_eventlog.cpp. */
#include "maintenance/maint_startup.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_extlog.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"

u32 set_extfat_data(HmNode *xd, HmNode *mode_group, const char *name, const char *value)
{
    HmNode *ks = xd != nullptr ? xd->parent : nullptr;
    HmNode *phba = orsa_first_phba(ks);
    i32 port = get_port_number(phba);
    if (phba == nullptr || port < 1 || mode_group == nullptr || name == nullptr || value == nullptr)
        return 1;
    char text[HM_VALUE_SIZE] = "";
    if (internal_get_property(xd, "MaxLoggingFunctions", text) != 0)
        return 1;
    u32 max_functions = (u32)strtoul(text, nullptr, 10);
    if (internal_get_property(xd, "MaxLoggingPorts", text) != 0)
        return 1;
    u32 max_ports = (u32)strtoul(text, nullptr, 10);

    u64 setting = 0;
    u32 rc;
    if (strcasecmp(name, "PortMask") == 0)
        rc = orsa_extfat_check_mask(value, max_ports < 16 ? max_ports : 16, true, &setting);
    else if (strcasecmp(name, "PCIFunctionMask") == 0)
        rc = orsa_extfat_check_mask(value, max_functions, false, &setting);
    else if (strcasecmp(name, "TraceLevel") == 0) {
        char *end = nullptr;
        setting = strtoul(value, &end, 0);
        rc = (end == value || *end != '\0') ? orsa_set_status(ORSA_STATUS_INVALID_VALUE) : 0;
    } else
        return 1;
    if (rc != 0)
        return rc;

    u8 *caps = nullptr;
    rc = orsa_read_extfat_caps(ks, 1, &caps);
    if (rc != 0)
        return rc;
    HmInstanceInfo *mi = hm_instance_info(mode_group->parent);
    HmInstanceInfo *oi = hm_instance_info(mode_group);
    i32 at = (mi != nullptr && oi != nullptr)
                 ? orsa_extfat_mode_entry(caps, ORSA_EXTFAT_CAPS_SIZE, mi->number, oi->number)
                 : -1;
    if (at < 0) {
        /* The mode has no entry of its own in the image: nothing to patch. */
        orsa_dfree(caps);
        return 1;
    }
    u8 *entry = caps + at;
    if (strcasecmp(name, "PortMask") == 0) {
        entry[2] = (u8)setting;
        entry[3] = (u8)(setting >> 8);
    } else if (strcasecmp(name, "PCIFunctionMask") == 0) {
        for (u32 i = 0; i < 8; ++i)
            entry[8 + i] = (u8)(setting >> (8 * i));
    } else {
        for (u32 i = 0; i < 4; ++i)
            entry[4 + i] = (u8)(setting >> (8 * i));
    }
    rc = ioctl_set_extfat_capabilites(orsa_controller_port(ks), caps, ORSA_EXTFAT_CAPS_SIZE, (u8)get_domain_id(phba),
                                      (u8)get_phba_port_number(phba));
    orsa_dfree(caps);
    if (rc != 0) {
        orsa_set_last_status(ORSA_STATUS_EXTFAT_SET_FAILED,
                             "Failed to set EXTFAT Capabilities properties. Please check orsa2d.log file for more "
                             "information.");
        return rc;
    }
    return 0;
}

/* Extended firmware log and FAT availability: what asks the adapter. */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_extlog.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "maintenance/maint_startup.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"

namespace {

void caps_failed()
{
    orsa_set_last_status(ORSA_STATUS_EXTFAT_GET_FAILED,
                         "Failed to get EXTFAT Capabilities properties. Please check orsa2d.log file for more "
                         "information.");
}

}  // namespace

u32 orsa_read_extfat_caps(HmNode *ks, u32 selector, u8 **out)
{
    *out = nullptr;
    HmNode *phba = orsa_first_phba(ks);
    OrsaPort at = orsa_port_of(phba);
    if (phba == nullptr || at.instance == 0)
        return 1;
    u8 *caps = (u8 *)orsa_dzalloc(ORSA_EXTFAT_CAPS_SIZE);
    if (caps == nullptr)
        return 1;
    memcpy(caps, &selector, 4);
    u32 rc = ioctl_get_extfat_capabilites(at, caps, ORSA_EXTFAT_CAPS_SIZE, (u8)get_domain_id(phba),
                                          (u8)get_phba_port_number(phba));
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:status of ioctl_get_extfat_capabilites = %d\n", __func__, (int)rc);
    if (rc != 0) {
        caps_failed();
        orsa_dfree(caps);
        return rc;
    }
    *out = caps;
    return 0;
}

u32 ORSA_extfat_modules(HmNode *ks)
{
    u32 asic = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_PIVARD) {
        orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
        return 1;
    }
    HmNode *xd = internal_get_node(ks, "ExtFATData", HM_KIND_GROUP);
    if (orsa_first_phba(ks) == nullptr || xd == nullptr)
        return 1;
    u8 *caps = nullptr;
    u32 rc = orsa_read_extfat_caps(ks, 0, &caps);
    if (rc != 0)
        return rc;
    rc = orsa_extfat_fill(xd, caps, ORSA_EXTFAT_CAPS_SIZE);
    orsa_dfree(caps);
    return rc;
}

u32 get_extfat_data(HmNode *xd, HmNode *mode_group)
{
    HmNode *ks = xd != nullptr ? xd->parent : nullptr;
    if (ks == nullptr || mode_group == nullptr)
        return 1;
    u8 *caps = nullptr;
    u32 rc = orsa_read_extfat_caps(ks, 1, &caps);
    if (rc != 0)
        return rc;
    rc = orsa_extfat_store_mode(mode_group, caps, ORSA_EXTFAT_CAPS_SIZE);
    orsa_dfree(caps);
    return rc;
}

u32 handle_current_mode_properties(HmNode *property, char *value, u32 mode)
{
    HmNode *mode_group = property != nullptr ? property->parent : nullptr;
    HmNode *module = mode_group != nullptr ? mode_group->parent : nullptr;
    HmNode *xd = module != nullptr ? module->parent : nullptr;
    if (xd == nullptr || xd->name == nullptr || strcmp(xd->name, "ExtFATData") != 0)
        return 1;
    if (mode == HM_MODE_GET) {
        u32 rc = get_extfat_data(xd, mode_group);
        if (value != nullptr)
            orsa_strlcpy(value, HM_PROPERTY(property)->value, HM_VALUE_SIZE);
        return rc;
    }
    if (mode == HM_MODE_SET)
        return set_extfat_data(xd, mode_group, property->name, value);
    return 0;
}

u32 handle_FATDataValid(HmNode *property, char *value, u32)
{
    HmNode *fat = property != nullptr ? property->parent : nullptr;
    HmNode *ks = fat != nullptr ? fat->parent : nullptr;
    if (ks == nullptr || get_ks_type(ks) == ORSA_ASIC_UNREADABLE)
        return 1;
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: ks_port_number = %d\n", __func__, (int)at.instance);
    u8 domain = (u8)get_domain_id(property);
    u8 phba_port = (u8)get_phba_port_number(property);
    if (vm_flag)
        orsa_answer_na(value);
    bool present;
    if (get_ks_type(ks) == ORSA_ASIC_PIVARD) {
        u8 *buf = (u8 *)orsa_dzalloc(ORSA_FAT_OBJECT_READ_SIZE);
        if (buf == nullptr)
            return 1;
        snprintf((char *)buf + 8, 104, "%s", ORSA_FAT_OBJECT_NAME);
        /* Read through the NIC device: it takes a NIC function's number. */
        OrsaPort nic = orsa_port_of(get_first_instance(ks, "NICPhysicalHBA"));
        u32 rc = nic.protocol == ORSA_PROTO_NIC
                     ? ioctl_common_read_object_v1(nic, buf, ORSA_FAT_OBJECT_READ_SIZE, domain, phba_port)
                     : 1;
        if (rc != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: status of ioctl_common_read_object = %d\n", __func__,
                   (int)rc);
            orsa_dfree(buf);
            return 1;
        }
        u32 got = orsa_rd32(buf);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: actual_read_length = %d\n", __func__, (int)got);
        orsa_dfree(buf);
        present = got != 0;
    } else {
        u8 req[20] = {};
        req[0] = 1;
        if (ioctl_retrieve_fat(at, req, domain, phba_port) != 0) {
            orsa_set_last_status(ORSA_STATUS_FAT_RETRIEVE_FAILED,
                                 "Unable to retrieve FAT data. Application internal error occurred. Please check "
                                 "orsa2d.log file for more information.");
            return 1;
        }
        present = orsa_rd32(req) != 0;
    }
    u32 rc = set_prop_val(fat, property->name, "%s", present ? "Yes" : "No");
    if (value != nullptr)
        orsa_strlcpy(value, HM_PROPERTY(property)->value, HM_VALUE_SIZE);
    return rc;
}

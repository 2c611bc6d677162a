/* Profile management: ARI settings, profile and link configuration choices. */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_profile_props.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "config/cfg_mac.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_model.h"
#include "config/cfg_profile_tree.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

namespace profile_props {

bool parse_decimal(const char *text, u32 lo, u32 hi, u32 *out)
{
    if (text == nullptr || text[0] < '0' || text[0] > '9')
        return false;
    char *end = nullptr;
    unsigned long v = strtoul(text, &end, 10);
    if (*end != '\0' || v < lo || v > hi)
        return false;
    *out = (u32)v;
    return true;
}

void factory_erase_payload(u8 payload[20])
{
    memset(payload, 0, 20);
    payload[0] = 3;
    payload[4] = 27;
}

}  // namespace profile_props

namespace {

const char *const kAriFailed = "Failed to get ARI settings. Please check orsa2d.log file for more information.";

u32 fail_text(u32 code, const char *text)
{
    orsa_set_last_status(code, text);
    return 1;
}

bool no_profiles(u32 gen)
{
    return gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3 || gen == ORSA_ASIC_PIVARD;
}

/* Where an action's commands go: the controller's first physical HBA, with
 * the domain and physical-HBA port of the node. */
struct Address {
    OrsaPort at{0, ORSA_PROTO_NONE};
    u8 domain = 0;
    u8 phba_port = 0;
};

bool address_of(HmNode *controller, HmNode *node, Address *a)
{
    a->at = orsa_controller_port(controller);
    a->domain = (u8)get_domain_id(node);
    a->phba_port = (u8)get_phba_port_number(node);
    return a->at.instance != 0;
}

/* Builds the ConfiguredProfile's ports again from what the adapter now has
 * configured; 0 or 1. */
u32 rebuild_configured(HmNode *configured, HmNode *controller)
{
    if (purge_nodes_within(configured, "Port") != 0)
        return 1;
    return ORSA_get_configured_profiles(controller);
}

/* The three ARI properties share one read. */
u32 ari_property(HmNode *property, char *value)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *group = property->parent;
    if (vm_flag) {
        set_prop_val(group, property->name, "%s", "N/A");
        return orsa_refuse_in_vf(value);
    }
    HmNode *pm = group->parent;
    HmNode *ks = pm != nullptr ? pm->parent : nullptr;
    if (ks == nullptr)
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (no_profiles(gen))
        return orsa_store_and_answer(property, value, "N/A");
    Address a;
    if (!address_of(ks, property, &a))
        return 1;
    AriSettings ari = {};
    u32 rc = ioctl_get_ari_settings(a.at, &ari, a.domain, a.phba_port);
    if (rc == ORSA_STATUS_CMD_UNKNOWN)
        return orsa_store_and_answer(property, value, "N/A");
    if (rc != 0)
        return fail_text(ORSA_STATUS_ARI_FAILED, kAriFailed);
    rc = set_prop_val(group, "MaxFunctionNumber", "%d", ari.next_max_pf_id);
    rc |= set_prop_val(group, "IPLMaxFunctionNumber", "%d", ari.max_pf_id);
    rc |= set_prop_val(group, "SettableMaxFunctionNumber", "%s", (ari.flags & ORSA_CONFIG_ID_DEFAULT) != 0 ? "Yes" : "No");
    return orsa_answer(property, value, rc);
}

/* The two link configuration writes: an id, or the factory one. */
u32 set_link_config(HmNode *group, HmNode *action, const u8 *id)
{
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    HmNode *ks = group != nullptr ? group->parent : nullptr;
    if (action == nullptr || ks == nullptr)
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (no_profiles(gen))
        return fail_text(ORSA_STATUS_LINK_CONFIG_UNSUPPORTED,
                         "Setting factory Link configuration settings is not supported on this adapter.");
    Address a;
    if (!address_of(ks, action, &a))
        return 1;
    ConfigIdWrite w = {};
    if (id != nullptr)
        w.id = *id;
    else
        w.flags = ORSA_CONFIG_ID_DEFAULT;
    if (ioctl_set_link_reconfig(a.at, &w, a.domain, a.phba_port) != 0)
        return fail_text(ORSA_STATUS_LINK_CONFIG_FAILED,
                         "Failed to set Link Reconfiguration settings. Please check orsa2d.log file for more "
                         "information.");
    HmNode *pm = internal_get_node(ks, "ProfileManagement", HM_KIND_GROUP);
    HmNode *cp = pm != nullptr ? internal_get_node(pm, "ConfiguredProfile", HM_KIND_GROUP) : nullptr;
    if (cp == nullptr)
        return 1;
    return rebuild_configured(cp, ks);
}

const char *param_text(HmValueSlot *params, u32 i)
{
    return params != nullptr ? (const char *)params[i] : "";
}

}  // namespace

/* ---- ARI properties ---- */

u32 handle_MaxFunctionNumber(HmNode *property, char *value, u32)
{
    return ari_property(property, value);
}

u32 handle_IPLMaxFunctionNumber(HmNode *property, char *value, u32)
{
    return ari_property(property, value);
}

u32 handle_SettableMaxFunctionNumber(HmNode *property, char *value, u32)
{
    return ari_property(property, value);
}

u32 handle_ConfiguredLinkConfigID(HmNode *property, char *value, u32)
{
    HmNode *group = property != nullptr ? property->parent : nullptr;
    HmNode *ks = group != nullptr ? group->parent : nullptr;
    if (ks == nullptr)
        return 1;
    if (no_profiles(get_ks_type(ks)))
        return orsa_store_and_answer(property, value, "N/A");
    if (ORSA_get_link_reconfig_details(ks, 1) != 0)
        return 1;
    return orsa_answer(property, value, 0);
}

/* ---- actions ---- */

u32 do_SetMaxFunctionNumber(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (group == nullptr || action == nullptr)
        return 1;
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    HmNode *pm = group->parent;
    HmNode *ks = pm != nullptr ? pm->parent : nullptr;
    if (ks == nullptr)
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE || no_profiles(gen))
        return 1;
    // What the client saw last; a change is not offered before it was read.
    HmNode *settable = internal_get_node(group, "SettableMaxFunctionNumber", HM_KIND_PROPERTY);
    if (settable == nullptr || strcasecmp(HM_PROPERTY(settable)->value, "No") == 0)
        return fail_text(ORSA_STATUS_ARI_NOT_SETTABLE,
                         "Failed to SetMaxFunctionNumber. Because this comamnd is not supported on this adapter.");
    const char *given = param_text(params, 0);
    ConfigIdWrite w = {};
    if (given[0] != '\0') {
        u32 n = 0;
        if (!profile_props::parse_decimal(given, 0, 255, &n) || (n != 7 && n != 15))
            return fail_text(ORSA_STATUS_PROFILE_INVALID_VALUE, "Invalid Value.");
        w.id = (u8)n;
    } else {
        w.flags = ORSA_CONFIG_ID_DEFAULT;
    }
    Address a;
    if (!address_of(ks, action, &a))
        return 1;
    if (ioctl_set_ari_settings(a.at, &w, a.domain, a.phba_port) != 0)
        return fail_text(ORSA_STATUS_ARI_FAILED, kAriFailed);
    if (rebuild_configured(group, ks) != 0)
        return 1;
    orsa_set_status(ORSA_STATUS_PROFILE_CONFIGURED);
    return 0;
}

u32 do_SetProfileId(HmNode *group, HmNode *action, HmValueSlot *params)
{
    HmNode *ks = group != nullptr ? group->parent : nullptr;
    if (ks == nullptr || action == nullptr)
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE || no_profiles(gen))
        return 1;
    HmNode *cp = internal_get_node(group, "ConfiguredProfile", HM_KIND_GROUP);
    if (cp == nullptr)
        return 1;
    // Only one byte carries the id: 256 would reach the adapter as 0.
    u32 id = 0;
    if (!profile_props::parse_decimal(param_text(params, 0), 1, 255, &id)) {
        orsa_set_last_status(ORSA_STATUS_OUT_OF_RANGE, "ProfileId: Value out of range. Valid range is from 1 to 255.");
        return 1;
    }
    Address a;
    if (!address_of(ks, action, &a))
        return 1;
    ConfigIdWrite w = {};
    w.id = (u8)id;
    if (ioctl_set_active_profile(a.at, &w, a.domain, a.phba_port) != 0)
        return fail_text(ORSA_STATUS_SET_ACTIVE_PROFILE_FAILED,
                         "Failed to set active profile. Please check orsa2d.log file for more information.");
    if (rebuild_configured(cp, ks) != 0)
        return 1;
    orsa_set_status(ORSA_STATUS_PROFILE_CONFIGURED);
    return 0;
}

u32 do_SetLinkConfigID(HmNode *group, HmNode *action, HmValueSlot *params)
{
    u32 id = 0;
    if (!profile_props::parse_decimal(param_text(params, 0), 0, 255, &id))
        return orsa_fail_with(ORSA_STATUS_OUT_OF_RANGE);
    const u8 byte = (u8)id;
    return set_link_config(group, action, &byte);
}

u32 do_SetLinkConfigFactoryDefaults(HmNode *group, HmNode *action, HmValueSlot *)
{
    return set_link_config(group, action, nullptr);
}

u32 do_SetFactoryDefaults(HmNode *group, HmNode *action, HmValueSlot *)
{
    HmNode *ks = group != nullptr ? group->parent : nullptr;
    if (ks == nullptr || action == nullptr)
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE || no_profiles(gen))
        return 1;
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    Address a;
    if (!address_of(ks, action, &a))
        return 1;
    if (gen != ORSA_ASIC_VESKARN)
        return fail_text(ORSA_STATUS_FACTORY_PROFILE_UNSUPPORTED,
                         "Setting factory profile default settings is not supported on this adapter.");
    ConfigIdWrite w = {};
    w.flags = ORSA_CONFIG_ID_DEFAULT;
    if (ioctl_set_active_profile(a.at, &w, a.domain, a.phba_port) != 0)
        return fail_text(ORSA_STATUS_SET_ACTIVE_PROFILE_FAILED,
                         "Failed to set active profile. Please check orsa2d.log file for more information.");
    HmNode *cp = internal_get_node(group, "ConfiguredProfile", HM_KIND_GROUP);
    if (cp == nullptr || rebuild_configured(cp, ks) != 0)
        return 1;
    // The server maker's own systems keep their flash configuration: the
    // check answers 0 for a subsystem id in its table.
    if (ORSA_DetermineIfDellSystem(ks) == 0)
        return 0;
    u32 restored = ORSA_reset_virt_mac(ks, 0);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: virtual MAC restore answered %u\n", __func__, (unsigned)restored);
    u8 payload[20];
    profile_props::factory_erase_payload(payload);
    u32 rc = ioctl_erase_ROM(a.at, payload, a.domain, a.phba_port);
    pdebug(ORSA_LOG_CAT_OTHER, rc == 0 ? ORSA_LOG_DEBUG : ORSA_LOG_ERROR, "%s:status = %d\n", __func__, (int)rc);
    // "Done, takes effect at the next reset" is the erase carried out.
    if (rc == 0 || rc == ORSA_STATUS_NEEDS_REBOOT)
        return 0;
    return rc;
}

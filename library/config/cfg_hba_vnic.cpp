/* vNIC, RoCE, bandwidth soft caps and iSCSI QoS of the physical and
 * logical HBAs. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_multichannel.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

void orsa_softcap_text(u32 speed_gbps, u32 share, char out[HM_VALUE_SIZE])
{
    // A share of all ones (the adapter's "unchanged") must not wrap.
    unsigned long long v = (unsigned long long)speed_gbps * share;
    if (v % 10 == 0)
        snprintf(out, HM_VALUE_SIZE, "%llu", v / 10);
    else
        snprintf(out, HM_VALUE_SIZE, "%.1f", (double)v / 10.0);
}

namespace {

using Where = OrsaWhere;

Where where_of(HmNode *node)
{
    return orsa_where_of(node);
}

/* The physical HBA (NIC or iSCSI) a node lies in. */
HmNode *phba_of(HmNode *node)
{
    for (HmNode *n = node; n != nullptr; n = n->parent) {
        if (n->kind == HM_KIND_GROUP && n->name != nullptr &&
            (strcmp(n->name, "NICPhysicalHBA") == 0 || strcmp(n->name, "iSCSIPhysicalHBA") == 0))
            return n;
        if (n->parent == n)
            break;
    }
    return nullptr;
}

/* The FunctionNumber text of the PCI subgroup of a physical HBA. */
bool pci_function(HmNode *phba, char out[HM_VALUE_SIZE])
{
    HmNode *pci = phba != nullptr ? internal_get_node(phba, "PCI", HM_KIND_GROUP) : nullptr;
    return pci != nullptr && internal_get_property(pci, "FunctionNumber", out) == 0;
}

u32 vnic_name_props(HmNode *property, char *value)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    u32 gen = get_ks_type(orsa_controller_of(property));
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    // A controller of no known generation names no vNIC: the group keeps
    // what it shows (not enabled).
    if (gen == ORSA_ASIC_UNKNOWN)
        return orsa_answer(property, value, 0);
    Where w = where_of(property);
    if (w.at.instance == 0)
        return 1;
    return orsa_answer(property, value, get_vnic_name(w.at, w.domain, w.phba_port, property->parent));
}

u32 vnic_stats(HmNode *property, char *value)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *group = property->parent;
    char enabled[HM_VALUE_SIZE] = "";
    if (internal_get_property(group, "vNICEnabled", enabled) != 0)
        return 1;
    if (strcasecmp(enabled, "True") != 0) {
        set_prop_val(group, "OuterVLANID", "%s", "");
        set_prop_val(group, "MinBandwidth", "%s", "");
        set_prop_val(group, "MaxBandwidth", "%s", "");
        return orsa_answer(property, value, 0);
    }
    Where w = where_of(property);
    if (w.at.instance == 0)
        return 1;
    return orsa_answer(property, value, get_vnic_stats(w.at, w.domain, w.phba_port, group));
}

bool parse_decimal(const char *text, u32 *out)
{
    if (text == nullptr || text[0] == '\0')
        return false;
    char *end = nullptr;
    unsigned long v = strtoul(text, &end, 10);
    if (end == text || *end != '\0' || v > 0xFFFFFFFFul / 1024)
        return false;
    *out = (u32)v;
    return true;
}

u32 qos_handler(HmNode *property, char *value, u32 mode, bool bytes)
{
    if (property == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    Where w = where_of(property);
    if (w.at.instance == 0)
        return 1;
    if (mode == HM_MODE_SET) {
        u32 v = 0;
        if (!parse_decimal(value, &v))
            return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
        u8 request[36] = {};
        if (bytes) {
            request[0] = 0x40;
            v *= 1024u;
            memcpy(request + 16, &v, 4);
        } else {
            request[0] = 0x04;
            memcpy(request + 12, &v, 4);
        }
        if (ioctl_qos_set(w.at, request, w.domain, w.phba_port) != 0)
            return orsa_fail_with(ORSA_STATUS_QOS_SET_FAILED);
    }
    return orsa_answer(property, value, get_qos_params(w.at, w.domain, w.phba_port, property->parent));
}

}  // namespace

/* ---- readers ---- */

u32 get_vnic_name(OrsaPort at, u8 domain, u8 phba_port, HmNode *group)
{
    if (group == nullptr)
        return 1;
    u8 reply[92] = {};
    u32 rc = ioctl_get_vnic_function_name(at, reply, domain, phba_port);
    if (rc == 0 && orsa_rd32(reply) == 1) {
        char name[89] = "";
        memcpy(name, reply + 4, sizeof name - 1);
        set_prop_val(group, "vNICEnabled", "true");
        return set_prop_val(group, "vNICName", "%s", name) != 0 ? 1 : 0;
    }
    if (rc == 0 || rc == ORSA_STATUS_CMD_UNKNOWN) {
        set_prop_val(group, "vNICEnabled", "False");
        return set_prop_val(group, "vNICName", "%s", "") != 0 ? 1 : 0;
    }
    return orsa_fail_with(ORSA_STATUS_VNIC_CONFIG_FAILED);
}

u32 get_vnic_stats(OrsaPort at, u8 domain, u8 phba_port, HmNode *group)
{
    if (group == nullptr)
        return 1;
    u8 reply[24] = {};
    if (ioctl_get_vnic_function_stats(at, reply, domain, phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_VNIC_STATS_FAILED);
    set_prop_val(group, "OuterVLANID", "%u", (unsigned)orsa_rd32(reply + 4));
    set_prop_val(group, "MinBandwidth", "%u", (unsigned)orsa_rd32(reply + 12));
    set_prop_val(group, "MaxBandwidth", "%u", (unsigned)orsa_rd32(reply + 16));
    return 0;
}

u32 get_qos_params(OrsaPort at, u8 domain, u8 phba_port, HmNode *group)
{
    if (group == nullptr)
        return 1;
    u8 reply[32] = {};
    if (ioctl_qos_get(at, reply, domain, phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_QOS_GET_FAILED);
    set_prop_val(group, "MaxIosPerSecond", "%u", (unsigned)orsa_rd32(reply + 8));
    set_prop_val(group, "MaxBytesPerSecond", "%u", (unsigned)(orsa_rd32(reply + 12) >> 10));
    return 0;
}

u32 ORSA_get_legacy_QOS(OrsaPort at, HmNode *group)
{
    if (group == nullptr)
        return 1;
    if (get_ks_type(orsa_controller_of(group)) == ORSA_ASIC_PIVARD)
        return orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED);
    u8 reply[32] = {};
    if (ioctl_qos_get(OrsaPort{at.instance, ORSA_PROTO_NIC}, reply, (u8)get_domain_id(group),
                      (u8)get_phba_port_number(group)) != 0)
        return orsa_fail_with(ORSA_STATUS_QOS_GET_FAILED);
    return set_prop_val(group, "MaxBitsPerSecond", "%u", (unsigned)orsa_rd32(reply)) != 0 ? 1 : 0;
}

u32 get_nicphba_params(u32 port, HmNode *group)
{
    if (group == nullptr || port == 0)
        return 1;
    u8 reply[32] = {};
    if (ioctl_qos_get(orsa_nic_port(port), reply, (u8)get_domain_id(group), (u8)get_phba_port_number(group)) != 0)
        return orsa_fail_with(ORSA_STATUS_QOS_GET_FAILED);
    return set_prop_val(group, "MaxBitsPerSecond", "%u", (unsigned)orsa_rd32(reply)) != 0 ? 1 : 0;
}

u32 ORSA_get_bw_softcap(HmNode *group, HmNode *controller, OrsaPort at, u8 domain, u8 phba_port, u32 function_type,
                        const char *function, HmNode *property)
{
    if (group == nullptr || controller == nullptr || function == nullptr || property == nullptr)
        return 1;
    u8 params[12] = {};
    if (ioctl_get_NIC_link_params(at, params, domain, phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_NIC_PARAMS_FAILED);
    static const u32 kGbps[] = {0, 0, 0, 1, 10, 20, 25, 40, 100};
    u32 code = params[2];
    if (code < 3 || code > 8) {
        set_prop_val(group, "MinBitsPerSecond", "0");
        set_prop_val(group, "MaxBitsPerSecond", "0");
        return 0;
    }
    ProfileConfig *profile = ORSA_get_profile(controller, ORSA_CFG_ACTIVE, 0, 0);
    if (profile == nullptr)
        return 1;
    const size_t min_at = function_type == ORSA_RES_NIC_FUNCTION ? 48 : 36;
    const u8 *found = nullptr;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&w, (u8)function_type)) {
        char text[16];
        snprintf(text, sizeof text, "0x%x", orsa_res_pf(rec));
        if (strcasecmp(text, function) == 0) {
            found = rec;
            break;
        }
    }
    u32 rc = 0;
    if (found != nullptr) {
        bool max = strcmp(property->name, "MaxBitsPerSecond") == 0;
        if (max || strcmp(property->name, "MinBitsPerSecond") == 0) {
            char text[HM_VALUE_SIZE];
            orsa_softcap_text(kGbps[code], orsa_rd32(found + min_at + (max ? 4 : 0)), text);
            rc = set_prop_val(group, property->name, "%s", text) != 0 ? 1 : 0;
        }
    }
    orsa_dfree(profile);
    return rc;
}

/* ---- handlers ---- */

u32 handle_IsRoCEEnabled(HmNode *property, char *value, u32)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (vm_flag)
        orsa_answer_na(value);
    HmNode *phba = property->parent;
    HmNode *ks = orsa_controller_of(phba);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3 || gen == ORSA_ASIC_PIVARD)
        return orsa_store_and_answer(property, value, "N/A");
    set_prop_val(phba, property->name, "False");
    char fn[HM_VALUE_SIZE] = "";
    if (!pci_function(phba, fn))
        return 1;
    char *end = nullptr;
    unsigned long pf = strtoul(fn, &end, 16);
    if (end == fn || *end != '\0')
        return 1;
    ProfileConfig *profile = ORSA_get_profile(ks, ORSA_CFG_ACTIVE, 0, 0);
    if (profile == nullptr)
        return 1;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&w, ORSA_RES_ROCE_FUNCTION)) {
        if (orsa_res_pf(rec) == pf) {
            set_prop_val(phba, property->name, "True");
            break;
        }
    }
    orsa_dfree(profile);
    return orsa_answer(property, value, 0);
}

u32 handle_nic_vnic_name_props(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    if (get_ks_type(orsa_controller_of(property)) == ORSA_ASIC_PIVARD)
        return orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED);
    return vnic_name_props(property, value);
}

u32 handle_iscsi_vnic_name_props(HmNode *property, char *value, u32)
{
    return vnic_name_props(property, value);
}

u32 handle_nic_vnic_stats(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    return vnic_stats(property, value);
}

u32 handle_iscsi_vnic_stats(HmNode *property, char *value, u32)
{
    return vnic_stats(property, value);
}

u32 handle_nic_bandwidth_softcap(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *phba = property->parent;
    HmNode *ks = orsa_controller_of(phba);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    Where w = where_of(phba);
    if (w.at.instance == 0)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_PIVARD) {
        set_prop_val(phba, "MinBitsPerSecond", "N/A");
        if (strcmp(property->name, "MaxBitsPerSecond") == 0 && ORSA_get_legacy_QOS(w.at, phba) != 0)
            return 1;
        return orsa_answer(property, value, 0);
    }
    char fn[HM_VALUE_SIZE] = "";
    if (!pci_function(phba, fn))
        return 1;
    return orsa_answer(property, value,
                       ORSA_get_bw_softcap(phba, ks, w.at, w.domain, w.phba_port, ORSA_RES_NIC_FUNCTION, fn, property));
}

u32 handle_iscsi_bandwidth_softcap(HmNode *property, char *value, u32)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *group = property->parent;
    HmNode *ks = orsa_controller_of(group);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    auto both_na = [&](u32 rc) {
        set_prop_val(group, "MinBitsPerSecond", "N/A");
        set_prop_val(group, "MaxBitsPerSecond", "N/A");
        return orsa_answer(property, value, rc);
    };
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_PIVARD)
        return both_na(0);
    Where w = where_of(group);
    char fn[HM_VALUE_SIZE] = "";
    if (w.at.instance == 0 || !pci_function(phba_of(group), fn))
        return both_na(1);
    u32 rc = ORSA_get_bw_softcap(group, ks, w.at, w.domain, w.phba_port, ORSA_RES_ISCSI_FUNCTION, fn, property);
    return rc != 0 ? both_na(1) : orsa_answer(property, value, 0);
}

u32 handle_MaxIosPerSecond(HmNode *property, char *value, u32 mode)
{
    return qos_handler(property, value, mode, false);
}

u32 handle_MaxBytesPerSecond(HmNode *property, char *value, u32 mode)
{
    return qos_handler(property, value, mode, true);
}

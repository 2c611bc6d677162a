/* Multichannel ports: channels, channel properties and QoS, the adapter's
 * multichannel mode, the staged configured-profile choices and the port's
 * interface type. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_multichannel.h"
#include "config/cfg_personality.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_persist.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

/* ---- pure helpers ---- */

bool orsa_list_has_entry(const char *list, const char *item)
{
    if (list == nullptr || item == nullptr || item[0] == '\0')
        return false;
    size_t n = strlen(item);
    for (const char *p = list; p != nullptr && *p != '\0';) {
        const char *comma = strchr(p, ',');
        size_t len = comma != nullptr ? (size_t)(comma - p) : strlen(p);
        if (len == n && strncasecmp(p, item, n) == 0)
            return true;
        p = comma != nullptr ? comma + 1 : nullptr;
    }
    return false;
}

void orsa_mc_types_text(u32 bits, char out[HM_VALUE_SIZE])
{
    static const struct {
        u32 bit;
        const char *text;
    } kTypes[] = {{0x8, "NPAR"}, {0x10, "vNIC1"}, {0x40, "UFP"}, {0x200, "HPUMC"}, {0x400, "HPFlex"}, {0x80, "HPFlexQBG"}};
    out[0] = '\0';
    // vNIC2 and UMC exclude each other; an adapter offering vNIC2 shows it alone.
    if (bits & 0x20)
        orsa_strlcpy(out, "vNIC2", HM_VALUE_SIZE);
    else if (bits & 0x1)
        orsa_strlcpy(out, "UMC", HM_VALUE_SIZE);
    for (const auto &t : kTypes) {
        if ((bits & t.bit) == 0)
            continue;
        if (out[0] != '\0')
            strncat(out, ",", HM_VALUE_SIZE - strlen(out) - 1);
        strncat(out, t.text, HM_VALUE_SIZE - strlen(out) - 1);
    }
    if (out[0] == '\0')
        orsa_strlcpy(out, "N/A", HM_VALUE_SIZE);
}

namespace {

/* Where the channel fields of a function record lie. */
struct ChannelFields {
    u8 type;
    size_t disabled; /* byte whose bit 1 is the logical link disabled flag */
    size_t mac;
    size_t min, max; /* u32 bandwidth shares in percent */
};

const ChannelFields kNic = {ORSA_RES_NIC_FUNCTION, 45, 10, 48, 52};
const ChannelFields kIscsi = {ORSA_RES_ISCSI_FUNCTION, 33, 14, 36, 40};
const ChannelFields kFcoe = {ORSA_RES_FCOE_FUNCTION, 53, 40, 56, 60};

const ChannelFields *fields_of(u32 type)
{
    switch (type) {
    case ORSA_RES_NIC_FUNCTION:
        return &kNic;
    case ORSA_RES_ISCSI_FUNCTION:
        return &kIscsi;
    case ORSA_RES_FCOE_FUNCTION:
        return &kFcoe;
    default:
        return nullptr;
    }
}

/* The record type of a channel's Type text; 0 for another text. */
u32 record_type_of(const char *type)
{
    if (strcmp(type, "NIC") == 0 || strcmp(type, "NIC+RoCE") == 0)
        return ORSA_RES_NIC_FUNCTION;
    if (strcmp(type, "iSCSI") == 0)
        return ORSA_RES_ISCSI_FUNCTION;
    if (strcmp(type, "FCOE") == 0)
        return ORSA_RES_FCOE_FUNCTION;
    return 0;
}

void wr16(u8 *p, u32 v)
{
    p[0] = (u8)v;
    p[1] = (u8)(v >> 8);
}

void wr32(u8 *p, u32 v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (u8)(v >> (8 * i));
}

bool same(const char *a, const char *b)
{
    return strcmp(a, b) == 0;
}

/* The read-back text of a port record's mc_type; none leaves the property. */
const char *read_back_text(u32 code)
{
    switch (code) {
    case 0:
    case 1:
    case 3:
        return "N/A";
    case 2:
        return "UMC";
    case 4:
        return "vNIC1";
    case 5:
        return "NPAR";
    case 6:
        return "UFP";
    case 7:
        return "vNIC2";
    default:
        return nullptr;
    }
}

/* The mc_type code ConfigureChannelManagement writes for a ChannelType. */
u8 mc_code_of(const char *type)
{
    static const struct {
        const char *text;
        u8 code;
    } kCodes[] = {{"UMC", 2}, {"vNIC1", 4}, {"vNIC2", 7}, {"NPAR", 5}, {"UFP", 6}, {"HPUMC", 10}};
    for (const auto &c : kCodes)
        if (strcasecmp(type, c.text) == 0)
            return c.code;
    return 0;
}

/* Where an adapter-wide command goes: the controller's first physical HBA. */

const char *cached_value(HmNode *group, const char *name)
{
    HmNode *p = group != nullptr ? internal_get_node(group, name, HM_KIND_PROPERTY) : nullptr;
    return p != nullptr && p->body != nullptr ? HM_PROPERTY(p)->value : nullptr;
}

/* The first record of a type whose "0x%x" function number is function. */
const u8 *record_by_text(const ProfileConfig *profile, u32 type, const char *function)
{
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&w, (u8)type)) {
        char text[16];
        snprintf(text, sizeof text, "0x%x", orsa_res_pf(rec));
        if (strcasecmp(text, function) == 0)
            return rec;
    }
    return nullptr;
}

const u8 *record_by_number(const ProfileConfig *profile, u32 type, u32 pf)
{
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&w, (u8)type))
        if (orsa_res_pf(rec) == pf)
            return rec;
    return nullptr;
}

/* Firmware function capabilities bit 6: the adapter runs no multichannel. */
bool mc_hidden_by_fw(HmNode *ks)
{
    OrsaWhere a;
    if (!orsa_controller_where(ks, &a))
        return false;
    u8 config[156] = {};
    if (ioctl_get_fw_config(a.at, config, a.domain, a.phba_port) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: firmware configuration read failed\n", __func__);
        return false;
    }
    return (orsa_rd32(config + 120) & 0x40u) != 0;
}

/* The multichannel state of a channel's port as the channel handlers take it. */
struct McState {
    char current[HM_VALUE_SIZE] = "";
    char configured[HM_VALUE_SIZE] = "";
    char reboot[HM_VALUE_SIZE] = "";
};

HmNode *port_group_of_channel(HmNode *channel)
{
    HmNode *cm = channel != nullptr ? channel->parent : nullptr;
    return cm != nullptr ? cm->parent : nullptr;
}

enum class StateUse { Channel, LinkState, Qos };

u32 mc_state(HmNode *channel, StateUse use, McState *s)
{
    HmNode *ks = orsa_controller_of(channel);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_KS3) {
        HmNode *cm = internal_get_node(ks, "ChannelManagement", HM_KIND_GROUP);
        if (cm == nullptr || internal_get_property(cm, "CurrentManagementType", s->current) != 0)
            return 1;
        if (use != StateUse::LinkState && internal_get_property(cm, "ConfiguredManagementType", s->configured) != 0)
            return 1;
        if (use != StateUse::Qos)
            orsa_strlcpy(s->reboot, "No", HM_VALUE_SIZE);
        return 0;
    }
    if (gen == ORSA_ASIC_VESKARN)
        return ORSA_get_vkh_mc_type(ks, port_group_of_channel(channel), s->current, s->configured, s->reboot);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    // The other generations run no multichannel: their channels take no
    // writes, as with multichannel switched off.
    orsa_strlcpy(s->current, "N/A", HM_VALUE_SIZE);
    orsa_strlcpy(s->configured, "N/A", HM_VALUE_SIZE);
    return 0;
}

bool is_na_or_none(const char *t)
{
    return same(t, "N/A") || same(t, "None");
}

/* A read of a channel property from the profile config_type names. */
u32 channel_get(HmNode *property, char *value, u32 config_type)
{
    HmNode *channel = property->parent;
    ProfileConfig *profile = ORSA_get_profile(orsa_controller_of(channel), config_type, 0, 0);
    if (profile == nullptr)
        return 1;
    u32 rc = ORSA_get_mchannel_params(channel, property, profile);
    orsa_dfree(profile);
    return orsa_answer(property, value, rc);
}

/* The common part of a channel write or QoS request: the copied record with
 * its function, type, length and the change flags of byte 3. */
void stamp_record(u8 *r, const u8 *source, u32 type, u32 pf, const char *current, const char *reboot)
{
    memcpy(r, source, ORSA_RES_DESC_LEN);
    r[6] = (u8)pf;
    r[7] = (u8)((r[7] & ~3u) | ((pf >> 8) & 3u));
    r[0] = (u8)type;
    r[1] = ORSA_RES_DESC_LEN;
    r[3] &= (u8)~0x82u;
    if (is_na_or_none(current) || same(reboot, "Yes"))
        r[3] &= (u8)~0x40u;
    else
        r[3] |= 0x40u;
}

/* The NIC record fields the adapter is to leave as they are. */
void keep_nic_fields(u8 *r, u32 phba_port)
{
    r[47] |= 0xF0u;
    r[44] = (u8)((r[44] & 0xC0u) | (phba_port & 0x3Fu));
    static const size_t kKeep[] = {8, 18, 20, 28, 32, 38, 60, 62};
    for (size_t off : kKeep)
        wr16(r + off, 0xFFFF);
}

void set_disabled(u8 *r, size_t at, bool disabled)
{
    if (disabled)
        r[at] |= 0x02u;
    else
        r[at] &= (u8)~0x02u;
}

bool parse_number(const char *text, int base, u32 *out)
{
    if (text == nullptr || text[0] == '\0')
        return false;
    char *end = nullptr;
    unsigned long v = strtoul(text, &end, base);
    if (end == text || *end != '\0')
        return false;
    *out = (u32)v;
    return true;
}

/* Rebuilds the channels of one port group. */
u32 rebuild_channels(HmNode *port_group)
{
    char text[HM_VALUE_SIZE] = "";
    u32 port = 0;
    if (internal_get_property(port_group, "PortNumber", text) != 0 || !parse_number(text, 10, &port))
        return 1;
    HmNode *cm = internal_get_node(port_group, "ChannelManagement", HM_KIND_GROUP);
    if (cm != nullptr)
        purge_nodes_within(cm, "Channel");
    return ORSA_get_multi_channels_info(port, port_group);
}

}  // namespace

/* ---- channels ---- */

u32 group_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement(HmNode *group)
{
    HmNode *port_group = group != nullptr ? group->parent : nullptr;
    char text[HM_VALUE_SIZE] = "";
    u32 port = 0;
    if (port_group == nullptr || internal_get_property(port_group, "PortNumber", text) != 0 ||
        !parse_number(text, 10, &port))
        return 1;
    purge_nodes_within(group, "Channel");
    // A failed read leaves the port without channels until the next refresh.
    ORSA_get_multi_channels_info(port, port_group);
    return 0;
}

u32 ORSA_initialize_channels(u32 type, const char *function, HmNode *cm, const u8 *rec)
{
    if (function == nullptr || cm == nullptr)
        return 1;
    if (type == ORSA_RES_ROCE_FUNCTION) {
        for (HmNode *ch = get_first_instance(cm, "Channel"); ch != nullptr;) {
            HmInstanceInfo *info = hm_instance_info(ch);
            if (info == nullptr || info->number < 0)
                break;
            const char *t = cached_value(ch, "Type");
            const char *fn = cached_value(ch, "FunctionNumber");
            if (t != nullptr && fn != nullptr && same(t, "NIC") && strcasecmp(fn, function) == 0)
                return set_prop_val(ch, "Type", "NIC+RoCE") != 0 ? 1 : 0;
            ch = info->next_instance;
        }
        return 0;
    }
    HmNode *ch = initialize_Channel(cm, nullptr, nullptr, nullptr);
    if (ch == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "Failed to initialize Channel group.\n");
        return 1;
    }
    set_prop_val(ch, "FunctionNumber", "%s", function);
    const ChannelFields *f = fields_of(type);
    if (f == nullptr || rec == nullptr)
        return 0;
    set_prop_val(ch, "Type", "%s", type == ORSA_RES_NIC_FUNCTION ? "NIC" : type == ORSA_RES_ISCSI_FUNCTION ? "iSCSI" : "FCOE");
    set_prop_val(ch, "LogicalLinkState", "%s", (rec[f->disabled] & 0x02u) != 0 ? "Disabled" : "Enabled");
    const u8 *m = rec + f->mac;
    set_prop_val(ch, "MACAddress", "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    if (type == ORSA_RES_NIC_FUNCTION)
        set_prop_val(ch, "LPVID", "%u", (unsigned)orsa_rd16(rec + 36));
    else
        set_prop_val(ch, "LPVID", "N/A");
    set_prop_val(ch, "MinBandWidth", "%u", (unsigned)orsa_rd32(rec + f->min));
    set_prop_val(ch, "MaxBandWidth", "%u", (unsigned)orsa_rd32(rec + f->max));
    return 0;
}

u32 ORSA_get_multi_channels_info(u32 port, HmNode *port_group)
{
    HmNode *ks = orsa_controller_of(port_group);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_PIVARD)
        return 0;
    HmNode *cm = internal_get_node(port_group, "ChannelManagement", HM_KIND_GROUP);
    if (cm == nullptr || orsa_first_phba(ks) == nullptr)
        return 1;
    ProfileConfig *profile = ORSA_get_profile(ks, ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return orsa_set_status(ORSA_STATUS_PROFILE_CONFIG_FAILED);
    u32 rc = 0;
    u8 pf_state = 0;
    i32 link = -1;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next(&w)) {
        u8 type = rec[0];
        if (type == ORSA_RES_PCIE_FUNCTION) {
            pf_state = rec[13];
            continue;
        }
        if (pf_state != 1)
            continue;
        if (type >= ORSA_RES_NIC_FUNCTION && type <= ORSA_RES_FCOE_FUNCTION)
            link = orsa_res_port(rec);
        else if (type != ORSA_RES_ROCE_FUNCTION)
            continue;
        if (orsa_res_hidden(rec) || link != (i32)port)
            continue;
        char function[16];
        snprintf(function, sizeof function, "0x%x", orsa_res_pf(rec));
        rc = ORSA_initialize_channels(type, function, cm, rec);
        if (rc != 0)
            break;
    }
    orsa_dfree(profile);
    return rc;
}

u32 ORSA_get_mchannel_params(HmNode *channel, HmNode *property, const ProfileConfig *profile)
{
    if (channel == nullptr || property == nullptr || profile == nullptr)
        return 1;
    const char *type = cached_value(channel, "Type");
    const char *fn = cached_value(channel, "FunctionNumber");
    if (type == nullptr || fn == nullptr)
        return 1;
    u32 rtype = record_type_of(type);
    const ChannelFields *f = fields_of(rtype);
    const u8 *rec = f != nullptr ? record_by_text(profile, rtype, fn) : nullptr;
    if (rec == nullptr)
        return 0;
    const char *name = property->name;
    if (same(name, "LogicalLinkState"))
        return set_prop_val(channel, name, "%s", (rec[f->disabled] & 0x02u) != 0 ? "Disabled" : "Enabled");
    if (same(name, "LPVID") || same(name, "OuterVLANID")) {
        if (rtype != ORSA_RES_NIC_FUNCTION)
            return set_prop_val(channel, name, "N/A");
        u32 v = same(name, "LPVID") ? orsa_rd16(rec + 36) : (u32)rec[46] + (u32)(rec[47] & 15u) * 256u;
        return set_prop_val(channel, name, "%u", (unsigned)v);
    }
    if (same(name, "MinBandWidth"))
        return set_prop_val(channel, name, "%u", (unsigned)orsa_rd32(rec + f->min));
    if (same(name, "MaxBandWidth"))
        return set_prop_val(channel, name, "%u", (unsigned)orsa_rd32(rec + f->max));
    return 0;
}

u32 ORSA_set_mchannel_params(HmNode *ks, HmNode *channel, HmNode *property, const char *value,
                             const char *current, const char *reboot)
{
    if (ks == nullptr || channel == nullptr || property == nullptr || value == nullptr)
        return 1;
    char fn[HM_VALUE_SIZE], type[HM_VALUE_SIZE], min[HM_VALUE_SIZE], max[HM_VALUE_SIZE];
    if (internal_get_property(channel, "FunctionNumber", fn) != 0 || internal_get_property(channel, "Type", type) != 0 ||
        internal_get_property(channel, "MinBandWidth", min) != 0 ||
        internal_get_property(channel, "MaxBandWidth", max) != 0)
        return 1;
    OrsaWhere a;
    if (!orsa_controller_where(ks, &a))
        return 1;
    u32 phba_port = (u32)get_phba_port_number(channel);
    u32 rtype = record_type_of(type);
    bool lpvid = same(property->name, "LPVID");
    if (lpvid && rtype != ORSA_RES_NIC_FUNCTION)
        return orsa_fail_with(ORSA_STATUS_LPVID_STORAGE);
    u32 pf = 0;
    if (!parse_number(fn, 16, &pf))
        return 1;
    ProfileConfig *profile = ORSA_get_profile(ks, same(current, "vNIC1") ? ORSA_CFG_ACTIVE : ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return 1;
    const ChannelFields *f = fields_of(rtype);
    const u8 *rec = f != nullptr ? record_by_number(profile, rtype, pf) : nullptr;
    if (rec == nullptr) {
        // Without the function's record there is nothing to write back: a
        // made-up record would overwrite the function's configuration.
        orsa_dfree(profile);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: no record of function %s\n", __func__, fn);
        return orsa_fail_with(ORSA_STATUS_CHANNEL_PARAM_UNSUPPORTED);
    }
    u8 *request = (u8 *)orsa_dzalloc(ORSA_MC_REQUEST_SIZE);
    if (request == nullptr) {
        orsa_dfree(profile);
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    }
    request[4] = 1;
    u8 *r = request + ORSA_SET_PROFILE_HEAD;
    stamp_record(r, rec, rtype, pf, current, reboot);
    orsa_dfree(profile);
    wr32(r + f->min, 0xFFFFFFFFu);
    wr32(r + f->max, 0xFFFFFFFFu);
    bool disable = !same(value, "Enabled");
    if (rtype == ORSA_RES_NIC_FUNCTION) {
        keep_nic_fields(r, phba_port);
        r[2] |= 0x80u;
        r[3] |= 0x04u;
        if (lpvid) {
            u32 v = 0;
            parse_number(value, 10, &v);
            wr16(r + 36, v);
            set_disabled(r, f->disabled, same(min, "0") && same(max, "0"));
        } else {
            // The function keeps its LPVID.
            u32 v = 0;
            if (parse_number(cached_value(channel, "LPVID"), 10, &v))
                wr16(r + 36, v);
            set_disabled(r, f->disabled, disable);
        }
    } else {
        r[2] |= 0x80u;
        set_disabled(r, f->disabled, disable);
    }
    u32 rc = ioctl_set_profile_config(orsa_controller_port(ks), request, ORSA_MC_REQUEST_SIZE, a.domain, (u8)phba_port);
    orsa_dfree(request);
    if (rc != 0)
        return orsa_fail_with(ORSA_STATUS_SET_PORT_PROTOCOL_FAILED);
    return 0;
}

u32 ORSA_get_vkh_mc_type(HmNode *ks, HmNode *port_group, char *active, char *configured, char *reboot)
{
    if (ks == nullptr || port_group == nullptr || active == nullptr || configured == nullptr || reboot == nullptr)
        return 1;
    active[0] = configured[0] = reboot[0] = '\0';
    char port[HM_VALUE_SIZE], iftype[HM_VALUE_SIZE];
    if (internal_get_property(port_group, "PortNumber", port) != 0 ||
        internal_get_property(port_group, "InterfaceType", iftype) != 0)
        return 1;
    HmNode *pm = internal_get_node(ks, "ProfileManagement", HM_KIND_GROUP);
    HmNode *ap = pm != nullptr ? internal_get_node(pm, "ActiveProfile", HM_KIND_GROUP) : nullptr;
    HmNode *cp = pm != nullptr ? internal_get_node(pm, "ConfiguredProfile", HM_KIND_GROUP) : nullptr;
    if (ap == nullptr || cp == nullptr)
        return 1;
    char name[HM_VALUE_SIZE + 8];
    snprintf(name, sizeof name, "Port%s", port);
    if (!same(iftype, "Unknown")) {
        HmNode *aport = internal_get_node(ap, name, HM_KIND_GROUP);
        if (aport != nullptr && internal_get_property(aport, "MCType", active) != 0)
            active[0] = '\0';
    }
    HmNode *cport = internal_get_node(cp, name, HM_KIND_GROUP);
    if (cport == nullptr || internal_get_property(cport, "MCType", configured) != 0)
        return 1;
    return internal_get_property(pm, "RebootRequired", reboot) != 0 ? 1 : 0;
}

/* ---- channel management of the controller ---- */

u32 handle_SupportedMCTypes(HmNode *property, char *value, u32)
{
    HmNode *ks = orsa_controller_of(property);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    // Only KS3 and Veskarn run multichannel; a controller of no known
    // generation offers none either.
    if ((gen != ORSA_ASIC_KS3 && gen != ORSA_ASIC_VESKARN) || mc_hidden_by_fw(ks))
        return orsa_store_and_answer(property, value, "N/A");
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    OrsaWhere a;
    if (!orsa_controller_where(ks, &a))
        return 1;
    u8 caps[12] = {};
    if (ioctl_get_capabilities(orsa_controller_port(ks), caps, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_CAPABILITIES_FAILED);
    char text[HM_VALUE_SIZE];
    orsa_mc_types_text(orsa_rd32(caps), text);
    return orsa_store_and_answer(property, value, text);
}

u32 handle_ChannelManagement_details(HmNode *property, char *value, u32)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *cm = property->parent;
    HmNode *ks = orsa_controller_of(property);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    auto both_na = [&]() {
        set_prop_val(cm, "CurrentManagementType", "N/A");
        set_prop_val(cm, "ConfiguredManagementType", "N/A");
        return orsa_answer(property, value, 0);
    };
    if (gen != ORSA_ASIC_KS3)
        return both_na();
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    char supported[HM_VALUE_SIZE] = "";
    if (internal_get_property(cm, "SupportedMCTypes", supported) != 0)
        return 1;
    if (same(supported, "N/A") || mc_hidden_by_fw(ks))
        return both_na();
    bool current = same(property->name, "CurrentManagementType");
    ProfileConfig *profile = ORSA_get_profile(ks, current ? ORSA_CFG_ACTIVE : ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return 1;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&w, ORSA_RES_PORT))
        if (const char *t = read_back_text(((const port_desc *)rec)->mc_type))
            set_prop_val(cm, property->name, "%s", t);
    orsa_dfree(profile);
    return orsa_answer(property, value, 0);
}

u32 do_ConfigureChannelManagement(HmNode *group, HmNode *, HmValueSlot *params)
{
    if (group == nullptr || params == nullptr)
        return 1;
    HmNode *ks = orsa_controller_of(group);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_PIVARD || gen == ORSA_ASIC_VESKARN)
        return orsa_fail_with(ORSA_STATUS_MC_UNSUPPORTED);
    const char *state = params[0];
    const char *type = (u8)params[1][0] == ORSA_PARAM_NOT_GIVEN ? "" : params[1];
    bool enable = strcasecmp(state, "Enabled") == 0;
    if (enable) {
        if (type[0] == '\0')
            return orsa_fail_with(ORSA_STATUS_MC_TYPE_MISSING);
        char supported[HM_VALUE_SIZE] = "";
        if (internal_get_property(group, "SupportedMCTypes", supported) != 0 || !orsa_list_has_entry(supported, type))
            return orsa_fail_with(ORSA_STATUS_MC_TYPE_UNSUPPORTED);
    }
    OrsaWhere a;
    if (!orsa_controller_where(ks, &a))
        return 1;
    u8 request[ORSA_MC_REQUEST_SIZE] = {};
    request[4] = 1;
    u8 *r = request + ORSA_SET_PROFILE_HEAD;
    r[0] = ORSA_RES_PORT;
    r[1] = ORSA_RES_DESC_LEN;
    r[5] = enable ? mc_code_of(type) : 1;
    if (ioctl_set_profile_config(orsa_controller_port(ks), request, sizeof request, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_SET_PORT_PROTOCOL_FAILED);
    u8 reset[4] = {};
    if (ioctl_get_reset_needed(orsa_controller_port(ks), reset, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_RESET_NEEDED_FAILED);
    if (reset[0] != 0)
        orsa_set_status(ORSA_STATUS_MC_REBOOT);
    u32 rc = 0, ports = 0;
    for (HmNode *p = get_first_instance(ks, "PortDiscoveryAndConfiguration"); p != nullptr;) {
        HmInstanceInfo *info = hm_instance_info(p);
        if (info == nullptr || info->number < 0)
            break;
        ports++;
        if (rebuild_channels(p) != 0)
            rc = 1;
        p = info->next_instance;
    }
    return ports == 0 ? 1 : rc;
}

u32 handle_MaxFunctionsPerPort(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *ks = orsa_controller_of(property);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3 || gen == ORSA_ASIC_PIVARD)
        return orsa_store_and_answer(property, value, "N/A");
    ProfileConfig *profile = ORSA_get_profile(ks, ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return 1;
    u32 count = 0;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&w, ORSA_RES_PORT))
        count = orsa_res_count12(((const port_desc *)rec)->max_pf_count);
    orsa_dfree(profile);
    char text[16];
    snprintf(text, sizeof text, "%u", (unsigned)count);
    return orsa_store_and_answer(property, value, text);
}

/* ---- channel properties ---- */

u32 handle_LogicalLinkState(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    McState s;
    if (mc_state(property->parent, StateUse::LinkState, &s) != 0)
        return 1;
    if (mode == HM_MODE_SET) {
        if (is_na_or_none(s.configured))
            return orsa_fail_with(ORSA_STATUS_CHANNEL_PARAM_UNSUPPORTED);
        if (ORSA_set_mchannel_params(orsa_controller_of(property), property->parent, property, value, s.current,
                                     s.reboot) != 0)
            return 1;
        return orsa_store_and_answer(property, value, value);
    }
    bool active = same(s.current, "vNIC1") || same(s.current, "UFP");
    return channel_get(property, value, active ? ORSA_CFG_ACTIVE : ORSA_CFG_CONFIGURED);
}

u32 handle_LPVID(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    McState s;
    if (mc_state(property->parent, StateUse::Channel, &s) != 0)
        return 1;
    if (mode == HM_MODE_SET) {
        if (is_na_or_none(s.configured))
            return orsa_fail_with(ORSA_STATUS_CHANNEL_PARAM_UNSUPPORTED);
        if (same(s.configured, "UFP"))
            return 1;
        u32 v = 0;
        if (!same(s.current, "vNIC1") && (!parse_number(value, 10, &v) || v < 2))
            return orsa_fail_with(ORSA_STATUS_LPVID_RANGE);
        if (ORSA_set_mchannel_params(orsa_controller_of(property), property->parent, property, value, s.current,
                                     s.reboot) != 0)
            return 1;
        return orsa_store_and_answer(property, value, value);
    }
    if (same(s.configured, "UFP"))
        return orsa_store_and_answer(property, value, "N/A");
    return channel_get(property, value, same(s.configured, "vNIC1") ? ORSA_CFG_ACTIVE : ORSA_CFG_CONFIGURED);
}

u32 handle_channel_outer_vlan(HmNode *property, char *value, u32)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    McState s;
    if (mc_state(property->parent, StateUse::Channel, &s) != 0)
        return 1;
    if (!same(s.configured, "vNIC1") && !same(s.configured, "UFP"))
        return orsa_store_and_answer(property, value, "N/A");
    return channel_get(property, value, ORSA_CFG_ACTIVE);
}

namespace {

u32 bandwidth_get(HmNode *property, char *value)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    McState s;
    if (mc_state(property->parent, StateUse::Channel, &s) != 0)
        return 1;
    bool active = same(s.current, "vNIC1") || same(s.current, "UFP");
    return channel_get(property, value, active ? ORSA_CFG_ACTIVE : ORSA_CFG_CONFIGURED);
}

}  // namespace

u32 handle_MinBandWidth(HmNode *property, char *value, u32)
{
    return bandwidth_get(property, value);
}

u32 handle_MaxBandWidth(HmNode *property, char *value, u32)
{
    return bandwidth_get(property, value);
}

u32 handle_channel_vnic_name(HmNode *property, char *value, u32)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *channel = property->parent;
    McState s;
    if (mc_state(channel, StateUse::Channel, &s) != 0)
        return 1;
    if (!same(s.current, "UFP") && !same(s.current, "vNIC1"))
        return orsa_store_and_answer(property, value, "N/A");
    const char *type = cached_value(channel, "Type");
    const char *fn = cached_value(channel, "FunctionNumber");
    const char *kind = type == nullptr ? nullptr : same(type, "NIC") ? "NICPhysicalHBA" : same(type, "iSCSI") ? "iSCSIPhysicalHBA" : nullptr;
    if (kind == nullptr || fn == nullptr)
        return orsa_store_and_answer(property, value, "");
    HmNode *ks = orsa_controller_of(channel);
    HmNode *hba = nullptr;
    for (HmNode *h = get_first_instance(ks, kind); h != nullptr;) {
        HmInstanceInfo *info = hm_instance_info(h);
        if (info == nullptr || info->number < 0)
            break;
        HmNode *pci = internal_get_node(h, "PCI", HM_KIND_GROUP);
        char text[HM_VALUE_SIZE] = "";
        if (pci != nullptr && internal_get_property(pci, "FunctionNumber", text) == 0 && strcasecmp(text, fn) == 0) {
            hba = h;
            break;
        }
        h = info->next_instance;
    }
    if (hba == nullptr)
        return orsa_answer(property, value, 0);
    u8 reply[92] = {};
    if (ioctl_get_vnic_function_name(orsa_port_of(hba), reply, (u8)get_domain_id(hba),
                                     (u8)get_phba_port_number(hba)) != 0)
        return 1;
    char name[89] = "";
    if (orsa_rd32(reply) == 1)
        memcpy(name, reply + 4, sizeof name - 1);
    return orsa_store_and_answer(property, value, name);
}

u32 do_ConfigureQoS(HmNode *channel, HmNode *action, HmValueSlot *params)
{
    if (channel == nullptr || params == nullptr)
        return 1;
    McState s;
    if (mc_state(channel, StateUse::Qos, &s) != 0)
        return 1;
    if (is_na_or_none(s.configured))
        return orsa_fail_with(ORSA_STATUS_CHANNEL_PARAM_UNSUPPORTED);
    if (same(s.configured, "vNIC1") || same(s.configured, "UFP")) {
        orsa_set_status(ORSA_STATUS_QOS_LINK_DISABLED);
        return ORSA_STATUS_QOS_LINK_DISABLED;
    }
    u32 min = 0, max = 0;
    if (!parse_number(params[0], 10, &min) || !parse_number(params[1], 10, &max))
        return 1;
    if (min > max)
        return orsa_fail_with(ORSA_STATUS_QOS_MIN_ABOVE_MAX);
    char fn[HM_VALUE_SIZE], lpvid[HM_VALUE_SIZE], type[HM_VALUE_SIZE];
    if (internal_get_property(channel, "FunctionNumber", fn) != 0 || internal_get_property(channel, "LPVID", lpvid) != 0 ||
        internal_get_property(channel, "Type", type) != 0)
        return 1;
    u32 pf = 0;
    if (!parse_number(fn, 16, &pf))
        return 1;
    HmNode *ks = orsa_controller_of(channel);
    OrsaWhere a;
    if (!orsa_controller_where(ks, &a))
        return 1;
    u32 rtype = record_type_of(type);
    const ChannelFields *f = fields_of(rtype);
    ProfileConfig *profile = ORSA_get_profile(ks, ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return 1;
    const u8 *rec = f != nullptr ? record_by_number(profile, rtype, pf) : nullptr;
    if (rec == nullptr) {
        orsa_dfree(profile);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: no record of function %s\n", __func__, fn);
        return orsa_fail_with(ORSA_STATUS_CHANNEL_PARAM_UNSUPPORTED);
    }
    HmNode *at_node = action != nullptr ? action : channel;
    u8 domain = (u8)get_domain_id(at_node);
    u32 phba_port = (u32)get_phba_port_number(at_node);
    u8 request[ORSA_MC_REQUEST_SIZE] = {};
    request[4] = 1;
    u8 *r = request + ORSA_SET_PROFILE_HEAD;
    stamp_record(r, rec, rtype, pf, s.current, s.reboot);
    orsa_dfree(profile);
    r[3] &= (u8)~0x10u;
    wr32(r + f->min, min);
    wr32(r + f->max, max);
    if (rtype == ORSA_RES_NIC_FUNCTION) {
        keep_nic_fields(r, phba_port);
        r[3] |= 0x04u;
        u32 v = 0;
        parse_number(lpvid, 10, &v);
        wr16(r + 36, v);
    }
    if (ioctl_set_profile_config(orsa_controller_port(ks), request, sizeof request, domain, (u8)phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_SET_PORT_PROTOCOL_FAILED);
    set_prop_val(channel, "MinBandWidth", "%u", (unsigned)min);
    set_prop_val(channel, "MaxBandWidth", "%u", (unsigned)max);
    return 0;
}

/* ---- staged configured-profile choices ---- */

namespace {

bool unstaged_gen(u32 gen)
{
    return gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3 || gen == ORSA_ASIC_PIVARD;
}

/* The controller of a staged choice; none, with *rc the handler's answer,
 * where nothing is staged: the generations without staged profiles answer
 * a read with their placeholder and refuse a write. */
HmNode *staging_controller(HmNode *property, char *value, u32 mode, const char *placeholder, u32 *rc)
{
    *rc = 1;
    if (property == nullptr || property->parent == nullptr || value == nullptr)
        return nullptr;
    HmNode *ks = orsa_controller_of(property);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return nullptr;
    if (unstaged_gen(gen)) {
        *rc = mode == HM_MODE_SET ? orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED)
                                  : orsa_store_and_answer(property, value, placeholder);
        return nullptr;
    }
    return ks;
}

/* The protocol text a function may be staged with: one the function offers
 * (AvailableProtocols), in the offered spelling, or "NIC+RoCE" when it
 * offers both. Anything else would corrupt the staging file or be taken as
 * "disabled" when the profile is saved. */
bool offered_protocol(HmNode *function, const char *text, char out[HM_VALUE_SIZE])
{
    char offered[HM_VALUE_SIZE] = "";
    if (internal_get_property(function, "AvailableProtocols", offered) != 0)
        return false;
    if (strcasecmp(text, "NIC+RoCE") == 0) {
        if (!orsa_list_has_entry(offered, "NIC") || !orsa_list_has_entry(offered, "RoCE"))
            return false;
        orsa_strlcpy(out, "NIC+RoCE", HM_VALUE_SIZE);
        return true;
    }
    for (char *p = offered; p != nullptr && *p != '\0';) {
        char *comma = strchr(p, ',');
        if (comma != nullptr)
            *comma = '\0';
        if (strcasecmp(p, text) == 0) {
            orsa_strlcpy(out, p, HM_VALUE_SIZE);
            return true;
        }
        p = comma != nullptr ? comma + 1 : nullptr;
    }
    return false;
}

}  // namespace

u32 handle_ConfiguredProfile_ProfileId(HmNode *property, char *value, u32 mode)
{
    u32 rc = 1;
    HmNode *ks = staging_controller(property, value, mode, "N/A", &rc);
    if (ks == nullptr)
        return rc;
    if (mode == HM_MODE_SET) {
        if (ORSA_set_config_prof_prop(ks, nullptr, value, 0, ORSA_CPROF_PROFILE_ID) != 0)
            return 1;
        return orsa_store_and_answer(property, value, value);
    }
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    char fields[ORSA_CPROF_FIELDS][256];
    if (ORSA_get_config_prof_prop(ks, nullptr, fields, 0) == 0)
        set_prop_val(property->parent, property->name, "%s", fields[ORSA_CPROF_PROFILE_ID]);
    return orsa_answer(property, value, 0);
}

u32 handle_ConfiguredProfile_Port_Function_Protocol(HmNode *property, char *value, u32 mode)
{
    u32 rc = 1;
    HmNode *ks = staging_controller(property, value, mode, "N/A", &rc);
    if (ks == nullptr)
        return rc;
    HmNode *function = property->parent;
    char fn[HM_VALUE_SIZE] = "";
    if (internal_get_property(function, "FunctionNumber", fn) != 0)
        return 1;
    if (mode == HM_MODE_SET) {
        const char *wanted = strcasecmp(fn, "0x0") == 0 && strcasecmp(value, "None") == 0 ? "NIC" : value;
        char text[HM_VALUE_SIZE];
        if (!offered_protocol(function, wanted, text))
            return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
        if (ORSA_set_config_prof_prop(ks, fn, text, 1, ORSA_CPROF_PROTOCOL) != 0)
            return 1;
        return orsa_store_and_answer(property, value, text);
    }
    if (vm_flag)
        orsa_answer_na(value);
    char fields[ORSA_CPROF_FIELDS][256];
    if (ORSA_get_config_prof_prop(ks, fn, fields, 1) == 0)
        set_prop_val(function, property->name, "%s", fields[ORSA_CPROF_PROTOCOL]);
    return orsa_answer(property, value, 0);
}

u32 handle_ConfiguredProfile_Port_MCType(HmNode *property, char *value, u32 mode)
{
    u32 rc = 1;
    HmNode *ks = staging_controller(property, value, mode, "None", &rc);
    if (ks == nullptr)
        return rc;
    HmNode *port = property->parent;
    if (mode == HM_MODE_SET) {
        if (strcasecmp(value, "HPFlex") == 0 || strcasecmp(value, "HPFlexQBG") == 0)
            return orsa_fail_with(ORSA_STATUS_MC_TYPE_UNSUPPORTED);
        if (strcasecmp(value, "None") != 0) {
            HmNode *cm = internal_get_node(ks, "ChannelManagement", HM_KIND_GROUP);
            char supported[HM_VALUE_SIZE] = "";
            if (cm == nullptr || internal_get_property(cm, "SupportedMCTypes", supported) != 0 ||
                !orsa_list_has_entry(supported, value))
                return orsa_fail_with(ORSA_STATUS_MC_TYPE_UNSUPPORTED);
        }
        for (HmNode *f = get_first_instance(port, "Function"); f != nullptr;) {
            HmInstanceInfo *info = hm_instance_info(f);
            if (info == nullptr || info->number < 0)
                break;
            char fn[HM_VALUE_SIZE] = "";
            if (internal_get_property(f, "FunctionNumber", fn) != 0 ||
                ORSA_set_config_prof_prop(ks, fn, value, 1, ORSA_CPROF_MC_TYPE) != 0)
                return 1;
            f = info->next_instance;
        }
        return orsa_store_and_answer(property, value, value);
    }
    if (vm_flag)
        orsa_answer_na(value);
    HmNode *first = get_first_instance(port, "Function");
    char fn[HM_VALUE_SIZE] = "";
    char fields[ORSA_CPROF_FIELDS][256];
    if (first != nullptr && hm_instance_info(first) != nullptr && hm_instance_info(first)->number >= 0 &&
        internal_get_property(first, "FunctionNumber", fn) == 0 && ORSA_get_config_prof_prop(ks, fn, fields, 1) == 0)
        set_prop_val(port, property->name, "%s", fields[ORSA_CPROF_MC_TYPE]);
    return orsa_answer(property, value, 0);
}

/* ---- interface type ---- */

u32 ORSA_update_interfacetype(OrsaPort at, HmNode *port_group)
{
    HmNode *ks = orsa_controller_of(port_group);
    if (ks == nullptr || get_ks_type(ks) == ORSA_ASIC_UNREADABLE)
        return 1;
    static const char *const kTypes[] = {"CX4_10GB_TYPE",   "XFP_10GB_TYPE",   "SFP_1GB_TYPE",   "SFP_PLUS_10GB_TYPE",
                                         "KR_10GB_TYPE",    "KX4_10GB_TYPE",   "BASET_10GB_TYPE", "BASET_1000_TYPE",
                                         "BASEX_1000_TYPE", "SGMII_TYPE",      "QSFP_TYPE",      "KR4_TYPE",
                                         "KR2_TYPE",        "Not Supported",   ""};
    u8 reply[24] = {};
    u32 rc = at.instance != 0 ? ioctl_get_phy_details(at, reply, (u8)get_domain_id(port_group),
                                                      (u8)get_phba_port_number(port_group))
                              : 1;
    u32 type = orsa_rd16(reply + 2);
    if (rc != 0 || type >= sizeof kTypes / sizeof kTypes[0]) {
        set_prop_val(port_group, "InterfaceType", "N/A");
        return 1;
    }
    return set_prop_val(port_group, "InterfaceType", "%s", kTypes[type]) != 0 ? 1 : 0;
}

/* ---- channels carried over a profile save ---- */

u32 orsa_mc_type_code(const char *text)
{
    static const struct {
        const char *text;
        u32 code;
    } kCodes[] = {{"None", 1}, {"UMC", 2},   {"HPFlex", 3},    {"vNIC1", 4}, {"NPAR", 5},
                  {"UFP", 6},  {"vNIC2", 7}, {"HPFlexQBG", 8}, {"HPUMC", 10}};
    if (text != nullptr)
        for (const auto &c : kCodes)
            if (strcasecmp(text, c.text) == 0)
                return c.code;
    return 0;
}

u32 ORSA_save_mc_props(HmNode *cm, OrsaMcSaveTable *table, u32 port_index, u32 *channel_count)
{
    HmNode *port_group = cm != nullptr ? cm->parent : nullptr;
    HmNode *ks = port_group != nullptr ? port_group->parent : nullptr;
    if (ks == nullptr || table == nullptr || channel_count == nullptr || port_index >= ORSA_MC_SAVE_PORTS)
        return 1;
    HmNode *pm = internal_get_node(ks, "ProfileManagement", HM_KIND_GROUP);
    HmNode *ap = pm != nullptr ? internal_get_node(pm, "ActiveProfile", HM_KIND_GROUP) : nullptr;
    if (ap == nullptr)
        return 1;
    auto &saved = table->ports[port_index];
    char text[HM_VALUE_SIZE] = "";
    if (internal_get_property(port_group, "InterfaceType", text) == 0 && !same(text, "Unknown")) {
        char name[32];
        snprintf(name, sizeof name, "Port%u", (unsigned)port_index);
        HmNode *aport = internal_get_node(ap, name, HM_KIND_GROUP);
        if (aport != nullptr && internal_get_property(aport, "MCType", text) == 0)
            saved.active_mc_code = (u16)orsa_mc_type_code(text);
    }
    HmNode *c = get_first_instance(cm, "Channel");
    if (c == nullptr)
        return ORSA_STATUS_NO_CHANNELS;
    u32 n = 0;
    // The channels' stored values: a refresh would read the profile the save
    // has just replaced.
    for (; c != nullptr && n < ORSA_MC_SAVE_CHANNELS; c = hm_next_instance(c), n++) {
        OrsaMcSavedChannel &e = saved.channels[n];
        u32 v = 0;
        const char *t = cached_value(c, "MinBandWidth");
        e.min_bw = t != nullptr && parse_number(t, 10, &v) ? v : 0;
        t = cached_value(c, "MaxBandWidth");
        e.max_bw = t != nullptr && parse_number(t, 10, &v) ? v : 0;
        t = cached_value(c, "LPVID");
        e.lpvid = t != nullptr && parse_number(t, 10, &v) ? (u16)v : 0;
        t = cached_value(c, "LogicalLinkState");
        e.link_disabled = t != nullptr && same(t, "Enabled") ? 0 : 1;
        t = cached_value(c, "Type");
        orsa_strlcpy(e.type, t != nullptr ? t : "", sizeof e.type);
    }
    *channel_count = n;
    return 0;
}

namespace {

u32 configure_qos(HmNode *channel, u32 min, u32 max)
{
    HmValueSlot params[2];
    snprintf(params[0], sizeof params[0], "%u", (unsigned)min);
    snprintf(params[1], sizeof params[1], "%u", (unsigned)max);
    return do_ConfigureQoS(channel, channel, params);
}

/* The saved LPVID and link state of a NIC channel, written and stored. */
u32 restore_link(HmNode *ks, HmNode *port_group, HmNode *channel, const OrsaMcSavedChannel &e)
{
    McState s;
    if (ORSA_get_vkh_mc_type(ks, port_group, s.current, s.configured, s.reboot) != 0)
        return 1;
    HmNode *type = internal_get_node(channel, "Type", HM_KIND_PROPERTY);
    HmNode *lpvid = internal_get_node(channel, "LPVID", HM_KIND_PROPERTY);
    HmNode *link = internal_get_node(channel, "LogicalLinkState", HM_KIND_PROPERTY);
    if (type == nullptr || lpvid == nullptr || link == nullptr)
        return 1;
    const char *now = cached_value(channel, "Type");
    if (now == nullptr || strcasecmp(now, e.type) != 0 || strstr(now, "NIC") == nullptr)
        return 0;
    char text[16];
    snprintf(text, sizeof text, "%u", (unsigned)e.lpvid);
    if (e.lpvid != 0 && ORSA_set_mchannel_params(ks, channel, lpvid, text, s.current, s.reboot) != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: LPVID %s not restored\n", __func__, text);
    set_prop_val(channel, "LPVID", "%s", text);
    const char *state = e.link_disabled != 0 ? "Disabled" : "Enabled";
    if (ORSA_set_mchannel_params(ks, channel, link, state, s.current, s.reboot) != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: link state %s not restored\n", __func__, state);
    set_prop_val(channel, "LogicalLinkState", "%s", state);
    return 0;
}

}  // namespace

u32 ORSA_reset_mc_props(HmNode *cm, const OrsaMcSaveTable *table, u32 port_index, const u32 *configured_codes,
                        u32 code_count, u32 channel_count)
{
    HmNode *port_group = cm != nullptr ? cm->parent : nullptr;
    HmNode *ks = port_group != nullptr ? port_group->parent : nullptr;
    if (ks == nullptr || table == nullptr || port_index >= ORSA_MC_SAVE_PORTS)
        return 1;
    const auto &saved = table->ports[port_index];
    if (saved.active_mc_code == 1 || (configured_codes != nullptr && port_index < code_count &&
                                      configured_codes[port_index] == 1))
        return 0;
    u32 i = 0;
    for (HmNode *c = get_first_instance(cm, "Channel"); c != nullptr; c = hm_next_instance(c), i++) {
        if (i >= channel_count || i >= ORSA_MC_SAVE_CHANNELS) {
            u32 rc = configure_qos(c, 0, 0);
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: QoS of a new channel cleared with %u\n", __func__,
                   (unsigned)rc);
            continue;
        }
        const OrsaMcSavedChannel &e = saved.channels[i];
        u32 rc = configure_qos(c, e.min_bw, e.max_bw);
        if (rc != 0)
            return rc == ORSA_STATUS_QOS_LINK_DISABLED ? 0 : 1;
        if (restore_link(ks, port_group, c, e) != 0)
            return 1;
    }
    return 0;
}

/* Saving the staged configured profile to the adapter. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vector>

#include "config/cfg_profile_save.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "config/cfg_lldp.h"
#include "config/cfg_mac.h"
#include "config/cfg_multichannel.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_model.h"
#include "config/cfg_profile_props.h"
#include "config/cfg_profile_tree.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

u32 orsa_protocol_code(const char *text)
{
    static const struct {
        const char *text;
        u32 code;
    } kCodes[] = {{"NIC", 1}, {"iSCSI", 2}, {"FCoE", 4}, {"NIC+RoCE", 8}, {"RoCE", 8}};
    if (text != nullptr)
        for (const auto &c : kCodes)
            if (strcasecmp(text, c.text) == 0)
                return c.code;
    return 15;
}

namespace {

constexpr u32 kProtocolDisabled = 15;
constexpr u32 kForcedSriovProfile = 24;

/* One function record of the configured profile and what goes out for it. */
struct Listed {
    u32 pf;
    u8 record[ORSA_RES_DESC_LEN];
};

/* One staged Function of the ConfiguredProfile tree. */
struct Staged {
    u32 pf;
    u32 type;
    u32 sriov;
};

struct Work {
    std::vector<Listed> listed;
    std::vector<u32> port_codes;
    std::vector<Staged> functions;
    char last_mc_type[HM_VALUE_SIZE] = "";
};

/* The configured profile's function records in record order, each to be
 * sent as configured until the active profile says otherwise. */
void list_functions(const ProfileConfig *configured, Work *w)
{
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, configured);
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, ORSA_RES_PCIE_FUNCTION)) {
        Listed l{};
        l.pf = orsa_res_pf(rec);
        memcpy(l.record, rec, ORSA_RES_DESC_LEN);
        w->listed.push_back(l);
    }
}

/* Pairs the active profile's function records with the list in order: a
 * matching function is sent as it runs now; a mismatch keeps the configured
 * record, switched off as a NIC function. */
void merge_active(const ProfileConfig *active, Work *w)
{
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, active);
    size_t next = 0;
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, ORSA_RES_PCIE_FUNCTION)) {
        if (next >= w->listed.size())
            continue;
        Listed &l = w->listed[next++];
        if (orsa_res_pf(rec) == l.pf) {
            memcpy(l.record, rec, ORSA_RES_DESC_LEN);
        } else {
            l.record[14] = 1;
            l.record[13] = 0;
        }
    }
}

bool parse_hex(const char *text, u32 *out)
{
    if (text == nullptr || text[0] == '\0')
        return false;
    char *end = nullptr;
    unsigned long v = strtoul(text, &end, 16);
    if (end == text || *end != '\0')
        return false;
    *out = (u32)v;
    return true;
}

/* The staged values of the ConfiguredProfile tree, read through their
 * handlers; 0, or 1 without a port or with a port without functions. */
u32 read_staged(HmNode *cp, Work *w)
{
    HmNode *port = get_first_instance(cp, "Port");
    if (port == nullptr)
        return 1;
    for (; port != nullptr; port = hm_next_instance(port)) {
        char text[HM_VALUE_SIZE] = "";
        if (internal_get_property(port, "MCType", text) != 0)
            text[0] = '\0';
        orsa_strlcpy(w->last_mc_type, text, sizeof w->last_mc_type);
        w->port_codes.push_back(orsa_mc_type_code(text));
        HmNode *f = get_first_instance(port, "Function");
        if (f == nullptr)
            return 1;
        for (; f != nullptr; f = hm_next_instance(f)) {
            Staged s{};
            char protocol[HM_VALUE_SIZE] = "", fn[HM_VALUE_SIZE] = "", sriov[HM_VALUE_SIZE] = "";
            if (internal_get_property(f, "Protocol", protocol) != 0)
                protocol[0] = '\0';
            if (internal_get_property(f, "FunctionNumber", fn) != 0 || !parse_hex(fn, &s.pf))
                return 1;
            if (internal_get_property(f, "SRIOVState", sriov) != 0)
                sriov[0] = '\0';
            s.type = orsa_protocol_code(protocol);
            s.sriov = strcmp(sriov, "Enabled") == 0 ? 1 : 0;
            w->functions.push_back(s);
        }
    }
    return 0;
}

/* The set-profile request of the listed functions as staged, and the
 * multichannel type of every staged port. */
std::vector<u8> build_request(const Work &w, u32 profile_id)
{
    const size_t n = w.listed.size();
    std::vector<u8> req(ORSA_SET_PROFILE_HEAD + ORSA_RES_DESC_LEN * n + ORSA_RES_MC_DESC_LEN, 0);
    req[0] = (u8)profile_id;
    req[3] = 0x80;
    const u32 count = (u32)n + 1;
    for (int i = 0; i < 4; i++)
        req[4 + i] = (u8)(count >> (8 * i));
    u8 *r = req.data() + ORSA_SET_PROFILE_HEAD;
    for (const Listed &l : w.listed) {
        memcpy(r, l.record, ORSA_RES_DESC_LEN);
        r[3] &= (u8)~0xC0u;
        r[0] = ORSA_RES_PCIE_FUNCTION;
        r[1] = ORSA_RES_DESC_LEN;
        const Staged *s = nullptr;
        for (const Staged &f : w.functions)
            if (f.pf == l.pf) {
                s = &f;
                break;
            }
        u32 state = 0, type = 1, sriov = 0;
        if (s != nullptr && s->type != kProtocolDisabled) {
            state = 1;
            type = s->type;
            sriov = profile_id == kForcedSriovProfile ? 1 : s->sriov;
        }
        r[6] = (u8)l.pf;
        r[7] = (u8)((r[7] & ~3u) | ((l.pf >> 8) & 3u));
        r[13] = (u8)state;
        r[14] = (u8)type;
        r[12] = (u8)sriov;
        const u32 vfs = sriov == 1 ? 255 : 0;
        r[16] = (u8)vfs;
        r[17] = (u8)(vfs >> 8);
        r += ORSA_RES_DESC_LEN;
    }
    r[0] = ORSA_RES_MC_TYPES;
    r[1] = ORSA_RES_MC_DESC_LEN;
    for (size_t p = 0; p < w.port_codes.size() && p < 16; p++)
        r[52 + p] = (u8)w.port_codes[p];
    return req;
}

u32 rebuild_configured(HmNode *cp, HmNode *ks)
{
    if (purge_nodes_within(cp, "Port") != 0)
        return 1;
    return ORSA_get_configured_profiles(ks);
}

/* Carries each port's flow control and channel settings over into the
 * rebuilt tree; 0 or 1. */
u32 restore_ports(HmNode *ks, const Work &w)
{
    OrsaMcSaveTable *table = (OrsaMcSaveTable *)calloc(1, sizeof(OrsaMcSaveTable));
    if (table == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    u32 rc = 0, ports = 0;
    for (HmNode *p = get_first_instance(ks, "PortDiscoveryAndConfiguration"); p != nullptr; p = hm_next_instance(p)) {
        ports++;
        u32 fc = ORSA_reset_flow_control_properties(p, w.last_mc_type);
        if (fc != 0)
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:ORSA_reset_flow_control_properties with status = %d\n",
                   __func__, (int)fc);
        char text[HM_VALUE_SIZE] = "";
        char *end = nullptr;
        HmNode *cm = internal_get_node(p, "ChannelManagement", HM_KIND_GROUP);
        if (internal_get_property(p, "PortNumber", text) != 0 || cm == nullptr) {
            rc = 1;
            continue;
        }
        const u32 port = (u32)strtoul(text, &end, 10);
        const i32 index = hm_instance_number(p);
        u32 count = 0;
        u32 saved = index >= 0 ? ORSA_save_mc_props(cm, table, (u32)index, &count) : 1;
        if (saved == ORSA_STATUS_NO_CHANNELS)
            continue;
        if (saved != 0 || end == text) {
            rc = 1;
            continue;
        }
        purge_nodes_within(cm, "Channel");
        if (ORSA_get_multi_channels_info(port, p) != 0) {
            rc = 1;
            continue;
        }
        u32 reset = ORSA_reset_mc_props(cm, table, (u32)index, w.port_codes.data(), (u32)w.port_codes.size(), count);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: channels of port %u restored with %u\n", __func__,
               (unsigned)port, (unsigned)reset);
    }
    free(table);
    return ports == 0 ? 1 : rc;
}

const char *first_port_mc_type(HmNode *profile, char out[HM_VALUE_SIZE])
{
    HmNode *port = profile != nullptr ? get_first_instance(profile, "Port") : nullptr;
    if (port == nullptr || internal_get_property(port, "MCType", out) != 0)
        return nullptr;
    return out;
}

/* A switch to no multichannel leaves the partitions' virtual MAC addresses
 * and the multichannel configuration behind: reset them and erase it. The
 * server maker's systems keep theirs. Only after the new profile was taken. */
u32 clear_multichannel(HmNode *ks, HmNode *pm, const OrsaWhere &a, u32 rc)
{
    if (ORSA_DetermineIfDellSystem(ks) == 0)
        return rc;
    HmNode *cp = internal_get_node(pm, "ConfiguredProfile", HM_KIND_GROUP);
    HmNode *ap = internal_get_node(pm, "ActiveProfile", HM_KIND_GROUP);
    char configured[HM_VALUE_SIZE] = "", active[HM_VALUE_SIZE] = "";
    if (cp == nullptr || ap == nullptr || first_port_mc_type(cp, configured) == nullptr ||
        first_port_mc_type(ap, active) == nullptr)
        return 1;
    if (strcasecmp(configured, "None") != 0 || strcasecmp(active, "None") == 0)
        return rc;
    u32 macs = ORSA_reset_virt_mac(ks, 1);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: virtual MAC reset answered %u\n", __func__, (unsigned)macs);
    u8 payload[20];
    profile_props::factory_erase_payload(payload);
    u32 erased = ioctl_erase_ROM(a.at, payload, a.domain, a.phba_port);
    pdebug(ORSA_LOG_CAT_OTHER, erased == 0 ? ORSA_LOG_DEBUG : ORSA_LOG_ERROR, "%s:status = %d\n", __func__,
           (int)erased);
    // An earlier failure is what the client has to see; "done, takes effect
    // at the next reset" is the erase carried out.
    if (rc != 0)
        return rc;
    return erased == ORSA_STATUS_NEEDS_REBOOT ? 0 : erased;
}

/* Steps 3 to 10 of a save over the read profiles; *written tells whether
 * the adapter took the new profile. */
u32 save(HmNode *ks, HmNode *pm, const OrsaWhere &a, Work *w, bool *written)
{
    ProfileConfig *active = ORSA_get_profile(ks, ORSA_CFG_ACTIVE, 0, 0);
    if (active == nullptr)
        return 1;
    merge_active(active, w);
    orsa_dfree(active);
    HmNode *cp = internal_get_node(pm, "ConfiguredProfile", HM_KIND_GROUP);
    if (cp == nullptr || read_staged(cp, w) != 0)
        return 1;
    char text[HM_VALUE_SIZE] = "";
    u32 profile_id = 0;
    if (internal_get_property(cp, "ProfileId", text) != 0 || !profile_props::parse_decimal(text, 0, 255, &profile_id))
        return 1;
    std::vector<u8> request = build_request(*w, profile_id);
    if (ioctl_set_profile_config(a.at, request.data(), (u32)request.size(), a.domain, a.phba_port) != 0) {
        orsa_set_status(ORSA_STATUS_SAVE_INVALID);
        // The tree shows what the adapter kept.
        rebuild_configured(cp, ks);
        return 1;
    }
    *written = true;
    u8 reset[4] = {};
    if (ioctl_get_reset_needed(a.at, reset, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_RESET_NEEDED_FAILED);
    if (reset[0] != 0)
        orsa_set_status(ORSA_STATUS_SAVE_REBOOT);
    if (rebuild_configured(cp, ks) != 0)
        return 1;
    return restore_ports(ks, *w);
}

}  // namespace

u32 do_SaveProfile(HmNode *group, HmNode *, HmValueSlot *)
{
    HmNode *ks = group != nullptr ? group->parent : nullptr;
    if (ks == nullptr)
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3 || gen == ORSA_ASIC_PIVARD)
        return orsa_fail_with(ORSA_STATUS_SAVE_UNSUPPORTED);
    OrsaWhere a;
    if (!orsa_controller_where(ks, &a))
        return 1;
    ProfileConfig *configured = ORSA_get_profile(ks, ORSA_CFG_CONFIGURED, 0, 1);
    if (configured == nullptr)
        return 1;
    Work w;
    list_functions(configured, &w);
    orsa_dfree(configured);
    bool written = false;
    u32 rc = save(ks, group, a, &w, &written);
    if (!written)
        return rc;
    return clear_multichannel(ks, group, a, rc);
}

/* SR-IOV state of PCI functions and VEPA state of NIC ports. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_sriov.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

/* ---- decoders and request builders ---- */

namespace sriov {

namespace {

/* Fields of a legacy table entry (68-byte form). */
constexpr size_t kKsEntry = 68, kKsKind = 0, kKsFunction = 4, kKsState = 5, kKsType = 6, kKsSriov = 12;
constexpr u8 kCommonFunction = 64;
constexpr u8 kSriovStateChange = 0x10;
/* Byte 3 of a record: bit 7 and bit 6 are the write's own flags. */
constexpr u8 kWriteFlags = 0xC0;
constexpr u8 kRequestReplaces = 0x80;

bool enabling(const char *value)
{
    return value != nullptr && strcasecmp(value, "Enabled") == 0;
}

bool disabling(const char *value)
{
    return value != nullptr && strcasecmp(value, "Disabled") == 0;
}

void put_pf(u8 *rec, u32 function)
{
    rec[6] = (u8)function;
    rec[7] = (u8)((rec[7] & ~3u) | ((function >> 8) & 3u));
}

}  // namespace

bool parse_function(const char *text, u32 *function)
{
    if (text == nullptr || function == nullptr)
        return false;
    char *end = nullptr;
    long n = strtol(text, &end, 0);
    if (end == text || *end != '\0' || n < 0)
        return false;
    *function = (u32)n;
    return true;
}

const char *text_of_record(const u8 *rec)
{
    if (rec == nullptr)
        return nullptr;
    const auto *f = (const pcie_function_desc *)rec;
    if ((f->change_flags & kSriovStateChange) == 0)
        return "N/A";
    if (f->sriov_state == 0)
        return "Disabled";
    if (f->sriov_state == 1)
        return "Enabled";
    return nullptr;
}

const char *from_profile(const ProfileConfig *profile, u32 function, bool *found)
{
    *found = false;
    if (profile == nullptr)
        return nullptr;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&w, ORSA_RES_PCIE_FUNCTION)) {
        if (orsa_res_pf(rec) == function) {
            *found = true;
            return text_of_record(rec);
        }
    }
    return nullptr;
}

u8 *ks_entry(u8 *table, size_t size, const char *function)
{
    if (table == nullptr || function == nullptr || size < 4)
        return nullptr;
    u32 held = (u32)((size - 4) / kKsEntry);
    u32 n = orsa_rd32(table);
    if (n > ORSA_KS_CONF_ENTRIES)
        n = ORSA_KS_CONF_ENTRIES;
    if (n > held)
        n = held;
    for (u32 i = 0; i < n; i++) {
        u8 *e = table + 4 + (size_t)i * kKsEntry;
        if (e[kKsKind] != 0 || e[kKsState] != 0 || e[kKsType] != 0)
            continue;
        char text[16];
        snprintf(text, sizeof text, "0x%x", e[kKsFunction]);
        if (strcasecmp(text, function) == 0)
            return e;
    }
    return nullptr;
}

const char *ks_text(const u8 *entry)
{
    if (entry == nullptr)
        return "N/A";
    switch (entry[kKsSriov]) {
    case 0:
        return "Disabled";
    case 1:
        return "Enabled";
    default:
        return "N/A";
    }
}

const char *from_common_profile(const CommonProfileConfig *config, const char *function)
{
    u32 number = 0;
    if (config == nullptr || config->entry_count > ORSA_COMMON_PROFILE_COUNT_LIMIT ||
        !parse_function(function, &number))
        return "N/A";
    // A count between the 256 entries held and the limit: the held ones.
    u32 n = orsa_common_profile_count(config);
    for (u32 i = 0; i < n; i++) {
        const common_profile_entry *e = &config->entries[i];
        if (e->kind != kCommonFunction || (e->pf & 0x3FFu) != number || e->function_type != 1 ||
            e->function_state != 1)
            continue;
        return e->sriov_state == 0 ? "Disabled" : e->sriov_state == 1 ? "Enabled" : "N/A";
    }
    return "N/A";
}

u32 build_single_request(u8 *request, size_t size, u32 function, const char *value)
{
    const u32 used = ORSA_SET_PROFILE_HEAD + ORSA_RES_DESC_LEN;
    if (request == nullptr || size < used)
        return 0;
    memset(request, 0, size);
    request[4] = 1;
    u8 *r = request + ORSA_SET_PROFILE_HEAD;
    r[0] = ORSA_RES_PCIE_FUNCTION;
    r[1] = ORSA_RES_DESC_LEN;
    put_pf(r, function);
    r[12] = disabling(value) ? 0 : 1;
    r[13] = 255;
    r[14] = 1;
    return used;
}

u32 list_functions(const ProfileConfig *flagged, RewriteEntry *list, u32 capacity)
{
    if (flagged == nullptr || list == nullptr)
        return 0;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, flagged);
    u32 n = 0;
    while (const u8 *rec = orsa_profile_walk_next_of(&w, ORSA_RES_PCIE_FUNCTION)) {
        if (n == capacity)
            break;
        list[n++] = RewriteEntry{orsa_res_pf(rec), rec};
    }
    return n;
}

u32 match_configured(const ProfileConfig *configured, RewriteEntry *list, bool *absent, u32 count)
{
    for (u32 i = 0; i < count; i++)
        absent[i] = false;
    if (configured == nullptr)
        return 0;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, configured);
    u32 ports = 0, next = 0;
    while (const u8 *rec = orsa_profile_walk_next(&w)) {
        if (rec[0] == ORSA_RES_PORT) {
            ports++;
            continue;
        }
        if (rec[0] != ORSA_RES_PCIE_FUNCTION)
            continue;
        // Both reads list the functions in the adapter's order: what the
        // configured profile skips is absent from it. The record is compared
        // with the following entries until one matches.
        u32 pf = orsa_res_pf(rec);
        while (next < count && list[next].function != pf)
            absent[next++] = true;
        if (next < count)
            list[next++].record = rec;
    }
    return ports;
}

u32 build_rewrite(u8 *request, size_t size, u8 profile_id, const RewriteEntry *list, const bool *absent, u32 n,
                  u32 ports, u32 function, const char *value)
{
    const u32 used = ORSA_SET_PROFILE_HEAD + n * ORSA_RES_DESC_LEN + ORSA_RES_MC_DESC_LEN;
    if (request == nullptr || list == nullptr || absent == nullptr || n == 0 || n > ORSA_SRIOV_MAX_FUNCTIONS ||
        size < used)
        return 0;
    memset(request, 0, size);
    request[0] = profile_id;
    request[3] = kRequestReplaces;
    const u32 count = n + 1;
    request[4] = (u8)count;
    request[5] = (u8)(count >> 8);
    for (u32 i = 0; i < n; i++) {
        u8 *r = request + ORSA_SET_PROFILE_HEAD + (size_t)i * ORSA_RES_DESC_LEN;
        if (list[i].record != nullptr) {
            // The walk hands out only records of at least 88 bytes.
            memcpy(r, list[i].record, ORSA_RES_DESC_LEN);
        }
        r[0] = ORSA_RES_PCIE_FUNCTION;
        r[1] = ORSA_RES_DESC_LEN;
        r[3] &= (u8)~kWriteFlags;
        if (absent[i]) {
            r[13] = 0;
            r[14] = 1;
        }
        if (list[i].function != function)
            continue;
        auto *f = (pcie_function_desc *)r;
        if (enabling(value)) {
            f->sriov_state = 1;
            r[16] = 255;
            r[17] = 0;
        } else if (disabling(value)) {
            f->sriov_state = 0;
            r[16] = 0;
            r[17] = 0;
        }
    }
    u8 *mc = request + ORSA_SET_PROFILE_HEAD + (size_t)n * ORSA_RES_DESC_LEN;
    mc[0] = ORSA_RES_MC_TYPES;
    mc[1] = ORSA_RES_MC_DESC_LEN;
    for (u32 p = 0; p < ports && p < 16; p++)
        mc[52 + p] = 1;
    return used;
}

void hsw_get_payload(u8 payload[16], u32 phba_port)
{
    memset(payload, 0, 16);
    payload[0] = (u8)phba_port;
    payload[1] = (u8)(phba_port >> 8);
    payload[3] = 0x80;
}

void hsw_set_payload(u8 payload[20], u32 phba_port, const char *value)
{
    memset(payload, 0, 20);
    payload[0] = (u8)phba_port;
    payload[1] = (u8)(phba_port >> 8);
    payload[3] = 0x80;
    // The forwarding mode, bits 6-8: 3 reflective relay (VEPA), 2 bridging.
    u16 mode = (u16)((enabling(value) ? 3u : 2u) << 6);
    payload[4] = (u8)mode;
    payload[5] = (u8)(mode >> 8);
}

const char *vepa_text(const u8 *reply)
{
    return ((orsa_rd16(reply) >> 6) & 7u) == 3 ? "Enabled" : "Disabled";
}

}  // namespace sriov

/* ---- helpers ---- */

namespace {

bool is_legacy_answer(u32 rc)
{
    return rc == ORSA_STATUS_CMD_UNKNOWN || rc == ORSA_STATUS_PROFILE_ROAD_UNUSABLE;
}

/* The FunctionNumber text of a NIC port group's PCI subgroup. */
bool pci_function_text(HmNode *group, char text[HM_VALUE_SIZE])
{
    HmNode *pci = group != nullptr ? internal_get_node(group, "PCI", HM_KIND_GROUP) : nullptr;
    text[0] = '\0';
    return pci != nullptr && internal_get_property(pci, "FunctionNumber", text) == 0 && text[0] != '\0';
}

/* The stored value of a property of a group ("" without one). */
void stored(HmNode *group, const char *name, char out[HM_VALUE_SIZE])
{
    out[0] = '\0';
    HmNode *p = group != nullptr ? internal_get_node(group, name, HM_KIND_PROPERTY) : nullptr;
    if (p != nullptr && p->body != nullptr)
        orsa_strlcpy(out, HM_PROPERTY(p)->value, HM_VALUE_SIZE);
}

/* Whether the firmware configuration of the function says SR-IOV does not
 * apply to it (bit 6 of the function capabilities). A failed read says
 * nothing: the state is then read as usual. */
bool sriov_not_applicable(OrsaPort at, u8 domain, u8 phba_port)
{
    u8 config[156] = {};
    u32 rc = ioctl_get_fw_config(at, config, domain, phba_port);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: firmware configuration read failed with %u\n", __func__,
               (unsigned)rc);
        return false;
    }
    return (orsa_rd32(config + 120) & 0x40u) != 0;
}

/* One profile read with the NIC device: the command's result, the profile
 * in *out on success (free with orsa_dfree). */
u32 read_profile(OrsaPort at, u8 domain, u8 phba_port, u32 config_type, u32 option, ProfileConfig **out)
{
    *out = nullptr;
    auto *profile = (ProfileConfig *)orsa_dzalloc(sizeof(ProfileConfig));
    if (profile == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    profile->request.type_flags = (u8)((config_type & 3u) | ((option & 1u) << 2));
    u32 rc = ioctl_get_profile_config(at, profile, sizeof *profile, domain, phba_port);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: get profile config failed with %u\n", __func__,
               (unsigned)rc);
        orsa_dfree(profile);
        return rc;
    }
    *out = profile;
    return 0;
}

/* A failed profile read as the caller's result: 213 passes, anything else
 * is 278. */
u32 read_failure(u32 rc)
{
    if (rc == ORSA_STATUS_CMD_UNKNOWN)
        return rc;
    if (rc == 1)  // no memory: the status is set
        return 1;
    return orsa_fail_with(ORSA_STATUS_PROFILE_CONFIG_FAILED);
}

/* The addressing of a NIC port group. */
struct NicPort {
    OrsaPort at{0, ORSA_PROTO_NONE};
    u8 domain = 0;
    u8 phba_port = 0;
};

bool nic_port_of(HmNode *group, NicPort *p)
{
    if (group == nullptr)
        return false;
    p->at = orsa_port_of(group);
    p->domain = (u8)get_domain_id(group);
    p->phba_port = (u8)get_phba_port_number(group);
    return p->at.instance != 0;
}

/* The start both NIC port handlers share: refused inside a virtual
 * function; on a generation without the state (`without`) a read answers
 * "N/A" and a set is refused with `refusal`. True when the handler goes on
 * with *group, *ks and *gen; else *rc is its result. */
bool port_handler_start(HmNode *property, char *value, u32 mode, bool (*without)(u32), u32 refusal,
                        HmNode **group, HmNode **ks, u32 *gen, u32 *rc)
{
    *rc = 1;
    if (vm_flag) {
        *rc = orsa_refuse_in_vf(value);
        return false;
    }
    *group = property != nullptr ? property->parent : nullptr;
    *ks = orsa_controller_of(property);
    *gen = get_ks_type(*ks);
    if (*group == nullptr || *gen == ORSA_ASIC_UNREADABLE)
        return false;
    if (!without(*gen))
        return true;
    if (mode == HM_MODE_GET)
        *rc = orsa_store_and_answer(property, value, "N/A");
    else
        *rc = mode == HM_MODE_SET ? orsa_fail_with(refusal) : 0;
    return false;
}

bool without_sriov_state(u32 gen)
{
    return gen == ORSA_ASIC_KS2;
}

bool without_profiles(u32 gen)
{
    return gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3 || gen == ORSA_ASIC_PIVARD;
}

/* The start both profile function handlers share: inside a virtual
 * function a read first answers "N/A" and goes on; the generations without
 * profiles read "N/A" and take no set. True when the handler goes on with
 * *function, *ks and *gen; else *rc is its result. */
bool function_handler_start(HmNode *property, char *value, u32 mode, HmNode **function, HmNode **ks, u32 *gen,
                            u32 *rc)
{
    if (vm_flag && mode == HM_MODE_GET)
        orsa_answer_na(value);
    *rc = 1;
    *function = property != nullptr ? property->parent : nullptr;
    *ks = orsa_controller_of(property);
    *gen = get_ks_type(*ks);
    if (*function == nullptr || *gen == ORSA_ASIC_UNREADABLE)
        return false;
    if (!without_profiles(*gen))
        return true;
    *rc = mode == HM_MODE_GET ? orsa_store_and_answer(property, value, "N/A") : 0;
    return false;
}

}  // namespace

/* ---- reading ---- */

u32 ORSA_get_SRIOVState(u32 asic, HmNode *, OrsaPort at, u8 domain, u8 phba_port, HmNode *, const char *function,
                        u32 config_type, HmNode *target)
{
    if (asic == ORSA_ASIC_PIVARD)
        return ORSA_STATUS_PROFILE_ROAD_UNUSABLE;
    u32 number = 0;
    if (target == nullptr || !sriov::parse_function(function, &number))
        return 1;
    ProfileConfig *profile = nullptr;
    u32 rc = read_profile(at, domain, phba_port, config_type, 0, &profile);
    if (rc != 0)
        return read_failure(rc);
    bool found = false;
    const char *text = sriov::from_profile(profile, number, &found);
    orsa_dfree(profile);
    // A state without a text, or a function the profile does not have,
    // leaves the property as it is.
    if (text != nullptr)
        return set_prop_val(target, "SRIOVState", "%s", text);
    return 0;
}

u32 ORSA_get_legacy_sriov_state(u32 asic, HmNode *group, OrsaPort at, u8 domain, u8 phba_port, HmNode *)
{
    if (group == nullptr)
        return 1;
    char function[HM_VALUE_SIZE];
    if (!pci_function_text(group, function))
        return 1;
    const char *text = "N/A";
    if (asic == ORSA_ASIC_KS3) {
        u8 *table = (u8 *)orsa_dzalloc(ORSA_KS_CONF_V1_SIZE);
        if (table == nullptr)
            return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
        u32 rc = ioctl_get_ks_conf_V1(at, table, ORSA_KS_CONF_V1_SIZE, domain, phba_port);
        if (rc == 0)
            text = sriov::ks_text(sriov::ks_entry(table, ORSA_KS_CONF_V1_SIZE, function));
        orsa_dfree(table);
        if (rc != 0)
            return orsa_fail_with(ORSA_STATUS_SRIOV_GET_FAILED);
    } else if (asic == ORSA_ASIC_PIVARD) {
        auto *config = (CommonProfileConfig *)orsa_dzalloc(sizeof(CommonProfileConfig));
        if (config == nullptr)
            return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
        ((u8 *)config)[1] = ORSA_CFG_ACTIVE;
        u32 rc = ioctl_get_common_profile_config(at, config, sizeof *config, domain, phba_port);
        if (rc == 0)
            text = sriov::from_common_profile(config, function);
        orsa_dfree(config);
        if (rc != 0)
            return orsa_fail_with(ORSA_STATUS_PERSONALITY_GET_FAILED);
    }
    return set_prop_val(group, "SRIOVState", "%s", text);
}

/* ---- writing ---- */

u32 ORSA_conf_sriov_state(HmNode *controller, u32 function, const char *value)
{
    HmNode *mgmt = controller != nullptr ? internal_get_node(controller, "ProfileManagement", HM_KIND_GROUP) : nullptr;
    HmNode *configured = mgmt != nullptr ? internal_get_node(mgmt, "ConfiguredProfile", HM_KIND_GROUP) : nullptr;
    if (configured == nullptr || value == nullptr)
        return 0;
    for (HmNode *port = get_first_instance(configured, "Port"); port != nullptr; port = hm_next_instance(port)) {
        for (HmNode *f = get_first_instance(port, "Function"); f != nullptr; f = hm_next_instance(f)) {
            char text[HM_VALUE_SIZE];
            stored(f, "FunctionNumber", text);
            u32 number = 0;
            if (sriov::parse_function(text, &number) && number == function)
                return set_prop_val(f, "SRIOVState", "%s", value);
        }
    }
    return 0;
}

u32 ORSA_set_sli_sriov_state(HmNode *controller, u32 function, const char *value, OrsaPort at, u8 domain,
                             u8 phba_port)
{
    HmNode *mgmt = controller != nullptr ? internal_get_node(controller, "ProfileManagement", HM_KIND_GROUP) : nullptr;
    HmNode *configured = mgmt != nullptr ? internal_get_node(mgmt, "ConfiguredProfile", HM_KIND_GROUP) : nullptr;
    if (configured == nullptr)
        return 1;
    char id_text[HM_VALUE_SIZE] = "";
    if (internal_get_property(configured, "ProfileId", id_text) != 0) {
        // The property's reader answers what the tree holds when it cannot
        // do better; the tree's value names the configured profile.
        stored(configured, "ProfileId", id_text);
    }
    u8 profile_id = (u8)strtoul(id_text, nullptr, 10);

    ProfileConfig *flagged = nullptr, *plain = nullptr;
    u32 rc = read_profile(at, domain, phba_port, ORSA_CFG_CONFIGURED, 1, &flagged);
    if (rc != 0)
        return read_failure(rc);
    rc = read_profile(at, domain, phba_port, ORSA_CFG_CONFIGURED, 0, &plain);
    if (rc != 0) {
        orsa_dfree(flagged);
        return read_failure(rc);
    }
    static_assert(ORSA_SRIOV_MAX_FUNCTIONS * ORSA_RES_DESC_LEN + ORSA_SET_PROFILE_HEAD + ORSA_RES_MC_DESC_LEN <
                  64 * 1024);
    auto *list = (sriov::RewriteEntry *)orsa_dzalloc(sizeof(sriov::RewriteEntry) * ORSA_SRIOV_MAX_FUNCTIONS);
    auto *absent = (bool *)orsa_dzalloc(sizeof(bool) * ORSA_SRIOV_MAX_FUNCTIONS);
    u32 n = list != nullptr ? sriov::list_functions(flagged, list, ORSA_SRIOV_MAX_FUNCTIONS) : 0;
    u32 size = ORSA_SET_PROFILE_HEAD + n * ORSA_RES_DESC_LEN + ORSA_RES_MC_DESC_LEN;
    u8 *request = list != nullptr && absent != nullptr ? (u8 *)orsa_dzalloc(size) : nullptr;
    if (request == nullptr) {
        orsa_dfree(list);
        orsa_dfree(absent);
        orsa_dfree(flagged);
        orsa_dfree(plain);
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    }
    u32 ports = sriov::match_configured(plain, list, absent, n);
    u32 used = sriov::build_rewrite(request, size, profile_id, list, absent, n, ports, function, value);
    rc = used != 0 ? ioctl_set_profile_config(at, request, used, domain, phba_port) : 1;
    orsa_dfree(request);
    orsa_dfree(list);
    orsa_dfree(absent);
    orsa_dfree(flagged);
    orsa_dfree(plain);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: profile rewrite of %u functions answered %u\n", __func__,
               (unsigned)n, (unsigned)rc);
        return orsa_fail_with(ORSA_STATUS_PROFILE_SAVE_INVALID);
    }
    return ORSA_conf_sriov_state(controller, function, value);
}

u32 ORSA_set_SRIOVState(u32 asic, HmNode *group, OrsaPort at, u8 domain, u8 phba_port, const char *value,
                        HmNode *controller)
{
    if (asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_PIVARD)
        return ORSA_STATUS_PROFILE_ROAD_UNUSABLE;
    char current[HM_VALUE_SIZE];
    stored(group, "SRIOVState", current);
    if (strcmp(current, "N/A") == 0)
        return orsa_fail_with(ORSA_STATUS_SRIOV_NOT_CHANGEABLE);
    char text[HM_VALUE_SIZE];
    u32 function = 0;
    if (!pci_function_text(group, text) || !sriov::parse_function(text, &function))
        return 1;
    u32 rc = 0;
    if (asic == ORSA_ASIC_KS3) {
        u8 *request = (u8 *)orsa_dzalloc(ORSA_SRIOV_REQUEST_SIZE);
        if (request == nullptr)
            return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
        sriov::build_single_request(request, ORSA_SRIOV_REQUEST_SIZE, function, value);
        rc = ioctl_set_profile_config(at, request, ORSA_SRIOV_REQUEST_SIZE, domain, phba_port);
        orsa_dfree(request);
        if (rc == ORSA_STATUS_CMD_UNKNOWN)
            return rc;
        if (rc != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: set profile config answered %u\n", __func__,
                   (unsigned)rc);
            return orsa_fail_with(ORSA_STATUS_SET_PORT_PROTOCOL_FAILED);
        }
    } else {
        rc = ORSA_set_sli_sriov_state(controller, function, value, at, domain, phba_port);
        if (rc != 0)
            return rc;
    }
    orsa_set_status(ORSA_STATUS_SRIOV_CHANGED);
    return 0;
}

u32 ORSA_set_legacy_sriov_state(u32 asic, HmNode *group, OrsaPort at, u8 domain, u8 phba_port, const char *value,
                                HmNode *)
{
    // Only the KS3 table holds an SR-IOV state the host may change.
    if (asic != ORSA_ASIC_KS3)
        return orsa_fail_with(ORSA_STATUS_SRIOV_NOT_CHANGEABLE);
    char function[HM_VALUE_SIZE];
    if (!pci_function_text(group, function))
        return 1;
    u8 *table = (u8 *)orsa_dzalloc(ORSA_KS_CONF_V1_SIZE);
    if (table == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    u32 rc = ioctl_get_ks_conf_V1(at, table, ORSA_KS_CONF_V1_SIZE, domain, phba_port);
    if (rc != 0) {
        orsa_dfree(table);
        return orsa_fail_with(ORSA_STATUS_SRIOV_GET_FAILED);
    }
    u8 *entry = sriov::ks_entry(table, ORSA_KS_CONF_V1_SIZE, function);
    if (entry == nullptr) {
        // No entry of this NIC function: nothing was changed, and the
        // client must not be told to reboot for it.
        orsa_dfree(table);
        return orsa_fail_with(ORSA_STATUS_SRIOV_NOT_CHANGEABLE);
    }
    if (value != nullptr && strcasecmp(value, "Disabled") == 0)
        entry[12] = 0;
    else if (value != nullptr && strcasecmp(value, "Enabled") == 0)
        entry[12] = 1;
    rc = ioctl_set_ks_conf_V1(at, table, ORSA_KS_CONF_V1_SIZE, domain, phba_port);
    orsa_dfree(table);
    if (rc == ORSA_STATUS_SRIOV_UMC)
        return orsa_fail_with(ORSA_STATUS_SRIOV_UMC);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: configuration table write answered %u\n", __func__,
               (unsigned)rc);
        return orsa_fail_with(ORSA_STATUS_SRIOV_SET_FAILED);
    }
    orsa_set_status(ORSA_STATUS_SRIOV_CHANGED);
    return 0;
}

/* ---- handlers ---- */

u32 handle_NICPhysicalHBA_SRIOVState(HmNode *property, char *value, u32 mode)
{
    HmNode *group = nullptr, *ks = nullptr;
    u32 gen = 0, rc = 1;
    if (!port_handler_start(property, value, mode, without_sriov_state, ORSA_STATUS_SRIOV_NOT_CHANGEABLE, &group, &ks,
                            &gen, &rc))
        return rc;
    char function[HM_VALUE_SIZE];
    NicPort p;
    if (!pci_function_text(group, function) || !nic_port_of(group, &p))
        return 1;
    if (mode == HM_MODE_GET) {
        if (gen != ORSA_ASIC_PIVARD && sriov_not_applicable(p.at, p.domain, p.phba_port))
            return orsa_store_and_answer(property, value, "N/A");
        rc = ORSA_get_SRIOVState(gen, group, p.at, p.domain, p.phba_port, ks, function, ORSA_CFG_CONFIGURED, group);
        if (is_legacy_answer(rc))
            rc = ORSA_get_legacy_sriov_state(gen, group, p.at, p.domain, p.phba_port, ks);
        return orsa_answer(property, value, rc == 0 ? 0 : 1);
    }
    if (mode != HM_MODE_SET)
        return 0;
    rc = ORSA_set_SRIOVState(gen, group, p.at, p.domain, p.phba_port, value, ks);
    if (is_legacy_answer(rc))
        rc = ORSA_set_legacy_sriov_state(gen, group, p.at, p.domain, p.phba_port, value, ks);
    return rc == 0 ? 0 : 1;
}

u32 handle_CProf_SRIOVState(HmNode *property, char *value, u32 mode)
{
    HmNode *function = nullptr, *ks = nullptr;
    u32 gen = 0, rc = 1;
    if (!function_handler_start(property, value, mode, &function, &ks, &gen, &rc))
        return rc;
    char number[HM_VALUE_SIZE];
    stored(function, "FunctionNumber", number);
    if (mode == HM_MODE_GET) {
        char fields[ORSA_CPROF_FIELDS][256];
        if (ORSA_get_config_prof_prop(ks, number, fields, 1) == 0)
            set_prop_val(function, "SRIOVState", "%s", fields[ORSA_CPROF_SRIOV]);
        return orsa_answer(property, value, 0);
    }
    if (mode != HM_MODE_SET)
        return 0;
    // Staged only: the profile save carries it to the adapter.
    if (ORSA_set_config_prof_prop(ks, number, value, 1, ORSA_CPROF_SRIOV) != 0)
        return 1;
    return set_prop_val(function, "SRIOVState", "%s", value);
}

u32 handle_AProf_SRIOVState(HmNode *property, char *value, u32)
{
    HmNode *function = nullptr, *ks = nullptr;
    u32 gen = 0, rc = 1;
    // Read-only: every call is a read.
    if (!function_handler_start(property, value, HM_MODE_GET, &function, &ks, &gen, &rc))
        return rc;
    NicPort p;
    if (!nic_port_of(get_first_instance(ks, "NICPhysicalHBA"), &p))
        return 1;
    if (sriov_not_applicable(p.at, p.domain, p.phba_port))
        return orsa_store_and_answer(property, value, "N/A");
    char number[HM_VALUE_SIZE];
    stored(function, "FunctionNumber", number);
    rc = ORSA_get_SRIOVState(gen, nullptr, p.at, p.domain, p.phba_port, ks, number, ORSA_CFG_ACTIVE, function);
    return orsa_answer(property, value, rc == 0 ? 0 : 1);
}

u32 handle_VEPAState(HmNode *property, char *value, u32 mode)
{
    HmNode *group = nullptr, *ks = nullptr;
    u32 gen = 0, rc = 1;
    if (!port_handler_start(property, value, mode, without_profiles, ORSA_STATUS_VEPA_UNSUPPORTED, &group, &ks, &gen,
                            &rc))
        return rc;
    NicPort p;
    if (!nic_port_of(group, &p))
        return 1;
    if (mode == HM_MODE_GET) {
        u8 payload[16];
        sriov::hsw_get_payload(payload, p.phba_port);
        rc = ioctl_get_hsw_config(p.at, payload, p.domain, p.phba_port);
        if (rc == ORSA_STATUS_OPERATION_UNSUPPORTED) {
            orsa_store_and_answer(property, value, "N/A");
            return 1;
        }
        if (rc != 0)
            return 1;
        return orsa_store_and_answer(property, value, sriov::vepa_text(payload));
    }
    if (mode != HM_MODE_SET)
        return 0;
    char sriov_state[HM_VALUE_SIZE], current[HM_VALUE_SIZE];
    stored(group, "SRIOVState", sriov_state);
    if (strcasecmp(sriov_state, "Enabled") != 0)
        return orsa_fail_with(ORSA_STATUS_VEPA_UNSUPPORTED);
    stored(group, "VEPAState", current);
    if (value == nullptr || strcasecmp(current, value) == 0)
        return 0;
    u8 payload[20];
    sriov::hsw_set_payload(payload, p.phba_port, value);
    if (ioctl_set_hsw_config(p.at, payload, p.domain, p.phba_port) != 0)
        return 1;
    return set_prop_val(group, "VEPAState", "%s", value);
}

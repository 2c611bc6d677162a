/* The profile payloads: the bounded record walk and the shared readers. */
#include "config/cfg_profile_model.h"

#include <cstring>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

i32 orsa_res_port(const u8 *rec)
{
    switch (rec[0]) {
    case ORSA_RES_NIC_FUNCTION:
        return rec[offsetof(nic_function_desc, port)] & 63;
    case ORSA_RES_ISCSI_FUNCTION:
        return rec[offsetof(iscsi_function_desc, port)] & 63;
    case ORSA_RES_FCOE_FUNCTION:
        return rec[offsetof(fcoe_function_desc, port)] & 63;
    default:
        return -1;
    }
}

const u8 *orsa_res_mac(const u8 *rec)
{
    switch (rec[0]) {
    case ORSA_RES_NIC_FUNCTION:
        return rec + offsetof(nic_function_desc, mac);
    case ORSA_RES_ISCSI_FUNCTION:
        return rec + offsetof(iscsi_function_desc, mac);
    case ORSA_RES_FCOE_FUNCTION:
        return rec + offsetof(fcoe_function_desc, mac);
    default:
        return nullptr;
    }
}

/* Spelt as the port groups' MCType lists spell them, so that a value shown
 * here is one a client may set back. */
const char *orsa_mc_type_text(u32 mc_type)
{
    static const char *const kTexts[] = {"None", "None", "UMC",  "HPFlex",    "vNIC1", "NPAR",
                                         "UFP",  "vNIC2", "HPFlexQBG", nullptr, "HPUMC"};
    return mc_type < sizeof kTexts / sizeof kTexts[0] ? kTexts[mc_type] : nullptr;
}

namespace {

/* The bytes a reader takes from a record of each type; a shorter record
 * would have them read from the next record or past the buffer. */
u32 fields_end(u8 type)
{
    switch (type) {
    case ORSA_RES_PCIE_FUNCTION:
        return offsetof(pcie_function_desc, change_flags) + 1;
    case ORSA_RES_NIC_FUNCTION:
        return offsetof(nic_function_desc, port) + 1;
    case ORSA_RES_ISCSI_FUNCTION:
        return offsetof(iscsi_function_desc, port) + 1;
    case ORSA_RES_FCOE_FUNCTION:
        return offsetof(fcoe_function_desc, port) + 1;
    case ORSA_RES_ROCE_FUNCTION:
        return sizeof(resource_desc);
    case ORSA_RES_PORT:
        return offsetof(port_desc, max_fcoe_pf_count) + 2;
    default:
        return 0;
    }
}

}  // namespace

void orsa_profile_walk_begin_raw(OrsaProfileWalk *walk, const u8 *buffer, u32 size)
{
    walk->buffer = buffer;
    walk->size = size;
    walk->offset = ORSA_PROFILE_RECORDS_OFFSET;
    walk->remaining = size >= ORSA_PROFILE_RECORDS_OFFSET ? orsa_rd16(buffer) : 0;
}

void orsa_profile_walk_begin_counted(OrsaProfileWalk *walk, const u8 *buffer, u32 size, u32 count)
{
    orsa_profile_walk_begin_raw(walk, buffer, size);
    walk->remaining = count;
}

void orsa_profile_walk_begin(OrsaProfileWalk *walk, const ProfileConfig *profile)
{
    orsa_profile_walk_begin_raw(walk, (const u8 *)profile, sizeof *profile);
}

const u8 *orsa_profile_walk_next(OrsaProfileWalk *walk)
{
    while (walk->remaining > 0) {
        walk->remaining--;
        if (walk->offset + 2 > walk->size)
            break;
        const u8 *rec = walk->buffer + walk->offset;
        u32 len = rec[1];
        if (len == 0 || walk->offset + len > walk->size) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: record at %u of length %u ends the walk\n", __func__,
                   walk->offset, len);
            break;
        }
        walk->offset += len;
        if (len < fields_end(rec[0])) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: record type %u of length %u passed over\n", __func__,
                   rec[0], len);
            continue;
        }
        return rec;
    }
    walk->remaining = 0;
    return nullptr;
}

const u8 *orsa_profile_walk_next_of(OrsaProfileWalk *walk, u8 type)
{
    const u8 *rec;
    while ((rec = orsa_profile_walk_next(walk)) != nullptr && rec[0] != type) {
    }
    return rec;
}

namespace {

u32 capped(i32 count, u32 max)
{
    return count <= 0 ? 0u : (u32)count > max ? max : (u32)count;
}

}  // namespace

u32 orsa_profile_list_count(const ProfileList *list)
{
    return capped(list->profile_descriptor_count, ORSA_PROFILE_LIST_MAX);
}

u32 orsa_link_config_count(const LinkReconfigInfo *info)
{
    return capped(info->link_config_descriptor_count, ORSA_LINK_CONFIG_MAX);
}

u32 orsa_common_profile_count(const CommonProfileConfig *config)
{
    return config->entry_count > ORSA_COMMON_PROFILE_MAX ? ORSA_COMMON_PROFILE_MAX : config->entry_count;
}

ProfileConfig *ORSA_get_profile(HmNode *controller, u32 config_type, u32 profile_id, u32 option_flag)
{
    if (controller == nullptr)
        return nullptr;
    HmNode *phba = orsa_first_phba(controller);
    OrsaPort at = orsa_controller_port(controller);
    if (phba == nullptr || at.instance == 0)
        return nullptr;
    auto *profile = (ProfileConfig *)orsa_dzalloc(sizeof(ProfileConfig));
    if (profile == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return nullptr;
    }
    profile->request.profile_id = (u8)profile_id;
    profile->request.type_flags = (u8)((config_type & 3u) | ((option_flag & 1u) << 2));
    u32 rc = ioctl_get_profile_config(at, profile, sizeof *profile, (u8)get_domain_id(phba),
                                      (u8)get_phba_port_number(phba));
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: get profile config failed %u\n", __func__, rc);
        orsa_dfree(profile);
        orsa_set_status(ORSA_STATUS_PROFILE_CONFIG_FAILED);
        return nullptr;
    }
    return profile;
}

u32 ORSA_get_storage_functions(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller, u32 *count,
                               u32 *functions, u32 *types, u32 capacity, u32 mode)
{
    (void)controller;
    auto *profile = (ProfileConfig *)orsa_dzalloc(sizeof(ProfileConfig));
    if (profile == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    profile->request.type_flags = ORSA_CFG_ACTIVE;
    u32 rc = ioctl_get_profile_config(at, profile, sizeof *profile, domain, phba_port);
    if (rc != 0) {
        orsa_dfree(profile);
        return rc == ORSA_STATUS_CMD_UNKNOWN ? (u32)ORSA_STATUS_CMD_UNKNOWN : (u32)ORSA_STATUS_PROFILE_ROAD_UNUSABLE;
    }
    if (profile->records[0] <= 79) {
        orsa_dfree(profile);
        return ORSA_STATUS_PROFILE_ROAD_UNUSABLE;
    }
    u32 n = 0;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, ORSA_RES_PCIE_FUNCTION)) {
        const auto *fn = (const pcie_function_desc *)rec;
        if ((fn->mission_roles & 6u) == 0)
            continue;
        if (n >= capacity)
            break;
        functions[n] = orsa_res_pf(rec);
        types[n] = fn->pf_state != 0 ? fn->function_type : 1u;
        if (mode == 1 || fn->pf_state != 0)
            n++;
    }
    if (count != nullptr)
        *count = n;
    orsa_dfree(profile);
    return 0;
}

u32 ORSA_set_config_signature(OrsaPort at)
{
    ConfigSignature sign{};
    sign.signature = 3;
    return ioctl_set_config_sign(at, &sign, 0, 0);
}

/* Personality, available protocols, configuration erase and factory reset. */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_personality.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

/* ---- decoders ---- */

namespace personality {

namespace {

/* Fields of a legacy table entry. */
constexpr size_t kKsKind = 0, kKsFunction = 4, kKsState = 5, kKsType = 6;
/* A common profile entry naming a PCI function. */
constexpr u8 kCommonFunction = 64;
/* Function roles of a PCIe function record. */
constexpr u8 kRoleNic = 0x1, kRoleIscsi = 0x2, kRoleFcoe = 0x4, kRoleRoce = 0x8;
constexpr u8 kPresentationChange = 0x08;

/* The legacy table's entries that are really there: the count the adapter
 * names, but never more than the table's 16 nor more than its bytes hold. */
u32 ks_entries(const u8 *table, size_t size, size_t entry_size)
{
    if (table == nullptr || size < 4 || entry_size == 0)
        return 0;
    u32 held = (u32)((size - 4) / entry_size);
    u32 n = orsa_rd32(table);
    if (n > ORSA_KS_CONF_ENTRIES)
        n = ORSA_KS_CONF_ENTRIES;
    return n < held ? n : held;
}

/* The PCIe function record of a function in a profile, none without one. */
const pcie_function_desc *function_record(const ProfileConfig *profile, u32 function)
{
    if (profile == nullptr)
        return nullptr;
    OrsaProfileWalk w;
    orsa_profile_walk_begin(&w, profile);
    const pcie_function_desc *found = nullptr;
    while (const u8 *rec = orsa_profile_walk_next(&w)) {
        if (rec[0] == ORSA_RES_PCIE_FUNCTION && orsa_res_pf(rec) == function) {
            found = (const pcie_function_desc *)rec;
            break;
        }
    }
    return found;
}

}  // namespace

u8 type_code(const char *name)
{
    if (name == nullptr)
        return 0;
    if (strcasecmp(name, "NIC") == 0)
        return 1;
    if (strcasecmp(name, "iSCSI") == 0)
        return 2;
    if (strcasecmp(name, "FCoE") == 0)
        return 4;
    return 0;
}

const char *type_text(u32 code)
{
    switch (code) {
    case 1:
        return "NIC";
    case 2:
        return "iSCSI";
    case 4:
        return "FCoE";
    default:
        return "Illegal";
    }
}

const char *from_ks_table(const u8 *table, size_t size, size_t entry_size)
{
    if (table == nullptr || entry_size < kKsType + 1 || size < 4 + entry_size)
        return "Illegal";
    u32 n = ks_entries(table, size, entry_size);
    // Entry 0 stands in for a function that has no entry of its own.
    const u8 *f2 = table + 4, *f3 = table + 4;
    for (u32 i = 0; i < n; i++) {
        const u8 *e = table + 4 + (size_t)i * entry_size;
        if (e[kKsKind] != 0)
            continue;
        if (e[kKsFunction] == 2)
            f2 = e;
        else if (e[kKsFunction] == 3)
            f3 = e;
    }
    if (f2[kKsType] != f3[kKsType] || f2[kKsState] != f3[kKsState])
        return "Unknown";
    u8 type = f2[kKsType], state = f2[kKsState];
    if (type == 0)
        return "NIC";
    if (type == 1 && state == 0)
        return "iSCSI";
    if (type == 2 && state == 0)
        return "FCoE";
    return state == 1 ? "NIC" : "Illegal";
}

const char *from_common_profile(const CommonProfileConfig *config)
{
    if (config == nullptr || config->entry_count > ORSA_COMMON_PROFILE_COUNT_LIMIT)
        return "N/A";
    // A count between the 256 entries the buffer holds and the limit names
    // entries that are not there: only the ones held are read.
    u32 n = orsa_common_profile_count(config);
    const common_profile_entry *f2 = &config->entries[0], *f3 = &config->entries[0];
    for (u32 i = 0; i < n; i++) {
        const common_profile_entry *e = &config->entries[i];
        if (e->kind != kCommonFunction)
            continue;
        u32 pf = e->pf & 0x3FFu;
        if (pf == 2)
            f2 = e;
        else if (pf == 3)
            f3 = e;
    }
    if (f2->function_type != f3->function_type || f2->function_state != f3->function_state)
        return "Unknown";
    if (f2->function_type == 4 && f2->function_state == 1)
        return "FCoE";
    if (f2->function_type == 1 || f2->function_state == 0)
        return "NIC";
    return "Illegal";
}

u32 set_in_ks_table(u8 *table, size_t size, size_t entry_size, const char *name)
{
    u8 code = type_code(name);
    if (code == 0)
        return 0;
    u32 n = ks_entries(table, size, entry_size), changed = 0;
    for (u32 i = 0; i < n; i++) {
        u8 *e = table + 4 + (size_t)i * entry_size;
        if (e[kKsKind] != 0 || (e[kKsFunction] != 2 && e[kKsFunction] != 3))
            continue;
        // The table's type codes: 0 NIC, 1 iSCSI, 2 FCoE. A storage
        // personality takes the function out of the NIC state.
        if (code == 1) {
            e[kKsType] = 0;
        } else {
            e[kKsType] = code == 2 ? 1 : 2;
            e[kKsState] = 0;
        }
        changed++;
    }
    return changed;
}

void protocols_of(const ProfileConfig *profile, u32 function, char out[HM_VALUE_SIZE])
{
    out[0] = '\0';
    const pcie_function_desc *rec = function_record(profile, function);
    if (rec == nullptr)
        return;
    static const struct {
        u8 role;
        const char *text;
    } kRoles[] = {{kRoleNic, "NIC"}, {kRoleIscsi, "iSCSI"}, {kRoleFcoe, "FCoE"}, {kRoleRoce, "RoCE"}};
    for (const auto &r : kRoles) {
        if ((rec->mission_roles & r.role) == 0)
            continue;
        if (out[0] != '\0')
            strncat(out, ",", HM_VALUE_SIZE - strlen(out) - 1);
        strncat(out, r.text, HM_VALUE_SIZE - strlen(out) - 1);
    }
}

bool presentation_changes(const ProfileConfig *profile, u32 function)
{
    const pcie_function_desc *rec = function_record(profile, function);
    return rec != nullptr && (rec->change_flags & kPresentationChange) != 0;
}

u32 build_profile_request(u8 *request, size_t size, u32 count, const u32 *functions, const char *name)
{
    u32 used = ORSA_SET_PROFILE_HEAD + count * ORSA_RES_DESC_LEN;
    if (request == nullptr || functions == nullptr || count == 0 || count > ORSA_PERSONALITY_MAX_FUNCTIONS ||
        used > size)
        return 0;
    memset(request, 0, size);
    request[4] = (u8)count;
    request[5] = (u8)(count >> 8);
    u8 code = type_code(name);
    for (u32 i = 0; i < count; i++) {
        u8 *r = request + ORSA_SET_PROFILE_HEAD + (size_t)i * ORSA_RES_DESC_LEN;
        r[0] = ORSA_RES_PCIE_FUNCTION;
        r[1] = ORSA_RES_DESC_LEN;
        r[3] = 0x80;  // bit 7 set, bit 6 clear: the record replaces the function's state
        r[6] = (u8)functions[i];
        r[7] = (u8)((functions[i] >> 8) & 3u);
        r[13] = 1;
        r[14] = code;
    }
    return used;
}

void erase_payload(u8 payload[20], u32 what)
{
    memset(payload, 0, 20);
    payload[0] = 3;
    payload[4] = (u8)what;
}

u32 factory_reset_payload(const char *profile_id, u8 payload[4])
{
    memset(payload, 0, 4);
    if (profile_id == nullptr || (u8)profile_id[0] == ORSA_PARAM_NOT_GIVEN)
        return 0;
    if (profile_id[0] == '\0') {
        payload[1] = 1;  // no profile named: the adapter's own default
        return 0;
    }
    char *end = nullptr;
    long id = strtol(profile_id, &end, 10);
    // Only the low byte travels: 256 would name profile 0, the active one.
    if (end == profile_id || *end != '\0' || id < 0 || id > 255)
        return 1;
    payload[0] = (u8)id;
    return 0;
}

}  // namespace personality

/* ---- addressing ---- */

namespace {

/* Where an adapter-wide command goes: the controller's first iSCSI physical
 * HBA, else its first NIC physical HBA. */

HmNode *personality_group(HmNode *ks)
{
    return ks != nullptr ? internal_get_node(ks, "Personality", HM_KIND_GROUP) : nullptr;
}

/* The Personality group whose property a start-up filler writes; none (with
 * *rc the filler's result) without one, or inside a virtual function, where
 * the property reads "N/A". */
HmNode *filler_group(HmNode *ks, const char *property, u32 *rc)
{
    HmNode *personality = personality_group(ks);
    *rc = 1;
    if (personality == nullptr)
        return nullptr;
    if (vm_flag) {
        set_prop_val(personality, property, "N/A");
        *rc = orsa_fail_with(ORSA_STATUS_VF_REFUSED);
        return nullptr;
    }
    return personality;
}

bool is_legacy_answer(u32 rc)
{
    return rc == ORSA_STATUS_CMD_UNKNOWN || rc == ORSA_STATUS_PROFILE_ROAD_UNUSABLE;
}

}  // namespace

/* ---- personality: reading ---- */

u32 ORSA_get_adapter_current_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller,
                                         HmNode *personality)
{
    if (personality == nullptr)
        return 1;
    u32 count = 0;
    u32 functions[ORSA_PERSONALITY_MAX_FUNCTIONS], types[ORSA_PERSONALITY_MAX_FUNCTIONS];
    u32 rc = ORSA_get_storage_functions(at, domain, phba_port, controller, &count, functions, types,
                                        ORSA_PERSONALITY_MAX_FUNCTIONS, 0);
    if (rc != 0)
        return rc;
    // Every storage function should present the same protocol; the last
    // one read is the one shown.
    const char *text = "NIC";
    for (u32 i = 0; i < count && i < ORSA_PERSONALITY_MAX_FUNCTIONS; i++)
        text = personality::type_text(types[i]);
    return set_prop_val(personality, "CurrentPersonality", "%s", text);
}

u32 ORSA_get_legacy_adapter_current_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller,
                                                HmNode *personality)
{
    if (personality == nullptr)
        return 1;
    u32 gen = get_ks_type(controller);
    if (gen == ORSA_ASIC_UNREADABLE || gen == ORSA_ASIC_UNKNOWN)
        return 1;
    const char *text = nullptr;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3) {
        u8 *table = (u8 *)orsa_dzalloc(ORSA_KS_CONF_V1_SIZE);
        if (table == nullptr)
            return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
        if (ioctl_get_ks_conf_V1(at, table, ORSA_KS_CONF_V1_SIZE, domain, phba_port) == 0)
            text = personality::from_ks_table(table, ORSA_KS_CONF_V1_SIZE, 68);
        orsa_dfree(table);
    } else if (gen == ORSA_ASIC_PIVARD) {
        CommonProfileConfig *config = (CommonProfileConfig *)orsa_dzalloc(sizeof(CommonProfileConfig));
        if (config == nullptr)
            return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
        ((u8 *)config)[1] = ORSA_CFG_ACTIVE;
        if (ioctl_get_common_profile_config(at, config, sizeof *config, domain, phba_port) == 0)
            text = personality::from_common_profile(config);
        orsa_dfree(config);
    } else {
        return 0;  // the profile road's generations keep what they show
    }
    if (text == nullptr)
        return orsa_fail_with(ORSA_STATUS_PERSONALITY_GET_FAILED);
    return set_prop_val(personality, "CurrentPersonality", "%s", text);
}

u32 ORSA_update_current_personality(HmNode *controller)
{
    u32 rc = 1;
    HmNode *personality = filler_group(controller, "CurrentPersonality", &rc);
    if (personality == nullptr)
        return rc;
    OrsaWhere a;
    if (!orsa_controller_where(controller, &a))
        return 1;
    rc = ORSA_get_adapter_current_personality(a.at, a.domain, a.phba_port, controller, personality);
    if (is_legacy_answer(rc))
        rc = ORSA_get_legacy_adapter_current_personality(a.at, a.domain, a.phba_port, controller, personality);
    return rc == 0 ? 0 : 1;
}

u32 ORSA_update_available_personalities(HmNode *controller)
{
    u32 rc = 1;
    HmNode *personality = filler_group(controller, "AvailablePersonalities", &rc);
    if (personality == nullptr)
        return rc;
    u32 gen = get_ks_type(controller);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen != ORSA_ASIC_KS2 && gen != ORSA_ASIC_KS3 && gen != ORSA_ASIC_PIVARD)
        return 0;
    OrsaWhere a;
    if (!orsa_controller_where(controller, &a))
        return 1;
    if (gen == ORSA_ASIC_PIVARD) {
        u8 oem[ORSA_OEM_PARAMS_SIZE] = {};
        if (ioctl_get_oem_params(a.at, oem, a.domain, a.phba_port) != 0)
            return orsa_fail_with(ORSA_STATUS_OEM_FAILED);
        return set_prop_val(personality, "AvailablePersonalities", "%s", "");
    }
    u8 *buffer = (u8 *)orsa_dzalloc(ORSA_HDR_SIZE + 512);
    if (buffer == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    rc = 1;
    if (ioctl_get_available_personalities(a.at, buffer, a.domain, a.phba_port) == 0) {
        u32 n = orsa_rd32(buffer + 8);
        char text[HM_VALUE_SIZE] = "";
        memcpy(text, buffer + ORSA_HDR_SIZE, n < HM_VALUE_SIZE - 1 ? n : HM_VALUE_SIZE - 1);
        rc = set_prop_val(personality, "AvailablePersonalities", "%s", text);
    } else {
        orsa_set_status(ORSA_STATUS_AVAILABLE_PERSONALITIES_FAILED);
    }
    orsa_dfree(buffer);
    return rc;
}

u32 handle_ConfiguredPersonality(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *ks = orsa_controller_of(property);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_PIVARD)
        return orsa_store_and_answer(property, value, "N/A");
    // The function of the property's port answers: its iSCSI function when
    // the port has one, else its NIC function.
    i32 port = get_phba_port_number(property);
    char port_text[16];
    snprintf(port_text, sizeof port_text, "%d", (int)port);
    HmNode *phba = get_valid_phba(ks, port_text);
    OrsaPort at = phba != nullptr ? orsa_port_of(phba) : orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    u8 buffer[ORSA_HDR_SIZE + 8] = {};
    if (ioctl_get_configured_personality(at, buffer, sizeof buffer - ORSA_HDR_SIZE, (u8)get_domain_id(property),
                                         (u8)port) != 0)
        return orsa_fail_with(ORSA_STATUS_CONFIGURED_PERSONALITY_FAILED);
    u32 n = orsa_rd32(buffer + 8);
    char text[9] = "";
    memcpy(text, buffer + ORSA_HDR_SIZE, n < 8 ? n : 8);
    return orsa_store_and_answer(property, value, text);
}

/* ---- personality: writing ---- */

u32 ORSA_set_adapter_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller, const char *name)
{
    u32 count = 0;
    u32 functions[ORSA_PERSONALITY_MAX_FUNCTIONS], types[ORSA_PERSONALITY_MAX_FUNCTIONS];
    u32 rc = ORSA_get_storage_functions(at, domain, phba_port, controller, &count, functions, types,
                                        ORSA_PERSONALITY_MAX_FUNCTIONS, 1);
    // Only an adapter that does not know the profile commands is written
    // through the legacy table: a profile read that failed otherwise says
    // nothing about which table the adapter keeps.
    if (rc == ORSA_STATUS_CMD_UNKNOWN)
        return rc;
    if (rc != 0)
        return orsa_fail_with(ORSA_STATUS_PROFILE_CONFIG_FAILED);
    if (count == 0)
        return orsa_fail_with(ORSA_STATUS_PERSONALITY_NOT_SUPPORTED);
    if (count > ORSA_PERSONALITY_MAX_FUNCTIONS)
        count = ORSA_PERSONALITY_MAX_FUNCTIONS;
    u8 *request = (u8 *)orsa_dzalloc(ORSA_PERSONALITY_REQUEST_SIZE);
    if (request == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    personality::build_profile_request(request, ORSA_PERSONALITY_REQUEST_SIZE, count, functions, name);
    rc = ioctl_set_profile_config(orsa_controller_port(controller), request, ORSA_PERSONALITY_REQUEST_SIZE, domain,
                                  phba_port);
    orsa_dfree(request);
    if (rc == 0)
        return 0;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: set profile config failed with %u\n", __func__, (unsigned)rc);
    return orsa_fail_with(rc == ORSA_STATUS_PERSONALITY_NOT_SUPPORTED ? ORSA_STATUS_PERSONALITY_NOT_SUPPORTED
                                                                      : ORSA_STATUS_SET_PORT_PROTOCOL_FAILED);
}

u32 ORSA_set_legacy_adapter_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *, const char *name)
{
    u8 *table = (u8 *)orsa_dzalloc(ORSA_KS_CONF_SIZE);
    if (table == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    u32 rc = ioctl_get_ks_conf(at, table, ORSA_KS_CONF_SIZE, domain, phba_port);
    if (rc == 0) {
        personality::set_in_ks_table(table, ORSA_KS_CONF_SIZE, 52, name);
        rc = ioctl_set_ks_conf(at, table, ORSA_KS_CONF_SIZE, domain, phba_port);
    }
    orsa_dfree(table);
    if (rc == 0)
        return 0;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: configuration table command failed with %u\n", __func__,
           (unsigned)rc);
    return orsa_fail_with(rc == ORSA_STATUS_PERSONALITY_NOT_SUPPORTED ? ORSA_STATUS_PERSONALITY_NOT_SUPPORTED
                                                                      : ORSA_STATUS_PERSONALITY_SET_FAILED);
}

u32 do_SetPersonality(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    HmNode *ks = orsa_controller_of(group);
    OrsaWhere a;
    if (group == nullptr || params == nullptr || !orsa_controller_where(ks, &a))
        return 1;
    const char *name = params[0];
    u8 domain = (u8)get_domain_id(action), phba_port = (u8)get_phba_port_number(action);
    u32 rc = ORSA_set_adapter_personality(a.at, domain, phba_port, ks, name);
    if (rc == ORSA_STATUS_CMD_UNKNOWN)
        rc = ORSA_set_legacy_adapter_personality(a.at, domain, phba_port, ks, name);
    if (rc != 0)
        return 1;
    char current[HM_VALUE_SIZE] = "";
    if (internal_get_property(group, "CurrentPersonality", current) != 0)
        return 1;
    if (strcasecmp(current, name) != 0)
        orsa_set_status(ORSA_STATUS_PERSONALITY_CHANGED);
    return 0;
}

/* ---- available protocols ---- */

u32 handle_AvailableProtocols(HmNode *property, char *value, u32)
{
    HmNode *function = property != nullptr ? property->parent : nullptr;
    char text[HM_VALUE_SIZE] = "";
    if (function == nullptr || internal_get_property(function, "FunctionNumber", text) != 0)
        return 1;
    char *end = nullptr;
    long number = strtol(text, &end, 0);
    if (end == text || *end != '\0' || number < 0)
        return 1;
    HmNode *ks = orsa_controller_of(property);
    ProfileConfig *profile = ORSA_get_profile(ks, ORSA_CFG_CONFIGURED, 0, 1);
    if (profile == nullptr)
        return 1;
    char protocols[HM_VALUE_SIZE];
    personality::protocols_of(profile, (u32)number, protocols);
    orsa_dfree(profile);
    // The presentation change shows only in the profile read without the flag.
    profile = ORSA_get_profile(ks, ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return 1;
    if (personality::presentation_changes(profile, (u32)number))
        strncat(protocols, ",None", sizeof protocols - strlen(protocols) - 1);
    orsa_dfree(profile);
    return orsa_store_and_answer(property, value, protocols);
}

/* ---- erase and reset ---- */

namespace {

/* Sends one configuration erase. The adapter answers an erase it carried
 * out with 0 or with "done, reboot needed" (55): both are the client's
 * success with a reboot notice; anything else is the command's status with
 * failed_status as the message. */
u32 erase(OrsaPort at, u8 domain, u8 phba_port, u32 what, u32 failed_status)
{
    u8 payload[20];
    personality::erase_payload(payload, what);
    u32 rc = ioctl_erase_ROM(at, payload, domain, phba_port);
    if (rc == 0)
        return orsa_set_status(ORSA_STATUS_ERASED), 0;
    if (rc == ORSA_STATUS_NEEDS_REBOOT)
        return orsa_set_status(ORSA_STATUS_DONE_REBOOT_NOW), 0;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: erase %u failed with %u\n", __func__, (unsigned)what,
           (unsigned)rc);
    orsa_set_status(failed_status);
    return rc;
}

/* The NIC function a node's NIC configuration erase goes to: the node's own
 * when it lies below a NIC physical HBA, else its controller's first NIC
 * function (an iSCSI function's number means nothing to the NIC device). */
OrsaPort nic_port_of(HmNode *node)
{
    OrsaPort at = orsa_port_of(node);
    if (at.protocol == ORSA_PROTO_NIC)
        return at;
    HmNode *ks = orsa_controller_of(node);
    HmNode *nic = ks != nullptr ? get_first_instance(ks, "NICPhysicalHBA") : nullptr;
    return nic != nullptr ? orsa_port_of(nic) : OrsaPort{0, ORSA_PROTO_NONE};
}

}  // namespace

u32 ORSA_EraseNICConfiguration(HmNode *node)
{
    OrsaPort at = nic_port_of(node);
    if (at.instance == 0)
        return 1;
    return erase(at, (u8)get_domain_id(node), (u8)get_phba_port_number(node), 14, ORSA_STATUS_ERASE_NIC_FAILED);
}

u32 do_EraseNICConfiguration(HmNode *group, HmNode *, HmValueSlot *)
{
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    return ORSA_EraseNICConfiguration(group);
}

u32 do_ErasePortandDiscoveryConfiguration(HmNode *group, HmNode *, HmValueSlot *)
{
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    PortAddress pa;
    if (orsa_get_port_address(group, &pa) != 0 || (pa.protocol != ORSA_PROTO_ISCSI && pa.protocol != ORSA_PROTO_NIC))
        return 1;
    return erase(OrsaPort{(u32)pa.port_number, (i32)pa.protocol}, (u8)pa.domain_id, (u8)pa.phba_port, 15,
                 ORSA_STATUS_ERASE_PORT_FAILED);
}

u32 do_ResetFactoryDefaults(HmNode *group, HmNode *, HmValueSlot *params)
{
    HmNode *ks = orsa_controller_of(group);
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3)
        return orsa_fail_with(ORSA_STATUS_FACTORY_RESET_UNSUPPORTED);
    OrsaWhere a;
    if (!orsa_controller_where(ks, &a))
        return 1;
    u8 payload[4];
    if (personality::factory_reset_payload(params != nullptr ? params[0] : nullptr, payload) != 0) {
        orsa_set_last_status(ORSA_STATUS_OUT_OF_RANGE, "ProfileId: Value out of range. Valid range is from 0 to 255.");
        return 1;
    }
    // The adapter answers a factory reset it carried out with "reboot
    // needed"; a plain success means nothing was reset.
    u32 rc = ioctl_set_factory_profile_config_v1(a.at, payload, a.domain, a.phba_port);
    if (rc == ORSA_STATUS_NEEDS_REBOOT)
        return orsa_set_status(ORSA_STATUS_DONE_REBOOT_NOW), 0;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: factory reset answered %u\n", __func__, (unsigned)rc);
    return orsa_fail_with(ORSA_STATUS_FACTORY_RESET_FAILED);
}

/* ---- switch type ---- */

u32 ORSA_update_switch_type(HmNode *controller, OrsaPort at, u8 domain, u8 phba_port)
{
    if (controller == nullptr || at.instance == 0)
        return 1;
    u8 config[156] = {};
    u32 rc = ioctl_get_fw_config(at, config, domain, phba_port);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: firmware configuration read failed with %u\n", __func__,
               (unsigned)rc);
        return 0;
    }
    // Bit 17 of the function mode: the virtual-NIC function mode.
    if ((orsa_rd32(config + 12) & 0x20000u) == 0)
        return 0;
    u8 request[8] = {};
    rc = ioctl_set_switch_type(at, request, domain, phba_port);
    pdebug(ORSA_LOG_CAT_OTHER, rc == 0 ? ORSA_LOG_DEBUG : ORSA_LOG_ERROR, "%s: switch type reset answered %u\n",
           __func__, (unsigned)rc);
    return 0;
}

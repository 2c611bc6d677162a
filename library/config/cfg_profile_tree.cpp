/* The profile and link configuration groups of a controller, made from the
 * adapter's profile replies, and the staging of the configured profile's
 * functions in config_prof.txt. */
#include "config/cfg_profile_tree.h"

#include <strings.h>

#include <cstring>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "config/cfg_profile_model.h"
#include "iscsi/iscsi_persist.h"
#include "schema/builders.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

namespace {

/* The cached text of a property of group, without calling its handler (the
 * handlers of these groups are other code's); none when it is missing. */
const char *cached(HmNode *group, const char *name)
{
    HmNode *p = group != nullptr ? internal_get_node(group, name, HM_KIND_PROPERTY) : nullptr;
    return p != nullptr && p->body != nullptr ? HM_PROPERTY(p)->value : nullptr;
}

bool cached_is(HmNode *group, const char *name, const char *text)
{
    const char *v = cached(group, name);
    return v != nullptr && strcasecmp(v, text) == 0;
}

/* The generations that keep no profiles. */
bool keeps_no_profiles(HmNode *controller)
{
    u32 asic = get_ks_type(controller);
    return asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3 || asic == ORSA_ASIC_PIVARD;
}

struct Address {
    OrsaPort at;
    u8 domain;
    u8 phba_port;
};

/* Where the controller's profile commands go: its first physical HBA. */
bool controller_address(HmNode *controller, Address *out)
{
    HmNode *phba = orsa_first_phba(controller);
    out->at = orsa_controller_port(controller);
    if (phba == nullptr || out->at.instance == 0)
        return false;
    out->domain = (u8)get_domain_id(phba);
    out->phba_port = (u8)get_phba_port_number(phba);
    return true;
}

const char *function_protocol(u8 type)
{
    switch (type) {
    case ORSA_RES_NIC_FUNCTION:
        return "NIC";
    case ORSA_RES_ISCSI_FUNCTION:
        return "iSCSI";
    default:
        return "FCoE";
    }
}

u32 set_mac(HmNode *function, const u8 *mac)
{
    if (mac == nullptr)
        return 0;
    return set_prop_val(function, "MACAddress", "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2], mac[3],
                        mac[4], mac[5]);
}

/* The first Function of port whose Protocol is "NIC" and whose
 * FunctionNumber is pf: the function a RoCE record adds to. */
HmNode *nic_function_of(HmNode *port, u32 pf)
{
    char number[16];
    snprintf(number, sizeof number, "0x%x", pf);
    for (HmNode *f = get_first_instance(port, "Function"); f != nullptr; f = hm_next_instance(f))
        if (cached_is(f, "Protocol", "NIC") && cached_is(f, "FunctionNumber", number))
            return f;
    return nullptr;
}

/* The line of one configured function, written when its port is done. */
struct StagedLine {
    u32 pf;
    char protocol[12];
    char sriov[12];
};

/* Whether the staging content already holds a line of this adapter's function. */
bool staged_already(char *content, const char *serial, const char *bus, const char *function)
{
    char fields[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE];
    for (char *line = content; line != nullptr && *line != '\0';) {
        char *next = strchr(line, '\n');
        if (next != nullptr)
            *next = '\0';
        bool same = ORSA_compare_cprofile_data(line, serial, bus, function, fields, 1) == 0;
        if (next != nullptr)
            *next = '\n';
        if (same)
            return true;
        line = next != nullptr ? next + 1 : nullptr;
    }
    return false;
}

/* Appends the port's lines to the staging file, except functions that it
 * already holds a line of. */
void stage_lines(FILE *stage, const char *prefix, const char *serial, const char *bus, const StagedLine *lines,
                 u32 n)
{
    for (u32 i = 0; i < n; i++) {
        char number[16];
        snprintf(number, sizeof number, "0x%x", lines[i].pf);
        char *content = ORSA_get_file_data(stage, nullptr, nullptr);
        bool duplicate = content != nullptr && staged_already(content, serial, bus, number);
        orsa_dfree(content);
        if (duplicate) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:Duplicate entry found.\n", __func__);
            continue;
        }
        fseek(stage, 0, SEEK_END);
        if (fprintf(stage, "%s,%s,%s,%s\n", prefix, number, lines[i].protocol, lines[i].sriov) < 0)
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: writing the staging file failed\n", __func__);
    }
    fflush(stage);
}

}  // namespace

u32 ORSA_list_available_profiles(HmNode *controller)
{
    if (controller == nullptr || keeps_no_profiles(controller))
        return 1;
    HmNode *mgmt = internal_get_node(controller, "ProfileManagement", HM_KIND_GROUP);
    Address a;
    if (mgmt == nullptr || !controller_address(controller, &a)) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get ProfileManagement Node.\n", __func__);
        return 1;
    }
    auto *list = (ProfileList *)orsa_dzalloc(sizeof(ProfileList));
    if (list == nullptr)
        return orsa_fail_with(ORSA_STATUS_BUFFER_SPACE);
    if (ioctl_get_profile_list(a.at, list, sizeof *list, a.domain, a.phba_port) != 0) {
        orsa_dfree(list);
        return orsa_fail_with(ORSA_STATUS_PROFILE_LIST_FAILED);
    }
    u32 rc = 0;
    u32 n = orsa_profile_list_count(list);
    for (u32 i = 0; i < n; i++) {
        const profile_descriptor &d = list->descriptors[i];
        HmNode *profile = initialize_Profile(mgmt, nullptr, nullptr, nullptr);
        if (profile == nullptr) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize profile.\n", __func__);
            rc = 1;
            break;
        }
        set_prop_val(profile, "ProfileId", "%d", d.profile_id);
        set_prop_val(profile, "ProfileDescription", "%.*s", (int)sizeof d.profile_description_string,
                     d.profile_description_string);
        ORSA_get_profile_capacities(d.profile_id, profile, controller);
    }
    orsa_dfree(list);
    return rc;
}

u32 ORSA_get_profile_capacities(u32 profile_id, HmNode *profile_group, HmNode *controller)
{
    Address a;
    if (profile_group == nullptr || controller == nullptr || !controller_address(controller, &a))
        return 1;
    ProfileConfig *profile = ORSA_get_profile(controller, ORSA_CFG_LISTED, profile_id, 0);
    if (profile == nullptr)
        return 1;
    u32 nic = 0, iscsi = 0, fcoe = 0, roce = 0;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next(&walk)) {
        if (rec[0] != ORSA_RES_PORT)
            continue;
        const auto *port = (const port_desc *)rec;
        nic += orsa_res_count12(port->max_nic_pf_count);
        iscsi += orsa_res_count12(port->max_iscsi_pf_count);
        fcoe += orsa_res_count12(port->max_fcoe_pf_count);
        roce += orsa_res_count12(port->max_roce_pf_count);
    }
    orsa_dfree(profile);

    auto *cap = (ProfileCapacity *)orsa_dzalloc(sizeof(ProfileCapacity));
    if (cap == nullptr)
        return orsa_fail_with(ORSA_STATUS_BUFFER_SPACE);
    cap->profile_id = (u8)profile_id;
    if (ioctl_get_profile_cap(a.at, cap, sizeof *cap, a.domain, a.phba_port) != 0) {
        orsa_dfree(cap);
        return orsa_fail_with(ORSA_STATUS_PROFILE_CAP_FAILED);
    }
    u32 rc = 0;
    OrsaProfileWalk descs;
    orsa_profile_walk_begin_counted(&descs, (const u8 *)cap, sizeof *cap,
                                    cap->cap_desc_count < 1 ? 0u : (u32)cap->cap_desc_count);
    while (const u8 *d = orsa_profile_walk_next(&descs)) {
        const char *name = nullptr;
        u32 total = 0;
        switch (d[0]) {
        case ORSA_CAP_FUNCTIONS:
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: profile %u functions\n", __func__, profile_id);
            continue;
        case ORSA_CAP_NIC:
            name = "NIC", total = nic;
            break;
        case ORSA_CAP_ISCSI:
            name = "iSCSI", total = iscsi;
            break;
        case ORSA_CAP_FCOE:
            name = "FCoE", total = fcoe;
            break;
        case ORSA_CAP_ROCE:
            if (get_first_instance(profile_group, "Protocol") != nullptr) {
                for (HmNode *p = get_first_instance(profile_group, "Protocol"); p != nullptr; p = hm_next_instance(p))
                    if (cached_is(p, "ProtocolName", "NIC")) {
                        set_prop_val(p, "ProtocolName", "NIC+RoCE");
                        break;
                    }
                continue;
            }
            name = "RoCE", total = roce;
            break;
        default:
            continue;
        }
        HmNode *protocol = initialize_Profile_Protocol(profile_group, nullptr, nullptr, nullptr);
        if (protocol == nullptr) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize Protocol Node.\n", __func__);
            rc = 1;
            break;
        }
        set_prop_val(protocol, "ProtocolName", "%s", name);
        set_prop_val(protocol, "FunctionCount", "%u", total);
    }
    orsa_dfree(cap);
    return rc;
}

namespace {

/* The profile ids (active and next) and the active maximum PF id; 0, or 1
 * with status 277. */
u32 read_profile_ids(HmNode *controller, ActiveProfileIds *ids, u32 *max_pf_id)
{
    Address a;
    if (!controller_address(controller, &a))
        return 1;
    *ids = ActiveProfileIds{};
    if (ioctl_get_active_profile(a.at, ids, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_ACTIVE_PROFILE_FAILED);
    if (max_pf_id != nullptr) {
        AriSettings ari{};
        *max_pf_id = ioctl_get_ari_settings(a.at, &ari, a.domain, a.phba_port) == 0 ? ari.active_max_pf_id : 0u;
    }
    return 0;
}

HmNode *profile_group(HmNode *controller, const char *name)
{
    HmNode *mgmt = internal_get_node(controller, "ProfileManagement", HM_KIND_GROUP);
    if (mgmt == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get ProfileManagement Node.\n", __func__);
        return nullptr;
    }
    HmNode *group = internal_get_node(mgmt, name, HM_KIND_GROUP);
    if (group == nullptr)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get active profile Node.\n", __func__);
    return group;
}

}  // namespace

u32 ORSA_get_active_profiles(HmNode *controller)
{
    if (controller == nullptr || keeps_no_profiles(controller))
        return 1;
    HmNode *active = profile_group(controller, "ActiveProfile");
    ActiveProfileIds ids;
    u32 max_pf_id = 0;
    if (active == nullptr || read_profile_ids(controller, &ids, &max_pf_id) != 0)
        return 1;
    set_prop_val(active, "ProfileId", "%d", ids.active_profile_id);
    return ORSA_get_port_profile(controller, active, ids.active_profile_id, ORSA_CFG_ACTIVE, max_pf_id) != 0;
}

u32 ORSA_get_configured_profiles(HmNode *controller)
{
    if (controller == nullptr || keeps_no_profiles(controller))
        return 1;
    HmNode *configured = profile_group(controller, "ConfiguredProfile");
    ActiveProfileIds ids;
    if (configured == nullptr || read_profile_ids(controller, &ids, nullptr) != 0)
        return 1;
    set_prop_val(configured, "ProfileId", "%d", ids.next_profile_id);
    return ORSA_get_port_profile(controller, configured, ids.next_profile_id, ORSA_CFG_CONFIGURED, 0) != 0;
}

u32 ORSA_get_port_profile(HmNode *controller, HmNode *group, u32 profile_id, u32 config_type, u32 max_pf_id)
{
    if (controller == nullptr || group == nullptr)
        return 1;
    const bool configured = group->name != nullptr && strcasecmp(group->name, "ConfiguredProfile") == 0;
    char serial[256] = "", bus[256] = "";
    FILE *stage = nullptr;
    if (configured) {
        // The adapter's lines are made again from its configured profile;
        // other adapters' lines are carried over as they are.
        if (orsa_cprof_identity(controller, serial, bus) != 0)
            return 1;
        ORSA_delete_cfg_prof_from_file(serial, bus);
        stage = orsa_cprof_stage_open();
        if (stage == nullptr)
            return 1;
        if (FILE *old = fopen(ORSA_CONFIG_PROF_FILE, "r")) {
            char line[ORSA_CPROF_LINE_SIZE];
            while (fgets(line, sizeof line, old) != nullptr)
                fputs(line, stage);
            fclose(old);
        }
        fflush(stage);
    }
    ProfileConfig *profile = ORSA_get_profile(controller, config_type, profile_id, 0);
    if (profile == nullptr) {
        orsa_cprof_stage_close(stage, false);
        return 1;
    }
    u32 rc = 0;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next(&walk)) {
        if (rec[0] != ORSA_RES_PORT)
            continue;
        const auto *desc = (const port_desc *)rec;
        HmNode *port = configured ? initialize_ConfiguredProfile_Port(group, nullptr, nullptr, nullptr)
                                  : initialize_ActiveProfile_Port(group, nullptr, nullptr, nullptr);
        if (port == nullptr) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize port.\n", __func__);
            rc = 1;
            break;
        }
        if (const char *mc = orsa_mc_type_text(desc->mc_type))
            set_prop_val(port, "MCType", "%s", mc);
        u32 max_pf_count = 0;
        if (ORSA_update_max_pf_count(controller, group, port, &max_pf_count) != 0) {
            rc = 1;
            break;
        }
        u32 link = desc->link_number & 63u;
        if (!configured) {
            ORSA_enumerate_profile_port_function(controller, port, link, config_type, profile_id, max_pf_id,
                                                 max_pf_count);
            continue;
        }
        // The line carries the port's multichannel type as the port shows it.
        const char *mc = cached(port, "MCType");
        char prefix[4 * ORSA_CPROF_FIELD_SIZE + 4];
        snprintf(prefix, sizeof prefix, "%.34s,%.34s,%u,%.34s", serial, bus, profile_id, mc != nullptr ? mc : "None");
        ORSA_enum_cfg_profile_port_function(controller, port, link, config_type, profile_id, max_pf_count, prefix,
                                            stage);
    }
    orsa_dfree(profile);
    if (configured) {
        // A failed walk leaves config_prof.txt without this adapter's lines
        // rather than with half of them.
        u32 closed = orsa_cprof_stage_close(stage, rc == 0);
        rc |= closed;
    }
    return rc;
}

u32 ORSA_update_max_pf_count(HmNode *controller, HmNode *group, HmNode *port, u32 *max_pf_count)
{
    if (controller == nullptr || group == nullptr || port == nullptr || max_pf_count == nullptr)
        return 1;
    ProfileConfig *profile = ORSA_get_profile(controller, ORSA_CFG_CONFIGURED, 0, 1);
    if (profile == nullptr)
        return 1;
    const bool active = group->name != nullptr && strcasecmp(group->name, "ActiveProfile") == 0;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next(&walk)) {
        if (rec[0] != ORSA_RES_PORT)
            continue;
        const auto *desc = (const port_desc *)rec;
        *max_pf_count = orsa_res_count12(desc->max_pf_count);
        if (!active)
            continue;
        set_prop_val(port, "MaxStoragePFCount", "%u", orsa_res_count12(desc->max_storage_pf_count));
        set_prop_val(port, "MaxNICPFCount", "%u", orsa_res_count12(desc->max_nic_pf_count));
        set_prop_val(port, "MaxRoCEPFCount", "%u", orsa_res_count12(desc->max_roce_pf_count));
        set_prop_val(port, "MaxiSCSIPFCount", "%u", orsa_res_count12(desc->max_iscsi_pf_count));
        set_prop_val(port, "MaxFCoEPFCount", "%u", orsa_res_count12(desc->max_fcoe_pf_count));
    }
    orsa_dfree(profile);
    return 0;
}

u32 ORSA_enumerate_profile_port_function(HmNode *controller, HmNode *port, u32 link_number, u32 config_type,
                                         u32 profile_id, u32 max_pf_id, u32 max_pf_count)
{
    if (controller == nullptr || port == nullptr)
        return 1;
    ProfileConfig *profile = ORSA_get_profile(controller, config_type, profile_id, 0);
    if (profile == nullptr)
        return 1;
    if (profile->resource_desc_count == 0 || max_pf_count < 1) {
        if (max_pf_count < 1)
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:function count > max_pf_count.\n", __func__);
        orsa_dfree(profile);
        return 0;
    }
    u32 rc = 0, made = 0;
    u8 pf_state = 0;
    i32 fn_port = -1;
    const u8 *mac = nullptr;  // of the latest function made into a group
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next(&walk)) {
        u32 pf = orsa_res_pf(rec);
        if (max_pf_id != 0 && pf > max_pf_id)
            break;
        const bool enabled = pf_state == 1;
        switch (rec[0]) {
        case ORSA_RES_PCIE_FUNCTION:
            pf_state = ((const pcie_function_desc *)rec)->pf_state;
            break;
        case ORSA_RES_NIC_FUNCTION:
        case ORSA_RES_ISCSI_FUNCTION:
        case ORSA_RES_FCOE_FUNCTION: {
            fn_port = orsa_res_port(rec);
            if ((u32)fn_port != link_number || orsa_res_hidden(rec))
                break;
            HmNode *f = initialize_ActiveProfile_Port_Function(port, nullptr, nullptr, nullptr);
            if (f == nullptr) {
                rc = 1;
                break;
            }
            set_prop_val(f, "Protocol", "%s", enabled ? function_protocol(rec[0]) : "None");
            set_prop_val(f, "FunctionNumber", "0x%x", pf);
            mac = orsa_res_mac(rec);
            set_mac(f, mac);
            made++;
            break;
        }
        case ORSA_RES_ROCE_FUNCTION: {
            if (fn_port < 0 || (u32)fn_port != link_number || orsa_res_hidden(rec))
                break;
            if (get_first_instance(port, "Function") == nullptr) {
                HmNode *f = initialize_ActiveProfile_Port_Function(port, nullptr, nullptr, nullptr);
                if (f == nullptr) {
                    rc = 1;
                    break;
                }
                set_prop_val(f, "Protocol", "%s", enabled ? "RoCE" : "None");
                set_prop_val(f, "FunctionNumber", "0x%x", pf);
                set_mac(f, mac);  // none before any function: the default stays
                made++;
            } else if (HmNode *f = nic_function_of(port, pf)) {
                set_prop_val(f, "Protocol", "%s", enabled ? "NIC+RoCE" : "None");
            }
            break;
        }
        default:
            break;
        }
        if (rc != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize Port Function.\n", __func__);
            break;
        }
        if (made >= max_pf_count) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:function count > max_pf_count.\n", __func__);
            break;
        }
    }
    orsa_dfree(profile);
    return rc;
}

u32 ORSA_enum_cfg_profile_port_function(HmNode *controller, HmNode *port, u32 link_number, u32 config_type,
                                        u32 profile_id, u32 max_pf_count, const char *prefix, FILE *stage)
{
    if (controller == nullptr || port == nullptr || stage == nullptr || prefix == nullptr)
        return 1;
    char serial[256], bus[256];
    if (orsa_cprof_identity(controller, serial, bus) != 0)
        return 1;
    ProfileConfig *profile = ORSA_get_profile(controller, config_type, profile_id, 0);
    if (profile == nullptr)
        return 1;
    if (profile->resource_desc_count == 0 || max_pf_count < 1) {
        orsa_dfree(profile);
        return 0;
    }
    // One line per function: a RoCE record turns its NIC function's line
    // into "NIC+RoCE" before the port's lines are written.
    StagedLine lines[64];
    u32 nlines = 0, rc = 0, made = 0;
    u8 pf_state = 0;
    const char *sriov = "N/A";
    i32 fn_port = -1;
    const u8 *mac = nullptr;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next(&walk)) {
        u32 pf = orsa_res_pf(rec);
        HmNode *f = nullptr;
        switch (rec[0]) {
        case ORSA_RES_PCIE_FUNCTION: {
            const auto *fn = (const pcie_function_desc *)rec;
            pf_state = fn->pf_state;
            sriov = (fn->change_flags & 0x10u) == 0 ? "N/A"
                    : fn->sriov_state == 0          ? "Disabled"
                    : fn->sriov_state == 1          ? "Enabled"
                                                    : "N/A";
            break;
        }
        case ORSA_RES_NIC_FUNCTION:
        case ORSA_RES_ISCSI_FUNCTION:
        case ORSA_RES_FCOE_FUNCTION:
            fn_port = orsa_res_port(rec);
            if ((u32)fn_port != link_number || orsa_res_hidden(rec))
                break;
            f = initialize_ConfiguredProfile_Port_Function(port, nullptr, nullptr, nullptr);
            if (f == nullptr) {
                rc = 1;
                break;
            }
            set_prop_val(f, "Protocol", "%s", function_protocol(rec[0]));
            mac = orsa_res_mac(rec);
            if (nlines < sizeof lines / sizeof lines[0]) {
                StagedLine &l = lines[nlines++];
                l.pf = pf;
                snprintf(l.protocol, sizeof l.protocol, "%s", function_protocol(rec[0]));
                snprintf(l.sriov, sizeof l.sriov, "%s", sriov);
            }
            break;
        case ORSA_RES_ROCE_FUNCTION:
            if (fn_port < 0 || (u32)fn_port != link_number || orsa_res_hidden(rec))
                break;
            if (get_first_instance(port, "Function") == nullptr) {
                f = initialize_ConfiguredProfile_Port_Function(port, nullptr, nullptr, nullptr);
                if (f == nullptr) {
                    rc = 1;
                    break;
                }
                set_prop_val(f, "Protocol", "RoCE");
            } else if (HmNode *nic = nic_function_of(port, pf)) {
                set_prop_val(nic, "Protocol", "NIC+RoCE");
                for (u32 i = 0; i < nlines; i++)
                    if (lines[i].pf == pf && strcmp(lines[i].protocol, "NIC") == 0)
                        snprintf(lines[i].protocol, sizeof lines[i].protocol, "NIC+RoCE");
            }
            break;
        default:
            break;
        }
        if (rc != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize Port Function.\n", __func__);
            break;
        }
        if (f != nullptr) {
            set_prop_val(f, "FunctionNumber", "0x%x", pf);
            set_mac(f, mac);
            set_prop_val(f, "SRIOVState", "%s", sriov);
            set_prop_val(f, "State", "%s", pf_state == 1 ? "Enabled" : "Disabled");
            made++;
        }
        if (made >= max_pf_count) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:function count > max_pf_count.\n", __func__);
            break;
        }
    }
    orsa_dfree(profile);
    stage_lines(stage, prefix, serial, bus, lines, nlines);
    return rc;
}

u32 ORSA_get_link_reconfig_details(HmNode *controller, u32 ids_only)
{
    HmNode *links = controller != nullptr ? internal_get_node(controller, "LinkReconfiguration", HM_KIND_GROUP)
                                          : nullptr;
    if (links == nullptr)
        return 1;
    if (keeps_no_profiles(controller)) {
        set_prop_val(links, "ActiveLinkConfigID", "N/A");
        return 1;
    }
    Address a;
    if (!controller_address(controller, &a))
        return 1;
    auto *info = (LinkReconfigInfo *)orsa_dzalloc(sizeof(LinkReconfigInfo));
    if (info == nullptr)
        return orsa_fail_with(ORSA_STATUS_BUFFER_SPACE);
    if (ioctl_get_link_reconfig(a.at, info, sizeof *info, a.domain, a.phba_port) != 0) {
        orsa_dfree(info);
        return orsa_fail_with(ORSA_STATUS_LINK_RECONFIG_FAILED);
    }
    struct {
        const char *name;
        u8 id;
    } ids[] = {{"ActiveLinkConfigID", info->active_link_config_id},
               {"ConfiguredLinkConfigID", info->next_link_config_id}};
    for (const auto &id : ids) {
        if (id.id == 0)
            set_prop_val(links, id.name, "N/A");
        else
            set_prop_val(links, id.name, "%d", id.id);
    }
    u32 rc = 0;
    u32 n = ids_only == 1 ? 0 : orsa_link_config_count(info);
    for (u32 i = 0; i < n; i++) {
        const link_config_desc &d = info->descriptors[i];
        HmNode *g = initialize_LinkConfig(links, nullptr, nullptr, nullptr);
        if (g == nullptr) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize link_config.\n", __func__);
            rc = 1;
            break;
        }
        set_prop_val(g, "LinkConfigID", "%d", d.link_config_id);
        set_prop_val(g, "LinkConfigDescription", "%.*s", (int)sizeof d.link_config_desc_string,
                     d.link_config_desc_string);
    }
    orsa_dfree(info);
    return rc;
}

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

using PayloadCommand = u32 (*)(OrsaPort, void *, u32, u8, u8);

/* A zeroed payload of size bytes, byte 0 set to first, sent with cmd and
 * holding its reply (free with orsa_dfree); none with status 31 when there
 * is no memory, with failed_status when the command fails. */
void *read_payload(const Address &a, PayloadCommand cmd, u32 size, u8 first, u32 failed_status)
{
    auto *payload = (u8 *)orsa_dzalloc(size);
    if (payload == nullptr) {
        orsa_set_status(ORSA_STATUS_BUFFER_SPACE);
        return nullptr;
    }
    payload[0] = first;
    if (cmd(a.at, payload, size, a.domain, a.phba_port) != 0) {
        orsa_dfree(payload);
        orsa_set_status(failed_status);
        return nullptr;
    }
    return payload;
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

using GroupBuilder = HmNode *(*)(HmNode *, HmNode *, HmNode *, HmValueSlot *);

/* A new keyless group below parent; none, logged for caller, when it cannot
 * be made (a full parent or no memory). */
HmNode *make_group(GroupBuilder build, HmNode *parent, const char *what, const char *caller)
{
    HmNode *g = build(parent, nullptr, nullptr, nullptr);
    if (g == nullptr)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize %s.\n", caller, what);
    return g;
}

/* A new group that names one firmware descriptor: its id and its
 * description text (which need not end within its field). */
HmNode *make_described_group(GroupBuilder build, HmNode *parent, const char *what, const char *caller,
                             const char *id_name, u32 id, const char *text_name, const char *text, size_t text_size)
{
    HmNode *g = make_group(build, parent, what, caller);
    if (g != nullptr) {
        set_prop_val(g, id_name, "%u", id);
        set_prop_val(g, text_name, "%.*s", (int)text_size, text);
    }
    return g;
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
    auto *list = (ProfileList *)read_payload(a, ioctl_get_profile_list, sizeof(ProfileList), 0,
                                             ORSA_STATUS_PROFILE_LIST_FAILED);
    if (list == nullptr)
        return 1;
    u32 rc = 0;
    u32 n = orsa_profile_list_count(list);
    for (u32 i = 0; i < n; i++) {
        const profile_descriptor &d = list->descriptors[i];
        HmNode *profile = make_described_group(initialize_Profile, mgmt, "profile", __func__, "ProfileId",
                                               d.profile_id, "ProfileDescription", d.profile_description_string,
                                               sizeof d.profile_description_string);
        if (profile == nullptr) {
            rc = 1;
            break;
        }
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
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, ORSA_RES_PORT)) {
        const auto *port = (const port_desc *)rec;
        nic += orsa_res_count12(port->max_nic_pf_count);
        iscsi += orsa_res_count12(port->max_iscsi_pf_count);
        fcoe += orsa_res_count12(port->max_fcoe_pf_count);
        roce += orsa_res_count12(port->max_roce_pf_count);
    }
    orsa_dfree(profile);

    auto *cap = (ProfileCapacity *)read_payload(a, ioctl_get_profile_cap, sizeof(ProfileCapacity), (u8)profile_id,
                                                ORSA_STATUS_PROFILE_CAP_FAILED);
    if (cap == nullptr)
        return 1;
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
        HmNode *protocol = make_group(initialize_Profile_Protocol, profile_group, "Protocol Node", __func__);
        if (protocol == nullptr) {
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

namespace {

/* ActiveProfile or ConfiguredProfile: its ProfileId and its ports. */
u32 fill_profile_group(HmNode *controller, bool configured)
{
    if (controller == nullptr || keeps_no_profiles(controller))
        return 1;
    HmNode *group = profile_group(controller, configured ? "ConfiguredProfile" : "ActiveProfile");
    ActiveProfileIds ids;
    u32 max_pf_id = 0;
    if (group == nullptr || read_profile_ids(controller, &ids, configured ? nullptr : &max_pf_id) != 0)
        return 1;
    u16 id = configured ? ids.next_profile_id : ids.active_profile_id;
    set_prop_val(group, "ProfileId", "%d", id);
    return ORSA_get_port_profile(controller, group, id, configured ? ORSA_CFG_CONFIGURED : ORSA_CFG_ACTIVE,
                                 max_pf_id) != 0;
}

}  // namespace

u32 ORSA_get_active_profiles(HmNode *controller)
{
    return fill_profile_group(controller, false);
}

u32 ORSA_get_configured_profiles(HmNode *controller)
{
    return fill_profile_group(controller, true);
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
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, ORSA_RES_PORT)) {
        const auto *desc = (const port_desc *)rec;
        HmNode *port = make_group(configured ? initialize_ConfiguredProfile_Port : initialize_ActiveProfile_Port,
                                  group, "port", __func__);
        if (port == nullptr) {
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
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, ORSA_RES_PORT)) {
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

namespace {

/* One port's walk over the functions of a profile, active or configured. */
struct FunctionWalk {
    bool configured;
    HmNode *port;
    u32 link_number;
    u32 max_pf_id;     /* active: records of a higher pf end the walk (0: none) */
    u32 max_pf_count;  /* function groups the port takes */
    StagedLine *lines; /* configured: one per function made */
    u32 nlines;
};

/* Makes the port's Function groups from the profile's records. An active
 * function whose PCI function is not enabled shows Protocol "None"; a
 * configured one keeps its protocol and shows State "Disabled". 0, or 1 when
 * a group cannot be made. */
u32 walk_functions(const ProfileConfig *profile, FunctionWalk &w)
{
    u32 made = 0;
    u8 pf_state = 0;
    const char *sriov = "N/A";
    i32 fn_port = -1;
    const u8 *mac = nullptr;  // of the latest function made into a group
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next(&walk)) {
        u32 pf = orsa_res_pf(rec);
        if (!w.configured && w.max_pf_id != 0 && pf > w.max_pf_id)
            break;
        const bool enabled = pf_state == 1;
        const char *protocol = nullptr;  // of a new Function group
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
            if ((u32)fn_port != w.link_number || orsa_res_hidden(rec))
                break;
            protocol = w.configured || enabled ? function_protocol(rec[0]) : "None";
            mac = orsa_res_mac(rec);
            if (w.configured && w.nlines < 64) {
                StagedLine &l = w.lines[w.nlines++];
                l.pf = pf;
                snprintf(l.protocol, sizeof l.protocol, "%s", protocol);
                snprintf(l.sriov, sizeof l.sriov, "%s", sriov);
            }
            break;
        case ORSA_RES_ROCE_FUNCTION:
            if (fn_port < 0 || (u32)fn_port != w.link_number || orsa_res_hidden(rec))
                break;
            if (get_first_instance(w.port, "Function") == nullptr) {
                protocol = w.configured || enabled ? "RoCE" : "None";
                break;
            }
            if (HmNode *nic = nic_function_of(w.port, pf)) {
                set_prop_val(nic, "Protocol", "%s", w.configured || enabled ? "NIC+RoCE" : "None");
                for (u32 i = 0; i < w.nlines; i++)
                    if (w.lines[i].pf == pf && strcmp(w.lines[i].protocol, "NIC") == 0)
                        snprintf(w.lines[i].protocol, sizeof w.lines[i].protocol, "NIC+RoCE");
            }
            break;
        default:
            break;
        }
        if (protocol != nullptr) {
            HmNode *f = make_group(w.configured ? initialize_ConfiguredProfile_Port_Function
                                                : initialize_ActiveProfile_Port_Function,
                                   w.port, "Port Function", __func__);
            if (f == nullptr)
                return 1;
            set_prop_val(f, "Protocol", "%s", protocol);
            set_prop_val(f, "FunctionNumber", "0x%x", pf);
            set_mac(f, mac);  // a RoCE function before any other: the default stays
            if (w.configured) {
                set_prop_val(f, "SRIOVState", "%s", sriov);
                set_prop_val(f, "State", "%s", enabled ? "Enabled" : "Disabled");
            }
            made++;
        }
        if (made >= w.max_pf_count) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:function count > max_pf_count.\n", __func__);
            break;
        }
    }
    return 0;
}

/* The profile the walk goes over; none (1) or a profile without records or
 * a port without room for functions (0, nothing to do). */
ProfileConfig *profile_to_walk(HmNode *controller, u32 config_type, u32 profile_id, u32 max_pf_count, u32 *rc)
{
    ProfileConfig *profile = ORSA_get_profile(controller, config_type, profile_id, 0);
    *rc = profile == nullptr;
    if (profile != nullptr && (profile->resource_desc_count == 0 || max_pf_count < 1)) {
        if (max_pf_count < 1)
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:function count > max_pf_count.\n", __func__);
        orsa_dfree(profile);
        profile = nullptr;
    }
    return profile;
}

}  // namespace

u32 ORSA_enumerate_profile_port_function(HmNode *controller, HmNode *port, u32 link_number, u32 config_type,
                                         u32 profile_id, u32 max_pf_id, u32 max_pf_count)
{
    if (controller == nullptr || port == nullptr)
        return 1;
    u32 rc = 0;
    ProfileConfig *profile = profile_to_walk(controller, config_type, profile_id, max_pf_count, &rc);
    if (profile == nullptr)
        return rc;
    FunctionWalk w{false, port, link_number, max_pf_id, max_pf_count, nullptr, 0};
    rc = walk_functions(profile, w);
    orsa_dfree(profile);
    return rc;
}

u32 ORSA_enum_cfg_profile_port_function(HmNode *controller, HmNode *port, u32 link_number, u32 config_type,
                                        u32 profile_id, u32 max_pf_count, const char *prefix, FILE *stage)
{
    char serial[256], bus[256];
    if (controller == nullptr || port == nullptr || stage == nullptr || prefix == nullptr ||
        orsa_cprof_identity(controller, serial, bus) != 0)
        return 1;
    u32 rc = 0;
    ProfileConfig *profile = profile_to_walk(controller, config_type, profile_id, max_pf_count, &rc);
    if (profile == nullptr)
        return rc;
    // One line per function: a RoCE record turns its NIC function's line
    // into "NIC+RoCE" before the port's lines are written.
    StagedLine lines[64];
    FunctionWalk w{true, port, link_number, 0, max_pf_count, lines, 0};
    rc = walk_functions(profile, w);
    orsa_dfree(profile);
    stage_lines(stage, prefix, serial, bus, lines, w.nlines);
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
    auto *info = (LinkReconfigInfo *)read_payload(a, ioctl_get_link_reconfig, sizeof(LinkReconfigInfo), 0,
                                                  ORSA_STATUS_LINK_RECONFIG_FAILED);
    if (info == nullptr)
        return 1;
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
        if (make_described_group(initialize_LinkConfig, links, "link_config", __func__, "LinkConfigID",
                                 d.link_config_id, "LinkConfigDescription", d.link_config_desc_string,
                                 sizeof d.link_config_desc_string) == nullptr) {
            rc = 1;
            break;
        }
    }
    orsa_dfree(info);
    return rc;
}

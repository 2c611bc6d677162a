// Login and logout of target portals, the persistent-target entries that make
// the adapter log in again after a restart, the clean-up of ended sessions
// and the start-up re-login (iscsi_targets.h).
#include <cerrno>
#include <cstdlib>

#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_addr.h"
#include "iscsi/iscsi_persist.h"
#include "iscsi/iscsi_targets.h"
#include "iscsi/iscsi_util.h"

using namespace iscsi;

uint32_t orsa_login_attempts = 0;

namespace {

// The discovery logins' qualifiers: one process-wide counter.
uint16_t discovery_isid = 0;

const char kAuthText[] =
    "Authentication failure. Please make sure your initiator is properly enabled for authentication at the target.";
const char kCrcText[] = "Failed to login due to mismatch in CRC Configuration.";

// The TargetPortal group of an instance number.
HmNode *portal_instance(HmNode *target, uint32_t instance)
{
    for (HmNode *p = get_first_instance(target, "TargetPortal"); p != nullptr; p = hm_next_instance(p))
        if (hm_instance_number(p) == (int32_t)instance)
            return p;
    return nullptr;
}

HmNode *instance_of(HmNode *parent, const char *kind, int32_t number)
{
    for (HmNode *g = get_first_instance(parent, kind); g != nullptr; g = hm_next_instance(g))
        if (hm_instance_number(g) == number)
            return g;
    return nullptr;
}

// Parses a qualifier text with base 0; false for trailing characters.
bool parse_qualifier(const char *text, uint32_t *out)
{
    char *end = nullptr;
    errno = 0;
    unsigned long v = strtoul(text, &end, 0);
    if (end == text || *end != '\0')
        return false;
    *out = (uint32_t)(v & 0xFFFF);
    return true;
}

// The first connection's destination of a session; false when it has none.
bool destination_of(HmNode *session, char ip[HM_VALUE_SIZE], char port[HM_VALUE_SIZE])
{
    HmNode *c = get_first_instance(session, "Connection");
    return c != nullptr && read_prop(c, "DestinationIPAddress", ip) && read_prop(c, "DestinationPortNumber", port);
}

// The choices of a level text: the order of attempts with it on (1) and off
// (0). false for an unknown text.
bool chap_choices(const char *param, uint32_t choices[2], uint32_t *n)
{
    if (strcasecmp(param, "Preferred") == 0) {
        choices[0] = 1, choices[1] = 0, *n = 2;
    } else if (strcasecmp(param, "Discouraged") == 0) {
        choices[0] = 0, choices[1] = 1, *n = 2;
    } else if (strcasecmp(param, "Prohibited") == 0) {
        choices[0] = 0, *n = 1;
    } else if (strcasecmp(param, "Required") == 0) {
        choices[0] = 1, *n = 1;
    } else {
        return false;
    }
    return true;
}

void digest_choices(const char *param, uint32_t choices[2], uint32_t *n)
{
    if (strcasecmp(param, "Preferred") == 0)
        choices[0] = 1, choices[1] = 0, *n = 2;
    else
        choices[0] = 0, *n = 1;
}

// The options group's owner: a Target, or (discovery) a SendTargetPortal.
HmNode *owner_of(HmNode *options)
{
    return options != nullptr ? options->parent : nullptr;
}

} // namespace

// ---- persistent targets ----

uint32_t make_session_persistent(HmNode *target, const char *ip, const char *port, uint16_t qualifier,
                                 const login_option_block *block, const char *boot, const char *initiator, uint32_t eto)
{
    if (target == nullptr || target->parent == nullptr)
        return 1;
    HmNode *lhba = target->parent;
    target_params record = {};
    if (block != nullptr) {
        memcpy(&record.options, block, sizeof record.options);
    } else {
        memcpy(&record.options, get_default_login_options(), sizeof record.options);
        if (get_login_options(internal_get_node(target, "TargetLoginOptions", HM_KIND_GROUP), &record.options, 2) != 0)
            return 1;
    }
    if (ORSA_update_target_params(&record, lhba, target, qualifier, ip, port, boot, initiator, eto) != 0)
        return 1;
    Where w = where_of(target);
    uint32_t rc = ioctl_add_persistent_target(at(w.port), &record, w.domain, w.phba);
    if (rc == 25) {
        orsa_set_last_status(25, kAuthText);
        return 1;
    }
    if (rc == 243) {
        orsa_set_last_status(243, kCrcText);
        return 1;
    }
    if (rc != 0) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: ioctl_add_persistent_target failed with %u\n", __func__, (unsigned)rc);
        return rc;
    }
    return ORSA_update_tgt_entry(lhba, target, ip, port, qualifier, "True");
}

uint32_t delete_persistent(uint32_t port, uint32_t domain, uint8_t phba, HmNode *target, const char *target_name,
                           const char *ip, const char *port_text, uint16_t qualifier, const char *initiator,
                           uint32_t keep_file)
{
    if (domain == 0) {
        delete_persistent_record record;
        if (orsa_fill_delete_record(&record, target_name, ip, port_text, qualifier, initiator) != 0)
            return 1;
        uint32_t rc = ioctl_del_persistent_target(at(port), &record, 0, phba);
        if (rc != 0) {
            orsa_set_status(127);
            return rc;
        }
    }
    if (keep_file != 1 && target != nullptr)
        ORSA_remove_entry_from_file(target->parent, target_name, ip, port_text, qualifier, ORSA_ENTRY_TARGET);
    return 0;
}

// ---- the qualifier ----

uint32_t ORSA_get_isid(HmNode *target, const char *qualifier, const char *target_name, const char *initiator,
                       const char *ip, const char *port, uint32_t *reused, uint32_t *out, HmNode **session)
{
    if (target == nullptr || ip == nullptr || port == nullptr || target_name == nullptr || initiator == nullptr ||
        reused == nullptr || out == nullptr)
        return 1;
    *reused = 0;
    if (session != nullptr)
        *session = nullptr;
    if (get_first_instance(target, "Session") == nullptr) {
        ISCSI_LOG(ORSA_LOG_DEBUG, "There are no sessions. So generating ISID.\n");
        *out = generate_isid_qualifier();
        return 0;
    }
    if (given(qualifier)) {
        uint32_t value = 0;
        if (!parse_qualifier(qualifier, &value)) {
            orsa_set_last_status(ORSA_STATUS_BAD_ISID,
                                 "ISIDQualifier: Value out of range. Valid range is from 0 to 65535");
            return 1;
        }
        for (HmNode *s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s)) {
            char status[HM_VALUE_SIZE], dip[HM_VALUE_SIZE], dport[HM_VALUE_SIZE], q[HM_VALUE_SIZE];
            if (!read_prop(s, "SessionStatus", status) || !ended(status) || !destination_of(s, dip, dport) ||
                !read_prop(s, "ISIDQualifier", q))
                continue;
            if (strcasecmp(dip, ip) == 0 && strcasecmp(dport, port) == 0 &&
                (strtoul(q, nullptr, 16) & 0xFFFF) == value) {
                *reused = 1;
                *out = value;
                if (session != nullptr)
                    *session = s;
                return 0;
            }
        }
        if (check_for_isid_existence(value) != 0) {
            orsa_set_status(ORSA_STATUS_ISID_IN_USE);
            return 1;
        }
        *out = value;
        return 0;
    }
    for (HmNode *s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s)) {
        char status[HM_VALUE_SIZE], dip[HM_VALUE_SIZE], dport[HM_VALUE_SIZE], q[HM_VALUE_SIZE];
        if (!read_prop(s, "SessionStatus", status) || !ended(status) || !destination_of(s, dip, dport))
            continue;
        if (strcasecmp(dip, ip) == 0 && strcasecmp(dport, port) == 0 && read_prop(s, "ISIDQualifier", q)) {
            *reused = 1;
            *out = (uint32_t)strtoul(q, nullptr, 16) & 0xFFFF;
            if (session != nullptr)
                *session = s;
            return 0;
        }
    }
    *out = generate_isid_qualifier();
    return 0;
}

// ---- the login engine ----

uint32_t ORSA_esx_login(HmNode *action, HmNode *options, target_params *record, HmValueSlot *params,
                        const char *initiator, uint32_t reused, uint32_t mode)
{
    HmNode *owner = owner_of(options);
    if (action == nullptr || options == nullptr || record == nullptr || owner == nullptr || params == nullptr)
        return 1;
    if (mode != 0 && mode != 1)
        return 1;
    // A discovery login's options belong to a send-target portal: the port
    // is its logical HBA's either way.
    HmNode *lhba = group_of(owner, "LogicalHBA");
    if (lhba == nullptr || (mode == 1 && (owner->name == nullptr || strcmp(owner->name, "Target") != 0)))
        return 1;
    Where w = where_of(lhba);
    uint8_t fixed[528];
    memcpy(fixed, record, sizeof fixed);

    char chap[HM_VALUE_SIZE], header[HM_VALUE_SIZE], data[HM_VALUE_SIZE];
    if (!read_prop(internal_get_node(options, "Authentication", HM_KIND_GROUP), "CHAPParam", chap) ||
        !read_prop(options, "DataParam", data) || !read_prop(options, "HeaderParam", header))
        return 1;
    uint32_t chaps[2], heads[2], datas[2], nc = 0, nh = 0, nd = 0;
    if (!chap_choices(chap, chaps, &nc))
        return 1;
    digest_choices(header, heads, &nh);
    digest_choices(data, datas, &nd);

    char target_name[HM_VALUE_SIZE] = "";
    if (mode == 1 && !read_prop(owner, "TargetISCSIName", target_name))
        return 1;
    const bool chap_may_differ = strcasecmp(chap, "Discouraged") == 0 || strcasecmp(chap, "Preferred") == 0;
    uint16_t qualifier = record->isid_qualifier;
    bool entry_made = false; // the persistent entry of this qualifier is in place
    const uint32_t last = nc * nh * nd - 1;
    uint32_t attempt = 0;
    for (uint32_t ci = 0; ci < nc; ci++) {
        for (uint32_t hi = 0; hi < nh; hi++) {
            for (uint32_t di = 0; di < nd; di++, attempt++) {
                if (attempt > 0) {
                    memcpy(record, fixed, sizeof fixed);
                    record->isid_qualifier = qualifier;
                }
                login_option_block *block = &record->options;
                memcpy(block, get_default_login_options(), sizeof *block);
                if (update_chap_details(options, block, chaps[ci]) != 0)
                    return 1;
                if (update_header_digest_details(options, block, heads[hi]) != 0 ||
                    update_data_digest_details(options, block, datas[di]) != 0)
                    return 1;
                const login_option_block tried = *block;
                orsa_login_attempts = (orsa_login_attempts << 3) | (chaps[ci] | heads[hi] << 1 | datas[di] << 2);
                if (mode == 0) {
                    record->login_flags |= ORSA_LOGIN_FLAG_DISCOVERY;
                    record->isid_qualifier = discovery_isid++;
                    uint32_t rc = ioctl_login_target(at(w.port), record, w.domain, w.phba);
                    if (rc == 0)
                        return 0;
                    if (rc != 25 && rc != 243)
                        return rc;
                    if (attempt == last) {
                        orsa_set_last_status(rc, rc == 25 ? kAuthText : kCrcText);
                        return 1;
                    }
                    continue;
                }
                if (!reused && !entry_made) {
                    uint32_t rc =
                        make_session_persistent(owner, params[0], params[1], qualifier, block, params[4], initiator, 0);
                    if (rc != 0)
                        return rc;
                }
                entry_made = false;
                uint32_t rc = ioctl_login_target(at(w.port), record, w.domain, w.phba);
                ISCSI_LOG(ORSA_LOG_DEBUG, "%s:status of ioctl_login_target = %d\n", __func__, (int)rc);
                if (rc == 0)
                    return 0;
                // The attempt's persistent entry goes once: a second delete
                // of the same entry could only fail and leave 127 behind.
                bool deleted = false;
                if (rc == 32 || rc == 144) {
                    ISCSI_LOG(ORSA_LOG_ERROR, "%s:Login failed for invalid Target..\n", __func__);
                } else if (chap_may_differ) {
                    delete_persistent(w.port, w.domain, w.phba, owner, target_name, params[0], params[1], qualifier,
                                      initiator, 0);
                    deleted = true;
                }
                if (!reused && !deleted)
                    delete_persistent(w.port, w.domain, w.phba, owner, target_name, params[0], params[1], qualifier,
                                      initiator, 0);
                if (rc != 25 && rc != 243) {
                    orsa_set_status(237);
                    return 1;
                }
                if (attempt == last) {
                    orsa_set_last_status(rc, rc == 25 ? kAuthText : kCrcText);
                    return rc;
                }
                qualifier = (uint16_t)generate_isid_qualifier();
                ISCSI_LOG(ORSA_LOG_DEBUG, "%s:isid = %d\n", __func__, (int)qualifier);
                char eto[HM_VALUE_SIZE] = "";
                read_prop(owner, "ETO", eto);
                // The entry for the next attempt is made here, with the
                // options just tried; the next attempt does not add it again.
                uint32_t prc = make_session_persistent(owner, params[0], params[1], qualifier, &tried, params[4],
                                                       initiator, (uint32_t)strtoul(eto, nullptr, 10));
                if (prc != 0)
                    return prc;
                entry_made = !reused;
            }
        }
    }
    return 1;
}

// ---- the Login action ----

uint32_t do_Login(HmNode *target, HmNode *action, HmValueSlot *params)
{
    if (target == nullptr || params == nullptr || target->parent == nullptr)
        return 1;
    HmNode *node = action != nullptr ? action : target;
    Where w = where_of(node);
    HmNode *controller = nullptr;
    uint32_t asic = asic_of(node, &controller);
    if (controller == nullptr)
        return 1;
    HmNode *lhba = target->parent;

    if (count_instances(target, "Session") >= 64)
        return orsa_fail_with(118);
    if (count_instances(target, "TargetPortal") == 0)
        return orsa_fail_with(29);
    HmNode *portal = nullptr;
    if (given(params[0]) || given(params[1])) {
        uint32_t instance = 0;
        if (validate_target_portal(target, &instance, params[0], params[1]) != 0)
            return orsa_fail_with(29);
        portal = portal_instance(target, instance);
    } else {
        portal = portal_instance(target, 0);
    }
    char tag[HM_VALUE_SIZE];
    if (portal == nullptr || !read_prop(portal, "TargetIPAddress", params[0]) ||
        !read_prop(portal, "TargetPortNumber", params[1]) || !read_prop(portal, "PortalGroupTag", tag))
        return orsa_fail_with(29);

    target_params record = {};
    HmNode *names = internal_get_node(lhba, "InitiatoriSCSIName", HM_KIND_GROUP);
    if (names == nullptr)
        return 1;
    HmNode *same_portal = find_session(target, params[0], params[1]);
    char boot_of_found[HM_VALUE_SIZE] = "";
    if (same_portal != nullptr)
        read_prop(same_portal, "iSCSIBoot", boot_of_found);

    char initiator[HM_VALUE_SIZE] = "";
    if (given(params[2]))
        orsa_strlcpy(initiator, params[2], sizeof initiator);
    else if (same_portal != nullptr && read_prop(same_portal, "SessionInitiatorName", initiator) && initiator[0])
        ;
    else if (!read_prop(names, "InitiatoriSCSIName", initiator))
        return 1;
    orsa_strlcpy(params[2], initiator, HM_VALUE_SIZE);
    orsa_strlcpy(record.initiator_name, initiator, sizeof record.initiator_name);
    char alias[HM_VALUE_SIZE], name[HM_VALUE_SIZE];
    if (!read_prop(names, "InitiatorAlias", alias) || !read_prop(target, "TargetISCSIName", name))
        return 1;
    orsa_strlcpy(record.initiator_alias, alias, sizeof record.initiator_alias);
    orsa_strlcpy(record.target_name, name, sizeof record.target_name);

    uint32_t reused = 0, qualifier = 0;
    HmNode *reused_session = nullptr;
    if (ORSA_get_isid(target, params[3], name, initiator, params[0], params[1], &reused, &qualifier, &reused_session) !=
        0)
        return 1;
    record.isid_qualifier = (uint16_t)qualifier;
    record.tag = ORSA_TARGET_RECORD_TAG;
    if (orsa_target_address(params[0], &record.address_kind, record.address) != 0)
        return orsa_fail_with(29);
    record.port = (uint16_t)strtoul(params[1], nullptr, 10);
    record.login_flags |= ORSA_LOGIN_FLAG_LOGIN;
    record.eto = ORSA_ETO_NOT_GIVEN;
    record.reserved_ffff0 = 0xFFFF;
    record.reserved_ffff1 = 0xFFFF;

    HmNode *options = internal_get_node(target, "TargetLoginOptions", HM_KIND_GROUP);
    if (options == nullptr)
        return 1;
    if (ORSA_esx_login(action != nullptr ? action : target, options, &record, params, initiator, reused, 1) != 0)
        return 1;
    login_answer answer;
    memcpy(&answer, &record, sizeof answer);
    if (answer.status_flags & 1) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s:Session status open failed.\n", __func__);
        return 1;
    }
    char eto[HM_VALUE_SIZE];
    if (!read_prop(target, "ETO", eto))
        return 1;

    HmNode *session = reused_session;
    if (session != nullptr) {
        // The reused group stands for the new adapter session: its handle
        // records name the handles this login answered.
        set_session_login_options(internal_get_node(session, "SessionNegotiatedLoginOptions", HM_KIND_GROUP),
                                  &answer.session);
        HmNode *c = get_first_instance(session, "Connection");
        if (c != nullptr)
            set_connection_login_options(internal_get_node(c, "ConnectionNegotiatedLoginOptions", HM_KIND_GROUP),
                                         &answer.connection);
        if (orsa_session_handle *h = orsa_session_record(session))
            h->session_handle = answer.session_handle;
        if (orsa_connection_handle *h = orsa_connection_record(c))
            h->connection_id = answer.connection_handle;
    } else {
        session = setup_session(target, w.port, answer.session_handle, "True", &answer.session, action, params, tag);
        if (session == nullptr || setup_connection(session, answer.connection_handle, &answer.connection) == nullptr)
            return 1;
    }
    get_session_attribs(w.port, w.domain, w.phba, session);
    // The BootTarget parameter decides the boot entry after the slots have
    // been cleared for the LUN scan.
    const bool boot_given = strcasecmp(params[4], "True") == 0;
    clear_params(params);
    char out[HM_VALUE_SIZE] = "";
    if (get_all_luns(target, w.domain, w.phba, target, internal_get_node(target, "ReScanLUNS", HM_KIND_ACTION), params,
                     out) == 90)
        orsa_set_last_status(90, "Login succeeded but could not get LUN info for some sessions.");
    if (set_eto_prop(w.port, w.domain, w.phba, target, eto, answer.session_handle) != 0) {
        orsa_set_status(58);
        return 0;
    }
    set_prop_val(session, "Persistent", "%s", "True");
    if (asic == ORSA_ASIC_VESKARN && (strcasecmp(boot_of_found, "True") == 0 || boot_given)) {
        uint32_t rc = ORSA_add_boottarget_tlv(w.port, w.domain, w.phba, session);
        if (rc != 0) {
            ISCSI_LOG(ORSA_LOG_ERROR,
                      "%s: Login succeeded but adding tlv to iSCSI region has failed with status = %d\n", __func__,
                      (int)rc);
            return orsa_fail_with(306);
        }
    }
    return 0;
}

// ---- logout and clean-up ----

uint32_t do_Logout(HmNode *target, HmNode *action, HmValueSlot *params)
{
    if (target == nullptr || params == nullptr)
        return 1;
    HmNode *session = nullptr;
    if (!given(params[0])) {
        session = get_first_instance(target, "Session");
        if (session == nullptr)
            return orsa_fail_with(174);
    } else {
        char *end = nullptr;
        long n = strtol(params[0], &end, 10);
        session = (end != params[0] && *end == '\0') ? instance_of(target, "Session", (int32_t)n) : nullptr;
        if (session == nullptr)
            return orsa_fail_with(20);
    }
    HmNode *node = action != nullptr ? action : target;
    Where w = where_of(node);
    HmNode *controller = nullptr;
    uint32_t asic = asic_of(node, &controller);
    if (controller == nullptr)
        return 1;
    if (asic == ORSA_ASIC_UNREADABLE) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to get ks_type\n", __func__);
        return 1;
    }
    char boot[HM_VALUE_SIZE], status[HM_VALUE_SIZE];
    if (!read_prop(session, "iSCSIBoot", boot) || !read_prop(session, "SessionStatus", status))
        return 1;
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr)
        return 1;
    if (strcasecmp(boot, "True") == 0) {
        if (strcasecmp(status, "Open") == 0)
            return orsa_fail_with(126);
        session_info *r = ORSA_get_session_params(h->session_handle, w.port, w.domain, w.phba);
        if (r == nullptr) {
            ISCSI_LOG(ORSA_LOG_ERROR, "%s:pGetASessionParams is NULL.\n", __func__);
            return 1;
        }
        uint32_t rc = ORSA_configure_boot_target(session, r->flags, "False", w.port, w.domain, w.phba);
        if (rc == 0 && asic == ORSA_ASIC_VESKARN && ORSA_delete_boottarget_tlv(w.port, w.domain, w.phba, r) != 0) {
            orsa_dfree(r);
            return orsa_fail_with(307);
        }
        orsa_dfree(r);
        if (rc != 0)
            return 1;
    }
    char name[HM_VALUE_SIZE], persistent[HM_VALUE_SIZE], q[HM_VALUE_SIZE], initiator[HM_VALUE_SIZE];
    char ip[HM_VALUE_SIZE], port[HM_VALUE_SIZE];
    if (!read_prop(target, "TargetISCSIName", name) || !read_prop(session, "Persistent", persistent) ||
        !read_prop(session, "ISIDQualifier", q) || !read_prop(session, "SessionInitiatorName", initiator) ||
        !destination_of(session, ip, port))
        return 1;
    for (HmNode *lun = get_first_instance(target, "LUN"); lun != nullptr; lun = hm_next_instance(lun)) {
        const char *vendor = cached(lun, "DeviceVendorName");
        const char *model = cached(lun, "DeviceModelNumber");
        if (os_prepare_device_for_removal(vendor, model) != 0)
            ISCSI_LOG(ORSA_LOG_ERROR, "%s: could not safely remove device for vendor:%s model:%s\n", __func__, vendor,
                      model);
    }
    uint32_t rc = 1;
    for (int i = 0; i < 3 && rc != 0; i++) {
        logout_payload payload = {h->session_handle};
        rc = ioctl_logout_target(at(w.port), &payload, w.domain, w.phba);
    }
    if (rc != 0)
        return rc;
    if (HmNode *c = get_first_instance(session, "Connection"))
        orsa_delete_with_handle(c);
    orsa_delete_with_handle(session);
    clear_params(params);
    char out[HM_VALUE_SIZE] = "";
    if (get_all_luns(target, w.domain, w.phba, target, internal_get_node(target, "ReScanLUNS", HM_KIND_ACTION), params,
                     out) == 90)
        orsa_set_last_status(90, "Logout succeeded but could not get LUN info for some sessions.");
    if (strcasecmp(persistent, "True") == 0 &&
        delete_persistent(w.port, w.domain, w.phba, target, name, ip, port,
                          (uint16_t)(strtoul(q, nullptr, 16) & 0xFFFF), initiator, 0) != 0) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s:delete_persistent failed\n", __func__);
        return 1;
    }
    return 0;
}

uint32_t ORSA_check_session_status(HmNode *target, const char *target_name, uint32_t port, uint32_t *active,
                                   HmNode *action, HmNode *portal, uint32_t mode)
{
    if (target == nullptr || target_name == nullptr || active == nullptr || action == nullptr ||
        (mode == 1 && portal == nullptr))
        return 1;
    HmNode *controller = nullptr;
    uint32_t asic = asic_of(action, &controller);
    if (controller == nullptr || asic == ORSA_ASIC_UNREADABLE)
        return 1;
    Where w = where_of(action);
    char pip[HM_VALUE_SIZE] = "", pport[HM_VALUE_SIZE] = "";
    if (mode == 1 && (!read_prop(portal, "TargetIPAddress", pip) || !read_prop(portal, "TargetPortNumber", pport)))
        return 1;
    for (HmNode *s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s)) {
        char ip[HM_VALUE_SIZE], dport[HM_VALUE_SIZE];
        if (!destination_of(s, ip, dport))
            continue;
        if (mode == 1 && (strcmp(ip, pip) != 0 || strcmp(dport, pport) != 0))
            continue;
        char status[HM_VALUE_SIZE] = "";
        read_prop(s, "SessionStatus", status);
        if (!ended(status)) {
            *active = 1;
            continue;
        }
        char boot[HM_VALUE_SIZE] = "";
        read_prop(s, "iSCSIBoot", boot);
        if (strcasecmp(boot, "True") == 0) {
            orsa_session_handle *h = orsa_session_record(s);
            if (h == nullptr) {
                ISCSI_LOG(ORSA_LOG_ERROR, "%s:Failed: Invalid session handle.\n", __func__);
                return 1;
            }
            session_info *r = ORSA_get_session_params(h->session_handle, port, w.domain, w.phba);
            if (r == nullptr)
                return 1;
            uint32_t rc = ORSA_configure_boot_target(s, r->flags, "False", port, w.domain, w.phba);
            if (rc == 0 && asic == ORSA_ASIC_VESKARN && ORSA_delete_boottarget_tlv(port, w.domain, w.phba, r) != 0) {
                orsa_dfree(r);
                return orsa_fail_with(307);
            }
            orsa_dfree(r);
            if (rc != 0)
                return 1;
        }
        char q[HM_VALUE_SIZE] = "", initiator[HM_VALUE_SIZE] = "";
        read_prop(s, "ISIDQualifier", q);
        read_prop(s, "SessionInitiatorName", initiator);
        delete_persistent(port, w.domain, w.phba, target, target_name, ip, dport,
                          (uint16_t)(strtoul(q, nullptr, 16) & 0xFFFF), initiator, 0);
    }
    return 0;
}

uint32_t ORSA_check_for_duplicate_session(HmNode *target, uint32_t port, uint8_t domain, uint8_t phba,
                                          HmValueSlot *params, uint32_t *found, HmNode **session, HmNode **connection)
{
    if (target == nullptr || params == nullptr || found == nullptr)
        return 1;
    for (HmNode *s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s)) {
        orsa_session_handle *h = orsa_session_record(s);
        if (h == nullptr)
            return ORSA_STATUS_SESSION_HANDLE;
        session_info *r = ORSA_get_session_params(h->session_handle, port, domain, phba);
        if (r == nullptr)
            return 1;
        char qtext[8];
        snprintf(qtext, sizeof qtext, "%02x%02x", r->isid[4], r->isid[5]);
        uint32_t q = (uint32_t)strtoul(qtext, nullptr, 16);
        for (uint32_t i = 0; i < r->connection_count && i < 1; i++) {
            const session_connection_entry &e = r->connections[i];
            HmNode *match = nullptr;
            for (HmNode *c = get_first_instance(s, "Connection"); c != nullptr; c = hm_next_instance(c)) {
                orsa_connection_handle *ch = orsa_connection_record(c);
                if (ch == nullptr) {
                    orsa_dfree(r);
                    return 1;
                }
                if (ch->connection_id == e.connection_id) {
                    match = c;
                    break;
                }
            }
            if (match == nullptr)
                continue;
            char ip[ORSA_IPV6_TEXT_SIZE], p[16];
            ipaddr_to_string(e.destination_address, ip, e.destination_kind);
            snprintf(p, sizeof p, "%u", (unsigned)e.destination_port);
            if (strcmp(ip, params[0]) == 0 && strcmp(p, params[1]) == 0 &&
                q == (uint32_t)strtoul(params[3], nullptr, 16) && strcasecmp(r->initiator_name, params[2]) == 0) {
                *found = 1;
                if (session != nullptr)
                    *session = s;
                if (connection != nullptr)
                    *connection = match;
                orsa_dfree(r);
                return 0;
            }
        }
        orsa_dfree(r);
    }
    return 0;
}

uint32_t add_target_from_file(HmNode *lhba)
{
    if (lhba == nullptr)
        return 1;
    char key[3][ORSA_FILE_FIELD_SIZE];
    if (orsa_location_key(lhba, key) != 0)
        return 1;
    FILE *fp = fopen(ORSA_SAVETGT_FILE, "r");
    if (fp == nullptr)
        return 0;
    HmNode *add = internal_get_node(lhba, "AddTarget", HM_KIND_ACTION);
    char *line = nullptr;
    size_t cap = 0;
    uint32_t rc = 0;
    while (rc == 0 && getline(&line, &cap, fp) > 0) {
        char keys[3][ORSA_FILE_FIELD_SIZE];
        memcpy(keys, key, sizeof keys);
        char fields[ORSA_SAVETGT_FIELDS][ORSA_FILE_FIELD_SIZE] = {};
        if (ORSA_get_iscsi_data_from_file(line, keys, fields, ORSA_SAVETGT_FIELDS, 3) != 0)
            continue;
        const char *name = fields[3], *ip = fields[4], *port = fields[5], *q = fields[6];
        HmNode *target = find_target(lhba, name);
        if (target == nullptr) {
            HmValueSlot slots[HM_MAX_PARAMS] = {};
            orsa_strlcpy(slots[0], name, HM_VALUE_SIZE);
            orsa_strlcpy(slots[1], ip, HM_VALUE_SIZE);
            orsa_strlcpy(slots[2], port, HM_VALUE_SIZE);
            target = setup_target(lhba, name, lhba, add, slots,
                                  strcasecmp(fields[ORSA_SAVETGT_TARGET_TYPE_FIELD], "Discovered") == 0);
            if (target == nullptr) {
                ISCSI_LOG(ORSA_LOG_ERROR, "%s:setup_target failed\n", __func__);
                rc = 1;
                break;
            }
        }
        if (find_target_portal(target, ip, port) == nullptr && setup_portal(target, ip, port, "0") == nullptr) {
            ISCSI_LOG(ORSA_LOG_ERROR, "%s:setup_portal Failed\n", __func__);
            rc = 1;
            break;
        }
        set_prop_val(target, "TargetType", "%s", fields[ORSA_SAVETGT_TARGET_TYPE_FIELD]);
        HmNode *options = internal_get_node(target, "TargetLoginOptions", HM_KIND_GROUP);
        HmNode *auth = internal_get_node(options, "Authentication", HM_KIND_GROUP);
        for (uint32_t i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++) {
            const char *text = fields[orsa_login_option_field(ORSA_FILE_SAVETGT, i)];
            if ((i == ORSA_OPT_CHAP_PARAM || i == ORSA_OPT_HEADER_PARAM || i == ORSA_OPT_DATA_PARAM) && !text[0])
                text = "Prohibited";
            set_prop_val(orsa_login_option_in_authentication(i) ? auth : options, orsa_login_option_names[i], "%s",
                         text);
        }
        if (q[0] != '\0') {
            HmValueSlot params[HM_MAX_PARAMS] = {};
            orsa_strlcpy(params[0], ip, HM_VALUE_SIZE);
            orsa_strlcpy(params[1], port, HM_VALUE_SIZE);
            orsa_strlcpy(params[2], fields[7], HM_VALUE_SIZE);
            orsa_strlcpy(params[3], q, HM_VALUE_SIZE);
            do_Login(target, internal_get_node(target, "Login", HM_KIND_ACTION), params);
        }
    }
    free(line);
    fclose(fp);
    return rc;
}

uint32_t backend_make_persistent(HmNode *group, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    if (group == nullptr || group->kind != HM_KIND_GROUP || group->body == nullptr)
        return 1;
    HmGroup *g = HM_GROUP(group);
    if (g->persistency_priority == 0)
        g->persistency_priority = persistency_priority++;
    g->key_a = key_a;
    g->key_b = key_b;
    if (keys != nullptr)
        memcpy(g->keys, keys, sizeof g->keys);
    return 0;
}

// Targets and target portals: the four target actions, the node functions
// other code uses to make and find them, the import of the adapter's own
// target list, the refresh of one Target, and the Target's extended timeout
// (iscsi_targets.h).
#include <cstdlib>

#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_addr.h"
#include "iscsi/iscsi_persist.h"
#include "iscsi/iscsi_targets.h"
#include "iscsi/iscsi_util.h"
#include "schema/builders.h"
#include "tree/hm_convert.h"

using namespace iscsi;

namespace {

const uint32_t kTargetListSize = 64000;
const uint32_t kControllerAttribsSize = 540;
const uint32_t kDiscoveryParamsSize = 888;
const uint32_t kTargetName = 4;
const uint32_t kPortalGroups = 260;
const uint32_t kGroupStride = 552;
const uint32_t kPortalStride = 548;

const char kTargetIdsText[] = "Failed to get target IDs. Application internal error occurred. Please check "
                              "orsa2d.log file for more information.";
const char kTargetText[] = "Failed to get a target. Application internal error occurred. Please check orsa2d.log "
                           "file for more information.";
const char kDuplicateText[] = "Cannot add duplicate target entry as a target already exists with same target name. "
                              "Please provide different target name to add another target.";

uint32_t fail_text(uint32_t code, const char *text)
{
    orsa_set_last_status(code, text);
    return code;
}

// The default ETO: u32 at 92 of the controller attributes.
bool default_eto(HmNode *node, uint32_t *eto)
{
    HmNode *controller = orsa_controller_of(node);
    OrsaWhere w;
    if (controller == nullptr || !orsa_controller_where(controller, &w))
        return false;
    uint8_t attribs[kControllerAttribsSize] = {};
    if (ioctl_fetch_controller_attribs(w.at, attribs, w.domain, w.phba_port) != 0)
        return false;
    *eto = orsa_rd32(attribs + 92);
    return true;
}

HmNode *instance_of(HmNode *parent, const char *kind, const char *number)
{
    char *end = nullptr;
    long n = strtol(number, &end, 10);
    if (!given(number) || end == number || *end != '\0')
        return nullptr;
    for (HmNode *g = get_first_instance(parent, kind); g != nullptr; g = hm_next_instance(g))
        if (hm_instance_number(g) == n)
            return g;
    return nullptr;
}

// The persistent login of a new portal: a fresh qualifier, the target's own
// login options.
uint32_t persistent_login(HmNode *target, const char *ip, const char *port, const char *boot, const char *initiator)
{
    uint16_t q = (uint16_t)(generate_isid_qualifier() & 0xFFFF);
    return make_session_persistent(target, ip, port, q, nullptr, boot, initiator, 0);
}

// A target (or one portal of it) is deleted only with no session active:
// reads the target's name into name, then 0, or 1 with the reason set.
uint32_t check_idle(HmNode *target, HmNode *asker, HmNode *portal, uint32_t one_portal, char *name)
{
    if (!read_prop(target, "TargetISCSIName", name))
        return 1;
    Where w = where_of(target);
    uint32_t active = 0;
    if (ORSA_check_session_status(target, name, w.port, &active, asker, portal, one_portal) != 0)
        return 1;
    return active ? orsa_fail_with(34) : 0;
}

// Portal collector of the target-record walk.
struct PortalList {
    orsa_target_portal portals[64];
    uint32_t count = 0;
};

void collect_portal(void *context, const orsa_target_portal *portal)
{
    auto *list = static_cast<PortalList *>(context);
    if (list->count < 64)
        list->portals[list->count++] = *portal;
}

} // namespace

bool orsa_target_name_ok(const char *name)
{
    if (name == nullptr)
        return false;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++)
        if (*p == ',' || *p < 0x20 || *p == 0x7F)
            return false;
    return true;
}

// ---- bounded readers ----

bool orsa_target_list_ok(const uint8_t *reply, uint32_t length, uint32_t *count)
{
    if (reply == nullptr || length < 4)
        return false;
    uint32_t n = orsa_rd32(reply);
    if (n > (length - 4) / 8)
        return false;
    *count = n;
    return true;
}

bool orsa_target_record_walk(const uint8_t *record, uint32_t length, char name[224],
                             void (*fn)(void *context, const orsa_target_portal *portal), void *context)
{
    if (record == nullptr || length < kPortalGroups + 4)
        return false;
    memcpy(name, record + kTargetName, 223);
    name[223] = '\0';
    uint32_t groups = orsa_rd32(record + kPortalGroups);
    // First pass: every count must stay within the record.
    for (int pass = 0; pass < 2; pass++) {
        for (uint32_t g = 0; g < groups; g++) {
            uint64_t base = 256 + (uint64_t)kGroupStride * g;
            if (base + 12 > length)
                return false;
            uint16_t tag = orsa_rd16(record + base + 8);
            uint16_t portals = orsa_rd16(record + base + 10);
            for (uint32_t p = 0; p < portals; p++) {
                uint64_t at = (uint64_t)kGroupStride * g + (uint64_t)kPortalStride * p;
                if (at + 292 + 2 > length)
                    return false;
                if (pass == 1) {
                    orsa_target_portal portal;
                    portal.kind = record[at + 271];
                    memcpy(portal.address, record + at + 272, 16);
                    portal.port = orsa_rd16(record + at + 292);
                    portal.tag = tag;
                    fn(context, &portal);
                }
            }
        }
    }
    return true;
}

// ---- node functions ----

HmNode *setup_target(HmNode *lhba, const char *name, HmNode *key_a, HmNode *key_b, HmValueSlot *keys,
                     uint32_t discovered)
{
    if (lhba == nullptr || name == nullptr)
        return nullptr;
    if (find_target(lhba, name) != nullptr)
        return nullptr;
    HmNode *target = initialize_Target(lhba, key_a, key_b, keys);
    if (target == nullptr) {
        orsa_set_status(156);
        return nullptr;
    }
    set_prop_val(target, "TargetISCSIName", "%s", name);
    set_prop_val(target, "TargetType", "%s", discovered ? "Discovered" : "Static");
    if (OPEN_ISCSI_DRIVER_LOADED == 0) {
        uint32_t eto = 0;
        if (!default_eto(lhba, &eto) || set_prop_val(target, "ETO", "%u", (unsigned)eto) != 0) {
            delete_node(target);
            return nullptr;
        }
    }
    if (internal_get_node(target, "TargetLoginOptions", HM_KIND_GROUP) == nullptr ||
        internal_get_node(lhba, "InitiatorLoginOptions", HM_KIND_GROUP) == nullptr) {
        delete_node(target);
        return nullptr;
    }
    return target;
}

HmNode *setup_portal(HmNode *target, const char *ip, const char *port, const char *tag)
{
    HmNode *portal = initialize_TargetPortal(target, nullptr, nullptr, nullptr);
    if (portal == nullptr)
        return nullptr;
    if (set_prop_val(portal, "TargetIPAddress", "%s", ip) != 0 ||
        set_prop_val(portal, "TargetPortNumber", "%s", port) != 0 ||
        set_prop_val(portal, "PortalGroupTag", "%s", tag) != 0) {
        delete_node(portal);
        return nullptr;
    }
    return portal;
}

HmNode *find_target_portal(HmNode *target, const char *ip, const char *port)
{
    for (HmNode *p = target != nullptr ? get_first_instance(target, "TargetPortal") : nullptr; p != nullptr;
         p = hm_next_instance(p)) {
        const char *pip = cached(p, "TargetIPAddress");
        const char *pport = cached(p, "TargetPortNumber");
        if ((!given(ip) || strcmp(pip, ip) == 0) && (!given(port) || strcmp(pport, port) == 0))
            return p;
    }
    return nullptr;
}

uint32_t validate_target_portal(HmNode *target, uint32_t *instance, const char *ip, const char *port)
{
    for (HmNode *p = target != nullptr ? get_first_instance(target, "TargetPortal") : nullptr; p != nullptr;
         p = hm_next_instance(p)) {
        if (strcmp(cached(p, "TargetIPAddress"), ip != nullptr ? ip : "") == 0 &&
            (!given(port) || strcmp(cached(p, "TargetPortNumber"), port) == 0)) {
            *instance = (uint32_t)hm_instance_number(p);
            return 0;
        }
    }
    return 1;
}

// ---- the adapter's target list ----

uint32_t get_all_targets(HmNode *lhba, uint32_t port, uint8_t domain, uint8_t phba, uint32_t discovered,
                         HmValueSlot *params)
{
    if (lhba == nullptr || params == nullptr)
        return 1;
    uint8_t block[kDiscoveryParamsSize] = {};
    if (ioctl_get_discoveryparams(at(port), block, domain, phba) != 0)
        return orsa_set_status(80);
    uint8_t fresh[kDiscoveryParamsSize] = {};
    fresh[544] = block[544] & 1;
    // The logical HBA's initiator name: the InitiatoriSCSIName property of
    // its group of that name.
    char initiator[HM_VALUE_SIZE] = "";
    if (!read_prop(internal_get_node(lhba, "InitiatoriSCSIName", HM_KIND_GROUP), "InitiatoriSCSIName", initiator))
        return 1;
    memcpy(fresh + 548, initiator, strnlen(initiator, 223));
    uint32_t set = ioctl_set_discoveryparams(at(port), fresh, domain, phba);
    if (set != 0 && set != 32)
        return orsa_set_status(81);
    uint8_t *list = static_cast<uint8_t *>(orsa_dmalloc(kTargetListSize));
    if (list == nullptr)
        return orsa_set_status(16);
    memset(list, 0, kTargetListSize);
    put32(list, set == 32 ? 0 : discovered);
    put32(list + 4, 14);
    uint32_t count = 0;
    if (ioctl_get_all_tgt_id(at(port), list, kTargetListSize, domain, phba) != 0 ||
        !orsa_target_list_ok(list, kTargetListSize, &count)) {
        orsa_dfree(list);
        return fail_text(82, kTargetIdsText);
    }
    HmNode *add = internal_get_node(lhba, "AddTarget", HM_KIND_ACTION);
    if (add == nullptr) {
        orsa_dfree(list);
        return 1;
    }
    for (uint32_t i = 0; i < count; i++) {
        uint32_t id = orsa_rd32(list + 4 + 8 * i);
        uint8_t query[816] = {};
        put32(query, id);
        uint16_t size = 0;
        if (ioctl_get_a_target_size(at(port), query, domain, phba, &size) != 0 || size == 0) {
            orsa_dfree(list);
            return orsa_set_status(31);
        }
        uint8_t *record = static_cast<uint8_t *>(orsa_dmalloc(size));
        if (record == nullptr) {
            orsa_dfree(list);
            return orsa_set_status(16);
        }
        memset(record, 0, size);
        put32(record, id);
        PortalList portals;
        char name[224] = "";
        if (ioctl_get_a_target(at(port), record, size, domain, phba) != 0) {
            orsa_dfree(record);
            orsa_dfree(list);
            orsa_set_last_status(83, kTargetText);
            return 1;
        }
        if (!orsa_target_record_walk(record, size, name, collect_portal, &portals)) {
            // A count that runs past the record: a malformed reply.
            ISCSI_LOG(ORSA_LOG_ERROR, "%s: target %u's record names more portals than it holds\n", __func__,
                      (unsigned)id);
            orsa_dfree(record);
            orsa_dfree(list);
            orsa_set_last_status(83, kTargetText);
            return 1;
        }
        ISCSI_LOG(ORSA_LOG_DEBUG, "%s: target alias %.31s\n", __func__, (const char *)record + 228);
        orsa_dfree(record);
        if (portals.count == 0 || name[0] == '\0')
            continue;
        if (!orsa_target_name_ok(name)) {
            // Such a name cannot go into savetgt.txt: every later field of
            // its line would shift, and start-up would drop the whole file.
            ISCSI_LOG(ORSA_LOG_ERROR, "%s: target name with a comma or control character skipped\n", __func__);
            continue;
        }
        clear_params(params);
        orsa_strlcpy(params[0], name, HM_VALUE_SIZE);
        ipaddr_to_string(portals.portals[0].address, params[1], portals.portals[0].kind);
        snprintf(params[2], HM_VALUE_SIZE, "%u", (unsigned)portals.portals[0].port);
        if (params[1][0] == '\0')
            continue;
        HmNode *target = setup_target(lhba, name, lhba, add, params, discovered);
        if (target == nullptr)
            target = find_target(lhba, name);
        if (target == nullptr)
            continue;
        for (uint32_t p = 0; p < portals.count; p++) {
            char ip[ORSA_IPV6_TEXT_SIZE], tport[16], tag[16];
            ipaddr_to_string(portals.portals[p].address, ip, portals.portals[p].kind);
            snprintf(tport, sizeof tport, "%u", (unsigned)portals.portals[p].port);
            snprintf(tag, sizeof tag, "%u", (unsigned)portals.portals[p].tag);
            if (find_target_portal(target, ip, tport) != nullptr)
                continue;
            if (setup_portal(target, ip, tport, tag) == nullptr) {
                delete_node(target);
                break;
            }
            char persistent[36] = "False";
            ORSA_get_tgt_persistent_val(lhba, name, persistent);
            ORSA_add_target_into_file(lhba, target, name, ip, tport, nullptr, persistent);
        }
    }
    orsa_dfree(list);
    return 0;
}

uint32_t group_Target(HmNode *target)
{
    if (target == nullptr || target->parent == nullptr)
        return 0;
    Where w = where_of(target);
    HmValueSlot params[HM_MAX_PARAMS] = {};
    get_all_sessions(target->parent, w.port, w.domain, w.phba, target, nullptr, params);
    HmNode *stale[1024];
    uint32_t n = 0;
    for (HmNode *s = get_first_instance(target, "Session"); s != nullptr && n < 1024; s = hm_next_instance(s)) {
        orsa_session_handle *h = orsa_session_record(s);
        if (h != nullptr && get_session_attribs(h->port, w.domain, w.phba, s) != 0)
            stale[n++] = s;
    }
    for (uint32_t i = 0; i < n; i++) {
        if (HmNode *c = get_first_instance(stale[i], "Connection"))
            orsa_delete_with_handle(c);
        orsa_delete_with_handle(stale[i]);
    }
    if (OPEN_ISCSI_DRIVER_LOADED != 0) {
        ORSA_op_get_all_luns(target);
        return 0;
    }
    clear_params(params);
    char out[HM_VALUE_SIZE] = "";
    uint32_t rc = get_all_luns(target, w.domain, w.phba, target,
                               internal_get_node(target, "ReScanLUNS", HM_KIND_ACTION), params, out);
    if ((rc == 0 || rc == 90) && strtoul(out, nullptr, 10) == 1)
        scan_from_os();
    return 0;
}

// ---- the actions ----

uint32_t do_AddTarget(HmNode *lhba, HmNode *action, HmValueSlot *params)
{
    if (lhba == nullptr || params == nullptr || !given(params[0]) || !given(params[1]))
        return 1;
    HmNode *controller = nullptr;
    uint32_t asic = asic_of(action != nullptr ? action : lhba, &controller);
    if (controller == nullptr || asic == ORSA_ASIC_UNREADABLE)
        return 1;
    const char *name = params[0];
    const char *ip = params[1];
    // The name becomes a field of a savetgt.txt line, which nothing
    // escapes: a comma or a control character would shift every later field.
    if (!orsa_target_name_ok(name))
        return orsa_fail_with(ORSA_STATUS_TARGET_NAME_VALUE);
    if (asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3) {
        if (strlen(ip) > 15)
            return orsa_fail_with(330);
        if (count_instances(lhba, "Target") >= 128)
            return orsa_fail_with(175);
    }
    HmNode *names = internal_get_node(lhba, "InitiatoriSCSIName", HM_KIND_GROUP);
    char initiator[HM_VALUE_SIZE];
    if (names == nullptr || !read_prop(names, "InitiatoriSCSIName", initiator))
        return 1;
    if (find_target(lhba, name) != nullptr)
        return fail_text(21, kDuplicateText) != 0 ? 1 : 0;
    if (!given(params[2]))
        orsa_strlcpy(params[2], "3260", HM_VALUE_SIZE);
    if (OPEN_ISCSI_DRIVER_LOADED != 0 && ORSA_add_open_iscsi_target(lhba, name, ip, params[2]) != 0)
        return 1;
    char port[HM_VALUE_SIZE], boot[HM_VALUE_SIZE], target_name[HM_VALUE_SIZE], address[HM_VALUE_SIZE];
    orsa_strlcpy(port, params[2], sizeof port);
    orsa_strlcpy(boot, strcasecmp(params[3], "True") == 0 ? "True" : "False", sizeof boot);
    orsa_strlcpy(target_name, name, sizeof target_name);
    orsa_strlcpy(address, ip, sizeof address);
    HmNode *target = setup_target(lhba, target_name, lhba, action, params, 0);
    if (target == nullptr)
        return 1;
    if (setup_portal(target, address, port, "0") == nullptr) {
        delete_node(target);
        return 1;
    }
    if (ORSA_add_target_into_file(lhba, target, target_name, address, port, nullptr, "True") != 0)
        return 1;
    if (OPEN_ISCSI_DRIVER_LOADED != 0 && strcmp(boot, "True") != 0)
        return 0;
    if (persistent_login(target, address, port, boot, initiator) != 0)
        return 1;
    clear_params(params);
    Where w = where_of(target);
    get_all_sessions(lhba, w.port, w.domain, w.phba, target, nullptr, params);
    if (asic == ORSA_ASIC_VESKARN && strcmp(boot, "True") == 0) {
        HmNode *session = get_first_instance(target, "Session");
        if (session == nullptr)
            return 0;
        if (ORSA_add_boottarget_tlv(w.port, w.domain, w.phba, session) != 0)
            return orsa_fail_with(306);
    }
    return 0;
}

uint32_t do_AddTargetPortal(HmNode *target, HmNode *action, HmValueSlot *params)
{
    if (target == nullptr || params == nullptr || !given(params[0]))
        return 1;
    HmNode *lhba = group_of(target, "LogicalHBA");
    HmNode *controller = nullptr;
    uint32_t asic = asic_of(action != nullptr ? action : target, &controller);
    if (lhba == nullptr || group_of(target, "iSCSIPhysicalHBA") == nullptr || controller == nullptr)
        return 1;
    char ip[HM_VALUE_SIZE], port[HM_VALUE_SIZE];
    orsa_strlcpy(ip, params[0], sizeof ip);
    orsa_strlcpy(port, given(params[1]) ? params[1] : "3260", sizeof port);
    if ((asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3) && strlen(ip) > 15)
        return orsa_fail_with(330);
    char name[HM_VALUE_SIZE], initiator[HM_VALUE_SIZE];
    HmNode *names = internal_get_node(lhba, "InitiatoriSCSIName", HM_KIND_GROUP);
    if (!read_prop(target, "TargetISCSIName", name) || names == nullptr ||
        !read_prop(names, "InitiatoriSCSIName", initiator))
        return 1;
    for (HmNode *p = get_first_instance(target, "TargetPortal"); p != nullptr; p = hm_next_instance(p)) {
        char pip[HM_VALUE_SIZE], pport[HM_VALUE_SIZE];
        if (!read_prop(p, "TargetIPAddress", pip) || !read_prop(p, "TargetPortNumber", pport))
            return 1;
        if (strcasecmp(pip, ip) == 0 && strcasecmp(pport, port) == 0) {
            orsa_set_last_status(214, "Given TargetPortal already exist. Please given another Target IPaddress and "
                                      "PortNumber");
            return 1;
        }
    }
    if (setup_portal(target, ip, port, "0") == nullptr)
        return 1;
    ORSA_add_target_into_file(lhba, target, name, ip, port, nullptr, "True");
    if (OPEN_ISCSI_DRIVER_LOADED != 0) {
        ORSA_add_open_iscsi_target(lhba, name, ip, port);
        return 0;
    }
    if (persistent_login(target, ip, port, "False", initiator) != 0)
        return 1;
    clear_params(params);
    Where w = where_of(target);
    get_all_sessions(lhba, w.port, w.domain, w.phba, target, nullptr, params);
    return 0;
}

uint32_t do_DeleteTarget(HmNode *lhba, HmNode *action, HmValueSlot *params)
{
    if (lhba == nullptr || params == nullptr)
        return 1;
    HmNode *target = instance_of(lhba, "Target", params[0]);
    if (target == nullptr)
        return orsa_fail_with(20);
    char name[HM_VALUE_SIZE];
    if (check_idle(target, action != nullptr ? action : lhba, nullptr, 0, name) != 0)
        return 1;
    if (OPEN_ISCSI_DRIVER_LOADED != 0) {
        uint32_t rc = ORSA_delete_open_iscsi_target(lhba, name);
        if (rc != 0 && rc != 21)
            return 1;
    }
    for (HmNode *p = get_first_instance(target, "TargetPortal"); p != nullptr; p = hm_next_instance(p))
        ORSA_remove_entry_from_file(lhba, name, cached(p, "TargetIPAddress"), cached(p, "TargetPortNumber"),
                                    ORSA_NO_QUALIFIER, ORSA_ENTRY_TARGET);
    return delete_node(target);
}

uint32_t do_DeleteTargetPortal(HmNode *target, HmNode *action, HmValueSlot *params)
{
    if (target == nullptr || params == nullptr)
        return 1;
    HmNode *portal = instance_of(target, "TargetPortal", params[0]);
    if (portal == nullptr)
        return orsa_fail_with(20);
    char name[HM_VALUE_SIZE];
    if (check_idle(target, action != nullptr ? action : target, portal, 1, name) != 0)
        return 1;
    char ip[HM_VALUE_SIZE], port[HM_VALUE_SIZE];
    if (!read_prop(portal, "TargetIPAddress", ip) || !read_prop(portal, "TargetPortNumber", port))
        return 1;
    if (OPEN_ISCSI_DRIVER_LOADED != 0)
        ORSA_delete_open_iscsi_tpg(target, ip, port);
    HmNode *lhba = group_of(target, "LogicalHBA");
    ORSA_remove_entry_from_file(lhba, name, ip, port, ORSA_NO_QUALIFIER, ORSA_ENTRY_TARGET);
    return delete_node(portal);
}

// ---- the extended timeout ----

uint32_t get_eto_prop(uint32_t port, uint8_t domain, uint8_t phba, HmNode *target)
{
    HmNode *session = get_first_instance(target, "Session");
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr)
        return 1;
    uint8_t query[276] = {};
    put32(query, h->session_handle);
    uint16_t size = 0;
    if (ioctl_get_sessionconfig_size(at(port), query, domain, phba, &size) != 0 || size < 276)
        return orsa_set_status(31);
    uint8_t *conf = static_cast<uint8_t *>(orsa_dmalloc(size));
    if (conf == nullptr)
        return orsa_set_status(16);
    memset(conf, 0, size);
    put32(conf, h->session_handle);
    if (ioctl_get_session_conf(at(port), conf, size, domain, phba) != 0) {
        orsa_dfree(conf);
        return orsa_set_status(86);
    }
    uint32_t eto = orsa_rd32(conf + 4);
    orsa_dfree(conf);
    ISCSI_LOG(ORSA_LOG_DEBUG, " ETO is %d\n", (int)eto);
    return set_prop_val(target, "ETO", "%u", (unsigned)eto);
}

uint32_t set_eto_prop(uint32_t port, uint8_t domain, uint8_t phba, HmNode *target, const char *eto,
                      uint32_t session_handle)
{
    uint8_t query[276] = {};
    put32(query, session_handle);
    uint16_t size = 0;
    uint32_t rc = ioctl_get_sessionconfig_size(at(port), query, domain, phba, &size);
    if (rc != 0 || size < 276) {
        orsa_set_status(31);
        return rc != 0 ? rc : 1;
    }
    uint8_t *conf = static_cast<uint8_t *>(orsa_dmalloc(size));
    if (conf == nullptr)
        return orsa_set_status(16);
    memset(conf, 0, size);
    put32(conf, session_handle);
    rc = ioctl_get_session_conf(at(port), conf, size, domain, phba);
    if (rc != 0) {
        orsa_dfree(conf);
        orsa_set_status(86);
        return rc;
    }
    uint8_t request[280] = {};
    memcpy(request, conf, 4);
    put32(request + 4, 1);
    put32(request + 8, (uint32_t)strtoul(eto != nullptr ? eto : "0", nullptr, 0));
    request[12] = conf[8];
    memcpy(request + 16, conf + 12, 4);
    memcpy(request + 244, conf + 240, 36);
    orsa_dfree(conf);
    rc = ioctl_set_session_conf(at(port), request, domain, phba);
    if (rc != 0) {
        orsa_set_last_status(87, "Cannot set session config params. Application internal error occurred. Please "
                                 "check orsa2d.log file for more information.");
        return rc;
    }
    if (get_eto_prop(port, domain, phba, target) != 0)
        ISCSI_LOG(ORSA_LOG_ERROR, " get_eto_prop1 failed\n");
    return 0;
}

uint32_t refresh_eto(HmNode *lhba, uint8_t /*domain*/, uint8_t /*phba*/)
{
    for (HmNode *t = lhba != nullptr ? get_first_instance(lhba, "Target") : nullptr; t != nullptr;
         t = hm_next_instance(t)) {
        if (get_first_instance(t, "Session") != nullptr)
            continue;
        uint32_t eto = 0;
        if (!default_eto(lhba, &eto)) {
            ISCSI_LOG(ORSA_LOG_ERROR, "ioctl_fetch_controller_attribs for ETO failed\n");
            return 1;
        }
        if (set_prop_val(t, "ETO", "%u", (unsigned)eto) != 0) {
            ISCSI_LOG(ORSA_LOG_ERROR, "set ETO failed\n");
            return 1;
        }
    }
    return 0;
}

uint32_t handle_Target_ETO(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    HmNode *target = property->parent;
    Where w = where_of(target);
    if (mode == HM_MODE_GET) {
        if (get_first_instance(target, "Session") != nullptr)
            get_eto_prop(w.port, w.domain, w.phba, target);
        return orsa_answer(property, value, 0);
    }
    if (mode != HM_MODE_SET)
        return 0;
    for (HmNode *s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s)) {
        orsa_session_handle *h = orsa_session_record(s);
        if (h == nullptr)
            continue;
        uint32_t rc = set_eto_prop(h->port, w.domain, w.phba, target, value, h->session_handle);
        if (rc != 0) {
            ISCSI_LOG(ORSA_LOG_ERROR, "%s: ETO of Session%d failed with %u\n", __func__, (int)hm_instance_number(s),
                      (unsigned)rc);
            return rc;
        }
    }
    SET_CACHE_PROP_VAL(property, "%s", value);
    return 0;
}

/* DCBX instance groups of a port, and the application-TLV and priority-group actions. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/cfg_dcbx_tree.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "config/cfg_dcbx.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

namespace {

constexpr u32 kEntries = ORSA_DCBX_APP_ENTRY_COUNT;

// Statuses of these actions (texts in the status table).
constexpr u32 kStatusBadInstance = 20;
constexpr u32 kStatusBandwidth = 51;
constexpr u32 kStatusTlvLimit = 158;

struct AppEntry {
    u32 protocol = 0;
    u32 selector = 0;
    bool in_use = false;
    u32 oui = 0;
    u8 bitmap = 0;  // bit k: priority k is a member
};

AppEntry entry_at(const u8 *block, u32 n)
{
    const u8 *e = orsa_dcbx_app_entry(block, n);
    AppEntry a;
    a.protocol = orsa_rd16(e + ORSA_DCBX_APP_PROTOCOL);
    a.selector = e[ORSA_DCBX_APP_SELECTOR];
    a.in_use = e[ORSA_DCBX_APP_IN_USE] == 1;
    a.oui = orsa_rd32(e + ORSA_DCBX_APP_OUI);
    a.bitmap = orsa_dcbx_app_members(e);
    return a;
}

void put_entry(u8 *block, u32 n, const AppEntry &a)
{
    u8 *e = orsa_dcbx_app_entry(block, n);
    e[ORSA_DCBX_APP_PROTOCOL] = (u8)a.protocol;
    e[ORSA_DCBX_APP_PROTOCOL + 1] = (u8)(a.protocol >> 8);
    e[ORSA_DCBX_APP_SELECTOR] = (u8)a.selector;
    e[ORSA_DCBX_APP_IN_USE] = a.in_use ? 1 : 0;
    for (u32 i = 0; i < 4; i++)
        e[ORSA_DCBX_APP_OUI + i] = (u8)(a.oui >> (8 * i));
    orsa_dcbx_app_set_members(e, a.bitmap);
}

/* The write request of a form made from its read reply, with count
 * entries in use. */
void build_request(const u8 *reply, u32 version, u8 count, u8 *request)
{
    orsa_dcbx_write_request(reply, version, request);
    request[ORSA_DCBX_REQ_APP_COUNT] = count;
}

/* A read of the port's block; a node without a port address reads
 * nothing and fails. */
u32 read_view(HmNode *node, u32 view, u32 version, u8 *block, OrsaWhere *w)
{
    if (!orsa_dcbx_where(node, w))
        return 1;
    return orsa_dcbx_read(*w, view, version, block);
}

/* ---- instances ---- */

using Builder = HmNode *(*)(HmNode *, HmNode *, HmNode *, HmValueSlot *);

const char kAppTlv[] = "ApplicationTLV";

HmNode *instance_numbered(HmNode *parent, i32 number)
{
    for (HmNode *g = get_first_instance(parent, kAppTlv); g != nullptr; g = hm_next_instance(g))
        if (hm_instance_number(g) == number)
            return g;
    return nullptr;
}

/* The number the builder gives the next instance: the lowest free one. */
i32 next_number(HmNode *parent)
{
    i32 n = 0;
    for (HmNode *g = get_first_instance(parent, kAppTlv); g != nullptr && hm_instance_number(g) == n;
         g = hm_next_instance(g))
        n++;
    return n;
}

u32 count_instances(HmNode *parent)
{
    u32 n = 0;
    for (HmNode *g = get_first_instance(parent, kAppTlv); g != nullptr; g = hm_next_instance(g))
        n++;
    return n;
}

/* Builds the ApplicationTLV group of entry n as instance n: the readers of
 * its values and DeleteApplicationTLV take the number for the entry. The
 * builder takes the lowest free number, so the free numbers below n are
 * held by keyless stand-ins while it runs; they are gone again before any
 * client sees them, and a client action does not report them as new. */
HmNode *build_entry_group(Builder build, HmNode *parent, u32 n, HmNode *key_a, HmNode *key_b, HmValueSlot *keys)
{
    if (instance_numbered(parent, (i32)n) != nullptr)
        return nullptr;
    HmNode *stand_ins[kEntries];
    u32 held = 0;
    u32 *reported = orsa_internal_new_tags;
    orsa_internal_new_tags = nullptr;
    while (held < kEntries && next_number(parent) < (i32)n) {
        HmNode *s = build(parent, nullptr, nullptr, nullptr);
        if (s == nullptr)
            break;
        stand_ins[held++] = s;
    }
    orsa_internal_new_tags = reported;
    HmNode *made = next_number(parent) == (i32)n ? build(parent, key_a, key_b, keys) : nullptr;
    while (held > 0)
        delete_node(stand_ins[--held]);
    return made;
}

u32 store_entry(HmNode *instance, const AppEntry &a)
{
    u32 rc = set_prop_val(instance, "ProtocolSelector", "%d", (int)a.selector);
    rc |= set_prop_val(instance, "ProtocolID", "0x%02x", a.protocol);
    rc |= set_prop_val(instance, "OUI", "0x%02x", a.oui);
    rc |= set_prop_val(instance, "PriorityBitMap", "0x%02x", a.bitmap);
    return rc;
}

/* A number text of an action: automatic base (decimal, 0x hexadecimal,
 * leading-0 octal), nothing after it, not negative, at most max. */
bool parse_number(const char *text, unsigned long long max, u32 *out)
{
    if (text == nullptr)
        return false;
    char *end = nullptr;
    long long v = strtoll(text, &end, 0);
    if (end == nullptr || *end != '\0' || v < 0 || (unsigned long long)v > max)
        return false;
    *out = (u32)v;
    return true;
}

u32 fail_with_text(u32 code, const char *text)
{
    orsa_set_last_status(code, text);
    return 1;
}

/* ---- start-up ---- */

struct TlvView {
    const char *group;
    const char *log_name;
    u32 view;
    Builder build;
    bool keyed;
};

const TlvView kTlvViews[] = {
    {"AdministratorTLVSetting", "Administrator", ORSA_DCBX_VIEW_ADMIN, initialize_AdministratorTLVSetting_ApplicationTLV,
     true},
    {"OperationalTLVSettings", "Operational", ORSA_DCBX_VIEW_OPER, initialize_OperationalTLVSettings_ApplicationTLV,
     false},
    {"PeerTLVSetting", "Peer", ORSA_DCBX_VIEW_PEER, initialize_PeerTLVSetting_ApplicationTLV, false},
};

void add_pg_instances(HmNode *priority_groups, const char *view, Builder build)
{
    HmNode *setting = internal_get_node(priority_groups, view, HM_KIND_GROUP);
    if (setting == nullptr)
        return;
    // A failed build leaves the view with fewer groups; the port goes on.
    for (int i = 0; i < 8; i++)
        build(setting, nullptr, nullptr, nullptr);
}

/* The ApplicationTLV groups of one view at start-up; false when the view
 * could not be read or the administrator view lacks its action. */
bool add_tlv_instances(HmNode *setting, const TlvView &v, const OrsaWhere &w)
{
    u8 block[ORSA_DCBX_V0_SIZE];
    if (orsa_dcbx_read(w, v.view, 0, block) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Get DCBX CFG params failed for %s TLV.\n", __func__,
               v.log_name);
        return false;
    }
    HmNode *action = nullptr;
    if (v.keyed) {
        action = internal_get_node(setting, "AddApplicationTLV", HM_KIND_ACTION);
        if (action == nullptr)
            return false;
    }
    for (u32 n = 0; n < kEntries; n++) {
        AppEntry a = entry_at(block, n);
        if (!a.in_use)
            continue;
        HmNode *instance;
        if (v.keyed) {
            // The keys are what AddApplicationTLV is given for this entry.
            HmValueSlot keys[HM_MAX_PARAMS];
            memset(keys, 0, sizeof keys);
            snprintf(keys[0], sizeof keys[0], "%d", (int)a.selector);
            snprintf(keys[1], sizeof keys[1], "%d", (int)a.protocol);
            snprintf(keys[2], sizeof keys[2], "%d", (int)a.bitmap);
            snprintf(keys[3], sizeof keys[3], "%d", (int)a.oui);
            instance = build_entry_group(v.build, setting, n, setting, action, keys);
        } else {
            instance = build_entry_group(v.build, setting, n, nullptr, nullptr, nullptr);
        }
        if (instance != nullptr)
            store_entry(instance, a);
    }
    return true;
}

}  // namespace

u32 ORSA_build_port_dcbx(HmNode *port_group, u32 port)
{
    HmNode *dcbx = port_group != nullptr ? internal_get_node(port_group, "DCBX", HM_KIND_GROUP) : nullptr;
    if (dcbx == nullptr)
        return 1;
    if (HmNode *pgs = internal_get_node(dcbx, "PriorityGroups", HM_KIND_GROUP)) {
        add_pg_instances(pgs, "AdministratorPGSetting", initialize_AdministratorPGSetting_PG);
        add_pg_instances(pgs, "OperationalPGSettings", initialize_OperationalPGSettings_PG);
        add_pg_instances(pgs, "PeerPGSetting", initialize_PeerPGSetting_PG);
    }
    HmNode *tlvs = internal_get_node(dcbx, "ApplicationTLVGroups", HM_KIND_GROUP);
    if (tlvs == nullptr)
        return 0;
    OrsaWhere w;
    if (!orsa_dcbx_where(port_group, &w))
        return 1;
    w.domain = 0;
    w.phba_port = (u8)port;
    for (const TlvView &v : kTlvViews) {
        HmNode *setting = internal_get_node(tlvs, v.group, HM_KIND_GROUP);
        if (setting != nullptr && !add_tlv_instances(setting, v, w))
            return 1;
    }
    return 0;
}

/* ---- group refresh ---- */

namespace {

u32 refresh_tlv_view(HmNode *group, u32 view, Builder build, bool command_status)
{
    if (group == nullptr)
        return 1;
    u8 block[ORSA_DCBX_V0_SIZE];
    OrsaWhere w;
    u32 rc = read_view(group, view, 0, block, &w);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get DCBX CFG params.\n", __func__);
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return command_status ? rc : 1;
    }
    purge_nodes_within(group, kAppTlv);
    for (u32 n = 0; n < kEntries; n++)
        if (entry_at(block, n).in_use && build_entry_group(build, group, n, nullptr, nullptr, nullptr) == nullptr)
            return 1;
    return 0;
}

}  // namespace

u32 group_AdministratorTLVSetting(HmNode *group)
{
    return refresh_tlv_view(group, ORSA_DCBX_VIEW_ADMIN, initialize_AdministratorTLVSetting_ApplicationTLV, false);
}

u32 group_PeerTLVSetting(HmNode *group)
{
    if (vm_flag)
        return 0;
    return refresh_tlv_view(group, ORSA_DCBX_VIEW_PEER, initialize_PeerTLVSetting_ApplicationTLV, false);
}

u32 group_OperationalTLVSettings(HmNode *group)
{
    if (vm_flag)
        return 0;
    return refresh_tlv_view(group, ORSA_DCBX_VIEW_OPER, initialize_OperationalTLVSettings_ApplicationTLV, true);
}

/* ---- adding and deleting an application TLV ---- */

namespace {

/* The entry an AddApplicationTLV asks for, from its checked parameters. */
AppEntry requested_entry(HmValueSlot *params, u32 bitmap, u32 oui)
{
    AppEntry a;
    a.selector = (u32)strtoul(params[0], nullptr, 10) & 0xFFu;
    a.protocol = (u32)strtoul(params[1], nullptr, 0) & 0xFFFFu;
    a.bitmap = (u8)bitmap;
    a.oui = oui;
    a.in_use = true;
    return a;
}

u32 write_failed(const char *who, u32 rc)
{
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Set DCBX CFG params failed.\n", who);
    orsa_set_status(ORSA_STATUS_DCBX_SET_FAILED);
    return rc;
}

/* Puts the entry into the reply's first free entry and makes its group. */
u32 add_entry(HmNode *group, HmNode *action, HmValueSlot *params, const AppEntry &a, const OrsaWhere &w,
              u32 version, const u8 *reply)
{
    i32 n = -1;
    for (u32 i = 0; i < kEntries && n < 0; i++)
        if (!entry_at(reply, i).in_use)
            n = (i32)i;
    if (n < 0 || count_instances(group) >= kEntries)
        return orsa_fail_with(kStatusTlvLimit);
    u8 request[ORSA_DCBX_V1_SIZE];
    build_request(reply, version, (u8)(reply[ORSA_DCBX_APP_COUNT] + 1), request);
    put_entry(request, (u32)n, a);
    u32 rc = orsa_dcbx_write(w, version, request);
    if (rc != 0)
        return write_failed(__func__, rc);
    // A group still numbered n showed an entry the adapter no longer holds.
    if (HmNode *stale = instance_numbered(group, n))
        delete_node(stale);
    HmNode *made = build_entry_group(initialize_AdministratorTLVSetting_ApplicationTLV, group, (u32)n, group, action,
                                     params);
    if (made == nullptr)
        return 1;
    rc = store_entry(made, a);
    if (rc != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:set_prop_val status = %d\n", __func__, (int)rc);
    return rc;
}

/* Clears the entry that the group shows and removes the group. */
u32 delete_entry(HmNode *instance, const OrsaWhere &w, u32 version, const u8 *reply)
{
    u32 n = orsa_dcbx_app_entry_index(instance);
    if (n >= kEntries)
        return orsa_fail_with(kStatusBadInstance);
    // An entry no longer in use is not in the adapter: writing would only
    // miscount the entries in use, so only the group goes.
    u8 count = reply[ORSA_DCBX_APP_COUNT];
    if (!entry_at(reply, n).in_use || count == 0)
        return delete_node(instance);
    u8 request[ORSA_DCBX_V1_SIZE];
    build_request(reply, version, (u8)(count - 1), request);
    orsa_dcbx_app_entry(request, n)[ORSA_DCBX_APP_IN_USE] = 0;
    u32 rc = orsa_dcbx_write(w, version, request);
    if (rc != 0)
        return write_failed(__func__, rc);
    return delete_node(instance);
}

}  // namespace

u32 ORSA_get_dcbx_cfg_v0(HmNode *group, HmNode *action, HmValueSlot *params, HmNode *app_tlv, u32 priority_bitmap,
                         u32 oui, u32 protocol, u32 add)
{
    if (group == nullptr || action == nullptr || params == nullptr || (add == 0 && app_tlv == nullptr))
        return 1;
    OrsaWhere w;
    if (!orsa_dcbx_where(group, &w))
        return 1;
    w.at.protocol = (i32)protocol;
    u8 reply[ORSA_DCBX_V0_SIZE];
    u32 rc = orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 0, reply);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Get DCBX CFG params failed.\n", __func__);
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return rc;
    }
    if (add != 0)
        return add_entry(group, action, params, requested_entry(params, priority_bitmap, oui), w, 0, reply);
    return delete_entry(app_tlv, w, 0, reply);
}

u32 do_AddApplicationTLV(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (group == nullptr || action == nullptr || params == nullptr)
        return 1;
    u8 bitmap = 0;
    u32 oui = 0, protocol = 0;
    if (!orsa_dcbx_parse_bitmap(params[2], &bitmap))
        return fail_with_text(ORSA_STATUS_DCBX_INVALID_VALUE, "PriorityBitMap: Invalid Value.");
    const char *oui_text = params[3][0] != '\0' ? params[3] : "6945";
    if (!parse_number(oui_text, 0xFFFFFFFFull, &oui))
        return fail_with_text(ORSA_STATUS_DCBX_INVALID_VALUE, "OUI: Invalid Value.");
    // The entry holds a 16-bit protocol id: a larger one would be sent cut
    // and shown whole.
    if (!parse_number(params[1], 0xFFFF, &protocol))
        return fail_with_text(ORSA_STATUS_DCBX_INVALID_VALUE, "ProtocolID: Invalid Value.");
    u8 reply[ORSA_DCBX_V1_SIZE];
    OrsaWhere w;
    u32 rc = read_view(group, ORSA_DCBX_VIEW_ADMIN, 1, reply, &w);
    if (rc == ORSA_STATUS_DCBX_CMD_UNSUPPORTED)
        return ORSA_get_dcbx_cfg_v0(group, action, params, nullptr, bitmap, oui, (u32)w.at.protocol, 1) == 0 ? 0 : 1;
    if (rc != 0)
        return orsa_fail_with(ORSA_STATUS_DCBX_GET_FAILED);
    return add_entry(group, action, params, requested_entry(params, bitmap, oui), w, 1, reply);
}

u32 do_DeleteApplicationTLV(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (group == nullptr || action == nullptr || params == nullptr)
        return 1;
    char label[HM_NAME_SIZE];
    snprintf(label, sizeof label, "%s%s", kAppTlv, params[0]);
    HmNode *instance = internal_get_node(group, label, HM_KIND_GROUP);
    if (instance == nullptr || hm_instance_info(instance) == nullptr)
        return orsa_fail_with(kStatusBadInstance);
    u8 reply[ORSA_DCBX_V1_SIZE];
    OrsaWhere w;
    u32 rc = read_view(group, ORSA_DCBX_VIEW_ADMIN, 1, reply, &w);
    if (rc == ORSA_STATUS_DCBX_CMD_UNSUPPORTED)
        return ORSA_get_dcbx_cfg_v0(group, action, params, instance, 0, 0, (u32)w.at.protocol, 0);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return rc;
    }
    return delete_entry(instance, w, 1, reply);
}

/* ---- priority groups ---- */

u32 do_ConfigurePGSettings(HmNode *pg, HmNode *, HmValueSlot *params)
{
    if (pg == nullptr || params == nullptr || pg->parent == nullptr)
        return 1;
    HmNode *setting = pg->parent;
    i32 p = hm_instance_number(pg);
    if (p < 0 || p > 7)
        return 1;
    // An empty membership is a group of no priorities.
    u8 membership = 0;
    if (params[0][0] != '\0' && !orsa_dcbx_parse_bitmap(params[0], &membership))
        return fail_with_text(ORSA_STATUS_DCBX_INVALID_VALUE, "Invalid Value.");
    u32 bandwidth = (u32)strtoul(params[1], nullptr, 10);

    u8 reply[ORSA_DCBX_V0_SIZE], request[ORSA_DCBX_V0_SIZE];
    OrsaWhere w;
    u32 rc = read_view(pg, ORSA_DCBX_VIEW_ADMIN, 0, reply, &w);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return rc;
    }
    orsa_dcbx_write_request(reply, 0, request);

    // The new members leave every other group.
    u32 sum = 0;
    for (HmNode *q = get_first_instance(setting, "PG"); q != nullptr; q = hm_next_instance(q)) {
        if (q == pg) {
            set_prop_val(q, "PriorityMembership", "0x%02x", membership);
            sum += bandwidth;
            continue;
        }
        // Both reads come first: reading the bandwidth refreshes the whole
        // group from the adapter, membership included.
        char text[HM_VALUE_SIZE] = "";
        if (internal_get_property(q, "PriorityMembership", text) != 0)
            return 1;
        u32 others = (u32)strtoul(text, nullptr, 16);
        if (internal_get_property(q, "Bandwidth", text) != 0)
            return 1;
        u32 share = (u32)strtoul(text, nullptr, 10);
        if (share != 255)
            sum += share;
        set_prop_val(q, "PriorityMembership", "0x%02x", (others & ~(u32)membership) & 0xFFu);
    }

    // Priorities of no group belong to PG 15.
    for (u32 k = 0; k < 8; k++)
        request[ORSA_DCBX_PG_IDS + ORSA_DCBX_PG_ID_SLOT * k] = ORSA_DCBX_PG15;
    for (HmNode *q = get_first_instance(setting, "PG"); q != nullptr; q = hm_next_instance(q)) {
        HmNode *prop = internal_get_node(q, "PriorityMembership", HM_KIND_PROPERTY);
        if (prop == nullptr)
            return 1;
        u32 members = (u32)strtoul(HM_PROPERTY(prop)->value, nullptr, 16);
        for (u32 k = 0; k < 8; k++)
            if (members & (1u << k))
                request[ORSA_DCBX_PG_IDS + ORSA_DCBX_PG_ID_SLOT * k] = (u8)hm_instance_number(q);
    }

    if (bandwidth != 255 && sum > 100)
        return orsa_fail_with(kStatusBandwidth);
    request[ORSA_DCBX_PG_BANDWIDTH + p] = (u8)bandwidth;
    rc = orsa_dcbx_write(w, 0, request);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "In %s, ioctl_set_dcbx_cfg_params failed.\n", __func__);
        orsa_set_status(ORSA_STATUS_DCBX_SET_FAILED);
        return rc;
    }
    return 0;
}

/* DCBX of a port: the readers and writers behind the DCBX groups and their
 * property handlers. */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_dcbx.h"

#include "backend/orsa_ioctl_wrappers.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

namespace {

constexpr u32 kFwConfigSize = 156;
constexpr u32 kFunctionCapsAt = 120;
constexpr u32 kNoDcbxCap = 0x40;
constexpr u32 kOpgSize = 2080;
constexpr u32 kOpgFirst = 16;
constexpr u32 kOpgDescriptorMin = 6;  // type, length, link and mode bytes
constexpr u32 kModeSize = 4;

bool is(const char *name, const char *want)
{
    return name != nullptr && strcasecmp(name, want) == 0;
}

const char *name_of(HmNode *node)
{
    return node != nullptr ? node->name : nullptr;
}

const char *parent_name(HmNode *node)
{
    return node != nullptr && node->parent != node ? name_of(node->parent) : nullptr;
}

const char *yes_no(u32 flags, u32 bit)
{
    return (flags & bit) != 0 ? "Yes" : "No";
}

/* A node's port address and controller number; false without one. */
struct Address {
    PortAddress pa;
    u32 controller;
};
bool address_of(HmNode *node, Address *a)
{
    if (node == nullptr || orsa_get_port_address(node, &a->pa) != 0)
        return false;
    a->controller = get_ks_instance(node);
    return true;
}

u32 view_of(HmNode *group)
{
    const char *g = name_of(group), *p = parent_name(group);
    if (is(g, "AdministratorPFCSetting") || is(g, "AdministratorPGSetting") || is(g, "AdministratorTLVSetting") ||
        is(p, "AdministratorPGSetting") || is(p, "AdministratorTLVSetting"))
        return ORSA_DCBX_VIEW_ADMIN;
    if (is(g, "PeerPFCSetting") || is(g, "PeerPGSetting") || is(g, "PeerTLVSetting") || is(p, "PeerPGSetting") ||
        is(p, "PeerTLVSetting"))
        return ORSA_DCBX_VIEW_PEER;
    return ORSA_DCBX_VIEW_OPER;
}

u8 pfc_members(const u8 *block)
{
    u8 bitmap = 0;
    for (u32 k = 0; k < 8; k++)
        if (block[ORSA_DCBX_PFC_ENABLE + k] == 1)
            bitmap |= (u8)(1u << k);
    return bitmap;
}

/* The stores of one group; the result is that of the last store made. */
struct Stores {
    HmNode *group;
    u32 rc = 0;
    u32 text(const char *name, const char *value)
    {
        return rc = set_prop_val(group, name, "%s", value);
    }
    u32 flag(const char *name, u32 flags, u32 bit) { return text(name, yes_no(flags, bit)); }
    u32 mode(u32 flags) { return text("OperationalMode", (flags & ORSA_DCBX_FLAG_ENABLED) != 0 ? "True" : "False"); }
    u32 hex(const char *name, u32 value) { return rc = set_prop_val(group, name, "0x%02x", value); }
    u32 number(const char *name, u32 value) { return rc = set_prop_val(group, name, "%d", (int)value); }
};

/* OperationalPGSettings: the operating parameters, the controller's
 * configured multichannel type and the PG flags decide OperationalMode. */
u32 operational_pg(u32 port, u32 phba_port, u32 domain, HmNode *group, const u8 *b, Stores &s)
{
    HmNode *pgs = group->parent, *dcbx = pgs != nullptr ? pgs->parent : nullptr;
    HmNode *port_group = dcbx != nullptr ? dcbx->parent : nullptr;
    HmNode *ks = port_group != nullptr ? port_group->parent : nullptr;
    if (!is(name_of(pgs), "PriorityGroups") || !is(name_of(dcbx), "DCBX") ||
        !is(name_of(port_group), "PortDiscoveryAndConfiguration") || !is(name_of(ks), "Kalderstone"))
        return 1;
    u32 flag = 0;
    ORSA_get_operating_value(port, domain, phba_port, group, &flag);
    char configured[HM_VALUE_SIZE] = "";
    HmNode *cm = internal_get_node(ks, "ChannelManagement", HM_KIND_GROUP);
    if (cm != nullptr && internal_get_property(cm, "ConfiguredManagementType", configured) != 0)
        return 1;
    u32 pg = orsa_rd32(b + ORSA_DCBX_PG_FLAGS);
    // A port running a multichannel type negotiates no PGs of its own.
    if (strcmp(configured, "N/A") != 0 || (pg & ORSA_DCBX_FLAG_OPER_NA) != 0)
        s.text("OperationalMode", "N/A");
    else if (flag == 0)
        s.mode(pg);
    s.flag("Error", pg, ORSA_DCBX_FLAG_ERROR);
    u32 synced = s.flag("Synced", pg, ORSA_DCBX_FLAG_SYNCED);
    if (s.number("NumPGSupported", b[ORSA_DCBX_NUM_PG]) != 0 || synced != 0)
        return 1;
    return s.hex("PG15PriorityMemberShip", orsa_dcbx_pg_members(b, ORSA_DCBX_PG15));
}

}  // namespace

u32 ORSA_get_feature_vars(u32 port, u32 phba_port, u32 domain, HmNode *group, u32 controller)
{
    if (group == nullptr)
        return 1;
    u8 b[ORSA_DCBX_V0_SIZE];
    u32 rc = orsa_dcbx_read(orsa_dcbx_port_where(port, phba_port, domain, controller), view_of(group), 0, b);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Get DCBX CFG params failed with status %u.\n", __func__,
               (unsigned)rc);
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return rc;
    }
    const char *g = name_of(group), *p = parent_name(group);
    u32 pg = orsa_rd32(b + ORSA_DCBX_PG_FLAGS), pfc = orsa_rd32(b + ORSA_DCBX_PFC_FLAGS);
    u32 app = orsa_rd32(b + ORSA_DCBX_APP_FLAGS);
    Stores s{group};
    s.rc = 1;  // a group none of the rules serves
    if (is(g, "DCBXPortVars"))
        s.text("DCBXState", b[ORSA_DCBX_STATE] == 1 ? "Enabled" : "Disabled");
    if (is(g, "AdministratorPFCSetting")) {
        s.flag("Enabled", pfc, ORSA_DCBX_FLAG_ENABLED);
        s.flag("Advertise", pfc, ORSA_DCBX_FLAG_ADVERTISE);
        s.flag("Willing", pfc, ORSA_DCBX_FLAG_WILLING);
        s.hex("PriorityBitMap", pfc_members(b));
    }
    if (is(g, "PeerPFCSetting")) {
        s.flag("Enabled", pfc, ORSA_DCBX_FLAG_ENABLED);
        s.flag("Willing", pfc, ORSA_DCBX_FLAG_WILLING);
        s.flag("Advertise", pfc, ORSA_DCBX_FLAG_ADVERTISE);
        s.flag("Error", pfc, ORSA_DCBX_FLAG_ERROR);
        s.hex("PriorityBitMap", pfc_members(b));
    }
    if (is(g, "OperationalPFCSettings")) {
        s.mode(pfc);
        s.flag("Error", pfc, ORSA_DCBX_FLAG_ERROR);
        s.flag("Synced", pfc, ORSA_DCBX_FLAG_SYNCED);
        if ((pfc & ORSA_DCBX_FLAG_ENABLED) != 0)
            s.hex("PriorityBitMap", pfc_members(b));
        else
            s.text("PriorityBitMap", "N/A");
    }
    if (is(g, "AdministratorPGSetting") || is(g, "PeerPGSetting")) {
        bool peer = is(g, "PeerPGSetting");
        s.flag("Enabled", pg, ORSA_DCBX_FLAG_ENABLED);
        u32 checked = 0;
        if (peer) {
            s.flag("Willing", pg, ORSA_DCBX_FLAG_WILLING);
            s.flag("Advertise", pg, ORSA_DCBX_FLAG_ADVERTISE);
            checked = s.flag("Error", pg, ORSA_DCBX_FLAG_ERROR);
        } else {
            s.flag("Advertise", pg, ORSA_DCBX_FLAG_ADVERTISE);
            checked = s.flag("Willing", pg, ORSA_DCBX_FLAG_WILLING);
        }
        if (s.number("NumPGSupported", b[ORSA_DCBX_NUM_PG]) != 0 || checked != 0)
            return 1;
        s.hex("PG15PriorityMemberShip", orsa_dcbx_pg_members(b, ORSA_DCBX_PG15));
    }
    if (is(g, "OperationalPGSettings") && operational_pg(port, phba_port, domain, group, b, s) != 0)
        return 1;
    if (is(p, "AdministratorPGSetting") || is(p, "PeerPGSetting") || is(p, "OperationalPGSettings")) {
        i32 n = hm_instance_number(group);
        if (n < 0 || n > 7)
            return 1;
        s.hex("PriorityMembership", orsa_dcbx_pg_members(b, (u32)n));
        s.number("Bandwidth", b[ORSA_DCBX_PG_BANDWIDTH + n]);
    }
    if (is(g, "AdministratorTLVSetting") || is(g, "PeerTLVSetting")) {
        s.flag("Enabled", app, ORSA_DCBX_FLAG_ENABLED);
        s.flag("Advertise", app, ORSA_DCBX_FLAG_ADVERTISE);
        s.flag("Willing", app, ORSA_DCBX_FLAG_WILLING);
        if (is(g, "PeerTLVSetting"))
            s.flag("Error", app, ORSA_DCBX_FLAG_ERROR);
    }
    if (is(p, "AdministratorTLVSetting") || is(p, "PeerTLVSetting") || is(p, "OperationalTLVSettings")) {
        u32 n = orsa_dcbx_app_entry_index(group);
        if (n >= ORSA_DCBX_APP_ENTRY_COUNT)
            return 1;
        const u8 *e = orsa_dcbx_app_entry(b, n);
        s.number("ProtocolSelector", e[ORSA_DCBX_APP_SELECTOR]);
        s.hex("ProtocolID", orsa_rd16(e + ORSA_DCBX_APP_PROTOCOL));
        s.hex("OUI", orsa_rd32(e + ORSA_DCBX_APP_OUI));
        s.hex("PriorityBitMap", orsa_dcbx_app_members(e));
    }
    if (is(g, "OperationalTLVSettings")) {
        s.mode(app);
        s.flag("Error", app, ORSA_DCBX_FLAG_ERROR);
        s.flag("Synced", app, ORSA_DCBX_FLAG_SYNCED);
    }
    return s.rc;
}

u32 ORSA_get_operating_value(u32 port, u32 domain, u32 phba_port, HmNode *group, u32 *flag)
{
    u8 *buf = (u8 *)calloc(1, kOpgSize);
    if (buf == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Insufficent Memory.\n", __func__);
        return 1;
    }
    buf[0] = 1;
    buf[4] = (u8)(phba_port & 0x3F);
    // The operating parameters are a NIC command; a port of the iSCSI class
    // sends it through its own device, which serves the same adapter.
    i32 device = get_port_bitmap((i32)get_ks_instance(group), (i32)phba_port) == ORSA_PROTO_ISCSI ? ORSA_PROTO_ISCSI
                                                                                                   : ORSA_PROTO_NIC;
    u32 rc = ioctl_get_opg_params(OrsaPort{port, device}, buf, kOpgSize, (u8)domain, (u8)phba_port);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Get Operating Params IOCTL failed with status = %d\n", __func__,
               (int)rc);
        free(buf);
        return 1;
    }
    u32 count = orsa_rd16(buf);
    // The walk stays inside the reply and stops at a descriptor that would
    // not move it on.
    for (u32 i = 0, at = kOpgFirst; i < count && at + kOpgDescriptorMin <= kOpgSize; i++) {
        u8 mode = buf[at + 5] & 7;
        if (mode == 0 || mode == 2) {
            set_prop_val(group, "OperationalMode", "%s", "N/A");
            *flag = 1;
        }
        u32 step = orsa_rd16(buf + at + 2);
        if (step == 0)
            break;
        at += step;
    }
    free(buf);
    return 0;
}

u32 ORSA_set_feature_vars(u32 port, u32 phba_port, u32 domain, HmNode *property, const char *value, u32 controller)
{
    if (property == nullptr || value == nullptr || property->parent == nullptr)
        return 1;
    OrsaWhere w = orsa_dcbx_port_where(port, phba_port, domain, controller);
    u8 reply[ORSA_DCBX_V0_SIZE], request[ORSA_DCBX_V0_SIZE];
    u32 rc = orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 0, reply);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Get DCBX CFG params failed with status %u.\n", __func__,
               (unsigned)rc);
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return rc;
    }
    orsa_dcbx_write_request(reply, 0, request);

    HmNode *group = property->parent;
    const char *name = property->name, *g = name_of(group), *p = parent_name(group);
    u32 flags_at = is(g, "AdministratorPFCSetting")   ? ORSA_DCBX_PFC_FLAGS
                   : is(g, "AdministratorPGSetting")  ? ORSA_DCBX_PG_FLAGS
                   : is(g, "AdministratorTLVSetting") ? ORSA_DCBX_APP_FLAGS
                                                      : 0;
    u32 bit = is(name, "Willing") ? ORSA_DCBX_FLAG_WILLING
              : is(name, "Advertise") ? ORSA_DCBX_FLAG_ADVERTISE
              : is(name, "Enabled")   ? ORSA_DCBX_FLAG_ENABLED
                                      : 0;
    u8 bitmap = 0;
    bool wants_bitmap = is(name, "PriorityBitMap") || is(name, "PG15PriorityMemberShip");
    if (wants_bitmap && !orsa_dcbx_parse_bitmap(value, &bitmap)) {
        orsa_set_last_status(ORSA_STATUS_DCBX_INVALID_VALUE, "Invalid Value.");
        return 1;
    }
    if (is(name, "DCBXState")) {
        request[ORSA_DCBX_STATE] = strcasecmp(value, "Enabled") == 0 ? (u8)(request[ORSA_DCBX_STATE] | 1u) : 0;
    } else if (bit != 0 && flags_at != 0) {
        u32 flags = orsa_rd32(request + flags_at);
        flags = strcasecmp(value, "Yes") == 0 ? flags | bit : flags & ~bit;
        for (u32 i = 0; i < 4; i++)
            request[flags_at + i] = (u8)(flags >> (8 * i));
    } else if (is(name, "PriorityBitMap") && is(g, "AdministratorPFCSetting")) {
        for (u32 k = 0; k < 8; k++)
            request[ORSA_DCBX_PFC_ENABLE + k] = (u8)((bitmap >> k) & 1u);
    } else if (is(name, "PriorityBitMap") && is(p, "AdministratorTLVSetting")) {
        u32 n = orsa_dcbx_app_entry_index(group);
        if (n >= ORSA_DCBX_APP_ENTRY_COUNT)
            return 1;
        orsa_dcbx_app_set_members(orsa_dcbx_app_entry(request, n), bitmap);
    } else if (is(name, "PG15PriorityMemberShip") && is(g, "AdministratorPGSetting")) {
        for (u32 k = 0; k < 8; k++)
            if ((bitmap >> k) & 1u)
                request[ORSA_DCBX_PG_IDS + ORSA_DCBX_PG_ID_SLOT * k] = (u8)ORSA_DCBX_PG15;
    } else {
        // Nothing of the administrator view: no write that changes nothing.
        return orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED);
    }

    rc = orsa_dcbx_write(w, 0, request);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Set DCBX CFG params failed.\n", __func__);
        orsa_set_status(ORSA_STATUS_DCBX_SET_FAILED);
        return rc;
    }
    return 0;
}

u32 get_port_vars(u32 port, u32 phba_port, u32 domain, HmNode *port_group)
{
    HmNode *dcbx = port_group != nullptr ? internal_get_node(port_group, "DCBX", HM_KIND_GROUP) : nullptr;
    HmNode *vars = dcbx != nullptr ? internal_get_node(dcbx, "DCBXPortVars", HM_KIND_GROUP) : nullptr;
    HmNode *stats = dcbx != nullptr ? internal_get_node(dcbx, "DCBXStatistics", HM_KIND_GROUP) : nullptr;
    if (vars == nullptr || stats == nullptr)
        return 1;
    u32 asic = get_ks_type(orsa_controller_of(port_group));
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    bool pivard = asic == ORSA_ASIC_PIVARD;
    OrsaWhere w = orsa_dcbx_port_where(port, phba_port, domain, get_ks_instance(port_group));
    u8 reply[ORSA_DCBX_MIB_SIZE] = {};
    u32 rc = pivard ? ioctl_pivard_get_dcbx_mib_params(w.at, reply, w.domain, w.phba_port)
                    : ioctl_get_dcbx_mib_params(w.at, reply, w.domain, w.phba_port);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "ioctl_get_dcbx_mib_params failed.\n");
        orsa_set_status(ORSA_STATUS_DCBX_MIB_FAILED);
        return rc;
    }
    u32 values[ORSA_DCBX_MIB_FIELDS];
    orsa_dcbx_mib_values(reply, pivard, values);
    u32 result = 0;
    for (u32 i = 0; i < ORSA_DCBX_MIB_FIELDS; i++) {
        const OrsaDcbxMibField &f = orsa_dcbx_mib_fields[i];
        // The counters are unsigned 32-bit: "%d" would show large ones negative.
        if (set_prop_val(f.statistics ? stats : vars, f.property, "%u", (unsigned)values[i]) != 0)
            result = 1;
    }
    return result;
}

/* ---- property handlers ---- */

namespace {

/* The group a feature handler reads: the property's own. */
u32 read_group(HmNode *property, HmNode *group)
{
    Address a;
    if (!address_of(property, &a))
        return 1;
    return ORSA_get_feature_vars((u32)a.pa.port_number, (u32)a.pa.phba_port, a.pa.domain_id, group, a.controller);
}

u32 write_property(HmNode *property, char *value)
{
    Address a;
    if (value == nullptr || !address_of(property, &a))
        return 1;
    u32 rc = ORSA_set_feature_vars((u32)a.pa.port_number, (u32)a.pa.phba_port, a.pa.domain_id, property, value,
                                   a.controller);
    if (rc != 0)
        return rc;
    set_prop_val(property->parent, property->name, "%s", value);
    return 0;
}

/* The shared get: "N/A" and 256 in a virtual function, else the group read
 * and the property's fresh value. */
u32 feature_get(HmNode *property, char *value, HmNode *group)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    u32 rc = read_group(property, group);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:ORSA_get_feature_vars failed with status %u.\n", __func__,
               (unsigned)rc);
        return rc;
    }
    return orsa_answer(property, value, 0);
}

u32 feature_handler(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    return mode == HM_MODE_SET ? write_property(property, value) : feature_get(property, value, property->parent);
}

/* The port group of a DCBXPortVars or DCBXStatistics property. */
u32 port_vars_handler(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode == HM_MODE_SET)
        return orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED);
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *dcbx = property->parent->parent;
    HmNode *port_group = dcbx != nullptr ? dcbx->parent : nullptr;
    Address a;
    if (port_group == nullptr || !address_of(property, &a))
        return 1;
    u32 rc = get_port_vars((u32)a.pa.port_number, (u32)a.pa.phba_port, a.pa.domain_id, port_group);
    return rc != 0 ? rc : orsa_answer(property, value, 0);
}

}  // namespace

u32 handle_pfc_feature_vars(HmNode *property, char *value, u32 mode)
{
    return feature_handler(property, value, mode);
}

u32 handle_pg_feature_vars(HmNode *property, char *value, u32 mode)
{
    return feature_handler(property, value, mode);
}

u32 handle_app_feature_vars(HmNode *property, char *value, u32 mode)
{
    return feature_handler(property, value, mode);
}

u32 handle_pg15_membership(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode == HM_MODE_SET)
        return write_property(property, value);
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    u32 asic = get_ks_type(orsa_controller_of(property));
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic != ORSA_ASIC_VESKARN)
        return orsa_store_and_answer(property, value, "N/A") != 0 ? 1 : 0;
    return feature_get(property, value, property->parent);
}

u32 handle_bwg_props(HmNode *property, char *value, u32 mode)
{
    if (mode == HM_MODE_SET)
        return orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED);
    return feature_handler(property, value, mode);
}

u32 handle_apptlv_feature_vars(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode == HM_MODE_SET) {
        if (vm_flag)
            return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
        return write_property(property, value);
    }
    // A virtual function sees "N/A" only when the read fails.
    if (vm_flag)
        orsa_answer_na(value);
    u32 rc = read_group(property, property->parent);
    return rc != 0 ? rc : orsa_answer(property, value, 0);
}

u32 handle_dcbx_port_vars(HmNode *property, char *value, u32 mode)
{
    return port_vars_handler(property, value, mode);
}

u32 handle_dcbx_stats_props(HmNode *property, char *value, u32 mode)
{
    return port_vars_handler(property, value, mode);
}

u32 handle_DCBXState(HmNode *property, char *value, u32 mode)
{
    Address a;
    if (property == nullptr || property->parent == nullptr || !address_of(property, &a))
        return 1;
    if (mode == HM_MODE_SET) {
        u32 rc = write_property(property, value);
        if (rc != 0)
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:ORSA_set_feature_vars failed with status %d.\n", __func__,
                   (int)rc);
        return rc;
    }
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    u32 asic = get_ks_type(orsa_controller_of(property));
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic != ORSA_ASIC_PIVARD) {
        u8 config[kFwConfigSize] = {};
        OrsaWhere w = orsa_dcbx_port_where((u32)a.pa.port_number, (u32)a.pa.phba_port, a.pa.domain_id, a.controller);
        // Only the capability bit matters here: a failed read leaves it clear.
        (void)ioctl_get_fw_config(w.at, config, w.domain, w.phba_port);
        if ((orsa_rd32(config + kFunctionCapsAt) & kNoDcbxCap) != 0)
            return orsa_store_and_answer(property, value, "N/A");
    }
    return feature_get(property, value, property->parent);
}

u32 handle_DCBXMode(HmNode *property, char *value, u32 mode)
{
    Address a;
    if (property == nullptr || property->parent == nullptr || !address_of(property, &a))
        return 1;
    OrsaWhere w = orsa_dcbx_port_where((u32)a.pa.port_number, (u32)a.pa.phba_port, a.pa.domain_id, a.controller);
    if (mode != HM_MODE_SET) {
        if (vm_flag)
            return orsa_refuse_in_vf(value);
        u8 reply[kModeSize] = {};
        u32 rc = ioctl_get_dcbx_mode(w.at, reply, w.domain, w.phba_port);
        if (rc != 0) {
            orsa_set_status(ORSA_STATUS_DCBX_MODE_GET_FAILED);
            return rc;
        }
        const char *text = orsa_dcbx_mode_text(reply[0]);
        if (text != nullptr)
            set_prop_val(property->parent, property->name, "%s", text);
        return orsa_answer(property, value, 0);
    }
    char current[HM_VALUE_SIZE] = "";
    if (value == nullptr || handle_DCBXMode(property, current, HM_MODE_GET) != 0)
        return 1;
    if (strcasecmp(value, current) == 0)
        return 0;
    int code = orsa_dcbx_mode_code(value);
    if (code < 0) {
        orsa_set_last_status(ORSA_STATUS_DCBX_INVALID_VALUE, "Invalid Value.");
        return 1;
    }
    u8 request[kModeSize] = {0, (u8)code, 0, 0};
    u32 rc = ioctl_set_dcbx_mode(w.at, request, w.domain, w.phba_port);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_DCBX_MODE_SET_FAILED);
        return rc;
    }
    set_prop_val(property->parent, property->name, "%s", value);
    orsa_set_status(ORSA_STATUS_DCBX_MODE_CHANGED);
    return 0;
}

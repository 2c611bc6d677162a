/* LLDP, QCN and flow control of a port. */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_lldp.h"

#include "config/cfg_dcbx.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

namespace {

constexpr u32 kCat = ORSA_LOG_CAT_OTHER;

bool same(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && strcasecmp(a, b) == 0;
}

bool named(HmNode *node, const char *name)
{
    return node != nullptr && same(node->name, name);
}

const char *enabled_text(bool on)
{
    return on ? "Enabled" : "Disabled";
}

const char *yes_no(u32 flags, u32 bit)
{
    return (flags & (1u << bit)) != 0 ? "Yes" : "No";
}

void wr32(u8 *p, u32 v)
{
    p[0] = (u8)v;
    p[1] = (u8)(v >> 8);
    p[2] = (u8)(v >> 16);
    p[3] = (u8)(v >> 24);
}

/* Where the commands of a node below a port group go: the function of the
 * port's class (1 iSCSI, 2 NIC, as discovery marked it), as for the DCBX
 * block. A port of neither class has no function ({0, ...}): nothing is
 * sent for it. False for a node below no port. */
bool port_target(HmNode *node, OrsaWhere *w)
{
    if (!orsa_dcbx_where(node, w))
        return false;
    if (w->at.protocol != ORSA_PROTO_ISCSI && w->at.protocol != ORSA_PROTO_NIC)
        w->at = OrsaPort{0, ORSA_PROTO_NONE};
    return true;
}

/* The LLDP block of a port's view (0 its own, 1 the peer's). A port of no
 * class sends nothing and reads as all zeros. */
u32 read_lldp_block(const OrsaWhere &w, u32 view, u8 block[ORSA_LLDP_CFG_SIZE])
{
    memset(block, 0, ORSA_LLDP_CFG_SIZE);
    if (w.at.instance == 0)
        return 0;
    wr32(block, view);
    return ioctl_get_lldp_params(w.at, block, w.domain, w.phba_port);
}

/* A text field of the LLDP block: the firmware need not end it inside its
 * 256 bytes, and the tree keeps at most 255 characters of it. */
u32 store_text(HmNode *group, const char *name, const u8 *field)
{
    int len = (int)strnlen((const char *)field, HM_VALUE_SIZE - 1);
    return set_prop_val(group, name, "%.*s", len, (const char *)field);
}

const char *chassis_type_text(u32 subtype)
{
    static const char *const kTexts[] = {"Chassis Component", "Interface Alias", "Port Component", "MAC Address",
                                         "Network Address",   "Interface Name",  "Locally Assigned"};
    return subtype >= 1 && subtype <= 7 ? kTexts[subtype - 1] : "Unknown";
}

const char *port_type_text(u32 subtype)
{
    static const char *const kTexts[] = {"Interface Alias", "Port Component",   "MAC Address",     "Network Address",
                                         "Interface Name",  "Agent Circuit Id", "Locally Assigned"};
    return subtype >= 1 && subtype <= 7 ? kTexts[subtype - 1] : "Unknown";
}

const char *capability_text(u32 bits)
{
    static const char *const kTexts[] = {"Other", "Repeater", "Bridge", "WLAN", "Router", "Telephone", "Docsis", "Station"};
    for (u32 bit = 0; bit < 8; bit++)
        if ((bits & (1u << bit)) != 0)
            return kTexts[bit];
    return "Unknown";
}

/* The LLDP enables of the local configuration: property, byte, bit. */
struct Enable {
    const char *name;
    u32 byte;
    u8 bit;
};
const Enable kEnables[] = {
    {"TxState", 0, 0x01},          {"RxState", 0, 0x02},       {"PortDescriptionTLV", 1, 0x01},
    {"SystemNameTLV", 2, 0x01},    {"SystemDescriptionTLV", 3, 0x01}, {"SystemCapabilitiesTLV", 4, 0x01},
};

const Enable *enable_of(const char *name)
{
    for (const Enable &e : kEnables)
        if (same(name, e.name))
            return &e;
    return nullptr;
}

}  // namespace

/* ---- LLDP ---- */

u32 get_lldp_props(OrsaPort at, u8 phba_port, u8 domain, HmNode *group)
{
    if (group == nullptr || group->parent == nullptr || group->parent->parent == nullptr ||
        orsa_controller_of(group) != group->parent->parent->parent)
        return 1;
    pdebug(kCat, ORSA_LOG_DEBUG, "In %s, sizeof(LLDP_GET_LLDP_CFG_PARAMS) = %d.\n", __func__, (int)ORSA_LLDP_CFG_SIZE);
    bool local = named(group, "LocalConfiguration");
    OrsaWhere w{at, domain, phba_port};
    u8 block[ORSA_LLDP_CFG_SIZE];
    u32 rc = read_lldp_block(w, local ? 0 : 1, block);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "In %s, ioctl_get_lldp_params failed.\n", __func__);
        orsa_set_status(ORSA_STATUS_LLDP_GET_FAILED);
        return rc;
    }
    u32 result = 0;
    if (local)
        for (const Enable &e : kEnables)
            result |= set_prop_val(group, e.name, "%s", enabled_text((block[e.byte] & e.bit) != 0));
    result |= set_prop_val(group, "ChassisType", "%s", chassis_type_text(orsa_rd32(block + 264)));
    result |= set_prop_val(group, "PortType", "%s", port_type_text(orsa_rd32(block + 524)));
    result |= set_prop_val(group, "SystemCapabilities", "%s", capability_text(orsa_rd32(block + 1556)));
    result |= store_text(group, "ChassisId", block + 8);
    result |= store_text(group, "PortId", block + 268);
    result |= store_text(group, "PortDescription", block + 1300);
    result |= store_text(group, "SystemName", block + 532);
    result |= store_text(group, "SystemDescription", block + 788);
    result |= set_prop_val(group, "TTL", "%d", (int)orsa_rd32(block + 528));
    return result;
}

u32 handle_LLDP_properties(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->body == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    HmNode *group = property->parent;
    OrsaWhere w;
    if (!port_target(group, &w))
        return 1;
    if (mode == HM_MODE_GET) {
        if (vm_flag)
            return orsa_refuse_in_vf(value);
        u32 rc = get_lldp_props(w.at, w.phba_port, w.domain, group);
        if (rc != 0) {
            pdebug(kCat, ORSA_LOG_ERROR, "In %s, get_lldp_props failed.\n", __func__);
            return rc;
        }
        return orsa_answer(property, value, 0);
    }
    if (mode != HM_MODE_SET)
        return 0;
    char current[HM_VALUE_SIZE] = "";
    if (handle_LLDP_properties(property, current, HM_MODE_GET) != 0)
        return 1;
    if (same(current, value)) {
        pdebug(kCat, ORSA_LOG_INFO, "In %s, The property is already set with this value.\n", __func__);
        return 0;
    }
    const Enable *e = enable_of(property->name);
    if (e == nullptr)
        return 1;
    u8 block[ORSA_LLDP_CFG_SIZE];
    u32 rc = read_lldp_block(w, 0, block);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "In %s, ioctl_get_lldp_params failed.\n", __func__);
        orsa_set_status(ORSA_STATUS_LLDP_GET_FAILED);
        return rc;
    }
    u8 request[ORSA_LLDP_SET_SIZE] = {};
    memcpy(request, block, 5);
    if (same(value, "Enabled"))
        request[e->byte] |= e->bit;
    else
        request[e->byte] &= (u8)~e->bit;
    // A port without a function has nowhere to send the change: it fails
    // rather than passing for a change made.
    rc = w.at.instance != 0 ? ioctl_set_lldp_params(w.at, request, w.domain, w.phba_port) : 1;
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "In %s, ioctl_set_lldp_params failed.\n", __func__);
        orsa_set_status(ORSA_STATUS_LLDP_SET_FAILED);
        return rc;
    }
    return set_prop_val(group, property->name, "%s", value) != 0 ? 1 : 0;
}

u32 handle_lldp_stats_props(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->body == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    if (mode != HM_MODE_GET)
        return 1;
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *group = property->parent;
    OrsaWhere w;
    if (!port_target(group, &w))
        return 1;
    u8 stats[ORSA_LLDP_STATS_SIZE] = {};
    u32 rc = w.at.instance != 0 ? ioctl_get_lldp_stats(w.at, stats, w.domain, w.phba_port) : 0;
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "ioctl_get_lldp_stats failed.\n");
        orsa_set_status(ORSA_STATUS_LLDP_STATS_FAILED);
        return rc;
    }
    static const struct {
        const char *name;
        u32 offset;
    } kCounters[] = {{"TxPacketCount", 0},
                     {"RxPacketCount", 4},
                     {"NumPacketsDropped", 12},
                     {"UnrecognizedTLVs", 16},
                     {"OrganizationalTLVCount", 24}};
    for (const auto &c : kCounters) {
        u32 store = set_prop_val(group, c.name, "%d", (int)orsa_rd32(stats + c.offset));
        if (store != 0)
            return store;
    }
    return orsa_answer(property, value, 0);
}

/* ---- QCN ---- */

namespace {

u32 qcn_view(HmNode *group)
{
    if (named(group, "AdministratorQCNSetting"))
        return ORSA_DCBX_VIEW_ADMIN;
    return named(group, "PeerQCNSetting") ? ORSA_DCBX_VIEW_PEER : ORSA_DCBX_VIEW_OPER;
}

}  // namespace

u32 ORSA_get_QCN_props(OrsaPort at, u8 phba_port, u8 domain, HmNode *group, u32)
{
    if (group == nullptr)
        return 1;
    OrsaWhere w{at, domain, phba_port};
    u8 block[ORSA_DCBX_V1_SIZE];
    u32 rc = orsa_dcbx_read(w, qcn_view(group), 1, block);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:Get DCBX CFG command failed with status 0x%x.\n", __func__, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return rc;
    }
    // The stores cannot fail in a group of these names; the read decides.
    u32 flags = orsa_rd32(block + ORSA_DCBX_QCN_FLAGS);
    if (named(group, "AdministratorQCNSetting")) {
        set_prop_val(group, "Enabled", "%s", yes_no(flags, 0));
        set_prop_val(group, "Advertise", "%s", yes_no(flags, 1));
        set_prop_val(group, "Willing", "%s", yes_no(flags, 2));
        set_prop_val(group, "CNPVBitMap", "0x%x", block[ORSA_DCBX_QCN_CNPV]);
    } else if (named(group, "PeerQCNSetting")) {
        set_prop_val(group, "Enabled", "%s", yes_no(flags, 0));
        set_prop_val(group, "Willing", "%s", yes_no(flags, 2));
        set_prop_val(group, "Advertise", "%s", yes_no(flags, 1));
        set_prop_val(group, "Error", "%s", yes_no(flags, 31));
        set_prop_val(group, "CNPVBitMap", "0x%x", block[ORSA_DCBX_QCN_CNPV]);
        set_prop_val(group, "ReadyBitMap", "0x%x", block[ORSA_DCBX_QCN_READY]);
    } else if (named(group, "OperationalQCNSettings")) {
        const char *mode = (flags & (1u << 30)) != 0 ? "N/A" : (flags & 1u) != 0 ? "True" : "False";
        set_prop_val(group, "OperationalMode", "%s", mode);
        set_prop_val(group, "Error", "%s", yes_no(flags, 31));
        set_prop_val(group, "Synced", "%s", yes_no(flags, 3));
        set_prop_val(group, "CNPVBitMap", "0x%x", block[ORSA_DCBX_QCN_CNPV]);
        set_prop_val(group, "ReadyBitMap", "0x%x", block[ORSA_DCBX_QCN_READY]);
    }
    return 0;
}

u32 ORSA_set_QCN_props(OrsaPort at, u8 phba_port, u8 domain, HmNode *property, const char *value, u32)
{
    if (property == nullptr || value == nullptr)
        return 1;
    static const struct {
        const char *name;
        u32 bit;
    } kFlags[] = {{"Enabled", 0}, {"Advertise", 1}, {"Willing", 2}};
    i32 bit = -1;
    for (const auto &f : kFlags)
        if (same(property->name, f.name))
            bit = (i32)f.bit;
    u8 cnpv = 0;
    bool is_cnpv = same(property->name, "CNPVBitMap");
    if (bit < 0 && !is_cnpv)
        return 1;
    // A bitmap holds eight priorities: anything else would reach the adapter
    // as some other bitmap.
    if (is_cnpv && !orsa_dcbx_parse_bitmap(value, &cnpv)) {
        orsa_set_last_status(ORSA_STATUS_DCBX_INVALID_VALUE, "Invalid Value.");
        return 1;
    }
    OrsaWhere w{at, domain, phba_port};
    u8 reply[ORSA_DCBX_V1_SIZE];
    u32 rc = orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 1, reply);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed to get DCBX CFG params.\n", __func__);
        orsa_set_status(ORSA_STATUS_DCBX_GET_FAILED);
        return rc;
    }
    u8 request[ORSA_DCBX_V1_SIZE];
    orsa_dcbx_write_request(reply, 1, request);
    if (is_cnpv) {
        request[ORSA_DCBX_QCN_CNPV] = cnpv;
    } else {
        u32 flags = orsa_rd32(request + ORSA_DCBX_QCN_FLAGS);
        if (same(value, "Yes"))
            flags |= 1u << bit;
        else
            flags &= ~(1u << bit);
        wr32(request + ORSA_DCBX_QCN_FLAGS, flags);
    }
    rc = orsa_dcbx_write(w, 1, request);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed to Set DCBX CFG params.\n", __func__);
        orsa_set_status(ORSA_STATUS_DCBX_SET_FAILED);
        return rc;
    }
    return 0;
}

u32 orsa_qcn_read_failed(HmNode *property, char *value, u32 status)
{
    pdebug(kCat, ORSA_LOG_ERROR, "%s:ORSA_get_QCN_props failed with status %d.\n", "handle_update_qcn_props",
           (int)status);
    if (property != nullptr && named(property->parent, "OperationalQCNSettings") &&
        status == ORSA_STATUS_QCN_NO_OPERATIONAL) {
        u32 store = set_prop_val(property->parent, "OperationalMode", "%s", "N/A");
        return orsa_answer(property, value, store);
    }
    return status;
}

u32 handle_update_qcn_props(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->body == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    HmNode *group = property->parent;
    OrsaWhere w;
    HmNode *ks = orsa_controller_of(group);
    if (ks == nullptr || !port_target(group, &w))
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_KS3 || gen == ORSA_ASIC_PIVARD)
        return orsa_fail_with(ORSA_STATUS_QCN_UNSUPPORTED);
    u32 controller = get_ks_instance(group);
    if (mode == HM_MODE_GET) {
        if (vm_flag)
            orsa_answer_na(value);
        u32 rc = ORSA_get_QCN_props(w.at, w.phba_port, w.domain, group, controller);
        if (rc != 0)
            return orsa_qcn_read_failed(property, value, rc);
        return orsa_answer(property, value, 0);
    }
    if (mode != HM_MODE_SET)
        return 0;
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    u32 rc = ORSA_set_QCN_props(w.at, w.phba_port, w.domain, property, value, controller);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:ORSA_set_QCN_props failed with status %d.\n", __func__, (int)rc);
        return rc;
    }
    return set_prop_val(group, property->name, "%s", value) != 0 ? 1 : 0;
}

/* ---- flow control ---- */

namespace {

constexpr u8 kFlowWrite = 0x08, kFlowWriteNpar = 0x0B;

/* The NIC function that carries a port's flow-control command: the port's
 * own NIC physical HBA, else the controller's first (the request names the
 * port in its byte 3). */
OrsaPort flow_function(HmNode *port_group)
{
    HmNode *ks = orsa_controller_of(port_group);
    char number[16];
    snprintf(number, sizeof number, "%d", (int)get_phba_port_number(port_group));
    HmNode *nic = ks != nullptr ? get_matchnode_by_propvalue(ks, "NICPhysicalHBA", "PortNumber", number) : nullptr;
    if (nic == nullptr && ks != nullptr)
        nic = get_first_instance(ks, "NICPhysicalHBA");
    return nic != nullptr ? orsa_port_of(nic) : OrsaPort{0, ORSA_PROTO_NONE};
}

/* One flow-control command (205): byte 0 the pause nibbles, byte 1 the
 * request flags (0 a read), byte 3 the port; a read answers in byte 0. */
u32 flow_command(HmNode *port_group, u8 *pause, u8 flags)
{
    OrsaPort at = flow_function(port_group);
    if (at.instance == 0)
        return 1;
    u8 buffer[ORSA_HDR_SIZE + 8] = {};
    u8 *payload = buffer + ORSA_HDR_SIZE;
    u8 port = (u8)get_phba_port_number(port_group);
    payload[0] = flags != 0 ? *pause : 0;
    payload[1] = flags;
    payload[3] = (u8)(port & 0x3F);
    u32 rc = ioctl_mgmt_flow_control(at, buffer, (u8)get_domain_id(port_group), port);
    if (rc == 0 && flags == 0)
        *pause = payload[0];
    return rc;
}

u8 flow_flags(const char *mc_type)
{
    return same(mc_type, "NPAR") ? kFlowWriteNpar : kFlowWrite;
}

/* Whether a flow-control property of the port group reads "Enabled"
 * (through its handler); false with *ok cleared when it cannot be read. */
bool flow_enabled(HmNode *port_group, const char *name, bool *ok)
{
    char text[HM_VALUE_SIZE] = "";
    HmNode *p = internal_get_node(port_group, name, HM_KIND_PROPERTY);
    if (p == nullptr || handle_flow_control_properties(p, text, HM_MODE_GET) != 0) {
        *ok = false;
        return false;
    }
    return same(text, "Enabled");
}

}  // namespace

u32 ORSA_update_flow_control_props(HmNode *port_group, u16 transmit, u16 receive)
{
    if (port_group == nullptr)
        return 1;
    u32 rc = set_prop_val(port_group, "TxFlowControl", "%s", enabled_text(transmit == 1));
    rc |= set_prop_val(port_group, "RxFlowControl", "%s", enabled_text(receive == 1));
    return rc != 0 ? 1 : 0;
}

u32 handle_flow_control_properties(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->body == nullptr || value == nullptr)
        return 1;
    if (vm_flag)
        orsa_answer_na(value);
    HmNode *port_group = property->parent;
    HmNode *ks = orsa_controller_of(port_group);
    if (port_group == nullptr || ks == nullptr)
        return 1;
    if (mode != HM_MODE_GET && mode != HM_MODE_SET)
        return 0;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_PIVARD) {
        set_prop_val(port_group, "TxFlowControl", "N/A");
        set_prop_val(port_group, "RxFlowControl", "N/A");
        // Nothing can be changed on these adapters: a write is refused, not
        // passed off as made.
        if (mode == HM_MODE_SET)
            return orsa_fail_with(ORSA_STATUS_FLOW_SET_UNSUPPORTED);
        return orsa_answer(property, value, 0);
    }
    if (mode == HM_MODE_GET) {
        u16 transmit = 0, receive = 0;
        if (gen == ORSA_ASIC_KS3) {
            OrsaWhere w;
            if (!port_target(port_group, &w) || w.at.instance == 0)
                return 1;
            u8 buffer[ORSA_HDR_SIZE + 4] = {};
            if (ioctl_common_get_flow_control(w.at, buffer, w.domain, w.phba_port) != 0)
                return 1;
            transmit = orsa_rd16(buffer + ORSA_HDR_SIZE);
            receive = orsa_rd16(buffer + ORSA_HDR_SIZE + 2);
        } else {
            u8 pause = 0;
            if (flow_command(port_group, &pause, 0) != 0)
                return 1;
            transmit = pause & 0x0F;
            receive = pause >> 4;
        }
        if (ORSA_update_flow_control_props(port_group, transmit, receive) != 0)
            return 1;
        return orsa_answer(property, value, 0);
    }
    if (gen == ORSA_ASIC_KS3)
        return orsa_fail_with(ORSA_STATUS_FLOW_SET_UNSUPPORTED);
    HmNode *pm = internal_get_node(ks, "ProfileManagement", HM_KIND_GROUP);
    HmNode *cp = pm != nullptr ? internal_get_node(pm, "ConfiguredProfile", HM_KIND_GROUP) : nullptr;
    HmNode *port0 = cp != nullptr ? internal_get_node(cp, "Port0", HM_KIND_GROUP) : nullptr;
    char mc_type[HM_VALUE_SIZE] = "";
    if (port0 == nullptr || internal_get_property(port0, "MCType", mc_type) != 0)
        return 1;
    bool transmit_property = same(property->name, "TxFlowControl");
    bool ok = true;
    bool other = flow_enabled(port_group, transmit_property ? "RxFlowControl" : "TxFlowControl", &ok);
    if (!ok)
        return 1;
    bool on = same(value, "Enabled");
    u8 pause = transmit_property ? (u8)((other ? 0x10 : 0) | (on ? 0x01 : 0))
                                 : (u8)((other ? 0x01 : 0) | (on ? 0x10 : 0));
    return flow_command(port_group, &pause, flow_flags(mc_type));
}

u32 ORSA_reset_flow_control_properties(HmNode *port_group, const char *mc_type)
{
    if (port_group == nullptr || mc_type == nullptr)
        return 1;
    // What the adapter has now is sent back: a setting that cannot be read
    // is not replaced by "disabled".
    bool ok = true;
    bool transmit = flow_enabled(port_group, "TxFlowControl", &ok);
    bool receive = ok && flow_enabled(port_group, "RxFlowControl", &ok);
    if (!ok)
        return 1;
    u8 pause = (u8)((transmit ? 0x01 : 0) | (receive ? 0x10 : 0));
    return flow_command(port_group, &pause, flow_flags(mc_type));
}

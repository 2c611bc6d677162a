// The IPv4 network of an iSCSI physical HBA, its NIC configuration and the
// initiator name and alias (iscsi_net.h).
#include "iscsi/iscsi_net.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_addr.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"

namespace {

#define LOG(level, ...) pdebug(ORSA_LOG_CAT_OTHER, level, __VA_ARGS__)

void put32(u8 *p, u32 v)
{
    p[0] = (u8)v;
    p[1] = (u8)(v >> 8);
    p[2] = (u8)(v >> 16);
    p[3] = (u8)(v >> 24);
}


// The node an action's addressing is resolved from.
HmNode *action_node(HmNode *group, HmNode *action) { return action != nullptr ? action : group; }

bool is_true(const char *text) { return strcasecmp(text, "True") == 0; }

// Reads a property of the group through its handler; false when it fails.
bool read_property(HmNode *group, const char *name, char text[HM_VALUE_SIZE])
{
    text[0] = '\0';
    return group != nullptr && internal_get_property(group, name, text) == 0;
}

// The cached text of a property of the group; nullptr when it is missing.
const char *cached_text(HmNode *group, const char *name)
{
    HmNode *p = group != nullptr ? internal_get_node(group, name, HM_KIND_PROPERTY) : nullptr;
    return p != nullptr && p->body != nullptr ? HM_PROPERTY(p)->value : nullptr;
}

const char *speed_text(u32 code)
{
    static const char *const kSpeeds[] = {"Unknown", "less than 1Mb", "less than 1Gb", "1Gb", "10Gb", "20Gb", "40Gb"};
    return code < sizeof kSpeeds / sizeof kSpeeds[0] ? kSpeeds[code] : nullptr;
}

// The initiator name block, by the version-1 command and, when the adapter
// does not know it, by version 0. 0, or the command's status.
u32 fetch_name_block(u32 port, u8 domain, u8 phba, u8 *block)
{
    memset(block, 0, ORSA_NAME_BLOCK_SIZE);
    u32 rc = ioctl_fetch_initiator_name_params_v1(orsa_iscsi_port(port), block, domain, phba);
    if (rc == ORSA_STATUS_CMD_UNKNOWN) {
        memset(block, 0, ORSA_NAME_BLOCK_SIZE);
        rc = ioctl_fetch_initiator_name_params(orsa_iscsi_port(port), block, domain, phba);
    }
    if (rc != 0)
        LOG(ORSA_LOG_ERROR, "%s: initiator name fetch failed with %u\n", __func__, (unsigned)rc);
    return rc;
}

bool is_name_property(HmNode *property)
{
    return property->name != nullptr && strcasecmp(property->name, "InitiatoriSCSIName") == 0;
}

}  // namespace

bool orsa_net_where(HmNode *node, OrsaNetWhere *w)
{
    OrsaWhere o = orsa_where_of(node);
    if (o.at.instance == 0 || o.at.protocol != ORSA_PROTO_ISCSI)
        return false;
    w->port = o.at.instance;
    w->domain = o.domain;
    w->phba = o.phba_port;
    return true;
}

HmNode *orsa_enclosing_group(HmNode *node, const char *kind)
{
    for (HmNode *n = node; n != nullptr; n = n->parent) {
        if (n->kind == HM_KIND_GROUP && n->name != nullptr && strcmp(n->name, kind) == 0)
            return n;
        if (n->parent == n)
            break;
    }
    return nullptr;
}

// ---- commands ----

u32 orsa_first_interface(u32 port, u8 domain, u8 phba, u32 *handle)
{
    u8 list[ORSA_IF_LIST_SIZE] = {};
    u32 rc = ioctl_get_all_if_id(orsa_iscsi_port(port), list, sizeof list, domain, phba);
    u32 count = orsa_rd32(list);
    if (rc == 0 && (count == 0 || count > (ORSA_IF_LIST_SIZE - 4) / 4)) {
        LOG(ORSA_LOG_ERROR, "%s: interface list names %u interfaces\n", __func__, (unsigned)count);
        rc = 1;
    }
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_IF_LIST);
        return 1;
    }
    *handle = orsa_rd32(list + 4);
    return 0;
}

u32 orsa_fetch_if_info(u32 port, u32 handle, u32 kind, bool v1, u8 domain, u8 phba, u8 *info)
{
    memset(info, 0, ORSA_IF_INFO_SIZE);
    put32(info, handle);
    put32(info + 4, kind);
    u32 rc = v1 ? ioctl_get_if_info_params_v1(orsa_iscsi_port(port), info, ORSA_IF_INFO_SIZE, domain, phba)
                : ioctl_get_if_info_params(orsa_iscsi_port(port), info, ORSA_IF_INFO_SIZE, domain, phba);
    if (rc != 0)
        return rc;
    u32 count = orsa_rd32(info + 8);
    if (count > (ORSA_IF_INFO_SIZE - ORSA_IF_INFO_RECORDS_AT) / ORSA_IF_INFO_RECORD_SIZE) {
        LOG(ORSA_LOG_ERROR, "%s: interface information names %u addresses\n", __func__, (unsigned)count);
        orsa_set_status(ORSA_STATUS_IF_INFO);
        return 1;
    }
    return 0;
}

u32 orsa_change_gateway(u32 port, u8 domain, u8 phba, u32 action, u32 kind, const u8 *address, u32 length)
{
    u8 req[ORSA_GATEWAY_SIZE] = {};
    put32(req, action);
    // The address block's length: given to an add and to an IPv6 delete.
    u16 block = action == 1 || kind == ORSA_ADDR_IPV6 ? 24 : 0;
    req[4] = (u8)block;
    req[5] = (u8)(block >> 8);
    req[7] = (u8)kind;
    memcpy(req + 8, address, length < 16 ? length : 16);
    u32 rc = ioctl_set_default_gateway(orsa_iscsi_port(port), req, domain, phba);
    if (rc != 0) {
        LOG(ORSA_LOG_ERROR, "%s: gateway change %u failed with %u\n", __func__, (unsigned)action, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_GATEWAY_SET);
        return 1;
    }
    return 0;
}

u32 orsa_modify_ip_entry(u32 port, u32 handle, u8 domain, u8 phba, u32 action, u32 kind, const u8 *address,
                         u32 length, const u8 *mask, u32 *entry_status)
{
    u8 req[ORSA_IP_ENTRY_SIZE] = {};
    put32(req, 1);
    put32(req + 4, action);
    put32(req + 8, handle);
    req[12] = 40;
    req[14] = (u8)kind;
    memcpy(req + 16, address, length < 16 ? length : 16);
    if (mask != nullptr)
        memcpy(req + 32, mask, length < 16 ? length : 16);
    u32 rc = ioctl_modify_ip_entry(orsa_iscsi_port(port), req, sizeof req, domain, phba);
    if (entry_status != nullptr)
        *entry_status = rc == 0 ? orsa_rd32(req + 52) : 0;
    return rc;
}

u32 orsa_config_dhcp(u32 port, u32 handle, u8 domain, u8 phba, u32 kind)
{
    u8 req[ORSA_DHCP_SIZE] = {};
    put32(req, handle);
    put32(req + 4, kind);
    put32(req + 8, 1);
    put32(req + 12, 1);
    return ioctl_config_dhcp(orsa_iscsi_port(port), req, domain, phba);
}

u32 orsa_release_dhcp(u32 port, u32 handle, u8 domain, u8 phba, u32 kind)
{
    u8 req[ORSA_DHCP_RELEASE_SIZE] = {};
    put32(req, handle);
    put32(req + 4, kind);
    return ioctl_release_dhcp(orsa_iscsi_port(port), req, domain, phba);
}

// ---- the TCP/IP refresh ----

u32 get_all_interfaces(u32 port, u8 phba, u8 domain, HmNode *tcpip)
{
    if (tcpip == nullptr || tcpip->kind != HM_KIND_GROUP)
        return 1;
    u32 handle = 0;
    if (orsa_first_interface(port, domain, phba, &handle) != 0)
        return 1;
    OrsaInterfaceRecord *record = (OrsaInterfaceRecord *)orsa_dzalloc(sizeof(OrsaInterfaceRecord));
    if (record == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    record->port = port;
    record->handle = handle;
    orsa_release_node_handle(tcpip);
    HM_GROUP(tcpip)->nhandle = record;
    return 0;
}

u32 get_if_info_params(u32 port, u32 handle, HmNode *tcpip, u8 domain, u8 phba)
{
    if (tcpip == nullptr)
        return 1;
    u8 *info = (u8 *)orsa_dmalloc(ORSA_IF_INFO_SIZE);
    if (info == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    u32 rc = orsa_fetch_if_info(port, handle, ORSA_ADDR_IPV4, false, domain, phba, info);
    if (rc != 0) {
        orsa_dfree(info);
        orsa_set_status(ORSA_STATUS_IF_INFO);
        return 1;
    }
    u32 vlan = orsa_rd32(info + 4);
    u32 count = orsa_rd32(info + 8);
    u32 dhcp = orsa_rd32(info + 12);
    const u8 *a = info + ORSA_IF_INFO_RECORDS_AT + 4;
    const u8 *m = info + ORSA_IF_INFO_RECORDS_AT + 20;
    rc = 0;
    if (count != 0) {
        rc |= set_prop_val(tcpip, "InitiatorIPAddress", "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
        rc |= set_prop_val(tcpip, "InitiatorSubnetMask", "%d.%d.%d.%d", m[0], m[1], m[2], m[3]);
    } else {
        rc |= set_prop_val(tcpip, "InitiatorIPAddress", "%s", "0.0.0.0");
        rc |= set_prop_val(tcpip, "InitiatorSubnetMask", "%s", "0.0.0.0");
    }
    rc |= set_prop_val(tcpip, "DHCPEnabled", "%s", dhcp != 0 ? "True" : "False");
    if (vlan == ORSA_VLAN_NONE) {
        rc |= set_prop_val(tcpip, "VLANEnabled", "%s", "False");
        rc |= set_prop_val(tcpip, "VLANId", "%s", "");
        rc |= set_prop_val(tcpip, "Priority", "%s", "");
    } else {
        rc |= set_prop_val(tcpip, "VLANEnabled", "%s", "True");
        rc |= set_prop_val(tcpip, "VLANId", "%u", (unsigned)(vlan & 0xFFF));
        rc |= set_prop_val(tcpip, "Priority", "%u", (unsigned)((vlan >> 13) & 7));
    }
    orsa_dfree(info);
    return rc != 0 ? 1 : 0;
}

bool orsa_interface_record(HmNode *tcpip, OrsaInterfaceRecord *out)
{
    if (tcpip == nullptr || tcpip->kind != HM_KIND_GROUP || tcpip->body == nullptr || out == nullptr)
        return false;
    if (HM_GROUP(tcpip)->nhandle == nullptr) {
        // The start-up population makes it; until then the first user does.
        OrsaNetWhere w;
        if (!orsa_net_where(tcpip, &w) || get_all_interfaces(w.port, w.phba, w.domain, tcpip) != 0)
            return false;
    }
    *out = *(const OrsaInterfaceRecord *)HM_GROUP(tcpip)->nhandle;
    return true;
}

u32 handle_tcpip_properties(HmNode *property, char *value, u32 /*mode: always a refresh*/)
{
    HmNode *tcpip = property != nullptr ? property->parent : nullptr;
    OrsaNetWhere w;
    if (tcpip == nullptr || !orsa_net_where(property, &w))
        return 1;
    if (get_all_interfaces(w.port, w.phba, w.domain, tcpip) != 0)
        return 1;
    const OrsaInterfaceRecord *record = (const OrsaInterfaceRecord *)HM_GROUP(tcpip)->nhandle;
    u32 rc = get_if_info_params(w.port, record->handle, tcpip, w.domain, w.phba);
    if (rc != 0)
        return rc;
    return orsa_answer(property, value, 0);
}

// ---- address, DHCP and gateway actions ----

u32 ORSA_delete_ip_from_firmware(u32 port, u32 handle, HmNode * /*group*/, u8 domain, u8 phba, const u8 address[4],
                                 const u8 mask[4])
{
    u32 rc = orsa_modify_ip_entry(port, handle, domain, phba, 2, ORSA_ADDR_IPV4, address, 4, mask, nullptr);
    if (rc != 0) {
        LOG(ORSA_LOG_ERROR, "%s: address delete failed with %u\n", __func__, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_IP_ENTRY);
    }
    return rc;
}

u32 check_for_boot_session(HmNode *phba)
{
    if (phba == nullptr)
        return 0;
    for (HmNode *l = get_first_instance(phba, "LogicalHBA"); l != nullptr; l = hm_next_instance(l))
        for (HmNode *t = get_first_instance(l, "Target"); t != nullptr; t = hm_next_instance(t))
            for (HmNode *s = get_first_instance(t, "Session"); s != nullptr; s = hm_next_instance(s)) {
                char boot[HM_VALUE_SIZE];
                if (!read_property(s, "iSCSIBoot", boot))
                    continue;
                if (is_true(boot)) {
                    orsa_set_status(ORSA_STATUS_BOOT_SESSION);
                    return 1;
                }
            }
    return 0;
}

// Deletes the address the cached texts show, when they show one. 0, or the
// delete's result.
static u32 delete_cached_address(const OrsaInterfaceRecord &record, HmNode *tcpip, const OrsaNetWhere &w,
                                 const char *address, const char *mask)
{
    u8 a[4] = {}, m[4] = {};
    if (validateIPAddress(address, a, ORSA_IPV4_HOST) != 1 || validateIPAddress(mask, m, ORSA_IPV4_NOT_ZERO) != 1)
        return 0;
    return ORSA_delete_ip_from_firmware(record.port, record.handle, tcpip, w.domain, w.phba, a, m);
}

u32 do_ConfigureIPAddress(HmNode *group, HmNode *action, HmValueSlot *params)
{
    OrsaNetWhere w;
    if (group == nullptr || params == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    char dhcp[HM_VALUE_SIZE];
    if (!read_property(group, "DHCPEnabled", dhcp))
        return 1;
    if (is_true(dhcp))
        return orsa_fail_with(ORSA_STATUS_DHCP_ON);
    if (check_for_boot_session(orsa_enclosing_group(group, "iSCSIPhysicalHBA")) != 0)
        return 1;
    const char *ip = params[0];
    const char *mask = params[1];
    u8 a[4] = {}, m[4] = {};
    if (strcmp(ip, "0.0.0.0") != 0 && validateIPAddress(ip, a, ORSA_IPV4_HOST) != 1)
        return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
    if (strcmp(mask, "0.0.0.0") != 0 && validateIPAddress(mask, m, ORSA_IPV4_MASK) != 1)
        return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
    // The DHCPEnabled read refreshed the cache.
    char cached_ip[HM_VALUE_SIZE] = "", cached_mask[HM_VALUE_SIZE] = "";
    const char *c_ip = cached_text(group, "InitiatorIPAddress");
    const char *c_mask = cached_text(group, "InitiatorSubnetMask");
    if (c_ip == nullptr || c_mask == nullptr)
        return 1;
    orsa_strlcpy(cached_ip, c_ip, sizeof cached_ip);
    orsa_strlcpy(cached_mask, c_mask, sizeof cached_mask);
    if (strcmp(ip, cached_ip) == 0 && strcmp(mask, cached_mask) == 0) {
        orsa_set_status(ORSA_STATUS_IP_UNCHANGED);
        return 0;
    }
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group, &record))
        return 1;
    u32 rc = delete_cached_address(record, group, w, cached_ip, cached_mask);
    if (rc != 0)
        return rc;
    u32 entry = 0;
    rc = orsa_modify_ip_entry(record.port, record.handle, w.domain, w.phba, 1, ORSA_ADDR_IPV4, a, 4, m, &entry);
    if (rc != 0) {
        LOG(ORSA_LOG_ERROR, "%s: address add failed with %u\n", __func__, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_IP_ENTRY);
        return rc;
    }
    switch (entry) {
    case 0:
        return 0;
    case 47:
        // The adapter took the address and reports it in use: a notice.
        orsa_set_status(ORSA_STATUS_DUPLICATE_IP);
        return 0;
    case 11:
    case 13:
        LOG(ORSA_LOG_WARNING, "%s: address entry status %u\n", __func__, (unsigned)entry);
        return 0;
    default:
        // An answer nobody knows is no success.
        LOG(ORSA_LOG_ERROR, "%s: address entry status %u\n", __func__, (unsigned)entry);
        return orsa_fail_with(ORSA_STATUS_IP_ENTRY);
    }
}

u32 do_DHCPEnable(HmNode *group, HmNode *action, HmValueSlot * /*params*/)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    char dhcp[HM_VALUE_SIZE];
    if (!read_property(group, "DHCPEnabled", dhcp))
        return 1;
    if (is_true(dhcp)) {
        orsa_set_status(ORSA_STATUS_DHCP_UNCHANGED);
        return 0;
    }
    const char *c_ip = cached_text(group, "InitiatorIPAddress");
    const char *c_mask = cached_text(group, "InitiatorSubnetMask");
    char ip[HM_VALUE_SIZE], mask[HM_VALUE_SIZE], gateway[HM_VALUE_SIZE];
    // The gateway is read from the adapter: its cache is only as fresh as
    // the last read.
    if (c_ip == nullptr || c_mask == nullptr || !read_property(group, "DefaultGateway", gateway))
        return 1;
    orsa_strlcpy(ip, c_ip, sizeof ip);
    orsa_strlcpy(mask, c_mask, sizeof mask);
    if (check_for_boot_session(orsa_enclosing_group(group, "iSCSIPhysicalHBA")) != 0)
        return 1;
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group, &record))
        return 1;
    u32 rc = delete_cached_address(record, group, w, ip, mask);
    if (rc != 0)
        return rc;
    u8 g[4] = {};
    if (validateIPAddress(gateway, g, ORSA_IPV4_HOST) == 1 &&
        orsa_change_gateway(record.port, w.domain, w.phba, 2, ORSA_ADDR_IPV4, g, 4) != 0)
        return 1;
    if (orsa_config_dhcp(record.port, record.handle, w.domain, w.phba, ORSA_DHCP_IPV4) != 0)
        return 1;
    if (!read_property(group, "DHCPEnabled", dhcp))
        return 1;
    if (strcasecmp(dhcp, "False") == 0)
        return orsa_fail_with(ORSA_STATUS_DHCP_FAILED);
    return 0;
}

u32 do_DHCPDisable(HmNode *group, HmNode *action, HmValueSlot * /*params*/)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    if (check_for_boot_session(orsa_enclosing_group(group, "iSCSIPhysicalHBA")) != 0)
        return 1;
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group, &record))
        return 1;
    if (orsa_release_dhcp(record.port, record.handle, w.domain, w.phba, ORSA_DHCP_IPV4) != 0)
        return orsa_fail_with(ORSA_STATUS_DHCP_RELEASE);
    u32 rc = set_prop_val(group, "DHCPEnabled", "%s", "False");
    rc |= set_prop_val(group, "InitiatorIPAddress", "%s", "0.0.0.0");
    rc |= set_prop_val(group, "InitiatorSubnetMask", "%s", "0.0.0.0");
    return rc;
}

u32 handle_DefaultGateway(HmNode *property, char *value, u32 mode)
{
    HmNode *tcpip = property != nullptr ? property->parent : nullptr;
    OrsaNetWhere w;
    if (tcpip == nullptr || value == nullptr || !orsa_net_where(property, &w))
        return 1;
    u8 q[ORSA_GATEWAY_QUERY_SIZE] = {};
    put32(q, ORSA_ADDR_IPV4);
    u32 rc = ioctl_get_default_gateway(orsa_iscsi_port(w.port), q, w.domain, w.phba);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_GATEWAY_GET);
        return rc;
    }
    if (mode == HM_MODE_GET) {
        char text[16];
        snprintf(text, sizeof text, "%d.%d.%d.%d", q[4], q[5], q[6], q[7]);
        return orsa_store_and_answer(property, value, text);
    }
    char dhcp[HM_VALUE_SIZE], ip[HM_VALUE_SIZE], mask[HM_VALUE_SIZE];
    if (!read_property(tcpip, "DHCPEnabled", dhcp))
        return 1;
    if (is_true(dhcp))
        return orsa_fail_with(ORSA_STATUS_GATEWAY_DHCP_ON);
    if (!read_property(tcpip, "InitiatorIPAddress", ip) || !read_property(tcpip, "InitiatorSubnetMask", mask))
        return 1;
    // The new text is checked before the old gateway goes: a refused value
    // leaves the port with the gateway it had.
    u8 g[4] = {};
    if (validateIPAddress(value, g, ORSA_IPV4_HOST) != 1)
        return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
    if (q[4] != 0 && orsa_change_gateway(w.port, w.domain, w.phba, 2, ORSA_ADDR_IPV4, q + 4, 16) != 0)
        return 1;
    if (orsa_change_gateway(w.port, w.domain, w.phba, 1, ORSA_ADDR_IPV4, g, 4) != 0)
        return 1;
    return set_prop_val(tcpip, property->name, "%d.%d.%d.%d", g[0], g[1], g[2], g[3]);
}

u32 do_DeleteDefaultGateway(HmNode *group, HmNode *action, HmValueSlot * /*params*/)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    char dhcp[HM_VALUE_SIZE], gateway[HM_VALUE_SIZE];
    if (!read_property(group, "DHCPEnabled", dhcp))
        return 1;
    if (is_true(dhcp))
        return orsa_fail_with(ORSA_STATUS_DHCP_ON);
    if (!read_property(group, "DefaultGateway", gateway))
        return 1;
    u8 g[4] = {};
    if (validateIPAddress(gateway, g, ORSA_IPV4_HOST) != 1)
        return 0;  // nothing to delete
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group, &record))
        return 1;
    if (orsa_change_gateway(record.port, w.domain, w.phba, 2, ORSA_ADDR_IPV4, g, 4) != 0)
        return 1;
    return set_prop_val(group, "DefaultGateway", "%s", "0.0.0.0");
}

// ---- VLAN and ping ----

static u32 set_vlan(HmNode *group, HmNode *action, u32 tag)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group, &record))
        return 1;
    u8 req[ORSA_VLAN_SIZE] = {};
    put32(req, record.handle);
    put32(req + 4, tag);
    if (ioctl_set_vlan_params(orsa_iscsi_port(record.port), req, w.domain, w.phba) != 0)
        return orsa_fail_with(ORSA_STATUS_VLAN);
    // The adapter's view of the interface, VLAN and addresses, shows again.
    return get_if_info_params(record.port, record.handle, group, w.domain, w.phba);
}

u32 do_ConfigureVLAN(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (params == nullptr)
        return 1;
    u32 id = (u32)strtoul(params[0], nullptr, 10);
    u32 priority = params[1][0] != '\0' ? (u32)strtoul(params[1], nullptr, 10) : 0;
    return set_vlan(group, action, ((priority << 13) | id) & 0xFFFFu);
}

u32 do_VLANDisable(HmNode *group, HmNode *action, HmValueSlot * /*params*/)
{
    return set_vlan(group, action, ORSA_VLAN_NONE);
}

u32 do_Ping(HmNode *group, HmNode *action, HmValueSlot *params)
{
    OrsaNetWhere w;
    if (group == nullptr || params == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    const char *text = params[0];
    u8 req[ORSA_PING_SIZE] = {};
    if (strchr(text, ':') != nullptr && strlen(text) > 2) {
        char v6[HM_VALUE_SIZE];
        orsa_strlcpy(v6, text, sizeof v6);
        if (validateIPv6Address(v6) != 0)
            return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
        StrToU8IPv6(v6, req + 4);
        req[3] = ORSA_ADDR_IPV6;
    } else {
        if (validateIPAddress(text, req + 4, ORSA_IPV4_HOST) != 1)
            return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
        req[3] = ORSA_ADDR_IPV4;
    }
    if (ioctl_ping(orsa_iscsi_port(w.port), req, w.domain, w.phba) != 0)
        return orsa_fail_with(ORSA_STATUS_PING_FAILED);
    return 0;
}

// ---- NIC configuration ----

u32 ORSA_get_iscsi_ntwk_params(u32 port, u8 domain, u8 phba, HmNode *nic)
{
    if (nic == nullptr)
        return 1;
    u8 p[ORSA_NIC_PARAMS_SIZE] = {};
    if (ioctl_get_NIC_params(orsa_iscsi_port(port), p, sizeof p, domain, phba) != 0)
        return orsa_fail_with(ORSA_STATUS_NIC_PARAMS);
    u32 rc = set_prop_val(nic, "MaxMTUSize", "%d", (int)orsa_rd32(p + 16));
    // A speed code this library has no text for leaves the value as it was.
    if (const char *speed = speed_text(orsa_rd32(p + 8)))
        rc |= set_prop_val(nic, "PortMaxSpeed", "%s", speed);
    return rc != 0 ? 1 : 0;
}

u32 ORSA_get_iscsi_ntwk_mac(u32 port, u8 domain, u8 phba, HmNode * /*nic*/, HmNode *property)
{
    if (property == nullptr)
        return 1;
    u8 q[ORSA_ISCSI_MAC_QUERY_SIZE] = {};
    q[1] = 1;  // the permanent address
    if (ioctl_get_mac_query(orsa_iscsi_port(port), q, domain, phba) != 0)
        return 1;
    // (SET_CACHE_PROP_VAL answers the length written, -1 on failure.)
    return SET_CACHE_PROP_VAL(property, "%02x-%02x-%02x-%02x-%02x-%02x", q[2], q[3], q[4], q[5], q[6], q[7]) < 0;
}

u32 handle_NICprop(HmNode *property, char *value, u32 /*mode: read-only*/)
{
    OrsaNetWhere w;
    if (property == nullptr || !orsa_net_where(property, &w))
        return 1;
    u32 rc = ORSA_get_iscsi_ntwk_params(w.port, w.domain, w.phba, property->parent);
    return rc != 0 ? rc : orsa_answer(property, value, 0);
}

u32 handle_iSCSIPhysicalHBA_Network_NICConfiguration_MACAddress(HmNode *property, char *value, u32 /*mode*/)
{
    OrsaNetWhere w;
    if (property == nullptr || !orsa_net_where(property, &w))
        return 1;
    u32 rc = ORSA_get_iscsi_ntwk_mac(w.port, w.domain, w.phba, property->parent, property);
    return rc != 0 ? rc : orsa_answer(property, value, 0);
}

u32 do_RefreshNICConfig(HmNode *group, HmNode *action, HmValueSlot * /*params*/)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    u32 rc = ORSA_get_iscsi_ntwk_params(w.port, w.domain, w.phba, group);
    HmNode *permanent = internal_get_node(group, "PermanentMACAddress", HM_KIND_PROPERTY);
    if (permanent == nullptr)
        return 1;
    rc |= ORSA_get_iscsi_ntwk_mac(w.port, w.domain, w.phba, group, permanent);
    return rc != 0 ? 1 : 0;
}

// ---- initiator name and alias ----

u32 get_name_params(u32 port, u8 domain, u8 phba, HmNode *property)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    u8 block[ORSA_NAME_BLOCK_SIZE];
    u32 rc = fetch_name_block(port, domain, phba, block);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_NAME_GET);
        return rc;
    }
    // Both fields are read within their width: the adapter need not end them.
    HmNode *group = property->parent;
    rc = set_prop_val(group, "InitiatorAlias", "%.*s", ORSA_ALIAS_SIZE - 1, (const char *)block + ORSA_ALIAS_FIELD);
    rc |= set_prop_val(group, "InitiatoriSCSIName", "%.*s", ORSA_ISCSI_NAME_MAX, (const char *)block + ORSA_NAME_FIELD);
    return rc != 0 ? 1 : 0;
}

u32 ORSA_set_initatorIQN_alias(HmNode *property, const char *text)
{
    OrsaNetWhere w;
    if (property == nullptr || text == nullptr || !orsa_net_where(property, &w))
        return 1;
    bool name = is_name_property(property);
    char lowered[ORSA_ISCSI_NAME_SIZE] = "";
    if (name && validateISCSIName(text, lowered) != 0)
        return 1;
    u8 block[ORSA_NAME_BLOCK_SIZE];
    u32 rc = fetch_name_block(w.port, w.domain, w.phba, block);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_NAME_GET);
        return rc;
    }
    if (name) {
        memset(block + ORSA_NAME_FIELD, 0, ORSA_ISCSI_NAME_SIZE);
        memcpy(block + ORSA_NAME_FIELD, lowered, strlen(lowered));
    } else {
        memset(block + ORSA_ALIAS_FIELD, 0, ORSA_ALIAS_SIZE);
        memcpy(block + ORSA_ALIAS_FIELD, text, strnlen(text, ORSA_ALIAS_SIZE));
    }
    block[0] &= (u8)~1u;
    rc = ioctl_save_initiator_name_params_v1(orsa_iscsi_port(w.port), block, w.domain, w.phba);
    if (rc == ORSA_STATUS_CMD_UNKNOWN) {
        rc = ioctl_save_initiator_name_params(orsa_iscsi_port(w.port), block, w.domain, w.phba);
        if (rc != 0)
            return orsa_fail_with(ORSA_STATUS_NAME_SET);
    } else if (rc != 0) {
        LOG(ORSA_LOG_ERROR, "%s: initiator name save failed with %u\n", __func__, (unsigned)rc);
        return 1;
    }
    if (name && OPEN_ISCSI_DRIVER_LOADED != 0 && ORSA_op_set_intr_name(lowered) != 0)
        return 1;
    return set_prop_val(property->parent, property->name, "%s", name ? lowered : text);
}

u32 handle_name_params(HmNode *property, char *value, u32 mode)
{
    OrsaNetWhere w;
    if (property == nullptr || value == nullptr || !orsa_net_where(property, &w))
        return 1;
    if (mode == HM_MODE_SET)
        return ORSA_set_initatorIQN_alias(property, value);
    u32 rc = get_name_params(w.port, w.domain, w.phba, property);
    if (rc != 0)
        return rc;
    if (is_name_property(property) && OPEN_ISCSI_DRIVER_LOADED != 0 &&
        ORSA_op_set_intr_name(HM_PROPERTY(property)->value) != 0)
        return 1;
    return orsa_answer(property, value, 0);
}

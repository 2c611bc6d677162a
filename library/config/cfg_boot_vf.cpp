/* Network boot configuration and VF settings of NIC functions. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_boot_vf.h"

#include "backend/orsa_cmdrun.h"
#include "backend/orsa_gateway.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_nicprops.h"
#include "backend/orsa_vpd.h"
#include "config/cfg_mac.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

/* ---- texts, requests and decoders ---- */

namespace bootvf {

namespace {

/* VF table fields. */
constexpr size_t kCount = 12, kEntries = 16, kEntry = 16, kVlan = 6, kRate = 8, kLink = 10;

}  // namespace

// One MAC grammar for the whole library: the one permanent addresses are
// checked against.
bool parse_mac(const char *text, u8 mac[6])
{
    return text != nullptr && mac != nullptr && validateMACAddress(text, mac) == 1;
}

void mac_colon_text(const u8 *m, char out[HM_VALUE_SIZE])
{
    char dashed[HM_VALUE_SIZE];
    mac::text_of(m, dashed, sizeof dashed);
    ORSA_convert_mac_addr(dashed, '-', out, ':');
}

bool parse_int(const char *text, long min, long max, long *out)
{
    if (text == nullptr || text[0] == '\0')
        return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 0);
    if (end == text || *end != '\0' || errno == ERANGE || v < min || v > max)
        return false;
    *out = v;
    return true;
}

void oem_mac_request(u8 request[ORSA_OEM_EXEC_SIZE], const u8 mac[6])
{
    memset(request, 0, ORSA_OEM_EXEC_SIZE);
    request[0] = 0x01;
    request[3] = 0x80;
    memcpy(request + 4, mac, 6);
}

void oem_vlan_request(u8 request[ORSA_OEM_EXEC_SIZE], u16 vlan, u8 priority)
{
    memset(request, 0, ORSA_OEM_EXEC_SIZE);
    request[0] = 0x02;
    request[3] = 0x80;
    request[12] = (u8)vlan;
    request[13] = (u8)(vlan >> 8);
    request[14] = priority;
    request[15] = 0x80;
}

void set_boot(u8 config[8], bool enabled, bool pxe)
{
    config[0] = enabled ? 1 : 0;
    config[3] = enabled ? (pxe ? 1 : 2) : 0;
}

u32 vf_count(const u8 *table, size_t size)
{
    if (table == nullptr || size < kEntries)
        return 0;
    u32 n = orsa_rd32(table + kCount);
    u32 held = (u32)((size - kEntries) / kEntry);
    return n < held ? n : held;
}

bool vf_text(const u8 *table, size_t size, u32 vf, const char *name, char out[HM_VALUE_SIZE])
{
    if (name == nullptr || out == nullptr)
        return false;
    bool known = strcmp(name, "TxRate") == 0 || strcmp(name, "VLANID") == 0 || strcmp(name, "MACAddress") == 0 ||
                 strcmp(name, "LinkStatus") == 0;
    if (!known)
        return false;
    if (vf >= vf_count(table, size)) {
        snprintf(out, HM_VALUE_SIZE, "%s", "N/A");
        return true;
    }
    const u8 *e = table + kEntries + (size_t)vf * kEntry;
    if (strcmp(name, "TxRate") == 0)
        snprintf(out, HM_VALUE_SIZE, "%d", orsa_rd16(e + kRate) * 10);
    else if (strcmp(name, "VLANID") == 0)
        snprintf(out, HM_VALUE_SIZE, "%d", orsa_rd16(e + kVlan));
    else if (strcmp(name, "MACAddress") == 0)
        mac_colon_text(e, out);
    else
        snprintf(out, HM_VALUE_SIZE, "%d", e[kLink]);
    return true;
}

}  // namespace bootvf

/* ---- helpers ---- */

namespace {

/* The addressing of a node below a NIC physical HBA and its generation. */
struct NicAddr {
    HmNode *controller = nullptr;
    u32 gen = 0;
    OrsaPort at{0, ORSA_PROTO_NONE};
    u8 domain = 0;
    u8 phba_port = 0;
};

bool nic_addr(HmNode *node, NicAddr *a)
{
    a->controller = orsa_controller_of(node);
    if (a->controller == nullptr)
        return false;
    a->gen = get_ks_type(a->controller);
    i32 port = get_port_number(node);
    a->at = orsa_nic_port(port > 0 ? (u32)port : 0);
    a->domain = (u8)get_domain_id(node);
    a->phba_port = (u8)get_phba_port_number(node);
    return a->gen != ORSA_ASIC_UNREADABLE && a->gen != ORSA_ASIC_UNKNOWN && port > 0;
}

u32 read_oem(const NicAddr &a, u8 cfg[ORSA_OEM_EXEC_SIZE], const char *caller)
{
    memset(cfg, 0, ORSA_OEM_EXEC_SIZE);
    u32 rc = ioctl_get_oem_exec_cfg(a.at, cfg, a.domain, a.phba_port);
    if (rc != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:ioctl_get_oem_exec_cfg failed with status = %d\n", caller,
               (int)rc);
    return rc;
}

void mac_dash_text(const u8 *m, char out[HM_VALUE_SIZE])
{
    mac::text_of(m, out, HM_VALUE_SIZE);
}

bool param_given(const char *p)
{
    return p != nullptr && p[0] != '\0' && (u8)p[0] != ORSA_PARAM_NOT_GIVEN;
}

/* A VF property's group, its VF number and the NIC function it belongs to. */
struct VfRef {
    HmNode *group = nullptr;
    HmNode *phba = nullptr;
    u32 vf = 0;
    u32 port = 0;
};

bool vf_ref(HmNode *property, VfRef *r)
{
    r->group = property != nullptr ? property->parent : nullptr;
    i32 number = hm_instance_number(r->group);
    i32 port = get_port_number(property);
    if (r->group == nullptr || number < 0 || port < 1)
        return false;
    r->phba = r->group->parent;
    r->vf = (u32)number;
    r->port = (u32)port;
    return r->phba != nullptr;
}

/* The start the VF property handlers share. A read is answered here: the
 * property's text from the driver's VF table (`empty` when the table gave
 * none), stored in the group. True when the handler goes on with a set;
 * else *rc is its result. */
bool vf_start(HmNode *property, char *value, u32 mode, const char *empty, VfRef *r, u32 *rc)
{
    *rc = 1;
    if (!vf_ref(property, r))
        return false;
    if (mode == HM_MODE_SET)
        return true;
    char text[HM_VALUE_SIZE] = "";
    if (ORSA_get_vf_params(r->port, r->vf, text, property->name) == 0)
        *rc = orsa_store_and_answer(property, value, text[0] != '\0' ? text : empty);
    return false;
}

/* Runs "ip link set <IfName> vf <n> <setting...>"; a failing command fails
 * the change with its exit status in the last status. */
u32 vf_apply(const VfRef &r, const char *key1, const char *value1, const char *key2, const char *value2)
{
    char ifname[HM_VALUE_SIZE] = "";
    if (internal_get_property(r.phba, "IfName", ifname) != 0 || ifname[0] == '\0') {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get IfName.\n", __func__);
        return 1;
    }
    char vf[16];
    snprintf(vf, sizeof vf, "%u", (unsigned)r.vf);
    const char *argv[] = {"ip", "link", "set", ifname, "vf", vf, key1, value1, key2, value2, nullptr};
    char line[HM_VALUE_SIZE * 2];
    snprintf(line, sizeof line, "ip link set %s vf %s %s %s%s%s%s%s", ifname, vf, key1, value1,
             key2 != nullptr ? " " : "", key2 != nullptr ? key2 : "", key2 != nullptr ? " " : "",
             key2 != nullptr ? value2 : "");
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: %s\n", __func__, line);
    int status = orsa_run_command(argv);
    if (status != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: \"%s\" ended with %d\n", __func__, line, status);
        orsa_set_last_statusf(ORSA_FAILURE, "Failed to change the virtual function: \"%s\" ended with status %d.",
                              line, status);
        return 1;
    }
    return 0;
}

}  // namespace

/* ---- the VF table ---- */

u32 ORSA_get_vf_params(u32 port, u32 vf, char *out, const char *name)
{
    if (out == nullptr || name == nullptr)
        return 1;
    u8 *table = (u8 *)orsa_dzalloc(ORSA_VF_TABLE_SIZE);
    if (table == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    u32 vfs = 0;
    u32 rc = orsa_valid_nic_instance(port) ? ioctl_get_virt_f_info(port, table, &vfs) : 1;
    if (rc == 0)
        bootvf::vf_text(table, ORSA_VF_TABLE_SIZE, vf, name, out);
    orsa_dfree(table);
    return rc == 0 ? 0 : 1;
}

u32 group_NICPhysicalHBA(HmNode *group)
{
    if (group == nullptr)
        return 0;
    purge_nodes_within(group, "NICLogicalHBA");
    i32 port = get_port_number(group);
    u32 count = 0;
    if (port > 0)
        ORSA_Get_VF_Info((u32)port, &count, 1, group);
    return 0;
}

/* ---- VF property handlers ---- */

u32 handle_niclogicalhba_macaddress(HmNode *property, char *value, u32 mode)
{
    VfRef r;
    u32 rc = 1;
    if (!vf_start(property, value, mode, "", &r, &rc))
        return rc;
    char text[HM_VALUE_SIZE];
    u8 mac[6];
    if (!bootvf::parse_mac(value, mac))
        return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
    bootvf::mac_colon_text(mac, text);
    if (vf_apply(r, "mac", text, nullptr, nullptr) != 0)
        return 1;
    return set_prop_val(r.group, property->name, "%s", text);
}

u32 handle_niclogicalhba_vlanid(HmNode *property, char *value, u32 mode)
{
    VfRef r;
    u32 rc = 1;
    if (!vf_start(property, value, mode, "0", &r, &rc))
        return rc;
    char text[HM_VALUE_SIZE];
    long vlan = 0;
    if (!bootvf::parse_int(value, 0, 4094, &vlan))
        return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
    snprintf(text, sizeof text, "%ld", vlan);
    if (vf_apply(r, "vlan", text, nullptr, nullptr) != 0)
        return 1;
    return set_prop_val(r.group, property->name, "%s", text);
}

u32 handle_niclogicalhba_txrate(HmNode *property, char *value, u32 mode)
{
    VfRef r;
    u32 rc = 1;
    if (!vf_start(property, value, mode, "", &r, &rc))
        return rc;
    char text[HM_VALUE_SIZE];
    // The rate goes out as the number the tree's check read, never as the
    // client's text.
    long rate = 0;
    if (!bootvf::parse_int(value, 1, 10000, &rate))
        return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
    char vlan_text[HM_VALUE_SIZE] = "";
    if (internal_get_property(r.group, "VLANID", vlan_text) != 0)
        return 1;
    long vlan = 0;
    if (strcasecmp(vlan_text, "N/A") != 0 && !bootvf::parse_int(vlan_text, 0, 4094, &vlan))
        return 1;
    char vlan_arg[16];
    snprintf(vlan_arg, sizeof vlan_arg, "%ld", vlan);
    snprintf(text, sizeof text, "%ld", rate);
    if (vf_apply(r, "vlan", vlan_arg, "rate", text) != 0)
        return 1;
    return set_prop_val(r.group, property->name, "%s", text);
}

u32 handle_LinkStatus(HmNode *property, char *value, u32)
{
    VfRef r;
    char text[HM_VALUE_SIZE] = "";
    if (!vf_ref(property, &r) || ORSA_get_vf_params(r.port, r.vf, text, property->name) != 0)
        return 1;
    const char *state = strcasecmp(text, "N/A") == 0 ? "N/A" : strcmp(text, "0") == 0 ? "Down" : "Up";
    return orsa_store_and_answer(property, value, state);
}

/* ---- semi-volatile MAC and network-boot VLAN ---- */

u32 handle_VolatileMACAddress(HmNode *property, char *value, u32 mode)
{
    NicAddr a;
    if (property == nullptr || !nic_addr(property, &a))
        return 1;
    if (a.gen == ORSA_ASIC_KS2) {
        if (mode == HM_MODE_SET)
            return orsa_fail_with(ORSA_STATUS_ADAPTER_UNSUPPORTED);
        // Nothing to read on this adapter: the client is told so rather
        // than left with the text it passed in.
        return orsa_store_and_answer(property, value, "N/A");
    }
    char text[HM_VALUE_SIZE];
    if (mode != HM_MODE_SET) {
        if (vm_flag)
            orsa_answer_na(value);
        u8 cfg[ORSA_OEM_EXEC_SIZE];
        if (read_oem(a, cfg, __func__) != 0)
            return 1;
        mac_dash_text(cfg + 4, text);
        return orsa_store_and_answer(property, value, text);
    }
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    if (value != nullptr && strcasecmp(HM_PROPERTY(property)->value, value) == 0)
        return 0;
    u8 mac[6];
    if (!bootvf::parse_mac(value, mac))
        return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
    u8 request[ORSA_OEM_EXEC_SIZE];
    bootvf::oem_mac_request(request, mac);
    if (ioctl_set_oem_exec_cfg(a.at, request, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_VOLATILE_MAC_FAILED);
    mac_dash_text(mac, text);
    return set_prop_val(property->parent, property->name, "%s", text);
}

u32 handle_vlan_properties(HmNode *property, char *value, u32)
{
    if (vm_flag)
        orsa_answer_na(value);
    NicAddr a;
    if (property == nullptr || !nic_addr(property, &a))
        return 1;
    if (a.gen == ORSA_ASIC_KS2)
        return orsa_store_and_answer(property, value, "N/A");
    u8 cfg[ORSA_OEM_EXEC_SIZE];
    if (read_oem(a, cfg, __func__) != 0)
        return 1;
    u32 rc = set_prop_val(property->parent, "VLANId", "%d", orsa_rd16(cfg + 12));
    rc |= set_prop_val(property->parent, "VLANPriority", "%d", cfg[14]);
    return orsa_answer(property, value, rc != 0 ? 1 : 0);
}

u32 do_NICPhysicalHBA_NetworkBootConfiguration_ConfigureVLAN(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    NicAddr a;
    if (group == nullptr || params == nullptr || !nic_addr(action != nullptr ? action : group, &a))
        return 1;
    if (a.gen == ORSA_ASIC_KS2)
        return orsa_fail_with(ORSA_STATUS_ADAPTER_UNSUPPORTED);
    long vlan = 0, priority = 0;
    if (!bootvf::parse_int(params[0], 0, 4095, &vlan))
        return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
    if (param_given(params[1])) {
        if (!bootvf::parse_int(params[1], 0, 7, &priority))
            return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
    } else {
        // The priority the adapter holds now, read afresh: the tree's text
        // may predate a change made elsewhere, and the write replaces both.
        char text[HM_VALUE_SIZE] = "";
        if (internal_get_property(group, "VLANPriority", text) != 0 || !bootvf::parse_int(text, 0, 7, &priority))
            return 1;
    }
    u8 request[ORSA_OEM_EXEC_SIZE];
    bootvf::oem_vlan_request(request, (u16)vlan, (u8)priority);
    if (ioctl_set_oem_exec_cfg(a.at, request, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_VLAN_PRIORITY_FAILED);
    set_prop_val(group, "VLANId", "%ld", vlan);
    set_prop_val(group, "VLANPriority", "%ld", priority);
    return 0;
}

/* ---- boot configuration ---- */

u32 do_SetNetworkBoot(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (group == nullptr || params == nullptr)
        return 1;
    NicAddr a;
    if (!nic_addr(action != nullptr ? action : group, &a))
        return 1;
    const char *state = params[0];
    const char *method = param_given(params[1]) ? params[1] : "";
    bool enabled = strcasecmp(state, "Enabled") == 0;
    if (enabled && method[0] == '\0')
        return orsa_fail_with(ORSA_STATUS_NETBOOT_METHOD_MISSING);
    if (enabled && strcasecmp(method, "iBFT") == 0 && a.gen != ORSA_ASIC_PIVARD)
        return orsa_fail_with(ORSA_STATUS_NETBOOT_METHOD_UNSUPPORTED);
    char current[HM_VALUE_SIZE] = "";
    if (internal_get_property(group, "NetworkBootState", current) != 0)
        return 1;
    if (strcasecmp(current, "N/A") == 0)
        return orsa_fail_with(ORSA_STATUS_NETBOOT_UNSUPPORTED);
    u8 cfg[ORSA_BOOT_CONFIG_SIZE] = {};
    if (ioctl_get_boot_config(a.at, cfg, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_BOOT_STATUS_FAILED);
    bootvf::set_boot(cfg, enabled, strcasecmp(method, "PXE") == 0);
    if (ioctl_set_boot_config(a.at, cfg, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_BOOT_SET_FAILED);
    return set_prop_val(group, "NetworkBootState", "%s", state);
}

u32 handle_AdvancedMode(HmNode *property, char *value, u32 mode)
{
    HmNode *ks = property != nullptr ? property->parent : nullptr;
    if (ks == nullptr)
        return 1;
    u32 gen = get_ks_type(ks);
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    if (gen != ORSA_ASIC_KS3) {
        if (mode == HM_MODE_SET)
            return orsa_fail_with(ORSA_STATUS_ADVANCED_MODE_UNSUPPORTED);
        return orsa_store_and_answer(property, value, "N/A");
    }
    HmNode *nic = get_first_instance(ks, "NICPhysicalHBA");
    NicAddr a;
    if (nic == nullptr || !nic_addr(nic, &a))
        return 1;
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    u8 cfg[ORSA_BOOT_CONFIG_SIZE] = {};
    if (ioctl_get_boot_config(a.at, cfg, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_BOOT_STATUS_FAILED);
    if (mode != HM_MODE_SET)
        return orsa_store_and_answer(property, value, cfg[2] != 0 ? "Enabled" : "Disabled");
    bool enable = value != nullptr && strcasecmp(value, "Enabled") == 0;
    cfg[2] = enable ? 1 : 0;
    if (ioctl_set_boot_config(a.at, cfg, a.domain, a.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_BOOT_SET_FAILED);
    set_prop_val(ks, "AdvancedMode", "%s", enable ? "Enabled" : "Disabled");
    orsa_set_status(ORSA_STATUS_ADVANCED_MODE_CHANGED);
    return 0;
}

// The IPv6 configuration of an iSCSI physical HBA (iscsi_net.h): its state,
// link-local and routable addresses and IPv6 default gateway. KS2 and KS3
// adapters have no IPv6: their properties read "N/A" and the actions are
// refused with 291.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "iscsi/iscsi_addr.h"
#include "iscsi/iscsi_net.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"

namespace {

#define LOG(level, ...) pdebug(ORSA_LOG_CAT_OTHER, level, __VA_ARGS__)


HmNode *action_node(HmNode *group, HmNode *action) { return action != nullptr ? action : group; }

bool no_ipv6(HmNode *node)
{
    u32 type = get_ks_type(orsa_controller_of(node));
    return type == ORSA_ASIC_KS2 || type == ORSA_ASIC_KS3;
}

// The full form of a 16-byte address; the all-zero form for the all-zero
// address (whose compressed text is empty).
void full_form(const u8 address[16], char out[ORSA_IPV6_TEXT_SIZE])
{
    U8IPv6ToStr(address, out);
    if (validateIPv6Address(out) != 0)
        orsa_strlcpy(out, ORSA_IPV6_ZERO_TEXT, ORSA_IPV6_TEXT_SIZE);
}

// A client's address text checked and normalised into out (at least 40
// bytes). A text longer than the full form is no address: it is refused, not
// cut to 39 characters.
bool address_of_text(const char *text, char *out)
{
    if (text == nullptr || strnlen(text, ORSA_IPV6_FULL_LENGTH + 1) > ORSA_IPV6_FULL_LENGTH)
        return false;
    orsa_strlcpy(out, text, ORSA_IPV6_TEXT_SIZE);
    return validateIPv6Address(out) == 0;
}

// The last status as it stood, put back after a step whose failure is not
// the caller's to see.
struct SavedStatus {
    u32 code = 0;
    char text[ORSA_STATUS_TEXT_SIZE] = "";
    SavedStatus() { orsa_get_last_status(&code, text); }
    void restore() const { orsa_set_last_status(code, text); }
};

}  // namespace

// ---- readers ----

u32 ORSA_get_IPv6configuration_properties(u32 port, u8 domain, u8 phba, u32 kind, char *out, u32 which)
{
    if (out == nullptr)
        return 1;
    orsa_strlcpy(out, ORSA_IPV6_ZERO_TEXT, ORSA_IPV6_TEXT_SIZE);
    u32 handle = 0;
    if (orsa_first_interface(port, domain, phba, &handle) != 0)
        return 1;
    u8 *info = (u8 *)orsa_dmalloc(ORSA_IF_INFO_SIZE);
    if (info == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    u32 rc = orsa_fetch_if_info(port, handle, kind, false, domain, phba, info);
    if (rc != 0) {
        orsa_dfree(info);
        orsa_set_status(ORSA_STATUS_IF_INFO);
        return rc;
    }
    u32 count = orsa_rd32(info + 8);  // bounded by the reply (orsa_fetch_if_info)
    u32 seen = 0;
    for (u32 i = 0; i < count; i++) {
        const u8 *record = info + ORSA_IF_INFO_RECORDS_AT + i * ORSA_IF_INFO_RECORD_SIZE;
        if (record[2] != kind || ++seen != which)
            continue;
        full_form(record + 4, out);
        break;
    }
    orsa_dfree(info);
    return 0;
}

u32 handle_IPv6State(HmNode *property, char *value, u32 /*mode: read-only*/)
{
    OrsaNetWhere w;
    if (property == nullptr || !orsa_net_where(property, &w))
        return 1;
    if (no_ipv6(property))
        return orsa_store_and_answer(property, value, "N/A");
    u32 handle = 0;
    if (orsa_first_interface(w.port, w.domain, w.phba, &handle) != 0)
        return orsa_answer(property, value, 1);
    u8 *info = (u8 *)orsa_dmalloc(ORSA_IF_INFO_SIZE);
    if (info == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return orsa_answer(property, value, 1);
    }
    u32 rc = orsa_fetch_if_info(w.port, handle, ORSA_ADDR_IPV6, true, w.domain, w.phba, info);
    if (rc == 0) {
        u16 flags = orsa_rd16(info + 12);
        const char *state = (flags & 0x400) ? "AutoAssign" : (flags & 0x200) ? "DHCP" : (flags & 0x100) ? "Static" : nullptr;
        if (state != nullptr)
            rc = set_prop_val(property->parent, property->name, "%s", state);
    } else if (rc == ORSA_STATUS_IPV6_UNSUPPORTED) {
        rc = set_prop_val(property->parent, property->name, "%s", "N/A");
    } else {
        orsa_set_status(ORSA_STATUS_IF_INFO);
        rc = 1;
    }
    orsa_dfree(info);
    // The value as it stands goes back even after a failure.
    return orsa_answer(property, value, rc);
}

u32 handle_InitiatorLinkLocalAddress(HmNode *property, char *value, u32 /*mode: read-only*/)
{
    OrsaNetWhere w;
    if (property == nullptr || !orsa_net_where(property, &w))
        return 1;
    if (no_ipv6(property))
        return orsa_store_and_answer(property, value, "N/A");
    char text[ORSA_IPV6_TEXT_SIZE];
    // A failed read is reported (98 or 99 set) with the value as it stood.
    if (ORSA_get_IPv6configuration_properties(w.port, w.domain, w.phba, ORSA_ADDR_LINK_LOCAL, text, 1) != 0)
        return orsa_answer(property, value, 1);
    return orsa_store_and_answer(property, value, text);
}

u32 handle_InitiatorRoutableAddress(HmNode *property, char *value, u32 /*mode: read-only*/)
{
    OrsaNetWhere w;
    if (property == nullptr || property->name == nullptr || !orsa_net_where(property, &w))
        return 1;
    u32 which = strcasecmp(property->name, "InitiatorRoutableAddress2") == 0 ? 2 : 1;
    char text[ORSA_IPV6_TEXT_SIZE];
    // A port that cannot answer (KS2 and KS3 have no IPv6) shows no address.
    SavedStatus before;
    if (ORSA_get_IPv6configuration_properties(w.port, w.domain, w.phba, ORSA_ADDR_ROUTABLE, text, which) != 0) {
        before.restore();
        orsa_strlcpy(text, ORSA_IPV6_ZERO_TEXT, sizeof text);
    }
    return orsa_store_and_answer(property, value, text);
}

// ---- gateway ----

u32 ORSA_delete_IPv6Gateway(u32 port, u8 domain, u8 phba, HmNode *ipv6)
{
    char text[HM_VALUE_SIZE] = "";
    if (ipv6 == nullptr || internal_get_property(ipv6, "DefaultIPv6Gateway", text) != 0)
        return 1;
    char full[HM_VALUE_SIZE];
    if (strcmp(text, ORSA_IPV6_ZERO_TEXT) == 0 || !address_of_text(text, full))
        return 0;
    u8 bytes[16];
    StrToU8IPv6(full, bytes);
    if (orsa_change_gateway(port, domain, phba, 2, ORSA_ADDR_IPV6, bytes, 16) != 0)
        return 1;
    return set_prop_val(ipv6, "DefaultIPv6Gateway", "%s", ORSA_IPV6_ZERO_TEXT);
}

u32 handle_DefaultIPv6Gateway(HmNode *property, char *value, u32 mode)
{
    OrsaNetWhere w;
    if (property == nullptr || value == nullptr || !orsa_net_where(property, &w))
        return 1;
    if (no_ipv6(property))
        return orsa_store_and_answer(property, value, "N/A");
    if (mode == HM_MODE_GET) {
        u8 q[ORSA_GATEWAY_QUERY_SIZE] = {};
        q[0] = (u8)ORSA_ADDR_IPV6;
        u32 rc = ioctl_get_default_gateway(orsa_iscsi_port(w.port), q, w.domain, w.phba);
        if (rc != 0) {
            orsa_set_status(ORSA_STATUS_GATEWAY_GET);
            return rc;
        }
        char text[ORSA_IPV6_TEXT_SIZE];
        full_form(q + 4, text);
        return orsa_store_and_answer(property, value, text);
    }
    char full[ORSA_IPV6_TEXT_SIZE];
    if (!address_of_text(value, full) || strcmp(full, ORSA_IPV6_ZERO_TEXT) == 0)
        return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
    if (ORSA_delete_IPv6Gateway(w.port, w.domain, w.phba, property->parent) != 0)
        return 1;
    u8 bytes[16];
    StrToU8IPv6(full, bytes);
    if (orsa_change_gateway(w.port, w.domain, w.phba, 1, ORSA_ADDR_IPV6, bytes, 16) != 0)
        return 1;
    return set_prop_val(property->parent, property->name, "%s", full);
}

// ---- addresses ----

u32 ORSA_delete_ipv6_address(HmNode *group, const char *property, u32 kind, u32 port, u8 domain, u8 phba,
                             u32 handle)
{
    char text[HM_VALUE_SIZE] = "";
    if (group == nullptr || internal_get_property(group, property, text) != 0)
        return 1;
    if (strcmp(text, ORSA_IPV6_ZERO_TEXT) == 0)
        return 0;
    char full[HM_VALUE_SIZE];
    if (!address_of_text(text, full)) {
        orsa_set_last_status(ORSA_STATUS_INVALID_VALUE, "Invalid Value.");
        return 0;
    }
    u8 bytes[16];
    StrToU8IPv6(full, bytes);
    u32 rc = orsa_modify_ip_entry(port, handle, domain, phba, 2, kind, bytes, 16, nullptr, nullptr);
    if (rc != 0) {
        LOG(ORSA_LOG_ERROR, "%s: address delete failed with %u\n", __func__, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_IP_ENTRY);
    }
    return rc;
}

u32 do_ConfigureIPv6Address(HmNode *group, HmNode *action, HmValueSlot *params)
{
    OrsaNetWhere w;
    if (group == nullptr || params == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    if (no_ipv6(group))
        return orsa_fail_with(ORSA_STATUS_NO_IPV6);
    const char *property;
    u32 kind;
    if (strcmp(params[0], "0") == 0) {
        property = "InitiatorLinkLocalAddress";
        kind = ORSA_ADDR_LINK_LOCAL;
    } else if (strcmp(params[0], "1") == 0) {
        property = "InitiatorRoutableAddress1";
        kind = ORSA_ADDR_ROUTABLE;
    } else if (strcmp(params[0], "2") == 0) {
        property = "InitiatorRoutableAddress2";
        kind = ORSA_ADDR_ROUTABLE;
    } else {
        return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
    }
    char full[ORSA_IPV6_TEXT_SIZE];
    if (!address_of_text(params[1], full))
        return orsa_fail_with(ORSA_STATUS_BAD_VALUE);
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group->parent, &record))
        return 1;
    if (ORSA_delete_ipv6_address(group, property, kind, record.port, w.domain, w.phba, record.handle) != 0)
        return 1;
    if (strcmp(full, ORSA_IPV6_ZERO_TEXT) == 0)
        return set_prop_val(group, property, "%s", ORSA_IPV6_ZERO_TEXT);  // removed, none added
    if (kind == ORSA_ADDR_ROUTABLE &&
        orsa_release_dhcp(record.port, record.handle, w.domain, w.phba, ORSA_DHCP_IPV6_AUTO) != 0)
        return orsa_fail_with(ORSA_STATUS_DHCP_RELEASE);
    u8 bytes[16];
    StrToU8IPv6(full, bytes);
    u32 entry = 0;
    u32 rc = orsa_modify_ip_entry(record.port, record.handle, w.domain, w.phba, 1, kind, bytes, 16, nullptr, &entry);
    if (rc != 0) {
        LOG(ORSA_LOG_ERROR, "%s: address add failed with %u\n", __func__, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_IP_ENTRY);
        return rc;
    }
    if (entry == 47)
        return orsa_fail_with(ORSA_STATUS_DUPLICATE_IP);
    if (entry != 0) {
        LOG(ORSA_LOG_ERROR, "%s: address entry status %u\n", __func__, (unsigned)entry);
        return orsa_fail_with(ORSA_STATUS_IP_ENTRY);
    }
    return set_prop_val(group, property, "%s", full);
}

u32 do_AutoAssignEnable(HmNode *group, HmNode *action, HmValueSlot * /*params: the kind is not sent*/)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    if (no_ipv6(group))
        return orsa_fail_with(ORSA_STATUS_NO_IPV6);
    if (ORSA_delete_IPv6Gateway(w.port, w.domain, w.phba, group) != 0)
        return 1;
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group->parent, &record))
        return 1;
    // Manual addresses give way; whether they could be deleted does not stop it.
    ORSA_delete_ipv6_address(group, "InitiatorRoutableAddress2", ORSA_ADDR_ROUTABLE, record.port, w.domain, w.phba,
                             record.handle);
    ORSA_delete_ipv6_address(group, "InitiatorRoutableAddress1", ORSA_ADDR_ROUTABLE, record.port, w.domain, w.phba,
                             record.handle);
    if (orsa_config_dhcp(record.port, record.handle, w.domain, w.phba, ORSA_DHCP_IPV6_AUTO) != 0)
        return 1;
    return 0;
}

u32 do_AutoAssignDisable(HmNode *group, HmNode *action, HmValueSlot * /*params*/)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    if (no_ipv6(group))
        return orsa_fail_with(ORSA_STATUS_NO_IPV6);
    OrsaInterfaceRecord record;
    if (!orsa_interface_record(group->parent, &record))
        return 1;
    if (orsa_release_dhcp(record.port, record.handle, w.domain, w.phba, ORSA_DHCP_IPV6_AUTO) != 0)
        return orsa_fail_with(ORSA_STATUS_DHCP_RELEASE);
    return 0;
}

u32 do_DeleteDefaultIPv6Gateway(HmNode *group, HmNode *action, HmValueSlot * /*params*/)
{
    OrsaNetWhere w;
    if (group == nullptr || !orsa_net_where(action_node(group, action), &w))
        return 1;
    if (no_ipv6(group))
        return orsa_fail_with(ORSA_STATUS_NO_IPV6);
    return ORSA_delete_IPv6Gateway(w.port, w.domain, w.phba, group);
}

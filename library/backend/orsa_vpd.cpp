/* VPD and FRU VPD texts, boot state texts, the PCI domain from esx.conf and
 * the constant CIM properties: what needs no adapter command. */
#include "backend/orsa_vpd.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_nicprops.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/orsa_entry.h"

void orsa_hex_chunk(const u8 *area, u32 size, u32 index, bool last, char out[HM_VALUE_SIZE])
{
    out[0] = '\0';
    u32 start = ORSA_VPD_CHUNK * index;
    u32 end = last ? size : start + ORSA_VPD_CHUNK;
    if (end > size)
        end = size;
    u32 len = 0;
    for (u32 b = start; b < end && len + 2 < HM_VALUE_SIZE; ++b) {
        snprintf(out + len, HM_VALUE_SIZE - len, "%02x", area[b]);
        len += 2;
    }
    /* A value holds 255 characters: the last byte may keep only its high digit. */
    if (start + (len / 2) < end && len < HM_VALUE_SIZE - 1) {
        char two[3];
        snprintf(two, sizeof two, "%02x", area[start + len / 2]);
        out[len++] = two[0];
        out[len] = '\0';
    }
}

u32 orsa_store_hex_chunks(HmNode *group, const char *prefix, u32 first, const u8 *area, u32 size, u32 count)
{
    u32 rc = 0;
    for (u32 i = 0; i < count; ++i) {
        char text[HM_VALUE_SIZE];
        char name[HM_NAME_SIZE];
        orsa_hex_chunk(area, size, i, i + 1 == count, text);
        snprintf(name, sizeof name, "%s%u", prefix, (unsigned)(first + i));
        rc |= set_prop_val(group, name, "%s", text);
    }
    return rc;
}

u32 orsa_phba_function_number(HmNode *phba, u32 *function, const char *caller)
{
    HmNode *pci = phba != nullptr ? internal_get_node(phba, "PCI", HM_KIND_GROUP) : nullptr;
    if (pci == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get pci node\n", caller);
        return 1;
    }
    char text[HM_VALUE_SIZE] = "";
    if (internal_get_property(pci, "FunctionNumber", text) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get function number\n", caller);
        return 1;
    }
    char *end = nullptr;
    long f = strtol(text, &end, 0);
    if (f < 0 || end == nullptr || *end != '\0') {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: pf_num is invalid\n", caller);
        return 1;
    }
    *function = (u32)f;
    return 0;
}

const char *orsa_boot_state_text(u32 asic, u32 function, u32 rom_word, u8 boot_enabled)
{
    u32 bit = (asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3) ? (function & 7u) : (function & 255u);
    /* The word has 32 bits: a function beyond them has no expansion ROM. */
    if (bit >= 32 || (rom_word & (1u << bit)) == 0)
        return "N/A";
    return boot_enabled == 1 ? "Enabled" : "Disabled";
}

u32 orsa_domain_from_esx_conf(const char *path, const char *vmhba, u32 *domain)
{
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to open /etc/vmware/esx.conf\n", __func__);
        return 2;
    }
    /* The closing quote keeps vmhba3 from matching vmhba33. */
    char needle[64];
    snprintf(needle, sizeof needle, "vmkname = \"%.34s\"", vmhba);
    char line[256];
    u32 rc = 1;
    while (fgets(line, sizeof line, f) != nullptr) {
        size_t n = strlen(line);
        if (n > 0)
            line[n - 1] = '\0';
        if (strstr(line, needle) == nullptr)
            continue;
        char *save = nullptr;
        char *first = strtok_r(line, "/", &save);
        char *second = first != nullptr ? strtok_r(nullptr, "/", &save) : nullptr;
        if (second == nullptr)
            break;
        char *colon = strchr(second, ':');
        if (colon != nullptr)
            *colon = '\0';
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:prt = %s\n", __func__, second);
        char *end = nullptr;
        unsigned long d = strtoul(second, &end, 16);
        if (end == second || *end != '\0')
            break;
        *domain = (u32)d;
        rc = 0;
        break;
    }
    fclose(f);
    return rc;
}

u32 handle_DomainNumber(HmNode *property, char *value, u32)
{
    HmNode *pci = property != nullptr ? property->parent : nullptr;
    HmNode *phba = pci != nullptr ? pci->parent : nullptr;
    HmNode *lhba = phba != nullptr ? internal_get_node(phba, "LogicalHBA0", HM_KIND_GROUP) : nullptr;
    char vmhba[HM_VALUE_SIZE] = "";
    if (lhba == nullptr || internal_get_property(lhba, "IfName", vmhba) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get VMHBA Name\n", __func__);
        return 1;
    }
    u32 domain = 0;
    u32 rc = orsa_domain_from_esx_conf(ORSA_ESX_CONF, vmhba, &domain);
    if (rc == 2)
        return 1;
    if (rc != 0)
        return orsa_answer(property, value, 0); /* no line names it: the stored value stays */
    char text[16];
    snprintf(text, sizeof text, "0x%04x", domain);
    return orsa_store_and_answer(property, value, text);
}

u32 handle_AvailableNetworkBootMethods(HmNode *property, char *value, u32)
{
    HmNode *ks = property != nullptr && property->parent != nullptr && property->parent->parent != nullptr
                     ? property->parent->parent->parent
                     : nullptr;
    if (ks == nullptr)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    return orsa_store_and_answer(property, value, asic == ORSA_ASIC_PIVARD ? "PXE,iBFT" : "PXE");
}

u32 handle_EnabledCapabilities(HmNode *property, char *value, u32)
{
    return orsa_store_and_answer(property, value, "LoadBalancing,FailOver,WakeOnLAN");
}

u32 handle_Kalderstone_NICPhysicalHBA_CIM_Capabilities(HmNode *property, char *value, u32)
{
    return orsa_store_and_answer(property, value, "LoadBalancing,FailOver,WakeOnLAN");
}

u32 handle_LinkTechnology(HmNode *property, char *value, u32)
{
    return orsa_store_and_answer(property, value, "Ethernet");
}

u32 handle_ProtocolIfType(HmNode *property, char *value, u32)
{
    return orsa_store_and_answer(property, value, "Ethernet CSMA/CD");
}

/* ---- IP end-point handlers for clients that bind them ---- */

namespace {

/* The type and the address reader's text; 1 when the type cannot be read. */
u32 ip_type_and_text(HmNode *property, char type[HM_VALUE_SIZE], char text[HM_VALUE_SIZE], u32 *reader_rc)
{
    HmNode *group = property != nullptr ? property->parent : nullptr;
    if (group == nullptr || internal_get_property(group, "IPProtocolIfType", type) != 0)
        return 1;
    text[0] = '\0';
    *reader_rc = ORSA_get_nic_ipaddress(group->parent, text);
    return 0;
}

}  // namespace

u32 handle_CIM_IPv4Address(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    char type[HM_VALUE_SIZE], text[HM_VALUE_SIZE];
    u32 reader = 0;
    if (ip_type_and_text(property, type, text, &reader) != 0)
        return 1;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:iftype = %s\n", __func__, type);
    bool v4 = strcmp(type, "IPv4") == 0 || strcmp(type, "IPv4/v6") == 0;
    const char *out = (v4 && reader == 0 && text[0] != '\0') ? text : "0.0.0.0";
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:prop_val = %s\n", __func__, out);
    u32 rc = set_prop_val(property->parent, "IPv4Address", "%s", out);
    return orsa_answer(property, value, rc);
}

u32 handle_CIM_IPv6Address(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    char type[HM_VALUE_SIZE], text[HM_VALUE_SIZE];
    u32 reader = 0;
    if (ip_type_and_text(property, type, text, &reader) != 0)
        return 1;
    bool v6 = strcmp(type, "IPv6") == 0 || strcmp(type, "IPv4/v6") == 0;
    const char *out = (v6 && reader == 0 && text[0] != '\0') ? text : "0000:0000:0000:0000";
    u32 rc = set_prop_val(property->parent, "IPv6Address", "%s", out);
    return orsa_answer(property, value, rc);
}

u32 handle_CIM_IPProtocolEndPointName(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    char type[HM_VALUE_SIZE], text[HM_VALUE_SIZE];
    u32 reader = 0;
    if (ip_type_and_text(property, type, text, &reader) != 0)
        return 1;
    const char *out = "";
    if (strcmp(type, "N/A") == 0) {
        out = "0.0.0.0";
    } else if (strcmp(type, "IPv4") == 0) {
        if (reader != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s; Failed to get the IPv4Address\n", __func__);
            return 1;
        }
        out = text[0] != '\0' ? text : "0.0.0.0";
    } else if (strcmp(type, "IPv6") == 0 || strcmp(type, "IPv4/v6") == 0) {
        if (reader != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s; Failed to get the IPv6Address\n", __func__);
            return 1;
        }
        out = text[0] != '\0' ? text : "0000:0000:0000:0000";
    }
    u32 rc = set_prop_val(property->parent, "IPProtocolEndPointName", "%s", out);
    return orsa_answer(property, value, rc);
}

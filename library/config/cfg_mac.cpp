/* MAC addresses of the adapter's functions and the NIC data regions. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_mac.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_nicprops.h"
#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_model.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_entry.h"

/* ---- texts and tables ---- */

namespace mac {

namespace {

constexpr size_t kKsEntry = 52;
constexpr size_t kKsKind = 0, kKsFunction = 4, kKsState = 5, kKsType = 6;
/* The addresses of entry i lie at these offsets from the entry's start. */
constexpr size_t kKsNicMac = 60, kKsIscsiMac = 64;

}  // namespace

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

namespace {

void wr16(u8 *p, u16 v)
{
    p[0] = (u8)v;
    p[1] = (u8)(v >> 8);
}

void wr32(u8 *p, u32 v)
{
    wr16(p, (u16)v);
    wr16(p + 2, (u16)(v >> 16));
}

}  // namespace

void text_of(const u8 m[6], char *out, size_t size)
{
    snprintf(out, size, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

bool parse_function(const char *text, u32 *out)
{
    if (text == nullptr || text[0] == '\0')
        return false;
    char *end = nullptr;
    long v = strtol(text, &end, 0);
    if (end == text || *end != '\0' || v < 0)
        return false;
    *out = (u32)v;
    return true;
}

u32 legacy_mac_offset(const u8 *table, size_t size, const char *function_text, bool iscsi)
{
    if (table == nullptr || function_text == nullptr || size < 4)
        return 0;
    // The count the adapter names, but no more entries than the table holds.
    u32 n = orsa_rd32(table);
    if (n > ORSA_KS_CONF_ENTRIES)
        n = ORSA_KS_CONF_ENTRIES;
    for (u32 i = 0; i < n; i++) {
        size_t at = 4 + (size_t)i * kKsEntry;
        if (at + kKsEntry > size)
            break;
        const u8 *e = table + at;
        char number[16];
        snprintf(number, sizeof number, "0x%x", e[kKsFunction]);
        if (e[kKsKind] != 0 || strcasecmp(number, function_text) != 0 || e[kKsState] != 0 ||
            e[kKsType] != (iscsi ? 1 : 0))
            continue;
        // The address belongs to the entry but lies past its 52 bytes; the
        // last entries' addresses would lie past the table itself.
        size_t mac_at = at + (iscsi ? kKsIscsiMac : kKsNicMac);
        return mac_at + 6 <= size ? (u32)mac_at : 0;
    }
    return 0;
}

void build_single_write(u8 request[ORSA_SET_ONE_FUNCTION_SIZE], const u8 *record, u32 record_len, u32 pf,
                        u32 phba_port, const u8 m[6])
{
    memset(request, 0, ORSA_SET_ONE_FUNCTION_SIZE);
    wr32(request + 4, 1);
    u8 *r = request + ORSA_SET_PROFILE_HEAD;
    memcpy(r, record, record_len < ORSA_RES_DESC_LEN ? record_len : ORSA_RES_DESC_LEN);
    const bool nic = record[0] == ORSA_RES_NIC_FUNCTION;
    r[0] = record[0];
    r[1] = ORSA_RES_DESC_LEN;
    r[3] = (u8)((r[3] & 0x3Fu) | 0x02u);
    r[6] = (u8)pf;
    r[7] = (u8)((r[7] & ~3u) | ((pf >> 8) & 3u));
    if (nic) {
        memcpy(r + 10, m, 6);
        // The fields the adapter is to leave as they are.
        static const size_t kKeep[] = {8, 18, 20, 28, 32, 38, 60, 62};
        for (size_t off : kKeep)
            wr16(r + off, 0xFFFF);
        wr32(r + 48, 0xFFFFFFFFu);
        wr32(r + 52, 0xFFFFFFFFu);
        r[44] = (u8)((r[44] & 0xC0u) | (phba_port & 0x3Fu));
    } else {
        memcpy(r + 14, m, 6);
        wr32(r + 36, 0xFFFFFFFFu);
        wr32(r + 40, 0xFFFFFFFFu);
    }
}

}  // namespace mac

/* ---- the NIC data regions ---- */

namespace nic_region {

void object_name(u32 port, u32 partition, char out[ORSA_NIC_REGION_NAME_SIZE])
{
    snprintf(out, ORSA_NIC_REGION_NAME_SIZE, "/nicdata/Port%x/Partition%d/Region1", port, (int)partition);
}

u32 tlv_area(const u8 *image, u32 size)
{
    if (image == nullptr || size < ORSA_NIC_REGION_HEADER)
        return 0;
    u32 length = orsa_rd32(image + 4);
    u32 held = size - ORSA_NIC_REGION_HEADER;
    return length < held ? length : held;
}

u32 restore_macs(u8 *image, u32 size, const u8 factory[6], u32 *same)
{
    u32 changed = 0, equal = 0;
    const u32 end = ORSA_NIC_REGION_HEADER + tlv_area(image, size);
    u32 off = ORSA_NIC_REGION_HEADER;
    while (off + 3 <= end) {
        u8 type = image[off];
        u32 len = orsa_rd16(image + off + 1);
        if (len > end - off - 3) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: TLV type 0x%x of length %u at %u reaches past the region\n",
                   __func__, type, (unsigned)len, (unsigned)off);
            break;
        }
        u8 *value = image + off + 3;
        if (type >= 0x20 && type <= 0x22) {
            if (len < 7) {
                // A MAC TLV without room for its flag and six bytes.
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: MAC TLV type 0x%x of length %u passed over\n",
                       __func__, type, (unsigned)len);
            } else if (memcmp(value + 1, factory, 6) != 0) {
                value[0] = 1;
                memcpy(value + 1, factory, 6);
                changed++;
            } else {
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: MAC in NIC region same as factory default MAC\n",
                       __func__);
                equal++;
            }
        } else {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: TLV type 0x%x passed over\n", __func__, type);
        }
        off += 3 + len;
    }
    if (same != nullptr)
        *same = equal;
    return changed;
}

}  // namespace nic_region

namespace {

/* ---- tree helpers ---- */

bool is_group(const HmNode *n, const char *name)
{
    return n != nullptr && n->name != nullptr && strcmp(n->name, name) == 0;
}

/* The FunctionNumber text of a physical HBA's PCI subgroup. */
bool function_text(HmNode *phba, char out[HM_VALUE_SIZE])
{
    HmNode *pci = phba != nullptr ? internal_get_node(phba, "PCI", HM_KIND_GROUP) : nullptr;
    if (pci == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get pci node\n", __func__);
        return false;
    }
    if (internal_get_property(pci, "FunctionNumber", out) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get function number\n", __func__);
        return false;
    }
    return true;
}

/* The record type of a driver type (2 NIC, 1 iSCSI); 0 for any other. */
u8 record_type(u32 driver_type)
{
    return driver_type == ORSA_MAC_NIC ? ORSA_RES_NIC_FUNCTION
                                       : driver_type == ORSA_MAC_ISCSI ? ORSA_RES_ISCSI_FUNCTION : 0;
}

u32 store_mac(HmNode *target, const u8 *m)
{
    char text[24];
    mac::text_of(m, text, sizeof text);
    return set_prop_val(target, "PermanentMACAddress", "%s", text);
}

void answer_cached(HmNode *group, const char *name, char *buffer)
{
    if (buffer == nullptr || group == nullptr)
        return;
    HmNode *p = internal_get_node(group, name, HM_KIND_PROPERTY);
    if (p != nullptr)
        orsa_strlcpy(buffer, HM_PROPERTY(p)->value, HM_VALUE_SIZE);
}

/* Reads the controller's legacy configuration table (836 bytes) for a
 * physical HBA; none with status 16 or 160. */
u8 *read_ks_table(HmNode *phba)
{
    u8 *table = (u8 *)orsa_dzalloc(ORSA_KS_CONF_SIZE);
    if (table == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return nullptr;
    }
    u32 rc = ioctl_get_ks_conf(orsa_controller_port(phba->parent), table, ORSA_KS_CONF_SIZE,
                               (u8)get_domain_id(phba), (u8)get_phba_port_number(phba));
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: configuration table read failed with %u\n", __func__,
               (unsigned)rc);
        orsa_dfree(table);
        orsa_set_status(ORSA_STATUS_MAC_GET_FAILED);
        return nullptr;
    }
    return table;
}

/* The region read: a new copy of the image (client: plain malloc, for a
 * client that frees it with free()) of *size bytes, or none. */
u8 *read_region(OrsaPort at, u8 domain, u8 phba_port, u32 region_port, u32 partition, u32 *size, bool client)
{
    u8 *buf = (u8 *)orsa_dzalloc(ORSA_NIC_REGION_READ_SIZE);
    if (buf == nullptr) {
        orsa_set_status(ORSA_STATUS_MAC_BUFFER_SPACE);
        return nullptr;
    }
    nic_region::object_name(region_port, partition, (char *)buf + 8);
    u32 rc = ioctl_common_read_object_version1(at, buf, ORSA_NIC_REGION_READ_SIZE, domain, phba_port);
    u32 got = orsa_rd32(buf);
    bool eof = (buf[7] & 0x80u) != 0;
    u8 *image = nullptr;
    if (rc != 0 || got == 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: region read answered %u with %u bytes\n", __func__,
               (unsigned)rc, (unsigned)got);
    } else if (!eof) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:eof not reached\n", __func__);
    } else {
        // The reply cannot hold more than its buffer, whatever length it names.
        if (got > ORSA_NIC_REGION_READ_SIZE - ORSA_NIC_REGION_DATA)
            got = ORSA_NIC_REGION_READ_SIZE - ORSA_NIC_REGION_DATA;
        image = (u8 *)(client ? malloc(got) : orsa_dmalloc(got));
        if (image == nullptr) {
            orsa_set_status(ORSA_STATUS_MAC_BUFFER_SPACE);
        } else {
            memcpy(image, buf + ORSA_NIC_REGION_DATA, got);
            if (size != nullptr)
                *size = got;
        }
    }
    orsa_dfree(buf);
    return image;
}

}  // namespace

u8 *orsa_read_nic_region(OrsaPort at, u8 domain, u8 phba_port, u32 region_port, u32 partition, u32 *size)
{
    return read_region(at, domain, phba_port, region_port, partition, size, false);
}

u32 orsa_write_nic_region(OrsaPort at, u8 domain, u8 phba_port, u32 region_port, u32 partition, const u8 *image,
                          u32 size)
{
    if (image == nullptr || size < ORSA_NIC_REGION_HEADER)
        return 1;
    const u32 length = size - ORSA_NIC_REGION_HEADER;  // the TLV bytes sent
    const u32 request_size = length + ORSA_NIC_REGION_WRITE_EXTRA;
    if (request_size + ORSA_HDR_SIZE > ORSA_MAX_CMD_BUFFER) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: a region of %u bytes is too long to write\n", __func__,
               (unsigned)size);
        return 1;
    }
    u8 *req = (u8 *)orsa_dzalloc(request_size);
    if (req == nullptr) {
        orsa_set_status(ORSA_STATUS_MAC_BUFFER_SPACE);
        return 1;
    }
    const u32 write_length = length + ORSA_NIC_REGION_HEADER;
    req[0] = (u8)write_length;
    req[1] = (u8)(write_length >> 8);
    req[2] = (u8)(write_length >> 16);
    req[3] = 0x80;  // the end of the object; offset 0
    nic_region::object_name(region_port, partition, (char *)req + 8);
    memcpy(req + ORSA_NIC_REGION_REQUEST_HEAD, image, size);
    u32 rc = ioctl_common_write_object_version1(at, req, request_size, domain, phba_port);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: status %u, %u bytes written, change status %u\n", __func__,
           (unsigned)rc, (unsigned)orsa_rd32(req), (unsigned)req[4]);
    orsa_dfree(req);
    return rc;
}

/* ---- exported functions ---- */

u32 validateMACAddress(const char *text, u8 *out)
{
    ORSA_ENTRY_LOCK();
    if (text == nullptr)
        return 0;
    u8 bytes[6];
    const char *p = text;
    for (int i = 0; i < 6; i++) {
        int hi = mac::hex_digit(*p);
        if (hi < 0)
            return 0;
        u32 v = (u32)hi;
        p++;
        int lo = mac::hex_digit(*p);
        if (lo >= 0) {
            v = v * 16 + (u32)lo;
            p++;
        }
        bytes[i] = (u8)v;
        if (i < 5) {
            if (*p != ':' && *p != '-')
                return 0;
            p++;
        }
    }
    if (*p != '\0')
        return 0;
    if (out != nullptr)
        memcpy(out, bytes, 6);
    return 1;
}

u32 ORSA_convert_mac_addr(const char *source, char from, char *dest, char to)
{
    ORSA_ENTRY_LOCK();
    if (source == nullptr || dest == nullptr)
        return 1;
    size_t i = 0;
    for (; source[i] != '\0'; i++)
        dest[i] = source[i] == from ? to : source[i];
    dest[i] = '\0';
    return 0;
}

u32 ORSA_get_legacy_last_configured_mac(HmNode *phba, HmNode *target)
{
    ORSA_ENTRY_LOCK();
    char fn[HM_VALUE_SIZE] = "";
    if (phba == nullptr || target == nullptr || phba->parent == nullptr || !function_text(phba, fn))
        return 1;
    u8 *table = read_ks_table(phba);
    if (table == nullptr)
        return 1;
    u32 at = mac::legacy_mac_offset(table, ORSA_KS_CONF_SIZE, fn, is_group(phba, "iSCSIPhysicalHBA"));
    // A function the table names no address for has none to show; another
    // entry's address would be some other function's.
    u32 rc = at != 0 ? store_mac(target, table + at) : set_prop_val(target, "PermanentMACAddress", "N/A");
    orsa_dfree(table);
    return rc;
}

u32 ORSA_set_legacy_last_configured_mac(HmNode *phba, HmNode *target, const char *text)
{
    ORSA_ENTRY_LOCK();
    u8 m[6];
    if (phba == nullptr || target == nullptr || phba->parent == nullptr)
        return 1;
    if (validateMACAddress(text, m) != 1)
        return orsa_fail_with(ORSA_STATUS_MAC_INVALID);
    char fn[HM_VALUE_SIZE] = "";
    if (!function_text(phba, fn))
        return 1;
    u8 *table = read_ks_table(phba);
    if (table == nullptr)
        return 1;
    u32 at = mac::legacy_mac_offset(table, ORSA_KS_CONF_SIZE, fn, is_group(phba, "iSCSIPhysicalHBA"));
    if (at == 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Cannot get a resource with required pf_num\n", __func__);
        orsa_dfree(table);
        return 1;
    }
    memcpy(table + at, m, 6);
    u32 rc = ioctl_set_ks_conf(orsa_controller_port(phba->parent), table, ORSA_KS_CONF_SIZE,
                               (u8)get_domain_id(phba), (u8)get_phba_port_number(phba));
    orsa_dfree(table);
    if (rc != 0)
        return orsa_fail_with(ORSA_STATUS_MAC_SET_FAILED);
    return 0;
}

u32 ORSA_get_last_configured_mac(HmNode *phba, HmNode *target, char *buffer, u32 driver_type)
{
    ORSA_ENTRY_LOCK();
    HmNode *ks = phba != nullptr ? phba->parent : nullptr;
    if (ks == nullptr || target == nullptr)
        return 1;
    u32 rc = 0;
    if (get_ks_type(ks) == ORSA_ASIC_KS2) {
        rc = ORSA_get_legacy_last_configured_mac(phba, target);
        if (rc == 0)
            answer_cached(target, "PermanentMACAddress", buffer);
        return rc;
    }
    char fn[HM_VALUE_SIZE] = "";
    if (!function_text(phba, fn))
        return 1;
    u8 type = record_type(driver_type);
    if (type == 0)
        return 1;
    ProfileConfig *profile = ORSA_get_profile(ks, ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return 1;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, type)) {
        char number[16];
        snprintf(number, sizeof number, "0x%x", (unsigned)orsa_res_pf(rec));
        if (strcasecmp(number, fn) != 0 || orsa_res_hidden(rec))
            continue;
        rc = store_mac(target, orsa_res_mac(rec));
        break;
    }
    orsa_dfree(profile);
    if (rc == 0)
        answer_cached(target, "PermanentMACAddress", buffer);
    return rc;
}

u32 ORSA_set_last_configured_mac(HmNode *phba, HmNode *target, const char *text, u32 driver_type)
{
    ORSA_ENTRY_LOCK();
    HmNode *ks = phba != nullptr ? phba->parent : nullptr;
    if (ks == nullptr || target == nullptr || text == nullptr)
        return 1;
    if (get_ks_type(ks) == ORSA_ASIC_KS2)
        return ORSA_set_legacy_last_configured_mac(phba, target, text);
    u8 type = record_type(driver_type);
    if (type == 0)
        return 1;
    u8 m[6];
    if (validateMACAddress(text, m) != 1)
        return orsa_fail_with(ORSA_STATUS_MAC_INVALID);
    char fn[HM_VALUE_SIZE] = "";
    if (!function_text(phba, fn))
        return 1;
    char *end = nullptr;
    unsigned long pf = strtoul(fn, &end, 16);
    if (end == fn || *end != '\0') {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:pf num is invalid\n", __func__);
        return 1;
    }
    ProfileConfig *profile = ORSA_get_profile(ks, ORSA_CFG_ACTIVE, 0, 0);
    if (profile == nullptr)
        return 1;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    const u8 *found = nullptr;
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, type)) {
        if (orsa_res_pf(rec) == pf) {
            found = rec;
            break;
        }
    }
    if (found == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: no record of function 0x%lx\n", __func__, pf);
        orsa_dfree(profile);
        return 1;
    }
    u8 request[ORSA_SET_ONE_FUNCTION_SIZE];
    mac::build_single_write(request, found, found[1], (u32)pf, (u32)get_phba_port_number(phba), m);
    orsa_dfree(profile);
    u32 rc = ioctl_set_profile_config(orsa_port_of(phba), request, sizeof request, (u8)get_domain_id(phba),
                                      (u8)get_phba_port_number(phba));
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: profile write failed with %u\n", __func__, (unsigned)rc);
        return orsa_fail_with(ORSA_STATUS_MAC_SET_FAILED);
    }
    return 0;
}

u8 *ORSA_read_nic_region(u32 port, u8 domain, u8 phba_port, u32 region_port, u32 partition)
{
    ORSA_ENTRY_LOCK();
    return read_region(orsa_nic_port(port), domain, phba_port, region_port, partition, nullptr, true);
}

u32 ORSA_write_nic_region(u32 port, u8 domain, u8 phba_port, u32 region_port, u32 partition, u8 *image)
{
    ORSA_ENTRY_LOCK();
    if (image == nullptr)
        return 1;
    u32 length = orsa_rd32(image + 4);
    if (length > ORSA_MAX_CMD_BUFFER)
        return 1;
    return orsa_write_nic_region(orsa_nic_port(port), domain, phba_port, region_port, partition, image,
                                 length + ORSA_NIC_REGION_HEADER);
}

u32 ORSA_reset_virt_mac(HmNode *controller, u32 skip_function0)
{
    ORSA_ENTRY_LOCK();
    HmNode *nic = controller != nullptr ? get_first_instance(controller, "NICPhysicalHBA") : nullptr;
    HmNode *pm = controller != nullptr ? internal_get_node(controller, "ProfileManagement", HM_KIND_GROUP) : nullptr;
    HmNode *cp = pm != nullptr ? internal_get_node(pm, "ConfiguredProfile", HM_KIND_GROUP) : nullptr;
    HmNode *first = cp != nullptr ? get_first_instance(cp, "Port") : nullptr;
    if (nic == nullptr || first == nullptr)
        return 1;
    const OrsaPort at = orsa_port_of(nic);
    const u8 domain = (u8)get_domain_id(nic), phba_port = (u8)get_phba_port_number(nic);
    u32 result = 0;
    for (HmNode *p = first; p != nullptr; p = hm_next_instance(p)) {
        const u32 port = (u32)hm_instance_number(p);
        for (HmNode *f = get_first_instance(p, "Function"); f != nullptr; f = hm_next_instance(f)) {
            const u32 partition = (u32)hm_instance_number(f) + 1;
            if (skip_function0 == 1 && partition == 1)
                continue;
            char number[HM_VALUE_SIZE] = "", text[HM_VALUE_SIZE] = "";
            internal_get_property(f, "FunctionNumber", number);
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: function %s\n", __func__, number);
            u8 factory[6];
            if (internal_get_property(f, "MACAddress", text) != 0 || validateMACAddress(text, factory) != 1) {
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:MACAddress validation failed for parition%d\n",
                       __func__, (int)partition);
                continue;
            }
            u32 size = 0;
            u8 *image = orsa_read_nic_region(at, domain, phba_port, port, partition, &size);
            if (image == nullptr) {
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Could not read nic tlv region for parition%d\n",
                       __func__, (int)partition);
                continue;
            }
            u32 area = nic_region::tlv_area(image, size);
            if (area == 0) {
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:The Length from NIC TLV's is zero for partition%d\n",
                       __func__, (int)partition);
                orsa_dfree(image);
                continue;
            }
            nic_region::restore_macs(image, size, factory, nullptr);
            // Written back whether or not anything changed, and never more
            // than was read.
            if (orsa_write_nic_region(at, domain, phba_port, port, partition, image, ORSA_NIC_REGION_HEADER + area) !=
                0) {
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to write nic region for partition%d\n",
                       __func__, (int)partition);
                result = 1;
            }
            orsa_dfree(image);
        }
    }
    return result;
}

/* ---- the CIM handlers no group binds ---- */

namespace {

/* Has the host-layer filler write the property's value and answers it. */
u32 cim_answer(HmNode *property, char *value, u32 (*filler)(HmNode *))
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    u32 rc = filler(property->parent);
    return orsa_answer(property, value, rc);
}

}  // namespace

u32 handle_CIM_AddressOrigin(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    HmNode *group = property != nullptr ? property->parent : nullptr;
    HmNode *grand = group != nullptr ? group->parent : nullptr;
    char text[HM_VALUE_SIZE];
    if (grand == nullptr || internal_get_property(grand, "IfName", text) != 0 ||
        internal_get_property(grand, "MACAddress", text) != 0 || internal_get_property(group, "IPv4Address", text) != 0)
        return 1;
    return cim_answer(property, value, ORSA_get_address_origin);
}

u32 handle_CIM_IPv6GateWay(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    return cim_answer(property, value, ORSA_get_nic_ipv6gateway);
}

u32 handle_CIM_GateWay(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    return cim_answer(property, value, ORSA_get_nic_gateway);
}

u32 handle_NICPhysicalHBA_CIM_SubnetMask(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    return cim_answer(property, value, ORSA_get_nic_subnetmask);
}

u32 handle_CIM_IPProtocolIfType(HmNode *property, char *value, u32)
{
    ORSA_ENTRY_LOCK();
    return cim_answer(property, value, ORSA_get_nic_iftype);
}

/* ---- property handlers ---- */

u32 handle_NICPhysicalHBA_PermanentMACAddress(HmNode *property, char *value, u32 mode)
{
    HmNode *g = property != nullptr ? property->parent : nullptr;
    if (g == nullptr || value == nullptr)
        return 1;
    if (mode == HM_MODE_GET)
        return ORSA_get_last_configured_mac(g, g, value, ORSA_MAC_NIC);
    if (mode != HM_MODE_SET)
        return 0;
    if (ORSA_set_last_configured_mac(g, g, value, ORSA_MAC_NIC) != 0)
        return 1;
    // The same address is written again all the same: the adapter takes
    // what it is given at its next reset.
    set_prop_val(g, "PermanentMACAddress", "%s", value);
    orsa_set_status(ORSA_STATUS_MAC_CHANGED);
    return 0;
}

u32 handle_iSCSIPhysicalHBA_Network_NICConfiguration_PermanentMACAddress(HmNode *property, char *value, u32 mode)
{
    HmNode *n = property != nullptr ? property->parent : nullptr;
    HmNode *h = n != nullptr && n->parent != nullptr ? n->parent->parent : nullptr;
    if (h == nullptr || value == nullptr)
        return 1;
    if (mode == HM_MODE_GET)
        return ORSA_get_last_configured_mac(h, n, value, ORSA_MAC_ISCSI);
    if (mode != HM_MODE_SET)
        return 0;
    if (ORSA_set_last_configured_mac(h, n, value, ORSA_MAC_ISCSI) != 0)
        return 1;
    orsa_set_status(ORSA_STATUS_MAC_CHANGED);
    return 0;
}

u32 handle_ProfileManagement_ConfiguredProfile_Port_Function_MACAddress(HmNode *property, char *value, u32)
{
    HmNode *f = property != nullptr ? property->parent : nullptr;
    HmNode *phba = orsa_first_phba(orsa_controller_of(property));
    if (f == nullptr || phba == nullptr)
        return 1;
    char text[HM_VALUE_SIZE] = "";
    u32 pf = 0;
    if (internal_get_property(f, "FunctionNumber", text) != 0 || !mac::parse_function(text, &pf)) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get function number\n", __func__);
        return 1;
    }
    u8 payload[ORSA_MAC_LIST_SIZE] = {};
    payload[0] = 9;
    payload[1] = 1;
    u32 rc = ioctl_get_macaddress_list(orsa_port_of(phba), payload, (u8)get_domain_id(phba),
                                       (u8)get_phba_port_number(phba), pf);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: MAC address list of function %u failed with %u\n", __func__,
               (unsigned)pf, (unsigned)rc);
        return orsa_fail_with(ORSA_STATUS_PERMANENT_MAC_FAILED);
    }
    mac::text_of(payload + 2, text, sizeof text);
    return orsa_store_and_answer(property, value, text);
}

u32 handle_NICPhysicalHBA_MACAddress(HmNode *property, char *value, u32 mode)
{
    HmNode *g = property != nullptr ? property->parent : nullptr;
    if (g == nullptr)
        return 1;
    if (mode == HM_MODE_SET)
        return ORSA_set_nic_macaddress();
    if (mode != HM_MODE_GET)
        return 0;
    if (ORSA_get_nic_macaddress(g) != 0)
        return 1;
    return orsa_answer(property, value, 0);
}

u32 handle_nic_MTUSize(HmNode *property, char *value, u32)
{
    HmNode *g = property != nullptr ? property->parent : nullptr;
    if (g == nullptr)
        return 1;
    if (ORSA_get_nic_mtusize(g, orsa_port_of(g).instance) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "Failed to get th MTUSize for this nic interface\n");
        return 1;
    }
    return orsa_answer(property, value, 0);
}

/* ---- actions ---- */

namespace {

/* Puts the factory address of the function of phba back as its permanent
 * address; target shows it. */
u32 reset_mac(HmNode *phba, HmNode *target, HmNode *action, u32 driver_type)
{
    char text[HM_VALUE_SIZE] = "";
    u32 pf = 0;
    if (!function_text(phba, text))
        return 1;
    if (!mac::parse_function(text, &pf)) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:pf num is invalid\n", __func__);
        return 1;
    }
    // The factory query answers for functions 0 to 7 only: a larger number
    // has no address there to restore.
    if (pf >= ORSA_MAC_QUERY_FUNCTIONS) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:pf num is invalid\n", __func__);
        return orsa_fail_with(ORSA_STATUS_FACTORY_MAC_FAILED);
    }
    u8 payload[ORSA_MAC_QUERY_SIZE] = {};
    payload[0] = 9;
    u32 rc = ioctl_get_mac_query(orsa_port_of(action), payload, (u8)get_domain_id(action),
                                 (u8)get_phba_port_number(action));
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: factory MAC query failed with %u\n", __func__, (unsigned)rc);
        return orsa_fail_with(ORSA_STATUS_FACTORY_MAC_FAILED);
    }
    mac::text_of(payload + 10 + 8 * pf, text, sizeof text);
    if (ORSA_set_last_configured_mac(phba, target, text, driver_type) != 0)
        return 1;
    set_prop_val(target, "PermanentMACAddress", "%s", text);
    orsa_set_status(ORSA_STATUS_MAC_CHANGED);
    return 0;
}

}  // namespace

u32 do_NICPhysicalHBA_ResetMACAddress(HmNode *group, HmNode *action, HmValueSlot *)
{
    if (group == nullptr || action == nullptr)
        return 1;
    return reset_mac(group, group, action, ORSA_MAC_NIC);
}

u32 do_iSCSIPhysicalHBA_Network_NICConfiguration_ResetMACAddress(HmNode *group, HmNode *action, HmValueSlot *)
{
    HmNode *h = group != nullptr && group->parent != nullptr ? group->parent->parent : nullptr;
    if (h == nullptr || action == nullptr)
        return 1;
    return reset_mac(h, group, action, ORSA_MAC_ISCSI);
}

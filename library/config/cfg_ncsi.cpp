/* NC-SI configuration of a controller. */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_ncsi.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "config/cfg_boot_vf.h"
#include "schema/builders.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

/* ---- decoders ---- */

namespace {

/* Offsets within a block. */
constexpr size_t kPortSwap = 4, kMac0 = 5, kWol0 = 11, kMac1 = 12, kWol1 = 18, kVlan = 20;

}  // namespace

namespace ncsi {

namespace {

bool enable_byte(u8 *byte, const char *value)
{
    if (strcasecmp(value, "Yes") == 0)
        *byte |= 1;
    else if (strcasecmp(value, "No") == 0)
        *byte = 0;
    return true;
}

}  // namespace

const char *yes_no(u8 byte)
{
    return byte == 1 ? "Yes" : byte == 0 ? "No" : nullptr;
}

bool apply(u8 block[ORSA_NCSI_BLOCK_SIZE], const char *name, const char *value)
{
    if (block == nullptr || name == nullptr || value == nullptr)
        return false;
    if (strcmp(name, "EnableWOLPort0") == 0)
        return enable_byte(&block[kWol0], value);
    if (strcmp(name, "EnableWOLPort1") == 0)
        return enable_byte(&block[kWol1], value);
    if (strcmp(name, "Port0MAC") == 0 || strcmp(name, "Port1MAC") == 0) {
        u8 mac[6];
        if (!bootvf::parse_mac(value, mac))
            return false;
        memcpy(block + (name[4] == '0' ? kMac0 : kMac1), mac, 6);
        return true;
    }
    if (strcmp(name, "MgmtVLANId") == 0) {
        long id = 0;
        if (!bootvf::parse_int(value, 0, 4095, &id))
            return false;
        block[kVlan] = (u8)id;
        block[kVlan + 1] = (u8)(id >> 8);
        return true;
    }
    return false;
}

void version_text(u32 asic, const u8 *attributes, size_t size, char out[HM_VALUE_SIZE])
{
    const size_t at = ORSA_NCSI_VERSION_OFFSET;
    if (attributes != nullptr && asic == ORSA_ASIC_KS2 && size >= at + 10) {
        const u8 *v = attributes + at;
        snprintf(out, HM_VALUE_SIZE, "%d.%d.%d.%d-%d", orsa_rd16(v), orsa_rd16(v + 2), orsa_rd16(v + 4),
                 orsa_rd16(v + 6), orsa_rd16(v + 8));
        return;
    }
    if (attributes != nullptr && asic == ORSA_ASIC_KS3 && size > at) {
        // The adapter's text need not end inside the reply.
        const char *text = (const char *)(attributes + at);
        int len = (int)strnlen(text, size - at < 32 ? size - at : 32);
        snprintf(out, HM_VALUE_SIZE, "%.*s", len, text);
        return;
    }
    snprintf(out, HM_VALUE_SIZE, "%s", "N/A");
}

}  // namespace ncsi

/* ---- reading and writing ---- */

namespace {

/* The controller of an NCSI group and the addressing of its commands: the
 * first physical HBA (iSCSI before NIC). */
struct NcsiAddr : OrsaWhere {
    HmNode *controller = nullptr;
};

bool ncsi_addr(HmNode *ncsi, NcsiAddr *a)
{
    a->controller = ncsi != nullptr ? ncsi->parent : nullptr;
    return orsa_controller_where(a->controller, a);
}

bool named(HmNode *node, const char *name)
{
    return node != nullptr && node->name != nullptr && strcmp(node->name, name) == 0;
}

/* One yes/no property: another byte value leaves its text. */
u32 put_yes_no(HmNode *group, const char *name, u8 byte)
{
    const char *text = ncsi::yes_no(byte);
    return text != nullptr ? set_prop_val(group, name, "%s", text) : 0;
}

u32 fill_block(HmNode *group, const u8 *b, bool with_swap)
{
    u32 rc = 0;
    const u8 *m0 = b + kMac0, *m1 = b + kMac1;
    if (with_swap)
        rc |= put_yes_no(group, "PortSwap", b[kPortSwap]);
    rc |= put_yes_no(group, "EnableWOLPort0", b[kWol0]);
    rc |= set_prop_val(group, "Port0MAC", "%02x:%02x:%02x:%02x:%02x:%02x", m0[0], m0[1], m0[2], m0[3], m0[4], m0[5]);
    rc |= put_yes_no(group, "EnableWOLPort1", b[kWol1]);
    rc |= set_prop_val(group, "Port1MAC", "%02x:%02x:%02x:%02x:%02x:%02x", m1[0], m1[1], m1[2], m1[3], m1[4], m1[5]);
    rc |= set_prop_val(group, "MgmtVLANId", "%d", orsa_rd16(b + kVlan));
    return rc != 0 ? 1 : 0;
}

HmNode *instance_group(HmNode *ncsi, const char *kind, u32 create,
                       HmNode *(*build)(HmNode *, HmNode *, HmNode *, HmValueSlot *))
{
    HmNode *g = create == 1 ? build(ncsi, nullptr, nullptr, nullptr) : nullptr;
    // Made already (a second start-up fill): the group there is the one.
    return g != nullptr ? g : get_first_instance(ncsi, kind);
}

}  // namespace

u32 ORSA_get_ncsi_attributes(u32, u32, HmNode *ncsi, HmNode *selector, u32, u32 create)
{
    NcsiAddr a;
    if (!ncsi_addr(ncsi, &a))
        return 1;
    u32 asic = get_ks_type(a.controller);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_PIVARD) {
        u32 rc = set_prop_val(ncsi, "NCSISupport", "%s", "Not Supported");
        rc |= set_prop_val(ncsi, "NCSIKSHandShake", "%s", "N/A");
        return rc != 0 ? 1 : 0;
    }
    u8 attr[ORSA_NCSI_ATTR_SIZE] = {};
    u32 rc = ioctl_get_ncsi_attributes(a.at, attr, a.domain, a.phba_port);
    if (rc != 0)
        return rc;
    if (attr[0] != 1) {
        rc = set_prop_val(ncsi, "NCSISupport", "%s", "Not Supported");
        rc |= set_prop_val(ncsi, "NCSIKSHandShake", "%s", "N/A");
        return rc != 0 ? 1 : 0;
    }
    rc = set_prop_val(ncsi, "NCSISupport", "%s", "Supported");
    if (asic != ORSA_ASIC_KS2) {
        rc |= set_prop_val(ncsi, "NCSIKSHandShake", "%s", "N/A");
        return rc != 0 ? 1 : 0;
    }
    HmNode *st = instance_group(ncsi, "NCSIStaticConfiguration", create, initialize_NCSIStaticConfiguration);
    HmNode *dy = instance_group(ncsi, "NCSIDynamicConfiguration", create, initialize_NCSIDynamicConfiguration);
    if (st == nullptr || dy == nullptr)
        return 1;
    if (attr[1] == 0)
        rc |= set_prop_val(ncsi, "NCSIKSHandShake", "%s", "Success");
    else if (attr[1] == 1)
        rc |= set_prop_val(ncsi, "NCSIKSHandShake", "%s", "Error");
    if (named(selector, "NCSIStaticConfiguration"))
        rc |= fill_block(st, attr + ORSA_NCSI_STATIC_BLOCK, true);
    else if (named(selector, "NCSIDynamicConfiguration"))
        rc |= fill_block(dy, attr + ORSA_NCSI_DYNAMIC_BLOCK, false);
    return rc != 0 ? 1 : 0;
}

u32 set_ncsi_attributes(u32, u32, const char *name, HmNode *ncsi, u32, const char *value)
{
    NcsiAddr a;
    if (!ncsi_addr(ncsi, &a))
        return 1;
    u8 attr[ORSA_NCSI_ATTR_SIZE] = {};
    u32 rc = ioctl_get_ncsi_attributes(a.at, attr, a.domain, a.phba_port);
    if (rc != 0)
        return rc;
    u8 block[ORSA_NCSI_BLOCK_SIZE];
    memcpy(block, attr + ORSA_NCSI_DYNAMIC_BLOCK, sizeof block);
    if (!ncsi::apply(block, name, value))
        return orsa_fail_with(ORSA_STATUS_INVALID_VALUE_USE_VALID);
    rc = ioctl_set_ncsi_attributes(a.at, block, a.domain, a.phba_port);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_NCSI_SET_FAILED);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "ioctl_set_ncsi_attributes has failed.\n");
        return rc;
    }
    return 0;
}

/* ---- handlers ---- */

namespace {

/* The refresh both reading handlers share: the NCSI group and the group the
 * property lies in as the selector. */
u32 refresh(HmNode *property, char *value, HmNode *ncsi)
{
    if (vm_flag)
        orsa_answer_na(value);
    HmNode *group = property->parent;
    u32 rc = ORSA_get_ncsi_attributes((u32)get_port_number(property), (u32)get_phba_port_number(property), ncsi,
                                      group, get_domain_id(property), 0);
    if (rc != 0)
        return rc;
    return orsa_answer(property, value, 0);
}

}  // namespace

u32 handle_ncsi_static_configuration(HmNode *property, char *value, u32)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *group = property->parent;
    HmNode *ncsi = named(group, "NCSIStaticConfiguration") ? group->parent : group;
    return refresh(property, value, ncsi);
}

u32 handle_ncsi_dynamic_configuration(HmNode *property, char *value, u32 mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    HmNode *ncsi = property->parent->parent;
    if (mode != HM_MODE_SET)
        return refresh(property, value, ncsi);
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    HmNode *support = ncsi != nullptr ? internal_get_node(ncsi, "NCSISupport", HM_KIND_PROPERTY) : nullptr;
    if (support == nullptr || support->body == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get NCSI State.\n", __func__);
        return 1;
    }
    if (strcasecmp(HM_PROPERTY(support)->value, "Supported") != 0)
        return orsa_fail_with(ORSA_STATUS_NCSI_DISABLED);
    u32 rc = set_ncsi_attributes((u32)get_port_number(property), (u32)get_phba_port_number(property), property->name,
                                 ncsi, get_domain_id(property), value);
    if (rc != 0)
        return rc;
    // The VLAN id as the adapter took it (a text like "010" is the number
    // the tree's check read).
    long id = 0;
    if (strcmp(property->name, "MgmtVLANId") == 0 && bootvf::parse_int(value, 0, 4095, &id))
        return set_prop_val(property->parent, property->name, "%ld", id);
    return set_prop_val(property->parent, property->name, "%s", value);
}

u32 handle_get_ncsi_version(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *ncsi = property != nullptr ? property->parent : nullptr;
    HmNode *controller = ncsi != nullptr ? ncsi->parent : nullptr;
    HmNode *phba = controller != nullptr ? orsa_first_phba(controller) : nullptr;
    if (phba == nullptr)
        return 1;
    OrsaPort at = orsa_port_of(phba);
    u8 domain = (u8)get_domain_id(property);
    u8 phba_port = (u8)get_phba_port_number(property);
    HmNode *support = internal_get_node(ncsi, "NCSISupport", HM_KIND_PROPERTY);
    if (support == nullptr || support->body == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "In %s, Failed to get NCSI State\n", __func__);
        return 1;
    }
    u32 asic = get_ks_type(controller);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    char text[HM_VALUE_SIZE] = "N/A";
    if (strcasecmp(HM_PROPERTY(support)->value, "Supported") == 0 &&
        (asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3)) {
        u8 attributes[ORSA_CNTR_ATTR_SIZE] = {};
        u32 rc = ioctl_fetch_controller_attribs(at, attributes, domain, phba_port);
        if (rc != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: ioctl_fetch_controller_attribs failed with status = %d\n",
                   __func__, (int)rc);
            return 1;
        }
        ncsi::version_text(asic, attributes, sizeof attributes, text);
    }
    return orsa_store_and_answer(property, value, text);
}

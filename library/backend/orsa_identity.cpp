/* Adapter generation, tree walks to the controller and its first function,
 * and the controller properties that come from replies already in hand. */
#include "backend/orsa_identity.h"

#include <array>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_propertyutil.h"
#include "schema/bootstrap.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"

u8 vm_flag = 0;

namespace {

constexpr std::array<std::array<char, ORSA_IPL_NAME_SIZE>, ORSA_IPL_SLOTS> make_ipl_names()
{
    std::array<std::array<char, ORSA_IPL_NAME_SIZE>, ORSA_IPL_SLOTS> t{};
    auto put = [&t](u32 slot, const char *prefix, u32 number) {
        u32 i = 0;
        for (; prefix[i] != '\0'; ++i)
            t[slot][i] = prefix[i];
        t[slot][i++] = (char)('0' + number / 100 % 10);
        t[slot][i++] = (char)('0' + number / 10 % 10);
        t[slot][i++] = (char)('0' + number % 10);
        t[slot][i++] = '_';
    };
    const char unknown[] = "IPL_UNRECOGNISED_";
    for (u32 i = 0; unknown[i] != '\0'; ++i)
        t[0][i] = unknown[i];
    for (u32 s = 1; s <= 113; ++s)
        put(s, "KS3_IPL_", s);
    for (u32 s = 114; s < ORSA_IPL_SLOTS; ++s)
        put(s, "VSK_IPL_", s - 113);
    return t;
}

u32 store_text_field(HmNode *group, const char *name, const u8 *field, int width)
{
    return set_prop_val(group, name, "%.*s", width, (const char *)field);
}

bool named(const HmNode *n, const char *name)
{
    return n != nullptr && n->name != nullptr && strcmp(n->name, name) == 0;
}

}  // namespace

/* Placeholder names: slot 0 for an unrecognised file, then one name per
 * KS3 and per Veskarn release; the lookups only index and append. */
constexpr std::array<std::array<char, ORSA_IPL_NAME_SIZE>, ORSA_IPL_SLOTS> IplFileNames = make_ipl_names();

const char *orsa_ipl_file_name(u32 slot)
{
    return slot < ORSA_IPL_SLOTS ? IplFileNames[slot].data() : IplFileNames[0].data();
}

const u16 DellSupportedPciSubSysDevIdTable[ORSA_DELL_IDS] = {
    0x1f40, 0x1f41, 0x1f42, 0x1f43, 0x1f44, 0x1f45, 0x1f46, 0x1f47, 0x1f48, 0x1f49, 0x1f4a, 0x1f4b, 0x1f4c,
    0x1f4d, 0x1f4e, 0x1f4f, 0x1f50, 0x1f51, 0x1f52, 0x1f53, 0x1f54, 0x1f55, 0x1f56, 0x1f57, 0x1f58, 0,
};

/* ---- tree walks ---- */

HmNode *orsa_controller_of(HmNode *node)
{
    for (HmNode *n = node; n != nullptr; n = n->parent) {
        if (n->kind == HM_KIND_GROUP && named(n, "Kalderstone") && hm_instance_info(n) != nullptr)
            return n;
        if (n->parent == n)
            break;
    }
    return nullptr;
}

HmNode *orsa_first_phba(HmNode *controller)
{
    if (controller == nullptr)
        return nullptr;
    HmNode *phba = get_first_instance(controller, "iSCSIPhysicalHBA");
    return phba != nullptr ? phba : get_first_instance(controller, "NICPhysicalHBA");
}

namespace {

/* The function record of a physical HBA, or none for any other node. */
bool phba_port(HmNode *n, OrsaPort *out)
{
    if (n->kind != HM_KIND_GROUP || hm_instance_info(n) == nullptr)
        return false;
    bool iscsi = named(n, "iSCSIPhysicalHBA");
    if (!iscsi && !named(n, "NICPhysicalHBA"))
        return false;
    const u32 *record = (const u32 *)HM_GROUP(n)->nhandle;
    *out = OrsaPort{record != nullptr ? *record : 0, iscsi ? ORSA_PROTO_ISCSI : ORSA_PROTO_NIC};
    return true;
}

/* The function of a port group, or none for any other node. Start-up gives
 * the group the port-number record of the port's physical HBA; the device is
 * the one of the port's class as discovery marked it (1 iSCSI, 2 NIC), as
 * the DCBX, LLDP and QCN commands of the port go. A port group without a
 * record, or of neither class, has no function: nothing is sent for it. */
bool port_group_port(HmNode *n, OrsaPort *out)
{
    if (n->kind != HM_KIND_GROUP || hm_instance_info(n) == nullptr || !named(n, "PortDiscoveryAndConfiguration"))
        return false;
    *out = OrsaPort{0, ORSA_PROTO_NONE};
    const u32 *record = (const u32 *)HM_GROUP(n)->nhandle;
    HmNode *ks = orsa_controller_of(n);
    if (record == nullptr || ks == nullptr)
        return true;
    u32 cls = get_port_bitmap(hm_instance_number(ks), get_phba_port_number(n));
    if (cls == (u32)ORSA_PROTO_ISCSI || cls == (u32)ORSA_PROTO_NIC)
        *out = OrsaPort{*record, (i32)cls};
    return true;
}

} // namespace

OrsaPort orsa_port_of(HmNode *node)
{
    for (HmNode *n = node; n != nullptr; n = n->parent) {
        OrsaPort at;
        if (phba_port(n, &at) || port_group_port(n, &at))
            return at.instance != 0 ? at : OrsaPort{0, ORSA_PROTO_NONE};
        if (n->kind == HM_KIND_GROUP && named(n, "Kalderstone") && hm_instance_info(n) != nullptr) {
            HmNode *first = orsa_first_phba(n);
            return first != nullptr && phba_port(first, &at) && at.instance != 0 ? at : OrsaPort{0, ORSA_PROTO_NONE};
        }
        if (n->parent == n)
            break;
    }
    return OrsaPort{0, ORSA_PROTO_NONE};
}

OrsaPort orsa_controller_port(HmNode *controller)
{
    return controller != nullptr ? orsa_port_of(orsa_first_phba(controller)) : OrsaPort{0, ORSA_PROTO_NONE};
}

/* ---- generation ---- */

u32 orsa_asic_from_device_id(u32 id)
{
    if ((id >= 0x3A10 && id <= 0x3A17) || (id >= 0x3B00 && id <= 0x3B03))
        return ORSA_ASIC_KS2;
    if ((id >= 0x3A20 && id <= 0x3A27) || id == 0x3B10 || id == 0x3B12 || id == 0x3B14)
        return ORSA_ASIC_KS3;
    if (id == 0x5C20 || id == 0x5C28)
        return ORSA_ASIC_PIVARD;
    if (id == 0x3B20 || id == 0x3B22 || id == 0x3B23 || id == 0x3B28)
        return ORSA_ASIC_VESKARN;
    return ORSA_ASIC_UNKNOWN;
}

u32 get_ks_type(HmNode *controller)
{
    HmNode *phba = orsa_first_phba(controller);
    HmNode *pci = phba != nullptr ? internal_get_node(phba, "PCI", HM_KIND_GROUP) : nullptr;
    char text[HM_VALUE_SIZE] = "";
    if (pci == nullptr || internal_get_property(pci, "DeviceID", text) != 0) {
        orsa_set_last_status(ORSA_STATUS_CONTROLLER_TYPE, "Failed to get the controller type.");
        return ORSA_ASIC_UNREADABLE;
    }
    char *end = nullptr;
    long id = strtol(text, &end, 16);
    if (id < 0 || end == nullptr || *end != '\0') {
        orsa_set_last_status(ORSA_STATUS_CONTROLLER_TYPE, "Failed to get the controller type.");
        return ORSA_ASIC_UNREADABLE;
    }
    return orsa_asic_from_device_id((u32)id);
}

u32 ORSA_get_asic_type(u32 interface_word, u32 *asic_type, i32 asic_id)
{
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:asic_id = 0x%x\n", __func__, (unsigned)asic_id);
    if (asic_type == nullptr)
        return 0;
    if (interface_word == 0) {
        *asic_type = ORSA_ASIC_UNKNOWN;
        return 0;
    }
    /* A word of fewer than six digits has no sixth digit: the zeroed buffer
     * then shows NUL there and the output stays as it was. */
    char digits[10] = {};
    snprintf(digits, sizeof digits, "%x", interface_word);
    switch (digits[5]) {
    case '0': *asic_type = ORSA_ASIC_KS2; break;
    case '1': *asic_type = ORSA_ASIC_KS3; break;
    case 'a':
    case 'b': *asic_type = ORSA_ASIC_PIVARD; break;
    case 'f':
    case '2':
        if (asic_id == 0x410 || asic_id == 0x411)
            *asic_type = ORSA_ASIC_VESKARN;
        break;
    default: break;
    }
    return 0;
}

/* ---- attribute texts ---- */

void orsa_capabilities_text(u32 bits, char out[HM_VALUE_SIZE])
{
    static const char *const names[] = {
        "TCP offload",     "Raw Ethernet", "RDMA Protocol", "Virtual Machines", "iSCSI Initiator",
        "iSCSI target plus initiator", "FCoE Initiator", "FCoE Target", "DAL", "LRO",
    };
    out[0] = '\0';
    if (bits & 0x8000u) {
        orsa_strlcpy(out, "Invalid", HM_VALUE_SIZE);
        return;
    }
    for (u32 b = 0; b < sizeof names / sizeof names[0]; ++b) {
        if ((bits & (1u << b)) == 0)
            continue;
        if (out[0] != '\0')
            strncat(out, ",", HM_VALUE_SIZE - strlen(out) - 1);
        strncat(out, names[b], HM_VALUE_SIZE - strlen(out) - 1);
    }
}

const char *orsa_firmware_status_text(u8 status)
{
    switch (status) {
    case 0: return "Working";
    case 1: return "Degraded";
    case 2: return "Critical";
    case 3: return "Failed";
    default: return "Unknown";
    }
}

/* ---- fillers from replies in hand ---- */

u32 orsa_store_versions(HmNode *controller, const u8 *a)
{
    u32 rc = 0;
    rc |= store_text_field(controller, "ActiveFirmwareVersion", a + ORSA_ATTR_ACTIVE_FW, 32);
    rc |= store_text_field(controller, "BIOSVersion", a + ORSA_ATTR_BIOS, 32);
    rc |= store_text_field(controller, "BootCodeVersion", a + ORSA_ATTR_BOOT_CODE, 32);
    rc |= store_text_field(controller, "FirmwareVersionOnFlash", a + ORSA_ATTR_FLASH_FW, 32);
    rc |= set_prop_val(controller, "FirmwareStatus", "%s", orsa_firmware_status_text(a[ORSA_ATTR_FW_STATUS]));
    return rc;
}

u32 ORSA_update_cntr_attribs(HmNode *controller, u8 *a, u32 attributes_status)
{
    if (controller == nullptr || a == nullptr || attributes_status != 0)
        return 1;
    u32 rc = 0;
    rc |= store_text_field(controller, "Manufacturer", a + ORSA_ATTR_MANUFACTURER, 32);
    rc |= store_text_field(controller, "ModelNumber", a + ORSA_ATTR_MODEL_NUMBER, 32);
    const char *serial = (const char *)a + ORSA_ATTR_SERIAL;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:strlen(serial_number) = %d serial_number = %.32s\n", __func__,
           (int)strnlen(serial, 32), serial);
    rc |= store_text_field(controller, "SerialNumber", a + ORSA_ATTR_SERIAL, 32);
    rc |= store_text_field(controller, "Description", a + ORSA_ATTR_DESCRIPTION, 64);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "Adapter Description    = %.64s\n", (const char *)a + ORSA_ATTR_DESCRIPTION);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "ActiveFirmwareVersion  = %.32s\n", (const char *)a + ORSA_ATTR_ACTIVE_FW);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "FirmwareVersionOnFlash = %.32s\n", (const char *)a + ORSA_ATTR_FLASH_FW);
    rc |= orsa_store_versions(controller, a);
    char caps[HM_VALUE_SIZE];
    orsa_capabilities_text(orsa_rd32(a + ORSA_ATTR_CAPABILITIES), caps);
    rc |= set_prop_val(controller, "Capabilities", "%s", caps);
    return rc;
}

u32 orsa_pivard_oem_hides_serial(const u8 *o)
{
    return (o[0] == 0 || o[0] == 255 || o[12] == 255 || o[13] == 0) ? 1u : 0u;
}

u32 orsa_store_oem_params(HmNode *oem, u32 asic, const u8 *o)
{
    u32 rc = 0;
    if (asic == ORSA_ASIC_PIVARD) {
        if (o[0] >= 1 && o[0] <= 254)
            rc |= set_prop_val(oem, "TalvorSerialNumber", "%c%c%02x%02x%02x%02x", o[0], o[1], o[2], o[3], o[4], o[5]);
        else
            rc |= set_prop_val(oem, "TalvorSerialNumber", "N/A");
        char serial[25] = "";
        u32 i = 0;
        while (i < 24 && o[12 + i] >= 1 && o[12 + i] <= 254) {
            serial[i] = (char)o[12 + i];
            ++i;
        }
        serial[i] = '\0';
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: i+1 = %d, oem_serial_number = %s\n", __func__, (int)i + 1,
               serial);
        if (o[12] == 255 || o[13] == 0)
            rc |= set_prop_val(oem, "OEMSerialNumber", "N/A");
        else
            rc |= set_prop_val(oem, "OEMSerialNumber", "%s", serial);
        rc |= set_prop_val(oem, "PersonalityManagementWord", "0x%08x", orsa_rd32(o + 36));
        if (rc != 0)
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: failed to update the properties with status %d\n",
                   __func__, (int)rc);
        return rc != 0 ? 1 : 0;
    }
    rc |= set_prop_val(oem, "TalvorSerialNumber", "%c%c%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x", o[0], o[1], o[2],
                       o[3], o[4], o[5], o[6], o[7], o[8], o[9], o[10], o[11]);
    rc |= set_prop_val(oem, "OEMSerialNumber", "%.24s", (const char *)o + 12);
    rc |= set_prop_val(oem, "PersonalityManagementWord", "0x%08x", orsa_rd32(o + 36));
    return rc != 0 ? 1 : 0;
}

u32 orsa_store_additional_attribs(HmNode *ks, u32 asic, const u8 *add)
{
    static const char *const versions[] = {
        "FCoEUniversalVersion", "FCoEx86BIOSVersion", "FCoEEFIVersion",  "FCoEFCODEVersion", "UEFIBIOSVersion",
        "UEFINICVersion",       "UEFIFCODEVersion",   "UEFISCSIVersion",
    };
    u32 rc = 0;
    for (u32 i = 0; i < 8; ++i)
        rc |= store_text_field(ks, versions[i], add + ORSA_ADD_VERSIONS + 32 * i, 32);
    rc |= store_text_field(ks, "PXEBIOSVersion", add + ORSA_ADD_PXE, 32);

    /* PHY texts run to the next field: 160 and 8 bytes. */
    if (asic != ORSA_ASIC_PIVARD && add[ORSA_ADD_PHY_VERSION] != 0) {
        rc |= store_text_field(ks, "PHYFirmwareVersion", add + ORSA_ADD_PHY_VERSION, 160);
        rc |= set_prop_val(ks, "PHYConfigurationId", "0x%.8s", (const char *)add + ORSA_ADD_PHY_CONFIG);
    } else {
        rc |= set_prop_val(ks, "PHYFirmwareVersion", "N/A");
        rc |= set_prop_val(ks, "PHYConfigurationId", "N/A");
    }

    const char *ipl_name = (const char *)add + ORSA_ADD_IPL_NAME;
    const int ipl_width = ORSA_ADD_ATTR_SIZE - ORSA_ADD_IPL_NAME;
    if (ipl_name[0] != '\0') {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:ipl_file_name = %.*s\n", __func__, ipl_width, ipl_name);
        rc |= store_text_field(ks, "IPLFileName", add + ORSA_ADD_IPL_NAME, ipl_width);
    } else {
        u32 n = orsa_rd16(add + ORSA_ADD_IPL_NUMBER);
        u8 suffix = add[ORSA_ADD_IPL_SUFFIX];
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:ipl_file_no = %d\n", __func__, (int)n);
        if (asic == ORSA_ASIC_KS3 && n >= 1 && n <= 113) {
            rc |= set_prop_val(ks, "IPLFileName", "%.34s%X", orsa_ipl_file_name(n), suffix);
        } else if (asic == ORSA_ASIC_VESKARN && n >= 256 && n <= 293) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:sh_ipl_file_no = %d\n", __func__, (int)(n - 142));
            rc |= set_prop_val(ks, "IPLFileName", "%.34s%X", orsa_ipl_file_name(n - 142), suffix);
        } else {
            rc |= set_prop_val(ks, "IPLFileName", "N/A");
        }
    }
    return rc;
}

/* ---- look-ups over the tree ---- */

u32 ORSA_DetermineIfDellSystem(HmNode *controller)
{
    if (controller == nullptr || get_ks_type(controller) == ORSA_ASIC_UNREADABLE)
        return 1;
    HmNode *phba = orsa_first_phba(controller);
    HmNode *pci = phba != nullptr ? internal_get_node(phba, "PCI", HM_KIND_GROUP) : nullptr;
    char text[HM_VALUE_SIZE] = "";
    if (pci == nullptr || internal_get_property(pci, "SubsysDeviceID", text) != 0)
        return 1;
    char *end = nullptr;
    long id = strtol(text, &end, 16);
    if (id < 0 || end == nullptr || *end != '\0')
        return 1;
    for (u32 i = 0; i < ORSA_DELL_IDS; ++i) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:DellSupportedPciSubSysDevIdTable[%d] = %d\n", __func__, (int)i,
               DellSupportedPciSubSysDevIdTable[i]);
        if (DellSupportedPciSubSysDevIdTable[i] == 0)
            return 1;
        if (DellSupportedPciSubSysDevIdTable[i] == (u16)id && id <= 0xffff)
            return 0;
    }
    return 1;
}

u32 ORSA_get_pci_bus_number(HmNode *controller, char *out)
{
    HmNode *phba = orsa_first_phba(controller);
    if (phba == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get NIC/iSCSI nodes.\n", __func__);
        return 1;
    }
    HmNode *pci = internal_get_node(phba, "PCI", HM_KIND_GROUP);
    if (pci == nullptr || out == nullptr || internal_get_property(pci, "BusNumber", out) != 0)
        return 1;
    return 0;
}

u32 ORSA_get_asic_serial_number(HmNode *node, char *out)
{
    HmNode *ks = orsa_controller_of(node);
    if (ks == nullptr || out == nullptr)
        return 1;
    char serial[HM_VALUE_SIZE] = "";
    if (internal_get_property(ks, "SerialNumber", serial) == 0 && serial[0] != '\0' && strcasecmp(serial, "N/A") != 0) {
        orsa_strlcpy(out, serial, HM_VALUE_SIZE);
        return 0;
    }
    if (ORSA_get_pci_bus_number(ks, out) == 0)
        return 0;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get serial number of adapters", __func__);
    return 1;
}

u32 ORSA_enumerate_serial_numbers(u32 *count, char (*out)[HM_VALUE_SIZE])
{
    if (count == nullptr || out == nullptr)
        return 1;
    HmNode *first = get_first_instance(&ROOT, "Kalderstone");
    if (first == nullptr)
        return 1;
    for (HmNode *ks = first; ks != nullptr; ks = hm_next_instance(ks)) {
        if (ORSA_get_asic_serial_number(ks, out[*count]) != 0)
            return 1;
        ++*count;
    }
    return 0;
}

/* ---- NIC CIM constants ---- */

namespace {

HmNode *niccim_controller(HmNode *property)
{
    return (property != nullptr && property->parent != nullptr) ? property->parent->parent : nullptr;
}

/* Stores and answers text when the property's controller has a NIC
 * function, "N/A" when it has none. */
u32 store_if_nic(HmNode *property, char *value, const char *text)
{
    HmNode *ks = niccim_controller(property);
    if (ks == nullptr)
        return 1;
    bool nic = get_first_instance(ks, "NICPhysicalHBA") != nullptr;
    return orsa_store_and_answer(property, value, nic ? text : "N/A");
}

}  // namespace

u32 handle_ControllerType(HmNode *property, char *value, u32)
{
    return store_if_nic(property, value, "Ethernet");
}

u32 handle_ProtocolSupported(HmNode *property, char *value, u32)
{
    return store_if_nic(property, value, "IEEE P802.3ae");
}

u32 handle_MaxSupportedController(HmNode *property, char *value, u32)
{
    HmNode *ks = niccim_controller(property);
    if (ks == nullptr)
        return 1;
    int count = 0;
    for (HmNode *n = get_first_instance(ks, "NICPhysicalHBA"); n != nullptr; n = hm_next_instance(n))
        ++count;
    char text[16];
    snprintf(text, sizeof text, "%d", count);
    return orsa_store_and_answer(property, value, text);
}

u32 handle_PortControllerName(HmNode *property, char *value, u32)
{
    HmNode *ks = niccim_controller(property);
    if (ks == nullptr)
        return 1;
    HmNode *nic = get_first_instance(ks, "NICPhysicalHBA");
    if (nic == nullptr)
        return orsa_store_and_answer(property, value, "N/A");
    HmNode *pci = internal_get_node(nic, "PCI", HM_KIND_GROUP);
    if (pci == nullptr)
        return 1;
    char bus[HM_VALUE_SIZE] = "", dev[HM_VALUE_SIZE] = "";
    if (internal_get_property(pci, "BusNumber", bus) != 0 || internal_get_property(pci, "DeviceNumber", dev) != 0)
        return orsa_answer(property, value, 0);
    char text[HM_VALUE_SIZE];
    snprintf(text, sizeof text, "Talvor Quorvantix at %.100s:%.100s", bus, dev);
    return orsa_store_and_answer(property, value, text);
}

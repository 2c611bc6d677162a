/* Controller identity handlers and fillers that ask the adapter. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_nicprops.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"

namespace {

/* The controller of a property that sits on the controller group itself. */
HmNode *own_controller(HmNode *property)
{
    return property != nullptr ? orsa_controller_of(property->parent) : nullptr;
}

/* The generation of ks, ORSA_ASIC_UNREADABLE (logged for caller) when there
 * is no controller or its generation cannot be read. */
u32 readable_ks_type(HmNode *ks, const char *caller)
{
    u32 asic = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (asic == ORSA_ASIC_UNREADABLE)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get ks_type\n", caller);
    return asic;
}

}  // namespace

u32 ORSA_get_cntr_attribs(u32 port, u8 phba_port, u8 domain, u32 protocol, u8 *attributes)
{
    if (attributes == nullptr)
        return 1;
    memset(attributes, 0, ORSA_CNTR_ATTR_SIZE);
    u32 rc = ioctl_fetch_controller_attribs(OrsaPort{port, (i32)protocol}, attributes, domain, phba_port);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: ioctl_fetch_controller_attribs failed with status = %d\n",
               __func__, (int)rc);
        orsa_set_last_status(ORSA_STATUS_CNTR_ATTR_FAILED,
                             "Failed to obtain controller attributes. Application internal error occurred. Please "
                             "check orsa2d.log file for more information.");
        return 1;
    }
    return 0;
}

u32 get_lhba_count(HmNode *phba, char *bus, char *device, char *function, char *port_text)
{
    i32 port = get_port_number(phba);
    if (port < 1 || bus == nullptr || device == nullptr || function == nullptr || port_text == nullptr)
        return 1;
    u8 a[ORSA_CNTR_ATTR_SIZE] = {};
    if (ioctl_fetch_controller_attribs(orsa_iscsi_port((u32)port), a, 0, 0) != 0)
        return 1;
    snprintf(bus, HM_VALUE_SIZE, "%d", a[ORSA_ATTR_BUS]);
    snprintf(device, HM_VALUE_SIZE, "%d", a[ORSA_ATTR_DEVICE]);
    snprintf(function, HM_VALUE_SIZE, "%d", a[ORSA_ATTR_FUNCTION]);
    snprintf(port_text, HM_VALUE_SIZE, "%d", a[ORSA_ATTR_PORT]);
    return a[ORSA_ATTR_LHBA_COUNT];
}

u32 ORSA_check_for_vm(u32 port, HmNode *phba, HmNode *controller)
{
    if (phba == nullptr || controller == nullptr)
        return 1;
    u8 domain = (u8)get_domain_id(phba);
    u8 phba_port = (u8)get_phba_port_number(phba);
    u32 rc;
    switch (get_ks_type(controller)) {
    case ORSA_ASIC_KS3: {
        u8 conf[264] = {};
        conf[4] = 64; /* u32 length 64 from offset 0 */
        rc = ioctl_read_pci_conf(orsa_nic_port(port), conf, 0, 0);
        break;
    }
    case ORSA_ASIC_VESKARN: {
        u8 props[20] = {};
        rc = ioctl_get_coredump_props(orsa_nic_port(port), props, domain, phba_port);
        break;
    }
    case ORSA_ASIC_PIVARD: {
        /* Any privileged query serves: a virtual function is refused it. It
         * goes to this NIC function: its number names no iSCSI function. */
        u8 props[20] = {};
        rc = ioctl_get_coredump_props(orsa_nic_port(port), props, domain, phba_port);
        if (rc == ORSA_STATUS_VF_PRIVILEGE || rc == ORSA_STATUS_VF_NOT_SUPPORTED) {
            vm_flag = 1;
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_INFO, "%s:ORSA is running on VM\n", __func__);
        }
        return 0;
    }
    default:
        return 0;
    }
    if (rc == 0)
        return 0;
    if (rc == ORSA_STATUS_VF_PRIVILEGE || rc == ORSA_STATUS_VF_NOT_SUPPORTED) {
        vm_flag = 1;
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_INFO, "%s:ORSA is running on VM\n", __func__);
    }
    return 1;
}

u32 handle_ks_controller_properties(HmNode *property, char *value, u32)
{
    HmNode *ks = own_controller(property);
    u32 asic = readable_ks_type(ks, __func__);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic != ORSA_ASIC_PIVARD && strcasecmp(property->name, "FirmwareVersionOnFlash") != 0)
        return orsa_answer(property, value, 0);
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    u8 attrs[ORSA_CNTR_ATTR_SIZE];
    if (ORSA_get_cntr_attribs(at.instance, (u8)get_phba_port_number(property), (u8)get_domain_id(property),
                              (u32)at.protocol, attrs) != 0)
        return 1;
    u32 rc = orsa_store_versions(ks, attrs);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Property update failed with status = %d\n", __func__, (int)rc);
        return 1;
    }
    return orsa_answer(property, value, 0);
}

u32 orsa_read_additional_attribs(OrsaPort at, u8 *add, u8 domain, u8 phba_port)
{
    u32 rc = ioctl_get_cnt_additional_attribs(at, add, domain, phba_port);
    if (rc != 0)
        orsa_set_last_status(ORSA_STATUS_ADD_ATTR_FAILED,
                             "Failed to obtain additional controller attributes. Application internal error "
                             "occurred. Please check orsa2d.log file for more information.");
    return rc;
}

u32 ORSA_update_cntr_additional_attribs(HmNode *ks)
{
    u32 asic = readable_ks_type(ks, __func__);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    u8 *add = (u8 *)orsa_dzalloc(ORSA_ADD_ATTR_SIZE);
    if (add == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    u32 rc = ioctl_get_cnt_additional_attribs(at, add, 0, 0);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: ioctl_get_cnt_additional_attribs status  = %d\n", __func__,
           (int)rc);
    if (rc == 0)
        rc = orsa_store_additional_attribs(ks, asic, add);
    orsa_dfree(add);
    return rc;
}

u32 handle_ks_controller_additional_properties(HmNode *property, char *value, u32)
{
    HmNode *ks = own_controller(property);
    u32 asic = readable_ks_type(ks, __func__);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_PIVARD) {
        u32 rc = ORSA_update_cntr_additional_attribs(ks);
        if (rc != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Property update failed with status = %d\n", __func__,
                   (int)rc);
            return 1;
        }
    }
    return orsa_answer(property, value, 0);
}

u32 handle_ks_temperature(HmNode *property, char *value, u32)
{
    HmNode *ks = own_controller(property);
    OrsaPort at = orsa_controller_port(ks);
    if (ks == nullptr || at.instance == 0)
        return 1;
    u8 *add = (u8 *)orsa_dzalloc(ORSA_ADD_ATTR_SIZE);
    if (add == nullptr)
        return orsa_fail_with(ORSA_STATUS_NO_MEMORY);
    u32 rc = orsa_read_additional_attribs(at, add, (u8)get_domain_id(property), (u8)get_phba_port_number(property));
    if (rc != 0) {
        orsa_dfree(add);
        return rc;
    }
    i32 temp = (i32)orsa_rd32(add + ORSA_ADD_TEMPERATURE);
    orsa_dfree(add);
    char text[16];
    if (temp == 0)
        snprintf(text, sizeof text, "N/A");
    else
        snprintf(text, sizeof text, "%d", (int)temp);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:KalderstoneOnDieTemperature = %s temp_val = %d\n", __func__, text,
           (int)temp);
    return orsa_store_and_answer(property, value, text);
}

u32 ORSA_update_oem_props(HmNode *ks)
{
    HmNode *oem = ks != nullptr ? internal_get_node(ks, "OEM", HM_KIND_GROUP) : nullptr;
    if (oem == nullptr)
        return 1;
    if (vm_flag) {
        set_prop_val(oem, "TalvorSerialNumber", "N/A");
        set_prop_val(oem, "OEMSerialNumber", "N/A");
        set_prop_val(oem, "PersonalityManagementWord", "N/A");
        return 1;
    }
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE || asic == ORSA_ASIC_UNKNOWN)
        return 1;
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: ks_port_number = %d\n", __func__, (int)at.instance);
    u8 o[ORSA_OEM_PARAMS_SIZE] = {};
    if (ioctl_get_oem_params(at, o, 0, 0) != 0) {
        orsa_set_last_status(ORSA_STATUS_OEM_FAILED,
                             "Failed to obtain OEM attributes. Application internal error occurred. Please check "
                             "orsa2d.log file for more information.");
        return 1;
    }
    return orsa_store_oem_params(oem, asic, o);
}

u32 handle_ControllerStatus(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    HmNode *ks = own_controller(property);
    if (ks == nullptr)
        return 1;
    if (get_ks_type(ks) == ORSA_ASIC_PIVARD)
        return orsa_store_and_answer(property, value, "N/A");
    HmNode *nic = get_first_instance(ks, "NICPhysicalHBA");
    OrsaPort at = orsa_port_of(nic);
    if (nic == nullptr || at.instance == 0)
        return 1;
    u8 props[20] = {};
    if (ioctl_get_coredump_props(at, props, (u8)get_domain_id(nic), (u8)get_phba_port_number(nic)) != 0) {
        orsa_set_last_status(ORSA_STATUS_COREDUMP_PROPS_FAILED,
                             "Failed to get core dump properties. Please check orsa2d.log file for more information.");
        return 1;
    }
    return orsa_store_and_answer(property, value, props[2] == 0 ? "Alive" : props[2] == 1 ? "Dead" : "N/A");
}

u32 handle_OneView(HmNode *property, char *value, u32)
{
    if (vm_flag)
        orsa_answer_na(value);
    HmNode *ks = own_controller(property);
    u32 asic = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3)
        return orsa_store_and_answer(property, value, "N/A");
    HmNode *phba = orsa_first_phba(ks);
    OrsaPort at = orsa_port_of(phba);
    if (phba == nullptr || at.instance == 0)
        return 1;
    u8 q[16] = {};
    q[0] = 20;
    u32 rc = ioctl_set_features(at, q, (u8)get_domain_id(phba), (u8)get_phba_port_number(phba));
    if (rc == ORSA_STATUS_UNSUPPORTED_OP)
        return orsa_store_and_answer(property, value, "N/A");
    if (rc != 0) {
        orsa_set_last_status(ORSA_STATUS_ONEVIEW_FAILED,
                             "Failed to get OneView parameter. Please check orsa2d.log file for more information.");
        return 1;
    }
    u32 flag = orsa_rd32(q + 8) & 1u;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:HPEOneView = %d\n", __func__, (int)flag);
    return orsa_store_and_answer(property, value, flag ? "Enabled" : "Disabled");
}

u32 handle_FFVName(HmNode *property, char *value, u32 mode)
{
    if (vm_flag) {
        /* A virtual function may not rename the adapter: the text "N/A" is
         * never sent as a name. */
        if (mode == HM_MODE_SET)
            return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
        orsa_answer_na(value);
    }
    HmNode *ks = own_controller(property);
    u32 asic = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3) {
        if (mode == HM_MODE_SET) {
            orsa_set_last_status(ORSA_STATUS_FFV_NOT_SUPPORTED,
                                 "Failed to configure FFVName. FFVName is not supported on this adapter.");
            return 1;
        }
        return orsa_store_and_answer(property, value, "N/A");
    }
    if (mode != HM_MODE_GET && mode != HM_MODE_SET)
        return 0;
    HmNode *phba = orsa_first_phba(ks);
    OrsaPort at = orsa_port_of(phba);
    if (phba == nullptr || at.instance == 0 || value == nullptr)
        return 1;
    u8 ffv[ORSA_FFV_PARAMS_SIZE] = {};
    if (mode == HM_MODE_SET) {
        ffv[0] = 1;
        ffv[1] = 32;
        memcpy(ffv + 4, value, strnlen(value, 32));
    }
    u32 rc = ioctl_ffv_params(at, ffv, (u8)get_domain_id(property), (u8)get_phba_port_number(phba));
    if (rc == ORSA_STATUS_UNSUPPORTED_OP) {
        orsa_store_and_answer(property, value, "N/A");
        return 1;
    }
    if (rc != 0)
        return 1;
    if (mode == HM_MODE_SET)
        return 0;
    char name[33] = {};
    u32 len = ffv[1] < 32 ? ffv[1] : 32;
    memcpy(name, ffv + 4, len);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:length = %d\n", __func__, (int)len);
    return orsa_store_and_answer(property, value, name);
}

u32 handle_RebootRequired(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *ks = property != nullptr ? orsa_controller_of(property) : nullptr;
    OrsaPort at = orsa_controller_port(ks);
    if (ks == nullptr || at.instance == 0)
        return 1;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: ks_port_number = %d\n", __func__, (int)at.instance);
    u8 r[4] = {};
    if (ioctl_get_reset_needed(at, r, (u8)get_domain_id(property), (u8)get_phba_port_number(property)) != 0) {
        orsa_set_last_status(ORSA_STATUS_RESET_NEEDED_FAILED,
                             "Failed to get reset needed. Please check orsa2d.log file for more information.");
        return 1;
    }
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:get_reset_params.response.change_status = %d\n", __func__, r[0]);
    return orsa_store_and_answer(property, value, r[0] != 0 ? "Yes" : "No");
}

/* ---- PCI Express link ---- */

namespace {

/* The function whose link is shown: the first iSCSI function, else the NIC
 * function 0, else the first NIC function. A Pivard's link is read through
 * the NIC device, which knows NIC functions only: there the iSCSI functions
 * are passed over. */
HmNode *pcie_function(HmNode *ks, bool nic_only, u32 *fail)
{
    *fail = 0;
    HmNode *phba = nic_only ? nullptr : get_first_instance(ks, "iSCSIPhysicalHBA");
    if (phba != nullptr)
        return phba;
    HmNode *first = get_first_instance(ks, "NICPhysicalHBA");
    for (HmNode *n = first; n != nullptr; n = hm_next_instance(n)) {
        HmNode *pci = internal_get_node(n, "PCI", HM_KIND_GROUP);
        if (pci == nullptr) {
            *fail = 1;
            return nullptr;
        }
        char f[HM_VALUE_SIZE] = "";
        if (internal_get_property(pci, "FunctionNumber", f) == 0 && strcasecmp(f, "0x0") == 0)
            return n;
    }
    return first;
}

u32 pcie_property(HmNode *property, char *value, bool speed)
{
    HmNode *ks = own_controller(property);
    u32 asic = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    u32 fail = 0;
    HmNode *fn = pcie_function(ks, asic == ORSA_ASIC_PIVARD, &fail);
    i32 port = get_port_number(fn);
    if (fn == nullptr || fail || port < 1)
        return 1;
    char text[HM_VALUE_SIZE] = "";
    if (ORSA_get_pci_express_data((u32)port, (u8)get_domain_id(property), (u8)get_phba_port_number(fn), asic, fn,
                                  property->name, text) != 0)
        return 1;
    if (speed && strcasecmp(text, "unknown") == 0)
        orsa_strlcpy(text, "N/A", sizeof text);
    return orsa_store_and_answer(property, value, text);
}

}  // namespace

u32 handle_PCIExpressLinkSpeed(HmNode *property, char *value, u32)
{
    return pcie_property(property, value, true);
}

u32 handle_PCIExpressBusWidth(HmNode *property, char *value, u32)
{
    return pcie_property(property, value, false);
}


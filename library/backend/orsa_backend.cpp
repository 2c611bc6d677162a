/* Library start-up and adapter discovery, teardown and the client hooks. */
#include "backend/orsa_backend.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_extlog.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_nicprops.h"
#include "backend/orsa_propertyutil.h"
#include "backend/orsa_vpd.h"
#include "config/config_startup.h"
#include "iscsi/iscsi_persist.h"
#include "maintenance/maint_startup.h"
#include "schema/bootstrap.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_api.h"
#include "tree/orsa_entry.h"

namespace {

#define LOG(level, ...) pdebug(ORSA_LOG_CAT_OTHER, level, __VA_ARGS__)

/* Walks the instances of one kind below a parent, lowest number first. */
template <typename Fn>
void for_each_instance(HmNode *parent, const char *kind, Fn fn)
{
    for (HmNode *n = get_first_instance(parent, kind); n != nullptr;) {
        HmNode *next = hm_next_instance(n);
        if (!fn(n))
            break;
        n = next;
    }
}

HmNode *controller_by_number(const char *number)
{
    char label[HM_NAME_SIZE];
    snprintf(label, sizeof label, "Kalderstone%.20s", number);
    return internal_get_node(&ROOT, label, HM_KIND_GROUP);
}

bool attach_record(HmNode *phba, u32 instance)
{
    u32 *record = (u32 *)orsa_dmalloc(sizeof(u32));
    if (record == nullptr) {
        LOG(ORSA_LOG_ERROR, "%s:Failed to allocate memory of nhandle.\n", __func__);
        return false;
    }
    *record = instance;
    HM_GROUP(phba)->nhandle = record;
    return true;
}

HmNode *new_controller(u32 instance, u32 protocol, u8 *attrs, u32 attributes_status)
{
    HmNode *ks = initialize_Kalderstone(&ROOT, nullptr, nullptr, nullptr);
    if (ks == nullptr) {
        LOG(ORSA_LOG_ERROR, "%s:Failed to initialize adapter node.\n", __func__);
        return nullptr;
    }
    LOG(ORSA_LOG_INFO, "%s:initialized controller %d\n", __func__, (int)hm_instance_number(ks));
    set_protocol(hm_instance_number(ks), protocol);
    ioctl_start_management_service(instance, nullptr, 0, 0, protocol);
    ORSA_update_cntr_attribs(ks, attrs, attributes_status);
    return ks;
}

/* PCI address texts of a function, "0x%x" like the tree keeps them. */
struct FunctionAddress {
    char bus[16], device[16], function[16], serial[40];
};

bool function_address(u32 instance, const u8 *attrs, u32 attributes_status, FunctionAddress *a)
{
    if (attributes_status == 0) {
        snprintf(a->bus, sizeof a->bus, "0x%x", attrs[ORSA_ATTR_BUS]);
        snprintf(a->device, sizeof a->device, "0x%x", attrs[ORSA_ATTR_DEVICE]);
        snprintf(a->function, sizeof a->function, "0x%x", attrs[ORSA_ATTR_FUNCTION]);
        snprintf(a->serial, sizeof a->serial, "%.32s", (const char *)attrs + ORSA_ATTR_SERIAL);
        return true;
    }
    if (instance < 1 || instance >= ORSA_MAX_FUNCTIONS)
        return false;
    const auto &f = orsa_glob.NicFunctionTable[instance];
    snprintf(a->bus, sizeof a->bus, "0x%x", f.bus);
    snprintf(a->device, sizeof a->device, "0x%x", f.device);
    snprintf(a->function, sizeof a->function, "0x%x", f.function);
    snprintf(a->serial, sizeof a->serial, "0");
    return true;
}

u32 rebuild_tree(void)
{
    orsa_hierarchy_stale = 0;
    exit_hm();
    return init_hm();
}

/* The controller group of a function found by enumeration: the existing one
 * with the same adapter number, else a new one; nullptr to skip the function. */
HmNode *controller_for(u32 instance, u32 protocol, u8 *attrs, u32 attributes_status, const char *caller)
{
    char number[HM_VALUE_SIZE] = "";
    u32 r = protocol == ORSA_PROTO_ISCSI ? ORSA_get_iscsi_node_info(instance, number, attrs, attributes_status)
                                         : ORSA_get_nic_node_info(instance, number, attrs, attributes_status);
    if (r == 1) {
        HmNode *ks = controller_by_number(number);
        if (ks == nullptr)
            LOG(ORSA_LOG_ERROR, "%s:Adapter node not found.\n", caller);
        return ks;
    }
    if (r == 0)
        return new_controller(instance, protocol, attrs, attributes_status);
    return nullptr;
}

/* Adds the function's physical HBA under ks, ties it to the function and
 * fills its driver, VPD and factory MAC properties; nullptr to skip it. */
HmNode *add_phba(HmNode *ks, u32 instance, u32 protocol, u8 *attrs, u32 attributes_status, const char *caller)
{
    bool iscsi = protocol == ORSA_PROTO_ISCSI;
    HmNode *phba = iscsi ? initialize_iSCSIPhysicalHBA(ks, nullptr, nullptr, nullptr)
                         : initialize_NICPhysicalHBA(ks, nullptr, nullptr, nullptr);
    if (phba == nullptr) {
        LOG(ORSA_LOG_ERROR, "%s:Failed to initialize iscsi phba.\n", caller);
        return nullptr;
    }
    LOG(ORSA_LOG_INFO, "%s:initialized %s PHBA %d\n", caller, iscsi ? "iSCSI" : "NIC", (int)hm_instance_number(phba));
    if (!attach_record(phba, instance))
        return nullptr;
    ORSA_update_driver_attribs(instance, phba, protocol, attrs, attributes_status);
    ORSA_update_vpd_data(phba, instance, protocol);
    ORSA_update_fd_mac(instance, phba, protocol);
    return phba;
}

}  // namespace

/* ---- identity of a function ---- */

u32 ORSA_get_iscsi_node_info(u32 instance, char *adapter, u8 *attrs, u32 attributes_status)
{
    if (get_first_instance(&ROOT, "Kalderstone") == nullptr) {
        LOG(ORSA_LOG_INFO, "%s:Adapter node not found.\n", __func__);
        return 0;
    }
    FunctionAddress fa;
    if (!function_address(instance, attrs, attributes_status, &fa)) {
        LOG(ORSA_LOG_ERROR, "%s:Failed to get PCI information.\n", __func__);
        return 2;
    }
    LOG(ORSA_LOG_DEBUG, "%s:ks_port_number = %d,bus = %s,device = %s,function = %s and asn = %s\n", __func__,
        (int)instance, fa.bus, fa.device, fa.function, fa.serial);
    u32 result = 0;
    for_each_instance(&ROOT, "Kalderstone", [&](HmNode *ks) {
        HmNode *phba = get_first_instance(ks, "iSCSIPhysicalHBA");
        if (phba == nullptr) {
            LOG(ORSA_LOG_ERROR, "%s:Failed to get iSCSI PHBA first instance.\n", __func__);
            return false;
        }
        HmNode *pci = internal_get_node(phba, "PCI", HM_KIND_GROUP);
        if (pci == nullptr) {
            LOG(ORSA_LOG_ERROR, "%s:Failed to get PCI node.\n", __func__);
            return false;
        }
        char bus[HM_VALUE_SIZE], dev[HM_VALUE_SIZE], fun[HM_VALUE_SIZE], serial[HM_VALUE_SIZE];
        if (internal_get_property(pci, "BusNumber", bus) != 0 || internal_get_property(pci, "DeviceNumber", dev) != 0 ||
            internal_get_property(pci, "FunctionNumber", fun) != 0 ||
            internal_get_property(ks, "SerialNumber", serial) != 0) {
            LOG(ORSA_LOG_ERROR, "%s:Failed to get PCI information from iSCSI PHBA group.\n", __func__);
            return false;
        }
        LOG(ORSA_LOG_DEBUG, "%s:bus = %s,device = %s,function = %s serial_number = %s\n", __func__, bus, dev, fun,
            serial);
        bool match = strcmp(fa.serial, "0") != 0
                         ? (strcasecmp(fa.bus, bus) == 0 && strcasecmp(fa.serial, serial) == 0)
                         : (strcasecmp(fa.bus, bus) == 0 && strcasecmp(fa.device, dev) == 0);
        if (!match)
            return true;
        snprintf(adapter, HM_VALUE_SIZE, "%d", (int)hm_instance_number(ks));
        LOG(ORSA_LOG_INFO, "%s:%s:%s belongs to adapter Kalderstone%d.\n", __func__, fa.bus, fa.device,
            (int)hm_instance_number(ks));
        result = 1;
        return false;
    });
    return result;
}

u32 ORSA_get_nic_node_info(u32 instance, char *adapter, u8 *attrs, u32 attributes_status)
{
    if (get_first_instance(&ROOT, "Kalderstone") == nullptr) {
        LOG(ORSA_LOG_INFO, "%s:Adapter node not found.\n", __func__);
        return 0;
    }
    FunctionAddress fa;
    if (!function_address(instance, attrs, attributes_status, &fa)) {
        snprintf(fa.bus, sizeof fa.bus, "0");
        snprintf(fa.device, sizeof fa.device, "0");
        snprintf(fa.function, sizeof fa.function, "0");
        snprintf(fa.serial, sizeof fa.serial, "0");
    }
    LOG(ORSA_LOG_DEBUG, "%s:ks_port_number = %d,bus = %s,device = %s,function = %s,asn = %s\n", __func__,
        (int)instance, fa.bus, fa.device, fa.function, fa.serial);
    u32 result = 0;
    for_each_instance(&ROOT, "Kalderstone", [&](HmNode *ks) {
        HmNode *phba = get_first_instance(ks, "iSCSIPhysicalHBA");
        if (phba == nullptr)
            phba = get_first_instance(ks, "NICPhysicalHBA");
        HmNode *pci = phba != nullptr ? internal_get_node(phba, "PCI", HM_KIND_GROUP) : nullptr;
        if (pci == nullptr) {
            LOG(ORSA_LOG_ERROR, "%s:Failed to get PCI node.\n", __func__);
            return false;
        }
        char bus[HM_VALUE_SIZE], dev[HM_VALUE_SIZE], serial[HM_VALUE_SIZE];
        if (internal_get_property(pci, "BusNumber", bus) != 0 || internal_get_property(pci, "DeviceNumber", dev) != 0 ||
            internal_get_property(ks, "SerialNumber", serial) != 0) {
            LOG(ORSA_LOG_ERROR, "%s:Failed to get PCI information from NIC PHBA group.\n", __func__);
            return false;
        }
        LOG(ORSA_LOG_DEBUG, "%s:bus_prop = %s,dev_prop = %s,serial_number = %s\n", __func__, bus, dev, serial);
        bool by_serial = strcmp(fa.serial, "0") != 0 && strcasecmp(serial, "N/A") != 0;
        bool match = by_serial ? (strcasecmp(fa.bus, bus) == 0 && strcasecmp(fa.serial, serial) == 0)
                               : (strcasecmp(fa.bus, bus) == 0 && strcasecmp(fa.device, dev) == 0);
        if (!match)
            return true;
        snprintf(adapter, HM_VALUE_SIZE, "%d", (int)hm_instance_number(ks));
        LOG(ORSA_LOG_INFO, "%s:%s:%s belongs to adapter Kalderstone%d.\n", __func__, fa.bus, fa.device,
            (int)hm_instance_number(ks));
        result = 1;
        return false;
    });
    return result;
}

u32 ORSA_update_driver_attribs(u32 instance, HmNode *phba, u32 protocol, u8 *a, u32 attributes_status)
{
    if (phba == nullptr || a == nullptr || instance < 1 || instance > ORSA_MAX_FUNCTIONS)
        return 1;
    HmNode *pci = internal_get_node(phba, "PCI", HM_KIND_GROUP);
    if (pci == nullptr)
        return 1;
    if (attributes_status == 0) {
        set_prop_val(pci, "VendorID", "0x%04x", orsa_rd16(a + ORSA_ATTR_PCI_VENDOR));
        set_prop_val(pci, "DeviceID", "0x%04x", orsa_rd16(a + ORSA_ATTR_PCI_DEVICE_ID));
        set_prop_val(pci, "SubsysDeviceID", "0x%04x", orsa_rd16(a + ORSA_ATTR_PCI_SUBSYS_DEVICE));
        set_prop_val(pci, "SubsysVendorID", "0x%04x", orsa_rd16(a + ORSA_ATTR_PCI_SUBSYS_VENDOR));
        set_prop_val(pci, "BusNumber", "0x%x", a[ORSA_ATTR_BUS]);
        set_prop_val(pci, "DeviceNumber", "0x%x", a[ORSA_ATTR_DEVICE]);
        set_prop_val(pci, "FunctionNumber", "0x%x", a[ORSA_ATTR_FUNCTION]);
        set_prop_val(phba, "PortNumber", "%d", a[ORSA_ATTR_PORT]);
        LOG(ORSA_LOG_DEBUG, "%s: PortNumber = %d from firmware\n", __func__, a[ORSA_ATTR_PORT]);
        if (protocol == ORSA_PROTO_ISCSI) {
            set_prop_val(pci, "DomainNumber", "0x%04x", orsa_glob.iscsi_function_table[instance - 1].domain);
            set_prop_val(phba, "iSCSIVersionMin", "%d", a[ORSA_ATTR_ISCSI_VERSIONS] & 0xf);
            set_prop_val(phba, "iSCSIVersionMax", "%d", a[ORSA_ATTR_ISCSI_VERSIONS] >> 4);
            if (orsa_glob.iscsi_inst_flags[instance - 1] & 0x2)
                set_prop_val(phba, "LDTO", "N/A");
            else
                set_prop_val(phba, "LDTO", "%d", orsa_rd16(a + ORSA_ATTR_LDTO));
            set_prop_val(phba, "DefaultETO", "%d", (int)orsa_rd32(a + ORSA_ATTR_DEFAULT_ETO));
            set_prop_val(phba, "MaxCDBLength", "%d", orsa_rd16(a + ORSA_ATTR_MAX_CDB));
        }
    }
    if (protocol == ORSA_PROTO_NIC) {
        if (instance >= ORSA_MAX_FUNCTIONS)
            return 1;
        const auto &f = orsa_glob.NicFunctionTable[instance];
        set_prop_val(pci, "DomainNumber", "0x%04x", f.domain);
        if (attributes_status != 0) {
            set_prop_val(pci, "BusNumber", "0x%x", f.bus);
            set_prop_val(pci, "DeviceNumber", "0x%x", f.device);
            set_prop_val(pci, "FunctionNumber", "0x%x", f.function);
        }
        ORSA_update_nic_port_number();
        ORSA_update_nic_ifname(phba, instance);
    }
    ORSA_get_driver_name(phba, 0, protocol);
    return ORSA_get_driver_version(phba, 0, 0, a, attributes_status) != 0 ? 1 : 0;
}

/* ---- enumeration ---- */

u32 ORSA_enumerate_iscsi_functions(void)
{
    for (u32 instance = 1; instance <= orsa_glob.iscsi_valid_hba && instance <= ORSA_MAX_FUNCTIONS; ++instance) {
        u8 attrs[ORSA_CNTR_ATTR_SIZE] = {};
        if (ORSA_get_cntr_attribs(instance, 0, 0, ORSA_PROTO_ISCSI, attrs) != 0) {
            LOG(ORSA_LOG_ERROR, "%s:ORSA_get_cntr_attribs failed for i = %d.\n", __func__, (int)instance - 1);
            continue;
        }
        HmNode *ks = controller_for(instance, ORSA_PROTO_ISCSI, attrs, 0, __func__);
        if (ks == nullptr)
            continue;
        HmNode *phba = add_phba(ks, instance, ORSA_PROTO_ISCSI, attrs, 0, __func__);
        if (phba == nullptr)
            continue;
    }
    return 0;
}

u32 ORSA_enumerate_nic_functions(void)
{
    for (u32 instance = 1; instance <= orsa_glob.nic_valid_hba && instance < ORSA_MAX_FUNCTIONS; ++instance) {
        ORSA_enumerate_nic_domain();
        u8 attrs[ORSA_CNTR_ATTR_SIZE] = {};
        u32 attributes_status = ORSA_get_cntr_attribs(instance, 0, 0, ORSA_PROTO_NIC, attrs);
        HmNode *ks = controller_for(instance, ORSA_PROTO_NIC, attrs, attributes_status, __func__);
        if (ks == nullptr)
            continue;
        HmNode *phba = add_phba(ks, instance, ORSA_PROTO_NIC, attrs, attributes_status, __func__);
        if (phba == nullptr)
            continue;

        if (hm_instance_number(phba) == 0) {
            u32 asic = get_ks_type(ks);
            LOG(ORSA_LOG_DEBUG, "%s:ks_type = %d.\n", __func__, (int)asic);
            u8 oem[ORSA_OEM_PARAMS_SIZE] = {};
            if (asic == ORSA_ASIC_PIVARD &&
                ioctl_get_oem_params(instance, oem, 0, 0, (u32)hm_instance_number(ks)) == 0) {
                LOG(ORSA_LOG_DEBUG, "%s: %d %d %d %d \n", __func__, oem[0], oem[12], oem[13], oem[0]);
                if (orsa_pivard_oem_hides_serial(oem))
                    set_prop_val(ks, "SerialNumber", "N/A");
            }
        }
        u32 vfs = 0;
        ORSA_get_nic_logicalhba(phba, instance, &vfs, 1);
        orsa_glob.nic_vf_count[instance] = vfs;
        ORSA_check_for_vm(instance, phba, ks);
        set_prop_val(phba, "IsVF", "%s", vm_flag == 1 ? "True" : "False");
    }
    return 0;
}

/* ---- start-up and teardown ---- */

u32 backend_init(void)
{
    LOG(ORSA_LOG_INFO, "%s:Called.\n", __func__);
    LOG(ORSA_LOG_INFO, "ORSAServiceVersion   = %d.%d.%d.%d\n", 1, 0, 99, 0);
    LOG(ORSA_LOG_INFO, "ORSAHierarchyVersion = %d.%d\n", 10, 6);
    memset(orsa_glob.port_bitmap, 0, sizeof orsa_glob.port_bitmap);
    memset(orsa_glob.controller_protocol, 0, sizeof orsa_glob.controller_protocol);
    orsa_glob.hdr_version = 0;

    ORSA_config_dir_permssions();
    ORSA_save_file_configuration();

    orsa_glob.iscsi_valid_hba = os_get_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
    LOG(ORSA_LOG_INFO, "%s:iscsi_valid_hba = %d\n", __func__, (int)orsa_glob.iscsi_valid_hba);
    orsa_glob.nic_valid_hba = os_get_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
    LOG(ORSA_LOG_INFO, "%s:nic_valid_hba = %d\n", __func__, (int)orsa_glob.nic_valid_hba);

    if (orsa_glob.iscsi_valid_hba == 0 && orsa_glob.nic_valid_hba == 0) {
        LOG(ORSA_LOG_CRITICAL, "%s:Quorvantix Adapter Not Found.\n", __func__);
        orsa_set_last_status(ORSA_STATUS_NO_ADAPTER,
                             "Quorvantix Adapter Not found. Please make sure Talvor NIC/iSCSI drivers are installed "
                             "properly or Quorvantix adapter inserted on PCIe Slot.");
        return 0;
    }

    ORSA_enumerate_iscsi_functions();
    ORSA_enumerate_nic_functions();
    set_port_bitmap();
    ORSA_delete_file("/scratch/ferrosul/orsa/config_prof.txt");

    for_each_instance(&ROOT, "Kalderstone", [](HmNode *ks) {
        ORSA_get_all_eventlog(ks);
        ORSA_list_available_profiles(ks);
        ORSA_get_active_profiles(ks);
        ORSA_get_configured_profiles(ks);
        ORSA_get_link_reconfig_details(ks, 0);
        ORSA_get_port_discovery_config(ks);
        ORSA_extfat_modules(ks);
        HmNode *ncsi = internal_get_node(ks, "NCSI", HM_KIND_GROUP);
        HmNode *phba = orsa_first_phba(ks);
        if (ncsi != nullptr && phba != nullptr)
            ORSA_get_ncsi_attributes((u32)get_port_number(phba), (u32)get_phba_port_number(phba), ncsi, ncsi, 0, 1);
        ORSA_update_oem_props(ks);
        ORSA_update_available_personalities(ks);
        ORSA_update_current_personality(ks);
        ORSA_update_diagnostics_prop(ks);
        ORSA_update_cntr_additional_attribs(ks);
        return true;
    });

    set_prop_val(&ROOT, "ORSAServiceVersion", "%d.%d.%d.%d", 1, 0, 99, 0);
    set_prop_val(&ROOT, "ORSAHierarchyVersion", "%d.%d", 10, 6);
    u32 lhba = ORSA_set_lhba_prop();
    if (lhba != 0)
        LOG(ORSA_LOG_WARNING, "%s:ORSA_set_lhba_prop answered %u: %s\n", __func__, (unsigned)lhba,
            orsa_last_status_string);
    /* The fillers' results are not the client's concern: each one logged
     * what it could not do. */
    orsa_reset_last_status();
    return 0;
}

u32 ORSA_free_all_node_handles(void)
{
    for_each_instance(&ROOT, "Kalderstone", [](HmNode *ks) {
        for_each_instance(ks, "NICPhysicalHBA", [](HmNode *p) {
            orsa_release_node_handle(p);
            return true;
        });
        for_each_instance(ks, "iSCSIPhysicalHBA", [](HmNode *p) {
            orsa_release_node_handle(p);
            HmNode *net = internal_get_node(p, "Network", HM_KIND_GROUP);
            if (net != nullptr)
                orsa_release_node_handle(internal_get_node(net, "TCPIPConfiguration", HM_KIND_GROUP));
            HmNode *lhba = get_first_instance(p, "LogicalHBA");
            if (lhba == nullptr)
                return true;
            for_each_instance(lhba, "Target", [](HmNode *t) {
                for_each_instance(t, "Session", [](HmNode *s) {
                    for_each_instance(s, "Connection", [](HmNode *c) {
                        orsa_release_node_handle(c);
                        return true;
                    });
                    orsa_release_node_handle(s);
                    return true;
                });
                for_each_instance(t, "LUN", [](HmNode *l) {
                    orsa_release_node_handle(l);
                    return true;
                });
                return true;
            });
            return true;
        });
        return true;
    });
    return 0;
}

void backend_exit(void)
{
    ORSA_free_all_node_handles();
    os_put_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
    os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
}

/* ---- client hooks ---- */

u32 ORSA_backend_client_bdf(u32 protocol)
{
    const char *kind = protocol == ORSA_PROTO_ISCSI ? "iSCSIPhysicalHBA" : "NICPhysicalHBA";
    u32 changed = 0;
    for_each_instance(&ROOT, "Kalderstone", [&](HmNode *ks) {
        bool go_on = true;
        if (get_first_instance(ks, kind) == nullptr)
            return false;
        for_each_instance(ks, kind, [&](HmNode *phba) {
            HmNode *pci = internal_get_node(phba, "PCI", HM_KIND_GROUP);
            i32 port = get_port_number(phba);
            u8 a[ORSA_CNTR_ATTR_SIZE] = {};
            if (pci == nullptr || port < 1 ||
                ioctl_fetch_controller_attribs((u32)port, a, 0, (u8)get_phba_port_number(phba), protocol) != 0) {
                go_on = false;
                return false;
            }
            char bus[16], fun[16], serial[40];
            snprintf(bus, sizeof bus, "0x%x", a[ORSA_ATTR_BUS]);
            snprintf(fun, sizeof fun, "0x%x", a[ORSA_ATTR_FUNCTION]);
            snprintf(serial, sizeof serial, "%.32s", (const char *)a + ORSA_ATTR_SERIAL);
            char stored[HM_VALUE_SIZE] = "", tree_bus[HM_VALUE_SIZE] = "", tree_fun[HM_VALUE_SIZE] = "";
            internal_get_property(ks, "SerialNumber", stored);
            internal_get_property(pci, "BusNumber", tree_bus);
            internal_get_property(pci, "FunctionNumber", tree_fun);
            LOG(ORSA_LOG_DEBUG, "%s:serial_number = %s asn = %s\n", __func__, stored, serial);
            LOG(ORSA_LOG_DEBUG, "%s:bus=%s fun=%s bus_node->u.prop->val=%s fun_node->u.prop->val=%s\n", __func__, bus,
                fun, tree_bus, tree_fun);
            if (strcmp(serial, "0") != 0 && strcasecmp(stored, "N/A") != 0 &&
                (strcasecmp(bus, tree_bus) != 0 || strcasecmp(serial, stored) != 0)) {
                changed = 1;
                go_on = false;
                return false;
            }
            return true;
        });
        return go_on;
    });
    return changed;
}

u32 backend_client_init(i32 clients)
{
    ORSA_ENTRY_LOCK();
    if (!orsa_library_is_open(__func__))
        return 1;
    if (clients > 1)
        return 0;
    /* The drivers may keep changing under us: a few rounds, then give up. */
    bool settled = false;
    for (u32 round = 0; round < ORSA_CLIENT_INIT_ROUNDS && !settled; ++round) {
        os_put_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
        u32 n = os_get_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
        if (n != orsa_glob.iscsi_valid_hba) {
            LOG(ORSA_LOG_CRITICAL, "%s:There is a change in ORSA iSCSI hierarchy.\n", __func__);
            if (rebuild_tree() != 0)
                return 1;
            continue;
        }
        os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
        n = os_get_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
        if (n != orsa_glob.nic_valid_hba) {
            LOG(ORSA_LOG_CRITICAL, "%s:There is a change in ORSA NIC hierarchy.\n", __func__);
            if (rebuild_tree() != 0)
                return 1;
            continue;
        }
        if (orsa_glob.iscsi_valid_hba > 0) {
            if (ORSA_backend_client_bdf(ORSA_PROTO_ISCSI) == 0) {
                ORSA_refresh_backend_client_iscsi_tgts();
            } else {
                if (rebuild_tree() != 0)
                    return 1;
                continue;
            }
        }
        if (orsa_glob.nic_valid_hba == 0) {
            if (orsa_glob.iscsi_valid_hba > 0)
                return 0;
            orsa_set_last_status(ORSA_STATUS_NO_CONTROLLER, "System has no controller.");
            return 1;
        }
        if (ORSA_backend_client_bdf(ORSA_PROTO_NIC) != 0) {
            if (rebuild_tree() != 0)
                return 1;
            continue;
        }
        settled = true;
    }
    if (!settled) {
        orsa_set_last_status(ORSA_FAILURE, "The adapters kept changing while the library started. Please retry.");
        return 1;
    }
    if (get_first_instance(&ROOT, "Kalderstone") == nullptr)
        return 1;
    for_each_instance(&ROOT, "Kalderstone", [](HmNode *ks) {
        for_each_instance(ks, "NICPhysicalHBA", [](HmNode *phba) {
            u32 *record = (u32 *)HM_GROUP(phba)->nhandle;
            if (record != nullptr)
                ORSA_update_nic_ifname(phba, *record);
            ORSA_update_nic_port_number();
            return true;
        });
        return true;
    });
    return 0;
}

void backend_client_exit(u32 clients)
{
    ORSA_ENTRY_LOCK();
    if (!orsa_library_is_open(__func__))
        return;
    if (clients != 0)
        return;
    for_each_instance(&ROOT, "Kalderstone", [](HmNode *ks) {
        for_each_instance(ks, "PortDiscoveryAndConfiguration", [](HmNode *port) {
            char state[HM_VALUE_SIZE] = "";
            if (internal_get_property(port, "BeaconState", state) == 0 && strcmp(state, "Enabled") == 0) {
                HmValueSlot params[HM_MAX_PARAMS] = {};
                for (u32 i = 3; i < HM_MAX_PARAMS; ++i)
                    params[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
                orsa_strlcpy(params[2], "Disabled", HM_VALUE_SIZE);
                do_Beacon(port, internal_get_node(port, "Beacon", HM_KIND_ACTION), params);
            }
            return true;
        });
        HmNode *diag = internal_get_node(ks, "Diagnostics", HM_KIND_GROUP);
        if (diag != nullptr) {
            HmNode *action = internal_get_node(diag, "ExitLoopBackMode", HM_KIND_ACTION);
            for (int src = 0; src < 4; ++src)
                for (int dst = 0; dst < 4; ++dst) {
                    HmValueSlot params[HM_MAX_PARAMS] = {};
                    for (u32 i = 2; i < HM_MAX_PARAMS; ++i)
                        params[i][0] = (char)ORSA_PARAM_NOT_GIVEN;
                    snprintf(params[0], HM_VALUE_SIZE, "%d", src);
                    snprintf(params[1], HM_VALUE_SIZE, "%d", dst);
                    do_ExitLoopBackMode(diag, action, params);
                }
        }
        return true;
    });
    os_put_port_instances(orsa_glob.iscsi_port_instances, ORSA_MAX_FUNCTIONS);
    os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS);
}

#include "backend/orsa_nicprops.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "backend/orsa_gateway.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_openiscsi.h"
#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_persist.h"
#include "schema/builders.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"

namespace {

u32 set_na(HmNode *node, const char *property)
{
    set_prop_val(node, property, "%s", "N/A");
    return 0;
}

}  // namespace

u32 ORSA_get_nic_ipv6gateway(HmNode *node)
{
    return set_na(node, "IPv6GateWay");
}

u32 ORSA_get_nic_gateway(HmNode *node)
{
    return set_na(node, "Gateway");
}

u32 ORSA_get_nic_subnetmask(HmNode *node)
{
    return set_na(node, "SubnetMask");
}

u32 ORSA_get_nic_iftype(HmNode *node)
{
    return set_na(node, "IPProtocolIfType");
}

u32 ORSA_get_address_origin(HmNode *node)
{
    return set_na(node, "AddressOrigin");
}

u32 ORSA_get_nic_ipaddress(HmNode * /*node*/, char out[HM_VALUE_SIZE])
{
    if (out != nullptr)
        snprintf(out, HM_VALUE_SIZE, "%s", "N/A");
    return 0;
}

u32 ORSA_set_nic_macaddress(void)
{
    orsa_set_last_status(ORSA_STATUS_SET_NOT_SUPPORTED_OS, "Setting this property is not supported in this OS.");
    return 1;
}

u32 ORSA_get_driver_name(HmNode *node, u32 /*unused*/, u32 protocol)
{
    HmNode *driver = internal_get_node(node, "Driver", HM_KIND_GROUP);
    if (driver == nullptr)
        return 1;
    const char *name = protocol == 2 ? "sornic.o" : protocol == 1 ? "sorblock.o" : nullptr;
    if (name == nullptr)
        return 0;
    if (set_prop_val(driver, "DriverName", "%s", name) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%sFailed to get driver details\n", __func__);
        return 1;
    }
    return 0;
}

u32 ORSA_get_driver_version(HmNode *node, u32 /*unused1*/, u32 /*unused2*/, const u8 *attributes, u32 failed)
{
    if (failed != 0 || attributes == nullptr)
        return 1;
    HmNode *driver = internal_get_node(node, "Driver", HM_KIND_GROUP);
    if (driver == nullptr)
        return 1;
    // The adapter fills the field; it need not be terminated inside it.
    const char *text = reinterpret_cast<const char *>(attributes + ORSA_ATTR_DRIVER_VERSION_OFFSET);
    int len = static_cast<int>(strnlen(text, ORSA_ATTR_DRIVER_VERSION_SIZE));
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "Driver version = %.*s\n", len, text);
    if (set_prop_val(driver, "DriverVersion", "%.*s", len, text) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%sFailed to get driver details\n", __func__);
        return 1;
    }
    return 0;
}

u32 ORSA_get_nic_macaddress(HmNode *node)
{
    PortAddress a{};
    u8 query[72] = {};
    query[0] = 1;
    query[1] = 1;
    if (orsa_get_port_address(node, &a) != 0 || !orsa_valid_nic_instance(static_cast<u32>(a.port_number)) ||
        ioctl_get_mac_query(orsa_nic_port(static_cast<u32>(a.port_number)), query, static_cast<u8>(a.domain_id),
                            static_cast<u8>(a.phba_port)) != 0) {
        orsa_set_last_status(ORSA_STATUS_MAC_READ_FAILED,
                             "Failed to get current MACAddress. Please check orsa2d.log file for more information.");
        return 1;
    }
    set_prop_val(node, "MACAddress", "%02x-%02x-%02x-%02x-%02x-%02x", query[2], query[3], query[4], query[5],
                 query[6], query[7]);
    return 0;
}

namespace {

// The NIC driver information of a NIC function, or false.
bool read_dinfo(u32 port, u8 (&dinfo)[ORSA_DINFO_SIZE])
{
    memset(dinfo, 0, sizeof dinfo);
    return orsa_valid_nic_instance(port) && ioctl_get_mtu(port, dinfo) == 0;
}

}  // namespace

u32 ORSA_get_nic_mtusize(HmNode *node, u32 port)
{
    u8 dinfo[ORSA_DINFO_SIZE];
    if (!read_dinfo(port, dinfo))
        return 1;
    unsigned mtu = static_cast<unsigned>(dinfo[8] | dinfo[9] << 8);
    return set_prop_val(node, "MTUSize", "%u", mtu) != 0 ? 1 : 0;
}

u32 ORSA_get_over_temperature(HmNode *node, u32 port)
{
    u8 dinfo[ORSA_DINFO_SIZE];
    if (!read_dinfo(port, dinfo))
        return 1;
    set_prop_val(node, "PHYLinkDownReason", "%u", static_cast<unsigned>(dinfo[5]));
    return 0;
}

u32 ORSA_update_nic_ifname(HmNode *node, u32 function)
{
    if (function < 1 || function > ORSA_MAX_FUNCTIONS ||
        set_prop_val(node, "IfName", "%.255s", orsa_glob.nic_if_names[function - 1]) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to update NIC Ifname\n", __func__);
        return 1;
    }
    return 0;
}

u32 ORSA_Get_VF_Info(u32 port, u32 *count, u32 create, HmNode *node)
{
    u8 dinfo[ORSA_DINFO_SIZE] = {};
    u32 vfs = 0;
    u32 status = orsa_valid_nic_instance(port) ? ioctl_get_virt_f_info(port, dinfo, &vfs) : 1;
    if (status != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:ioctl_get_virt_f_info failed with status = %d\n", __func__,
               static_cast<int>(status));
        return 1;
    }
    if (count != nullptr)
        *count = vfs;
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:*nic_lhba_count = %d\n", __func__, static_cast<int>(vfs));
    if (create == 1) {
        // The driver's table holds 60 VFs (16-byte entries from byte 16 of
        // 976); the count comes from the driver and is not trusted beyond
        // what the table can describe.
        u32 todo = vfs < 60 ? vfs : 60;
        for (u32 i = 0; i < todo; i++) {
            if (initialize_NICLogicalHBA(node, nullptr, nullptr, nullptr) == nullptr)
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "Failed to initialize NICLogicalHBA.\n");
        }
    }
    return 0;
}

u32 ORSA_get_pci_bdf(u32 function, char domain[35], char bus[HM_VALUE_SIZE], char device[HM_VALUE_SIZE],
                     char fn[HM_VALUE_SIZE], char serial[33], u32 protocol, const u8 *attributes, u32 failed)
{
    if (attributes == nullptr || domain == nullptr || bus == nullptr || device == nullptr || fn == nullptr ||
        serial == nullptr)
        return 1;
    const OrsaPciFunction *entry = function < ORSA_MAX_FUNCTIONS ? &orsa_glob.NicFunctionTable[function] : nullptr;
    if (failed == 0) {
        snprintf(serial, 33, "%.*s", ORSA_ATTR_SERIAL_SIZE,
                 reinterpret_cast<const char *>(attributes + ORSA_ATTR_SERIAL_OFFSET));
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:serial_number = %s\n", __func__, serial);
        snprintf(bus, HM_VALUE_SIZE, "0x%x", attributes[ORSA_ATTR_PCI_BUS_OFFSET]);
        snprintf(device, HM_VALUE_SIZE, "0x%x", attributes[ORSA_ATTR_PCI_DEVICE_OFFSET]);
        snprintf(fn, HM_VALUE_SIZE, "0x%x", attributes[ORSA_ATTR_PCI_FUNCTION_OFFSET]);
        snprintf(domain, 35, "0x%04x", entry != nullptr ? entry->domain : 0u);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:domain = %s\n", __func__, domain);
        return 0;
    }
    if (protocol == ORSA_PROTO_NIC && entry != nullptr) {
        snprintf(domain, 35, "0x%04x", entry->domain);
        snprintf(bus, HM_VALUE_SIZE, "0x%x", entry->bus);
        snprintf(device, HM_VALUE_SIZE, "0x%x", entry->device);
        snprintf(fn, HM_VALUE_SIZE, "0x%x", entry->function);
        snprintf(serial, 33, "%s", "0");
        return 0;
    }
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Controller Attributes IOCTL failed.\n", __func__);
    return 1;
}

u32 ORSA_get_pci_express_data(u32 port, u8 domain, u8 phba, u32 asic, HmNode *phba_node, const char *property,
                              char out[HM_VALUE_SIZE])
{
    u32 dword = 0;
    u32 status = 1;
    if (out != nullptr && asic == 4) {
        status = orsa_valid_nic_instance(port) ? ioctl_pivard_read_pci_conf(port, &dword) : 1;
    } else if (out != nullptr && phba_node != nullptr && phba_node->name != nullptr) {
        i32 protocol = strcmp(phba_node->name, "NICPhysicalHBA") == 0     ? ORSA_PROTO_NIC
                       : strcmp(phba_node->name, "iSCSIPhysicalHBA") == 0 ? ORSA_PROTO_ISCSI
                                                                          : 0;
        bool valid = protocol == ORSA_PROTO_NIC     ? orsa_valid_nic_instance(port)
                     : protocol == ORSA_PROTO_ISCSI ? orsa_valid_iscsi_instance(port)
                                                    : false;
        u8 conf[264] = {};
        const u32 offset = 0xD0, length = 4;
        memcpy(conf, &offset, 4);
        memcpy(conf + 4, &length, 4);
        if (valid && ioctl_read_pci_conf(OrsaPort{port, protocol}, conf, domain, phba) == 0) {
            memcpy(&dword, conf + 8, 4);
            status = 0;
        }
    }
    if (status != 0) {
        orsa_set_last_status(ORSA_STATUS_CONFIG_DUMP_FAILED, "Cannot dump the config region for the given offset.");
        return 1;
    }
    orsa_pcie_link_text(dword, property, out);
    return 0;
}

void orsa_pcie_link_text(u32 dword, const char *property, char out[HM_VALUE_SIZE])
{
    if (property != nullptr && strcmp(property, "PCIExpressLinkSpeed") == 0) {
        u32 code = (dword >> 16) & 0xF;
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:speed  = %d\n", "ORSA_get_pci_express_data", static_cast<int>(code));
        snprintf(out, HM_VALUE_SIZE, "%.1fGT/s", code * 2.5);
    } else {
        u32 width = (dword >> 20) & 0x3F;
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:width  = %d\n", "ORSA_get_pci_express_data", static_cast<int>(width));
        snprintf(out, HM_VALUE_SIZE, "x%d", static_cast<int>(width));
    }
}

u32 ORSA_enumerate_nic_domain(void)
{
    return 0;
}

u32 ORSA_update_nic_port_number(void)
{
    return 0;
}

u32 ORSA_refresh_backend_client_iscsi_tgts(void)
{
    if (OPEN_ISCSI_DRIVER_LOADED == 0 && ORSA_ISCSI_INBOX_DRIVER_LOADED == 0)
        ORSA_refresh_backend_client_iscsi_targets();
    return 0;
}

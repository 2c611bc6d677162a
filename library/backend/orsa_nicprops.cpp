#include "backend/orsa_nicprops.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "backend/orsa_openiscsi.h"
#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"

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

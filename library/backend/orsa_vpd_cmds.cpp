/* Function VPD, FRU VPD, factory MAC, network boot and the iSCSI BIOS switch:
 * the fillers and handlers that ask the adapter. */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_propertyutil.h"
#include "backend/orsa_vpd.h"
#include "schema/bootstrap.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"
#include "tree/orsa_entry.h"

namespace {

/* A read of the boot configuration or the function map failed. */
u32 boot_status_failed()
{
    orsa_set_last_status(ORSA_STATUS_BOOT_STATUS_FAILED,
                         "Unable to obtain boot status. Application internal error occurred. Please check "
                         "orsa2d.log file for more information.");
    return 1;
}

u32 no_memory()
{
    orsa_set_status(ORSA_STATUS_NO_MEMORY);
    return 1;
}

/* Steps shared by the start-up fill and get_vpd_data. */
u32 fill_vpd(u32 port, u8 domain, u8 phba_port, HmNode *vpd, u32 protocol, u32 function, u32 asic)
{
    u8 *buf;
    if (asic == ORSA_ASIC_PIVARD) {
        buf = (u8 *)orsa_dzalloc(ORSA_VPD_PAYLOAD);
        if (buf == nullptr)
            return no_memory();
        u32 rc = ioctl_get_pivard_vpd_data(port, buf, ORSA_VPD_PAYLOAD, domain, phba_port, protocol);
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:status of ioctl_get_pivard_vpd_data = %d\n", __func__, (int)rc);
        if (rc == 0) {
            orsa_store_hex_chunks(vpd, "VPDData", 0, buf, ORSA_VPD_AREA, 9);
            orsa_dfree(buf);
            return 0;
        }
        orsa_dfree(buf);
    }
    buf = (u8 *)orsa_dzalloc(ORSA_VPD_PAYLOAD);
    if (buf == nullptr)
        return no_memory();
    u16 selector = (u16)function;
    u8 device = 0;
    if (protocol == ORSA_PROTO_NIC) {
        if (asic == ORSA_ASIC_KS2)
            selector = phba_port == 0 ? 2 : phba_port == 1 ? 3 : 0;
    } else {
        device = 1;
    }
    buf[0] = (u8)selector;
    buf[1] = (u8)(selector >> 8);
    buf[2] = device;
    u32 rc = ioctl_get_vpd_data(port, buf, ORSA_VPD_PAYLOAD, domain, phba_port, protocol);
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:ioctl_get_vpd_data failed with status = %d.\n", __func__,
               (int)rc);
        orsa_dfree(buf);
        return rc;
    }
    orsa_store_hex_chunks(vpd, "VPDData", 0, buf, ORSA_VPD_AREA, 9);
    orsa_dfree(buf);
    return 0;
}

}  // namespace

u32 ORSA_update_vpd_data(HmNode *phba, u32 port, u32 protocol)
{
    HmNode *ks = phba != nullptr ? phba->parent : nullptr;
    if (ks == nullptr)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    u8 domain = (u8)get_domain_id(phba);
    u8 phba_port = (u8)get_phba_port_number(phba);
    HmNode *vpd = internal_get_node(phba, "VPD", HM_KIND_GROUP);
    if (vpd == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get vpd node\n", __func__);
        return 1;
    }
    u32 function = 0;
    if (orsa_phba_function_number(phba, &function, __func__) != 0)
        return 1;
    return fill_vpd(port, domain, phba_port, vpd, protocol, function, asic);
}

u32 get_vpd_data(u32 port, u8 domain, u8 phba_port, HmNode *vpd, u32 protocol, u32 function)
{
    ORSA_ENTRY_LOCK();
    HmNode *ks = (vpd != nullptr && vpd->parent != nullptr) ? vpd->parent->parent : nullptr;
    if (ks == nullptr)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    return fill_vpd(port, domain, phba_port, vpd, protocol, function, asic);
}

u32 ORSA_read_FRU_VPD(u32 offset, u32 length, u32 block, HmNode *fruvpd, HmNode *ks)
{
    HmNode *phba = orsa_first_phba(ks);
    i32 port = get_port_number(phba);
    if (fruvpd == nullptr || ks == nullptr || phba == nullptr || port < 1)
        return 1;
    u8 *buf = (u8 *)orsa_dzalloc(ORSA_VPD_AREA);
    if (buf == nullptr)
        return no_memory();
    memcpy(buf, &length, 4);
    memcpy(buf + 4, &offset, 4);
    u32 rc = ioctl_read_fruvpd_data((u32)port, buf, ORSA_VPD_AREA, (u8)get_domain_id(phba),
                                    (u8)get_phba_port_number(phba), (u32)get_the_protocol(hm_instance_number(ks)));
    if (rc != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Read FRU VPD failed with status = %d.\n", __func__, (int)rc);
        orsa_dfree(buf);
        return 1;
    }
    if (block == 0)
        orsa_store_hex_chunks(fruvpd, "FRUVPDData", 0, buf, ORSA_VPD_AREA, 9);
    else
        orsa_store_hex_chunks(fruvpd, "FRUVPDData", 9, buf, ORSA_VPD_AREA, 2);
    orsa_dfree(buf);
    return 0;
}

u32 handle_fru_vpd_data(HmNode *property, char *value, u32)
{
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *fruvpd = property != nullptr ? property->parent : nullptr;
    HmNode *ks = fruvpd != nullptr ? fruvpd->parent : nullptr;
    if (ks == nullptr || get_ks_type(ks) == ORSA_ASIC_UNREADABLE)
        return 1;
    if (ORSA_read_FRU_VPD(0, 1024, 0, fruvpd, ks) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Reading Block Zero Data Failed.\n", __func__);
        return 1;
    }
    if (ORSA_read_FRU_VPD(1024, 256, 1, fruvpd, ks) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Reading Block One Data Failed.\n", __func__);
        return 1;
    }
    return orsa_answer(property, value, 0);
}

u32 ORSA_update_fd_mac(u32 port, HmNode *phba, u32 protocol)
{
    HmNode *ks = phba != nullptr ? phba->parent : nullptr;
    if (ks == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get KS node\n", __func__);
        return 1;
    }
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    u8 domain = (u8)get_domain_id(phba);
    u8 phba_port = (u8)get_phba_port_number(phba);
    HmNode *target = phba;
    if (protocol == ORSA_PROTO_ISCSI) {
        HmNode *net = internal_get_node(phba, "Network", HM_KIND_GROUP);
        target = net != nullptr ? internal_get_node(net, "NICConfiguration", HM_KIND_GROUP) : nullptr;
        if (target == nullptr)
            return 1;
    }
    u32 function = 0;
    if (orsa_phba_function_number(phba, &function, __func__) != 0)
        return 1;
    u8 mac[6];
    u32 rc;
    if (asic == ORSA_ASIC_KS2 || asic == ORSA_ASIC_KS3) {
        u8 q[ORSA_MAC_QUERY_SIZE] = {};
        q[0] = 9;
        rc = ioctl_get_mac_query(port, q, domain, phba_port, protocol);
        /* The reply names functions 0-7 only. */
        if (rc == 0 && function >= ORSA_MAC_QUERY_FUNCTIONS)
            rc = 1;
        if (rc == 0)
            memcpy(mac, q + 10 + 8 * function, 6);
    } else if (asic == ORSA_ASIC_PIVARD || asic == ORSA_ASIC_VESKARN) {
        u8 *l = (u8 *)orsa_dzalloc(ORSA_MAC_LIST_SIZE);
        if (l == nullptr)
            return no_memory();
        l[0] = 9;
        l[1] = 1;
        rc = ioctl_get_mac_list(port, l, domain, phba_port, protocol);
        if (rc == 0)
            memcpy(mac, l + 2, 6);
        orsa_dfree(l);
    } else {
        return 0;
    }
    if (rc != 0) {
        orsa_set_last_status(ORSA_STATUS_FD_MAC_FAILED,
                             "Failed to get permanent MAC address. Application internal error occurred. Please check "
                             "orsa2d.log file for more information.");
        return 1;
    }
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:FDMACAddress = %02x-%02x-%02x-%02x-%02x-%02x\n", __func__, mac[0],
           mac[1], mac[2], mac[3], mac[4], mac[5]);
    return set_prop_val(target, "FactoryDefaultMACAddress", "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2],
                        mac[3], mac[4], mac[5]) != 0
               ? 1
               : 0;
}

u32 update_nic_ifname(void)
{
    ORSA_ENTRY_LOCK();
    for (HmNode *ks = get_first_instance(&ROOT, "Kalderstone"); ks != nullptr; ks = hm_next_instance(ks)) {
        for (HmNode *n = get_first_instance(ks, "NICPhysicalHBA"); n != nullptr; n = hm_next_instance(n)) {
            u32 *record = (u32 *)HM_GROUP(n)->nhandle;
            if (record != nullptr && *record >= 1 && *record <= ORSA_MAX_FUNCTIONS)
                set_prop_val(n, "IfName", "%.255s", orsa_glob.nic_if_names[*record - 1]);
        }
    }
    return 0;
}

u32 handle_networkboot_config(HmNode *property, char *value, u32)
{
    HmNode *boot = property != nullptr ? property->parent : nullptr;
    HmNode *nic = boot != nullptr ? boot->parent : nullptr;
    HmNode *ks = nic != nullptr ? nic->parent : nullptr;
    if (ks == nullptr || ks == nic) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Invalid KS Node.\n", __func__);
        return 1;
    }
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    i32 port = get_port_number(property);
    u8 domain = (u8)get_domain_id(property);
    u8 phba_port = (u8)get_phba_port_number(property);
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    if (port < 1)
        return 1;
    u8 cfg[ORSA_BOOT_CONFIG_SIZE] = {};
    if (ioctl_get_boot_config((u32)port, cfg, domain, phba_port, ORSA_PROTO_NIC) != 0)
        return boot_status_failed();
    if (strcasecmp(property->name, "NetworkBootMethod") == 0)
        return orsa_store_and_answer(property, value, cfg[3] >= 2 ? "iBFT" : "PXE");
    if (asic == ORSA_ASIC_PIVARD)
        return orsa_store_and_answer(property, value, cfg[0] == 1 ? "Enabled" : "Disabled");
    u32 function = 0;
    if (orsa_phba_function_number(nic, &function, __func__) != 0)
        return 1;
    u8 map[ORSA_PCI_FUNC_MAP_SIZE] = {};
    if (ioctl_get_pci_func_mapping((u32)port, map, domain, phba_port, ORSA_PROTO_NIC) != 0)
        return boot_status_failed();
    return orsa_store_and_answer(property, value, orsa_boot_state_text(asic, function, orsa_rd32(map + 32), cfg[0]));
}

u32 handle_iSCSIBIOSEnable(HmNode *property, char *value, u32 mode)
{
    i32 port = get_port_number(property);
    if (property == nullptr || port < 1)
        return 1;
    u8 domain = (u8)get_domain_id(property);
    u8 phba_port = (u8)get_phba_port_number(property);
    u8 cfg[ORSA_BOOT_CONFIG_SIZE] = {};
    if (ioctl_get_boot_config((u32)port, cfg, domain, phba_port, ORSA_PROTO_ISCSI) != 0)
        return boot_status_failed();
    if (mode == HM_MODE_GET)
        return orsa_store_and_answer(property, value, cfg[0] == 1 ? "Yes" : "No");
    if (mode != HM_MODE_SET)
        return 0;
    cfg[0] = (value != nullptr && strcasecmp(value, "Yes") == 0) ? 1 : 0;
    if (ioctl_set_boot_config((u32)port, cfg, domain, phba_port, ORSA_PROTO_ISCSI) != 0) {
        orsa_set_last_status(ORSA_STATUS_BOOT_SET_FAILED,
                             "Cannot set boot status. Application internal error occurred. Please check orsa2d.log "
                             "file for more information.");
        return 1;
    }
    return 0;
}

u32 handle_FCoEWWPN(HmNode *property, char *value, u32)
{
    HmNode *ks = orsa_controller_of(property);
    i32 port = get_port_number(property);
    i32 ks_instance = hm_instance_number(ks);
    i32 phba_port = get_phba_port_number(property);
    if (ks == nullptr || ks_instance < 0 || ks_instance >= 16 || phba_port < 0 || phba_port >= 4)
        return 1;
    u32 cls = get_port_bitmap(ks_instance, phba_port);
    u32 protocol = cls == 1 ? ORSA_PROTO_ISCSI : cls == 2 ? ORSA_PROTO_NIC : 0;
    u8 wwpn[8] = {};
    if (protocol != 0) {
        if (port < 1)
            return 1;
        u8 *add = (u8 *)orsa_dzalloc(ORSA_ADD_ATTR_SIZE);
        if (add == nullptr)
            return no_memory();
        u32 rc = orsa_read_additional_attribs((u32)port, add, (u8)get_domain_id(property), (u8)phba_port, protocol);
        if (rc != 0) {
            orsa_dfree(add);
            return rc;
        }
        memcpy(wwpn, add + ORSA_ADD_WWPN, 8);
        orsa_dfree(add);
    }
    char text[32];
    snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x", wwpn[0], wwpn[1], wwpn[2], wwpn[3],
             wwpn[4], wwpn[5], wwpn[6], wwpn[7]);
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:FCoEWWPN = %s\n", __func__, text);
    return orsa_store_and_answer(property, value, text);
}

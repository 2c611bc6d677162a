/*
 * orsa_vpd.h - function VPD, FRU VPD, factory MAC addresses, network boot,
 * the iSCSI BIOS switch, PCI domain and FCoE port name, and the constant
 * CIM properties of a NIC function.
 *
 * Usage: start-up calls ORSA_update_vpd_data and ORSA_update_fd_mac once per
 * function; the handlers run when a client reads (or, for iSCSIBIOSEnable,
 * writes) their property. A byte area becomes properties as hexadecimal
 * text, 127 bytes per property:
 *     orsa_hex_chunk(area, 1024, 8, true, text);   // bytes 1016..1023
 * Function numbers read from the tree are range-checked before they index
 * an adapter reply.
 */
#ifndef DRELMO_BACKEND_ORSA_VPD_H
#define DRELMO_BACKEND_ORSA_VPD_H

#include "tree/hm_types.h"

#define ORSA_VPD_AREA 1024u
#define ORSA_VPD_PAYLOAD 1032u
#define ORSA_VPD_CHUNK 127u
#define ORSA_MAC_QUERY_SIZE 72u
#define ORSA_MAC_LIST_SIZE 532u
#define ORSA_BOOT_CONFIG_SIZE 8u
#define ORSA_PCI_FUNC_MAP_SIZE 68u
#define ORSA_MAC_QUERY_FUNCTIONS 8u

#define ORSA_STATUS_FD_MAC_FAILED 76
#define ORSA_STATUS_BOOT_STATUS_FAILED 141
#define ORSA_STATUS_BOOT_SET_FAILED 142

#define ORSA_ESX_CONF "/etc/vmware/esx.conf"

/* Hex text of chunk `index` of an area (last: the chunk runs to the end). */
void orsa_hex_chunk(const u8 *area, u32 size, u32 index, bool last, char out[HM_VALUE_SIZE]);
/* Stores chunks 0..count-1 (the last one runs to the end) as "<prefix><n>"
 * from property number first on. */
u32 orsa_store_hex_chunks(HmNode *group, const char *prefix, u32 first, const u8 *area, u32 size, u32 count);

/* The function number of a physical HBA's PCI group; 1 on failure. */
u32 orsa_phba_function_number(HmNode *phba, u32 *function, const char *caller);

/* Network boot state text from the expansion-ROM word. */
const char *orsa_boot_state_text(u32 asic, u32 function, u32 rom_word, u8 boot_enabled);

/* The PCI domain of a vmhba from an esx.conf text file; 1 when no line
 * names it or the line has no device path. */
u32 orsa_domain_from_esx_conf(const char *path, const char *vmhba, u32 *domain);

u32 ORSA_update_vpd_data(HmNode *phba, u32 port, u32 protocol);
/* get_vpd_data (exported): drelmo.h. */
u32 ORSA_read_FRU_VPD(u32 offset, u32 length, u32 block, HmNode *fruvpd, HmNode *controller);
u32 ORSA_update_fd_mac(u32 port, HmNode *phba, u32 protocol);
/* update_nic_ifname (exported): drelmo.h. */

u32 handle_fru_vpd_data(HmNode *property, char *value, u32 mode);
u32 handle_networkboot_config(HmNode *property, char *value, u32 mode);
u32 handle_AvailableNetworkBootMethods(HmNode *property, char *value, u32 mode);
u32 handle_iSCSIBIOSEnable(HmNode *property, char *value, u32 mode);
u32 handle_DomainNumber(HmNode *property, char *value, u32 mode);
u32 handle_FCoEWWPN(HmNode *property, char *value, u32 mode);
u32 handle_EnabledCapabilities(HmNode *property, char *value, u32 mode);
u32 handle_Kalderstone_NICPhysicalHBA_CIM_Capabilities(HmNode *property, char *value, u32 mode);
u32 handle_LinkTechnology(HmNode *property, char *value, u32 mode);
u32 handle_ProtocolIfType(HmNode *property, char *value, u32 mode);
/* handle_CIM_IPv4Address, handle_CIM_IPv6Address and
 * handle_CIM_IPProtocolEndPointName are exported for clients that bind them
 * (no group of the schema does): drelmo.h. */

#endif

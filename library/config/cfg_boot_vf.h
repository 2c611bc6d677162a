/*
 * cfg_boot_vf.h - the small per-function settings of a NIC function: its
 * semi-volatile MAC address and network-boot VLAN (the adapter's OEM
 * execution configuration), its network-boot state and method and the KS3
 * native mode (the boot configuration), and the settings of its SR-IOV
 * virtual functions (NICLogicalHBA groups).
 *
 * A VF's settings are read from the NIC driver's VF table and changed by the
 * host's "ip link set <interface> vf <n> ..." command, run without a shell
 * (backend/orsa_cmdrun.h); a command that fails is reported as a failure.
 *
 * The request builders and decoders in namespace bootvf work on buffers of
 * any content.
 */
#ifndef DRELMO_CONFIG_CFG_BOOT_VF_H
#define DRELMO_CONFIG_CFG_BOOT_VF_H

#include <stddef.h>

#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table). */
#define ORSA_STATUS_INVALID_VALUE_USE_VALID 17
#define ORSA_STATUS_VLAN_PRIORITY_FAILED 124
#define ORSA_STATUS_NETBOOT_UNSUPPORTED 272
#define ORSA_STATUS_NETBOOT_METHOD_UNSUPPORTED 273
#define ORSA_STATUS_NETBOOT_METHOD_MISSING 274
#define ORSA_STATUS_ADAPTER_UNSUPPORTED 291
#define ORSA_STATUS_ADVANCED_MODE_UNSUPPORTED 311
#define ORSA_STATUS_ADVANCED_MODE_CHANGED 312
#define ORSA_STATUS_VOLATILE_MAC_FAILED 328

#define ORSA_OEM_EXEC_SIZE 48u
/* The NIC driver's VF table: 976 bytes, the count at 12, 16-byte entries
 * from 16 - room for 60. */
#define ORSA_VF_TABLE_SIZE 976u
#define ORSA_VF_TABLE_ENTRIES 60u

/* Property handlers. */
u32 handle_VolatileMACAddress(HmNode *property, char *value, u32 mode);
u32 handle_vlan_properties(HmNode *property, char *value, u32 mode);
u32 handle_AdvancedMode(HmNode *property, char *value, u32 mode);
u32 handle_niclogicalhba_macaddress(HmNode *property, char *value, u32 mode);
u32 handle_niclogicalhba_vlanid(HmNode *property, char *value, u32 mode);
u32 handle_niclogicalhba_txrate(HmNode *property, char *value, u32 mode);
u32 handle_LinkStatus(HmNode *property, char *value, u32 mode);
/* Action handlers. */
u32 do_NICPhysicalHBA_NetworkBootConfiguration_ConfigureVLAN(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_SetNetworkBoot(HmNode *group, HmNode *action, HmValueSlot *params);
/* Group refresh of a NIC physical HBA: its NICLogicalHBA groups made again
 * from the driver's VF table. */
u32 group_NICPhysicalHBA(HmNode *group);

/* ORSA_get_vf_params (exported): drelmo.h. */

namespace bootvf {

/* A MAC address text as validateMACAddress takes it (cfg_mac.h). */
bool parse_mac(const char *text, u8 mac[6]);
/* "%02x:%02x:%02x:%02x:%02x:%02x" of six bytes (the NIC driver's form). */
void mac_colon_text(const u8 *m, char out[HM_VALUE_SIZE]);
/* An integer text as the tree's check reads it (decimal, "0x" hexadecimal,
 * "0" octal, the whole text) within min..max. */
bool parse_int(const char *text, long min, long max, long *out);

/* OEM execution configuration writes: a zeroed request with only the
 * change's own fields. */
void oem_mac_request(u8 request[ORSA_OEM_EXEC_SIZE], const u8 mac[6]);
void oem_vlan_request(u8 request[ORSA_OEM_EXEC_SIZE], u16 vlan, u8 priority);
/* The network boot bytes of a boot configuration: state and method. */
void set_boot(u8 config[8], bool enabled, bool pxe);

/* The VF count of a table of size bytes, as far as the table holds
 * entries. */
u32 vf_count(const u8 *table, size_t size);
/* The text of one VF property (TxRate, VLANID, MACAddress, LinkStatus) of
 * VF vf: "N/A" for a VF the table does not hold; false (nothing written)
 * for any other name. */
bool vf_text(const u8 *table, size_t size, u32 vf, const char *name, char out[HM_VALUE_SIZE]);

}  // namespace bootvf

#endif

/*
 * cfg_mac.h - the MAC addresses of an adapter's PCI functions: the permanent
 * (override) address kept in the adapter's profile or, on KS2, in its legacy
 * configuration table; the factory address of every function; the current
 * address and MTU of a NIC function; and the virtual MAC addresses kept in
 * the NIC data regions of adapter flash, put back to the factory addresses
 * when a configuration is saved or reset.
 *
 * Usage:
 *     u8 mac[6];
 *     if (validateMACAddress(text, mac) == 1) ...           // six bytes
 *     ORSA_get_last_configured_mac(phba, phba, buffer, 2);  // NIC function
 *     ORSA_reset_virt_mac(controller, 1);                   // all but partition 1
 * The handlers below are bound by name through the schema's registry; the
 * exported functions are declared in drelmo.h as well.
 *
 * The region walk (namespace nic_region) reads adapter replies of any length
 * and content: it never leaves the bytes that were read, whatever lengths
 * the region header or its TLVs claim.
 */
#ifndef DRELMO_CONFIG_CFG_MAC_H
#define DRELMO_CONFIG_CFG_MAC_H

#include <stddef.h>

#include "backend/orsa_gateway.h"
#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table). */
#define ORSA_STATUS_MAC_INVALID 17
#define ORSA_STATUS_MAC_BUFFER_SPACE 31
#define ORSA_STATUS_PERMANENT_MAC_FAILED 76
#define ORSA_STATUS_FACTORY_MAC_FAILED 159
#define ORSA_STATUS_MAC_GET_FAILED 160
#define ORSA_STATUS_MAC_SET_FAILED 161
#define ORSA_STATUS_MAC_CHANGED 304

/* Sizes of the commands. */
#define ORSA_MAC_QUERY_SIZE 72u
#define ORSA_MAC_LIST_SIZE 532u
#define ORSA_MAC_QUERY_FUNCTIONS 8u       /* the factory query holds functions 0 to 7 */
#define ORSA_NIC_REGION_READ_SIZE 32876u
#define ORSA_NIC_REGION_REQUEST_HEAD 112u /* write request bytes before the image */
#define ORSA_NIC_REGION_WRITE_EXTRA 132u  /* write request = image TLV length + this */
#define ORSA_NIC_REGION_HEADER 16u
#define ORSA_NIC_REGION_DATA 8u           /* read reply: the data from here */
#define ORSA_NIC_REGION_NAME_SIZE 104u

/* Driver types of the permanent MAC functions. */
#define ORSA_MAC_ISCSI 1u
#define ORSA_MAC_NIC 2u

/* Internal forms of the exported region functions that carry the image's
 * length: the read answers it in *size; the write sends size bytes of image
 * (a 16-byte header and its TLV area). */
u8 *orsa_read_nic_region(OrsaPort at, u8 domain, u8 phba_port, u32 region_port, u32 partition, u32 *size);
u32 orsa_write_nic_region(OrsaPort at, u8 domain, u8 phba_port, u32 region_port, u32 partition, const u8 *image,
                          u32 size);

/* Property handlers. */
u32 handle_NICPhysicalHBA_PermanentMACAddress(HmNode *property, char *value, u32 mode);
u32 handle_iSCSIPhysicalHBA_Network_NICConfiguration_PermanentMACAddress(HmNode *property, char *value, u32 mode);
u32 handle_ProfileManagement_ConfiguredProfile_Port_Function_MACAddress(HmNode *property, char *value, u32 mode);
u32 handle_NICPhysicalHBA_MACAddress(HmNode *property, char *value, u32 mode);
u32 handle_nic_MTUSize(HmNode *property, char *value, u32 mode);

/* Action handlers. */
u32 do_NICPhysicalHBA_ResetMACAddress(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_iSCSIPhysicalHBA_Network_NICConfiguration_ResetMACAddress(HmNode *group, HmNode *action,
                                                                  HmValueSlot *params);

/* validateMACAddress, ORSA_convert_mac_addr, ORSA_get_last_configured_mac,
 * ORSA_set_last_configured_mac, ORSA_get_legacy_last_configured_mac,
 * ORSA_set_legacy_last_configured_mac, ORSA_reset_virt_mac,
 * ORSA_read_nic_region, ORSA_write_nic_region and the handle_CIM_* handlers
 * no group binds are exported: drelmo.h. */

namespace mac {

/* The value of a hexadecimal digit, -1 for any other character. */
int hex_digit(char c);

/* "%02x-%02x-%02x-%02x-%02x-%02x" of six bytes into out (18 bytes or more). */
void text_of(const u8 mac[6], char *out, size_t size);

/* A function number text as the PCI group shows it: decimal, "0x" hex or
 * leading-0 octal, non-negative, consumed whole. */
bool parse_function(const char *text, u32 *out);

/* The legacy configuration table's entry of a function (kind 0, its number
 * written "0x%x" equal to function_text, state 0, type 0 NIC or 1 iSCSI),
 * looked for among min(count, 16) entries; the offset of its NIC (iscsi
 * false) or iSCSI address in the 836-byte table, or 0 when no entry matches
 * or the address would not lie inside the table. */
u32 legacy_mac_offset(const u8 *table, size_t size, const char *function_text, bool iscsi);

/* The 184-byte single-function write of a MAC address from the copied record
 * (record_len bytes of it, at most 88, are taken) of type 81 or 82. */
void build_single_write(u8 request[184], const u8 *record, u32 record_len, u32 pf, u32 phba_port,
                        const u8 mac[6]);

}  // namespace mac

namespace nic_region {

/* The object name of a region: "/nicdata/Port%x/Partition%d/Region1". */
void object_name(u32 port, u32 partition, char out[ORSA_NIC_REGION_NAME_SIZE]);

/* Bytes of the TLV area that lie inside an image of size bytes: the header's
 * length, but never past the bytes read (0 without a whole header). */
u32 tlv_area(const u8 *image, u32 size);

/* Puts the factory address into every MAC TLV (0x20 NIC, 0x21 iSCSI, 0x22
 * FCoE, with a value of at least 7 bytes) of the TLV area that holds another
 * one: flag byte 1, then the six bytes. The walk stops at the end of the TLV
 * area, at a TLV that would reach past it and after the last whole TLV.
 * Returns the number of TLVs changed; *same counts MAC TLVs that already held
 * the factory address. */
u32 restore_macs(u8 *image, u32 size, const u8 factory[6], u32 *same);

}  // namespace nic_region

#endif

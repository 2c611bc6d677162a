/*
 * cfg_ncsi.h - the NC-SI (sideband) configuration of a controller: its NCSI
 * group (support, handshake, version) and, on KS2 adapters with NC-SI
 * enabled, the factory wake-on-LAN data (NCSIStaticConfiguration0) and the
 * user's (NCSIDynamicConfiguration0), which a client can change.
 *
 * One attributes read answers the lot: reading any property refreshes the
 * NCSI status properties and the properties of the group read.
 *
 * The decoders in namespace ncsi work on a reply of any content.
 */
#ifndef DRELMO_CONFIG_CFG_NCSI_H
#define DRELMO_CONFIG_CFG_NCSI_H

#include <stddef.h>

#include "tree/hm_types.h"

#define ORSA_NCSI_ATTR_SIZE 72u
#define ORSA_NCSI_BLOCK_SIZE 32u
#define ORSA_NCSI_STATIC_BLOCK 8u
#define ORSA_NCSI_DYNAMIC_BLOCK 40u
#define ORSA_NCSI_VERSION_OFFSET 80u

#define ORSA_STATUS_NCSI_DISABLED 145
#define ORSA_STATUS_NCSI_SET_FAILED 219

/* Start-up filler and refresher: port, physical-HBA port and domain are
 * taken from the controller's first physical HBA (iSCSI before NIC), the
 * controller being the NCSI group's parent; selector names the group whose
 * properties are filled (the static or dynamic configuration group; any
 * other: the NCSI properties only). create 1 makes the two KS2 groups. */
u32 ORSA_get_ncsi_attributes(u32 port, u32 phba_port, HmNode *ncsi, HmNode *selector, u32 domain, u32 create);
/* Writes one property of the user block; 0 or a status. */
u32 set_ncsi_attributes(u32 port, u32 phba_port, const char *name, HmNode *ncsi, u32 domain, const char *value);

u32 handle_ncsi_static_configuration(HmNode *property, char *value, u32 mode);
u32 handle_ncsi_dynamic_configuration(HmNode *property, char *value, u32 mode);
u32 handle_get_ncsi_version(HmNode *property, char *value, u32 mode);

namespace ncsi {

/* The text of a yes/no byte: "Yes" for 1, "No" for 0, none otherwise. */
const char *yes_no(u8 byte);
/* Applies one property's new text to a 32-byte user block. false when the
 * name is none of the five or the value is not valid for it (MAC texts,
 * VLAN id 0 to 4095); an enable other than "Yes" or "No" leaves the block
 * as it is. */
bool apply(u8 block[ORSA_NCSI_BLOCK_SIZE], const char *name, const char *value);
/* The version text of a controller attributes reply of size bytes: KS2
 * five numbers, KS3 the text at 80 (as far as it is terminated inside the
 * reply, at most 32 characters); "N/A" for other generations. */
void version_text(u32 asic, const u8 *attributes, size_t size, char out[HM_VALUE_SIZE]);

}  // namespace ncsi

#endif

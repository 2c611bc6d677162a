/*
 * cfg_dcbx.h - DCBX of a port: the DCBX configuration block the adapter
 * exchanges (312-byte version 0 and 368-byte version 1 forms) with its
 * readers and writers, the DCBX MIB, mode and state, and the property
 * handlers of the DCBX groups (DCBXPortVars, DCBXStatistics, the PFC, PG and
 * application-TLV views and their PG and ApplicationTLV instances).
 *
 * The block, as other areas use it (QCN, application TLVs, PG settings):
 *
 *     u8 reply[ORSA_DCBX_V1_SIZE], request[ORSA_DCBX_V1_SIZE];
 *     OrsaWhere w;
 *     if (!orsa_dcbx_where(node, &w)) return 1;
 *     u32 rc = orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 1, reply);   // 213: no version 1 form
 *     if (rc != 0) ...;
 *     orsa_dcbx_write_request(reply, 1, request);   // every field the write carries over
 *     request[ORSA_DCBX_QCN_CNPV] = 0x08;            // change what the caller changes
 *     rc = orsa_dcbx_write(w, 1, request);
 *
 * A read reply and a write request differ in their first four bytes: the
 * reply has the count of application entries in use at byte 2 and the
 * number of PGs at byte 3; the request carries the count at byte 1 and
 * zeros at 2 and 3. orsa_dcbx_write_request copies the count across; a
 * caller that adds or removes an entry changes request[ORSA_DCBX_REQ_APP_COUNT].
 *
 * Handlers follow the tree's contracts (property: node, 256-byte buffer,
 * mode 0 get / 1 set). Everything else returns 0 or the status said.
 */
#ifndef DRELMO_CONFIG_CFG_DCBX_H
#define DRELMO_CONFIG_CFG_DCBX_H

#include "backend/orsa_handler_util.h"
#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table). */
#define ORSA_STATUS_DCBX_INVALID_VALUE 6
#define ORSA_STATUS_DCBX_GET_FAILED 101
#define ORSA_STATUS_DCBX_SET_FAILED 102
#define ORSA_STATUS_DCBX_MODE_GET_FAILED 103
#define ORSA_STATUS_DCBX_MODE_SET_FAILED 104
#define ORSA_STATUS_DCBX_MIB_FAILED 108
#define ORSA_STATUS_DCBX_MODE_CHANGED 152
/* The wrappers' status for a command the adapter's firmware lacks (a
 * version 1 read on a firmware without that form). */
#define ORSA_STATUS_DCBX_CMD_UNSUPPORTED 213

/* ---- the configuration block ---- */

#define ORSA_DCBX_V0_SIZE 312u
#define ORSA_DCBX_V1_SIZE 368u

/* Views (read request byte 0). */
#define ORSA_DCBX_VIEW_ADMIN 0u
#define ORSA_DCBX_VIEW_OPER 1u
#define ORSA_DCBX_VIEW_PEER 2u

/* Byte offsets. */
#define ORSA_DCBX_STATE 0         /* reply: 1 enabled; request: bit 0 */
#define ORSA_DCBX_REQ_APP_COUNT 1 /* request: application entries in use */
#define ORSA_DCBX_APP_COUNT 2     /* reply: application entries in use */
#define ORSA_DCBX_NUM_PG 3        /* reply: priority groups supported */
#define ORSA_DCBX_PG_FLAGS 4      /* u32 each */
#define ORSA_DCBX_PFC_FLAGS 8
#define ORSA_DCBX_QCN_FLAGS 12    /* version 1 */
#define ORSA_DCBX_APP_FLAGS 16
#define ORSA_DCBX_PG_BANDWIDTH 24 /* u8 per PG 0-7, percent; 255 no limit */
#define ORSA_DCBX_PG_IDS 32       /* priority k's PG id at 32 + 4k */
#define ORSA_DCBX_PG_ID_SLOT 4
#define ORSA_DCBX_PFC_ENABLE 64   /* u8 per priority, 1 enabled */
#define ORSA_DCBX_APP_ENTRIES 72
#define ORSA_DCBX_APP_ENTRY_SIZE 16
#define ORSA_DCBX_APP_ENTRY_COUNT 15u
#define ORSA_DCBX_QCN_CNPV 312    /* version 1 */
#define ORSA_DCBX_QCN_READY 316   /* version 1, reply only */

/* Offsets in an application entry. */
#define ORSA_DCBX_APP_PROTOCOL 0  /* u16 */
#define ORSA_DCBX_APP_SELECTOR 2  /* 0 Ethernet type, 1 TCP port */
#define ORSA_DCBX_APP_IN_USE 3    /* 1 in use */
#define ORSA_DCBX_APP_OUI 4       /* u32 */
#define ORSA_DCBX_APP_MEMBERS 8   /* u8 per priority, 1 member */

/* State flag bits (PG, PFC, QCN and application flags). */
#define ORSA_DCBX_FLAG_ENABLED 0x1u
#define ORSA_DCBX_FLAG_ADVERTISE 0x2u
#define ORSA_DCBX_FLAG_WILLING 0x4u
#define ORSA_DCBX_FLAG_SYNCED 0x8u
#define ORSA_DCBX_FLAG_OPER_NA 0x40000000u
#define ORSA_DCBX_FLAG_ERROR 0x80000000u

/* The PG id whose members PG15PriorityMemberShip shows. */
#define ORSA_DCBX_PG15 15u

/* Where a node's DCBX commands go: the function of its port (the PortAddress
 * of the node: driver port, domain, physical-HBA port, and as the device the
 * port's class in the controller's port bitmap). False when the node has no
 * port address. */
bool orsa_dcbx_where(HmNode *node, OrsaWhere *w);
/* The same from its parts: driver port, physical-HBA port, domain and the
 * controller's instance number. */
OrsaWhere orsa_dcbx_port_where(u32 port, u32 phba_port, u32 domain, u32 controller);

/* Block size of a form: version 0 or 1. */
inline u32 orsa_dcbx_size(u32 version)
{
    return version == 1 ? ORSA_DCBX_V1_SIZE : ORSA_DCBX_V0_SIZE;
}

/* Reads the block of one view in the form of version (0 or 1) into block
 * (orsa_dcbx_size(version) bytes). The wrapper's status: 0, 213 when the
 * firmware lacks the form, another status on failure. No status text is
 * set; the caller sets its own. */
u32 orsa_dcbx_read(const OrsaWhere &w, u32 view, u32 version, u8 *block);
/* The write request of a form built from a read reply of the same form:
 * state, flags (QCN only in version 1), bandwidths, PG ids, PFC bytes,
 * entries and (version 1) the CNPV bitmap copied; the count of entries in
 * use moved to byte 1; everything else zero. */
void orsa_dcbx_write_request(const u8 *reply, u32 version, u8 *request);
/* Sends a write request of version's form. The wrapper's status. */
u32 orsa_dcbx_write(const OrsaWhere &w, u32 version, u8 *request);

/* Application entry n (0-14) of a block. */
inline u8 *orsa_dcbx_app_entry(u8 *block, u32 n)
{
    return block + ORSA_DCBX_APP_ENTRIES + ORSA_DCBX_APP_ENTRY_SIZE * n;
}
inline const u8 *orsa_dcbx_app_entry(const u8 *block, u32 n)
{
    return block + ORSA_DCBX_APP_ENTRIES + ORSA_DCBX_APP_ENTRY_SIZE * n;
}
/* The PriorityBitMap of an entry (bit k set when member byte k is 1), and
 * the member bytes of a bitmap. */
u8 orsa_dcbx_app_members(const u8 *entry);
void orsa_dcbx_app_set_members(u8 *entry, u8 bitmap);
/* The priorities whose PG id is pg, as a bitmap (bit k = priority k). */
u8 orsa_dcbx_pg_members(const u8 *block, u32 pg);
/* The entry an ApplicationTLV instance group shows: its instance number. */
u32 orsa_dcbx_app_entry_index(HmNode *instance);

/* A priority bitmap text: a signed integer of automatic base (decimal, 0x
 * hexadecimal, leading-0 octal) naming priorities 0-7 only. False for a
 * negative value, trailing characters or a bit above 7. */
bool orsa_dcbx_parse_bitmap(const char *text, u8 *bitmap);

/* Mode texts: 0 "CEE", 1 "CIN", 2 "Auto-CEE", 3 "Auto-IEEE". The text of
 * a code (none for another), the code of a text, case ignored (-1 for
 * another). */
const char *orsa_dcbx_mode_text(u32 code);
int orsa_dcbx_mode_code(const char *text);

/* ---- the DCBX MIB ---- */

#define ORSA_DCBX_MIB_SIZE 108u
#define ORSA_DCBX_MIB_PIVARD_SIZE 60u
#define ORSA_DCBX_MIB_FIELDS 12u

/* One field of the MIB: the property it fills, in DCBXPortVars or (in
 * DCBXStatistics) statistics. */
struct OrsaDcbxMibField {
    const char *property;
    bool statistics;
    u8 width;        /* 1 or 4 bytes */
    u8 offset;       /* in the 108-byte form */
    u8 offset_pivard;
};
extern const OrsaDcbxMibField orsa_dcbx_mib_fields[ORSA_DCBX_MIB_FIELDS];
/* The values of a MIB reply (ORSA_DCBX_MIB_SIZE bytes, or
 * ORSA_DCBX_MIB_PIVARD_SIZE for the Pivard form), in the table's order. */
void orsa_dcbx_mib_values(const u8 *reply, bool pivard, u32 values[ORSA_DCBX_MIB_FIELDS]);

/* ---- readers, writers and handlers of the DCBX groups ---- */

/* Reads the block (version 0) in the view of group (administrator for the
 * Administrator* groups and their instances, peer for the Peer* ones,
 * operational otherwise) and stores what group shows. port: the driver
 * port; the protocol is the port's class in the controller's port bitmap.
 * 0, 1 when a store failed or group is not served, or the command's status
 * (with 101 set). */
u32 ORSA_get_feature_vars(u32 port, u32 phba_port, u32 domain, HmNode *group, u32 controller);
/* Changes the administrator setting of property to value through a
 * read-modify-write of the version 0 block. 0, 1 (with 6 for a bitmap that
 * names no priorities), or the command's status (with 101 or 102 set). */
u32 ORSA_set_feature_vars(u32 port, u32 phba_port, u32 domain, HmNode *property, const char *value, u32 controller);
/* The DCBX MIB of the port into DCBXPortVars and DCBXStatistics of
 * port_group. 0, 1, or the command's status (with 108 set). */
u32 get_port_vars(u32 port, u32 phba_port, u32 domain, HmNode *port_group);
/* OperationalMode of group "N/A" and *flag 1 when the operating parameters
 * report a link of mode 0 or 2. 0, or 1 when they cannot be read. */
u32 ORSA_get_operating_value(u32 port, u32 domain, u32 phba_port, HmNode *group, u32 *flag);

u32 handle_DCBXState(HmNode *property, char *value, u32 mode);
u32 handle_DCBXMode(HmNode *property, char *value, u32 mode);
u32 handle_dcbx_port_vars(HmNode *property, char *value, u32 mode);
u32 handle_dcbx_stats_props(HmNode *property, char *value, u32 mode);
u32 handle_pfc_feature_vars(HmNode *property, char *value, u32 mode);
u32 handle_pg_feature_vars(HmNode *property, char *value, u32 mode);
u32 handle_pg15_membership(HmNode *property, char *value, u32 mode);
u32 handle_app_feature_vars(HmNode *property, char *value, u32 mode);
u32 handle_bwg_props(HmNode *property, char *value, u32 mode);
u32 handle_apptlv_feature_vars(HmNode *property, char *value, u32 mode);

#endif

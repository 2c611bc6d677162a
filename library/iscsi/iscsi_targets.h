// Targets, target portals, login and logout, sessions and connections, the
// extended timeout, LUNs and SCSI pass-through, the iSCSI flash regions and
// boot sessions: the part of the iSCSI initiator that talks to the adapter's
// sessions.
//
// Adapter replies are read through the bounded readers at the end of this
// header: a count or a length a reply cannot hold makes the reply malformed
// (the caller fails as for a failed command); nothing is ever read past what
// the adapter returned.
//
// How the records are read:
//   - a session record's connection count is the 16-bit word at byte 20;
//     the record has room for one connection entry, so a count above 1 is
//     a malformed reply;
//   - a Session group's handle record is {port, session handle, 0, portal
//     group tag}, a Connection's {0, connection id, 0, 0};
//   - a login answer whose byte 5 has bit 0 set opened no session;
//   - the login engine's options group may belong to a Target or (discovery
//     logins) to a SendTargetPortal: the port is its logical HBA's either way.
//
// Usage (a login, as the Login action runs it):
//     u32 rc = do_Login(target, login_action, params);   // 0, or 1 with the last status
//     HmNode *s = get_first_instance(target, "Session");  // the new session
//     get_session_attribs(port, domain, phba, s);         // refreshed from the adapter
#pragma once

#include <cstddef>
#include <cstdint>

#include "iscsi/iscsi_login_records.h"
#include "tree/hm_types.h"

#pragma pack(push, 1)

// One connection of the adapter's session record.
struct session_connection_entry {
    uint32_t connection_id;
    uint32_t flags; // bit 0 logged in, bit 2 redirected
    uint16_t source_port;
    uint16_t destination_port;
    uint16_t redirected_port;
    uint16_t cid;
    uint8_t reserved0[7];
    uint8_t source_kind; // 1 IPv4, 16 IPv6
    uint8_t source_address[16];
    uint8_t reserved1[7];
    uint8_t destination_kind;
    uint8_t destination_address[16];
    uint8_t reserved2[7];
    uint8_t redirected_kind;
    uint8_t redirected_address[16];
    uint8_t reserved3[4];
    negotiated_connection_record login;
};

// The adapter's session record (the reply of the session query).
struct session_info {
    uint32_t session_handle;
    uint32_t state;  // ORSA_SESSION_STATE_* bits
    uint8_t isid[6]; // bytes 4-5: the ISID qualifier, most significant first
    uint16_t tsih;
    uint32_t flags; // ORSA_SESSION_FLAG_*
    uint16_t connection_count;
    uint8_t reserved0[2];
    char target_name[224];
    char initiator_name[224];
    negotiated_session_record session;
    session_connection_entry connections[1]; // the record has room for one
};

#pragma pack(pop)

static_assert(sizeof(session_connection_entry) == 672, "connection entry");
static_assert(offsetof(session_connection_entry, destination_port) == 10, "connection entry");
static_assert(offsetof(session_connection_entry, cid) == 14, "connection entry");
static_assert(offsetof(session_connection_entry, source_kind) == 23, "connection entry");
static_assert(offsetof(session_connection_entry, destination_kind) == 47, "connection entry");
static_assert(offsetof(session_connection_entry, destination_address) == 48, "connection entry");
static_assert(offsetof(session_connection_entry, redirected_kind) == 71, "connection entry");
static_assert(offsetof(session_connection_entry, redirected_address) == 72, "connection entry");
static_assert(offsetof(session_connection_entry, login) == 92, "connection entry");
static_assert(sizeof(session_info) == 1164, "session record");
static_assert(offsetof(session_info, isid) == 8, "session record");
static_assert(offsetof(session_info, tsih) == 14, "session record");
static_assert(offsetof(session_info, flags) == 16, "session record");
static_assert(offsetof(session_info, connection_count) == 20, "session record");
static_assert(offsetof(session_info, target_name) == 24, "session record");
static_assert(offsetof(session_info, initiator_name) == 248, "session record");
static_assert(offsetof(session_info, session) == 472, "session record");
static_assert(offsetof(session_info, connections) == 492, "session record");

#define ORSA_SESSION_FLAG_NOT_PERSISTENT 0x1u
#define ORSA_SESSION_FLAG_BOOT 0x100u
#define ORSA_SESSION_FLAG_BOOT_KIND2 0x400u

// The handle records the Session and Connection groups own (nhandle).
struct orsa_session_handle {
    uint32_t port;
    uint32_t session_handle;
    uint32_t zero;
    uint32_t portal_group_tag;
};
struct orsa_connection_handle {
    uint32_t zero0;
    uint32_t connection_id;
    uint32_t zero1[2];
};
// The handle record of a LUN group: the REPORT LUNS entry's bytes 3..0 and
// 7..4 as two little-endian words, then the session it was found through.
struct orsa_lun_handle {
    uint32_t zero;
    uint8_t lun[8];
    uint32_t session_handle;
};
static_assert(sizeof(orsa_session_handle) == 16 && sizeof(orsa_connection_handle) == 16 &&
                  sizeof(orsa_lun_handle) == 16,
              "handle records are 16 bytes");

// Statuses of this part of the initiator.
#define ORSA_STATUS_WRITE_COUNT 7
#define ORSA_STATUS_BAD_ISID 8
#define ORSA_STATUS_TARGET_NAME_VALUE 6
#define ORSA_STATUS_SESSION_HANDLE 335

// A TargetName may go into savetgt.txt: no "," and no control character.
bool orsa_target_name_ok(const char *name);

// ---- sessions and connections ----
session_info *ORSA_get_session_params(uint32_t session_handle, uint32_t port, uint8_t domain, uint8_t phba);
uint32_t get_all_sessions(HmNode *lhba, uint32_t port, uint8_t domain, uint8_t phba, HmNode *target, HmNode *login,
                          HmValueSlot *params);
HmNode *setup_session(HmNode *target, uint32_t port, uint32_t session_handle, const char *persistent,
                      const negotiated_session_record *values, HmNode *login, HmValueSlot *params,
                      const char *portal_group_tag);
HmNode *setup_connection(HmNode *session, uint32_t connection_id, const negotiated_connection_record *values);
uint32_t get_session_attribs(uint32_t port, uint8_t domain, uint8_t phba, HmNode *session);
uint32_t ORSA_update_connection_props(const session_info *record, HmNode *session);
uint32_t handle_session_properties(HmNode *property, char *value, uint32_t mode);
uint32_t handle_connection_properties(HmNode *property, char *value, uint32_t mode);
uint32_t group_Session(HmNode *session);
uint32_t ORSA_cleanup_sessions(HmNode *target, HmNode *session, uint8_t domain, uint8_t phba);
uint32_t ORSA_get_tgt_persistent_val(HmNode *node, const char *target_name, char *out);
uint32_t handle_TargetAlias(HmNode *property, char *value, uint32_t mode);
// The SessionStatus text of the state bits.
const char *orsa_session_status_text(uint32_t state);
// The handle records of a group; nullptr when it has none.
orsa_session_handle *orsa_session_record(HmNode *session);
orsa_connection_handle *orsa_connection_record(HmNode *connection);
// Frees a group's handle record and deletes the group.
void orsa_delete_with_handle(HmNode *group);

// ---- login and persistent targets ----
uint32_t do_Login(HmNode *target, HmNode *action, HmValueSlot *params);
uint32_t ORSA_get_isid(HmNode *target, const char *qualifier, const char *target_name, const char *initiator,
                       const char *ip, const char *port, uint32_t *reused, uint32_t *out, HmNode **session);
uint32_t ORSA_esx_login(HmNode *action, HmNode *options, target_params *record, HmValueSlot *params,
                        const char *initiator, uint32_t reused, uint32_t mode);
uint32_t make_session_persistent(HmNode *target, const char *ip, const char *port, uint16_t qualifier,
                                 const login_option_block *block, const char *boot, const char *initiator,
                                 uint32_t eto);
uint32_t delete_persistent(uint32_t port, uint32_t domain, uint8_t phba, HmNode *target, const char *target_name,
                           const char *ip, const char *port_text, uint16_t qualifier, const char *initiator,
                           uint32_t keep_file);
// How many login commands the engine sent, in order, with the CHAP, header
// and data choices of each (bits 0, 1, 2): for logs and tests.
extern uint32_t orsa_login_attempts;

// ---- logout, clean-up, start-up re-login ----
uint32_t do_Logout(HmNode *target, HmNode *action, HmValueSlot *params);
uint32_t ORSA_check_session_status(HmNode *target, const char *target_name, uint32_t port, uint32_t *active,
                                   HmNode *action, HmNode *portal, uint32_t mode);
uint32_t add_target_from_file(HmNode *lhba);
uint32_t ORSA_check_for_duplicate_session(HmNode *target, uint32_t port, uint8_t domain, uint8_t phba,
                                          HmValueSlot *params, uint32_t *found, HmNode **session, HmNode **connection);
uint32_t backend_make_persistent(HmNode *group, HmNode *key_a, HmNode *key_b, HmValueSlot *keys);

// ---- targets and portals ----
HmNode *setup_target(HmNode *lhba, const char *name, HmNode *key_a, HmNode *key_b, HmValueSlot *keys,
                     uint32_t discovered);
HmNode *setup_portal(HmNode *target, const char *ip, const char *port, const char *tag);
HmNode *find_target_portal(HmNode *target, const char *ip, const char *port);
uint32_t validate_target_portal(HmNode *target, uint32_t *instance, const char *ip, const char *port);
uint32_t get_all_targets(HmNode *lhba, uint32_t port, uint8_t domain, uint8_t phba, uint32_t discovered,
                         HmValueSlot *params);
uint32_t group_Target(HmNode *target);
uint32_t do_AddTarget(HmNode *lhba, HmNode *action, HmValueSlot *params);
uint32_t do_AddTargetPortal(HmNode *target, HmNode *action, HmValueSlot *params);
uint32_t do_DeleteTarget(HmNode *lhba, HmNode *action, HmValueSlot *params);
uint32_t do_DeleteTargetPortal(HmNode *target, HmNode *action, HmValueSlot *params);

// ---- extended timeout ----
uint32_t handle_Target_ETO(HmNode *property, char *value, uint32_t mode);
uint32_t get_eto_prop(uint32_t port, uint8_t domain, uint8_t phba, HmNode *target);
uint32_t set_eto_prop(uint32_t port, uint8_t domain, uint8_t phba, HmNode *target, const char *eto,
                      uint32_t session_handle);
uint32_t refresh_eto(HmNode *lhba, uint8_t domain, uint8_t phba);

// ---- LUNs and SCSI pass-through ----
#define ORSA_SCSI_REQUEST_HEADER 292u
#define ORSA_MAX_LUNS_PER_SESSION 255u
#define ORSA_MAX_TRANSFER_BLOCKS 127u
uint32_t ConstructSCSIParams(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                             uint32_t direction, const uint8_t cdb[16], uint32_t length, uint8_t **out);
uint32_t FetchScsiInquiryData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                              uint8_t out[36]);
uint32_t FetchLSNInquiryData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                             uint8_t out[255]);
uint32_t FetchReadCapacityData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                               uint32_t mode, uint8_t **out);
uint32_t FetchReportLUNData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, uint8_t **out,
                            uint32_t *length);
uint32_t IssueSCSIReadWrite(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                            uint32_t write, uint32_t lba, uint32_t blocks);
uint32_t get_all_luns(HmNode *target, uint8_t domain, uint8_t phba, HmNode *creator, HmNode *rescan,
                      HmValueSlot *params, char *out);
uint32_t do_ReScanLUNS(HmNode *target, HmNode *action, HmValueSlot *params);
uint32_t do_StdInquiry(HmNode *lun, HmNode *action, HmValueSlot *params);
uint32_t do_SCSIWrite(HmNode *lun, HmNode *action, HmValueSlot *params);
uint32_t handle_LUNNumber(HmNode *property, char *value, uint32_t mode);
uint32_t handle_LUNName(HmNode *property, char *value, uint32_t mode);
uint32_t handle_lun_block_size(HmNode *property, char *value, uint32_t mode);
uint32_t handle_StdInquiry_properties(HmNode *property, char *value, uint32_t mode);
uint32_t group_LUN(HmNode *lun);
// The LUNSize text of a capacity in bytes.
void orsa_lun_size_text(uint64_t bytes, bool sixteen, char out[HM_VALUE_SIZE]);

// ---- iSCSI configuration regions in flash ----
#define ORSA_REGION_HEADER 16u
#define ORSA_OBJECT_READ_SIZE 32876u
#define ORSA_OBJECT_DATA_AT 8u
#define ORSA_OBJECT_NAME_AT 8u
#define ORSA_OBJECT_NAME_SIZE 104u
#define ORSA_OBJECT_WRITE_HEADER 112u
#define ORSA_TLV_PAD 0xFFu
// A region image: the header's word 1 is the TLV area's length, and the
// image is exactly 16 + that many bytes.
uint8_t *ORSA_read_iscsi_region(uint32_t port, uint8_t domain, uint8_t phba, uint32_t region);
uint32_t ORSA_write_iscsi_region(uint32_t port, uint8_t domain, uint8_t phba, uint32_t region, const uint8_t *image);
uint8_t *ORSA_remove_pad_tlv(const uint8_t *image);
uint8_t *ORSA_add_pad_tlv(const uint8_t *image);
uint8_t *ORSA_delete_initiator_chap_tlv(const uint8_t *image);
uint8_t *ORSA_add_initiator_chap_tlv(const uint8_t *image, const session_info *record);
uint8_t *ORSA_create_TLV(const session_info *record);
uint8_t *ORSA_remove_boot_tlv(const uint8_t *image, const session_info *record, uint32_t mode);
uint32_t ORSA_update_initiator_chap_region(uint32_t port, uint8_t domain, uint8_t phba, const session_info *record);
uint32_t ORSA_delete_initiator_chap_region(uint32_t port, uint8_t domain, uint8_t phba);
uint32_t ORSA_add_boottarget_tlv(uint32_t port, uint8_t domain, uint8_t phba, HmNode *session);
uint32_t ORSA_delete_boottarget_tlv(uint32_t port, uint8_t domain, uint8_t phba, const session_info *record);
// The TLV area length of an image (header word 1).
uint32_t orsa_region_length(const uint8_t *image);
// A region image made from an object read's data: nullptr when the data do
// not hold the header or the TLV area the header names, or when a TLV of the
// area runs past its end (a malformed region).
uint8_t *orsa_region_from_data(const uint8_t *data, uint32_t length);

// ---- boot sessions ----
uint32_t handle_boot_session(HmNode *property, char *value, uint32_t mode);
uint32_t ORSA_configure_boot_target(HmNode *session, uint32_t flags, const char *value, uint32_t port, uint8_t domain,
                                    uint8_t phba);
uint32_t handle_iSCSIPhysicalHBA_LogicalHBA_Enabled(HmNode *property, char *value, uint32_t mode);
uint32_t ORSA_refresh_boot_session(uint32_t port, uint8_t domain, uint8_t phba, HmNode *target, HmNode *session,
                                   const session_info *record, const char *value);
uint32_t ORSA_remove_boot_session(uint32_t port, uint8_t domain, uint8_t phba, HmNode *target, HmNode *session,
                                  const session_info *record);
HmNode *ORSA_get_boot_target(HmNode *lhba, uint32_t port, uint8_t domain, uint8_t phba, const session_info *record);

// ---- bounded readers of adapter replies (also the fuzz targets' entry) ----
// A session record of length bytes: false when it is shorter than the
// record or names more connections than it holds.
bool orsa_session_record_ok(const uint8_t *reply, uint32_t length);
// The handles of an active-session list of length bytes: false when the
// count runs past the reply.
bool orsa_session_list_ok(const uint8_t *reply, uint32_t length, uint32_t *count);
// A target-id list of length bytes: false when the count runs past it.
bool orsa_target_list_ok(const uint8_t *reply, uint32_t length, uint32_t *count);
// One portal of a target record.
struct orsa_target_portal {
    uint8_t kind;
    uint8_t address[16];
    uint16_t port;
    uint16_t tag;
};
// Calls fn for every portal of every portal group of a target record of
// length bytes; false when a count runs past the record (nothing is
// reported then). The name is copied into name (224 bytes, terminated).
bool orsa_target_record_walk(const uint8_t *record, uint32_t length, char name[224],
                             void (*fn)(void *context, const orsa_target_portal *portal), void *context);
// The entries of a REPORT LUNS answer of length bytes that the answer holds
// (at most 255).
uint32_t orsa_report_luns_entries(const uint8_t *answer, uint32_t length);
// The serial number of a unit-serial-number page of length bytes, bounded by
// the page; out holds 256 bytes.
void orsa_serial_number(const uint8_t *page, uint32_t length, char out[256]);
// The TLVs of a region image: false when one runs past the area or the
// image holds fewer bytes than its header says.
bool orsa_region_image_ok(const uint8_t *image, uint32_t length);

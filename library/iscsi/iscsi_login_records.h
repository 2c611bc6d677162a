// The records by which the library asks the adapter's iSCSI firmware to log
// in to a target, to keep or drop a persistent target and to log out, and
// the part of the login answer the library reads; the routines that fill
// them from the login-options groups of the tree and store the negotiated
// values back into it. Every multi-byte field is little-endian (the host's
// order: the library runs on little-endian hosts only); text fields are
// NUL-terminated and zero-padded, a longer text is cut to the field width
// minus one.
//
// Usage (a persistent-target record):
//     target_params record = {};
//     memcpy(&record.options, get_default_login_options(), sizeof record.options);
//     get_login_options(target_login_options, &record.options, 2);
//     ORSA_update_target_params(&record, lhba, target, qualifier, ip, port, "False", initiator, 0);
#pragma once

#include <cstddef>
#include <cstdint>

#include "tree/hm_lookup.h"

struct HmNode;

#pragma pack(push, 1)

// The negotiated session values: the layout of login_option_block bytes
// 0-19, as the adapter answers them after a login.
struct negotiated_session_record {
    uint8_t flags;  // bit 0 InitialR2T, 1 ImmediateData, 2 DataPDUInOrder, 3 DataSequenceInOrder
    uint8_t error_recovery_level;
    uint8_t reserved0[2];
    uint32_t first_burst_length;
    uint32_t max_burst_length;
    uint16_t max_connections;
    uint16_t max_outstanding_r2t;
    uint16_t default_time2wait;
    uint16_t default_time2retain;
};

// The negotiated connection values: the layout of login_option_block from
// byte 20 to its end.
struct negotiated_connection_record {
    uint8_t connection_options;
    uint8_t header_digest;  // 1 = CRC32C
    uint8_t data_digest;    // 1 = CRC32C
    uint8_t reserved0;
    uint32_t max_recv_data_segment_length;
    uint32_t further_segment_length;
    uint32_t tcp_mss;
    uint32_t tcp_window_size;
    uint8_t authentication;  // 1 = CHAP
    uint8_t reserved1[3];
    uint32_t mutual_chap;  // 1 = mutual
    char initiator_chap_name[256];
    char initiator_secret[16];
    char target_chap_name[256];
    char target_secret[16];
    uint16_t initiator_chap_name_length;
    uint16_t initiator_secret_length;
    uint16_t target_chap_name_length;
    uint16_t target_secret_length;
};

// The login and persistent-target record (payload of the login and
// add-persistent-target commands).
struct target_params {
    char target_name[224];
    uint16_t tag;  // always ORSA_TARGET_RECORD_TAG
    uint8_t reserved0;
    uint8_t address_kind;  // ORSA_ADDRESS_IPV4 or ORSA_ADDRESS_IPV6
    uint8_t address[16];   // IPv4: the octets in text order in bytes 0-3
    uint8_t reserved1[4];
    uint16_t port;
    uint8_t reserved2[258];
    uint32_t login_flags;  // ORSA_LOGIN_FLAG_*
    uint8_t reserved3[8];
    uint32_t eto;  // extended timeout; ORSA_ETO_NOT_GIVEN = not given
    uint16_t isid_qualifier;
    uint8_t reserved4[2];
    login_option_block options;
    char initiator_name[224];
    char initiator_alias[32];
    uint8_t reserved5[14];
    uint16_t reserved_ffff0;  // always 0xFFFF
    uint16_t reserved_ffff1;  // always 0xFFFF
    uint8_t reserved6[18];
};

// The record by which a persistent target is deleted.
struct delete_persistent_record {
    char target_name[224];
    uint16_t tag;  // always ORSA_TARGET_RECORD_TAG
    uint8_t reserved0;
    uint8_t address_kind;
    uint8_t address[16];
    uint8_t reserved1[4];
    uint16_t port;
    uint8_t reserved2[2];
    uint32_t isid;  // the qualifier in the low 16 bits, bit 31 set
    char initiator_name[224];
};

// The logout payload: the session handle of the login answer.
struct logout_payload {
    uint32_t session_handle;
};

// The login command's buffer as the adapter rewrites it: the fields the
// library reads.
struct login_answer {
    uint32_t session_handle;
    uint8_t discovery_flags;  // bit 0 set: the discovery session is open
    uint8_t status_flags;     // bit 0 set: the session could not be opened
    uint8_t reserved0[2];
    uint32_t connection_handle;
    uint8_t reserved1[4];
    negotiated_session_record session;
    negotiated_connection_record connection;
    uint8_t reserved2[804];
};

#pragma pack(pop)

static_assert(sizeof(negotiated_session_record) == 20, "negotiated session record");
static_assert(sizeof(negotiated_connection_record) == 580, "negotiated connection record");
static_assert(offsetof(negotiated_connection_record, header_digest) ==
                  offsetof(login_option_block, header_digest) - 20, "connection record follows the block");
static_assert(offsetof(negotiated_connection_record, max_recv_data_segment_length) == 4, "connection record");
static_assert(offsetof(negotiated_connection_record, tcp_mss) == 12, "connection record");
static_assert(offsetof(negotiated_connection_record, tcp_window_size) == 16, "connection record");
static_assert(offsetof(negotiated_connection_record, authentication) == 20, "connection record");
static_assert(offsetof(negotiated_connection_record, mutual_chap) == 24, "connection record");
static_assert(offsetof(negotiated_connection_record, initiator_chap_name) == 28, "connection record");
static_assert(offsetof(negotiated_connection_record, initiator_secret) == 284, "connection record");
static_assert(offsetof(negotiated_connection_record, target_chap_name) == 300, "connection record");
static_assert(offsetof(negotiated_connection_record, target_secret) == 556, "connection record");
static_assert(offsetof(negotiated_connection_record, target_secret_length) ==
                  offsetof(login_option_block, target_secret_length) - 20, "connection record");
static_assert(offsetof(negotiated_session_record, default_time2retain) ==
                  offsetof(login_option_block, default_time2retain), "session record is the block's head");

static_assert(offsetof(login_option_block, error_recovery_level) == 1, "login option block");
static_assert(offsetof(login_option_block, first_burst_length) == 4, "login option block");
static_assert(offsetof(login_option_block, max_burst_length) == 8, "login option block");
static_assert(offsetof(login_option_block, max_connections) == 12, "login option block");
static_assert(offsetof(login_option_block, max_outstanding_r2t) == 14, "login option block");
static_assert(offsetof(login_option_block, default_time2wait) == 16, "login option block");
static_assert(offsetof(login_option_block, default_time2retain) == 18, "login option block");
static_assert(offsetof(login_option_block, header_digest) == 21, "login option block");
static_assert(offsetof(login_option_block, data_digest) == 22, "login option block");
static_assert(offsetof(login_option_block, max_recv_data_segment_length) == 24, "login option block");
static_assert(offsetof(login_option_block, further_segment_length) == 28, "login option block");
static_assert(offsetof(login_option_block, tcp_mss) == 32, "login option block");
static_assert(offsetof(login_option_block, tcp_window_size) == 36, "login option block");
static_assert(offsetof(login_option_block, authentication) == 40, "login option block");
static_assert(offsetof(login_option_block, mutual_chap) == 44, "login option block");
static_assert(offsetof(login_option_block, initiator_chap_name) == 48, "login option block");
static_assert(offsetof(login_option_block, initiator_secret) == 304, "login option block");
static_assert(offsetof(login_option_block, target_chap_name) == 320, "login option block");
static_assert(offsetof(login_option_block, target_secret) == 576, "login option block");
static_assert(offsetof(login_option_block, initiator_chap_name_length) == 592, "login option block");
static_assert(offsetof(login_option_block, initiator_secret_length) == 594, "login option block");
static_assert(offsetof(login_option_block, target_chap_name_length) == 596, "login option block");

static_assert(sizeof(target_params) == 1420, "target_params");
static_assert(offsetof(target_params, tag) == 224, "target_params");
static_assert(offsetof(target_params, address_kind) == 227, "target_params");
static_assert(offsetof(target_params, address) == 228, "target_params");
static_assert(offsetof(target_params, port) == 248, "target_params");
static_assert(offsetof(target_params, login_flags) == 508, "target_params");
static_assert(offsetof(target_params, eto) == 520, "target_params");
static_assert(offsetof(target_params, isid_qualifier) == 524, "target_params");
static_assert(offsetof(target_params, options) == 528, "target_params");
static_assert(offsetof(target_params, initiator_name) == 1128, "target_params");
static_assert(offsetof(target_params, initiator_alias) == 1352, "target_params");
static_assert(offsetof(target_params, reserved_ffff0) == 1398, "target_params");
static_assert(offsetof(target_params, reserved_ffff1) == 1400, "target_params");

static_assert(sizeof(delete_persistent_record) == 480, "delete record");
static_assert(offsetof(delete_persistent_record, tag) == 224, "delete record");
static_assert(offsetof(delete_persistent_record, address_kind) == 227, "delete record");
static_assert(offsetof(delete_persistent_record, address) == 228, "delete record");
static_assert(offsetof(delete_persistent_record, port) == 248, "delete record");
static_assert(offsetof(delete_persistent_record, isid) == 252, "delete record");
static_assert(offsetof(delete_persistent_record, initiator_name) == 256, "delete record");

static_assert(sizeof(logout_payload) == 4, "logout payload");

static_assert(sizeof(login_answer) == 1420, "login answer");
static_assert(offsetof(login_answer, status_flags) == 5, "login answer");
static_assert(offsetof(login_answer, connection_handle) == 8, "login answer");
static_assert(offsetof(login_answer, session) == 16, "login answer");
static_assert(offsetof(login_answer, connection) == 36, "login answer");

// A session of the tree uses the qualifier given.
#define ORSA_STATUS_ISID_IN_USE 71

#define ORSA_TARGET_RECORD_TAG 24
#define ORSA_ADDRESS_IPV4 1
#define ORSA_ADDRESS_IPV6 16
#define ORSA_ETO_NOT_GIVEN 0xFFFFFFFFu
#define ORSA_DELETE_ISID_FLAG 0x80000000u

// Login flags: each builder ORs its bits into what the record holds.
#define ORSA_LOGIN_FLAG_LOGIN 0x41u       // every login of a target portal
#define ORSA_LOGIN_FLAG_PERSISTENT 0x40u  // the persistent-target record (bit 0 then cleared)
#define ORSA_LOGIN_FLAG_BOOT 0x140u       // ... of a boot target
#define ORSA_LOGIN_FLAG_DISCOVERY 0x11u   // a send-targets discovery login

// Fills the persistent-target fields of record (the login options block is
// the caller's): the names and alias, the qualifier, the flags, the ETO (0
// means not given), the reserved words, the tag, the address and the port.
// 0; 1 for a missing argument, node or failed read, for an address text that
// cannot be read, or with last status 71 when a session of the tree uses the
// qualifier.
uint32_t ORSA_update_target_params(target_params *record, HmNode *lhba, HmNode *target, uint16_t qualifier,
                                   const char *ip, const char *port, const char *boot, const char *initiator,
                                   uint32_t eto);

// The address of a target portal in the records' form: a text shorter than
// 16 characters is IPv4 (kind 1, its dotted parts read as decimal octets in
// bytes 0-3), a longer one IPv6 (kind 16, the 16 bytes of its full form).
// 0, or 1 when the text is missing or is no IPv6 text.
uint32_t orsa_target_address(const char *ip, uint8_t *kind, uint8_t address[16]);

// Fills the delete-persistent record (zeroed first). 0, or 1 for a missing
// argument or an unreadable address.
uint32_t orsa_fill_delete_record(delete_persistent_record *record, const char *target_name, const char *ip,
                                 const char *port, uint16_t qualifier, const char *initiator);

// Fills block from a login-options group: mode 0 or 2 everything, 3 the
// Authentication values only, 1 nothing (0); above 3: 1. 1 when the group
// has no Authentication child; a failed read answers its status at once.
uint32_t get_login_options(HmNode *options, login_option_block *block, uint32_t mode);
// The same, but the Authentication values only when chap is 1, and each
// digest byte from its property only when its flag is 1 (else 0).
uint32_t conditional_get_login_options(HmNode *options, login_option_block *block, uint32_t mode, uint32_t header,
                                       uint32_t data, uint32_t chap);
// The Authentication values when chap is 1; InitialR2T and ImmediateData
// always.
uint32_t update_chap_details(HmNode *options, login_option_block *block, uint32_t chap);

// Turns length hexadecimal digits into length / 2 bytes of out (each pair
// read as a base-16 number; an odd last digit is dropped). -1 without text
// or out, else 0.
int32_t convert_hex_to_bin(const char *text, uint32_t length, uint8_t *out);

// The negotiated values into SessionNegotiatedLoginOptions and
// ConnectionNegotiatedLoginOptions; the OR of the property writes.
uint32_t set_session_login_options(HmNode *group, const negotiated_session_record *record);
uint32_t set_connection_login_options(HmNode *group, const negotiated_connection_record *record);

// 1 when a Session group anywhere in the tree has an ISIDQualifier (hex
// text) equal to the low 16 bits of qualifier, or has none; else 0.
uint32_t check_for_isid_existence(uint32_t qualifier);
// The lowest qualifier 0..65534 no session uses; 65535 when all are taken.
uint32_t generate_isid_qualifier(void);

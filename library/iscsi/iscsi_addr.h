// The address and name texts of the iSCSI subsystem: IPv4 dotted texts with
// their check kinds, IPv6 texts in the 39-character full form, and iSCSI
// names. Pure text work: nothing here touches the tree or the adapter, and
// only validateISCSIName sets a last status.
//
// Usage
//   char text[ORSA_IPV6_TEXT_SIZE];                 // at least 40 bytes
//   orsa_strlcpy(text, "fe80::1", sizeof text);
//   if (validateIPv6Address(text) == 0)            // text is now the full form
//       StrToU8IPv6(text, bytes);                  // 16 bytes, most significant first
//   u8 octets[4];
//   if (validateIPAddress("10.1.2.3", octets, ORSA_IPV4_HOST) == 1) ...
//   char name[ORSA_ISCSI_NAME_SIZE];
//   if (validateISCSIName("iqn.2001-04.com.Example:a", name) == 0) ...  // lower-cased copy
#pragma once

#include "tree/hm_types.h"

// The full form: eight groups of four upper-case hexadecimal digits joined
// by ':' (39 characters) and its terminating NUL.
#define ORSA_IPV6_FULL_LENGTH 39
#define ORSA_IPV6_TEXT_SIZE 40
#define ORSA_IPV6_ZERO_TEXT "0000:0000:0000:0000:0000:0000:0000:0000"

// A dotted IPv4 text holds at most 15 characters.
#define ORSA_IPV4_TEXT_MAX 15

// An iSCSI name holds 1 to 223 characters; its buffer 224 bytes.
#define ORSA_ISCSI_NAME_MAX 223
#define ORSA_ISCSI_NAME_SIZE 224

// Status of an iSCSI name that fails the check.
#define ORSA_STATUS_INVALID_ISCSI_NAME 30

// Check kinds of validateIPAddress.
enum {
    ORSA_IPV4_NOT_ZERO = 0,  // any address but 0.0.0.0
    ORSA_IPV4_HOST = 1,      // a host address: not 0.0.0.0, not 127.x or 255.x
    ORSA_IPV4_KIND2 = 2,     // also not .0 or .255 last, not 0.0.x.x
    ORSA_IPV4_KIND3 = 3,     // also no multicast or reserved first octet (224-247)
    ORSA_IPV4_ANY = 4,       // any well-formed text
    ORSA_IPV4_MASK = 5,      // a subnet mask: contiguous ones, not 0.0.0.0
};

// 1 when text is a dotted IPv4 address (four decimal octets, at most 15
// characters) that passes the check kind, else 0 (also for an unknown kind).
// The octets parsed go to octets[0..3] as far as they were read (only those
// four bytes are written: callers pass 4- or 16-byte buffers). Sets no status.
u32 validateIPAddress(const char *text, u8 *octets, u32 kind);

// 0 when text names an iSCSI name of 1 to 223 characters made of letters,
// digits, '-', '.' and ':'; out (224 bytes) then holds it with its upper-case
// letters lower-cased. Else 1 with last status 30.
u32 validateISCSIName(const char *text, char *out);

// 0 when text is an IPv6 address: eight groups of 1 to 4 hexadecimal digits,
// or fewer with one "::" (not at the start) standing for the groups left out.
// A valid text is rewritten in place into the full form, so the buffer must
// hold at least ORSA_IPV6_TEXT_SIZE bytes. Lower-case letters of the text are
// upper-cased in place either way. 6 (ORSA_STATUS_INVALID_VALUE) otherwise.
u32 validateIPv6Address(char *text);

// Packs the hexadecimal digits of a full-form text into 16 bytes, high nibble
// first (other characters are passed over, at most 32 digits are taken, bytes
// no digit reached are 0). An empty text is first replaced in place by "0::"
// (the buffer must hold 4 bytes). 0, or 1 for a null argument.
u32 StrToU8IPv6(char *text, u8 out[16]);

// The compressed text of a 16-byte address (out: 40 bytes). The first zero
// group after group 0 opens the one compressed run; a later zero group prints
// "0"; the all-zero address gives the empty text; ::1 prints "0::1". When the
// only zero group is the last one it prints as a run of its own:
// 1:2:3:4:5:6:7:0 gives "1:2:3:4:5:6:7::".
void U8IPv6ToStr(const u8 address[16], char out[ORSA_IPV6_TEXT_SIZE]);

// The text of an address of an address kind (out: 40 bytes): kind 0 gives
// "0.0.0.0", a kind with any of bits 0-2 set the dotted text of the first
// four bytes, any other kind the IPv6 full form (the empty text for the
// all-zero address).
void ipaddr_to_string(const u8 *address, char *out, u32 kind);

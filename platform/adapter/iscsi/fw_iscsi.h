// The iSCSI firmware's initiator: sessions and connections, logins and
// logouts, persistent targets, the firmware's target list, session
// configuration (extended timeout), boot flag, SCSI pass-through, the
// discovery parameter block and the named flash objects of the iSCSI boot
// regions. The logins are real: the firmware's engine is libiscsi, and the
// targets a test logs in to are real ones (testroot/iscsi_target.h: tgtd in
// the test root's network namespace).
//
// Usage
//   adapter::registerIscsiNetHandlers(fw);   // the port's network first
//   adapter::registerIscsiHandlers(fw);      // then this
//   adapter::iscsiSessions(fw, 2);           // what function 2 holds
//   adapter::queueLoginOutcome(fw, 2, {1, 44});   // next 23/6 refused, then real
//   adapter::setSessionState(fw, handle, adapter::kSessInRecovery);
//
// All of it is per PCI function of an iSCSI personality; a command names its
// function through the carrier (Cmd::fn). What the flash keeps (persistent
// entries, the discovery parameter blocks, the boot flags of persistent
// entries, the named objects under /iscsidata/) travels in the flash file
// (section 43) and survives a library restart (the same engine) and an
// emulated reboot (EmulatedHost::rebootAdapter, or an engine booting from the
// file): at a reboot every session ends and the persistent entries are logged
// in again, for real.
//
// Real (libiscsi against the target): the TCP connection; login and logout
// with the record's target name, portal, initiator name and ISID qualifier;
// one-way and mutual CHAP (the record's names and secrets, a secret used as
// text up to its length or its first NUL); the header digest; the CDBs and
// their data; a wrong secret or an unknown target refused by the target.
//
// Made by this firmware, and stated as such: session handles (0x5E000001 up,
// never reused while the engine lives), connection handles (0xC0000001 up),
// the TSIH (the session handle's low 16 bits: libiscsi does not show the
// target's), the ISID (0x80 0x1C 0x4E 0x00 then the qualifier, big-endian),
// the values shown as negotiated (the record's offer, with the header digest,
// data digest and CHAP as actually used), the source address (the port's
// configured IPv4 address; the kernel picks the real one) and the source TCP
// port (the real one of the socket), connection flags and the CID (0).
//
// Decisions
//   - A login while the port has no IPv4 address answers 46/0, before any
//     connection.
//   - A dropped session (the target ended it) is noticed by a probe of its
//     socket at the session query (14/6) and at the active-session list
//     (29/6): its state becomes Closed (0x20), its connection's flags lose
//     bit 0. It stays listed until a logout; a stored persistent entry for
//     it is logged in again at the next 29/6 (the same handle, a new
//     connection).
//   - Login (23/6) for a key (target name ignoring case, address, port, ISID
//     qualifier) that has an Open session answers 1/17 and changes nothing;
//     a Closed session of that key is replaced by the new login (its handle
//     ends). A Logged-in key on another qualifier is another session.
//   - At most 64 sessions per function: the 65th login answers 20/0.
//   - Persistent entries (27/6) are kept by the same key; adding an entry of
//     a known key replaces it. 28/6 deletes by key (the qualifier word's bit
//     31 set, as sent) and answers 1/46 when none matches. A session's flag
//     bit 0 (not persistent) is set when no stored entry matches it.
//   - A stored entry without a session is logged in at the next 29/6 and
//     at a reboot; one whose attempt failed is tried again only after it is
//     added again or the adapter reboots (a refused login costs a connection
//     each time). Not tried at all (the port has no IPv4 address, or holds
//     64 sessions): tried at the next list.
//   - Outcomes as raw status pairs: authentication refused by the target,
//     or the target's CHAP response refused, 1/44; target not found at that
//     portal 1/46; connection refused 1/21; no answer within the login
//     timeout (5 s) 1/19; another login failure 1/43; data digest offered
//     while the firmware answers it as refused (the default: libiscsi has
//     no data digest) 1/100. A logout of an unknown handle 1/18.
//   - The login answer: the 1420-byte buffer, 0 session handle, byte 4 bit 0
//     set and byte 5 bit 0 clear for an open session (every other byte of 4
//     and 5 zero), 8 connection handle, 16 the negotiated session record (20
//     bytes), 36 the negotiated connection record (the block's bytes 20-599,
//     with the digests and CHAP as used), the rest of the request as sent.
//   - The target list (30/6): kind flag 0 lists the targets of the stored
//     persistent entries and of the open sessions (one entry per target
//     name, in order of first appearance); kind flag 1 lists the targets
//     the firmware discovered (addDiscoveredTarget; none by default). The
//     target ids are the firmware's, kept per name while the engine lives.
//     Reply: u32 count, 8-byte entries (u32 id, u32 0). 32/6 answers the
//     record of an id: name, alias "", one portal group (tag 1) holding one
//     portal per distinct (address, port) of the target's entries and
//     sessions. Size queries (816-byte 32/6, 12-byte 30/6 and 29/6) answer
//     the full length in actual_response_length (status 4 when larger than
//     the buffer).
//   - Session configuration (16/6, 276 bytes): 0 handle, 4 ETO, 8 u8 1,
//     12 u32 0, 256 u32 the firmware's target id, 268 u16 the session's
//     index among the sessions of its target; 17/6 (280) takes the ETO at 8
//     (its word 4 must be 1). The ETO of a new session: the record's (520),
//     0xFFFFFFFF giving the default ETO of the controller attributes
//     (1/32 u32 at 92; 30 unless setDefaultEto).
//   - Boot flag (53/6, 528): u32 handle, u32 flags; bit 8 (boot) and bit 10
//     are taken, the rest of the word is the firmware's. A persistent entry
//     matching the session keeps the boot flag over a reboot.
//   - Discovery parameter block (28/2 get, 29/2 set, 888 bytes) per function,
//     kept as set (zeros until then).
//   - Named objects (1/171 read, 1/172 write) under "/iscsidata/": regions 2
//     and 3 of each port exist from the factory on ("/iscsidata/Port%x/
//     Instance0/Region%d"): a 16-byte header (words: region number, TLV-area
//     length 4, 1, 0) and a TLV area holding one pad TLV (0xFF, length 1, one
//     zero byte). A read answers the whole object from the requested offset
//     (at most the 32868 bytes the payload holds): 0 the length read, 4 bit
//     31 end of object, 8 the data; a read of an unknown name 3/49. A write
//     (whole object, offset 0, end bit set) replaces it: 0 the length
//     written, 4 change status 1 when the bytes changed. Other names go to
//     the handlers registered before.
//   - SCSI pass-through (59/6): 0 session handle, 4 LUN (8 bytes, SCSI
//     form), 12 direction (1 in, 2 out), 15 status on return (the SCSI
//     status: 2 = check condition), 16 CDB (16), 34 u16 data length, 292
//     the data. Sent to the target for real over the session; an unknown
//     handle or a session not Open answers 1/18; a transport failure 1/19.
//
// Knobs (not kept in flash; per engine)
//   - queueLoginOutcome(fn, {status, additional}): the next 23/6 of the
//     function answers that pair without logging in; {0, 0} in the queue
//     means "log in for real". Per-attempt sequences: queue several.
//   - setDataDigestMode(fn, mode): kDataDigestRefused (1/100, default) or
//     kDataDigestShown (the offer is shown as negotiated; the wire carries
//     none).
//   - setSessionState(handle, bits): the state bits 14/6 answers (e.g.
//     kSessInRecovery 0x40, kSessLoginInProgress 0x2, kSessDeleted 0x2000);
//     0 gives the session's own state back.
//   - setRedirect(handle, kind, address, port): the connection shows as
//     redirected (flag bit 2, the redirected address and port).
//   - setDefaultEto(seconds): 1/32's u32 at 92.
//   - addDiscoveredTarget(fn, name, kind, address, port): listed by 30/6
//     kind 1.
//   - setMalformedReply(kind, on): replies that break their own bounds
//     (IscsiMalformed below), for the library's hardening tests.
//   - setLoginTimeout(seconds): libiscsi's timeout of the real login.
//   - addScriptedSession(fn, record, luns): a session without a target
//     behind it, with scripted LUNs (below).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace adapter {

class Engine;

void registerIscsiHandlers(Engine& fw);

// Raw status pairs this firmware answers (status, additional).
struct IscsiStatus {
  uint8_t status = 0;
  uint8_t additional = 0;
};
constexpr IscsiStatus kIscsiOk{0, 0};
constexpr IscsiStatus kIscsiAuthFailed{1, 44};
constexpr IscsiStatus kIscsiTargetNotFound{1, 46};
constexpr IscsiStatus kIscsiConnRefused{1, 21};
constexpr IscsiStatus kIscsiUnreachable{1, 19};
constexpr IscsiStatus kIscsiLoginFailed{1, 43};
constexpr IscsiStatus kIscsiSessionExists{1, 17};
constexpr IscsiStatus kIscsiNoSession{1, 18};
constexpr IscsiStatus kIscsiDataDigest{1, 100};
constexpr IscsiStatus kIscsiNoAddress{46, 0};
constexpr IscsiStatus kIscsiTooManySessions{20, 0};

// Session state bits (14/6 word 4).
constexpr uint32_t kSessOpen = 0x1, kSessLoginInProgress = 0x2, kSessClosed = 0x20, kSessInRecovery = 0x40,
                   kSessLoginFailed = 0x100, kSessDeleted = 0x2000;
// Session flags (14/6 word 16).
constexpr uint32_t kSessFlagNotPersistent = 0x1, kSessFlagBoot = 0x100, kSessFlagBoot2 = 0x400;
constexpr unsigned kMaxSessionsPerFunction = 64;

// A target portal as the records carry it.
struct IscsiPortal {
  uint8_t kind = 1;                   // 1 IPv4, 16 IPv6
  std::array<uint8_t, 16> address{};  // IPv4 in bytes 0-3
  uint16_t port = 3260;
  bool operator==(const IscsiPortal&) const = default;
};

// What a test sees of a session.
struct IscsiSessionView {
  uint32_t handle = 0, conn_handle = 0;
  std::string target_name, initiator_name;
  IscsiPortal portal;
  uint16_t isid_qualifier = 0;
  uint32_t state = 0, flags = 0, eto = 0;
  bool header_digest = false, data_digest = false, chap = false, mutual_chap = false;
  uint16_t source_port = 0;
};

// Sessions of a function, by handle.
std::vector<IscsiSessionView> iscsiSessions(Engine& fw, unsigned fn);
// Persistent entries of a function: the stored 1420-byte records.
std::vector<std::vector<uint8_t>> iscsiPersistentEntries(Engine& fw, unsigned fn);
// Ends every session (as an adapter reset does) and logs in the persistent
// entries again; EmulatedHost::rebootAdapter calls it.
void iscsiReboot(Engine& fw);
// Ends the sessions and forgets the engine's initiator state: the owner of
// an engine calls it before the engine goes (EmulatedHost's destructor does).
void iscsiRelease(Engine& fw);

// Knobs.
void queueLoginOutcome(Engine& fw, unsigned fn, IscsiStatus st);
enum class DataDigestMode : uint8_t { Refused, Shown };
void setDataDigestMode(Engine& fw, unsigned fn, DataDigestMode mode);
void setSessionState(Engine& fw, uint32_t handle, uint32_t state_bits);
void setRedirect(Engine& fw, uint32_t handle, uint8_t kind, const std::array<uint8_t, 16>& address, uint16_t port);
void setDefaultEto(Engine& fw, uint32_t seconds);
void addDiscoveredTarget(Engine& fw, unsigned fn, const std::string& name, const IscsiPortal& portal);
void setLoginTimeout(Engine& fw, int seconds);

// A session the firmware holds without a connection (scripted: no target
// behind it): Open, listed and answered like any other; its SCSI commands
// are answered here from `luns` (REPORT LUNS, standard INQUIRY, the
// serial-number page, READ CAPACITY(10)/(16), TEST UNIT READY, READ(10)
// zeros, WRITE(10) taken and dropped; anything else, or an unknown LUN, a
// check condition). For the cases a real target cannot produce: 64 sessions,
// 300 LUNs, a capacity beyond 32 bits. Returns the session handle, 0 when the
// function already holds 64 sessions.
struct ScriptedLun {
  uint16_t lun = 0;
  uint64_t blocks = 2048;
  uint32_t block_size = 512;
  std::string vendor = "KLDSTN";
  std::string product = "EMULATED-DISK";
  std::string serial = "EMU00000";
};
uint32_t addScriptedSession(Engine& fw, unsigned fn, const std::vector<uint8_t>& record,
                            const std::vector<ScriptedLun>& luns);
// A plain login record (no CHAP, no digests, ETO not given) for scripted
// sessions: target name, portal, ISID qualifier and initiator name in
// place, the rest as the library's defaults lay it.
std::vector<uint8_t> iscsiLoginRecord(const std::string& target, const IscsiPortal& portal, uint16_t qualifier,
                                      const std::string& initiator);

// Replies that overrun their own bounds.
enum class IscsiMalformed : uint8_t {
  SessionConnectionCount,  // 14/6: connection count 0xFFFF
  ActiveSessionCount,      // 29/6: a count beyond the handles that fit
  TargetIdCount,           // 30/6: a count beyond the entries that fit
  TargetPortalGroups,      // 32/6: portal group count 0xFFFFFFFF
  TargetPortalCount,       // 32/6: portal count 0xFFFF in group 0
  ReportLunsLength,        // REPORT LUNS: a list length beyond the data
  SerialNumberLength,      // INQUIRY page 0x80: page length 255, short data
  RegionLength,            // 1/171 of a region: header TLV-area length beyond the object
  ObjectReadLength,        // 1/171: an actual length beyond the payload
};
void setMalformedReply(Engine& fw, IscsiMalformed kind, bool on);

// The flash file section of the store (section 43): little-endian; u16
// function count; each u16 PCI function, u16 entry count, each u16 n + the
// entry's record bytes and u32 boot flags; u16 n + the discovery parameter
// block; then u16 object count, each u16 n + name, u32 n + bytes.
struct IscsiStore {
  struct Entry {
    std::vector<uint8_t> record;  // the 1420-byte target_params as sent
    uint32_t boot_flags = 0;      // flag bits 8 and 10 given by 53/6
  };
  struct Function {
    std::vector<Entry> entries;
    std::vector<uint8_t> discovery;  // 888 bytes, empty until set
  };
  std::map<unsigned, Function> fns;
  std::map<std::string, std::vector<uint8_t>> objects;  // names under /iscsidata/
};
std::vector<uint8_t> encodeIscsiStore(const IscsiStore& s);
bool decodeIscsiStore(const uint8_t* p, size_t n, IscsiStore* s);

}  // namespace adapter

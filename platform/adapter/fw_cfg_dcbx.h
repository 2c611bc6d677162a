// DCBX of the adapter's physical ports: the configuration the administrator
// writes, the views the port negotiated and received, the DCBX MIB, the DCBX
// mode, and the link descriptors of the operating parameters.
//
// Usage
//   adapter::DcbxPort& d = adapter::dcbxPort(fw, 0);   // port 0 (defaults on first use)
//   d.peer.pfc_flags = adapter::kDcbxEnabled | adapter::kDcbxWilling;
//   d.oper.pg_flags |= adapter::kDcbxOperNotAvailable;
//   d.links = {{.link = 0, .type = 0, .mode = 2}};     // OperationalMode "N/A"
//   d.mib.tx_packets = 17;
//   adapter::dcbxState(fw).v1 = false;                  // firmware without the 368-byte form
//   fw.setFault(16, 1, {.status = 1});                  // any command's status (fw_engine.h)
//
// Commands (payload offsets; the port is the header's port number, status 3
// for a port the adapter lacks):
//   16/1     configuration read. Request byte 0 the view: 0 administrator,
//            1 operational, 2 peer (another value: status 3). Version 0:
//            312 bytes; version 1 (header version 1): 368 bytes, which a
//            firmware without it (KS2, or v1 = false) answers with status 2,
//            additional status 30. Reply: byte 0 state (1 enabled), byte 2
//            application entries in use, byte 3 priority groups supported,
//            u32 PG flags at 4, PFC at 8, QCN at 12 (version 1; 0 in
//            version 0), application at 16, bandwidth of PG 0-7 at 24,
//            priority k's PG id at 32 + 4k, PFC enable of priority k at 64 +
//            k, 15 application entries of 16 bytes at 72 (u16 protocol, u8
//            selector, u8 in use, u32 OUI, membership of priority k at +8 +
//            k), version 1: CNPV bitmap at 312, ready bitmap at 316.
//   16/2     configuration write (administrator view only), the same forms:
//            byte 0 bit 0 the state, byte 1 the entries in use, then the
//            fields above from offset 4; version 0 leaves the QCN flags and
//            the CNPV bitmap as they are. Status 3 for an entry count above
//            15 or a PG id other than 0-7 and 15. Kept per port (not in flash).
//   16/3     DCBX MIB: 108 bytes, on Pivard 60 (a shorter request: status 3).
//   16/4     mode read: byte 0 the mode code (0 CEE, 1 CIN, 2 Auto-CEE,
//            3 Auto-IEEE).
//   16/5     mode write: byte 1 the mode code (above 3: status 3).
//   1/108    operating parameters: request byte 0 = 1, byte 4 bits 0-5 the
//            port. Reply: u16 descriptor count at 0, descriptors from 16 with
//            u8 type at +0, u16 length at +2 (the step to the next), u8 at +4
//            (bits 0-5 link number, 6-7 link type), u8 at +5 (bits 0-2 mode).
//            The reply is cut where the buffer ends.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "fw_engine.h"

namespace adapter {

// State flag bits (PG, PFC, QCN and application flags).
constexpr uint32_t kDcbxEnabled = 1u << 0;
constexpr uint32_t kDcbxAdvertise = 1u << 1;
constexpr uint32_t kDcbxWilling = 1u << 2;
constexpr uint32_t kDcbxSynced = 1u << 3;
constexpr uint32_t kDcbxOperNotAvailable = 1u << 30;
constexpr uint32_t kDcbxError = 1u << 31;

struct DcbxAppEntry {
  uint16_t protocol = 0;
  uint8_t selector = 0;      // 0 Ethernet type, 1 TCP port
  uint8_t in_use = 0;
  uint32_t oui = 0;
  std::array<uint8_t, 8> members{};   // 1: priority k is a member
};

// One view of a port's configuration, as the 16/1 reply shows it.
struct DcbxView {
  uint8_t state = 1;         // byte 0
  uint8_t app_count = 0;     // entries in use (reply byte 2)
  uint8_t num_pg = 8;        // reply byte 3
  uint32_t pg_flags = kDcbxEnabled | kDcbxAdvertise | kDcbxWilling;
  uint32_t pfc_flags = kDcbxAdvertise | kDcbxWilling;
  uint32_t qcn_flags = kDcbxAdvertise | kDcbxWilling;
  uint32_t app_flags = kDcbxEnabled | kDcbxAdvertise | kDcbxWilling;
  std::array<uint8_t, 8> bandwidth{100, 0, 0, 0, 0, 0, 0, 0};
  std::array<uint8_t, 8> pg_id{};      // PG of priority k (0-7 or 15)
  std::array<uint8_t, 8> pfc{};        // 1: PFC on priority k
  std::array<DcbxAppEntry, 15> apps{};
  uint8_t cnpv = 0, ready = 0;         // version 1 only
};

// The DCBX MIB of a port (16/3).
struct DcbxMib {
  uint8_t operating_version = 0, max_version = 0;
  uint32_t sequence = 0, ack = 0, peer_sequence = 0, peer_ack = 0;
  uint32_t app_sequence = 0, pg_sequence = 0, pfc_sequence = 0;
  uint32_t tx_packets = 0, rx_packets = 0, dropped = 0;
};

// One link descriptor of the operating parameters (1/108).
struct OpgLink {
  uint8_t type = 1;
  uint8_t link = 0;     // 0-63
  uint8_t link_type = 0;  // 0-3
  uint8_t mode = 1;     // 0-7; 0 and 2 make the PG operational mode unknown
  uint16_t length = 24; // the step to the next descriptor
};

struct DcbxPort {
  DcbxView admin, oper, peer;
  uint8_t mode = 3;
  DcbxMib mib;
  std::vector<OpgLink> links{OpgLink{}};
  unsigned writes = 0;  // 16/2 commands accepted
};

struct DcbxState {
  bool v1 = true;       // the firmware knows the 368-byte forms (KS2 never)
  std::vector<DcbxPort> ports;
};

// This engine's DCBX state (one DcbxPort per physical port, made with the
// defaults when the engine registers the handlers).
DcbxState& dcbxState(Engine& fw);
DcbxPort& dcbxPort(Engine& fw, unsigned port);

// Registers the commands above (the Engine constructor calls it).
void registerDcbxHandlers(Engine& fw);

}  // namespace adapter

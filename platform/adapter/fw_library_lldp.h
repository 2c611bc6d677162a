// The LLDP agent and the link-level flow control of the adapter's physical
// ports, as the management library reads and sets them.
//
// Usage
//   adapter::registerLldpHandlers(fw);        // after the library's other handlers
//   adapter::LldpPort& p = adapter::lldpPort(fw, 0);
//   p.peer = adapter::LldpIdentity{...};      // what the link partner advertised
//   p.peer_present = true;
//   adapter::lldpTick(fw, 0);                 // one LLDP interval on port 0
//   fw.port(0).tx_pause                       // flow control (also 1/36, 1/37)
//
// Commands (the port is the request header's port number; a port the
// adapter does not have answers status 3):
//   15/1  LLDP configuration, 1576 bytes. Request u32 at 0: 0 the port's own
//         configuration, 1 the peer's (any other value: status 3). Reply:
//         byte 0 bit 0 transmit, bit 1 receive; bytes 1-4 bit 0 the port
//         description, system name, system description and system
//         capabilities TLVs (the peer view answers the port's enables too);
//         chassis id text at 8 (256), u32 chassis subtype at 264, port id
//         text at 268 (256), u32 port subtype at 524, u32 TTL at 528, system
//         name at 532 (256), system description at 788 (256), port
//         description at 1300 (256), u32 capability bits at 1556. Without a
//         peer the peer view is all zeros but the enables.
//   15/2  LLDP enables, 8 bytes: bytes 0-4 as in the reply. A bit outside
//         those fields, or a non-zero byte 5-7: status 3.
//   15/3  LLDP statistics, 48 bytes: u32 transmitted at 0, received at 4,
//         dropped at 12, unrecognised TLVs at 16, organisational TLVs at 24.
//   1/205 flow control, 8 bytes (not on KS2: status 2). Byte 3 bits 0-5 the
//         port. Byte 1 = 0 reads: reply byte 0 bits 0-3 transmit pause,
//         bits 4-7 receive pause (1 enabled). Byte 1 = 0x08 or 0x0B writes
//         byte 0 (each nibble 0 or 1, else status 3); any other byte 1:
//         status 3. The last write's byte 1 is kept (lastFlowFlags).
//   1/37  flow control read from the host (ioctl): u16 transmit pause at 0,
//         u16 receive pause at 2 of the header's port; the driver's form
//         keeps the driver's answer.
#pragma once

#include <cstdint>
#include <string>

#include "fw_engine.h"

namespace adapter {

// An LLDP identity: what a port advertises or what its partner did.
struct LldpIdentity {
  std::string chassis_id, port_id, system_name, system_description, port_description;
  uint32_t chassis_subtype = 0, port_subtype = 0, ttl = 0, capabilities = 0;
};

struct LldpPort {
  uint8_t enables[5] = {0x03, 1, 1, 1, 1};
  LldpIdentity local;           // made from the port's address at registration
  LldpIdentity peer;            // a fixture: a test says what the partner sends
  bool peer_present = false;
  uint32_t peer_unknown_tlvs = 0;   // per received frame
  uint32_t peer_org_tlvs = 0;       // per received frame
  uint32_t tx = 0, rx = 0, dropped = 0, unrecognized = 0, organizational = 0;
};

// The LLDP state of a physical port (port < fw.ports()).
LldpPort& lldpPort(Engine& fw, unsigned port);
// One LLDP interval on a port: a frame goes out when transmit is enabled; the
// partner's frame (when there is a partner) is counted when receive is
// enabled, with its unknown and organisational TLVs, else dropped.
void lldpTick(Engine& fw, unsigned port, unsigned intervals = 1);
// Byte 1 of the last flow-control write (0 when none came).
uint8_t lastFlowFlags(Engine& fw);

// Registers the commands above and starts this engine's LLDP state afresh.
void registerLldpHandlers(Engine& fw);

}  // namespace adapter

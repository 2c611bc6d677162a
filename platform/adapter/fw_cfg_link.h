// Link, port speed and 10GBase-T PHY of the adapter's physical ports: what
// the firmware answers the host's link commands with, per port.
//
// Usage
//   adapter::PhyPort& phy = adapter::phyPort(fw, 0);   // PHY of port 0 (made on first use
//   phy.an_mask = 0x0C;                                 //  from EngineConfig phy_* / speed_caps*)
//   phy.enabled = false;                                // port state (71/62)
//   phy.counters[1] = 45;                               // 18/8 reply word 1 (temperature)
//   fw.profiles().port_links[0].speed_code;             // what 57 set (kept in flash)
//
// Commands (the host's requests come by ioctl; the driver's forms keep the
// driver's answers):
//   1/57 v1  set port speed: byte 0 port, byte 1 the same port, u16 at 2 the
//            speed code (0-23), u16 at 4 the DAC cable length. Kept in flash.
//            A code above 23 or a second port byte that differs: status 3.
//   1/134    port speed: request byte 0 bits 0-5 the port; reply u16 at 0
//            the speed code, u16 at 2 the DAC cable length. The driver's form
//            (20 bytes, mailbox or MCC) keeps the driver's reply.
//   1/102    PHY details of the function's port: u16 at 0 PHY type, u16 at 2
//            interface type, u16 at 8 0xFEEC when the masks are valid, u16 at
//            12 the auto-negotiation speeds, u16 at 14 the forced speeds.
//   1/5      link status (host's form): the link parameters, plus byte 1 the
//            link (1 up), u16 at 6 the link speed in 10 Mb/s, byte 8 the
//            logical link state.
//   18/8     10GBase-T statistics: request u32 at 0 the port. Version 0: 84
//            bytes, words 0-19; version 1 (Veskarn only): 112 bytes, word 21
//            too, u32 at 4 bit 0 clears the counters after the reply.
//   18/12    NVP value: request u32 at 0 the port, reply u32 at 0 the value.
//   18/10    NVP value set: u32 at 0 the port, u32 at 4 the value (1-100).
//            Kept in flash.
//   1/71     port state of the function's port: u32 at 0, 1 enabled. The
//            Pivard form (version 1) names the port in bits 0-5 of byte 2
//            and answers bit 0 of byte 0 (and the port in byte 2).
//   1/62     port state set, the same forms (u32 1 or 0; Pivard bit 0).
//   1/133    transmit throttle of the function's port: u32 at 0, 1 or 2.
//   1/132    transmit throttle set (1 or 2).
// Every command records the port it acted on (Cmd::on_port), so that
// Engine::reached() tells which function and port a host's command reached.
// KS2 answers 57 and 134 with status 2, additional status 30 ("the firmware
// lacks the command"). The 18/x commands run on KS3 and Veskarn ports with a
// 10GBase-T PHY; elsewhere they answer status 66 (not supported).
#pragma once

#include <cstdint>

#include "fw_engine.h"
#include "fw_profile.h"

namespace adapter {

// The PHY of a physical port (made from the EngineConfig on first use).
PhyPort& phyPort(Engine& fw, unsigned port);

// Registers the commands above (the Engine constructor calls it after the
// profile store's; after a boot from flash the kept port speeds apply).
void registerLinkHandlers(Engine& fw);

}  // namespace adapter

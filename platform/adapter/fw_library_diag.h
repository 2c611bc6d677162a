// The diagnostic commands of the management library as the adapter's
// firmware answers them, with the state they keep: loopback mode and beacon
// per physical port, the DMA test echoing its data, the network loopback
// test, the 10GBase-T self test and cable (TDR) test with results a test
// sets, and entries for the event log (2/63, fw_library.h).
//
// Usage
//   adapter::registerLibraryHandlers(fw);              // registers these too
//   adapter::loopbackMode(fw, 0);                      // 255: none
//   adapter::setDmaMiscompares(fw, {1, 3});            // echo of DMA commands 1 and 3 corrupted
//   adapter::setTdrAnswer(fw, 0, {.pair_status = 0x1210, .lengths = {1, 7, 0, 3}});
//   adapter::addEvent(fw, {.code = 41, .severity = 0, .params = {1}});
//
// Formats (payload offsets; ports are physical port numbers):
//   11/20 loopback mode: u8 0 port; reply u8 0 mode (0-3, 255 none; 254
//         when the adapter has no loopback).
//   11/19 loopback mode set: u8 0 source, u8 1 destination, u8 2 mode, u8 3
//         state (1 enter, 0 exit with mode 255). Entering a mode the adapter
//         lacks: status 1/83; a port already in loopback: 1/84; exiting a
//         port in none: 1/85; MAC, PHY and one-port modes take one port,
//         two-port two (both are set): else status 3.
//   11/18 loopback test: u32 0 mode, u32 4 loops, u64 8 pattern, u32 16
//         source, u32 20 destination, u32 24 bytes per frame; reply u32 0
//         test status, u32 4 loops sent, u32 8 loops received, u32 16 the
//         elapsed time. The source not in that mode: 1/85; an external mode
//         without its module: 1/99.
//   11/17 DMA test (8208 bytes): u64 0 pattern, u32 8 byte count (at most
//         4096), the data from 16 come back at 4112; u32 12 the send status.
//   1/69  beacon set: u8 0 port, u8 1 state (1 on, 0 off), u8 2 beacon and
//         u8 3 status duration. Switching on a beacon that is on: 66/103.
//   1/70  beacon: u8 0 port; reply u8 0 state (1 on).
//         Both answer 66 on an adapter without beacon (setBeaconSupported).
//   18/9  self test: u32 0 port, u32 4 type (1, 2 or 5), u32 8 and 12 pairs
//         (0-3); reply u32 0 the result.
//   18/11 TDR test: u32 0 port; reply u32 0 the pair status word, u32 4-16
//         the pair lengths, u32 20 the NVP.
//         The 18/x tests run on KS3 and Veskarn ports with a 10GBase-T PHY
//         (fw_cfg_link.h), elsewhere 66.
//   1/32  controller attributes: byte 417 bit 0 set when the adapter offers
//         PHY loopback (setPhyLoopback).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fw_engine.h"

namespace adapter {

// Registered by registerLibraryHandlers (after its own rows, which these
// replace); starts the diagnostic state afresh.
void registerDiagHandlers(Engine& fw);

// Loopback.
constexpr uint8_t kNoLoopback = 255, kLoopbackUnsupported = 254;
uint8_t loopbackMode(Engine& fw, unsigned port);
void setLoopbackSupported(Engine& fw, bool supported);           // false: 11/20 answers 254
void setLoopbackModeSupported(Engine& fw, uint8_t mode, bool supported);
void setPhyLoopback(Engine& fw, bool offered);                   // 1/32 byte 417 bit 0 (default on)
void setLoopbackModuleMissing(Engine& fw, bool missing);
struct LoopbackAnswer {
  uint32_t status = 0;         // test status the adapter reports
  uint32_t lost_sent = 0;      // loops not sent
  uint32_t lost_received = 0;  // loops sent but not received
  uint32_t elapsed = 1;        // elapsed time reported
};
void setLoopbackAnswer(Engine& fw, const LoopbackAnswer& a);

// DMA test: the commands are numbered from 0 as they arrive (after this
// registration); the echo of those listed is corrupted, their send status
// or both.
void setDmaMiscompares(Engine& fw, std::vector<unsigned> commands);
void setDmaSendErrors(Engine& fw, std::vector<unsigned> commands);
unsigned dmaCommands(Engine& fw);

// Beacon.
void setBeaconSupported(Engine& fw, bool supported);
struct BeaconState {
  uint8_t state = 0;
  uint8_t beacon_duration = 0, status_duration = 0;
  unsigned sets = 0;   // set commands taken for the port
};
BeaconState beacon(Engine& fw, unsigned port);

// 10GBase-T tests.
void setSelfTestResult(Engine& fw, unsigned port, uint32_t result);
struct TdrAnswer {
  uint32_t pair_status = 0;           // pair A bits 0-3 ... pair D bits 12-15
  std::array<uint32_t, 4> lengths{};  // pairs A to D
  uint32_t nvp = 72;
};
void setTdrAnswer(Engine& fw, unsigned port, const TdrAnswer& a);

// Event log entries (64 bytes each, as 2/63 answers them).
struct EventEntry {
  uint16_t code = 0;
  uint32_t timestamp = 0;
  uint32_t sequence = 0;
  uint16_t severity = 0;
  std::array<uint32_t, 5> params{};
  std::string text;   // non-empty: written from byte 16 instead of the parameters (at most 48 bytes)
};
std::vector<uint8_t> eventBytes(const EventEntry& e);
void addEvent(Engine& fw, const EventEntry& e);

}  // namespace adapter

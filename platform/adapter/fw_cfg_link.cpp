// Link, port speed and 10GBase-T PHY commands of the host (fw_cfg_link.h).
#include "fw_cfg_link.h"

#include <algorithm>

namespace adapter {

namespace {

constexpr uint8_t kAddNotSupported = 30;  // additional status: the firmware lacks the command
constexpr uint16_t kMasksValid = 0xFEEC;
constexpr uint16_t kLastSpeedCode = 23;
constexpr uint32_t kStatsV0 = 84, kStatsV1 = 112;

bool fromHost(const Cmd& c) { return c.carrier == Carrier::Ioctl; }

// The answers these opcodes had before this file took them over (the
// driver's, or the profile store's for 5); the same functions for every engine.
struct Previous {
  Handler set_speed, get_speed, phy, link;
};
const Previous& previous(const Engine& fw) {
  static const Previous p{fw.handlerFor(1, 57), fw.handlerFor(1, 134), fw.handlerFor(1, 102), fw.handlerFor(1, 5)};
  return p;
}

void runPrevious(Handler h, Engine& fw, Cmd& c) {
  if (h != nullptr) {
    h(fw, c);
  } else {
    c.fail(kStatusNotSupported);
  }
}

// The port a request names, or none (status 3 set). The command acts on it.
bool portOf(Engine& fw, Cmd& c, uint32_t port) {
  if (port >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return false;
  }
  c.on_port = static_cast<int>(port);
  return true;
}

// The port of the function the command reached, which it acts on.
unsigned functionPort(Engine& fw, Cmd& c) {
  unsigned port = fw.portOfFunction(c.fn);
  c.on_port = static_cast<int>(port);
  return port;
}

// The 10GBase-T commands: KS3 and Veskarn ports with such a PHY.
bool baseTPort(Engine& fw, Cmd& c, uint32_t port) {
  if (fw.gen() != Gen::KS3 && fw.gen() != Gen::Veskarn) {
    c.fail(kStatusNoResources);
    return false;
  }
  if (!portOf(fw, c, port)) return false;
  if (!phyPort(fw, port).baset) {
    c.fail(kStatusNoResources);
    return false;
  }
  return true;
}

// A port speed change, whoever sent it: kept in flash and what the driver's
// port speed query answers from now on.
void keepSpeed(Engine& fw, unsigned port, uint16_t code, uint16_t dac) {
  PortLink& l = fw.profiles().port_links[port];
  l.speed_code = code;
  l.dac_length = dac;
  fw.port(port).port_speed_code = code;
  fw.flashChanged();
}

// 1/57.
void hSetSpeed(Engine& fw, Cmd& c) {
  if (!fromHost(c)) {
    runPrevious(previous(fw).set_speed, fw, c);
    if (c.status == kStatusSuccess && c.r8(0) < fw.ports())
      keepSpeed(fw, c.r8(0), fw.port(c.r8(0)).port_speed_code, fw.profiles().port_links[c.r8(0)].dac_length);
    return;
  }
  if (fw.gen() == Gen::KS2) return c.fail(kStatusNotSupported, kAddNotSupported);
  uint8_t port = c.r8(0);
  uint16_t code = c.r16(2);
  if (c.version != 1 || c.req_len < 8 || !portOf(fw, c, port)) return c.fail(kStatusIllegalField);
  if (c.r8(1) != port || code > kLastSpeedCode) return c.fail(kStatusIllegalField);
  keepSpeed(fw, port, code, c.r16(4));
  c.respond(0);
}

// 1/134.
void hGetSpeed(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runPrevious(previous(fw).get_speed, fw, c);
  if (fw.gen() == Gen::KS2) return c.fail(kStatusNotSupported, kAddNotSupported);
  uint8_t port = c.r8(0) & 0x3F;
  if (!portOf(fw, c, port)) return;
  const PortLink& l = fw.profiles().port_links[port];
  c.respond(4);
  c.w16(0, l.speed_code);
  c.w16(2, l.dac_length);
}

// 1/102.
void hPhy(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runPrevious(previous(fw).phy, fw, c);
  const PhyPort& p = phyPort(fw, functionPort(fw, c));
  c.respond(24);
  c.w16(0, p.type);
  c.w16(2, p.if_type);
  c.w16(8, p.masks_valid ? kMasksValid : 0);
  c.w16(12, p.an_mask);
  c.w16(14, p.forced_mask);
}

// 1/5: the link parameters as the profile store answers them, with the
// link status fields of the host's form.
void hLink(Engine& fw, Cmd& c) {
  runPrevious(previous(fw).link, fw, c);
  unsigned port = functionPort(fw, c);
  if (!fromHost(c) || c.status != kStatusSuccess || c.resp_len < 12) return;
  const Engine::PortState& p = fw.port(port);
  c.w8(1, p.link_up ? 1 : 0);
  c.w16(6, p.link_up ? p.qos_speed : 0);
  c.w8(8, p.link_up ? p.logical : 0);
}

// 18/8.
void hBaseTStats(Engine& fw, Cmd& c) {
  uint32_t port = c.r32(0);
  if (!baseTPort(fw, c, port)) return;
  bool v1 = c.version == 1;
  if (v1 && fw.gen() != Gen::Veskarn) return c.fail(kStatusNoResources);
  if (c.req_len < (v1 ? kStatsV1 : kStatsV0)) return c.fail(kStatusIllegalField);
  PhyPort& p = phyPort(fw, port);
  c.respond(v1 ? kStatsV1 : kStatsV0);
  for (unsigned w = 0; w < (v1 ? 22u : 20u); ++w) c.w32(4 * w, p.counters[w]);
  if (v1 && (c.r32(4) & 1) != 0) p.counters.fill(0);
}

// 18/12 and 18/10.
void hGetNvp(Engine& fw, Cmd& c) {
  uint32_t port = c.r32(0);
  if (!baseTPort(fw, c, port)) return;
  c.respond(4);
  c.w32(0, fw.profiles().port_links[port].nvp);
}

void hSetNvp(Engine& fw, Cmd& c) {
  uint32_t port = c.r32(0), value = c.r32(4);
  if (!baseTPort(fw, c, port)) return;
  if (value == 0 || value > 100) return c.fail(kStatusIllegalField);
  fw.profiles().port_links[port].nvp = value;
  fw.flashChanged();
  c.respond(0);
}

// 1/71 and 1/62: the state of the function's port; the Pivard form
// (version 1) names the port in bits 0-5 of byte 2 and the state in bit 0
// of byte 0, the other forms carry u32 1 (enabled) or 0.
bool statePort(Engine& fw, Cmd& c, unsigned* port) {
  if (fw.gen() == Gen::Pivard && c.version == 1) {
    if (!portOf(fw, c, c.r8(2) & 0x3F)) return false;
    *port = static_cast<unsigned>(c.on_port);
    return true;
  }
  *port = functionPort(fw, c);
  return true;
}

void hGetPortState(Engine& fw, Cmd& c) {
  unsigned port = 0;
  if (!statePort(fw, c, &port)) return;
  bool on = phyPort(fw, port).enabled;
  bool pivard = fw.gen() == Gen::Pivard && c.version == 1;
  c.respond(4);
  if (pivard) {
    c.w8(0, on ? 1 : 0);
    c.w8(2, static_cast<uint8_t>(port));
  } else {
    c.w32(0, on ? 1 : 0);
  }
}

void hSetPortState(Engine& fw, Cmd& c) {
  unsigned port = 0;
  if (!statePort(fw, c, &port)) return;
  bool pivard = fw.gen() == Gen::Pivard && c.version == 1;
  uint32_t v = pivard ? (c.r8(0) & 1u) : c.r32(0);
  if (v > 1) return c.fail(kStatusIllegalField);
  phyPort(fw, port).enabled = v == 1;
  c.respond(0);
}

// 1/133 and 1/132: the transmit throttle (1 or 2) of the function's port.
void hGetThrottle(Engine& fw, Cmd& c) {
  unsigned port = functionPort(fw, c);
  c.respond(4);
  c.w32(0, phyPort(fw, port).tx_throttle);
}

void hSetThrottle(Engine& fw, Cmd& c) {
  unsigned port = functionPort(fw, c);
  uint32_t v = c.r32(0);
  if (v != 1 && v != 2) return c.fail(kStatusIllegalField);
  phyPort(fw, port).tx_throttle = v;
  c.respond(0);
}

}  // namespace

PhyPort& phyPort(Engine& fw, unsigned port) {
  auto& phys = fw.profiles().phys;
  auto it = phys.find(port);
  if (it != phys.end()) return it->second;
  const EngineConfig& cfg = fw.config();
  PhyPort p;
  p.type = cfg.phy_type;
  p.if_type = cfg.phy_if_type;
  p.an_mask = cfg.speed_caps;
  p.forced_mask = cfg.speed_caps2;
  return phys[port] = p;
}

void registerLinkHandlers(Engine& fw) {
  previous(fw);
  fw.registerHandler(1, 57, hSetSpeed, 4);
  fw.registerHandler(1, 134, hGetSpeed, 1);
  fw.registerHandler(1, 102, hPhy, 0);
  fw.registerHandler(1, 5, hLink, 0);
  fw.registerHandler(18, 8, hBaseTStats, 4);
  fw.registerHandler(18, 12, hGetNvp, 4);
  fw.registerHandler(18, 10, hSetNvp, 8);
  fw.registerHandler(1, 71, hGetPortState, 4);
  fw.registerHandler(1, 62, hSetPortState, 4);
  fw.registerHandler(1, 133, hGetThrottle, 4);
  fw.registerHandler(1, 132, hSetThrottle, 4);
  if (!fw.bootedFromFlash()) return;
  for (const auto& [port, l] : fw.profiles().port_links)
    if (port < fw.ports()) fw.port(port).port_speed_code = l.speed_code;
}

}  // namespace adapter

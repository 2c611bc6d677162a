// LLDP and flow-control commands of the host (fw_library_lldp.h).
#include "fw_library_lldp.h"

#include <array>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

namespace adapter {

namespace {

constexpr uint32_t kCfgBytes = 1576, kEnableBytes = 8, kStatsBytes = 48, kFlowBytes = 8;
constexpr uint8_t kFlowRead = 0x00, kFlowWrite = 0x08, kFlowWriteNpar = 0x0B;

struct LldpState {
  std::vector<LldpPort> ports;
  uint8_t last_flow_flags = 0;
};

std::mutex states_mu;
std::map<const Engine*, LldpState>& states() {
  static std::map<const Engine*, LldpState> s;
  return s;
}
LldpState& st(Engine& fw) {
  std::lock_guard<std::mutex> g(states_mu);
  return states()[&fw];
}

// What a port advertises by default: its address as chassis and port id.
LldpIdentity localIdentity(const Engine& fw, unsigned port) {
  std::array<uint8_t, 6> mac = fw.permanentMac(port);
  char text[24];
  std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  LldpIdentity id;
  id.chassis_id = text;
  id.chassis_subtype = 4;  // MAC address
  id.port_id = text;
  id.port_subtype = 3;     // MAC address
  id.ttl = 120;
  id.system_name = fw.config().serial_number;
  id.system_description = fw.config().model_desc;
  id.port_description = "Port " + std::to_string(port);
  id.capabilities = 0x80;  // station
  return id;
}

// The port a command's header names, or none (status 3 set).
LldpPort* headerPort(Engine& fw, Cmd& c) {
  if (c.port >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return nullptr;
  }
  c.on_port = c.port;
  return &lldpPort(fw, c.port);
}

void writeIdentity(Cmd& c, const LldpIdentity& id) {
  c.wtext(8, id.chassis_id, 256);
  c.w32(264, id.chassis_subtype);
  c.wtext(268, id.port_id, 256);
  c.w32(524, id.port_subtype);
  c.w32(528, id.ttl);
  c.wtext(532, id.system_name, 256);
  c.wtext(788, id.system_description, 256);
  c.wtext(1300, id.port_description, 256);
  c.w32(1556, id.capabilities);
}

// 15/1.
void hGetCfg(Engine& fw, Cmd& c) {
  LldpPort* p = headerPort(fw, c);
  if (p == nullptr) return;
  uint32_t view = c.r32(0);
  if (view > 1 || !c.fits(kCfgBytes)) return c.fail(kStatusIllegalField);
  c.respond(kCfgBytes);
  c.wbytes(0, p->enables, sizeof p->enables);
  if (view == 0) {
    writeIdentity(c, p->local);
  } else if (p->peer_present) {
    writeIdentity(c, p->peer);
  }
}

// 15/2.
void hSetCfg(Engine& fw, Cmd& c) {
  LldpPort* p = headerPort(fw, c);
  if (p == nullptr) return;
  if ((c.r8(0) & ~0x03u) != 0) return c.fail(kStatusIllegalField);
  for (size_t i = 1; i < 5; ++i)
    if ((c.r8(i) & ~0x01u) != 0) return c.fail(kStatusIllegalField);
  for (size_t i = 5; i < kEnableBytes; ++i)
    if (c.r8(i) != 0) return c.fail(kStatusIllegalField);
  for (size_t i = 0; i < 5; ++i) p->enables[i] = c.r8(i);
  c.respond(0);
}

// 15/3.
void hGetStats(Engine& fw, Cmd& c) {
  LldpPort* p = headerPort(fw, c);
  if (p == nullptr) return;
  if (!c.fits(kStatsBytes)) return c.fail(kStatusIllegalField);
  c.respond(kStatsBytes);
  c.w32(0, p->tx);
  c.w32(4, p->rx);
  c.w32(12, p->dropped);
  c.w32(16, p->unrecognized);
  c.w32(24, p->organizational);
}

bool pauseNibble(uint8_t v) { return v <= 1; }

// 1/205.
void hFlowControl(Engine& fw, Cmd& c) {
  if (fw.gen() == Gen::KS2) return c.fail(kStatusNotSupported);
  unsigned port = c.r8(3) & 0x3F;
  if (port >= fw.ports() || !c.fits(kFlowBytes) || (c.r8(1) & 0xE0) != 0) return c.fail(kStatusIllegalField);
  c.on_port = static_cast<int>(port);
  Engine::PortState& ps = fw.port(port);
  uint8_t flags = c.r8(1);
  if (flags == kFlowRead) {
    c.respond(kFlowBytes);
    c.w8(0, static_cast<uint8_t>((ps.tx_pause == 1 ? 0x01 : 0) | (ps.rx_pause == 1 ? 0x10 : 0)));
    c.w8(3, static_cast<uint8_t>(port));
    return;
  }
  uint8_t pause = c.r8(0);
  if ((flags != kFlowWrite && flags != kFlowWriteNpar) || !pauseNibble(pause & 0x0F) || !pauseNibble(pause >> 4))
    return c.fail(kStatusIllegalField);
  ps.tx_pause = pause & 0x0F;
  ps.rx_pause = pause >> 4;
  st(fw).last_flow_flags = flags;
  c.respond(0);
}

// 1/37: the host's form names the port in the header.
Handler previousGetFlow(const Engine& fw) {
  static const Handler h = fw.handlerFor(1, 37);
  return h;
}
void hGetFlowControl(Engine& fw, Cmd& c) {
  if (c.carrier != Carrier::Ioctl) {
    Handler h = previousGetFlow(fw);
    if (h != nullptr) return h(fw, c);
    return c.fail(kStatusNotSupported);
  }
  if (c.port >= fw.ports()) return c.fail(kStatusIllegalField);
  c.on_port = c.port;
  const Engine::PortState& ps = fw.port(c.port);
  c.respond(4);
  c.w16(0, ps.tx_pause);
  c.w16(2, ps.rx_pause);
}

}  // namespace

LldpPort& lldpPort(Engine& fw, unsigned port) {
  LldpState& s = st(fw);
  if (s.ports.size() < fw.ports()) {
    size_t had = s.ports.size();
    s.ports.resize(fw.ports());
    for (size_t p = had; p < s.ports.size(); ++p) s.ports[p].local = localIdentity(fw, static_cast<unsigned>(p));
  }
  return s.ports.at(port);
}

void lldpTick(Engine& fw, unsigned port, unsigned intervals) {
  LldpPort& p = lldpPort(fw, port);
  for (unsigned i = 0; i < intervals; ++i) {
    if ((p.enables[0] & 0x01) != 0) ++p.tx;
    if (!p.peer_present) continue;
    if ((p.enables[0] & 0x02) == 0) {
      ++p.dropped;
      continue;
    }
    ++p.rx;
    p.unrecognized += p.peer_unknown_tlvs;
    p.organizational += p.peer_org_tlvs;
  }
}

uint8_t lastFlowFlags(Engine& fw) { return st(fw).last_flow_flags; }

void registerLldpHandlers(Engine& fw) {
  {
    std::lock_guard<std::mutex> g(states_mu);
    states()[&fw] = LldpState{};
  }
  previousGetFlow(fw);
  fw.registerHandler(15, 1, hGetCfg, 4);
  fw.registerHandler(15, 2, hSetCfg, kEnableBytes);
  fw.registerHandler(15, 3, hGetStats, 0);
  fw.registerHandler(1, 205, hFlowControl, kFlowBytes);
  fw.registerHandler(1, 37, hGetFlowControl, 0);
}

}  // namespace adapter

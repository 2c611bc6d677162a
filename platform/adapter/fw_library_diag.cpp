// The diagnostic commands of the management library (fw_library_diag.h).
#include "fw_library_diag.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "fw_cfg_link.h"
#include "fw_library.h"
#include "wire.h"

namespace adapter {

namespace {

constexpr uint8_t kAddModeUnsupported = 83, kAddInLoopback = 84, kAddNoLoopback = 85, kAddNoModule = 99;
constexpr uint8_t kAddBeaconActive = 103;
constexpr uint8_t kMaxLoopbackMode = 3, kTwoPort = 3, kOnePort = 2;
constexpr uint32_t kDmaPayload = 8208, kDmaData = 16, kDmaEcho = 4112, kDmaMax = 4096;
constexpr size_t kPhyLoopbackByte = 417;
constexpr size_t kEventSize = 64, kEventTextAt = 16, kEventText = 48;

struct PortDiag {
  uint8_t loopback = kNoLoopback;
  BeaconState beacon;
  uint32_t selftest = 0;
  TdrAnswer tdr;
};

struct DiagState {
  std::map<unsigned, PortDiag> ports;
  bool loopback_supported = true;
  std::set<uint8_t> modes_missing;
  bool phy_loopback = true;
  bool module_missing = false;
  LoopbackAnswer answer;
  std::set<unsigned> miscompares, send_errors;
  unsigned dma_commands = 0;
  bool beacon_supported = true;
  Handler previous_attributes = nullptr;
};

std::mutex states_mu;
std::map<const Engine*, DiagState>& states() {
  static std::map<const Engine*, DiagState> s;
  return s;
}
DiagState& st(Engine& fw) {
  std::lock_guard<std::mutex> g(states_mu);
  return states()[&fw];
}

// The state of a port the request names, or none (status 3 set).
PortDiag* portOf(Engine& fw, Cmd& c, uint32_t port) {
  if (port >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return nullptr;
  }
  return &st(fw).ports[port];
}

// 11/20.
void hGetLoopback(Engine& fw, Cmd& c) {
  PortDiag* p = portOf(fw, c, c.r8(0));
  if (p == nullptr) return;
  c.respond(4);
  c.w8(0, st(fw).loopback_supported ? p->loopback : kLoopbackUnsupported);
}

// 11/19.
void hSetLoopback(Engine& fw, Cmd& c) {
  DiagState& s = st(fw);
  uint8_t mode = c.r8(2), state = c.r8(3);
  PortDiag* src = portOf(fw, c, c.r8(0));
  PortDiag* dst = src != nullptr ? portOf(fw, c, c.r8(1)) : nullptr;
  if (dst == nullptr) return;
  if (state == 0) {
    if (mode != kNoLoopback) return c.fail(kStatusIllegalField);
    if (src->loopback == kNoLoopback) return c.fail(kStatusFailed, kAddNoLoopback);
    if (src->loopback == kTwoPort) dst->loopback = kNoLoopback;
    src->loopback = kNoLoopback;
    return c.respond(0);
  }
  if (state != 1 || mode > kMaxLoopbackMode) return c.fail(kStatusIllegalField);
  if (!s.loopback_supported || s.modes_missing.count(mode) != 0) return c.fail(kStatusFailed, kAddModeUnsupported);
  bool same = c.r8(0) == c.r8(1);
  if (same != (mode != kTwoPort)) return c.fail(kStatusIllegalField);
  if (src->loopback != kNoLoopback || dst->loopback != kNoLoopback) return c.fail(kStatusFailed, kAddInLoopback);
  src->loopback = mode;
  dst->loopback = mode;
  c.respond(0);
}

// 11/18.
void hLoopbackTest(Engine& fw, Cmd& c) {
  DiagState& s = st(fw);
  uint32_t mode = c.r32(0), loops = c.r32(4);
  PortDiag* src = portOf(fw, c, c.r32(16));
  if (src == nullptr || portOf(fw, c, c.r32(20)) == nullptr) return;
  if (mode > kMaxLoopbackMode) return c.fail(kStatusIllegalField);
  if (src->loopback != mode) return c.fail(kStatusFailed, kAddNoLoopback);
  if (s.module_missing && mode >= kOnePort) return c.fail(kStatusFailed, kAddNoModule);
  uint32_t sent = loops - std::min(loops, s.answer.lost_sent);
  uint32_t received = sent - std::min(sent, s.answer.lost_received);
  c.respond(28);
  c.w32(0, s.answer.status);
  c.w32(4, sent);
  c.w32(8, received);
  c.w32(16, s.answer.elapsed);
}

// 11/17: the data come back; a corrupted echo flips its first byte.
void hDmaTest(Engine& fw, Cmd& c) {
  DiagState& s = st(fw);
  uint32_t count = c.r32(8);
  if (count > kDmaMax) return c.fail(kStatusIllegalField);
  unsigned n = s.dma_commands++;
  c.respond(kDmaPayload);
  c.wbytes(0, c.in, kDmaData);
  c.w32(12, s.send_errors.count(n) != 0 ? 1 : 0);
  c.wbytes(kDmaData, c.in + kDmaData, kDmaMax);
  c.wbytes(kDmaEcho, c.in + kDmaData, count);
  if (count > 0 && s.miscompares.count(n) != 0) c.w8(kDmaEcho, static_cast<uint8_t>(c.in[kDmaData] ^ 0xFF));
}

// 1/69.
void hSetBeacon(Engine& fw, Cmd& c) {
  if (!st(fw).beacon_supported) return c.fail(kStatusNoResources);
  PortDiag* p = portOf(fw, c, c.r8(0));
  if (p == nullptr) return;
  uint8_t state = c.r8(1);
  if (state > 1) return c.fail(kStatusIllegalField);
  if (state == 1 && p->beacon.state == 1) return c.fail(kStatusNoResources, kAddBeaconActive);
  p->beacon.state = state;
  p->beacon.beacon_duration = c.r8(2);
  p->beacon.status_duration = c.r8(3);
  ++p->beacon.sets;
  c.respond(0);
}

// 1/70.
void hGetBeacon(Engine& fw, Cmd& c) {
  if (!st(fw).beacon_supported) return c.fail(kStatusNoResources);
  PortDiag* p = portOf(fw, c, c.r8(0));
  if (p == nullptr) return;
  c.respond(4);
  c.w8(0, p->beacon.state);
}

// The 10GBase-T port a test names, or none (status set).
PortDiag* baseTPort(Engine& fw, Cmd& c) {
  uint32_t port = c.r32(0);
  if (fw.gen() != Gen::KS3 && fw.gen() != Gen::Veskarn) {
    c.fail(kStatusNoResources);
    return nullptr;
  }
  PortDiag* p = portOf(fw, c, port);
  if (p != nullptr && !phyPort(fw, port).baset) {
    c.fail(kStatusNoResources);
    return nullptr;
  }
  return p;
}

// 18/9.
void hSelfTest(Engine& fw, Cmd& c) {
  PortDiag* p = baseTPort(fw, c);
  if (p == nullptr) return;
  uint32_t type = c.r32(4);
  if ((type != 1 && type != 2 && type != 5) || c.r32(8) > 3 || c.r32(12) > 3) return c.fail(kStatusIllegalField);
  c.respond(4);
  c.w32(0, p->selftest);
}

// 18/11.
void hTdr(Engine& fw, Cmd& c) {
  PortDiag* p = baseTPort(fw, c);
  if (p == nullptr) return;
  c.respond(24);
  c.w32(0, p->tdr.pair_status);
  for (size_t i = 0; i < 4; ++i) c.w32(4 + 4 * i, p->tdr.lengths[i]);
  c.w32(20, p->tdr.nvp);
}

// 1/32: the attributes as before, with the PHY loopback bit.
void hAttributes(Engine& fw, Cmd& c) {
  DiagState& s = st(fw);
  if (s.previous_attributes == nullptr) return c.fail(kStatusNotSupported);
  s.previous_attributes(fw, c);
  if (c.carrier != Carrier::Ioctl || c.status != kStatusSuccess || !c.fits(kPhyLoopbackByte + 1)) return;
  uint8_t b = c.p[kPhyLoopbackByte];
  c.w8(kPhyLoopbackByte, static_cast<uint8_t>(s.phy_loopback ? (b | 1) : (b & ~1)));
}

}  // namespace

void registerDiagHandlers(Engine& fw) {
  Handler attributes = fw.handlerFor(1, 32);
  DiagState& s = st(fw);
  Handler keep = attributes == hAttributes ? s.previous_attributes : attributes;
  s = DiagState{};
  s.previous_attributes = keep;
  fw.registerHandler(11, 20, hGetLoopback, 4);
  fw.registerHandler(11, 19, hSetLoopback, 4);
  fw.registerHandler(11, 18, hLoopbackTest, 28);
  fw.registerHandler(11, 17, hDmaTest, kDmaPayload);
  fw.registerHandler(1, 69, hSetBeacon, 4);
  fw.registerHandler(1, 70, hGetBeacon, 4);
  fw.registerHandler(18, 9, hSelfTest, 16);
  fw.registerHandler(18, 11, hTdr, 24);
  fw.registerHandler(1, 32, hAttributes, fw.minimumPayload(1, 32));
}

uint8_t loopbackMode(Engine& fw, unsigned port) { return st(fw).ports[port].loopback; }
void setLoopbackSupported(Engine& fw, bool supported) { st(fw).loopback_supported = supported; }
void setLoopbackModeSupported(Engine& fw, uint8_t mode, bool supported) {
  if (supported)
    st(fw).modes_missing.erase(mode);
  else
    st(fw).modes_missing.insert(mode);
}
void setPhyLoopback(Engine& fw, bool offered) { st(fw).phy_loopback = offered; }
void setLoopbackModuleMissing(Engine& fw, bool missing) { st(fw).module_missing = missing; }
void setLoopbackAnswer(Engine& fw, const LoopbackAnswer& a) { st(fw).answer = a; }

void setDmaMiscompares(Engine& fw, std::vector<unsigned> commands) {
  st(fw).miscompares = std::set<unsigned>(commands.begin(), commands.end());
}
void setDmaSendErrors(Engine& fw, std::vector<unsigned> commands) {
  st(fw).send_errors = std::set<unsigned>(commands.begin(), commands.end());
}
unsigned dmaCommands(Engine& fw) { return st(fw).dma_commands; }

void setBeaconSupported(Engine& fw, bool supported) { st(fw).beacon_supported = supported; }
BeaconState beacon(Engine& fw, unsigned port) { return st(fw).ports[port].beacon; }

void setSelfTestResult(Engine& fw, unsigned port, uint32_t result) { st(fw).ports[port].selftest = result; }
void setTdrAnswer(Engine& fw, unsigned port, const TdrAnswer& a) { st(fw).ports[port].tdr = a; }

std::vector<uint8_t> eventBytes(const EventEntry& e) {
  std::vector<uint8_t> b(kEventSize, 0);
  wire::put16(b.data(), 0, e.code);
  wire::put32(b.data(), 4, e.timestamp);
  wire::put32(b.data(), 8, e.sequence);
  wire::put16(b.data(), 12, e.severity);
  if (!e.text.empty()) {
    std::memcpy(b.data() + kEventTextAt, e.text.data(), std::min(e.text.size(), kEventText));
  } else {
    for (size_t i = 0; i < 5; ++i) wire::put32(b.data(), kEventTextAt + 4 * i, e.params[i]);
  }
  return b;
}

void addEvent(Engine& fw, const EventEntry& e) {
  std::vector<uint8_t> b = eventBytes(e);
  std::vector<uint8_t>& log = libraryEventLog(fw);
  log.insert(log.end(), b.begin(), b.end());
}

}  // namespace adapter

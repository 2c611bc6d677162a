// DCBX commands of the host (fw_cfg_dcbx.h has the formats).
#include "fw_cfg_dcbx.h"

#include <map>
#include <mutex>

namespace adapter {

namespace {

constexpr uint8_t kAddNotSupported = 30;  // additional status: the firmware lacks the command
constexpr uint32_t kBlockV0 = 312, kBlockV1 = 368;
constexpr uint32_t kMibLong = 108, kMibPivard = 60;
constexpr unsigned kApps = 15;
constexpr size_t kAppAt = 72, kAppSize = 16;
constexpr size_t kOpgFirst = 16;

std::mutex states_mu;
std::map<const Engine*, DcbxState>& states() {
  static std::map<const Engine*, DcbxState> s;
  return s;
}

// The port a command names (header port number); none (status 3) for a
// port the adapter does not have.
DcbxPort* portOf(Engine& fw, Cmd& c) {
  if (c.port >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return nullptr;
  }
  c.on_port = c.port;
  return &dcbxPort(fw, c.port);
}

// The block length of a command's form; 0 (status set) when the form is
// unknown to this firmware or the request too short for it.
uint32_t blockLength(Engine& fw, Cmd& c) {
  if (c.version == 1) {
    if (fw.gen() == Gen::KS2 || !dcbxState(fw).v1) {
      c.fail(kStatusNotSupported, kAddNotSupported);
      return 0;
    }
    if (c.req_len < kBlockV1) {
      c.fail(kStatusIllegalField);
      return 0;
    }
    return kBlockV1;
  }
  if (c.version != 0 || c.req_len < kBlockV0) {
    c.fail(kStatusIllegalField);
    return 0;
  }
  return kBlockV0;
}

// 16/1.
void hRead(Engine& fw, Cmd& c) {
  uint32_t len = blockLength(fw, c);
  DcbxPort* d = len != 0 ? portOf(fw, c) : nullptr;
  if (d == nullptr) return;
  const DcbxView* v = nullptr;
  switch (c.r8(0)) {
    case 0: v = &d->admin; break;
    case 1: v = &d->oper; break;
    case 2: v = &d->peer; break;
    default: return c.fail(kStatusIllegalField);
  }
  c.respond(len);
  c.w8(0, v->state);
  c.w8(2, v->app_count);
  c.w8(3, v->num_pg);
  c.w32(4, v->pg_flags);
  c.w32(8, v->pfc_flags);
  if (len == kBlockV1) c.w32(12, v->qcn_flags);
  c.w32(16, v->app_flags);
  for (unsigned k = 0; k < 8; ++k) {
    c.w8(24 + k, v->bandwidth[k]);
    c.w8(32 + 4 * k, v->pg_id[k]);
    c.w8(64 + k, v->pfc[k]);
  }
  for (unsigned n = 0; n < kApps; ++n) {
    const DcbxAppEntry& e = v->apps[n];
    size_t at = kAppAt + kAppSize * n;
    c.w16(at, e.protocol);
    c.w8(at + 2, e.selector);
    c.w8(at + 3, e.in_use);
    c.w32(at + 4, e.oui);
    for (unsigned k = 0; k < 8; ++k) c.w8(at + 8 + k, e.members[k]);
  }
  if (len == kBlockV1) {
    c.w8(312, v->cnpv);
    c.w8(316, v->ready);
  }
}

// 16/2: the administrator view takes what the host wrote.
void hWrite(Engine& fw, Cmd& c) {
  uint32_t len = blockLength(fw, c);
  DcbxPort* d = len != 0 ? portOf(fw, c) : nullptr;
  if (d == nullptr) return;
  if (c.r8(1) > kApps) return c.fail(kStatusIllegalField);
  for (unsigned k = 0; k < 8; ++k) {
    uint8_t id = c.r8(32 + 4 * k);
    if (id > 7 && id != 15) return c.fail(kStatusIllegalField);
  }
  DcbxView& v = d->admin;
  v.state = c.r8(0) & 1;
  v.app_count = c.r8(1);
  v.pg_flags = c.r32(4);
  v.pfc_flags = c.r32(8);
  if (len == kBlockV1) v.qcn_flags = c.r32(12);
  v.app_flags = c.r32(16);
  for (unsigned k = 0; k < 8; ++k) {
    v.bandwidth[k] = c.r8(24 + k);
    v.pg_id[k] = c.r8(32 + 4 * k);
    v.pfc[k] = c.r8(64 + k);
  }
  for (unsigned n = 0; n < kApps; ++n) {
    DcbxAppEntry& e = v.apps[n];
    size_t at = kAppAt + kAppSize * n;
    e.protocol = c.r16(at);
    e.selector = c.r8(at + 2);
    e.in_use = c.r8(at + 3);
    e.oui = c.r32(at + 4);
    for (unsigned k = 0; k < 8; ++k) e.members[k] = c.r8(at + 8 + k);
  }
  if (len == kBlockV1) v.cnpv = c.r8(312);
  ++d->writes;
  c.respond(0);
}

// 16/3.
void hMib(Engine& fw, Cmd& c) {
  bool pivard = fw.gen() == Gen::Pivard;
  uint32_t len = pivard ? kMibPivard : kMibLong;
  if (c.req_len < len) return c.fail(kStatusIllegalField);
  const DcbxPort* d = portOf(fw, c);
  if (d == nullptr) return;
  const DcbxMib& m = d->mib;
  c.respond(len);
  c.w8(2, m.operating_version);
  c.w8(3, m.max_version);
  // The u32 fields: their offsets in the 108-byte form and in Pivard's.
  const struct {
    uint32_t value;
    uint8_t at, at_pivard;
  } words[] = {
      {m.sequence, 4, 4},          {m.ack, 8, 8},                {m.peer_sequence, 12, 12},
      {m.peer_ack, 16, 16},        {m.app_sequence, 36, 20},     {m.pg_sequence, 40, 24},
      {m.pfc_sequence, 44, 28},    {m.tx_packets, 64, 32},       {m.rx_packets, 68, 36},
      {m.dropped, 76, 44},
  };
  for (const auto& w : words) c.w32(pivard ? w.at_pivard : w.at, w.value);
}

// 16/4 and 16/5.
void hGetMode(Engine& fw, Cmd& c) {
  const DcbxPort* d = portOf(fw, c);
  if (d == nullptr) return;
  c.respond(4);
  c.w8(0, d->mode);
}

void hSetMode(Engine& fw, Cmd& c) {
  uint8_t code = c.r8(1);
  DcbxPort* d = portOf(fw, c);
  if (d == nullptr) return;
  if (code > 3) return c.fail(kStatusIllegalField);
  d->mode = code;
  c.respond(0);
}

// 1/108: the link descriptors of the port the request names.
void hOperatingParams(Engine& fw, Cmd& c) {
  if (c.r8(0) != 1) return c.fail(kStatusIllegalField);
  unsigned port = c.r8(4) & 0x3F;
  if (port >= fw.ports()) return c.fail(kStatusIllegalField);
  const std::vector<OpgLink>& links = dcbxPort(fw, port).links;
  c.respond(c.req_len);
  c.w16(0, static_cast<uint16_t>(links.size()));
  size_t at = kOpgFirst;
  for (const OpgLink& l : links) {
    c.w8(at, l.type);
    c.w16(at + 2, l.length);
    c.w8(at + 4, static_cast<uint8_t>((l.link & 0x3F) | (l.link_type << 6)));
    c.w8(at + 5, l.mode & 7);
    at += l.length;
  }
}

}  // namespace

DcbxState& dcbxState(Engine& fw) {
  std::lock_guard<std::mutex> g(states_mu);
  return states()[&fw];
}

DcbxPort& dcbxPort(Engine& fw, unsigned port) {
  DcbxState& s = dcbxState(fw);
  return s.ports[port % s.ports.size()];
}

void registerDcbxHandlers(Engine& fw) {
  {
    std::lock_guard<std::mutex> g(states_mu);
    DcbxState s;
    s.v1 = fw.gen() != Gen::KS2;
    s.ports.resize(fw.ports());
    states()[&fw] = s;
  }
  fw.registerHandler(16, 1, hRead, 1);
  fw.registerHandler(16, 2, hWrite, 4);
  fw.registerHandler(16, 3, hMib, 0);
  fw.registerHandler(16, 4, hGetMode, 0);
  fw.registerHandler(16, 5, hSetMode, 2);
  fw.registerHandler(1, 108, hOperatingParams, 5);
}

}  // namespace adapter

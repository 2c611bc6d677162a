// The iSCSI firmware's network port (fw_iscsi_net.h has the formats).
#include "iscsi/fw_iscsi_net.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "fw_engine.h"
#include "fw_profile.h"
#include "wire.h"

namespace adapter {

namespace {

using wire::get16;
using wire::get32;

constexpr uint32_t kRecordBytes = 40;
constexpr uint32_t kRecordsAt = 16;
constexpr size_t kRoutableEntries = 2;

// Additional statuses the firmware answers with status 1.
constexpr uint8_t kAddUnreachable = 19;  // destination not reachable
constexpr uint8_t kAddUnknownCommand = 30;
constexpr uint8_t kAddNoIpv6 = 75;
constexpr uint8_t kStatusNotConfigured = 46;  // the port has no address to send from

struct NicParams {
  uint32_t speed_code = 4;
  uint32_t mtu = 9000;
};

struct Knobs {
  std::map<unsigned, std::deque<uint8_t>> entry_status;             // by PCI function
  std::map<unsigned, std::vector<std::vector<uint8_t>>> reachable;  // by physical port
  bool name_v1_withdrawn = false;
  std::map<unsigned, NicParams> nic;  // by PCI function
};

std::mutex knobs_mu;
std::map<const Engine*, Knobs>& allKnobs() {
  static std::map<const Engine*, Knobs> k;
  return k;
}
Knobs& knobs(Engine& fw) {
  std::lock_guard<std::mutex> g(knobs_mu);
  return allKnobs()[&fw];
}

bool hasIpv6(const Engine& fw) { return fw.gen() != Gen::KS2 && fw.gen() != Gen::KS3; }
bool isIpv6Kind(uint32_t kind) {
  return kind == kIscsiKindIpv6 || kind == kIscsiKindRoutable || kind == kIscsiKindLinkLocal;
}
bool allZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

// The request names this function's interface; otherwise refused.
bool ownHandle(Cmd& c, size_t at) {
  if (c.r32(at) == iscsiInterfaceHandle(c.fn)) return true;
  c.fail(kStatusIllegalField);
  return false;
}

std::array<uint8_t, 16> read16(const Cmd& c, size_t at) {
  std::array<uint8_t, 16> a{};
  for (size_t i = 0; i < 16; ++i) a[i] = c.r8(at + i);
  return a;
}

bool sameFamily(uint8_t a, uint8_t b) { return (a == kIscsiKindIpv4) == (b == kIscsiKindIpv4); }

bool sameAddress(const IscsiAddressEntry& e, uint8_t kind, const std::array<uint8_t, 16>& a) {
  size_t n = kind == kIscsiKindIpv4 ? 4 : 16;
  return sameFamily(e.kind, kind) && std::memcmp(e.address.data(), a.data(), n) == 0;
}

bool reachable(Engine& fw, unsigned fn, uint8_t kind, const std::array<uint8_t, 16>& a) {
  size_t n = kind == kIscsiKindIpv4 ? 4 : 16;
  Knobs& k = knobs(fw);
  auto it = k.reachable.find(fw.portOfFunction(fn));
  if (it == k.reachable.end()) return false;
  for (const std::vector<uint8_t>& r : it->second)
    if (r.size() == n && std::memcmp(r.data(), a.data(), n) == 0) return true;
  return false;
}

// Another host on the port's network, or another function of this adapter,
// answers for the address.
bool duplicate(Engine& fw, unsigned fn, uint8_t kind, const std::array<uint8_t, 16>& a) {
  if (reachable(fw, fn, kind, a)) return true;
  for (const auto& [other, net] : fw.profiles().iscsi_net.fns) {
    if (other == fn) continue;
    for (const IscsiAddressEntry& e : net.addresses)
      if (sameAddress(e, kind, a)) return true;
  }
  return false;
}

void interfaceList(Engine&, Cmd& c) {
  c.respond(c.req_len);
  c.w32(0, 1);
  c.w32(4, iscsiInterfaceHandle(c.fn));
}

void interfaceInfo(Engine& fw, Cmd& c) {
  if (!ownHandle(c, 0)) return;
  uint32_t kind = c.r32(4);
  if (kind != kIscsiKindIpv4 && !isIpv6Kind(kind)) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (isIpv6Kind(kind) && !hasIpv6(fw)) {
    c.fail(kStatusFailed, kAddNoIpv6);
    return;
  }
  const IscsiPortNet& net = iscsiNet(fw, c.fn);
  c.respond(c.req_len);
  c.w32(4, net.vlan_tag);
  if (kind == kIscsiKindIpv4)
    c.w32(12, net.dhcp ? 1 : 0);
  else
    c.w16(12, net.ipv6_flags);
  uint32_t room = c.req_len > kRecordsAt ? (c.req_len - kRecordsAt) / kRecordBytes : 0;
  uint32_t n = 0;
  for (const IscsiAddressEntry& e : net.addresses) {
    if ((kind == kIscsiKindIpv4) != (e.kind == kIscsiKindIpv4) || n == room) continue;
    size_t at = kRecordsAt + size_t(n) * kRecordBytes;
    c.w16(at, kRecordBytes);
    c.w8(at + 2, e.kind);
    c.wbytes(at + 4, e.address.data(), 16);
    c.wbytes(at + 20, e.mask.data(), 16);
    ++n;
  }
  c.w32(8, n);
}

void modifyEntry(Engine& fw, Cmd& c) {
  uint32_t action = c.r32(4);
  uint8_t kind = c.r8(14);
  if (c.r32(0) != 1 || (action != 1 && action != 2) || c.r16(12) != kRecordBytes ||
      (kind != kIscsiKindIpv4 && kind != kIscsiKindRoutable && kind != kIscsiKindLinkLocal)) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (!ownHandle(c, 8)) return;
  if (kind != kIscsiKindIpv4 && !hasIpv6(fw)) {
    c.fail(kStatusFailed, kAddNoIpv6);
    return;
  }
  IscsiAddressEntry e;
  e.kind = kind;
  e.address = read16(c, 16);
  if (kind == kIscsiKindIpv4) e.mask = read16(c, 32);
  IscsiPortNet& net = iscsiNet(fw, c.fn);
  auto held = [&](const IscsiAddressEntry& x) { return x.kind == kind && sameAddress(x, kind, e.address); };
  uint32_t status = 0;
  if (action == 2) {
    net.addresses.erase(std::remove_if(net.addresses.begin(), net.addresses.end(), held), net.addresses.end());
  } else {
    std::deque<uint8_t>& queued = knobs(fw).entry_status[c.fn];
    if (!queued.empty()) {
      status = queued.front();
      queued.pop_front();
    } else if (!allZero(e.address.data(), 16) && duplicate(fw, c.fn, kind, e.address)) {
      status = 47;
    }
    bool applies = status == 0 || status == 11 || status == 13 || status == 47;
    if (applies) {
      bool routable_held = std::any_of(net.addresses.begin(), net.addresses.end(), held);
      size_t routables = std::count_if(net.addresses.begin(), net.addresses.end(),
                                       [](const IscsiAddressEntry& x) { return x.kind == kIscsiKindRoutable; });
      if (kind == kIscsiKindRoutable && !routable_held && routables >= kRoutableEntries) {
        c.fail(kStatusNoResources);
        return;
      }
      if (kind != kIscsiKindRoutable) {
        // One IPv4 address, one link-local address.
        net.addresses.erase(std::remove_if(net.addresses.begin(), net.addresses.end(),
                                           [&](const IscsiAddressEntry& x) { return x.kind == kind; }),
                            net.addresses.end());
      }
      bool removes = kind == kIscsiKindIpv4 && allZero(e.address.data(), 4);
      if (!removes && !(kind == kIscsiKindRoutable && routable_held)) net.addresses.push_back(e);
    }
  }
  fw.flashChanged();
  c.respond(c.req_len);
  c.wbytes(0, c.in, std::min<size_t>(c.in_len, 52));
  c.w32(52, status);
}

void gatewayQuery(Engine& fw, Cmd& c) {
  uint32_t kind = c.r32(0);
  if (kind != kIscsiKindIpv4 && kind != kIscsiKindIpv6) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (kind == kIscsiKindIpv6 && !hasIpv6(fw)) {
    c.fail(kStatusFailed, kAddNoIpv6);
    return;
  }
  const IscsiPortNet& net = iscsiNet(fw, c.fn);
  c.respond(c.req_len);
  c.w32(0, kind);
  if (kind == kIscsiKindIpv4 && net.gw4_set) c.wbytes(4, net.gw4.data(), 4);
  if (kind == kIscsiKindIpv6 && net.gw6_set) c.wbytes(4, net.gw6.data(), 16);
}

void gatewayChange(Engine& fw, Cmd& c) {
  uint32_t action = c.r32(0);
  uint8_t kind = c.r8(7);
  if ((action != 1 && action != 2) || (kind != kIscsiKindIpv4 && kind != kIscsiKindIpv6) ||
      (action == 1 && c.r16(4) != 24)) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (kind == kIscsiKindIpv6 && !hasIpv6(fw)) {
    c.fail(kStatusFailed, kAddNoIpv6);
    return;
  }
  IscsiPortNet& net = iscsiNet(fw, c.fn);
  std::array<uint8_t, 16> a = read16(c, 8);
  size_t n = kind == kIscsiKindIpv4 ? 4 : 16;
  bool& set = kind == kIscsiKindIpv4 ? net.gw4_set : net.gw6_set;
  uint8_t* held = kind == kIscsiKindIpv4 ? net.gw4.data() : net.gw6.data();
  if (action == 1) {
    // One default gateway per family: the old one goes first.
    if (set || allZero(a.data(), n)) {
      c.fail(kStatusFailed);
      return;
    }
    std::memcpy(held, a.data(), n);
    set = true;
  } else {
    if (!set || std::memcmp(held, a.data(), n) != 0) {
      c.fail(kStatusFailed);
      return;
    }
    std::memset(held, 0, n);
    set = false;
  }
  fw.flashChanged();
  c.resp_len = 0;
}

void dhcp(Engine& fw, Cmd& c) {
  if (!ownHandle(c, 0)) return;
  uint32_t kind = c.r32(4);
  bool on = c.opcode == 17;
  if (kind != 5 && kind != 144) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (kind == 144 && !hasIpv6(fw)) {
    c.fail(kStatusFailed, kAddNoIpv6);
    return;
  }
  IscsiPortNet& net = iscsiNet(fw, c.fn);
  if (kind == 5)
    net.dhcp = on;
  else
    net.ipv6_flags = on ? kIpv6Auto : kIpv6Static;
  fw.flashChanged();
  c.resp_len = 0;
}

void vlan(Engine& fw, Cmd& c) {
  if (!ownHandle(c, 0)) return;
  uint32_t tag = c.r32(4);
  if (tag > 0xFFFF || (tag != 0xFFFF && (tag & 0xFFF) > 4094)) {
    c.fail(kStatusIllegalField);
    return;
  }
  iscsiNet(fw, c.fn).vlan_tag = static_cast<uint16_t>(tag);
  fw.flashChanged();
  c.resp_len = 0;
}

void ping(Engine& fw, Cmd& c) {
  uint8_t kind = c.r8(3);
  if (kind != kIscsiKindIpv4 && kind != kIscsiKindIpv6) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (kind == kIscsiKindIpv6 && !hasIpv6(fw)) {
    c.fail(kStatusFailed, kAddNoIpv6);
    return;
  }
  const IscsiPortNet& net = iscsiNet(fw, c.fn);
  bool configured = kind == kIscsiKindIpv4 ? net.dhcp : (net.ipv6_flags & (kIpv6Auto | kIpv6Dhcp)) != 0;
  for (const IscsiAddressEntry& e : net.addresses) configured = configured || sameFamily(e.kind, kind);
  if (!configured) {
    c.fail(kStatusNotConfigured);
    return;
  }
  std::array<uint8_t, 16> a = read16(c, 4);
  if (kind == kIscsiKindIpv4) std::fill(a.begin() + 4, a.end(), 0);
  if (!reachable(fw, c.fn, kind, a)) {
    c.fail(kStatusFailed, kAddUnreachable);
    return;
  }
  c.respond(c.req_len);
}

void nicParams(Engine& fw, Cmd& c) {
  Knobs& k = knobs(fw);
  NicParams p = k.nic.count(c.fn) != 0 ? k.nic[c.fn] : NicParams{};
  c.respond(c.req_len);
  c.w32(8, p.speed_code);
  c.w32(16, p.mtu);
}

bool nameVersionRefused(Engine& fw, Cmd& c) {
  if (c.version != 1 || !knobs(fw).name_v1_withdrawn) return false;
  c.fail(kStatusFailed, kAddUnknownCommand);
  return true;
}

void fetchName(Engine& fw, Cmd& c) {
  if (nameVersionRefused(fw, c)) return;
  const IscsiPortNet& net = iscsiNet(fw, c.fn);
  c.respond(260);
  c.w16(0, net.name_flags);
  c.wtext(4, net.initiator_name.empty() ? factoryInitiatorName(c.fn) : net.initiator_name, 224);
  c.wtext(228, net.alias, 32);
}

void saveName(Engine& fw, Cmd& c) {
  if (nameVersionRefused(fw, c)) return;
  std::string name, alias;
  c.rtext(4, 224, &name);
  c.rtext(228, 32, &alias);
  if (name.empty()) {
    c.fail(kStatusIllegalField);
    return;
  }
  IscsiPortNet& net = iscsiNet(fw, c.fn);
  net.name_flags = c.r16(0);
  net.initiator_name = name;
  net.alias = alias;
  fw.flashChanged();
  c.resp_len = 0;
}

}  // namespace

void registerIscsiNetHandlers(Engine& fw) {
  {
    std::lock_guard<std::mutex> g(knobs_mu);
    allKnobs()[&fw] = Knobs{};
  }
  fw.registerHandler(2, 24, interfaceList, 8);
  fw.registerHandler(2, 25, interfaceInfo, 8);
  fw.registerHandler(2, 21, modifyEntry, 56);
  fw.registerHandler(2, 22, gatewayQuery, 24);
  fw.registerHandler(2, 23, gatewayChange, 28);
  fw.registerHandler(2, 17, dhcp, 16);
  fw.registerHandler(2, 18, dhcp, 8);
  fw.registerHandler(2, 14, vlan, 8);
  fw.registerHandler(2, 6, ping, 24);
  fw.registerHandler(2, 7, nicParams, 20);
  fw.registerHandler(6, 6, fetchName, 260);
  fw.registerHandler(6, 7, saveName, 260);
}

uint32_t iscsiInterfaceHandle(unsigned fn) { return 0x2A00 + fn; }

std::string factoryInitiatorName(unsigned fn) {
  char name[64];
  std::snprintf(name, sizeof name, "iqn.2000-01.com.example:emulated-fn%u", fn);
  return name;
}

IscsiPortNet& iscsiNet(Engine& fw, unsigned fn) { return fw.profiles().iscsi_net.fns[fn]; }

void iscsiNetChanged(Engine& fw) { fw.flashChanged(); }

void queueIscsiEntryStatus(Engine& fw, unsigned fn, uint8_t status) { knobs(fw).entry_status[fn].push_back(status); }

void setPingReachable(Engine& fw, unsigned port, const std::vector<uint8_t>& address) {
  knobs(fw).reachable[port].push_back(address);
}

void clearPingReachable(Engine& fw) { knobs(fw).reachable.clear(); }

void withdrawInitiatorNameV1(Engine& fw, bool withdrawn) { knobs(fw).name_v1_withdrawn = withdrawn; }

void setIscsiNicParams(Engine& fw, unsigned fn, uint32_t speed_code, uint32_t mtu) {
  knobs(fw).nic[fn] = NicParams{speed_code, mtu};
}

std::vector<uint8_t> encodeIscsiNet(const IscsiNetStore& s) {
  std::vector<uint8_t> out;
  auto u8 = [&](uint8_t v) { out.push_back(v); };
  auto u16 = [&](uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  };
  auto bytes = [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); };
  auto text = [&](const std::string& t) {
    size_t n = std::min<size_t>(t.size(), 0xFFFF);
    u16(static_cast<uint16_t>(n));
    bytes(reinterpret_cast<const uint8_t*>(t.data()), n);
  };
  u16(static_cast<uint16_t>(s.fns.size()));
  for (const auto& [fn, net] : s.fns) {
    u16(static_cast<uint16_t>(fn));
    u16(static_cast<uint16_t>(net.addresses.size()));
    for (const IscsiAddressEntry& e : net.addresses) {
      u8(e.kind);
      bytes(e.address.data(), 16);
      bytes(e.mask.data(), 16);
    }
    u8(net.gw4_set ? 1 : 0);
    bytes(net.gw4.data(), 4);
    u8(net.gw6_set ? 1 : 0);
    bytes(net.gw6.data(), 16);
    u8(net.dhcp ? 1 : 0);
    u16(net.ipv6_flags);
    u16(net.vlan_tag);
    u16(net.name_flags);
    text(net.initiator_name);
    text(net.alias);
  }
  return out;
}

bool decodeIscsiNet(const uint8_t* p, size_t n, IscsiNetStore* s) {
  wire::Reader r(p, n);
  auto text = [&]() -> std::string {
    uint16_t len = r.u16();
    const uint8_t* q = r.take(len);
    return q != nullptr ? std::string(reinterpret_cast<const char*>(q), len) : std::string();
  };
  IscsiNetStore t;
  for (uint16_t i = 0, count = r.u16(); r.ok() && i < count; ++i) {
    IscsiPortNet net;
    uint16_t fn = r.u16();
    for (uint16_t k = 0, entries = r.u16(); r.ok() && k < entries; ++k) {
      IscsiAddressEntry e;
      e.kind = r.u8();
      if (const uint8_t* q = r.take(32)) {
        std::copy_n(q, 16, e.address.begin());
        std::copy_n(q + 16, 16, e.mask.begin());
      }
      net.addresses.push_back(e);
    }
    net.gw4_set = r.u8() != 0;
    if (const uint8_t* q = r.take(4)) std::copy_n(q, 4, net.gw4.begin());
    net.gw6_set = r.u8() != 0;
    if (const uint8_t* q = r.take(16)) std::copy_n(q, 16, net.gw6.begin());
    net.dhcp = r.u8() != 0;
    net.ipv6_flags = r.u16();
    net.vlan_tag = r.u16();
    net.name_flags = r.u16();
    net.initiator_name = text();
    net.alias = text();
    t.fns[fn] = std::move(net);
  }
  if (!r.done()) return false;
  *s = std::move(t);
  return true;
}

}  // namespace adapter

// Receive side of a port: which interface of which function wants a frame,
// which of its rings gets it, and what its completion reports.
#include <algorithm>

#include "adapter.h"
#include "dp_frame.h"

namespace adapter {

namespace {

// Receive filter flags of an interface: 0x80 accepts every VLAN; the model
// takes 0x4 as promiscuous (every unicast destination).
constexpr uint32_t kRxfPromiscuous = 0x4;
constexpr uint32_t kRxfVlanPromiscuous = 0x80;
constexpr uint16_t kDefaultVxlanPort = 4789;
// The port's MAC: frames longer than this are too long whatever the MTU; the
// MAC control ethertype and its pause opcodes; the largest 802.3 length.
constexpr size_t kMaxWireFrame = 9216;
constexpr uint16_t kMacControl = 0x8808;
constexpr uint16_t kPauseOpcode = 0x0001, kPriorityPauseOpcode = 0x0101;
constexpr uint16_t kMax8023Length = 1500, kMinEthertype = 0x0600;

uint16_t be16(const std::vector<uint8_t>& f, size_t off) {
  return static_cast<uint16_t>(f[off] << 8 | f[off + 1]);
}

bool sameMac(const uint8_t* a, const std::array<uint8_t, 6>& b) { return std::equal(b.begin(), b.end(), a); }

bool vlanAllowed(const InterfaceObj& i, const dp::Layout& l) {
  uint16_t id = l.tag & 0xFFF;
  if (!l.vlan || id == 0) return true;   // untagged or priority-tagged
  if (i.vlan_promisc || (i.rxf_flags & kRxfVlanPromiscuous) != 0) return true;
  return std::any_of(i.vlans.begin(), i.vlans.end(), [&](uint16_t v) { return (v & 0xFFF) == id; });
}

// The VXLAN header of an encapsulated frame: its VNI and where the inner
// Ethernet header starts.
bool vxlanHeader(const std::vector<uint8_t>& f, const dp::Layout& l, uint16_t port, uint32_t* vni, size_t* inner) {
  dp::Layout in;
  if (!dp::vxlanInner(f, l, port, &in) || l.l4 + 16 + 14 > f.size()) return false;
  *vni = (uint32_t(f[l.l4 + 12]) << 16) | (uint32_t(f[l.l4 + 13]) << 8) | f[l.l4 + 14];
  *inner = l.l4 + 16;
  return true;
}

// A unicast frame for a MAC that a virtual function holds (a filter or the
// MAC list of its domain) goes to that VF's endpoint (its driver runs in a
// guest): counted and kept there, no PF sees it.
bool deliverToVfEndpoint(Engine& fw, unsigned port, const uint8_t* dst, const std::vector<uint8_t>& in) {
  InterfaceObj* vf = fw.vfInterfaceForMac(port, dst);
  if (vf == nullptr) return false;
  vf->deliverToEndpoint(in);
  return true;
}

}  // namespace

// Where a frame goes within one function: the interface holding its
// destination MAC (a PMAC entry, or on Pivard an interface queue filter,
// which also names the ring), then, for a VXLAN frame reaching the tunnel
// interface, the tenant interface of the tunnel filter matching its inner
// MAC and VNI.
Adapter::Steer Adapter::steer(unsigned fn, const std::vector<uint8_t>& in, const dp::Layout& l,
                              const InterfaceObj* def, bool group) {
  Steer st;
  const uint8_t* dst = in.data();
  if (group || sameMac(dst, fw_.permanentMac(fn))) {
    st.to = def;
  } else {
    for (const MacFilter& m : fw_.macFilters(static_cast<int>(fn))) {
      if (sameMac(dst, m.mac) && fw_.interface(m.if_id) != nullptr) {
        st.to = fw_.interface(m.if_id);
        break;
      }
    }
    for (const FilterObj* qf : fw_.filters(ObjKind::QueueFilter, static_cast<int>(fn))) {
      if (st.to != nullptr || !sameMac(dst, qf->mac) || fw_.interface(qf->if_id) == nullptr) continue;
      st.to = fw_.interface(qf->if_id);
      for (QueueObj* q : fw_.queues(ObjKind::RxQueue, static_cast<int>(fn))) {
        if (q->bound == qf->queue) st.ring = q;
      }
    }
    if (st.to == nullptr && (def->rxf_flags & kRxfPromiscuous) != 0) st.to = def;
  }
  uint32_t vni = 0;
  size_t inner = 0;
  const uint16_t vx = fw_.vxlanPort(fn) != 0 ? fw_.vxlanPort(fn) : kDefaultVxlanPort;
  if (st.to == nullptr || gen() != Gen::Veskarn || !vxlanHeader(in, l, vx, &vni, &inner)) return st;
  for (const FilterObj* tf : fw_.filters(ObjKind::TunnelFilter, static_cast<int>(fn))) {
    if (tf->if_id == st.to->id && tf->vni == vni && sameMac(in.data() + inner, tf->mac) &&
        fw_.interface(tf->tenant_if) != nullptr) {
      st.to = fw_.interface(tf->tenant_if);
      st.ring = nullptr;
      break;
    }
  }
  return st;
}

Adapter::EndpointFrames Adapter::endpointFrames(uint32_t if_id) const {
  std::lock_guard<std::mutex> g(mu_);
  EndpointFrames e;
  if (const InterfaceObj* i = fw_.interface(if_id)) {
    e.count = i->endpoint_frames;
    e.last = i->endpoint_last;
  }
  return e;
}

void Adapter::arriveLocked(unsigned port, const std::vector<uint8_t>& in) {
  Port& p = ports_[port];
  ++p.ctr.rx_frames;
  p.ctr.rx_bytes += in.size();
  if (in.size() < 14 || in_ue_) {
    ++p.ctr.rx_filtered;
    if (!in_ue_) bumpPortStat(port, Stat::RxDroppedRunt);
    return;
  }
  if (!macAcceptsLocked(port, in)) return;
  const uint8_t* dst = in.data();
  bool bcast = std::all_of(dst, dst + 6, [](uint8_t b) { return b == 0xFF; });
  bool mcast = !bcast && (dst[0] & 1) != 0;
  if (!bcast && !mcast && deliverToVfEndpoint(fw_, port, dst, in)) {
    ++p.ctr.rx_to_endpoint;
    return;
  }
  dp::Layout l = dp::parse(in);
  bool wanted = false;
  for (unsigned fn = 0; fn < fw_.functions(); ++fn) {
    if (fw_.portOfFunction(fn) != port) continue;
    std::vector<const InterfaceObj*> ifs = fw_.interfaces(fn);
    // The function's first interface of its own (domain 0) is its default
    // one: it owns the permanent MAC (nobody programs it in single-channel
    // mode) and takes broadcast and multicast frames.
    auto own = std::find_if(ifs.begin(), ifs.end(), [](const InterfaceObj* i) { return i->domain == 0; });
    if (own == ifs.end()) continue;
    Steer st = steer(fn, in, l, *own, bcast || mcast);
    const InterfaceObj* to = st.to;
    if (to == nullptr || !vlanAllowed(*to, l)) continue;
    wanted = true;
    if (to->domain != 0) {
      // Another endpoint's interface (a VF's): its frames leave this
      // function's rings alone.
      fw_.interfaceMut(to->id)->deliverToEndpoint(in);
      ++p.ctr.rx_to_endpoint;
      continue;
    }

    // Ring: the one a queue filter names; else the RSS table when the
    // interface hashes this kind of frame; else the interface's default
    // (non-RSS) ring.
    std::vector<QueueObj*> rings;
    for (QueueObj* q : fw_.queues(ObjKind::RxQueue, static_cast<int>(fn))) {
      if (q->if_id == to->id) rings.push_back(q);
    }
    RxMeta m;
    m.port = static_cast<int>(port);
    QueueObj* ring = st.ring;
    uint32_t hash = 0;
    if (ring == nullptr && !to->rss_table.empty() && to->rss_flags != 0 &&
        dp::rssHash(in, l, to->rss_flags, to->rss_key, &hash)) {
      uint8_t rss_id = to->rss_table[hash & (to->rss_table.size() - 1)];
      for (QueueObj* q : fw_.queues(ObjKind::RxQueue, static_cast<int>(fn))) {
        if (q->flags != 0 && q->ctx[2] == rss_id) ring = q;
      }
      m.rss_hash = hash;
    }
    if (ring == nullptr) {
      auto def = std::find_if(rings.begin(), rings.end(), [](QueueObj* q) { return q->flags == 0; });
      ring = def != rings.end() ? *def : rings.empty() ? nullptr : rings.front();
    }

    // The frame as the host sees it: the tag goes into the completion.
    std::vector<uint8_t> f = in;
    if (l.vlan) {
      f.erase(f.begin() + 12, f.begin() + 16);
      m.vlan = l.tag;
      m.vlan_present = true;
    }
    dp::Layout fl = dp::parse(f);
    dp::Layout inner;
    uint16_t vx = fw_.vxlanPort(fn) != 0 ? fw_.vxlanPort(fn) : kDefaultVxlanPort;
    bool tunneled = gen() == Gen::Veskarn && dp::vxlanInner(f, fl, vx, &inner);
    const dp::Layout& c = tunneled ? inner : fl;
    m.tunneled = tunneled;
    m.ipv6 = c.ipv6;
    m.tcp = c.l4 != 0 && c.proto == 6;
    m.udp = c.l4 != 0 && c.proto == 17;
    m.ip_csum_ok = c.ipv4 && dp::ipv4ChecksumOk(f, c) && (!tunneled || !fl.ipv4 || dp::ipv4ChecksumOk(f, fl));
    m.l4_csum_ok = (m.tcp || m.udp) && dp::l4ChecksumOk(f, c);
    m.cast = bcast ? 2 : mcast ? 1 : 0;
    if (c.ipv4 && !dp::ipv4ChecksumOk(f, c)) bumpPortStat(port, Stat::RxIpChecksumErrs);
    if ((m.tcp || m.udp) && !m.l4_csum_ok) bumpPortStat(port, m.tcp ? Stat::RxTcpChecksumErrs : Stat::RxUdpChecksumErrs);

    uint32_t frag = ring != nullptr && ring->ctx[1] <= 16 ? (1u << ring->ctx[1]) : 0;
    if (ring == nullptr || ring->outstanding == 0 || f.size() > frag || !deliverRxLocked(fn, ring->id, f, m)) {
      ++p.ctr.rx_no_buffer;
      // A generation without a no-buffer counter sees the frame overflow
      // its input FIFO instead.
      bumpPortStat(port, statsWord(gen(), Stat::RxDropsNoPbuf, port) >= 0 ? Stat::RxDropsNoPbuf
                                                                           : Stat::RxInputFifoOverflowDrop);
      if (ring != nullptr && ring->outstanding == 0) bumpRingNoDma(fn, ring->id);
      continue;
    }
    ++p.ctr.rx_delivered;
  }
  if (!wanted) {
    ++p.ctr.rx_filtered;
    bumpPortStat(port, Stat::RxAddressFiltered);
  }
}

// What the port's MAC takes in before any interface looks at the frame:
// frames too long for it, 802.3 frames whose length field is out of range or
// longer than the frame, and MAC control frames (pause) end at the MAC, each
// counted where the statistics block keeps it.
bool Adapter::macAcceptsLocked(unsigned port, const std::vector<uint8_t>& f) {
  Port& p = ports_[port];
  auto drop = [&](Stat s) {
    ++p.ctr.rx_errors;
    bumpPortStat(port, s);
    return false;
  };
  if (f.size() > kMaxWireFrame) return drop(Stat::RxFrameTooLong);
  size_t type_at = 12;
  if (be16(f, 12) == 0x8100 && f.size() >= 18) type_at = 16;
  const uint16_t type = be16(f, type_at);
  if (type == kMacControl) {
    ++p.ctr.rx_control;
    const uint16_t op = f.size() >= type_at + 4 ? be16(f, type_at + 2) : 0;
    bumpPortStat(port, op == kPauseOpcode           ? Stat::RxPauseFrames
                       : op == kPriorityPauseOpcode ? Stat::RxPriorityPauseFrames
                                                    : Stat::RxControlFrames);
    return false;
  }
  if (type < kMinEthertype) {
    if (type > kMax8023Length) return drop(Stat::RxOutRangeErrors);
    if (type_at + 2 + type > f.size()) return drop(Stat::RxInRangeErrors);
  }
  return true;
}

// The ring's 16-bit count of frames that found no buffer posted.
void Adapter::bumpRingNoDma(unsigned fn, uint32_t rxq_id) {
  const uint32_t off = statsNoDmaOffset(gen());
  if (off == 0) return;
  const uint32_t v = fw_.statsWordValue(fn, off / 4 + rxq_id);
  fw_.setNoDmaCounter(fn, rxq_id, static_cast<uint16_t>(v + 1));
}

}  // namespace adapter

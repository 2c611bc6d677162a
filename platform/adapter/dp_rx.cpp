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

bool sameMac(const uint8_t* a, const std::array<uint8_t, 6>& b) { return std::equal(b.begin(), b.end(), a); }

bool vlanAllowed(const InterfaceObj& i, const dp::Layout& l) {
  uint16_t id = l.tag & 0xFFF;
  if (!l.vlan || id == 0) return true;   // untagged or priority-tagged
  if (i.vlan_promisc || (i.rxf_flags & kRxfVlanPromiscuous) != 0) return true;
  return std::any_of(i.vlans.begin(), i.vlans.end(), [&](uint16_t v) { return (v & 0xFFF) == id; });
}

// A unicast frame for a MAC that a virtual function holds goes to that VF's
// endpoint (its driver runs in a guest): counted there, no PF sees it.
bool deliverToVfEndpoint(Engine& fw, unsigned port, const uint8_t* dst) {
  InterfaceObj* vf = fw.vfInterfaceForMac(port, dst);
  if (vf == nullptr) return false;
  ++vf->endpoint_frames;
  return true;
}

}  // namespace

void Adapter::arriveLocked(unsigned port, const std::vector<uint8_t>& in) {
  Port& p = ports_[port];
  ++p.ctr.rx_frames;
  p.ctr.rx_bytes += in.size();
  if (in.size() < 14 || in_ue_) {
    ++p.ctr.rx_filtered;
    return;
  }
  const uint8_t* dst = in.data();
  bool bcast = std::all_of(dst, dst + 6, [](uint8_t b) { return b == 0xFF; });
  bool mcast = !bcast && (dst[0] & 1) != 0;
  if (!bcast && !mcast && deliverToVfEndpoint(fw_, port, dst)) return;
  dp::Layout l = dp::parse(in);
  bool wanted = false;
  for (unsigned fn = 0; fn < fw_.functions(); ++fn) {
    if (fw_.portOfFunction(fn) != port) continue;
    std::vector<const InterfaceObj*> ifs = fw_.interfaces(fn);
    if (ifs.empty()) continue;
    // The function's first interface is its default one: it owns the
    // permanent MAC (nobody programs it in single-channel mode) and takes
    // broadcast and multicast frames.
    const InterfaceObj* to = nullptr;
    if (bcast || mcast || sameMac(dst, fw_.permanentMac(fn))) {
      to = ifs.front();
    } else {
      for (const MacFilter& m : fw_.macFilters(static_cast<int>(fn))) {
        if (sameMac(dst, m.mac) && fw_.interface(m.if_id) != nullptr) {
          to = fw_.interface(m.if_id);
          break;
        }
      }
      if (to == nullptr && (ifs.front()->rxf_flags & kRxfPromiscuous) != 0) to = ifs.front();
    }
    if (to == nullptr || !vlanAllowed(*to, l)) continue;
    wanted = true;

    // Ring: the RSS table when the interface hashes this kind of frame, else
    // the interface's default (non-RSS) ring.
    std::vector<QueueObj*> rings;
    for (QueueObj* q : fw_.queues(ObjKind::RxQueue, static_cast<int>(fn))) {
      if (q->if_id == to->id) rings.push_back(q);
    }
    RxMeta m;
    m.port = static_cast<int>(port);
    QueueObj* ring = nullptr;
    uint32_t hash = 0;
    if (!to->rss_table.empty() && to->rss_flags != 0 && dp::rssHash(in, l, to->rss_flags, to->rss_key, &hash)) {
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
      bumpPortStat(port, Stat::RxDropsNoPbuf);
      continue;
    }
    ++p.ctr.rx_delivered;
  }
  if (!wanted) {
    ++p.ctr.rx_filtered;
    bumpPortStat(port, Stat::RxAddressFiltered);
  }
}

}  // namespace adapter

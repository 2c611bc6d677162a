// Transmit offloads: what the header entry of a packet asks the adapter to do
// to the gathered frame before it goes on the wire.
#include "adapter.h"
#include "dp_frame.h"

namespace adapter {

namespace {

// Header entry dword 2.
constexpr uint32_t kHdrMgmt = 1u << 5;     // a copy for the management controller
constexpr uint32_t kHdrIpCsum = 1u << 6;    // encapsulated frame: IP checksums (outer and inner)
constexpr uint32_t kHdrUdpCsum = 1u << 7;
constexpr uint32_t kHdrTcpCsum = 1u << 8;
constexpr uint32_t kHdrLso = 1u << 9;
constexpr unsigned kMssShift = 18;

constexpr uint16_t kDefaultVxlanPort = 4789;

// The outer UDP checksum of an encapsulated IPv4 frame may be 0 (none); one
// that was filled in, and every IPv6 one, must cover the final inner bytes.
void fillOuterUdp(std::vector<uint8_t>& f, const dp::Layout& outer) {
  size_t at = outer.l4 + 6;
  if (outer.ipv4 && f[at] == 0 && f[at + 1] == 0) return;
  dp::fillL4Checksum(f, outer);
}

}  // namespace

void Adapter::transmitFrame(unsigned fn, const uint32_t hdr[4], const std::vector<uint8_t>& gathered) {
  uint32_t d2 = hdr[2];
  unsigned port = fw_.portOfFunction(fn);
  const bool mgmt = (d2 & kHdrMgmt) != 0;
  auto out = [&](unsigned p, std::vector<uint8_t>&& f) {
    if (mgmt)
      putToBmc(p, std::move(f));
    else
      putOnWire(p, std::move(f));
  };
  if ((d2 & kHdrLso) != 0) {
    uint32_t mss = d2 >> kMssShift;
    for (std::vector<uint8_t>& s : dp::segmentTcp(gathered, mss)) out(port, std::move(s));
    return;
  }
  std::vector<uint8_t> f = gathered;
  dp::Layout l = dp::parse(f);
  bool l4 = (d2 & (kHdrTcpCsum | kHdrUdpCsum)) != 0;
  if ((d2 & kHdrIpCsum) != 0 && l.l3 != 0) {
    dp::Layout in;
    uint16_t vx = fw_.vxlanPort(fn) != 0 ? fw_.vxlanPort(fn) : kDefaultVxlanPort;
    if (gen() == Gen::Veskarn && dp::vxlanInner(f, l, vx, &in)) {
      dp::fillIpv4Checksum(f, in);
      if (l4 && in.l4 != 0 && (in.proto == 6 ? (d2 & kHdrTcpCsum) : (d2 & kHdrUdpCsum)) != 0) {
        dp::fillL4Checksum(f, in);
      }
      dp::fillIpv4Checksum(f, l);
      fillOuterUdp(f, l);
      out(port, std::move(f));
      return;
    }
    dp::fillIpv4Checksum(f, l);
  }
  if (l4 && l.l4 != 0) {
    bool want = l.proto == 6 ? (d2 & kHdrTcpCsum) != 0 : l.proto == 17 && (d2 & kHdrUdpCsum) != 0;
    if (want) {
      dp::fillIpv4Checksum(f, l);
      dp::fillL4Checksum(f, l);
    }
  }
  out(port, std::move(f));
}

}  // namespace adapter

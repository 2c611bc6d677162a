#include "dp_frame.h"

#include <algorithm>

namespace adapter::dp {

namespace {

uint16_t be16(const std::vector<uint8_t>& f, size_t o) {
  return static_cast<uint16_t>((f[o] << 8) | f[o + 1]);
}
uint32_t be32(const std::vector<uint8_t>& f, size_t o) {
  return (static_cast<uint32_t>(be16(f, o)) << 16) | be16(f, o + 2);
}
void putBe16(std::vector<uint8_t>& f, size_t o, uint16_t v) {
  f[o] = static_cast<uint8_t>(v >> 8);
  f[o + 1] = static_cast<uint8_t>(v);
}
void putBe32(std::vector<uint8_t>& f, size_t o, uint32_t v) {
  putBe16(f, o, static_cast<uint16_t>(v >> 16));
  putBe16(f, o + 2, static_cast<uint16_t>(v));
}

// Bytes the L4 checksum covers, from the IP header's own length field (so
// Ethernet padding is not summed); 0 when the frame is shorter than it says.
size_t l4Length(const std::vector<uint8_t>& f, const Layout& l) {
  size_t end = l.ipv4 ? l.l3 + be16(f, l.l3 + 2) : l.l3 + 40 + be16(f, l.l3 + 4);
  return end <= f.size() && end > l.l4 ? end - l.l4 : 0;
}

uint32_t pseudo(const std::vector<uint8_t>& f, const Layout& l, size_t len) {
  uint32_t s = l.ipv4 ? sum16(f.data() + l.l3 + 12, 8) : sum16(f.data() + l.l3 + 8, 32);
  s += l.proto;
  s += static_cast<uint32_t>(len >> 16) + static_cast<uint32_t>(len & 0xFFFF);
  return s;
}

size_t l4CsumOffset(const Layout& l) { return l.l4 + (l.proto == 6 ? 16 : 6); }

}  // namespace

Layout parse(const std::vector<uint8_t>& f, size_t off) {
  Layout l;
  if (f.size() < off + 14) return l;
  size_t p = off + 12;
  uint16_t type = be16(f, p);
  if (type == 0x8100 && f.size() >= off + 18) {
    l.vlan = true;
    l.tag = be16(f, p + 2);
    p += 4;
    type = be16(f, p);
  }
  p += 2;
  if (type == 0x0800 && f.size() >= p + 20 && (f[p] >> 4) == 4) {
    size_t ihl = 4u * (f[p] & 0xF);
    if (ihl < 20 || f.size() < p + ihl) return l;
    l.l3 = p;
    l.ipv4 = true;
    l.proto = f[p + 9];
    bool fragment = (be16(f, p + 6) & 0x3FFF) != 0;   // only the first fragment carries L4
    if (!fragment) l.l4 = p + ihl;
  } else if (type == 0x86DD && f.size() >= p + 40 && (f[p] >> 4) == 6) {
    l.l3 = p;
    l.ipv6 = true;
    l.proto = f[p + 6];
    l.l4 = p + 40;
  }
  if (l.l4 != 0) {
    size_t need = l.proto == 6 ? 20 : l.proto == 17 ? 8 : 0;
    if (need == 0 || f.size() < l.l4 + need) l.l4 = 0;
  }
  return l;
}

bool vxlanInner(const std::vector<uint8_t>& f, const Layout& outer, uint16_t vxlan_port, Layout* inner) {
  if (outer.l4 == 0 || outer.proto != 17 || be16(f, outer.l4 + 2) != vxlan_port) return false;
  size_t at = outer.l4 + 8 + 8;
  if (f.size() < at + 14) return false;
  *inner = parse(f, at);
  return inner->l3 != 0;
}

uint32_t sum16(const uint8_t* p, size_t n, uint32_t seed) {
  uint64_t s = seed;
  size_t i = 0;
  for (; i + 1 < n; i += 2) s += static_cast<uint32_t>((p[i] << 8) | p[i + 1]);
  if (i < n) s += static_cast<uint32_t>(p[i] << 8);
  while (s >> 32) s = (s & 0xFFFFFFFF) + (s >> 32);
  return static_cast<uint32_t>(s);
}

uint16_t fold(uint32_t s) {
  while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
  return static_cast<uint16_t>(s);
}

void fillIpv4Checksum(std::vector<uint8_t>& f, const Layout& l) {
  if (!l.ipv4) return;
  size_t ihl = 4u * (f[l.l3] & 0xF);
  putBe16(f, l.l3 + 10, 0);
  putBe16(f, l.l3 + 10, static_cast<uint16_t>(~fold(sum16(f.data() + l.l3, ihl))));
}

void fillL4Checksum(std::vector<uint8_t>& f, const Layout& l) {
  if (l.l4 == 0) return;
  size_t len = l4Length(f, l);
  if (len == 0) return;
  size_t at = l4CsumOffset(l);
  putBe16(f, at, 0);
  uint16_t c = static_cast<uint16_t>(~fold(sum16(f.data() + l.l4, len, pseudo(f, l, len))));
  if (c == 0 && l.proto == 17) c = 0xFFFF;
  putBe16(f, at, c);
}

bool ipv4ChecksumOk(const std::vector<uint8_t>& f, const Layout& l) {
  return l.ipv4 && fold(sum16(f.data() + l.l3, 4u * (f[l.l3] & 0xF))) == 0xFFFF;
}

bool l4ChecksumOk(const std::vector<uint8_t>& f, const Layout& l) {
  if (l.l4 == 0) return false;
  size_t len = l4Length(f, l);
  if (len == 0) return false;
  if (l.proto == 17 && l.ipv4 && be16(f, l4CsumOffset(l)) == 0) return true;   // no checksum sent
  return fold(sum16(f.data() + l.l4, len, pseudo(f, l, len))) == 0xFFFF;
}

std::vector<std::vector<uint8_t>> segmentTcp(const std::vector<uint8_t>& f, uint32_t mss) {
  Layout l = parse(f);
  if (mss == 0 || l.l4 == 0 || l.proto != 6) return {f};
  // The payload is every gathered byte after the headers: the IP length of a
  // frame larger than 64 KB cannot say how long it is.
  size_t thl = 4u * (f[l.l4 + 12] >> 4);
  size_t hdr = l.l4 + thl;
  if (thl < 20 || hdr > f.size()) return {f};
  size_t payload = f.size() - hdr;
  std::vector<std::vector<uint8_t>> out;
  uint16_t id = l.ipv4 ? be16(f, l.l3 + 4) : 0;
  uint32_t seq = be32(f, l.l4 + 4);
  uint8_t flags = f[l.l4 + 13];
  for (size_t at = 0, n = 0; n == 0 || at < payload; at += mss, ++n) {
    size_t len = std::min<size_t>(mss, payload - at);
    std::vector<uint8_t> s(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(hdr));
    s.insert(s.end(), f.begin() + static_cast<std::ptrdiff_t>(hdr + at),
             f.begin() + static_cast<std::ptrdiff_t>(hdr + at + len));
    if (l.ipv4) {
      putBe16(s, l.l3 + 2, static_cast<uint16_t>(hdr - l.l3 + len));
      putBe16(s, l.l3 + 4, static_cast<uint16_t>(id + n));
    } else {
      putBe16(s, l.l3 + 4, static_cast<uint16_t>(hdr - l.l3 - 40 + len));
    }
    putBe32(s, l.l4 + 4, seq + static_cast<uint32_t>(at));
    uint8_t fl = flags;
    if (at + len < payload) fl &= static_cast<uint8_t>(~0x09);   // FIN, PSH: last segment only
    if (n > 0) fl &= static_cast<uint8_t>(~0x80);                // CWR: first segment only
    s[l.l4 + 13] = fl;
    fillIpv4Checksum(s, l);
    fillL4Checksum(s, l);
    out.push_back(std::move(s));
  }
  return out;
}

uint32_t toeplitz(const uint8_t* key, size_t key_len, const uint8_t* input, size_t n) {
  if (key_len < n + 4) return 0;
  uint32_t result = 0;
  uint32_t window = (static_cast<uint32_t>(key[0]) << 24) | (key[1] << 16) | (key[2] << 8) | key[3];
  for (size_t i = 0; i < n; ++i) {
    for (int b = 7; b >= 0; --b) {
      if ((input[i] >> b) & 1) result ^= window;
      window <<= 1;
      window |= (key[i + 4] >> b) & 1;
    }
  }
  return result;
}

bool rssHash(const std::vector<uint8_t>& f, const Layout& l, uint16_t types,
             const std::array<uint8_t, 40>& key, uint32_t* hash) {
  if (l.l3 == 0) return false;
  bool tcp = l.l4 != 0 && l.proto == 6, udp = l.l4 != 0 && l.proto == 17;
  bool ports, addrs;
  if (l.ipv4) {
    ports = (tcp && (types & kHashTcpIpv4)) || (udp && (types & kHashUdpIpv4));
    addrs = ports || (types & kHashIpv4) != 0;
  } else {
    ports = (tcp && (types & kHashTcpIpv6)) || (udp && (types & kHashUdpIpv6));
    addrs = ports || (types & kHashIpv6) != 0;
  }
  if (!addrs) return false;
  std::vector<uint8_t> in;
  if (l.ipv4) in.assign(f.begin() + static_cast<std::ptrdiff_t>(l.l3 + 12), f.begin() + static_cast<std::ptrdiff_t>(l.l3 + 20));
  else in.assign(f.begin() + static_cast<std::ptrdiff_t>(l.l3 + 8), f.begin() + static_cast<std::ptrdiff_t>(l.l3 + 40));
  if (ports) in.insert(in.end(), f.begin() + static_cast<std::ptrdiff_t>(l.l4), f.begin() + static_cast<std::ptrdiff_t>(l.l4 + 4));
  *hash = toeplitz(key.data(), key.size(), in.data(), in.size());
  return true;
}

}  // namespace adapter::dp

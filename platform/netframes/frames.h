// Ethernet frames for tests and the demo: a builder with every checksum
// filled, and a checker that re-reads a frame taken off a wire.
//
// Deliberately independent of the emulated adapter's frame code: the adapter
// computes checksums and segments TSO sends, and a test that verified them
// with the same routines would pass whatever those routines got wrong.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace netframes {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;

constexpr uint16_t kVxlanPort = 4789;

// What one frame carries. Addresses are derived from `flow` so frames of one
// flow share them.
struct Spec {
  Mac dst{0x02, 0, 0, 0, 0, 0x02};
  Mac src{0x02, 0, 0, 0, 0, 0x01};
  std::optional<uint16_t> vlan_tci;  // one 802.1Q tag when set
  bool ipv6 = false;
  uint8_t proto = 6;                 // 6 TCP, 17 UDP
  uint16_t sport = 40000, dport = 5001;
  uint32_t seq = 1000;
  uint16_t ip_id = 1;
  uint8_t tcp_flags = 0x18;          // PSH ACK
  Bytes payload;
  // Encapsulated: this frame becomes the inner frame of a VXLAN packet sent
  // from outer_src to outer_dst over IPv4 UDP.
  bool vxlan = false;
  uint32_t vni = 42;
};

inline void put16(Bytes& b, size_t o, uint16_t v) {
  b[o] = static_cast<uint8_t>(v >> 8);
  b[o + 1] = static_cast<uint8_t>(v);
}
inline void put32(Bytes& b, size_t o, uint32_t v) {
  put16(b, o, static_cast<uint16_t>(v >> 16));
  put16(b, o + 2, static_cast<uint16_t>(v));
}
inline uint16_t get16(const Bytes& b, size_t o) {
  return static_cast<uint16_t>(b[o] << 8 | b[o + 1]);
}
inline uint32_t get32(const Bytes& b, size_t o) {
  return static_cast<uint32_t>(get16(b, o)) << 16 | get16(b, o + 2);
}

// One's-complement sum of 16-bit big-endian words, not folded.
inline uint64_t onesSum(const uint8_t* p, size_t n, uint64_t acc = 0) {
  for (size_t i = 0; i + 1 < n; i += 2) acc += static_cast<uint64_t>(p[i] << 8 | p[i + 1]);
  if (n & 1) acc += static_cast<uint64_t>(p[n - 1]) << 8;
  return acc;
}
inline uint16_t foldInvert(uint64_t s) {
  while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
  return static_cast<uint16_t>(~s);
}

namespace detail {

// The L3 + L4 part of a frame, starting at `l3` in `f`; the L4 checksum
// field is filled last.
inline void appendIpAndL4(Bytes& f, const Spec& s, const Bytes& l4_payload) {
  const size_t l4_len = (s.proto == 6 ? 20 : 8) + l4_payload.size();
  const size_t l3 = f.size();
  const size_t ip_len = s.ipv6 ? 40 : 20;
  f.resize(l3 + ip_len + l4_len, 0);
  if (s.ipv6) {
    f[l3] = 0x60;
    put16(f, l3 + 4, static_cast<uint16_t>(l4_len));
    f[l3 + 6] = s.proto;
    f[l3 + 7] = 64;
    // fd00::1 to fd00::2
    f[l3 + 8] = 0xFD;
    f[l3 + 24] = 0xFD;
    f[l3 + 23] = 1;
    f[l3 + 39] = 2;
  } else {
    f[l3] = 0x45;
    put16(f, l3 + 2, static_cast<uint16_t>(ip_len + l4_len));
    put16(f, l3 + 4, s.ip_id);
    f[l3 + 8] = 64;
    f[l3 + 9] = s.proto;
    put32(f, l3 + 12, 0x0A000001);
    put32(f, l3 + 16, 0x0A000002);
    put16(f, l3 + 10, foldInvert(onesSum(&f[l3], 20)));
  }
  const size_t l4 = l3 + ip_len;
  put16(f, l4, s.sport);
  put16(f, l4 + 2, s.dport);
  if (s.proto == 6) {
    put32(f, l4 + 4, s.seq);
    put32(f, l4 + 8, 1);
    f[l4 + 12] = 0x50;
    f[l4 + 13] = s.tcp_flags;
    put16(f, l4 + 14, 0xFFFF);
  } else {
    put16(f, l4 + 4, static_cast<uint16_t>(l4_len));
  }
  std::copy(l4_payload.begin(), l4_payload.end(), f.begin() + static_cast<long>(l4 + (s.proto == 6 ? 20 : 8)));
  // Pseudo header: addresses, protocol, L4 length.
  uint64_t acc = s.ipv6 ? onesSum(&f[l3 + 8], 32) : onesSum(&f[l3 + 12], 8);
  acc += s.proto;
  acc += l4_len;
  uint16_t c = foldInvert(onesSum(&f[l4], l4_len, acc));
  if (s.proto == 17 && c == 0) c = 0xFFFF;
  put16(f, l4 + (s.proto == 6 ? 16 : 6), c);
}

inline Bytes ethernet(const Mac& dst, const Mac& src, std::optional<uint16_t> tci, uint16_t type) {
  Bytes f(dst.begin(), dst.end());
  f.insert(f.end(), src.begin(), src.end());
  if (tci) {
    f.resize(f.size() + 4);
    put16(f, 12, 0x8100);
    put16(f, 14, *tci);
  }
  f.resize(f.size() + 2);
  put16(f, f.size() - 2, type);
  return f;
}

}  // namespace detail

// A frame with valid checksums at every layer.
inline Bytes build(const Spec& s) {
  if (!s.vxlan) {
    Bytes f = detail::ethernet(s.dst, s.src, s.vlan_tci, s.ipv6 ? 0x86DD : 0x0800);
    detail::appendIpAndL4(f, s, s.payload);
    return f;
  }
  Spec inner = s;
  inner.vxlan = false;
  inner.vlan_tci.reset();
  inner.dst = Mac{0x02, 0xAA, 0, 0, 0, 2};
  inner.src = Mac{0x02, 0xAA, 0, 0, 0, 1};
  Bytes in = build(inner);
  // Sized once: GCC 12's bounds check (sanitizer builds) misreads a grow of
  // the 8-byte header by insert.
  Bytes vx(8 + in.size(), 0);
  vx[0] = 0x08;
  vx[4] = static_cast<uint8_t>(s.vni >> 16);
  vx[5] = static_cast<uint8_t>(s.vni >> 8);
  vx[6] = static_cast<uint8_t>(s.vni);
  std::copy(in.begin(), in.end(), vx.begin() + 8);
  Spec outer;
  outer.dst = s.dst;
  outer.src = s.src;
  outer.vlan_tci = s.vlan_tci;
  outer.proto = 17;
  outer.sport = s.sport;   // the flow's own, as the encapsulating host derives it from the inner flow
  outer.dport = kVxlanPort;
  outer.ip_id = s.ip_id;
  Bytes f = detail::ethernet(outer.dst, outer.src, outer.vlan_tci, 0x0800);
  detail::appendIpAndL4(f, outer, vx);
  return f;
}

// A frame as the checker reads it.
struct Parsed {
  bool ok = false;          // headers complete and lengths consistent
  std::optional<uint16_t> vlan_tci;
  bool ipv6 = false;
  uint8_t proto = 0;
  size_t l3 = 0, l4 = 0, payload_off = 0, payload_len = 0;
  bool ip_csum_ok = true;   // IPv4 only; IPv6 has none
  bool l4_csum_ok = false;
  uint32_t seq = 0;
  uint16_t ip_id = 0;
  uint8_t tcp_flags = 0;
  bool has_inner = false;   // VXLAN
  bool inner_ok = false;    // the inner frame's own checksums
};

inline Parsed parse(const Bytes& f, size_t off = 0, bool look_inside = true) {
  Parsed p;
  size_t o = off + 12;
  if (f.size() < o + 2) return p;
  uint16_t type = get16(f, o);
  if (type == 0x8100) {
    if (f.size() < o + 6) return p;
    p.vlan_tci = get16(f, o + 2);
    o += 4;
    type = get16(f, o);
  }
  p.l3 = o + 2;
  size_t l4_len = 0;
  if (type == 0x0800) {
    if (f.size() < p.l3 + 20 || (f[p.l3] >> 4) != 4) return p;
    const size_t ihl = static_cast<size_t>(f[p.l3] & 0xF) * 4;
    const size_t tot = get16(f, p.l3 + 2);
    if (ihl < 20 || tot < ihl || f.size() < p.l3 + tot) return p;
    p.ip_csum_ok = foldInvert(onesSum(&f[p.l3], ihl)) == 0;
    p.ip_id = get16(f, p.l3 + 4);
    p.proto = f[p.l3 + 9];
    p.l4 = p.l3 + ihl;
    l4_len = tot - ihl;
  } else if (type == 0x86DD) {
    if (f.size() < p.l3 + 40) return p;
    p.ipv6 = true;
    p.proto = f[p.l3 + 6];
    p.l4 = p.l3 + 40;
    l4_len = get16(f, p.l3 + 4);
    if (f.size() < p.l4 + l4_len) return p;
  } else {
    return p;
  }
  const size_t hl = p.proto == 6 ? (l4_len >= 20 ? static_cast<size_t>(f[p.l4 + 12] >> 4) * 4 : 0) : 8;
  if ((p.proto != 6 && p.proto != 17) || hl < 8 || l4_len < hl) return p;
  uint64_t acc = p.ipv6 ? onesSum(&f[p.l3 + 8], 32) : onesSum(&f[p.l3 + 12], 8);
  acc += p.proto;
  acc += l4_len;
  const bool udp_none = p.proto == 17 && !p.ipv6 && get16(f, p.l4 + 6) == 0;
  p.l4_csum_ok = udp_none || foldInvert(onesSum(&f[p.l4], l4_len, acc)) == 0;
  if (p.proto == 6) {
    p.seq = get32(f, p.l4 + 4);
    p.tcp_flags = f[p.l4 + 13];
  }
  p.payload_off = p.l4 + hl;
  p.payload_len = l4_len - hl;
  p.ok = true;
  if (look_inside && p.proto == 17 && get16(f, p.l4 + 2) == kVxlanPort && p.payload_len >= 8 + 14) {
    p.has_inner = true;
    Parsed in = parse(f, p.payload_off + 8, false);
    p.inner_ok = in.ok && in.ip_csum_ok && in.l4_csum_ok;
  }
  return p;
}

// Every checksum the frame carries is right (inner ones too).
inline bool checksumsValid(const Bytes& f) {
  const Parsed p = parse(f);
  return p.ok && p.ip_csum_ok && p.l4_csum_ok && (!p.has_inner || p.inner_ok);
}

inline Bytes payloadOf(const Bytes& f) {
  const Parsed p = parse(f, 0, false);
  if (!p.ok) return {};
  return Bytes(f.begin() + static_cast<long>(p.payload_off),
               f.begin() + static_cast<long>(p.payload_off + p.payload_len));
}

// The byte stream of TCP segments put back in sequence order; nullopt when
// a segment overlaps or a gap remains.
inline std::optional<Bytes> reassemble(const std::vector<Bytes>& segments) {
  std::map<uint32_t, Bytes> by_seq;
  for (const Bytes& s : segments) {
    const Parsed p = parse(s, 0, false);
    if (!p.ok || p.proto != 6) return std::nullopt;
    by_seq[p.seq] = payloadOf(s);
  }
  Bytes out;
  std::optional<uint32_t> next;
  for (auto& [seq, data] : by_seq) {
    if (next && seq != *next) return std::nullopt;
    out.insert(out.end(), data.begin(), data.end());
    next = seq + static_cast<uint32_t>(data.size());
  }
  return out;
}

// Payload bytes of a recognisable pattern, so a test sees where bytes moved.
inline Bytes pattern(size_t n, uint8_t salt = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + salt);
  return b;
}

}  // namespace netframes

// Test-side encoding of firmware commands: raw bytes at the interface's
// offsets (header 16 bytes, p+N = byte N + 16), written here independently of
// the engine's own helpers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fw_engine.h"

namespace fwtest {

inline void le(uint8_t* p, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint64_t rd(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

// One command: header + payload in a buffer of `cap` bytes.
struct Req {
  std::vector<uint8_t> b;
  Req(uint8_t sub, uint8_t op, uint32_t payload, uint8_t version = 0, uint8_t domain = 0,
      size_t cap = 0)
      : b(std::max<size_t>(16 + payload, cap), 0) {
    b[0] = op;
    b[1] = sub;
    b[3] = domain;
    le(&b[8], payload, 4);
    b[12] = version;
    std::memcpy(hdr, b.data(), 16);
  }
  uint8_t hdr[16];
  Req& u8(size_t p, uint8_t v) { b[16 + p] = v; return *this; }
  Req& u16(size_t p, uint16_t v) { le(&b[16 + p], v, 2); return *this; }
  Req& u32(size_t p, uint32_t v) { le(&b[16 + p], v, 4); return *this; }
  Req& bytes(size_t p, const void* s, size_t n) { std::memcpy(&b[16 + p], s, n); return *this; }
  Req& text(size_t p, const std::string& s) { return bytes(p, s.c_str(), s.size() + 1); }
  // Page list of {u32 low, u32 high} entries.
  Req& pages(size_t p, uint64_t first, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      u32(p + 8 * i, static_cast<uint32_t>(first + 4096ull * i));
      u32(p + 8 * i + 4, static_cast<uint32_t>((first + 4096ull * i) >> 32));
    }
    return *this;
  }
  uint8_t r8(size_t p) const { return b[16 + p]; }
  uint16_t r16(size_t p) const { return static_cast<uint16_t>(rd(&b[16 + p], 2)); }
  uint32_t r32(size_t p) const { return static_cast<uint32_t>(rd(&b[16 + p], 4)); }
  std::string rtext(size_t p, size_t n) const {
    std::string s;
    for (size_t i = 0; i < n && b[16 + p + i]; ++i) s.push_back(static_cast<char>(b[16 + p + i]));
    return s;
  }
  uint8_t status() const { return b[4]; }
  uint8_t additional() const { return b[5]; }
  uint32_t respLen() const { return static_cast<uint32_t>(rd(&b[8], 4)); }
  uint32_t actualLen() const { return static_cast<uint32_t>(rd(&b[12], 4)); }

  adapter::Outcome run(adapter::Engine& fw, unsigned fn = 0,
                       adapter::Carrier c = adapter::Carrier::Mailbox, adapter::Dma* dma = nullptr) {
    std::memcpy(b.data(), hdr, 16);   // a request can be sent again
    adapter::Request rq;
    rq.fn = fn;
    rq.carrier = c;
    rq.buf = b.data();
    rq.cap = b.size();
    rq.dma = dma;
    return fw.execute(rq);
  }
};

// Bus addresses the tests hand over in page lists (never touched by the engine).
constexpr uint64_t kPage = 0x2000000000ull;

// A request as the management library sends it (the character devices' carrier).
inline adapter::Outcome host(Req& r, adapter::Engine& fw, unsigned fn = 0) {
  return r.run(fw, fn, adapter::Carrier::Ioctl);
}
// Answers of the host's commands: not supported (status 2, additional 30),
// an illegal field.
constexpr uint8_t kNotSupported = 2, kNotSupportedAdd = 30, kIllegal = 3;

inline uint8_t cqVersion(adapter::Gen g) {
  return (g == adapter::Gen::KS2 || g == adapter::Gen::KS3) ? 0 : 2;
}

// Queue creation with the encodings of the interface.
inline uint32_t makeEq(adapter::Engine& fw, unsigned fn = 0, uint32_t count_code = 2,
                       uint32_t mult = 0, uint8_t* status = nullptr) {
  Req c(1, 13, 84);
  c.u16(0, 1).u32(4, 1u << 29).u32(8, count_code << 26).u32(12, mult << 13).pages(20, kPage, 1);
  c.run(fw, fn);
  if (status) *status = c.status();
  return c.status() == 0 ? c.r16(0) : 0;
}

inline uint32_t makeCq(adapter::Engine& fw, uint32_t eq, unsigned fn = 0, uint8_t* status = nullptr,
                       uint32_t count_code = 2) {
  uint8_t v = cqVersion(fw.gen());
  Req c(1, 12, 84, v);
  c.u16(0, 4).pages(20, kPage, 4);
  if (v == 0) {
    c.u32(4, (count_code << 27) | (1u << 29) | (1u << 31)).u32(8, ((eq & 0xFF) << 22) | (1u << 31));
  } else {
    c.u8(2, 1).u32(4, (count_code << 27) | (1u << 29) | (1u << 31)).u32(8, (eq & 0xFFFF) | (1u << 31));
  }
  c.run(fw, fn);
  if (status) *status = c.status();
  return c.status() == 0 ? c.r16(0) : 0;
}

inline uint32_t makeMcc(adapter::Engine& fw, uint32_t cq, unsigned fn = 0,
                        uint32_t mask = 0x62, uint8_t* status = nullptr, uint64_t ring = kPage) {
  bool piv = fw.gen() == adapter::Gen::Pivard;
  Req c(1, 90, 88, piv ? 1 : 0);
  c.u16(0, 8).u32(4, mask).pages(24, ring, 8);
  if (!piv) {
    c.u32(8, (8u << 16) | (cq << 22)).u32(12, 1u << 31);
  } else {
    c.u16(2, static_cast<uint16_t>(cq)).u32(8, cq | (8u << 16)).u32(12, 1u << 31).u32(16, 1);
  }
  c.run(fw, fn);
  if (status) *status = c.status();
  return c.status() == 0 ? c.r16(0) : 0;
}

inline uint32_t makeIf(adapter::Engine& fw, unsigned fn = 0, const uint8_t* mac = nullptr,
                       uint32_t* pmac = nullptr, uint8_t domain = 0) {
  Req c(1, 50, 24, 0, domain);
  c.u32(4, 0xAB8).u32(8, 0x218);
  if (mac) c.bytes(12, mac, 6);
  else c.u8(19, 1);
  c.run(fw, fn);
  if (pmac) *pmac = c.r32(4);
  return c.status() == 0 ? c.r32(0) : 0xFFFFFFFFu;
}

}  // namespace fwtest

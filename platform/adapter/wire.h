// Little-endian field access for the adapter's firmware formats.
//
// Every firmware structure is read and written through these helpers at the
// byte offsets of the format, never through C structs laid over the bytes, so
// the model holds no opinion about padding or host byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace adapter::wire {

inline uint8_t get8(const uint8_t* p, size_t off) { return p[off]; }
inline uint16_t get16(const uint8_t* p, size_t off) {
  return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
inline uint32_t get32(const uint8_t* p, size_t off) {
  return static_cast<uint32_t>(p[off]) | (static_cast<uint32_t>(p[off + 1]) << 8) |
         (static_cast<uint32_t>(p[off + 2]) << 16) | (static_cast<uint32_t>(p[off + 3]) << 24);
}
inline uint64_t get64(const uint8_t* p, size_t off) {
  return get32(p, off) | (static_cast<uint64_t>(get32(p, off + 4)) << 32);
}
inline void put8(uint8_t* p, size_t off, uint8_t v) { p[off] = v; }
inline void put16(uint8_t* p, size_t off, uint16_t v) {
  p[off] = static_cast<uint8_t>(v);
  p[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put64(uint8_t* p, size_t off, uint64_t v) {
  put32(p, off, static_cast<uint32_t>(v));
  put32(p, off + 4, static_cast<uint32_t>(v >> 32));
}

// Reads fields one after another from a block of n bytes (the flash file's
// sections). A read past the end yields nothing (null, zero, empty) and leaves
// ok() false for good, so a decoder reads on and checks once at the end.
class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  const uint8_t* take(size_t k) {
    if (!ok_ || k > n_ - at_) {
      ok_ = false;
      return nullptr;
    }
    at_ += k;
    return p_ + at_ - k;
  }
  uint8_t u8() {
    const uint8_t* q = take(1);
    return q != nullptr ? q[0] : 0;
  }
  uint16_t u16() {
    const uint8_t* q = take(2);
    return q != nullptr ? get16(q, 0) : 0;
  }
  uint32_t u32() {
    const uint8_t* q = take(4);
    return q != nullptr ? get32(q, 0) : 0;
  }
  bool ok() const { return ok_; }
  // Every byte read and nothing past the end.
  bool done() const { return ok_ && at_ == n_; }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace adapter::wire

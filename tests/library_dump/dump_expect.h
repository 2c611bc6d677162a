// What the tests expect of the core-dump file, worked out apart from the
// library: the layout of the file, the pattern the dump programs write, and
// which program reads which registers (by the content its name states).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "fw_library_dump.h"

namespace dumptest {

inline uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// One segment as the file holds it.
struct Segment {
  uint32_t component = 0, segment = 0, compress = 0;
  uint8_t low = 0, high = 0;
  uint16_t pci_function = 0;
  uint32_t offset = 0, length = 0, status = 0, elapsed = 0, header_size = 0, instance = 0;
  bool reserved_zero = true;
  std::vector<uint8_t> stored;  // the bytes after the header
  std::vector<uint8_t> data;    // inflated when compressed
  bool inflated_ok = true;
  uint32_t uncompressed_length = 0;  // the word after the stream
};

struct Trailer {
  std::vector<uint8_t> raw;  // 1024 bytes
  uint8_t chip_state() const { return raw[10]; }
  std::string host() const { return text(16, 32); }
  uint16_t start(int i) const { return le16(raw.data() + 48 + 2 * i); }
  int16_t start_bias() const { return static_cast<int16_t>(le16(raw.data() + 60)); }
  std::string dump_string() const { return text(64, 256); }
  uint32_t successful() const { return le32(raw.data() + 320); }
  uint32_t os_major() const { return le32(raw.data() + 324); }
  uint32_t os_minor() const { return le32(raw.data() + 328); }
  std::string os_name() const { return text(332, 36); }
  uint16_t written(int i) const { return le16(raw.data() + 368 + 2 * i); }
  uint32_t sli_intf() const { return le32(raw.data() + 384); }
  uint32_t asic_id() const { return le32(raw.data() + 388); }
  uint32_t failed() const { return le32(raw.data() + 392); }
  uint8_t low() const { return raw[396]; }
  uint8_t high() const { return raw[397]; }
  // Every byte the format leaves zero, and the constant one.
  bool fixed_bytes_ok() const {
    auto zero = [&](size_t from, size_t n) {
      for (size_t i = from; i < from + n; ++i)
        if (raw[i] != 0) return false;
      return true;
    };
    return memcmp(raw.data(), "cOrE", 4) == 0 && zero(4, 5) && raw[9] == 1 && zero(11, 5) && zero(62, 2) &&
           zero(382, 2) && zero(398, 626) && raw[16 + 31] == 0 && raw[64 + 255] == 0 && raw[332 + 35] == 0;
  }
  std::string text(size_t at, size_t n) const {
    std::string s(reinterpret_cast<const char*>(raw.data()) + at, n);
    return s.substr(0, s.find('\0'));
  }
};

struct File {
  std::vector<Segment> segments;
  bool has_trailer = false;
  Trailer trailer;
  std::string error;   // empty: the file is a sequence of whole segments and one trailer
  size_t size = 0;
};

inline std::vector<uint8_t> readAll(const std::string& path, bool* ok = nullptr) {
  std::vector<uint8_t> b;
  FILE* fp = fopen(path.c_str(), "rb");
  if (ok != nullptr) *ok = fp != nullptr;
  if (fp == nullptr) return b;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, fp)) > 0) b.insert(b.end(), chunk, chunk + n);
  fclose(fp);
  return b;
}

inline File parse(const std::string& path) {
  File f;
  bool ok = false;
  std::vector<uint8_t> b = readAll(path, &ok);
  f.size = b.size();
  if (!ok) {
    f.error = "no file";
    return f;
  }
  size_t at = 0;
  while (at < b.size()) {
    size_t left = b.size() - at;
    if (left == 1024 && memcmp(&b[at], "cOrE", 4) == 0) {
      f.has_trailer = true;
      f.trailer.raw.assign(b.begin() + at, b.end());
      return f;
    }
    if (left < 64 || memcmp(&b[at], "sEgM", 4) != 0) {
      f.error = "no segment header at " + std::to_string(at);
      return f;
    }
    const uint8_t* h = &b[at];
    Segment s;
    s.component = le32(h + 4);
    s.segment = le32(h + 8);
    s.compress = le32(h + 12);
    s.low = h[16];
    s.high = h[17];
    s.pci_function = le16(h + 18);
    s.offset = le32(h + 20);
    s.length = le32(h + 24);
    s.status = le32(h + 28);
    s.elapsed = le32(h + 32);
    s.header_size = le32(h + 36);
    s.instance = le32(h + 40);
    for (int i = 44; i < 64; ++i) s.reserved_zero = s.reserved_zero && h[i] == 0;
    if (s.length > left - 64) {
      f.error = "segment data cut short at " + std::to_string(at);
      return f;
    }
    s.stored.assign(b.begin() + at + 64, b.begin() + at + 64 + s.length);
    if (s.compress == 1) {
      if (s.stored.size() < 4) {
        s.inflated_ok = false;
      } else {
        s.uncompressed_length = le32(s.stored.data() + s.stored.size() - 4);
        s.data.resize(s.uncompressed_length);
        uLongf out = s.uncompressed_length;
        int rc = uncompress(s.data.data(), &out, s.stored.data(), static_cast<uLong>(s.stored.size() - 4));
        s.inflated_ok = rc == Z_OK && out == s.uncompressed_length;
      }
    } else {
      s.data = s.stored;
    }
    at += 64 + s.length;
    f.segments.push_back(std::move(s));
  }
  f.error = "no closing record";
  return f;
}

// The pattern word of the dump programs at position p (a multiple of 4):
// one value per 64-byte block.
inline uint32_t patternWord(uint32_t segment, uint32_t instance, uint32_t p) {
  return (segment << 20) + instance + (p & ~63u);
}
inline std::vector<uint8_t> pattern(uint32_t segment, uint32_t instance, uint32_t length) {
  std::vector<uint8_t> v(length);
  for (uint32_t p = 0; p < length; ++p) v[p] = static_cast<uint8_t>(patternWord(segment, instance, p & ~3u) >> (8 * (p & 3)));
  return v;
}

inline unsigned pcicfgBar(adapter::Gen g) { return g == adapter::Gen::KS2 ? 1 : 0; }

inline std::vector<uint8_t> registers(hostbus::Function* fn, unsigned bar, uint32_t length) {
  std::vector<uint8_t> v(length);
  for (uint32_t p = 0; p + 4 <= length; p += 4) {
    uint32_t w = fn->barRead(bar, p, 4);
    for (int i = 0; i < 4; ++i) v[p + i] = static_cast<uint8_t>(w >> (8 * i));
  }
  return v;
}

// What a program of the given name writes for a whole instance of `length`
// bytes on function 0 of `card`.
inline std::vector<uint8_t> programContent(const std::string& name, uint32_t segment, uint32_t instance,
                                           uint32_t length, adapter::Adapter& card) {
  auto endsWith = [&](const char* tail) {
    size_t n = strlen(tail);
    return name.size() >= n && name.compare(name.size() - n, n, tail) == 0;
  };
  if (endsWith("_pci_cfg") || endsWith("_audit_pcisizes"))
    return registers(card.function(0), pcicfgBar(card.gen()), length);
  if (endsWith("_csr") || endsWith("_vital_registers")) return registers(card.function(0), 2, length);
  if (endsWith("_audit_lengthsstatuses")) return pattern(segment, instance, length > instance ? length - instance : 0);
  if (endsWith("_audit_nodata")) return {};
  return pattern(segment, instance, length);
}

// The segment status a program ends with.
inline uint32_t programStatus(const std::string& name, uint32_t instance) {
  if (name.find("_audit_badstatus") != std::string::npos) return 0x0BAD;
  if (name.find("_audit_lengthsstatuses") != std::string::npos) return instance;
  return 0;
}

inline std::vector<uint8_t> firmwareContent(uint32_t component, uint32_t segment, uint32_t instance, uint32_t length) {
  std::vector<uint8_t> v(length);
  for (uint32_t p = 0; p < length; ++p) v[p] = adapter::firmwareSegmentByte(component, segment, instance, p);
  return v;
}

}  // namespace dumptest

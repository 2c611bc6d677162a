// Firmware image files for tests, fuzz seeds and benchmarks (fwimage.h).
#include "fwimage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "fw_flash_components.h"

namespace fwimage {

namespace {

constexpr char kSignature[] = "Kestrimondale Corp";   // 18 bytes, no NUL in the file
constexpr char kCookieA[16] = {'*', '*', '*', ' ', 'K', 'D', ' ', 'F', 'L', 'A', 'S', 0, 0, 0, 0, 0};
constexpr char kCookieB[] = "H DIRECTORY *** ";
constexpr uint64_t kHeaderKs2 = 96, kHeader = 128, kImageHeader = 48;
constexpr uint64_t kDirCount = 44, kDirEntries = 192, kDirEntry = 64, kDirRead = 2256;
constexpr uint32_t kStamp = 64, kVersionAt = 0x100;

// A component's CRC word: any value but the erased flash's, from what it is.
uint32_t crcOf(uint32_t image_type, uint32_t seed, uint32_t size) {
  uint32_t h = 2166136261u;
  for (uint32_t v : {image_type, seed, size})
    for (int i = 0; i < 4; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 16777619u;
  return h == 0xFFFFFFFFu ? 0x5A5A5A5Au : h;
}

// The bytes of one component into the image at `at`.
uint32_t component(Image& img, uint64_t at, uint32_t image_type, uint32_t size, uint32_t seed, bool dense,
                   const std::string& version) {
  if (dense && size > 0) {
    std::vector<uint8_t> fill(size);
    for (uint32_t i = 0; i < size; ++i) fill[i] = static_cast<uint8_t>(i * 31 + seed + image_type + (i >> 12));
    img.put(at, fill.data(), fill.size());
  }
  if (size >= kStamp + 4) {
    uint8_t stamp[kStamp];
    for (uint32_t i = 0; i < kStamp; ++i) stamp[i] = static_cast<uint8_t>(0x40 + (i ^ image_type ^ seed));
    std::memcpy(stamp, "FWIMG", 5);
    stamp[5] = static_cast<uint8_t>(image_type);
    stamp[6] = static_cast<uint8_t>(seed);
    img.put(at, stamp, kStamp);
  }
  if (!version.empty() && size >= kVersionAt + sizeof adapter::kFwVersionMark + adapter::kFwVersionTextSize + 4) {
    img.put(at + kVersionAt, adapter::kFwVersionMark, sizeof adapter::kFwVersionMark);
    img.text(at + kVersionAt + sizeof adapter::kFwVersionMark, version, adapter::kFwVersionTextSize);
  }
  uint32_t crc = crcOf(image_type, seed, size);
  if (size >= 4) img.put32(at + size - 4, crc);
  return crc;
}

void header(Image& img, char generation, uint8_t revision, const std::vector<uint32_t>& ids) {
  img.put(0, kSignature, 18);
  img.put8(72, static_cast<uint8_t>(generation));
  if (generation == '2') return;   // KS2: 96 bytes, no image headers
  img.put8(96, revision);
  img.put32(68, static_cast<uint32_t>(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i) img.put32(kHeader + kImageHeader * i, ids[i]);
}

void directory(Image& img, uint64_t at, const std::vector<Part>& parts) {
  img.put(at, kCookieA, 16);
  img.put(at + 16, kCookieB, 16);
  img.put32(at + kDirCount, static_cast<uint32_t>(parts.size()));
  for (size_t i = 0; i < parts.size() && i < 32; ++i) {
    uint64_t e = at + kDirEntries + kDirEntry * i;
    img.put32(e + 0, parts[i].image_type);
    img.put32(e + 4, parts[i].offset);
    img.put32(e + 8, parts[i].size);
    img.put16(e + 24, static_cast<uint16_t>(parts[i].optype));
  }
}

const std::string& versionFor(const UfiOptions& o, uint32_t image_type, bool* used) {
  static const std::string none;
  if (*used || image_type != 0xA0) return none;
  *used = true;
  return o.version;
}

}  // namespace

const Region kKs2Regions[8] = {
    {0x100000, 0x140000, 0}, {0x240000, 0x140000, 9}, {0x380000, 0x140000, 10}, {0x4C0000, 0x140000, 11},
    {0x000000, 0x40000, 1},  {0x700000, 0x40000, 2},  {0x080000, 0x40000, 8},   {0x780000, 0x40000, 3},
};

const Ks3Row kKs3Rows[10] = {
    {0x200000, 0, 0x200000, 0xA0}, {0x40000, 1, 0x100000, 0xE0},   {0xC00000, 2, 0x80000, 0x22},
    {0xC80000, 3, 0x80000, 0x20},  {0xD00000, 8, 0x80000, 0x21},   {0x400000, 9, 0x200000, 0xB0},
    {0x600000, 10, 0x200000, 0xA2}, {0x800000, 11, 0x200000, 0xB2}, {0xF40000, 13, 0x40000, 0x10},
    {0x140000, 99, 0x40000, 0xC0},
};

uint32_t veskarnOptype(uint32_t image_type) {
  switch (image_type) {
    case 0xA0: return 0;
    case 0x21: return 8;
    case 0x10: return 13;
    case 0x20: return 3;
    case 0x30: return 22;
    case 0x22: return 2;
    case 0xD0: return 18;
    case 0xB0: return 9;
    case 0xC0: return 21;
    case 0xD1: return 19;
    case 0xD2: return 23;
    case 0xE0: return 1;
    default: return 0xFFFFFFFFu;
  }
}

// ---- Image ----

void Image::put(uint64_t offset, const void* data, size_t n) {
  if (n == 0) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  extents.push_back({offset, std::vector<uint8_t>(p, p + n)});
  size = std::max(size, offset + n);
}

void Image::put16(uint64_t offset, uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  put(offset, b, 2);
}

void Image::put32(uint64_t offset, uint32_t v) {
  uint8_t b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  put(offset, b, 4);
}

void Image::text(uint64_t offset, const std::string& s, size_t field) {
  std::vector<uint8_t> b(field, 0);
  std::memcpy(b.data(), s.data(), std::min(s.size(), field));
  put(offset, b.data(), b.size());
}

std::vector<uint8_t> Image::read(uint64_t offset, size_t n) const {
  std::vector<uint8_t> out(n, 0);
  const uint64_t hi = std::min<uint64_t>(offset + n, size);
  for (const Extent& e : extents) {
    uint64_t a = std::max(offset, e.offset), b = std::min(hi, e.offset + e.bytes.size());
    if (a < b) std::memcpy(out.data() + (a - offset), e.bytes.data() + (a - e.offset), static_cast<size_t>(b - a));
  }
  return out;
}

uint32_t Image::get32(uint64_t offset) const {
  std::vector<uint8_t> b = read(offset, 4);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

std::vector<uint8_t> Image::flat() const { return read(0, static_cast<size_t>(size)); }

void Image::resize(uint64_t new_size) { size = new_size; }

bool Image::write(const std::string& path) const {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const Extent& e : extents) {
    if (!ok || e.offset >= size) continue;
    size_t n = static_cast<size_t>(std::min<uint64_t>(e.bytes.size(), size - e.offset));
    ok = ::pwrite(fd, e.bytes.data(), n, static_cast<off_t>(e.offset)) == static_cast<ssize_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

std::vector<uint8_t> Image::compact() const {
  std::vector<uint8_t> out;
  auto add = [&out](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  add(std::min<uint64_t>(size, 0xFFFFFFFFu), 4);
  for (const Extent& e : extents) {
    for (size_t at = 0; at < e.bytes.size() && e.offset + at < size;) {
      size_t n = std::min<size_t>({e.bytes.size() - at, 0xFFFF, static_cast<size_t>(size - e.offset - at)});
      add(e.offset + at, 4);
      add(n, 2);
      out.insert(out.end(), e.bytes.begin() + static_cast<long>(at), e.bytes.begin() + static_cast<long>(at + n));
      at += n;
    }
  }
  return out;
}

Image Image::fromCompact(const uint8_t* data, size_t n, uint64_t max_size) {
  Image img;
  if (n < 4) return img;
  auto get = [&](size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(data[at + i]) << (8 * i);
    return v;
  };
  uint64_t size = std::min<uint64_t>(get(0, 4), max_size);
  size_t at = 4;
  while (n - at >= 6) {
    uint64_t offset = get(at, 4);
    size_t len = std::min<size_t>(get(at + 4, 2), n - at - 6);
    at += 6;
    if (offset < size) img.put(offset, data + at, static_cast<size_t>(std::min<uint64_t>(len, size - offset)));
    at += len;
  }
  img.size = size;
  return img;
}

// ---- UFI images ----

Ufi ks2(const UfiOptions& o) {
  Ufi u;
  header(u.image, '2', o.revision, {});
  u.base = kHeaderKs2;
  bool used = false;
  for (const Region& r : kKs2Regions) {
    Part p{0, r.optype, kHeaderKs2 + r.ufi_offset, r.ufi_offset, r.size, 0};
    const std::string& v = r.optype == 0 && !used ? (used = true, o.version) : std::string();
    p.crc = component(u.image, p.file_offset, 0x100 + r.optype, r.size, o.seed, o.dense, v);
    u.parts.push_back(p);
  }
  // The directory sits in the gap between the boot code and region 7.
  u.directory = kHeaderKs2 + 0x40000;
  directory(u.image, u.directory, {});
  u.image.resize(kHeaderKs2 + 0x7C0000);
  return u;
}

Ufi ks3(const UfiOptions& o) {
  Ufi u;
  header(u.image, '3', o.revision, o.image_ids);
  u.base = kHeader + kImageHeader * o.image_ids.size();
  std::vector<Entry> entries = o.entries;
  if (entries.empty()) entries = {{0xA0}, {0xE0}};
  bool used = false;
  uint64_t end = u.base + kDirRead;
  for (const Entry& e : entries) {
    for (const Ks3Row& r : kKs3Rows) {
      if (r.image_type != e.image_type) continue;
      Part p{r.image_type, r.optype, u.base + r.ufi_offset, r.ufi_offset, r.size, 0};
      p.crc = component(u.image, p.file_offset, r.image_type, r.size, o.seed, o.dense, versionFor(o, r.image_type, &used));
      u.parts.push_back(p);
      end = std::max<uint64_t>(end, p.file_offset + r.size);
    }
  }
  u.directory = u.base;
  directory(u.image, u.directory, u.parts);
  u.image.resize(end);
  return u;
}

Ufi veskarn(const UfiOptions& o) {
  Ufi u;
  header(u.image, '4', o.revision, o.image_ids);
  u.base = kHeader + kImageHeader * o.image_ids.size();
  std::vector<Entry> entries = o.entries;
  if (entries.empty())
    entries = {{0xA0, 0, 0x1000, 0x9000}, {0xE0, 1, 0xA000, 0x2000}, {0x30, 0xFFFF, 0xC000, 0x1000},
               {0xD0, 0xFFFF, 0xD000, 0x1800}};
  bool used = false;
  uint64_t end = u.base + kDirRead;
  for (const Entry& e : entries) {
    Part p{e.image_type, e.optype, u.base + e.offset, e.offset, e.size, 0};
    p.crc = component(u.image, p.file_offset, e.image_type, e.size, o.seed, o.dense, versionFor(o, e.image_type, &used));
    u.parts.push_back(p);
    end = std::max<uint64_t>(end, p.file_offset + e.size);
  }
  u.directory = u.base;
  directory(u.image, u.directory, u.parts);
  u.image.resize(end);
  return u;
}

void setSignature(Ufi& u, const std::string& text) { u.image.text(0, text, 18); }
void setGeneration(Ufi& u, char generation) { u.image.put8(72, static_cast<uint8_t>(generation)); }
void setImageCount(Ufi& u, uint32_t count) { u.image.put32(68, count); }
void setImageId(Ufi& u, size_t index, uint32_t id) { u.image.put32(kHeader + kImageHeader * index, id); }
void setDirectoryCount(Ufi& u, uint32_t count) { u.image.put32(u.directory + kDirCount, count); }

void setEntryField(Ufi& u, size_t entry, size_t field_offset, uint32_t value, size_t width) {
  uint64_t at = u.directory + kDirEntries + kDirEntry * entry + field_offset;
  if (width == 2)
    u.image.put16(at, static_cast<uint16_t>(value));
  else
    u.image.put32(at, value);
}

void breakCookie(Ufi& u) { u.image.put8(u.directory + 16, 'X'); }

// ---- Pivard object files ----

Image pivard(const PivardOptions& o) {
  Image img;
  const uint32_t total = 184 + o.data_bytes;
  uint8_t h[184] = {};
  for (int i = 0; i < 4; ++i) h[i] = static_cast<uint8_t>(total >> (8 * i));
  if (o.second_magic) {
    h[6] = 0xAA;
    h[7] = 0xFE;
  } else {
    h[4] = 1;
  }
  h[11] = 0xF7;
  std::memcpy(h + 12, "Pivard emulated firmware", 24);
  std::memcpy(h + 140, "2026-01-15", 10);
  std::memcpy(h + 152, o.version.data(), std::min<size_t>(o.version.size(), 32));
  if (o.big_endian)
    for (int w = 0; w < 3; ++w) std::reverse(h + 4 * w, h + 4 * w + 4);
  img.put(0, h, sizeof h);
  std::vector<uint8_t> data(o.data_bytes);
  for (uint32_t i = 0; i < o.data_bytes; ++i) data[i] = static_cast<uint8_t>(i * 13 + o.seed + (i >> 8));
  img.put(184, data.data(), data.size());
  img.size = total;
  return img;
}

}  // namespace fwimage

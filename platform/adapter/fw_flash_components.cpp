// The firmware the adapter's flash holds (fw_flash_components.h).
//
// Section 41 of the flash file, little-endian:
//   u32 optype count; per optype: u32 optype, u32 segment count; per segment
//     a blob (below) whose first u32 is the segment's flash offset
//   the program object: a blob without the offset word
//   u16 n + the version text
// A blob: [u32 offset,] u32 length, u32 run count, per run u32 start in the
// blob, u32 length, the bytes; what no run covers is zero.
#include "fw_flash_components.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "fw_engine.h"
#include "fw_profile.h"
#include "wire.h"

namespace adapter {

namespace {

constexpr size_t kRunBlock = 4096;

void add32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool allZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

// Non-zero 4 KiB blocks of b, merged into runs.
void addRuns(std::vector<uint8_t>& out, const std::vector<uint8_t>& b) {
  std::vector<std::pair<size_t, size_t>> runs;
  for (size_t at = 0; at < b.size(); at += kRunBlock) {
    size_t n = std::min(kRunBlock, b.size() - at);
    if (allZero(b.data() + at, n)) continue;
    if (!runs.empty() && runs.back().first + runs.back().second == at)
      runs.back().second += n;
    else
      runs.push_back({at, n});
  }
  add32(out, static_cast<uint32_t>(b.size()));
  add32(out, static_cast<uint32_t>(runs.size()));
  for (const auto& [at, n] : runs) {
    add32(out, static_cast<uint32_t>(at));
    add32(out, static_cast<uint32_t>(n));
    out.insert(out.end(), b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
  }
}

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  uint32_t u32() {
    if (!ok_ || n_ - at_ < 4) return fail();
    at_ += 4;
    return wire::get32(p_, at_ - 4);
  }
  uint16_t u16() {
    if (!ok_ || n_ - at_ < 2) return static_cast<uint16_t>(fail());
    at_ += 2;
    return wire::get16(p_, at_ - 2);
  }
  const uint8_t* take(size_t k) {
    if (!ok_ || k > n_ - at_) {
      fail();
      return nullptr;
    }
    at_ += k;
    return p_ + at_ - k;
  }
  // A blob of at most `limit` bytes.
  bool blob(std::vector<uint8_t>* b, size_t limit) {
    uint32_t length = u32(), runs = u32();
    if (!ok_ || length > limit) return fail() != 0;
    b->assign(length, 0);
    for (uint32_t r = 0; r < runs && ok_; ++r) {
      uint32_t at = u32(), n = u32();
      if (!ok_ || at > length || n > length - at) return fail() != 0;
      const uint8_t* src = take(n);
      if (src != nullptr) std::memcpy(b->data() + at, src, n);
    }
    return ok_;
  }

 private:
  uint32_t fail() {
    ok_ = false;
    return 0;
  }
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

// A flash region is at most 4 GiB; a segment read back from a file larger
// than what this reader accepts is refused rather than allocated.
constexpr size_t kMaxBlob = size_t(256) << 20;

}  // namespace

void FlashComponents::place(uint32_t optype, uint32_t offset, const uint8_t* data, size_t n) {
  if (n == 0) return;
  std::map<uint32_t, std::vector<uint8_t>>& segs = flashed[optype];
  const uint64_t lo = offset, hi = uint64_t(offset) + n;
  // The first segment that overlaps or touches [lo, hi).
  auto first = segs.upper_bound(offset);
  if (first != segs.begin()) {
    auto prev = std::prev(first);
    if (uint64_t(prev->first) + prev->second.size() >= lo) first = prev;
  }
  // Written inside (or at the end of) one segment that nothing else touches:
  // in place, so a download of many chunks does not copy what it has so far.
  if (first != segs.end() && first->first <= lo) {
    auto next = std::next(first);
    if (next == segs.end() || uint64_t(next->first) > hi) {
      std::vector<uint8_t>& s = first->second;
      size_t at = static_cast<size_t>(lo - first->first);
      if (s.size() < at + n) s.resize(at + n, kErasedByte);
      std::memcpy(s.data() + at, data, n);
      return;
    }
  }
  uint64_t new_lo = lo, new_hi = hi;
  auto last = first;
  while (last != segs.end() && uint64_t(last->first) <= hi) {
    new_lo = std::min<uint64_t>(new_lo, last->first);
    new_hi = std::max<uint64_t>(new_hi, uint64_t(last->first) + last->second.size());
    ++last;
  }
  std::vector<uint8_t> merged(static_cast<size_t>(new_hi - new_lo), kErasedByte);
  for (auto it = first; it != last; ++it)
    std::memcpy(merged.data() + (it->first - new_lo), it->second.data(), it->second.size());
  std::memcpy(merged.data() + (lo - new_lo), data, n);
  segs.erase(first, last);
  segs.emplace(static_cast<uint32_t>(new_lo), std::move(merged));
}

std::vector<uint8_t> FlashComponents::read(uint32_t optype, uint32_t offset, size_t n) const {
  std::vector<uint8_t> out(n, kErasedByte);
  auto o = flashed.find(optype);
  if (o == flashed.end()) return out;
  const uint64_t lo = offset, hi = uint64_t(offset) + n;
  auto it = o->second.upper_bound(offset);
  if (it != o->second.begin()) --it;
  for (; it != o->second.end() && uint64_t(it->first) < hi; ++it) {
    uint64_t s_lo = it->first, s_hi = s_lo + it->second.size();
    uint64_t a = std::max(lo, s_lo), b = std::min(hi, s_hi);
    if (a < b) std::memcpy(out.data() + (a - lo), it->second.data() + (a - s_lo), static_cast<size_t>(b - a));
  }
  return out;
}

bool FlashComponents::written(uint32_t optype, uint32_t offset, size_t n) const {
  auto o = flashed.find(optype);
  if (o == flashed.end()) return n == 0;
  auto it = o->second.upper_bound(offset);
  if (it == o->second.begin()) return n == 0;
  --it;
  return uint64_t(it->first) + it->second.size() >= uint64_t(offset) + n;
}

size_t FlashComponents::bytes(uint32_t optype) const {
  auto o = flashed.find(optype);
  size_t total = 0;
  if (o != flashed.end())
    for (const auto& [at, s] : o->second) total += s.size();
  return total;
}

std::string findFirmwareVersion(const uint8_t* data, size_t n) {
  const size_t need = sizeof kFwVersionMark + kFwVersionTextSize;
  if (data == nullptr || n < need) return {};
  // The mark must leave room for its text: only starts up to n - need count.
  const uint8_t* end = data + n - need + sizeof kFwVersionMark;
  const uint8_t* p = std::search(data, end, std::begin(kFwVersionMark), std::end(kFwVersionMark));
  if (p == end) return {};
  const char* text = reinterpret_cast<const char*>(p + sizeof kFwVersionMark);
  return std::string(text, strnlen(text, kFwVersionTextSize));
}

std::string pivardRevision(const std::vector<uint8_t>& object) {
  if (object.size() < kPivardHeaderSize) return {};
  const char* text = reinterpret_cast<const char*>(object.data() + kPivardRevisionAt);
  return std::string(text, strnlen(text, 32));
}

std::vector<uint8_t> encodeFlashComponents(const FlashComponents& fc) {
  std::vector<uint8_t> out;
  add32(out, static_cast<uint32_t>(fc.flashed.size()));
  for (const auto& [optype, segs] : fc.flashed) {
    add32(out, optype);
    add32(out, static_cast<uint32_t>(segs.size()));
    for (const auto& [offset, bytes] : segs) {
      add32(out, offset);
      addRuns(out, bytes);
    }
  }
  addRuns(out, fc.program);
  std::string v = fc.version.substr(0, kFwVersionTextSize);
  out.push_back(static_cast<uint8_t>(v.size()));
  out.push_back(0);
  out.insert(out.end(), v.begin(), v.end());
  return out;
}

bool decodeFlashComponents(const uint8_t* p, size_t n, FlashComponents* fc) {
  Reader r(p, n);
  FlashComponents t;
  uint32_t optypes = r.u32();
  for (uint32_t i = 0; i < optypes && r.ok(); ++i) {
    uint32_t optype = r.u32(), segments = r.u32();
    for (uint32_t s = 0; s < segments && r.ok(); ++s) {
      uint32_t offset = r.u32();
      std::vector<uint8_t> b;
      if (!r.blob(&b, kMaxBlob)) return false;
      t.place(optype, offset, b.data(), b.size());
    }
  }
  if (!r.blob(&t.program, kMaxBlob)) return false;
  uint16_t len = r.u16();
  const uint8_t* text = r.take(len);
  if (!r.ok()) return false;
  t.version.assign(reinterpret_cast<const char*>(text), len);
  t.two_step_status = fc->two_step_status;
  *fc = std::move(t);
  return true;
}

void applyFlashedFirmware(Engine& fw) {
  FlashComponents& fc = fw.profiles().flash;
  fc.two_step_status = 0;
  if (!fc.version.empty()) fw.setFirmwareVersions(fc.version, fc.version);
}

}  // namespace adapter

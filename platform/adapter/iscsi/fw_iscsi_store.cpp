// What the iSCSI initiator firmware keeps in flash (fw_iscsi.h: IscsiStore),
// as a section of the flash file.
#include <algorithm>

#include "iscsi/fw_iscsi.h"
#include "wire.h"

namespace adapter {

std::vector<uint8_t> encodeIscsiStore(const IscsiStore& s) {
  std::vector<uint8_t> out;
  auto u8 = [&](uint8_t v) { out.push_back(v); };
  auto u16 = [&](uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  };
  auto u32 = [&](uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  };
  auto blob16 = [&](const uint8_t* p, size_t n) {
    n = std::min<size_t>(n, 0xFFFF);
    u16(static_cast<uint16_t>(n));
    out.insert(out.end(), p, p + n);
  };
  u16(static_cast<uint16_t>(s.fns.size()));
  for (const auto& [fn, f] : s.fns) {
    u16(static_cast<uint16_t>(fn));
    u16(static_cast<uint16_t>(f.entries.size()));
    for (const IscsiStore::Entry& e : f.entries) {
      blob16(e.record.data(), e.record.size());
      u32(e.boot_flags);
    }
    blob16(f.discovery.data(), f.discovery.size());
  }
  u16(static_cast<uint16_t>(s.objects.size()));
  for (const auto& [name, data] : s.objects) {
    blob16(reinterpret_cast<const uint8_t*>(name.data()), name.size());
    u32(static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

bool decodeIscsiStore(const uint8_t* p, size_t n, IscsiStore* s) {
  wire::Reader r(p, n);
  auto bytes = [&](size_t len) -> std::vector<uint8_t> {
    const uint8_t* q = r.take(len);
    return q != nullptr ? std::vector<uint8_t>(q, q + len) : std::vector<uint8_t>();
  };
  IscsiStore t;
  for (uint16_t i = 0, count = r.u16(); r.ok() && i < count; ++i) {
    IscsiStore::Function f;
    uint16_t fn = r.u16();
    for (uint16_t k = 0, entries = r.u16(); r.ok() && k < entries; ++k) {
      IscsiStore::Entry e;
      e.record = bytes(r.u16());
      e.boot_flags = r.u32();
      f.entries.push_back(std::move(e));
    }
    f.discovery = bytes(r.u16());
    t.fns[fn] = std::move(f);
  }
  for (uint16_t i = 0, count = r.u16(); r.ok() && i < count; ++i) {
    std::vector<uint8_t> name = bytes(r.u16());
    std::vector<uint8_t> data = bytes(r.u32());
    t.objects[std::string(name.begin(), name.end())] = std::move(data);
  }
  if (!r.done()) return false;
  *s = std::move(t);
  return true;
}

}  // namespace adapter

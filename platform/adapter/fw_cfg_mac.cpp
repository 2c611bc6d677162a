// MAC addresses and NIC data regions of the adapter (fw_cfg_mac.h).
#include "fw_cfg_mac.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "fw_profile.h"
#include "wire.h"

namespace adapter {

using wire::get16;
using wire::get32;

namespace {

// The handlers these take over, per engine and opcode.
std::map<std::pair<const Engine*, uint8_t>, Handler>& previous() {
  static std::map<std::pair<const Engine*, uint8_t>, Handler> m;
  return m;
}

void runPrevious(Engine& fw, Cmd& c) {
  auto it = previous().find({&fw, c.opcode});
  if (it == previous().end() || it->second == nullptr) {
    c.fail(kStatusNotSupported);
    return;
  }
  it->second(fw, c);
}

bool fromHost(const Cmd& c) { return c.carrier == Carrier::Ioctl; }

constexpr size_t kQueryFunctions = 8;
// The PCI functions of one device: a profile may name functions that no
// carrier reaches, and each has its addresses all the same.
constexpr unsigned kMaxFunctions = 8;
constexpr size_t kObjectName = 8, kObjectNameSize = 104, kObjectData = 112;
constexpr size_t kTableSize = 836, kTableEntry = 52, kTableEntries = 16;
constexpr size_t kNicMacAt = 60, kIscsiMacAt = 64;   // from the start of entry i

bool regionName(const Cmd& c, std::string* name) {
  c.rtext(kObjectName, kObjectNameSize, name);
  return name->rfind(kRegionPrefix, 0) == 0;
}

void hFactoryQuery(Engine& fw, Cmd& c) {
  if (!fromHost(c) || c.r8(0) != 9) return runPrevious(fw, c);
  c.respond(72);
  for (unsigned f = 0; f < kQueryFunctions && f < fw.functions(); ++f) {
    std::array<uint8_t, 6> m = factoryMac(fw, f);
    c.wbytes(10 + 8 * f, m.data(), 6);
  }
}

void hFactoryList(Engine& fw, Cmd& c) {
  if (!fromHost(c) || c.r8(0) != 9 || c.r8(1) != 1) return runPrevious(fw, c);
  unsigned named = c.pfvh & 0x3FFu;
  unsigned pf = named != 0 ? named - 1 : fw.pfNumber(c.fn);
  if (pf >= kMaxFunctions) return c.fail(kStatusIllegalField);
  std::array<uint8_t, 6> m = factoryMac(fw, pf);
  c.respond(532);
  c.w8(0, 9);
  c.w8(1, 1);
  c.wbytes(2, m.data(), 6);
}

void hReadRegion(Engine& fw, Cmd& c) {
  std::string name;
  if (!fromHost(c) || !regionName(c, &name)) return runPrevious(fw, c);
  if (c.version != 1) return c.fail(kStatusIllegalField);
  const std::vector<uint8_t>* obj = fw.object(name);
  if (obj == nullptr) return c.fail(kStatusFailed);
  uint32_t offset = c.r32(4);
  if (offset > obj->size()) return c.fail(kStatusIllegalField);
  size_t room = c.pcap > 8 ? c.pcap - 8 : 0;
  size_t n = std::min(obj->size() - offset, room);
  c.respond(std::min<size_t>(c.pcap, 8 + n));
  c.w32(0, static_cast<uint32_t>(n));
  if (offset + n >= obj->size()) c.w8(7, 0x80);
  c.wbytes(8, obj->data() + offset, n);
}

void hWriteRegion(Engine& fw, Cmd& c) {
  std::string name;
  if (!fromHost(c) || !regionName(c, &name)) return runPrevious(fw, c);
  if (c.version != 1) return c.fail(kStatusIllegalField);
  uint32_t length = c.r32(0) & 0xFFFFFFu;
  bool eof = (c.r8(3) & 0x80) != 0;
  uint32_t offset = c.r32(4);
  const std::vector<uint8_t>* old = fw.object(name);
  std::vector<uint8_t> data = old != nullptr ? *old : std::vector<uint8_t>{};
  if (kObjectData + size_t(length) > c.req_len || offset > data.size()) return c.fail(kStatusIllegalField);
  if (data.size() < size_t(offset) + length) data.resize(size_t(offset) + length);
  std::copy_n(c.in + kObjectData, length, data.begin() + offset);
  if (eof) data.resize(size_t(offset) + length);
  bool changed = old == nullptr || *old != data;
  fw.putObject(name, std::move(data));
  fw.flashChanged();
  c.respond(8);
  c.w32(0, length);
  c.w8(4, changed ? 1 : 0);
}

// A function record of a profile write that carries a permanent address.
void takePermanentMacs(Engine& fw, const Cmd& c) {
  ProfileStore& s = fw.profiles();
  uint32_t count = c.r32(4);
  size_t off = 8;
  bool any = false;
  for (uint32_t i = 0; i < count && off + 2 <= c.req_len; ++i) {
    uint8_t type = c.r8(off), len = c.r8(off + 1);
    if (len == 0 || off + len > c.req_len) break;
    bool nic = type == kRecNic, iscsi = type == kRecIscsi;
    size_t mac_at = nic ? 10 : 14;
    if ((nic || iscsi) && len >= mac_at + 6 && (c.r8(off + 3) & 0x02) != 0) {
      unsigned pf = c.r8(off + 6) | ((c.r8(off + 7) & 3u) << 8);
      if (pf < kMaxFunctions) {
        std::array<uint8_t, 6> m{};
        for (size_t b = 0; b < 6; ++b) m[b] = c.r8(off + mac_at + b);
        s.permanent_macs[pf] = m;
        any = true;
      }
    }
    off += len;
  }
  if (any) fw.flashChanged();
}

void hSetProfile(Engine& fw, Cmd& c) {
  runPrevious(fw, c);
  if (fromHost(c) && c.status == kStatusSuccess) takePermanentMacs(fw, c);
}

bool ks2Table(const Engine& fw, const Cmd& c) {
  return fromHost(c) && fw.gen() == Gen::KS2 && c.version == 0 && c.req_len >= kTableSize;
}

// Where the table holds the permanent address of its entry i (0: nowhere),
// read from the entry's fields in `table`.
size_t macPosition(const uint8_t* table, uint32_t count, size_t i) {
  if (i >= std::min<size_t>(count, kTableEntries)) return 0;
  const uint8_t* e = table + 4 + i * kTableEntry;
  if (e[0] != 0 || e[5] != 0 || e[6] > 1) return 0;
  size_t at = 4 + i * kTableEntry + (e[6] == 0 ? kNicMacAt : kIscsiMacAt);
  return at + 6 <= kTableSize ? at : 0;
}

void hGetTable(Engine& fw, Cmd& c) {
  runPrevious(fw, c);
  if (!ks2Table(fw, c) || c.status != kStatusSuccess || c.pcap < kTableSize) return;
  // Positions are read from the entries as answered, before any address is laid in.
  std::vector<uint8_t> answered(c.p, c.p + kTableSize);
  uint32_t count = get32(answered.data(), 0);
  for (size_t i = 0; i < kTableEntries; ++i) {
    size_t at = macPosition(answered.data(), count, i);
    unsigned pf = answered[4 + i * kTableEntry + 4];
    if (at == 0) continue;
    std::array<uint8_t, 6> m = fw.permanentMac(pf);
    c.wbytes(at, m.data(), 6);
  }
}

void hSetTable(Engine& fw, Cmd& c) {
  if (!ks2Table(fw, c)) return runPrevious(fw, c);
  const ProfileStore& s = fw.profiles();
  std::vector<uint8_t> in(c.in, c.in + c.in_len);
  uint32_t count = get32(in.data(), 0);
  std::map<unsigned, std::array<uint8_t, 6>> macs;
  for (size_t i = 0; i < kTableEntries; ++i) {
    size_t at = macPosition(c.in, count, i);
    unsigned pf = c.in[4 + i * kTableEntry + 4];
    if (at == 0) continue;
    std::copy_n(c.in + at, 6, macs[pf].begin());
    // The entry bytes under the address stay what the adapter holds.
    for (size_t b = at; b < at + 6; ++b) {
      size_t k = (b - 4) / kTableEntry, off = (b - 4) % kTableEntry;
      in[b] = s.legacy[k * kLegacyEntryV1 + off];
    }
  }
  Cmd patched = c;
  patched.in = in.data();
  runPrevious(fw, patched);
  c.status = patched.status;
  c.additional = patched.additional;
  c.ext_status = patched.ext_status;
  c.resp_len = patched.resp_len;
  if (c.status != kStatusSuccess) return;
  for (const auto& [pf, m] : macs)
    if (m != fw.permanentMac(pf)) fw.profiles().permanent_macs[pf] = m;
  fw.flashChanged();
}

struct Entry {
  uint8_t op;
  Handler h;
};
const Entry kEntries[] = {
    {1, hFactoryQuery}, {147, hFactoryList}, {171, hReadRegion}, {172, hWriteRegion},
    {165, hSetProfile}, {81, hGetTable},     {82, hSetTable},
};

}  // namespace

std::array<uint8_t, 6> factoryMac(const Engine& fw, unsigned pf) {
  std::array<uint8_t, 6> m = fw.config().base_mac;
  m[5] = static_cast<uint8_t>(m[5] + pf);
  return m;
}

void registerMacHandlers(Engine& fw) {
  for (const Entry& e : kEntries) {
    Handler prev = fw.handlerFor(1, e.op);
    if (prev == e.h) continue;
    previous()[{&fw, e.op}] = prev;
    fw.registerHandler(1, e.op, e.h, fw.minimumPayload(1, e.op));
  }
}

}  // namespace adapter

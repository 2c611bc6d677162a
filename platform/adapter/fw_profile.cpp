// The profile store and its commands (layouts: see fw_profile.h).
#include "fw_profile.h"

#include <algorithm>

#include "wire.h"

namespace adapter {

using wire::get16;
using wire::put16;
using wire::put32;

// ---- records ----

ProfileRecord pcieRecord(unsigned pf, uint8_t pf_state, uint8_t fn_type, uint8_t mission_roles, bool sriov,
                         uint16_t vfs) {
  ProfileRecord r(kRecLen, 0);
  r[0] = kRecPcie;
  r[1] = kRecLen;
  r[6] = static_cast<uint8_t>(pf);
  r[7] = static_cast<uint8_t>((pf >> 8) & 3);
  r[12] = sriov ? 1 : 0;
  r[13] = pf_state;
  r[14] = fn_type;
  put16(r.data(), 16, vfs);
  r[20] = mission_roles;
  r[23] = 0x10;   // the SR-IOV state applies
  return r;
}

ProfileRecord functionRecord(uint8_t type, unsigned pf, unsigned port, const std::array<uint8_t, 6>& mac) {
  ProfileRecord r(kRecLen, 0);
  r[0] = type;
  r[1] = kRecLen;
  r[6] = static_cast<uint8_t>(pf);
  r[7] = static_cast<uint8_t>((pf >> 8) & 3);
  size_t mac_at = 0, port_at = 0;
  switch (type) {
    case kRecNic: mac_at = 10; port_at = 44; break;
    case kRecIscsi: mac_at = 14; port_at = 32; break;
    case kRecFcoe: mac_at = 40; port_at = 52; break;
    default: return r;
  }
  std::copy(mac.begin(), mac.end(), r.begin() + static_cast<long>(mac_at));
  r[port_at] = static_cast<uint8_t>(port & 63);
  return r;
}

ProfileRecord portRecord(unsigned link, uint8_t mc_type, uint16_t max_pf, uint16_t storage, uint16_t nic,
                         uint16_t roce, uint16_t iscsi, uint16_t fcoe) {
  ProfileRecord r(kRecLen, 0);
  r[0] = kRecPort;
  r[1] = kRecLen;
  r[4] = static_cast<uint8_t>(link & 63);
  r[5] = mc_type;
  const uint16_t counts[] = {max_pf, storage, nic, roce, iscsi, fcoe};
  for (size_t i = 0; i < 6; ++i) put16(r.data(), 12 + 2 * i, counts[i] & 0xFFF);
  return r;
}

unsigned recordPf(const ProfileRecord& r) {
  return r.size() < 8 ? 0 : r[6] | ((r[7] & 3u) << 8);
}

// ---- the store ----

void ProfileStore::reboot() {
  active = configured;
  active_id = next_id;
  ari.active_max_pf = ari.next_max_pf;
  link.active = link.next;
  reset_needed = false;
  ++reboots;
}

ListedProfile* ProfileStore::findListed(uint8_t id) {
  for (ListedProfile& p : listed)
    if (p.id == id) return &p;
  return nullptr;
}

namespace {

const char* typeText(uint8_t code) {
  switch (code) {
    case 1: return "NIC";
    case 2: return "iSCSI";
    case 4: return "FCoE";
    default: return "Illegal";
  }
}

bool sameRecord(const ProfileRecord& a, const ProfileRecord& b) {
  if (a[0] != b[0]) return false;
  if (a[0] == kRecPort) return (a[4] & 63) == (b[4] & 63);
  return recordPf(a) == recordPf(b);
}

// A type-80 record whose function state byte is 255 changes the SR-IOV state
// only.
constexpr uint8_t kSriovOnly = 255;

void setSriov(ProfileRecord& r, uint8_t state) {
  r[12] = state == 0 ? 0 : 1;
  r[23] |= 0x10;
  uint16_t vfs = get16(r.data(), 16);
  // Enabled: as many VFs as the function may have (255) unless it names a count.
  put16(r.data(), 16, r[12] == 0 ? 0 : (vfs != 0 ? vfs : 255));
}

// A function record written by one of the single-function writers: fields
// the writer marks as unchanged keep what the function has: all ones in a
// 16-bit field or a bandwidth share, bits 4-7 of byte 47 for the outer VLAN.
// The hidden bit is the firmware's.
void mergeFunction(ProfileRecord& r, const ProfileRecord& in) {
  ProfileRecord out = in;
  out.resize(std::max(out.size(), r.size()), 0);
  out[1] = r[1];
  out[3] = static_cast<uint8_t>((in[3] & ~0x08) | (r[3] & 0x08));
  for (size_t f : {8, 18, 20, 28, 32, 38, 60, 62})
    if (get16(in.data(), f) == 0xFFFF) put16(out.data(), f, get16(r.data(), f));
  size_t bw = in[0] == kRecNic ? 48 : in[0] == kRecIscsi ? 36 : 56;
  for (size_t f : {bw, bw + 4})
    if (wire::get32(in.data(), f) == 0xFFFFFFFFu) std::copy_n(r.begin() + long(f), 4, out.begin() + long(f));
  if (in[0] == kRecNic && (in[47] & 0xF0) == 0xF0) {
    out[46] = r[46];
    out[47] = r[47];
  }
  out.resize(r.size());
  r = std::move(out);
}

}  // namespace

std::string ProfileStore::configuredPersonality(Gen g) const {
  if (!configured_personality_text.empty()) return configured_personality_text;
  std::string out = "NIC";
  switch (g) {
    case Gen::Veskarn:
      for (const ProfileRecord& r : configured)
        if (r[0] == kRecPcie && r.size() > 20 && (r[20] & 0x6) != 0 && r[13] != 0) out = typeText(r[14]);
      break;
    case Gen::KS2:
    case Gen::KS3:
      for (size_t i = 0; i < std::min<size_t>(legacy_count, kLegacyEntries); ++i) {
        const uint8_t* e = legacy.data() + i * kLegacyEntryV1;
        if (e[0] == 0 && e[4] == 2) out = e[6] == 1 ? "iSCSI" : e[6] == 2 ? "FCoE" : "NIC";
      }
      break;
    case Gen::Pivard:
      for (const ProfileRecord& e : common)
        if (e[0] == 64 && (get16(e.data(), 6) & 0x3FF) == 2) out = e[14] == 4 && e[13] == 1 ? "FCoE" : "NIC";
      break;
  }
  return out;
}

void ProfileStore::writeConfigured(const std::vector<ProfileRecord>& records) {
  for (const ProfileRecord& in : records) {
    if (in[0] == kRecMcTypes) {
      // One multichannel type per port, port n at byte 52 + n; 0 leaves it.
      for (ProfileRecord& r : configured) {
        unsigned n = r[4] & 63;
        if (r[0] == kRecPort && 52 + n < in.size() && in[52 + n] != 0) r[5] = in[52 + n];
      }
      continue;
    }
    auto it = std::find_if(configured.begin(), configured.end(),
                           [&](const ProfileRecord& r) { return sameRecord(r, in); });
    if (it == configured.end()) {
      configured.push_back(in);
    } else if (in[0] == kRecPcie && (in[3] & 0x80) != 0) {
      // A personality change names only what the function presents.
      (*it)[13] = in[13];
      (*it)[14] = in[14];
    } else if (in[0] == kRecPcie && in[13] == kSriovOnly) {
      setSriov(*it, in[12]);
    } else if (in[0] >= kRecNic && in[0] <= kRecFcoe && it->size() >= kRecLen && in.size() >= kRecLen) {
      mergeFunction(*it, in);
    } else {
      *it = in;
    }
  }
}

ProfileStore defaultProfileStore(const EngineConfig& cfg) {
  ProfileStore s;
  // Two ports (one with a single function): NIC functions 0 and 1, the
  // storage functions 2 and 3, one of each per port.
  unsigned ports = std::clamp(cfg.functions, 1u, 2u);
  auto macOf = [&](unsigned pf) {
    std::array<uint8_t, 6> m = cfg.base_mac;
    m[5] = static_cast<uint8_t>(m[5] + pf);
    return m;
  };
  s.active_id = s.next_id = cfg.active_profile;
  switch (cfg.gen) {
    case Gen::Veskarn: {
      struct Layout { uint8_t id; const char* text; uint8_t storage_type; bool roce; };
      const Layout layouts[] = {
          {1, "NIC", 0, false},
          {2, "NIC and iSCSI", 2, false},
          {3, "NIC and FCoE", 4, false},
          {4, "NIC and RoCE", 0, true},
      };
      for (const Layout& l : layouts) {
        ListedProfile p;
        p.id = l.id;
        p.index = static_cast<uint8_t>(l.id - 1);
        p.description = l.text;
        for (unsigned port = 0; port < ports; ++port)
          p.records.push_back(portRecord(port, 1, 2, 1, 1, l.roce ? 1 : 0, 1, 1));
        for (unsigned pf = 0; pf < ports; ++pf) {
          p.records.push_back(pcieRecord(pf, 1, 1, l.roce ? 0x9 : 0x1, cfg.sriov_enabled,
                                         cfg.sriov_enabled ? cfg.max_vfs : 0));
          p.records.push_back(functionRecord(kRecNic, pf, pf, macOf(pf)));
          if (l.roce) p.records.push_back(functionRecord(kRecRoce, pf, pf, macOf(pf)));
        }
        if (!l.roce) {
          for (unsigned pf = ports; pf < 2 * ports; ++pf) {
            uint8_t type = l.storage_type;
            p.records.push_back(pcieRecord(pf, type != 0 ? 1 : 0, type, 0x6));
            p.records.push_back(functionRecord(type == 4 ? kRecFcoe : kRecIscsi, pf, pf - ports, macOf(pf)));
          }
        }
        s.listed.push_back(std::move(p));
      }
      const ListedProfile* running = s.findListed(static_cast<uint8_t>(cfg.active_profile));
      s.active = s.configured = (running != nullptr ? running : &s.listed[0])->records;
      s.links = {{1, ports > 1 ? "2x10GbE" : "1x10GbE"}, {2, "1x40GbE"}};
      break;
    }
    case Gen::KS2:
    case Gen::KS3: {
      s.legacy_count = std::min<uint32_t>(2 * ports, kLegacyEntries);
      for (unsigned f = 0; f < s.legacy_count; ++f) {
        uint8_t* e = s.legacyEntry(f);
        bool nic = f < ports;
        bool sriov = nic && cfg.sriov_enabled;
        e[4] = static_cast<uint8_t>(f);
        e[5] = 0;                     // storage functions present iSCSI (state 0, type 1)
        e[6] = nic ? 0 : 1;
        e[7] = sriov ? 1 : 0;
        put16(e, 10, sriov ? cfg.max_vfs : 0);
        put32(e, 16, f % ports);
        e[12] = cfg.gen == Gen::KS2 || !nic ? 255 : (sriov ? 1 : 0);
      }
      // The multichannel type of each port (KS3 takes it by 165).
      if (cfg.gen == Gen::KS3) {
        for (unsigned port = 0; port < ports; ++port)
          s.configured.push_back(portRecord(port, 1, 2, 1, 1, 0, 1, 0));
        s.active = s.configured;
      }
      break;
    }
    case Gen::Pivard:
      for (unsigned f = 0; f < 2 * ports; ++f) {
        ProfileRecord e(kCommonEntry, 0);
        e[0] = 64;
        e[1] = kCommonEntry;
        put16(e.data(), 6, static_cast<uint16_t>(f));
        e[12] = f < ports && cfg.sriov_enabled ? 1 : 0;
        e[13] = 1;
        e[14] = 1;
        s.common.push_back(std::move(e));
      }
      break;
  }
  // Multichannel types offered (bit 0 UMC, 3 NPAR, 4 vNIC1, 5 vNIC2, 6 UFP)
  // and the functions' vNIC names and QoS.
  bool multichannel = cfg.gen == Gen::KS3 || cfg.gen == Gen::Veskarn;
  s.capabilities = cfg.gen == Gen::KS3 ? 0x59u : cfg.gen == Gen::Veskarn ? 0x68u : 0u;
  s.function_caps = cfg.fw_func_caps;
  for (unsigned pf = 0; pf < 2 * ports; ++pf) {
    if (multichannel) {
      VnicFunction v;
      v.enabled = true;
      v.name = "vNIC" + std::to_string(pf);
      v.outer_vlan = 100 + pf;
      v.min_bw = 25;
      v.max_bw = 100;
      s.vnics[pf] = v;
    }
    s.qos[pf] = QosState{10000, 0, 0};
  }
  return s;
}

// ---- commands ----

namespace {

constexpr uint8_t kAddNotSupported = 30;    // additional status: the firmware lacks the command
constexpr uint8_t kStatusNeedsReset = 30;   // 169: done, takes effect at the next reset

void notSupported(Cmd& c) { c.fail(kStatusNotSupported, kAddNotSupported); }
bool fromHost(const Cmd& c) { return c.carrier == Carrier::Ioctl; }
bool veskarn(const Engine& fw) { return fw.gen() == Gen::Veskarn; }
bool legacyGen(const Engine& fw) { return fw.gen() == Gen::KS2 || fw.gen() == Gen::KS3; }

// The driver's answers to the commands it shares with the host (captured
// before this file's handlers take the opcodes over; the same for every engine).
struct DriverPaths {
  Handler get_profile, set_profile, config_table, link_status, set_qos, set_switch, fw_config;
};
const DriverPaths& driverPaths(const Engine& fw) {
  static const DriverPaths p{fw.handlerFor(1, 164), fw.handlerFor(1, 165), fw.handlerFor(1, 81),
                             fw.handlerFor(1, 5),   fw.handlerFor(1, 28),  fw.handlerFor(1, 153),
                             fw.handlerFor(1, 58)};
  return p;
}

void runDriver(Handler h, Engine& fw, Cmd& c) {
  if (h != nullptr) {
    h(fw, c);
  } else {
    c.fail(kStatusNotSupported);
  }
}

// A change of what the flash keeps: reset needed, the flash file rewritten.
void changed(Engine& fw) {
  fw.profiles().reset_needed = true;
  fw.flashChanged();
}

// Copies whole records from offset `off` while they fit the reply; returns
// how many were copied.
uint16_t putRecords(Cmd& c, size_t off, const std::vector<ProfileRecord>& recs) {
  uint16_t n = 0;
  for (const ProfileRecord& r : recs) {
    if (off + r.size() > c.req_len) break;
    c.wbytes(off, r.data(), r.size());
    off += r.size();
    ++n;
  }
  return n;
}

// Pivard common profile configuration (164, version 0): u32 count, 72-byte entries.
void commonConfig(Engine& fw, Cmd& c) {
  if ((c.r8(1) & 3) != 2) {
    c.fail(kStatusIllegalField);
    return;
  }
  c.respond(c.req_len);
  c.w32(0, putRecords(c, 4, fw.profiles().common));
}

// The legacy entry of a PCI function (a function entry, kind 0), or none.
uint8_t* legacyFunction(ProfileStore& s, unsigned pf) {
  for (size_t i = 0; i < std::min<size_t>(s.legacy_count, kLegacyEntries); ++i) {
    uint8_t* e = s.legacyEntry(i);
    if (e[0] == 0 && e[4] == pf) return e;
  }
  return nullptr;
}

bool ks3Profiles(Engine& fw) { return fw.gen() == Gen::KS3 && fw.profiles().ks3_profile_reads; }

// A KS3 keeps the SR-IOV state of its functions in the legacy table, whichever
// command changed it: the type-80 records it answers show that state (255 in
// the table: the state does not apply).
std::vector<ProfileRecord> ks3View(ProfileStore& s, const std::vector<ProfileRecord>& recs) {
  std::vector<ProfileRecord> out = recs;
  for (ProfileRecord& r : out) {
    if (r[0] != kRecPcie || r.size() < kRecLen) continue;
    const uint8_t* e = legacyFunction(s, recordPf(r));
    if (e == nullptr) continue;
    if (e[12] > 1) {
      r[23] &= static_cast<uint8_t>(~0x10);
      continue;
    }
    r[12] = e[12];
    r[23] |= 0x10;
    put16(r.data(), 16, e[12] == 0 ? 0 : get16(e, 10));
  }
  return out;
}

// 164: a profile's records. Request byte 0 profile id, byte 1 bits 0-1 which
// profile (0 configured, 1 listed, 2 active), bit 2 an option that selects no
// other records here. Reply: u16 count, records from byte 4.
void hGetProfile(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runDriver(driverPaths(fw).get_profile, fw, c);
  if (fw.gen() == Gen::Pivard && c.version == 0) return commonConfig(fw, c);
  if ((!veskarn(fw) && !ks3Profiles(fw)) || c.version != 1) return notSupported(c);
  ProfileStore& s = fw.profiles();
  const std::vector<ProfileRecord>* recs = nullptr;
  switch (c.r8(1) & 3) {
    case 0: recs = &s.configured; break;
    case 2: recs = &s.active; break;
    case 1: {
      const ListedProfile* p = s.findListed(c.r8(0));
      if (p != nullptr) recs = &p->records;
      break;
    }
    default: break;
  }
  if (recs == nullptr) return c.fail(kStatusIllegalField);
  c.respond(c.req_len);
  c.w16(0, putRecords(c, 4, veskarn(fw) ? *recs : ks3View(s, *recs)));
}

// Minimum length of a record a host may write, by type; 0 for a type the
// firmware does not take.
size_t minRecordLength(uint8_t type) {
  if (type >= kRecPcie && type <= kRecPort) return kRecLen;
  return type == kRecMcTypes ? kMcTypesLen : 0;
}

// The SR-IOV state of the legacy entries (byte 12) is what the functions
// run with after the next reset: the resource bytes follow it (byte 7, and
// the VF count at 10, the function's maximum when enabling names none).
void settleLegacySriov(Engine& fw) {
  ProfileStore& s = fw.profiles();
  for (size_t i = 0; i < std::min<size_t>(s.legacy_count, kLegacyEntries); ++i) {
    uint8_t* e = s.legacyEntry(i);
    if (e[0] != 0 || e[12] > 1) continue;
    e[7] = e[12];
    if (e[12] == 1 && get16(e, 10) == 0) put16(e, 10, fw.config().max_vfs);
  }
}

// KS3 keeps no profiles of its own: of a profile write it takes an SR-IOV
// change of a function (type 80, function state 255), kept in the legacy
// table, the multichannel type of a port record, which is the adapter's
// (every port takes it), and, when it answers profile reads, the channel
// fields of a function record it holds. Anything else is a command it lacks.
void ks3SetProfile(Engine& fw, Cmd& c, const std::vector<ProfileRecord>& recs) {
  ProfileStore& s = fw.profiles();
  auto held = [&](const ProfileRecord& in) {
    return std::find_if(s.configured.begin(), s.configured.end(), [&](const ProfileRecord& r) {
      return r.size() >= kRecLen && sameRecord(r, in);
    });
  };
  for (const ProfileRecord& r : recs) {
    if (r[0] == kRecPcie && r[13] == kSriovOnly) {
      const uint8_t* e = legacyFunction(s, recordPf(r));
      if (e == nullptr || e[12] > 1) return c.fail(kStatusIllegalField);
    } else if (r[0] >= kRecNic && r[0] <= kRecFcoe && s.ks3_profile_reads) {
      if (held(r) == s.configured.end()) return c.fail(kStatusIllegalField);
    } else if (r[0] != kRecPort) {
      return notSupported(c);
    }
  }
  for (const ProfileRecord& r : recs) {
    if (r[0] == kRecPcie) {
      legacyFunction(s, recordPf(r))[12] = r[12] == 0 ? 0 : 1;
    } else if (r[0] == kRecPort) {
      for (ProfileRecord& p : s.configured)
        if (p[0] == kRecPort) p[5] = r[5];
    } else {
      mergeFunction(*held(r), r);
    }
  }
  settleLegacySriov(fw);
  changed(fw);
  c.respond(0);
}

// 165: records into the configured profile. Byte 0 profile id, u32 count at
// 4, records from 8; every record must fit the request and be of a type the
// profile holds, else nothing is taken.
void hSetProfile(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runDriver(driverPaths(fw).set_profile, fw, c);
  if (!veskarn(fw) && fw.gen() != Gen::KS3) return notSupported(c);
  uint32_t count = c.r32(4);
  if (count == 0) return c.fail(kStatusIllegalField);
  std::vector<ProfileRecord> recs;
  size_t off = 8;
  for (uint32_t i = 0; i < count; ++i) {
    if (off + 2 > c.req_len) return c.fail(kStatusIllegalField);
    uint8_t type = c.r8(off), len = c.r8(off + 1);
    size_t need = minRecordLength(type);
    if (need == 0 || len < need || off + len > c.req_len) return c.fail(kStatusIllegalField);
    recs.emplace_back(c.in + off, c.in + off + len);
    off += len;
  }
  if (fw.gen() == Gen::KS3) return ks3SetProfile(fw, c, recs);
  fw.profiles().writeConfigured(recs);
  fw.recordSetProfile(c.in + 8, off - 8, count, c.version, c.domain);
  changed(fw);
  c.respond(0);
}

// 161: capacities of a listed profile (request byte 0). Reply: i32 count,
// descriptors walked by their length byte: 144 (mission roles at 6, u16
// function count at 8), then one of 145 NIC, 146 iSCSI, 147 FCoE, 148 RoCE
// per protocol the profile offers.
void hProfileCap(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  const ListedProfile* p = fw.profiles().findListed(c.r8(0));
  if (p == nullptr) return c.fail(kStatusIllegalField);
  uint8_t roles = 0;
  uint16_t fns = 0;
  for (const ProfileRecord& r : p->records) {
    if (r[0] != kRecPcie) continue;
    roles |= r[20];
    ++fns;
  }
  c.respond(c.req_len);
  size_t off = 4;
  uint32_t n = 0;
  auto put = [&](uint8_t type, uint8_t len) {
    if (off + len > c.req_len) return;
    c.w8(off, type);
    c.w8(off + 1, len);
    if (type == 144) {
      c.w8(off + 6, roles);
      c.w16(off + 8, fns);
    }
    off += len;
    ++n;
  };
  put(144, 12);
  for (uint8_t bit = 0; bit < 4; ++bit)
    if ((roles & (1u << bit)) != 0) put(static_cast<uint8_t>(145 + bit), 4);
  c.w32(0, n);
}

// 166: profile list. i32 count, 516-byte descriptors from 4 (id, index at 2,
// text at 4).
void hProfileList(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  c.respond(c.req_len);
  uint32_t n = 0;
  for (const ListedProfile& p : fw.profiles().listed) {
    size_t off = 4 + 516 * size_t(n);
    if (off + 516 > c.req_len) break;
    c.w8(off, p.id);
    c.w8(off + 2, p.index);
    c.wtext(off + 4, p.description.substr(0, 511), 512);
    ++n;
  }
  c.w32(0, n);
}

// 167: u16 active profile id, u16 next.
void hActiveProfile(Engine& fw, Cmd& c) {
  c.respond(4);
  c.w16(0, fw.profiles().active_id);
  c.w16(2, fw.profiles().next_id);
}

// 168: byte 0 the profile the next reset takes; byte 3 bit 7 the factory one.
void hSetActiveProfile(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  ProfileStore& s = fw.profiles();
  uint8_t id = (c.r8(3) & 0x80) != 0 ? s.factory_profile : c.r8(0);
  const ListedProfile* p = s.findListed(id);
  if (p == nullptr) return c.fail(kStatusIllegalField);
  s.next_id = id;
  s.configured = p->records;
  changed(fw);
  c.respond(0);
}

// 94: next, initial and running maximum function number; byte 3 bit 7: changeable.
void hGetAri(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  const AriSettings& a = fw.profiles().ari;
  c.respond(4);
  c.w8(0, a.next_max_pf);
  c.w8(1, a.max_pf);
  c.w8(2, a.active_max_pf);
  c.w8(3, a.changeable ? 0x80 : 0);
}

// 95: byte 0 the maximum function number for the next reset; byte 3 bit 7 the default.
void hSetAri(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  AriSettings& a = fw.profiles().ari;
  bool dflt = (c.r8(3) & 0x80) != 0;
  if (!a.changeable || (!dflt && c.r8(0) == 0)) return c.fail(kStatusIllegalField);
  a.next_max_pf = dflt ? a.max_pf : c.r8(0);
  changed(fw);
  c.respond(0);
}

// 201: byte 0 running link configuration, byte 2 next, i32 count at 4,
// 36-byte descriptors from 8 (id at 3, text at 4).
void hGetLinkConfig(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  const ProfileStore& s = fw.profiles();
  c.respond(c.req_len);
  c.w8(0, s.link.active);
  c.w8(2, s.link.next);
  uint32_t n = 0;
  for (const LinkConfig& l : s.links) {
    size_t off = 8 + 36 * size_t(n);
    if (off + 36 > c.req_len) break;
    c.w8(off + 3, l.id);
    c.wtext(off + 4, l.description.substr(0, 31), 32);
    ++n;
  }
  c.w32(4, n);
}

// 202: byte 0 the link configuration for the next reset; byte 3 bit 7 the factory one.
void hSetLinkConfig(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  ProfileStore& s = fw.profiles();
  uint8_t id = (c.r8(3) & 0x80) != 0 ? s.link.factory : c.r8(0);
  bool known = std::any_of(s.links.begin(), s.links.end(), [&](const LinkConfig& l) { return l.id == id; });
  if (!known) return c.fail(kStatusIllegalField);
  s.link.next = id;
  changed(fw);
  c.respond(0);
}

// 81/82 legacy configuration table: u32 count, 16 entries (version 0: 52
// bytes, 836 in all; version 1: 68 bytes, 1092).
size_t legacyWidth(const Cmd& c) { return c.version == 0 ? kLegacyEntryV0 : kLegacyEntryV1; }
bool legacyRequest(Engine& fw, Cmd& c) {
  if (!legacyGen(fw) || c.version > 1) {
    notSupported(c);
    return false;
  }
  if (c.req_len < 4 + kLegacyEntries * legacyWidth(c)) {
    c.fail(kStatusIllegalField);
    return false;
  }
  return true;
}

void hGetLegacyTable(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runDriver(driverPaths(fw).config_table, fw, c);
  if (!legacyRequest(fw, c)) return;
  const ProfileStore& s = fw.profiles();
  size_t w = legacyWidth(c);
  c.respond(c.req_len);
  c.w32(0, s.legacy_count);
  for (size_t i = 0; i < kLegacyEntries; ++i) c.wbytes(4 + i * w, s.legacy.data() + i * kLegacyEntryV1, w);
}

void hSetLegacyTable(Engine& fw, Cmd& c) {
  if (!legacyRequest(fw, c)) return;
  uint32_t count = c.r32(0);
  if (count > kLegacyEntries) return c.fail(kStatusIllegalField);
  ProfileStore& s = fw.profiles();
  size_t w = legacyWidth(c);
  s.legacy_count = count;
  // The short form leaves the bytes only the long form carries.
  for (size_t i = 0; i < kLegacyEntries; ++i) std::copy_n(c.in + 4 + i * w, w, s.legacyEntry(i));
  settleLegacySriov(fw);
  changed(fw);
  c.respond(0);
}

// 84: byte 0 set while a change waits for the next reset.
void hResetNeeded(Engine& fw, Cmd& c) {
  c.respond(4);
  c.w8(0, fw.profiles().reset_needed ? 1 : 0);
}

// 169: back to a factory profile (byte 1 = 1: the factory default; else the
// profile of byte 0, 0 naming the one running). Answers status 30: done,
// effective at the next reset.
void hFactoryProfile(Engine& fw, Cmd& c) {
  ProfileStore& s = fw.profiles();
  if (fw.gen() == Gen::Pivard) {
    s.common = defaultProfileStore(fw.config()).common;
  } else if (veskarn(fw)) {
    uint8_t id = c.r8(1) == 1 ? s.factory_profile : c.r8(0) == 0 ? static_cast<uint8_t>(s.active_id) : c.r8(0);
    const ListedProfile* p = s.findListed(id);
    if (p == nullptr) return c.fail(kStatusIllegalField);
    s.next_id = id;
    s.configured = p->records;
  } else {
    return notSupported(c);
  }
  changed(fw);
  c.fail(kStatusNeedsReset);
}

// 113: the personalities the adapter offers (a text).
void hAvailablePersonalities(Engine& fw, Cmd& c) {
  const std::string& t = fw.profiles().available_personalities;
  c.respond(std::min<size_t>(c.req_len, t.size() + 1));
  c.wtext(0, t, c.resp_len);
}

// 114: the personality the next reset gives (a text).
void hConfiguredPersonality(Engine& fw, Cmd& c) {
  c.respond(c.req_len);
  c.wtext(0, fw.profiles().configuredPersonality(fw.gen()), c.req_len);
}

// 58 firmware configuration: the function capabilities at 120 are the
// store's (both carriers).
void hFwConfig(Engine& fw, Cmd& c) {
  runDriver(driverPaths(fw).fw_config, fw, c);
  if (c.status == kStatusSuccess && c.resp_len >= 124) c.w32(120, fw.profiles().function_caps);
}

// 123: u32 capability bits (the multichannel types offered).
void hCapabilities(Engine& fw, Cmd& c) {
  c.respond(12);
  c.w32(0, fw.profiles().capabilities);
}

bool vnicGen(const Engine& fw) { return fw.gen() == Gen::KS3 || veskarn(fw); }
const VnicFunction* vnicOf(Engine& fw, const Cmd& c) {
  const auto& v = fw.profiles().vnics;
  auto it = v.find(fw.pfNumber(c.fn));
  return it == v.end() || !it->second.enabled ? nullptr : &it->second;
}

// 120: u32 1 and the name from 4 for a named vNIC function, else u32 0.
void hVnicName(Engine& fw, Cmd& c) {
  if (!vnicGen(fw)) return notSupported(c);
  const VnicFunction* v = vnicOf(fw, c);
  c.respond(92);
  if (v == nullptr) return;
  c.w32(0, 1);
  c.wtext(4, v->name.substr(0, 87), 88);
}

// 64: outer VLAN id at 4, minimum and maximum bandwidth share at 12 and 16.
void hVnicStats(Engine& fw, Cmd& c) {
  if (!vnicGen(fw)) return notSupported(c);
  const VnicFunction* v = vnicOf(fw, c);
  c.respond(24);
  if (v == nullptr) return;
  c.w32(4, v->outer_vlan);
  c.w32(12, v->min_bw);
  c.w32(16, v->max_bw);
}

// 27: maximum bits per second at 0, I/Os per second at 8, bytes per second at 12.
void hQosGet(Engine& fw, Cmd& c) {
  static const QosState kNone{};
  const auto& all = fw.profiles().qos;
  auto it = all.find(fw.pfNumber(c.fn));
  const QosState& q = it == all.end() ? kNone : it->second;
  c.respond(32);
  c.w32(0, q.max_bps);
  c.w32(8, q.max_ios);
  c.w32(12, q.max_bytes);
}

// 28 (the host's form): u32 flags; bit 2 I/Os per second at 12, bit 6 bytes
// per second at 16. Takes effect at once.
void hQosSet(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runDriver(driverPaths(fw).set_qos, fw, c);
  uint32_t flags = c.r32(0);
  if ((flags & 0x44) == 0) return c.fail(kStatusIllegalField);
  QosState& q = fw.profiles().qos[fw.pfNumber(c.fn)];
  if ((flags & 0x04) != 0) q.max_ios = c.r32(12);
  if ((flags & 0x40) != 0) q.max_bytes = c.r32(16);
  fw.flashChanged();
  c.respond(0);
}

// 5 (the host's form): port, duplex, speed code at 2 (3 1 Gb/s .. 7 40 Gb/s).
void hLinkParams(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runDriver(driverPaths(fw).link_status, fw, c);
  unsigned port = fw.portOfFunction(c.fn);
  const Engine::PortState& p = fw.port(port);
  c.respond(12);
  c.w8(0, static_cast<uint8_t>(port));
  c.w8(1, 2);
  c.w8(2, p.link_up ? p.speed_code : 0);
}

// 152: request u16 port at 0. Reply u16 at 0: the port, the forwarding mode
// in bits 6-8.
void hGetForwarding(Engine& fw, Cmd& c) {
  if (!veskarn(fw)) return notSupported(c);
  unsigned port = c.r16(0);
  if (port >= fw.ports()) return c.fail(kStatusIllegalField);
  const auto& f = fw.profiles().forwarding;
  auto it = f.find(port);
  uint8_t mode = it == f.end() ? kForwardVeb : it->second;
  c.respond(16);
  c.w16(0, static_cast<uint16_t>((port & 0x3F) | (mode << 6)));
  c.w8(3, c.r8(3));
}

// 153 (the host's form, byte 3 bit 7): u16 port at 0, the mode in bits 6-8
// of the u16 at 4 (2 VEB, 3 VEPA). Takes effect at once.
void hSetForwarding(Engine& fw, Cmd& c) {
  if (!fromHost(c)) return runDriver(driverPaths(fw).set_switch, fw, c);
  if (!veskarn(fw)) return notSupported(c);
  unsigned port = c.r16(0);
  uint8_t mode = static_cast<uint8_t>((c.r16(4) >> 6) & 7);
  if (port >= fw.ports() || (mode != kForwardVeb && mode != kForwardVepa)) return c.fail(kStatusIllegalField);
  fw.profiles().forwarding[port] = mode;
  fw.flashChanged();
  c.respond(0);
}

struct Entry {
  uint8_t op;
  Handler h;
  uint32_t min_payload;
};
const Entry kEntries[] = {
    {164, hGetProfile, 2},          {165, hSetProfile, 8},       {161, hProfileCap, 1},
    {166, hProfileList, 0},         {167, hActiveProfile, 0},    {168, hSetActiveProfile, 4},
    {94, hGetAri, 0},               {95, hSetAri, 4},            {201, hGetLinkConfig, 8},
    {202, hSetLinkConfig, 4},       {81, hGetLegacyTable, 0},    {82, hSetLegacyTable, 4},
    {84, hResetNeeded, 0},          {169, hFactoryProfile, 4},   {113, hAvailablePersonalities, 0},
    {114, hConfiguredPersonality, 0}, {123, hCapabilities, 0},     {120, hVnicName, 0},
    {64, hVnicStats, 0},            {27, hQosGet, 0},            {28, hQosSet, 0},
    {5, hLinkParams, 0},            {152, hGetForwarding, 4},    {153, hSetForwarding, 8},
    {58, hFwConfig, 0},
};

}  // namespace

void registerProfileHandlers(Engine& fw) {
  driverPaths(fw);
  for (const Entry& e : kEntries) fw.registerHandler(1, e.op, e.h, e.min_payload);
  if (fw.bootedFromFlash()) applyRunningState(fw);
}

void applyRunningState(Engine& fw) {
  applyFlashedFirmware(fw);
  const ProfileStore& s = fw.profiles();
  const uint16_t most = fw.config().max_vfs;
  auto apply = [&](unsigned pf, bool on, uint16_t vfs) {
    if (pf >= fw.functions()) return;
    ResourceLimits& l = fw.limitsMut(pf);
    l.sriov = on;
    // 0 or 255 (or more than the function has): the function's maximum.
    l.max_vfs = !on ? 0 : (vfs == 0 || vfs > most) ? most : vfs;
  };
  switch (fw.gen()) {
    case Gen::Veskarn:
      for (const ProfileRecord& r : s.active)
        if (r[0] == kRecPcie && r.size() >= kRecLen && (r[23] & 0x10) != 0 && r[12] <= 1)
          apply(recordPf(r), r[12] == 1, get16(r.data(), 16));
      break;
    case Gen::KS2:
    case Gen::KS3:
      for (size_t i = 0; i < std::min<size_t>(s.legacy_count, kLegacyEntries); ++i) {
        const uint8_t* e = s.legacy.data() + i * kLegacyEntryV1;
        if (e[0] == 0 && e[12] <= 1) apply(e[4], e[12] == 1, get16(e, 10));
      }
      break;
    case Gen::Pivard:
      for (const ProfileRecord& e : s.common)
        if (e[0] == 64 && e.size() > 12) apply(get16(e.data(), 6) & 0x3FF, e[12] == 1, 0);
      break;
  }
}

uint8_t eraseConfiguration(Engine& fw, uint32_t type) {
  ProfileStore& s = fw.profiles();
  s.erased.push_back(type);
  if (type == 14 && veskarn(fw)) {
    // The NIC configuration: the configured profile as listed.
    const ListedProfile* p = s.findListed(static_cast<uint8_t>(s.next_id));
    if (p != nullptr) s.configured = p->records;
    changed(fw);
  }
  auto it = s.erase_status.find(type);
  return it == s.erase_status.end() ? uint8_t{kStatusSuccess} : it->second;
}

}  // namespace adapter

// The emulated flash file: what an adapter keeps over a reset, so that one
// process (the library's) can change it and a later one (the driver's) boots
// from it. Every integer is little-endian.
//
//   0   "EMFL"
//   4   u16 version (kFlashFileVersion)
//   6   u8  generation (Gen)
//   7   u8  0
//   8   u32 file length
//   12  u32 section count
//   16  sections, one after another: u16 tag, u16 0, u32 payload length, payload
//
// Sections (a reader passes over tags it does not know; a later version adds
// tags and keeps these):
//   1 ids        u16 next profile id, u8 factory profile, u8 next max function
//                number, u8 default max function number, u8 changeable (0/1),
//                u8 next link configuration, u8 factory link configuration
//   2 profile    one per listed profile: u8 id, u8 index, u16 n + description,
//                u16 record count, records
//   3 configured u16 record count, records
//   4 links      u16 count; each u8 id, u8 n + description
//   5 texts      u16 n + available personalities, u16 n + configured
//                personality text (0: follows the configuration)
//   6 legacy     u32 entry count, 16 entries of 68 bytes
//   7 common     u16 entry count, entries
//   8 macs       u16 count; each u16 PCI function, 6 bytes
//   9 region     one per region: u16 n + name, u32 n + bytes
//   10 vnic      u16 count; each u16 PCI function, u8 enabled, u32 outer VLAN,
//                u32 minimum and u32 maximum bandwidth share, u16 n + name
//   11 qos       u16 count; each u16 PCI function, u32 maximum bits, I/Os and
//                bytes per second
//   12 switch    u32 capability bits, u16 count; each u8 port, u8 forwarding mode
//   20 link      u16 count; each u8 physical port, u16 speed code, u16 DAC
//                cable length, u32 NVP value
//   40 boot      NC-SI attributes, boot and OEM execution configuration, VF
//                parameters (fw_cfg_boot.h)
//   41 iscsi net the iSCSI functions' network ports (iscsi/fw_iscsi_net.h)
//   42 firmware  flashed firmware components, the Pivard program and the
//                version they carry (fw_flash_components.h)
//   43 iscsi     the iSCSI initiator's persistent targets, discovery
//                parameter blocks and boot-region objects (iscsi/fw_iscsi.h)
// A record or entry is u16 n + its n bytes.
//
// What runs (active profile, running ARI and link settings) is not kept: at
// power-on the configured state becomes the running one.
#include <cstdio>
#include <cstring>

#include "fw_profile.h"
#include "wire.h"

namespace adapter {

namespace {

constexpr uint8_t kMagic[4] = {'E', 'M', 'F', 'L'};
enum Tag : uint16_t {
  kIds = 1, kProfile = 2, kConfigured = 3, kLinks = 4, kTexts = 5, kLegacy = 6, kCommon = 7, kMacs = 8,
  kRegion = 9, kVnic = 10, kQos = 11, kSwitch = 12, kLink = 20, kCfgBoot = 40, kIscsiNet = 41, kFirmware = 42,
  kIscsi = 43,
};

class Writer {
 public:
  std::vector<uint8_t> out;
  void u8(uint8_t v) { out.push_back(v); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }
  void bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
  void text16(const std::string& s) {
    u16(static_cast<uint16_t>(std::min<size_t>(s.size(), 0xFFFF)));
    bytes(reinterpret_cast<const uint8_t*>(s.data()), std::min<size_t>(s.size(), 0xFFFF));
  }
  void blob16(const std::vector<uint8_t>& b) {
    u16(static_cast<uint16_t>(std::min<size_t>(b.size(), 0xFFFF)));
    bytes(b.data(), std::min<size_t>(b.size(), 0xFFFF));
  }
  void records(const std::vector<ProfileRecord>& rs) {
    u16(static_cast<uint16_t>(rs.size()));
    for (const ProfileRecord& r : rs) blob16(r);
  }
  // A section: tag, length filled in by end().
  size_t begin(uint16_t tag) {
    u16(tag);
    u16(0);
    u32(0);
    return out.size();
  }
  void end(size_t start) { wire::put32(out.data(), start - 4, static_cast<uint32_t>(out.size() - start)); }
};

// Reads within [p, p + n); any read past the end marks the reader failed.
class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  bool done() const { return at_ >= n_; }
  bool take(size_t k) {
    if (!ok_ || k > n_ - at_) return ok_ = false;
    at_ += k;
    return true;
  }
  uint8_t u8() { return take(1) ? p_[at_ - 1] : 0; }
  uint16_t u16() { return take(2) ? wire::get16(p_, at_ - 2) : 0; }
  uint32_t u32() { return take(4) ? wire::get32(p_, at_ - 4) : 0; }
  std::vector<uint8_t> bytes(size_t k) {
    if (!take(k)) return {};
    return std::vector<uint8_t>(p_ + at_ - k, p_ + at_);
  }
  std::string text16() {
    std::vector<uint8_t> b = bytes(u16());
    return std::string(b.begin(), b.end());
  }
  std::vector<ProfileRecord> records() {
    std::vector<ProfileRecord> rs;
    uint16_t n = u16();
    for (uint16_t i = 0; i < n && ok_; ++i) {
      ProfileRecord r = bytes(u16());
      // Readers index the head of a record (type, length, function number).
      if (r.size() < 8) ok_ = false;
      rs.push_back(std::move(r));
    }
    return rs;
  }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

std::vector<uint8_t> encodeFlash(const ProfileStore& s, Gen g) {
  Writer w;
  w.bytes(kMagic, 4);
  w.u16(kFlashFileVersion);
  w.u8(static_cast<uint8_t>(g));
  w.u8(0);
  w.u32(0);   // file length
  w.u32(0);   // section count
  uint32_t sections = 0;
  auto section = [&](uint16_t tag, auto&& body) {
    size_t at = w.begin(tag);
    body();
    w.end(at);
    ++sections;
  };
  section(kIds, [&] {
    w.u16(s.next_id);
    w.u8(s.factory_profile);
    w.u8(s.ari.next_max_pf);
    w.u8(s.ari.max_pf);
    w.u8(s.ari.changeable ? 1 : 0);
    w.u8(s.link.next);
    w.u8(s.link.factory);
  });
  for (const ListedProfile& p : s.listed) {
    section(kProfile, [&] {
      w.u8(p.id);
      w.u8(p.index);
      w.text16(p.description);
      w.records(p.records);
    });
  }
  section(kConfigured, [&] { w.records(s.configured); });
  section(kLinks, [&] {
    w.u16(static_cast<uint16_t>(s.links.size()));
    for (const LinkConfig& l : s.links) {
      w.u8(l.id);
      std::string t = l.description.substr(0, 255);
      w.u8(static_cast<uint8_t>(t.size()));
      w.bytes(reinterpret_cast<const uint8_t*>(t.data()), t.size());
    }
  });
  section(kTexts, [&] {
    w.text16(s.available_personalities);
    w.text16(s.configured_personality_text);
  });
  section(kLegacy, [&] {
    w.u32(s.legacy_count);
    w.bytes(s.legacy.data(), kLegacyEntries * kLegacyEntryV1);
  });
  section(kCommon, [&] { w.records(s.common); });
  section(kMacs, [&] {
    w.u16(static_cast<uint16_t>(s.permanent_macs.size()));
    for (const auto& [pf, mac] : s.permanent_macs) {
      w.u16(static_cast<uint16_t>(pf));
      w.bytes(mac.data(), 6);
    }
  });
  for (const auto& region : s.regions) {
    section(kRegion, [&] {
      w.text16(region.first);
      w.u32(static_cast<uint32_t>(region.second.size()));
      w.bytes(region.second.data(), region.second.size());
    });
  }
  section(kVnic, [&] {
    w.u16(static_cast<uint16_t>(s.vnics.size()));
    for (const auto& [pf, v] : s.vnics) {
      w.u16(static_cast<uint16_t>(pf));
      w.u8(v.enabled ? 1 : 0);
      w.u32(v.outer_vlan);
      w.u32(v.min_bw);
      w.u32(v.max_bw);
      w.text16(v.name);
    }
  });
  section(kQos, [&] {
    w.u16(static_cast<uint16_t>(s.qos.size()));
    for (const auto& [pf, q] : s.qos) {
      w.u16(static_cast<uint16_t>(pf));
      w.u32(q.max_bps);
      w.u32(q.max_ios);
      w.u32(q.max_bytes);
    }
  });
  section(kSwitch, [&] {
    w.u32(s.capabilities);
    w.u16(static_cast<uint16_t>(s.forwarding.size()));
    for (const auto& [port, mode] : s.forwarding) {
      w.u8(static_cast<uint8_t>(port));
      w.u8(mode);
    }
  });
  section(kLink, [&] {
    w.u16(static_cast<uint16_t>(s.port_links.size()));
    for (const auto& [port, l] : s.port_links) {
      w.u8(static_cast<uint8_t>(port));
      w.u16(l.speed_code);
      w.u16(l.dac_length);
      w.u32(l.nvp);
    }
  });
  const CfgBootStore& cb = s.cfg_boot;
  if (cb.ncsi_kept || !cb.boot.empty() || !cb.oem_exec.empty() || !cb.vfs.empty()) {
    section(kCfgBoot, [&] {
      std::vector<uint8_t> b = encodeCfgBoot(cb);
      w.bytes(b.data(), b.size());
    });
  }
  if (!s.iscsi_net.fns.empty()) {
    section(kIscsiNet, [&] {
      std::vector<uint8_t> b = encodeIscsiNet(s.iscsi_net);
      w.bytes(b.data(), b.size());
    });
  }
  const FlashComponents& fc = s.flash;
  if (!fc.flashed.empty() || !fc.program.empty() || !fc.version.empty()) {
    section(kFirmware, [&] {
      std::vector<uint8_t> b = encodeFlashComponents(fc);
      w.bytes(b.data(), b.size());
    });
  }
  if (!s.iscsi.fns.empty() || !s.iscsi.objects.empty()) {
    section(kIscsi, [&] {
      std::vector<uint8_t> b = encodeIscsiStore(s.iscsi);
      w.bytes(b.data(), b.size());
    });
  }
  wire::put32(w.out.data(), 8, static_cast<uint32_t>(w.out.size()));
  wire::put32(w.out.data(), 12, sections);
  return w.out;
}

bool decodeFlash(const std::vector<uint8_t>& bytes, Gen g, ProfileStore* s) {
  if (bytes.size() < 16 || std::memcmp(bytes.data(), kMagic, 4) != 0) return false;
  uint16_t version = wire::get16(bytes.data(), 4);
  if (version == 0 || version > kFlashFileVersion) return false;
  if (bytes[6] != static_cast<uint8_t>(g) || wire::get32(bytes.data(), 8) != bytes.size()) return false;
  uint32_t sections = wire::get32(bytes.data(), 12);
  ProfileStore t = *s;
  bool listed_seen = false, regions_seen = false;
  Reader file(bytes.data() + 16, bytes.size() - 16);
  for (uint32_t i = 0; i < sections; ++i) {
    uint16_t tag = file.u16();
    file.u16();
    uint32_t len = file.u32();
    std::vector<uint8_t> body = file.bytes(len);
    if (!file.ok()) return false;
    Reader r(body.data(), body.size());
    switch (tag) {
      case kIds:
        t.next_id = r.u16();
        t.factory_profile = r.u8();
        t.ari.next_max_pf = r.u8();
        t.ari.max_pf = r.u8();
        t.ari.changeable = r.u8() != 0;
        t.link.next = r.u8();
        t.link.factory = r.u8();
        break;
      case kProfile: {
        if (!listed_seen) t.listed.clear();
        listed_seen = true;
        ListedProfile p;
        p.id = r.u8();
        p.index = r.u8();
        p.description = r.text16();
        p.records = r.records();
        t.listed.push_back(std::move(p));
        break;
      }
      case kConfigured:
        t.configured = r.records();
        break;
      case kLinks: {
        t.links.clear();
        uint16_t n = r.u16();
        for (uint16_t k = 0; k < n && r.ok(); ++k) {
          LinkConfig l;
          l.id = r.u8();
          std::vector<uint8_t> d = r.bytes(r.u8());
          l.description.assign(d.begin(), d.end());
          t.links.push_back(std::move(l));
        }
        break;
      }
      case kTexts:
        t.available_personalities = r.text16();
        t.configured_personality_text = r.text16();
        break;
      case kLegacy: {
        t.legacy_count = r.u32();
        std::vector<uint8_t> e = r.bytes(kLegacyEntries * kLegacyEntryV1);
        if (r.ok()) t.legacy = std::move(e);
        if (t.legacy_count > kLegacyEntries) return false;
        break;
      }
      case kCommon:
        t.common = r.records();
        break;
      case kMacs: {
        t.permanent_macs.clear();
        uint16_t n = r.u16();
        for (uint16_t k = 0; k < n && r.ok(); ++k) {
          uint16_t pf = r.u16();
          std::vector<uint8_t> m = r.bytes(6);
          if (r.ok()) std::copy(m.begin(), m.end(), t.permanent_macs[pf].begin());
        }
        break;
      }
      case kRegion: {
        if (!regions_seen) t.regions.clear();
        regions_seen = true;
        std::string name = r.text16();
        t.regions[name] = r.bytes(r.u32());
        break;
      }
      case kVnic: {
        t.vnics.clear();
        uint16_t n = r.u16();
        for (uint16_t k = 0; k < n && r.ok(); ++k) {
          uint16_t pf = r.u16();
          VnicFunction v;
          v.enabled = r.u8() != 0;
          v.outer_vlan = r.u32();
          v.min_bw = r.u32();
          v.max_bw = r.u32();
          v.name = r.text16();
          t.vnics[pf] = std::move(v);
        }
        break;
      }
      case kQos: {
        t.qos.clear();
        uint16_t n = r.u16();
        for (uint16_t k = 0; k < n && r.ok(); ++k) {
          uint16_t pf = r.u16();
          QosState q;
          q.max_bps = r.u32();
          q.max_ios = r.u32();
          q.max_bytes = r.u32();
          t.qos[pf] = q;
        }
        break;
      }
      case kSwitch: {
        t.capabilities = r.u32();
        t.forwarding.clear();
        uint16_t n = r.u16();
        for (uint16_t k = 0; k < n && r.ok(); ++k) {
          uint8_t port = r.u8();
          t.forwarding[port] = r.u8();
        }
        break;
      }
      case kLink: {
        t.port_links.clear();
        uint16_t n = r.u16();
        for (uint16_t k = 0; k < n && r.ok(); ++k) {
          PortLink l;
          uint8_t port = r.u8();
          l.speed_code = r.u16();
          l.dac_length = r.u16();
          l.nvp = r.u32();
          t.port_links[port] = l;
        }
        break;
      }
      case kCfgBoot:
        if (!decodeCfgBoot(body.data(), body.size(), &t.cfg_boot)) return false;
        break;
      case kIscsiNet:
        if (!decodeIscsiNet(body.data(), body.size(), &t.iscsi_net)) return false;
        break;
      case kFirmware:
        if (!decodeFlashComponents(body.data(), body.size(), &t.flash)) return false;
        break;
      case kIscsi:
        if (!decodeIscsiStore(body.data(), body.size(), &t.iscsi)) return false;
        break;
      default:
        break;   // a later version's section
    }
    if (!r.ok()) return false;
  }
  *s = std::move(t);
  return true;
}

bool saveFlash(const ProfileStore& s, Gen g, const std::string& path) {
  std::vector<uint8_t> bytes = encodeFlash(s, g);
  // Written beside and renamed over: a reader never sees half a file.
  std::string tmp = path + ".new";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool loadFlash(const std::string& path, Gen g, ProfileStore* s) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return decodeFlash(bytes, g, s);
}

}  // namespace adapter

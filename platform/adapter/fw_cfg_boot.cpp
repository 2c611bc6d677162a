// NC-SI attributes, boot configuration, OEM execution configuration and VF
// parameters (fw_cfg_boot.h has the formats).
#include "fw_cfg_boot.h"

#include <algorithm>
#include <cstring>

#include "fw_engine.h"
#include "fw_profile.h"
#include "wire.h"

namespace adapter {

namespace {

using wire::get16;
using wire::put16;

CfgBootStore& store(Engine& fw) { return fw.profiles().cfg_boot; }

// The adapter as it leaves the factory: NC-SI enabled, the handshake with
// the management controller done, wake-on-LAN on port 0 with the address of
// function 0, and the user block a copy of the factory one.
std::array<uint8_t, kNcsiBytes> factoryNcsi(const Engine& fw) {
  std::array<uint8_t, kNcsiBytes> b{};
  b[0] = 1;
  b[1] = 0;
  uint8_t* s = b.data() + kNcsiStatic;
  std::array<uint8_t, 6> mac0 = fw.permanentMac(0), mac1 = fw.permanentMac(1 % fw.functions());
  std::memcpy(s + 5, mac0.data(), 6);
  s[11] = 1;
  std::memcpy(s + 12, mac1.data(), 6);
  s[18] = 0;
  put16(s, 20, 0);
  std::memcpy(b.data() + kNcsiDynamic, s, kNcsiBlock);
  return b;
}

bool notSupported(Engine& fw, Cmd& c) {
  if (fw.gen() != Gen::Pivard) return false;
  c.fail(kStatusNotSupported, 30);
  return true;
}

void getNcsi(Engine& fw, Cmd& c) {
  if (notSupported(fw, c)) return;
  std::array<uint8_t, kNcsiBytes> b = ncsiAttributes(fw);
  c.respond(kNcsiBytes);
  c.wbytes(0, b.data(), b.size());
}

void setNcsi(Engine& fw, Cmd& c) {
  if (notSupported(fw, c)) return;
  std::array<uint8_t, kNcsiBytes> b = ncsiAttributes(fw);
  // The user block is the management controller's to read only while the
  // sideband interface runs.
  if (b[0] != 1) {
    c.fail(kStatusFailed);
    return;
  }
  for (size_t i = 0; i < kNcsiBlock; ++i) b[kNcsiDynamic + i] = c.r8(i);
  setNcsiAttributes(fw, b);
  c.resp_len = 0;
}

// Get and set of the OEM execution configuration arrive as the same command
// with the same 48 bytes. The rule that tells them apart: a request with bit
// 7 of byte 3 set is a write (every writer sets it); a read sends the bytes
// zeroed. A write changes only the fields its valid bits name (byte 0 bit 0
// the address, bit 1 the VLAN id and priority); a write naming none changes
// nothing.
void oemExec(Engine& fw, Cmd& c) {
  std::array<uint8_t, kOemExecBytes> cfg = oemExecConfig(fw, c.fn);
  if ((c.r8(3) & 0x80) == 0) {
    c.respond(kOemExecBytes);
    c.wbytes(0, cfg.data(), cfg.size());
    return;
  }
  uint8_t valid = c.r8(0);
  if (valid & 0x01) {
    for (size_t i = 0; i < 6; ++i) cfg[4 + i] = c.r8(4 + i);
    cfg[0] |= 0x01;
  }
  if (valid & 0x02) {
    put16(cfg.data(), 12, c.r16(12));
    cfg[14] = c.r8(14);
    cfg[15] |= 0x80;
    cfg[0] |= 0x02;
  }
  setOemExecConfig(fw, c.fn, cfg);
  c.resp_len = 0;
}

}  // namespace

void registerCfgBootHandlers(Engine& fw) {
  fw.registerHandler(1, 86, getNcsi);
  fw.registerHandler(1, 87, setNcsi, kNcsiBlock);
  fw.registerHandler(21, 4, oemExec, kOemExecBytes);
}

void writeNcsiVersion(Engine& fw, Cmd& c) {
  if (!c.fits(92)) return;
  switch (fw.gen()) {
    case Gen::KS2: {
      const uint16_t v[5] = {1, 0, 1, 0, 7};
      for (int i = 0; i < 5; ++i) c.w16(80 + 2 * i, v[i]);
      break;
    }
    case Gen::KS3:
      c.wtext(80, "1.1.0", 12);
      break;
    default:
      break;
  }
}

std::array<uint8_t, kNcsiBytes> ncsiAttributes(Engine& fw) {
  CfgBootStore& s = store(fw);
  return s.ncsi_kept ? s.ncsi : factoryNcsi(fw);
}

void setNcsiAttributes(Engine& fw, const std::array<uint8_t, kNcsiBytes>& block) {
  CfgBootStore& s = store(fw);
  s.ncsi = block;
  s.ncsi_kept = true;
  fw.flashChanged();
}

std::array<uint8_t, kOemExecBytes> oemExecConfig(Engine& fw, unsigned fn) {
  CfgBootStore& s = store(fw);
  auto it = s.oem_exec.find(fn);
  return it == s.oem_exec.end() ? std::array<uint8_t, kOemExecBytes>{} : it->second;
}

void setOemExecConfig(Engine& fw, unsigned fn, const std::array<uint8_t, kOemExecBytes>& cfg) {
  store(fw).oem_exec[fn] = cfg;
  fw.flashChanged();
}

std::array<uint8_t, kBootBytes> keptBootConfig(Engine& fw, unsigned fn) {
  CfgBootStore& s = store(fw);
  auto it = s.boot.find(fn);
  // Network boot by PXE until someone changes it.
  return it == s.boot.end() ? std::array<uint8_t, kBootBytes>{1, 0, 0, 1, 0, 0, 0, 0} : it->second;
}

void keepBootConfig(Engine& fw, unsigned fn, const std::array<uint8_t, kBootBytes>& cfg) {
  store(fw).boot[fn] = cfg;
  fw.flashChanged();
}

VfParams vfParams(Engine& fw, unsigned fn, unsigned vf) {
  CfgBootStore& s = store(fw);
  auto it = s.vfs.find({fn, vf});
  if (it != s.vfs.end()) return it->second;
  VfParams p;
  p.mac = fw.permanentMac(fn);
  p.mac[3] = static_cast<uint8_t>(0x80 | fn);
  p.mac[5] = static_cast<uint8_t>(vf + 1);
  return p;
}

void setVfParams(Engine& fw, unsigned fn, unsigned vf, const VfParams& p) {
  store(fw).vfs[{fn, vf}] = p;
  fw.flashChanged();
}

std::vector<uint8_t> encodeCfgBoot(const CfgBootStore& s) {
  std::vector<uint8_t> out;
  auto u8 = [&](uint8_t v) { out.push_back(v); };
  auto u16 = [&](uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  };
  auto bytes = [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); };
  u8(s.ncsi_kept ? 1 : 0);
  bytes(s.ncsi.data(), s.ncsi.size());
  u16(static_cast<uint16_t>(s.boot.size()));
  for (const auto& [fn, b] : s.boot) {
    u16(static_cast<uint16_t>(fn));
    bytes(b.data(), b.size());
  }
  u16(static_cast<uint16_t>(s.oem_exec.size()));
  for (const auto& [fn, b] : s.oem_exec) {
    u16(static_cast<uint16_t>(fn));
    bytes(b.data(), b.size());
  }
  u16(static_cast<uint16_t>(s.vfs.size()));
  for (const auto& [key, p] : s.vfs) {
    u16(static_cast<uint16_t>(key.first));
    u16(static_cast<uint16_t>(key.second));
    bytes(p.mac.data(), 6);
    u16(p.vlan);
    u16(p.rate);
    u8(p.link);
  }
  return out;
}

bool decodeCfgBoot(const uint8_t* p, size_t n, CfgBootStore* s) {
  wire::Reader r(p, n);
  CfgBootStore t;
  if (const uint8_t* q = r.take(1 + kNcsiBytes)) {
    t.ncsi_kept = q[0] != 0;
    std::memcpy(t.ncsi.data(), q + 1, kNcsiBytes);
  }
  for (uint16_t i = 0, count = r.u16(); r.ok() && i < count; ++i) {
    uint16_t fn = r.u16();
    if (const uint8_t* q = r.take(kBootBytes)) std::copy_n(q, kBootBytes, t.boot[fn].begin());
  }
  for (uint16_t i = 0, count = r.u16(); r.ok() && i < count; ++i) {
    uint16_t fn = r.u16();
    if (const uint8_t* q = r.take(kOemExecBytes)) std::copy_n(q, kOemExecBytes, t.oem_exec[fn].begin());
  }
  for (uint16_t i = 0, count = r.u16(); r.ok() && i < count; ++i) {
    uint16_t fn = r.u16();
    uint16_t vf = r.u16();
    const uint8_t* q = r.take(11);
    if (q == nullptr) break;
    VfParams v;
    std::copy_n(q, 6, v.mac.begin());
    v.vlan = get16(q, 6);
    v.rate = get16(q, 8);
    v.link = q[10];
    t.vfs[{fn, vf}] = v;
  }
  if (!r.ok()) return false;
  *s = std::move(t);
  return true;
}

}  // namespace adapter

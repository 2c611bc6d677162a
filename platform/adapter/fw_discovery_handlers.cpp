// Firmware commands the management library sends to learn an adapter's
// identity, and the data behind them.
#include <algorithm>
#include <cstring>
#include <map>

#include "fw_discovery.h"
#include "fw_profile.h"

namespace adapter {

namespace {

constexpr uint8_t SUB_COMMON = 1;
constexpr uint8_t SUB_DIAG = 11;
constexpr uint8_t SUB_FLASH = 19;

// The driver's handler of each opcode this file takes over, per engine.
std::map<std::pair<const Engine*, uint16_t>, Handler>& driverHandlers() {
  static std::map<std::pair<const Engine*, uint16_t>, Handler> m;
  return m;
}

uint16_t key(uint8_t sub, uint8_t op) { return static_cast<uint16_t>(sub << 8 | op); }

bool forwardToDriver(Engine& fw, Cmd& c) {
  if (c.carrier == Carrier::Ioctl) return false;
  auto it = driverHandlers().find({&fw, key(c.subsystem, c.opcode)});
  if (it == driverHandlers().end() || it->second == nullptr) {
    c.fail(kStatusNotSupported);
    return true;
  }
  it->second(fw, c);
  return true;
}

std::vector<uint8_t>& blob(Engine& fw, const std::string& name, const std::vector<uint8_t>& init) {
  std::string full = "/emu/lib/" + name;
  if (!fw.hasObject(full)) fw.putObject(full, init);
  return *fw.object(full);
}

void put32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(std::vector<uint8_t>& b, size_t off, uint16_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
void putText(std::vector<uint8_t>& b, size_t off, const std::string& s, size_t field) {
  for (size_t i = 0; i < field; ++i) b[off + i] = i < s.size() ? static_cast<uint8_t>(s[i]) : 0;
}

uint32_t defaultCapabilities(Gen g) {
  switch (g) {
    case Gen::KS2: return 0x013;    // TCP offload, raw Ethernet, iSCSI initiator
    case Gen::KS3: return 0x05B;    // + virtual machines, FCoE initiator
    case Gen::Pivard: return 0x20E; // raw Ethernet, RDMA, virtual machines, LRO
    case Gen::Veskarn: return 0x25F;
  }
  return 0;
}

std::vector<uint8_t> defaultAdditional(const Engine& fw) {
  std::vector<uint8_t> b(612, 0);
  const EngineConfig& cfg = fw.config();
  b[4] = cfg.die_temperature;
  static const char* const names[] = {"FCoE-UB", "FCoE-x86", "FCoE-EFI", "FCoE-FCODE",
                                      "UEFI-BIOS", "UEFI-NIC", "UEFI-FCODE", "UEFI-SCSI"};
  for (int i = 0; i < 8; ++i) putText(b, 28 + 32 * i, std::string(names[i]) + " " + cfg.fw_version, 32);
  putText(b, 316, "PXE " + cfg.fw_version, 32);
  for (int i = 0; i < 8; ++i) b[348 + i] = static_cast<uint8_t>(0x20 + i);
  switch (fw.gen()) {
    case Gen::KS2:
      break;
    case Gen::KS3:
      put16(b, 0, 7);
      b[2] = 0x1A;
      putText(b, 356, "PHY 1.4.2", 32);
      putText(b, 516, "0042", 8);
      break;
    case Gen::Veskarn:
      put16(b, 0, 260);
      b[2] = 0x0C;
      putText(b, 356, "PHY 2.0.7", 32);
      putText(b, 516, "00a1", 8);
      break;
    case Gen::Pivard:
      putText(b, 524, "pivard_default.ipl", 88);
      break;
  }
  return b;
}

std::vector<uint8_t> defaultOem(const Engine& fw) {
  std::vector<uint8_t> b(44, 0);
  b[0] = 'T';
  b[1] = 'S';
  for (int i = 2; i < 12; ++i) b[i] = static_cast<uint8_t>(0x10 * i + 1);
  putText(b, 12, "OEM" + fw.config().serial_number, 24);
  put32(b, 36, 0x00010004);
  return b;
}

std::vector<uint8_t> defaultVpd(const Engine& fw, unsigned fn) {
  std::vector<uint8_t> v;
  const EngineConfig& cfg = fw.config();
  auto tag = [&](uint8_t t, const std::string& body) {
    v.push_back(t);
    v.push_back(static_cast<uint8_t>(body.size()));
    v.push_back(static_cast<uint8_t>(body.size() >> 8));
    v.insert(v.end(), body.begin(), body.end());
  };
  tag(0x82, cfg.model_desc);
  std::string ro = "PN" + std::string(1, static_cast<char>(cfg.model_name.size() + 3)) + "PN-" + cfg.model_name;
  ro += "SN" + std::string(1, static_cast<char>(cfg.serial_number.size())) + cfg.serial_number;
  ro += "FN" + std::string(1, 1) + static_cast<char>('0' + fn % 10);
  tag(0x90, ro);
  v.push_back(0x78);
  v.resize(1024, 0);
  return v;
}

std::vector<uint8_t> defaultFru(const Engine& fw) {
  std::vector<uint8_t> b(1280);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + fw.config().serial_number.size());
  return b;
}

// ---- handlers ----

void hAttributes(Engine& fw, Cmd& c) {
  auto it = driverHandlers().find({&fw, key(SUB_COMMON, 32)});
  if (it != driverHandlers().end() && it->second != nullptr) it->second(fw, c);
  if (c.carrier != Carrier::Ioctl || c.status != 0) return;
  const EngineConfig& cfg = fw.config();
  std::vector<uint8_t>& caps = blob(fw, "caps", {0, 0, 0, 0});
  uint32_t bits = caps[0] | caps[1] << 8 | caps[2] << 16 | static_cast<uint32_t>(caps[3]) << 24;
  if (bits == 0) bits = defaultCapabilities(fw.gen());
  c.wtext(32, "Talvor Systems", 32);
  c.w32(64, bits);
  c.w32(92, 30);
  c.w8(442, 0x00);
  c.w8(446, 1);
  if (cfg.pci_vendor == 0) c.w16(500, defaultVendorId(fw.gen()));
  if (cfg.pci_device == 0) c.w16(502, defaultDeviceId(fw.gen()));
  if (cfg.pci_subsys_vendor == 0) c.w16(504, defaultVendorId(fw.gen()));
  if (cfg.pci_subsys_device == 0) c.w16(506, 0x1234);
  writeNcsiVersion(fw, c);
  if (c.resp_len < 540) c.resp_len = static_cast<uint32_t>(std::min<size_t>(540, c.pcap));
}

void hAdditional(Engine& fw, Cmd& c) {
  if (forwardToDriver(fw, c)) return;
  std::vector<uint8_t> b = blob(fw, "addattr", defaultAdditional(fw));
  c.respond(612);
  c.wbytes(0, b.data(), std::min<size_t>(b.size(), 612));
}

// Parameters a test set; else the answer of the handler this one replaced.
void hOem(Engine& fw, Cmd& c) {
  if (!fw.hasObject("/emu/lib/oem")) {
    auto it = driverHandlers().find({&fw, key(SUB_COMMON, 76)});
    if (it != driverHandlers().end() && it->second != nullptr) {
      it->second(fw, c);
      return;
    }
  }
  std::vector<uint8_t> b = blob(fw, "oem", defaultOem(fw));
  c.respond(44);
  c.wbytes(0, b.data(), std::min<size_t>(b.size(), 44));
}

void hFeatures(Engine& fw, Cmd& c) {
  if (forwardToDriver(fw, c)) return;
  std::vector<uint8_t>& f = blob(fw, "oneview", {0});
  if (c.r32(0) != 20 || f[0] == 0xFF) {
    c.fail(66);
    return;
  }
  c.respond(16);
  c.w32(0, 20);
  c.w32(8, f[0] & 1u);
}

void hFfv(Engine& fw, Cmd& c) {
  if (fw.gen() == Gen::KS2 || fw.gen() == Gen::KS3) {
    c.fail(66);
    return;
  }
  std::vector<uint8_t>& name = blob(fw, "ffv", {'E', 'm', 'u', 'F', 'F', 'V'});
  if (c.r8(0) == 1) {
    size_t len = std::min<size_t>(c.r8(1), 32);
    std::vector<uint8_t> n;
    for (size_t i = 0; i < len && c.r8(4 + i) != 0; ++i) n.push_back(c.r8(4 + i));
    name = n;
    c.respond(36);
    return;
  }
  c.respond(36);
  size_t len = std::min<size_t>(name.size(), 32);
  c.w8(1, static_cast<uint8_t>(len));
  c.wbytes(4, name.data(), len);
}

void hCoredumpProps(Engine& fw, Cmd& c) {
  if (forwardToDriver(fw, c)) return;
  c.respond(20);
  c.w8(0, 0);
  c.w8(1, 1);
  c.w8(2, blob(fw, "state", {0})[0]);
}

// 1/72: the function's configuration space as the adapter shows it to the
// management library (identity words and the PCI Express link status).
void hReadPciConf(Engine& fw, Cmd& c) {
  uint32_t off = c.r32(0), len = c.r32(4);
  if (len > 256) {
    c.fail(kStatusIllegalField);
    return;
  }
  const EngineConfig& cfg = fw.config();
  std::vector<uint8_t> conf(256, 0);
  uint16_t vendor = cfg.pci_vendor ? cfg.pci_vendor : defaultVendorId(fw.gen());
  put16(conf, 0x00, vendor);
  put16(conf, 0x02, cfg.pci_device ? cfg.pci_device : defaultDeviceId(fw.gen()));
  put16(conf, 0x2C, cfg.pci_subsys_vendor ? cfg.pci_subsys_vendor : vendor);
  put16(conf, 0x2E, cfg.pci_subsys_device);
  put32(conf, 0xD0, (3u << 16) | (8u << 20));   // link status: 8 lanes, speed code 3
  c.respond(std::min<size_t>(8 + len, c.pcap));
  c.w32(0, off);
  c.w32(4, len);
  for (uint32_t i = 0; i < len; ++i) c.w8(8 + i, off + i < conf.size() ? conf[off + i] : 0);
}

void hVpdLib(Engine& fw, Cmd& c) {
  if (forwardToDriver(fw, c)) return;
  unsigned fn = c.version == 1 ? c.fn : c.r16(0);
  std::vector<uint8_t>& custom = fw.vpd(fn);
  std::vector<uint8_t> v = custom.empty() ? defaultVpd(fw, fn) : custom;
  c.respond(1032);
  c.wbytes(0, v.data(), std::min<size_t>(v.size(), 1024));
}

void hFruVpd(Engine& fw, Cmd& c) {
  const std::vector<uint8_t>& b = blob(fw, "fru", defaultFru(fw));
  uint32_t len = c.r32(0), off = c.r32(4);
  c.respond(c.pcap);
  uint32_t n = off >= b.size() ? 0 : std::min<uint32_t>(len, static_cast<uint32_t>(b.size()) - off);
  n = std::min<uint32_t>(n, static_cast<uint32_t>(c.pcap));
  c.wbytes(0, b.data() + off, n);
}

void hMacQueryLib(Engine& fw, Cmd& c) {
  if (c.carrier != Carrier::Ioctl || c.r8(0) != 9) {
    if (!forwardToDriver(fw, c)) {
      auto it = driverHandlers().find({&fw, key(SUB_COMMON, 1)});
      if (it != driverHandlers().end() && it->second != nullptr) it->second(fw, c);
    }
    return;
  }
  c.respond(72);
  for (unsigned f = 0; f < 8 && f < fw.functions(); ++f) {
    std::array<uint8_t, 6> m = fw.permanentMac(f);
    c.wbytes(10 + 8 * f, m.data(), 6);
  }
}

void hMacListLib(Engine& fw, Cmd& c) {
  if (c.carrier != Carrier::Ioctl || c.r8(0) != 9 || c.r8(1) != 1) {
    if (!forwardToDriver(fw, c)) {
      auto it = driverHandlers().find({&fw, key(SUB_COMMON, 147)});
      if (it != driverHandlers().end() && it->second != nullptr) it->second(fw, c);
    }
    return;
  }
  c.respond(532);
  std::array<uint8_t, 6> m = fw.permanentMac(c.fn);
  c.w8(0, 9);
  c.w8(1, 1);
  c.wbytes(2, m.data(), 6);
}

void hGetBoot(Engine& fw, Cmd& c) {
  std::array<uint8_t, 8> b = bootConfig(fw, c.fn);
  c.respond(8);
  c.wbytes(0, b.data(), 8);
}

void hSetBoot(Engine& fw, Cmd& c) {
  std::array<uint8_t, 8> b{};
  for (int i = 0; i < 8; ++i) b[i] = c.r8(i);
  setBootConfig(fw, c.fn, b);
  c.respond(8);
}

void hFuncMapping(Engine& fw, Cmd& c) {
  std::vector<uint8_t>& w = blob(fw, "rom", {0xFF, 0, 0, 0});
  c.respond(68);
  c.wbytes(32, w.data(), 4);
}

void hExtFatGet(Engine& fw, Cmd& c) {
  if (fw.gen() == Gen::Pivard) {
    c.fail(66);
    return;
  }
  std::vector<uint8_t> img = extFatImage(fw);
  c.respond(c.pcap);
  c.wbytes(0, img.data(), std::min(img.size(), c.pcap));
}

void hExtFatSet(Engine& fw, Cmd& c) {
  if (fw.gen() == Gen::Pivard) {
    c.fail(66);
    return;
  }
  std::vector<uint8_t> img(c.in, c.in + c.in_len);
  setExtFatImage(fw, img);
  c.respond(0);
}

void hReadObjectLib(Engine& fw, Cmd& c) {
  if (forwardToDriver(fw, c)) return;
  std::string name;
  c.rtext(8, 104, &name);
  std::vector<uint8_t>* obj = fw.object(name);
  uint32_t room = c.pcap > 128 ? static_cast<uint32_t>(c.pcap - 128) : 0;
  uint32_t n = obj == nullptr ? 0 : std::min<uint32_t>(static_cast<uint32_t>(obj->size()), room);
  c.respond(c.pcap);
  c.w32(0, n);
  if (n > 0) c.wbytes(128, obj->data(), n);
}

void hStartMgmt(Engine&, Cmd& c) { c.respond(0); }

struct Entry {
  uint8_t sub, op;
  Handler h;
};

const Entry kLibHandlers[] = {
    {SUB_COMMON, 1, hMacQueryLib},   {SUB_COMMON, 32, hAttributes},   {SUB_COMMON, 66, hGetBoot},
    {SUB_COMMON, 67, hSetBoot},      
    {SUB_COMMON, 72, hReadPciConf}, {SUB_COMMON, 76, hOem},          {SUB_COMMON, 83, hFuncMapping},
    {SUB_COMMON, 88, hStartMgmt},    {SUB_COMMON, 91, hVpdLib},       {SUB_COMMON, 121, hAdditional},
    {SUB_COMMON, 125, hExtFatGet},   {SUB_COMMON, 126, hExtFatSet},   {SUB_COMMON, 147, hMacListLib},
    {SUB_COMMON, 171, hReadObjectLib}, {SUB_COMMON, 191, hFeatures},  {SUB_DIAG, 21, hCoredumpProps},
    {SUB_FLASH, 2, hFfv},            {SUB_FLASH, 3, hFruVpd},
};

}  // namespace

void registerDiscoveryHandlers(Engine& fw) {
  for (const Entry& e : kLibHandlers) {
    Handler prev = fw.handlerFor(e.sub, e.op);
    if (prev != nullptr && prev != e.h) driverHandlers()[{&fw, key(e.sub, e.op)}] = prev;
    fw.registerHandler(e.sub, e.op, e.h);
  }
}

std::vector<uint8_t> defaultExtFatImage(Gen g) {
  std::vector<uint8_t> b(20, 0);
  put32(b, 0, 512);
  put32(b, 4, 64);
  b[8] = 0;
  b[9] = 8;
  b[10] = g == Gen::KS2 ? 2 : 4;
  put32(b, 12, 3);
  static const char* const modules[] = {"MGMT", "NIC", "ISCSI"};
  put32(b, 16, 3);
  for (uint32_t m = 0; m < 3; ++m) {
    size_t at = b.size();
    b.resize(at + 40 + 32, 0);
    putText(b, at, modules[m], 32);
    put32(b, at + 32, 0x100 + m);
    put32(b, at + 36, 2);
    for (uint32_t j = 0; j < 2; ++j) {
      size_t e = at + 40 + 16 * j;
      b[e] = static_cast<uint8_t>(j);   // UART, RAM
      put16(b, e + 2, 0x3);
      put32(b, e + 4, 2 + j);
      put32(b, e + 8, 0xFF);
    }
  }
  return b;
}

void setExtFatImage(Engine& fw, std::vector<uint8_t> image) { fw.putObject("/emu/lib/extfat", std::move(image)); }
std::vector<uint8_t> extFatImage(Engine& fw) { return blob(fw, "extfat", defaultExtFatImage(fw.gen())); }
void setAdditionalAttributes(Engine& fw, std::vector<uint8_t> bytes) {
  bytes.resize(612, 0);
  fw.putObject("/emu/lib/addattr", std::move(bytes));
}
std::vector<uint8_t> additionalAttributes(Engine& fw) { return blob(fw, "addattr", defaultAdditional(fw)); }
void setOemParams(Engine& fw, std::vector<uint8_t> bytes) {
  bytes.resize(44, 0);
  fw.putObject("/emu/lib/oem", std::move(bytes));
}
void setFruVpd(Engine& fw, std::vector<uint8_t> bytes) { fw.putObject("/emu/lib/fru", std::move(bytes)); }
// Kept with the rest of the function's boot settings (fw_cfg_boot.h).
void setBootConfig(Engine& fw, unsigned fn, std::array<uint8_t, 8> cfg) { keepBootConfig(fw, fn, cfg); }
std::array<uint8_t, 8> bootConfig(Engine& fw, unsigned fn) { return keptBootConfig(fw, fn); }
void setExpansionRomWord(Engine& fw, uint32_t word) {
  std::vector<uint8_t> b(4);
  put32(b, 0, word);
  fw.putObject("/emu/lib/rom", b);
}
void setFfvName(Engine& fw, const std::string& name) {
  fw.putObject("/emu/lib/ffv", std::vector<uint8_t>(name.begin(), name.end()));
}
std::string ffvName(Engine& fw) {
  std::vector<uint8_t>& b = blob(fw, "ffv", {'E', 'm', 'u', 'F', 'F', 'V'});
  return std::string(b.begin(), b.end());
}
void setOneView(Engine& fw, int flag) {
  fw.putObject("/emu/lib/oneview", {static_cast<uint8_t>(flag < 0 ? 0xFF : flag)});
}
// The flag lives in the profile store, where the configuration writes raise it.
void setResetNeeded(Engine& fw, bool needed) { fw.profiles().reset_needed = needed; }
void setControllerState(Engine& fw, uint8_t state) { fw.putObject("/emu/lib/state", {state}); }
void setCapabilityBits(Engine& fw, uint32_t bits) {
  std::vector<uint8_t> b(4);
  put32(b, 0, bits);
  fw.putObject("/emu/lib/caps", b);
}

}  // namespace adapter

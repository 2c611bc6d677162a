// Firmware handlers of the commands the NIC driver sends. Each decodes its
// request at the payload offsets of the firmware interface (p+N is byte N
// after the 16-byte header) and answers from the engine's state.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "fw_engine.h"
#include "fw_state.h"
#include "wire.h"

namespace adapter {

namespace {

constexpr uint8_t SUB_COMMON = 1;
constexpr uint8_t SUB_NIC = 3;
constexpr uint8_t SUB_DIAG = 11;

// Refuses a request shorter than a form of the command whose length depends
// on its version or on a count (the engine already refused one shorter than
// the command's minimum).
bool need(Cmd& c, uint32_t payload) {
  if (c.req_len < payload) {
    c.fail(kStatusIllegalField);
    return false;
  }
  return true;
}

// Refuses a command version this generation's firmware does not speak.
bool version(Cmd& c, std::initializer_list<uint8_t> ok) {
  for (uint8_t v : ok) {
    if (c.version == v) return true;
  }
  c.fail(kStatusIllegalField);
  return false;
}

// Answers "not supported" when this generation's firmware lacks the command.
bool unsupported(Cmd& c, bool lacking) {
  if (lacking) c.fail(kStatusNotSupported);
  return lacking;
}

bool isKs(const Engine& fw) { return fw.gen() == Gen::KS2 || fw.gen() == Gen::KS3; }
bool isPivard(const Engine& fw) { return fw.gen() == Gen::Pivard; }

// A domain names the function itself (0) or one of its virtual functions.
bool domainOk(Engine& fw, Cmd& c) {
  if (c.domain > fw.config().max_vfs) {
    c.fail(kStatusIllegalField);
    return false;
  }
  return true;
}

// Page list of a queue-create command: entries of {u32 low, u32 high}.
bool readPages(Cmd& c, size_t off, uint32_t npages, QueueObj* q) {
  if (npages == 0 || npages > 8) {
    c.fail(kStatusIllegalField);
    return false;
  }
  q->npages = npages;
  for (uint32_t i = 0; i < npages; ++i) {
    q->pages[i] = (static_cast<uint64_t>(c.r32(off + 8 * i + 4)) << 32) | c.r32(off + 8 * i);
    if (q->pages[i] == 0 || (q->pages[i] & 0xFFF) != 0) {
      c.fail(kStatusIllegalField);
      return false;
    }
  }
  return true;
}

// Ring sizes as the create commands encode them.
uint32_t entriesFromLenCode(uint32_t code) { return code == 0 ? 32768 : 1u << (code - 1); }
uint32_t entriesFromCountCode(uint32_t code, uint32_t all_ones) {
  return code == all_ones ? 128 : 256u << code;
}

// The ring must fit in the pages handed over.
bool ringFits(Cmd& c, const QueueObj& q) {
  if (static_cast<uint64_t>(q.entries) * q.entry_size > static_cast<uint64_t>(q.npages) * 4096) {
    c.fail(kStatusIllegalField);
    return false;
  }
  return true;
}

QueueObj* ownQueue(Engine& fw, Cmd& c, ObjKind k, uint32_t id) {
  QueueObj* q = fw.queue(k, id);
  if (q == nullptr || q->fn != c.fn) return nullptr;
  return q;
}

bool boundByAny(Engine& fw, ObjKind parent, uint32_t id) {
  for (ObjKind k : {ObjKind::Cq, ObjKind::TxQueue, ObjKind::RxQueue, ObjKind::MccQueue}) {
    if (k == ObjKind::Cq && parent != ObjKind::Eq) continue;
    if (k != ObjKind::Cq && parent != ObjKind::Cq) continue;
    for (QueueObj* q : fw.queues(k)) {
      if (q->bound == id) return true;
    }
  }
  return false;
}

// ======================= bring-up and configuration ========================

// 1/58 query firmware configuration.
void hQueryFwCfg(Engine& fw, Cmd& c) {
  static const uint8_t kGenCode[] = {0, 3, 10, 4};   // KS2, KS3, Pivard, Veskarn
  c.respond(124);
  c.w8(4, fw.config().asic_rev);
  c.w8(5, kGenCode[static_cast<unsigned>(fw.gen())]);
  c.w32(8, fw.portOfFunction(c.fn));
  c.w32(12, fw.config().fw_caps);
  c.w32(120, fw.config().fw_func_caps);
}

// 1/61 function reset: everything the function created is destroyed.
void hResetFunction(Engine& fw, Cmd& c) {
  if (unsupported(c, isPivard(fw))) return;
  fw.destroyFunctionObjects(c.fn);
  c.respond(0);
}

// 1/103 check function capabilities.
void hCheckFunctionCap(Engine& fw, Cmd& c) {
  if (unsupported(c, isPivard(fw))) return;
  uint32_t valid = c.r32(0), requested = c.r32(4);
  uint32_t have = 0x4 | (fw.gen() == Gen::KS3 ? 0x8 : 0);
  c.respond(8);
  c.w32(0, valid);
  c.w32(4, requested & valid & have);
  fw.fnState(c.fn).advanced_mode = (requested & valid & have & 0x4) != 0;
}

// 1/32 controller attributes.
void hCntlAttributes(Engine& fw, Cmd& c) {
  const EngineConfig& cfg = fw.config();
  c.respond(544);
  c.wtext(96, cfg.controller_text, 32);
  c.wtext(128, cfg.model_desc, 64);
  c.wtext(192, cfg.serial_number, 32);
  c.wtext(256, cfg.fw_version, 32);
  c.wtext(288, "11.2.10.0", 32);
  c.wtext(320, "11.2.10.0", 32);
  c.wtext(384, cfg.flash_fw_version, 32);
  c.w16(420, 16);
  c.w16(440, 15);
  c.w8(442, 0x00);
  c.w8(445, 0);
  c.w8(447, static_cast<uint8_t>(fw.portOfFunction(c.fn)));
  c.w16(500, cfg.pci_vendor);
  c.w16(502, cfg.pci_device);
  c.w16(504, cfg.pci_subsys_vendor);
  c.w16(506, cfg.pci_subsys_device);
  c.w8(508, cfg.pci_bus);
  c.w8(509, cfg.pci_dev);
  c.w8(510, fw.pfNumber(c.fn));
  c.w8(520, cfg.netqueues);
}

// 1/81 configuration resources: one 52-byte record per PCI function.
void hConfigResources(Engine& fw, Cmd& c) {
  uint32_t n = fw.functions();
  c.respond(4 + 16 * 52);
  c.w32(0, n);
  for (uint32_t i = 0; i < n; ++i) {
    size_t r = 4 + 52 * i;
    c.w8(r + 0, 0);
    c.w8(r + 4, fw.pfNumber(i));
    c.w8(r + 6, 0);
    c.w8(r + 7, fw.limits(i).sriov ? 1 : 0);
    c.w16(r + 10, fw.limits(i).max_vfs);
    c.w32(r + 16, fw.portOfFunction(i));
  }
}

// A NIC resource descriptor (0x41 / 0x51) at off.
void writeNicDesc(Engine& fw, Cmd& c, size_t off, uint8_t type, uint8_t len, unsigned fn,
                  bool modifiable, bool vf_share = false) {
  c.w8(off + 0, type);
  c.w8(off + 1, len);
  c.w8(off + 3, modifiable ? 0x08 : 0x00);
  c.w8(off + 6, fw.pfNumber(fn));
  if (modifiable) {
    for (size_t f : {8, 16, 18, 22, 24, 26, 30, 34, 38}) c.w16(off + f, 0xFFFF);
    c.w32(off + 40, 0x4 | 0x1000000);      // second capability flags: RSS possible
    return;
  }
  const ResourceLimits& l = vf_share ? fw.vfLimits(fn) : fw.limits(fn);
  c.w16(off + 8, l.ucmacs);
  c.w16(off + 16, l.mccqs);
  c.w16(off + 18, l.vlans);
  c.w16(off + 22, l.txqs);
  c.w16(off + 24, l.rxqs);
  c.w16(off + 26, l.rssqs);
  c.w16(off + 30, l.cqs);
  c.w16(off + 34, l.evtqs);
  c.w16(off + 38, l.ifaces);
  c.w32(off + 40, l.cap_flags);
}

// 1/160 function configuration.
void hGetFuncConfig(Engine& fw, Cmd& c) {
  if (fw.gen() == Gen::Veskarn ? !version(c, {1}) : !version(c, {0})) return;
  bool v1 = c.version == 1;
  uint8_t len = v1 ? 88 : 72;
  c.respond(4 + len);
  c.w32(0, 1);
  writeNicDesc(fw, c, 4, v1 ? 0x51 : 0x41, len, c.fn, false);
}

// 1/164 profile configuration: port, PCIe and NIC descriptors.
void hGetProfileConfig(Engine& fw, Cmd& c) {
  if (unsupported(c, fw.gen() == Gen::KS2)) return;  // old firmware: the driver falls back to 1/81
  if (isPivard(fw) ? !version(c, {0}) : !version(c, {1})) return;
  if (!domainOk(fw, c)) return;
  uint8_t type = c.r8(1);
  if ((type & 0x2) == 0) {
    c.fail(kStatusIllegalField);
    return;
  }
  bool modifiable = (type & 0x8) != 0;
  const EngineConfig& cfg = fw.config();
  bool zero_len = cfg.profile_zero_lengths;
  uint8_t len = 88;
  uint8_t step = zero_len ? 72 : len;
  uint8_t lenfield = zero_len ? 0 : len;
  c.respond(4 + 3 * 88);
  size_t off = 4;
  uint32_t count = 0;
  if (modifiable) {
    writeNicDesc(fw, c, off, 0x51, lenfield, c.fn, true);
    c.w8(off + 1, lenfield);
    off += step;
    ++count;
  } else {
    if (c.domain == 0) {
      c.w8(off + 0, 0x55);
      c.w8(off + 1, lenfield);
      c.w8(off + 4, static_cast<uint8_t>(fw.portOfFunction(c.fn)));
      c.w8(off + 5, cfg.function_mode);
      off += step;
      ++count;
      c.w8(off + 0, 0x50);
      c.w8(off + 1, lenfield);
      c.w8(off + 6, fw.pfNumber(c.fn));
      c.w8(off + 12, fw.limits(c.fn).sriov ? 1 : 0);
      c.w16(off + 16, fw.limits(c.fn).max_vfs);
      off += step;
      ++count;
    }
    // A virtual function gets its share of the physical function's resources.
    writeNicDesc(fw, c, off, 0x51, lenfield, c.fn, false, c.domain != 0);
    c.w8(off + 1, lenfield);
    off += step;
    ++count;
  }
  c.w32(0, count);
  c.resp_len = static_cast<uint32_t>(std::min(off, c.pcap));
}

// What a profile write gives the functions its descriptors name: a PCIe
// descriptor their SR-IOV state and VF count, a NIC descriptor the share of
// each of their VFs.
void applyProfile(Engine& fw, Cmd& c, uint32_t count) {
  auto set16 = [](uint16_t* limit, uint16_t v) {
    if (v != 0xFFFF) *limit = v;
  };
  uint32_t off = 0;
  for (uint32_t i = 0; i < count; ++i) {
    size_t d = 8 + off;
    uint8_t type = c.r8(d), len = c.r8(d + 1);
    unsigned pf = c.r8(d + 6);
    off += len;
    if (pf >= fw.functions()) continue;
    if ((type == 0x40 || type == 0x50) && len >= 18) {
      ResourceLimits& pfl = fw.limitsMut(pf);
      pfl.sriov = c.r8(d + 12) != 0;
      set16(&pfl.max_vfs, c.r16(d + 16));
    } else if ((type == 0x41 || type == 0x51) && len >= 44) {
      ResourceLimits& l = fw.vfLimitsMut(pf);
      set16(&l.ucmacs, c.r16(d + 8));
      set16(&l.mccqs, c.r16(d + 16));
      set16(&l.vlans, c.r16(d + 18));
      set16(&l.txqs, c.r16(d + 22));
      set16(&l.rxqs, c.r16(d + 24));
      set16(&l.rssqs, c.r16(d + 26));
      set16(&l.cqs, c.r16(d + 30));
      set16(&l.evtqs, c.r16(d + 34));
      set16(&l.ifaces, c.r16(d + 38));
      uint32_t caps = c.r32(d + 40);
      if (caps != 0 && caps != 0xFFFFFFFFu) l.cap_flags = caps;
    }
  }
}

// 1/165 set profile configuration: descriptors walked by their length byte.
void hSetProfileConfig(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  uint32_t count = c.r32(4);
  uint32_t bytes = c.req_len - 8;   // the walk below keeps every descriptor inside it
  if (count == 0) {
    c.fail(kStatusIllegalField);
    return;
  }
  // Walk the descriptors: each must fit.
  uint32_t off = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t len = c.r8(8 + off + 1);
    if (len == 0 || off + len > bytes) {
      c.fail(kStatusIllegalField);
      return;
    }
    off += len;
  }
  // A port descriptor with protocol 23 carries the VXLAN UDP port of a function.
  off = 0;
  for (uint32_t i = 0; i < count; ++i) {
    size_t d = 8 + off;
    if (c.r8(d) == 0x55 && c.r8(d + 1) >= 12 && (c.r32(d + 8) & 0x1F) == 23) {
      unsigned pf = c.r32(d + 4) & 0x3F;
      if (pf < fw.functions()) fw.fnState(pf).vxlan_port = static_cast<uint16_t>(c.r32(d + 8) >> 16);
    }
    off += c.r8(d + 1);
  }
  fw.recordSetProfile(c.in + 8, off, count, c.version, c.domain);
  if (c.domain == 0) applyProfile(fw, c, count);
  c.respond(0);
}

// 1/167 active profile.
void hActiveProfile(Engine& fw, Cmd& c) {
  c.respond(4);
  c.w16(0, fw.config().active_profile);
}

// 3/12 with version 1: ACPI wake-up capability; version 0: magic-packet WoL.
void hWol(Engine& fw, Cmd& c) {
  Engine::FnState& s = fw.fnState(c.fn);
  if (c.version == 1) {
    if (c.r8(2) != 2) {
      c.fail(kStatusIllegalField);
      return;
    }
    c.respond(8);
    c.w8(2, s.wol_cap);
    return;
  }
  if (c.version != 0 || !need(c, 586)) {
    c.fail(kStatusIllegalField);
    return;
  }
  for (int i = 0; i < 6; ++i) s.wol_mac[i] = c.r8(580 + i);
  c.respond(0);
}

// 1/89 host interrupts.
void hIntrSet(Engine& fw, Cmd& c) {
  if (unsupported(c, isPivard(fw))) return;
  fw.fnState(c.fn).intr_enabled = c.r8(0) != 0;
  c.respond(0);
}

// 1/196 enable a virtual function's domain.
void hEnableVf(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  fw.fnState(c.fn).vf_enabled[c.domain] = c.r8(0) != 0;
  c.respond(0);
}

// ============================== interfaces =================================

// 1/50 interface create.
void hIfCreate(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  if (fw.countLive(ObjKind::Interface, static_cast<int>(c.fn)) >= fw.config().ifaces) {
    c.fail(kStatusNoResources);
    return;
  }
  InterfaceObj i{};
  i.fn = c.fn;
  i.domain = c.domain;
  i.cap_flags = c.r32(4);
  i.en_flags = c.r32(8);
  bool no_mac = c.r8(19) != 0;
  uint8_t mac[6];
  for (int k = 0; k < 6; ++k) mac[k] = c.r8(12 + k);
  uint32_t id = fw.addInterface(i);
  c.respond(8);
  c.w32(0, id);
  if (!no_mac) c.w32(4, fw.addMacFilter(c.fn, c.domain, id, mac));
}

// 1/51 interface destroy.
void hIfDestroy(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  if (!fw.destroyInterface(c.r32(0), c.fn)) {
    c.fail(kStatusIllegalField);
    return;
  }
  c.respond(0);
}

// 1/1 MAC address query.
void hMacQuery(Engine& fw, Cmd& c) {
  bool perm = c.r8(1) != 0;
  uint32_t if_id = c.r16(2);
  std::array<uint8_t, 6> mac = fw.permanentMac(c.fn);
  if (!perm) {
    const InterfaceObj* i = fw.interface(if_id);
    if (i == nullptr || i->fn != c.fn) {
      c.fail(kStatusIllegalField);
      return;
    }
    for (const MacFilter& m : fw.macFilters(static_cast<int>(c.fn))) {
      if (m.if_id == if_id) {
        mac = m.mac;
        break;
      }
    }
  }
  c.respond(8);
  c.w16(0, 6);
  c.wbytes(2, mac.data(), 6);
}

// 1/147 MAC list of a domain: the permanent MAC, then the provisioned ones.
void hGetMacList(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  const auto& list = fw.macList(c.fn, c.domain);
  std::array<uint8_t, 6> perm = fw.permanentMac(c.fn);
  if (c.domain != 0) perm[4] = static_cast<uint8_t>(perm[4] + 0x40 + c.domain);
  c.respond(c.pcap);
  size_t room = c.pcap > 20 ? (c.pcap - 20) / 8 : 0;
  size_t n = 0;
  auto put = [&](uint16_t type, const uint8_t* mac) {
    if (n >= room) return;
    c.w16(20 + 8 * n, type);
    c.wbytes(22 + 8 * n, mac, 6);
    ++n;
  };
  if (fw.config().mac_list_flag_entry && c.domain == 0) {
    uint8_t zero[6] = {};
    put(4, zero);
  }
  put(0, perm.data());
  for (const auto& m : list) put(1, m.data());
  c.w8(16, static_cast<uint8_t>(std::min<size_t>(n, 1)));
  c.w8(17, static_cast<uint8_t>(n > 1 ? n - 1 : 0));
  c.resp_len = static_cast<uint32_t>(std::min<size_t>(20 + 8 * n, c.pcap));
}

// 1/148 set the MAC list of a domain.
void hSetMacList(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  uint32_t n = c.r8(0);
  if (n > 64 || c.req_len < 4 + 6 * n) {
    c.fail(kStatusIllegalField);
    return;
  }
  std::vector<std::array<uint8_t, 6>> list(n);
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 0; k < 6; ++k) list[i][k] = c.r8(4 + 6 * i + k);
  }
  fw.fnState(c.fn).mac_lists[c.domain] = list;
  c.respond(0);
}

// 1/59 PMAC add.
void hPmacAdd(Engine& fw, Cmd& c) {
  if (!version(c, {0, 1}) || !need(c, c.version == 1 ? 11 : 10) || !domainOk(fw, c)) return;
  uint32_t if_id = c.r32(0);
  const InterfaceObj* i = fw.interface(if_id);
  if (i == nullptr || i->fn != c.fn) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (fw.countLive(ObjKind::MacFilter, static_cast<int>(c.fn)) >= fw.config().ucmacs) {
    c.fail(kStatusNoResources);
    return;
  }
  uint8_t mac[6];
  for (int k = 0; k < 6; ++k) mac[k] = c.r8(4 + k);
  uint32_t id = fw.addMacFilter(c.fn, c.domain, if_id, mac);
  c.respond(4);
  c.w32(0, id);
}

// 1/60 PMAC delete.
void hPmacDel(Engine& fw, Cmd& c) {
  if (!version(c, {0, 1}) || !need(c, c.version == 1 ? 9 : 8) || !domainOk(fw, c)) return;
  uint32_t if_id = c.r32(0), id = c.r32(4);
  MacFilter* m = fw.macFilterMut(id);
  if (m == nullptr || m->fn != c.fn || m->if_id != if_id) {
    c.fail(kStatusIllegalField);
    return;
  }
  fw.delMacFilter(id, c.fn);
  c.respond(0);
}

// 1/206 PMAC migrate between interfaces.
void hPmacMigrate(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  uint32_t id = c.r8(0), src = c.r8(1), dst = c.r8(2);
  MacFilter* m = fw.macFilterMut(id);
  const InterfaceObj* d = fw.interface(dst);
  if (m == nullptr || m->fn != c.fn || m->if_id != src || d == nullptr || d->fn != c.fn) {
    c.fail(kStatusIllegalField);
    return;
  }
  m->if_id = dst;
  c.respond(0);
}

// 1/145 interface queue filter add (Pivard).
void hIfQueueFilterAdd(Engine& fw, Cmd& c) {
  if (unsupported(c, !isPivard(fw))) return;
  if (!domainOk(fw, c)) return;
  FilterObj f{};
  f.fn = c.fn;
  f.if_id = c.r32(0);
  f.queue = c.r16(6);
  for (int k = 0; k < 6; ++k) f.mac[k] = c.r8(10 + k);
  const InterfaceObj* i = fw.interface(f.if_id);
  if (i == nullptr || i->fn != c.fn || c.r16(4) != 0 || c.r16(8) != 0) {
    c.fail(kStatusIllegalField);
    return;
  }
  uint32_t id = fw.addFilter(ObjKind::QueueFilter, f);
  c.respond(4);
  c.w32(0, id);
}

// 1/146 interface queue filter delete.
void hIfQueueFilterDel(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  const FilterObj* f = fw.filter(c.r32(4));
  if (f == nullptr || f->if_id != c.r32(0) || !fw.delFilter(c.r32(4), c.fn)) {
    c.fail(kStatusIllegalField);
    return;
  }
  c.respond(0);
}

// 1/193 manage interface filters (VXLAN tunnels, Veskarn).
void hManageIfaceFilters(Engine& fw, Cmd& c) {
  if (unsupported(c, fw.gen() != Gen::Veskarn)) return;
  uint8_t op = c.r8(0);
  Engine::FnState& s = fw.fnState(c.fn);
  if (op == 0) {
    uint32_t if_id = c.r32(8);
    const InterfaceObj* i = fw.interface(if_id);
    if (i == nullptr || i->fn != c.fn) {
      c.fail(kStatusIllegalField);
      return;
    }
    s.tunnel_if_set = true;
    s.tunnel_if = if_id;
    c.respond(8);
    return;
  }
  if (op == 2 || op == 5) {
    FilterObj f{};
    f.fn = c.fn;
    f.if_id = c.r32(4);
    f.tenant_if = c.r32(8);
    for (int k = 0; k < 6; ++k) f.mac[k] = c.r8(12 + k);
    f.vni = c.r32(20);
    const InterfaceObj* t = fw.interface(f.if_id);
    const InterfaceObj* n = fw.interface(f.tenant_if);
    if (c.r8(2) != 2 || t == nullptr || t->fn != c.fn || n == nullptr || n->fn != c.fn) {
      c.fail(kStatusIllegalField);
      return;
    }
    uint32_t id = fw.addFilter(ObjKind::TunnelFilter, f);
    c.respond(8);
    c.w8(0, op);
    c.w32(4, id);
    return;
  }
  if (op == 6) {
    // The filter is named by either of its interfaces: the tunnel one or
    // the tenant one whose ring it feeds.
    const FilterObj* f = fw.filter(c.r32(24));
    if (f == nullptr || (f->if_id != c.r32(8) && f->tenant_if != c.r32(8)) || !fw.delFilter(c.r32(24), c.fn)) {
      c.fail(kStatusIllegalField);
      return;
    }
    c.respond(0);
    return;
  }
  c.fail(kStatusIllegalField);
}

// 1/4 VLAN configuration of an interface.
void hVlanConfig(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  InterfaceObj* i = fw.interfaceMut(c.r8(0));
  uint32_t n = c.r8(3);
  bool promisc = c.r8(1) != 0;
  if (i == nullptr || i->fn != c.fn || n > 64 || (!promisc && c.req_len < 4 + 2 * n)) {
    c.fail(kStatusIllegalField);
    return;
  }
  i->vlan_promisc = promisc;
  i->vlans.clear();
  if (!promisc) {
    for (uint32_t k = 0; k < n; ++k) i->vlans.push_back(c.r16(4 + 2 * k));
  }
  c.respond(0);
}

// 1/34 receive filter flags of an interface.
void hRxfFilter(Engine& fw, Cmd& c) {
  InterfaceObj* i = fw.interfaceMut(c.r32(16));
  if (i == nullptr || i->fn != c.fn) {
    c.fail(kStatusIllegalField);
    return;
  }
  uint32_t mask = c.r32(8), flags = c.r32(12);
  i->rxf_flags = (i->rxf_flags & ~mask) | (flags & mask);
  c.respond(0);
}

// 3/1 RSS configuration.
void hRssConfig(Engine& fw, Cmd& c) {
  if (isKs(fw) ? !version(c, {0}) : !version(c, {1})) return;
  InterfaceObj* i = fw.interfaceMut(c.r32(0));
  if (i == nullptr || i->fn != c.fn || c.r8(176) != 1) {
    c.fail(kStatusIllegalField);
    return;
  }
  uint16_t lg = c.r16(6);
  if (lg != 0xFFFF && lg > 7) {
    c.fail(kStatusIllegalField);
    return;
  }
  i->rss_flags = c.r16(4);
  i->rss_log2 = lg;
  for (int k = 0; k < 40; ++k) i->rss_key[k] = c.r8(8 + k);
  i->rss_table.clear();
  if (lg != 0xFFFF) {
    for (uint32_t k = 0; k < (1u << lg); ++k) i->rss_table.push_back(c.r8(48 + k));
  }
  c.respond(0);
}

// ================================ queues ===================================

// 1/13: with 84 payload bytes an EQ create, with 8 the EMI canceller.
void hEqCreateOrEmi(Engine& fw, Cmd& c) {
  if (c.req_len == 8) {
    Engine::FnState& s = fw.fnState(c.fn);
    if (c.r32(0) != fw.portOfFunction(c.fn)) {
      c.fail(kStatusIllegalField);
      return;
    }
    s.emi = c.r32(4);
    c.respond(0);
    return;
  }
  if (!need(c, 84)) return;   // the EQ create form
  QueueObj q;
  q.kind = ObjKind::Eq;
  q.fn = c.fn;
  q.entry_size = 4;
  q.version = c.version;
  q.ctx[0] = c.r32(4);
  q.ctx[1] = c.r32(8);
  q.ctx[2] = c.r32(12);
  if ((q.ctx[0] & (1u << 29)) == 0 || (q.ctx[0] & (1u << 31)) != 0) {
    c.fail(kStatusIllegalField);
    return;
  }
  q.entries = entriesFromCountCode((q.ctx[1] >> 26) & 7, 7);
  if (((q.ctx[1] >> 26) & 7) > 3 && ((q.ctx[1] >> 26) & 7) != 7) {
    c.fail(kStatusIllegalField);
    return;
  }
  q.delay_mult = (q.ctx[2] >> 13) & 0x3FF;
  if (!readPages(c, 20, c.r16(0), &q) || !ringFits(c, q)) return;
  if (fw.countLive(ObjKind::Eq, static_cast<int>(c.fn)) >= fw.config().evtqs) {
    c.fail(kStatusNoResources);
    return;
  }
  // Vector: the lowest one no live EQ of the function uses.
  std::vector<bool> used(64, false);
  for (QueueObj* e : fw.queues(ObjKind::Eq, static_cast<int>(c.fn))) {
    if (e->vector < used.size()) used[e->vector] = true;
  }
  q.vector = 0;
  while (q.vector < used.size() && used[q.vector]) ++q.vector;
  q.id = fw.allocId(ObjKind::Eq);
  fw.addQueue(q);
  c.respond(4);
  c.w16(0, static_cast<uint16_t>(q.id));
}

// 1/12 CQ create: version 0 (Kalderstone) or 2 (Pivard, Veskarn).
void hCqCreate(Engine& fw, Cmd& c) {
  if (isKs(fw) ? !version(c, {0}) : !version(c, {2})) return;
  QueueObj q;
  q.kind = ObjKind::Cq;
  q.fn = c.fn;
  q.entry_size = 16;
  q.version = c.version;
  uint32_t w0 = c.r32(4), w1 = c.r32(8);
  q.ctx[0] = w0;
  q.ctx[1] = w1;
  if ((w0 & (1u << 29)) == 0 || (w0 & (1u << 31)) == 0 || (w1 & (1u << 31)) == 0) {
    c.fail(kStatusIllegalField);
    return;
  }
  q.entries = entriesFromCountCode((w0 >> 27) & 3, 3);
  if (c.version == 0) {
    q.bound = (w1 >> 22) & 0xFF;
  } else {
    if (c.r8(2) != 1) {
      c.fail(kStatusIllegalField);
      return;
    }
    q.bound = w1 & 0xFFFF;
  }
  q.flags = w0;
  if (!readPages(c, 20, c.r16(0), &q) || !ringFits(c, q)) return;
  if (ownQueue(fw, c, ObjKind::Eq, q.bound) == nullptr) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (fw.countLive(ObjKind::Cq, static_cast<int>(c.fn)) >= fw.config().cqs) {
    c.fail(kStatusNoResources);
    return;
  }
  q.id = fw.allocId(ObjKind::Cq);
  fw.addQueue(q);
  c.respond(4);
  c.w16(0, static_cast<uint16_t>(q.id));
}

// MCC queue creation, extended (1/90) and basic (1/21).
void mccCreate(Engine& fw, Cmd& c, bool extended) {
  QueueObj q;
  q.kind = ObjKind::MccQueue;
  q.fn = c.fn;
  q.entry_size = 256;
  q.version = c.version;
  size_t pages_at;
  uint32_t code;
  if (extended) {
    if (isPivard(fw) ? !version(c, {1}) : !version(c, {0})) return;
    q.async_mask = c.r32(4);
    uint32_t w = c.r32(8);
    q.ctx[0] = w;
    q.ctx[1] = c.r32(12);
    q.ctx[2] = c.r32(16);
    if ((q.ctx[1] & (1u << 31)) == 0) {
      c.fail(kStatusIllegalField);
      return;
    }
    if (c.version == 0) {
      code = (w >> 16) & 0xF;
      q.bound = (w >> 22) & 0x3FF;
    } else {
      code = (w >> 16) & 0xF;
      q.bound = w & 0xFFFF;
      if (c.r16(2) != q.bound || (q.ctx[2] & 1) == 0) {
        c.fail(kStatusIllegalField);
        return;
      }
    }
    pages_at = 24;
  } else {
    if (unsupported(c, isPivard(fw))) return;
    uint32_t w = c.r32(4);
    q.ctx[0] = w;
    q.ctx[1] = c.r32(8);
    if ((q.ctx[1] & (1u << 31)) == 0) {
      c.fail(kStatusIllegalField);
      return;
    }
    code = (w >> 16) & 0xF;
    q.bound = (w >> 22) & 0x3FF;
    q.async_mask = 0x62;     // the basic form gets the default events
    pages_at = 20;
  }
  q.entries = entriesFromLenCode(code);
  if (!readPages(c, pages_at, c.r16(0), &q) || !ringFits(c, q)) return;
  if (ownQueue(fw, c, ObjKind::Cq, q.bound) == nullptr) {
    c.fail(kStatusIllegalField);
    return;
  }
  q.id = fw.allocId(ObjKind::MccQueue);
  fw.addQueue(q);
  c.respond(4);
  c.w16(0, static_cast<uint16_t>(q.id));
}
void hMccCreateExt(Engine& fw, Cmd& c) { mccCreate(fw, c, true); }
void hMccCreate(Engine& fw, Cmd& c) { mccCreate(fw, c, false); }

// 3/7 transmit queue create: version 0 (KS), 1 (Pivard), 2 (Veskarn).
void hTxqCreate(Engine& fw, Cmd& c) {
  uint8_t want = isKs(fw) ? 0 : (isPivard(fw) ? 1 : 2);
  if (!version(c, {want})) return;
  QueueObj q;
  q.kind = ObjKind::TxQueue;
  q.fn = c.fn;
  q.entry_size = 16;
  q.version = c.version;
  if (c.r8(1) != 1 || c.r16(2) != 2) {
    c.fail(kStatusIllegalField);
    return;
  }
  q.entries = entriesFromLenCode(c.r8(6));
  q.bound = c.r16(12);
  if (want >= 1) {
    q.if_id = c.r16(4);
    const InterfaceObj* i = fw.interface(q.if_id);
    if (i == nullptr || i->fn != c.fn) {
      c.fail(kStatusIllegalField);
      return;
    }
  }
  if (!readPages(c, 68, c.r8(0), &q) || !ringFits(c, q)) return;
  if (ownQueue(fw, c, ObjKind::Cq, q.bound) == nullptr) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (fw.countLive(ObjKind::TxQueue, static_cast<int>(c.fn)) >= fw.config().txqs) {
    c.fail(kStatusNoResources);
    return;
  }
  q.id = fw.allocId(ObjKind::TxQueue);
  q.doorbell_offset = want == 2 ? 0x200 : 0x60;
  fw.addQueue(q);
  c.respond(8);
  c.w16(0, static_cast<uint16_t>(q.id));
  if (want == 2) c.w32(4, q.doorbell_offset);
}

// 3/8 receive queue create.
void hRxqCreate(Engine& fw, Cmd& c) {
  QueueObj q;
  q.kind = ObjKind::RxQueue;
  q.fn = c.fn;
  q.entry_size = 8;
  q.entries = 1024;
  q.bound = c.r16(0);
  uint8_t frag_log = c.r8(2);
  if (c.r8(3) != 2 || frag_log > 16) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (!readPages(c, 4, 2, &q) || !ringFits(c, q)) return;
  q.if_id = c.r32(20);
  q.flags = c.r32(28);      // RSS
  q.ctx[0] = c.r16(24);     // max frame
  q.ctx[1] = frag_log;
  const InterfaceObj* i = fw.interface(q.if_id);
  if (i == nullptr || i->fn != c.fn || ownQueue(fw, c, ObjKind::Cq, q.bound) == nullptr) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (fw.countLive(ObjKind::RxQueue, static_cast<int>(c.fn)) >= fw.config().rxqs) {
    c.fail(kStatusNoResources);
    return;
  }
  q.id = fw.allocId(ObjKind::RxQueue);
  if (q.id >= 1024) {
    c.fail(kStatusNoResources);
    return;
  }
  fw.addQueue(q);
  // RSS ids count the function's RSS rings from 1.
  uint8_t rss_id = 0;
  if (q.flags != 0) {
    for (QueueObj* r : fw.queues(ObjKind::RxQueue, static_cast<int>(c.fn))) rss_id += r->flags != 0;
    fw.queue(ObjKind::RxQueue, q.id)->ctx[2] = rss_id;   // the indirection table names rings by it
  }
  c.respond(4);
  c.w16(0, static_cast<uint16_t>(q.id));
  c.w8(2, rss_id);
}

// Queue destroy: EQ 1/55, CQ 1/54, MCC 1/53, TX 3/9, RX 3/10.
void destroy(Engine& fw, Cmd& c, ObjKind k) {
  uint32_t id = c.r16(0);
  if (ownQueue(fw, c, k, id) == nullptr) {
    c.fail(kStatusIllegalField);
    return;
  }
  // A queue others are bound to stays.
  if ((k == ObjKind::Eq || k == ObjKind::Cq) && boundByAny(fw, k, id)) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (k == ObjKind::RxQueue) c.rx_flush_cq = fw.queue(k, id)->bound;
  fw.destroyQueue(k, id, c.fn);
  c.respond(0);
}
void hEqDestroy(Engine& fw, Cmd& c) { destroy(fw, c, ObjKind::Eq); }
void hCqDestroy(Engine& fw, Cmd& c) { destroy(fw, c, ObjKind::Cq); }
void hMccDestroy(Engine& fw, Cmd& c) { destroy(fw, c, ObjKind::MccQueue); }
void hTxqDestroy(Engine& fw, Cmd& c) { destroy(fw, c, ObjKind::TxQueue); }
void hRxqDestroy(Engine& fw, Cmd& c) { destroy(fw, c, ObjKind::RxQueue); }

// 1/41 modify EQ delay (at most 8 records).
void hModifyEqd(Engine& fw, Cmd& c) {
  uint32_t n = c.r32(0);
  if (n > 8 || c.req_len < 4 + 12 * n) {
    c.fail(kStatusIllegalField);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    QueueObj* q = ownQueue(fw, c, ObjKind::Eq, c.r32(4 + 12 * i));
    if (q == nullptr) {
      c.fail(kStatusIllegalField);
      return;
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    ownQueue(fw, c, ObjKind::Eq, c.r32(4 + 12 * i))->delay_mult = c.r32(4 + 12 * i + 8);
  }
  c.respond(0);
}

// ================================ link =====================================

// 1/5 link status query.
void hLinkStatus(Engine& fw, Cmd& c) {
  if (fw.gen() == Gen::KS2 ? !version(c, {0}) : !version(c, {1})) return;
  if (!domainOk(fw, c)) return;
  const Engine::PortState& p = fw.port(fw.portOfFunction(c.fn));
  c.respond(12);
  c.w8(0, static_cast<uint8_t>(fw.portOfFunction(c.fn)));
  c.w8(1, 2);    // full duplex
  c.w8(2, p.link_up ? p.speed_code : 0);
  c.w8(5, p.down_reason);
  c.w16(6, p.link_up ? p.qos_speed : 0);
  c.w32(8, p.link_up ? 1 : 0);
}

// 1/134 port speed.
void hGetPortSpeed(Engine& fw, Cmd& c) {
  uint8_t port = c.r8(0);
  if (port >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return;
  }
  const Engine::PortState& p = fw.port(port);
  c.respond(4);
  c.w16(0, p.port_speed_code);
  c.w16(2, p.port_speed_code);
}

// 1/57 set port speed (version 1).
void hSetPortSpeed(Engine& fw, Cmd& c) {
  if (!version(c, {1})) return;
  uint8_t port = c.r8(0);
  uint16_t code = c.r16(2);
  static const uint16_t kCodes[] = {0, 1, 2, 12, 13, 14, 136};
  bool known = std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
  if (port >= fw.ports() || c.r8(1) != port || !known) {
    c.fail(kStatusIllegalField);
    return;
  }
  fw.port(port).port_speed_code = code;
  c.respond(0);
}

// 1/77 port names: one character per port.
void hQueryPortName(Engine& fw, Cmd& c) {
  c.respond(4);
  for (unsigned i = 0; i < 4; ++i) {
    c.w8(i, i < fw.config().port_names.size() ? static_cast<uint8_t>(fw.config().port_names[i]) : 0);
  }
}

// 1/80 logical link (versions 1 and 2; not on KS2).
void hLogicalLink(Engine& fw, Cmd& c) {
  if (unsupported(c, fw.gen() == Gen::KS2)) return;
  if (!version(c, {1, 2}) || !domainOk(fw, c)) return;
  fw.fnState(c.fn).logical_link[c.domain] = c.r32(0);
  c.respond(0);
}

// 1/28 QoS.
void hSetQos(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  if ((c.r32(0) & 1) == 0) {
    c.fail(kStatusIllegalField);
    return;
  }
  fw.fnState(c.fn).qos[c.domain] = c.r32(4);
  c.respond(0);
}

// 1/153 hardware switch configuration (PVID).
void hSetHsw(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  uint32_t w = c.r32(0);
  const InterfaceObj* i = fw.interface(w & 0xFFFF);
  if (i == nullptr) {
    c.fail(kStatusIllegalField);
    return;
  }
  if (w & (1u << 30)) fw.fnState(c.fn).pvid[c.domain] = c.r16(6);
  c.respond(0);
}

// 1/36 and 1/37 flow control.
void hSetFlowControl(Engine& fw, Cmd& c) {
  if (!version(c, {1})) return;
  Engine::PortState& p = fw.port(fw.portOfFunction(c.fn));
  p.tx_pause = c.r16(0);
  p.rx_pause = c.r16(2);
  c.respond(0);
}
void hGetFlowControl(Engine& fw, Cmd& c) {
  const Engine::PortState& p = fw.port(fw.portOfFunction(c.fn));
  c.respond(4);
  c.w16(0, p.tx_pause);
  c.w16(2, p.rx_pause);
}

// 1/170 and 1/100 function privileges.
void hGetFnPriv(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  c.respond(4);
  c.w32(0, fw.fnPrivileges(c.fn, c.domain));
}
void hSetFnPriv(Engine& fw, Cmd& c) {
  if (!domainOk(fw, c)) return;
  fw.fnState(c.fn).privileges[c.domain] = c.r32(0);
  c.respond(0);
}

// 1/102 PHY information.
void hPhyInfo(Engine& fw, Cmd& c) {
  const EngineConfig& cfg = fw.config();
  c.respond(24);
  c.w16(0, cfg.phy_type);
  c.w16(2, cfg.phy_if_type);
  c.w16(12, cfg.speed_caps);
  c.w16(14, cfg.speed_caps2);
}

// 1/73 transceiver data: page 160 (identification).
void hTransceiver(Engine& fw, Cmd& c) {
  uint32_t page = c.r32(0), port = c.r32(4);
  if (page != 160 || port >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return;
  }
  const Engine::PortState& p = fw.port(port);
  c.respond(8 + 256);
  c.w32(0, page);
  c.w32(4, port);
  c.w8(8 + 0, 0x03);          // SFP
  c.w8(8 + 8, 0x04);          // flags byte seen by interface type 3
  c.wbytes(8 + 20, p.vendor.data(), 16);
  c.wbytes(8 + 40, p.part.data(), 16);
  c.w8(8 + 131, 0x01);        // flags byte seen by interface type 10
}

// ============================ runtime commands =============================

// 1/35 firmware versions.
void hGetFwVer(Engine& fw, Cmd& c) {
  c.respond(64);
  c.wtext(0, fw.config().fw_version, 32);
  c.wtext(32, fw.config().flash_fw_version, 32);
}

// 1/121 die temperature (not KS2).
void hDieTemp(Engine& fw, Cmd& c) {
  if (unsupported(c, fw.gen() == Gen::KS2)) return;
  c.respond(8);
  c.w8(4, fw.config().die_temperature);
}

// 1/191 UE recovery feature.
void hUeRecovery(Engine& fw, Cmd& c) {
  if (unsupported(c, isPivard(fw))) return;
  if (c.r32(0) != 16 || c.r32(4) != 8) {
    c.fail(kStatusIllegalField);
    return;
  }
  bool want = (c.r32(8) & 1) != 0;
  bool ok = want && fw.config().tpe_supported;
  fw.fnState(c.fn).ue_recovery = ok;
  c.respond(16);
  c.w32(0, 16);
  c.w32(4, 8);
  c.w32(8, ok ? 1 : 0);
  c.w16(12, fw.config().ue2rp);
  c.w16(14, fw.config().ue2sr);
}

// 1/171 read object into a host buffer.
void hReadObject(Engine& fw, Cmd& c) {
  uint32_t len = c.r32(0), off = c.r32(4);
  std::string name;
  c.rtext(8, 104, &name);
  if (c.r32(112) != 1 || c.r32(116) != len) {
    c.fail(kStatusIllegalField);
    return;
  }
  uint64_t addr = (static_cast<uint64_t>(c.r32(124)) << 32) | c.r32(120);
  std::vector<uint8_t>* obj = fw.object(name);
  if (obj == nullptr) {
    c.fail(kStatusIllegalField, 0x31);
    return;
  }
  uint32_t size = static_cast<uint32_t>(obj->size());
  c.respond(8);
  if (len == 0) {
    // A read of nothing reports the object's size.
    c.w32(0, size);
    c.w32(4, 0);
    return;
  }
  uint32_t n = off >= size ? 0 : std::min(len, size - off);
  if (n > 0) {
    if (c.dma == nullptr || !c.dma->write(addr, obj->data() + off, n)) {
      c.fail(kStatusFailed);
      c.resp_len = 0;
      return;
    }
  }
  c.w32(0, n);
  c.w32(4, off + n >= size ? 1 : 0);
}

// 1/174 delete object.
void hDeleteObject(Engine& fw, Cmd& c) {
  std::string name;
  c.rtext(8, 104, &name);
  if (!fw.hasObject(name)) {
    c.fail(kStatusIllegalField, 0x31);
    return;
  }
  fw.eraseObject(name);
  c.respond(0);
}

// 1/68 firmware log (FAT): p+0 1 asks the length, 0 reads.
void hFat(Engine& fw, Cmd& c) {
  const std::vector<uint8_t>& log = fw.fatLog();
  uint32_t size = static_cast<uint32_t>(log.size());
  if (c.r32(0) == 1) {
    c.respond(20);
    c.w32(0, size == 0 ? 0 : size + 4);
    return;
  }
  if (c.r32(0) != 0 || !need(c, 16)) {
    c.fail(kStatusIllegalField);
    return;
  }
  uint32_t off = c.r32(4), len = c.r32(8);
  uint32_t room = c.pcap > 16 ? static_cast<uint32_t>(c.pcap - 16) : 0;
  uint32_t n = off >= size ? 0 : std::min({len, size - off, room});
  c.respond(16 + n);
  c.w32(0, 0);
  c.w32(4, n);
  c.w32(8, len);
  c.w32(12, len);
  c.wbytes(16, log.data() + off, n);
}

// 1/91 VPD in PCI VPD resource format.
void hVpd(Engine& fw, Cmd& c) {
  if (c.r16(0) >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return;
  }
  std::vector<uint8_t>& custom = fw.vpd(c.fn);
  std::vector<uint8_t> v;
  if (!custom.empty()) {
    v = custom;
  } else {
    const EngineConfig& cfg = fw.config();
    auto tag = [&](uint8_t t, const std::vector<uint8_t>& body) {
      v.push_back(t);
      v.push_back(static_cast<uint8_t>(body.size()));
      v.push_back(static_cast<uint8_t>(body.size() >> 8));
      v.insert(v.end(), body.begin(), body.end());
    };
    auto kw = [](std::vector<uint8_t>& b, const char* k, const std::string& s) {
      b.push_back(static_cast<uint8_t>(k[0]));
      b.push_back(static_cast<uint8_t>(k[1]));
      b.push_back(static_cast<uint8_t>(s.size()));
      b.insert(b.end(), s.begin(), s.end());
    };
    tag(0x82, std::vector<uint8_t>(cfg.model_desc.begin(), cfg.model_desc.end()));
    std::vector<uint8_t> ro;
    kw(ro, "PN", "PN-" + cfg.model_name);
    kw(ro, "SN", cfg.serial_number);
    kw(ro, "V1", cfg.model_desc);
    kw(ro, "V2", cfg.model_name);
    kw(ro, "V3", cfg.program_type);
    kw(ro, "RV", std::string(1, '\0'));
    tag(0x90, ro);
    std::vector<uint8_t> rw;
    kw(rw, "YA", "asset");
    tag(0x91, rw);
    v.push_back(0x78);
  }
  size_t n = std::min(v.size(), c.pcap);
  c.respond(n);
  c.wbytes(0, v.data(), n);
}

// 3/4 statistics (version per generation), 3/18 port statistics (Pivard).
void statsBlock(Engine& fw, Cmd& c) {
  const std::vector<uint32_t>& words = fw.fnState(c.fn).stats;
  size_t bytes = words.size() * 4;
  c.respond(bytes - 16);
  for (size_t w = 4; w < words.size(); ++w) c.w32(4 * w - 16, words[w]);
}
void hGetStats(Engine& fw, Cmd& c) {
  static const uint8_t kVer[] = {0, 1, 2, 2};
  if (!version(c, {kVer[static_cast<unsigned>(fw.gen())]})) return;
  statsBlock(fw, c);
}
void hGetPportStats(Engine& fw, Cmd& c) {
  if (unsupported(c, !isPivard(fw))) return;
  if (c.r16(0) >= fw.ports() || c.r8(3) != 0) {
    c.fail(kStatusIllegalField);
    return;
  }
  statsBlock(fw, c);
}

// Subsystem 11: diagnostics the crash-dump tools send.
void hDiag21(Engine& fw, Cmd& c) {
  (void)fw;
  c.respond(20);
  c.w8(0, 0);
  c.w8(1, 1);
  c.w8(2, 1);
  c.w32(16, 7);
}
void hDiag22(Engine& fw, Cmd& c) {
  (void)fw;
  c.respond(8);
  c.w32(0, 0);
  c.w32(4, 1);
}
void hDiag24(Engine& fw, Cmd& c) {
  (void)fw;
  if (c.r32(0) == 4) {
    c.respond(9);
    return;
  }
  c.fail(kStatusNotSupported);
}

// A command and the fewest payload bytes (request_length) any of its forms
// has: the engine answers a shorter request with status 3 before the handler
// decodes a field.
struct Entry {
  uint8_t sub, op;
  Handler h;
  uint32_t min_payload;
};

const Entry kHandlers[] = {
    {SUB_COMMON, 1, hMacQuery, 4},
    {SUB_COMMON, 4, hVlanConfig, 4},
    {SUB_COMMON, 5, hLinkStatus, 0},
    {SUB_COMMON, 12, hCqCreate, 84},
    {SUB_COMMON, 13, hEqCreateOrEmi, 8},
    {SUB_COMMON, 21, hMccCreate, 84},
    {SUB_COMMON, 28, hSetQos, 8},
    {SUB_COMMON, 32, hCntlAttributes, 0},
    {SUB_COMMON, 34, hRxfFilter, 20},
    {SUB_COMMON, 35, hGetFwVer, 0},
    {SUB_COMMON, 36, hSetFlowControl, 4},
    {SUB_COMMON, 37, hGetFlowControl, 0},
    {SUB_COMMON, 41, hModifyEqd, 4},
    {SUB_COMMON, 50, hIfCreate, 20},
    {SUB_COMMON, 51, hIfDestroy, 4},
    {SUB_COMMON, 53, hMccDestroy, 2},
    {SUB_COMMON, 54, hCqDestroy, 2},
    {SUB_COMMON, 55, hEqDestroy, 2},
    {SUB_COMMON, 57, hSetPortSpeed, 4},
    {SUB_COMMON, 58, hQueryFwCfg, 0},
    {SUB_COMMON, 59, hPmacAdd, 10},
    {SUB_COMMON, 60, hPmacDel, 8},
    {SUB_COMMON, 61, hResetFunction, 0},
    {SUB_COMMON, 68, hFat, 4},
    {SUB_COMMON, 73, hTransceiver, 8},
    {SUB_COMMON, 77, hQueryPortName, 0},
    {SUB_COMMON, 80, hLogicalLink, 4},
    {SUB_COMMON, 81, hConfigResources, 0},
    {SUB_COMMON, 89, hIntrSet, 1},
    {SUB_COMMON, 90, hMccCreateExt, 88},
    {SUB_COMMON, 91, hVpd, 4},
    {SUB_COMMON, 100, hSetFnPriv, 4},
    {SUB_COMMON, 102, hPhyInfo, 0},
    {SUB_COMMON, 103, hCheckFunctionCap, 8},
    {SUB_COMMON, 121, hDieTemp, 0},
    {SUB_COMMON, 134, hGetPortSpeed, 1},
    {SUB_COMMON, 145, hIfQueueFilterAdd, 16},
    {SUB_COMMON, 146, hIfQueueFilterDel, 8},
    {SUB_COMMON, 147, hGetMacList, 2},
    {SUB_COMMON, 148, hSetMacList, 4},
    {SUB_COMMON, 153, hSetHsw, 8},
    {SUB_COMMON, 160, hGetFuncConfig, 0},
    {SUB_COMMON, 164, hGetProfileConfig, 2},
    {SUB_COMMON, 165, hSetProfileConfig, 8},
    {SUB_COMMON, 167, hActiveProfile, 0},
    {SUB_COMMON, 170, hGetFnPriv, 0},
    {SUB_COMMON, 171, hReadObject, 128},
    {SUB_COMMON, 174, hDeleteObject, 112},
    {SUB_COMMON, 191, hUeRecovery, 16},
    {SUB_COMMON, 193, hManageIfaceFilters, 28},
    {SUB_COMMON, 196, hEnableVf, 1},
    {SUB_COMMON, 206, hPmacMigrate, 3},
    {SUB_NIC, 1, hRssConfig, 177},
    {SUB_NIC, 4, hGetStats, 0},
    {SUB_NIC, 7, hTxqCreate, 132},
    {SUB_NIC, 8, hRxqCreate, 32},
    {SUB_NIC, 9, hTxqDestroy, 2},
    {SUB_NIC, 10, hRxqDestroy, 2},
    {SUB_NIC, 12, hWol, 4},
    {SUB_NIC, 18, hGetPportStats, 4},
    {SUB_DIAG, 21, hDiag21, 0},
    {SUB_DIAG, 22, hDiag22, 0},
    {SUB_DIAG, 24, hDiag24, 0},
};

}  // namespace

void registerDriverHandlers(Engine& fw) {
  for (const Entry& e : kHandlers) fw.registerHandler(e.sub, e.op, e.h, e.min_payload);
}

}  // namespace adapter

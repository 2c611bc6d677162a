// Queue, interface and configuration commands: the mailbox commands of
// bring-up and tear-down, and the profile and resource queries.
#include <cstring>
#include <initializer_list>

#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"
#include "tamsil_cmds_priv.h"

namespace {

constexpr uint32_t kProfileBufLen = 23252;
constexpr uint32_t kDescDefaultLen = 72;
constexpr uint32_t kSetProfileMaxDesc = 176;

// PCI subsystem device ids of adapter models without ACPI wake-up.
constexpr uint16_t kNoWolSubsysIds[5] = {0xE704, 0xE705, 0xE706, 0xE707, 0xE708};

uint8_t pciFunction(const Adapter* a) { return static_cast<uint8_t>(a->pci_addr.devfn >> 5); }

// Runs a header-only or embedded mailbox command whose response is not read.
uint32_t mboxSimple(Adapter* a, uint8_t sub, uint8_t opc, uint32_t len, uint8_t domain, uint32_t p0,
                    unsigned p0Width) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, sub, opc, len, 0, nullptr);
  if (st != 0) return st;
  c.hdr->domain = domain;
  if (p0Width == 1) tamsil_put8(c.p, 0, static_cast<uint8_t>(p0));
  if (p0Width == 2) tamsil_put16(c.p, 0, static_cast<uint16_t>(p0));
  if (p0Width == 4) tamsil_put32(c.p, 0, p0);
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t barePattern(Adapter* a, const uint8_t (&pattern)[8]) {
  vmk_SemaLock(&a->mbox_lock);
  MccWrb* wrb = tamsil_wrbFromMbox(a, nullptr);
  if (wrb == nullptr) {
    vmk_SemaUnlock(&a->mbox_lock);
    return TAMSIL_CH_BUSY;
  }
  memcpy(wrb, pattern, sizeof pattern);
  uint32_t st = tamsil_mboxNotifyWait(a);
  vmk_SemaUnlock(&a->mbox_lock);
  return st;
}

// Descriptor walk over a profile or function-configuration response. The
// walk stays inside the buffer whatever the firmware reports.
struct DescWalk {
  uint8_t* cur;
  uint8_t* end;
  uint32_t left;
};

DescWalk descWalkStart(uint8_t* p, uint32_t payloadBytes, uint32_t count) {
  return DescWalk{p + 4, p + payloadBytes, count};
}

// Next descriptor, or NULL. A length of 0 is taken as 72 and written back.
uint8_t* descNext(DescWalk* w) {
  if (w->left == 0 || w->cur + 2 > w->end) return nullptr;
  uint8_t* d = w->cur;
  uint32_t len = d[1];
  if (len == 0) {
    len = kDescDefaultLen;
    d[1] = static_cast<uint8_t>(len);
  }
  if (d + len > w->end) return nullptr;
  w->cur += len;
  w->left--;
  return d;
}

bool isPcieDesc(uint8_t t) { return t == 0x40 || t == 0x50; }
bool isNicDesc(uint8_t t) { return t == 0x41 || t == 0x51; }

}  // namespace

uint32_t tamsil_eqDelayMultiplier(uint32_t d) {
  if (d == 0) return 0;
  int64_t r = 1000000 / d;
  if (r == 0) return 1023;
  // Signed: a 1 us delay (r above 651042) means no delay, not a wrapped
  // unsigned difference that would ask for hundreds.
  int64_t m = ((651042 - r) * 10 / r + 5) / 10;
  if (m < 0) return 0;
  return m > 1023 ? 1023 : static_cast<uint32_t>(m);
}

// ---------------------------------------------------------------------------
// Firmware init, clean, reset and configuration
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdFwInit(Adapter* a) {
  static const uint8_t kInit[8] = {0xFF, 0x12, 0x34, 0xFF, 0xFF, 0x56, 0x78, 0xFF};
  return barePattern(a, kInit);
}

uint32_t tamsil_cmdFwClean(Adapter* a) {
  static const uint8_t kClean[8] = {0xFF, 0xAA, 0xBB, 0xFF, 0xFF, 0xCC, 0xDD, 0xFF};
  return barePattern(a, kClean);
}

uint32_t tamsil_cmdResetFunction(Adapter* a) { return tamsil_opsOf(a)->resetFunction(a); }

uint32_t tamsil_mboxResetFunction(Adapter* a) {
  return mboxSimple(a, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_FUNCTION_RESET, TAMSIL_HDR_LEN, 0, 0, 0);
}

bool tamsil_isSupportedASIC(Adapter* a) {
  if ((a->fw_chip_family == 0 || a->fw_chip_family == 3) && a->asic_rev == 0) {
    TAMSIL_CERR(a, "Bailing out KS%d A0 adapter", a->fw_chip_family == 0 ? 2 : 3);
    return false;
  }
  if (a->fw_chip_family == 10 && a->asic_rev == 0) {
    TAMSIL_CERR(a, "Bailing out PIVARD A0 adapter");
    return false;
  }
  return true;
}

uint32_t tamsil_cmdQueryFwCfg(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_QUERY_FW_CFG, 140, 0,
                                nullptr);
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    a->asic_rev = tamsil_get8(c.p, 4);
    a->fw_chip_family = tamsil_get8(c.p, 5);
    a->port_num = tamsil_get32(c.p, 8);
    a->fw_caps = tamsil_get32(c.p, 12);
    a->fw_func_caps = tamsil_get32(c.p, 120);
  }
  tamsil_cmdEnd(&c);
  if (st == 0 && !tamsil_isSupportedASIC(a)) return TAMSIL_CH_MBOX_FAIL;
  return st;
}

uint32_t tamsil_cmdCheckFunctionCap(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_CHECK_FUNCTION_CAP, 236,
                                0, nullptr);
  if (st != 0) return st;
  tamsil_put32(c.p, 0, 14);
  tamsil_put32(c.p, 4, 12);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    uint32_t caps = tamsil_get32(c.p, 4);
    a->cap_advanced_rx = (caps & 0x4) ? 1 : 0;
    if (!a->cap_advanced_rx) TAMSIL_CERR(a, "adapter not in advanced mode");
    a->cap_ks3_tx = ((caps & 0x8) && tamsil_isKs3Rev1(a)) ? 1 : 0;
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetCntlAttributes(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_CNTL_ATTRIBUTES, 560,
                                560, nullptr);
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    a->cntl_port = tamsil_get8(c.p, 447);
    a->pf_num = tamsil_get8(c.p, 510);
    memcpy(a->link.cntl_text, c.p + 96, 31);
    a->link.cntl_text[31] = '\0';
    uint8_t n = tamsil_get8(c.p, 520);
    if (tamsil_hasTrait(a, TAMSIL_GT_NETQ_COUNT_CLAMP))
      a->netq_count = n < 8 ? n : 8;
    else
      a->netq_count = (n >= 1 && n <= 8) ? n : 2;
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_getConfigResources(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_CONFIG_RESOURCES, 852,
                                852, nullptr);
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    uint32_t count = tamsil_get32(c.p, 0);
    if (count > 16) count = 16;  // the buffer holds 16 records
    for (uint32_t i = 0; i < count; i++) {
      const uint8_t* r = c.p + 4 + 52 * i;
      if (r[0] != 0 || r[6] != 0) continue;
      uint32_t portNum = tamsil_get32(r, 16);
      if (portNum > 3) {
        TAMSIL_CERR(a, "Invalid value of pciResources->portNum (%d)", portNum);
        st = TAMSIL_CH_MBOX_FAIL;
        continue;
      }
      if (r[4] == pciFunction(a)) {
        if (r[7] == 1) a->features |= TAMSIL_FEAT_SRIOV;
        uint16_t vfs = tamsil_get16(r, 10);
        a->sriov_total_vfs = vfs;
        a->sriov.fw_max_vfs = vfs;
        TAMSIL_CDBG(a, TAMSIL_DBG_SRIOV, "sriov_state=(%d) allowed_vfs=(%d)", r[7], vfs);
      }
    }
  }
  tamsil_cmdEnd(&c);
  return st;
}

void tamsil_updateFromNicDesc(Adapter* a, const uint8_t* d, ResourceLimits* l) {
  l->max_uc_mac = tamsil_get16(d, 8);
  l->max_mcc_count = tamsil_get16(d, 16);
  l->max_vlans = tamsil_get16(d, 18);
  l->max_tx_qs = tamsil_get16(d, 22);
  l->max_rx_qs = tamsil_get16(d, 24);
  l->max_rss_qs = tamsil_get16(d, 26);
  l->max_cq_count = tamsil_get16(d, 30);
  l->max_evt_qs = tamsil_get16(d, 34);
  l->max_iface_count = tamsil_get16(d, 38);
  l->cap_flags = tamsil_get32(d, 40);
  if (l->cap_flags == 0) {
    l->cap_flags = (a->fw_func_caps & 0x2) ? 0x1BB4 : 0x1BB0;
    TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "unable to get cap_flags from nic descriptor cap flags set to default");
  }
}

uint32_t tamsil_cmdGetFuncConfig(Adapter* a, ResourceLimits* l) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_FUNC_CONFIG,
                                kProfileBufLen, kProfileBufLen, nullptr);
  if (st != 0) return st;
  c.hdr->version = tamsil_traitsOf(a)->ver.func_config;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    DescWalk w = descWalkStart(c.p, kProfileBufLen - TAMSIL_HDR_LEN, tamsil_get32(c.p, 0));
    for (uint8_t* d; (d = descNext(&w)) != nullptr;) {
      if (isNicDesc(d[0])) {
        tamsil_updateFromNicDesc(a, d, l);
        break;
      }
    }
    TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER,
                "Max Available VFs =%d, TXQs =%d, RXQs =%d, RSSQs =%d, EVTQs =%d, CQs =%d, VLANs =%d, "
                "UCMacs =%d, IFaces =%d",
                l->max_vfs, l->max_tx_qs, l->max_rx_qs, l->max_rss_qs, l->max_evt_qs, l->max_cq_count,
                l->max_vlans, l->max_uc_mac, l->max_iface_count);
  }
  tamsil_cmdEnd(&c);
  return st;
}

static uint32_t getProfileConfig(Adapter* a, tamsil_Wait wait, uint8_t domain, uint8_t query, DmaBuffer* buf) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBeginBuf(a, &c, wait, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_PROFILE_CONFIG, kProfileBufLen,
                                   buf, nullptr);
  if (st != 0) return st;
  c.hdr->domain = domain;
  c.hdr->pf_vh = static_cast<uint16_t>(c.hdr->pf_vh & 0xFF00);
  c.hdr->version = tamsil_traitsOf(a)->ver.profile_config;
  tamsil_put8(c.p, 1, static_cast<uint8_t>(2 + (query == 1 ? 8 : 0)));
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetProfileConfigMbox(Adapter* a, uint8_t domain, uint8_t query, DmaBuffer* buf) {
  return getProfileConfig(a, TAMSIL_WAIT_MBOX, domain, query, buf);
}

uint32_t tamsil_cmdGetProfileConfigMccq(Adapter* a, uint8_t domain, uint8_t query, DmaBuffer* buf) {
  return getProfileConfig(a, TAMSIL_WAIT_POLL, domain, query, buf);
}

uint32_t tamsil_cmdGetProfileConfig(Adapter* a, uint8_t domain, uint8_t query, ResourceLimits* l) {
  DmaBuffer buf;
  memset(&buf, 0, sizeof buf);
  if (tamsil_mpoolAllocMap(a, &buf, kProfileBufLen) == nullptr) return TAMSIL_CH_NO_MEMORY;
  uint32_t st = a->mcc_q.created ? tamsil_cmdGetProfileConfigMccq(a, domain, query, &buf)
                                 : tamsil_cmdGetProfileConfigMbox(a, domain, query, &buf);
  if (st == 0) {
    uint8_t* p = static_cast<uint8_t*>(buf.va) + TAMSIL_HDR_LEN;
    uint32_t count = tamsil_get16(p, 0);
    const uint32_t payload = kProfileBufLen - TAMSIL_HDR_LEN;
    uint8_t* d;
    if (domain == 0 && query == 0) {
      DescWalk w = descWalkStart(p, payload, count);
      while ((d = descNext(&w)) != nullptr) {
        if (d[0] == 0x55) {
          a->function_mode = d[5];
          TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "mc_type = 0x%x", a->function_mode);
          break;
        }
      }
      w = descWalkStart(p, payload, count);
      while ((d = descNext(&w)) != nullptr) {
        if (isPcieDesc(d[0]) && d[6] == a->pf_num) {
          if (d[12] != 0) a->features |= TAMSIL_FEAT_SRIOV;
          l->max_vfs = tamsil_get16(d, 16);
          a->sriov.fw_max_vfs = l->max_vfs;
          TAMSIL_CDBG(a, TAMSIL_DBG_SRIOV, "sriov_state=(%d) allowed_vfs=(%d)", d[12], l->max_vfs);
          break;
        }
      }
    }
    if (count != 0) {
      DescWalk w = descWalkStart(p, payload, count);
      while ((d = descNext(&w)) != nullptr) {
        if (isNicDesc(d[0]) && (d[3] & 0x8)) {
          if (domain == 0) l->cap_flags2 = tamsil_get32(d, 40);
          break;
        }
      }
      w = descWalkStart(p, payload, count);
      while ((d = descNext(&w)) != nullptr) {
        if (isNicDesc(d[0])) {
          tamsil_updateFromNicDesc(a, d, l);
          break;
        }
      }
    }
    if (tamsil_hasTrait(a, TAMSIL_GT_PCIE_DESC_BUDGET) && !a->profile_desc_seen) {
      DescWalk w = descWalkStart(p, payload, count);
      while ((d = descNext(&w)) != nullptr) {
        if (isPcieDesc(d[0]) && d[12] != 0) {
          a->profile_desc_seen = 1;
          break;
        }
      }
    }
  }
  tamsil_mpoolUnmapFree(a, &buf);
  return st;
}

uint32_t tamsil_cmdSetProfileConfig(Adapter* a, const void* desc, uint32_t bytes, uint32_t count, uint8_t version,
                                    uint8_t domain) {
  if (bytes > kSetProfileMaxDesc) return VMK_BAD_PARAM;
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_PROFILE_CONFIG, 200,
                                200, nullptr);
  if (st != 0) return st;
  c.hdr->version = version;
  c.hdr->domain = domain;
  tamsil_put32(c.p, 4, count);
  memcpy(c.p + 8, desc, bytes);
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdSetSriovConfig(Adapter* a, uint16_t n, const ResourceLimits* L) {
  if (!tamsil_hasTrait(a, TAMSIL_GT_SRIOV_SPLIT)) return 0;
  int32_t rss = a->rss, drss = a->drss;
  int32_t need = 12, needMin = 12;  // a and c: receive queues the PF keeps
  if (rss != -1) {
    need = 8 + rss;
    needMin = 8 + (rss < 4 ? rss : 4);
  }
  if (drss == -1) {
    need += 4;
    needMin += 4;
  } else if (drss > 0) {
    need += drss;
    needMin += drss < 4 ? drss : 4;
  }
  uint32_t q = 1;
  if (n != 0 && a->function_mode <= 1) {
    int32_t maxVfs = L->max_vfs;
    uint32_t t;
    if (static_cast<int32_t>(n) < maxVfs - need)
      t = static_cast<uint32_t>(L->max_rx_qs - need) / n;
    else if (static_cast<int32_t>(n) < maxVfs - needMin)
      t = static_cast<uint32_t>(L->max_rx_qs - needMin) / n;
    else
      t = static_cast<uint32_t>(L->max_rx_qs) / n;
    q = t < 4 ? t : 4;
    if (q == 0) q = 1;
    if (n > 14) q = 1;
  }
  ResourceLimits M;
  memset(&M, 0, sizeof M);
  if (tamsil_cmdGetProfileConfig(a, 0, 1, &M) != 0) {
    TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "get_profile_config failed to get modifiable resources supressing to avoid bailing out");
    return 2;
  }
  uint8_t desc[176];
  memset(desc, 0, sizeof desc);
  uint8_t* pcie = desc;
  pcie[0] = 0x50;
  pcie[1] = 88;
  pcie[3] = 0xC0;
  pcie[6] = pciFunction(a);
  pcie[12] = n > 0 ? 1 : 0;
  pcie[13] = 0xFF;
  pcie[14] = 0xFF;
  tamsil_put16(pcie, 16, n);
  uint8_t* nic = desc + 88;
  nic[0] = 0x51;
  nic[1] = 88;
  nic[3] = 0xC8;
  nic[6] = pciFunction(a);
  for (uint32_t off : {8u, 16u, 18u, 20u, 28u, 32u, 34u, 38u, 60u, 62u}) tamsil_put16(nic, off, 0xFFFF);
  nic[44] = 0xFF;
  nic[46] = 0x00;
  nic[47] = 0xF0;
  tamsil_put32(nic, 48, 0xFFFFFFFF);
  tamsil_put32(nic, 52, 0xFFFFFFFF);
  nic[56] = 0xFF;
  nic[57] = 0x0F;
  if (M.cap_flags2 & 0x4) {
    uint32_t caps = q == 1 ? (L->cap_flags2 & ~(0x4u | 0x1000000u)) : (L->cap_flags2 | 0x4u);
    tamsil_put32(nic, 40, caps);
    nic[3] |= 0x1;
  } else {
    q = 1;
  }
  tamsil_put16(nic, 22, static_cast<uint16_t>(q));
  tamsil_put16(nic, 24, static_cast<uint16_t>(q));
  tamsil_put16(nic, 26, static_cast<uint16_t>(q));
  tamsil_put16(nic, 30, static_cast<uint16_t>(L->max_cq_count / (n + 1)));
  if (M.max_uc_mac == 0xFFFF) tamsil_put16(nic, 8, static_cast<uint16_t>(L->max_uc_mac / (n + 1)));
  if (M.max_mcc_count == 0xFFFF) tamsil_put16(nic, 16, static_cast<uint16_t>(L->max_mcc_count / (n + 1)));
  if (M.max_vlans == 0xFFFF) tamsil_put16(nic, 18, static_cast<uint16_t>(L->max_vlans / (n + 1)));
  if (M.max_iface_count == 0xFFFF)
    tamsil_put16(nic, 38, static_cast<uint16_t>(L->max_iface_count / (n + 1)));
  TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER,
              "VF resource redistribution:TXQs :%d RXQs :%d RSSQs :%d MCCQs :%d CQs :%d UCmacs :%d IFaces :%d "
              "VLANs :%d",
              tamsil_get16(nic, 22), tamsil_get16(nic, 24), tamsil_get16(nic, 26), tamsil_get16(nic, 16),
              tamsil_get16(nic, 30), tamsil_get16(nic, 8), tamsil_get16(nic, 38), tamsil_get16(nic, 18));
  return tamsil_cmdSetProfileConfig(a, desc, sizeof desc, 2, 1, 0);
}

uint32_t tamsil_cmdGetActiveProfile(Adapter* a, uint16_t* profileId) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_ACTIVE_PROFILE, 20, 0,
                                nullptr);
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) *profileId = tamsil_get16(c.p, 0);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetAcpiWolCap(Adapter* a) {
  for (uint16_t id : kNoWolSubsysIds)
    if (a->pci_id.subsystem_device_id == id) return 0;
  tamsil_Cmd c;
  uint32_t st =
      tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_NIC, TAMSIL_OPC_NIC_ACPI_WOL, 1204, 1204, nullptr);
  if (st != 0) return st;
  c.hdr->version = 1;
  tamsil_put8(c.p, 2, 2);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    a->wol_cap = tamsil_get8(c.p, 2);
    if (a->wol_cap & 0x80) a->wol_enabled = 1;
  }
  tamsil_cmdEnd(&c);
  return st;
}

// ---------------------------------------------------------------------------
// Interfaces and MAC addresses
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdIfCreate(Adapter* a, uint32_t capFlags, uint32_t enFlags, const uint8_t* mac, bool noMac,
                            uint32_t* ifId, uint32_t* pmacId, uint8_t domain) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_IF_CREATE, 40, 0, nullptr);
  if (st != 0) return st;
  c.hdr->domain = domain;
  tamsil_put32(c.p, 4, capFlags);
  tamsil_put32(c.p, 8, enFlags);
  if (mac != nullptr) memcpy(c.p + 12, mac, 6);
  tamsil_put8(c.p, 19, noMac ? 1 : 0);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    if (ifId != nullptr) *ifId = tamsil_get32(c.p, 0);
    if (mac != nullptr && pmacId != nullptr) *pmacId = tamsil_get32(c.p, 4);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdIfDestroy(Adapter* a, uint32_t ifId, uint8_t domain) {
  return mboxSimple(a, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_IF_DESTROY, 20, domain, ifId, 4);
}

uint32_t tamsil_cmdMacAddrQuery(Adapter* a, uint8_t* mac, uint8_t type, bool permanent, uint32_t ifId) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MAC_QUERY, 20, 0, nullptr);
  if (st != 0) return st;
  tamsil_put8(c.p, 0, type);
  if (permanent) {
    tamsil_put8(c.p, 1, 1);
  } else {
    tamsil_put8(c.p, 1, 0);
    tamsil_put16(c.p, 2, static_cast<uint16_t>(ifId));
  }
  st = tamsil_cmdRun(&c);
  if (st == 0) memcpy(mac, c.p + 2, 6);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetMacFromList(Adapter* a, uint8_t* mac, bool* flag, uint8_t domain) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_MAC_LIST, 548, 548,
                                nullptr);
  if (st != 0) return st;
  c.hdr->domain = domain;
  tamsil_put8(c.p, 0, 1);
  tamsil_put8(c.p, 1, 1);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    uint32_t count = static_cast<uint32_t>(tamsil_get8(c.p, 16)) + tamsil_get8(c.p, 17);
    // The firmware's count is trusted only as far as the buffer reaches.
    const uint32_t room = (548 - TAMSIL_HDR_LEN - 20) / 8;
    if (count > room) count = room;
    bool typed = false;
    for (uint32_t i = 0; i < count; i++) {
      if (tamsil_get16(c.p, 20 + 8 * i) == 4) {
        typed = true;
        break;
      }
    }
    if (typed) {
      *flag = true;
    } else if (*flag || count == 0) {
      st = TAMSIL_CH_REFUSED;
    } else {
      memcpy(mac, c.p + 20 + 2, 6);
    }
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_getPermMac(Adapter* a, uint8_t* mac) {
  if (!tamsil_hasTrait(a, TAMSIL_GT_MAC_LIST)) return tamsil_cmdMacAddrQuery(a, mac, 1, true, 0);
  bool flag = false;
  return tamsil_cmdGetMacFromList(a, mac, &flag, 0);
}

uint32_t tamsil_cmdIntrSet(Adapter* a, bool enable) {
  return mboxSimple(a, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_INTR_SET, 20, 0, enable ? 1 : 0, 1);
}

uint32_t tamsil_cmdEnableVF(Adapter* a, uint8_t domain) {
  return mboxSimple(a, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_ENABLE_VF, 20, domain, 1, 1);
}

// ---------------------------------------------------------------------------
// Queues
// ---------------------------------------------------------------------------

static uint32_t countCode(uint32_t entries, uint32_t bits) {
  uint32_t all = (1u << bits) - 1;
  if (entries < 256) return all;
  uint32_t e = entries / 256;
  return static_cast<uint32_t>(31 - __builtin_clz(e)) & all;
}

static uint32_t putPages(Adapter* a, uint8_t* at, uint32_t maxPages, QueueInfo* q) {
  tamsil_PhysAddr pages[8];
  uint32_t n = tamsil_cmdPageAddrsPrepare(a, pages, maxPages, &q->mem);
  memcpy(at, pages, n * sizeof pages[0]);
  return n;
}

uint32_t tamsil_cmdEqCreate(Adapter* a, QueueInfo* eq, uint32_t delayUs) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_EQ_CREATE, 100, 0, nullptr);
  if (st != 0) return st;
  uint32_t n = putPages(a, c.p + 20, 8, eq);
  tamsil_put16(c.p, 0, static_cast<uint16_t>(n));
  tamsil_put32(c.p, 4, 1u << 29);
  tamsil_put32(c.p, 8, countCode(eq->len, 3) << 26);
  tamsil_put32(c.p, 12, (tamsil_eqDelayMultiplier(delayUs) & 0x3FF) << 13);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    eq->id = tamsil_get16(c.p, 0);
    eq->created = 1;
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdCqCreate(Adapter* a, QueueInfo* cq, QueueInfo* eq, bool solEvent, bool noDelay,
                            uint32_t watermark) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_CQ_CREATE, 100, 0, nullptr);
  if (st != 0) return st;
  uint32_t n = putPages(a, c.p + 20, 8, cq);
  tamsil_put16(c.p, 0, static_cast<uint16_t>(n));
  uint32_t code = countCode(cq->len, 2);
  uint32_t w0, w1;
  if (tamsil_traitsOf(a)->ver.cq_create == 0) {
    w0 = ((watermark & 0x3) << 12) | (noDelay ? 1u << 14 : 0) | (code << 27) | (1u << 29) |
         (solEvent ? 1u << 30 : 0) | (1u << 31);
    w1 = ((eq->id & 0xFFu) << 22) | (1u << 31);
  } else {
    c.hdr->version = tamsil_traitsOf(a)->ver.cq_create;
    tamsil_put8(c.p, 2, 1);
    w0 = (noDelay ? 1u << 14 : 0) | (code << 27) | (1u << 29) | (1u << 31);
    w1 = (eq->id & 0xFFFFu) | (1u << 31);
  }
  tamsil_put32(c.p, 4, w0);
  tamsil_put32(c.p, 8, w1);
  TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "Numpages %d, mem %p, size %d", n, cq->mem.va, cq->mem.size);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    cq->id = tamsil_get16(c.p, 0);
    cq->created = 1;
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdTxqCreate(Adapter* a, QueueInfo* txq, QueueInfo* cq, uint32_t ifId, uint32_t* dbOffset) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_NIC, TAMSIL_OPC_NIC_TXQ_CREATE, 148, 0, nullptr);
  if (st != 0) return st;
  uint32_t n = putPages(a, c.p + 68, 8, txq);
  tamsil_put8(c.p, 0, static_cast<uint8_t>(n));
  tamsil_put8(c.p, 1, 1);
  tamsil_put16(c.p, 2, 2);
  tamsil_put8(c.p, 6, static_cast<uint8_t>(tamsil_encodedQLen(txq->len)));
  tamsil_put16(c.p, 12, cq->id);
  c.hdr->version = tamsil_traitsOf(a)->ver.txq_create;
  if (c.hdr->version == 1)
    tamsil_put16(c.p, 4, static_cast<uint16_t>(a->rxo[0].if_id));
  else if (c.hdr->version == 2)
    tamsil_put16(c.p, 4, static_cast<uint16_t>(ifId));
  uint8_t version = c.hdr->version;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    txq->id = tamsil_get16(c.p, 0);
    txq->created = 1;
    if (dbOffset != nullptr) *dbOffset = version == 2 ? tamsil_get32(c.p, 4) : TAMSIL_DB_TXULP;
  }
  tamsil_cmdEnd(&c);
  return st;
}

static uint32_t mccqCreateExt(Adapter* a, QueueInfo* mccq, QueueInfo* cq) {
  tamsil_Cmd c;
  uint32_t st =
      tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MCCQ_CREATE_EXT, 104, 0, nullptr);
  if (st != 0) return st;
  uint32_t n = putPages(a, c.p + 24, 8, mccq);
  tamsil_put16(c.p, 0, static_cast<uint16_t>(n));
  tamsil_put32(c.p, 4, tamsil_traitsOf(a)->mcc_async_mask);
  uint32_t code = tamsil_encodedQLen(mccq->len);
  if (tamsil_traitsOf(a)->ver.mccq_create == 1) {
    c.hdr->version = 1;
    tamsil_put16(c.p, 2, cq->id);
    tamsil_put32(c.p, 8, (cq->id & 0xFFFFu) | ((code & 0xF) << 16));
    tamsil_put32(c.p, 12, 1u << 31);
    tamsil_put32(c.p, 16, 1u);
  } else {
    tamsil_put32(c.p, 8, ((code & 0xF) << 16) | ((cq->id & 0x3FFu) << 22));
    tamsil_put32(c.p, 12, 1u << 31);
  }
  st = tamsil_cmdRun(&c);
  if (st == 0) mccq->id = tamsil_get16(c.p, 0);
  tamsil_cmdEnd(&c);
  return st;
}

static uint32_t mccqCreateBasic(Adapter* a, QueueInfo* mccq, QueueInfo* cq) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_MBOX, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MCCQ_CREATE, 100, 0, nullptr);
  if (st != 0) return st;
  uint32_t n = putPages(a, c.p + 20, 8, mccq);
  tamsil_put16(c.p, 0, static_cast<uint16_t>(n));
  tamsil_put32(c.p, 4, ((tamsil_encodedQLen(mccq->len) & 0xF) << 16) | ((cq->id & 0x3FFu) << 22));
  tamsil_put32(c.p, 8, 1u << 31);
  st = tamsil_cmdRun(&c);
  if (st == 0) mccq->id = tamsil_get16(c.p, 0);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdMccqCreate(Adapter* a, QueueInfo* mccq, QueueInfo* cq) {
  uint32_t st = mccqCreateExt(a, mccq, cq);
  if (st != 0 && tamsil_hasTrait(a, TAMSIL_GT_MCCQ_BASIC_FALLBACK)) {
    TAMSIL_CERR(a, "Upgrade to F/W ver 2.102.235.0 or newer to avoid conflicting priorities between NIC and FCoE "
                   "traffic");
    st = mccqCreateBasic(a, mccq, cq);
  }
  if (st == 0) mccq->created = 1;
  return st;
}

uint32_t tamsil_cmdQDestroy(Adapter* a, QueueInfo* q, uint32_t type) {
  uint8_t sub = TAMSIL_SUBSYS_COMMON, opc;
  switch (type) {
    case TAMSIL_QTYPE_EQ: opc = TAMSIL_OPC_EQ_DESTROY; break;
    case TAMSIL_QTYPE_CQ: opc = TAMSIL_OPC_CQ_DESTROY; break;
    case TAMSIL_QTYPE_TXQ: sub = TAMSIL_SUBSYS_NIC; opc = TAMSIL_OPC_NIC_TXQ_DESTROY; break;
    case TAMSIL_QTYPE_RXQ: sub = TAMSIL_SUBSYS_NIC; opc = TAMSIL_OPC_NIC_RXQ_DESTROY; break;
    case TAMSIL_QTYPE_MCCQ: opc = TAMSIL_OPC_MCCQ_DESTROY; break;
    default: vmk_Panic("Unknown Queue type");
  }
  uint32_t st = mboxSimple(a, sub, opc, 20, 0, q->id, 2);
  if (st == 0) q->created = 0;
  return st;
}

uint32_t tamsil_cmdRxqCreate(Adapter* a, QueueInfo* rxq, uint16_t cqId, uint16_t fragSize, uint32_t maxFrame,
                             uint32_t ifId, uint32_t rss, uint8_t* rssId) {
  return tamsil_rxqCreate(a, TAMSIL_WAIT_MBOX, rxq, cqId, fragSize, maxFrame, ifId, rss, rssId);
}

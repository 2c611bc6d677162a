// Runtime commands over the MCC queue: MAC and queue filters, VLAN, RSS,
// flow control, link and port, privileges, PHY and transceiver data,
// firmware objects and logs, interrupt delay, statistics.
#include <cstdio>
#include <cstring>

#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"
#include "tamsil_cmds_priv.h"

namespace {

// One embedded MCC command whose only result is its status: `fill` lays the
// payload.
template <typename Fill>
uint32_t mccSimple(Adapter* a, tamsil_Wait wait, uint8_t sub, uint8_t opc, uint32_t len, const char* label,
                   Fill fill) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, wait, sub, opc, len, 0, label);
  if (st != 0) return st;
  fill(c);
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  return st;
}

constexpr uint32_t kMaxMacList = 64;
constexpr uint32_t kMaxVlanTags = 64;
constexpr uint32_t kRssKeyBytes = 40;
constexpr uint32_t kRssTableMax = 128;
constexpr uint32_t kMaxEqdRecords = 8;
constexpr uint32_t kObjNameMax = 104;
constexpr uint32_t kReadObjCmdLen = 144;
constexpr uint32_t kFatCmdLen = 36;
constexpr uint32_t kVpdCmdLen = 4120;

}  // namespace

// ---------------------------------------------------------------------------
// MAC filters
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdPmacAdd(Adapter* a, const uint8_t* mac, uint32_t ifId, uint32_t* pmacId, uint8_t domain,
                           uint32_t kind) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_PMAC_ADD, 28, 0, "PmacAdd");
  if (st != 0) return st;
  c.hdr->domain = domain;
  tamsil_put32(c.p, 0, ifId);
  memcpy(c.p + 4, mac, 6);
  if (kind == 2) {
    c.hdr->version = 1;
    tamsil_put8(c.p, 10, 1);
  }
  st = tamsil_cmdRun(&c);
  if (st == 0 && pmacId != nullptr) *pmacId = tamsil_get32(c.p, 0);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdPmacDel(Adapter* a, uint32_t ifId, uint32_t pmacId, uint8_t domain) {
  return mccSimple(a, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_PMAC_DEL, 24, "PmacDel", [&](tamsil_Cmd& c) {
    c.hdr->domain = domain;
    tamsil_put32(c.p, 0, ifId);
    tamsil_put32(c.p, 4, pmacId);
  });
}

uint32_t tamsil_cmdPmacDelV1(Adapter* a, uint32_t ifId, uint32_t pmacId, uint8_t domain) {
  return mccSimple(a, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_PMAC_DEL, 28, "PmacDelV1",
                   [&](tamsil_Cmd& c) {
                     c.hdr->version = 1;
                     c.hdr->domain = domain;
                     tamsil_put32(c.p, 0, ifId);
                     tamsil_put32(c.p, 4, pmacId);
                     tamsil_put8(c.p, 8, 1);
                   });
}

uint32_t tamsil_cmdPmacMigrate(Adapter* a, uint32_t srcIf, uint32_t dstIf, uint32_t pmacId, uint8_t domain) {
  return mccSimple(a, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_PMAC_MIGRATE, 36, "PmacMigrate",
                   [&](tamsil_Cmd& c) {
                     c.hdr->domain = domain;
                     tamsil_put8(c.p, 0, static_cast<uint8_t>(pmacId));
                     tamsil_put8(c.p, 1, static_cast<uint8_t>(srcIf));
                     tamsil_put8(c.p, 2, static_cast<uint8_t>(dstIf));
                   });
}

uint32_t tamsil_cmdSetMacList(Adapter* a, const uint8_t* macs, uint32_t count, uint8_t domain) {
  if (count > kMaxMacList) return VMK_BAD_PARAM;
  tamsil_Cmd c;
  uint32_t st =
      tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_MAC_LIST, 404, 404, "SetMacList");
  if (st != 0) return st;
  c.hdr->domain = domain;
  tamsil_put8(c.p, 0, static_cast<uint8_t>(count));
  if (count != 0) memcpy(c.p + 4, macs, 6 * count);
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdAddIfQueueFilter(Adapter* a, const uint8_t* mac, uint32_t ifId, uint32_t* filterId,
                                    uint8_t domain, uint16_t queue) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_ADD_IFQ_FILTER, 32, 0, nullptr);
  if (st != 0) return st;
  c.hdr->domain = domain;
  tamsil_put32(c.p, 0, ifId);
  tamsil_put16(c.p, 4, 0);
  tamsil_put16(c.p, 6, queue);
  tamsil_put16(c.p, 8, 0);
  memcpy(c.p + 10, mac, 6);
  st = tamsil_cmdRun(&c);
  if (st == 0 && filterId != nullptr) *filterId = tamsil_get32(c.p, 0);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdDelIfQueueFilter(Adapter* a, uint32_t ifId, uint32_t filterId, uint8_t domain) {
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_DEL_IFQ_FILTER, 24, nullptr,
                   [&](tamsil_Cmd& c) {
                     c.hdr->domain = domain;
                     tamsil_put32(c.p, 0, ifId);
                     tamsil_put32(c.p, 4, filterId);
                   });
}

uint32_t tamsil_cmdManageIfaceFiltersCreate(Adapter* a, uint8_t op, uint32_t tunnelIf, uint32_t tenantIf,
                                            const uint8_t* mac, uint32_t vxlanId, uint32_t* filterId) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MANAGE_IFACE_FILTERS, 52, 0,
                                "ManageIfaceFiltersCreate");
  if (st != 0) return st;
  if (op == 0) {
    tamsil_put8(c.p, 0, 0);
    tamsil_put32(c.p, 8, tunnelIf);
  } else {
    tamsil_put8(c.p, 0, op);
    tamsil_put8(c.p, 2, 2);
    tamsil_put32(c.p, 4, tunnelIf);
    tamsil_put32(c.p, 8, tenantIf);
    if (mac != nullptr) memcpy(c.p + 12, mac, 6);
    tamsil_put32(c.p, 20, vxlanId);
    TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "op:%d tunRxIf:%d tenant_RxIf:%d vxlanId:%d", op, tunnelIf, tenantIf, vxlanId);
    if (mac != nullptr)
      TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "MAC: %02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
  }
  st = tamsil_cmdRun(&c);
  if (st == 0 && (op == 2 || op == 5)) {
    uint32_t id = tamsil_get32(c.p, 4);
    if (filterId != nullptr) *filterId = id;
    TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "filterId=%d", id);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdManageIfaceFiltersDelete(Adapter* a, uint32_t ifId, uint32_t filterId) {
  return mccSimple(a, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MANAGE_IFACE_FILTERS, 52,
                   "ManageIfaceFiltersDelete", [&](tamsil_Cmd& c) {
                     tamsil_put8(c.p, 0, 6);
                     tamsil_put32(c.p, 8, ifId);
                     tamsil_put32(c.p, 24, filterId);
                   });
}

// ---------------------------------------------------------------------------
// VLAN, receive filters, RSS
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdVlanConfig(Adapter* a, uint32_t ifId, const uint16_t* tags, uint32_t count, uint8_t flag,
                              bool promiscuous, uint8_t domain) {
  if (!promiscuous && count > kMaxVlanTags) return VMK_BAD_PARAM;
  return mccSimple(a, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_VLAN_CONFIG, 148, "VlanConfig",
                   [&](tamsil_Cmd& c) {
                     c.hdr->domain = domain;
                     tamsil_put8(c.p, 0, static_cast<uint8_t>(ifId));
                     tamsil_put8(c.p, 1, promiscuous ? 1 : 0);
                     tamsil_put8(c.p, 2, flag);
                     tamsil_put8(c.p, 3, static_cast<uint8_t>(count));
                     if (!promiscuous)
                       for (uint32_t i = 0; i < count; i++) tamsil_put16(c.p, 4 + 2 * i, tags[i]);
                   });
}

uint32_t tamsil_cmdRxfFilterConfig(Adapter* a, uint32_t ifId, uint32_t flagMask, uint32_t flags) {
  // 424 bytes do not fit in a WRB: the command goes in its own buffer.
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_RXF_FILTER, 424, 424, nullptr);
  if (st != 0) return st;
  tamsil_put32(c.p, 8, flagMask);
  tamsil_put32(c.p, 12, flags);
  tamsil_put32(c.p, 16, ifId);
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdConfigRSS(Adapter* a, uint32_t ifId, uint16_t hashFlags, const uint8_t* key, uint32_t keyBytes,
                             const uint8_t* table, uint32_t tableEntries) {
  if (keyBytes > kRssKeyBytes || tableEntries > kRssTableMax) return VMK_BAD_PARAM;
  return mccSimple(a, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_NIC, TAMSIL_OPC_NIC_RSS_CONFIG, 196, "RssConfig",
                   [&](tamsil_Cmd& c) {
                     c.hdr->version = tamsil_traitsOf(a)->ver.rss_config;
                     tamsil_put32(c.p, 0, ifId);
                     tamsil_put16(c.p, 4, hashFlags);
                     tamsil_put16(c.p, 6, tableEntries == 0 ? 0xFFFF
                                                            : static_cast<uint16_t>(31 - __builtin_clz(tableEntries)));
                     if (keyBytes != 0) memcpy(c.p + 8, key, keyBytes);
                     if (tableEntries != 0) memcpy(c.p + 48, table, tableEntries);
                     tamsil_put8(c.p, 176, 1);
                   });
}

// ---------------------------------------------------------------------------
// Flow control, link, port
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdSetFlowControl(Adapter* a, uint32_t txPause, uint32_t rxPause) {
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_FLOW_CONTROL, 20, nullptr,
                   [&](tamsil_Cmd& c) {
                     c.hdr->version = 1;
                     tamsil_put16(c.p, 0, static_cast<uint16_t>(txPause));
                     tamsil_put16(c.p, 2, static_cast<uint16_t>(rxPause));
                   });
}

uint32_t tamsil_cmdGetFlowControl(Adapter* a, uint32_t* txPause, uint32_t* rxPause) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_FLOW_CONTROL, 20, 0,
                                "GetFlowControl");
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    *txPause = tamsil_get16(c.p, 0);
    *rxPause = tamsil_get16(c.p, 2);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdLinkStatusQuery(Adapter* a, uint8_t domain) {
  tamsil_Cmd c;
  uint32_t st =
      tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_LINK_STATUS_QUERY, 20, 0, nullptr);
  if (st != 0) return st;
  c.hdr->domain = domain;
  c.hdr->version = tamsil_traitsOf(a)->ver.link_query;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    uint32_t up = tamsil_get32(c.p, 8);
    uint32_t speed = 0;
    if (up) {
      uint32_t qos = tamsil_get16(c.p, 6);
      speed = qos != 0 ? qos * 10 : tamsil_speedFromCode(tamsil_get8(c.p, 2));
    }
    a->link.link_up = up ? 1 : 0;
    a->link.link_speed = static_cast<vmk_uint16>(speed > 0xFFFF ? 0xFFFF : speed);
  }
  tamsil_cmdEnd(&c);
  return st;
}

static uint32_t getPortSpeed(Adapter* a, tamsil_Wait wait, uint8_t port, uint16_t* first, uint16_t* second) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, wait, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_PORT_SPEED, 20, 0, "GetPortSpeed");
  if (st != 0) return st;
  tamsil_put8(c.p, 0, port);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    if (first != nullptr) *first = tamsil_get16(c.p, 2);
    if (second != nullptr) *second = tamsil_get16(c.p, 0);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetPortSpeed(Adapter* a, uint8_t port, uint16_t* first, uint16_t* second) {
  return getPortSpeed(a, TAMSIL_WAIT_POLL, port, first, second);
}

uint32_t tamsil_cmdGetPortSpeedAsync(Adapter* a, uint8_t port, uint16_t* first, uint16_t* second) {
  return getPortSpeed(a, TAMSIL_WAIT_SLEEP, port, first, second);
}

uint32_t tamsil_cmdSetPortSpeedV1(Adapter* a, uint8_t port, uint16_t speedCode) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_PORT_SPEED, 24, 0,
                                "SetPortSpeedV1");
  if (st != 0) return st;
  c.hdr->version = 1;
  tamsil_put8(c.p, 0, port);
  tamsil_put8(c.p, 1, port);
  tamsil_put16(c.p, 2, speedCode);
  st = tamsil_cmdRun(&c);
  if (st != 0 && st < 0x100 && reinterpret_cast<Response_Header*>(c.hdr)->additional_status == TAMSIL_FW_EXT_96)
    st = TAMSIL_FW_EXT_96;
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdQueryPortName(Adapter* a, char* name) {
  // The answer holds one name character per port, four of them.
  if (a->port_num > 3) return VMK_BAD_PARAM;
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_QUERY_PORT_NAME, 20, 0,
                                "QueryPortName");
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) *name = static_cast<char>(tamsil_get8(c.p, a->port_num));
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdSetLogicalLinkProperties(Adapter* a, bool follow, bool up, bool flag3, bool flag4, uint8_t domain,
                                            uint8_t version) {
  if (!tamsil_hasTrait(a, TAMSIL_GT_LOGICAL_LINK)) return 0;
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_LOGICAL_LINK, 20, nullptr,
                   [&](tamsil_Cmd& c) {
                     c.hdr->version = version;
                     c.hdr->domain = domain;
                     uint32_t w = (up ? 1u : 0u) | (follow ? 1u << 8 : 0u);
                     if (flag3) w |= flag4 ? (1u << 9) | (1u << 10) : 1u << 10;
                     tamsil_put32(c.p, 0, w);
                   });
}

uint32_t tamsil_setLogicalLinkProperties(Adapter* a, bool follow, bool up, bool flag3, bool flag4, uint8_t domain) {
  uint32_t st = tamsil_cmdSetLogicalLinkProperties(a, follow, up, flag3, flag4, domain, 2);
  if (st != 0) {
    TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "SET_LOGICAL_LINK_CONFIG V2 failed for domain %dwith status 0x%x, trying V1",
                domain, st);
    st = tamsil_cmdSetLogicalLinkProperties(a, follow, up, flag3, flag4, domain, 1);
  }
  return st;
}

uint32_t tamsil_cmdSetQos(Adapter* a, uint32_t bandwidth, uint8_t domain) {
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_QOS, 52, nullptr, [&](tamsil_Cmd& c) {
    c.hdr->domain = domain;
    tamsil_put32(c.p, 0, 1);
    tamsil_put32(c.p, 4, bandwidth);
  });
}

uint32_t tamsil_cmdSetHswConfig(Adapter* a, uint16_t pvid, uint8_t domain, uint32_t ifId) {
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_HSW_CONFIG, 36, nullptr,
                   [&](tamsil_Cmd& c) {
                     c.hdr->domain = domain;
                     uint32_t w = ifId & 0xFFFFu;
                     if (pvid != 0) {
                       tamsil_put16(c.p, 6, pvid);
                       w |= 1u << 30;
                     }
                     tamsil_put32(c.p, 0, w);
                   });
}

uint32_t tamsil_cmdGetFnPrivileges(Adapter* a, uint32_t* privileges, uint8_t domain) {
  *privileges = 0;
  tamsil_Cmd c;
  uint32_t st =
      tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_FN_PRIVILEGES, 20, 0, nullptr);
  if (st != 0) return st;
  c.hdr->domain = domain;
  st = tamsil_cmdRun(&c);
  if (st == 0) *privileges = tamsil_get32(c.p, 0);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdSetFnPrivileges(Adapter* a, uint32_t privileges, uint8_t domain) {
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_FN_PRIVILEGES, 20, nullptr,
                   [&](tamsil_Cmd& c) {
                     c.hdr->domain = domain;
                     tamsil_put32(c.p, 0, privileges);
                   });
}

// ---------------------------------------------------------------------------
// PHY, transceiver, wake-on-LAN, firmware version, temperature
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdGetPhyInfo(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_PHY_INFO, 40, 40, nullptr);
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    a->link.phy_type = tamsil_get16(c.p, 0);
    a->link.phy_if_type = tamsil_get16(c.p, 2);
    a->link.speed_mask = tamsil_get16(c.p, 12);
    a->link.speed_mask2 = tamsil_get16(c.p, 14);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdReadTransreceiverData(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st =
      tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_READ_TRANSRECV_DATA, 280, 280, nullptr);
  if (st != 0) return st;
  tamsil_put32(c.p, 0, 160);
  tamsil_put32(c.p, 4, a->cntl_port);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    if (a->link.phy_if_type == 3)
      a->link.phy_flags = tamsil_get8(c.p, 16);
    else if (a->link.phy_if_type == 10)
      a->link.phy_flags = tamsil_get8(c.p, 139);
    else
      a->link.phy_flags = 0;
    memcpy(a->link.sfp_vendor, c.p + 28, 16);
    a->link.sfp_vendor[16] = '\0';
    memcpy(a->link.sfp_part, c.p + 48, 16);
    a->link.sfp_part[16] = '\0';
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdEnableMagicWol(Adapter* a, const uint8_t* mac) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_NIC, TAMSIL_OPC_NIC_ACPI_WOL, 604, 604, nullptr);
  if (st != 0) return st;
  memcpy(c.p + 580, mac, 6);
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetFwVer(Adapter* a, char* version, char* flashVersion) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_FW_VERSION, 80, 0, nullptr);
  if (st != 0) return st;
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    memcpy(version, c.p, 31);
    version[31] = '\0';
    if (flashVersion != nullptr) {
      memcpy(flashVersion, c.p + 32, 31);
      flashVersion[31] = '\0';
    }
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetDieTemperature(Adapter* a) {
  // The value itself is stored by completion processing.
  uint32_t st = mccSimple(a, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_DIE_TEMPERATURE, 24,
                          "GetDieTemperature", [](tamsil_Cmd&) {});
  if (st != 0) a->die_temp_interval = 0;
  return st;
}

uint32_t tamsil_cmdSetUeRecovery(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st =
      tamsil_cmdBegin(a, &c, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_SET_UE_RECOVERY, 32, 0, nullptr);
  if (st != 0) return st;
  tamsil_put32(c.p, 0, 16);
  tamsil_put32(c.p, 4, 8);
  tamsil_put32(c.p, 8, a->tpe_requested ? 1 : 0);
  tamsil_put32(c.p, 12, 0);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    a->tpe_supported = tamsil_get32(c.p, 8) & 0x1;
    a->ue2rp = tamsil_get16(c.p, 12);
    a->ue2sr = tamsil_get16(c.p, 14);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdSetEmiCanceller(Adapter* a, uint32_t enable) {
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_EQ_CREATE, 24, nullptr, [&](tamsil_Cmd& c) {
    tamsil_put32(c.p, 0, a->port_num);
    tamsil_put32(c.p, 4, enable == 1 ? 1 : 0);
  });
}

uint32_t tamsil_cmdModifyEqd(Adapter* a, const tamsil_EqDelay* recs, uint32_t count) {
  if (count > kMaxEqdRecords) return VMK_BAD_PARAM;
  return mccSimple(a, TAMSIL_WAIT_POST, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MODIFY_EQ_DELAY, 116, nullptr,
                   [&](tamsil_Cmd& c) {
                     tamsil_put32(c.p, 0, count);
                     for (uint32_t i = 0; i < count; i++) {
                       tamsil_put32(c.p, 4 + 12 * i, recs[i].eq_id);
                       tamsil_put32(c.p, 8 + 12 * i, 0);
                       tamsil_put32(c.p, 12 + 12 * i, recs[i].multiplier);
                     }
                   });
}

// ---------------------------------------------------------------------------
// Firmware objects and log
// ---------------------------------------------------------------------------

// The command lies at the start of `buf`; the data area follows it.
uint32_t tamsil_cmdReadObject(Adapter* a, DmaBuffer* buf, uint32_t length, uint32_t offset, const char* name,
                              uint32_t* bytesRead, uint32_t* eof) {
  if (buf->size < kReadObjCmdLen || length > buf->size - kReadObjCmdLen) return VMK_BAD_PARAM;
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBeginBuf(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_READ_OBJECT,
                                   kReadObjCmdLen, buf, "ReadObject");
  if (st != 0) return st;
  tamsil_put32(c.p, 0, length);
  tamsil_put32(c.p, 4, offset);
  size_t n = strnlen(name, kObjNameMax - 1);
  memcpy(c.p + 8, name, n);
  tamsil_put32(c.p, 112, 1);
  tamsil_put32(c.p, 116, length);
  uint64_t data = tamsil_dmaBusAddr(buf) + kReadObjCmdLen;
  tamsil_put32(c.p, 120, static_cast<uint32_t>(data));
  tamsil_put32(c.p, 124, static_cast<uint32_t>(data >> 32));
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    uint32_t got = tamsil_get32(c.p, 0);
    *bytesRead = got > length && length != 0 ? length : got;
    if (eof != nullptr) *eof = tamsil_get32(c.p, 4);
  } else if (!c.abandoned) {
    const Response_Header* rh = reinterpret_cast<const Response_Header*>(c.hdr);
    TAMSIL_CERR(a, "ReadObject ioctl failed, status = %x, addn_status = %x", rh->status, rh->additional_status);
  } else {
    TAMSIL_CERR(a, "ReadObject ioctl failed, status = %x", st);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetFwDumpLen(Adapter* a, uint32_t* length) {
  DmaBuffer buf;
  memset(&buf, 0, sizeof buf);
  if (tamsil_mpoolAllocMap(a, &buf, kReadObjCmdLen) == nullptr) return TAMSIL_CH_NO_MEMORY;
  uint32_t got = 0;
  uint32_t st = tamsil_cmdReadObject(a, &buf, 0, 0, "/dbg/dump.bin", &got, nullptr);
  if (st == 0) {
    *length = got;
    TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "tamsil_cmdGetFwDumpLen: log len = %x", got);
  }
  tamsil_mpoolUnmapFree(a, &buf);
  return st;
}

uint32_t tamsil_cmdGetFwDump(Adapter* a, uint32_t offset, uint32_t length, void* out) {
  if (length > 0xFFFFFFFFu - kReadObjCmdLen) return VMK_BAD_PARAM;
  DmaBuffer buf;
  memset(&buf, 0, sizeof buf);
  if (tamsil_mpoolAllocMap(a, &buf, length + kReadObjCmdLen) == nullptr) return TAMSIL_CH_NO_MEMORY;
  uint32_t got = 0;
  uint32_t st = tamsil_cmdReadObject(a, &buf, length, offset, "/dbg/dump.bin", &got, nullptr);
  if (st == 0) memcpy(out, static_cast<uint8_t*>(buf.va) + kReadObjCmdLen, got);
  tamsil_mpoolUnmapFree(a, &buf);
  return st;
}

uint32_t tamsil_cmdDeleteObject(Adapter* a, const char* name) {
  return mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_DELETE_OBJECT, 128, nullptr,
                   [&](tamsil_Cmd& c) { memcpy(c.p + 8, name, strnlen(name, kObjNameMax - 1)); });
}

uint32_t tamsil_cmdGetFatRegLen(Adapter* a, uint32_t* length) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MANAGE_FAT, kFatCmdLen, 0,
                                "GetFatRegLen");
  if (st != 0) return st;
  tamsil_put32(c.p, 0, 1);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    uint32_t v = tamsil_get32(c.p, 0);
    if (v >= 5)
      *length = v - 4;
    else if (v >= 1)
      *length = 0;
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdGetFatRegs(Adapter* a, uint32_t offset, uint32_t length, void* out) {
  if (length > 0xFFFFFFFFu - kFatCmdLen) return VMK_BAD_PARAM;
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_MANAGE_FAT,
                                length + kFatCmdLen, length + kFatCmdLen, "GetFatRegs");
  if (st != 0) return st;
  tamsil_put32(c.p, 0, 0);
  tamsil_put32(c.p, 4, offset);
  tamsil_put32(c.p, 8, length);
  tamsil_put32(c.p, 12, length);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    // The firmware's byte count is held to what was asked for.
    uint32_t n = tamsil_get32(c.p, 4);
    if (n > length) n = length;
    memcpy(out, c.p + 16, n);
  }
  tamsil_cmdEnd(&c);
  return st;
}

// ---------------------------------------------------------------------------
// Receive queues: one builder for the mailbox and the MCC queue
// ---------------------------------------------------------------------------

uint32_t tamsil_rxqCreate(Adapter* a, tamsil_Wait wait, QueueInfo* rxq, uint16_t cqId, uint16_t fragSize,
                          uint32_t maxFrame, uint32_t ifId, uint32_t rss, uint8_t* rssId) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, wait, TAMSIL_SUBSYS_NIC, TAMSIL_OPC_NIC_RXQ_CREATE, 48, 0, nullptr);
  if (st != 0) return st;
  tamsil_put16(c.p, 0, cqId);
  tamsil_put8(c.p, 2, fragSize == 0 ? 0xFF : static_cast<uint8_t>(31 - __builtin_clz(fragSize)));
  tamsil_put8(c.p, 3, 2);
  tamsil_PhysAddr pages[2];
  uint32_t n = tamsil_cmdPageAddrsPrepare(a, pages, 2, &rxq->mem);
  memcpy(c.p + 4, pages, n * sizeof pages[0]);
  tamsil_put32(c.p, 20, ifId);
  tamsil_put16(c.p, 24, static_cast<uint16_t>(maxFrame));
  tamsil_put32(c.p, 28, rss);
  st = tamsil_cmdRun(&c);
  if (st == 0) {
    rxq->id = tamsil_get16(c.p, 0);
    rxq->created = 1;
    if (rssId != nullptr) *rssId = tamsil_get8(c.p, 2);
  }
  tamsil_cmdEnd(&c);
  return st;
}

uint32_t tamsil_cmdRxqCreateUseMcc(Adapter* a, QueueInfo* rxq, uint16_t cqId, uint16_t fragSize, uint32_t maxFrame,
                                   uint32_t ifId, uint32_t rss, uint8_t* rssId) {
  return tamsil_rxqCreate(a, TAMSIL_WAIT_POLL, rxq, cqId, fragSize, maxFrame, ifId, rss, rssId);
}

uint32_t tamsil_cmdRxqDestroy(Adapter* a, QueueInfo* rxq) {
  uint32_t st = mccSimple(a, TAMSIL_WAIT_POLL, TAMSIL_SUBSYS_NIC, TAMSIL_OPC_NIC_RXQ_DESTROY, 20, nullptr,
                          [&](tamsil_Cmd& c) { tamsil_put16(c.p, 0, rxq->id); });
  if (st == 0) rxq->created = 0;
  return st;
}

// ---------------------------------------------------------------------------
// VPD and transceiver check
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdGetVpdData(Adapter* a) {
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBegin(a, &c, TAMSIL_WAIT_SLEEP, TAMSIL_SUBSYS_COMMON, TAMSIL_OPC_GET_VPD, kVpdCmdLen,
                                kVpdCmdLen, "GetVpdData");
  if (st != 0) return st;
  tamsil_put16(c.p, 0, static_cast<uint16_t>(a->port_num));
  tamsil_put8(c.p, 2, 0);
  tamsil_put8(c.p, 3, 0);
  st = tamsil_cmdRun(&c);
  if (st == 0) tamsil_parseVpd(a, c.p, 4092);
  tamsil_cmdEnd(&c);
  return st;
}

void tamsil_parseVpd(Adapter* a, const uint8_t* v, uint32_t len) {
  uint32_t i = 0;
  while (i < len) {
    uint8_t tag = v[i];
    if (tag == 0x78) break;
    if (tag == 0x82 || tag == 0x91) {
      if (i + 3 > len) break;
      i += tamsil_get16(v, i + 1) + 3u;
      continue;
    }
    if (tag != 0x90) {
      i++;
      continue;
    }
    if (i + 3 > len) break;
    uint32_t end = i + 3 + tamsil_get16(v, i + 1);
    if (end > len) end = len;
    uint32_t k = i + 3;
    while (k + 3 <= end) {
      char kw[3] = {static_cast<char>(v[k]), static_cast<char>(v[k + 1]), 0};
      uint32_t klen = v[k + 2];
      uint32_t data = k + 3;
      uint32_t avail = data + klen <= end ? klen : end - data;
      char text[256];
      auto keep = [&](uint32_t max) {
        uint32_t n = avail < max ? avail : max;
        memcpy(text, v + data, n);
        text[n] = '\0';
        return n;
      };
      if (strcmp(kw, "SN") == 0) {
        uint32_t n = keep(31);
        TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "Serial Number = %s", text);
        if (n == 31) break;
      } else if (strcmp(kw, "V1") == 0) {
        keep(255);
        TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "Model Desc = %s", text);
      } else if (strcmp(kw, "V2") == 0) {
        keep(79);
        TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "Model Name = %s", text);
      } else if (strcmp(kw, "V3") == 0) {
        keep(79);
        TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "Program Type = %s", text);
      }
      k = data + klen;
    }
    i = end;
  }
}

void tamsil_checkSFPs(Adapter* a) {
  static const char* const kState[7] = {
      "Physical Link is functional",
      "Optics faulted/incorrectly installed/not installed \xE2\x80\x93 Reseat optics. If issue not resolved, replace",
      "Optics of two types installed \xE2\x80\x93 Remove one optic or install matching pair of optics",
      "Incompatible optics \xE2\x80\x93 Replace with compatible optics for card to function",
      "Unqualified optics \xE2\x80\x93 Replace with Prenn optics for Warranty and Technical Support",
      "Uncertified optics \xE2\x80\x93 Replace with Prenn-certified optics to enable link operation",
      "Unrecognized Optics state",
  };
  static const char* const kEffect[2] = {"Link is operational", "Link is non-operational"};
  if (!tamsil_hasTrait(a, TAMSIL_GT_SFP_CHECK)) return;
  tamsil_cmdReadTransreceiverData(a);
  char port = 0;
  if (tamsil_cmdQueryPortName(a, &port) != 0) port = static_cast<char>('0' + a->port_num);
  uint8_t s = a->sfp_state;
  uint8_t e = a->sfp_link_effect;
  if (s < 2)
    TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "Port %c: %s", port, kState[s]);
  else if (s < 6)
    TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "Port %c: %s-%s", port, kState[s], kEffect[e & 0x1]);
  else
    TAMSIL_CDBG(a, TAMSIL_DBG_DRIVER, "Port %c: %s:0x%x", port, kState[6], s);
}

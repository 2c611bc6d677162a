// The adapter as a kernel uplink: the registration data, the shared data
// area with its writer lock and version counters, the queue records and
// NetPolls, associate and disassociate with the capabilities, link-status
// publication and the uplink operation tables.
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"
#include "tamsil_keys.h"
#include "tamsil_netq.h"
#include "tamsil_statctr.h"
#include "tamsil_stats.h"

static inline Adapter* adapterOf(vmk_AddrCookie c) { return static_cast<Adapter*>(c.ptr); }

// The registration record the kernel reads starts like the kernel's own.
static_assert(offsetof(tamsil_uplinkRegData, apiRevision) == offsetof(vmk_UplinkRegData, apiRevision));
static_assert(offsetof(tamsil_uplinkRegData, moduleID) == offsetof(vmk_UplinkRegData, moduleID));
static_assert(offsetof(tamsil_uplinkRegData, ops) == offsetof(vmk_UplinkRegData, ops));
static_assert(sizeof(((tamsil_uplinkRegData*)nullptr)->ops) == sizeof(vmk_UplinkOps));
static_assert(offsetof(tamsil_uplinkRegData, sharedData) == offsetof(vmk_UplinkRegData, sharedData));
static_assert(offsetof(tamsil_uplinkRegData, driverData) == offsetof(vmk_UplinkRegData, driverData));

/* ------------------------------------------------------------------------ */
/* Operations of later parts of the driver                                   */
/* ------------------------------------------------------------------------ */

static VMK_ReturnStatus uplinkResetOp(vmk_AddrCookie c) { return tamsil_uplinkReset(adapterOf(c)); }

// The kernel's operations on the data path take the Adapter as driver data.
static VMK_ReturnStatus uplinkTxOp(vmk_AddrCookie c, void* pktList) {
  return tamsil_uplinkTx(adapterOf(c), static_cast<vmk_PktList*>(pktList));
}
static VMK_ReturnStatus uplinkMTUSetOp(vmk_AddrCookie c, vmk_uint32 mtu) { return tamsil_uplinkMTUSet(adapterOf(c), mtu); }
static VMK_ReturnStatus uplinkStartIOOp(vmk_AddrCookie c) { return tamsil_uplinkStartIO(adapterOf(c)); }
static VMK_ReturnStatus uplinkQuiesceIOOp(vmk_AddrCookie c) { return tamsil_uplinkQuiesceIO(adapterOf(c)); }
static VMK_ReturnStatus panicTxOp(vmk_AddrCookie c, vmk_PktList* l) { return tamsil_panicTx(adapterOf(c), l); }
static VMK_ReturnStatus panicPollOp(vmk_AddrCookie c, vmk_PktList* l) { return tamsil_panicPoll(adapterOf(c), l); }
static VMK_ReturnStatus panicInfoGetOp(vmk_AddrCookie c, tamsil_panicInfo* info) {
  return tamsil_panicInfoGet(adapterOf(c), info);
}
const tamsil_netDumpOps tamsilNetDumpOps = {panicTxOp, panicPollOp, panicInfoGetOp};

const vmk_UplinkCoalesceParamsOps tamsilCoalesceParamsOps = {tamsil_coalesceParamsGet, tamsil_coalesceParamsSet};
const vmk_UplinkWOLOps tamsilLinkWolOps = {tamsil_linkWOLGet, tamsil_linkWOLSet};
const vmk_UplinkPauseParamsOps tamsilPauseParamsOps = {tamsil_pauseParamGet, tamsil_pauseParamSet};
const vmk_UplinkEncapOffloadOps tamsilEncapOffloadOps = {tamsil_vxlanPortUpdate};
static VMK_ReturnStatus linkStatusSetOp(vmk_AddrCookie c, void* status) {
  return tamsil_linkStatusSet(adapterOf(c), static_cast<const vmk_LinkStatus*>(status));
}

const vmk_UplinkOps tamsilUplinkOps = {
    uplinkTxOp,             uplinkMTUSetOp,            tamsil_uplinkStateSet,  tamsil_uplinkStatsGet,
    tamsil_uplinkAssociate, tamsil_uplinkDisassociate, tamsil_uplinkCapEnable, tamsil_uplinkCapDisable,
    uplinkStartIOOp,        uplinkQuiesceIOOp,         uplinkResetOp,
};

/* ------------------------------------------------------------------------ */
/* Shared data writer protocol                                               */
/* ------------------------------------------------------------------------ */

void tamsil_sharedDataBegin(Adapter* a) {
  vmk_SPLock(a->shared_data.lock);
  a->shared_data.lockedCount++;
  vmk_CPUMemFenceReadWrite();
}

void tamsil_sharedDataEnd(Adapter* a) {
  vmk_CPUMemFenceReadWrite();
  a->shared_data.unlockedCount = a->shared_data.lockedCount;
  vmk_SPUnlock(a->shared_data.lock);
}

/* ------------------------------------------------------------------------ */
/* Transmit queue state towards the kernel                                   */
/* ------------------------------------------------------------------------ */

// Index of a transmit queue's qData record: the transmit records follow the
// M receive ones.
static vmk_uint32 txQueueValue(const Adapter* a, vmk_uint32 txIndex) { return a->queue_info.maxRxQueues + txIndex; }

static qData* txQData(Adapter* a, vmk_uint32 txIndex) {
  return txIndex < TAMSIL_MAX_VECTORS ? a->txo[txIndex].qdata : nullptr;
}

void tamsil_stopTxQueue(Adapter* a, vmk_uint32 txIndex, vmk_uint32) {
  qData* q = txQData(a, txIndex);
  if (q == nullptr) return;
  tamsil_sharedDataBegin(a);
  __atomic_store_n(&q->state, TAMSIL_QDATA_STOPPED, __ATOMIC_RELEASE);
  tamsil_sharedDataEnd(a);
  if (a->uplink != nullptr) vmk_UplinkQueueStop(a->uplink, txQueueValue(a, txIndex));
}

void tamsil_startTxQueue(Adapter* a, vmk_uint32 txIndex, vmk_uint32) {
  qData* q = txQData(a, txIndex);
  if (q == nullptr || (q->flags & (TAMSIL_QDATA_ALLOCATED | TAMSIL_QDATA_DEFAULT)) == 0) return;
  tamsil_sharedDataBegin(a);
  __atomic_store_n(&q->state, TAMSIL_QDATA_STARTED, __ATOMIC_RELEASE);
  tamsil_sharedDataEnd(a);
  if (a->uplink != nullptr) vmk_UplinkQueueStart(a->uplink, txQueueValue(a, txIndex));
}

bool tamsil_isTxQueueStopped(Adapter* a, vmk_uint32 txIndex) {
  qData* q = txQData(a, txIndex);
  return q == nullptr || __atomic_load_n(&q->state, __ATOMIC_ACQUIRE) == TAMSIL_QDATA_STOPPED;
}

VMK_ReturnStatus tamsil_updateUplinkLinkStatus(Adapter* a, vmk_Bool forceDown, vmk_Bool defer) {
  // The MCC world may get here while attach still builds the area: the
  // lock is published only once the area is filled.
  if (__atomic_load_n(&a->shared_data.lock, __ATOMIC_ACQUIRE) == VMK_LOCK_INVALID) return VMK_FAILURE;
  tamsil_sharedDataBegin(a);
  tamsil_linkStatus* l = &a->shared_data.link;
  if (forceDown) {
    l->state = VMK_LINK_STATE_DOWN;
    l->speed = 0;
    l->duplex = VMK_LINK_DUPLEX_HALF;
  } else {
    l->state = (a->link.link_up && !tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED)) ? VMK_LINK_STATE_UP
                                                                                  : VMK_LINK_STATE_DOWN;
    l->speed = a->link.link_speed;
    l->duplex = l->speed != 0 ? VMK_LINK_DUPLEX_FULL : VMK_LINK_DUPLEX_HALF;
  }
  a->link.reported_link = (vmk_uint8)l->state;
  a->link.reported_speed = (vmk_uint16)l->speed;
  if (tamsil_hasTrait(a, TAMSIL_GT_LINK_MODES_FROM_EVENT)) {
    a->shared_data.supportedModes = a->supported_modes;
    a->shared_data.supportedModesArraySz = a->num_supported_modes;
  }
  vmk_LinkStatus ls = {l->state, l->speed, l->duplex};
  tamsil_sharedDataEnd(a);
  if (!defer && a->uplink != nullptr) return vmk_UplinkUpdateLinkState(a->uplink, &ls);
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_LINK_UPDATE);
  return VMK_OK;
}

// Link change report: publishes a link that came up or went down while I/O
// runs. It runs inside the MCC drain, under driver spinlocks, so it calls
// nothing of the kernel: the report and the stop or start of the transmit
// queues are left to tamsil_linkReportDeferred.
void tamsil_linkStatusUpdate(Adapter* a) {
  if (!a->io_started) return;
  vmk_uint8 now = a->link.link_up ? 1 : 0;
  vmk_uint8 was = a->link.reported_link ? 1 : 0;
  const char* up = (const char*)a->uplink_name.string;
  if (now != was) {
    __atomic_store_n(&a->link_tx_pending, now ? TAMSIL_LINK_TX_START : TAMSIL_LINK_TX_STOP, __ATOMIC_RELEASE);
    tamsil_updateUplinkLinkStatus(a, false, true);
    tamsil_statInc(a->link_toggle);
    if (!now) {
      TAMSIL_MOD_WARN("%s : %s Link Down\n", up, a->pci_name);
      if (a->link.link_down_reason == 4) TAMSIL_MOD_WARN("%s : %s Link down because PAUSE flood\n", up, a->pci_name);
      if (a->link.link_down_reason == 5)
        TAMSIL_MOD_WARN("%s : %s Link downbecause over temperature\n", up, a->pci_name);
    } else {
      TAMSIL_MOD_WARN("%s : %s Link up - %d Mbps\n", up, a->pci_name, (int)a->shared_data.link.speed);
    }
  } else if (now && a->link.link_speed != a->link.reported_speed) {
    tamsil_updateUplinkLinkStatus(a, false, true);
    tamsil_statInc(a->link_toggle);
    TAMSIL_MOD_WARN("%s : %s Link up - %d Mbps\n", up, a->pci_name, (int)a->shared_data.link.speed);
  }
}

void tamsil_linkReportDeferred(Adapter* a) {
  if (a->flags != nullptr && vmk_BitVectorAtomicTestAndClear(a->flags, TAMSIL_FLAG_LINK_UPDATE)) {
    TAMSIL_DBG(a, TAMSIL_DBG_WORKER, TAMSIL_LOG_LEVEL_INFO2, "Link status updated using vmk_UplinkUpdateLinkState()\n");
    if (a->uplink != nullptr) {
      // Read under the writer lock: the completion drain may publish anew.
      vmk_LinkStatus ls;
      tamsil_sharedDataBegin(a);
      ls.state = a->shared_data.link.state;
      ls.speed = a->shared_data.link.speed;
      ls.duplex = a->shared_data.link.duplex;
      tamsil_sharedDataEnd(a);
      VMK_ReturnStatus st = vmk_UplinkUpdateLinkState(a->uplink, &ls);
      if (st != VMK_OK) TAMSIL_ERR(a, "vmk_UplinkUpdateLinkState failed: %#x\n", st);
    }
  }
  // A change seen after quiesce began is dropped: quiesce stops the queues.
  vmk_uint32 act = __atomic_exchange_n(&a->link_tx_pending, TAMSIL_LINK_TX_NONE, __ATOMIC_ACQ_REL);
  if (act != TAMSIL_LINK_TX_NONE && __atomic_load_n(&a->io_started, __ATOMIC_ACQUIRE))
    tamsil_startStopTxQueues(a, act == TAMSIL_LINK_TX_START ? 1 : 0);
}

/* ------------------------------------------------------------------------ */
/* PHY data                                                                  */
/* ------------------------------------------------------------------------ */

void tamsil_updateCableType(Adapter* a) {
  vmk_uint16 t = a->link.phy_if_type;
  vmk_uint8 f = a->link.phy_flags;
  vmk_uint8 c;
  if (t == 1 || t == 2)
    c = 3;
  else if (t == 3)
    c = (f & 0x4) ? 5 : 3;
  else if (t >= 6 && t <= 9)
    c = 0;
  else if (t == 10)
    c = (f & 0x8) ? 5 : 3;
  else
    c = 0xFF;
  a->link.cable_type = c;
}

void tamsil_cmdUpdatePhyInfo(Adapter* a) {
  tamsil_updateCableType(a);
  vmk_uint16 t = a->link.phy_if_type;
  a->link.fixed_link = (t == 4 || t == 5 || t == 11 || t == 12) ? 0 : 1;
}

static void addMode(Adapter* a, vmk_uint32 speed) {
  if (a->num_supported_modes >= TAMSIL_MAX_LINK_MODES) return;
  a->supported_modes[a->num_supported_modes].speed = speed;
  a->supported_modes[a->num_supported_modes].duplex = VMK_LINK_DUPLEX_FULL;
  a->num_supported_modes++;
}

static void supportedModes(Adapter* a) {
  if (tamsil_hasTrait(a, TAMSIL_GT_LINK_MODES_FROM_EVENT) || a->port_num != a->pf_num) return;
  a->num_supported_modes = 0;
  vmk_uint32 c = a->link.speed_mask | a->link.speed_mask2;
  struct Cand {
    vmk_uint32 speed, bit;
  };
  static const Cand k1[] = {{1000, 0x4}, {10000, 0x8}, {40000, 0x20}};
  static const Cand k4[] = {{1000, 0x4}, {10000, 0x8}};
  static const Cand k6[] = {{1000, 0x4}, {10000, 0x8}, {100, 0x2}};
  static const Cand k7[] = {{1000, 0x4}, {100, 0x2}, {10, 0x1}};
  static const Cand k12[] = {{1000, 0x4}, {10000, 0x8}, {20000, 0x10}};
  const Cand* set = nullptr;
  int n = 0;
  switch (a->link.phy_if_type) {
    case 1: case 2: case 3: case 10: case 11: set = k1; n = 3; break;
    case 4: case 5: set = k4; n = 2; break;
    case 6: set = k6; n = 3; break;
    case 7: case 8: case 9: set = k7; n = 3; break;
    case 12: set = k12; n = 3; break;
    default:
      addMode(a, 1000);
      addMode(a, 10000);
      break;
  }
  for (int i = 0; i < n; i++)
    if (c & set[i].bit) addMode(a, set[i].speed);
  if (a->link.autoneg) {
    if (a->num_supported_modes < TAMSIL_MAX_LINK_MODES) {
      a->supported_modes[a->num_supported_modes].speed = 0;
      a->supported_modes[a->num_supported_modes].duplex = 0xFFFFFFFFu;
      a->num_supported_modes++;
    }
  }
}

/* ------------------------------------------------------------------------ */
/* Uplink data                                                               */
/* ------------------------------------------------------------------------ */

static void destroyNetPoll(NetPollInfo* np) {
  if (np->created && np->netpoll != nullptr) vmk_NetPollDestroy(np->netpoll);
  np->netpoll = nullptr;
  np->created = 0;
  np->bound = 0;
}

// A failed set-up takes its NetPolls back; the writer lock stays for the
// caller's tamsil_cleanupUplinkData, which runs once nothing that takes the
// lock (the MCC world's event processing) runs any more.
static VMK_ReturnStatus setupFailed(Adapter* a, VMK_ReturnStatus st) {
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) destroyNetPoll(&a->netpoll[i]);
  return st;
}

VMK_ReturnStatus tamsil_cleanupUplinkData(Adapter* a) {
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) destroyNetPoll(&a->netpoll[i]);
  if (a->shared_data.lock != VMK_LOCK_INVALID) {
    vmk_Lock lock = a->shared_data.lock;
    __atomic_store_n(&a->shared_data.lock, VMK_LOCK_INVALID, __ATOMIC_RELEASE);
    vmk_SpinlockDestroy(lock);
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_createUplinkData(Adapter* a) {
  VMK_ReturnStatus st;
  const bool recovering = tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT);
  tamsil_cmdUpdatePhyInfo(a);
  vmk_uint16 code = 0, second = 0;
  if (tamsil_cmdGetPortSpeed(a, (vmk_uint8)a->port_num, &code, &second) == 0) {
    if ((code == 0 && a->link.speed_mask != 0) || (code >= 3 && code <= 11) || (code > 14 && code != 136))
      a->link.autoneg = 1;
  }
  supportedModes(a);
  vmk_Lock writer = VMK_LOCK_INVALID;
  if (!recovering) {
    vmk_SpinlockCreateProps p;
    memset(&p, 0, sizeof p);
    p.moduleID = tamsilDriver.module_id;
    p.heapID = tamsilDriver.heap_id;
    vmk_NameInitialize(&p.name, TAMSIL_DRIVER_NAME);
    p.type = VMK_SPINLOCK;
    p.domain = VMK_LOCKDOMAIN_INVALID;
    p.rank = 2;
    st = vmk_SpinlockCreate(&p, &writer);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Failed to create writer lock for shared data area\n");
      return st;
    }
  }
  if (a->mtu == 0) a->mtu = 1500;
  tamsil_uplinkSharedData* sd = &a->shared_data;
  sd->flags = 0;
  sd->state = 1;
  sd->link.state = VMK_LINK_STATE_DOWN;
  sd->link.speed = 0;
  sd->link.duplex = VMK_LINK_DUPLEX_HALF;
  sd->mtu = a->mtu;
  sd->supportedModes = a->supported_modes;
  sd->supportedModesArraySz = a->num_supported_modes;
  sd->queueInfo = &a->queue_info;
  if (!recovering) __atomic_store_n(&a->shared_data.lock, writer, __ATOMIC_RELEASE);

  const vmk_uint32 nRss = a->res.max_rss_qs, nDrss = a->res.max_drss_qs;
  const bool rss = (a->features & TAMSIL_FEAT_RSS) != 0, drss = (a->features & TAMSIL_FEAT_DRSS) != 0;
  vmk_uint32 R = a->res.max_rx_qs;
  if (R > a->num_vectors) R = a->num_vectors;
  vmk_uint32 maxRx = R, maxTx = R;
  if (rss) maxRx = maxTx = R + 1 - nRss;
  if (drss) {
    maxRx -= nDrss;
    maxTx -= nDrss;
  }
  if (tamsil_traitsOf(a)->max_tx_qs != 0) maxTx = a->res.max_tx_qs;
  // The queue records hold TAMSIL_MAX_UPLINK_QUEUES entries in all.
  if (maxRx > TAMSIL_MAX_VECTORS) maxRx = TAMSIL_MAX_VECTORS;
  if (maxRx + maxTx > TAMSIL_MAX_UPLINK_QUEUES) maxTx = TAMSIL_MAX_UPLINK_QUEUES - maxRx;
  tamsil_queueInfo* qi = &a->queue_info;
  qi->supportedQueueTypes = 3;
  qi->supportedRxQueueFilterClasses = (a->features & TAMSIL_FEAT_VXLAN_OFFLOAD) ? 9 : 1;
  qi->maxRxQueues = maxRx;
  qi->maxTxQueues = maxTx;
  qi->activeRxQueues = 0;
  qi->activeTxQueues = 0;
  qi->queueData = a->uplink_qdata;
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "maxTxQs: %d maxRxQs: %d \n", (int)maxTx, (int)maxRx);

  vmk_ServiceID net = 0;
  vmk_ServiceGetID("net", &net);
  const vmk_uint32 vectors = a->num_vectors ? a->num_vectors : 1;
  for (vmk_uint32 i = 0; i < maxRx; i++) {
    qData* q = &a->uplink_qdata[i];
    q->flags = 0;
    q->type = 1;
    __atomic_store_n(&q->state, 0, __ATOMIC_RELEASE);
    q->activeFeatures = 0;
    if (i == 0) {
      q->supportedFeatures = 0;
      q->maxFilters = a->res.uc_mac;
    } else {
      const bool pairs = tamsil_hasTrait(a, TAMSIL_GT_QUEUE_PAIRS);
      q->supportedFeatures = pairs ? 0x2 : 0;
      if (pairs && dyn_netq) q->supportedFeatures |= 0x80;
      if (rss && i + nRss + nDrss >= vectors) q->supportedFeatures |= 0x4;
      q->maxFilters = (a->res.uc_mac + vectors - 1) / vectors;
    }
    q->activeFilters = 0;
    q->dmaEngine = a->dma_engine;
    a->rxo[i].qdata = q;
    NetPollInfo* np = &a->netpoll[i];
    if (!recovering) {
      np->adapter = a;
      np->qdata = q;
      np->rxo = &a->rxo[i];
      vmk_NetPollProperties props;
      props.poll = tamsil_netPollCB;
      props.priv = np;
      st = vmk_NetPollCreate(&props, net, tamsilDriver.module_id, &np->netpoll);
      if (st != VMK_OK) {
        np->netpoll = nullptr;
        return setupFailed(a, st);
      }
      np->created = 1;
      q->netpoll = np->netpoll;
    }
    np->intr_cookie = a->intr_cookie[i];
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "RXq=%d, poll=0x%p, flag=0x%x\n", (int)i,
               (void*)np->netpoll, q->supportedFeatures);
  }
  vmk_uint32 next = maxRx;
  if (rss) {
    for (vmk_uint32 i = maxRx; i + 1 < maxRx + nRss && i < TAMSIL_MAX_VECTORS; i++) {
      st = tamsil_createUplinkNetPoll(a, net, i);
      if (st != VMK_OK) {
        return setupFailed(a, st);
      }
    }
    next = maxRx + nRss - 1;
  }
  if (drss) {
    for (vmk_uint32 i = next; i < next + nDrss && i < TAMSIL_MAX_VECTORS; i++) {
      st = tamsil_createUplinkNetPoll(a, net, i);
      if (st != VMK_OK) {
        return setupFailed(a, st);
      }
    }
  }
  for (vmk_uint32 j = maxRx; j < maxRx + maxTx; j++) {
    qData* q = &a->uplink_qdata[j];
    q->flags = 0;
    q->type = 2;
    __atomic_store_n(&q->state, 0, __ATOMIC_RELEASE);
    q->activeFeatures = 0;
    q->supportedFeatures = j == maxRx ? 0 : 0x2;
    q->dmaEngine = a->dma_engine;
    q->priority = 0;
    if (j - maxRx < TAMSIL_MAX_VECTORS) a->txo[j - maxRx].qdata = q;
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "txQ=%d,flag=0x%x\n", (int)(j - maxRx),
               q->supportedFeatures);
  }
  st = tamsil_allocRxQueue(a, 0, &qi->defaultRxQueueID, nullptr);
  if (st == VMK_OK) st = tamsil_allocTxQueue(a, &qi->defaultTxQueueID);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Failed to allocate the default queues\n");
    return setupFailed(a, st);
  }
  a->uplink_reg.apiRevision = TAMSIL_INTERFACE_REVISION;
  a->uplink_reg.moduleID = tamsilDriver.module_id;
  memcpy(a->uplink_reg.ops, &tamsilUplinkOps, sizeof tamsilUplinkOps);
  a->uplink_reg.sharedData = &a->shared_data;
  a->uplink_reg.driverData = a;
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Associate and capabilities                                                */
/* ------------------------------------------------------------------------ */

static void addKeys(Adapter* a) {
  struct Key {
    const char* name;
    vmk_MgmtKeyGetFn get;
    vmk_MgmtKeySetFn set;
    const char* fail;
  };
  const Key keys[] = {
      {"Q_IDs", tamsil_getQids, tamsil_setQids, "Adding of Q_IDs Key-Value with mgmt failed status: 0x%x\n"},
      {"VF_Link_State", tamsil_getVfLinkState, tamsil_setVfLinkState,
       "Adding of VF_Link_State Key-Value with mgmt failed status: 0x%x\n"},
      {"FirmwareDump", tamsil_getFwDump, tamsil_setFwDump, "Adding of FirmwareDump with mgmt failed status: 0x%x\n"},
      {"TpeTsDrvrLoad", tamsil_getTpeTsDL, tamsil_setTpeTsDL,
       "Adding of TpeTsBoot Key-Value with mgmt failed status: 0x%x\n"},
      {"TpeTsLastRecovery", tamsil_getTpeTsLR, tamsil_setTpeTsLR,
       "Adding of TpeTsLastRecovery Key-Value with mgmt failed status: 0x%x\n"},
      {"TpeRecoverySummary", tamsil_getTpeRS, tamsil_setTpeRS,
       "Adding of TpeRecoverySummary Key-Value with mgmt failed status: 0x%x\n"},
  };
  for (int i = 0; i < 6; i++) {
    if (i == 2 && !tamsil_hasTrait(a, TAMSIL_GT_FW_DUMP_OBJECT)) continue;
    if (i >= 3 && !(tpe_recovery && a->pf_num == 0)) break;
    vmk_Name n;
    vmk_NameInitialize(&n, keys[i].name);
    VMK_ReturnStatus st = vmk_MgmtAddKey(a->kv_handle, VMK_MGMT_KEY_TYPE_STRING, &n, keys[i].get, keys[i].set);
    if (st != VMK_OK) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      TAMSIL_ERR(a, keys[i].fail, st);
#pragma GCC diagnostic pop
      return;
    }
  }
}

static VMK_ReturnStatus capRegister(Adapter* a, vmk_uint32 cap, const char* name, const void* ops,
                                    bool acceptEnabled) {
  VMK_ReturnStatus st = vmk_UplinkCapRegister(a->uplink, cap, ops);
  if (st != VMK_OK && !(acceptEnabled && st == VMK_IS_ENABLED))
    TAMSIL_ERR(a, "%s cap register failed with error 0x%x\n", name, st);
  return st;
}

VMK_ReturnStatus tamsil_uplinkAssociate(vmk_AddrCookie driverData, vmk_Uplink uplink) {
  Adapter* a = adapterOf(driverData);
  a->uplink = uplink;
  vmk_UplinkNameGet(uplink, &a->uplink_name);
  tamsil_vmkdevHashNode* node =
      static_cast<tamsil_vmkdevHashNode*>(vmk_HeapAlloc(tamsilDriver.heap_id, sizeof(tamsil_vmkdevHashNode)));
  if (node == nullptr) {
    TAMSIL_ERR(a, "vmk_HeapAlloc failed for vmkDevice node\n");
  } else {
    memset(node, 0, sizeof *node);
    snprintf(node->uplink_name, sizeof node->uplink_name, "%s", a->uplink_name.string);
    node->device = a->device;
    VMK_ReturnStatus st = vmk_HashKeyInsert(tamsil_vmkdevHashTbl, a->pci_name, node);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Insertion of %s %p to tamsil_vmkdevHashTbl failed with: 0x%x\n", a->uplink_name.string,
                 (void*)a->device, st);
      vmk_HeapFree(tamsilDriver.heap_id, node);
    }
    vmk_MgmtSignature sig;
    memset(&sig, 0, sizeof sig);
    sig.version = VMK_REVISION_FROM_NUMBERS(1, 0, 0, 0);
    char name[VMK_MISC_NAME_MAX];
    memset(name, 0, sizeof name);
    snprintf(name, sizeof name, "%s", a->uplink_name.string);
    vmk_NameInitialize(&sig.name, name);
    vmk_NameInitialize(&sig.vendor, "Talvor");
    st = vmk_MgmtInit(tamsilDriver.module_id, tamsilDriver.heap_id, &sig, nullptr, (vmk_MgmtCookie)(uintptr_t)a,
                      &a->kv_handle);
    if (st != VMK_OK) {
      a->kv_handle = nullptr;
      TAMSIL_ERR(a, "Initialization of Key-Value with mgmt failed status:0x%x\n", st);
    } else {
      TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Initialization of Key-Value with mgmt succeeded\n");
      addKeys(a);
    }
    char np[VMK_MISC_NAME_MAX];
    const vmk_uint32 vectors = a->num_vectors, nRss = a->res.max_rss_qs, nDrss = a->res.max_drss_qs;
    const vmk_uint32 M = a->queue_info.maxRxQueues;
    if (a->features & TAMSIL_FEAT_DRSS) {
      for (vmk_uint32 i = vectors - nDrss; i < vectors; i++) {
        if (a->netpoll[i].netpoll == nullptr) continue;
        snprintf(np, sizeof np, "-%d", (int)i);
        vmk_UplinkNetPollRegister(uplink, a->netpoll[i].netpoll, np, VMK_FALSE);
      }
    }
    if (a->features & TAMSIL_FEAT_RSS) {
      for (vmk_uint32 i = M; i + 1 < M + nRss && i < TAMSIL_MAX_VECTORS; i++) {
        if (a->netpoll[i].netpoll == nullptr) continue;
        snprintf(np, sizeof np, "-%d", (int)i);
        vmk_UplinkNetPollRegister(uplink, a->netpoll[i].netpoll, np, VMK_FALSE);
      }
    }
  }
  capRegister(a, 1, "SG_TX", nullptr, false);
  capRegister(a, 3, "MULTI_PAGE_SG", nullptr, false);
  capRegister(a, 4, "IPv4_CSO", nullptr, false);
  capRegister(a, 9, "IPv4_TSO", nullptr, true);
  capRegister(a, 5, "IPv6_CSO", nullptr, true);
  capRegister(a, 10, "IPv6_TSO", nullptr, true);
  capRegister(a, 8, "VLAN_TX_INSERT", nullptr, false);
  capRegister(a, 7, "VLAN_RX_STRIP", nullptr, false);
  capRegister(a, 17, "COALESCE_PARAMS", &tamsilCoalesceParamsOps, false);
  if (a->msix_enabled)
    capRegister(a, 21, "MULTI_QUEUE", &tamsilQueueOps, false);
  else
    TAMSIL_ERR(a, "Skipping register of VMK_UPLINK_CAP_MULTI_QUEUE as device does not have msix enabled\n");
  capRegister(a, 14, "PRIV_STATS", &tamsilPrivStatsOps, false);
  vmk_UplinkCapRegister(uplink, 15, (const void*)linkStatusSetOp);
  if (a->wol_cap & 0x80)
    capRegister(a, 19, "WOL", &tamsilLinkWolOps, false);
  else
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Does not support WOL\n");
  capRegister(a, 20, "NetDump", &tamsilNetDumpOps, false);
  if (a->num_vfs != 0) capRegister(a, 24, "SRIOV", nullptr, false);
  if (a->features & TAMSIL_FEAT_VXLAN_OFFLOAD) {
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Register vxlan offload\n");
    capRegister(a, 25, "VXLAN OFFLOAD", &tamsilEncapOffloadOps, false);
  }
  capRegister(a, 12, "Modify Tx Hdrs", nullptr, false);
  return capRegister(a, 30, "Flow Control", &tamsilPauseParamsOps, false);
}

VMK_ReturnStatus tamsil_uplinkDisassociate(vmk_AddrCookie driverData) {
  Adapter* a = adapterOf(driverData);
  if (a->kv_handle != nullptr) {
    vmk_MgmtDestroy(a->kv_handle);
    a->kv_handle = nullptr;
  }
  a->uplink = nullptr;
  return VMK_OK;
}

VMK_ReturnStatus tamsil_uplinkStateSet(vmk_AddrCookie driverData, vmk_uint32 state) {
  adapterOf(driverData)->shared_data.state = state;
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Coalescing, wake-on-LAN, pause, VXLAN port                                */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_coalesceParamsGet(vmk_AddrCookie driverData, vmk_UplinkCoalesceParams* p) {
  Adapter* a = adapterOf(driverData);
  memset(p, 0, sizeof *p);
  p->rxUsecs = p->txUsecs = a->eq_delay[0].cur_eqd;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "rxUsecs: %d, txUsecs:%d\n", p->rxUsecs, p->txUsecs);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_coalesceParamsSet(vmk_AddrCookie driverData, vmk_UplinkCoalesceParams* p) {
  Adapter* a = adapterOf(driverData);
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "rxUsecs: %d, rxMaxFrames:%d, txUsecs:%d, txMaxFrames:%d\n",
             p->rxUsecs, p->rxMaxFrames, p->txUsecs, p->txMaxFrames);
  vmk_uint32 v = p->txUsecs;
  vmk_uint8 adaptive;
  vmk_uint32 fixed;
  if (v <= 1) {
    adaptive = 1;
    fixed = 0;
  } else {
    adaptive = 0;
    fixed = v;
    if (fixed < a->eq_delay[0].min_eqd) fixed = a->eq_delay[0].min_eqd;
    if (fixed > a->eq_delay[0].max_eqd) fixed = a->eq_delay[0].max_eqd;
  }
  for (vmk_uint32 i = 0; i < a->num_eq_delay && i < TAMSIL_MAX_VECTORS; i++) {
    a->eq_delay[i].adaptive = adaptive;
    a->eq_delay[i].static_eqd = fixed;
  }
  if (a->shared_data.lock != VMK_LOCK_INVALID) {
    tamsil_sharedDataBegin(a);
    vmk_uint32 n = a->queue_info.maxRxQueues + a->queue_info.maxTxQueues;
    for (vmk_uint32 q = 0; q < n && q < TAMSIL_MAX_UPLINK_QUEUES; q++)
      memcpy(a->uplink_qdata[q].coalesceParams, p, sizeof a->uplink_qdata[q].coalesceParams);
    tamsil_sharedDataEnd(a);
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_linkWOLGet(vmk_AddrCookie driverData, vmk_UplinkWolState* w) {
  Adapter* a = adapterOf(driverData);
  memset(w, 0, sizeof *w);
  if (a->wol_cap & 0x80) {
    w->supported = VMK_UPLINK_WOL_MAGIC;
    if (a->wol_enabled) w->enabled = VMK_UPLINK_WOL_MAGIC;
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_linkWOLSet(vmk_AddrCookie driverData, vmk_UplinkWolState* w) {
  Adapter* a = adapterOf(driverData);
  if (w->enabled & ~(vmk_uint32)VMK_UPLINK_WOL_MAGIC) return VMK_NOT_SUPPORTED;
  if (!(a->wol_cap & 0x80)) {
    TAMSIL_ERR(a, "WOL is not supported\n");
    return VMK_NOT_SUPPORTED;
  }
  a->wol_enabled = (w->enabled & VMK_UPLINK_WOL_MAGIC) ? 1 : 0;
  return VMK_OK;
}

// Ports of PHY types 1, 3 and 10 run pause without auto-negotiation.
static vmk_uint8 pauseAutoneg(const Adapter* a) {
  vmk_uint16 t = a->link.phy_if_type;
  return (t == 1 || t == 3 || t == 10) ? 0 : 1;
}

VMK_ReturnStatus tamsil_pauseParamGet(vmk_AddrCookie driverData, vmk_UplinkPauseParams* p) {
  Adapter* a = adapterOf(driverData);
  vmk_uint32 first = 0, second = 0;
  if (tamsil_cmdGetFlowControl(a, &first, &second) != 0) {
    TAMSIL_ERR(a, "Get flow control failed\n");
    return VMK_FAILURE;
  }
  p->txPauseEnabled = first ? 1 : 0;
  p->rxPauseEnabled = second ? 1 : 0;
  p->autoneg = pauseAutoneg(a);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_pauseParamSet(vmk_AddrCookie driverData, vmk_UplinkPauseParams p) {
  Adapter* a = adapterOf(driverData);
  if (p.autoneg != pauseAutoneg(a)) return VMK_NOT_SUPPORTED;
  if (tamsil_cmdSetFlowControl(a, p.txPauseEnabled != 0, p.rxPauseEnabled != 0) != 0) {
    TAMSIL_LOG_RATELIMITED("Set flow control failed for %s\n", a->uplink_name.string);
    return VMK_FAILURE;
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_vxlanPortUpdate(vmk_AddrCookie driverData, vmk_uint16 portNBO) {
  Adapter* a = adapterOf(driverData);
  vmk_uint16 port = (vmk_uint16)((portNBO >> 8) | (portNBO << 8));
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Driver vxlanPortUpdate: new port:%d cur port: %d\n", port,
             a->vxlan_port);
  vmk_uint32 st = tamsil_setCommonProfileConfig(a, port);
  if (st != 0) TAMSIL_ERR(a, "Update of vxlan udp port %d failed\n", port);
  vmk_uint16 cur = vmk_UplinkVXLANPortNBOGet();
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "New vxlanPort:%d \n", (vmk_uint16)((cur >> 8) | (cur << 8)));
  return st;
}

static VMK_ReturnStatus capAnswer(Adapter* a, vmk_uint32 cap, bool enable) {
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "vmk_UplinkCap: 0x%x\n", cap);
  switch (cap) {
    case 1: case 3: case 4: case 5: case 8: case 9: case 10: case 12:
      return VMK_OK;
    case 7: case 14: case 15: case 17: case 20: case 21: case 30:
      return enable ? VMK_OK : VMK_FAILURE;
    case 2: case 6: case 11: case 13: case 16: case 18: case 22: case 23: case 26: case 27: case 28: case 29:
    case 31: case 32:
      return enable ? VMK_FAILURE : VMK_OK;
    case 19: {
      bool on = (a->wol_cap & 0x80) != 0;
      return on == enable ? VMK_OK : VMK_FAILURE;
    }
    case 24: {
      bool on = a->num_vfs != 0;
      return on == enable ? VMK_OK : VMK_FAILURE;
    }
    case 25: {
      bool on = (a->features & TAMSIL_FEAT_VXLAN_OFFLOAD) != 0;
      return on == enable ? VMK_OK : VMK_FAILURE;
    }
    default:
      TAMSIL_ERR(a, "Unknown Uplink Capability 0x%x\n", cap);
      return VMK_FAILURE;
  }
}

VMK_ReturnStatus tamsil_uplinkCapEnable(vmk_AddrCookie driverData, vmk_uint32 cap) {
  return capAnswer(adapterOf(driverData), cap, true);
}

VMK_ReturnStatus tamsil_uplinkCapDisable(vmk_AddrCookie driverData, vmk_uint32 cap) {
  return capAnswer(adapterOf(driverData), cap, false);
}

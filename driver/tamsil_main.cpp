// Adapter bring-up: the control path, the configuration read and queue
// budget, the queue set and its ordered tear-down, VXLAN set-up, firmware
// readiness, the MCC completion world, VF sizing and enabling, and the event
// queues with their doorbells, interrupt entry and NetPoll.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"

/* ------------------------------------------------------------------------ */
/* Small helpers                                                             */
/* ------------------------------------------------------------------------ */

static void destroySpinlock(vmk_Lock* lock) {
  if (*lock != VMK_LOCK_INVALID) {
    vmk_SpinlockDestroy(*lock);
    *lock = VMK_LOCK_INVALID;
  }
}

static void destroySema(vmk_Semaphore* sema) {
  if (*sema != VMK_SEMAPHORE_INVALID) {
    vmk_SemaDestroy(sema);
    *sema = VMK_SEMAPHORE_INVALID;
  }
}

static VMK_ReturnStatus createSpinlock(vmk_Lock* lock) {
  vmk_SpinlockCreateProps props;
  memset(&props, 0, sizeof props);
  props.moduleID = tamsilDriver.module_id;
  props.heapID = tamsilDriver.heap_id;
  vmk_NameInitialize(&props.name, TAMSIL_DRIVER_NAME);
  props.type = VMK_SPINLOCK;
  props.domain = VMK_LOCKDOMAIN_INVALID;
  props.rank = VMK_SPINLOCK_UNRANKED;
  return vmk_SpinlockCreate(&props, lock);
}

// Stops a world and forgets its id; nothing when there is none.
static void stopWorld(vmk_WorldID* world) {
  if (*world != VMK_INVALID_WORLD_ID) {
    vmk_WorldDestroy(*world);
    vmk_WorldWaitForDeath(*world);
    *world = VMK_INVALID_WORLD_ID;
  }
}

/* ------------------------------------------------------------------------ */
/* Control path                                                              */
/* ------------------------------------------------------------------------ */

void tamsil_ctrlCleanup(Adapter* a) {
  destroySpinlock(&a->mcc_compl_worker_lock);
  destroySpinlock(&a->mcc_compl_wait_lock);
  destroySpinlock(&a->mcc_cq_lock);
  destroySpinlock(&a->mcc_lock);
  destroySema(&a->mbox_lock);
  destroySema(&a->pmac_lock);
  if (!tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) destroySema(&a->reset_lock);
  // A function whose objects outlived tear-down may still answer into it.
  if (a->mbox_quarantine)
    tamsil_quarantine(a, &a->mbox_mem);
  else if (a->mbox_mem.va != nullptr)
    tamsil_mpoolUnmapFree(a, &a->mbox_mem);
  a->mbox_va = nullptr;
  a->mbox_bus_addr = 0;
  if (a->scratch.va != nullptr) tamsil_mpoolUnmapFree(a, &a->scratch);
}

VMK_ReturnStatus tamsil_ctrlInit(Adapter* a) {
  VMK_ReturnStatus st;
  if (tamsil_mpoolAllocMap(a, &a->mbox_mem, TAMSIL_MBOX_ALLOC_SIZE) == nullptr) return VMK_FAILURE;
  vmk_uint64 base = (vmk_uint64)a->mbox_mem.va;
  vmk_uint64 off = ((base + 15) & ~15ull) - base;
  a->mbox_va = (vmk_uint8*)a->mbox_mem.va + off;
  a->mbox_bus_addr = tamsil_dmaBusAddr(&a->mbox_mem) + off;
  a->mbox_size = TAMSIL_MBOX_SIZE;
  memset(a->mbox_va, 0, TAMSIL_MBOX_SIZE);
  if (tamsil_mpoolAllocMap(a, &a->scratch, TAMSIL_SCRATCH_SIZE) == nullptr) {
    tamsil_ctrlCleanup(a);
    return VMK_FAILURE;
  }
  memset(a->scratch.va, 0, TAMSIL_SCRATCH_SIZE);
  st = vmk_BinarySemaCreate(&a->mbox_lock, tamsilDriver.module_id, "Mbox lock for tamsil");
  if (st != VMK_OK) {
    a->mbox_lock = VMK_SEMAPHORE_INVALID;
    TAMSIL_ERR(a, "Failed to create mbox_lock semaphore, status: 0x%x\n", st);
    tamsil_ctrlCleanup(a);
    return st;
  }
  st = vmk_BinarySemaCreate(&a->pmac_lock, tamsilDriver.module_id, "pmac_lock for tamsil");
  if (st != VMK_OK) {
    a->pmac_lock = VMK_SEMAPHORE_INVALID;
    TAMSIL_ERR(a, "Failed to create pmac_lock semaphore, status: 0x%x\n", st);
    tamsil_ctrlCleanup(a);
    return st;
  }
  if (!tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) {
    st = vmk_BinarySemaCreate(&a->reset_lock, tamsilDriver.module_id, "Reset (FLR) lock for tamsil");
    if (st != VMK_OK) {
      a->reset_lock = VMK_SEMAPHORE_INVALID;
      TAMSIL_ERR(a, "Failed to create reset_lock semaphore, status: 0x%x\n", st);
      tamsil_ctrlCleanup(a);
      return st;
    }
  }
  static const char* const kFail[4] = {
      "Failed to create mcc_lock spinlock, status: 0x%x\n",
      "Failed to create mcc_cq_lock spinlock, error 0x%x\n",
      "Failed to create mcc_compl_wait_lock spinlock, status: 0x%x\n",
      "Failed to create mcc_compl_worker_lock spinlock, status: 0x%x\n",
  };
  vmk_Lock* locks[4] = {&a->mcc_lock, &a->mcc_cq_lock, &a->mcc_compl_wait_lock, &a->mcc_compl_worker_lock};
  for (int i = 0; i < 4; i++) {
    st = createSpinlock(locks[i]);
    if (st != VMK_OK) {
      *locks[i] = VMK_LOCK_INVALID;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      TAMSIL_ERR(a, kFail[i], st);
#pragma GCC diagnostic pop
      tamsil_ctrlCleanup(a);
      return st;
    }
  }
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Configuration read and queue budget                                       */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_getMaxKernelAllowedQueues(Adapter* a, vmk_uint32 n) {
  vmk_uint32 tx = 0, rx = 0;
  VMK_ReturnStatus st = vmk_UplinkQueueSupportQuery(n, n, &tx, &rx);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Could not determine number of queues to be exposed\n");
    return 0;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Max Queues Allowed Tx=%u, Rx=%u\n", tx, rx);
  return rx;
}

// Records the RSS and DRSS ring counts granted; a kind left with no ring
// stops being configured.
void tamsil_setRssRings(Adapter* a, vmk_uint16 rss, vmk_uint16 drss) {
  a->rss = rss;
  a->drss = drss;
  a->res.max_rss_qs = rss;
  a->res.max_drss_qs = drss;
  if (rss == 0) a->features &= ~TAMSIL_FEAT_RSS;
  if (drss == 0) a->features &= ~TAMSIL_FEAT_DRSS;
}

vmk_uint16 tamsil_getQCount(Adapter* a, vmk_int32* available, vmk_uint16 wanted, vmk_uint16 minimum,
                            const char* name) {
  if (wanted == 0) return 0;
  if (*available > 0 && wanted < *available) {
    *available -= wanted;
    return wanted;
  }
  if (*available > 0 && *available >= minimum) {
    vmk_uint16 grant = (vmk_uint16)*available;
    *available = 0;
    if (grant < wanted)
      TAMSIL_WARN(a, "Reducing %s Queues to %d due to insufficient availability of resources\n", name, grant);
    return grant;
  }
  TAMSIL_WARN(a, "%s cannot be supported as sufficient Firmware/Kernel resources are not available\n", name);
  return 0;
}

static vmk_uint16 defaultNetQueues(Adapter* a) {
  if (tamsil_isGen(a, TAMSIL_ASIC_KS3) && (a->port_num > 1 || a->max_vfs > 0)) return 1;
  return a->function_mode < 2 ? 8 : 4;
}

static void copyLimits(Adapter* a, const ResourceLimits* l) {
  a->res.max_vfs = l->max_vfs;
  a->res.max_tx_qs = l->max_tx_qs;
  a->res.max_rx_qs = l->max_rx_qs;
  a->res.max_rss_qs = l->max_rss_qs;
  a->res.max_cq_count = l->max_cq_count;
  a->res.uc_mac = l->max_uc_mac;
  a->res.max_vlans = l->max_vlans;
  a->res.max_evt_qs = l->max_evt_qs;
  a->res.max_evt_qs_total = l->max_evt_qs;
  a->res.if_cap_flags = l->cap_flags;
  a->res.max_iface_count = l->max_iface_count;
  a->res.max_mcc_count = l->max_mcc_count;
}

// The RSS decision: refuses RSS with the reason, or settles rss and drss.
static void rssDecision(Adapter* a, vmk_uint16* netqs) {
  bool refuse = true;
#define TAMSIL_RSS_MSG(fmt) tamsil_logLine(VMK_LOG_URGENCY_WARNING, TAMSIL_LOG_LEVEL_INFO, true, a, "tamsil_isRssSupported", __LINE__, fmt)
  if (a->rss == 0 && a->drss == 0) {
    TAMSIL_RSS_MSG("RSS/DRSS is not enabled by user.\n");
  } else if (!msix) {
    TAMSIL_RSS_MSG("RSS cannot be supported when msix is disabled.\n");
  } else if (!(a->res.if_cap_flags & 0x4) || a->res.max_rss_qs < 4) {
    TAMSIL_RSS_MSG("RSS is not supported on this interface.\n");
  } else if (tamsil_isGen(a, TAMSIL_ASIC_KS3) && a->port_num > 1) {
    TAMSIL_RSS_MSG("RSS cannot be supported on 1G interface\n");
  } else if (tamsil_isGen(a, TAMSIL_ASIC_KS3) && a->max_vfs > 0) {
    TAMSIL_RSS_MSG("RSS cannot be supported on this interface as VFs are created\n");
  } else if (a->kernel_max_queues <= 7) {
    TAMSIL_RSS_MSG("RSS cannot be supported as the host does not have minimum required CPUs.\n");
  } else if (a->fw_max_queues <= 7) {
    TAMSIL_RSS_MSG("RSS cannot be supported as sufficient Firmware resources are not available\n");
  } else {
    refuse = false;
  }
  if (refuse) {
    a->rss = a->drss = 0;
    a->res.max_rss_qs = a->res.max_drss_qs = 0;
    *netqs = defaultNetQueues(a);
    return;
  }
  if (a->res.if_cap_flags & 0x1000000) a->features |= TAMSIL_FEAT_RSS_IF_FLAG;
  if (a->rss == -1 && a->drss >= 1) a->drss_first = 1;
  bool keepN = (a->rss == -1 && a->drss == 0) || (a->rss == 0 && a->drss == -1) || (a->rss == -1 && a->drss == -1);
  if (!keepN) *netqs = 4;
  if (a->rss == -1) a->rss = 4;
  if (a->drss == -1) a->drss = 4;
  a->res.max_rss_qs = (vmk_uint16)a->rss;
  a->res.max_drss_qs = (vmk_uint16)a->drss;
  if (a->rss != 0) a->features |= TAMSIL_FEAT_RSS;
  if (a->drss != 0) a->features |= TAMSIL_FEAT_DRSS;
  if (tamsil_isGen(a, TAMSIL_ASIC_KS3) && a->rss != 0 && a->drss != 0) {
    if (a->drss_first) {
      TAMSIL_RSS_MSG("on KS3, RSS cannot be supported along  with DRSS. Disabling RSS.!\n");
      a->rss = 0;
      a->res.max_rss_qs = 0;
      a->features &= ~TAMSIL_FEAT_RSS;
    } else {
      TAMSIL_RSS_MSG("on KS3, RSS cannot be supported along  with DRSS. Disabling DRSS.!\n");
      a->drss = 0;
      a->res.max_drss_qs = 0;
      a->features &= ~TAMSIL_FEAT_DRSS;
    }
  }
#undef TAMSIL_RSS_MSG
}

VMK_ReturnStatus tamsil_getConfig(Adapter* a) {
  vmk_uint32 st = tamsil_cmdQueryFwCfg(a);
  if (st != 0) return st;
  st = tamsil_cmdGetCntlAttributes(a);
  if (st != 0) return st;
  st = tamsil_sriovConfig(a);
  if (st != 0 && st != 2) return st;
  st = 0;

  a->kernel_max_queues = tamsil_getMaxKernelAllowedQueues(a, TAMSIL_KERNEL_QUEUE_ASK);
  if (tamsil_isGen(a, TAMSIL_ASIC_KS2 | TAMSIL_ASIC_KS3)) {
    ResourceLimits l;
    memset(&l, 0, sizeof l);
    vmk_uint32 pst = tamsil_cmdGetProfileConfig(a, 0, 0, &l);
    if (pst == 2) {
      tamsil_logLine(VMK_LOG_URGENCY_NORMAL, TAMSIL_LOG_LEVEL_INFO, true, a, "tamsil_getKSxResources", __LINE__,
                     "get_profile_config failed, switching to config and resources ioctl on older firmware\n");
      memset(&l, 0, sizeof l);
      st = tamsil_getConfigResources(a);
      if (st != 0) TAMSIL_ERR(a, "get configuration_and_resources ioctl failed\n");
      if (a->fw_caps & 0x20000)
        a->function_mode = 4;
      else if (a->fw_caps & 0x400)
        a->function_mode = 3;
      else if (a->fw_caps & 0x1000000)
        a->function_mode = 2;
      else
        a->function_mode = 1;
    } else {
      st = pst;
    }
    if (tamsil_isGen(a, TAMSIL_ASIC_KS3)) {
      if (a->port_num > 1) a->function_mode = 1;
      if (a->features & TAMSIL_FEAT_SRIOV) {
        l.max_vfs = 30;
        if (a->max_vfs > 30) a->max_vfs = 30;
      }
      l.max_uc_mac = 128;
      l.max_rss_qs = 4;
    } else {
      l.max_uc_mac = 64;
    }
    if (a->function_mode > 1) l.max_uc_mac /= 4;
    if (l.max_rx_qs == 0 || l.max_tx_qs == 0 || l.max_evt_qs == 0) {
      vmk_uint16 q = (a->profile_desc_seen || a->function_mode >= 2) ? 8 : 16;
      l.max_rx_qs = l.max_tx_qs = l.max_evt_qs = q;
    }
    copyLimits(a, &l);
  } else {
    ResourceLimits l;
    memset(&l, 0, sizeof l);
    st = tamsil_cmdGetFuncConfig(a, &l);
    if (st != 0) return st;
    copyLimits(a, &l);
    a->res.max_vfs = (vmk_uint16)a->max_vfs;
    a->res.max_evt_qs = (vmk_uint16)(a->res.max_evt_qs_total - tamsil_getRoceVecShare(a, a->res.max_evt_qs_total));
  }

  vmk_uint32 fwMax = a->res.max_rx_qs;
  if (a->res.max_tx_qs < fwMax) fwMax = a->res.max_tx_qs;
  if (a->res.max_evt_qs < fwMax) fwMax = a->res.max_evt_qs;
  a->fw_max_queues = fwMax;
  vmk_uint32 budget = a->kernel_max_queues < fwMax ? a->kernel_max_queues : fwMax;
  // The per-vector arrays hold TAMSIL_MAX_VECTORS entries: never plan more.
  if (budget > TAMSIL_MAX_VECTORS) budget = TAMSIL_MAX_VECTORS;

  vmk_uint16 netqs = defaultNetQueues(a);
  // NetQueues may give up rings to RSS, but take back what the RSS kinds
  // leave over, up to the default count.
  const vmk_uint16 netqWanted = netqs;
  rssDecision(a, &netqs);

  vmk_int32 avail = (vmk_int32)budget;
  vmk_uint16 gotNetq = tamsil_getQCount(a, &avail, netqs, 0, "NetQueue");
  if (a->features & (TAMSIL_FEAT_RSS | TAMSIL_FEAT_DRSS)) {
    vmk_uint16 r, d;
    if (a->drss_first) {
      d = tamsil_getQCount(a, &avail, (vmk_uint16)a->drss, 2, "DRSS");
      r = tamsil_getQCount(a, &avail, (vmk_uint16)a->rss, 2, "RSS");
    } else {
      r = tamsil_getQCount(a, &avail, (vmk_uint16)a->rss, 2, "RSS");
      d = tamsil_getQCount(a, &avail, (vmk_uint16)a->drss, 2, "DRSS");
    }
    tamsil_setRssRings(a, r, d);
  }
  vmk_uint32 nq = gotNetq + (avail > 0 ? (vmk_uint32)avail : 0);
  if (nq > netqWanted) nq = netqWanted;
  TAMSIL_MOD_DBG(TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "netqueues: %d, drssqs: %d rssqs: %d\n", (int)nq,
                 a->drss, a->rss);
  vmk_uint32 total = nq + (vmk_uint32)(a->rss > 0 ? a->rss : 0) + (vmk_uint32)(a->drss > 0 ? a->drss : 0);
  if (total > TAMSIL_MAX_VECTORS) total = TAMSIL_MAX_VECTORS;
  if (st == 0 && total == 0) {
    tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, true, a, "tamsil_getResources", __LINE__,
                   "Firmware specified insufficient number of queues max_tx_qs:%d max_rx_qs:%d max_evt_qs:%d\n",
                   a->res.max_tx_qs, a->res.max_rx_qs, a->res.max_evt_qs);
    st = VMK_FAILURE;
  } else if (total > 0) {
    a->res.max_evt_qs = a->res.max_rx_qs = (vmk_uint16)total;
    a->res.max_tx_qs = tamsil_isGen(a, TAMSIL_ASIC_KS2) ? 1 : (vmk_uint16)total;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2,
             "max_vfs: %d uc_mac: %d max_tx_qs: %d max_rx_qs: %d(max_rss_qs: %d, max_drss_qs: %d)max_evt_qs: %d\n",
             a->max_vfs, a->res.uc_mac, a->res.max_tx_qs, a->res.max_rx_qs, a->res.max_rss_qs, a->res.max_drss_qs,
             a->res.max_evt_qs);
  if (st != 0) {
    TAMSIL_ERR(a, "tamsil_getResources init failed with status 0x%x\n", st);
    return st;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "1G Port Capability: %s\n",
             (tamsil_isGen(a, TAMSIL_ASIC_KS3) && a->port_num >= 2) ? "True" : "False");
  if (!tamsil_isGen(a, TAMSIL_ASIC_PIVARD)) tamsil_cmdCheckFunctionCap(a);
  tamsil_cmdGetAcpiWolCap(a);
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "wolCap=0x%x wol=%d\n", a->wol_cap, a->wol_enabled);
  return VMK_OK;
}

void tamsil_intrSet(Adapter* a, vmk_uint8 enable) {
  if (tamsil_cmdIntrSet(a, enable != 0) == 0) return;
  if (a->pcicfg_va != nullptr) {
    vmk_VA reg = (vmk_VA)a->pcicfg_va + 0xFC;
    vmk_uint32 v = vmk_MMIORead32(reg);
    bool on = (v & 0x20000000u) != 0;
    if (enable && !on) vmk_MMIOWrite32(reg, v | 0x20000000u);
    if (!enable && on) vmk_MMIOWrite32(reg, v & ~0x20000000u);
  } else {
    TAMSIL_ERR(a, "Failed to Set Interrupts, enable = 0x%x\n", enable);
  }
}

/* ------------------------------------------------------------------------ */
/* Rings                                                                     */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_queueAlloc(Adapter* a, QueueInfo* q, vmk_uint16 entries, vmk_uint16 entrySize) {
  memset(q, 0, sizeof *q);
  q->len = entries;
  q->entry_size = entrySize;
  if (tamsil_mpoolAllocMap(a, &q->mem, (vmk_uint32)entries * entrySize) == nullptr) return 0xFFFFFFFFu;
  memset(q->mem.va, 0, (vmk_uint32)entries * entrySize);
  return 0;
}

void tamsil_queueFree(Adapter* a, QueueInfo* q) {
  if (q->mem.va != nullptr) tamsil_mpoolUnmapFree(a, &q->mem);
  q->created = 0;
}

// A destroy the firmware answered (even with a refusal) leaves no object
// behind; one the channel could not deliver may have.
static bool channelFailure(vmk_uint32 st) { return st > 0xFF; }

// Destroys a firmware queue when it exists, then returns its memory. A
// queue whose destroy never reached the firmware keeps its memory (and its
// created mark) for tamsil_clear to decide on.
static void queueDestroy(Adapter* a, QueueInfo* q, vmk_uint32 type) {
  if (q->created && channelFailure(tamsil_cmdQDestroy(a, q, type))) return;
  q->created = 0;
  tamsil_queueFree(a, q);
}

// Memory of a ring whose firmware object may still exist: returned when the
// device can no longer use it, else quarantined.
static void ringRelease(Adapter* a, QueueInfo* q, bool deviceQuiet) {
  if (q->mem.va == nullptr) return;
  if (q->created && !deviceQuiet) {
    tamsil_quarantine(a, &q->mem);
    q->created = 0;
    return;
  }
  tamsil_queueFree(a, q);
}

/* ------------------------------------------------------------------------ */
/* Event queues, doorbells, interrupt entry, NetPoll                         */
/* ------------------------------------------------------------------------ */

void tamsil_cqNotify(Adapter* a, vmk_uint16 cqId, vmk_Bool arm, vmk_uint32 popped) {
  if (tamsil_hwError(a)) return;
  vmk_uint32 v = (cqId & 0x3FFu) | (((vmk_uint32)(cqId >> 10) & 0x1Fu) << 11) | ((popped & 0x1FFFu) << 16) |
                 (arm ? (1u << 29) : 0u);
  tamsil_dbWrite32(a, TAMSIL_DB_EQCQ, v);
}

void tamsil_eqNotify(Adapter* a, vmk_uint16 eqId, vmk_Bool arm, vmk_Bool clearInt, vmk_uint32 popped) {
  if (tamsil_hwError(a)) return;
  vmk_uint32 v = (eqId & 0x1FFu) | (clearInt ? (1u << 9) : 0u) | (1u << 10) |
                 (((vmk_uint32)(eqId >> 9) & 0x1Fu) << 11) | ((popped & 0x1FFFu) << 16) | (arm ? (1u << 29) : 0u);
  tamsil_dbWrite32(a, TAMSIL_DB_EQCQ, v);
}

vmk_Bool tamsil_eventPeek(QueueInfo* q) {
  const vmk_uint8* e = (const vmk_uint8*)q->mem.va + (vmk_uint32)q->entry_size * q->tail;
  return __atomic_load_n(reinterpret_cast<const vmk_uint32*>(e), __ATOMIC_ACQUIRE) != 0;
}

static inline tamsil_rxo* rxoOf(void* data) { return static_cast<tamsil_rxo*>(data); }

void tamsil_isr(void* handlerData, vmk_IntrCookie) {
  tamsil_rxo* rxo = rxoOf(handlerData);
  Adapter* a = rxo->adapter;
  tamsil_eqo* eqo = &a->eqo[rxo->idx];
  if (!tamsil_hwError(a)) tamsil_eqNotify(a, eqo->q.id, false, true, 0);
  __atomic_add_fetch(&eqo->int_count, 1, __ATOMIC_RELAXED);
  if (eqo->netpoll != nullptr && eqo->netpoll->netpoll != nullptr) vmk_NetPollActivate(eqo->netpoll->netpoll);
}

VMK_ReturnStatus tamsil_intAck(void* handlerData, vmk_IntrCookie) {
  tamsil_rxo* rxo = rxoOf(handlerData);
  Adapter* a = rxo->adapter;
  tamsil_eqo* eqo = &a->eqo[rxo->idx];
  __atomic_add_fetch(&eqo->int_ack_count, 1, __ATOMIC_RELAXED);
  if (a->msix_enabled || tamsil_hwError(a)) return VMK_OK;
  tamsil_eqNotify(a, eqo->q.id, false, true, 0);
  return VMK_OK;
}

void tamsil_eqClean(Adapter* a, tamsil_eqo* eqo, vmk_Bool arm) {
  if (tamsil_hwError(a)) return;
  QueueInfo* q = &eqo->q;
  if (q->mem.va == nullptr) return;
  if (q->len == 0 || (q->len & (q->len - 1)) != 0)
    vmk_Panic("Unrecoverable error in tamsil at%s:%s - %d", "tamsil", "tamsil_modulo", 296);
  vmk_uint16 popped = 0;
  for (;;) {
    vmk_uint8* e = (vmk_uint8*)q->mem.va + (vmk_uint32)q->entry_size * q->tail;
    // The device writes the entry's word last: an acquire read of it orders
    // what follows after the entry's contents.
    vmk_uint32 v = __atomic_load_n(reinterpret_cast<vmk_uint32*>(e), __ATOMIC_ACQUIRE);
    if (v == 0) break;
    q->tail = (vmk_uint16)((q->tail + 1) & (q->len - 1));
    __atomic_store_n(reinterpret_cast<vmk_uint32*>(e), 0u, __ATOMIC_RELAXED);
    popped++;
  }
  if (popped != 0) {
    if (!tamsil_hwError(a)) tamsil_eqNotify(a, q->id, arm, true, popped);
    eqo->event_count += popped;
  }
}

vmk_Bool tamsil_netPollCB(void* priv, vmk_uint32 budget) {
  NetPollInfo* np = static_cast<NetPollInfo*>(priv);
  Adapter* a = np->adapter;
  tamsil_rxo* rxo = np->rxo;
  vmk_uint32 i = rxo->idx;
  tamsil_eqClean(a, &a->eqo[i], false);
  // Transmit completions and receive completions belong to the data path,
  // which is not part of this build yet: nothing is reaped here.
  vmk_uint32 n = 0;
  if (i == 0) {
    tamsil_processMcc(a);
    if (a->flags != nullptr && vmk_BitVectorAtomicTestAndClear(a->flags, TAMSIL_FLAG_LINK_UPDATE)) {
      TAMSIL_DBG(a, TAMSIL_DBG_WORKER, TAMSIL_LOG_LEVEL_INFO2,
                 "Link status updated using vmk_UplinkUpdateLinkState()\n");
      if (a->uplink != nullptr) {
        vmk_LinkStatus ls;
        ls.state = a->shared_data.link.state;
        ls.speed = a->shared_data.link.speed;
        ls.duplex = a->shared_data.link.duplex;
        VMK_ReturnStatus st = vmk_UplinkUpdateLinkState(a->uplink, &ls);
        if (st != VMK_OK) TAMSIL_ERR(a, "vmk_UplinkUpdateLinkState failed: %#x\n", st);
      }
    }
  }
  if (n >= budget && a->io_started) {
    tamsil_eqClean(a, &a->eqo[i], false);
    return VMK_TRUE;
  }
  tamsil_eqNotify(a, a->eqo[i].q.id, true, false, 0);
  return VMK_FALSE;
}

VMK_ReturnStatus tamsil_createUplinkNetPoll(Adapter* a, vmk_ServiceID service, vmk_uint32 i) {
  NetPollInfo* np = &a->netpoll[i];
  if (!tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) {
    np->adapter = a;
    np->qdata = nullptr;
    np->rxo = &a->rxo[i];
    vmk_NetPollProperties props;
    props.poll = tamsil_netPollCB;
    props.priv = np;
    VMK_ReturnStatus st = vmk_NetPollCreate(&props, service, tamsilDriver.module_id, &np->netpoll);
    if (st != VMK_OK) {
      np->netpoll = nullptr;
      for (vmk_uint32 j = i; j-- > 0;) {
        if (a->netpoll[j].created) {
          vmk_NetPollDestroy(a->netpoll[j].netpoll);
          a->netpoll[j].netpoll = nullptr;
          a->netpoll[j].created = 0;
        }
      }
      return VMK_FAILURE;
    }
    np->created = 1;
  }
  np->intr_cookie = a->intr_cookie[i];
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "RSSXq=%d, poll=0x%p\n", (int)i, (void*)np->netpoll);
  return VMK_OK;
}

void tamsil_netPollDisableFlushAndEnable(Adapter* a, vmk_uint32 i) {
  if (i >= TAMSIL_MAX_VECTORS) return;
  NetPollInfo* np = &a->netpoll[i];
  if (np->intr_cookie == VMK_INVALID_INTRCOOKIE || !np->created || np->netpoll == nullptr) return;
  vmk_NetPollDisable(np->netpoll);
  vmk_NetPollFlushRx(np->netpoll);
  vmk_NetPollEnable(np->netpoll);
}

void tamsil_ifEqDestroy(Adapter* a) {
  for (vmk_uint32 i = TAMSIL_MAX_VECTORS; i-- > 0;) {
    tamsil_eqo* eqo = &a->eqo[i];
    if (eqo->q.created) {
      tamsil_eqClean(a, eqo, false);
      if (channelFailure(tamsil_cmdQDestroy(a, &eqo->q, TAMSIL_QTYPE_EQ))) continue;
      eqo->q.created = 0;
    }
    tamsil_queueFree(a, &eqo->q);
    if (a->rxo[i].if_created) {
      tamsil_cmdIfDestroy(a, a->rxo[i].if_id, 0);
      a->rxo[i].if_created = 0;
    }
  }
}

/* ------------------------------------------------------------------------ */
/* Queue set                                                                 */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_rxCQueuesCreate(Adapter* a) {
  for (vmk_uint32 i = 0; i < a->num_vectors; i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    rxo->adapter = a;
    if (tamsil_queueAlloc(a, &rxo->cq, TAMSIL_CQ_LEN, TAMSIL_CQE_SIZE) != 0 ||
        tamsil_cmdCqCreate(a, &rxo->cq, &a->eqo[i].q, false, false, 3) != 0) {
      tamsil_rxCQueuesDestroy(a);
      return 0xFFFFFFFFu;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "tamsil_cmdCqCreate sucess for qid %d\n", rxo->cq.id);
  }
  return 0;
}

void tamsil_rxCQueuesDestroy(Adapter* a) {
  for (vmk_uint32 i = TAMSIL_MAX_VECTORS; i-- > 0;) queueDestroy(a, &a->rxo[i].cq, TAMSIL_QTYPE_CQ);
}

void tamsil_txQueuesDestroy(Adapter* a) {
  for (vmk_uint32 q = 0; q < TAMSIL_MAX_VECTORS; q++) {
    queueDestroy(a, &a->txo[q].q, TAMSIL_QTYPE_TXQ);
    queueDestroy(a, &a->txo[q].cq, TAMSIL_QTYPE_CQ);
  }
}

void tamsil_mccQueuesDestroy(Adapter* a) {
  queueDestroy(a, &a->mcc_q, TAMSIL_QTYPE_MCCQ);
  queueDestroy(a, &a->mcc_cq, TAMSIL_QTYPE_CQ);
}

// Interface and event queue of every vector.
static vmk_uint32 ifEqCreate(Adapter* a, vmk_uint32 R) {
  const bool pivard = tamsil_isGen(a, TAMSIL_ASIC_PIVARD);
  const vmk_uint32 n = a->num_vectors;
  const vmk_uint32 drss = a->res.max_drss_qs;
  const vmk_uint32 firstDrss = n - drss;
  vmk_uint32 ifId = 0;
  for (vmk_uint32 i = 0; i < n; i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    rxo->adapter = a;
    rxo->idx = i;
    a->eqo[i].vector_idx = i;
    a->eqo[i].netpoll = &a->netpoll[i];
    vmk_uint32 C = 0xA0, E = pivard ? 0 : 0xA0;
    if (i == 0) {
      C = (a->fw_func_caps & 0x2) ? 0xAB8 : 0x2B8;
      if (pivard) {
        a->if_caps = C;
      } else {
        E |= 0x218;
        if (a->fw_func_caps & 0x2) E |= 0x800;
      }
    }
    if ((i >= R || (i == 0 && drss > 0)) && (a->features & (TAMSIL_FEAT_RSS | TAMSIL_FEAT_DRSS))) {
      C |= 0x4;
      E |= 0x4;
      if (a->features & TAMSIL_FEAT_RSS_IF_FLAG) {
        C |= 0x1000000;
        E |= 0x1000000;
      }
    }
    bool create;
    if (pivard) {
      create = (i == 0 || i == R);
      C |= 0x21000;
      E |= 0x20000;
      if (i == 0) a->if_caps |= 0x1000;
    } else {
      create = i <= R && !(drss > 0 && i == firstDrss);
    }
    if (create) {
      vmk_uint32 id = 0, pmac = 0;
      if (tamsil_cmdIfCreate(a, C, E, nullptr, true, &id, &pmac, 0) != 0) {
        tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, true, a, "tamsil_ifCreate", __LINE__,
                       "tamsil_cmdIfCreate() failed for %s(%d)\n", a->pci_name, (int)i);
        goto fail;
      }
      rxo->if_created = 1;
      ifId = id;
    }
    rxo->if_id = ifId;
    if (drss > 0 && i >= firstDrss) rxo->if_id = a->rxo[0].if_id;
    a->eq_delay[i].adaptive = 1;
    a->eq_delay[i].max_eqd = 128;
    if (tamsil_queueAlloc(a, &a->eqo[i].q, TAMSIL_EQ_LEN, TAMSIL_EQE_SIZE) != 0 ||
        tamsil_cmdEqCreate(a, &a->eqo[i].q, a->eq_delay[i].cur_eqd) != 0)
      goto fail;
  }
  return 0;
fail:
  tamsil_ifEqDestroy(a);
  TAMSIL_ERR(a, "tamsil_ifEqCreate() failed\n");
  return 0xFFFFFFFFu;
}

static vmk_uint32 txQueuesCreate(Adapter* a, vmk_uint32 R) {
  a->num_tx_queues = a->nic_vectors;
  for (vmk_uint32 q = 0; q < a->num_tx_queues && q <= R; q++) {
    tamsil_txo* txo = &a->txo[q];
    txo->idx = q;
    if (tamsil_queueAlloc(a, &txo->cq, TAMSIL_CQ_LEN, TAMSIL_CQE_SIZE) != 0 ||
        tamsil_cmdCqCreate(a, &txo->cq, &a->eqo[q].q, false, false, 3) != 0 ||
        tamsil_queueAlloc(a, &txo->q, TAMSIL_TXQ_LEN, TAMSIL_TXQ_ENTRY_SIZE) != 0 ||
        tamsil_cmdTxqCreate(a, &txo->q, &txo->cq, a->rxo[q].if_id, &txo->db_offset) != 0) {
      tamsil_txQueuesDestroy(a);
      return 0xFFFFFFFFu;
    }
  }
  return 0;
}

static vmk_uint32 mccQueuesCreate(Adapter* a) {
  if (tamsil_queueAlloc(a, &a->mcc_cq, TAMSIL_MCC_CQ_ENTRIES, TAMSIL_CQE_SIZE) != 0 ||
      tamsil_cmdCqCreate(a, &a->mcc_cq, &a->eqo[0].q, false, true, 0) != 0) {
    tamsil_mccQueuesDestroy(a);
    return 0xFFFFFFFFu;
  }
  if (tamsil_queueAlloc(a, &a->mcc_q, TAMSIL_MCC_Q_LEN, TAMSIL_WRB_SIZE) != 0 ||
      tamsil_cmdMccqCreate(a, &a->mcc_q, &a->mcc_cq) != 0) {
    tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, true, a, "tamsil_mccQueuesCreate", __LINE__,
                   "MCC Ring Creation Failed\n");
    tamsil_mccQueuesDestroy(a);
    return 0xFFFFFFFFu;
  }
  tamsil_mccOpen(a);
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "tamsil_mccQueuesCreate() succeeded\n");
  return 0;
}

// First RSS ring: at least 1, so that ring 0 keeps its interface and its
// transmit queue whatever the vector count came to.
static vmk_uint32 firstRssRing(Adapter* a) {
  vmk_uint32 n = a->num_vectors;
  while ((a->res.max_rss_qs != 0 || a->res.max_drss_qs != 0) && (vmk_uint32)a->res.max_rss_qs + a->res.max_drss_qs + 1 > n) {
    if (a->res.max_drss_qs > 0) {
      a->res.max_drss_qs = 0;
      a->drss = 0;
      a->features &= ~TAMSIL_FEAT_DRSS;
    } else {
      a->res.max_rss_qs = 0;
      a->rss = 0;
      a->features &= ~TAMSIL_FEAT_RSS;
    }
  }
  return n - a->res.max_rss_qs - a->res.max_drss_qs;
}

vmk_uint32 tamsil_setup(Adapter* a) {
  vmk_uint32 st;
  if (a->mtu > 1900) {
    a->rx_frag_size = 16384;
    a->max_frame = 9032;
  } else {
    a->rx_frag_size = 2048;
    a->max_frame = 1932;
  }
  a->die_temp_interval = 30;
  a->sfp_state = 0xFF;
  if (a->nic_vectors > TAMSIL_MAX_VECTORS) a->nic_vectors = TAMSIL_MAX_VECTORS;
  a->num_vectors = a->num_eq_delay = a->nic_vectors;
  const vmk_uint32 R = firstRssRing(a);

  if (ifEqCreate(a, R) != 0) return 0xFFFFFFFFu;
  a->default_rx_if = a->rxo[0].if_id;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "tamsil_ifEqCreate() succeeded\n");

  if (!tamsil_isGen(a, TAMSIL_ASIC_PIVARD)) {
    if (tamsil_rxCQueuesCreate(a) != 0) {
      TAMSIL_ERR(a, "tamsil_rxCQueuesCreate() failed\n");
      tamsil_ifEqDestroy(a);
      return 0xFFFFFFFFu;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "tamsil_rxQueuesCreate() succeeded\n");
  }
  if (txQueuesCreate(a, R) != 0) {
    TAMSIL_ERR(a, "tamsil_txQueuesCreate() failed\n");
    st = 0xFFFFFFFFu;
    goto undo_rx;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "tamsil_txQueuesCreate() succeeded\n");
  if (!tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) a->qnq_received = 255;
  {
    vmk_uint8 mac[6] = {0};
    st = tamsil_getPermMac(a, mac);
    if (st != 0) {
      TAMSIL_ERR(a, "tamsil_getPermMac failed \n");
      goto undo_tx;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "MAC %x %x %x %x %x %x\n", mac[0], mac[1], mac[2],
               mac[3], mac[4], mac[5]);
    static const vmk_uint8 zero[6] = {0};
    if ((mac[0] & 1) != 0 || memcmp(mac, zero, 6) == 0) {
      TAMSIL_ERR(a, "Perm mac is invalid\n");
      st = 0xf452ff04u;
      goto undo_tx;
    }
    memcpy(a->uplink_reg.perm_mac, mac, 6);
    memcpy(a->uplink_reg.curr_mac, mac, 6);
  }
  if (mccQueuesCreate(a) != 0) {
    TAMSIL_ERR(a, "tamsil_mccQueuesCreate() failed\n");
    st = 0xFFFFFFFFu;
    goto undo_tx;
  }
  {
    vmk_WorldProps wp;
    memset(&wp, 0, sizeof wp);
    wp.moduleID = tamsilDriver.module_id;
    wp.name = "tamsil_processMccWorkerThread";
    wp.startFunction = tamsil_processMccWorkerThread;
    wp.data = a;
    wp.schedClass = VMK_WORLD_SCHED_CLASS_QUICK;
    wp.heapID = tamsilDriver.heap_id;
    VMK_ReturnStatus ws = vmk_WorldCreate(&wp, &a->mcc_worker_world);
    if (ws != VMK_OK) {
      a->mcc_worker_world = VMK_INVALID_WORLD_ID;
      TAMSIL_ERR(a, "Failed to create mcc compl worker thread\n");
      tamsil_mccQueuesDestroy(a);
      st = ws;
      goto undo_tx;
    }
  }
  if (tamsil_cmdGetPhyInfo(a) != 0) {
    TAMSIL_ERR(a, "tamsil_cmdGetPhyInfo() failed\n");
  } else if (!tamsil_isGen(a, TAMSIL_ASIC_PIVARD) && ((vmk_uint32)a->link.phy_type | ((vmk_uint32)a->link.phy_if_type << 16)) == 0x6000Du) {
    if (tamsil_cmdSetEmiCanceller(a, (vmk_uint32)emi_canceller) != 0)
      TAMSIL_ERR(a, "tamsil_cmdSetEmiCanceller() failed\n");
  }
  tamsil_cmdReadTransreceiverData(a);
  a->vxlan_table = VMK_INVALID_HASH_HANDLE;
  if (tamsil_isGen(a, TAMSIL_ASIC_VESKARN) && vxlan_offload) {
    if (tamsil_vxlanSetup(a) == 0)
      TAMSIL_DBG(a, TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO2, "vxlan setup successful\n");
  }
  tamsil_setLogicalLinkProperties(a, true, true, false, false, 0);
  return 0;

undo_tx:
  tamsil_txQueuesDestroy(a);
undo_rx:
  tamsil_rxCQueuesDestroy(a);
  tamsil_ifEqDestroy(a);
  return st;
}

// Forgets the firmware objects of the queue set without telling the
// firmware: used when the control path is gone and nothing can be sent.
static void forgetFirmwareObjects(Adapter* a) {
  a->mcc_q.created = a->mcc_cq.created = 0;
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) {
    a->txo[i].q.created = a->txo[i].cq.created = 0;
    a->rxo[i].cq.created = 0;
    a->eqo[i].q.created = 0;
    a->rxo[i].if_created = 0;
  }
}

// Every ring of the queue set, for the final release.
template <typename F>
static void forEachRing(Adapter* a, F f) {
  f(&a->mcc_q);
  f(&a->mcc_cq);
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) {
    f(&a->txo[i].q);
    f(&a->txo[i].cq);
    f(&a->rxo[i].cq);
    f(&a->eqo[i].q);
  }
}

// The channel is dead at tear-down (a command timed out or the card is in
// error). Decides whether the tear-down may still send commands, and
// returns false when the firmware objects of the function may outlive it.
static bool deadChannelTearDown(Adapter* a) {
  if (tamsil_isGen(a, TAMSIL_ASIC_PIVARD)) {
    // The port reset is this function's own reset: it takes the function's
    // objects and nothing of the other functions.
    TAMSIL_ERR(a, "Command channel dead at tear-down: resetting the port\n");
    tamsil_dbWrite32(a, 0x408, 0x08000000u);
    if (tamsil_waitPivardReady(a) == VMK_OK) {
      forgetFirmwareObjects(a);
      return true;
    }
    TAMSIL_ERR(a, "Port reset did not complete\n");
    return false;
  }
  // No chip reset here: it would take the card's other functions down. A
  // mailbox that answers again is used for the destroy, reset and clean
  // commands; each of them that fails again is final.
  if (!tamsil_hwError(a) && (tamsil_dbRead32(a, TAMSIL_DB_MBOX) & TAMSIL_MBOX_DB_READY) != 0 &&
      tamsil_dbRead32(a, TAMSIL_DB_MBOX) != 0xFFFFFFFFu) {
    TAMSIL_ERR(a, "Command channel timed out before tear-down: trying the mailbox again\n");
    __atomic_store_n(&a->fw_timeout, 0, __ATOMIC_RELEASE);
  } else {
    TAMSIL_ERR(a, "Command channel dead at tear-down: firmware objects cannot be destroyed\n");
  }
  return true;
}

vmk_uint32 tamsil_clear(Adapter* a) {
  const bool channel = a->mbox_va != nullptr && a->mbox_lock != VMK_SEMAPHORE_INVALID;
  if (!channel) {
    stopWorld(&a->mcc_worker_world);
    forgetFirmwareObjects(a);
  }
  // The limits attach saved go back before anything is destroyed. The VFs
  // are disabled by now: none of the resources stay set aside for them.
  if (a->max_vfs > 0 && (a->features & TAMSIL_FEAT_SRIOV) && a->mcc_q.created && a->sriov.limits_saved)
    tamsil_cmdSetSriovConfig(a, 0, &a->sriov.profile_limits);
  stopWorld(&a->mcc_worker_world);
  // Waiters of the MCC queue fail with "device gone" before its rings go.
  tamsil_mccClose(a, TAMSIL_CH_GONE);
  bool trusted = true;   // false: the port reset failed, objects may remain
  if (channel && tamsil_cardError(a)) trusted = deadChannelTearDown(a);
  tamsil_mccQueuesDestroy(a);
  tamsil_txQueuesDestroy(a);
  tamsil_rxCQueuesDestroy(a);
  tamsil_ifEqDestroy(a);
  tamsil_vxlanClear(a, 0);
  bool reset = false;
  if (channel && trusted) {
    reset = tamsil_cmdResetFunction(a) == 0;
    tamsil_cmdFwClean(a);
  }
  if (reset) forgetFirmwareObjects(a);
  // What is still marked created lost its destroy: it stays in quarantine
  // while the device may use it.
  bool left = false;
  vmk_uint32 kept = 0;
  forEachRing(a, [&](QueueInfo* q) {
    if (q->created) {
      kept++;
      left = true;
    }
  });
  forEachRing(a, [&](QueueInfo* q) { ringRelease(a, q, false); });
  // A mailbox command the firmware never answered may still be answered.
  if (a->mbox_ctx.kept.va != nullptr && !reset) left = true;
  kept += tamsil_mccKeptRelease(a, reset || !left);
  if (left && !reset) {
    a->mbox_quarantine = 1;
    TAMSIL_ERR(a, "%u rings and command buffers quarantined: their firmware objects could not be destroyed\n",
               (unsigned)kept);
  }
  tamsil_mboxClose(a);
  return 0;
}

vmk_uint32 tamsil_clearReset(Adapter* a) {
  // The firmware lost its objects: no destroy command is sent. The MCC
  // channel closes first: its waiters read status 1 and are gone before the
  // rings are freed.
  tamsil_mccClose(a, 1);
  tamsil_mccKeptRelease(a, true);
  tamsil_queueFree(a, &a->mcc_q);
  tamsil_queueFree(a, &a->mcc_cq);
  for (vmk_uint32 q = 0; q < TAMSIL_MAX_VECTORS; q++) {
    if (a->txo[q].q.created && a->txo[q].cq.created) {
      tamsil_queueFree(a, &a->txo[q].q);
      tamsil_queueFree(a, &a->txo[q].cq);
    }
  }
  for (vmk_uint32 i = TAMSIL_MAX_VECTORS; i-- > 0;) {
    tamsil_queueFree(a, &a->rxo[i].cq);
    tamsil_queueFree(a, &a->eqo[i].q);
    a->rxo[i].if_created = 0;
    a->rxo[i].mq_state = 0;
  }
  memset(a->pmac, 0, sizeof a->pmac);
  const vmk_uint32 maxRx = a->queue_info.maxRxQueues;
  for (vmk_uint32 i = 0; i < a->num_vectors; i++) {
    if (i < TAMSIL_MAX_UPLINK_QUEUES) {
      a->uplink_qdata[i].flags &= ~0x2u;
      a->uplink_qdata[i].state = 0;
    }
    if (maxRx + i < TAMSIL_MAX_UPLINK_QUEUES) a->uplink_qdata[maxRx + i].flags &= ~0x2u;
  }
  tamsil_vxlanClear(a, 1);
  return tamsil_cmdFwClean(a);
}

/* ------------------------------------------------------------------------ */
/* VXLAN                                                                     */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_setCommonProfileConfig(Adapter* a, vmk_uint16 port) {
  if (port == 0) return 0;
  vmk_uint8 desc[88];
  memset(desc, 0, sizeof desc);
  vmk_uint32 w0 = 0xC0005855u, w1 = a->pf_num & 0x3Fu, w2 = 23u | ((vmk_uint32)port << 16);
  memcpy(desc + 0, &w0, 4);
  memcpy(desc + 4, &w1, 4);
  memcpy(desc + 8, &w2, 4);
  vmk_uint32 st = tamsil_cmdSetProfileConfig(a, desc, sizeof desc, 1, 1, 0);
  if (st != 0) {
    TAMSIL_ERR(a, "vxlanSetup Failed, vxlan offload may not work\n");
    return st;
  }
  a->vxlan_port = port;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "vxlanSetup successful\n");
  return 0;
}

static void releaseVxlanTable(Adapter* a) {
  if (a->vxlan_table != VMK_INVALID_HASH_HANDLE) {
    vmk_HashDeleteAll(a->vxlan_table);
    vmk_HashRelease(a->vxlan_table);
  }
  a->vxlan_table = VMK_INVALID_HASH_HANDLE;
  a->features &= ~TAMSIL_FEAT_VXLAN_OFFLOAD;
}

vmk_uint32 tamsil_vxlanSetup(Adapter* a) {
  vmk_uint16 nbo = vmk_UplinkVXLANPortNBOGet();
  vmk_uint16 port = (vmk_uint16)((nbo >> 8) | (nbo << 8));
  if (port == 0) port = TAMSIL_DEFAULT_VXLAN_PORT;
  if (a->num_vfs > 0) {
    TAMSIL_ERR(a, "vxlan offload cannot be enabled on SR-IOVenabled adapter\n");
    return VMK_FAILURE;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO2, "vxlanUdpPort=0x%x\n", port);
  vmk_HashProperties hp;
  memset(&hp, 0, sizeof hp);
  hp.moduleID = tamsilDriver.module_id;
  hp.heapID = tamsilDriver.heap_id;
  hp.keyType = VMK_HASH_KEY_TYPE_OPAQUE;
  hp.keyFlags = VMK_HASH_KEY_FLAGS_LOCAL_COPY;
  hp.keySize = 4;
  hp.nbEntries = 64;
  VMK_ReturnStatus hs = vmk_HashAlloc(&hp, &a->vxlan_table);
  if (hs != VMK_OK) {
    a->vxlan_table = VMK_INVALID_HASH_HANDLE;
    TAMSIL_ERR(a, "Initialization of vxlanHashTable failed, status: 0x%x\n", hs);
    return hs;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO2, "Allocation of vxlanHashTable successful\n");
  vmk_uint32 st = tamsil_setCommonProfileConfig(a, port);
  if (st == 0 && a->msix_enabled) {
    a->features |= TAMSIL_FEAT_VXLAN_OFFLOAD;
    vmk_uint32 fid = 0;
    vmk_uint32 fs = tamsil_cmdManageIfaceFiltersCreate(a, 1, a->default_rx_if, 0, nullptr, 0, &fid);
    if (fs != 0) {
      TAMSIL_ERR(a,
                 "Unable to create tunnelRx_If status: 0x%x, steering of vxlan rx packets to netqueues will not "
                 "work\n",
                 fs);
      return fs;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO2,
               "Successful conversion of Normal to Tunnel Interface for Default ring RxIf: %d\n", a->default_rx_if);
    return 0;
  }
  releaseVxlanTable(a);
  return st;
}

void tamsil_vxlanClear(Adapter* a, vmk_uint8 freeNodes) {
  if (a->vxlan_table == VMK_INVALID_HASH_HANDLE) return;
  // The filter nodes belong to the receive-filter operations; with none of
  // them built the table holds no nodes to free.
  (void)freeNodes;
  for (vmk_uint32 i = 0; i < TAMSIL_MAX_VECTORS; i++) a->rxo[i].tunnel_mode = 0;
  releaseVxlanTable(a);
}

/* ------------------------------------------------------------------------ */
/* Firmware readiness                                                        */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_cmdPOST(Adapter* a) {
  for (unsigned sleeps = 0;;) {
    vmk_uint32 v = tamsil_csrRead32(a, 0xAC);
    if (v & 0x80000000u) {
      TAMSIL_ERR(a, "POST error; stage=0x%x\n", v & 0xFFFFu);
      return VMK_FAILURE;
    }
    if ((v & 0xFFFFu) == 0xC000u) return VMK_OK;
    if (vmk_WorldSleep(2000000) != VMK_OK) {
      TAMSIL_ERR(a, "POST cmd aborted\n");
      return VMK_WAIT_INTERRUPTED;
    }
    if (++sleeps >= 20) {
      TAMSIL_ERR(a, "POST timeout; stage=0x%x\n", v & 0xFFFFu);
      return VMK_FAILURE;
    }
  }
}

VMK_ReturnStatus tamsil_waitPivardReady(Adapter* a) {
  // Thirty reads one second apart; the thirtieth sleep ends the wait.
  for (unsigned sleeps = 0;;) {
    if (tamsil_dbRead32(a, 0x404) & (1u << 23)) return VMK_OK;
    vmk_WorldSleep(1000000);
    if (++sleeps == 30) return VMK_TIMEOUT;
  }
}

VMK_ReturnStatus tamsil_testAndSetPivardReadyState(Adapter* a) {
  VMK_ReturnStatus st = tamsil_waitPivardReady(a);
  if (st == VMK_OK) {
    vmk_uint32 v = tamsil_dbRead32(a, 0x404);
    bool err = (v & 0x80000000u) != 0, reset = (v & 0x01000000u) != 0;
    if (err && reset) {
      tamsil_dbWrite32(a, 0x408, 0x08000000u);
      st = tamsil_waitPivardReady(a);
      st = (st == VMK_OK && (tamsil_dbRead32(a, 0x404) & 0x81000000u) == 0) ? VMK_OK : VMK_FAILURE;
    } else if (err || reset) {
      st = VMK_FAILURE;
    }
  }
  if (st != VMK_OK) TAMSIL_ERR(a, "Pivard Adapter in non recoverable error\n");
  return st;
}

VMK_ReturnStatus tamsil_firmwareWaitReady(Adapter* a) {
  if (tamsil_isGen(a, TAMSIL_ASIC_PIVARD)) return tamsil_testAndSetPivardReadyState(a);
  return tamsil_cmdPOST(a);
}

/* ------------------------------------------------------------------------ */
/* Worlds                                                                    */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_processMccWorkerThread(void* data) {
  Adapter* a = static_cast<Adapter*>(data);
  vmk_WorldEventID ev = (vmk_WorldEventID)&a->mcc_worker_pending;
  for (;;) {
    __atomic_store_n(&a->mcc_worker_pending, 1, __ATOMIC_SEQ_CST);
    vmk_uint32 wait = VMK_TIMEOUT_UNLIMITED_MS;
    if (!tamsil_cardError(a) && tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED)) {
      tamsil_processMcc(a);
      wait = 100;
    }
    vmk_SPLock(a->mcc_compl_worker_lock);
    if (__atomic_load_n(&a->mcc_worker_pending, __ATOMIC_SEQ_CST) == 0) {
      vmk_SPUnlock(a->mcc_compl_worker_lock);
      continue;
    }
    if (vmk_WorldWait(ev, a->mcc_compl_worker_lock, wait, "mcc worker") == VMK_DEATH_PENDING) return VMK_OK;
  }
}

void tamsil_mccWorkerWake(Adapter* a) {
  vmk_SPLock(a->mcc_compl_worker_lock);
  __atomic_store_n(&a->mcc_worker_pending, 0, __ATOMIC_SEQ_CST);
  vmk_SPUnlock(a->mcc_compl_worker_lock);
  vmk_WorldWakeup((vmk_WorldEventID)&a->mcc_worker_pending);
}

/* ------------------------------------------------------------------------ */
/* SR-IOV sizing and enabling                                                */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_sriovConfig(Adapter* a) {
  ResourceLimits l;
  memset(&l, 0, sizeof l);
  vmk_uint32 st = tamsil_cmdGetProfileConfig(a, 0, 0, &l);
  if (st != 0) return st;
  // The whole record: detach gives it back to the firmware.
  a->sriov.profile_limits = l;
  a->sriov.limits_saved = 1;
  a->sriov.profile_res.max_vfs = l.max_vfs;
  a->sriov.profile_res.max_rx_qs = l.max_rx_qs;
  a->sriov.profile_res.max_tx_qs = l.max_tx_qs;
  a->sriov.profile_res.max_rss_qs = l.max_rss_qs;
  a->sriov.profile_res.max_evt_qs = l.max_evt_qs;
  a->sriov.profile_res.uc_mac = l.max_uc_mac;
  a->sriov.profile_res.if_cap_flags = l.cap_flags2;
  if (a->features & TAMSIL_FEAT_SRIOV) {
    if ((vmk_int32)l.max_vfs < a->max_vfs) a->max_vfs = (vmk_int32)l.max_vfs;
    return tamsil_cmdSetSriovConfig(a, (vmk_uint16)a->max_vfs, &l);
  }
  a->max_vfs = 0;
  return VMK_OK;
}

void tamsil_enableVFs(Adapter* a) {
  vmk_uint8 m = a->function_mode;
  if (m == 2 || m == 4 || m == 6 || m == 7 || m == 10) {
    TAMSIL_ERR(a, "VFs cannot be enabled in multi-channel mode\n");
    return;
  }
  if (!(a->features & TAMSIL_FEAT_SRIOV)) {
    TAMSIL_ERR(a, "SR-IOV capability is not enabled for this adapter\n");
    return;
  }
  vmk_uint16 n = (vmk_uint16)a->max_vfs;
  if (n == 0 || vmk_PCIEnableVFs(tamsilDriver.module_id, a->pci_device, &n) != VMK_OK) {
    TAMSIL_ERR(a, "vmk_PCIEnableVFs() failed for adapter\n");
    return;
  }
  TAMSIL_MOD_DBG(TAMSIL_DBG_SRIOV, TAMSIL_LOG_LEVEL_INFO2, "vmk_PCIEnableVFs() success - num_vfs=%d\n", n);
  a->num_vfs = n;
  if (tamsil_isGen(a, TAMSIL_ASIC_PIVARD))
    for (vmk_uint32 vf = 1; vf <= a->num_vfs; vf++) tamsil_cmdEnableVF(a, (vmk_uint8)vf);
}

void tamsil_destroyVF(Adapter* a, vmk_uint32 i) {
  if (a->vf_cfg == nullptr) return;
  VfRecord* vf = &a->vf_cfg[i];
  if (vf->if_handle == 0) return;
  vmk_uint8 dom = (vmk_uint8)(i + 1);
  if (vf->pmac_id != 0xFFFFFFFFu) {
    vmk_uint32 st = tamsil_isGen(a, TAMSIL_ASIC_KS2 | TAMSIL_ASIC_KS3) ? tamsil_cmdPmacDel(a, vf->if_handle, vf->pmac_id, dom)
                                                                : tamsil_cmdSetMacList(a, nullptr, 0, dom);
    if (st != 0) {
      TAMSIL_ERR(a, "VF mac Deletion failed for vf_idx(=%d)\n\n", (int)i);
      return;
    }
  }
  vf->pmac_id = 0xFFFFFFFFu;
  if (tamsil_cmdIfDestroy(a, vf->if_handle, dom) != 0) TAMSIL_ERR(a, "VF cmdIfDestroy failed for vf_idx(=%d)\n", (int)i);
  vf->if_handle = 0;
}

void tamsil_disableVFs(Adapter* a) {
  if (a->num_vfs == 0) return;
  for (vmk_uint32 i = 0; i < a->num_vfs; i++) tamsil_destroyVF(a, i);
  if (vmk_PCIDisableVFs(tamsilDriver.module_id, a->pci_device) != VMK_OK) TAMSIL_ERR(a, "Disable VFs failed\n");
  a->num_vfs = 0;
}

// VF registration and configuration come with the SR-IOV request handling,
// which is not part of this build.
VMK_ReturnStatus tamsil_registerVFs(Adapter*) { return VMK_NOT_SUPPORTED; }
VMK_ReturnStatus tamsil_configureVFs(Adapter*) { return VMK_NOT_SUPPORTED; }

// The MTU change with its rebuild of the receive rings, and the link status
// set capability (administrative up/down and forced speed).
#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"

namespace {

constexpr vmk_uint32 kMtuMin = 64, kMtuMax = 9000;
constexpr vmk_uint32 kSmallMtu = 1900;
constexpr vmk_uint32 kRebuildPost = 8;
constexpr vmk_uint16 kTpeReinit = 6;

bool cookieValid(const Adapter* a, vmk_uint32 i) { return a->intr_cookie[i] != VMK_INVALID_INTRCOOKIE; }

vmk_uint32 vectors(const Adapter* a) { return a->num_vectors < TAMSIL_MAX_VECTORS ? a->num_vectors : TAMSIL_MAX_VECTORS; }

// The sizes are read by every post: written only when they change, which
// is only while no ring is up.
void storeMtu(Adapter* a, vmk_uint32 mtu, vmk_uint32 frag, vmk_uint32 frame) {
  if (a->rx_frag_size != frag) a->rx_frag_size = frag;
  if (a->max_frame != frame) a->max_frame = frame;
  a->mtu = mtu;
  tamsil_sharedDataBegin(a);
  a->shared_data.mtu = mtu;
  tamsil_sharedDataEnd(a);
}

// Takes every ring down to nothing: firmware queue, buffers, memory. The
// worker has been waited out and skips rings while the rebuild runs.
VMK_ReturnStatus takeRingsDown(Adapter* a) {
  for (vmk_uint32 i = vectors(a); i-- > 0;) {
    tamsil_rxo* rxo = &a->rxo[i];
    if (!rxo->rxq.created) continue;
    NetPollInfo* np = &a->netpoll[i];
    if (cookieValid(a, i) && np->netpoll != nullptr) {
      vmk_NetPollDisable(np->netpoll);
      vmk_NetPollFlushRx(np->netpoll);
      np->enabled = 0;
    }
    tamsil_cqNotify(a, rxo->cq.id, false, 0);
    tamsil_eqNotify(a, a->eqo[i].q.id, false, false, 0);
  }
  // Ring destruction goes on past a refused destroy (the memory is not
  // destroyed twice); the rebuild still stops on it.
  const vmk_uint32 refused = tamsil_rxQueuesDestroy(a);
  for (vmk_uint32 i = vectors(a); i-- > 0;) {
    tamsil_rxo* rxo = &a->rxo[i];
    if (a->eqo[i].q.created) tamsil_eqClean(a, &a->eqo[i], false);
    rxo->rxq.head = rxo->rxq.tail = 0;
    vmk_AtomicWrite64(&rxo->rxq.used, 0);
  }
  if (refused != 0) {
    TAMSIL_ERR(a, "tamsil_cmdRxqDestroy failed.\n");
    return VMK_FAILURE;
  }
  return VMK_OK;
}

VMK_ReturnStatus bringRingsUp(Adapter* a) {
  if (tamsil_rxQueuesCreate(a) != 0) {
    TAMSIL_ERR(a, "tamsil_cmdRxqCreateUseMcc failed.\n");
    return VMK_FAILURE;
  }
  for (vmk_uint32 i = 0; i < vectors(a); i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    tamsil_postRxFrags(rxo, kRebuildPost);
    if (cookieValid(a, i)) {
      NetPollInfo* np = &a->netpoll[i];
      if (np->netpoll != nullptr && !np->enabled) {
        vmk_NetPollEnable(np->netpoll);
        np->enabled = 1;
      }
      if (vmk_IntrEnable(a->intr_cookie[i]) == VMK_OK) rxo->intr_enabled = 1;
    }
    tamsil_eqNotify(a, a->eqo[i].q.id, true, false, 0);
    tamsil_cqNotify(a, rxo->cq.id, true, 0);
  }
  return VMK_OK;
}

}  // namespace

// Rebuilds the receive rings for a new buffer size. The caller holds
// `reset_lock`, so no reset or quiesce runs beside it.
VMK_ReturnStatus tamsil_changeRxBufSize(Adapter* a, vmk_uint32 mtu, vmk_uint32 frag, vmk_uint32 frame) {
  const bool pivardFilters = tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS);
  const bool rxcqWithIO = tamsil_hasTrait(a, TAMSIL_GT_RXCQ_AT_IO_START);
  const vmk_uint32 oldFrag = a->rx_frag_size, oldFrame = a->max_frame;
  tamsil_uplinkWatchdogSet(a, 60000);
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_RECONFIG);
  // A worker that looked at the bit before it was set may still be posting.
  tamsil_workerRefillWait(a);
  tamsil_updateUplinkLinkStatus(a, true, false);
  if (pivardFilters) {
    tamsil_removePivardIfFilters(a);
    tamsil_forceRemoveRxFilter(a);
  }
  __atomic_store_n(&a->io_started, 0, __ATOMIC_RELEASE);
  tamsil_startStopTxQueues(a, 0);
  if (a->msix_enabled) tamsil_syncIntrs(a);
  tamsil_disableIntrs(a);
  bool ok = takeRingsDown(a) == VMK_OK;
  if (ok && rxcqWithIO) tamsil_rxCQueuesDestroy(a);
  if (ok) {
    a->rx_frag_size = frag;
    a->max_frame = frame;
    if (rxcqWithIO && tamsil_rxCQueuesCreate(a) != 0) {
      TAMSIL_ERR(a, "tamsil driver: Failed to create Rx completion queues\n");
      ok = false;
    }
  }
  ok = ok && bringRingsUp(a) == VMK_OK;
  if (ok && pivardFilters && tamsil_applyPivardIfFilters(a) != 0) {
    TAMSIL_ERR(a, "Failed to apply filters\n");
    ok = false;
  }
  if (!ok) {
    // The rings stay down with I/O; the rebuild is over, so the worker and
    // a later MTU change are not held off for good.
    tamsil_quiesceIOResetLocked(a);
    // The old MTU stays, and with it the buffers the next start posts.
    a->rx_frag_size = oldFrag;
    a->max_frame = oldFrame;
    vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_RECONFIG);
    tamsil_uplinkWatchdogSet(a, 5000);
    TAMSIL_ERR(a, "tamsil_changeRxBufSize failed\n");
    return VMK_FAILURE;
  }
  tamsil_startStopTxQueues(a, 1);
  __atomic_store_n(&a->io_started, 1, __ATOMIC_RELEASE);
  tamsil_updateUplinkLinkStatus(a, false, false);
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_RECONFIG);
  tamsil_uplinkWatchdogSet(a, 5000);
  if (a->features & TAMSIL_FEAT_DRSS) tamsil_configureRss(a, 0);
  if (a->features & TAMSIL_FEAT_RSS) tamsil_configureRss(a, (vmk_uint16)tamsil_rssLeadingRing(a));
  storeMtu(a, mtu, frag, frame);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_uplinkMTUSet(Adapter* a, vmk_uint32 mtu) {
  if (mtu == a->shared_data.mtu) return VMK_OK;
  if (mtu < kMtuMin || mtu > kMtuMax) {
    TAMSIL_ERR(a, "Invalid MTU requested. Must be between %d and %d bytes\n", (int)kMtuMin, (int)kMtuMax);
    return VMK_BAD_PARAM;
  }
  // Held for the whole change: a quiesce, a reset or a recovery cannot take
  // the rings away underneath the rebuild, nor the rebuild under them.
  vmk_SemaLock(&a->reset_lock);
  // Written by other worlds without a lock.
  const vmk_uint8 hwError = __atomic_load_n(&a->hw_error, __ATOMIC_RELAXED);
  const vmk_uint8 fwTimeout = __atomic_load_n(&a->fw_timeout, __ATOMIC_RELAXED);
  const vmk_uint16 tpe = __atomic_load_n(&a->tpe_state, __ATOMIC_RELAXED);
  if (hwError || fwTimeout || tpe == kTpeReinit || tamsil_flagTest(a, TAMSIL_FLAG_RECONFIG) ||
      tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT) || tamsil_flagTest(a, TAMSIL_FLAG_PIVARD_RECOVERY)) {
    TAMSIL_ERR(a, "Can not set MTU now (tpe_state: 0x%x, hw_error: 0x%x, fw_timeout: 0x%x)\n", (unsigned)tpe,
               (unsigned)hwError, (unsigned)fwTimeout);
    vmk_SemaUnlock(&a->reset_lock);
    return VMK_FAILURE;
  }
  const vmk_uint32 frame = mtu <= kSmallMtu ? 1932 : 9032;
  const vmk_uint32 frag = mtu <= kSmallMtu ? 2048 : 16384;
  VMK_ReturnStatus st = VMK_OK;
  if (frame == a->max_frame || tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED)) {
    storeMtu(a, mtu, frag, frame);
  } else {
    st = tamsil_changeRxBufSize(a, mtu, frag, frame);
  }
  vmk_SemaUnlock(&a->reset_lock);
  return st;
}

/* ------------------------------------------------------------------------ */
/* Link status set                                                           */
/* ------------------------------------------------------------------------ */

namespace {

constexpr vmk_uint32 kDuplexAuto = 0xFFFFFFFFu;

// The firmware's code for a forced full-duplex speed, or false.
bool forcedSpeedCode(const Adapter* a, vmk_uint32 speed, vmk_uint16* code) {
  struct Row {
    vmk_uint32 speed;
    vmk_uint16 code;
    vmk_uint16 capBit;
  };
  static const Row kRows[] = {{10, 13, 0x1},     {100, 12, 0x2},     {1000, 2, 0x4},
                              {10000, 1, 0x8},   {20000, 136, 0x10}, {40000, 14, 0x20}};
  bool listed = false;
  for (vmk_uint32 i = 0; i < a->num_supported_modes && i < TAMSIL_MAX_LINK_MODES; i++)
    if (a->supported_modes[i].speed == speed) listed = true;
  if (!listed) return false;
  for (const Row& r : kRows)
    if (r.speed == speed && (a->link.speed_mask2 & r.capBit) != 0) {
      *code = r.code;
      return true;
    }
  return false;
}

}  // namespace

VMK_ReturnStatus tamsil_linkStatusSet(Adapter* a, const vmk_LinkStatus* req) {
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "speed:%d, duplex:0x%x, state:0x%x\n", (int)req->speed,
             (unsigned)req->duplex, (unsigned)req->state);
  const bool quiesced = tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED);
  if (a->link.link_up && req->state == VMK_LINK_STATE_DOWN) {
    if (quiesced) {
      TAMSIL_ERR(a,
                 "Speed change is not supported when adapter is in DOWN state, bring it UP using esxcli and then "
                 "try\n");
      return VMK_IS_ENABLED;
    }
    a->internal_quiesce = 1;
    VMK_ReturnStatus st = tamsil_uplinkQuiesceIO(a);
    if (st != VMK_OK) TAMSIL_ERR(a, "Failed to QuiesceIO on device\n");
    return st;
  }
  if (quiesced) {
    VMK_ReturnStatus st = tamsil_uplinkStartIO(a);
    a->internal_quiesce = 0;
    if (st != VMK_OK) TAMSIL_ERR(a, "Failed to StartIO on device\n");
    return st;
  }
  if (a->asic_gen == TAMSIL_ASIC_KS2) {
    const bool first = a->num_supported_modes != 0 && a->supported_modes[0].speed == req->speed &&
                       a->supported_modes[0].duplex == req->duplex;
    return first ? VMK_OK : VMK_NOT_SUPPORTED;
  }
  if (tamsil_cmdGetPhyInfo(a) != 0) {
    TAMSIL_ERR(a, "Setting port speed failed.\n");
    return VMK_FAILURE;
  }
  tamsil_cmdUpdatePhyInfo(a);
  vmk_uint16 code = 0;
  const vmk_uint16 ifType = a->link.phy_if_type;
  if (req->duplex == VMK_LINK_DUPLEX_FULL) {
    if (!forcedSpeedCode(a, req->speed, &code)) {
      TAMSIL_ERR(a, "Speed %d is not supported on this phy interface (0x%x)\n", (int)req->speed, (unsigned)ifType);
      return VMK_NOT_SUPPORTED;
    }
  } else if (req->duplex == VMK_LINK_DUPLEX_HALF) {
    TAMSIL_ERR(a, "VMK_LINK_DUPLEX_HALF is not supported (speed: %d)\n", (int)req->speed);
    return VMK_NOT_SUPPORTED;
  } else if (req->duplex == kDuplexAuto) {
    if (ifType == 3 || ifType == 10) {
      TAMSIL_ERR(a, "Autoneg not supported on this phy interface\n");
      return VMK_NOT_SUPPORTED;
    }
    if (!(ifType == 2 || (ifType >= 4 && ifType <= 9) || ifType == 11 || ifType == 12)) {
      TAMSIL_ERR(a, "Unsupported Phy Interface type %d\n", (int)ifType);
      return VMK_NOT_SUPPORTED;
    }
  } else {
    TAMSIL_ERR(a, "Unsupported DUPLEX: %d\n", (int)req->duplex);
    return VMK_NOT_SUPPORTED;
  }
  vmk_uint16 now = 0, second = 0;
  if (tamsil_cmdGetPortSpeed(a, (vmk_uint8)a->port_num, &now, &second) == 0 && now == code &&
      req->duplex == a->shared_data.link.duplex)
    return VMK_OK;
  const vmk_uint32 st = tamsil_cmdSetPortSpeedV1(a, (vmk_uint8)a->port_num, code);
  if (st == 0) return VMK_OK;
  if (st == TAMSIL_FW_EXT_96) {
    TAMSIL_ERR(a, "Device is not privileged to do speed changes\n");
    return VMK_NOT_SUPPORTED;
  }
  TAMSIL_ERR(a, "Setting port speed failed\n");
  return VMK_FAILURE;
}

// Start and quiesce of an uplink's I/O: the ordered sequences that bring the
// receive queues, interrupts, NetPolls and filters up and down.
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"

static bool cookieValid(const Adapter* a, vmk_uint32 i) { return a->intr_cookie[i] != VMK_INVALID_INTRCOOKIE; }

static vmk_uint32 vectors(const Adapter* a) {
  return a->num_vectors < TAMSIL_MAX_VECTORS ? a->num_vectors : TAMSIL_MAX_VECTORS;
}

VMK_ReturnStatus tamsil_disableIntrs(Adapter* a) {
  for (vmk_uint32 i = 0; i < vectors(a); i++) {
    if (!a->rxo[i].intr_enabled) continue;
    if (cookieValid(a, i)) vmk_IntrDisable(a->intr_cookie[i]);
    a->rxo[i].intr_enabled = 0;
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_syncIntrs(Adapter* a) {
  for (vmk_uint32 i = 0; i < vectors(a); i++)
    if (cookieValid(a, i)) vmk_IntrSync(a->intr_cookie[i]);
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Quiesce                                                                   */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_quiesceIO(Adapter* a) {
  const bool pivardFilters = tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS);
  const bool rxcqWithIO = tamsil_hasTrait(a, TAMSIL_GT_RXCQ_AT_IO_START);
  __atomic_store_n(&a->io_started, 0, __ATOMIC_RELEASE);
  tamsil_setLogicalLinkProperties(a, true, true, true, true, 0);
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Marking Link Down\n");
  tamsil_updateUplinkLinkStatus(a, true, false);
  if (pivardFilters) {
    tamsil_removePivardIfFilters(a);
    tamsil_forceRemoveRxFilter(a);
  }
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Stop Tx queues\n");
  tamsil_startStopTxQueues(a, 0);
  // A transmit past its queue check must be out of the rings before they
  // are drained (and, in a reset, freed).
  tamsil_txDoorClose(a);
  if (tamsil_hasTrait(a, TAMSIL_GT_HOST_INTR)) {
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Disarming interrupts\n");
    tamsil_intrSet(a, 0);
  }
  for (vmk_uint32 i = 0; i < vectors(a); i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    if (!rxo->rxq.created) continue;
    NetPollInfo* np = &a->netpoll[i];
    if (cookieValid(a, i) && np->netpoll != nullptr) {
      TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Disabling Netpoll\n");
      vmk_NetPollDisable(np->netpoll);
      vmk_NetPollFlushRx(np->netpoll);
      np->enabled = 0;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Unarming Rx EQ and CQ\n");
    tamsil_cqNotify(a, rxo->cq.id, false, 0);
    tamsil_eqNotify(a, a->eqo[i].q.id, false, false, 0);
  }
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Async MCC disable\n");
  tamsil_asyncMccDisable(a);
  if (rxcqWithIO) {
    // The receive completion queues go below: none may raise an event.
    if (a->mcc_cq.created) tamsil_cqNotify(a, a->mcc_cq.id, false, 0);
    for (vmk_uint32 i = 0; i < vectors(a); i++)
      if (a->rxo[i].cq.created) tamsil_cqNotify(a, a->rxo[i].cq.id, false, 0);
    for (vmk_uint32 q = 0; q < a->num_tx_queues && q < TAMSIL_MAX_VECTORS; q++)
      if (a->txo[q].q.created && a->txo[q].cq.created) tamsil_cqNotify(a, a->txo[q].cq.id, false, 0);
  }
  if (a->msix_enabled) tamsil_syncIntrs(a);
  tamsil_disableIntrs(a);
  tamsil_txComplClean(a);
  // The worker may be posting to a starved ring it found before I/O was
  // marked quiesced.
  tamsil_workerRefillWait(a);
  tamsil_rxQueuesDestroy(a);
  for (vmk_uint32 i = vectors(a); i-- > 0;) {
    if (!a->eqo[i].q.created) continue;
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Unarming EQ\n");
    tamsil_eqClean(a, &a->eqo[i], false);
  }
  if (rxcqWithIO) tamsil_rxCQueuesDestroy(a);
  tamsil_freeInterrupts(a);
  // The MCC world polls completions while I/O is down.
  tamsil_mccWorkerWake(a);
  return VMK_OK;
}

// The bit-4 test-and-set that makes one caller the quiescer; the caller
// holds `reset_lock`.
static VMK_ReturnStatus quiesceLocked(Adapter* a) {
  if (vmk_BitVectorAtomicTestAndSet(a->flags, TAMSIL_FLAG_IO_QUIESCED)) {
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "IO is already quiesced, Skipping ..\n");
    return VMK_OK;
  }
  return tamsil_quiesceIO(a);
}

VMK_ReturnStatus tamsil_quiesceIOResetLocked(Adapter* a) { return quiesceLocked(a); }

VMK_ReturnStatus tamsil_uplinkQuiesceIO(Adapter* a) {
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Received Uplink Quiesce I/O\n");
  vmk_ModuleID rdma;
  if (!a->internal_quiesce && vmk_ModuleGetID("pondrel", &rdma) == VMK_OK) {
    TAMSIL_MOD_ERR("Cannot unload tamsil module when pondrel module is loaded\n");
    return VMK_FAILURE;
  }
  a->internal_quiesce = 0;
  // Held across the whole quiesce, not only its test-and-set: a reset the
  // driver starts meanwhile (a recovery) finds the bit set and would skip
  // its own quiesce, taking the interrupts and the control path away while
  // this one still works on them. It waits here and finds I/O down.
  vmk_SemaLock(&a->reset_lock);
  const VMK_ReturnStatus st = quiesceLocked(a);
  vmk_SemaUnlock(&a->reset_lock);
  return st;
}

/* ------------------------------------------------------------------------ */
/* Start                                                                     */
/* ------------------------------------------------------------------------ */

// A failed start quiesces what it brought up. A caller holding `reset_lock`
// (the full reset) must not have the quiesce take it again.
static VMK_ReturnStatus undoStart(Adapter* a, bool resetLockHeld) {
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_IO_QUIESCED);
  if (resetLockHeld) {
    quiesceLocked(a);
  } else {
    a->internal_quiesce = 1;
    tamsil_uplinkQuiesceIO(a);
  }
  return VMK_FAILURE;
}

// Interrupt registration for the vectors the queue set was built with. The
// fall-back to one INTx cookie serves only the first event queue: with more
// than one, the others would never be polled (and their interrupt causes
// would hold the shared line up), so the start fails instead and keeps the
// MSI-X cookies for the next attempt.
static VMK_ReturnStatus registerVectors(Adapter* a) {
  if (a->msix_enabled && a->num_vectors > 1) {
    VMK_ReturnStatus st = tamsil_registerMSIxInterrupts(a);
    if (st != VMK_OK)
      TAMSIL_ERR(a, "MSI-X registration failed: no INTx fall-back for %d event queues\n", (int)a->num_vectors);
    return st;
  }
  return tamsil_registerInterrupts(a);
}

static VMK_ReturnStatus startIO(Adapter* a, bool resetLockHeld) {
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Received Uplink Start I/O\n");
  const bool rxcqWithIO = tamsil_hasTrait(a, TAMSIL_GT_RXCQ_AT_IO_START);
  if (a->uplink != nullptr) vmk_UplinkNameGet(a->uplink, &a->uplink_name);
  if (rxcqWithIO && tamsil_rxCQueuesCreate(a) != 0) {
    TAMSIL_ERR(a, "tamsil driver: Failed to create Rx completion queues\n");
    return VMK_FAILURE;
  }
  if (tamsil_rxQueuesCreate(a) != 0) {
    TAMSIL_ERR(a, "tamsil driver: Failed to create Rx queues\n");
    // Nothing else is up yet; the completion queues made above go with it.
    if (rxcqWithIO) tamsil_rxCQueuesDestroy(a);
    return VMK_FAILURE;
  }
  for (vmk_uint32 i = 0; i < vectors(a); i++) tamsil_postRxFrags(&a->rxo[i], TAMSIL_RX_POST_MAX);
  if (tamsil_applyPivardIfFilters(a) != 0) {
    TAMSIL_ERR(a, "Failed to apply filters\n");
    return undoStart(a, resetLockHeld);
  }
  if (registerVectors(a) != VMK_OK) {
    TAMSIL_ERR(a, "Failed to register interrupts\n");
    return undoStart(a, resetLockHeld);
  }
  for (vmk_uint32 i = 0; i < vectors(a); i++) {
    if (!cookieValid(a, i)) continue;
    if (vmk_IntrEnable(a->intr_cookie[i]) != VMK_OK) {
      TAMSIL_ERR(a, "Interrupt Enable failed for vect %d\n", (int)i);
      for (vmk_uint32 j = i; j-- > 0;) {
        if (!a->rxo[j].intr_enabled) continue;
        if (cookieValid(a, j)) vmk_IntrDisable(a->intr_cookie[j]);
        a->rxo[j].intr_enabled = 0;
      }
      return undoStart(a, resetLockHeld);
    }
    a->rxo[i].intr_enabled = 1;
  }
  if (tamsil_hasTrait(a, TAMSIL_GT_HOST_INTR)) tamsil_intrSet(a, 1);
  for (vmk_uint32 q = 0; q < a->num_tx_queues && q < TAMSIL_MAX_VECTORS; q++)
    if (a->txo[q].q.created && a->txo[q].cq.created) tamsil_cqNotify(a, a->txo[q].cq.id, true, 0);
  for (vmk_uint32 i = 0; i < vectors(a); i++) {
    tamsil_cqNotify(a, a->rxo[i].cq.id, true, 0);
    NetPollInfo* np = &a->netpoll[i];
    if (tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED) && cookieValid(a, i) && !np->enabled && np->netpoll != nullptr) {
      vmk_NetPollEnable(np->netpoll);
      np->enabled = 1;
    }
    tamsil_eqNotify(a, a->eqo[i].q.id, true, false, 0);
  }
  tamsil_asyncMccEnable(a);
  tamsil_txDoorOpen(a);
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_IO_QUIESCED);
  __atomic_store_n(&a->io_started, 1, __ATOMIC_RELEASE);
  if (a->port_num == a->pf_num) {
    vmk_uint32 st = tamsil_cmdSetFlowControl(a, a->pause_tx, a->pause_rx);
    if (st != 0 && st != 68) TAMSIL_ERR(a, "Set flow control failed\n");
  }
  if (a->features & TAMSIL_FEAT_DRSS) tamsil_configureRss(a, 0);
  if (a->features & TAMSIL_FEAT_RSS) tamsil_configureRss(a, (vmk_uint16)tamsil_rssLeadingRing(a));
  tamsil_vlanPromiscuousConfig(a, 1);
  if (tamsil_cmdLinkStatusQuery(a, 0) != 0) {
    TAMSIL_ERR(a, "Link status query failed\n");
    return undoStart(a, resetLockHeld);
  }
  tamsil_linkStatusUpdate(a);
  // Start I/O runs where the kernel may be called: the link is reported and
  // the transmit queues follow it now rather than at the next tick.
  tamsil_linkReportDeferred(a);
  tamsil_setLogicalLinkProperties(a, true, true, true, false, 0);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_uplinkStartIO(Adapter* a) { return startIO(a, false); }

VMK_ReturnStatus tamsil_startIOResetLocked(Adapter* a) { return startIO(a, true); }

// The queue set: rings, interfaces and event queues, completion, transmit
// and MCC queues, their ordered set-up and tear-down.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"

// Stops a world and forgets its id; nothing when there is none.
static void stopWorld(vmk_WorldID* world) {
  if (*world != VMK_INVALID_WORLD_ID) {
    vmk_WorldDestroy(*world);
    vmk_WorldWaitForDeath(*world);
    *world = VMK_INVALID_WORLD_ID;
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
  // Interfaces whose filters the driver applies later: created without
  // enable flags, one for the NetQueue rings and one for the RSS rings.
  const bool ifFilters = tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS);
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
    vmk_uint32 C = 0xA0, E = ifFilters ? 0 : 0xA0;
    if (i == 0) {
      C = (a->fw_func_caps & 0x2) ? 0xAB8 : 0x2B8;
      if (ifFilters) {
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
    if (ifFilters) {
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
    // A new ring owes no packet: whatever an earlier one kept is not its.
    memset(txo->pending, 0, sizeof txo->pending);
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
  // A queue set built again after a clear: the mailbox carries its commands
  // (the MCC channel opens with its new queue).
  tamsil_mboxOpen(a);
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

  if (!tamsil_hasTrait(a, TAMSIL_GT_RXCQ_AT_IO_START)) {
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
  if (!tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) {
    a->qnq_received = 255;
    // Every priority may be used until the firmware says otherwise.
    a->vlan_prio_bmap = 0xFF;
  }
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
  } else if (tamsil_hasTrait(a, TAMSIL_GT_EMI_CANCELLER) && ((vmk_uint32)a->link.phy_type | ((vmk_uint32)a->link.phy_if_type << 16)) == 0x6000Du) {
    if (tamsil_cmdSetEmiCanceller(a, (vmk_uint32)emi_canceller) != 0)
      TAMSIL_ERR(a, "tamsil_cmdSetEmiCanceller() failed\n");
  }
  tamsil_cmdReadTransreceiverData(a);
  a->vxlan_table = VMK_INVALID_HASH_HANDLE;
  if (tamsil_hasTrait(a, TAMSIL_GT_VXLAN) && vxlan_offload) {
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
  const tamsil_genOps* ops = tamsil_opsOf(a);
  if (ops->portReset != nullptr) {
    // The port reset is this function's own reset: it takes the function's
    // objects and nothing of the other functions.
    TAMSIL_ERR(a, "Command channel dead at tear-down: resetting the port\n");
    if (ops->portReset(a) == VMK_OK) {
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
  // Filter nodes still in the table go with it: nobody removes them later.
  tamsil_vxlanClear(a, 1);
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
  tamsil_pmacTableReset(a);
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

// The queue operations the driver itself uses: default queue allocation,
// receive queue activation, the bulk stop and start of the transmit queues,
// VLAN promiscuous mode, RSS and DRSS configuration, the Pivard interface
// filters and the MAC filter table's release and reset.
#include <cstring>

#include "tamsil_cmds.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"

// Fixed hash key of the RSS configuration.
static const vmk_uint8 kRssKey[TAMSIL_RSS_KEY_LEN] = {
    0x6d, 0x5a, 0x56, 0xda, 0x25, 0x5b, 0x0e, 0xc2, 0x41, 0x67, 0x25, 0x3d, 0x43, 0xa3,
    0x8f, 0xb0, 0xd0, 0xca, 0x2b, 0xcb, 0xae, 0x7b, 0x30, 0xb4, 0x77, 0xcb, 0x2d, 0xa3,
    0x80, 0x30, 0xf2, 0x0c, 0x6a, 0x42, 0xb7, 0x3b, 0xbe, 0xac, 0x01, 0xfa,
};

const vmk_uint8* tamsil_rssKey(void) { return kRssKey; }

vmk_uint32 tamsil_rssLeadingRing(const Adapter* a) {
  const vmk_uint32 v = a->num_vectors, rings = (vmk_uint32)a->res.max_rss_qs + a->res.max_drss_qs;
  return v > rings ? v - rings : 0;
}

static bool rssOn(const Adapter* a) { return (a->features & TAMSIL_FEAT_RSS) != 0; }
static bool drssOn(const Adapter* a) { return (a->features & TAMSIL_FEAT_DRSS) != 0; }

/* ------------------------------------------------------------------------ */
/* Allocation and activation                                                 */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_allocRxQueue(Adapter* a, vmk_uint32 features, vmk_uint64* qid, vmk_NetPoll* netpoll) {
  const vmk_uint32 L = tamsil_rssLeadingRing(a);
  const vmk_uint32 M = a->queue_info.maxRxQueues;
  vmk_uint32 idx;
  if (features & 0x24u) {
    if (L >= M) return VMK_FAILURE;
    if (a->uplink_qdata[L].flags & TAMSIL_QDATA_ALLOCATED) {
      TAMSIL_ERR(a, "RSS leading queue already allocated\n");
      return VMK_FAILURE;
    }
    idx = L;
  } else {
    // Queues 0..L-1, and never past the receive records.
    const vmk_uint32 n = L < M ? L : M;
    for (idx = 0; idx < n; idx++)
      if ((a->uplink_qdata[idx].flags & TAMSIL_QDATA_ALLOCATED) == 0) break;
    if (idx >= n) return VMK_FAILURE;
  }
  qData* q = &a->uplink_qdata[idx];
  const vmk_uint64 id = tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, idx);
  if (netpoll != nullptr) *netpoll = q->netpoll;
  tamsil_sharedDataBegin(a);
  q->flags = TAMSIL_QDATA_ALLOCATED | (idx == 0 ? TAMSIL_QDATA_DEFAULT : 0u);
  q->qid = id;
  tamsil_sharedDataEnd(a);
  if (qid != nullptr) *qid = id;
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "tamsil_allocRxQueue %u alloced\n", idx);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_allocTxQueue(Adapter* a, vmk_uint64* qid) {
  const vmk_uint32 M = a->queue_info.maxRxQueues, T = a->queue_info.maxTxQueues;
  vmk_uint32 j = M;
  for (; j < M + T && j < TAMSIL_MAX_UPLINK_QUEUES; j++)
    if ((a->uplink_qdata[j].flags & TAMSIL_QDATA_ALLOCATED) == 0) break;
  if (T == 0 || j >= M + T || j >= TAMSIL_MAX_UPLINK_QUEUES) {
    TAMSIL_ERR(a, "No free tx queues\n");
    return VMK_FAILURE;
  }
  qData* q = &a->uplink_qdata[j];
  const vmk_uint64 id = tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_TX, j);
  tamsil_sharedDataBegin(a);
  q->flags = TAMSIL_QDATA_ALLOCATED | (j == M ? TAMSIL_QDATA_DEFAULT : 0u);
  q->qid = id;
  tamsil_sharedDataEnd(a);
  if (qid != nullptr) *qid = id;
  return VMK_OK;
}

// Marks `quiesced` of rings first..first+count-1.
static void ringsQuiesced(Adapter* a, vmk_uint32 first, vmk_uint32 count, vmk_uint64 v) {
  for (vmk_uint32 r = first; r < first + count && r < TAMSIL_MAX_VECTORS; r++)
    __atomic_store_n(&a->rxo[r].quiesced, v, __ATOMIC_RELEASE);
}

VMK_ReturnStatus tamsil_activateRxQueue(Adapter* a, vmk_uint64 qid) {
  const vmk_uint32 idx = tamsil_queueIdVal(qid);
  if (idx >= a->queue_info.maxRxQueues || idx >= TAMSIL_MAX_VECTORS) return VMK_BAD_PARAM;
  qData* q = &a->uplink_qdata[idx];
  const vmk_uint32 L = tamsil_rssLeadingRing(a);
  // Quiesce and the deferred link report both come here: the state is
  // looked at under the writer lock, so that one of them counts the queue.
  tamsil_sharedDataBegin(a);
  if (q->state == TAMSIL_QDATA_STARTED) {
    tamsil_sharedDataEnd(a);
    return VMK_OK;
  }
  __atomic_store_n(&q->state, TAMSIL_QDATA_STARTED, __ATOMIC_RELEASE);
  ringsQuiesced(a, idx, 1, 0);
  if (idx == 0 && drssOn(a)) ringsQuiesced(a, a->num_vectors - a->res.max_drss_qs, a->res.max_drss_qs, 0);
  if (idx == L && rssOn(a)) ringsQuiesced(a, L, a->res.max_rss_qs, 0);
  a->queue_info.activeRxQueues++;
  tamsil_sharedDataEnd(a);
  return VMK_OK;
}

// A transmit queue with fewer free entries than one packet may need is not
// started: its completions start it once they drain it.
bool tamsil_txNearlyFull(const Adapter* a, vmk_uint32 txIndex) {
  const tamsil_txo* txo = &a->txo[txIndex];
  const vmk_uint64 len = txo->q.len != 0 ? txo->q.len : TAMSIL_TXQ_LEN;
  return (vmk_uint64)vmk_AtomicRead64(&txo->q.used) + TAMSIL_TX_STOP_RESERVE >= len;
}

void tamsil_startStopTxQueues(Adapter* a, vmk_uint8 start) {
  const vmk_uint32 M = a->queue_info.maxRxQueues, T = a->queue_info.maxTxQueues;
  auto eligible = [&](vmk_uint32 j) {
    if ((a->uplink_qdata[j].flags & TAMSIL_QDATA_ALLOCATED) == 0) return false;
    return !(start && j - M < TAMSIL_MAX_VECTORS && tamsil_txNearlyFull(a, j - M));
  };
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "%s Tx queues\n", start ? "Start" : "Stop");
  tamsil_sharedDataBegin(a);
  for (vmk_uint32 j = M; j < M + T && j < TAMSIL_MAX_UPLINK_QUEUES; j++)
    if (eligible(j))
      __atomic_store_n(&a->uplink_qdata[j].state, start ? TAMSIL_QDATA_STARTED : TAMSIL_QDATA_STOPPED,
                       __ATOMIC_RELEASE);
  tamsil_sharedDataEnd(a);
  if (a->uplink != nullptr) {
    for (vmk_uint32 j = M; j < M + T && j < TAMSIL_MAX_UPLINK_QUEUES; j++) {
      if (!eligible(j)) continue;
      if (start)
        vmk_UplinkQueueStart(a->uplink, j);
      else
        vmk_UplinkQueueStop(a->uplink, j);
    }
  }
  tamsil_activateRxQueue(a, a->queue_info.defaultRxQueueID);
}

/* ------------------------------------------------------------------------ */
/* Receive filters, VLAN promiscuous mode, RSS                               */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_vlanPromiscuousConfig(Adapter* a, vmk_uint8 on) {
  if (on && tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS)) a->if_caps |= 0x80u;
  for (vmk_uint32 i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++) {
    vmk_uint32 st = tamsil_cmdRxfFilterConfig(a, a->rxo[i].if_id, 0x80u, on ? 0x80u : 0u);
    if (st != 0) {
      TAMSIL_ERR(a, "tamsil_cmdRxfFilterConfig failed with 0x%x\n", st);
      return st;
    }
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_configureRss(Adapter* a, vmk_uint16 first) {
  const vmk_uint32 V = a->num_vectors, nRss = a->res.max_rss_qs, nDrss = a->res.max_drss_qs;
  const bool ifFlag = (a->features & TAMSIL_FEAT_RSS_IF_FLAG) != 0;
  const bool drss = first == 0;
  vmk_uint32 n = drss ? nDrss + (ifFlag ? 1 : 0) : (ifFlag ? nRss : (nRss > 0 ? nRss - 1 : 0));
  // No ring to spread over (one RSS ring and no interface flag) is a
  // configuration that cannot be sent, not a division by zero.
  if ((a->features & (TAMSIL_FEAT_RSS | TAMSIL_FEAT_DRSS)) == 0 || n == 0) {
    TAMSIL_ERR(a, "Failed to configure RSS with error: 0x%x\n", VMK_FAILURE);
    return VMK_FAILURE;
  }
  vmk_uint8 table[TAMSIL_RSS_TABLE_LEN];
  for (vmk_uint32 i = 0; i < TAMSIL_RSS_TABLE_LEN; i++) {
    const vmk_uint32 r = i % n;
    vmk_uint32 ring;
    if (!drss)
      ring = first + r + (ifFlag ? 0 : 1);
    else if (!ifFlag)
      ring = V - nDrss + r;
    else
      ring = r == 0 ? 0 : V - nDrss - 1 + r;
    table[i] = ring < TAMSIL_MAX_VECTORS ? a->rxo[ring].rss_id : 0;
  }
  const vmk_uint32 ifId = first < TAMSIL_MAX_VECTORS ? a->rxo[first].if_id : 0;
  vmk_uint32 st = tamsil_cmdConfigRSS(a, ifId, tamsil_traitsOf(a)->rss_hash_flags, kRssKey, TAMSIL_RSS_KEY_LEN,
                                      table, TAMSIL_RSS_TABLE_LEN);
  if (st != 0) {
    TAMSIL_ERR(a, "Failed to configure RSS with error: 0x%x\n", VMK_FAILURE);
    return VMK_FAILURE;
  }
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Pivard interface filters                                                  */
/* ------------------------------------------------------------------------ */

// The default interface and, with RSS, the RSS interface get their filter
// flags (value 0 takes them away).
static vmk_uint32 pivardFilters(Adapter* a, bool apply) {
  vmk_uint32 flags = a->if_caps;
  vmk_uint32 st = tamsil_cmdRxfFilterConfig(a, a->rxo[0].if_id, flags, apply ? flags : 0u);
  if (st != 0) {
    TAMSIL_ERR(a, apply ? "tamsil_driver: Failed to apply filters\n" : "tamsil_driver: Failed to remove filters\n");
    return st;
  }
  if (apply) TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Filters applied succesfully\n\n");
  if (rssOn(a)) {
    const vmk_uint32 L = tamsil_rssLeadingRing(a);
    st = tamsil_cmdRxfFilterConfig(a, a->rxo[L].if_id, 0x10A0u, apply ? 0x10A0u : 0u);
    if (st != 0)
      TAMSIL_ERR(a, apply ? "tamsil_driver: Failed to apply filter to RSS interface\n"
                          : "tamsil_driver: Failed to remove filters to RSS interface\n");
  }
  return st;
}

vmk_uint32 tamsil_applyPivardIfFilters(Adapter* a) {
  return tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS) ? pivardFilters(a, true) : 0;
}

vmk_uint32 tamsil_removePivardIfFilters(Adapter* a) {
  return tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS) ? pivardFilters(a, false) : 0;
}

vmk_uint32 tamsil_forceRemoveRxFilter(Adapter* a) {
  if (!tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS)) return 0;
  const vmk_uint32 L = tamsil_rssLeadingRing(a);
  vmk_uint32 result = 0;
  vmk_SemaLock(&a->pmac_lock);
  for (vmk_uint32 i = 0; i < TAMSIL_PMAC_ENTRIES; i++) {
    if (a->pmac[i].nic_ref == 0) continue;
    vmk_uint8 nic = 0, rdma = 0;
    vmk_uint32 queue = 0;
    if (tamsil_pmacTableDel(a, i, &nic, &rdma, &queue) == 0) continue;
    const vmk_uint32 ifId = queue < TAMSIL_MAX_VECTORS ? a->rxo[queue].if_id : 0;
    vmk_uint32 st = queue == L ? tamsil_cmdPmacDel(a, ifId, i, 0) : tamsil_cmdDelIfQueueFilter(a, ifId, i, 0);
    if (st != 0) {
      result = st;
      break;
    }
    if (queue < TAMSIL_MAX_UPLINK_QUEUES) {
      qData* q = &a->uplink_qdata[queue];
      tamsil_sharedDataBegin(a);
      if (q->activeFilters != 0) q->activeFilters--;
      tamsil_sharedDataEnd(a);
    }
  }
  vmk_SemaUnlock(&a->pmac_lock);
  return result;
}

/* ------------------------------------------------------------------------ */
/* MAC filter table                                                          */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_pmacTableDel(Adapter* a, vmk_uint32 index, vmk_uint8* nic, vmk_uint8* rdma, vmk_uint32* queue) {
  if (index >= TAMSIL_PMAC_ENTRIES) return 0;
  tamsil_pmacEntry* e = &a->pmac[index];
  if (e->nic_ref == 0) {
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
               "cannot delete PMAC, entry notfound, refCnt = %d (index %d), could be because of reset,Ignoring.\n",
               e->nic_ref, (int)index);
    return 0;
  }
  e->nic_ref--;
  if (nic != nullptr) *nic = e->nic_ref;
  if (rdma != nullptr) *rdma = e->rdma_ref;
  if (queue != nullptr) *queue = e->queue;
  return (e->nic_ref == 0 && e->rdma_ref == 0) ? 2 : 1;
}

void tamsil_pmacTableReset(Adapter* a) { memset(a->pmac, 0, sizeof a->pmac); }

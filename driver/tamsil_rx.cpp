// The receive path: receive rings, buffer posting, completion parsing and
// hand-over to the stack, the flush drain and the release of posted buffers.
#include <cstring>

#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"
#include "tamsil_statctr.h"

namespace {

constexpr vmk_uint32 kFlushWaitUs = 1000;
constexpr vmk_uint16 kVlanInvalid = 4095;
constexpr vmk_uint32 kTunnelCsumWord = 3;

// A ring found inconsistent: the firmware is asked for a dump where it
// keeps one, then the machine stops.
[[noreturn]] void rxRingStop(Adapter* a, const char* check, int line) {
  const tamsil_genOps* ops = tamsil_opsOf(a);
  if (ops->ringDump != nullptr) ops->ringDump(a);
  vmk_Panic("Unrecoverable error in tamsil at%s:%s - %d", "tamsil_main", check, line);
}

// A generation whose destroyed receive queue leaves no flush completion
// also wants the completion ring drained, and buffers posted, before the
// queue goes.
bool noFlushCompletion(const Adapter* a) { return tamsil_traitsOf(a)->rx_flush_polls == 0; }

bool keepsTagOnlyWhenMarked(vmk_uint8 mode) { return mode == 3 || mode == 4 || mode == 6 || mode == 8; }

vmk_PktHandle* entryPkt(const tamsil_fragInfo* fi) { return __atomic_load_n(&fi->pkt, __ATOMIC_ACQUIRE); }
void entryClear(tamsil_fragInfo* fi) {
  fi->bus_addr = 0;
  fi->length = 0;
  __atomic_store_n(&fi->pkt, nullptr, __ATOMIC_RELEASE);
}

// The netdump poll runs in the kernel's panic context, where only the
// panic-safe release may be used.
void pktDrop(vmk_PktHandle* pkt, bool inPanic) {
  if (inPanic)
    vmk_PktReleasePanic(pkt);
  else
    vmk_PktRelease(pkt);
}

void complDiscard(Adapter* a, tamsil_rxo* rxo, const RxCompletion* rxcp, bool inPanic) {
  vmk_uint16 idx = rxcp->frag_index;
  for (vmk_uint32 k = 0; k < rxcp->num_frags; k++) {
    tamsil_fragInfo* fi = tamsil_getRxPfragInfo(a, rxo, idx);
    vmk_PktHandle* pkt = entryPkt(fi);
    entryClear(fi);
    pktDrop(pkt, inPanic);
    idx = tamsil_ringNext(a, idx, rxo->rxq.len);
  }
}

// Posts up to `n` buffers; the caller holds the ring's posting mark. The
// netdump poll refills too (its ring would run dry over a long dump): a
// buffer it cannot post goes back with the panic-safe release.
void postLocked(Adapter* a, tamsil_rxo* rxo, vmk_uint32 n, bool inPanic) {
  QueueInfo* q = &rxo->rxq;
  vmk_uint32 posted = 0;
  while (posted < n) {
    tamsil_fragInfo* fi = &rxo->frag_info_table[q->head];
    if (entryPkt(fi) != nullptr) break;  // ring full
    vmk_PktHandle* pkt = nullptr;
    if (vmk_PktAllocForDMAEngine(a->max_frame, a->dma_engine, &pkt) != VMK_OK) {
      tamsil_statInc(rxo->rx_post_fail);
      break;
    }
    vmk_SgElem elem;
    if (vmk_PktSgElemGet(pkt, 0, &elem) != VMK_OK) {
      pktDrop(pkt, inPanic);
      break;
    }
    vmk_SgElem mapped;
    vmk_DMAMapErrorInfo err;
    if (vmk_DMAMapElem(a->dma_engine, VMK_DMA_DIRECTION_TO_MEMORY, &elem, VMK_TRUE, &mapped, &err) != VMK_OK) {
      TAMSIL_ERR(a, "Failed to map %p size %d to IO address, %s.\n", (void*)pkt, (int)elem.length,
                 vmk_DMAMapErrorReasonToString(err.error));
      tamsil_statInc(rxo->rx_post_fail);
      pktDrop(pkt, inPanic);
      break;
    }
    fi->bus_addr = mapped.addr;
    fi->length = a->max_frame;
    __atomic_store_n(&fi->pkt, pkt, __ATOMIC_RELEASE);
    vmk_uint32 d[2] = {(vmk_uint32)(mapped.addr >> 32), (vmk_uint32)mapped.addr};
    memcpy((vmk_uint8*)q->mem.va + (vmk_uint32)q->head * TAMSIL_RXQ_ENTRY_SIZE, d, sizeof d);
    tamsil_statSet(q->head, tamsil_ringNext(a, q->head, q->len));
    posted++;
  }
  if (posted != 0) {
    if (__atomic_load_n(&rxo->rx_post_starved, __ATOMIC_RELAXED) != 0)
      __atomic_store_n(&rxo->rx_post_starved, 0, __ATOMIC_RELAXED);
    vmk_AtomicAdd64(&q->used, posted);
    if (!tamsil_hwError(a)) {
      vmk_CPUMemFenceWrite();
      tamsil_dbWrite32(a, TAMSIL_DB_RQ, tamsil_rxqDoorbell(q->id, posted));
    }
    return;
  }
  if (vmk_AtomicRead64(&q->used) != 0) return;
  vmk_uint8 old = __atomic_exchange_n(&rxo->rx_post_starved, 1, __ATOMIC_RELAXED);
  TAMSIL_DBG(a, TAMSIL_DBG_RX, TAMSIL_LOG_LEVEL_INFO2, "rx_post_starved: 0x%x\n", old);
}

// Takes the frame's buffer back, pads a runt and sets the frame length.
// NULL when the frame was dropped (the buffer is released).
vmk_PktHandle* tamsil_pktFillRxData(Adapter* a, tamsil_rxo* rxo, RxCompletion* rxcp, bool inPanic) {
  tamsil_fragInfo* fi = tamsil_getRxPfragInfo(a, rxo, rxcp->frag_index);
  vmk_PktHandle* pkt = entryPkt(fi);
  entryClear(fi);
  if (rxcp->pkt_size > a->max_frame) rxRingStop(a, "tamsil_pktFillRxData", 4178);
  vmk_uint32 len = rxcp->pkt_size;
  if (len < TAMSIL_RX_MIN_FRAME) {
    // The buffer's bytes past the frame are left from its previous use.
    memset(vmk_PktFrameMappedPointerGet(pkt) + len, 0, TAMSIL_RX_MIN_FRAME - len);
    len = TAMSIL_RX_MIN_FRAME;
  }
  rxcp->frag_index = tamsil_ringNext(a, rxcp->frag_index, rxo->rxq.len);
  if (vmk_PktFrameLenSet(pkt, len) != VMK_OK) {
    tamsil_statInc(rxo->rx_pkt_service_drops);
    pktDrop(pkt, inPanic);
    return nullptr;
  }
  return pkt;
}

// One completion: counters, drop rules, checksum and VLAN marks, hand-over.
void tamsil_rxComplProcess(Adapter* a, tamsil_rxo* rxo, RxCompletion* rxcp, vmk_Bool toList, vmk_PktList* list) {
  const bool inPanic = toList != 0;
  tamsil_statInc(rxo->rx_compl);
  tamsil_statInc(rxo->rx_pkts);
  tamsil_statAdd(rxo->rx_bytes, rxcp->pkt_size);
  switch (rxcp->cast) {
    case 0: tamsil_statInc(rxo->rx_ucast_pkts); break;
    case 1: tamsil_statInc(rxo->rx_mcast_pkts); break;
    case 2: tamsil_statInc(rxo->rx_bcast_pkts); break;
    default: tamsil_statInc(rxo->rx_rsvd_pkts); break;
  }
  if (rxcp->tunneled) tamsil_statInc(rxo->vxlan_rx_pkts);

  if (rxcp->num_frags == 0) return;  // the flush completion
  if (rxcp->num_frags > 1) {
    tamsil_statInc(rxo->rx_multi_frag_drops);
    complDiscard(a, rxo, rxcp, inPanic);
    return;
  }
  if (rxcp->pkt_size == 0) {
    complDiscard(a, rxo, rxcp, inPanic);
    return;
  }
  if (rxcp->err) {
    tamsil_statInc(rxo->rx_compl_err);
    complDiscard(a, rxo, rxcp, inPanic);
    return;
  }
  if (tamsil_hasTrait(a, TAMSIL_GT_RX_PORT_CHECK) && rxcp->port != a->port_num) {
    tamsil_statInc(rxo->rx_replicated_pkts);
    complDiscard(a, rxo, rxcp, inPanic);
    return;
  }

  vmk_PktHandle* pkt = tamsil_pktFillRxData(a, rxo, rxcp, inPanic);
  if (pkt == nullptr) return;

  if (a->dev_data_valid) {
    if (rxcp->tunneled) {
      if (rxcp->l4_csum_ok) {
        vmk_PktSetCsumVfd(pkt);
        // A descriptor word that cannot be had leaves the frame as a
        // shared descriptor does: verified, without the inner mark.
        vmk_uint32 w;
        if (vmk_PktIsBufDescWritable(pkt) && vmk_PktBufDescWordGet(pkt, kTunnelCsumWord, &w) == VMK_OK)
          vmk_PktBufDescWordSet(pkt, kTunnelCsumWord, w | VMK_PKT_BUFDESC_TUNNEL_CSUM_VFD);
      }
    } else if ((rxcp->tcp || rxcp->udp) && rxcp->l4_csum_ok && (rxcp->ip_csum_ok || rxcp->ipv6)) {
      vmk_PktSetCsumVfd(pkt);
    }
  }

  if (rxcp->vlan_present) {
    const vmk_uint16 id = rxcp->vlan_tag & 0xFFF;
    const vmk_uint8 prio = (vmk_uint8)(rxcp->vlan_tag >> 13);
    if (id == kVlanInvalid) {
      pktDrop(pkt, inPanic);
      TAMSIL_LOG_RATELIMITED("Invalid vtag %d, pkt dropped \n", (int)kVlanInvalid);
      return;
    }
    // A frame whose tag cannot be noted would reach the stack untagged,
    // in another VLAN than its own.
    if (vmk_PktVlanIDSet(pkt, id) != VMK_OK || vmk_PktPrioritySet(pkt, prio) != VMK_OK) {
      tamsil_statInc(rxo->rx_pkt_service_drops);
      pktDrop(pkt, inPanic);
      return;
    }
    TAMSIL_DBG(a, TAMSIL_DBG_RX, TAMSIL_LOG_LEVEL_INFO2, "Recvd pkt with vlan tag %u, with priority %u\n",
               (unsigned)id, (unsigned)prio);
  }

  if (__atomic_load_n(&rxo->quiesced, __ATOMIC_RELAXED) != 0) {
    tamsil_statInc(rxo->rx_pkts_on_quiesce);
    pktDrop(pkt, inPanic);
    return;
  }
  VMK_ReturnStatus st;
  if (toList) {
    st = vmk_PktListAppendPkt(list, pkt);
  } else if (__atomic_load_n(&a->io_started, __ATOMIC_ACQUIRE)) {
    const NetPollInfo* np = a->eqo[rxo->idx].netpoll;
    st = (np != nullptr && np->netpoll != nullptr) ? vmk_NetPollRxPktQueue(np->netpoll, pkt) : VMK_NOT_FOUND;
  } else {
    pktDrop(pkt, inPanic);
    return;
  }
  if (st != VMK_OK) {
    tamsil_statInc(rxo->rx_pkt_service_drops);
    pktDrop(pkt, inPanic);
  }
}

}  // namespace

/* ------------------------------------------------------------------------ */
/* Rings                                                                     */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_rxQueuesCreate(Adapter* a) {
  const vmk_uint32 V = a->num_vectors < TAMSIL_MAX_VECTORS ? a->num_vectors : TAMSIL_MAX_VECTORS;
  const vmk_uint32 R = a->res.max_rss_qs, D = a->res.max_drss_qs;
  const vmk_uint32 N = V > R + D ? V - R - D : 0;
  const bool rssConfigured = (a->features & TAMSIL_FEAT_RSS) != 0;
  for (vmk_uint32 i = 0; i < V; i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    rxo->adapter = a;
    if (tamsil_queueAlloc(a, &rxo->rxq, TAMSIL_RXQ_LEN, TAMSIL_RXQ_ENTRY_SIZE) != 0) {
      tamsil_rxQueuesDestroy(a);
      return 0xFFFFFFFFu;
    }
    vmk_uint32 rss;
    if (a->features & TAMSIL_FEAT_RSS_IF_FLAG)
      rss = (i == 0 && a->drss != 0) || i >= N;
    else
      rss = rssConfigured ? i > N : i >= N;
    if (i >= N) rxo->ring_type = (rssConfigured && i < N + R) ? 1 : 2;
    if (tamsil_cmdRxqCreateUseMcc(a, &rxo->rxq, rxo->cq.id, (vmk_uint16)a->rx_frag_size, a->max_frame, rxo->if_id,
                                  rss, &rxo->rss_id) != 0) {
      TAMSIL_ERR(a, "tamsil_cmdRxqCreateUseMcc failed for rx %d\n", (int)i);
      tamsil_rxQueuesDestroy(a);
      return 0xFFFFFFFFu;
    }
    void* t = tamsil_mpoolAlloc((vmk_uint64)TAMSIL_RXQ_LEN * sizeof(tamsil_fragInfo), &rxo->frag_info_size);
    if (t == nullptr) {
      TAMSIL_ERR(a, "frag_info_table allocation failed for rx %d\n", (int)i);
      tamsil_rxQueuesDestroy(a);
      return 0xFFFFFFFFu;
    }
    memset(t, 0, (size_t)TAMSIL_RXQ_LEN * sizeof(tamsil_fragInfo));
    rxo->frag_info_table = static_cast<tamsil_fragInfo*>(t);
    __atomic_store_n(&rxo->rx_post_starved, 0, __ATOMIC_RELAXED);
    TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Successfully setup Rx ring %d\n", (int)i);
    vmk_WorldYield();
  }
  return 0;
}

vmk_uint32 tamsil_rxQueuesDestroy(Adapter* a) {
  vmk_uint32 refused = 0;
  for (vmk_uint32 i = TAMSIL_MAX_VECTORS; i-- > 0;) {
    tamsil_rxo* rxo = &a->rxo[i];
    if (rxo->rxq.created) {
      if (noFlushCompletion(a) && rxo->frag_info_table != nullptr) {
        tamsil_rxCQClean(a, rxo);
        if (vmk_AtomicRead64(&rxo->rxq.used) == 0) tamsil_postRxFrags(rxo, TAMSIL_RX_POST_MAX);
      }
      if (tamsil_cmdRxqDestroy(a, &rxo->rxq) != 0) {
        TAMSIL_ERR(a, "tamsil_cmdRxqDestroy failed\n");
        refused++;
      }
      // The queue's memory goes below whatever the answer was: it is not
      // destroyed twice.
      rxo->rxq.created = 0;
      vmk_WorldSleep(kFlushWaitUs);
      if (rxo->frag_info_table != nullptr) {
        if (rxo->cq.created) tamsil_rxCQClean(a, rxo);
        tamsil_rxQClean(a, rxo);
      }
    }
    if (rxo->rxq.mem.va != nullptr) {
      tamsil_queueFree(a, &rxo->rxq);
      TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "releasing %d buffer\n", (int)i);
    }
    if (rxo->frag_info_table != nullptr) {
      tamsil_mpoolFree(rxo->frag_info_table, rxo->frag_info_size);
      rxo->frag_info_table = nullptr;
      rxo->frag_info_size = 0;
    }
  }
  return refused;
}

/* ------------------------------------------------------------------------ */
/* Posting                                                                   */
/* ------------------------------------------------------------------------ */

namespace {

void postRxFrags(tamsil_rxo* rxo, vmk_uint32 count, bool inPanic) {
  Adapter* a = rxo->adapter;
  if (a == nullptr || rxo->frag_info_table == nullptr || !rxo->rxq.created) return;
  // One poster at a time: the worker's retry of a starving ring may meet the
  // NetPoll's refill. The one that finds the ring taken leaves it to the
  // other, which posts (or marks the ring starving) itself.
  if (__atomic_exchange_n(&rxo->posting, 1u, __ATOMIC_ACQUIRE) != 0) return;
  postLocked(a, rxo, count < TAMSIL_RX_POST_MAX ? count : TAMSIL_RX_POST_MAX, inPanic);
  __atomic_store_n(&rxo->posting, 0u, __ATOMIC_RELEASE);
}

}  // namespace

void tamsil_postRxFrags(tamsil_rxo* rxo, vmk_uint32 count) { postRxFrags(rxo, count, false); }

void tamsil_rxRetryStarved(Adapter* a) {
  const vmk_uint32 V = a->num_vectors < TAMSIL_MAX_VECTORS ? a->num_vectors : TAMSIL_MAX_VECTORS;
  for (vmk_uint32 i = 0; i < V; i++) {
    tamsil_rxo* rxo = &a->rxo[i];
    const vmk_uint8 starved = __atomic_exchange_n(&rxo->rx_post_starved, 0, __ATOMIC_RELAXED);
    if (starved == 0) continue;
    TAMSIL_DBG(a, TAMSIL_DBG_WORKER, TAMSIL_LOG_LEVEL_INFO2, "tamsil workerThread rx_post_starved:0x%x\n", starved);
    tamsil_postRxFrags(rxo, TAMSIL_RX_POST_MAX);
  }
}

/* ------------------------------------------------------------------------ */
/* Completions                                                               */
/* ------------------------------------------------------------------------ */

RxCompletion* tamsil_rxComplGet(tamsil_rxo* rxo) {
  Adapter* a = rxo->adapter;
  QueueInfo* cq = &rxo->cq;
  if (cq->mem.va == nullptr) return nullptr;
  vmk_uint32* w = reinterpret_cast<vmk_uint32*>((vmk_uint8*)cq->mem.va + (vmk_uint32)cq->tail * TAMSIL_RXCQ_ENTRY_SIZE);
  // The device writes dword 2 last: an acquire read of it orders the rest.
  const vmk_uint32 d2 = __atomic_load_n(&w[2], __ATOMIC_ACQUIRE);
  if (d2 == 0) return nullptr;
  const vmk_uint32 d0 = w[0], d1 = w[1], d3 = w[3];
  RxCompletion* c = &rxo->rxcp;
  memset(c, 0, sizeof *c);
  c->vlan_tag = (vmk_uint16)(d0 & 0xFFFF);
  c->pkt_size = (vmk_uint16)((d0 >> 16) & 0x3FFF);
  c->err = d1 & 1;
  c->tcp = (d1 >> 3) & 1;
  c->udp = (d1 >> 4) & 1;
  c->ip_csum_ok = (d1 >> 5) & 1;
  c->l4_csum_ok = (d1 >> 6) & 1;
  c->ipv6 = (d1 >> 7) & 1;
  c->frag_index = (vmk_uint16)((d1 >> 16) & 0x3FF);
  c->num_frags = (vmk_uint8)((d1 >> 29) & 7);
  c->cast = (vmk_uint8)((d2 >> 1) & 3);
  c->vlan_keep = (d2 >> 3) & 1;
  c->rss_hash = (vmk_uint16)d3;
  if (a->cap_advanced_rx) {
    c->port = (vmk_uint8)((d2 >> 5) & 3);
    c->vlan_present = (d0 >> 30) & 1;
    c->tunneled = (d2 >> 30) & 1;
  } else {
    c->port = (d0 >> 30) & 1;
    c->vlan_present = (d1 >> 14) & 1;
  }
  if (c->vlan_present) {
    if (keepsTagOnlyWhenMarked(a->function_mode) && !c->vlan_keep) c->vlan_present = 0;
    if (tamsil_hasTrait(a, TAMSIL_GT_RX_VLAN_SWAPPED)) c->vlan_tag = (vmk_uint16)((c->vlan_tag >> 8) | (c->vlan_tag << 8));
    if ((c->vlan_tag & 0xFFF) == (a->pvid & 0xFFF)) c->vlan_present = 0;
  }
  __atomic_store_n(&w[2], 0u, __ATOMIC_RELAXED);
  tamsil_statSet(cq->tail, tamsil_ringNext(a, cq->tail, cq->len));
  return c;
}

tamsil_fragInfo* tamsil_getRxPfragInfo(Adapter* a, tamsil_rxo* rxo, vmk_uint16 index) {
  QueueInfo* q = &rxo->rxq;
  tamsil_fragInfo* fi = &rxo->frag_info_table[index & (TAMSIL_RXQ_LEN - 1)];
  if (index >= TAMSIL_RXQ_LEN || entryPkt(fi) == nullptr) {
    TAMSIL_ERR(a, "curr_idx=%d prev_dix=%d rxq->head=%d used: %lu\n", (int)index, (int)rxo->last_consumed,
               (int)q->head, (unsigned long)vmk_AtomicRead64(&q->used));
    rxRingStop(a, "tamsil_getRxPfragInfo", 2682);
  }
  vmk_SgElem m = {fi->bus_addr, fi->length, 0};
  vmk_DMAUnmapElem(a->dma_engine, VMK_DMA_DIRECTION_TO_MEMORY, &m);
  rxo->last_consumed = index;
  vmk_AtomicDec64(&q->used);
  return fi;
}

void tamsil_rxComplDiscard(Adapter* a, tamsil_rxo* rxo, RxCompletion* rxcp) { complDiscard(a, rxo, rxcp, false); }

vmk_uint32 tamsil_pollRx(Adapter* a, tamsil_rxo* rxo, vmk_uint32 budget, vmk_Bool toList, vmk_PktList* list) {
  if (budget == 0 || rxo->frag_info_table == nullptr) return 0;
  vmk_uint32 n = 0;
  while (n < budget) {
    RxCompletion* rxcp = tamsil_rxComplGet(rxo);
    if (rxcp == nullptr) break;
    n++;
    tamsil_rxComplProcess(a, rxo, rxcp, toList, list);
  }
  if (n != 0) {
    tamsil_cqNotify(a, rxo->cq.id, true, n);
    // The list form is the netdump poll's, in the panic context.
    if (vmk_AtomicRead64(&rxo->rxq.used) < TAMSIL_RX_REFILL_BELOW) postRxFrags(rxo, TAMSIL_RX_POST_MAX, toList != 0);
  }
  return n;
}

void tamsil_rxCQClean(Adapter* a, tamsil_rxo* rxo) {
  const vmk_uint32 polls = tamsil_traitsOf(a)->rx_flush_polls;
  vmk_uint32 empty = 0;
  for (;;) {
    RxCompletion* rxcp = tamsil_rxComplGet(rxo);
    if (rxcp == nullptr) {
      if (polls == 0) return;  // no flush completion comes
      if (++empty > polls || tamsil_hwError(a)) {
        TAMSIL_ERR(a, "rxcq-%d: did not receive flush compl\n", (int)rxo->idx);
        return;
      }
      tamsil_cqNotify(a, rxo->cq.id, true, 0);
      vmk_WorldSleep(kFlushWaitUs);
      continue;
    }
    complDiscard(a, rxo, rxcp, false);
    tamsil_cqNotify(a, rxo->cq.id, false, 1);
    if (rxcp->num_frags == 0) return;
  }
}

void tamsil_rxQClean(Adapter* a, tamsil_rxo* rxo) {
  QueueInfo* q = &rxo->rxq;
  if (rxo->frag_info_table == nullptr || q->len == 0) return;
  vmk_uint16 idx = (vmk_uint16)((q->len + q->head - (vmk_uint32)vmk_AtomicRead64(&q->used)) & (q->len - 1));
  for (vmk_uint32 k = 0; k < q->len && vmk_AtomicRead64(&q->used) != 0; k++) {
    tamsil_fragInfo* fi = tamsil_getRxPfragInfo(a, rxo, idx);
    vmk_PktHandle* pkt = entryPkt(fi);
    entryClear(fi);
    vmk_PktRelease(pkt);
    idx = tamsil_ringNext(a, idx, q->len);
  }
  if (vmk_AtomicRead64(&q->used) != 0) rxRingStop(a, "tamsil_rxQClean", 2961);
}

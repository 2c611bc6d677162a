// Event queues: their doorbells, the interrupt entry, host interrupt
// enabling and the NetPoll of every vector.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_statctr.h"

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
    tamsil_statSet(q->tail, (vmk_uint16)((q->tail + 1) & (q->len - 1)));
    __atomic_store_n(reinterpret_cast<vmk_uint32*>(e), 0u, __ATOMIC_RELAXED);
    popped++;
  }
  if (popped != 0) {
    if (!tamsil_hwError(a)) tamsil_eqNotify(a, q->id, arm, true, popped);
    tamsil_statAdd(eqo->event_count, popped);
  }
}

vmk_Bool tamsil_netPollCB(void* priv, vmk_uint32 budget) {
  NetPollInfo* np = static_cast<NetPollInfo*>(priv);
  Adapter* a = np->adapter;
  tamsil_rxo* rxo = np->rxo;
  vmk_uint32 i = rxo->idx;
  tamsil_eqClean(a, &a->eqo[i], false);
  // Transmit completions are reaped in full, receive ones within the budget.
  if (i < TAMSIL_MAX_VECTORS && a->txo[i].q.created) tamsil_pollTx(a, &a->txo[i], VMK_FALSE, VMK_FALSE);
  vmk_uint32 n = tamsil_pollRx(a, rxo, budget, VMK_FALSE, nullptr);
  if (i == 0) {
    tamsil_processMcc(a);
    tamsil_linkReportDeferred(a);
  }
  if (n >= budget && __atomic_load_n(&a->io_started, __ATOMIC_ACQUIRE)) {
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

/* ------------------------------------------------------------------------ */
/* Host interrupts                                                           */
/* ------------------------------------------------------------------------ */

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

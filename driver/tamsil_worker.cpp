// The worker world: once a second it refills receive rings that went
// without buffers, sums the ring statistics, reports a pending link change,
// checks the transceiver when an event asked for it, and runs error
// detection (tamsil_ue.cpp) and interrupt moderation.
#include "tamsil_cmds.h"
#include "tamsil_datapath.h"
#include "tamsil_statctr.h"

// Adaptive interrupt moderation: the delay of a busy event queue grows by
// 10 up to its maximum, that of a quiet one halves (to 0 once it is small).
// Changed delays go to the firmware eight to a command.
void tamsil_eqdUpdate(Adapter* a) {
  constexpr vmk_uint32 kBatch = 8;
  tamsil_EqDelay batch[kBatch];
  vmk_uint32 n = 0;
  const vmk_uint32 eqs = a->num_eq_delay < TAMSIL_MAX_VECTORS ? a->num_eq_delay : TAMSIL_MAX_VECTORS;
  for (vmk_uint32 i = 0; i < eqs; i++) {
    tamsil_eqo* eqo = &a->eqo[i];
    EqDelayState* d = &a->eq_delay[i];
    const vmk_uint64 count = __atomic_load_n(&eqo->int_count, __ATOMIC_RELAXED);
    // The rate is a statistics row too, read by the reports on other threads.
    vmk_uint64 ips = tamsil_statGet(eqo->ips);
    if (count >= d->prev_int_count) {
      ips = count - d->prev_int_count;
      tamsil_statSet(eqo->ips, ips);
      d->prev_int_count = count;
    }
    vmk_uint32 eqd;
    if (d->adaptive) {
      if (ips > 16000) {
        eqd = d->cur_eqd + 10 < d->max_eqd ? d->cur_eqd + 10 : d->max_eqd;
      } else if (ips >= 14000) {
        continue;
      } else {
        const vmk_uint32 half = d->cur_eqd / 2;
        eqd = half <= 9 ? 0 : (half < d->max_eqd ? half : d->max_eqd);
      }
      if (eqd < d->min_eqd) eqd = d->min_eqd;
    } else {
      eqd = d->static_eqd;
    }
    if (eqd == d->cur_eqd) continue;
    d->cur_eqd = eqd;
    batch[n++] = {eqo->q.id, eqd * 65 / 100};
    if (n == kBatch) {
      tamsil_cmdModifyEqd(a, batch, n);
      n = 0;
    }
  }
  if (n != 0) tamsil_cmdModifyEqd(a, batch, n);
}

// Rings left without a buffer get 64 more. Rings being rebuilt (a
// reconfiguration) are left to the rebuild. The worker announces itself
// before it looks at the quiesced bit, and quiesce sets that bit before it
// waits for the worker to leave: rings are never destroyed under a refill.
static void refillStarved(Adapter* a) {
  __atomic_add_fetch(&a->worker_posting, 1, __ATOMIC_SEQ_CST);
  if (!tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED) && !tamsil_flagTest(a, TAMSIL_FLAG_RECONFIG)) tamsil_rxRetryStarved(a);
  __atomic_sub_fetch(&a->worker_posting, 1, __ATOMIC_SEQ_CST);
}

void tamsil_workerRefillWait(Adapter* a) {
  while (__atomic_load_n(&a->worker_posting, __ATOMIC_SEQ_CST) != 0) vmk_WorldSleep(1000);
}

void tamsil_workerTick(Adapter* a) {
  tamsil_detectDumpUe(a);
  if (tamsil_flagTest(a, TAMSIL_FLAG_DEV_QUIESCED)) return;
  refillStarved(a);
  tamsil_updateStats(a);
  tamsil_linkReportDeferred(a);
  if (a->flags != nullptr && vmk_BitVectorAtomicTestAndClear(a->flags, TAMSIL_FLAG_SFP_CHECK)) tamsil_checkSFPs(a);
  tamsil_eqdUpdate(a);
}

VMK_ReturnStatus tamsil_workerThread(void* data) {
  Adapter* a = static_cast<Adapter*>(data);
  for (;;) {
    tamsil_workerTick(a);
    if (vmk_WorldWait(VMK_EVENT_NONE, VMK_LOCK_INVALID, 1000, "worker") == VMK_DEATH_PENDING) return VMK_OK;
  }
}

// The worker world: once a second it refills receive rings that went
// without buffers, sums the ring statistics, reports a pending link change,
// checks the transceiver when an event asked for it, and runs the hooks of
// error detection and interrupt moderation.
#include "tamsil_cmds.h"
#include "tamsil_datapath.h"

// Error detection and the recovery state machine come with recovery; the
// tick calls them at their place.
void tamsil_detectDumpUe(Adapter*) {}

// Adaptive interrupt moderation comes with recovery as well.
void tamsil_eqdUpdate(Adapter*) {}

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

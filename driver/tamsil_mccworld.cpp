// The MCC completion world: drains firmware completions while I/O is
// quiesced and is woken for them otherwise.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"

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

// The control path: the mailbox memory, the scratch buffer and the locks of
// the firmware command channel.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"

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
/* ------------------------------------------------------------------------ */
/* Control path                                                              */
/* ------------------------------------------------------------------------ */

void tamsil_ctrlCleanup(Adapter* a) {
  destroySpinlock(&a->mcc_compl_worker_lock);
  destroySpinlock(&a->mcc_compl_wait_lock);
  destroySpinlock(&a->mcc_cq_lock);
  destroySpinlock(&a->mcc_lock);
  destroySema(&a->mbox_lock);
  // A reset keeps the locks other threads may be waiting on: the reset's
  // own and the one the kernel's VF requests take.
  if (!tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) {
    destroySema(&a->pmac_lock);
    destroySema(&a->reset_lock);
  }
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
  if (!tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT)) {
    st = vmk_BinarySemaCreate(&a->pmac_lock, tamsilDriver.module_id, "pmac_lock for tamsil");
    if (st != VMK_OK) {
      a->pmac_lock = VMK_SEMAPHORE_INVALID;
      TAMSIL_ERR(a, "Failed to create pmac_lock semaphore, status: 0x%x\n", st);
      tamsil_ctrlCleanup(a);
      return st;
    }
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

// Start and quiesce of an uplink's I/O: the ordered sequences that bring the
// receive queues, interrupts, NetPolls and filters up and down.
#include "tamsil_datapath.h"

VMK_ReturnStatus tamsil_uplinkStartIO(Adapter*) { return VMK_NOT_SUPPORTED; }

VMK_ReturnStatus tamsil_uplinkQuiesceIO(Adapter*) { return VMK_NOT_SUPPORTED; }

VMK_ReturnStatus tamsil_quiesceIO(Adapter*) { return VMK_NOT_SUPPORTED; }

VMK_ReturnStatus tamsil_disableIntrs(Adapter* a) {
  for (vmk_uint32 i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++) {
    if (!a->rxo[i].intr_enabled) continue;
    if (a->intr_cookie[i] != VMK_INVALID_INTRCOOKIE) vmk_IntrDisable(a->intr_cookie[i]);
    a->rxo[i].intr_enabled = 0;
  }
  return VMK_OK;
}

VMK_ReturnStatus tamsil_syncIntrs(Adapter* a) {
  for (vmk_uint32 i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++)
    if (a->intr_cookie[i] != VMK_INVALID_INTRCOOKIE) vmk_IntrSync(a->intr_cookie[i]);
  return VMK_OK;
}

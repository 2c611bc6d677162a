// The receive path: receive rings, buffer posting, completion parsing and
// hand-over to the stack, the flush drain and the release of posted buffers.
//
// Not built yet: ring creation answers failure (so I/O does not start with
// rings that carry nothing), and the rest finds nothing to do.
#include "tamsil_datapath.h"

vmk_uint32 tamsil_rxQueuesCreate(Adapter* a) {
  TAMSIL_ERR(a, "Receive rings are not supported by this build\n");
  return 0xFFFFFFFFu;
}

void tamsil_rxQueuesDestroy(Adapter*) {}

void tamsil_postRxFrags(tamsil_rxo*, vmk_uint32) {}

vmk_uint32 tamsil_pollRx(Adapter*, tamsil_rxo*, vmk_uint32, vmk_Bool, vmk_PktList*) { return 0; }

RxCompletion* tamsil_rxComplGet(tamsil_rxo*) { return nullptr; }

tamsil_fragInfo* tamsil_getRxPfragInfo(Adapter*, tamsil_rxo*, vmk_uint16) { return nullptr; }

void tamsil_rxComplDiscard(Adapter*, tamsil_rxo*, RxCompletion*) {}

void tamsil_rxCQClean(Adapter*, tamsil_rxo*) {}

void tamsil_rxQClean(Adapter*, tamsil_rxo*) {}

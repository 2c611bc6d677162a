// The transmit path: packets to transmit entries and the doorbell, the
// reaping of transmit completions, the drain at quiesce, and netdump.
//
// Not built yet: transmit and netdump answer "not supported" and leave the
// packets with the caller; there is nothing to reap or drain.
#include "tamsil_datapath.h"

VMK_ReturnStatus tamsil_uplinkTx(Adapter*, vmk_PktList*) { return VMK_NOT_SUPPORTED; }

vmk_uint32 tamsil_pollTx(Adapter*, tamsil_txo*, vmk_Bool, vmk_Bool) { return 0; }

vmk_uint32 tamsil_txComplProcess(Adapter*, tamsil_txo*, vmk_uint16, vmk_Bool, vmk_Bool) { return 0; }

void tamsil_txComplClean(Adapter*) {}

VMK_ReturnStatus tamsil_panicTx(Adapter*, vmk_PktList*) { return VMK_NOT_SUPPORTED; }

VMK_ReturnStatus tamsil_panicPoll(Adapter*, vmk_PktList*) { return VMK_NOT_SUPPORTED; }

VMK_ReturnStatus tamsil_panicInfoGet(Adapter*, tamsil_panicInfo*) { return VMK_NOT_SUPPORTED; }

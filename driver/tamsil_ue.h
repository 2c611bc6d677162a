// Unrecoverable-error detection, the recovery state machine that rebuilds a
// Kalderstone or Veskarn adapter after a recoverable one, and the world
// that runs the rebuild.
#pragma once

#include "tamsil.h"

// tpe_state values (0: the adapter is not armed yet).
enum tamsil_tpeState : vmk_uint16 {
  TPE_UE_NONE = 1,      // watching for a UE
  TPE_UE_DETECTED = 2,  // UE seen, waiting to ask the firmware if it is recoverable
  TPE_UE_TPE = 3,       // recoverable: waiting to soft-reset the chip
  TPE_UE_SR = 4,        // soft reset issued, waiting to poll for ready
  TPE_UE_RP = 5,        // polling for firmware ready
  TPE_UE_REINIT = 6,    // firmware ready: the re-initialisation world rebuilds
};

// Names of the UE status bits (log lines only), by bit number.
extern const char* const tamsil_ueStatusLoDesc[32];
extern const char* const tamsil_ueStatusHiDesc[32];

// The lock the re-initialisation world's wake-up uses, created at attach
// before the world. Stop ends the world and frees the lock; harmless when
// neither exists.
VMK_ReturnStatus tamsil_tpeLockCreate(Adapter* adapter);
void tamsil_tpeWorldStop(Adapter* adapter);
// Wakes the re-initialisation world (the detector, after moving to
// TPE_UE_REINIT). A wake-up that comes before the world sleeps is not lost.
void tamsil_tpeReInitWake(Adapter* adapter);
// Test seam: when set, the world calls it between its look at tpe_state and
// taking the wake-up lock, the moment a wake-up would be lost without the lock.
extern void (*tamsil_tpeReInitRaceHook)(Adapter* adapter);

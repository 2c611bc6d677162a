// Firmware readiness: the POST wait and the Pivard ready-and-reset wait; the
// Pivard port's own reset and dump request.
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"

/* ------------------------------------------------------------------------ */
/* Firmware readiness                                                        */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_cmdPOST(Adapter* a) {
  for (unsigned sleeps = 0;;) {
    vmk_uint32 v = tamsil_csrRead32(a, 0xAC);
    if (v & 0x80000000u) {
      TAMSIL_ERR(a, "POST error; stage=0x%x\n", v & 0xFFFFu);
      return VMK_FAILURE;
    }
    if ((v & 0xFFFFu) == 0xC000u) return VMK_OK;
    if (vmk_WorldSleep(2000000) != VMK_OK) {
      TAMSIL_ERR(a, "POST cmd aborted\n");
      return VMK_WAIT_INTERRUPTED;
    }
    if (++sleeps >= 20) {
      TAMSIL_ERR(a, "POST timeout; stage=0x%x\n", v & 0xFFFFu);
      return VMK_FAILURE;
    }
  }
}

VMK_ReturnStatus tamsil_waitPivardReady(Adapter* a) {
  // Thirty reads one second apart; the thirtieth sleep ends the wait.
  for (unsigned sleeps = 0;;) {
    if (tamsil_dbRead32(a, 0x404) & (1u << 23)) return VMK_OK;
    vmk_WorldSleep(1000000);
    if (++sleeps == 30) return VMK_TIMEOUT;
  }
}

VMK_ReturnStatus tamsil_testAndSetPivardReadyState(Adapter* a) {
  VMK_ReturnStatus st = tamsil_waitPivardReady(a);
  if (st == VMK_OK) {
    vmk_uint32 v = tamsil_dbRead32(a, 0x404);
    bool err = (v & 0x80000000u) != 0, reset = (v & 0x01000000u) != 0;
    if (err && reset) {
      tamsil_dbWrite32(a, 0x408, 0x08000000u);
      st = tamsil_waitPivardReady(a);
      st = (st == VMK_OK && (tamsil_dbRead32(a, 0x404) & 0x81000000u) == 0) ? VMK_OK : VMK_FAILURE;
    } else if (err || reset) {
      st = VMK_FAILURE;
    }
  }
  if (st != VMK_OK) TAMSIL_ERR(a, "Pivard Adapter in non recoverable error\n");
  return st;
}

VMK_ReturnStatus tamsil_firmwareWaitReady(Adapter* a) { return tamsil_opsOf(a)->waitReady(a); }

vmk_uint32 tamsil_pivardResetFunction(Adapter* a) {
  VMK_ReturnStatus st = tamsil_firmwareWaitReady(a);
  if (st == VMK_OK) {
    tamsil_dbWrite32(a, TAMSIL_DB_PIV_CONTROL, TAMSIL_PIV_PORT_RESET);
    st = tamsil_testAndSetPivardReadyState(a);
  }
  if (st != VMK_OK) TAMSIL_CERR(a, "Pivard Adapter in non recoverable error");
  return st;
}

VMK_ReturnStatus tamsil_pivardPortReset(Adapter* a) {
  tamsil_dbWrite32(a, TAMSIL_DB_PIV_CONTROL, TAMSIL_PIV_PORT_RESET);
  return tamsil_waitPivardReady(a);
}

void tamsil_pivardDumpRequest(Adapter* a) {
  TAMSIL_CERR(a, "Generate Pivard firmware dump");
  tamsil_dbWrite32(a, TAMSIL_DB_PIV_PHYDEV_CTRL, TAMSIL_PIV_DUMP_REQUEST);
}

void tamsil_uplinkWatchdogSet(Adapter* a, vmk_uint32 ms) {
  if (a->uplink != nullptr) vmk_UplinkWatchdogTimeoutSet(a->uplink, ms);
}

// The firmware keeps bit 30 of the physical-device control register set while
// it writes the dump. A firmware that never clears it must not hold the
// caller (a management request) for ever: the wait ends after as long as the
// watchdog allows for the dump.
void tamsil_generatePivardDump(Adapter* a) {
  constexpr vmk_uint32 kMaxPolls = 30000;  // 1 ms each
  if (__atomic_load_n(&a->hw_error, __ATOMIC_RELAXED) || __atomic_load_n(&a->fw_timeout, __ATOMIC_RELAXED) ||
      tamsil_flagTest(a, TAMSIL_FLAG_TPE_REINIT))
    return;
  tamsil_uplinkWatchdogSet(a, 30000);
  TAMSIL_DBG(a, TAMSIL_DBG_MCC, TAMSIL_LOG_LEVEL_INFO, "GeneratePivardDump called for %s\n", a->pci_name);
  tamsil_dbWrite32(a, TAMSIL_DB_PIV_PHYDEV_CTRL, TAMSIL_PIV_DUMP_REQUEST);
  vmk_uint32 count = 0;
  while ((tamsil_dbRead32(a, TAMSIL_DB_PIV_PHYDEV_CTRL) & (1u << 30)) != 0 && count < kMaxPolls) {
    vmk_WorldSleep(1000);
    count++;
  }
  TAMSIL_DBG(a, TAMSIL_DBG_MCC, TAMSIL_LOG_LEVEL_INFO, "tamsil_generatePivardDump count = %d\n\n", (int)count);
  if (count == kMaxPolls) TAMSIL_ERR(a, "Firmware dump still in progress after %u ms, not waiting longer\n", kMaxPolls);
  tamsil_uplinkWatchdogSet(a, 5000);
}

// Unrecoverable-error (UE) detection, once per worker tick, and recovery.
//
// Pivard reports an error in its port status and is recovered at once by a
// full reset. Kalderstone and Veskarn report a UE in PCI configuration space;
// when driver and firmware both support it and the firmware marks the error
// recoverable, the chip is soft-reset and, once its firmware is ready again,
// the re-initialisation world rebuilds the adapter. Every time limit is
// measured against the moment the UE was seen, on the worker's ticks: the
// worker never sleeps for the machine, so statistics and moderation keep
// their pace. Any refusal takes the normal UE path: hw_error stays set and
// the adapter waits for a reset.
#include "tamsil_ue.h"

#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_hw.h"

const char* const tamsil_ueStatusLoDesc[32] = {
    "CEV",    "CTX",     "DBUF",    "ERX",     "Host",        "MPU",         "NDMA",       "PTC ",
    "RDMA ",  "RXF ",    "RXIPS ",  "RXULP0 ", "RXULP1 ",     "RXULP2 ",     "TIM ",       "TPOST ",
    "TPRE ",  "TXIPS ",  "TXULP0 ", "TXULP1 ", "UC ",         "WDMA ",       "TXULP2 ",    "HOST1 ",
    "P0_OB_LINK ", "P1_OB_LINK ", "HOST_GPIO ", "MBOX ", "AXGMAC0", "AXGMAC1", "JTAG", "MPU_INTPEND"};

const char* const tamsil_ueStatusHiDesc[32] = {
    "LPCMEMHOST", "MGMT_MAC", "PCS0ONLINE", "MPU_IRAM", "PCS1ONLINE", "PCTL0",   "PCTL1",   "PMEM",
    "RR",         "TXPB",     "RXPP",       "XAUI",     "TXP",        "ARM",     "IPC",     "HOST2",
    "HOST3",      "HOST4",    "HOST5",      "HOST6",    "HOST7",      "HOST8",   "HOST9",   "NETC",
    "Unknown",    "Unknown",  "Unknown",    "Unknown",  "Unknown",    "Unknown", "Unknown", "Unknown"};

void (*tamsil_tpeReInitRaceHook)(Adapter*) = nullptr;

namespace {

constexpr vmk_uint32 kRecoverableMask = 0xF000;
constexpr vmk_uint32 kRecoverable = 0xE000;
constexpr vmk_uint32 kFwReady = 0xC000;
constexpr vmk_uint64 kReadyPollLimitMs = 35000;
constexpr vmk_uint32 kSoftResetBit = 0x80;
constexpr vmk_uint16 kUeStatusLo = 0xA0, kUeStatusHi = 0xA4;   // PCI configuration space

#define TPE_DBG(a, fmt, ...) TAMSIL_DBG((a), TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO, fmt, ##__VA_ARGS__)

vmk_uint16 tpeState(const Adapter* a) { return __atomic_load_n(&a->tpe_state, __ATOMIC_ACQUIRE); }
void setTpeState(Adapter* a, vmk_uint16 s) { __atomic_store_n(&a->tpe_state, s, __ATOMIC_RELEASE); }
void setHwError(Adapter* a) { __atomic_store_n(&a->hw_error, 1, __ATOMIC_RELEASE); }
vmk_uint32 portStatus(Adapter* a) { return tamsil_csrRead32(a, TAMSIL_CSR_POST); }

// Pivard: an error in the port status is recovered by a full reset, one at
// a time. A reset that fails leaves the recovery bit set: nothing more is
// tried until something else resets the adapter.
void detectPivard(Adapter* a) {
  const vmk_uint32 status = tamsil_dbRead32(a, TAMSIL_DB_PIV_STATUS);
  if ((status & 0x80000000u) == 0) return;
  setHwError(a);
  const vmk_uint32 err1 = tamsil_dbRead32(a, TAMSIL_DB_PIV_ERR1);
  const vmk_uint32 err2 = tamsil_dbRead32(a, TAMSIL_DB_PIV_ERR2);
  TAMSIL_ERR(a, "sliport status 0x%x\n", status);
  TAMSIL_ERR(a, "sliport error1 0x%x\n", err1);
  TAMSIL_ERR(a, "sliport error2 0x%x\n", err2);
  if (vmk_BitVectorAtomicTestAndSet(a->flags, TAMSIL_FLAG_PIVARD_RECOVERY)) {
    TPE_DBG(a, "Error recovery already going on, return\n");
    return;
  }
  if (tamsil_reset(a, 0) == VMK_OK) vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_PIVARD_RECOVERY);
}

void logUeBits(Adapter* a, vmk_uint32 lo, vmk_uint32 hi) {
  for (unsigned i = 0; i < 32; i++)
    if (lo & (1u << i)) TAMSIL_ERR(a, "UE lo: %s bit set\n", tamsil_ueStatusLoDesc[i]);
  for (unsigned i = 0; i < 32; i++)
    if (hi & (1u << i)) TAMSIL_ERR(a, "UE hi: %s bit set\n", tamsil_ueStatusHiDesc[i]);
}

// TPE_UE_NONE: looks for unmasked UE bits.
void stateNone(Adapter* a) {
  static const vmk_uint16 offs[2] = {kUeStatusLo, kUeStatusHi};
  vmk_uint32 v[2] = {0, 0};
  for (int i = 0; i < 2; i++) {
    const VMK_ReturnStatus st =
        vmk_PCIReadConfig(tamsilDriver.module_id, a->pci_device, VMK_PCI_CONFIG_ACCESS_32, offs[i], &v[i]);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Pci Cfg read error %d at offset %d\n", (int)st, (int)offs[i]);
      return;
    }
  }
  TPE_DBG(a, "ue_status_lo=0x%x  ue_status_hi=0x%x\n", v[0], v[1]);
  TPE_DBG(a, "ue_status_lo_mask=0x%x  ue_status_hi_mask=0x%x\n", a->ue_status_lo_mask, a->ue_status_hi_mask);
  const vmk_uint32 lo = v[0] & ~a->ue_status_lo_mask;
  const vmk_uint32 hi = v[1] & ~a->ue_status_hi_mask;
  TPE_DBG(a, "ue_status_lo=0x%x  ue_status_hi=0x%x\n", lo, hi);
  if (lo == 0 && hi == 0) return;

  a->ue_detect_ms = tamsil_nowMs();
  TAMSIL_ERR(a, "UE Detected!!\nue_status_lo=0x%x  ue_status_hi=0x%x\n", lo, hi);
  TPE_DBG(a, "UE Detected at %ld ms\n", (long)a->ue_detect_ms);
  logUeBits(a, lo, hi);

  a->link.link_up = 0;
  a->link.link_speed = 0;
  tamsil_updateUplinkLinkStatus(a, VMK_TRUE, VMK_FALSE);
  TPE_DBG(a, "Forcing Link Down as Unrecoverable Error detected in chip/fw\n");

  if (!a->tpe_requested || !a->tpe_supported) {
    setHwError(a);
    TPE_DBG(a, "TPE recovery: Driver and FW do not support TPE recovery. Taking normal UE path\n");
    return;
  }
  __atomic_store_n(&a->fw_timeout, 1, __ATOMIC_RELEASE);
  setTpeState(a, TPE_UE_DETECTED);
  TPE_DBG(a, "TPE detected: Driver and FW support TPE recovery. Moving to TPE_UE_DETECTED state\n");
}

// TPE_UE_DETECTED: after a second, asks the firmware whether the UE can be
// recovered, and whether the driver has been loaded long enough.
void stateDetected(Adapter* a) {
  const vmk_uint64 elapsed = tamsil_nowMs() - a->ue_detect_ms;
  TPE_DBG(a, "TPE detected: Time lapsed after UE Detected = %ld ms\n", (long)elapsed);
  if (elapsed <= 999) return;
  const vmk_uint32 ps = portStatus(a);
  TPE_DBG(a, "TPE detected: port_status = 0x%x\n", ps & 0xFFFFu);
  if ((ps & kRecoverableMask) != kRecoverable) {
    setHwError(a);
    TAMSIL_ERR(a, "TPE recovery: F/W indicated the UE is not recoverable (=0x%x). Taking normal UE path\n",
               ps & 0xFFFFu);
    return;
  }
  if (a->pf_num == 0) {
    const vmk_uint64 sinceLoad = a->ue_detect_ms - a->load_time_ms;
    // The gates are keys a management thread may set at any time.
    const vmk_uint16 minAfterLoad = __atomic_load_n(&a->tpe_min_after_load, __ATOMIC_RELAXED);
    if (sinceLoad < (vmk_uint64)minAfterLoad * 60000) {
      setHwError(a);
      TAMSIL_ERR(a,
                 "TPE detected @%ld mins after driver load. Minimum required time = %d mins. Taking normal UE path\n",
                 (long)(sinceLoad / 60000), (int)minAfterLoad);
      return;
    }
  }
  tamsil_uplinkWatchdogSet(a, 30000);
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_RECONFIG);
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_TPE_REINIT);
  setTpeState(a, TPE_UE_TPE);
  TPE_DBG(a, "TPE recovery: F/W indicated the UE is recoverable. Moving to TPE_UE_TPE state\n");
}

// TPE_UE_TPE: PF 0 soft-resets the chip once ue2sr has passed, unless the
// last recovery was too recent or handled the same error.
void stateTpe(Adapter* a) {
  if (a->pf_num != 0) {
    setTpeState(a, TPE_UE_SR);
    TPE_DBG(a, "Non Zero PF. Moving to TPE_UE_SR state\n");
    return;
  }
  const vmk_uint64 now = tamsil_nowMs();
  const vmk_uint64 elapsed = now - a->ue_detect_ms;
  TPE_DBG(a, "Time lapsed after UE Detected = %ld ms,  ue2sr = %d\n", (long)elapsed, (int)a->ue2sr);
  if (elapsed < a->ue2sr) return;
  const vmk_uint32 ps = portStatus(a);
  const vmk_uint16 code = (vmk_uint16)(ps & 0xFFFu);
  TPE_DBG(a, "port_status = 0x%x unique error code = 0x%x\n", ps, (unsigned)code);
  if (a->tpe_recoveries != 0) {
    const vmk_uint64 sinceLast = now - a->last_recovery_ms;
    const vmk_uint16 minBetween = __atomic_load_n(&a->tpe_min_between, __ATOMIC_RELAXED);
    if (sinceLast < (vmk_uint64)minBetween * 60000) {
      setHwError(a);
      TAMSIL_ERR(a,
                 "TPE detected @%ld mins from previous TPE Recovery. Minimum required time (=%d mins). Taking "
                 "normal UE path\n",
                 (long)(sinceLast / 60000), (int)minBetween);
      return;
    }
    if (code == a->last_tpe_code) {
      setHwError(a);
      TAMSIL_ERR(a, "TPE Code 0x%x same as last recovered error. Treating as UE and taking normal UE path\n",
                 (unsigned)code);
      return;
    }
  }
  // The recovery summary key reads it from a management thread.
  __atomic_store_n(&a->last_tpe_code, code, __ATOMIC_RELAXED);
  const vmk_uint32 sr = tamsil_pcicfgRead32(a, TAMSIL_PCICFG_SOFT_RESET);
  TPE_DBG(a, "pci_soft_reset = 0x%x\n", sr);
  TPE_DBG(a, "writing pci_soft_reset = 0x%x\n", sr | kSoftResetBit);
  vmk_MMIOWrite32((vmk_VA)(a->pcicfg_va) + TAMSIL_PCICFG_SOFT_RESET, sr | kSoftResetBit);
  setTpeState(a, TPE_UE_SR);
  TPE_DBG(a, "Invoked Chip Soft Reset\n");
  TPE_DBG(a, "Moving to TPE_UE_SR state\n");
}

// TPE_UE_SR: waits ue2rp since the UE before polling for ready.
void stateSoftReset(Adapter* a) {
  const vmk_uint64 elapsed = tamsil_nowMs() - a->ue_detect_ms;
  if (a->tpe_attempts++ % 4 == 0)
    TPE_DBG(a, "TPE recovery: Time lapsed after UE Detected = %ld ms,  ue2rp = %d\n", (long)elapsed, (int)a->ue2rp);
  if (elapsed >= a->ue2rp) {
    setTpeState(a, TPE_UE_RP);
    TPE_DBG(a, "Time for polling. Moving to TPE_UE_RP state\n");
  }
}

// TPE_UE_RP: the firmware must be ready within 35 s of the UE.
void stateReadyPoll(Adapter* a) {
  const vmk_uint64 elapsed = tamsil_nowMs() - a->ue_detect_ms;
  const vmk_uint32 ps = portStatus(a);
  if (a->tpe_attempts++ % 4 == 0)
    TPE_DBG(a, "TPE recovery: Time lapsed after UE Detected = %ld ms, port_status = 0x%x\n", (long)elapsed, ps);
  if (elapsed < kReadyPollLimitMs) {
    if ((ps & 0xFFFFu) == kFwReady) {
      setTpeState(a, TPE_UE_REINIT);
      TPE_DBG(a, "TPE recovery: Done with polling. f/w ready. Restart Initialization\n");
      tamsil_tpeReInitWake(a);
    }
    return;
  }
  setHwError(a);
  TAMSIL_ERR(a, "Timedout waiting for f/w Ready.Time lapsed after UE Detected >= 35s. Taking normal UE path\n");
}

VMK_ReturnStatus createLock(vmk_Lock* lock) {
  vmk_SpinlockCreateProps props;
  memset(&props, 0, sizeof props);
  props.moduleID = tamsilDriver.module_id;
  props.heapID = tamsilDriver.heap_id;
  vmk_NameInitialize(&props.name, "tamsil tpe");
  props.type = VMK_SPINLOCK;
  props.domain = VMK_LOCKDOMAIN_INVALID;
  props.rank = VMK_SPINLOCK_UNRANKED;
  return vmk_SpinlockCreate(&props, lock);
}

}  // namespace

void tamsil_detectDumpUe(Adapter* a) {
  if (tamsil_hwError(a)) return;
  if (a->asic_gen & TAMSIL_ASIC_PIVARD) {
    detectPivard(a);
    return;
  }
  if ((a->asic_gen & (TAMSIL_ASIC_KS2 | TAMSIL_ASIC_KS3 | TAMSIL_ASIC_VESKARN)) == 0) return;
  switch (tpeState(a)) {
    case TPE_UE_NONE: stateNone(a); break;
    case TPE_UE_DETECTED: stateDetected(a); break;
    case TPE_UE_TPE: stateTpe(a); break;
    case TPE_UE_SR: stateSoftReset(a); break;
    case TPE_UE_RP: stateReadyPoll(a); break;
    default: break;   // TPE_UE_REINIT belongs to the re-initialisation world
  }
}

/* ------------------------------------------------------------------------ */
/* Re-initialisation world                                                   */
/* ------------------------------------------------------------------------ */

// The world announces that it is about to sleep (tpe_wait = 1) before it
// looks at the state; a waker clears the announcement under tpe_lock before
// waking. The world sleeps only while, under the lock, the announcement
// still stands, so a state change made between its look and its sleep always
// brings it round again.
VMK_ReturnStatus tamsil_tpeReInitWorkerThread(void* data) {
  Adapter* a = static_cast<Adapter*>(data);
  const vmk_WorldEventID ev = (vmk_WorldEventID)&a->tpe_wait;
  for (;;) {
    __atomic_store_n(&a->tpe_wait, 1, __ATOMIC_SEQ_CST);
    if (tpeState(a) == TPE_UE_REINIT) {
      TPE_DBG(a, "TPE recovery: Reinit Start\n");
      setHwError(a);
      if (tamsil_reset(a, 1) == VMK_OK) {
        __atomic_add_fetch(&a->tpe_recoveries, 1, __ATOMIC_RELEASE);
        __atomic_store_n(&a->last_recovery_ms, tamsil_nowMs(), __ATOMIC_RELAXED);
        a->tpe_attempts = 0;
        setTpeState(a, TPE_UE_NONE);
        TPE_DBG(a, "TPE recovery: Reinit Successful\n");
      } else {
        // The reset cleared the error marks before it stopped: mark the
        // half-built adapter failed again, or commands and doorbells would
        // reach it.
        setHwError(a);
        TAMSIL_ERR(a, "TPE recovery: Reinit failed. Adapter in UE state\n");
      }
    }
    void (*hook)(Adapter*) = __atomic_load_n(&tamsil_tpeReInitRaceHook, __ATOMIC_ACQUIRE);
    if (hook != nullptr) hook(a);
    vmk_SPLock(a->tpe_lock);
    if (__atomic_load_n(&a->tpe_wait, __ATOMIC_SEQ_CST) == 0) {
      vmk_SPUnlock(a->tpe_lock);
      continue;
    }
    if (vmk_WorldWait(ev, a->tpe_lock, VMK_TIMEOUT_UNLIMITED_MS, "tpe reinit") == VMK_DEATH_PENDING) return VMK_OK;
  }
}

void tamsil_tpeReInitWake(Adapter* a) {
  if (a->tpe_lock == VMK_LOCK_INVALID) return;
  vmk_SPLock(a->tpe_lock);
  __atomic_store_n(&a->tpe_wait, 0, __ATOMIC_SEQ_CST);
  vmk_SPUnlock(a->tpe_lock);
  vmk_WorldWakeup((vmk_WorldEventID)&a->tpe_wait);
}

VMK_ReturnStatus tamsil_tpeLockCreate(Adapter* a) {
  const VMK_ReturnStatus st = createLock(&a->tpe_lock);
  if (st != VMK_OK) a->tpe_lock = VMK_LOCK_INVALID;
  return st;
}

void tamsil_tpeWorldStop(Adapter* a) {
  if (a->tpe_world != VMK_INVALID_WORLD_ID) {
    vmk_WorldDestroy(a->tpe_world);
    vmk_WorldWaitForDeath(a->tpe_world);
    a->tpe_world = VMK_INVALID_WORLD_ID;
  }
  if (a->tpe_lock != VMK_LOCK_INVALID) {
    vmk_SpinlockDestroy(a->tpe_lock);
    a->tpe_lock = VMK_LOCK_INVALID;
  }
}

// The full adapter reset: I/O and the device go down, the function is reset
// and everything the driver built on it (control path, queue set, uplink
// data, interrupts) is built again, then I/O comes back. The kernel asks for
// it through the uplink; the recovery paths start it themselves.
#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"

namespace {

constexpr vmk_uint32 kWatchdogResetMs = 60000;
constexpr vmk_uint32 kWatchdogNormalMs = 5000;

void stopMccWorld(Adapter* a) {
  if (a->mcc_worker_world == VMK_INVALID_WORLD_ID) return;
  vmk_WorldDestroy(a->mcc_worker_world);
  vmk_WorldWaitForDeath(a->mcc_worker_world);
  a->mcc_worker_world = VMK_INVALID_WORLD_ID;
}

// Builds the function again after the reset; false when a step failed (its
// message is logged).
bool reinit(Adapter* a) {
  VMK_ReturnStatus st = tamsil_ctrlInit(a);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Failed to initialize control path for device\n");
    return false;
  }
  if (tamsil_cmdFwInit(a) != 0) {
    TAMSIL_ERR(a, "f/w init failed\n");
    return false;
  }
  if (tamsil_statsInit(a) != 0) {
    TAMSIL_ERR(a, "Stats init failed\n");
    return false;
  }
  if (tamsil_getConfig(a) != VMK_OK) {
    TAMSIL_ERR(a, "Get config from f/w failed\n");
    return false;
  }
  if (tamsil_hasTrait(a, TAMSIL_GT_HOST_INTR)) tamsil_intrSet(a, 0);
  st = tamsil_intrSetup(a);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Error in allocing Interrupt vectors 0x%x\n", st);
    return false;
  }
  if (tamsil_setup(a) != 0) {
    TAMSIL_ERR(a, "Error in setting up ks controller\n");
    return false;
  }
  if (tamsil_createUplinkData(a) != VMK_OK) {
    TAMSIL_ERR(a, "Failed to create driver data for device\n");
    return false;
  }
  char flash[TAMSIL_FW_VERSION_LEN] = {0};
  tamsil_cmdGetFwVer(a, a->fw_version, flash);
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Device has firwware ver %s\n", a->fw_version);
  tamsil_updateDevData(a);
  if (tamsil_readUeMasks(a) != VMK_OK) return false;
  a->tpe_requested = 0;
  a->tpe_supported = 0;
  if (tpe_recovery) {
    a->tpe_requested = 1;
    tamsil_cmdSetUeRecovery(a);
  }
  if (a->tpe_requested && a->tpe_supported)
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Feature TPE is supported\n");
  else
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Feature TPE is not enabled\n");
  return true;
}

// The reset under reset_lock; *ran tells whether it did more than skip.
VMK_ReturnStatus resetLocked(Adapter* a, vmk_uint8 force, bool* ran) {
  vmk_SemaLock(&a->reset_lock);
  const bool pivardRecovery = tamsil_flagTest(a, TAMSIL_FLAG_PIVARD_RECOVERY);
  if (!force && !pivardRecovery) {
    if (tamsil_flagTest(a, TAMSIL_FLAG_IO_QUIESCED)) {
      TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "IO is already quiesced, Skip the Reset\n");
      vmk_SemaUnlock(&a->reset_lock);
      return VMK_OK;
    }
    if (tamsil_cardError(a)) {
      TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "adapter in Error State, Skip the Reset\n");
      vmk_SemaUnlock(&a->reset_lock);
      return VMK_OK;
    }
  }
  *ran = true;
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Starting re-init\n");
  tamsil_uplinkWatchdogSet(a, kWatchdogResetMs);
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_RECONFIG);
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_TPE_REINIT);
  a->reset_count++;
  // No management request may start while the locks and the mailbox are
  // rebuilt (a Pivard recovery does not quiesce the device).
  tamsil_mgmtGateSet(a, true);

  // I/O the kernel had stopped stays stopped: it starts it again itself.
  const bool wasQuiesced = vmk_BitVectorAtomicTestAndSet(a->flags, TAMSIL_FLAG_IO_QUIESCED);
  if (!wasQuiesced)
    tamsil_quiesceIO(a);
  else
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "IO is already quiesced, Skipping ..\n");
  // I/O the kernel never started has its rings all the same: no transmit
  // may be inside them when they are freed.
  tamsil_txDoorClose(a);
  if (!pivardRecovery) tamsil_quiesceDevice(a->device);
  tamsil_mgmtDrain(a);
  // The kernel's VF requests wait until the VFs are configured again.
  vmk_SemaLock(&a->pmac_lock);

  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Interrupts Cleanup\n");
  tamsil_intrCleanup(a);
  stopMccWorld(a);
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Issuing FLR\n");
  tamsil_cmdResetFunction(a);
  tamsil_clearReset(a);
  tamsil_statsCleanup(a);
  tamsil_ctrlCleanup(a);
  if (pivardRecovery || force) {
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "tamsil clearing all errors\n");
    __atomic_store_n(&a->hw_error, 0, __ATOMIC_RELEASE);
    __atomic_store_n(&a->fw_timeout, 0, __ATOMIC_RELEASE);
  }

  bool ok = reinit(a);
  if (ok) {
    VMK_ReturnStatus st = tamsil_startDevice(a->device);
    ok = st == VMK_OK;
    if (!ok) TAMSIL_ERR(a, "Device start failed: 0x%x\n", st);
  }
  // The function reset took the VFs' interfaces and MACs on every
  // generation: they are made again whatever reset the chip.
  if (ok && a->num_vfs > 0) {
    VMK_ReturnStatus st = tamsil_reconfigureVFs(a);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "configure_vfs failed status: 0x%x\n", st);
      ok = false;
    }
  }
  vmk_SemaUnlock(&a->pmac_lock);
  if (ok && !wasQuiesced) ok = tamsil_startIOResetLocked(a) == VMK_OK;

  if (!ok) {
    // Pivard's error path decides on a marked hardware error; elsewhere
    // the recovery is over.
    if (a->asic_gen == TAMSIL_ASIC_PIVARD)
      __atomic_store_n(&a->hw_error, 1, __ATOMIC_RELEASE);
    else
      vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_TPE_REINIT);
    tamsil_uplinkWatchdogSet(a, kWatchdogNormalMs);
    // The door stays closed: what the requests would use is not there.
    vmk_SemaUnlock(&a->reset_lock);
    TAMSIL_ERR(a, "%s: adapter reset failed\n", tamsil_devName(a));
    return VMK_FAILURE;
  }
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_RECONFIG);
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_TPE_REINIT);
  tamsil_uplinkWatchdogSet(a, kWatchdogNormalMs);
  tamsil_mgmtGateSet(a, false);
  vmk_SemaUnlock(&a->reset_lock);
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "%s: adapter reset successfully\n", tamsil_devName(a));
  return VMK_OK;
}

// `kernelAsked`: the kernel's uplink reset, which restores the queues and
// filters it holds once the operation returns; any other reset tells it.
VMK_ReturnStatus resetAdapter(Adapter* a, vmk_uint8 force, bool kernelAsked) {
  // The worker's tick reads the queue set the reset rebuilds: run from
  // another world, the reset has it stop first (before the lock, which the
  // worker's own error recovery takes) and start again afterwards.
  const bool worker = a->worker_world != VMK_INVALID_WORLD_ID;
  const bool stopWorker = worker && vmk_WorldGetID() != a->worker_world;
  if (stopWorker) tamsil_workerStop(a);
  bool ran = false;
  const VMK_ReturnStatus st = resetLocked(a, force, &ran);
  if (stopWorker) tamsil_workerStart(a);
  if (st == VMK_OK && ran && !kernelAsked && a->uplink != nullptr) vmk_UplinkQueuesResetNotify(a->uplink);
  return st;
}

}  // namespace

VMK_ReturnStatus tamsil_reset(Adapter* a, vmk_uint8 force) { return resetAdapter(a, force, false); }

VMK_ReturnStatus tamsil_uplinkReset(Adapter* a) {
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Driver uplinkReset\n");
  if (!tamsil_hasTrait(a, TAMSIL_GT_RESET_WITH_VFS) && a->num_vfs != 0) {
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2,
               "Skip the reset since VFs are enabled on that PF (num_vfs = %d)\n", (int)a->num_vfs);
    return VMK_OK;
  }
  return resetAdapter(a, 0, true);
}

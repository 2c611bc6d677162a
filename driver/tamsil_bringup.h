// Adapter bring-up, device life cycle, event queues and the uplink: the
// functions these files offer the rest of the driver and its tests.
#pragma once

#include "tamsil.h"
#include "vmk_uplink.h"

// Ring sizes of the queue set.
#define TAMSIL_EQ_LEN 1024
#define TAMSIL_EQE_SIZE 4
#define TAMSIL_CQ_LEN 1024
#define TAMSIL_CQE_SIZE 16
#define TAMSIL_TXQ_ENTRY_SIZE 16
#define TAMSIL_MCC_CQ_ENTRIES 256
#define TAMSIL_KERNEL_QUEUE_ASK 56
#define TAMSIL_DEFAULT_VXLAN_PORT 8472

// Control path (tamsil_ctrl.cpp).
VMK_ReturnStatus tamsil_ctrlInit(Adapter* adapter);
void tamsil_ctrlCleanup(Adapter* adapter);

// Configuration read and queue budget (tamsil_config.cpp).
VMK_ReturnStatus tamsil_getConfig(Adapter* adapter);
vmk_uint16 tamsil_getQCount(Adapter* adapter, vmk_int32* available, vmk_uint16 wanted, vmk_uint16 minimum,
                            const char* name);
void tamsil_setRssRings(Adapter* adapter, vmk_uint16 rss, vmk_uint16 drss);
vmk_uint32 tamsil_getMaxKernelAllowedQueues(Adapter* adapter, vmk_uint32 queues);

// Queue set (tamsil_queueset.cpp).
vmk_uint32 tamsil_queueAlloc(Adapter* adapter, QueueInfo* q, vmk_uint16 entries, vmk_uint16 entrySize);
void tamsil_queueFree(Adapter* adapter, QueueInfo* q);
vmk_uint32 tamsil_setup(Adapter* adapter);
vmk_uint32 tamsil_clear(Adapter* adapter);
vmk_uint32 tamsil_rxCQueuesCreate(Adapter* adapter);
void tamsil_rxCQueuesDestroy(Adapter* adapter);
void tamsil_txQueuesDestroy(Adapter* adapter);
void tamsil_mccQueuesDestroy(Adapter* adapter);
vmk_uint32 tamsil_clearReset(Adapter* adapter);
void tamsil_ifEqDestroy(Adapter* adapter);

// VXLAN set-up (tamsil_vxlan.cpp).
vmk_uint32 tamsil_vxlanSetup(Adapter* adapter);
void tamsil_vxlanClear(Adapter* adapter, vmk_uint8 freeNodes);
vmk_uint32 tamsil_setCommonProfileConfig(Adapter* adapter, vmk_uint16 port);

// Firmware readiness (tamsil_fwready.cpp).
VMK_ReturnStatus tamsil_firmwareWaitReady(Adapter* adapter);
VMK_ReturnStatus tamsil_cmdPOST(Adapter* adapter);
VMK_ReturnStatus tamsil_testAndSetPivardReadyState(Adapter* adapter);
VMK_ReturnStatus tamsil_waitPivardReady(Adapter* adapter);
// Pivard's function reset: ready wait, port reset, ready-and-reset wait.
vmk_uint32 tamsil_pivardResetFunction(Adapter* adapter);
// Resets the Pivard port alone and waits for it to be ready.
VMK_ReturnStatus tamsil_pivardPortReset(Adapter* adapter);
// Asks Pivard firmware for a dump (before the system stops).
void tamsil_pivardDumpRequest(Adapter* adapter);
// Asks Pivard firmware for a dump and waits, bounded, until it is written.
void tamsil_generatePivardDump(Adapter* adapter);
// The kernel's transmit watchdog time-out of the uplink, when there is one:
// 60000 ms while a reset or a ring rebuild runs, 30000 ms during a recovery
// or a dump, 5000 ms otherwise.
void tamsil_uplinkWatchdogSet(Adapter* adapter, vmk_uint32 ms);

// The MCC completion world (tamsil_mccworld.cpp).
VMK_ReturnStatus tamsil_processMccWorkerThread(void* data);
// Wakes the MCC completion world so that it polls at once.
void tamsil_mccWorkerWake(Adapter* adapter);

// The full reset (tamsil_reset.cpp): 0, or VMK_FAILURE when a step failed
// (the adapter is left unstarted, AdapterFlags bit 1 set; on Pivard
// hw_error is set, elsewhere bit 3 is cleared). Not forced and without a
// Pivard error recovery (bit 7) it does nothing while I/O is quiesced or
// the card is in error. Takes reset_lock.
VMK_ReturnStatus tamsil_reset(Adapter* adapter, vmk_uint8 force);
// The kernel's uplink reset: skipped (0) while VFs are enabled on a
// generation that keeps them apart from the reset.
VMK_ReturnStatus tamsil_uplinkReset(Adapter* adapter);

// Reads the UE mask words of configuration space (Kalderstone, Veskarn).
VMK_ReturnStatus tamsil_readUeMasks(Adapter* adapter);

// Worker and recovery worlds (tamsil_devlife.cpp), link update (tamsil_uplink.cpp).
VMK_ReturnStatus tamsil_workerThread(void* data);
// Stops the worker world and waits for its death; starts it again (when it
// is not running).
void tamsil_workerStop(Adapter* adapter);
VMK_ReturnStatus tamsil_workerStart(Adapter* adapter);
VMK_ReturnStatus tamsil_tpeReInitWorkerThread(void* data);
void tamsil_linkStatusUpdate(Adapter* adapter);

// SR-IOV sizing and enabling (tamsil_sriov.cpp).
VMK_ReturnStatus tamsil_sriovConfig(Adapter* adapter);
void tamsil_enableVFs(Adapter* adapter);
void tamsil_disableVFs(Adapter* adapter);
void tamsil_destroyVF(Adapter* adapter, vmk_uint32 vf);
VMK_ReturnStatus tamsil_registerVFs(Adapter* adapter);
VMK_ReturnStatus tamsil_configureVFs(Adapter* adapter);
// After a reset of the function: the VFs' interfaces, enables and MACs
// again, then their configuration.
VMK_ReturnStatus tamsil_reconfigureVFs(Adapter* adapter);
// VF devices and the kernel's VF requests (tamsil_sriov_vf.cpp).
// The kernel's VF configuration callback (vmk_PCIVFConfigCallback):
// `driverData` is the PF's Adapter, `op` a VMK_NETPTOP_VF_* code.
VMK_ReturnStatus tamsil_configVFOpsCB(vmk_AddrCookie driverData, vmk_uint32 op, void* params);
// Sets (enable 1) or removes the port VLAN of VF `vf`; `prio` is only logged.
VMK_ReturnStatus tamsil_setVFVLAN(Adapter* adapter, vmk_uint8 enable, vmk_uint16 vf, vmk_uint16 vid, vmk_uint8 prio);
// Empties VF `vf`'s VLAN filter (untagged frames pass); the channel status.
vmk_uint32 tamsil_clearVFVLANTags(Adapter* adapter, vmk_uint32 vf);
// The operation of each registered VF device: the kernel removes it.
VMK_ReturnStatus tamsil_removeVFDevice(vmk_PCIDevice vf);

// Event queues, doorbells, interrupt entry, host interrupts and NetPoll
// (tamsil_eventq.cpp).
void tamsil_intrSet(Adapter* adapter, vmk_uint8 enable);
void tamsil_cqNotify(Adapter* adapter, vmk_uint16 cqId, vmk_Bool arm, vmk_uint32 popped);
void tamsil_eqNotify(Adapter* adapter, vmk_uint16 eqId, vmk_Bool arm, vmk_Bool clearInt, vmk_uint32 popped);
vmk_Bool tamsil_eventPeek(QueueInfo* q);
void tamsil_isr(void* handlerData, vmk_IntrCookie cookie);
VMK_ReturnStatus tamsil_intAck(void* handlerData, vmk_IntrCookie cookie);
void tamsil_eqClean(Adapter* adapter, tamsil_eqo* eqo, vmk_Bool arm);
vmk_Bool tamsil_netPollCB(void* priv, vmk_uint32 budget);
VMK_ReturnStatus tamsil_createUplinkNetPoll(Adapter* adapter, vmk_ServiceID service, vmk_uint32 index);
void tamsil_netPollDisableFlushAndEnable(Adapter* adapter, vmk_uint32 index);

// Device life cycle and interrupt resources.
VMK_ReturnStatus tamsil_attachDevice(vmk_Device device);
VMK_ReturnStatus tamsil_scanDevice(vmk_Device device);
VMK_ReturnStatus tamsil_detachDevice(vmk_Device device);
VMK_ReturnStatus tamsil_quiesceDevice(vmk_Device device);
VMK_ReturnStatus tamsil_startDevice(vmk_Device device);
void tamsil_forgetDevice(vmk_Device device);
VMK_ReturnStatus tamsil_removeUplinkDevice(vmk_Device device);
// A management request runs between these. Enter refuses with VMK_BUSY
// while the device is quiesced (AdapterFlags bit 5) or being detached;
// quiesce and detach wait until every request that entered has left.
// A full reset closes the door too, for its whole length.
VMK_ReturnStatus tamsil_mgmtEnter(Adapter* adapter);
void tamsil_mgmtLeave(Adapter* adapter);
// Closes (refuses new requests) or opens the door of a reset.
void tamsil_mgmtGateSet(Adapter* adapter, bool closed);
// Waits, at most 36 s, until no management request is inside.
void tamsil_mgmtDrain(Adapter* adapter);
// Maps one BAR into `field` and records it in `rec`.
VMK_ReturnStatus tamsil_mapResource(Adapter* adapter, vmk_uint8 bar, tamsil_barMap* rec, void** field);
vmk_uint32 tamsil_unmapBars(Adapter* adapter);
VMK_ReturnStatus tamsil_setupWOL(Adapter* adapter, vmk_uint8 enable);
VMK_ReturnStatus tamsil_intrSetup(Adapter* adapter);
VMK_ReturnStatus tamsil_msixEnable(Adapter* adapter);
VMK_ReturnStatus tamsil_INTxEnable(Adapter* adapter);
void tamsil_intrCleanup(Adapter* adapter);
VMK_ReturnStatus tamsil_registerInterrupts(Adapter* adapter);
VMK_ReturnStatus tamsil_registerMSIxInterrupts(Adapter* adapter);
VMK_ReturnStatus tamsil_registerINTxInterrupts(Adapter* adapter);
VMK_ReturnStatus tamsil_freeInterrupts(Adapter* adapter);
VMK_ReturnStatus tamsil_displayVersions(Adapter* adapter);
void tamsil_updateDevData(Adapter* adapter);
vmk_uint16 tamsil_getRoceVecShare(Adapter* adapter, vmk_uint16 eventQueues);
const char* tamsil_asicRevName(vmk_uint8 rev, char out[3]);

// Uplink registration, shared data and capabilities.
VMK_ReturnStatus tamsil_createUplinkData(Adapter* adapter);
VMK_ReturnStatus tamsil_cleanupUplinkData(Adapter* adapter);
VMK_ReturnStatus tamsil_updateUplinkLinkStatus(Adapter* adapter, vmk_Bool forceDown, vmk_Bool defer);
void tamsil_updateCableType(Adapter* adapter);
void tamsil_cmdUpdatePhyInfo(Adapter* adapter);
VMK_ReturnStatus tamsil_uplinkAssociate(vmk_AddrCookie driverData, vmk_Uplink uplink);
VMK_ReturnStatus tamsil_uplinkDisassociate(vmk_AddrCookie driverData);
VMK_ReturnStatus tamsil_uplinkStateSet(vmk_AddrCookie driverData, vmk_uint32 state);
VMK_ReturnStatus tamsil_uplinkCapEnable(vmk_AddrCookie driverData, vmk_uint32 cap);
VMK_ReturnStatus tamsil_uplinkCapDisable(vmk_AddrCookie driverData, vmk_uint32 cap);
VMK_ReturnStatus tamsil_coalesceParamsGet(vmk_AddrCookie driverData, vmk_UplinkCoalesceParams* params);
VMK_ReturnStatus tamsil_coalesceParamsSet(vmk_AddrCookie driverData, vmk_UplinkCoalesceParams* params);
VMK_ReturnStatus tamsil_linkWOLGet(vmk_AddrCookie driverData, vmk_UplinkWolState* state);
VMK_ReturnStatus tamsil_linkWOLSet(vmk_AddrCookie driverData, vmk_UplinkWolState* state);
VMK_ReturnStatus tamsil_pauseParamGet(vmk_AddrCookie driverData, vmk_UplinkPauseParams* params);
VMK_ReturnStatus tamsil_pauseParamSet(vmk_AddrCookie driverData, vmk_UplinkPauseParams params);
VMK_ReturnStatus tamsil_vxlanPortUpdate(vmk_AddrCookie driverData, vmk_uint16 portNBO);
extern const vmk_UplinkOps tamsilUplinkOps;
extern const vmk_UplinkCoalesceParamsOps tamsilCoalesceParamsOps;
extern const vmk_UplinkWOLOps tamsilLinkWolOps;
extern const vmk_UplinkPauseParamsOps tamsilPauseParamsOps;
extern const vmk_UplinkEncapOffloadOps tamsilEncapOffloadOps;

// Adapter flag helpers.
static inline bool tamsil_flagTest(const Adapter* a, vmk_uint32 bit) {
  return a->flags != nullptr && vmk_BitVectorTest(a->flags, bit);
}

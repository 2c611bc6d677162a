// The data path: receive and transmit rings, their completions, the start
// and quiesce of I/O, the driver-internal queue operations and netdump. The
// entry points the receive path (tamsil_rx.cpp), the transmit path
// (tamsil_tx.cpp), I/O start and quiesce (tamsil_io.cpp) and the queue
// operations (tamsil_queueset.cpp, tamsil_uplink.cpp) offer each other.
#pragma once

#include "tamsil.h"
#include "tamsil_bringup.h"
#include "vmk_uplink.h"

/* ------------------------------------------------------------------------ */
/* Ring sizes and marks                                                      */
/* ------------------------------------------------------------------------ */

#define TAMSIL_RXQ_LEN 1024
#define TAMSIL_RXQ_ENTRY_SIZE 8          // receive descriptor: address high, address low
#define TAMSIL_RXCQ_ENTRY_SIZE 16
#define TAMSIL_RX_POST_MAX 64            // buffers per post call, one doorbell each
#define TAMSIL_RX_REFILL_BELOW 960       // a poll refills when fewer are posted
#define TAMSIL_RX_MIN_FRAME 60           // runts are padded to this
#define TAMSIL_TXCQ_ENTRY_SIZE 16
#define TAMSIL_TX_STOP_RESERVE 30        // queue stops when fewer entries would be left
#define TAMSIL_TX_RESTART_BELOW (TAMSIL_TXQ_LEN / 2)
#define TAMSIL_TX_MAX_FRAME 9032         // largest frame without segmentation
#define TAMSIL_NETDUMP_RX_BUDGET 64

// Receive-queue doorbell: queue id bits 0-9, count posted bits 24-31.
static inline vmk_uint32 tamsil_rxqDoorbell(vmk_uint16 qid, vmk_uint32 posted) {
  return (qid & 0x3FFu) | ((posted & 0xFFu) << 24);
}
// Transmit doorbell: queue id bits 0-10, entries added bits 16-29.
static inline vmk_uint32 tamsil_txqDoorbell(vmk_uint16 qid, vmk_uint32 entries) {
  return (qid & 0x7FFu) | ((entries & 0x3FFFu) << 16);
}

/* ------------------------------------------------------------------------ */
/* Uplink queue ids                                                          */
/* ------------------------------------------------------------------------ */

// A queue id carries its type (1 receive, 2 transmit) above the 32-bit
// value, and the value is the index of the queue's qData record: receive
// queues 0..M-1, transmit queues M..M+T-1.
#define TAMSIL_QTYPE_UPLINK_RX 1u
#define TAMSIL_QTYPE_UPLINK_TX 2u
static inline vmk_uint64 tamsil_mkQueueId(vmk_uint32 type, vmk_uint32 value) {
  return ((vmk_uint64)type << 32) | value;
}
static inline vmk_uint32 tamsil_queueIdVal(vmk_uint64 qid) { return (vmk_uint32)qid; }
static inline vmk_uint32 tamsil_queueIdType(vmk_uint64 qid) { return (vmk_uint32)(qid >> 32); }

// qData flags and state.
#define TAMSIL_QDATA_ALLOCATED 0x1u
#define TAMSIL_QDATA_DEFAULT 0x2u
#define TAMSIL_QDATA_STOPPED 0u
#define TAMSIL_QDATA_STARTED 1u
#define TAMSIL_QUEUE_FEAT_PAIR 0x2u

/* ------------------------------------------------------------------------ */
/* Receive path (tamsil_rx.cpp)                                              */
/* ------------------------------------------------------------------------ */

// Creates the receive queue of every vector in index order; 0 or all ones
// (every queue is destroyed again on failure).
vmk_uint32 tamsil_rxQueuesCreate(Adapter* adapter);
// Destroys every receive queue, last index first, and releases its buffers;
// answers how many destroy commands the firmware refused.
vmk_uint32 tamsil_rxQueuesDestroy(Adapter* adapter);
// Posts up to min(count, 64) buffers to the ring. Safe against a concurrent
// call for the same ring (the second leaves the posting to the first).
void tamsil_postRxFrags(tamsil_rxo* rxo, vmk_uint32 count);
// The worker's retry of starving rings, once per tick while I/O is not
// quiesced: every ring marked starving loses the mark and gets 64 buffers.
void tamsil_rxRetryStarved(Adapter* adapter);
// Processes up to `budget` completions; with `toList` the packets go to
// `list` (netdump), else to the vector's NetPoll. Returns the number processed.
vmk_uint32 tamsil_pollRx(Adapter* adapter, tamsil_rxo* rxo, vmk_uint32 budget, vmk_Bool toList, vmk_PktList* list);
// Takes the next valid completion, decoded into rxo->rxcp; NULL when none.
RxCompletion* tamsil_rxComplGet(tamsil_rxo* rxo);
tamsil_fragInfo* tamsil_getRxPfragInfo(Adapter* adapter, tamsil_rxo* rxo, vmk_uint16 index);
void tamsil_rxComplDiscard(Adapter* adapter, tamsil_rxo* rxo, RxCompletion* rxcp);
// Drains the completion ring up to the flush completion.
void tamsil_rxCQClean(Adapter* adapter, tamsil_rxo* rxo);
// Releases every buffer still posted.
void tamsil_rxQClean(Adapter* adapter, tamsil_rxo* rxo);

/* ------------------------------------------------------------------------ */
/* Transmit path (tamsil_tx.cpp)                                             */
/* ------------------------------------------------------------------------ */

// The uplink's transmit operation: the packets of one transmit queue.
VMK_ReturnStatus tamsil_uplinkTx(Adapter* adapter, vmk_PktList* pktList);
// Reaps every transmit completion of the queue; returns the number reaped.
vmk_uint32 tamsil_pollTx(Adapter* adapter, tamsil_txo* txo, vmk_Bool inPanic, vmk_Bool releaseInPanic);
vmk_uint32 tamsil_txComplProcess(Adapter* adapter, tamsil_txo* txo, vmk_uint16 lastIndex, vmk_Bool inPanic,
                                 vmk_Bool releaseInPanic);
// Drains every transmit queue at quiesce, then frees what the adapter did
// not complete.
void tamsil_txComplClean(Adapter* adapter);
// The transmit door: closed, transmits are refused (busy) and the call
// returns once none is inside a ring any more; opened by start I/O.
void tamsil_txDoorClose(Adapter* adapter);
void tamsil_txDoorOpen(Adapter* adapter);

// Stop and start of one transmit queue towards the kernel (txo index), kept
// with the shared data writer protocol in tamsil_uplink.cpp.
void tamsil_stopTxQueue(Adapter* adapter, vmk_uint32 txIndex, vmk_uint32 level);
void tamsil_startTxQueue(Adapter* adapter, vmk_uint32 txIndex, vmk_uint32 level);
bool tamsil_isTxQueueStopped(Adapter* adapter, vmk_uint32 txIndex);

/* ------------------------------------------------------------------------ */
/* Netdump (tamsil_tx.cpp)                                                   */
/* ------------------------------------------------------------------------ */

// What the kernel needs to poll the device while it panics.
struct tamsil_panicInfo {
  vmk_IntrCookie intrCookie;
  vmk_AddrCookie clientData;
};

VMK_ReturnStatus tamsil_panicTx(Adapter* adapter, vmk_PktList* pktList);
VMK_ReturnStatus tamsil_panicPoll(Adapter* adapter, vmk_PktList* pktList);
VMK_ReturnStatus tamsil_panicInfoGet(Adapter* adapter, tamsil_panicInfo* info);

// The netdump capability's operation table (kernel driver data: the Adapter).
struct tamsil_netDumpOps {
  VMK_ReturnStatus (*panicTx)(vmk_AddrCookie driverData, vmk_PktList* pktList);
  VMK_ReturnStatus (*panicPoll)(vmk_AddrCookie driverData, vmk_PktList* pktList);
  VMK_ReturnStatus (*panicInfoGet)(vmk_AddrCookie driverData, tamsil_panicInfo* info);
};
extern const tamsil_netDumpOps tamsilNetDumpOps;

/* ------------------------------------------------------------------------ */
/* I/O start and quiesce (tamsil_io.cpp)                                     */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_uplinkStartIO(Adapter* adapter);
// Start I/O for a caller that holds `reset_lock` (the full reset): a failed
// start quiesces again without taking the lock.
VMK_ReturnStatus tamsil_startIOResetLocked(Adapter* adapter);
VMK_ReturnStatus tamsil_uplinkQuiesceIO(Adapter* adapter);
// The uplink quiesce for a caller that holds `reset_lock`.
VMK_ReturnStatus tamsil_quiesceIOResetLocked(Adapter* adapter);
VMK_ReturnStatus tamsil_quiesceIO(Adapter* adapter);
// The MTU change (tamsil_mtu.cpp): 0, VMK_BAD_PARAM out of range, or
// VMK_FAILURE; a new buffer size rebuilds the receive rings.
VMK_ReturnStatus tamsil_uplinkMTUSet(Adapter* adapter, vmk_uint32 mtu);
VMK_ReturnStatus tamsil_changeRxBufSize(Adapter* adapter, vmk_uint32 mtu, vmk_uint32 fragSize, vmk_uint32 maxFrame);
// Administrative link up/down and forced speed.
VMK_ReturnStatus tamsil_linkStatusSet(Adapter* adapter, const vmk_LinkStatus* status);
VMK_ReturnStatus tamsil_disableIntrs(Adapter* adapter);
VMK_ReturnStatus tamsil_syncIntrs(Adapter* adapter);

/* ------------------------------------------------------------------------ */
/* Shared data and link report (tamsil_uplink.cpp)                           */
/* ------------------------------------------------------------------------ */

// The shared data area's writer protocol: lock, first version counter,
// write, second counter, unlock.
void tamsil_sharedDataBegin(Adapter* adapter);
void tamsil_sharedDataEnd(Adapter* adapter);

// The part of a link change that may not run inside the completion drain:
// the report to the kernel and the stop or start of the transmit queues.
// Run by the worker's tick, vector 0's NetPoll and start I/O.
void tamsil_linkReportDeferred(Adapter* adapter);
#define TAMSIL_LINK_TX_NONE 0u
#define TAMSIL_LINK_TX_START 1u
#define TAMSIL_LINK_TX_STOP 2u

/* ------------------------------------------------------------------------ */
/* Driver-internal queue operations (tamsil_queueops.cpp)                    */
/* ------------------------------------------------------------------------ */

#define TAMSIL_RSS_KEY_LEN 40
#define TAMSIL_RSS_TABLE_LEN 128

// First RSS ring (L = vectors - RSS rings - DRSS rings).
vmk_uint32 tamsil_rssLeadingRing(const Adapter* adapter);
const vmk_uint8* tamsil_rssKey(void);
// Default-queue allocation: features 0x24 asks for the RSS leading queue.
VMK_ReturnStatus tamsil_allocRxQueue(Adapter* adapter, vmk_uint32 features, vmk_uint64* qid, vmk_NetPoll* netpoll);
VMK_ReturnStatus tamsil_allocTxQueue(Adapter* adapter, vmk_uint64* qid);
VMK_ReturnStatus tamsil_activateRxQueue(Adapter* adapter, vmk_uint64 qid);
// A transmit queue (txo index) with fewer free entries than a packet may
// need is not started.
bool tamsil_txNearlyFull(const Adapter* adapter, vmk_uint32 txIndex);
// Start (1) or stop (0) every allocated transmit queue.
void tamsil_startStopTxQueues(Adapter* adapter, vmk_uint8 start);
VMK_ReturnStatus tamsil_vlanPromiscuousConfig(Adapter* adapter, vmk_uint8 on);
// RSS on the RSS queue (first = leading ring) or DRSS on the default queue
// (first = 0).
VMK_ReturnStatus tamsil_configureRss(Adapter* adapter, vmk_uint16 first);
vmk_uint32 tamsil_applyPivardIfFilters(Adapter* adapter);
vmk_uint32 tamsil_removePivardIfFilters(Adapter* adapter);
vmk_uint32 tamsil_forceRemoveRxFilter(Adapter* adapter);
// Releases one NIC reference: 0 none held, 1 still used, 2 no user left.
vmk_uint32 tamsil_pmacTableDel(Adapter* adapter, vmk_uint32 index, vmk_uint8* nic, vmk_uint8* rdma, vmk_uint32* queue);
void tamsil_pmacTableReset(Adapter* adapter);

/* ------------------------------------------------------------------------ */
/* Worker (tamsil_worker.cpp)                                                */
/* ------------------------------------------------------------------------ */

// One tick of the worker world (the world waits a second between ticks).
void tamsil_workerTick(Adapter* adapter);
// Waits until no refill of the worker runs (with I/O marked quiesced, none
// starts again).
void tamsil_workerRefillWait(Adapter* adapter);
// Error detection (built with recovery) and adaptive interrupt moderation.
void tamsil_detectDumpUe(Adapter* adapter);
void tamsil_eqdUpdate(Adapter* adapter);

// Firmware command channel and command builders.
//
// Every function returns a channel status (tamsil_hw.h): 0 for success, the
// firmware status byte when the firmware refused, or one of the TAMSIL_CH_*
// codes. Response fields are copied to the caller only on status 0.
#pragma once

#include <cstdint>

#include "tamsil.h"
#include "tamsil_cmds_types.h"
#include "tamsil_hw.h"

// Timeout of a sleeping command, in milliseconds.
constexpr uint32_t TAMSIL_MCC_WAIT_MS = 36000;
// Pivard write-object requests through the pass-through.
constexpr uint32_t TAMSIL_MCC_WAIT_LONG_MS = 300000;

// One page of a queue-create page list.
struct tamsil_PhysAddr {
  uint32_t lo;
  uint32_t hi;
};

// ---------------------------------------------------------------------------
// Channel
// ---------------------------------------------------------------------------

// Header and WRB set-up; the WRB must be zeroed. `dma` NULL: embedded.
void tamsil_cmdHdrPrepare(WrbContext* ctx, uint8_t subsystem, uint8_t opcode,
                          uint32_t length, MccWrb* wrb, DmaBuffer* dma);
// Next MCC ring entry, zeroed; NULL when none can be taken. Caller holds
// mcc_lock.
MccWrb* tamsil_wrbFromMccq(Adapter* adapter, WrbContext** ctxOut);
// Mailbox WRB, zeroed, with the mailbox context pointed at it; NULL on card
// error. Caller holds mbox_lock.
MccWrb* tamsil_wrbFromMbox(Adapter* adapter, WrbContext** ctxOut);
void tamsil_mccNotify(Adapter* adapter);
uint32_t tamsil_mccNotifyWait(Adapter* adapter);
uint32_t tamsil_asyncWorldWait(Adapter* adapter, Request_Header* header,
                               WrbContext* ctx, uint32_t timeoutMs,
                               const char* label);
uint32_t tamsil_mboxNotifyWait(Adapter* adapter);
uint32_t tamsil_mboxDbReadyWait(Adapter* adapter);
uint32_t tamsil_processMcc(Adapter* adapter);
// Evaluates a completion for its wait record (NULL: the completion names
// none) and returns its status.
uint32_t tamsil_mccComplProcess(Adapter* adapter, MccCompletion* compl_, WrbContext* ctx);

// Closes the MCC channel where it really ends (detach, and after a function
// or chip reset): no command is taken any more, every sleeping waiter is
// woken with `status` (TAMSIL_CH_GONE at detach; at a reset it reads 1 in
// its response header), and the call returns once no thread is inside a
// command of either carrier. The caller then frees the rings.
void tamsil_mccClose(Adapter* adapter, uint32_t status);
// Closes the mailbox after its last command; open takes commands again.
void tamsil_mboxClose(Adapter* adapter);
void tamsil_mboxOpen(Adapter* adapter);
// A new MCC queue: fresh wait records (generations go on) and both
// carriers open.
void tamsil_mccOpen(Adapter* adapter);
// Gives back the buffers that timed-out commands left in their slots, now
// that the device can no longer write them (deviceQuiet), or quarantines
// them. Returns how many there were.
uint32_t tamsil_mccKeptRelease(Adapter* adapter, bool deviceQuiet);
void tamsil_asyncMccEnable(Adapter* adapter);
void tamsil_asyncMccDisable(Adapter* adapter);
uint32_t tamsil_cmdPageAddrsPrepare(Adapter* adapter, tamsil_PhysAddr* pages,
                                    uint32_t maxPages, DmaBuffer* buf);
uint16_t tamsil_encodedQLen(uint32_t entries);

// Forces an unrecoverable error so the firmware keeps a post-mortem dump.
void tamsil_generateUE(Adapter* adapter);

// ---------------------------------------------------------------------------
// Queue, interface and configuration commands (mailbox)
// ---------------------------------------------------------------------------

enum tamsil_QType : uint32_t {
  TAMSIL_QTYPE_EQ = 1,
  TAMSIL_QTYPE_CQ = 2,
  TAMSIL_QTYPE_TXQ = 3,
  TAMSIL_QTYPE_RXQ = 4,
  TAMSIL_QTYPE_MCCQ = 5,
};

uint32_t tamsil_cmdFwInit(Adapter* adapter);
uint32_t tamsil_cmdFwClean(Adapter* adapter);
uint32_t tamsil_cmdResetFunction(Adapter* adapter);
// The function reset command (the reset of generations without a port reset).
uint32_t tamsil_mboxResetFunction(Adapter* adapter);
uint32_t tamsil_cmdQueryFwCfg(Adapter* adapter);
bool tamsil_isSupportedASIC(Adapter* adapter);
uint32_t tamsil_cmdCheckFunctionCap(Adapter* adapter);
uint32_t tamsil_cmdGetCntlAttributes(Adapter* adapter);
uint32_t tamsil_getConfigResources(Adapter* adapter);
uint32_t tamsil_cmdGetFuncConfig(Adapter* adapter, ResourceLimits* limits);
uint32_t tamsil_cmdGetProfileConfigMbox(Adapter* adapter, uint8_t domain,
                                        uint8_t query, DmaBuffer* buf);
uint32_t tamsil_cmdGetProfileConfigMccq(Adapter* adapter, uint8_t domain,
                                        uint8_t query, DmaBuffer* buf);
uint32_t tamsil_cmdGetProfileConfig(Adapter* adapter, uint8_t domain,
                                    uint8_t query, ResourceLimits* limits);
uint32_t tamsil_cmdSetProfileConfig(Adapter* adapter, const void* desc,
                                    uint32_t bytes, uint32_t count,
                                    uint8_t version, uint8_t domain);
uint32_t tamsil_cmdSetSriovConfig(Adapter* adapter, uint16_t numVfs,
                                  const ResourceLimits* pf);
uint32_t tamsil_cmdGetActiveProfile(Adapter* adapter, uint16_t* profileId);
uint32_t tamsil_cmdGetAcpiWolCap(Adapter* adapter);
uint32_t tamsil_cmdIfCreate(Adapter* adapter, uint32_t capFlags,
                            uint32_t enFlags, const uint8_t* mac, bool noMac,
                            uint32_t* ifId, uint32_t* pmacId, uint8_t domain);
uint32_t tamsil_cmdIfDestroy(Adapter* adapter, uint32_t ifId, uint8_t domain);
uint32_t tamsil_cmdMacAddrQuery(Adapter* adapter, uint8_t* mac, uint8_t type,
                                bool permanent, uint32_t ifId);
uint32_t tamsil_cmdGetMacFromList(Adapter* adapter, uint8_t* mac, bool* flag,
                                  uint8_t domain);
uint32_t tamsil_getPermMac(Adapter* adapter, uint8_t* mac);
uint32_t tamsil_cmdIntrSet(Adapter* adapter, bool enable);
uint32_t tamsil_cmdEnableVF(Adapter* adapter, uint8_t domain);
uint32_t tamsil_cmdEqCreate(Adapter* adapter, QueueInfo* eq, uint32_t delayUs);
uint32_t tamsil_cmdCqCreate(Adapter* adapter, QueueInfo* cq, QueueInfo* eq,
                            bool solEvent, bool noDelay, uint32_t watermark);
// Creates a transmit ring bound to `cq`; `dbOffset` receives the offset of
// its doorbell in the doorbell BAR.
uint32_t tamsil_cmdTxqCreate(Adapter* adapter, QueueInfo* txq, QueueInfo* cq,
                             uint32_t ifId, uint32_t* dbOffset);
uint32_t tamsil_cmdMccqCreate(Adapter* adapter, QueueInfo* mccq, QueueInfo* cq);
uint32_t tamsil_cmdQDestroy(Adapter* adapter, QueueInfo* q, uint32_t type);
uint32_t tamsil_cmdRxqCreate(Adapter* adapter, QueueInfo* rxq, uint16_t cqId,
                             uint16_t fragSize, uint32_t maxFrame,
                             uint32_t ifId, uint32_t rss, uint8_t* rssId);
void tamsil_updateFromNicDesc(Adapter* adapter, const uint8_t* desc,
                              ResourceLimits* limits);
// EQ delay multiplier for a delay in microseconds.
uint32_t tamsil_eqDelayMultiplier(uint32_t delayUs);

// ---------------------------------------------------------------------------
// Runtime commands (MCC)
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdPmacAdd(Adapter* adapter, const uint8_t* mac, uint32_t ifId,
                           uint32_t* pmacId, uint8_t domain, uint32_t kind);
uint32_t tamsil_cmdPmacDel(Adapter* adapter, uint32_t ifId, uint32_t pmacId,
                           uint8_t domain);
uint32_t tamsil_cmdPmacDelV1(Adapter* adapter, uint32_t ifId, uint32_t pmacId,
                             uint8_t domain);
uint32_t tamsil_cmdPmacMigrate(Adapter* adapter, uint32_t srcIf,
                               uint32_t dstIf, uint32_t pmacId,
                               uint8_t domain);
uint32_t tamsil_cmdSetMacList(Adapter* adapter, const uint8_t* macs,
                              uint32_t count, uint8_t domain);
uint32_t tamsil_cmdAddIfQueueFilter(Adapter* adapter, const uint8_t* mac,
                                    uint32_t ifId, uint32_t* filterId,
                                    uint8_t domain, uint16_t queue);
uint32_t tamsil_cmdDelIfQueueFilter(Adapter* adapter, uint32_t ifId,
                                    uint32_t filterId, uint8_t domain);
uint32_t tamsil_cmdManageIfaceFiltersCreate(Adapter* adapter, uint8_t op,
                                            uint32_t tunnelIf,
                                            uint32_t tenantIf,
                                            const uint8_t* mac,
                                            uint32_t vxlanId,
                                            uint32_t* filterId);
uint32_t tamsil_cmdManageIfaceFiltersDelete(Adapter* adapter, uint32_t ifId,
                                            uint32_t filterId);
uint32_t tamsil_cmdVlanConfig(Adapter* adapter, uint32_t ifId,
                              const uint16_t* tags, uint32_t count,
                              uint8_t flag, bool promiscuous, uint8_t domain);
uint32_t tamsil_cmdRxfFilterConfig(Adapter* adapter, uint32_t ifId,
                                   uint32_t flagMask, uint32_t flags);
uint32_t tamsil_cmdConfigRSS(Adapter* adapter, uint32_t ifId,
                             uint16_t hashFlags, const uint8_t* key,
                             uint32_t keyBytes, const uint8_t* table,
                             uint32_t tableEntries);
uint32_t tamsil_cmdSetFlowControl(Adapter* adapter, uint32_t txPause,
                                  uint32_t rxPause);
uint32_t tamsil_cmdGetFlowControl(Adapter* adapter, uint32_t* txPause,
                                  uint32_t* rxPause);
uint32_t tamsil_cmdLinkStatusQuery(Adapter* adapter, uint8_t domain);
uint32_t tamsil_cmdGetPortSpeed(Adapter* adapter, uint8_t port,
                                uint16_t* first, uint16_t* second);
uint32_t tamsil_cmdGetPortSpeedAsync(Adapter* adapter, uint8_t port,
                                     uint16_t* first, uint16_t* second);
uint32_t tamsil_cmdSetPortSpeedV1(Adapter* adapter, uint8_t port,
                                  uint16_t speedCode);
uint32_t tamsil_cmdQueryPortName(Adapter* adapter, char* name);
uint32_t tamsil_cmdSetLogicalLinkProperties(Adapter* adapter, bool follow,
                                            bool up, bool flag3, bool flag4,
                                            uint8_t domain, uint8_t version);
uint32_t tamsil_setLogicalLinkProperties(Adapter* adapter, bool follow,
                                         bool up, bool flag3, bool flag4,
                                         uint8_t domain);
uint32_t tamsil_cmdSetQos(Adapter* adapter, uint32_t bandwidth,
                          uint8_t domain);
uint32_t tamsil_cmdSetHswConfig(Adapter* adapter, uint16_t pvid,
                                uint8_t domain, uint32_t ifId);
uint32_t tamsil_cmdGetFnPrivileges(Adapter* adapter, uint32_t* privileges,
                                   uint8_t domain);
uint32_t tamsil_cmdSetFnPrivileges(Adapter* adapter, uint32_t privileges,
                                   uint8_t domain);
uint32_t tamsil_cmdGetPhyInfo(Adapter* adapter);
uint32_t tamsil_cmdReadTransreceiverData(Adapter* adapter);
uint32_t tamsil_cmdEnableMagicWol(Adapter* adapter, const uint8_t* mac);
uint32_t tamsil_cmdGetFwVer(Adapter* adapter, char* version,
                            char* flashVersion);
uint32_t tamsil_cmdGetDieTemperature(Adapter* adapter);
uint32_t tamsil_cmdSetUeRecovery(Adapter* adapter);
uint32_t tamsil_cmdSetEmiCanceller(Adapter* adapter, uint32_t enable);
// One interrupt-delay record of tamsil_cmdModifyEqd.
struct tamsil_EqDelay {
  uint32_t eq_id;
  uint32_t multiplier;
};
uint32_t tamsil_cmdModifyEqd(Adapter* adapter, const tamsil_EqDelay* recs,
                             uint32_t count);
uint32_t tamsil_cmdReadObject(Adapter* adapter, DmaBuffer* buf,
                              uint32_t length, uint32_t offset,
                              const char* name, uint32_t* bytesRead,
                              uint32_t* eof);
uint32_t tamsil_cmdGetFwDumpLen(Adapter* adapter, uint32_t* length);
uint32_t tamsil_cmdGetFwDump(Adapter* adapter, uint32_t offset,
                             uint32_t length, void* out);
uint32_t tamsil_cmdDeleteObject(Adapter* adapter, const char* name);
uint32_t tamsil_cmdGetFatRegLen(Adapter* adapter, uint32_t* length);
// Copies at most `length` bytes of the firmware log into `out`.
uint32_t tamsil_cmdGetFatRegs(Adapter* adapter, uint32_t offset,
                              uint32_t length, void* out);
uint32_t tamsil_cmdGetStats(Adapter* adapter);
uint32_t tamsil_cmdGetPportStats(Adapter* adapter);
uint32_t tamsil_cmdRxqCreateUseMcc(Adapter* adapter, QueueInfo* rxq,
                                   uint16_t cqId, uint16_t fragSize,
                                   uint32_t maxFrame, uint32_t ifId,
                                   uint32_t rss, uint8_t* rssId);
uint32_t tamsil_cmdRxqDestroy(Adapter* adapter, QueueInfo* rxq);
uint32_t tamsil_cmdGetVpdData(Adapter* adapter);
// Firmware pass-through from the management channel. `buf` holds the
// caller's Request_Header and payload and is `bufLen` bytes long; the
// answer is written back into it.
uint32_t tamsil_cmdPassthrough(Adapter* adapter, void* buf, uint32_t bufLen);

// ---------------------------------------------------------------------------
// Statistics block
// ---------------------------------------------------------------------------

// Size of the statistics block of the adapter's generation.
uint32_t tamsil_statsSize(Adapter* adapter);
uint32_t tamsil_statsInit(Adapter* adapter);
void tamsil_statsCleanup(Adapter* adapter);
void tamsil_parseStats(Adapter* adapter);
// Sums the rings' counters into the Adapter totals (worker tick).
void tamsil_updateStats(Adapter* adapter);
// True when this generation's block keeps the receive FIFO and input FIFO
// overflow counters in one word (the two named counters are the same drops).
bool tamsil_statsFifoOverflowShared(Adapter* adapter);
void tamsil_parseVpd(Adapter* adapter, const uint8_t* vpd, uint32_t len);
void tamsil_checkSFPs(Adapter* adapter);

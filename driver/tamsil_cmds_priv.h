// Private helpers shared by the command files: byte access at firmware
// offsets and the two command carriers (mailbox and MCC queue).
#pragma once

#include <cstdint>
#include <cstring>

#include "tamsil.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"

// Little-endian field access at a byte offset of a firmware record.
static inline void tamsil_put8(void* base, uint32_t off, uint8_t v) {
  static_cast<uint8_t*>(base)[off] = v;
}
static inline void tamsil_put16(void* base, uint32_t off, uint16_t v) {
  memcpy(static_cast<uint8_t*>(base) + off, &v, sizeof v);
}
static inline void tamsil_put32(void* base, uint32_t off, uint32_t v) {
  memcpy(static_cast<uint8_t*>(base) + off, &v, sizeof v);
}
static inline uint8_t tamsil_get8(const void* base, uint32_t off) {
  return static_cast<const uint8_t*>(base)[off];
}
static inline uint16_t tamsil_get16(const void* base, uint32_t off) {
  uint16_t v;
  memcpy(&v, static_cast<const uint8_t*>(base) + off, sizeof v);
  return v;
}
static inline uint32_t tamsil_get32(const void* base, uint32_t off) {
  uint32_t v;
  memcpy(&v, static_cast<const uint8_t*>(base) + off, sizeof v);
  return v;
}



// Speed (Mbps) of the link speed codes 0-7; 0 beyond.
uint32_t tamsil_speedFromCode(uint32_t code);

// ---------------------------------------------------------------------------
// One command in flight on either carrier.
// ---------------------------------------------------------------------------

enum tamsil_Wait : uint8_t {
  TAMSIL_WAIT_MBOX = 0,   // bootstrap mailbox
  TAMSIL_WAIT_POLL = 1,   // MCC, polled under mcc_lock
  TAMSIL_WAIT_SLEEP = 2,  // MCC, sleeping wait
  TAMSIL_WAIT_POST = 3,   // MCC, no wait
};

struct tamsil_Cmd {
  Adapter* adapter;
  MccWrb* wrb;
  WrbContext* ctx;
  Request_Header* hdr;
  uint8_t* p;  // payload (byte 16 of the command)
  DmaBuffer sge;
  DmaBuffer* buf;  // the SGE buffer in use (own or the caller's), or NULL
  bool has_sge;    // own SGE buffer to free
  tamsil_Wait wait;
  const char* label;
  uint32_t timeout_ms;
  uint32_t gen;     // generation of the command in its slot
  bool counted;     // counted in the Adapter's mcc_users
  // The wait ended before the completion: the slot kept the command buffer
  // (a caller's buffer descriptor was cleared), hdr and p are NULL and the
  // response must not be read.
  bool abandoned;
};

// Takes the carrier, allocates an SGE buffer of `sgeLen` bytes when that is
// non-zero (the command then lies in it), prepares the header for a command
// of `len` bytes. On failure nothing is held and the status is returned.
uint32_t tamsil_cmdBegin(Adapter* a, tamsil_Cmd* c, tamsil_Wait wait,
                         uint8_t subsystem, uint8_t opcode, uint32_t len,
                         uint32_t sgeLen, const char* label);
// As tamsil_cmdBegin, with the command laid in the caller's DMA buffer.
uint32_t tamsil_cmdBeginBuf(Adapter* a, tamsil_Cmd* c, tamsil_Wait wait,
                            uint8_t subsystem, uint8_t opcode, uint32_t len,
                            DmaBuffer* buf, const char* label);
// Rings and waits as the command's kind says; releases the carrier's lock.
uint32_t tamsil_cmdRun(tamsil_Cmd* c);
// Frees the SGE buffer (after the response was read) and leaves the channel.
void tamsil_cmdEnd(tamsil_Cmd* c);

// ---------------------------------------------------------------------------
// Services of the bring-up and uplink files that the channel calls.
// ---------------------------------------------------------------------------

void tamsil_cqNotify(Adapter* adapter, vmk_uint16 cqId, vmk_Bool arm, vmk_uint32 popped);
void tamsil_linkStatusUpdate(Adapter* adapter);
VMK_ReturnStatus tamsil_updateUplinkLinkStatus(Adapter* adapter, vmk_Bool forceDown, vmk_Bool defer);
VMK_ReturnStatus tamsil_firmwareWaitReady(Adapter* adapter);
VMK_ReturnStatus tamsil_testAndSetPivardReadyState(Adapter* adapter);

// Receive-queue create on the carrier `wait` names, shared by the mailbox and
// MCC forms.
uint32_t tamsil_rxqCreate(Adapter* a, tamsil_Wait wait, QueueInfo* rxq, uint16_t cqId, uint16_t fragSize,
                          uint32_t maxFrame, uint32_t ifId, uint32_t rss, uint8_t* rssId);

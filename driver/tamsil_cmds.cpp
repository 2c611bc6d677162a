// Firmware command channel: the bootstrap mailbox, the MCC ring, the three
// ways of waiting, completion and asynchronous-event processing.
#include "tamsil_cmds.h"

#include <cstdio>
#include <cstring>

#include "tamsil.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"
#include "tamsil_cmds_priv.h"
#include "tamsil_statctr.h"

// ---------------------------------------------------------------------------
// Small services
// ---------------------------------------------------------------------------

void tamsil_cmdStop(Adapter* a, const char* file, const char* check, int line) {
  (void)a;
  vmk_Panic("Unrecoverable error in tamsil at%s:%s - %d", file, check, line);
}

uint16_t tamsil_ringNext(Adapter* a, uint16_t i, uint16_t len) {
  if (len == 0 || (len & (len - 1)) != 0) tamsil_cmdStop(a, "tamsil", "tamsil_modulo", __LINE__);
  return static_cast<uint16_t>((i + 1) & (len - 1));
}

uint32_t tamsil_speedFromCode(uint32_t code) {
  static const uint32_t speeds[8] = {0, 10, 100, 1000, 10000, 20000, 25000, 40000};
  return code < 8 ? speeds[code] : 0;
}

static void setFwTimeout(Adapter* a) { __atomic_store_n(&a->fw_timeout, 1, __ATOMIC_RELEASE); }

// A completion queue entry with flags but no valid bit: the ring is corrupt.
[[noreturn]] static void complNotValid(Adapter* a, int line) {
  if (tamsil_opsOf(a)->ringDump != nullptr) tamsil_opsOf(a)->ringDump(a);
  tamsil_cmdStop(a, "tamsil_cmds", "tamsil_mccComplIsNew", line);
}

// A tag is the slot index (low word) and the generation of the command in
// that slot (high word, never 0). The wait record a tag names, or NULL when
// it names none; whether the command is still live is the caller's test.
static WrbContext* ctxFromTag(Adapter* a, uint32_t lo, uint32_t hi) {
  if (hi == 0) return nullptr;
  if (lo == TAMSIL_MCC_Q_LEN) return &a->mbox_ctx;
  if (lo > TAMSIL_MCC_Q_LEN) return nullptr;
  return &a->wrb_ctx[lo];
}

static uint32_t nextGen(Adapter* a) {
  uint32_t g = __atomic_add_fetch(&a->mcc_gen, 1, __ATOMIC_RELAXED);
  if (g == 0) g = __atomic_add_fetch(&a->mcc_gen, 1, __ATOMIC_RELAXED);
  return g;
}

static inline uint8_t ld8(const vmk_uint8* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
static inline void st8(vmk_uint8* p, uint8_t v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }

// A new command in a wait record.
static void slotArm(Adapter* a, WrbContext* ctx, uint16_t index, Request_Header* header) {
  ctx->header = header;
  ctx->quiet = 0;
  ctx->index = index;
  ctx->gen = nextGen(a);
  ctx->fail_status = 0;
  st8(&ctx->abandoned, 0);
  st8(&ctx->done, 0);
  st8(&ctx->outstanding, 1);
}

// A slot can take a new command only when nothing of the last one is left.
static bool slotBusy(const WrbContext* ctx) {
  return ld8(&ctx->wait_mcc_compl) || ld8(&ctx->outstanding) || ld8(&ctx->abandoned);
}

// ---------------------------------------------------------------------------
// Header and WRB
// ---------------------------------------------------------------------------

void tamsil_cmdHdrPrepare(WrbContext* ctx, uint8_t subsystem, uint8_t opcode,
                          uint32_t length, MccWrb* wrb, DmaBuffer* dma) {
  Request_Header* h = ctx->header;
  h->PageCode = opcode;
  h->subsystem = subsystem;
  h->request_length = length - TAMSIL_HDR_LEN;
  h->version = 0;
  wrb->tag_lo = ctx->index;
  wrb->tag_hi = ctx->gen;
  wrb->payload_length = length;
  if (dma == nullptr) {
    wrb->flags |= TAMSIL_WRB_EMBEDDED;
  } else {
    uint64_t pa = tamsil_dmaBusAddr(dma);
    wrb->flags |= 1u << TAMSIL_WRB_SGE_SHIFT;
    wrb->payload.sge[0].pa_lo = static_cast<uint32_t>(pa);
    wrb->payload.sge[0].pa_hi = static_cast<uint32_t>(pa >> 32);
    wrb->payload.sge[0].length = length;
  }
}

MccWrb* tamsil_wrbFromMccq(Adapter* a, WrbContext** ctxOut) {
  QueueInfo* q = &a->mcc_q;
  if (!q->created || q->mem.va == nullptr) {
    TAMSIL_CERR(a, "Cannot allocate WRBs since Mcc Q doesn't exist");
    return nullptr;
  }
  if (vmk_AtomicRead64(&q->used) >= q->len) {
    TAMSIL_CERR(a, "MCC Queue full. F/w  not responding");
    return nullptr;
  }
  if (tamsil_cardError(a)) {
    TAMSIL_LOG_RATELIMITED("Error in Card Detected! Cannot allocate WRBs hw_error:%d|fw_timeout:%d\n",
                           __atomic_load_n(&a->hw_error, __ATOMIC_RELAXED),
                           __atomic_load_n(&a->fw_timeout, __ATOMIC_RELAXED));
    return nullptr;
  }
  uint16_t idx = q->head;
  if (idx >= TAMSIL_MCC_Q_LEN) tamsil_cmdStop(a, "tamsil_cmds", "tamsil_wrbFromMccq", __LINE__);
  WrbContext* ctx = &a->wrb_ctx[idx];
  if (slotBusy(ctx)) {
    TAMSIL_CERR(a,
                "Unexpected Error, wrb context indicates MCC completion is pending. "
                "Cannot allocate WRBs");
    return nullptr;
  }
  tamsil_statSet(q->head, tamsil_ringNext(a, idx, q->len));
  vmk_AtomicInc64(&q->used);
  MccWrb* wrb = reinterpret_cast<MccWrb*>(static_cast<uint8_t*>(q->mem.va) +
                                          static_cast<uint32_t>(q->entry_size) * idx);
  memset(wrb, 0, sizeof *wrb);
  slotArm(a, ctx, idx, reinterpret_cast<Request_Header*>(wrb->payload.embedded));
  if (ctxOut != nullptr) *ctxOut = ctx;
  return wrb;
}

MccWrb* tamsil_wrbFromMbox(Adapter* a, WrbContext** ctxOut) {
  if (tamsil_cardError(a)) {
    TAMSIL_CERR(a, "Error in Card Detected! Cannot allocate WRB from Mail box");
    return nullptr;
  }
  if (ld8(&a->mbox_closed)) {
    TAMSIL_CERR(a, "Mailbox closed. Cannot allocate WRB from Mail box");
    return nullptr;
  }
  MccWrb* wrb = reinterpret_cast<MccWrb*>(a->mbox_va);
  memset(wrb, 0, sizeof *wrb);
  slotArm(a, &a->mbox_ctx, TAMSIL_MCC_Q_LEN, reinterpret_cast<Request_Header*>(wrb->payload.embedded));
  if (ctxOut != nullptr) *ctxOut = &a->mbox_ctx;
  return wrb;
}

// ---------------------------------------------------------------------------
// MCC doorbell and waits
// ---------------------------------------------------------------------------

void tamsil_mccNotify(Adapter* a) {
  if (tamsil_cardError(a)) {
    TAMSIL_CERR(a, "Error in Card Detected! Cannot issue MCC commands");
    return;
  }
  vmk_CPUMemFenceWrite();
  tamsil_dbWrite32(a, TAMSIL_DB_MCCQ, (a->mcc_q.id & 0x7FFu) | (1u << 16));
}

uint32_t tamsil_mccNotifyWait(Adapter* a) {
  QueueInfo* q = &a->mcc_q;
  uint16_t idx = static_cast<uint16_t>((q->head + q->len - 1) & (q->len - 1));
  MccWrb* wrb = reinterpret_cast<MccWrb*>(static_cast<uint8_t*>(q->mem.va) +
                                          static_cast<uint32_t>(q->entry_size) * idx);
  WrbContext* ctx = ctxFromTag(a, wrb->tag_lo, wrb->tag_hi);
  tamsil_mccNotify(a);
  for (uint32_t i = 0;; i++) {
    if (tamsil_cardError(a)) return TAMSIL_CH_IO_ERROR;
    tamsil_processMcc(a);
    // Finish on this command's own completion: other commands (sleeping
    // ones of other threads) may stay outstanding for much longer. The slot
    // cannot change hands while mcc_lock is held.
    if (ctx == nullptr) return TAMSIL_CH_IO_ERROR;
    if (ld8(&ctx->done)) return reinterpret_cast<Response_Header*>(ctx->header)->status;
    if (i >= 120000) break;
    vmk_DelayUsecs(100);
  }
  TAMSIL_CERR(a, "MCC poll timed out!");
  setFwTimeout(a);
  if (tamsil_opsOf(a)->timeoutDump != nullptr) tamsil_opsOf(a)->timeoutDump(a);
  return TAMSIL_CH_IO_ERROR;
}

// The waiter leaves before its completion came (time-out, card error, a
// closed channel). The device may still write the command buffer and the
// completion may still come: the slot keeps the buffer and frees it with
// that completion, or when the queue is torn down. False when the
// completion came first (the caller then owns its buffer as usual).
static bool slotAbandon(tamsil_Cmd* c) {
  Adapter* a = c->adapter;
  WrbContext* ctx = c->ctx;
  vmk_SPLock(a->mcc_compl_wait_lock);
  const bool completed = ld8(&ctx->done) != 0;
  if (!completed) {
    st8(&ctx->wait_mcc_compl, 0);
    if (c->buf != nullptr) {
      ctx->kept = *c->buf;
      if (c->buf == &c->sge)
        c->has_sge = false;
      memset(c->buf, 0, sizeof *c->buf);
    }
    st8(&ctx->abandoned, 1);
  }
  vmk_SPUnlock(a->mcc_compl_wait_lock);
  if (!completed) {
    c->abandoned = true;
    c->hdr = nullptr;
    c->p = nullptr;
  }
  return !completed;
}

// The sleeping wait. `sent` is the request header as it went out (the
// firmware may already have rewritten the one at `header`); the messages
// quote it.
static uint32_t sleepingWait(tamsil_Cmd* c, Request_Header* header, const Request_Header* sent) {
  Adapter* a = c->adapter;
  WrbContext* ctx = c->ctx;
  const char* label = c->label != nullptr ? c->label : "";
  char reason[80];
  snprintf(reason, sizeof reason, "Waiting for %s response", label);
  uint8_t opcode = sent->PageCode;
  uint8_t subsystem = sent->subsystem;
  uint32_t fwTimeout = sent->Timeout;
  uint32_t reqLen = sent->request_length;
  uint32_t slice = c->timeout_ms / 3;
  vmk_WorldEventID event = reinterpret_cast<vmk_WorldEventID>(&ctx->wait_mcc_compl);

  // The completion or a channel close ended the wait.
  auto ended = [&]() -> uint32_t {
    uint32_t fail = ctx->fail_status;
    if (fail == TAMSIL_CH_GONE) {
      slotAbandon(c);
      return fail;
    }
    return reinterpret_cast<Response_Header*>(header)->status;
  };

  for (uint32_t checkpoint = 1; checkpoint <= 3; checkpoint++) {
    uint64_t remaining = slice;
    for (;;) {
      vmk_SPLock(a->mcc_compl_wait_lock);
      if (!ctx->wait_mcc_compl) {
        vmk_SPUnlock(a->mcc_compl_wait_lock);
        return ended();
      }
      uint64_t t0 = tamsil_nowMs();
      VMK_ReturnStatus st = vmk_WorldWait(event, a->mcc_compl_wait_lock,
                                          static_cast<uint32_t>(remaining), reason);
      uint64_t elapsed = tamsil_nowMs() - t0;
      if (remaining <= elapsed || st == VMK_TIMEOUT || st == VMK_DEATH_PENDING) break;
      remaining -= elapsed;
    }
    if (tamsil_cardError(a)) {
      if (!slotAbandon(c)) return ended();
      TAMSIL_CERR(a, "%s: %s Error in card detected..Ignoring ioctl opcode: 0x%x, subsystem:0x%x",
                  a->pci_name, label, opcode, subsystem);
      return TAMSIL_CH_FAILURE;
    }
    TAMSIL_CERR(a,
                "%s: Checkpoint %d (%d sec) No resp for MCC cmd opcode: 0x%x, "
                "subsystem:0x%x,timeout:%d, req_len:%d",
                label, checkpoint, slice * checkpoint / 1000, opcode, subsystem, fwTimeout, reqLen);
    // A completion whose interrupt was lost is still found here.
    tamsil_processMcc(a);
  }
  vmk_SPLock(a->mcc_compl_wait_lock);
  const bool pending = ctx->wait_mcc_compl != 0;
  vmk_SPUnlock(a->mcc_compl_wait_lock);
  if (!pending || !slotAbandon(c)) return ended();
  TAMSIL_CERR(a, "%s: MCC cmd timed out. opcode: 0x%x, subsystem:0x%x, timeout:%d, req_len:%d",
              label, opcode, subsystem, fwTimeout, reqLen);
  setFwTimeout(a);
  tamsil_generateUE(a);
  return TAMSIL_CH_TIMEOUT;
}

uint32_t tamsil_asyncWorldWait(Adapter* a, Request_Header* header, WrbContext* ctx, uint32_t timeoutMs,
                               const char* label) {
  tamsil_Cmd c;
  memset(&c, 0, sizeof c);
  c.adapter = a;
  c.ctx = ctx;
  c.hdr = header;
  c.gen = ctx->gen;
  c.wait = TAMSIL_WAIT_SLEEP;
  c.label = label;
  c.timeout_ms = timeoutMs;
  Request_Header sent = *header;
  return sleepingWait(&c, header, &sent);
}

// ---------------------------------------------------------------------------
// Mailbox
// ---------------------------------------------------------------------------

static uint32_t mboxReadyTest(Adapter* a, bool* ready) {
  uint32_t v = tamsil_dbRead32(a, TAMSIL_DB_MBOX);
  if (v == 0xFFFFFFFFu) {
    TAMSIL_CERR(a, "pci slot disconnected");
    return TAMSIL_CH_MBOX_FAIL;
  }
  *ready = (v & TAMSIL_MBOX_DB_READY) != 0;
  return 0;
}

uint32_t tamsil_mboxDbReadyWait(Adapter* a) {
  if (tamsil_cardError(a)) return TAMSIL_CH_IO_ERROR;
  bool ready = false;
  uint32_t st = mboxReadyTest(a, &ready);
  if (st != 0) return st;
  if (ready) return 0;
  for (uint32_t i = 0; i < 12001; i++) {
    vmk_WorldSleep(1000);
    if (tamsil_cardError(a)) return TAMSIL_CH_IO_ERROR;
    st = mboxReadyTest(a, &ready);
    if (st != 0) return st;
    if (ready) return 0;
  }
  vmk_LogBacktraceMessage();
  TAMSIL_CERR(a, "Mailbox Poll timed out");
  setFwTimeout(a);
  return TAMSIL_CH_MBOX_FAIL;
}

uint32_t tamsil_mboxNotifyWait(Adapter* a) {
  uint64_t pa = a->mbox_bus_addr;
  TAMSIL_CDBG(a, 0x10, "Going to check Mbox ready");
  uint32_t st = tamsil_mboxDbReadyWait(a);
  if (st != 0) return st;
  vmk_CPUMemFenceWrite();
  // High half first (bit 1 marks it): address bits 34-63 in bits 2-31.
  tamsil_dbWrite32(a, TAMSIL_DB_MBOX,
                   (static_cast<uint32_t>(pa >> 32) & ~3u) | TAMSIL_MBOX_DB_HI);
  st = tamsil_mboxDbReadyWait(a);
  if (st != 0) return st;
  // Low half: address bits 4-33 in bits 2-31. From here the firmware has
  // the command, and may answer into its buffers whenever it does.
  tamsil_dbWrite32(a, TAMSIL_DB_MBOX, static_cast<uint32_t>((pa >> 4) << 2));
  st = tamsil_mboxDbReadyWait(a);
  if (st != 0) {
    if (tamsil_cardError(a)) st8(&a->mbox_ctx.abandoned, 1);
    return st;
  }
  TAMSIL_CDBG(a, 0x10, "Mbox ready");
  MccCompletion* c =
      reinterpret_cast<MccCompletion*>(static_cast<uint8_t*>(a->mbox_va) + TAMSIL_MBOX_CQE_OFF);
  uint32_t flags = __atomic_load_n(&c->flags, __ATOMIC_ACQUIRE);
  if (flags == 0) {
    TAMSIL_CERR(a, "Invalid mailbox completion");
    return TAMSIL_CH_MBOX_FAIL;
  }
  if ((flags & TAMSIL_CQE_VALID) == 0) complNotValid(a, __LINE__);
  // The bare patterns carry no header: their completion names no record.
  WrbContext* ctx = ctxFromTag(a, c->tag_lo, c->tag_hi);
  if (ctx != &a->mbox_ctx || c->tag_hi != a->mbox_ctx.gen) ctx = nullptr;
  st = tamsil_mccComplProcess(a, c, ctx);
  if (ctx != nullptr) {
    st8(&ctx->outstanding, 0);
    st8(&ctx->done, 1);
  }
  __atomic_store_n(&c->flags, 0u, __ATOMIC_RELEASE);
  return st;
}

// ---------------------------------------------------------------------------
// Completions and events
// ---------------------------------------------------------------------------

uint32_t tamsil_mccComplProcess(Adapter* a, MccCompletion* c, WrbContext* ctx) {
  uint16_t status = c->status;
  uint16_t ext = c->ext_status;
  Request_Header* h = ctx != nullptr ? ctx->header : nullptr;
  uint8_t opcode = h != nullptr ? h->PageCode : 0;
  uint8_t subsystem = h != nullptr ? h->subsystem : 0;

  uint32_t result;
  if (status == 0) {
    if (h != nullptr && subsystem == TAMSIL_SUBSYS_COMMON && opcode == TAMSIL_OPC_GET_DIE_TEMPERATURE)
      tamsil_statSet(a->on_die_temperature, reinterpret_cast<uint8_t*>(h)[TAMSIL_HDR_LEN + 4]);
    result = 0;
  } else if (h != nullptr) {
    if (opcode == TAMSIL_OPC_GET_DIE_TEMPERATURE) a->die_temp_interval = 0;
    if (status == TAMSIL_FW_ST_NOT_SUPPORTED || status == TAMSIL_FW_ST_66 || status == TAMSIL_FW_ST_68) {
      result = status;
    } else if (status == TAMSIL_FW_ST_NOT_PRIVILEGED) {
      TAMSIL_CERR(a, "Not privileged to issue Mailbox/MCC cmd opcode %d-%d", opcode, subsystem);
      result = status;
    } else if (!ctx->quiet && ext == TAMSIL_FW_EXT_96) {
      result = status;
    } else {
      if (!ctx->quiet && !(subsystem == TAMSIL_SUBSYS_COMMON && opcode == TAMSIL_OPC_SET_UE_RECOVERY))
        TAMSIL_CERR(a, "Mailbox/MCC command opcode %d-%d failed:status %d-%d", opcode, subsystem, status,
                    ext);
      result = ext == TAMSIL_FW_EXT_22 ? TAMSIL_FW_EXT_22 : status;
    }
  } else {
    result = ext == TAMSIL_FW_EXT_22 ? TAMSIL_FW_EXT_22 : status;
  }
  return result;
}

static void linkStateEvent(Adapter* a, const uint8_t* d) {
  uint8_t status = d[1];
  uint8_t code = d[3];
  if (tamsil_hasTrait(a, TAMSIL_GT_LINK_EVENT_LOGICAL) && (status & 0x2) == 0) return;
  tamsil_statSet(a->link.link_down_reason, d[5]);   // the statistics read it on other threads
  a->link.qos_link_speed = tamsil_get16(d, 6);
  if (status & 0x1)
    a->link.link_speed = a->link.qos_link_speed != 0 ? a->link.qos_link_speed * 10u : tamsil_speedFromCode(code);
  else
    a->link.link_speed = 0;
  a->link.link_up = status & 0x1;
  if (tamsil_hasTrait(a, TAMSIL_GT_LINK_MODES_FROM_EVENT) || a->port_num != a->pf_num) {
    uint32_t speed = tamsil_speedFromCode(code);
    a->supported_modes[0].speed = speed != 0 ? speed : 10000;
    a->supported_modes[0].duplex = 2;
    a->num_supported_modes = 1;
  }
  tamsil_linkStatusUpdate(a);
  if (a->link.link_down_reason != 0) TAMSIL_CERR(a, "Link down event type: %d", a->link.link_down_reason);
}

static void grp5Event(Adapter* a, uint8_t type, const uint8_t* d) {
  switch (type) {
    case TAMSIL_EVT5_QOS_SPEED: {
      uint16_t speed = tamsil_get16(d, 6);
      if (d[0] == a->cntl_port && speed != a->link.qos_link_speed) {
        a->link.qos_link_speed = speed;
        a->link.link_speed = speed * 10u;
        // The drain holds driver spinlocks: the kernel hears of it later,
        // from the worker or vector 0's NetPoll, as of a link event.
        tamsil_updateUplinkLinkStatus(a, false, true);
      }
      break;
    }
    case TAMSIL_EVT5_PRIORITY:
      if (d[3]) {
        // The transmit path reads these while the events change them.
        __atomic_store_n(&a->vlan_prio_bmap, d[1], __ATOMIC_RELAXED);
        __atomic_store_n(&a->recommended_prio, static_cast<uint16_t>(d[2] << 13), __ATOMIC_RELAXED);
      }
      break;
    case TAMSIL_EVT5_PVID:
      __atomic_store_n(&a->pvid, static_cast<uint16_t>(d[0] ? tamsil_get16(d, 2) : 0), __ATOMIC_RELAXED);
      break;
    case TAMSIL_EVT5_OS2BMC:
      if (d[0] & 0x4) {
        __atomic_store_n(&a->os2bmc_filter, tamsil_get16(d, 4), __ATOMIC_RELAXED);
        __atomic_fetch_or(&a->features, static_cast<uint32_t>(TAMSIL_FEAT_OS2BMC), __ATOMIC_RELAXED);
      }
      break;
    case TAMSIL_EVT5_DEBUG_DATA:
      TAMSIL_CERR(a, "%s: Debug Data Event - 0x%x, 0x%x, 0x%x, 0x%x", a->pci_name, tamsil_get32(d, 0),
                  tamsil_get32(d, 4), tamsil_get32(d, 8), tamsil_get32(d, 12));
      break;
    default:
      TAMSIL_CERR(a, "Unknown grp5 event!");
      break;
  }
}

static void sliportEvent(Adapter* a, uint8_t type, const uint8_t* d) {
  if (type != TAMSIL_EVT17_TRANSCEIVER) return;
  // One byte per port; a port number the words cannot hold is ignored.
  uint32_t port = a->cntl_port;
  if (port > 3) return;
  a->sfp_link_effect = d[4 + port];
  uint8_t state = d[port];
  if (state != a->sfp_state) {
    a->sfp_state = state;
    vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_SFP_CHECK);
  }
}

static void asyncEvent(Adapter* a, MccCompletion* c, uint32_t flags) {
  uint8_t code = static_cast<uint8_t>(flags >> TAMSIL_CQE_EVT_CODE_SHIFT);
  uint8_t type = static_cast<uint8_t>(flags >> TAMSIL_CQE_EVT_TYPE_SHIFT);
  const uint8_t* d = reinterpret_cast<const uint8_t*>(c);
  switch (code) {
    case TAMSIL_EVT_LINK_STATE:
      linkStateEvent(a, d);
      break;
    case TAMSIL_EVT_GRP5:
      grp5Event(a, type, d);
      break;
    case TAMSIL_EVT_DEBUG:
      if (type == TAMSIL_EVT6_QNQ) {
        if (d[0]) __atomic_store_n(&a->qnq_vid, tamsil_get16(d, 2), __ATOMIC_RELAXED);
        __atomic_store_n(&a->qnq_received, static_cast<uint8_t>(1), __ATOMIC_RELAXED);
      } else {
        TAMSIL_CERR(a, "Unknown debug event");
      }
      break;
    case TAMSIL_EVT_SLIPORT:
      sliportEvent(a, type, d);
      break;
    default:
      TAMSIL_CERR(a, "Unknown grp5 event!");
      break;
  }
}

// What one drain pass leaves to do once its locks are released.
struct DrainWork {
  WrbContext* wake[TAMSIL_WAKE_LIST];
  uint32_t nwake = 0;
  DmaBuffer release[TAMSIL_WAKE_LIST];
  uint32_t nrelease = 0;
  bool full() const { return nwake >= TAMSIL_WAKE_LIST || nrelease >= TAMSIL_WAKE_LIST; }
};

// A command completion. It is taken only when its tag names a slot whose
// command of that generation is still outstanding: that completion ends the
// command once and gives its ring entry back. Any other completion (a tag
// that names no slot, a generation no longer in the slot, a second
// completion of the same command) is counted, logged and dropped: it
// changes no used count and wakes nobody.
static void commandCompletion(Adapter* a, MccCompletion* c, DrainWork* w) {
  WrbContext* ctx = ctxFromTag(a, c->tag_lo, c->tag_hi);
  if (ctx == &a->mbox_ctx || ctx == nullptr || ctx->gen != c->tag_hi || !ld8(&ctx->outstanding)) {
    a->stale_completions++;
    TAMSIL_LOG_RATELIMITED("%s: Dropped MCC completion tag %u:%u status %u: no command waits for it\n",
                           a->pci_name, c->tag_lo, c->tag_hi, c->status);
    return;
  }
  st8(&ctx->outstanding, 0);
  tamsil_mccComplProcess(a, c, ctx);
  if (vmk_AtomicRead64(&a->mcc_q.used) != 0) vmk_AtomicDec64(&a->mcc_q.used);
  vmk_SPLock(a->mcc_compl_wait_lock);
  st8(&ctx->done, 1);
  if (ld8(&ctx->abandoned)) {
    // Its waiter is gone: the buffer it left goes back now.
    if (ctx->kept.va != nullptr) w->release[w->nrelease++] = ctx->kept;
    memset(&ctx->kept, 0, sizeof ctx->kept);
    st8(&ctx->abandoned, 0);
  } else if (ctx->wait_mcc_compl) {
    st8(&ctx->wait_mcc_compl, 0);
    w->wake[w->nwake++] = ctx;
  }
  vmk_SPUnlock(a->mcc_compl_wait_lock);
}

// One pass over the completion queue; stops early when its wake or release
// list is full so neither overflows. Returns entries consumed.
static uint32_t drainPass(Adapter* a, DrainWork* w) {
  QueueInfo* cq = &a->mcc_cq;
  uint32_t count = 0;
  vmk_SPLock(a->mcc_cq_lock);
  if (cq->mem.va != nullptr && cq->len != 0) {
    while (!w->full()) {
      MccCompletion* c = reinterpret_cast<MccCompletion*>(static_cast<uint8_t*>(cq->mem.va) +
                                                          static_cast<uint32_t>(cq->entry_size) * cq->tail);
      uint32_t flags = __atomic_load_n(&c->flags, __ATOMIC_ACQUIRE);
      if (flags == 0) break;
      if ((flags & TAMSIL_CQE_VALID) == 0) {
        vmk_SPUnlock(a->mcc_cq_lock);
        complNotValid(a, __LINE__);
      }
      tamsil_statSet(cq->tail, tamsil_ringNext(a, cq->tail, cq->len));
      if (flags & TAMSIL_CQE_ASYNC) {
        asyncEvent(a, c, flags);
      } else if (flags & TAMSIL_CQE_COMPLETED) {
        commandCompletion(a, c, w);
      }
      __atomic_store_n(&c->flags, 0u, __ATOMIC_RELEASE);
      count++;
    }
    if (count != 0) tamsil_cqNotify(a, cq->id, __atomic_load_n(&a->async_mcc_enabled, __ATOMIC_ACQUIRE) != 0, count);
  }
  vmk_SPUnlock(a->mcc_cq_lock);
  return count;
}

uint32_t tamsil_processMcc(Adapter* a) {
  uint32_t total = 0;
  for (;;) {
    DrainWork w;
    total += drainPass(a, &w);
    for (uint32_t i = 0; i < w.nwake; i++)
      vmk_WorldWakeup(reinterpret_cast<vmk_WorldEventID>(&w.wake[i]->wait_mcc_compl));
    for (uint32_t i = 0; i < w.nrelease; i++) tamsil_mpoolUnmapFree(a, &w.release[i]);
    // A full list ended the pass early: go on with the rest.
    if (!w.full()) break;
  }
  return total;
}

void tamsil_asyncMccEnable(Adapter* a) {
  vmk_SPLock(a->mcc_cq_lock);
  __atomic_store_n(&a->async_mcc_enabled, 1, __ATOMIC_RELEASE);
  tamsil_cqNotify(a, a->mcc_cq.id, true, 0);
  vmk_SPUnlock(a->mcc_cq_lock);
}

void tamsil_asyncMccDisable(Adapter* a) { __atomic_store_n(&a->async_mcc_enabled, 0, __ATOMIC_RELEASE); }

// ---------------------------------------------------------------------------
// Queue-create helpers
// ---------------------------------------------------------------------------

uint32_t tamsil_cmdPageAddrsPrepare(Adapter* a, tamsil_PhysAddr* pages, uint32_t maxPages,
                                    DmaBuffer* buf) {
  (void)a;
  uint64_t off = reinterpret_cast<uintptr_t>(buf->va) & 0xFFF;
  uint32_t n = static_cast<uint32_t>((buf->size + off + 4095) / 4096);
  if (n > maxPages) n = maxPages;
  uint64_t pa = tamsil_dmaBusAddr(buf);
  for (uint32_t i = 0; i < n; i++) {
    uint64_t p = pa + 4096ull * i;
    pages[i].lo = static_cast<uint32_t>(p);
    pages[i].hi = static_cast<uint32_t>(p >> 32);
  }
  return n;
}

uint16_t tamsil_encodedQLen(uint32_t entries) {
  if (entries == 0) return 0;
  uint16_t code = static_cast<uint16_t>(32 - __builtin_clz(entries));
  return code == 16 ? 0 : code;
}

// ---------------------------------------------------------------------------
// UE injection after a command time-out
// ---------------------------------------------------------------------------

void tamsil_generateUE(Adapter* a) {
  TAMSIL_CERR(a, "Injecting fatal error for post-mortem dump");
  const tamsil_ueInject how = tamsil_traitsOf(a)->ue_inject;
  if (how == TAMSIL_UE_INJECT_CSR) {
    tamsil_csrWrite32(a, TAMSIL_CSR_UE_INJECT, 0xFFFFFFFFu);
    tamsil_csrWrite32(a, TAMSIL_CSR_UE_INJECT_KICK, 0);
  } else if (how == TAMSIL_UE_INJECT_PCICFG) {
    uint8_t v = tamsil_pcicfgRead8(a, TAMSIL_PCICFG_UE_INJECT_BYTE);
    tamsil_pcicfgWrite8(a, TAMSIL_PCICFG_UE_INJECT_BYTE, static_cast<uint8_t>(v | 0x1));
  }
}

// ---------------------------------------------------------------------------
// Carriers for the builders
// ---------------------------------------------------------------------------

static uint32_t cmdTake(Adapter* a, tamsil_Cmd* c, uint8_t subsystem, uint8_t opcode, uint32_t len) {
  // A reset stopped before the control path was built again left no
  // channel to send on.
  if (c->wait == TAMSIL_WAIT_MBOX ? a->mbox_lock == VMK_SEMAPHORE_INVALID : a->mcc_lock == VMK_LOCK_INVALID) {
    tamsil_cmdEnd(c);
    return TAMSIL_CH_GONE;
  }
  if (c->wait == TAMSIL_WAIT_MBOX) {
    vmk_SemaLock(&a->mbox_lock);
    c->wrb = tamsil_wrbFromMbox(a, &c->ctx);
    if (c->wrb == nullptr) {
      vmk_SemaUnlock(&a->mbox_lock);
      tamsil_cmdEnd(c);
      return TAMSIL_CH_BUSY;
    }
  } else {
    VMK_ReturnStatus ls = vmk_SPLock(a->mcc_lock);
    if (ls != VMK_OK) TAMSIL_CERR(a, "SpinlockLOck failed 0x%x error", ls);
    if (ld8(&a->mcc_closed)) {
      vmk_SPUnlock(a->mcc_lock);
      TAMSIL_LOG_RATELIMITED("%s: MCC channel closed, command refused\n", a->pci_name);
      tamsil_cmdEnd(c);
      return TAMSIL_CH_GONE;
    }
    c->wrb = tamsil_wrbFromMccq(a, &c->ctx);
    if (c->wrb == nullptr) {
      vmk_SPUnlock(a->mcc_lock);
      tamsil_cmdEnd(c);
      return TAMSIL_CH_BUSY;
    }
    if (c->wait == TAMSIL_WAIT_SLEEP) {
      vmk_SPLock(a->mcc_compl_wait_lock);
      st8(&c->ctx->wait_mcc_compl, 1);
      vmk_SPUnlock(a->mcc_compl_wait_lock);
    }
  }
  c->gen = c->ctx->gen;
  if (c->buf != nullptr) c->ctx->header = static_cast<Request_Header*>(c->buf->va);
  c->hdr = c->ctx->header;
  tamsil_cmdHdrPrepare(c->ctx, subsystem, opcode, len, c->wrb, c->buf);
  c->p = reinterpret_cast<uint8_t*>(c->hdr) + TAMSIL_HDR_LEN;
  return 0;
}

static void cmdInit(tamsil_Cmd* c, Adapter* a, tamsil_Wait wait, const char* label) {
  memset(c, 0, sizeof *c);
  c->adapter = a;
  c->wait = wait;
  c->label = label;
  c->timeout_ms = TAMSIL_MCC_WAIT_MS;
  // Counted from here to tamsil_cmdEnd, so that a channel close can wait
  // until no thread is inside a command any more.
  vmk_AtomicInc64(&a->mcc_users);
  c->counted = true;
}

uint32_t tamsil_cmdBegin(Adapter* a, tamsil_Cmd* c, tamsil_Wait wait, uint8_t subsystem,
                         uint8_t opcode, uint32_t len, uint32_t sgeLen, const char* label) {
  cmdInit(c, a, wait, label);
  // Memory first: the MCC lock is a spinlock.
  if (sgeLen != 0) {
    if (tamsil_mpoolAllocMap(a, &c->sge, sgeLen) == nullptr) {
      tamsil_cmdEnd(c);
      return TAMSIL_CH_NO_MEMORY;
    }
    c->has_sge = true;
    c->buf = &c->sge;
  }
  return cmdTake(a, c, subsystem, opcode, len);
}

uint32_t tamsil_cmdBeginBuf(Adapter* a, tamsil_Cmd* c, tamsil_Wait wait, uint8_t subsystem,
                            uint8_t opcode, uint32_t len, DmaBuffer* buf, const char* label) {
  cmdInit(c, a, wait, label);
  c->buf = buf;
  return cmdTake(a, c, subsystem, opcode, len);
}

uint32_t tamsil_cmdRun(tamsil_Cmd* c) {
  Adapter* a = c->adapter;
  switch (c->wait) {
    case TAMSIL_WAIT_MBOX: {
      uint32_t st = tamsil_mboxNotifyWait(a);
      // A command the firmware took and never answered keeps its buffer
      // with the mailbox until the function is reset.
      if (ld8(&c->ctx->abandoned) && c->buf != nullptr && c->ctx->kept.va == nullptr) {
        c->ctx->kept = *c->buf;
        if (c->buf == &c->sge) c->has_sge = false;
        memset(c->buf, 0, sizeof *c->buf);
        c->abandoned = true;
        c->hdr = nullptr;
        c->p = nullptr;
      }
      return st;
    }
    case TAMSIL_WAIT_POLL: {
      uint32_t st = tamsil_mccNotifyWait(a);
      // A poll that gave up leaves its command outstanding.
      if (st == TAMSIL_CH_IO_ERROR) slotAbandon(c);
      vmk_SPUnlock(a->mcc_lock);
      return st;
    }
    case TAMSIL_WAIT_SLEEP: {
      Request_Header sent = *c->hdr;
      tamsil_mccNotify(a);
      vmk_SPUnlock(a->mcc_lock);
      return sleepingWait(c, c->hdr, &sent);
    }
    case TAMSIL_WAIT_POST:
      tamsil_mccNotify(a);
      vmk_SPUnlock(a->mcc_lock);
      return 0;
  }
  return TAMSIL_CH_BUSY;
}

void tamsil_cmdEnd(tamsil_Cmd* c) {
  Adapter* a = c->adapter;
  if (c->wait == TAMSIL_WAIT_MBOX && c->wrb != nullptr) {
    vmk_SemaUnlock(&a->mbox_lock);
    c->wrb = nullptr;
  }
  if (c->has_sge) {
    tamsil_mpoolUnmapFree(a, &c->sge);
    c->has_sge = false;
  }
  // Last: a close may free the Adapter's channel once this drops to 0.
  if (c->counted) {
    c->counted = false;
    vmk_AtomicDec64(&a->mcc_users);
  }
}

// ---------------------------------------------------------------------------
// Closing the channel
// ---------------------------------------------------------------------------

static void waitNoUsers(Adapter* a) {
  for (uint32_t i = 0; vmk_AtomicRead64(&a->mcc_users) != 0; i++) {
    if (i != 0 && i % 10000 == 0)
      TAMSIL_CERR(a, "Channel close waits for %ld commands in flight", (long)vmk_AtomicRead64(&a->mcc_users));
    vmk_WorldSleep(1000);
  }
}

void tamsil_mccClose(Adapter* a, uint32_t status) {
  if (a->mcc_lock != VMK_LOCK_INVALID) {
    vmk_SPLock(a->mcc_lock);
    st8(&a->mcc_closed, 1);
    vmk_SPUnlock(a->mcc_lock);
  } else {
    st8(&a->mcc_closed, 1);
  }
  const bool locked = a->mcc_compl_wait_lock != VMK_LOCK_INVALID;
  for (uint32_t i = 0; i < TAMSIL_MCC_Q_LEN; i++) {
    WrbContext* ctx = &a->wrb_ctx[i];
    if (locked) vmk_SPLock(a->mcc_compl_wait_lock);
    const bool waiting = ctx->wait_mcc_compl != 0;
    if (waiting) {
      ctx->fail_status = status;
      // A reset's waiters read their status in their response header.
      if (status != TAMSIL_CH_GONE && ctx->header != nullptr)
        reinterpret_cast<vmk_uint8*>(ctx->header)[4] = static_cast<vmk_uint8>(status);
      st8(&ctx->wait_mcc_compl, 0);
    }
    if (locked) vmk_SPUnlock(a->mcc_compl_wait_lock);
    if (!waiting) continue;
    TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "wait_mcc_compl != 0 @ mcc q offset %d (0x%x)\n", (int)i,
               (unsigned)i);
    if (vmk_WorldWakeup(reinterpret_cast<vmk_WorldEventID>(&ctx->wait_mcc_compl)) == VMK_OK)
      TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Woken up the pending MCC Req Thread\n");
  }
  waitNoUsers(a);
}

void tamsil_mboxClose(Adapter* a) {
  st8(&a->mbox_closed, 1);
  // Its last command ends before the close does.
  if (a->mbox_lock != VMK_SEMAPHORE_INVALID) {
    vmk_SemaLock(&a->mbox_lock);
    vmk_SemaUnlock(&a->mbox_lock);
  }
}

void tamsil_mboxOpen(Adapter* a) { st8(&a->mbox_closed, 0); }

void tamsil_mccOpen(Adapter* a) {
  // The old queue is gone with what its commands could still write.
  tamsil_mccKeptRelease(a, true);
  for (uint32_t i = 0; i < TAMSIL_MCC_Q_LEN; i++) {
    WrbContext* ctx = &a->wrb_ctx[i];
    vmk_uint32 gen = ctx->gen;
    memset(ctx, 0, sizeof *ctx);
    ctx->gen = gen;
  }
  st8(&a->mcc_closed, 0);
  st8(&a->mbox_closed, 0);
}

uint32_t tamsil_mccKeptRelease(Adapter* a, bool deviceQuiet) {
  uint32_t n = 0;
  for (uint32_t i = 0; i <= TAMSIL_MCC_Q_LEN; i++) {
    WrbContext* ctx = i < TAMSIL_MCC_Q_LEN ? &a->wrb_ctx[i] : &a->mbox_ctx;
    if (ctx->kept.va != nullptr) {
      if (deviceQuiet)
        tamsil_mpoolUnmapFree(a, &ctx->kept);
      else
        tamsil_quarantine(a, &ctx->kept);
      n++;
    }
    st8(&ctx->abandoned, 0);
    st8(&ctx->outstanding, 0);
  }
  return n;
}

// Firmware pass-through from the management channel, with the few requests
// the driver answers itself.
#include <cstdio>
#include <cstring>

#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "tamsil_gen.h"
#include "tamsil_cmds_priv.h"

#if __has_include("tamsil_cdbc.h")
#include "tamsil_cdbc.h"
#define TAMSIL_HAVE_CDBC 1
#else
#define TAMSIL_HAVE_CDBC 0
#endif

namespace {

// A request answered without the firmware: status 0 and the given lengths.
void localAnswer(uint8_t* req, uint32_t len) {
  Response_Header* rh = reinterpret_cast<Response_Header*>(req);
  rh->status = 0;
  rh->additional_status = 0;
  rh->response_length = len;
  rh->actual_response_length = len;
}

// The 11/21 answer of an adapter in error: the debug registers, read here.
constexpr uint32_t kDiag21Bytes = 20;
void diag21Registers(Adapter* a, uint8_t* p) {
  uint32_t r58 = tamsil_pcicfgRead32(a, TAMSIL_PCICFG_DBG_58);
  tamsil_put32(p, 4, r58);
  if ((r58 & 0xF00) == 0xF00) tamsil_put32(p, 8, tamsil_pcicfgRead32(a, TAMSIL_PCICFG_DBG_9C));
}
void diag21Local(Adapter* a, uint8_t* req) {
  uint8_t* p = req + TAMSIL_HDR_LEN;
  tamsil_put8(p, 0, 0);
  tamsil_put8(p, 1, 1);
  tamsil_put8(p, 2, 1);
  tamsil_put32(p, 16, 7);
  diag21Registers(a, p);
  localAnswer(req, kDiag21Bytes);
}

// Crash-dump bytecode run (11/24 with p+0 = 1): p+4 segment, p+8 instance,
// p+12 start offset, p+16 length in words, the program from p+24. The
// program's output goes to the response area: from p+8 to the end of the
// caller's buffer (a small program asks for a large dump).
uint32_t runBytecode(Adapter* a, uint8_t* req, uint32_t plen, uint32_t bufLen) {
  uint8_t* p = req + TAMSIL_HDR_LEN;
  uint32_t words = tamsil_get32(p, 16);
  if (words == 0) return 0;  // the request comes back unchanged
  // The program must lie inside the request it came with.
  if (words > (plen - 24) / 4) return VMK_BAD_PARAM;
#if TAMSIL_HAVE_CDBC
  uint32_t segment = tamsil_get32(p, 4);
  uint32_t instance = tamsil_get32(p, 8);
  uint32_t start = tamsil_get32(p, 12);
  uint32_t* image = static_cast<uint32_t*>(vmk_HeapAlloc(tamsilDriver.heap_id, 4ull * words));
  if (image == nullptr) {
    TAMSIL_CERR(a, "Error allocating memory");
    reinterpret_cast<Response_Header*>(req)->status = 0xFF;
    return 0;
  }
  memcpy(image, p + 24, 4ull * words);
  TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "coredump bytecode: length = 0x%x, segment = 0x%x, offset = 0x%x, instance = 0x%x",
              words, segment, start, instance);
  uint32_t r0 = tamsil_cdbc_get_dump(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a)), start, instance, words,
                                     image, p + 8, bufLen - TAMSIL_HDR_LEN - 8);
  uint32_t dumpLen = tamsil_cdbc_dumpLength(image, words, start);
  vmk_HeapFree(tamsilDriver.heap_id, image);
  if (r0 != 0) TAMSIL_CERR(a, "tamsil_cdbc_get_dump err, status = 0x%x", r0);
  TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "offset_final = 0x%x, dump_len = 0x%x", start + dumpLen, dumpLen);
  tamsil_put32(p, 0, r0);
  tamsil_put32(p, 4, dumpLen);
  localAnswer(req, dumpLen + 8);
  return 0;
#else
  (void)a;
  (void)bufLen;
  return VMK_NOT_SUPPORTED;
#endif
}

}  // namespace

uint32_t tamsil_cmdPassthrough(Adapter* a, void* buf, uint32_t bufLen) {
  if (buf == nullptr || bufLen < TAMSIL_HDR_LEN) return VMK_BAD_PARAM;
  uint8_t* req = static_cast<uint8_t*>(buf);
  const Request_Header* rq = static_cast<const Request_Header*>(buf);
  // Only the bytes the caller handed over are read or written.
  uint64_t total = static_cast<uint64_t>(rq->request_length) + TAMSIL_HDR_LEN;
  if (total > bufLen) return VMK_BAD_PARAM;
  const uint32_t plen = static_cast<uint32_t>(total) - TAMSIL_HDR_LEN;
  uint8_t* p = req + TAMSIL_HDR_LEN;
  const uint8_t sub = rq->subsystem;
  const uint8_t opc = rq->PageCode;
  const tamsil_genTraits* t = tamsil_traitsOf(a);
  const bool diag = sub == TAMSIL_SUBSYS_DIAG && (t->flags & TAMSIL_GT_DIAG_LOCAL) != 0;

  if (diag && opc == TAMSIL_OPC_DIAG_22 && plen >= 4 && tamsil_get32(p, 0) == 4) {
    if (plen < 8) return VMK_BAD_PARAM;
    tamsil_put32(p, 0, 0);
    tamsil_put32(p, 4, 1);
    localAnswer(req, 8);
    return 0;
  }
  if (diag && opc == TAMSIL_OPC_DIAG_24 && plen >= 4) {
    uint32_t what = tamsil_get32(p, 0);
    if (what == 1) {
      if (plen < 24) return VMK_BAD_PARAM;
      return runBytecode(a, req, plen, bufLen);
    }
    if (what == 4) {
      localAnswer(req, 9);
      return 0;
    }
  }
  const bool diag21 = diag && opc == TAMSIL_OPC_DIAG_21;
  if (diag21 && plen < kDiag21Bytes) return VMK_BAD_PARAM;
  if (tamsil_cardError(a)) {
    if (diag21) {
      diag21Local(a, req);
      return 0;
    }
    if (sub == TAMSIL_SUBSYS_COMMON && opc == TAMSIL_OPC_MAC_QUERY && plen >= 8 && p[0] == 1 && p[1] == 1) {
      tamsil_put16(p, 0, 6);
      memcpy(p + 2, a->uplink_reg.perm_mac, 6);
      localAnswer(req, 8);
      return 0;
    }
    return TAMSIL_CH_REFUSED;
  }

  uint32_t timeout = TAMSIL_MCC_WAIT_MS;
  if (t->write_object_ms != 0 && sub == TAMSIL_SUBSYS_COMMON && opc == TAMSIL_OPC_WRITE_OBJECT) {
    if (vmk_BitVectorTest(a->flags, TAMSIL_FLAG_TPE_REINIT)) return TAMSIL_CH_BUSY;
    timeout = t->write_object_ms;
  }

  DmaBuffer dma;
  memset(&dma, 0, sizeof dma);
  if (tamsil_mpoolAllocMap(a, &dma, static_cast<uint32_t>(total)) == nullptr) return TAMSIL_CH_NO_MEMORY;
  tamsil_Cmd c;
  uint32_t st = tamsil_cmdBeginBuf(a, &c, TAMSIL_WAIT_SLEEP, sub, opc, static_cast<uint32_t>(total), &dma,
                                   "Passthrough");
  if (st != 0) {
    tamsil_mpoolUnmapFree(a, &dma);
    return st;
  }
  // The caller's header goes out as built (version, domain, timeout ...).
  memcpy(dma.va, req, total);
  c.ctx->quiet = 1;
  c.timeout_ms = timeout;
  st = tamsil_cmdRun(&c);
  tamsil_cmdEnd(&c);
  if (c.abandoned) {
    // The wait ended without the completion: the channel kept the buffer
    // (the device may still write it) and there is no response to copy;
    // the caller's request comes back as it was sent.
    if (diag21 && tamsil_cardError(a)) {
      diag21Local(a, req);
      return 0;
    }
    return st;
  }

  uint8_t* out = static_cast<uint8_t*>(dma.va);
  uint8_t* op = out + TAMSIL_HDR_LEN;
  if (diag21) {
    if (st == 0) {
      diag21Registers(a, op);
    } else if (tamsil_cardError(a)) {
      diag21Local(a, out);
      st = 0;
    } else if (st != TAMSIL_FW_ST_66) {
      TAMSIL_CDBG(a, TAMSIL_DBG_MCC, "Pass through commmand failed. opcode %d, status 0x%x", opc, st);
    }
  }
  // Controller attributes carry the host's view of the function.
  if (sub == TAMSIL_SUBSYS_COMMON && opc == TAMSIL_OPC_CNTL_ATTRIBUTES && plen >= 510) {
    char text[32];
    memset(text, 0, sizeof text);
    snprintf(text, sizeof text, "%s %s", TAMSIL_DRIVER_NAME, TAMSIL_DRIVER_VERSION);
    memcpy(op + 352, text, sizeof text);
    op[508] = a->pci_addr.bus;
    op[509] = static_cast<uint8_t>(a->pci_addr.devfn & 0x1F);
  }
  memcpy(req, out, total);
  tamsil_mpoolUnmapFree(a, &dma);
  return st;
}

// The transmit path: packets to transmit entries and the doorbell, the
// reaping of transmit completions, the drain at quiesce, and netdump.
#include <cstring>

#include "tamsil_cmds_os.h"
#include "tamsil_datapath.h"
#include "tamsil_gen.h"
#include "tamsil_txvlan.h"
#include "tamsil_statctr.h"

namespace {

constexpr vmk_uint32 kWrbSize = 16;
constexpr vmk_uint32 kMaxFrameLen = 65536;       // at and above: cut in software first
constexpr vmk_uint32 kSwTsoMaxPayload = 49152;
constexpr vmk_uint32 kL3SearchLimit = 8192;
constexpr vmk_uint32 kMinFrameLen = 33;          // shorter frames are padded ...
constexpr vmk_uint32 kPaddedLen = 36;            // ... to this
constexpr vmk_uint32 kTrimCandidate = 60;
constexpr vmk_uint32 kTrimCandidateTagged = 64;
// The header's entry count has five bits.
constexpr vmk_uint32 kMaxPktEntries = 31;
constexpr vmk_uint32 kTxDoorWaitUs = 100;

// Header entry, dword 2.
constexpr vmk_uint32 kHdrBit0 = 1u << 0;
constexpr vmk_uint32 kHdrBit1 = 1u << 1;
constexpr vmk_uint32 kHdrBit2 = 1u << 2;
constexpr vmk_uint32 kHdrIpv6Lso = 1u << 4;
constexpr vmk_uint32 kHdrMgmt = 1u << 5;
constexpr vmk_uint32 kHdrIpCsum = 1u << 6;
constexpr vmk_uint32 kHdrUdpCsum = 1u << 7;
constexpr vmk_uint32 kHdrTcpCsum = 1u << 8;
constexpr vmk_uint32 kHdrLso = 1u << 9;
constexpr vmk_uint32 kHdrVlan = 1u << 10;
constexpr vmk_uint32 kHdrKs3Cap = 2u << 11;
constexpr unsigned kHdrCountShift = 13;
constexpr vmk_uint32 kHdrCountMask = 0x1F;
constexpr unsigned kHdrMssShift = 18;
constexpr vmk_uint32 kHdrMssMask = 0x3FFF;

// What the transmit of one packet knows about it.
struct TxPkt {
  vmk_PktHandle* caller;   // the kernel's packet (NULL for a management copy)
  vmk_PktHandle* sent;     // what the adapter reads: the caller's or a copy
  vmk_uint32 callerLen;    // the caller's frame length, when recorded
  vmk_uint32 shortLen;     // the caller's packet cut in place: its length as sent
  bool callerLenKept;
  bool shortenedInPlace;
  bool tso, csum, mustTag, ipv6, encap, mgmt;
  vmk_uint8 vlanInserted;
  vmk_uint16 l4;
  vmk_uint32 mss;
};

inline vmk_uint32* wrbAt(QueueInfo* q, vmk_uint32 idx) {
  return reinterpret_cast<vmk_uint32*>(static_cast<vmk_uint8*>(q->mem.va) + idx * kWrbSize);
}

inline vmk_uint16 be16(const vmk_uint8* p) { return (vmk_uint16)(p[0] << 8 | p[1]); }

// The sent packet becomes `pkt`; a driver-made predecessor is released.
void replaceSent(Adapter* a, TxPkt* t, vmk_PktHandle* pkt) {
  if (t->sent != t->caller) tamsil_txPktRelease(a, t->sent);
  t->sent = pkt;
}

void dropPkt(Adapter* a, TxPkt* t) {
  if (t->sent != nullptr && t->sent != t->caller) tamsil_txPktRelease(a, t->sent);
  if (t->caller != nullptr) tamsil_txPktRelease(a, t->caller);
  t->sent = t->caller = nullptr;
}

// A ring found inconsistent: on Pivard the firmware is asked for a dump
// first.
[[noreturn]] void ringInconsistent(Adapter* a, const char* check, int line) {
  if (tamsil_opsOf(a)->ringDump != nullptr) tamsil_opsOf(a)->ringDump(a);
  tamsil_cmdStop(a, "tamsil_main", check, line);
}

}  // namespace

/* ------------------------------------------------------------------------ */
/* Reshaping                                                                 */
/* ------------------------------------------------------------------------ */

// Cuts a short IPv4 frame to the length its header gives (the rest is
// padding the adapter would otherwise send).
static VMK_ReturnStatus tamsil_trimIPv4Pkt(Adapter* a, TxPkt* t, const vmk_PktHeaderEntry* l3) {
  vmk_PktHandle* pkt = t->sent;
  const vmk_uint32 len = vmk_PktFrameLenGet(pkt);
  const vmk_uint8* f = vmk_PktFrameMappedPointerGet(pkt);
  if (l3->offset + 4 > len) return VMK_FAILURE;
  const vmk_uint32 want = l3->offset + be16(f + l3->offset + 2);
  if (want > len) return VMK_FAILURE;
  if (want == len) return VMK_OK;
  VMK_ReturnStatus st;
  if (!vmk_PktIsBufDescWritable(pkt)) {
    vmk_PktHandle* copy = nullptr;
    st = vmk_PktPartialCopy(pkt, want, &copy);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "PktPartialCopy failed 0x%x\n", st);
      return st;
    }
    st = vmk_PktFrameLenSet(copy, want);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Failed to set frameLen 0x%x\n", st);
      tamsil_txPktRelease(a, copy);
      return st;
    }
    replaceSent(a, t, copy);
    return VMK_OK;
  }
  st = vmk_PktFrameLenSet(pkt, want);
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Failed to set frameLen 0x%x\n", st);
    return st;
  }
  if (pkt == t->caller) {
    t->shortenedInPlace = true;
    t->shortLen = want;
  }
  return VMK_OK;
}

// A frame too short for the adapter goes out as a zero-padded copy.
static VMK_ReturnStatus tamsil_padPkt(Adapter* a, TxPkt* t) {
  const vmk_uint32 len = vmk_PktFrameLenGet(t->sent);
  vmk_PktHandle* dup = nullptr;
  VMK_ReturnStatus st = vmk_PktDupLenWithHeadroomAndTailroom(t->sent, len, 0, kPaddedLen - len, &dup);
  if (st == VMK_OK) {
    st = vmk_PktFrameLenSet(dup, kPaddedLen);
    if (st != VMK_OK) tamsil_txPktRelease(a, dup);
  }
  if (st != VMK_OK) {
    TAMSIL_ERR(a, "Tx pkt pad is not possible since PktDupLenWithHeadroomAndTailroom failed with 0x%x\n", st);
    return st;
  }
  replaceSent(a, t, dup);
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Entries                                                                   */
/* ------------------------------------------------------------------------ */

// Unmaps the fragments of the entries from `from` up to (not including)
// `to` and clears their addresses.
static void unmapEntries(Adapter* a, QueueInfo* q, vmk_uint16 from, vmk_uint16 to) {
  for (vmk_uint16 i = from; i != to; i = tamsil_ringNext(a, i, q->len)) {
    vmk_uint32* e = wrbAt(q, i);
    const vmk_uint64 addr = ((vmk_uint64)e[0] << 32) | e[1];
    if (addr == 0) continue;
    vmk_SgElem m{addr, e[3] & 0xFFFF, 0};
    vmk_DMAUnmapElem(a->dma_engine, VMK_DMA_DIRECTION_FROM_MEMORY, &m);
    e[0] = e[1] = 0;
  }
}

// Writes the fragment entries of the frame after the header entry reserved
// at the producer index; on success *entries counts them with the header
// and any dummy, *bytes the frame bytes they describe.
static VMK_ReturnStatus tamsil_makeTxWrbs(Adapter* a, tamsil_txo* txo, vmk_PktHandle* pkt, vmk_uint32 frameLen,
                                          vmk_uint32* entries, vmk_uint32* bytes) {
  QueueInfo* q = &txo->q;
  const vmk_uint16 hdr = q->head;
  tamsil_statSet(q->head, tamsil_ringNext(a, q->head, q->len));
  vmk_uint32 n = 1, left = frameLen;
  const vmk_uint32 elems = vmk_PktSgElemCount(pkt);
  for (vmk_uint32 i = 0; i < elems; i++) {
    if (left == 0) {
      tamsil_statAdd(txo->tx_discarded_padded_frags, elems - i);
      break;
    }
    vmk_SgElem in;
    VMK_ReturnStatus st = vmk_PktSgElemGet(pkt, i, &in);
    vmk_SgElem out{};
    vmk_DMAMapErrorInfo err{};
    if (st == VMK_OK) {
      if (in.length > left) {
        in.length = left;
        tamsil_statInc(txo->tx_oversize_frag_len_pkts);
      }
      st = vmk_DMAMapElem(a->dma_engine, VMK_DMA_DIRECTION_FROM_MEMORY, &in, in.length == left, &out, &err);
    } else {
      err.error = VMK_DMA_MAP_ERROR_REASON_BAD_ELEMENT;
    }
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Failed to map %p size %d to IO address, %s.\n", (void*)(uintptr_t)in.addr, (int)in.length,
                 vmk_DMAMapErrorReasonToString(err.error));
      tamsil_statInc(txo->tx_dma_map_fail_drops);
      unmapEntries(a, q, tamsil_ringNext(a, hdr, q->len), q->head);
      tamsil_statSet(q->head, hdr);
      return st;
    }
    vmk_uint32* e = wrbAt(q, q->head);
    e[0] = (vmk_uint32)(out.addr >> 32);
    e[1] = (vmk_uint32)out.addr;
    e[3] = out.length & 0xFFFF;
    tamsil_statSet(q->head, tamsil_ringNext(a, q->head, q->len));
    left -= out.length;
    n++;
  }
  if ((n & 1) != 0 && tamsil_hasTrait(a, TAMSIL_GT_TX_DUMMY_WRB)) {
    vmk_uint32* e = wrbAt(q, q->head);
    e[0] = e[1] = e[3] = 0;
    tamsil_statSet(q->head, tamsil_ringNext(a, q->head, q->len));
    n++;
  }
  *entries = n;
  *bytes = frameLen - left;
  return VMK_OK;
}

static vmk_uint32 headerWord2(Adapter* a, tamsil_txo* txo, const TxPkt* t, vmk_uint32 entries, vmk_uint16* vlanTag) {
  const bool mc = tamsil_isMultiChannel(a);
  vmk_uint32 d2 = kHdrBit1 | kHdrBit2;
  if (t->tso) {
    vmk_uint32 mss = t->mss;
    const vmk_uint16 floor = tamsil_traitsOf(a)->tso_min_mss;
    if (floor != 0 && mss < floor) {
      mss = floor;
      tamsil_statInc(txo->tx_tso_less_than_min_mss);
    }
    d2 |= kHdrLso | ((mss & kHdrMssMask) << kHdrMssShift);
    if (t->ipv6 && tamsil_hasTrait(a, TAMSIL_GT_TX_IPV6_LSO)) d2 |= kHdrIpv6Lso;
  } else if (t->csum) {
    if (t->encap) d2 |= kHdrIpCsum;
    if (t->l4 == VMK_PKT_HEADER_L4_TCP) d2 |= kHdrTcpCsum;
    if (t->l4 == VMK_PKT_HEADER_L4_UDP) d2 |= kHdrUdpCsum;
  }
  *vlanTag = 0;
  if (!t->vlanInserted && t->mustTag) {
    d2 |= kHdrVlan;
    *vlanTag = tamsil_txVlanTag(a, t->sent);
  }
  if (!(t->vlanInserted && mc && tamsil_hasTrait(a, TAMSIL_GT_TX_MC_TAG_BIT0))) d2 |= kHdrBit0;
  if (a->cap_ks3_tx && !t->tso && !t->vlanInserted && (mc || t->mustTag) &&
      (t->l4 == VMK_PKT_HEADER_L4_TCP || t->l4 == VMK_PKT_HEADER_L4_UDP || !t->ipv6))
    d2 |= kHdrKs3Cap;
  if (t->mgmt) d2 |= kHdrMgmt;
  d2 |= (entries & kHdrCountMask) << kHdrCountShift;
  return d2;
}

// Entries the sent packet takes: it is copied into one fragment when it
// needs more than a packet may have or than the ring has free. False: not
// even that fits, the packet is dropped.
static bool fitRing(Adapter* a, tamsil_txo* txo, TxPkt* t, vmk_uint32 frameLen) {
  const bool dummy = tamsil_hasTrait(a, TAMSIL_GT_TX_DUMMY_WRB);
  const vmk_uint64 free = txo->q.len - vmk_AtomicRead64(&txo->q.used);
  auto need = [&](vmk_uint32 frags) { return 1 + frags + ((dummy && (frags & 1) == 0) ? 1 : 0); };
  vmk_uint32 elems = vmk_PktSgElemCount(t->sent);
  if (need(elems) <= kMaxPktEntries && need(elems) <= free) return true;
  // Elements past the frame end take no entry.
  vmk_uint32 used = 0, covered = 0;
  for (vmk_uint32 i = 0; i < elems && covered < frameLen; i++, used++) {
    vmk_SgElem e;
    if (vmk_PktSgElemGet(t->sent, i, &e) != VMK_OK) break;
    covered += e.length;
  }
  if (need(used) <= kMaxPktEntries && need(used) <= free) return true;
  if (need(1) > free) {
    tamsil_statInc(txo->tx_ring_full_drops);
    return false;
  }
  vmk_PktHandle* copy = nullptr;
  if (vmk_PktPartialCopy(t->sent, frameLen, &copy) != VMK_OK) {
    tamsil_statInc(txo->tx_ring_full_drops);
    return false;
  }
  replaceSent(a, t, copy);
  tamsil_statInc(txo->tx_linearized_pkts);
  return true;
}

// Step 8 of a packet: entries, pending record, stop mark, doorbell and
// counts. False when the packet was dropped; *stopped tells whether the
// queue is stopped now.
static bool postPkt(Adapter* a, tamsil_txo* txo, TxPkt* t, bool* stopped) {
  QueueInfo* q = &txo->q;
  const vmk_uint32 frameLen = vmk_PktFrameLenGet(t->sent);
  if (!fitRing(a, txo, t, frameLen)) return false;
  const vmk_uint16 hdr = q->head;
  vmk_uint32 entries = 0, bytes = 0;
  if (tamsil_makeTxWrbs(a, txo, t->sent, frameLen, &entries, &bytes) != VMK_OK) return false;
  vmk_AtomicAdd64(&q->used, entries);

  vmk_uint16 tag = 0;
  const vmk_uint32 d2 = headerWord2(a, txo, t, entries, &tag);
  vmk_uint32* e = wrbAt(q, hdr);
  e[0] = 0;
  e[1] = 0;
  e[2] = d2;
  e[3] = (bytes & 0xFFFF) | ((vmk_uint32)tag << 16);

  tamsil_txPending* p = &txo->pending[hdr];
  if (p->sent != nullptr) ringInconsistent(a, "tamsil_queuedPkt", 6522);
  if (p->caller != nullptr) ringInconsistent(a, "tamsil_queuedPkt", 6523);
  if (t->shortenedInPlace && t->callerLenKept) {
    // The frame as sent: a tag written in place after the trim counts.
    t->shortLen = frameLen;
    vmk_PktFrameLenSet(t->caller, t->callerLen);
  }
  p->sent = t->sent;
  p->caller = t->caller;

  *stopped = false;
  if (vmk_AtomicRead64(&q->used) + TAMSIL_TX_STOP_RESERVE >= q->len) {
    tamsil_stopTxQueue(a, txo->idx, 0);
    tamsil_statInc(txo->tx_stops);
    *stopped = true;
  }
  if (!tamsil_hwError(a)) {
    vmk_CPUMemFenceWrite();
    tamsil_dbWrite32(a, txo->db_offset, tamsil_txqDoorbell(q->id, entries));
  }
  tamsil_statAdd(txo->tx_wrbs, entries);
  tamsil_statAdd(txo->tx_bytes, bytes);
  tamsil_statInc(txo->tx_pkts);
  if (t->encap) tamsil_statInc(txo->vxlan_tx_pkts);
  if (t->mgmt) tamsil_statInc(txo->tx_os2bmc_pkts);
  return true;
}

// The management controller's copy of a packet just queued.
static void postMgmtCopy(Adapter* a, tamsil_txo* txo, const TxPkt* t) {
  vmk_PktHandle* copy = nullptr;
  VMK_ReturnStatus st;
  if (t->shortenedInPlace && t->sent == t->caller) {
    // The caller's packet has its own length back: copy the bytes sent.
    st = vmk_PktPartialCopyWithHeadroom(t->sent, t->shortLen, 1, &copy);
    if (st == VMK_OK && (st = vmk_PktFrameLenSet(copy, t->shortLen)) != VMK_OK) tamsil_txPktRelease(a, copy);
  } else {
    st = vmk_PktClone(t->sent, &copy);
  }
  if (st != VMK_OK) {
    tamsil_statInc(txo->tx_os2bmc_drops);
    return;
  }
  TxPkt c = *t;
  c.caller = nullptr;
  c.sent = copy;
  c.shortenedInPlace = false;
  c.mgmt = true;
  bool stopped;
  if (!postPkt(a, txo, &c, &stopped)) {
    tamsil_statInc(txo->tx_os2bmc_drops);
    tamsil_txPktRelease(a, c.sent);
  }
}

void tamsil_queuedPkt(Adapter* a, tamsil_txo* txo, vmk_PktHandle* pkt, vmk_uint32 frameLen) {
  TxPkt t{};
  t.caller = t.sent = pkt;
  t.tso = vmk_PktIsLargeTcpPacket(pkt);
  t.mss = t.tso ? vmk_PktGetLargeTcpPacketMss(pkt) : 0;
  t.csum = vmk_PktIsMustCsum(pkt);
  t.mustTag = vmk_PktMustVlanTag(pkt);
  if (vmk_PktIsBufDescWritable(pkt)) {
    t.callerLen = frameLen;
    t.callerLenKept = true;
  }
  const bool fixups = tamsil_hasTrait(a, TAMSIL_GT_TX_SW_FIXUPS);
  const bool mc = tamsil_isMultiChannel(a);

  // 1. The L3 header.
  vmk_PktHeaderEntry l3{};
  VMK_ReturnStatus st = vmk_PktHeaderL3Find(pkt, kL3SearchLimit, &l3, nullptr);
  if (st != VMK_OK) {
    if (st != VMK_NOT_FOUND && st != VMK_HEADER_BEYOND_LIMIT) {
      tamsil_statInc(txo->tx_l3_hdr_parse_fail_drops);
      TAMSIL_LOG_RATELIMITED("%s Parsing L3 hdrs in packet failed 0x%x\n", tamsil_devName(a), st);
      dropPkt(a, &t);
      return;
    }
    l3.type = 0;
  }
  if (l3.type == VMK_PKT_HEADER_L3_IPv4) {
    // 2. IPv4.
    t.l4 = l3.nextHdrType;
    if (tamsil_evtLoad(a->features) & TAMSIL_FEAT_VXLAN_OFFLOAD) {
      vmk_PktHeaderEntry enc, in;
      if (vmk_PktHeaderEncapFind(pkt, 0, &enc, nullptr) == VMK_OK && enc.type == VMK_PKT_HEADER_ENCAP_VXLAN) {
        t.encap = true;
        if (vmk_PktHeaderEncapL4Find(pkt, 0, &in, nullptr) == VMK_OK &&
            (in.type == VMK_PKT_HEADER_L4_TCP || in.type == VMK_PKT_HEADER_L4_UDP))
          t.l4 = in.type;
      }
    }
    if (fixups && (mc || t.mustTag || tamsil_hasTrait(a, TAMSIL_GT_TX_TRIM_ALWAYS))) {
      bool candidate = frameLen == kTrimCandidate;
      if (frameLen == kTrimCandidateTagged) {
        vmk_PktHeaderEntry l2;
        candidate = vmk_PktHeaderL2Find(pkt, 0, &l2, nullptr) == VMK_OK &&
                    (l2.type == VMK_PKT_HEADER_L2_ETHERNET_VLAN || l2.type == VMK_PKT_HEADER_L2_ETHERNET_802_3_VLAN);
      }
      if (candidate && (st = tamsil_trimIPv4Pkt(a, &t, &l3)) != VMK_OK) {
        tamsil_statInc(txo->tx_trim_fail_drops);
        TAMSIL_ERR(a, "Packet trimming failed 0x%x\n", st);
        dropPkt(a, &t);
        return;
      }
    }
  } else if (l3.type == VMK_PKT_HEADER_L3_IPv6) {
    // 3. IPv6.
    t.ipv6 = true;
    const vmk_uint16 next = l3.nextHdrType;
    t.l4 = next;
    const bool direct = next == VMK_PKT_HEADER_L4_TCP || next == VMK_PKT_HEADER_L4_UDP;
    if (!direct) {
      vmk_PktHeaderEntry l4;
      if (vmk_PktHeaderL4Find(pkt, 0, &l4, nullptr) == VMK_OK) t.l4 = l4.type;
    }
    if (!direct && tamsil_isKs3Rev1(a) && (mc || t.mustTag)) {
      const vmk_uint32 at = l3.offset + 40 + 1;
      const vmk_uint8 lenByte = at < vmk_PktFrameLenGet(pkt) ? vmk_PktFrameMappedPointerGet(pkt)[at] : 255;
      if (lenByte == 255) {
        if (tamsil_insertVlanInPkt(a, &t.sent, t.sent == t.caller, t.callerLen, &t.vlanInserted) != VMK_OK) {
          tamsil_statInc(txo->ipv6_ext_hdr_tx_drop);
          dropPkt(a, &t);
          return;
        }
        tamsil_statInc(txo->ipv6_ext_hdr_tx_pkts);
        tamsil_statInc(txo->tx_vlan_insert_by_drvr_pkts);
      }
    }
    if (fixups && t.tso &&
        (next == 0 || next == 43 || next == 44 || next == 50 || next == 51 || next == 60 || next == 135)) {
      tamsil_statInc(txo->tx_ipv6_extn_drops);
      dropPkt(a, &t);
      return;
    }
  }

  // 4. Tiny frames.
  vmk_uint32 len = vmk_PktFrameLenGet(t.sent);
  if (len < kMinFrameLen) {
    if (tamsil_padPkt(a, &t) != VMK_OK) {
      tamsil_statInc(txo->tx_pad_fail_drops);
      dropPkt(a, &t);
      return;
    }
    tamsil_statInc(txo->tx_pkt_less_than_min);
    len = kPaddedLen;
  }

  // 5. Size limits.
  if (len > TAMSIL_TX_MAX_FRAME) {
    if (t.tso && t.mss == 0) {
      tamsil_statInc(txo->tx_tso_mss_zero_gr_9k_drop);
      TAMSIL_LOG_RATELIMITED("%s-txq%d: Tx pkt len %u with TSO set but MSS is 0\n", tamsil_devName(a), (int)txo->idx,
                             len);
      dropPkt(a, &t);
      return;
    }
    if (!t.tso) {
      tamsil_statInc(txo->tx_gr_9k_non_tso_drop);
      TAMSIL_LOG_RATELIMITED("%s-txq%d: Tx pkt len %u without TSO bit set\n", tamsil_devName(a), (int)txo->idx, len);
      dropPkt(a, &t);
      return;
    }
  }

  // 6. Tags the adapter does not insert in these modes.
  if (fixups && (mc || t.mustTag) && !t.tso && !t.csum && !t.vlanInserted) {
    if (tamsil_insertVlanInPkt(a, &t.sent, t.sent == t.caller, t.callerLen, &t.vlanInserted) != VMK_OK) {
      tamsil_statInc(txo->tx_vlan_insert_by_drvr_drops);
      dropPkt(a, &t);
      return;
    }
    tamsil_statInc(txo->tx_vlan_insert_by_drvr_pkts);
  }

  // 7. The management controller's copy carries its tag in the frame.
  bool bmc = tamsil_os2bmcSelect(a, t.sent);
  if (bmc && (mc || t.mustTag) && !t.vlanInserted) {
    if (tamsil_insertVlanInPkt(a, &t.sent, t.sent == t.caller, t.callerLen, &t.vlanInserted) != VMK_OK) {
      tamsil_statInc(txo->tx_os2bmc_drops);
      bmc = false;
    } else {
      tamsil_statInc(txo->tx_vlan_insert_by_drvr_pkts);
    }
  }

  // 8. Entries and doorbell, then the copy.
  bool stopped = false;
  if (!postPkt(a, txo, &t, &stopped)) {
    dropPkt(a, &t);
    return;
  }
  if (bmc && !stopped) postMgmtCopy(a, txo, &t);
}

/* ------------------------------------------------------------------------ */
/* List transmit                                                             */
/* ------------------------------------------------------------------------ */

static VMK_ReturnStatus uplinkTxInside(Adapter* a, vmk_PktList* list);

// A transmit announces itself before it looks at the door, and quiesce
// closes the door before it waits for the transmits inside to leave: none
// is inside a ring when quiesce drains it or a reset frees and rebuilds it.
// A closed door keeps the whole list with the kernel.
VMK_ReturnStatus tamsil_uplinkTx(Adapter* a, vmk_PktList* list) {
  __atomic_add_fetch(&a->tx_inside, 1, __ATOMIC_SEQ_CST);
  VMK_ReturnStatus st = VMK_BUSY;
  if (__atomic_load_n(&a->tx_closed, __ATOMIC_SEQ_CST) == 0) st = uplinkTxInside(a, list);
  __atomic_sub_fetch(&a->tx_inside, 1, __ATOMIC_SEQ_CST);
  return st;
}

void tamsil_txDoorClose(Adapter* a) {
  __atomic_store_n(&a->tx_closed, 1, __ATOMIC_SEQ_CST);
  while (__atomic_load_n(&a->tx_inside, __ATOMIC_SEQ_CST) != 0) vmk_WorldSleep(kTxDoorWaitUs);
}

void tamsil_txDoorOpen(Adapter* a) { __atomic_store_n(&a->tx_closed, 0, __ATOMIC_SEQ_CST); }

static VMK_ReturnStatus uplinkTxInside(Adapter* a, vmk_PktList* list) {
  VMK_ReturnStatus result = VMK_OK;
  tamsil_txo* txo = nullptr;
  const vmk_uint32 R = a->queue_info.maxRxQueues, T = a->queue_info.maxTxQueues;
  vmk_PktHandle* pkt;
  while ((pkt = vmk_PktListPopFirstPkt(list)) != nullptr) {
    if (txo == nullptr) {
      const vmk_uint32 Q = vmk_PktQueueIDGet(pkt);
      const vmk_uint32 idx = Q - R;
      if (Q < R || Q >= R + T || idx >= TAMSIL_MAX_VECTORS || idx >= a->num_tx_queues || !a->txo[idx].q.created) {
        TAMSIL_LOG_RATELIMITED("Invalid QID %d, numTxQueue %d,  device %s\n", (int)Q, (int)T, tamsil_devName(a));
        tamsil_statInc(a->counters.count_invalid_txq_mapping);
        tamsil_txPktRelease(a, pkt);
        continue;
      }
      txo = &a->txo[idx];
    }
    const vmk_uint32 len = vmk_PktFrameLenGet(pkt);
    if (len >= kMaxFrameLen) {
      const vmk_uint32 mss = vmk_PktIsLargeTcpPacket(pkt) ? vmk_PktGetLargeTcpPacketMss(pkt) : 0;
      if (mss == 0) {
        TAMSIL_LOG_RATELIMITED("Large pkt with zero MSS/non TSO, Dropping pkt\n");
        tamsil_statInc(a->counters.tso_drop_gr_than_64k);
        tamsil_txPktRelease(a, pkt);
        continue;
      }
      vmk_PktList pieces;
      vmk_PktListInit(&pieces);
      VMK_ReturnStatus st = vmk_PktTcpSegmentation(pkt, kSwTsoMaxPayload, &pieces);
      if (st != VMK_OK) {
        vmk_PktListReleaseAllPkts(&pieces);
        TAMSIL_LOG_RATELIMITED("TSO : software segmentation failed,Dropping pkt\n");
        tamsil_statInc(a->counters.tso_drop_gr_than_64k);
        tamsil_txPktRelease(a, pkt);
        result = st;
        continue;
      }
      for (vmk_PktHandle* p = vmk_PktListGetFirstPkt(&pieces); p != nullptr; p = vmk_PktListGetNextPkt(&pieces, p))
        vmk_PktSetLargeTcpPacket(p, mss);
      // The pieces go first, then the rest of the list.
      vmk_PktListAppendList(&pieces, list);
      vmk_PktListAppendList(list, &pieces);
      tamsil_txPktRelease(a, pkt);
      tamsil_statInc(a->counters.tso_gr_than_64k);
      result = VMK_OK;
      continue;
    }
    if (tamsil_isTxQueueStopped(a, txo->idx)) {
      vmk_PktListPrependPkt(list, pkt);
      return VMK_BUSY;
    }
    tamsil_queuedPkt(a, txo, pkt, len);
  }
  return result;
}

/* ------------------------------------------------------------------------ */
/* Completions                                                               */
/* ------------------------------------------------------------------------ */

static void handBack(Adapter* a, tamsil_txo* txo, vmk_PktHandle* pkt, vmk_Bool inPanic, vmk_Bool releaseInPanic) {
  if (inPanic) {
    if (releaseInPanic)
      vmk_PktReleasePanic(pkt);
    else
      vmk_PktRelease(pkt);
    return;
  }
  NetPollInfo* np = txo->idx < TAMSIL_MAX_VECTORS ? a->eqo[txo->idx].netpoll : nullptr;
  if (np == nullptr || np->netpoll == nullptr || vmk_NetPollQueueCompPkt(np->netpoll, pkt) != VMK_OK)
    vmk_PktRelease(pkt);
}

vmk_uint32 tamsil_txComplProcess(Adapter* a, tamsil_txo* txo, vmk_uint16 lastIndex, vmk_Bool inPanic,
                                 vmk_Bool releaseInPanic) {
  QueueInfo* q = &txo->q;
  tamsil_txPending* p = &txo->pending[q->tail];
  if (p->sent == nullptr) ringInconsistent(a, "tamsil_txComplProcess", 4732);
  vmk_PktHandle* sent = p->sent;
  vmk_PktHandle* caller = p->caller;
  p->sent = p->caller = nullptr;
  vmk_uint32 n = 0;
  vmk_uint16 i = q->tail;
  // A packet never spans more than the ring.
  while (n < q->len) {
    vmk_uint32* e = wrbAt(q, i);
    const vmk_uint64 addr = ((vmk_uint64)e[0] << 32) | e[1];
    if (addr != 0) {
      vmk_SgElem m{addr, e[3] & 0xFFFF, 0};
      vmk_DMAUnmapElem(a->dma_engine, VMK_DMA_DIRECTION_FROM_MEMORY, &m);
    }
    n++;
    const bool last = i == lastIndex;
    i = tamsil_ringNext(a, i, q->len);
    if (last) break;
  }
  tamsil_statSet(q->tail, i);
  if (sent != caller) handBack(a, txo, sent, inPanic, releaseInPanic);
  if (caller != nullptr) handBack(a, txo, caller, inPanic, releaseInPanic);
  return n;
}

// Reaps every valid completion; *freed receives the entries freed.
static vmk_uint32 reapCompletions(Adapter* a, tamsil_txo* txo, vmk_Bool inPanic, vmk_Bool releaseInPanic,
                                  vmk_uint64* freed) {
  QueueInfo* cq = &txo->cq;
  vmk_uint32 num = 0;
  *freed = 0;
  for (;;) {
    vmk_uint32* e =
        reinterpret_cast<vmk_uint32*>(static_cast<vmk_uint8*>(cq->mem.va) + (vmk_uint32)cq->tail * cq->entry_size);
    if (__atomic_load_n(&e[3], __ATOMIC_ACQUIRE) == 0) break;
    vmk_CPUMemFenceRead();
    const vmk_uint16 last = (vmk_uint16)(e[0] & 0xFFFF);
    __atomic_store_n(&e[3], 0u, __ATOMIC_RELAXED);
    tamsil_statSet(cq->tail, tamsil_ringNext(a, cq->tail, cq->len));
    *freed += tamsil_txComplProcess(a, txo, last, inPanic, releaseInPanic);
    num++;
  }
  return num;
}

vmk_uint32 tamsil_pollTx(Adapter* a, tamsil_txo* txo, vmk_Bool inPanic, vmk_Bool releaseInPanic) {
  vmk_uint64 freed = 0;
  const vmk_uint32 num = reapCompletions(a, txo, inPanic, releaseInPanic, &freed);
  if (num == 0) return 0;
  if (!tamsil_hwError(a)) tamsil_cqNotify(a, txo->cq.id, VMK_TRUE, num);
  vmk_AtomicSub64(&txo->q.used, freed);
  if (!tamsil_flagTest(a, TAMSIL_FLAG_RECONFIG) && tamsil_isTxQueueStopped(a, txo->idx) &&
      vmk_AtomicRead64(&txo->q.used) < TAMSIL_TX_RESTART_BELOW)
    tamsil_startTxQueue(a, txo->idx, 0);
  tamsil_statAdd(txo->tx_compl, num);
  return num;
}

void tamsil_txComplClean(Adapter* a) {
  const vmk_uint32 polls = tamsil_traitsOf(a)->tx_drain_polls;
  const vmk_uint32 nq = a->num_tx_queues < TAMSIL_MAX_VECTORS ? a->num_tx_queues : TAMSIL_MAX_VECTORS;
  vmk_uint32 timeo = 0, pending = 0;
  for (;;) {
    pending = 0;
    for (vmk_uint32 i = 0; i < nq; i++) {
      tamsil_txo* txo = &a->txo[i];
      if (!txo->q.created || !txo->cq.created) continue;
      vmk_uint64 freed = 0;
      const vmk_uint32 num = reapCompletions(a, txo, VMK_TRUE, VMK_TRUE, &freed);
      if (num != 0) {
        if (!tamsil_hwError(a)) tamsil_cqNotify(a, txo->cq.id, VMK_FALSE, num);
        vmk_AtomicSub64(&txo->q.used, freed);
      }
      if (vmk_AtomicRead64(&txo->q.used) != 0) pending++;
    }
    if (pending == 0) {
      TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "All TX queues quiesced\n");
      return;
    }
    if (timeo >= polls || tamsil_hwError(a)) break;
    vmk_WorldSleep(1000);
    timeo++;
  }
  TAMSIL_ERR(a, "%d TX queues pending completion. timeo: %d, hw_error: %d\n", (int)pending, (int)timeo,
             (int)tamsil_hwError(a));
  for (vmk_uint32 i = 0; i < nq; i++) {
    tamsil_txo* txo = &a->txo[i];
    QueueInfo* q = &txo->q;
    if (!q->created || !txo->cq.created) continue;
    const vmk_uint64 used = vmk_AtomicRead64(&q->used);
    if (used == 0) continue;
    TAMSIL_ERR(a, "%lu pending tx-completions on txo[%d]\n", (unsigned long)used, (int)i);
    const vmk_uint32 dist = (vmk_uint32)(q->head - q->tail) & (q->len - 1u);
    if (dist != used) {
      TAMSIL_ERR(a, "txo[%d]: (tail - head) (%d) != used (%ld). Not freeing pending Tx Compls\n", (int)i, (int)dist,
                 (long)used);
      continue;
    }
    while (vmk_AtomicRead64(&q->used) != 0) {
      const vmk_uint32 count = (wrbAt(q, q->tail)[2] >> kHdrCountShift) & kHdrCountMask;
      if (count == 0) break;
      const vmk_uint16 last = (vmk_uint16)((q->tail + count - 1) & (q->len - 1u));
      vmk_AtomicSub64(&q->used, tamsil_txComplProcess(a, txo, last, VMK_TRUE, VMK_TRUE));
    }
  }
}

/* ------------------------------------------------------------------------ */
/* Netdump                                                                   */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_panicInfoGet(Adapter* a, tamsil_panicInfo* info) {
  TAMSIL_DBG(a, TAMSIL_DBG_UPLINK, TAMSIL_LOG_LEVEL_INFO2, "Driver panicInfoGet\n");
  info->intrCookie = a->intr_cookie[0];
  info->clientData.ptr = a;
  return VMK_OK;
}

VMK_ReturnStatus tamsil_panicTx(Adapter* a, vmk_PktList* list) {
  vmk_PktHandle* first = vmk_PktListGetFirstPkt(list);
  if (first != nullptr) vmk_PktQueueIDSet(first, tamsil_queueIdVal(a->queue_info.defaultTxQueueID));
  __atomic_fetch_or(&a->features, (vmk_uint32)TAMSIL_FEAT_NETDUMP_TX, __ATOMIC_RELAXED);
  VMK_ReturnStatus st = tamsil_uplinkTx(a, list);
  __atomic_fetch_and(&a->features, ~(vmk_uint32)TAMSIL_FEAT_NETDUMP_TX, __ATOMIC_RELAXED);
  return st;
}

VMK_ReturnStatus tamsil_panicPoll(Adapter* a, vmk_PktList* list) {
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO2, "Driver panicPoll\n");
  TAMSIL_DBG(a, TAMSIL_DBG_PANIC, TAMSIL_LOG_LEVEL_INFO2, "pollTx Queue 0\n");
  if (a->txo[0].q.created && a->txo[0].cq.created) tamsil_pollTx(a, &a->txo[0], VMK_TRUE, VMK_TRUE);
  for (vmk_uint32 i = 0; i < a->num_vectors && i < TAMSIL_MAX_VECTORS; i++) {
    tamsil_eqClean(a, &a->eqo[i], VMK_FALSE);
    TAMSIL_DBG(a, TAMSIL_DBG_RX, TAMSIL_LOG_LEVEL_INFO2, "pollRx Queue %d \n", (int)i);
    tamsil_pollRx(a, &a->rxo[i], TAMSIL_NETDUMP_RX_BUDGET, VMK_TRUE, list);
  }
  return VMK_OK;
}

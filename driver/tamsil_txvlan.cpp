// VLAN tags the driver writes into transmitted frames itself, and the choice
// of frames the management controller gets a copy of.
#include "tamsil_txvlan.h"

#include <cstring>

#include "tamsil_gen.h"

namespace {

constexpr vmk_uint32 kMacBytes = 12;   // destination and source address
constexpr vmk_uint32 kTagBytes = 4;
constexpr vmk_uint32 kMaxTags = 2;
constexpr vmk_uint16 kTpidVlan = 0x8100;
constexpr vmk_uint16 kEtherArp = 0x0806;

inline vmk_uint16 be16(const vmk_uint8* p) { return (vmk_uint16)(p[0] << 8 | p[1]); }

// The management controller's filter mask.
enum : vmk_uint16 {
  kBmcArp = 1u << 0,
  kBmcDhcpClient = 1u << 1,
  kBmcDhcpServer = 1u << 2,
  kBmcNetbios = 1u << 3,
  kBmcBroadcast = 1u << 7,
  kBmcNeighborAdv = 1u << 8,
  kBmcRouterAdv = 1u << 9,
  kBmcDhcpv6 = 1u << 10,
  kBmcMulticast = 1u << 15,
};

}  // namespace

VMK_ReturnStatus tamsil_insertVlanInPkt(Adapter* a, vmk_PktHandle** pktp, vmk_Bool isCallerPkt,
                                        vmk_uint32 callerFrameLen, vmk_uint8* inserted) {
  vmk_PktHandle* pkt = *pktp;
  if (tamsil_hasTrait(a, TAMSIL_GT_QNQ_TAGGING) && tamsil_isMultiChannel(a) && tamsil_evtLoad(a->qnq_received) == 0) {
    TAMSIL_LOG_RATELIMITED("%s: Tx pkt VLAN insertion is not possible since HW tagging is not enabled by FW\n",
                           tamsil_devName(a));
    return VMK_FAILURE;
  }
  // Outer tag first. Room is made for exactly the tags written: a QnQ frame
  // of its own untagged gets the outer tag alone, never an empty second slot.
  vmk_uint16 tags[kMaxTags];
  vmk_uint32 n = 0;
  if (tamsil_isQnqMode(a)) tags[n++] = (vmk_uint16)(tamsil_evtLoad(a->qnq_vid) & 0xFFF);
  if (vmk_PktMustVlanTag(pkt)) {
    tags[n++] = tamsil_txVlanTag(a, pkt);
  } else if (tamsil_isPvidMode(a) && tamsil_evtLoad(a->pvid) != 0) {
    tags[n++] = tamsil_evtLoad(a->pvid);
  }
  if (n == 0) {
    TAMSIL_ERR(a, "vlanHdrLen = 0 which is Unexpected ..\n");
    return VMK_FAILURE;
  }
  const vmk_uint32 room = n * kTagBytes;

  if (vmk_PktPullHeadroom(pkt, room) != VMK_OK) {
    // No room in this buffer: a copy of the frame with room before it.
    vmk_uint32 shortened = 0;
    bool restore = false;
    if (isCallerPkt && vmk_PktFrameLenGet(pkt) != callerFrameLen) {
      shortened = vmk_PktFrameLenGet(pkt);
      restore = true;
      vmk_PktFrameLenSet(pkt, callerFrameLen);
    }
    vmk_PktHandle* copy = nullptr;
    // The caller's packet keeps its own length from here on; the copy is
    // the one shortened.
    VMK_ReturnStatus st = vmk_PktPartialCopyWithHeadroom(pkt, kMacBytes, room, &copy);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Tx pkt VLAN insertion is not possible since partial copy failed with 0x%x\n", st);
      return st;
    }
    if (restore && (st = vmk_PktFrameLenSet(copy, shortened)) != VMK_OK) {
      TAMSIL_ERR(a, "Failed to set frameLen 0x%x\n", st);
      tamsil_txPktRelease(a, copy);
      return st;
    }
    st = vmk_PktPullHeadroom(copy, room);
    if (st != VMK_OK) {
      TAMSIL_ERR(a, "Tx pkt VLAN insertion is not possible since headroom pull failed with 0x%x\n", st);
      tamsil_txPktRelease(a, copy);
      return st;
    }
    if (!isCallerPkt) tamsil_txPktRelease(a, pkt);
    pkt = copy;
    *pktp = pkt;
  }
  vmk_uint8* f = vmk_PktFrameMappedPointerGet(pkt);
  memmove(f, f + room, kMacBytes);
  for (vmk_uint32 i = 0; i < n; i++) {
    vmk_uint8* t = f + kMacBytes + i * kTagBytes;
    t[0] = (vmk_uint8)(kTpidVlan >> 8);
    t[1] = (vmk_uint8)kTpidVlan;
    t[2] = (vmk_uint8)(tags[i] >> 8);
    t[3] = (vmk_uint8)tags[i];
  }
  vmk_PktHeaderInvalidate(pkt, 0);
  *inserted = 1;
  return VMK_OK;
}

VMK_ReturnStatus tamsil_pktParseL4HdrForOs2bmc(vmk_PktHandle* pkt, vmk_Bool* isUdp, vmk_Bool* isIcmpv6,
                                              vmk_uint16* udpDstPort, vmk_uint8* icmpv6Type) {
  *isUdp = VMK_FALSE;
  *isIcmpv6 = VMK_FALSE;
  *udpDstPort = 0;
  *icmpv6Type = 0;
  vmk_PktHeaderEntry l4;
  VMK_ReturnStatus st = vmk_PktHeaderL4Find(pkt, 0, &l4, nullptr);
  if (st != VMK_OK) return st;
  if (l4.type != VMK_PKT_HEADER_L4_UDP && l4.type != VMK_PKT_HEADER_L4_ICMPv6) return VMK_OK;
  void* data = nullptr;
  st = vmk_PktHeaderDataGet(pkt, &l4, &data);
  if (st != VMK_OK) return st;
  const vmk_uint8* h = static_cast<const vmk_uint8*>(data);
  if (l4.type == VMK_PKT_HEADER_L4_UDP) {
    *isUdp = VMK_TRUE;
    *udpDstPort = be16(h + 2);
  } else {
    *isIcmpv6 = VMK_TRUE;
    *icmpv6Type = h[0];
  }
  return VMK_OK;
}

// Is the frame behind its tags an ARP frame?
static bool isArp(vmk_PktHandle* pkt) {
  const vmk_uint8* f = vmk_PktFrameMappedPointerGet(pkt);
  const vmk_uint32 len = vmk_PktFrameLenGet(pkt);
  vmk_uint32 at = kMacBytes;
  while (at + 2 <= len) {
    vmk_uint16 et = be16(f + at);
    if (et != kTpidVlan) return et == kEtherArp;
    at += kTagBytes;
  }
  return false;
}

bool tamsil_os2bmcSelect(Adapter* a, vmk_PktHandle* pkt) {
  if ((tamsil_evtLoad(a->features) & TAMSIL_FEAT_OS2BMC) == 0) return false;
  if (vmk_PktFrameLenGet(pkt) < 6) return false;
  const vmk_uint8* dst = vmk_PktFrameMappedPointerGet(pkt);
  if ((dst[0] & 1) == 0) return false;
  const vmk_uint16 m = tamsil_evtLoad(a->os2bmc_filter);
  bool bcast = true;
  for (int i = 0; i < 6; i++) bcast = bcast && dst[i] == 0xFF;
  if (!bcast && (m & kBmcMulticast) == 0) return true;
  if (bcast && (m & kBmcBroadcast) == 0) return true;
  if (bcast && (m & kBmcArp) != 0) {
    vmk_PktHeaderEntry l2;
    if (vmk_PktHeaderL2Find(pkt, 0, &l2, nullptr) == VMK_OK && l2.nextHdrType == VMK_PKT_HEADER_NONE &&
        isArp(pkt))
      return true;
  }
  vmk_Bool udp, icmp6;
  vmk_uint16 port;
  vmk_uint8 type;
  if (tamsil_pktParseL4HdrForOs2bmc(pkt, &udp, &icmp6, &port, &type) != VMK_OK) return false;
  if (icmp6) {
    if (type == 134) return (m & kBmcRouterAdv) != 0;
    if (type == 136) return (m & kBmcNeighborAdv) != 0;
    return false;
  }
  if (udp) {
    switch (port) {
      case 67: return (m & kBmcDhcpServer) != 0;
      case 68: return (m & kBmcDhcpClient) != 0;
      case 137:
      case 138: return (m & kBmcNetbios) != 0;
      case 547: return (m & kBmcDhcpv6) != 0;
      default: return false;
    }
  }
  return false;
}

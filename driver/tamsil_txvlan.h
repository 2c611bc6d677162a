// Transmit-side VLAN tagging by the driver and the choice of frames that
// also go to the adapter's management controller (tamsil_txvlan.cpp), as the
// transmit path (tamsil_tx.cpp) uses them.
#pragma once

#include "tamsil.h"
#include "vmk_uplink.h"

// Values the firmware's events change while packets are sent.
template <typename T>
static inline T tamsil_evtLoad(const T& v) {
  return __atomic_load_n(&v, __ATOMIC_RELAXED);
}

// Multi-channel function modes, and the two kinds of them: the QnQ modes put
// an outer tag on every frame, the others tag untagged frames with the PVID.
static inline bool tamsil_isMultiChannel(const Adapter* a) {
  switch (a->function_mode) {
    case 2: case 3: case 4: case 6: case 7: case 8: case 10: return true;
    default: return false;
  }
}
static inline bool tamsil_isQnqMode(const Adapter* a) {
  switch (a->function_mode) {
    case 3: case 4: case 6: case 8: return true;
    default: return false;
  }
}
static inline bool tamsil_isPvidMode(const Adapter* a) {
  return a->function_mode == 2 || a->function_mode == 7 || a->function_mode == 10;
}

// The tag of a frame the stack wants tagged: its VLAN id with its own
// priority when the port lets that priority through, else the priority the
// firmware recommends.
static inline vmk_uint16 tamsil_txVlanTag(const Adapter* a, const vmk_PktHandle* pkt) {
  vmk_uint16 tag = (vmk_uint16)(vmk_PktVlanIDGet(pkt) & 0x1FFF);
  vmk_uint8 prio = vmk_PktPriorityGet(pkt) & 7;
  if (tamsil_evtLoad(a->vlan_prio_bmap) & (1u << prio)) return (vmk_uint16)(tag | (prio << 13));
  return (vmk_uint16)(tag | (tamsil_evtLoad(a->recommended_prio) & 0xE000));
}

// Writes the tags the function mode and the packet call for into the frame
// itself. On success *pkt may be a driver-made copy (an old driver-made copy
// is released; the caller's own packet never is) and *inserted is 1. On
// failure the caller's packet is as it was.
VMK_ReturnStatus tamsil_insertVlanInPkt(Adapter* adapter, vmk_PktHandle** pkt, vmk_Bool isCallerPkt,
                                        vmk_uint32 callerFrameLen, vmk_uint8* inserted);

// The L4 facts the management-controller choice needs.
VMK_ReturnStatus tamsil_pktParseL4HdrForOs2bmc(vmk_PktHandle* pkt, vmk_Bool* isUdp, vmk_Bool* isIcmpv6,
                                              vmk_uint16* udpDstPort, vmk_uint8* icmpv6Type);

// Does this frame also go to the management controller?
bool tamsil_os2bmcSelect(Adapter* adapter, vmk_PktHandle* pkt);

// Releases a packet of the transmit path: with the panic-safe release while
// netdump transmits (the kernel is panicking), else the usual one.
static inline void tamsil_txPktRelease(const Adapter* a, vmk_PktHandle* pkt) {
  if (tamsil_evtLoad(a->features) & TAMSIL_FEAT_NETDUMP_TX)
    vmk_PktReleasePanic(pkt);
  else
    vmk_PktRelease(pkt);
}

struct tamsil_txo;
// Transmits one packet of `frameLen` bytes on the queue, or drops it with a
// counter; the packet is the driver's from here on.
void tamsil_queuedPkt(Adapter* adapter, tamsil_txo* txo, vmk_PktHandle* pkt, vmk_uint32 frameLen);

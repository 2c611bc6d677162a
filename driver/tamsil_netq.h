// NetQueue: the kernel's queue operations on the uplink (allocation, start,
// quiesce, filters, statistics) and the MAC and VXLAN receive filters behind
// them (tamsil_netq.cpp). The queue operations the driver itself uses are in
// tamsil_datapath.h.
#pragma once

#include "tamsil_datapath.h"
#include "vmk_uplink.h"

// One applied VXLAN filter, kept in the Adapter's VXLAN table under its
// firmware tunnel filter id.
struct VxlanHashNode {
  vmk_uint8 inner_mac[6];
  vmk_uint16 filter_id;   // firmware tunnel filter id
  vmk_uint16 outer_pmac;  // pmac index of the outer MAC
  vmk_uint32 vxlan_id;
};

// Kernel filter ids: a MAC filter's is its pmac index; a VXLAN filter's is
// its tunnel filter id with this bit set.
#define TAMSIL_VXLAN_FILTER_BIT 0x8000u
#define TAMSIL_VXLAN_ID_MAX 0xFFFFFFu

// tamsil_pmacSrcMacLookup kinds and results.
#define TAMSIL_PMAC_KIND_NIC 1u
#define TAMSIL_PMAC_KIND_RDMA 2u
#define TAMSIL_PMAC_NOT_FOUND 0u
#define TAMSIL_PMAC_NIC_HELD 3u
#define TAMSIL_PMAC_RDMA_HELD 4u

// The MULTI_QUEUE capability's table (registered at associate with MSI-X).
extern const vmk_UplinkQueueOps tamsilQueueOps;

VMK_ReturnStatus tamsil_allocQueue(Adapter* adapter, vmk_uint32 type, vmk_uint64* qid, vmk_NetPoll* netpoll);
VMK_ReturnStatus tamsil_allocQueueWithAttr(Adapter* adapter, vmk_uint32 type, vmk_uint16 numAttr,
                                           const vmk_UplinkQueueAttr* attr, vmk_uint64* qid, vmk_NetPoll* netpoll);
VMK_ReturnStatus tamsil_freeQueue(Adapter* adapter, vmk_uint64 qid);
VMK_ReturnStatus tamsil_quiesceQueue(Adapter* adapter, vmk_uint64 qid);
VMK_ReturnStatus tamsil_startQueue(Adapter* adapter, vmk_uint64 qid);
VMK_ReturnStatus tamsil_applyQueueFilter(Adapter* adapter, vmk_uint64 qid, const vmk_UplinkQueueFilter* filter,
                                         vmk_uint32* fid, vmk_uint32* pairTx);
VMK_ReturnStatus tamsil_removeQueueFilter(Adapter* adapter, vmk_uint64 qid, vmk_uint32 fid);
VMK_ReturnStatus tamsil_getQueueStats(Adapter* adapter, vmk_uint64 qid, vmk_UplinkQueueStats* stats);

// Filters of receive queue value q (called with pmac_lock held).
VMK_ReturnStatus tamsil_applyQueueMACFilter(Adapter* adapter, vmk_uint32 q, const vmk_uint8* mac, vmk_uint32* fid,
                                            vmk_uint32* pairTx);
VMK_ReturnStatus tamsil_applyQueueVxLANFilter(Adapter* adapter, vmk_uint32 q,
                                              const vmk_UplinkQueueVXLANFilterInfo* filter, vmk_uint32* fid,
                                              vmk_uint32* pairTx);

// Finds the pmac entry in use that holds `mac`: 0 none, 3 held by a NIC
// filter, 4 held for the RDMA function only. Kind 2 (the RDMA function)
// takes a reference on the entry it finds; kind 1 changes nothing. `index`
// and `queue` (either may be NULL) receive the entry's index and queue.
vmk_uint32 tamsil_pmacSrcMacLookup(Adapter* adapter, const vmk_uint8* mac, vmk_uint32 kind, vmk_uint32* index,
                                   vmk_uint32* queue);

// VXLAN table walk of the VXLAN clear: frees each node of this adapter's
// table (data: the Adapter).
vmk_HashKeyIteratorCmd tamsil_vxlanHashTableIterator(vmk_HashTable table, vmk_HashKey key, vmk_HashValue value,
                                                     vmk_AddrCookie data);

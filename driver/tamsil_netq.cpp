// NetQueue operations of the uplink and the receive filters behind them: the
// MAC filter table (pmac, reference-counted between this driver's filters
// and the sibling RDMA function), VXLAN inner-MAC filters with their outer
// MAC entries, queue allocation, start, quiesce and statistics.
#include "tamsil_netq.h"

#include <cstring>
#include <initializer_list>

#include "tamsil_cmds.h"
#include "tamsil_gen.h"

namespace {

inline Adapter* adapterOf(vmk_AddrCookie c) { return static_cast<Adapter*>(c.ptr); }

vmk_uint32 rxQueues(const Adapter* a) {
  return a->queue_info.maxRxQueues < TAMSIL_MAX_VECTORS ? a->queue_info.maxRxQueues : TAMSIL_MAX_VECTORS;
}
vmk_uint32 txQueues(const Adapter* a) { return a->queue_info.maxTxQueues; }

// A receive queue id's value (its ring), or -1 when the id names none.
int rxValue(const Adapter* a, vmk_uint64 qid) {
  const vmk_uint32 v = tamsil_queueIdVal(qid);
  return tamsil_queueIdType(qid) == TAMSIL_QTYPE_UPLINK_RX && v < rxQueues(a) ? (int)v : -1;
}
// A transmit queue id's txo index, or -1.
int txIndex(const Adapter* a, vmk_uint64 qid) {
  const vmk_uint32 v = tamsil_queueIdVal(qid), M = a->queue_info.maxRxQueues;
  if (tamsil_queueIdType(qid) != TAMSIL_QTYPE_UPLINK_TX || v < M || v - M >= txQueues(a)) return -1;
  if (v - M >= TAMSIL_MAX_VECTORS || v >= TAMSIL_MAX_UPLINK_QUEUES) return -1;
  return (int)(v - M);
}

vmk_uint32 ringIf(const Adapter* a, vmk_uint32 ring) { return ring < TAMSIL_MAX_VECTORS ? a->rxo[ring].if_id : 0; }
bool tunnelMode(const Adapter* a, vmk_uint32 ring) { return ring < TAMSIL_MAX_VECTORS && a->rxo[ring].tunnel_mode == 2; }

bool rssOn(const Adapter* a) { return (a->features & TAMSIL_FEAT_RSS) != 0; }
bool drssOn(const Adapter* a) { return (a->features & TAMSIL_FEAT_DRSS) != 0; }
bool pivard(const Adapter* a) { return tamsil_hasTrait(a, TAMSIL_GT_IF_FILTERS); }

// The default queue takes MAC filters only when other functions share the
// port: virtual functions, or the multi-channel modes that split it.
bool defaultQueueFilters(const Adapter* a) {
  if (a->num_vfs > 0 && tamsil_hasTrait(a, TAMSIL_GT_VF_DEFAULT_QUEUE)) return true;
  const vmk_uint8 m = a->function_mode;
  return m == 2 || m == 5 || m == 7 || m == 10;
}

void setPair(Adapter* a, vmk_uint32 q, bool on) {
  const vmk_uint32 t = a->queue_info.maxRxQueues + q;
  for (vmk_uint32 i : {q, t}) {
    if (i >= TAMSIL_MAX_UPLINK_QUEUES) continue;
    if (on)
      a->uplink_qdata[i].activeFeatures |= TAMSIL_QUEUE_FEAT_PAIR;
    else
      a->uplink_qdata[i].activeFeatures &= ~TAMSIL_QUEUE_FEAT_PAIR;
  }
}

// A filter taken on queue q: the queue and its transmit partner are paired.
void filterTaken(Adapter* a, vmk_uint32 q, vmk_uint32* pairTx) {
  if (pairTx != nullptr) *pairTx = a->queue_info.maxRxQueues + q;
  tamsil_sharedDataBegin(a);
  setPair(a, q, true);
  a->uplink_qdata[q].activeFilters++;
  tamsil_sharedDataEnd(a);
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
             "Setting activeFeatures to include VMK_UPLINK_QUEUE_FEAT_PAIR for qidVal: %d\n", (int)q);
}

bool queueFull(Adapter* a, vmk_uint32 q) {
  const qData* d = &a->uplink_qdata[q];
  return d->activeFilters >= d->maxFilters;
}

// Takes a MAC out of the firmware from ring `ring`'s interface in the form
// it was added with.
vmk_uint32 pmacFirmwareDel(Adapter* a, vmk_uint32 ring, vmk_uint32 id) {
  if (pivard(a) && ring != tamsil_rssLeadingRing(a)) return tamsil_cmdDelIfQueueFilter(a, ringIf(a, ring), id, 0);
  if (tunnelMode(a, ring)) return tamsil_cmdPmacDelV1(a, ringIf(a, ring), id, 0);
  return tamsil_cmdPmacDel(a, ringIf(a, ring), id, 0);
}

// The firmware's PMAC and interface-filter ids index the 128-entry table: an
// id beyond it cannot be recorded, so the filter it names is taken out again.
bool pmacIdFits(Adapter* a, vmk_uint32 ring, vmk_uint32 id) {
  if (id < TAMSIL_PMAC_ENTRIES) return true;
  TAMSIL_ERR(a, "Firmware filter id %u on qidVal:%d is beyond the MAC filter table, filter removed\n", id, (int)ring);
  pmacFirmwareDel(a, ring, id);
  return false;
}

}  // namespace

/* ------------------------------------------------------------------------ */
/* MAC filter table                                                          */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_pmacSrcMacLookup(Adapter* a, const vmk_uint8* mac, vmk_uint32 kind, vmk_uint32* index,
                                   vmk_uint32* queue) {
  if (mac == nullptr) return TAMSIL_PMAC_NOT_FOUND;
  for (vmk_uint32 i = 0; i < TAMSIL_PMAC_ENTRIES; i++) {
    tamsil_pmacEntry* e = &a->pmac[i];
    if (e->nic_ref + e->rdma_ref == 0 || memcmp(e->mac, mac, 6) != 0) continue;
    vmk_uint32 r;
    if (kind == TAMSIL_PMAC_KIND_RDMA) {
      r = e->rdma_ref != 0 ? TAMSIL_PMAC_RDMA_HELD : TAMSIL_PMAC_NIC_HELD;
      e->rdma_ref++;
    } else {
      r = e->nic_ref != 0 ? TAMSIL_PMAC_NIC_HELD : TAMSIL_PMAC_RDMA_HELD;
    }
    if (index != nullptr) *index = i;
    if (queue != nullptr) *queue = e->queue;
    return r;
  }
  return TAMSIL_PMAC_NOT_FOUND;
}

/* ------------------------------------------------------------------------ */
/* Filters                                                                   */
/* ------------------------------------------------------------------------ */

#define MAC_FMT "%02x:%02x:%02x:%02x:%02x:%02x"
#define MAC_ARGS(m) (m)[0], (m)[1], (m)[2], (m)[3], (m)[4], (m)[5]

VMK_ReturnStatus tamsil_applyQueueMACFilter(Adapter* a, vmk_uint32 q, const vmk_uint8* mac, vmk_uint32* fid,
                                            vmk_uint32* pairTx) {
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "qidVal: %d  mac:" MAC_FMT "\n", (int)q, MAC_ARGS(mac));
  if (q == 0 && !defaultQueueFilters(a)) {
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "qidVal is 0, Ignoring\n");
    return VMK_OK;
  }
  if (queueFull(a, q)) {
    const qData* d = &a->uplink_qdata[q];
    if (q != 0)
      TAMSIL_ERR(a, "Reached max filter count qData[%d].activeFilters = %d (max %d). Filter not applied\n", (int)q,
                 (int)d->activeFilters, (int)d->maxFilters);
    else
      TAMSIL_ERR(a,
                 "Sharing physical port of uplink %s may not be able to communicate with virtual nic with MAC " MAC_FMT
                 "\n",
                 a->function_mode == 5 ? "NPAR PFs" : "VFs", MAC_ARGS(mac));
    return VMK_FAILURE;
  }
  vmk_uint32 idx = 0, owner = 0;
  const vmk_uint32 found = tamsil_pmacSrcMacLookup(a, mac, TAMSIL_PMAC_KIND_NIC, &idx, &owner);
  if (found == TAMSIL_PMAC_NIC_HELD) {
    TAMSIL_ERR(a, "Filter already applied on fidVal %d\n", (int)idx);
    return VMK_FAILURE;
  }
  if (found == TAMSIL_PMAC_RDMA_HELD) {
    if (owner != q) {
      TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
                 "Roce Filter already exists on fidVal %d, migrating to qid: %d\n", (int)idx, (int)q);
      if (tamsil_cmdPmacMigrate(a, ringIf(a, owner), ringIf(a, q), idx, 0) != 0) {
        TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
                   "Filter migrate failed for fidVal %d from qidVal (%d) to qidVal (%d)\n", (int)idx, (int)owner,
                   (int)q);
        return VMK_FAILURE;
      }
      TAMSIL_WARN(a, "Successfully migrated mac filter from qidVal: %d to qidVal:%d, fidVal:%d\n", (int)owner, (int)q,
                  (int)idx);
    }
  } else {
    vmk_uint32 st;
    if (pivard(a) && q != tamsil_rssLeadingRing(a))
      st = tamsil_cmdAddIfQueueFilter(a, mac, ringIf(a, q), &idx, 0, a->rxo[q].cq.id);
    else
      st = tamsil_cmdPmacAdd(a, mac, ringIf(a, q), &idx, 0, tunnelMode(a, q) ? 2 : 1);
    if (st != 0) {
      TAMSIL_ERR(a, "Failed to add mac.. qidVal:%d, status (0x%x)\n", (int)q, st);
      return VMK_FAILURE;
    }
    if (!pmacIdFits(a, q, idx)) return VMK_FAILURE;
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Successfully added mac filter.. qidVal:%d, fidVal:%d\n",
               (int)q, (int)idx);
  }
  tamsil_pmacEntry* e = &a->pmac[idx];
  e->nic_ref = 1;
  e->queue = q;
  memcpy(e->mac, mac, 6);
  if (fid != nullptr) *fid = idx;
  filterTaken(a, q, pairTx);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_applyQueueVxLANFilter(Adapter* a, vmk_uint32 q, const vmk_UplinkQueueVXLANFilterInfo* f,
                                              vmk_uint32* fid, vmk_uint32* pairTx) {
  if (f->vxlanID == 0 || f->vxlanID > TAMSIL_VXLAN_ID_MAX) {
    TAMSIL_ERR(a, "Invalid VxlanId: %d on Qid: %d omac: " MAC_FMT " imac: " MAC_FMT "\n", (int)f->vxlanID, (int)q,
               MAC_ARGS(f->outerMAC), MAC_ARGS(f->innerMAC));
    return VMK_FAILURE;
  }
  if (q == 0) {
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "qidVal is 0, Ignoring\n");
    if (fid != nullptr) *fid = TAMSIL_VXLAN_FILTER_BIT;
    return VMK_OK;
  }
  if (queueFull(a, q)) {
    const qData* d = &a->uplink_qdata[q];
    TAMSIL_ERR(a, "Reached max filter count qData[%d].activeFilters = %d (max %d). Filter not applied\n", (int)q,
               (int)d->activeFilters, (int)d->maxFilters);
    return VMK_FAILURE;
  }
  // The outer MAC lives on the default (tunnel) interface, shared by every
  // filter that names it.
  vmk_uint32 outer = 0, owner = 0;
  if (tamsil_pmacSrcMacLookup(a, f->outerMAC, TAMSIL_PMAC_KIND_NIC, &outer, &owner) != TAMSIL_PMAC_NOT_FOUND) {
    if (owner != 0) {
      TAMSIL_ERR(a, "Error: Outer MAC  already applied on non tunnel interface q_id %d with filterId %d\n", (int)owner,
                 (int)outer);
      return VMK_FAILURE;
    }
    a->pmac[outer].nic_ref++;
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Outer MAC already applied with filterId %d\n",
               (int)outer);
  } else {
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Configuring Outer MAC to RxIf: %d\n",
               (int)ringIf(a, 0));
    vmk_uint32 st = tamsil_cmdPmacAdd(a, f->outerMAC, ringIf(a, 0), &outer, 0, tunnelMode(a, 0) ? 2 : 1);
    if (st != 0) {
      TAMSIL_ERR(a, "Error: tamsil_cmdPmacAdd Failed (0x%x)\n", st);
      return VMK_FAILURE;
    }
    if (!pmacIdFits(a, 0, outer)) return VMK_FAILURE;
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "tamsil_cmdPmacAdd Success.. filterId:%d\n", (int)outer);
    tamsil_pmacEntry* e = &a->pmac[outer];
    e->nic_ref = 1;
    e->queue = 0;
    memcpy(e->mac, f->outerMAC, 6);
  }
  VxlanHashNode* node = static_cast<VxlanHashNode*>(vmk_HeapAlloc(tamsilDriver.heap_id, sizeof(VxlanHashNode)));
  if (node == nullptr) {
    TAMSIL_ERR(a, "vmk_HeapAlloc failed for vxlan hash table node\n");
    return VMK_FAILURE;
  }
  vmk_uint32 tunnel = 0;
  vmk_uint32 st = tamsil_cmdManageIfaceFiltersCreate(a, a->rxo[q].tunnel_mode == 0 ? 2 : 5, ringIf(a, 0),
                                                      ringIf(a, q), f->innerMAC, f->vxlanID, &tunnel);
  if (st != 0) {
    TAMSIL_ERR(a, "Failed to add vxlan filter,  status: 0x%x\n", st);
    vmk_HeapFree(tamsilDriver.heap_id, node);
    return VMK_FAILURE;
  }
  // The kernel filter id keeps the tunnel id in its low 15 bits: a larger
  // id could not be found again at removal.
  if (tunnel >= TAMSIL_VXLAN_FILTER_BIT) {
    TAMSIL_ERR(a, "Firmware tunnel filter id %u on qidVal:%d does not fit a filter id, filter removed\n", tunnel,
               (int)q);
    tamsil_cmdManageIfaceFiltersDelete(a, ringIf(a, q), tunnel);
    vmk_HeapFree(tamsilDriver.heap_id, node);
    return VMK_FAILURE;
  }
  a->rxo[q].tunnel_mode = 2;
  memcpy(node->inner_mac, f->innerMAC, 6);
  node->filter_id = (vmk_uint16)tunnel;
  node->outer_pmac = (vmk_uint16)outer;
  node->vxlan_id = f->vxlanID;
  vmk_uint32 key = tunnel;
  VMK_ReturnStatus hs = vmk_HashKeyInsert(a->vxlan_table, &key, node);
  if (hs != VMK_OK) {
    TAMSIL_ERR(a, "Error: Insertion of vxlan hash node failed status: 0x%x\n", hs);
    tamsil_cmdManageIfaceFiltersDelete(a, ringIf(a, q), tunnel);
    vmk_HeapFree(tamsilDriver.heap_id, node);
    return VMK_FAILURE;
  }
  if (fid != nullptr) *fid = tunnel | TAMSIL_VXLAN_FILTER_BIT;
  filterTaken(a, q, pairTx);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_applyQueueFilter(Adapter* a, vmk_uint64 qid, const vmk_UplinkQueueFilter* filter,
                                         vmk_uint32* fid, vmk_uint32* pairTx) {
  const int q = rxValue(a, qid);
  if (q < 0 || filter == nullptr) return VMK_BAD_PARAM;
  VMK_ReturnStatus st;
  vmk_SemaLock(&a->pmac_lock);
  switch (filter->filterClass) {
    case VMK_UPLINK_QUEUE_FILTER_CLASS_MAC_ONLY:
      st = tamsil_applyQueueMACFilter(a, (vmk_uint32)q, filter->mac, fid, pairTx);
      break;
    case VMK_UPLINK_QUEUE_FILTER_CLASS_VXLAN:
      st = tamsil_applyQueueVxLANFilter(a, (vmk_uint32)q, &filter->vxlan, fid, pairTx);
      break;
    default:
      TAMSIL_ERR(a, "Unsupported netq_filter class: 0x%x\n", filter->filterClass);
      st = VMK_FAILURE;
  }
  vmk_SemaUnlock(&a->pmac_lock);
  return st;
}

// Removal of one VXLAN filter from ring q; *outer receives its outer MAC's
// pmac index.
static VMK_ReturnStatus removeVxlanFilter(Adapter* a, vmk_uint32 q, vmk_uint32 f, vmk_uint32* outer) {
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Removing VxLAN filterid: %d\n", (int)f);
  vmk_uint32 key = f;
  vmk_HashValue v = nullptr;
  VMK_ReturnStatus hs = a->vxlan_table != VMK_INVALID_HASH_HANDLE ? vmk_HashKeyFind(a->vxlan_table, &key, &v)
                                                                   : VMK_NOT_FOUND;
  if (hs != VMK_OK) {
    TAMSIL_ERR(a, "Unable to remove vxlan filter - vxlan hash table id: %d lookup failed (0x%x)\n", (int)f, hs);
    return VMK_FAILURE;
  }
  VxlanHashNode* node = static_cast<VxlanHashNode*>(v);
  if (node->outer_pmac >= TAMSIL_PMAC_ENTRIES || a->pmac[node->outer_pmac].queue != 0) return VMK_FAILURE;
  vmk_uint32 st = tamsil_cmdManageIfaceFiltersDelete(a, ringIf(a, q), f);
  if (st != 0) {
    TAMSIL_ERR(a, "Failed to delete  vxlan filter, status: 0x%x\n", st);
    return VMK_FAILURE;
  }
  hs = vmk_HashKeyDelete(a->vxlan_table, &key, &v);
  if (hs != VMK_OK) {
    TAMSIL_ERR(a, "vxlan hash table node delete failedfilterid: %d status:(0x%x)\n", (int)f, hs);
    return VMK_FAILURE;
  }
  qData* d = &a->uplink_qdata[q];
  tamsil_sharedDataBegin(a);
  d->activeFilters--;
  if (d->activeFilters == 0) setPair(a, q, false);
  tamsil_sharedDataEnd(a);
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "After Removing VxLAN filter activefilters: %d\n",
             (int)d->activeFilters);
  *outer = node->outer_pmac;
  vmk_HeapFree(tamsilDriver.heap_id, node);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_removeQueueFilter(Adapter* a, vmk_uint64 qid, vmk_uint32 f) {
  const int qv = rxValue(a, qid);
  if (qv < 0) return VMK_BAD_PARAM;
  const vmk_uint32 q = (vmk_uint32)qv;
  const bool vxlan = (f & TAMSIL_VXLAN_FILTER_BIT) != 0;
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "qidVal:%d, fidVal:%d\n", (int)q, (int)f);
  if (q == 0 && (vxlan || !defaultQueueFilters(a))) {
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "qidVal is 0, Ignoring fidVal:%d\n", (int)f);
    return VMK_OK;
  }
  VMK_ReturnStatus result = VMK_OK;
  vmk_SemaLock(&a->pmac_lock);
  qData* d = &a->uplink_qdata[q];
  vmk_uint32 index = f, ring = q;
  if (d->activeFilters == 0) {
    TAMSIL_ERR(a, "qData[%d].activeFilters = %d (max %d), Ignoring\n", (int)q, (int)d->activeFilters,
               (int)d->maxFilters);
    result = VMK_FAILURE;
    goto out;
  }
  if (vxlan) {
    result = removeVxlanFilter(a, q, f & ~TAMSIL_VXLAN_FILTER_BIT, &index);
    if (result != VMK_OK) goto out;
    ring = 0;
  }
  {
    vmk_uint8 nic = 0, rdma = 0;
    vmk_uint32 owner = 0;
    const vmk_uint32 del = tamsil_pmacTableDel(a, index, &nic, &rdma, &owner);
    if (del == 0) goto out;
    if (del == 1 && nic == 0 && rdma != 0 && owner != 0) {
      // The RDMA function still uses the MAC: it goes back to the default
      // interface instead of leaving the firmware.
      if (tamsil_cmdPmacMigrate(a, ringIf(a, ring), ringIf(a, 0), index, 0) != 0) {
        TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
                   "Filter migrate failed for fidVal %d from qidVal (%d) to qidVal (%d)\n", (int)index, (int)ring, 0);
        result = VMK_FAILURE;
        goto out;
      }
      a->pmac[index].queue = 0;
    } else if (del == 2) {
      const vmk_uint32 st = pmacFirmwareDel(a, ring, index);
      if (st != 0) {
        TAMSIL_ERR(a, "Failed to delete mac.. qidVal:%d, fidVal:%d status (0x%x)\n", (int)ring, (int)index, st);
        result = VMK_FAILURE;
        goto out;
      }
    }
    if (vxlan || nic != 0) goto out;
    bool named = false;
    for (const tamsil_pmacEntry& e : a->pmac) named = named || (e.nic_ref + e.rdma_ref != 0 && e.queue == q);
    tamsil_sharedDataBegin(a);
    if (d->activeFilters != 0) d->activeFilters--;
    if (!named) setPair(a, q, false);
    tamsil_sharedDataEnd(a);
    if (!named)
      TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
                 "Clearing _FEAT_PAIR in activeFeatures for qidVal: %d\n", (int)q);
  }
out:
  vmk_SemaUnlock(&a->pmac_lock);
  return result;
}

vmk_HashKeyIteratorCmd tamsil_vxlanHashTableIterator(vmk_HashTable table, vmk_HashKey, vmk_HashValue value,
                                                     vmk_AddrCookie data) {
  Adapter* a = adapterOf(data);
  if (a == nullptr || table != a->vxlan_table) return VMK_HASH_KEY_ITER_CMD_CONTINUE;
  VxlanHashNode* node = static_cast<VxlanHashNode*>(value);
  static const vmk_uint8 kNone[6] = {0, 0, 0, 0, 0, 0};
  const vmk_uint8* omac = node->outer_pmac < TAMSIL_PMAC_ENTRIES ? a->pmac[node->outer_pmac].mac : kNone;
  TAMSIL_DBG(a, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO3,
             "Freeing vxlanHash node, ifilterId: %d ofilterId: %d, vxlanId: %d OMAC:" MAC_FMT "\n",
             (int)node->filter_id, (int)node->outer_pmac, (int)node->vxlan_id, MAC_ARGS(omac));
  vmk_HeapFree(tamsilDriver.heap_id, node);
  return VMK_HASH_KEY_ITER_CMD_CONTINUE;
}

/* ------------------------------------------------------------------------ */
/* Queues                                                                    */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus tamsil_allocQueue(Adapter* a, vmk_uint32 type, vmk_uint64* qid, vmk_NetPoll* netpoll) {
  if (type == VMK_UPLINK_QUEUE_TYPE_RX) return tamsil_allocRxQueue(a, 0, qid, netpoll);
  if (type == VMK_UPLINK_QUEUE_TYPE_TX) return tamsil_allocTxQueue(a, qid);
  return VMK_BAD_PARAM;
}

VMK_ReturnStatus tamsil_allocQueueWithAttr(Adapter* a, vmk_uint32 type, vmk_uint16 numAttr,
                                           const vmk_UplinkQueueAttr* attr, vmk_uint64* qid, vmk_NetPoll* netpoll) {
  if (attr == nullptr || numAttr == 0) return tamsil_allocQueue(a, type, qid, netpoll);
  TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Attr:: type: 0x%x, priority:0x%x, features:0x%x\n",
             attr->type, attr->args.priority, attr->args.features);
  if (attr->type != VMK_UPLINK_QUEUE_ATTR_FEAT) {
    TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "Invalid attribute type: 0x%x\n\n", attr->type);
    return VMK_BAD_PARAM;
  }
  const vmk_uint32 features = attr->args.features;
  const vmk_uint32 rssBits = VMK_UPLINK_QUEUE_FEAT_PAIR | VMK_UPLINK_QUEUE_FEAT_RSS | VMK_UPLINK_QUEUE_FEAT_RSS_DYN;
  if (features == 0) return tamsil_allocQueue(a, type, qid, netpoll);
  if ((features & rssBits) == 0) return VMK_BAD_PARAM;
  if (type != VMK_UPLINK_QUEUE_TYPE_RX) {
    if (type == VMK_UPLINK_QUEUE_TYPE_TX)
      TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
                 "Invalid queue type, RSS features are only for RX queue\n");
    return VMK_BAD_PARAM;
  }
  return tamsil_allocRxQueue(a, features, qid, netpoll);
}

VMK_ReturnStatus tamsil_freeQueue(Adapter* a, vmk_uint64 qid) {
  const int rx = rxValue(a, qid), tx = txIndex(a, qid);
  qData* d = rx >= 0 ? a->rxo[rx].qdata : tx >= 0 ? a->txo[tx].qdata : nullptr;
  if (d == nullptr) return VMK_BAD_PARAM;
  tamsil_sharedDataBegin(a);
  d->flags &= ~(TAMSIL_QDATA_ALLOCATED | TAMSIL_QDATA_DEFAULT);
  tamsil_sharedDataEnd(a);
  return VMK_OK;
}

// Quiesces ring `first` .. first+count-1 and hands over what their polls
// queued.
static void quiesceRings(Adapter* a, vmk_uint32 first, vmk_uint32 count) {
  for (vmk_uint32 r = first; r < first + count && r < TAMSIL_MAX_VECTORS; r++) {
    __atomic_store_n(&a->rxo[r].quiesced, 1, __ATOMIC_RELEASE);
    tamsil_netPollDisableFlushAndEnable(a, r);
  }
}

VMK_ReturnStatus tamsil_quiesceQueue(Adapter* a, vmk_uint64 qid) {
  const int tx = txIndex(a, qid);
  if (tx >= 0) {
    qData* d = a->txo[tx].qdata;
    const int value = (int)tamsil_queueIdVal(qid);
    if (d == nullptr || (d->flags & TAMSIL_QDATA_ALLOCATED) == 0) {
      if (a->queue_info.activeTxQueues == 0) return VMK_OK;
      TAMSIL_ERR(a, "TX queue %d not allocated\n", value);
      return VMK_FAILURE;
    }
    if (d->state == TAMSIL_QDATA_STOPPED) {
      TAMSIL_DBG(a, TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "TX queue %d already stopped\n", value);
      return VMK_OK;
    }
    if (a->uplink != nullptr) vmk_UplinkQueueStop(a->uplink, (vmk_uint32)value);
    tamsil_sharedDataBegin(a);
    __atomic_store_n(&d->state, TAMSIL_QDATA_STOPPED, __ATOMIC_RELEASE);
    if (a->queue_info.activeTxQueues != 0) a->queue_info.activeTxQueues--;
    tamsil_sharedDataEnd(a);
    return VMK_OK;
  }
  const int q = rxValue(a, qid);
  if (q < 0) return VMK_BAD_PARAM;
  qData* d = &a->uplink_qdata[q];
  if ((d->flags & TAMSIL_QDATA_ALLOCATED) == 0) {
    TAMSIL_ERR(a, "RX queue %d not allocated\n", q);
    return VMK_FAILURE;
  }
  if (d->state == TAMSIL_QDATA_STOPPED) {
    TAMSIL_ERR(a, "RX queue %d already stopped\n", q);
    return VMK_OK;
  }
  __atomic_store_n(&a->rxo[q].quiesced, 1, __ATOMIC_RELEASE);
  const vmk_uint32 L = tamsil_rssLeadingRing(a), nDrss = a->res.max_drss_qs;
  if (q == 0 && drssOn(a)) {
    quiesceRings(a, 0, 1);
    quiesceRings(a, a->num_vectors - nDrss, nDrss);
  }
  if ((vmk_uint32)q == L && rssOn(a)) quiesceRings(a, L, a->res.max_rss_qs);
  tamsil_sharedDataBegin(a);
  __atomic_store_n(&d->state, TAMSIL_QDATA_STOPPED, __ATOMIC_RELEASE);
  if (a->queue_info.activeRxQueues != 0) a->queue_info.activeRxQueues--;
  tamsil_sharedDataEnd(a);
  return VMK_OK;
}

VMK_ReturnStatus tamsil_startQueue(Adapter* a, vmk_uint64 qid) {
  if (rxValue(a, qid) >= 0) return tamsil_activateRxQueue(a, qid);
  const int tx = txIndex(a, qid);
  if (tx < 0) return VMK_BAD_PARAM;
  qData* d = a->txo[tx].qdata;
  if (d == nullptr) return VMK_BAD_PARAM;
  if (d->state == TAMSIL_QDATA_STARTED || tamsil_txNearlyFull(a, (vmk_uint32)tx)) return VMK_OK;
  tamsil_sharedDataBegin(a);
  __atomic_store_n(&d->state, TAMSIL_QDATA_STARTED, __ATOMIC_RELEASE);
  a->queue_info.activeTxQueues++;
  tamsil_sharedDataEnd(a);
  // The kernel starts the default transmit queue itself.
  if (tx != 0 && a->uplink != nullptr) vmk_UplinkQueueStart(a->uplink, tamsil_queueIdVal(qid));
  return VMK_OK;
}

VMK_ReturnStatus tamsil_getQueueStats(Adapter* a, vmk_uint64 qid, vmk_UplinkQueueStats* stats) {
  if (stats == nullptr) return VMK_OK;
  memset(stats, 0, sizeof *stats);
  const vmk_uint32 v = tamsil_queueIdVal(qid), M = a->queue_info.maxRxQueues;
  vmk_uint64* s = stats->slot;
  if (v < M && v < TAMSIL_MAX_VECTORS) {
    const tamsil_rxo* r = &a->rxo[v];
    s[VMK_UPLINK_QUEUE_STAT_RX_PKTS] = r->rx_pkts;
    s[VMK_UPLINK_QUEUE_STAT_RX_BYTES] = r->rx_bytes;
    s[VMK_UPLINK_QUEUE_STAT_RX_ERRORS] = (vmk_uint64)r->rx_compl_err + r->rx_post_fail;
    s[VMK_UPLINK_QUEUE_STAT_RX_DROPS] = r->rx_multi_frag_drops;
    s[VMK_UPLINK_QUEUE_STAT_RX_MCAST] = r->rx_mcast_pkts;
  } else if (v >= M && v < M + txQueues(a) && v - M < TAMSIL_MAX_VECTORS) {
    const tamsil_txo* t = &a->txo[v - M];
    s[VMK_UPLINK_QUEUE_STAT_TX_PKTS] = t->tx_pkts;
    s[VMK_UPLINK_QUEUE_STAT_TX_BYTES] = t->tx_bytes;
    s[VMK_UPLINK_QUEUE_STAT_TX_DROPS] = (vmk_uint64)t->ipv6_ext_hdr_tx_drop + t->tso_ip_frag_off_drop_count +
                                        t->tx_tso_mss_zero_gr_9k_drop + t->tx_gr_9k_non_tso_drop +
                                        t->tx_ipv6_extn_drops + t->tx_pad_fail_drops;
  }
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* The kernel's table                                                        */
/* ------------------------------------------------------------------------ */

namespace {

VMK_ReturnStatus opAlloc(vmk_AddrCookie c, vmk_UplinkQueueType type, vmk_UplinkQueueID* qid, vmk_NetPoll* np) {
  return tamsil_allocQueue(adapterOf(c), type, qid, np);
}
VMK_ReturnStatus opAllocWithAttr(vmk_AddrCookie c, vmk_UplinkQueueType type, vmk_uint16 n, vmk_UplinkQueueAttr* attr,
                                 vmk_UplinkQueueID* qid, vmk_NetPoll* np) {
  return tamsil_allocQueueWithAttr(adapterOf(c), type, n, attr, qid, np);
}
VMK_ReturnStatus opFree(vmk_AddrCookie c, vmk_UplinkQueueID qid) { return tamsil_freeQueue(adapterOf(c), qid); }
VMK_ReturnStatus opQuiesce(vmk_AddrCookie c, vmk_UplinkQueueID qid) { return tamsil_quiesceQueue(adapterOf(c), qid); }
VMK_ReturnStatus opStart(vmk_AddrCookie c, vmk_UplinkQueueID qid) { return tamsil_startQueue(adapterOf(c), qid); }
VMK_ReturnStatus opApply(vmk_AddrCookie c, vmk_UplinkQueueID qid, vmk_UplinkQueueFilter* f,
                         vmk_UplinkQueueFilterID* fid, vmk_uint32* pair) {
  return tamsil_applyQueueFilter(adapterOf(c), qid, f, fid, pair);
}
VMK_ReturnStatus opRemove(vmk_AddrCookie c, vmk_UplinkQueueID qid, vmk_UplinkQueueFilterID fid) {
  return tamsil_removeQueueFilter(adapterOf(c), qid, fid);
}
VMK_ReturnStatus opStats(vmk_AddrCookie c, vmk_UplinkQueueID qid, vmk_UplinkQueueStats* s) {
  return tamsil_getQueueStats(adapterOf(c), qid, s);
}
// Features, priorities and per-queue coalescing are accepted and ignored.
VMK_ReturnStatus tamsil_toggleQueueFeature(vmk_AddrCookie c, vmk_UplinkQueueID qid, vmk_uint32, vmk_Bool) {
  TAMSIL_DBG(adapterOf(c), TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "QueueIDVal:%d\n", (int)tamsil_queueIdVal(qid));
  return VMK_OK;
}
VMK_ReturnStatus tamsil_setQueueTxPriority(vmk_AddrCookie c, vmk_UplinkQueueID qid, vmk_uint32) {
  TAMSIL_DBG(adapterOf(c), TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2, "QueueIDVal:%d\n", (int)tamsil_queueIdVal(qid));
  return VMK_OK;
}
VMK_ReturnStatus tamsil_setQueueCoalesceParams(vmk_AddrCookie c, vmk_UplinkQueueID qid,
                                               vmk_UplinkCoalesceParams* p) {
  static const vmk_UplinkCoalesceParams kNone = {0, 0, 0, 0};
  if (p == nullptr) p = const_cast<vmk_UplinkCoalesceParams*>(&kNone);
  TAMSIL_DBG(adapterOf(c), TAMSIL_DBG_QUEUE, TAMSIL_LOG_LEVEL_INFO2,
             "QueueIDVal:%d, rxUsecs: %d, rxMaxFr:%d, txUsecs:%d, txMaxFr:%d\n", (int)tamsil_queueIdVal(qid),
             (int)p->rxUsecs, (int)p->rxMaxFrames, (int)p->txUsecs, (int)p->txMaxFrames);
  return VMK_OK;
}

}  // namespace

const vmk_UplinkQueueOps tamsilQueueOps = {
    opAlloc,  opAllocWithAttr, nullptr, opFree,
    opQuiesce, opStart,        opApply, opRemove,
    opStats,  tamsil_toggleQueueFeature, tamsil_setQueueTxPriority, tamsil_setQueueCoalesceParams,
};

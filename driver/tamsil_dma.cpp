// Memory from the module memory pool: plain mapped blocks (the Adapter) and
// DMA-mapped buffers (mailbox, rings, statistics and command buffers).
#include <cstring>

#include "tamsil.h"

static vmk_uint32 tamsil_pagesFor(vmk_uint64 size) {
  return (vmk_uint32)((size + VMK_PAGE_SIZE - 1) / VMK_PAGE_SIZE);
}

void* tamsil_mpoolAlloc(vmk_uint64 size, vmk_uint64* allocated) {
  vmk_uint32 pages = tamsil_pagesFor(size);
  vmk_MemPoolAllocProps props;
  memset(&props, 0, sizeof props);
  props.physContiguity = VMK_MEM_PHYS_ANY_CONTIGUITY;
  props.physRange = VMK_PHYS_ADDR_ANY;
  props.creationTimeoutMS = TAMSIL_MPOOL_ALLOC_TIMEOUT_MS;
  vmk_MpnRange range;
  VMK_ReturnStatus status = vmk_MemPoolAlloc(tamsilDriver.mem_pool, &props, pages, &range);
  if (status != VMK_OK) {
    TAMSIL_MOD_ERR("vmk_MemPoolAlloc failed: %s\n", vmk_StatusToString(status));
    return nullptr;
  }
  vmk_VA va;
  status = vmk_Map(tamsilDriver.module_id, &range, VMK_MAPATTRS_READWRITE, &va);
  if (status != VMK_OK) {
    TAMSIL_MOD_ERR("vmk_Map failed: %s\n", vmk_StatusToString(status));
    vmk_MemPoolFree(tamsilDriver.mem_pool, &range);
    return nullptr;
  }
  vmk_uint64 bytes = (vmk_uint64)pages * VMK_PAGE_SIZE;
  memset((void*)va, 0, bytes);
  if (allocated) *allocated = bytes;
  TAMSIL_MOD_DBG(TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO3,
                 "allocated mem va=%p, requested size=%lu, allocated size=%lu\n", (void*)va, (unsigned long)size,
                 (unsigned long)bytes);
  return (void*)va;
}

void tamsil_mpoolFree(void* va, vmk_uint64 size) {
  if (va == nullptr) return;
  vmk_MA ma;
  VMK_ReturnStatus status = vmk_VA2MA((vmk_VA)va, 1, &ma);
  if (status != VMK_OK) {
    // Without its machine address the block cannot be named to the pool:
    // it stays allocated rather than returning some other range.
    TAMSIL_MOD_ERR("vmk_VA2MA failed: %s\n", vmk_StatusToString(status));
    return;
  }
  vmk_Unmap((vmk_VA)va);
  vmk_MpnRange range;
  range.startMPN = VMK_MA_2_MPN(ma);
  // Whole pages, as they were taken: a caller passing the size it asked for
  // still returns every page.
  range.numPages = tamsil_pagesFor(size);
  status = vmk_MemPoolFree(tamsilDriver.mem_pool, &range);
  if (status != VMK_OK) TAMSIL_MOD_ERR("vmk_MemPoolFree failed: %s\n", vmk_StatusToString(status));
}

void* tamsil_mpoolAllocMap(Adapter* adapter, DmaBuffer* buf, vmk_uint32 size) {
  VMK_ReturnStatus status;
  vmk_uint32 pages = tamsil_pagesFor(size);
  vmk_uint32 bytes = pages * VMK_PAGE_SIZE;
  vmk_MpnRange range;
  vmk_VA va = 0;
  vmk_SgOpsHandle ops = VMK_SG_OPS_INVALID;
  vmk_SgArray* sg = nullptr;
  vmk_DMAMapErrorInfo err;

  memset(buf, 0, sizeof *buf);

  // Below 4 GB unless the device took the 64-bit DMA engine.
  vmk_MemPoolAllocProps props;
  memset(&props, 0, sizeof props);
  props.physContiguity = VMK_MEM_PHYS_ANY_CONTIGUITY;
  props.physRange = (adapter->features & TAMSIL_FEAT_DMA64) ? VMK_PHYS_ADDR_ANY : VMK_PHYS_ADDR_BELOW_4GB;
  props.creationTimeoutMS = 0;
  status = vmk_MemPoolAlloc(tamsilDriver.mem_pool, &props, pages, &range);
  if (status != VMK_OK) {
    TAMSIL_ERR(adapter, "vmk_MemPoolAlloc failed: %s\n", vmk_StatusToString(status));
    goto fail;
  }
  status = vmk_Map(tamsilDriver.module_id, &range, VMK_MAPATTRS_READWRITE, &va);
  if (status != VMK_OK) {
    TAMSIL_ERR(adapter, "vmk_Map failed: %s\n", vmk_StatusToString(status));
    goto free_pages;
  }
  memset((void*)va, 0, bytes);
  status = vmk_SgCreateOpsHandle(tamsilDriver.heap_id, &ops, nullptr, nullptr);
  if (status != VMK_OK) {
    TAMSIL_ERR(adapter, "vmk_SgCreateOpsHandle failed: %s\n", vmk_StatusToString(status));
    goto unmap;
  }
  status = vmk_SgAllocWithInit(ops, &sg, va, bytes);
  if (status != VMK_OK) {
    TAMSIL_ERR(adapter, "vmk_SgAllocWithInit failed: %s\n", vmk_StatusToString(status));
    goto destroy_ops;
  }
  status = vmk_DMAMapSg(adapter->dma_engine, VMK_DMA_DIRECTION_BIDIRECTIONAL, ops, sg, &sg, &err);
  if (status != VMK_OK) {
    TAMSIL_ERR(adapter, "Failed to map %p size %d to IO address, %s.\n", (void*)va, (int)size,
               vmk_DMAMapErrorReasonToString(err.error));
    goto free_sg;
  }
  buf->sg_ops = ops;
  buf->sg_array = sg;
  buf->size = bytes;
  buf->va = (void*)va;
  TAMSIL_DBG(adapter, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO3,
             "allocated dma buffer %p, size=%x, elements=%d, MA0=%lx, size0=%x\n", (void*)va, size,
             (int)sg->numElems, (unsigned long)sg->elem[0].addr, sg->elem[0].length);
  return (void*)va;

  // The descriptor is filled only on success, so a failed buffer never
  // carries an address its owner might free a second time.
free_sg:
  vmk_SgFree(ops, sg);
destroy_ops:
  vmk_SgDestroyOpsHandle(ops);
unmap:
  vmk_Unmap(va);
free_pages:
  vmk_MemPoolFree(tamsilDriver.mem_pool, &range);
fail:
  TAMSIL_DBG(adapter, TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO, "Unable to allocate DMA buffer!\n");
  return nullptr;
}

void tamsil_mpoolUnmapFree(Adapter* adapter, DmaBuffer* buf) {
  // Idempotent: teardown paths may meet a buffer twice.
  if (buf == nullptr || buf->va == nullptr) return;
  vmk_DMAUnmapSg(adapter->dma_engine, VMK_DMA_DIRECTION_BIDIRECTIONAL, buf->sg_ops, buf->sg_array);
  vmk_SgFree(buf->sg_ops, buf->sg_array);
  vmk_SgDestroyOpsHandle(buf->sg_ops);
  tamsil_mpoolFree(buf->va, buf->size);
  buf->sg_array = nullptr;
  buf->sg_ops = VMK_SG_OPS_INVALID;
  buf->va = nullptr;
  buf->size = 0;
}

/* ------------------------------------------------------------------------ */
/* Quarantine                                                                */
/* ------------------------------------------------------------------------ */

// DMA memory the device may still write after its function was detached:
// the firmware objects that use it could not be destroyed and the chip is
// not reset (a KS or Veskarn chip reset would take the card's other
// functions down with it). It stays allocated and mapped, with the DMA
// engine that mapped it, until the module unloads.
namespace {
struct QuarantineRecord {
  DmaBuffer buf;
  vmk_DMAEngine engine;
  QuarantineRecord* next;
};
QuarantineRecord* quarantineList = nullptr;
vmk_uint32 quarantineCount = 0;
}  // namespace

void tamsil_quarantine(Adapter* adapter, DmaBuffer* buf) {
  if (buf == nullptr || buf->va == nullptr) return;
  QuarantineRecord* r =
      static_cast<QuarantineRecord*>(vmk_HeapAlloc(tamsilDriver.heap_id, sizeof(QuarantineRecord)));
  if (r == nullptr) {
    // Without a record the buffer cannot be found again: it is left as it is.
    TAMSIL_ERR(adapter, "Quarantine record allocation failed; DMA buffer %p left mapped\n", buf->va);
  } else {
    r->buf = *buf;
    r->engine = adapter->dma_engine;
    r->next = __atomic_load_n(&quarantineList, __ATOMIC_ACQUIRE);
    while (!__atomic_compare_exchange_n(&quarantineList, &r->next, r, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    }
    __atomic_add_fetch(&quarantineCount, 1, __ATOMIC_RELAXED);
  }
  adapter->quarantined++;
  memset(buf, 0, sizeof *buf);
}

vmk_uint32 tamsil_quarantinedBuffers(void) { return __atomic_load_n(&quarantineCount, __ATOMIC_RELAXED); }

bool tamsil_quarantineUses(vmk_DMAEngine engine) {
  for (QuarantineRecord* r = __atomic_load_n(&quarantineList, __ATOMIC_ACQUIRE); r != nullptr; r = r->next)
    if (r->engine == engine) return true;
  return false;
}

void tamsil_quarantineRelease(void) {
  QuarantineRecord* list = __atomic_exchange_n(&quarantineList, nullptr, __ATOMIC_ACQ_REL);
  if (list == nullptr) return;
  TAMSIL_MOD_WARN("Releasing %u quarantined DMA buffers at unload\n", quarantineCount);
  for (QuarantineRecord* r = list; r != nullptr; r = r->next) {
    vmk_DMAUnmapSg(r->engine, VMK_DMA_DIRECTION_BIDIRECTIONAL, r->buf.sg_ops, r->buf.sg_array);
    vmk_SgFree(r->buf.sg_ops, r->buf.sg_array);
    vmk_SgDestroyOpsHandle(r->buf.sg_ops);
    tamsil_mpoolFree(r->buf.va, r->buf.size);
  }
  // Each engine once, after every buffer it mapped.
  while (list != nullptr) {
    QuarantineRecord* r = list;
    list = r->next;
    if (r->engine != VMK_DMA_ENGINE_INVALID) {
      vmk_DMAEngineDestroy(r->engine);
      for (QuarantineRecord* o = list; o != nullptr; o = o->next)
        if (o->engine == r->engine) o->engine = VMK_DMA_ENGINE_INVALID;
    }
    vmk_HeapFree(tamsilDriver.heap_id, r);
  }
  quarantineCount = 0;
}

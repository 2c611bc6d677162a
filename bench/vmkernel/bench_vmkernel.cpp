// Costs of the stand-in services on the driver's hot paths: a doorbell write
// through a BAR window, mapping one packet fragment for DMA, a device reading
// host memory, a heap allocation.
#include <benchmark/benchmark.h>

#include "fake_function.h"
#include "vmk_testing.h"

namespace {

struct Bed {
  FakeFunction fn;
  vmk_Device device = nullptr;
  vmk_PCIDevice pci = nullptr;
  vmk_VA bar = 0;
  vmk_MemPool pool = nullptr;
  vmk_HeapID heap = nullptr;
  vmk_DMAEngine engine = nullptr;
  vmk_MpnRange range{};
  vmk_VA va = 0;

  Bed() {
    vmktest::reset();
    device = vmktest::plugPciFunction(&fn);
    vmk_AddrCookie reg;
    vmk_DeviceGetRegistrationData(device, &reg);
    pci = (vmk_PCIDevice)reg.ptr;
    vmk_PCIMapIOResource(0, pci, 2, nullptr, &bar);
    vmk_MemPoolProps pp{};
    vmk_NameInitialize(&pp.name, "bench");
    pp.memPoolType = VMK_MEM_POOL_LEAF;
    pp.limit = 64;
    vmk_MemPoolCreate(&pp, &pool);
    vmk_HeapCreateProps hp{};
    hp.type = VMK_HEAP_TYPE_MEMPOOL;
    vmk_NameInitialize(&hp.name, "bench");
    hp.initial = 1 << 16;
    hp.max = 1 << 20;
    hp.memPool = pool;
    vmk_HeapCreate(&hp, &heap);
    vmk_DMAConstraints c{};
    c.addressMask = VMK_ADDRESS_MASK_32BIT;
    vmk_DMAEngineProps ep{};
    ep.constraints = &c;
    vmk_DMAEngineCreate(&ep, &engine);
    vmk_MemPoolAllocProps ap{};
    ap.physRange = VMK_PHYS_ADDR_BELOW_4GB;
    vmk_MemPoolAlloc(pool, &ap, 4, &range);
    vmk_Map(0, &range, VMK_MAPATTRS_READWRITE, &va);
  }
  ~Bed() {
    vmk_Unmap(va);
    vmk_MemPoolFree(pool, &range);
    vmk_DMAEngineDestroy(engine);
    vmk_HeapDestroy(heap);
    vmk_MemPoolDestroy(pool);
    vmk_PCIUnmapIOResource(0, pci, 2);
    vmktest::unplugPciFunction(device);
  }
};

void BM_DoorbellWrite(benchmark::State& state) {
  Bed bed;
  for (auto _ : state) vmk_MMIOWrite32(bed.bar + 0x120, 0x20003ABC);
}
BENCHMARK(BM_DoorbellWrite);

void BM_MapUnmapFragment(benchmark::State& state) {
  Bed bed;
  vmk_SgElem in{VMK_MPN_2_MA(bed.range.startMPN) + 128, 1514, 0}, out{};
  vmk_DMAMapErrorInfo err;
  for (auto _ : state) {
    vmk_DMAMapElem(bed.engine, VMK_DMA_DIRECTION_FROM_MEMORY, &in, VMK_TRUE, &out, &err);
    vmk_DMAUnmapElem(bed.engine, VMK_DMA_DIRECTION_FROM_MEMORY, &out);
  }
}
BENCHMARK(BM_MapUnmapFragment);

void BM_DeviceReadsAFrame(benchmark::State& state) {
  Bed bed;
  vmk_SgElem in{VMK_MPN_2_MA(bed.range.startMPN), 4 * VMK_PAGE_SIZE, 0}, out{};
  vmk_DMAMapErrorInfo err;
  vmk_DMAMapElem(bed.engine, VMK_DMA_DIRECTION_FROM_MEMORY, &in, VMK_TRUE, &out, &err);
  char frame[1514];
  for (auto _ : state) benchmark::DoNotOptimize(vmktest::host()->dmaRead(out.addr + 64, frame, sizeof frame));
  vmk_DMAUnmapElem(bed.engine, VMK_DMA_DIRECTION_FROM_MEMORY, &out);
}
BENCHMARK(BM_DeviceReadsAFrame);

void BM_HeapAllocFree(benchmark::State& state) {
  Bed bed;
  for (auto _ : state) vmk_HeapFree(bed.heap, vmk_HeapAlloc(bed.heap, 40));
}
BENCHMARK(BM_HeapAllocFree);

}  // namespace

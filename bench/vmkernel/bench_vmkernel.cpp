// Costs of the stand-in services on the driver's hot paths: a BAR write (to a
// device that only records it), mapping one packet fragment for DMA, a device
// reading host memory, a heap allocation, a log line.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "hostbus.h"
#include "vmk_testing.h"

namespace {

// A function whose registers only record the last write: what a BAR access
// costs is then the stand-in's part alone.
class RecordingFunction : public hostbus::Function {
 public:
  uint64_t lastOffset = 0;
  uint32_t lastValue = 0;
  uint16_t segment() const override { return 0; }
  uint8_t bus() const override { return 5; }
  uint8_t device() const override { return 0; }
  uint8_t function() const override { return 1; }
  uint32_t configRead(uint32_t, unsigned) override { return 0; }
  void configWrite(uint32_t, uint32_t, unsigned) override {}
  uint64_t barSize(unsigned bar) const override { return bar == 2 ? 0x10000 : 0; }
  uint32_t barRead(unsigned, uint64_t, unsigned) override { return lastValue; }
  void barWrite(unsigned, uint64_t offset, uint32_t value, unsigned) override {
    lastOffset = offset;
    lastValue = value;
  }
  unsigned msixVectors() const override { return 0; }
  void attachHost(hostbus::Host*) override {}
  void detachHost() override {}
};

struct Bed {
  RecordingFunction fn;
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

void BM_BarWrite(benchmark::State& state) {
  Bed bed;
  for (auto _ : state) vmk_MMIOWrite32(bed.bar + 0x120, 0x20003ABC);
  if (bed.fn.lastOffset != 0x120) state.SkipWithError("the write did not reach the device");
}
BENCHMARK(BM_BarWrite);

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

// The host allocator's part of BM_HeapAllocFree: what the stand-in's heap does
// with host memory for a 40-byte block (a 32-byte header in front, the block
// filled with a pattern), without its own bookkeeping.
void BM_HostAllocFree(benchmark::State& state) {
  for (auto _ : state) {
    void* p = std::aligned_alloc(16, 32 + 48);
    benchmark::DoNotOptimize(p);
    std::memset(static_cast<char*>(p) + 32, 0xA5, 48);
    std::free(p);
  }
}
BENCHMARK(BM_HostAllocFree);

// One line of a registered component, formatted with a few arguments the way
// the driver's lines are.
void BM_LogCall(benchmark::State& state) {
  vmktest::reset();
  vmk_LogProperties props{};
  vmk_NameInitialize(&props.name, "bench");
  vmk_LogComponent log = nullptr;
  vmk_LogRegister(&props, &log);
  unsigned i = 0;
  for (auto _ : state)
    vmk_LogLevel(VMK_LOG_URGENCY_NORMAL, log, 0, "tamsil: %s:%d: [%s] MCC cmd opcode %u done\n", "bench", 42,
                 "vmnic0", ++i & 7);
  vmk_LogUnregister(log);
  vmktest::clearLog();
}
BENCHMARK(BM_LogCall);

}  // namespace

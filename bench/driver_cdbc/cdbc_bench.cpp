// Interpreter throughput: instructions per second of a register-free loop,
// and bytes per second of a read-and-dump loop, on a bus that only counts
// accesses and on an emulated adapter behind the kernel stand-in.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "adapter.h"
#include "tamsil.h"
#include "tamsil_cdbc.h"
#include "vmk_testing.h"

namespace {

constexpr uint32_t Ins(uint32_t op, uint32_t op1 = 0, uint32_t kind = 0, uint32_t space = 0, uint32_t op2 = 0) {
  return op | (op1 << 8) | (kind << 12) | (space << 14) | (op2 << 16);
}

struct CountingBus {
  uint64_t reads = 0;
  static uint64_t Size(void*, uint32_t) { return 0x20000; }
  static uint32_t Read(void* c, uint32_t, uint32_t off, uint32_t) {
    static_cast<CountingBus*>(c)->reads++;
    return off;
  }
  static void Write(void*, uint32_t, uint32_t, uint32_t, uint32_t) {}
  static uint32_t Cfg(void*, uint32_t, uint32_t* v) {
    *v = 0;
    return 0;
  }
  static uint32_t CfgW(void*, uint32_t, uint32_t) { return 0; }
  static void Delay(void*, uint32_t) {}
};
const tamsil_cdbcBus kBus = {CountingBus::Size, CountingBus::Read, CountingBus::Write, CountingBus::Cfg,
                             CountingBus::CfgW, CountingBus::Delay};

uint32_t RunOnce(std::vector<uint32_t>& image, const std::vector<uint32_t>& pristine, std::vector<uint8_t>& out,
                 CountingBus& bus, uint32_t* steps) {
  image = pristine;
  tamsil_cdbcRun run{};
  run.image = image.data();
  run.words = static_cast<uint32_t>(image.size());
  run.out_va = out.data();
  run.out_base = 0;
  run.out_len = static_cast<uint32_t>(out.size());
  run.bus = &kBus;
  run.bus_ctx = &bus;
  uint32_t r0 = tamsil_cdbc_exec(&run);
  *steps = run.steps;
  return r0;
}

// 10000 iterations of: add, xor, mul, compare, conditional jump.
void BM_CdbcAluLoop(benchmark::State& state) {
  std::vector<uint32_t> img(64, 0);
  img[15] = 16;
  uint32_t p = 16;
  img[p++] = Ins(1, 2, 0, 0, 10000);  // r2 = 10000
  img[p++] = Ins(18, 3, 0, 0, 7);      // loop: r3 += 7
  img[p++] = Ins(26, 3, 1, 0, 2);      // r3 ^= r2
  img[p++] = Ins(20, 4, 1, 0, 3);      // r4 *= r3
  img[p++] = Ins(19, 2, 0, 0, 1);      // r2 -= 1
  img[p++] = Ins(27, 2, 0, 0, 0);      // compare r2, 0
  img[p++] = Ins(17, 6, 0, 0, 0xFFFB); // jump back while r2 != 0
  img[p++] = 30;
  std::vector<uint32_t> image;
  std::vector<uint8_t> out(16);
  CountingBus bus;
  uint64_t total = 0;
  for (auto _ : state) {
    uint32_t steps;
    benchmark::DoNotOptimize(RunOnce(image, img, out, bus, &steps));
    total += steps;
  }
  state.counters["insn/s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CdbcAluLoop);

// A segment-shaped program: read a CSR, dump it, step the address; 64 KiB out.
void BM_CdbcReadDumpLoop(benchmark::State& state) {
  std::vector<uint32_t> img(64, 0);
  img[15] = 16;
  img[40] = 0x10000;  // bytes to dump
  uint32_t p = 16;
  img[p++] = Ins(10, 1, 1, 2, 2);      // loop: r1 = CSR[r2]
  img[p++] = Ins(16, 1, 0, 2, 0);      // dump r1 (4 bytes)
  img[p++] = Ins(18, 2, 0, 0, 4);      // r2 += 4
  img[p++] = Ins(23, 2, 0, 0, 0xFFFC); // r2 &= 0xFFFC (stay inside the BAR)
  img[p++] = Ins(27, 9, 2, 0, 40);     // compare r9, bytes
  img[p++] = Ins(17, 4, 0, 0, 0xFFFB); // jump back while r9 < bytes
  img[p++] = 30;
  std::vector<uint32_t> image;
  std::vector<uint8_t> out(0x10000);
  CountingBus bus;
  uint64_t total = 0, bytes = 0;
  for (auto _ : state) {
    uint32_t steps;
    benchmark::DoNotOptimize(RunOnce(image, img, out, bus, &steps));
    total += steps;
    bytes += out.size();
  }
  state.counters["insn/s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CdbcReadDumpLoop);

// The same segment program through the pass-through entry point on an
// emulated adapter: every register read crosses the stand-in's MMIO path
// (KS3, CSR BAR) or the configuration window (Veskarn, family code 4).
void BM_CdbcEmulatedSegment(benchmark::State& state) {
  bool veskarn = state.range(0) != 0;
  vmktest::reset();
  if (vmktest::loadModule(init_module) != 0) {
    state.SkipWithError("module load failed");
    return;
  }
  adapter::AdapterConfig cfg;
  cfg.fw.gen = veskarn ? adapter::Gen::Veskarn : adapter::Gen::KS3;
  auto card = std::make_unique<adapter::Adapter>(cfg);
  vmk_Device dev = vmktest::plugPciFunction(card->function(0));
  auto a = std::make_unique<Adapter>();
  vmk_AddrCookie cookie;
  vmk_DeviceGetRegistrationData(dev, &cookie);
  a->pci_device = static_cast<vmk_PCIDevice>(cookie.ptr);
  a->csr_bar = {&a->csr_va, 2};
  vmk_VA va = 0;
  vmk_PCIMapIOResource(tamsilDriver.module_id, a->pci_device, 2, nullptr, &va);
  a->csr_va = reinterpret_cast<void*>(va);
  a->fw_chip_family = veskarn ? 4 : 3;

  const uint32_t bytes = 0x4000;
  std::vector<uint32_t> img(64, 0);
  img[15] = 16;
  img[40] = bytes;
  uint32_t p = 16;
  img[p++] = Ins(10, 1, 1, 2, 2);      // loop: r1 = CSR[r2]
  img[p++] = Ins(16, 1, 0, 2, 0);      // dump r1
  img[p++] = Ins(18, 2, 0, 0, 4);      // r2 += 4
  img[p++] = Ins(23, 2, 0, 0, 0xFFFC); // r2 &= 0xFFFC
  img[p++] = Ins(27, 9, 2, 0, 40);     // compare r9, bytes
  img[p++] = Ins(17, 4, 0, 0, 0xFFFB); // jump back while r9 < bytes
  img[p++] = 30;
  std::vector<uint32_t> image;
  std::vector<uint8_t> out(bytes);
  uint64_t total = 0;
  for (auto _ : state) {
    image = img;
    benchmark::DoNotOptimize(tamsil_cdbc_get_dump(reinterpret_cast<uintptr_t>(a.get()), 0, 0,
                                                  static_cast<uint32_t>(image.size()), image.data(), out.data(),
                                                  bytes));
    total += bytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(total));
  state.counters["reads/s"] = benchmark::Counter(static_cast<double>(total / 4), benchmark::Counter::kIsRate);
  vmk_PCIUnmapIOResource(tamsilDriver.module_id, a->pci_device, 2);
  vmktest::unplugPciFunction(dev);
  vmktest::unloadModule(cleanup_module);
}
BENCHMARK(BM_CdbcEmulatedSegment)->Arg(0)->Arg(1)->ArgName("window");

}  // namespace

// The device layer against a fake PCI function: driver operations, PCI
// config, BAR accessors, interrupts on their own thread, DMA translation.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "fake_function.h"
#include "kernel_fixture.h"

namespace {

struct Calls {
  std::atomic<int> attach{0}, detach{0}, quiesce{0}, start{0}, scan{0};
};
Calls calls;

VMK_ReturnStatus opAttach(vmk_Device) { calls.attach++; return VMK_OK; }
VMK_ReturnStatus opScan(vmk_Device) { calls.scan++; return VMK_OK; }
VMK_ReturnStatus opDetach(vmk_Device) { calls.detach++; return VMK_OK; }
VMK_ReturnStatus opQuiesce(vmk_Device) { calls.quiesce++; return VMK_OK; }
VMK_ReturnStatus opStart(vmk_Device) { calls.start++; return VMK_OK; }
void opForget(vmk_Device) {}
const vmk_DriverOps kOps = {opAttach, opScan, opDetach, opQuiesce, opStart, opForget};

class DeviceTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    calls.attach = calls.detach = calls.quiesce = calls.start = calls.scan = 0;
    vmk_DriverProps p{};
    vmk_NameInitialize(&p.name, "fake");
    p.ops = &kOps;
    ASSERT_EQ(VMK_OK, vmk_DriverRegister(&p, &driver));
    device = vmktest::plugPciFunction(&fn);
    vmk_AddrCookie reg;
    ASSERT_EQ(VMK_OK, vmk_DeviceGetRegistrationData(device, &reg));
    pci = (vmk_PCIDevice)reg.ptr;
  }
  void TearDown() override {
    vmktest::unplugPciFunction(device);
    EXPECT_EQ(VMK_OK, vmk_DriverUnregister(driver));
    StandinTest::TearDown();
  }
  FakeFunction fn;
  vmk_Driver driver = nullptr;
  vmk_Device device = nullptr;
  vmk_PCIDevice pci = nullptr;
};

TEST_F(DeviceTest, DriverOperationsAndAttachedData) {
  EXPECT_EQ(vmktest::host(), fn.host());
  ASSERT_EQ(VMK_OK, vmktest::attachDevice(device));
  EXPECT_EQ(1, vmktest::live().attachedDevices);
  int data = 0;
  vmk_AddrCookie c;
  c.ptr = &data;
  ASSERT_EQ(VMK_OK, vmk_DeviceSetAttachedDriverData(device, c));
  vmk_AddrCookie back;
  ASSERT_EQ(VMK_OK, vmk_DeviceGetAttachedDriverData(device, &back));
  EXPECT_EQ(&data, back.ptr);
  EXPECT_EQ(VMK_OK, vmktest::scanDevice(device));
  EXPECT_EQ(VMK_OK, vmktest::startDevice(device));
  // Unplugging an attached function quiesces and detaches it first.
  vmktest::unplugPciFunction(device);
  EXPECT_EQ(1, calls.quiesce.load());
  EXPECT_EQ(1, calls.detach.load());
  EXPECT_EQ(nullptr, fn.host());
  device = vmktest::plugPciFunction(&fn);
}

TEST_F(DeviceTest, PciIdentityAndConfigSpace) {
  vmk_PCIDeviceID id;
  ASSERT_EQ(VMK_OK, vmk_PCIQueryDeviceID(pci, &id));
  EXPECT_EQ(0x1C4E, id.vendorID);
  EXPECT_EQ(0x3b10, id.deviceID);
  EXPECT_EQ(0x1C4E, id.subVendorID);
  EXPECT_EQ(0x1234, id.subDeviceID);
  vmk_PCIDeviceAddr addr;
  ASSERT_EQ(VMK_OK, vmk_PCIQueryDeviceAddr(pci, &addr));
  EXPECT_EQ(5, addr.bus);
  EXPECT_EQ(1, addr.fn);
  ASSERT_EQ(VMK_OK, vmk_PCIWriteConfig(0, pci, VMK_PCI_CONFIG_ACCESS_32, 0x44, 0x108));
  vmk_uint32 v = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIReadConfig(0, pci, VMK_PCI_CONFIG_ACCESS_16, 0x44, &v));
  EXPECT_EQ(0x108u, v);
  EXPECT_EQ(VMK_BAD_PARAM, vmk_PCIReadConfig(0, pci, VMK_PCI_CONFIG_ACCESS_32, 4094, &v));
  EXPECT_EQ(VMK_BAD_PARAM, vmk_PCIReadConfig(0, pci, VMK_PCI_CONFIG_ACCESS_32, 0x45, &v));
}

TEST_F(DeviceTest, EveryBarAccessReachesTheDevice) {
  vmk_VA bar2 = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIMapIOResource(0, pci, 2, nullptr, &bar2));
  vmk_VA none = 0;
  EXPECT_EQ(VMK_NOT_FOUND, vmk_PCIMapIOResource(0, pci, 4, nullptr, &none));
  EXPECT_EQ(1, vmktest::live().barMappings);
  fn.setRegister(2, 0xAC, 0xC000);
  EXPECT_EQ(0xC000u, vmk_MMIORead32(bar2 + 0xAC));
  vmk_MMIOWrite32(bar2 + 0x160, 0x12345678);
  vmk_MMIOWrite8(bar2 + 0x5F, 1);
  auto log = fn.accesses();
  ASSERT_EQ(3u, log.size());
  EXPECT_FALSE(log[0].write);
  EXPECT_TRUE(log[1].write);
  EXPECT_EQ(0x160u, log[1].offset);
  EXPECT_EQ(0x12345678u, log[1].value);
  EXPECT_EQ(1u, log[2].width);
  // A raw store through the window cannot bypass the device.
  EXPECT_DEATH(*(volatile uint32_t*)(bar2 + 0x160) = 1, "");
  ASSERT_EQ(VMK_OK, vmk_PCIUnmapIOResource(0, pci, 2));
  EXPECT_DEATH(vmk_MMIORead32(bar2), "MMIO read of 4 bytes at unmapped address");
}

struct IntrCtx {
  std::atomic<int> acks{0}, handled{0};
  std::atomic<bool> onOtherThread{false};
  std::thread::id testThread;
};

VMK_ReturnStatus ackFn(void* data, vmk_IntrCookie) {
  ((IntrCtx*)data)->acks++;
  return VMK_OK;
}
void handlerFn(void* data, vmk_IntrCookie) {
  auto* ctx = (IntrCtx*)data;
  ctx->onOtherThread = std::this_thread::get_id() != ctx->testThread;
  ctx->handled++;
}

bool waitFor(const std::atomic<int>& v, int want) {
  return vmktest::waitFor([&] { return v.load() >= want; });
}

TEST_F(DeviceTest, InterruptsAreDeliveredOnlyToRegisteredEnabledHandlers) {
  vmk_IntrCookie cookies[8];
  vmk_uint32 n = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIAllocIntrCookie(0, pci, VMK_PCI_INTERRUPT_TYPE_MSIX, 8, 1, nullptr, cookies, &n));
  EXPECT_EQ(4u, n);  // the function offers 4 vectors
  IntrCtx ctx;
  ctx.testThread = std::this_thread::get_id();

  fn.host()->raiseInterrupt(&fn, 1);  // nobody registered: lost
  vmk_IntrProps p{};
  p.device = device;
  p.acknowledgeInterrupt = ackFn;
  p.handler = handlerFn;
  p.handlerData = &ctx;
  ASSERT_EQ(VMK_OK, vmk_IntrRegister(0, cookies[1], &p));
  EXPECT_EQ(1, vmktest::live().intrRegistrations);
  fn.host()->raiseInterrupt(&fn, 1);  // registered but disabled: pending
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(0, ctx.handled.load());
  ASSERT_EQ(VMK_OK, vmk_IntrEnable(cookies[1]));
  ASSERT_TRUE(waitFor(ctx.handled, 1));
  EXPECT_EQ(1, ctx.acks.load());
  EXPECT_TRUE(ctx.onOtherThread);
  fn.host()->raiseInterrupt(&fn, 1);
  ASSERT_TRUE(waitFor(ctx.handled, 2));
  fn.host()->raiseInterrupt(&fn, 2);  // another vector, no handler
  ASSERT_EQ(VMK_OK, vmk_IntrSync(cookies[1]));
  EXPECT_EQ(2, ctx.handled.load());

  EXPECT_EQ(VMK_BUSY, vmk_PCIFreeIntrCookies(0, pci));  // handler still registered
  ASSERT_EQ(VMK_OK, vmk_IntrDisable(cookies[1]));
  ASSERT_EQ(VMK_OK, vmk_IntrUnregister(0, cookies[1], &ctx));
  ASSERT_EQ(VMK_OK, vmk_PCIFreeIntrCookies(0, pci));
  EXPECT_EQ(0, vmktest::live().intrCookies);
}

TEST_F(DeviceTest, MsixNeedsEnoughVectorsLegacyGivesOneSharedLine) {
  vmk_IntrCookie cookies[8];
  vmk_uint32 n = 0;
  EXPECT_EQ(VMK_NO_RESOURCES, vmk_PCIAllocIntrCookie(0, pci, VMK_PCI_INTERRUPT_TYPE_MSIX, 8, 8, nullptr, cookies, &n));
  ASSERT_EQ(VMK_OK, vmk_PCIAllocIntrCookie(0, pci, VMK_PCI_INTERRUPT_TYPE_LEGACY, 1, 1, nullptr, cookies, &n));
  EXPECT_EQ(1u, n);
  IntrCtx ctx;
  ctx.testThread = std::this_thread::get_id();
  vmk_IntrProps p{};
  p.handler = handlerFn;
  p.handlerData = &ctx;
  ASSERT_EQ(VMK_OK, vmk_IntrRegister(0, cookies[0], &p));
  ASSERT_EQ(VMK_OK, vmk_IntrEnable(cookies[0]));
  fn.host()->raiseInterrupt(&fn, 3);  // any source raises the one line
  ASSERT_TRUE(waitFor(ctx.handled, 1));
  ASSERT_EQ(VMK_OK, vmk_IntrUnregister(0, cookies[0], &ctx));
  ASSERT_EQ(VMK_OK, vmk_PCIFreeIntrCookies(0, pci));
}

class DmaTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    makePoolAndHeap(&pool, &heap);
    ASSERT_EQ(VMK_OK, vmk_SgCreateOpsHandle(heap, &ops, nullptr, nullptr));
  }
  void TearDown() override {
    EXPECT_EQ(VMK_OK, vmk_SgDestroyOpsHandle(ops));
    EXPECT_EQ(VMK_OK, vmk_HeapDestroy(heap));
    EXPECT_EQ(VMK_OK, vmk_MemPoolDestroy(pool));
    DeviceTest::TearDown();
  }
  vmk_DMAEngine engine(vmk_IOA mask) {
    vmk_DMAConstraints c{};
    c.addressMask = mask;
    vmk_DMAEngineProps p{};
    p.device = device;
    p.constraints = &c;
    vmk_DMAEngine e = nullptr;
    EXPECT_EQ(VMK_OK, vmk_DMAEngineCreate(&p, &e));
    return e;
  }
  vmk_VA mapPages(vmk_MemPhysAddrConstraint where, vmk_MpnRange* r) {
    vmk_MemPoolAllocProps props{};
    props.physRange = where;
    EXPECT_EQ(VMK_OK, vmk_MemPoolAlloc(pool, &props, 2, r));
    vmk_VA va = 0;
    EXPECT_EQ(VMK_OK, vmk_Map(0, r, VMK_MAPATTRS_READWRITE, &va));
    return va;
  }
  // Gives back what mapPages took and the engine.
  void release(vmk_VA va, vmk_MpnRange* r, vmk_DMAEngine e) {
    EXPECT_EQ(VMK_OK, vmk_Unmap(va));
    EXPECT_EQ(VMK_OK, vmk_MemPoolFree(pool, r));
    EXPECT_EQ(VMK_OK, vmk_DMAEngineDestroy(e));
  }
  vmk_MemPool pool = nullptr;
  vmk_HeapID heap = nullptr;
  vmk_SgOpsHandle ops = nullptr;
};

TEST_F(DmaTest, DeviceReachesOnlyMappedMemory) {
  vmk_DMAEngine e = engine(VMK_ADDRESS_MASK_32BIT);
  vmk_MpnRange r;
  vmk_VA va = mapPages(VMK_PHYS_ADDR_BELOW_4GB, &r);
  vmk_SgArray* sg = nullptr;
  ASSERT_EQ(VMK_OK, vmk_SgAllocWithInit(ops, &sg, va, 2 * VMK_PAGE_SIZE));
  ASSERT_EQ(1u, sg->numElems);  // the two pages are contiguous
  vmk_IOA bus = sg->elem[0].addr;
  char buf[8] = "abcdefg";
  EXPECT_FALSE(fn.host()->dmaWrite(bus, buf, 8));  // not mapped yet
  EXPECT_EQ(1u, vmktest::dmaFaults().unmappedWrites);
  EXPECT_EQ(bus, vmktest::dmaFaults().firstWriteAddr);
  vmk_DMAMapErrorInfo err;
  ASSERT_EQ(VMK_OK, vmk_DMAMapSg(e, VMK_DMA_DIRECTION_BIDIRECTIONAL, ops, sg, &sg, &err));
  EXPECT_EQ(VMK_BUSY, vmk_DMAEngineDestroy(e));
  ASSERT_TRUE(fn.host()->dmaWrite(bus + 4090, buf, 8));  // across the page boundary
  EXPECT_EQ(0, memcmp((char*)va + 4090, buf, 8));
  ASSERT_TRUE(fn.host()->dmaWriteRelease32(bus + 8, 0x11223344u));
  EXPECT_EQ(0x11223344u, __atomic_load_n((uint32_t*)((char*)va + 8), __ATOMIC_ACQUIRE));
  EXPECT_EQ(1u, vmktest::dmaFaults().unmappedWrites);
  // Running past the end: nothing is written, not even the mapped part.
  memset((char*)va + 2 * VMK_PAGE_SIZE - 4, 0, 4);
  EXPECT_FALSE(fn.host()->dmaWrite(bus + 2 * VMK_PAGE_SIZE - 4, buf, 8));
  EXPECT_EQ(0, ((char*)va)[2 * VMK_PAGE_SIZE - 4]);
  EXPECT_FALSE(fn.host()->dmaRead(bus + 2 * VMK_PAGE_SIZE - 4, buf, 8));
  ASSERT_EQ(VMK_OK, vmk_DMAUnmapSg(e, VMK_DMA_DIRECTION_BIDIRECTIONAL, ops, sg));
  EXPECT_FALSE(fn.host()->dmaRead(bus, buf, 1));
  EXPECT_FALSE(fn.host()->dmaWriteRelease32(bus + 8, 1));   // a valid word after unmap
  vmktest::DmaFaults f = vmktest::dmaFaults();
  EXPECT_EQ(3u, f.unmappedWrites);
  EXPECT_EQ(2u, f.unmappedReads);
  EXPECT_EQ(bus, f.firstWriteAddr);
  EXPECT_NE(0x1u, *(uint32_t*)((char*)va + 8));   // the write after unmap did not land
  vmktest::clearDmaFaults();   // this test made them on purpose
  ASSERT_EQ(VMK_OK, vmk_SgFree(ops, sg));
  ASSERT_EQ(VMK_OK, vmk_Unmap(va));
  ASSERT_EQ(VMK_OK, vmk_MemPoolFree(pool, &r));
  ASSERT_EQ(VMK_OK, vmk_DMAEngineDestroy(e));
}

TEST_F(DmaTest, A32BitEngineRefusesHighMemoryA64BitOneTakesIt) {
  vmk_DMAEngine e32 = engine(VMK_ADDRESS_MASK_32BIT);
  vmk_DMAEngine e64 = engine(VMK_ADDRESS_MASK_64BIT);
  vmk_MpnRange r;
  vmk_VA va = mapPages(VMK_PHYS_ADDR_ANY, &r);
  vmk_SgArray* sg = nullptr;
  ASSERT_EQ(VMK_OK, vmk_SgAllocWithInit(ops, &sg, va, 100));
  vmk_DMAMapErrorInfo err;
  EXPECT_EQ(VMK_FAILURE, vmk_DMAMapSg(e32, VMK_DMA_DIRECTION_BIDIRECTIONAL, ops, sg, &sg, &err));
  EXPECT_EQ(VMK_DMA_MAP_ERROR_REASON_ADDRESS_EXCEEDS_MASK, err.error);
  EXPECT_EQ(0, vmktest::live().dmaMappings);
  ASSERT_EQ(VMK_OK, vmk_DMAMapSg(e64, VMK_DMA_DIRECTION_BIDIRECTIONAL, ops, sg, &sg, &err));
  EXPECT_TRUE(vmktest::dmaMapped(sg->elem[0].addr, 100));
  // One element (a packet fragment) mapped on its own.
  vmk_SgElem in = sg->elem[0], out{};
  ASSERT_EQ(VMK_OK, vmk_DMAMapElem(e64, VMK_DMA_DIRECTION_TO_MEMORY, &in, VMK_TRUE, &out, &err));
  EXPECT_EQ(2, vmktest::live().dmaMappings);
  ASSERT_EQ(VMK_OK, vmk_DMAUnmapElem(e64, VMK_DMA_DIRECTION_TO_MEMORY, &out));
  ASSERT_EQ(VMK_OK, vmk_DMAUnmapSg(e64, VMK_DMA_DIRECTION_BIDIRECTIONAL, ops, sg));
  ASSERT_EQ(VMK_OK, vmk_SgFree(ops, sg));
  ASSERT_EQ(VMK_OK, vmk_Unmap(va));
  ASSERT_EQ(VMK_OK, vmk_MemPoolFree(pool, &r));
  ASSERT_EQ(VMK_OK, vmk_DMAEngineDestroy(e32));
  ASSERT_EQ(VMK_OK, vmk_DMAEngineDestroy(e64));
}

// Fragments mapped and unmapped by many threads at once, two threads per
// page: a page stays reachable while any mapping covers it, the device's
// accesses land, and the accounting ends at zero.
TEST_F(DmaTest, MappingsFromManyThreadsShareThePagesTheyCover) {
  vmk_DMAEngine e = engine(VMK_ADDRESS_MASK_32BIT);
  vmk_MpnRange r;
  vmk_VA va = mapPages(VMK_PHYS_ADDR_BELOW_4GB, &r);
  const vmk_MA base = VMK_MPN_2_MA(r.startMPN);
  const int kThreads = 4;
  std::atomic<int> bad{0};
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      // Threads 0 and 2 share page 0, 1 and 3 page 1; each its own 512 bytes.
      vmk_SgElem in{base + (t % 2) * VMK_PAGE_SIZE + (t / 2) * 1024, 512, 0}, out{};
      uint8_t frame[512], back[512];
      memset(frame, 0x30 + t, sizeof frame);
      vmk_DMAMapErrorInfo err;
      for (int i = 0; i < 3000; i++) {
        if (vmk_DMAMapElem(e, VMK_DMA_DIRECTION_BIDIRECTIONAL, &in, VMK_TRUE, &out, &err) != VMK_OK) bad++;
        if (!fn.host()->dmaWrite(out.addr, frame, sizeof frame)) bad++;
        if (!fn.host()->dmaRead(out.addr, back, sizeof back) || memcmp(frame, back, sizeof back) != 0) bad++;
        if (vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_BIDIRECTIONAL, &out) != VMK_OK) bad++;
      }
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(0, bad.load());
  EXPECT_EQ(0x30, ((uint8_t*)va)[0]);
  EXPECT_EQ(0x33, ((uint8_t*)va)[VMK_PAGE_SIZE + 1024]);
  EXPECT_EQ(0, vmktest::live().dmaMappings);
  EXPECT_FALSE(vmktest::dmaMapped(base, 1));
  EXPECT_EQ(0u, vmktest::dmaFaults().unmappedWrites);
  release(va, &r, e);
}

// A fragment mapped on one thread and unmapped on another (a transmit and its
// completion): the page's mappings are counted whichever thread made or took
// them back, so the page is unmapped exactly when the last one goes, one
// unmap too many is refused, and a page holds at most 4095 mappings however
// they were made.
TEST_F(DmaTest, MappingsTakenBackOnAnotherThread) {
  vmk_DMAEngine e = engine(VMK_ADDRESS_MASK_32BIT);
  vmk_MpnRange r;
  vmk_VA va = mapPages(VMK_PHYS_ADDR_BELOW_4GB, &r);
  const vmk_MA base = VMK_MPN_2_MA(r.startMPN);
  vmk_SgElem frag{base + 256, 512, 0}, out{};
  vmk_DMAMapErrorInfo err;
  auto mapOn = [&](int n) {
    std::thread([&, n] {
      for (int i = 0; i < n; i++) EXPECT_EQ(VMK_OK, vmk_DMAMapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag, VMK_TRUE, &out, &err));
    }).join();
  };
  auto unmapOn = [&](int n) {
    std::thread([&, n] {
      for (int i = 0; i < n; i++) EXPECT_EQ(VMK_OK, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag));
    }).join();
  };
  char byte = 'x';
  // Mapped first by a thread that is gone by now, taken back here.
  mapOn(3);
  EXPECT_EQ(3, vmktest::live().dmaMappings);
  for (int i = 0; i < 2; i++) ASSERT_EQ(VMK_OK, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag));
  EXPECT_TRUE(fn.host()->dmaWrite(frag.addr, &byte, 1));  // one is left
  ASSERT_EQ(VMK_OK, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag));
  EXPECT_FALSE(vmktest::dmaMapped(frag.addr, 1));
  EXPECT_EQ(VMK_NOT_FOUND, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag));
  EXPECT_FALSE(fn.host()->dmaWrite(frag.addr, &byte, 1));
  EXPECT_EQ(1u, vmktest::dmaFaults().unmappedWrites);
  vmktest::clearDmaFaults();  // made on purpose
  // Mapped here and on other threads, taken back on others.
  ASSERT_EQ(VMK_OK, vmk_DMAMapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag, VMK_TRUE, &out, &err));
  mapOn(2);
  unmapOn(2);
  EXPECT_TRUE(vmktest::dmaMapped(frag.addr, 1));
  EXPECT_EQ(VMK_BUSY, vmk_DMAEngineDestroy(e));
  unmapOn(1);
  EXPECT_FALSE(vmktest::dmaMapped(frag.addr, 1));
  EXPECT_EQ(0, vmktest::live().dmaMappings);
  std::thread([&] { EXPECT_EQ(VMK_NOT_FOUND, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag)); }).join();
  // The page's limit counts every thread's mappings.
  mapOn(2000);
  for (int i = 0; i < 2095; i++) ASSERT_EQ(VMK_OK, vmk_DMAMapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag, VMK_TRUE, &out, &err));
  EXPECT_EQ(VMK_FAILURE, vmk_DMAMapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag, VMK_TRUE, &out, &err));
  EXPECT_EQ(VMK_DMA_MAP_ERROR_REASON_NO_RESOURCES, err.error);
  std::thread([&] {
    EXPECT_EQ(VMK_FAILURE, vmk_DMAMapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag, VMK_TRUE, &out, &err));
  }).join();
  EXPECT_EQ(4095, vmktest::live().dmaMappings);
  EXPECT_EQ(VMK_OK, vmk_Unmap(va));
  EXPECT_EQ(VMK_BUSY, vmk_MemPoolFree(pool, &r));  // still mapped for DMA
  ASSERT_EQ(VMK_OK, vmk_Map(0, &r, VMK_MAPATTRS_READWRITE, &va));
  unmapOn(4000);
  for (int i = 0; i < 95; i++) ASSERT_EQ(VMK_OK, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag));
  EXPECT_EQ(VMK_NOT_FOUND, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_FROM_MEMORY, &frag));
  EXPECT_EQ(0, vmktest::live().dmaMappings);
  release(va, &r, e);
}

// What is not mapped cannot be unmapped, a failed unmap leaves every mapping
// as it was, and pages mapped for DMA cannot go back to the pool.
TEST_F(DmaTest, UnmapOfWhatIsNotMappedChangesNothing) {
  vmk_DMAEngine e = engine(VMK_ADDRESS_MASK_32BIT);
  vmk_MpnRange r;
  vmk_VA va = mapPages(VMK_PHYS_ADDR_BELOW_4GB, &r);
  const vmk_MA base = VMK_MPN_2_MA(r.startMPN);
  vmk_SgElem first{base, 100, 0}, second{base + VMK_PAGE_SIZE, 100, 0}, out{};
  EXPECT_EQ(VMK_NOT_FOUND, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_TO_MEMORY, &first));
  vmk_DMAMapErrorInfo err;
  ASSERT_EQ(VMK_OK, vmk_DMAMapElem(e, VMK_DMA_DIRECTION_TO_MEMORY, &first, VMK_TRUE, &out, &err));
  EXPECT_EQ(VMK_BUSY, vmk_DMAEngineDestroy(e));
  EXPECT_EQ(VMK_OK, vmk_Unmap(va));
  EXPECT_EQ(VMK_BUSY, vmk_MemPoolFree(pool, &r));  // the device could still write there
  // An array whose second element is not mapped: refused, the first stays.
  alignas(vmk_SgArray) uint8_t mem[sizeof(vmk_SgArray) + sizeof(vmk_SgElem)] = {};
  auto* two = reinterpret_cast<vmk_SgArray*>(mem);
  two->maxElems = two->numElems = 2;
  const vmk_SgElem elems[2] = {first, second};
  memcpy(mem + offsetof(vmk_SgArray, elem), elems, sizeof elems);
  ASSERT_EQ(VMK_OK, vmk_Map(0, &r, VMK_MAPATTRS_READWRITE, &va));
  EXPECT_EQ(VMK_NOT_FOUND, vmk_DMAUnmapSg(e, VMK_DMA_DIRECTION_TO_MEMORY, ops, two));
  EXPECT_TRUE(vmktest::dmaMapped(base, 100));
  EXPECT_FALSE(vmktest::dmaMapped(base + VMK_PAGE_SIZE, 1));
  EXPECT_EQ(1, vmktest::live().dmaMappings);
  // Memory that is not machine memory is not mapped.
  vmk_SgElem stranger{0x2000, 64, 0};
  EXPECT_EQ(VMK_FAILURE, vmk_DMAMapElem(e, VMK_DMA_DIRECTION_TO_MEMORY, &stranger, VMK_TRUE, &out, &err));
  EXPECT_EQ(VMK_DMA_MAP_ERROR_REASON_BAD_ELEMENT, err.error);
  ASSERT_EQ(VMK_OK, vmk_DMAUnmapElem(e, VMK_DMA_DIRECTION_TO_MEMORY, &first));
  EXPECT_FALSE(vmktest::dmaMapped(base, 1));
  release(va, &r, e);
}

// BAR windows are resolved when mapped: accesses from many threads reach the
// device while another window of the function comes and goes.
TEST_F(DeviceTest, BarWritesFromManyThreadsWhileAnotherWindowComesAndGoes) {
  vmk_VA bar0 = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIMapIOResource(0, pci, 0, nullptr, &bar0));
  const int kThreads = 4, kWrites = 2000;
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop.load()) {
      vmk_VA bar2 = 0;
      if (vmk_PCIMapIOResource(0, pci, 2, nullptr, &bar2) == VMK_OK) {
        vmk_MMIOWrite32(bar2 + 0x10, 1);
        vmk_PCIUnmapIOResource(0, pci, 2);
      }
    }
  });
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kWrites; i++) vmk_MMIOWrite32(bar0 + 4 * t, (uint32_t)i);
    });
  for (auto& t : ts) t.join();
  stop = true;
  churn.join();
  size_t toBar0 = 0;
  for (auto& a : fn.accesses())
    if (a.write && a.bar == 0) toBar0++;
  EXPECT_EQ(size_t(kThreads * kWrites), toBar0);
  EXPECT_EQ(1, vmktest::live().barMappings);
  ASSERT_EQ(VMK_OK, vmk_PCIUnmapIOResource(0, pci, 0));
  EXPECT_DEATH(vmk_MMIOWrite32(bar0, 1), "MMIO write of 4 bytes at unmapped address");
}

VMK_ReturnStatus removeOp(vmk_Device d) { return vmk_DeviceUnregister(d); }

TEST_F(DeviceTest, LogicalChildDevice) {
  vmk_Name logical;
  vmk_NameInitialize(&logical, "logical");
  vmk_BusType bt;
  ASSERT_EQ(VMK_OK, vmk_BusTypeFind(&logical, &bt));
  char* addr = nullptr;
  vmk_uint32 len = 0;
  ASSERT_EQ(VMK_OK, vmk_LogicalCreateBusAddress(driver, device, 0, &addr, &len));
  vmk_DeviceID id{bt, addr, len, "com.vmware.uplink", 17};
  vmk_DeviceOps ops{removeOp};
  vmk_DeviceProps props{};
  props.registeringDriver = driver;
  props.deviceID = &id;
  props.deviceOps = &ops;
  int regData = 7;
  props.registrationData.ptr = &regData;
  vmk_Device child;
  ASSERT_EQ(VMK_OK, vmk_DeviceRegister(&props, device, &child));
  vmk_LogicalFreeBusAddress(driver, addr);
  vmk_BusTypeRelease(bt);
  auto kids = vmktest::childDevices(device);
  ASSERT_EQ(1u, kids.size());
  EXPECT_EQ(&regData, vmktest::deviceRegistrationData(kids[0]).ptr);
  EXPECT_EQ(VMK_OK, vmktest::removeDevice(child));
  EXPECT_TRUE(vmktest::childDevices(device).empty());
}

}  // namespace

// INTx is a level: the handler runs again as long as the device keeps the
// line up, and stops once the handler's clear lowers it.
namespace {
struct LevelCtx {
  FakeFunction* fn;
  std::atomic<int> calls{0};
  int lowerOnCall = 0;   // 0: never lowers the line
  bool sleep = false;
};
void levelHandler(void* data, vmk_IntrCookie) {
  auto* c = (LevelCtx*)data;
  int n = ++c->calls;
  if (c->sleep) vmk_WorldSleep(1);
  if (n == c->lowerOnCall) c->fn->host()->setIntxLine(c->fn, false);
}
}  // namespace

TEST_F(DeviceTest, IntxIsLevelTriggered) {
  vmk_IntrCookie cookie;
  vmk_uint32 n = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIAllocIntrCookie(0, pci, VMK_PCI_INTERRUPT_TYPE_LEGACY, 1, 1, nullptr, &cookie, &n));
  LevelCtx ctx;
  ctx.fn = &fn;
  ctx.lowerOnCall = 3;
  vmk_IntrProps p{};
  p.handler = levelHandler;
  p.handlerData = &ctx;
  ASSERT_EQ(VMK_OK, vmk_IntrRegister(0, cookie, &p));
  // Raised before the handler is enabled: a level is still there at enable.
  fn.host()->setIntxLine(&fn, true);
  ASSERT_EQ(VMK_OK, vmk_IntrEnable(cookie));
  ASSERT_TRUE(waitFor(ctx.calls, 3));
  ASSERT_EQ(VMK_OK, vmk_IntrSync(cookie));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(3, ctx.calls.load()) << "delivered again after the line dropped";
  EXPECT_EQ(3u, vmktest::interruptDeliveries(cookie));
  // A line that nobody clears: a storm, then masked until it drops.
  ctx.lowerOnCall = 0;
  fn.host()->setIntxLine(&fn, true);
  ASSERT_TRUE(vmktest::waitFor([] { return vmktest::logCount("interrupt storm") == 1; }));
  ASSERT_EQ(VMK_OK, vmk_IntrSync(cookie));
  EXPECT_EQ(3 + 1000, ctx.calls.load());
  fn.host()->setIntxLine(&fn, false);
  ctx.lowerOnCall = ctx.calls.load() + 1;
  fn.host()->setIntxLine(&fn, true);
  ASSERT_TRUE(waitFor(ctx.calls, ctx.lowerOnCall));
  ASSERT_EQ(VMK_OK, vmk_IntrSync(cookie));
  // A handler that sleeps breaks a lock rule (interrupt context).
  std::vector<std::string> broken;
  vmktest::setLockRuleHandler([&](const std::string& t) { broken.push_back(t); });
  ctx.sleep = true;
  ctx.lowerOnCall = ctx.calls.load() + 1;
  fn.host()->setIntxLine(&fn, true);
  ASSERT_TRUE(waitFor(ctx.calls, ctx.lowerOnCall));
  ASSERT_EQ(VMK_OK, vmk_IntrSync(cookie));
  ASSERT_EQ(1u, broken.size());
  EXPECT_NE(std::string::npos, broken[0].find("vmk_WorldSleep may sleep in an interrupt handler"));
  ASSERT_EQ(VMK_OK, vmk_IntrDisable(cookie));
  ASSERT_EQ(VMK_OK, vmk_IntrUnregister(0, cookie, &ctx));
  ASSERT_EQ(VMK_OK, vmk_PCIFreeIntrCookies(0, pci));
}

TEST_F(DeviceTest, MsixCookiesSetTheCapabilitysEnableBit) {
  // An MSI-X capability at 0x50 in the fake function's configuration space.
  fn.configWrite(0x34, 0x50, 1);
  fn.configWrite(0x50, 0x11, 1);
  fn.configWrite(0x52, 0x0003, 2);
  vmk_IntrCookie cookies[4];
  vmk_uint32 n = 0;
  ASSERT_EQ(VMK_OK, vmk_PCIAllocIntrCookie(0, pci, VMK_PCI_INTERRUPT_TYPE_MSIX, 4, 1, nullptr, cookies, &n));
  EXPECT_EQ(0x8003u, fn.configRead(0x52, 2));
  ASSERT_EQ(VMK_OK, vmk_PCIFreeIntrCookies(0, pci));
  EXPECT_EQ(0x0003u, fn.configRead(0x52, 2));
  ASSERT_EQ(VMK_OK, vmk_PCIAllocIntrCookie(0, pci, VMK_PCI_INTERRUPT_TYPE_LEGACY, 1, 1, nullptr, cookies, &n));
  EXPECT_EQ(0x0003u, fn.configRead(0x52, 2));
  ASSERT_EQ(VMK_OK, vmk_PCIFreeIntrCookies(0, pci));
}

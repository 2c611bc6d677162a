// The device layer against a fake PCI function: driver operations, PCI
// config, BAR accessors, interrupts on their own thread, DMA translation.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

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
  EXPECT_EQ(0x19a2, id.vendorID);
  EXPECT_EQ(0x3b10, id.deviceID);
  EXPECT_EQ(0x10df, id.subVendorID);
  EXPECT_EQ(0xe72a, id.subDeviceID);
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

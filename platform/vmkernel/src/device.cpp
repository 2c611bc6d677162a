// Device layer: drivers, devices, PCI functions, BAR windows, interrupts, the
// host side of the bus, DMA engines and scatter-gather.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "internal.h"
#include "net_internal.h"

using namespace vmkint;

struct vmk_PCIDeviceInt;

struct vmk_DeviceInt {
  vmk_PCIDeviceInt* pci = nullptr;     // PCI function devices
  vmk_DeviceInt* parent = nullptr;     // child (logical) devices
  vmk_Driver owner = nullptr;          // the attached driver
  bool attached = false;
  vmk_AddrCookie driverData{};
  vmk_AddrCookie registrationData{};
  vmk_DeviceOps ops{};
  std::string busAddress;
  std::string busIdentifier;
};

struct vmk_DriverInt {
  std::string name;
  vmk_DriverOps ops;
};

struct vmk_BusTypeInt {
  std::string name;
};

struct BarWindow {
  vmk_VA va;
  uint64_t size;
};

struct vmk_PCIDeviceInt {
  hostbus::Function* fn;
  vmk_DeviceInt* device;
  BarWindow bars[6]{};
  bool pme = false;
  std::vector<vmk_IntrCookie> cookies;
};

namespace {

std::mutex devLock;  // drivers, devices, PCI state and BAR windows
std::vector<vmk_DriverInt*> driversList;
std::list<vmk_DeviceInt*> devicesList;
std::set<vmk_BusTypeInt*> busTypes;

/* ---- BAR windows --------------------------------------------------------- */

// BARs are mapped into a reserved, inaccessible address range: only the MMIO
// accessors can reach the device behind them. A window is resolved when it
// is mapped: each page of the reserved range has a word pointing at the
// window that covers it, so an access is one atomic load and no lock.
constexpr uint64_t kBarSpace = 1ull << 34;  // 16 GB of reserved address space
constexpr uint64_t kBarPages = kBarSpace / VMK_PAGE_SIZE;
struct BarRef {
  hostbus::Function* fn;
  unsigned bar;
  vmk_VA va;
  uint64_t size;
  bool retired = false;  // devLock
};
std::atomic<uint8_t*> barSpace{nullptr};
std::atomic<BarRef*>* barPages = nullptr;  // kBarPages words (made with barSpace)
uint64_t barNext = 0;                       // devLock
// Every window made: an access racing with an unmap may still hold one, so a
// window unmapped or pulled out (retired) is freed only when the kernel is
// reset. Kept here too so that what the page words point at stays reachable.
std::vector<BarRef*>& barRefs() {  // devLock
  static auto* refs = new std::vector<BarRef*>();  // never destroyed: read at exit too
  return *refs;
}

vmk_VA reserveBarWindow(uint64_t size) {  // devLock held
  if (barSpace.load(std::memory_order_relaxed) == nullptr) {
    void* p = mmap(nullptr, kBarSpace, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return 0;
    void* t = mmap(nullptr, kBarPages * sizeof(std::atomic<BarRef*>), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (t == MAP_FAILED) {
      munmap(p, kBarSpace);
      return 0;
    }
    barPages = static_cast<std::atomic<BarRef*>*>(t);  // zero pages: no window
    barSpace.store((uint8_t*)p, std::memory_order_release);
  }
  uint64_t rounded = (size + VMK_PAGE_SIZE - 1) & ~(uint64_t)(VMK_PAGE_SIZE - 1);
  if (barNext + rounded + VMK_PAGE_SIZE > kBarSpace) return 0;
  vmk_VA va = (vmk_VA)(barSpace.load(std::memory_order_relaxed) + barNext);
  barNext += rounded + VMK_PAGE_SIZE;  // a guard page between windows
  return va;
}

uint64_t barPageOf(vmk_VA va) { return (va - (vmk_VA)barSpace.load(std::memory_order_relaxed)) / VMK_PAGE_SIZE; }

void publishBarWindow(BarRef* ref) {  // devLock held
  barRefs().push_back(ref);
  uint64_t first = barPageOf(ref->va), n = (ref->size + VMK_PAGE_SIZE - 1) / VMK_PAGE_SIZE;
  for (uint64_t i = 0; i < n; i++) barPages[first + i].store(ref, std::memory_order_release);
}

void withdrawBarWindow(vmk_VA va) {  // devLock held
  BarRef* ref = barPages[barPageOf(va)].load(std::memory_order_relaxed);
  if (ref == nullptr) return;
  uint64_t first = barPageOf(ref->va), n = (ref->size + VMK_PAGE_SIZE - 1) / VMK_PAGE_SIZE;
  for (uint64_t i = 0; i < n; i++) barPages[first + i].store(nullptr, std::memory_order_release);
  ref->retired = true;
}

bool barLookup(vmk_VA addr, unsigned width, hostbus::Function** fn, unsigned* bar, uint64_t* off) {
  auto base = (vmk_VA)barSpace.load(std::memory_order_acquire);
  if (base == 0 || addr < base || addr - base >= kBarSpace) return false;
  BarRef* ref = barPages[(addr - base) / VMK_PAGE_SIZE].load(std::memory_order_acquire);
  if (ref == nullptr || addr + width > ref->va + ref->size) return false;
  *fn = ref->fn;
  *bar = ref->bar;
  *off = addr - ref->va;
  return true;
}

/* ---- Interrupts ---------------------------------------------------------- */

struct Intr {
  vmk_PCIDeviceInt* dev;
  unsigned vector;  // MSI-X table index; 0 for INTx and MSI
  vmk_PCIInterruptType type;
  bool registered = false;
  bool enabled = false;
  bool pending = false;
  bool queued = false;
  bool running = false;
  unsigned delivered = 0;   // handler calls
  vmk_IntrProps props{};
};

// A function's INTx line: level-triggered. While the device holds it up, every
// return of the handler delivers the interrupt again; a line that stays up
// through kIntxStorm deliveries in a row is masked (logged) until it drops.
struct IntxLine {
  bool level = false;
  unsigned storm = 0;
  bool masked = false;
};
constexpr unsigned kIntxStorm = 1000;

std::mutex intrLock;
std::condition_variable intrCv;
std::map<vmk_IntrCookie, Intr> intrs;  // intrLock
std::deque<vmk_IntrCookie> intrQueue;  // intrLock
std::map<hostbus::Function*, IntxLine> intxLines;  // intrLock

bool lineUpLocked(const Intr& in) {
  if (in.type == VMK_PCI_INTERRUPT_TYPE_MSIX) return false;
  auto it = intxLines.find(in.dev->fn);
  return it != intxLines.end() && it->second.level && !it->second.masked;
}
void queueLocked(vmk_IntrCookie c, Intr& in);
vmk_IntrCookie nextCookie = 0x20;

struct IntrThread {
  std::thread thread;
  bool stop = false;
  bool started = false;
  void ensureStarted() {  // intrLock held
    if (!started) {
      started = true;
      thread = std::thread([this] { run(); });
    }
  }
  void run() {
    std::unique_lock<std::mutex> lk(intrLock);
    for (;;) {
      intrCv.wait(lk, [this] { return stop || !intrQueue.empty(); });
      if (stop) return;
      vmk_IntrCookie c = intrQueue.front();
      intrQueue.pop_front();
      auto it = intrs.find(c);
      if (it == intrs.end()) continue;
      Intr& in = it->second;
      in.queued = false;
      if (!in.pending || !in.registered || !in.enabled) continue;
      in.pending = false;
      in.running = true;
      in.delivered++;
      vmk_IntrProps props = in.props;
      lk.unlock();
      vmkint::enterInterruptContext(true);
      if (props.acknowledgeInterrupt) props.acknowledgeInterrupt(props.handlerData, c);
      if (props.handler) props.handler(props.handlerData, c);
      vmkint::enterInterruptContext(false);
      lk.lock();
      auto again = intrs.find(c);
      if (again != intrs.end()) {
        Intr& a = again->second;
        a.running = false;
        // A level-triggered line still up: its cause was not cleared.
        if (lineUpLocked(a) && a.registered && a.enabled) {
          IntxLine& line = intxLines[a.dev->fn];
          if (++line.storm >= kIntxStorm) {
            line.masked = true;
            vmkint::logAppend("", VMK_LOG_URGENCY_WARNING, 0,
                              "INTx line stays asserted through its handler: interrupt storm, line masked\n");
          } else {
            a.pending = true;
            queueLocked(c, a);
          }
        }
      }
      intrCv.notify_all();
    }
  }
  ~IntrThread() {
    {
      std::lock_guard<std::mutex> g(intrLock);
      stop = true;
    }
    intrCv.notify_all();
    if (thread.joinable()) thread.join();
  }
};
IntrThread intrThread;

void queueLocked(vmk_IntrCookie c, Intr& in) {
  if (!in.queued) {
    in.queued = true;
    intrQueue.push_back(c);
    intrThread.ensureStarted();
    intrCv.notify_all();
  }
}

/* ---- Device accesses to host memory -------------------------------------- */

// Device accesses that found no mapping. Counted without a lock: the first
// unmapped write's address is stored by the access that counted it.
struct DmaFaultCounts {
  std::atomic<uint64_t> unmappedWrites{0}, unmappedReads{0}, firstWriteAddr{0};
};
DmaFaultCounts dmaFaultCounts;

void dmaFault(vmk_IOA addr, bool write) {
  if (write) {
    if (dmaFaultCounts.unmappedWrites.fetch_add(1, std::memory_order_acq_rel) == 0)
      dmaFaultCounts.firstWriteAddr.store(addr, std::memory_order_release);
  } else {
    dmaFaultCounts.unmappedReads.fetch_add(1, std::memory_order_relaxed);
  }
}

// A device access may span several pages (of one mapping or of adjacent
// ones). One that is not mapped in full moves no byte (a master abort) and is
// counted. The pages are held while the bytes move, and pages adjacent in
// host memory (one pool allocation) are copied as one run.
bool dmaCopy(vmk_IOA addr, void* buf, size_t len, bool toDevice) {
  if (len == 0) return true;
  if (!vmkint::dmaPin(addr, len)) {
    dmaFault(addr, !toDevice);
    return false;
  }
  const vmk_IOA start = addr;
  const size_t total = len;
  auto* p = (uint8_t*)buf;
  uint8_t* run = nullptr;
  size_t runLen = 0;
  auto flush = [&] {
    if (toDevice) memcpy(p, run, runLen);
    else memcpy(run, p, runLen);
    p += runLen;
  };
  while (len > 0) {
    size_t n = std::min<size_t>(len, VMK_PAGE_SIZE - (addr & (VMK_PAGE_SIZE - 1)));
    uint8_t* host = vmkint::dmaPageHost(addr);
    if (run != nullptr && run + runLen == host) {
      runLen += n;
    } else {
      if (run != nullptr) flush();
      run = host;
      runLen = n;
    }
    addr += n;
    len -= n;
  }
  flush();
  vmkint::dmaUnpin(start, total);
  return true;
}

class StandinHost : public hostbus::Host {
 public:
  bool dmaRead(hostbus::BusAddr addr, void* dst, size_t len) override { return dmaCopy(addr, dst, len, true); }
  bool dmaWrite(hostbus::BusAddr addr, const void* src, size_t len) override {
    return dmaCopy(addr, const_cast<void*>(src), len, false);
  }
  // The valid word of a ring entry: one release store, which a driver's
  // acquire read of the word pairs with.
  bool dmaWriteRelease32(hostbus::BusAddr addr, uint32_t value) override {
    if ((addr & 3) != 0 || !vmkint::dmaPin(addr, 4)) {
      dmaFault(addr, true);
      return false;
    }
    vmkint::fenceRelease();
    __atomic_store_n(reinterpret_cast<uint32_t*>(vmkint::dmaPageHost(addr)), value, __ATOMIC_RELEASE);
    vmkint::dmaUnpin(addr, 4);
    return true;
  }
  void setIntxLine(hostbus::Function* fn, bool asserted) override {
    std::lock_guard<std::mutex> g(intrLock);
    IntxLine& line = intxLines[fn];
    if (line.level == asserted) return;
    line.level = asserted;
    line.storm = 0;
    line.masked = false;
    if (!asserted) return;
    for (auto& [c, in] : intrs) {
      if (in.dev->fn != fn || in.type == VMK_PCI_INTERRUPT_TYPE_MSIX || !in.registered) continue;
      in.pending = true;
      if (in.enabled) queueLocked(c, in);
      return;
    }
  }
  void raiseInterrupt(hostbus::Function* fn, unsigned vector) override {
    std::lock_guard<std::mutex> g(intrLock);
    for (auto& [c, in] : intrs) {
      // Without MSI-X every source of the function shares its one line.
      bool match = in.type == VMK_PCI_INTERRUPT_TYPE_MSIX ? in.vector == vector : true;
      if (in.dev->fn != fn || !match || !in.registered) continue;
      in.pending = true;
      if (in.enabled) queueLocked(c, in);
      return;
    }
  }
};
StandinHost standinHost;

vmk_Driver firstDriverLocked() { return driversList.empty() ? nullptr : driversList.front(); }

bool deviceKnownLocked(vmk_Device d) {
  for (auto* x : devicesList)
    if (x == d) return true;
  return false;
}

}  // namespace

/* ------------------------------------------------------------------------ */
/* Drivers and devices                                                       */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus vmk_DriverRegister(const vmk_DriverProps* props, vmk_Driver* driver) {
  VMK_FAULT_RETURN("vmk_DriverRegister");
  if (props == nullptr || driver == nullptr || props->ops == nullptr) return VMK_BAD_PARAM;
  auto* d = new vmk_DriverInt();
  d->name = props->name.string;
  d->ops = *props->ops;
  {
    std::lock_guard<std::mutex> g(devLock);
    driversList.push_back(d);
  }
  counters.drivers++;
  *driver = d;
  return VMK_OK;
}

VMK_ReturnStatus vmk_DriverUnregister(vmk_Driver driver) {
  VMK_FAULT_RETURN("vmk_DriverUnregister");
  std::vector<vmk_Device> attached;
  {
    std::lock_guard<std::mutex> g(devLock);
    auto it = std::find(driversList.begin(), driversList.end(), driver);
    if (it == driversList.end()) return VMK_INVALID_HANDLE;
    for (auto* d : devicesList)
      if (d->attached && d->owner == driver) attached.push_back(d);
  }
  // The device layer takes the driver's devices away before the driver goes.
  for (auto* d : attached) {
    vmktest::quiesceDevice(d);
    vmktest::detachDevice(d);
  }
  {
    std::lock_guard<std::mutex> g(devLock);
    driversList.erase(std::find(driversList.begin(), driversList.end(), driver));
  }
  delete driver;
  counters.drivers--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_DeviceGetRegistrationData(vmk_Device device, vmk_AddrCookie* data) {
  VMK_FAULT_RETURN("vmk_DeviceGetRegistrationData");
  if (device == nullptr || data == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(devLock);
  if (device->pci) data->ptr = device->pci;
  else *data = device->registrationData;
  return VMK_OK;
}

VMK_ReturnStatus vmk_DeviceSetAttachedDriverData(vmk_Device device, vmk_AddrCookie data) {
  VMK_FAULT_RETURN("vmk_DeviceSetAttachedDriverData");
  if (device == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(devLock);
  device->driverData = data;
  return VMK_OK;
}

VMK_ReturnStatus vmk_DeviceGetAttachedDriverData(vmk_Device device, vmk_AddrCookie* data) {
  VMK_FAULT_RETURN("vmk_DeviceGetAttachedDriverData");
  if (device == nullptr || data == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(devLock);
  *data = device->driverData;
  return VMK_OK;
}

VMK_ReturnStatus vmk_DeviceRegister(const vmk_DeviceProps* props, vmk_Device parent, vmk_Device* newDevice) {
  VMK_FAULT_RETURN("vmk_DeviceRegister");
  if (props == nullptr || newDevice == nullptr || props->deviceID == nullptr) return VMK_BAD_PARAM;
  auto* d = new vmk_DeviceInt();
  d->parent = parent;
  d->owner = props->registeringDriver;
  d->driverData = props->registeringDriverData;
  d->registrationData = props->registrationData;
  if (props->deviceOps) d->ops = *props->deviceOps;
  if (props->deviceID->busAddress)
    d->busAddress.assign(props->deviceID->busAddress, props->deviceID->busAddressLen);
  if (props->deviceID->busIdentifier)
    d->busIdentifier.assign(props->deviceID->busIdentifier, props->deviceID->busIdentifierLen);
  {
    std::lock_guard<std::mutex> g(devLock);
    devicesList.push_back(d);
  }
  counters.childDevices++;
  *newDevice = d;
  return VMK_OK;
}

VMK_ReturnStatus vmk_DeviceUnregister(vmk_Device device) {
  VMK_FAULT_RETURN("vmk_DeviceUnregister");
  {
    std::lock_guard<std::mutex> g(devLock);
    if (!deviceKnownLocked(device) || device->pci != nullptr) return VMK_INVALID_HANDLE;
    devicesList.remove(device);
  }
  delete device;
  counters.childDevices--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_BusTypeFind(const vmk_Name* name, vmk_BusType* busType) {
  VMK_FAULT_RETURN("vmk_BusTypeFind");
  if (name == nullptr || busType == nullptr) return VMK_BAD_PARAM;
  if (strcmp(name->string, "logical") != 0 && strcmp(name->string, "pci") != 0) return VMK_NOT_FOUND;
  auto* b = new vmk_BusTypeInt{name->string};
  std::lock_guard<std::mutex> g(devLock);
  busTypes.insert(b);
  *busType = b;
  return VMK_OK;
}

VMK_ReturnStatus vmk_BusTypeRelease(vmk_BusType busType) {
  VMK_FAULT_RETURN("vmk_BusTypeRelease");
  std::lock_guard<std::mutex> g(devLock);
  if (busTypes.erase(busType) == 0) return VMK_INVALID_HANDLE;
  delete busType;
  return VMK_OK;
}

VMK_ReturnStatus vmk_LogicalCreateBusAddress(vmk_Driver, vmk_Device parent, vmk_uint32 logicalPort,
                                             char** busAddress, vmk_uint32* busAddressLen) {
  VMK_FAULT_RETURN("vmk_LogicalCreateBusAddress");
  if (busAddress == nullptr || busAddressLen == nullptr) return VMK_BAD_PARAM;
  char text[64];
  int n = snprintf(text, sizeof text, "%p:%u", (void*)parent, logicalPort);
  auto* copy = new char[(size_t)n + 1];
  memcpy(copy, text, (size_t)n + 1);
  *busAddress = copy;
  *busAddressLen = (vmk_uint32)n;
  return VMK_OK;
}

VMK_ReturnStatus vmk_LogicalFreeBusAddress(vmk_Driver, char* busAddress) {
  delete[] busAddress;
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* PCI                                                                       */
/* ------------------------------------------------------------------------ */

VMK_ReturnStatus vmk_PCIQueryDeviceID(vmk_PCIDevice dev, vmk_PCIDeviceID* id) {
  VMK_FAULT_RETURN("vmk_PCIQueryDeviceID");
  if (dev == nullptr || id == nullptr) return VMK_BAD_PARAM;
  hostbus::Function* fn = dev->fn;
  id->vendorID = (vmk_uint16)fn->configRead(0x00, 2);
  id->deviceID = (vmk_uint16)fn->configRead(0x02, 2);
  id->progIFRevID = (vmk_uint16)fn->configRead(0x08, 2);
  id->classCode = (vmk_uint16)fn->configRead(0x0A, 2);
  id->subVendorID = (vmk_uint16)fn->configRead(0x2C, 2);
  id->subDeviceID = (vmk_uint16)fn->configRead(0x2E, 2);
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIQueryDeviceAddr(vmk_PCIDevice dev, vmk_PCIDeviceAddr* addr) {
  VMK_FAULT_RETURN("vmk_PCIQueryDeviceAddr");
  if (dev == nullptr || addr == nullptr) return VMK_BAD_PARAM;
  addr->seg = dev->fn->segment();
  addr->bus = dev->fn->bus();
  addr->dev = dev->fn->device();
  addr->fn = dev->fn->function();
  return VMK_OK;
}

static bool configAccessOk(vmk_PCIConfigAccess width, vmk_uint16 offset) {
  unsigned w = (unsigned)width;
  return (w == 1 || w == 2 || w == 4) && offset % w == 0 && offset + w <= 4096;
}

VMK_ReturnStatus vmk_PCIReadConfig(vmk_ModuleID, vmk_PCIDevice dev, vmk_PCIConfigAccess width, vmk_uint16 offset,
                                   vmk_uint32* value) {
  VMK_FAULT_RETURN("vmk_PCIReadConfig");
  if (dev == nullptr || value == nullptr || !configAccessOk(width, offset)) return VMK_BAD_PARAM;
  *value = dev->fn->configRead(offset, (unsigned)width);
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIWriteConfig(vmk_ModuleID, vmk_PCIDevice dev, vmk_PCIConfigAccess width, vmk_uint16 offset,
                                    vmk_uint32 value) {
  VMK_FAULT_RETURN("vmk_PCIWriteConfig");
  if (dev == nullptr || !configAccessOk(width, offset)) return VMK_BAD_PARAM;
  dev->fn->configWrite(offset, value, (unsigned)width);
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIEnablePME(vmk_ModuleID, vmk_PCIDevice dev) {
  VMK_FAULT_RETURN("vmk_PCIEnablePME");
  if (dev == nullptr) return VMK_BAD_PARAM;
  dev->pme = true;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIDisablePME(vmk_ModuleID, vmk_PCIDevice dev) {
  VMK_FAULT_RETURN("vmk_PCIDisablePME");
  if (dev == nullptr) return VMK_BAD_PARAM;
  dev->pme = false;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIMapIOResource(vmk_ModuleID, vmk_PCIDevice dev, vmk_uint8 bar, void*, vmk_VA* va) {
  VMK_FAULT_RETURN("vmk_PCIMapIOResource");
  if (dev == nullptr || va == nullptr || bar >= 6) return VMK_BAD_PARAM;
  uint64_t size = dev->fn->barSize(bar);
  if (size == 0) return VMK_NOT_FOUND;
  std::lock_guard<std::mutex> g(devLock);
  if (dev->bars[bar].va != 0) return VMK_EXISTS;
  vmk_VA w = reserveBarWindow(size);
  if (w == 0) return VMK_NO_ADDRESS_SPACE;
  dev->bars[bar] = BarWindow{w, size};
  publishBarWindow(new BarRef{dev->fn, bar, w, size});
  counters.barMappings++;
  *va = w;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIUnmapIOResource(vmk_ModuleID, vmk_PCIDevice dev, vmk_uint8 bar) {
  VMK_FAULT_RETURN("vmk_PCIUnmapIOResource");
  if (dev == nullptr || bar >= 6) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(devLock);
  if (dev->bars[bar].va == 0) return VMK_NOT_FOUND;
  withdrawBarWindow(dev->bars[bar].va);
  dev->bars[bar] = BarWindow{};
  counters.barMappings--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIQueryIOResource(vmk_PCIDevice dev, vmk_uint8 bar, vmk_PCIResource* resource) {
  VMK_FAULT_RETURN("vmk_PCIQueryIOResource");
  if (dev == nullptr || resource == nullptr || bar >= 6) return VMK_BAD_PARAM;
  uint64_t size = dev->fn->barSize(bar);
  if (size == 0) return VMK_NOT_FOUND;
  *resource = vmk_PCIResource{0, size, 0};
  return VMK_OK;
}

static uint32_t mmioRead(vmk_VA addr, unsigned width) {
  hostbus::Function* fn;
  unsigned bar;
  uint64_t off;
  if (!barLookup(addr, width, &fn, &bar, &off)) vmk_Panic("MMIO read of %u bytes at unmapped address %#lx", width, (unsigned long)addr);
  return fn->barRead(bar, off, width);
}

static void mmioWrite(vmk_VA addr, uint32_t value, unsigned width) {
  hostbus::Function* fn;
  unsigned bar;
  uint64_t off;
  if (!barLookup(addr, width, &fn, &bar, &off)) vmk_Panic("MMIO write of %u bytes at unmapped address %#lx", width, (unsigned long)addr);
  fn->barWrite(bar, off, value, width);
}

vmk_uint8 vmk_MMIORead8(vmk_VA addr) { return (vmk_uint8)mmioRead(addr, 1); }
vmk_uint16 vmk_MMIORead16(vmk_VA addr) { return (vmk_uint16)mmioRead(addr, 2); }
vmk_uint32 vmk_MMIORead32(vmk_VA addr) { return mmioRead(addr, 4); }
void vmk_MMIOWrite8(vmk_VA addr, vmk_uint8 value) { mmioWrite(addr, value, 1); }
void vmk_MMIOWrite16(vmk_VA addr, vmk_uint16 value) { mmioWrite(addr, value, 2); }
void vmk_MMIOWrite32(vmk_VA addr, vmk_uint32 value) { mmioWrite(addr, value, 4); }

/* ------------------------------------------------------------------------ */
/* Interrupts                                                                */
/* ------------------------------------------------------------------------ */

// The enable bit of the function's MSI-X capability, as the kernel sets it
// when it hands out MSI-X vectors (the device then signals by message, not
// on its INTx line).
static void setMsixEnable(hostbus::Function* fn, bool on) {
  uint32_t p = fn->configRead(0x34, 1);
  for (int hops = 0; p != 0 && p < 0xFF && hops < 48; ++hops) {
    if (fn->configRead(p, 1) == 0x11) {
      uint32_t mc = fn->configRead(p + 2, 2);
      fn->configWrite(p + 2, on ? (mc | 0x8000) : (mc & ~0x8000u), 2);
      return;
    }
    p = fn->configRead(p + 1, 1);
  }
}

VMK_ReturnStatus vmk_PCIAllocIntrCookie(vmk_ModuleID, vmk_PCIDevice dev, vmk_PCIInterruptType type,
                                        vmk_uint32 numDesired, vmk_uint32 numRequired, const vmk_uint16* indexes,
                                        vmk_IntrCookie* cookies, vmk_uint32* numAllocated) {
  VMK_FAULT_RETURN("vmk_PCIAllocIntrCookie");
  if (dev == nullptr || cookies == nullptr || numDesired == 0 || numRequired > numDesired) return VMK_BAD_PARAM;
  // Ask the device before taking the interrupt lock: a device raises
  // interrupts under its own lock.
  unsigned avail = type == VMK_PCI_INTERRUPT_TYPE_MSIX ? dev->fn->msixVectors() : 1;
  std::unique_lock<std::mutex> lk(intrLock);
  if (!dev->cookies.empty()) return VMK_BUSY;
  vmk_uint32 n = 1;
  if (type == VMK_PCI_INTERRUPT_TYPE_MSIX) {
    if (avail == 0) return VMK_NOT_SUPPORTED;
    if (avail < numRequired) return VMK_NO_RESOURCES;
    n = std::min<vmk_uint32>(numDesired, avail);
  } else if (numRequired > 1) {
    return VMK_NO_RESOURCES;
  }
  for (vmk_uint32 i = 0; i < n; i++) {
    Intr in{};
    in.dev = dev;
    in.type = type;
    in.vector = type == VMK_PCI_INTERRUPT_TYPE_MSIX ? (indexes ? indexes[i] : i) : 0;
    vmk_IntrCookie c = nextCookie++;
    intrs[c] = in;
    dev->cookies.push_back(c);
    cookies[i] = c;
  }
  counters.intrCookies += n;
  if (numAllocated) *numAllocated = n;
  lk.unlock();
  // Outside the interrupt lock: a device raises interrupts under its own lock.
  if (type == VMK_PCI_INTERRUPT_TYPE_MSIX) setMsixEnable(dev->fn, true);
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIFreeIntrCookies(vmk_ModuleID, vmk_PCIDevice dev) {
  VMK_FAULT_RETURN("vmk_PCIFreeIntrCookies");
  if (dev == nullptr) return VMK_BAD_PARAM;
  std::unique_lock<std::mutex> lk(intrLock);
  if (dev->cookies.empty()) return VMK_NOT_FOUND;
  for (auto c : dev->cookies)
    if (intrs[c].registered) return VMK_BUSY;  // handlers must go first
  bool msix = intrs[dev->cookies.front()].type == VMK_PCI_INTERRUPT_TYPE_MSIX;
  for (auto c : dev->cookies) intrs.erase(c);
  counters.intrCookies -= (long)dev->cookies.size();
  dev->cookies.clear();
  lk.unlock();
  if (msix) setMsixEnable(dev->fn, false);
  return VMK_OK;
}

VMK_ReturnStatus vmk_IntrRegister(vmk_ModuleID, vmk_IntrCookie cookie, const vmk_IntrProps* props) {
  VMK_FAULT_RETURN("vmk_IntrRegister");
  if (props == nullptr || props->handler == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(intrLock);
  auto it = intrs.find(cookie);
  if (it == intrs.end()) return VMK_INVALID_HANDLE;
  if (it->second.registered) return VMK_BUSY;
  it->second.registered = true;
  it->second.enabled = false;
  it->second.pending = false;
  it->second.props = *props;
  counters.intrRegistrations++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_IntrUnregister(vmk_ModuleID, vmk_IntrCookie cookie, void* handlerData) {
  VMK_FAULT_RETURN("vmk_IntrUnregister");
  std::unique_lock<std::mutex> lk(intrLock);
  auto it = intrs.find(cookie);
  if (it == intrs.end() || !it->second.registered || it->second.props.handlerData != handlerData)
    return VMK_NOT_FOUND;
  it->second.registered = false;
  it->second.enabled = false;
  it->second.pending = false;
  // Unregistration returns only once the handler is no longer running.
  if (std::this_thread::get_id() != intrThread.thread.get_id())
    intrCv.wait(lk, [&] { return !intrs[cookie].running; });
  counters.intrRegistrations--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_IntrEnable(vmk_IntrCookie cookie) {
  VMK_FAULT_RETURN("vmk_IntrEnable");
  std::lock_guard<std::mutex> g(intrLock);
  auto it = intrs.find(cookie);
  if (it == intrs.end() || !it->second.registered) return VMK_INVALID_HANDLE;
  it->second.enabled = true;
  if (lineUpLocked(it->second)) it->second.pending = true;   // level-triggered: still up
  if (it->second.pending) queueLocked(cookie, it->second);
  return VMK_OK;
}

VMK_ReturnStatus vmk_IntrDisable(vmk_IntrCookie cookie) {
  VMK_FAULT_RETURN("vmk_IntrDisable");
  std::lock_guard<std::mutex> g(intrLock);
  auto it = intrs.find(cookie);
  if (it == intrs.end() || !it->second.registered) return VMK_INVALID_HANDLE;
  it->second.enabled = false;
  return VMK_OK;
}

VMK_ReturnStatus vmk_IntrSync(vmk_IntrCookie cookie) {
  VMK_FAULT_RETURN("vmk_IntrSync");
  // Waiting for a handler is no business of the panic path.
  if (panicContext.load(std::memory_order_relaxed)) {
    kernelRuleBroken("vmk_IntrSync may block in a panic context");
    return VMK_WOULD_BLOCK;
  }
  std::unique_lock<std::mutex> lk(intrLock);
  if (intrs.find(cookie) == intrs.end()) return VMK_INVALID_HANDLE;
  if (std::this_thread::get_id() == intrThread.thread.get_id()) return VMK_OK;
  intrCv.wait(lk, [&] {
    auto it = intrs.find(cookie);
    return it == intrs.end() || (!it->second.running && !(it->second.queued && it->second.enabled));
  });
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* DMA engines and scatter-gather                                            */
/* ------------------------------------------------------------------------ */

struct vmk_DMAEngineInt {
  std::string name;
  vmk_IOA mask;
  PerThreadCount mappings;  // live ones; the kernel's count is the engines' sum
};

namespace {
std::mutex engineLock;
std::vector<vmk_DMAEngineInt*> engines;  // engineLock; not destroyed
int64_t dmaMappingsBase = 0;              // engineLock
int64_t engineMappingsLocked() {
  int64_t n = 0;
  for (auto* e : engines) n += e->mappings.sum();
  return n;
}
}  // namespace

namespace vmkint {
int64_t liveDmaMappings() {
  std::lock_guard<std::mutex> g(engineLock);
  return engineMappingsLocked() - dmaMappingsBase;
}
void rebaseDmaMappings() {
  std::lock_guard<std::mutex> g(engineLock);
  dmaMappingsBase = engineMappingsLocked();
}
}  // namespace vmkint

struct vmk_SgOpsHandleInt {
  vmk_HeapID heap;
  long arrays = 0;
};

VMK_ReturnStatus vmk_DMAEngineCreate(const vmk_DMAEngineProps* props, vmk_DMAEngine* engine) {
  VMK_FAULT_RETURN("vmk_DMAEngineCreate");
  if (props == nullptr || engine == nullptr || props->constraints == nullptr) return VMK_BAD_PARAM;
  if (props->constraints->addressMask < VMK_ADDRESS_MASK_32BIT) return VMK_NOT_SUPPORTED;
  auto* e = new vmk_DMAEngineInt();
  e->name = props->name.string;
  e->mask = props->constraints->addressMask;
  {
    std::lock_guard<std::mutex> g(engineLock);
    engines.push_back(e);
  }
  counters.dmaEngines++;
  *engine = e;
  return VMK_OK;
}

namespace vmkint {
vmk_IOA dmaEngineMask(vmk_DMAEngine engine) { return engine->mask; }
}  // namespace vmkint

VMK_ReturnStatus vmk_DMAEngineDestroy(vmk_DMAEngine engine) {
  VMK_FAULT_RETURN("vmk_DMAEngineDestroy");
  if (engine == nullptr) return VMK_INVALID_HANDLE;
  if (engine->mappings.sum() != 0) return VMK_BUSY;
  {
    std::lock_guard<std::mutex> g(engineLock);
    std::erase(engines, engine);
  }
  delete engine;
  counters.dmaEngines--;
  return VMK_OK;
}

const char* vmk_DMAMapErrorReasonToString(vmk_DMAMapErrorReason reason) {
  switch (reason) {
    case VMK_DMA_MAP_ERROR_REASON_NONE: return "no error";
    case VMK_DMA_MAP_ERROR_REASON_ADDRESS_EXCEEDS_MASK: return "address beyond the engine's address mask";
    case VMK_DMA_MAP_ERROR_REASON_NO_RESOURCES: return "out of mapping resources";
    case VMK_DMA_MAP_ERROR_REASON_BAD_ELEMENT: return "element is not machine memory";
    case VMK_DMA_MAP_ERROR_REASON_INJECTED: return "injected failure";
  }
  return "unknown reason";
}

VMK_ReturnStatus vmk_SgCreateOpsHandle(vmk_HeapID heap, vmk_SgOpsHandle* handle, void*, void*) {
  VMK_FAULT_RETURN("vmk_SgCreateOpsHandle");
  if (heap == nullptr || handle == nullptr) return VMK_BAD_PARAM;
  // The handle lives on the caller's heap, as it would in the kernel.
  void* mem = heapAllocInternal(heap, sizeof(vmk_SgOpsHandleInt), 16);
  if (mem == nullptr) return VMK_NO_MEMORY;
  auto* h = new (mem) vmk_SgOpsHandleInt{heap, 0};
  counters.sgHandles++;
  *handle = h;
  return VMK_OK;
}

VMK_ReturnStatus vmk_SgDestroyOpsHandle(vmk_SgOpsHandle handle) {
  VMK_FAULT_RETURN("vmk_SgDestroyOpsHandle");
  if (handle == nullptr) return VMK_INVALID_HANDLE;
  if (handle->arrays != 0) return VMK_BUSY;
  vmk_HeapID heap = handle->heap;
  handle->~vmk_SgOpsHandleInt();
  vmk_HeapFree(heap, handle);
  counters.sgHandles--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_SgAllocWithInit(vmk_SgOpsHandle handle, vmk_SgArray** sg, vmk_VA va, vmk_ByteCount length) {
  VMK_FAULT_RETURN("vmk_SgAllocWithInit");
  if (handle == nullptr || sg == nullptr || length == 0) return VMK_BAD_PARAM;
  // One element per machine-contiguous run of the range.
  std::vector<vmk_SgElem> elems;
  vmk_ByteCount done = 0;
  while (done < length) {
    vmk_VA cur = va + done;
    vmk_ByteCount inPage = VMK_PAGE_SIZE - (cur & (VMK_PAGE_SIZE - 1));
    vmk_ByteCount n = std::min<vmk_ByteCount>(inPage, length - done);
    vmk_MA ma;
    if (!vaToMachine(cur, n, &ma)) return VMK_BAD_PARAM;
    if (!elems.empty() && elems.back().addr + elems.back().length == ma)
      elems.back().length += (vmk_uint32)n;
    else
      elems.push_back(vmk_SgElem{ma, (vmk_uint32)n, 0});
    done += n;
  }
  size_t bytes = sizeof(vmk_SgArray) + (elems.size() - 1) * sizeof(vmk_SgElem);
  auto* a = (vmk_SgArray*)heapAllocInternal(handle->heap, bytes, 16);
  if (a == nullptr) return VMK_NO_MEMORY;
  a->maxElems = a->numElems = (vmk_uint32)elems.size();
  memcpy(a->elem, elems.data(), elems.size() * sizeof(vmk_SgElem));
  handle->arrays++;
  counters.sgArrays++;
  *sg = a;
  return VMK_OK;
}

VMK_ReturnStatus vmk_SgFree(vmk_SgOpsHandle handle, vmk_SgArray* sg) {
  VMK_FAULT_RETURN("vmk_SgFree");
  if (handle == nullptr || sg == nullptr) return VMK_BAD_PARAM;
  vmk_HeapFree(handle->heap, sg);
  handle->arrays--;
  counters.sgArrays--;
  return VMK_OK;
}

static inline __attribute__((always_inline)) VMK_ReturnStatus mapOne(vmk_DMAEngine engine, const vmk_SgElem& e,
                                                                      CallBlock* b, vmk_DMAMapErrorReason* why) {
  if (e.length == 0 || ((e.addr + e.length - 1) & ~engine->mask) != 0) {
    *why = VMK_DMA_MAP_ERROR_REASON_ADDRESS_EXCEEDS_MASK;
    return VMK_FAILURE;
  }
  // Bus address = machine address: the mapping is the pages' count of
  // mappings going up.
  switch (dmaMapRange(e.addr, e.length, b)) {
    case DmaMapResult::Ok: return VMK_OK;
    case DmaMapResult::NotMemory: *why = VMK_DMA_MAP_ERROR_REASON_BAD_ELEMENT; break;
    case DmaMapResult::TooMany: *why = VMK_DMA_MAP_ERROR_REASON_NO_RESOURCES; break;
  }
  return VMK_FAILURE;
}

VMK_ReturnStatus vmk_DMAMapSg(vmk_DMAEngine engine, vmk_DMADirection, vmk_SgOpsHandle handle, vmk_SgArray* in,
                              vmk_SgArray** out, vmk_DMAMapErrorInfo* err) {
  VMK_FAULT_POINT("vmk_DMAMapSg");
  if (err) *err = vmk_DMAMapErrorInfo{VMK_DMA_MAP_ERROR_REASON_NONE, 0};
  if (vmk_faultStatus_ != VMK_OK) {
    if (err) err->error = VMK_DMA_MAP_ERROR_REASON_INJECTED;
    return vmk_faultStatus_;
  }
  if (engine == nullptr || handle == nullptr || in == nullptr || out == nullptr) return VMK_BAD_PARAM;
  CallBlock* b = threadBlock();
  for (vmk_uint32 i = 0; i < in->numElems; i++) {
    vmk_DMAMapErrorReason why = VMK_DMA_MAP_ERROR_REASON_NONE;
    if (mapOne(engine, in->elem[i], b, &why) != VMK_OK) {
      for (vmk_uint32 j = 0; j < i; j++) dmaUnmapRange(in->elem[j].addr, in->elem[j].length, b);
      if (err) *err = vmk_DMAMapErrorInfo{why, i};
      return VMK_FAILURE;
    }
  }
  engine->mappings.add(b, 1);
  *out = in;  // bus address = machine address: the array is its own mapping
  return VMK_OK;
}

VMK_ReturnStatus vmk_DMAUnmapSg(vmk_DMAEngine engine, vmk_DMADirection, vmk_SgOpsHandle, vmk_SgArray* sg) {
  VMK_FAULT_RETURN("vmk_DMAUnmapSg");
  if (engine == nullptr || sg == nullptr) return VMK_BAD_PARAM;
  CallBlock* b = threadBlock();
  for (vmk_uint32 i = 0; i < sg->numElems; i++) {
    if (!dmaUnmapRange(sg->elem[i].addr, sg->elem[i].length, b)) {
      for (vmk_uint32 j = 0; j < i; j++) dmaMapRange(sg->elem[j].addr, sg->elem[j].length, b);
      return VMK_NOT_FOUND;
    }
  }
  engine->mappings.add(b, -1);
  return VMK_OK;
}

VMK_ReturnStatus vmk_DMAMapElem(vmk_DMAEngine engine, vmk_DMADirection, const vmk_SgElem* in, vmk_Bool,
                                vmk_SgElem* out, vmk_DMAMapErrorInfo* err) {
  VMK_FAULT_POINT_IN_BLOCK("vmk_DMAMapElem");
  if (err) *err = vmk_DMAMapErrorInfo{VMK_DMA_MAP_ERROR_REASON_NONE, 0};
  if (vmk_faultStatus_ != VMK_OK) [[unlikely]] {
    if (err) err->error = VMK_DMA_MAP_ERROR_REASON_INJECTED;
    return vmk_faultStatus_;
  }
  if (engine == nullptr || in == nullptr || out == nullptr) return VMK_BAD_PARAM;
  vmk_DMAMapErrorReason why = VMK_DMA_MAP_ERROR_REASON_NONE;
  if (mapOne(engine, *in, vmk_block_, &why) != VMK_OK) {
    if (err) err->error = why;
    return VMK_FAILURE;
  }
  *out = *in;
  engine->mappings.add(vmk_block_, 1);
  return VMK_OK;
}

VMK_ReturnStatus vmk_DMAUnmapElem(vmk_DMAEngine engine, vmk_DMADirection, const vmk_SgElem* mapped) {
  VMK_FAULT_POINT_IN_BLOCK("vmk_DMAUnmapElem");
  if (vmk_faultStatus_ != VMK_OK) [[unlikely]] return vmk_faultStatus_;
  if (engine == nullptr || mapped == nullptr) return VMK_BAD_PARAM;
  if (!dmaUnmapRange(mapped->addr, mapped->length, vmk_block_)) return VMK_NOT_FOUND;
  engine->mappings.add(vmk_block_, -1);
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Test controls of the device layer                                         */
/* ------------------------------------------------------------------------ */

namespace vmkint {
void resetDevices() {
  vmktest::clearDmaFaults();
  // Plugged functions are pulled out; objects the driver still holds are
  // left for the accounting to report.
  std::vector<vmk_Device> pci;
  {
    std::lock_guard<std::mutex> g(devLock);
    for (auto* d : devicesList)
      if (d->pci) pci.push_back(d);
  }
  for (auto* d : pci) vmktest::unplugPciFunction(d);
  std::lock_guard<std::mutex> g(devLock);
  std::erase_if(barRefs(), [](BarRef* r) {
    if (!r->retired) return false;
    delete r;
    return true;
  });
}
}  // namespace vmkint

namespace vmktest {

hostbus::Host* host() { return &standinHost; }

bool dmaMapped(uint64_t busAddr, uint64_t len) {
  // Every page must be covered, possibly by adjacent mappings.
  return vmkint::dmaRangeMapped(busAddr, len);
}

DmaFaults dmaFaults() {
  DmaFaults f;
  f.unmappedWrites = dmaFaultCounts.unmappedWrites.load(std::memory_order_acquire);
  f.unmappedReads = dmaFaultCounts.unmappedReads.load(std::memory_order_acquire);
  f.firstWriteAddr = dmaFaultCounts.firstWriteAddr.load(std::memory_order_acquire);
  return f;
}

void clearDmaFaults() {
  dmaFaultCounts.unmappedWrites.store(0, std::memory_order_release);
  dmaFaultCounts.unmappedReads.store(0, std::memory_order_release);
  dmaFaultCounts.firstWriteAddr.store(0, std::memory_order_release);
}

vmk_Device plugPciFunction(hostbus::Function* fn) {
  auto* pci = new vmk_PCIDeviceInt();
  auto* d = new vmk_DeviceInt();
  pci->fn = fn;
  pci->device = d;
  d->pci = pci;
  {
    std::lock_guard<std::mutex> g(devLock);
    devicesList.push_back(d);
  }
  fn->attachHost(&standinHost);
  return d;
}

void unplugPciFunction(vmk_Device device) {
  {
    std::lock_guard<std::mutex> g(devLock);
    if (!deviceKnownLocked(device) || device->pci == nullptr) return;
  }
  if (device->attached) {
    quiesceDevice(device);
    detachDevice(device);
  }
  {
    std::lock_guard<std::mutex> g(devLock);
    devicesList.remove(device);
    // Windows and vectors a driver forgot stay counted, but can no longer
    // lead to a function that is gone.
    for (auto& w : device->pci->bars)
      if (w.va) withdrawBarWindow(w.va);
  }
  {
    std::lock_guard<std::mutex> g(intrLock);
    for (auto c : device->pci->cookies) {
      intrs.erase(c);
      intrQueue.erase(std::remove(intrQueue.begin(), intrQueue.end(), c), intrQueue.end());
    }
    intxLines.erase(device->pci->fn);
  }
  device->pci->fn->detachHost();
  delete device->pci;
  delete device;
}

static vmk_Driver driverFor(vmk_Device device) {
  std::lock_guard<std::mutex> g(devLock);
  return device->owner ? device->owner : firstDriverLocked();
}

VMK_ReturnStatus attachDevice(vmk_Device device) {
  vmk_Driver drv = driverFor(device);
  if (drv == nullptr || device->attached) return VMK_NOT_FOUND;
  VMK_ReturnStatus s = drv->ops.attachDevice(device);
  if (s == VMK_OK) {
    std::lock_guard<std::mutex> g(devLock);
    device->attached = true;
    device->owner = drv;
    counters.attachedDevices++;
  }
  return s;
}

#define VMK_DEVICE_OP(fn, op)                                      \
  VMK_ReturnStatus fn(vmk_Device device) {                         \
    vmk_Driver drv = driverFor(device);                            \
    if (drv == nullptr || !device->attached) return VMK_NOT_FOUND; \
    return drv->ops.op(device);                                    \
  }
VMK_DEVICE_OP(scanDevice, scanDevice)
VMK_DEVICE_OP(startDevice, startDevice)
VMK_DEVICE_OP(quiesceDevice, quiesceDevice)

VMK_ReturnStatus detachDevice(vmk_Device device) {
  vmk_Driver drv = driverFor(device);
  if (drv == nullptr || !device->attached) return VMK_NOT_FOUND;
  VMK_ReturnStatus s = drv->ops.detachDevice(device);
  std::lock_guard<std::mutex> g(devLock);
  device->attached = false;
  device->owner = nullptr;
  device->driverData.ptr = nullptr;
  counters.attachedDevices--;
  return s;
}

void forgetDevice(vmk_Device device) {
  vmk_Driver drv = driverFor(device);
  if (drv != nullptr && drv->ops.forgetDevice) drv->ops.forgetDevice(device);
}

unsigned interruptDeliveries(vmk_IntrCookie cookie) {
  std::lock_guard<std::mutex> g(intrLock);
  auto it = intrs.find(cookie);
  return it == intrs.end() ? 0 : it->second.delivered;
}

std::string interruptName(vmk_IntrCookie cookie) {
  std::lock_guard<std::mutex> g(intrLock);
  auto it = intrs.find(cookie);
  if (it == intrs.end() || !it->second.registered) return "";
  return it->second.props.deviceName.string;
}

std::vector<vmk_Device> childDevices(vmk_Device parent) {
  std::lock_guard<std::mutex> g(devLock);
  std::vector<vmk_Device> out;
  for (auto* d : devicesList)
    if (d->parent == parent && d->pci == nullptr) out.push_back(d);
  return out;
}

vmk_AddrCookie deviceRegistrationData(vmk_Device device) {
  std::lock_guard<std::mutex> g(devLock);
  vmk_AddrCookie c{};
  if (device->pci) c.ptr = device->pci;
  else c = device->registrationData;
  return c;
}

VMK_ReturnStatus removeDevice(vmk_Device device) {
  VMK_ReturnStatus (*remove)(vmk_Device) = nullptr;
  {
    std::lock_guard<std::mutex> g(devLock);
    if (!deviceKnownLocked(device)) return VMK_NOT_FOUND;
    remove = device->ops.removeDevice;
  }
  return remove ? remove(device) : VMK_NOT_SUPPORTED;
}

}  // namespace vmktest

/* ---- PCI objects of SR-IOV virtual functions (sriov.cpp) ----------------- */

namespace vmknet {

vmk_PCIDevice newVfPciDevice() { return new vmk_PCIDeviceInt{}; }

void deleteVfPciDevice(vmk_PCIDevice vf) { delete vf; }

vmk_AddrCookie pfDriverData(vmk_PCIDevice pf) {
  std::lock_guard<std::mutex> g(devLock);
  vmk_AddrCookie c{};
  if (pf != nullptr && pf->device != nullptr && deviceKnownLocked(pf->device)) c = pf->device->driverData;
  return c;
}

}  // namespace vmknet

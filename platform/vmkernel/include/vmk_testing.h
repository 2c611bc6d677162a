// Test controls of the kernel stand-in: the module loader, the device layer
// (plugging emulated PCI functions in), failure injection, the kernel clock,
// object accounting, captured log lines and management-channel invocation.
// Driver code never includes this file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostbus.h"
#include "vmkapi.h"

namespace vmktest {

/* ---- Resetting between tests ------------------------------------------- */

// Pulls plugged devices out, forgets failure rules, captured log lines and
// call counts, puts the clock back to real-time rate and sets the accounting
// to zero. Objects still alive are not freed: assert live() before.
void reset();

/* ---- Module loader ------------------------------------------------------ */

// Sets the registered module parameters from a loader option text such as
// "debugMask=0x10 max_vfs=1,2,3 msix=0" after putting every parameter back to
// its default. False (with a reason in *error) for an unknown name or a bad value.
bool setModuleParameters(const std::string& options, std::string* error = nullptr);
// Texts of the registered parameters: "name type description", in table order.
std::vector<std::string> moduleParameterList();
// Loads a module: sets its parameters, then runs its init function. Returns
// what init returned.
// What the module binary declared, as "namespace <ns>" / "version <text>".
std::vector<std::string> moduleDeclarations();
int loadModule(int (*init)(), const std::string& options = "");
void unloadModule(void (*cleanup)());

/* ---- Device layer -------------------------------------------------------- */

// Plugs a PCI function in (the host gets attached to it). The device is handed
// to the registered driver by attachDevice().
vmk_Device plugPciFunction(hostbus::Function* fn);
// Detaches (if attached) and pulls the function out.
void unplugPciFunction(vmk_Device device);
// Kernel-side driving of the registered driver's operations on a device.
VMK_ReturnStatus attachDevice(vmk_Device device);
VMK_ReturnStatus scanDevice(vmk_Device device);
VMK_ReturnStatus startDevice(vmk_Device device);
VMK_ReturnStatus quiesceDevice(vmk_Device device);
VMK_ReturnStatus detachDevice(vmk_Device device);
void forgetDevice(vmk_Device device);
// Child devices registered under `parent` (e.g. logical uplinks), in order.
std::vector<vmk_Device> childDevices(vmk_Device parent);
vmk_AddrCookie deviceRegistrationData(vmk_Device device);
// Calls the remove operation of a registered child device.
VMK_ReturnStatus removeDevice(vmk_Device device);
// The name an interrupt was registered under; empty when not registered.
std::string interruptName(vmk_IntrCookie cookie);
// Calls of the handler of an interrupt cookie. MSI-X vectors are messages
// (hostbus::Host::raiseInterrupt); the INTx line is level-triggered
// (hostbus::Host::setIntxLine): while the device keeps it asserted, the
// interrupt is delivered again each time the handler returns, and a line
// that stays up through 1000 deliveries in a row is masked (a log line says
// so) until it drops. Allocating MSI-X cookies sets the enable bit of the
// function's MSI-X capability, freeing them clears it.
unsigned interruptDeliveries(vmk_IntrCookie cookie);
// The host side of the bus, as the plugged functions see it.
hostbus::Host* host();
// Is a bus range currently mapped for DMA (for asserting device accesses)?
bool dmaMapped(uint64_t busAddr, uint64_t len);
// Device accesses (hostbus::Host::dmaRead / dmaWrite / dmaWriteRelease32) to
// bus ranges not mapped in full for DMA since the last reset() or
// clearDmaFaults(). Such an access moves no byte (the device sees a master
// abort). A fixture asserts unmappedWrites == 0 at tear-down: a device
// writing where nothing is mapped means the driver gave it memory it had
// already unmapped (or never mapped).
struct DmaFaults {
  uint64_t unmappedWrites = 0;
  uint64_t unmappedReads = 0;
  uint64_t firstWriteAddr = 0;   // bus address of the first unmapped write
};
DmaFaults dmaFaults();
void clearDmaFaults();

/* ---- Failure injection --------------------------------------------------- */

// Makes calls of service `name` (the function name, e.g. "vmk_HeapAlloc")
// fail with `status`: the nth call from now (1 = the next), or with `every`
// every call from the nth on. Calls that return a pointer fail with NULL.
void failCall(const std::string& name, unsigned nth, VMK_ReturnStatus status = VMK_FAILURE, bool every = false);
void clearFailures();
// Runs `hook` in the calling thread at the start of every call of service
// `name` (before an injected failure is decided), so a test can hold a caller
// inside a service. The hook runs without kernel locks and may block; an
// empty hook removes it, as do clearFailures() and reset().
void onCall(const std::string& name, std::function<void()> hook);
// Calls of `name` since the last reset().
unsigned callCount(const std::string& name);
// Failures actually injected since the last reset().
unsigned injectedCount(const std::string& name);

/* ---- Clock --------------------------------------------------------------- */

// Kernel time in nanoseconds since boot.
uint64_t nowNs();
// Kernel time runs `rate` times as fast as real time (1 = real time). With
// rate 0 the clock stands still and moves only by advance() and busy delays.
void setClockRate(double rate);
double clockRate();
// Moves the clock forward at once (sleepers whose time has come wake up).
void advance(uint64_t ns);
inline void advanceMs(uint64_t ms) { advance(ms * 1000000ull); }
// Number of threads asleep in vmk_WorldSleep now (their deadline taken), so
// a test can advance the clock only once a sleeper counts from it.
int sleepers();
// Number of threads blocked in vmk_SemaLock on `sema` now (taken by
// another), so a test can see a caller wait for a lock it holds elsewhere.
int semaWaiters(vmk_Semaphore sema);

// Waits in real time (polling) until `done` holds or `realMs` pass, for
// effects that arrive on kernel threads (interrupts, timers, worlds). True
// when `done` became true.
bool waitFor(const std::function<bool()>& done, unsigned realMs = 5000);

/* ---- Accounting ---------------------------------------------------------- */

struct Live {
  long modules = 0;
  long memPools = 0;
  long poolPages = 0;
  long mappings = 0;      // vmk_Map mappings
  long heaps = 0;
  long heapBlocks = 0;
  long logComponents = 0;
  long lockDomains = 0;
  long locks = 0;         // spinlocks and semaphores
  long drivers = 0;
  long hashTables = 0;
  long mgmtHandles = 0;
  long dmaEngines = 0;
  long dmaMappings = 0;
  long sgHandles = 0;
  long sgArrays = 0;
  long barMappings = 0;
  long intrCookies = 0;
  long intrRegistrations = 0;
  long worlds = 0;
  long timers = 0;
  long childDevices = 0;
  long attachedDevices = 0;
  long packets = 0;       // packet handles, clones included

  bool allZero() const;
  std::string describe() const;  // the non-zero counts, e.g. "heapBlocks=2 worlds=1"
};
Live live();

/* ---- Pools and heaps by name ------------------------------------------- */

struct PoolInfo {
  uint32_t reservation = 0;  // pages
  uint32_t limit = 0;        // pages
  uint64_t pagesInUse = 0;
};
struct HeapInfo {
  uint64_t initial = 0;
  uint64_t max = 0;
  uint64_t used = 0;         // bytes charged for live blocks
  bool poolBacked = false;
};
// False when no pool / heap of that name exists.
bool poolInfo(const std::string& name, PoolInfo* info);
bool heapInfo(const std::string& name, HeapInfo* info);

/* ---- Log ----------------------------------------------------------------- */

struct LogLine {
  std::string component;  // empty for lines outside a component
  vmk_LogUrgency urgency;
  int level;
  std::string text;       // as formatted, newline included
};
// The last lines written (at most 4096, oldest first): the kernel keeps a
// bounded tail, the way a log ring would.
std::vector<LogLine> logLines();
std::vector<std::string> logTexts();
void clearLog();
// Number of lines containing `needle` written since the last clear, exact
// over the whole run (not only the tail).
size_t logCount(const std::string& needle);
// Lines written since the last clear.
uint64_t logWritten();
// Echo log lines to standard error as they are written (off unless the
// environment sets VMK_LOG_ECHO=1).
void setLogEcho(bool on);

/* ---- Management channel -------------------------------------------------- */

// Invokes callback `id` of the management channel named `name` the way a user
// client would: the buffers are checked against the signature's sizes.
VMK_ReturnStatus mgmtInvoke(const std::string& name, uint64_t id, void* p1, size_t p1Size, void* p2,
                            size_t p2Size);
// Is a management channel of that name registered?
bool mgmtRegistered(const std::string& name);

// Key-value instances, by instance (signature) name: read a key as a client
// would (the get operation fills a zeroed kernel buffer), write one (the set
// operation gets a kernel copy of the text), list the keys in adding order.
VMK_ReturnStatus mgmtKeyGet(const std::string& instance, const std::string& key, std::string* value);
VMK_ReturnStatus mgmtKeySet(const std::string& instance, const std::string& key, const std::string& value);
std::vector<std::string> mgmtKeys(const std::string& instance);

/* ---- Lock rules ---------------------------------------------------------- */

// The kernel checks two rules of its locks and stops the system (vmk_Panic,
// "lock rule broken: ...") when one is broken:
// - a thread that holds a spinlock, or runs an interrupt handler, does not
//   sleep or block: vmk_WorldSleep, vmk_SemaLock, vmk_WorldWait (holding any
//   spinlock but the one it releases), vmk_WorldWaitForDeath, vmk_TimerCancel
//   with wait, vmk_MemPoolAlloc with a creation time-out;
// - ranked spinlocks (vmk_SpinlockCreateProps::rank other than
//   VMK_SPINLOCK_UNRANKED) of one lock domain are taken in increasing rank:
//   taking one whose rank is not above that of every ranked lock of the same
//   domain the thread holds breaks it. Unranked locks are not ordered.
// Other kernel rules are counted and handled the same way ("kernel rule
// broken: ..."): in a panic context no service may block and packets are
// released only with the panic-safe release (vmk_pkt_testing.h).
// Broken rules since the last reset(), and their texts.
unsigned lockRuleViolations();
std::vector<std::string> lockRuleTexts();
// With a handler the kernel calls it instead of stopping the system and the
// call goes on (tests of the rules themselves; a fixture may turn it into a
// test failure). reset() removes it.
void setLockRuleHandler(std::function<void(const std::string&)> handler);

/* ---- Modules the driver looks up ----------------------------------------- */

// Pretends a module of that name is loaded (or no longer loaded).
void setModulePresent(const std::string& name, bool present);

}  // namespace vmktest

// Internals shared by the files of the kernel stand-in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vmk_testing.h"
#include "vmkapi.h"

namespace vmkint {

/* ---- Failure injection --------------------------------------------------- */

struct FaultSite;
FaultSite* faultSite(const char* name);
// Counts the call; returns the status to fail with, or VMK_OK.
VMK_ReturnStatus faultCheck(FaultSite* site);

// First statement of every service that may fail.
#define VMK_FAULT_POINT(name)                                      \
  static vmkint::FaultSite* vmk_faultSite_ = vmkint::faultSite(name); \
  VMK_ReturnStatus vmk_faultStatus_ = vmkint::faultCheck(vmk_faultSite_)
// The same, for a service that fails with the injected status itself.
#define VMK_FAULT_RETURN(name) \
  VMK_FAULT_POINT(name);       \
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_

void resetFaults();

/* ---- Accounting ---------------------------------------------------------- */

struct Counters {
  std::atomic<long> modules{0}, memPools{0}, poolPages{0}, mappings{0}, heaps{0}, heapBlocks{0},
      logComponents{0}, lockDomains{0}, locks{0}, drivers{0}, hashTables{0}, mgmtHandles{0}, dmaEngines{0},
      dmaMappings{0}, sgHandles{0}, sgArrays{0}, barMappings{0}, intrCookies{0}, intrRegistrations{0}, worlds{0},
      timers{0}, childDevices{0}, attachedDevices{0};
};
extern Counters counters;

/* ---- Scheduling and the clock ------------------------------------------- */

// One lock and one condition for everything that sleeps on the kernel
// clock: sleeps, world waits, timers, interrupt syncs.
extern std::mutex schedLock;
extern std::condition_variable schedCv;
uint64_t clockNowNs();
// Waits on schedCv (schedLock held by `lk`) until notified or until kernel
// time reaches `deadlineNs` (0: no deadline). Returns on spurious wakes too:
// callers loop on their condition.
void schedWaitUntil(std::unique_lock<std::mutex>& lk, uint64_t deadlineNs);
void notifyAll();
void resetClock();

/* ---- Log ----------------------------------------------------------------- */

void logAppend(const char* component, vmk_LogUrgency urgency, int level, std::string_view text);
void resetLog();
std::string vformat(const char* fmt, va_list ap);

/* ---- Memory -------------------------------------------------------------- */

// What a device does before it publishes a ring entry's valid word: under a
// thread sanitizer the fences are operations on vmk_fenceWord (vmkapi.h), so a
// driver's read fence pairs with it.
inline void fenceRelease() {
#ifdef VMK_FENCES_AS_ATOMICS
  __atomic_fetch_add(&vmk_fenceWord, 1, __ATOMIC_RELEASE);
#endif
}

// Machine pages. One word per page, found without a lock: the host address
// of the page (page aligned) or 0 when the page is not machine memory, and in
// the low bits the number of live DMA mappings that cover it. Map, unmap and
// a device's access are atomic operations on these words.
enum class DmaMapResult { Ok, NotMemory, TooMany };
DmaMapResult dmaMapRange(vmk_IOA addr, uint64_t len);
// False (and nothing changed) when a page of the range is not mapped.
bool dmaUnmapRange(vmk_IOA addr, uint64_t len);
// Is every page of [addr, addr+len) mapped for DMA?
bool dmaRangeMapped(vmk_IOA addr, uint64_t len);
// Host address of bus address `addr` when its page is mapped for DMA.
uint8_t* dmaPageHost(vmk_IOA addr);
// Machine address of a mapped virtual range (nullopt-like: false).
bool vaToMachine(vmk_VA va, uint64_t len, vmk_MA* ma);
// Heap allocation on behalf of a kernel service (not counted as vmk_HeapAlloc).
void* heapAllocInternal(vmk_HeapID heap, vmk_ByteCount size, vmk_ByteCount alignment);

/* ---- Lock rules ---------------------------------------------------------- */

// Every service that may sleep or block calls this first: a thread that holds
// a spinlock (but `released`, which the service drops atomically with going
// to sleep) or runs an interrupt handler breaks a rule.
void mayBlock(const char* service, vmk_Lock released = nullptr);
// The interrupt thread marks the handlers it runs.
void enterInterruptContext(bool enter);
void lockRuleBroken(const std::string& what);
void resetLockRules();

/* ---- Devices ------------------------------------------------------------- */

void resetDevices();
void resetModules();

}  // namespace vmkint

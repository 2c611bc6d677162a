// Internals shared by the files of the kernel stand-in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vmk_testing.h"
#include "vmkapi.h"

namespace vmkint {

/* ---- Failure injection --------------------------------------------------- */

// A service's fault point is on the hot path of every call. Calls are counted
// per thread (each thread owns a block of counters and is its only writer, so
// counting is a plain load and store, no locked instruction) and summed when
// a test asks; an armed rule is seen by one acquire load. The rule itself is
// read and changed under the fault lock.
constexpr unsigned kCountedSites = 512;  // sites beyond share one atomic each
struct CallBlock {
  std::atomic<uint64_t> calls[kCountedSites]{};
  unsigned index = 0;  // order of making: no two live threads share one
  uint64_t pageTag = 0;  // the thread's tag as an owner of machine pages (0: none)
};
constexpr unsigned kPageTagShift = 48;
constexpr uint64_t kPageMaxTag = (1ull << (64 - kPageTagShift)) - 1;
// Initial-exec: the stand-in is linked into executables, and the default
// model of position-independent code would make every access a call.
extern __thread CallBlock* tlsCallBlock __attribute__((tls_model("initial-exec")));
// The calling thread's block, taken on its first counted call (nullptr while
// the thread exits).
CallBlock* takeThreadBlock();

inline CallBlock* threadBlock() {
  CallBlock* b = tlsCallBlock;
  return b != nullptr ? b : takeThreadBlock();
}

// A count changed on hot paths by many threads: each thread adds to its own
// slot (one writer, so a plain load and store, no locked instruction) and a
// reader sums the slots. Threads beyond the slots share one atomic.
class PerThreadCount {
 public:
  void add(int64_t d) { add(threadBlock(), d); }
  // The same, for a caller that has its thread's block at hand.
  void add(CallBlock* b, int64_t d) {
    if (b != nullptr && b->index < kSlots) [[likely]] {
      std::atomic<int64_t>& c = slot_[b->index];
      c.store(c.load(std::memory_order_relaxed) + d, std::memory_order_release);
    } else {
      shared_.fetch_add(d, std::memory_order_acq_rel);
    }
  }
  int64_t sum() const {
    int64_t n = shared_.load(std::memory_order_acquire) - base_.load(std::memory_order_acquire);
    for (const auto& c : slot_) n += c.load(std::memory_order_acquire);
    return n;
  }
  // What is counted now becomes the new zero (no thread may count meanwhile).
  void rebase() { base_.store(base_.load() + sum(), std::memory_order_release); }

 private:
  static constexpr unsigned kSlots = 64;
  std::atomic<int64_t> slot_[kSlots]{};
  std::atomic<int64_t> shared_{0}, base_{0};
};

struct FaultSite {
  std::string name;
  unsigned id = 0;
  std::atomic<uint64_t> shared{0};  // calls not counted in a thread's block
  uint64_t base = 0;                // calls before the last reset (fault lock)
  std::atomic<bool> armed{false};  // a failure rule or a hook is set
  bool rule = false;        // a failure rule is set (fault lock)
  std::function<void()> hook;  // vmktest::onCall (fault lock)
  unsigned sinceArm = 0;    // calls since the rule was set (fault lock)
  unsigned injected = 0;    // fault lock
  unsigned nth = 0;
  bool every = false;
  VMK_ReturnStatus status = VMK_FAILURE;
};
FaultSite* faultSite(const char* name);
// The armed rule of a site: the status to fail this call with, or VMK_OK.
VMK_ReturnStatus faultArmed(FaultSite* site);

// Counts the call in the thread's block `b` (nullptr: the site's shared
// count); returns the status to fail with, or VMK_OK.
inline VMK_ReturnStatus faultCheck(FaultSite* site, CallBlock* b) {
  if (b != nullptr && site->id < kCountedSites) [[likely]] {
    std::atomic<uint64_t>& c = b->calls[site->id];
    c.store(c.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  } else {
    site->shared.fetch_add(1, std::memory_order_relaxed);
  }
  if (!site->armed.load(std::memory_order_acquire)) [[likely]] return VMK_OK;
  return faultArmed(site);
}
inline VMK_ReturnStatus faultCheck(FaultSite* site) {
  return faultCheck(site, site->id < kCountedSites ? threadBlock() : nullptr);
}

// First statement of every service that may fail.
#define VMK_FAULT_POINT(name)                                      \
  static vmkint::FaultSite* vmk_faultSite_ = vmkint::faultSite(name); \
  VMK_ReturnStatus vmk_faultStatus_ = vmkint::faultCheck(vmk_faultSite_)
// The same, for a service that fails with the injected status itself.
#define VMK_FAULT_RETURN(name) \
  VMK_FAULT_POINT(name);       \
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_
// The fault point of a hot service that goes on to count in the calling
// thread's block: the block is looked up once, as `vmk_block_`.
#define VMK_FAULT_POINT_IN_BLOCK(name)                                 \
  static vmkint::FaultSite* vmk_faultSite_ = vmkint::faultSite(name); \
  vmkint::CallBlock* vmk_block_ = vmkint::threadBlock();               \
  VMK_ReturnStatus vmk_faultStatus_ = vmkint::faultCheck(vmk_faultSite_, vmk_block_)

void resetFaults();

/* ---- Accounting ---------------------------------------------------------- */

struct Counters {
  std::atomic<long> modules{0}, memPools{0}, poolPages{0}, mappings{0}, heaps{0},
      logComponents{0}, lockDomains{0}, locks{0}, drivers{0}, hashTables{0}, mgmtHandles{0}, dmaEngines{0},
      sgHandles{0}, sgArrays{0}, barMappings{0}, intrCookies{0}, intrRegistrations{0}, worlds{0},
      timers{0}, childDevices{0}, attachedDevices{0};
};
extern Counters counters;
// The live objects of the hot paths, counted per thread (Counters has the
// others).
// Live heap blocks: those of every heap not destroyed, less what was live at
// the last reset (leaked heaps stay counted).
int64_t liveHeapBlocks();
void rebaseHeapBlocks();
// Live DMA mappings: those of every DMA engine not destroyed, less what was
// live at the last reset (leaked engines stay counted).
int64_t liveDmaMappings();
void rebaseDmaMappings();

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

// Machine pages, found without a lock in a two-level table of the machine
// address space (16 TB: 2^32 pages): leaves of 2^16 page entries are made
// when pool pages first fall into them and live as long as the process.
//
// A page's live DMA mappings are counted in two words. The first thread to
// map the page after it was allocated owns the first: its tag in the high
// bits and its count below, changed by that thread alone with a plain load
// and store, so the common case (a thread mapping and unmapping its own
// fragments) takes no locked instruction. Every other thread counts in the
// second with atomic operations; an unmap on another thread than the map
// makes it negative. What is mapped is the sum. Device accesses under way
// are counted apart (pins), so freeing the page can wait for them.
struct PageEntry {
  std::atomic<uint64_t> host{0};   // page-aligned host address; 0: not machine memory
  std::atomic<uint64_t> own{0};    // owner tag << kPageTagShift | the owner's count
  std::atomic<int64_t> shared{0};  // the other threads' count
  std::atomic<uint64_t> pins{0};   // device accesses under way
};
constexpr unsigned kPageLeafBits = 16;
constexpr uint64_t kPageLeafPages = 1ull << kPageLeafBits;
constexpr uint64_t kPageTopEntries = 1ull << (32 - kPageLeafBits);
constexpr uint64_t kPageOwnCount = (1ull << kPageTagShift) - 1;
constexpr int64_t kMaxPageMappings = 4095;  // live mappings of one page
extern std::atomic<PageEntry*> pageTop[kPageTopEntries];

// The entry of machine page `pfn` (nullptr: no machine memory was ever there).
inline __attribute__((always_inline)) PageEntry* pageEntry(uint64_t pfn) {
  if (pfn >= kPageTopEntries * kPageLeafPages) [[unlikely]] return nullptr;
  PageEntry* leaf = pageTop[pfn >> kPageLeafBits].load(std::memory_order_acquire);
  return leaf != nullptr ? &leaf[pfn & (kPageLeafPages - 1)] : nullptr;
}

// The calling thread's tag as a page owner (0: it owns none).
inline uint64_t ownerTag(CallBlock* b) { return b != nullptr ? b->pageTag : 0; }

inline int64_t liveMappings(const PageEntry* e) {
  return (int64_t)(e->own.load(std::memory_order_acquire) & kPageOwnCount) +
         e->shared.load(std::memory_order_acquire);
}

enum class DmaMapResult { Ok, NotMemory, TooMany };

inline __attribute__((always_inline)) DmaMapResult mapPage(PageEntry* e, uint64_t tag) {
  if (e == nullptr || e->host.load(std::memory_order_acquire) == 0) [[unlikely]] return DmaMapResult::NotMemory;
  uint64_t v = e->own.load(std::memory_order_relaxed);
  if (tag != 0) [[likely]] {
    if (v >> kPageTagShift == tag) [[likely]] {
      if ((int64_t)(v & kPageOwnCount) + e->shared.load(std::memory_order_relaxed) >= kMaxPageMappings)
        return DmaMapResult::TooMany;
      e->own.store(v + 1, std::memory_order_release);
      return DmaMapResult::Ok;
    }
    // A page without an owner is taken by its first mapper.
    if (v == 0 && e->shared.load(std::memory_order_relaxed) < kMaxPageMappings &&
        e->own.compare_exchange_strong(v, tag << kPageTagShift | 1, std::memory_order_acq_rel,
                                       std::memory_order_relaxed))
      return DmaMapResult::Ok;
  }
  int64_t s = e->shared.load(std::memory_order_relaxed);
  do {
    if ((int64_t)(e->own.load(std::memory_order_relaxed) & kPageOwnCount) + s >= kMaxPageMappings)
      return DmaMapResult::TooMany;
  } while (!e->shared.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel, std::memory_order_relaxed));
  return DmaMapResult::Ok;
}

// False (nothing changed) when the page has no live mapping.
inline __attribute__((always_inline)) bool unmapPage(PageEntry* e, uint64_t tag) {
  if (e == nullptr) [[unlikely]] return false;
  uint64_t v = e->own.load(std::memory_order_relaxed);
  if (tag != 0 && v >> kPageTagShift == tag && (v & kPageOwnCount) != 0) [[likely]] {
    if ((int64_t)(v & kPageOwnCount) + e->shared.load(std::memory_order_relaxed) <= 0) return false;
    e->own.store(v - 1, std::memory_order_release);
    return true;
  }
  int64_t s = e->shared.load(std::memory_order_relaxed);
  do {
    if ((int64_t)(e->own.load(std::memory_order_relaxed) & kPageOwnCount) + s <= 0) return false;
  } while (!e->shared.compare_exchange_weak(s, s - 1, std::memory_order_acq_rel, std::memory_order_relaxed));
  return true;
}

// Ranges of more than one page.
DmaMapResult dmaMapPages(vmk_IOA addr, uint64_t len, CallBlock* b);
bool dmaUnmapPages(vmk_IOA addr, uint64_t len, CallBlock* b);

// Maps [addr, addr+len) for DMA; `b` is the calling thread's block.
inline __attribute__((always_inline)) DmaMapResult dmaMapRange(vmk_IOA addr, uint64_t len, CallBlock* b) {
  if (len != 0 && (addr & (VMK_PAGE_SIZE - 1)) + len <= VMK_PAGE_SIZE) [[likely]]
    return mapPage(pageEntry(addr / VMK_PAGE_SIZE), ownerTag(b));
  return dmaMapPages(addr, len, b);
}
inline DmaMapResult dmaMapRange(vmk_IOA addr, uint64_t len) { return dmaMapRange(addr, len, threadBlock()); }
// False (and nothing changed) when a page of the range is not mapped.
inline __attribute__((always_inline)) bool dmaUnmapRange(vmk_IOA addr, uint64_t len, CallBlock* b) {
  if (len != 0 && (addr & (VMK_PAGE_SIZE - 1)) + len <= VMK_PAGE_SIZE) [[likely]]
    return unmapPage(pageEntry(addr / VMK_PAGE_SIZE), ownerTag(b));
  return dmaUnmapPages(addr, len, b);
}
inline bool dmaUnmapRange(vmk_IOA addr, uint64_t len) { return dmaUnmapRange(addr, len, threadBlock()); }
// A device access holds the pages of its range for its duration (false, and
// nothing held, when a page is not mapped): an unmap that follows sees the
// access complete, and the pages are not freed under it.
bool dmaPin(vmk_IOA addr, uint64_t len);
void dmaUnpin(vmk_IOA addr, uint64_t len);
// Is every page of [addr, addr+len) mapped for DMA?
bool dmaRangeMapped(vmk_IOA addr, uint64_t len);
// Host address of bus address `addr` when its page is mapped (or held).
uint8_t* dmaPageHost(vmk_IOA addr);
// Machine address of a mapped virtual range (nullopt-like: false).
bool vaToMachine(vmk_VA va, uint64_t len, vmk_MA* ma);
// Machine pages for kernel objects outside any pool (packet buffers):
// contiguous, below 4 GB or anywhere. Freeing fails (and keeps the pages)
// while a page is still mapped for DMA.
bool machineAlloc(uint64_t pages, bool below4GB, vmk_MA* ma, uint8_t** host);
bool machineFree(vmk_MA ma);
// Highest bus address the engine's device reaches.
vmk_IOA dmaEngineMask(vmk_DMAEngine engine);
// Heap allocation on behalf of a kernel service (not counted as vmk_HeapAlloc).
// `b` is the calling thread's block.
void* heapAllocInternal(vmk_HeapID heap, vmk_ByteCount size, vmk_ByteCount alignment, CallBlock* b);
inline void* heapAllocInternal(vmk_HeapID heap, vmk_ByteCount size, vmk_ByteCount alignment) {
  return heapAllocInternal(heap, size, alignment, threadBlock());
}

/* ---- Lock rules ---------------------------------------------------------- */

// Every service that may sleep or block calls this first: a thread that holds
// a spinlock (but `released`, which the service drops atomically with going
// to sleep) or runs an interrupt handler breaks a rule.
void mayBlock(const char* service, vmk_Lock released = nullptr);
// The interrupt thread marks the handlers it runs.
void enterInterruptContext(bool enter);
void lockRuleBroken(const std::string& what);
// A broken rule of another kernel service (same handling, its own text).
void kernelRuleBroken(const std::string& what);
void resetLockRules();

/* ---- Devices ------------------------------------------------------------- */

void resetDevices();
void resetModules();

/* ---- Packets ------------------------------------------------------------- */

// Live packet handles (clones included).
extern PerThreadCount livePackets;
// Set while the system runs its panic path (netdump).
extern std::atomic<bool> panicContext;
// Leaves the panic context and forgets recorded packet faults.
void resetPackets();

}  // namespace vmkint

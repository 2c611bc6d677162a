// Machine memory, memory pools, mappings, heaps and bit vectors.
//
// Machine pages are host memory with synthetic machine addresses. Pages asked
// for below 4 GB come from a low window, pages of any range from a window
// above 4 GB: a driver that forgets the constraint for a 32-bit device gets
// addresses the device cannot reach, and the DMA engine refuses to map them.
// Bus addresses equal machine addresses (no IOMMU).
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <set>
#include <thread>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/asan_interface.h>
#endif

#include "internal.h"

namespace vmkint {
namespace {

constexpr vmk_MA kLowBase = 0x10000000ull;          // 256 MB
constexpr vmk_MA kLowEnd = 0x100000000ull;          // 4 GB
constexpr vmk_MA k2GB = 0x80000000ull;
constexpr vmk_MA kHighBase = 0x1000000000ull;       // 64 GB
constexpr vmk_MA kHighEnd = 0x100000000000ull;      // 16 TB

struct MachineRange {
  vmk_MA base;
  uint64_t pages;
  uint8_t* host;
  vmk_MemPool pool;
};

struct Mapping {
  vmk_VA va;
  vmk_MA ma;
  uint64_t len;
};

std::mutex memLock;
std::map<vmk_MA, MachineRange>& ranges() {
  static auto* m = new std::map<vmk_MA, MachineRange>();
  return *m;
}
std::map<vmk_VA, Mapping>& mappings() {
  static auto* m = new std::map<vmk_VA, Mapping>();
  return *m;
}

// Address windows hand out the lowest free run of machine address space.
struct Window {
  vmk_MA base, end;
  std::map<vmk_MA, uint64_t> used;  // base -> bytes
  bool take(uint64_t bytes, vmk_MA limit, vmk_MA* out) {
    vmk_MA cur = base;
    for (auto& [b, len] : used) {
      if (b - cur >= bytes) break;
      cur = b + len;
    }
    if (cur + bytes > end || cur + bytes > limit) return false;
    used[cur] = bytes;
    *out = cur;
    return true;
  }
  void give(vmk_MA b) { used.erase(b); }
};
Window lowWindow{kLowBase, kLowEnd, {}};
Window highWindow{kHighBase, kHighEnd, {}};

const MachineRange* rangeOfLocked(vmk_MA ma) {
  auto& r = ranges();
  auto it = r.upper_bound(ma);
  if (it == r.begin()) return nullptr;
  --it;
  if (ma >= it->second.base + it->second.pages * VMK_PAGE_SIZE) return nullptr;
  return &it->second;
}

}  // namespace

/* ---- Machine pages and DMA mappings ------------------------------------- */

std::atomic<PageEntry*> pageTop[kPageTopEntries];
static_assert(kPageTopEntries * kPageLeafPages == kHighEnd / VMK_PAGE_SIZE);

namespace {
// The entry of machine page `pfn`, its leaf made if need be.
PageEntry* makePageLeaf(uint64_t pfn) {
  std::atomic<PageEntry*>& slot = pageTop[pfn >> kPageLeafBits];
  PageEntry* leaf = slot.load(std::memory_order_acquire);
  if (leaf == nullptr) {
    auto* fresh = new PageEntry[kPageLeafPages]();
    if (slot.compare_exchange_strong(leaf, fresh, std::memory_order_acq_rel)) {
      leaf = fresh;
    } else {
      delete[] fresh;  // another thread made it first
    }
  }
  return &leaf[pfn & (kPageLeafPages - 1)];
}

// Host memory of freshly allocated machine pages (nullptr: they are gone);
// the pages start with no mapping and no owner.
void setMachinePages(vmk_MA base, uint64_t pages, uint8_t* host) {
  for (uint64_t i = 0; i < pages; i++) {
    PageEntry* e = makePageLeaf(VMK_MA_2_MPN(base) + i);
    e->own.store(0, std::memory_order_relaxed);
    e->shared.store(0, std::memory_order_relaxed);
    e->host.store(host ? (uint64_t)(uintptr_t)(host + i * VMK_PAGE_SIZE) : 0, std::memory_order_release);
  }
}

// Is a page of the range still mapped, or a device access on it under way?
bool anyPageDmaMapped(vmk_MA base, uint64_t pages) {
  // An unmap just before is a plain store: ordered before the reads of the
  // pins, which a device access raises before it reads the mappings.
  vmk_CPUMemFenceReadWrite();
  for (uint64_t i = 0; i < pages; i++) {
    PageEntry* e = pageEntry(VMK_MA_2_MPN(base) + i);
    if (e != nullptr && (liveMappings(e) != 0 || e->pins.load(std::memory_order_seq_cst) != 0)) return true;
  }
  return false;
}

uint64_t firstPage(vmk_IOA addr) { return addr / VMK_PAGE_SIZE; }
uint64_t endPage(vmk_IOA addr, uint64_t len) { return (addr + len + VMK_PAGE_SIZE - 1) / VMK_PAGE_SIZE; }

void unpinPages(uint64_t from, uint64_t to) {
  for (uint64_t p = from; p < to; p++) pageEntry(p)->pins.fetch_sub(1, std::memory_order_release);
}
}  // namespace

DmaMapResult dmaMapPages(vmk_IOA addr, uint64_t len, CallBlock* b) {
  if (len == 0 || addr + len < addr) return DmaMapResult::NotMemory;
  const uint64_t tag = ownerTag(b);
  uint64_t from = firstPage(addr), to = endPage(addr, len);
  for (uint64_t p = from; p < to; p++) {
    DmaMapResult r = mapPage(pageEntry(p), tag);
    if (r != DmaMapResult::Ok) [[unlikely]] {
      for (uint64_t q = from; q < p; q++) unmapPage(pageEntry(q), tag);
      return r;
    }
  }
  return DmaMapResult::Ok;
}

bool dmaUnmapPages(vmk_IOA addr, uint64_t len, CallBlock* b) {
  if (len == 0 || addr + len < addr) return false;
  const uint64_t tag = ownerTag(b);
  uint64_t from = firstPage(addr), to = endPage(addr, len);
  for (uint64_t p = from; p < to; p++) {
    if (!unmapPage(pageEntry(p), tag)) [[unlikely]] {
      // Not mapped: give back what this call already took.
      for (uint64_t q = from; q < p; q++) mapPage(pageEntry(q), tag);
      return false;
    }
  }
  return true;
}

bool dmaPin(vmk_IOA addr, uint64_t len) {
  if (len == 0) len = 1;
  if (addr + len < addr) return false;
  uint64_t from = firstPage(addr), to = endPage(addr, len);
  for (uint64_t p = from; p < to; p++) {
    PageEntry* e = pageEntry(p);
    if (e == nullptr) {
      unpinPages(from, p);
      return false;
    }
    // Pinned before the mappings are read: a free that follows an unmap
    // either sees the pin or this access sees the page unmapped.
    e->pins.fetch_add(1, std::memory_order_seq_cst);
    if (e->host.load(std::memory_order_acquire) == 0 || liveMappings(e) <= 0) {
      unpinPages(from, p + 1);
      return false;
    }
  }
  return true;
}

void dmaUnpin(vmk_IOA addr, uint64_t len) {
  if (len == 0) len = 1;
  unpinPages(firstPage(addr), endPage(addr, len));
}

bool dmaRangeMapped(vmk_IOA addr, uint64_t len) {
  if (len == 0) len = 1;
  if (addr + len < addr) return false;
  for (uint64_t p = firstPage(addr), to = endPage(addr, len); p < to; p++) {
    PageEntry* e = pageEntry(p);
    if (e == nullptr || liveMappings(e) <= 0) return false;
  }
  return true;
}

uint8_t* dmaPageHost(vmk_IOA addr) {
  PageEntry* e = pageEntry(firstPage(addr));
  if (e == nullptr || (liveMappings(e) <= 0 && e->pins.load(std::memory_order_acquire) == 0)) return nullptr;
  uint64_t h = e->host.load(std::memory_order_acquire);
  if (h == 0) return nullptr;
  return (uint8_t*)(uintptr_t)h + (addr & (VMK_PAGE_SIZE - 1));
}

bool vaToMachine(vmk_VA va, uint64_t len, vmk_MA* ma) {
  std::lock_guard<std::mutex> g(memLock);
  auto& m = mappings();
  auto it = m.upper_bound(va);
  if (it == m.begin()) return false;
  --it;
  const Mapping& mp = it->second;
  if (va < mp.va || va + len > mp.va + mp.len) return false;
  *ma = mp.ma + (va - mp.va);
  return true;
}

}  // namespace vmkint

using namespace vmkint;

/* ------------------------------------------------------------------------ */
/* Memory pools                                                              */
/* ------------------------------------------------------------------------ */

struct vmk_MemPoolInt {
  std::string name;
  std::list<vmk_MemPoolInt*>::iterator self;
  vmk_uint32 reservation;
  vmk_uint32 limit;
  uint64_t pagesInUse = 0;
  int heaps = 0;  // heaps backed by this pool
};

namespace {
std::list<vmk_MemPoolInt*> poolList;  // memLock
std::list<vmk_HeapInt*> heapList;     // memLock
}  // namespace

VMK_ReturnStatus vmk_MemPoolCreate(const vmk_MemPoolProps* props, vmk_MemPool* pool) {
  VMK_FAULT_RETURN("vmk_MemPoolCreate");
  if (props == nullptr || pool == nullptr || props->limit < props->reservation) return VMK_BAD_PARAM;
  auto* p = new vmk_MemPoolInt();
  p->name = props->name.string;
  p->reservation = props->reservation;
  p->limit = props->limit;
  {
    std::lock_guard<std::mutex> g(memLock);
    p->self = poolList.insert(poolList.end(), p);
  }
  counters.memPools++;
  *pool = p;
  return VMK_OK;
}

VMK_ReturnStatus vmk_MemPoolDestroy(vmk_MemPool pool) {
  VMK_FAULT_RETURN("vmk_MemPoolDestroy");
  if (pool == nullptr) return VMK_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> g(memLock);
    if (pool->pagesInUse != 0 || pool->heaps != 0) return VMK_BUSY;
    poolList.erase(pool->self);
  }
  delete pool;
  counters.memPools--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_MemPoolAlloc(vmk_MemPool pool, const vmk_MemPoolAllocProps* props, vmk_uint32 numPages,
                                  vmk_MpnRange* range) {
  VMK_FAULT_RETURN("vmk_MemPoolAlloc");
  if (props != nullptr && props->creationTimeoutMS != 0) mayBlock("vmk_MemPoolAlloc with a creation time-out");
  if (pool == nullptr || props == nullptr || range == nullptr || numPages == 0) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(memLock);
  if (pool->pagesInUse + numPages > pool->limit) return VMK_NO_MEMORY;
  uint64_t bytes = (uint64_t)numPages * VMK_PAGE_SIZE;
  vmk_MA base = 0;
  bool ok;
  switch (props->physRange) {
    case VMK_PHYS_ADDR_BELOW_2GB: ok = lowWindow.take(bytes, k2GB, &base); break;
    case VMK_PHYS_ADDR_BELOW_4GB: ok = lowWindow.take(bytes, kLowEnd, &base); break;
    default: ok = highWindow.take(bytes, kHighEnd, &base); break;
  }
  if (!ok) return VMK_NO_MEMORY;
  void* host = std::aligned_alloc(VMK_PAGE_SIZE, bytes);
  if (host == nullptr) {
    (props->physRange == VMK_PHYS_ADDR_ANY ? highWindow : lowWindow).give(base);
    return VMK_NO_MEMORY;
  }
  // Fresh pages hold garbage, as machine memory would.
  memset(host, 0xA5, bytes);
  ranges()[base] = MachineRange{base, numPages, (uint8_t*)host, pool};
  setMachinePages(base, numPages, (uint8_t*)host);
  pool->pagesInUse += numPages;
  counters.poolPages += numPages;
  range->startMPN = VMK_MA_2_MPN(base);
  range->numPages = numPages;
  return VMK_OK;
}

VMK_ReturnStatus vmk_MemPoolFree(vmk_MemPool pool, const vmk_MpnRange* range) {
  VMK_FAULT_RETURN("vmk_MemPoolFree");
  if (pool == nullptr || range == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(memLock);
  vmk_MA base = VMK_MPN_2_MA(range->startMPN);
  auto it = ranges().find(base);
  // Only whole allocations go back; anything else is a driver fault.
  if (it == ranges().end() || it->second.pages != range->numPages || it->second.pool != pool) return VMK_BAD_PARAM;
  for (auto& [va, m] : mappings()) {
    if (m.ma >= base && m.ma < base + range->numPages * VMK_PAGE_SIZE) return VMK_BUSY;  // still mapped
  }
  // Still mapped for DMA: the device could write into freed memory. A device
  // access that began before the last unmap holds the pages a moment longer.
  for (int i = 0; anyPageDmaMapped(base, range->numPages); i++) {
    if (i == 1000) return VMK_BUSY;
    std::this_thread::yield();
  }
  setMachinePages(base, range->numPages, nullptr);
  std::free(it->second.host);
  (base >= kHighBase ? highWindow : lowWindow).give(base);
  pool->pagesInUse -= range->numPages;
  counters.poolPages -= range->numPages;
  ranges().erase(it);
  return VMK_OK;
}

namespace vmkint {

bool machineAlloc(uint64_t pages, bool below4GB, vmk_MA* ma, uint8_t** host) {
  uint64_t bytes = pages * VMK_PAGE_SIZE;
  std::lock_guard<std::mutex> g(memLock);
  vmk_MA base = 0;
  bool ok = below4GB ? lowWindow.take(bytes, kLowEnd, &base) : highWindow.take(bytes, kHighEnd, &base);
  if (!ok) return false;
  void* h = std::aligned_alloc(VMK_PAGE_SIZE, bytes);
  if (h == nullptr) {
    (below4GB ? lowWindow : highWindow).give(base);
    return false;
  }
  memset(h, 0xA5, bytes);
  ranges()[base] = MachineRange{base, pages, (uint8_t*)h, nullptr};
  setMachinePages(base, pages, (uint8_t*)h);
  *ma = base;
  *host = (uint8_t*)h;
  return true;
}

bool machineFree(vmk_MA ma) {
  std::lock_guard<std::mutex> g(memLock);
  auto it = ranges().find(ma);
  if (it == ranges().end() || it->second.pool != nullptr) return false;
  // A device access that began before the last unmap holds the pages a
  // moment longer; pages still mapped stay (a device could write into them).
  for (int i = 0; anyPageDmaMapped(ma, it->second.pages); i++) {
    if (i == 1000) return false;
    std::this_thread::yield();
  }
  setMachinePages(ma, it->second.pages, nullptr);
  std::free(it->second.host);
  (ma >= kHighBase ? highWindow : lowWindow).give(ma);
  ranges().erase(it);
  return true;
}

}  // namespace vmkint

VMK_ReturnStatus vmk_Map(vmk_ModuleID, const vmk_MpnRange* range, vmk_MapAttrs, vmk_VA* va) {
  VMK_FAULT_RETURN("vmk_Map");
  if (range == nullptr || va == nullptr || range->numPages == 0) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(memLock);
  vmk_MA base = VMK_MPN_2_MA(range->startMPN);
  const MachineRange* r = rangeOfLocked(base);
  uint64_t len = (uint64_t)range->numPages * VMK_PAGE_SIZE;
  if (r == nullptr || base + len > r->base + r->pages * VMK_PAGE_SIZE) return VMK_BAD_PARAM;
  vmk_VA v = (vmk_VA)(r->host + (base - r->base));
  if (mappings().count(v)) return VMK_EXISTS;
  mappings()[v] = Mapping{v, base, len};
  counters.mappings++;
  *va = v;
  return VMK_OK;
}

VMK_ReturnStatus vmk_Unmap(vmk_VA va) {
  VMK_FAULT_RETURN("vmk_Unmap");
  std::lock_guard<std::mutex> g(memLock);
  auto it = mappings().find(va);
  if (it == mappings().end()) return VMK_NOT_FOUND;
  mappings().erase(it);
  counters.mappings--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_VA2MA(vmk_VA va, vmk_ByteCount length, vmk_MA* ma) {
  VMK_FAULT_RETURN("vmk_VA2MA");
  if (ma == nullptr) return VMK_BAD_PARAM;
  return vaToMachine(va, length ? length : 1, ma) ? VMK_OK : VMK_NOT_FOUND;
}

/* ------------------------------------------------------------------------ */
/* Heaps                                                                     */
/* ------------------------------------------------------------------------ */

// A heap block is host memory with a header in front (its heap, its charge,
// where the allocation starts). Which pointers are blocks is kept in one
// lock-free set, so allocating and freeing take no lock and a free of
// anything else is still caught before its header is read.
//
// A freed block goes to a small cache of its thread (heap charge and live
// count are given back at once) and stays in the set with `cached` set in
// its header: the next allocation of the same size on that thread takes it
// without the host allocator or a set insert, and a second free of it, or a
// free to any heap, still stops the machine.
namespace {
constexpr vmk_ByteCount kBlockOverhead = 16;

struct BlockHeader {
  vmk_HeapInt* heap;  // nullptr while cached
  vmk_ByteCount charge;
  uint64_t offset;    // from the start of the host allocation to the block
  uint32_t room;      // bytes of the block (its size rounded to its alignment)
  uint32_t cached;    // freed, kept by a thread for its next allocation
};
static_assert(sizeof(BlockHeader) == 32);
inline BlockHeader* headerOf(void* p) { return (BlockHeader*)((uint8_t*)p - sizeof(BlockHeader)); }

// Open addressing over block addresses; a freed slot becomes a tombstone that
// a later insert may take. Sized far beyond the live blocks of any test.
class LiveBlocks {
 public:
  bool insert(void* p) {
    const uintptr_t key = (uintptr_t)p;
    for (size_t i = 0, h = hash(key); i < kSlots; i++, h = (h + 1) & (kSlots - 1)) {
      uintptr_t v = slots_[h].load(std::memory_order_relaxed);
      while (v == kEmpty || v == kTomb) {
        if (slots_[h].compare_exchange_weak(v, key, std::memory_order_acq_rel, std::memory_order_relaxed)) return true;
      }
    }
    return false;
  }
  bool contains(const void* p) const {
    const uintptr_t key = (uintptr_t)p;
    for (size_t i = 0, h = hash(key); i < kSlots; i++, h = (h + 1) & (kSlots - 1)) {
      uintptr_t v = slots_[h].load(std::memory_order_acquire);
      if (v == key) return true;
      if (v == kEmpty) return false;
    }
    return false;
  }
  bool erase(void* p) {
    const uintptr_t key = (uintptr_t)p;
    for (size_t i = 0, h = hash(key); i < kSlots; i++, h = (h + 1) & (kSlots - 1)) {
      uintptr_t v = slots_[h].load(std::memory_order_acquire);
      if (v == kEmpty) return false;
      if (v == key) {
        // Only the block's owner frees it, so a plain store takes it out.
        slots_[h].store(kTomb, std::memory_order_release);
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr size_t kSlots = 1u << 20;
  static constexpr uintptr_t kEmpty = 0, kTomb = 1;
  static size_t hash(uintptr_t key) { return (size_t)(((key >> 4) * 0x9E3779B97F4A7C15ull) >> 44) & (kSlots - 1); }
  std::atomic<uintptr_t> slots_[kSlots]{};
};
LiveBlocks liveBlocks;

// The calling thread's cache of freed blocks, newest last. Only blocks with
// the header right after the start of the host allocation are kept.
constexpr unsigned kCachedBlocks = 8;
constexpr uint64_t kPlainFront = sizeof(BlockHeader);
__thread void* tlsCached[kCachedBlocks] __attribute__((tls_model("initial-exec")));
__thread unsigned tlsCachedCount __attribute__((tls_model("initial-exec")));
__thread bool tlsCacheState __attribute__((tls_model("initial-exec")));  // its release is registered
__thread bool tlsCacheGone __attribute__((tls_model("initial-exec")));   // the thread is exiting

// A cached block's bytes belong to no one: an access to them is a fault the
// address sanitizer should report.
inline void poisonBlock(void* p, size_t n) {
#ifdef __SANITIZE_ADDRESS__
  __asan_poison_memory_region(p, n);
#else
  (void)p, (void)n;
#endif
}
inline void unpoisonBlock(void* p, size_t n) {
#ifdef __SANITIZE_ADDRESS__
  __asan_unpoison_memory_region(p, n);
#else
  (void)p, (void)n;
#endif
}

void releaseBlock(void* p) {
  BlockHeader* h = headerOf(p);
  unpoisonBlock(p, h->room);
  liveBlocks.erase(p);
  std::free((uint8_t*)p - h->offset);
}

struct CacheRelease {
  ~CacheRelease() {
    for (unsigned i = 0; i < tlsCachedCount; i++) releaseBlock(tlsCached[i]);
    tlsCachedCount = 0;
    tlsCacheGone = true;
  }
};
thread_local CacheRelease tlsCacheRelease;

// A cached block of `room` bytes aligned to `alignment`, taken out of the
// cache (nullptr: none).
inline void* cacheTake(vmk_ByteCount room, vmk_ByteCount alignment) {
  for (unsigned i = tlsCachedCount; i-- > 0;) {
    void* p = tlsCached[i];
    if (headerOf(p)->room == room && ((uintptr_t)p & (alignment - 1)) == 0) {
      tlsCached[i] = tlsCached[--tlsCachedCount];
      return p;
    }
  }
  return nullptr;
}

// Keeps freed block `p` for the thread's next allocation; false when it
// cannot be kept.
inline bool cachePut(void* p, BlockHeader* h) {
  if (tlsCachedCount == kCachedBlocks || h->offset != kPlainFront) return false;
  if (!tlsCacheState) [[unlikely]] {
    if (tlsCacheGone) return false;
    (void)&tlsCacheRelease;  // its destructor gives the blocks back at thread exit
    tlsCacheState = true;
  }
  h->heap = nullptr;
  h->cached = 1;
  poisonBlock(p, h->room);
  tlsCached[tlsCachedCount++] = p;
  return true;
}
}  // namespace

// A heap's charge is what its allocations took less what its frees gave
// back, each counted with the blocks (from bit kBlockShift up). An allocation
// must see the room there is, so it takes its charge with a compare-and-swap;
// a free adds to its thread's own count of what was given back (a plain
// store, no locked instruction), which an allocation sums only when the
// charge looks too big for the heap: what it saw of the frees then was less
// than what they gave back, never more.
namespace {
constexpr unsigned kBlockShift = 40;
constexpr uint64_t kBytesMask = (1ull << kBlockShift) - 1;
constexpr uint64_t kOneBlock = 1ull << kBlockShift;
}  // namespace

struct vmk_HeapInt {
  std::string name;
  vmk_ByteCount initial;
  vmk_ByteCount max;
  std::atomic<uint64_t> taken{0};      // by every allocation so far
  std::atomic<uint64_t> givenSeen{0};  // of `given`, as last summed
  PerThreadCount given;                // back by every free so far
  vmk_MemPool pool = nullptr;
  // Blocks << kBlockShift | bytes of the live blocks.
  uint64_t live() const {
    auto g = (uint64_t)given.sum();
    return taken.load(std::memory_order_acquire) - g;
  }
  vmk_ByteCount used() const { return live() & kBytesMask; }
  // Sums what frees gave back, for allocations to come.
  uint64_t sumGiven() {
    auto g = (uint64_t)given.sum();
    uint64_t seen = givenSeen.load(std::memory_order_relaxed);
    while (seen < g && !givenSeen.compare_exchange_weak(seen, g, std::memory_order_release, std::memory_order_relaxed)) {
    }
    return g;
  }
  // Takes `charge` and one block if the heap has room for it. What was taken
  // is read first: a sum of what was given back after it shows no more used
  // than was used when it was read (frees only add), and the compare-and-swap
  // fails if anything was taken since.
  bool charge(vmk_ByteCount charge) {
    if (charge > max) [[unlikely]] return false;
    for (;;) {
      uint64_t t = taken.load(std::memory_order_acquire);
      uint64_t d = t - givenSeen.load(std::memory_order_acquire);
      if ((int64_t)d < 0) [[unlikely]] continue;  // given back since: read again
      if ((d & kBytesMask) + charge > max) [[unlikely]] {
        d = t - sumGiven();
        if ((int64_t)d < 0) continue;
        if ((d & kBytesMask) + charge > max) return false;
      }
      if (taken.compare_exchange_weak(t, t + (charge | kOneBlock), std::memory_order_relaxed)) return true;
    }
  }
  void giveBack(CallBlock* b, vmk_ByteCount charge) { given.add(b, (int64_t)(charge | kOneBlock)); }
};

namespace {
int64_t heapBlocksBase = 0;  // memLock
int64_t heapBlocksLocked() {
  int64_t n = 0;
  for (auto* h : heapList) n += (int64_t)(h->live() >> kBlockShift);
  return n;
}
}  // namespace

namespace vmkint {
int64_t liveHeapBlocks() {
  std::lock_guard<std::mutex> g(memLock);
  return heapBlocksLocked() - heapBlocksBase;
}
void rebaseHeapBlocks() {
  std::lock_guard<std::mutex> g(memLock);
  heapBlocksBase = heapBlocksLocked();
}
}  // namespace vmkint

VMK_ReturnStatus vmk_HeapCreate(const vmk_HeapCreateProps* props, vmk_HeapID* heap) {
  VMK_FAULT_RETURN("vmk_HeapCreate");
  if (props == nullptr || heap == nullptr || props->max < props->initial || props->max == 0) return VMK_BAD_PARAM;
  if (props->type == VMK_HEAP_TYPE_MEMPOOL && props->memPool == nullptr) return VMK_BAD_PARAM;
  auto* h = new vmk_HeapInt();
  h->name = props->name.string;
  h->initial = props->initial;
  h->max = props->max;
  {
    std::lock_guard<std::mutex> g(memLock);
    if (props->type == VMK_HEAP_TYPE_MEMPOOL) {
      h->pool = props->memPool;
      h->pool->heaps++;
    }
    heapList.push_back(h);
  }
  counters.heaps++;
  *heap = h;
  return VMK_OK;
}

VMK_ReturnStatus vmk_HeapDestroy(vmk_HeapID heap) {
  VMK_FAULT_RETURN("vmk_HeapDestroy");
  if (heap == nullptr) return VMK_INVALID_HANDLE;
  std::lock_guard<std::mutex> g(memLock);
  if (heap->used() != 0) return VMK_BUSY;
  if (heap->pool) heap->pool->heaps--;
  heapList.remove(heap);
  delete heap;
  counters.heaps--;
  return VMK_OK;
}

namespace {
// Heap memory is not zeroed: a block holds garbage.
inline void fillGarbage(void* p, vmk_ByteCount n) { memset(p, 0xA5, n); }

// A block that no cached one fits: new host memory.
__attribute__((noinline)) void* heapAllocFresh(vmk_HeapID heap, vmk_ByteCount charge, vmk_ByteCount rounded,
                                               vmk_ByteCount alignment, CallBlock* b) {
  vmk_ByteCount front = alignment < sizeof(BlockHeader) ? sizeof(BlockHeader) : alignment;
  auto* raw = (uint8_t*)std::aligned_alloc(alignment, front + rounded);
  if (raw == nullptr) {
    heap->giveBack(b, charge);
    return nullptr;
  }
  uint8_t* p = raw + front;
  // A block too big to describe is never cached (room 0 fits no request).
  *headerOf(p) = BlockHeader{heap, charge, front, rounded <= UINT32_MAX ? (uint32_t)rounded : 0, 0};
  fillGarbage(p, rounded);
  if (!liveBlocks.insert(p)) {
    std::free(raw);
    heap->giveBack(b, charge);
    return nullptr;
  }
  return p;
}

inline __attribute__((always_inline)) void* heapAllocate(vmk_HeapID heap, vmk_ByteCount size, vmk_ByteCount alignment,
                                                         CallBlock* b) {
  if (heap == nullptr || size == 0) [[unlikely]] return nullptr;
  if (alignment < 16) alignment = 16;
  if ((alignment & (alignment - 1)) != 0) [[unlikely]] return nullptr;
  vmk_ByteCount charge = size + kBlockOverhead;
  // Charged before the memory is taken; a concurrent allocation never sees
  // room that is not there, nor misses room that is.
  if (!heap->charge(charge)) return nullptr;
  vmk_ByteCount rounded = (size + alignment - 1) & ~(alignment - 1);
  if (rounded <= UINT32_MAX && alignment <= kPlainFront) [[likely]] {
    if (void* p = cacheTake(rounded, alignment)) {
      unpoisonBlock(p, rounded);
      BlockHeader* h = headerOf(p);
      h->heap = heap;
      h->charge = charge;
      h->cached = 0;
      fillGarbage(p, rounded);
      return p;
    }
  }
  return heapAllocFresh(heap, charge, rounded, alignment, b);
}
}  // namespace

namespace vmkint {
void* heapAllocInternal(vmk_HeapID heap, vmk_ByteCount size, vmk_ByteCount alignment, CallBlock* b) {
  return heapAllocate(heap, size, alignment, b);
}
}  // namespace vmkint

// The fault point counts the module's own allocations; the kernel's services
// that take heap memory for the caller fail through their own fault points.
void* vmk_HeapAlign(vmk_HeapID heap, vmk_ByteCount size, vmk_ByteCount alignment) {
  VMK_FAULT_POINT_IN_BLOCK("vmk_HeapAlloc");
  if (vmk_faultStatus_ != VMK_OK) [[unlikely]] return nullptr;
  return heapAllocate(heap, size, alignment, vmk_block_);
}

void* vmk_HeapAlloc(vmk_HeapID heap, vmk_ByteCount size) {
  VMK_FAULT_POINT_IN_BLOCK("vmk_HeapAlloc");
  if (vmk_faultStatus_ != VMK_OK) [[unlikely]] return nullptr;
  return heapAllocate(heap, size, 16, vmk_block_);
}

void vmk_HeapFree(vmk_HeapID heap, void* ptr) {
  if (ptr == nullptr) return;
  if (heap == nullptr) vmk_Panic("vmk_HeapFree: %p freed to no heap", ptr);
  // A cached block has no heap: freeing it again stops the machine too.
  BlockHeader* h = headerOf(ptr);
  if (!liveBlocks.contains(ptr) || h->heap != heap) [[unlikely]]
    vmk_Panic("vmk_HeapFree: %p is not a live block of heap %s", ptr, heap->name.c_str());
  heap->giveBack(threadBlock(), h->charge);
  if (!cachePut(ptr, h)) releaseBlock(ptr);
}

VMK_ReturnStatus vmk_HeapDetermineMaxSize(const vmk_HeapAllocationDescriptor* descs, vmk_uint32 count,
                                          vmk_ByteCount* maxSize) {
  if (maxSize == nullptr || (descs == nullptr && count > 0)) return VMK_BAD_PARAM;
  vmk_ByteCount total = 0;
  for (vmk_uint32 i = 0; i < count; i++) {
    vmk_ByteCount align = descs[i].alignment < 16 ? 16 : descs[i].alignment;
    vmk_ByteCount one = ((descs[i].size + align - 1) & ~(align - 1)) + kBlockOverhead;
    if (descs[i].alignment > 16) one += descs[i].alignment;  // alignment slack
    total += one * descs[i].count;
  }
  *maxSize = total;
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Bit vectors                                                               */
/* ------------------------------------------------------------------------ */

vmk_BitVector* vmk_BitVectorAlloc(vmk_HeapID heap, vmk_uint32 n) {
  VMK_FAULT_POINT("vmk_BitVectorAlloc");
  if (vmk_faultStatus_ != VMK_OK) return nullptr;
  vmk_uint32 words = (n + 31) / 32;
  if (words == 0) words = 1;
  auto* bv = (vmk_BitVector*)heapAllocInternal(heap, sizeof(vmk_BitVector) + (words - 1) * sizeof(vmk_uint32), 16);
  if (bv == nullptr) return nullptr;
  bv->n = n;
  memset(bv->words, 0, words * sizeof(vmk_uint32));
  return bv;
}

void vmk_BitVectorFree(vmk_HeapID heap, vmk_BitVector* bv) { vmk_HeapFree(heap, bv); }

void vmk_BitVectorZap(vmk_BitVector* bv) {
  for (vmk_uint32 i = 0; i < (bv->n + 31) / 32; i++) __atomic_store_n(&bv->words[i], 0, __ATOMIC_SEQ_CST);
}

static inline void checkBit(const vmk_BitVector* bv, vmk_uint32 bit) {
  if (bit >= bv->n) vmk_Panic("bit vector: bit %u out of %u", bit, bv->n);
}

void vmk_BitVectorAtomicSet(vmk_BitVector* bv, vmk_uint32 bit) {
  checkBit(bv, bit);
  __atomic_fetch_or(&bv->words[bit / 32], 1u << (bit % 32), __ATOMIC_SEQ_CST);
}

void vmk_BitVectorAtomicClear(vmk_BitVector* bv, vmk_uint32 bit) {
  checkBit(bv, bit);
  __atomic_fetch_and(&bv->words[bit / 32], ~(1u << (bit % 32)), __ATOMIC_SEQ_CST);
}

vmk_Bool vmk_BitVectorAtomicTestAndSet(vmk_BitVector* bv, vmk_uint32 bit) {
  checkBit(bv, bit);
  vmk_uint32 m = 1u << (bit % 32);
  return (__atomic_fetch_or(&bv->words[bit / 32], m, __ATOMIC_SEQ_CST) & m) != 0;
}

vmk_Bool vmk_BitVectorAtomicTestAndClear(vmk_BitVector* bv, vmk_uint32 bit) {
  checkBit(bv, bit);
  vmk_uint32 m = 1u << (bit % 32);
  return (__atomic_fetch_and(&bv->words[bit / 32], ~m, __ATOMIC_SEQ_CST) & m) != 0;
}

vmk_Bool vmk_BitVectorTest(const vmk_BitVector* bv, vmk_uint32 bit) {
  checkBit(bv, bit);
  return (__atomic_load_n(&bv->words[bit / 32], __ATOMIC_SEQ_CST) & (1u << (bit % 32))) != 0;
}

vmk_uint32 vmk_BitVectorGetWord(const vmk_BitVector* bv, vmk_uint32 wordIndex) {
  if (wordIndex >= (bv->n + 31) / 32) vmk_Panic("bit vector: word %u out of range", wordIndex);
  return __atomic_load_n(&bv->words[wordIndex], __ATOMIC_SEQ_CST);
}

namespace vmktest {

bool poolInfo(const std::string& name, PoolInfo* info) {
  std::lock_guard<std::mutex> g(memLock);
  for (auto* p : poolList)
    if (p->name == name) {
      *info = PoolInfo{p->reservation, p->limit, p->pagesInUse};
      return true;
    }
  return false;
}

bool heapInfo(const std::string& name, HeapInfo* info) {
  std::lock_guard<std::mutex> g(memLock);
  for (auto* h : heapList)
    if (h->name == name) {
      *info = HeapInfo{h->initial, h->max, h->used(), h->pool != nullptr};
      return true;
    }
  return false;
}

}  // namespace vmktest

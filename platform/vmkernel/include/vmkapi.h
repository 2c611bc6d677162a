// Kernel services for driver modules: the user-space stand-in of the
// hypervisor kernel's module interface.
//
// Everything a driver module calls lives here, in plain C style: handles,
// property records, status returns. The implementation (platform/vmkernel/src)
// runs the services on host threads and memory, accounts every live object,
// can make any call fail on request and runs all time on one controllable
// clock. Tests reach those controls through vmk_testing.h.
//
// Services whose first users come later (uplinks, NetPoll, packets, SR-IOV,
// key-value instances) are added with those users.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

/* ------------------------------------------------------------------------ */
/* Basic types                                                               */
/* ------------------------------------------------------------------------ */

typedef uint8_t vmk_uint8;
typedef uint16_t vmk_uint16;
typedef uint32_t vmk_uint32;
typedef uint64_t vmk_uint64;
typedef int8_t vmk_int8;
typedef int16_t vmk_int16;
typedef int32_t vmk_int32;
typedef int64_t vmk_int64;
typedef bool vmk_Bool;
#define VMK_TRUE true
#define VMK_FALSE false

typedef uintptr_t vmk_VA;    // kernel virtual address
typedef uint64_t vmk_MA;     // machine address
typedef uint64_t vmk_MPN;    // machine page number
typedef uint64_t vmk_IOA;    // bus (I/O) address as a device sees it
typedef uint64_t vmk_ByteCount;
typedef uint32_t vmk_revnum;

#define VMK_PAGE_SIZE 4096u
#define VMK_PAGE_SHIFT 12u
#define VMK_MA_2_MPN(ma) ((vmk_MPN)((ma) >> VMK_PAGE_SHIFT))
#define VMK_MPN_2_MA(mpn) ((vmk_MA)(mpn) << VMK_PAGE_SHIFT)

#define VMK_REVISION_FROM_NUMBERS(maj, min, upd, patch) \
  ((vmk_revnum)(((maj) << 24) | ((min) << 16) | ((upd) << 8) | (patch)))

// A pointer or a 64-bit value, as handed back to callbacks.
typedef union {
  void* ptr;
  vmk_uint64 addr;
} vmk_AddrCookie;

/* ------------------------------------------------------------------------ */
/* Status                                                                    */
/* ------------------------------------------------------------------------ */

typedef vmk_uint32 VMK_ReturnStatus;
enum : vmk_uint32 {
  VMK_OK = 0,
  VMK_FAILURE = 0xbad0001,
  VMK_WOULD_BLOCK = 0xbad0002,
  VMK_NOT_FOUND = 0xbad0003,
  VMK_BUSY = 0xbad0004,
  VMK_EXISTS = 0xbad0005,
  VMK_LIMIT_EXCEEDED = 0xbad0006,
  VMK_BAD_PARAM = 0xbad0007,
  VMK_NO_MEMORY = 0xbad0014,
  VMK_NO_RESOURCES = 0xbad0015,
  VMK_NOT_SUPPORTED = 0xbad0020,
  VMK_TIMEOUT = 0xbad0021,
  VMK_IS_ENABLED = 0xbad0030,
  VMK_WAIT_INTERRUPTED = 0xbad0032,
  VMK_NOT_INITIALIZED = 0xbad0045,
  VMK_NO_ADDRESS_SPACE = 0xbad0050,
  // A header look-up found the header past its offset limit or cut off by
  // the end of the frame.
  VMK_HEADER_BEYOND_LIMIT = 0xbad0057,
  VMK_DEATH_PENDING = 0xbad0069,
  VMK_INVALID_HANDLE = 0xbad0074,
};

// Text of a status ("Success", "Failure", "Out of memory", ...); never NULL.
const char* vmk_StatusToString(VMK_ReturnStatus status);

/* ------------------------------------------------------------------------ */
/* Names                                                                     */
/* ------------------------------------------------------------------------ */

#define VMK_MISC_NAME_MAX 32
typedef struct {
  char string[VMK_MISC_NAME_MAX];
} vmk_Name;

// Copies at most 31 characters and terminates; VMK_LIMIT_EXCEEDED when cut.
VMK_ReturnStatus vmk_NameInitialize(vmk_Name* name, const char* text);
VMK_ReturnStatus vmk_NameCopy(vmk_Name* dst, const vmk_Name* src);
const char* vmk_NameToString(const vmk_Name* name);

/* ------------------------------------------------------------------------ */
/* Modules                                                                   */
/* ------------------------------------------------------------------------ */

typedef vmk_int32 vmk_ModuleID;
#define VMK_INVALID_MODULE_ID ((vmk_ModuleID)-1)
#define VMKAPI_REVISION VMK_REVISION_FROM_NUMBERS(2, 2, 0, 0)

typedef struct vmk_HeapInt* vmk_HeapID;
#define VMK_INVALID_HEAP_ID ((vmk_HeapID)0)

// Registers the module being loaded; the kernel refuses any interface revision
// other than the one it implements.
VMK_ReturnStatus vmk_ModuleRegister(vmk_ModuleID* id, vmk_revnum interfaceRevision);
VMK_ReturnStatus vmk_ModuleUnregister(vmk_ModuleID id);
VMK_ReturnStatus vmk_ModuleSetHeapID(vmk_ModuleID id, vmk_HeapID heap);
vmk_HeapID vmk_ModuleGetHeapID(vmk_ModuleID id);
// Looks up a loaded module by name (tests plug fake modules in by name).
VMK_ReturnStatus vmk_ModuleGetID(const char* name, vmk_ModuleID* id);

// What the module binary declares for the loader: the kernel interface
// namespaces it needs and its version record.
void vmk_ModuleDeclare(const char* what, const char* value);
#define VMK_MODULE_DECLARATION_(what, value, tag)          \
  static const bool vmk_moduleDeclared_##tag##_ = [] {     \
    vmk_ModuleDeclare(what, value);                        \
    return true;                                           \
  }()
#define VMK_NAMESPACE_REQUIRED(ns) VMK_MODULE_DECLARATION_("namespace", ns, namespace)
#define VMK_VERSION_INFO(text) VMK_MODULE_DECLARATION_("version", text, version)

// Module entry points every driver module defines.
extern "C" int init_module(void);
extern "C" void cleanup_module(void);

/* ------------------------------------------------------------------------ */
/* Module parameters                                                         */
/* ------------------------------------------------------------------------ */

typedef enum {
  VMK_PARAM_INT,
  VMK_PARAM_UINT,
  VMK_PARAM_BOOL,
  VMK_PARAM_INT_ARRAY,
} vmk_ModuleParamType;

// One parameter the module offers the loader. For arrays `count` receives the
// number of values the administrator gave (which may exceed `capacity`: only
// the first `capacity` values are stored, the count tells the module).
typedef struct {
  const char* name;
  vmk_ModuleParamType type;
  void* value;
  vmk_uint32 capacity;
  int* count;
  const char* description;
} vmk_ModuleParamDesc;

// Hands the loader the module's parameter table (in the order shown to the
// administrator). The loader remembers the values present now as defaults.
void vmk_ModuleParamTableRegister(const vmk_ModuleParamDesc* table, vmk_uint32 entries);

// Registers a module's parameter table with the loader before init_module.
// Use once, at namespace scope, in the file that defines init_module.
#define VMK_MODPARAM_TABLE(table)                                                       \
  static const bool vmk_modparamTableRegistered_ = [] {                                 \
    vmk_ModuleParamTableRegister(table, (vmk_uint32)(sizeof(table) / sizeof(table[0]))); \
    return true;                                                                        \
  }()

/* ------------------------------------------------------------------------ */
/* Memory pools, machine pages and mappings                                  */
/* ------------------------------------------------------------------------ */

typedef struct vmk_MemPoolInt* vmk_MemPool;
#define VMK_MEMPOOL_INVALID ((vmk_MemPool)0)

typedef enum { VMK_MEM_POOL_LEAF = 1, VMK_MEM_POOL_PARENT = 2 } vmk_MemPoolType;

typedef struct {
  vmk_Name name;
  vmk_ModuleID module;
  vmk_MemPool parentMemPool;
  vmk_MemPoolType memPoolType;
  vmk_uint32 reservation;  // pages
  vmk_uint32 limit;        // pages
} vmk_MemPoolProps;

typedef enum { VMK_MEM_PHYS_ANY_CONTIGUITY = 0, VMK_MEM_PHYS_CONTIGUOUS = 1, VMK_MEM_PHYS_DISCONTIGUOUS = 2 } vmk_MemPhysContiguity;
// Where the machine pages may lie. Any-range pages are handed out above 4 GB
// so that a driver forgetting the constraint is caught by a 32-bit device.
typedef enum { VMK_PHYS_ADDR_ANY = 0, VMK_PHYS_ADDR_BELOW_2GB = 1, VMK_PHYS_ADDR_BELOW_4GB = 2 } vmk_MemPhysAddrConstraint;

typedef struct {
  vmk_MemPhysContiguity physContiguity;
  vmk_MemPhysAddrConstraint physRange;
  vmk_uint32 creationTimeoutMS;  // 0: do not wait for pages
} vmk_MemPoolAllocProps;

// One run of machine pages, contiguous in machine (and bus) address.
typedef struct {
  vmk_MPN startMPN;
  vmk_uint32 numPages;
} vmk_MpnRange;

VMK_ReturnStatus vmk_MemPoolCreate(const vmk_MemPoolProps* props, vmk_MemPool* pool);
// VMK_BUSY while pages of the pool are still allocated.
VMK_ReturnStatus vmk_MemPoolDestroy(vmk_MemPool pool);
VMK_ReturnStatus vmk_MemPoolAlloc(vmk_MemPool pool, const vmk_MemPoolAllocProps* props, vmk_uint32 numPages,
                                  vmk_MpnRange* range);
// Returns pages taken by vmk_MemPoolAlloc; the range must lie inside one allocation.
VMK_ReturnStatus vmk_MemPoolFree(vmk_MemPool pool, const vmk_MpnRange* range);

typedef enum { VMK_MAPTYPE_DEFAULT = 0, VMK_MAPTYPE_UNCACHED = 1 } vmk_MapType;
typedef enum { VMK_MAPATTRS_READWRITE = 0, VMK_MAPATTRS_READONLY = 1 } vmk_MapAttrs;
// Maps machine pages into kernel virtual space.
VMK_ReturnStatus vmk_Map(vmk_ModuleID module, const vmk_MpnRange* range, vmk_MapAttrs attrs, vmk_VA* va);
VMK_ReturnStatus vmk_Unmap(vmk_VA va);
// Machine address of a mapped kernel virtual address.
VMK_ReturnStatus vmk_VA2MA(vmk_VA va, vmk_ByteCount length, vmk_MA* ma);

/* ------------------------------------------------------------------------ */
/* Heaps                                                                     */
/* ------------------------------------------------------------------------ */

typedef enum { VMK_HEAP_TYPE_SIMPLE = 1, VMK_HEAP_TYPE_MEMPOOL = 2 } vmk_HeapType;

typedef struct {
  vmk_HeapType type;
  vmk_Name name;
  vmk_ModuleID module;
  vmk_ByteCount initial;
  vmk_ByteCount max;
  vmk_uint32 creationTimeoutMS;
  vmk_MemPhysContiguity physContiguity;
  vmk_MemPhysAddrConstraint physRange;
  vmk_MemPool memPool;  // backing pool of a VMK_HEAP_TYPE_MEMPOOL heap
} vmk_HeapCreateProps;

typedef struct {
  vmk_ByteCount size;
  vmk_ByteCount alignment;
  vmk_uint32 count;
} vmk_HeapAllocationDescriptor;

VMK_ReturnStatus vmk_HeapCreate(const vmk_HeapCreateProps* props, vmk_HeapID* heap);
// VMK_BUSY while blocks of the heap are still allocated.
VMK_ReturnStatus vmk_HeapDestroy(vmk_HeapID heap);
// NULL when the heap's maximum would be exceeded (or on injected failure).
void* vmk_HeapAlloc(vmk_HeapID heap, vmk_ByteCount size);
void* vmk_HeapAlign(vmk_HeapID heap, vmk_ByteCount size, vmk_ByteCount alignment);
void vmk_HeapFree(vmk_HeapID heap, void* ptr);
// Heap size that holds `count` descriptors' worth of allocations at once,
// block overhead and alignment slack included.
VMK_ReturnStatus vmk_HeapDetermineMaxSize(const vmk_HeapAllocationDescriptor* descs, vmk_uint32 count,
                                          vmk_ByteCount* maxSize);

/* ------------------------------------------------------------------------ */
/* Logging                                                                   */
/* ------------------------------------------------------------------------ */

typedef struct vmk_LogComponentInt* vmk_LogComponent;
#define VMK_INVALID_LOG_HANDLE ((vmk_LogComponent)0)

typedef enum { VMK_LOG_URGENCY_NORMAL = 0, VMK_LOG_URGENCY_WARNING = 1, VMK_LOG_URGENCY_ALERT = 2 } vmk_LogUrgency;

typedef struct {
  vmk_Name name;
  vmk_ModuleID module;
  vmk_HeapID heap;
  vmk_int32 defaultLevel;
  void* throttle;  // NULL: no throttling
} vmk_LogProperties;

VMK_ReturnStatus vmk_LogRegister(const vmk_LogProperties* props, vmk_LogComponent* log);
VMK_ReturnStatus vmk_LogUnregister(vmk_LogComponent log);
VMK_ReturnStatus vmk_LogSetCurrentLogLevel(vmk_LogComponent log, vmk_int32 level);
vmk_int32 vmk_LogGetCurrentLogLevel(vmk_LogComponent log);
const char* vmk_LogGetName(vmk_LogComponent log);
// One log line of a component. The kernel keeps every line it is given: the
// level is recorded with the line, selection is the module's business.
void vmk_LogLevel(vmk_LogUrgency urgency, vmk_LogComponent log, vmk_int32 level, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
void vmk_LogLevelV(vmk_LogUrgency urgency, vmk_LogComponent log, vmk_int32 level, const char* fmt, va_list ap);
// Lines outside any component.
void vmk_LogMessage(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void vmk_WarningMessage(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void vmk_AlertMessage(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void vmk_LogBacktraceMessage(void);

/* ------------------------------------------------------------------------ */
/* Lock domains, spinlocks, semaphores                                       */
/* ------------------------------------------------------------------------ */

typedef vmk_uint32 vmk_LockDomainID;
#define VMK_LOCKDOMAIN_INVALID ((vmk_LockDomainID)0)
VMK_ReturnStatus vmk_LockDomainCreate(vmk_ModuleID module, vmk_HeapID heap, const vmk_Name* name,
                                      vmk_LockDomainID* domain);
VMK_ReturnStatus vmk_LockDomainDestroy(vmk_LockDomainID domain);

typedef struct vmk_LockInt* vmk_Lock;
#define VMK_LOCK_INVALID ((vmk_Lock)0)
typedef vmk_uint32 vmk_LockRank;
#define VMK_SPINLOCK_UNRANKED ((vmk_LockRank)0xFFFF)
typedef enum { VMK_SPINLOCK = 1 } vmk_SpinlockType;

typedef struct {
  vmk_ModuleID moduleID;
  vmk_HeapID heapID;
  vmk_Name name;
  vmk_SpinlockType type;
  vmk_LockDomainID domain;
  vmk_LockRank rank;
} vmk_SpinlockCreateProps;

VMK_ReturnStatus vmk_SpinlockCreate(const vmk_SpinlockCreateProps* props, vmk_Lock* lock);
void vmk_SpinlockDestroy(vmk_Lock lock);
// A thread that takes a spinlock it already holds stops the system (a real
// machine would hang there).
VMK_ReturnStatus vmk_SPLock(vmk_Lock lock);
void vmk_SPUnlock(vmk_Lock lock);
vmk_Bool vmk_SPIsLocked(vmk_Lock lock);

typedef struct vmk_SemaphoreInt* vmk_Semaphore;
#define VMK_SEMAPHORE_INVALID ((vmk_Semaphore)0)
VMK_ReturnStatus vmk_BinarySemaCreate(vmk_Semaphore* sema, vmk_ModuleID module, const char* name);
VMK_ReturnStatus vmk_SemaCreate(vmk_Semaphore* sema, vmk_ModuleID module, const char* name, vmk_int32 value);
void vmk_SemaDestroy(vmk_Semaphore* sema);
void vmk_SemaLock(vmk_Semaphore* sema);
VMK_ReturnStatus vmk_SemaTryLock(vmk_Semaphore* sema);  // VMK_BUSY when taken
void vmk_SemaUnlock(vmk_Semaphore* sema);

/* ------------------------------------------------------------------------ */
/* Atomics, bit vectors, fences                                              */
/* ------------------------------------------------------------------------ */

typedef struct {
  vmk_uint64 value;
} vmk_atomic64;

static inline vmk_uint64 vmk_AtomicRead64(const vmk_atomic64* a) { return __atomic_load_n(&a->value, __ATOMIC_SEQ_CST); }
static inline void vmk_AtomicWrite64(vmk_atomic64* a, vmk_uint64 v) { __atomic_store_n(&a->value, v, __ATOMIC_SEQ_CST); }
static inline void vmk_AtomicInc64(vmk_atomic64* a) { __atomic_add_fetch(&a->value, 1, __ATOMIC_SEQ_CST); }
static inline void vmk_AtomicDec64(vmk_atomic64* a) { __atomic_sub_fetch(&a->value, 1, __ATOMIC_SEQ_CST); }
static inline void vmk_AtomicAdd64(vmk_atomic64* a, vmk_uint64 v) { __atomic_add_fetch(&a->value, v, __ATOMIC_SEQ_CST); }
static inline void vmk_AtomicSub64(vmk_atomic64* a, vmk_uint64 v) { __atomic_sub_fetch(&a->value, v, __ATOMIC_SEQ_CST); }
static inline vmk_uint64 vmk_AtomicReadInc64(vmk_atomic64* a) { return __atomic_fetch_add(&a->value, 1, __ATOMIC_SEQ_CST); }
static inline vmk_uint64 vmk_AtomicReadDec64(vmk_atomic64* a) { return __atomic_fetch_sub(&a->value, 1, __ATOMIC_SEQ_CST); }
static inline vmk_uint64 vmk_AtomicReadIfEqualWrite64(vmk_atomic64* a, vmk_uint64 expected, vmk_uint64 v) {
  __atomic_compare_exchange_n(&a->value, &expected, v, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return expected;
}

// A thread sanitizer does not model a stand-alone fence. Built with one, each
// fence is an acquire and/or release operation on one kernel-wide word (the
// emulated devices publish their ring entries through it too): a fence then
// orders against the fences of every other thread, as strong as a fence.
#if defined(__SANITIZE_THREAD__)
#define VMK_FENCES_AS_ATOMICS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VMK_FENCES_AS_ATOMICS 1
#endif
#endif
extern vmk_uint64 vmk_fenceWord;
#ifdef VMK_FENCES_AS_ATOMICS
static inline void vmk_CPUMemFenceRead(void) { (void)__atomic_load_n(&vmk_fenceWord, __ATOMIC_ACQUIRE); }
static inline void vmk_CPUMemFenceWrite(void) { __atomic_fetch_add(&vmk_fenceWord, 1, __ATOMIC_RELEASE); }
static inline void vmk_CPUMemFenceReadWrite(void) { __atomic_fetch_add(&vmk_fenceWord, 1, __ATOMIC_ACQ_REL); }
#else
static inline void vmk_CPUMemFenceRead(void) { __atomic_thread_fence(__ATOMIC_ACQUIRE); }
static inline void vmk_CPUMemFenceWrite(void) { __atomic_thread_fence(__ATOMIC_RELEASE); }
static inline void vmk_CPUMemFenceReadWrite(void) { __atomic_thread_fence(__ATOMIC_SEQ_CST); }
#endif

// A vector of bits in words of 32, changed with atomic bit operations.
typedef struct {
  vmk_uint32 n;
  vmk_uint32 words[1];  // (n + 31) / 32 words
} vmk_BitVector;

vmk_BitVector* vmk_BitVectorAlloc(vmk_HeapID heap, vmk_uint32 n);  // zeroed; NULL when out of memory
void vmk_BitVectorFree(vmk_HeapID heap, vmk_BitVector* bv);
void vmk_BitVectorZap(vmk_BitVector* bv);
void vmk_BitVectorAtomicSet(vmk_BitVector* bv, vmk_uint32 bit);
void vmk_BitVectorAtomicClear(vmk_BitVector* bv, vmk_uint32 bit);
vmk_Bool vmk_BitVectorAtomicTestAndSet(vmk_BitVector* bv, vmk_uint32 bit);    // old value
vmk_Bool vmk_BitVectorAtomicTestAndClear(vmk_BitVector* bv, vmk_uint32 bit);  // old value
vmk_Bool vmk_BitVectorTest(const vmk_BitVector* bv, vmk_uint32 bit);
vmk_uint32 vmk_BitVectorGetWord(const vmk_BitVector* bv, vmk_uint32 wordIndex);  // one atomic read

/* ------------------------------------------------------------------------ */
/* Time and timers                                                           */
/* ------------------------------------------------------------------------ */

// All time comes from one kernel clock, which tests may run fast or stop and
// step (vmk_testing.h). Sleeps, timed waits, busy delays, timers and uptime
// all follow it.
typedef vmk_uint64 vmk_TimerCycles;
vmk_TimerCycles vmk_GetTimerCycles(void);
vmk_uint64 vmk_TimerCyclesPerSecond(void);
vmk_uint64 vmk_TimerUnsignedTCToMS(vmk_TimerCycles cycles);
vmk_uint64 vmk_TimerUnsignedTCToUS(vmk_TimerCycles cycles);
vmk_uint64 vmk_GetUptimeMS(void);
// Busy-waits without sleeping.
void vmk_DelayUsecs(vmk_uint32 usecs);

typedef struct vmk_TimerInt* vmk_Timer;
typedef struct vmk_TimerQueueInt* vmk_TimerQueue;
#define VMK_INVALID_TIMER ((vmk_Timer)0)
typedef void (*vmk_TimerCallback)(vmk_AddrCookie data);
typedef enum { VMK_TIMER_ATTR_NONE = 0, VMK_TIMER_ATTR_PERIODIC = 1 } vmk_TimerAttributes;

// The system timer queue; callbacks run on the kernel's timer thread.
vmk_TimerQueue vmk_TimerQueueGetSystemDefault(void);
VMK_ReturnStatus vmk_TimerSchedule(vmk_TimerQueue queue, vmk_TimerCallback callback, vmk_AddrCookie data,
                                   vmk_uint64 timeoutUS, vmk_uint64 toleranceUS, vmk_TimerAttributes attrs,
                                   vmk_LockDomainID domain, vmk_LockRank rank, vmk_Timer* timer);
// Cancels a timer; with wait, also waits for a running callback. VMK_NOT_FOUND
// when a one-shot timer already fired (the handle is then already released).
VMK_ReturnStatus vmk_TimerCancel(vmk_Timer timer, vmk_Bool wait);

/* ------------------------------------------------------------------------ */
/* Worlds (kernel threads)                                                   */
/* ------------------------------------------------------------------------ */

typedef vmk_int32 vmk_WorldID;
#define VMK_INVALID_WORLD_ID ((vmk_WorldID)0)
typedef vmk_uint64 vmk_WorldEventID;  // any address used as an event
#define VMK_TIMEOUT_UNLIMITED_MS ((vmk_uint32)0xFFFFFFFF)
#define VMK_EVENT_NONE ((vmk_WorldEventID)0)

typedef VMK_ReturnStatus (*vmk_WorldStartFunc)(void* data);
typedef enum { VMK_WORLD_SCHED_CLASS_DEFAULT = 0, VMK_WORLD_SCHED_CLASS_QUICK = 1 } vmk_WorldSchedClass;

typedef struct {
  vmk_ModuleID moduleID;
  const char* name;
  vmk_WorldStartFunc startFunction;
  void* data;
  vmk_WorldSchedClass schedClass;
  vmk_HeapID heapID;
} vmk_WorldProps;

VMK_ReturnStatus vmk_WorldCreate(const vmk_WorldProps* props, vmk_WorldID* world);
// Asks a world to die: its sleeps and waits return VMK_DEATH_PENDING from now on.
VMK_ReturnStatus vmk_WorldDestroy(vmk_WorldID world);
// Waits until the world's start function has returned, then forgets the world.
VMK_ReturnStatus vmk_WorldWaitForDeath(vmk_WorldID world);
vmk_WorldID vmk_WorldGetID(void);
// Sleeps on the kernel clock. VMK_DEATH_PENDING when the world is asked to
// die (at once if it already was); VMK_WAIT_INTERRUPTED when interrupted.
VMK_ReturnStatus vmk_WorldSleep(vmk_uint64 usecs);
// Waits for a wake-up on `event`, releasing `lock` (a held spinlock, or
// VMK_LOCK_INVALID) atomically with going to sleep; the lock is not taken
// back. VMK_OK when woken, VMK_TIMEOUT, VMK_DEATH_PENDING.
VMK_ReturnStatus vmk_WorldWait(vmk_WorldEventID event, vmk_Lock lock, vmk_uint32 timeoutMS, const char* reason);
// Wakes every world waiting on `event`.
VMK_ReturnStatus vmk_WorldWakeup(vmk_WorldEventID event);
void vmk_WorldYield(void);

/* ------------------------------------------------------------------------ */
/* Hash tables                                                               */
/* ------------------------------------------------------------------------ */

typedef struct vmk_HashTableInt* vmk_HashTable;
#define VMK_INVALID_HASH_HANDLE ((vmk_HashTable)0)
typedef void* vmk_HashKey;
typedef void* vmk_HashValue;
typedef enum { VMK_HASH_KEY_TYPE_INT = 0, VMK_HASH_KEY_TYPE_STR = 1, VMK_HASH_KEY_TYPE_OPAQUE = 2 } vmk_HashKeyType;
#define VMK_HASH_KEY_FLAGS_NONE 0
#define VMK_HASH_KEY_FLAGS_LOCAL_COPY 1  // the table keeps its own copy of each key

typedef struct {
  vmk_ModuleID moduleID;
  vmk_HeapID heapID;
  vmk_HashKeyType keyType;
  vmk_uint32 keyFlags;
  vmk_uint32 keySize;  // bytes of an opaque key; longest string key including its NUL
  vmk_uint32 nbEntries;
  void* acquire;
  void* release;
} vmk_HashProperties;

typedef enum {
  VMK_HASH_KEY_ITER_CMD_CONTINUE = 0,
  VMK_HASH_KEY_ITER_CMD_STOP = 1,
  VMK_HASH_KEY_ITER_CMD_DELETE = 2,
} vmk_HashKeyIteratorCmd;
typedef vmk_HashKeyIteratorCmd (*vmk_HashKeyIterator)(vmk_HashTable table, vmk_HashKey key, vmk_HashValue value,
                                                      vmk_AddrCookie data);

// Heap bytes a table of nbEntries takes (for heap sizing).
vmk_ByteCount vmk_HashGetAllocSize(vmk_uint32 nbEntries);
VMK_ReturnStatus vmk_HashAlloc(const vmk_HashProperties* props, vmk_HashTable* table);
// VMK_BUSY while the table holds entries.
VMK_ReturnStatus vmk_HashRelease(vmk_HashTable table);
vmk_Bool vmk_HashIsEmpty(vmk_HashTable table);
VMK_ReturnStatus vmk_HashKeyInsert(vmk_HashTable table, vmk_HashKey key, vmk_HashValue value);  // VMK_EXISTS
VMK_ReturnStatus vmk_HashKeyFind(vmk_HashTable table, vmk_HashKey key, vmk_HashValue* value);   // VMK_NOT_FOUND
VMK_ReturnStatus vmk_HashKeyDelete(vmk_HashTable table, vmk_HashKey key, vmk_HashValue* value);  // VMK_NOT_FOUND
VMK_ReturnStatus vmk_HashDeleteAll(vmk_HashTable table);
VMK_ReturnStatus vmk_HashKeyIterate(vmk_HashTable table, vmk_HashKeyIterator iterator, vmk_AddrCookie data);

/* ------------------------------------------------------------------------ */
/* Devices and drivers                                                       */
/* ------------------------------------------------------------------------ */

typedef struct vmk_DeviceInt* vmk_Device;
typedef struct vmk_DriverInt* vmk_Driver;
typedef struct vmk_BusTypeInt* vmk_BusType;
#define VMK_DRIVER_NONE ((vmk_Driver)0)

typedef struct {
  VMK_ReturnStatus (*attachDevice)(vmk_Device device);
  VMK_ReturnStatus (*scanDevice)(vmk_Device device);
  VMK_ReturnStatus (*detachDevice)(vmk_Device device);
  VMK_ReturnStatus (*quiesceDevice)(vmk_Device device);
  VMK_ReturnStatus (*startDevice)(vmk_Device device);
  void (*forgetDevice)(vmk_Device device);
} vmk_DriverOps;

typedef struct {
  vmk_ModuleID moduleID;
  vmk_Name name;
  const vmk_DriverOps* ops;
  vmk_AddrCookie privateData;
} vmk_DriverProps;

VMK_ReturnStatus vmk_DriverRegister(const vmk_DriverProps* props, vmk_Driver* driver);
// VMK_BUSY while devices are still attached to the driver.
VMK_ReturnStatus vmk_DriverUnregister(vmk_Driver driver);

typedef struct {
  VMK_ReturnStatus (*removeDevice)(vmk_Device device);
} vmk_DeviceOps;

typedef struct {
  vmk_BusType busType;
  char* busAddress;
  vmk_uint32 busAddressLen;
  const char* busIdentifier;
  vmk_uint32 busIdentifierLen;
} vmk_DeviceID;

typedef struct {
  vmk_Driver registeringDriver;
  vmk_DeviceID* deviceID;
  const vmk_DeviceOps* deviceOps;
  vmk_AddrCookie registeringDriverData;
  vmk_AddrCookie registrationData;
} vmk_DeviceProps;

// Registration data of a PCI device is its vmk_PCIDevice.
VMK_ReturnStatus vmk_DeviceGetRegistrationData(vmk_Device device, vmk_AddrCookie* data);
VMK_ReturnStatus vmk_DeviceSetAttachedDriverData(vmk_Device device, vmk_AddrCookie data);
VMK_ReturnStatus vmk_DeviceGetAttachedDriverData(vmk_Device device, vmk_AddrCookie* data);
// Registers a child device (e.g. a logical uplink) under `parent`.
VMK_ReturnStatus vmk_DeviceRegister(const vmk_DeviceProps* props, vmk_Device parent, vmk_Device* newDevice);
VMK_ReturnStatus vmk_DeviceUnregister(vmk_Device device);
VMK_ReturnStatus vmk_BusTypeFind(const vmk_Name* name, vmk_BusType* busType);
VMK_ReturnStatus vmk_BusTypeRelease(vmk_BusType busType);
VMK_ReturnStatus vmk_LogicalCreateBusAddress(vmk_Driver driver, vmk_Device parent, vmk_uint32 logicalPort,
                                             char** busAddress, vmk_uint32* busAddressLen);
VMK_ReturnStatus vmk_LogicalFreeBusAddress(vmk_Driver driver, char* busAddress);

/* ------------------------------------------------------------------------ */
/* PCI                                                                       */
/* ------------------------------------------------------------------------ */

typedef struct vmk_PCIDeviceInt* vmk_PCIDevice;

typedef struct {
  vmk_uint16 vendorID;
  vmk_uint16 deviceID;
  vmk_uint16 subVendorID;
  vmk_uint16 subDeviceID;
  vmk_uint16 classCode;
  vmk_uint16 progIFRevID;
} vmk_PCIDeviceID;

typedef struct {
  vmk_uint16 seg;
  vmk_uint8 bus;
  vmk_uint8 dev;
  vmk_uint8 fn;
} vmk_PCIDeviceAddr;

typedef enum { VMK_PCI_CONFIG_ACCESS_8 = 1, VMK_PCI_CONFIG_ACCESS_16 = 2, VMK_PCI_CONFIG_ACCESS_32 = 4 } vmk_PCIConfigAccess;

VMK_ReturnStatus vmk_PCIQueryDeviceID(vmk_PCIDevice dev, vmk_PCIDeviceID* id);
VMK_ReturnStatus vmk_PCIQueryDeviceAddr(vmk_PCIDevice dev, vmk_PCIDeviceAddr* addr);
VMK_ReturnStatus vmk_PCIReadConfig(vmk_ModuleID module, vmk_PCIDevice dev, vmk_PCIConfigAccess width,
                                   vmk_uint16 offset, vmk_uint32* value);
VMK_ReturnStatus vmk_PCIWriteConfig(vmk_ModuleID module, vmk_PCIDevice dev, vmk_PCIConfigAccess width,
                                    vmk_uint16 offset, vmk_uint32 value);
VMK_ReturnStatus vmk_PCIEnablePME(vmk_ModuleID module, vmk_PCIDevice dev);
VMK_ReturnStatus vmk_PCIDisablePME(vmk_ModuleID module, vmk_PCIDevice dev);

// Maps BAR `bar` of the device. The address handed back is a window that only
// the MMIO accessors below may touch (a plain load or store faults).
VMK_ReturnStatus vmk_PCIMapIOResource(vmk_ModuleID module, vmk_PCIDevice dev, vmk_uint8 bar, void* reservation,
                                      vmk_VA* va);
VMK_ReturnStatus vmk_PCIUnmapIOResource(vmk_ModuleID module, vmk_PCIDevice dev, vmk_uint8 bar);
// Size of BAR `bar` (start: its bus address; 0 here).
typedef struct {
  vmk_IOA start;
  vmk_ByteCount size;
  vmk_uint64 flags;
} vmk_PCIResource;
VMK_ReturnStatus vmk_PCIQueryIOResource(vmk_PCIDevice dev, vmk_uint8 bar, vmk_PCIResource* resource);

// Register access through a mapped BAR: every access reaches the device.
vmk_uint8 vmk_MMIORead8(vmk_VA addr);
vmk_uint16 vmk_MMIORead16(vmk_VA addr);
vmk_uint32 vmk_MMIORead32(vmk_VA addr);
void vmk_MMIOWrite8(vmk_VA addr, vmk_uint8 value);
void vmk_MMIOWrite16(vmk_VA addr, vmk_uint16 value);
void vmk_MMIOWrite32(vmk_VA addr, vmk_uint32 value);

/* ------------------------------------------------------------------------ */
/* Interrupts                                                                */
/* ------------------------------------------------------------------------ */

typedef vmk_uint32 vmk_IntrCookie;
#define VMK_INVALID_INTRCOOKIE ((vmk_IntrCookie)0xFFFFFFFF)
typedef enum {
  VMK_PCI_INTERRUPT_TYPE_LEGACY = 0,
  VMK_PCI_INTERRUPT_TYPE_MSI = 1,
  VMK_PCI_INTERRUPT_TYPE_MSIX = 2,
} vmk_PCIInterruptType;

// Allocates between numRequired and numDesired vectors (MSI-X: table indexes
// from `indexes`, or 0..n-1 when NULL); the cookies go to `cookies`.
VMK_ReturnStatus vmk_PCIAllocIntrCookie(vmk_ModuleID module, vmk_PCIDevice dev, vmk_PCIInterruptType type,
                                        vmk_uint32 numDesired, vmk_uint32 numRequired, const vmk_uint16* indexes,
                                        vmk_IntrCookie* cookies, vmk_uint32* numAllocated);
VMK_ReturnStatus vmk_PCIFreeIntrCookies(vmk_ModuleID module, vmk_PCIDevice dev);

typedef VMK_ReturnStatus (*vmk_IntrAcknowledge)(void* handlerData, vmk_IntrCookie cookie);
typedef void (*vmk_IntrHandler)(void* handlerData, vmk_IntrCookie cookie);
#define VMK_INTR_ATTRS_ENTROPY_SOURCE 1

typedef struct {
  vmk_Device device;
  vmk_Name deviceName;
  vmk_IntrAcknowledge acknowledgeInterrupt;
  vmk_IntrHandler handler;
  void* handlerData;
  vmk_uint64 attrs;
} vmk_IntrProps;

// Handlers run on the kernel's interrupt thread: acknowledge, then handler.
VMK_ReturnStatus vmk_IntrRegister(vmk_ModuleID module, vmk_IntrCookie cookie, const vmk_IntrProps* props);
VMK_ReturnStatus vmk_IntrUnregister(vmk_ModuleID module, vmk_IntrCookie cookie, void* handlerData);
// An interrupt raised while disabled stays pending and is delivered on enable.
VMK_ReturnStatus vmk_IntrEnable(vmk_IntrCookie cookie);
VMK_ReturnStatus vmk_IntrDisable(vmk_IntrCookie cookie);
// Waits until no handler of the cookie is running or queued to run.
VMK_ReturnStatus vmk_IntrSync(vmk_IntrCookie cookie);

/* ------------------------------------------------------------------------ */
/* DMA engines and scatter-gather                                            */
/* ------------------------------------------------------------------------ */

typedef struct vmk_DMAEngineInt* vmk_DMAEngine;
#define VMK_DMA_ENGINE_INVALID ((vmk_DMAEngine)0)
#define VMK_ADDRESS_MASK_32BIT ((vmk_IOA)0xFFFFFFFFull)
#define VMK_ADDRESS_MASK_64BIT ((vmk_IOA)0xFFFFFFFFFFFFFFFFull)
#define VMK_DMA_ENGINE_FLAGS_COHERENT 1

typedef struct {
  vmk_IOA addressMask;
  vmk_ByteCount maxTransfer;
  vmk_uint32 sgMaxEntries;
  vmk_ByteCount sgElemMaxSize;
  vmk_ByteCount sgElemSizeMult;
  vmk_ByteCount sgElemAlignment;
  vmk_ByteCount sgElemStraddle;
} vmk_DMAConstraints;

typedef struct {
  vmk_Name name;
  vmk_ModuleID module;
  vmk_uint32 flags;
  vmk_Device device;
  const vmk_DMAConstraints* constraints;
  void* bounce;
} vmk_DMAEngineProps;

typedef enum { VMK_DMA_DIRECTION_TO_MEMORY = 1, VMK_DMA_DIRECTION_FROM_MEMORY = 2, VMK_DMA_DIRECTION_BIDIRECTIONAL = 3 } vmk_DMADirection;
typedef enum {
  VMK_DMA_MAP_ERROR_REASON_NONE = 0,
  VMK_DMA_MAP_ERROR_REASON_ADDRESS_EXCEEDS_MASK = 1,
  VMK_DMA_MAP_ERROR_REASON_NO_RESOURCES = 2,
  VMK_DMA_MAP_ERROR_REASON_BAD_ELEMENT = 3,
  VMK_DMA_MAP_ERROR_REASON_INJECTED = 4,
} vmk_DMAMapErrorReason;
typedef struct {
  vmk_DMAMapErrorReason error;
  vmk_uint32 sgIndex;
} vmk_DMAMapErrorInfo;

VMK_ReturnStatus vmk_DMAEngineCreate(const vmk_DMAEngineProps* props, vmk_DMAEngine* engine);
// VMK_BUSY while mappings of the engine are live.
VMK_ReturnStatus vmk_DMAEngineDestroy(vmk_DMAEngine engine);
const char* vmk_DMAMapErrorReasonToString(vmk_DMAMapErrorReason reason);

typedef struct vmk_SgOpsHandleInt* vmk_SgOpsHandle;
#define VMK_SG_OPS_INVALID ((vmk_SgOpsHandle)0)

// Before mapping an element holds a machine address, after mapping the bus
// address the device uses.
typedef struct {
  vmk_uint64 addr;
  vmk_uint32 length;
  vmk_uint32 reserved;
} vmk_SgElem;

typedef struct {
  vmk_uint32 maxElems;
  vmk_uint32 numElems;
  vmk_SgElem elem[1];  // maxElems entries
} vmk_SgArray;

VMK_ReturnStatus vmk_SgCreateOpsHandle(vmk_HeapID heap, vmk_SgOpsHandle* handle, void* ops, void* privateData);
VMK_ReturnStatus vmk_SgDestroyOpsHandle(vmk_SgOpsHandle handle);
// Builds an array over a mapped virtual range: one element per run of
// machine-contiguous pages.
VMK_ReturnStatus vmk_SgAllocWithInit(vmk_SgOpsHandle handle, vmk_SgArray** sg, vmk_VA va, vmk_ByteCount length);
VMK_ReturnStatus vmk_SgFree(vmk_SgOpsHandle handle, vmk_SgArray* sg);

// Maps an array for the engine's device. `out` may be `in` (in place).
VMK_ReturnStatus vmk_DMAMapSg(vmk_DMAEngine engine, vmk_DMADirection direction, vmk_SgOpsHandle handle,
                              vmk_SgArray* in, vmk_SgArray** out, vmk_DMAMapErrorInfo* err);
VMK_ReturnStatus vmk_DMAUnmapSg(vmk_DMAEngine engine, vmk_DMADirection direction, vmk_SgOpsHandle handle,
                                vmk_SgArray* sg);
// Maps one machine range (a packet fragment) and gives back its bus element.
VMK_ReturnStatus vmk_DMAMapElem(vmk_DMAEngine engine, vmk_DMADirection direction, const vmk_SgElem* in,
                                vmk_Bool lastElem, vmk_SgElem* out, vmk_DMAMapErrorInfo* err);
VMK_ReturnStatus vmk_DMAUnmapElem(vmk_DMAEngine engine, vmk_DMADirection direction, const vmk_SgElem* mapped);

/* ------------------------------------------------------------------------ */
/* Management channel                                                        */
/* ------------------------------------------------------------------------ */

typedef struct vmk_MgmtHandleInt* vmk_MgmtHandle;
#define VMK_MGMT_MAX_CALLBACK_PARAMS 8
typedef vmk_uint64 vmk_MgmtCookie;
typedef vmk_uint64 vmk_MgmtEnvelopeHandle;

typedef enum { VMK_MGMT_CALLBACK_LOCATION_USER = 0, VMK_MGMT_CALLBACK_LOCATION_KERNEL = 1 } vmk_MgmtCallbackLocation;
typedef enum { VMK_MGMT_PARMTYPE_IN = 0, VMK_MGMT_PARMTYPE_OUT = 1, VMK_MGMT_PARMTYPE_INOUT = 2 } vmk_MgmtParamType;

// A kernel callback of two parameters: (cookie, envelope, param1, param2).
typedef VMK_ReturnStatus (*vmk_MgmtCallback2)(vmk_MgmtCookie cookie, vmk_MgmtEnvelopeHandle envelope, void* p1,
                                              void* p2);

typedef struct {
  vmk_uint32 location;
  vmk_MgmtCallback2 callback;
  vmk_uint32 synchronous;
  vmk_uint32 numParameters;
  vmk_uint32 parameterTypes[VMK_MGMT_MAX_CALLBACK_PARAMS];
  vmk_ByteCount parameterSizes[VMK_MGMT_MAX_CALLBACK_PARAMS];
  vmk_uint64 callbackId;
} vmk_MgmtCallbackInfo;

typedef struct {
  vmk_revnum version;
  vmk_Name name;
  vmk_Name vendor;
  vmk_uint32 numCallbacks;
  vmk_MgmtCallbackInfo* callbacks;
} vmk_MgmtSignature;

typedef void (*vmk_MgmtCleanupFn)(vmk_uint64 cookie);

VMK_ReturnStatus vmk_MgmtInit(vmk_ModuleID module, vmk_HeapID heap, const vmk_MgmtSignature* signature,
                              vmk_MgmtCleanupFn cleanup, vmk_MgmtCookie cookie, vmk_MgmtHandle* handle);
VMK_ReturnStatus vmk_MgmtDestroy(vmk_MgmtHandle handle);

// Key-value instances: a management instance whose signature has no
// callbacks carries named keys; a client reads a key through its get
// operation and writes it through its set operation. String values travel in
// kernel buffers of VMK_MGMT_KEY_STRING_MAX bytes.
#define VMK_MGMT_KEY_STRING_MAX 4096
typedef enum { VMK_MGMT_KEY_TYPE_LONG = 1, VMK_MGMT_KEY_TYPE_STRING = 2 } vmk_MgmtKeyType;
typedef VMK_ReturnStatus (*vmk_MgmtKeyGetFn)(vmk_uint64 cookie, void* keyValue);
typedef VMK_ReturnStatus (*vmk_MgmtKeySetFn)(vmk_uint64 cookie, void* keyValue);
VMK_ReturnStatus vmk_MgmtAddKey(vmk_MgmtHandle handle, vmk_MgmtKeyType type, const vmk_Name* name,
                                vmk_MgmtKeyGetFn get, vmk_MgmtKeySetFn set);

/* ------------------------------------------------------------------------ */
/* System stop                                                               */
/* ------------------------------------------------------------------------ */

// Stops the machine: the message goes to the log and standard error, then the
// process ends (tests observe it as a death).
[[noreturn]] void vmk_Panic(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

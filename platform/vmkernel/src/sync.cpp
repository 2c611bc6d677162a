// Lock domains, spinlocks, semaphores, worlds and timers.
#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <climits>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "internal.h"

using namespace vmkint;

/* ------------------------------------------------------------------------ */
/* Lock domains                                                              */
/* ------------------------------------------------------------------------ */

namespace {
std::mutex domainLock;
std::set<vmk_LockDomainID> domains;
vmk_LockDomainID nextDomain = 1;
}  // namespace

VMK_ReturnStatus vmk_LockDomainCreate(vmk_ModuleID, vmk_HeapID, const vmk_Name* name, vmk_LockDomainID* domain) {
  VMK_FAULT_RETURN("vmk_LockDomainCreate");
  if (name == nullptr || domain == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(domainLock);
  *domain = nextDomain++;
  domains.insert(*domain);
  counters.lockDomains++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_LockDomainDestroy(vmk_LockDomainID domain) {
  VMK_FAULT_RETURN("vmk_LockDomainDestroy");
  std::lock_guard<std::mutex> g(domainLock);
  if (domains.erase(domain) == 0) return VMK_INVALID_HANDLE;
  counters.lockDomains--;
  return VMK_OK;
}

/* ------------------------------------------------------------------------ */
/* Spinlocks                                                                 */
/* ------------------------------------------------------------------------ */

struct vmk_LockInt {
  std::string name;
  vmk_LockRank rank = VMK_SPINLOCK_UNRANKED;
  vmk_LockDomainID domain = VMK_LOCKDOMAIN_INVALID;
  std::mutex m;
  std::atomic<std::thread::id> owner{};
};

namespace vmkint {
namespace {

// The spinlocks this thread holds. A plain array, not a container: a
// thread-local with a destructor is gone before static destructors run at
// exit, and those may still take and drop spinlocks.
struct HeldSpinlocks {
  vmk_Lock locks[64];
  int count;
  const vmk_Lock* begin() const { return locks; }
  const vmk_Lock* end() const { return locks + count; }
};
thread_local HeldSpinlocks heldSpinlocks{};
thread_local int interruptDepth = 0;

std::mutex ruleLock;
std::vector<std::string> ruleTexts;                         // ruleLock
std::function<void(const std::string&)> ruleHandler;       // ruleLock

std::string heldNames(vmk_Lock except) {
  std::string out;
  for (vmk_Lock l : heldSpinlocks) {
    if (l == except) continue;
    out += (out.empty() ? "" : ", ") + l->name;
  }
  return out;
}

}  // namespace

namespace {
void ruleBroken(const char* kind, const std::string& what) {
  std::function<void(const std::string&)> h;
  {
    std::lock_guard<std::mutex> g(ruleLock);
    ruleTexts.push_back(what);
    h = ruleHandler;
  }
  if (h) h(what);
  else vmk_Panic("%s rule broken: %s", kind, what.c_str());
}
}  // namespace

void lockRuleBroken(const std::string& what) { ruleBroken("lock", what); }
void kernelRuleBroken(const std::string& what) { ruleBroken("kernel", what); }

void mayBlock(const char* service, vmk_Lock released) {
  if (panicContext.load(std::memory_order_relaxed))
    kernelRuleBroken(std::string(service) + " may block in a panic context");
  std::string held = heldNames(released);
  if (!held.empty()) lockRuleBroken(std::string(service) + " may sleep while spinlock " + held + " is held");
  if (interruptDepth > 0) lockRuleBroken(std::string(service) + " may sleep in an interrupt handler");
}

void enterInterruptContext(bool enter) { interruptDepth += enter ? 1 : -1; }

void resetLockRules() {
  std::lock_guard<std::mutex> g(ruleLock);
  ruleTexts.clear();
  ruleHandler = nullptr;
}

}  // namespace vmkint

namespace vmktest {
unsigned lockRuleViolations() {
  std::lock_guard<std::mutex> g(vmkint::ruleLock);
  return static_cast<unsigned>(vmkint::ruleTexts.size());
}
std::vector<std::string> lockRuleTexts() {
  std::lock_guard<std::mutex> g(vmkint::ruleLock);
  return vmkint::ruleTexts;
}
void setLockRuleHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> g(vmkint::ruleLock);
  vmkint::ruleHandler = std::move(handler);
}
}  // namespace vmktest

VMK_ReturnStatus vmk_SpinlockCreate(const vmk_SpinlockCreateProps* props, vmk_Lock* lock) {
  VMK_FAULT_RETURN("vmk_SpinlockCreate");
  if (props == nullptr || lock == nullptr) return VMK_BAD_PARAM;
  auto* l = new vmk_LockInt();
  l->name = props->name.string;
  l->rank = props->rank;
  l->domain = props->domain;
  counters.locks++;
  *lock = l;
  return VMK_OK;
}

void vmk_SpinlockDestroy(vmk_Lock lock) {
  if (lock == nullptr) return;
  if (lock->owner.load() != std::thread::id()) vmk_Panic("spinlock %s destroyed while held", lock->name.c_str());
  delete lock;
  counters.locks--;
}

VMK_ReturnStatus vmk_SPLock(vmk_Lock lock) {
  VMK_FAULT_RETURN("vmk_SPLock");
  if (lock == nullptr) vmk_Panic("vmk_SPLock on an invalid lock");
  if (lock->owner.load() == std::this_thread::get_id())
    vmk_Panic("spinlock %s taken again by its holder (deadlock)", lock->name.c_str());
  // Ranked locks of one domain go in increasing rank.
  if (lock->rank != VMK_SPINLOCK_UNRANKED) {
    for (vmk_Lock h : heldSpinlocks) {
      if (h->rank == VMK_SPINLOCK_UNRANKED || h->domain != lock->domain || h->rank < lock->rank) continue;
      lockRuleBroken("spinlock " + lock->name + " (rank " + std::to_string(lock->rank) + ") taken while " +
                     h->name + " (rank " + std::to_string(h->rank) + ") is held");
    }
  }
  lock->m.lock();
  lock->owner = std::this_thread::get_id();
  if (heldSpinlocks.count == static_cast<int>(std::size(heldSpinlocks.locks)))
    vmk_Panic("more than %zu spinlocks held by one thread", std::size(heldSpinlocks.locks));
  heldSpinlocks.locks[heldSpinlocks.count++] = lock;
  return VMK_OK;
}

void vmk_SPUnlock(vmk_Lock lock) {
  if (lock == nullptr || lock->owner.load() != std::this_thread::get_id())
    vmk_Panic("spinlock %s released by a thread that does not hold it", lock ? lock->name.c_str() : "(invalid)");
  vmk_Lock* first = heldSpinlocks.locks;
  vmk_Lock* last = first + heldSpinlocks.count;
  vmk_Lock* it = std::find(first, last, lock);
  if (it != last) {
    std::copy(it + 1, last, it);
    heldSpinlocks.count--;
  }
  lock->owner = std::thread::id();
  lock->m.unlock();
}

vmk_Bool vmk_SPIsLocked(vmk_Lock lock) { return lock != nullptr && lock->owner.load() != std::thread::id(); }

/* ------------------------------------------------------------------------ */
/* Semaphores                                                                */
/* ------------------------------------------------------------------------ */

struct vmk_SemaphoreInt {
  std::string name;
  std::mutex m;
  std::condition_variable cv;
  vmk_int32 count;
  vmk_int32 max;
  vmk_int32 waiters = 0;  // threads blocked in vmk_SemaLock (test view)
};

static VMK_ReturnStatus semaCreate(vmk_Semaphore* sema, const char* name, vmk_int32 value, vmk_int32 max) {
  if (sema == nullptr || value < 0) return VMK_BAD_PARAM;
  auto* s = new vmk_SemaphoreInt();
  s->name = name ? name : "";
  s->count = value;
  s->max = max;
  counters.locks++;
  *sema = s;
  return VMK_OK;
}

VMK_ReturnStatus vmk_BinarySemaCreate(vmk_Semaphore* sema, vmk_ModuleID, const char* name) {
  VMK_FAULT_RETURN("vmk_BinarySemaCreate");
  return semaCreate(sema, name, 1, 1);
}

VMK_ReturnStatus vmk_SemaCreate(vmk_Semaphore* sema, vmk_ModuleID, const char* name, vmk_int32 value) {
  VMK_FAULT_RETURN("vmk_SemaCreate");
  return semaCreate(sema, name, value, INT32_MAX);
}

void vmk_SemaDestroy(vmk_Semaphore* sema) {
  if (sema == nullptr || *sema == nullptr) return;
  delete *sema;
  *sema = nullptr;
  counters.locks--;
}

void vmk_SemaLock(vmk_Semaphore* sema) {
  if (sema == nullptr || *sema == nullptr) vmk_Panic("vmk_SemaLock on an invalid semaphore");
  mayBlock("vmk_SemaLock");
  vmk_SemaphoreInt* s = *sema;
  std::unique_lock<std::mutex> lk(s->m);
  if (s->count <= 0) {
    s->waiters++;
    s->cv.wait(lk, [s] { return s->count > 0; });
    s->waiters--;
  }
  s->count--;
}

VMK_ReturnStatus vmk_SemaTryLock(vmk_Semaphore* sema) {
  VMK_FAULT_RETURN("vmk_SemaTryLock");
  if (sema == nullptr || *sema == nullptr) return VMK_INVALID_HANDLE;
  vmk_SemaphoreInt* s = *sema;
  std::lock_guard<std::mutex> g(s->m);
  if (s->count <= 0) return VMK_BUSY;
  s->count--;
  return VMK_OK;
}

void vmk_SemaUnlock(vmk_Semaphore* sema) {
  if (sema == nullptr || *sema == nullptr) vmk_Panic("vmk_SemaUnlock on an invalid semaphore");
  vmk_SemaphoreInt* s = *sema;
  {
    std::lock_guard<std::mutex> g(s->m);
    if (s->count >= s->max) vmk_Panic("semaphore %s released more often than taken", s->name.c_str());
    s->count++;
  }
  s->cv.notify_one();
}

/* ------------------------------------------------------------------------ */
/* Worlds                                                                    */
/* ------------------------------------------------------------------------ */

namespace {

// What a thread is waiting for; guarded by schedLock.
struct WaitState {
  vmk_WorldEventID event = VMK_EVENT_NONE;
  bool waiting = false;
  bool woken = false;
};

struct World {
  vmk_WorldID id;
  std::string name;
  vmk_WorldStartFunc start;
  void* data;
  std::thread thread;
  bool deathPending = false;  // schedLock
  bool finished = false;      // schedLock
  WaitState* ws = nullptr;
};

std::map<vmk_WorldID, World*>& worlds() {
  static auto* w = new std::map<vmk_WorldID, World*>();
  return *w;
}
std::list<WaitState*>& waiters() {
  static auto* l = new std::list<WaitState*>();
  return *l;
}
vmk_WorldID nextWorld = 1;
thread_local World* currentWorld = nullptr;
thread_local WaitState threadWait;

bool deathPendingLocked() { return currentWorld != nullptr && currentWorld->deathPending; }

}  // namespace

VMK_ReturnStatus vmk_WorldCreate(const vmk_WorldProps* props, vmk_WorldID* world) {
  VMK_FAULT_RETURN("vmk_WorldCreate");
  if (props == nullptr || world == nullptr || props->startFunction == nullptr) return VMK_BAD_PARAM;
  auto* w = new World();
  w->name = props->name ? props->name : "";
  w->start = props->startFunction;
  w->data = props->data;
  {
    std::lock_guard<std::mutex> g(schedLock);
    w->id = nextWorld++;
    worlds()[w->id] = w;
  }
  counters.worlds++;
  *world = w->id;
  w->thread = std::thread([w] {
    currentWorld = w;
    w->ws = &threadWait;
    w->start(w->data);
    {
      std::lock_guard<std::mutex> g(schedLock);
      w->finished = true;
    }
    schedCv.notify_all();
  });
  return VMK_OK;
}

VMK_ReturnStatus vmk_WorldDestroy(vmk_WorldID id) {
  VMK_FAULT_RETURN("vmk_WorldDestroy");
  {
    std::lock_guard<std::mutex> g(schedLock);
    auto it = worlds().find(id);
    if (it == worlds().end()) return VMK_NOT_FOUND;
    it->second->deathPending = true;
  }
  schedCv.notify_all();
  return VMK_OK;
}

VMK_ReturnStatus vmk_WorldWaitForDeath(vmk_WorldID id) {
  World* w;
  {
    std::lock_guard<std::mutex> g(schedLock);
    auto it = worlds().find(id);
    if (it == worlds().end()) return VMK_NOT_FOUND;
    w = it->second;
  }
  if (currentWorld == w) return VMK_BAD_PARAM;
  mayBlock("vmk_WorldWaitForDeath");
  w->thread.join();
  {
    std::lock_guard<std::mutex> g(schedLock);
    worlds().erase(id);
  }
  delete w;
  counters.worlds--;
  return VMK_OK;
}

vmk_WorldID vmk_WorldGetID(void) { return currentWorld ? currentWorld->id : VMK_INVALID_WORLD_ID; }

// Threads inside vmk_WorldSleep (see vmktest::sleepers).
static std::atomic<int> sleepersNow{0};

VMK_ReturnStatus vmk_WorldSleep(vmk_uint64 usecs) {
  // An injected status stands for an interrupted sleep (e.g. VMK_WAIT_INTERRUPTED).
  VMK_FAULT_RETURN("vmk_WorldSleep");
  mayBlock("vmk_WorldSleep");
  uint64_t deadline = clockNowNs() + usecs * 1000ull;
  std::unique_lock<std::mutex> lk(schedLock);
  sleepersNow.fetch_add(1, std::memory_order_relaxed);
  VMK_ReturnStatus st = VMK_OK;
  for (;;) {
    if (deathPendingLocked()) {
      st = VMK_DEATH_PENDING;
      break;
    }
    if (clockNowNs() >= deadline) break;
    schedWaitUntil(lk, deadline);
  }
  sleepersNow.fetch_sub(1, std::memory_order_relaxed);
  return st;
}

namespace vmktest {
int sleepers() { return sleepersNow.load(std::memory_order_relaxed); }

int semaWaiters(vmk_Semaphore sema) {
  if (sema == nullptr) return 0;
  std::lock_guard<std::mutex> g(sema->m);
  return sema->waiters;
}
}  // namespace vmktest

VMK_ReturnStatus vmk_WorldWait(vmk_WorldEventID event, vmk_Lock lock, vmk_uint32 timeoutMS, const char*) {
  VMK_FAULT_POINT("vmk_WorldWait");
  mayBlock("vmk_WorldWait", lock);
  if (vmk_faultStatus_ != VMK_OK) {
    if (lock != VMK_LOCK_INVALID) vmk_SPUnlock(lock);  // the lock goes in every case
    return vmk_faultStatus_;
  }
  uint64_t deadline = timeoutMS == VMK_TIMEOUT_UNLIMITED_MS ? 0 : clockNowNs() + (uint64_t)timeoutMS * 1000000ull;
  std::unique_lock<std::mutex> lk(schedLock);
  WaitState& ws = threadWait;
  ws.event = event;
  ws.woken = false;
  ws.waiting = true;
  waiters().push_back(&ws);
  // Registered before the lock goes: a waker that takes the lock after us
  // cannot miss us.
  if (lock != VMK_LOCK_INVALID) vmk_SPUnlock(lock);
  VMK_ReturnStatus result;
  for (;;) {
    if (ws.woken) { result = VMK_OK; break; }
    if (deathPendingLocked()) { result = VMK_DEATH_PENDING; break; }
    if (deadline != 0 && clockNowNs() >= deadline) { result = VMK_TIMEOUT; break; }
    schedWaitUntil(lk, deadline);
  }
  ws.waiting = false;
  waiters().remove(&ws);
  return result;
}

VMK_ReturnStatus vmk_WorldWakeup(vmk_WorldEventID event) {
  VMK_FAULT_RETURN("vmk_WorldWakeup");
  {
    std::lock_guard<std::mutex> g(schedLock);
    for (WaitState* ws : waiters())
      if (ws->waiting && ws->event == event) ws->woken = true;
  }
  schedCv.notify_all();
  return VMK_OK;
}

void vmk_WorldYield(void) { std::this_thread::yield(); }

/* ------------------------------------------------------------------------ */
/* Timers                                                                    */
/* ------------------------------------------------------------------------ */

struct vmk_TimerInt {
  vmk_TimerCallback cb;
  vmk_AddrCookie data;
  uint64_t deadline;
  uint64_t period;  // 0: one shot
  bool running = false;
  bool cancelled = false;
};

struct vmk_TimerQueueInt {};

namespace {

struct TimerThread {
  std::set<vmk_TimerInt*> timers;  // schedLock
  std::thread thread;
  bool stop = false;
  bool started = false;

  void ensureStarted() {
    if (started) return;
    started = true;
    thread = std::thread([this] { run(); });
  }

  void run() {
    std::unique_lock<std::mutex> lk(schedLock);
    while (!stop) {
      vmk_TimerInt* next = nullptr;
      for (auto* t : timers)
        if (!t->running && (next == nullptr || t->deadline < next->deadline)) next = t;
      if (next == nullptr) {
        schedWaitUntil(lk, 0);
        continue;
      }
      if (clockNowNs() < next->deadline) {
        schedWaitUntil(lk, next->deadline);
        continue;
      }
      next->running = true;
      lk.unlock();
      next->cb(next->data);
      lk.lock();
      next->running = false;
      if (next->cancelled || next->period == 0) {
        // Fired one-shot and cancelled-while-running timers are released here.
        timers.erase(next);
        delete next;
        counters.timers--;
      } else {
        next->deadline += next->period;
      }
      schedCv.notify_all();
    }
  }

  ~TimerThread() {
    {
      std::lock_guard<std::mutex> g(schedLock);
      stop = true;
    }
    schedCv.notify_all();
    if (thread.joinable()) thread.join();
  }
};

TimerThread& timerThread() {
  static TimerThread t;
  return t;
}
vmk_TimerQueueInt systemQueue;

}  // namespace

vmk_TimerQueue vmk_TimerQueueGetSystemDefault(void) { return &systemQueue; }

VMK_ReturnStatus vmk_TimerSchedule(vmk_TimerQueue queue, vmk_TimerCallback callback, vmk_AddrCookie data,
                                   vmk_uint64 timeoutUS, vmk_uint64, vmk_TimerAttributes attrs, vmk_LockDomainID,
                                   vmk_LockRank, vmk_Timer* timer) {
  VMK_FAULT_RETURN("vmk_TimerSchedule");
  if (queue == nullptr || callback == nullptr || timer == nullptr) return VMK_BAD_PARAM;
  if ((attrs & VMK_TIMER_ATTR_PERIODIC) && timeoutUS == 0) return VMK_BAD_PARAM;
  auto* t = new vmk_TimerInt();
  t->cb = callback;
  t->data = data;
  t->deadline = clockNowNs() + timeoutUS * 1000ull;
  t->period = (attrs & VMK_TIMER_ATTR_PERIODIC) ? timeoutUS * 1000ull : 0;
  TimerThread& tt = timerThread();
  {
    std::lock_guard<std::mutex> g(schedLock);
    tt.ensureStarted();
    tt.timers.insert(t);
  }
  counters.timers++;
  *timer = t;
  schedCv.notify_all();
  return VMK_OK;
}

VMK_ReturnStatus vmk_TimerCancel(vmk_Timer timer, vmk_Bool wait) {
  VMK_FAULT_RETURN("vmk_TimerCancel");
  if (wait) mayBlock("vmk_TimerCancel");
  TimerThread& tt = timerThread();
  std::unique_lock<std::mutex> lk(schedLock);
  if (tt.timers.count(timer) == 0) return VMK_NOT_FOUND;
  if (timer->running) {
    timer->cancelled = true;
    // From inside its own callback the timer cannot be waited for.
    if (!wait || std::this_thread::get_id() == tt.thread.get_id()) return VMK_OK;
    while (tt.timers.count(timer)) schedWaitUntil(lk, 0);
    return VMK_OK;
  }
  tt.timers.erase(timer);
  delete timer;
  counters.timers--;
  return VMK_OK;
}

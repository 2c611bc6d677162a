// Failure injection, accounting, the kernel clock, log lines, status texts,
// names and the system stop.
#include <chrono>
#include <thread>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "internal.h"

namespace vmkint {

/* ------------------------------------------------------------------------ */
/* Failure injection                                                         */
/* ------------------------------------------------------------------------ */

namespace {
std::mutex faultLock;
std::map<std::string, std::unique_ptr<FaultSite>>& faultSites() {
  static auto* sites = new std::map<std::string, std::unique_ptr<FaultSite>>();
  return *sites;
}
FaultSite* siteLocked(const std::string& name) {
  auto& sites = faultSites();
  auto it = sites.find(name);
  if (it != sites.end()) return it->second.get();
  auto site = std::make_unique<FaultSite>();
  site->name = name;
  site->id = (unsigned)sites.size();
  FaultSite* raw = site.get();
  sites.emplace(name, std::move(site));
  return raw;
}

// A thread's block outlives its thread: at thread exit it goes back to a
// pool, counts kept, and the next new thread continues it.
std::vector<CallBlock*>& allBlocks() {  // faultLock
  static auto* v = new std::vector<CallBlock*>();
  return *v;
}
std::vector<CallBlock*>& freeBlocks() {  // faultLock
  static auto* v = new std::vector<CallBlock*>();
  return *v;
}
__thread bool tlsBlockGone = false;  // the thread is exiting
struct BlockReturn {
  ~BlockReturn() {
    std::lock_guard<std::mutex> g(faultLock);
    if (tlsCallBlock != nullptr) freeBlocks().push_back(tlsCallBlock);
    tlsCallBlock = nullptr;
    tlsBlockGone = true;
  }
};
thread_local BlockReturn tlsBlockReturn;

uint64_t callsLocked(const FaultSite* site) {
  uint64_t n = site->shared.load(std::memory_order_relaxed);
  if (site->id < kCountedSites)
    for (CallBlock* b : allBlocks()) n += b->calls[site->id].load(std::memory_order_relaxed);
  return n;
}
}  // namespace

FaultSite* faultSite(const char* name) {
  std::lock_guard<std::mutex> g(faultLock);
  return siteLocked(name);
}

__thread CallBlock* tlsCallBlock = nullptr;

CallBlock* takeThreadBlock() {
  if (tlsBlockGone) return nullptr;
  (void)&tlsBlockReturn;  // its destructor hands the block back
  std::lock_guard<std::mutex> g(faultLock);
  if (!freeBlocks().empty()) {
    tlsCallBlock = freeBlocks().back();
    freeBlocks().pop_back();
  } else {
    tlsCallBlock = new CallBlock();
    tlsCallBlock->index = (unsigned)allBlocks().size();
    tlsCallBlock->pageTag = tlsCallBlock->index < kPageMaxTag ? tlsCallBlock->index + 1 : 0;
    allBlocks().push_back(tlsCallBlock);
  }
  return tlsCallBlock;
}

namespace {
void rearmLocked(FaultSite* site) { site->armed.store(site->rule || site->hook, std::memory_order_release); }
}  // namespace

VMK_ReturnStatus faultArmed(FaultSite* site) {
  std::function<void()> hook;
  VMK_ReturnStatus status = VMK_OK;
  {
    std::lock_guard<std::mutex> g(faultLock);
    hook = site->hook;
    if (site->rule) {
      site->sinceArm++;
      if (site->sinceArm == site->nth || (site->every && site->sinceArm > site->nth)) {
        site->injected++;
        if (!site->every) site->rule = false;
        status = site->status;
      }
    }
    rearmLocked(site);
  }
  // The hook may block (a test holding the caller inside a service): it runs
  // without the lock.
  if (hook) hook();
  return status;
}

void resetFaults() {
  std::lock_guard<std::mutex> g(faultLock);
  for (auto& [name, site] : faultSites()) {
    site->base = callsLocked(site.get());
    site->sinceArm = site->injected = 0;
    site->rule = false;
    site->hook = nullptr;
    site->armed.store(false, std::memory_order_release);
  }
}

Counters counters;

/* ------------------------------------------------------------------------ */
/* Clock                                                                     */
/* ------------------------------------------------------------------------ */

std::mutex schedLock;
std::condition_variable schedCv;

namespace {
using RealClock = std::chrono::steady_clock;
std::mutex clockLock;
double clockRateValue = 1.0;
uint64_t clockBaseNs = 0;
RealClock::time_point clockBaseReal = RealClock::now();

uint64_t nowLocked() {
  auto real = std::chrono::duration_cast<std::chrono::nanoseconds>(RealClock::now() - clockBaseReal).count();
  return clockBaseNs + (uint64_t)((double)real * clockRateValue);
}
void rebaseLocked() {
  clockBaseNs = nowLocked();
  clockBaseReal = RealClock::now();
}
}  // namespace

uint64_t clockNowNs() {
  std::lock_guard<std::mutex> g(clockLock);
  return nowLocked();
}

void notifyAll() {
  { std::lock_guard<std::mutex> g(schedLock); }
  schedCv.notify_all();
}

void schedWaitUntil(std::unique_lock<std::mutex>& lk, uint64_t deadlineNs) {
  // Real time to wait: the remaining kernel time at the current rate, capped
  // so that a rate change or a missed notification costs little.
  const auto cap = std::chrono::milliseconds(20);
  double rate;
  uint64_t now;
  {
    std::lock_guard<std::mutex> g(clockLock);
    rate = clockRateValue;
    now = nowLocked();
  }
  if (deadlineNs == 0 || rate <= 0.0) {
    schedCv.wait_for(lk, cap);
    return;
  }
  if (now >= deadlineNs) return;
  auto realNs = (uint64_t)((double)(deadlineNs - now) / rate);
  auto wait = std::chrono::nanoseconds(realNs);
  schedCv.wait_for(lk, wait < cap ? std::chrono::duration_cast<std::chrono::nanoseconds>(wait)
                                  : std::chrono::duration_cast<std::chrono::nanoseconds>(cap));
}

void resetClock() {
  {
    std::lock_guard<std::mutex> g(clockLock);
    rebaseLocked();
    clockRateValue = 1.0;
  }
  notifyAll();
}

/* ------------------------------------------------------------------------ */
/* Log                                                                       */
/* ------------------------------------------------------------------------ */

// The log keeps the last kLogTail lines (what tests read back) and, outside
// the ring, how often each distinct text was written since the last clear, so
// counting lines over a whole run stays exact while memory grows only with
// the number of distinct texts.
namespace {
constexpr size_t kLogTail = 4096;
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
struct LogStore {
  std::vector<vmktest::LogLine> ring;  // kLogTail slots once full, reused
  uint64_t written = 0;                // lines since the last clear
  std::unordered_map<std::string, uint64_t, TextHash, std::equal_to<>> counts;
};
std::mutex logLock;
LogStore& logStore() {
  static auto* store = new LogStore();
  return *store;
}
// VMK_LOG_ECHO=1 in the environment echoes kernel log lines while debugging.
bool logEcho = [] {
  const char* v = std::getenv("VMK_LOG_ECHO");
  return v != nullptr && *v != '\0' && *v != '0';
}();
}  // namespace

std::string vformat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  char small[512];
  int n = vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if ((size_t)n < sizeof small) return std::string(small, (size_t)n);
  std::string big((size_t)n + 1, '\0');
  vsnprintf(big.data(), big.size(), fmt, ap);
  big.resize((size_t)n);
  return big;
}

void logAppend(const char* component, vmk_LogUrgency urgency, int level, std::string_view text) {
  std::lock_guard<std::mutex> g(logLock);
  LogStore& st = logStore();
  if (st.ring.size() < kLogTail) {
    st.ring.push_back(vmktest::LogLine{component ? component : "", urgency, level, std::string(text)});
  } else {
    // Assigning into a used slot reuses its buffers.
    vmktest::LogLine& slot = st.ring[st.written % kLogTail];
    slot.component.assign(component ? component : "");
    slot.urgency = urgency;
    slot.level = level;
    slot.text.assign(text);
  }
  st.written++;
  auto it = st.counts.find(text);
  if (it != st.counts.end())
    it->second++;
  else
    st.counts.emplace(std::string(text), 1);
  if (logEcho) {
    fwrite(text.data(), 1, text.size(), stderr);
    if (text.empty() || text.back() != '\n') fputc('\n', stderr);
  }
}

void resetLog() {
  std::lock_guard<std::mutex> g(logLock);
  LogStore& st = logStore();
  st.ring.clear();
  st.written = 0;
  st.counts.clear();
}

}  // namespace vmkint

using namespace vmkint;

vmk_uint64 vmk_fenceWord = 0;

/* ------------------------------------------------------------------------ */
/* Status texts and names                                                    */
/* ------------------------------------------------------------------------ */

const char* vmk_StatusToString(VMK_ReturnStatus status) {
  switch (status) {
    case VMK_OK: return "Success";
    case VMK_FAILURE: return "Failure";
    case VMK_WOULD_BLOCK: return "Would block";
    case VMK_NOT_FOUND: return "Not found";
    case VMK_BUSY: return "Busy";
    case VMK_EXISTS: return "Already exists";
    case VMK_LIMIT_EXCEEDED: return "Limit exceeded";
    case VMK_BAD_PARAM: return "Bad parameter";
    case VMK_NO_MEMORY: return "Out of memory";
    case VMK_NO_RESOURCES: return "Out of resources";
    case VMK_NOT_SUPPORTED: return "Not supported";
    case VMK_TIMEOUT: return "Timeout";
    case VMK_IS_ENABLED: return "Already enabled";
    case VMK_WAIT_INTERRUPTED: return "Wait interrupted";
    case VMK_NOT_INITIALIZED: return "Not initialized";
    case VMK_NO_ADDRESS_SPACE: return "No address space";
    case VMK_DEATH_PENDING: return "Death pending";
    case VMK_HEADER_BEYOND_LIMIT: return "Header beyond limit";
    case VMK_INVALID_HANDLE: return "Invalid handle";
    default: return "Unknown status";
  }
}

VMK_ReturnStatus vmk_NameInitialize(vmk_Name* name, const char* text) {
  if (name == nullptr || text == nullptr) return VMK_BAD_PARAM;
  size_t n = strnlen(text, VMK_MISC_NAME_MAX);
  bool cut = n >= VMK_MISC_NAME_MAX;
  if (cut) n = VMK_MISC_NAME_MAX - 1;
  memcpy(name->string, text, n);
  memset(name->string + n, 0, VMK_MISC_NAME_MAX - n);
  return cut ? VMK_LIMIT_EXCEEDED : VMK_OK;
}

VMK_ReturnStatus vmk_NameCopy(vmk_Name* dst, const vmk_Name* src) {
  if (dst == nullptr || src == nullptr) return VMK_BAD_PARAM;
  return vmk_NameInitialize(dst, src->string);
}

const char* vmk_NameToString(const vmk_Name* name) { return name ? name->string : ""; }

/* ------------------------------------------------------------------------ */
/* Log components                                                            */
/* ------------------------------------------------------------------------ */

struct vmk_LogComponentInt {
  std::string name;
  std::atomic<int> level{0};
};

VMK_ReturnStatus vmk_LogRegister(const vmk_LogProperties* props, vmk_LogComponent* log) {
  VMK_FAULT_RETURN("vmk_LogRegister");
  if (props == nullptr || log == nullptr || props->name.string[0] == '\0') return VMK_BAD_PARAM;
  auto* c = new vmk_LogComponentInt();
  c->name = props->name.string;
  c->level = props->defaultLevel;
  counters.logComponents++;
  *log = c;
  return VMK_OK;
}

VMK_ReturnStatus vmk_LogUnregister(vmk_LogComponent log) {
  VMK_FAULT_RETURN("vmk_LogUnregister");
  if (log == nullptr) return VMK_INVALID_HANDLE;
  delete log;
  counters.logComponents--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_LogSetCurrentLogLevel(vmk_LogComponent log, vmk_int32 level) {
  VMK_FAULT_RETURN("vmk_LogSetCurrentLogLevel");
  if (log == nullptr) return VMK_INVALID_HANDLE;
  log->level = level;
  return VMK_OK;
}

vmk_int32 vmk_LogGetCurrentLogLevel(vmk_LogComponent log) { return log ? log->level.load() : 0; }

const char* vmk_LogGetName(vmk_LogComponent log) { return log ? log->name.c_str() : ""; }

void vmk_LogLevelV(vmk_LogUrgency urgency, vmk_LogComponent log, vmk_int32 level, const char* fmt, va_list ap) {
  // A line for a component that is gone still reaches the kernel log, the
  // way a stale handle's line would: nothing is lost for the reader.
  const char* component = log ? log->name.c_str() : "";
  // A line the caller formatted itself is taken as it stands.
  if (fmt[0] == '%' && fmt[1] == 's' && fmt[2] == '\0') {
    va_list copy;
    va_copy(copy, ap);
    const char* text = va_arg(copy, const char*);
    va_end(copy);
    logAppend(component, urgency, level, text ? std::string_view(text) : std::string_view("(null)"));
    return;
  }
  // Formatted once, on the stack unless it is long.
  char small[512];
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) n = 0;
  if ((size_t)n < sizeof small) {
    logAppend(component, urgency, level, std::string_view(small, (size_t)n));
    return;
  }
  logAppend(component, urgency, level, vformat(fmt, ap));
}

void vmk_LogLevel(vmk_LogUrgency urgency, vmk_LogComponent log, vmk_int32 level, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vmk_LogLevelV(urgency, log, level, fmt, ap);
  va_end(ap);
}

#define VMK_PLAIN_LOG(fn, urgency)                  \
  void fn(const char* fmt, ...) {                   \
    va_list ap;                                     \
    va_start(ap, fmt);                              \
    logAppend("", urgency, 0, vformat(fmt, ap));    \
    va_end(ap);                                     \
  }
VMK_PLAIN_LOG(vmk_LogMessage, VMK_LOG_URGENCY_NORMAL)
VMK_PLAIN_LOG(vmk_WarningMessage, VMK_LOG_URGENCY_WARNING)
VMK_PLAIN_LOG(vmk_AlertMessage, VMK_LOG_URGENCY_ALERT)

void vmk_LogBacktraceMessage(void) { logAppend("", VMK_LOG_URGENCY_ALERT, 0, "Backtrace: (not available)\n"); }

/* ------------------------------------------------------------------------ */
/* System stop                                                               */
/* ------------------------------------------------------------------------ */

void vmk_Panic(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string msg = vformat(fmt, ap);
  va_end(ap);
  logAppend("", VMK_LOG_URGENCY_ALERT, 0, msg);
  fprintf(stderr, "\n*** System stopped: %s\n", msg.c_str());
  fflush(stderr);
  std::abort();
}

/* ------------------------------------------------------------------------ */
/* Time                                                                      */
/* ------------------------------------------------------------------------ */

vmk_TimerCycles vmk_GetTimerCycles(void) { return clockNowNs(); }
vmk_uint64 vmk_TimerCyclesPerSecond(void) { return 1000000000ull; }
vmk_uint64 vmk_TimerUnsignedTCToMS(vmk_TimerCycles cycles) { return cycles / 1000000ull; }
vmk_uint64 vmk_TimerUnsignedTCToUS(vmk_TimerCycles cycles) { return cycles / 1000ull; }
vmk_uint64 vmk_GetUptimeMS(void) { return clockNowNs() / 1000000ull; }

void vmk_DelayUsecs(vmk_uint32 usecs) {
  // A busy CPU makes time pass: with the clock stopped the delay moves it.
  if (vmktest::clockRate() <= 0.0) {
    vmktest::advance((uint64_t)usecs * 1000ull);
    return;
  }
  uint64_t deadline = clockNowNs() + (uint64_t)usecs * 1000ull;
  while (clockNowNs() < deadline) std::this_thread::yield();
}

/* ------------------------------------------------------------------------ */
/* Test controls                                                             */
/* ------------------------------------------------------------------------ */

namespace vmktest {

void failCall(const std::string& name, unsigned nth, VMK_ReturnStatus status, bool every) {
  std::lock_guard<std::mutex> g(vmkint::faultLock);
  FaultSite* s = vmkint::siteLocked(name);
  s->nth = nth;
  s->every = every;
  s->status = status;
  s->sinceArm = 0;
  s->rule = nth > 0;
  vmkint::rearmLocked(s);
}

void onCall(const std::string& name, std::function<void()> hook) {
  std::lock_guard<std::mutex> g(vmkint::faultLock);
  FaultSite* s = vmkint::siteLocked(name);
  s->hook = std::move(hook);
  vmkint::rearmLocked(s);
}

void clearFailures() {
  std::lock_guard<std::mutex> g(vmkint::faultLock);
  for (auto& [name, site] : vmkint::faultSites()) {
    site->rule = false;
    site->hook = nullptr;
    site->armed.store(false, std::memory_order_release);
  }
}

unsigned callCount(const std::string& name) {
  std::lock_guard<std::mutex> g(vmkint::faultLock);
  const FaultSite* s = vmkint::siteLocked(name);
  return (unsigned)(vmkint::callsLocked(s) - s->base);
}

unsigned injectedCount(const std::string& name) {
  std::lock_guard<std::mutex> g(vmkint::faultLock);
  return vmkint::siteLocked(name)->injected;
}

uint64_t nowNs() { return clockNowNs(); }

void setClockRate(double rate) {
  {
    std::lock_guard<std::mutex> g(vmkint::clockLock);
    vmkint::rebaseLocked();
    vmkint::clockRateValue = rate < 0 ? 0 : rate;
  }
  notifyAll();
}

double clockRate() {
  std::lock_guard<std::mutex> g(vmkint::clockLock);
  return vmkint::clockRateValue;
}

void advance(uint64_t ns) {
  {
    std::lock_guard<std::mutex> g(vmkint::clockLock);
    vmkint::clockBaseNs += ns;
  }
  notifyAll();
}

bool waitFor(const std::function<bool()>& done, unsigned realMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

bool Live::allZero() const { return describe().empty(); }

std::string Live::describe() const {
  std::ostringstream o;
  auto add = [&](const char* n, long v) {
    if (v != 0) o << (o.tellp() > 0 ? " " : "") << n << "=" << v;
  };
  add("modules", modules);
  add("memPools", memPools);
  add("poolPages", poolPages);
  add("mappings", mappings);
  add("heaps", heaps);
  add("heapBlocks", heapBlocks);
  add("logComponents", logComponents);
  add("lockDomains", lockDomains);
  add("locks", locks);
  add("drivers", drivers);
  add("hashTables", hashTables);
  add("mgmtHandles", mgmtHandles);
  add("dmaEngines", dmaEngines);
  add("dmaMappings", dmaMappings);
  add("sgHandles", sgHandles);
  add("sgArrays", sgArrays);
  add("barMappings", barMappings);
  add("intrCookies", intrCookies);
  add("intrRegistrations", intrRegistrations);
  add("worlds", worlds);
  add("timers", timers);
  add("childDevices", childDevices);
  add("attachedDevices", attachedDevices);
  add("packets", packets);
  return o.str();
}

Live live() {
  const auto& c = vmkint::counters;
  Live l;
  l.modules = c.modules;
  l.memPools = c.memPools;
  l.poolPages = c.poolPages;
  l.mappings = c.mappings;
  l.heaps = c.heaps;
  l.heapBlocks = vmkint::liveHeapBlocks();
  l.logComponents = c.logComponents;
  l.lockDomains = c.lockDomains;
  l.locks = c.locks;
  l.drivers = c.drivers;
  l.hashTables = c.hashTables;
  l.mgmtHandles = c.mgmtHandles;
  l.dmaEngines = c.dmaEngines;
  l.dmaMappings = vmkint::liveDmaMappings();
  l.sgHandles = c.sgHandles;
  l.sgArrays = c.sgArrays;
  l.barMappings = c.barMappings;
  l.intrCookies = c.intrCookies;
  l.intrRegistrations = c.intrRegistrations;
  l.worlds = c.worlds;
  l.timers = c.timers;
  l.childDevices = c.childDevices;
  l.attachedDevices = c.attachedDevices;
  l.packets = vmkint::livePackets.sum();
  return l;
}

std::vector<LogLine> logLines() {
  std::lock_guard<std::mutex> g(vmkint::logLock);
  const auto& st = vmkint::logStore();
  if (st.ring.size() < vmkint::kLogTail) return st.ring;
  // Oldest first.
  std::vector<LogLine> out;
  out.reserve(st.ring.size());
  size_t start = st.written % vmkint::kLogTail;
  for (size_t i = 0; i < st.ring.size(); i++) out.push_back(st.ring[(start + i) % st.ring.size()]);
  return out;
}

std::vector<std::string> logTexts() {
  std::vector<std::string> out;
  for (auto& l : logLines()) out.push_back(l.text);
  return out;
}

void clearLog() { vmkint::resetLog(); }

size_t logCount(const std::string& needle) {
  std::lock_guard<std::mutex> g(vmkint::logLock);
  size_t n = 0;
  for (auto& [text, count] : vmkint::logStore().counts)
    if (text.find(needle) != std::string::npos) n += count;
  return n;
}

uint64_t logWritten() {
  std::lock_guard<std::mutex> g(vmkint::logLock);
  return vmkint::logStore().written;
}

void setLogEcho(bool on) {
  std::lock_guard<std::mutex> g(vmkint::logLock);
  vmkint::logEcho = on;
}

void reset() {
  vmkint::resetFaults();
  vmkint::resetLog();
  vmkint::resetClock();
  vmkint::resetDevices();
  vmkint::resetModules();
  vmkint::resetLockRules();
  // Each test starts from zero: what an earlier test leaked is its own failure.
  auto& c = vmkint::counters;
  for (auto* n : {&c.modules, &c.memPools, &c.poolPages, &c.mappings, &c.heaps, &c.logComponents,
                  &c.lockDomains, &c.locks, &c.drivers, &c.hashTables, &c.mgmtHandles, &c.dmaEngines,
                  &c.sgHandles, &c.sgArrays, &c.barMappings, &c.intrCookies, &c.intrRegistrations, &c.worlds,
                  &c.timers, &c.childDevices, &c.attachedDevices})
    n->store(0);
  vmkint::rebaseDmaMappings();
  vmkint::rebaseHeapBlocks();
  vmkint::livePackets.rebase();
  vmkint::resetPackets();
}

}  // namespace vmktest

// NetPoll contexts: polls run on one kernel NetPoll thread, one at a time,
// again and again while the callback asks for it.
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "internal.h"
#include "net_internal.h"
#include "vmk_pkt_testing.h"
#include "vmk_uplink_testing.h"

struct vmk_NetPollInt {
  vmk_NetPollProperties props;
  bool queued = false;
  bool running = false;
  bool dead = false;
  bool bound = false;
  bool disabled = false;
  bool pendingWhileDisabled = false;
  unsigned flushes = 0;
  vmk_IntrCookie cookie = VMK_INVALID_INTRCOOKIE;
  unsigned runs = 0;
  // Packets: received ones queued by the poll, those handed to the stack,
  // and the count of transmitted ones completed. Only the poll and the
  // flush touch them, hence a lock of their own.
  std::mutex pktLock;
  vmk_PktList rxPending{nullptr, nullptr, 0};
  vmk_PktList rxDelivered{nullptr, nullptr, 0};
  unsigned completed = 0;
};

namespace {
void flushRx(vmk_NetPoll np) {
  std::lock_guard<std::mutex> g(np->pktLock);
  vmk_PktListAppendList(&np->rxDelivered, &np->rxPending);
}
}  // namespace

namespace vmknet {

std::atomic<long> netpolls{0}, netpollBindings{0}, uplinks{0}, enabledVfs{0};

namespace {
std::mutex pollLock;
std::condition_variable pollCv;
std::deque<vmk_NetPoll> pollQueue;
int pollsRunning = 0;  // pollLock

struct PollThread {
  std::thread thread;
  bool stop = false;
  void ensureStarted() {
    if (!thread.joinable()) thread = std::thread([this] { run(); });
  }
  void run() {
    std::unique_lock<std::mutex> lk(pollLock);
    for (;;) {
      pollCv.wait(lk, [this] { return stop || !pollQueue.empty(); });
      if (stop) return;
      vmk_NetPoll np = pollQueue.front();
      pollQueue.pop_front();
      np->queued = false;
      if (np->dead) {
        pollCv.notify_all();
        continue;
      }
      if (np->disabled) {
        np->pendingWhileDisabled = true;
        pollCv.notify_all();
        continue;
      }
      np->running = true;
      pollsRunning++;
      np->runs++;
      vmk_NetPollProperties props = np->props;
      lk.unlock();
      vmk_Bool again = props.poll(props.priv, VMK_NETPOLL_BUDGET);
      flushRx(np);  // what the poll received goes up when it returns
      lk.lock();
      np->running = false;
      pollsRunning--;
      if (again && !np->dead && !np->queued) {
        np->queued = true;
        pollQueue.push_back(np);
      }
      pollCv.notify_all();
    }
  }
  ~PollThread() {
    {
      std::lock_guard<std::mutex> g(pollLock);
      stop = true;
    }
    pollCv.notify_all();
    if (thread.joinable()) thread.join();
  }
};
PollThread pollThread;
}  // namespace


}  // namespace vmknet

using namespace vmknet;

VMK_ReturnStatus vmk_ServiceGetID(const char* name, vmk_ServiceID* id) {
  VMK_FAULT_POINT("vmk_ServiceGetID");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  if (name == nullptr || id == nullptr) return VMK_BAD_PARAM;
  if (std::string(name) != "net") return VMK_NOT_FOUND;
  *id = 1;
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollCreate(const vmk_NetPollProperties* props, vmk_ServiceID service, vmk_ModuleID,
                                   vmk_NetPoll* netpoll) {
  VMK_FAULT_POINT("vmk_NetPollCreate");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  if (props == nullptr || props->poll == nullptr || netpoll == nullptr || service != 1) return VMK_BAD_PARAM;
  auto* np = new vmk_NetPollInt();
  np->props = *props;
  netpolls++;
  *netpoll = np;
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollDestroy(vmk_NetPoll netpoll) {
  if (netpoll == nullptr) return VMK_BAD_PARAM;
  std::unique_lock<std::mutex> lk(pollLock);
  netpoll->dead = true;
  if (std::this_thread::get_id() != pollThread.thread.get_id())
    pollCv.wait(lk, [&] { return !netpoll->running; });
  for (auto it = pollQueue.begin(); it != pollQueue.end();)
    it = (*it == netpoll) ? pollQueue.erase(it) : it + 1;
  if (netpoll->bound) netpollBindings--;
  netpolls--;
  lk.unlock();
  // Packets the stack did not take go with the NetPoll.
  vmk_PktListReleaseAllPktsPanic(&netpoll->rxPending);
  vmk_PktListReleaseAllPktsPanic(&netpoll->rxDelivered);
  delete netpoll;
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollActivate(vmk_NetPoll netpoll) {
  if (netpoll == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(pollLock);
  if (netpoll->dead) return VMK_INVALID_HANDLE;
  if (!netpoll->queued) {
    netpoll->queued = true;
    pollQueue.push_back(netpoll);
    pollThread.ensureStarted();
    pollCv.notify_all();
  }
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollDisable(vmk_NetPoll netpoll) {
  if (netpoll == nullptr) return VMK_BAD_PARAM;
  std::unique_lock<std::mutex> lk(pollLock);
  netpoll->disabled = true;
  // Returns once a running poll has finished.
  if (std::this_thread::get_id() != pollThread.thread.get_id())
    pollCv.wait(lk, [&] { return !netpoll->running; });
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollEnable(vmk_NetPoll netpoll) {
  if (netpoll == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(pollLock);
  netpoll->disabled = false;
  if (netpoll->pendingWhileDisabled && !netpoll->queued && !netpoll->dead) {
    netpoll->pendingWhileDisabled = false;
    netpoll->queued = true;
    pollQueue.push_back(netpoll);
    pollThread.ensureStarted();
    pollCv.notify_all();
  }
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollFlushRx(vmk_NetPoll netpoll) {
  if (netpoll == nullptr) return VMK_BAD_PARAM;
  {
    std::lock_guard<std::mutex> g(pollLock);
    netpoll->flushes++;
  }
  flushRx(netpoll);
  return VMK_OK;
}

// The panic path polls into the caller's list and releases itself.
static bool refusedInPanic(const char* service) {
  if (!vmkint::panicContext.load(std::memory_order_relaxed)) return false;
  vmkint::kernelRuleBroken(std::string(service) + " in a panic context");
  return true;
}

VMK_ReturnStatus vmk_NetPollRxPktQueue(vmk_NetPoll netpoll, vmk_PktHandle* pkt) {
  VMK_FAULT_RETURN("vmk_NetPollRxPktQueue");
  if (netpoll == nullptr || pkt == nullptr) return VMK_BAD_PARAM;
  if (refusedInPanic("vmk_NetPollRxPktQueue")) return VMK_NOT_SUPPORTED;
  std::lock_guard<std::mutex> g(netpoll->pktLock);
  return vmk_PktListAppendPkt(&netpoll->rxPending, pkt);
}

VMK_ReturnStatus vmk_NetPollQueueCompPkt(vmk_NetPoll netpoll, vmk_PktHandle* pkt) {
  VMK_FAULT_RETURN("vmk_NetPollQueueCompPkt");
  if (netpoll == nullptr || pkt == nullptr) return VMK_BAD_PARAM;
  if (refusedInPanic("vmk_NetPollQueueCompPkt")) return VMK_NOT_SUPPORTED;
  {
    std::lock_guard<std::mutex> g(netpoll->pktLock);
    netpoll->completed++;
  }
  vmk_PktRelease(pkt);  // the stack is done with a completed packet
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollInterruptSet(vmk_NetPoll netpoll, vmk_IntrCookie cookie) {
  VMK_FAULT_POINT("vmk_NetPollInterruptSet");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  if (netpoll == nullptr || cookie == VMK_INVALID_INTRCOOKIE) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(pollLock);
  if (!netpoll->bound) netpollBindings++;
  netpoll->bound = true;
  netpoll->cookie = cookie;
  return VMK_OK;
}

VMK_ReturnStatus vmk_NetPollInterruptUnSet(vmk_NetPoll netpoll) {
  if (netpoll == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(pollLock);
  if (!netpoll->bound) return VMK_NOT_FOUND;
  netpoll->bound = false;
  netpoll->cookie = VMK_INVALID_INTRCOOKIE;
  netpollBindings--;
  return VMK_OK;
}

namespace vmktest {

unsigned netPollRuns(vmk_NetPoll netpoll) {
  std::lock_guard<std::mutex> g(pollLock);
  return netpoll ? netpoll->runs : 0;
}

std::vector<vmk_PktHandle*> netPollTakeRx(vmk_NetPoll netpoll) {
  std::vector<vmk_PktHandle*> out;
  std::lock_guard<std::mutex> g(netpoll->pktLock);
  while (vmk_PktHandle* p = vmk_PktListPopFirstPkt(&netpoll->rxDelivered)) out.push_back(p);
  return out;
}

unsigned netPollCompleted(vmk_NetPoll netpoll) {
  std::lock_guard<std::mutex> g(netpoll->pktLock);
  return netpoll->completed;
}

void netPollDrain() {
  std::unique_lock<std::mutex> lk(pollLock);
  pollCv.wait(lk, [] { return pollQueue.empty() && pollsRunning == 0; });
}

}  // namespace vmktest

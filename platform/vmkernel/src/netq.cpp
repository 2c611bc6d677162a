// The multi-queue layer and the sibling RDMA module (vmk_netq_testing.h).
#include <cstring>
#include <map>
#include <mutex>

#include "internal.h"
#include "vmk_netq_testing.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace vmktest {

namespace {
constexpr uint32_t kMultiQueueCap = 21;
constexpr uint32_t kRdmaKind = 2;
}  // namespace

vmk_UplinkQueueFilter macFilter(const uint8_t mac[6]) {
  vmk_UplinkQueueFilter f;
  std::memset(&f, 0, sizeof f);
  f.filterClass = VMK_UPLINK_QUEUE_FILTER_CLASS_MAC_ONLY;
  std::memcpy(f.mac, mac, 6);
  return f;
}

vmk_UplinkQueueFilter vxlanFilter(const uint8_t innerMac[6], const uint8_t outerMac[6], uint32_t vxlanId) {
  vmk_UplinkQueueFilter f;
  std::memset(&f, 0, sizeof f);
  f.filterClass = VMK_UPLINK_QUEUE_FILTER_CLASS_VXLAN;
  std::memcpy(f.vxlan.innerMAC, innerMac, 6);
  std::memcpy(f.vxlan.outerMAC, outerMac, 6);
  f.vxlan.vxlanID = vxlanId;
  return f;
}

namespace {
// The NetQueue layers of each uplink, for the resets that restore them.
std::mutex registryLock;
std::multimap<vmk_Uplink, NetQueue*> registry;   // registryLock

unsigned restoreAll(vmk_Uplink uplink) {
  std::lock_guard<std::mutex> g(registryLock);
  unsigned refused = 0;
  auto range = registry.equal_range(uplink);
  for (auto it = range.first; it != range.second; ++it) refused += it->second->restore();
  return refused;
}
}  // namespace

NetQueue::NetQueue(vmk_Uplink uplink, vmk_AddrCookie driverData)
    : uplink_(uplink),
      ops_(static_cast<const vmk_UplinkQueueOps*>(uplinkCapOps(uplink, kMultiQueueCap))),
      data_(driverData) {
  std::lock_guard<std::mutex> g(registryLock);
  registry.emplace(uplink_, this);
}

NetQueue::~NetQueue() {
  std::lock_guard<std::mutex> g(registryLock);
  auto range = registry.equal_range(uplink_);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == this) {
      registry.erase(it);
      break;
    }
  }
}

NetQueue::HeldQueue* NetQueue::held(vmk_UplinkQueueID qid) {
  for (HeldQueue& q : queues_)
    if (q.id == qid) return &q;
  return nullptr;
}

const NetQueue::HeldQueue* NetQueue::held(vmk_UplinkQueueID qid) const {
  for (const HeldQueue& q : queues_)
    if (q.id == qid) return &q;
  return nullptr;
}

vmk_UplinkQueueID NetQueue::nowOf(vmk_UplinkQueueID qid) const {
  const HeldQueue* q = held(qid);
  return q != nullptr ? q->now : qid;
}

vmk_UplinkQueueID NetQueue::current(vmk_UplinkQueueID qid) const {
  std::lock_guard<std::mutex> g(mu_);
  return nowOf(qid);
}

VMK_ReturnStatus NetQueue::alloc(vmk_UplinkQueueType type, vmk_UplinkQueueID* qid, vmk_NetPoll* netpoll) {
  std::lock_guard<std::mutex> g(mu_);
  vmk_NetPoll np = nullptr;
  VMK_ReturnStatus st = ops_->queueAlloc(data_, type, qid, netpoll != nullptr ? netpoll : &np);
  if (st == VMK_OK) queues_.push_back({*qid, *qid, type, false, {}, {}});
  return st;
}

VMK_ReturnStatus NetQueue::allocWithFeatures(vmk_UplinkQueueType type, uint32_t features, vmk_UplinkQueueID* qid,
                                             vmk_NetPoll* netpoll) {
  vmk_UplinkQueueAttr attr;
  attr.type = VMK_UPLINK_QUEUE_ATTR_FEAT;
  attr.args.features = features;
  return allocWithAttr(type, {attr}, qid, netpoll);
}

VMK_ReturnStatus NetQueue::allocWithAttr(vmk_UplinkQueueType type, std::vector<vmk_UplinkQueueAttr> attrs,
                                         vmk_UplinkQueueID* qid, vmk_NetPoll* netpoll) {
  std::lock_guard<std::mutex> g(mu_);
  vmk_NetPoll np = nullptr;
  VMK_ReturnStatus st =
      ops_->queueAllocWithAttr(data_, type, static_cast<vmk_uint16>(attrs.size()),
                               attrs.empty() ? nullptr : attrs.data(), qid, netpoll != nullptr ? netpoll : &np);
  if (st == VMK_OK) queues_.push_back({*qid, *qid, type, true, attrs, {}});
  return st;
}

VMK_ReturnStatus NetQueue::free(vmk_UplinkQueueID qid) {
  std::lock_guard<std::mutex> g(mu_);
  VMK_ReturnStatus st = ops_->queueFree(data_, nowOf(qid));
  if (st == VMK_OK) {
    for (auto it = queues_.begin(); it != queues_.end(); ++it) {
      if (it->id == qid) {
        queues_.erase(it);
        break;
      }
    }
  }
  return st;
}

VMK_ReturnStatus NetQueue::quiesce(vmk_UplinkQueueID qid) {
  std::lock_guard<std::mutex> g(mu_);
  return ops_->queueQuiesce(data_, nowOf(qid));
}

VMK_ReturnStatus NetQueue::start(vmk_UplinkQueueID qid) {
  std::lock_guard<std::mutex> g(mu_);
  return ops_->queueStart(data_, nowOf(qid));
}

VMK_ReturnStatus NetQueue::apply(vmk_UplinkQueueID qid, vmk_UplinkQueueFilter filter, vmk_UplinkQueueFilterID* fid,
                                 uint32_t* pair) {
  std::lock_guard<std::mutex> g(mu_);
  vmk_uint32 p = 0;
  vmk_UplinkQueueFilter f = filter;
  VMK_ReturnStatus st = ops_->queueApplyFilter(data_, nowOf(qid), &f, fid, &p);
  if (pair != nullptr) *pair = p;
  HeldQueue* q = held(qid);
  if (st == VMK_OK && q != nullptr) q->filters.push_back({*fid, *fid, filter});
  return st;
}

VMK_ReturnStatus NetQueue::remove(vmk_UplinkQueueID qid, vmk_UplinkQueueFilterID fid) {
  std::lock_guard<std::mutex> g(mu_);
  HeldQueue* q = held(qid);
  vmk_UplinkQueueFilterID now = fid;
  if (q != nullptr) {
    for (const HeldFilter& h : q->filters)
      if (h.id == fid) now = h.now;
  }
  VMK_ReturnStatus st = ops_->queueRemoveFilter(data_, nowOf(qid), now);
  if (st == VMK_OK && q != nullptr) {
    for (auto it = q->filters.begin(); it != q->filters.end(); ++it) {
      if (it->id == fid) {
        q->filters.erase(it);
        break;
      }
    }
  }
  return st;
}

VMK_ReturnStatus NetQueue::stats(vmk_UplinkQueueID qid, vmk_UplinkQueueStats* s) {
  std::lock_guard<std::mutex> g(mu_);
  return ops_->queueStatsGet(data_, nowOf(qid), s);
}

unsigned NetQueue::restore() {
  std::lock_guard<std::mutex> g(mu_);
  unsigned refused = 0;
  for (HeldQueue& q : queues_) {
    vmk_NetPoll np = nullptr;
    vmk_UplinkQueueID now = 0;
    VMK_ReturnStatus st =
        q.withAttr ? ops_->queueAllocWithAttr(data_, q.type, static_cast<vmk_uint16>(q.attrs.size()),
                                              q.attrs.empty() ? nullptr : q.attrs.data(), &now, &np)
                   : ops_->queueAlloc(data_, q.type, &now, &np);
    if (st != VMK_OK) {
      refused += 1 + static_cast<unsigned>(q.filters.size());
      continue;
    }
    q.now = now;
    for (HeldFilter& h : q.filters) {
      vmk_UplinkQueueFilter f = h.filter;
      vmk_uint32 pair = 0;
      vmk_UplinkQueueFilterID fid = 0;
      if (ops_->queueApplyFilter(data_, now, &f, &fid, &pair) == VMK_OK)
        h.now = fid;
      else
        refused++;
    }
  }
  return refused;
}

VMK_ReturnStatus uplinkReset(const vmk_UplinkRegData* regData, vmk_Uplink uplink) {
  VMK_ReturnStatus st = regData->ops.uplinkReset(regData->driverData);
  if (st == VMK_OK) restoreAll(uplink);
  return st;
}

RdmaSibling::RdmaSibling(Lookup lookup, std::string name) : lookup_(std::move(lookup)), name_(std::move(name)) {
  setModulePresent(name_, true);
}

RdmaSibling::~RdmaSibling() { setModulePresent(name_, false); }

uint32_t RdmaSibling::hold(const uint8_t mac[6], uint32_t* index, uint32_t* queue) {
  uint32_t i = 0, q = 0;
  const uint32_t r = lookup_(mac, kRdmaKind, &i, &q);
  if (r != 0) ++held_;
  if (index != nullptr) *index = i;
  if (queue != nullptr) *queue = q;
  return r;
}

}  // namespace vmktest

VMK_ReturnStatus vmk_UplinkQueuesResetNotify(vmk_Uplink uplink) {
  vmkint::mayBlock("vmk_UplinkQueuesResetNotify");
  VMK_FAULT_RETURN("vmk_UplinkQueuesResetNotify");
  if (uplink == nullptr) return VMK_BAD_PARAM;
  vmktest::restoreAll(uplink);
  return VMK_OK;
}

// The multi-queue layer and the sibling RDMA module (vmk_netq_testing.h).
#include <cstring>

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

NetQueue::NetQueue(vmk_Uplink uplink, vmk_AddrCookie driverData)
    : ops_(static_cast<const vmk_UplinkQueueOps*>(uplinkCapOps(uplink, kMultiQueueCap))), data_(driverData) {}

VMK_ReturnStatus NetQueue::alloc(vmk_UplinkQueueType type, vmk_UplinkQueueID* qid, vmk_NetPoll* netpoll) {
  vmk_NetPoll np = nullptr;
  return ops_->queueAlloc(data_, type, qid, netpoll != nullptr ? netpoll : &np);
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
  vmk_NetPoll np = nullptr;
  return ops_->queueAllocWithAttr(data_, type, static_cast<vmk_uint16>(attrs.size()),
                                  attrs.empty() ? nullptr : attrs.data(), qid, netpoll != nullptr ? netpoll : &np);
}

VMK_ReturnStatus NetQueue::free(vmk_UplinkQueueID qid) { return ops_->queueFree(data_, qid); }
VMK_ReturnStatus NetQueue::quiesce(vmk_UplinkQueueID qid) { return ops_->queueQuiesce(data_, qid); }
VMK_ReturnStatus NetQueue::start(vmk_UplinkQueueID qid) { return ops_->queueStart(data_, qid); }

VMK_ReturnStatus NetQueue::apply(vmk_UplinkQueueID qid, vmk_UplinkQueueFilter filter, vmk_UplinkQueueFilterID* fid,
                                 uint32_t* pair) {
  vmk_uint32 p = 0;
  VMK_ReturnStatus st = ops_->queueApplyFilter(data_, qid, &filter, fid, &p);
  if (pair != nullptr) *pair = p;
  return st;
}

VMK_ReturnStatus NetQueue::remove(vmk_UplinkQueueID qid, vmk_UplinkQueueFilterID fid) {
  return ops_->queueRemoveFilter(data_, qid, fid);
}

VMK_ReturnStatus NetQueue::stats(vmk_UplinkQueueID qid, vmk_UplinkQueueStats* s) {
  return ops_->queueStatsGet(data_, qid, s);
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

// Test controls of the kernel stand-in's multi-queue layer (NetQueue): the
// kernel's side of a driver's MULTI_QUEUE operations (queue allocation,
// start, quiesce, receive filters, queue statistics) and the sibling RDMA
// module that shares the NIC's MAC filters. Driver code never includes this
// file.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "vmk_uplink.h"

namespace vmktest {

// Filter records as the NetQueue layer builds them.
vmk_UplinkQueueFilter macFilter(const uint8_t mac[6]);
vmk_UplinkQueueFilter vxlanFilter(const uint8_t innerMac[6], const uint8_t outerMac[6], uint32_t vxlanId);

// The NetQueue layer on one uplink: calls the operations the driver
// registered with capability 21, with the driver data of its registration.
// It holds the queues it allocated and the filters it applied, and after a
// reset of the uplink (vmktest::uplinkReset, or the driver's
// vmk_UplinkQueuesResetNotify) allocates and applies them again. The ids
// it handed out stay valid: it translates them to the driver's new ones.
class NetQueue {
 public:
  NetQueue(vmk_Uplink uplink, vmk_AddrCookie driverData);
  ~NetQueue();
  NetQueue(const NetQueue&) = delete;
  NetQueue& operator=(const NetQueue&) = delete;
  // The driver registered the capability (with an operation table).
  bool supported() const { return ops_ != nullptr; }
  const vmk_UplinkQueueOps& ops() const { return *ops_; }

  VMK_ReturnStatus alloc(vmk_UplinkQueueType type, vmk_UplinkQueueID* qid, vmk_NetPoll* netpoll = nullptr);
  // With one attribute of the features type (the layer's RSS request).
  VMK_ReturnStatus allocWithFeatures(vmk_UplinkQueueType type, uint32_t features, vmk_UplinkQueueID* qid,
                                     vmk_NetPoll* netpoll = nullptr);
  VMK_ReturnStatus allocWithAttr(vmk_UplinkQueueType type, std::vector<vmk_UplinkQueueAttr> attrs,
                                 vmk_UplinkQueueID* qid, vmk_NetPoll* netpoll = nullptr);
  VMK_ReturnStatus free(vmk_UplinkQueueID qid);
  VMK_ReturnStatus quiesce(vmk_UplinkQueueID qid);
  VMK_ReturnStatus start(vmk_UplinkQueueID qid);
  // The paired transmit queue value comes back in *pair (may be NULL).
  VMK_ReturnStatus apply(vmk_UplinkQueueID qid, vmk_UplinkQueueFilter filter, vmk_UplinkQueueFilterID* fid,
                         uint32_t* pair = nullptr);
  VMK_ReturnStatus remove(vmk_UplinkQueueID qid, vmk_UplinkQueueFilterID fid);
  VMK_ReturnStatus stats(vmk_UplinkQueueID qid, vmk_UplinkQueueStats* stats);
  // The driver's id now of a queue this layer handed out.
  vmk_UplinkQueueID current(vmk_UplinkQueueID qid) const;
  // Allocates the held queues and applies their filters again; the number
  // of allocations and applications the driver refused.
  unsigned restore();

 private:
  struct HeldFilter {
    vmk_UplinkQueueFilterID id, now;   // handed out, the driver's now
    vmk_UplinkQueueFilter filter;
  };
  struct HeldQueue {
    vmk_UplinkQueueID id, now;
    vmk_UplinkQueueType type;
    bool withAttr;
    std::vector<vmk_UplinkQueueAttr> attrs;
    std::vector<HeldFilter> filters;
  };
  HeldQueue* held(vmk_UplinkQueueID qid);
  const HeldQueue* held(vmk_UplinkQueueID qid) const;
  vmk_UplinkQueueID nowOf(vmk_UplinkQueueID qid) const;

  vmk_Uplink uplink_ = nullptr;
  const vmk_UplinkQueueOps* ops_ = nullptr;
  vmk_AddrCookie data_{};
  mutable std::mutex mu_;
  std::vector<HeldQueue> queues_;
};

// The sibling RDMA module. While it lives it is loaded (vmk_ModuleGetID
// finds it by name). It holds MAC addresses of its endpoints in the NIC
// driver's MAC filter table through the look-up the NIC driver exports to
// it (kind 2), which answers 0 (no entry: nothing held), 3 (an entry the
// NIC's filters hold) or 4 (an entry it held already).
class RdmaSibling {
 public:
  using Lookup = std::function<uint32_t(const uint8_t* mac, uint32_t kind, uint32_t* index, uint32_t* queue)>;
  explicit RdmaSibling(Lookup lookup, std::string name = "pondrel");
  ~RdmaSibling();
  RdmaSibling(const RdmaSibling&) = delete;
  RdmaSibling& operator=(const RdmaSibling&) = delete;

  // Takes a reference on the MAC: the look-up's answer (index and queue of
  // the entry when found).
  uint32_t hold(const uint8_t mac[6], uint32_t* index = nullptr, uint32_t* queue = nullptr);
  // References taken so far.
  unsigned held() const { return held_; }
  const std::string& name() const { return name_; }

 private:
  Lookup lookup_;
  std::string name_;
  unsigned held_ = 0;
};

}  // namespace vmktest

// Uplinks, capabilities, link state and SR-IOV as the
// network stack and the PCI layer offer them to a driver.
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "internal.h"
#include "net_internal.h"
#include "vmk_pkt_testing.h"
#include "vmk_uplink_testing.h"

struct vmk_UplinkInt {
  std::string name;
  std::vector<uint32_t> caps;
  std::map<uint32_t, const void*> capOps;
  std::vector<std::string> netpollNames;
  vmk_LinkStatus link{};
  unsigned linkReports = 0;
  vmk_uint32 watchdogMs = 0;
  std::vector<vmk_uint32> watchdogHistory;
  std::map<uint32_t, int> queueState;  // 1 started, 0 stopped
  std::map<uint32_t, unsigned> queueStops;
};

namespace {
std::mutex netLock;
uint32_t hostQueueLimit = 16;
// Read on the packet paths (header look-ups), hence no lock.
std::atomic<uint16_t> kernelVxlanPort{0};
uint16_t vfLimit = 64;
std::map<vmk_PCIDevice, unsigned> vfs;                    // netLock
}  // namespace

using namespace vmknet;

VMK_ReturnStatus vmk_UplinkNameGet(vmk_Uplink uplink, vmk_Name* name) {
  if (uplink == nullptr || name == nullptr) return VMK_BAD_PARAM;
  return vmk_NameInitialize(name, uplink->name.c_str());
}

VMK_ReturnStatus vmk_UplinkCapRegister(vmk_Uplink uplink, vmk_uint32 cap, const void* ops) {
  VMK_FAULT_POINT("vmk_UplinkCapRegister");
  if (uplink == nullptr) return VMK_BAD_PARAM;
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  std::lock_guard<std::mutex> g(netLock);
  for (auto c : uplink->caps)
    if (c == cap) return VMK_EXISTS;
  uplink->caps.push_back(cap);
  uplink->capOps[cap] = ops;
  return VMK_OK;
}

VMK_ReturnStatus vmk_UplinkUpdateLinkState(vmk_Uplink uplink, const vmk_LinkStatus* status) {
  // The network stack takes its own locks and may block to tell its clients.
  vmkint::mayBlock("vmk_UplinkUpdateLinkState");
  VMK_FAULT_POINT("vmk_UplinkUpdateLinkState");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  if (uplink == nullptr || status == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(netLock);
  uplink->link = *status;
  uplink->linkReports++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_UplinkNetPollRegister(vmk_Uplink uplink, vmk_NetPoll netpoll, const char* name, vmk_Bool) {
  VMK_FAULT_POINT("vmk_UplinkNetPollRegister");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  if (uplink == nullptr || netpoll == nullptr || name == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(netLock);
  uplink->netpollNames.push_back(name);
  return VMK_OK;
}

VMK_ReturnStatus vmk_UplinkQueueSupportQuery(vmk_uint32 txQueues, vmk_uint32 rxQueues, vmk_uint32* txSupported,
                                             vmk_uint32* rxSupported) {
  VMK_FAULT_POINT("vmk_UplinkQueueSupportQuery");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  if (txSupported == nullptr || rxSupported == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(netLock);
  *txSupported = txQueues < hostQueueLimit ? txQueues : hostQueueLimit;
  *rxSupported = rxQueues < hostQueueLimit ? rxQueues : hostQueueLimit;
  return VMK_OK;
}

vmk_uint16 vmk_UplinkVXLANPortNBOGet(void) {
  uint16_t port = kernelVxlanPort.load(std::memory_order_relaxed);
  return (vmk_uint16)((port >> 8) | (port << 8));
}

VMK_ReturnStatus vmk_UplinkWatchdogTimeoutSet(vmk_Uplink uplink, vmk_uint32 timeoutMS) {
  VMK_FAULT_RETURN("vmk_UplinkWatchdogTimeoutSet");
  if (uplink == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(netLock);
  uplink->watchdogMs = timeoutMS;
  if (uplink->watchdogHistory.size() == 64) uplink->watchdogHistory.erase(uplink->watchdogHistory.begin());
  uplink->watchdogHistory.push_back(timeoutMS);
  return VMK_OK;
}

static VMK_ReturnStatus queueNotice(vmk_Uplink uplink, vmk_uint32 queueID, int state) {
  if (uplink == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(netLock);
  uplink->queueState[queueID] = state;
  if (state == 0) uplink->queueStops[queueID]++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_UplinkQueueStart(vmk_Uplink uplink, vmk_uint32 queueID) {
  VMK_FAULT_RETURN("vmk_UplinkQueueStart");
  return queueNotice(uplink, queueID, 1);
}

VMK_ReturnStatus vmk_UplinkQueueStop(vmk_Uplink uplink, vmk_uint32 queueID) {
  VMK_FAULT_RETURN("vmk_UplinkQueueStop");
  return queueNotice(uplink, queueID, 0);
}

VMK_ReturnStatus vmk_PCIEnableVFs(vmk_ModuleID, vmk_PCIDevice pf, vmk_uint16* numVfs) {
  VMK_FAULT_POINT("vmk_PCIEnableVFs");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  if (pf == nullptr || numVfs == nullptr || *numVfs == 0) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(netLock);
  if (vfs.count(pf)) return VMK_BUSY;
  unsigned n = *numVfs < vfLimit ? *numVfs : vfLimit;
  if (n == 0) return VMK_NO_RESOURCES;
  vfs[pf] = n;
  enabledVfs += n;
  *numVfs = (vmk_uint16)n;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PCIDisableVFs(vmk_ModuleID, vmk_PCIDevice pf) {
  VMK_FAULT_POINT("vmk_PCIDisableVFs");
  if (vmk_faultStatus_ != VMK_OK) return vmk_faultStatus_;
  // The VF devices go first, through their drivers' remove operations.
  vfDevicesRemove(pf);
  std::lock_guard<std::mutex> g(netLock);
  auto it = vfs.find(pf);
  if (it == vfs.end()) return VMK_NOT_FOUND;
  enabledVfs -= it->second;
  vfs.erase(it);
  return VMK_OK;
}

namespace vmktest {

bool NetLive::allZero() const {
  return netpolls == 0 && netpollBindings == 0 && uplinks == 0 && enabledVfs == 0 && vfDevices == 0;
}

std::string NetLive::describe() const {
  std::ostringstream os;
  if (netpolls) os << "netpolls=" << netpolls << " ";
  if (netpollBindings) os << "netpollBindings=" << netpollBindings << " ";
  if (uplinks) os << "uplinks=" << uplinks << " ";
  if (enabledVfs) os << "enabledVfs=" << enabledVfs << " ";
  if (vfDevices) os << "vfDevices=" << vfDevices << " ";
  return os.str();
}

NetLive netLive() {
  NetLive l;
  l.netpolls = vmknet::netpolls;
  l.netpollBindings = vmknet::netpollBindings;
  l.uplinks = vmknet::uplinks;
  l.enabledVfs = vmknet::enabledVfs;
  l.vfDevices = vmknet::vfDevices;
  return l;
}

void netReset() {
  std::lock_guard<std::mutex> g(netLock);
  hostQueueLimit = 16;
  kernelVxlanPort.store(0);
  vfLimit = 64;
}

void setHostQueueLimit(uint32_t queues) {
  std::lock_guard<std::mutex> g(netLock);
  hostQueueLimit = queues;
}
void setKernelVxlanPort(uint16_t port) { kernelVxlanPort.store(port, std::memory_order_relaxed); }
void setVfLimit(uint16_t n) {
  std::lock_guard<std::mutex> g(netLock);
  vfLimit = n;
}

VMK_ReturnStatus uplinkAssociate(const vmk_UplinkRegData* regData, const std::string& name, vmk_Uplink* uplink) {
  if (regData == nullptr || regData->ops.uplinkAssociate == nullptr || uplink == nullptr) return VMK_BAD_PARAM;
  auto* u = new vmk_UplinkInt();
  u->name = name;
  vmknet::uplinks++;
  *uplink = u;
  return regData->ops.uplinkAssociate(regData->driverData, u);
}

VMK_ReturnStatus uplinkDisassociate(const vmk_UplinkRegData* regData, vmk_Uplink uplink) {
  if (regData == nullptr || uplink == nullptr) return VMK_BAD_PARAM;
  VMK_ReturnStatus st =
      regData->ops.uplinkDisassociate ? regData->ops.uplinkDisassociate(regData->driverData) : VMK_NOT_SUPPORTED;
  delete uplink;
  vmknet::uplinks--;
  return st;
}

std::vector<uint32_t> uplinkCapabilities(vmk_Uplink uplink) {
  std::lock_guard<std::mutex> g(netLock);
  return uplink->caps;
}
const void* uplinkCapOps(vmk_Uplink uplink, uint32_t cap) {
  std::lock_guard<std::mutex> g(netLock);
  auto it = uplink->capOps.find(cap);
  return it == uplink->capOps.end() ? nullptr : it->second;
}
std::vector<std::string> uplinkNetPollNames(vmk_Uplink uplink) {
  std::lock_guard<std::mutex> g(netLock);
  return uplink->netpollNames;
}
vmk_LinkStatus uplinkLinkState(vmk_Uplink uplink) {
  std::lock_guard<std::mutex> g(netLock);
  return uplink->link;
}
unsigned uplinkLinkReports(vmk_Uplink uplink) {
  std::lock_guard<std::mutex> g(netLock);
  return uplink->linkReports;
}
int uplinkQueueState(vmk_Uplink uplink, uint32_t queueID) {
  std::lock_guard<std::mutex> g(netLock);
  auto it = uplink->queueState.find(queueID);
  return it == uplink->queueState.end() ? -1 : it->second;
}
unsigned uplinkQueueStops(vmk_Uplink uplink, uint32_t queueID) {
  std::lock_guard<std::mutex> g(netLock);
  auto it = uplink->queueStops.find(queueID);
  return it == uplink->queueStops.end() ? 0 : it->second;
}
uint32_t uplinkWatchdogMs(vmk_Uplink uplink) {
  std::lock_guard<std::mutex> g(netLock);
  return uplink->watchdogMs;
}
std::vector<uint32_t> uplinkWatchdogHistory(vmk_Uplink uplink) {
  std::lock_guard<std::mutex> g(netLock);
  return uplink->watchdogHistory;
}
unsigned enabledVfs(vmk_PCIDevice pf) {
  std::lock_guard<std::mutex> g(netLock);
  auto it = vfs.find(pf);
  return it == vfs.end() ? 0 : it->second;
}

}  // namespace vmktest

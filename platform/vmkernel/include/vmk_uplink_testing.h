// Test controls of the network services of the kernel stand-in
// (vmk_uplink.h): playing the network stack towards a driver's uplink,
// accounting of live objects, and the host limits the services answer with.
// Driver code never includes this file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vmk_uplink.h"

namespace vmktest {

struct NetLive {
  long netpolls = 0;
  long netpollBindings = 0;
  long uplinks = 0;
  long enabledVfs = 0;
  long vfDevices = 0;   // VF devices registered by PF drivers

  bool allZero() const;
  std::string describe() const;
};
NetLive netLive();

// Forgets settings and recorded calls (not live objects).
void netReset();

// Host limits: CPUs (queues per direction the kernel allows; default 16), the
// kernel's VXLAN port in host order (default 0), VFs the kernel may enable
// (default 64).
void setHostQueueLimit(uint32_t queues);
void setKernelVxlanPort(uint16_t port);
void setVfLimit(uint16_t vfs);

// Plays the network stack: creates an uplink named `name` for the logical
// device registered with `regData` and calls the driver's associate.
VMK_ReturnStatus uplinkAssociate(const vmk_UplinkRegData* regData, const std::string& name, vmk_Uplink* uplink);
// Plays the stack's reset of an uplink: calls the driver's uplink reset
// and, when it succeeds, has the multi-queue layer allocate its queues and
// apply its filters again (vmktest::NetQueue).
VMK_ReturnStatus uplinkReset(const vmk_UplinkRegData* regData, vmk_Uplink uplink);
// Calls the driver's disassociate and forgets the uplink.
VMK_ReturnStatus uplinkDisassociate(const vmk_UplinkRegData* regData, vmk_Uplink uplink);
// What the driver registered on an uplink.
std::vector<uint32_t> uplinkCapabilities(vmk_Uplink uplink);
// The operation table a capability was registered with (NULL: none).
const void* uplinkCapOps(vmk_Uplink uplink, uint32_t cap);
std::vector<std::string> uplinkNetPollNames(vmk_Uplink uplink);
// Last link status the driver reported, and how many reports there were.
vmk_LinkStatus uplinkLinkState(vmk_Uplink uplink);
unsigned uplinkLinkReports(vmk_Uplink uplink);
// Runs of a NetPoll's callback so far.
unsigned netPollRuns(vmk_NetPoll netpoll);
// Waits until no NetPoll is queued or running.
void netPollDrain();
// VFs enabled for a physical function.
unsigned enabledVfs(vmk_PCIDevice pf);
// VF devices the PF's driver registered and has not unregistered.
unsigned registeredVfs(vmk_PCIDevice pf);
// Plays the kernel's configuration request `op` (VMK_NETPTOP_VF_*) for VF
// `vfIndex` of a PF: calls the VF device's private data, the PF driver's
// vmk_PCIVFConfigCallback, with the PF's attached driver data and `params`
// (the op's parameter record). VMK_NOT_FOUND when that VF device is not
// registered or has no callback.
VMK_ReturnStatus vfConfigRequest(vmk_PCIDevice pf, uint16_t vfIndex, uint32_t op, void* params);

}  // namespace vmktest

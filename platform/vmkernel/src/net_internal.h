// Internals shared by the network-service files of the kernel stand-in.
#pragma once

#include <atomic>

#include "vmk_uplink.h"

namespace vmknet {

extern std::atomic<long> netpolls, netpollBindings, uplinks, enabledVfs;

// SR-IOV (sriov.cpp). VF devices registered and not yet unregistered.
extern std::atomic<long> vfDevices;
// PCI objects of a VF (device.cpp): no BARs and no configuration space of
// their own.
vmk_PCIDevice newVfPciDevice();
void deleteVfPciDevice(vmk_PCIDevice vf);
// The driver data attached to a PF's device (NULL when none is attached).
vmk_AddrCookie pfDriverData(vmk_PCIDevice pf);
// The kernel takes the VF devices of a PF away before it disables its VFs:
// each registered one's removeVF is called; then the VF objects go.
void vfDevicesRemove(vmk_PCIDevice pf);

}  // namespace vmknet
